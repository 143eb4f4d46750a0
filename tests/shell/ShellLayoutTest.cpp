#include "ShellLayout.h"

#include <gtest/gtest.h>

namespace tamsel {
namespace {

/// The start screen's pictures at their own sizes.
StartScreenSizes Pictures() {
  StartScreenSizes s;
  s.logo = {436, 349};
  s.videoNon = {128, 128};
  s.notReady = {128, 128};
  s.setup = {96, 96};
  s.tools = {96, 96};
  s.pageSetup = {480, 340};
  s.pageTools = {480, 340};
  return s;
}

TEST(LayOutStartScreen, TheDesignSize) {
  // 784 x 599 in a window 800 wide: gap Trunc(144 / 8) = 18; base min(535, 349 + 378 div 2).
  const auto l = LayOutStartScreen(784, 599, 800, Pictures(), {200, 20}, {200, 16});
  EXPECT_EQ(l.gap, 18);
  EXPECT_EQ(l.base, 535);
  EXPECT_EQ(l.videoNon, (Rect{405, 401, 128, 128}));  // Trunc(656 * 0.618) = 405
  EXPECT_EQ(l.videoYes, l.videoNon);
  EXPECT_EQ(l.progressBar, (Rect{405, 401, 200, 20}));
  EXPECT_EQ(l.labelState, (Rect{405, 383, 200, 16}));
  EXPECT_EQ(l.notReady, (Rect{533 + 18, 407, 128, 128}));
  EXPECT_EQ(l.readyGo, l.notReady);
  EXPECT_EQ(l.setup, (Rect{405 - 96 - 18 - 14, 439, 96, 96}));
  EXPECT_EQ(l.tools, (Rect{277 - 96 - 18, 439, 96, 96}));
  // Pages: top ((599 div 3) * 2 - 340) div 2 + 10 = 39; left min(533 - 240, 800 - 480 - 32).
  EXPECT_EQ(l.pageSetup, (Rect{288, 39, 480, 340}));
  EXPECT_EQ(l.pageTools, (Rect{293, 39, 480, 340}));
}

TEST(LayOutStartScreen, NarrowAndLowWindows) {
  // Below 640 px the gap is 0: the buttons stand side by side.
  auto l = LayOutStartScreen(600, 599, 616, Pictures(), {200, 20}, {200, 16});
  EXPECT_EQ(l.gap, 0);
  EXPECT_EQ(l.notReady.left, l.videoNon.Right());
  EXPECT_EQ(l.setup.Right(), l.videoNon.left - 14);
  EXPECT_EQ(l.tools.Right(), l.setup.left);
  // Trunc, not floor: (633 - 640) / 8 is -0.875, taken as 0 all the same.
  EXPECT_EQ(LayOutStartScreen(633, 599, 649, Pictures(), {}, {}).gap, 0);
  EXPECT_EQ(LayOutStartScreen(656, 599, 672, Pictures(), {}, {}).gap, 2);
  // A low window: the buttons keep 64 px above the bottom.
  l = LayOutStartScreen(784, 400, 800, Pictures(), {}, {});
  EXPECT_EQ(l.base, 336);
  // A tall one: half-way between the logo and the bottom.
  l = LayOutStartScreen(784, 1000, 800, Pictures(), {}, {});
  EXPECT_EQ(l.base, 349 + (1000 - 349 + 128) / 2);
}

TEST(WavePanelWidth, ByPowerClass) {
  struct Case {
    int power;
    int32_t cw, width;
  } cases[] = {
      {0, 784, 644},   {0, 1600, 1460}, {1, 1600, 1024}, {1, 2400, 1200},
      {1, 784, 644},   {1, 300, 160},   {2, 1000, 640},  {2, 700, 560},
      {2, 2400, 800},  {1, 100, 50},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WavePanelWidth(c.power, c.cw), c.width) << c.power << " " << c.cw;
  }
}

TEST(LayOutEditing, PlacesEveryPartFromTheBottomUp) {
  const EditingHeights h{17, 32, 128, 30};
  const auto l = LayOutEditing(1600, 900, 1, h);
  EXPECT_EQ(l.positionBar, (Rect{0, 883, 1600, 17}));
  EXPECT_EQ(l.statusBar, (Rect{0, 851, 1600, 32}));
  EXPECT_EQ(l.panel, (Rect{288, 900 - 17 - 32 - 128 - 56, 1024, 128}));
  EXPECT_EQ(l.back, (Rect{(288 - 40) / 2 - 4, l.panel.top + 24, 40, 78}));
  EXPECT_EQ(l.video, (Rect{0, 0, 1600, 900 - 17 - 32 - 128 - 30 - 56}));
  // Round(1600 * 4 / 34) = Round(188.235) = 188, Trunc(1600 * 9 / 34) = 423.
  EXPECT_EQ(l.statusPanels, (std::array<int32_t, 6>{188, 423, 423, 188, 188, 188}));
  // 17 * 4 / 34 = 2.0 exactly; 85 * 4 / 34 = 10.0; 8.5 rounds to 8 (halves to even).
  EXPECT_EQ(LayOutEditing(17, 600, 0, h).statusPanels[0], 2);
  EXPECT_EQ(RoundHalfEven(8.5), 8);
  EXPECT_EQ(RoundHalfEven(9.5), 10);
}

TEST(SubtitleLineFontSizes, FollowTheClientArea) {
  EXPECT_EQ(SubtitleLineFontSizes(800, 600, 24).current, 24);
  EXPECT_EQ(SubtitleLineFontSizes(800, 600, 24).side, 18);
  EXPECT_EQ(SubtitleLineFontSizes(800, 600, 6).current, 10);     // 6 is taken as 10
  EXPECT_EQ(SubtitleLineFontSizes(800, 600, 100).current, 48);   // 100 as 48
  EXPECT_EQ(SubtitleLineFontSizes(1600, 1200, 24).current, 48);  // twice the area side
  EXPECT_EQ(SubtitleLineFontSizes(400, 300, 24).current, 12);
  EXPECT_EQ(SubtitleLineFontSizes(400, 300, 24).side, 10);       // Trunc(12 * 0.7 + 2)
  // Exact roots stay whole: sqrt(896 * 672 / 480000) = 1.12 and sqrt(1395 * 1860 / 480000) =
  // 2.325 exactly.
  EXPECT_EQ(SubtitleLineFontSizes(896, 672, 25).current, 28);
  EXPECT_EQ(SubtitleLineFontSizes(1395, 1860, 40).current, 93);
  EXPECT_EQ(SubtitleLineFontSizes(1395, 1860, 40).side, 67);  // Trunc(93 * 0.7 + 2) = 67
  EXPECT_EQ(SubtitleLineFontSizes(0, 600, 24).current, 0);
  EXPECT_EQ(SubtitleLineFont("楷体", 17), "楷体");
  EXPECT_EQ(SubtitleLineFont("楷体", 16), "宋体");
}

}  // namespace
}  // namespace tamsel
