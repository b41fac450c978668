// The filter's media parameters as a host reaches them: in graphs, the output is bit for bit what the
// VST entry renders given the same values at the same frames; the slots hosts call (hand-written
// vtables) and their codes, the parameter descriptions, and an editor gesture captured for the host.

#include <atomic>
#include <cwchar>

#include "tests/dx/win32/DxTestSupport.h"
#include "tests/gui/win32/EditorTestSupport.h"

namespace pellucer::dx::test {
namespace {

constexpr DWORD kRate = 44100;
constexpr REFERENCE_TIME kSecond = 10'000'000;

/// The first frame at which two streams differ (the frame count when they do not).
int64_t firstDifferentFrame(const std::vector<float>& a, const std::vector<float>& b) {
    return (std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin()) / 2;
}

/// A host's parameter-UI callback: records each notice ('b'egin, 'c'hanged, 'e'nd) and GetParam's answer.
struct HostUICallback final : IMediaParamsUICallback {
    struct Notice {
        char kind;
        DWORD index;
        float value, reported;
    };
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        *object = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, kIidParamsUICallback) ? this : nullptr;
        return *object != nullptr ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    HRESULT STDMETHODCALLTYPE ParamsBeginCapture(DWORD* indices, DWORD count) override {
        return record('b', indices, count, nullptr);
    }
    HRESULT STDMETHODCALLTYPE ParamsChanged(DWORD* indices, DWORD count, MP_DATA* values) override {
        return record('c', indices, count, values);
    }
    HRESULT STDMETHODCALLTYPE ParamsEndCapture(DWORD* indices, DWORD count) override {
        return record('e', indices, count, nullptr);
    }
    HRESULT record(char kind, const DWORD* indices, DWORD count, const float* values) {
        for (DWORD k = 0; k < count; ++k) {
            float reported = -1.0f;
            params->GetParam(indices[k], &reported);
            notices.push_back({kind, indices[k], values != nullptr ? values[k] : 0.0f, reported});
        }
        return S_OK;
    }
    std::atomic<long> references{1};
    IMediaParamsPublished* params = nullptr;
    std::vector<Notice> notices;
};

class MediaParams : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(com_.result));
        ASSERT_EQ(S_OK, createEffectFilter(&filter));
        ASSERT_EQ(S_OK, filter->QueryInterface(kIidMediaParams, &params));
        ASSERT_EQ(S_OK, filter->QueryInterface(IID_IMediaParamInfo, &info));
        host.params = params.Get();
    }

    ComApartment com_;
    HostUICallback host; // outlives the filter, which may still hold it
    ComPtr<IBaseFilter> filter;
    ComPtr<IMediaParamsPublished> params;
    ComPtr<IMediaParamInfo> info;
};

TEST_F(MediaParams, SetParamIsHeardFromTheNextBuffer) {
    const std::vector<float> signal = testSignal(3 * 4410, kRate, 3);
    StreamPlan first = StreamPlan::frames({signal.begin(), signal.begin() + 2 * 4410}, {4410});
    first.endOfStream = false;
    const StreamPlan rest = StreamPlan::frames({signal.begin() + 2 * 4410, signal.end()}, {4410});
    EffectChain chain;
    chain.filter = filter;
    ASSERT_NO_FATAL_FAILURE(chain.build(kRate, 1, busySettings()));
    ASSERT_TRUE(SUCCEEDED(chain.graph.run()));
    ASSERT_EQ(S_OK, chain.source->deliver(first));
    ASSERT_EQ(S_OK, params->SetParam(kOutputGain, 0.2f));
    ASSERT_NO_FATAL_FAILURE(chain.stream(rest));
    const std::vector<float> output = chain.sinks[0]->receivedFloats();
    EXPECT_TRUE(sameSamples(ReferenceEffect(kRate, busySettings()).render(signal, {4410}, {{4410, kOutputGain, 0.2f}}),
                            output));
    EXPECT_FALSE(sameSamples(ReferenceEffect(kRate, busySettings()).render(signal, {4410}), output));
}

TEST_F(MediaParams, AJumpIsHeardFromTheSampleItFallsIn) {
    const std::vector<float> signal = testSignal(kRate, kRate, 5);
    const StreamPlan plan = StreamPlan::frames(signal, {4096});
    // 0.3001234 s lies within sample 13,235 (13,235.44): the jump is snapped back to its start.
    constexpr REFERENCE_TIME start = 3'001'234;
    constexpr int64_t jumpFrame = 13235;
    // The same stream twice: with a jump to 0.9, and with a jump to the value the effect has
    // already, which cuts the buffers at the same frames and changes nothing.
    std::vector<float> outputs[2];
    for (int pass = 0; pass < 2; ++pass) {
        EffectChain chain;
        if (pass == 0)
            chain.filter = filter; // the second pass has a filter of its own
        ASSERT_NO_FATAL_FAILURE(chain.build(kRate, 1, busySettings()));
        const float target = pass == 0 ? 0.9f : chain.effect->getParameter(chain.effect, kOutputGain);
        ASSERT_NE(0.9f, chain.effect->getParameter(chain.effect, kOutputGain));
        MP_ENVELOPE_SEGMENT jump = segment(start, start + kSecond / 2, target, target, MP_CURVE_JUMP);
        ASSERT_EQ(S_OK, chain.filter->QueryInterface(kIidMediaParams, &params));
        ASSERT_EQ(S_OK, params->AddEnvelope(kOutputGain, 1, &jump));
        ASSERT_NO_FATAL_FAILURE(chain.stream(plan));
        outputs[pass] = chain.sinks[0]->receivedFloats();
        EXPECT_NEAR(target, chain.effect->getParameter(chain.effect, kOutputGain), 1e-5);
    }
    ASSERT_EQ(signal.size(), outputs[0].size());
    ASSERT_EQ(signal.size(), outputs[1].size());
    // How long an output-gain change takes to be heard, measured on the VST entry's own effect.
    const int64_t delay =
        firstDifferentFrame(ReferenceEffect(kRate, busySettings()).render(signal, {4096}),
                            ReferenceEffect(kRate, busySettings()).render(signal, {4096}, {{0, kOutputGain, 0.9f}}));
    ASSERT_LT(delay, 1000);
    EXPECT_EQ(jumpFrame + delay, firstDifferentFrame(outputs[0], outputs[1])) << "heard after " << delay;
}

// ---- the interfaces ----------------------------------------------------------------------------------

// Hand-written vtables: the published slot order, independent of our declarations.
template <class Slots> const Slots& slotsOf(void* object) { return **static_cast<Slots**>(object); }
struct MediaParamsSlots {
    void* unknown[3];
    HRESULT(STDMETHODCALLTYPE* getParam)(void*, DWORD, float*);
    HRESULT(STDMETHODCALLTYPE* setParam)(void*, DWORD, float);
    HRESULT(STDMETHODCALLTYPE* addEnvelope)(void*, DWORD, DWORD, MP_ENVELOPE_SEGMENT*);
    HRESULT(STDMETHODCALLTYPE* flushEnvelope)(void*, DWORD, REFERENCE_TIME, REFERENCE_TIME);
    HRESULT(STDMETHODCALLTYPE* setTimeFormat)(void*, GUID, DWORD);
};
struct SetUICallbackSlots {
    void* unknown[3];
    HRESULT(STDMETHODCALLTYPE* setParamsUICallback)(void*, IUnknown*);
};
struct UICallbackSlots {
    void* unknown[3];
    HRESULT(STDMETHODCALLTYPE* beginCapture)(void*, DWORD*, DWORD);
    HRESULT(STDMETHODCALLTYPE* changed)(void*, DWORD*, DWORD, float*);
    HRESULT(STDMETHODCALLTYPE* endCapture)(void*, DWORD*, DWORD);
};

TEST_F(MediaParams, CallsThroughThePublishedSlotsAnswerWithTheirCodes) {
    EXPECT_TRUE(IsEqualIID(kIidMediaParams, IID_IMediaParams));
    EXPECT_TRUE(IsEqualIID(kIidMediaParamInfo, IID_IMediaParamInfo));
    void* o = params.Get();
    const MediaParamsSlots& m = slotsOf<MediaParamsSlots>(o);
    float value = -1.0f;
    EXPECT_EQ(S_OK, m.setParam(o, kOutputGain, 0.25f));
    EXPECT_EQ(S_OK, m.getParam(o, kOutputGain, &value));
    EXPECT_EQ(0.25f, value);
    EXPECT_EQ(E_INVALIDARG, m.getParam(o, kNumParams, &value));
    EXPECT_EQ(E_POINTER, m.getParam(o, 0, nullptr));
    EXPECT_EQ(E_INVALIDARG, m.setParam(o, kNumParams, 0.5f));
    MP_ENVELOPE_SEGMENT two[2] = {segment(0, kSecond, 0, 1, MP_CURVE_LINEAR),
                                  segment(kSecond, 2 * kSecond, 1, 0, MP_CURVE_SINE)};
    EXPECT_EQ(S_OK, m.addEnvelope(o, kInputGain, 2, two));
    EXPECT_EQ(S_OK, m.addEnvelope(o, kAllParams, 2, two));
    EXPECT_EQ(E_INVALIDARG, m.addEnvelope(o, kNumParams, 2, two));
    EXPECT_EQ(S_OK, m.addEnvelope(o, kAllParams, 0, nullptr)); // nothing to add: nothing read
    EXPECT_EQ(E_POINTER, m.addEnvelope(o, 0, 1, nullptr));
    EXPECT_EQ(E_OUTOFMEMORY, m.addEnvelope(o, 0, 0xffffffffu, two)); // more than a record holds
    EXPECT_EQ(S_OK, m.flushEnvelope(o, kInputGain, 0, kSecond));
    EXPECT_EQ(S_OK, m.flushEnvelope(o, kAllParams, kSecond, kSecond));
    EXPECT_EQ(E_INVALIDARG, m.flushEnvelope(o, kInputGain, kSecond, kSecond - 1));
    EXPECT_EQ(E_INVALIDARG, m.flushEnvelope(o, kNumParams, 0, kSecond));
    EXPECT_EQ(S_OK, m.setTimeFormat(o, kGuidTimeReference, 12345)); // time data ignored
    EXPECT_EQ(E_INVALIDARG, m.setTimeFormat(o, kGuidTimeMusic, 960));

    // The UI-callback interfaces: one method after IUnknown; and begin, changed, end, which the
    // filter hands on to the host's callback for parameters in capture only.
    ComPtr<IUnknown> setter, callback;
    ASSERT_EQ(S_OK, filter->QueryInterface(kIidParamsSetUICallback, &setter));
    ASSERT_EQ(S_OK, filter->QueryInterface(kIidParamsUICallback, &callback));
    const auto& set = slotsOf<SetUICallbackSlots>(setter.Get());
    const UICallbackSlots& ui = slotsOf<UICallbackSlots>(callback.Get());
    void* c = callback.Get();
    EXPECT_EQ(E_INVALIDARG, set.setParamsUICallback(setter.Get(), callback.Get())) << "its own: notices forever";
    EXPECT_EQ(S_OK, set.setParamsUICallback(setter.Get(), &host));
    DWORD indices[] = {kEqLowGain, kNumParams, kEqMidGain};
    float values[] = {0.4f, 0.5f, 0.5f};
    EXPECT_EQ(S_OK, ui.beginCapture(c, indices, 1));
    EXPECT_EQ(S_OK, ui.changed(c, indices, 1, values));
    EXPECT_EQ(S_OK, ui.endCapture(c, indices, 1));
    ASSERT_EQ(3u, host.notices.size());
    EXPECT_EQ("bce", (std::string{host.notices[0].kind, host.notices[1].kind, host.notices[2].kind}));
    EXPECT_EQ(static_cast<DWORD>(kEqLowGain), host.notices[1].index);
    EXPECT_EQ(0.4f, host.notices[1].value);
    EXPECT_EQ(0.4f, host.notices[1].reported) << "GetParam has the captured value";
    EXPECT_EQ(S_OK, set.setParamsUICallback(setter.Get(), nullptr));
    EXPECT_EQ(1, host.references.load()) << "the filter let go of it";
    // Indices beyond the table; changes outside a capture; no values.
    EXPECT_EQ(E_INVALIDARG, ui.beginCapture(c, indices, 3));
    EXPECT_EQ(E_INVALIDARG, ui.changed(c, indices + 2, 1, values)) << "never in capture";
    EXPECT_EQ(E_POINTER, ui.changed(c, indices, 1, nullptr));
    EXPECT_EQ(E_INVALIDARG, ui.endCapture(c, indices + 1, 1));
}

TEST_F(MediaParams, ParamInfoDescribesEveryParameterAndOneTimeFormat) {
    DWORD count = 0;
    ASSERT_EQ(S_OK, info->GetParamCount(&count));
    ASSERT_EQ(static_cast<DWORD>(kNumParams), count);
    for (DWORD i = 0; i < count; ++i) {
        const std::string name = paramName(static_cast<int32_t>(i));
        SCOPED_TRACE(name);
        // Exactly 148 bytes are written: the bytes after them keep their pattern.
        BYTE block[160];
        std::memset(block, 0xcd, sizeof(block));
        ASSERT_EQ(S_OK, info->GetParamInfo(i, reinterpret_cast<MP_PARAMINFO*>(block)));
        EXPECT_EQ(std::vector<BYTE>(12, 0xcd), std::vector<BYTE>(block + 148, block + 160));
        const auto* row = reinterpret_cast<const MP_PARAMINFO*>(block);
        EXPECT_EQ(isSwitch(paramKind(static_cast<int32_t>(i))) ? MPT_BOOL : MPT_FLOAT, row->mpType);
        EXPECT_EQ(std::wstring(name.begin(), name.end()), row->szLabel);
        // The text block: the label, then no unit and no value names.
        WCHAR* text = nullptr;
        ASSERT_EQ(S_OK, info->GetParamText(i, &text));
        EXPECT_EQ(std::wstring(row->szLabel) + L'\0' + L'\0' + L'\0', std::wstring(text, name.size() + 3));
        CoTaskMemFree(text);
    }
    MP_PARAMINFO row{};
    WCHAR* text = nullptr;
    EXPECT_EQ(E_INVALIDARG, info->GetParamInfo(kNumParams, &row));
    EXPECT_EQ(E_POINTER, info->GetParamInfo(0, nullptr));
    EXPECT_EQ(E_INVALIDARG, info->GetParamText(kNumParams, &text));
    EXPECT_EQ(E_POINTER, info->GetParamText(0, nullptr));
    EXPECT_EQ(E_POINTER, info->GetParamCount(nullptr));
    // One time format, reference time, which has no time data: the host's is left as it was.
    GUID supported = GUID_NULL, current = GUID_NULL;
    MP_TIMEDATA timeData = 0x1234;
    EXPECT_TRUE(info->GetNumTimeFormats(&count) == S_OK && count == 1);
    EXPECT_TRUE(info->GetSupportedTimeFormat(0, &supported) == S_OK && IsEqualGUID(kGuidTimeReference, supported));
    EXPECT_TRUE(info->GetCurrentTimeFormat(&current, &timeData) == S_OK && IsEqualGUID(kGuidTimeReference, current));
    EXPECT_EQ(0x1234u, timeData);
    EXPECT_EQ(E_INVALIDARG, info->GetSupportedTimeFormat(1, &supported));
}

// ---- an editor gesture recorded by the host ------------------------------------------------------

namespace gt = pellucer::gui::test;

TEST_F(MediaParams, AKnobDragInTheFiltersEditorIsCapturedForTheHost) {
    gt::WindowTestLock lock;
    ASSERT_TRUE(lock.held());
    vst::AEffect* effect = effectRecordOf(filter.Get());
    ASSERT_NE(nullptr, effect);
    ComPtr<IMediaParamsSetUICallback> setter;
    ASSERT_EQ(S_OK, filter->QueryInterface(kIidParamsSetUICallback, &setter));
    ASSERT_EQ(S_OK, setter->SetParamsUICallback(&host));
    ASSERT_NEAR(0.5f, effect->getParameter(effect, kExpanderThresh), 1e-6);

    gt::HostWindow window(gt::kEditorWidth, gt::kEditorHeight);
    ASSERT_NE(nullptr, window.handle());
    ASSERT_EQ(1, effect->dispatcher(effect, vst::effEditOpen, 0, 0, window.handle(), 0.0f));
    gt::pumpFor(150); // until the X server has mapped and painted the window
    ASSERT_NE(nullptr, window.editor());
    // Drag the knob up by 20 pixels in steps of 4 (0.5 -> 0.6), as a user would.
    const gui::Point from = gt::centreOf(gt::kExpanderThresholdKnob);
    gt::moveTo(gt::screenPoint(window.editor(), from.x, from.y));
    gt::leftDown();
    for (int moved = -4; moved >= -20; moved -= 4)
        gt::moveTo(gt::screenPoint(window.editor(), from.x, from.y + moved));
    gt::leftUp();
    gt::pumpFor(GetDoubleClickTime() + 50);
    effect->dispatcher(effect, vst::effEditClose, 0, 0, nullptr, 0.0f);

    // Begin, changes (GetParam answering the captured value meanwhile) up to 0.6, end; all of it
    // for the knob's parameter, which then holds 0.6.
    ASSERT_GE(host.notices.size(), 3u);
    std::string kinds;
    for (const HostUICallback::Notice& n : host.notices) {
        kinds += n.kind;
        EXPECT_EQ(static_cast<DWORD>(kExpanderThresh), n.index);
        EXPECT_TRUE(n.kind != 'c' || n.value == n.reported) << n.value << " reported as " << n.reported;
    }
    EXPECT_EQ("b" + std::string(kinds.size() - 2, 'c') + "e", kinds);
    EXPECT_NEAR(0.6f, host.notices[host.notices.size() - 2].value, 1e-6);
    float value = 0.0f;
    EXPECT_TRUE(params->GetParam(kExpanderThresh, &value) == S_OK && std::abs(value - 0.6f) < 1e-6) << value;
    ASSERT_EQ(S_OK, setter->SetParamsUICallback(nullptr));
}

} // namespace
} // namespace pellucer::dx::test
