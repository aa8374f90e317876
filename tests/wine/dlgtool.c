/*
 * dlgtool.exe - reads the controls of another process's dialog and makes choices in its
 * combo boxes, from inside the Wine prefix. A quicker companion of robot.exe for windows
 * that are not message boxes (it does not look at icons).
 *
 *   dlgtool texts CAPTION_HEX TIMEOUT_MS
 *       Waits (bounded) for a visible top-level dialog (class "#32770") captioned exactly
 *       CAPTION and prints one JSON line (UTF-8):
 *         {"found":true,"pid":N,"controls":[{"id":N,"class":"...","text":"...",
 *          "visible":true},...]}
 *   dlgtool combo CAPTION_HEX CONTROL_ID TIMEOUT_MS [ITEM_HEX]
 *       Waits for the dialog and prints the combo box's items in list order and its
 *       selection:  {"found":true,"items":["...",...],"cursel":N,"selected":"..."|null}
 *       With ITEM_HEX it then selects the item whose text is exactly ITEM the way a user's
 *       choice reaches the dialog: CB_SETCURSEL, then WM_COMMAND with CBN_SELCHANGE to the
 *       dialog.
 *
 * Texts are hexadecimal UTF-8, like robot.exe's captions. When the dialog is not found,
 * {"found":false} is printed.
 * Exit status: 0 done, 1 no such dialog or control, 2 bad arguments, 3 ITEM is not in the
 * list or a message could not be delivered.
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include "helper_text.h"

static void out_json(const WCHAR *w)
{
    if (!w) { fputs("null", stdout); return; }
    putchar('"');
    for (; *w; w++) {
        WCHAR c = *w;
        if (c == '"' || c == '\\') printf("\\%c", (char)c);
        else if (c == '\n') fputs("\\n", stdout);
        else if (c < 0x20 || (c >= 0xD800 && c <= 0xDFFF)) printf("\\u%04x", c);
        else if (c < 0x80) putchar((char)c);
        else {
            char u8[4];
            int k = WideCharToMultiByte(CP_UTF8, 0, &c, 1, u8, sizeof u8, NULL, NULL);
            fwrite(u8, 1, (size_t)k, stdout);
        }
    }
    putchar('"');
}

struct find_ctx { const WCHAR *caption; HWND found; };

static BOOL CALLBACK find_proc(HWND h, LPARAM lp)
{
    struct find_ctx *ctx = (struct find_ctx *)lp;
    WCHAR cls[64], cap[1024];
    if (!IsWindowVisible(h)) return TRUE;
    if (!GetClassNameW(h, cls, 64) || lstrcmpW(cls, L"#32770")) return TRUE;
    cap[0] = 0;
    GetWindowTextW(h, cap, 1024);
    if (lstrcmpW(cap, ctx->caption)) return TRUE;
    ctx->found = h;
    return FALSE;
}

static HWND wait_dialog(const WCHAR *caption, DWORD timeout)
{
    struct find_ctx ctx = { caption, NULL };
    for (DWORD start = GetTickCount();;) {
        EnumWindows(find_proc, (LPARAM)&ctx);
        if (ctx.found || GetTickCount() - start >= timeout) return ctx.found;
        Sleep(20);
    }
}

static LRESULT send_msg(HWND h, UINT msg, WPARAM wp, LPARAM lp, int *ok)
{
    DWORD_PTR res = 0;
    if (!SendMessageTimeoutW(h, msg, wp, lp, SMTO_ABORTIFHUNG, 5000, &res)) *ok = 0;
    return (LRESULT)res;
}

static WCHAR *window_text(HWND h)
{
    int ok = 1;
    LRESULT len = send_msg(h, WM_GETTEXTLENGTH, 0, 0, &ok);
    if (!ok || len < 0) len = 0;
    WCHAR *buf = calloc((size_t)len + 2, sizeof(WCHAR));
    if (len) send_msg(h, WM_GETTEXT, (WPARAM)len + 1, (LPARAM)buf, &ok);
    buf[len] = 0;
    return buf;
}

static int first_control;

static BOOL CALLBACK control_proc(HWND h, LPARAM lp)
{
    WCHAR cls[256];
    (void)lp;
    cls[0] = 0;
    GetClassNameW(h, cls, 256);
    WCHAR *text = window_text(h);
    printf("%s{\"id\":%d,\"class\":", first_control ? "" : ",", GetDlgCtrlID(h));
    first_control = 0;
    out_json(cls);
    fputs(",\"text\":", stdout);
    out_json(text);
    printf(",\"visible\":%s}", IsWindowVisible(h) ? "true" : "false");
    free(text);
    return TRUE;
}

static int texts(HWND dlg)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(dlg, &pid);
    printf("{\"found\":true,\"pid\":%lu,\"controls\":[", (unsigned long)pid);
    first_control = 1;
    EnumChildWindows(dlg, control_proc, 0);
    puts("]}");
    return 0;
}

static int combo(HWND dlg, int id, const WCHAR *want)
{
    HWND box = GetDlgItem(dlg, id);
    if (!box) {
        puts("{\"found\":false}");
        return 1;
    }
    int ok = 1, match = -1;
    int count = (int)send_msg(box, CB_GETCOUNT, 0, 0, &ok);
    int cursel = (int)send_msg(box, CB_GETCURSEL, 0, 0, &ok);
    WCHAR *selected = NULL;
    fputs("{\"found\":true,\"items\":[", stdout);
    for (int i = 0; i < count && ok; i++) {
        int len = (int)send_msg(box, CB_GETLBTEXTLEN, i, 0, &ok);
        if (len < 0) len = 0;
        WCHAR *text = calloc((size_t)len + 1, sizeof(WCHAR));
        send_msg(box, CB_GETLBTEXT, i, (LPARAM)text, &ok);
        if (i) putchar(',');
        out_json(text);
        if (want && match < 0 && !lstrcmpW(text, want)) match = i;
        if (i == cursel) selected = text;
        else free(text);
    }
    printf("],\"cursel\":%d,\"selected\":", cursel);
    out_json(selected);
    puts("}");
    if (!ok) return 3;
    if (!want) return 0;
    if (match < 0) return 3;
    send_msg(box, CB_SETCURSEL, match, 0, &ok);
    send_msg(dlg, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), (LPARAM)box, &ok);
    return ok ? 0 : 3;
}

int wmain(int argc, WCHAR **argv)
{
    int rc = 2;
    if (argc == 4 && !lstrcmpW(argv[1], L"texts")) {
        WCHAR *caption = from_hex_utf8(argv[2]);
        if (!caption) return 2;
        HWND dlg = wait_dialog(caption, (DWORD)_wtoi(argv[3]));
        if (!dlg) { puts("{\"found\":false}"); rc = 1; }
        else rc = texts(dlg);
    } else if ((argc == 5 || argc == 6) && !lstrcmpW(argv[1], L"combo")) {
        WCHAR *caption = from_hex_utf8(argv[2]);
        WCHAR *want = argc == 6 ? from_hex_utf8(argv[5]) : NULL;
        if (!caption || (argc == 6 && !want)) return 2;
        HWND dlg = wait_dialog(caption, (DWORD)_wtoi(argv[4]));
        if (!dlg) { puts("{\"found\":false}"); rc = 1; }
        else rc = combo(dlg, _wtoi(argv[3]), want);
    } else {
        fputs("usage: dlgtool texts CAPTION_HEX TIMEOUT_MS | "
              "combo CAPTION_HEX CONTROL_ID TIMEOUT_MS [ITEM_HEX]\n", stderr);
    }
    fflush(stdout);
    return rc;
}
