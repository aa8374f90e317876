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

/* The eleven functions as the setup's own list has them (state/engine_functions.h): each
 * definition below must match its prototype, is exported under its plain name (linked with
 * --kill-at, so the x86 build drops the stdcall decoration), and <name>Fn is the type of the
 * real engine's function it forwards to. */
#define KAVRIN_ENGINE_TEXT WCHAR
#include "../../state/engine_functions.h"

#define KAVRIN_ENGINE_PROTOTYPE(result, name, parameters) \
    __declspec(dllexport) result WINAPI name parameters;     \
    typedef result(WINAPI *name##Fn) parameters;
KAVRIN_ENGINE_FUNCTIONS(KAVRIN_ENGINE_PROTOTYPE)
#undef KAVRIN_ENGINE_PROTOTYPE

#define MAX_SCRIPT 16
#define FORWARD (-1L)

static WCHAR shim_dir[MAX_PATH];  /* with its trailing backslash */
static volatile LONG ready;
static HMODULE real_engine;
static long install_script[MAX_SCRIPT], patch_script[MAX_SCRIPT];
static int install_count, patch_count, install_calls, patch_calls;
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

static int parse_script(char *value, long *script)
{
    int n = 0;
    for (char *item = strtok(value, ", \t"); item && n < MAX_SCRIPT; item = strtok(NULL, ", \t"))
        script[n++] = !strcmp(item, "fwd") ? FORWARD : strtol(item, NULL, 10);
    return n;
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
        if (!strcmp(ln, "install_results")) install_count = parse_script(eq + 1, install_script);
        else if (!strcmp(ln, "patch_results")) patch_count = parse_script(eq + 1, patch_script);
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

static FARPROC real(const char *name)
{
    init();
    return real_engine ? GetProcAddress(real_engine, name) : NULL;
}

static long scripted(const long *script, int count, int *calls)
{
    int i = (*calls)++;
    if (count == 0) return FORWARD;
    return script[i < count ? i : count - 1];
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

static void field_visible(struct line *l)
{
    puts_(l, ",\"visible\":[");
    EnumWindows(visible_proc, (LPARAM)l);
    puts_(l, "]");
}

/* ---------- the eleven functions ---------- */

int WINAPI MsiSetInternalUI(int level, HWND *window)
{
    MsiSetInternalUIFn fn = (MsiSetInternalUIFn)real("MsiSetInternalUI");
    int ret = fn ? fn(level, window) : 0;
    struct line l;
    begin(&l, "MsiSetInternalUI");
    field_n(&l, "level", level);
    if (window) putf(&l, ",\"window\":\"%p\"", (void *)*window);
    else puts_(&l, ",\"window\":null");
    field_n(&l, "ret", ret);
    write_line(&l);
    return ret;
}

UINT WINAPI MsiInstallProductW(LPCWSTR package, LPCWSTR cmdline)
{
    struct line l;
    begin(&l, "MsiInstallProductW");
    field_w(&l, "package", package);
    field_w(&l, "cmdline", cmdline);
    field_visible(&l);
    MsiInstallProductWFn fn = (MsiInstallProductWFn)real("MsiInstallProductW");
    long s = scripted(install_script, install_count, &install_calls);
    UINT ret = s != FORWARD ? (UINT)s : fn ? fn(package, cmdline) : ERROR_INSTALL_FAILURE;
    putf(&l, ",\"forwarded\":%s", s == FORWARD ? "true" : "false");
    field_n(&l, "ret", (long)ret);
    write_line(&l);
    return ret;
}

UINT WINAPI MsiApplyPatchW(LPCWSTR patch, LPCWSTR product, int type, LPCWSTR cmdline)
{
    struct line l;
    begin(&l, "MsiApplyPatchW");
    field_w(&l, "patch", patch);
    field_w(&l, "product", product);
    field_n(&l, "type", type);
    field_w(&l, "cmdline", cmdline);
    field_visible(&l);
    MsiApplyPatchWFn fn = (MsiApplyPatchWFn)real("MsiApplyPatchW");
    long s = scripted(patch_script, patch_count, &patch_calls);
    UINT ret = s != FORWARD ? (UINT)s : fn ? fn(patch, product, type, cmdline) : ERROR_INSTALL_FAILURE;
    putf(&l, ",\"forwarded\":%s", s == FORWARD ? "true" : "false");
    field_n(&l, "ret", (long)ret);
    write_line(&l);
    return ret;
}

#ifndef SHIM_WITHOUT_REINSTALL
UINT WINAPI MsiReinstallProductW(LPCWSTR product, DWORD mode)
{
    MsiReinstallProductWFn fn = (MsiReinstallProductWFn)real("MsiReinstallProductW");
    UINT ret = fn ? fn(product, mode) : ERROR_INSTALL_FAILURE;
    struct line l;
    begin(&l, "MsiReinstallProductW");
    field_w(&l, "product", product);
    field_n(&l, "mode", (long)mode);
    field_n(&l, "ret", (long)ret);
    write_line(&l);
    return ret;
}

#endif

int WINAPI MsiQueryProductStateW(LPCWSTR product)
{
    MsiQueryProductStateWFn fn = (MsiQueryProductStateWFn)real("MsiQueryProductStateW");
    int ret = fn ? fn(product) : -1;
    struct line l;
    begin(&l, "MsiQueryProductStateW");
    field_w(&l, "product", product);
    field_n(&l, "ret", ret);
    write_line(&l);
    return ret;
}

static int exists_in_dir(const WCHAR *name)
{
    WCHAR path[MAX_PATH + 16];
    path_in_dir(path, name);
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

UINT WINAPI MsiOpenDatabaseW(LPCWSTR path, LPCWSTR persist, MSIHANDLE *database)
{
    init();
    if (hold_open_ms && !held_once) {
        WCHAR held[MAX_PATH + 16];
        held_once = 1;
        path_in_dir(held, L"held");
        HANDLE f = CreateFileW(held, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
        DWORD start = GetTickCount();
        while (!exists_in_dir(L"release") && GetTickCount() - start < hold_open_ms) Sleep(10);
    }
    MsiOpenDatabaseWFn fn = (MsiOpenDatabaseWFn)real("MsiOpenDatabaseW");
    UINT ret = fn ? fn(path, persist, database) : ERROR_INSTALL_FAILURE;
    struct line l;
    begin(&l, "MsiOpenDatabaseW");
    field_w(&l, "path", path);
    /* The persist modes are small integers passed as pointers. */
    if ((ULONG_PTR)persist < 0x10000) field_n(&l, "persist", (long)(ULONG_PTR)persist);
    else field_w(&l, "persist", persist);
    field_n(&l, "ret", (long)ret);
    field_n(&l, "handle", ret == 0 && database ? (long)*database : 0);
    write_line(&l);
    return ret;
}

UINT WINAPI MsiDatabaseOpenViewW(MSIHANDLE database, LPCWSTR query, MSIHANDLE *view)
{
    MsiDatabaseOpenViewWFn fn = (MsiDatabaseOpenViewWFn)real("MsiDatabaseOpenViewW");
    UINT ret = fn ? fn(database, query, view) : ERROR_INVALID_HANDLE;
    struct line l;
    begin(&l, "MsiDatabaseOpenViewW");
    field_n(&l, "database", (long)database);
    field_w(&l, "query", query);
    field_n(&l, "ret", (long)ret);
    field_n(&l, "handle", ret == 0 && view ? (long)*view : 0);
    write_line(&l);
    return ret;
}

UINT WINAPI MsiViewExecute(MSIHANDLE view, MSIHANDLE record)
{
    MsiViewExecuteFn fn = (MsiViewExecuteFn)real("MsiViewExecute");
    UINT ret = fn ? fn(view, record) : ERROR_INVALID_HANDLE;
    struct line l;
    begin(&l, "MsiViewExecute");
    field_n(&l, "view", (long)view);
    field_n(&l, "record", (long)record);
    field_n(&l, "ret", (long)ret);
    write_line(&l);
    return ret;
}

UINT WINAPI MsiViewFetch(MSIHANDLE view, MSIHANDLE *record)
{
    MsiViewFetchFn fn = (MsiViewFetchFn)real("MsiViewFetch");
    UINT ret = fn ? fn(view, record) : ERROR_INVALID_HANDLE;
    struct line l;
    begin(&l, "MsiViewFetch");
    field_n(&l, "view", (long)view);
    field_n(&l, "ret", (long)ret);
    field_n(&l, "handle", ret == 0 && record ? (long)*record : 0);
    write_line(&l);
    return ret;
}

UINT WINAPI MsiRecordGetStringW(MSIHANDLE record, UINT field, LPWSTR buffer, DWORD *length)
{
    MsiRecordGetStringWFn fn = (MsiRecordGetStringWFn)real("MsiRecordGetStringW");
    long size_in = length ? (long)*length : -1;
    UINT ret = fn ? fn(record, field, buffer, length) : ERROR_INVALID_HANDLE;
    struct line l;
    begin(&l, "MsiRecordGetStringW");
    field_n(&l, "record", (long)record);
    field_n(&l, "field", (long)field);
    field_n(&l, "size_in", size_in);
    field_n(&l, "ret", (long)ret);
    field_n(&l, "size_out", length ? (long)*length : -1);
    puts_(&l, ",\"value\":");
    if (ret == 0 && buffer && length && (long)*length < size_in) put_wstr(&l, buffer, (int)*length);
    else puts_(&l, "null");
    write_line(&l);
    return ret;
}

UINT WINAPI MsiCloseHandle(MSIHANDLE handle)
{
    MsiCloseHandleFn fn = (MsiCloseHandleFn)real("MsiCloseHandle");
    UINT ret = fn ? fn(handle) : ERROR_INVALID_HANDLE;
    struct line l;
    begin(&l, "MsiCloseHandle");
    field_n(&l, "handle", (long)handle);
    field_n(&l, "ret", (long)ret);
    write_line(&l);
    return ret;
}

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
