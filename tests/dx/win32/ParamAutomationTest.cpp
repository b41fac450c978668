// The filter's media-parameters object: the slot order hosts call (through hand-written vtables,
// not our own declarations), the failure codes, the parameter descriptions, identity and lifetime,
// and what reaches the effect while the filter processes: buffer splits, values of each curve,
// flushes, replaced envelopes, snapping to the input rate, SetParam at the next buffer, and the
// editor's capture notices passed on to the host's callback.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "core/Parameters.h"
#include "dx/EffectFilter.h"
#include "dx/MediaParamsInterfaces.h"
#include "dx/ParamAutomation.h"
#include "tests/dx/win32/DxTestSupport.h"
#include "tests/dx/win32/EffectTestSupport.h"
#include "tests/dx/win32/GraphTestSupport.h"

namespace pellucer::dx {
namespace {

using graphtest::ComPtr;
constexpr REFERENCE_TIME kSecond = 10'000'000;

// ---- hand-written vtables: the published slot order, independent of our declarations -------------

struct MediaParamsSlots {
    HRESULT(STDMETHODCALLTYPE* queryInterface)(void*, REFIID, void**);
    ULONG(STDMETHODCALLTYPE* addRef)(void*);
    ULONG(STDMETHODCALLTYPE* release)(void*);
    HRESULT(STDMETHODCALLTYPE* getParam)(void*, DWORD, float*);
    HRESULT(STDMETHODCALLTYPE* setParam)(void*, DWORD, float);
    HRESULT(STDMETHODCALLTYPE* addEnvelope)(void*, DWORD, DWORD, MP_ENVELOPE_SEGMENT*);
    HRESULT(STDMETHODCALLTYPE* flushEnvelope)(void*, DWORD, REFERENCE_TIME, REFERENCE_TIME);
    HRESULT(STDMETHODCALLTYPE* setTimeFormat)(void*, GUID, DWORD);
};

struct SetUICallbackSlots {
    HRESULT(STDMETHODCALLTYPE* queryInterface)(void*, REFIID, void**);
    ULONG(STDMETHODCALLTYPE* addRef)(void*);
    ULONG(STDMETHODCALLTYPE* release)(void*);
    HRESULT(STDMETHODCALLTYPE* setParamsUICallback)(void*, IUnknown*);
};

struct UICallbackSlots {
    HRESULT(STDMETHODCALLTYPE* queryInterface)(void*, REFIID, void**);
    ULONG(STDMETHODCALLTYPE* addRef)(void*);
    ULONG(STDMETHODCALLTYPE* release)(void*);
    HRESULT(STDMETHODCALLTYPE* beginCapture)(void*, DWORD*, DWORD);
    HRESULT(STDMETHODCALLTYPE* changed)(void*, DWORD*, DWORD, float*);
    HRESULT(STDMETHODCALLTYPE* endCapture)(void*, DWORD*, DWORD);
};

template <class Slots> const Slots& slotsOf(void* object) { return **static_cast<Slots**>(object); }

// ---- a host's parameter-UI callback ------------------------------------------------------------------

/// Records every notice; reads GetParam of each changed parameter while the notice is on.
class RecordingUICallback final : public IMediaParamsUICallback {
public:
    struct Notice {
        char kind; ///< 'b'egin, 'c'hanged, 'e'nd
        std::vector<DWORD> indices;
        std::vector<float> values;
        std::vector<float> getParamDuring; ///< what GetParam answered for each changed index
    };

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, kIidParamsUICallback))
            return E_NOINTERFACE;
        *object = static_cast<IMediaParamsUICallback*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&references));
    }
    ULONG STDMETHODCALLTYPE Release() override {
        return static_cast<ULONG>(InterlockedDecrement(&references));
    }

    HRESULT STDMETHODCALLTYPE ParamsBeginCapture(DWORD* indices, DWORD count) override {
        notices.push_back({'b', std::vector<DWORD>(indices, indices + count), {}, {}});
        return answer;
    }
    HRESULT STDMETHODCALLTYPE ParamsChanged(DWORD* indices, DWORD count, MP_DATA* values) override {
        Notice notice{'c',
                      std::vector<DWORD>(indices, indices + count),
                      std::vector<float>(values, values + count),
                      {}};
        for (DWORD k = 0; k < count && params != nullptr; ++k) {
            float now = -1.0f;
            params->GetParam(indices[k], &now);
            notice.getParamDuring.push_back(now);
        }
        notices.push_back(notice);
        return answer;
    }
    HRESULT STDMETHODCALLTYPE ParamsEndCapture(DWORD* indices, DWORD count) override {
        notices.push_back({'e', std::vector<DWORD>(indices, indices + count), {}, {}});
        return answer;
    }

    volatile LONG references = 1;
    HRESULT answer = S_OK;
    IMediaParamsPublished* params = nullptr; ///< not counted
    std::vector<Notice> notices;
};

// ---- the module's filter -------------------------------------------------------------------------------

class ModuleFilter : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(test::pellucerModule(), nullptr) << "cannot load " << PELLUCER_VST_MODULE;
        ASSERT_TRUE(SUCCEEDED(com_.result()));
        ASSERT_EQ(S_OK, graphtest::createEffectFilter(filter));
        ASSERT_EQ(S_OK, filter->QueryInterface(kIidMediaParams, params.putVoid()));
        ASSERT_EQ(S_OK, filter->QueryInterface(IID_IMediaParamInfo, info.putVoid()));
    }

    graphtest::ComApartment com_;
    ComPtr<IBaseFilter> filter;
    ComPtr<IMediaParamsPublished> params;
    ComPtr<IMediaParamInfo> info;
};

MP_ENVELOPE_SEGMENT segment(REFERENCE_TIME start, REFERENCE_TIME end, float a, float b, int curve) {
    MP_ENVELOPE_SEGMENT s{};
    s.rtStart = start;
    s.rtEnd = end;
    s.valStart = a;
    s.valEnd = b;
    s.iCurve = static_cast<MP_CURVE_TYPE>(curve);
    s.flags = kEnvelopeStandard;
    return s;
}

TEST_F(ModuleFilter, MediaParamsAnswerInThePublishedSlotOrder) {
    // The identifier is the published one, which the system's import library carries as well.
    EXPECT_TRUE(IsEqualIID(kIidMediaParams, IID_IMediaParams));
    EXPECT_TRUE(IsEqualIID(kIidMediaParamInfo, IID_IMediaParamInfo));

    void* object = nullptr;
    ASSERT_EQ(S_OK, filter->QueryInterface(kIidMediaParams, &object));
    const MediaParamsSlots& slots = slotsOf<MediaParamsSlots>(object);
    EXPECT_EQ(S_OK, slots.setParam(object, kOutputGain, 0.25f)); // slot 4
    float value = -1.0f;
    EXPECT_EQ(S_OK, slots.getParam(object, kOutputGain, &value)); // slot 3
    EXPECT_EQ(0.25f, value);
    EXPECT_EQ(E_INVALIDARG, slots.getParam(object, kNumParams, &value));
    MP_ENVELOPE_SEGMENT s = segment(0, kSecond, 0.0f, 1.0f, MP_CURVE_LINEAR);
    EXPECT_EQ(S_OK, slots.addEnvelope(object, kInputGain, 1, &s)); // slot 5
    EXPECT_EQ(E_INVALIDARG, slots.addEnvelope(object, kNumParams, 1, &s));
    EXPECT_EQ(E_INVALIDARG, slots.flushEnvelope(object, kInputGain, 10, 5)); // slot 6
    EXPECT_EQ(S_OK, slots.flushEnvelope(object, kInputGain, 0, kSecond));
    EXPECT_EQ(S_OK, slots.setTimeFormat(object, kGuidTimeReference, 0)); // slot 7
    EXPECT_EQ(E_INVALIDARG, slots.setTimeFormat(object, kGuidTimeMusic, 0));
    slots.release(object);

    // The UI-callback interfaces: one method after IUnknown, and begin, changed, end.
    RecordingUICallback host;
    void* setter = nullptr;
    ASSERT_EQ(S_OK, filter->QueryInterface(kIidParamsSetUICallback, &setter));
    EXPECT_EQ(S_OK, slotsOf<SetUICallbackSlots>(setter).setParamsUICallback(setter, &host));
    void* callback = nullptr;
    ASSERT_EQ(S_OK, filter->QueryInterface(kIidParamsUICallback, &callback));
    const UICallbackSlots& ui = slotsOf<UICallbackSlots>(callback);
    DWORD index = kEqLowGain;
    float captured = 0.4f;
    EXPECT_EQ(S_OK, ui.beginCapture(callback, &index, 1));
    EXPECT_EQ(S_OK, ui.changed(callback, &index, 1, &captured));
    EXPECT_EQ(S_OK, ui.endCapture(callback, &index, 1));
    ASSERT_EQ(3u, host.notices.size());
    EXPECT_EQ('b', host.notices[0].kind);
    EXPECT_EQ('c', host.notices[1].kind);
    EXPECT_EQ(std::vector<float>{0.4f}, host.notices[1].values);
    EXPECT_EQ('e', host.notices[2].kind);
    ui.release(callback);
    EXPECT_EQ(S_OK, slotsOf<SetUICallbackSlots>(setter).setParamsUICallback(setter, nullptr));
    slotsOf<SetUICallbackSlots>(setter).release(setter);
    EXPECT_EQ(1, host.references); // the filter let go of it
}

/// A writable page, a read-only page and reserved memory after them: pointers a host might pass
/// by mistake.
class GuardedPages {
public:
    GuardedPages() {
        SYSTEM_INFO system{};
        GetSystemInfo(&system);
        page_ = system.dwPageSize;
        // Two committed pages and a third only reserved: the second is then made read-only.
        base_ = static_cast<BYTE*>(VirtualAlloc(nullptr, 3 * page_, MEM_RESERVE, PAGE_NOACCESS));
        if (base_ != nullptr)
            VirtualAlloc(base_, 2 * page_, MEM_COMMIT, PAGE_READWRITE);
        DWORD old = 0;
        if (base_ != nullptr)
            VirtualProtect(base_ + page_, page_, PAGE_READONLY, &old);
    }
    ~GuardedPages() {
        if (base_ != nullptr)
            VirtualFree(base_, 0, MEM_RELEASE);
    }
    bool valid() const { return base_ != nullptr; }
    /// `bytes` before the end of the writable page (followed by the read-only one).
    BYTE* writableEndingIn(size_t bytes) const { return base_ + page_ - bytes; }
    /// `bytes` before the end of the read-only page (followed by reserved memory).
    BYTE* readableEndingIn(size_t bytes) const { return base_ + 2 * page_ - bytes; }
    BYTE* readOnly() const { return base_ + page_; }

private:
    size_t page_ = 0;
    BYTE* base_ = nullptr;
};

TEST_F(ModuleFilter, EveryFailureHasItsCode) {
    float value = 0.0f;
    EXPECT_EQ(E_INVALIDARG, params->GetParam(kNumParams, &value));
    EXPECT_EQ(E_INVALIDARG, params->GetParam(kAllParams, &value));
    EXPECT_EQ(E_POINTER, params->GetParam(0, nullptr));
    EXPECT_EQ(E_INVALIDARG, params->SetParam(kNumParams, 0.5f));
    EXPECT_EQ(E_INVALIDARG, params->SetParam(kAllParams, 0.5f));

    MP_ENVELOPE_SEGMENT two[2] = {segment(0, kSecond, 0, 1, MP_CURVE_LINEAR),
                                  segment(kSecond, 2 * kSecond, 1, 0, MP_CURVE_SINE)};
    EXPECT_EQ(E_INVALIDARG, params->AddEnvelope(kNumParams, 2, two));
    EXPECT_EQ(S_OK, params->AddEnvelope(kAllParams, 0, nullptr)); // nothing to add: nothing read
    EXPECT_EQ(E_POINTER, params->AddEnvelope(0, 1, nullptr));
    EXPECT_EQ(E_OUTOFMEMORY, params->AddEnvelope(0, 0xffffffffu, two)); // more than a record holds
    GuardedPages pages;
    ASSERT_TRUE(pages.valid());
    // Readable memory is enough for segments; one segment too many runs into reserved memory.
    auto* atEnd =
        reinterpret_cast<MP_ENVELOPE_SEGMENT*>(pages.readableEndingIn(2 * sizeof(MP_ENVELOPE_SEGMENT)));
    EXPECT_EQ(E_POINTER, params->AddEnvelope(kDelayLevel, 3, atEnd));
    EXPECT_EQ(S_OK, params->AddEnvelope(kDelayLevel, 2, atEnd)); // zeros: two empty jumps at 0

    EXPECT_EQ(E_INVALIDARG, params->FlushEnvelope(kNumParams, 0, kSecond));
    EXPECT_EQ(E_INVALIDARG, params->FlushEnvelope(0, kSecond, kSecond - 1));
    EXPECT_EQ(S_OK, params->FlushEnvelope(kAllParams, kSecond, kSecond));
    EXPECT_EQ(E_INVALIDARG, params->SetTimeFormat(kGuidTimeSamples, 44100));
    EXPECT_EQ(E_INVALIDARG, params->SetTimeFormat(kGuidTimeMusic, 960));
    EXPECT_EQ(S_OK, params->SetTimeFormat(kGuidTimeReference, 12345)); // time data ignored

    DWORD count = 0;
    EXPECT_EQ(E_POINTER, info->GetParamCount(nullptr));
    MP_PARAMINFO row{};
    EXPECT_EQ(E_INVALIDARG, info->GetParamInfo(kNumParams, &row));
    EXPECT_EQ(E_POINTER, info->GetParamInfo(0, nullptr));
    EXPECT_EQ(E_POINTER, info->GetParamInfo(0, reinterpret_cast<MP_PARAMINFO*>(pages.readOnly())));
    // 147 writable bytes are one too few.
    EXPECT_EQ(E_POINTER, info->GetParamInfo(0, reinterpret_cast<MP_PARAMINFO*>(pages.writableEndingIn(147))));
    EXPECT_EQ(S_OK, info->GetParamInfo(0, reinterpret_cast<MP_PARAMINFO*>(pages.writableEndingIn(148))));
    WCHAR* text = nullptr;
    EXPECT_EQ(E_INVALIDARG, info->GetParamText(kNumParams, &text));
    EXPECT_EQ(E_POINTER, info->GetParamText(0, nullptr));
    EXPECT_EQ(E_POINTER, info->GetNumTimeFormats(nullptr));
    GUID format = GUID_NULL;
    EXPECT_EQ(E_INVALIDARG, info->GetSupportedTimeFormat(1, &format));
    EXPECT_EQ(E_POINTER, info->GetSupportedTimeFormat(0, nullptr));
    EXPECT_EQ(E_POINTER, info->GetCurrentTimeFormat(nullptr, &count));

    // Capture notices: indices beyond the table, changes outside a capture.
    ComPtr<IMediaParamsUICallback> ui;
    ASSERT_EQ(S_OK, filter->QueryInterface(kIidParamsUICallback, ui.putVoid()));
    DWORD beyond[] = {kEqLowGain, kNumParams, kEqMidGain};
    EXPECT_EQ(E_INVALIDARG, ui->ParamsBeginCapture(beyond, 3));
    float half[] = {0.5f, 0.5f, 0.5f};
    EXPECT_EQ(S_OK, ui->ParamsChanged(beyond, 1, half)); // the first was marked before the failure
    EXPECT_EQ(E_INVALIDARG, ui->ParamsChanged(beyond + 2, 1, half)); // never in capture
    EXPECT_EQ(E_INVALIDARG, ui->ParamsChanged(beyond + 1, 1, half));
    EXPECT_EQ(E_POINTER, ui->ParamsChanged(beyond, 1, nullptr));
    EXPECT_EQ(E_INVALIDARG, ui->ParamsEndCapture(beyond + 1, 1));
    EXPECT_EQ(S_OK, ui->ParamsEndCapture(beyond, 1));
    // The filter's own callback as the host's would hand every notice to itself forever.
    ComPtr<IMediaParamsSetUICallback> setter;
    ASSERT_EQ(S_OK, filter->QueryInterface(kIidParamsSetUICallback, setter.putVoid()));
    EXPECT_EQ(E_INVALIDARG, setter->SetParamsUICallback(ui.get()));
    EXPECT_EQ(S_OK, ui->ParamsBeginCapture(beyond, 1));

    // The timeline's results as HRESULTs; a set lock kept from us for a second is a timeout.
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_TIMEOUT), ParamAutomation::toHResult(AutomationResult::lockTimeout));
    EXPECT_EQ(E_OUTOFMEMORY, ParamAutomation::toHResult(AutomationResult::outOfMemory));
}

bool isSwitch(int32_t index) {
    switch (index) {
    case kPlugInEnable:
    case kInputTubeEnable:
    case kCompanderEnable:
    case kEqEnable:
    case kEqTubeLowEnable:
    case kEqTubeMidEnable:
    case kEqTubeHighEnable:
    case kDeEsserEnable:
    case kDeEsserListen:
    case kDoublerEnable:
    case kDelayEnable:
    case kDelaySyncEnable:
    case kOutputTubeEnable:
        return true;
    default:
        return false;
    }
}

TEST_F(ModuleFilter, ParamInfoDescribesEveryParameterInTheUnitRange) {
    DWORD count = 0;
    ASSERT_EQ(S_OK, info->GetParamCount(&count));
    EXPECT_EQ(39u, count);
    int switches = 0;
    for (DWORD i = 0; i < count; ++i) {
        SCOPED_TRACE("parameter " + std::to_string(i));
        // Exactly 148 bytes are written: the bytes after them keep their pattern.
        BYTE block[160];
        std::memset(block, 0xcd, sizeof(block));
        ASSERT_EQ(S_OK, info->GetParamInfo(i, reinterpret_cast<MP_PARAMINFO*>(block)));
        for (size_t b = 148; b < sizeof(block); ++b)
            ASSERT_EQ(0xcd, block[b]) << "byte " << b;
        MP_PARAMINFO row{};
        std::memcpy(&row, block, sizeof(row));
        EXPECT_EQ(isSwitch(static_cast<int32_t>(i)) ? MPT_BOOL : MPT_FLOAT, row.mpType);
        switches += row.mpType == MPT_BOOL ? 1 : 0;
        EXPECT_EQ(0x1fu, row.mopCaps);
        EXPECT_EQ(0.0f, row.mpdMinValue);
        EXPECT_EQ(1.0f, row.mpdMaxValue);
        EXPECT_EQ(1.0f, row.mpdNeutralValue);
        EXPECT_EQ(L'\0', row.szUnitText[0]);
        EXPECT_NE(L'\0', row.szLabel[0]);

        WCHAR* text = nullptr;
        ASSERT_EQ(S_OK, info->GetParamText(i, &text));
        // The text block starts with the label and has no unit and no value names.
        const size_t labelLength = std::wcslen(row.szLabel);
        EXPECT_EQ(0, std::wmemcmp(text, row.szLabel, labelLength));
        EXPECT_EQ(L'\0', text[labelLength]);
        EXPECT_EQ(L'\0', text[labelLength + 1]);
        EXPECT_EQ(L'\0', text[labelLength + 2]);
        CoTaskMemFree(text);
    }
    EXPECT_EQ(13, switches);

    auto label = [&](DWORD index) {
        MP_PARAMINFO row{};
        info->GetParamInfo(index, &row);
        return std::wstring(row.szLabel);
    };
    EXPECT_EQ(L"Plug-in Enable", label(kPlugInEnable));
    EXPECT_EQ(L"Compressor Thresh", label(kCompressorThresh));
    EXPECT_EQ(L"Output Gain", label(kOutputGain));
    EXPECT_EQ(L"Reserved", label(kReserved));

    WCHAR* text = nullptr;
    ASSERT_EQ(S_OK, info->GetParamText(kInputGain, &text));
    EXPECT_EQ(0, std::memcmp(text, L"Input Gain\0\0\0", 13 * sizeof(WCHAR)));
    CoTaskMemFree(text);

    DWORD formats = 0;
    ASSERT_EQ(S_OK, info->GetNumTimeFormats(&formats));
    EXPECT_EQ(1u, formats);
    GUID format = GUID_NULL;
    ASSERT_EQ(S_OK, info->GetSupportedTimeFormat(0, &format));
    EXPECT_TRUE(IsEqualGUID(kGuidTimeReference, format));
    format = GUID_NULL;
    MP_TIMEDATA timeData = 0x1234;
    ASSERT_EQ(S_OK, info->GetCurrentTimeFormat(&format, &timeData));
    EXPECT_TRUE(IsEqualGUID(kGuidTimeReference, format));
    EXPECT_EQ(0x1234u, timeData);
    EXPECT_EQ(S_OK, info->GetCurrentTimeFormat(&format, nullptr)); // time data is optional

    // Values are exchanged in host units: a switch takes 0.5 and more as on.
    ASSERT_EQ(S_OK, params->SetParam(kEqEnable, 0.6f));
    float value = -1.0f;
    ASSERT_EQ(S_OK, params->GetParam(kEqEnable, &value));
    EXPECT_EQ(1.0f, value);
    ASSERT_EQ(S_OK, params->SetParam(kEqMidGain, 3.0f));
    ASSERT_EQ(S_OK, params->GetParam(kEqMidGain, &value));
    EXPECT_EQ(1.0f, value);
}

TEST_F(ModuleFilter, InterfacesAnswerWithTheFiltersIdentity) {
    ComPtr<IUnknown> identity;
    ASSERT_EQ(S_OK, filter->QueryInterface(IID_IUnknown, identity.putVoid()));
    ComPtr<IMediaParamsSetUICallback> setter;
    ComPtr<IMediaParamsUICallback> ui;
    ASSERT_EQ(S_OK, filter->QueryInterface(kIidParamsSetUICallback, setter.putVoid()));
    ASSERT_EQ(S_OK, filter->QueryInterface(kIidParamsUICallback, ui.putVoid()));
    IUnknown* faces[] = {params.get(), info.get(), setter.get(), ui.get()};
    for (IUnknown* face : faces) {
        ComPtr<IUnknown> viaFace;
        ASSERT_EQ(S_OK, face->QueryInterface(IID_IUnknown, viaFace.putVoid()));
        EXPECT_EQ(identity.get(), viaFace.get());
        ComPtr<IBaseFilter> back;
        ASSERT_EQ(S_OK, face->QueryInterface(IID_IBaseFilter, back.putVoid()));
        EXPECT_EQ(filter.get(), back.get());
        ComPtr<IMediaParamsPublished> again;
        ASSERT_EQ(S_OK, face->QueryInterface(kIidMediaParams, again.putVoid()));
        EXPECT_EQ(params.get(), again.get());
        void* none = reinterpret_cast<void*>(1);
        EXPECT_EQ(E_NOINTERFACE, face->QueryInterface(IID_IMemInputPin, &none));
        EXPECT_EQ(nullptr, none);
    }
}

// The filter built from the linked objects, where the module's live-object count can be read.
TEST(MediaParamsLifetime, AHostsReferenceKeepsTheFilterAndTheLastReleaseEndsBoth) {
    const LONG before = activeObjectCount();
    HRESULT result = E_FAIL;
    IUnknown* unknown = createEffectFilter(nullptr, &result);
    ASSERT_EQ(S_OK, result);
    unknown->AddRef();
    IMediaParamsPublished* params = nullptr;
    ASSERT_EQ(S_OK, unknown->QueryInterface(kIidMediaParams, reinterpret_cast<void**>(&params)));
    const LONG alive = activeObjectCount();
    EXPECT_GT(alive, before);
    unknown->Release(); // the host keeps only IMediaParams
    EXPECT_EQ(alive, activeObjectCount());
    EXPECT_EQ(S_OK, params->SetParam(kOutputGain, 0.3f));
    float value = 0.0f;
    EXPECT_EQ(S_OK, params->GetParam(kOutputGain, &value));
    EXPECT_EQ(0.3f, value);
    params->Release();
    EXPECT_EQ(before, activeObjectCount());
}

// An outer object that aggregates the filter.
struct Outer final : IUnknown {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (IsEqualIID(iid, IID_IUnknown)) {
            *object = this;
            AddRef();
            return S_OK;
        }
        return inner->QueryInterface(iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    long references = 1;
    IUnknown* inner = nullptr;
};

TEST(MediaParamsLifetime, AggregatedTheReferencesAndIdentityAreTheOuterObjects) {
    Outer outer;
    HRESULT result = E_FAIL;
    outer.inner = createEffectFilter(&outer, &result);
    ASSERT_EQ(S_OK, result);
    outer.inner->AddRef();
    IMediaParamInfo* info = nullptr;
    ASSERT_EQ(S_OK, outer.QueryInterface(IID_IMediaParamInfo, reinterpret_cast<void**>(&info)));
    EXPECT_EQ(2, outer.references);
    IUnknown* identity = nullptr;
    ASSERT_EQ(S_OK, info->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
    EXPECT_EQ(&outer, identity);
    EXPECT_EQ(3, outer.references);
    identity->Release();
    info->Release();
    EXPECT_EQ(1, outer.references);
    EXPECT_EQ(0u, outer.inner->Release());
}

// ---- what the filter pushes into the effect while processing -----------------------------------------

using effecttest::FakeSample;
using effecttest::FilterRig;
using effecttest::gEffectLog;

/// One value the recording effect received, at the stream frame where the next piece began.
struct Push {
    int64_t frame;
    int32_t index;
    double value;
};

/// The recording effect's log read back: its pushes with their frames, and its piece lengths.
struct EffectTrace {
    std::vector<Push> pushes;
    std::vector<int> pieces;
    std::vector<Push> of(int32_t index) const {
        std::vector<Push> selected;
        for (const Push& p : pushes)
            if (p.index == index)
                selected.push_back(p);
        return selected;
    }
};

EffectTrace traceFrom(int64_t firstFrame) {
    EffectTrace trace;
    int64_t frame = firstFrame;
    for (const std::string& event : gEffectLog.events) {
        if (event[0] == 'P') {
            trace.pieces.push_back(std::stoi(event.substr(1)));
            frame += trace.pieces.back();
        } else if (event[0] == 'S') {
            int index = 0;
            double value = 0.0;
            if (std::sscanf(event.c_str(), "S%d=%lf", &index, &value) == 2)
                trace.pushes.push_back({frame, index, value});
        }
    }
    return trace;
}

/// A filter with the recording effect streaming at `rate`, and its media-parameters object.
struct AutomationRig {
    explicit AutomationRig(DWORD rate) {
        rig.startStreaming(rate);
        params = rig.filter->mediaParams();
        gEffectLog.events.clear();
    }
    /// Buffers of `frames` frames until `total` frames went through.
    void stream(int64_t total, int frames) {
        for (int64_t done = 0; done < total; done += frames)
            ASSERT_EQ(S_OK, rig.receive(FakeSample::stereoRamp(
                                static_cast<int>(std::min<int64_t>(frames, total - done)))));
    }
    FilterRig rig;
    ParamAutomation* params = nullptr;
};

/// The frames a buffer is cut at: every multiple of `step` and every extra point inside it.
std::vector<int> expectedPieces(int64_t total, int bufferFrames, int64_t step, std::vector<int64_t> extra) {
    std::vector<int> pieces;
    for (int64_t begin = 0; begin < total; begin += bufferFrames) {
        const int64_t end = std::min<int64_t>(begin + bufferFrames, total);
        std::vector<int64_t> cuts;
        for (int64_t t = (begin + step - 1) / step * step; t < end; t += step)
            cuts.push_back(t);
        for (int64_t t : extra)
            if (t >= begin && t < end)
                cuts.push_back(t);
        cuts.push_back(end);
        std::sort(cuts.begin(), cuts.end());
        int64_t at = begin;
        for (int64_t t : cuts) {
            if (t > at)
                pieces.push_back(static_cast<int>(t - at));
            at = std::max(at, t);
        }
    }
    return pieces;
}

TEST(MediaParamsStreaming, ARampSplitsBuffersEvery882FramesAndAtItsEnd) {
    AutomationRig a(44100);
    ASSERT_NE(nullptr, a.params);
    MP_ENVELOPE_SEGMENT ramp = segment(0, kSecond, 0.0f, 1.0f, MP_CURVE_LINEAR);
    ASSERT_EQ(S_OK, a.params->AddEnvelope(kOutputGain, 1, &ramp));
    a.stream(46000, 1000);
    const EffectTrace trace = traceFrom(0);

    EXPECT_EQ(expectedPieces(46000, 1000, 882, {0, 44100}), trace.pieces);
    // The recording effect holds 0, where the ramp starts: nothing is sent at frame 0. Then at
    // every piece the value of the ramp there, rising by at most 0.02 (plus the steps at buffer
    // starts between grid points), up to 1 at 44,100.
    const std::vector<Push> pushes = trace.of(kOutputGain);
    ASSERT_FALSE(pushes.empty());
    EXPECT_GT(pushes.front().frame, 0);
    double previous = 0.0;
    int gridPushes = 0;
    for (const Push& p : pushes) {
        SCOPED_TRACE("frame " + std::to_string(p.frame));
        const double t = std::round(static_cast<double>(p.frame) * kSecond / 44100.0);
        EXPECT_NEAR(std::min(1.0, t / kSecond), p.value, 1e-6);
        EXPECT_GT(p.value, previous);
        EXPECT_LE(p.value - previous, 0.02 + 1e-6);
        previous = p.value;
        gridPushes += p.frame % 882 == 0 ? 1 : 0;
    }
    EXPECT_EQ(50, gridPushes);
    EXPECT_EQ(44100, pushes.back().frame);
    EXPECT_EQ(1.0, pushes.back().value);
    EXPECT_EQ(trace.pushes.size(), pushes.size());
}

TEST(MediaParamsStreaming, EveryCurveFollowsItsFormulaFromStartToEnd) {
    // One parameter per curve, all from 0.2 to 0.8 over [0.5 s, 1.5 s]; an unknown code is a sine.
    const int curves[] = {MP_CURVE_JUMP,      MP_CURVE_LINEAR, MP_CURVE_SQUARE,
                          MP_CURVE_INVSQUARE, MP_CURVE_SINE,   99};
    const int32_t targets[] = {kDelayLevel,    kDelayFeedback, kDoublerPresence,
                               kDoublerStereo, kDeEsserDepth,  kEqTubeSaturation};
    AutomationRig a(44100);
    for (size_t c = 0; c < std::size(curves); ++c) {
        MP_ENVELOPE_SEGMENT s = segment(kSecond / 2, 3 * kSecond / 2, 0.2f, 0.8f, curves[c]);
        ASSERT_EQ(S_OK, a.params->AddEnvelope(targets[c], 1, &s));
    }
    a.stream(2 * 44100, 4410);
    const EffectTrace trace = traceFrom(0);
    const double pi = std::numbers::pi;
    auto formula = [&](int curve, double x) {
        const double a0 = 0.2f, b = 0.8f, d = b - a0;
        switch (curve) {
        case MP_CURVE_JUMP:
            return a0;
        case MP_CURVE_LINEAR:
            return a0 + d * x;
        case MP_CURVE_SQUARE:
            return a0 + d * x * x;
        case MP_CURVE_INVSQUARE:
            return b - d * (1 - x) * (1 - x);
        default:
            return a0 + d * (1 + std::sin((x - 0.5) * pi)) / 2;
        }
    };
    for (size_t c = 0; c < std::size(curves); ++c) {
        SCOPED_TRACE("curve " + std::to_string(curves[c]));
        const std::vector<Push> pushes = trace.of(targets[c]);
        auto valueAt = [&](int64_t frame) {
            double v = -1.0;
            for (const Push& p : pushes)
                if (p.frame <= frame)
                    v = p.value;
            return v;
        };
        // Before its start the effect keeps its own value (0): nothing is sent.
        ASSERT_FALSE(pushes.empty());
        EXPECT_EQ(22050, pushes.front().frame);
        EXPECT_NEAR(formula(curves[c], 0.0), valueAt(22050), 1e-6); // start
        EXPECT_NEAR(formula(curves[c], 0.5), valueAt(44100), 1e-6); // middle: a grid point
        EXPECT_NEAR(formula(curves[c], 1.0), valueAt(66150), 1e-6); // end: x = 1
        EXPECT_NEAR(0.8, valueAt(66150 + 882), 1e-6);               // after it: the end value
        EXPECT_NEAR(formula(curves[c], 0.2), valueAt(30870), 1e-6); // a grid point inside
    }
}

TEST(MediaParamsStreaming, FlushStopsEvaluationUntilTheParameterIsAddedAgain) {
    AutomationRig a(44100);
    MP_ENVELOPE_SEGMENT s[2] = {segment(0, kSecond, 0.0f, 1.0f, MP_CURVE_LINEAR),
                                segment(2 * kSecond, 3 * kSecond, 1.0f, 0.7f, MP_CURVE_LINEAR)};
    ASSERT_EQ(S_OK, a.params->AddEnvelope(kDelayLevel, 2, s));
    a.stream(22051, 2205); // the last buffer, one frame, evaluates the ramp's middle
    // The first segment goes; the second remains but is not followed.
    ASSERT_EQ(S_OK, a.params->FlushEnvelope(kDelayLevel, 0, kSecond));
    EXPECT_EQ(1u, a.params->timeline().envelope(kDelayLevel).segmentCount());
    gEffectLog.events.clear();
    a.stream(3 * 44100, 2205);
    EffectTrace trace = traceFrom(22051);
    EXPECT_TRUE(trace.pushes.empty());
    EXPECT_EQ(std::vector<int>(60, 2205), trace.pieces); // no more splits either
    float value = 0.0f;
    ASSERT_EQ(S_OK, a.params->GetParam(kDelayLevel, &value));
    EXPECT_NEAR(0.5, value, 1e-6); // held where the flush found it

    // Added again, the remaining segment is followed (its end value, 3 s having passed).
    MP_ENVELOPE_SEGMENT later = segment(10 * kSecond, 11 * kSecond, 0.3f, 0.3f, MP_CURVE_JUMP);
    ASSERT_EQ(S_OK, a.params->AddEnvelope(kDelayLevel, 1, &later));
    gEffectLog.events.clear();
    a.stream(2205, 2205);
    trace = traceFrom(22051 + 3 * 44100);
    ASSERT_EQ(1u, trace.pushes.size());
    EXPECT_EQ(22051 + 3 * 44100, trace.pushes[0].frame);
    EXPECT_NEAR(0.7, trace.pushes[0].value, 1e-6);

    // FlushEnvelope for every parameter empties the set at once.
    ASSERT_EQ(S_OK, a.params->FlushEnvelope(kAllParams, std::numeric_limits<int64_t>::min(),
                                            std::numeric_limits<int64_t>::max()));
    EXPECT_FALSE(a.params->anyAutomated());
    EXPECT_EQ(0u, a.params->timeline().envelope(kDelayLevel).segmentCount());
}

TEST(MediaParamsStreaming, SegmentsStartingBeforeThePlayedTimeReplaceTheOldOnes) {
    AutomationRig a(44100);
    MP_ENVELOPE_SEGMENT first[2] = {segment(0, kSecond, 0.0f, 1.0f, MP_CURVE_LINEAR),
                                    segment(kSecond, 2 * kSecond, 1.0f, 0.0f, MP_CURVE_LINEAR)};
    ASSERT_EQ(S_OK, a.params->AddEnvelope(kDoublerPresence, 2, first));
    // Played to 1.5 s: the host sends a new segment from 1.2 s, as after a jump back.
    a.stream(66150, 2205);
    MP_ENVELOPE_SEGMENT replacement = segment(12 * kSecond / 10, 3 * kSecond, 0.9f, 0.9f, MP_CURVE_JUMP);
    ASSERT_EQ(S_OK, a.params->AddEnvelope(kDoublerPresence, 1, &replacement));
    std::vector<EnvelopeSegment> kept = a.params->timeline().envelope(kDoublerPresence).segments();
    ASSERT_EQ(1u, kept.size());
    EXPECT_EQ(0.9f, kept[0].valStart);
    gEffectLog.events.clear();
    a.stream(2205, 2205);
    EffectTrace trace = traceFrom(66150);
    ASSERT_FALSE(trace.pushes.empty());
    EXPECT_EQ(66150, trace.pushes[0].frame);
    EXPECT_NEAR(0.9, trace.pushes[0].value, 1e-6);

    // A segment at or after the played time is added to the others.
    MP_ENVELOPE_SEGMENT ahead = segment(4 * kSecond, 5 * kSecond, 0.1f, 0.2f, MP_CURVE_LINEAR);
    ASSERT_EQ(S_OK, a.params->AddEnvelope(kDoublerPresence, 1, &ahead));
    EXPECT_EQ(2u, a.params->timeline().envelope(kDoublerPresence).segmentCount());
}

TEST(MediaParamsStreaming, SegmentTimesSnapToTheInputRate) {
    AutomationRig a(48000);
    EXPECT_EQ(48000, a.params->timeline().sampleRate());
    MP_ENVELOPE_SEGMENT s = segment(12'345, 12'345 + kSecond / 100, 0.7f, 0.7f, MP_CURVE_JUMP);
    ASSERT_EQ(S_OK, a.params->AddEnvelope(kEqLowGain, 1, &s));
    const std::vector<EnvelopeSegment> stored = a.params->timeline().envelope(kEqLowGain).segments();
    ASSERT_EQ(1u, stored.size());
    EXPECT_EQ(12'292, stored[0].rtStart); // sample 59
    a.stream(960, 960);
    const EffectTrace trace = traceFrom(0);
    ASSERT_GE(trace.pieces.size(), 2u);
    EXPECT_EQ(59, trace.pieces[0]);
    ASSERT_EQ(1u, trace.pushes.size());
    EXPECT_EQ(59, trace.pushes[0].frame);
    EXPECT_NEAR(0.7, trace.pushes[0].value, 1e-6);
}

TEST(MediaParamsStreaming, SetParamReachesTheEffectAtTheNextBuffer) {
    AutomationRig a(44100);
    a.stream(512, 512);
    ASSERT_EQ(S_OK, a.params->SetParam(kInputGain, 0.75f));
    ASSERT_EQ(S_OK, a.params->SetParam(kCompressorThresh, 0.0f)); // what the effect has: not sent
    a.stream(512, 512);
    // Nothing splits a buffer for values set by hand: the value, then one piece.
    EXPECT_EQ((std::vector<std::string>{"P512", "S2=0.750000", "P512"}), gEffectLog.events);
}

TEST(MediaParamsStreaming, WildSegmentsNeverReachTheEffectOutsideTheUnitRange) {
    AutomationRig a(44100);
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    constexpr float inf = std::numeric_limits<float>::infinity();
    MP_ENVELOPE_SEGMENT wild[] = {
        segment(0, kSecond / 10, nan, 2.0f, MP_CURVE_LINEAR),
        segment(kSecond / 10, kSecond / 20, -3.0f, inf, MP_CURVE_SINE), // ends before it starts
        segment(kSecond / 5, kSecond / 4, 0.5f, -inf, 12345),           // unknown curve
        segment(std::numeric_limits<int64_t>::max() - 5, std::numeric_limits<int64_t>::min(), 1, 0,
                MP_CURVE_SQUARE),
        segment(std::numeric_limits<int64_t>::min(), -1, 0.3f, nan, MP_CURVE_INVSQUARE)};
    ASSERT_EQ(S_OK, a.params->AddEnvelope(kOutputGain, static_cast<DWORD>(std::size(wild)), wild));
    a.stream(44100 / 2, 1024);
    const EffectTrace trace = traceFrom(0);
    // A batch out of order keeps all its segments.
    EXPECT_EQ(std::size(wild), a.params->timeline().envelope(kOutputGain).segmentCount());
    ASSERT_FALSE(trace.pushes.empty());
    for (const Push& p : trace.pushes)
        EXPECT_TRUE(p.value >= 0.0 && p.value <= 1.0) << p.value << " at " << p.frame;
}

// ---- capture notices from the effect's host callback -------------------------------------------------

TEST(MediaParamsCapture, TheEffectsGestureCodesReachTheHostsCallback) {
    AutomationRig a(44100);
    RecordingUICallback host;
    host.params = a.params;
    ASSERT_EQ(S_OK, a.params->SetParamsUICallback(&host));
    EXPECT_EQ(2, host.references);
    vst::AEffect* effect = a.rig.filter->adapter().effect();
    auto automate = [&](vst::VstInt32 index, float value) {
        return VstEffectAdapter::hostCallback(effect, vst::audioMasterAutomate, index, 0, nullptr, value);
    };
    // The editor's gesture: begin (parameter number in the value), changes, end.
    EXPECT_EQ(0, automate(0x800, 3.0f));
    EXPECT_EQ(0, automate(kInputTubeSaturation, 0.6f));
    EXPECT_EQ(0, automate(kInputTubeSaturation, 0.65f));
    float during = 0.0f;
    ASSERT_EQ(S_OK, a.params->GetParam(kInputTubeSaturation, &during));
    EXPECT_EQ(0.65f, during);
    EXPECT_EQ(0, automate(0x900, 3.0f));
    EXPECT_EQ(0, automate(kNumParams, 0.5f)); // beyond the host's parameters: ignored
    EXPECT_EQ(0, automate(0x800, 39.0f));
    EXPECT_EQ(0, automate(kEqMidGain, 0.3f)); // a change outside a gesture is not passed on

    ASSERT_EQ(4u, host.notices.size());
    EXPECT_EQ('b', host.notices[0].kind);
    EXPECT_EQ(std::vector<DWORD>{kInputTubeSaturation}, host.notices[0].indices);
    EXPECT_EQ('c', host.notices[1].kind);
    EXPECT_EQ(std::vector<float>{0.6f}, host.notices[1].values);
    EXPECT_EQ(std::vector<float>{0.6f}, host.notices[1].getParamDuring);
    EXPECT_EQ(std::vector<float>{0.65f}, host.notices[2].values);
    EXPECT_EQ('e', host.notices[3].kind);
    EXPECT_FALSE(a.params->timeline().isActive(kInputTubeSaturation));
    EXPECT_FALSE(a.params->timeline().envelope(kInputTubeSaturation).inCapture());

    // The effect made the change itself: it is not sent back while the gesture lasts.
    automate(0x800, static_cast<float>(kEqLowGain));
    automate(kEqLowGain, 0.9f);
    a.stream(1024, 1024);
    EXPECT_TRUE(traceFrom(0).pushes.empty());
    // The host's answer is the answer of the interface; null takes the callback back.
    host.answer = S_FALSE;
    DWORD index = kEqLowGain;
    EXPECT_EQ(S_FALSE, a.params->ParamsEndCapture(&index, 1));
    ASSERT_EQ(S_OK, a.params->SetParamsUICallback(nullptr));
    EXPECT_EQ(1, host.references);
    EXPECT_EQ(S_OK, a.params->ParamsBeginCapture(&index, 1));
}

} // namespace
} // namespace pellucer::dx
