#include "BoundaryMove.h"

#include <algorithm>

#include "CoverageEdits.h"
#include "EdgeTracking.h"
#include "MagnetCut.h"
#include "TimeText.h"

namespace tamsel {

namespace {

/// The collision rules, the item indexes of RadioGroupCrashStyle.
enum CrashStyle : int {
  CRASH_STOP = 0,       ///< "撤销调整、回避冲突；": the move stops where it would collide
  CRASH_CURRENT = 1,    ///< "当前轴优先、其它轴避让；": the neighbour gives way
  CRASH_NEIGHBOUR = 2,  ///< "其它轴优先、当前轴避让；": the moved entry gives way
  CRASH_SHARE = 3,      ///< "相互适应、协同避让；": each side gives way by half
};

/// The times of one entry while a move is worked out. Wide, so that no step, however large,
/// can overflow before the result is brought back into the range of a subtitle file.
struct Span {
  int64_t in = 0;
  int64_t out = 0;

  void Shift(int64_t d) {
    in += d;
    out += d;
  }
  bool operator==(const Span&) const = default;
};

Span SpanOf(const TSub& sub) { return {sub.TimeIn, sub.TimeOut}; }

/// Writes worked-out times back, kept inside the times a subtitle file can hold. Times that did
/// not change are left exactly as they were.
void Store(TSub& sub, const Span& before, const Span& after) {
  if (after.in != before.in) {
    sub.TimeIn = static_cast<int32_t>(std::clamp<int64_t>(after.in, 0, MAX_TIME));
  }
  if (after.out != before.out) {
    sub.TimeOut = static_cast<int32_t>(std::clamp<int64_t>(after.out, 0, MAX_TIME));
  }
}

/// The latest time a move may reach: the end of the video. While the player has not reported
/// the length yet (0) nothing is known about the end, and only the file format's limit applies;
/// clamping to 0 would squeeze every entry to the start of the video.
int64_t EndLimit(const EditorState& st) {
  return st.MediaLength > 0 ? std::min(st.MediaLength, MAX_TIME) : MAX_TIME;
}

/// The index of the last entry that counts as inside the video: it has no successor for the
/// collision rules. SubsInVideo is computed once the video's length is known; before that it is
/// left over from an earlier document, so the whole timeline counts as inside.
int64_t LastInVideo(const EditorState& st) {
  const auto count = static_cast<int64_t>(st.Subs.size());
  if (st.MediaLength <= 0) return count - 1;
  return std::min<int64_t>(st.SubsInVideo, count) - 1;
}

/// Clears the cells of from..to that the entry `index` holds; cells of other entries (a
/// neighbour that overlaps it) are left to their owners.
void ClearOwnSlots(EditorState& st, int64_t from, int64_t to, int32_t index) {
  from = std::max<int64_t>(from, 0);
  to = std::min<int64_t>(to, static_cast<int64_t>(st.WavSel.size()) - 1);
  int64_t run = -1;  // first cell of the current run of own cells, -1 outside one
  for (int64_t s = from; s <= to + 1; ++s) {
    const bool own =
        s <= to && st.WavSel[size_t(s)].Select && st.WavSel[size_t(s)].SubIndex == index;
    if (own && run < 0) run = s;
    if (!own && run >= 0) {
      ClearSlots(st, run, s - 1);
      run = -1;
    }
  }
}

/// Brings the coverage map from an entry's old range to its new one: cells it left are cleared,
/// cells it reached are marked. Cells held by another entry inside the old range (a neighbour
/// that overlapped it) stay with their owner.
void PatchMap(EditorState& st, int32_t index, const Span& before, const TSub& sub) {
  const int64_t in = sub.TimeIn;
  const int64_t out = sub.TimeOut;
  if (Span{in, out} == before) return;
  ClearOwnSlots(st, before.in, std::min(before.out, in - 1), index);
  ClearOwnSlots(st, std::max(before.in, out + 1), before.out, index);
  if (in > out) return;  // an inverted entry covers nothing
  if (out > before.out) MarkSlots(st, std::max(before.out, in), out, index);
  if (in < before.in) MarkSlots(st, in, std::min(before.in, out), index);
}

/// Hands the cells that the moved entry left (its old range outside its new one) to the entry
/// `owner` where that entry covers them: a neighbour that overlapped the moved entry.
void GiveBackSlots(EditorState& st, int32_t owner, const Span& before, const TSub& moved) {
  const TSub& sub = st.Subs[owner];
  const auto giveBack = [&](int64_t from, int64_t to) {
    MarkSlots(st, std::max<int64_t>(from, sub.TimeIn), std::min<int64_t>(to, sub.TimeOut), owner);
  };
  giveBack(before.in, std::min<int64_t>(before.out, int64_t(moved.TimeIn) - 1));
  giveBack(std::max<int64_t>(before.in, int64_t(moved.TimeOut) + 1), before.out);
}

/// The collision rule of the settings.
int CrashStyleOf(const EditorState& st) {
  return std::clamp(st.Ctrl.RadioGroupCrashStyle, int(CRASH_STOP), int(CRASH_SHARE));
}

/// The out point earlier. No neighbour can collide.
void OutEarlier(EditorState& st, int64_t step, Span& cur, int64_t minGap) {
  if (step < -2) step = AiSeachEnd(st, int32_t(cur.out), int32_t(step));
  cur.out = std::max(cur.out + step, cur.in + minGap);
}

/// The out point later, up to the end of the video, then the collision with the next
/// entry. `next` is null when there is no successor to collide with.
void OutLater(EditorState& st, int64_t step, Span& cur, Span* next, int64_t minGap) {
  const Span curBefore = cur;
  if (step > 2) step = AiSeachEnd(st, int32_t(cur.out), int32_t(step));
  // An out point already past the end stays where it is rather than being pulled back.
  step = std::min(step, std::max<int64_t>(EndLimit(st) - cur.out, 0));
  cur.out = std::max(cur.out + step, cur.in + minGap);
  if (!next || cur.out < next->in) return;  // touching counts as a collision

  const Span nextBefore = *next;
  switch (CrashStyleOf(st)) {
    case CRASH_STOP:
    case CRASH_NEIGHBOUR:
      cur.out = next->in - 1;
      break;
    case CRASH_CURRENT:
      next->in = cur.out + 1;
      if (next->out - next->in < minGap) {
        next->in = next->out - minGap;
        cur.out = next->in - 1;
      }
      break;
    case CRASH_SHARE: {
      const int64_t ov = cur.out - next->in;
      cur.out -= ov / 2;
      next->in += ov / 2;
      next->in = std::min(next->in, next->out - minGap);
      if (cur.out >= next->in) cur.out = next->in - 1;
      break;
    }
  }
  // A next entry that starts at or before this one's start (left so by cuts, which ignore the
  // neighbours) would put the out point before the in point: the move is cancelled instead.
  if (cur.out < cur.in) {
    cur = curBefore;
    *next = nextBefore;
  }
}

/// The whole entry later, up to the end of the video, under the collision rule.
void WholeLater(EditorState& st, int64_t step, Span& cur, Span* next, int64_t minGap) {
  const int64_t g = AiSeachBegin(st, int32_t(cur.in), int32_t(step));
  int64_t d = std::min(g, std::max<int64_t>(EndLimit(st) - cur.out, 0));
  if (!next) {
    cur.Shift(d);
    return;
  }
  // A limit below zero (the entries overlapped already) turns the move earlier until it holds.
  switch (CrashStyleOf(st)) {
    case CRASH_STOP:
      d = std::min(d, next->in - cur.out - 1);
      cur.Shift(d);
      break;
    case CRASH_CURRENT:
      d = std::min(d, next->out - cur.out - minGap - 1);
      cur.Shift(d);
      if (cur.out >= next->in) next->in = cur.out + 1;
      break;
    case CRASH_NEIGHBOUR:
      d = std::min(d, next->in - cur.in - minGap - 1);
      cur.Shift(d);
      if (cur.out >= next->in) cur.out = next->in - 1;
      break;
    case CRASH_SHARE: {
      cur.Shift(d);
      // Only a collision (touching counts) is shared out; a move that reaches no neighbour
      // leaves both lengths as they are, however short.
      const int64_t ov = cur.out - next->in;
      if (ov < 0) break;
      cur.out -= ov / 2;
      next->in += ov / 2;
      cur.in = std::min(cur.in, cur.out - minGap);
      next->in = std::min(next->in, next->out - minGap);
      const int64_t ov2 = cur.out - next->in;
      if (ov2 >= 0) cur.Shift(-(ov2 + 1));
      break;
    }
  }
}

/// The whole entry earlier, never before 0 for the first entry, under the collision
/// rule with the previous entry. `prev` is null for the first entry.
void WholeEarlier(EditorState& st, int64_t step, Span& cur, Span* prev, int64_t minGap) {
  const int64_t magnet = AiSeachBegin(st, int32_t(cur.in), int32_t(step));
  const int64_t g = magnet < 0 ? -magnet : magnet;
  if (!prev) {
    cur.Shift(-std::min(g, cur.in));
    return;
  }
  int64_t d = 0;
  switch (CrashStyleOf(st)) {
    case CRASH_STOP:
      d = std::min(g, cur.in - prev->out - 1);
      cur.Shift(-d);
      break;
    case CRASH_CURRENT:
      d = std::min(g, cur.in - prev->in - minGap - 1);
      cur.Shift(-d);
      if (cur.in <= prev->out) prev->out = cur.in - 1;
      break;
    case CRASH_NEIGHBOUR:
      d = std::min(g, cur.out - prev->out - minGap - 1);
      cur.Shift(-d);
      if (cur.in <= prev->out) cur.in = prev->out + 1;
      break;
    case CRASH_SHARE: {
      cur.Shift(-g);
      // As for a later move: lengths change only where the entries collide.
      const int64_t ov = prev->out - cur.in;
      if (ov < 0) break;
      prev->out -= ov / 2;
      cur.in += ov / 2;
      cur.out = std::max(cur.out, cur.in + minGap);
      prev->out = std::max(prev->out, prev->in + minGap);
      const int64_t ov2 = prev->out - cur.in;
      if (ov2 >= 0) cur.Shift(ov2 + 1);
      break;
    }
  }
}

}  // namespace

void Move(EditorState& st, int32_t moveStyle, int32_t step) {
  const int32_t cur = st.ActiveSub;
  if (cur < 0 || static_cast<size_t>(cur) >= st.Subs.size()) return;
  const int32_t last = static_cast<int32_t>(st.Subs.size()) - 1;
  const int64_t minGap = MinGapOf(st);
  // No time moves further than the longest file a subtitle may describe; this also keeps the
  // magnet's search window inside 32 bits.
  const int64_t wideStep = std::clamp<int64_t>(step, -MAX_TIME, MAX_TIME);

  const Span curBefore = SpanOf(st.Subs[cur]);
  const Span prevBefore = cur > 0 ? SpanOf(st.Subs[cur - 1]) : Span{};
  const Span nextBefore = cur < last ? SpanOf(st.Subs[cur + 1]) : Span{};
  Span curSpan = curBefore;
  Span prevSpan = prevBefore;
  Span nextSpan = nextBefore;
  Span* prev = cur > 0 ? &prevSpan : nullptr;
  Span* next = cur < last ? &nextSpan : nullptr;

  if (moveStyle == MoveOutPoint && wideStep < 0) {
    OutEarlier(st, wideStep, curSpan, minGap);
  } else if (moveStyle == MoveOutPoint && wideStep > 0) {
    // Only entries before the last one inside the video collide with their successor.
    OutLater(st, wideStep, curSpan, cur < LastInVideo(st) ? next : nullptr, minGap);
  } else if (moveStyle == MoveWhole && wideStep > 0) {
    WholeLater(st, wideStep, curSpan, cur == LastInVideo(st) ? nullptr : next, minGap);
  } else if (moveStyle == MoveWhole && wideStep < 0) {
    WholeEarlier(st, wideStep, curSpan, prev, minGap);
  }

  TSub& sub = st.Subs[cur];
  Store(sub, curBefore, curSpan);
  if (prev) Store(st.Subs[cur - 1], prevBefore, prevSpan);
  if (next) Store(st.Subs[cur + 1], nextBefore, nextSpan);

  // The neighbours first, so that the moved entry keeps any cell they would share.
  if (prev) PatchMap(st, cur - 1, prevBefore, st.Subs[cur - 1]);
  if (next) PatchMap(st, cur + 1, nextBefore, st.Subs[cur + 1]);
  PatchMap(st, cur, curBefore, sub);
  // Where a neighbour overlapped the moved entry, the cells it left are the neighbour's; the
  // later entry holds a cell both cover, as in a full rebuild of the map.
  if (SpanOf(sub) != curBefore) {
    if (prev) GiveBackSlots(st, cur - 1, curBefore, sub);
    if (next) GiveBackSlots(st, cur + 1, curBefore, sub);
  }
  const bool moved = SpanOf(sub) != curBefore || (prev && SpanOf(st.Subs[cur - 1]) != prevBefore) ||
                     (next && SpanOf(st.Subs[cur + 1]) != nextBefore);
  if (moved) st.ViewMarker = -99.0;
  for (int32_t i = std::max(cur - 1, 0); i <= std::min(cur + 1, last); ++i) {
    st.Subs[i].Changed = true;
  }
  st.SubDirty = true;
  RefreshEdge(st);
}

}  // namespace tamsel
