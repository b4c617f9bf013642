#pragma once
// GDI+ for the program, and the images it decodes. Images are decoded on
// download threads that may still run while the program ends, so decoding
// and freeing go through the session: nothing is decoded after GDI+ has shut
// down, and an image freed after that is left to GDI+'s own clean-up.
#include <windows.h>

#include <cstddef>
#include <memory>

namespace Gdiplus { class Image; }

// Starts GDI+ for as long as it exists (one at a time per process).
class GdiplusSession {
public:
    GdiplusSession();
    ~GdiplusSession();
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;
    bool Started() const { return started_; }

private:
    bool started_ = false;
    ULONG_PTR token_ = 0;
};

// A bitmap decoded from bytes in memory (downloaded images); null on failure
// or when GDI+ is not running.
std::shared_ptr<Gdiplus::Image> DecodeImage(const void* bytes, size_t size);
// A bitmap decoded from a resource of the program; null on any failure.
std::shared_ptr<Gdiplus::Image> LoadImageResource(UINT id, const wchar_t* type, HMODULE module = nullptr);
