#include "LowerPanel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tamsel {

namespace {

/// trunc(numerator / denominator * x) limited to 0..255; 255 once the denominator is no longer
/// positive (the rows past the formula's range, where the component has risen to 255).
uint8_t Component(double numerator, double denominator, double x) {
  if (denominator <= 0) return 255;
  const double v = std::trunc(numerator / denominator * x);
  return static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
}

/// The pixels of a line from `a` towards `b`, without `b`. The button's lines are all vertical
/// or diagonal, so each step moves one pixel along each axis that changes.
void AddLine(std::vector<PanelPoint>& pixels, PanelPoint a, PanelPoint b) {
  const int32_t dx = (b.x > a.x) - (b.x < a.x);
  const int32_t dy = (b.y > a.y) - (b.y < a.y);
  const int32_t steps = std::max(std::abs(b.x - a.x), std::abs(b.y - a.y));
  for (int32_t i = 0; i < steps; ++i) pixels.push_back({a.x + i * dx, a.y + i * dy});
}

}  // namespace

Rgb LowerPanelColour(int32_t d) {
  const double red = std::max(d - 120, 0);
  const double green = std::max(d - 72, 0);
  return {Component(250, std::abs(128 - red) + 400 - 2 * red, red),
          Component(350, std::abs(80 - green) + 600 - 2 * green, green),
          Component(200, std::abs(120.0 - d) + 600 - 2.0 * d, d)};
}

BackTriangle TrianglePaint(bool backHover, int32_t boxLeft, int32_t boxTop, int32_t boxWidth) {
  const int32_t r = boxLeft + boxWidth - 2;
  const int32_t t = boxTop + 8;
  BackTriangle b;
  b.colour = backHover ? BACK_HOVER_COLOUR : BACK_COLOUR;
  b.paths = {
      {{r, t}, {r, t + 64}, {r - 32, t + 32}, {r, t}},                      // the outer triangle
      {{r - 1, t + 2}, {r - 1, t + 62}, {r - 31, t + 32}, {r - 1, t + 2}},  // the inner one
      {{r, t - 1}, {r - 33, t + 32}},
      {{r - 30, t + 32}, {r - 1, t + 61}},
  };
  for (const auto& path : b.paths) {
    for (size_t i = 1; i < path.size(); ++i) AddLine(b.pixels, path[i - 1], path[i]);
  }
  return b;
}

LowerPanelPicture LowerPanelPaint(int32_t readyState, bool backHover, const LowerPanelGeometry& g) {
  LowerPanelPicture p;
  if (readyState != 2) return p;
  p.painted = true;
  const int32_t top = g.panelTop - GRADIENT_ABOVE_PANEL;
  p.blackBottom = std::max(top, 0);
  const int32_t panelRight = g.panelLeft + g.panelWidth;
  for (int32_t y = top; y <= g.statusTop; ++y) {
    const Rgb colour = LowerPanelColour(y - top);
    if (y < g.panelTop || y >= g.panelTop + g.panelHeight) {
      p.rows.push_back({y, 0, g.clientWidth, colour});
    } else {
      p.rows.push_back({y, 0, g.panelLeft, colour});
      p.rows.push_back({y, panelRight, g.clientWidth, colour});
    }
  }
  p.back = TrianglePaint(backHover, g.backLeft, g.backTop, g.backWidth);
  return p;
}

LowerPanelPicture FormBelowPaint(EditorState& st, const LowerPanelGeometry& g) {
  LowerPanelPicture p = LowerPanelPaint(st.ReadyState, st.BackHover, g);
  // The subtitle lines over the gradient are widgets of their own that the window keeps on
  // top, so nothing has to show them again here.
  st.WaveRedraw = false;
  st.ViewMarker = -100.0;
  return p;
}

}  // namespace tamsel
