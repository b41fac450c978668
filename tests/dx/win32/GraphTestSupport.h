#pragma once

// Helpers for the graph tests: a COM apartment per test, a small COM pointer, the effect filter
// created through the module's class object, the effect record it hands out, a reference effect
// made by the same module's VST entry, a filter graph with its control interfaces, and the test
// signal.

#ifndef STRSAFE_NO_DEPRECATE
#define STRSAFE_NO_DEPRECATE
#endif
#include <windows.h>

#include <dshow.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/dx/win32/GraphTestFilters.h"
#include "vst/VstAbi.h"

namespace pellucer::dx::graphtest {

/// COM for the lifetime of one test (or one worker thread).
class ComApartment {
public:
    explicit ComApartment(DWORD model = COINIT_APARTMENTTHREADED) : result_(CoInitializeEx(nullptr, model)) {}
    ~ComApartment() {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    HRESULT result() const { return result_; }

private:
    HRESULT result_;
};

/// Owns one reference to a COM object.
template <class T> class ComPtr {
public:
    ComPtr() = default;
    /// Takes over a reference the caller already holds.
    explicit ComPtr(T* object) : object_(object) {}
    ComPtr(const ComPtr& other) : object_(other.object_) {
        if (object_ != nullptr)
            object_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~ComPtr() { reset(); }

    void reset() {
        if (object_ != nullptr)
            std::exchange(object_, nullptr)->Release();
    }
    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    /// For out-arguments: releases what is held and hands out the slot.
    T** put() {
        reset();
        return &object_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    template <class U> ComPtr<U> query(REFIID iid) const {
        ComPtr<U> other;
        if (object_ != nullptr)
            object_->QueryInterface(iid, other.putVoid());
        return other;
    }

private:
    T* object_ = nullptr;
};

/// The filter's effect-access interface: the four IDispatch methods, then one that hands out
/// the effect record the filter drives.
struct IEffectRecordAccess : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE effectRecord(vst::AEffect** effect) = 0;
};

/// The effect filter, made through the module's DllGetClassObject and IClassFactory (no
/// registration involved). Answers what CreateInstance answered.
HRESULT createEffectFilter(ComPtr<IBaseFilter>& filter);

/// The effect record of a filter, through its effect-access interface (null when refused).
vst::AEffect* effectRecordOf(IBaseFilter* filter);

/// The module's DllCanUnloadNow.
HRESULT moduleCanUnloadNow();

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
    void build(std::vector<MediaType> offered, uint32_t bufferBytes, int sinkCount);
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
