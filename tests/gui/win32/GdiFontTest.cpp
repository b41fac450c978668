// The platform font behind a Font: made as its description asks, and deleted with it.

#include "Shared/GUI/Font.h"

#include <gtest/gtest.h>

#include "Shared/GUI/Win32/WinApi.h"

namespace pellucer::gui {
namespace {

TEST(GdiFont, IsMadeAsDescribedAndDeletedWithItsFont) {
    HDC screen = GetDC(nullptr);
    const int32_t perInchX = GetDeviceCaps(screen, LOGPIXELSX), perInchY = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    HGDIOBJ handle = nullptr;
    {
        const Font font(Font::Spec{Font::kLucidaConsole, 9, 3, 1, true, false, false, 6});
        handle = static_cast<HGDIOBJ>(font.handle());
        LOGFONTW made{};
        ASSERT_NE(GetObjectW(handle, sizeof made, &made), 0);
        EXPECT_EQ(win32::fromWide(made.lfFaceName), u"Lucida Console");
        // Points become pixels as MulDiv rounds them; a height is negative (the character's).
        EXPECT_EQ(made.lfHeight, -MulDiv(9, perInchY, 72));
        EXPECT_EQ(made.lfWidth, MulDiv(6, perInchX, 72));
        EXPECT_EQ(made.lfWeight, 600); // weight index 3
        EXPECT_TRUE(made.lfItalic);
        EXPECT_FALSE(made.lfUnderline);
        EXPECT_EQ(made.lfCharSet, SHIFTJIS_CHARSET); // charset index 1
    }
    EXPECT_EQ(GetObjectType(handle), 0u);
}

} // namespace
} // namespace pellucer::gui
