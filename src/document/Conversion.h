#pragma once

#include <string>
#include <vector>

#include "EditorState.h"

namespace tamsel {

/// The closing lines of an SRT file converted from ASS: a parked entry naming the maker.
const std::vector<std::string>& SrtClosingLines();

/// The lines of the ASS file converted from an SRT timeline.
std::vector<std::string> SrtToAssLines(const std::vector<TSub>& subs);
/// The lines of the SRT file converted from an ASS/SSA file: every line from the first event
/// line on becomes an entry, followed by the closing lines.
std::vector<std::string> AssToSrtLines(const std::vector<TAssOriginal>& assLines);

/// The items of a text script: in paragraph form runs of non-empty lines joined by `joiner`,
/// in line form every non-empty line.
std::vector<std::string> ScriptItems(const std::vector<std::string>& lines,
                                     const std::string& joiner);

/// Enables the buttons of the tools page "导入导出、转换格式" as the document allows.
void TabSheet23Show(EditorState& st);

/// "转为ASS格式" / "转为SRT格式": writes the document in the other format beside the video
/// (never over an existing file) and reloads. Returns true when the file was written.
bool ButtonSaveAsClick(EditorState& st);

/// "导出TXT文本": writes the texts to BaseFileName + ".txt" unless that file exists.
/// Returns true when the file was written.
bool ButtonSaveAsTxtClick(EditorState& st);

/// "重装修订TXT": asks for a revised script, puts its items into the document as texts, saves
/// and reloads. Returns true when the document took the script and was saved; when the save
/// fails the texts stay in memory, unsaved (SubDirty), and false is returned.
bool ButtonReLoadTxtClick(EditorState& st);

}  // namespace tamsel
