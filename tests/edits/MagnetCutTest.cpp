#include "MagnetCut.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "EdgeTracking.h"

namespace tamsel {
namespace {

constexpr int32_t SOUND_SLOTS = 10000;
constexpr int32_t I32_MIN = std::numeric_limits<int32_t>::min();
constexpr int32_t I32_MAX = std::numeric_limits<int32_t>::max();

// An editor state for a sound of SOUND_SLOTS slots: scores N + 500 long and all 0, a coverage map
// of N + 1000 cells built from `times`, the magnet on.
EditorState MakeState(std::initializer_list<std::pair<int32_t, int32_t>> times = {}) {
  EditorState st;
  st.AiBegin.assign(SOUND_SLOTS + 500, 0);
  st.AiEnd.assign(SOUND_SLOTS + 500, 0);
  st.WavSel.assign(SOUND_SLOTS + 1000, TWavSelect{false, 0});
  for (auto [in, out] : times) st.Subs.push_back({0, 0, in, out, "", false});
  CreatSelAndInd(st.WavSel, st.Subs);
  for (auto& sub : st.Subs) sub.Changed = false;
  st.Ctrl.chkBoxAIenable = true;
  st.SubDirty = false;
  st.SubCurr = 0;
  return st;
}

// ---------------------------------------------------------------------------------------------
// Magnet for a step

using StepFn = int32_t (*)(EditorState&, int32_t, int32_t);

struct WindowCase {
  const char* name;
  StepFn search;
  bool endScores;  // scores live in AiEnd
  int32_t step;
  int32_t lo, hi;  // the slots the window examines around point 1000
};

// A single scored slot moves the step onto it exactly when it lies inside the window.
TEST(AiSeachStep, WindowReachesFromNearToTwiceTheStep) {
  const WindowCase cases[] = {
      {"begin +10", AiSeachBegin, false, 10, 1005, 1020},
      {"begin -10", AiSeachBegin, false, -10, 980, 995},
      {"end +10", AiSeachEnd, true, 10, 1003, 1020},
      {"end -10", AiSeachEnd, true, -10, 980, 997},
      {"begin +7", AiSeachBegin, false, 7, 1003, 1014},
      {"end -7", AiSeachEnd, true, -7, 986, 998},
      {"begin +1", AiSeachBegin, false, 1, 1000, 1002},
  };
  for (const auto& c : cases) {
    for (int32_t slot = 950; slot <= 1050; ++slot) {
      EditorState st = MakeState();
      (c.endScores ? st.AiEnd : st.AiBegin)[slot] = 1;
      const bool inside = slot >= c.lo && slot <= c.hi;
      EXPECT_EQ(c.search(st, 1000, c.step), inside ? slot - 1000 : c.step)
          << c.name << " slot " << slot;
    }
  }
}

TEST(AiSeachStep, StrongestWinsAndTiesGoToTheFarthestSlot) {
  struct Case {
    const char* name;
    StepFn search;
    bool endScores;
    int32_t step;
    std::vector<std::pair<int32_t, uint8_t>> scores;
    int32_t want;
  } cases[] = {
      {"tie later", AiSeachBegin, false, 10, {{1008, 6}, {1015, 6}}, 15},
      {"tie at both ends", AiSeachBegin, false, 10, {{1005, 6}, {1020, 6}}, 20},
      {"tie earlier", AiSeachBegin, false, -10, {{982, 6}, {990, 6}}, -18},
      {"end tie later", AiSeachEnd, true, 10, {{1003, 4}, {1011, 4}}, 11},
      {"end tie earlier", AiSeachEnd, true, -10, {{980, 4}, {997, 4}}, -20},
      {"nearer but stronger", AiSeachBegin, false, 10, {{1008, 9}, {1015, 5}}, 8},
      {"nearer but stronger back", AiSeachEnd, true, -10, {{996, 9}, {981, 5}}, -4},
      {"nothing scored", AiSeachBegin, false, 10, {}, 10},
      {"only outside", AiSeachEnd, true, -10, {{999, 200}, {979, 200}}, -10},
  };
  for (const auto& c : cases) {
    EditorState st = MakeState();
    for (auto [slot, score] : c.scores) (c.endScores ? st.AiEnd : st.AiBegin)[slot] = score;
    EXPECT_EQ(c.search(st, 1000, c.step), c.want) << c.name;
    EXPECT_TRUE(st.SubDirty) << c.name;
  }
}

TEST(AiSeachStep, StepZeroLandsOnThePointOrStays) {
  EditorState st = MakeState();
  EXPECT_EQ(AiSeachBegin(st, 1000, 0), 0);
  st.AiBegin[1000] = 5;
  EXPECT_EQ(AiSeachBegin(st, 1000, 0), 0);
}

// Windows that reach outside the scores are clipped to them; what lies outside scores 0.
TEST(AiSeachStep, WindowsAreClippedToTheScores) {
  const int32_t last = SOUND_SLOTS + 500 - 1;
  struct Case {
    const char* name;
    bool emptyScores;
    std::vector<std::pair<int32_t, uint8_t>> scores;
    int32_t point, step, want;
  } cases[] = {
      {"no speech data, forward", true, {}, 1000, 10, 10},
      {"no speech data, backward", true, {}, 1000, -10, -10},
      {"far end past the scores", false, {{last, 3}}, last - 12, 10, 12},
      {"near end past the scores", false, {{last, 3}}, last + 2, 10, 10},
      {"point far past the scores", false, {{last, 3}}, last + 40, -10, -10},
      {"back window reaching past the end", false, {{last, 3}}, last + 6, -10, -6},
      {"far end before 0", false, {{0, 3}}, 5, -10, -5},
      {"whole window before 0", false, {{0, 3}}, 3, -10, -10},
      {"negative point, forward", false, {{0, 3}, {4, 2}}, -6, 5, 6},
      {"negative point, window before 0", false, {{0, 3}}, -100, 10, 10},
  };
  for (const auto& c : cases) {
    EditorState st = MakeState();
    if (c.emptyScores) st.AiBegin.clear();
    for (auto [slot, score] : c.scores) st.AiBegin[slot] = score;
    EXPECT_EQ(AiSeachBegin(st, c.point, c.step), c.want) << c.name;
  }
}

TEST(AiSeachStep, ExtremeValuesDoNotOverflow) {
  EditorState st = MakeState();
  st.AiBegin[50] = 9;
  st.AiEnd[50] = 9;
  EXPECT_EQ(AiSeachBegin(st, I32_MAX, I32_MAX), I32_MAX);
  EXPECT_EQ(AiSeachEnd(st, I32_MIN, I32_MIN), I32_MIN);
  EXPECT_EQ(AiSeachBegin(st, I32_MAX, I32_MIN), 50 - I32_MAX);
  // The window covers the whole sound; the distance to slot 50 does not fit: it saturates.
  EXPECT_EQ(AiSeachBegin(st, I32_MIN + 1, I32_MAX), I32_MAX);
}

// ---------------------------------------------------------------------------------------------
// Magnet for a cut

using CutFn = int32_t (*)(EditorState&, int32_t, int32_t);

struct CutSearchCase {
  const char* name;
  CutFn search;
  std::vector<std::pair<int32_t, uint8_t>> scores;  // offsets from the point, and scores
  int32_t range;
  int32_t want;  // offset from the point
};

std::vector<uint8_t>& ScoresOf(EditorState& st, CutFn search) {
  return search == AiSeachEndAt ? st.AiEnd : st.AiBegin;
}

TEST(AiSeachAt, StrongestWithinReachAndTieRules) {
  const CutSearchCase cases[] = {
      {"begin tie +1 / -3", AiSeachBeginAt, {{1, 7}, {-3, 7}}, 5, -3},
      {"end tie -1 / +3", AiSeachEndAt, {{-1, 7}, {3, 7}}, 5, 3},
      {"begin tie -1 / +1", AiSeachBeginAt, {{-1, 7}, {1, 7}}, 5, -1},
      {"end tie -1 / +1", AiSeachEndAt, {{-1, 7}, {1, 7}}, 5, 1},
      {"begin tie with the point, later", AiSeachBeginAt, {{0, 7}, {2, 7}}, 5, 0},
      {"begin tie with the point, earlier", AiSeachBeginAt, {{0, 7}, {-2, 7}}, 5, -2},
      {"end tie with the point, later", AiSeachEndAt, {{0, 7}, {2, 7}}, 5, 2},
      {"end tie with the point, earlier", AiSeachEndAt, {{0, 7}, {-2, 7}}, 5, 0},
      {"farther but stronger", AiSeachBeginAt, {{1, 3}, {-5, 8}}, 5, -5},
      {"stronger beyond reach", AiSeachEndAt, {{1, 3}, {6, 9}, {-6, 9}}, 5, 1},
      {"range 0 keeps the point", AiSeachEndAt, {{1, 3}}, 0, 0},
      {"nothing scored", AiSeachBeginAt, {}, 27, 0},
  };
  for (const auto& c : cases) {
    EditorState st = MakeState();
    for (auto [offset, score] : c.scores) ScoresOf(st, c.search)[5000 + offset] = score;
    EXPECT_EQ(c.search(st, 5000, c.range), 5000 + c.want) << c.name;
    EXPECT_TRUE(st.SubDirty) << c.name;
  }
}

// Entry 1 covers 5000 + 4 .. 5000 + 20 and entry 0 covers 5000 - 30 .. 5000 - 6.
TEST(AiSeachAt, OtherEntriesStopTheWholeSearch) {
  struct Case {
    const char* name;
    CutFn search;
    int32_t subCurr;
    int32_t point;
    std::vector<std::pair<int32_t, uint8_t>> scores;
    int32_t want;
  } cases[] = {
      // The first later slot is a wall: only the score at the point decides.
      {"wall at once, point unscored", AiSeachBeginAt, 0, 5003, {{5002, 9}}, 5003},
      {"wall at once, point scored", AiSeachEndAt, 0, 5003, {{5003, 2}, {5002, 9}}, 5003},
      // The later side is tested first: the wall at +4 hides the earlier slot at -4.
      {"later wall hides the earlier slot", AiSeachBeginAt, 0, 5000, {{4996, 9}, {5003, 1}}, 5003},
      // A wall on the earlier side ends the later side too.
      {"earlier wall ends both sides", AiSeachEndAt, 1, 5000, {{5007, 9}, {4998, 1}}, 4998},
      // The subtitle under the play cursor is no wall.
      {"own slots are searched", AiSeachBeginAt, 1, 5000, {{5005, 9}}, 5005},
      {"the same slots are a wall for another", AiSeachBeginAt, 0, 5000, {{5005, 9}}, 5000},
  };
  for (const auto& c : cases) {
    EditorState st = MakeState({{4970, 4994}, {5004, 5020}});
    st.SubCurr = c.subCurr;
    for (auto [slot, score] : c.scores) ScoresOf(st, c.search)[slot] = score;
    EXPECT_EQ(c.search(st, c.point, 12), c.want) << c.name;
  }
}

// Slots outside the score arrays score 0; the coverage map alone decides the walls.
TEST(AiSeachAt, ReachOutsideTheScores) {
  const int32_t last = SOUND_SLOTS + 500 - 1;
  const int32_t mapLast = SOUND_SLOTS + 1000 - 1;
  struct Case {
    const char* name;
    bool emptyScores;
    std::vector<std::pair<int32_t, uint8_t>> scores;
    int32_t point;
    int32_t want;
  } cases[] = {
      {"no speech data", true, {}, 5000, 5000},
      {"near the end", false, {{last, 4}}, last - 2, last},
      {"past the end, scored slot within reach", false, {{last, 4}}, last + 3, last},
      {"past the end, scored slot out of reach", false, {{last, 4}}, last + 6, last + 6},
      {"past the map", false, {{last, 4}}, mapLast + 50, mapLast + 50},
      {"near 0", false, {{0, 4}, {3, 4}}, 1, 0},
      {"negative point", false, {{0, 2}, {2, 4}}, -2, 2},
      {"far before 0", false, {{0, 4}}, -100, -100},
  };
  for (const auto& c : cases) {
    EditorState st = MakeState();
    if (c.emptyScores) st.AiBegin.clear();
    for (auto [slot, score] : c.scores) st.AiBegin[slot] = score;
    EXPECT_EQ(AiSeachBeginAt(st, c.point, 5), c.want) << c.name;
  }

  // Scores shorter than the map: an entry past their end is still a wall.
  EditorState st = MakeState({{10, 20}, {102, 150}});
  st.AiEnd.assign(100, 0);
  st.AiEnd[94] = 9;
  st.SubCurr = 0;
  EXPECT_EQ(AiSeachEndAt(st, 98, 5), 98);
  st.SubCurr = 1;
  EXPECT_EQ(AiSeachEndAt(st, 98, 5), 94);
}

TEST(AiSeachAt, RangeFollowsTheWheelStep) {
  const std::pair<int, int32_t> cases[] = {{0, 5}, {1, 7}, {3, 12}, {8, 25}, {9, 27}};
  for (auto [position, range] : cases) {
    EditorState st;
    st.Ctrl.TrackBarMouseStep = position;
    EXPECT_EQ(CutRange(st), range) << position;
  }
}

TEST(Magnet, OffLeavesStepsAndPointsButRaisesTheDirtyFlag) {
  EditorState st = MakeState({{5004, 5020}});
  st.SubCurr = 0;
  for (int32_t s = 4900; s < 5100; ++s) st.AiBegin[s] = st.AiEnd[s] = uint8_t(s % 7 + 1);
  st.Ctrl.chkBoxAIenable = false;
  EXPECT_EQ(AiSeachBegin(st, 5000, 10), 10);
  EXPECT_TRUE(st.SubDirty);
  st.SubDirty = false;
  EXPECT_EQ(AiSeachEnd(st, 5000, -13), -13);
  EXPECT_TRUE(st.SubDirty);
  st.SubDirty = false;
  EXPECT_EQ(AiSeachBeginAt(st, 5001, 27), 5001);
  EXPECT_TRUE(st.SubDirty);
  st.SubDirty = false;
  EXPECT_EQ(AiSeachEndAt(st, 5001, 27), 5001);
  EXPECT_TRUE(st.SubDirty);
}

// ---------------------------------------------------------------------------------------------
// Cuts

// Entry 0: 1000..1200, entry 1 (active): 2000..2080 (0.8 s), entry 2: 3000..3300.
EditorState CutState() {
  EditorState st = MakeState({{1000, 1200}, {2000, 2080}, {3000, 3300}});
  st.ActiveSub = 1;
  st.SubCurr = 1;
  st.ViewMarker = 0;
  st.PrevBegin = st.PrevEnd = st.CurBegin = st.CurEnd = st.NextBegin = st.NextEnd = -7;
  return st;
}

// The map after a cut of entry `cur`: its new range marked with it, the slots it left cleared,
// every other cell as before.
std::vector<TWavSelect> MapAfterCut(const std::vector<TWavSelect>& before, const TSub& oldSub,
                                    const TSub& newSub, int32_t cur) {
  std::vector<TWavSelect> map = before;
  const int64_t cells = static_cast<int64_t>(map.size());
  for (int64_t s = std::max(oldSub.TimeIn, 0); s <= std::min<int64_t>(oldSub.TimeOut, cells - 1);
       ++s)
    map[s] = {false, -1};
  for (int64_t s = std::max(newSub.TimeIn, 0); s <= std::min<int64_t>(newSub.TimeOut, cells - 1);
       ++s)
    map[s] = {true, cur};
  return map;
}

void ExpectMap(const std::vector<TWavSelect>& got, const std::vector<TWavSelect>& want,
               const std::string& name) {
  ASSERT_EQ(got.size(), want.size()) << name;
  for (size_t s = 0; s < got.size(); ++s) {
    if (got[s].Select != want[s].Select || got[s].SubIndex != want[s].SubIndex) {
      ADD_FAILURE() << name << ": slot " << s << " is (" << got[s].Select << ", " << got[s].SubIndex
                    << "), want (" << want[s].Select << ", " << want[s].SubIndex << ")";
      return;
    }
  }
}

struct CutCase {
  const char* name;
  bool cutIn;
  int32_t point;
  int32_t wantIn, wantOut;
};

void RunCuts(const std::vector<CutCase>& cases, void (*setup)(EditorState&) = nullptr) {
  for (const auto& c : cases) {
    EditorState st = CutState();
    if (setup) setup(st);
    const auto mapBefore = st.WavSel.Cells();
    const TSub oldSub = st.Subs[1];
    (c.cutIn ? CutInAt : CutOutAt)(st, c.point);
    const TSub& sub = st.Subs[1];
    EXPECT_EQ(sub.TimeIn, c.wantIn) << c.name;
    EXPECT_EQ(sub.TimeOut, c.wantOut) << c.name;
    EXPECT_TRUE(sub.Changed) << c.name;
    EXPECT_FALSE(st.Subs[0].Changed) << c.name;
    EXPECT_FALSE(st.Subs[2].Changed) << c.name;
    EXPECT_TRUE(st.SubDirty) << c.name;
    EXPECT_EQ(st.ViewMarker, -99.0) << c.name;
    ExpectMap(st.WavSel.Cells(), MapAfterCut(mapBefore, oldSub, sub, 1), c.name);

    // The play edges are those of the edited timeline.
    EditorState fresh = st;
    fresh.PrevBegin = fresh.PrevEnd = fresh.CurBegin = fresh.CurEnd = -7;
    fresh.NextBegin = fresh.NextEnd = -7;
    RefreshEdge(fresh);
    EXPECT_NE(st.CurEnd, -7) << c.name;  // recomputed, not left over
    EXPECT_EQ(st.PrevBegin, fresh.PrevBegin) << c.name;
    EXPECT_EQ(st.CurEnd, fresh.CurEnd) << c.name;
    EXPECT_EQ(st.NextEnd, fresh.NextEnd) << c.name;
  }
}

TEST(CutAt, EachCaseOfTheCut) {
  RunCuts({
      {"in before: extends earlier", true, 1900, 1900, 2080},
      {"in inside: cut at the front", true, 2010, 2010, 2080},
      {"in inside, 0.6 s from the start: keeps 0.5 s", true, 2060, 2030, 2080},
      {"in one slot inside the out point", true, 2079, 2030, 2080},
      {"in after: extends later", true, 2150, 2000, 2150},
      {"in over the previous entry", true, 1100, 1100, 2080},
      {"in past the next entry", true, 3400, 2000, 3400},
      {"out before: extends earlier", false, 1900, 1900, 2080},
      {"out inside: cut at the end", false, 2060, 2000, 2060},
      {"out inside, 0.4 s from the start: keeps 0.5 s", false, 2040, 2000, 2050},
      {"out one slot inside the in point", false, 2001, 2000, 2050},
      {"out after: extends later", false, 2150, 2000, 2150},
      {"out over the previous entry", false, 900, 900, 2080},
  });
}

TEST(CutAt, MinimumLengthFollowsTheSetting) {
  // MinGap 0.8 s: the entry is exactly that long, a cut inside keeps it whole.
  RunCuts(
      {
          {"in", true, 2010, 2000, 2080},
          {"out", false, 2070, 2000, 2080},
      },
      [](EditorState& st) { st.Ctrl.TrackBarMinTime = 3; });
}

// An entry already shorter than the minimum grows to it, and the map follows.
TEST(CutAt, ShortEntryGrowsToTheMinimum) {
  RunCuts(
      {
          {"in grows earlier", true, 2040, 1980, 2080},
          {"out grows later", false, 2040, 2000, 2100},
      },
      [](EditorState& st) { st.Ctrl.TrackBarMinTime = 5; });
}

TEST(CutAt, ShortEntryAtTheStartNeverGoesBeforeZero) {
  EditorState st = MakeState({{0, 30}, {40, 60}});
  st.ActiveSub = 0;
  CutInAt(st, 10);
  EXPECT_EQ(st.Subs[0].TimeIn, 0);
  EXPECT_EQ(st.Subs[0].TimeOut, 30);
  for (int s = 0; s <= 30; ++s) EXPECT_EQ(st.WavSel[s].SubIndex, 0) << s;

  st.ActiveSub = 1;
  st.SubCurr = 1;
  CutInAt(st, 50);
  EXPECT_EQ(st.Subs[1].TimeIn, 10);  // 60 - 50
  for (int s = 10; s <= 30; ++s) EXPECT_EQ(st.WavSel[s].SubIndex, 1) << s;
}

TEST(CutAt, OverTheStripTheColumnIsTurnedIntoASlot) {
  RunCuts(
      {
          {"in at column 508", true, 508, 2010, 2080},  // 3000 div 2 + 508 + 2
          {"out at column 548", false, 548, 2000, 2050},
          {"out at column 0", false, 0, 1502, 2080},
          {"in left of the strip: never before 0", true, -2000, 0, 2080},
      },
      [](EditorState& st) {
        st.OverWave = true;
        st.ViewStart = 3000;
      });
  RunCuts({{"negative slot", true, -40, 0, 2080}});
}

TEST(CutAt, TheMagnetPlacesTheCut) {
  RunCuts(
      {
          {"in snaps to a speech start", true, 2012, 2015, 2080},
          {"out snaps to a speech end", false, 2067, 2000, 2070},
          {"out snap stops at the next entry", false, 2995, 2000, 2992},
          {"in snaps just before the entry", true, 1996, 1998, 2080},
      },
      [](EditorState& st) {
        st.Ctrl.TrackBarMouseStep = 2;  // range 10
        st.AiBegin[2015] = 9;
        st.AiBegin[1998] = 9;
        st.AiEnd[2070] = 9;
        st.AiEnd[2992] = 3;
        st.AiEnd[2990] = 5;  // reached only after the wall at 3000
      });
}

TEST(CutAt, PastTheEndOfTheMap) {
  const int32_t far = SOUND_SLOTS + 1500;
  RunCuts({{"out far past the sound", false, far, 2000, far}});
  // No speech data loaded at all.
  RunCuts({{"in without scores", true, 2010, 2010, 2080},
           {"out without scores", false, 2150, 2000, 2150}},
          [](EditorState& st) {
            st.AiBegin.clear();
            st.AiEnd.clear();
          });
}

// A cut landing on a boundary only marks the entry changed.
TEST(CutAt, OnABoundaryNothingFurtherHappens) {
  struct Case {
    const char* name;
    void (*cut)(EditorState&, int32_t);
    int32_t point;
    bool snapToIn;
  } cases[] = {
      {"in on the in point", CutInAt, 2000, false},
      {"in on the out point", CutInAt, 2080, false},
      {"out on the in point", CutOutAt, 2000, false},
      {"out on the out point", CutOutAt, 2080, false},
      {"in snapped onto the in point", CutInAt, 2003, true},
  };
  for (const auto& c : cases) {
    EditorState st = CutState();
    if (c.snapToIn) st.AiBegin[2000] = 5;
    st.Ctrl.chkBoxAIenable = c.snapToIn;
    const auto mapBefore = st.WavSel.Cells();
    c.cut(st, c.point);
    EXPECT_EQ(st.Subs[1].TimeIn, 2000) << c.name;
    EXPECT_EQ(st.Subs[1].TimeOut, 2080) << c.name;
    EXPECT_TRUE(st.Subs[1].Changed) << c.name;
    EXPECT_EQ(st.ViewMarker, 0.0) << c.name;
    EXPECT_EQ(st.CurBegin, -7) << c.name;
    EXPECT_EQ(st.NextEnd, -7) << c.name;
    ExpectMap(st.WavSel.Cells(), mapBefore, c.name);
  }
}

TEST(CutAt, WithoutAnActiveEntryNothingHappens) {
  for (int32_t active : {-1, 3, 100}) {
    EditorState st = CutState();
    st.ActiveSub = active;
    const auto mapBefore = st.WavSel.Cells();
    CutInAt(st, 2010);
    CutOutAt(st, 2060);
    for (const auto& sub : st.Subs) EXPECT_FALSE(sub.Changed) << active;
    EXPECT_EQ(st.Subs[1].TimeIn, 2000) << active;
    EXPECT_EQ(st.Subs[1].TimeOut, 2080) << active;
    EXPECT_FALSE(st.SubDirty) << active;
    EXPECT_EQ(st.ViewMarker, 0.0) << active;
    ExpectMap(st.WavSel.Cells(), mapBefore, std::to_string(active));
  }
}

}  // namespace
}  // namespace tamsel
