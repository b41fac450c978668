#include "dsp/TempoDelay.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <type_traits>

namespace pellucer {

namespace {
// The triplet factor is this rounded constant rather than an exact 2/3.
constexpr double kTripletFactor = 0.666666667;
constexpr double kDottedFactor = 1.5;

constexpr float kDefaultRate = 44100.0f;
// Rates outside this range (and NaN) would make line sizes and smoothing meaningless.
constexpr float kLowestRate = 1000.0f;
constexpr float kHighestRate = 1.0e6f;

// Feedback filter layout: band 0 a low shelf, band 1 a high shelf, both flat and gentle until
// the filter is first set.
constexpr int32_t kLowShelfBand = 0;
constexpr int32_t kHighShelfBand = 1;
constexpr double kInitialLowShelfHz = 22000.0;
constexpr double kInitialHighShelfHz = 20.0;
constexpr double kInitialShelfSlope = 0.25;
// The filter is flat when the mode sits at an end and the corner is pushed out of the way.
constexpr double kFlatMargin = 0.99999;
// Shelf spread around the corner: k = kSpreadScale * v^0.25 + kSpreadBase; slope =
// kSlopeScale * sqrt(v) + kSlopeBase, v being how far the mode is from a pure high or low cut.
constexpr double kSpreadScale = 2.0;
constexpr double kSpreadBase = 1.5;
constexpr double kSlopeScale = 0.5;
constexpr double kSlopeBase = 0.25;

// Added to what enters the feedback filter so that its state never decays into denormals.
constexpr double kAntiDenormal = 1e-30;

double clampUnit(double v) { return std::clamp(v, 0.0, 1.0); }

} // namespace

int noteIndex(double normalised) {
    const double scaled = std::trunc(kNoteValues * normalised);
    if (!(scaled > 0.0))
        return 0;
    return scaled >= kNoteValues - 1 ? kNoteValues - 1 : static_cast<int>(scaled);
}

double noteLengthSeconds(int index, double tempoBpm) {
    const double beat = 60.0 / tempoBpm;
    if (index >= kNoteValues - 1)
        return beat * 4.0;
    switch (index % 3) {
    case 0:
        return std::pow(2.0, (index - 9) / 3.0) * beat * kTripletFactor;
    case 1:
        return std::pow(2.0, (index - 10) / 3.0) * beat;
    default:
        return std::pow(2.0, (index - 11) / 3.0) * beat * kDottedFactor;
    }
}

TempoDelay::TempoDelay() : filter_(kDefaultRate) {
    DspModule::setSampleRate(kDefaultRate);
    filter_.addBand(BiquadType::LowShelf, kInitialLowShelfHz, 0.0, kInitialShelfSlope);
    filter_.addBand(BiquadType::HighShelf, kInitialHighShelfHz, 0.0, kInitialShelfSlope);
    initialise();
}

void TempoDelay::setSampleRate(float sampleRate) {
    if (!(sampleRate >= kLowestRate && sampleRate <= kHighestRate))
        return; // keep the current rate
    DspModule::setSampleRate(sampleRate);
    initialise();
}

void TempoDelay::initialise() {
    fade = 1.0;
    const double fs = sampleRate_;
    const int32_t target = framesFor(timeSeconds());
    targetFrames_.store(target, std::memory_order_relaxed);
    // The line time is taken in single precision (one second is 65536 frames at 44.1 kHz).
    const double lineSeconds = static_cast<float>(lineSeconds_);
    allocateLines(std::max<int64_t>(static_cast<int64_t>(lineSeconds * fs + 0.5), target));
    currentFrames_ = std::min(target, lineSize_);
    switchGain_ = 1.0;
    filter_.setSampleRate(static_cast<float>(fs));
    publishLoopDesign();
    loopState_ = LoopState{};
}

void TempoDelay::reset() {
    if (lineSize_ > 0)
        std::memset(static_cast<void*>(line_.get()), 0, sizeof(double) * 2 * static_cast<size_t>(lineSize_));
    currentFrames_ = std::min(targetDelayFrames(), lineSize_);
    switchGain_ = 1.0;
    loopState_ = LoopState{};
}

// Replaces the line with a zero-filled one of the smallest power of two >= frames. Keeps the old
// line (and answers false) when memory runs out.
bool TempoDelay::allocateLines(int64_t frames) {
    int64_t size = 1;
    while (size < frames)
        size *= 2;
    std::unique_ptr<double[]> line(new (std::nothrow) double[2 * static_cast<size_t>(size)]());
    if (!line)
        return false;
    line_ = std::move(line);
    lineSize_ = static_cast<int32_t>(size);
    mask_ = static_cast<uint32_t>(size - 1);
    return true;
}

int32_t TempoDelay::framesFor(double seconds) const {
    const double frames = std::floor(seconds * sampleRate_ + 0.5);
    return frames < 1.0 ? 1 : static_cast<int32_t>(frames);
}

// ---- settings ----------------------------------------------------------------------------------

void TempoDelay::setTime(double seconds) {
    if (std::isnan(seconds))
        return;
    const double t = std::clamp(seconds, 0.0, kMaxTimeSeconds);
    timeSeconds_.store(t, std::memory_order_relaxed);
    targetFrames_.store(framesFor(t), std::memory_order_relaxed);
}

void TempoDelay::setNoteValue(double normalised, double tempoBpm) {
    if (std::isnan(normalised))
        return;
    noteValue_.store(normalised, std::memory_order_relaxed);
    if (sync() && tempoBpm > 0.0 && std::isfinite(tempoBpm))
        setTime(noteLengthSeconds(noteIndex(normalised), tempoBpm));
}

void TempoDelay::setSync(bool on) { sync_.store(on, std::memory_order_relaxed); }

void TempoDelay::setLevel(double level) {
    if (!std::isnan(level))
        level_.store(clampUnit(level), std::memory_order_relaxed);
}

void TempoDelay::setFeedback(double feedback) {
    if (!std::isnan(feedback))
        feedback_.store(std::clamp(feedback, 0.0, kMaxFeedback), std::memory_order_relaxed);
}

void TempoDelay::setFilterMode(double mode) {
    if (std::isnan(mode))
        return;
    filterMode_.store(clampUnit(mode), std::memory_order_relaxed);
    updateFilter();
}

void TempoDelay::setFilterCornerControl(double control) {
    if (std::isnan(control))
        return;
    filterCornerControl_.store(clampUnit(control), std::memory_order_relaxed);
    updateFilter();
}

// Mode 0 cuts above the corner, 0.5 on both sides of it, 1 below it. v measures the distance
// from the nearer pure cut: the opposite shelf cuts by 9 v dB, and both shelves spread out and
// steepen as v grows.
void TempoDelay::updateFilter() {
    const double m = filterMode();
    const double phi = filterCornerControl();
    if ((m == 0.0 && phi > kFlatMargin) || (m > kFlatMargin && phi == 0.0)) {
        // The cut sits beyond the audio band: the loop runs unfiltered.
        filter_.setGain(kLowShelfBand, 0.0);
        filter_.setGain(kHighShelfBand, 0.0);
        publishLoopDesign();
        return;
    }
    const double cornerHz = kFilterLowestHz * std::pow(kFilterSpan, phi);
    double v, lowDb, highDb;
    if (m >= 0.5) {
        v = 2.0 * (1.0 - m);
        lowDb = kFilterCutDb;
        highDb = kFilterCutDb * v;
    } else {
        v = 2.0 * m;
        highDb = kFilterCutDb;
        lowDb = kFilterCutDb * v;
    }
    const double spread = kSpreadScale * std::pow(v, 0.25) + kSpreadBase;
    const double slope = kSlopeScale * std::sqrt(v) + kSlopeBase;
    filter_.setBand(kLowShelfBand, cornerHz / spread, lowDb, slope);
    filter_.setBand(kHighShelfBand, cornerHz * spread, highDb, slope);
    publishLoopDesign();
}

// The bank designs the shelves and draws their curve; the loop runs them from this copy, which
// it takes over as one set at the start of a block. Called by every writer of the bank's design.
void TempoDelay::publishLoopDesign() {
    LoopDesign::Values v;
    for (int32_t b = 0; b < kLoopBands; ++b) {
        const BiquadCoefficients c = filter_.coefficients(b);
        const double band[5] = {c.b0, c.b1, c.b2, c.a1, c.a2};
        std::copy(band, band + 5, v.begin() + 5 * b);
    }
    loopDesign_.publish(v);
}

// Takes over a new design, and clears a channel's band state that has stopped being finite (a
// NaN that reached the loop), so that one bad sample cannot silence the echo for good.
void TempoDelay::prepareLoopFilter() {
    loopDesign_.takeIfChanged(loopCoefficients_, loopDesignSeen_);
    LoopState& st = loopState_;
    for (int32_t b = 0; b < kLoopBands; ++b) {
        const StereoPair sum = st.x1[b] + st.x2[b] + st.y1[b] + st.y2[b];
        for (int lane = 0; lane < 2; ++lane) {
            if (!std::isfinite(sum[lane])) {
                st.x1[b][lane] = st.x2[b][lane] = 0.0;
                st.y1[b][lane] = st.y2[b][lane] = 0.0;
            }
        }
    }
}

bool TempoDelay::filterCurve(double* points, int32_t count) const {
    return filter_.magnitudeResponse(points, count, kCurveLowHz, kCurveHighHz);
}

// ---- processing --------------------------------------------------------------------------------

void TempoDelay::process(double* left, double* right, uint64_t position, int32_t frames, bool mono) {
    prepareLoopFilter();
    const uint32_t start = static_cast<uint32_t>(position);

    // A longer time than the line holds (a slow tempo, a long note): grow it, keeping what it
    // holds at the same positions so that the echo being faded out ends smoothly.
    const double t = timeSeconds();
    int32_t target = targetDelayFrames();
    if (t > lineSeconds_ || target > lineSize_) {
        const double fs = sampleRate_;
        const int64_t wanted =
            std::max<int64_t>(static_cast<int64_t>(static_cast<float>(t) * fs + 0.5), target);
        if (wanted > lineSize_) {
            std::unique_ptr<double[]> old = std::move(line_);
            const int32_t oldSize = lineSize_;
            const uint32_t oldMask = mask_;
            if (allocateLines(wanted)) {
                for (uint32_t back = 1; back <= static_cast<uint32_t>(oldSize); ++back) {
                    const uint32_t p = start - back;
                    pairsOf(line_.get())[p & mask_] = pairsOf(old.get())[p & oldMask];
                }
            } else {
                line_ = std::move(old);
            }
        }
        lineSeconds_ = std::max(lineSeconds_, t);
    }
    if (lineSize_ == 0)
        return; // no line could ever be allocated: the dry signal passes
    target = std::min(target, lineSize_);

    // Settled (the usual case): the echo is read at full gain, without the switch's smoothing.
    const bool switching = currentFrames_ != target || switchGain_ != 1.0;
    if (mono)
        switching ? run<double, true>(left, right, start, frames, target)
                  : run<double, false>(left, right, start, frames, target);
    else
        switching ? run<StereoPair, true>(left, right, start, frames, target)
                  : run<StereoPair, false>(left, right, start, frames, target);
}

// Lane is StereoPair for both channels, or double for the left one alone (mono: the right
// channel's line and state stay as they are).
template <typename Lane, bool kSwitching>
void TempoDelay::run(double* left, double* right, uint32_t start, int32_t frames, int32_t target) {
    constexpr bool kStereo = std::is_same_v<Lane, StereoPair>;
    // By value: Clang drops a typedef's reduced alignment from a reference parameter and would
    // read the pair with an aligned move.
    const auto ofLane = [](StoredPair v) -> Lane {
        if constexpr (kStereo)
            return v;
        else
            return v[0];
    };
    const double level = level_.load(std::memory_order_relaxed);
    const double feedback = feedback_.load(std::memory_order_relaxed);
    const double c100 = c100_;
    const uint32_t mask = mask_;
    StoredPair* line = pairsOf(line_.get());
    double s = switchGain_;
    int32_t current = currentFrames_;

    // One shelf with its state in registers (the two are written out, not looped over, so that
    // the compiler keeps them there).
    struct Shelf {
        double b0, b1, b2, a1, a2;
        Lane x1, x2, y1, y2;
        Lane operator()(Lane x) {
            const Lane y = b0 * x + b1 * x1 + b2 * x2 - a2 * y2 - a1 * y1;
            x2 = x1;
            x1 = x;
            y2 = y1;
            y1 = y;
            return y;
        }
    };
    const LoopDesign::Values& k = loopCoefficients_;
    const LoopState& st = loopState_;
    Shelf low{k[0], k[1], k[2], k[3], k[4], ofLane(st.x1[0]), ofLane(st.x2[0]), ofLane(st.y1[0]), ofLane(st.y2[0])};
    Shelf high{k[5], k[6], k[7], k[8], k[9], ofLane(st.x1[1]), ofLane(st.x2[1]), ofLane(st.y1[1]), ofLane(st.y2[1])};

    for (int32_t i = 0; i < frames; ++i) {
        const uint32_t n = start + static_cast<uint32_t>(i);
        Lane in;
        if constexpr (kStereo)
            in = StereoPair{left[i], right[i]};
        else
            in = left[i];
        if constexpr (kSwitching) {
            if (current != target) {
                smoothToward(-1.0, s, c100);
                if (s == -1.0)
                    current = target;
            } else {
                smoothToward(1.0, s, c100);
            }
        }
        const uint32_t read = (n - static_cast<uint32_t>(current)) & mask;
        Lane tap = ofLane(line[read]);
        if constexpr (kSwitching)
            tap = (s > 0.0 ? s : 0.0) * tap;

        const Lane w = high(low(tap * feedback + in + kAntiDenormal));
        const Lane out = level * tap + in;
        if constexpr (kStereo) {
            line[n & mask] = w;
            left[i] = out[0];
            right[i] = out[1];
        } else {
            line[n & mask][0] = w;
            left[i] = out;
        }
    }

    int32_t b = 0;
    for (const Shelf* shelf : {&low, &high}) {
        if constexpr (kStereo) {
            loopState_.x1[b] = shelf->x1;
            loopState_.x2[b] = shelf->x2;
            loopState_.y1[b] = shelf->y1;
            loopState_.y2[b] = shelf->y2;
        } else {
            loopState_.x1[b][0] = shelf->x1;
            loopState_.x2[b][0] = shelf->x2;
            loopState_.y1[b][0] = shelf->y1;
            loopState_.y2[b][0] = shelf->y2;
        }
        ++b;
    }
    switchGain_ = s;
    currentFrames_ = current;
}

} // namespace pellucer
