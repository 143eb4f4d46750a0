#pragma once

#include <cstdint>

#include "EditorState.h"

namespace tamsel {

enum class MouseButton { Left, Right, Middle };

/// The keys held at a pointer event.
struct Modifiers {
  bool shift = false;
  bool ctrl = false;
};

/// The pointer shape over the waveform strip; Unchanged: the strip keeps the shape it shows.
enum class StripCursor { IBeam, MultiDrag, SizeWE, Drag, Unchanged };

/// A press on the strip at column `x`: a cut when MouseY - Panel1Top lies in the cut band
/// (40 < y < 80), otherwise the start of a plain, queue (Shift) or elastic (Ctrl) drag.
void PaintWavMouseDown(EditorState& st, MouseButton button, Modifiers keys, int32_t x);

/// Pointer moved to column `x`, row `y` of the strip: a drag step while dragging, otherwise
/// hover selection. Returns the pointer shape for the strip: a drag keeps the shape (and
/// StripIBeam) the hover left, so the wheel acts during a drag as it would before the press.
StripCursor PaintWavMouseMove(EditorState& st, Modifiers keys, int32_t x, int32_t y);

/// Button released: finishes an elastic drag and ends any drag.
void PaintWavMouseUp(EditorState& st);

/// Shifts entries head .. last by `step` slots, no limits; rebuilds the coverage map (also for
/// a head past the last entry, which shifts nothing).
void MoveBehind(EditorState& st, int32_t head, int32_t step);

/// Rescales every entry after the first about TimeIn(0) so that the active entry's TimeIn
/// moves by about `step` slots; needs ActiveSub >= 5 and |step| >= 2.
void MoveElastic(EditorState& st, int32_t step);

}  // namespace tamsel
