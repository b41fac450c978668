#include "dx/automation/ParamAutomation.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

namespace pellucer::dx {

namespace {

constexpr DWORD kWritablePages =
    PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
constexpr DWORD kReadablePages = kWritablePages | PAGE_READONLY | PAGE_EXECUTE_READ;

/// True when every byte of [address, address + bytes) lies in committed memory with the wanted
/// access. It walks the regions with VirtualQuery: nothing is touched, and no fault is taken or
/// relied on (the old IsBad...Ptr probes can swallow a guard page and are not reliable). Memory
/// another thread frees meanwhile is not caught; this only turns a host's wrong pointer into
/// E_POINTER.
bool memoryAllows(const void* address, size_t bytes, bool write) {
    if (address == nullptr)
        return false;
    if (bytes == 0)
        return true;
    const auto begin = reinterpret_cast<uintptr_t>(address);
    if (bytes - 1 > UINTPTR_MAX - begin)
        return false; // would wrap around the address space
    const uintptr_t last = begin + (bytes - 1);
    uintptr_t at = begin;
    for (;;) {
        MEMORY_BASIC_INFORMATION info{};
        if (VirtualQuery(reinterpret_cast<const void*>(at), &info, sizeof(info)) == 0)
            return false;
        if (info.State != MEM_COMMIT || (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0 ||
            (info.Protect & (write ? kWritablePages : kReadablePages)) == 0)
            return false;
        const uintptr_t regionBegin = reinterpret_cast<uintptr_t>(info.BaseAddress);
        if (info.RegionSize > UINTPTR_MAX - regionBegin)
            return true; // the region reaches the top of the address space
        const uintptr_t regionEnd = regionBegin + info.RegionSize;
        if (regionEnd > last)
            return true;
        at = regionEnd;
    }
}

} // namespace

// -- the "LockedSet" mutex ---------------------------------------------------------------------------

bool NamedMutexActiveSetLock::acquire(uint32_t timeoutMs) {
    if (mutex_ == nullptr)
        return false;
    // An abandoned mutex (a thread ended while holding it) is handed over all the same.
    const DWORD waited = WaitForSingleObject(mutex_, timeoutMs);
    return waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

void NamedMutexActiveSetLock::release() {
    if (mutex_ != nullptr)
        ReleaseMutex(mutex_);
}

// -- lifetime ------------------------------------------------------------------------------------------

ParamAutomation* ParamAutomation::create(IBaseFilter* owner, vst::AEffect* effect) {
    std::unique_ptr<NamedMutexActiveSetLock> lock(new (std::nothrow) NamedMutexActiveSetLock);
    if (lock == nullptr || !lock->valid())
        return nullptr;
    auto* automation = new (std::nothrow) ParamAutomation(owner, effect, std::move(lock));
    if (automation != nullptr)
        InterlockedIncrement(&automation->references_);
    return automation;
}

ParamAutomation::ParamAutomation(IBaseFilter* owner, vst::AEffect* effect,
                                 std::unique_ptr<NamedMutexActiveSetLock> lock)
    : owner_(owner), effect_(effect), timeline_(std::move(lock)) {
    changes_.reserve(kNumParams);
    timeline_.setPresentValueSource(this);
}

ParamAutomation::~ParamAutomation() {
    if (hostCallback_ != nullptr)
        hostCallback_->Release();
}

void ParamAutomation::releaseOwnerReference() {
    if (InterlockedDecrement(&references_) == 0)
        delete this;
}

// -- IUnknown --------------------------------------------------------------------------------------------

HRESULT ParamAutomation::QueryInterface(REFIID iid, void** object) {
    // IUnknown as well: one identity, the filter's.
    if (owner_ == nullptr) {
        if (object != nullptr)
            *object = nullptr;
        return E_NOINTERFACE;
    }
    return owner_->QueryInterface(iid, object);
}

ULONG ParamAutomation::AddRef() {
    const LONG count = InterlockedIncrement(&references_);
    if (owner_ != nullptr)
        owner_->AddRef();
    return static_cast<ULONG>(count);
}

ULONG ParamAutomation::Release() {
    IBaseFilter* owner = owner_;
    const LONG count = InterlockedDecrement(&references_);
    if (count == 0) {
        // Only reachable when a host released more than it held: the owner has let go already.
        delete this;
        return 0;
    }
    // May end the filter, and with it this object: nothing of ours is touched afterwards.
    if (owner != nullptr)
        owner->Release();
    return static_cast<ULONG>(count);
}

// -- results ---------------------------------------------------------------------------------------------

HRESULT ParamAutomation::toHResult(AutomationResult result) {
    switch (result) {
    case AutomationResult::ok:
        return S_OK;
    case AutomationResult::invalidArg:
        return E_INVALIDARG;
    case AutomationResult::pointer:
        return E_POINTER;
    case AutomationResult::outOfMemory:
        return E_OUTOFMEMORY;
    case AutomationResult::lockTimeout:
        return kLockTimeoutResult;
    }
    return E_FAIL;
}

// -- IMediaParamInfo -------------------------------------------------------------------------------------

HRESULT ParamAutomation::GetParamCount(DWORD* count) {
    if (count == nullptr)
        return E_POINTER;
    *count = kNumParams;
    return S_OK;
}

HRESULT ParamAutomation::GetParamInfo(DWORD index, MP_PARAMINFO* info) {
    if (index >= static_cast<DWORD>(kNumParams))
        return E_INVALIDARG;
    if (!memoryAllows(info, sizeof(MP_PARAMINFO), true))
        return E_POINTER;
    static_assert(sizeof(MP_PARAMINFO) == kMpParamInfoBytes);
    std::memcpy(info, &automationParamInfo()[index], sizeof(MP_PARAMINFO));
    return S_OK;
}

HRESULT ParamAutomation::GetParamText(DWORD index, WCHAR** text) {
    if (index >= static_cast<DWORD>(kNumParams))
        return E_INVALIDARG;
    if (text == nullptr)
        return E_POINTER;
    *text = nullptr;
    std::vector<char16_t> block;
    try {
        block = paramTextBlock(automationParamInfo()[index]);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    auto* copy = static_cast<WCHAR*>(CoTaskMemAlloc(block.size() * sizeof(WCHAR)));
    if (copy == nullptr)
        return E_OUTOFMEMORY;
    static_assert(sizeof(WCHAR) == sizeof(char16_t));
    std::memcpy(copy, block.data(), block.size() * sizeof(WCHAR));
    *text = copy;
    return S_OK;
}

HRESULT ParamAutomation::GetNumTimeFormats(DWORD* count) {
    if (count == nullptr)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT ParamAutomation::GetSupportedTimeFormat(DWORD index, GUID* format) {
    if (index != 0)
        return E_INVALIDARG;
    if (format == nullptr)
        return E_POINTER;
    *format = kGuidTimeReference;
    return S_OK;
}

HRESULT ParamAutomation::GetCurrentTimeFormat(GUID* format, MP_TIMEDATA* timeData) {
    (void)timeData; // reference time has no time data: left as the host gave it
    if (format == nullptr)
        return E_POINTER;
    *format = kGuidTimeReference;
    return S_OK;
}

// -- IMediaParams ----------------------------------------------------------------------------------------

HRESULT ParamAutomation::GetParam(DWORD index, MP_DATA* value) {
    return toHResult(timeline_.getParam(index, value));
}

HRESULT ParamAutomation::SetParam(DWORD index, MP_DATA value) {
    return toHResult(timeline_.setParam(index, value));
}

HRESULT ParamAutomation::AddEnvelope(DWORD index, DWORD count, MP_ENVELOPE_SEGMENT* segments) {
    if (index >= static_cast<DWORD>(kNumParams) && index != kAllParams)
        return E_INVALIDARG;
    if (count == 0)
        return S_OK;
    // More than a record holds is refused before the host's array is looked at (its size in
    // bytes may not even fit in a 32-bit size_t).
    if (count > ParamEnvelope::kMaxSegments)
        return E_OUTOFMEMORY;
    if (!memoryAllows(segments, static_cast<size_t>(count) * sizeof(MP_ENVELOPE_SEGMENT), false))
        return E_POINTER;
    static_assert(sizeof(MP_ENVELOPE_SEGMENT) == sizeof(EnvelopeSegment));
    return toHResult(timeline_.addEnvelope(index, reinterpret_cast<const EnvelopeSegment*>(segments), count));
}

HRESULT ParamAutomation::FlushEnvelope(DWORD index, REFERENCE_TIME start, REFERENCE_TIME end) {
    return toHResult(timeline_.flushEnvelope(index, start, end));
}

HRESULT ParamAutomation::SetTimeFormat(GUID format, MP_TIMEDATA timeData) {
    (void)timeData;
    return IsEqualGUID(format, kGuidTimeReference) ? S_OK : E_INVALIDARG;
}

// -- UI callbacks ----------------------------------------------------------------------------------------

HRESULT ParamAutomation::SetParamsUICallback(IMediaParamsUICallback* callback) {
    // Our own callback would pass every notice to itself without end (and hold its own filter).
    if (callback == static_cast<IMediaParamsUICallback*>(this))
        return E_INVALIDARG;
    if (callback != nullptr)
        callback->AddRef();
    IMediaParamsUICallback* previous = nullptr;
    {
        LockGuard guard(callbackLock_);
        previous = hostCallback_;
        hostCallback_ = callback;
    }
    // Outside the lock: the host's Release may call back into us.
    if (previous != nullptr)
        previous->Release();
    return S_OK;
}

IMediaParamsUICallback* ParamAutomation::hostCallback() {
    LockGuard guard(callbackLock_);
    if (hostCallback_ != nullptr)
        hostCallback_->AddRef();
    return hostCallback_;
}

// The host's DWORD arrays are read one element at a time (DWORD and uint32_t are distinct types
// of the same size); each call stops at the first failure, with the earlier elements applied. The
// host's callback hears of a call only when all of it was applied, and its answer is ours.

template <typename ApplyOne, typename Forward>
HRESULT ParamAutomation::applyThenForward(DWORD count, ApplyOne applyOne, Forward forward) {
    for (DWORD k = 0; k < count; ++k) {
        const HRESULT result = toHResult(applyOne(k));
        if (FAILED(result))
            return result;
    }
    IMediaParamsUICallback* host = hostCallback();
    if (host == nullptr)
        return S_OK;
    const HRESULT answer = forward(host);
    host->Release();
    return answer;
}

HRESULT ParamAutomation::captureCall(DWORD* indices, DWORD count, CaptureStep step, CaptureNotice notice) {
    if (count > 0 && indices == nullptr)
        return E_POINTER;
    return applyThenForward(
        count,
        [&](DWORD k) {
            const uint32_t index = indices[k];
            return (timeline_.*step)(&index, 1);
        },
        [&](IMediaParamsUICallback* host) { return (host->*notice)(indices, count); });
}

HRESULT ParamAutomation::ParamsBeginCapture(DWORD* indices, DWORD count) {
    return captureCall(indices, count, &AutomationTimeline::beginCapture, &IMediaParamsUICallback::ParamsBeginCapture);
}

HRESULT ParamAutomation::ParamsChanged(DWORD* indices, DWORD count, MP_DATA* values) {
    if (count > 0 && (indices == nullptr || values == nullptr))
        return E_POINTER;
    return applyThenForward(
        count,
        [&](DWORD k) {
            const uint32_t index = indices[k];
            const float value = values[k];
            return timeline_.paramsChanged(&index, 1, &value);
        },
        [&](IMediaParamsUICallback* host) { return host->ParamsChanged(indices, count, values); });
}

HRESULT ParamAutomation::ParamsEndCapture(DWORD* indices, DWORD count) {
    return captureCall(indices, count, &AutomationTimeline::endCapture, &IMediaParamsUICallback::ParamsEndCapture);
}

// -- the filter's side -------------------------------------------------------------------------------------

bool ParamAutomation::anyAutomated() { return timeline_.anyActive(); }

void ParamAutomation::changeTimes(int64_t from, int64_t to, std::vector<int64_t>& times) {
    timeline_.changeTimes(from, to, times);
}

void ParamAutomation::changedParameters(int64_t position, std::vector<int32_t>& indices) {
    timeline_.changedParameters(position, changes_);
    indices.clear();
    for (const ParamChange& change : changes_)
        indices.push_back(change.index);
}

float ParamAutomation::effectiveValue(int32_t index) {
    // The value just evaluated, so that the effect gets exactly what now counts as sent even if
    // a host call changed the record since.
    for (const ParamChange& change : changes_)
        if (change.index == index)
            return change.value;
    return timeline_.effectiveValue(static_cast<uint32_t>(index));
}

void ParamAutomation::setSampleRate(int32_t sampleRate) {
    if (sampleRate > 0)
        timeline_.setSampleRate(static_cast<uint32_t>(sampleRate));
}

void ParamAutomation::beginCapture(int32_t index) {
    DWORD parameter = static_cast<DWORD>(index);
    ParamsBeginCapture(&parameter, 1);
}

void ParamAutomation::endCapture(int32_t index) {
    DWORD parameter = static_cast<DWORD>(index);
    ParamsEndCapture(&parameter, 1);
}

void ParamAutomation::parameterChanged(int32_t index, float value) {
    DWORD parameter = static_cast<DWORD>(index);
    MP_DATA data = value;
    ParamsChanged(&parameter, 1, &data);
}

float ParamAutomation::presentValue(uint32_t index) {
    if (effect_ == nullptr || effect_->getParameter == nullptr)
        return std::numeric_limits<float>::quiet_NaN(); // unknown: the record keeps its value
    return effect_->getParameter(effect_, static_cast<vst::VstInt32>(index));
}

} // namespace pellucer::dx
