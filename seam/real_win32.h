// The Windows side of the seam: forwards every operation to the real API.
#pragma once

#include "seam/win32_api.h"

class RealWin32 final : public Win32Api {
public:
    // Loads user32 from the system directory and binds its functions; false when it cannot.
    bool BindUser32();

    KAVRIN_SEAM_OVERRIDES

private:
    // version.dll is not one of the libraries the loader always takes from the system
    // directory, so it is not imported: it is loaded from there on first use.
    bool BindVersionLibrary();
    HMODULE version_ = nullptr;
    DWORD(WINAPI* getFileVersionInfoSize_)(LPCWSTR, LPDWORD) = nullptr;
    BOOL(WINAPI* getFileVersionInfo_)(LPCWSTR, DWORD, DWORD, LPVOID) = nullptr;
    BOOL(WINAPI* verQueryValue_)(LPCVOID, LPCWSTR, LPVOID*, PUINT) = nullptr;
};
