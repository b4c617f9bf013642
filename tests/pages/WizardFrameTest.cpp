// The wizard window as it is drawn: the strip along its bottom, behind the
// pages' buttons, in the accent colour; the frame around it in the
// background colour.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/TamselDlg.h"
#include "config/ConfigurationManager.h"
#include "util/Handles.h"

namespace {

// The wizard's two colours.
const COLORREF kAccent = RGB(2, 119, 189);
const COLORREF kBackground = RGB(250, 250, 250);

struct MemoryDcTraits {
    using Value = HDC;
    static Value Invalid() noexcept { return nullptr; }
    static void Close(Value dc) noexcept { ::DeleteDC(dc); }
};
using MemoryDc = tamsel::UniqueHandle<MemoryDcTraits>;

// The drawing surface of a window, given back when done.
class WindowDc {
public:
    explicit WindowDc(HWND window) : window_(window), dc_(::GetDC(window)) {}
    ~WindowDc() {
        if (dc_) ::ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC Get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

void PumpMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

// The client area of a window as it was drawn (children included), copied
// into a 32-bit bitmap of its own.
class Snapshot {
public:
    explicit Snapshot(HWND window) {
        RECT client;
        ::GetClientRect(window, &client);
        width_ = client.right;
        height_ = client.bottom;
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width_;
        info.bmiHeader.biHeight = -height_;  // top-down rows
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        const WindowDc screen(window);
        const MemoryDc memory(::CreateCompatibleDC(screen.Get()));
        void* bits = nullptr;
        bitmap_.Reset(::CreateDIBSection(screen.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        if (memory && bitmap_ && bits) {
            const HGDIOBJ old = ::SelectObject(memory.Get(), bitmap_.Get());
            copied_ = ::BitBlt(memory.Get(), 0, 0, width_, height_, screen.Get(), 0, 0, SRCCOPY) != FALSE;
            ::SelectObject(memory.Get(), old);
            ::GdiFlush();
            pixels_ = static_cast<const DWORD*>(bits);
        }
    }
    bool Copied() const { return copied_ && pixels_; }
    COLORREF At(POINT p) const {
        if (!pixels_ || p.x < 0 || p.y < 0 || p.x >= width_ || p.y >= height_) return CLR_INVALID;
        const DWORD bgr = pixels_[static_cast<size_t>(p.y) * static_cast<size_t>(width_) + static_cast<size_t>(p.x)];
        return RGB((bgr >> 16) & 0xFF, (bgr >> 8) & 0xFF, bgr & 0xFF);
    }

private:
    int width_ = 0;
    int height_ = 0;
    bool copied_ = false;
    tamsel::GdiObject bitmap_;
    const DWORD* pixels_ = nullptr;
};

std::string Describe(COLORREF c) {
    if (c == CLR_INVALID) return "outside";
    return "RGB(" + std::to_string(GetRValue(c)) + ", " + std::to_string(GetGValue(c)) + ", " +
           std::to_string(GetBValue(c)) + ")";
}

}  // namespace

TEST(WizardFrame, BottomStripIsDrawnInTheAccentColour) {
    const auto config = GetConfiguration();
    CTamselDlg dialog;
    // What the application sets before it runs the dialog.
    dialog.SetBackgroundColor(config->backgroundColor, false);
    ASSERT_TRUE(dialog.Create(nullptr));
    HWND window = dialog.GetSafeHwnd();
    ::SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    PumpMessages();
    const Snapshot drawn(window);
    ASSERT_TRUE(drawn.Copied());

    // Points in the template's dialog units: the strip spans the whole width
    // from 226 down; the page area (7, 28, 336 x 225) lies over it, leaving
    // the strip visible at both sides and below; the language page's own bar
    // fills the page's bottom.
    const auto pixel = [&](int x, int y) {
        RECT r{x, y, x, y};
        ::MapDialogRect(window, &r);
        return drawn.At(POINT{r.left, r.top});
    };
    const struct {
        const char* where;
        int x, y;
        COLORREF colour;
    } points[] = {
        {"strip, left of the page", 3, 240, kAccent},
        {"strip, right of the page", 347, 240, kAccent},
        {"strip, below the page, left", 2, 257, kAccent},
        {"strip, below the page, middle", 175, 257, kAccent},
        {"strip, below the page, right", 348, 257, kAccent},
        {"page's bar, left of its button", 100, 245, kAccent},
        {"frame above the strip, left of the page", 3, 200, kBackground},
        {"frame above the strip, right of the page", 347, 120, kBackground},
        {"header, right of the title", 340, 15, kBackground},
    };
    for (const auto& p : points) {
        EXPECT_EQ(Describe(pixel(p.x, p.y)), Describe(p.colour)) << p.where << " (" << p.x << ", " << p.y << ")";
    }
    ::DestroyWindow(window);
}
