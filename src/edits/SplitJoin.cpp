#include "SplitJoin.h"

namespace tamsel {}  // namespace tamsel
