/*
 * runexit.exe - runs one command line and reports its full 32-bit exit status and
 * whether the started process showed any window.
 *
 *   runexit [--stop STOPFILE] [--seen SEENFILE] [--kill-on-window] CMDFILE TIMEOUT_MS
 *
 * CMDFILE holds the exact command line (UTF-8, no trailing newline), so that quotes and
 * blanks reach the child exactly as written.
 *
 * Watching for windows: the child starts suspended and a WinEvent hook for its process
 * (EVENT_OBJECT_CREATE to EVENT_OBJECT_SHOW; Wine 8 sends create and destroy events but
 * no show events) is installed before it runs. Every top-level window it creates is
 * remembered and checked for visibility every 5 ms, together with a scan of all
 * top-level windows of the process, and once more when its destroy event arrives.
 * Wine delivers these events synchronously, so a window destroyed while visible is
 * always seen; one hidden again before it is destroyed and visible for less than a few
 * milliseconds can still go unseen.
 *
 * When TIMEOUT_MS passes, or STOPFILE appears, or (with --kill-on-window) a visible
 * window of the child has been seen, the child is terminated (exit status 0xDEAD).
 * SEENFILE is created as soon as a visible window of the child has been seen, so that a
 * test can keep a dialog up until then.
 *
 * Prints one line:
 *   exit=0x%08X window=yes|no ended=self|timeout|stopped|window created=N hook=yes|no
 *   ms=N first_window="CLASS|CAPTION|HOW"
 * (created: top-level windows the child created, visible or not.)
 * Exit status: 0 the child ended by itself, 1 it was terminated, 2 bad arguments or
 * the child could not be started.
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "helper_text.h"

#define MAX_TRACKED 256

static DWORD child_pid;
static int window_seen;
static const WCHAR *seenfile;
static WCHAR first_window[600];
static HWND tracked[MAX_TRACKED];
static int n_tracked, n_created;

static void note_window(HWND h, const WCHAR *how)
{
    if (window_seen++) return;
    WCHAR cls[256] = L"", cap[256] = L"";
    if (h && IsWindow(h)) {
        GetClassNameW(h, cls, 256);
        GetWindowTextW(h, cap, 256);
    }
    _snwprintf(first_window, 599, L"%ls|%ls|%ls", cls, cap, how);
    if (seenfile) {
        HANDLE f = CreateFileW(seenfile, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    }
}

static int is_top_level(HWND h)
{
    HWND parent = GetAncestor(h, GA_PARENT);
    return !parent || parent == GetDesktopWindow();
}

static void check_tracked(void)
{
    for (int i = 0; i < n_tracked; i++)
        if (tracked[i] && IsWindow(tracked[i]) && IsWindowVisible(tracked[i])) {
            note_window(tracked[i], L"created");
            break;
        }
}

static void CALLBACK event_proc(HWINEVENTHOOK hook, DWORD event, HWND h, LONG obj, LONG child,
                                DWORD thread, DWORD time)
{
    (void)hook; (void)thread; (void)time;
    if (obj != OBJID_WINDOW || child != CHILDID_SELF || !h || !IsWindow(h)) return;
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid != child_pid || !is_top_level(h)) return;
    if (event == EVENT_OBJECT_CREATE) {
        n_created++;
        if (n_tracked < MAX_TRACKED) tracked[n_tracked++] = h;
    }
    /* Wine delivers these events while the child waits, so a window that is still
     * visible when it is destroyed is caught here however short its life was. */
    if (IsWindowVisible(h)) note_window(h, event == EVENT_OBJECT_DESTROY ? L"destroyed" : L"event");
    check_tracked();
}

static BOOL CALLBACK enum_proc(HWND h, LPARAM lp)
{
    (void)lp;
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == child_pid && IsWindowVisible(h)) { note_window(h, L"scan"); return FALSE; }
    return TRUE;
}

static void pump(void)
{
    MSG msg;
    while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

int wmain(int argc, WCHAR **argv)
{
    const WCHAR *stopfile = NULL;
    int kill_on_window = 0, i = 1;
    for (; i < argc; i++) {
        if (!lstrcmpW(argv[i], L"--stop") && i + 1 < argc) stopfile = argv[++i];
        else if (!lstrcmpW(argv[i], L"--seen") && i + 1 < argc) seenfile = argv[++i];
        else if (!lstrcmpW(argv[i], L"--kill-on-window")) kill_on_window = 1;
        else break;
    }
    if (argc - i != 2) {
        fputs("usage: runexit [--stop STOPFILE] [--seen SEENFILE] [--kill-on-window] CMDFILE TIMEOUT_MS\n",
              stderr);
        return 2;
    }
    WCHAR *cmd = read_utf8_file(argv[i]);
    DWORD timeout = (DWORD)_wtoi(argv[i + 1]);
    if (!cmd) {
        fputs("runexit: cannot read the command file\n", stderr);
        return 2;
    }

    STARTUPINFOW si;
    PROCESS_INFORMATION pi;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    if (!CreateProcessW(NULL, cmd, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL, &si, &pi)) {
        char line[128];
        _snprintf(line, sizeof line, "runexit: CreateProcess failed, error %lu\n", GetLastError());
        out_line(line);
        return 2;
    }
    child_pid = pi.dwProcessId;
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_SHOW, NULL, event_proc,
                                         child_pid, 0, WINEVENT_OUTOFCONTEXT);
    ResumeThread(pi.hThread);

    DWORD start = GetTickCount();
    const char *ended = "self";
    for (;;) {
        DWORD r = MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 5, QS_ALLINPUT);
        pump();
        check_tracked();
        EnumWindows(enum_proc, 0);
        if (r == WAIT_OBJECT_0) break;
        int stop = stopfile && GetFileAttributesW(stopfile) != INVALID_FILE_ATTRIBUTES;
        int over = GetTickCount() - start >= timeout;
        if (stop || (kill_on_window && window_seen) || over) {
            ended = stop ? "stopped" : over ? "timeout" : "window";
            TerminateProcess(pi.hProcess, 0xDEAD);
            WaitForSingleObject(pi.hProcess, 5000);
            break;
        }
    }
    pump(); /* creation events that arrived at the very end */
    if (hook) UnhookWinEvent(hook);

    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    char *fw = to_utf8(first_window);
    char *line = malloc(strlen(fw) + 200);
    sprintf(line, "exit=0x%08lX window=%s ended=%s created=%d hook=%s ms=%lu first_window=\"%s\"\n",
            (unsigned long)code, window_seen ? "yes" : "no", ended, n_created, hook ? "yes" : "no",
            (unsigned long)(GetTickCount() - start), fw);
    out_line(line);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return strcmp(ended, "self") ? 1 : 0;
}
