#pragma once
// A host window for pages, a language manager over the program's locale
// documents with a configuration of its own, and what a user does to pages.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "config/ConfigurationManager.h"
#include "locale/LanguageManager.h"
#include "pages/IPage.h"
#include "resources/resource.h"

inline std::wstring Text(HWND window) {
    const int length = ::GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
    const int copied = ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
    return text;
}

// The control's own visibility, whether or not its page is shown.
inline bool Shown(HWND control) { return (::GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0; }

inline void Click(HWND page, int id) { ::SendMessageW(::GetDlgItem(page, id), BM_CLICK, 0, 0); }

// Runs what other windows posted to this thread's windows.
inline void PumpMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

struct Wizard {
    std::shared_ptr<ConfigurationManager> config = std::make_shared<ConfigurationManager>("none", nullptr);
    std::vector<std::wstring> messages;
    std::shared_ptr<LanguageManager> manager;
    HWND host = nullptr;

    explicit Wizard(bool btFlow = false, int wizardType = 1) {
        config->wizardType = wizardType;
        config->btFlow = btFlow;
        manager = std::make_shared<LanguageManager>(config,
                                                    [this](const std::wstring& t) { messages.push_back(t); });
        host = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 600, 500, nullptr, nullptr,
                                 nullptr, nullptr);
    }
    ~Wizard() { ::DestroyWindow(host); }

    // Page(manager, args..., host), created as a child of the host on the
    // wizard's background.
    template <typename Page, typename... Args>
    std::unique_ptr<Page> Create(Args&&... args) {
        auto page = std::make_unique<Page>(manager, std::forward<Args>(args)..., host);
        page->SetBackgroundColor(config->backgroundColor, false);
        EXPECT_TRUE(page->Create(host));
        return page;
    }
};

inline void Select(HWND languagePage, const std::wstring& name) {
    HWND combo = ::GetDlgItem(languagePage, IDC_LANGUAGE_COMBO);
    const LRESULT index = ::SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                         reinterpret_cast<LPARAM>(name.c_str()));
    ASSERT_NE(index, CB_ERR);
    ::SendMessageW(combo, CB_SETCURSEL, index, 0);
    // What the combo box tells its page when the user picks an entry.
    ::SendMessageW(languagePage, WM_COMMAND, MAKEWPARAM(IDC_LANGUAGE_COMBO, CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(combo));
}

// The colour at a fraction of a control's client area once its page has been
// shown and painted.
COLORREF PaintedPixel(IPage& page, int controlId, double fx, double fy);

// The links of a SysLink control: each one's URL, in order.
std::vector<std::wstring> LinkUrls(HWND syslink);
// Clicks link `index` of a SysLink with the mouse, where the control says that
// link is; false when no point of the control is on it.
bool ClickLink(HWND syslink, int index);
// Every address a page handed to its link opener.
struct OpenedLinks {
    std::vector<std::wstring> urls;
    LinkOpener Opener() {
        return [this](const std::wstring& url) { urls.push_back(url); };
    }
};
