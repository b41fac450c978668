#include <gtest/gtest.h>

#include <string>

#include "core/SkinTable.h"
#include "core/ChannelStripEffect.h"
#include "core/HostText.h"
#include "core/ParameterDisplay.h"

using namespace pellucer;

// One value of each kind of text, as a host asks for it: value text and unit label, with the
// shipped skin's words. Every value over a grid is held by ParameterGoldenTest in the native
// build; these run in every build, so that a C runtime that writes numbers its own way is caught.
TEST(Display, EachKindOfTextAsAHostShowsIt) {
    if (!textResources().contains("IDS_GENERIC_ON")) {
        ASSERT_EQ(textResources().load(PELLUCER_SOURCE_DIR "/skin/TextResources.tsres"), SkinTable::kSuccess);
    }
    struct Case {
        int32_t index;
        float v;
        bool synced;
        const char* text;
        const char* label;
    };
    // clang-format off
    const Case cases[] = {
        {kCompressorThresh, 0.0025f, false, "-59.8", "dB"}, // rounded to single precision (double: -59.9)
        {kCompressorRatio, 0.43224f, false, "4.4", ":1"},  // the power in single precision (double: 4.5)
        {kCompressorRatio, 1.0f, false, "inf", ":1"},
        {kExpanderRatio, 0.0f, false, "1:1.0", ""},
        {kExpanderRatio, 1.0f, false, "1:inf", ""},
        {kEqHighFreq, 1.0f, false, "20000.0", "Hz"},
        {kDelayLevel, 0.4f, false, "-15.9", "dB"},
        {kDoublerPresence, 0.0f, false, "-inf", "dB"},
        {kDelayFeedback, 1.0f, false, "90.0", "%"},
        {kDelayFilterFreq, 0.40101f, false, "219.0", "Hz"}, // the power rounded, then times 10 Hz (not 218.9)
        {kDelayTime, 0.7f, false, "407.1", "ms"},
        {kDelayTime, 0.51f, true, "1/8D", ""},
        {kEqEnable, 0.5f, false, "Off", ""},
        {kInputTubeEnable, 1.0f, false, "On", ""},     // "on" = tube in circuit
        {kReserved, 12345.0f, false, "", ""},
        {70, 0.5f, false, "", ""},
    };
    // clang-format on
    for (const Case& c : cases) {
        ChannelStripEffect effect(nullptr);
        effect.setParameter(kDelaySyncEnable, c.synced ? 1.0f : 0.0f);
        effect.setParameter(c.index, c.v);
        char text[64] = "x", label[64] = "x";
        effect.getParameterDisplay(c.index, text);
        effect.getParameterLabel(c.index, label);
        EXPECT_STREQ(text, c.text) << c.index << " at " << c.v;
        EXPECT_STREQ(label, c.label) << c.index;
    }
    char name[64];
    for (const auto& [index, expected] : {std::pair{int32_t{kOutputTubeSaturation}, "Output Tube Saturation"},
                                          std::pair{int32_t{39}, ""}, std::pair{int32_t{-1}, ""}}) {
        ChannelStripEffect(nullptr).getParameterName(index, name);
        EXPECT_STREQ(name, expected);
    }
}

TEST(HostText, CutsAndNarrowsForHosts) {
    char text[16];
    toHostText(u"-1234.5678", text, kDisplayChars);
    EXPECT_STREQ(text, "-1234.56");
    toHostText(u"\u221e dB", text, kDisplayChars); // no 8-bit form: shown as '?'
    EXPECT_STREQ(text, "? dB");
    const char16_t unterminated[3] = {u'a', u'b', u'c'};
    toHostText(unterminated, 3, text, 15);
    EXPECT_STREQ(text, "abc");
    EXPECT_EQ(fromHostText("Caf\xE9", 100), u"Caf\u00e9");
    EXPECT_EQ(fromHostText("abcdef", 3), u"abc");
    EXPECT_EQ(fromHostText(nullptr, 3), u"");
}
