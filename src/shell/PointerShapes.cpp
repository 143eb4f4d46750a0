#include "PointerShapes.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include <map>

#include "ArtCursors.h"

namespace tamsel {

QCursor PointerShape(int number) {
  static std::map<int, QCursor> made;
  if (const auto it = made.find(number); it != made.end()) return it->second;
  static std::map<QString, QPoint> hotspots;
  static bool read = false;
  if (!read) {
    QString error;
    read = true;
    if (!ReadCursorHotspots(ART_CURSOR_HOTSPOTS, hotspots, error)) hotspots.clear();
  }
  QCursor cursor(Qt::ArrowCursor);
  const QString path = ArtCursorPath(number);
  const auto hotspot = hotspots.find(path.section('/', -1));
  QSvgRenderer svg(path);
  if (number >= 1 && number <= ART_CURSOR_COUNT && svg.isValid() && hotspot != hotspots.end()) {
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap picture(QSize(ART_CURSOR_SIZE, ART_CURSOR_SIZE) * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    svg.render(&p, QRectF(0, 0, ART_CURSOR_SIZE, ART_CURSOR_SIZE));
    p.end();
    // The hotspot in the picture's own pixels, as Qt takes it for a pixmap with a pixel ratio.
    cursor = QCursor(picture, hotspot->second.x(), hotspot->second.y());
  }
  made.emplace(number, cursor);
  return cursor;
}

}  // namespace tamsel
