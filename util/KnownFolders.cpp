#include "KnownFolders.h"

#include <shlobj.h>

#include "Handles.h"

std::wstring GetKnownFolderPath(REFKNOWNFOLDERID id, bool defaultUser) {
    tamsel::CoTaskMem<wchar_t> path;
    const HANDLE token = defaultUser ? reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-1)) : nullptr;
    // The buffer is freed whether or not the call succeeds.
    if (FAILED(::SHGetKnownFolderPath(id, 0, token, path.Put())) || !path.Get()) return std::wstring();
    return path.Get();
}
