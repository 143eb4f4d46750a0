#include "EdgeTracking.h"

namespace tamsel {

// Placeholder until the edges are built.
int32_t EdgeSpan(const EditorState&) { return 0; }
int32_t LastSubOf(const EditorState&) { return 0; }
void RefreshEdge(EditorState&) {}
void CheckEdge(EditorState&, int32_t) {}

}  // namespace tamsel
