// Downloads into the system's download cache with URLDownloadToCacheFileW, taken from the
// system directory's urlmon.dll.
#pragma once

#include "platform/owned_text.h"
#include "seam/win32_api.h"

// Fetches `url` with `callback` as the status callback. On success (a non-negative result)
// `path` holds the cache file's full path; otherwise it is empty. A missing urlmon gives
// a negative result as well.
//
// URL monikers keep per-thread state on the calling thread, which goes on pumping messages
// and showing message boxes afterwards, so urlmon is not freed after a download: it is loaded
// into `*urlmon` on the first download and stays loaded until its owner frees it, after the
// downloading thread has ended.
HRESULT DownloadToCache(HMODULE* urlmon, const char16_t* url, IBindStatusCallback* callback,
                        OwnedText* path);
