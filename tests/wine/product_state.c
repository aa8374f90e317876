/*
 * product_state.exe - asks the prefix's Windows Installer engine about one product, or
 * installs or removes it without any user interface, for the install-run tests.
 *
 *   product_state query PRODUCTCODE    prints MsiQueryProductStateW's value
 *                                      (5 installed, -1 unknown)
 *   product_state install PACKAGE      prints MsiInstallProductW's result (empty command line)
 *   product_state remove PRODUCTCODE   prints MsiConfigureProductW's result for
 *                                      INSTALLSTATE_ABSENT
 *
 * Linked against msi.dll by import, so it always uses the engine of the system directory,
 * whatever "InstallerLocation" says. Exit status 0, or 2 for bad arguments.
 */
#include <windows.h>
#include <msi.h>
#include <stdio.h>

int wmain(int argc, WCHAR **argv)
{
    if (argc != 3) {
        fputs("usage: product_state query|remove PRODUCTCODE | install PACKAGE\n", stderr);
        return 2;
    }
    if (!lstrcmpW(argv[1], L"query")) {
        printf("%d\n", (int)MsiQueryProductStateW(argv[2]));
        return 0;
    }
    MsiSetInternalUI(INSTALLUILEVEL_NONE, NULL);
    if (!lstrcmpW(argv[1], L"install")) {
        printf("%u\n", MsiInstallProductW(argv[2], L""));
        return 0;
    }
    if (!lstrcmpW(argv[1], L"remove")) {
        printf("%u\n", MsiConfigureProductW(argv[2], INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT));
        return 0;
    }
    fputs("usage: product_state query|remove PRODUCTCODE | install PACKAGE\n", stderr);
    return 2;
}
