/*
 * fake_instmsi.c - a stand-in for the Windows Installer redistributable ("InstMSIW.exe")
 * in the Wine tests. It installs nothing. It appends its full command line, as one UTF-8
 * line, to C:\fake-instmsi\calls.log, and exits with the decimal number found in the file
 * "instmsi-exit.txt" beside it, or else in C:\fake-instmsi\instmsi-exit.txt (a downloaded
 * copy runs from the download cache, where no such file is), or 0 when neither can be read.
 * Its file version comes from fake_instmsi.rc (FAKE_VERSION_MAJOR/MINOR at build time).
 */
#include "helper_common.h"

#define CONTROL_DIR L"C:\\fake-instmsi"

/* *CODE: the number that PATH begins with (its first 31 bytes); 0 when PATH cannot be read. */
static int read_code(const WCHAR *path, DWORD *code)
{
    DWORD got;
    char *text = read_file(path, 31, &got);
    if (text) *code = strtoul(text, NULL, 10);
    return text != NULL;
}

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE prev, LPWSTR args, int show)
{
    CreateDirectoryW(CONTROL_DIR, NULL);
    HANDLE log = CreateFileW(CONTROL_DIR L"\\calls.log", FILE_APPEND_DATA, FILE_SHARE_READ, NULL,
                             OPEN_ALWAYS, 0, NULL);
    if (log != INVALID_HANDLE_VALUE) {
        out_fmt("%s\n", to_utf8(GetCommandLineW()));
        out_write(log);
        CloseHandle(log);
    }
    WCHAR path[MAX_PATH + 32], *slash;
    DWORD len = GetModuleFileNameW(NULL, path, MAX_PATH), code = 0;
    if (len && len < MAX_PATH && (slash = wcsrchr(path, L'\\'))) {
        lstrcpyW(slash + 1, L"instmsi-exit.txt");
        if (read_code(path, &code)) return (int)code;
    }
    read_code(CONTROL_DIR L"\\instmsi-exit.txt", &code);
    return (int)code;
}
