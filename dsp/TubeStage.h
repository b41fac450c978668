#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <emmintrin.h>

#include "dsp/DspModule.h"
#include "dsp/PeakHold.h"
#include "dsp/StereoPair.h"

namespace pellucer {

/// A smooth, memoryless tube-style saturator with smoothed input gain, drive and output gain,
/// and a distortion envelope that feeds the tube meters.
///
/// The curve F(u) = g0 * (1 - sqrt(k^2 (1-u)^2 + 1) / S) rises with slope 1 at zero and flattens
/// to F(1) ~ 0.561 for |drive * input| >= 1. The output is divided by the drive, so raising the
/// drive leaves small signals at unity and only moves the point where saturation sets in.
///
/// Three instances run in the strip: the input tube (first, outside the reorderable chain), the
/// output tube (always last in the chain) and the equaliser's tube, which is fed one frame at a
/// time through a `FrameShaper` and modulates its output with its own envelope.
class TubeStage : public DspModule {
    // The smoothed settings as the per-sample arithmetic uses them: computed once per smoothing
    // step, so the sample loop multiplies where the formulas divide by the drive.
    struct Gains {
        double inputDrive;   ///< input gain * drive
        double plain;        ///< input gain * output gain (shaping off)
        double outputScale;  ///< output gain * scale / drive
    };
    // The setting targets as read once per block.
    struct Targets {
        double inputGain, drive, outputGain;
    };

public:
    /// Samples the distortion envelope holds its peak before it decays.
    static constexpr int32_t kHoldSamples = PeakHold::kHoldSamples;
    /// Per-sample fraction of the distance the envelope falls after the hold.
    static constexpr double kReleaseCoefficient = 0.001;
    /// Depth of the envelope's output modulation in the equaliser's tube.
    static constexpr double kEnvelopeModulationDepth = 0.707;
    /// Settings move toward their targets on every eighth sample of a block.
    static constexpr int32_t kSmoothingStride = 8;
    /// Longest block whose two channels are shaped side by side (longer ones run one channel
    /// after the other).
    static constexpr int32_t kPairedFrames = 2048;

    TubeStage();

    void setSampleRate(float sampleRate) override;
    void reset() override;
    void process(double* left, double* right, uint64_t position, int32_t frames, bool mono) override;

    /// Sets all gains to 1.0, clears the envelope and computes the curve constants. Not thread
    /// safe against `process`: call at construction or engine initialisation.
    void initialise();

    /// Linear setting targets; any thread.
    void setInputGain(double gain) { inputGain_.store(gain, std::memory_order_relaxed); }
    void setDrive(double drive) { drive_.store(drive, std::memory_order_relaxed); }
    void setOutputGain(double gain) { outputGain_.store(gain, std::memory_order_relaxed); }
    double inputGain() const { return inputGain_.load(std::memory_order_relaxed); }
    double drive() const { return drive_.load(std::memory_order_relaxed); }
    double outputGain() const { return outputGain_.load(std::memory_order_relaxed); }

    /// true turns the stage into a plain gain (the tube's enable switch off); any thread.
    void setShapingOff(bool off) { shapingOff_.store(off, std::memory_order_relaxed); }
    bool shapingOff() const { return shapingOff_.load(std::memory_order_relaxed); }

    /// Output modulation by the envelope (the equaliser's tube only). Switching it on clears the
    /// envelope. Audio thread or before processing starts.
    void setEnvelopeModulation(bool on);

    /// Distortion envelope as of the end of the last processed block; any thread (meters).
    double envelope() const { return publishedEnvelope_.load(std::memory_order_relaxed); }

    /// The static curve on |y| <= 1 in the sign of y, without gains (for tests and displays).
    template <typename T> T curve(T y) const { return curve_(y); }

private:
    // F(y) and its constants. T is double, or StereoPair for two samples side by side (the same
    // bits lane by lane).
    struct Curve {
        double kSquared = 0.0;
        double invS = 0.0;
        double g0 = 0.0;

        template <typename T> T operator()(T y) const {
            // Branch-free: the sign of a signal is unpredictable, and a mispredicted branch per
            // sample would cost more than the curve. min(1, NaN) is 1, so NaN input stays finite.
            const T u = lowerOfOneAnd(magnitude(y));
            const T oneMinusU = 1.0 - u;
            const T f = g0 * (1.0 - squareRoot(kSquared * oneMinusU * oneMinusU + 1.0) * invS);
            return withSignOf(f, y);
        }
    };

    // The distortion envelope: instant rise, a 441-sample hold of the peak, then a fall by 0.001
    // of the distance per sample. One for both channels.
    struct Envelope {
        PeakHold hold;
        double value = 0.0;
        double attack = 1.0;
        double release = kReleaseCoefficient;

        void track(double distortion) {
            const double h = hold.track(distortion);
            // max(a, b) chooses a exactly when d > 0: attack (1.0) is above release, and rounded
            // sums keep their order. Choosing by the sign of d gives the same bits without
            // waiting on both sums and a compare, which shortens this sample-to-sample chain.
            const double d = h - value;
            const double a = value + d * attack;
            const double b = value + d * release;
            value = d > 0.0 ? a : b;
        }

        // The same as `track`, written with branches: where the sample order decides (the
        // equaliser's tube, whose output takes the envelope of every sample), a predicted branch
        // lets the next sample start before this one is through. Rises and the hold's ends are
        // rare; a sample that leaves the envelope where it is costs no wait at all.
        void follow(double distortion) {
            const double d = hold.follow(distortion) - value;
            if (d > 0.0)
                value = value + d * attack;
            else if (d != 0.0) // (NaN included: it comes through as in `track`)
                value = value + d * release;
        }

        // The same as `track` on each of the n distortions in turn. While the hold runs and the
        // envelope sits at the held peak, a sample below the peak changes nothing but the hold's
        // count (the distance is 0, so the fall adds 0): such runs are skipped.
        void trackAll(const double* distortion, int32_t n);
    };

public:
    /// The equaliser's tube path over one block: the settings are read once at `beginFrames`,
    /// every `shapeFrame` moves them one step toward their targets and shapes one stereo frame
    /// (or the left sample alone in mono), the left sample first through the envelope, then the
    /// right one; `endFrames` keeps the state and publishes the envelope.
    class FrameShaper {
    public:
        StereoPair shapeFrame(StereoPair x, bool mono) {
            if (!settled_) {
                settled_ = !smoothAll(inputGain_, drive_, outputGain_, targets_, coefficient_);
                gains_ = currentGains(inputGain_, drive_, outputGain_, outputScale_);
            }
            if (plain_)
                return x * gains_.plain;
            const StereoPair y = gains_.inputDrive * x;
            const StereoPair shaped = curve_(y);
            const StereoPair distortion = magnitude(y - shaped);
            const StereoPair out = shaped * gains_.outputScale;
            envelope_.track(distortion[0]);
            const double envelopeLeft = envelope_.value;
            if (!mono)
                envelope_.track(distortion[1]);
            if (!modulation_)
                return out;
            return out * (1.0 + kEnvelopeModulationDepth * StereoPair{envelopeLeft, envelope_.value});
        }
        /// The same as `shapeFrame` on each of n frames in place.
        void shapeFrames(StereoPair* frames, int32_t n, bool mono);

    private:
        friend class TubeStage;
        Curve curve_;
        double outputScale_ = 1.0;
        double coefficient_ = 1.0;
        Targets targets_{};
        double inputGain_ = 1.0, drive_ = 1.0, outputGain_ = 1.0;
        Gains gains_{};
        Envelope envelope_;
        bool settled_ = false;
        bool plain_ = false;
        bool modulation_ = false;
    };
    FrameShaper beginFrames() const;
    void endFrames(const FrameShaper& shaper) {
        inputGainNow_ = shaper.inputGain_;
        driveNow_ = shaper.drive_;
        outputGainNow_ = shaper.outputGain_;
        envelope_ = shaper.envelope_;
        publishedEnvelope_.store(envelope_.value, std::memory_order_relaxed);
    }

private:
    // |x|, min(1, x), sqrt(x) and copysign(f, y), on one sample or on a pair.
    static double magnitude(double x) { return std::fabs(x); }
    static StereoPair magnitude(StereoPair x) { return fromBits(toBits(x) & ~toBits(StereoPair{-0.0, -0.0})); }
    static double lowerOfOneAnd(double x) { return std::min(1.0, x); }
    static StereoPair lowerOfOneAnd(StereoPair x) {
        // MINPD(x, 1) is x < 1 ? x : 1 lane by lane, as std::min(1.0, x) (NaN gives 1).
        return static_cast<StereoPair>(_mm_min_pd(static_cast<__m128d>(x), _mm_set1_pd(1.0)));
    }
    static double squareRoot(double x) { return std::sqrt(x); }
    static StereoPair squareRoot(StereoPair x) { return static_cast<StereoPair>(_mm_sqrt_pd(static_cast<__m128d>(x))); }
    static double withSignOf(double f, double y) { return std::copysign(f, y); }
    static StereoPair withSignOf(StereoPair f, StereoPair y) {
        const PairBits sign = toBits(StereoPair{-0.0, -0.0});
        return fromBits((toBits(f) & ~sign) | (toBits(y) & sign));
    }
    using PairBits = int64_t __attribute__((vector_size(16)));
    static PairBits toBits(StereoPair x) { return reinterpret_cast<PairBits>(x); }
    static StereoPair fromBits(PairBits x) { return reinterpret_cast<StereoPair>(x); }

    // Moves the current settings one step toward their targets; true when any of them moved.
    static bool smoothAll(double& inputGain, double& drive, double& outputGain, const Targets& t, double c) {
        if (inputGain == t.inputGain && drive == t.drive && outputGain == t.outputGain)
            return false;
        if (inputGain != t.inputGain)
            smoothToward(t.inputGain, inputGain, c);
        if (drive != t.drive)
            smoothToward(t.drive, drive, c);
        if (outputGain != t.outputGain)
            smoothToward(t.outputGain, outputGain, c);
        return true;
    }
    Targets targets() const { return {inputGain(), drive(), outputGain()}; }

    static Gains currentGains(double inputGain, double drive, double outputGain, double outputScale) {
        return {inputGain * drive, inputGain * outputGain, outputGain * outputScale / drive};
    }

    // One channel (mono, or a block too long to pair), both channels side by side, and both
    // with shaping off.
    void processChannel(double* samples, int32_t frames, double& inputGain, double& drive, double& outputGain);
    void processPair(double* left, double* right, int32_t frames);
    void processPlain(double* left, double* right, int32_t frames, bool mono);

    std::atomic<double> inputGain_{1.0};
    std::atomic<double> drive_{1.0};
    std::atomic<double> outputGain_{1.0};
    // Current (smoothed) values; audio thread.
    double inputGainNow_ = 1.0;
    double driveNow_ = 1.0;
    double outputGainNow_ = 1.0;

    std::atomic<bool> shapingOff_{false};
    bool envelopeModulation_ = false;

    Curve curve_;
    double outputScale_ = 1.0;

    Envelope envelope_;
    std::atomic<double> publishedEnvelope_{0.0};
    // Both channels' distortion of a paired block, for the envelope to take one after the other.
    double distortion_[2][kPairedFrames];
};

} // namespace pellucer
