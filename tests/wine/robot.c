/*
 * robot.exe - drives dialogs of other processes from inside a Wine prefix.
 *
 *   robot inspect CAPTION_HEX TIMEOUT_MS [--press ID]
 *       Waits (bounded) for a visible top-level dialog (class "#32770") whose caption is
 *       exactly CAPTION, then prints one JSON object on stdout (UTF-8): caption, message
 *       text (the static control 0xFFFF), the standard icon it shows, its buttons and all
 *       child controls. With --press, presses the button ID afterwards.
 *   robot press CAPTION_HEX ID TIMEOUT_MS
 *       Waits for the dialog and presses the button ID (BM_CLICK).
 *   robot list
 *       Prints the visible top-level windows as JSON.
 *
 * CAPTION_HEX is the caption as hexadecimal UTF-8 bytes, so that any text survives the
 * trip through Wine's command-line conversion unchanged.
 *
 * Exit status: 0 found (and pressed), 1 not found within the time limit (the visible
 * top-level windows are printed instead), 2 bad arguments, 3 the button is missing or
 * could not be pressed.
 *
 * The icon is told by its pixels: the icon control's area is read back from the screen
 * and compared with each standard icon (LoadIcon(NULL, IDI_...)) drawn with DrawIconEx
 * on the same background. Icon handles cannot be compared: they are per process in Wine.
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "helper_text.h"

/* ---------- output ---------- */

static char *out_buf;
static size_t out_len, out_cap;

static void out_bytes(const char *s, size_t n)
{
    if (out_len + n + 1 > out_cap) {
        size_t cap = out_cap ? out_cap * 2 : 8192;
        while (cap < out_len + n + 1) cap *= 2;
        out_buf = realloc(out_buf, cap);
        if (!out_buf) ExitProcess(4);
        out_cap = cap;
    }
    memcpy(out_buf + out_len, s, n);
    out_len += n;
}

static void out_str(const char *s) { out_bytes(s, strlen(s)); }

static void out_fmt(const char *fmt, ...)
{
    char tmp[512];
    va_list ap;
    va_start(ap, fmt);
    int n = _vsnprintf(tmp, sizeof tmp - 1, fmt, ap);
    va_end(ap);
    if (n < 0) n = sizeof tmp - 1;
    out_bytes(tmp, (size_t)n);
}

/* A wide string as a JSON string literal, non-ASCII as raw UTF-8. */
static void out_json_w(const WCHAR *w, int len)
{
    if (len < 0) len = lstrlenW(w);
    out_str("\"");
    for (int i = 0; i < len; i++) {
        WCHAR c = w[i];
        if (c == '"') out_str("\\\"");
        else if (c == '\\') out_str("\\\\");
        else if (c == '\n') out_str("\\n");
        else if (c == '\r') out_str("\\r");
        else if (c == '\t') out_str("\\t");
        else if (c < 0x20 || c == 0x7f) out_fmt("\\u%04x", c);
        else if (c < 0x80) { char ch = (char)c; out_bytes(&ch, 1); }
        else {
            int n = 1;
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < len && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) n = 2;
            else if (c >= 0xD800 && c <= 0xDFFF) { out_fmt("\\u%04x", c); continue; }
            char u8[8];
            int k = WideCharToMultiByte(CP_UTF8, 0, w + i, n, u8, sizeof u8, NULL, NULL);
            out_bytes(u8, (size_t)k);
            i += n - 1;
        }
    }
    out_str("\"");
}

static void flush_out(void)
{
    HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD done;
    size_t pos = 0;
    out_str("\n");
    while (pos < out_len) {
        if (!WriteFile(h, out_buf + pos, (DWORD)(out_len - pos), &done, NULL) || !done) break;
        pos += done;
    }
    out_len = 0;
}

/* ---------- windows ---------- */

static WCHAR *window_text(HWND h, int *len_out)
{
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &len)) len = 0;
    WCHAR *buf = calloc(len + 2, sizeof(WCHAR));
    if (!buf) ExitProcess(4);
    DWORD_PTR got = 0;
    if (len && SendMessageTimeoutW(h, WM_GETTEXT, len + 1, (LPARAM)buf, SMTO_ABORTIFHUNG, 2000, &got))
        buf[got <= len ? got : len] = 0;
    else
        buf[0] = 0;
    if (len_out) *len_out = lstrlenW(buf);
    return buf;
}

/* need_id: the dialog must hold a control with this id (-1: any dialog). Disabled dialogs
   are skipped: while a message box is up, the setup's progress window (same caption) is
   disabled, so the box is the one found. */
struct find_ctx { const WCHAR *caption; int need_id; HWND found; };

static BOOL CALLBACK find_proc(HWND h, LPARAM lp)
{
    struct find_ctx *ctx = (struct find_ctx *)lp;
    WCHAR cls[64], cap[1024];
    if (!IsWindowVisible(h)) return TRUE;
    if (!GetClassNameW(h, cls, 64) || lstrcmpW(cls, L"#32770")) return TRUE;
    cap[0] = 0;
    GetWindowTextW(h, cap, 1024);
    if (lstrcmpW(cap, ctx->caption)) return TRUE;
    if (!IsWindowEnabled(h)) return TRUE;
    if (ctx->need_id >= 0 && !GetDlgItem(h, ctx->need_id)) return TRUE;
    ctx->found = h;
    return FALSE;
}

static HWND wait_dialog(const WCHAR *caption, DWORD timeout_ms, int need_id)
{
    DWORD start = GetTickCount();
    for (;;) {
        struct find_ctx ctx = { caption, need_id, NULL };
        EnumWindows(find_proc, (LPARAM)&ctx);
        if (ctx.found) return ctx.found;
        if (GetTickCount() - start >= timeout_ms) return NULL;
        Sleep(50);
    }
}

static BOOL CALLBACK list_top_proc(HWND h, LPARAM lp)
{
    int *first = (int *)lp;
    WCHAR cls[256], cap[1024];
    DWORD pid = 0;
    if (!IsWindowVisible(h)) return TRUE;
    cls[0] = cap[0] = 0;
    GetClassNameW(h, cls, 256);
    GetWindowTextW(h, cap, 1024);
    GetWindowThreadProcessId(h, &pid);
    out_str(*first ? "{" : ",{");
    *first = 0;
    out_str("\"class\":"); out_json_w(cls, -1);
    out_str(",\"caption\":"); out_json_w(cap, -1);
    out_fmt(",\"pid\":%lu}", (unsigned long)pid);
    return TRUE;
}

static void out_top_windows(void)
{
    int first = 1;
    out_str("[");
    EnumWindows(list_top_proc, (LPARAM)&first);
    out_str("]");
}

/* ---------- icon recognition ---------- */

static HWND icon_ctl;

static BOOL CALLBACK find_icon_proc(HWND h, LPARAM lp)
{
    WCHAR cls[64];
    (void)lp;
    if (!GetClassNameW(h, cls, 64) || lstrcmpiW(cls, L"Static")) return TRUE;
    if ((GetWindowLongW(h, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) return TRUE;
    if (!IsWindowVisible(h)) return TRUE;
    icon_ctl = h;
    return FALSE;
}

static DWORD *new_dib(HDC dc, int w, int h, HBITMAP *bmp)
{
    BITMAPINFO bi;
    void *bits = NULL;
    memset(&bi, 0, sizeof bi);
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    *bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, NULL, 0);
    return (DWORD *)bits;
}

static int px_differs(DWORD a, DWORD b)
{
    for (int s = 0; s < 24; s += 8) {
        int x = (int)((a >> s) & 0xff), y = (int)((b >> s) & 0xff);
        if (abs(x - y) > 24) return 1;
    }
    return 0;
}

static const struct { const char *name; LPCWSTR id; } std_icons[] = {
    { "information", IDI_ASTERISK },
    { "warning", IDI_EXCLAMATION },
    { "error", IDI_HAND },
    { "question", IDI_QUESTION },
    { "application", IDI_APPLICATION },
};
#define N_ICONS (sizeof std_icons / sizeof std_icons[0])

/* Captures the icon control and names the standard icon it matches. Returns the name,
 * "blank" (nothing drawn yet), "unknown", or "none" (no icon control). Per-icon mismatch
 * ratios (per mille) go to scores. */
static const char *classify_icon(HWND dlg, int scores[N_ICONS], HICON *shown_handle)
{
    icon_ctl = NULL;
    EnumChildWindows(dlg, find_icon_proc, 0);
    for (unsigned i = 0; i < N_ICONS; i++) scores[i] = -1;
    *shown_handle = NULL;
    if (!icon_ctl) return "none";

    DWORD_PTR hi = 0;
    if (SendMessageTimeoutW(icon_ctl, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &hi))
        *shown_handle = (HICON)hi;

    RECT r;
    POINT org = { 0, 0 };
    GetClientRect(icon_ctl, &r);
    ClientToScreen(icon_ctl, &org);
    int w = r.right, h = r.bottom;
    if (w <= 0 || h <= 0 || w > 512 || h > 512) return "unknown";

    HDC screen = GetDC(NULL);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp_shot, bmp_ref;
    DWORD *shot = new_dib(screen, w, h, &bmp_shot);
    DWORD *ref = new_dib(screen, w, h, &bmp_ref);
    const char *result = "unknown";
    if (!shot || !ref) goto done;

    HGDIOBJ old = SelectObject(mem, bmp_shot);
    BitBlt(mem, 0, 0, w, h, screen, org.x, org.y, SRCCOPY);
    GdiFlush();

    /* Nothing drawn yet: every pixel equal. */
    int uniform = 1;
    for (int i = 1; i < w * h; i++) if ((shot[i] ^ shot[0]) & 0xffffff) { uniform = 0; break; }
    if (uniform) { result = "blank"; SelectObject(mem, old); goto done; }

    /* The background is whatever surrounds the icon: take the corner pixel, which the
     * standard icons leave transparent. */
    DWORD bg = shot[0] & 0xffffff;
    SelectObject(mem, bmp_ref);
    int best = -1, best_score = 1001, second = 1001;
    for (unsigned k = 0; k < N_ICONS; k++) {
        HICON ic = LoadIconW(NULL, std_icons[k].id);
        for (int i = 0; i < w * h; i++) ref[i] = bg;
        if (ic) DrawIconEx(mem, 0, 0, ic, w, h, 0, NULL, DI_NORMAL);
        GdiFlush();
        int diff = 0;
        for (int i = 0; i < w * h; i++) diff += px_differs(shot[i], ref[i]);
        int score = (int)((diff * 1000LL) / (w * h));
        scores[k] = score;
        if (score < best_score) { second = best_score; best_score = score; best = (int)k; }
        else if (score < second) second = score;
    }
    SelectObject(mem, old);
    /* A match must be close to exact and clearly better than any other icon (Wine's
     * information and question icons differ in about 7% of their pixels). */
    if (best >= 0 && best_score <= 20 && second - best_score >= 40) result = std_icons[best].name;
done:
    if (bmp_shot) DeleteObject(bmp_shot);
    if (bmp_ref) DeleteObject(bmp_ref);
    DeleteDC(mem);
    ReleaseDC(NULL, screen);
    return result;
}

/* ---------- child controls ---------- */

struct ctl_ctx { int first; int buttons_only; };

static BOOL CALLBACK list_child_proc(HWND h, LPARAM lp)
{
    struct ctl_ctx *ctx = (struct ctl_ctx *)lp;
    WCHAR cls[256];
    cls[0] = 0;
    GetClassNameW(h, cls, 256);
    LONG style = GetWindowLongW(h, GWL_STYLE);
    int is_button = !lstrcmpiW(cls, L"Button") && (style & 0x0F) <= BS_DEFPUSHBUTTON;
    if (ctx->buttons_only && (!is_button || !IsWindowVisible(h))) return TRUE;
    int len;
    WCHAR *text = window_text(h, &len);
    out_str(ctx->first ? "{" : ",{");
    ctx->first = 0;
    out_fmt("\"id\":%d", GetDlgCtrlID(h));
    out_str(",\"class\":"); out_json_w(cls, -1);
    out_str(",\"text\":"); out_json_w(text, len);
    out_fmt(",\"style\":\"0x%08lX\",\"visible\":%s,\"enabled\":%s}", (unsigned long)style,
            IsWindowVisible(h) ? "true" : "false", IsWindowEnabled(h) ? "true" : "false");
    free(text);
    return TRUE;
}

static void out_dialog(HWND dlg)
{
    int len;
    WCHAR *cap = window_text(dlg, &len);
    DWORD pid = 0;
    GetWindowThreadProcessId(dlg, &pid);
    out_str("{\"found\":true");
    out_fmt(",\"pid\":%lu", (unsigned long)pid);
    out_str(",\"caption\":"); out_json_w(cap, len);
    free(cap);

    HWND txt = GetDlgItem(dlg, 0xFFFF);
    if (txt) {
        WCHAR *t = window_text(txt, &len);
        out_str(",\"text\":"); out_json_w(t, len);
        free(t);
    } else {
        out_str(",\"text\":null");
    }

    /* The box may not be painted yet when it first becomes visible: poll, bounded. */
    int scores[N_ICONS];
    HICON shown = NULL;
    const char *icon = "blank";
    for (DWORD start = GetTickCount(); GetTickCount() - start < 5000;) {
        icon = classify_icon(dlg, scores, &shown);
        if (strcmp(icon, "blank") && strcmp(icon, "unknown")) break;
        Sleep(50);
    }
    out_str(",\"icon\":\""); out_str(icon); out_str("\"");
    out_str(",\"icon_scores\":{");
    for (unsigned k = 0; k < N_ICONS; k++)
        out_fmt("%s\"%s\":%d", k ? "," : "", std_icons[k].name, scores[k]);
    out_str("}");
    /* For the record: whether the handle the control holds equals ours (it does not in
     * Wine, where icon handles belong to the process that loaded them). */
    const char *handle_match = "none";
    if (shown) {
        handle_match = "different";
        for (unsigned k = 0; k < N_ICONS; k++)
            if (LoadIconW(NULL, std_icons[k].id) == shown) { handle_match = std_icons[k].name; break; }
    }
    out_str(",\"icon_handle_match\":\""); out_str(handle_match); out_str("\"");

    struct ctl_ctx ctx = { 1, 1 };
    out_str(",\"buttons\":[");
    EnumChildWindows(dlg, list_child_proc, (LPARAM)&ctx);
    out_str("],\"controls\":[");
    ctx.first = 1;
    ctx.buttons_only = 0;
    EnumChildWindows(dlg, list_child_proc, (LPARAM)&ctx);
    out_str("]}");
}

static int press_button(HWND dlg, int id)
{
    HWND b = GetDlgItem(dlg, id);
    DWORD_PTR res;
    if (!b || !IsWindowVisible(b)) return 3;
    /* BM_CLICK sends the BN_CLICKED notification from inside the dialog's own thread. */
    if (!SendMessageTimeoutW(b, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &res)) {
        if (!PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)b)) return 3;
    }
    return 0;
}

/* ---------- main ---------- */

static void not_found(void)
{
    out_str("{\"found\":false,\"windows\":");
    out_top_windows();
    out_str("}");
    flush_out();
}

int wmain(int argc, WCHAR **argv)
{
    SetProcessDPIAware();
    if (argc >= 2 && !lstrcmpW(argv[1], L"list")) {
        out_top_windows();
        flush_out();
        return 0;
    }
    if (argc >= 4 && !lstrcmpW(argv[1], L"inspect")) {
        WCHAR *caption = from_hex_utf8(argv[2]);
        DWORD timeout = (DWORD)_wtoi(argv[3]);
        int press = -1;
        if (!caption) return 2;
        if (argc >= 6 && !lstrcmpW(argv[4], L"--press")) press = _wtoi(argv[5]);
        /* --box: only a message box (it holds the text control 0xFFFF). */
        int need = -1;
        for (int i = 4; i < argc; ++i)
            if (!lstrcmpW(argv[i], L"--box")) need = 0xFFFF;
        HWND dlg = wait_dialog(caption, timeout, need);
        if (!dlg) { not_found(); return 1; }
        out_dialog(dlg);
        flush_out();
        return press >= 0 ? press_button(dlg, press) : 0;
    }
    if (argc >= 5 && !lstrcmpW(argv[1], L"press")) {
        WCHAR *caption = from_hex_utf8(argv[2]);
        if (!caption) return 2;
        HWND dlg = wait_dialog(caption, (DWORD)_wtoi(argv[4]), _wtoi(argv[3]));
        if (!dlg) { not_found(); return 1; }
        return press_button(dlg, _wtoi(argv[3]));
    }
    fputs("usage: robot inspect CAPTION_HEX TIMEOUT_MS [--press ID] [--box] | press CAPTION_HEX ID TIMEOUT_MS | list\n", stderr);
    return 2;
}
