#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "Shared/GUI/Control.h"

namespace pellucer::gui {

class Font;

/// A display of what a stage does, computed by the effect and drawn here: the frequency
/// response of the EQ (mode 2), of the delay's feedback filter (mode 4) and of the de-esser
/// (mode 0: the band it listens to and what passes), or the compander's transfer curve
/// (mode 1). The doubler (mode 3) has no curve and shows the empty display.
///
/// Layout of the frequency modes: a label band at the top for the octave marks, the plot
/// below it from kLabelBand + 1 to height - 5 holding -12 .. +12 dB (so a curve clamped at the
/// bottom lies on the -12 dB line), 6 pixels of margin on either side. For the editor's
/// 130-pixel panel that puts +12 dB on row 13, 0 dB on row 69 and -12 dB on row 125, 4.67
/// pixels per dB, with the 0 and +-6 dB lines on whole rows. The compander plot is a
/// square of side height - 16, input -90 .. 0 dB from x = 20, output -90 .. 0 dB upwards from
/// y = height - 12. Positions are pixel centres: x = 6 is the middle of column 6.
class GraphPanel : public Control {
public:
    static constexpr int32_t kDeEsser = 0;
    static constexpr int32_t kCompander = 1;
    static constexpr int32_t kEq = 2;
    static constexpr int32_t kDoubler = 3;
    static constexpr int32_t kDelay = 4;

    /// Frequency axes: 20 Hz .. 20 kHz, the de-esser's from 500 Hz.
    static constexpr double kLowHz = 20.0;
    static constexpr double kDeEsserLowHz = 500.0;
    static constexpr double kHighHz = 20000.0;
    /// Level axis of the frequency modes.
    static constexpr double kRangeDb = 12.0;
    /// Both axes of the compander plot: kFloorDb .. 0 dB.
    static constexpr double kFloorDb = -90.0;
    /// Horizontal margin of the frequency plot, the rows of the label band above it and the
    /// rows below it.
    static constexpr int32_t kSideMargin = 6;
    static constexpr int32_t kLabelBand = 12;
    static constexpr int32_t kBottomMargin = 5;
    /// The lowest octave mark (31.25 Hz); the ten marks double up to 16 kHz.
    static constexpr double kFirstOctaveHz = 31.25;
    static constexpr int32_t kOctaveMarks = 10;

    /// Looks up the axis texts of the text skin (`IDS_FREQ_31_25` .. `IDS_FREQ_16K`, `IDS_DB_0`).
    GraphPanel(int32_t id, const Rect& rect, int32_t mode);

    /// Shows mode `mode` and asks the effect for its curves.
    void setMode(int32_t mode);
    int32_t mode() const { return mode_; }
    /// Asks the effect for the curves of the current mode and redraws.
    void recompute();
    /// The font of the axis labels (null: the drawing context's default).
    void setFont(std::shared_ptr<const Font> font);
    const GraphData& data() const { return data_; }
    /// The octave mark texts and the 0 dB text as looked up.
    const std::u16string& octaveText(int32_t index) const {
        return octaveTexts_.at(static_cast<size_t>(index));
    }
    const std::u16string& zeroDbText() const { return zeroDbText_; }

    /// Saves the background and reads the curves (the host must be set).
    void prepare(const PixelBuffer& background) override;
    bool draw(DrawContext& context) override;
    bool acceptsFocus() const override { return false; }

    // -- mapping ------------------------------------------------------------------------------

    double plotLeft() const { return kSideMargin; }
    double plotWidth() const { return rect_.width - 2.0 * kSideMargin; }
    double plotTop() const { return kLabelBand + 1.0; }
    double plotBottom() const { return rect_.height - static_cast<double>(kBottomMargin); }
    /// The 0 dB line and the pixels that +-12 dB span.
    double centreY() const { return 0.5 * (plotTop() + plotBottom()); }
    double verticalScale() const { return plotBottom() - plotTop(); }
    /// Lower end of the current mode's frequency axis.
    double lowHz() const { return mode_ == kDeEsser ? kDeEsserLowHz : kLowHz; }
    /// x of `hz` on the current mode's logarithmic axis, within 0 .. width - 1.
    double xForFrequency(double hz) const;
    /// y of a level in dB on the +-12 dB axis, within 0 .. height - 5.
    double yForDecibels(double db) const;
    /// Side of the compander's square plot.
    double companderSide() const { return rect_.height - 16.0; }
    /// x of a compander input level: 20 + (in + 90) / 90 x side.
    double xForInputDb(double db) const;
    /// y of a compander output level: height - 12 - clamp((out + 90) / 90, 0, 1) x side.
    double yForOutputDb(double db) const;

private:
    struct PlotPoint {
        double x;
        double y;
    };
    using Polyline = std::vector<PlotPoint>;

    /// The valid points of curve `curve` in pixels.
    Polyline mapCurve(int32_t curve) const;
    void drawDisplay();
    void drawFrequencyGrid();
    void drawCompanderGrid();
    void drawCurve(const Polyline& line, Colour colour, double fillBase, double fillAlpha, double glowAlpha,
                   double lineWidth);
    void drawThreshold(const Polyline& transfer, double thresholdDb, Colour colour);
    void drawLabels(DrawContext& context) const;

    int32_t mode_;
    GraphData data_;
    std::shared_ptr<const Font> font_;
    std::array<std::u16string, kOctaveMarks> octaveTexts_;
    std::u16string zeroDbText_;
    std::vector<float> distance_; ///< scratch: each pixel's distance to the curve being drawn
};

} // namespace pellucer::gui
