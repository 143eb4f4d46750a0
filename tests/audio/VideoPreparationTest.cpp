#include "VideoPreparation.h"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "ChildProcess.h"
#include "FakePrograms.h"
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

TEST(OpenVideoClick, AWavCutSinceItWasPreparedGetsItsSideFilesAnewAndIsTold) {
  if (FindProgram("ffmpeg").empty()) GTEST_SKIP() << "ffmpeg is not installed";
  for (int level : {0, 3}) {  // the level control off, and on (the cut takes its mark away)
    SCOPED_TRACE(level);
    Prepared p;
    p.st.Ctrl.TrackBarAutoVolCtrlSpeed = level;
    const std::string video = p.dir.Path("v.mp4");
    const std::string wav = p.dir.Path("v.wav");
    const std::string ws = p.dir.Path("v.ws");
    ASSERT_TRUE(MakeVideo(video, 4.0, true));
    ASSERT_TRUE(p.Open(video));
    ASSERT_GE(FileSizeOf(ws).value_or(0), 2u * 400);  // 48 kHz stereo, 4 s

    // Another program cuts the WAV to its first second (and a bit), as `truncate` does.
    std::filesystem::resize_file(ToPath(wav), 44 + 192000 + 7);
    EXPECT_FALSE(SideFilesReady(p.st));
    const auto open = [&] {
      EditorState again;
      again.Prompts = &p.prompts;
      again.Ctrl.TrackBarAutoVolCtrlSpeed = level;
      return OpenVideoClick(again, video, [](const std::string&, int) {});
    };
    ASSERT_TRUE(open());
    ASSERT_EQ(p.prompts.messages.size(), 1u);
    EXPECT_TRUE(p.prompts.messages[0].starts_with(wav + "\r声音文件比它的文件头所说的短（应有"))
        << p.prompts.messages[0];
    EXPECT_NE(p.prompts.messages[0].find("，只有192007字节），"), std::string::npos)
        << p.prompts.messages[0];
    EXPECT_EQ(FileSizeOf(ws), std::optional<uint64_t>(2 * 100));  // from what is left

    // Made anew, they fit: nothing is rebuilt or told the next time.
    const auto wsTime = std::filesystem::last_write_time(ToPath(ws));
    ASSERT_TRUE(open());
    EXPECT_EQ(p.prompts.messages.size(), 1u);
    EXPECT_EQ(std::filesystem::last_write_time(ToPath(ws)), wsTime);
  }
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

// What killed runs left beside the video under their temporary names (the subtitle save's, the
// side files', the adjusted WAV's, the converter's folder) and the lock file a killed
// preparation left are removed by the next preparation, also of a video that is prepared
// already; what a live process is writing and names that are not ours stay.
TEST(OpenVideoClick, RemovesWhatKilledRunsLeftAndItsLock) {
  if (FindProgram("ffmpeg").empty()) GTEST_SKIP() << "ffmpeg is not installed";
  Prepared p;
  const std::string video = p.dir.Path("v.mp4");
  ASSERT_TRUE(MakeVideo(video, 4.0, true));
  const std::string live = test::LeftoverName(p.dir.Path("v.ws.tmp"), 1);
  const auto leave = [&] {
    for (const char* name : {"v.tmp", "v.ws.tmp", "v.ai.tmp", "v.wav.tmp"}) {
      WriteBytes(test::LeftoverName(p.dir.Path(name), test::EndedProcessId()), "left");
    }
    const std::string folder = test::LeftoverName(p.dir.Path("v.wav.part"), test::EndedProcessId());
    std::filesystem::create_directory(ToPath(folder));
    WriteBytes(folder + "/sound.wav", "half a sound");
    WriteBytes(p.dir.Path("v.lock"), "");
    WriteBytes(p.dir.Path("v.tmp"), "someone's own file");
    WriteBytes(live, "being written");
  };
  const std::vector<std::string> prepared = {
      "v.ai", "v.ass", "v.mp4", "v.tmp", "v.wav", "v.ws", FromPath(ToPath(live).filename())};
  leave();
  ASSERT_TRUE(p.Open(video)) << (p.prompts.messages.empty() ? "" : p.prompts.messages[0]);
  EXPECT_EQ(test::NamesIn(p.dir.Path()), prepared);
  leave();
  EditorState again;
  again.Prompts = &p.prompts;
  ASSERT_TRUE(OpenVideoClick(again, video, [](const std::string&, int) {}));
  EXPECT_EQ(test::NamesIn(p.dir.Path()), prepared);
  EXPECT_EQ(ReadBytes(p.dir.Path("v.tmp")), "someone's own file");
}

// A pipe or a device chosen as the video is refused at once, naming it: the probe would wait on
// it for ever.
TEST(OpenVideoClick, RefusesAPipeForAVideo) {
  Prepared p;
  const std::string video = p.dir.Path("v.mp4");
  ASSERT_EQ(mkfifo(video.c_str(), 0600), 0);
  EXPECT_FALSE(p.Open(video));
  ASSERT_EQ(p.prompts.messages.size(), 1u);
  EXPECT_EQ(p.prompts.messages[0].rfind(video + "\r不是普通文件，而是命名管道", 0), 0u)
      << p.prompts.messages[0];
  EXPECT_EQ(test::NamesIn(p.dir.Path()), std::vector<std::string>{"v.mp4"});
  EXPECT_TRUE(p.st.Pictures.ImageNotReady);
}

// The video or a file beside it gone after the preparation (deleted or renamed while editing
// went on): the start screen is set to not ready and the message names what is missing.
TEST(CheckEditingFiles, NamesTheFileThatWentAndShowsNotReady) {
  if (FindProgram("ffmpeg").empty()) GTEST_SKIP() << "ffmpeg is not installed";
  Prepared p;
  const std::string video = p.dir.Path("v.mp4");
  ASSERT_TRUE(MakeVideo(video, 4.0, true));
  ASSERT_TRUE(p.Open(video));
  const EditorState ready = p.st;
  EXPECT_EQ(CheckEditingFiles(p.st), "");
  EXPECT_TRUE(p.st.Pictures.ImageReadyGo);
  for (const char* name : {"v.mp4", "v.wav", "v.ws", "v.ai", "v.ass"}) {
    SCOPED_TRACE(name);
    p.st = ready;
    const std::string path = p.dir.Path(name);
    std::filesystem::rename(ToPath(path), ToPath(p.dir.Path("moved")));
    const std::string told = CheckEditingFiles(p.st);
    std::filesystem::rename(ToPath(p.dir.Path("moved")), ToPath(path));
    EXPECT_EQ(
        told.rfind(path + "\r" + (name == std::string("v.mp4") ? "视频文件不见了" : "文件不见了"),
                   0),
        0u)
        << told;
    EXPECT_FALSE(p.st.Pictures.ImageReadyGo);
    EXPECT_TRUE(p.st.Pictures.ImageNotReady);
    EXPECT_TRUE(p.st.Pictures.ImageVideoNon);
    EXPECT_FALSE(p.st.Ctrl.ButtonAutoAdjBegin);
    EXPECT_EQ(p.st.Caption, "Tamsel时间轴 V1.0 beta9");
  }
}

TEST(ProbeDuration, ReadsTheDecimalsWhateverTheLocale) {
  // The window runs with the user's locale (the toolkit sets it from the environment), and in
  // many of them a comma stands before the decimals; the probe writes a point all the same.
  if (FindProgram("ffmpeg").empty()) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string localedef = FindProgram("localedef");
  TempDir dir;
  ASSERT_TRUE(MakeVideo(dir.Path("v.mp4"), 4.5, true));
  if (localedef.empty() ||
      RunProcess(localedef, {"-i", "de_DE", "-f", "UTF-8", dir.Path("de_DE.UTF-8")}).exitCode !=
          0) {
    GTEST_SKIP() << "no German locale can be made";
  }
  setenv("LOCPATH", dir.Path().c_str(), 1);
  const std::string before = setlocale(LC_NUMERIC, nullptr);
  const bool german = setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr &&
                      std::string(localeconv()->decimal_point) == ",";
  std::string why;
  const std::optional<double> seconds = ProbeDuration(dir.Path("v.mp4"), why);
  setlocale(LC_NUMERIC, before.c_str());
  unsetenv("LOCPATH");
  if (!german) GTEST_SKIP() << "the German locale cannot be set";
  ASSERT_TRUE(seconds) << why;
  EXPECT_GT(*seconds, 4.4);
  EXPECT_LT(*seconds, 4.7);
}

// --- cancelling a preparation ------------------------------------------------------------------

using Clock = std::chrono::steady_clock;

/// Names of the files in a folder.
std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(ToPath(dir))) {
    names.insert(FromPath(e.path().filename()));
  }
  return names;
}

/// The files a preparation of `dir`/v.mp4 makes, by name, with their bytes (absent when missing).
std::map<std::string, std::string> Products(const test::TempDir& dir) {
  std::map<std::string, std::string> files;
  for (const char* name : {"v.wav", "v.ws", "v.ai", "v.ass"}) {
    if (FileExists(dir.Path(name))) files[name] = ReadBytes(dir.Path(name));
  }
  return files;
}

/// Waits up to `limit` for `done`, looking every 10 ms.
template <typename Done>
bool WaitUntil(Clock::duration limit, const Done& done) {
  for (const auto end = Clock::now() + limit; !done(); std::this_thread::sleep_for(
           std::chrono::milliseconds(10))) {
    if (Clock::now() > end) return done();
  }
  return true;
}

/// A half-minute video (long enough for the builder to read it in many blocks, and for the slow
/// converter to be caught while it writes) and its clean preparations, with the volume setting
/// at 0 (the WAV file as extracted) and at 3 (the WAV adjusted), made once for the cancel tests.
struct CleanPreparations {
  TempDir dir;
  std::string video;
  std::map<int, std::map<std::string, std::string>> products;  // by volume setting
  std::map<int, std::set<std::string>> names;
  bool made = false;

  CleanPreparations() {
    video = dir.Path("v.mp4");
    if (FindProgram("ffmpeg").empty() || !MakeVideo(video, 30.0, true)) return;
    for (int volume : {0, 3}) {
      TempDir clean;
      std::filesystem::copy_file(ToPath(video), ToPath(clean.Path("v.mp4")));
      RecordingPrompts prompts;
      EditorState st;
      st.Prompts = &prompts;
      st.Ctrl.TrackBarAutoVolCtrlSpeed = volume;
      if (!OpenVideoClick(st, clean.Path("v.mp4"), [](const std::string&, int) {})) return;
      products[volume] = Products(clean);
      names[volume] = Names(clean.Path());
    }
    made = true;
  }
  static const CleanPreparations& Get() {
    static const CleanPreparations once;
    return once;
  }
};

/// A preparation of `video` on a worker thread, as the window runs it. The first progress
/// report with `label` at `from` or past it is "reached"; with `inProgress` the cancel flag is
/// set right there, on the worker thread, so that the builder is caught at a known step.
class Worker {
 public:
  RecordingPrompts prompts;  // read only once the result is in
  EditorState st;
  CancelFlag cancel{false};

  void Start(const std::string& video, int volume, const char* label, int from,
             bool inProgress) {
    st.Prompts = &prompts;
    st.Ctrl.TrackBarAutoVolCtrlSpeed = volume;
    m_result = std::async(std::launch::async, [=, this] {
      return OpenVideoClick(
          st, video,
          [=, this](const std::string& shown, int position) {
            if (!label || shown != label || position < from) return;
            if (inProgress) cancel = true;
            std::lock_guard lock(m_mutex);
            m_reached = true;
            m_changed.notify_all();
          },
          &cancel);
    });
  }
  bool Reached(Clock::duration limit) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, limit, [this] { return m_reached; });
  }
  bool Finished(Clock::duration limit) {
    return m_result.wait_for(limit) == std::future_status::ready;
  }
  bool Result() { return m_result.get(); }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_reached = false;
  std::future<bool> m_result;
};

/// Sets an environment variable for its lifetime (only while no other thread runs).
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : m_name(name) {
    if (const char* old = getenv(name)) m_old = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (m_old) {
      setenv(m_name, m_old->c_str(), 1);
    } else {
      unsetenv(m_name);
    }
  }

 private:
  const char* m_name;
  std::optional<std::string> m_old;
};

TEST(OpenVideoClick, ACancelEndsItPromptlyAndLeavesTheFolderAsItWas) {
  const CleanPreparations& clean = CleanPreparations::Get();
  if (!clean.made) GTEST_SKIP() << "ffmpeg is not installed";
  struct Case {
    const char* name;
    const char* fake;    // a stand-in put first on the PATH (FakePrograms.h), or none
    bool wavBefore;      // the folder holds the WAV file of an earlier run, as extracted
    int volume;          // TrackBarAutoVolCtrlSpeed: 0 leaves the WAV, 3 adjusts it
    bool named;          // temporary files with names, as the systems other than Linux make them
    const char* label;   // cancelled at the first progress report with this label ...
    int from;            // ... at this position or past it; no label: cancelled before the start
    bool inProgress;     // set in that report; else set by this thread (once the stand-in runs)
    bool keepsWav;       // the WAV file this run completed before the cancel stays
  } cases[] = {
      {"before the start", nullptr, false, 3, false, nullptr, 0, false, false},
      {"probing", "stuck-ffprobe", false, 3, false, "检查视频文件……", 2, false, false},
      {"converting", "slow-ffmpeg", false, 3, false, "等待WAV生成……", 5, false, false},
      {"converting, named temporaries", "slow-ffmpeg", false, 3, true, "等待WAV生成……", 5, false,
       false},
      {"converting, no level control", "slow-ffmpeg", false, 0, false, "等待WAV生成……", 5, false,
       false},
      {"scanning", nullptr, true, 3, false, "WAV转WS……", 67, true, false},
      {"scanning, no level control", nullptr, true, 0, false, "WAV转WS……", 67, true, false},
      {"protecting from clipping", nullptr, true, 3, false, "防范爆音……", 72, true, false},
      {"adjusting the level", nullptr, true, 3, false, "调整音量……", 87, true, false},
      {"adjusting the level, named temporaries", nullptr, true, 3, true, "调整音量……", 87, true,
       false},
      {"about to save", nullptr, true, 3, false, "存盘……", 0, true, false},
      {"adjusting right after the conversion", nullptr, false, 3, false, "调整音量……", 0, true,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    TempDir aside;  // for the stand-ins' process ids
    std::filesystem::copy_file(ToPath(clean.video), ToPath(dir.Path("v.mp4")));
    const std::string extracted = clean.products.at(0).at("v.wav");
    if (c.wavBefore) WriteBytes(dir.Path("v.wav"), extracted);
    const std::set<std::string> before = Names(dir.Path());
    const std::string pidFile = aside.Path("pids");
    {
      std::optional<test::PathFirst> fake;
      if (c.fake) fake.emplace(test::FakeProgramDir(c.fake), pidFile);
      ScopedEnv named("TAMSEL_NAMED_TEMPORARIES", c.named ? "1" : nullptr);

      Worker w;
      if (!c.label) w.cancel = true;
      w.Start(dir.Path("v.mp4"), c.volume, c.label, c.from, c.inProgress);
      bool caught = !c.label || w.Reached(std::chrono::seconds(60));
      EXPECT_TRUE(caught) << "the preparation never got there";
      if (caught && c.fake) {
        // The stand-in runs: the converter has written part of the WAV, or the probe is there.
        caught = WaitUntil(std::chrono::seconds(10),
                           [&] { return !test::FakePids(pidFile).empty(); });
        EXPECT_TRUE(caught) << "the stand-in never ran";
      }
      w.cancel = true;
      // Generous: left alone, the slow converter and the probe would run on for minutes.
      const bool finished = w.Finished(std::chrono::seconds(20));
      EXPECT_TRUE(finished) << "the preparation goes on after the cancel";
      if (!finished) {
        for (pid_t pid : test::FakePids(pidFile)) kill(pid, SIGKILL);
      }
      EXPECT_FALSE(w.Result());
      EXPECT_TRUE(w.prompts.messages.empty()) << w.prompts.messages.front();
      EXPECT_FALSE(w.st.Pictures.ImageReadyGo);
    }
    if (c.fake) {
      EXPECT_FALSE(test::FakePids(pidFile).empty()) << "the stand-in never ran";
    }
    for (pid_t pid : test::FakePids(pidFile)) {
      EXPECT_NE(kill(pid, 0), 0) << "the stand-in " << pid << " is still there";
    }
    EXPECT_EQ(test::ChildProcesses(), std::vector<pid_t>{});

    std::set<std::string> expected = before;
    if (c.keepsWav) expected.insert("v.wav");
    EXPECT_EQ(Names(dir.Path()), expected);
    if (c.wavBefore || c.keepsWav) {
      EXPECT_TRUE(ReadBytes(dir.Path("v.wav")) == extracted) << "the WAV file has changed";
    }

    // A preparation as usual then gives what a clean one gives.
    RecordingPrompts prompts;
    EditorState again;
    again.Prompts = &prompts;
    again.Ctrl.TrackBarAutoVolCtrlSpeed = c.volume;
    EXPECT_TRUE(OpenVideoClick(again, dir.Path("v.mp4"), [](const std::string&, int) {}));
    EXPECT_TRUE(prompts.messages.empty()) << prompts.messages.front();
    EXPECT_TRUE(Products(dir) == clean.products.at(c.volume)) << "the files differ";
    EXPECT_EQ(Names(dir.Path()), clean.names.at(c.volume));
  }
}

TEST(OpenVideoClick, TwoAtOnceOnTwoThreadsOneCancelled) {
  // The window cancels one preparation and starts another: for a while both run. The cancelled
  // one converts (slowly); the other builds the side files of a WAV file already there.
  const CleanPreparations& clean = CleanPreparations::Get();
  if (!clean.made) GTEST_SKIP() << "ffmpeg is not installed";
  TempDir first, second, aside;
  for (const TempDir* d : {&first, &second}) {
    std::filesystem::copy_file(ToPath(clean.video), ToPath(d->Path("v.mp4")));
  }
  WriteBytes(second.Path("v.wav"), clean.products.at(0).at("v.wav"));
  {
    test::PathFirst fake(test::FakeProgramDir("slow-ffmpeg"), aside.Path("pids"));
    Worker cancelled, finished;
    cancelled.Start(first.Path("v.mp4"), 3, "等待WAV生成……", 5, /*inProgress=*/false);
    ASSERT_TRUE(cancelled.Reached(std::chrono::seconds(60)));
    finished.Start(second.Path("v.mp4"), 3, nullptr, 0, false);
    ASSERT_TRUE(finished.Finished(std::chrono::seconds(60)));
    cancelled.cancel = true;
    ASSERT_TRUE(cancelled.Finished(std::chrono::seconds(20)));
    EXPECT_FALSE(cancelled.Result());
    EXPECT_TRUE(cancelled.prompts.messages.empty());
    EXPECT_TRUE(finished.Result());
    EXPECT_TRUE(finished.prompts.messages.empty());
  }
  EXPECT_EQ(Names(first.Path()), std::set<std::string>{"v.mp4"});
  EXPECT_TRUE(Products(second) == clean.products.at(3)) << "the files differ";
  EXPECT_EQ(test::ChildProcesses(), std::vector<pid_t>{});
}

}  // namespace
}  // namespace tamsel
