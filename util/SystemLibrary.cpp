#include "SystemLibrary.h"

#include <string>

bool RestrictDllSearchToSystemFolder() {
    // Looked up, not imported: older systems lack it, and a missing import
    // would stop the program before it starts.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const auto set = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(
                                  reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")))
                            : nullptr;
    if (set && set(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
    ::SetDllDirectoryW(L"");
    return false;
}

HMODULE LoadSystemLibrary(const wchar_t* name, DWORD flags) {
    // The full path works on every system, with or without the search flags.
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    const std::wstring path = std::wstring(folder, length) + L"\\" + name;
    return ::LoadLibraryExW(path.c_str(), nullptr, flags | LOAD_WITH_ALTERED_SEARCH_PATH);
}
