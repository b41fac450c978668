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

    const double s = std::sqrt(kCurveK * kCurveK + 1.0);
    const double kAtSpan = (1.0 - kNormaliserSpan) * kCurveK;
    curve_.kSquared = kCurveK * kCurveK;
    curve_.invS = 1.0 / s;
    curve_.g0 = kNormaliserSpan * s / (s - std::sqrt(kAtSpan * kAtSpan + 1.0));
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

void TubeStage::Envelope::trackAll(const double* distortion, int32_t n) {
    Envelope env = *this; // (a local: the stores below cannot be taken for reads of the input)
    for (int32_t i = 0; i < n;) {
        if (env.hold.counter < kHoldSamples && env.value >= env.hold.value) {
            // Until a sample reaches the held peak or the hold runs out, the peak stands and the
            // envelope, at or above it, can only fall toward it (a fall ends at the peak at the
            // lowest); once a step leaves it where it was, so do all the others.
            const double held = env.hold.value;
            const int32_t end = std::min(n, i + (kHoldSamples - env.hold.counter));
            int32_t j = i;
            double v = env.value;
            for (; j < end && !(distortion[j] >= held); ++j) {
                const double next = v + (held - v) * env.release;
                if (next == v)
                    break;
                v = next;
            }
            while (j < end && !(distortion[j] >= held))
                ++j;
            env.value = v;
            env.hold.counter += j - i;
            i = j;
            if (i == n)
                break;
        }
        env.track(distortion[i++]);
    }
    *this = env;
}

TubeStage::FrameShaper TubeStage::beginFrames() const {
    FrameShaper shaper;
    shaper.curve_ = curve_;
    shaper.outputScale_ = outputScale_;
    shaper.coefficient_ = c1_;
    shaper.targets_ = targets();
    shaper.inputGain_ = inputGainNow_;
    shaper.drive_ = driveNow_;
    shaper.outputGain_ = outputGainNow_;
    shaper.gains_ = currentGains(inputGainNow_, driveNow_, outputGainNow_, outputScale_);
    const Targets& t = shaper.targets_;
    shaper.settled_ = inputGainNow_ == t.inputGain && driveNow_ == t.drive && outputGainNow_ == t.outputGain;
    shaper.envelope_ = envelope_;
    shaper.plain_ = shapingOff();
    shaper.modulation_ = envelopeModulation_;
    return shaper;
}

// With the settings standing still, the curve runs over a run of frames first (no carried
// state), then the envelope alone over its samples, left and right in turn: a short loop that
// keeps its state in registers, so that its sample-to-sample chain is all it waits for.
void TubeStage::FrameShaper::shapeFrames(StereoPair* frames, int32_t n, bool mono) {
    if (!settled_ || plain_ || !modulation_) {
        for (int32_t i = 0; i < n; ++i)
            frames[i] = shapeFrame(frames[i], mono);
        return;
    }
    constexpr int32_t kRun = 64;
    const Gains g = gains_;
    const Curve curve = curve_;
    for (int32_t start = 0; start < n; start += kRun) {
        const int32_t m = std::min(n - start, kRun);
        StereoPair* x = frames + start;
        StereoPair level[kRun];
        for (int32_t i = 0; i < m; ++i) {
            const StereoPair y = g.inputDrive * x[i];
            const StereoPair shaped = curve(y);
            level[i] = magnitude(y - shaped);
            x[i] = shaped * g.outputScale;
        }
        Envelope env = envelope_;
        if (mono) {
            for (int32_t i = 0; i < m; ++i) {
                env.follow(level[i][0]);
                level[i] = StereoPair{env.value, env.value};
            }
        } else {
            double* samples = reinterpret_cast<double*>(level);
            for (int32_t k = 0; k < 2 * m; ++k) {
                env.follow(samples[k]);
                samples[k] = env.value;
            }
        }
        envelope_ = env;
        for (int32_t i = 0; i < m; ++i)
            x[i] = x[i] * (1.0 + kEnvelopeModulationDepth * level[i]);
    }
}

void TubeStage::processChannel(double* samples, int32_t frames, double& inputGain, double& drive,
                               double& outputGain) {
    const Targets t = targets();
    Envelope env = envelope_;
    // The settings move on every eighth sample of the block, starting with the first.
    for (int32_t start = 0; start < frames; start += kSmoothingStride) {
        smoothAll(inputGain, drive, outputGain, t, c1_);
        const Gains gains = currentGains(inputGain, drive, outputGain, outputScale_);
        const int32_t n = std::min(frames - start, kSmoothingStride);
        double* x = samples + start;
        if (envelopeModulation_) {
            for (int32_t i = 0; i < n; ++i) {
                const double y = gains.inputDrive * x[i];
                const double shaped = curve_(y);
                env.track(std::fabs(y - shaped));
                x[i] = shaped * gains.outputScale * (1.0 + kEnvelopeModulationDepth * env.value);
            }
        } else {
            // The output does not depend on the envelope here: shape the chunk first (the loop
            // has no carried state), then run the envelope over its distortion.
            double distortion[kSmoothingStride];
            for (int32_t i = 0; i < n; ++i) {
                const double y = gains.inputDrive * x[i];
                const double shaped = curve_(y);
                distortion[i] = std::fabs(y - shaped);
                x[i] = shaped * gains.outputScale;
            }
            env.trackAll(distortion, n);
        }
    }
    envelope_ = env;
}

// Both channels follow one settings trajectory, so they are shaped side by side; the envelope
// then runs over the left block's distortion and after it over the right block's.
void TubeStage::processPair(double* left, double* right, int32_t frames) {
    const Targets t = targets();
    // Locals, which the stores to the buffers cannot change (members would be read again).
    const Curve curve = curve_;
    const double outputScale = outputScale_, c = c1_;
    double* leftDistortion = distortion_[0];
    double* rightDistortion = distortion_[1];
    double inputGain = inputGainNow_, drive = driveNow_, outputGain = outputGainNow_;
    auto shape = [&](int32_t start, int32_t end, const Gains& gains) {
        for (int32_t k = start; k < end; ++k) {
            const StereoPair y = gains.inputDrive * StereoPair{left[k], right[k]};
            const StereoPair shaped = curve(y);
            const StereoPair distortion = magnitude(y - shaped);
            const StereoPair out = shaped * gains.outputScale;
            leftDistortion[k] = distortion[0];
            rightDistortion[k] = distortion[1];
            left[k] = out[0];
            right[k] = out[1];
        }
    };
    if (inputGain == t.inputGain && drive == t.drive && outputGain == t.outputGain) {
        // Settings at their targets stay there: one run over the block.
        shape(0, frames, currentGains(inputGain, drive, outputGain, outputScale));
    } else {
        for (int32_t start = 0; start < frames; start += kSmoothingStride) {
            smoothAll(inputGain, drive, outputGain, t, c);
            shape(start, std::min(frames, start + kSmoothingStride),
                  currentGains(inputGain, drive, outputGain, outputScale));
        }
    }
    envelope_.trackAll(leftDistortion, frames);
    envelope_.trackAll(rightDistortion, frames);
    inputGainNow_ = inputGain;
    driveNow_ = drive;
    outputGainNow_ = outputGain;
}

// Shaping off: the gains alone, on both channels at once; at unity, nothing at all.
void TubeStage::processPlain(double* left, double* right, int32_t frames, bool mono) {
    const Targets t = targets();
    auto scale = [&](int32_t start, int32_t end, double gain) {
        if (gain == 1.0)
            return;
        for (int32_t k = start; k < end; ++k)
            left[k] *= gain;
        if (!mono)
            for (int32_t k = start; k < end; ++k)
                right[k] *= gain;
    };
    if (inputGainNow_ == t.inputGain && driveNow_ == t.drive && outputGainNow_ == t.outputGain) {
        scale(0, frames, inputGainNow_ * outputGainNow_);
        return;
    }
    for (int32_t from = 0; from < frames; from += kSmoothingStride) {
        smoothAll(inputGainNow_, driveNow_, outputGainNow_, t, c1_);
        scale(from, std::min(frames, from + kSmoothingStride), inputGainNow_ * outputGainNow_);
    }
}

void TubeStage::process(double* left, double* right, uint64_t, int32_t frames, bool mono) {
    if (shapingOff()) {
        processPlain(left, right, frames, mono);
    } else if (mono) {
        processChannel(left, frames, inputGainNow_, driveNow_, outputGainNow_);
    } else if (frames <= kPairedFrames && !envelopeModulation_) {
        processPair(left, right, frames);
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
