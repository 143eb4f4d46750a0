#include "Timeline.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace tamsel {
namespace {

constexpr size_t PAGE = CoverageMap::PAGE_CELLS;

std::vector<TSub> Entries(std::initializer_list<std::pair<int32_t, int32_t>> times) {
  std::vector<TSub> subs;
  for (auto [in, out] : times) subs.push_back({0, 0, in, out, "", false});
  return subs;
}

CoverageMap MapOf(size_t cells, TWavSelect cell) {
  CoverageMap map;
  map.assign(cells, cell);
  return map;
}

/// The first cell where the map and a plain array differ, read through the map's const and
/// non-const access and its spelled-out cells; empty when they agree everywhere.
std::string Difference(const CoverageMap& map, const std::vector<TWavSelect>& want) {
  if (map.size() != want.size()) {
    return "size " + std::to_string(map.size()) + ", want " + std::to_string(want.size());
  }
  const auto cell = [](const TWavSelect& c) {
    return "(" + std::to_string(c.Select) + ", " + std::to_string(c.SubIndex) + ")";
  };
  const std::vector<TWavSelect> cells = map.Cells();
  CoverageMap writable = map;
  for (size_t s = 0; s < want.size(); ++s) {
    if (!(map[s] == want[s]) || !(cells[s] == want[s]) || !(writable[s] == want[s])) {
      return "slot " + std::to_string(s) + " is " + cell(map[s]) + ", spelled out " +
             cell(cells[s]) + ", written " + cell(writable[s]) + "; want " + cell(want[s]);
    }
  }
  return "";
}

TEST(CreatSelAndInd, MarksEveryEntryLaterOnesWinning) {
  // In order (answered from the spans) and out of order (marked at once); an entry ending
  // before it starts marks nothing, the last one reaches past the map.
  const std::vector<std::vector<TSub>> timelines = {
      Entries({{2, 4}, {4, 6}, {8, 8}, {12, 10}, {17, 30}}),
      Entries({{2, 4}, {4, 6}, {8, 8}, {12, 7}, {17, 30}}),
  };
  const int32_t want[20] = {-1, -1, 0, 0, 1, 1, 1, -1, 2, -1, -1, -1, -1, -1, -1, -1, -1, 4, 4, 4};
  for (auto subs : timelines) {
    CoverageMap sel = MapOf(20, {true, 7});
    sel[5] = {true, 9};
    CreatSelAndInd(sel, subs);
    for (int s = 0; s < 20; ++s) {
      EXPECT_EQ(sel[s].SubIndex, want[s]) << s;
      EXPECT_EQ(sel[s].Select, want[s] >= 0) << s;
    }
    for (const auto& sub : subs) EXPECT_TRUE(sub.Changed);  // also the one reaching past the map
  }
}

TEST(CreatSelAndInd, EmptyTimelineClearsTheMap) {
  CoverageMap sel = MapOf(5, {true, 3});
  sel[2] = {true, 4};
  std::vector<TSub> subs;
  CreatSelAndInd(sel, subs);
  for (size_t s = 0; s < sel.size(); ++s) {
    EXPECT_FALSE(sel[s].Select);
    EXPECT_EQ(sel[s].SubIndex, -1);
  }
}

TEST(InitializeSubCurr, FindsTheEntryAtOrBeforeThePosition) {
  CoverageMap sel = MapOf(1000, {false, -1});
  auto subs = Entries({{100, 200}, {300, 400}});
  CreatSelAndInd(sel, subs);
  struct Case {
    int32_t position;
    int32_t subCurr;
  } cases[] = {{0, 0}, {1500, 0}, {2500, 0}, {3000, 1}, {9000, 1}, {50000, 1}};
  for (const auto& c : cases) {
    int32_t cur = -5;
    InitializeSubCurr(sel, subs, c.position, cur);
    EXPECT_EQ(cur, c.subCurr) << c.position;
  }
  auto fromZero = Entries({{0, 50}});
  CreatSelAndInd(sel, fromZero);
  int32_t cur = -5;
  InitializeSubCurr(sel, fromZero, 0, cur);
  EXPECT_EQ(cur, 0);
}

// The map against a plain array doing the same: rebuilds from timelines in order, with nested
// and crossed entries and in no order at all (entries ending before they start, reaching
// outside the map), fills, single writes, copies and reads, mixed at random.
TEST(CoverageMap, AnswersAsAPlainArrayThroughAnyMixOfChanges) {
  std::mt19937 rng(7);
  const auto uniform = [&rng](int64_t lo, int64_t hi) {
    return std::uniform_int_distribution<int64_t>(lo, hi)(rng);
  };
  for (int round = 0; round < 60; ++round) {
    const size_t cells = size_t(uniform(1, 5 * int64_t(PAGE)));
    const TWavSelect blank{false, int32_t(uniform(-1, 0))};
    CoverageMap map = MapOf(cells, blank);
    std::vector<TWavSelect> plain(cells, blank);
    for (int op = 0; op < 30; ++op) {
      const int64_t end = int64_t(cells) + 50;
      switch (uniform(0, 5)) {
        case 0: {  // a rebuild
          std::vector<TSub> subs(size_t(uniform(0, 40)));
          const int64_t order = uniform(0, 2);
          int64_t t = uniform(-30, 30);
          for (TSub& sub : subs) {
            if (order == 0) {  // in and out times rising: the timeline as the edits keep it
              t += uniform(0, int64_t(cells) / 20 + 2);
              sub.TimeIn = int32_t(t);
              t += uniform(0, int64_t(cells) / 20 + 2);
              sub.TimeOut = int32_t(t);
            } else if (order == 1) {  // in times rising, out times anywhere: nested, crossed
              t += uniform(0, 3) == 0 ? 0 : uniform(0, int64_t(cells) / 20 + 2);
              sub.TimeIn = int32_t(t);
              sub.TimeOut = int32_t(t + uniform(-20, int64_t(cells) / 4));
            } else {  // no order at all
              sub.TimeIn = int32_t(uniform(-30, end));
              sub.TimeOut = int32_t(sub.TimeIn + uniform(-20, int64_t(cells) / 3));
            }
          }
          const TWavSelect fill{false, -1};
          map.Rebuild(fill, subs);
          plain.assign(cells, fill);
          MarkSelection(plain, subs);
          break;
        }
        case 1: {  // a fill, often back to blank over whole pages
          const int64_t from = uniform(-10, end);
          const int64_t to = from + uniform(-5, 3 * int64_t(PAGE));
          const TWavSelect blankCell = uniform(0, 1) ? blank : TWavSelect{false, -1};
          const TWavSelect cell =
              uniform(0, 1) ? blankCell : TWavSelect{true, int32_t(uniform(0, 40))};
          map.Fill(from, to, cell);
          for (int64_t s = std::max<int64_t>(from, 0); s <= std::min<int64_t>(to, cells - 1); ++s)
            plain[size_t(s)] = cell;
          break;
        }
        case 2: {  // single cells written through a reference
          for (int k = 0; k < 20; ++k) {
            const size_t s = size_t(uniform(0, int64_t(cells) - 1));
            TWavSelect& cell = map[s];
            cell = TWavSelect{uniform(0, 1) == 1, int32_t(uniform(-1, 40))};
            plain[s] = cell;
          }
          break;
        }
        case 3: {  // a copy goes on in place of the map; the old one is changed and dropped
          CoverageMap copy = map;
          map.Fill(0, int64_t(cells) - 1, TWavSelect{true, 99});
          map = copy;
          CoverageMap moved = std::move(map);
          ASSERT_TRUE(map.empty());
          map = std::move(moved);
          break;
        }
        case 4: {  // reads only
          const CoverageMap& view = map;
          for (int k = 0; k < 50; ++k) {
            const size_t s = size_t(uniform(0, int64_t(cells) - 1));
            ASSERT_EQ(view[s], plain[s]) << "round " << round << " slot " << s;
          }
          break;
        }
        default: {  // a fresh map of another size
          const TWavSelect cell{false, int32_t(uniform(-1, 0))};
          map.assign(cells, cell);
          plain.assign(cells, cell);
          break;
        }
      }
      const std::string diff = Difference(map, plain);
      ASSERT_TRUE(diff.empty()) << "round " << round << " step " << op << ": " << diff;
    }
  }
}

// A rebuild keeps the entries' spans and no cells; reading or writing a cell works out its
// page alone, and reading where no entry reaches takes no memory at all.
TEST(CoverageMap, CellsCostMemoryOnlyWhereTouched) {
  const size_t cells = 100 * PAGE;  // some 68 minutes
  CoverageMap map = MapOf(cells, {false, 0});
  std::vector<TSub> subs;
  for (int32_t t = 0; t < int32_t(cells) / 2; t += 300)
    subs.push_back({0, 0, t, t + 200, "", false});
  map.Rebuild({false, -1}, subs);
  EXPECT_EQ(map.PagesHeld(), 0u);

  const CoverageMap& view = map;
  EXPECT_EQ(view[3 * PAGE + 62], (TWavSelect{true, 41}));  // 41 covers 12300..12500: one page
  EXPECT_EQ(map.PagesHeld(), 1u);
  EXPECT_EQ(view[80 * PAGE], (TWavSelect{false, -1}));  // past the last entry: nothing held
  EXPECT_EQ(map.PagesHeld(), 1u);
  map[90 * PAGE] = {true, 5};  // a write holds its page
  EXPECT_EQ(map.PagesHeld(), 2u);
  map.Fill(89 * PAGE, 91 * PAGE - 1, {false, -1});  // whole pages back to blank: given back
  EXPECT_EQ(map.PagesHeld(), 1u);
  EXPECT_EQ(view[90 * PAGE], (TWavSelect{false, -1}));

  CreatSelAndInd(map, subs);  // a rebuild gives every page back
  EXPECT_EQ(map.PagesHeld(), 0u);
  map.assign(cells, {false, 0});
  EXPECT_EQ(map.PagesHeld(), 0u);
  EXPECT_EQ(view[cells - 1], (TWavSelect{false, 0}));
}

// Cells of a copy are its own.
TEST(CoverageMap, CopiesAreIndependent) {
  CoverageMap map = MapOf(3 * PAGE, {false, -1});
  map.Rebuild({false, -1}, Entries({{10, 20}, {PAGE + 5, PAGE + 9}}));
  map[15] = {true, 7};
  const CoverageMap copy = map;
  map[15] = {true, 8};
  map[PAGE + 6] = {false, -1};
  map.Fill(0, 3 * PAGE - 1, {true, 1});
  EXPECT_EQ(copy[15], (TWavSelect{true, 7}));
  EXPECT_EQ(copy[PAGE + 6], (TWavSelect{true, 1}));
  EXPECT_EQ(copy[2 * PAGE], (TWavSelect{false, -1}));
  EXPECT_EQ(map[2 * PAGE], (TWavSelect{true, 1}));
}

}  // namespace
}  // namespace tamsel
