#pragma once

// Where the controls of the window go, for any client size: the start screen's picture buttons,
// the pages, the editing face's waveform panel and lines. Pure arithmetic on sizes, so that the
// formulas are tested without a window.

#include <cstdint>

namespace tamsel {

struct Rect {
  int32_t left = 0, top = 0, width = 0, height = 0;
  int32_t Right() const { return left + width; }
  int32_t Bottom() const { return top + height; }
  bool operator==(const Rect&) const = default;
};

struct Size {
  int32_t width = 0, height = 0;
};

}  // namespace tamsel
