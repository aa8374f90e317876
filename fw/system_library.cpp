#include "fw/system_library.h"

#include "fw/owned_text.h"

HMODULE LoadSystemLibrary(const char16_t* name) {
    char16_t directory[MAX_PATH + 1];
    UINT length = Api().GetSystemDirectoryW(directory, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return nullptr;

    OwnedText path;
    if (!path.Assign(directory, length)) {
        Api().SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (directory[length - 1] != u'\\' && !path.Append(u"\\", 1)) {
        Api().SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!path.Append(name)) {
        Api().SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return Api().LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
