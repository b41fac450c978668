#include "tests/dx/win32/GraphTestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mmreg.h>
#include <numbers>
#include <sstream>

#include "core/Parameters.h"
#include "dx/server/Identifiers.h"
#include "dx/base/MediaType.h"
#include "tests/dx/win32/DxTestSupport.h"

namespace pellucer::dx::graphtest {

using vst::AEffect;
using vst::VstInt32;
using vst::VstIntPtr;

// ---- the module -------------------------------------------------------------------------------

HRESULT createEffectFilter(ComPtr<IBaseFilter>& filter) {
    return test::createFromModule(kClsidEffectFilter, IID_IBaseFilter, filter);
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

// ---- media types ------------------------------------------------------------------------------

const GUID kSubFormatIeeeFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
const GUID kSubFormatPcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

AudioType::AudioType(WORD formatTag, WORD channels, WORD bitsPerSample, DWORD sampleRate, const GUID* subFormat) {
    WAVEFORMATEX& wave = format_.Format;
    wave.wFormatTag = subFormat != nullptr ? WAVE_FORMAT_EXTENSIBLE : formatTag;
    wave.nChannels = channels;
    wave.nSamplesPerSec = sampleRate;
    wave.wBitsPerSample = bitsPerSample;
    wave.nBlockAlign = static_cast<WORD>(channels * bitsPerSample / 8);
    wave.nAvgBytesPerSec = sampleRate * wave.nBlockAlign;
    if (subFormat != nullptr) {
        wave.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
        format_.Samples.wValidBitsPerSample = bitsPerSample;
        format_.dwChannelMask = channels == 2 ? (SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT) : SPEAKER_FRONT_CENTER;
        format_.SubFormat = *subFormat;
    }
    point();
}

AudioType::AudioType(const WAVEFORMATEXTENSIBLE& format) : format_(format) { point(); }

void AudioType::point() {
    type_.majortype = MEDIATYPE_Audio;
    type_.subtype = MEDIASUBTYPE_PCM;
    if (format_.Format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT)
        type_.subtype = MEDIASUBTYPE_IEEE_FLOAT;
    type_.bFixedSizeSamples = TRUE;
    type_.lSampleSize = format_.Format.nBlockAlign;
    type_.formattype = FORMAT_WaveFormatEx;
    type_.cbFormat = sizeof(WAVEFORMATEX) + format_.Format.cbSize;
    type_.pbFormat = reinterpret_cast<BYTE*>(&format_);
}

AudioType floatType(DWORD sampleRate, WORD channels) {
    return AudioType(WAVE_FORMAT_IEEE_FLOAT, channels, 32, sampleRate);
}
AudioType pcmType(DWORD sampleRate, WORD channels, WORD bitsPerSample) {
    return AudioType(WAVE_FORMAT_PCM, channels, bitsPerSample, sampleRate);
}
AudioType extensibleType(DWORD sampleRate, WORD channels, WORD bitsPerSample, bool isFloat) {
    return AudioType(WAVE_FORMAT_EXTENSIBLE, channels, bitsPerSample, sampleRate,
                     isFloat ? &kSubFormatIeeeFloat : &kSubFormatPcm);
}

bool isFloatStereo(const AM_MEDIA_TYPE& type, DWORD rate) {
    const WAVEFORMATEX* wave = waveFormatOf(type);
    return IsEqualGUID(type.majortype, MEDIATYPE_Audio) && wave != nullptr &&
           wave->wFormatTag == WAVE_FORMAT_IEEE_FLOAT && wave->nChannels == 2 && wave->wBitsPerSample == 32 &&
           wave->nBlockAlign == 8 && wave->nSamplesPerSec == rate;
}

// ---- the source -------------------------------------------------------------------------------

namespace {
// Test-only class identifiers: the graph asks every filter for one.
const CLSID kClsidTestSource = {0x5c1e2f70, 0x3d0b, 0x4a57, {0x9a, 0x1e, 0x61, 0x0c, 0x2b, 0x7e, 0x44, 0x01}};
const CLSID kClsidTestSink = {0x5c1e2f70, 0x3d0b, 0x4a57, {0x9a, 0x1e, 0x61, 0x0c, 0x2b, 0x7e, 0x44, 0x02}};
} // namespace

StreamPlan StreamPlan::frames(const std::vector<float>& interleaved, int channels, const std::vector<uint32_t>& sizes) {
    StreamPlan plan;
    plan.bytes.resize(interleaved.size() * sizeof(float));
    std::memcpy(plan.bytes.data(), interleaved.data(), plan.bytes.size());
    const size_t totalFrames = interleaved.size() / static_cast<size_t>(channels);
    for (size_t k = 0, done = 0; done < totalFrames && !sizes.empty(); ++k) {
        const size_t n = std::min<size_t>(sizes[k % sizes.size()], totalFrames - done);
        SampleSpec spec;
        spec.bytes = static_cast<uint32_t>(n * static_cast<size_t>(channels) * sizeof(float));
        plan.samples.push_back(spec);
        done += n;
    }
    return plan;
}

uint32_t StreamPlan::largestSample() const {
    uint32_t largest = 8;
    for (const SampleSpec& s : samples)
        largest = std::max(largest, s.bytes);
    return largest;
}

SourcePin::SourcePin(TestSource& source) : OutputPinBase(source, L"Output"), source_(source) {}

HRESULT SourcePin::checkMediaType(const AM_MEDIA_TYPE* type) {
    for (const AudioType& offered : source_.offered_)
        if (matchesPartialType(offered.get(), *type) && type->cbFormat == offered.get().cbFormat &&
            std::memcmp(type->pbFormat, offered.get().pbFormat, type->cbFormat) == 0)
            return S_OK;
    return S_FALSE;
}

HRESULT SourcePin::getMediaType(int position, AM_MEDIA_TYPE& type) {
    if (position < 0 || static_cast<size_t>(position) >= source_.offered_.size())
        return VFW_S_NO_MORE_ITEMS;
    return copyMediaType(type, source_.offered_[static_cast<size_t>(position)].get());
}

HRESULT SourcePin::decideBufferSize(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& requested) {
    ALLOCATOR_PROPERTIES wanted = requested;
    wanted.cBuffers = std::max<long>(wanted.cBuffers, 3);
    wanted.cbBuffer = std::max<long>(wanted.cbBuffer, static_cast<long>(source_.bufferBytes_));
    wanted.cbAlign = std::max<long>(wanted.cbAlign, 1);
    ALLOCATOR_PROPERTIES granted{};
    const HRESULT hr = allocator->SetProperties(&wanted, &granted);
    if (FAILED(hr))
        return hr;
    return granted.cbBuffer < wanted.cbBuffer ? E_FAIL : S_OK;
}

TestSource::TestSource(std::vector<AudioType> offered, uint32_t bufferBytes)
    : FilterBase(nullptr, kClsidTestSource, lock_), offered_(std::move(offered)), bufferBytes_(bufferBytes),
      pin_(*this) {}

TestSource* TestSource::create(std::vector<AudioType> offered, uint32_t bufferBytes) {
    auto* source = new TestSource(std::move(offered), bufferBytes);
    source->AddRef();
    return source;
}

TestSource::~TestSource() {
    if (streaming_.joinable())
        streaming_.join();
}

HRESULT TestSource::Stop() {
    // Stopping decommits the allocator, which frees a streaming thread that waits for a buffer.
    const HRESULT hr = FilterBase::Stop();
    if (streaming_.joinable())
        streaming_.join();
    return hr;
}

HRESULT TestSource::deliver(const StreamPlan& plan) {
    size_t offset = 0;
    for (const SampleSpec& spec : plan.samples) {
        IMediaSample* sample = nullptr;
        HRESULT hr = pin_.getDeliveryBuffer(&sample, nullptr, nullptr, 0);
        if (FAILED(hr))
            return hr;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        if (offset + spec.bytes > plan.bytes.size() || static_cast<long>(spec.bytes) > sample->GetSize()) {
            sample->Release();
            return E_INVALIDARG;
        }
        std::memcpy(data, plan.bytes.data() + offset, spec.bytes);
        sample->SetActualDataLength(static_cast<long>(spec.bytes));
        REFERENCE_TIME start = spec.start.value_or(0);
        REFERENCE_TIME stop = start + 1;
        sample->SetTime(spec.start ? &start : nullptr, spec.start ? &stop : nullptr);
        sample->SetDiscontinuity(spec.discontinuity ? TRUE : FALSE);
        sample->SetSyncPoint(spec.syncPoint ? TRUE : FALSE);
        sample->SetPreroll(spec.preroll ? TRUE : FALSE);
        hr = pin_.deliver(sample);
        sample->Release();
        {
            std::lock_guard<std::mutex> guard(recordLock_);
            receiveResults_.push_back(hr);
        }
        if (FAILED(hr))
            return hr;
        offset += spec.bytes;
    }
    return plan.endOfStream ? pin_.deliverEndOfStream() : S_OK;
}

HRESULT TestSource::flush() {
    const HRESULT begin = pin_.deliverBeginFlush();
    const HRESULT end = pin_.deliverEndFlush();
    return FAILED(begin) ? begin : end;
}

void TestSource::startStreaming(StreamPlan plan) {
    if (streaming_.joinable())
        streaming_.join();
    streaming_ = std::thread([this, plan = std::move(plan)] {
        test::ComApartment com(COINIT_MULTITHREADED);
        streamingResult_ = deliver(plan);
    });
}

HRESULT TestSource::finishStreaming() {
    if (streaming_.joinable())
        streaming_.join();
    return streamingResult_;
}

std::vector<HRESULT> TestSource::receiveResults() const {
    std::lock_guard<std::mutex> guard(recordLock_);
    return receiveResults_;
}

// ---- the sink ---------------------------------------------------------------------------------

SinkPin::SinkPin(TestSink& sink) : InputPinBase(sink, L"Input"), sink_(sink) {}

HRESULT SinkPin::checkMediaType(const AM_MEDIA_TYPE* type) {
    return IsEqualGUID(type->majortype, MEDIATYPE_Audio) ? S_OK : S_FALSE;
}

HRESULT SinkPin::receiveSample(IMediaSample* sample) {
    ReceivedSample r;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    r.actualLength = sample->GetActualDataLength();
    if (data != nullptr && r.actualLength > 0)
        r.bytes.assign(data, data + std::min(r.actualLength, sample->GetSize()));
    REFERENCE_TIME stop = 0;
    r.timeResult = sample->GetTime(&r.start, &stop);
    r.discontinuity = sample->IsDiscontinuity() == S_OK;
    r.syncPoint = sample->IsSyncPoint() == S_OK;
    r.preroll = sample->IsPreroll() == S_OK;
    r.threadId = GetCurrentThreadId();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    r.arrivalTicks = now.QuadPart;
    std::lock_guard<std::mutex> guard(sink_.recordLock_);
    sink_.received_.push_back(std::move(r));
    return S_OK;
}

HRESULT SinkPin::EndOfStream() {
    const HRESULT hr = InputPinBase::EndOfStream();
    if (hr != S_OK)
        return hr;
    InterlockedIncrement(&sink_.endOfStreams_);
    // A renderer reports the end of its stream; the graph sends EC_COMPLETE once all have.
    sink_.notifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(sink_.baseFilter()));
    return S_OK;
}

HRESULT SinkPin::BeginFlush() {
    InterlockedIncrement(&sink_.beginFlushes_);
    return InputPinBase::BeginFlush();
}

HRESULT SinkPin::EndFlush() {
    InterlockedIncrement(&sink_.endFlushes_);
    return InputPinBase::EndFlush();
}

TestSink::TestSink() : FilterBase(nullptr, kClsidTestSink, lock_), pin_(*this) {}

TestSink* TestSink::create() {
    auto* sink = new TestSink();
    sink->AddRef();
    return sink;
}

HRESULT TestSink::nonDelegatingQueryInterface(REFIID iid, void** object) {
    if (object != nullptr && IsEqualIID(iid, IID_IAMFilterMiscFlags))
        return handOut(static_cast<IAMFilterMiscFlags*>(this), object);
    return FilterBase::nonDelegatingQueryInterface(iid, object);
}

std::vector<ReceivedSample> TestSink::received() const {
    std::lock_guard<std::mutex> guard(recordLock_);
    return received_;
}

std::vector<float> TestSink::receivedFloats() const {
    std::vector<float> floats;
    for (const ReceivedSample& r : received()) {
        const size_t count = r.bytes.size() / sizeof(float);
        const size_t at = floats.size();
        floats.resize(at + count);
        std::memcpy(floats.data() + at, r.bytes.data(), count * sizeof(float));
    }
    return floats;
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

void EffectChain::build(std::vector<AudioType> offered, uint32_t bufferBytes, int sinkCount) {
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
