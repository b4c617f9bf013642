#pragma once
#include <windows.h>

#include <memory>

#include "util/Images.h"

namespace Gdiplus { class Image; }

// A static control that paints a GDI+ image stretched over its client area.
class CStaticFromImage {
public:
    CStaticFromImage() = default;
    ~CStaticFromImage();
    CStaticFromImage(const CStaticFromImage&) = delete;
    CStaticFromImage& operator=(const CStaticFromImage&) = delete;

    // Takes over painting of an existing static control.
    void Attach(HWND control);
    HWND GetSafeHwnd() const { return hwnd_; }

    void SetImage(std::shared_ptr<Gdiplus::Image> newImage);
    void LoadFromResource(UINT id, const wchar_t* type);
    const std::shared_ptr<Gdiplus::Image>& Image() const { return image; }

    std::shared_ptr<Gdiplus::Image> image;

private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR self);
    void OnPaint();

    HWND hwnd_ = nullptr;
};

