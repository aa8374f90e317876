// Downloads into the system's download cache with URLDownloadToCacheFileW, taken from the
// system directory's urlmon.dll.
#pragma once

#include "platform/owned_text.h"
#include "seam/win32_api.h"

// Fetches `url` with `callback` as the status callback. On success (a non-negative result)
// `path` holds the cache file's full path; otherwise it is empty. A missing urlmon gives
// a negative result as well.
HRESULT DownloadToCache(const char16_t* url, IBindStatusCallback* callback, OwnedText* path);
