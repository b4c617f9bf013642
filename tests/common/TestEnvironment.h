#pragma once
// Small helpers the Windows test programs share.
#include <windows.h>

#include <string>

namespace testenv {

// A variable set by the test runner ("" when absent).
inline std::string Get(const char* name) {
    char buffer[512];
    const DWORD n = ::GetEnvironmentVariableA(name, buffer, sizeof buffer);
    return (n > 0 && n < sizeof buffer) ? std::string(buffer, n) : std::string();
}

inline bool IsWow64() {
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

// The prefix the runner says this is; by hand, whatever the process sees.
inline std::string ExpectedArch() {
    const std::string arch = Get("TAMSEL_EXPECT_ARCH");
    return !arch.empty() ? arch : (IsWow64() ? "win64" : "win32");
}

// The folder holding the running test program.
inline std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L"\\/"));
}

}  // namespace testenv
