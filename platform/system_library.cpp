#include "platform/system_library.h"

#include "platform/owned_text.h"

namespace {

// The full path of `name` in the system directory; empty when it cannot be composed.
OwnedText SystemPath(const char16_t* name) {
    OwnedText path;
    char16_t directory[MAX_PATH + 1];
    UINT length = Api().GetSystemDirectoryW(directory, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return path;
    bool ok = path.Assign(directory, length) &&
              (directory[length - 1] == u'\\' || path.Append(u"\\", 1)) && path.Append(name);
    if (!ok) {
        path.Clear();
        Api().SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return path;
}

}  // namespace

HMODULE LoadSystemLibrary(const char16_t* name) {
    OwnedText path = SystemPath(name);
    if (path.empty()) return nullptr;
    return Api().LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE LoadSystemLibraryAsData(const char16_t* name) {
    OwnedText path = SystemPath(name);
    if (path.empty()) return nullptr;
    return Api().LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
}
