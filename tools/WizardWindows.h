#pragma once
// Finding and pressing the wizard's controls from another process, as a user
// would: the pages are child dialogs of the wizard window, and only the
// current one is visible.
#include <windows.h>

#include <string>

namespace wizardwindows {

struct ControlSearch {
    int id;
    HWND found;
};

// Enumeration callbacks are stdcall functions, which lambdas are not on x86.
inline BOOL CALLBACK MatchVisibleControl(HWND child, LPARAM param) {
    auto* s = reinterpret_cast<ControlSearch*>(param);
    if (::GetDlgCtrlID(child) != s->id || !::IsWindowVisible(child)) return TRUE;
    s->found = child;
    return FALSE;
}

// The visible control with that id on the visible page of the wizard (or on
// the wizard itself); null when there is none.
inline HWND FindVisibleControl(HWND wizard, int id) {
    ControlSearch search{id, nullptr};
    ::EnumChildWindows(wizard, MatchVisibleControl, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Waits up to seconds for the control; null on time-out.
inline HWND WaitForVisibleControl(HWND wizard, int id, int seconds) {
    for (int waited = 0; waited <= seconds * 20; ++waited) {
        if (HWND control = FindVisibleControl(wizard, id)) return control;
        if (!::IsWindow(wizard)) return nullptr;
        ::Sleep(50);
    }
    return nullptr;
}

// Clicks a button the way a mouse click would reach its page.
inline bool Click(HWND button) {
    if (!button || !::IsWindowEnabled(button)) return false;
    return ::PostMessageW(button, BM_CLICK, 0, 0) != FALSE;
}

inline std::wstring Text(HWND window) {
    const int length = ::GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
    const int copied = ::GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
    return text;
}

}  // namespace wizardwindows
