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

constexpr bool kIs64BitProcess = sizeof(void*) == 8;
// The view a key path written with capitals is read through: this process's
// default, named (the 32-bit branch for the 32-bit program).
constexpr REGSAM kDefaultView = kIs64BitProcess ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;

// The test configuration the runner names (TAMSEL_CONFIG): "x64" is a 64-bit
// process on 64-bit Windows, "wow64" the 32-bit program under WOW64, "win32"
// the 32-bit program on a 32-bit Windows. By hand, whatever the process sees.
inline std::string Config() {
    const std::string config = Get("TAMSEL_CONFIG");
    if (!config.empty()) return config;
    return kIs64BitProcess ? "x64" : (IsWow64() ? "wow64" : "win32");
}

// The folder holding the running test program.
inline std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L"\\/"));
}

}  // namespace testenv

// Skips the current test, with the reason, outside the configuration it needs.
#define TAMSEL_NEEDS_CONFIG(config, why)                                                               \
    do {                                                                                               \
        if (testenv::Config() != (config))                                                             \
            GTEST_SKIP() << "needs the " << (config) << " configuration: " << (why) << "; this is " \
                         << testenv::Config();                                                         \
    } while (false)
