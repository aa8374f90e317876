#include "probes/probes.h"

#include "platform/system_library.h"

namespace {

typedef BOOL(WINAPI* IsWow64Process2Fn)(HANDLE, WORD*, WORD*);
typedef BOOL(WINAPI* IsWow64ProcessFn)(HANDLE, BOOL*);

// Written only on the worker thread, and only when a probe succeeded.
WORD g_nativeMachine = 0;

}  // namespace

WORD GetNativeMachine() {
    if (g_nativeMachine != 0) return g_nativeMachine;

    HMODULE kernel = Api().GetModuleHandleA("kernel32.dll");
    if (!kernel) return 0;

    if (auto isWow64Process2 = FindExport<IsWow64Process2Fn>(kernel, "IsWow64Process2")) {
        WORD processMachine = 0, nativeMachine = 0;
        if (!isWow64Process2(Api().GetCurrentProcess(), &processMachine, &nativeMachine)) return 0;
        g_nativeMachine = nativeMachine;
        return g_nativeMachine;
    }

    // Without IsWow64Process2 (Windows 7, 8, 8.1, early 10) the build's own bitness decides.
    // The host build is a 32-bit x86 setup here: its tests cover the rule a vendor ships.
#ifdef _WIN64
    constexpr bool kProcess64 = true;
#else
    constexpr bool kProcess64 = false;
#endif
    BOOL wow64 = FALSE;
    if (!kProcess64) {
        // A system without IsWow64Process (NT 4, 2000, XP before SP2) has no WOW64.
        auto isWow64Process = FindExport<IsWow64ProcessFn>(kernel, "IsWow64Process");
        if (isWow64Process && !isWow64Process(Api().GetCurrentProcess(), &wow64)) return 0;
    }
    g_nativeMachine = LegacyNativeMachine(kProcess64, wow64);
    return g_nativeMachine;
}

WORD LegacyNativeMachine(bool process64, BOOL wow64) {
    // A 64-bit process never runs under WOW64: it runs on its own machine. A 32-bit one is on
    // x64 under WOW64 and on x86 otherwise.
    if (process64) return IMAGE_FILE_MACHINE_AMD64;
    return wow64 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
}

void ForgetNativeMachine() { g_nativeMachine = 0; }
