#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "core/ChannelStripEffect.h"
#include "core/ParamInfoTable.h"
#include "core/Parameters.h"
#include "core/ProgramRecord.h"

using namespace pellucer;

namespace {

struct EngineFixture : ::testing::Test {
    ChannelStripEffect effect{nullptr};
};

} // namespace

TEST(ParameterConversion, EdgesOfTheRanges) {
    EXPECT_EQ(conv::gainFromNorm(0.5f), 1.0); // exactly unity
    EXPECT_NEAR(conv::gainFromNorm(0.0f), std::pow(10.0, -24.0 / 20.0), 1e-15);
    EXPECT_NEAR(conv::gainFromNorm(1.0f), std::pow(10.0, 24.0 / 20.0), 1e-12);
    EXPECT_DOUBLE_EQ(conv::driveFromNorm(0.0f), 0.25);
    EXPECT_DOUBLE_EQ(conv::driveFromNorm(1.0f), 2.0);
    EXPECT_DOUBLE_EQ(conv::eqHighFreqFromNorm(0.0f), std::pow(10.0, 3.30102999));
    EXPECT_DOUBLE_EQ(conv::eqHighFreqFromNorm(1.0f), std::pow(10.0, 4.30102999));
    EXPECT_NEAR(conv::eqLowFreqFromNorm(0.5f), 141.42, 0.01);
    EXPECT_NEAR(conv::eqMidFreqFromNorm(0.5f), 894.43, 0.01);
    EXPECT_NEAR(conv::eqHighFreqFromNorm(0.5f), 6324.6, 0.1);
    EXPECT_DOUBLE_EQ(conv::delayTimeFromNorm(0.0f), std::pow(10.0, -1.30102999));
    EXPECT_NEAR(conv::delayTimeFromNorm(0.7f), 0.4071, 1e-4);
    EXPECT_NEAR(conv::delayTimeFromNorm(1.0f), 1.0, 1e-15);
    EXPECT_DOUBLE_EQ(conv::delayLevelFromNorm(0.4f), static_cast<double>(0.4f) * 0.4f);
    EXPECT_DOUBLE_EQ(conv::compressorThreshFromNorm(0.8f), 60.0 * static_cast<double>(0.8f) - 60.0);
    EXPECT_DOUBLE_EQ(conv::expanderThreshFromNorm(0.5f), -55.0);
}

TEST(ParameterConversion, RatiosAndAttackAreRoundedToSinglePrecision) {
    EXPECT_EQ(conv::ratioFromNorm(1.0f, conv::kCompressorRatioInfinity), 200.0);
    EXPECT_EQ(conv::ratioFromNorm(1.0f, conv::kExpanderRatioInfinity), 1000.0);
    const float exponent = static_cast<float>(1.5 * static_cast<double>(0.999f));
    const double expected = static_cast<float>(std::pow(10.0, static_cast<double>(exponent)));
    EXPECT_EQ(conv::ratioFromNorm(0.999f, 200.0), expected);
    EXPECT_NEAR(conv::ratioFromNorm(0.999f, 200.0), std::pow(10.0, 1.4985), 1e-4);
    // The stage value is an exact float, not the double power.
    const double ratio = conv::ratioFromNorm(0.4014f, 200.0);
    EXPECT_EQ(ratio, static_cast<double>(static_cast<float>(ratio)));
    EXPECT_NEAR(ratio, 4.0, 0.001);
    EXPECT_EQ(conv::attackMsFromNorm(0.0f), static_cast<double>(0.1f));
    EXPECT_EQ(conv::attackMsFromNorm(1.0f), 100.0);
    // Infinity reads back as exactly 1.
    EXPECT_EQ(conv::normFromRatio(200.0), 1.0f);
    EXPECT_EQ(conv::normFromRatio(1000.0), 1.0f);
    EXPECT_EQ(conv::normFromRatio(0.5), 0.0f);
}

TEST(ModuleOrderCode, DecodesPermutationsAndRefusesEverythingElse) {
    std::array<int32_t, 5> order{9, 9, 9, 9, 9};
    ASSERT_TRUE(decodeOrderCode(54321.0, order));
    EXPECT_EQ(order, (std::array<int32_t, 5>{4, 3, 2, 1, 0}));
    ASSERT_TRUE(decodeOrderCode(34215.0, order));
    EXPECT_EQ(order, (std::array<int32_t, 5>{2, 3, 1, 0, 4}));
    // A hair below an integer still decodes to that integer's digits.
    ASSERT_TRUE(decodeOrderCode(21344.9999, order));
    EXPECT_EQ(order, (std::array<int32_t, 5>{1, 0, 2, 3, 4}));

    const std::array<int32_t, 5> before = order;
    for (double bad : std::initializer_list<double>{12344.9, 60000.0, 0.0, -1.0, 11111.0, 12245.0, 12346.0,
                                                    12340.0, 21346.0, NAN, INFINITY})
        EXPECT_FALSE(decodeOrderCode(bad, order)) << bad;
    EXPECT_EQ(order, before);
}

TEST(ModuleOrderCode, EveryPermutationRoundTrips) {
    std::array<int32_t, 5> perm{0, 1, 2, 3, 4};
    int count = 0;
    do {
        const double code = encodeOrderCode(perm.data());
        std::array<int32_t, 5> decoded{};
        ASSERT_TRUE(decodeOrderCode(code, decoded)) << code;
        EXPECT_EQ(decoded, perm);
        ASSERT_TRUE(decodeOrderCode(static_cast<float>(code), decoded)); // as a float from a host
        ++count;
    } while (std::next_permutation(perm.begin(), perm.end()));
    EXPECT_EQ(count, 120);
}

TEST(ParamInfoTable, RecordsCarryNamesTypesAndRanges) {
    const auto& table = paramInfoTable();
    const auto& automation = automationParamInfoTable();
    const char16_t inputGain[] = u"Input Gain";
    EXPECT_EQ(std::memcmp(table[kInputGain].szLabel, inputGain, sizeof(inputGain)), 0);
    for (int32_t i = 0; i < kNumParams; ++i) {
        const bool isSwitch = paramKind(i) == ParamKind::Switch || paramKind(i) == ParamKind::InvertedSwitch;
        EXPECT_EQ(table[i].mpType, isSwitch ? kMptInt : kMptFloat) << i;
        EXPECT_EQ(automation[i].mpType, isSwitch ? kMptBool : kMptFloat) << i;
        EXPECT_EQ(table[i].mopCaps, 0u);
        EXPECT_EQ(automation[i].mopCaps, 0x1fu);
        EXPECT_EQ(table[i].mpdMaxValue, 1.0f);
        EXPECT_EQ(table[i].mpdNeutralValue, 1.0f);
        EXPECT_EQ(table[i].trailingMax, 1.0f);
        EXPECT_EQ(table[i].szUnitText[0], u'\0');
        EXPECT_EQ(std::memcmp(table[i].szLabel, automation[i].szLabel, sizeof(table[i].szLabel)), 0);
        EXPECT_GT(std::strlen(paramName(i)), 0u);
    }
    // Thirteen switches, two of them inverted.
    const auto switches = std::count_if(table.begin(), table.end(),
                                        [](const ParamInfoRecord& r) { return r.mpType == kMptInt; });
    EXPECT_EQ(switches, 13);
    EXPECT_STREQ(paramName(kReserved), "Reserved");
    EXPECT_STREQ(paramName(39), "");
}

TEST(ProgramRecord, IndicesAndNamesAreBounded) {
    ProgramRecord r;
    EXPECT_FALSE(r.setValue(39, 0.5f));
    EXPECT_FALSE(r.setValue(-1, 0.5f));
    r.setName(std::u16string(400, u'x'));
    EXPECT_EQ(r.wideName[258], u'x');
    EXPECT_EQ(r.wideName[259], u'\0');
    EXPECT_EQ(r.name().size(), 259u);
    std::fill(std::begin(r.wideName), std::end(r.wideName), u'y'); // no terminator at all
    EXPECT_EQ(r.name().size(), 260u);
}

TEST_F(EngineFixture, StartsInFullResetWithItsValues) {
    EXPECT_EQ(effect.getProgram(), 0);
    EXPECT_EQ(effect.getParameter(kReserved), 12345.0f);
    for (int32_t i = 0; i < kReserved; ++i)
        EXPECT_NEAR(effect.getParameter(i), kFullResetValues[i], 2e-6) << paramName(i);
    EXPECT_NEAR(effect.compander().compressorRatio(), 4.0, 0.001);
    EXPECT_NEAR(effect.delay().timeSeconds(), 0.4071, 1e-4);
    EXPECT_EQ(effect.inputTube().inputGain(), 1.0);
    EXPECT_TRUE(effect.inputTube().shapingOff());
    EXPECT_EQ(effect.pageSlot(), 2);
}

TEST_F(EngineFixture, ContinuousParametersReadBackWhatWasSet) {
    for (int32_t i = 0; i < kReserved; ++i) {
        if (paramKind(i) != ParamKind::Continuous)
            continue;
        for (float v : {0.0f, 0.13f, 0.5f, 0.77f, 0.999f}) {
            effect.setParameter(i, v);
            // Attack at 0 is 0.1 ms, read back through the same log; everything else is linear
            // or log with a few ulps of error.
            EXPECT_NEAR(effect.getParameter(i), v, 2e-6) << paramName(i) << " at " << v;
            EXPECT_EQ(effect.programs()[0].values[i], v);
        }
    }
}

TEST_F(EngineFixture, SwitchesTurnOnOnlyAboveOneHalf) {
    effect.setParameter(kCompanderEnable, 0.5f);
    EXPECT_FALSE(effect.compander().enabled.load());
    EXPECT_EQ(effect.getParameter(kCompanderEnable), 0.0f);
    effect.setParameter(kCompanderEnable, 0.5001f);
    EXPECT_TRUE(effect.compander().enabled.load());
    EXPECT_EQ(effect.getParameter(kCompanderEnable), 1.0f);

    effect.setParameter(kInputTubeEnable, 1.0f);
    EXPECT_FALSE(effect.inputTube().shapingOff());
    effect.setParameter(kInputTubeEnable, 0.5f); // inverted switch: 0.5 bypasses the tube
    EXPECT_TRUE(effect.inputTube().shapingOff());
    EXPECT_EQ(effect.getParameter(kInputTubeEnable), 0.0f);
    effect.setParameter(kOutputTubeEnable, 0.9f);
    EXPECT_FALSE(effect.outputTube().shapingOff());
    EXPECT_EQ(effect.getParameter(kOutputTubeEnable), 1.0f);
}

TEST_F(EngineFixture, RatioAtTheTopMeansInfinity) {
    effect.setParameter(kCompressorRatio, 1.0f);
    EXPECT_EQ(effect.compander().compressorRatio(), 200.0);
    EXPECT_EQ(effect.getParameter(kCompressorRatio), 1.0f);
    effect.setParameter(kExpanderRatio, 1.0f);
    EXPECT_EQ(effect.compander().expanderRatio(), 1000.0);
    EXPECT_EQ(effect.getParameter(kExpanderRatio), 1.0f);
}

TEST_F(EngineFixture, SyncedDelayTimeKeepsItsValueAndPicksANote) {
    effect.setParameter(kDelayTime, 0.95f);
    effect.setParameter(kDelaySyncEnable, 1.0f);
    EXPECT_TRUE(effect.delay().sync());
    EXPECT_EQ(effect.getParameter(kDelayTime), 0.95f);
    EXPECT_EQ(noteIndex(0.9375), 15);
    EXPECT_EQ(noteIndex(0.9374), 14);
    EXPECT_EQ(noteIndex(1.0), 15);
    EXPECT_EQ(noteIndex(0.0), 0);
    EXPECT_EQ(noteIndex(0.51), 8); // dotted eighth
    // Sync off: the knob position becomes a free time again.
    effect.setParameter(kDelaySyncEnable, 0.0f);
    EXPECT_NEAR(effect.delay().timeSeconds(), conv::delayTimeFromNorm(0.95f), 1e-12);
    EXPECT_NEAR(effect.getParameter(kDelayTime), 0.95f, 1e-6);
}

TEST_F(EngineFixture, OrderCodeChangesTheOrderOnlyForPermutations) {
    effect.setParameter(kReserved, 54321.0f);
    EXPECT_EQ(effect.getParameter(kReserved), 54321.0f);
    for (int32_t p = 0; p < 5; ++p)
        EXPECT_EQ(effect.moduleAt(p), 4 - p);
    EXPECT_EQ(effect.moduleAt(5), 0);
    for (float bad : {12344.9f, 60000.0f, 11111.0f, 12245.0f, 0.0f}) {
        effect.setParameter(kReserved, bad);
        EXPECT_EQ(effect.getParameter(kReserved), 54321.0f) << bad;
    }
    // Refused codes are not stored in the program either.
    EXPECT_EQ(effect.programs()[0].values[kReserved], 54321.0f);
}

TEST_F(EngineFixture, MoveModuleReinsertsBeforeTheTarget) {
    effect.moveModule(0, 5); // de-esser last
    EXPECT_EQ(effect.getParameter(kReserved), 23451.0f);
    effect.moveModule(4, 0); // and back to the front
    EXPECT_EQ(effect.getParameter(kReserved), 12345.0f);
    effect.moveModule(1, 4); // compander before the delay
    EXPECT_EQ(effect.getParameter(kReserved), 13425.0f);
    EXPECT_EQ(effect.programs()[0].values[kReserved], 13425.0f);
    effect.moveModule(5, 0);
    effect.moveModule(0, 6);
    EXPECT_EQ(effect.getParameter(kReserved), 13425.0f);
}

TEST_F(EngineFixture, EditorIndicesHoldThePageSlot) {
    EXPECT_EQ(effect.getParameter(61), 0.5f);
    effect.setParameter(64, 1.0f);
    EXPECT_EQ(effect.pageSlot(), 0);
    EXPECT_EQ(effect.getParameter(64), 1.0f);
    EXPECT_EQ(effect.getParameter(63), 0.0f);
    effect.setParameter(66, 0.0f);
    EXPECT_EQ(effect.getParameter(61), 1.0f);
    effect.setParameter(61, 0.76f); // trunc(0.76 + 0.5) = 1
    EXPECT_EQ(effect.pageSlot(), 1);
    effect.setParameter(61, 99.0f);
    EXPECT_EQ(effect.pageSlot(), 4);
    for (int32_t i = 39; i <= 60; ++i)
        EXPECT_EQ(effect.getParameter(i), 0.0f);
}

TEST_F(EngineFixture, BadIndicesAndValuesChangeNothing) {
    ProgramRecord before = effect.programs()[0];
    effect.setParameter(-1, 0.3f);
    effect.setParameter(67, 0.3f);
    effect.setParameter(1000, 0.3f);
    effect.setParameter(kInputGain, NAN);
    effect.setParameter(kReserved, NAN);
    EXPECT_EQ(std::memcmp(&before, &effect.programs()[0], sizeof(ProgramRecord)), 0);
    EXPECT_EQ(effect.inputTube().inputGain(), 1.0);
    EXPECT_EQ(effect.getParameter(-5), 0.0f);
    EXPECT_EQ(effect.getParameter(67), 0.0f);
    // Out-of-range values are held to the range.
    effect.setParameter(kInputGain, 7.0f);
    EXPECT_EQ(effect.getParameter(kInputGain), 1.0f);
    effect.setParameter(kDoublerPresence, -INFINITY);
    EXPECT_EQ(effect.doubler().presence(), 0.0);
}

TEST_F(EngineFixture, ProgramsCopyAndSelect) {
    effect.setParameter(kInputGain, 0.75f);
    EXPECT_TRUE(effect.copyProgram(5));
    EXPECT_FALSE(effect.copyProgram(61));
    EXPECT_FALSE(effect.copyProgram(-1));
    EXPECT_EQ(effect.programs()[5].values[kInputGain], 0.75f);
    effect.setParameter(kInputGain, 0.25f);
    effect.setProgram(5);
    EXPECT_EQ(effect.getProgram(), 5);
    EXPECT_NEAR(effect.getParameter(kInputGain), 0.75f, 1e-6);
    // Switching back restores the last state of program 0, not the factory state.
    effect.setProgram(0);
    EXPECT_NEAR(effect.getParameter(kInputGain), 0.25f, 1e-6);
    effect.setProgram(61);
    effect.setProgram(-1);
    EXPECT_EQ(effect.getProgram(), 0);
}
