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

    // The setup is a 32-bit x86 program: under WOW64 the system is x64, otherwise x86. A
    // system without IsWow64Process (NT 4, 2000, XP before SP2) has no WOW64 and runs the
    // setup natively.
    auto isWow64Process = FindExport<IsWow64ProcessFn>(kernel, "IsWow64Process");
    BOOL wow64 = FALSE;
    if (isWow64Process && !isWow64Process(Api().GetCurrentProcess(), &wow64)) return 0;
    g_nativeMachine = wow64 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
    return g_nativeMachine;
}

void ForgetNativeMachine() { g_nativeMachine = 0; }
