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

void SimulatedVideoPlayer::Play() {
  if (m_playing) return;
  m_anchor = Position();
  m_anchorMicros = m_clock.NowMicros();
  m_playing = true;
}

void SimulatedVideoPlayer::Pause() {
  if (!m_playing) return;
  m_anchor = Position();
  m_anchorMicros = m_clock.NowMicros();
  m_playing = false;
}

double SimulatedVideoPlayer::Position() const {
  if (!m_playing) return m_anchor;
  const double played = static_cast<double>(m_clock.NowMicros() - m_anchorMicros) / 1e6;
  return std::min(m_anchor + played, std::max(m_duration, m_anchor));
}

void SimulatedVideoPlayer::SetPosition(double seconds) {
  if (!std::isfinite(seconds)) return;
  m_anchor = std::clamp(seconds, 0.0, std::max(m_duration, 0.0));
  m_anchorMicros = m_clock.NowMicros();
}

void SimulatedVideoPlayer::SetClickHandler(std::function<void(int button)> onClick) {
  m_onClick = std::move(onClick);
}

void SimulatedVideoPlayer::Click(int button) const {
  if (m_onClick) m_onClick(button);
}

// ---- SimulatedSoundOutput ----

SimulatedSoundOutput::SimulatedSoundOutput(const Clock& clock, int64_t dataBytes, int channels,
                                           int64_t frequency)
    : m_clock(clock),
      m_frameBytes(2 * int64_t{std::max(channels, 1)}),
      m_frequency(std::max<int64_t>(frequency, 0)) {
  m_frames = std::max<int64_t>(dataBytes, 0) / m_frameBytes;
  m_anchorMicros = m_clock.NowMicros();
}

int64_t SimulatedSoundOutput::FramesSinceAnchor() const {
  if (!m_started) return 0;
  return (m_clock.NowMicros() - m_anchorMicros) * m_frequency / 1000000;
}

int64_t SimulatedSoundOutput::Cursor() const {
  int64_t frame = m_anchor + FramesSinceAnchor();
  if (m_looping && m_frames > 0) {
    frame %= m_frames;
  } else {
    frame = std::min(frame, m_frames);
  }
  return frame * m_frameBytes;
}

void SimulatedSoundOutput::Settle() {
  m_anchor = Cursor() / m_frameBytes;
  m_anchorMicros = m_clock.NowMicros();
}

void SimulatedSoundOutput::SetCursor(int64_t bytes) {
  Settle();
  m_anchor = std::clamp<int64_t>(bytes / m_frameBytes, 0, m_frames);
}

void SimulatedSoundOutput::Play(bool looping) {
  Settle();
  m_started = true;
  m_looping = looping;
}

void SimulatedSoundOutput::Stop() {
  Settle();
  m_started = false;
}

void SimulatedSoundOutput::SetFrequency(int64_t samplesPerSecond) {
  Settle();
  m_frequency = std::max<int64_t>(samplesPerSecond, 0);
}

bool SimulatedSoundOutput::Playing() const {
  return m_started && (m_looping || Cursor() < m_frames * m_frameBytes);
}

// ---- SimulatedMediaFactory ----

std::unique_ptr<VideoPlayer> SimulatedMediaFactory::CreateVideoPlayer(const std::string&) {
  auto player = std::make_unique<SimulatedVideoPlayer>(m_clock, duration, frameRate, height);
  m_player = player.get();
  return player;
}

std::unique_ptr<SoundOutput> SimulatedMediaFactory::CreateSoundOutput(const std::string& wavPath,
                                                                      TReadWaveFile& wave) {
  auto sound =
      std::make_unique<SimulatedSoundOutput>(m_clock, HeldSoundBytes(wavPath, wave),
                                             wave.Format().nChannels, wave.Format().nSamplesPerSec);
  m_sound = sound.get();
  return sound;
}

}  // namespace tamsel
