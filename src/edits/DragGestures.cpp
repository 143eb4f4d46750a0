#include "DragGestures.h"

namespace tamsel {

// Placeholders until the drags are built.
void PaintWavMouseDown(EditorState&, MouseButton, Modifiers, int32_t) {}
StripCursor PaintWavMouseMove(EditorState&, Modifiers, int32_t, int32_t) {
  return StripCursor::Drag;
}
void PaintWavMouseUp(EditorState&) {}
void MoveBehind(EditorState&, int32_t, int32_t) {}
void MoveElastic(EditorState&, int32_t) {}

}  // namespace tamsel
