// The graph panels: frequency, level and compander mappings, what is asked of the effect, the
// curve drawn where the mapping puts it, the grid, the threshold markers and the axis labels.

#include "Shared/GUI/GraphPanel.h"

#include <gtest/gtest.h>

#include <cmath>

#include "Shared/GUI/Font.h"
#include "core/SkinTable.h"
#include "tests/gui/GuiTestSupport.h"

namespace pellucer::gui {
namespace {

using test::FakeControlHost;
using test::PixelDrawContext;
using test::RecordingListener;

constexpr Rect kPanelA{512, 105, 238, 130};
constexpr Rect kPanelB{552, 105, 148, 128};
constexpr uint32_t kSkinGrey = 0xFF808080u;

void loadSkinTexts() {
    if (!textResources().contains("IDS_FREQ_31_25")) {
        ASSERT_EQ(textResources().load(PELLUCER_SOURCE_DIR "/skin/TextResources.tsres"), SkinTable::kSuccess);
    }
}

/// A smooth bell of `gainDb` at 1 kHz, about an octave wide.
double bellDb(double hz, double gainDb) {
    const double octaves = std::log2(hz / 1000.0);
    return gainDb * std::exp(-octaves * octaves / 0.8);
}

/// 50 points from 20 Hz to 20 kHz, evenly spaced on the log axis, of `db(hz)`.
template <typename Fn> GraphData frequencyCurve(int32_t mode, Fn db) {
    GraphData data;
    data.mode = mode;
    data.curveCount = 1;
    data.pointCounts[0] = GraphData::kMaxPoints;
    for (int32_t i = 0; i < GraphData::kMaxPoints; ++i) {
        const double hz = 20.0 * std::pow(1000.0, i / (GraphData::kMaxPoints - 1.0));
        data.curves[0][static_cast<size_t>(2 * i)] = hz;
        data.curves[0][static_cast<size_t>(2 * i + 1)] = db(hz);
    }
    return data;
}

/// Green channel: the curve's cyan is the brightest green on the dark display.
int32_t green(const PixelDrawContext& context, int32_t x, int32_t y) {
    return static_cast<int32_t>((context.rgb(x, y) >> 8) & 0xFFu);
}

class GraphPanelTest : public ::testing::Test {
protected:
    void SetUp() override { loadSkinTexts(); }

    /// A panel added to the host over a plain grey background, then drawn.
    void drawPanel(GraphPanel& panel, PixelDrawContext& context) {
        test::attach(panel, host, listener, test::solidBuffer(800, 260, kSkinGrey));
        ASSERT_TRUE(panel.draw(context));
    }

    FakeControlHost host;
    RecordingListener listener;
};

TEST_F(GraphPanelTest, FrequencyAxisRunsFrom20HzAtThePlotLeftTo20kHzAtItsRight) {
    GraphPanel panel(41, kPanelA, GraphPanel::kEq);
    EXPECT_DOUBLE_EQ(panel.xForFrequency(20.0), panel.plotLeft());
    EXPECT_DOUBLE_EQ(panel.xForFrequency(20000.0), panel.plotLeft() + panel.plotWidth());
    EXPECT_NEAR(panel.xForFrequency(1000.0), panel.plotLeft() + std::log10(50.0) / 3.0 * panel.plotWidth(),
                1e-9);
    EXPECT_NEAR(panel.xForFrequency(632.455532), panel.plotLeft() + 0.5 * panel.plotWidth(), 1e-6);
    // Beyond the axis: clamped to the panel.
    EXPECT_EQ(panel.xForFrequency(5.0), 0.0);
    EXPECT_EQ(panel.xForFrequency(0.0), 0.0);
    EXPECT_EQ(panel.xForFrequency(96000.0), kPanelA.width - 1.0);
    EXPECT_GE(panel.plotLeft(), 0.0);
    EXPECT_LE(panel.plotLeft() + panel.plotWidth(), kPanelA.width - 1.0);

    // The de-esser's axis starts at 500 Hz; the delay's is the full one again.
    panel.setMode(GraphPanel::kDeEsser);
    EXPECT_DOUBLE_EQ(panel.xForFrequency(500.0), panel.plotLeft());
    EXPECT_DOUBLE_EQ(panel.xForFrequency(20000.0), panel.plotLeft() + panel.plotWidth());
    EXPECT_NEAR(panel.xForFrequency(1000.0),
                panel.plotLeft() + std::log10(2.0) / std::log10(40.0) * panel.plotWidth(), 1e-9);
    EXPECT_EQ(panel.xForFrequency(20.0), 0.0);
    panel.setMode(GraphPanel::kDelay);
    EXPECT_DOUBLE_EQ(panel.xForFrequency(20.0), panel.plotLeft());
}

TEST_F(GraphPanelTest, LevelAxisSpansPlusMinus12DbAndClampsBeyond) {
    GraphPanel panel(41, kPanelA, GraphPanel::kEq);
    EXPECT_DOUBLE_EQ(panel.yForDecibels(0.0), panel.centreY());
    EXPECT_DOUBLE_EQ(panel.yForDecibels(6.0), panel.centreY() - 0.25 * panel.verticalScale());
    EXPECT_EQ(panel.yForDecibels(40.0), 0.0);
    EXPECT_EQ(panel.yForDecibels(-40.0), kPanelA.height - 5.0);
    EXPECT_EQ(panel.yForDecibels(-HUGE_VAL), kPanelA.height - 5.0);
    // The plot: +12 dB below the label band, -12 dB on the lowest row a curve may reach.
    EXPECT_EQ(panel.yForDecibels(12.0), panel.plotTop());
    EXPECT_EQ(panel.yForDecibels(-12.0), kPanelA.height - 5.0);
}

TEST_F(GraphPanelTest, CompanderPlotIsASquareFromMinus90To0Db) {
    GraphPanel panel(41, kPanelB, GraphPanel::kCompander);
    const double side = kPanelB.height - 16.0;
    EXPECT_EQ(panel.companderSide(), side);
    EXPECT_DOUBLE_EQ(panel.xForInputDb(-90.0), 20.0);
    EXPECT_DOUBLE_EQ(panel.xForInputDb(0.0), 20.0 + side);
    EXPECT_DOUBLE_EQ(panel.xForInputDb(-45.0), 20.0 + side / 2.0);
    EXPECT_DOUBLE_EQ(panel.yForOutputDb(-90.0), kPanelB.height - 12.0);
    EXPECT_DOUBLE_EQ(panel.yForOutputDb(0.0), kPanelB.height - 12.0 - side);
    EXPECT_DOUBLE_EQ(panel.yForOutputDb(-30.0), kPanelB.height - 12.0 - side * 60.0 / 90.0);
    // Outputs outside the square are held at its edges.
    EXPECT_DOUBLE_EQ(panel.yForOutputDb(-150.0), kPanelB.height - 12.0);
    EXPECT_DOUBLE_EQ(panel.yForOutputDb(-HUGE_VAL), kPanelB.height - 12.0);
    EXPECT_DOUBLE_EQ(panel.yForOutputDb(6.0), kPanelB.height - 12.0 - side);
}

TEST_F(GraphPanelTest, AsksTheEffectForTheCurvesOfItsMode) {
    GraphPanel panel(41, kPanelA, GraphPanel::kEq);
    panel.setMode(GraphPanel::kDeEsser); // no host yet: nothing to ask
    test::attach(panel, host, listener, PixelBuffer(800, 260));
    EXPECT_EQ(host.fakeEngine.graphRequests, (std::vector<int32_t>{GraphPanel::kDeEsser}));
    panel.setMode(GraphPanel::kDelay);
    EXPECT_EQ(host.fakeEngine.graphRequests.back(), GraphPanel::kDelay);
    EXPECT_EQ(panel.mode(), GraphPanel::kDelay);
    host.invalidations.clear();
    panel.recompute();
    EXPECT_EQ(host.fakeEngine.graphRequests.size(), 3u);
    EXPECT_EQ(host.invalidations, (std::vector<Rect>{kPanelA}));
}

TEST_F(GraphPanelTest, CountsBeyondTheArraysAreCut) {
    GraphData wild = frequencyCurve(GraphPanel::kEq, [](double) { return 0.0; });
    wild.curveCount = 9;
    wild.pointCounts = {500, -3};
    host.fakeEngine.graphs[GraphPanel::kEq] = wild;
    GraphPanel panel(41, kPanelA, GraphPanel::kEq);
    PixelDrawContext context(800, 260);
    drawPanel(panel, context);
    EXPECT_EQ(panel.data().curveCount, GraphData::kMaxCurves);
    EXPECT_EQ(panel.data().pointCounts[0], GraphData::kMaxPoints);
    EXPECT_EQ(panel.data().pointCounts[1], 0);
}

TEST_F(GraphPanelTest, TheCurveIsDrawnWhereTheMappingPutsIt) {
    host.fakeEngine.graphs[GraphPanel::kEq] =
        frequencyCurve(GraphPanel::kEq, [](double hz) { return bellDb(hz, 9.0); });
    GraphPanel panel(41, kPanelA, GraphPanel::kEq);
    PixelDrawContext context(800, 260);
    drawPanel(panel, context);
    // The 50 points mapped, joined by straight lines: where each column should be lit.
    const GraphData& data = panel.data();
    auto lineY = [&](double x) {
        for (int32_t i = 1; i < GraphData::kMaxPoints; ++i) {
            const double x0 = panel.xForFrequency(data.curves[0][static_cast<size_t>(2 * i - 2)]);
            const double x1 = panel.xForFrequency(data.curves[0][static_cast<size_t>(2 * i)]);
            if (x >= x0 && x <= x1) {
                const double y0 = panel.yForDecibels(data.curves[0][static_cast<size_t>(2 * i - 1)]);
                const double y1 = panel.yForDecibels(data.curves[0][static_cast<size_t>(2 * i + 1)]);
                return y0 + (y1 - y0) * (x - x0) / (x1 - x0);
            }
        }
        return -100.0;
    };
    for (int32_t x = static_cast<int32_t>(panel.plotLeft()) + 2;
         x < static_cast<int32_t>(panel.plotLeft() + panel.plotWidth()) - 2; ++x) {
        const double expectedY = lineY(x);
        // And the polyline follows the response itself to within half a pixel.
        const double low = std::log10(GraphPanel::kLowHz), high = std::log10(GraphPanel::kHighHz);
        const double hz = std::pow(10.0, low + (x - panel.plotLeft()) / panel.plotWidth() * (high - low));
        EXPECT_NEAR(expectedY, panel.yForDecibels(bellDb(hz, 9.0)), 0.6) << "column " << x;
        int32_t brightest = 0;
        for (int32_t y = 0; y < kPanelA.height; ++y)
            if (green(context, kPanelA.left + x, kPanelA.top + y) >
                green(context, kPanelA.left + x, kPanelA.top + brightest))
                brightest = y;
        EXPECT_NEAR(brightest, expectedY, 1.0) << "column " << x;
    }
    // The peak: +9 dB at 1 kHz.
    const auto peakX = static_cast<int32_t>(std::lround(panel.xForFrequency(1000.0)));
    const auto peakY = static_cast<int32_t>(std::lround(panel.yForDecibels(9.0)));
    EXPECT_GT(green(context, kPanelA.left + peakX, kPanelA.top + peakY), 180);
}

TEST_F(GraphPanelTest, CompanderMarksItsThresholdsOnTheCurve) {
    // A 4:1 compressor above -30 dB and a 1:2 expander below -60 dB.
    GraphData data;
    data.mode = GraphPanel::kCompander;
    data.curveCount = 1;
    data.pointCounts[0] = GraphData::kMaxPoints;
    auto transfer = [](double in) {
        if (in > -30.0)
            return -30.0 + (in + 30.0) / 4.0;
        if (in < -60.0)
            return -60.0 + (in + 60.0) * 2.0;
        return in;
    };
    for (int32_t i = 0; i < GraphData::kMaxPoints; ++i) {
        const double in = -90.0 + 90.0 * i / (GraphData::kMaxPoints - 1.0);
        data.curves[0][static_cast<size_t>(2 * i)] = in;
        data.curves[0][static_cast<size_t>(2 * i + 1)] = transfer(in);
    }
    data.compressorThresholdDb = -30.0;
    data.expanderThresholdDb = -60.0;
    host.fakeEngine.graphs[GraphPanel::kCompander] = data;
    GraphPanel panel(41, kPanelB, GraphPanel::kCompander);
    PixelDrawContext context(800, 260);
    drawPanel(panel, context);

    auto at = [&](double in, double out) {
        return context.rgb(kPanelB.left + static_cast<int32_t>(std::lround(panel.xForInputDb(in))),
                           kPanelB.top + static_cast<int32_t>(std::lround(panel.yForOutputDb(out))));
    };
    const uint32_t compressor = at(-30.0, -30.0), expander = at(-60.0, -60.0), curve = at(-45.0, -45.0);
    auto red = [](uint32_t rgb) { return static_cast<int32_t>(rgb >> 16); };
    auto blue = [](uint32_t rgb) { return static_cast<int32_t>(rgb & 0xFF); };
    auto greenOf = [](uint32_t rgb) { return static_cast<int32_t>((rgb >> 8) & 0xFF); };
    EXPECT_GT(red(compressor), blue(compressor) + 80); // amber
    EXPECT_GT(greenOf(expander), red(expander) + 60);  // green
    EXPECT_GT(greenOf(expander), blue(expander) + 40);
    EXPECT_GT(blue(curve), red(curve) + 80); // the cyan curve between them
    // The knee of the compressor at the top right: above 0 dB input the curve is at -22.5 dB.
    EXPECT_GT(greenOf(at(0.0, -22.5)), 150);
}

TEST_F(GraphPanelTest, LabelsTheOctavesAndTheZeroLineWithTheSkinsTexts) {
    GraphPanel panel(41, kPanelA, GraphPanel::kEq);
    const auto font = std::make_shared<const Font>(Font::Spec{Font::kLucidaConsole, 6, 0});
    panel.setFont(font);
    PixelDrawContext context(800, 260);
    drawPanel(panel, context);

    const char* keys[] = {"IDS_FREQ_31_25", "IDS_FREQ_62_5", "IDS_FREQ_125", "IDS_FREQ_250", "IDS_FREQ_500",
                          "IDS_FREQ_1K",    "IDS_FREQ_2K",   "IDS_FREQ_4K",  "IDS_FREQ_8K",  "IDS_FREQ_16K"};
    ASSERT_EQ(context.texts.size(), 11u);
    for (size_t i = 0; i < 10; ++i) {
        const auto& call = context.texts[i];
        EXPECT_EQ(call.text, textResources().text(keys[i]));
        EXPECT_TRUE(call.atPoint);
        EXPECT_TRUE(call.transparent);
        EXPECT_EQ(call.alignment, DrawContext::kAlignCentre);
        EXPECT_EQ(call.font, font.get());
        EXPECT_LT(call.at.y + PixelDrawContext::kCharHeight,
                  kPanelA.top + static_cast<int32_t>(panel.plotTop()) + 1);
        // Centred on its octave line unless that would leave the panel.
        const int32_t half = PixelDrawContext::kCharWidth * static_cast<int32_t>(call.text.size()) / 2;
        const double hz = 31.25 * std::pow(2.0, static_cast<double>(i));
        const auto x = static_cast<int32_t>(std::lround(panel.xForFrequency(hz)));
        if (x - half > 0 && x + half < kPanelA.width - 1) {
            EXPECT_EQ(call.at.x, kPanelA.left + x) << i;
        }
        EXPECT_GE(call.at.x - half, kPanelA.left);
        EXPECT_LE(call.at.x + half, kPanelA.right());
    }
    EXPECT_EQ(context.texts[10].text, textResources().text("IDS_DB_0"));
    EXPECT_EQ(context.texts[10].at.y + PixelDrawContext::kCharHeight,
              kPanelA.top + static_cast<int32_t>(std::lround(panel.centreY())) - 1);
    EXPECT_EQ(context.selectedFont(), nullptr); // the context's own font again
}

TEST_F(GraphPanelTest, TheDeEsserLabelsOnlyTheOctavesOnItsAxisAndTheCompanderOnlyItsZeroLine) {
    GraphPanel deEsser(41, kPanelA, GraphPanel::kDeEsser);
    PixelDrawContext context(800, 260);
    drawPanel(deEsser, context);
    ASSERT_EQ(context.texts.size(), 7u);
    EXPECT_EQ(context.texts[0].text, textResources().text("IDS_FREQ_500"));
    EXPECT_EQ(context.texts[5].text, textResources().text("IDS_FREQ_16K"));

    GraphPanel compander(41, kPanelB, GraphPanel::kCompander);
    PixelDrawContext other(800, 260);
    drawPanel(compander, other);
    ASSERT_EQ(other.texts.size(), 1u);
    EXPECT_EQ(other.texts[0].text, textResources().text("IDS_DB_0"));
}

} // namespace
} // namespace pellucer::gui
