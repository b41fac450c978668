#include "dsp/DeEsser.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include <emmintrin.h>

#include "dsp/StereoPair.h"


namespace pellucer {

namespace {

// Window length relative to the sinc's period R = fs / (2 f): two periods.
constexpr float kLengthFactor = 2.0f;
constexpr float kKaiserBeta = 10.0f;
// Below this split (relative to the Nyquist frequency) the design is refused.
constexpr float kLowestNormalisedSplit = 0.0001f;

// The longest pair at 44.1 and 48 kHz, and at any rate the pair for the lowest split the
// DeEsser Freq parameter reaches, bound the tap count (see maxSplitFilterTaps).
constexpr int32_t kNominalMaxTaps = 25;
constexpr double kLowestParameterSplitHz = 2000.0;
// At low rates the split is designed at no more than this fraction of the Nyquist frequency,
// so that a split set above it (9 kHz at 16 kHz, say) still leaves a sibilance band to work on
// rather than failing the design and silencing the stage. The setting itself is kept.
constexpr double kHighestSplitOfNyquist = 0.9;

float roundedRate(float sampleRate) {
    return static_cast<float>(std::floor(static_cast<double>(sampleRate) + 0.5));
}

// Taps of the full design for a sinc period of r frames: ceil(factor * r) made odd upwards.
int32_t fullDesignTaps(float r) {
    const int32_t n = static_cast<int32_t>(std::ceil(kLengthFactor * r));
    return n + n % 2 + 1;
}

// Exponent of the window's x^p warp, which widens the Kaiser window's shoulders a little for
// short windows: p = ((factor - 0.7) / 3.3)^0.08, about 0.928 for the factor 2.
float windowWarp() { return std::pow((kLengthFactor - 0.7f) / 3.3f, 0.08f); }

// The first 16-byte boundary at or after p (p is at least 8-byte aligned).
double* pairAligned(double* p) {
    return reinterpret_cast<double*>((reinterpret_cast<uintptr_t>(p) + 15) & ~uintptr_t{15});
}

StereoPair loadPair(const double* p) { return _mm_load_pd(p); }
void storePair(double* p, StereoPair v) { _mm_store_pd(p, v); }

} // namespace

float besselI0(float x) {
    const float ax = std::fabs(x);
    if (ax < 3.75f) {
        float y = x / 3.75f;
        y *= y;
        return 1.0f + y * (3.5156229f +
                           y * (3.0899424f +
                                y * (1.2067492f + y * (0.2659732f + y * (0.0360768f + y * 0.0045813f)))));
    }
    const float y = 3.75f / ax;
    const float poly =
        0.39894228f +
        y * (0.01328592f +
             y * (0.00225319f +
                  y * (-0.00157565f +
                       y * (0.00916281f +
                            y * (-0.02057706f + y * (0.02635537f + y * (-0.01647633f + y * 0.00392377f)))))));
    return std::exp(ax) / std::sqrt(ax) * poly;
}

int32_t maxSplitFilterTaps(float sampleRate) {
    if (!(sampleRate >= 1.0f && sampleRate <= 1.0e9f))
        return 1;
    // The engine's pad: L = round(1 ms) frames; the stage latency must never exceed it.
    const int32_t padFrames = static_cast<int32_t>(static_cast<double>(sampleRate) * 0.001 + 0.5);
    const float fs = roundedRate(sampleRate);
    const float r = 1.0f / (static_cast<float>(kLowestParameterSplitHz) / (0.5f * fs));
    int32_t half = std::max((kNominalMaxTaps - 1) / 2, (fullDesignTaps(r) - 1) / 2);
    half = std::min(half, (SplitFilter::kCapacity - 1) / 2);
    half = std::min(half, padFrames);
    return 2 * half + 1;
}

bool designSplitFilter(double splitHz, float sampleRate, SplitFilter& filter) {
    std::fill(filter.low, filter.low + SplitFilter::kCapacity, 0.0);
    std::fill(filter.high, filter.high + SplitFilter::kCapacity, 0.0);
    filter.valid = false;

    // The design runs in single precision, at the rate rounded to whole hertz.
    const float fs = roundedRate(sampleRate);
    const float fn = static_cast<float>(splitHz) / (0.5f * fs);
    if (!(fn >= kLowestNormalisedSplit && fn <= 1.0f))
        return false;
    const float r = 1.0f / fn; // sinc period in frames

    int32_t taps = fullDesignTaps(r);
    float length = kLengthFactor * r; // window length in frames
    const int32_t maxTaps = maxSplitFilterTaps(sampleRate);
    if (taps > maxTaps) {
        // Too long for this rate (a split below 2 kHz, or a rate above about 196 kHz): keep the
        // sinc (and so the split frequency) but shorten the window to span the allowed taps,
        // with its length two frames short of them as in the full design. The filter gets a
        // wider transition band; the pair stays complementary around its centre.
        taps = maxTaps;
        length = static_cast<float>(maxTaps - 2);
    }

    const int32_t centre = (taps - 1) / 2;
    const float reach = 0.5f * length + 1.0f; // where the window reaches zero
    const float i0Beta = besselI0(kKaiserBeta);
    const float warp = windowWarp();
    float h[SplitFilter::kCapacity] = {};
    h[centre] = 1.0f;
    float sideSum = 0.0f;
    for (int32_t k = 1; k <= centre; ++k) {
        const float x = std::pow(static_cast<float>(k) / reach, warp);
        const float window = x < 1.0f ? besselI0(kKaiserBeta * std::sqrt(1.0f - x * x)) / i0Beta : 0.0f;
        const float arg = static_cast<float>(k) * static_cast<float>(kPi) / r;
        const float tap = std::sin(arg) / arg * window;
        h[centre + k] = tap;
        h[centre - k] = tap;
        sideSum += tap;
    }
    const float scale = 1.0f / (1.0f + 2.0f * sideSum);
    for (int32_t i = 0; i < taps; ++i) {
        const float lowTap = h[i] * scale;
        filter.low[i] = lowTap;
        filter.high[i] = -static_cast<double>(lowTap);
    }
    filter.high[centre] = 1.0 - filter.low[centre];
    filter.taps = taps;
    filter.valid = true;
    return true;
}

DeEsser::DeEsser() {
    DspModule::setSampleRate(44100.0f);
    lowDisplay_.setSampleRate(sampleRate_);
    highDisplay_.setSampleRate(sampleRate_);
    const double hz = splitHz_.load(std::memory_order_relaxed);
    lowDisplay_.addBand(BiquadType::LowPass, hz, 0.0, displayQ(hz));
    highDisplay_.addBand(BiquadType::HighPass, hz, 0.0, displayQ(hz));
    initialise();
}

void DeEsser::setSampleRate(float sampleRate) {
    DspModule::setSampleRate(sampleRate);
    lowDisplay_.setSampleRate(sampleRate);
    highDisplay_.setSampleRate(sampleRate);
    initialise();
}

void DeEsser::initialise() {
    designFor(splitHz_.load(std::memory_order_relaxed));
    if (sampleRate_ > 0.0f && std::isfinite(sampleRate_)) {
        k5_ = decayComplement(kRiseMs);
        k100_ = decayComplement(kFallMs);
    } else {
        // The design has failed (the stage is silent); keep the detectors stable all the same.
        k5_ = smoothingCoefficient(kRiseMs / 1000.0, 44100.0);
        k100_ = smoothingCoefficient(kFallMs / 1000.0, 44100.0);
    }
    reset();
}

void DeEsser::reset() {
    std::fill(std::begin(history_), std::end(history_), 0.0);
    low_ = Detector{};
    high_ = Detector{};
    g_ = 1.0;
    gain_.store(1.0, std::memory_order_relaxed);
}

void DeEsser::designFor(double hz) {
    // A failed design (only a rate below what hosts run could cause one now) clears the pair but
    // keeps the tap count (and so the latency).
    const double highest = kHighestSplitOfNyquist * 0.5 * static_cast<double>(sampleRate_);
    designSplitFilter(highest > 0.0 ? std::min(hz, highest) : hz, sampleRate_, filter_);
    const int32_t centre = (filter_.taps - 1) / 2;
    for (int32_t k = 0; k <= centre; ++k)
        storePair(pairAligned(centreTaps_) + 2 * k, StereoPair{filter_.low[centre + k], filter_.low[centre + k]});
    designedHz_ = hz;
    designed_ = true;
    taps_.store(filter_.taps, std::memory_order_relaxed);
}

void DeEsser::setSplitFrequency(double hz) {
    if (std::isnan(hz))
        return;
    splitHz_.store(hz, std::memory_order_relaxed);
    lowDisplay_.setBand(0, hz, 0.0, displayQ(hz));
    highDisplay_.setBand(0, hz, 0.0, displayQ(hz));
}

bool DeEsser::curve(DeEsserCurve which, double* points, int32_t count) const {
    if (points == nullptr)
        return false;
    if (which == DeEsserCurve::LowBand)
        return lowDisplay_.magnitudeResponse(points, count, kCurveLowHz, kCurveHighHz);
    if (which == DeEsserCurve::HighBand)
        return highDisplay_.magnitudeResponse(points, count, kCurveLowHz, kCurveHighHz);
    return false;
}

void DeEsser::setDepth(double depth) {
    if (!std::isnan(depth))
        depth_.store(std::clamp(depth, 0.0, 1.0), std::memory_order_relaxed);
}

int32_t DeEsser::stageLatency() const {
    if (enabled.load(std::memory_order_relaxed) || fade > 0.0)
        return (taps() - 1) / 2;
    return 0;
}

void DeEsser::process(double* left, double* right, uint64_t, int32_t frames, bool mono) {
    const double hz = splitHz_.load(std::memory_order_relaxed);
    if (!designed_ || hz != designedHz_)
        designFor(hz);
    (this->*runFor((filter_.taps - 1) / 2, mono))(left, right, frames);
    gain_.store(g_, std::memory_order_relaxed);
}

DeEsser::RunFunction DeEsser::runFor(int32_t centre, bool mono) {
    static constexpr auto table = []<int32_t... C>(std::integer_sequence<int32_t, C...>) {
        struct Both {
            RunFunction stereo[sizeof...(C)] = {&DeEsser::run<C, false>...};
            RunFunction mono[sizeof...(C)] = {&DeEsser::run<C, true>...};
        };
        return Both{};
    }(std::make_integer_sequence<int32_t, kMaxFixedCentre + 1>{});
    const int32_t index = centre <= kMaxFixedCentre ? centre : 0;
    return mono ? table.mono[index] : table.stereo[index];
}

template <int32_t Centre, bool Mono> void DeEsser::run(double* left, double* right, int32_t frames) {
    const double depth = depth_.load(std::memory_order_relaxed);
    const bool listening = listen_.load(std::memory_order_relaxed);
    const int32_t centre = Centre > 0 ? Centre : (filter_.taps - 1) / 2;
    // Both channels of a frame are one pair through the split: lane by lane the same operations
    // as one channel at a time, so the same bits. h[k] is the low-pass tap k frames from the
    // centre (the pair is symmetric). The high band is the centre sample minus the low band,
    // which is what delta - low computes; after a failed design both bands are zero. In mono the
    // right lane carries silence and is never written back.
    StereoPair h[kMaxFixedCentre + 1];
    const double* taps = pairAligned(centreTaps_);
    for (int32_t k = 0; k <= std::min(centre, kMaxFixedCentre); ++k)
        h[k] = loadPair(taps + 2 * k);
    const double unitCentre = filter_.valid ? 1.0 : 0.0;
    const double k5 = k5_;
    const double k100 = k100_;

    Detector low = low_;
    Detector high = high_;
    double g = g_;
    double* const history = pairAligned(history_);

    for (int32_t done = 0; done < frames; done += kChunk) {
        const int32_t n = std::min(frames - done, kChunk);
        double* chunkLeft = left + done;
        double* chunkRight = Mono ? nullptr : right + done;
        double* const fresh = history + 2 * kKeep;
        for (int32_t i = 0; i < n; ++i) {
            storePair(fresh + 2 * i, StereoPair{chunkLeft[i], Mono ? 0.0 : chunkRight[i]});
            const double* x = fresh + 2 * (i - centre); // the centre frame; x + 2 k is k frames later
            const StereoPair xc = loadPair(x);
            StereoPair a;
            if constexpr (Centre > 0) {
                a = h[0] * xc;
#pragma GCC unroll 16
                for (int32_t k = 1; k <= Centre; ++k)
                    a += h[k] * (loadPair(x + 2 * k) + loadPair(x - 2 * k));
            } else {
                a = loadPair(taps) * xc;
                for (int32_t k = 1; k <= centre; ++k)
                    a += loadPair(taps + 2 * k) * (loadPair(x + 2 * k) + loadPair(x - 2 * k));
            }
            const StereoPair b = unitCentre * xc - a;

            // The detectors hear both channels: |aL + aR| and |bL + bR| (in mono |aL| and |bL|,
            // the right lanes being zero).
            low.track(std::fabs(a[0] + a[1]), k5, k100, kLowBandFloor);
            high.track(std::fabs(b[0] + b[1]), k5, k100, kHighBandFloor);
            const double q = kThresholdRatio * low.envelope / high.envelope;
            const double ratio = _mm_cvtsd_f64(_mm_min_sd(_mm_set_sd(q * q), _mm_set_sd(1.0))); // q^2 < 1 ? q^2 : 1
            const double target = 1.0 - (1.0 - ratio) * depth;
            g += (target - g) * k5;

            const StereoPair out = listening ? (1.0 - g) * b : a + g * b;
            chunkLeft[i] = out[0];
            if constexpr (!Mono)
                chunkRight[i] = out[1];
        }
        std::copy(history + 2 * n, history + 2 * (n + kKeep), history);
    }

    low_ = low;
    high_ = high;
    g_ = g;
}

} // namespace pellucer
