/* A DLL planted beside setup.exe under a system library's name. If anything loads it, its
   DllMain leaves a marker file "<its own path>.loaded" beside it. */
#include "helper_common.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    WCHAR path[MAX_PATH + 16];
    DWORD n = reason == DLL_PROCESS_ATTACH ? GetModuleFileNameW(instance, path, MAX_PATH) : 0;
    if (n > 0 && n < MAX_PATH) write_file(lstrcatW(path, L".loaded"), "");
    return TRUE;
}
