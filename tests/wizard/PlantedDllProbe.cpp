// Loads each DLL named on its command line by bare name, as a program that
// leaves the loader's search order alone does: from its own folder first.
// Exit code: how many loaded.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    int loaded = 0;
    for (int i = 1; i < argc; ++i)
        if (::LoadLibraryW(argv[i])) ++loaded;
    return loaded;
}
