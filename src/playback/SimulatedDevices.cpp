#include "SimulatedDevices.h"

#include <algorithm>
#include <cmath>

namespace tamsel {

// ---- SimulatedVideoPlayer ----

SimulatedVideoPlayer::SimulatedVideoPlayer(const Clock& clock, double durationSeconds,
                                           int frameRate, int height)
    : m_clock(clock), m_duration(durationSeconds), m_frameRate(frameRate), m_height(height) {
  m_anchorMicros = m_clock.NowMicros();
}

void SimulatedVideoPlayer::Land() const {
  if (!m_seeking || m_clock.NowMicros() < m_seekDone) return;
  m_seeking = false;
  m_anchor = m_seekTarget;
  m_anchorMicros = m_seekDone;
  m_seekSeconds = static_cast<double>(m_seekDone - m_seekStarted) / 1e6;
}

void SimulatedVideoPlayer::Play() {
  Land();
  if (m_playing) return;
  // While a seek is under way the picture starts moving once it is done.
  if (!m_seeking) {
    m_anchor = Position();
    m_anchorMicros = m_clock.NowMicros();
  }
  m_playing = true;
}

void SimulatedVideoPlayer::Pause() {
  Land();
  if (!m_playing) return;
  if (!m_seeking) {
    m_anchor = Position();
    m_anchorMicros = m_clock.NowMicros();
  }
  m_playing = false;
}

double SimulatedVideoPlayer::Position() const {
  Land();
  if (m_seeking) return m_seekTarget;
  if (!m_playing) return m_anchor;
  const double played = static_cast<double>(m_clock.NowMicros() - m_anchorMicros) / 1e6 * m_speed;
  return std::min(m_anchor + played, std::max(m_duration, m_anchor));
}

void SimulatedVideoPlayer::SetPosition(double seconds) {
  if (!std::isfinite(seconds)) return;
  Land();
  ++m_seekCount;
  const double target = std::clamp(seconds, 0.0, std::max(m_duration, 0.0));
  if (m_decodeSpeed <= 0) {
    m_anchor = target;
    m_anchorMicros = m_clock.NowMicros();
    return;
  }
  if (!m_seeking) {
    // The picture shown until the seek is done stays where it is.
    m_anchor = Position();
    m_anchorMicros = m_clock.NowMicros();
  }
  const double fromKeyFrame = m_keyFrameSeconds > 0 ? std::fmod(target, m_keyFrameSeconds) : 0.0;
  const double cost = m_seekFixed + fromKeyFrame / m_decodeSpeed;
  m_seeking = true;
  m_seekTarget = target;
  m_seekStarted = m_clock.NowMicros();
  m_seekDone = m_seekStarted + static_cast<int64_t>(std::llround(cost * 1e6));
}

double SimulatedVideoPlayer::ShownPosition() const {
  Land();
  return m_seeking ? m_anchor : Position();
}

void SimulatedVideoPlayer::SetSpeed(double speed) {
  if (!(speed > 0)) return;
  Land();
  if (!m_seeking) {
    m_anchor = Position();
    m_anchorMicros = m_clock.NowMicros();
  }
  m_speed = speed;
}

bool SimulatedVideoPlayer::Seeking() const {
  Land();
  return m_seeking;
}

double SimulatedVideoPlayer::SeekSeconds() const {
  Land();
  return m_seekSeconds;
}

void SimulatedVideoPlayer::SetSeekCost(double fixedSeconds, double keyFrameSeconds,
                                       double decodeSpeed) {
  m_seekFixed = std::max(fixedSeconds, 0.0);
  m_keyFrameSeconds = std::max(keyFrameSeconds, 0.0);
  m_decodeSpeed = std::max(decodeSpeed, 0.0);
}

void SimulatedVideoPlayer::SetClickHandler(std::function<void(int button)> onClick) {
  m_onClick = std::move(onClick);
}

void SimulatedVideoPlayer::Click(int button) const {
  if (m_onClick) m_onClick(button);
}

// ---- the simulated sound ----

WAVEFORMATEX PcmFormat(int channels, int64_t sampleRate) {
  WAVEFORMATEX format{};
  format.wFormatTag = 1;
  format.nChannels = static_cast<uint16_t>(std::clamp(channels, 1, 0xFFFF));
  format.nSamplesPerSec = static_cast<uint32_t>(std::clamp<int64_t>(sampleRate, 1, INT32_MAX));
  format.wBitsPerSample = 16;
  format.nBlockAlign = static_cast<uint16_t>(2 * format.nChannels);
  format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
  return format;
}

std::unique_ptr<SoundBuffer> SimulatedSound(const Clock& clock, int64_t dataBytes, int channels,
                                            int64_t sampleRate) {
  auto sound = std::make_unique<SoundBuffer>(PcmFormat(channels, sampleRate),
                                             std::max<int64_t>(dataBytes, 0));
  sound->RunOnClock(&clock);
  return sound;
}

// ---- SimulatedMediaFactory ----

std::unique_ptr<VideoPlayer> SimulatedMediaFactory::CreateVideoPlayer(const std::string&) {
  auto player = std::make_unique<SimulatedVideoPlayer>(m_clock, duration, frameRate, height);
  m_player = player.get();
  return player;
}

std::unique_ptr<SoundOutput> SimulatedMediaFactory::CreateSoundOutput(const std::string& wavPath,
                                                                      TReadWaveFile& wave) {
  auto sound = SimulatedSound(m_clock, HeldSoundBytes(wavPath, wave), wave.Format().nChannels,
                              wave.Format().nSamplesPerSec);
  m_sound = sound.get();
  return sound;
}

}  // namespace tamsel
