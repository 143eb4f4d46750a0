#include "DragGestures.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "BoundaryMove.h"
#include "CoverageEdits.h"
#include "EdgeTracking.h"
#include "MagnetCut.h"
#include "TimeText.h"

namespace tamsel {

namespace {

/// The values of `DragMode`.
enum : int32_t { DRAG_PLAIN = 0, DRAG_QUEUE = 1, DRAG_ELASTIC = 2 };

/// `DragStartIn` of a drag that began without an active entry: such a drag moves nothing, even
/// if an entry becomes active while the button is held (its start would be unknown).
constexpr int32_t NO_DRAG_SUBJECT = -1;

/// The elastic drag needs this many entries before the active one as a lever.
constexpr int32_t ELASTIC_LEVER = 5;

bool IsEntry(const EditorState& st, int64_t index) {
  return index >= 0 && index < static_cast<int64_t>(st.Subs.size());
}

/// A press cuts when the pointer, as the playback loop tracked it, lies in this band of the
/// strip's container.
bool PressInCutBand(const EditorState& st) {
  const int64_t y = static_cast<int64_t>(st.MouseY) - st.Panel1Top;
  return y > 40 && y < 80;
}

/// The strip shows the text cursor in this band; the wheel then moves the out point.
bool HoverInCutBand(int32_t y) { return y > 32 && y < 80; }

/// A displacement in slots, kept to what a document time can span.
int32_t LimitStep(int64_t step) {
  return static_cast<int32_t>(std::clamp<int64_t>(step, -MAX_TIME, MAX_TIME));
}

/// `t` scaled about `anchor` by `ratio`, truncated toward zero. The result is kept inside
/// [0, MAX_TIME]: a strong stretch must not wrap around the 32-bit range.
int32_t Scaled(int32_t t, int32_t anchor, double ratio) {
  const double v = std::trunc((static_cast<double>(t) - anchor) * ratio) + anchor;
  if (!(v > 0)) return 0;
  if (v > MAX_TIME) return MAX_TIME;
  return static_cast<int32_t>(v);
}

/// Rescales every entry after the first from `from` (the live timeline itself or the press
/// snapshot) about the first entry's TimeIn in `from`.
void ScaleAfterFirst(EditorState& st, const std::vector<TSub>& from, double ratio) {
  const int32_t anchor = from[0].TimeIn;
  for (size_t i = 1; i < st.Subs.size(); ++i) {
    st.Subs[i].TimeIn = Scaled(from[i].TimeIn, anchor, ratio);
    st.Subs[i].TimeOut = Scaled(from[i].TimeOut, anchor, ratio);
    st.Subs[i].Changed = true;
  }
}

/// The common end of the edits that move many entries: a full rebuild of the coverage map
/// (which also marks every entry Changed), the dirty flag, the play edges and a repaint.
void FinishManyMoved(EditorState& st) {
  CreatSelAndInd(st.WavSel, st.Subs);
  st.SubDirty = true;
  RefreshEdge(st);
  st.ViewMarker = -99.0;
}

/// One pointer move of a drag: moves the dragged entry (and, by mode, those after it) by the
/// pointer's displacement since the press less what the entry has already moved, so limits and
/// magnet snaps of earlier steps are accounted for.
void DragStep(EditorState& st, int32_t x) {
  const int32_t cur = st.ActiveSub;
  if (!IsEntry(st, cur) || st.DragStartIn < 0) return;
  const int64_t moved = static_cast<int64_t>(st.Subs[size_t(cur)].TimeIn) - st.DragStartIn;
  const int32_t delta = LimitStep(static_cast<int64_t>(x) - st.DragStartX - moved);
  switch (st.DragMode) {
    case DRAG_QUEUE:
      if (delta > 0) {
        MoveBehind(st, cur, delta);
      } else {
        // Leftwards the active entry meets its predecessor: let Move apply the collision rule,
        // then shift the followers by exactly what the active entry moved.
        const int32_t before = st.Subs[size_t(cur)].TimeIn;
        Move(st, MoveWhole, delta);
        if (IsEntry(st, cur)) MoveBehind(st, cur + 1, st.Subs[size_t(cur)].TimeIn - before);
      }
      break;
    case DRAG_ELASTIC:
      MoveElastic(st, delta);
      break;
    default:
      Move(st, MoveWhole, delta);
      break;
  }
}

/// The end of an elastic drag: the final times come from the press snapshot scaled by one
/// overall ratio, so the truncations of the live steps do not add up.
void FinishElastic(EditorState& st) {
  const std::vector<TSub>& snap = st.SubSnapshot;
  const int32_t cur = st.ActiveSub;
  // The snapshot is only applied while it still describes this timeline (an edit during the
  // drag may have added or removed entries) and gives a positive ratio; otherwise the live
  // times of the drag stand.
  if (IsEntry(st, cur) && snap.size() == st.Subs.size() && snap[size_t(cur)].TimeIn > 0 &&
      st.Subs[size_t(cur)].TimeIn > 0) {
    const double ratio =
        static_cast<double>(st.Subs[size_t(cur)].TimeIn) / snap[size_t(cur)].TimeIn;
    ScaleAfterFirst(st, snap, ratio);
  }
  st.SubSnapshot.clear();
  FinishManyMoved(st);
}

}  // namespace

void PaintWavMouseDown(EditorState& st, MouseButton button, Modifiers keys, int32_t x) {
  if (PressInCutBand(st)) {
    if (button == MouseButton::Left) {
      CutInAt(st, x);
    } else if (button == MouseButton::Right) {
      CutOutAt(st, x);
    }
    return;
  }
  st.Dragging = true;
  st.DragMode = keys.shift ? DRAG_QUEUE : keys.ctrl ? DRAG_ELASTIC : DRAG_PLAIN;
  st.SubSnapshot.clear();
  if (st.DragMode == DRAG_ELASTIC) {
    st.SubSnapshot.resize(st.Subs.size());
    for (size_t i = 0; i < st.Subs.size(); ++i) {
      st.SubSnapshot[i].TimeIn = st.Subs[i].TimeIn;
      st.SubSnapshot[i].TimeOut = st.Subs[i].TimeOut;
    }
  }
  st.DragStartX = x;
  st.DragStartIn =
      IsEntry(st, st.ActiveSub) ? st.Subs[size_t(st.ActiveSub)].TimeIn : NO_DRAG_SUBJECT;
}

StripCursor PaintWavMouseMove(EditorState& st, Modifiers keys, int32_t x, int32_t y) {
  if (st.Dragging) {
    DragStep(st, x);
    return StripCursor::Unchanged;
  }
  const StripCursor cursor = HoverInCutBand(y) ? StripCursor::IBeam
                             : keys.shift      ? StripCursor::MultiDrag
                             : keys.ctrl       ? StripCursor::SizeWE
                                               : StripCursor::Drag;
  st.StripIBeam = cursor == StripCursor::IBeam;
  const int64_t slot = static_cast<int64_t>(st.ViewStart / 2) + x;
  if (SlotCovered(st, slot)) {
    st.ActiveSub = st.WavSel[size_t(slot)].SubIndex;
    st.ViewMarker = -100.0;
  }
  return cursor;
}

void PaintWavMouseUp(EditorState& st) {
  if (st.Dragging && st.DragMode == DRAG_ELASTIC) FinishElastic(st);
  st.Dragging = false;
}

void MoveBehind(EditorState& st, int32_t head, int32_t step) {
  const int64_t count = static_cast<int64_t>(st.Subs.size());
  if (head < 0 || st.ActiveSub >= count) return;
  // A head past the last entry (a queue drag of the last entry) moves nothing, but the map is
  // rebuilt all the same: the rebuild also clears cells earlier edits left behind.
  if (head < count) {
    // The block moves as one piece and stops at time 0 and at MAX_TIME, so that no time turns
    // negative or wraps around and the entries keep their lengths and gaps.
    int64_t lowest = std::numeric_limits<int64_t>::max();
    int64_t highest = std::numeric_limits<int64_t>::min();
    for (int64_t i = head; i < count; ++i) {
      const TSub& s = st.Subs[size_t(i)];
      lowest = std::min<int64_t>({lowest, s.TimeIn, s.TimeOut});
      highest = std::max<int64_t>({highest, s.TimeIn, s.TimeOut});
    }
    const int64_t earliest = -std::max<int64_t>(lowest, 0);
    const int64_t latest = std::max<int64_t>(MAX_TIME - highest, 0);
    const int32_t shift = static_cast<int32_t>(std::clamp<int64_t>(step, earliest, latest));
    for (int64_t i = head; i < count; ++i) {
      TSub& s = st.Subs[size_t(i)];
      s.TimeIn += shift;
      s.TimeOut += shift;
      s.Changed = true;
    }
  }
  FinishManyMoved(st);
}

void MoveElastic(EditorState& st, int32_t step) {
  const int32_t cur = st.ActiveSub;
  if (step > -2 && step < 2) return;
  if (cur < ELASTIC_LEVER || !IsEntry(st, cur)) return;
  const int64_t lever = st.Subs[size_t(cur)].TimeIn;
  // An active entry at time 0 gives no lever to scale by, and a target at or before time 0
  // would fold every entry onto the first one or turn the timeline around.
  if (lever <= 0 || lever + step <= 0) return;
  const double ratio = static_cast<double>(lever + step) / static_cast<double>(lever);
  ScaleAfterFirst(st, st.Subs, ratio);  // in place: each entry reads only its own times
  FinishManyMoved(st);
}

}  // namespace tamsel
