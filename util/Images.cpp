#include "Images.h"

#include <objidl.h>
#include <gdiplus.h>

#include <cstring>
#include <mutex>

#include "Handles.h"
#include "ResourceBytes.h"

namespace {

// Held while GDI+ starts or stops and while an image is decoded or freed.
std::mutex& SessionLock() {
    static std::mutex lock;
    return lock;
}
bool gdiplusRunning = false;

void FreeImage(Gdiplus::Image* image) {
    std::lock_guard<std::mutex> guard(SessionLock());
    // After shut-down GDI+ has released what the object pointed to.
    if (gdiplusRunning) delete image;
}

}  // namespace

GdiplusSession::GdiplusSession() {
    std::lock_guard<std::mutex> guard(SessionLock());
    if (gdiplusRunning) return;
    Gdiplus::GdiplusStartupInput input;  // version 1, no debug callback
    started_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr) == Gdiplus::Ok;
    gdiplusRunning = started_;
}

GdiplusSession::~GdiplusSession() {
    if (!started_) return;
    std::lock_guard<std::mutex> guard(SessionLock());
    gdiplusRunning = false;
    Gdiplus::GdiplusShutdown(token_);
}

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

    Gdiplus::Image* decoded = nullptr;
    {
        std::lock_guard<std::mutex> guard(SessionLock());
        if (!gdiplusRunning) return nullptr;
        std::unique_ptr<Gdiplus::Bitmap> bitmap(new Gdiplus::Bitmap(stream.Get()));
        if (bitmap->GetLastStatus() != Gdiplus::Ok) return nullptr;
        decoded = bitmap.release();
    }
    return std::shared_ptr<Gdiplus::Image>(decoded, FreeImage);
}

std::shared_ptr<Gdiplus::Image> LoadImageResource(UINT id, const wchar_t* type, HMODULE module) {
    if (!module) module = ::GetModuleHandleW(nullptr);
    const ResourceBytes bytes = LoadResourceBytes(module, ::FindResourceW(module, MAKEINTRESOURCEW(id), type));
    if (!bytes.data || bytes.size == 0) return nullptr;
    return DecodeImage(bytes.data, bytes.size);
}
