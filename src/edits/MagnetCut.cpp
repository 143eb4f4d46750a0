#include "MagnetCut.h"

namespace tamsel {

// Placeholders until the magnet and the cuts are built.
int32_t CutRange(const EditorState&) { return 0; }
int32_t AiSeachBegin(EditorState&, int32_t, int32_t step) { return step; }
int32_t AiSeachEnd(EditorState&, int32_t, int32_t step) { return step; }
int32_t AiSeachBeginAt(EditorState&, int32_t point, int32_t) { return point; }
int32_t AiSeachEndAt(EditorState&, int32_t point, int32_t) { return point; }
void CutInAt(EditorState&, int32_t) {}
void CutOutAt(EditorState&, int32_t) {}

}  // namespace tamsel
