#include "dsp/DspModule.h"

#include <algorithm>
#include <cmath>

namespace pellucer {

double smoothingCoefficient(double seconds, double sampleRate) {
    return 1.0 - std::pow(0.1, 1.0 / (seconds * sampleRate));
}

DspModule::DspModule()
    : dryLeft_(new double[kInitialDryCapacity]()), dryRight_(new double[kInitialDryCapacity]()),
      dryCapacity_(kInitialDryCapacity) {}

DspModule::~DspModule() = default;

void DspModule::setSampleRate(float sampleRate) {
    sampleRate_ = sampleRate;
    c1_ = smoothingCoefficient(0.001, sampleRate);
    c10_ = smoothingCoefficient(0.01, sampleRate);
    c100_ = smoothingCoefficient(0.1, sampleRate);
}

double DspModule::decayFactor(double ms, double divisor) const {
    if (ms == 0.0)
        return 0.0;
    return std::pow(0.1, 1.0 / (ms * sampleRate_ / 1000.0 / divisor));
}

void DspModule::ensureDryCapacity(int32_t frames) {
    if (frames <= dryCapacity_)
        return;
    dryLeft_.reset(new double[frames]());
    dryRight_.reset(new double[frames]());
    dryCapacity_ = frames;
}

} // namespace pellucer
