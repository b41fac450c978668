#pragma once

// Stand-ins for the effect filter's unit tests, which link the DirectX shell's objects directly:
// a recording effect behind a VST entry of its own, media samples and an allocator in memory,
// pins that play the upstream and downstream neighbours, float stereo media types, and a
// sequencer host context.

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/AudioEffect.h"
#include "dx/filter/EffectFilter.h"
#include "dx/midi/SequencerInterfaces.h"
#include "dx/base/MediaType.h"
#include "tests/dx/win32/GraphTestSupport.h"
#include "vst/VstAbi.h"

namespace pellucer::dx::effecttest {

// -- a recording effect ----------------------------------------------------------------------------

/// What the recording effect saw, in order: "P<frames>" per processing call, "S<index>=<value>"
/// per parameter, and the dispatcher opcodes and sample rates apart.
struct EffectLog {
    std::vector<std::string> events;
    std::vector<vst::VstInt32> opcodes;
    std::vector<float> sampleRates;
    bool destroyed = false;
    /// The recording effect also writes buffers 2 and 3 (the second output pin's): -left, -right.
    bool writeSecondPair = false;
    /// Host time information read at each processing call (tempo, ppqPos).
    std::vector<double> tempos;
    std::vector<double> ppqPositions;

    void reset() { *this = EffectLog{}; }
    std::vector<int> processedFrames() const {
        std::vector<int> frames;
        for (const auto& e : events)
            if (e[0] == 'P')
                frames.push_back(std::stoi(e.substr(1)));
        return frames;
    }
};
inline EffectLog gEffectLog;

/// Passes its input through (left to buffer 0, right to buffer 1) and records every call.
class RecordingEffect final : public pellucer::AudioEffect {
public:
    explicit RecordingEffect(vst::audioMasterCallback host) : AudioEffect(host, 1, 39) {
        setNumInputs(2);
        setNumOutputs(2);
        canProcessReplacing(true);
    }
    ~RecordingEffect() override { gEffectLog.destroyed = true; }

    vst::VstIntPtr dispatcher(int32_t opcode, int32_t index, vst::VstIntPtr value, void* ptr,
                              float opt) override {
        gEffectLog.opcodes.push_back(opcode);
        return AudioEffect::dispatcher(opcode, index, value, ptr, opt);
    }
    void setSampleRate(float rate) override {
        gEffectLog.sampleRates.push_back(rate);
        AudioEffect::setSampleRate(rate);
    }
    void setParameter(int32_t index, float value) override {
        std::string event = "S";
        event.append(std::to_string(index)).append("=").append(std::to_string(value));
        gEffectLog.events.push_back(event);
    }
    void processReplacing(float** inputs, float** outputs, int32_t frames) override {
        std::string event = "P";
        event.append(std::to_string(frames));
        gEffectLog.events.push_back(event);
        auto* time = reinterpret_cast<vst::VstTimeInfo*>(callHost(vst::audioMasterGetTime, 0, 0x603));
        gEffectLog.tempos.push_back(time != nullptr ? time->tempo : -1.0);
        gEffectLog.ppqPositions.push_back(time != nullptr ? time->ppqPos : -1.0);
        for (int32_t i = 0; i < frames; ++i) {
            outputs[0][i] = inputs[0][i];
            outputs[1][i] = inputs[1][i];
            if (gEffectLog.writeSecondPair) {
                outputs[2][i] = -inputs[0][i];
                outputs[3][i] = -inputs[1][i];
            }
        }
    }
    void processDoubleReplacing(double**, double**, int32_t) override {}
};

/// A VST entry that hands out the recording effect.
inline vst::AEffect* recordingEntry(vst::audioMasterCallback host) {
    if (host == nullptr || host(nullptr, vst::audioMasterVersion, 0, 0, nullptr, 0.0f) == 0)
        return nullptr;
    return (new RecordingEffect(host))->getAeffect();
}

// -- samples and allocator -------------------------------------------------------------------------------

/// A media sample in memory. Starts with one reference (the creator's) and ends at 0.
class FakeSample final : public IMediaSample {
public:
    explicit FakeSample(long size, int* live = nullptr) : data_(static_cast<size_t>(size)), live_(live) {
        if (live_ != nullptr)
            ++*live_;
    }
    ~FakeSample() {
        if (live_ != nullptr)
            --*live_;
    }

    /// Interleaved stereo input: left = 0.001·i, right = −0.0005·i, then `extraBytes` of 0x7F.
    static FakeSample* stereoRamp(int frames, int extraBytes = 0) {
        auto* sample = new FakeSample(frames * 8 + extraBytes);
        for (int i = 0; i < frames; ++i) {
            const float frame[2] = {0.001f * static_cast<float>(i % 1000),
                                    -0.0005f * static_cast<float>(i % 1000)};
            std::memcpy(sample->data_.data() + static_cast<size_t>(i) * 8, frame, 8);
        }
        std::memset(sample->data_.data() + static_cast<size_t>(frames) * 8, 0x7F,
                    static_cast<size_t>(extraBytes));
        sample->actual_ = frames * 8 + extraBytes;
        return sample;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMediaSample)) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long count = --references_;
        if (count == 0)
            delete this;
        return static_cast<ULONG>(count);
    }

    HRESULT STDMETHODCALLTYPE GetPointer(BYTE** buffer) override {
        if (buffer == nullptr)
            return E_POINTER;
        *buffer = nullPointer_ ? nullptr : data_.data();
        return S_OK;
    }
    long STDMETHODCALLTYPE GetSize() override { return static_cast<long>(data_.size()); }
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override {
        if (!timeValid_)
            return VFW_E_SAMPLE_TIME_NOT_SET;
        *start = start_;
        if (!stopValid_) {
            *stop = start_ + 1;
            return VFW_S_NO_STOP_TIME;
        }
        *stop = stop_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override {
        timeValid_ = start != nullptr;
        stopValid_ = start != nullptr && stop != nullptr;
        start_ = start != nullptr ? *start : 0;
        stop_ = stop != nullptr ? *stop : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return syncPoint_ ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL value) override {
        syncPoint_ = value != FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsPreroll() override { return preroll_ ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetPreroll(BOOL value) override {
        preroll_ = value != FALSE;
        return S_OK;
    }
    long STDMETHODCALLTYPE GetActualDataLength() override { return actual_; }
    HRESULT STDMETHODCALLTYPE SetActualDataLength(long length) override {
        if (length < 0 || length > GetSize())
            return VFW_E_BUFFER_OVERFLOW;
        actual_ = length;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** type) override {
        *type = nullptr;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return discontinuity_ ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL value) override {
        discontinuity_ = value != FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG*, LONGLONG*) override { return VFW_E_MEDIA_TIME_NOT_SET; }
    HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }

    /// GetPointer answers a null buffer.
    void setNullPointer() { nullPointer_ = true; }
    std::vector<BYTE>& bytes() { return data_; }

private:
    std::vector<BYTE> data_;
    int* live_;
    long references_ = 1;
    long actual_ = 0;
    bool nullPointer_ = false;
    bool timeValid_ = false;
    bool stopValid_ = false;
    REFERENCE_TIME start_ = 0;
    REFERENCE_TIME stop_ = 0;
    bool syncPoint_ = false;
    bool preroll_ = false;
    bool discontinuity_ = false;
};

/// Hands out FakeSamples of the size it was given; counts the ones alive.
class FakeAllocator final : public IMemAllocator {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMemAllocator)) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request,
                                            ALLOCATOR_PROPERTIES* actual) override {
        requested = *request;
        properties = *request;
        if (sizeOverride > 0)
            properties.cbBuffer = sizeOverride;
        *actual = properties;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* out) override {
        *out = properties;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Commit() override {
        committed = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Decommit() override {
        committed = false;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*,
                                        DWORD) override {
        *sample = nullptr;
        if (!committed)
            return VFW_E_NOT_COMMITTED;
        auto* fresh = new FakeSample(properties.cbBuffer, &liveSamples);
        // Stale settings, as a recycled sample would carry.
        REFERENCE_TIME stale = 777;
        fresh->SetTime(&stale, &stale);
        *sample = fresh;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample*) override { return S_OK; }

    long references = 0;
    bool committed = false;
    /// Grants buffers of this size whatever is asked (0: as asked).
    long sizeOverride = 0;
    ALLOCATOR_PROPERTIES requested{};
    ALLOCATOR_PROPERTIES properties{};
    int liveSamples = 0;
};

// -- neighbouring pins ------------------------------------------------------------------------------------

/// What a downstream pin received.
struct Delivery {
    std::vector<float> samples;
    HRESULT timeResult = E_FAIL;
    REFERENCE_TIME start = 0;
    bool discontinuity = false;
    bool syncPoint = false;
};

/// A neighbour pin: upstream (PINDIR_OUTPUT) for our input pin, downstream (PINDIR_INPUT, with
/// IMemInputPin and an allocator) for an output pin. Lives on the stack; never deletes itself.
class FakePin final : public IPin, public IMemInputPin {
public:
    explicit FakePin(PIN_DIRECTION direction = PINDIR_INPUT) : direction_(direction) {}
    ~FakePin() { Disconnect(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin))
            *object = static_cast<IPin*>(this);
        else if (IsEqualIID(iid, IID_IMemInputPin) && direction_ == PINDIR_INPUT)
            *object = static_cast<IMemInputPin*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }

    // IPin
    HRESULT STDMETHODCALLTYPE Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override {
        if (refuseConnection)
            return VFW_E_TYPE_NOT_ACCEPTED;
        connector->AddRef();
        connected = connector;
        copyMediaType(connectionType, *type);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Disconnect() override {
        if (connected == nullptr)
            return S_FALSE;
        connected->Release();
        connected = nullptr;
        freeMediaType(connectionType);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override {
        *pin = connected;
        if (connected == nullptr)
            return VFW_E_NOT_CONNECTED;
        connected->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override {
        *direction = direction_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndOfStream() override {
        ++endOfStreams;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE BeginFlush() override {
        ++beginFlushes;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EndFlush() override {
        ++endFlushes;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME, double) override {
        ++newSegments;
        segmentStart = start;
        return S_OK;
    }

    // IMemInputPin
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** out) override {
        allocator.AddRef();
        *out = &allocator;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* notified, BOOL) override {
        notifiedAllocator = notified;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override {
        Delivery delivery;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const long length = sample->GetActualDataLength();
        delivery.samples.resize(static_cast<size_t>(length) / sizeof(float));
        if (length > 0)
            std::memcpy(delivery.samples.data(), data, delivery.samples.size() * sizeof(float));
        REFERENCE_TIME stop = 0;
        delivery.timeResult = sample->GetTime(&delivery.start, &stop);
        delivery.discontinuity = sample->IsDiscontinuity() == S_OK;
        delivery.syncPoint = sample->IsSyncPoint() == S_OK;
        deliveries.push_back(std::move(delivery));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample**, long, long*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_FALSE; }

    long references = 0;
    IPin* connected = nullptr;
    AM_MEDIA_TYPE connectionType{};
    bool refuseConnection = false;
    FakeAllocator allocator;
    IMemAllocator* notifiedAllocator = nullptr;
    std::vector<Delivery> deliveries;
    int endOfStreams = 0;
    int beginFlushes = 0;
    int endFlushes = 0;
    int newSegments = 0;
    REFERENCE_TIME segmentStart = 0;

private:
    PIN_DIRECTION direction_;
};

// -- a filter with neighbours ------------------------------------------------------------------------------

/// An effect filter built directly (the recording effect unless told otherwise), with an
/// upstream pin for its input and a downstream pin for each output. Tears everything down in
/// the order a graph would: stop, disconnect, release.
class FilterRig {
public:
    explicit FilterRig(VstEffectAdapter::EntryPoint entry = &recordingEntry) {
        gEffectLog.reset();
        filter = new EffectFilter(nullptr, nullptr, &created, entry);
        filter->nonDelegatingUnknown()->AddRef();
    }
    ~FilterRig() {
        filter->Stop();
        for (int k = 0; k < filter->outputPinCount() && k < EffectFilter::kInitialOutputPins; ++k) {
            filter->outputPin(k)->Disconnect();
            downstream[k].Disconnect();
        }
        filter->inputPin().Disconnect();
        upstream.Disconnect();
        filter->nonDelegatingUnknown()->Release();
    }
    FilterRig(const FilterRig&) = delete;
    FilterRig& operator=(const FilterRig&) = delete;

    HRESULT connectInput(DWORD rate) {
        const graphtest::AudioType type = graphtest::floatType(rate);
        return filter->inputPin().ReceiveConnection(&upstream, type.ptr());
    }
    /// Connects output `k` to its downstream pin, negotiating the type when none is given.
    HRESULT connectOutput(int k, const AM_MEDIA_TYPE* type = nullptr) {
        return filter->outputPin(k)->Connect(&downstream[k], type);
    }
    /// Input at `rate` and output 0 connected, the filter running.
    void startStreaming(DWORD rate = 48000) {
        ASSERT_EQ(S_OK, connectInput(rate));
        ASSERT_EQ(S_OK, connectOutput(0));
        ASSERT_EQ(S_OK, filter->Run(0));
    }
    HRESULT receive(FakeSample* sample) {
        const HRESULT result = filter->inputPin().Receive(sample);
        sample->Release();
        return result;
    }

    HRESULT created = S_OK;
    EffectFilter* filter = nullptr;
    FakePin upstream{PINDIR_OUTPUT};
    FakePin downstream[EffectFilter::kInitialOutputPins];
};

// -- a sequencer host
// ----------------------------------------------------------------------------------------

/// The context a sequencer host passes to Connect: tempo map, time converter (samples = 2 × host
/// time) and pin-change sink, each of which can be left out.
class FakeSequencerHost final : public IHostTempoMap, public IHostTimeConverter, public IPinChangeSink {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        *object = nullptr;
        if (IsEqualIID(iid, IID_IUnknown))
            *object = static_cast<IHostTempoMap*>(this);
        else if (IsEqualIID(iid, kIidHostTempoMap) && offersTempoMap)
            *object = static_cast<IHostTempoMap*>(this);
        else if (IsEqualIID(iid, kIidHostTimeConverter) && offersConverter)
            *object = static_cast<IHostTimeConverter*>(this);
        else if (IsEqualIID(iid, kIidPinChangeSink) && offersPinSink)
            *object = static_cast<IPinChangeSink*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    /// The context as the host passes it.
    IUnknown* context() { return static_cast<IHostTempoMap*>(this); }

    HRESULT STDMETHODCALLTYPE GetTempoAt(LONGLONG hostTime, LONG* hundredthsBpm) override {
        tempoQueries.push_back(hostTime);
        *hundredthsBpm = tempo;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE HostTimeToSamples(LONGLONG hostTime, LONGLONG* samples) override {
        *samples = 2 * hostTime;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SamplesToHostTime(LONGLONG samples, LONGLONG* hostTime) override {
        *hostTime = samples / 2;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnPinsChanged(DWORD code, IBaseFilter*, LONG pinCount) override {
        pinChanges.push_back({code, pinCount});
        return code == kPinsChanging ? answerToChanging : S_OK;
    }

    long references = 0;
    bool offersTempoMap = true;
    bool offersConverter = true;
    bool offersPinSink = true;
    LONG tempo = 12000;
    HRESULT answerToChanging = S_OK;
    std::vector<LONGLONG> tempoQueries;
    std::vector<std::pair<DWORD, LONG>> pinChanges;
};

} // namespace pellucer::dx::effecttest
