// The worker thread of the install run.
#pragma once

#include "seam/win32_types.h"

// The worker thread's procedure: engine upgrade, binding, then every package.
DWORD WINAPI SetupWorker(LPVOID unused);
