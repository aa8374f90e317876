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
 *                {"fn":"error","what":"...","error":N} when the real engine cannot be loaded
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
#include "helper_common.h"

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

/* ---------- log: a line is collected in the helpers' output buffer ---------- */

/* OUT (MAX_PATH + 16 characters): the path of NAME next to the DLL. */
static WCHAR *in_dir(WCHAR *out, const WCHAR *name)
{
    return lstrcatW(lstrcpynW(out, shim_dir, MAX_PATH), name);
}

/* Ends the line and appends it to shim.log. */
static void write_line(void)
{
    WCHAR path[MAX_PATH + 16];
    out_fmt("}\n");
    HANDLE f = CreateFileW(in_dir(path, L"shim.log"), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           NULL, OPEN_ALWAYS, 0, NULL);
    if (f != INVALID_HANDLE_VALUE) { out_write(f); CloseHandle(f); }
    out_len = 0; /* a line that cannot be appended is dropped */
}

static void field_w(const char *name, const WCHAR *w) { out_fmt(",\"%s\":", name); out_json_n(w, -1, 1); }

static void field_n(const char *name, long v) { out_fmt(",\"%s\":%ld", name, v); }

/* ---------- configuration ---------- */

static void parse_script(char *value, struct script *s)
{
    s->count = 0;
    for (char *item = strtok(value, ", \t"); item && s->count < MAX_SCRIPT;
         item = strtok(NULL, ", \t"))
        s->item[s->count++] = !strcmp(item, "fwd") ? FORWARD : strtol(item, NULL, 10);
}

/* Reads the configuration (its first 2047 bytes) and loads the real engine, once; every call
 * comes from the setup's worker thread. */
static void init(void)
{
    if (ready) return;
    WCHAR path[MAX_PATH + 16];
    DWORD got;
    char *text = read_file(in_dir(path, L"shim.cfg"), 2047, &got), *save = NULL;
    for (char *ln = text ? strtok_r(text, "\r\n", &save) : NULL; ln; ln = strtok_r(NULL, "\r\n", &save)) {
        char *eq = strchr(ln, '=');
        if (!eq) continue;
        *eq = 0;
        if (!strcmp(ln, "install_results")) parse_script(eq + 1, &install_script);
        else if (!strcmp(ln, "patch_results")) parse_script(eq + 1, &patch_script);
        else if (!strcmp(ln, "hold_open_ms")) hold_open_ms = (DWORD)strtoul(eq + 1, NULL, 10);
    }
    free(text);
    UINT n = GetSystemDirectoryW(path, MAX_PATH);
    if (n && n < MAX_PATH) real_engine = LoadLibraryW(lstrcatW(path, L"\\msi.dll"));
    if (!real_engine) {
        out_fmt("{\"fn\":\"error\",\"what\":\"the real engine could not be loaded\",\"error\":%ld",
                (long)GetLastError());
        write_line();
    }
    ready = 1;
}

/* ---------- windows of this process ---------- */

static BOOL CALLBACK visible_proc(HWND h, LPARAM lp)
{
    WCHAR cap[512] = L"";
    if (window_pid(h) != GetCurrentProcessId() || !IsWindowVisible(h)) return TRUE;
    GetWindowTextW(h, cap, 512);
    out_fmt("%s", out_comma());
    out_json_n(cap, -1, 1);
    return TRUE;
}

/* ---------- the eleven functions ---------- */

/* One call, forwarded and logged. Its line is {"fn", each argument in its place, "visible"
 * and "forwarded" of the install and patch calls, "ret", the out-values}. */
struct call {
    int id;
    char *shown;               /* the "visible" list, taken before the call */
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
    if (p == AT) field_n(logged(name), v);
}

static void arg_text(struct call *c, enum phase p, const char *name, const WCHAR *w)
{
    if (p != AT) return;
    /* The persist modes of MsiOpenDatabaseW are small integers passed as pointers. */
    if (!strcmp(name, "persist") && (ULONG_PTR)w < 0x10000)
        field_n(name, (long)(ULONG_PTR)w);
    else
        field_w(logged(name), w);
}

/* The window as the call leaves it. */
static void arg_window(struct call *c, enum phase p, const char *name, HWND *window)
{
    if (p != AT) return;
    if (window) out_fmt(",\"%s\":\"%p\"", logged(name), (void *)*window);
    else out_fmt(",\"%s\":null", logged(name));
}

static void arg_buffer(struct call *c, enum phase p, const char *name, WCHAR *buffer)
{
    if (p == BEFORE) { c->buffer = buffer; c->sized = 1; }
}

/* A handle the call gives out, or the length of the text buffer before it: its room in
 * characters before the call, the text's length after it, and the text when it fitted. */
static void arg_out(struct call *c, enum phase p, const char *name, DWORD *v)
{
    if (!c->sized) {
        if (p == AFTER) field_n("handle", c->ret == 0 && v ? (long)*v : 0);
    } else if (p == BEFORE) {
        c->size_in = v ? (long)*v : -1;
    } else if (p == AT) {
        field_n("size_in", c->size_in);
    } else {
        field_n("size_out", v ? (long)*v : -1);
        out_fmt(",\"value\":");
        out_json_n(c->ret == 0 && v && (long)*v < c->size_in ? c->buffer : NULL, v ? (int)*v : 0, 1);
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

/* Before the call: with hold_open_ms, the first MsiOpenDatabaseW creates "held" and waits
 * for "release"; the windows visible when an install or patch call arrives, and its scripted
 * result. */
static void before(struct call *c)
{
    init();
    if (c->id == ID_MsiOpenDatabaseW && hold_open_ms) {
        WCHAR held[MAX_PATH + 16], release[MAX_PATH + 16];
        write_file(in_dir(held, L"held"), "");
        wait_for(file_exists, in_dir(release, L"release"), hold_open_ms, 10);
        hold_open_ms = 0; /* only the first one waits */
    }
    c->script = c->id == ID_MsiInstallProductW ? &install_script
                : c->id == ID_MsiApplyPatchW ? &patch_script : NULL;
    c->scripted = FORWARD;
    if (!c->script) return;
    c->shown = window_list(NULL, visible_proc, 0);
    int i = c->script->calls++, n = c->script->count;
    if (n) c->scripted = c->script->item[i < n ? i : n - 1];
}

/* The fields of an install or patch call before "ret". */
static void scripted_fields(struct call *c)
{
    if (!c->script) return;
    out_fmt(",\"visible\":%s,\"forwarded\":%s", c->shown, c->scripted == FORWARD ? "true" : "false");
    free(c->shown);
}

/* What a function gives when the real engine lacks it. */
static long unbound(int id)
{
    if (id == ID_MsiSetInternalUI) return 0;        /* INSTALLUILEVEL_NOCHANGE */
    if (id == ID_MsiQueryProductStateW) return -1;  /* INSTALLSTATE_UNKNOWN */
    return id == ID_MsiInstallProductW || id == ID_MsiApplyPatchW || id == ID_MsiReinstallProductW
           || id == ID_MsiOpenDatabaseW ? ERROR_INSTALL_FAILURE : ERROR_INVALID_HANDLE;
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
        out_fmt("{\"fn\":\"%s\"", #name);                                                \
        SHIM_ARGS(AT, arguments)                                                         \
        scripted_fields(&c);                                                             \
        field_n("ret", c.ret);                                                           \
        SHIM_ARGS(AFTER, arguments)                                                      \
        write_line();                                                                    \
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
    if (reason == DLL_PROCESS_ATTACH) {
        DWORD n = GetModuleFileNameW(instance, shim_dir, MAX_PATH);
        if (!n || n >= MAX_PATH) return FALSE;
        out_fmt("{\"fn\":\"load\"");
        field_w("module", shim_dir);
        WCHAR *slash = wcsrchr(shim_dir, L'\\'); /* the module's path is cut to its directory */
        if (slash) slash[1] = 0;
        write_line();
    }
    return TRUE;
}
