#pragma once
// DLLs from the system folder only. The program runs from wherever it was
// downloaded to, elevated; a DLL planted beside it must never be loaded.
#include <windows.h>

// Makes the system folder the only place the loader looks for DLLs named
// without a path (the delay-loaded imports among them). Called first thing at
// start; false where the system has no such setting (Windows 7 without its
// loader update), where the current folder at least is taken out of the search.
bool RestrictDllSearchToSystemFolder();

// A DLL from the system folder, for code (flags 0) or as data; null with the
// loader's error when it cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* name, DWORD flags = 0);
