#include "SdlSoundOutput.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "SoundTestSupport.h"
#include "TestSupport.h"

#ifndef _WIN32
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace tamsel {
namespace {

using test::ManualClock;
using test::PcmFormat;
using test::Resampled;
using test::SampleBytes;
using test::StereoRamp;
using test::TempDir;
using test::WaveFile;
using test::WriteBytes;

void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

/// Has SDL play into the file `path` with its disk driver, a buffer every 4 ms: at 8 kHz, with
/// 256-frame buffers, eight times faster than real time.
void UseDiskDriver(const std::string& path) {
  SetEnv("SDL_AUDIODRIVER", "disk");
  SetEnv("SDL_DISKAUDIOFILE", path);
  SetEnv("SDL_DISKAUDIODELAY", "4");
}

bool WaitFor(const std::function<bool()>& done, double seconds = 20) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

/// The interleaved samples SDL wrote into the disk driver's file.
std::vector<int16_t> DiskSamples(const std::string& path) {
  const std::string bytes = test::ReadBytes(path);
  std::vector<int16_t> s(bytes.size() / 2);
  std::memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

/// The stretch of sound in `samples` (stereo): from the first frame that is not silent to the
/// last; everything else must be silence.
std::vector<int16_t> SoundPart(const std::vector<int16_t>& samples) {
  size_t first = 0, last = samples.size() / 2;
  while (first < last && samples[2 * first] == 0 && samples[2 * first + 1] == 0) ++first;
  while (last > first && samples[2 * last - 2] == 0 && samples[2 * last - 1] == 0) --last;
  return std::vector<int16_t>(samples.begin() + 2 * first, samples.begin() + 2 * last);
}

/// A stereo WAV file of `frames` frames at 8 kHz whose channels differ, and its samples.
struct Track {
  TempDir dir;
  std::vector<int16_t> samples;
  explicit Track(int frames) : samples(StereoRamp(frames)) {
    WriteBytes(dir.Path("v.wav"), WaveFile(PcmFormat(2, 8000), SampleBytes(samples)));
  }
  std::unique_ptr<SoundBuffer> Open() const { return SoundBuffer::OpenWave(dir.Path("v.wav")); }
};

void ExpectSameSound(const std::vector<int16_t>& got, const std::vector<int16_t>& expected) {
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i) {
    // Left stays left and right stays right: the channels differ in every frame.
    ASSERT_NEAR(got[i], expected[i], 1) << "frame " << i / 2 << (i % 2 ? " right" : " left");
  }
}

TEST(SdlSoundOutput, TheDeviceGetsTheSourceResampledByTheFrequency) {
  struct Case {
    int64_t frequency;
    double step;  // source frames per device frame
  } cases[] = {{4000, 0.5}, {8000, 1.0}, {12000, 1.5}};
  for (const auto& c : cases) {
    Track track(2000);
    const std::string disk = track.dir.Path("out.raw");
    UseDiskDriver(disk);
    {
      SdlSoundOutput out(track.Open());
      ASSERT_TRUE(out.HasDevice()) << out.DeviceProblem();
      ASSERT_EQ(out.DeviceRate(), 8000);
      ASSERT_EQ(out.DeviceChannels(), 2);
      EXPECT_EQ(out.TakeNotice(), "");
      out.SetFrequency(c.frequency);
      out.SetCursor(100 * 4);
      out.Play(/*looping=*/false);
      ASSERT_TRUE(WaitFor([&] { return !out.Playing(); }));
      EXPECT_EQ(out.Cursor(), 2000 * 4);  // stopped at the end
    }
    // From frame 100 to the end at `step` frames per device frame, then silence.
    const int frames = int(std::ceil(1900 / c.step));
    ExpectSameSound(SoundPart(DiskSamples(disk)), Resampled(track.samples, 2, 100, c.step, frames));
  }
}

TEST(SdlSoundOutput, ALoopWrapsStopHoldsTheCursorAndTheCursorCountsWhatWasPlayed) {
  Track track(800);
  const std::string disk = track.dir.Path("out.raw");
  UseDiskDriver(disk);
  int64_t stoppedAt = 0;
  {
    SdlSoundOutput out(track.Open());
    ASSERT_TRUE(out.HasDevice()) << out.DeviceProblem();
    out.SetFrequency(12000);  // 1.5 times the WAV's rate
    out.SetCursor(700 * 4);
    out.Play(/*looping=*/true);
    int wraps = 0;
    int64_t last = out.Cursor();
    ASSERT_TRUE(WaitFor([&] {
      const int64_t now = out.Cursor();
      wraps += now < last;
      last = now;
      return wraps >= 2;
    }));
    out.Stop();
    stoppedAt = out.Cursor();
    EXPECT_FALSE(out.Playing());
    // The device goes on asking for sound: silence, and the cursor stays.
    const auto size = std::filesystem::file_size(disk);
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::file_size(disk) > size + 16384; }));
    EXPECT_EQ(out.Cursor(), stoppedAt);
  }
  const auto played = SoundPart(DiskSamples(disk));
  const int frames = int(played.size() / 2);
  ExpectSameSound(played, Resampled(track.samples, 2, 700, 1.5, frames, /*looping=*/true));
  // The cursor moved by exactly the sound the device was given: 1.5 frames per frame played.
  const int64_t used = int64_t(std::floor(frames * 1.5));
  EXPECT_GE(700 + used, 2 * 800);
  EXPECT_EQ(stoppedAt, (700 + used) % 800 * 4);
}

#ifndef _WIN32
TEST(SdlSoundOutput, AWavCutWhileSdlPlaysItGoesOnInSilenceAndSaysSo) {
  // SDL's own thread reads the mapped WAV while another program cuts the file under it: the
  // sound up to the cut plays as it was, the rest as silence, and the output says what happened.
  Track track(40000);
  const std::string wav = track.dir.Path("v.wav");
  const std::string disk = track.dir.Path("out.raw");
  UseDiskDriver(disk);
  {
    SdlSoundOutput out(track.Open());
    ASSERT_TRUE(out.HasDevice()) << out.DeviceProblem();
    out.Play(/*looping=*/false);
    ASSERT_TRUE(WaitFor([&] { return out.Cursor() >= 4000 * 4; }));
    std::filesystem::resize_file(ToPath(wav), 44 + 30000 * 4);
    EXPECT_TRUE(out.SourceProblem().starts_with(wav + "\r声音文件在播放时被截短了（原有160044字节，"
                                                      "现在只有120044字节）"))
        << out.SourceProblem();
    ASSERT_TRUE(WaitFor([&] { return !out.Playing(); }));
    EXPECT_EQ(out.Cursor(), 40000 * 4);
  }
  ExpectSameSound(SoundPart(DiskSamples(disk)),
                  std::vector<int16_t>(track.samples.begin(), track.samples.begin() + 60000));
}
#endif

TEST(SdlSoundOutput, TheCursorFollowsTheDeviceAtTheRate) {
  // The dummy driver takes sound in real time and throws it away: the cursor moves at the
  // frequency. Generous bounds: this runs on a shared machine.
  Track track(80000);  // 10 s
  SetEnv("SDL_AUDIODRIVER", "dummy");
  SdlSoundOutput out(track.Open());
  ASSERT_TRUE(out.HasDevice()) << out.DeviceProblem();
  out.SetFrequency(4000);
  const auto start = std::chrono::steady_clock::now();
  out.Play(/*looping=*/false);
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  const double frames = double(out.Cursor()) / 4;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GT(frames, 0.6 * seconds * 4000 - 256) << seconds;
  EXPECT_LT(frames, 1.2 * seconds * 4000 + 256) << seconds;
  EXPECT_TRUE(out.Playing());
}

TEST(SdlSoundOutput, WithoutADeviceTheCursorRunsOnTheClockAndTheUserIsToldOnce) {
  Track track(80000);
  const std::string folder = track.dir.Path("folder");
  std::filesystem::create_directory(ToPath(folder));
  // A driver that does not exist; a disk driver that cannot write its file.
  const std::vector<std::pair<std::string, std::string>> cases = {{"no-such-driver", ""},
                                                                  {"disk", folder}};
  for (const auto& [driver, file] : cases) {
    SetEnv("SDL_AUDIODRIVER", driver);
    SetEnv("SDL_DISKAUDIOFILE", file);
    ManualClock clock;
    SdlSoundOutput out(track.Open(), &clock);
    ASSERT_FALSE(out.HasDevice()) << driver;
    EXPECT_TRUE(out.Buffer().OnClock());
    EXPECT_FALSE(out.DeviceProblem().empty());
    EXPECT_EQ(out.TakeNotice(),
              "没有可用的声音输出设备（" + out.DeviceProblem() + "），将无声播放。");
    EXPECT_EQ(out.TakeNotice(), "");
    EXPECT_EQ(out.DeviceRate(), 0);

    out.SetCursor(1000 * 4 + 3);
    out.Play(/*looping=*/false);
    clock.now += 1000000;
    EXPECT_EQ(out.Cursor(), (1000 + 8000) * 4);
    out.SetFrequency(4000);
    clock.now += 1000000;
    EXPECT_EQ(out.Cursor(), (1000 + 8000 + 4000) * 4);
    out.Stop();
    clock.now += 1000000;
    EXPECT_EQ(out.Cursor(), (1000 + 8000 + 4000) * 4);
  }
}

#ifndef _WIN32
/// Starts the sound probe, a process that plays through SdlSoundOutput until a signal ends it,
/// with SIGINT and SIGTERM at their defaults whatever ours are. Returns its pid and the read
/// end of its standard output.
std::pair<pid_t, int> StartProbe() {
  int fds[2];
  if (pipe(fds) != 0) return {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addclose(&actions, fds[1]);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults, none;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  SetEnv("SDL_AUDIODRIVER", "dummy");
  char* argv[] = {const_cast<char*>(SOUND_PROBE), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, SOUND_PROBE, &actions, &attr, argv, environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(fds[1]);
  return {pid, fds[0]};
}

TEST(SdlSoundOutput, SignalsStillEndAProcessThatPlaysSound) {
  for (int sig : {SIGTERM, SIGINT}) {
    const auto [pid, out] = StartProbe();
    ASSERT_GT(pid, 0);
    // The probe says "ready 1" once its device plays.
    std::string said;
    pollfd p{out, POLLIN, 0};
    while (said.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0) {
      char buf[64];
      const ssize_t n = read(out, buf, sizeof buf);
      if (n <= 0) break;
      said.append(buf, size_t(n));
    }
    close(out);
    EXPECT_EQ(said, "ready 1\n");

    kill(pid, sig);
    int status = 0;
    const bool ended = WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 10);
    if (!ended) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(ended) << "signal " << sig << " did not end the process";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "signal " << sig;
  }
}
#endif

}  // namespace
}  // namespace tamsel
