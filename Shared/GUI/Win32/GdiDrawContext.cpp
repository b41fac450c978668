#include "Shared/GUI/Win32/GdiDrawContext.h"

#include <algorithm>
#include <vector>

#include "Shared/GUI/Font.h"
#include "Shared/GUI/Win32/SkinBitmap.h"

namespace pellucer::gui {

namespace {

constexpr int32_t kResultOk = 0;
constexpr int32_t kResultUnexpected = static_cast<int32_t>(E_UNEXPECTED);
constexpr int32_t kResultInvalid = static_cast<int32_t>(E_INVALIDARG);

COLORREF colorref(Colour colour) { return static_cast<COLORREF>(colour.colorref()); }

UINT textAlignFlags(int32_t alignment) {
    switch (alignment) {
    case DrawContext::kAlignRight:
        return TA_RIGHT;
    case DrawContext::kAlignCentre:
        return TA_CENTER;
    default:
        return TA_LEFT;
    }
}

UINT drawTextFlags(int32_t alignment) {
    switch (alignment) {
    case DrawContext::kAlignRight:
        return DT_RIGHT;
    case DrawContext::kAlignCentre:
        return DT_CENTER;
    default:
        return DT_LEFT;
    }
}

BITMAPINFO bgraInfo(int32_t width, int32_t height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height; // positive: bottom-up rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

} // namespace

GdiDrawContext::GdiDrawContext(HDC dc) { attach(dc); }

GdiDrawContext::~GdiDrawContext() { detach(); }

void GdiDrawContext::attach(HDC dc) {
    dc_ = dc;
    if (dc_ != nullptr)
        originalFont_ = GetCurrentObject(dc_, OBJ_FONT);
}

void GdiDrawContext::detach() {
    if (dc_ == nullptr)
        return;
    if (font_ != nullptr && originalFont_ != nullptr)
        SelectObject(dc_, originalFont_);
    if (clipped_)
        SelectClipRgn(dc_, nullptr);
    font_ = nullptr;
    clipped_ = false;
    dc_ = nullptr;
}

int32_t GdiDrawContext::fillRaster(const Rect& r, DWORD rasterOp) {
    if (dc_ == nullptr)
        return kResultUnexpected;
    PatBlt(dc_, r.left, r.top, r.width, r.height, rasterOp);
    return kResultOk;
}

int32_t GdiDrawContext::copyFrom(const Rect& to, const GdiDrawContext& source, Point from, DWORD rasterOp) {
    if (dc_ == nullptr || source.dc_ == nullptr)
        return kResultUnexpected;
    BitBlt(dc_, to.left, to.top, to.width, to.height, source.dc_, from.x, from.y, rasterOp);
    return kResultOk;
}

int32_t GdiDrawContext::drawBitmap(const SkinBitmap& bitmap, const Rect& to, Point from, DWORD rasterOp) {
    if (dc_ == nullptr || bitmap.handle() == nullptr)
        return kResultUnexpected;
    HDC memory = CreateCompatibleDC(dc_);
    if (memory == nullptr)
        return kResultUnexpected;
    HGDIOBJ previous = SelectObject(memory, bitmap.handle());
    BitBlt(dc_, to.left, to.top, to.width, to.height, memory, from.x, from.y, rasterOp);
    SelectObject(memory, previous);
    DeleteDC(memory);
    return kResultOk;
}

int32_t GdiDrawContext::drawPixels(const uint8_t* pixels, int32_t byteSize, int32_t rowBytes, int32_t x,
                                   int32_t y, int32_t w, int32_t h, int32_t sourceX, int32_t sourceY) {
    if (dc_ == nullptr)
        return kResultUnexpected;
    if (pixels == nullptr || rowBytes < 4 || byteSize < rowBytes)
        return kResultInvalid;
    const int32_t imageWidth = rowBytes / 4;
    const int32_t imageHeight = byteSize / rowBytes;
    // Keep the source rectangle inside the image; the target side is GDI's to clip.
    if (sourceX < 0) {
        x -= sourceX;
        w += sourceX;
        sourceX = 0;
    }
    if (sourceY < 0) {
        y -= sourceY;
        h += sourceY;
        sourceY = 0;
    }
    w = std::min(w, imageWidth - sourceX);
    h = std::min(h, imageHeight - sourceY);
    if (w <= 0 || h <= 0)
        return kResultOk;
    BITMAPINFO info = bgraInfo(imageWidth, imageHeight);
    // The rows are bottom-up, so the source origin GDI wants is the part's bottom line counted
    // from the image's bottom.
    const int32_t sourceBottom = imageHeight - sourceY - h;
    SetDIBitsToDevice(dc_, x, y, static_cast<DWORD>(w), static_cast<DWORD>(h), sourceX, sourceBottom, 0,
                      static_cast<UINT>(imageHeight), pixels, &info, DIB_RGB_COLORS);
    return kResultOk;
}

void GdiDrawContext::fillRect(const Rect& r, Colour colour) {
    if (dc_ == nullptr)
        return;
    // An opaque text-out of no text paints the rectangle in the background colour, without a
    // brush to make and delete.
    const RECT rect = win32::toRect(r);
    const COLORREF previous = SetBkColor(dc_, colorref(colour));
    ExtTextOutW(dc_, r.left, r.top, ETO_OPAQUE, &rect, L"", 0, nullptr);
    SetBkColor(dc_, previous);
}

void GdiDrawContext::strokeLine(HPEN pen, Point from, Point to) {
    if (pen == nullptr)
        return;
    HGDIOBJ previous = SelectObject(dc_, pen);
    MoveToEx(dc_, from.x, from.y, nullptr);
    LineTo(dc_, to.x, to.y);
    SelectObject(dc_, previous);
    DeleteObject(pen);
}

void GdiDrawContext::line(Point from, Point to, Colour colour) {
    if (dc_ == nullptr)
        return;
    strokeLine(CreatePen(PS_SOLID, 1, colorref(colour)), from, to);
}

void GdiDrawContext::dottedLine(Point from, Point to, Colour colour) {
    if (dc_ == nullptr)
        return;
    LOGBRUSH brush{};
    brush.lbStyle = BS_SOLID;
    brush.lbColor = colorref(colour);
    strokeLine(ExtCreatePen(PS_COSMETIC | PS_ALTERNATE, 1, &brush, 0, nullptr), from, to);
}

void GdiDrawContext::drawText(Point at, std::u16string_view text, bool transparent) {
    if (dc_ == nullptr)
        return;
    SetTextAlign(dc_, textAlignFlags(alignment_) | TA_TOP | TA_NOUPDATECP);
    SetBkMode(dc_, transparent ? TRANSPARENT : OPAQUE);
    TextOutW(dc_, at.x, at.y, win32::wideData(text), static_cast<int>(text.size()));
}

void GdiDrawContext::drawText(const Rect& r, std::u16string_view text, bool transparent) {
    if (dc_ == nullptr)
        return;
    // DrawText places the text itself; the DC's own alignment must not move it again.
    SetTextAlign(dc_, TA_LEFT | TA_TOP | TA_NOUPDATECP);
    SetBkMode(dc_, transparent ? TRANSPARENT : OPAQUE);
    RECT rect = win32::toRect(r);
    DrawTextW(dc_, win32::wideData(text), static_cast<int>(text.size()), &rect,
              drawTextFlags(alignment_) | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

void GdiDrawContext::setTextAlign(int32_t alignment) {
    alignment_ = alignment == kAlignRight || alignment == kAlignCentre ? alignment : kAlignLeft;
}

void GdiDrawContext::setBackgroundColour(Colour colour) {
    if (dc_ != nullptr)
        SetBkColor(dc_, colorref(colour));
}

void GdiDrawContext::setTextColour(Colour colour) {
    if (dc_ != nullptr)
        SetTextColor(dc_, colorref(colour));
}

Point GdiDrawContext::measureText(std::u16string_view text) {
    SIZE size{};
    if (dc_ == nullptr ||
        !GetTextExtentPoint32W(dc_, win32::wideData(text), static_cast<int>(text.size()), &size))
        return {};
    return {size.cx, size.cy};
}

const Font* GdiDrawContext::selectFont(const Font* font) {
    const Font* previous = font_;
    if (dc_ == nullptr)
        return previous;
    HGDIOBJ handle = font != nullptr ? static_cast<HGDIOBJ>(font->handle()) : nullptr;
    if (handle != nullptr) {
        SelectObject(dc_, handle);
        font_ = font;
    } else {
        // No font, or one GDI refused: back to the DC's own.
        if (originalFont_ != nullptr)
            SelectObject(dc_, originalFont_);
        font_ = nullptr;
    }
    return previous;
}

void GdiDrawContext::clip(const Rect& r) {
    if (dc_ == nullptr)
        return;
    HRGN region = CreateRectRgn(r.left, r.top, r.right(), r.bottom());
    if (region == nullptr)
        return;
    SelectClipRgn(dc_, region); // the DC keeps a copy
    DeleteObject(region);
    clipped_ = true;
}

void GdiDrawContext::unclip() {
    if (dc_ == nullptr)
        return;
    SelectClipRgn(dc_, nullptr);
    clipped_ = false;
}

OffscreenContext::OffscreenContext(HDC reference, int32_t width, int32_t height) {
    if (width <= 0 || height <= 0)
        return;
    HDC screen = reference == nullptr ? GetDC(nullptr) : nullptr;
    HDC source = reference != nullptr ? reference : screen;
    HDC memory = source != nullptr ? CreateCompatibleDC(source) : nullptr;
    // Compatible with the window's DC, not the memory DC (that one would be monochrome).
    HBITMAP bitmap = memory != nullptr ? CreateCompatibleBitmap(source, width, height) : nullptr;
    if (screen != nullptr)
        ReleaseDC(nullptr, screen);
    if (bitmap == nullptr) {
        if (memory != nullptr)
            DeleteDC(memory);
        return;
    }
    bitmap_ = bitmap;
    width_ = width;
    height_ = height;
    previousBitmap_ = SelectObject(memory, bitmap_);
    attach(memory);
}

OffscreenContext::~OffscreenContext() {
    HDC memory = dc();
    detach();
    if (memory != nullptr) {
        SelectObject(memory, previousBitmap_);
        DeleteDC(memory);
    }
    if (bitmap_ != nullptr)
        DeleteObject(bitmap_);
}

PixelBuffer OffscreenContext::readPixels() const { return readPixels(Rect{0, 0, width_, height_}); }

PixelBuffer OffscreenContext::readPixels(const Rect& part) const {
    PixelBuffer result;
    if (bitmap_ == nullptr || part.empty() || part.left < 0 || part.top < 0 || part.right() > width_ ||
        part.bottom() > height_)
        return result;
    std::vector<uint8_t> rows(static_cast<size_t>(width_) * 4 * static_cast<size_t>(part.height));
    BITMAPINFO info = bgraInfo(width_, height_);
    // GetDIBits wants the bitmap out of every DC while it reads.
    HDC memory = dc();
    SelectObject(memory, previousBitmap_);
    const int read = GetDIBits(memory, bitmap_, static_cast<UINT>(height_ - part.bottom()),
                               static_cast<UINT>(part.height), rows.data(), &info, DIB_RGB_COLORS);
    SelectObject(memory, bitmap_);
    if (read != part.height)
        return result;
    result.resize(part.width, part.height);
    const size_t rowBytes = static_cast<size_t>(part.width) * 4;
    for (int32_t row = 0; row < part.height; ++row) {
        const uint8_t* from = rows.data() + (static_cast<size_t>(row) * width_ + part.left) * 4;
        std::copy(from, from + rowBytes, result.data() + static_cast<size_t>(row) * rowBytes);
    }
    return result;
}

} // namespace pellucer::gui
