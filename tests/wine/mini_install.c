/* The floor for the benchmark: only what any installer must do, MsiInstallProductW on the
   package with the same user-interface level the setup uses.
   mini_install PACKAGE [UILEVEL]   exit status: the engine's result */
#include <windows.h>
#include <msi.h>

int wmain(int argc, wchar_t **argv)
{
    if (argc < 2) return 2;
    MsiSetInternalUI(argc > 2 ? (INSTALLUILEVEL)_wtoi(argv[2]) : INSTALLUILEVEL_FULL, NULL);
    return (int)MsiInstallProductW(argv[1], L"");
}
