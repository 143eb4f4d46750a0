#include "LowerPanel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <utility>

namespace tamsel {
namespace {

/// The editing layout of a 784 x 599 client area (power class 1): Panel1 644 x 128 at (70, 366),
/// the status panel from row 550, PaintBoxBack 40 wide at (11, 390).
LowerPanelGeometry Geometry784() {
  LowerPanelGeometry g;
  g.clientWidth = 784;
  g.statusTop = 550;
  g.panelLeft = 70;
  g.panelTop = 366;
  g.panelWidth = 644;
  g.panelHeight = 128;
  g.backLeft = 11;
  g.backTop = 390;
  g.backWidth = 40;
  return g;
}

bool Has(const std::vector<PanelPoint>& pixels, int32_t x, int32_t y) {
  return std::find(pixels.begin(), pixels.end(), PanelPoint{x, y}) != pixels.end();
}

TEST(LowerPanel, GradientColoursOfSampleRows) {
  const struct {
    int32_t d;
    Rgb colour;
  } cases[] = {
      {0, {0, 0, 0}},
      {72, {0, 0, 28}},
      {120, {0, 31, 66}},
      {150, {17, 61, 90}},
      {184, {47, 96, 124}},
      {224, {120, 144, 175}},
      // Rows past the formula's range stay at the 255 the components have risen to, rather
      // than divide by zero or turn negative.
      {391, {255, 255, 255}},
      {392, {255, 255, 255}},
      {480, {255, 255, 255}},
      {592, {255, 255, 255}},
      {5000, {255, 255, 255}},
  };
  for (const auto& c : cases) {
    const Rgb got = LowerPanelColour(c.d);
    EXPECT_EQ(got, c.colour) << "row " << c.d << ": " << int(got.r) << "," << int(got.g) << ","
                             << int(got.b);
  }
  // Each component only ever rises down the rows, also across the guarded rows.
  Rgb before = LowerPanelColour(0);
  for (int32_t d = 1; d < 700; ++d) {
    const Rgb now = LowerPanelColour(d);
    EXPECT_GE(now.r, before.r) << d;
    EXPECT_GE(now.g, before.g) << d;
    EXPECT_GE(now.b, before.b) << d;
    before = now;
  }
}

TEST(LowerPanel, RowsAroundThePanelSpanTheWidthAndRowsAcrossItLeaveItAlone) {
  const LowerPanelPicture p = LowerPanelPaint(2, false, Geometry784());
  ASSERT_TRUE(p.painted);
  EXPECT_EQ(p.blackBottom, 326);
  // 225 rows (326 .. 550): 97 whole, 128 in two parts beside the panel.
  ASSERT_EQ(p.rows.size(), 97u + 2 * 128u);
  EXPECT_EQ(p.rows.front(), (PanelRun{326, 0, 784, {0, 0, 0}}));
  EXPECT_EQ(p.rows.back(), (PanelRun{550, 0, 784, {120, 144, 175}}));
  const auto runsOf = [&](int32_t y) {
    std::vector<std::pair<int32_t, int32_t>> runs;
    for (const PanelRun& r : p.rows) {
      if (r.y != y) continue;
      EXPECT_EQ(r.colour, LowerPanelColour(y - 326)) << y;
      runs.push_back({r.x0, r.x1});
    }
    return runs;
  };
  using Runs = std::vector<std::pair<int32_t, int32_t>>;
  EXPECT_EQ(runsOf(365), (Runs{{0, 784}}));
  EXPECT_EQ(runsOf(366), (Runs{{0, 70}, {714, 784}}));
  EXPECT_EQ(runsOf(493), (Runs{{0, 70}, {714, 784}}));
  EXPECT_EQ(runsOf(494), (Runs{{0, 784}}));
  EXPECT_EQ(runsOf(325), Runs{});
  EXPECT_EQ(runsOf(551), Runs{});
  // No run touches a pixel of the panel.
  for (const PanelRun& r : p.rows) {
    if (r.y < 366 || r.y >= 494) continue;
    EXPECT_TRUE(r.x1 <= 70 || r.x0 >= 714) << r.y << ": " << r.x0 << ".." << r.x1;
  }
}

TEST(LowerPanel, NothingIsPaintedOffTheEditingScreenButTheStripRedrawsAnyway) {
  for (int32_t readyState : {1, 2}) {
    EditorState st;
    st.ReadyState = readyState;
    st.WaveRedraw = true;
    st.ViewMarker = 5.0;
    const LowerPanelPicture p = FormBelowPaint(st, Geometry784());
    EXPECT_EQ(p.painted, readyState == 2);
    EXPECT_EQ(p.rows.empty(), readyState != 2);
    EXPECT_FALSE(st.WaveRedraw) << readyState;
    EXPECT_EQ(st.ViewMarker, -100.0) << readyState;
  }
}

TEST(LowerPanel, BackButtonLinesAndColourByHover) {
  // R = 11 + 40 - 2 = 49, T = 390 + 8 = 398.
  const BackTriangle dark = TrianglePaint(false, 11, 390, 40);
  const BackTriangle lit = TrianglePaint(true, 11, 390, 40);
  EXPECT_EQ(dark.colour, (Rgb{20, 20, 40}));
  EXPECT_EQ(lit.colour, (Rgb{255, 255, 255}));
  EXPECT_EQ(dark.pixels, lit.pixels);
  ASSERT_EQ(dark.paths.size(), 4u);
  EXPECT_EQ(dark.paths[0], (std::vector<PanelPoint>{{49, 398}, {49, 462}, {17, 430}, {49, 398}}));
  EXPECT_EQ(dark.paths[1], (std::vector<PanelPoint>{{48, 400}, {48, 460}, {18, 430}, {48, 400}}));
  EXPECT_EQ(dark.paths[2], (std::vector<PanelPoint>{{49, 397}, {16, 430}}));
  EXPECT_EQ(dark.paths[3], (std::vector<PanelPoint>{{19, 430}, {48, 459}}));

  // Outer 64 + 32 + 32, inner 60 + 30 + 30, strokes 33 and 29 pixels, none twice.
  EXPECT_EQ(dark.pixels.size(), 310u);
  std::set<std::pair<int32_t, int32_t>> distinct;
  for (const PanelPoint& q : dark.pixels) distinct.insert({q.x, q.y});
  EXPECT_EQ(distinct.size(), 310u);
  // Every corner of the triangles is set, the lines' own ends are left out.
  for (auto [x, y] : {std::pair{49, 398},
                      {49, 462},
                      {17, 430},
                      {48, 400},
                      {48, 460},
                      {18, 430},
                      {49, 397},
                      {19, 430},
                      {48, 459}}) {
    EXPECT_TRUE(Has(dark.pixels, x, y)) << x << "," << y;
  }
  EXPECT_FALSE(Has(dark.pixels, 16, 430));  // the end of the long stroke
  EXPECT_FALSE(Has(dark.pixels, 49, 463));
  // Everything stays inside the 40 x 78 box.
  for (const PanelPoint& q : dark.pixels) {
    EXPECT_TRUE(q.x >= 11 && q.x < 51 && q.y >= 390 && q.y < 468) << q.x << "," << q.y;
  }
  // The picture of the lower panel carries the button as the hover state says.
  EXPECT_EQ(LowerPanelPaint(2, true, Geometry784()).back.colour, lit.colour);
  EXPECT_EQ(LowerPanelPaint(2, false, Geometry784()).back.pixels, dark.pixels);
}

}  // namespace
}  // namespace tamsel
