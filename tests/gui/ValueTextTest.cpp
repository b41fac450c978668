// The editor's two text displays: the name of the last touched parameter, its value with the
// unit word, the number behind it and the way back from a typed number; and the compander
// readings' figures.

#include "GUI/ValueText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "Shared/GUI/SkinTable.h"
#include "core/Parameters.h"

namespace pellucer {
namespace {

class ValueTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!textResources().contains("IDS_DLY_1")) {
            ASSERT_EQ(textResources().load(PELLUCER_SOURCE_DIR "/skin/TextResources.tsres"),
                      SkinTable::kSuccess);
        }
        notes = lookUpDelayNoteNames();
    }
    std::u16string text(int32_t index, float v, bool synced = false) {
        return readoutText(index, v, synced, notes);
    }
    DelayNoteNames notes;
};

TEST_F(ValueTextTest, TipKeysFollowTheParameterOrder) {
    EXPECT_STREQ(tipKey(kPlugInEnable), "IDS_TIP_ENABLE");
    EXPECT_STREQ(tipKey(kCompressorThresh), "IDS_TIP_COMP_THRESHOLD");
    EXPECT_STREQ(tipKey(kEqTubeLowEnable), "IDS_TIP_TUBE_LOW_ENABLE");
    EXPECT_STREQ(tipKey(kEqHighGain), "IDS_TIP_EQ_HIGH_GAIN");
    EXPECT_STREQ(tipKey(kDeEsserDepth), "IDS_TIP_DSR_AMOUNT");
    EXPECT_STREQ(tipKey(kDelayFilterMode), "IDS_TIP_DELAY_FILT_MODE");
    EXPECT_STREQ(tipKey(kDelayFilterFreq), "IDS_TIP_DELAY_FILTER");
    EXPECT_STREQ(tipKey(kOutputTubeSaturation), "IDS_TIP_OUT_TUBE_SAT");
    EXPECT_EQ(tipKey(kReserved), nullptr);
    EXPECT_EQ(tipKey(61), nullptr);
    EXPECT_EQ(tipKey(-1), nullptr);
    // Every key is in the shipped skin.
    for (int32_t i = 0; i < kReserved; ++i)
        EXPECT_TRUE(textResources().contains(tipKey(i))) << tipKey(i);
}

TEST_F(ValueTextTest, ReadoutShowsTheHostTextWithItsUnit) {
    EXPECT_EQ(text(kInputGain, 0.5f), u"0.0 dB");
    EXPECT_EQ(text(kCompressorThresh, 0.8f), u"-12.0 dB");
    EXPECT_EQ(text(kCompressorRatio, 0.4014f), u"4.0:1");
    EXPECT_EQ(text(kCompressorRatio, 1.0f), u"inf:1");
    EXPECT_EQ(text(kExpanderRatio, 1.0f), u"1:inf");
    EXPECT_EQ(text(kEqHighFreq, 1.0f), u"20000.0 Hz");
    EXPECT_EQ(text(kDelayTime, 0.7f), u"407.1 ms");
    EXPECT_EQ(text(kDelayFilterFreq, 0.4f), u"217.3 Hz");
    EXPECT_EQ(text(kDelayLevel, 0.4f), u"-15.9 dB");
    EXPECT_EQ(text(kDoublerPresence, 0.0f), u"-inf dB");
    EXPECT_EQ(text(kDeEsserDepth, 0.4f), u"40.0 %");
    EXPECT_EQ(text(kPlugInEnable, 1.0f), u"On");
    EXPECT_EQ(text(kInputTubeEnable, 0.5f), u"Off");
    EXPECT_EQ(text(kReserved, 0.5f), u"");
    EXPECT_EQ(text(-3, 0.5f), u"");
}

TEST_F(ValueTextTest, SyncedDelayTimeShowsTheEditorsNoteNames) {
    EXPECT_EQ(text(kDelayTime, 0.5f, true), u"1/8D"); // index 8
    EXPECT_EQ(text(kDelayTime, 1.0f, true), u"1/1");
    EXPECT_EQ(text(kDelayTime, 0.0f, true), u"1/32T");
    // The editor's own names are used, whatever the skin says now.
    notes[8] = u"dotted eighth";
    EXPECT_EQ(text(kDelayTime, 0.53f, true), u"dotted eighth");
    EXPECT_EQ(readoutNumber(kDelayTime, 0.53f, true), 8.0);
}

TEST_F(ValueTextTest, TypedNumbersComeBackAsTheValuesTheyShow) {
    // Every continuous parameter: value -> shown number -> value again.
    for (int32_t index = 0; index < kReserved; ++index) {
        const ParamKind kind = paramKind(index);
        for (float v : {0.03f, 0.25f, 0.5f, 0.77f, 0.96f}) {
            const double number = readoutNumber(index, v, false);
            const float back = normalisedFromNumber(index, number, false);
            if (kind == ParamKind::Continuous)
                EXPECT_NEAR(back, v, 2e-6) << "parameter " << index << " at " << v << " (" << number << ")";
            else
                EXPECT_EQ(back, v > 0.5f ? 1.0f : 0.0f) << "switch " << index;
        }
    }
    // A note index names its sixteenth of the range.
    for (int note = 0; note < kDelayNoteNames; ++note)
        EXPECT_EQ(readoutNumber(kDelayTime, normalisedFromNumber(kDelayTime, note, true), true), note);
}

TEST_F(ValueTextTest, TypedNumbersInTheParametersUnits) {
    EXPECT_FLOAT_EQ(normalisedFromNumber(kInputGain, 7.0, false), 31.0f / 48.0f);
    EXPECT_FLOAT_EQ(normalisedFromNumber(kCompressorThresh, -30.0, false), 0.5f);
    EXPECT_FLOAT_EQ(normalisedFromNumber(kExpanderThresh, -20.0, false), 1.0f);
    EXPECT_FLOAT_EQ(normalisedFromNumber(kEqMidGain, 3.0, false), 0.625f);
    EXPECT_FLOAT_EQ(normalisedFromNumber(kDeEsserFreq, 3000.0, false), 0.1f);
    EXPECT_FLOAT_EQ(normalisedFromNumber(kDelayFeedback, 45.0, false), 0.5f);
    EXPECT_NEAR(normalisedFromNumber(kEqLowFreq, 141.4, false), 0.5f, 1e-4);
    EXPECT_NEAR(normalisedFromNumber(kDelayTime, 50.0, false), 0.0f, 1e-6);
    EXPECT_NEAR(normalisedFromNumber(kDelayLevel, -15.9, false), 0.4f, 1e-3);
    // Beyond the range: held to its ends; nothing for the logarithmic ones is their bottom.
    EXPECT_EQ(normalisedFromNumber(kInputGain, 22000.0, false), 1.0f);
    EXPECT_EQ(normalisedFromNumber(kCompressorRatio, 100.0, false), 1.0f); // infinity
    EXPECT_EQ(normalisedFromNumber(kEqHighFreq, -100.0, false), 0.0f);
    EXPECT_EQ(normalisedFromNumber(kCompanderAttack, 0.0, false), 0.0f);
    EXPECT_EQ(normalisedFromNumber(kDelayFilterFreq, 5.0, false), 0.0f);
    EXPECT_EQ(normalisedFromNumber(kInputGain, std::nan(""), false), 0.0f);
    EXPECT_EQ(normalisedFromNumber(kReserved, 12345.0, false), 0.0f);
    // Switches: on above one half.
    EXPECT_EQ(normalisedFromNumber(kEqEnable, 1.0, false), 1.0f);
    EXPECT_EQ(normalisedFromNumber(kEqEnable, 0.5, false), 0.0f);
}

TEST_F(ValueTextTest, NumbersBehindTheReadout) {
    EXPECT_DOUBLE_EQ(readoutNumber(kOutputGain, 0.75f, false), 12.0);
    EXPECT_DOUBLE_EQ(readoutNumber(kEqTubeSaturation, 0.5f, false), 50.0);
    EXPECT_NEAR(readoutNumber(kCompressorRatio, 0.4014f, false), 4.0, 0.01);
    EXPECT_NEAR(readoutNumber(kExpanderRatio, 1.0f, false), std::pow(10.0, 1.5), 1e-9); // infinity
    EXPECT_NEAR(readoutNumber(kDelayTime, 0.7f, false), 407.1, 0.05);
    EXPECT_EQ(readoutNumber(kDoublerPresence, 0.0f, false), kEntryMinimum); // minus infinity
    EXPECT_EQ(readoutNumber(kPlugInEnable, 0.7f, false), 1.0);
    EXPECT_EQ(readoutNumber(kReserved, 0.7f, false), 0.0);
}

TEST_F(ValueTextTest, ReductionFiguresKeepToThreeDigits) {
    EXPECT_EQ(reductionText(1.0), u"  0.0");
    EXPECT_EQ(reductionText(0.3), u"  0.0"); // no reduction below a ratio of 1
    EXPECT_EQ(reductionText(std::pow(10.0, 3.5 / 20.0)), u"  3.5");
    EXPECT_EQ(reductionText(std::pow(10.0, 9.94 / 20.0)), u"  9.9");
    EXPECT_EQ(reductionText(std::pow(10.0, 9.96 / 20.0)), u"   10");
    EXPECT_EQ(reductionText(4.0), u"   12");
}

} // namespace
} // namespace pellucer
