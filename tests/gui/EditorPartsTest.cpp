// The editor's parts over the engine: the controls' view of the strip (reductions, module order,
// curves; the meters show in the editor's window test) and what its texts add to the host's.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "GUI/ReadingLabel.h"
#include "GUI/StripControlEngine.h"
#include "GUI/ValueText.h"
#include "Shared/GUI/GraphPanel.h"
#include "core/ChannelStripEffect.h"
#include "core/SkinTable.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTestSupport.h"

namespace pellucer {
namespace {

using gui::test::Table;

class StripControlEngineTest : public ::testing::Test {
protected:
    StripControlEngineTest() : effect(&test::FakeHost::callback), engine(effect) { host.attach(effect); }

    /// Half a second of a 440 Hz sine at `amplitude` through the effect.
    void play(double amplitude) {
        const std::vector<float> in = test::toFloat(test::sine(amplitude, 440.0, 44100.0, 22050));
        std::vector<float> outL, outR;
        test::render(effect, in, in, outL, outR, 512);
    }

    test::FakeHost host;
    ChannelStripEffect effect;
    StripControlEngine engine;
};

// The bar shows 1 (nothing) to 4 (12 dB or more): a compander gain g reads as 1 / g.
TEST_F(StripControlEngineTest, CompanderReductionsAreTheInverseOfTheirGainsHeldBetweenOneAndFour) {
    EXPECT_EQ(engine.reductionReading(kMeterCompressorGain), 1.0f); // compander off
    // The compressor at -12 dB and 4:1, the expander at -20 dB and 1:2.
    // clang-format off
    const Table<int32_t, float> settings = {{kCompanderEnable, 1.0f}, {kCompressorThresh, 0.8f},
        {kCompressorRatio, 0.4014f}, {kExpanderThresh, 1.0f}, {kExpanderRatio, 0.5f}};
    // clang-format on
    for (const auto& [index, value] : settings)
        effect.setParameter(index, value);
    play(0.5); // 6 dB over the compressor's threshold
    const double gain = effect.companderMeters(kMeterCompressorGain);
    ASSERT_TRUE(gain > 0.25 && gain < 0.9) << gain; // within what the bar shows
    EXPECT_NEAR(engine.reductionReading(kMeterCompressorGain), 1.0 / gain, 1e-5);
    play(0.01); // -40 dB, well under the expander's threshold
    const double expanderGain = effect.companderMeters(kMeterExpanderGain);
    ASSERT_LT(expanderGain, 0.9);
    EXPECT_NEAR(engine.reductionReading(kMeterExpanderGain), std::min(1.0 / expanderGain, 4.0), 1e-5);
    EXPECT_NEAR(engine.reductionReading(kMeterCompanderOvershoot), // a ratio already
                std::clamp(effect.companderMeter(kMeterCompanderOvershoot), 1.0f, 4.0f), 1e-6);
    EXPECT_EQ(engine.reductionReading(kMeterDeEsserGain), 1.0f); // not a compander reading
    effect.setParameter(kCompressorThresh, 0.0f);                // -60 dB
    effect.setParameter(kCompressorRatio, 1.0f);                 // infinity
    play(0.5);
    ASSERT_LT(effect.companderMeters(kMeterCompressorGain), 0.25);
    EXPECT_EQ(engine.reductionReading(kMeterCompressorGain), 4.0f);
    effect.setParameter(kPlugInEnable, 0.0f); // switched off, the plug-in shows no reduction
    EXPECT_EQ(engine.reductionReading(kMeterCompressorGain), 1.0f);
}

// Icons: 0 compander, 1 EQ, 2 de-esser, 3 doubler, 4 delay; the order code lists modules 1
// de-esser, 2 compander, 3 EQ, 4 doubler, 5 delay.
TEST_F(StripControlEngineTest, TheOrderIsShownInIconsAndMovesInsertBeforeTheModuleAtThePosition) {
    EXPECT_EQ(engine.moduleOrder(), (std::array<int32_t, 5>{2, 0, 1, 3, 4}));
    engine.moveModule(1, 4); // the compander dropped on the doubler's slot: before the delay
    EXPECT_EQ(effect.getParameter(kReserved), 13425.0f);
    EXPECT_EQ(engine.moduleOrder(), (std::array<int32_t, 5>{2, 1, 3, 0, 4}));
    engine.moveModule(4, 0); // the delay to the front
    engine.moveModule(5, 0); // out of range: nothing
    engine.moveModule(0, 6);
    EXPECT_EQ(effect.getParameter(kReserved), 51342.0f);
    effect.setParameter(kReserved, 54321.0f);
    EXPECT_EQ(engine.moduleOrder(), (std::array<int32_t, 5>{4, 3, 1, 0, 2}));
}

TEST_F(StripControlEngineTest, GraphsCarryTheEngineCurvesDimmedWhileTheirStageOrThePlugInIsOff) {
    using C = StripCurve;
    const Table<int32_t, int32_t, std::vector<StripCurve>> modes = {
        {gui::GraphPanel::kDeEsser, kDeEsserEnable, {C::DeEsserHighBand, C::DeEsserLowBand}},
        {gui::GraphPanel::kCompander, kCompanderEnable, {C::CompanderTransfer}},
        {gui::GraphPanel::kEq, kEqEnable, {C::Equaliser}},
        {gui::GraphPanel::kDoubler, kDoublerEnable, {}},
        {gui::GraphPanel::kDelay, kDelayEnable, {C::DelayFilter}}};
    effect.setParameter(kEqMidGain, 0.9f);
    effect.setParameter(kCompressorThresh, 0.5f);
    for (const auto& [mode, enable, curves] : modes) {
        gui::GraphData data;
        data.curveCount = 2; // whatever was there before goes
        for (const auto& [plugIn, stage] : Table<float, float>{{1, 1}, {1, 0}, {0, 1}}) {
            effect.setParameter(kPlugInEnable, plugIn);
            effect.setParameter(enable, stage);
            engine.graphData(mode, data);
            EXPECT_EQ(data.active, plugIn > 0.5f && stage > 0.5f) << mode;
        }
        ASSERT_EQ(std::pair(data.mode, data.curveCount),
                  std::pair(mode, static_cast<int32_t>(curves.size())));
        for (size_t i = 0; i < curves.size(); ++i) {
            std::array<double, 2 * ChannelStripEffect::kCurvePoints> expected{};
            ASSERT_TRUE(effect.curve(curves[i], expected.data()));
            EXPECT_EQ(data.pointCounts[i], ChannelStripEffect::kCurvePoints);
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), data.curves[i].begin()))
                << mode << " " << i;
        }
        if (mode == gui::GraphPanel::kCompander) {
            EXPECT_EQ(std::pair(data.compressorThresholdDb, data.expanderThresholdDb),
                      std::pair(-30.0, -55.0));
        }
    }
}

TEST(ValueText, NamesAndReadoutsShowTheHostTextWithItsUnitAndTypedNumbersGoBack) {
    if (!textResources().contains("IDS_DLY_1")) {
        ASSERT_EQ(textResources().load(PELLUCER_SOURCE_DIR "/skin/TextResources.tsres"), SkinTable::kSuccess);
    }
    for (int32_t i = 0; i < kReserved; ++i)
        EXPECT_TRUE(tipKey(i) != nullptr && textResources().contains(tipKey(i))) << i;
    for (int32_t i : {-1, static_cast<int32_t>(kReserved), kPageSlotIndex})
        EXPECT_EQ(tipKey(i), nullptr);
    DelayNoteNames notes = lookUpDelayNoteNames();
    notes[9] = u"dotted eighth"; // the editor's own names, whatever the skin says now
    // A ratio keeps its unit close; other units stand apart; a synced delay time is a note.
    // clang-format off
    const Table<int32_t, float, bool, std::u16string> texts = {{kCompressorThresh, 0.8f, false, u"-12.0 dB"},
        {kCompressorRatio, 0.4014f, false, u"4.0:1"}, {kExpanderRatio, 1.0f, false, u"1:inf"},
        {kDoublerPresence, 0.0f, false, u"-inf dB"}, {kPlugInEnable, 1.0f, false, u"On"}, {kReserved, 0.5f, false, u""},
        {-3, 0.5f, false, u""}, {kDelayTime, 0.5f, true, u"1/8D"}, {kDelayTime, 0.6f, true, u"dotted eighth"}};
    // A typed number in the parameter's own unit is held to the range; whatever has no value
    // (nothing in a logarithmic unit, NaN, the order code) gives the bottom. A synced delay time
    // takes a note index.
    const Table<int32_t, double, bool, float> numbers = {{kInputGain, 7.0, false, 31.0f / 48.0f},
        {kDelayFeedback, 45.0, false, 0.5f}, {kInputGain, 22000.0, false, 1.0f}, {kCompressorRatio, 100.0, false, 1.0f},
        {kEqHighFreq, -100.0, false, 0.0f}, {kCompanderAttack, 0.0, false, 0.0f}, {kDelayFilterFreq, 5.0, false, 0.0f},
        {kInputGain, std::nan(""), false, 0.0f}, {kReserved, 12345.0, false, 0.0f}, {kEqEnable, 0.5, false, 0.0f},
        {kDelayTime, 8.0, true, 8.5f / 16.0f}};
    // clang-format on
    for (const auto& [index, value, synced, text] : texts)
        EXPECT_EQ(readoutText(index, value, synced, notes), text) << index << " at " << value;
    for (const auto& [index, number, synced, value] : numbers)
        EXPECT_FLOAT_EQ(normalisedFromNumber(index, number, synced), value) << index << " from " << number;
    // The readout's number for minus infinity, an infinite ratio and a note.
    EXPECT_EQ(readoutNumber(kDoublerPresence, 0.0f, false), kEntryMinimum);
    EXPECT_NEAR(readoutNumber(kExpanderRatio, 1.0f, false), std::pow(10.0, 1.5), 1e-9);
    EXPECT_EQ(readoutNumber(kDelayTime, 0.53f, true), 8.0);
}

TEST(ReadingLabel, ShowsTheReductionInThreeFiguresPolledEvery50MsPaintingOnlyItsTextArea) {
    // clang-format off
    const Table<double, std::u16string> figures = {{1.0, u"  0.0"}, {0.3, u"  0.0"}, // none below a ratio of 1
        {std::pow(10.0, 3.5 / 20.0), u"  3.5"}, {std::pow(10.0, 9.94 / 20.0), u"  9.9"},
        {std::pow(10.0, 9.96 / 20.0), u"   10"}, {4.0, u"   12"}};
    // clang-format on
    for (const auto& [ratio, figure] : figures)
        EXPECT_EQ(reductionText(ratio), figure) << ratio;

    gui::test::FakeControlHost host;
    ReadingLabel label(45, {20, 10, 32, 18}, nullptr, {230, 196, 77}, 0, u"  0.0");
    label.setHost(&host);
    label.prepare(gui::test::solidBuffer(80, 40, 0xFF102030u));
    EXPECT_EQ(std::pair(label.takesMouse(), host.timers.at(label.timerId()).second), std::pair(false, 50));
    host.fakeEngine.reductions[45] = static_cast<float>(std::pow(10.0, 4.5 / 20.0));
    host.fireTimers();
    host.invalidations.clear();
    host.fireTimers(); // an unchanged figure asks for no repaint
    EXPECT_EQ(std::pair(label.text(0), host.invalidations.size()),
              std::pair(std::u16string(u"  4.5"), size_t{0}));
    label.hide(); // hidden, it keeps what it showed until it shows again
    host.fakeEngine.reductions[45] = 4.0f;
    host.fireTimers();
    EXPECT_EQ(label.text(0), u"  4.5");
    label.show();
    host.fireTimers();
    EXPECT_EQ(label.text(0), u"   12");

    label.setTextArea({13, 0, 17, 18});
    gui::test::PixelDrawContext context(80, 40);
    context.fillRect({0, 0, 80, 40}, {255, 0, 0}); // what other controls drew
    ASSERT_TRUE(label.draw(context));
    EXPECT_EQ(
        std::tuple(context.rgb(33, 10), context.rgb(49, 27), context.rgb(32, 15), context.rgb(50, 15)),
        std::tuple(0x102030u, 0x102030u, 0xFF0000u, 0xFF0000u)); // the text area's corners and either side
    ASSERT_EQ(context.texts.size(), 1u);
    EXPECT_EQ(std::pair(context.texts[0].rect, context.texts[0].text),
              std::pair(gui::Rect{33, 10, 17, 18}, std::u16string(u"   12")));
}

} // namespace
} // namespace pellucer
