// The filter's media-parameters object as a host reaches it: the slot order hosts call (through
// hand-written vtables, not our own declarations), the failure codes, the parameter descriptions,
// identity and lifetime. What the envelopes do to the sound is tested in graphs
// (AutomationGraphTest.cpp), the envelopes themselves natively (tests/dx/ParamEnvelopeTest.cpp).

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
#include "dx/filter/EffectFilter.h"
#include "dx/automation/MediaParamsInterfaces.h"
#include "dx/automation/ParamAutomation.h"
#include "tests/dx/win32/DxTestSupport.h"
#include "tests/dx/win32/GraphTestSupport.h"

namespace pellucer::dx {
namespace {

using graphtest::ComPtr;
using graphtest::segment;
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

} // namespace
} // namespace pellucer::dx
