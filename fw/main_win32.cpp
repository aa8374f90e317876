// The Windows entry point: hardens the library search, installs the real API behind the
// seam and runs the application object.
#include "fw/win_app.h"
#include "platform/system_library.h"
#include "seam/real_win32.h"
#include "vocabulary/result_codes.h"

namespace {

RealWin32 g_realApi;

// Keep the application's directory and the current directory out of the library search
// for everything loaded later, where the platform allows it.
void RestrictLibrarySearch() {
    HMODULE kernel = Api().GetModuleHandleW(u"kernel32.dll");
    if (!kernel) return;
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    typedef BOOL(WINAPI * SetDllDirectoryFn)(LPCWSTR);
    auto setDefault = FindExport<SetDefaultDllDirectoriesFn>(kernel, "SetDefaultDllDirectories");
    if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    auto setDllDirectory = FindExport<SetDllDirectoryFn>(kernel, "SetDllDirectoryW");
    if (setDllDirectory) setDllDirectory(L"");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    // The real API first: it forwards straight to the system and needs nothing loaded.
    SetApi(&g_realApi);
    RestrictLibrarySearch();
    // Without user32 there is no window and no message box to tell anything with.
    if (!g_realApi.BindUser32()) return kResultNoUser32;
    CWinApp* app = AfxGetApp();
    return app ? app->WinMain() : 1;
}
