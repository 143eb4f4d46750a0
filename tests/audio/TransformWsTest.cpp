#include "TransformWs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "SideData.h"
#include "TestSupport.h"

namespace tamsel {
namespace {

using test::ReadBytes;
using test::RecordingPrompts;
using test::TempDir;
using test::WriteBytes;

std::string U32(uint32_t v) {
  return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}
std::string U16(uint16_t v) { return std::string{char(v), char(v >> 8)}; }

struct Format {
  uint16_t channels = 2;
  uint32_t rate = 48000;
  uint32_t fmtSize = 16;
  uint16_t tag = 1;
  uint16_t bits = 16;
};

/// A canonical WAV file: RIFF header, fmt chunk, data chunk with `samples` (interleaved).
std::string MakeWav(const std::vector<int16_t>& samples, const Format& f = {}) {
  std::string data;
  data.reserve(samples.size() * 2);
  for (int16_t s : samples) data += U16(static_cast<uint16_t>(s));
  std::string fmt = U16(f.tag) + U16(f.channels) + U32(f.rate) +
                    U32(f.rate * f.channels * f.bits / 8) + U16(f.channels * f.bits / 8) +
                    U16(f.bits);
  fmt.resize(f.fmtSize, '\0');
  const std::string body = "WAVE" + std::string("fmt ") + U32(f.fmtSize) + fmt + "data" +
                           U32(static_cast<uint32_t>(data.size())) + data;
  return "RIFF" + U32(static_cast<uint32_t>(body.size())) + body;
}

/// An editor state for "v.wav" in a fresh folder, with the volume setting at `position`.
struct Builder {
  TempDir dir;
  RecordingPrompts prompts;
  EditorState st;
  std::vector<std::pair<std::string, int>> reports;

  explicit Builder(int position = 0) {
    st.Prompts = &prompts;
    st.BaseFileName = dir.Path("v");
    st.WavFileName = dir.Path("v.wav");
    st.WsFileName = dir.Path("v.ws");
    st.AiFileName = dir.Path("v.ai");
    st.Ctrl.TrackBarAutoVolCtrlSpeed = position;
  }
  bool Run(const std::string& wav, size_t blockBytes = TRANSFORM_WS_BLOCK_BYTES) {
    WriteBytes(st.WavFileName, wav);
    return Run(blockBytes);
  }
  bool Run(size_t blockBytes = TRANSFORM_WS_BLOCK_BYTES) {
    reports.clear();
    return TransformWs(
        st,
        [this](const std::string& label, int position) { reports.emplace_back(label, position); },
        blockBytes);
  }
  std::string Ws() const { return ReadBytes(st.WsFileName); }
  std::string Ai() const { return ReadBytes(st.AiFileName); }
  std::string Wav() const { return ReadBytes(st.WavFileName); }
  bool HasSideFiles() const { return FileExists(st.WsFileName) || FileExists(st.AiFileName); }
  /// Names of the files in the folder besides the WAV and the side files.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(ToPath(dir.Path()))) {
      const std::string name = FromPath(e.path().filename());
      if (name != "v.wav" && name != "v.ws" && name != "v.ai") names.push_back(name);
    }
    return names;
  }
};

/// Bytes of the level mark that an adjusted file of `slots` slots ends in.
size_t LevelMarkBytes(size_t slots) { return 8 + 4 * slots + 24; }

std::vector<int8_t> Signed(const std::string& bytes) {
  return std::vector<int8_t>(bytes.begin(), bytes.end());
}

// ---------------------------------------------------------------------------------------------
// A whole-file, in-memory transcription of the builder, step by step, to compare the streaming
// builder with.

struct Reference {
  std::string ws, ai, wav;
};

int32_t RefLe16(const std::string& b, int64_t at) {
  return static_cast<int16_t>(uint16_t(uint8_t(b[at])) | uint16_t(uint8_t(b[at + 1])) << 8);
}
int64_t RefLe32(const std::string& b, int64_t at) {
  return int64_t(uint8_t(b[at])) | int64_t(uint8_t(b[at + 1])) << 8 |
         int64_t(uint8_t(b[at + 2])) << 16 | int64_t(uint8_t(b[at + 3])) << 24;
}

void RefSmooth(std::vector<int32_t>& v) {
  const int64_t last = int64_t(v.size()) - 1;
  for (int64_t i = 1; i <= last - 4; i++) v[i] = (v[i - 1] + v[i] + v[i + 1]) / 3;
  for (int64_t i = 1; i <= last - 4; i++) v[i] = (v[i] + v[i + 1] + v[i + 2]) / 3;
  for (int64_t i = 2; i <= last - 2; i++)
    v[i] = (v[i - 2] + v[i - 1] + v[i] + 2 * v[i + 1] + v[i + 2]) / 6;
  for (int64_t i = 2; i <= last - 2; i++)
    v[i] = (v[i - 2] + v[i - 1] + v[i] + 2 * v[i + 1] + v[i + 2]) / 6;
}

std::vector<uint8_t> RefScores(const std::vector<int32_t>& v, bool end, int p) {
  const int64_t last = int64_t(v.size()) - 1;
  std::vector<uint8_t> s(v.size());
  int32_t avg = (v[0] + v[1] + v[2] + v[3]) / 4;
  for (int64_t i = 0; i <= last; i++) {
    int32_t d = end ? avg - v[i] : v[i] - avg;
    avg = (3 * avg + v[i]) / 4;
    int score = 0;
    if (d >= 4) {
      while (d > 4) {
        d = d / 2;
        score++;
      }
    }
    s[i] = uint8_t(score);
  }
  for (int64_t i = 1; i <= last - 1; i++) s[i] = uint8_t((s[i - 1] + s[i] + s[i + 1]) / 3);
  int64_t w = 0;
  while (w < last - 8) {
    if (s[w] == 0) {
      w++;
    } else {
      int64_t n = 1, sum = 0;
      while (w + n < last && s[w + n] > 0) {
        sum += s[w + n];
        n++;
      }
      if (n < 9 || (n < 2 * (10 - p) && sum / n < 5)) {
        for (int64_t k = w; k < w + n; k++) s[k] = 0;
      }
      w += n;
    }
  }
  return s;
}

Reference RefBuild(const std::string& file, int position) {
  const int64_t riffSize = RefLe32(file, 4);
  const int64_t fmtSize = RefLe32(file, 16);
  const int64_t ch = RefLe16(file, 22);
  const int64_t rate = RefLe32(file, 24);
  const int64_t a = fmtSize == 18 ? 46 : 44;
  const int64_t d = RefLe32(file, a - 4);
  const int64_t s = rate / 100;
  const int64_t q = s * ch * 2;
  const int64_t data = std::min<int64_t>(d, std::max<int64_t>(int64_t(file.size()) - a, 0));
  const int64_t n = data / q;
  const int64_t b = (n + 3000) / 100 * 100;

  // Peak scan.
  std::vector<int32_t> peak(2 * b, 0);
  for (int64_t i = 0; i <= n - 2; i++) {
    const int64_t slot = a + i * q;
    int32_t m1 = 0, m2 = 0;
    for (int64_t off = 0; off < q; off += 8 * ch * 2) {
      const int32_t x1 = RefLe16(file, slot + off);
      if (x1 >= 0 && x1 > m1) m1 = x1;
      if (ch == 2) {
        const int32_t x2 = RefLe16(file, slot + off + 2);
        if (x2 >= 0 && x2 > m2) m2 = x2;
      }
    }
    if (ch != 2) m2 = m1;
    peak[2 * i] = m1;
    peak[2 * i + 1] = m2;
  }

  // Block levels.
  const int64_t blocks = b / 20, lastBlock = blocks - 1;
  std::vector<int32_t> level(blocks);
  for (int64_t m = 0; m < blocks; m++) {
    int32_t top = 0;
    for (int64_t k = 40 * m; k < 40 * m + 40; k++) top = std::max(top, peak[k]);
    level[m] = std::max(top, 256);
  }
  for (int k = 0; k <= 7; k++) level[k] = std::max(level[k], 32000 - 5000 * k);
  if (n > 800) {
    const int64_t l = n / 20;
    for (int m = 0; m <= 33; m++) level[l - 33 + m] = std::max(level[l - 33 + m], 1000 * m);
    for (int64_t m = l; m <= lastBlock; m++) level[m] = 32767;
  }
  const int p = std::clamp(position, 0, 5);
  const int w = 14 - 2 * p;
  const int32_t floor = 256 * (1 << (5 - p));
  for (int64_t j = 0; j <= lastBlock - w; j++) {
    int32_t top = floor;
    for (int64_t k = j; k <= j + w; k++) top = std::max(top, level[k]);
    level[j] = top;
  }
  const int h = 14 - 2 * p;
  for (int64_t j = h; j <= lastBlock - 2 * h; j++) {
    int64_t sum = 0;
    for (int64_t k = j - h; k <= j + h; k++) sum += level[k];
    const int32_t avg = int32_t(sum / (2 * h + 1));
    level[j] = std::max(avg, level[j] + level[j] / 5);
  }

  // Gains and envelope.
  std::vector<float> gain(b);
  std::vector<int32_t> env(2 * b);
  for (int64_t m = 0; m < blocks; m++) {
    for (int g = 0; g < 20; g++) {
      const int64_t f = 20 * m + g;
      const double next = level[std::min(m + 1, lastBlock)];
      gain[f] = float(32770.0 / (level[m] / 20.0 * (20 - g) + next / 20.0 * g));
      env[2 * f] = std::min<int32_t>(int32_t(std::trunc(peak[2 * f] * double(gain[f]))) / 410, 63);
      env[2 * f + 1] =
          std::min<int32_t>(int32_t(std::trunc(peak[2 * f + 1] * double(gain[f]))) / 410, 63);
    }
  }
  Reference r;
  for (int64_t i = 0; i < n; i++) {
    r.ws += char(env[2 * i]);
    r.ws += char(env[2 * i + 1] == 0 ? -1 : -env[2 * i + 1]);
  }

  // Speech scores: begin scores from the smoothed series, end scores after smoothing it again.
  std::vector<int32_t> series = peak;
  RefSmooth(series);
  const std::vector<uint8_t> begin = RefScores(series, false, p);
  RefSmooth(series);
  const std::vector<uint8_t> end = RefScores(series, true, p);
  for (int64_t i = 0; i < n; i++) {
    r.ai += char(begin[2 * i]);
    r.ai += char(end[2 * i + 1]);
  }

  r.wav = file;
  if (p == 0) return r;

  // Clipping protection and volume adjustment on the whole file in memory.
  const int64_t fileSize = std::min<int64_t>(riffSize + 8, int64_t(file.size()));
  std::vector<int32_t> val(fileSize / 2);
  for (size_t k = 0; k < val.size(); k++) val[k] = RefLe16(file, 2 * int64_t(k));
  const int64_t lastVal = int64_t(val.size()) - 1;
  const int64_t bigG = ((data / 2 - 8) / s / ch) - 10;
  const int64_t lastSlot = b - 1;
  for (int64_t H = 0; H <= bigG; H++) {
    const int64_t j0 = a / 2 + H * s * ch;
    const int64_t j1 = std::min(j0 + s * ch - 1, lastVal - 16);
    for (int64_t j = j0; j <= j1 - 1; j++) {
      const int64_t x = int64_t(std::trunc(val[j] * double(gain[H])));
      const int64_t k0 = std::abs(x) / 100;
      if (k0 < 327) continue;
      const int64_t K = ((k0 - 327) * 100) / k0;
      const int64_t L = std::max<int64_t>(H - K, 0);
      int M = 100;
      for (int64_t t = L; t <= std::min(L + K, lastSlot); t++) {
        gain[t] = float(double(gain[t]) * M / 100);
        M--;
      }
      const int64_t e = std::min(L + K, lastSlot);
      for (int64_t t = e; t <= std::min(e + 2 * K, lastSlot); t++) {
        gain[t] = float(double(gain[t]) * M / 100);
        M = std::min(M + 1, 100);
      }
    }
  }
  for (int64_t H = 0; H <= bigG; H++) {
    const int64_t j0 = a / 2 + H * s * ch;
    const int64_t j1 = std::min(j0 + s * ch - 1, lastVal - 16);
    for (int64_t j = j0; j <= j1; j++) {
      val[j] = std::clamp<int32_t>(int32_t(std::trunc(val[j] * double(gain[H]))), -32767, 32767);
    }
  }
  for (size_t k = 0; k < val.size(); k++) {
    r.wav[2 * k] = char(val[k] & 0xFF);
    r.wav[2 * k + 1] = char((val[k] >> 8) & 0xFF);
  }
  if (bigG < 0 || lastVal - 16 < a / 2) return r;  // nothing was adjusted

  // The adjusted file ends in its level mark: at an even offset, "tmsl", the body size, the
  // .ws and .ai bytes, the slot count (8 bytes), the setting, the layout's version 1 (4 bytes
  // each) and "TamselWS". The RIFF size takes it in; a data size beyond the end of the file is
  // cut to the data there is.
  if (r.wav.size() % 2 != 0) r.wav += '\0';
  r.wav += "tmsl" + U32(uint32_t(4 * n + 24)) + r.ws + r.ai + U32(uint32_t(n)) + U32(0) +
           U32(uint32_t(p)) + U32(1) + "TamselWS";
  r.wav.replace(4, 4, U32(uint32_t(r.wav.size() - 8)));
  if (d > data) r.wav.replace(a - 4, 4, U32(uint32_t(data)));
  return r;
}

/// Noise, a tone that comes and goes, silent gaps and full-scale bursts, differing by channel.
std::vector<int16_t> TestSignal(int channels, int rate, double seconds, uint32_t seed) {
  std::mt19937 rng(seed);
  const int64_t frames = int64_t(seconds * rate);
  std::vector<int16_t> out;
  out.reserve(frames * channels);
  for (int64_t t = 0; t < frames; ++t) {
    const double sec = double(t) / rate;
    const int phase = int(sec * 3) % 6;  // a third of a second per phase
    const double amp = phase == 0 ? 0 : phase == 3 ? 12000 : 2500 + 600 * phase;
    for (int c = 0; c < channels; ++c) {
      double v = amp * std::sin(2 * std::numbers::pi * (440 + 110 * c) * sec);
      v += int(rng() % 801) - 400;
      if (phase == 0) v *= 0.05;
      // A loud burst of 40 ms every 1.7 s, with full-scale samples in it.
      if (std::fmod(sec, 1.7) < 0.04) v = (rng() % 3 == 0) ? -32768.0 : 32000.0 * std::sin(t * 0.7);
      out.push_back(int16_t(std::clamp(v, -32768.0, 32767.0)));
    }
  }
  return out;
}

// ---------------------------------------------------------------------------------------------

TEST(TransformWs, HandCheckedEnvelopeOfATinyFile) {
  // 1600 Hz stereo: 16 frames a slot, of which frames 0 and 8 are looked at.
  std::vector<int16_t> s;
  const auto slot = [&](int16_t l0, int16_t r0, int16_t l8, int16_t r8) {
    for (int f = 0; f < 16; ++f) {
      s.push_back(f == 0 ? l0 : f == 8 ? l8 : 32000);  // the other frames are never looked at
      s.push_back(f == 0 ? r0 : f == 8 ? r8 : 32000);
    }
  };
  slot(20000, -5, 1000, -7);
  slot(-1, 16000, -1, 3);
  slot(25000, 900, 24000, 899);
  slot(100, 5000, 31000, 4999);
  slot(30000, 30000, 30000, 30000);    // the last whole slot is not scanned
  s.insert(s.end(), {1, 2, 3, 4, 5});  // 10 bytes: no whole slot
  const std::string wav = MakeWav(s, {2, 1600});

  for (int position : {0, 3}) {
    Builder b(position);
    ASSERT_TRUE(b.Run(wav));
    // Block 0 has level 32000 and block 1 27000, so slot g of block 0 has the gain
    // 32770 / (32000 - 250 g): 1.02406, 1.03213, 1.04032, 1.04864.
    //   20000 * 1.02406 = 20481 -> 49;  16000 * 1.03213 = 16514 -> 40
    //   25000 * 1.04032 = 26008 -> 63;    900 * 1.04032 =   936 -> 2
    //   31000 * 1.04864 = 32508 -> 79, at most 63;  5000 * 1.04864 = 5243 -> 12
    EXPECT_EQ(Signed(b.Ws()), (std::vector<int8_t>{49, -1, 0, -40, 63, -2, 63, -12, 0, -1}));
    EXPECT_EQ(b.Ai().size(), 10u);
    EXPECT_EQ(b.st.WavChannels, 2);
    EXPECT_EQ(b.st.SamplesPerSlot, 16);
    EXPECT_EQ(b.st.WavDataSize, 5 * 64 + 10);
    EXPECT_EQ(b.st.WavFileSize, int64_t(wav.size()));
    EXPECT_EQ(b.st.AutoVolLevel, position);
    EXPECT_EQ(b.st.WavSel.size(), 3000u);
    EXPECT_TRUE(b.prompts.messages.empty());
    EXPECT_TRUE(b.Leftovers().empty());
    if (position == 0) {
      EXPECT_EQ(b.Wav(), wav);
    }
  }
}

TEST(TransformWs, EnvelopeProductIsTakenInDouble) {
  // Slot 15 of block 0 has the gain 32770 / (32000 / 4 + 27000 * 3 / 4) = 32770 / 28250 = 1.16,
  // stored as a float just below it. 10250 * 1.16 = 11890 = 29 * 410 exactly, so the exact
  // product with the stored gain truncates to 11889 -> 28; a single-precision product would
  // round up to 11890 -> 29.
  std::vector<int16_t> s(16 * 18, 0);  // 1600 Hz mono: 16 samples a slot
  s[16 * 15] = 10250;
  Builder b(0);
  ASSERT_TRUE(b.Run(MakeWav(s, {1, 1600})));
  std::vector<int8_t> want(36, -1);
  for (size_t i = 0; i < want.size(); i += 2) want[i] = 0;
  want[30] = 28;
  want[31] = -28;
  EXPECT_EQ(Signed(b.Ws()), want);
}

TEST(TransformWs, BlockLevelsOfSilenceByHand) {
  // 3000 slots of silence; only the opening floors stand out. Position 5: look ahead over 5
  // blocks with floor 256, then average over 9 blocks from block 4 on, in place.
  const std::vector<int32_t> level = WsBlockLevels(std::vector<int32_t>(6000, 0), 5, 5);
  ASSERT_EQ(level.size(), 150u);
  const std::vector<int32_t> head(level.begin(), level.begin() + 11);
  // Block 4: (32000+27000+22000+17000+12000+7000+2000+256+256) div 9 = 13279 < 12000 * 1.2.
  // Block 5: (27000+22000+17000+14400+7000+2000+3*256) div 9 = 10018, and so on.
  EXPECT_EQ(head, (std::vector<int32_t>{32000, 27000, 22000, 17000, 14400, 10018, 7382, 5564, 4293,
                                        3170, 2409}));
  EXPECT_EQ(level[100], 307);  // 256 + 256 div 5
  EXPECT_EQ(level[141], 307);  // the last averaged block
  EXPECT_EQ(level[142], 256);
  EXPECT_EQ(level[149], 256);
}

TEST(TransformWs, ClosingRampOnlyPastEightSeconds) {
  const std::vector<int32_t> silence(2 * 3800, 0);
  for (int p = 0; p <= 5; ++p) {
    EXPECT_EQ(WsBlockLevels(silence, 800, p).back(), 256) << p;
    const std::vector<int32_t> level = WsBlockLevels(silence, 801, p);
    // l = 40: blocks 7..39 ramp up by 1000 each, blocks from 40 on are full scale.
    for (size_t m = 40; m < level.size(); ++m) ASSERT_GE(level[m], 32767) << p << " " << m;
    for (int m = 0; m <= 33; ++m) ASSERT_GE(level[7 + m], 1000 * m) << p << " " << m;
  }
}

TEST(TransformWs, OpeningIsNeverAmplifiedStrongly) {
  const std::vector<int32_t> silence(6000, 0);
  const int32_t floors[] = {32000, 27000, 22000, 17000, 12000, 7000, 2000, 256};
  for (int p = 0; p <= 5; ++p) {
    const std::vector<int32_t> level = WsBlockLevels(silence, 100, p);
    for (int k = 0; k < 8; ++k) EXPECT_GE(level[k], floors[k]) << p << " " << k;
    EXPECT_GE(level[20], 256 << (5 - p)) << p;  // the look-ahead floor
  }
}

TEST(TransformWs, GainsInterpolateBetweenBlocks) {
  const std::vector<float> gains = WsSlotGains({32000, 27000, 256});
  ASSERT_EQ(gains.size(), 60u);
  EXPECT_FLOAT_EQ(gains[0], 32770.0f / 32000);
  EXPECT_FLOAT_EQ(gains[10], 32770.0f / 29500);  // halfway: 16000 + 13500
  EXPECT_FLOAT_EQ(gains[20], 32770.0f / 27000);
  EXPECT_FLOAT_EQ(gains[59], 32770.0f / 256);  // the last block interpolates to itself
}

TEST(TransformWs, SmoothingByHand) {
  std::vector<int32_t> v = {0, 0, 0, 0, 0, 90, 0, 0, 0, 0, 0, 0};
  WsSmoothSeries(v);
  // Three-point passes: 0 0 0 0 30 40 13 4 ..., then 0 0 10 23 27 19 5 1 ...;
  // five-point passes: 0 0 13 18 16 10 5 2 1 0 ..., then:
  EXPECT_EQ(v, (std::vector<int32_t>{0, 0, 10, 11, 10, 7, 4, 2, 1, 0, 0, 0}));
}

TEST(TransformWs, SmoothingAndScoresMatchPassByPassWorkOnRandomSeries) {
  // Every length up to past the passes' reach, then long series with steps of every size.
  std::mt19937 rng(7);
  for (size_t size = 0; size < 40; ++size) {
    for (int round = 0; round < 20; ++round) {
      std::vector<int32_t> v(size);
      for (auto& e : v) e = int32_t(rng() % 2000) - 500;
      std::vector<int32_t> want = v;
      RefSmooth(want);
      WsSmoothSeries(v);
      ASSERT_EQ(v, want) << size;
      if (size >= 4) {
        for (int p = 0; p <= 5; ++p) {
          ASSERT_EQ(WsEdgeScores(v, false, p), RefScores(v, false, p)) << size;
          ASSERT_EQ(WsEdgeScores(v, true, p), RefScores(v, true, p)) << size;
        }
      }
    }
  }
  std::vector<int32_t> v(50000);
  for (size_t i = 0; i < v.size(); ++i) {
    v[i] = (i / 300) % 2 == 0 ? int32_t(rng() % 30) : int32_t(rng() >> (rng() % 31)) / 2;
  }
  std::vector<int32_t> want = v;
  RefSmooth(want);
  WsSmoothSeries(v);
  ASSERT_EQ(v, want);
  for (int p : {0, 3, 5}) {
    EXPECT_EQ(WsEdgeScores(v, false, p), RefScores(v, false, p)) << p;
    EXPECT_EQ(WsEdgeScores(v, true, p), RefScores(v, true, p)) << p;
  }
}

TEST(TransformWs, EdgeScoresOfAStepByHand) {
  // Rise 100 over a running average: raw scores 5 4 4 4 3 3 2 2 2 1 1 1 1 from entry 5, then
  // smoothed into the run 1 3 3 3 3 3 2 2 2 1 1 1 1 at entries 4..16: 13 entries whose
  // scores after the first sum to 25, a mean of 1.
  std::vector<int32_t> rise(40, 100);
  std::fill_n(rise.begin(), 5, 0);
  const std::vector<uint8_t> run = {1, 3, 3, 3, 3, 3, 2, 2, 2, 1, 1, 1, 1};
  for (int p = 0; p <= 5; ++p) {
    const std::vector<uint8_t> s = WsEdgeScores(rise, /*falling=*/false, p);
    std::vector<uint8_t> want(40, 0);
    if (13 >= 2 * (10 - p)) std::copy(run.begin(), run.end(), want.begin() + 4);  // p 4 and 5
    EXPECT_EQ(s, want) << p;
    EXPECT_EQ(WsEdgeScores(rise, /*falling=*/true, p), std::vector<uint8_t>(40, 0)) << p;
  }
  // A fall of 100: raw 5 4 4 4 3 3 2 2 1 1, smoothed into 1 3 3 3 3 3 2 2 1 1 at entries 4..13,
  // ten entries: kept only where weak runs of 10 pass.
  std::vector<int32_t> fall(40, 0);
  std::fill_n(fall.begin(), 5, 100);
  std::vector<uint8_t> want(40, 0);
  const std::vector<uint8_t> fallRun = {1, 3, 3, 3, 3, 3, 2, 2, 1, 1};
  std::copy(fallRun.begin(), fallRun.end(), want.begin() + 4);
  EXPECT_EQ(WsEdgeScores(fall, true, 5), want);
  EXPECT_EQ(WsEdgeScores(fall, true, 4), std::vector<uint8_t>(40, 0));
  EXPECT_EQ(WsEdgeScores(fall, false, 5), std::vector<uint8_t>(40, 0));
}

TEST(TransformWs, ShortRunsAreDropped) {
  struct Case {
    const char* name;
    std::vector<uint8_t> run;  // placed at entry 2 of 40
    int keptFrom;              // lowest position that keeps it; 6 = never
  } cases[] = {
      {"eight strong", std::vector<uint8_t>(8, 13), 6},
      {"nine weak", std::vector<uint8_t>(9, 1), 6},
      {"nine of 6: 48 div 9 = 5", std::vector<uint8_t>(9, 6), 0},
      {"first does not count: 13 then 8 of 5 = 40 div 9", {13, 5, 5, 5, 5, 5, 5, 5, 5}, 6},
      {"ten weak", std::vector<uint8_t>(10, 1), 5},
      {"nineteen weak", std::vector<uint8_t>(19, 1), 1},
      {"twenty weak", std::vector<uint8_t>(20, 1), 0},
  };
  for (const auto& c : cases) {
    for (int p = 0; p <= 5; ++p) {
      std::vector<uint8_t> s(40, 0);
      std::copy(c.run.begin(), c.run.end(), s.begin() + 2);
      const std::vector<uint8_t> before = s;
      WsDropShortRuns(s, p);
      EXPECT_EQ(s, p >= c.keptFrom ? before : std::vector<uint8_t>(40, 0)) << c.name << " " << p;
    }
  }
  // Runs starting within the last 9 entries are not looked at; a run never takes in the last
  // entry, so it counts one less.
  std::vector<uint8_t> tail(30, 0);
  std::fill(tail.begin() + 22, tail.end(), 1);  // 8 entries from 22: left alone
  std::vector<uint8_t> kept = tail;
  WsDropShortRuns(kept, 0);
  EXPECT_EQ(kept, tail);
  std::vector<uint8_t> edge(30, 0);
  std::fill(edge.begin() + 20, edge.end(), 1);  // entries 20..29: the run is 20..28, nine long,
  kept = edge;                                  // too short at position 5 (ten would pass)
  WsDropShortRuns(kept, 5);
  std::vector<uint8_t> want(30, 0);
  want[29] = 1;
  EXPECT_EQ(kept, want);
  std::fill(edge.begin() + 20, edge.end(), 0);
  std::fill(edge.begin() + 21, edge.end(), 1);  // from 21 on it is not looked at
  kept = edge;
  WsDropShortRuns(kept, 5);
  EXPECT_EQ(kept, edge);
}

TEST(TransformWs, SilenceAndNegativeSamplesGiveEmptyPairs) {
  struct Case {
    const char* name;
    int16_t value;
  } cases[] = {{"silence", 0}, {"negative", -12345}, {"minus one", -1}, {"full negative", -32768}};
  for (const auto& c : cases) {
    Builder b(3);
    const std::string wav = MakeWav(std::vector<int16_t>(48000 * 2 * 3, c.value), {2, 48000});
    ASSERT_TRUE(b.Run(wav)) << c.name;
    const std::string ws = b.Ws();
    ASSERT_EQ(ws.size(), 600u) << c.name;
    for (size_t i = 0; i < ws.size(); i += 2) {
      ASSERT_EQ(ws[i], 0) << c.name << " " << i;
      ASSERT_EQ(ws[i + 1], -1) << c.name << " " << i;
    }
    EXPECT_EQ(b.Ai(), std::string(600, '\0')) << c.name;
  }
}

TEST(TransformWs, MonoLevelsAreEqual) {
  Builder b(0);
  const std::vector<int16_t> s = TestSignal(1, 44100, 4, 7);
  ASSERT_TRUE(b.Run(MakeWav(s, {1, 44100})));
  EXPECT_EQ(b.st.WavChannels, 1);
  EXPECT_EQ(b.st.SamplesPerSlot, 441);
  const std::vector<int8_t> ws = Signed(b.Ws());
  ASSERT_EQ(ws.size(), 800u);
  int loud = 0;
  for (size_t i = 0; i < ws.size(); i += 2) {
    EXPECT_EQ(ws[i + 1], ws[i] == 0 ? -1 : -ws[i]) << i;
    loud += ws[i] > 10;
  }
  EXPECT_GT(loud, 100);
}

TEST(TransformWs, SizesFollowTheSampleRate) {
  struct Case {
    uint16_t channels;
    uint32_t rate;
    int64_t frames;
    int32_t perSlot;
    int64_t slots;
  } cases[] = {
      {2, 48000, 48000 * 2 + 479, 480, 200},  // a slot of 1920 bytes; the last part slot is dropped
      {2, 44100, 44100 * 3 + 441, 441, 301},
      {1, 48000, 480 * 801, 480, 801},
      {1, 8000, 80 * 123 + 1, 80, 123},
  };
  for (const auto& c : cases) {
    Builder b(2);
    const std::string wav =
        MakeWav(std::vector<int16_t>(c.frames * c.channels, 100), {c.channels, c.rate});
    ASSERT_TRUE(b.Run(wav));
    EXPECT_EQ(b.st.SamplesPerSlot, c.perSlot);
    EXPECT_EQ(b.st.WavChannels, c.channels);
    EXPECT_EQ(b.st.WavDataSize, c.frames * c.channels * 2);
    EXPECT_EQ(b.st.WavFileSize, int64_t(wav.size()));
    EXPECT_EQ(int64_t(b.Ws().size()), 2 * c.slots);
    EXPECT_EQ(int64_t(b.Ai().size()), 2 * c.slots);
    EXPECT_EQ(int64_t(b.st.WavSel.size()), (c.slots + 3000) / 100 * 100);
    EXPECT_FALSE(b.st.WavSel.front().Select);
    EXPECT_EQ(b.st.WavSel.front().SubIndex, 0);
  }
}

TEST(TransformWs, EighteenByteFormatStartsSamplesAtByte46) {
  // Frame 0 is looked at, frame 7 is not; read from byte 44 it would be the other way round.
  std::vector<int16_t> s(480 * 5, 0);
  s[0] = 20000;
  s[7] = 10000;
  Builder b(0);
  const std::string wav = MakeWav(s, {1, 48000, 18});
  ASSERT_EQ(wav.substr(36, 2), std::string(2, '\0'));  // the extra format bytes
  ASSERT_TRUE(b.Run(wav));
  EXPECT_EQ(b.st.WavDataSize, 480 * 5 * 2);
  const std::vector<int8_t> ws = Signed(b.Ws());
  ASSERT_EQ(ws.size(), 10u);
  EXPECT_EQ(ws[0], 20000 * 32770 / 32000 / 410);  // 49
  EXPECT_EQ(ws[1], -ws[0]);
  EXPECT_EQ(ws[2], 0);
}

TEST(TransformWs, ChunksBeforeTheSamplesAreWalkedOver) {
  // Converters often put a LIST chunk between fmt and data; read at fixed offsets its size
  // would pass for the data size and the side files would come out empty.
  std::vector<int16_t> s(480 * 2 * 300);
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>((i * 7919) % 20000);
  const std::string canonical = MakeWav(s);
  std::string listed = canonical.substr(0, 36) + "LIST" + U32(26) + "INFOISFT" + U32(14) +
                       "Lavf59.27.100" + std::string(1, '\0') + canonical.substr(36);
  listed.replace(4, 4, U32(static_cast<uint32_t>(listed.size() - 8)));
  for (int position : {0, 3}) {
    Builder plain(position), withList(position);
    ASSERT_TRUE(plain.Run(canonical));
    ASSERT_TRUE(withList.Run(listed));
    EXPECT_EQ(withList.Ws(), plain.Ws());
    EXPECT_EQ(withList.Ai(), plain.Ai());
    EXPECT_EQ(withList.Ws().size(), 600u);
    // The header stays, but for the RIFF size when a level mark was added.
    const std::string w = withList.Wav();
    EXPECT_EQ(w.substr(0, 4) + w.substr(8, 70), listed.substr(0, 4) + listed.substr(8, 70));
    EXPECT_EQ(RefLe32(w, 4), int64_t(w.size()) - 8);
    EXPECT_TRUE(w.substr(78) == plain.Wav().substr(44));
  }
  Builder noData(0);
  EXPECT_FALSE(noData.Run(canonical.substr(0, 36) + "LIST" + U32(4) + "INFO"));
  ASSERT_EQ(noData.prompts.messages.size(), 1u);
  EXPECT_FALSE(noData.HasSideFiles());
}

TEST(TransformWs, RefusedHeadersLeaveEverythingAlone) {
  const std::vector<int16_t> s(480 * 2 * 20, 1000);
  const std::string good = MakeWav(s, {2, 48000});
  const auto patched = [&](size_t at, const std::string& bytes) {
    std::string w = good;
    w.replace(at, bytes.size(), bytes);
    return w;
  };
  struct Case {
    const char* name;
    std::string wav;
    std::string message;  // after the path
  } cases[] = {
      {"RIFX", patched(0, "RIFX"), "\r文件不对。"},
      {"not WAVE", patched(8, "AVI "), "\r文件不对。"},
      {"no fmt", patched(12, "LIST"), "\r文件不对。"},
      {"empty", "", "\r文件不对。"},
      {"format size 40", MakeWav(s, {2, 48000, 40}), "\r的格式不支持，请重新转换。"},
      {"format size 20", MakeWav(s, {2, 48000, 20}), "\r的格式不支持，请重新转换。"},
      {"float", MakeWav(s, {2, 48000, 18, 3}), "!请转换成非压缩式的windows PCM格式。"},
      {"extensible", MakeWav(s, {2, 48000, 16, 0xFFFE}), "!请转换成非压缩式的windows PCM格式。"},
      {"8 bit", MakeWav(s, {2, 48000, 16, 1, 8}), "\r请转换成16位的格式。"},
      {"24 bit", MakeWav(s, {2, 48000, 16, 1, 24}), "\r的采样位数是24位，请转换成16位的格式。"},
      {"22050 Hz", MakeWav(s, {2, 22050}), "\r的采样率不能被100整除。"},
      {"11025 Hz", MakeWav(s, {1, 11025}), "\r的采样率不能被100整除。"},
      {"50 Hz", MakeWav(s, {1, 50}), "\r的采样率不能被100整除。"},
      {"0 Hz", MakeWav(s, {1, 0}), "\r的采样率太低，至少要100Hz。"},
      {"no channels", MakeWav(s, {0, 48000}), "\r没有声道，请重新转换。"},
      {"cut in the header", good.substr(0, 30), "\r的采样位数是0位，请转换成16位的格式。"},
  };
  for (bool sideFilesExist : {false, true}) {
    for (const auto& c : cases) {
      Builder b(5);
      if (sideFilesExist) {
        WriteBytes(b.st.WsFileName, "old ws");
        WriteBytes(b.st.AiFileName, "old ai");
      }
      EXPECT_FALSE(b.Run(c.wav)) << c.name;
      EXPECT_EQ(b.prompts.messages, std::vector<std::string>{b.st.WavFileName + c.message})
          << c.name;
      EXPECT_EQ(b.Wav(), c.wav) << c.name;
      if (sideFilesExist) {
        EXPECT_EQ(b.Ws(), "old ws") << c.name;
        EXPECT_EQ(b.Ai(), "old ai") << c.name;
      } else {
        EXPECT_FALSE(b.HasSideFiles()) << c.name;
      }
      EXPECT_TRUE(b.Leftovers().empty()) << c.name;
      EXPECT_TRUE(b.st.WavSel.empty()) << c.name;
      EXPECT_TRUE(b.reports.empty()) << c.name;
    }
  }
}

/// Limits how much more address space this process may take, as a machine without that much
/// memory would, while it lives: a reservation of terabytes then fails at once instead of
/// stalling the machine.
class AddressSpaceLimit {
 public:
  explicit AddressSpaceLimit(rlim_t extraBytes) {
    getrlimit(RLIMIT_AS, &m_old);
    std::ifstream statm("/proc/self/statm");  // its first field: the pages taken now
    unsigned long long pages = 0;
    if (!(statm >> pages)) return;  // a system that cannot tell: no limit
    rlimit limit = m_old;
    limit.rlim_cur = std::min<rlim_t>(rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + extraBytes,
                                      m_old.rlim_max);
    setrlimit(RLIMIT_AS, &limit);
  }
  ~AddressSpaceLimit() { setrlimit(RLIMIT_AS, &m_old); }
  AddressSpaceLimit(const AddressSpaceLimit&) = delete;
  AddressSpaceLimit& operator=(const AddressSpaceLimit&) = delete;

 private:
  rlimit m_old{};
};

TEST(TransformWs, FormatsNoSoundOutputPlaysAreRefusedBeforeAnythingIsSized) {
  // What the fuzzer found: 115 bytes claiming 26 626 channels at 3 355 491 200 Hz, one slot of
  // which is 1.8 TB. It stays in the fuzzing corpus.
  const std::string fuzzed = ReadBytes(std::string(TAMSEL_WAV_CORPUS) + "/many-channels-gigahertz");
  ASSERT_EQ(fuzzed.size(), 115u);
  const std::vector<int16_t> s(480 * 2 * 20, 1000);
  const auto pcm = [](uint16_t channels, uint32_t rate) {
    WAVEFORMATEX f;
    f.wFormatTag = 1;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = 16;
    return f;
  };
  struct Case {
    const char* name;
    std::string wav;
    WAVEFORMATEX format;
    bool refused;
    int64_t slots;  ///< when built
  } cases[] = {
      {"found by fuzzing", fuzzed, pcm(26626, 3355491200u), true, 0},
      {"9 channels", MakeWav(s, {9, 48000}), pcm(9, 48000), true, 0},
      {"65535 channels", MakeWav(s, {65535, 48000}), pcm(65535, 48000), true, 0},
      {"384100 Hz", MakeWav(s, {1, 384100}), pcm(1, 384100), true, 0},
      {"4 GHz", MakeWav(s, {2, 4000000000u}), pcm(2, 4000000000u), true, 0},
      {"8 channels", MakeWav(s, {8, 48000}), pcm(8, 48000), false, 5},
      {"384000 Hz", MakeWav(s, {1, 384000}), pcm(1, 384000), false, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Builder b(3);
    bool built = false;
    {
      AddressSpaceLimit limit(rlim_t{1} << 30);
      built = b.Run(c.wav);
    }
    if (!c.refused) {
      EXPECT_TRUE(built);
      EXPECT_TRUE(b.prompts.messages.empty()) << ::testing::PrintToString(b.prompts.messages);
      EXPECT_EQ(int64_t(b.Ws().size()), 2 * c.slots);
      continue;
    }
    EXPECT_FALSE(built);
    EXPECT_EQ(b.prompts.messages,
              std::vector<std::string>{UnknownWaveFormatMessage(b.st.WavFileName, c.format)});
    EXPECT_EQ(b.Wav(), c.wav);
    EXPECT_FALSE(b.HasSideFiles());
    EXPECT_TRUE(b.Leftovers().empty());
    EXPECT_TRUE(b.st.WavSel.empty());
    EXPECT_TRUE(b.reports.empty());
  }
}

TEST(TransformWs, ChannelsAreKnownFromTheFourthCheckOn) {
  Builder b;
  EXPECT_FALSE(b.Run(MakeWav({}, {2, 48000, 16, 3})));
  EXPECT_EQ(b.st.WavChannels, 0);
  EXPECT_FALSE(b.Run(MakeWav({}, {2, 48000, 16, 1, 8})));
  EXPECT_EQ(b.st.WavChannels, 2);
  EXPECT_EQ(b.st.SamplesPerSlot, 0);
}

TEST(TransformWs, ExistingSideFilesAreKept) {
  Builder b(5);
  // Of the WAV's 200 slots.
  const std::string oldWs(400, 'w');
  const std::string oldAi(400, 'a');
  WriteBytes(b.st.WsFileName, oldWs);
  WriteBytes(b.st.AiFileName, oldAi);
  const std::string wav = MakeWav(TestSignal(2, 48000, 2, 1), {2, 48000});
  EXPECT_TRUE(b.Run(wav));
  EXPECT_EQ(b.Ws(), oldWs);
  EXPECT_EQ(b.Ai(), oldAi);
  EXPECT_EQ(b.Wav(), wav);
  EXPECT_TRUE(b.prompts.messages.empty());
  EXPECT_TRUE(b.reports.empty());
  EXPECT_TRUE(b.st.WavSel.empty());
  // The header was read all the same.
  EXPECT_EQ(b.st.WavChannels, 2);
  EXPECT_EQ(b.st.SamplesPerSlot, 480);
  EXPECT_EQ(b.st.WavFileSize, int64_t(wav.size()));

  // One side file alone is rebuilt, and so is the other.
  std::filesystem::remove(ToPath(b.st.AiFileName));
  EXPECT_TRUE(b.Run());
  EXPECT_EQ(b.Ws().size(), 400u);
  EXPECT_EQ(b.Ai().size(), 400u);
}

TEST(TransformWs, PositionZeroKeepsTheWavBytes) {
  Builder b(0);
  const std::string wav = MakeWav(TestSignal(2, 48000, 3, 2), {2, 48000});
  ASSERT_TRUE(b.Run(wav));
  EXPECT_EQ(b.Wav(), wav);
  EXPECT_EQ(b.reports.back(), std::make_pair(std::string("扫描音量……"), 71));
}

TEST(TransformWs, LevelControlNeverClipsAndDipsAroundALoudSample) {
  // A steady quiet tone, amplified strongly. One loud sample in a frame the peak scan does not
  // look at would go far past full scale, so the gains dip around its slot.
  const int rate = 48000;
  std::vector<int16_t> quiet(rate * 20);
  for (size_t t = 0; t < quiet.size(); ++t) quiet[t] = int16_t(2000 * std::sin(t * 0.05));
  std::vector<int16_t> spiked = quiet;
  const int64_t spike = 1000;  // slot
  spiked[spike * 480 + 3] = 32000;
  const auto sample = [](const std::string& w, int64_t slot, int64_t k) {
    return RefLe16(w, 44 + 2 * (slot * 480 + k));
  };
  // The loudest tone sample of a slot.
  const auto loudest = [&](int64_t slot) {
    int64_t best = 0;
    for (int64_t k = 0; k < 480; ++k) {
      if (std::abs(quiet[slot * 480 + k]) > std::abs(quiet[slot * 480 + best])) best = k;
    }
    return best;
  };
  for (int p = 1; p <= 5; ++p) {
    Builder plain(p), dipped(p);
    ASSERT_TRUE(plain.Run(MakeWav(quiet, {1, rate})));
    ASSERT_TRUE(dipped.Run(MakeWav(spiked, {1, rate})));
    EXPECT_EQ(plain.Ws(), dipped.Ws());
    const std::string a = plain.Wav(), b = dipped.Wav();
    // The tone was amplified, and far from the spike nothing differs.
    const int64_t k = loudest(spike - 200);
    EXPECT_GT(std::abs(sample(a, spike - 200, k)),
              5 * std::abs(int(quiet[(spike - 200) * 480 + k])));
    for (int64_t d : {-200, -120, 300, 400}) {
      const int64_t at = loudest(spike + d);
      EXPECT_EQ(sample(a, spike + d, at), sample(b, spike + d, at)) << p << " " << d;
    }
    // Before the spike, at it and after it the tone is quieter than without it.
    for (int64_t d : {-40, -3, -1, 0, 2, 60}) {
      const int64_t at = loudest(spike + d);
      EXPECT_LT(std::abs(sample(b, spike + d, at)), std::abs(sample(a, spike + d, at)))
          << p << " " << d;
    }
    EXPECT_LT(sample(b, spike, 3), 32000);
    EXPECT_EQ(b, RefBuild(MakeWav(spiked, {1, rate}), p).wav) << p;

    // The last sample of a slot is scaled but never checked: no dip, it is only limited.
    std::vector<int16_t> last = quiet;
    last[spike * 480 + 479] = 32000;
    Builder lastOnly(p);
    ASSERT_TRUE(lastOnly.Run(MakeWav(last, {1, rate})));
    std::string want = a;
    want.replace(44 + 2 * (spike * 480 + 479), 2, U16(32767));
    EXPECT_EQ(lastOnly.Wav(), want) << p;
  }
}

TEST(TransformWs, FullScaleNoiseStaysInsideFullScale) {
  std::mt19937 rng(11);
  std::vector<int16_t> s(48000 * 2 * 12);
  for (auto& v : s) v = int16_t(rng() % 3 == 0 ? -32768 : int32_t(rng() % 65536) - 32768);
  for (int p : {1, 5}) {
    Builder b(p);
    ASSERT_TRUE(b.Run(MakeWav(s, {2, 48000})));
    const std::string w = b.Wav();
    ASSERT_EQ(w.size(), s.size() * 2 + 44 + LevelMarkBytes(1200));
    // G = (2304000 div 2 - 8) div 480 div 2 - 10 = 1189: slots 0..1189 are adjusted, the last
    // ten and a bit keep their samples, -32768 included.
    const size_t adjusted = 1190 * 960;
    int64_t changed = 0;
    for (size_t k = 0; k < s.size(); ++k) {
      const int32_t v = RefLe16(w, 44 + 2 * int64_t(k));
      if (k < adjusted) {
        ASSERT_GE(v, -32767) << k;
        changed += v != s[k];
      } else {
        ASSERT_EQ(v, s[k]) << k;
      }
    }
    EXPECT_GT(changed, int64_t(adjusted / 2));
  }
}

struct StreamCase {
  const char* name;
  uint16_t channels;
  uint32_t rate;
  uint32_t fmtSize;
  double seconds;
  int64_t cut;             // bytes taken off the end of the file, keeping the header's sizes
  uint32_t riffShort = 0;  // the RIFF size says this much less than the file holds
};

class TransformWsMatchesReference : public ::testing::TestWithParam<StreamCase> {};

TEST_P(TransformWsMatchesReference, ByteForByte) {
  const StreamCase& c = GetParam();
  std::string wav =
      MakeWav(TestSignal(c.channels, int(c.rate), c.seconds, 42), {c.channels, c.rate, c.fmtSize});
  wav.resize(wav.size() - size_t(c.cut));
  wav.replace(4, 4, U32(uint32_t(RefLe32(wav, 4)) - c.riffShort));
  for (int p = 0; p <= 5; ++p) {
    const Reference want = RefBuild(wav, p);
    // The default blocks, and small ones that split slots and frames of the stretches.
    const std::vector<size_t> blocks = c.seconds < 1
                                           ? std::vector<size_t>{TRANSFORM_WS_BLOCK_BYTES, 3, 1}
                                           : std::vector<size_t>{TRANSFORM_WS_BLOCK_BYTES, 3002};
    for (size_t block : blocks) {
      Builder b(p);
      ASSERT_TRUE(b.Run(wav, block)) << p;
      ASSERT_EQ(b.Ws(), want.ws) << "position " << p << " block " << block;
      ASSERT_EQ(b.Ai(), want.ai) << "position " << p << " block " << block;
      ASSERT_EQ(b.Wav(), want.wav) << "position " << p << " block " << block;
      EXPECT_TRUE(b.Leftovers().empty());
    }
    if (c.seconds > 5) {
      EXPECT_NE(want.ai.find_first_not_of('\0'), std::string::npos);  // some speech edges
      if (p > 0) {
        EXPECT_NE(want.wav, wav);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, TransformWsMatchesReference,
    ::testing::Values(StreamCase{"stereo48k", 2, 48000, 16, 10.3, 0},
                      StreamCase{"mono44k", 1, 44100, 16, 9.0, 0},
                      StreamCase{"fmt18", 2, 44100, 18, 8.5, 0},
                      StreamCase{"threeChannels", 3, 16000, 16, 6.0, 0},
                      // The data ends 7.4 s into the 9 s the header announces.
                      StreamCase{"truncated", 2, 48000, 16, 9.0, 48000 * 4 * 16 / 10 + 3},
                      // The RIFF size ends 1.5 s before the data: no slot reaches past it.
                      StreamCase{"riffShort", 2, 48000, 16, 9.0, 0, 48000 * 4 * 3 / 2 + 2},
                      // Slot 0 is the only adjusted slot (G = 0), then none (G < 0).
                      StreamCase{"tinyG0", 1, 100, 16, 0.18, 0},
                      StreamCase{"tinyNoSlots", 1, 100, 16, 0.05, 0},
                      // Eleven minutes: the peak scan is shared with a second thread.
                      StreamCase{"longSharedScan", 1, 800, 16, 660.3, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TransformWs, ShortFilesAreReadAsFarAsTheyGo) {
  const std::string full = MakeWav(TestSignal(2, 48000, 3, 5), {2, 48000});
  for (size_t size :
       {size_t{40}, size_t{43}, size_t{44}, size_t{44 + 1919}, size_t{44 + 1920 * 7 + 5}}) {
    Builder b(4);
    const std::string wav = full.substr(0, size);
    ASSERT_TRUE(b.Run(wav)) << size;
    const int64_t slots = size < 44 ? 0 : int64_t(size - 44) / 1920;
    EXPECT_EQ(int64_t(b.Ws().size()), 2 * slots) << size;
    EXPECT_EQ(int64_t(b.Ai().size()), 2 * slots) << size;
    EXPECT_EQ(b.Wav(), wav) << size;  // too short for any adjusted slot
    EXPECT_EQ(b.reports.back(), std::make_pair(std::string("存盘……"), 100)) << size;
  }
}

TEST(TransformWs, ProgressLabelsInOrderAndPositionsRising) {
  for (double seconds : {0.05, 12.0}) {
    Builder b(3);
    ASSERT_TRUE(b.Run(MakeWav(TestSignal(2, 48000, seconds, 3), {2, 48000})));
    std::vector<std::string> labels;
    int last = 66;
    for (size_t k = 0; k < b.reports.size(); ++k) {
      const auto& [label, position] = b.reports[k];
      if (labels.empty() || labels.back() != label) labels.push_back(label);
      EXPECT_GE(position, last);
      EXPECT_LE(position, 100);
      if (k > 0) {
        EXPECT_NE(b.reports[k], b.reports[k - 1]);
      }
      last = position;
    }
    EXPECT_EQ(labels, (std::vector<std::string>{"WAV转WS……", "扫描音量……", "防范爆音……",
                                                "调整音量……", "存盘……"}));
    EXPECT_EQ(b.reports.front().second, 66);
    EXPECT_EQ(b.reports.back().second, 100);
    if (seconds > 1) {
      // The peak scan ends at 67 (its last slot is not scanned); clipping protection at 86.
      const auto reached = [&](int position) {
        return std::find_if(b.reports.begin(), b.reports.end(),
                            [&](const auto& r) { return r.second == position; }) != b.reports.end();
      };
      EXPECT_TRUE(reached(67));
      EXPECT_FALSE(reached(68));
      // The volume adjustment ends at 86 + 13 G div (B - 1) = 86 + 13 * 1189 div 4199.
      EXPECT_NE(std::find(b.reports.begin(), b.reports.end(),
                          std::make_pair(std::string("调整音量……"), 89)),
                b.reports.end());
      EXPECT_TRUE(reached(86));
    }
  }
}

/// Limits the size of the files this process writes, as a full disk would, while it lives.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &m_old);
    m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails
    rlimit limit = m_old;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &m_old);
    std::signal(SIGXFSZ, m_oldHandler);
  }

 private:
  rlimit m_old{};
  void (*m_oldHandler)(int) = nullptr;
};

TEST(TransformWs, FailedRewriteLeavesTheWavAndNoSideFiles) {
  // The adjusted copy cannot be written in full: the side files, which are written only after
  // the WAV file was replaced, are not written either, the copy begun goes, and the next try
  // starts over.
  Builder b(3);
  const std::string wav = MakeWav(TestSignal(2, 48000, 12, 5), {2, 48000});
  WriteBytes(b.st.WavFileName, wav);
  {
    FileSizeLimit full(wav.size() / 2);
    EXPECT_FALSE(b.Run());
  }
  ASSERT_EQ(b.prompts.messages.size(), 1u);
  EXPECT_EQ(b.prompts.messages[0].rfind(b.st.WavFileName + "\r", 0), 0u)
      << b.prompts.messages[0];
  EXPECT_EQ(b.Wav(), wav);
  EXPECT_FALSE(b.HasSideFiles());
  EXPECT_TRUE(b.Leftovers().empty());

  EXPECT_TRUE(b.Run());
  EXPECT_EQ(b.Ws(), RefBuild(wav, 3).ws);
  EXPECT_EQ(b.Wav(), RefBuild(wav, 3).wav);
  EXPECT_TRUE(b.Leftovers().empty());
}

// The adjusted WAV file carries the side files made from the sound as extracted: whatever
// becomes of the side files afterwards (a kill before they were written, a cut or foreign
// file, a changed setting), a later build puts them back and never adjusts the WAV again.
TEST(TransformWs, AnAdjustedWavIsNeverAdjustedAgain) {
  const std::string wav = MakeWav(TestSignal(2, 48000, 12, 5), {2, 48000});
  const Reference want = RefBuild(wav, 3);
  struct Case {
    const char* name;
    bool dropWs, dropAi;
    std::string ws, ai;  ///< written in their place when not empty
    int position;        ///< the setting at the second build
  };
  const size_t bytes = want.ws.size();
  const std::vector<Case> cases = {
      {"both gone", true, true, "", "", 3},
      {"ai gone", false, true, "", "", 3},
      {"ws gone", true, false, "", "", 3},
      {"ai cut", false, false, "", want.ai.substr(0, bytes / 2), 3},
      {"foreign files of the same size", false, false, std::string(bytes, '\x01'),
       std::string(bytes, '\x02'), 3},
      {"setting moved to 0", true, true, "", "", 0},
      {"setting moved to 5", false, true, "", "", 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Builder b(3);
    ASSERT_TRUE(b.Run(wav));
    ASSERT_EQ(b.Wav(), want.wav);
    if (c.dropWs) std::filesystem::remove(ToPath(b.st.WsFileName));
    if (c.dropAi) std::filesystem::remove(ToPath(b.st.AiFileName));
    if (!c.ws.empty()) WriteBytes(b.st.WsFileName, c.ws);
    if (!c.ai.empty()) WriteBytes(b.st.AiFileName, c.ai);
    EXPECT_FALSE(SideFilesReady(b.st));
    b.st.Ctrl.TrackBarAutoVolCtrlSpeed = c.position;
    ASSERT_TRUE(b.Run());
    EXPECT_TRUE(b.Wav() == want.wav);
    EXPECT_TRUE(b.Ws() == want.ws);
    EXPECT_TRUE(b.Ai() == want.ai);
    EXPECT_EQ(b.st.AutoVolLevel, 3);
    EXPECT_EQ(b.st.WavSel.size(), 4200u);
    EXPECT_TRUE(SideFilesReady(b.st));
    EXPECT_TRUE(b.Leftovers().empty());
    EXPECT_TRUE(b.prompts.messages.empty());
  }
}

TEST(TransformWs, SideFilesAreReadyOnlyWhenTheyAgree) {
  struct Case {
    const char* name;
    const char* ws;  ///< nullptr: no such file
    const char* ai;
    bool ready;
  } cases[] = {
      {"both there", "abcd", "efgh", true},
      {"both empty", "", "", true},
      {"no ws", nullptr, "efgh", false},
      {"no ai", "abcd", nullptr, false},
      {"ai shorter", "abcd", "ef", false},
      {"ai empty", "abcd", "", false},
      {"ai longer", "abcd", "efghij", false},
      {"both of odd length", "abc", "efg", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Builder b(3);
    // As many slots of sound as the .ws file has pairs (80 samples a slot).
    const size_t slots = c.ws ? std::strlen(c.ws) / 2 : 2;
    WriteBytes(b.st.WavFileName, MakeWav(std::vector<int16_t>(80 * slots + 79, 5), {1, 8000}));
    if (c.ws) WriteBytes(b.st.WsFileName, c.ws);
    if (c.ai) WriteBytes(b.st.AiFileName, c.ai);
    EXPECT_EQ(SideFilesReady(b.st), c.ready);
  }
  // Side files made from another sound: the WAV was cut or replaced since. Its header does not
  // count, only the sound it holds.
  const std::string twoSlots = MakeWav(std::vector<int16_t>(160, 5), {1, 8000});
  const struct {
    const char* name;
    std::string wav;
    bool ready;
  } sounds[] = {
      {"the same length", twoSlots, true},
      {"a slot shorter", twoSlots.substr(0, twoSlots.size() - 2), false},
      {"a slot longer", MakeWav(std::vector<int16_t>(240, 5), {1, 8000}), false},
      {"cut inside its header", twoSlots.substr(0, 40), false},
      {"not a WAV file the builder reads", "RIFF" + U32(4) + "AVI ", true},  // nothing to tell
      {"promising more than it holds", twoSlots.substr(0, 40) + U32(640) + twoSlots.substr(44),
       true},
      {"cut short of its promise", twoSlots.substr(0, 40) + U32(640) + twoSlots.substr(44, 200),
       false},
  };
  for (const auto& c : sounds) {
    SCOPED_TRACE(c.name);
    Builder b(3);
    WriteBytes(b.st.WavFileName, c.wav);
    WriteBytes(b.st.WsFileName, "abcd");
    WriteBytes(b.st.AiFileName, "efgh");
    EXPECT_EQ(SideFilesReady(b.st), c.ready);
    EXPECT_TRUE(b.prompts.messages.empty());
  }
  // A side file that is a link is not ready, whatever it points to.
  Builder b(3);
  WriteBytes(b.dir.Path("elsewhere.ws"), "abcd");
  std::filesystem::create_symlink(ToPath(b.dir.Path("elsewhere.ws")), ToPath(b.st.WsFileName));
  WriteBytes(b.st.AiFileName, "efgh");
  EXPECT_FALSE(SideFilesReady(b.st));
}

/// Sets an environment variable while it lives.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : m_name(name) { setenv(name, value, 1); }
  ~ScopedEnv() { unsetenv(m_name); }

 private:
  const char* m_name;
};

// Whatever has the name the adjusted copy would like (a link to another file, a dangling link,
// a folder, a leftover) is never written through, reused or removed, with files that have no
// name until complete and with named ones alike.
TEST(TransformWs, TakenTemporaryNamesAreLeftAlone) {
  const std::string wav = MakeWav(TestSignal(2, 16000, 12, 6), {2, 16000});
  const Reference want = RefBuild(wav, 3);
  enum Kind { LINK, DANGLING, FOLDER, LEFTOVER };
  for (const char* named : {"", "1"}) {
    ScopedEnv env("TAMSEL_NAMED_TEMPORARIES", named);
    for (Kind kind : {LINK, DANGLING, FOLDER, LEFTOVER}) {
      SCOPED_TRACE(std::string(*named ? "named " : "unnamed ") + std::to_string(kind));
      Builder b(3);
      const std::string tmp = b.st.WavFileName + ".tmp";
      const std::string other = b.dir.Path("other");
      switch (kind) {
        case LINK: WriteBytes(other, "theirs"); [[fallthrough]];
        case DANGLING: std::filesystem::create_symlink(ToPath(other), ToPath(tmp)); break;
        case FOLDER: std::filesystem::create_directory(ToPath(tmp)); break;
        case LEFTOVER: WriteBytes(tmp, "left"); break;
      }
      ASSERT_TRUE(b.Run(wav)) << (b.prompts.messages.empty() ? "" : b.prompts.messages[0]);
      EXPECT_TRUE(b.Wav() == want.wav);
      EXPECT_TRUE(b.Ws() == want.ws);
      EXPECT_TRUE(b.Ai() == want.ai);
      std::vector<std::string> left = b.Leftovers();
      std::sort(left.begin(), left.end());
      const std::vector<std::string> expected =
          kind == LINK ? std::vector<std::string>{"other", "v.wav.tmp"}
                       : std::vector<std::string>{"v.wav.tmp"};
      EXPECT_EQ(left, expected);
      if (kind == LINK || kind == DANGLING) {
        EXPECT_EQ(std::filesystem::read_symlink(ToPath(tmp)), ToPath(other));
      }
      if (kind == LINK) {
        EXPECT_EQ(ReadBytes(other), "theirs");
      }
      if (kind == LEFTOVER) {
        EXPECT_EQ(ReadBytes(tmp), "left");
      }
    }
  }
}

// A link or anything but a regular file in place of the WAV file or a side file is refused,
// naming it: nothing is read through it, written through it or put in its place.
TEST(TransformWs, LinksInPlaceOfTheFilesAreRefused) {
  const std::string wav = MakeWav(TestSignal(2, 16000, 4, 7), {2, 16000});
  enum Kind { WAV_LINK, WS_LINK, AI_DANGLING, WAV_PIPE };
  for (int position : {0, 3}) {
    for (Kind kind : {WAV_LINK, WS_LINK, AI_DANGLING, WAV_PIPE}) {
      SCOPED_TRACE(std::to_string(position) + " " + std::to_string(kind));
      Builder b(position);
      const std::string other = b.dir.Path("other");
      std::string named;
      switch (kind) {
        case WAV_LINK:
          WriteBytes(other, wav);
          std::filesystem::create_symlink(ToPath(other), ToPath(b.st.WavFileName));
          named = b.st.WavFileName;
          break;
        case WS_LINK:
          WriteBytes(b.st.WavFileName, wav);
          WriteBytes(other, "theirs");
          std::filesystem::create_symlink(ToPath(other), ToPath(b.st.WsFileName));
          named = b.st.WsFileName;
          break;
        case AI_DANGLING:
          WriteBytes(b.st.WavFileName, wav);
          std::filesystem::create_symlink(ToPath(other), ToPath(b.st.AiFileName));
          named = b.st.AiFileName;
          break;
        case WAV_PIPE:
          ASSERT_EQ(mkfifo(b.st.WavFileName.c_str(), 0600), 0);
          named = b.st.WavFileName;
          break;
      }
      EXPECT_FALSE(b.Run());
      ASSERT_EQ(b.prompts.messages.size(), 1u);
      EXPECT_EQ(b.prompts.messages[0].rfind(named + "\r", 0), 0u) << b.prompts.messages[0];
      if (kind == WAV_LINK) {
        EXPECT_TRUE(ReadBytes(other) == wav);
      }
      if (kind == WS_LINK) {
        EXPECT_EQ(ReadBytes(other), "theirs");
      }
      if (kind == AI_DANGLING) {
        EXPECT_FALSE(std::filesystem::exists(ToPath(other)));
      }
      if (kind != WAV_PIPE && kind != WAV_LINK) {
        EXPECT_TRUE(b.Wav() == wav);
      }
      EXPECT_EQ(std::filesystem::symlink_status(ToPath(named)).type(),
                kind == WAV_PIPE ? std::filesystem::file_type::fifo
                                 : std::filesystem::file_type::symlink);
    }
  }
}

TEST(TransformWs, UnreadableWavIsReported) {
  Builder b(3);
  EXPECT_FALSE(b.Run());
  ASSERT_EQ(b.prompts.messages.size(), 1u);
  EXPECT_EQ(b.prompts.messages[0].rfind(b.st.WavFileName + "\r", 0), 0u);
  EXPECT_FALSE(b.HasSideFiles());
}

}  // namespace
}  // namespace tamsel

namespace tamsel {
namespace {

/// Writes `wav` into `path` the way the converter does: the header with its sizes still zero,
/// then the samples in pieces of uneven length, following after each; the sizes last.
void GrowWhileFollowing(const std::string& path, const std::string& wav, WsFollower& follower,
                        uint32_t seed) {
  std::string growing = wav.substr(0, 44);
  growing.replace(4, 4, U32(0));
  growing.replace(40, 4, U32(0));
  WriteBytes(path, growing);
  follower.Follow(path);
  std::mt19937 rng(seed);
  for (size_t at = 44; at < wav.size();) {
    const size_t piece = std::min<size_t>(1 + rng() % 40000, wav.size() - at);
    {
      std::ofstream out(ToPath(path), std::ios::binary | std::ios::app);
      out.write(wav.data() + at, std::streamsize(piece));
    }
    at += piece;
    follower.Follow(path);
  }
  std::fstream patch(ToPath(path), std::ios::binary | std::ios::in | std::ios::out);
  patch.write(wav.data(), 44);
}

TEST(TransformWsFollowing, FormatsNoSoundOutputPlaysAreNotFollowed) {
  // With the level control on, a followed file has its adjusted copy begun while it grows.
  for (uint16_t channels : {uint16_t{9}, uint16_t{8}}) {
    Builder b(2);
    WsFollower follower(b.st);
    GrowWhileFollowing(b.st.WavFileName + ".part",
                       MakeWav(TestSignal(channels, 1600, 40, 3), {channels, 1600}), follower, 5);
    EXPECT_EQ(follower.AdjustedBytes() > 0, channels == 8) << channels;
  }
}

TEST(TransformWsFollowing, BuildsTheSameFilesAsAfterTheConversion) {
  // A minute at a low rate, so that much is settled while the file still grows. Lone negative
  // spikes in quiet passages (the peaks do not see them, so the gain there is high) cause the
  // deepest dips, reaching 99 slots back and up to 297 ahead.
  std::vector<int16_t> samples = TestSignal(2, 1600, 61.3, 8);
  for (size_t at = 2 * 1600 * 20; at < 2 * 1600 * 50; ++at) {
    samples[at] = int16_t(samples[at] / 100);
    if (at % (2 * 1100) == 0) samples[at] = -30000;
  }
  const std::string wav = MakeWav(samples, {2, 1600});
  for (int p = 0; p <= 5; ++p) {
    const Reference want = RefBuild(wav, p);
    for (size_t block : {TRANSFORM_WS_BLOCK_BYTES, size_t{3002}}) {
      Builder b(p);
      WsFollower follower(b.st, block);
      GrowWhileFollowing(b.st.WavFileName + ".part", wav, follower, uint32_t(p + block));
      if (p > 0) {
        // Most of the adjusted copy is already written.
        ASSERT_GT(follower.AdjustedBytes(), int64_t(wav.size() / 2));
      }
      // Nothing of it shows by name while the converter is at work.
      EXPECT_EQ(b.Leftovers(), std::vector<std::string>{"v.wav.part"});
      std::filesystem::rename(ToPath(b.st.WavFileName + ".part"), ToPath(b.st.WavFileName));
      ASSERT_TRUE(TransformWs(b.st, {}, block, &follower)) << p;
      ASSERT_EQ(b.Ws(), want.ws) << "position " << p << " block " << block;
      ASSERT_EQ(b.Ai(), want.ai) << "position " << p << " block " << block;
      ASSERT_EQ(b.Wav(), want.wav) << "position " << p << " block " << block;
      EXPECT_TRUE(b.Leftovers().empty());
    }
  }
}

TEST(TransformWsFollowing, StartsOverWhenTheFinishedFileDiffers) {
  const std::string wav = MakeWav(TestSignal(2, 1600, 40, 9), {2, 1600});
  struct Case {
    const char* name;
    std::string finished;  // the file as it stands when the converter is done
    int position;          // the volume setting when the build finishes
  };
  const std::vector<Case> cases = {
      // Shorter than what was followed: settled slots would lie past the sound.
      {"cut short", MakeWav(TestSignal(2, 1600, 25, 9), {2, 1600}), 3},
      // Another layout altogether.
      {"other rate", MakeWav(TestSignal(1, 8000, 12, 9), {1, 8000}), 3},
      // The setting moved while the sound was being extracted.
      {"setting moved", wav, 5},
  };
  for (const Case& c : cases) {
    Builder b(3);
    WsFollower follower(b.st);
    GrowWhileFollowing(b.st.WavFileName, wav, follower, 1);
    WriteBytes(b.st.WavFileName, c.finished);
    b.st.Ctrl.TrackBarAutoVolCtrlSpeed = c.position;
    const Reference want = RefBuild(c.finished, c.position);
    ASSERT_TRUE(TransformWs(b.st, {}, TRANSFORM_WS_BLOCK_BYTES, &follower)) << c.name;
    EXPECT_EQ(b.Ws(), want.ws) << c.name;
    EXPECT_EQ(b.Ai(), want.ai) << c.name;
    EXPECT_EQ(b.Wav(), want.wav) << c.name;
    EXPECT_TRUE(b.Leftovers().empty()) << c.name;
  }
}

TEST(TransformWsFollowing, UnfollowableFilesAndAbandonedWorkLeaveNothingBehind) {
  const std::string wav = MakeWav(TestSignal(2, 1600, 40, 10), {2, 1600});
  {
    // A layout the builder walks but does not follow: built from the finished file.
    Builder b(2);
    std::string odd = wav;
    odd.replace(36, 4, "LIST");
    odd.insert(44, "data" + U32(uint32_t(wav.size() - 44)));
    odd.replace(40, 4, U32(0));
    WsFollower follower(b.st);
    GrowWhileFollowing(b.st.WavFileName, odd, follower, 2);
    EXPECT_EQ(follower.AdjustedBytes(), 0);
    ASSERT_TRUE(TransformWs(b.st, {}, TRANSFORM_WS_BLOCK_BYTES, &follower));
    EXPECT_EQ(int64_t(b.Ws().size()), 2 * 4000);
  }
  {
    // The conversion failed: the adjusted copy begun goes with the follower.
    Builder b(2);
    {
      WsFollower follower(b.st);
      GrowWhileFollowing(b.st.WavFileName + ".part", wav, follower, 3);
      EXPECT_GT(follower.AdjustedBytes(), 0);
    }
    std::filesystem::remove(ToPath(b.st.WavFileName + ".part"));
    EXPECT_TRUE(b.Leftovers().empty());
  }
  {
    // Both side files exist: nothing is rebuilt and the begun copy is dropped.
    Builder b(2);
    const std::string ws(2 * 4000, 'w');  // the WAV's 4000 slots
    WriteBytes(b.st.WsFileName, ws);
    WriteBytes(b.st.AiFileName, std::string(2 * 4000, 'a'));
    {
      WsFollower follower(b.st);
      GrowWhileFollowing(b.st.WavFileName, wav, follower, 4);
      ASSERT_TRUE(TransformWs(b.st, {}, TRANSFORM_WS_BLOCK_BYTES, &follower));
    }
    EXPECT_EQ(b.Wav(), wav);
    EXPECT_EQ(b.Ws(), ws);
    EXPECT_TRUE(b.Leftovers().empty());
  }
}

TEST(TransformWs, ACancelAtAnyStepLeavesTheFilesAsTheyWere) {
  // The cancel is set in the builder's own progress report at each of its steps: it stops at
  // its next block and returns false without a word, the WAV file and an old side file as they
  // were and nothing of its own left; the next build gives the files of a clean one.
  const std::string wav = MakeWav(TestSignal(2, 16000, 40, 11), {2, 16000});
  struct Step {
    const char* label;
    int from;  // the first report of the label at this position or past it
    bool levelControlOnly;
  } steps[] = {
      {"WAV转WS……", 67, false}, {"扫描音量……", 0, false}, {"防范爆音……", 72, true},
      {"调整音量……", 87, true}, {"存盘……", 0, true},
  };
  for (const char* named : {"", "1"}) {
    ScopedEnv env("TAMSEL_NAMED_TEMPORARIES", named);
    for (int p : {0, 3}) {
      const Reference want = RefBuild(wav, p);
      for (const Step& step : steps) {
        if (step.levelControlOnly && p == 0) continue;
        SCOPED_TRACE(std::string(step.label) + " position " + std::to_string(p) +
                     (*named ? " named" : ""));
        Builder b(p);
        WriteBytes(b.st.WavFileName, wav);
        WriteBytes(b.st.WsFileName, "old");
        CancelFlag cancel{false};
        bool reached = false;
        EXPECT_FALSE(TransformWs(
            b.st,
            [&](const std::string& label, int position) {
              if (label != step.label || position < step.from) return;
              reached = true;
              cancel = true;
            },
            3002, nullptr, &cancel));
        EXPECT_TRUE(reached);
        EXPECT_TRUE(b.prompts.messages.empty()) << b.prompts.messages.front();
        EXPECT_TRUE(b.Wav() == wav);
        EXPECT_EQ(b.Ws(), "old");
        EXPECT_FALSE(FileExists(b.st.AiFileName));
        EXPECT_TRUE(b.Leftovers().empty());

        ASSERT_TRUE(b.Run(3002));
        EXPECT_TRUE(b.Ws() == want.ws);
        EXPECT_TRUE(b.Ai() == want.ai);
        EXPECT_TRUE(b.Wav() == want.wav);
        EXPECT_TRUE(b.Leftovers().empty());
      }
    }
  }
}

TEST(TransformWsFollowing, ACancelDropsTheWorkBegun) {
  const std::string wav = MakeWav(TestSignal(2, 1600, 40, 12), {2, 1600});
  const Reference want = RefBuild(wav, 3);
  for (const char* named : {"", "1"}) {
    ScopedEnv env("TAMSEL_NAMED_TEMPORARIES", named);
    SCOPED_TRACE(*named ? "named" : "unnamed");
    Builder b(3);
    const std::string growing = b.st.WavFileName + ".part";
    CancelFlag cancel{false};
    WsFollower follower(b.st, 3002, &cancel);
    // The first half of the file, followed as the converter writes it.
    std::string half = wav.substr(0, wav.size() / 2);
    half.replace(4, 4, U32(0));
    half.replace(40, 4, U32(0));
    WriteBytes(growing, half);
    follower.Follow(growing);
    ASSERT_GT(follower.AdjustedBytes(), 0);
    cancel = true;
    WriteBytes(growing, wav);
    follower.Follow(growing);
    EXPECT_EQ(follower.AdjustedBytes(), 0);
    EXPECT_EQ(b.Leftovers(), std::vector<std::string>{"v.wav.part"});
    std::filesystem::rename(ToPath(growing), ToPath(b.st.WavFileName));
    EXPECT_FALSE(TransformWs(b.st, {}, 3002, &follower, &cancel));
    EXPECT_TRUE(b.prompts.messages.empty());
    EXPECT_FALSE(b.HasSideFiles());
    EXPECT_TRUE(b.Wav() == wav);
    EXPECT_TRUE(b.Leftovers().empty());

    ASSERT_TRUE(b.Run(3002));
    EXPECT_TRUE(b.Ws() == want.ws);
    EXPECT_TRUE(b.Ai() == want.ai);
    EXPECT_TRUE(b.Wav() == want.wav);
  }
}

}  // namespace
}  // namespace tamsel
