// The editor's two text displays: the name of the last touched parameter, its value with the
// unit word, the number behind it and the way back from a typed number; and the compander
// readings' figures.

#include "GUI/ValueText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/SkinTable.h"

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

TEST_F(ValueTextTest, EveryParameterHasANameInTheSkin) {
    for (int32_t i = 0; i < kReserved; ++i)
        EXPECT_TRUE(tipKey(i) != nullptr && textResources().contains(tipKey(i))) << i;
    for (int32_t i : {-1, static_cast<int32_t>(kReserved), kPageSlotIndex})
        EXPECT_EQ(tipKey(i), nullptr);
}

TEST_F(ValueTextTest, ReadoutShowsTheHostTextWithItsUnit) {
    EXPECT_EQ(text(kCompressorThresh, 0.8f), u"-12.0 dB");
    EXPECT_EQ(text(kCompressorRatio, 0.4014f), u"4.0:1"); // a ratio keeps its unit close
    EXPECT_EQ(text(kExpanderRatio, 1.0f), u"1:inf");
    EXPECT_EQ(text(kDoublerPresence, 0.0f), u"-inf dB");
    EXPECT_EQ(text(kPlugInEnable, 1.0f), u"On");
    EXPECT_EQ(text(kReserved, 0.5f), u"");
    EXPECT_EQ(text(-3, 0.5f), u"");
}

TEST_F(ValueTextTest, SyncedDelayTimeShowsTheEditorsNoteNames) {
    EXPECT_EQ(text(kDelayTime, 0.5f, true), u"1/8D"); // index 8
    // The editor's own names are used, whatever the skin says now.
    notes[8] = u"dotted eighth";
    EXPECT_EQ(text(kDelayTime, 0.53f, true), u"dotted eighth");
    EXPECT_EQ(readoutNumber(kDelayTime, 0.53f, true), 8.0);
    EXPECT_EQ(normalisedFromNumber(kDelayTime, 8.0, true), 8.5f / 16.0f);
}

// A typed number in the parameter's own unit: held to the range, and whatever has no value
// (nothing in a logarithmic unit, NaN, the order code) gives the bottom.
TEST_F(ValueTextTest, TypedNumbersOutsideTheRangeAreHeldToIt) {
    struct Case {
        int32_t index;
        double number;
        float expected;
    };
    const Case cases[] = {
        {kInputGain, 7.0, 31.0f / 48.0f}, {kDelayFeedback, 45.0, 0.5f},     {kInputGain, 22000.0, 1.0f},
        {kCompressorRatio, 100.0, 1.0f},  {kEqHighFreq, -100.0, 0.0f},      {kCompanderAttack, 0.0, 0.0f},
        {kDelayFilterFreq, 5.0, 0.0f},    {kInputGain, std::nan(""), 0.0f}, {kReserved, 12345.0, 0.0f},
        {kEqEnable, 1.0, 1.0f},           {kEqEnable, 0.5, 0.0f},
    };
    for (const Case& c : cases)
        EXPECT_FLOAT_EQ(normalisedFromNumber(c.index, c.number, false), c.expected)
            << c.index << " " << c.number;
    // The readout's number for minus infinity and for an infinite ratio.
    EXPECT_EQ(readoutNumber(kDoublerPresence, 0.0f, false), kEntryMinimum);
    EXPECT_NEAR(readoutNumber(kExpanderRatio, 1.0f, false), std::pow(10.0, 1.5), 1e-9);
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
