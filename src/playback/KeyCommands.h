#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "EditorState.h"

namespace tamsel {

/// The keys of the key map. Letters and arrows edit and jump, the main keyboard's digits 1-6
/// switch the six states of the status panel. Shift and Ctrl do not change what a key does.
enum class Key {
  S,
  F,
  E,
  D,
  R,
  W,
  X,
  C,
  V,
  A,
  Space,
  Left,
  Right,
  Up,
  Down,
  Digit1,
  Digit2,
  Digit3,
  Digit4,
  Digit5,
  Digit6,
};

/// The key of a key-down message's virtual-key code (the platform's codes: 32 space, 37-40
/// arrows, 49-54 the digits, 65-90 the letters); nothing for a key the map does not use.
std::optional<Key> KeyFromVirtualKey(int code);

/// Where the pointer is when the wheel turns; decides what a notch moves.
enum class WheelPlace {
  OffStrip,      ///< over the video or the panel below it: the play position moves
  Strip,         ///< over the waveform strip: the active entry moves with the view
  StripCutBand,  ///< over the strip while it shows the text cursor: the out point moves
};

/// The place the window's state says the pointer is at (OverWave, StripIBeam).
WheelPlace WheelPlaceOf(const EditorState& st);

/// Brings the video player and the sound to PlayPos ("seek both"). The core has no player:
/// PlayPos is already the position, and the window passes its own seek to the commands below.
/// An empty function seeks nothing.
using SeekBothFn = std::function<void(const EditorState&)>;

/// One key step, cs: (5 * TrackBarKeyStep + 5) * StepFactor.
int32_t KeyStep(const EditorState& st);

/// The direction of a wheel message from its signed delta and its key state: -1 (earlier) for
/// one notch away from the user, +1 (later) for one notch towards the user, both only with
/// nothing, Shift (4) or Ctrl (8) held; 0 for anything else (a button held, a fine-grained
/// delta).
int WheelDirection(int delta, int keyState);

/// One wheel step, ms: with the pointer at or above the lower edge of the video a frame step,
/// lower down (TrackBarMouseStep + 1) * 20 ms; times the direction and StepFactor.
int32_t WheelStep(const EditorState& st, int direction);

/// Key R: jumps ahead to the next edge in the playing direction (CurBegin, else NextBegin
/// forward; CurEnd, else NextEnd backward), seeks and recomputes the edges. The window's
/// double click on its right half does the same.
void JumpAhead(EditorState& st, const SeekBothFn& seekBoth = {});

/// Key W: jumps back to PrevBegin (forward) or PrevEnd (backward), seeks and recomputes the
/// edges. The window's double click on its left half does the same.
void JumpBack(EditorState& st, const SeekBothFn& seekBoth = {});

/// Switches state `panel` (0-5) of the status panel as its key 1-6 does: 0 the sound style,
/// 1 "只播放对白", 2 "只播放首尾", 3 "循环" (switching 2 or 3 on also switches 1 on, switching 1
/// off switches 2 and 3 off; each recomputes the edges), 4 the magnet (the strip repaints),
/// 5 fine or coarse steps. A click on the panel does this too, then applies the modes at once
/// and saves the settings. Other numbers do nothing.
void ToggleStatusSwitch(EditorState& st, int panel);

/// A key pressed while editing, as the application-wide hook sees it: S/Left and F/Right move
/// the active entry by a key step, E/Up and D/Down its out point, R and W jump, X splits,
/// C joins, V and A pull the next entry to the play position, Space replays the current
/// segment at normal speed, 1-6 switch the status panel's states. Returns false, doing
/// nothing, unless the editor is editing (ReadyState 2).
bool PressKey(EditorState& st, Key key, const SeekBothFn& seekBoth = {});

/// One wheel notch in `direction` (-1, 0 or +1; 0 still runs the action with a zero step) at
/// `place`. Off the strip the play position moves by (10 - TrackBarAutoVolCtrlSpeed) wheel
/// steps, wrapping to 0 past the end of the sound; in the strip's cut band the view first
/// puts the active entry's out point 20 px right of the pointer, then the out point moves;
/// elsewhere on the strip the active entry and the play position move together. Does nothing
/// unless the editor is editing (ReadyState 2).
void WheelNotch(EditorState& st, int direction, WheelPlace place, const SeekBothFn& seekBoth = {});

}  // namespace tamsel
