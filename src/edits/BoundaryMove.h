#pragma once

#include <cstdint>

#include "EditorState.h"

namespace tamsel {

/// What Move moves.
inline constexpr int32_t MoveOutPoint = 0;  ///< the out point of the active entry
inline constexpr int32_t MoveWhole = 1;     ///< the whole active entry

/// Moves the out point of the active entry, or the whole entry, by `step` centiseconds
/// (negative = earlier), with the magnet, the minimum length, the end of the video and the
/// collision rule of the settings; then patches the coverage map, marks the entry and its
/// neighbours Changed, sets SubDirty and recomputes the play edges. Nothing happens without an
/// active entry.
void Move(EditorState& st, int32_t moveStyle, int32_t step);

}  // namespace tamsel
