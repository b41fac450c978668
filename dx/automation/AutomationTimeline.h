#pragma once

// The state behind the filter's media-parameters object, without COM: one envelope record per
// parameter, the set of parameters that are automated, the values last pushed into the effect,
// and the two questions the filter asks while it processes a buffer: where must the buffer be
// split, and which parameters change at a given sample.
//
// The COM object (IMediaParams, IMediaParamInfo and the capture notifications) translates each of
// its methods into one call here and maps AutomationResult to an HRESULT; forwarding capture
// notifications to the host's own callback is its business.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "dx/automation/ParamEnvelope.h"

namespace pellucer::dx {

/// The lock around the set of automated parameters. The Windows shell passes one over the named
/// mutex "LockedSet" that all instances in the process share; TimedMutexActiveSetLock serves
/// everywhere else.
class ActiveSetLock {
public:
    virtual ~ActiveSetLock() = default;
    /// Answers false when the lock was not obtained within `timeoutMs`.
    virtual bool acquire(uint32_t timeoutMs) = 0;
    virtual void release() = 0;
};

/// The portable lock: one std::timed_mutex per timeline. Not recursive.
class TimedMutexActiveSetLock final : public ActiveSetLock {
public:
    bool acquire(uint32_t timeoutMs) override;
    void release() override;

private:
    std::timed_mutex mutex_;
};

/// Where the timeline reads the value a parameter has in the effect right now (the effect's
/// getParameter). Any thread may ask; the answer need not be clamped.
class PresentValueSource {
public:
    virtual float presentValue(uint32_t index) = 0;

protected:
    ~PresentValueSource() = default;
};

/// Outcome of a host-facing operation; the COM layer maps it to an HRESULT.
enum class AutomationResult {
    ok,          ///< S_OK
    invalidArg,  ///< E_INVALIDARG: index of 39 or more, flush start after end, not in capture
    pointer,     ///< E_POINTER: a null array with a non-zero count, a null out-argument
    outOfMemory, ///< E_OUTOFMEMORY: the segments could not be stored (or exceed the per-record limit)
    lockTimeout, ///< the set lock was not obtained within 1000 ms; nothing changed (E_FAIL suits)
};

/// One value to push into the effect: parameter index and value in effect units.
struct ParamChange {
    int32_t index;
    float value;
};

class AutomationTimeline {
public:
    /// DWORD_ALLPARAMS: AddEnvelope and FlushEnvelope for every parameter.
    static constexpr uint32_t kAllParams = 0xffffffffu;
    static constexpr int32_t kDefaultSampleRate = 44100;
    static constexpr double kUpdateIntervalSeconds = 0.02;
    /// How long host calls and the streaming thread wait for the set lock.
    static constexpr uint32_t kLockTimeoutMs = 1000;
    /// The last-sent value of a parameter that has not been evaluated yet.
    static constexpr float kNotSent = -1.0f;
    /// The most frames one change-time query covers: far beyond any buffer a host delivers (21 s
    /// at 48 kHz); a longer range is cut there, so that no request can ask for endless grid points.
    static constexpr int64_t kMaxQueryFrames = int64_t{1} << 20;
    /// Capacity worth reserving for the change-time list: the 20-ms grid of a 32,768-frame buffer
    /// at 8 kHz plus the boundaries of a busy envelope.
    static constexpr size_t kChangeTimeCapacity = 4096;

    /// `lock` guards the active set; null gives a TimedMutexActiveSetLock.
    explicit AutomationTimeline(std::unique_ptr<ActiveSetLock> lock = nullptr);
    AutomationTimeline(const AutomationTimeline&) = delete;
    AutomationTimeline& operator=(const AutomationTimeline&) = delete;

    // ---- the filter (format changes; streaming thread) ----------------------------------------

    /// The rate of the input type. Zero and rates beyond the 32-bit range are refused (false).
    bool setSampleRate(uint32_t hz);
    int32_t sampleRate() const { return sampleRate_.load(std::memory_order_relaxed); }
    double updateIntervalSeconds() const { return kUpdateIntervalSeconds; }

    /// Whether any parameter is automated. False as well when the set lock cannot be had.
    bool anyActive();

    /// The sample positions within [from, to) at which the buffer must be split, ascending (a time
    /// may appear more than once): every multiple of the update step (0.02 s of samples) and every
    /// segment start and end of the automated parameters. Empty when no automated parameter has
    /// segments, when from >= to, or when the set lock cannot be had. Ranges longer than
    /// kMaxQueryFrames are cut there. `out` is cleared first; it allocates only when the times
    /// exceed its capacity, so reserve kChangeTimeCapacity once.
    void changeTimes(int64_t from, int64_t to, std::vector<int64_t>& out);

    /// Evaluates every automated parameter at sample `position` and lists those whose effective
    /// value differs from the value last sent, with that value (effect units, within [0, 1]),
    /// ascending by index; they count as sent from now on. Without a present-value source a
    /// parameter's first evaluation only records its value; with one, the value it had in the
    /// effect when it became automated counts as sent, so the first evaluation sends exactly
    /// when the effect has something else. `out` is cleared first; with a capacity of
    /// kNumParams it never allocates. Empty when the set lock cannot be had.
    void changedParameters(int64_t position, std::vector<ParamChange>& out);

    /// Where the effect's present values come from (null: nowhere). Whenever a parameter becomes
    /// automated (SetParam, AddEnvelope, a captured change), its last-sent value is taken from
    /// there: the effect may have moved (editor, program change) while nobody automated it, and
    /// a host's first value must reach it. Set it before the host can call.
    void setPresentValueSource(PresentValueSource* source) { presentValues_ = source; }

    /// A parameter's effective value in effect units (0 for an index of 39 or more).
    float effectiveValue(uint32_t index) const;

    // ---- the host (IMediaParams; any thread but the streaming one) ----------------------------

    /// The value in host units: the last set value while set explicitly or in capture, else the
    /// envelope's value.
    AutomationResult getParam(uint32_t index, float* value) const;
    /// Automates the parameter and holds `value` until an envelope takes over. NaN keeps the
    /// parameter's present value; values outside [0, 1] are clamped.
    AutomationResult setParam(uint32_t index, float value);
    /// Automates the parameter (or each, for kAllParams, stopping at the first failure) and adds
    /// the segments. A count of 0 does nothing.
    AutomationResult addEnvelope(uint32_t index, const EnvelopeSegment* segments, size_t count);
    /// Stops automating the parameter (or all) and removes the segments overlapping [start, end].
    AutomationResult flushEnvelope(uint32_t index, ReferenceTime start, ReferenceTime end);

    // ---- capture notifications (the effect's editor, through the filter's host callback) -------

    /// Marks each parameter as in capture; invalidArg at the first index of 39 or more, with the
    /// earlier ones marked.
    AutomationResult beginCapture(const uint32_t* indices, size_t count);
    /// For each pair: the value counts as sent (the effect has it already) and is set as with
    /// setParam. invalidArg at the first index of 39 or more or parameter not in capture.
    AutomationResult paramsChanged(const uint32_t* indices, size_t count, const float* values);
    /// Stops automating each parameter and ends its capture; invalidArg at the first bad index.
    AutomationResult endCapture(const uint32_t* indices, size_t count);

    // ---- inspection ----------------------------------------------------------------------------

    const ParamEnvelope& envelope(int32_t index) const { return envelopes_[static_cast<size_t>(index)]; }
    bool isActive(uint32_t index);
    float lastSentValue(uint32_t index);

private:
    /// Holds the set lock for a scope if it was obtained within kLockTimeoutMs.
    class SetGuard {
    public:
        explicit SetGuard(ActiveSetLock& lock) : lock_(lock), held_(lock.acquire(kLockTimeoutMs)) {}
        ~SetGuard() {
            if (held_)
                lock_.release();
        }
        SetGuard(const SetGuard&) = delete;
        SetGuard& operator=(const SetGuard&) = delete;
        bool held() const { return held_; }

    private:
        ActiveSetLock& lock_;
        bool held_;
    };

    using ActiveSet = std::array<bool, kNumParams>; ///< ordered by index; fixed, so never allocates

    static bool validIndex(uint32_t index) { return index < static_cast<uint32_t>(kNumParams); }
    AutomationResult setParamValue(uint32_t index, float value, bool countAsSent);
    /// The effect's present value of `index`, or kNotSent without a source. Read before the set
    /// lock is taken, so that the effect is never called with the lock held.
    float presentValue(uint32_t index) const;
    /// Under the set lock: puts `index` into the active set. When it was not in it and a
    /// present-value source is set, the record adopts the effect's value, which counts as sent.
    void activate(uint32_t index, float present);
    AutomationResult addToRecord(uint32_t index, const EnvelopeSegment* segments, size_t count);

    std::unique_ptr<ActiveSetLock> lock_;
    PresentValueSource* presentValues_ = nullptr;
    std::array<ParamEnvelope, kNumParams> envelopes_;
    std::atomic<int32_t> sampleRate_{kDefaultSampleRate};
    // Guarded by the set lock:
    ActiveSet active_{};
    std::array<float, kNumParams> lastSent_;
};

} // namespace pellucer::dx
