#pragma once

// The filter's media-parameters object: the COM face of parameter automation. A host describes
// the 39 parameters through IMediaParamInfo, sets values and hands over envelopes through
// IMediaParams, and gives the filter its parameter-UI callback; the effect's editor gestures
// arrive through the parameter-UI-callback interface and are passed on to the host's. Each
// method is one call into the AutomationTimeline, whose result becomes the HRESULT.
//
// For the filter it is the AutomationSource that splits buffers and names changed values, and the
// ParameterCaptureListener of the effect adapter.
//
// Identity and lifetime: the object is a part of the filter. QueryInterface on any of its
// interfaces, IUnknown included, is answered by the filter, so every interface a host holds has
// the filter's identity (its outer object's when aggregated). The object counts its own
// references: the filter holds one from creation to its destruction, and every reference a host
// takes on one of the four interfaces is also a reference on the filter, so that the filter
// cannot end while a host still holds, say, its IMediaParams. The last Release of the filter
// releases the filter's reference, which ends the object.
//
// Threads: host calls come on the host's user-interface or sequencer threads, capture notices on
// the editor's thread, the AutomationSource calls on the streaming thread under the filter lock.
// The active set is guarded by the named mutex "LockedSet", shared by every instance in the
// process; each envelope record has its own lock.

#include <vector>

#include "dx/automation/AutomationHooks.h"
#include "dx/automation/AutomationTimeline.h"
#include "dx/automation/MediaParamsInterfaces.h"
#include "dx/server/ModuleCounts.h"
#include "dx/base/Lock.h"
#include "vst/VstAbi.h"

namespace pellucer::dx {

/// The active-set lock over the process-wide named mutex "LockedSet".
class NamedMutexActiveSetLock final : public ActiveSetLock {
public:
    static constexpr const wchar_t* kName = L"LockedSet";

    NamedMutexActiveSetLock() : mutex_(CreateMutexW(nullptr, FALSE, kName)) {}
    ~NamedMutexActiveSetLock() override {
        if (mutex_ != nullptr)
            CloseHandle(mutex_);
    }
    NamedMutexActiveSetLock(const NamedMutexActiveSetLock&) = delete;
    NamedMutexActiveSetLock& operator=(const NamedMutexActiveSetLock&) = delete;

    bool valid() const { return mutex_ != nullptr; }
    bool acquire(uint32_t timeoutMs) override;
    void release() override;

private:
    HANDLE mutex_;
};

class ParamAutomation final : public IMediaParamInfo,
                              public IMediaParamsPublished,
                              public IMediaParamsSetUICallback,
                              public IMediaParamsUICallback,
                              public AutomationSource,
                              public ParameterCaptureListener,
                              private PresentValueSource {
public:
    /// What a call answers when the "LockedSet" mutex was not obtained within 1000 ms: nothing
    /// changed, and the host may try again.
    static constexpr HRESULT kLockTimeoutResult =
        static_cast<HRESULT>(0x800705B4); // HRESULT_FROM_WIN32(ERROR_TIMEOUT)

    /// A new object for `owner` (not counted), holding one reference for the owner; the effect
    /// record (may be null) is where the present parameter values are read. Null when it cannot
    /// be made (memory, the named mutex).
    static ParamAutomation* create(IBaseFilter* owner, vst::AEffect* effect);
    /// The owner's reference, released when the owner ends.
    void releaseOwnerReference();

    AutomationTimeline& timeline() { return timeline_; }
    /// References counted on the object itself (the owner's included); for tests.
    LONG referenceCount() const { return references_; }

    // IUnknown, shared by the four interfaces: QueryInterface goes to the owner filter.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IMediaParamInfo
    HRESULT STDMETHODCALLTYPE GetParamCount(DWORD* count) override;
    HRESULT STDMETHODCALLTYPE GetParamInfo(DWORD index, MP_PARAMINFO* info) override;
    HRESULT STDMETHODCALLTYPE GetParamText(DWORD index, WCHAR** text) override;
    HRESULT STDMETHODCALLTYPE GetNumTimeFormats(DWORD* count) override;
    HRESULT STDMETHODCALLTYPE GetSupportedTimeFormat(DWORD index, GUID* format) override;
    HRESULT STDMETHODCALLTYPE GetCurrentTimeFormat(GUID* format, MP_TIMEDATA* timeData) override;

    // IMediaParams (published order)
    HRESULT STDMETHODCALLTYPE GetParam(DWORD index, MP_DATA* value) override;
    HRESULT STDMETHODCALLTYPE SetParam(DWORD index, MP_DATA value) override;
    HRESULT STDMETHODCALLTYPE AddEnvelope(DWORD index, DWORD count, MP_ENVELOPE_SEGMENT* segments) override;
    HRESULT STDMETHODCALLTYPE FlushEnvelope(DWORD index, REFERENCE_TIME start, REFERENCE_TIME end) override;
    HRESULT STDMETHODCALLTYPE SetTimeFormat(GUID format, MP_TIMEDATA timeData) override;

    // Set-UI-callback interface: takes a reference on the new callback (null allowed) and
    // releases the previous one. The filter's own parameter-UI callback is refused (E_INVALIDARG).
    HRESULT STDMETHODCALLTYPE SetParamsUICallback(IMediaParamsUICallback* callback) override;

    // Parameter-UI-callback interface: applied here, then passed on to the host's callback.
    HRESULT STDMETHODCALLTYPE ParamsBeginCapture(DWORD* indices, DWORD count) override;
    HRESULT STDMETHODCALLTYPE ParamsChanged(DWORD* indices, DWORD count, MP_DATA* values) override;
    HRESULT STDMETHODCALLTYPE ParamsEndCapture(DWORD* indices, DWORD count) override;

    // AutomationSource (streaming thread, under the filter lock)
    bool anyAutomated() override;
    void changeTimes(int64_t from, int64_t to, std::vector<int64_t>& times) override;
    void changedParameters(int64_t position, std::vector<int32_t>& indices) override;
    float effectiveValue(int32_t index) override;
    void setSampleRate(int32_t sampleRate) override;

    // ParameterCaptureListener (the effect's host callback): one parameter at a time through
    // the parameter-UI-callback interface.
    void beginCapture(int32_t index) override;
    void endCapture(int32_t index) override;
    void parameterChanged(int32_t index, float value) override;

    /// AutomationResult as an HRESULT.
    static HRESULT toHResult(AutomationResult result);

private:
    ParamAutomation(IBaseFilter* owner, vst::AEffect* effect, std::unique_ptr<NamedMutexActiveSetLock> lock);
    ~ParamAutomation();
    ParamAutomation(const ParamAutomation&) = delete;
    ParamAutomation& operator=(const ParamAutomation&) = delete;

    float presentValue(uint32_t index) override;
    /// The host's callback with a reference for the caller, or null.
    IMediaParamsUICallback* hostCallback();
    /// Applies elements 0..count-1 with `applyOne(k)` (an AutomationResult), stopping at the first
    /// failure; when all were applied, passes the call on through `forward(host)`.
    template <typename ApplyOne, typename Forward>
    HRESULT applyThenForward(DWORD count, ApplyOne applyOne, Forward forward);
    /// Begin or end of a capture: `step` on the timeline for each index, then `notice` to the host.
    using CaptureStep = AutomationResult (AutomationTimeline::*)(const uint32_t*, size_t);
    using CaptureNotice = HRESULT (STDMETHODCALLTYPE IMediaParamsUICallback::*)(DWORD*, DWORD);
    HRESULT captureCall(DWORD* indices, DWORD count, CaptureStep step, CaptureNotice notice);

    IBaseFilter* owner_;
    vst::AEffect* effect_;
    volatile LONG references_ = 0;
    AutomationTimeline timeline_;
    CriticalSection callbackLock_;
    IMediaParamsUICallback* hostCallback_ = nullptr; ///< one reference, guarded by callbackLock_
    std::vector<ParamChange> changes_;               ///< the streaming thread's last evaluation
    ActiveObject active_;
};

} // namespace pellucer::dx
