#include "dsp/TubeStage.h"

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
    holdCounter_ = 0;
    hold_ = 0.0;
    envelope_ = 0.0;
    attack_ = 1.0;
    release_ = kReleaseCoefficient;
    publishedEnvelope_.store(0.0, std::memory_order_relaxed);
}

void TubeStage::setEnvelopeModulation(bool on) {
    if (on && !envelopeModulation_) {
        holdCounter_ = 0;
        hold_ = 0.0;
        envelope_ = 0.0;
    }
    envelopeModulation_ = on;
}

void TubeStage::processChannel(double* samples, int32_t frames, double& inputGain, double& drive,
                               double& outputGain) {
    const bool plain = shapingOff();
    for (int32_t i = 0; i < frames; ++i) {
        if (i % kSmoothingStride == 0)
            smoothAll(inputGain, drive, outputGain);
        samples[i] = shape(samples[i], inputGain, drive, outputGain, plain);
    }
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
    publishedEnvelope_.store(envelope_, std::memory_order_relaxed);
}

} // namespace pellucer
