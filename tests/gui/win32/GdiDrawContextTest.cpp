// The GDI drawing context, drawn into an off-screen bitmap and read back: rectangles, pixel
// buffers placed from their bottom-up rows, lines, text alignment and clipping, fonts, raster
// operations and bitmaps.

#include "Shared/GUI/Win32/GdiDrawContext.h"

#include <gtest/gtest.h>

#include "Shared/GUI/Font.h"
#include "Shared/GUI/Win32/SkinBitmap.h"
#include "tests/gui/win32/Win32TestSupport.h"

namespace pellucer::gui {
namespace {

constexpr Colour kWhite{255, 255, 255};
constexpr Colour kRed{255, 0, 0};
constexpr Colour kBlue{0, 0, 255};
constexpr Colour kGreenish{10, 200, 30};

uint32_t rgb(Colour c) { return (uint32_t{c.red} << 16) | (uint32_t{c.green} << 8) | c.blue; }

/// An off-screen surface cleared to white, and what it shows.
class DrawSurface : public ::testing::Test {
protected:
    static constexpr int32_t kWidth = 120;
    static constexpr int32_t kHeight = 40;

    DrawSurface() : surface(nullptr, kWidth, kHeight) { surface.fillRect({0, 0, kWidth, kHeight}, kWhite); }

    uint32_t at(int32_t x, int32_t y) { return test::rgbAt(surface.readPixels(), x, y); }

    /// The columns (or rows) where any pixel differs from `paper`.
    struct Ink {
        int32_t left = INT32_MAX, right = -1, top = INT32_MAX, bottom = -1, count = 0;
    };
    Ink ink(uint32_t paper) {
        const PixelBuffer pixels = surface.readPixels();
        Ink found;
        for (int32_t y = 0; y < kHeight; ++y)
            for (int32_t x = 0; x < kWidth; ++x)
                if (test::rgbAt(pixels, x, y) != paper) {
                    found.left = std::min(found.left, x);
                    found.right = std::max(found.right, x);
                    found.top = std::min(found.top, y);
                    found.bottom = std::max(found.bottom, y);
                    ++found.count;
                }
        return found;
    }

    OffscreenContext surface;
};

TEST_F(DrawSurface, OffscreenSurfaceHasItsSize) {
    ASSERT_TRUE(surface.valid());
    const PixelBuffer pixels = surface.readPixels();
    EXPECT_EQ(pixels.width(), kWidth);
    EXPECT_EQ(pixels.height(), kHeight);
    EXPECT_EQ(test::rgbAt(pixels, kWidth - 1, kHeight - 1), 0xFFFFFFu);

    OffscreenContext none(nullptr, 0, 5);
    EXPECT_FALSE(none.valid());
    EXPECT_TRUE(none.readPixels().empty());
    const uint8_t pixel[4] = {};
    EXPECT_EQ(none.drawPixels(pixel, 4, 4, 0, 0, 1, 1, 0, 0), static_cast<int32_t>(E_UNEXPECTED));
    EXPECT_EQ(none.fillRaster({0, 0, 1, 1}, BLACKNESS), static_cast<int32_t>(E_UNEXPECTED));
    none.fillRect({0, 0, 1, 1}, kRed); // nothing to draw into: nothing happens
    EXPECT_EQ(none.measureText(u"x"), (Point{0, 0}));
}

TEST_F(DrawSurface, FillRectPaintsExactlyTheRectangleAndKeepsTheBackgroundColour) {
    surface.setBackgroundColour(kBlue);
    surface.fillRect({3, 2, 5, 4}, kGreenish);
    const PixelBuffer pixels = surface.readPixels();
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 12; ++x) {
            const bool inside = x >= 3 && x < 8 && y >= 2 && y < 6;
            EXPECT_EQ(test::rgbAt(pixels, x, y), inside ? rgb(kGreenish) : 0xFFFFFFu) << x << "," << y;
        }
    EXPECT_EQ(GetBkColor(surface.dc()), static_cast<COLORREF>(kBlue.colorref()));
}

TEST_F(DrawSurface, DrawPixelsPlacesThePartCountedFromTheImageTop) {
    const PixelBuffer image = test::patternImage(6, 4, [](int32_t x, int32_t y) {
        return 0xFF000000u | static_cast<uint32_t>(x * 0x300 + y * 0x30009);
    });
    EXPECT_EQ(surface.drawPixels(image.data(), image.byteSize(), image.rowBytes(), 20, 10, 3, 2, 1, 1), 0);
    const PixelBuffer pixels = surface.readPixels();
    for (int32_t y = 8; y < 14; ++y)
        for (int32_t x = 18; x < 26; ++x) {
            const bool inside = x >= 20 && x < 23 && y >= 10 && y < 12;
            const uint32_t expected = inside ? image.argb(x - 20 + 1, y - 10 + 1) & 0xFFFFFFu : 0xFFFFFFu;
            EXPECT_EQ(test::rgbAt(pixels, x, y), expected) << x << "," << y;
        }
    // The whole image, and a part reaching past the image's edge (clipped to the image).
    surface.drawPixels(image.data(), image.byteSize(), image.rowBytes(), 40, 0, 6, 4, 0, 0);
    surface.drawPixels(image.data(), image.byteSize(), image.rowBytes(), 60, 0, 10, 10, 4, 2);
    const PixelBuffer after = surface.readPixels();
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 6; ++x)
            EXPECT_EQ(test::rgbAt(after, 40 + x, y), image.argb(x, y) & 0xFFFFFFu);
    EXPECT_EQ(test::rgbAt(after, 61, 1), image.argb(5, 3) & 0xFFFFFFu);
    EXPECT_EQ(test::rgbAt(after, 62, 1), 0xFFFFFFu);
    EXPECT_EQ(test::rgbAt(after, 61, 2), 0xFFFFFFu);
    // Malformed buffers are refused.
    EXPECT_EQ(surface.drawPixels(nullptr, 16, 4, 0, 0, 1, 1, 0, 0), static_cast<int32_t>(E_INVALIDARG));
    EXPECT_EQ(surface.drawPixels(image.data(), 3, 4, 0, 0, 1, 1, 0, 0), static_cast<int32_t>(E_INVALIDARG));
}

TEST_F(DrawSurface, SolidLinesLeaveOutTheirEndAndDottedLinesEveryOtherPixel) {
    surface.line({1, 1}, {6, 1}, kRed);
    for (int32_t x = 0; x < 8; ++x)
        EXPECT_EQ(at(x, 1), x >= 1 && x < 6 ? rgb(kRed) : 0xFFFFFFu) << x;

    surface.dottedLine({0, 5}, {20, 5}, kBlue);
    const PixelBuffer pixels = surface.readPixels();
    int32_t dots = 0;
    for (int32_t x = 0; x < 20; ++x) {
        const bool dot = test::rgbAt(pixels, x, 5) == rgb(kBlue);
        dots += dot ? 1 : 0;
        if (x > 0 && dot) {
            EXPECT_NE(test::rgbAt(pixels, x - 1, 5), rgb(kBlue)) << "two dots side by side at " << x;
        }
    }
    EXPECT_EQ(dots, 10);
}

TEST_F(DrawSurface, TextSitsAtItsPointAsAligned) {
    Font::Spec spec;
    spec.face = Font::kArial;
    spec.points = 12;
    Font font(spec);
    surface.selectFont(&font);
    surface.setTextColour({0, 0, 0});
    const Point size = surface.measureText(u"MWM");
    EXPECT_GT(size.x, 10);
    EXPECT_GT(size.y, 8);
    EXPECT_GT(surface.measureText(u"MWMMWM").x, size.x);

    surface.setTextAlign(DrawContext::kAlignRight);
    surface.drawText(Point{60, 5}, u"MWM", true);
    Ink right = ink(0xFFFFFFu);
    EXPECT_GT(right.count, 0);
    EXPECT_LT(right.right, 60);
    EXPECT_GE(right.left, 60 - size.x);
    EXPECT_GE(right.top, 5);

    surface.fillRect({0, 0, kWidth, kHeight}, kWhite);
    surface.setTextAlign(DrawContext::kAlignLeft);
    surface.drawText(Point{60, 5}, u"MWM", true);
    Ink left = ink(0xFFFFFFu);
    EXPECT_GE(left.left, 60);
    EXPECT_LE(left.right, 60 + size.x);

    surface.fillRect({0, 0, kWidth, kHeight}, kWhite);
    surface.setTextAlign(DrawContext::kAlignCentre);
    surface.drawText(Point{60, 5}, u"MWM", true);
    Ink centre = ink(0xFFFFFFu);
    EXPECT_LT(centre.left, 60);
    EXPECT_GT(centre.right, 60);
    EXPECT_LE(std::abs((centre.left + centre.right) / 2 - 60), 2);

    // Unknown alignments count as left.
    surface.fillRect({0, 0, kWidth, kHeight}, kWhite);
    surface.setTextAlign(7);
    surface.drawText(Point{60, 5}, u"MWM", true);
    EXPECT_EQ(ink(0xFFFFFFu).left, left.left);
    surface.selectFont(nullptr);
}

TEST_F(DrawSurface, OpaqueTextCoversItsBoxTransparentTextOnlyItsGlyphs) {
    surface.fillRect({0, 0, kWidth, kHeight}, kRed);
    surface.setTextColour(kWhite);
    surface.setBackgroundColour(kBlue);
    surface.drawText(Point{10, 5}, u"i i i", false);
    const Point size = surface.measureText(u"i i i");
    int32_t red = 0;
    const PixelBuffer opaque = surface.readPixels();
    for (int32_t y = 5; y < 5 + size.y; ++y)
        for (int32_t x = 10; x < 10 + size.x; ++x)
            red += test::rgbAt(opaque, x, y) == rgb(kRed) ? 1 : 0;
    EXPECT_EQ(red, 0);

    surface.fillRect({0, 0, kWidth, kHeight}, kRed);
    surface.drawText(Point{10, 5}, u"i i i", true);
    const PixelBuffer transparent = surface.readPixels();
    int32_t blue = 0;
    red = 0;
    for (int32_t y = 5; y < 5 + size.y; ++y)
        for (int32_t x = 10; x < 10 + size.x; ++x) {
            red += test::rgbAt(transparent, x, y) == rgb(kRed) ? 1 : 0;
            blue += test::rgbAt(transparent, x, y) == rgb(kBlue) ? 1 : 0;
        }
    EXPECT_GT(red, size.x * size.y / 2);
    EXPECT_EQ(blue, 0);
}

TEST_F(DrawSurface, TextInARectangleStaysInsideIt) {
    surface.setTextColour({0, 0, 0});
    const Rect box{30, 10, 40, 20};
    surface.setTextAlign(DrawContext::kAlignCentre);
    surface.drawText(box, u"MWMWMWMWMWMWMWMWMWMW", true); // far wider than the box
    const Ink clipped = ink(0xFFFFFFu);
    EXPECT_GT(clipped.count, 0);
    EXPECT_GE(clipped.left, box.left);
    EXPECT_LT(clipped.right, box.right());
    EXPECT_GE(clipped.top, box.top);
    EXPECT_LT(clipped.bottom, box.bottom());

    // Short text: centred horizontally and vertically in the box, whatever the DC's own
    // alignment says.
    surface.fillRect({0, 0, kWidth, kHeight}, kWhite);
    surface.drawText(box, u"II", true);
    const Ink centred = ink(0xFFFFFFu);
    EXPECT_LE(std::abs((centred.left + centred.right) / 2 - (box.left + box.width / 2)), 2);
    EXPECT_LE(std::abs((centred.top + centred.bottom) / 2 - (box.top + box.height / 2)), 3);

    surface.fillRect({0, 0, kWidth, kHeight}, kWhite);
    surface.setTextAlign(DrawContext::kAlignRight);
    surface.drawText(box, u"II", true);
    const Ink right = ink(0xFFFFFFu);
    EXPECT_LT(right.right, box.right());
    EXPECT_GT(right.left, box.left + box.width / 2);
}

TEST_F(DrawSurface, ClipLimitsDrawingUntilRemoved) {
    surface.clip({5, 5, 5, 5});
    surface.fillRect({0, 0, kWidth, kHeight}, kRed);
    Ink red = ink(0xFFFFFFu);
    EXPECT_EQ(red.count, 25);
    EXPECT_EQ(red.left, 5);
    EXPECT_EQ(red.bottom, 9);
    surface.unclip();
    surface.fillRect({0, 0, kWidth, kHeight}, kRed);
    EXPECT_EQ(ink(0xFFFFFFu).count, kWidth * kHeight);
}

TEST_F(DrawSurface, RasterOperationsAndCopies) {
    EXPECT_EQ(surface.fillRaster({0, 0, 4, 4}, BLACKNESS), 0);
    EXPECT_EQ(at(3, 3), 0u);
    EXPECT_EQ(at(4, 3), 0xFFFFFFu);
    surface.fillRaster({1, 1, 2, 2}, DSTINVERT);
    EXPECT_EQ(at(1, 1), 0xFFFFFFu);
    EXPECT_EQ(at(0, 0), 0u);

    OffscreenContext other(nullptr, 10, 10);
    other.fillRect({0, 0, 10, 10}, kBlue);
    other.fillRect({2, 3, 1, 1}, kRed);
    EXPECT_EQ(surface.copyFrom({50, 20, 4, 4}, other, {1, 2}), 0);
    EXPECT_EQ(at(51, 21), rgb(kRed));
    EXPECT_EQ(at(50, 20), rgb(kBlue));
    EXPECT_EQ(at(54, 20), 0xFFFFFFu);
    GdiDrawContext detached(nullptr);
    EXPECT_EQ(surface.copyFrom({0, 0, 1, 1}, detached, {0, 0}), static_cast<int32_t>(E_UNEXPECTED));
}

TEST_F(DrawSurface, ReadsBackAPart) {
    surface.fillRect({10, 10, 2, 3}, kRed);
    const PixelBuffer part = surface.readPixels({9, 9, 4, 5});
    ASSERT_EQ(part.width(), 4);
    ASSERT_EQ(part.height(), 5);
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 4; ++x) {
            const bool red = x >= 1 && x < 3 && y >= 1 && y < 4;
            EXPECT_EQ(test::rgbAt(part, x, y), red ? rgb(kRed) : 0xFFFFFFu) << x << "," << y;
        }
    EXPECT_TRUE(surface.readPixels({kWidth - 1, 0, 2, 1}).empty());
}

TEST_F(DrawSurface, DrawsARegionOfASkinBitmap) {
    test::TempFolder folder;
    const PixelBuffer image = test::patternImage(8, 6, [](int32_t x, int32_t y) {
        return 0xFF000000u | static_cast<uint32_t>(x * 0x1F0000 + y * 0x2A00 + 9);
    });
    ASSERT_TRUE(writeBmp(folder.file("skin.bmp"), image, 24));
    SkinBitmap bitmap;
    bitmap.load(folder.file("skin.bmp").u16string(), false);
    ASSERT_FALSE(bitmap.empty());
    EXPECT_EQ(surface.drawBitmap(bitmap, {70, 10, 3, 2}, {4, 3}), 0);
    const PixelBuffer pixels = surface.readPixels();
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x)
            EXPECT_EQ(test::rgbAt(pixels, 70 + x, 10 + y), image.argb(4 + x, 3 + y) & 0xFFFFFFu);
    EXPECT_EQ(test::rgbAt(pixels, 73, 10), 0xFFFFFFu);
    SkinBitmap empty;
    EXPECT_EQ(surface.drawBitmap(empty, {0, 0, 1, 1}, {0, 0}), static_cast<int32_t>(E_UNEXPECTED));
}

TEST_F(DrawSurface, FontsAreMadeAsAskedAndSelectedAndPutBack) {
    HDC dc = surface.dc();
    const HGDIOBJ original = GetCurrentObject(dc, OBJ_FONT);
    Font::Spec spec;
    spec.face = Font::kLucidaConsole;
    spec.points = 9;
    spec.weightIndex = 3;
    spec.italic = true;
    spec.charsetIndex = 1;
    HGDIOBJ handle = nullptr;
    {
        Font font(spec);
        handle = static_cast<HGDIOBJ>(font.handle());
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(font.handle(), handle); // made once
        LOGFONTW description{};
        ASSERT_NE(GetObjectW(handle, sizeof description, &description), 0);
        HDC screen = GetDC(nullptr);
        const int32_t pixelsPerInch = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
        EXPECT_EQ(description.lfHeight, Font::pointsToPixels(9, pixelsPerInch));
        EXPECT_EQ(description.lfWidth, 0);
        EXPECT_EQ(description.lfWeight, 600);
        EXPECT_TRUE(description.lfItalic);
        EXPECT_FALSE(description.lfUnderline);
        EXPECT_EQ(description.lfCharSet, SHIFTJIS_CHARSET);
        EXPECT_EQ(win32::fromWide(description.lfFaceName), u"Lucida Console");

        {
            GdiDrawContext context(dc);
            EXPECT_EQ(context.selectFont(&font), nullptr);
            EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), handle);
            EXPECT_EQ(context.selectFont(nullptr), &font);
            EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), original);
            context.selectFont(&font);
        }
        // The context put the DC's own font back before the Font could go.
        EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), original);
    }
    EXPECT_EQ(GetObjectType(handle), 0u); // deleted with its Font

    Font::Spec wide;
    wide.widthPoints = 6;
    Font widened(wide);
    LOGFONTW description{};
    GetObjectW(static_cast<HGDIOBJ>(widened.handle()), sizeof description, &description);
    HDC screen = GetDC(nullptr);
    const int32_t pixelsPerInchX = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(description.lfWidth, -Font::pointsToPixels(6, pixelsPerInchX));
    EXPECT_EQ(description.lfCharSet, DEFAULT_CHARSET);
}

TEST(FontSize, RoundsAsTheSystemMulDivDoes) {
    for (int32_t points = -30; points <= 100; ++points)
        for (int32_t pixelsPerInch : {35, 72, 84, 96, 108, 120, 144, 150})
            EXPECT_EQ(Font::pointsToPixels(points, pixelsPerInch), -MulDiv(points, pixelsPerInch, 72))
                << points << " pt at " << pixelsPerInch;
}

} // namespace
} // namespace pellucer::gui
