#include "BatchRetime.h"

namespace tamsel {

// Placeholders until the batch tools are built.
bool LoadSpeechScores(EditorState&) { return false; }
int32_t AiSeachMax(const EditorState&, int32_t point, int32_t) { return point + 5; }
bool ButtonAutoAdjBeginClick(EditorState&) { return false; }
std::optional<double> ParseConvertFactor(const std::string&) { return std::nullopt; }
bool ButtonConvertClick(EditorState&) { return false; }
void EditConvertChange(EditorState&) {}

}  // namespace tamsel
