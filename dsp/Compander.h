#pragma once

#include <atomic>
#include <cstdint>

#include "dsp/DspModule.h"
#include "dsp/PeakHold.h"

namespace pellucer {

/// Downward compressor and downward expander driven by one stereo-linked peak detector
/// (module 1 of the chain), with automatic make-up gain.
///
/// Both gain curves are computed on the natural log of the detector envelope. Each has a
/// quadratic knee 6 dB wide centred on its threshold (edges at threshold * K and threshold / K,
/// K = 10^(-0.15)), meeting the straight part with equal value and slope. Above the compressor's
/// lower knee edge the compressor alone acts; below it the expander alone.
///
/// Detector: instant rise, a 441-sample hold of the peak, then a fall by 0.001 of the distance
/// per sample (both counted in samples, not seconds). The gains are smoothed with the user's
/// attack when they move toward more reduction and with a program-dependent release otherwise:
/// the release runs at its 40 ms speed right after a sudden deep reduction and returns to its
/// 400 ms speed as the recent maximum of the compressor gain decays onto the gain itself, so
/// short peaks recover fast and sustained reduction recovers slowly.
///
/// Threads: the setters may be called from any thread while `process` runs; `process` reads the
/// settings once per block. `setSampleRate`, `reset` and `process` belong to the audio thread
/// (or to a moment when no block runs). The meter getters, `transferCurve` and
/// `detectorLevels` may be called from any thread.
class Compander : public DspModule {
public:

    /// Samples the detector holds a peak before it falls.
    static constexpr int32_t kHoldSamples = PeakHold::kHoldSamples;
    /// Per-sample fraction of the distance the detector falls after the hold.
    static constexpr double kDetectorFall = 0.001;
    /// Total gain floor: -120 dB.
    static constexpr double kMinGain = 1e-6;
    /// Attack times of this many ms or less mean an instant attack.
    static constexpr double kInstantAttackMs = 0.1;

    Compander();

    /// Stores the rate, recomputes the time factors and restarts detector and smoothing.
    void setSampleRate(float sampleRate) override;
    /// Leaves the detector and the gains as they are: a re-enabled compander carries on from the
    /// gain it had and releases from there.
    void reset() override;
    void process(double* left, double* right, uint64_t position, int32_t frames, bool mono) override;

    /// Compressor threshold in dBFS (clamped to -200..+60; NaN is ignored). Updates the make-up.
    void setCompressorThreshold(double thresholdDb);
    /// Compressor ratio R >= 1 (clamped to 1..1e6; NaN is ignored). Updates the make-up.
    void setCompressorRatio(double ratio);
    /// Expander threshold in dBFS (clamped to -200..+60; NaN is ignored).
    void setExpanderThreshold(double thresholdDb);
    /// Expander ratio Re >= 1: below the knee the gain falls by Re - 1 dB per dB (clamped to
    /// 1..1e6; NaN is ignored).
    void setExpanderRatio(double ratio);
    /// Attack time in ms; 0.1 ms or less (0.1 rounded to single precision included) becomes 0
    /// (instant). Negative values mean 0; NaN and infinity are ignored.
    void setAttack(double attackMs);

    /// Current settings, for the engine's parameter read-back; any thread.
    double compressorThresholdDb() const;
    double compressorRatio() const;
    double expanderThresholdDb() const;
    double expanderRatio() const;
    double attackMs() const { return attackMs_.load(std::memory_order_relaxed); }
    /// Linear make-up gain M = max(1, 0.5 / G0), G0 the compressor's gain at 0 dBFS.
    double makeUpGain() const { return makeUp_.load(std::memory_order_relaxed); }

    /// Smoothed compressor and expander gains and the attack-overshoot indicator (1..4), as of
    /// the end of the last block, for the meters; any thread.
    double compressorGain() const { return publishedCompressorGain_.load(std::memory_order_relaxed); }
    double expanderGain() const { return publishedExpanderGain_.load(std::memory_order_relaxed); }
    double overshoot() const { return publishedOvershoot_.load(std::memory_order_relaxed); }

    /// Static input/output curve in dB for the editor's graph: `count` pairs (x, y) written to
    /// points[0..2*count-1], x from -90 to 0 dB in equal steps, y including the make-up gain.
    /// False (nothing written) for a null array or a negative count.
    bool transferCurve(double* points, int32_t count) const;

    /// out[0]: detector envelope, out[1]: estimated output level, both in dB after rounding to
    /// single precision (never below -600 dB); any thread.
    void detectorLevels(double out[2]) const;

private:
    // One gain curve in the ln domain as process reads it.
    struct GainCurve {
        double lnThreshold;
        double lowerEdge; // ln(threshold * K)
        double upperEdge; // ln(threshold / K)
        double kneeScale; // 0.5 / (knee start - knee end) along the curve's direction
        double slope;     // compressor 1/R - 1 (<= 0), expander Re - 1 (>= 0)
    };

    // The same, shared between the setters and the audio thread.
    struct SharedCurve {
        std::atomic<double> lnThreshold{0.0};
        std::atomic<double> lowerEdge{0.0};
        std::atomic<double> upperEdge{0.0};
        std::atomic<double> kneeScale{0.0};
        std::atomic<double> slope{0.0};
        GainCurve load() const;
        void storeThreshold(double lnThreshold, double lowerEdge, double upperEdge, double kneeScale);
    };

    // ln of the compressor gain (lnGc) and of the expander gain (lnGe) for ln(envelope) = level.
    static void gainExponents(const GainCurve& compressor, const GainCurve& expander, double level,
                              double& lnGc, double& lnGe);

    template <bool Mono> void run(double* left, double* right, int32_t frames);

    void updateMakeUp();
    void updateTimeFactors();
    void restart();

    // Settings (any thread writes, process reads once per block).
    SharedCurve compressor_;
    SharedCurve expander_;
    std::atomic<double> threshold_{1.0};         // linear T
    std::atomic<double> expanderThreshold_{1.0}; // linear Te
    std::atomic<double> ratio_{1.0};
    std::atomic<double> inverseExpanderRatio_{1.0};
    std::atomic<double> makeUp_{1.0};
    std::atomic<double> attackMs_{0.0};
    std::atomic<double> attackFactor_{0.0};

    // Release and indicator factors (set with the sample rate).
    double fastRelease_ = 0.0;     // f40
    double slowRelease_ = 0.0;     // f400
    double recentMaxFactor_ = 0.0; // fall of the recent-maximum follower P
    double overshootFactor_ = 0.0; // f600

    // Detector and smoothing state (audio thread).
    PeakHold hold_;
    double envelope_ = 0.0;
    double compressorGain_ = 1.0; // gcs
    double expanderGain_ = 1.0;   // ges
    double release_ = 0.0;        // r, the program-dependent release factor
    double recentMax_ = 0.0;      // P
    double overshoot_ = 1.0;      // O

    // Published for the editor.
    std::atomic<double> publishedCompressorGain_{1.0};
    std::atomic<double> publishedExpanderGain_{1.0};
    std::atomic<double> publishedOvershoot_{1.0};
    std::atomic<double> publishedEnvelope_{0.0};
    std::atomic<double> publishedOutputLevel_{0.0};
};

} // namespace pellucer
