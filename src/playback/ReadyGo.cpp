#include "ReadyGo.h"

#include <algorithm>
#include <limits>

#include "EdgeTracking.h"
#include "FileIo.h"
#include "PlaybackLoop.h"
#include "SideData.h"
#include "TimeText.h"
#include "VideoPreparation.h"

namespace tamsel {

namespace {

/// Whether every file editing needs is there: the video, its side files and the subtitles.
bool EditingFilesExist(const EditorState& st) {
  for (const std::string* name :
       {&st.VideoFileName, &st.WavFileName, &st.WsFileName, &st.AiFileName, &st.SubFileName}) {
    if (name->empty() || !FileExists(*name)) return false;
  }
  return true;
}

void Call(const std::function<void()>& step) {
  if (step) step();
}

/// What the playback loop learns anew from each video, and the position bar it sets up.
void ForgetMediaFacts(EditorState& st) {
  st.MediaLength = 0;
  st.MediaLengthGuessed = false;
  st.FrameRate = 0;
  st.MediaWaitTicks = 0;
  st.LastTickMicros = -1;
  st.VideoLag = 0;
  st.SoundWaitsForVideo = false;
  st.SoundWaitSince = -1;
  st.Timer4ShowWavEnabled = false;
  st.ScrollBarPlayPost = ScrollBarState{};
}

/// Whether the WAV holds as many slots of sound as the loaded waveform shows; when not (the WAV
/// was cut or replaced since the side files were made from it), tells so, naming both files.
bool SoundFitsWaveform(EditorState& st, const TReadWaveFile& wave) {
  const WAVEFORMATEX& format = wave.Format();
  const int64_t slotBytes = int64_t(format.nSamplesPerSec / 100) * format.nChannels * 2;
  const int64_t sound = HeldSoundBytes(st.WavFileName, wave) / slotBytes;
  const int64_t shown = int64_t(st.WsData.size() / 2) - int64_t(WS_MARGIN);
  if (sound == shown) return true;
  const auto length = [](int64_t slots) {
    return IntToTimeAssStr(static_cast<int32_t>(std::clamp<int64_t>(slots, 0, MAX_TIME)));
  };
  st.Tell(st.WavFileName + "\r" + "声音文件与波形文件" + st.WsFileName + "不符（声音长" +
          length(sound) + "，波形长" + length(shown) +
          "），也许声音文件在准备之后被改动或截短了。\r请重新打开视频，重新准备。");
  return false;
}

}  // namespace

int64_t HeldSoundBytes(const std::string& wavPath, const TReadWaveFile& wave) {
  const auto fileSize = FileSizeOf(wavPath);
  const int64_t held = fileSize && *fileSize > wave.DataOffset()
                           ? static_cast<int64_t>(*fileSize - wave.DataOffset())
                           : 0;
  return std::min<int64_t>(wave.Size(), held);
}

bool ReadyGo(EditorState& st, EditingMedia& media, MediaFactory& factory,
             const ReadyGoWindow& window) {
  if (!EditingFilesExist(st)) return false;
  ForgetMediaFacts(st);
  if (!LoadSideData(st)) return false;

  media.WaveFile = std::make_unique<TReadWaveFile>();
  media.WaveFile->Open(st.WavFileName);  // a file it cannot open leaves the format zero
  if (!PlayableWaveFormat(media.WaveFile->Format())) {
    st.Tell(UnknownWaveFormatMessage(st.WavFileName, media.WaveFile->Format()));
    media.WaveFile.reset();
    return false;
  }
  if (!SoundFitsWaveform(st, *media.WaveFile)) {
    media.WaveFile.reset();
    CheckFileReady(st);  // the side files no longer fit: not ready
    return false;
  }
  Call(window.startScreenOff);

  media.MediaPlayer.reset();
  media.MediaPlayer = factory.CreateVideoPlayer(st.VideoFileName);
  st.FrameRate = 0;
  media.MediaPlayer->Play();

  media.SoundBuffer.reset();
  const WAVEFORMATEX& format = media.WaveFile->Format();
  st.SamplesPerSlot = static_cast<int32_t>(format.nSamplesPerSec / 100);
  st.WavChannels = format.nChannels;
  st.WavDataSize = HeldSoundBytes(st.WavFileName, *media.WaveFile);
  media.SoundBuffer = factory.CreateSoundOutput(st.WavFileName, *media.WaveFile);
  media.SoundBuffer->Play(/*looping=*/false);

  st.ScrollBarPlayPost.Visible = true;  // shown, disabled until the loop knows the length
  Call(window.layOut);
  st.SaveCountdown = 3;

  GoToStartPosition(st, *media.MediaPlayer, *media.SoundBuffer);
  Call(window.editingShown);
  return true;
}

void GoToStartPosition(EditorState& st, VideoPlayer& player, SoundOutput& sound) {
  st.ReadyState = 2;
  const bool hasCurrent = st.SubCurr >= 0 && static_cast<size_t>(st.SubCurr) < st.Subs.size();
  // An empty timeline starts at the start of the video.
  st.PlayPos = hasCurrent ? static_cast<int32_t>(std::clamp<int64_t>(
                                int64_t{st.Subs[static_cast<size_t>(st.SubCurr)].TimeIn} * 10, 0,
                                std::numeric_limits<int32_t>::max()))
                          : 0;
  SeekVideo(st, player, st.PlayPos);
  SeekSound(st, sound, st.PlayPos);
  RefreshEdge(st);
  CheckEdge(st, st.PlayPos);  // a play mode may move the start
  st.ViewMarker = -100.0;
  if (st.PlayPos > 0) {
    SeekVideo(st, player, st.PlayPos);
    SeekSound(st, sound, st.PlayPos);
  }
  st.WaveRedraw = true;
}

}  // namespace tamsel
