#include "DemoVideo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "ChildProcess.h"
#include "FileIo.h"
#include "SubtitleLoad.h"
#include "TestSupport.h"
#include "VideoPreparation.h"

namespace tamsel {
namespace {

bool HaveTools() { return !FindProgram("ffmpeg").empty() && !FindProgram("espeak-ng").empty(); }

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(ToPath(folder))) {
    names.push_back(FromPath(e.path().filename()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

/// Runs of loud slots in a .ws envelope (two signed bytes per slot, the envelope's top and
/// bottom) separated by at least `gapSlots` quiet ones.
int SpeechSegments(const std::string& ws, int threshold, int gapSlots) {
  int segments = 0, quiet = gapSlots;
  for (size_t k = 0; k + 1 < ws.size(); k += 2) {
    const int level = std::max(std::abs(int(int8_t(ws[k]))), std::abs(int(int8_t(ws[k + 1]))));
    if (level > threshold) {
      if (quiet >= gapSlots) ++segments;
      quiet = 0;
    } else {
      ++quiet;
    }
  }
  return segments;
}

TEST(MakeDemoVideo, ASpokenVideoAndItsScriptThatTheEditorTurnsIntoSubtitles) {
  if (!HaveTools()) GTEST_SKIP() << "ffmpeg or espeak-ng is not installed";
  test::TempDir dir;
  const std::string folder = dir.Path("我的 示例");
  std::string error;
  const auto video = MakeDemoVideo(folder, error);
  ASSERT_TRUE(video) << error;
  EXPECT_EQ(*video, folder + "/示例.mp4");
  // Nothing but the video and its script: the scratch folder is gone.
  EXPECT_EQ(Entries(folder), (std::vector<std::string>{"示例.mp4", "示例.txt"}));
  std::string why;
  const auto seconds = ProbeDuration(*video, why);
  ASSERT_TRUE(seconds) << why;
  EXPECT_GT(*seconds, 20);
  EXPECT_LT(*seconds, 75);
  std::string script;
  for (const auto& s : DemoSentences()) script += s + "\r\n";
  EXPECT_EQ(test::ReadBytes(folder + "/示例.txt"), script);

  // Prepared as the editor prepares it: one subtitle per sentence, one speech segment each.
  test::RecordingPrompts prompts;
  EditorState st;
  st.Prompts = &prompts;
  ASSERT_TRUE(OpenVideoClick(st, *video, [](const std::string&, int) {}))
      << ::testing::PrintToString(prompts.messages);
  ASSERT_EQ(st.Subs.size(), DemoSentences().size());
  EXPECT_EQ(SpeechSegments(test::ReadBytes(folder + "/示例.ws"), 8, 60),
            static_cast<int>(DemoSentences().size()));
}

TEST(MakeDemoVideo, NeverReplacesWhatIsThere) {
  if (!HaveTools()) GTEST_SKIP() << "ffmpeg or espeak-ng is not installed";
  test::TempDir dir;
  test::WriteBytes(dir.Path("示例.mp4"), "mine");
  test::WriteBytes(dir.Path("示例2.srt"), "also mine");
  std::string error;
  const auto video = MakeDemoVideo(dir.Path(), error);
  ASSERT_TRUE(video) << error;
  EXPECT_EQ(*video, dir.Path("示例3.mp4"));
  EXPECT_EQ(test::ReadBytes(dir.Path("示例.mp4")), "mine");
  EXPECT_EQ(test::ReadBytes(dir.Path("示例2.srt")), "also mine");
  EXPECT_TRUE(FileExists(dir.Path("示例3.txt")));
}

TEST(MakeDemoVideo, ACancelLeavesNothingAndAnUnwritableFolderIsNamed) {
  if (!HaveTools()) GTEST_SKIP() << "ffmpeg or espeak-ng is not installed";
  test::TempDir dir;
  CancelFlag cancel{true};
  std::string error;
  EXPECT_FALSE(MakeDemoVideo(dir.Path("d"), error, &cancel));
  EXPECT_EQ(error, "");
  EXPECT_TRUE(Entries(dir.Path("d")).empty());

  test::WriteBytes(dir.Path("file"), "");
  EXPECT_FALSE(MakeDemoVideo(dir.Path("file/d"), error));
  EXPECT_NE(error.find(dir.Path("file/d")), std::string::npos) << error;
}

}  // namespace
}  // namespace tamsel
