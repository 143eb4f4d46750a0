#pragma once

#include <cstdint>

namespace tamsel {

/// A colour as its red, green and blue components, 0-255, as the painting code decides it; the
/// window turns it into its own colour type.
struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

}  // namespace tamsel
