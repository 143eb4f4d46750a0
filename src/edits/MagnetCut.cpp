#include "MagnetCut.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "CoverageEdits.h"
#include "EdgeTracking.h"

namespace tamsel {

namespace {

// The score of a slot. Slots outside the score arrays (no speech data loaded, before 0, past the
// end of the sound) have no speech edge.
int Score(const std::vector<uint8_t>& scores, int64_t slot) {
  if (slot < 0 || slot >= static_cast<int64_t>(scores.size())) return 0;
  return scores[static_cast<size_t>(slot)];
}

int32_t ClampToInt32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// The magnet for a step: the window reaches from `near` to 2 × step away from the point and is
// clipped to the scores. The far end is examined first and only a strictly stronger slot takes
// over, so among equal scores the slot farthest from the point wins.
int32_t StepSearch(EditorState& st, const std::vector<uint8_t>& scores, int32_t point, int32_t step,
                   int32_t near) {
  st.SubDirty = true;
  if (!st.Ctrl.chkBoxAIenable) return step;
  const int64_t last = static_cast<int64_t>(scores.size()) - 1;
  const int64_t p = point;
  const int64_t far = p + 2 * int64_t{step};
  int64_t best;
  if (step > 0) {
    const int64_t lo = std::max<int64_t>(p + near, 0);
    const int64_t hi = std::min(far, last);
    if (lo > hi) return step;  // the window lies wholly outside the scores
    best = hi;
    for (int64_t k = hi - 1; k >= lo; --k) {
      if (Score(scores, k) > Score(scores, best)) best = k;
    }
  } else {
    const int64_t lo = std::max<int64_t>(far, 0);
    const int64_t hi = std::min(p + near, last);
    if (lo > hi) return step;
    best = lo;
    for (int64_t k = lo + 1; k <= hi; ++k) {
      if (Score(scores, k) > Score(scores, best)) best = k;
    }
  }
  return Score(scores, best) > 0 ? ClampToInt32(best - p) : step;
}

// The magnet for a cut: spreads out from the point one slot at a time, the later side first, and
// gives up at the first slot of an entry other than SubCurr on either side. `tiesToLater` makes
// equal scores go to the later slot (end scores) instead of the earlier one (start scores).
int32_t CutSearch(EditorState& st, const std::vector<uint8_t>& scores, int32_t point, int32_t range,
                  bool tiesToLater) {
  st.SubDirty = true;
  if (!st.Ctrl.chkBoxAIenable) return point;
  const auto isWall = [&st](int64_t slot) {
    return SlotCovered(st, slot) && st.WavSel[static_cast<size_t>(slot)].SubIndex != st.SubCurr;
  };
  const int64_t p = point;
  int64_t best = p;
  for (int64_t r = 1; r <= range; ++r) {
    const int64_t later = p + r;
    if (isWall(later)) break;
    const int laterScore = Score(scores, later);
    if (tiesToLater ? laterScore >= Score(scores, best) : laterScore > Score(scores, best)) {
      best = later;
    }
    const int64_t earlier = p - r;
    if (isWall(earlier)) break;
    const int earlierScore = Score(scores, earlier);
    if (tiesToLater ? earlierScore > Score(scores, best) : earlierScore >= Score(scores, best)) {
      best = earlier;
    }
  }
  return Score(scores, best) > 0 ? static_cast<int32_t>(best) : point;
}

// The slot a cut aims at: a strip column while the pointer is over the strip, else a slot. A cut
// never aims before the start of the video.
int32_t CutTarget(const EditorState& st, int32_t point) {
  int64_t p = point;
  if (st.OverWave) p += st.ViewStart / 2 + 2;
  return ClampToInt32(std::max<int64_t>(p, 0));
}

bool ActiveEntry(const EditorState& st) {
  return st.ActiveSub >= 0 && static_cast<size_t>(st.ActiveSub) < st.Subs.size();
}

void FinishCut(EditorState& st) {
  st.SubDirty = true;
  st.ViewMarker = -99.0;
  RefreshEdge(st);
}

}  // namespace

int32_t CutRange(const EditorState& st) { return (st.Ctrl.TrackBarMouseStep * 5 + 10) / 2; }

int32_t AiSeachBegin(EditorState& st, int32_t point, int32_t step) {
  return StepSearch(st, st.AiBegin, point, step, step / 2);
}

int32_t AiSeachEnd(EditorState& st, int32_t point, int32_t step) {
  return StepSearch(st, st.AiEnd, point, step, step / 3);
}

int32_t AiSeachBeginAt(EditorState& st, int32_t point, int32_t range) {
  return CutSearch(st, st.AiBegin, point, range, /*tiesToLater=*/false);
}

int32_t AiSeachEndAt(EditorState& st, int32_t point, int32_t range) {
  return CutSearch(st, st.AiEnd, point, range, /*tiesToLater=*/true);
}

void CutInAt(EditorState& st, int32_t point) {
  if (!ActiveEntry(st)) return;
  const int32_t cur = st.ActiveSub;
  TSub& sub = st.Subs[static_cast<size_t>(cur)];
  const int32_t oldIn = sub.TimeIn;
  const int32_t oldOut = sub.TimeOut;
  sub.Changed = true;
  const int32_t a = AiSeachBeginAt(st, CutTarget(st, point), CutRange(st));
  if (a < oldIn) {
    sub.TimeIn = a;
    MarkSlots(st, a, oldIn, cur);
  } else if (oldIn < a && a < oldOut) {
    // Cut at the front, keeping the minimum length. An entry already shorter than that grows
    // earlier instead (never before 0), and the slots it gains are marked.
    const int64_t newIn =
        std::max<int64_t>(std::min<int64_t>(a, int64_t{oldOut} - MinGapOf(st)), 0);
    sub.TimeIn = static_cast<int32_t>(newIn);
    if (newIn >= oldIn) {
      ClearSlots(st, oldIn, newIn - 1);
    } else {
      MarkSlots(st, newIn, oldIn, cur);
    }
  } else if (a > oldOut) {
    sub.TimeOut = a;
    MarkSlots(st, oldOut, a, cur);
  } else {
    return;  // on a boundary already
  }
  FinishCut(st);
}

void CutOutAt(EditorState& st, int32_t point) {
  if (!ActiveEntry(st)) return;
  const int32_t cur = st.ActiveSub;
  TSub& sub = st.Subs[static_cast<size_t>(cur)];
  const int32_t oldIn = sub.TimeIn;
  const int32_t oldOut = sub.TimeOut;
  sub.Changed = true;
  const int32_t b = AiSeachEndAt(st, CutTarget(st, point), CutRange(st));
  if (b < oldIn) {
    sub.TimeIn = b;
    MarkSlots(st, b, oldIn, cur);
  } else if (oldIn < b && b < oldOut) {
    // Cut at the end, keeping the minimum length. An entry already shorter than that grows
    // later instead, and the slots it gains are marked.
    const int64_t newOut = std::max<int64_t>(b, int64_t{oldIn} + MinGapOf(st));
    sub.TimeOut = ClampToInt32(newOut);
    if (sub.TimeOut <= oldOut) {
      ClearSlots(st, int64_t{sub.TimeOut} + 1, oldOut);
    } else {
      MarkSlots(st, oldOut, sub.TimeOut, cur);
    }
  } else if (b > oldOut) {
    sub.TimeOut = b;
    MarkSlots(st, oldOut, b, cur);
  } else {
    return;  // on a boundary already
  }
  FinishCut(st);
}

}  // namespace tamsel
