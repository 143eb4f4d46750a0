#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "MediaDevices.h"
#include "ReadWaveFile.h"

namespace tamsel::test {

inline std::string LeU32(uint32_t v) {
  return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}
inline std::string LeU16(uint16_t v) { return std::string{char(v), char(v >> 8)}; }

/// The format record of plain PCM.
inline WAVEFORMATEX PcmFormat(uint16_t channels, uint32_t rate, uint16_t bits = 16) {
  WAVEFORMATEX f;
  f.wFormatTag = 1;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.nBlockAlign = uint16_t(channels * bits / 8);
  f.nAvgBytesPerSec = rate * f.nBlockAlign;
  f.wBitsPerSample = bits;
  return f;
}

/// 16-bit samples as the bytes of a WAV file's data chunk.
inline std::string SampleBytes(const std::vector<int16_t>& samples) {
  std::string s;
  for (int16_t v : samples) s += LeU16(uint16_t(v));
  return s;
}

/// A WAV file: the canonical 44-byte header, `data` as the data chunk's body (its size field
/// says `dataSize`, by default the true one), then `tail`.
inline std::string WaveFile(const WAVEFORMATEX& f, const std::string& data,
                            const std::string& tail = "",
                            std::optional<uint32_t> dataSize = std::nullopt) {
  const std::string fmt = LeU16(f.wFormatTag) + LeU16(f.nChannels) + LeU32(f.nSamplesPerSec) +
                          LeU32(f.nAvgBytesPerSec) + LeU16(f.nBlockAlign) + LeU16(f.wBitsPerSample);
  const std::string body = "WAVEfmt " + LeU32(16) + fmt + "data" +
                           LeU32(dataSize.value_or(uint32_t(data.size()))) + data + tail;
  return "RIFF" + LeU32(uint32_t(body.size())) + body;
}

/// Stereo frames whose left and right channels differ everywhere: left rises in steps of 100
/// from -19999, right falls in steps of 37 from 15003. No sample is 0, and no frame halfway
/// between two neighbours is all 0 either, so sound is told from silence frame by frame.
inline std::vector<int16_t> StereoRamp(int frames) {
  std::vector<int16_t> s;
  for (int i = 0; i < frames; ++i) {
    s.push_back(int16_t(-20000 + 100 * (i % 400) + 1));
    s.push_back(int16_t(15000 - 37 * (i % 800) + 3));
  }
  return s;
}

/// What playing `src` (interleaved, `channels` per frame) from frame `first` at `step` source
/// frames per output frame gives, `frames` output frames long, linearly interpolated. Played
/// once, the last frame leads into itself; looping, into the first.
inline std::vector<int16_t> Resampled(const std::vector<int16_t>& src, int channels, int first,
                                      double step, int frames, bool looping = false) {
  const int n = int(src.size()) / channels;
  std::vector<int16_t> out;
  for (int i = 0; i < frames; ++i) {
    const double pos = first + i * step;
    const int k = int(pos) % n;
    const double t = pos - std::floor(pos);
    const int next = k + 1 < n ? k + 1 : looping ? 0 : k;
    for (int c = 0; c < channels; ++c) {
      const int a = src[size_t(k * channels + c)];
      const int b = src[size_t(next * channels + c)];
      out.push_back(int16_t(std::lround(a + (b - a) * t)));
    }
  }
  return out;
}

/// A clock that moves only when told.
class ManualClock : public Clock {
 public:
  int64_t now = 1000;
  int64_t NowMicros() const override { return now; }
};

}  // namespace tamsel::test
