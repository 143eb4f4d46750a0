#pragma once

// What the window's keys, wheel and pointer do while editing, apart from the strip's drags: the
// application-wide hook's key-downs and wheel notches, the position bar, the scrub below the
// video, the double click between subtitle edges, the clicks on the video and the pointer
// entering and leaving the waveform strip. The window only turns its events into these calls;
// every decision is made here. Pointer handlers read MouseX and MouseY as the playback loop's
// last tick left them, not the event's own coordinates.

#include <cstdint>

#include "EditorState.h"
#include "KeyCommands.h"
#include "MediaDevices.h"

namespace tamsel {

/// The devices an input action seeks: both exist while a video is open. Either may be null
/// (the window is closing, or a test drives the state alone); the action then changes the
/// state and seeks nothing on the missing device.
struct InputDevices {
  VideoPlayer* player = nullptr;
  SoundOutput* sound = nullptr;
};

/// "Seek both" for the key map over `dev`: the video to PlayPos, the sound cursor to its byte
/// offset, neither started nor stopped.
SeekBothFn SeekBothOf(InputDevices dev);

// ---- The application-wide hook ----

/// The virtual-key code of the Alt key.
inline constexpr int VK_ALT = 18;

/// A key-down message as the hook sees it, by its virtual-key code, before it is dispatched:
/// while editing, Alt asks the strip to redraw everything until the window has seen it once,
/// and the keys of the key map run their command (PressKey). Nothing unless editing
/// (ReadyState 2). True when the key was a command.
bool HookKeyDown(EditorState& st, int virtualKey, const SeekBothFn& seekBoth = {});

/// The window's own key handler (FormKeyDown), at any time: the first Alt key-down sets AltSeen
/// and asks the strip to redraw everything.
void FormKeyDown(EditorState& st, int virtualKey);

/// Key states of a wheel message: what is held while the wheel turns.
inline constexpr int WHEEL_KEY_LBUTTON = 1;
inline constexpr int WHEEL_KEY_RBUTTON = 2;
inline constexpr int WHEEL_KEY_SHIFT = 4;
inline constexpr int WHEEL_KEY_CONTROL = 8;
inline constexpr int WHEEL_KEY_MBUTTON = 16;
inline constexpr int WHEEL_KEY_XBUTTON1 = 32;
inline constexpr int WHEEL_KEY_XBUTTON2 = 64;

/// A wheel message as the hook sees it: its signed delta and key state give the direction
/// (WheelDirection), the pointer's place the action (WheelNotch at WheelPlaceOf). Nothing
/// unless editing.
void HookWheel(EditorState& st, int delta, int keyState, const SeekBothFn& seekBoth = {});

// ---- The position bar ScrollBarPlayPost ----

/// The pointer enters / leaves the position bar: OverPositionBar.
void ScrollBarPlayPostMouseEnter(EditorState& st);
void ScrollBarPlayPostMouseLeave(EditorState& st);

/// The highest position the bar's thumb reaches: Max - PageSize + 1 with a page, else Max
/// (never below 0).
int32_t ScrollBarTop(const ScrollBarState& bar);

/// What the user did to the bar.
enum class BarAction {
  Track,    ///< dragged the thumb to a position
  StepAdd,  ///< an arrow button: one small change
  StepSub,
  PageAdd,  ///< a click in the trough: one large change
  PageSub,
  ToStart,
  ToEnd,
};

/// The position the bar takes for `action` from `position` (`tracked`: where the thumb was
/// dragged, for Track): small and large changes as the bar's state sets them, kept within
/// 0 .. ScrollBarTop.
int32_t ScrollBarTarget(const ScrollBarState& bar, BarAction action, int32_t position,
                        int32_t tracked);

/// The user scrolled the bar to `scrollPos` (cs): only while editing with the pointer over
/// the bar, the play position goes there (no further than the end of the sound as the coverage
/// map knows it, never before 0), the bar's hint shows it, the video seeks there and the sound
/// plays once from there, and the edges are recomputed.
void ScrollBarPlayPostScroll(EditorState& st, int32_t scrollPos, InputDevices dev);

// ---- The video and the window's own surface ----

/// A click on the video, button 1 left or 2 right: the active subtitle's in (left) or out
/// (right) point at the play position, PlayPos / 10 rounded halves to even. Other buttons, or
/// not editing: nothing.
void WMPonClick(EditorState& st, int button);

/// The slot a click on the video marks at play position `ms`: ms / 10 rounded halves to even.
int32_t ClickSlotOf(int32_t ms);

/// The pointer the window's own surface shows after a pointer event on it.
enum class SurfaceCursor {
  Unchanged,
  Default,  ///< the platform's arrow
  Drag,     ///< the platform's drag pointer
};

/// A button pressed on the window's own surface: below the video (MouseY at or below the
/// player's height) a scrub starts (DragHeld, DragLastX, ReplayState -1: the loop pauses
/// while it is held) and the pointer becomes the arrow; over the video nothing. Nothing
/// unless editing.
SurfaceCursor FormMouseDown(EditorState& st);

/// The pointer moved over the window's own surface: while a scrub is held the play position
/// moves 10 ms back for each pixel right since the last step (the waveform follows the
/// pointer), kept within 0 and the end of the video (of the sound while the player has not told
/// the video's length), both devices seek there and the edges are recomputed; otherwise the
/// pointer becomes the drag pointer.
SurfaceCursor FormMouseMove(EditorState& st, InputDevices dev);

/// The button is released: the scrub ends.
void FormMouseUp(EditorState& st);

/// A double click on the window's own surface: on the right half (MouseX at or right of the
/// centre column, `clientWidth` div 2) the key R's jump ahead, on the left half the key W's
/// jump back; both seek and recompute the edges. Nothing unless editing.
void FormDblClick(EditorState& st, int32_t clientWidth, const SeekBothFn& seekBoth = {});

// ---- The waveform strip ----

/// The pointer enters the strip: playback stops (PlayRate 0, the pointer steers again) and the
/// strip redraws for the pointer over it.
void PaintWavMouseEnter(EditorState& st);

/// The pointer leaves the strip: the strip redraws for the pointer off it.
void PaintWavMouseLeave(EditorState& st);

/// The strip's container takes the input focus: playback stops.
void Panel1Enter(EditorState& st);

/// What one tick of the refresh timer `Timer4refresh` does. It runs after every paint of the
/// window: while the pointer is outside the window (not minimised) the lower panel is painted
/// again; once the pointer is seen inside, the timer stops.
struct RefreshTick {
  bool repaintLowerPanel = false;
  bool stop = false;
};
RefreshTick Timer4refreshTimer(const EditorState& st, bool minimised);

}  // namespace tamsel
