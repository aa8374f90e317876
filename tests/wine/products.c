/*
 * products.exe - what the prefix's Windows Installer engine knows about products, and
 * installing or removing one without any user interface, for the install-run tests.
 *
 *   products state PRODUCTCODE...
 *       One line per product code given:  {PRODUCT-CODE} STATE SOURCE
 *       STATE is MsiQueryProductStateW's value (5 installed, -1 unknown, 1 advertised, ...);
 *       SOURCE is the product's InstallSource (the folder its package was installed from),
 *       or "-" when the engine has none.
 *   products install PACKAGE      prints MsiInstallProductW's result (empty command line)
 *   products remove PRODUCTCODE   prints MsiConfigureProductW's result for INSTALLSTATE_ABSENT
 *
 * Linked against msi.dll by import, so it always uses the engine of the system directory,
 * whatever "InstallerLocation" says. UTF-8 on stdout. Exit status 0, or 2 for bad arguments.
 */
#include "helper_common.h"

#include <msi.h>

int wmain(int argc, WCHAR **argv)
{
    const WCHAR *verb = argc > 1 ? argv[1] : L"";
    if (!lstrcmpW(verb, L"state") && argc > 2) {
        for (int i = 2; i < argc; i++) {
            WCHAR source[1024];
            DWORD len = 1024;
            if (MsiGetProductInfoW(argv[i], INSTALLPROPERTY_INSTALLSOURCE, source, &len) != ERROR_SUCCESS
                || !source[0])
                lstrcpyW(source, L"-");
            out_fmt("%s %d %s\n", to_utf8(argv[i]), (int)MsiQueryProductStateW(argv[i]), to_utf8(source));
        }
        return out_done(0);
    }
    MsiSetInternalUI(INSTALLUILEVEL_NONE, NULL);
    if (!lstrcmpW(verb, L"install") && argc == 3)
        out_fmt("%u\n", MsiInstallProductW(argv[2], L""));
    else if (!lstrcmpW(verb, L"remove") && argc == 3)
        out_fmt("%u\n", MsiConfigureProductW(argv[2], INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT));
    else {
        fputs("usage: products state PRODUCTCODE... | install PACKAGE | remove PRODUCTCODE\n", stderr);
        return 2;
    }
    return out_done(0);
}
