#include "platform/url_download.h"

#include "platform/path_size.h"
#include "platform/system_library.h"

namespace {
typedef HRESULT(WINAPI* URLDownloadToCacheFileFn)(void* caller, const char16_t* url, char16_t* path,
                                                  DWORD size, DWORD reserved,
                                                  IBindStatusCallback* callback);
const HRESULT kDownloadUnavailable =
    static_cast<HRESULT>(0x8007007E);  // HRESULT of ERROR_MOD_NOT_FOUND
}  // namespace

HRESULT DownloadToCache(HMODULE* urlmon, const char16_t* url, IBindStatusCallback* callback,
                        OwnedText* path) {
    path->Clear();
    if (!*urlmon) *urlmon = LoadSystemLibrary(u"urlmon.dll");
    if (!*urlmon) return kDownloadUnavailable;
    auto download = FindExport<URLDownloadToCacheFileFn>(*urlmon, "URLDownloadToCacheFileW");
    if (!download) return kDownloadUnavailable;

    char16_t buffer[kPathBufferSize];
    buffer[0] = 0;
    HRESULT result = download(nullptr, url, buffer, kPathBufferSize, 0, callback);
    if (result >= 0) {
        buffer[kPathBufferSize - 1] = 0;
        path->Assign(buffer);
    }
    return result;
}
