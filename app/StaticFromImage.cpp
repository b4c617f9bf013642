#include "StaticFromImage.h"

#include <objidl.h>
#include <commctrl.h>
#include <gdiplus.h>

#include <cstring>

#include "util/Handles.h"

namespace {

std::shared_ptr<Gdiplus::Image> BitmapFromStream(IStream* stream) {
    auto bitmap = std::make_shared<Gdiplus::Bitmap>(stream);
    if (bitmap->GetLastStatus() != Gdiplus::Ok) return nullptr;
    return bitmap;
}

}  // namespace

std::shared_ptr<Gdiplus::Image> DecodeImage(const void* bytes, size_t size) {
    if (!bytes || size == 0 || size > 0x7FFFFFFF) return nullptr;
    tamsel::GlobalMemory block(::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size));
    if (!block) return nullptr;
    void* target = ::GlobalLock(block.Get());
    if (!target) return nullptr;
    std::memcpy(target, bytes, size);
    ::GlobalUnlock(block.Get());
    tamsel::ComPtr<IStream> stream;
    // The stream frees the block when released; until it exists, we do.
    if (FAILED(::CreateStreamOnHGlobal(block.Get(), TRUE, stream.Put()))) return nullptr;
    block.Release();
    return BitmapFromStream(stream.Get());
}

std::shared_ptr<Gdiplus::Image> LoadImageResource(UINT id, const wchar_t* type, HMODULE module) {
    if (!module) module = ::GetModuleHandleW(nullptr);
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!found) return nullptr;
    const DWORD size = ::SizeofResource(module, found);
    HGLOBAL loaded = ::LoadResource(module, found);
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    if (!bytes || size == 0) return nullptr;
    return DecodeImage(bytes, size);
}

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
