#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "EditorState.h"

namespace tamsel {

/// The aligned in point for an entry that now begins at slot `point`: the nearest strongest
/// speech start within `range` slots, walked back to the start of its run, plus 5.
int32_t AiSeachMax(const EditorState& st, int32_t point, int32_t range);

/// "瞬间对齐": moves every entry onto the speech start near its in point, repairs overlaps and
/// minimum lengths, rebuilds the map and saves. Returns false, with a message naming the file,
/// when the side files cannot be read (nothing is changed then), and false when the save failed
/// (the changes stay in memory, unsaved).
bool ButtonAutoAdjBeginClick(EditorState& st);

/// The conversion factor typed into EditConvert, or nothing when it is not a number.
std::optional<double> ParseConvertFactor(const std::string& text);

/// "转 换": multiplies every time by the factor of EditConvert, resets the box to "1.000000",
/// rebuilds the map and saves. Returns false, with a message, when the text is not a number
/// (nothing is changed then) or when the save failed (the changes stay in memory, unsaved).
bool ButtonConvertClick(EditorState& st);

/// Enables ButtonConvert exactly when the ready picture is shown and 0.717 < factor < 1.414,
/// factor != 1.
void EditConvertChange(EditorState& st);

}  // namespace tamsel
