#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>

#include "dsp/DspModule.h"
#include "dsp/PeakHold.h"

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
/// time through `processFrame` and modulates its output with its own envelope.
class TubeStage : public DspModule {
public:
    /// Samples the distortion envelope holds its peak before it decays.
    static constexpr int32_t kHoldSamples = PeakHold::kHoldSamples;
    /// Per-sample fraction of the distance the envelope falls after the hold.
    static constexpr double kReleaseCoefficient = 0.001;
    /// Depth of the envelope's output modulation in the equaliser's tube.
    static constexpr double kEnvelopeModulationDepth = 0.707;
    /// Settings move toward their targets on every eighth sample of a block.
    static constexpr int32_t kSmoothingStride = 8;

    TubeStage();

    void setSampleRate(float sampleRate) override;
    void reset() override;
    void process(double* left, double* right, uint64_t position, int32_t frames, bool mono) override;

    /// Sets all gains to 1.0, clears the envelope and computes the curve constants. Not thread
    /// safe against `process`: call at construction or engine initialisation.
    void initialise();

    /// Linear setting targets; any thread.
    void setInputGain(double gain) { inputGain_.target.store(gain, std::memory_order_relaxed); }
    void setDrive(double drive) { drive_.target.store(drive, std::memory_order_relaxed); }
    void setOutputGain(double gain) { outputGain_.target.store(gain, std::memory_order_relaxed); }
    double inputGain() const { return inputGain_.target.load(std::memory_order_relaxed); }
    double drive() const { return drive_.target.load(std::memory_order_relaxed); }
    double outputGain() const { return outputGain_.target.load(std::memory_order_relaxed); }

    /// true turns the stage into a plain gain (the tube's enable switch off); any thread.
    void setShapingOff(bool off) { shapingOff_.store(off, std::memory_order_relaxed); }
    bool shapingOff() const { return shapingOff_.load(std::memory_order_relaxed); }

    /// Output modulation by the envelope (the equaliser's tube only). Switching it on clears the
    /// envelope. Audio thread or before processing starts.
    void setEnvelopeModulation(bool on);

    /// Distortion envelope as of the end of the last processed block; any thread (meters).
    double envelope() const { return publishedEnvelope_.load(std::memory_order_relaxed); }

    /// One stereo frame (or the left sample alone in mono) with the settings moving on every
    /// call: the equaliser's tube path. Left and right samples alternate through the envelope.
    void processFrame(double& left, double& right, bool mono) {
        // The equaliser calls this for every frame: the derived gains are worked out again only
        // when a setting has moved.
        if (smoothAll(inputGainNow_, driveNow_, outputGainNow_) || !frameGainsValid_) {
            frameGains_ = currentGains(inputGainNow_, driveNow_, outputGainNow_);
            frameGainsValid_ = true;
        }
        const bool plain = shapingOff();
        left = shape(left, frameGains_, plain, envelope_);
        if (!mono)
            right = shape(right, frameGains_, plain, envelope_);
        publishedEnvelope_.store(envelope_.value, std::memory_order_relaxed);
    }

    /// The static curve on |y| <= 1 in the sign of y, without gains (for tests and displays).
    double curve(double y) const {
        // Branch-free: the sign of a signal is unpredictable, and a mispredicted branch per
        // sample would cost more than the curve. min(1, NaN) is 1, so NaN input stays finite.
        const double u = std::min(1.0, std::fabs(y));
        const double oneMinusU = 1.0 - u;
        const double f = g0_ * (1.0 - std::sqrt(kSquared_ * oneMinusU * oneMinusU + 1.0) * invS_);
        return std::copysign(f, y);
    }

private:
    struct Setting {
        std::atomic<double> target{1.0};
    };

    // Moves the current settings one step toward their targets; true when any of them moved.
    bool smoothAll(double& inputGain, double& drive, double& outputGain) const {
        const double c = c1_;
        const double ti = inputGain_.target.load(std::memory_order_relaxed);
        const double td = drive_.target.load(std::memory_order_relaxed);
        const double to = outputGain_.target.load(std::memory_order_relaxed);
        if (inputGain == ti && drive == td && outputGain == to)
            return false;
        if (inputGain != ti)
            smoothToward(ti, inputGain, c);
        if (drive != td)
            smoothToward(td, drive, c);
        if (outputGain != to)
            smoothToward(to, outputGain, c);
        return true;
    }

    // The smoothed settings as the per-sample arithmetic uses them: computed once per smoothing
    // step, so the sample loop multiplies where the formulas divide by the drive.
    struct Gains {
        double inputDrive;   ///< input gain * drive
        double plain;        ///< input gain * output gain (shaping off)
        double outputScale;  ///< output gain * scale / drive
    };
    Gains currentGains(double inputGain, double drive, double outputGain) const {
        return {inputGain * drive, inputGain * outputGain, outputGain * outputScale_ / drive};
    }

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
    };

    // One sample through gain, curve and envelope. The envelope is passed in so that the sample
    // loops keep it in a local (a member would be reloaded after every store to the buffer).
    double shape(double x, const Gains& gains, bool plain, Envelope& env) const {
        if (plain)
            return x * gains.plain;
        const double y = gains.inputDrive * x;
        const double shaped = curve(y);
        env.track(std::fabs(y - shaped));
        double out = shaped * gains.outputScale;
        if (envelopeModulation_)
            out *= 1.0 + kEnvelopeModulationDepth * env.value;
        return out;
    }

    void processChannel(double* samples, int32_t frames, double& inputGain, double& drive, double& outputGain);

    Setting inputGain_;
    Setting drive_;
    Setting outputGain_;
    // Current (smoothed) values; audio thread.
    double inputGainNow_ = 1.0;
    double driveNow_ = 1.0;
    double outputGainNow_ = 1.0;
    // Derived gains of the frame-by-frame path, kept while the settings stand still.
    Gains frameGains_{};
    bool frameGainsValid_ = false;

    std::atomic<bool> shapingOff_{false};
    bool envelopeModulation_ = false;

    // Curve constants.
    double kSquared_ = 0.0;
    double invS_ = 0.0;
    double g0_ = 0.0;
    double outputScale_ = 1.0;

    Envelope envelope_;
    std::atomic<double> publishedEnvelope_{0.0};
};

} // namespace pellucer
