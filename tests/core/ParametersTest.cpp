// The parameters as a host drives them: which stage setting each one moves and by how much, the
// module order code and the program records. What every parameter shows, reads back and parses
// over a grid of values (the editor's page indices too) is held by ParameterGoldenTest.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>

#include "core/ChannelStripEffect.h"
#include "core/ParamInfoTable.h"
#include "core/ParameterTable.h"
#include "core/ProgramRecord.h"

using namespace pellucer;

namespace {

struct EngineFixture : ::testing::Test {
    ChannelStripEffect effect{nullptr};
};

double db(double gainDb) { return std::pow(10.0, gainDb / 20.0); }

// A stage setting at a normalised value, as the stage holds it, in the unit the product's
// documents give (dB as a linear factor where the stage takes a factor).
struct StagePoint {
    int32_t index;
    float v;
    double expected;
    double tolerance;
    std::function<double(const ChannelStripEffect&)> read;
};

} // namespace

// The stage settings whose unit the value texts do not show (the golden table sees them only
// through their read-back, which a fault on both ways would keep): each curve once, at its ends.
TEST(ParameterTable, EachParameterDrivesItsStageInItsUnit) {
    using E = const ChannelStripEffect&;
    // clang-format off
    const StagePoint points[] = {
        {kInputGain, 0.0f, db(-24.0), 1e-15, [](E e) { return e.inputTube().inputGain(); }},
        {kOutputGain, 0.5f, 1.0, 0.0, [](E e) { return e.outputTube().outputGain(); }}, // exactly unity
        {kEqTubeSaturation, 1.0f, 2.0, 0.0, [](E e) { return e.equaliser().tubeDrive(); }},
        {kOutputTubeSaturation, 0.0f, 0.25, 0.0, [](E e) { return e.outputTube().drive(); }},
        {kCompressorRatio, 0.4014f, 4.0, 1e-3, [](E e) { return e.compander().compressorRatio(); }},
        {kCompressorRatio, 1.0f, 200.0, 0.0, [](E e) { return e.compander().compressorRatio(); }}, // infinity
        {kExpanderRatio, 1.0f, 1000.0, 0.0, [](E e) { return e.compander().expanderRatio(); }},
        {kCompanderAttack, 0.0f, 0.0, 0.0, [](E e) { return e.compander().attackMs(); }}, // instant
        {kDelayLevel, 0.4f, 0.16, 1e-7, [](E e) { return e.delay().level(); }},
        {kDelayFeedback, 1.0f, 0.9, 1e-15, [](E e) { return e.delay().feedback(); }},
        {kDelayFilterFreq, 0.3f, 0.3f, 0.0, [](E e) { return e.delay().filterFrequency(); }},
        // "On" puts the tube in circuit: the stage's flag is its bypass.
        {kInputTubeEnable, 1.0f, 0.0, 0.0, [](E e) { return double(e.inputTube().shapingOff()); }},
        {kOutputTubeEnable, 0.5f, 1.0, 0.0, [](E e) { return double(e.outputTube().shapingOff()); }},
    };
    // clang-format on
    for (const StagePoint& point : points) {
        ChannelStripEffect effect(nullptr);
        effect.setParameter(point.index, point.v);
        EXPECT_NEAR(point.read(effect), point.expected, point.tolerance)
            << paramName(point.index) << " at " << point.v;
    }
    // The ratios and the attack reach the compander rounded to single precision, as they always have.
    ChannelStripEffect effect(nullptr);
    effect.setParameter(kCompressorRatio, 0.999f);
    effect.setParameter(kCompanderAttack, 0.37f);
    for (double setting : {effect.compander().compressorRatio(), effect.compander().attackMs()})
        EXPECT_EQ(setting, static_cast<double>(static_cast<float>(setting)));
}

TEST(ParameterTable, NoParameterMovesAnother) {
    // Each setting is wired to its own stage: moving one parameter reads back in no other.
    for (int32_t index = 0; index < kReserved; ++index) {
        ChannelStripEffect effect(nullptr);
        std::array<float, kNumParams> before{};
        for (int32_t i = 0; i < kNumParams; ++i)
            before[static_cast<size_t>(i)] = effect.getParameter(i);
        const float moved = before[static_cast<size_t>(index)] > 0.5f ? 0.0f : 1.0f;
        effect.setParameter(index, moved);
        EXPECT_NEAR(effect.getParameter(index), moved, 2e-6) << paramName(index);
        for (int32_t other = 0; other < kNumParams; ++other) {
            if (other != index && !(index == kDelaySyncEnable && other == kDelayTime)) {
                EXPECT_EQ(effect.getParameter(other), before[static_cast<size_t>(other)])
                    << paramName(index) << " moved " << paramName(other);
            }
        }
    }
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

TEST(ParamInfoTable, RecordsCarryNamesAndTypes) {
    const auto& table = paramInfoTable();
    const auto& automation = automationParamInfoTable();
    const char16_t inputGain[] = u"Input Gain";
    EXPECT_EQ(std::memcmp(table[kInputGain].szLabel, inputGain, sizeof(inputGain)), 0);
    for (int32_t i = 0; i < kNumParams; ++i) {
        const bool onOff = isSwitch(paramKind(i));
        EXPECT_EQ(table[i].mpType, onOff ? kMptInt : kMptFloat) << i;
        EXPECT_EQ(automation[i].mpType, onOff ? kMptBool : kMptFloat) << i;
        EXPECT_EQ(table[i].mopCaps, 0u);
        EXPECT_EQ(automation[i].mopCaps, 0x1fu);
        EXPECT_EQ(table[i].mpdMaxValue, 1.0f);
        EXPECT_EQ(table[i].mpdNeutralValue, 1.0f);
        EXPECT_EQ(table[i].trailingMax, 1.0f);
        EXPECT_EQ(std::memcmp(table[i].szLabel, automation[i].szLabel, sizeof(table[i].szLabel)), 0);
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
    for (int32_t i = 0; i < kNumParams; ++i)
        EXPECT_NEAR(effect.getParameter(i), kFullResetValues[i], 2e-6) << paramName(i);
    EXPECT_EQ(effect.pageSlot(), 2);
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
    EXPECT_NEAR(effect.delay().timeSeconds(), 0.8609, 1e-4);
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
    for (int32_t i = kFirstEditorIndex; i < kPageSlotIndex; ++i)
        EXPECT_EQ(effect.getParameter(i), 0.0f);
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
