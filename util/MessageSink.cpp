#include "MessageSink.h"

#include <windows.h>

#include "Text.h"
#include "resources/resource.h"

MessageSink MessageBoxSink() {
    return [](const std::wstring& text) { ::MessageBoxW(nullptr, text.c_str(), nullptr, MB_OK); };
}

std::wstring ApplicationTitle() {
    const wchar_t* text = nullptr;
    // Length 0 asks for a pointer into the resource itself: no buffer to outgrow.
    const int length = ::LoadStringW(::GetModuleHandleW(nullptr), IDS_APP_TITLE, reinterpret_cast<LPWSTR>(&text), 0);
    if (length > 0 && text) return std::wstring(text, static_cast<size_t>(length));
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return std::wstring();
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        if (path.size() >= 32768) return std::wstring();
        path.resize(path.size() * 2);
    }
    std::wstring name = FileNameOf(path);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot > 0) name.resize(dot);
    return name;
}

MessageSink ApplicationMessageBoxSink() {
    return [](const std::wstring& text) {
        const std::wstring caption = ApplicationTitle();
        ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK);
    };
}
