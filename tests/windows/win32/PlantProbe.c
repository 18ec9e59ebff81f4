/* The Windows tier's control for planted DLLs: a program that does not
 * restrict its DLL search loads each DLL named on its command line by name,
 * as most programs load what they need. Beside a planted marker, the marker
 * runs; that is what the tier shows the programs do not do. */
#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    int nLoaded = 0;
    for (int n = 1; n < argc; ++n) {
        if (LoadLibraryW(argv[n]) != NULL) {
            ++nLoaded;
        }
    }
    return nLoaded == argc - 1 ? 0 : 1;
}
