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
