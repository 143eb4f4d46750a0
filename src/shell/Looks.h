#pragma once

// What the painted widgets of the editing screen share: their colours and their Kai faces.

#include <QColor>
#include <QFont>
#include <QStringList>

#include "Rgb.h"

namespace tamsel {

/// A colour the painting code decided, as Qt paints it.
inline QColor ToQColor(Rgb c) { return QColor(c.r, c.g, c.b); }

/// A font of `family`. A Kai face ("楷体…") falls back on the Kai faces other systems ship
/// under their own names, so that text set in it keeps its style where no font bears the
/// design's name.
inline QFont KaiFallbackFont(const QString& family) {
  QFont font;
  QStringList families{family};
  if (family.startsWith(QString::fromUtf8("楷体"))) {
    families << "KaiTi" << "STKaiti" << "AR PL UKai CN" << "AR PL KaitiM GB";
  }
  font.setFamilies(families);
  return font;
}

}  // namespace tamsel
