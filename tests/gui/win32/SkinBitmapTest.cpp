// Skin images loaded through the Windows image loader: sizes, the alpha flag from the file's
// bit depth, pixel copies, the failure path with its message box, and lookups by key.

#include "Shared/GUI/Win32/SkinBitmap.h"

#include <gtest/gtest.h>

#include "tests/gui/win32/Win32TestSupport.h"

namespace pellucer::gui {
namespace {

using test::MessageBoxRecorder;
using test::TempFolder;

/// Pixel (x, y) of the test images: every channel depends on both coordinates, so a flipped,
/// shifted or transposed copy cannot match.
uint32_t patternArgb(int32_t x, int32_t y) {
    return (static_cast<uint32_t>(40 + 50 * y) << 24) | (static_cast<uint32_t>(10 + 30 * x) << 16) |
           (static_cast<uint32_t>(200 - 20 * y) << 8) | static_cast<uint32_t>(7 * x + 60 * y);
}

constexpr int32_t kWidth = 5;
constexpr int32_t kHeight = 3;

class SkinBitmapTest : public ::testing::Test {
protected:
    void SetUp() override { test::ensureTextSkin(); }

    std::u16string writeImage(const std::string& name, int32_t bitsPerPixel) {
        const auto path = folder.file(name);
        EXPECT_TRUE(writeBmp(path, test::patternImage(kWidth, kHeight, patternArgb), bitsPerPixel));
        return path.u16string();
    }

    /// Expects exactly one recorded box per failed load, as the skin describes it.
    void expectBitmapBoxes(const MessageBoxRecorder& boxes, size_t count) {
        ASSERT_EQ(boxes.count(), count);
        for (const auto& box : boxes.requests()) {
            EXPECT_EQ(box.owner, nullptr);
            EXPECT_EQ(box.style, static_cast<UINT>(MB_OK | MB_ICONERROR));
            EXPECT_EQ(box.caption, u"Pellucer - Skin Image Missing");
            EXPECT_EQ(box.text, textResources().text("IDS_BITMAP_NOT_FOUND_MESSAGE"));
        }
    }

    TempFolder folder;
};

TEST_F(SkinBitmapTest, TwentyFourBitImageHasNoAlphaAndComesOutOpaque) {
    SkinBitmap bitmap;
    EXPECT_EQ(bitmap.load(writeImage("rgb.bmp", 24), true), S_OK);
    ASSERT_FALSE(bitmap.empty());
    EXPECT_EQ(bitmap.width(), kWidth);
    EXPECT_EQ(bitmap.height(), kHeight);
    EXPECT_EQ(bitmap.pixelCount(), kWidth * kHeight);
    EXPECT_EQ(bitmap.byteSize(), kWidth * kHeight * 4);
    EXPECT_FALSE(bitmap.hasAlpha());
    const PixelBuffer pixels = bitmap.pixels();
    ASSERT_EQ(pixels.width(), kWidth);
    ASSERT_EQ(pixels.height(), kHeight);
    for (int32_t y = 0; y < kHeight; ++y)
        for (int32_t x = 0; x < kWidth; ++x)
            EXPECT_EQ(pixels.argb(x, y), 0xFF000000u | (patternArgb(x, y) & 0xFFFFFFu)) << x << "," << y;
}

TEST_F(SkinBitmapTest, ThirtyTwoBitImageHasAlpha) {
    SkinBitmap bitmap;
    bitmap.load(writeImage("rgba.bmp", 32), true);
    ASSERT_FALSE(bitmap.empty());
    EXPECT_TRUE(bitmap.hasAlpha());
    const PixelBuffer pixels = bitmap.pixels();
    for (int32_t y = 0; y < kHeight; ++y)
        for (int32_t x = 0; x < kWidth; ++x)
            EXPECT_EQ(pixels.argb(x, y), patternArgb(x, y)) << x << "," << y;
}

TEST_F(SkinBitmapTest, CopiesAPartBottomUp) {
    SkinBitmap bitmap;
    bitmap.load(writeImage("part.bmp", 24), true);
    const Rect part{1, 1, 3, 2};
    std::vector<uint8_t> bytes(3 * 2 * 4);
    ASSERT_TRUE(bitmap.copyPixels(part, bytes.data(), bytes.size()));
    // Row 0 in memory is the part's bottom row (image row 2).
    for (int32_t row = 0; row < 2; ++row)
        for (int32_t column = 0; column < 3; ++column) {
            const uint8_t* p = bytes.data() + (row * 3 + column) * 4;
            const uint32_t expected = 0xFF000000u | (patternArgb(1 + column, 2 - row) & 0xFFFFFFu);
            const uint32_t got = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
            EXPECT_EQ(got, expected) << column << "," << row;
        }
    // Parts outside the image, and a target too small, copy nothing.
    std::vector<uint8_t> untouched(bytes.size(), 0xAB);
    EXPECT_FALSE(bitmap.copyPixels(Rect{3, 0, 3, 1}, untouched.data(), untouched.size()));
    EXPECT_FALSE(bitmap.copyPixels(Rect{-1, 0, 2, 1}, untouched.data(), untouched.size()));
    EXPECT_FALSE(bitmap.copyPixels(part, untouched.data(), untouched.size() - 1));
    EXPECT_EQ(untouched, std::vector<uint8_t>(bytes.size(), 0xAB));
    std::vector<uint8_t> whole(static_cast<size_t>(bitmap.byteSize()));
    EXPECT_TRUE(bitmap.copyPixels(whole.data(), whole.size()));
    EXPECT_FALSE(bitmap.copyPixels(whole.data(), whole.size() - 4));
}

TEST_F(SkinBitmapTest, UnloadableFilesLeaveAnEmptyBitmapAndOneBoxPerAttempt) {
    const std::u16string valid = writeImage("valid.bmp", 24);
    std::vector<uint8_t> bytes;
    {
        FILE* file = _wfopen(reinterpret_cast<const wchar_t*>(valid.c_str()), L"rb");
        ASSERT_NE(file, nullptr);
        int c;
        while ((c = fgetc(file)) != EOF)
            bytes.push_back(static_cast<uint8_t>(c));
        fclose(file);
    }
    // Cut inside the 14-byte file header. (Wine's loader reads a file cut any later as if the
    // missing bytes were zero and answers an image; whether such a file loads is the loader's
    // call, not ours.)
    test::writeBytes(folder.file("truncated.bmp"), std::vector<uint8_t>(bytes.begin(), bytes.begin() + 12));
    std::vector<uint8_t> garbage(400);
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<uint8_t>(i * 37 + 11);
    test::writeBytes(folder.file("garbage.bmp"), garbage);
    test::writeBytes(folder.file("empty.bmp"), {});

    MessageBoxRecorder boxes;
    const std::u16string broken[] = {folder.file("missing.bmp").u16string(),
                                     folder.file("truncated.bmp").u16string(),
                                     folder.file("garbage.bmp").u16string(),
                                     folder.file("empty.bmp").u16string(), folder.path().u16string()};
    size_t attempts = 0;
    for (const std::u16string& path : broken) {
        SkinBitmap bitmap;
        EXPECT_EQ(bitmap.load(path, true), S_OK); // a failed image is no failure of the load
        ++attempts;
        EXPECT_TRUE(bitmap.empty());
        EXPECT_EQ(bitmap.width(), 0);
        EXPECT_EQ(bitmap.height(), 0);
        EXPECT_EQ(bitmap.byteSize(), 0);
        EXPECT_EQ(bitmap.handle(), nullptr);
        EXPECT_TRUE(bitmap.pixels().empty());
        uint8_t byte = 0;
        EXPECT_FALSE(bitmap.copyPixels(&byte, 1));
        EXPECT_EQ(boxes.count(), attempts) << "after loading " << std::string(path.begin(), path.end());
    }
    // Every attempt reports again; without the report flag nothing is shown.
    SkinBitmap again;
    again.load(broken[0], true);
    again.load(broken[0], true);
    again.load(broken[1], false);
    expectBitmapBoxes(boxes, attempts + 2);
    // A good image after a failed one replaces the emptiness.
    again.load(valid, true);
    EXPECT_EQ(again.width(), kWidth);
    EXPECT_EQ(boxes.count(), attempts + 2);
}

TEST_F(SkinBitmapTest, ReloadingReplacesTheImageAndItsAlphaFlag) {
    SkinBitmap bitmap;
    bitmap.load(writeImage("a.bmp", 32), true);
    EXPECT_TRUE(bitmap.hasAlpha());
    bitmap.load(writeImage("b.bmp", 24), true);
    EXPECT_FALSE(bitmap.hasAlpha());
    EXPECT_EQ(bitmap.width(), kWidth);
    bitmap.destroy();
    EXPECT_TRUE(bitmap.empty());
    EXPECT_EQ(bitmap.pixelCount(), 0);
}

/// Puts a graphics table of the test's own into the process-wide one, and afterwards leaves
/// it as the shipped skin would (or empty, when it was empty before).
class GraphicsTableScope {
public:
    GraphicsTableScope(const std::string& lines, std::u16string baseFolder)
        : wasLoaded_(graphicsResources().loaded()), previousFolder_(graphicsResources().baseFolder()) {
        graphicsResources().loadFromMemory(reinterpret_cast<const uint8_t*>(lines.data()), lines.size());
        graphicsResources().setBaseFolder(std::move(baseFolder));
    }
    ~GraphicsTableScope() {
        if (wasLoaded_)
            graphicsResources().load(PELLUCER_SOURCE_DIR "/skin/GraphicsResources.tsres");
        else
            graphicsResources().clear();
        graphicsResources().setBaseFolder(previousFolder_);
    }

private:
    bool wasLoaded_;
    std::u16string previousFolder_;
};

TEST_F(SkinBitmapTest, BitmapsByKeyComeFromTheBaseFolder) {
    writeImage("knob.bmp", 32);
    writeImage("knobmask.bmp", 24);
    GraphicsTableScope table("IDB_T_KNOB,knob.bmp\nIDB_T_KNOBMASK,knobmask.bmp\nIDB_T_GONE,gone.bmp\n",
                             folder.folderText());
    MessageBoxRecorder boxes;

    // A key the table lacks is no bitmap and no message.
    EXPECT_EQ(bitmapFromSkin("IDB_T_NONE"), nullptr);
    EXPECT_EQ(boxes.count(), 0u);

    auto knob = bitmapFromSkin("IDB_T_KNOB");
    ASSERT_NE(knob, nullptr);
    EXPECT_EQ(knob->width(), kWidth);
    EXPECT_TRUE(knob->hasAlpha());

    // A key naming a file that is not there: an empty bitmap, and the box once per lookup.
    auto gone = bitmapFromSkin("IDB_T_GONE");
    ASSERT_NE(gone, nullptr);
    EXPECT_TRUE(gone->empty());
    expectBitmapBoxes(boxes, 1);
    gone = bitmapFromSkin("IDB_T_GONE");
    expectBitmapBoxes(boxes, 2);
}

TEST_F(SkinBitmapTest, MaskedImagesTakeTheirSizeFromWhicheverHalfIsThere) {
    writeImage("img.bmp", 24);
    const PixelBuffer tall =
        test::patternImage(2, 6, [](int32_t x, int32_t y) { return 0xFF000000u | (x * 100 + y); });
    writeBmp(folder.file("tall.bmp"), tall, 24);
    GraphicsTableScope table("IDB_T_IMG,img.bmp\nIDB_T_TALL,tall.bmp\nIDB_T_GONE,gone.bmp\n",
                             folder.folderText());
    MessageBoxRecorder boxes;

    const MaskedImage both("IDB_T_IMG", "IDB_T_TALL");
    EXPECT_EQ(both.width(), kWidth); // the image decides
    EXPECT_EQ(both.height(), kHeight);
    EXPECT_EQ(both.byteSize(), kWidth * kHeight * 4);

    const MaskedImage maskOnly("", "IDB_T_TALL");
    EXPECT_EQ(maskOnly.image(), nullptr);
    EXPECT_EQ(maskOnly.width(), 2);
    EXPECT_EQ(maskOnly.height(), 6);
    EXPECT_EQ(maskOnly.pixelCount(), 12);

    const MaskedImage neither("IDB_T_ABSENT", "");
    EXPECT_EQ(neither.image(), nullptr);
    EXPECT_EQ(neither.mask(), nullptr);
    EXPECT_EQ(neither.width(), 0);
    EXPECT_EQ(boxes.count(), 0u);

    const MaskedImage broken("IDB_T_IMG", "IDB_T_GONE");
    ASSERT_NE(broken.mask(), nullptr);
    EXPECT_TRUE(broken.mask()->empty());
    EXPECT_EQ(boxes.count(), 1u);

    // The strip holds copies of both halves, frames as asked.
    const ImageStrip strip = imageStripFrom(MaskedImage("IDB_T_TALL", "IDB_T_TALL"), 3);
    EXPECT_EQ(strip.frames, 3);
    EXPECT_EQ(strip.frameHeight(), 2);
    ASSERT_EQ(strip.image.width(), 2);
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 2; ++x) {
            EXPECT_EQ(strip.image.argb(x, y), tall.argb(x, y));
            EXPECT_EQ(strip.mask.argb(x, y), tall.argb(x, y));
        }
    const ImageStrip half = imageStripFrom(maskOnly, 0);
    EXPECT_TRUE(half.image.empty());
    EXPECT_EQ(half.mask.height(), 6);
    EXPECT_EQ(half.frames, 1);
}

} // namespace
} // namespace pellucer::gui
