#include "dsp/Doubler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <emmintrin.h>
#include <type_traits>
#include <utility>

#include "dsp/StereoPair.h"

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

// Where a group's frames read their lines: the fraction of the older sample and the masked
// positions of the older and the newer one, each channel's in its own run, so that two frames of
// one channel load into one register.
struct GroupReads {
    static constexpr int32_t kFrames = Doubler::kPhaseGroup;
    struct Channel {
        alignas(16) double frac[kFrames];
        alignas(16) uint32_t older[kFrames];
        alignas(16) uint32_t newer[kFrames];

        // Frames j .. j + 3 at positions `at` with delays d01 (frames j, j + 1) and d23 (>= 0
        // for any usable rate, so truncation is the floor).
        void plan(int32_t j, __m128i at, StereoPair d01, StereoPair d23, __m128i mask) {
            const __m128i w01 = _mm_cvttpd_epi32(d01), w23 = _mm_cvttpd_epi32(d23);
            _mm_store_pd(frac + j, d01 - _mm_cvtepi32_pd(w01));
            _mm_store_pd(frac + j + 2, d23 - _mm_cvtepi32_pd(w23));
            const __m128i newest = _mm_sub_epi32(at, _mm_unpacklo_epi64(w01, w23));
            _mm_store_si128(reinterpret_cast<__m128i*>(newer + j), _mm_and_si128(newest, mask));
            _mm_store_si128(reinterpret_cast<__m128i*>(older + j),
                            _mm_and_si128(_mm_sub_epi32(newest, _mm_set1_epi32(1)), mask));
        }

        // Linearly interpolated reads of frames j and k: `frac` of the older sample and the rest
        // of the newer.
        StereoPair taps(const double* line, int32_t j, int32_t k) const {
            const StereoPair f = {frac[j], frac[k]};
            const StereoPair o = {line[older[j]], line[older[k]]};
            const StereoPair n = {line[newer[j]], line[newer[k]]};
            return f * o + (1.0 - f) * n;
        }
    };
    Channel left, right;
};

// A line's delay sin(a + x) * depth + base for offsets x from an anchor angle a, as a Taylor
// polynomial in x around a, for two frames at once. Offsets stay below kPhaseGroup / fs (under
// 0.13 for any usable rate, 0.003 at 44.1 kHz), where the first omitted term, depth x^6 / 720,
// is below 4e-10 of the base delay (below 1e-19 of it from 44.1 kHz up).
struct DelayPolynomial {
    StereoPair c[6];

    DelayPolynomial(double angle, double depth, double base) {
        const double s = std::sin(angle) * depth;
        const double co = std::cos(angle) * depth;
        const double terms[6] = {s + base, co, -s * (1.0 / 2.0), -co * (1.0 / 6.0), s * (1.0 / 24.0), co * (1.0 / 120.0)};
        for (int k = 0; k < 6; ++k)
            c[k] = StereoPair{terms[k], terms[k]};
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
    std::memset(lineLeft_.get(), 0, sizeof(double) * static_cast<size_t>(lineSize_));
    std::memset(lineRight_.get(), 0, sizeof(double) * static_cast<size_t>(lineSize_));
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
    const double baseLeft = baseLeftFrames_;
    const double baseRight = baseRightFrames_;
    const double invFs = 1.0 / fsDouble;
    double* lineL = lineLeft_.get();
    double* lineR = lineRight_.get();
    const auto mask = static_cast<uint32_t>(mask_);
    const __m128 fsQuad = _mm_set1_ps(fs);
    const __m128i masks = _mm_set1_epi32(static_cast<int32_t>(mask));

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
        const DelayPolynomial delayLeft(angleL, depth, baseLeft);
        const DelayPolynomial delayRight(static_cast<double>(anchorF) / fsDouble + kRightPhaseOffset, depth, baseRight);
        const double anchorD = anchorF;

        // The group's delays first, four frames at a time, then the reads: a frame's chain from
        // its position to its line reads is long, and worked out apart, the delays of many
        // frames are in flight at once. Up to three positions beyond the block's end are worked
        // out and not used.
        static_assert(kPhaseGroup % 4 == 0);
        GroupReads reads;
        const int32_t quads = (count + 3) / 4;
        const auto start = static_cast<uint32_t>(first);
        // Positions as floats: below 2^31 the 32-bit conversion rounds as the 64-bit one does.
        const bool small = anchor + kPhaseGroup <= uint64_t{1} << 31;
        alignas(16) float positions[kPhaseGroup];
        if (!small) {
            for (int32_t j = 0; j < 4 * quads; ++j)
                positions[j] = static_cast<float>(static_cast<int64_t>(first + static_cast<uint64_t>(j)));
        }
        for (int32_t j = 0; j < 4 * quads; j += 4) {
            // Left: sin of the single-precision quotient n / fs; its offset from the anchor's
            // angle is the exact difference of two floats. Right: the single-precision position
            // in double precision, less the anchor's, over fs.
            const __m128i at = _mm_add_epi32(_mm_set1_epi32(static_cast<int32_t>(start + static_cast<uint32_t>(j))),
                                             _mm_set_epi32(3, 2, 1, 0));
            const __m128 n = small ? _mm_cvtepi32_ps(at) : _mm_load_ps(positions + j);
            const __m128 q = _mm_div_ps(n, fsQuad);
            const __m128 q23 = _mm_movehl_ps(q, q), n23 = _mm_movehl_ps(n, n);
            reads.left.plan(j, at, delayLeft(_mm_cvtps_pd(q) - angleL), delayLeft(_mm_cvtps_pd(q23) - angleL), masks);
            reads.right.plan(j, at, delayRight((_mm_cvtps_pd(n) - anchorD) * invFs),
                             delayRight((_mm_cvtps_pd(n23) - anchorD) * invFs), masks);
        }

        // Then two frames at a time, each channel in one register (the lanes are frames j and
        // j + 1): every sample meets the same operations as it would alone. A frame's reads lie
        // tens of milliseconds behind, so the second frame reads nothing the first writes. In
        // mono the one channel feeds both lines (and there may be no right buffer at all).
        const auto run = [&](auto monoTag) {
            constexpr bool kMono = decltype(monoTag)::value;
            double* l = left + i;
            double* r = kMono ? l : right + i;
            const auto frame = [&](int32_t j, StereoPair inL, StereoPair inR, uint32_t n, int32_t lanes) {
                const StereoPair tapL = reads.left.taps(lineL, j, j + lanes - 1);
                const StereoPair tapR = reads.right.taps(lineR, j, j + lanes - 1);
                lineL[n & mask] = inL[0];
                lineR[n & mask] = inR[0];
                if (lanes == 2) {
                    lineL[(n + 1) & mask] = inL[1];
                    lineR[(n + 1) & mask] = inR[1];
                }
                const StereoPair doubledL = inL + presence * tapL;
                const StereoPair doubledR = inR + presence * tapR;
                return std::pair{own * doubledL + other * doubledR, own * doubledR + other * doubledL};
            };
            int32_t j = 0;
            for (; j + 2 <= count; j += 2) {
                const StereoPair inL = _mm_loadu_pd(l + j);
                const StereoPair inR = kMono ? inL : _mm_loadu_pd(r + j);
                const auto [outL, outR] = frame(j, inL, inR, start + static_cast<uint32_t>(j), 2);
                _mm_storeu_pd(l + j, outL);
                if constexpr (!kMono)
                    _mm_storeu_pd(r + j, outR);
            }
            if (j < count) {
                const StereoPair inL = {l[j], l[j]};
                const StereoPair inR = kMono ? inL : StereoPair{r[j], r[j]};
                const auto [outL, outR] = frame(j, inL, inR, start + static_cast<uint32_t>(j), 1);
                l[j] = outL[0];
                if constexpr (!kMono)
                    r[j] = outR[0];
            }
        };
        mono ? run(std::true_type{}) : run(std::false_type{});
        i += count;
    }
}

} // namespace pellucer
