#include "MagnetCut.h"

namespace tamsel {}  // namespace tamsel
