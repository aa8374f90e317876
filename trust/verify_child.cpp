#include "trust/verify_child.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "vocabulary/result_codes.h"

DWORD ComposeChildCommandLine(const char16_t* const* pieces, int count, DWORD length,
                              char16_t** commandLine) {
    *commandLine = nullptr;
    // A byte count that would not fit 32 bits counts as a failed allocation.
    if (static_cast<uint64_t>(length) * sizeof(char16_t) > 0xFFFFFFFFull) return kResultOutOfMemory;
    char16_t* buffer = static_cast<char16_t*>(calloc(length ? length : 1, sizeof(char16_t)));
    if (!buffer) return kResultOutOfMemory;
    if (length == 0 || length > 0x7FFFFFFF) {
        free(buffer);
        return kResultInstallFailure;
    }
    // Bounded appends that fail rather than truncate.
    DWORD used = 0;
    for (int i = 0; i < count; ++i) {
        size_t n = 0;
        while (pieces[i][n]) ++n;
        if (used + n + 1 > length) {
            free(buffer);
            return kResultInstallFailure;
        }
        memcpy(buffer + used, pieces[i], n * sizeof(char16_t));
        used += static_cast<DWORD>(n);
    }
    buffer[used] = 0;
    *commandLine = buffer;
    return 0;
}

DWORD WaitPumpingMessages(HANDLE handle) {
    for (;;) {
        DWORD wait = Api().MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0) return 0;
        if (wait != WAIT_OBJECT_0 + 1) return Api().GetLastError();
        // A wake announces only input that arrived since the last look at the queue: what a
        // look leaves behind wakes nothing, so serve all of it before waiting again.
        MSG msg;
        while (Api().PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            Api().TranslateMessage(&msg);
            Api().DispatchMessageW(&msg);
        }
    }
}

DWORD RunChildProcess(char16_t* commandLine, DWORD* exitCode) {
    *exitCode = 0;
    STARTUPINFOW startup;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(STARTUPINFOW);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof(process));
    if (!Api().CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE,
                              CREATE_DEFAULT_ERROR_MODE, nullptr, nullptr, &startup, &process)) {
        DWORD error = Api().GetLastError();
        return error ? error : kResultInstallFailure;
    }
    DWORD result = WaitPumpingMessages(process.hProcess);
    if (result == 0 && !Api().GetExitCodeProcess(process.hProcess, exitCode)) {
        // An exit status that cannot be read is no verdict and no success.
        result = Api().GetLastError();
        if (result == 0) result = kResultInstallFailure;
    }
    Api().CloseHandle(process.hProcess);
    Api().CloseHandle(process.hThread);
    return result;
}

DWORD VerifyInChildProcess(const char16_t* setupPath, const char16_t* file) {
    DWORD length = static_cast<DWORD>(Api().lstrlenW(setupPath)) +
                   static_cast<DWORD>(Api().lstrlenW(file)) + 9;
    const char16_t* const pieces[] = {u"\"", setupPath, u"\" /v \"", file, u"\""};
    return RunChildOfPieces(pieces, 5, length);
}

DWORD RunChildOfPieces(const char16_t* const* pieces, int count, DWORD length) {
    char16_t* commandLine = nullptr;
    DWORD result = ComposeChildCommandLine(pieces, count, length, &commandLine);
    if (result != 0) return result;
    DWORD exitCode = 0;
    result = RunChildProcess(commandLine, &exitCode);
    free(commandLine);
    return result != 0 ? result : exitCode;
}

TrustVerdict VerifyInChildCopy(const char16_t* setupPath, const char16_t* file, HWND) {
    DWORD status = VerifyInChildProcess(setupPath, file);
    if (status == kVerifyNotAvailable) return kTrustNotAvailable;
    return status == kVerifyTrusted ? kTrusted : kNotTrusted;
}
