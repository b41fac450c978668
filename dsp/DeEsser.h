#pragma once

#include <atomic>
#include <cstdint>

#include "dsp/BiquadBank.h"
#include "dsp/DspModule.h"
#include "dsp/PeakHold.h"

namespace pellucer {

/// I0, the zeroth-order modified Bessel function of the first kind, from the classic
/// polynomial fits split at |x| = 3.75, evaluated in single precision (within 3e-7 relative
/// over 0..10, the Kaiser window's range).
float besselI0(float x);

/// A complementary linear-phase FIR pair: `low` is a Kaiser-windowed sinc low-pass whose taps
/// sum to 1, `high` = delta - `low` around the same centre, so low + high is a pure delay of
/// (taps - 1) / 2 frames.
struct SplitFilter {
    /// Room for the longest pair at 192 kHz with the lowest split frequency (97 taps).
    static constexpr int32_t kCapacity = 100;
    int32_t taps = 1;   ///< odd; the pair delays by (taps - 1) / 2 frames
    bool valid = false; ///< false after a failed design: both arrays are zero
    double low[kCapacity] = {};
    double high[kCapacity] = {};
};

/// Designs the split pair for `splitHz` at `sampleRate` (rounded to whole hertz). When the split
/// frequency is above the Nyquist frequency, below 0.0001 of it, or not a number, the design
/// fails: both arrays are cleared, `taps` keeps its value and false is returned.
bool designSplitFilter(double splitHz, float sampleRate, SplitFilter& filter);

/// Most taps the split pair may have at `sampleRate` (odd).
///
/// At 44.1 and 48 kHz this is 25: the pair a 2 kHz split needs (2 kHz is the lowest the
/// DeEsser Freq parameter reaches). At higher rates the limit grows with the rate so that a
/// split in the parameter's range always gets its full-length filter: the same transition
/// band in hertz and the same latency in milliseconds (about 1 / (4 * 2 kHz) = 0.25 ms at the
/// longest) at every rate. Two bounds keep it finite: the coefficient capacity (99 taps, which
/// suffices up to about 196 kHz), and the engine's latency pad of L = round(1 ms) frames,
/// which must absorb the stage latency ((taps - 1) / 2 <= L). Splits that need more taps than
/// this get a shortened window (see designSplitFilter).
int32_t maxSplitFilterTaps(float sampleRate);

/// The two curves the editor draws for the de-esser: the response of the low (kept) band and of
/// the high (sibilance) band around the split frequency.
enum class DeEsserCurve : int32_t { LowBand = 0, HighBand = 1 };

/// De-esser on a linear-phase band split (module 0 of the chain).
///
/// The signal is split at the split frequency into a low band and a high (sibilance) band by a
/// complementary FIR pair. Two peak-hold envelope followers measure both bands on the summed
/// channels; when the high band's envelope rises above 0.4 times the low band's, the high band
/// is turned down by the squared ratio, scaled by the depth. Listen mode outputs what is being
/// removed. The FIR pair delays the signal by (taps - 1) / 2 frames, which the engine's latency
/// pad takes into account through `stageLatency`.
///
/// Threads: setters and getters may be called from any thread. A new split frequency is stored
/// at once (as are the display curves); the FIR pair for it is designed at the start of the
/// next processed block, on the audio thread, because an array of coefficients cannot be handed
/// over between threads without a lock. `setSampleRate` and `initialise` only while no block is
/// being processed.
class DeEsser : public DspModule {
public:
    static constexpr double kInitialSplitHz = 8000.0;
    /// Reduction starts when the high band's envelope exceeds this fraction of the low band's.
    static constexpr double kThresholdRatio = 0.4;
    /// Envelope floors keep the ratio finite in silence (and make it 1: no reduction).
    static constexpr double kLowBandFloor = 0.0001;
    static constexpr double kHighBandFloor = 0.00004;
    /// Samples a detector holds its peak before following a falling input.
    static constexpr int32_t kHoldSamples = PeakHold::kHoldSamples;
    static constexpr double kRiseMs = 5.0;
    static constexpr double kFallMs = 100.0;
    /// The editor's de-esser graph: 50 points from 500 Hz to 20 kHz.
    static constexpr int32_t kCurvePoints = 50;
    static constexpr double kCurveLowHz = 500.0;
    static constexpr double kCurveHighHz = 20000.0;

    DeEsser();

    void setSampleRate(float sampleRate) override;
    /// Clears the histories, both detectors and the gain: the stage starts as new.
    void reset() override;
    void process(double* left, double* right, uint64_t position, int32_t frames, bool mono) override;

    /// Designs the FIR pair for the current split frequency and rate, clears all signal memory
    /// and recomputes the detector factors. Not while a block is being processed.
    void initialise();

    /// Split frequency in Hz; NaN is ignored. Any thread (one caller at a time): the display
    /// curves change at once, the FIR pair at the next block.
    void setSplitFrequency(double hz);
    double splitFrequency() const { return splitHz_.load(std::memory_order_relaxed); }

    /// Depth of the reduction 0..1 (clamped; NaN ignored); any thread.
    void setDepth(double depth);
    double depth() const { return depth_.load(std::memory_order_relaxed); }
    /// Listen mode: output the removed part of the high band; any thread.
    void setListen(bool on) { listen_.store(on, std::memory_order_relaxed); }
    bool listen() const { return listen_.load(std::memory_order_relaxed); }

    /// Frames of delay the stage adds while it is enabled or still fading out; 0 when fully
    /// off. Read by the engine's latency pad on the audio thread after the chain has run.
    int32_t stageLatency() const;

    /// Smoothed high-band gain as of the end of the last block, for the meter; any thread.
    double gain() const { return gain_.load(std::memory_order_relaxed); }

    /// Tap count of the FIR pair in use (the one designed for the last processed block or by
    /// `initialise`); any thread.
    int32_t taps() const { return taps_.load(std::memory_order_relaxed); }
    /// The FIR pair in use. Audio thread, or while no block is being processed.
    const SplitFilter& splitFilter() const { return filter_; }

    /// Fills `count` (frequency Hz, level dB) pairs, points[2k] and points[2k + 1], spaced
    /// logarithmically from 500 Hz to 20 kHz, with the display response of one band: a
    /// second-order low-pass (LowBand) or high-pass (HighBand) at the split frequency, with
    /// Q = 1.6 at 2 kHz rising to 2.1 at 12 kHz. False (nothing written) for a null array,
    /// an unknown curve or a count below 1. Any thread (editor).
    bool curve(DeEsserCurve which, double* points, int32_t count = kCurvePoints) const;
    /// Q of the display curves for a split frequency: (f - 2000) / 10000 * 0.5 + 1.6.
    static double displayQ(double splitHz) { return (splitHz - 2000.0) / 10000.0 * 0.5 + 1.6; }

private:
    // Audio thread: one block with a fixed half-length (0 for any other) and mono or stereo.
    template <int32_t Centre, bool Mono> void run(double* left, double* right, int32_t frames);
    using RunFunction = void (DeEsser::*)(double*, double*, int32_t);
    static RunFunction runFor(int32_t centre, bool mono);

    void designFor(double hz);

    // The history holds left and right side by side, one frame per pair of doubles, in time
    // order: the kKeep frames before the current chunk of up to kChunk frames, then the chunk.
    // After each chunk its last kKeep frames move to the front.
    static constexpr int32_t kKeep = SplitFilter::kCapacity - 1;
    static constexpr int32_t kChunk = 256;
    // Fixed half-lengths get their own unrolled loop: up to 16 covers every split at 44.1 to
    // 96 kHz; longer filters (higher rates) take the general one.
    static constexpr int32_t kMaxFixedCentre = 16;

    std::atomic<double> splitHz_{kInitialSplitHz};
    std::atomic<double> depth_{0.0};
    std::atomic<bool> listen_{false};

    // Audio thread: the pair in use and the split frequency it was designed for.
    SplitFilter filter_;
    double designedHz_ = 0.0;
    bool designed_ = false;
    std::atomic<int32_t> taps_{1};

    // The low-pass taps from the centre outward, each twice (for both channels of a frame), and
    // the history, left and right side by side. Both are read as pairs from their first 16-byte
    // boundary (one spare double): the class itself needs no more than a double's alignment,
    // which every allocator gives.
    double centreTaps_[2 * (SplitFilter::kCapacity / 2 + 1) + 1] = {};
    double history_[2 * (kKeep + kChunk) + 1] = {};

    // Peak hold followed by an envelope that rises with the fast and falls with the slow factor.
    struct Detector {
        double envelope = 0.0;
        PeakHold hold;

        void track(double v, double rise, double fall, double floor) {
            const double d = hold.track(v) - envelope;
            const double up = envelope + rise * d;
            const double down = envelope + fall * d;
            // The larger of the two; with rise above fall that is `up` exactly when d > 0
            // (rounded products and sums keep their order), so d alone decides.
            envelope = d > 0.0 ? up : down;
            if (envelope < floor)
                envelope = floor;
        }
    };
    Detector low_;
    Detector high_;
    double g_ = 1.0;
    double k5_ = 0.0;
    double k100_ = 0.0;
    std::atomic<double> gain_{1.0};

    // Display only: one band each, never used for audio.
    BiquadBank lowDisplay_;
    BiquadBank highDisplay_;
};

} // namespace pellucer
