#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Shared/GUI/SkinTable.h"
#include "core/ChannelStripEffect.h"
#include "core/HostText.h"
#include "core/ParameterDisplay.h"

using namespace pellucer;

namespace {

// The display words come from the shipped skin, loaded into the process-wide text table.
struct Display : ::testing::Test {
    static void SetUpTestSuite() {
        if (!textResources().contains("IDS_GENERIC_ON")) {
            ASSERT_EQ(textResources().load(PELLUCER_SOURCE_DIR "/skin/TextResources.tsres"), SkinTable::kSuccess);
        }
    }
    ChannelStripEffect effect{nullptr};

    std::string display(int32_t index, float v) {
        effect.setParameter(index, v);
        char text[64];
        std::memset(text, 'x', sizeof(text));
        effect.getParameterDisplay(index, text);
        return text;
    }
    std::string label(int32_t index) {
        char text[64];
        effect.getParameterLabel(index, text);
        return text;
    }
    static std::string word(const char* key) {
        std::string s;
        for (char16_t c : textResources().text(key))
            s.push_back(static_cast<char>(c));
        return s;
    }
};

} // namespace

TEST_F(Display, ExamplesOfTheValueTexts) {
    EXPECT_EQ(display(kInputGain, 0.5f), "0.0");
    EXPECT_EQ(display(kCompressorThresh, 0.8f), "-12.0");
    EXPECT_EQ(display(kCompressorRatio, 0.4014f), "4.0");
    EXPECT_EQ(display(kEqHighFreq, 1.0f), "20000.0");
    EXPECT_EQ(display(kDelayTime, 0.7f), "407.1");
    EXPECT_EQ(display(kDelayFilterFreq, 0.4f), "217.3");
    EXPECT_EQ(display(kDelayLevel, 0.4f), "-15.9");
    EXPECT_EQ(display(kInputTubeSaturation, 0.25f), "25.0");
    EXPECT_EQ(display(kDelayFeedback, 1.0f), "90.0");
    EXPECT_EQ(display(kExpanderThresh, 0.5f), "-55.0");
    EXPECT_EQ(display(kDeEsserFreq, 0.1f), "3000.0");
    EXPECT_EQ(display(kEqLowGain, 0.0f), "-12.0");
    EXPECT_EQ(display(kReserved, 12345.0f), "");
}

TEST_F(Display, SwitchesAndSpecialWords) {
    EXPECT_EQ(display(kEqEnable, 0.5f), word("IDS_GENERIC_OFF"));
    EXPECT_EQ(display(kEqEnable, 0.51f), word("IDS_GENERIC_ON"));
    EXPECT_EQ(display(kInputTubeEnable, 1.0f), word("IDS_GENERIC_ON")); // "on" = tube in circuit
    EXPECT_EQ(display(kCompressorRatio, 1.0f), word("IDS_DB_INFINITY"));
    EXPECT_EQ(label(kCompressorRatio), word("IDS_TIP_TO_ONE"));
    EXPECT_EQ(display(kExpanderRatio, 1.0f), word("IDS_TIP_ONE_TO") + word("IDS_DB_INFINITY"));
    EXPECT_EQ(display(kExpanderRatio, 0.0f), word("IDS_TIP_ONE_TO") + "1.0");
    EXPECT_EQ(label(kExpanderRatio), "");
    EXPECT_EQ(display(kDoublerPresence, 0.0f), word("IDS_DB_NEG_INF"));
    EXPECT_EQ(display(kDelayLevel, 0.0f), word("IDS_DB_NEG_INF"));
    EXPECT_EQ(display(kDoublerPresence, 0.5f), "-6.0");
}

TEST_F(Display, DelayTimeFollowsTheSyncSwitch) {
    effect.setParameter(kDelaySyncEnable, 1.0f);
    EXPECT_EQ(display(kDelayTime, 1.0f), word("IDS_DLY_1"));
    EXPECT_EQ(label(kDelayTime), "");
    EXPECT_EQ(display(kDelayTime, 0.51f), word("IDS_DLY_8D"));
    EXPECT_EQ(display(kDelayTime, 0.0f), word("IDS_DLY_32T"));
    effect.setParameter(kDelaySyncEnable, 0.0f);
    EXPECT_EQ(display(kDelayTime, 1.0f), "1000.0");
    EXPECT_EQ(label(kDelayTime), word("IDS_TIP_MS"));
}

TEST_F(Display, LabelsAndNames) {
    EXPECT_EQ(label(kInputGain), word("IDS_TIP_DB"));
    EXPECT_EQ(label(kDoublerStereo), word("IDS_PERCENT"));
    EXPECT_EQ(label(kCompanderAttack), word("IDS_TIP_MS"));
    EXPECT_EQ(label(kDeEsserFreq), word("IDS_TIP_HZ"));
    EXPECT_EQ(label(kPlugInEnable), "");
    EXPECT_EQ(label(kReserved), "");
    EXPECT_EQ(label(70), "");
    char name[64];
    effect.getParameterName(kOutputTubeSaturation, name);
    EXPECT_STREQ(name, "Output Tube Saturation");
    effect.getParameterName(39, name);
    EXPECT_STREQ(name, "");
    effect.getParameterName(-1, name);
    EXPECT_STREQ(name, "");
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
