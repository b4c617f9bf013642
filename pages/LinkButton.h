#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "util/Handles.h"

// A web link drawn on an owner-drawn button: underlined text in the link
// colour over the page background, a hand cursor, sized to its caption, and
// hidden while it has no address. The page routes the button's BN_CLICKED to
// Open.
class LinkButton {
public:
    using Opener = std::function<void(const std::wstring& url)>;

    LinkButton() = default;
    ~LinkButton();
    LinkButton(const LinkButton&) = delete;
    LinkButton& operator=(const LinkButton&) = delete;

    // Takes over painting of an existing owner-drawn button.
    void Attach(HWND button, Opener opener);
    HWND GetSafeHwnd() const { return hwnd_; }
    int Id() const { return hwnd_ ? ::GetDlgCtrlID(hwnd_) : 0; }

    // An empty address hides the link; any other shows it.
    void SetUrl(const std::wstring& url);
    const std::wstring& Url() const { return url_; }
    // Width and height of the caption in the control's font, kept inside the
    // parent's client area so an over-long caption cannot spill off the page.
    void SizeToContent();
    void Open() const;

private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR self);
    void OnPaint();
    HFONT LinkFont();

    HWND hwnd_ = nullptr;
    std::wstring url_;
    Opener opener_;
    tamsel::GdiObject underlinedFont_;
    HFONT underlinedFrom_ = nullptr;  // the control font the underlined one copies
};
