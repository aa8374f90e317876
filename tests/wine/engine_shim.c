/*
 * engine_shim.c - a Windows Installer engine (msi.dll) for the Wine tests: it exports the
 * eleven functions that setup.exe binds, forwards them to the real engine of the prefix
 * (the system directory's msi.dll), records every call and can be scripted.
 *
 * Build it as "msi.dll" in a directory of its own and point
 * HKLM\Software\Microsoft\Windows\CurrentVersion\Installer "InstallerLocation" at that
 * directory. Everything else lives next to the DLL:
 *
 *   shim.log   one JSON object per line (UTF-8), appended per call:
 *                {"fn":"load","module":"..."}        when the DLL is loaded
 *                {"fn":"MsiInstallProductW","package":"...","cmdline":"...",
 *                 "visible":["caption",...],"forwarded":true,"ret":0}
 *              Strings are given exactly (JSON-escaped); a null pointer is null.
 *              "visible" lists the captions of this process's visible top-level windows
 *              at the moment the install or patch call arrives.
 *   shim.cfg   read once, at the first call; lines KEY=VALUE:
 *                install_results=LIST  results of MsiInstallProductW, one item per call in
 *                                      order, the last item repeated; an item is a decimal
 *                                      number (returned without calling the engine) or
 *                                      "fwd" (forwarded). Default: fwd.
 *                patch_results=LIST    the same for MsiApplyPatchW.
 *                hold_open_ms=N        the first MsiOpenDatabaseW creates "held" next to the
 *                                      DLL and waits until "release" appears there, at most
 *                                      N ms, before it goes on.
 *
 * Built with SHIM_WITHOUT_REINSTALL defined, it lacks MsiReinstallProductW: an engine that
 * lacks one of the eleven functions.
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The eleven functions are made from the setup's own list: each is exported under its plain
 * name (linked with --kill-at, so the x86 build drops the stdcall decoration) and numbered
 * ID_<name>. */
#define KAVRIN_ENGINE_TEXT WCHAR
#include "../../state/engine_functions.h"

#define SHIM_PROTOTYPE(result, name, parameters, arguments) \
    __declspec(dllexport) result WINAPI name parameters;
KAVRIN_ENGINE_FUNCTIONS(SHIM_PROTOTYPE)
#define SHIM_ID(result, name, parameters, arguments) ID_##name,
enum { KAVRIN_ENGINE_FUNCTIONS(SHIM_ID) };

#define MAX_SCRIPT 16
#define FORWARD (-1L)

static WCHAR shim_dir[MAX_PATH];  /* with its trailing backslash */
static volatile LONG ready;
static HMODULE real_engine;
/* The results of MsiInstallProductW and MsiApplyPatchW, from shim.cfg. */
static struct script { long item[MAX_SCRIPT]; int count, calls; } install_script, patch_script;
static DWORD hold_open_ms;
static int held_once;

/* ---------- log ---------- */

struct line { char *buf; size_t len, cap; };

static void put(struct line *l, const char *s, size_t n)
{
    if (l->len + n + 2 > l->cap) {
        size_t cap = l->cap ? l->cap * 2 : 1024;
        while (cap < l->len + n + 2) cap *= 2;
        char *b = realloc(l->buf, cap);
        if (!b) return;
        l->buf = b;
        l->cap = cap;
    }
    memcpy(l->buf + l->len, s, n);
    l->len += n;
}

static void puts_(struct line *l, const char *s) { put(l, s, strlen(s)); }

static void putf(struct line *l, const char *fmt, ...)
{
    char tmp[256];
    va_list ap;
    va_start(ap, fmt);
    int n = _vsnprintf(tmp, sizeof tmp - 1, fmt, ap);
    va_end(ap);
    if (n < 0) n = sizeof tmp - 1;
    put(l, tmp, (size_t)n);
}

/* A wide string of len characters (len < 0: up to its NUL) as a JSON string, or null. */
static void put_wstr(struct line *l, const WCHAR *w, int len)
{
    if (!w) { puts_(l, "null"); return; }
    if (len < 0) len = lstrlenW(w);
    puts_(l, "\"");
    for (int i = 0; i < len; i++) {
        WCHAR c = w[i];
        if (c == '"') puts_(l, "\\\"");
        else if (c == '\\') puts_(l, "\\\\");
        else if (c < 0x20 || c == 0x7f || (c >= 0xD800 && c <= 0xDFFF)) putf(l, "\\u%04x", c);
        else if (c < 0x80) { char ch = (char)c; put(l, &ch, 1); }
        else {
            char u8[4];
            int k = WideCharToMultiByte(CP_UTF8, 0, &c, 1, u8, sizeof u8, NULL, NULL);
            put(l, u8, (size_t)k);
        }
    }
    puts_(l, "\"");
}

static void path_in_dir(WCHAR *out, const WCHAR *name)
{
    lstrcpynW(out, shim_dir, MAX_PATH);
    lstrcatW(out, name);
}

static void write_line(struct line *l)
{
    WCHAR path[MAX_PATH + 16];
    DWORD done;
    puts_(l, "}\n");
    if (!l->buf) return;
    path_in_dir(path, L"shim.log");
    HANDLE f = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_ALWAYS, 0, NULL);
    if (f != INVALID_HANDLE_VALUE) {
        WriteFile(f, l->buf, (DWORD)l->len, &done, NULL);
        CloseHandle(f);
    }
    free(l->buf);
    l->buf = NULL;
    l->len = l->cap = 0;
}

static void begin(struct line *l, const char *fn)
{
    l->buf = NULL;
    l->len = l->cap = 0;
    puts_(l, "{\"fn\":\"");
    puts_(l, fn);
    puts_(l, "\"");
}

static void field_w(struct line *l, const char *name, const WCHAR *w)
{
    putf(l, ",\"%s\":", name);
    put_wstr(l, w, -1);
}

static void field_n(struct line *l, const char *name, long v) { putf(l, ",\"%s\":%ld", name, v); }

/* ---------- configuration ---------- */

static void parse_script(char *value, struct script *s)
{
    s->count = 0;
    for (char *item = strtok(value, ", \t"); item && s->count < MAX_SCRIPT;
         item = strtok(NULL, ", \t"))
        s->item[s->count++] = !strcmp(item, "fwd") ? FORWARD : strtol(item, NULL, 10);
}

static void read_config(void)
{
    WCHAR path[MAX_PATH + 16];
    char text[2048];
    DWORD got = 0;
    path_in_dir(path, L"shim.cfg");
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE) return;
    ReadFile(f, text, sizeof text - 1, &got, NULL);
    CloseHandle(f);
    text[got] = 0;
    char *save = NULL;
    for (char *ln = strtok_r(text, "\r\n", &save); ln; ln = strtok_r(NULL, "\r\n", &save)) {
        char *eq = strchr(ln, '=');
        if (!eq) continue;
        *eq = 0;
        if (!strcmp(ln, "install_results")) parse_script(eq + 1, &install_script);
        else if (!strcmp(ln, "patch_results")) parse_script(eq + 1, &patch_script);
        else if (!strcmp(ln, "hold_open_ms")) hold_open_ms = (DWORD)strtoul(eq + 1, NULL, 10);
    }
}

/* Reads the configuration and loads the real engine, once; every call comes from the
 * setup's worker thread. */
static void init(void)
{
    if (ready) return;
    read_config();
    WCHAR path[MAX_PATH + 16];
    UINT n = GetSystemDirectoryW(path, MAX_PATH);
    if (n && n < MAX_PATH) {
        lstrcatW(path, L"\\msi.dll");
        real_engine = LoadLibraryW(path);
    }
    if (!real_engine) {
        struct line l;
        begin(&l, "error");
        field_w(&l, "what", L"the real engine could not be loaded");
        field_n(&l, "error", (long)GetLastError());
        write_line(&l);
    }
    ready = 1;
}

/* ---------- windows of this process ---------- */

static BOOL CALLBACK visible_proc(HWND h, LPARAM lp)
{
    struct line *l = (struct line *)lp;
    DWORD pid = 0;
    WCHAR cap[512];
    GetWindowThreadProcessId(h, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(h)) return TRUE;
    cap[0] = 0;
    GetWindowTextW(h, cap, 512);
    if (l->buf[l->len - 1] != '[') puts_(l, ",");
    put_wstr(l, cap, -1);
    return TRUE;
}

/* With hold_open_ms, the first MsiOpenDatabaseW creates "held" and waits for "release". */
static void hold_first_open(void)
{
    if (!hold_open_ms || held_once) return;
    WCHAR held[MAX_PATH + 16], release[MAX_PATH + 16];
    held_once = 1;
    path_in_dir(held, L"held");
    path_in_dir(release, L"release");
    HANDLE f = CreateFileW(held, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    DWORD start = GetTickCount();
    while (GetFileAttributesW(release) == INVALID_FILE_ATTRIBUTES
           && GetTickCount() - start < hold_open_ms)
        Sleep(10);
}

/* ---------- the eleven functions ---------- */

/* One call, forwarded and logged. Its line is {"fn", each argument in its place, "visible"
 * and "forwarded" of the install and patch calls, "ret", the out-values}. */
struct call {
    int id;
    struct line line, shown;   /* shown: "visible", taken before the call */
    struct script *script;     /* of the install and patch calls */
    long scripted, ret;        /* scripted: the scripted result or FORWARD */
    int sized;                 /* a text buffer came: the next DWORD* is its length... */
    WCHAR *buffer;
    long size_in;              /* ...which was this before the call */
};

/* An argument is seen before the call, then after it at its place in the line, then after
 * "ret"; what is logged of it depends on its type (SHIM_ARG). */
enum phase { BEFORE, AT, AFTER };

/* The log's names of the arguments whose names in the list differ. */
static const char *logged(const char *name)
{
    static const char *const renamed[][2] = {
        {"owner", "window"}, {"commandLine", "cmdline"},
        {"installType", "type"}, {"productCode", "product"}};
    for (size_t i = 0; i < sizeof renamed / sizeof *renamed; i++)
        if (!strcmp(name, renamed[i][0])) return renamed[i][1];
    return name;
}

static void arg_number(struct call *c, enum phase p, const char *name, long v)
{
    if (p == AT) field_n(&c->line, logged(name), v);
}

static void arg_text(struct call *c, enum phase p, const char *name, const WCHAR *w)
{
    if (p != AT) return;
    /* The persist modes of MsiOpenDatabaseW are small integers passed as pointers. */
    if (!strcmp(name, "persist") && (ULONG_PTR)w < 0x10000)
        field_n(&c->line, name, (long)(ULONG_PTR)w);
    else
        field_w(&c->line, logged(name), w);
}

/* The window as the call leaves it. */
static void arg_window(struct call *c, enum phase p, const char *name, HWND *window)
{
    if (p != AT) return;
    if (window) putf(&c->line, ",\"%s\":\"%p\"", logged(name), (void *)*window);
    else putf(&c->line, ",\"%s\":null", logged(name));
}

static void arg_buffer(struct call *c, enum phase p, const char *name, WCHAR *buffer)
{
    if (p == BEFORE) {
        c->buffer = buffer;
        c->sized = 1;
    }
}

/* A handle the call gives out, or the length of the text buffer before it: its room in
 * characters before the call, the text's length after it, and the text when it fitted. */
static void arg_out(struct call *c, enum phase p, const char *name, DWORD *v)
{
    if (!c->sized) {
        if (p == AFTER) field_n(&c->line, "handle", c->ret == 0 && v ? (long)*v : 0);
    } else if (p == BEFORE) {
        c->size_in = v ? (long)*v : -1;
    } else if (p == AT) {
        field_n(&c->line, "size_in", c->size_in);
    } else {
        field_n(&c->line, "size_out", v ? (long)*v : -1);
        puts_(&c->line, ",\"value\":");
        if (c->ret == 0 && c->buffer && v && (long)*v < c->size_in)
            put_wstr(&c->line, c->buffer, (int)*v);
        else
            puts_(&c->line, "null");
    }
}

#define SHIM_ARG(phase, a)                                                          \
    _Generic((a), const WCHAR *: arg_text, WCHAR *: arg_buffer, HWND *: arg_window, \
             DWORD *: arg_out, default: arg_number)(&c, phase, #a, a);
/* SHIM_ARGS(phase, (a, b, ...)): SHIM_ARG(phase, x) for each of up to four arguments. */
#define SHIM_ARGS(phase, arguments) SHIM_EACH(phase, SHIM_LIST arguments)
#define SHIM_LIST(...) __VA_ARGS__
#define SHIM_EACH(p, ...) SHIM_FIFTH(__VA_ARGS__, SHIM_4, SHIM_3, SHIM_2, SHIM_1, )(p, __VA_ARGS__)
#define SHIM_FIFTH(a, b, c, d, e, ...) e
#define SHIM_1(p, a) SHIM_ARG(p, a)
#define SHIM_2(p, a, ...) SHIM_ARG(p, a) SHIM_1(p, __VA_ARGS__)
#define SHIM_3(p, a, ...) SHIM_ARG(p, a) SHIM_2(p, __VA_ARGS__)
#define SHIM_4(p, a, ...) SHIM_ARG(p, a) SHIM_3(p, __VA_ARGS__)

/* Before the call: the hold of the first MsiOpenDatabaseW; the windows visible when an
 * install or patch call arrives, and its scripted result. */
static void before(struct call *c)
{
    init();
    if (c->id == ID_MsiOpenDatabaseW) hold_first_open();
    c->script = c->id == ID_MsiInstallProductW ? &install_script
                : c->id == ID_MsiApplyPatchW   ? &patch_script
                                               : NULL;
    c->scripted = FORWARD;
    if (!c->script) return;
    puts_(&c->shown, ",\"visible\":[");
    EnumWindows(visible_proc, (LPARAM)&c->shown);
    puts_(&c->shown, "]");
    int i = c->script->calls++, n = c->script->count;
    if (n) c->scripted = c->script->item[i < n ? i : n - 1];
}

/* The fields of an install or patch call before "ret". */
static void scripted_fields(struct call *c)
{
    if (!c->script) return;
    if (c->shown.buf) put(&c->line, c->shown.buf, c->shown.len);
    free(c->shown.buf);
    putf(&c->line, ",\"forwarded\":%s", c->scripted == FORWARD ? "true" : "false");
}

/* What a function gives when the real engine lacks it. */
static long unbound(int id)
{
    switch (id) {
    case ID_MsiSetInternalUI: return 0;         /* INSTALLUILEVEL_NOCHANGE */
    case ID_MsiQueryProductStateW: return -1;   /* INSTALLSTATE_UNKNOWN */
    case ID_MsiInstallProductW: case ID_MsiApplyPatchW: case ID_MsiReinstallProductW:
    case ID_MsiOpenDatabaseW: return ERROR_INSTALL_FAILURE;
    default: return ERROR_INVALID_HANDLE;
    }
}

#define SHIM_FORWARDER(result, name, parameters, arguments)                              \
    result WINAPI name parameters                                                        \
    {                                                                                    \
        typedef result(WINAPI * engine_fn) parameters;                                   \
        struct call c = {ID_##name};                                                     \
        SHIM_ARGS(BEFORE, arguments)                                                     \
        before(&c);                                                                      \
        engine_fn fn = real_engine ? (engine_fn)GetProcAddress(real_engine, #name) : 0; \
        result ret = c.scripted != FORWARD ? (result)c.scripted                          \
                     : fn                  ? fn arguments                                \
                                           : (result)unbound(c.id);                      \
        c.ret = (long)ret;                                                               \
        begin(&c.line, #name);                                                           \
        SHIM_ARGS(AT, arguments)                                                         \
        scripted_fields(&c);                                                             \
        field_n(&c.line, "ret", c.ret);                                                  \
        SHIM_ARGS(AFTER, arguments)                                                      \
        write_line(&c.line);                                                             \
        return ret;                                                                      \
    }
/* Built with SHIM_WITHOUT_REINSTALL, the forwarder of MsiReinstallProductW is defined under
 * another name: only the prototypes above are dllexport, so it is not exported. */
#ifdef SHIM_WITHOUT_REINSTALL
#define MsiReinstallProductW unexported_reinstall
#endif
KAVRIN_ENGINE_FUNCTIONS(SHIM_FORWARDER)

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        WCHAR module[MAX_PATH];
        DWORD n = GetModuleFileNameW(instance, module, MAX_PATH);
        if (!n || n >= MAX_PATH) return FALSE;
        lstrcpyW(shim_dir, module);
        WCHAR *slash = wcsrchr(shim_dir, L'\\');
        if (slash) slash[1] = 0;
        struct line l;
        begin(&l, "load");
        field_w(&l, "module", module);
        write_line(&l);
    }
    return TRUE;
}
