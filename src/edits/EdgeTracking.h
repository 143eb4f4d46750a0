#pragma once

#include <cstdint>

#include "EditorState.h"

namespace tamsel {

/// The head/tail span, ms: (TrackBarLoopTime + 1) * 500.
int32_t EdgeSpan(const EditorState& st);

/// The last entry that ends inside the coverage map; the last entry when none does.
int32_t LastSubOf(const EditorState& st);

/// Recomputes the six play edges (PrevBegin .. NextEnd) from PlayPos, the timeline, the play
/// direction and the play modes. Never writes PlayPos, the timeline or ActiveSub.
void RefreshEdge(EditorState& st);

/// Called with each new play position (ms): performs the mode-dependent jumps (writes PlayPos)
/// when the position runs out of the current segment, and recomputes the edges when needed.
void CheckEdge(EditorState& st, int32_t position);

}  // namespace tamsel
