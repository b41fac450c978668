#include "dsp/ThreeBandEq.h"

#include <algorithm>
#include <cmath>

namespace pellucer {

namespace {

constexpr float kDefaultRate = 44100.0f;
constexpr float kLowestRate = 1000.0f;
constexpr float kHighestRate = 1.0e6f;

// Initial layout of the bank, before any parameter is applied.
constexpr double kInitialWideBellQ = 1.0;
constexpr double kInitialNarrowBellQ = 1.5;

// Narrow bell Q = (|mid gain| - kNarrowQGainOffsetDb) / kNarrowQGainPerUnit + kNarrowQBase:
// 2.07 at 0 dB, 3.79 at +-12 dB, so a stronger mid setting gets a more focused counter-bell.
constexpr double kNarrowQGainOffsetDb = 3.0;
constexpr double kNarrowQGainPerUnit = 7.0;
constexpr double kNarrowQBase = 2.5;

// The crossovers are third-order Butterworth: a first-order section and a Q = 1 second-order one.
constexpr double kCrossoverQ = 1.0;
constexpr double kMinCrossoverHz = 20.0;

// The routing weights move on every sample whose (block index + position) is not a multiple of 8.
constexpr uint32_t kWeightSkipMask = 7;

// Frames split at a time before the equaliser's tube takes them.
constexpr int32_t kChunkFrames = 64;

bool usableFrequency(double hz) { return std::isfinite(hz) && hz > 0.0; }

double geometricMean(double a, double b) { return std::pow(10.0, (std::log10(a) + std::log10(b)) / 2.0); }

} // namespace

ThreeBandEq::ThreeBandEq() : bank_(kDefaultRate) {
    DspModule::setSampleRate(kDefaultRate);
    bank_.addBand(BiquadType::LowShelf, lowFrequency(), lowGainDb(), kShelfSlope);
    bank_.addBand(BiquadType::Peaking, midFrequency(), kWideBellGainFactor * midGainDb(), kInitialWideBellQ);
    bank_.addBand(BiquadType::Peaking, midFrequency(), kNarrowBellGainFactor * midGainDb(),
                  kInitialNarrowBellQ);
    bank_.addBand(BiquadType::HighShelf, highFrequency(), highGainDb(), kShelfSlope);
    initialise();
}

void ThreeBandEq::initialise() {
    crossoverLowMidHz_.store(kInitialCrossoverLowMidHz, std::memory_order_relaxed);
    crossoverMidHighHz_.store(kInitialCrossoverMidHighHz, std::memory_order_relaxed);
    publishCrossovers();
    splitLeft_ = SplitState{};
    splitRight_ = SplitState{};
    rejoined_ = false;
    weights_[0] = weights_[1] = weights_[2] = 0.0;
    bank_.reset();

    drive_.store(1.0, std::memory_order_relaxed);
    tube_.initialise();
    tube_.setEnvelopeModulation(true);
    tube_.setSampleRate(sampleRate_);
}

void ThreeBandEq::setSampleRate(float sampleRate) {
    if (!(sampleRate >= kLowestRate && sampleRate <= kHighestRate))
        return; // (NaN included) the designs would be meaningless: keep the current rate
    DspModule::setSampleRate(sampleRate);
    tube_.setSampleRate(sampleRate);
    bank_.setSampleRate(sampleRate);
    publishCrossovers();
}

void ThreeBandEq::reset() {}

// ---- settings ----------------------------------------------------------------------------------

double ThreeBandEq::narrowBellQ(double midGainDb) {
    return (std::fabs(midGainDb) - kNarrowQGainOffsetDb) / kNarrowQGainPerUnit + kNarrowQBase;
}

void ThreeBandEq::setLowFrequency(double hz) {
    if (!usableFrequency(hz))
        return;
    lowHz_.store(hz, std::memory_order_relaxed);
    bank_.setBand(kLowShelfBand, hz, lowGainDb(), kShelfSlope);
    updateCrossovers();
}

void ThreeBandEq::setMidFrequency(double hz) {
    if (!usableFrequency(hz))
        return;
    midHz_.store(hz, std::memory_order_relaxed);
    const double db = midGainDb();
    bank_.setBand(kWideBellBand, hz, kWideBellGainFactor * db, kWideBellQ);
    bank_.setBand(kNarrowBellBand, hz, kNarrowBellGainFactor * db, narrowBellQ(db));
    updateCrossovers();
}

void ThreeBandEq::setHighFrequency(double hz) {
    if (!usableFrequency(hz))
        return;
    highHz_.store(hz, std::memory_order_relaxed);
    bank_.setBand(kHighShelfBand, hz, highGainDb(), kShelfSlope);
    updateCrossovers();
}

void ThreeBandEq::setLowGain(double db) {
    if (!std::isfinite(db))
        return;
    lowDb_.store(db, std::memory_order_relaxed);
    bank_.setGain(kLowShelfBand, db);
}

void ThreeBandEq::setMidGain(double db) {
    if (!std::isfinite(db))
        return;
    midDb_.store(db, std::memory_order_relaxed);
    bank_.setGain(kWideBellBand, kWideBellGainFactor * db);
    // The counter-bell's Q follows the gain at once, whichever of gain and frequency comes first.
    bank_.setBand(kNarrowBellBand, midFrequency(), kNarrowBellGainFactor * db, narrowBellQ(db));
}

void ThreeBandEq::setHighGain(double db) {
    if (!std::isfinite(db))
        return;
    highDb_.store(db, std::memory_order_relaxed);
    bank_.setGain(kHighShelfBand, db);
}

void ThreeBandEq::setTubeDrive(double drive) {
    if (!std::isfinite(drive) || !(drive > 0.0))
        return;
    drive_.store(drive, std::memory_order_relaxed);
    tube_.setDrive(drive);
}

void ThreeBandEq::setTubeLow(bool on) {
    tubeLow_.store(on, std::memory_order_relaxed);
    updateCrossovers();
}

void ThreeBandEq::setTubeMid(bool on) {
    tubeMid_.store(on, std::memory_order_relaxed);
    updateCrossovers();
}

void ThreeBandEq::setTubeHigh(bool on) {
    tubeHigh_.store(on, std::memory_order_relaxed);
    updateCrossovers();
}

bool ThreeBandEq::responseCurve(double* points, int32_t count) const {
    return bank_.magnitudeResponse(points, count, kCurveLowHz, kCurveHighHz);
}

// ---- crossovers --------------------------------------------------------------------------------

void ThreeBandEq::updateCrossovers() {
    const double mid = midFrequency();
    crossoverLowMidHz_.store(geometricMean(lowFrequency(), mid), std::memory_order_relaxed);
    crossoverMidHighHz_.store(geometricMean(mid, highFrequency()), std::memory_order_relaxed);
    publishCrossovers();
}

void ThreeBandEq::publishCrossovers() {
    const double fs = sampleRate_;
    const Crossover a = designCrossover(crossoverLowMidHz(), fs);
    const Crossover b = designCrossover(crossoverMidHighHz(), fs);
    crossoverDesign_.publish({a.c, a.a1, a.a2, b.c, b.a1, b.a2});
}

ThreeBandEq::Crossover ThreeBandEq::designCrossover(double hz, double sampleRate) {
    // Held to the highest frequency the bank designs at (about 0.95 of the Nyquist frequency below
    // 44.1 kHz): closer to it the second-order section's poles sit on the unit circle, and a band
    // routed through the tube alone, no longer cancelled by the others, rings at many times full
    // scale (a 10 kHz crossover at 8 kHz did).
    const double f = std::clamp(hz, kMinCrossoverHz, std::max(kMinCrossoverHz, BiquadBank::highestFrequency(sampleRate)));
    const double w = kPi * f / sampleRate;
    const double alpha = std::sin(2.0 * w) / (2.0 * kCrossoverQ);
    const double t = std::tan(w);
    Crossover x;
    x.c = -(1.0 - t) / (1.0 + t);
    x.a2 = (1.0 - alpha) / (1.0 + alpha);
    x.a1 = -2.0 * std::cos(2.0 * w) / (1.0 + alpha);
    return x;
}

// ---- processing --------------------------------------------------------------------------------
//
// (AP1 + AP2) of a crossover is a third-order Butterworth low-pass of twice the input and
// (AP1 - AP2) the matching high-pass. Splitting half the input at B and then the low part at A
// gives low = LP_A LP_B x, mid = HP_A LP_B x and, after A's first-order section, high =
// AP1_A HP_B x, which add up to the allpass AP1_A AP1_B x.

// Both A sections are linear, so A1(u; s) + A1(v; t) = A1(u + v; s + t) for their states s and t:
// with the state 2 sA + sH in the high band's section (and none in the low/mid one), that section
// alone carries the sum of the bands on from where the split left it, and when the split takes
// over again the same states continue the sum without a step. The second-order sections cancel
// in the sum; they start again from rest.
void ThreeBandEq::rejoin(SplitState& s) {
    s.highFirstA.x1 += 2.0 * s.firstA.x1;
    s.highFirstA.y1 += 2.0 * s.firstA.y1;
    s.firstA = {};
    s.secondA = {};
    s.secondB = {};
}

ThreeBandEq::SplitStateOf<StereoPair> ThreeBandEq::joinStates(const SplitState& l, const SplitState& r) {
    SplitStateOf<StereoPair> both;
    auto first = [](FirstOrderAllpass<StereoPair>& to, const FirstOrderAllpass<double>& a,
                    const FirstOrderAllpass<double>& b) {
        to.x1 = StereoPair{a.x1, b.x1};
        to.y1 = StereoPair{a.y1, b.y1};
    };
    auto second = [](SecondOrderAllpass<StereoPair>& to, const SecondOrderAllpass<double>& a,
                     const SecondOrderAllpass<double>& b) {
        to.x1 = StereoPair{a.x1, b.x1};
        to.x2 = StereoPair{a.x2, b.x2};
        to.y1 = StereoPair{a.y1, b.y1};
        to.y2 = StereoPair{a.y2, b.y2};
    };
    first(both.firstB, l.firstB, r.firstB);
    first(both.firstA, l.firstA, r.firstA);
    first(both.highFirstA, l.highFirstA, r.highFirstA);
    second(both.secondB, l.secondB, r.secondB);
    second(both.secondA, l.secondA, r.secondA);
    return both;
}

void ThreeBandEq::separateStates(const SplitStateOf<StereoPair>& both, SplitState& l, SplitState& r) {
    auto first = [](const FirstOrderAllpass<StereoPair>& from, FirstOrderAllpass<double>& a,
                    FirstOrderAllpass<double>& b) {
        a = {from.x1[0], from.y1[0]};
        b = {from.x1[1], from.y1[1]};
    };
    auto second = [](const SecondOrderAllpass<StereoPair>& from, SecondOrderAllpass<double>& a,
                     SecondOrderAllpass<double>& b) {
        a = {from.x1[0], from.x2[0], from.y1[0], from.y2[0]};
        b = {from.x1[1], from.x2[1], from.y1[1], from.y2[1]};
    };
    first(both.firstB, l.firstB, r.firstB);
    first(both.firstA, l.firstA, r.firstA);
    first(both.highFirstA, l.highFirstA, r.highFirstA);
    second(both.secondB, l.secondB, r.secondB);
    second(both.secondA, l.secondA, r.secondA);
}

void ThreeBandEq::process(double* left, double* right, uint64_t position, int32_t frames, bool mono) {
    bank_.prepareBlock();
    std::array<double, 6> design;
    if (crossoverDesign_.takeIfChanged(design, crossoverSeen_)) {
        crossoverA_ = {design[0], design[1], design[2]};
        crossoverB_ = {design[3], design[4], design[5]};
    }
    const Crossover a = crossoverA_;
    const Crossover b = crossoverB_;
    const double targetLow = tubeLow() ? 1.0 : 0.0;
    const double targetMid = tubeMid() ? 1.0 : 0.0;
    const double targetHigh = tubeHigh() ? 1.0 : 0.0;
    double wLow = weights_[0], wMid = weights_[1], wHigh = weights_[2];
    SplitState sl = splitLeft_;
    SplitState sr = splitRight_;

    // The tube runs only on samples where some band is routed through it. With no band routed
    // nor on its way, the weights stay 0 for the whole block and the bands simply add up again.
    // In stereo both channels are split side by side (StereoPair: the same bits as one by one).
    const bool settled = wLow == targetLow && wMid == targetMid && wHigh == targetHigh;
    const bool noneRouted = settled && wLow == 0.0 && wMid == 0.0 && wHigh == 0.0;
    const bool allRouted = settled && wLow == 1.0 && wMid == 1.0 && wHigh == 1.0;
    if (noneRouted || allRouted) {
        // The bands add up to crossover A's first-order allpass of twice crossover B's, which
        // is all that runs while they are not told apart: none of them routed through the tube
        // (their sum goes on as it is), or all of them (their sum goes through the tube).
        if (!rejoined_) {
            rejoin(sl);
            rejoin(sr);
            rejoined_ = true;
        }
        if (mono && noneRouted) {
            for (int32_t i = 0; i < frames; ++i)
                left[i] = allpassSum(left[i], a, b, sl);
        } else if (noneRouted) {
            SplitStateOf<StereoPair> both = joinStates(sl, sr);
            for (int32_t i = 0; i < frames; ++i) {
                const StereoPair sum = allpassSum(StereoPair{left[i], right[i]}, a, b, both);
                left[i] = sum[0];
                right[i] = sum[1];
            }
            separateStates(both, sl, sr);
        } else {
            // In mono the right lane carries a copy of the left input, and its results are
            // dropped.
            const double* rightIn = mono ? left : right;
            SplitStateOf<StereoPair> both = joinStates(sl, sr);
            TubeStage::FrameShaper shaper = tube_.beginFrames();
            for (int32_t start = 0; start < frames; start += kChunkFrames) {
                const int32_t n = std::min(frames - start, kChunkFrames);
                StereoPair sum[kChunkFrames];
                for (int32_t i = 0; i < n; ++i)
                    sum[i] = allpassSum(StereoPair{left[start + i], rightIn[start + i]}, a, b, both);
                shaper.shapeFrames(sum, n, mono);
                for (int32_t i = 0; i < n; ++i) {
                    left[start + i] = sum[i][0];
                    if (!mono)
                        right[start + i] = sum[i][1];
                }
            }
            tube_.endFrames(shaper);
            SplitState unusedRight;
            separateStates(both, sl, mono ? unusedRight : sr);
        }
    } else {
        // Both channels side by side; in mono the right lane carries a copy of the left input,
        // and its results are dropped.
        const double c100 = c100_;
        const uint32_t phase = static_cast<uint32_t>(position);
        const double* rightIn = mono ? left : right;
        rejoined_ = false;
        SplitStateOf<StereoPair> both = joinStates(sl, sr);
        TubeStage::FrameShaper shaper = tube_.beginFrames();
        double keepLow = 1.0 - wLow, keepMid = 1.0 - wMid, keepHigh = 1.0 - wHigh;
        bool routed = wLow != 0.0 || wMid != 0.0 || wHigh != 0.0;
        // A chunk is split first and then sent through the tube: short loops keep their state
        // in registers, where one long one would spill it to memory on every frame.
        for (int32_t start = 0; start < frames; start += kChunkFrames) {
            const int32_t n = std::min(frames - start, kChunkFrames);
            BandsOf<StereoPair> bands[kChunkFrames];
            StereoPair tube[kChunkFrames];
            for (int32_t i = 0; i < n; ++i)
                bands[i] = split(StereoPair{left[start + i], rightIn[start + i]}, a, b, both);
            if (settled) {
                for (int32_t i = 0; i < n; ++i)
                    tube[i] = wLow * bands[i].low + wMid * bands[i].mid + wHigh * bands[i].high;
                shaper.shapeFrames(tube, n, mono);
            }
            for (int32_t i = 0; i < n; ++i) {
                const BandsOf<StereoPair>& x = bands[i];
                if (!settled) {
                    tube[i] = wLow * x.low + wMid * x.mid + wHigh * x.high;
                    if (routed)
                        tube[i] = shaper.shapeFrame(tube[i], mono);
                }
                const StereoPair out = keepLow * x.low + tube[i] + keepMid * x.mid + keepHigh * x.high;
                left[start + i] = out[0];
                if (!mono)
                    right[start + i] = out[1];

                // (Weights at their targets would stay there: no need to move them.)
                if (!settled && ((phase + static_cast<uint32_t>(start + i)) & kWeightSkipMask) != 0) {
                    smoothToward(targetLow, wLow, c100);
                    smoothToward(targetMid, wMid, c100);
                    smoothToward(targetHigh, wHigh, c100);
                    keepLow = 1.0 - wLow;
                    keepMid = 1.0 - wMid;
                    keepHigh = 1.0 - wHigh;
                    routed = wLow != 0.0 || wMid != 0.0 || wHigh != 0.0;
                }
            }
        }
        tube_.endFrames(shaper);
        SplitState unusedRight;
        separateStates(both, sl, mono ? unusedRight : sr);
    }
    bank_.processBlock(left, right, frames, mono);

    weights_[0] = wLow;
    weights_[1] = wMid;
    weights_[2] = wHigh;
    splitLeft_ = sl;
    splitRight_ = sr;
}

} // namespace pellucer
