#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tamsel {

/// One entry of the timeline. Times are centiseconds from the start of the video.
struct TSub {
  int32_t IndexBegin = 0;  ///< ASS/SSA: first merged event in AssEvents; SRT: 1-based number
  int32_t IndexEnd = 0;    ///< ASS/SSA: last merged event in AssEvents; SRT: = IndexBegin
  int32_t TimeIn = 0;
  int32_t TimeOut = 0;     ///< the entry covers slots TimeIn .. TimeOut inclusive
  std::string Dialogue;    ///< UTF-8; "||" separates display lines; override blocks removed
  bool Changed = false;    ///< must be written back at the next save (ASS/SSA)
  /// SRT: what stood after the end time on the time line (position tags such as
  /// " X1:100 X2:500 Y1:10 Y2:50"), written back after it.
  std::string SrtTimeTail{};
};

/// One line of a loaded ASS or SSA file, event line or not.
struct TAssOriginal {
  int32_t index = 0;       ///< 0-based line number
  int32_t TimeIn = -1;     ///< event start; -1 for a line that is not an event
  int32_t TimeOut = 0;     ///< event end, at least TimeIn + MinGap; 0 for other lines
  std::string Dialogue;    ///< the event's Text field, override blocks included
  std::string DoNotCare;   ///< Style, Name, MarginL, MarginR, MarginV, Effect, each with its ","
  std::string Original;    ///< the line exactly as it will be written back
  int32_t Layer = -1;      ///< the event's layer; -1 for a line that is not an event
};

/// One event of the edited layer, in time order.
struct TAssSort {
  int32_t index = 0;       ///< its line in AssLines
  int32_t TimeIn = 0;
  int32_t TimeOut = 0;
  std::string Dialogue;    ///< its Text field, override blocks included
};

/// One centisecond cell of the coverage map.
struct TWavSelect {
  bool Select = false;     ///< the slot lies inside some entry
  int32_t SubIndex = 0;    ///< the entry that covers it, -1 for none
};

/// Marks the cells of every entry of `subs` in index order (a later entry overwrites an earlier
/// one), without touching the Changed flags. Cells past the end of the map are not represented.
void MarkSelection(std::vector<TWavSelect>& wavSel, const std::vector<TSub>& subs);

/// Rebuilds the coverage map from the timeline and marks every entry Changed.
void CreatSelAndInd(std::vector<TWavSelect>& WavSel, std::vector<TSub>& Subs);

/// Sets `SubCurr` to the entry at or before the play position `Position` (milliseconds).
void InitializeSubCurr(const std::vector<TWavSelect>& WavSel, const std::vector<TSub>& Subs,
                       int32_t Position, int32_t& SubCurr);

}  // namespace tamsel
