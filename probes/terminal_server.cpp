#include "probes/probes.h"

#include <stdlib.h>
#include <string.h>

namespace {

const char16_t kTerminalServer[] = u"Terminal Server";

bool SuiteMaskSaysTerminalServer() {
    OSVERSIONINFOEXW info;
    memset(&info, 0, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
    if (!Api().GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return false;
    return (info.wSuiteMask & VER_SUITE_TERMINAL) && !(info.wSuiteMask & VER_SUITE_SINGLEUSERTS);
}

// Walks a REG_MULTI_SZ value of `bytes` bytes up to its first empty string, never reading
// past the value's data even when the strings are not properly closed.
bool MultiStringHasTerminalServer(const char16_t* data, size_t bytes) {
    const size_t count = bytes / sizeof(char16_t);
    const size_t wanted = sizeof(kTerminalServer) / sizeof(char16_t) - 1;
    size_t i = 0;
    while (i < count && data[i] != 0) {
        size_t start = i;
        while (i < count && data[i] != 0) ++i;
        if (i == count) return false;  // last string not terminated inside the value
        if (i - start == wanted && Api().lstrcmpW(data + start, kTerminalServer) == 0) return true;
        ++i;
    }
    return false;
}

bool ProductSuiteSaysTerminalServer() {
    HKEY key = nullptr;
    if (Api().RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                            u"System\\CurrentControlSet\\Control\\ProductOptions", 0, KEY_READ,
                            &key) != ERROR_SUCCESS)
        return false;

    bool result = false;
    DWORD type = 0, size = 0;
    if (Api().RegQueryValueExW(key, u"ProductSuite", nullptr, &type, nullptr, &size) ==
            ERROR_SUCCESS &&
        size != 0 && type == REG_MULTI_SZ) {
        // One extra zeroed character, so that an odd size still ends on a whole character.
        char16_t* data =
            static_cast<char16_t*>(calloc(size / sizeof(char16_t) + 1, sizeof(char16_t)));
        if (data) {
            DWORD read = size;
            if (Api().RegQueryValueExW(key, u"ProductSuite", nullptr, &type,
                                       reinterpret_cast<BYTE*>(data), &read) == ERROR_SUCCESS &&
                type == REG_MULTI_SZ)
                result = MultiStringHasTerminalServer(data, read <= size ? read : size);
            free(data);
        }
    }
    Api().RegCloseKey(key);
    return result;
}

}  // namespace

bool IsTerminalServer(bool notNt, DWORD major) {
    if (notNt) return false;
    return major >= 5 ? SuiteMaskSaysTerminalServer() : ProductSuiteSaysTerminalServer();
}

bool ProductSuiteHasTerminalServer(const char16_t* data, size_t bytes) {
    return MultiStringHasTerminalServer(data, bytes);
}
