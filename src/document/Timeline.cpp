#include "Timeline.h"

#include <algorithm>

namespace tamsel {

void MarkSelection(std::vector<TWavSelect>& wavSel, const std::vector<TSub>& subs) {
  const int64_t cells = static_cast<int64_t>(wavSel.size());
  for (size_t i = 0; i < subs.size(); ++i) {
    const int64_t from = std::max<int64_t>(subs[i].TimeIn, 0);
    const int64_t to = std::min<int64_t>(subs[i].TimeOut, cells - 1);
    for (int64_t s = from; s <= to; ++s) wavSel[s] = {true, static_cast<int32_t>(i)};
  }
}

void CreatSelAndInd(std::vector<TWavSelect>& WavSel, std::vector<TSub>& Subs) {
  std::fill(WavSel.begin(), WavSel.end(), TWavSelect{false, -1});
  MarkSelection(WavSel, Subs);
  for (auto& sub : Subs) sub.Changed = true;
}

void InitializeSubCurr(const std::vector<TWavSelect>& WavSel, const std::vector<TSub>& Subs,
                       int32_t Position, int32_t& SubCurr) {
  const int32_t slot = Position / 10;
  if (slot >= 0 && static_cast<size_t>(slot) < WavSel.size() && WavSel[slot].Select) {
    SubCurr = WavSel[slot].SubIndex;
    return;
  }
  int32_t i = 0;
  while (static_cast<size_t>(i) < Subs.size() && Subs[i].TimeIn <= slot) ++i;
  SubCurr = std::max(i - 1, 0);
}

}  // namespace tamsel
