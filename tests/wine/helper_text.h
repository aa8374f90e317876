/* Text helpers shared by the Wine test helpers. */
#ifndef KAVRIN_TEST_HELPER_TEXT_H
#define KAVRIN_TEST_HELPER_TEXT_H

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Each helper uses some of these; the rest must not warn. */
#define KAVRIN_HELPER __attribute__((unused))

/* A caption passed on the command line as the hex of its UTF-8 bytes, so that no shell or
   code page can change it on the way; NULL when the hex is malformed. */
static KAVRIN_HELPER WCHAR *from_hex_utf8(const WCHAR *hex)
{
    int n = lstrlenW(hex);
    if (n % 2) return NULL;
    char *bytes = malloc((size_t)n / 2 + 1);
    for (int i = 0; i < n / 2; i++) {
        WCHAR pair[3] = { hex[2 * i], hex[2 * i + 1], 0 };
        WCHAR *end;
        long v = wcstol(pair, &end, 16);
        if (*end) { free(bytes); return NULL; }
        bytes[i] = (char)v;
    }
    int wn = MultiByteToWideChar(CP_UTF8, 0, bytes, n / 2, NULL, 0);
    WCHAR *w = calloc((size_t)wn + 1, sizeof(WCHAR));
    MultiByteToWideChar(CP_UTF8, 0, bytes, n / 2, w, wn);
    free(bytes);
    return w;
}

/* The whole of a UTF-8 text file as UTF-16; NULL when it cannot be read. */
static KAVRIN_HELPER WCHAR *read_utf8_file(const WCHAR *path)
{
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE) return NULL;
    DWORD size = GetFileSize(f, NULL), got = 0;
    char *bytes = malloc(size + 1);
    if (!bytes || !ReadFile(f, bytes, size, &got, NULL)) { CloseHandle(f); return NULL; }
    CloseHandle(f);
    int n = MultiByteToWideChar(CP_UTF8, 0, bytes, (int)got, NULL, 0);
    WCHAR *w = calloc((size_t)n + 1, sizeof(WCHAR));
    MultiByteToWideChar(CP_UTF8, 0, bytes, (int)got, w, n);
    free(bytes);
    return w;
}

/* A UTF-8 copy of a UTF-16 string (malloc'ed). */
static KAVRIN_HELPER char *to_utf8(const WCHAR *w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, NULL, 0, NULL, NULL);
    char *s = malloc((size_t)n);
    WideCharToMultiByte(CP_UTF8, 0, w, -1, s, n, NULL, NULL);
    return s;
}

/* One line on stdout, flushed at once: the harness reads it while the helper runs. */
static KAVRIN_HELPER void out_line(const char *s)
{
    DWORD done;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), s, (DWORD)strlen(s), &done, NULL);
}

#endif
