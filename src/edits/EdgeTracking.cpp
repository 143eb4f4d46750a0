#include "EdgeTracking.h"

namespace tamsel {}  // namespace tamsel
