#include "EdgeTracking.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace tamsel {

namespace {

/// The range of the head/tail span track bar.
constexpr int LOOP_TIME_MIN = 0;
constexpr int LOOP_TIME_MAX = 5;

/// One play segment, ms. Held wide so that times near the end of the 32-bit range cannot
/// overflow while the segment is shaped.
struct Segment {
  int64_t In = 0;
  int64_t Out = 0;
};

int32_t ToMs(int64_t ms) {
  return static_cast<int32_t>(std::clamp<int64_t>(ms, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

/// The segment shapes of the entries of one timeline, for one head/tail span.
class Shapes {
 public:
  Shapes(const std::vector<TSub>& subs, int64_t span) : m_subs(subs), m_span(span) {}

  Segment Whole(int32_t s) const {
    return {int64_t(m_subs[size_t(s)].TimeIn) * 10, int64_t(m_subs[size_t(s)].TimeOut) * 10};
  }

  // A head or a tail never reaches outside its entry. For a long entry this changes nothing;
  // a short neighbour keeps its own bounds, so a jump to its tail cannot land in the gap before
  // it (or before the start of the video), and a jump to its head cannot land past its end.
  Segment Head(int32_t s) const {
    const Segment w = Whole(s);
    return {w.In, std::min(w.In + m_span, w.Out)};
  }
  Segment Tail(int32_t s) const {
    const Segment w = Whole(s);
    return {std::max(w.Out - m_span, w.In), w.Out};
  }

  /// Long entries (strictly longer than two spans) are played as a head and a tail.
  bool Long(int32_t s) const {
    const Segment w = Whole(s);
    return w.Out - w.In > 2 * m_span;
  }

 private:
  const std::vector<TSub>& m_subs;
  int64_t m_span;
};

void SetEdges(EditorState& st, Segment prev, Segment cur, Segment next) {
  st.PrevBegin = ToMs(prev.In);
  st.PrevEnd = ToMs(prev.Out);
  st.CurBegin = ToMs(cur.In);
  st.CurEnd = ToMs(cur.Out);
  st.NextBegin = ToMs(next.In);
  st.NextEnd = ToMs(next.Out);
}

/// The entry that covers slot `slot` of the map, -1 when none does. A cell that names no entry
/// of the timeline (a map not yet patched after an edit) counts as uncovered.
int32_t CoveringSub(const EditorState& st, int32_t slot) {
  if (slot < 0 || size_t(slot) >= st.WavSel.size()) return -1;
  const TWavSelect& cell = st.WavSel[size_t(slot)];
  if (!cell.Select || cell.SubIndex < 0 || size_t(cell.SubIndex) >= st.Subs.size()) return -1;
  return cell.SubIndex;
}

/// Playing forward from a gap: the first entry up to `lastSub` still to be reached from slot
/// `slot`, -1 when none is.
int32_t NextToReach(const EditorState& st, int32_t slot, int32_t lastSub) {
  for (int32_t k = 0; k <= lastSub; ++k) {
    const TSub& sub = st.Subs[size_t(k)];
    if (slot <= sub.TimeIn && slot < sub.TimeOut) return k;
  }
  return -1;
}

/// Playing backward from a gap: the entry just played, searched downward from the current
/// entry, -1 when none has ended at or before slot `slot`.
int32_t JustPlayed(const EditorState& st, int32_t slot) {
  const int32_t last = int32_t(st.Subs.size()) - 1;
  for (int32_t k = std::clamp(st.SubCurr, 0, last); k >= 0; --k) {
    const TSub& sub = st.Subs[size_t(k)];
    if (slot > sub.TimeIn && slot >= sub.TimeOut) return k;
  }
  return -1;
}

/// Head/tail mode: sets the edges when the entry at the position is long and returns true;
/// returns false when the position belongs to a short entry, which plays whole.
bool HeadTailEdges(EditorState& st, const Shapes& shapes, int32_t slot, int32_t covering,
                   int32_t lastSub, bool forward) {
  if (covering >= 0) {
    // An entry past the last one that ends inside the map is never a play segment of its own.
    const int32_t m = std::min(covering, lastSub);
    if (!shapes.Long(m)) return false;
    const TSub& sub = st.Subs[size_t(m)];
    const int64_t toHead = std::llabs(int64_t(slot) - sub.TimeIn);
    const int64_t toTail = std::llabs(int64_t(slot) - sub.TimeOut);
    if (toHead < toTail) {  // an equal distance counts as nearer the tail
      const Segment prev = m == 0 ? shapes.Head(0) : shapes.Tail(m - 1);
      SetEdges(st, prev, shapes.Head(m), shapes.Tail(m));
    } else {
      const Segment next =
          m == st.SubsInVideo - 1 ? shapes.Tail(m) : shapes.Head(std::min(m + 1, lastSub));
      SetEdges(st, shapes.Head(m), shapes.Tail(m), next);
    }
    return true;
  }
  if (forward) {
    int32_t k = NextToReach(st, slot, lastSub);
    if (k < 0) k = lastSub;
    if (!shapes.Long(k)) return false;
    SetEdges(st, shapes.Tail(std::max(k - 1, 0)), shapes.Head(k), shapes.Tail(k));
    return true;
  }
  const int32_t k = std::max(JustPlayed(st, slot), 0);
  if (!shapes.Long(k)) return false;
  SetEdges(st, shapes.Head(k), shapes.Tail(k), shapes.Head(std::min(k + 1, lastSub)));
  return true;
}

}  // namespace

int32_t EdgeSpan(const EditorState& st) {
  return (std::clamp(st.Ctrl.TrackBarLoopTime, LOOP_TIME_MIN, LOOP_TIME_MAX) + 1) * 500;
}

int32_t LastSubOf(const EditorState& st) {
  const int64_t lastSlot = int64_t(st.WavSel.size()) - 1;
  for (int32_t i = int32_t(st.Subs.size()) - 1; i >= 0; --i) {
    if (st.Subs[size_t(i)].TimeOut <= lastSlot) return i;
  }
  return int32_t(st.Subs.size()) - 1;
}

void RefreshEdge(EditorState& st) {
  if (st.Subs.empty() || st.WavSel.empty()) return;
  const int32_t lastSlot = int32_t(std::min<size_t>(st.WavSel.size() - 1, INT32_MAX));
  if (st.Subs[0].TimeIn > lastSlot) return;

  const Shapes shapes(st.Subs, EdgeSpan(st));
  const int32_t lastSub = LastSubOf(st);
  const int32_t slot = st.PlayPos / 10;

  // Past the last entry: its segments, split into head and tail when it is long (in any mode).
  if (slot > st.Subs[size_t(lastSub)].TimeOut) {
    if (st.HeadTailOnly || shapes.Long(lastSub)) {
      SetEdges(st, shapes.Head(lastSub), shapes.Tail(lastSub), shapes.Tail(lastSub));
    } else {
      SetEdges(st, shapes.Whole(std::max(lastSub - 1, 0)), shapes.Whole(lastSub),
               shapes.Whole(lastSub));
    }
    return;
  }

  // A position before the start of the video reads as its first slot.
  const int32_t at = std::clamp(slot, 0, lastSlot);
  const int32_t covering = CoveringSub(st, at);
  const bool forward = st.PlayRate >= 0;

  if (st.HeadTailOnly && HeadTailEdges(st, shapes, at, covering, lastSub, forward)) return;

  int32_t idx = covering;
  if (idx < 0) idx = forward ? NextToReach(st, at, lastSub) : JustPlayed(st, at);
  idx = std::clamp(idx, 0, lastSub);
  SetEdges(st, shapes.Whole(std::max(idx - 1, 0)), shapes.Whole(idx),
           shapes.Whole(std::min(idx + 1, lastSub)));
}

void CheckEdge(EditorState& st, int32_t position) {
  if (st.Subs.empty()) return;
  const bool anyMode = st.DialogueOnly || st.HeadTailOnly || st.LoopMode;
  // Between the neighbouring segments with no mode on: nothing to do.
  if (!anyMode && st.PrevEnd < position && position < st.NextBegin) return;

  if (st.PlayRate >= 0) {
    if (position < st.CurBegin && st.DialogueOnly) st.PlayPos = st.CurBegin;  // skip the gap
    if (position < st.CurEnd) return;
    if (st.LoopMode) {
      st.PlayPos = st.CurBegin;  // the same segment again, edges unchanged
      return;
    }
    if (st.DialogueOnly) st.PlayPos = st.NextBegin;
  } else {
    if (position > st.CurEnd && st.DialogueOnly) st.PlayPos = st.CurEnd;
    if (position > st.CurBegin) return;
    if (st.LoopMode) {
      st.PlayPos = st.CurEnd;
      return;
    }
    if (st.DialogueOnly) st.PlayPos = st.PrevEnd;
  }
  RefreshEdge(st);
}

}  // namespace tamsel
