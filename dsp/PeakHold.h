#pragma once

#include <cstdint>

namespace pellucer {

/// The peak hold that the strip's level detectors (tube envelopes, compander, de-esser) start
/// from: a new peak is taken at once and held for `kHoldSamples` samples; once the hold has run
/// out it follows the input sample by sample until the next peak.
///
/// Written without branches: on noisy material "is this a new peak?" is a coin toss, and a
/// mispredicted branch per sample costs more than the whole update.
struct PeakHold {
    static constexpr int32_t kHoldSamples = 441;

    double value = 0.0;
    int32_t counter = 0;

    double track(double v) {
        const bool peak = v >= value;
        const bool holding = counter < kHoldSamples;
        value = (peak | !holding) ? v : value;
        counter = peak ? 0 : counter + static_cast<int32_t>(holding);
        return value;
    }

    /// The same as `track`, with branches: for loops whose next sample waits on this one, where a
    /// predicted branch lets it start early (new peaks and the hold's ends are rare there).
    double follow(double v) {
        if (v >= value) {
            value = v;
            counter = 0;
        } else if (counter < kHoldSamples) {
            ++counter;
        } else {
            value = v;
        }
        return value;
    }

    void clear() {
        value = 0.0;
        counter = 0;
    }
};

} // namespace pellucer
