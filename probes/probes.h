// Questions about the running system. Each probe answers without showing anything: a failed
// platform call gives a defined fallback answer.
#pragma once

#include "seam/win32_api.h"

// True when the platform is not of the NT family; the major version goes to `major` if given.
// A failed version query reads as major version 0 and not NT.
bool ProbePlatform(DWORD* major);

// True when the user counts as an administrator (always on systems that are not NT).
bool IsUserAdmin(bool notNt, DWORD major);

// True on a multi-user Terminal Server (a single-user remote desktop system is not one).
bool IsTerminalServer(bool notNt, DWORD major);

// The "ProductSuite" rule on raw REG_MULTI_SZ data of `bytes` bytes: true when one string
// before the first empty one is exactly "Terminal Server". Never reads past the data.
bool ProductSuiteHasTerminalServer(const char16_t* data, size_t bytes);

// The native machine type of the system (IMAGE_FILE_MACHINE_*), 0 when the probe fails.
// A successful answer is kept for the rest of the process.
WORD GetNativeMachine();
// Forgets the kept answer, so that the next call probes again. For tests.
void ForgetNativeMachine();
// The native machine where IsWow64Process2 is missing: that of a 64-bit process
// (`process64`, the x64 build) is its own, x64; that of a 32-bit one follows `wow64`.
WORD LegacyNativeMachine(bool process64, BOOL wow64);

// The dwFileVersionMS of a file's fixed version record. `version` receives 0xFFFFFFFF when
// the file has no fixed record. The result is a Win32 error code, 0 on success.
DWORD GetFileVersionMS(const char16_t* path, DWORD* version);

// major * 100 + minor of a dwFileVersionMS, in 32-bit unsigned arithmetic (2.0 is 200).
inline DWORD VersionNumber(DWORD fileVersionMS) {
    return (fileVersionMS >> 16) * 100u + (fileVersionMS & 0xFFFFu);
}
