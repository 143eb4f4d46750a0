#include "DragGestures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "TimeText.h"

namespace tamsel {
namespace {

using Times = std::vector<std::pair<int32_t, int32_t>>;

constexpr size_t MAP_CELLS = 20000;
constexpr int32_t OUTSIDE_BAND_Y = 100;  // strip row of a press or hover below the cut band

/// An editor state with the given entries, a coverage map built from them and nothing marked
/// Changed or dirty. Magnet off, collision rule 0, minimum length 0.5 s, pointer below the cut
/// band.
EditorState MakeState(const Times& times) {
  EditorState st;
  for (const auto& [in, out] : times) {
    TSub s;
    s.TimeIn = in;
    s.TimeOut = out;
    st.Subs.push_back(s);
  }
  st.WavSel.assign(MAP_CELLS, TWavSelect{false, -1});
  CreatSelAndInd(st.WavSel, st.Subs);
  for (auto& s : st.Subs) s.Changed = false;
  st.AiBegin.assign(MAP_CELLS - 500, 0);
  st.AiEnd.assign(MAP_CELLS - 500, 0);
  st.Ctrl.chkBoxAIenable = false;
  st.Ctrl.RadioGroupCrashStyle = 0;
  st.MediaLength = int32_t(MAP_CELLS - 1000);
  st.SubsInVideo = int32_t(st.Subs.size());
  st.Panel1Top = 300;
  st.MouseY = st.Panel1Top + OUTSIDE_BAND_Y;
  st.ActiveSub = -1;
  st.SubDirty = false;
  st.ViewMarker = 0;
  return st;
}

Times TimesOf(const EditorState& st) {
  Times t;
  for (const auto& s : st.Subs) t.emplace_back(s.TimeIn, s.TimeOut);
  return t;
}

/// Whether the coverage map is exactly what a full rebuild from the timeline gives.
bool MapMatchesTimeline(const EditorState& st) {
  std::vector<TWavSelect> expected(st.WavSel.size(), TWavSelect{false, -1});
  MarkSelection(expected, st.Subs);
  for (size_t i = 0; i < expected.size(); ++i) {
    if (expected[i].Select != st.WavSel[i].Select || expected[i].SubIndex != st.WavSel[i].SubIndex)
      return false;
  }
  return true;
}

bool AllChanged(const EditorState& st) {
  for (const auto& s : st.Subs)
    if (!s.Changed) return false;
  return true;
}

bool NoneChanged(const EditorState& st) {
  for (const auto& s : st.Subs)
    if (s.Changed) return false;
  return true;
}

/// Every time within [0, MAX_TIME], each entry in order and not before its predecessor.
bool OrderedAndInRange(const EditorState& st) {
  for (size_t i = 0; i < st.Subs.size(); ++i) {
    const TSub& s = st.Subs[i];
    if (s.TimeIn < 0 || s.TimeOut > MAX_TIME || s.TimeOut < s.TimeIn) return false;
    if (i > 0 && s.TimeIn < st.Subs[i - 1].TimeIn) return false;
  }
  return true;
}

constexpr Modifiers NO_KEYS{};
constexpr Modifiers SHIFT{true, false};
constexpr Modifiers CTRL{false, true};

/// Press at column `startX`, move to each column of `path` in turn.
void Drag(EditorState& st, Modifiers keys, int32_t startX, const std::vector<int32_t>& path) {
  PaintWavMouseDown(st, MouseButton::Left, keys, startX);
  for (int32_t x : path) PaintWavMouseMove(st, keys, x, OUTSIDE_BAND_Y);
}

// Seven entries; entry 5 starts at 1000, entry 0 at 100: a lever for the elastic drag.
const Times ELASTIC_TIMES = {{100, 180}, {300, 380},   {500, 580},  {700, 780},
                             {900, 980}, {1000, 1080}, {1300, 1400}};

// ---- Press ----------------------------------------------------------------------------------

TEST(DragGesturesPress, OnlyTheBandBetween40And80CutsInsteadOfDragging) {
  struct Case {
    int32_t y;  // MouseY - Panel1Top
    bool drags;
  };
  const Case cases[] = {{0, true},   {40, true}, {41, false}, {60, false},
                        {79, false}, {80, true}, {127, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.y);
    EditorState st = MakeState({{1000, 1300}});
    st.ActiveSub = 0;
    st.MouseY = st.Panel1Top + c.y;
    PaintWavMouseDown(st, MouseButton::Middle, NO_KEYS, 500);
    EXPECT_EQ(st.Dragging, c.drags);
  }
}

TEST(DragGesturesPress, MiddleButtonInTheCutBandDoesNothing) {
  EditorState st = MakeState({{1000, 1300}, {2000, 2300}});
  st.ActiveSub = 0;
  st.OverWave = true;
  st.MouseY = st.Panel1Top + 60;
  PaintWavMouseDown(st, MouseButton::Middle, SHIFT, 1100);
  EXPECT_FALSE(st.Dragging);
  EXPECT_TRUE(st.SubSnapshot.empty());
  EXPECT_EQ(TimesOf(st), (Times{{1000, 1300}, {2000, 2300}}));
  EXPECT_TRUE(NoneChanged(st));
  EXPECT_FALSE(st.SubDirty);
  PaintWavMouseMove(st, NO_KEYS, 1300, 60);  // no drag step follows
  EXPECT_EQ(TimesOf(st), (Times{{1000, 1300}, {2000, 2300}}));
}

TEST(DragGesturesPress, LeftAndRightButtonsInTheCutBandCutAtThePointer) {
  // The strip starts at slot 100; column 1050 is slot 1150, and the cut lands two slots on.
  struct Case {
    MouseButton button;
    Times expected;
  };
  const Case cases[] = {{MouseButton::Left, {{1152, 1300}}}, {MouseButton::Right, {{1000, 1152}}}};
  for (const Case& c : cases) {
    EditorState st = MakeState({{1000, 1300}});
    st.ActiveSub = 0;
    st.OverWave = true;
    st.ViewStart = 200;
    st.MouseY = st.Panel1Top + 50;
    PaintWavMouseDown(st, c.button, NO_KEYS, 1050);
    EXPECT_FALSE(st.Dragging);
    EXPECT_EQ(TimesOf(st), c.expected);
    EXPECT_TRUE(st.SubDirty);
  }
}

TEST(DragGesturesPress, EveryButtonOutsideTheBandStartsADrag) {
  for (MouseButton b : {MouseButton::Left, MouseButton::Right, MouseButton::Middle}) {
    EditorState st = MakeState({{1000, 1300}, {2000, 2300}});
    st.ActiveSub = 1;
    PaintWavMouseDown(st, b, NO_KEYS, 640);
    EXPECT_TRUE(st.Dragging);
    EXPECT_EQ(st.DragMode, 0);
    EXPECT_EQ(st.DragStartX, 640);
    EXPECT_EQ(st.DragStartIn, 2000);
    EXPECT_TRUE(st.SubSnapshot.empty());
    EXPECT_EQ(TimesOf(st), (Times{{1000, 1300}, {2000, 2300}}));  // the press moves nothing
  }
}

TEST(DragGesturesPress, ShiftChoosesQueueCtrlElasticAndOnlyElasticTakesASnapshot) {
  struct Case {
    Modifiers keys;
    int32_t mode;
  };
  const Case cases[] = {{NO_KEYS, 0}, {SHIFT, 1}, {CTRL, 2}, {Modifiers{true, true}, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    EditorState st = MakeState({{100, 200}, {400, 500}});
    st.Subs[1].Dialogue = "text";
    st.ActiveSub = 1;
    st.SubSnapshot.resize(7);  // left over: a fresh press never keeps it
    PaintWavMouseDown(st, MouseButton::Left, c.keys, 10);
    EXPECT_EQ(st.DragMode, c.mode);
    if (c.mode == 2) {
      ASSERT_EQ(st.SubSnapshot.size(), 2u);
      EXPECT_EQ(st.SubSnapshot[1].TimeIn, 400);
      EXPECT_EQ(st.SubSnapshot[1].TimeOut, 500);
      EXPECT_EQ(st.SubSnapshot[1].Dialogue, "");  // only the times are taken
    } else {
      EXPECT_TRUE(st.SubSnapshot.empty());
    }
  }
}

// ---- Plain drag ----------------------------------------------------------------------------

TEST(DragGesturesPlain, RightButtonDragMovesTheActiveEntryWithThePointer) {
  EditorState st = MakeState({{500, 700}, {1200, 1400}, {2000, 2200}});
  st.ActiveSub = 1;
  PaintWavMouseDown(st, MouseButton::Right, NO_KEYS, 300);
  PaintWavMouseMove(st, NO_KEYS, 350, OUTSIDE_BAND_Y);
  EXPECT_EQ(TimesOf(st), (Times{{500, 700}, {1250, 1450}, {2000, 2200}}));
  PaintWavMouseMove(st, NO_KEYS, 350, OUTSIDE_BAND_Y);  // already there
  EXPECT_EQ(TimesOf(st), (Times{{500, 700}, {1250, 1450}, {2000, 2200}}));
  PaintWavMouseMove(st, NO_KEYS, 340, OUTSIDE_BAND_Y);
  EXPECT_EQ(TimesOf(st), (Times{{500, 700}, {1240, 1440}, {2000, 2200}}));
  EXPECT_TRUE(st.SubDirty);
  EXPECT_TRUE(MapMatchesTimeline(st));
  PaintWavMouseUp(st);
  EXPECT_FALSE(st.Dragging);
}

TEST(DragGesturesPlain, AStopAtTheNextEntryIsAccountedForOnTheWayBack) {
  EditorState st = MakeState({{1200, 1400}, {2000, 2200}});
  st.ActiveSub = 0;
  // Far to the right: rule 0 stops the entry one slot before the next, 599 slots on.
  Drag(st, NO_KEYS, 300, {1300});
  EXPECT_EQ(TimesOf(st), (Times{{1799, 1999}, {2000, 2200}}));
  // Back to 5 slots short of where the entry now is: it follows by 5 slots, no jump.
  PaintWavMouseMove(st, NO_KEYS, 300 + 599 - 5, OUTSIDE_BAND_Y);
  EXPECT_EQ(TimesOf(st), (Times{{1794, 1994}, {2000, 2200}}));
}

// ---- Queue drag ----------------------------------------------------------------------------

TEST(DragGesturesQueue, RightBy30MovesTheActiveAndAllLaterEntriesPastTheVideoEnd) {
  EditorState st = MakeState({{100, 200}, {400, 500}, {1000, 1100}, {1500, 1600}, {2000, 2100}});
  st.MediaLength = 2110;          // the last entry would pass the end of the video
  st.Ctrl.chkBoxAIenable = true;  // a strong speech start within reach...
  st.AiBegin[1020] = 250;         // ...must not snap a queue drag
  st.ActiveSub = 2;
  Drag(st, SHIFT, 500, {530});
  EXPECT_EQ(TimesOf(st), (Times{{100, 200}, {400, 500}, {1030, 1130}, {1530, 1630}, {2030, 2130}}));
  EXPECT_TRUE(MapMatchesTimeline(st));
  EXPECT_TRUE(AllChanged(st));
  EXPECT_TRUE(st.SubDirty);
  EXPECT_EQ(st.ViewMarker, -99.0);
  PaintWavMouseMove(st, SHIFT, 530, OUTSIDE_BAND_Y);  // no further displacement
  EXPECT_EQ(TimesOf(st), (Times{{100, 200}, {400, 500}, {1030, 1130}, {1530, 1630}, {2030, 2130}}));
}

TEST(DragGesturesQueue, LeftUnderRule0AgainstANeighbourOneSlotAwayMovesNothing) {
  EditorState st = MakeState({{1000, 1199}, {1200, 1400}, {1500, 1700}, {1800, 2000}});
  st.ActiveSub = 1;
  Drag(st, SHIFT, 500, {460, 420});
  EXPECT_EQ(TimesOf(st), (Times{{1000, 1199}, {1200, 1400}, {1500, 1700}, {1800, 2000}}));
  EXPECT_TRUE(MapMatchesTimeline(st));
}

TEST(DragGesturesQueue, LeftMovesTheFollowersByExactlyWhatTheActiveEntryMoved) {
  EditorState st = MakeState({{1000, 1100}, {1200, 1400}, {1500, 1700}, {1800, 2000}});
  st.ActiveSub = 1;
  Drag(st, SHIFT, 500, {480});
  EXPECT_EQ(TimesOf(st), (Times{{1000, 1100}, {1180, 1380}, {1480, 1680}, {1780, 1980}}));
  // Further left than rule 0 allows: the active entry stops one slot after entry 0 (79 more).
  PaintWavMouseMove(st, SHIFT, 300, OUTSIDE_BAND_Y);
  EXPECT_EQ(TimesOf(st), (Times{{1000, 1100}, {1101, 1301}, {1401, 1601}, {1701, 1901}}));
  EXPECT_TRUE(MapMatchesTimeline(st));
}

TEST(DragGesturesQueue, LeftWithTheLastEntryActiveMovesOnlyIt) {
  EditorState st = MakeState({{1000, 1100}, {1200, 1400}});
  st.ActiveSub = 1;
  Drag(st, SHIFT, 500, {450});
  EXPECT_EQ(TimesOf(st), (Times{{1000, 1100}, {1150, 1350}}));
  EXPECT_TRUE(MapMatchesTimeline(st));
}

// ---- MoveBehind ----------------------------------------------------------------------------

TEST(DragGesturesMoveBehind, ShiftsHeadToLastWithoutMagnetOrRules) {
  EditorState st = MakeState({{100, 200}, {300, 400}, {500, 600}});
  st.ActiveSub = 0;
  MoveBehind(st, 1, -150);  // onto entry 0: no collision rule applies
  EXPECT_EQ(TimesOf(st), (Times{{100, 200}, {150, 250}, {350, 450}}));
  EXPECT_TRUE(MapMatchesTimeline(st));
  EXPECT_TRUE(AllChanged(st));
  EXPECT_TRUE(st.SubDirty);
  EXPECT_EQ(st.ViewMarker, -99.0);
}

TEST(DragGesturesMoveBehind, DoesNothingForAHeadOrActiveEntryOutsideTheTimeline) {
  struct Case {
    int32_t head;
    int32_t active;
  };
  const Case cases[] = {{-1, 0}, {0, 3}, {1, 99}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.head);
    SCOPED_TRACE(c.active);
    EditorState st = MakeState({{100, 200}, {300, 400}, {500, 600}});
    st.ActiveSub = c.active;
    MoveBehind(st, c.head, 50);
    EXPECT_EQ(TimesOf(st), (Times{{100, 200}, {300, 400}, {500, 600}}));
    EXPECT_TRUE(NoneChanged(st));
    EXPECT_FALSE(st.SubDirty);
  }
}

// A queue drag of the last entry ends in a head past it: nothing to shift, but the map is
// rebuilt like after any queue step, which also clears cells that earlier edits left behind.
TEST(DragGesturesMoveBehind, AHeadPastTheLastEntryShiftsNothingButRebuildsTheMap) {
  for (int32_t head : {3, 40}) {
    SCOPED_TRACE(head);
    EditorState st = MakeState({{100, 200}, {300, 400}, {500, 600}});
    st.ActiveSub = 2;
    st.WavSel[250] = {true, 0};    // left behind in a gap
    st.WavSel[350] = {false, -1};  // taken from an entry
    for (int32_t step : {50, std::numeric_limits<int32_t>::min()}) {
      MoveBehind(st, head, step);
      EXPECT_EQ(TimesOf(st), (Times{{100, 200}, {300, 400}, {500, 600}}));
      EXPECT_TRUE(MapMatchesTimeline(st));
      EXPECT_TRUE(AllChanged(st));
      EXPECT_TRUE(st.SubDirty);
      EXPECT_EQ(st.ViewMarker, -99.0);
    }
  }
}

TEST(DragGesturesQueue, LeftWithTheLastEntryActiveRebuildsAMapEarlierEditsLeftStale) {
  EditorState st = MakeState({{1000, 1100}, {1200, 1400}});
  st.WavSel[1150] = {true, 0};
  st.WavSel[1210] = {false, -1};
  st.ActiveSub = 1;
  Drag(st, SHIFT, 500, {490});
  EXPECT_EQ(TimesOf(st), (Times{{1000, 1100}, {1190, 1390}}));
  EXPECT_TRUE(MapMatchesTimeline(st));
  EXPECT_TRUE(AllChanged(st));
}

TEST(DragGesturesMoveBehind, TheBlockStopsAtZeroAndAtTheLatestTimeKeepingItsShape) {
  struct Case {
    int32_t step;
    Times expected;
  };
  const Case cases[] = {
      {-1000, {{100, 200}, {0, 100}, {200, 300}}},
      {std::numeric_limits<int32_t>::min(), {{100, 200}, {0, 100}, {200, 300}}},
      {std::numeric_limits<int32_t>::max(),
       {{100, 200}, {MAX_TIME - 300, MAX_TIME - 200}, {MAX_TIME - 100, MAX_TIME}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    EditorState st = MakeState({{100, 200}, {300, 400}, {500, 600}});
    st.ActiveSub = 1;
    MoveBehind(st, 1, c.step);
    EXPECT_EQ(TimesOf(st), c.expected);
    EXPECT_TRUE(MapMatchesTimeline(st));
  }
}

TEST(DragGesturesQueue, AnExtremePointerJumpNeitherWrapsNorLeavesTheTimeRange) {
  EditorState st = MakeState({{100, 200}, {300, 400}, {500, 600}});
  st.ActiveSub = 1;
  Drag(st, SHIFT, std::numeric_limits<int32_t>::min(), {std::numeric_limits<int32_t>::max()});
  EXPECT_EQ(TimesOf(st),
            (Times{{100, 200}, {MAX_TIME - 300, MAX_TIME - 200}, {MAX_TIME - 100, MAX_TIME}}));
  EXPECT_TRUE(OrderedAndInRange(st));
}

// ---- Elastic drag --------------------------------------------------------------------------

TEST(DragGesturesElastic, ScalesEveryEntryAfterTheFirstAboutItsTimeIn) {
  struct Case {
    int32_t step;
    Times expected;
  };
  const Case cases[] = {
      // ratio 1.5: entry 5 lands on 1450, not on 1500: the ratio is taken about time 0.
      {500,
       {{100, 180},
        {400, 520},
        {700, 820},
        {1000, 1120},
        {1300, 1420},
        {1450, 1570},
        {1900, 2050}}},
      // ratio 0.75: 200 * 0.75 = 150, 280 * 0.75 = 210, 1300 - 100 = 1200 -> 900, ...
      {-250,
       {{100, 180}, {250, 310}, {400, 460}, {550, 610}, {700, 760}, {775, 835}, {1000, 1075}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    EditorState st = MakeState(ELASTIC_TIMES);
    st.ActiveSub = 5;
    MoveElastic(st, c.step);
    EXPECT_EQ(TimesOf(st), c.expected);
    EXPECT_TRUE(MapMatchesTimeline(st));
    EXPECT_TRUE(AllChanged(st));
    EXPECT_TRUE(st.SubDirty);
    EXPECT_EQ(st.ViewMarker, -99.0);
  }
}

TEST(DragGesturesElastic, TruncatesTowardZero) {
  EditorState st =
      MakeState({{100, 180}, {301, 381}, {500, 580}, {700, 780}, {900, 980}, {1000, 1080}});
  st.ActiveSub = 5;
  MoveElastic(st, -250);  // ratio 0.75: 201 * 0.75 = 150.75, 281 * 0.75 = 210.75
  EXPECT_EQ(st.Subs[1].TimeIn, 250);
  EXPECT_EQ(st.Subs[1].TimeOut, 310);
}

TEST(DragGesturesElastic, NeedsFiveEntriesBeforeTheActiveOneAndAStepOfTwo) {
  struct Case {
    int32_t active;
    int32_t step;
  };
  const Case cases[] = {{4, 100}, {0, 100}, {-1, 100}, {5, 1},
                        {5, -1},  {5, 0},   {7, 100},  {99, 100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.active);
    SCOPED_TRACE(c.step);
    EditorState st = MakeState(ELASTIC_TIMES);
    st.ActiveSub = c.active;
    MoveElastic(st, c.step);
    EXPECT_EQ(TimesOf(st), ELASTIC_TIMES);
    EXPECT_TRUE(NoneChanged(st));
    EXPECT_FALSE(st.SubDirty);
  }
  EditorState st = MakeState(ELASTIC_TIMES);
  st.ActiveSub = 5;
  MoveElastic(st, 2);  // the smallest step that acts
  EXPECT_EQ(st.Subs[5].TimeIn, 1001);
}

TEST(DragGesturesElastic, ADragWithTheFourthEntryActiveMovesNothing) {
  EditorState st = MakeState(ELASTIC_TIMES);
  st.ActiveSub = 4;
  Drag(st, CTRL, 0, {300, 600});
  PaintWavMouseUp(st);
  EXPECT_EQ(TimesOf(st), ELASTIC_TIMES);
  EXPECT_TRUE(OrderedAndInRange(st));
}

TEST(DragGesturesElastic, ReleaseScalesTheSnapshotByOneOverallRatio) {
  EditorState st = MakeState(ELASTIC_TIMES);
  st.ActiveSub = 5;
  Drag(st, CTRL, 0, {500, 500, 480});
  ASSERT_EQ(st.SubSnapshot.size(), ELASTIC_TIMES.size());
  const double ratio = st.Subs[5].TimeIn / 1000.0;
  PaintWavMouseUp(st);
  EXPECT_FALSE(st.Dragging);
  EXPECT_TRUE(st.SubSnapshot.empty());
  EXPECT_EQ(st.Subs[0].TimeIn, 100);
  EXPECT_EQ(st.Subs[0].TimeOut, 180);
  for (size_t i = 1; i < ELASTIC_TIMES.size(); ++i) {
    SCOPED_TRACE(i);
    const auto [in, out] = ELASTIC_TIMES[i];
    EXPECT_EQ(st.Subs[i].TimeIn, int32_t(std::trunc((in - 100) * ratio)) + 100);
    EXPECT_EQ(st.Subs[i].TimeOut, int32_t(std::trunc((out - 100) * ratio)) + 100);
  }
  EXPECT_TRUE(MapMatchesTimeline(st));
  EXPECT_TRUE(AllChanged(st));
  EXPECT_TRUE(st.SubDirty);
  EXPECT_EQ(st.ViewMarker, -99.0);
}

TEST(DragGesturesElastic, ReleaseOfAnExactStretchGivesTheScaledSnapshot) {
  EditorState st = MakeState(ELASTIC_TIMES);
  st.ActiveSub = 5;
  PaintWavMouseDown(st, MouseButton::Left, CTRL, 0);
  st.Subs[5].TimeIn = 2000;  // the active entry ends the drag at twice its time
  PaintWavMouseUp(st);
  EXPECT_EQ(TimesOf(st), (Times{{100, 180},
                                {500, 660},
                                {900, 1060},
                                {1300, 1460},
                                {1700, 1860},
                                {1900, 2060},
                                {2500, 2700}}));
}

TEST(DragGesturesElastic, ATargetAtOrBeforeTimeZeroNeitherFoldsNorReversesTheTimeline) {
  for (int32_t step : {-1000, -1001, -5000, std::numeric_limits<int32_t>::min()}) {
    SCOPED_TRACE(step);
    EditorState st = MakeState(ELASTIC_TIMES);
    st.ActiveSub = 5;
    MoveElastic(st, step);
    EXPECT_EQ(TimesOf(st), ELASTIC_TIMES);
  }
}

TEST(DragGesturesElastic, AStrongStretchIsKeptWithinTheLatestTime) {
  EditorState st = MakeState({{0, 5}, {1, 6}, {2, 7}, {3, 8}, {4, 9}, {10, 20}, {50000, 90000}});
  st.ActiveSub = 5;
  MoveElastic(st, std::numeric_limits<int32_t>::max());
  EXPECT_TRUE(OrderedAndInRange(st));
  EXPECT_EQ(st.Subs[6].TimeIn, MAX_TIME);
  EXPECT_EQ(st.Subs[6].TimeOut, MAX_TIME);
  EXPECT_EQ(st.Subs[0].TimeIn, 0);
  EXPECT_TRUE(MapMatchesTimeline(st));
}

TEST(DragGesturesElastic, AnActiveEntryAtTimeZeroGivesNoLever) {
  const Times atZero = {{0, 10}, {0, 10}, {0, 10}, {0, 10}, {0, 10}, {0, 60}, {100, 200}};
  EditorState st = MakeState(atZero);
  st.ActiveSub = 5;
  MoveElastic(st, 300);
  EXPECT_EQ(TimesOf(st), atZero);
  EXPECT_FALSE(st.SubDirty);
  // The same through a whole drag: the snapshot's TimeIn of the active entry is 0 at release.
  Drag(st, CTRL, 0, {300});
  PaintWavMouseUp(st);
  EXPECT_EQ(TimesOf(st), atZero);
  EXPECT_TRUE(st.SubSnapshot.empty());
  EXPECT_FALSE(st.Dragging);
}

TEST(DragGesturesElastic, ReleaseKeepsTheLiveTimesWhenTheSnapshotNoLongerFits) {
  // By the time of the release the active entry lies beyond the timeline, or an edit during
  // the drag removed an entry.
  for (bool removeEntry : {false, true}) {
    SCOPED_TRACE(removeEntry);
    EditorState st = MakeState(ELASTIC_TIMES);
    st.ActiveSub = 5;
    Drag(st, CTRL, 0, {500});
    if (removeEntry) {
      st.Subs.pop_back();
    } else {
      st.ActiveSub = int32_t(st.Subs.size());
    }
    const Times live = TimesOf(st);
    PaintWavMouseUp(st);
    EXPECT_EQ(TimesOf(st), live);
    EXPECT_TRUE(st.SubSnapshot.empty());
    EXPECT_FALSE(st.Dragging);
    EXPECT_TRUE(MapMatchesTimeline(st));
  }
}

// ---- Drags without a subject, release ------------------------------------------------------

TEST(DragGesturesStep, WithoutAValidActiveEntryADragMovesNothing) {
  for (Modifiers keys : {NO_KEYS, SHIFT, CTRL}) {
    for (int32_t active : {-1, 7, 1000}) {
      SCOPED_TRACE(active);
      EditorState st = MakeState(ELASTIC_TIMES);
      st.ActiveSub = active;
      Drag(st, keys, 100, {300, -50});
      PaintWavMouseUp(st);
      EXPECT_EQ(TimesOf(st), ELASTIC_TIMES);
      EXPECT_FALSE(st.Dragging);
    }
  }
}

TEST(DragGesturesStep, AnEntryThatBecomesActiveDuringADragStartedWithoutOneStaysPut) {
  EditorState st = MakeState({{1000, 1100}, {1200, 1400}});
  st.ActiveSub = 2;  // beyond the timeline, as the strip may leave it
  PaintWavMouseDown(st, MouseButton::Left, NO_KEYS, 100);
  st.ActiveSub = 1;  // the strip lowers it to the last entry
  PaintWavMouseMove(st, NO_KEYS, 140, OUTSIDE_BAND_Y);
  EXPECT_EQ(TimesOf(st), (Times{{1000, 1100}, {1200, 1400}}));
}

TEST(DragGesturesRelease, EndsEveryDragAndOnlyTheElasticOneRebuilds) {
  for (Modifiers keys : {NO_KEYS, SHIFT, CTRL}) {
    EditorState st = MakeState(ELASTIC_TIMES);
    st.ActiveSub = 2;  // no elastic lever: nothing moves during the drag
    PaintWavMouseDown(st, MouseButton::Right, keys, 100);
    PaintWavMouseUp(st);
    EXPECT_FALSE(st.Dragging);
    EXPECT_EQ(TimesOf(st), ELASTIC_TIMES);
    EXPECT_EQ(st.SubDirty, keys.ctrl);
    EXPECT_EQ(AllChanged(st), keys.ctrl);
  }
  EditorState idle = MakeState(ELASTIC_TIMES);
  PaintWavMouseUp(idle);  // a release without a press
  EXPECT_FALSE(idle.Dragging);
  EXPECT_FALSE(idle.SubDirty);
}

// ---- Hover ---------------------------------------------------------------------------------

TEST(DragGesturesHover, ACoveredSlotBecomesActiveAGapKeepsThePreviousOne) {
  EditorState st = MakeState({{1000, 1100}, {1200, 1300}});
  st.ViewStart = 2000;  // the first column shows slot 1000
  st.ActiveSub = 0;
  PaintWavMouseMove(st, NO_KEYS, 150, OUTSIDE_BAND_Y);  // slot 1150: a gap
  EXPECT_EQ(st.ActiveSub, 0);
  EXPECT_EQ(st.ViewMarker, 0);
  PaintWavMouseMove(st, NO_KEYS, 250, OUTSIDE_BAND_Y);  // slot 1250
  EXPECT_EQ(st.ActiveSub, 1);
  EXPECT_EQ(st.ViewMarker, -100.0);
  PaintWavMouseMove(st, NO_KEYS, 5000000, OUTSIDE_BAND_Y);  // past the map
  PaintWavMouseMove(st, NO_KEYS, -5000, OUTSIDE_BAND_Y);    // before slot 0
  EXPECT_EQ(st.ActiveSub, 1);
  EXPECT_EQ(TimesOf(st), (Times{{1000, 1100}, {1200, 1300}}));  // hovering edits nothing
}

TEST(DragGesturesHover, WhileDraggingHoverSelectsNothing) {
  EditorState st = MakeState({{1000, 1100}, {1200, 1300}});
  st.ViewStart = 2000;
  st.ActiveSub = 0;
  PaintWavMouseDown(st, MouseButton::Left, CTRL, 50);  // elastic, no lever: nothing moves
  PaintWavMouseMove(st, NO_KEYS, 250, OUTSIDE_BAND_Y);
  EXPECT_EQ(st.ActiveSub, 0);
}

TEST(DragGesturesHover, CursorShapeFollowsTheBandAndTheKeys) {
  struct Case {
    int32_t y;
    Modifiers keys;
    StripCursor cursor;
  };
  const Case cases[] = {
      {33, NO_KEYS, StripCursor::IBeam},
      {79, SHIFT, StripCursor::IBeam},
      {50, CTRL, StripCursor::IBeam},
      {32, NO_KEYS, StripCursor::Drag},
      {80, SHIFT, StripCursor::MultiDrag},
      {10, CTRL, StripCursor::SizeWE},
      {10, {true, true}, StripCursor::MultiDrag},
      {120, NO_KEYS, StripCursor::Drag},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.y);
    EditorState st = MakeState({{1000, 1100}});
    EXPECT_EQ(PaintWavMouseMove(st, c.keys, 0, c.y), c.cursor);
    EXPECT_EQ(st.StripIBeam, c.cursor == StripCursor::IBeam);
  }
}

TEST(DragGesturesHover, ADragKeepsTheShapeTheHoverLeft) {
  // Whatever the mode, the band or the keys during the drag: the strip keeps its shape, and the
  // wheel reads the same StripIBeam as before the press (pressed on row 36: the I-beam shows,
  // but the press lies above the cut band and drags).
  for (const Modifiers keys : {NO_KEYS, SHIFT, CTRL}) {
    for (const int32_t hoverY : {36, OUTSIDE_BAND_Y}) {
      SCOPED_TRACE(hoverY);
      EditorState st = MakeState({{1000, 1100}});
      const StripCursor shown = PaintWavMouseMove(st, NO_KEYS, 0, hoverY);
      PaintWavMouseDown(st, MouseButton::Left, keys, 0);
      ASSERT_TRUE(st.Dragging);
      EXPECT_EQ(PaintWavMouseMove(st, NO_KEYS, 0, 50), StripCursor::Unchanged);
      EXPECT_EQ(PaintWavMouseMove(st, SHIFT, 5, OUTSIDE_BAND_Y), StripCursor::Unchanged);
      EXPECT_EQ(st.StripIBeam, shown == StripCursor::IBeam);
    }
  }
}

}  // namespace
}  // namespace tamsel
