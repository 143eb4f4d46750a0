#pragma once

// Devices that play nothing but behave, against a clock, as ideal real ones would: the command
// line's scripted sessions run the playback loop on them, and tests of the loop and of the
// window use them in place of the real player and sound output.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "MediaDevices.h"
#include "ReadyGo.h"
#include "SoundBuffer.h"

namespace tamsel {

/// A clock that stands still until it is advanced.
class ManualClock : public Clock {
 public:
  int64_t NowMicros() const override { return m_now; }
  void AdvanceMicros(int64_t micros) { m_now += micros > 0 ? micros : 0; }
  void AdvanceMs(int64_t ms) { AdvanceMicros(ms * 1000); }

 private:
  int64_t m_now = 0;
};

/// A video player that plays at 1.0 against the clock up to the media's end, seeks exactly
/// (kept within 0 and the media's end) and tells the duration and frame rate it is given. Its
/// seeks take no time, or as long as a real player's: decoding from the key frame before the
/// time sought (SetSeekCost).
class SimulatedVideoPlayer : public VideoPlayer {
 public:
  SimulatedVideoPlayer(const Clock& clock, double durationSeconds, int frameRate, int height);

  void Play() override;
  void Pause() override;
  double Position() const override;
  void SetPosition(double seconds) override;
  bool Seeking() const override;
  double SeekSeconds() const override;
  void SetSpeed(double speed) override;
  double Duration() const override { return m_duration; }
  int FrameRate() const override { return m_frameRate; }
  void SetPointerShape(int shape) override { m_shape = shape; }
  int Height() const override { return m_height; }
  void SetClickHandler(std::function<void(int button)> onClick) override;

  /// How long seeks take from now on: `fixedSeconds`, plus the decoding of the pictures from
  /// the key frame before the time sought (key frames every `keyFrameSeconds`, from 0) at
  /// `decodeSpeed` seconds of video a second. A seek asked for while another is carried out
  /// starts afresh. Meanwhile the picture is the one shown before; once done, the frame sought
  /// is shown and, when playing, played on from there.
  void SetSeekCost(double fixedSeconds, double keyFrameSeconds, double decodeSpeed);
  /// How many seeks were asked for.
  int SeekCount() const { return m_seekCount; }
  /// The time of the frame on the screen, seconds: while a seek is carried out, the frame shown
  /// before it (Position tells the time sought meanwhile).
  double ShownPosition() const;

  /// What the player tells from now on.
  void SetDuration(double seconds) { m_duration = seconds; }
  void SetFrameRate(int frameRate) { m_frameRate = frameRate; }
  void SetHeight(int height) { m_height = height; }
  bool Playing() const { return m_playing; }
  int PointerShape() const { return m_shape; }
  double Speed() const { return m_speed; }
  /// A click on the video: the click handler hears of it.
  void Click(int button) const;

 private:
  const Clock& m_clock;
  double m_duration;
  int m_frameRate;
  int m_height;
  int m_shape = 0;
  /// Carries out a seek whose time has come.
  void Land() const;

  bool m_playing = false;
  double m_speed = 1;
  // The picture shown: at m_anchor seconds at m_anchorMicros, moving on while playing. A seek
  // under way moves it when it is done.
  mutable double m_anchor = 0;
  mutable int64_t m_anchorMicros = 0;
  double m_seekFixed = 0;
  double m_keyFrameSeconds = 0;
  double m_decodeSpeed = 0;  ///< 0: seeks take no time
  mutable bool m_seeking = false;
  double m_seekTarget = 0;
  int64_t m_seekStarted = 0;
  int64_t m_seekDone = 0;  ///< when the seek under way is done
  mutable double m_seekSeconds = 0;
  int m_seekCount = 0;
  std::function<void(int)> m_onClick;
};

/// The format record of 16-bit PCM in `channels` channels at `sampleRate` samples per second.
WAVEFORMATEX PcmFormat(int channels, int64_t sampleRate);

/// The sound of a simulated session: a silent stand-in for `dataBytes` bytes of 16-bit samples
/// in `channels` channels at `sampleRate`, whose cursor the clock moves at the set frequency,
/// exactly (whole frames), while playing: once up to the end of the data, or looping.
std::unique_ptr<SoundBuffer> SimulatedSound(const Clock& clock, int64_t dataBytes, int channels,
                                            int64_t sampleRate);

/// Makes simulated devices for ReadyGo; keeps the last ones it made at hand for their setters.
class SimulatedMediaFactory : public MediaFactory {
 public:
  explicit SimulatedMediaFactory(const Clock& clock) : m_clock(clock) {}

  /// What the next player tells: its duration (seconds), frame rate and height.
  double duration = 0;
  int frameRate = 0;
  int height = 0;

  std::unique_ptr<VideoPlayer> CreateVideoPlayer(const std::string& videoPath) override;
  std::unique_ptr<SoundOutput> CreateSoundOutput(const std::string& wavPath,
                                                 TReadWaveFile& wave) override;

  /// The devices made last (owned by whoever took them), or null.
  SimulatedVideoPlayer* Player() const { return m_player; }
  SoundBuffer* Sound() const { return m_sound; }

 private:
  const Clock& m_clock;
  SimulatedVideoPlayer* m_player = nullptr;
  SoundBuffer* m_sound = nullptr;
};

}  // namespace tamsel
