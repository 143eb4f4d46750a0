#include "SoundBuffer.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "FileIo.h"
#include "ReadyGo.h"  // HeldSoundBytes

namespace tamsel {

namespace {

/// Above any rate the editor asks for (a few times 192 kHz), and low enough that the cursor
/// arithmetic never overflows.
constexpr int64_t MAX_FREQUENCY = int64_t(1) << 31;
constexpr uint64_t MICROS = 1000000;
/// Longest time a clock may move the cursor in one step: a day. Only a sound left looping
/// for longer with nobody looking at it would notice.
constexpr int64_t MAX_ELAPSED = 86400 * int64_t(MICROS);

/// The body of the data chunk of the WAV `wave` has opened, as far as the file holds it.
MappedFile MapData(const std::string& path, const TReadWaveFile& wave) {
  if (wave.DataOffset() <= 0) return {};
  return MappedFile(path, static_cast<uint64_t>(wave.DataOffset()),
                    static_cast<uint64_t>(wave.Size()));
}

int ChannelsOf(const WAVEFORMATEX& format) { return std::max<int>(format.nChannels, 1); }

}  // namespace

std::string SoundBuffer::FormatProblem(const WAVEFORMATEX& format) {
  if (format.wFormatTag != 1) return "不是PCM格式的声音";
  if (format.wBitsPerSample != 16) {
    return "只能播放16位的声音，这个文件是" + std::to_string(format.wBitsPerSample) + "位的";
  }
  if (format.nChannels == 0) return "声道数为0";
  if (format.nChannels > MAX_WAVE_CHANNELS) {
    return "最多只能播放" + std::to_string(MAX_WAVE_CHANNELS) + "个声道，这个文件有" +
           std::to_string(format.nChannels) + "个";
  }
  if (format.nSamplesPerSec == 0) return "采样率为0";
  if (format.nSamplesPerSec > MAX_WAVE_RATE) {
    return "采样率最高只能是" + std::to_string(MAX_WAVE_RATE) + "Hz，这个文件是" +
           std::to_string(format.nSamplesPerSec) + "Hz";
  }
  return "";
}

std::unique_ptr<SoundBuffer> SoundBuffer::OpenWave(const std::string& path) {
  TReadWaveFile wave;
  if (!wave.Open(path)) {
    if (!FileExists(path)) throw FileError(path, "文件不存在");
    throw FileError(path, "不是WAV文件");
  }
  const std::string problem = FormatProblem(wave.Format());
  if (!problem.empty()) throw FileError(path, problem);
  return std::make_unique<SoundBuffer>(wave.Format(), MapData(path, wave));
}

std::unique_ptr<SoundBuffer> SoundBuffer::MapWave(const std::string& path,
                                                  const TReadWaveFile& wave,
                                                  std::string& problem) {
  try {
    return std::make_unique<SoundBuffer>(wave.Format(), MapData(path, wave));
  } catch (const FileError& e) {
    problem = e.path() + "\r" + e.what() + "\r将无声播放。";
    // A file that is gone no longer tells how much it held: its header does.
    const int64_t held = HeldSoundBytes(path, wave);
    auto standIn = std::make_unique<SoundBuffer>(wave.Format(), held > 0 ? held : wave.Size());
    standIn->RunOnClock(nullptr);
    return standIn;
  }
}

SoundBuffer::SoundBuffer(const WAVEFORMATEX& format, MappedFile pcm)
    : m_format(format),
      m_frameBytes(2 * ChannelsOf(format)),
      m_channels(ChannelsOf(format)),
      m_pcm(std::move(pcm)),
      m_frames(int64_t(m_pcm.Size() / uint64_t(m_frameBytes))),
      m_frequency(format.nSamplesPerSec) {
  const std::string problem = FormatProblem(format);
  if (!problem.empty()) throw MediaError(problem);
}

SoundBuffer::SoundBuffer(const WAVEFORMATEX& format, int64_t bytes)
    : m_format(format),
      m_frameBytes(2 * ChannelsOf(format)),
      m_channels(ChannelsOf(format)),
      m_frames(std::max<int64_t>(bytes, 0) / m_frameBytes),
      m_frequency(format.nSamplesPerSec) {
  const std::string problem = FormatProblem(format);
  if (!problem.empty()) throw MediaError(problem);
}

bool SoundBuffer::Step(Position& pos, uint64_t step, Mode mode) const {
  pos.frac += step;
  pos.frame += int64_t(pos.frac / pos.den);
  pos.frac %= pos.den;
  if (pos.frame < m_frames) return false;
  if (mode == Mode::Looping && m_frames > 0) {
    pos.frame %= m_frames;
    return false;
  }
  pos.frame = m_frames;
  pos.frac = 0;
  return true;
}

void SoundBuffer::CatchUp() const {
  if (!m_clock) return;
  const int64_t now = m_clock->NowMicros();
  const int64_t elapsed = std::min(now - m_lastMicros, MAX_ELAPSED);
  m_lastMicros = now;
  if (elapsed <= 0 || m_mode == Mode::Stopped || m_frequency == 0) return;
  // elapsed × frequency / 10^6 frames, exactly: whole seconds first, then the rest as a
  // fraction over 10^6 carried from one look to the next.
  if (m_pos.den != MICROS) {
    m_pos.frac = m_pos.frac * MICROS / m_pos.den;
    m_pos.den = MICROS;
  }
  const uint64_t freq = uint64_t(m_frequency);
  m_pos.frame += int64_t(uint64_t(elapsed) / MICROS * freq);
  if (Step(m_pos, uint64_t(elapsed) % MICROS * freq, m_mode)) m_mode = Mode::Stopped;
}

int64_t SoundBuffer::Cursor() const {
  std::lock_guard lock(m_lock);
  CatchUp();
  return m_pos.frame * m_frameBytes;
}

void SoundBuffer::SetCursor(int64_t bytes) {
  std::lock_guard lock(m_lock);
  CatchUp();
  // Whole frames only: an offset inside a frame would swap the channels, or the bytes of
  // every sample.
  const int64_t frame = std::clamp<int64_t>(bytes, 0, Size()) / m_frameBytes;
  m_pos = Position{frame, 0, 1};
  ++m_seeks;
  if (m_mode == Mode::Once && frame >= m_frames) m_mode = Mode::Stopped;
}

void SoundBuffer::Play(bool looping) {
  std::lock_guard lock(m_lock);
  CatchUp();
  m_mode = looping ? Mode::Looping : Mode::Once;
  // Nothing left to play: at the end when once, an empty sound either way.
  if (m_pos.frame >= m_frames) {
    if (looping && m_frames > 0) {
      m_pos = Position{};
    } else {
      m_mode = Mode::Stopped;
    }
  }
}

void SoundBuffer::Stop() {
  std::lock_guard lock(m_lock);
  CatchUp();
  m_mode = Mode::Stopped;
}

void SoundBuffer::SetFrequency(int64_t samplesPerSecond) {
  std::lock_guard lock(m_lock);
  CatchUp();  // the time so far ran at the old frequency
  m_frequency = std::clamp<int64_t>(samplesPerSecond, 0, MAX_FREQUENCY);
}

int64_t SoundBuffer::Frequency() const {
  std::lock_guard lock(m_lock);
  return m_frequency;
}

bool SoundBuffer::Looping() const {
  std::lock_guard lock(m_lock);
  CatchUp();
  return m_mode == Mode::Looping;
}

bool SoundBuffer::Playing() const {
  std::lock_guard lock(m_lock);
  CatchUp();
  return m_mode != Mode::Stopped;
}

std::string SoundBuffer::SourceProblem() const {
  const std::optional<uint64_t> now = m_pcm.ShrunkTo();
  if (!now) return "";
  return m_pcm.Path() + "\r" + "声音文件在播放时被截短了（原有" + std::to_string(m_pcm.FileSize()) +
         "字节，现在只有" + std::to_string(*now) + "字节），截掉的声音无法再播放。";
}

void SoundBuffer::RunOnClock(const Clock* clock) {
  static const SteadyClock steady;
  std::lock_guard lock(m_lock);
  m_clock = clock ? clock : &steady;
  m_lastMicros = m_clock->NowMicros();
}

bool SoundBuffer::OnClock() const {
  std::lock_guard lock(m_lock);
  return m_clock != nullptr;
}

int SoundBuffer::Sample(int64_t frame, int channel) const {
  const unsigned char* p = m_pcm.Data() + frame * m_frameBytes + 2 * channel;
  return int16_t(uint16_t(p[0] | p[1] << 8));
}

void SoundBuffer::Render(int16_t* out, int frames, int deviceRate, int deviceChannels) {
  if (frames <= 0 || deviceChannels <= 0) return;
  std::fill(out, out + int64_t(frames) * deviceChannels, int16_t(0));
  if (deviceRate <= 0) return;

  // Take the cursor, play without the lock (reading the file may have to wait for the disk),
  // then put the cursor back unless it was set meanwhile.
  Position pos;
  Mode mode;
  uint64_t step;
  uint64_t seeks;
  {
    std::lock_guard lock(m_lock);
    if (m_clock || m_mode == Mode::Stopped || m_frequency == 0) return;
    pos = m_pos;
    mode = m_mode;
    step = uint64_t(m_frequency);
    seeks = m_seeks;
  }
  const uint64_t rate = uint64_t(deviceRate);
  if (pos.den != rate) {
    pos.frac = pos.frac * rate / pos.den;
    pos.den = rate;
  }

  const bool hasData = m_pcm.Data() != nullptr;
  bool ended = Step(pos, 0, mode);  // a cursor set at the end: wraps when looping
  for (int i = 0; i < frames && !ended; ++i) {
    if (hasData) {
      // Linear interpolation between this frame and the next (the first again when looping).
      const int64_t next = pos.frame + 1 < m_frames ? pos.frame + 1
                           : mode == Mode::Looping  ? 0
                                                    : pos.frame;
      const double t = double(pos.frac) / double(pos.den);
      auto at = [&](int channel) {
        const int a = Sample(pos.frame, channel);
        return int(std::lround(a + (Sample(next, channel) - a) * t));
      };
      int16_t* o = out + int64_t(i) * deviceChannels;
      if (m_channels == 1) {
        std::fill(o, o + deviceChannels, int16_t(at(0)));
      } else if (deviceChannels == 1) {
        int sum = 0;
        for (int c = 0; c < m_channels; ++c) sum += at(c);
        o[0] = int16_t(sum / m_channels);
      } else {
        for (int c = 0; c < std::min(m_channels, deviceChannels); ++c) o[c] = int16_t(at(c));
      }
    }
    ended = Step(pos, step, mode);
  }

  std::lock_guard lock(m_lock);
  if (m_seeks != seeks || m_clock) return;
  m_pos = pos;
  if (ended && m_mode == Mode::Once) m_mode = Mode::Stopped;
}

}  // namespace tamsel
