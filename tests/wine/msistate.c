/*
 * msistate.exe - what the installer engine knows about products, one line per product
 * code given:
 *   {PRODUCT-CODE} STATE SOURCE
 * STATE is MsiQueryProductStateW's value (5 installed, -1 unknown, 1 advertised, ...);
 * SOURCE is the product's InstallSource (the folder its package was installed from), or
 * "-" when the engine has none. UTF-8 on stdout.
 */
#include <windows.h>
#include <msi.h>
#include <stdio.h>
#include <string.h>

static void out(const char *s)
{
    DWORD done;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), s, (DWORD)strlen(s), &done, NULL);
}

int wmain(int argc, WCHAR **argv)
{
    for (int i = 1; i < argc; i++) {
        INSTALLSTATE s = MsiQueryProductStateW(argv[i]);
        WCHAR source[1024];
        DWORD len = 1024;
        if (MsiGetProductInfoW(argv[i], INSTALLPROPERTY_INSTALLSOURCE, source, &len) != ERROR_SUCCESS
            || !source[0])
            lstrcpyW(source, L"-");
        WCHAR wline[1200];
        _snwprintf(wline, 1199, L"%ls %d %ls\n", argv[i], (int)s, source);
        wline[1199] = 0;
        char line[3600];
        WideCharToMultiByte(CP_UTF8, 0, wline, -1, line, sizeof line, NULL, NULL);
        out(line);
    }
    return argc > 1 ? 0 : 2;
}
