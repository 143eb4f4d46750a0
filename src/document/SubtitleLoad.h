#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "EditorState.h"

namespace tamsel {

/// A subtitle file could not be read; line() is 1-based (0 when no line is to blame).
class LoadError : public std::runtime_error {
 public:
  LoadError(int line, const std::string& what) : std::runtime_error(what), m_line(line) {}
  int line() const { return m_line; }

 private:
  int m_line;
};

/// An event line of an ASS/SSA file: one that begins with "Dialogue:".
bool IsEventLine(std::string_view line);

/// The header of every ASS file the editor creates.
const std::vector<std::string>& AssTemplate();
/// The maker's line of the header and of an exported SRT file (without the ";").
inline constexpr const char* MAKER_LINE = "Tamsel时间轴 制作：Tamsel开发组 2025-2026";
/// Text still to be written.
inline constexpr const char* PLACEHOLDER_TEXT = "■■■■";
/// Start of the parking area for lines without real times: 8:00:00.00.
inline constexpr int32_t PARKING_START = 2880000;

/// An event line composed for new text: "Dialogue: 0,start,end,Default,,0000,0000,0000,,text".
std::string ComposeEventLine(int32_t timeIn, int32_t timeOut, const std::string& text);

/// A text script is in paragraph form when more than a quarter of its lines are empty.
bool IsParagraphForm(const std::vector<std::string>& lines);

/// The lines of a new ASS file: the header, then the script's lines parked from 8 hours on,
/// or the placeholder event when there is no script or it has no line to park.
std::vector<std::string> NewAssFileLines(const std::vector<std::string>* scriptLines);

/// Parses SRT lines into `doc` (Subs, SubCurr). Throws LoadError.
void ParseSrt(const std::vector<std::string>& lines, int32_t minGap, int32_t savedSubCurr,
              SubtitleDocument& doc);

/// Parses ASS/SSA lines into `doc` (AssLines, AssEvents, SubsBase, Subs, SubCurr, SubLayer,
/// LoadMinGap).
/// `layer` is the layer asked for; a layer without events falls back to the next lower one
/// that has some. Returns false when no layer from `layer` down to 0 has events. Throws
/// LoadError for a line that cannot be read.
bool ParseAss(const std::vector<std::string>& lines, int32_t minGap, int32_t savedSubCurr,
              int32_t layer, SubtitleDocument& doc);
/// The same, taking the lines (left empty) into AssLines instead of copying them.
bool ParseAss(std::vector<std::string>&& lines, int32_t minGap, int32_t savedSubCurr,
              int32_t layer, SubtitleDocument& doc);

/// Removes every override block ("{\" up to the next "}") from an event text.
std::string StripOverrides(std::string text);

/// The slots of the coverage map a load makes: those of the waveform file (nothing when it
/// cannot be had), or without one (SizeMapFromSubs) up to the latest out time of `subs`, at most
/// a day.
std::optional<size_t> MapSlots(const EditorState& st, const std::vector<TSub>& subs);

/// The coverage map of a load: `slots` + 1000 cells (10 s to spare), the cells of `subs` marked.
void MakeCoverageMap(CoverageMap& map, size_t slots, const std::vector<TSub>& subs);

/// Loads the subtitle file beside the video (BaseFileName + ".ass", ".ssa" or ".srt", or a new
/// ASS file) into the editor state, editing ASS/SSA layer `Layer`. On failure the message is
/// shown, the start screen shows not-ready, the previous document stays and false is returned.
bool SubtitleLoad(EditorState& st, int32_t Layer);

}  // namespace tamsel
