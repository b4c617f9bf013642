// A windowless program for the finish pages to start: writes the command
// line it was given to "<its own path>.ran" and exits. The file appears whole
// (written beside it, then renamed), so a reader never sees half of it.
#include <windows.h>

#include <string>
#include <vector>

#include "util/Handles.h"

int wmain() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return 1;
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::wstring self(path.begin(), path.end());
    const std::wstring partial = self + L".part";
    const std::wstring marker = self + L".ran";
    const std::wstring commandLine = ::GetCommandLineW();
    {
        tamsel::FileHandle file(
            ::CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return 2;
        DWORD written = 0;
        const DWORD bytes = static_cast<DWORD>(commandLine.size() * sizeof(wchar_t));
        if (!::WriteFile(file.Get(), commandLine.data(), bytes, &written, nullptr) || written != bytes) return 3;
    }
    return ::MoveFileExW(partial.c_str(), marker.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 4;
}
