/*
 * dlgprobe.exe - looks at the setup's own windows from inside the Wine prefix.
 *
 *   dlgprobe box CAPTION_HEX TIMEOUT_MS
 *       Waits (bounded) until a message box is up: a visible top-level dialog (class
 *       "#32770") captioned exactly CAPTION that has the message text control (id
 *       0xFFFF). Exit status 0 when one is up, 1 when none came within the time limit.
 *   dlgprobe progress CAPTION_HEX
 *       Prints one JSON object about the progress window, the dialog captioned CAPTION
 *       without a message text control, visible or not:
 *         {"found":true,"visible":B,"title":"...","status":"...","low":N,"high":N,"pos":N}
 *       or {"found":false}. Exit status 0.
 *
 * The setup's progress window and its message boxes share class and caption; robot.exe
 * takes the first dialog with the caption, which is the box (a box stays above the window
 * that owns it) once one is up. Waiting here first keeps robot from inspecting the
 * progress window instead. CAPTION_HEX is the caption as hexadecimal UTF-8 bytes.
 * Exit status 2: bad arguments.
 */
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>

#include "helper_text.h"

struct find_ctx { const WCHAR *caption; int want_box; int visible_only; HWND found; };

static BOOL CALLBACK find_proc(HWND h, LPARAM lp)
{
    struct find_ctx *ctx = (struct find_ctx *)lp;
    WCHAR cls[64], cap[1024];
    if (ctx->visible_only && !IsWindowVisible(h)) return TRUE;
    if (!GetClassNameW(h, cls, 64) || lstrcmpW(cls, L"#32770")) return TRUE;
    cap[0] = 0;
    GetWindowTextW(h, cap, 1024);
    if (lstrcmpW(cap, ctx->caption)) return TRUE;
    if ((GetDlgItem(h, 0xFFFF) != NULL) != ctx->want_box) return TRUE;
    ctx->found = h;
    return FALSE;
}

static void out(const char *s)
{
    DWORD done;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), s, (DWORD)strlen(s), &done, NULL);
}

/* The text of a control as a JSON string (ASCII escapes, the rest as UTF-8). */
static void out_text(HWND dlg, int id)
{
    WCHAR w[1024];
    DWORD_PTR got = 0;
    HWND c = GetDlgItem(dlg, id);
    w[0] = 0;
    if (!c || !SendMessageTimeoutW(c, WM_GETTEXT, 1024, (LPARAM)w, SMTO_ABORTIFHUNG, 2000, &got))
        w[0] = 0;
    w[1023] = 0;
    out("\"");
    for (WCHAR *p = w; *p; p++) {
        char buf[16];
        if (*p == '"' || *p == '\\') { buf[0] = '\\'; buf[1] = (char)*p; buf[2] = 0; }
        else if (*p < 0x20) sprintf(buf, "\\u%04x", *p);
        else if (*p < 0x80) { buf[0] = (char)*p; buf[1] = 0; }
        else { int k = WideCharToMultiByte(CP_UTF8, 0, p, 1, buf, 8, NULL, NULL); buf[k] = 0; }
        out(buf);
    }
    out("\"");
}

static LRESULT send_to(HWND h, UINT msg, WPARAM w)
{
    DWORD_PTR r = 0;
    if (!h || !SendMessageTimeoutW(h, msg, w, 0, SMTO_ABORTIFHUNG, 2000, &r)) return -1;
    return (LRESULT)r;
}

int wmain(int argc, WCHAR **argv)
{
    if (argc >= 4 && !lstrcmpW(argv[1], L"box")) {
        struct find_ctx ctx = { from_hex_utf8(argv[2]), 1, 1, NULL };
        if (!ctx.caption) return 2;
        DWORD timeout = (DWORD)_wtoi(argv[3]), start = GetTickCount();
        for (;;) {
            EnumWindows(find_proc, (LPARAM)&ctx);
            if (ctx.found) return 0;
            if (GetTickCount() - start >= timeout) return 1;
            Sleep(20);
        }
    }
    if (argc >= 3 && !lstrcmpW(argv[1], L"progress")) {
        struct find_ctx ctx = { from_hex_utf8(argv[2]), 0, 0, NULL };
        if (!ctx.caption) return 2;
        EnumWindows(find_proc, (LPARAM)&ctx);
        if (!ctx.found) { out("{\"found\":false}\n"); return 0; }
        HWND bar = GetDlgItem(ctx.found, 104);
        char buf[160];
        sprintf(buf, "{\"found\":true,\"visible\":%s,\"title\":", IsWindowVisible(ctx.found) ? "true" : "false");
        out(buf);
        out_text(ctx.found, 103);
        out(",\"status\":");
        out_text(ctx.found, 105);
        sprintf(buf, ",\"low\":%ld,\"high\":%ld,\"pos\":%ld}\n", (long)send_to(bar, PBM_GETRANGE, TRUE),
                (long)send_to(bar, PBM_GETRANGE, FALSE), (long)send_to(bar, PBM_GETPOS, 0));
        out(buf);
        return 0;
    }
    fputs("usage: dlgprobe box CAPTION_HEX TIMEOUT_MS | progress CAPTION_HEX\n", stderr);
    return 2;
}
