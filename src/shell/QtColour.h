#pragma once

#include <QColor>

#include "Rgb.h"

namespace tamsel {

/// A colour the painting code decided, as Qt paints it.
inline QColor ToQColor(Rgb c) { return QColor(c.r, c.g, c.b); }

}  // namespace tamsel
