#include <gtest/gtest.h>

#include <objidl.h>
#include <gdiplus.h>

#include "app/StaticFromImage.h"
#include "common/GdiplusForTests.h"
#include "resources/resource.h"

#include <memory>

namespace {

// A 4 x 4 red PNG.
const unsigned char kRedPng[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00, 0x00,
    0x04, 0x00, 0x00, 0x00, 0x04, 0x08, 0x02, 0x00, 0x00, 0x00, 0x26, 0x93, 0x09, 0x29, 0x00, 0x00, 0x00, 0x10, 0x49,
    0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0xf8, 0xcf, 0xc0, 0x00, 0x47, 0x0c, 0xc4, 0x71, 0x00, 0xae, 0x93, 0x0f, 0xf1,
    0xd0, 0x5f, 0x23, 0x9e, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

COLORREF CenterPixelAfterPaint(HWND control) {
    ::InvalidateRect(control, nullptr, TRUE);
    ::UpdateWindow(control);
    HDC dc = ::GetDC(control);
    const COLORREF color = ::GetPixel(dc, 10, 10);
    ::ReleaseDC(control, dc);
    return color;
}

}  // namespace

TEST(ImageControl, DecodesImagesAndRejectsGarbage) {
    auto image = DecodeImage(kRedPng, sizeof kRedPng);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->GetWidth(), 4u);
    EXPECT_EQ(DecodeImage(kRedPng, 20), nullptr) << "a truncated image";
    const char garbage[] = "not an image at all";
    EXPECT_EQ(DecodeImage(garbage, sizeof garbage), nullptr);
    EXPECT_EQ(DecodeImage(nullptr, 0), nullptr);
    EXPECT_EQ(LoadImageResource(999, L"IMAGE_BLOB"), nullptr);
}

// The pictures of the welcome, finish and error pages decode from the
// program's resources, each under its own type.
TEST(ImageControl, ThePagesPicturesDecode) {
    const struct {
        UINT id;
        const wchar_t* type;
    } pictures[] = {{IDR_IMAGE_WELCOME, L"IMAGE_BLOB"}, {IDR_IMAGE_FINISH, L"IMAGE_BLOB2"}, {IDR_IMAGE_ERROR, L"IMAGE_BLOB3"}};
    for (const auto& p : pictures) {
        const auto image = LoadImageResource(p.id, p.type);
        ASSERT_NE(image, nullptr) << p.id;
        EXPECT_GT(image->GetWidth(), 0u) << p.id;
        EXPECT_GT(image->GetHeight(), 0u) << p.id;
        EXPECT_EQ(LoadImageResource(p.id, L"IMAGE_BLOB9"), nullptr) << "type " << p.id;
    }
}

TEST(ImageControl, PaintsTheImageStretchedAndNothingWithout) {
    HWND parent = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE | SS_WHITERECT, 0, 0, 100, 100, nullptr,
                                    nullptr, nullptr, nullptr);
    HWND control = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_BITMAP | SS_CENTERIMAGE, 10, 10, 40,
                                     40, parent, nullptr, nullptr, nullptr);
    ASSERT_NE(control, nullptr);
    {
        CStaticFromImage image;
        image.Attach(control);
        const COLORREF empty = CenterPixelAfterPaint(control);
        EXPECT_NE(empty, RGB(255, 0, 0));

        image.SetImage(DecodeImage(kRedPng, sizeof kRedPng));
        EXPECT_EQ(CenterPixelAfterPaint(control), RGB(255, 0, 0)) << "4 x 4 image stretched over 40 x 40";

        image.LoadFromResource(999, L"IMAGE_BLOB");  // missing: no image, still repaints
        EXPECT_EQ(image.Image(), nullptr);
        EXPECT_EQ(CenterPixelAfterPaint(control), empty);
    }
    // The control outlives the wrapper and paints as a plain static again.
    CenterPixelAfterPaint(control);
    ::DestroyWindow(parent);
}
