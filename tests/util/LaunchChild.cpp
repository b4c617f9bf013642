// A program for the launch tests to start. It writes its process id and its
// command line, as the system handed it over, to <its own path>.txt; with
// "wait=NAME" it then waits for that named event (a minute at most, so it
// never lingers); it exits with the code given as "exit=N" (0 without).
#include <windows.h>

#include <cwchar>
#include <string>

#include "util/Handles.h"

namespace {

constexpr int kWaitFailed = 100;

bool WriteReport(const std::wstring& path, const std::wstring& text) {
    // Written under another name first: the test reads it as soon as it is there.
    const std::wstring part = path + L".part";
    {
        const tamsel::FileHandle file(
            ::CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        DWORD written = 0;
        if (!::WriteFile(file.Get(), text.data(), bytes, &written, nullptr) || written != bytes) return false;
    }
    return ::MoveFileExW(part.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    DWORD exitCode = 0;
    std::wstring eventName;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg.compare(0, 5, L"exit=") == 0) exitCode = std::wcstoul(arg.c_str() + 5, nullptr, 10);
        if (arg.compare(0, 5, L"wait=") == 0) eventName = arg.substr(5);
    }
    wchar_t self[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return kWaitFailed;
    const std::wstring report = std::to_wstring(::GetCurrentProcessId()) + L"\n" + ::GetCommandLineW();
    if (!WriteReport(std::wstring(self, n) + L".txt", report)) return kWaitFailed;

    if (!eventName.empty()) {
        const tamsel::KernelHandle release(::OpenEventW(SYNCHRONIZE, FALSE, eventName.c_str()));
        if (!release || ::WaitForSingleObject(release.Get(), 60000) != WAIT_OBJECT_0) return kWaitFailed;
    }
    return static_cast<int>(exitCode);
}
