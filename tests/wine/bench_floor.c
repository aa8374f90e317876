/* The floors of the bench: only the platform calls any installer of this kind must make, built
   like the setup for its architecture and binding its libraries at run time.
     bench_floor install PACKAGE [UILEVEL]  MsiInstallProductW at that user-interface level
         (default full); exit status: the engine's result
     bench_floor download URL SELF  the platform calls of the setup's download run: the download
         into the cache (URLDownloadToCacheFileW), WinVerifyTrust of SELF (the signer to compare
         with), of the file for its signer and again for the verdict, the install at full level
     bench_floor window  shows a dialog at once (launch.exe run --kill-on-window ends it): the
         floor of the time to the window */
#include <windows.h>
#include <wintrust.h>
#include <softpub.h>

typedef int(WINAPI *SetUiFn)(int, HWND *);
typedef UINT(WINAPI *InstallFn)(LPCWSTR, LPCWSTR);
typedef HRESULT(WINAPI *DownloadFn)(IUnknown *, LPCWSTR, LPWSTR, DWORD, DWORD, void *);
typedef LONG(WINAPI *VerifyFn)(HWND, GUID *, LPVOID);

static FARPROC export_of(const wchar_t *dll, const char *name)
{
    HMODULE module = LoadLibraryW(dll);
    return module ? GetProcAddress(module, name) : NULL;
}

static int install(const wchar_t *package, int level)
{
    SetUiFn setUi = (SetUiFn)(void (*)(void))export_of(L"msi.dll", "MsiSetInternalUI");
    InstallFn run = (InstallFn)(void (*)(void))export_of(L"msi.dll", "MsiInstallProductW");
    if (!setUi || !run) return 1603;
    setUi(level, NULL);
    return (int)run(package, L"");
}

static LONG verify(VerifyFn fn, const wchar_t *path)
{
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO file = {sizeof file, path, NULL, NULL};
    WINTRUST_DATA data = {.cbStruct = sizeof data, .dwUIChoice = WTD_UI_NONE,
                          .fdwRevocationChecks = WTD_REVOKE_NONE, .dwUnionChoice = WTD_CHOICE_FILE,
                          .pFile = &file, .dwStateAction = WTD_STATEACTION_IGNORE};
    return fn((HWND)INVALID_HANDLE_VALUE, &action, &data);
}

int wmain(int argc, wchar_t **argv)
{
    if (argc == 2 && !lstrcmpW(argv[1], L"window"))
        return MessageBoxW(NULL, L"floor", L"floor", MB_OK) ? 0 : 1;
    if (argc >= 3 && !lstrcmpW(argv[1], L"install")) return install(argv[2], argc > 3 ? _wtoi(argv[3]) : 5);
    if (argc != 4 || lstrcmpW(argv[1], L"download")) return 2;
    DownloadFn download = (DownloadFn)(void (*)(void))export_of(L"urlmon.dll", "URLDownloadToCacheFileW");
    VerifyFn trust = (VerifyFn)(void (*)(void))export_of(L"wintrust.dll", "WinVerifyTrust");
    wchar_t cached[MAX_PATH];
    if (!download || !trust) return 1603;
    if (verify(trust, argv[3]) != 0) return 4;
    if (download(NULL, argv[2], cached, MAX_PATH, 0, NULL) != S_OK) return 2;
    if (verify(trust, cached) != 0 || verify(trust, cached) != 0) return 4;
    return install(cached, 5);
}
