#pragma once

// Simulated devices that also log every call the playback loop makes, so that a test can say
// which seeks, plays and pauses happen.

#include <cstdio>
#include <string>
#include <vector>

#include "PlaybackLoop.h"
#include "SimulatedDevices.h"

namespace tamsel::test {

/// One log shared by the player and the sound, in call order.
using CallLog = std::vector<std::string>;

/// "video 12.345" style numbers: seconds with three decimals.
inline std::string Seconds(double s) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", s);
  return buf;
}

class RecordingPlayer : public SimulatedVideoPlayer {
 public:
  RecordingPlayer(CallLog& log, const Clock& clock, double duration, int frameRate, int height)
      : SimulatedVideoPlayer(clock, duration, frameRate, height), m_log(log) {}
  void Play() override {
    m_log.push_back("video play");
    SimulatedVideoPlayer::Play();
  }
  void Pause() override {
    m_log.push_back("video pause");
    SimulatedVideoPlayer::Pause();
  }
  void SetPosition(double seconds) override {
    m_log.push_back("video seek " + Seconds(seconds));
    SimulatedVideoPlayer::SetPosition(seconds);
  }
  void SetPointerShape(int shape) override {
    m_log.push_back("shape " + std::to_string(shape));
    SimulatedVideoPlayer::SetPointerShape(shape);
  }
  double Position() const override {
    if (failing) throw MediaError("播放器出错");
    return SimulatedVideoPlayer::Position();
  }
  double Duration() const override {
    if (failing) throw MediaError("播放器出错");
    return SimulatedVideoPlayer::Duration();
  }
  int FrameRate() const override {
    if (failing) throw MediaError("播放器出错");
    return SimulatedVideoPlayer::FrameRate();
  }
  /// The media calls throw MediaError, as a player does while it opens a file it cannot read.
  bool failing = false;

 private:
  CallLog& m_log;
};

class RecordingSound : public SoundBuffer {
 public:
  RecordingSound(CallLog& log, const Clock& clock, int64_t dataBytes, int channels,
                 int64_t frequency)
      : SoundBuffer(PcmFormat(channels, frequency), dataBytes), m_log(log) {
    RunOnClock(&clock);
  }
  void SetCursor(int64_t bytes) override {
    m_log.push_back("sound seek " + std::to_string(bytes));
    SoundBuffer::SetCursor(bytes);
  }
  void Play(bool looping) override {
    m_log.push_back(looping ? "sound loop" : "sound once");
    SoundBuffer::Play(looping);
  }
  void Stop() override {
    m_log.push_back("sound stop");
    SoundBuffer::Stop();
  }
  void SetFrequency(int64_t f) override {
    m_log.push_back("sound freq " + std::to_string(f));
    SoundBuffer::SetFrequency(f);
  }

 private:
  CallLog& m_log;
};

/// The entries of `log` that begin with one of `prefixes`.
inline std::vector<std::string> Only(const CallLog& log,
                                     std::initializer_list<const char*> prefixes) {
  std::vector<std::string> out;
  for (const auto& e : log) {
    for (const char* p : prefixes) {
      if (e.rfind(p, 0) == 0) {
        out.push_back(e);
        break;
      }
    }
  }
  return out;
}

/// The seeks in `log`, video and sound.
inline std::vector<std::string> Seeks(const CallLog& log) {
  return Only(log, {"video seek", "sound seek"});
}

}  // namespace tamsel::test
