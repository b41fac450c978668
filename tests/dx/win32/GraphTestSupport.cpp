#include "tests/dx/win32/GraphTestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <sstream>

#include "core/Parameters.h"
#include "dx/Identifiers.h"
#include "tests/dx/win32/DxTestSupport.h"

namespace pellucer::dx::graphtest {

using vst::AEffect;
using vst::VstInt32;
using vst::VstIntPtr;

// ---- the module -------------------------------------------------------------------------------

HRESULT createEffectFilter(ComPtr<IBaseFilter>& filter) {
    ComPtr<IClassFactory> factory;
    HRESULT hr = test::getClassObject(kClsidEffectFilter, IID_IClassFactory, factory.putVoid());
    if (FAILED(hr))
        return hr;
    return factory->CreateInstance(nullptr, IID_IBaseFilter, filter.putVoid());
}

AEffect* effectRecordOf(IBaseFilter* filter) {
    ComPtr<IEffectRecordAccess> access;
    if (FAILED(filter->QueryInterface(kIidEffectAccess, access.putVoid())) || !access)
        return nullptr;
    AEffect* effect = nullptr;
    if (access->effectRecord(&effect) != S_OK)
        return nullptr;
    return effect;
}

HRESULT moduleCanUnloadNow() {
    using CanUnloadProc = HRESULT(STDAPICALLTYPE*)();
    const auto proc = test::moduleProc<CanUnloadProc>("DllCanUnloadNow");
    return proc != nullptr ? proc() : E_FAIL;
}

// ---- effects ----------------------------------------------------------------------------------

void EffectSettings::applyTo(AEffect* effect) const {
    if (program >= 0)
        effect->dispatcher(effect, vst::effSetProgram, 0, program, nullptr, 0.0f);
    for (const auto& [index, value] : parameters)
        effect->setParameter(effect, index, value);
}

EffectSettings busySettings() {
    EffectSettings s;
    s.program = 29;
    s.parameters = {{kCompanderEnable, 1.0f}, {kEqEnable, 1.0f},         {kDeEsserEnable, 1.0f},
                    {kDoublerEnable, 1.0f},   {kDelayEnable, 1.0f},      {kInputGain, 0.62f},
                    {kCompressorThresh, 0.45f}, {kEqMidGain, 0.7f},      {kDelayTime, 0.3f},
                    {kDelayLevel, 0.6f},      {kDelayFeedback, 0.45f}};
    return s;
}

EffectSettings otherBusySettings() {
    EffectSettings s;
    s.program = 12;
    s.parameters = {{kInputTubeEnable, 1.0f}, {kInputTubeSaturation, 0.8f}, {kCompanderEnable, 1.0f},
                    {kCompressorThresh, 0.3f}, {kCompressorRatio, 0.8f},    {kEqEnable, 1.0f},
                    {kEqLowGain, 0.2f},        {kDoublerEnable, 1.0f},      {kDoublerStereo, 0.9f},
                    {kDelayEnable, 0.0f},      {kOutputGain, 0.4f}};
    return s;
}

namespace {

// What the filter's effect sees of its host's time: a record that stays zero while no sequencer
// is connected. The reference effect gets the same.
const vst::VstTimeInfo kNoTime{};

VstIntPtr referenceHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    switch (opcode) {
    case vst::audioMasterVersion: return 2400;
    case vst::audioMasterGetTime: return reinterpret_cast<VstIntPtr>(&kNoTime);
    default: return 0;
    }
}

} // namespace

ReferenceEffect::ReferenceEffect(float sampleRate, const EffectSettings& settings) {
    using EntryProc = AEffect* (*)(vst::audioMasterCallback);
    const auto entry = test::moduleProc<EntryProc>("VSTPluginMain");
    if (entry == nullptr)
        return;
    effect_ = entry(referenceHost);
    if (effect_ == nullptr)
        return;
    // The filter never opens the effect nor switches it on: only the rate, then the settings.
    effect_->dispatcher(effect_, vst::effSetSampleRate, 0, 0, nullptr, sampleRate);
    settings.applyTo(effect_);
}

ReferenceEffect::~ReferenceEffect() {
    if (effect_ != nullptr)
        effect_->dispatcher(effect_, vst::effClose, 0, 0, nullptr, 0.0f);
}

std::vector<float> ReferenceEffect::process(const std::vector<float>& interleaved,
                                            const std::vector<uint32_t>& blockFrames) {
    const size_t frames = interleaved.size() / 2;
    std::vector<float> out(frames * 2, 0.0f);
    if (effect_ == nullptr)
        return out;
    std::vector<float> inL, inR, outL, outR;
    size_t done = 0;
    for (size_t b = 0; done < frames && !blockFrames.empty(); ++b) {
        const size_t n = std::min<size_t>(blockFrames[b % blockFrames.size()], frames - done);
        if (n == 0)
            continue;
        inL.resize(n);
        inR.resize(n);
        outL.assign(n, 0.0f);
        outR.assign(n, 0.0f);
        for (size_t i = 0; i < n; ++i) {
            inL[i] = interleaved[2 * (done + i)];
            inR[i] = interleaved[2 * (done + i) + 1];
        }
        float* ins[2] = {inL.data(), inR.data()};
        float* outs[2] = {outL.data(), outR.data()};
        effect_->processReplacing(effect_, ins, outs, static_cast<VstInt32>(n));
        for (size_t i = 0; i < n; ++i) {
            out[2 * (done + i)] = outL[i];
            out[2 * (done + i) + 1] = outR[i];
        }
        done += n;
    }
    return out;
}

std::vector<float> ReferenceEffect::processInPieces(const std::vector<float>& interleaved,
                                                    std::vector<int64_t> cuts,
                                                    const std::vector<ParameterPush>& pushes) {
    const auto frames = static_cast<int64_t>(interleaved.size() / 2);
    cuts.push_back(frames);
    std::sort(cuts.begin(), cuts.end());
    std::vector<uint32_t> pieces;
    std::vector<int64_t> starts;
    int64_t at = 0;
    for (const int64_t cut : cuts) {
        for (int64_t end = std::min(cut, frames); at < end;) {
            const int64_t n = std::min<int64_t>(end - at, 32767);
            starts.push_back(at);
            pieces.push_back(static_cast<uint32_t>(n));
            at += n;
        }
    }
    std::vector<float> out(interleaved.size(), 0.0f);
    for (size_t k = 0; k < pieces.size(); ++k) {
        for (const ParameterPush& push : pushes)
            if (push.frame == starts[k] && effect_ != nullptr)
                effect_->setParameter(effect_, push.index, push.value);
        const auto first = interleaved.begin() + static_cast<std::ptrdiff_t>(2 * starts[k]);
        const std::vector<float> piece(first, first + static_cast<std::ptrdiff_t>(2 * pieces[k]));
        const std::vector<float> rendered = process(piece, {pieces[k]});
        std::copy(rendered.begin(), rendered.end(), out.begin() + static_cast<std::ptrdiff_t>(2 * starts[k]));
    }
    return out;
}

std::vector<uint32_t> framesOf(const StreamPlan& plan) {
    std::vector<uint32_t> frames;
    for (const SampleSpec& s : plan.samples)
        frames.push_back(s.bytes / 8);
    return frames;
}

std::vector<float> testSignal(size_t frames, double sampleRate, uint32_t seed) {
    std::vector<float> s(frames * 2);
    const double twoPi = 2.0 * std::numbers::pi;
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        seed = seed * 1664525u + 1013904223u;
        const double noiseL = static_cast<double>(seed >> 8) / 8388608.0 - 1.0;
        seed = seed * 1664525u + 1013904223u;
        const double noiseR = static_cast<double>(seed >> 8) / 8388608.0 - 1.0;
        // A vowel-like fundamental, a sibilant band and a little noise; the level swells so the
        // compander and de-esser move.
        const double swell = 0.5 + 0.45 * std::sin(twoPi * 1.3 * t);
        s[2 * i] = static_cast<float>(swell * (0.5 * std::sin(twoPi * 220.0 * t) + 0.15 * std::sin(twoPi * 6300.0 * t)) +
                                      0.05 * noiseL);
        s[2 * i + 1] = static_cast<float>(swell * (0.4 * std::sin(twoPi * 330.0 * t + 0.7) +
                                                   0.2 * std::sin(twoPi * 5100.0 * t)) +
                                          0.05 * noiseR);
    }
    return s;
}

::testing::AssertionResult sameSamples(const std::vector<float>& expected, const std::vector<float>& actual) {
    std::ostringstream message;
    size_t differing = 0;
    const size_t common = std::min(expected.size(), actual.size());
    for (size_t i = 0; i < common; ++i) {
        if (std::memcmp(&expected[i], &actual[i], sizeof(float)) != 0) {
            if (differing < 6)
                message << "\n  at " << i << " (frame " << i / 2 << (i % 2 == 0 ? " L" : " R") << "): expected "
                        << expected[i] << ", got " << actual[i];
            ++differing;
        }
    }
    if (differing == 0 && expected.size() == actual.size())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "expected " << expected.size() << " floats, got " << actual.size() << "; "
                                         << differing << " of the first " << common << " differ" << message.str();
}

// ---- graphs ----------------------------------------------------------------------------------

Graph::Graph() {
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                builder.putVoid())))
        return;
    control = builder.query<IMediaControl>(IID_IMediaControl);
    events = builder.query<IMediaEvent>(IID_IMediaEvent);
}

Graph::~Graph() {
    if (control)
        control->Stop();
}

HRESULT Graph::run() {
    // Events left from an earlier run would answer a wait at once.
    long code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (events->GetEvent(&code, &p1, &p2, 0) == S_OK)
        events->FreeEventParams(code, p1, p2);
    return control->Run();
}

HRESULT Graph::stop() { return control->Stop(); }

bool Graph::waitForEvent(long wanted, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= end)
            return false;
        long code = 0;
        LONG_PTR p1 = 0, p2 = 0;
        // Wine's GetEvent has been seen to fail long before its timeout ran out (a test that
        // waited 4 s returned after half a second); only our own deadline ends the wait.
        if (events->GetEvent(&code, &p1, &p2, static_cast<long>(end - now)) != S_OK) {
            Sleep(5);
            continue;
        }
        events->FreeEventParams(code, p1, p2);
        if (code == wanted)
            return true;
    }
}

std::vector<ComPtr<IPin>> pinsOf(IBaseFilter* filter) {
    std::vector<ComPtr<IPin>> pins;
    ComPtr<IEnumPins> list;
    if (FAILED(filter->EnumPins(list.put())) || !list)
        return pins;
    for (;;) {
        IPin* pin = nullptr;
        ULONG fetched = 0;
        if (list->Next(1, &pin, &fetched) != S_OK || fetched != 1)
            break;
        pins.emplace_back(pin);
    }
    return pins;
}

std::wstring pinName(IPin* pin) {
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info)))
        return L"?";
    if (info.pFilter != nullptr)
        info.pFilter->Release();
    return info.achName;
}

ComPtr<IPin> peerOf(IPin* pin) {
    ComPtr<IPin> peer;
    pin->ConnectedTo(peer.put());
    return peer;
}

EffectChain::~EffectChain() {
    if (graph.valid())
        graph.stop();
}

void EffectChain::build(std::vector<MediaType> offered, uint32_t bufferBytes, int sinkCount) {
    ASSERT_TRUE(graph.valid()) << "no filter graph";
    const HRESULT created = createEffectFilter(filter);
    ASSERT_EQ(created, S_OK) << "the effect filter could not be created";
    ASSERT_TRUE(filter);
    effect = effectRecordOf(filter.get());
    ASSERT_NE(effect, nullptr) << "no effect record through the effect-access interface";
    pins = pinsOf(filter.get());
    ASSERT_EQ(pins.size(), 9u);

    source = ComPtr<TestSource>(TestSource::create(std::move(offered), bufferBytes));
    ASSERT_EQ(graph.add(filter.get(), L"Pellucer"), S_OK);
    ASSERT_EQ(graph.add(source.get(), L"Source"), S_OK);
    ASSERT_EQ(graph.connect(source->outputPin(), pins[0].get()), S_OK);
    for (int k = 0; k < sinkCount; ++k) {
        sinks.emplace_back(TestSink::create());
        const std::wstring name = L"Sink " + std::to_wstring(k + 1);
        ASSERT_EQ(graph.add(sinks.back().get(), name.c_str()), S_OK);
        ASSERT_EQ(graph.connect(pins[static_cast<size_t>(k) + 1].get(), sinks.back()->inputPin()), S_OK)
            << "output pin " << k + 1;
    }
}

void EffectChain::apply(const EffectSettings& settings) const { settings.applyTo(effect); }

} // namespace pellucer::dx::graphtest
