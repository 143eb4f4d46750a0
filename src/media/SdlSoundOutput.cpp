#include "SdlSoundOutput.h"

#include <SDL.h>

#include <algorithm>

namespace tamsel {

namespace {

/// Frames per callback: about 20 ms, a power of two as SDL prefers. The cursor moves in steps
/// of this size and runs ahead of what is heard by as much, both well within a frame step of
/// the playback loop.
Uint16 CallbackFrames(int rate) {
  Uint16 frames = 256;
  while (frames < 4096 && frames < rate / 50) frames = Uint16(frames * 2);
  return frames;
}

void Callback(void* userdata, Uint8* stream, int len) {
  auto* out = static_cast<SdlSoundOutput*>(userdata);
  const int channels = out->DeviceChannels();
  out->Buffer().Render(reinterpret_cast<int16_t*>(stream), len / (2 * channels), out->DeviceRate(),
                       channels);
}

}  // namespace

SdlSoundOutput::SdlSoundOutput(std::unique_ptr<SoundBuffer> buffer, const Clock* clock)
    : m_buffer(std::move(buffer)) {
  // Before SDL starts: otherwise it takes SIGINT and SIGTERM for itself, turning them into quit
  // events that nobody here reads, and the program could no longer be interrupted.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    m_problem = SDL_GetError();
  } else {
    m_sdlStarted = true;
    const WAVEFORMATEX& format = m_buffer->Format();
    SDL_AudioSpec want{};
    want.freq = int(format.nSamplesPerSec);
    want.format = AUDIO_S16SYS;
    want.channels = Uint8(std::min<int>(format.nChannels, 8));
    want.samples = CallbackFrames(want.freq);
    want.callback = Callback;
    want.userdata = this;
    SDL_AudioSpec have{};
    // SDL converts channels and sample format when the device wants others; the rate is ours
    // to follow, as the buffer resamples anyway.
    m_device = SDL_OpenAudioDevice(nullptr, /*iscapture=*/0, &want, &have,
                                   SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (m_device == 0) {
      m_problem = SDL_GetError();
    } else {
      m_deviceRate = have.freq;
      m_deviceChannels = have.channels;
    }
  }
  if (m_device == 0) {
    if (m_problem.empty()) m_problem = "原因不明";
    if (m_sdlStarted) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    m_sdlStarted = false;
    m_buffer->RunOnClock(clock);
    return;
  }
  SDL_PauseAudioDevice(m_device, 0);  // plays silence until the buffer is played
}

SdlSoundOutput::~SdlSoundOutput() {
  if (m_device != 0) SDL_CloseAudioDevice(m_device);
  if (m_sdlStarted) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

std::string SdlSoundOutput::TakeNotice() {
  if (m_device != 0 || m_told) return "";
  m_told = true;
  return "没有可用的声音输出设备（" + m_problem + "），将无声播放。";
}

}  // namespace tamsel
