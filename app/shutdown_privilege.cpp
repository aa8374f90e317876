#include "app/shutdown_privilege.h"

#include "platform/system_library.h"

bool EnableShutdownPrivilege() {
    typedef BOOL(WINAPI * OpenProcessTokenFn)(HANDLE, DWORD, HANDLE*);
    typedef BOOL(WINAPI * LookupPrivilegeValueFn)(const char16_t*, const char16_t*, LUID*);
    typedef BOOL(WINAPI * AdjustTokenPrivilegesFn)(HANDLE, BOOL, TOKEN_PRIVILEGES*, DWORD,
                                                   TOKEN_PRIVILEGES*, DWORD*);
    ModuleRef advapi(LoadSystemLibrary(u"advapi32.dll"));
    if (!advapi) return false;
    auto openToken = advapi.Find<OpenProcessTokenFn>("OpenProcessToken");
    auto lookup = advapi.Find<LookupPrivilegeValueFn>("LookupPrivilegeValueW");
    auto adjust = advapi.Find<AdjustTokenPrivilegesFn>("AdjustTokenPrivileges");
    if (!openToken || !lookup || !adjust) return false;

    HANDLE token = nullptr;
    if (!openToken(Api().GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return false;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    lookup(nullptr, u"SeShutdownPrivilege", &privileges.Privileges[0].Luid);
    adjust(token, FALSE, &privileges, 0, nullptr, nullptr);
    // AdjustTokenPrivileges succeeds even when it could not assign the privilege: only the
    // last error tells.
    bool enabled = Api().GetLastError() == 0;
    Api().CloseHandle(token);
    return enabled;
}
