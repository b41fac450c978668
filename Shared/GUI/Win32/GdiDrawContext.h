#pragma once

#include <cstdint>
#include <string_view>

#include "Shared/GUI/DrawContext.h"
#include "Shared/GUI/PixelBuffer.h"
#include "Shared/GUI/Win32/WinApi.h"

namespace pellucer::gui {

class SkinBitmap;

/// The drawing surface of a GDI device context: a window's paint DC, or a memory DC
/// (OffscreenContext). It does not own the DC; on destruction it puts back the DC's own font
/// and removes its clip region, so that fonts can be deleted after it.
class GdiDrawContext : public DrawContext {
public:
    explicit GdiDrawContext(HDC dc);
    ~GdiDrawContext() override;
    GdiDrawContext(const GdiDrawContext&) = delete;
    GdiDrawContext& operator=(const GdiDrawContext&) = delete;

    // -- GDI-only operations: answer 0, or E_UNEXPECTED without a DC (or source) --------------

    /// Fills `r` with the DC's brush through raster operation `rasterOp` (PatBlt: PATCOPY,
    /// BLACKNESS, DSTINVERT ...).
    int32_t fillRaster(const Rect& r, DWORD rasterOp);
    /// Copies `to.width` x `to.height` pixels from `source` at `from` to `to` (BitBlt).
    int32_t copyFrom(const Rect& to, const GdiDrawContext& source, Point from, DWORD rasterOp = SRCCOPY);
    /// Copies the part of `bitmap` at `from`, `to`'s size, to `to`.
    int32_t drawBitmap(const SkinBitmap& bitmap, const Rect& to, Point from, DWORD rasterOp = SRCCOPY);
    HDC dc() const { return dc_; }

    // -- DrawContext ----------------------------------------------------------------------------

    int32_t drawPixels(const uint8_t* pixels, int32_t byteSize, int32_t rowBytes, int32_t x, int32_t y,
                       int32_t w, int32_t h, int32_t sourceX, int32_t sourceY) override;
    void fillRect(const Rect& r, Colour colour) override;
    void line(Point from, Point to, Colour colour) override;
    void dottedLine(Point from, Point to, Colour colour) override;
    void drawText(Point at, std::u16string_view text, bool transparent) override;
    void drawText(const Rect& r, std::u16string_view text, bool transparent) override;
    void setTextAlign(int32_t alignment) override;
    void setBackgroundColour(Colour colour) override;
    void setTextColour(Colour colour) override;
    Point measureText(std::u16string_view text) override;
    const Font* selectFont(const Font* font) override;
    void clip(const Rect& r) override;
    void unclip() override;

protected:
    /// For subclasses that make their DC after construction.
    GdiDrawContext() = default;
    void attach(HDC dc);
    /// Puts the DC's own font and clip back.
    void detach();

private:
    void strokeLine(HPEN pen, Point from, Point to);

    HDC dc_ = nullptr;
    HGDIOBJ originalFont_ = nullptr;
    const Font* font_ = nullptr;
    bool clipped_ = false;
    int32_t alignment_ = kAlignLeft;
};

/// A memory DC with a bitmap compatible with `reference` (the screen when null), `width` x
/// `height`: the frame's back buffer, and what tests read drawings back from.
class OffscreenContext : public GdiDrawContext {
public:
    OffscreenContext(HDC reference, int32_t width, int32_t height);
    ~OffscreenContext() override;

    /// False when the DC or the bitmap could not be made (every drawing then does nothing).
    bool valid() const { return bitmap_ != nullptr; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }

    /// The bitmap's pixels as 32-bit BGRA rows, bottom-up (the alpha byte as the bitmap holds
    /// it); empty when invalid.
    PixelBuffer readPixels() const;
    /// The part `part` (must lie inside the bitmap); empty when it cannot.
    PixelBuffer readPixels(const Rect& part) const;

private:
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previousBitmap_ = nullptr;
    int32_t width_ = 0;
    int32_t height_ = 0;
};

} // namespace pellucer::gui
