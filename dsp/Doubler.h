#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "dsp/DspModule.h"

namespace pellucer {

/// Two slowly modulated delay lines that thicken a voice (module 3 of the chain).
///
/// Each channel gets a copy of itself delayed by about 48 ms (left) or 39 ms (right); the delay
/// swings by +-2.5 ms at one radian per second, the right line 2.5 rad ahead of the left. The
/// modulation phase is a function of the engine's frame counter, so it is continuous across
/// blocks and the output does not depend on how the host splits them. A stereo mix then keeps
/// the pair apart (stereo 1) or folds it to the centre (stereo 0).
///
/// In mono the one channel feeds both lines and the output is their half-and-half mix; only
/// `left` is written.
///
/// Threads: the setters may be called from any thread; `process` and `reset` run on the audio
/// thread; `setSampleRate` and `initialise` only while no block is being processed.
class Doubler : public DspModule {
public:
    static constexpr double kBaseDelayLeftSeconds = 0.048;
    static constexpr double kBaseDelayRightSeconds = 0.0391;
    /// Each line holds at least this much signal (rounded up to a power of two in frames).
    static constexpr double kLineSeconds = 0.2;
    /// Modulation depth: 110 frames at 44.1 kHz (about 2.49 ms), scaled with the rate.
    static constexpr double kModulationDepthFramesAt44100 = 110.0;
    /// The right line's modulation leads the left one by this many radians.
    static constexpr double kRightPhaseOffset = 2.5;
    /// The modulation's sine is evaluated once per aligned group of this many frames (2.9 ms at
    /// 44.1 kHz) and carried to each frame of the group by a Taylor polynomial in the exact
    /// angle offset (a few multiplications instead of two library sines per frame). Groups are
    /// aligned to the sample position, so the result does not depend on block boundaries.
    static constexpr int32_t kPhaseGroup = 128;

    Doubler();

    void setSampleRate(float sampleRate) override;
    void reset() override;
    void process(double* left, double* right, uint64_t position, int32_t frames, bool mono) override;

    /// Sets the fade to 1, sizes both lines for the current rate (zero-filled) and recomputes
    /// the base delays and modulation depth. Allocates: not while a block is being processed.
    void initialise();

    /// Level of the delayed copies, 0..1 (clamped; NaN is ignored); any thread.
    void setPresence(double presence);
    double presence() const { return presence_.load(std::memory_order_relaxed); }
    /// Stereo width, 0 (both outputs the mid signal) to 1 (channels kept apart); clamped, NaN
    /// ignored; any thread.
    void setStereo(double stereo);
    double stereo() const { return stereo_.load(std::memory_order_relaxed); }

    int32_t baseDelayLeftFrames() const { return baseLeftFrames_; }
    int32_t baseDelayRightFrames() const { return baseRightFrames_; }
    double modulationDepthFrames() const { return depthFrames_; }
    int32_t lineFrames() const { return lineSize_; }

private:
    std::atomic<double> presence_{0.5};
    std::atomic<double> stereo_{0.5};

    int32_t baseLeftFrames_ = 0;
    int32_t baseRightFrames_ = 0;
    double depthFrames_ = 0.0;

    // Power-of-two lines written at (sample position & mask).
    std::unique_ptr<double[]> lineLeft_;
    std::unique_ptr<double[]> lineRight_;
    int32_t lineSize_ = 0;
    uint64_t mask_ = 0;
};

} // namespace pellucer
