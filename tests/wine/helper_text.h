/* Text helpers shared by the Wine test helpers. */
#ifndef KAVRIN_TEST_HELPER_TEXT_H
#define KAVRIN_TEST_HELPER_TEXT_H

#include <windows.h>
#include <stdlib.h>

/* A caption passed on the command line as the hex of its UTF-8 bytes, so that no shell or
   code page can change it on the way; NULL when the hex is malformed. */
static WCHAR *from_hex_utf8(const WCHAR *hex)
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

#endif
