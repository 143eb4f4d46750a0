#include "Timeline.h"

#include <gtest/gtest.h>

namespace tamsel {
namespace {

std::vector<TSub> Entries(std::initializer_list<std::pair<int32_t, int32_t>> times) {
  std::vector<TSub> subs;
  for (auto [in, out] : times) subs.push_back({0, 0, in, out, "", false});
  return subs;
}

TEST(CreatSelAndInd, MarksEveryEntryLaterOnesWinning) {
  std::vector<TWavSelect> sel(20, {true, 7});
  auto subs = Entries({{2, 4}, {4, 6}, {8, 8}, {12, 10}, {17, 30}});
  CreatSelAndInd(sel, subs);
  const int32_t want[20] = {-1, -1, 0, 0, 1, 1, 1, -1, 2, -1, -1, -1, -1, -1, -1, -1, -1, 4, 4, 4};
  for (int s = 0; s < 20; ++s) {
    EXPECT_EQ(sel[s].SubIndex, want[s]) << s;
    EXPECT_EQ(sel[s].Select, want[s] >= 0) << s;
  }
  for (const auto& sub : subs) EXPECT_TRUE(sub.Changed);  // also the one reaching past the map
}

TEST(CreatSelAndInd, EmptyTimelineClearsTheMap) {
  std::vector<TWavSelect> sel(5, {true, 3});
  std::vector<TSub> subs;
  CreatSelAndInd(sel, subs);
  for (const auto& cell : sel) {
    EXPECT_FALSE(cell.Select);
    EXPECT_EQ(cell.SubIndex, -1);
  }
}

TEST(InitializeSubCurr, FindsTheEntryAtOrBeforeThePosition) {
  std::vector<TWavSelect> sel(1000, {false, -1});
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

}  // namespace
}  // namespace tamsel
