#include "CoverageEdits.h"

#include <gtest/gtest.h>

namespace tamsel {
namespace {

TEST(CoverageEdits, MarkingAndClearingStayInsideTheMap) {
  EditorState st;
  st.WavSel.assign(10, TWavSelect{false, -1});
  MarkSlots(st, -3, 2, 4);
  MarkSlots(st, 8, 20, 5);
  MarkSlots(st, 6, 5, 9);  // empty range
  EXPECT_TRUE(SlotCovered(st, 0));
  EXPECT_EQ(st.WavSel[2].SubIndex, 4);
  EXPECT_FALSE(SlotCovered(st, 3));
  EXPECT_FALSE(SlotCovered(st, 5));
  EXPECT_EQ(st.WavSel[9].SubIndex, 5);
  ClearSlots(st, 1, 100);
  EXPECT_TRUE(SlotCovered(st, 0));
  EXPECT_FALSE(SlotCovered(st, 9));
  EXPECT_EQ(st.WavSel[9].SubIndex, -1);
  EXPECT_FALSE(SlotCovered(st, -1));
  EXPECT_FALSE(SlotCovered(st, 10));
}

}  // namespace
}  // namespace tamsel
