#pragma once
// The demo installers record each run, with its command line, in
// %ProgramData%\TamselDemo\<name>.installed; tests read that to see what ran.
// The "installed program" of a forced install records its runs in
// <name>.launched (kind "launched").
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace demomarkers {

inline std::wstring Path(const std::string& name, const char* kind = "installed") {
    wchar_t data[MAX_PATH] = {};
    const DWORD n = ::GetEnvironmentVariableW(L"ProgramData", data, MAX_PATH);
    const std::wstring folder = n > 0 && n < MAX_PATH ? std::wstring(data) : std::wstring();
    return folder + L"\\TamselDemo\\" + std::wstring(name.begin(), name.end()) + L"." +
           std::wstring(kind, kind + std::strlen(kind));
}

// The recorded command line, or "" when the installer has not run.
inline std::string Read(const std::string& name, const char* kind = "installed") {
    std::string text;
    if (FILE* f = _wfopen(Path(name, kind).c_str(), L"rb")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
        std::fclose(f);
    }
    return text;
}

// Installers are not waited for: the marker once it has appeared, or "".
inline std::string Await(const std::string& name, int seconds = 30, const char* kind = "installed") {
    for (int i = 0; i < seconds * 10; ++i) {
        const std::string text = Read(name, kind);
        if (!text.empty()) return text;
        ::Sleep(100);
    }
    return {};
}

inline void Remove(const std::string& name, const char* kind = "installed") { ::DeleteFileW(Path(name, kind).c_str()); }

}  // namespace demomarkers
