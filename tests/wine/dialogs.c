/*
 * dialogs.exe - finds, reads and drives the dialogs and message boxes of other processes in a
 * Wine prefix. "The dialog" is a top-level dialog (class "#32770") captioned exactly CAPTION,
 * waited for (bounded) up to TIMEOUT_MS; CAPTION_HEX and ITEM_HEX are texts as the hex of
 * their UTF-8 bytes, which survives Wine's command-line conversion. Output: one JSON line
 * (UTF-8) on stdout.
 *
 *   dialogs inspect CAPTION_HEX TIMEOUT_MS [--press ID] [--box]
 *       The first visible, enabled dialog (--box: only a message box, which holds the text
 *       control 0xFFFF): caption, message text (0xFFFF's, or null), the standard icon it
 *       shows, its buttons and all child controls; with --press, then presses button ID.
 *       While a message box is up, the setup's progress window (same caption) is disabled,
 *       so skipping disabled dialogs finds the box.
 *   dialogs press CAPTION_HEX ID TIMEOUT_MS
 *       Presses button ID (BM_CLICK) of the first visible, enabled dialog that has it.
 *   dialogs list
 *       The visible top-level windows: [{"class":"...","caption":"...","pid":N},...]
 *   Exit status of these three: 0 found (and pressed), 1 not found in time (prints
 *   {"found":false,"windows":[...]}), 2 bad arguments, 3 the button is missing or could not
 *   be pressed.
 *
 *   dialogs texts CAPTION_HEX TIMEOUT_MS
 *       The visible dialog's controls, icons not looked at:
 *         {"found":true,"pid":N,"controls":[{"id":N,"class":"...","text":"...","visible":true},...]}
 *   dialogs combo CAPTION_HEX CONTROL_ID TIMEOUT_MS [ITEM_HEX]
 *       The items of the visible dialog's combo box in list order and its selection:
 *         {"found":true,"items":["...",...],"cursel":N,"selected":"..."|null}
 *       With ITEM_HEX it then selects the item whose text is exactly ITEM as a user's choice
 *       reaches the dialog: CB_SETCURSEL, then WM_COMMAND with CBN_SELCHANGE to the dialog.
 *   Exit status of these two: 0 done, 1 no such dialog or control ({"found":false}), 2 bad
 *   arguments, 3 ITEM is not in the list or a message could not be delivered.
 *
 *   dialogs find CAPTION_HEX TIMEOUT_MS
 *       Waits for a message box: a visible dialog holding the control 0xFFFF. Prints nothing;
 *       exit status 0 when one is up, 1 when none came in time. The setup's progress window
 *       and its boxes share class and caption, and inspect takes the first such dialog, the
 *       box (above its owner) once it is up: waiting here first keeps inspect off the
 *       progress window.
 *   dialogs progress CAPTION_HEX
 *       The progress window, the dialog without the control 0xFFFF, visible or not (no wait):
 *         {"found":true,"visible":B,"title":"...","status":"...","low":N,"high":N,"pos":N}
 *       or {"found":false}. Exit status 0 (2 bad arguments).
 *   dialogs quit CAPTION_HEX
 *       Posts WM_QUIT to the thread of that progress window (the setup's main thread), as
 *       another program may do. Exit status 0 when posted, 1 when there is no such window.
 *
 * The icon is told by its pixels: the icon control's area is read back from the screen and
 * compared with each standard icon (LoadIcon(NULL, IDI_...)) drawn with DrawIconEx on the
 * same background. Icon handles cannot be compared: they are per process in Wine.
 */
#include "helper_common.h"

#include <commctrl.h>

/* ---------- reading windows ---------- */

#define TF(b) ((b) ? "true" : "false")

/* A message's result; -1 when H is NULL or the message could not be delivered (*OK = 0). */
static LRESULT send_msg(HWND h, UINT msg, WPARAM wp, LPARAM lp, int *ok)
{
    DWORD_PTR res = 0;
    if (h && SendMessageTimeoutW(h, msg, wp, lp, SMTO_ABORTIFHUNG, 5000, &res)) return (LRESULT)res;
    if (ok) *ok = 0;
    return -1;
}

static WCHAR *window_text(HWND h)
{
    LRESULT len = send_msg(h, WM_GETTEXTLENGTH, 0, 0, NULL), got = -1;
    if (len < 0) len = 0;
    WCHAR *buf = calloc((size_t)len + 2, sizeof(WCHAR));
    if (!buf) ExitProcess(4);
    if (len) got = send_msg(h, WM_GETTEXT, (WPARAM)len + 1, (LPARAM)buf, NULL);
    buf[got < 0 ? 0 : got <= len ? got : len] = 0;
    return buf;
}

/* The visible top-level windows. */
static BOOL CALLBACK top_proc(HWND h, LPARAM lp)
{
    WCHAR cls[256] = L"", cap[1024] = L"";
    if (!IsWindowVisible(h)) return TRUE;
    GetClassNameW(h, cls, 256);
    GetWindowTextW(h, cap, 1024);
    out_fmt("%s{\"class\":%s,\"caption\":%s,\"pid\":%lu}", out_comma(), json(cls), json(cap),
            (unsigned long)window_pid(h));
    return TRUE;
}
#define top_windows() window_list(NULL, top_proc, 0)

/* The child controls: all, or with BUTTONS only the visible push buttons; with FULL also
   each one's style and whether it is enabled. */
enum { BUTTONS = 1, FULL = 2 };

static BOOL CALLBACK child_proc(HWND h, LPARAM how)
{
    WCHAR cls[256] = L"";
    GetClassNameW(h, cls, 256);
    LONG style = GetWindowLongW(h, GWL_STYLE);
    int is_button = !lstrcmpiW(cls, L"Button") && (style & 0x0F) <= BS_DEFPUSHBUTTON;
    if ((how & BUTTONS) && (!is_button || !IsWindowVisible(h))) return TRUE;
    out_fmt("%s{\"id\":%d,\"class\":%s,\"text\":%s", out_comma(), GetDlgCtrlID(h), json(cls),
            json(window_text(h)));
    if (how & FULL) out_fmt(",\"style\":\"0x%08lX\"", (unsigned long)style);
    out_fmt(",\"visible\":%s", TF(IsWindowVisible(h)));
    if (how & FULL) out_fmt(",\"enabled\":%s", TF(IsWindowEnabled(h)));
    out_fmt("}");
    return TRUE;
}

/* ---------- icon recognition ---------- */

static BOOL CALLBACK find_icon_proc(HWND h, LPARAM lp)
{
    WCHAR cls[64];
    if (!GetClassNameW(h, cls, 64) || lstrcmpiW(cls, L"Static")) return TRUE;
    if ((GetWindowLongW(h, GWL_STYLE) & SS_TYPEMASK) != SS_ICON || !IsWindowVisible(h)) return TRUE;
    *(HWND *)lp = h;
    return FALSE;
}

static const struct { const char *name; LPCWSTR id; } std_icons[] = {
    { "information", IDI_ASTERISK }, { "warning", IDI_EXCLAMATION }, { "error", IDI_HAND },
    { "question", IDI_QUESTION }, { "application", IDI_APPLICATION },
};
#define N_ICONS (sizeof std_icons / sizeof std_icons[0])

/* One look at a dialog's icon control: the standard icon it matches, "blank" (nothing drawn
   yet), "unknown" or "none" (no icon control); per-icon mismatch ratios (per mille). */
struct icon_look { HWND dlg; const char *name; int scores[N_ICONS]; HICON shown; };

static int look_at_icon(void *p)
{
    struct icon_look *k = p;
    HWND ctl = NULL;
    k->name = "none";
    k->shown = NULL;
    for (unsigned i = 0; i < N_ICONS; i++) k->scores[i] = -1;
    EnumChildWindows(k->dlg, find_icon_proc, (LPARAM)&ctl);
    if (!ctl) return 1;
    k->name = "unknown";
    k->shown = (HICON)send_msg(ctl, STM_GETICON, 0, 0, NULL);
    if (k->shown == (HICON)-1) k->shown = NULL;

    RECT r;
    POINT org = { 0, 0 };
    GetClientRect(ctl, &r);
    ClientToScreen(ctl, &org);
    int w = r.right, h = r.bottom;
    if (w <= 0 || h <= 0 || w > 512 || h > 512) return 0;

    /* One top-down 32 bpp bitmap: the shot of the control in its upper half, each standard
       icon drawn in its lower half. */
    HDC screen = GetDC(NULL), mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = { { sizeof bi.bmiHeader, w, -2 * h, 1, 32, BI_RGB } };
    DWORD *shot = NULL;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, (void **)&shot, NULL, 0);
    if (shot) {
        DWORD *ref = shot + w * h;
        HGDIOBJ old = SelectObject(mem, bmp);
        BitBlt(mem, 0, 0, w, h, screen, org.x, org.y, SRCCOPY);
        GdiFlush();
        int uniform = 1; /* nothing drawn yet: every pixel equal */
        for (int i = 1; i < w * h && uniform; i++) uniform = !((shot[i] ^ shot[0]) & 0xffffff);
        if (uniform) k->name = "blank";
        /* The background is whatever surrounds the icon: the corner pixel, which the
           standard icons leave transparent. */
        DWORD bg = shot[0] & 0xffffff;
        int best = -1, best_score = 1001, second = 1001;
        for (unsigned n = 0; n < N_ICONS && !uniform; n++) {
            HICON ic = LoadIconW(NULL, std_icons[n].id);
            for (int i = 0; i < w * h; i++) ref[i] = bg;
            if (ic) DrawIconEx(mem, 0, h, ic, w, h, 0, NULL, DI_NORMAL);
            GdiFlush();
            int diff = 0; /* pixels of which a channel is off by more than 24 */
            for (int i = 0; i < w * h; i++)
                for (int s = 0; s < 24; s += 8)
                    if (abs((int)(shot[i] >> s & 0xff) - (int)(ref[i] >> s & 0xff)) > 24) { diff++; break; }
            int score = k->scores[n] = (int)((diff * 1000LL) / (w * h));
            if (score < best_score) { second = best_score; best_score = score; best = (int)n; }
            else if (score < second) second = score;
        }
        SelectObject(mem, old);
        /* A match must be close to exact and clearly better than any other icon (Wine's
           information and question icons differ in about 7% of their pixels). */
        if (best >= 0 && best_score <= 20 && second - best_score >= 40) k->name = std_icons[best].name;
    }
    if (bmp) DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(NULL, screen);
    return strcmp(k->name, "blank") && strcmp(k->name, "unknown");
}

/* ---------- the subcommands ---------- */

static void out_dialog(HWND dlg)
{
    HWND txt = GetDlgItem(dlg, 0xFFFF);
    char *cap = json(window_text(dlg)), *text = json(txt ? window_text(txt) : NULL);
    out_fmt("{\"found\":true,\"pid\":%lu,\"caption\":%s,\"text\":%s", (unsigned long)window_pid(dlg), cap,
            text);

    /* The box may not be painted yet when it first becomes visible: look again, bounded. */
    struct icon_look k = { dlg };
    wait_for(look_at_icon, &k, 5000, 50);
    out_fmt(",\"icon\":\"%s\",\"icon_scores\":{", k.name);
    for (unsigned n = 0; n < N_ICONS; n++)
        out_fmt("%s\"%s\":%d", n ? "," : "", std_icons[n].name, k.scores[n]);
    /* For the record: whether the handle the control holds equals ours (it does not in
       Wine, where icon handles belong to the process that loaded them). */
    const char *handle_match = k.shown ? "different" : "none";
    for (unsigned n = 0; n < N_ICONS && k.shown; n++)
        if (LoadIconW(NULL, std_icons[n].id) == k.shown) { handle_match = std_icons[n].name; break; }
    char *buttons = window_list(dlg, child_proc, BUTTONS | FULL), *all = window_list(dlg, child_proc, FULL);
    out_fmt("},\"icon_handle_match\":\"%s\",\"buttons\":%s,\"controls\":%s}\n", handle_match, buttons, all);
    out_flush();
}

static int press_button(HWND dlg, int id)
{
    HWND b = GetDlgItem(dlg, id);
    if (!b || !IsWindowVisible(b)) return 3;
    /* BM_CLICK sends the BN_CLICKED notification from inside the dialog's own thread. */
    return send_msg(b, BM_CLICK, 0, 0, NULL) == -1
           && !PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)b) ? 3 : 0;
}

static int not_found(int with_windows)
{
    if (with_windows) out_fmt("{\"found\":false,\"windows\":%s}\n", top_windows());
    else out_fmt("{\"found\":false}\n");
    return out_done(1);
}

static int combo(HWND dlg, int id, const WCHAR *want)
{
    HWND box = GetDlgItem(dlg, id);
    if (!box) return not_found(0);
    int ok = 1, match = -1;
    int count = (int)send_msg(box, CB_GETCOUNT, 0, 0, &ok);
    int cursel = (int)send_msg(box, CB_GETCURSEL, 0, 0, &ok);
    WCHAR *selected = NULL;
    out_fmt("{\"found\":true,\"items\":[");
    for (int i = 0; i < count && ok; i++) {
        int len = (int)send_msg(box, CB_GETLBTEXTLEN, i, 0, &ok);
        WCHAR *text = calloc(len < 0 ? 1 : (size_t)len + 1, sizeof(WCHAR));
        if (len > 0) send_msg(box, CB_GETLBTEXT, i, (LPARAM)text, &ok);
        out_fmt("%s%s", i ? "," : "", json(text));
        if (want && match < 0 && !lstrcmpW(text, want)) match = i;
        if (i == cursel) selected = text;
    }
    out_fmt("],\"cursel\":%d,\"selected\":%s}\n", cursel, json(selected));
    out_flush();
    if (!ok || (want && match < 0)) return 3;
    if (!want) return 0;
    send_msg(box, CB_SETCURSEL, match, 0, &ok);
    send_msg(dlg, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), (LPARAM)box, &ok);
    return ok ? 0 : 3;
}

static int progress(HWND dlg)
{
    if (!dlg) { not_found(0); return 0; }
    HWND bar = GetDlgItem(dlg, 104);
    char *title = json(window_text(GetDlgItem(dlg, 103))), *status = json(window_text(GetDlgItem(dlg, 105)));
    out_fmt("{\"found\":true,\"visible\":%s,\"title\":%s,\"status\":%s", TF(IsWindowVisible(dlg)), title,
            status);
    out_fmt(",\"low\":%ld,\"high\":%ld,\"pos\":%ld}\n", (long)send_msg(bar, PBM_GETRANGE, TRUE, 0, NULL),
            (long)send_msg(bar, PBM_GETRANGE, FALSE, 0, NULL), (long)send_msg(bar, PBM_GETPOS, 0, 0, NULL));
    return out_done(0);
}

int wmain(int argc, WCHAR **argv)
{
    const WCHAR *verb = argc > 1 ? argv[1] : L"";
    WCHAR *caption = argc > 2 ? from_hex_utf8(argv[2]) : NULL;
    int n = argc - 3; /* arguments after the caption */
    SetProcessDPIAware();
    if (!lstrcmpW(verb, L"list")) { out_fmt("%s\n", top_windows()); return out_done(0); }
    if (caption && !lstrcmpW(verb, L"inspect") && n >= 1) {
        int press = -1, need = -1;
        for (int i = 4; i < argc; i++) {
            if (!lstrcmpW(argv[i], L"--press") && i + 1 < argc) press = _wtoi(argv[++i]);
            else if (!lstrcmpW(argv[i], L"--box")) need = 0xFFFF;
        }
        HWND dlg = wait_dialog(caption, DLG_VISIBLE | DLG_ENABLED, need, (DWORD)_wtoi(argv[3]));
        if (!dlg) return not_found(1);
        out_dialog(dlg);
        return press >= 0 ? press_button(dlg, press) : 0;
    }
    if (caption && !lstrcmpW(verb, L"press") && n >= 2) {
        int id = _wtoi(argv[3]);
        HWND dlg = wait_dialog(caption, DLG_VISIBLE | DLG_ENABLED, id, (DWORD)_wtoi(argv[4]));
        return dlg ? press_button(dlg, id) : not_found(1);
    }
    if (caption && !lstrcmpW(verb, L"texts") && n == 1) {
        HWND dlg = wait_dialog(caption, DLG_VISIBLE, -1, (DWORD)_wtoi(argv[3]));
        if (!dlg) return not_found(0);
        out_fmt("{\"found\":true,\"pid\":%lu,\"controls\":%s}\n", (unsigned long)window_pid(dlg),
                window_list(dlg, child_proc, 0));
        return out_done(0);
    }
    if (caption && !lstrcmpW(verb, L"combo") && (n == 2 || n == 3)) {
        WCHAR *want = n == 3 ? from_hex_utf8(argv[5]) : NULL;
        if (n == 3 && !want) return 2;
        HWND dlg = wait_dialog(caption, DLG_VISIBLE, -1, (DWORD)_wtoi(argv[4]));
        return dlg ? combo(dlg, _wtoi(argv[3]), want) : not_found(0);
    }
    if (caption && !lstrcmpW(verb, L"find") && n >= 1)
        return wait_dialog(caption, DLG_VISIBLE, 0xFFFF, (DWORD)_wtoi(argv[3])) ? 0 : 1;
    if (caption && (!lstrcmpW(verb, L"progress") || !lstrcmpW(verb, L"quit"))) {
        HWND dlg = wait_dialog(caption, DLG_WITHOUT, 0xFFFF, 0);
        if (!lstrcmpW(verb, L"progress")) return progress(dlg);
        return dlg && PostThreadMessageW(GetWindowThreadProcessId(dlg, NULL), WM_QUIT, 0, 0) ? 0 : 1;
    }
    fputs("usage: dialogs inspect CAPTION_HEX TIMEOUT_MS [--press ID] [--box]\n"
          "     | dialogs press CAPTION_HEX ID TIMEOUT_MS | dialogs list\n"
          "     | dialogs texts CAPTION_HEX TIMEOUT_MS\n"
          "     | dialogs combo CAPTION_HEX CONTROL_ID TIMEOUT_MS [ITEM_HEX]\n"
          "     | dialogs find CAPTION_HEX TIMEOUT_MS | dialogs progress|quit CAPTION_HEX\n", stderr);
    return 2;
}
