// The seam: every system call the setup makes goes through this one interface.
//
// Each operation mirrors the Win32 function of the same name, with the same arguments and
// results (text as char16_t); the operations are listed once, in seam/win32_operations.h.
// Functions that the setup looks up at run time (the trust provider, CheckTokenMembership,
// IsWow64Process2, ...) are not here: they are reached through LoadLibraryExW/GetProcAddress,
// exactly as on Windows.
//
// The Windows build forwards to the real API (RealWin32). The host tests install a simulated
// Windows that records every call.
#pragma once

#include "seam/win32_operations.h"

class Win32Api {
public:
    virtual ~Win32Api() = default;

#define KAVRIN_SEAM_PURE(result, name, parameters, arguments) virtual result name parameters = 0;
    KAVRIN_SEAM_OPERATIONS(KAVRIN_SEAM_PURE, KAVRIN_SEAM_PURE, KAVRIN_SEAM_PURE)
#undef KAVRIN_SEAM_PURE
};

// The seam in force. The Windows entry point installs the real API before anything runs;
// a host test installs its simulated Windows for the duration of the test.
Win32Api& Api();
void SetApi(Win32Api* api);
