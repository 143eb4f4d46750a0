#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "MediaDevices.h"
#include "SoundBuffer.h"

namespace tamsel {

/// The editor's sound output: a SoundBuffer played by SDL's default audio device, which calls
/// SoundBuffer::Render on SDL's audio thread. SDL is started for audio only and without its
/// signal handlers, so that Ctrl-C and SIGTERM still end the program.
///
/// An output always works: when SDL finds no device to open (no sound card, no sound server,
/// a driver named in SDL_AUDIODRIVER that does not exist), the buffer runs on a clock instead,
/// silently, and TakeNotice gives the user's message once.
class SdlSoundOutput : public SoundOutput {
 public:
  /// Opens the default device for `buffer`, asking for 16-bit samples at the sound's own rate
  /// and channels; a device that plays at another rate is fed resampled sound. When none opens,
  /// `buffer` runs on `clock` (nullptr: the system's steady clock), which must outlive this.
  explicit SdlSoundOutput(std::unique_ptr<SoundBuffer> buffer, const Clock* clock = nullptr);
  /// Closes the device (waiting for a callback that runs) and leaves SDL's audio.
  ~SdlSoundOutput() override;
  SdlSoundOutput(const SdlSoundOutput&) = delete;
  SdlSoundOutput& operator=(const SdlSoundOutput&) = delete;

  int64_t Cursor() const override { return m_buffer->Cursor(); }
  void SetCursor(int64_t bytes) override { m_buffer->SetCursor(bytes); }
  void Play(bool looping) override { m_buffer->Play(looping); }
  void Stop() override { m_buffer->Stop(); }
  void SetFrequency(int64_t samplesPerSecond) override { m_buffer->SetFrequency(samplesPerSecond); }
  bool Playing() const override { return m_buffer->Playing(); }
  std::string SourceProblem() const override { return m_buffer->SourceProblem(); }

  /// Whether a device plays the sound.
  bool HasDevice() const { return m_device != 0; }
  /// Why no device plays the sound, as SDL put it; "" when one does.
  const std::string& DeviceProblem() const { return m_problem; }
  /// The message to show the user when no device plays the sound, "没有可用的声音输出设备
  /// （why），将无声播放。", the first time it is asked for; "" after that and when a device plays.
  std::string TakeNotice();
  /// The rate and channels the device plays at; 0 without a device.
  int DeviceRate() const { return m_deviceRate; }
  int DeviceChannels() const { return m_deviceChannels; }

  SoundBuffer& Buffer() { return *m_buffer; }

 private:
  std::unique_ptr<SoundBuffer> m_buffer;
  bool m_sdlStarted = false;
  uint32_t m_device = 0;  ///< SDL_AudioDeviceID; 0 for none
  int m_deviceRate = 0;
  int m_deviceChannels = 0;
  std::string m_problem;
  bool m_told = false;
};

}  // namespace tamsel
