#pragma once
// The bytes of a resource the system found: mapped with the module, never
// freed, valid for as long as the module is loaded.
#include <windows.h>

#include <cstddef>

struct ResourceBytes {
    const unsigned char* data = nullptr;  // null when the resource could not be loaded
    size_t size = 0;
};
ResourceBytes LoadResourceBytes(HMODULE module, HRSRC found);
