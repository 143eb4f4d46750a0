#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "EditorState.h"
#include "KeyCommands.h"
#include "PlaybackLoop.h"
#include "ReadyGo.h"
#include "SimulatedDevices.h"

namespace tamsel {

/// A script line that cannot be read or run; what() is "SCRIPT:LINE: message".
class EditScriptError : public std::runtime_error {
 public:
  EditScriptError(const std::string& script, int line, const std::string& message)
      : std::runtime_error(script + ":" + std::to_string(line) + ": " + message), m_line(line) {}
  int line() const { return m_line; }

 private:
  int m_line;
};

/// A setting a script may change: a control of the settings or tools pages, named by its key in
/// the settings file or by the control's own name.
struct ScriptSetting {
  const char* key;      ///< e.g. "KeyStep"
  const char* control;  ///< e.g. "TrackBarKeyStep"
  int max;              ///< highest position or item (0 is the lowest); 1 for a check box
  int Controls::*position = nullptr;  ///< a track bar or radio group
  bool Controls::*checked = nullptr;  ///< a check box
};

/// Every setting a script may change.
const std::vector<ScriptSetting>& ScriptSettings();
/// The setting of a key or control name (case-insensitive), or null.
const ScriptSetting* FindScriptSetting(std::string_view name);

/// Where a script puts the pointer.
enum class PointerPlace {
  Video,  ///< over the video picture
  Below,  ///< below the video, off the waveform strip
  Strip,  ///< over the strip, outside its cut band
  Band,   ///< over the strip's cut band (the strip shows the text cursor)
};

/// The commands of an edit script.
namespace edit {
struct Set {
  const ScriptSetting* setting;
  int value;
};
struct Media {
  int32_t length;  ///< cs
};
struct FrameRate {
  int32_t fps;
};
struct StripWidth {
  int32_t columns;
};
struct Seek {
  int32_t position;  ///< ms
};
struct Tick {
  int32_t count;
};
struct Rate {
  double rate;
};
struct Modes {
  bool dialogueOnly, headTailOnly, loopMode;
};
struct Pointer {
  PointerPlace place;
  std::optional<int32_t> column;
};
struct Active {
  std::optional<int32_t> index;  ///< nothing: as the strip picks it; -1: none
};
struct Keys {
  std::vector<Key> keys;
};
struct Wheel {
  PointerPlace place;
  int direction;
  int32_t count;
};
struct Cut {
  bool outPoint;
  std::optional<int32_t> slot;  ///< nothing: at the play position
};
struct Drag {
  int mode;  ///< 0 plain, 1 queue, 2 elastic
  int32_t from, to, steps;
};
}  // namespace edit

using EditAction = std::variant<edit::Set, edit::Media, edit::FrameRate, edit::StripWidth,
                                edit::Seek, edit::Tick, edit::Rate, edit::Modes, edit::Pointer,
                                edit::Active, edit::Keys, edit::Wheel, edit::Cut, edit::Drag>;

struct EditCommand {
  int line = 0;  ///< 1-based line of the script
  EditAction action;
};

/// A parsed script. Its leading set, media, framerate and strip lines (`setupCount` of them)
/// describe the editor as the video is opened: they apply before the document is loaded.
struct EditScript {
  std::string name;
  std::vector<EditCommand> commands;
  size_t setupCount = 0;
};

/// A time of a script in ms: plain digits are milliseconds, "h:mm:ss.cc" (or "h:mm:ss") a clock
/// time; at most 100 hours. Nothing for any other text.
std::optional<int64_t> ParseScriptTime(std::string_view text);

/// The strip's width in columns when a script does not say.
inline constexpr int32_t SCRIPT_STRIP_WIDTH = 1024;

/// The longest line a script may have, in bytes.
inline constexpr size_t MAX_SCRIPT_LINE = 4096;

/// Reads a script line by line (lines without their line break), checking each as it comes.
class EditScriptReader {
 public:
  explicit EditScriptReader(std::string name);
  /// Checks and takes one line. Throws EditScriptError for a line that is not a known command
  /// with valid arguments, is longer than MAX_SCRIPT_LINE or is not UTF-8 text.
  void AddLine(std::string_view line);
  /// The script read so far.
  EditScript Finish();

 private:
  EditScript m_script;
  int m_line = 0;
  int32_t m_stripWidth = SCRIPT_STRIP_WIDTH;
  bool m_inSetup = true;
};

/// Reads and checks every line of a script (named `name` in messages). Throws EditScriptError
/// at the first line that is not a known command with valid arguments.
EditScript ParseEditScript(std::string_view text, const std::string& name);

/// Reads and checks the script file at `path` line by line, holding at most one line of it in
/// memory. Throws EditScriptError (line 0 when the file cannot be read at all).
EditScript ReadEditScript(const std::string& path);

/// What the session learns from the video itself, as the player would report it.
struct MediaProbe {
  /// The video's length in seconds, or nothing (with the reason in `error`).
  std::function<std::optional<double>(const std::string& video, std::string& error)> duration;
  /// The video's frame rate, or nothing when it has none that can be told.
  std::function<std::optional<int>(const std::string& video)> frameRate;
};

/// Asks ffprobe.
MediaProbe FfprobeMediaProbe();

// The command line's stand-ins for the window: each does to the editor state what the window
// would do, without painting or playing anything. The playback loop is the editor's own, run
// on simulated devices against a clock that the script's ticks advance.

/// The height of the command line's window, pixels; its width follows the strip.
inline constexpr int32_t SCRIPT_CLIENT_HEIGHT = 800;

/// The width of the command line's window for a strip `stripWidth` columns wide: 1280 pixels,
/// or the strip with the margins the window keeps beside it when that is wider.
int32_t ScriptClientWidth(int32_t stripWidth);

/// Lays out a window whose waveform strip is `stripWidth` columns wide: the video above, the
/// strip under it, the pointer's column kept inside the strip.
void SetWindowGeometry(EditorState& st, int32_t stripWidth);

/// The editor of a scripted session: its state, the simulated video player and sound output
/// it plays, and the clock they run on, which only the script's ticks advance.
struct ScriptSession {
  explicit ScriptSession(EditorState& state) : st(state) {}
  ScriptSession(const ScriptSession&) = delete;
  ScriptSession& operator=(const ScriptSession&) = delete;

  EditorState& st;
  ManualClock clock;
  SimulatedMediaFactory factory{clock};
  EditingMedia media;
  uint32_t sampleRate = 0;  ///< the WAV's

  /// The devices the playback loop drives (editing must have begun).
  PlaybackDevices Devices();
  /// The window as the loop sees it: active, at the screen's corner, no frame, the pointer at
  /// MouseX, MouseY.
  WindowFacts Window() const;
  /// "Seek both" for the key and wheel commands.
  SeekBothFn SeekBoth();
};

/// The first look once editing has begun: the playback loop's first tick, before any time has
/// passed (it learns the media's length and frame rate and sets up the position bar), then the
/// strip's first choice of the active entry.
void FirstLook(ScriptSession& s);

/// One tick of the playback loop, one tick interval (max(FrameStep, 42) ms) after the last.
void LoopTick(ScriptSession& s);

/// The strip's choices on one of its ticks, without painting (StripChoices of the window's
/// strip, Panel1Width columns wide): the view's first column, the active entry (under the
/// pointer on the strip, else at or near the play position), the current entry under the
/// cursor, and the stand-in edges while the first entry ends beyond the sound.
void StripTick(EditorState& st);

/// Moves the pointer to `place` at strip column `column`: entering or leaving the strip as the
/// window does (entering stops playback), hovering over the strip selects the entry under it.
void MovePointer(EditorState& st, PointerPlace place, int32_t column);

/// Runs one command of `script` on an editor that is editing. Throws EditScriptError when it
/// cannot run (a subtitle index the timeline does not have).
void ApplyEditCommand(ScriptSession& s, const EditScript& script, const EditCommand& command);

/// A whole session on the video named by the state's file names: the set-up lines, the
/// document's load, entering editing as the ready picture does (ReadyGo: the side files, the
/// WAV, simulated devices whose player tells the media length and frame rate of the set-up or
/// else of `probe`), the first look, every other command in order, and the save of what
/// changed. On failure the message is told through the state's prompts (script errors as
/// "SCRIPT:LINE: message"), nothing more is saved, and false is returned.
bool RunEditSession(EditorState& st, const EditScript& script, const MediaProbe& probe);

}  // namespace tamsel
