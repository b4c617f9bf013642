#pragma once
#include <memory>

namespace Gdiplus { class Image; }

// An offer or the main product.
class Package {
public:
    // The decoded image, if any; released before GDI+ shuts down.
    std::shared_ptr<Gdiplus::Image> image;
    void ReleaseImage() { image.reset(); }
};
