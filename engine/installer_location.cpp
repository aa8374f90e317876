#include <stdlib.h>

#include "engine/installer_location.h"

const char16_t kInstallerKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Installer";
const char16_t kInstallerLocationValue[] = u"InstallerLocation";

bool ReadInstallerLocation(HKEY key, OwnedText* location) {
    location->Clear();
    DWORD size = 0;
    if (Api().RegQueryValueExW(key, kInstallerLocationValue, nullptr, nullptr, nullptr, &size) !=
        ERROR_SUCCESS)
        return false;

    // As many characters as the value has bytes: twice the room it needs, so that a value
    // stored without its terminator still reads safely.
    char16_t* buffer =
        static_cast<char16_t*>(calloc(static_cast<size_t>(size) + 1, sizeof(char16_t)));
    if (!buffer) return false;
    DWORD type = 0;
    DWORD written = size * 2;
    bool ok = Api().RegQueryValueExW(key, kInstallerLocationValue, nullptr, &type,
                                     reinterpret_cast<BYTE*>(buffer), &written) == ERROR_SUCCESS &&
              (type == REG_SZ || type == REG_EXPAND_SZ);
    if (ok && written != 0) {
        size_t characters = written / sizeof(char16_t);
        ok = written % sizeof(char16_t) == 0 && characters <= size && buffer[characters - 1] == 0;
        if (ok) ok = location->Assign(buffer);
    } else if (ok) {
        ok = location->Assign(u"", 0);
    }
    free(buffer);
    if (!ok) location->Clear();
    return ok;
}

namespace {

// A drive letter followed by ":\", or two backslashes (a UNC or device path). Anything else
// would be searched from the current directory and the setup's own folder, where a planted
// folder such as "%SystemRoot%\System32" could hold an engine that is not the system's.
bool IsAbsolutePath(const char16_t* path) {
    char16_t drive = path[0];
    bool letter = (drive >= u'A' && drive <= u'Z') || (drive >= u'a' && drive <= u'z');
    if (letter && path[1] == u':' && path[2] == u'\\') return true;
    return path[0] == u'\\' && path[1] == u'\\';
}

}  // namespace

OwnedText RegisteredEnginePath() {
    OwnedText path;
    HKEY key = nullptr;
    if (Api().RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallerKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return path;
    OwnedText location;
    // A separator is always inserted, even after a directory that already ends in one.
    if (ReadInstallerLocation(key, &location) && !location.empty() &&
        IsAbsolutePath(location.c_str())) {
        if (!path.Assign(location.c_str(), location.size()) || !path.Append(u"\\msi.dll"))
            path.Clear();
    }
    Api().RegCloseKey(key);
    return path;
}
