#pragma once

#include <string>
#include <vector>

#include "EditorState.h"

namespace tamsel {

/// The caption signs of a write: one ideographic space after an SRT write, three after an
/// ASS/SSA write; the autosave timer takes one away per idle tick.
inline constexpr const char* SAVED_SIGN = "　";

/// Puts `count` saved signs at the end of the caption in place of any still showing.
void AppendSavedSign(std::string& caption, int count);

/// The start of an event line up to and including the comma after its first field, as written:
/// "Dialogue: 0," for ASS, "Dialogue: Marked=0," for SSA ("Dialogue: " + layer + "," for a line
/// that has none yet).
std::string EventLineHead(const TAssOriginal& line);
/// Appends EventLineHead(line) to `out`.
void AppendEventLineHead(std::string& out, const TAssOriginal& line);

/// An ASS/SSA event line rebuilt from its fields, its first field kept as written:
/// EventLineHead + start + "," + end + "," + DoNotCare + Dialogue.
std::string RebuildEventLine(const TAssOriginal& line);

/// The display lines of an entry's text: the pieces between its "||" separators (one empty
/// line for an empty text).
std::vector<std::string> SplitDisplayLines(const std::string& dialogue);

/// The text of the SRT file for a timeline, in UTF-8 with CR LF line ends; the lines of `head`
/// (what stood before the first entry of the file read) come first, then an empty line.
std::string SrtFileText(const std::vector<TSub>& subs, const std::vector<std::string>& head = {});
/// Appends SrtFileText(subs, head) to `out`.
void AppendSrtFileText(std::string& out, const std::vector<TSub>& subs,
                       const std::vector<std::string>& head = {});
/// The same as lines.
std::vector<std::string> SrtFileLines(const std::vector<TSub>& subs,
                                      const std::vector<std::string>& head = {});
/// The text of an ASS/SSA file: every line's Original, in UTF-8 with CR LF line ends.
std::string AssFileText(const std::vector<TAssOriginal>& lines);
/// Appends AssFileText(lines) to `out`.
void AppendAssFileText(std::string& out, const std::vector<TAssOriginal>& lines);

/// Moves the events of every changed entry to the entry's times and rebuilds their lines
/// (ASS/SSA); clears the Changed flags.
void ApplyChangedEntries(SubtitleDocument& doc);

/// Writes the document back to its subtitle file through the temporary file (a subtitle file
/// that is a link is written through it: WriteFileThroughTemp). The first save of a document
/// first removes what killed saves left under the temporary file's name
/// (RemoveLeftoverTemporaries). Returns true when the file was written; on failure SubDirty
/// stays set and the failure is told once.
bool SubtitleSave(EditorState& st);

/// The autosave timer's tick (every 200 ms).
void Timer4SaveFileTimer(EditorState& st);

/// The document's part of closing the window: pending changes are written and "SubCurr" is
/// kept in the settings file.
void CloseDocument(EditorState& st);

/// Writes "SubCurr" to the settings file, so that the next session starts at the same entry.
/// A settings file that cannot be written is left as it is.
void KeepSubCurr(EditorState& st);

}  // namespace tamsel
