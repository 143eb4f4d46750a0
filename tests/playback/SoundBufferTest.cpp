#include "SoundBuffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include "SoundTestSupport.h"
#include "TestSupport.h"

#ifdef __linux__
#include <unistd.h>
#endif

namespace tamsel {
namespace {

using test::LeU32;
using test::ManualClock;
using test::Resampled;
using test::SampleBytes;
using test::StereoRamp;
using test::TempDir;
using test::WaveFile;
using test::WriteBytes;

WAVEFORMATEX Format(uint16_t channels, uint32_t rate, uint16_t bits = 16) {
  return test::PcmFormat(channels, rate, bits);
}

/// A sound file on disk, played through SoundBuffer::OpenWave.
struct Sound {
  TempDir dir;
  std::vector<int16_t> samples;
  std::unique_ptr<SoundBuffer> buffer;

  Sound(uint16_t channels, uint32_t rate, std::vector<int16_t> s) : samples(std::move(s)) {
    WriteBytes(dir.Path("v.wav"), WaveFile(Format(channels, rate), SampleBytes(samples)));
    buffer = SoundBuffer::OpenWave(dir.Path("v.wav"));
  }
};

std::vector<int16_t> Render(SoundBuffer& b, int frames, int rate, int channels) {
  std::vector<int16_t> out(size_t(frames * channels), int16_t(12345));
  b.Render(out.data(), frames, rate, channels);
  return out;
}

TEST(SoundBuffer, CursorIsAlwaysAWholeFrameWithinTheData) {
  // One minute of stereo at 48 kHz (4-byte frames) and of mono at 44.1 kHz (2-byte frames).
  SoundBuffer stereo(Format(2, 48000), int64_t(60) * 48000 * 4);
  SoundBuffer mono(Format(1, 44100), int64_t(60) * 44100 * 2);
  struct Case {
    SoundBuffer* b;
    int64_t set, cursor;
  } cases[] = {
      // 1000 ms at 48 kHz stereo: 1000 × 480 × 2 / 5.
      {&stereo, 192000, 192000},
      // Offsets inside a frame would swap the channels or a sample's bytes: rounded down.
      {&stereo, 192001, 192000},
      {&stereo, 192002, 192000},
      {&stereo, 192003, 192000},
      {&stereo, 3, 0},
      {&mono, 44101, 44100},
      {&mono, 1, 0},
      // Before the start and past the end: kept within the data.
      {&stereo, -7, 0},
      {&stereo, stereo.Size() + 1, stereo.Size()},
      {&stereo, int64_t(1) << 40, stereo.Size()},
      {&mono, mono.Size() + 3, mono.Size()},
  };
  for (const auto& c : cases) {
    c.b->SetCursor(c.set);
    EXPECT_EQ(c.b->Cursor(), c.cursor) << c.set;
  }
  // A size that is not a whole number of frames: the part-frame at the end is not sound.
  SoundBuffer odd(Format(2, 48000), 4003);
  EXPECT_EQ(odd.Size(), 4000);
  odd.SetCursor(4003);
  EXPECT_EQ(odd.Cursor(), 4000);
}

TEST(SoundBuffer, ASeekPastTheEndStopsAPlayOnceButNotALoop) {
  Sound s(2, 8000, StereoRamp(100));
  SoundBuffer& b = *s.buffer;
  b.SetCursor(1 << 20);
  EXPECT_EQ(b.Cursor(), 400);
  b.Play(/*looping=*/false);
  EXPECT_FALSE(b.Playing());
  EXPECT_EQ(Render(b, 4, 8000, 2), std::vector<int16_t>(8, 0));
  b.Play(/*looping=*/true);  // at the end, a loop goes on from the start
  EXPECT_TRUE(b.Playing());
  EXPECT_EQ(Render(b, 3, 8000, 2), Resampled(s.samples, 2, 0, 1.0, 3));
}

TEST(SoundBuffer, PlaysTheSourceAtItsOwnRateUnchanged) {
  Sound s(2, 48000, StereoRamp(1000));
  SoundBuffer& b = *s.buffer;
  EXPECT_EQ(b.Frequency(), 48000);
  b.SetCursor(100 * 4);
  b.Play(/*looping=*/false);
  const auto out = Render(b, 256, 48000, 2);
  EXPECT_EQ(out, std::vector<int16_t>(s.samples.begin() + 200, s.samples.begin() + 200 + 512));
  EXPECT_EQ(b.Cursor(), (100 + 256) * 4);
}

TEST(SoundBuffer, RenderResamplesByFrequencySoPitchFollows) {
  struct Case {
    int64_t frequency;
    int deviceRate;
    double step;  // source frames per device frame
  } cases[] = {
      {24000, 48000, 0.5},  // half speed: every frame and the midpoint after it
      {48000, 48000, 1.0},
      {72000, 48000, 1.5},
      {96000, 48000, 2.0},              // double speed: every other frame
      {48000, 44100, 48000.0 / 44100},  // a device at another rate: same pitch
      {12345, 48000, 12345.0 / 48000},
  };
  for (const auto& c : cases) {
    Sound s(2, 48000, StereoRamp(4000));
    SoundBuffer& b = *s.buffer;
    b.SetFrequency(c.frequency);
    b.SetCursor(10 * 4);
    b.Play(/*looping=*/false);
    // In two calls, as a device asks: the part-frame between them is carried over.
    auto out = Render(b, 700, c.deviceRate, 2);
    const auto more = Render(b, 300, c.deviceRate, 2);
    out.insert(out.end(), more.begin(), more.end());
    const auto expected = Resampled(s.samples, 2, 10, c.step, 1000);
    ASSERT_EQ(out.size(), expected.size());
    for (size_t i = 0; i < out.size(); ++i) {
      ASSERT_NEAR(out[i], expected[i], 1) << c.frequency << " at " << i;
    }
    // The cursor has moved by the sound used: 1000 device frames × step, rounded down.
    EXPECT_EQ(b.Cursor(), (10 + int64_t(c.frequency * 1000 / c.deviceRate)) * 4) << c.frequency;
  }
}

TEST(SoundBuffer, ChannelsStayInPlace) {
  // Stereo on a stereo device: left stays left. Mono on a stereo device: both. Stereo on a
  // mono device: the mean. Stereo on a 4-channel device: left, right, then silence.
  Sound stereo(2, 8000, StereoRamp(10));
  Sound mono(1, 8000, {100, -200, 300, -400});
  stereo.buffer->Play(false);
  EXPECT_EQ(Render(*stereo.buffer, 2, 8000, 2),
            (std::vector<int16_t>{-19999, 15003, -19899, 14966}));
  EXPECT_EQ(Render(*stereo.buffer, 2, 8000, 1),
            (std::vector<int16_t>{(-19799 + 14929) / 2, (-19699 + 14892) / 2}));
  EXPECT_EQ(Render(*stereo.buffer, 1, 8000, 4), (std::vector<int16_t>{-19599, 14855, 0, 0}));
  mono.buffer->Play(false);
  EXPECT_EQ(Render(*mono.buffer, 2, 8000, 2), (std::vector<int16_t>{100, 100, -200, -200}));
}

TEST(SoundBuffer, OddOffsetsNeverSwapChannelsOrBytes) {
  Sound s(2, 8000, StereoRamp(10));
  s.buffer->Play(false);
  for (int64_t offset : {9, 10, 11}) {  // inside frame 2
    s.buffer->SetCursor(offset);
    EXPECT_EQ(Render(*s.buffer, 1, 8000, 2), (std::vector<int16_t>{s.samples[4], s.samples[5]}))
        << offset;
  }
}

TEST(SoundBuffer, PlayOnceStopsAtTheEndAndALoopWraps) {
  Sound s(2, 8000, StereoRamp(50));
  SoundBuffer& b = *s.buffer;
  b.SetCursor(40 * 4);
  b.Play(/*looping=*/false);
  auto out = Render(b, 16, 8000, 2);
  // Ten frames of sound, then silence; the cursor at the end, stopped.
  EXPECT_EQ(std::vector<int16_t>(out.begin(), out.begin() + 20),
            std::vector<int16_t>(s.samples.begin() + 80, s.samples.end()));
  EXPECT_EQ(std::vector<int16_t>(out.begin() + 20, out.end()), std::vector<int16_t>(12, 0));
  EXPECT_EQ(b.Cursor(), 50 * 4);
  EXPECT_FALSE(b.Playing());

  b.SetCursor(40 * 4);
  b.Play(/*looping=*/true);
  out = Render(b, 16, 8000, 2);
  std::vector<int16_t> expected(s.samples.begin() + 80, s.samples.end());
  expected.insert(expected.end(), s.samples.begin(), s.samples.begin() + 12);
  EXPECT_EQ(out, expected);
  EXPECT_EQ(b.Cursor(), 6 * 4);
  EXPECT_TRUE(b.Playing());

  // At half speed over the loop's seam the last frame leads into the first.
  b.SetCursor(49 * 4);
  b.SetFrequency(4000);
  out = Render(b, 2, 8000, 2);
  EXPECT_EQ(out[2], int16_t(std::lround((s.samples[98] + s.samples[0]) / 2.0)));
  EXPECT_EQ(out[3], int16_t(std::lround((s.samples[99] + s.samples[1]) / 2.0)));
  EXPECT_EQ(b.Cursor(), 0);
}

TEST(SoundBuffer, StopAndFrequencyZeroHoldTheCursorInSilence) {
  Sound s(2, 8000, StereoRamp(50));
  SoundBuffer& b = *s.buffer;
  b.SetCursor(20 * 4);
  // Never started, stopped after playing, and playing at frequency 0: silence, cursor held.
  EXPECT_EQ(Render(b, 8, 8000, 2), std::vector<int16_t>(16, 0));
  EXPECT_EQ(b.Cursor(), 80);
  b.Play(false);
  Render(b, 5, 8000, 2);
  b.Stop();
  EXPECT_FALSE(b.Playing());
  EXPECT_EQ(b.Cursor(), 100);
  EXPECT_EQ(Render(b, 8, 8000, 2), std::vector<int16_t>(16, 0));
  EXPECT_EQ(b.Cursor(), 100);

  b.Play(false);  // goes on from the cursor
  b.SetFrequency(0);
  EXPECT_EQ(Render(b, 8, 8000, 2), std::vector<int16_t>(16, 0));
  EXPECT_EQ(b.Cursor(), 100);
  EXPECT_TRUE(b.Playing());  // halted, not stopped
  b.SetFrequency(-5);        // no such rate: halted as well
  EXPECT_EQ(b.Frequency(), 0);
  b.SetFrequency(8000);
  EXPECT_EQ(Render(b, 1, 8000, 2), (std::vector<int16_t>{s.samples[50], s.samples[51]}));
}

TEST(SoundBuffer, ACursorSetWhileTheDeviceRendersStaysSet) {
  // A device thread renders without pause while the window's thread stops the sound and sets
  // the cursor: a Render that began before must not put back the cursor it started from.
  Sound s(2, 8000, StereoRamp(4000));
  SoundBuffer& b = *s.buffer;
  std::atomic<bool> done{false};
  std::atomic<int64_t> renders{0};
  std::thread device([&] {
    std::vector<int16_t> out(512 * 2);
    while (!done) {
      b.Render(out.data(), 512, 8000, 2);
      ++renders;
    }
  });
  int wrong = 0;
  for (int i = 0; i < 2000; ++i) {
    b.Play(/*looping=*/true);
    const int64_t seen = renders;
    while (renders < seen + 1) std::this_thread::yield();
    b.Stop();
    const int64_t set = (i * 37 % 4000) * 4;
    b.SetCursor(set);
    const int64_t after = renders;
    while (renders < after + 2) std::this_thread::yield();
    wrong += b.Cursor() != set;
  }
  done = true;
  device.join();
  EXPECT_EQ(wrong, 0);
}

TEST(SoundBuffer, OnAClockTheCursorMovesByTimeTimesFrequency) {
  ManualClock clock;
  SoundBuffer b(Format(2, 48000), int64_t(10) * 48000 * 4);  // 10 s
  b.RunOnClock(&clock);
  EXPECT_TRUE(b.OnClock());
  clock.now += 500000;  // time while stopped does not count
  EXPECT_EQ(b.Cursor(), 0);

  b.Play(false);
  clock.now += 1000000;
  EXPECT_EQ(b.Cursor(), 192000);  // 1 s at 48 kHz stereo

  b.SetFrequency(24000);  // half speed from here on
  for (int i = 0; i < 3000; ++i) {
    clock.now += 333;  // part-frames are carried over, not lost at every look
    b.Cursor();
  }
  EXPECT_EQ(b.Cursor(), 192000 + 23976 * 4);  // 0.999 s × 24000

  b.SetFrequency(0);
  clock.now += 2000000;
  EXPECT_EQ(b.Cursor(), 192000 + 23976 * 4);
  EXPECT_TRUE(b.Playing());

  b.SetFrequency(48000);
  b.Stop();
  clock.now += 2000000;
  EXPECT_EQ(b.Cursor(), 192000 + 23976 * 4);

  // Once: stops at the end; looping: wraps.
  b.SetCursor(b.Size() - 4800 * 4);
  b.Play(false);
  clock.now += 200000;
  EXPECT_EQ(b.Cursor(), b.Size());
  EXPECT_FALSE(b.Playing());
  b.SetCursor(b.Size() - 4800 * 4);
  b.Play(true);
  clock.now += 200000;
  EXPECT_EQ(b.Cursor(), 4800 * 4);
  EXPECT_TRUE(b.Playing());

  // A device's Render does not move a cursor that follows a clock, and plays nothing.
  std::vector<int16_t> out(100, 1);
  b.Render(out.data(), 50, 48000, 2);
  EXPECT_EQ(out, std::vector<int16_t>(100, 0));
  EXPECT_EQ(b.Cursor(), 4800 * 4);
}

TEST(SoundBuffer, OpenWaveMapsTheDataChunkOnly) {
  TempDir dir;
  const auto samples = StereoRamp(100);
  const std::string data = SampleBytes(samples);
  // The preparation's own chunk behind the data is not sound.
  const std::string mark = "tmsl" + LeU32(8) + "TamselWS";
  struct Case {
    std::string file;
    int64_t size;
  } cases[] = {
      {WaveFile(Format(2, 8000), data), 400},
      {WaveFile(Format(2, 8000), data, mark), 400},
      // A data size larger than the file: cut to what is there.
      {WaveFile(Format(2, 8000), data, "", 0xFFFFFFFF), 400},
      {WaveFile(Format(2, 8000), data, "", 1000000), 400},
      // A part-frame at the end of the data.
      {WaveFile(Format(2, 8000), data + "xyz"), 400},
      {WaveFile(Format(2, 8000), data.substr(0, 3)), 0},
      {WaveFile(Format(2, 8000), ""), 0},
  };
  for (const auto& c : cases) {
    const std::string path = dir.Path("v.wav");
    WriteBytes(path, c.file);
    auto b = SoundBuffer::OpenWave(path);
    ASSERT_EQ(b->Size(), c.size);
    if (c.size > 0) {
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(b->Data()), 400), data);
    }
    b->SetCursor(1 << 20);
    EXPECT_EQ(b->Cursor(), c.size);
    b->SetCursor(0);
    b->Play(false);
    const auto out = Render(*b, 200, 8000, 2);
    EXPECT_EQ(std::vector<int16_t>(out.begin(), out.begin() + c.size / 2),
              std::vector<int16_t>(samples.begin(), samples.begin() + c.size / 2));
    EXPECT_EQ(std::vector<int16_t>(out.begin() + c.size / 2, out.end()),
              std::vector<int16_t>(size_t(400 - c.size / 2), 0));
  }
}

#ifndef _WIN32
TEST(SoundBuffer, AWavCutWhilePlayingPlaysSilenceFromTheCutAndSaysSo) {
  // Two seconds of stereo at 8 kHz; another program cuts the file to its first half second.
  Sound s(2, 8000, StereoRamp(16000));
  SoundBuffer& b = *s.buffer;
  const std::string path = s.dir.Path("v.wav");
  const uint64_t whole = 44 + 16000 * 4;
  EXPECT_EQ(b.SourceProblem(), "");
  b.SetCursor(6000 * 4);
  b.Play(/*looping=*/false);
  EXPECT_EQ(Render(b, 100, 8000, 2), Resampled(s.samples, 2, 6000, 1.0, 100));
  std::filesystem::resize_file(ToPath(path), 44 + 4000 * 4);
  EXPECT_EQ(b.SourceProblem(), path + "\r声音文件在播放时被截短了（原有" + std::to_string(whole) +
                                   "字节，现在只有16044字节），截掉的声音无法再播放。");
  // Past the cut: silence, on the device's thread as on this one; the cursor moves on.
  std::vector<int16_t> played;
  std::thread device([&] { played = Render(b, 1000, 8000, 2); });
  device.join();
  EXPECT_EQ(played, std::vector<int16_t>(2000, 0));
  EXPECT_EQ(b.Cursor(), (6100 + 1000) * 4);
  // Before it: the sound as it was.
  b.SetCursor(100 * 4);
  EXPECT_EQ(Render(b, 50, 8000, 2), Resampled(s.samples, 2, 100, 1.0, 50));
}
#endif

TEST(SoundBuffer, OpenWaveRefusesWhatItCannotPlayNamingTheFile) {
  TempDir dir;
  WAVEFORMATEX float32 = Format(2, 48000, 32);
  float32.wFormatTag = 3;
  struct Case {
    std::string file;
    std::string reason;
  } cases[] = {
      {WaveFile(Format(2, 48000, 8), "abcd"), "只能播放16位的声音，这个文件是8位的"},
      {WaveFile(Format(2, 48000, 24), "abcdef"), "只能播放16位的声音，这个文件是24位的"},
      {WaveFile(float32, "abcdefgh"), "不是PCM格式的声音"},
      {WaveFile(Format(0, 48000), "abcd"), "声道数为0"},
      {WaveFile(Format(2, 0), "abcd"), "采样率为0"},
      {WaveFile(Format(9, 48000), "abcd"), "最多只能播放8个声道，这个文件有9个"},
      {WaveFile(Format(2, 384100), "abcd"), "采样率最高只能是384000Hz，这个文件是384100Hz"},
      {"RIFF" + LeU32(4) + "AVI ", "不是WAV文件"},
  };
  for (const auto& c : cases) {
    WriteBytes(dir.Path("v.wav"), c.file);
    try {
      SoundBuffer::OpenWave(dir.Path("v.wav"));
      ADD_FAILURE() << c.reason;
    } catch (const FileError& e) {
      EXPECT_EQ(e.path(), dir.Path("v.wav"));
      EXPECT_EQ(std::string(e.what()), c.reason);
    }
  }
  EXPECT_THROW(SoundBuffer::OpenWave(dir.Path("none.wav")), FileError);
  EXPECT_THROW(SoundBuffer(Format(2, 0), 100), MediaError);
}

#ifdef __linux__
size_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  size_t total = 0, resident = 0;
  statm >> total >> resident;
  return resident * size_t(sysconf(_SC_PAGESIZE));
}

/// The line of /proc/self/maps whose range holds `p`.
std::string MappingOf(const void* p) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  const auto addr = reinterpret_cast<uintptr_t>(p);
  while (std::getline(maps, line)) {
    unsigned long from = 0, to = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx", &from, &to) == 2 && from <= addr && addr < to) {
      return line;
    }
  }
  return "";
}

TEST(SoundBuffer, ALongTrackIsMappedNotCopied) {
  // 512 MB of sound (about 47 minutes of 48 kHz stereo), in a sparse file that costs no disk.
  TempDir dir;
  const std::string path = dir.Path("long.wav");
  const uint32_t bytes = 512u << 20;
  WriteBytes(path, WaveFile(Format(2, 48000), "", "", bytes));
  ASSERT_EQ(truncate(path.c_str(), 44 + off_t(bytes)), 0);

  const size_t before = ResidentBytes();
  auto b = SoundBuffer::OpenWave(path);
  ASSERT_EQ(b->Size(), int64_t(bytes));
  b->SetCursor(b->Size() / 2);
  b->Play(false);
  Render(*b, 48000, 48000, 2);  // play a second from the middle
  EXPECT_LT(ResidentBytes() - std::min(before, ResidentBytes()), size_t(32) << 20);
  EXPECT_NE(MappingOf(b->Data()).find(path), std::string::npos) << MappingOf(b->Data());
  EXPECT_NE(MappingOf(b->Data() + b->Size() - 1).find(path), std::string::npos);
}
#endif

}  // namespace
}  // namespace tamsel
