#include "BoundaryMove.h"

namespace tamsel {}  // namespace tamsel
