/*
 * childwatch.exe - runs one command line inside a job object and reports every process
 * that it starts, with its command line and exit status, and its own full exit status.
 *
 *   childwatch [--stop STOPFILE] CMDFILE TIMEOUT_MS
 *
 * CMDFILE holds the exact command line (UTF-8, no trailing newline). The process starts
 * suspended and is put into a job whose completion port reports each new process of the
 * job; its children inherit the job. A child is opened as soon as its creation is
 * reported, so that its exit status can still be read after it has ended, and its command
 * line is read from its process parameters (bounded retries while it starts up).
 *
 * When TIMEOUT_MS passes or STOPFILE appears, the whole job is terminated (0xDEAD).
 *
 * Prints, one line each (UTF-8):
 *   child pid=N exit=0x%08X image="..." cmdline="..."
 * (image=? or cmdline=? when it could not be read; a 32-bit watcher cannot read the
 * parameters of a 64-bit process, but gets its image path.)
 *   exit=0x%08X ended=self|timeout|stopped children=N ms=N
 * Exit status: 0 the process ended by itself, 1 it was terminated, 2 bad arguments or
 * it could not be started.
 */
#include <windows.h>
#include <winternl.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "helper_text.h"

#define MAX_CHILDREN 64

struct child {
    DWORD pid;
    HANDLE process;
    WCHAR *cmdline;
    WCHAR image[MAX_PATH];
    DWORD exit_code;
    int ended;
};

static struct child children[MAX_CHILDREN];
static int n_children;

typedef NTSTATUS(NTAPI *query_fn)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
static query_fn query_process;

/* The command line from the process's parameters block; NULL while it is not there yet. */
static WCHAR *read_cmdline(HANDLE process)
{
    PROCESS_BASIC_INFORMATION pbi;
    ULONG len = 0;
    if (!query_process || query_process(process, ProcessBasicInformation, &pbi, sizeof pbi, &len) != 0
        || !pbi.PebBaseAddress)
        return NULL;
    PEB peb;
    SIZE_T got = 0;
    if (!ReadProcessMemory(process, pbi.PebBaseAddress, &peb, sizeof peb, &got) || got != sizeof peb
        || !peb.ProcessParameters)
        return NULL;
    RTL_USER_PROCESS_PARAMETERS params;
    if (!ReadProcessMemory(process, peb.ProcessParameters, &params, sizeof params, &got)
        || got != sizeof params || !params.CommandLine.Buffer || !params.CommandLine.Length)
        return NULL;
    USHORT n = params.CommandLine.Length / sizeof(WCHAR);
    WCHAR *text = calloc((size_t)n + 1, sizeof(WCHAR));
    if (!text) return NULL;
    if (!ReadProcessMemory(process, params.CommandLine.Buffer, text, n * sizeof(WCHAR), &got)
        || got != n * sizeof(WCHAR)) {
        free(text);
        return NULL;
    }
    return text;
}

static void note_new_process(DWORD pid)
{
    if (n_children >= MAX_CHILDREN) return;
    struct child *c = &children[n_children++];
    c->pid = pid;
    c->process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, pid);
}

static void read_image(struct child *c)
{
    DWORD size = MAX_PATH;
    if (c->image[0] || !c->process) return;
    if (!QueryFullProcessImageNameW(c->process, 0, c->image, &size)
        && !GetProcessImageFileNameW(c->process, c->image, MAX_PATH))
        c->image[0] = 0;
}

static void poll_children(void)
{
    for (int i = 0; i < n_children; i++) {
        struct child *c = &children[i];
        if (!c->process || c->ended) continue;
        if (!c->cmdline) c->cmdline = read_cmdline(c->process);
        read_image(c);
        if (WaitForSingleObject(c->process, 0) == WAIT_OBJECT_0) {
            if (!c->cmdline) c->cmdline = read_cmdline(c->process);
            GetExitCodeProcess(c->process, &c->exit_code);
            c->ended = 1;
        }
    }
}

int wmain(int argc, WCHAR **argv)
{
    const WCHAR *stopfile = NULL;
    int i = 1;
    if (argc > 2 && !lstrcmpW(argv[1], L"--stop")) { stopfile = argv[2]; i = 3; }
    if (argc - i != 2) {
        fputs("usage: childwatch [--stop STOPFILE] CMDFILE TIMEOUT_MS\n", stderr);
        return 2;
    }
    WCHAR *cmd = read_utf8_file(argv[i]);
    DWORD timeout = (DWORD)_wtoi(argv[i + 1]);
    if (!cmd) {
        out_line("childwatch: cannot read the command file\n");
        return 2;
    }
    query_process = (query_fn)GetProcAddress(GetModuleHandleW(L"ntdll.dll"),
                                             "NtQueryInformationProcess");

    HANDLE job = CreateJobObjectW(NULL, NULL);
    HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, NULL, 0, 1);
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT assoc = { job, port };
    if (!job || !port
        || !SetInformationJobObject(job, JobObjectAssociateCompletionPortInformation, &assoc, sizeof assoc)) {
        char line[128];
        _snprintf(line, sizeof line, "childwatch: job set-up failed, error %lu\n", GetLastError());
        out_line(line);
        return 2;
    }

    STARTUPINFOW si;
    PROCESS_INFORMATION pi;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    if (!CreateProcessW(NULL, cmd, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL, &si, &pi)) {
        char line[128];
        _snprintf(line, sizeof line, "childwatch: CreateProcess failed, error %lu\n", GetLastError());
        out_line(line);
        return 2;
    }
    if (!AssignProcessToJobObject(job, pi.hProcess)) {
        char line[128];
        _snprintf(line, sizeof line, "childwatch: AssignProcessToJobObject failed, error %lu\n",
                  GetLastError());
        out_line(line);
        TerminateProcess(pi.hProcess, 0xDEAD);
        return 2;
    }
    ResumeThread(pi.hThread);

    DWORD start = GetTickCount();
    const char *ended = "self";
    int root_done = 0;
    for (;;) {
        DWORD msg = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED ov = NULL;
        /* Drain every pending notification before looking at the processes. */
        while (GetQueuedCompletionStatus(port, &msg, &key, &ov, root_done ? 0 : 5)) {
            DWORD pid = (DWORD)(ULONG_PTR)ov;
            if (msg == JOB_OBJECT_MSG_NEW_PROCESS && pid != pi.dwProcessId) note_new_process(pid);
        }
        poll_children();
        if (root_done) break;
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) {
            /* One more round collects notifications that raced with the end. */
            root_done = 1;
            continue;
        }
        int stop = stopfile && GetFileAttributesW(stopfile) != INVALID_FILE_ATTRIBUTES;
        int over = GetTickCount() - start >= timeout;
        if (stop || over) {
            ended = stop ? "stopped" : "timeout";
            TerminateJobObject(job, 0xDEAD);
            WaitForSingleObject(pi.hProcess, 5000);
            poll_children();
            break;
        }
    }
    /* Children still running after the process ended are ended with the job. */
    for (int k = 0; k < n_children; k++) {
        if (children[k].process && !children[k].ended) {
            TerminateJobObject(job, 0xDEAD);
            break;
        }
    }

    for (int k = 0; k < n_children; k++) {
        struct child *c = &children[k];
        char *cl = c->cmdline ? to_utf8(c->cmdline) : NULL;
        char *im = c->image[0] ? to_utf8(c->image) : NULL;
        char *line = malloc((cl ? strlen(cl) : 0) + (im ? strlen(im) : 0) + 128);
        char status[32];
        if (!c->process) strcpy(status, "?");
        else if (!c->ended) strcpy(status, "running");
        else sprintf(status, "0x%08lX", (unsigned long)c->exit_code);
        sprintf(line, "child pid=%lu exit=%s image=%s%s%s cmdline=%s%s%s\n", (unsigned long)c->pid,
                status, im ? "\"" : "?", im ? im : "", im ? "\"" : "", cl ? "\"" : "?",
                cl ? cl : "", cl ? "\"" : "");
        out_line(line);
        free(line);
        free(cl);
        free(im);
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    char line[200];
    sprintf(line, "exit=0x%08lX ended=%s children=%d ms=%lu\n", (unsigned long)code, ended,
            n_children, (unsigned long)(GetTickCount() - start));
    out_line(line);
    return strcmp(ended, "self") ? 1 : 0;
}
