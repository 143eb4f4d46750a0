#pragma once

// Entering editing ("已就绪"): the side files into the arrays the strip and the magnet read,
// the WAV checked, the video player and the sound output made and started, both seeked to the
// current subtitle, and the ready state switched to editing.

#include <functional>
#include <memory>
#include <string>

#include "EditorState.h"
#include "MediaDevices.h"
#include "ReadWaveFile.h"

namespace tamsel {

/// Makes the devices of an editing session: the window makes the real ones, tests and the
/// command line simulated ones. Called by ReadyGo only, on the window's thread.
class MediaFactory {
 public:
  virtual ~MediaFactory() = default;
  /// A video player for the video at `videoPath`: silent, the whole video fitted into its
  /// area, started as soon as the video is open. A failure throws MediaError.
  virtual std::unique_ptr<VideoPlayer> CreateVideoPlayer(const std::string& videoPath) = 0;
  /// A sound output holding the whole PCM data of the WAV at `wavPath`: `wave` has opened it
  /// and stands at its first sample byte; its Format() is the format, its Size() bytes of
  /// samples start at its DataOffset() in the file (an output may map them from there rather
  /// than read them). Does not fail: an output that cannot play keeps its cursor moving
  /// silently, as SoundOutput says.
  virtual std::unique_ptr<SoundOutput> CreateSoundOutput(const std::string& wavPath,
                                                         TReadWaveFile& wave) = 0;
};

/// The objects that exist only while editing (`WaveFile`, `MediaPlayer`, `SoundBuffer`).
/// Leaving editing releases the player and the sound; the WAV reader is replaced by the next
/// ReadyGo.
struct EditingMedia {
  std::unique_ptr<TReadWaveFile> WaveFile;
  std::unique_ptr<VideoPlayer> MediaPlayer;
  std::unique_ptr<SoundOutput> SoundBuffer;
};

/// The bytes of sound the WAV at `wavPath` holds: its data chunk as `wave` (opened on it) read
/// it from the header, but no more than the file has (a cut file, or a header written before
/// the length was known).
int64_t HeldSoundBytes(const std::string& wavPath, const TReadWaveFile& wave);

/// The window's own steps of entering editing, each called at its place; any may be empty.
/// (The window turns its double buffering off itself before it calls ReadyGo; it stays off when
/// ReadyGo refuses.)
struct ReadyGoWindow {
  /// Once the files are loaded and the WAV is accepted, before the player is made: the window
  /// black, an open settings or tools page closed (Image0Click), the start screen's pictures
  /// hidden.
  std::function<void()> startScreenOff;
  /// After the sound is made: the editing screen laid out (the subtitle labels, the waveform
  /// panel and strip, the back button, the position bar and the status bar), the playback
  /// loop's and the autosave's timers enabled.
  std::function<void()> layOut;
  /// At the end: the window's minimum size 560 x 560 and the hand pointer.
  std::function<void()> editingShown;
};

/// The click on the ready picture. Does nothing unless the video, its .wav, .ws and .ai files
/// and the subtitle file all exist. Loads the side files (LoadSideData; a failure is told,
/// naming the file, and the start screen stays), checks the WAV ("WAV文件格式不认识。..."
/// for one the sound output cannot play; the start screen stays), checks that the WAV holds
/// as much sound as the waveform shows (when it does not, it was cut or replaced since the side
/// files were made: told, naming both files, and the video shown as not ready by
/// CheckFileReady; the start screen stays), makes the video player and
/// the sound output through `factory` and starts them, and goes to the start position
/// (GoToStartPosition). Resets the media facts the playback loop learns anew (the length, the
/// frame rate, the position bar) and the autosave countdown. True when editing has begun.
/// Errors of the player reach the caller (MediaError).
bool ReadyGo(EditorState& st, EditingMedia& media, MediaFactory& factory,
             const ReadyGoWindow& window = {});

/// The last steps of entering editing: ReadyState 2, PlayPos at the current subtitle's start
/// (0 for an empty timeline), both devices seeked there, the edges computed and the play modes
/// applied (CheckEdge may move PlayPos), both seeked again to a PlayPos past 0, the strip asked
/// to redraw and follow.
void GoToStartPosition(EditorState& st, VideoPlayer& player, SoundOutput& sound);

}  // namespace tamsel
