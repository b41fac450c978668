#pragma once

// Envelope records of DirectX parameter automation: the host hands each parameter a list of
// curved segments in reference time (100-ns units); a record keeps them sorted, snaps them to the
// sample grid and evaluates them at the times the filter asks for.
//
// Plain C++ with no Windows headers: the COM objects (IMediaParams, IMediaParamInfo) are thin
// wrappers over this file and AutomationTimeline.h, and everything here is tested natively.

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "core/Parameters.h"

namespace pellucer::dx {

/// Reference time: 100-ns units, as DirectShow counts.
using ReferenceTime = int64_t;
constexpr double kReferenceTimePerSecond = 10'000'000.0;

// Curve shapes (MP_CURVE_TYPE); a segment with any other code is followed as a sine.
constexpr int32_t kCurveJump = 1;
constexpr int32_t kCurveLinear = 2;
constexpr int32_t kCurveSquare = 4;
constexpr int32_t kCurveInvSquare = 8;
constexpr int32_t kCurveSine = 16;

/// One envelope segment, laid out byte for byte as the published MP_ENVELOPE_SEGMENT so that the
/// COM layer can take the host's array as it is.
struct EnvelopeSegment {
    int64_t rtStart; ///< reference time
    int64_t rtEnd;   ///< reference time
    float valStart;  ///< host units
    float valEnd;    ///< host units
    int32_t iCurve;  ///< kCurveJump ... kCurveSine
    uint32_t flags;  ///< MPF_ENVLP_* flags; stored, not interpreted
};
static_assert(sizeof(EnvelopeSegment) == 32);
static_assert(offsetof(EnvelopeSegment, rtStart) == 0 && offsetof(EnvelopeSegment, rtEnd) == 8 &&
              offsetof(EnvelopeSegment, valStart) == 16 && offsetof(EnvelopeSegment, valEnd) == 20 &&
              offsetof(EnvelopeSegment, iCurve) == 24 && offsetof(EnvelopeSegment, flags) == 28);

// ---- parameter information --------------------------------------------------------------------

// MP_TYPE values.
constexpr int32_t kMpTypeInt = 0;
constexpr int32_t kMpTypeFloat = 1;
constexpr int32_t kMpTypeBool = 2;
constexpr int32_t kMpTypeEnum = 3;
/// MP_CAPS_CURVE_JUMP | _LINEAR | _SQUARE | _INVSQUARE | _SINE.
constexpr uint32_t kAllCurveCapabilities = 0x1f;
/// sizeof(MP_PARAMINFO): the leading part of a ParamInfo that GetParamInfo copies.
constexpr size_t kMpParamInfoBytes = 148;

/// What automation knows of one parameter. The first 148 bytes are laid out as the published
/// MP_PARAMINFO (host units); the internal range is the effect's own.
struct ParamInfo {
    int32_t mpType;    ///< kMpTypeBool for the on/off parameters, kMpTypeFloat otherwise
    uint32_t mopCaps;  ///< curve capabilities
    float mpdMinValue; ///< host units
    float mpdMaxValue;
    float mpdNeutralValue;
    char16_t szUnitText[32];
    char16_t szLabel[32]; ///< the parameter's name
    float internalMin;    ///< effect units
    float internalMax;
    /// Comma-separated names of an enumerated parameter's values, or null.
    const char16_t* enumerationText;
};
static_assert(offsetof(ParamInfo, internalMin) == kMpParamInfoBytes);

/// The 39 rows in parameter order: every parameter exchanged with the host in [0, 1].
const std::array<ParamInfo, kNumParams>& automationParamInfo();

/// The text block GetParamText hands out, as UTF-16 units including every terminating zero:
/// label, 0, unit, 0, then the enumeration names each followed by 0 (commas become zeros), and a
/// final 0. Without enumeration text: label, 0, unit, 0, 0.
std::vector<char16_t> paramTextBlock(const ParamInfo& info);

/// Host units to the effect's units. Float rows map linearly; bool rows give 1 at 0.5 or more,
/// else 0; other types map linearly and round to the integer below (value + 0.5). NaN stays NaN
/// so that the caller can keep the previous value.
float toInternal(const ParamInfo& info, float hostValue);
/// The effect's units to host units: bool rows unchanged, others by the inverse linear map.
float toHost(const ParamInfo& info, float internalValue);

// ---- time grid --------------------------------------------------------------------------------

// Conversions between reference time and samples multiply by the sample rate and divide by
// 10,000,000 in that order (not by a precomputed factor rate / 10^7), so that times on a whole
// sample stay exact: with the rounded factor, 0.01 s at 48 kHz would fall on sample 479.

/// Conversion of a double to int64 by truncation toward zero, saturating at the int64 range
/// (NaN gives 0): times from a host may be anywhere in the 64-bit range.
int64_t truncateToInt64(double value);
/// Rounding to the nearest int64, halves away from zero, saturating: for the non-negative times
/// hosts use this is the integer part of value + 0.5, and negative times mirror positive ones.
int64_t roundToInt64(double value);
/// A reference time moved onto the sample grid: the sample s = trunc(t * rate / 10^7), then back
/// to reference time, rounded. 12,345 at 48 kHz gives 12,292 (sample 59). A rate of 0 or less
/// leaves the time as it is.
ReferenceTime snapToSampleGrid(ReferenceTime time, int32_t sampleRate);
/// The sample nearest to a reference time.
int64_t sampleAt(ReferenceTime time, int32_t sampleRate);

/// Index of the last segment whose rtStart is not after `time`, or -1 when there is none. A
/// bisection over segments sorted by rtStart; with several segments starting exactly at `time`
/// any one of them may be answered.
std::ptrdiff_t findSegment(std::span<const EnvelopeSegment> segments, ReferenceTime time);

/// The value of a segment's curve at fraction x (0..1) of its length, from a to b (effect units).
double curveValue(int32_t curve, double a, double b, double x);

// ---- the record -------------------------------------------------------------------------------

/// The envelope record of one parameter. Every member function takes the record's own lock, so
/// any thread may call any of them; evaluation and the boundary query run on the streaming thread
/// and do not allocate.
class ParamEnvelope {
public:
    /// The most segments one record holds (64 MB); an add that would exceed it is refused.
    static constexpr size_t kMaxSegments = size_t{1} << 21;

    enum class AddResult { ok, tooMany, outOfMemory };

    explicit ParamEnvelope(const ParamInfo& info) : info_(info) {}
    ParamEnvelope(const ParamEnvelope&) = delete;
    ParamEnvelope& operator=(const ParamEnvelope&) = delete;

    const ParamInfo& info() const { return info_; }

    /// An explicit value from the host (host units): it holds until an envelope segment takes
    /// over. NaN keeps the value the parameter has now; other values are clamped to the internal
    /// range. Answers the stored internal value.
    float setValue(float hostValue);

    /// Takes up the value the effect has (effect units) as the record's value, explicitly set or
    /// not, unless the record is in capture (the editor's value holds). NaN keeps the present
    /// value; others are clamped. Answers the effective value afterwards.
    float adoptValue(float effectValue);

    /// Adds segments (host units), each snapped to the sample grid of `sampleRate`. When the
    /// earliest new start lies before the furthest time evaluated so far, the stored segments the
    /// search places before it are dropped, so that a host re-sending an envelope from an earlier
    /// point replaces the old one. Allocates (not for the streaming thread). On failure nothing
    /// changes.
    AddResult addSegments(const EnvelopeSegment* segments, size_t count, int32_t sampleRate);

    /// Removes every segment that overlaps [start, end] (INT64_MIN and INT64_MAX stand for open
    /// ends and are not snapped); the furthest evaluated time starts again at 0. A parameter left
    /// without segments, neither set explicitly nor in capture, holds its current value.
    void flush(ReferenceTime start, ReferenceTime end, int32_t sampleRate);

    /// Moves the record to reference time `time` and answers its effective value (effect units).
    float evaluate(ReferenceTime time);

    /// The last explicitly set value while the record is set explicitly or in capture, else the
    /// envelope's current value (effect units).
    float effectiveValue() const;
    /// The effective value in host units (what GetParam answers).
    float hostValue() const;

    void beginCapture();
    void endCapture();
    bool inCapture() const;
    bool explicitlySet() const;
    ReferenceTime furthestEvaluatedTime() const;

    size_t segmentCount() const;
    /// A copy of the stored segments (sorted by rtStart, snapped).
    std::vector<EnvelopeSegment> segments() const;

    /// Appends the start and end sample of every segment that falls within [from, to). Does not
    /// allocate while `out` has capacity left.
    void appendBoundaries(int64_t from, int64_t to, int32_t sampleRate, std::vector<int64_t>& out) const;

private:
    float effectiveLocked() const { return explicitlySet_ || capture_ ? lastSetValue_ : currentValue_; }
    /// NaN keeps `previous`; anything else is clamped to the internal range.
    float sanitized(float value, float previous) const;

    mutable std::mutex mutex_;
    const ParamInfo info_;
    std::vector<EnvelopeSegment> segments_; ///< sorted by rtStart, no identical neighbours
    float currentValue_ = 0.0f;             ///< effect units
    float lastSetValue_ = 0.0f;             ///< effect units
    bool explicitlySet_ = false;
    bool capture_ = false;
    ReferenceTime furthestEvaluated_ = 0;
};

} // namespace pellucer::dx
