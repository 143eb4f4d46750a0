#include "EdgeTracking.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <string>
#include <vector>

namespace tamsel {
namespace {

/// One entry's times, cs.
struct Span {
  int32_t in;
  int32_t out;
};

/// One play segment, ms.
struct Seg {
  int32_t in;
  int32_t out;
};

/// PrevBegin, PrevEnd, CurBegin, CurEnd, NextBegin, NextEnd.
using Edges = std::array<int32_t, 6>;

Edges E(Seg prev, Seg cur, Seg next) {
  return {prev.in, prev.out, cur.in, cur.out, next.in, next.out};
}

Edges EdgesOf(const EditorState& st) {
  return {st.PrevBegin, st.PrevEnd, st.CurBegin, st.CurEnd, st.NextBegin, st.NextEnd};
}

void SetEdges(EditorState& st, const Edges& e) {
  st.PrevBegin = e[0];
  st.PrevEnd = e[1];
  st.CurBegin = e[2];
  st.CurEnd = e[3];
  st.NextBegin = e[4];
  st.NextEnd = e[5];
}

/// A timeline with a freshly built coverage map of `mapSlots` cells; every entry lies in the
/// video. The head/tail span is the default 1500 ms, so entries longer than 300 cs are long.
EditorState MakeState(const std::vector<Span>& spans, size_t mapSlots) {
  EditorState st;
  for (const Span& s : spans) {
    TSub sub;
    sub.TimeIn = s.in;
    sub.TimeOut = s.out;
    st.Subs.push_back(sub);
  }
  st.WavSel.assign(mapSlots, TWavSelect{});
  CreatSelAndInd(st.WavSel, st.Subs);
  st.SubsInVideo = int32_t(spans.size());
  return st;
}

// The main timeline: short, long, short, long.
const std::vector<Span> BASE = {{100, 200}, {300, 1000}, {1200, 1400}, {1500, 2500}};
constexpr size_t BASE_MAP = 3000;

constexpr Seg W0{1000, 2000}, W1{3000, 10000}, W2{12000, 14000}, W3{15000, 25000};
constexpr Seg H1{3000, 4500}, T1{8500, 10000}, H3{15000, 16500}, T3{23500, 25000};
constexpr Seg H2{12000, 13500}, T2{12500, 14000};
// The tail of the short entry 0 (1 s long, shorter than the span) is the entry itself.
constexpr Seg T0{1000, 2000};

constexpr bool FWD = true, BACK = false, HT = true, WHOLE = false;

struct RefreshCase {
  const char* name;
  int32_t playPos;
  bool forward;
  bool headTail;
  int32_t subCurr;
  Edges expected;
};

const RefreshCase REFRESH_CASES[] = {
    // Whole-entry segments.
    {"inside the first entry", 1500, FWD, WHOLE, 0, E(W0, W0, W1)},
    {"gap, forward: the next entry", 2500, FWD, WHOLE, 1, E(W0, W1, W2)},
    {"gap, backward: the entry just played", 2500, BACK, WHOLE, 1, E(W0, W0, W1)},
    {"an in point is inside its entry", 3000, FWD, WHOLE, 0, E(W0, W1, W2)},
    {"an out point is inside its entry", 10000, BACK, WHOLE, 0, E(W0, W1, W2)},
    {"gap, forward, later", 11000, FWD, WHOLE, 0, E(W1, W2, W3)},
    {"gap, backward, searched down from SubCurr", 11000, BACK, WHOLE, 3, E(W0, W1, W2)},
    {"gap, backward, nothing played yet: entry 0", 500, BACK, WHOLE, 2, E(W0, W0, W1)},
    {"gap, backward, SubCurr below the entry just played", 11000, BACK, WHOLE, 0, E(W0, W0, W1)},
    {"the last entry: next equals current", 20000, FWD, WHOLE, 3, E(W2, W3, W3)},
    {"past a long last entry: head and tail even in whole mode", 26000, FWD, WHOLE, 3,
     E(H3, T3, T3)},
    {"past the last entry, backward", 26000, BACK, WHOLE, 3, E(H3, T3, T3)},
    {"far past the coverage map", 2000000000, FWD, WHOLE, 3, E(H3, T3, T3)},
    {"a negative position reads as the start", -5000, FWD, WHOLE, 0, E(W0, W0, W1)},
    {"a negative position, backward", -5000, BACK, WHOLE, 0, E(W0, W0, W1)},
    {"SubCurr beyond the timeline", 11000, BACK, WHOLE, 99, E(W0, W1, W2)},
    {"SubCurr -1 searches from entry 0", 11000, BACK, WHOLE, -1, E(W0, W0, W1)},
    // Head/tail mode.
    {"head/tail: a short entry plays whole", 1500, FWD, HT, 0, E(W0, W0, W1)},
    {"head/tail: near the head", 4000, FWD, HT, 0, E(T0, H1, T1)},
    {"head/tail: near the head, backward", 4000, BACK, HT, 1, E(T0, H1, T1)},
    {"head/tail: one slot nearer the head", 6490, FWD, HT, 1, E(T0, H1, T1)},
    {"head/tail: equal distance counts as the tail", 6500, FWD, HT, 1, E(H1, T1, H2)},
    {"head/tail: one slot nearer the tail", 6510, FWD, HT, 1, E(H1, T1, H2)},
    {"head/tail: tail of the last entry in the video", 24000, FWD, HT, 3, E(H3, T3, T3)},
    {"head/tail: gap, forward, before a long entry", 2500, FWD, HT, 0, E(T0, H1, T1)},
    {"head/tail: gap, forward, before a short entry", 11000, FWD, HT, 0, E(W1, W2, W3)},
    {"head/tail: gap, forward, before the last entry", 14500, FWD, HT, 0, E(T2, H3, T3)},
    {"head/tail: gap, backward, after a long entry", 11000, BACK, HT, 2, E(H1, T1, H2)},
    {"head/tail: gap, backward, after a short entry", 14500, BACK, HT, 3, E(W1, W2, W3)},
    {"head/tail: gap, backward, nothing played yet", 500, BACK, HT, 0, E(W0, W0, W1)},
    {"head/tail: past the last entry", 26000, FWD, HT, 3, E(H3, T3, T3)},
};

TEST(EdgeTracking, RefreshEdgeCases) {
  for (const RefreshCase& c : REFRESH_CASES) {
    SCOPED_TRACE(c.name);
    EditorState st = MakeState(BASE, BASE_MAP);
    st.PlayPos = c.playPos;
    st.PlayRate = c.forward ? 1.0 : -1.0;
    st.HeadTailOnly = c.headTail;
    st.DialogueOnly = c.headTail;
    st.SubCurr = c.subCurr;
    st.ActiveSub = 2;
    const std::vector<TSub> before = st.Subs;
    RefreshEdge(st);
    EXPECT_EQ(EdgesOf(st), c.expected);
    EXPECT_EQ(st.PlayPos, c.playPos);
    EXPECT_EQ(st.ActiveSub, 2);
    ASSERT_EQ(st.Subs.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
      EXPECT_EQ(st.Subs[i].TimeIn, before[i].TimeIn);
      EXPECT_EQ(st.Subs[i].TimeOut, before[i].TimeOut);
    }
  }
}

TEST(EdgeTracking, PausedCountsAsForward) {
  EditorState st = MakeState(BASE, BASE_MAP);
  st.PlayPos = 11000;
  st.PlayRate = 0;
  st.SubCurr = 3;
  RefreshEdge(st);
  EXPECT_EQ(EdgesOf(st), E(W1, W2, W3));
}

TEST(EdgeTracking, TailOfTheLastEntryInTheVideoOnlyEndsThePlay) {
  // With the entry not known to be the last one in the video, the next segment is the head of
  // the next entry, held at the last entry inside the map.
  EditorState st = MakeState(BASE, BASE_MAP);
  st.HeadTailOnly = st.DialogueOnly = true;
  st.PlayPos = 24000;
  st.SubsInVideo = 0;
  RefreshEdge(st);
  EXPECT_EQ(EdgesOf(st), E(H3, T3, H3));
}

TEST(EdgeTracking, LongMeansStrictlyLongerThanTwoSpans) {
  // Entry 0 is exactly two spans (3000 ms) long, entry 1 one centisecond more.
  EditorState st = MakeState({{100, 400}, {500, 801}}, 2000);
  st.HeadTailOnly = st.DialogueOnly = true;
  st.PlayPos = 1500;
  RefreshEdge(st);
  EXPECT_EQ(EdgesOf(st), E({1000, 4000}, {1000, 4000}, {5000, 8010}));
  st.PlayPos = 6000;
  RefreshEdge(st);
  EXPECT_EQ(EdgesOf(st), E({2500, 4000}, {5000, 6500}, {6510, 8010}));

  // A shorter span (500 ms) makes entry 0 long as well.
  st.Ctrl.TrackBarLoopTime = 0;
  st.PlayPos = 1500;
  RefreshEdge(st);
  EXPECT_EQ(EdgesOf(st), E({1000, 1500}, {1000, 1500}, {3500, 4000}));
}

TEST(EdgeTracking, FirstLongEntryInHeadTailMode) {
  EditorState st = MakeState({{100, 1000}, {1200, 1300}}, 2000);
  st.HeadTailOnly = st.DialogueOnly = true;
  // Entering it from the gap before it: its own tail is the previous segment.
  st.PlayPos = 500;
  RefreshEdge(st);
  EXPECT_EQ(EdgesOf(st), E({8500, 10000}, {1000, 2500}, {8500, 10000}));
  // Inside it near its head: its head is the previous segment.
  st.PlayPos = 2000;
  RefreshEdge(st);
  EXPECT_EQ(EdgesOf(st), E({1000, 2500}, {1000, 2500}, {8500, 10000}));
}

TEST(EdgeTracking, HeadsAndTailsStayInsideTheirEntry) {
  // Entry 0 ends at 800 ms, before one span has passed: its tail would start at -700 ms.
  EditorState st = MakeState({{20, 80}, {300, 1000}}, 2000);
  st.HeadTailOnly = st.DialogueOnly = true;
  st.PlayPos = 2500;
  RefreshEdge(st);
  EXPECT_EQ(EdgesOf(st), E({200, 800}, {3000, 4500}, {8500, 10000}));
}

TEST(EdgeTracking, PastAShortLastEntry) {
  EditorState st = MakeState({{100, 200}, {300, 400}}, 1000);
  st.PlayPos = 5000;
  RefreshEdge(st);
  EXPECT_EQ(EdgesOf(st), E({1000, 2000}, {3000, 4000}, {3000, 4000}));
  // Head/tail mode divides it, each part held inside the entry (1 s, shorter than the span).
  st.HeadTailOnly = st.DialogueOnly = true;
  RefreshEdge(st);
  EXPECT_EQ(EdgesOf(st), E({3000, 4000}, {3000, 4000}, {3000, 4000}));
}

TEST(EdgeTracking, NothingToTrackKeepsTheEdges) {
  const Edges kept = {1, 2, 3, 4, 5, 6};
  struct Case {
    const char* name;
    std::vector<Span> subs;
    size_t mapSlots;
  };
  const Case cases[] = {
      {"empty timeline", {}, 1000},
      {"empty coverage map", {{100, 200}}, 0},
      {"first entry beyond the map", {{1000, 1200}}, 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EditorState st = MakeState(c.subs, c.mapSlots);
    st.DialogueOnly = st.HeadTailOnly = true;
    st.PlayPos = 5000;
    SetEdges(st, kept);
    RefreshEdge(st);
    EXPECT_EQ(EdgesOf(st), kept);
    EXPECT_EQ(st.PlayPos, 5000);
  }
  // CheckEdge does nothing on an empty timeline, even at a segment end with every mode on.
  EditorState st = MakeState({}, 1000);
  st.DialogueOnly = st.HeadTailOnly = st.LoopMode = true;
  SetEdges(st, kept);
  st.PlayPos = 4;
  CheckEdge(st, 4);
  EXPECT_EQ(EdgesOf(st), kept);
  EXPECT_EQ(st.PlayPos, 4);
}

TEST(EdgeTracking, LastSubOf) {
  struct Case {
    const char* name;
    std::vector<Span> subs;
    size_t mapSlots;
    int32_t expected;
  };
  const Case cases[] = {
      {"empty timeline", {}, 1000, -1},
      {"every entry ends inside", {{100, 200}, {300, 500}}, 1000, 1},
      {"the last slot itself is inside", {{100, 200}, {300, 999}}, 1000, 1},
      {"the last entry ends one slot past the map", {{100, 200}, {300, 1000}}, 1000, 0},
      {"none ends inside: the last entry", {{1100, 1200}, {1300, 1400}}, 1000, 1},
      {"empty map: the last entry", {{100, 200}}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(LastSubOf(MakeState(c.subs, c.mapSlots)), c.expected);
  }
}

TEST(EdgeTracking, EntriesEndingPastTheMapAreNotPlayed) {
  // Entry 1 ends past the map, so entry 0 is the last one; inside entry 1 the position is past
  // the last entry.
  EditorState st = MakeState({{100, 200}, {300, 2000}}, 1000);
  st.PlayPos = 5000;
  RefreshEdge(st);
  EXPECT_EQ(EdgesOf(st), E(W0, W0, W0));

  // When no entry ends inside the map, the last entry is played as it is.
  st = MakeState({{100, 2000}}, 1000);
  st.PlayPos = 5000;
  RefreshEdge(st);
  EXPECT_EQ(EdgesOf(st), E({1000, 20000}, {1000, 20000}, {1000, 20000}));
}

TEST(EdgeTracking, ASlotSharedWithAnEntryPastTheMapBelongsToTheLastOne) {
  // Entry 1 touches entry 0 at slot 900 and owns that cell, but ends past the map.
  EditorState st = MakeState({{100, 900}, {900, 1500}}, 1000);
  st.PlayPos = 9000;
  RefreshEdge(st);
  EXPECT_EQ(EdgesOf(st), E({1000, 9000}, {1000, 9000}, {1000, 9000}));
  st.HeadTailOnly = st.DialogueOnly = true;
  RefreshEdge(st);
  EXPECT_EQ(EdgesOf(st), E({1000, 2500}, {7500, 9000}, {1000, 2500}));
}

TEST(EdgeTracking, ACellNamingNoEntryCountsAsAGap) {
  EditorState st = MakeState(BASE, BASE_MAP);
  st.WavSel[150] = TWavSelect{true, 99};
  st.WavSel[160] = TWavSelect{true, -1};
  for (int32_t pos : {1500, 1600}) {
    st.PlayPos = pos;
    RefreshEdge(st);
    EXPECT_EQ(EdgesOf(st), E(W0, W1, W2)) << pos;
  }
}

TEST(EdgeTracking, EdgesSaturateInsteadOfOverflowing) {
  // An out time of 3 000 000 000 ms does not fit the edges; it is held at the largest value.
  EditorState st = MakeState({{0, 300000000}}, 1000);
  st.PlayPos = 5000;
  RefreshEdge(st);
  const int32_t max = std::numeric_limits<int32_t>::max();
  EXPECT_EQ(EdgesOf(st), E({0, max}, {0, max}, {0, max}));
  st.HeadTailOnly = st.DialogueOnly = true;
  RefreshEdge(st);
  EXPECT_EQ(EdgesOf(st), E({0, 1500}, {0, 1500}, {max, max}));
}

TEST(EdgeTracking, EdgeSpan) {
  const std::pair<int, int32_t> cases[] = {{0, 500},  {1, 1000}, {2, 1500},
                                           {5, 3000}, {-3, 500}, {99, 3000}};
  for (const auto& [position, span] : cases) {
    EditorState st;
    st.Ctrl.TrackBarLoopTime = position;
    EXPECT_EQ(EdgeSpan(st), span) << position;
  }
}

// CheckEdge against hand-set edges that no recomputation on the timeline could produce, so a
// recomputation shows in the edges.
constexpr Edges HAND = {100, 200, 300, 1000, 1200, 1400};

enum Modes { NONE = 0, DIALOGUE = 1, HEADTAIL = 2, LOOP = 4 };

struct CheckCase {
  const char* name;
  int modes;
  double rate;
  int32_t position;
  int32_t playPos;  ///< PlayPos afterwards
  bool refreshed;   ///< the edges were recomputed
};

const CheckCase CHECK_CASES[] = {
    // No mode.
    {"between the neighbours", NONE, 1, 250, 250, false},
    {"at the previous end, still in the segment", NONE, 1, 200, 200, false},
    {"before the previous end, still in the segment", NONE, 1, 150, 150, false},
    {"at the next begin", NONE, 1, 1200, 1200, true},
    {"backward between the neighbours", NONE, -1, 250, 250, false},
    {"backward past the next begin, still in the segment", NONE, -1, 1300, 1300, false},
    {"backward at the current begin, still between the neighbours", NONE, -1, 300, 300, false},
    {"backward at the previous end", NONE, -1, 200, 200, true},
    {"backward before the previous end", NONE, -1, 100, 100, true},
    // Dialogue only.
    {"skips the gap before the segment", DIALOGUE, 1, 250, 300, false},
    {"inside the segment", DIALOGUE, 1, 500, 500, false},
    {"exactly at the end jumps to the next", DIALOGUE, 1, 1000, 1200, true},
    {"after the end jumps to the next", DIALOGUE, 1, 1100, 1200, true},
    {"paused counts as forward", DIALOGUE, 0, 1000, 1200, true},
    {"backward skips the gap after the segment", DIALOGUE, -1, 1100, 1000, false},
    {"backward exactly at the begin jumps to the previous", DIALOGUE, -1, 300, 200, true},
    // Loop (always with dialogue only in the program).
    {"loop: the end returns to the begin", LOOP | DIALOGUE, 1, 1000, 300, false},
    {"loop: the gap before is skipped", LOOP | DIALOGUE, 1, 250, 300, false},
    {"loop: backward, the begin returns to the end", LOOP | DIALOGUE, -1, 300, 1000, false},
    {"loop: backward, the gap after is skipped", LOOP | DIALOGUE, -1, 1100, 1000, false},
    {"loop alone does not skip the gap", LOOP, 1, 250, 250, false},
    // Head/tail: the mode flag alone disables the cheap return but does not jump.
    {"head/tail alone in the gap", HEADTAIL, 1, 250, 250, false},
    {"head/tail alone at the end", HEADTAIL, 1, 1000, 1000, true},
    {"head/tail with dialogue at the end", HEADTAIL | DIALOGUE, 1, 1000, 1200, true},
};

TEST(EdgeTracking, CheckEdgeCases) {
  for (const CheckCase& c : CHECK_CASES) {
    SCOPED_TRACE(c.name);
    EditorState st = MakeState(BASE, BASE_MAP);
    st.DialogueOnly = c.modes & DIALOGUE;
    st.HeadTailOnly = c.modes & HEADTAIL;
    st.LoopMode = c.modes & LOOP;
    st.PlayRate = c.rate;
    st.SubCurr = 1;
    SetEdges(st, HAND);
    st.PlayPos = c.position;
    CheckEdge(st, c.position);
    EXPECT_EQ(st.PlayPos, c.playPos);
    if (c.refreshed) {
      EditorState expected = st;
      SetEdges(expected, HAND);
      RefreshEdge(expected);
      EXPECT_EQ(EdgesOf(st), EdgesOf(expected));
      EXPECT_NE(EdgesOf(st), HAND);
    } else {
      EXPECT_EQ(EdgesOf(st), HAND);
    }
  }
}

/// Plays from `start` in 100 ms ticks as the playback loop does and returns the positions
/// that CheckEdge jumped to.
std::vector<int32_t> Play(EditorState& st, int32_t start, int32_t step, int ticks) {
  std::vector<int32_t> jumps;
  st.PlayRate = step >= 0 ? 1.0 : -1.0;
  st.PlayPos = start;
  RefreshEdge(st);
  for (int i = 0; i < ticks; ++i) {
    st.PlayPos += step;
    const int32_t before = st.PlayPos;
    CheckEdge(st, st.PlayPos);
    if (st.PlayPos != before) jumps.push_back(st.PlayPos);
  }
  return jumps;
}

TEST(EdgeTracking, DialogueOnlyPlaysEveryEntryThenRepeatsTheLast) {
  EditorState st = MakeState(BASE, BASE_MAP);
  st.DialogueOnly = true;
  EXPECT_EQ(Play(st, 0, 100, 400), (std::vector<int32_t>{1000, 3000, 12000, 15000, 15000, 15000}));
}

TEST(EdgeTracking, HeadTailPlaysHeadsAndTails) {
  EditorState st = MakeState(BASE, BASE_MAP);
  st.DialogueOnly = st.HeadTailOnly = true;
  EXPECT_EQ(Play(st, 0, 100, 110),
            (std::vector<int32_t>{1000, 3000, 8500, 12000, 15000, 23500, 23500, 23500}));
}

TEST(EdgeTracking, HeadTailBackward) {
  EditorState st = MakeState(BASE, BASE_MAP);
  st.DialogueOnly = st.HeadTailOnly = true;
  st.SubCurr = 3;
  // At the first entry the previous segment is the entry itself, so it repeats.
  EXPECT_EQ(Play(st, 26000, -100, 105),
            (std::vector<int32_t>{25000, 16500, 14000, 10000, 4500, 2000, 2000, 2000}));
}

TEST(EdgeTracking, HeadTailBackwardLeavesAShortLastEntry) {
  // The last entry (1 s) is shorter than the span. Playing backward from past it must reach
  // the entry before it instead of circling behind the last one.
  EditorState st = MakeState({{100, 200}, {300, 400}}, 1000);
  st.DialogueOnly = st.HeadTailOnly = true;
  st.SubCurr = 1;
  const std::vector<int32_t> jumps = Play(st, 5000, -100, 60);
  ASSERT_GE(jumps.size(), 4u);
  EXPECT_EQ(jumps[0], 4000);  // the gap after the entry is skipped
  EXPECT_EQ(jumps[1], 4000);  // its begin reached: to the end of the previous segment
  EXPECT_EQ(jumps[2], 2000);  // then on to the entry before it
}

TEST(EdgeTracking, LoopRepeatsTheSegmentWithoutRecomputing) {
  EditorState st = MakeState(BASE, BASE_MAP);
  st.DialogueOnly = st.LoopMode = true;
  EXPECT_EQ(Play(st, 3000, 100, 150), (std::vector<int32_t>{3000, 3000}));
  EXPECT_EQ(EdgesOf(st), E(W0, W1, W2));
}

}  // namespace
}  // namespace tamsel
