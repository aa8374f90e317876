/*
 * holdmutex.exe - holds a named mutex while another program runs.
 *
 *   holdmutex NAME READYFILE STOPFILE TIMEOUT_MS
 *
 * Creates the mutex NAME (owned), then writes READYFILE ("created" or "existed"), and
 * keeps the mutex until STOPFILE appears or TIMEOUT_MS passes.
 * Exit status: 0 stopped by STOPFILE, 1 timed out, 2 bad arguments or the mutex could
 * not be created.
 */
#include <windows.h>
#include <stdio.h>

int wmain(int argc, WCHAR **argv)
{
    if (argc < 5) {
        fputs("usage: holdmutex NAME READYFILE STOPFILE TIMEOUT_MS\n", stderr);
        return 2;
    }
    HANDLE m = CreateMutexW(NULL, TRUE, argv[1]);
    DWORD err = GetLastError();
    if (!m) return 2;
    const char *state = err == ERROR_ALREADY_EXISTS ? "existed" : "created";

    /* Write under another name first and rename, so the ready file is complete when seen. */
    WCHAR tmp[MAX_PATH + 8];
    _snwprintf(tmp, MAX_PATH + 7, L"%ls.tmp", argv[2]);
    tmp[MAX_PATH + 7] = 0;
    HANDLE f = CreateFileW(tmp, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f == INVALID_HANDLE_VALUE) return 2;
    DWORD done;
    WriteFile(f, state, (DWORD)strlen(state), &done, NULL);
    CloseHandle(f);
    if (!MoveFileExW(tmp, argv[2], MOVEFILE_REPLACE_EXISTING)) return 2;

    DWORD timeout = (DWORD)_wtoi(argv[4]), start = GetTickCount();
    while (GetFileAttributesW(argv[3]) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start >= timeout) return 1;
        Sleep(20);
    }
    ReleaseMutex(m);
    CloseHandle(m);
    return 0;
}
