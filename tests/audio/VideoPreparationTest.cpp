#include "VideoPreparation.h"

#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "FileLock.h"
#include "TestSupport.h"

namespace tamsel {
namespace {

using test::ReadBytes;
using test::RecordingPrompts;
using test::TempDir;
using test::WriteBytes;

TEST(ChooseVariant, TakesTheBestThatFitsTheLimit) {
  struct Case {
    int64_t seconds;
    int item;
    int channels, rate;
  } cases[] = {
      {5401, 0, 1, 6000},   // 90 minutes under 67 MB
      {5401, 1, 1, 24000},  // under 268 MB
      {601, 1, 2, 48000},   // 10 minutes
      {16777, 2, 1, 2000},  // nothing fits 33 MB: the fallback
      {3, 1, 2, 48000},
  };
  for (const auto& c : cases) {
    const auto& v = ConverterVariants()[ChooseVariant(c.seconds, SizeLimitMegabytes(c.item))];
    EXPECT_EQ(v.Channels, c.channels) << c.seconds << " " << c.item;
    EXPECT_EQ(v.Rate, c.rate) << c.seconds << " " << c.item;
  }
  EXPECT_EQ(SizeLimitMegabytes(0), 67);
  EXPECT_EQ(SizeLimitMegabytes(1), 268);
  EXPECT_EQ(SizeLimitMegabytes(2), 33);
}

/// Makes a short video with ffmpeg's own generators: a test picture and a beeping tone.
bool MakeVideo(const std::string& path, double seconds, bool withSound) {
  std::vector<std::string> args = {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                   "testsrc=size=160x120:rate=10:duration=" +
                                       std::to_string(seconds)};
  if (withSound) {
    args.insert(args.end(), {"-f", "lavfi", "-i",
                             "sine=frequency=440:beep_factor=4:duration=" + std::to_string(seconds)});
  }
  args.insert(args.end(), {"-c:v", "mpeg4", "-shortest", "file:" + path});
  return RunProcess(FindProgram("ffmpeg"), args).exitCode == 0;
}

struct Prepared {
  TempDir dir;
  RecordingPrompts prompts;
  EditorState st;
  std::vector<int> positions;
  Prepared() { st.Prompts = &prompts; }
  bool Open(const std::string& video) {
    return OpenVideoClick(st, video, [this](const std::string&, int p) { positions.push_back(p); });
  }
};

TEST(OpenVideoClick, PreparesAVideoWhateverItsPathHolds) {
  if (FindProgram("ffmpeg").empty()) GTEST_SKIP() << "ffmpeg is not installed";
  Prepared p;
  const std::string folder = p.dir.Path("my.films 电影");
  std::filesystem::create_directories(ToPath(folder));
  const std::string video = folder + "/-第1集 \"it's\".mp4";
  ASSERT_TRUE(MakeVideo(video, 4.0, true));
  ASSERT_TRUE(p.Open(video)) << (p.prompts.messages.empty() ? "" : p.prompts.messages[0]);
  const std::string base = folder + "/-第1集 \"it's\"";
  for (const char* ext : {".wav", ".ws", ".ai", ".ass"}) {
    EXPECT_TRUE(FileExists(base + ext)) << ext;
  }
  EXPECT_FALSE(FileExists(base + ".wav.part"));
  // The canonical header: fmt of 16 bytes, the data chunk right behind it.
  const std::string wav = ReadBytes(base + ".wav");
  ASSERT_GT(wav.size(), 44u);
  EXPECT_EQ(wav.substr(12, 8), std::string("fmt \x10\0\0\0", 8));
  EXPECT_EQ(wav.substr(36, 4), "data");
  EXPECT_EQ(p.st.WavChannels, 2);
  EXPECT_EQ(p.st.SamplesPerSlot, 480);
  EXPECT_TRUE(p.st.Pictures.ImageReadyGo);
  EXPECT_EQ(p.st.Caption, base + ".ass　—　Tamsel时间轴 V1.0 beta9");
  EXPECT_TRUE(p.prompts.messages.empty());
  EXPECT_TRUE(std::is_sorted(p.positions.begin(), p.positions.end() - 1));

  // Opening it again runs neither the converter nor the builder.
  const auto wavTime = std::filesystem::last_write_time(ToPath(base + ".wav"));
  const auto wsTime = std::filesystem::last_write_time(ToPath(base + ".ws"));
  EditorState again;
  again.Prompts = &p.prompts;
  ASSERT_TRUE(OpenVideoClick(again, video, [](const std::string&, int) {}));
  EXPECT_EQ(std::filesystem::last_write_time(ToPath(base + ".wav")), wavTime);
  EXPECT_EQ(std::filesystem::last_write_time(ToPath(base + ".ws")), wsTime);
}

TEST(OpenVideoClick, AFailedExtractionTellsWhyAndLeavesNoWav) {
  if (FindProgram("ffmpeg").empty()) GTEST_SKIP() << "ffmpeg is not installed";
  Prepared p;
  const std::string video = p.dir.Path("silent.mp4");
  ASSERT_TRUE(MakeVideo(video, 4.0, /*withSound=*/false));
  EXPECT_FALSE(p.Open(video));
  ASSERT_EQ(p.prompts.messages.size(), 1u);
  EXPECT_EQ(p.prompts.messages[0].rfind(p.dir.Path("silent.wav") + "无法生成，请手工转换。\r", 0), 0u)
      << p.prompts.messages[0];
  EXPECT_FALSE(FileExists(p.dir.Path("silent.wav")));
  EXPECT_FALSE(FileExists(p.dir.Path("silent.wav.part")));
  EXPECT_FALSE(p.st.Pictures.ImageReadyGo);
  EXPECT_TRUE(p.st.Pictures.ImageVideoNon);
}

TEST(OpenVideoClick, RefusesWhatIsNoVideo) {
  if (FindProgram("ffmpeg").empty()) GTEST_SKIP() << "ffmpeg is not installed";
  Prepared p;
  WriteBytes(p.dir.Path("notes.mp4"), "just some text, not a video at all");
  EXPECT_FALSE(p.Open(p.dir.Path("notes.mp4")));
  ASSERT_EQ(p.prompts.messages.size(), 1u);
  EXPECT_EQ(p.prompts.messages[0].rfind("视频文件无法识别，请升级解码器。", 0), 0u);

  Prepared shortOne;
  ASSERT_TRUE(MakeVideo(shortOne.dir.Path("blink.mp4"), 0.5, true));
  EXPECT_FALSE(shortOne.Open(shortOne.dir.Path("blink.mp4")));
  ASSERT_EQ(shortOne.prompts.messages.size(), 1u);
  EXPECT_EQ(shortOne.prompts.messages[0],
            "视频长度为:1秒？\r无法识别视频文件，请升级或者安装视频解码器。");
  EXPECT_FALSE(FileExists(shortOne.dir.Path("blink.wav")));

  Prepared none;
  EXPECT_FALSE(none.Open(none.dir.Path("missing.mp4")));
  EXPECT_TRUE(none.prompts.messages.empty());
  EXPECT_EQ(none.st.Caption, "Tamsel时间轴 V1.0 beta9");
}

TEST(OpenVideoClick, OnePreparationOfAVideoAtATime) {
  // Another process prepares the video (its lock is held): this one says so and touches
  // nothing; once the lock is let go, the lock file goes with it.
  Prepared p;
  const std::string video = p.dir.Path("v.mp4");
  WriteBytes(video, "not looked at while the video is locked");
  {
    FileLock other;
    ASSERT_TRUE(other.TryLock(p.dir.Path("v.lock")));
    EXPECT_FALSE(p.Open(video));
    ASSERT_EQ(p.prompts.messages.size(), 1u);
    EXPECT_EQ(p.prompts.messages[0], video + "\r另一个程序正在准备这个视频，请等它完成后再试。");
    EXPECT_FALSE(p.st.Pictures.ImageReadyGo);
  }
  size_t count = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(ToPath(p.dir.Path()))) {
    ++count;
  }
  EXPECT_EQ(count, 1u);  // the video alone
}

}  // namespace
}  // namespace tamsel
