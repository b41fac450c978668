#include "dsp/DspModule.h"

#include <algorithm>
#include <cmath>

namespace pellucer {

double smoothingCoefficient(double seconds, double sampleRate) {
    return 1.0 - std::pow(0.1, 1.0 / (seconds * sampleRate));
}

DspModule::DspModule()
    : dryLeft_(new double[kDryFrames]()), dryRight_(new double[kDryFrames]()) {}

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

} // namespace pellucer
