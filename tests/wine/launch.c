/*
 * launch.exe - starts programs inside a Wine prefix and reports how they ended.
 *
 *   launch run [--stop STOPFILE] [--seen SEENFILE] [--kill-on-window] CMDFILE TIMEOUT_MS
 *       Runs one command line; reports its full 32-bit exit status (wine itself keeps only
 *       8 bits) and whether the started process showed any window. One line:
 *         exit=0x%08X window=yes|no ended=self|timeout|stopped|window created=N hook=yes|no
 *         ms=N first_window="CLASS|CAPTION|HOW"
 *       (created: top-level windows the child created, visible or not.)
 *       Watching for windows: the child starts suspended and a WinEvent hook for its process
 *       (EVENT_OBJECT_CREATE to EVENT_OBJECT_SHOW; Wine 8 sends create and destroy events but
 *       no show events) is installed before it runs. Every top-level window it creates is
 *       remembered and checked for visibility every 5 ms, together with a scan of all
 *       top-level windows of the process, and once more when its destroy event arrives.
 *       Wine delivers these events synchronously, so a window destroyed while visible is
 *       always seen; one hidden again before it is destroyed and visible for less than a few
 *       milliseconds can still go unseen. SEENFILE is created as soon as a visible window of
 *       the child has been seen, so that a test can keep a dialog up until then; with
 *       --kill-on-window the child is then terminated.
 *   launch children [--stop STOPFILE] CMDFILE TIMEOUT_MS
 *       Runs one command line inside a job object and reports every process that it starts
 *       (its children inherit the job), with command line and exit status. A child is opened
 *       as soon as the job's completion port reports it, so that its exit status can still
 *       be read after it has ended, and its command line is read from its process parameters
 *       (retried while it starts up). A 32-bit launcher cannot read the parameters of a
 *       64-bit process (cmdline=?), but gets its image path. One line per child, then one:
 *         child pid=N exit=0x%08X|running|? image="..."|? cmdline="..."|?
 *         exit=0x%08X ended=self|timeout|stopped children=N ms=N
 *   For both: the desktop window is made before the child starts. CMDFILE holds the exact
 *   command line (UTF-8, no trailing newline), so that quotes and blanks reach the child
 *   exactly as written. When TIMEOUT_MS passes or STOPFILE appears, the child (children:
 *   the whole job) is terminated with exit status 0xDEAD.
 *   Exit status: 0 the child ended by itself, 1 it was terminated, 2 bad arguments or it
 *   could not be started (a line "launch: ..." says why).
 *
 *   launch mutex NAME READYFILE STOPFILE TIMEOUT_MS
 *       Creates the mutex NAME (owned), then writes READYFILE ("created" or "existed"), and
 *       holds the mutex until STOPFILE appears or TIMEOUT_MS passes. Exit status: 0 stopped
 *       by STOPFILE, 1 timed out, 2 bad arguments or the mutex could not be created.
 */
#include "helper_common.h"

#include <winternl.h>
#include <psapi.h>

static int fail(const char *what)
{
    out_fmt("launch: %s failed, error %lu\n", what, (unsigned long)GetLastError());
    return out_done(2);
}

/* What a run watches, and why it was ended early (NULL: it ended by itself). */
static struct watch {
    PROCESS_INFORMATION pi;
    const WCHAR *stopfile, *seenfile;
    int kill_on_window;
    HANDLE job, port;
    const char *ended;
} watch;

static int stop_asked(void)
{
    if (watch.stopfile && file_exists((void *)watch.stopfile)) watch.ended = "stopped";
    return watch.ended != NULL;
}

/* ---------- run: the windows of the child ---------- */

#define MAX_TRACKED 256

static int window_seen, n_tracked, n_created;
static WCHAR first_window[600];
static HWND tracked[MAX_TRACKED];

static void note_window(HWND h, const WCHAR *how)
{
    if (window_seen++) return;
    WCHAR cls[256] = L"", cap[256] = L"";
    if (h && IsWindow(h)) {
        GetClassNameW(h, cls, 256);
        GetWindowTextW(h, cap, 256);
    }
    _snwprintf(first_window, 599, L"%ls|%ls|%ls", cls, cap, how);
    if (watch.seenfile) write_file(watch.seenfile, "");
}

static void check_tracked(void)
{
    for (int i = 0; i < n_tracked && !window_seen; i++)
        if (IsWindow(tracked[i]) && IsWindowVisible(tracked[i])) note_window(tracked[i], L"created");
}

static void CALLBACK event_proc(HWINEVENTHOOK hook, DWORD event, HWND h, LONG obj, LONG child,
                                DWORD thread, DWORD time)
{
    if (obj != OBJID_WINDOW || child != CHILDID_SELF || !h || !IsWindow(h)) return;
    HWND parent = GetAncestor(h, GA_PARENT);
    if (window_pid(h) != watch.pi.dwProcessId || (parent && parent != GetDesktopWindow())) return;
    if (event == EVENT_OBJECT_CREATE && n_created++ < MAX_TRACKED) tracked[n_tracked++] = h;
    /* Wine delivers these events while the child waits, so a window that is still
       visible when it is destroyed is caught here however short its life was. */
    if (IsWindowVisible(h)) note_window(h, event == EVENT_OBJECT_DESTROY ? L"destroyed" : L"event");
    check_tracked();
}

static BOOL CALLBACK scan_proc(HWND h, LPARAM lp)
{
    if (window_pid(h) != watch.pi.dwProcessId || !IsWindowVisible(h)) return TRUE;
    note_window(h, L"scan");
    return FALSE;
}

static void pump(void) { MSG msg; while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageW(&msg); }

/* One 5 ms round; true once the child has ended or must be ended. */
static int run_round(void *p)
{
    DWORD r = MsgWaitForMultipleObjects(1, &watch.pi.hProcess, FALSE, 5, QS_ALLINPUT);
    pump();
    check_tracked();
    EnumWindows(scan_proc, 0);
    if (r == WAIT_OBJECT_0) return 1;
    if (watch.kill_on_window && window_seen) watch.ended = "window";
    return stop_asked();
}

/* ---------- children: the processes of the job ---------- */

#define MAX_CHILDREN 64

static struct child {
    DWORD pid, exit_code;
    HANDLE process;
    WCHAR *cmdline, image[MAX_PATH];
    int ended;
} children[MAX_CHILDREN];
static int n_children;

typedef NTSTATUS(NTAPI *query_fn)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);

/* N bytes at AT (not NULL) of another process, all of them. */
static int peek(HANDLE process, const void *at, void *to, SIZE_T n)
{
    SIZE_T got = 0;
    return at && ReadProcessMemory(process, at, to, n, &got) && got == n;
}

/* The command line from the process's parameters block; NULL while it is not there yet. */
static WCHAR *read_cmdline(HANDLE process)
{
    PROCESS_BASIC_INFORMATION pbi;
    PEB peb;
    RTL_USER_PROCESS_PARAMETERS params;
    ULONG len = 0;
    query_fn query = (query_fn)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess");
    if (!query || query(process, ProcessBasicInformation, &pbi, sizeof pbi, &len) != 0
        || !peek(process, pbi.PebBaseAddress, &peb, sizeof peb)
        || !peek(process, peb.ProcessParameters, &params, sizeof params) || !params.CommandLine.Length)
        return NULL;
    USHORT n = params.CommandLine.Length / sizeof(WCHAR);
    WCHAR *text = calloc((size_t)n + 1, sizeof(WCHAR));
    if (!text || peek(process, params.CommandLine.Buffer, text, n * sizeof(WCHAR))) return text;
    free(text);
    return NULL;
}

static void poll_children(void)
{
    for (int i = 0; i < n_children; i++) {
        struct child *c = &children[i];
        DWORD size = MAX_PATH;
        if (!c->process || c->ended) continue;
        if (!c->cmdline) c->cmdline = read_cmdline(c->process);
        if (!c->image[0] && !QueryFullProcessImageNameW(c->process, 0, c->image, &size)
            && !GetProcessImageFileNameW(c->process, c->image, MAX_PATH))
            c->image[0] = 0;
        if (WaitForSingleObject(c->process, 0) == WAIT_OBJECT_0) {
            if (!c->cmdline) c->cmdline = read_cmdline(c->process);
            GetExitCodeProcess(c->process, &c->exit_code);
            c->ended = 1;
        }
    }
}

/* Takes every pending notification of new processes, waiting up to WAIT_MS for the first. */
static void drain(DWORD wait_ms)
{
    DWORD msg = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED ov = NULL;
    while (GetQueuedCompletionStatus(watch.port, &msg, &key, &ov, wait_ms)) {
        DWORD pid = (DWORD)(ULONG_PTR)ov;
        if (msg != JOB_OBJECT_MSG_NEW_PROCESS || pid == watch.pi.dwProcessId || n_children >= MAX_CHILDREN)
            continue;
        children[n_children].pid = pid;
        children[n_children++].process =
            OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, pid);
    }
}

static int children_round(void *p)
{
    drain(5);
    poll_children();
    if (WaitForSingleObject(watch.pi.hProcess, 0) == WAIT_OBJECT_0) {
        drain(0); /* notifications that raced with the end */
        poll_children();
        return 1;
    }
    return stop_asked();
}

static void report_children(void)
{
    if (watch.ended) poll_children();
    /* Children still running after the process ended are ended with the job. */
    int running = 0;
    for (int k = 0; k < n_children; k++) running |= children[k].process && !children[k].ended;
    if (running) TerminateJobObject(watch.job, 0xDEAD);
    for (int k = 0; k < n_children; k++) {
        struct child *c = &children[k];
        out_fmt("child pid=%lu exit=", (unsigned long)c->pid);
        if (!c->process) out_fmt("?");
        else if (!c->ended) out_fmt("running");
        else out_fmt("0x%08lX", (unsigned long)c->exit_code);
        if (c->image[0]) out_fmt(" image=\"%s\"", to_utf8(c->image));
        else out_fmt(" image=?");
        if (c->cmdline) out_fmt(" cmdline=\"%s\"\n", to_utf8(c->cmdline));
        else out_fmt(" cmdline=?\n");
        out_flush();
    }
}

/* ---------- both: start, watch, end, report ---------- */

/* Runs CMDFILE's command line, started suspended: run watches its windows, children (JOB)
   the processes of its job. */
static int launch(const WCHAR *cmdfile, DWORD timeout, int job)
{
    STARTUPINFOW si = { sizeof si };
    HWINEVENTHOOK hook = NULL;
    if (job) {
        watch.job = CreateJobObjectW(NULL, NULL);
        watch.port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, NULL, 0, 1);
        JOBOBJECT_ASSOCIATE_COMPLETION_PORT assoc = { watch.job, watch.port };
        if (!watch.job || !watch.port
            || !SetInformationJobObject(watch.job, JobObjectAssociateCompletionPortInformation, &assoc,
                                        sizeof assoc))
            return fail("job set-up");
    }
    DWORD size = 0;
    char *bytes = read_file(cmdfile, MAXDWORD, &size);
    WCHAR *cmd = bytes ? from_utf8(bytes, (int)size) : NULL;
    if (!cmd) { out_fmt("launch: cannot read the command file\n"); return out_done(2); }
    /* In a prefix whose wineserver has just started, the first window of any process starts
       Wine's virtual desktop; a dialog the child creates while another process is starting it
       can fail with error 1400. The desktop is made here, before the child runs. */
    if (!IsWindow(GetDesktopWindow())) return fail("GetDesktopWindow");
    if (!CreateProcessW(NULL, cmd, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL, &si, &watch.pi))
        return fail("CreateProcess");
    if (job && !AssignProcessToJobObject(watch.job, watch.pi.hProcess)) {
        fail("AssignProcessToJobObject");
        TerminateProcess(watch.pi.hProcess, 0xDEAD);
        return 2;
    }
    if (!job)
        hook = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_SHOW, NULL, event_proc, watch.pi.dwProcessId,
                               0, WINEVENT_OUTOFCONTEXT);
    ResumeThread(watch.pi.hThread);
    DWORD start = GetTickCount(), code = 0;
    if (!wait_for(job ? children_round : run_round, NULL, timeout, 0)) watch.ended = "timeout";
    if (watch.ended) {
        if (job) TerminateJobObject(watch.job, 0xDEAD);
        else TerminateProcess(watch.pi.hProcess, 0xDEAD);
        WaitForSingleObject(watch.pi.hProcess, 5000);
    }
    if (job) report_children();
    else pump(); /* creation events that arrived at the very end */
    if (hook) UnhookWinEvent(hook);
    GetExitCodeProcess(watch.pi.hProcess, &code);
    const char *ended = watch.ended ? watch.ended : "self";
    if (job)
        out_fmt("exit=0x%08lX ended=%s children=%d ms=%lu\n", (unsigned long)code, ended, n_children,
                (unsigned long)(GetTickCount() - start));
    else
        out_fmt("exit=0x%08lX window=%s ended=%s created=%d hook=%s ms=%lu first_window=\"%s\"\n",
                (unsigned long)code, window_seen ? "yes" : "no", ended, n_created, hook ? "yes" : "no",
                (unsigned long)(GetTickCount() - start), to_utf8(first_window));
    return out_done(watch.ended != NULL);
}

/* ---------- mutex ---------- */

static int hold_mutex(const WCHAR *name, const WCHAR *readyfile, WCHAR *stopfile, DWORD timeout)
{
    HANDLE m = CreateMutexW(NULL, TRUE, name);
    DWORD err = GetLastError();
    if (!m) return 2;
    /* Written under another name first and renamed, so the ready file is complete when seen. */
    WCHAR tmp[MAX_PATH + 8];
    _snwprintf(tmp, MAX_PATH + 7, L"%ls.tmp", readyfile);
    tmp[MAX_PATH + 7] = 0;
    if (!write_file(tmp, err == ERROR_ALREADY_EXISTS ? "existed" : "created")
        || !MoveFileExW(tmp, readyfile, MOVEFILE_REPLACE_EXISTING))
        return 2;
    if (!wait_for(file_exists, stopfile, timeout, 20)) return 1;
    ReleaseMutex(m);
    CloseHandle(m);
    return 0;
}

int wmain(int argc, WCHAR **argv)
{
    const WCHAR *verb = argc > 1 ? argv[1] : L"";
    int is_run = !lstrcmpW(verb, L"run"), i = 2;
    if (!lstrcmpW(verb, L"mutex") && argc >= 6)
        return hold_mutex(argv[2], argv[3], argv[4], (DWORD)_wtoi(argv[5]));
    for (; i < argc; i++) {
        if (!lstrcmpW(argv[i], L"--stop") && i + 1 < argc) watch.stopfile = argv[++i];
        else if (is_run && !lstrcmpW(argv[i], L"--seen") && i + 1 < argc) watch.seenfile = argv[++i];
        else if (is_run && !lstrcmpW(argv[i], L"--kill-on-window")) watch.kill_on_window = 1;
        else break;
    }
    if (argc - i == 2 && (is_run || !lstrcmpW(verb, L"children")))
        return launch(argv[i], (DWORD)_wtoi(argv[i + 1]), !is_run);
    fputs("usage: launch run [--stop STOPFILE] [--seen SEENFILE] [--kill-on-window] CMDFILE TIMEOUT_MS\n"
          "     | launch children [--stop STOPFILE] CMDFILE TIMEOUT_MS\n"
          "     | launch mutex NAME READYFILE STOPFILE TIMEOUT_MS\n", stderr);
    return 2;
}
