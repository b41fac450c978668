#include "Shared/GUI/PixelBuffer.h"

#include <algorithm>
#include <cmath>

namespace pellucer::gui {

namespace {

/// Extra zeroed bytes after the pixels of every buffer (drawing code may read a little past
/// the last pixel when it works in pairs).
constexpr size_t kSpareBytes = 8;

/// (a x alpha + b x (255 - alpha)) / 255, rounded; alpha 0..255.
inline uint8_t mix(uint32_t a, uint32_t b, uint32_t alpha) {
    return static_cast<uint8_t>((a * alpha + b * (255u - alpha) + 127u) / 255u);
}

} // namespace

void PixelBuffer::resize(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0)
        width = height = 0;
    width_ = width;
    height_ = height;
    bytes_.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 4 + kSpareBytes, 0);
}

uint32_t PixelBuffer::argb(int32_t x, int32_t y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_)
        return 0;
    const uint8_t* p = at(x, y);
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

void PixelBuffer::setArgb(int32_t x, int32_t y, uint32_t argb) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_)
        return;
    uint8_t* p = at(x, y);
    p[0] = static_cast<uint8_t>(argb);
    p[1] = static_cast<uint8_t>(argb >> 8);
    p[2] = static_cast<uint8_t>(argb >> 16);
    p[3] = static_cast<uint8_t>(argb >> 24);
}

void copyPixels(const PixelBuffer& source, int32_t sx, int32_t sy, int32_t w, int32_t h, PixelBuffer& target,
                int32_t tx, int32_t ty) {
    // Clip the rectangle to the source, then to the target, moving both corners together.
    if (sx < 0) { w += sx; tx -= sx; sx = 0; }
    if (sy < 0) { h += sy; ty -= sy; sy = 0; }
    if (tx < 0) { w += tx; sx -= tx; tx = 0; }
    if (ty < 0) { h += ty; sy -= ty; ty = 0; }
    w = std::min({w, source.width() - sx, target.width() - tx});
    h = std::min({h, source.height() - sy, target.height() - ty});
    if (w <= 0 || h <= 0)
        return;
    for (int32_t row = 0; row < h; ++row)
        std::copy_n(source.at(sx, sy + row), static_cast<size_t>(w) * 4, target.at(tx, ty + row));
}

void compositeFrame(const PixelBuffer& background, const ImageStrip& strip, int32_t frame, int32_t weight,
                    PixelBuffer& work) {
    if (work.width() != background.width() || work.height() != background.height())
        work.resize(background.width(), background.height());
    copyPixels(background, 0, 0, background.width(), background.height(), work, 0, 0);
    const int32_t frameHeight = strip.frameHeight();
    if (strip.empty() || frame < 0 || frame >= strip.frames || frameHeight <= 0 ||
        strip.mask.width() != strip.image.width() || strip.mask.height() != strip.image.height())
        return;
    weight = std::clamp(weight, 0, 255);
    const int32_t w = std::min(work.width(), strip.width());
    const int32_t h = std::min(work.height(), frameHeight);
    const int32_t top = frame * frameHeight;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* image = strip.image.at(0, top + y);
        const uint8_t* mask = strip.mask.at(0, top + y);
        uint8_t* out = work.at(0, y);
        for (int32_t x = 0; x < w; ++x, image += 4, mask += 4, out += 4) {
            // The mask's red channel (byte 2 of BGRA) says how much of the image covers.
            const uint32_t alpha = (static_cast<uint32_t>(mask[2]) * static_cast<uint32_t>(weight) + 127u) / 255u;
            out[0] = mix(image[0], out[0], alpha);
            out[1] = mix(image[1], out[1], alpha);
            out[2] = mix(image[2], out[2], alpha);
        }
    }
}

void blendFrameLine(PixelBuffer& work, Colour colour, int32_t inset) {
    constexpr uint32_t kAlpha = 128;
    const int32_t left = inset, top = inset;
    const int32_t right = work.width() - 1 - inset, bottom = work.height() - 1 - inset;
    if (right < left || bottom < top)
        return;
    auto blend = [&](int32_t x, int32_t y) {
        uint8_t* p = work.at(x, y);
        p[0] = mix(colour.blue, p[0], kAlpha);
        p[1] = mix(colour.green, p[1], kAlpha);
        p[2] = mix(colour.red, p[2], kAlpha);
    };
    for (int32_t x = left; x <= right; ++x) {
        blend(x, top);
        if (bottom != top)
            blend(x, bottom);
    }
    for (int32_t y = top + 1; y < bottom; ++y) {
        blend(left, y);
        if (right != left)
            blend(right, y);
    }
}

void guiAntialiasedLine(PixelBuffer& target, double x0, double y0, double x1, double y1, Colour colour,
                        double width, double opacity) {
    if (target.empty() || !(width > 0.0) || !(opacity > 0.0) || !std::isfinite(x0) || !std::isfinite(y0) ||
        !std::isfinite(x1) || !std::isfinite(y1))
        return;
    // Coverage of each pixel centre by a capsule of radius width / 2 around the segment, with a
    // one-pixel linear ramp at its edge: exact enough for curves a few pixels wide, and every
    // pixel is touched once per segment.
    const double radius = 0.5 * width;
    const double reach = radius + 1.0;
    // Far outside the target nothing is drawn; the bounds below must also stay within int32_t.
    const double limit = 4.0 * (target.width() + target.height()) + reach;
    if (std::max(std::fabs(x0), std::fabs(x1)) > limit || std::max(std::fabs(y0), std::fabs(y1)) > limit) {
        // Cut the segment to the square [-limit, limit]^2 by halving towards the inner end.
        auto inside = [limit](double x, double y) { return std::fabs(x) <= limit && std::fabs(y) <= limit; };
        if (!inside(x0, y0) && !inside(x1, y1))
            return;
        if (!inside(x0, y0)) {
            std::swap(x0, x1);
            std::swap(y0, y1);
        }
        double ox = x1, oy = y1;
        for (int i = 0; i < 200 && !inside(ox, oy); ++i) {
            ox = 0.5 * (x0 + ox);
            oy = 0.5 * (y0 + oy);
        }
        x1 = ox;
        y1 = oy;
    }
    const int32_t left = std::max(0, static_cast<int32_t>(std::floor(std::min(x0, x1) - reach)));
    const int32_t right = std::min(target.width() - 1, static_cast<int32_t>(std::ceil(std::max(x0, x1) + reach)));
    const int32_t top = std::max(0, static_cast<int32_t>(std::floor(std::min(y0, y1) - reach)));
    const int32_t bottom = std::min(target.height() - 1, static_cast<int32_t>(std::ceil(std::max(y0, y1) + reach)));
    const double dx = x1 - x0, dy = y1 - y0;
    const double lengthSquared = dx * dx + dy * dy;
    const double strength = std::min(opacity, 1.0);
    for (int32_t y = top; y <= bottom; ++y) {
        for (int32_t x = left; x <= right; ++x) {
            const double px = x + 0.5 - x0, py = y + 0.5 - y0;
            const double t = lengthSquared > 0.0 ? std::clamp((px * dx + py * dy) / lengthSquared, 0.0, 1.0) : 0.0;
            const double ex = px - t * dx, ey = py - t * dy;
            const double distance = std::sqrt(ex * ex + ey * ey);
            const double coverage = std::clamp(radius + 0.5 - distance, 0.0, 1.0);
            if (coverage <= 0.0)
                continue;
            const auto alpha = static_cast<uint32_t>(coverage * strength * 255.0 + 0.5);
            uint8_t* p = target.at(x, y);
            p[0] = mix(colour.blue, p[0], alpha);
            p[1] = mix(colour.green, p[1], alpha);
            p[2] = mix(colour.red, p[2], alpha);
        }
    }
}

} // namespace pellucer::gui
