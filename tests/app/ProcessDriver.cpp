#include "ProcessDriver.h"

#include <cstdio>

#include "util/Text.h"

namespace {

// Enumeration callbacks must be stdcall functions, which lambdas are not on x86.
struct WindowSearch {
    DWORD pid = 0;
    const std::wstring* text = nullptr;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectVisibleOfProcess(HWND window, LPARAM param) {
    auto* s = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    if (pid == s->pid && ::IsWindowVisible(window)) s->found.push_back(window);
    return TRUE;
}

BOOL CALLBACK CollectAll(HWND window, LPARAM param) {
    reinterpret_cast<WindowSearch*>(param)->found.push_back(window);
    return TRUE;
}

}  // namespace

ProcessDriver::ProcessDriver(const std::wstring& program) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    std::wstring commandLine = L"\"" + program + L"\"";
    if (::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                         &info_)) {
        process_.Reset(info_.hProcess);
        thread_.Reset(info_.hThread);
    } else {
        startError_ = ::GetLastError();
    }
}

ProcessDriver::~ProcessDriver() {
    if (process_ && ::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(process_.Get(), 99);
        ::WaitForSingleObject(process_.Get(), 5000);
    }
}

std::vector<HWND> ProcessDriver::VisibleTopLevelWindows() const {
    WindowSearch search;
    search.pid = info_.dwProcessId;
    ::EnumWindows(CollectVisibleOfProcess, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND ProcessDriver::WaitForWindow(const std::wstring& title, DWORD timeoutMs) const {
    const DWORD start = ::GetTickCount();
    do {
        // A window that did not answer has no text to compare: it must not
        // pass for one whose title is empty (a question box).
        std::wstring text;
        for (HWND window : VisibleTopLevelWindows())
            if (ReadWindowText(window, text) && text == title) return window;
        ::Sleep(50);
    } while (::GetTickCount() - start < timeoutMs);
    return nullptr;
}

bool ProcessDriver::WaitForExit(DWORD timeoutMs, DWORD* exitCode) const {
    if (!process_ || ::WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0) return false;
    if (exitCode) ::GetExitCodeProcess(process_.Get(), exitCode);
    return true;
}

std::string ProcessDriver::Describe() const {
    char text[96];
    if (!process_) {
        std::snprintf(text, sizeof text, "the process could not be started (error %lu)", startError_);
        return text;
    }
    DWORD exitCode = 0;
    if (::WaitForSingleObject(process_.Get(), 0) == WAIT_OBJECT_0 && ::GetExitCodeProcess(process_.Get(), &exitCode)) {
        std::snprintf(text, sizeof text, "the process ended with exit code 0x%08lX", exitCode);
        return text;
    }
    const std::vector<HWND> windows = VisibleTopLevelWindows();
    if (windows.empty()) return "the process runs and shows no window";
    std::wstring shown = L"the process runs and shows:";
    for (HWND window : windows) {
        shown += L" [\"" + WindowText(window) + L"\"";
        for (const std::wstring& child : ChildTexts(window))
            if (!child.empty()) shown += L" \"" + child + L"\"";
        shown += L"]";
    }
    return WideToUtf8(shown);
}

bool ReadWindowText(HWND window, std::wstring& text) {
    wchar_t buffer[1024] = {};
    const bool answered = ::SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer),
                                                SMTO_ABORTIFHUNG, 5000, nullptr) != 0;
    text = buffer;
    return answered;
}

std::wstring WindowText(HWND window) {
    std::wstring text;
    ReadWindowText(window, text);
    return text;
}

std::vector<std::wstring> ChildTexts(HWND window) {
    WindowSearch search;
    ::EnumChildWindows(window, CollectAll, reinterpret_cast<LPARAM>(&search));
    std::vector<std::wstring> texts;
    for (HWND child : search.found) texts.push_back(WindowText(child));
    return texts;
}

bool PressButton(HWND dialog, const std::wstring& text) {
    WindowSearch search;
    ::EnumChildWindows(dialog, CollectAll, reinterpret_cast<LPARAM>(&search));
    for (HWND child : search.found) {
        if (WindowText(child) == text) {
            ::PostMessageW(child, BM_CLICK, 0, 0);
            return true;
        }
    }
    return false;
}
