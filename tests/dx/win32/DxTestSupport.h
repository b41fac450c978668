#pragma once

// Helpers for driving the built module as COM and DirectShow hosts do: its exports, COM pointers,
// media types, a source and a sink on the module's own DirectShow base for Wine's filter graph, and
// a reference effect from the module's VST entry, to which a graph's output is compared bit for bit.

#ifndef STRSAFE_NO_DEPRECATE
#define STRSAFE_NO_DEPRECATE
#endif
#include <windows.h>

#include <dshow.h>
#include <mmreg.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <numbers>
#include <optional>
#include <sstream>
#include <string>
#include <future>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/Parameters.h"
#include "dx/automation/MediaParamsInterfaces.h"
#include "dx/base/InputPinBase.h"
#include "dx/base/MediaType.h"
#include "dx/base/OutputPinBase.h"
#include "dx/server/Identifiers.h"
#include "vst/VstAbi.h"

namespace pellucer::dx::test {

// ---- the module and COM -------------------------------------------------------------------------------

/// The built plug-in module, loaded once per test process (null when it cannot be loaded).
inline HMODULE pellucerModule() {
    static const HMODULE module = LoadLibraryA(PELLUCER_VST_MODULE);
    return module;
}
/// An export of the module as a function pointer of type `F` (null when missing).
template <class F> F moduleProc(const char* name) {
    const FARPROC proc = pellucerModule() != nullptr ? GetProcAddress(pellucerModule(), name) : nullptr;
    EXPECT_NE(proc, nullptr) << name << " not found in " << PELLUCER_VST_MODULE;
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(proc));
}
/// Calls one of the module's exports without arguments (DllCanUnloadNow, DllRegisterServer, ...).
inline HRESULT callExport(const char* name) {
    const auto proc = moduleProc<HRESULT(STDAPICALLTYPE*)()>(name);
    return proc != nullptr ? proc() : E_FAIL;
}
inline HRESULT moduleCanUnloadNow() { return callExport("DllCanUnloadNow"); }
inline HRESULT getClassObject(REFCLSID clsid, REFIID iid, void** object) {
    const auto proc = moduleProc<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>("DllGetClassObject");
    return proc != nullptr ? proc(clsid, iid, object) : E_FAIL;
}

/// COM for the lifetime of one test (or one worker thread).
struct ComApartment {
    explicit ComApartment(DWORD model = COINIT_APARTMENTTHREADED) : result(CoInitializeEx(nullptr, model)) {}
    ~ComApartment() {
        if (SUCCEEDED(result))
            CoUninitialize();
    }
    const HRESULT result;
};

/// Owns one reference to a COM object; `&p` releases it and hands out the slot (T** or void**).
template <class T> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr& other) : p_(other.p_) {
        if (p_ != nullptr)
            p_->AddRef();
    }
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~ComPtr() { Reset(); }
    void Reset() {
        if (p_ != nullptr)
            std::exchange(p_, nullptr)->Release();
    }
    /// Takes over a reference the caller holds.
    void Attach(T* p) {
        Reset();
        p_ = p;
    }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    struct Slot {
        T** slot;
        operator T**() const { return slot; }
        operator void**() const { return reinterpret_cast<void**>(slot); }
    };
    Slot operator&() {
        Reset();
        return {&p_};
    }

private:
    T* p_ = nullptr;
};

/// An object made by the module's class factory, as CoCreateInstance would (no registration involved).
inline HRESULT createFromModule(REFCLSID clsid, REFIID iid, void** object) {
    ComPtr<IClassFactory> factory;
    const HRESULT hr = getClassObject(clsid, IID_IClassFactory, &factory);
    return FAILED(hr) ? hr : factory->CreateInstance(nullptr, iid, object);
}
inline HRESULT createEffectFilter(void** filter) {
    return createFromModule(kClsidEffectFilter, IID_IBaseFilter, filter);
}

/// The filter's effect-access interface as a host declares it: IDispatch, then the effect record.
struct IEffectRecordAccess : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE effectRecord(vst::AEffect** effect) = 0;
};
/// The effect record of a filter (null when refused).
inline vst::AEffect* effectRecordOf(IUnknown* filter) {
    ComPtr<IEffectRecordAccess> access;
    vst::AEffect* effect = nullptr;
    if (SUCCEEDED(filter->QueryInterface(kIidEffectAccess, &access)))
        access->effectRecord(&effect);
    return effect;
}

// ---- media types ----------------------------------------------------------------------------------------

/// KSDATAFORMAT_SUBTYPE_IEEE_FLOAT and _PCM as published.
inline const GUID kSubFormatIeeeFloat = {0x3, 0, 0x10, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
inline const GUID kSubFormatPcm = {0x1, 0, 0x10, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

/// A copyable audio media type with its wave format inside (WAVE_FORMAT_EXTENSIBLE with a sub-format).
class AudioType {
public:
    AudioType(WORD tag, WORD channels, WORD bits, DWORD rate, const GUID* subFormat = nullptr) {
        WAVEFORMATEX& wave = format_.Format;
        wave = {subFormat != nullptr ? WORD{WAVE_FORMAT_EXTENSIBLE} : tag, channels, rate,
                rate * channels * bits / 8, static_cast<WORD>(channels * bits / 8), bits, 0};
        if (subFormat != nullptr) {
            wave.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
            format_.Samples.wValidBitsPerSample = bits;
            format_.dwChannelMask = channels == 2 ? SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT : SPEAKER_FRONT_CENTER;
            format_.SubFormat = *subFormat;
        }
        point();
    }
    AudioType(const AudioType& other) : format_(other.format_) { point(); }
    AudioType& operator=(const AudioType&) = delete;
    const AM_MEDIA_TYPE& get() const { return type_; }
    const AM_MEDIA_TYPE* ptr() const { return &type_; }

private:
    void point() {
        const bool isFloat = format_.Format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
        type_ = {MEDIATYPE_Audio, isFloat ? MEDIASUBTYPE_IEEE_FLOAT : MEDIASUBTYPE_PCM, TRUE, FALSE,
                 format_.Format.nBlockAlign, FORMAT_WaveFormatEx, nullptr,
                 static_cast<ULONG>(sizeof(WAVEFORMATEX) + format_.Format.cbSize), reinterpret_cast<BYTE*>(&format_)};
    }
    WAVEFORMATEXTENSIBLE format_{};
    AM_MEDIA_TYPE type_{};
};
inline AudioType floatType(DWORD rate, WORD channels = 2) { return {WAVE_FORMAT_IEEE_FLOAT, channels, 32, rate}; }
inline AudioType pcmType(DWORD rate, WORD channels, WORD bits) { return {WAVE_FORMAT_PCM, channels, bits, rate}; }

/// Whether a type is 32-bit float stereo at `rate`.
inline bool isFloatStereo(const AM_MEDIA_TYPE& type, DWORD rate) {
    const WAVEFORMATEX* wave = waveFormatOf(type);
    return IsEqualGUID(type.majortype, MEDIATYPE_Audio) && wave != nullptr &&
           wave->wFormatTag == WAVE_FORMAT_IEEE_FLOAT && wave->nChannels == 2 && wave->wBitsPerSample == 32 &&
           wave->nBlockAlign == 8 && wave->nSamplesPerSec == rate;
}

// ---- what a source delivers -----------------------------------------------------------------------------

/// One sample of a plan: its length in bytes and the flags it carries.
struct PlannedSample {
    uint32_t bytes = 0;
    std::optional<REFERENCE_TIME> start; ///< start time (with stop = start + 1 when set)
    bool discontinuity = false;
    bool preroll = false;
};

/// Consecutive slices of `bytes`, then (optionally) end of stream.
struct StreamPlan {
    std::vector<uint8_t> bytes;
    std::vector<PlannedSample> samples;
    bool endOfStream = true;

    /// Interleaved stereo floats cut into samples of the given byte counts, repeated to the end; a
    /// partial frame at the end of one is 0x7f bytes, loud if they were ever taken as audio.
    static StreamPlan slices(const std::vector<float>& interleaved, const std::vector<uint32_t>& sizes) {
        StreamPlan plan;
        const auto* frames = reinterpret_cast<const uint8_t*>(interleaved.data());
        for (size_t k = 0, done = 0; done < interleaved.size() / 2; ++k) {
            const size_t whole = std::min<size_t>(sizes[k % sizes.size()] / 8, interleaved.size() / 2 - done);
            const uint32_t tail = sizes[k % sizes.size()] % 8;
            plan.bytes.insert(plan.bytes.end(), frames + 8 * done, frames + 8 * (done + whole));
            plan.bytes.insert(plan.bytes.end(), tail, 0x7f);
            plan.samples.emplace_back().bytes = static_cast<uint32_t>(8 * whole + tail);
            done += whole;
        }
        return plan;
    }
    /// Interleaved stereo floats cut into samples of the given frame counts, repeated to the end.
    static StreamPlan frames(const std::vector<float>& interleaved, std::vector<uint32_t> sizes) {
        for (uint32_t& size : sizes)
            size *= 8;
        return slices(interleaved, sizes);
    }
    /// The whole stereo float frames of each sample.
    std::vector<uint32_t> frameCounts() const {
        std::vector<uint32_t> frames;
        for (const PlannedSample& s : samples)
            frames.push_back(s.bytes / 8);
        return frames;
    }
};

// Test-only class identifiers: the graph asks every filter for one.
inline const CLSID kClsidTestSource = {0x5c1e2f70, 0x3d0b, 0x4a57, {0x9a, 0x1e, 0x61, 0x0c, 0x2b, 0x7e, 0x44, 0x01}};
inline const CLSID kClsidTestSink = {0x5c1e2f70, 0x3d0b, 0x4a57, {0x9a, 0x1e, 0x61, 0x0c, 0x2b, 0x7e, 0x44, 0x02}};

// ---- the source -----------------------------------------------------------------------------------------

/// Offers its types in order and delivers a StreamPlan, from the test's thread or its own.
class TestSource final : public FilterBase {
    class Pin final : public OutputPinBase {
    public:
        explicit Pin(TestSource& source) : OutputPinBase(source, L"Output"), source_(source) {}
        HRESULT checkMediaType(const AM_MEDIA_TYPE* type) override {
            for (const AudioType& offered : source_.offered_)
                if (matchesPartialType(offered.get(), *type) && type->cbFormat == offered.get().cbFormat &&
                    std::memcmp(type->pbFormat, offered.get().pbFormat, type->cbFormat) == 0)
                    return S_OK;
            return S_FALSE;
        }
        HRESULT getMediaType(int position, AM_MEDIA_TYPE& type) override {
            if (position < 0 || static_cast<size_t>(position) >= source_.offered_.size())
                return VFW_S_NO_MORE_ITEMS;
            return copyMediaType(type, source_.offered_[static_cast<size_t>(position)].get());
        }

    protected:
        HRESULT decideBufferSize(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& requested) override {
            // Three buffers, each large enough for the largest sample any test delivers.
            ALLOCATOR_PROPERTIES wanted{3, std::max(requested.cbBuffer, 48000L * 8), std::max(requested.cbAlign, 1L),
                                        0};
            ALLOCATOR_PROPERTIES granted{};
            return allocator->SetProperties(&wanted, &granted);
        }

    private:
        TestSource& source_;
    };

public:
    static TestSource* create(std::vector<AudioType> offered) {
        auto* source = new TestSource(std::move(offered));
        source->AddRef();
        return source;
    }
    PELLUCER_DELEGATING_UNKNOWN
    int pinCount() override { return 1; }
    PinBase* pinAt(int index) override { return index == 0 ? &pin_ : nullptr; }
    IPin* outputPin() { return &pin_; }

    /// Delivers every sample, then end of stream; answers the first Receive that is not S_OK.
    HRESULT deliver(const StreamPlan& plan) {
        size_t offset = 0;
        for (const PlannedSample& planned : plan.samples) {
            IMediaSample* sample = nullptr;
            HRESULT hr = pin_.getDeliveryBuffer(&sample, nullptr, nullptr, 0);
            if (FAILED(hr))
                return hr;
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            std::memcpy(data, plan.bytes.data() + offset, planned.bytes);
            offset += planned.bytes;
            sample->SetActualDataLength(static_cast<long>(planned.bytes));
            REFERENCE_TIME start = planned.start.value_or(0), stop = start + 1;
            sample->SetTime(planned.start ? &start : nullptr, planned.start ? &stop : nullptr);
            sample->SetDiscontinuity(planned.discontinuity);
            sample->SetSyncPoint(TRUE);
            sample->SetPreroll(planned.preroll);
            hr = pin_.deliver(sample);
            sample->Release();
            if (hr != S_OK)
                return hr;
        }
        return plan.endOfStream ? pin_.deliverEndOfStream() : S_OK;
    }
    /// BeginFlush and EndFlush downstream, as a seeking source does.
    HRESULT flush() {
        const HRESULT begin = pin_.deliverBeginFlush();
        return FAILED(begin) ? begin : pin_.deliverEndFlush();
    }
    /// deliver(plan) on a thread of its own, as a source's streaming thread does.
    std::future<HRESULT> deliverLater(StreamPlan plan) {
        return std::async(std::launch::async, [this, plan = std::move(plan)] {
            ComApartment com(COINIT_MULTITHREADED);
            return deliver(plan);
        });
    }

private:
    explicit TestSource(std::vector<AudioType> offered)
        : FilterBase(nullptr, kClsidTestSource, lock_), offered_(std::move(offered)), pin_(*this) {}
    ~TestSource() override = default;

    CriticalSection lock_;
    std::vector<AudioType> offered_;
    Pin pin_;
};

// ---- the sink -------------------------------------------------------------------------------------------

/// One sample as the sink received it.
struct ReceivedSample {
    std::vector<uint8_t> bytes; ///< the first GetActualDataLength bytes
    HRESULT timeResult = VFW_E_SAMPLE_TIME_NOT_SET;
    REFERENCE_TIME start = 0;
    bool discontinuity = false, syncPoint = false, preroll = false;
};

/// Takes any audio and records what arrives; a renderer, so that EC_COMPLETE waits for its end of stream.
class TestSink final : public FilterBase, public IAMFilterMiscFlags {
public:
    class Pin final : public InputPinBase {
    public:
        explicit Pin(TestSink& sink) : InputPinBase(sink, L"Input"), sink_(sink) {}
        HRESULT checkMediaType(const AM_MEDIA_TYPE* type) override {
            return IsEqualGUID(type->majortype, MEDIATYPE_Audio) ? S_OK : S_FALSE;
        }
        HRESULT STDMETHODCALLTYPE EndOfStream() override {
            const HRESULT hr = InputPinBase::EndOfStream();
            if (hr == S_OK) { // a renderer reports the end of its stream; the graph sends EC_COMPLETE once all have
                InterlockedIncrement(&sink_.endOfStreams_);
                sink_.notifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(sink_.baseFilter()));
            }
            return hr;
        }
        HRESULT STDMETHODCALLTYPE BeginFlush() override {
            InterlockedIncrement(&sink_.flushes_);
            return InputPinBase::BeginFlush();
        }

    protected:
        HRESULT receiveSample(IMediaSample* sample) override {
            ReceivedSample r;
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            r.bytes.assign(data, data + std::max(0L, std::min(sample->GetActualDataLength(), sample->GetSize())));
            REFERENCE_TIME stop = 0;
            r.timeResult = sample->GetTime(&r.start, &stop);
            r.discontinuity = sample->IsDiscontinuity() == S_OK;
            r.syncPoint = sample->IsSyncPoint() == S_OK;
            r.preroll = sample->IsPreroll() == S_OK;
            std::lock_guard<std::mutex> guard(sink_.recordLock_);
            sink_.received_.push_back(std::move(r));
            return S_OK;
        }

    private:
        TestSink& sink_;
    };

    static TestSink* create() {
        auto* sink = new TestSink();
        sink->AddRef();
        return sink;
    }
    PELLUCER_DELEGATING_UNKNOWN
    HRESULT nonDelegatingQueryInterface(REFIID iid, void** object) override {
        if (object != nullptr && IsEqualIID(iid, IID_IAMFilterMiscFlags))
            return handOut(static_cast<IAMFilterMiscFlags*>(this), object);
        return FilterBase::nonDelegatingQueryInterface(iid, object);
    }
    ULONG STDMETHODCALLTYPE GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }
    int pinCount() override { return 1; }
    PinBase* pinAt(int index) override { return index == 0 ? &pin_ : nullptr; }

    IPin* inputPin() { return &pin_; }
    Pin& sinkPin() { return pin_; }
    std::vector<ReceivedSample> received() const {
        std::lock_guard<std::mutex> guard(recordLock_);
        return received_;
    }
    /// The whole stereo frames of every received sample, as floats.
    std::vector<float> receivedFloats() const {
        std::vector<float> floats;
        for (const ReceivedSample& r : received()) {
            const size_t at = floats.size(), count = r.bytes.size() / 8 * 2;
            floats.resize(at + count);
            std::memcpy(floats.data() + at, r.bytes.data(), count * sizeof(float));
        }
        return floats;
    }
    int endOfStreamCount() const { return endOfStreams_; }
    int flushCount() const { return flushes_; }

private:
    TestSink() : FilterBase(nullptr, kClsidTestSink, lock_), pin_(*this) {}
    ~TestSink() override = default;

    CriticalSection lock_;
    Pin pin_;
    mutable std::mutex recordLock_;
    std::vector<ReceivedSample> received_;
    volatile LONG endOfStreams_ = 0, flushes_ = 0;
};

// ---- effects --------------------------------------------------------------------------------------------

/// A program (negative: the effect's own) and parameter values to give an effect, in that order.
struct EffectSettings {
    int32_t program = -1;
    std::vector<std::pair<int32_t, float>> parameters;
    void applyTo(vst::AEffect* effect) const {
        if (program >= 0)
            effect->dispatcher(effect, vst::effSetProgram, 0, program, nullptr, 0.0f);
        for (const auto& [index, value] : parameters)
            effect->setParameter(effect, index, value);
    }
};
/// Most stages on, with settings away from their defaults.
inline EffectSettings busySettings() {
    return {29,
            {{kCompanderEnable, 1.0f}, {kEqEnable, 1.0f}, {kDeEsserEnable, 1.0f}, {kDoublerEnable, 1.0f},
             {kDelayEnable, 1.0f}, {kInputGain, 0.62f}, {kCompressorThresh, 0.45f}, {kEqMidGain, 0.7f},
             {kDelayTime, 0.3f}, {kDelayLevel, 0.6f}, {kDelayFeedback, 0.45f}}};
}

/// A value sent to an effect before the piece of the stream that starts at `frame`.
struct ParameterPush {
    int64_t frame = 0;
    int32_t index = 0;
    float value = 0.0f;
};

/// An effect from the module's VST entry, driven as the filter drives its own: the sample rate only
/// (never opened nor switched on), then the settings; its host's time record stays zero, as the
/// filter's does without a sequencer.
class ReferenceEffect {
public:
    ReferenceEffect(float sampleRate, const EffectSettings& settings) {
        const auto entry = moduleProc<vst::AEffect* (*)(vst::audioMasterCallback)>("VSTPluginMain");
        effect_ = entry != nullptr ? entry(&host) : nullptr;
        if (effect_ == nullptr)
            return;
        effect_->dispatcher(effect_, vst::effSetSampleRate, 0, 0, nullptr, sampleRate);
        settings.applyTo(effect_);
    }
    ~ReferenceEffect() {
        if (effect_ != nullptr)
            effect_->dispatcher(effect_, vst::effClose, 0, 0, nullptr, 0.0f);
    }

    /// Interleaved stereo in and out, in blocks of the given frame counts (repeated; cut at 32,767),
    /// each push sent before the piece that starts at its frame.
    std::vector<float> render(const std::vector<float>& interleaved, const std::vector<uint32_t>& blocks,
                              const std::vector<ParameterPush>& pushes = {}) {
        std::vector<float> out(interleaved.size(), 0.0f), channels[4];
        for (size_t b = 0, at = 0, block = 0; effect_ != nullptr && at < interleaved.size() / 2; at += block) {
            block = std::min<size_t>(blocks[b++ % blocks.size()], interleaved.size() / 2 - at);
            for (size_t done = 0; done < block;) {
                const size_t n = std::min<size_t>(block - done, 32767), first = at + done;
                for (const ParameterPush& push : pushes)
                    if (push.frame == static_cast<int64_t>(first))
                        effect_->setParameter(effect_, push.index, push.value);
                for (auto& channel : channels)
                    channel.assign(n, 0.0f);
                for (size_t i = 0; i < 2 * n; ++i)
                    channels[i % 2][i / 2] = interleaved[2 * first + i];
                float* ins[2] = {channels[0].data(), channels[1].data()};
                float* outs[2] = {channels[2].data(), channels[3].data()};
                effect_->processReplacing(effect_, ins, outs, static_cast<vst::VstInt32>(n));
                for (size_t i = 0; i < 2 * n; ++i)
                    out[2 * first + i] = channels[2 + i % 2][i / 2];
                done += n;
            }
        }
        return out;
    }

private:
    static vst::VstIntPtr host(vst::AEffect*, vst::VstInt32 opcode, vst::VstInt32, vst::VstIntPtr, void*, float) {
        static const vst::VstTimeInfo noTime{};
        return opcode == vst::audioMasterVersion   ? 2400
               : opcode == vst::audioMasterGetTime ? reinterpret_cast<vst::VstIntPtr>(&noTime)
                                                   : 0;
    }
    vst::AEffect* effect_ = nullptr;
};

/// An envelope segment as a host hands it to AddEnvelope.
inline MP_ENVELOPE_SEGMENT segment(REFERENCE_TIME start, REFERENCE_TIME end, float a, float b, int curve) {
    return {start, end, a, b, static_cast<MP_CURVE_TYPE>(curve), kEnvelopeStandard};
}

/// A stereo test signal, interleaved: a swelling vowel-like tone, a sibilant band and a little noise.
inline std::vector<float> testSignal(size_t frames, double rate, uint32_t seed) {
    std::vector<float> s(frames * 2);
    const double twoPi = 2.0 * std::numbers::pi;
    auto noise = [&seed] { return 0.05 * ((seed = seed * 1664525u + 1013904223u) >> 8) / 8388608.0 - 0.05; };
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate, swell = 0.5 + 0.45 * std::sin(twoPi * 1.3 * t);
        s[2 * i] = static_cast<float>(
            swell * (0.5 * std::sin(twoPi * 220 * t) + 0.15 * std::sin(twoPi * 6300 * t)) + noise());
        s[2 * i + 1] = static_cast<float>(
            swell * (0.4 * std::sin(twoPi * 330 * t + 0.7) + 0.2 * std::sin(twoPi * 5100 * t)) + noise());
    }
    return s;
}

/// Bit-exact comparison of two float streams, with the first differences in the message.
inline ::testing::AssertionResult sameSamples(const std::vector<float>& expected, const std::vector<float>& actual) {
    std::ostringstream message;
    size_t differing = 0;
    for (size_t i = 0; i < std::min(expected.size(), actual.size()); ++i)
        if (std::memcmp(&expected[i], &actual[i], sizeof(float)) != 0 && differing++ < 6)
            message << "\n  frame " << i / 2 << (i % 2 == 0 ? " L" : " R") << ": expected " << expected[i]
                    << ", got " << actual[i];
    if (differing == 0 && expected.size() == actual.size())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "expected " << expected.size() << " floats, got " << actual.size()
                                         << "; " << differing << " differ" << message.str();
}

// ---- graphs ---------------------------------------------------------------------------------------------

/// A fresh CLSID_FilterGraph with its control and event interfaces.
struct Graph {
    Graph() {
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, &builder);
        if (builder) {
            builder->QueryInterface(IID_IMediaControl, &control);
            builder->QueryInterface(IID_IMediaEvent, &events);
        }
    }
    ~Graph() {
        if (control)
            control->Stop();
    }

    bool valid() const { return builder && control && events; }
    HRESULT add(IBaseFilter* filter, const wchar_t* name) { return builder->AddFilter(filter, name); }
    HRESULT connect(IPin* out, IPin* in, const AM_MEDIA_TYPE* type = nullptr) {
        return builder->ConnectDirect(out, in, type);
    }
    HRESULT run() {
        // Events left from an earlier run would answer a wait at once.
        long code = 0;
        LONG_PTR p1 = 0, p2 = 0;
        while (events->GetEvent(&code, &p1, &p2, 0) == S_OK)
            events->FreeEventParams(code, p1, p2);
        return control->Run();
    }
    /// Waits for the next event of the given code; answers whether it came in time.
    bool waitForEvent(long wanted, DWORD timeoutMs) {
        const ULONGLONG end = GetTickCount64() + timeoutMs;
        for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
            long code = 0;
            LONG_PTR p1 = 0, p2 = 0;
            // Wine's GetEvent has been seen to fail long before its timeout: only our deadline ends the wait.
            if (events->GetEvent(&code, &p1, &p2, static_cast<long>(end - now)) != S_OK) {
                Sleep(5);
                continue;
            }
            events->FreeEventParams(code, p1, p2);
            if (code == wanted)
                return true;
        }
        return false;
    }

    ComPtr<IGraphBuilder> builder;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
};

/// The pins of a filter in EnumPins order.
inline std::vector<ComPtr<IPin>> pinsOf(IBaseFilter* filter) {
    std::vector<ComPtr<IPin>> pins;
    ComPtr<IEnumPins> list;
    IPin* pin = nullptr;
    if (SUCCEEDED(filter->EnumPins(&list)))
        while (list->Next(1, &pin, nullptr) == S_OK)
            pins.emplace_back().Attach(pin);
    return pins;
}
/// The pin a pin is connected to, or null.
inline ComPtr<IPin> peerOf(IPin* pin) {
    ComPtr<IPin> peer;
    pin->ConnectedTo(&peer);
    return peer;
}

/// Source → effect filter → sinks on the first outputs, in one graph.
struct EffectChain {
    /// The filter (the module's, unless set already) between a float stereo source at `rate` and
    /// sinks on its first `sinkCount` outputs.
    void build(DWORD rate, int sinkCount, const std::optional<EffectSettings>& settings = std::nullopt) {
        ASSERT_TRUE(graph.valid()) << "no filter graph";
        ASSERT_TRUE(filter || createEffectFilter(&filter) == S_OK) << "the effect filter could not be created";
        effect = effectRecordOf(filter.Get());
        ASSERT_NE(effect, nullptr) << "no effect record through the effect-access interface";
        pins = pinsOf(filter.Get());
        ASSERT_EQ(pins.size(), 9u);
        source.Attach(TestSource::create({floatType(rate)}));
        ASSERT_EQ(graph.add(filter.Get(), L"Pellucer"), S_OK);
        ASSERT_EQ(graph.add(source.Get(), L"Source"), S_OK);
        ASSERT_EQ(graph.connect(source->outputPin(), pins[0].Get()), S_OK);
        for (int k = 0; k < sinkCount; ++k) {
            sinks.emplace_back().Attach(TestSink::create());
            ASSERT_EQ(graph.add(sinks.back().Get(), (L"Sink " + std::to_wstring(k + 1)).c_str()), S_OK);
            ASSERT_EQ(graph.connect(pins[static_cast<size_t>(k) + 1].Get(), sinks.back()->inputPin()), S_OK) << k;
        }
        // As a host does: the rate from the connection first, then the settings.
        if (settings)
            settings->applyTo(effect);
    }
    /// Runs the graph, delivers the plan from the test thread and waits for the end.
    void stream(const StreamPlan& plan) {
        ASSERT_TRUE(SUCCEEDED(graph.run()));
        ASSERT_EQ(source->deliver(plan), S_OK);
        EXPECT_TRUE(graph.waitForEvent(EC_COMPLETE, 20000)) << "no EC_COMPLETE";
        EXPECT_EQ(graph.control->Stop(), S_OK);
    }

    Graph graph;
    ComPtr<IBaseFilter> filter;
    ComPtr<TestSource> source;
    std::vector<ComPtr<TestSink>> sinks;
    std::vector<ComPtr<IPin>> pins; ///< the filter's pins: "Input", then "Output 1".."Output 8"
    vst::AEffect* effect = nullptr;
};

} // namespace pellucer::dx::test
