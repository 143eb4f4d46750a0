#include "DemoVideo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "ChildProcess.h"
#include "FileIo.h"
#include "TestSupport.h"
#include "TextCodec.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace tamsel::test {
namespace {

namespace fs = std::filesystem;

bool HaveTools() {
  return !FindProgram("ffmpeg").empty() && !FindProgram("ffprobe").empty() &&
         !FindProgram("espeak-ng").empty();
}

#define REQUIRE_TOOLS() \
  if (!HaveTools()) GTEST_SKIP() << "ffmpeg, ffprobe or espeak-ng missing"

/// The names in a folder, sorted.
std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(ToPath(folder), ec), end; !ec && it != end; it.increment(ec)) {
    names.insert(FromPath(it->path().filename()));
  }
  return names;
}

/// Whether a name begins with `prefix`.
bool StartsWith(const std::string& name, const std::string& prefix) {
  return name.compare(0, prefix.size(), prefix) == 0;
}

/// What ffprobe says of a file's streams and length, one "key=value" a line.
std::string Probe(const std::string& path) {
  const ProcessResult r = RunProcess(
      FindProgram("ffprobe"), {"-v", "error", "-show_entries",
                               "stream=codec_type,width,height,r_frame_rate:format=duration", "-of",
                               "default=noprint_wrappers=1", "file:" + path});
  EXPECT_EQ(r.exitCode, 0) << r.errors;
  return r.output;
}

/// The value of `key` in ffprobe's output ("" when absent).
std::string Value(const std::string& probe, const std::string& key) {
  const size_t at = probe.find(key + "=");
  if (at == std::string::npos) return "";
  const size_t from = at + key.size() + 1;
  return probe.substr(from, probe.find('\n', from) - from);
}

/// A stretch of sound, in milliseconds.
struct Segment {
  int begin, end;
};

/// The stretches of sound in a video's track: its sound as 8 kHz mono, cut into 10 ms blocks;
/// a block is sound when its level is above -40 dB of full scale, and stretches closer than
/// 400 ms are one (the short stops inside a spoken sentence).
std::vector<Segment> SoundSegments(const std::string& video, int& lengthMs) {
  const ProcessResult r =
      RunProcess(FindProgram("ffmpeg"), {"-nostdin", "-v", "error", "-i", "file:" + video, "-vn",
                                         "-ac", "1", "-ar", "8000", "-f", "s16le", "-"});
  EXPECT_EQ(r.exitCode, 0) << r.errors;
  const std::string& pcm = r.output;
  const size_t block = 80;  // samples in 10 ms
  const size_t blocks = pcm.size() / 2 / block;
  lengthMs = static_cast<int>(blocks * 10);
  std::vector<Segment> segments;
  for (size_t b = 0; b < blocks; ++b) {
    double sum = 0;
    for (size_t i = 0; i < block; ++i) {
      const size_t at = 2 * (b * block + i);
      const auto s = static_cast<int16_t>(static_cast<uint16_t>(
          static_cast<unsigned char>(pcm[at]) | (static_cast<unsigned char>(pcm[at + 1]) << 8)));
      sum += static_cast<double>(s) * s;
    }
    if (std::sqrt(sum / block) < 32768 * 0.01) continue;
    const int ms = static_cast<int>(b * 10);
    if (!segments.empty() && ms - segments.back().end < 400) {
      segments.back().end = ms + 10;
    } else {
      segments.push_back({ms, ms + 10});
    }
  }
  return segments;
}

/// The processes whose parent we are (Linux; elsewhere none are seen).
int ChildProcesses() {
  int children = 0;
#ifdef __linux__
  const std::string self = std::to_string(getpid());
  std::error_code ec;
  for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
    std::ifstream stat(it->path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // pid (name) state ppid …: the name may hold spaces, so read after its closing bracket.
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 1));
    std::string state, ppid;
    rest >> state >> ppid;
    if (ppid == self) ++children;
  }
#endif
  return children;
}

std::string DemoText(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  return text;
}

/// Waits (at most a minute) until an entry of `folder` beginning with `prefix` appears and,
/// when `file` is given, holds a non-empty file of that name. Returns its path or "".
std::string WaitForWork(const std::string& folder, const std::string& prefix,
                        const std::string& file = "") {
  for (int i = 0; i < 6000; ++i) {
    for (const auto& name : Names(folder)) {
      if (!StartsWith(name, prefix)) continue;
      const std::string work = FromPath(ToPath(folder) / ToPath(name));
      if (file.empty()) return work;
      if (FileSizeOf(FromPath(ToPath(work) / file)).value_or(0) > 0) return work;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return "";
}

// --- the naming rule ---

TEST(FreeDemoBase, TakesTheFirstNameNothingInTheFolderBeginsWith) {
  struct Case {
    std::vector<std::string> files;
    std::vector<std::string> folders;
    std::string expected;
  };
  const Case cases[] = {
      {{}, {}, "示例"},
      {{"示例.mp4"}, {}, "示例2"},
      {{"示例.txt"}, {}, "示例2"},
      {{"示例.wav"}, {}, "示例2"},              // a side file of a video that was removed
      {{"示例.ass"}, {}, "示例2"},              // its subtitles
      {{"示例.mp4.part-x1y2z3"}, {}, "示例2"},  // anything of that name's
      {{}, {"示例.part-a1b2c3"}, "示例2"},      // a demo being made
      {{"示例.mp4", "示例2.txt"}, {}, "示例3"},
      {{"示例.mp4", "示例3.mp4"}, {}, "示例2"},
      {{"示例2.mp4"}, {}, "示例"},
      {{"示例1.mp4", "示例视频.mp4", "示例"}, {"示例x"}, "示例"},  // other names do not count
  };
  for (const auto& c : cases) {
    TempDir dir;
    for (const auto& f : c.files) WriteBytes(dir.Path(f), "mine");
    for (const auto& f : c.folders) fs::create_directory(ToPath(dir.Path(f)));
    EXPECT_EQ(FreeDemoBase(dir.Path()), dir.Path(c.expected)) << ::testing::PrintToString(c.files);
  }
}

TEST(FreeDemoBase, AMissingFolderIsFree) {
  TempDir dir;
  EXPECT_EQ(FreeDemoBase(dir.Path("新文件夹")),
            FromPath(ToPath(dir.Path("新文件夹")) / ToPath("示例")));
}

TEST(DefaultDemoFolder, IsTamselDemoInTheHomeFolder) {
#ifdef _WIN32
  const wchar_t* home = _wgetenv(L"USERPROFILE");
  ASSERT_TRUE(home);
  EXPECT_EQ(DefaultDemoFolder(), FromPath(fs::path(home) / ToPath("Tamsel示例")));
#else
  const char* home = std::getenv("HOME");
  if (!home || !*home) GTEST_SKIP() << "no HOME";
  EXPECT_EQ(DefaultDemoFolder(), FromPath(ToPath(home) / ToPath("Tamsel示例")));
  // Without a home folder, the temporary folder.
  const std::string saved = home;
  unsetenv("HOME");
  EXPECT_EQ(DefaultDemoFolder(), FromPath(fs::temp_directory_path() / ToPath("Tamsel示例")));
  setenv("HOME", saved.c_str(), 1);
#endif
}

TEST(DemoSentences, OneShortSentenceForEachPause) {
  const auto& sentences = DemoSentences();
  EXPECT_GE(sentences.size(), 6u);
  EXPECT_LE(sentences.size(), 10u);
  ASSERT_EQ(DemoPausesMs().size(), sentences.size());
  for (const auto& s : sentences) {
    EXPECT_TRUE(IsValidUtf8(s)) << s;
    EXPECT_EQ(s.find_first_of("\r\n"), std::string::npos) << s;
    EXPECT_LE(Utf8Length(s), 14u) << s;
  }
  for (const int pause : DemoPausesMs()) {
    EXPECT_GE(pause, 1000);
    EXPECT_LE(pause, 3000);
  }
}

// --- the video itself ---

TEST(MakeDemoVideo, MakesAVideoWhoseSpeechBlocksMatchItsScript) {
  REQUIRE_TOOLS();
  TempDir dir;
  const std::string folder = dir.Path("我的 示例");  // made by the call
  std::string error;
  const auto start = std::chrono::steady_clock::now();
  const auto video = MakeDemoVideo(folder, error);
  const auto took = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(video) << error;
  std::printf("made the demo in %.1f s\n", std::chrono::duration<double>(took).count());
  EXPECT_TRUE(error.empty()) << error;
  const std::string base = FromPath(ToPath(folder) / ToPath("示例"));
  EXPECT_EQ(*video, base + ".mp4");
  EXPECT_EQ(Names(folder), (std::set<std::string>{"示例.mp4", "示例.txt"}));

  // A picture and a sound of the demo's length.
  const std::string probe = Probe(*video);
  EXPECT_NE(probe.find("codec_type=video"), std::string::npos) << probe;
  EXPECT_NE(probe.find("codec_type=audio"), std::string::npos) << probe;
  EXPECT_EQ(Value(probe, "width"), "640");
  EXPECT_EQ(Value(probe, "height"), "360");
  EXPECT_EQ(Value(probe, "r_frame_rate"), "25/1");
  const double seconds = std::atof(Value(probe, "duration").c_str());
  EXPECT_GE(seconds, 30.0) << probe;
  EXPECT_LE(seconds, 45.0) << probe;

  // The script: the sentences, one a line.
  const DecodedText script = DecodeTextFile(ReadBytes(base + ".txt"));
  EXPECT_EQ(DemoText(script.Lines), DemoText(DemoSentences()));

  // One block of sound per line, after the lead-in, with the pauses asked for between them.
  int lengthMs = 0;
  const auto segments = SoundSegments(*video, lengthMs);
  ASSERT_EQ(segments.size(), DemoSentences().size()) << lengthMs;
  EXPECT_NEAR(segments.front().begin, DEMO_LEAD_MS, 150);
  for (size_t k = 0; k < segments.size(); ++k) {
    const int next = k + 1 < segments.size() ? segments[k + 1].begin : lengthMs;
    EXPECT_NEAR(next - segments[k].end, DemoPausesMs()[k], 300) << "after sentence " << k;
    EXPECT_GE(segments[k].end - segments[k].begin, 700) << "sentence " << k;
  }
}

TEST(MakeDemoVideo, PreparedWithTamselCliItsScriptBecomesOneSubtitlePerLine) {
  REQUIRE_TOOLS();
  TempDir dir;
  std::string error;
  const auto video = MakeDemoVideo(dir.Path(), error);
  ASSERT_TRUE(video) << error;
  const std::string settings = dir.Path("settings.ini");
  const ProcessResult prepared =
      RunProcess(TAMSEL_CLI_PATH, {"--settings", settings, "prepare", *video});
  ASSERT_EQ(prepared.exitCode, 0) << prepared.errors;
  for (const char* ext : {".wav", ".ws", ".ai", ".ass"}) {
    EXPECT_TRUE(FileExists(dir.Path(std::string("示例") + ext))) << ext;
  }

  const ProcessResult shown = RunProcess(TAMSEL_CLI_PATH, {"--settings", settings, "show", *video});
  ASSERT_EQ(shown.exitCode, 0) << shown.errors;
  std::vector<std::string> texts;
  for (const auto& line : SplitLines(shown.output)) {
    if (line.empty()) continue;
    texts.push_back(line.substr(line.rfind('\t') + 1));
  }
  EXPECT_EQ(DemoText(texts), DemoText(DemoSentences()));
  const std::string ass = ReadBytes(dir.Path("示例.ass"));
  size_t dialogues = 0;
  for (size_t at = 0; (at = ass.find("Dialogue:", at)) != std::string::npos; ++at) ++dialogues;
  EXPECT_EQ(dialogues, DemoSentences().size());
}

TEST(MakeDemoVideo, NeverTakesTheNameOfTheUsersFiles) {
  REQUIRE_TOOLS();
  TempDir dir;
  WriteBytes(dir.Path("示例.mp4"), "my own video");
  WriteBytes(dir.Path("示例.txt"), "my own script");
  // A file of the next name appears while the demo is being made (another program, the user):
  // the demo does not replace it either, nor leaves its script beside it.
  std::thread intruder([&] {
    if (!WaitForWork(dir.Path(), "示例2.part-").empty()) {
      WriteBytes(dir.Path("示例2.mp4"), "made meanwhile");
    }
  });
  std::string error;
  const auto video = MakeDemoVideo(dir.Path(), error);
  intruder.join();
  ASSERT_TRUE(video) << error;
  EXPECT_EQ(*video, dir.Path("示例3.mp4"));
  EXPECT_EQ(ReadBytes(dir.Path("示例.mp4")), "my own video");
  EXPECT_EQ(ReadBytes(dir.Path("示例.txt")), "my own script");
  EXPECT_EQ(ReadBytes(dir.Path("示例2.mp4")), "made meanwhile");
  EXPECT_EQ(Names(dir.Path()),
            (std::set<std::string>{"示例.mp4", "示例.txt", "示例2.mp4", "示例3.mp4", "示例3.txt"}));
  EXPECT_EQ(DemoText(DecodeTextFile(ReadBytes(dir.Path("示例3.txt"))).Lines),
            DemoText(DemoSentences()));
}

TEST(MakeDemoVideo, CancelledWhileEncodingLeavesNothing) {
  REQUIRE_TOOLS();
  TempDir dir;
  WriteBytes(dir.Path("keep.txt"), "mine");
  std::atomic<bool> cancel = false;
  std::thread canceller([&] {
    WaitForWork(dir.Path(), "示例.part-", "video.mp4");
    cancel = true;
  });
  std::string error;
  const auto video = MakeDemoVideo(dir.Path(), error, &cancel);
  canceller.join();
  EXPECT_FALSE(video);
  EXPECT_EQ(error, "示例视频的生成已取消。");
  EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"keep.txt"});
  EXPECT_EQ(ChildProcesses(), 0);  // the converter was ended, not left running
}

TEST(MakeDemoVideo, CancelledBeforeItStartsTouchesNothing) {
  TempDir dir;
  const std::atomic<bool> cancel = true;
  std::string error;
  EXPECT_FALSE(MakeDemoVideo(dir.Path("新"), error, &cancel));
  if (!HaveTools()) return;  // then it stops at the missing program, still touching nothing
  EXPECT_EQ(error, "示例视频的生成已取消。");
  EXPECT_FALSE(fs::exists(ToPath(dir.Path("新"))));
}

TEST(MakeDemoVideo, AFolderThatCannotBeMadeIsNamed) {
  REQUIRE_TOOLS();
  TempDir dir;
  WriteBytes(dir.Path("文件"), "a file, not a folder");
  for (const std::string& folder : {dir.Path("文件"), dir.Path("文件/子")}) {
    std::string error;
    EXPECT_FALSE(MakeDemoVideo(folder, error));
    EXPECT_EQ(error.rfind(folder + "\r无法创建这个文件夹，无法生成示例视频。", 0), 0u) << error;
  }
  EXPECT_EQ(ReadBytes(dir.Path("文件")), "a file, not a folder");
}

#ifndef _WIN32

TEST(MakeDemoVideo, AFolderWithoutWritePermissionIsNamed) {
  REQUIRE_TOOLS();
  if (geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
  TempDir dir;
  const std::string folder = dir.Path("只读");
  fs::create_directory(ToPath(folder));
  fs::permissions(ToPath(folder), fs::perms::owner_read | fs::perms::owner_exec);
  std::string error;
  EXPECT_FALSE(MakeDemoVideo(folder, error));
  EXPECT_EQ(error.rfind(folder + "\r无法在这个文件夹中写入，无法生成示例视频。", 0), 0u) << error;
  fs::permissions(ToPath(folder), fs::perms::owner_all);
  EXPECT_TRUE(Names(folder).empty());
}

/// Runs the body with PATH holding only `bin`, then puts PATH back.
template <typename Body>
void WithPath(const std::string& bin, Body body) {
  const char* old = std::getenv("PATH");
  const std::string saved = old ? old : "";
  setenv("PATH", bin.c_str(), 1);
  body();
  setenv("PATH", saved.c_str(), 1);
}

void Link(const std::string& program, const std::string& bin) {
  fs::create_symlink(ToPath(FindProgram(program)), ToPath(bin) / program);
}

void FakeProgram(const std::string& path, const std::string& errorText) {
  WriteBytes(path, "#!/bin/sh\necho '" + errorText + "' >&2\nexit 1\n");
  fs::permissions(ToPath(path), fs::perms::owner_all);
}

TEST(MakeDemoVideo, AMissingOrFailingProgramIsNamedAndLeavesNothing) {
  REQUIRE_TOOLS();
  struct Case {
    const char* name;
    bool speaker;             // the real espeak-ng is on the PATH
    const char* fakeSpeaker;  // else a failing one with this error output, or none
    bool converter;
    const char* fakeConverter;
    std::string expected;  // the message begins with it
  };
  const Case cases[] = {
      {"no espeak-ng", false, nullptr, true, nullptr, "没有找到espeak-ng，无法生成示例视频。"},
      {"no ffmpeg", true, nullptr, false, nullptr, "没有找到ffmpeg，无法生成示例视频。"},
      {"espeak-ng fails", false, "Error: The specified espeak-ng voice does not exist.", true,
       nullptr,
       "espeak-ng无法生成示例语音。\rError: The specified espeak-ng voice does not exist."},
      {"ffmpeg fails", true, nullptr, false, "Conversion failed!",
       "ffmpeg无法生成示例视频。\rConversion failed!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir bin, dir;
    if (c.speaker) Link("espeak-ng", bin.Path());
    if (c.fakeSpeaker) FakeProgram(bin.Path("espeak-ng"), c.fakeSpeaker);
    if (c.converter) Link("ffmpeg", bin.Path());
    if (c.fakeConverter) FakeProgram(bin.Path("ffmpeg"), c.fakeConverter);
    const std::string folder = dir.Path("新的");  // made by the call, so removed again
    std::string error;
    std::optional<std::string> video;
    WithPath(bin.Path(), [&] { video = MakeDemoVideo(folder, error); });
    EXPECT_FALSE(video);
    EXPECT_EQ(error, c.expected);
    EXPECT_TRUE(Names(dir.Path()).empty());
  }
}

TEST(MakeDemoVideo, AConverterWithoutH264MakesMpeg4) {
  REQUIRE_TOOLS();
  TempDir bin, dir;
  Link("espeak-ng", bin.Path());
  WriteBytes(bin.Path("ffmpeg"),
             "#!/bin/sh\ncase \"$*\" in *libx264*)\n"
             "  echo \"Unknown encoder 'libx264'\" >&2; exit 1;;\nesac\n"
             "exec '" +
                 FindProgram("ffmpeg") + "' \"$@\"\n");
  fs::permissions(ToPath(bin.Path("ffmpeg")), fs::perms::owner_all);
  std::string error;
  std::optional<std::string> video;
  WithPath(bin.Path(), [&] { video = MakeDemoVideo(dir.Path(), error); });
  ASSERT_TRUE(video) << error;
  const ProcessResult r =
      RunProcess(FindProgram("ffprobe"), {"-v", "error", "-select_streams", "v", "-show_entries",
                                          "stream=codec_name", "-of", "csv=p=0", "file:" + *video});
  EXPECT_EQ(r.output, "mpeg4\n");
  EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"示例.mp4", "示例.txt"}));
}

#endif

#ifdef __linux__

// A demo made in a child process that is killed while ffmpeg writes the video: nothing has
// the final names, only the working folder is left, and it keeps the name from the next demo.
TEST(MakeDemoVideo, KilledWhileEncodingLeavesNoVideoUnderItsName) {
  REQUIRE_TOOLS();
  TempDir dir;
  setenv("TAMSEL_KILL_AT", "demo-encoding", 1);
  setenv("TAMSEL_DEMO_FOLDER", dir.Path().c_str(), 1);
  const ProcessResult child =
      RunProcess(FromPath(fs::read_symlink("/proc/self/exe")),
                 {"--gtest_filter=DemoVideoChild.MakesTheDemoInTheGivenFolder"});
  unsetenv("TAMSEL_KILL_AT");
  unsetenv("TAMSEL_DEMO_FOLDER");
  EXPECT_EQ(child.exitCode, -1) << child.output << child.errors;  // killed
  const auto names = Names(dir.Path());
  ASSERT_EQ(names.size(), 1u);
  EXPECT_TRUE(StartsWith(*names.begin(), "示例.part-")) << *names.begin();
  EXPECT_EQ(FreeDemoBase(dir.Path()), dir.Path("示例2"));
}

/// The child of the test above; skipped unless it is given a folder.
TEST(DemoVideoChild, MakesTheDemoInTheGivenFolder) {
  const char* folder = std::getenv("TAMSEL_DEMO_FOLDER");
  if (!folder) GTEST_SKIP() << "run by KilledWhileEncodingLeavesNoVideoUnderItsName";
  std::string error;
  EXPECT_TRUE(MakeDemoVideo(folder, error)) << error;
}

#endif

}  // namespace
}  // namespace tamsel::test
