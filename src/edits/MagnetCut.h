#pragma once

#include <cstdint>

#include "EditorState.h"

namespace tamsel {

/// Radius of the cut's magnet search, slots: (TrackBarMouseStep * 5 + 10) div 2.
int32_t CutRange(const EditorState& st);

/// Magnet for a whole-entry move of `step` slots from `point` (the in point): the step to
/// apply, landing on the strongest speech start in the window. Sets SubDirty.
int32_t AiSeachBegin(EditorState& st, int32_t point, int32_t step);

/// Magnet for an out-point move of `step` slots from `point` (the out point), on the
/// speech-end scores. Sets SubDirty.
int32_t AiSeachEnd(EditorState& st, int32_t point, int32_t step);

/// Magnet for a cut at slot `point`: the slot of the strongest speech start within `range`
/// slots, the search stopping at any other entry than SubCurr. Sets SubDirty.
int32_t AiSeachBeginAt(EditorState& st, int32_t point, int32_t range);

/// As AiSeachBeginAt, on the speech-end scores. Sets SubDirty.
int32_t AiSeachEndAt(EditorState& st, int32_t point, int32_t range);

/// Sets the in point of the active entry at `point`: a strip column while OverWave, else a
/// slot (extends the entry when the point lies outside it).
void CutInAt(EditorState& st, int32_t point);

/// Sets the out point of the active entry at `point`, as CutInAt.
void CutOutAt(EditorState& st, int32_t point);

}  // namespace tamsel
