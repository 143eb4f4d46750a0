#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "EditorState.h"
#include "Timeline.h"

namespace tamsel::test {

/// In and out times (slots) of the entries of a test timeline.
using Times = std::vector<std::pair<int32_t, int32_t>>;

/// Gives `st` `slots` slots of sound as entering editing leaves them (WsData with its margin of
/// silent pairs, the score arrays with theirs), each slot's pair from `top` and `bottom`, and the
/// entries "第1句", "第2句", ... at `times`, mapped.
inline void GiveStripSound(EditorState& st, int32_t slots, const Times& times,
                           int8_t (*top)(int64_t), int8_t (*bottom)(int64_t)) {
  int n = 0;
  for (const auto& [in, out] : times) {
    TSub s;
    s.TimeIn = in;
    s.TimeOut = out;
    s.Dialogue = "第" + std::to_string(++n) + "句";
    st.Subs.push_back(s);
  }
  st.WavSel.assign(size_t(slots), TWavSelect{false, -1});
  CreatSelAndInd(st.WavSel, st.Subs);
  st.WsData.assign(2 * size_t(slots) + 2000, 0);
  for (int64_t k = 0; k < slots + 1000; ++k) {
    const bool sound = k < slots - 1;
    st.WsData[size_t(2 * k)] = sound ? top(k) : 0;
    st.WsData[size_t(2 * k + 1)] = sound ? bottom(k) : -1;
  }
  st.AiBegin.assign(size_t(slots) + 500, 0);
  st.AiEnd.assign(size_t(slots) + 500, 0);
  st.MediaLength = slots;
  st.SubsInVideo = int32_t(st.Subs.size());
}

}  // namespace tamsel::test
