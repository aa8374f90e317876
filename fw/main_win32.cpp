// The Windows entry point: hardens the library search, installs the real API behind the
// seam and runs the application object.
#include "fw/win_app.h"
#include "seam/real_win32.h"

namespace {

RealWin32 g_realApi;

// Keep the application's directory and the current directory out of the library search
// for everything loaded later, where the platform allows it.
void RestrictLibrarySearch() {
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    if (!kernel) return;
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    typedef BOOL(WINAPI * SetDllDirectoryFn)(LPCWSTR);
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault) setDefault(0x00000800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */);
    auto setDllDirectory = reinterpret_cast<SetDllDirectoryFn>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDllDirectoryW")));
    if (setDllDirectory) setDllDirectory(L"");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    RestrictLibrarySearch();
    SetApi(&g_realApi);
    // Without user32 there is no window and no message box to tell anything with.
    if (!g_realApi.BindUser32()) return ERROR_MOD_NOT_FOUND;
    CWinApp* app = AfxGetApp();
    return app ? app->WinMain() : 1;
}
