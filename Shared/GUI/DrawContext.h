#pragma once

#include <cstdint>
#include <string_view>

#include "Shared/GUI/Geometry.h"

namespace pellucer::gui {

class Font;

/// What a control draws with. The Windows build wraps a device context (`GdiDrawContext`, and
/// `OffscreenContext` for the frame's back buffer); tests and the gallery tool draw into pixel
/// buffers. Coordinates are those of the surface (the frame's client area). Text is UTF-16.
class DrawContext {
public:
    /// Text alignment for the text operations.
    static constexpr int32_t kAlignRight = 0;
    static constexpr int32_t kAlignLeft = 1;
    static constexpr int32_t kAlignCentre = 2;

    virtual ~DrawContext() = default;

    /// Draws a 32-bit BGRA bottom-up pixel buffer (Shared/GUI/PixelBuffer.h layout): the image is
    /// rowBytes / 4 pixels wide and byteSize / rowBytes rows high; its part at (sourceX, sourceY,
    /// w, h), counted from the image's top, goes to (x, y). Answers 0, or E_UNEXPECTED when
    /// there is nothing to draw into.
    virtual int32_t drawPixels(const uint8_t* pixels, int32_t byteSize, int32_t rowBytes, int32_t x, int32_t y,
                               int32_t w, int32_t h, int32_t sourceX, int32_t sourceY) = 0;
    /// Fills `r` with `colour`.
    virtual void fillRect(const Rect& r, Colour colour) = 0;
    /// A solid one-pixel line from `from` to `to` (the end point not drawn, as GDI draws).
    virtual void line(Point from, Point to, Colour colour) = 0;
    /// A one-pixel line of alternate dots.
    virtual void dottedLine(Point from, Point to, Colour colour) = 0;
    /// Text at a point (aligned there as `setTextAlign` says); opaque background unless
    /// `transparent`.
    virtual void drawText(Point at, std::u16string_view text, bool transparent) = 0;
    /// Text clipped to `r`, aligned in it as `setTextAlign` says and centred vertically.
    virtual void drawText(const Rect& r, std::u16string_view text, bool transparent) = 0;
    /// 0 right, 1 left, 2 centre; anything else counts as left.
    virtual void setTextAlign(int32_t alignment) = 0;
    virtual void setBackgroundColour(Colour colour) = 0;
    virtual void setTextColour(Colour colour) = 0;
    /// Width and height of `text` in pixels with the selected font.
    virtual Point measureText(std::u16string_view text) = 0;
    /// Selects `font` (null: the context's default font); answers the previously selected one.
    virtual const Font* selectFont(const Font* font) = 0;
    /// Restricts drawing to `r` until `unclip`.
    virtual void clip(const Rect& r) = 0;
    virtual void unclip() = 0;
};

} // namespace pellucer::gui
