#pragma once

#include <QPoint>
#include <QString>

#include <map>

namespace tamsel {

/// The artwork's pointer shapes: shape n (1-12) is drawn by ArtCursorPath(n), 32 x 32 pixels;
/// 1-11 stand for the speed zones over the video (1 fast backward … 6 paused … 11 fast
/// forward), 12 is the program's default pointer.
constexpr int ART_CURSOR_COUNT = 12;
constexpr int ART_CURSOR_SIZE = 32;
/// Where the hotspots of the pointer shapes are written down.
inline const QString ART_CURSOR_HOTSPOTS = QStringLiteral(":/art/cursors.txt");

/// The resource path of pointer shape `number`: ":/art/cursor-01.svg" for 1.
QString ArtCursorPath(int number);

/// Reads a hotspot list, one "cursor-01.svg 16 16" per line (picture file name, then x and y in
/// the picture's pixels; empty lines are skipped), into picture file name → hotspot. Returns false
/// with `error` naming the file and the line when the file cannot be read, a line is not of that
/// shape, a picture is named twice or a hotspot lies outside the 32 x 32 picture.
bool ReadCursorHotspots(const QString& path, std::map<QString, QPoint>& hotspots, QString& error);

}  // namespace tamsel
