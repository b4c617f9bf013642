#include "StaticFromImage.h"

#include <objidl.h>
#include <commctrl.h>
#include <gdiplus.h>

#include <cstring>

#include "util/Handles.h"

CStaticFromImage::~CStaticFromImage() {
    if (hwnd_) ::RemoveWindowSubclass(hwnd_, SubclassProc, 0);
}

void CStaticFromImage::Attach(HWND control) {
    if (hwnd_) ::RemoveWindowSubclass(hwnd_, SubclassProc, 0);
    hwnd_ = control;
    if (hwnd_) ::SetWindowSubclass(hwnd_, SubclassProc, 0, reinterpret_cast<DWORD_PTR>(this));
}

void CStaticFromImage::SetImage(std::shared_ptr<Gdiplus::Image> newImage) {
    image = std::move(newImage);
    if (hwnd_) ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void CStaticFromImage::LoadFromResource(UINT id, const wchar_t* type) { SetImage(LoadImageResource(id, type)); }

void CStaticFromImage::OnPaint() {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd_, &ps);
    RECT client;
    ::GetClientRect(hwnd_, &client);
    if (image) {
        Gdiplus::Graphics graphics(dc);
        graphics.DrawImage(image.get(), 0, 0, client.right - client.left, client.bottom - client.top);
    } else if (HWND parent = ::GetParent(hwnd_)) {
        // Without an image the control shows its parent's background, so an
        // image that was taken away does not linger on screen.
        auto brush = reinterpret_cast<HBRUSH>(
            ::SendMessageW(parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(hwnd_)));
        if (brush) ::FillRect(dc, &client, brush);
    }
    ::EndPaint(hwnd_, &ps);
}

LRESULT CALLBACK CStaticFromImage::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                                DWORD_PTR self) {
    auto* control = reinterpret_cast<CStaticFromImage*>(self);
    switch (message) {
    case WM_PAINT:
        control->OnPaint();
        return 0;
    case WM_NCDESTROY:
        ::RemoveWindowSubclass(hwnd, SubclassProc, 0);
        control->hwnd_ = nullptr;
        break;
    }
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
}
