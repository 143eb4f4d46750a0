#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "MappedFile.h"
#include "MediaDevices.h"
#include "ReadWaveFile.h"

namespace tamsel {

/// The sound of the editor: the whole PCM data of the side WAV file, held once where it lies
/// in the file (mapped, never copied), played from a byte cursor at an adjustable frequency.
///
/// Who moves the cursor: a device that calls Render on its own thread, which plays what lies
/// under the cursor and moves it past what it played; or, when no device can be opened, a
/// clock (RunOnClock), against which the cursor moves silently as if a device played. The
/// SoundOutput calls come from the window's thread; every member may be called from any
/// thread, and the lock they share is held only while the cursor's few values are read or
/// written, never while samples are read from the file.
class SoundBuffer : public SoundOutput {
 public:
  /// Maps the sample data of the WAV file `path`: the body of its data chunk only (whatever
  /// follows it, such as the preparation's own chunk, is never played), cut to the end of the
  /// file when the chunk's size promises more. Throws FileError naming the file when it is not
  /// a 16-bit PCM WAV file or cannot be mapped.
  static std::unique_ptr<SoundBuffer> OpenWave(const std::string& path);
  /// The sound an editing session plays: the sample data of the WAV at `path`, which `wave` has
  /// opened and accepted, mapped from the start of its data chunk as far as the file holds it.
  /// When it cannot be mapped (the file went away since), a silent stand-in
  /// of that length running on the steady clock, and `problem` names the file and says why.
  static std::unique_ptr<SoundBuffer> MapWave(const std::string& path, const TReadWaveFile& wave,
                                              std::string& problem);
  /// Why `format` cannot be played (in the user's language), or "" when it can: 16-bit PCM,
  /// 1 to MAX_WAVE_CHANNELS channels, a sample rate above 0 and at most MAX_WAVE_RATE.
  static std::string FormatProblem(const WAVEFORMATEX& format);

  /// Plays `pcm`: 16-bit little-endian samples, interleaved as `format` says. A trailing part
  /// of a sample frame is never played. Throws MediaError when FormatProblem finds fault.
  SoundBuffer(const WAVEFORMATEX& format, MappedFile pcm);
  /// A silent stand-in for `bytes` bytes of sound in `format`: a cursor with nothing under it,
  /// for a clock (RunOnClock) to move, as simulated sessions need. Throws MediaError when
  /// FormatProblem finds fault.
  SoundBuffer(const WAVEFORMATEX& format, int64_t bytes);

  int64_t Cursor() const override;
  void SetCursor(int64_t bytes) override;
  void Play(bool looping) override;
  void Stop() override;
  void SetFrequency(int64_t samplesPerSecond) override;
  bool Playing() const override;
  /// Once the WAV file no longer holds all of the sound mapped from it: its path, that it was
  /// cut and its sizes before and now.
  std::string SourceProblem() const override;

  /// The device's callback: fills `out` with `frames` frames of `deviceChannels` interleaved
  /// samples at `deviceRate` samples per second, played from the cursor, and moves the cursor
  /// past the sound used. The sound is resampled by frequency / `deviceRate` (linear
  /// interpolation), so that speed and pitch follow the frequency. Channels keep their places:
  /// mono goes to every device channel, stereo stays left and right, a device with fewer
  /// channels than the sound gets their mean. Silence while stopped, at frequency 0, after the
  /// end when playing once, and on a clock.
  void Render(int16_t* out, int frames, int deviceRate, int deviceChannels);

  /// No device plays this buffer: from now on the cursor moves while playing by the time that
  /// `clock` tells, times the frequency, and Render plays silence. `clock` must outlive the
  /// buffer; nullptr stands for the system's steady clock.
  void RunOnClock(const Clock* clock);
  /// Whether the cursor follows a clock rather than a device.
  bool OnClock() const;

  /// The WAV's format record.
  const WAVEFORMATEX& Format() const { return m_format; }
  /// Bytes of one sample frame: 2 per channel.
  int FrameBytes() const { return m_frameBytes; }
  /// Bytes of sound: whole frames only.
  int64_t Size() const { return m_frames * m_frameBytes; }
  /// The first byte of the sound as mapped from the file; null for a stand-in.
  const unsigned char* Data() const { return m_pcm.Data(); }
  /// The frequency set last (samples per second, 0 or more); the WAV's own sample rate until
  /// one is set.
  int64_t Frequency() const;
  /// Whether it plays looping (false while stopped or playing once).
  bool Looping() const;

 private:
  enum class Mode { Stopped, Once, Looping };

  /// Where the sound stands: whole frames from the start, plus a part of the next frame of
  /// `frac` / `den` (resampling steps fall between frames).
  struct Position {
    int64_t frame = 0;
    uint64_t frac = 0;
    uint64_t den = 1;
  };

  /// Moves `pos` on by `step` / `den` frames (step < 2^32, den ≤ 2^32), wrapping or stopping
  /// at the end as `mode` says; true when a play-once reached the end.
  bool Step(Position& pos, uint64_t step, Mode mode) const;
  /// On a clock: moves the cursor by the time passed since the last look. Lock held.
  void CatchUp() const;
  /// Sample `channel` of frame `frame`.
  int Sample(int64_t frame, int channel) const;

  const WAVEFORMATEX m_format;
  const int m_frameBytes;
  const int m_channels;
  MappedFile m_pcm;
  const int64_t m_frames;

  mutable std::mutex m_lock;
  mutable Position m_pos;
  mutable Mode m_mode = Mode::Stopped;
  int64_t m_frequency;
  /// Bumped by every SetCursor, so that a Render that began before one does not move the cursor
  /// it set.
  uint64_t m_seeks = 0;
  const Clock* m_clock = nullptr;
  mutable int64_t m_lastMicros = 0;
};

}  // namespace tamsel
