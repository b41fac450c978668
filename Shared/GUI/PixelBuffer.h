#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Shared/GUI/Geometry.h"

namespace pellucer::gui {

/// 32-bit BGRA pixels, rows bottom-up (the first row in memory is the bottom of the image),
/// 4 x width bytes per row, as Windows device-independent bitmaps hold them. Every buffer is
/// allocated 8 bytes larger than its pixels and those bytes are zero.
/// Coordinates given to the accessors are image coordinates with y growing downwards.
class PixelBuffer {
public:
    PixelBuffer() = default;
    PixelBuffer(int32_t width, int32_t height) { resize(width, height); }

    /// Allocates width x height pixels, all zero (transparent black). Negative sizes give 0 x 0.
    void resize(int32_t width, int32_t height);

    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    bool empty() const { return width_ <= 0 || height_ <= 0; }
    int32_t rowBytes() const { return 4 * width_; }
    /// Bytes of pixels, without the 8 spare bytes.
    int32_t byteSize() const { return 4 * width_ * height_; }
    uint8_t* data() { return bytes_.data(); }
    const uint8_t* data() const { return bytes_.data(); }

    /// The 4 bytes (B, G, R, A) of pixel (x, y); y counts from the top. No bounds check.
    uint8_t* at(int32_t x, int32_t y) { return bytes_.data() + (static_cast<std::size_t>(height_ - 1 - y) * width_ + x) * 4; }
    const uint8_t* at(int32_t x, int32_t y) const {
        return bytes_.data() + (static_cast<std::size_t>(height_ - 1 - y) * width_ + x) * 4;
    }
    /// Pixel (x, y) as 0xAARRGGBB; 0 outside the image.
    uint32_t argb(int32_t x, int32_t y) const;
    /// Sets pixel (x, y) from 0xAARRGGBB; ignored outside the image.
    void setArgb(int32_t x, int32_t y, uint32_t argb);

    friend bool operator==(const PixelBuffer&, const PixelBuffer&) = default;

private:
    int32_t width_ = 0;
    int32_t height_ = 0;
    std::vector<uint8_t> bytes_;
};

/// Copies the part of `source` at (sx, sy, w, h) into `target` at (tx, ty); clipped to both.
void copyPixels(const PixelBuffer& source, int32_t sx, int32_t sy, int32_t w, int32_t h, PixelBuffer& target,
                int32_t tx, int32_t ty);

/// A control graphic: an image strip and its mask strip, `frames` frames stacked vertically
/// (frame k occupies rows k x frameHeight .. (k + 1) x frameHeight - 1, counted from the top).
/// Mask pixels say how much of the image covers the background: 255 all image, 0 none (the
/// mask's red channel is used; a grey mask has all three the same). Either half may be empty.
struct ImageStrip {
    PixelBuffer image;
    PixelBuffer mask;
    int32_t frames = 1;

    bool empty() const { return image.empty() || mask.empty(); }
    int32_t width() const { return image.empty() ? mask.width() : image.width(); }
    int32_t frameHeight() const {
        const int32_t h = image.empty() ? mask.height() : image.height();
        return frames > 0 ? h / frames : h;
    }
};

/// Compositing of one control frame: `work` becomes `background` with frame `frame` of `strip`
/// blended over it through the mask, weighted by `weight` / 255 (weight 0..255, 255 the whole
/// image: the control's level table entry times its opacity). All three are the control's size;
/// a strip that is empty or too short leaves `work` equal to the background.
void compositeFrame(const PixelBuffer& background, const ImageStrip& strip, int32_t frame, int32_t weight,
                    PixelBuffer& work);

/// Blends a one-pixel frame line in `colour` at alpha 128, `inset` pixels inside the border of
/// `work` (the highlight of a control).
void blendFrameLine(PixelBuffer& work, Colour colour, int32_t inset);

/// An antialiased line of `width` pixels from (x0, y0) to (x1, y1) in `colour`, blended over
/// `target` (coverage-weighted, round caps); used by the graph panels for their curves.
void guiAntialiasedLine(PixelBuffer& target, double x0, double y0, double x1, double y1, Colour colour,
                        double width = 1.0, double opacity = 1.0);

} // namespace pellucer::gui
