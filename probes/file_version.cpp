#include "probes/probes.h"

#include "vocabulary/result_codes.h"

DWORD GetFileVersionMS(const char16_t* path, DWORD* version) {
    DWORD value = 0xFFFFFFFFu;
    DWORD result = 0;

    DWORD handle = 0;
    DWORD size = Api().GetFileVersionInfoSizeW(path, &handle);
    if (size == 0) {
        result = Api().GetLastError();
    } else {
        HGLOBAL block = Api().GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, size);
        if (!block) {
            result = kResultNotEnoughMemory;
        } else {
            if (!Api().GetFileVersionInfoW(path, 0, size, block)) {
                result = Api().GetLastError();
            } else {
                void* fixed = nullptr;
                UINT length = 0;
                if (Api().VerQueryValueW(block, u"\\", &fixed, &length) && length != 0 && fixed)
                    value = static_cast<const VS_FIXEDFILEINFO*>(fixed)->dwFileVersionMS;
            }
            Api().GlobalFree(block);
        }
    }
    if (version) *version = value;
    return result;
}
