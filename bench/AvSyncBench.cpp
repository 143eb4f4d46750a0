// Video and sound together: a generated 60-second video played at 1.0 with the real devices
// (mpv drawing in a shown window, the sound output over the mapped WAV) and the real playback
// loop on its Qt timer, as the window runs it.
//
// Reported: |video position - sound position| after each tick of the loop (the video's as the
// player tells it, the sound's from its play cursor), as a distribution and as the share of
// ticks within one frame step; and the CPU time per second of playback (the whole process: mpv's
// threads, the sound's, the loop), against mpv alone playing the same file silently in the same
// window, measured in the same run.
//
// Two sessions: the sound's cursor on the steady clock (the output's way without a sound device,
// an exact clock like a sound card's), to which the target applies; and SDL's dummy driver, whose
// cursor moves by sleeps of whole milliseconds per buffer and so runs off true time by half a
// percent or so (shown for comparison: the loop then re-seeks the video whenever the two are two frame
// steps apart).
//
// Needs an X display (bench/avsync_check.sh starts one with xvfb-run). Exits 1 when fewer than
// 95% of the ticks of the first session are within one frame step, 2 when it cannot run.
// AVSYNC_TRACE=1 writes each measured tick to stderr: time (ms), PlayPos, video, sound.
//
//   avsync_bench [PLAY_SECONDS (default 20)]

#include <QApplication>
#include <QTest>
#include <QWidget>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchInputs.h"
#include "ChildProcess.h"
#include "EditorState.h"
#include "FileIo.h"
#include "PlaybackLoop.h"
#include "PlaybackTimer.h"
#include "RealMediaFactory.h"
#include "ReadyGo.h"
#include "VideoPreparation.h"

using namespace tamsel;

namespace {

constexpr int VIDEO_SECONDS = 60;
constexpr int FPS = 25;
constexpr int LOAD_MS = 60000;

/// CPU time of the whole process so far, seconds.
double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, size_t(std::ceil(p / 100 * double(v.size())) - 1));
  return v[i];
}

struct Prompts : UserPrompts {
  void ShowMessage(const std::string& text) override {
    std::fprintf(stderr, "avsync_bench: %s\n", text.c_str());
  }
  std::string ChooseTxtFile() override { return ""; }
};

bool MakeVideo(const std::string& path) {
  const std::string d = std::to_string(VIDEO_SECONDS);
  const ProcessResult r = RunProcess(
      FindProgram("ffmpeg"),
      {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
       "testsrc2=size=640x360:rate=" + std::to_string(FPS) + ":duration=" + d, "-f", "lavfi",
       "-i", "sine=frequency=440:beep_factor=4:duration=" + d, "-c:v", "mpeg4", "-q:v", "4",
       "-c:a", "aac", "-shortest", path});
  if (r.exitCode != 0) std::fprintf(stderr, "avsync_bench: ffmpeg: %s\n", r.errors.c_str());
  return r.exitCode == 0;
}

/// CPU seconds per second of mpv alone playing `video` in `area` for `ms`.
double MpvAlone(QWidget& area, const std::string& video, int ms) {
  MpvVideoWidget player(MpvVideoWidget::Renderer::Automatic, &area);
  player.setGeometry(area.rect());
  player.show();
  player.Open(video);
  if (!QTest::qWaitFor([&] { return player.IsLoaded(); }, LOAD_MS)) return -1;
  player.Play();
  QTest::qWait(1000);  // settled
  const double cpu0 = ProcessCpuSeconds();
  QTest::qWait(ms);
  return (ProcessCpuSeconds() - cpu0) / (ms / 1000.0);
}

struct Figures {
  bool ran = false;
  std::string name;
  std::vector<double> gaps;
  double frameStep = 0;
  double cpu = 0;        ///< CPU seconds per second of playback
  double played = 0;     ///< seconds the play position moved while measured
  double seconds = 0;    ///< seconds measured

  /// Prints one block; with `target`, the verdict, true when met.
  bool Print(const char* label, bool target) const {
    const double within =
        gaps.empty() ? 0 : double(std::count_if(gaps.begin(), gaps.end(),
                                                [&](double g) { return g <= frameStep; })) /
                               double(gaps.size());
    std::printf("  %s: %zu ticks, the play position moved %.2f s in %.2f s\n", label,
                gaps.size(), played, seconds);
    std::printf("    ms: median %.0f, 90%% %.0f, 95%% %.0f, 99%% %.0f, max %.0f\n",
                Percentile(gaps, 50), Percentile(gaps, 90), Percentile(gaps, 95),
                Percentile(gaps, 99), Percentile(gaps, 100));
    const bool ok = within >= 0.95 && played > 0.9 * seconds;
    std::printf("    within one frame step (%.0f ms)  %5.1f%%", frameStep, within * 100);
    if (target) std::printf("  target >= 95%%  %s", ok ? "ok" : "MISSED");
    std::printf("\n");
    return ok;
  }
};

/// Enters editing on the prepared video with the real devices, SDL's audio driver `driver`,
/// and runs the loop on its timer with the pointer resting over the video (after entering
/// editing that plays at 1.0) for `seconds` once the loop has learnt the media's facts.
Figures PlaySession(EditorState& st, QWidget& area, int seconds, const char* driver) {
  Figures f;
  f.name = driver == std::string("dummy") ? "SDL dummy driver" : "sound on the clock";
  setenv("SDL_AUDIODRIVER", driver, 1);
  std::string failure;
  RealMediaFactory factory(&area, {[](const std::string&) {},
                                   [&](const std::string& m) { failure = m; },
                                   {}});
  EditingMedia media;
  st.PlayRate = 1.0;
  st.ReplayState = 0;
  st.SubCurr = -1;
  if (!ReadyGo(st, media, factory)) return f;
  if (!QTest::qWaitFor([&] { return factory.Video()->IsLoaded() || !failure.empty(); },
                       LOAD_MS) ||
      !failure.empty()) {
    std::fprintf(stderr, "avsync_bench: %s\n", failure.c_str());
    return f;
  }
  SteadyClock clock;
  PlaybackDevices dev{*media.MediaPlayer, *media.SoundBuffer, clock,
                      media.WaveFile->Format().nSamplesPerSec, {}};
  WindowFacts facts{true, 0, 0, 800, 600, 800, 600, 400, 200, 800};
  const bool trace = std::getenv("AVSYNC_TRACE") != nullptr;
  bool measuring = false;
  PlaybackTimer timer(st, [&] {
    Timer2GetMouseXYTimer(st, dev, facts);
    if (!measuring) return;
    const double vid = media.MediaPlayer->Position() * 1000;
    const int32_t snd = SoundPosition(st, *media.SoundBuffer);
    f.gaps.push_back(std::abs(vid - snd));
    if (trace) {
      std::fprintf(stderr, "%lld %d %.0f %d\n", static_cast<long long>(clock.NowMicros() / 1000),
                   st.PlayPos, vid, snd);
    }
  });
  timer.Start();
  QTest::qWait(2000);  // the loop learns the frame rate and the length
  measuring = true;
  const int32_t from = st.PlayPos;
  const int64_t t0 = clock.NowMicros();
  const double cpu0 = ProcessCpuSeconds();
  QTest::qWait(seconds * 1000);
  f.cpu = (ProcessCpuSeconds() - cpu0) / seconds;
  f.seconds = double(clock.NowMicros() - t0) / 1e6;
  f.played = (st.PlayPos - from) / 1000.0;
  f.frameStep = st.FrameStep;
  timer.Stop();
  st.ReadyState = 1;  // leaving editing
  f.ran = true;
  return f;
}

int Run(const std::filesystem::path& dir, int playSeconds) {
  const std::string video = FromPath(dir / "avsync.mp4");
  if (!MakeVideo(video)) return 2;
  Prompts prompts;
  EditorState st;
  st.Prompts = &prompts;
  if (!OpenVideoClick(st, video, [](const std::string&, int) {})) return 2;

  QWidget window;
  window.resize(800, 600);
  QWidget area(&window);
  area.setGeometry(0, 0, 800, 450);
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) {
    std::fprintf(stderr, "avsync_bench: the window is not shown (no X display?)\n");
    return 2;
  }

  const double alone = MpvAlone(area, video, playSeconds * 1000);
  if (alone < 0) {
    std::fprintf(stderr, "avsync_bench: mpv did not open %s\n", video.c_str());
    return 2;
  }

  // The sound's cursor on the steady clock (as on a machine without a sound device): an exact
  // clock, as a sound card's is. The target applies here.
  const Figures clocked = PlaySession(st, area, playSeconds, "tamsel-no-device");
  // SDL's dummy driver: its cursor moves by SDL's sleeps of whole milliseconds per buffer, so
  // its clock runs off true time by half a percent or so, and the loop re-seeks the video when the
  // two are two frame steps apart. Shown for comparison.
  const Figures dummy = PlaySession(st, area, playSeconds, "dummy");
  if (!clocked.ran || !dummy.ran) return 2;

  std::printf("%d s of a %d-s video at %d fps played at 1.0, |video - sound| after each tick:\n",
              playSeconds, VIDEO_SECONDS, FPS);
  const bool ok = clocked.Print("sound on the clock", true);
  dummy.Print("SDL dummy driver", false);
  std::printf("CPU per second of playback:\n");
  std::printf("  mpv alone, silent                %6.3f s\n", alone);
  for (const auto* f : {&clocked, &dummy}) {
    std::printf("  the loop, %-22s %6.3f s  (%.2f x mpv alone)\n", f->name.c_str(), f->cpu,
                alone > 0 ? f->cpu / alone : 0.0);
  }
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const int playSeconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 20;
  if (FindProgram("ffmpeg").empty()) {
    std::fprintf(stderr, "avsync_bench: ffmpeg is not installed\n");
    return 2;
  }
  const std::filesystem::path dir = bench::MakeScratchDir("tamsel-avsync-");
  const int status = Run(dir, playSeconds);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return status;
}
