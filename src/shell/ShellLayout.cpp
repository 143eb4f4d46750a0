#include "ShellLayout.h"
