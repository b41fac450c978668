#include "dsp/Doubler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <emmintrin.h>

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

// Linearly interpolated reads `delay` frames behind position n, the left lane from the left line
// and the right lane from the right (delay >= 0 for any usable rate, so truncation is the floor).
inline StereoPair readTaps(const StereoPair* line, uint32_t mask, uint32_t n, StereoPair delay) {
    const __m128i whole = _mm_cvttpd_epi32(delay);
    const StereoPair frac = delay - _mm_cvtepi32_pd(whole);
    const uint32_t newerL = n - static_cast<uint32_t>(_mm_cvtsi128_si32(whole));
    const uint32_t newerR = n - static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_shuffle_epi32(whole, 1)));
    const StereoPair older = {line[(newerL - 1) & mask][0], line[(newerR - 1) & mask][1]};
    const StereoPair newer = {line[newerL & mask][0], line[newerR & mask][1]};
    return frac * older + (1.0 - frac) * newer;
}

// The delays sin(a + x) * depth + base for offsets x from an anchor angle a, as a Taylor
// polynomial in x around a, the left line's in one lane and the right's in the other. Offsets
// stay below 32 / fs (under 0.032 for any usable rate), where the first omitted term, x^6 / 720,
// is below 2e-12 (below 1e-21 at 44.1 kHz).
struct DelayPolynomial {
    StereoPair c[6];

    DelayPolynomial(StereoPair angle, double depth, StereoPair base) {
        const StereoPair s = StereoPair{std::sin(angle[0]), std::sin(angle[1])} * depth;
        const StereoPair co = StereoPair{std::cos(angle[0]), std::cos(angle[1])} * depth;
        c[0] = s + base;
        c[1] = co;
        c[2] = -s * (1.0 / 2.0);
        c[3] = -co * (1.0 / 6.0);
        c[4] = s * (1.0 / 24.0);
        c[5] = co * (1.0 / 120.0);
    }

    StereoPair operator()(StereoPair x) const {
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
    if (size != lineSize_ || !line_) {
        line_.reset(new StereoPair[static_cast<size_t>(size)]);
        lineSize_ = size;
        mask_ = static_cast<uint64_t>(size - 1);
    }
    depthFrames_ = fs * kModulationDepthFramesAt44100 / 44100.0;
    baseLeftFrames_ = roundedFrames(kBaseDelayLeftSeconds, fs);
    baseRightFrames_ = roundedFrames(kBaseDelayRightSeconds, fs);
    reset();
}

void Doubler::reset() {
    std::memset(static_cast<void*>(line_.get()), 0, sizeof(StereoPair) * static_cast<size_t>(lineSize_));
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
    const double depth = depthFrames_;
    const StereoPair base = {static_cast<double>(baseLeftFrames_), static_cast<double>(baseRightFrames_)};
    // Left: sin of the single-precision quotient n / fs; its offset from the anchor's angle is the
    // exact difference of two floats (times 1). Right: the single-precision position in double
    // precision, less the anchor's, over fs.
    const StereoPair scale = {1.0, 1.0 / fsDouble};
    StereoPair* line = line_.get();
    const auto mask = static_cast<uint32_t>(mask_);
    const __m128 fsQuad = _mm_set1_ps(fs);

    int32_t i = 0;
    while (i < frames) {
        // Phases of the anchor (the first frame of this sample's aligned group); every frame of
        // the group is then the anchor's angle plus a small, exactly known offset.
        const uint64_t first = position + static_cast<uint64_t>(i);
        const uint64_t anchor = first & ~static_cast<uint64_t>(kPhaseGroup - 1);
        const int32_t count = std::min(frames - i, static_cast<int32_t>(anchor + kPhaseGroup - first));
        // (Through int64_t: a single conversion instruction; positions stay below 2^63.)
        const float anchorF = static_cast<float>(static_cast<int64_t>(anchor));
        const double angleL = static_cast<double>(anchorF / fs);
        const DelayPolynomial delays(StereoPair{angleL, static_cast<double>(anchorF) / fsDouble + kRightPhaseOffset}, depth,
                                     base);
        const StereoPair origin = {angleL, static_cast<double>(anchorF)};

        // The group's offsets first, four positions to a division: (n / fs in float, n) pairs
        // (up to three positions beyond the block's end are worked out and not used).
        static_assert(kPhaseGroup % 4 == 0);
        alignas(16) float positions[kPhaseGroup];
        StereoPair offsets[kPhaseGroup];
        const int32_t quads = (count + 3) / 4;
        for (int32_t j = 0; j < 4 * quads; ++j)
            positions[j] = static_cast<float>(static_cast<int64_t>(first + static_cast<uint64_t>(j)));
        for (int32_t j = 0; j < 4 * quads; j += 4) {
            const __m128 n = _mm_load_ps(positions + j);
            const __m128 q = _mm_div_ps(n, fsQuad);
            const __m128 low = _mm_unpacklo_ps(q, n), high = _mm_unpackhi_ps(q, n);
            offsets[j] = (_mm_cvtps_pd(low) - origin) * scale;
            offsets[j + 1] = (_mm_cvtps_pd(_mm_movehl_ps(low, low)) - origin) * scale;
            offsets[j + 2] = (_mm_cvtps_pd(high) - origin) * scale;
            offsets[j + 3] = (_mm_cvtps_pd(_mm_movehl_ps(high, high)) - origin) * scale;
        }

        for (int32_t j = 0; j < count; ++j, ++i) {
            const auto n = static_cast<uint32_t>(first) + static_cast<uint32_t>(j);
            const StereoPair in = {left[i], mono ? left[i] : right[i]};
            const StereoPair tap = readTaps(line, mask, n, delays(offsets[j]));
            line[n & mask] = in;
            const StereoPair doubled = in + presence * tap;
            const StereoPair swapped = _mm_shuffle_pd(doubled, doubled, 1);
            const StereoPair out = own * doubled + other * swapped;
            left[i] = out[0];
            if (!mono)
                right[i] = out[1];
        }
    }
}

} // namespace pellucer
