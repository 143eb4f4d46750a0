#pragma once

#include <QCursor>

namespace tamsel {

/// The program's numbered pointer shapes as cursors: 1-11 the speed zones over the video
/// (1 fast backward … 6 paused … 10 normal speed … 11 fast forward), 12 the program's default
/// pointer, drawn from the artwork; 13 and 14 (and any number without a picture) the system's
/// arrow. Drawn once, at the screen's pixel ratio.
QCursor PointerShape(int number);

}  // namespace tamsel
