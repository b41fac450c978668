// The shipped skin's images: every key the editor looks up is in GraphicsResources.tsres, names
// a BMP that loads, and has the size the controls expect; masks match their images; strips run
// the right way round (frame 0 is the minimum).

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "Shared/GUI/BmpFile.h"
#include "Shared/GUI/PixelBuffer.h"
#include "core/SkinTable.h"

using pellucer::SkinTable;
using pellucer::gui::ImageStrip;
using pellucer::gui::PixelBuffer;

namespace {

struct ExpectedImage {
    const char* key;
    const char* maskKey; ///< null: drawn opaque, no mask
    int32_t width;
    int32_t frameHeight;
    int32_t frames;
};

// Frame sizes the editor's controls are built around.
const ExpectedImage kImages[] = {
    {"IDB_BACKGROUND", nullptr, 824, 340, 1},
    {"IDB_ABOUT", nullptr, 420, 260, 1},
    {"IDB_UNIKNOB", "IDB_UNIKNOBMASK", 50, 60, 127},
    {"IDB_FADER", "IDB_FADERMASK", 22, 46, 1},
    {"IDB_FADER_BROWN", "IDB_FADER_BROWNMASK", 22, 46, 1},
    {"IDB_POWER", "IDB_POWER_MASK", 37, 27, 2},
    {"IDB_DSR_ENABLE", "IDB_DSR_ENABLE_MASK", 25, 27, 2},
    {"IDB_COMP_ENABLE", "IDB_COMP_ENABLE_MASK", 25, 27, 2},
    {"IDB_EQ_ENABLE", "IDB_EQ_ENABLE_MASK", 25, 27, 2},
    {"IDB_DBL_ENABLE", "IDB_DBL_ENABLE_MASK", 25, 27, 2},
    {"IDB_DLY_ENABLE", "IDB_DLY_ENABLE_MASK", 25, 27, 2},
    {"IDB_GEN_ENABLE", "IDB_GEN_ENABLE_MASK", 20, 34, 2},
    {"IDB_TUBE_ENABLE", "IDB_TUBE_ENABLE_MASK", 20, 34, 2},
    {"IDB_TAB_DSR", "IDB_TAB_DSR_MASK", 50, 15, 2},
    {"IDB_TAB_COMP", "IDB_TAB_COMP_MASK", 53, 15, 2},
    {"IDB_TAB_EQ", "IDB_TAB_EQ_MASK", 58, 15, 2},
    {"IDB_TAB_DBL", "IDB_TAB_DBL_MASK", 50, 15, 2},
    {"IDB_TAB_DLY", "IDB_TAB_DLY_MASK", 37, 15, 2},
    {"IDB_METER15", "IDB_METER15_MASK", 8, 120, 16},
    {"IDB_METER6", "IDB_METER6_MASK", 8, 48, 7},
    {"IDB_TUBE_METER", "IDB_TUBE_METER_MASK", 26, 32, 32},
    {"IDB_OUT_TUBE_METER", "IDB_OUT_TUBE_METER_MASK", 26, 32, 32},
    {"IDB_ORDER", "IDB_ORDER_MASK", 240, 57, 1},
    {"IDB_ICON_COMP", nullptr, 40, 47, 1},
    {"IDB_ICON_EQ", nullptr, 40, 47, 1},
    {"IDB_ICON_DSR", nullptr, 40, 47, 1},
    {"IDB_ICON_DBL", nullptr, 40, 47, 1},
    {"IDB_ICON_DLY", nullptr, 40, 47, 1},
};

std::filesystem::path skinFolder() { return std::filesystem::path(PELLUCER_SOURCE_DIR) / "skin"; }

std::string narrow(const std::u16string& text) {
    std::string out;
    for (const char16_t unit : text)
        out.push_back(static_cast<char>(unit < 0x80 ? unit : '?'));
    return out;
}

class ShippedSkinImages : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(table_.load(skinFolder() / "GraphicsResources.tsres"), SkinTable::kSuccess);
    }

    /// Loads the image that `key` names; fails the test when the key or the file is missing.
    PixelBuffer load(const char* key) {
        PixelBuffer image;
        const std::u16string* name = table_.find(key);
        EXPECT_NE(name, nullptr) << key << " is missing from GraphicsResources.tsres";
        if (name != nullptr) {
            EXPECT_TRUE(pellucer::gui::readBmp(skinFolder() / narrow(*name), image))
                << key << ": " << narrow(*name);
        }
        return image;
    }

    ImageStrip strip(const char* key) {
        for (const ExpectedImage& e : kImages)
            if (std::string(e.key) == key)
                return ImageStrip{load(e.key), e.maskKey != nullptr ? load(e.maskKey) : PixelBuffer(),
                                  e.frames};
        ADD_FAILURE() << key;
        return {};
    }

    SkinTable table_;
};

/// Sum of R + G + B over frame `frame` of `strip`, weighted by the mask (what a control shows).
double shownLight(const ImageStrip& s, int32_t frame) {
    double sum = 0.0;
    const int32_t h = s.frameHeight();
    for (int32_t y = frame * h; y < (frame + 1) * h; ++y)
        for (int32_t x = 0; x < s.width(); ++x) {
            const uint32_t p = s.image.argb(x, y);
            const double cover = (s.mask.argb(x, y) & 0xFF) / 255.0;
            sum += cover * (((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF));
        }
    return sum;
}

} // namespace

TEST_F(ShippedSkinImages, EveryImageLoadsAtTheSizeItsControlExpects) {
    for (const ExpectedImage& e : kImages) {
        SCOPED_TRACE(e.key);
        const PixelBuffer image = load(e.key);
        EXPECT_EQ(image.width(), e.width);
        EXPECT_EQ(image.height(), e.frameHeight * e.frames);
        const std::u16string* name = table_.find(e.key);
        ASSERT_NE(name, nullptr);
        // 24-bit files: the editor's bitmap loader treats them as having no alpha.
        EXPECT_EQ(pellucer::gui::bmpBitsPerPixel(skinFolder() / narrow(*name)), 24);
        if (e.maskKey == nullptr) {
            EXPECT_FALSE(table_.contains(std::string(e.key) + "_MASK"));
            continue;
        }
        const PixelBuffer mask = load(e.maskKey);
        EXPECT_EQ(mask.width(), image.width()) << e.maskKey;
        EXPECT_EQ(mask.height(), image.height()) << e.maskKey;
        // Grey masks: the controls read the red channel, the others must agree with it.
        bool grey = true, covers = false;
        for (int32_t y = 0; y < mask.height() && grey; ++y)
            for (int32_t x = 0; x < mask.width(); ++x) {
                const uint32_t p = mask.argb(x, y);
                grey = grey && ((p >> 16) & 0xFF) == ((p >> 8) & 0xFF) && ((p >> 8) & 0xFF) == (p & 0xFF);
                covers = covers || (p & 0xFF) == 255;
            }
        EXPECT_TRUE(grey) << e.maskKey;
        EXPECT_TRUE(covers) << e.maskKey << " never shows its image fully";
    }
}

TEST_F(ShippedSkinImages, TableNamesOnlyLowercaseBmpFilesThatExist) {
    size_t expectedKeys = 0;
    for (const ExpectedImage& e : kImages)
        expectedKeys += e.maskKey != nullptr ? 2 : 1;
    EXPECT_EQ(table_.size(), expectedKeys);
    for (const auto& [key, value] : table_.entries()) {
        const std::string file = narrow(value);
        EXPECT_EQ(key.rfind("IDB_", 0), 0u) << key;
        ASSERT_GT(file.size(), 4u) << key;
        EXPECT_EQ(file.substr(file.size() - 4), ".bmp") << key;
        for (const char ch : file)
            EXPECT_FALSE(ch >= 'A' && ch <= 'Z') << key << ": " << file;
        EXPECT_TRUE(std::filesystem::is_regular_file(skinFolder() / file)) << file;
    }
}

TEST_F(ShippedSkinImages, StripsRunFromTheMinimumInFrameZeroToTheMaximumInTheLast) {
    // Meters light more segments and the tube glows warm up frame by frame.
    for (const char* key : {"IDB_METER15", "IDB_METER6", "IDB_TUBE_METER", "IDB_OUT_TUBE_METER"}) {
        SCOPED_TRACE(key);
        const ImageStrip s = strip(key);
        ASSERT_FALSE(s.empty());
        for (int32_t k = 1; k < s.frames; ++k)
            EXPECT_GT(shownLight(s, k), shownLight(s, k - 1)) << "frame " << k;
    }
    // The knob's value arc grows with the frame: count the arc's blue pixels.
    const ImageStrip knob = strip("IDB_UNIKNOB");
    ASSERT_FALSE(knob.empty());
    auto arcPixels = [&](int32_t frame) {
        int count = 0;
        for (int32_t y = frame * knob.frameHeight(); y < (frame + 1) * knob.frameHeight(); ++y)
            for (int32_t x = 0; x < knob.width(); ++x) {
                const uint32_t p = knob.image.argb(x, y);
                const int r = (p >> 16) & 0xFF, b = p & 0xFF;
                count += (b > 180 && b > r + 80) ? 1 : 0;
            }
        return count;
    };
    EXPECT_LT(arcPixels(0), 5);
    EXPECT_GT(arcPixels(126), 150);
    for (int32_t k = 16; k < knob.frames; k += 16)
        EXPECT_GT(arcPixels(k), arcPixels(k - 16)) << "frame " << k;
    // Two-frame switches and tabs look different on and off.
    for (const char* key : {"IDB_POWER", "IDB_DSR_ENABLE", "IDB_COMP_ENABLE", "IDB_EQ_ENABLE",
                            "IDB_DBL_ENABLE", "IDB_DLY_ENABLE", "IDB_GEN_ENABLE", "IDB_TUBE_ENABLE",
                            "IDB_TAB_DSR", "IDB_TAB_COMP", "IDB_TAB_EQ", "IDB_TAB_DBL", "IDB_TAB_DLY"}) {
        const ImageStrip s = strip(key);
        ASSERT_FALSE(s.empty()) << key;
        EXPECT_GT(shownLight(s, 1), shownLight(s, 0) * 1.02) << key << ": the on frame is the brighter one";
    }
}
