#include "ArtCursors.h"

#include <QFile>
#include <QStringList>
#include <QTextStream>

namespace tamsel {

QString ArtCursorPath(int number) {
  return QStringLiteral(":/art/cursor-%1.svg").arg(number, 2, 10, QLatin1Char('0'));
}

bool ReadCursorHotspots(const QString& path, std::map<QString, QPoint>& hotspots, QString& error) {
  hotspots.clear();
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    error = path + QStringLiteral("\r无法读取指针热点表");
    return false;
  }
  QTextStream in(&file);
  for (int lineNo = 1; !in.atEnd(); ++lineNo) {
    const QString line = in.readLine().trimmed();
    if (line.isEmpty()) continue;
    const QString where = path + QStringLiteral("\r第%1行：").arg(lineNo);
    const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    bool xOk = false, yOk = false;
    const QPoint spot =
        fields.size() == 3 ? QPoint(fields[1].toInt(&xOk), fields[2].toInt(&yOk)) : QPoint();
    if (!xOk || !yOk) {
      error = where + QStringLiteral("应为“图片名 x y”：") + line;
      return false;
    }
    if (spot.x() < 0 || spot.x() >= ART_CURSOR_SIZE || spot.y() < 0 ||
        spot.y() >= ART_CURSOR_SIZE) {
      error = where + QStringLiteral("热点不在%1×%1的图片内：").arg(ART_CURSOR_SIZE) + line;
      return false;
    }
    if (!hotspots.emplace(fields[0], spot).second) {
      error = where + QStringLiteral("图片重复：") + fields[0];
      return false;
    }
  }
  return true;
}

}  // namespace tamsel
