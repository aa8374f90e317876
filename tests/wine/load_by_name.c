/* Loads a library by its bare name, the way a planting attack expects a program to: proves
   that a planted DLL beside the program would be found and would leave its marker. */
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    return LoadLibraryW(argv[1]) ? 0 : 1;
}
