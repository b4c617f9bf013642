#include "LinkButton.h"

#include <commctrl.h>

#include <algorithm>

namespace {

constexpr COLORREF kLinkColour = RGB(0, 102, 204);
// Room for the focus rectangle around the caption.
constexpr int kMargin = 2;

std::wstring WindowText(HWND hwnd) {
    const int length = ::GetWindowTextLengthW(hwnd);
    if (length <= 0) return std::wstring();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int copied = ::GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(static_cast<size_t>(std::max(copied, 0)));
    return text;
}

HFONT ControlFont(HWND hwnd) {
    auto font = reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0));
    return font ? font : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
}

}  // namespace

LinkButton::~LinkButton() {
    if (hwnd_) ::RemoveWindowSubclass(hwnd_, SubclassProc, 0);
}

void LinkButton::Attach(HWND button, Opener opener) {
    if (hwnd_) ::RemoveWindowSubclass(hwnd_, SubclassProc, 0);
    hwnd_ = button;
    opener_ = std::move(opener);
    if (hwnd_) ::SetWindowSubclass(hwnd_, SubclassProc, 0, reinterpret_cast<DWORD_PTR>(this));
}

void LinkButton::SetUrl(const std::wstring& url) {
    url_ = url;
    if (hwnd_) ::ShowWindow(hwnd_, url_.empty() ? SW_HIDE : SW_SHOWNA);
}

void LinkButton::SizeToContent() {
    if (!hwnd_) return;
    const std::wstring text = WindowText(hwnd_);
    SIZE extent{0, 0};
    HDC dc = ::GetDC(hwnd_);
    if (!dc) return;
    HGDIOBJ old = ::SelectObject(dc, LinkFont());
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    // GetTextExtentPoint32W takes an int count; a caption that long is cut to
    // the page width below anyway.
    const int count = static_cast<int>(std::min<size_t>(text.size(), 0x7FFF));
    if (count > 0) ::GetTextExtentPoint32W(dc, text.c_str(), count, &extent);
    ::SelectObject(dc, old);
    ::ReleaseDC(hwnd_, dc);

    RECT rect;
    ::GetWindowRect(hwnd_, &rect);
    HWND parent = ::GetParent(hwnd_);
    if (parent) ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    int width = extent.cx + 2 * kMargin;
    const int height = std::max<int>(extent.cy, metrics.tmHeight) + 2 * kMargin;
    RECT client{};
    if (parent && ::GetClientRect(parent, &client)) width = std::min<int>(width, std::max<int>(client.right - rect.left, 1));
    ::SetWindowPos(hwnd_, nullptr, 0, 0, std::max(width, 1), height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void LinkButton::Open() const {
    if (!url_.empty() && opener_) opener_(url_);
}

HFONT LinkButton::LinkFont() {
    HFONT base = ControlFont(hwnd_);
    if (!underlinedFont_ || underlinedFrom_ != base) {
        LOGFONTW description{};
        if (::GetObjectW(base, sizeof description, &description) != sizeof description)
            return base;  // drawn without the underline rather than not at all
        description.lfUnderline = TRUE;
        underlinedFont_.Reset(::CreateFontIndirectW(&description));
        underlinedFrom_ = base;
        if (!underlinedFont_) return base;
    }
    return static_cast<HFONT>(underlinedFont_.Get());
}

void LinkButton::OnPaint() {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd_, &ps);
    RECT client;
    ::GetClientRect(hwnd_, &client);
    // The page's own background, so the link sits on it like a text.
    HBRUSH brush = nullptr;
    if (HWND parent = ::GetParent(hwnd_))
        brush = reinterpret_cast<HBRUSH>(
            ::SendMessageW(parent, WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(hwnd_)));
    ::FillRect(dc, &client, brush ? brush : ::GetSysColorBrush(COLOR_BTNFACE));

    const std::wstring text = WindowText(hwnd_);
    HGDIOBJ old = ::SelectObject(dc, LinkFont());
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, kLinkColour);
    RECT textRect = client;
    ::InflateRect(&textRect, -kMargin, -kMargin);
    ::DrawTextW(dc, text.c_str(), static_cast<int>(std::min<size_t>(text.size(), 0x7FFFFFFF)), &textRect,
                DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    ::SelectObject(dc, old);
    if (::GetFocus() == hwnd_ && !(::SendMessageW(hwnd_, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS))
        ::DrawFocusRect(dc, &client);
    ::EndPaint(hwnd_, &ps);
}

LRESULT CALLBACK LinkButton::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                          DWORD_PTR self) {
    auto* link = reinterpret_cast<LinkButton*>(self);
    switch (message) {
    case WM_PAINT:
        link->OnPaint();
        return 0;
    case WM_ERASEBKGND:
        return 1;  // painted whole in WM_PAINT
    case WM_SETCURSOR:
        ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_SETTEXT:
    case WM_ENABLE: {
        // The button would ask its parent to draw these changes; the link
        // draws itself instead.
        const LRESULT result = ::DefSubclassProc(hwnd, message, wParam, lParam);
        ::InvalidateRect(hwnd, nullptr, TRUE);
        return result;
    }
    case WM_NCDESTROY:
        ::RemoveWindowSubclass(hwnd, SubclassProc, 0);
        link->hwnd_ = nullptr;
        break;
    }
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
}
