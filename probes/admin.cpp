#include "probes/probes.h"

#include <stdlib.h>

#include "platform/system_library.h"

namespace {

typedef BOOL(WINAPI* CheckTokenMembershipFn)(HANDLE, PSID, BOOL*);

bool IsMemberOnNt5(PSID admins) {
    ModuleRef advapi(LoadSystemLibrary(u"advapi32.dll"));
    if (!advapi) return false;
    auto check = advapi.Find<CheckTokenMembershipFn>("CheckTokenMembership");
    if (!check) return false;
    BOOL member = FALSE;
    // A null token asks about the caller's own effective token.
    if (!check(nullptr, admins, &member)) return false;
    return member != FALSE;
}

// Before NT 5 there is no membership check: look for the group in the token's groups,
// whatever its attributes (a deny-only entry counts too).
bool IsMemberBeforeNt5(PSID admins) {
    DWORD size = 1024;
    void* buffer = malloc(size);
    if (!buffer) return false;

    HANDLE token = nullptr;
    if (!Api().OpenProcessToken(Api().GetCurrentProcess(), TOKEN_READ, &token)) {
        free(buffer);
        return false;
    }
    DWORD needed = 0;
    BOOL ok = Api().GetTokenInformation(token, TokenGroups, buffer, size, &needed);
    if (!ok && needed > size) {
        void* larger = malloc(needed);
        if (larger) {
            free(buffer);
            buffer = larger;
            size = needed;
            ok = Api().GetTokenInformation(token, TokenGroups, buffer, size, &needed);
        }
    }
    Api().CloseHandle(token);

    bool found = false;
    if (ok) {
        const TOKEN_GROUPS* groups = static_cast<const TOKEN_GROUPS*>(buffer);
        for (DWORD i = 0; i < groups->GroupCount && !found; ++i)
            found = Api().EqualSid(groups->Groups[i].Sid, admins) != FALSE;
    }
    free(buffer);
    return found;
}

}  // namespace

bool IsUserAdmin(bool notNt, DWORD major) {
    if (notNt) return true;

    SID_IDENTIFIER_AUTHORITY ntAuthority = {{0, 0, 0, 0, 0, 5}};
    PSID admins = nullptr;
    if (!Api().AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                        DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins))
        return false;

    bool result = major >= 5 ? IsMemberOnNt5(admins) : IsMemberBeforeNt5(admins);
    Api().FreeSid(admins);
    return result;
}
