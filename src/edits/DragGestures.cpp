#include "DragGestures.h"

namespace tamsel {}  // namespace tamsel
