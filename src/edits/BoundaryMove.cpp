#include "BoundaryMove.h"

namespace tamsel {

// Placeholder until the moves are built.
void Move(EditorState&, int32_t, int32_t) {}

}  // namespace tamsel
