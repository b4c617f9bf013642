#include "FinishActions.h"

#include <shellapi.h>

#include <vector>

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

ShellOpener ShellExecuteOpener() {
    return [](const std::wstring& file, const std::wstring& parameters) {
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
        info.lpVerb = L"open";
        info.lpFile = file.c_str();
        info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
        info.nShow = SW_SHOWDEFAULT;
        // Not examined: a launch that fails still ends the wizard.
        ::ShellExecuteExW(&info);
    };
}

bool IsFullPath(const std::wstring& path) {
    if (path.size() >= 3 && ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
        path[1] == L':' && IsSeparator(path[2]))
        return true;
    return path.size() > 2 && path[0] == L'\\' && path[1] == L'\\';
}

bool IsShellPath(const std::wstring& path) { return path.size() < kShellPathLimit && IsFullPath(path); }

std::optional<std::wstring> ExplorerSelectParameters(const std::wstring& path) {
    if (!IsShellPath(path) || IsSeparator(path.back())) return std::nullopt;
    for (wchar_t c : path)
        if (c == L'"' || c < L' ') return std::nullopt;
    return L"/select,\"" + path + L"\"";
}

std::optional<ShellCall> DlmFinishCall(DlmFinishChoice choice, const std::wstring& downloadedFilePath,
                                       const std::wstring& windowsFolder) {
    switch (choice) {
        case DlmFinishChoice::Launch:
            if (!IsShellPath(downloadedFilePath)) return std::nullopt;
            return ShellCall{downloadedFilePath, L""};
        case DlmFinishChoice::OpenFolder: {
            if (windowsFolder.empty()) return std::nullopt;
            std::wstring explorer = windowsFolder;
            if (!IsSeparator(explorer.back())) explorer += L'\\';
            explorer += L"explorer.exe";
            auto parameters = ExplorerSelectParameters(downloadedFilePath);
            if (!parameters || !IsShellPath(explorer)) return std::nullopt;
            return ShellCall{std::move(explorer), std::move(*parameters)};
        }
        case DlmFinishChoice::None:
            break;
    }
    return std::nullopt;
}

std::optional<ShellCall> IsvFinishCall(bool launchChecked, const std::wstring& expandedCommand,
                                       const std::wstring& parameters) {
    if (!launchChecked || expandedCommand.empty() || expandedCommand.size() >= kShellPathLimit) return std::nullopt;
    return ShellCall{expandedCommand, parameters};
}

std::wstring SystemWindowsFolder() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const UINT n = ::GetSystemWindowsDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
        if (n == 0) return L"";
        if (n < buffer.size()) return std::wstring(buffer.data(), n);
        buffer.resize(n);  // n is the size needed, with the terminator
    }
}

void RemoveMinimizeBox(HWND window) {
    if (!window) return;
    const LONG style = ::GetWindowLongW(window, GWL_STYLE);
    ::SetWindowLongW(window, GWL_STYLE, style & ~static_cast<LONG>(WS_MINIMIZEBOX));
    ::SetWindowPos(window, nullptr, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}
