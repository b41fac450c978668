#include "dsp/Doubler.h"

#include <algorithm>
#include <cmath>

namespace pellucer {

namespace {

// Rates outside this range (including NaN) would make the line sizes meaningless; the doubler
// then runs as at 44.1 kHz rather than overflow or read garbage.
constexpr float kLowestRate = 1000.0f;
constexpr float kHighestRate = 1.0e6f;
constexpr float kFallbackRate = 44100.0f;

float usableRate(float sampleRate) {
    return (sampleRate >= kLowestRate && sampleRate <= kHighestRate) ? sampleRate : kFallbackRate;
}

int32_t roundedFrames(double seconds, double sampleRate) {
    return static_cast<int32_t>(seconds * sampleRate + 0.5);
}

// Linearly interpolated read `delay` frames behind position n (delay >= 0 for any usable rate,
// so truncation is the floor).
inline double readTap(const double* line, uint64_t mask, uint64_t n, double delay) {
    const int64_t whole = static_cast<int64_t>(delay);
    const double frac = delay - static_cast<double>(whole);
    const uint64_t newer = n - static_cast<uint64_t>(whole);
    return frac * line[(newer - 1) & mask] + (1.0 - frac) * line[newer & mask];
}

// The delay sin(a + x) * depth + base for offsets x from an anchor angle a, as a Taylor
// polynomial in x around a. Offsets stay below 32 / fs (under 0.032 for any usable rate), where
// the first omitted term, x^6 / 720, is below 2e-12 (below 1e-21 at 44.1 kHz).
struct DelayPolynomial {
    double c[6];

    DelayPolynomial(double angle, double depth, double base) {
        const double s = std::sin(angle) * depth;
        const double co = std::cos(angle) * depth;
        c[0] = s + base;
        c[1] = co;
        c[2] = -s * (1.0 / 2.0);
        c[3] = -co * (1.0 / 6.0);
        c[4] = s * (1.0 / 24.0);
        c[5] = co * (1.0 / 120.0);
    }

    double operator()(double x) const {
        return c[0] + x * (c[1] + x * (c[2] + x * (c[3] + x * (c[4] + x * c[5]))));
    }
};

double clampUnit(double v) { return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v); }

} // namespace

Doubler::Doubler() {
    DspModule::setSampleRate(kFallbackRate);
    initialise();
}

void Doubler::setSampleRate(float sampleRate) {
    DspModule::setSampleRate(sampleRate);
    initialise();
}

void Doubler::initialise() {
    fade = 1.0;
    const double fs = usableRate(sampleRate_);
    const int32_t wanted = roundedFrames(kLineSeconds, fs);
    int32_t size = 1;
    while (size < wanted)
        size *= 2;
    if (size != lineSize_ || !lineLeft_) {
        lineLeft_.reset(new double[static_cast<size_t>(size)]);
        lineRight_.reset(new double[static_cast<size_t>(size)]);
        lineSize_ = size;
        mask_ = static_cast<uint64_t>(size - 1);
    }
    depthFrames_ = fs * kModulationDepthFramesAt44100 / 44100.0;
    baseLeftFrames_ = roundedFrames(kBaseDelayLeftSeconds, fs);
    baseRightFrames_ = roundedFrames(kBaseDelayRightSeconds, fs);
    reset();
}

void Doubler::reset() {
    for (int32_t i = 0; i < lineSize_; ++i) {
        lineLeft_[i] = 0.0;
        lineRight_[i] = 0.0;
    }
}

void Doubler::setPresence(double presence) {
    if (!std::isnan(presence))
        presence_.store(clampUnit(presence), std::memory_order_relaxed);
}

void Doubler::setStereo(double stereo) {
    if (!std::isnan(stereo))
        stereo_.store(clampUnit(stereo), std::memory_order_relaxed);
}

void Doubler::process(double* left, double* right, uint64_t position, int32_t frames, bool mono) {
    const double presence = presence_.load(std::memory_order_relaxed);
    // Weight of a channel's own doubled signal; the rest comes from the other channel.
    const double own = mono ? 0.5 : 0.5 * stereo_.load(std::memory_order_relaxed) + 0.5;
    const double other = 1.0 - own;

    const float fs = usableRate(sampleRate_);
    const double fsDouble = fs;
    const double invFs = 1.0 / fsDouble;
    const double depth = depthFrames_;
    const double baseLeft = baseLeftFrames_;
    const double baseRight = baseRightFrames_;
    double* lineL = lineLeft_.get();
    double* lineR = lineRight_.get();
    const uint64_t mask = mask_;

    int32_t i = 0;
    while (i < frames) {
        // Phases of the anchor (the first frame of this sample's aligned group); every frame of
        // the group is then the anchor's angle plus a small, exactly known offset.
        const uint64_t first = position + static_cast<uint64_t>(i);
        const uint64_t anchor = first & ~static_cast<uint64_t>(kPhaseGroup - 1);
        const int32_t count = std::min(frames - i, static_cast<int32_t>(anchor + kPhaseGroup - first));
        const float anchorF = static_cast<float>(static_cast<int64_t>(anchor));
        const double angleL = static_cast<double>(anchorF / fs);
        const DelayPolynomial delayLeft(angleL, depth, baseLeft);
        const DelayPolynomial delayRight(static_cast<double>(anchorF) / fsDouble + kRightPhaseOffset, depth,
                                         baseRight);

        for (int32_t j = 0; j < count; ++j, ++i) {
            const uint64_t n = first + static_cast<uint64_t>(j);
            // (Through int64_t: a single conversion instruction; positions stay below 2^63.)
            const float nf = static_cast<float>(static_cast<int64_t>(n));
            // Left: sin of the single-precision quotient; its offset from the anchor's angle is
            // the exact difference of two floats. Right: the single-precision position in
            // double precision.
            const double delayL = delayLeft(static_cast<double>(nf / fs) - angleL);
            const double delayR =
                delayRight((static_cast<double>(nf) - static_cast<double>(anchorF)) * invFs);

            const double inL = left[i];
            const double inR = mono ? inL : right[i];
            const double tapL = readTap(lineL, mask, n, delayL);
            lineL[n & mask] = inL;
            const double tapR = readTap(lineR, mask, n, delayR);
            lineR[n & mask] = inR;

            const double doubledL = inL + presence * tapL;
            const double doubledR = inR + presence * tapR;
            left[i] = own * doubledL + other * doubledR;
            if (!mono)
                right[i] = own * doubledR + other * doubledL;
        }
    }
}

} // namespace pellucer
