#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "EditorState.h"
#include "SubtitleLoad.h"  // PLACEHOLDER_TEXT, the text of a new or empty entry

namespace tamsel {


/// Recounts SubsInVideo from MediaLength: the last entry that begins more than 1 s before the
/// end of the video, whose out point is limited to the end. Unchanged when none does.
void RecountSubsInVideo(EditorState& st);

/// Where a split divides `text` (UTF-8): at "||" or "\N", after a punctuation mark, or in the
/// middle; empty parts become the placeholder, the second part at most 2048 characters.
std::pair<std::string, std::string> SplitText(const std::string& text);

/// Splits the active entry in two at the middle of its time span (key X).
void Shear(EditorState& st);

/// Joins the active entry onto the one before it (key C).
void Joint(EditorState& st);

/// Pulls the next entry back to start at slot `here`, or appends a 2-s placeholder entry there
/// when none follows (keys V and A). Only while the play position lies in a gap.
void MoveToHere(EditorState& st, int32_t here);

}  // namespace tamsel
