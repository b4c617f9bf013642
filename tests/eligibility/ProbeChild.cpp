// A process for the probes to find: runs until the named event given as its
// argument is set (or a minute has passed, so it never lingers).
#include <windows.h>

#include "util/Handles.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const tamsel::KernelHandle done(::OpenEventW(SYNCHRONIZE, FALSE, argv[1]));
    if (!done) return 1;
    return ::WaitForSingleObject(done.Get(), 60000) == WAIT_OBJECT_0 ? 0 : 3;
}
