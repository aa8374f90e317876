#include "probes/probes.h"

#include <string.h>

bool ProbePlatform(DWORD* major) {
    OSVERSIONINFOW info;
    memset(&info, 0, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    // A failure leaves the record zeroed: version 0, platform not NT.
    Api().GetVersionExW(&info);
    if (major) *major = info.dwMajorVersion;
    return info.dwPlatformId != VER_PLATFORM_WIN32_NT;
}
