#include "BoundaryMove.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "TimeText.h"

namespace tamsel {
namespace {

struct Times {
  int32_t in;
  int32_t out;
  bool operator==(const Times&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Times& t) {
  return os << "[" << t.in << ", " << t.out << "]";
}

constexpr size_t MAP_CELLS = 2000;

/// An editor state with the given entries, a coverage map built from them, nothing Changed or
/// dirty, and the magnet off so that every step is applied as asked.
EditorState MakeState(const std::vector<Times>& times, int rule, int32_t mediaLength = 5000,
                      int32_t subsInVideo = -1) {
  EditorState st;
  for (const auto& t : times) st.Subs.push_back({0, 0, t.in, t.out, "", false});
  st.WavSel.assign(MAP_CELLS, TWavSelect{false, -1});
  CreatSelAndInd(st.WavSel, st.Subs);
  for (auto& sub : st.Subs) sub.Changed = false;
  st.Ctrl.chkBoxAIenable = false;
  st.Ctrl.RadioGroupCrashStyle = rule;
  st.MediaLength = mediaLength;
  st.SubsInVideo = subsInVideo < 0 ? static_cast<int32_t>(times.size()) : subsInVideo;
  st.ViewMarker = 0;
  return st;
}

std::vector<Times> TimesOf(const EditorState& st) {
  std::vector<Times> out;
  for (const auto& sub : st.Subs) out.push_back({sub.TimeIn, sub.TimeOut});
  return out;
}

/// The map must be what a full rebuild gives, except where the moved entry overlaps a
/// neighbour: there the moved entry holds the cell.
void ExpectMapFollowsTimeline(const EditorState& st, int32_t cur) {
  std::vector<TWavSelect> rebuilt(st.WavSel.size(), TWavSelect{false, -1});
  MarkSelection(rebuilt, st.Subs);
  const TSub& moved = st.Subs[cur];
  int mismatches = 0;
  for (size_t s = 0; s < rebuilt.size() && mismatches < 5; ++s) {
    const TWavSelect& got = st.WavSel[s];
    const TWavSelect& want = rebuilt[s];
    if (got.Select == want.Select && got.SubIndex == want.SubIndex) continue;
    const auto slot = static_cast<int32_t>(s);
    if (got.Select && got.SubIndex == cur && slot >= moved.TimeIn && slot <= moved.TimeOut) {
      continue;
    }
    ADD_FAILURE() << "slot " << s << ": map (" << got.Select << ", " << got.SubIndex
                  << "), timeline (" << want.Select << ", " << want.SubIndex << ")";
    ++mismatches;
  }
}

constexpr int32_t M = 50;  // MinGap with TrackBarMinTime 0
const std::vector<Times> THREE = {{100, 300}, {400, 600}, {700, 900}};

struct MoveCase {
  const char* name;
  int rule;
  int32_t style;
  int32_t step;
  std::vector<Times> before;
  int32_t active;
  std::vector<Times> after;
  int32_t mediaLength = 5000;
  int32_t subsInVideo = -1;  // -1: every entry lies inside the video
  int minTime = 0;
};

void PrintTo(const MoveCase& c, std::ostream* os) { *os << c.name; }

// The middle entry of THREE is moved unless a row says otherwise. Expected times follow the
// collision rules' arithmetic step by step; the comment names the rule's effect.
const MoveCase CASES[] = {
    // Out point earlier. No neighbour is involved, whatever the rule.
    {"A_OutEarlier", 0, MoveOutPoint, -30, THREE, 1, {{100, 300}, {400, 570}, {700, 900}}},
    {"A_OutEarlierRule3", 3, MoveOutPoint, -30, THREE, 1, {{100, 300}, {400, 570}, {700, 900}}},
    {"A_KeepsMinGap", 1, MoveOutPoint, -500, THREE, 1, {{100, 300}, {400, 400 + M}, {700, 900}}},
    // A 0.3 s entry grows to the minimum length although its out point was moved earlier.
    {"A_ShortEntryGrows",
     0,
     MoveOutPoint,
     -10,
     {{100, 300}, {400, 430}, {700, 900}},
     1,
     {{100, 300}, {400, 450}, {700, 900}}},
    {"A_MinGapFromSettings",
     0,
     MoveOutPoint,
     -500,
     THREE,
     1,
     {{100, 300}, {400, 500}, {700, 900}},
     5000,
     -1,
     /*minTime=*/5},

    // Out point later.
    {"B_NoCollision", 0, MoveOutPoint, 50, THREE, 1, {{100, 300}, {400, 650}, {700, 900}}},
    {"B_Rule0_StopsBeforeNext",
     0,
     MoveOutPoint,
     150,
     THREE,
     1,
     {{100, 300}, {400, 699}, {700, 900}}},
    {"B_Rule1_PushesNext", 1, MoveOutPoint, 150, THREE, 1, {{100, 300}, {400, 750}, {751, 900}}},
    {"B_Rule2_StopsBeforeNext",
     2,
     MoveOutPoint,
     150,
     THREE,
     1,
     {{100, 300}, {400, 699}, {700, 900}}},
    {"B_Rule3_HalvesOverlap", 3, MoveOutPoint, 150, THREE, 1, {{100, 300}, {400, 724}, {725, 900}}},
    // Overlap of 7 slots: the next in point advances by 3, the out point ends one before it.
    {"B_Rule3_OverlapOfSeven",
     3,
     MoveOutPoint,
     107,
     THREE,
     1,
     {{100, 300}, {400, 702}, {703, 900}}},
    // Rule 3 with a next entry that cannot give way by half: it keeps its minimum length.
    {"B_Rule3_NextKeepsMinGap",
     3,
     MoveOutPoint,
     50,
     {{100, 300}, {400, 600}, {620, 660}},
     1,
     {{100, 300}, {400, 609}, {610, 660}}},
    // Far into a next entry of 0.6 s: it is pushed until it is exactly 0.5 s long.
    {"B_Rule1_NextKeepsMinGap",
     1,
     MoveOutPoint,
     400,
     {{100, 300}, {400, 600}, {700, 760}},
     1,
     {{100, 300}, {400, 709}, {710, 760}}},
    // A next entry already shorter than the minimum grows earlier and takes slots back.
    {"B_Rule1_ShortNextTakesSlotsBack",
     1,
     MoveOutPoint,
     10,
     {{100, 300}, {400, 600}, {601, 630}},
     1,
     {{100, 300}, {400, 579}, {580, 630}}},
    // Touching counts as a collision.
    {"B_Rule0_Touching", 0, MoveOutPoint, 100, THREE, 1, {{100, 300}, {400, 699}, {700, 900}}},
    {"B_Rule1_Touching", 1, MoveOutPoint, 100, THREE, 1, {{100, 300}, {400, 700}, {701, 900}}},
    {"B_Rule3_Touching", 3, MoveOutPoint, 100, THREE, 1, {{100, 300}, {400, 699}, {700, 900}}},
    {"B_Rule0_OverlapResolved",
     0,
     MoveOutPoint,
     10,
     {{100, 300}, {400, 720}, {700, 900}},
     1,
     {{100, 300}, {400, 699}, {700, 900}}},
    {"B_StopsAtEndOfVideo",
     0,
     MoveOutPoint,
     200,
     THREE,
     1,
     {{100, 300}, {400, 650}, {700, 900}},
     /*mediaLength=*/650,
     /*subsInVideo=*/2},
    // The last entry inside the video has no successor for collisions.
    {"B_LastInVideoIgnoresNext",
     0,
     MoveOutPoint,
     150,
     THREE,
     1,
     {{100, 300}, {400, 750}, {700, 900}},
     5000,
     /*subsInVideo=*/2},
    {"B_LastEntry", 0, MoveOutPoint, 150, THREE, 2, {{100, 300}, {400, 600}, {700, 1050}}},

    // Whole entry later.
    {"C_NoCollision", 0, MoveWhole, 50, THREE, 1, {{100, 300}, {450, 650}, {700, 900}}},
    {"C_Rule0_StopsBeforeNext", 0, MoveWhole, 150, THREE, 1, {{100, 300}, {499, 699}, {700, 900}}},
    {"C_Rule1_PushesNext", 1, MoveWhole, 150, THREE, 1, {{100, 300}, {550, 750}, {751, 900}}},
    {"C_Rule2_TrimsCurrent", 2, MoveWhole, 150, THREE, 1, {{100, 300}, {550, 699}, {700, 900}}},
    {"C_Rule3_HalvesOverlap", 3, MoveWhole, 150, THREE, 1, {{100, 300}, {549, 724}, {725, 900}}},
    {"C_Rule0_FarStep", 0, MoveWhole, 400, THREE, 1, {{100, 300}, {499, 699}, {700, 900}}},
    // Shift limited to out <= next.out - M - 1.
    {"C_Rule1_FarStep", 1, MoveWhole, 400, THREE, 1, {{100, 300}, {649, 849}, {850, 900}}},
    // Shift limited to in <= next.in - M - 1, then trimmed at the next entry.
    {"C_Rule2_FarStep", 2, MoveWhole, 400, THREE, 1, {{100, 300}, {649, 699}, {700, 900}}},
    {"C_Rule3_FarStep", 3, MoveWhole, 400, THREE, 1, {{100, 300}, {799, 849}, {850, 900}}},
    // Already overlapping its successor: a later shift under rule 0 moves it earlier.
    {"C_Rule0_OverlapMovesEarlier",
     0,
     MoveWhole,
     10,
     {{100, 300}, {400, 720}, {700, 900}},
     1,
     {{100, 300}, {379, 699}, {700, 900}}},
    {"C_StopsAtEndOfVideo",
     0,
     MoveWhole,
     300,
     THREE,
     2,
     {{100, 300}, {400, 600}, {800, 1000}},
     /*mediaLength=*/1000},
    {"C_LastInVideoIgnoresNext",
     0,
     MoveWhole,
     150,
     THREE,
     1,
     {{100, 300}, {550, 750}, {700, 900}},
     5000,
     /*subsInVideo=*/2},

    // Whole entry earlier.
    {"D_NoCollision", 0, MoveWhole, -50, THREE, 1, {{100, 300}, {350, 550}, {700, 900}}},
    {"D_Rule0_StopsAfterPrev", 0, MoveWhole, -150, THREE, 1, {{100, 300}, {301, 501}, {700, 900}}},
    {"D_Rule1_PullsPrev", 1, MoveWhole, -150, THREE, 1, {{100, 249}, {250, 450}, {700, 900}}},
    {"D_Rule2_TrimsFront", 2, MoveWhole, -150, THREE, 1, {{100, 300}, {301, 450}, {700, 900}}},
    {"D_Rule3_HalvesOverlap", 3, MoveWhole, -150, THREE, 1, {{100, 275}, {276, 451}, {700, 900}}},
    {"D_Rule0_FarStep", 0, MoveWhole, -400, THREE, 1, {{100, 300}, {301, 501}, {700, 900}}},
    // Shift limited to in >= prev.in + M + 1.
    {"D_Rule1_FarStep", 1, MoveWhole, -400, THREE, 1, {{100, 150}, {151, 351}, {700, 900}}},
    // Shift limited to out >= prev.out + M + 1, then trimmed at the front.
    {"D_Rule2_FarStep", 2, MoveWhole, -400, THREE, 1, {{100, 300}, {301, 351}, {700, 900}}},
    {"D_Rule3_FarStep", 3, MoveWhole, -400, THREE, 1, {{100, 150}, {151, 201}, {700, 900}}},
    {"D_FirstLandsAtZero", 2, MoveWhole, -150, THREE, 0, {{0, 200}, {400, 600}, {700, 900}}},

    // Rule 3 shares out a collision only: a move that reaches no neighbour lengthens neither
    // the neighbour nor the moved entry, however far below the minimum length (here 1.00 s)
    // they are.
    {"C_Rule3_NoCollisionLeavesShortNext",
     3,
     MoveWhole,
     20,
     {{100, 200}, {300, 360}},
     0,
     {{120, 220}, {300, 360}},
     5000,
     -1,
     /*minTime=*/5},
    {"C_Rule3_NoCollisionLeavesShortMoved",
     3,
     MoveWhole,
     20,
     {{100, 160}, {300, 400}},
     0,
     {{120, 180}, {300, 400}},
     5000,
     -1,
     /*minTime=*/5},
    {"D_Rule3_NoCollisionLeavesShortPrev",
     3,
     MoveWhole,
     -20,
     {{100, 160}, {300, 400}},
     1,
     {{100, 160}, {280, 380}},
     5000,
     -1,
     /*minTime=*/5},
    {"D_Rule3_NoCollisionLeavesShortMoved",
     3,
     MoveWhole,
     -20,
     {{100, 200}, {300, 360}},
     1,
     {{100, 200}, {280, 340}},
     5000,
     -1,
     /*minTime=*/5},
    // Touching is a collision: the short next entry gets its minimum length back and the moved
    // one steps back before it.
    {"C_Rule3_TouchingLengthensShortNext",
     3,
     MoveWhole,
     100,
     {{100, 200}, {300, 360}},
     0,
     {{159, 259}, {260, 360}},
     5000,
     -1,
     /*minTime=*/5},
    {"D_Rule0_OverlapMovesLater",
     0,
     MoveWhole,
     -10,
     {{100, 420}, {400, 600}, {700, 900}},
     1,
     {{100, 420}, {421, 621}, {700, 900}}},
    // The limit allows no shift at all, yet the overlapping previous entry is pulled back.
    {"D_Rule1_OnlyPrevChanges",
     1,
     MoveWhole,
     -10,
     {{349, 420}, {400, 600}, {700, 900}},
     1,
     {{349, 399}, {400, 600}, {700, 900}}},

    // A step of 0 moves nothing but still marks, dirties and refreshes.
    {"Zero_Whole", 1, MoveWhole, 0, THREE, 1, THREE},
    {"Zero_OutPoint", 1, MoveOutPoint, 0, THREE, 1, THREE},
    // Only the entry and its two neighbours are touched.
    {"FiveEntries_Middle",
     1,
     MoveWhole,
     50,
     {{100, 300}, {400, 600}, {700, 900}, {1000, 1200}, {1300, 1500}},
     2,
     {{100, 300}, {400, 600}, {750, 950}, {1000, 1200}, {1300, 1500}}},

    // The video's length is not known yet (0): no clamping to it, and the left-over
    // SubsInVideo does not decide the collisions; every entry but the last has a successor.
    {"Unknown_B_CollidesWithNext",
     0,
     MoveOutPoint,
     150,
     THREE,
     1,
     {{100, 300}, {400, 699}, {700, 900}},
     /*mediaLength=*/0,
     /*subsInVideo=*/0},
    {"Unknown_B_StaleSubsInVideo",
     1,
     MoveOutPoint,
     150,
     THREE,
     1,
     {{100, 300}, {400, 750}, {751, 900}},
     /*mediaLength=*/0,
     /*subsInVideo=*/1},
    {"Unknown_B_LastEntryGrows",
     0,
     MoveOutPoint,
     150,
     THREE,
     2,
     {{100, 300}, {400, 600}, {700, 1050}},
     /*mediaLength=*/0,
     /*subsInVideo=*/0},
    {"Unknown_C_Shifts",
     0,
     MoveWhole,
     100,
     THREE,
     2,
     {{100, 300}, {400, 600}, {800, 1000}},
     /*mediaLength=*/0,
     /*subsInVideo=*/0},
    {"Unknown_C_CollidesWithNext",
     2,
     MoveWhole,
     150,
     THREE,
     1,
     {{100, 300}, {550, 699}, {700, 900}},
     /*mediaLength=*/0,
     /*subsInVideo=*/7},

    // SubsInVideo larger than the timeline: the last entry has no successor to read.
    {"StaleSubsInVideo_B_LastEntry",
     0,
     MoveOutPoint,
     150,
     THREE,
     2,
     {{100, 300}, {400, 600}, {700, 1050}},
     5000,
     /*subsInVideo=*/10},
    {"StaleSubsInVideo_C_LastEntry",
     0,
     MoveWhole,
     100,
     THREE,
     2,
     {{100, 300}, {400, 600}, {800, 1000}},
     5000,
     /*subsInVideo=*/10},

    // An entry that already ends past the end of the video is not pulled back by a later move.
    {"PastEnd_B_Stays", 0, MoveOutPoint, 50, THREE, 1, THREE, /*mediaLength=*/500,
     /*subsInVideo=*/1},
    {"PastEnd_C_Stays", 0, MoveWhole, 50, THREE, 2, THREE, /*mediaLength=*/500,
     /*subsInVideo=*/1},

    // A next entry that starts before this one (left so by a cut): the out point would land
    // before the in point, so the move is cancelled.
    {"Disordered_B_Rule0_Cancelled",
     0,
     MoveOutPoint,
     10,
     {{100, 300}, {400, 600}, {380, 450}},
     1,
     {{100, 300}, {400, 600}, {380, 450}}},
    {"Disordered_B_Rule1_Cancelled",
     1,
     MoveOutPoint,
     10,
     {{100, 300}, {400, 600}, {380, 450}},
     1,
     {{100, 300}, {400, 600}, {380, 450}}},

    // Steps at the limits of 32 bits: every time stays between 0 and MAX_TIME.
    {"Huge_A", 0, MoveOutPoint, INT32_MIN, THREE, 1, {{100, 300}, {400, 450}, {700, 900}}, 0, 0},
    {"Huge_B_LastEntry",
     0,
     MoveOutPoint,
     INT32_MAX,
     THREE,
     2,
     {{100, 300}, {400, 600}, {700, MAX_TIME}},
     0,
     0},
    {"Huge_B_Rule1",
     1,
     MoveOutPoint,
     INT32_MAX,
     THREE,
     1,
     {{100, 300}, {400, 849}, {850, 900}},
     0,
     0},
    {"Huge_C_LastEntry",
     3,
     MoveWhole,
     INT32_MAX,
     THREE,
     2,
     {{100, 300}, {400, 600}, {MAX_TIME - 200, MAX_TIME}},
     0,
     0},
    {"Huge_C_Rule3", 3, MoveWhole, INT32_MAX, THREE, 1, {{100, 300}, {799, 849}, {850, 900}}, 0, 0},
    {"Huge_D_First", 3, MoveWhole, INT32_MIN, THREE, 0, {{0, 200}, {400, 600}, {700, 900}}, 0, 0},
    {"Huge_D_Rule3", 3, MoveWhole, INT32_MIN, THREE, 1, {{100, 150}, {151, 201}, {700, 900}}, 0, 0},
    {"Huge_D_Rule0", 0, MoveWhole, INT32_MIN, THREE, 1, {{100, 300}, {301, 501}, {700, 900}}, 0, 0},
};

class MoveTable : public testing::TestWithParam<MoveCase> {};

TEST_P(MoveTable, TimesMapAndFlags) {
  const MoveCase& c = GetParam();
  EditorState st = MakeState(c.before, c.rule, c.mediaLength, c.subsInVideo);
  st.Ctrl.TrackBarMinTime = c.minTime;
  st.ActiveSub = c.active;

  Move(st, c.style, c.step);

  EXPECT_EQ(TimesOf(st), c.after);
  EXPECT_EQ(st.ActiveSub, c.active);
  ExpectMapFollowsTimeline(st, c.active);
  for (size_t i = 0; i < st.Subs.size(); ++i) {
    const bool nearActive = std::abs(static_cast<int32_t>(i) - c.active) <= 1;
    EXPECT_EQ(st.Subs[i].Changed, nearActive) << "entry " << i;
  }
  EXPECT_TRUE(st.SubDirty);
  EXPECT_EQ(st.ViewMarker, c.after == c.before ? 0.0 : -99.0);
}

INSTANTIATE_TEST_SUITE_P(BoundaryMove, MoveTable, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<MoveCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(BoundaryMove, NoActiveEntryChangesNothing) {
  for (int32_t active : {-1, 3, 99}) {
    EditorState st = MakeState(THREE, 1);
    st.ActiveSub = active;
    st.PrevBegin = st.CurBegin = st.NextEnd = 12345;
    const auto map = st.WavSel;
    Move(st, MoveWhole, 100);
    Move(st, MoveOutPoint, -100);
    EXPECT_EQ(TimesOf(st), THREE) << active;
    for (const auto& sub : st.Subs) EXPECT_FALSE(sub.Changed) << active;
    EXPECT_FALSE(st.SubDirty) << active;
    EXPECT_EQ(st.ViewMarker, 0.0) << active;
    EXPECT_EQ(st.CurBegin, 12345) << active;  // no edge recomputation
    for (size_t s = 0; s < map.size(); ++s) EXPECT_EQ(st.WavSel[s].SubIndex, map[s].SubIndex);
  }
  EditorState empty = MakeState({}, 0);
  empty.ActiveSub = 0;
  Move(empty, MoveOutPoint, 10);
  EXPECT_FALSE(empty.SubDirty);
}

TEST(BoundaryMove, ShiftLeavesExactlyTheNewRangeMarked) {
  EditorState st = MakeState(THREE, 0);
  st.ActiveSub = 1;
  Move(st, MoveWhole, 40);  // [440, 640]
  EXPECT_FALSE(st.WavSel[439].Select);
  EXPECT_EQ(st.WavSel[440].SubIndex, 1);
  EXPECT_EQ(st.WavSel[640].SubIndex, 1);
  EXPECT_FALSE(st.WavSel[641].Select);
  Move(st, MoveWhole, -100);  // [340, 540]
  EXPECT_FALSE(st.WavSel[339].Select);
  EXPECT_EQ(st.WavSel[340].SubIndex, 1);
  EXPECT_EQ(st.WavSel[540].SubIndex, 1);
  EXPECT_FALSE(st.WavSel[541].Select);
  EXPECT_EQ(st.WavSel[541].SubIndex, -1);
}

TEST(BoundaryMove, OutPointEarlierLeavesAnOverlappingNeighboursCells) {
  // The next entry overlaps the tail; its cells 700..720 belong to it in the map.
  EditorState st = MakeState({{100, 300}, {400, 720}, {700, 900}}, 0);
  st.ActiveSub = 1;
  Move(st, MoveOutPoint, -50);
  EXPECT_EQ(st.Subs[1].TimeOut, 670);
  EXPECT_FALSE(st.WavSel[671].Select);
  EXPECT_FALSE(st.WavSel[699].Select);
  for (int s = 700; s <= 720; ++s) EXPECT_EQ(st.WavSel[s].SubIndex, 2) << s;
}

TEST(BoundaryMove, MarkingStopsAtTheEndOfTheMap) {
  EditorState st = MakeState({{100, 300}, {1900, 1990}}, 0, /*mediaLength=*/0);
  st.ActiveSub = 1;
  Move(st, MoveOutPoint, 100);
  EXPECT_EQ(st.Subs[1].TimeOut, 2090);
  EXPECT_EQ(st.WavSel.size(), MAP_CELLS);
  EXPECT_EQ(st.WavSel[MAP_CELLS - 1].SubIndex, 1);
  Move(st, MoveWhole, 500);
  EXPECT_EQ(TimesOf(st)[1], (Times{2400, 2590}));
  EXPECT_FALSE(st.WavSel[1999].Select);  // left behind, now wholly past the map
  EXPECT_FALSE(st.WavSel[1900].Select);
}

TEST(BoundaryMove, EveryRuleRepeatedKeyPressesStayOrdered) {
  // Many presses in both directions under every rule: the entries never overlap, never invert
  // and the map keeps following the timeline.
  for (int rule = 0; rule <= 3; ++rule) {
    EditorState st = MakeState({{100, 300}, {400, 600}, {700, 900}, {1000, 1100}}, rule);
    st.ActiveSub = 1;
    const std::pair<int32_t, int32_t> presses[] = {
        {MoveWhole, 60},     {MoveWhole, 60},      {MoveOutPoint, 45}, {MoveWhole, 60},
        {MoveOutPoint, 90},  {MoveWhole, -150},    {MoveWhole, -150},  {MoveWhole, -150},
        {MoveOutPoint, -45}, {MoveOutPoint, -300}, {MoveWhole, 300},   {MoveOutPoint, 300}};
    for (const auto& [style, step] : presses) {
      Move(st, style, step);
      const auto t = TimesOf(st);
      for (size_t i = 0; i < t.size(); ++i) {
        EXPECT_GE(t[i].out - t[i].in, M) << "rule " << rule << " entry " << i;
        if (i > 0) {
          EXPECT_LT(t[i - 1].out, t[i].in) << "rule " << rule << " entry " << i;
        }
      }
      EXPECT_GE(t[0].in, 0);
      ExpectMapFollowsTimeline(st, 1);
    }
  }
}

TEST(BoundaryMove, RecomputesThePlayEdges) {
  EditorState st = MakeState(THREE, 0);
  st.ActiveSub = 1;
  st.PlayPos = 5000;  // inside the moved entry
  Move(st, MoveWhole, -150);
  ASSERT_EQ(TimesOf(st)[1], (Times{301, 501}));
  EXPECT_EQ(st.CurBegin, 3010);
  EXPECT_EQ(st.CurEnd, 5010);
}

// The magnet: speech scores placed where each search must find them. Key steps of 1 or 2
// centiseconds on the out point bypass it.
EditorState MagnetState(std::vector<uint8_t> EditorState::*scores, int32_t slot) {
  EditorState st = MakeState(THREE, 0);
  st.Ctrl.chkBoxAIenable = true;
  st.AiBegin.assign(1500, 0);
  st.AiEnd.assign(1500, 0);
  (st.*scores)[slot] = 100;
  st.ActiveSub = 1;
  return st;
}

TEST(BoundaryMoveMagnet, OutPointStepOfThreeConsultsTheMagnetTwoDoesNot) {
  // The speech end at 604 lies inside the windows of both steps.
  EditorState st = MagnetState(&EditorState::AiEnd, 604);
  Move(st, MoveOutPoint, 2);
  EXPECT_EQ(st.Subs[1].TimeOut, 602);
  st = MagnetState(&EditorState::AiEnd, 604);
  Move(st, MoveOutPoint, 3);
  EXPECT_EQ(st.Subs[1].TimeOut, 604);
  st = MagnetState(&EditorState::AiEnd, 597);
  Move(st, MoveOutPoint, -2);
  EXPECT_EQ(st.Subs[1].TimeOut, 598);
}

TEST(BoundaryMoveMagnet, OutPointEarlierLandsOnASpeechEnd) {
  EditorState st = MagnetState(&EditorState::AiEnd, 560);
  Move(st, MoveOutPoint, -30);
  EXPECT_EQ(st.Subs[1].TimeOut, 560);
}

TEST(BoundaryMoveMagnet, WholeMovesLandOnASpeechStart) {
  EditorState later = MagnetState(&EditorState::AiBegin, 412);
  Move(later, MoveWhole, 10);
  EXPECT_EQ(TimesOf(later)[1], (Times{412, 612}));
  EditorState earlier = MagnetState(&EditorState::AiBegin, 385);
  Move(earlier, MoveWhole, -10);
  EXPECT_EQ(TimesOf(earlier)[1], (Times{385, 585}));
}

}  // namespace
}  // namespace tamsel
