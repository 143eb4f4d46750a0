#pragma once

// The lower panel of the editing screen: the part of the window between the video and the
// status panel, painted by the program itself. A vertical gradient from black to a steel blue
// around the waveform strip (whose pixels it leaves alone) and the back button, a left-pointing
// double triangle drawn where the transparent PaintBoxBack lies. Everything here decides
// pixels; the window only puts them on its canvas.

#include <cstdint>
#include <vector>

#include "EditorState.h"
#include "Rgb.h"

namespace tamsel {

/// Where the lower panel's parts lie, in client pixels.
struct LowerPanelGeometry {
  int32_t clientWidth = 0;
  /// The top of the status panel (client height - position bar - status bar): the gradient's
  /// last row.
  int32_t statusTop = 0;
  int32_t panelLeft = 0, panelTop = 0, panelWidth = 0, panelHeight = 0;  ///< Panel1
  int32_t backLeft = 0, backTop = 0, backWidth = 0;                      ///< PaintBoxBack
};

/// How far above Panel1 the gradient begins.
inline constexpr int32_t GRADIENT_ABOVE_PANEL = 40;

/// The gradient's colour of row d (0 at Panel1's top - 40), each component computed in floating
/// point, truncated and limited to 0..255: red trunc(250 / (|128 - x| + 400 - 2x) * x) with
/// x = max(d - 120, 0), green trunc(350 / (|80 - x| + 600 - 2x) * x) with x = max(d - 72, 0),
/// blue trunc(200 / (|120 - d| + 600 - 2d) * d). Past the rows where a denominator reaches 0
/// (d = 392 red, 480 blue, 592 green; never in the editing layout, which is 225 rows high) the
/// component stays at 255, where it has already risen to.
Rgb LowerPanelColour(int32_t d);

/// A horizontal run of pixels [x0, x1) of row y in one colour.
struct PanelRun {
  int32_t y = 0, x0 = 0, x1 = 0;
  Rgb colour;
  bool operator==(const PanelRun&) const = default;
};

/// A pixel.
struct PanelPoint {
  int32_t x = 0, y = 0;
  bool operator==(const PanelPoint&) const = default;
};

/// The back button's colours: white under the pointer, dark blue-grey otherwise.
inline constexpr Rgb BACK_HOVER_COLOUR{255, 255, 255};
inline constexpr Rgb BACK_COLOUR{20, 20, 40};

/// The back button as drawn: its pen colour, the four line paths (each from its first point
/// through the others) and the pixels they set. As lines are drawn on the canvas, the end pixel
/// of each line is left out (the next line of a path starts there).
struct BackTriangle {
  Rgb colour;
  std::vector<std::vector<PanelPoint>> paths;
  std::vector<PanelPoint> pixels;
};

/// TrianglePaint: the back button for the box PaintBoxBack (left, top, width), with
/// R = left + width - 2 and T = top + 8: the outer triangle (R, T) (R, T + 64) (R - 32, T + 32)
/// (R, T), the inner one (R - 1, T + 2) (R - 1, T + 62) (R - 31, T + 32) (R - 1, T + 2), and
/// the two strokes (R, T - 1) to (R - 33, T + 32) and (R - 30, T + 32) to (R - 1, T + 61).
BackTriangle TrianglePaint(bool backHover, int32_t boxLeft, int32_t boxTop, int32_t boxWidth);

/// What the lower panel paints.
struct LowerPanelPicture {
  bool painted = false;        ///< false off the editing screen: nothing is drawn
  int32_t blackBottom = 0;     ///< rows 0 .. blackBottom - 1 are black across the client width
  std::vector<PanelRun> rows;  ///< the gradient, row by row, around Panel1
  BackTriangle back;
};

/// The picture of the lower panel: nothing unless `readyState` is 2 (editing). Rows from the
/// gradient's top G = Panel1 top - 40 down to the status panel's top, each in its colour of
/// LowerPanelColour(row - G), span the client width, except the rows of Panel1, which leave
/// Panel1's columns out; the area above G is black; the back button on top.
LowerPanelPicture LowerPanelPaint(int32_t readyState, bool backHover, const LowerPanelGeometry& g);

/// FormBelowPaint: the picture of the lower panel for the state, and what painting it does to
/// the state whether anything is drawn or not: WaveRedraw cleared and ViewMarker -100 (the strip
/// redraws everything on its next tick).
LowerPanelPicture FormBelowPaint(EditorState& st, const LowerPanelGeometry& g);

}  // namespace tamsel
