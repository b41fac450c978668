#include "Shared/GUI/Win32/GdiFont.h"

#include <cstdlib>

#include "Shared/GUI/Font.h"
#include "Shared/GUI/Win32/WinApi.h"

namespace pellucer::gui {

namespace {

constexpr int32_t kShiftJisIndex = 1;

} // namespace

void* createGdiFont(const Font& font) {
    const Font::Spec& spec = font.spec();
    int32_t pixelsPerInchX = 96;
    int32_t pixelsPerInchY = 96;
    if (HDC screen = GetDC(nullptr)) {
        pixelsPerInchX = GetDeviceCaps(screen, LOGPIXELSX);
        pixelsPerInchY = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
    }
    const int32_t height = Font::pointsToPixels(spec.points, pixelsPerInchY);
    // GDI takes the width's magnitude; 0 keeps the face's own proportions.
    const int32_t width =
        spec.widthPoints != 0 ? std::abs(Font::pointsToPixels(spec.widthPoints, pixelsPerInchX)) : 0;
    const DWORD charset = spec.charsetIndex == kShiftJisIndex ? SHIFTJIS_CHARSET : DEFAULT_CHARSET;
    HFONT handle = CreateFontW(height, width, 0, 0, font.weight(), spec.italic ? TRUE : FALSE,
                               spec.underline ? TRUE : FALSE, spec.strikeOut ? TRUE : FALSE, charset,
                               OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                               DEFAULT_PITCH | FF_DONTCARE, win32::wide(font.faceName()));
    return handle;
}

void deleteGdiFont(void* handle) {
    if (handle != nullptr)
        DeleteObject(static_cast<HFONT>(handle));
}

} // namespace pellucer::gui
