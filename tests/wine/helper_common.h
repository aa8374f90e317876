/* What the Wine test programs share: text conversion, the one output buffer and JSON writer,
   the one bounded wait and the one dialog finder. The three helpers (dialogs.exe, launch.exe,
   products.exe) are built on it; the engine shim, the stand-in redistributable and the planted
   DLL use parts of it. */
#ifndef KAVRIN_TEST_HELPER_COMMON_H
#define KAVRIN_TEST_HELPER_COMMON_H

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Each program uses some of these; the rest must not warn. */
#define HELPER static __attribute__((unused))

/* ---------- text and files ---------- */

/* N bytes of UTF-8 (N < 0: up to the NUL) as a new UTF-16 string. */
HELPER WCHAR *from_utf8(const char *s, int n)
{
    int wn = MultiByteToWideChar(CP_UTF8, 0, s, n, NULL, 0);
    WCHAR *w = calloc((size_t)wn + 1, sizeof(WCHAR));
    if (!w) ExitProcess(4);
    MultiByteToWideChar(CP_UTF8, 0, s, n, w, wn);
    return w;
}

/* A new UTF-8 copy of a UTF-16 string. */
HELPER char *to_utf8(const WCHAR *w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, NULL, 0, NULL, NULL);
    char *s = calloc((size_t)n + 1, 1);
    if (!s) ExitProcess(4);
    WideCharToMultiByte(CP_UTF8, 0, w, -1, s, n, NULL, NULL);
    return s;
}

/* A text passed on the command line as the hex of its UTF-8 bytes, so that no shell or
   code page can change it on the way; NULL when the hex is malformed. */
HELPER WCHAR *from_hex_utf8(const WCHAR *hex)
{
    int n = lstrlenW(hex);
    if (n % 2) return NULL;
    char *bytes = malloc((size_t)n / 2 + 1);
    for (int i = 0; i < n / 2; i++) {
        WCHAR pair[3] = { hex[2 * i], hex[2 * i + 1], 0 }, *end;
        bytes[i] = (char)wcstol(pair, &end, 16);
        if (*end) { free(bytes); return NULL; }
    }
    WCHAR *w = from_utf8(bytes, n / 2);
    free(bytes);
    return w;
}

/* At most MAX bytes of a file, NUL-terminated, in a new buffer (*GOT: how many); NULL when
   it cannot be opened or read. */
HELPER char *read_file(const WCHAR *path, DWORD max, DWORD *got)
{
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE) return NULL;
    DWORD size = GetFileSize(f, NULL);
    if (size > max) size = max;
    char *bytes = calloc((size_t)size + 1, 1);
    BOOL ok = bytes && ReadFile(f, bytes, size, got, NULL);
    CloseHandle(f);
    if (ok) return bytes;
    free(bytes);
    return NULL;
}

/* Creates or replaces PATH holding TEXT (a marker file: ""); 0 when it cannot be created. */
HELPER int write_file(const WCHAR *path, const char *text)
{
    DWORD done;
    HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f == INVALID_HANDLE_VALUE) return 0;
    WriteFile(f, text, (DWORD)strlen(text), &done, NULL);
    CloseHandle(f);
    return 1;
}

/* ---------- output: everything is collected, then written out at once ---------- */

HELPER char *out_buf; /* NUL-terminated at out_len */
HELPER size_t out_len, out_cap;

HELPER __attribute__((format(ms_printf, 1, 2))) void out_fmt(const char *fmt, ...)
{
    for (;;) {
        size_t room = out_cap - out_len;
        va_list ap;
        va_start(ap, fmt);
        int n = room ? _vsnprintf(out_buf + out_len, room, fmt, ap) : -1;
        va_end(ap);
        if (n >= 0 && (size_t)n < room) { out_len += (size_t)n; return; }
        out_cap = out_cap ? out_cap * 2 : 8192;
        if (!(out_buf = realloc(out_buf, out_cap))) ExitProcess(4);
    }
}

/* LEN characters of W (LEN < 0: up to its NUL) as a JSON string literal (NULL: null), non-ASCII
   as UTF-8. PLAIN (the engine shim's log): every control character and surrogate as \uXXXX;
   otherwise \n, \r and \t in their short forms and a surrogate pair as one UTF-8 character. */
HELPER void out_json_n(const WCHAR *w, int len, int plain)
{
    if (!w) { out_fmt("null"); return; }
    const WCHAR *end = w + (len < 0 ? lstrlenW(w) : len);
    out_fmt("\"");
    for (; w < end; w++) {
        WCHAR c = *w;
        int pair = !plain && c >= 0xD800 && c <= 0xDBFF && w + 1 < end && w[1] >= 0xDC00 && w[1] <= 0xDFFF;
        const char *named = plain ? NULL : c == '\n' ? "n" : c == '\r' ? "r" : c == '\t' ? "t" : NULL;
        if (c == '"' || c == '\\') out_fmt("\\%c", (char)c);
        else if (named) out_fmt("\\%s", named);
        else if (c < 0x20 || c == 0x7f || (c >= 0xD800 && c <= 0xDFFF && !pair)) out_fmt("\\u%04x", c);
        else if (c < 0x80) out_fmt("%c", (char)c);
        else {
            char u8[8];
            int k = WideCharToMultiByte(CP_UTF8, 0, w, pair ? 2 : 1, u8, sizeof u8 - 1, NULL, NULL);
            u8[k] = 0;
            out_fmt("%s", u8);
            w += pair;
        }
    }
    out_fmt("\"");
}
#define out_json(w) out_json_n((w), -1, 0)

/* What was written since the output's length was AT, taken out of it as a new string: so a
   part can be written before the text that precedes it. */
HELPER char *out_cut(size_t at)
{
    char *s = _strdup(out_buf + at);
    if (!s) ExitProcess(4);
    out_buf[out_len = at] = 0;
    return s;
}

/* A string as a JSON string literal, for out_fmt's %s. The helpers run briefly; the copy is
   never freed. */
HELPER char *json(const WCHAR *w) { size_t at = out_len; out_json(w); return out_cut(at); }

/* The separator before the next item of a JSON list: none after its "[". */
HELPER const char *out_comma(void) { return out_buf[out_len - 1] == '[' ? "" : ","; }

/* Writes what was collected to F, which may be read while the program still runs, and
   empties the buffer (also when F cannot take it). */
HELPER void out_write(HANDLE f)
{
    DWORD done;
    for (size_t pos = 0; pos < out_len; pos += done)
        if (!WriteFile(f, out_buf + pos, (DWORD)(out_len - pos), &done, NULL) || !done) break;
    out_len = 0;
}
#define out_flush() out_write(GetStdHandle(STD_OUTPUT_HANDLE))

/* out_flush, then STATUS: the last step of a subcommand. */
HELPER int out_done(int status) { out_flush(); return status; }

/* ---------- windows and the bounded wait ---------- */

HELPER DWORD window_pid(HWND h) { DWORD pid = 0; GetWindowThreadProcessId(h, &pid); return pid; }

/* A JSON list, as a new string, of what PROC writes for each top-level window (PARENT NULL)
   or each child window of PARENT. */
HELPER char *window_list(HWND parent, WNDENUMPROC proc, LPARAM lp)
{
    size_t at = out_len;
    out_fmt("[");
    if (parent) EnumChildWindows(parent, proc, lp);
    else EnumWindows(proc, lp);
    out_fmt("]");
    return out_cut(at);
}

/* Calls done(ctx) until it returns nonzero (then 1) or TIMEOUT_MS have passed (then 0),
   sleeping STEP_MS in between (0 for a test that blocks by itself). A timeout of 0 tests
   once. Every wait of these programs is this one. */
typedef int (*wait_test)(void *ctx);

HELPER int wait_for(wait_test done, void *ctx, DWORD timeout_ms, DWORD step_ms)
{
    for (DWORD start = GetTickCount();; Sleep(step_ms)) {
        if (done(ctx)) return 1;
        if (GetTickCount() - start >= timeout_ms) return 0;
    }
}

HELPER int file_exists(void *path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

/* ---------- the dialog finder ---------- */

/* A top-level dialog (class "#32770") captioned exactly CAPTION; with DLG_VISIBLE only a
   visible one, with DLG_ENABLED only an enabled one. CONTROL >= 0: it must hold the control
   of that id, or with DLG_WITHOUT it must not (0xFFFF is a message box's text). */
enum { DLG_VISIBLE = 1, DLG_ENABLED = 2, DLG_WITHOUT = 4 };
struct dialog_want { const WCHAR *caption; int flags, control; HWND found; };

static BOOL CALLBACK dialog_proc(HWND h, LPARAM lp)
{
    struct dialog_want *d = (struct dialog_want *)lp;
    WCHAR cls[64], cap[1024] = L"";
    if ((d->flags & DLG_VISIBLE) && !IsWindowVisible(h)) return TRUE;
    if (!GetClassNameW(h, cls, 64) || lstrcmpW(cls, L"#32770")) return TRUE;
    GetWindowTextW(h, cap, 1024);
    if (lstrcmpW(cap, d->caption) || ((d->flags & DLG_ENABLED) && !IsWindowEnabled(h))) return TRUE;
    if (d->control >= 0 && (GetDlgItem(h, d->control) != NULL) == !!(d->flags & DLG_WITHOUT)) return TRUE;
    d->found = h;
    return FALSE;
}

HELPER int find_dialog(void *want)
{
    EnumWindows(dialog_proc, (LPARAM)want);
    return ((struct dialog_want *)want)->found != NULL;
}

/* The first such dialog in Z order within TIMEOUT_MS (0: only now); NULL when none came. */
HELPER HWND wait_dialog(const WCHAR *caption, int flags, int control, DWORD timeout_ms)
{
    struct dialog_want d = { caption, flags, control, NULL };
    wait_for(find_dialog, &d, timeout_ms, 20);
    return d.found;
}

#endif
