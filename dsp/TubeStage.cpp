#include "dsp/TubeStage.h"

#include <algorithm>

namespace pellucer {

namespace {
// Curve shape: k = 10^(-0.1) sets how soft the knee is.
const double kCurveK = std::pow(10.0, -0.1);
// The normaliser is the reciprocal of the curve's slope over its first 0.001.
constexpr double kNormaliserSpan = 0.001;
} // namespace

TubeStage::TubeStage() { initialise(); }

void TubeStage::initialise() {
    setInputGain(1.0);
    setDrive(1.0);
    setOutputGain(1.0);
    inputGainNow_ = driveNow_ = outputGainNow_ = 1.0;
    frameGainsValid_ = false;

    const double s = std::sqrt(kCurveK * kCurveK + 1.0);
    const double kAtSpan = (1.0 - kNormaliserSpan) * kCurveK;
    kSquared_ = kCurveK * kCurveK;
    invS_ = 1.0 / s;
    g0_ = kNormaliserSpan * s / (s - std::sqrt(kAtSpan * kAtSpan + 1.0));
    outputScale_ = 1.0;
    reset();
}

void TubeStage::setSampleRate(float sampleRate) {
    DspModule::setSampleRate(sampleRate);
    reset();
}

void TubeStage::reset() {
    envelope_ = Envelope{};
    publishedEnvelope_.store(0.0, std::memory_order_relaxed);
}

void TubeStage::setEnvelopeModulation(bool on) {
    if (on && !envelopeModulation_) {
        envelope_.hold.clear();
        envelope_.value = 0.0;
    }
    envelopeModulation_ = on;
}

void TubeStage::processChannel(double* samples, int32_t frames, double& inputGain, double& drive,
                               double& outputGain) {
    const bool plain = shapingOff();
    Envelope env = envelope_;
    // The settings move on every eighth sample of the block, starting with the first.
    for (int32_t start = 0; start < frames; start += kSmoothingStride) {
        smoothAll(inputGain, drive, outputGain);
        const Gains gains = currentGains(inputGain, drive, outputGain);
        const int32_t n = std::min(frames - start, kSmoothingStride);
        double* x = samples + start;
        if (plain) {
            for (int32_t i = 0; i < n; ++i)
                x[i] = x[i] * gains.plain;
        } else if (envelopeModulation_) {
            for (int32_t i = 0; i < n; ++i)
                x[i] = shape(x[i], gains, false, env);
        } else {
            // The output does not depend on the envelope here: shape the chunk first (the loop
            // has no carried state), then run the envelope over its distortion.
            double distortion[kSmoothingStride];
            for (int32_t i = 0; i < n; ++i) {
                const double y = gains.inputDrive * x[i];
                const double shaped = curve(y);
                distortion[i] = std::fabs(y - shaped);
                x[i] = shaped * gains.outputScale;
            }
            for (int32_t i = 0; i < n; ++i)
                env.track(distortion[i]);
        }
    }
    envelope_ = env;
}

void TubeStage::process(double* left, double* right, uint64_t, int32_t frames, bool mono) {
    if (mono) {
        processChannel(left, frames, inputGainNow_, driveNow_, outputGainNow_);
    } else {
        // The left channel runs on a copy of the settings so that the right one, which advances
        // the real state, follows exactly the same trajectory.
        double inputGain = inputGainNow_, drive = driveNow_, outputGain = outputGainNow_;
        processChannel(left, frames, inputGain, drive, outputGain);
        processChannel(right, frames, inputGainNow_, driveNow_, outputGainNow_);
    }
    publishedEnvelope_.store(envelope_.value, std::memory_order_relaxed);
}

} // namespace pellucer
