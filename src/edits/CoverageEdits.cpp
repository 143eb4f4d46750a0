#include "CoverageEdits.h"

#include <algorithm>

namespace tamsel {

namespace {

void Fill(EditorState& st, int64_t from, int64_t to, bool select, int32_t index) {
  from = std::max<int64_t>(from, 0);
  to = std::min<int64_t>(to, int64_t(st.WavSel.size()) - 1);
  for (int64_t i = from; i <= to; ++i) st.WavSel[size_t(i)] = TWavSelect{select, index};
}

}  // namespace

void MarkSlots(EditorState& st, int64_t from, int64_t to, int32_t index) {
  Fill(st, from, to, true, index);
}

void ClearSlots(EditorState& st, int64_t from, int64_t to) { Fill(st, from, to, false, -1); }

bool SlotCovered(const EditorState& st, int64_t slot) {
  return slot >= 0 && slot < int64_t(st.WavSel.size()) && st.WavSel[size_t(slot)].Select;
}

}  // namespace tamsel
