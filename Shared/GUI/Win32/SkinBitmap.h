#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "Shared/GUI/PixelBuffer.h"
#include "Shared/GUI/Win32/WinApi.h"

namespace pellucer::gui {

/// An image of the skin, loaded from a BMP file into a GDI bitmap. A file that cannot be loaded
/// leaves an empty 0 x 0 bitmap (and, when asked to, tells the user once per attempt); the
/// editor then goes on without the picture.
class SkinBitmap {
public:
    SkinBitmap() = default;
    ~SkinBitmap();
    SkinBitmap(const SkinBitmap&) = delete;
    SkinBitmap& operator=(const SkinBitmap&) = delete;

    /// Loads `path` at the file's own size, replacing any earlier image. With `report`, a
    /// failure shows the skin's "bitmap not found" message box (no owner, OK, error icon).
    /// Always answers S_OK: a failed image is simply empty.
    int32_t load(const std::u16string& path, bool report);

    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    /// True when the file stores 32 bits per pixel (its alpha byte is then the image's own).
    bool hasAlpha() const { return hasAlpha_; }
    int64_t pixelCount() const { return static_cast<int64_t>(width_) * height_; }
    int64_t byteSize() const { return pixelCount() * 4; }
    bool empty() const { return bitmap_ == nullptr; }

    /// Copies the part `part` (image coordinates, y down; must lie inside the image) as 32-bit
    /// BGRA rows, bottom-up, into `target` (at least part.width x part.height x 4 bytes). A
    /// 24-bit image gets alpha 255. False, with nothing written, when it cannot.
    bool copyPixels(const Rect& part, uint8_t* target, size_t targetBytes) const;
    /// The same for the whole image (byteSize() bytes).
    bool copyPixels(uint8_t* target, size_t targetBytes) const;
    /// The whole image as a pixel buffer (empty when the bitmap is).
    PixelBuffer pixels() const;

    HBITMAP handle() const { return bitmap_; }
    /// Frees the bitmap; the object is empty afterwards.
    void destroy();

private:
    HBITMAP bitmap_ = nullptr;
    int32_t width_ = 0;
    int32_t height_ = 0;
    bool hasAlpha_ = false;
};

/// A control graphic: an image and its mask, each from the graphics table by key. An empty key
/// (or one the table lacks) leaves that half absent.
class MaskedImage {
public:
    MaskedImage(std::string_view imageKey, std::string_view maskKey);
    MaskedImage(std::unique_ptr<SkinBitmap> image, std::unique_ptr<SkinBitmap> mask);

    const SkinBitmap* image() const { return image_.get(); }
    const SkinBitmap* mask() const { return mask_.get(); }
    /// Size of the image, or of the mask when there is no image.
    int32_t width() const;
    int32_t height() const;
    int64_t pixelCount() const { return static_cast<int64_t>(width()) * height(); }
    int64_t byteSize() const { return pixelCount() * 4; }

private:
    std::unique_ptr<SkinBitmap> image_;
    std::unique_ptr<SkinBitmap> mask_;
};

/// The bitmap of graphics-table key `key`, loaded from the table's base folder + its file name
/// with failures reported; null (and no message) when the table has no such key.
std::unique_ptr<SkinBitmap> bitmapFromSkin(std::string_view key);

/// The pixels of a masked image as a portable strip of `frames` frames (copies; the strip does
/// not refer to the bitmaps afterwards).
ImageStrip imageStripFrom(const MaskedImage& image, int32_t frames);

} // namespace pellucer::gui
