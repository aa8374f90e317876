// The size, in characters, of every path buffer the setup hands to the system: its own
// module file name, the engine's, and a download's cache file path.
#pragma once

#include "seam/win32_types.h"

const DWORD kPathBufferSize = 520;
