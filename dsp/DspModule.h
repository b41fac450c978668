#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <numbers>

namespace pellucer {

inline constexpr double kPi = std::numbers::pi;

/// Base of every processing stage of the strip.
///
/// Stages are linked into a list (`next`) and processed in place on two double-precision
/// buffers. Three verbs keep their meaning throughout `dsp/`: `setSampleRate` prepares for a
/// rate (may allocate), `reset` clears signal memory only, `set...` changes a setting.
///
/// Threads: `process`, `reset` and the chain helpers run on the audio thread. The enable flag
/// and the stages' setters may be written from any thread; a setting takes effect at the
/// stage's next use of it.
class DspModule {
public:
    static constexpr int32_t kInitialDryCapacity = 5000;

    DspModule();
    virtual ~DspModule();
    DspModule(const DspModule&) = delete;
    DspModule& operator=(const DspModule&) = delete;

    /// Stores the rate and recomputes the 1/10/100 ms smoothing coefficients.
    virtual void setSampleRate(float sampleRate);
    /// Clears the stage's signal memory (delay lines, filter states, envelopes).
    virtual void reset() {}
    /// Processes `frames` frames in place. `position` is the engine's frame counter at the first
    /// frame. In mono only `left` is processed and `right` must not be read.
    virtual void process(double* left, double* right, uint64_t position, int32_t frames, bool mono) = 0;

    /// Per-sample factor that leaves 10 % of a step after `ms` milliseconds; 0 for ms == 0.
    double decayFactor(double ms, double divisor = 1.0) const;
    /// 1 - decayFactor: the fraction of the remaining distance covered per sample.
    double decayComplement(double ms, double divisor = 1.0) const { return 1.0 - decayFactor(ms, divisor); }

    /// Moves `value` toward `target` by `coefficient` of the distance, snapping when within 0.001.
    static void smoothToward(double target, double& value, double coefficient) {
        const double distance = target - value;
        if (distance >= 0.001 || distance <= -0.001)
            value += distance * coefficient;
        else
            value = target;
    }

    /// Grows the dry buffers to at least `frames` (allocates only when growing): for the block
    /// size a host announces, and on the audio thread for a block longer than that.
    void ensureDryCapacity(int32_t frames);

    void setNext(DspModule* module) { next_ = module; }
    DspModule* next() const { return next_; }

    float sampleRate() const { return sampleRate_; }
    double coefficient1ms() const { return c1_; }
    double coefficient10ms() const { return c10_; }
    double coefficient100ms() const { return c100_; }

    /// Stage on/off as the user set it (written from any thread).
    std::atomic<bool> enabled{true};
    /// Mix weight of the processed signal during the enable/disable crossfade (audio thread).
    double fade = 1.0;

    double* dryLeft() { return dryLeft_.get(); }
    double* dryRight() { return dryRight_.get(); }
    int32_t dryCapacity() const { return dryCapacity_; }

protected:
    float sampleRate_ = 44100.0f;
    double c1_ = 1.0;   ///< covers 90 % of a step in 1 ms
    double c10_ = 1.0;  ///< ... in 10 ms
    double c100_ = 1.0; ///< ... in 100 ms

private:
    DspModule* next_ = nullptr;
    std::unique_ptr<double[]> dryLeft_;
    std::unique_ptr<double[]> dryRight_;
    int32_t dryCapacity_ = 0;
};

/// Fraction of the remaining distance covered per sample so that 90 % of a step takes
/// `seconds` at `sampleRate`: 1 - 0.1^(1 / (seconds * sampleRate)).
double smoothingCoefficient(double seconds, double sampleRate);

} // namespace pellucer
