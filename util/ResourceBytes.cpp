#include "ResourceBytes.h"

ResourceBytes LoadResourceBytes(HMODULE module, HRSRC found) {
    ResourceBytes bytes;
    if (!found) return bytes;
    HGLOBAL loaded = ::LoadResource(module, found);
    bytes.data = loaded ? static_cast<const unsigned char*>(::LockResource(loaded)) : nullptr;
    if (bytes.data) bytes.size = ::SizeofResource(module, found);
    return bytes;
}
