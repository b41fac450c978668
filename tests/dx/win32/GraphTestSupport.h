#pragma once

// Helpers for the graph tests: the effect filter created through the module's class object, the
// effect record it hands out, a reference effect made by the same module's VST entry, a filter
// graph with its control interfaces, the test signal, and a source and a sink filter built on the
// module's own DirectShow base (dx/base), as small as Wine's filter graph allows.

#ifndef STRSAFE_NO_DEPRECATE
#define STRSAFE_NO_DEPRECATE
#endif
#include <windows.h>

#include <dshow.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "dx/base/InputPinBase.h"
#include "dx/automation/MediaParamsInterfaces.h"
#include "dx/base/OutputPinBase.h"
#include "tests/dx/win32/DxTestSupport.h"
#include "vst/VstAbi.h"

namespace pellucer::dx::graphtest {

using test::ComApartment;
using test::ComPtr;
using test::IEffectRecordAccess;
using test::moduleCanUnloadNow;

// ---- media types ------------------------------------------------------------------------------

/// A copyable audio media type with its wave format inside.
class AudioType {
public:
    AudioType(WORD formatTag, WORD channels, WORD bitsPerSample, DWORD sampleRate, const GUID* subFormat = nullptr);
    AudioType(const AudioType& other) : AudioType(other.format_) {}
    AudioType& operator=(const AudioType&) = delete;
    const AM_MEDIA_TYPE& get() const { return type_; }
    const AM_MEDIA_TYPE* ptr() const { return &type_; }
    const WAVEFORMATEX& wave() const { return format_.Format; }

private:
    explicit AudioType(const WAVEFORMATEXTENSIBLE& format);
    void point();
    WAVEFORMATEXTENSIBLE format_{};
    AM_MEDIA_TYPE type_{};
};

AudioType floatType(DWORD sampleRate, WORD channels = 2);
AudioType pcmType(DWORD sampleRate, WORD channels, WORD bitsPerSample);
AudioType extensibleType(DWORD sampleRate, WORD channels, WORD bitsPerSample, bool isFloat);
/// KSDATAFORMAT_SUBTYPE_IEEE_FLOAT as published.
extern const GUID kSubFormatIeeeFloat;
/// Whether a type is 32-bit float stereo at `rate`.
bool isFloatStereo(const AM_MEDIA_TYPE& type, DWORD rate);

// ---- the source -------------------------------------------------------------------------------

/// One sample of a plan: its length in bytes and the flags it carries.
struct SampleSpec {
    uint32_t bytes = 0;
    std::optional<REFERENCE_TIME> start; ///< start time (with stop = start + 1 when set)
    bool discontinuity = false;
    bool syncPoint = true;
    bool preroll = false;
};

/// What a source delivers: consecutive slices of `bytes`, then (optionally) end of stream.
struct StreamPlan {
    std::vector<uint8_t> bytes;
    std::vector<SampleSpec> samples;
    bool endOfStream = true;
    /// Interleaved floats cut into samples of the given frame counts (repeated to the end).
    static StreamPlan frames(const std::vector<float>& interleaved, int channels, const std::vector<uint32_t>& sizes);
    uint32_t largestSample() const;
};

class TestSource;

class SourcePin final : public OutputPinBase {
public:
    explicit SourcePin(TestSource& source);
    HRESULT checkMediaType(const AM_MEDIA_TYPE* type) override;
    HRESULT getMediaType(int position, AM_MEDIA_TYPE& type) override;

protected:
    HRESULT decideBufferSize(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& requested) override;

private:
    TestSource& source_;
};

/// Offers its types in order and delivers a StreamPlan, from the test's thread or its own.
class TestSource final : public FilterBase {
public:
    static TestSource* create(std::vector<AudioType> offered, uint32_t bufferBytes = 32768);
    PELLUCER_DELEGATING_UNKNOWN
    HRESULT STDMETHODCALLTYPE Stop() override;
    int pinCount() override { return 1; }
    PinBase* pinAt(int index) override { return index == 0 ? &pin_ : nullptr; }

    IPin* outputPin() { return &pin_; }
    /// Delivers every sample (answers the first failure), then end of stream.
    HRESULT deliver(const StreamPlan& plan);
    /// Calls BeginFlush and EndFlush on the connected pin, as a seeking source does.
    HRESULT flush();
    void startStreaming(StreamPlan plan);
    HRESULT finishStreaming();
    /// What each Receive answered.
    std::vector<HRESULT> receiveResults() const;

private:
    friend class SourcePin;
    TestSource(std::vector<AudioType> offered, uint32_t bufferBytes);
    ~TestSource() override;

    CriticalSection lock_;
    std::vector<AudioType> offered_;
    uint32_t bufferBytes_;
    SourcePin pin_;
    mutable std::mutex recordLock_;
    std::vector<HRESULT> receiveResults_;
    std::thread streaming_;
    HRESULT streamingResult_ = S_OK;
};

// ---- the sink ---------------------------------------------------------------------------------

/// One sample as the sink received it.
struct ReceivedSample {
    std::vector<uint8_t> bytes; ///< the first GetActualDataLength bytes
    long actualLength = 0;
    HRESULT timeResult = VFW_E_SAMPLE_TIME_NOT_SET; ///< what GetTime answered
    REFERENCE_TIME start = 0;
    bool discontinuity = false;
    bool syncPoint = false;
    bool preroll = false;
    DWORD threadId = 0;        ///< the thread that delivered it
    LONGLONG arrivalTicks = 0; ///< QueryPerformanceCounter on arrival
};

class TestSink;

class SinkPin final : public InputPinBase {
public:
    explicit SinkPin(TestSink& sink);
    HRESULT checkMediaType(const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;

protected:
    HRESULT receiveSample(IMediaSample* sample) override;

private:
    TestSink& sink_;
};

/// Takes every audio type and records what arrives. A renderer (IAMFilterMiscFlags), so that
/// Wine's graph waits for its end of stream before EC_COMPLETE.
class TestSink final : public FilterBase, public IAMFilterMiscFlags {
public:
    static TestSink* create();
    PELLUCER_DELEGATING_UNKNOWN
    HRESULT nonDelegatingQueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }
    int pinCount() override { return 1; }
    PinBase* pinAt(int index) override { return index == 0 ? &pin_ : nullptr; }

    IPin* inputPin() { return &pin_; }
    SinkPin& sinkPin() { return pin_; }
    std::vector<ReceivedSample> received() const;
    /// Every received sample's data as 32-bit floats (whole floats only).
    std::vector<float> receivedFloats() const;
    int endOfStreamCount() const { return endOfStreams_; }
    int beginFlushCount() const { return beginFlushes_; }
    int endFlushCount() const { return endFlushes_; }

private:
    friend class SinkPin;
    TestSink();
    ~TestSink() override = default;

    CriticalSection lock_;
    SinkPin pin_;
    mutable std::mutex recordLock_;
    std::vector<ReceivedSample> received_;
    volatile LONG endOfStreams_ = 0;
    volatile LONG beginFlushes_ = 0;
    volatile LONG endFlushes_ = 0;
};

/// The effect filter, made through the module's DllGetClassObject and IClassFactory (no
/// registration involved). Answers what CreateInstance answered.
HRESULT createEffectFilter(ComPtr<IBaseFilter>& filter);

/// The effect record of a filter, through its effect-access interface (null when refused).
vst::AEffect* effectRecordOf(IBaseFilter* filter);

/// A program and parameter values to give an effect, in that order; a negative program leaves
/// the effect's current program as it is.
struct EffectSettings {
    int32_t program = -1;
    std::vector<std::pair<int32_t, float>> parameters;
    void applyTo(vst::AEffect* effect) const;
};

/// Most stages on, with settings away from their defaults.
EffectSettings busySettings();
/// Another busy program, different from busySettings().
EffectSettings otherBusySettings();

/// A value sent to an effect before the piece of the stream that starts at `frame`.
struct ParameterPush {
    int64_t frame = 0;
    int32_t index = 0;
    float value = 0.0f;
};

/// An effect from the same module's VST entry, driven as the filter drives its own: the sample
/// rate through setSampleRate only, then the same settings, then processReplacing in the same
/// block sizes.
class ReferenceEffect {
public:
    ReferenceEffect(float sampleRate, const EffectSettings& settings);
    ~ReferenceEffect();
    ReferenceEffect(const ReferenceEffect&) = delete;
    ReferenceEffect& operator=(const ReferenceEffect&) = delete;

    vst::AEffect* effect() const { return effect_; }
    /// Interleaved stereo in, interleaved stereo out, in blocks of the given frame counts (each
    /// at most 32,767 frames; zero-frame blocks are skipped).
    std::vector<float> process(const std::vector<float>& interleaved, const std::vector<uint32_t>& blockFrames);
    /// Interleaved stereo in and out, in pieces cut at every frame of `cuts` (any order,
    /// duplicates allowed; pieces longer than 32,767 frames are cut further), with each push
    /// sent through setParameter before the piece that starts at its frame, as the filter's
    /// automation does.
    std::vector<float> processInPieces(const std::vector<float>& interleaved, std::vector<int64_t> cuts,
                                       const std::vector<ParameterPush>& pushes);

private:
    vst::AEffect* effect_ = nullptr;
};

/// An envelope segment as a host hands it to AddEnvelope.
inline MP_ENVELOPE_SEGMENT segment(REFERENCE_TIME start, REFERENCE_TIME end, float a, float b, int curve) {
    MP_ENVELOPE_SEGMENT s{};
    s.rtStart = start;
    s.rtEnd = end;
    s.valStart = a;
    s.valEnd = b;
    s.iCurve = static_cast<MP_CURVE_TYPE>(curve);
    s.flags = kEnvelopeStandard;
    return s;
}

/// Frame counts of a plan's samples (whole stereo float frames of each slice).
std::vector<uint32_t> framesOf(const StreamPlan& plan);

/// A deterministic stereo test signal (noise and two sines, different on the two channels),
/// interleaved.
std::vector<float> testSignal(size_t frames, double sampleRate, uint32_t seed);

/// Bit-exact comparison of two float streams, with the first differences in the message.
::testing::AssertionResult sameSamples(const std::vector<float>& expected, const std::vector<float>& actual);

/// A fresh CLSID_FilterGraph with its control and event interfaces.
class Graph {
public:
    Graph();
    ~Graph();
    Graph(const Graph&) = delete;
    Graph& operator=(const Graph&) = delete;

    bool valid() const { return static_cast<bool>(builder) && static_cast<bool>(control) && static_cast<bool>(events); }
    HRESULT add(IBaseFilter* filter, const wchar_t* name) { return builder->AddFilter(filter, name); }
    HRESULT connect(IPin* out, IPin* in, const AM_MEDIA_TYPE* type = nullptr) {
        return builder->ConnectDirect(out, in, type);
    }
    HRESULT run();
    HRESULT stop();
    /// Waits for the next event of the given code; answers whether it came in time.
    bool waitForEvent(long code, DWORD timeoutMs);

    ComPtr<IGraphBuilder> builder;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
};

/// The pins of a filter in EnumPins order.
std::vector<ComPtr<IPin>> pinsOf(IBaseFilter* filter);
/// A pin's name from QueryPinInfo.
std::wstring pinName(IPin* pin);
/// The pin a pin is connected to, or null.
ComPtr<IPin> peerOf(IPin* pin);

/// Source → effect filter → sinks on the first outputs, in one graph.
class EffectChain {
public:
    EffectChain() = default;
    ~EffectChain();
    EffectChain(const EffectChain&) = delete;
    EffectChain& operator=(const EffectChain&) = delete;

    /// Builds the graph: adds the filter, a source offering `offered` and `sinkCount` sinks,
    /// connects the source to "Input" and sink k to output pin k + 1. Gtest assertions inside.
    void build(std::vector<AudioType> offered, uint32_t bufferBytes, int sinkCount);
    /// Settings for the filter's own effect.
    void apply(const EffectSettings& settings) const;

    Graph graph;
    ComPtr<IBaseFilter> filter;
    ComPtr<TestSource> source;
    std::vector<ComPtr<TestSink>> sinks;
    std::vector<ComPtr<IPin>> pins; ///< the filter's pins: "Input", then "Output 1".."Output 8"
    vst::AEffect* effect = nullptr;
};

} // namespace pellucer::dx::graphtest
