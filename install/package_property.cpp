#include <string.h>

#include "install/install_package.h"
#include "state/installer_binding.h"

const char16_t kProductVersionQuery[] =
    u"SELECT `Value` FROM `Property` WHERE `Property`='ProductVersion'";
const char16_t kProductCodeQuery[] =
    u"SELECT `Value` FROM `Property` WHERE `Property`='ProductCode'";

bool ReadPackageProperty(const InstallerBinding& engine, const char16_t* packagePath,
                         const char16_t* query, char16_t* buffer, DWORD capacity, DWORD* length) {
    MSIHANDLE database = 0, view = 0, record = 0;
    memset(buffer, 0, capacity * sizeof(char16_t));
    *length = capacity;

    UINT result = engine.MsiOpenDatabaseW(packagePath, KAVRIN_MSIDBOPEN_READONLY, &database);
    if (result == 0) result = engine.MsiDatabaseOpenViewW(database, query, &view);
    if (result == 0) result = engine.MsiViewExecute(view, 0);
    if (result == 0) result = engine.MsiViewFetch(view, &record);
    if (result == 0) result = engine.MsiRecordGetStringW(record, 1, buffer, length);

    if (database) engine.MsiCloseHandle(database);
    if (view) engine.MsiCloseHandle(view);
    if (record) engine.MsiCloseHandle(record);

    // After a failure the engine may have left the buffer without a terminator (a value
    // that did not fit is copied in part): nothing of it is used.
    if (result != 0 || *length >= capacity) {
        buffer[0] = 0;
        *length = 0;
        return false;
    }
    buffer[*length] = 0;
    return true;
}
