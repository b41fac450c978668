#include "dsp/TempoDelay.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

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
    filter_.reset();
}

void TempoDelay::reset() {
    if (lineSize_ > 0) {
        std::memset(lineLeft_.get(), 0, sizeof(double) * static_cast<size_t>(lineSize_));
        std::memset(lineRight_.get(), 0, sizeof(double) * static_cast<size_t>(lineSize_));
    }
    currentFrames_ = std::min(targetDelayFrames(), lineSize_);
    switchGain_ = 1.0;
    filter_.reset();
}

// Replaces both lines with zero-filled ones of the smallest power of two >= frames. Keeps the old
// lines (and answers false) when memory runs out.
bool TempoDelay::allocateLines(int64_t frames) {
    int64_t size = 1;
    while (size < frames)
        size *= 2;
    std::unique_ptr<double[]> left(new (std::nothrow) double[static_cast<size_t>(size)]());
    std::unique_ptr<double[]> right(new (std::nothrow) double[static_cast<size_t>(size)]());
    if (!left || !right)
        return false;
    lineLeft_ = std::move(left);
    lineRight_ = std::move(right);
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
}

bool TempoDelay::filterCurve(double* points, int32_t count) const {
    return filter_.magnitudeResponse(points, count, kCurveLowHz, kCurveHighHz);
}

// ---- processing --------------------------------------------------------------------------------

void TempoDelay::process(double* left, double* right, uint64_t position, int32_t frames, bool mono) {
    filter_.prepareBlock();
    const uint32_t start = static_cast<uint32_t>(position);

    // A longer time than the lines hold (a slow tempo, a long note): grow them, keeping what they
    // hold at the same positions so that the echo being faded out ends smoothly.
    const double t = timeSeconds();
    int32_t target = targetDelayFrames();
    if (t > lineSeconds_ || target > lineSize_) {
        const double fs = sampleRate_;
        const int64_t wanted =
            std::max<int64_t>(static_cast<int64_t>(static_cast<float>(t) * fs + 0.5), target);
        if (wanted > lineSize_) {
            std::unique_ptr<double[]> oldLeft = std::move(lineLeft_), oldRight = std::move(lineRight_);
            const int32_t oldSize = lineSize_;
            const uint32_t oldMask = mask_;
            if (allocateLines(wanted)) {
                for (uint32_t back = 1; back <= static_cast<uint32_t>(oldSize); ++back) {
                    const uint32_t p = start - back;
                    lineLeft_[p & mask_] = oldLeft[p & oldMask];
                    lineRight_[p & mask_] = oldRight[p & oldMask];
                }
            } else {
                lineLeft_ = std::move(oldLeft);
                lineRight_ = std::move(oldRight);
            }
        }
        lineSeconds_ = std::max(lineSeconds_, t);
    }
    if (lineSize_ == 0)
        return; // no line could ever be allocated: the dry signal passes
    target = std::min(target, lineSize_);

    const double level = level_.load(std::memory_order_relaxed);
    const double feedback = feedback_.load(std::memory_order_relaxed);
    const double c100 = c100_;
    const uint32_t mask = mask_;
    double* lineL = lineLeft_.get();
    double* lineR = lineRight_.get();
    double s = switchGain_;
    int32_t current = currentFrames_;

    for (int32_t i = 0; i < frames; ++i) {
        if (current != target) {
            smoothToward(-1.0, s, c100);
            if (s == -1.0)
                current = target;
        } else {
            smoothToward(1.0, s, c100);
        }
        const double gain = s > 0.0 ? s : 0.0;
        const uint32_t n = start + static_cast<uint32_t>(i);
        const uint32_t write = n & mask;
        const uint32_t read = (n - static_cast<uint32_t>(current)) & mask;

        const double tapL = gain * lineL[read];
        double wL = tapL * feedback + left[i] + kAntiDenormal;
        filter_.processLeft(wL);
        lineL[write] = wL;
        left[i] = level * tapL + left[i];

        if (!mono) {
            const double tapR = gain * lineR[read];
            double wR = tapR * feedback + right[i] + kAntiDenormal;
            filter_.processRight(wR);
            lineR[write] = wR;
            right[i] = level * tapR + right[i];
        }
    }

    switchGain_ = s;
    currentFrames_ = current;
}

} // namespace pellucer
