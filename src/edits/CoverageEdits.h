#pragma once

#include <cstdint>

#include "EditorState.h"

namespace tamsel {

/// Marks the slots from..to (inclusive) of the coverage map as covered by entry `index`. Slots
/// outside the map are left out; an empty range (to < from) marks nothing.
void MarkSlots(EditorState& st, int64_t from, int64_t to, int32_t index);

/// Clears the slots from..to (inclusive) of the coverage map: not selected, SubIndex -1. Slots
/// outside the map are left out.
void ClearSlots(EditorState& st, int64_t from, int64_t to);

/// Whether slot `slot` lies in the map and is covered.
bool SlotCovered(const EditorState& st, int64_t slot);

/// The minimum length of an entry, cs, from the settings.
inline int32_t MinGapOf(const EditorState& st) { return MinGap(st.Ctrl); }

}  // namespace tamsel
