// wizardctl wait TITLE [SECONDS]        exits 0 once a visible window whose title ends with TITLE exists
// wizardctl close TITLE                 asks that window to close
// wizardctl page TITLE ID [SECONDS]     exits 0 once the wizard shows a control with that id
// wizardctl click TITLE ID [SECONDS]    clicks the visible button with that id
// wizardctl text TITLE ID               prints the text of the visible control with that id
// Used by the demo script, which walks the wizard page by page.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "WizardWindows.h"

namespace {

// The wizard's title grows from "Setup" to "<product> Setup" once the offers
// have arrived: a visible top-level window whose title ends with TITLE.
struct TitleSearch {
    const std::wstring* title;
    HWND found;
};

BOOL CALLBACK MatchTitleEnd(HWND window, LPARAM param) {
    auto* s = reinterpret_cast<TitleSearch*>(param);
    if (!::IsWindowVisible(window)) return TRUE;
    const std::wstring text = wizardwindows::Text(window);
    const std::wstring& want = *s->title;
    if (text.size() < want.size() || text.compare(text.size() - want.size(), want.size(), want) != 0) return TRUE;
    s->found = window;
    return FALSE;
}

HWND FindWindowEndingWith(const std::wstring& title) {
    TitleSearch search{&title, nullptr};
    ::EnumWindows(MatchTitleEnd, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForWindow(const wchar_t* title, int seconds) {
    for (int waited = 0; waited <= seconds * 10; ++waited) {
        if (HWND window = FindWindowEndingWith(title)) return window;
        ::Sleep(100);
    }
    return nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fwprintf(stderr, L"usage: wizardctl wait|close|page|click|text TITLE [ID] [SECONDS]\n");
        return 2;
    }
    const std::wstring command = argv[1];
    const wchar_t* title = argv[2];
    const bool needsId = command == L"page" || command == L"click" || command == L"text";
    if (needsId && argc < 4) {
        std::fwprintf(stderr, L"wizardctl %ls: which control id?\n", command.c_str());
        return 2;
    }
    const int id = needsId ? _wtoi(argv[3]) : 0;
    const int secondsArg = needsId ? 4 : 3;
    const int seconds = argc > secondsArg ? _wtoi(argv[secondsArg]) : 30;

    HWND wizard = WaitForWindow(title, seconds);
    if (!wizard) {
        std::fwprintf(stderr, L"no window titled \"%ls\"\n", title);
        return 1;
    }
    if (command == L"wait") return 0;
    if (command == L"close") return ::PostMessageW(wizard, WM_CLOSE, 0, 0) ? 0 : 1;

    HWND control = wizardwindows::WaitForVisibleControl(wizard, id, seconds);
    if (!control) {
        std::fwprintf(stderr, L"no visible control %d in \"%ls\"\n", id, title);
        return 1;
    }
    if (command == L"page") return 0;
    if (command == L"click") return wizardwindows::Click(control) ? 0 : 1;
    if (command == L"text") {
        std::fwprintf(stdout, L"%ls\n", wizardwindows::Text(control).c_str());
        return 0;
    }
    std::fwprintf(stderr, L"unknown command %ls\n", command.c_str());
    return 2;
}
