#include "BatchRetime.h"

namespace tamsel {}  // namespace tamsel
