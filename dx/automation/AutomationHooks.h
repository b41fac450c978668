#pragma once

// The two seams between the filter and its parameter automation (the media-parameters object):
// what Receive asks of the automation while splitting a buffer, and where the effect's own
// automation notices (editor gestures) go.

#include <cstdint>
#include <vector>

namespace pellucer::dx {

/// What the filter's Receive asks of the parameter automation. Called on the streaming thread
/// under the filter lock; implementations must not allocate once their vectors have grown.
class AutomationSource {
public:
    /// True while at least one parameter is automated (its values must be evaluated).
    virtual bool anyAutomated() = 0;
    /// The sample positions in [from, to) at which automated values change, ascending
    /// (duplicates allowed). `times` is cleared first.
    virtual void changeTimes(int64_t from, int64_t to, std::vector<int64_t>& times) = 0;
    /// The parameters whose effective value changed at sample position `position`, ascending.
    /// `indices` is cleared first.
    virtual void changedParameters(int64_t position, std::vector<int32_t>& indices) = 0;
    /// The normalised value the effect should have for parameter `index` now.
    virtual float effectiveValue(int32_t index) = 0;
    /// The stream's sample rate (set with the input pin's media type).
    virtual void setSampleRate(int32_t sampleRate) = 0;

protected:
    ~AutomationSource() = default;
};

/// Receives the effect's automation notices: gesture begin and end and changed values of the
/// host-visible parameters (0..38). Called from whatever thread the effect's editor runs on.
class ParameterCaptureListener {
public:
    virtual void beginCapture(int32_t index) = 0;
    virtual void endCapture(int32_t index) = 0;
    virtual void parameterChanged(int32_t index, float value) = 0;

protected:
    ~ParameterCaptureListener() = default;
};

} // namespace pellucer::dx
