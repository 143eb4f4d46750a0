#include "ShellLayout.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace tamsel {

namespace {

int32_t Trunc(double v) { return static_cast<int32_t>(std::trunc(v)); }

Rect At(int32_t left, int32_t top, Size size) { return {left, top, size.width, size.height}; }

}  // namespace

StartScreenLayout LayOutStartScreen(int32_t cw, int32_t ch, int32_t windowWidth,
                                    const StartScreenSizes& s, Size progressBar,
                                    Size labelState) {
  StartScreenLayout l;
  const int32_t h1 = s.logo.height;
  const int32_t hv = s.videoNon.height;
  l.base = std::min(ch - 64, h1 + (ch - h1 + hv) / 2);
  l.gap = std::max(0, Trunc((cw - 640) / 8.0));

  const int32_t videoTop = l.base - hv - 6;
  const int32_t videoLeft = Trunc((cw - s.videoNon.width) * 0.618);
  l.videoNon = At(videoLeft, videoTop, s.videoNon);
  l.videoYes = l.videoNon;
  l.progressBar = At(videoLeft, videoTop, progressBar);
  l.labelState = At(videoLeft, videoTop - 18, labelState);

  l.notReady = At(l.videoNon.Right() + l.gap, l.base - s.notReady.height, s.notReady);
  l.readyGo = l.notReady;
  l.setup = At(videoLeft - s.setup.width - l.gap - 14, l.base - s.setup.height, s.setup);
  l.tools = At(l.setup.left - s.tools.width - l.gap, l.base - s.tools.height, s.tools);

  auto page = [&](Size size, int32_t margin) {
    const int32_t top = ((ch / 3) * 2 - size.height) / 2 + 10;
    const int32_t left =
        std::min((windowWidth * 2) / 3 - size.width / 2, windowWidth - size.width - margin);
    return At(left, top, size);
  };
  l.pageSetup = page(s.pageSetup, 32);
  l.pageTools = page(s.pageTools, 24);
  return l;
}

int32_t WavePanelWidth(int powerClass, int32_t cw) {
  switch (powerClass) {
    case 0:
      return cw - 140;
    case 1:
      return std::max(std::min(cw - 140, 1024), cw / 2);
    default:
      return std::max(std::min(cw - 140, 640), cw / 3);
  }
}

int32_t RoundHalfEven(double v) { return static_cast<int32_t>(std::nearbyint(v)); }

EditingLayout LayOutEditing(int32_t cw, int32_t ch, int powerClass, const EditingHeights& h) {
  EditingLayout l;
  l.video = {0, 0, cw, ch - h.positionBar - h.statusBar - h.panel - h.labelStr - 56};
  l.positionBar = {0, ch - h.positionBar, cw, h.positionBar};
  const int32_t panelTop = ch - h.positionBar - h.statusBar - h.panel - 56;
  const int32_t panelWidth = WavePanelWidth(powerClass, cw);
  l.panel = {(cw - panelWidth) / 2, panelTop, panelWidth, 128};
  l.back = {(l.panel.left - 40) / 2 - 4, l.panel.top + 24, 40, 78};
  l.statusBar = {0, l.positionBar.top - h.statusBar, cw, h.statusBar};
  const int32_t narrow = RoundHalfEven(cw * 4 / 34.0);
  const int32_t wide = Trunc(cw * 9 / 34.0);
  l.statusPanels = {narrow, wide, wide, narrow, narrow, narrow};
  return l;
}

SubtitleFontSizes SubtitleLineFontSizes(int32_t cw, int32_t ch, int fontSize) {
  const int f = std::clamp(fontSize, 10, 48);
  SubtitleFontSizes s;
  // Trunc(sqrt(cw * ch / 800 / 600) * f), worked out in whole numbers: in floating point an
  // exact root such as sqrt(896 * 672 / 480000) * 25 = 28 can come out just below and lose 1.
  const int64_t square = int64_t{std::max(cw, 0)} * std::max(ch, 0) * f * f;  // (size^2) * 480000
  int64_t size = Trunc(std::sqrt(double(square) / 480000));
  while (size > 0 && size * size * 480000 > square) --size;
  while ((size + 1) * (size + 1) * 480000 <= square) ++size;
  s.current = int32_t(size);
  s.side = s.current * 7 / 10 + 2;
  return s;
}

std::string SubtitleLineFont(const std::string& name, int32_t size) {
  return size > 16 ? name : "宋体";
}

}  // namespace tamsel
