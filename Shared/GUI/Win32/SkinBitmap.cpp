#include "Shared/GUI/Win32/SkinBitmap.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "Shared/GUI/BmpFile.h"
#include "core/SkinTable.h"
#include "Shared/GUI/Win32/MessageBox.h"

namespace pellucer::gui {

namespace {

constexpr int32_t kAlphaBitsPerPixel = 32;

/// A header for 32-bit BGRA rows of `width` x `height`, bottom-up (positive height).
BITMAPINFO bgraInfo(int32_t width, int32_t height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

std::unique_ptr<SkinBitmap> bitmapOrNull(std::string_view key) {
    if (key.empty())
        return nullptr;
    return bitmapFromSkin(key);
}

} // namespace

SkinBitmap::~SkinBitmap() { destroy(); }

int32_t SkinBitmap::load(const std::u16string& path, bool report) {
    destroy();
    hasAlpha_ = bmpBitsPerPixel(std::filesystem::path(path)) == kAlphaBitsPerPixel;
    bitmap_ =
        static_cast<HBITMAP>(LoadImageW(nullptr, win32::wide(path), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
    if (bitmap_ == nullptr) {
        if (report) {
            // Copies: a missing key's text lives in a scratch string that the next miss reuses.
            // The file name stays out of the message; the skin's words say what went wrong.
            const std::u16string caption = textResources().text("IDS_BITMAP_NOT_FOUND_TITLE");
            const std::u16string message = textResources().text("IDS_BITMAP_NOT_FOUND_MESSAGE");
            showMessageBox(nullptr, caption, message, message_box::kButtonsOk, message_box::kIconError, 0);
        }
        return S_OK;
    }
    BITMAP description{};
    if (GetObjectW(bitmap_, sizeof description, &description) == 0) {
        destroy();
        return S_OK;
    }
    width_ = description.bmWidth;
    height_ = description.bmHeight;
    return S_OK;
}

bool SkinBitmap::copyPixels(const Rect& part, uint8_t* target, size_t targetBytes) const {
    if (bitmap_ == nullptr || target == nullptr || part.empty() || part.left < 0 || part.top < 0 ||
        part.right() > width_ || part.bottom() > height_)
        return false;
    const size_t rowBytes = static_cast<size_t>(part.width) * 4;
    if (targetBytes < rowBytes * static_cast<size_t>(part.height))
        return false;
    // GetDIBits reads whole rows: read the rows of the part, then keep its columns.
    HDC screen = GetDC(nullptr);
    if (screen == nullptr)
        return false;
    BITMAPINFO info = bgraInfo(width_, height_);
    std::vector<uint8_t> rows(static_cast<size_t>(width_) * 4 * static_cast<size_t>(part.height));
    // Scan lines count from the bottom of a bottom-up image.
    const UINT firstLine = static_cast<UINT>(height_ - part.bottom());
    const int read = GetDIBits(screen, bitmap_, firstLine, static_cast<UINT>(part.height), rows.data(), &info,
                               DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    if (read != part.height)
        return false;
    for (int32_t row = 0; row < part.height; ++row) {
        const uint8_t* from = rows.data() + (static_cast<size_t>(row) * width_ + part.left) * 4;
        uint8_t* to = target + static_cast<size_t>(row) * rowBytes;
        std::copy(from, from + rowBytes, to);
        if (!hasAlpha_)
            for (size_t a = 3; a < rowBytes; a += 4)
                to[a] = 255;
    }
    return true;
}

bool SkinBitmap::copyPixels(uint8_t* target, size_t targetBytes) const {
    return copyPixels(Rect{0, 0, width_, height_}, target, targetBytes);
}

PixelBuffer SkinBitmap::pixels() const {
    PixelBuffer buffer(width_, height_);
    if (!buffer.empty() && !copyPixels(buffer.data(), static_cast<size_t>(buffer.byteSize())))
        buffer.resize(0, 0);
    return buffer;
}

void SkinBitmap::destroy() {
    if (bitmap_ != nullptr)
        DeleteObject(bitmap_);
    bitmap_ = nullptr;
    width_ = 0;
    height_ = 0;
}

MaskedImage::MaskedImage(std::string_view imageKey, std::string_view maskKey)
    : image_(bitmapOrNull(imageKey)), mask_(bitmapOrNull(maskKey)) {}

MaskedImage::MaskedImage(std::unique_ptr<SkinBitmap> image, std::unique_ptr<SkinBitmap> mask)
    : image_(std::move(image)), mask_(std::move(mask)) {}

int32_t MaskedImage::width() const {
    if (image_ != nullptr)
        return image_->width();
    return mask_ != nullptr ? mask_->width() : 0;
}

int32_t MaskedImage::height() const {
    if (image_ != nullptr)
        return image_->height();
    return mask_ != nullptr ? mask_->height() : 0;
}

std::unique_ptr<SkinBitmap> bitmapFromSkin(std::string_view key) {
    const SkinTable& table = graphicsResources();
    const std::u16string* file = table.find(key);
    if (file == nullptr)
        return nullptr;
    auto bitmap = std::make_unique<SkinBitmap>();
    bitmap->load(table.baseFolder() + *file, true);
    return bitmap;
}

ImageStrip imageStripFrom(const MaskedImage& image, int32_t frames) {
    ImageStrip strip;
    if (image.image() != nullptr)
        strip.image = image.image()->pixels();
    if (image.mask() != nullptr)
        strip.mask = image.mask()->pixels();
    strip.frames = frames > 0 ? frames : 1;
    return strip;
}

} // namespace pellucer::gui
