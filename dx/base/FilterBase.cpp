#include "dx/base/FilterBase.h"

#include <cstring>
#include <cwchar>
#include <new>

#include "dx/base/Enumerators.h"
#include "dx/base/PinBase.h"

namespace pellucer::dx {

FilterBase::FilterBase(IUnknown* outer, const CLSID& clsid, CriticalSection& filterLock)
    : ComObject(outer), clsid_(clsid), filterLock_(filterLock) {}

FilterBase::~FilterBase() {
    if (clock_ != nullptr)
        clock_->Release();
}

HRESULT FilterBase::nonDelegatingQueryInterface(REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IBaseFilter))
        return handOut(static_cast<IBaseFilter*>(this), object);
    if (IsEqualIID(iid, IID_IMediaFilter))
        return handOut(static_cast<IMediaFilter*>(this), object);
    if (IsEqualIID(iid, IID_IPersist))
        return handOut(static_cast<IPersist*>(this), object);
    if (IsEqualIID(iid, IID_IAMovieSetup))
        return handOut(static_cast<IAMovieSetup*>(this), object);
    return ComObject::nonDelegatingQueryInterface(iid, object);
}

HRESULT FilterBase::GetClassID(CLSID* clsid) {
    if (clsid == nullptr)
        return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

// -- states ------------------------------------------------------------------------------------

HRESULT FilterBase::Stop() {
    LockGuard guard(filterLock_);
    HRESULT result = S_OK;
    if (state_ != State_Stopped) {
        PinListRead hold(*this);
        const int count = pinCount();
        for (int i = 0; i < count; ++i) {
            PinBase* pin = pinAt(i);
            if (pin != nullptr && pin->isConnected()) {
                const HRESULT pinResult = pin->inactive();
                if (FAILED(pinResult) && SUCCEEDED(result))
                    result = pinResult;
            }
        }
    }
    // Stopped whatever a pin said: a filter that cannot stop is worse than a pin error.
    InterlockedExchange(&state_, State_Stopped);
    return result;
}

HRESULT FilterBase::Pause() {
    LockGuard guard(filterLock_);
    if (state_ == State_Stopped) {
        PinListRead hold(*this);
        const int count = pinCount();
        for (int i = 0; i < count; ++i) {
            PinBase* pin = pinAt(i);
            if (pin != nullptr && pin->isConnected()) {
                const HRESULT result = pin->active();
                if (FAILED(result))
                    return result;
            }
        }
    }
    InterlockedExchange(&state_, State_Paused);
    return S_OK;
}

HRESULT FilterBase::Run(REFERENCE_TIME start) {
    LockGuard guard(filterLock_);
    startTime_ = start;
    if (state_ == State_Stopped) {
        const HRESULT result = Pause();
        if (FAILED(result))
            return result;
    }
    if (state_ != State_Running) {
        PinListRead hold(*this);
        const int count = pinCount();
        for (int i = 0; i < count; ++i) {
            PinBase* pin = pinAt(i);
            if (pin != nullptr && pin->isConnected()) {
                const HRESULT result = pin->run(start);
                if (FAILED(result))
                    return result;
            }
        }
    }
    InterlockedExchange(&state_, State_Running);
    return S_OK;
}

HRESULT FilterBase::GetState(DWORD timeoutMs, FILTER_STATE* state) {
    (void)timeoutMs;
    if (state == nullptr)
        return E_POINTER;
    // No lock: a transform filter changes state at once, and a graph asks this from its own
    // thread while streaming may hold the filter lock.
    *state = static_cast<FILTER_STATE>(state_);
    return S_OK;
}

HRESULT FilterBase::SetSyncSource(IReferenceClock* clock) {
    LockGuard guard(filterLock_);
    if (clock != nullptr)
        clock->AddRef();
    if (clock_ != nullptr)
        clock_->Release();
    clock_ = clock;
    return S_OK;
}

HRESULT FilterBase::GetSyncSource(IReferenceClock** clock) {
    if (clock == nullptr)
        return E_POINTER;
    LockGuard guard(filterLock_);
    *clock = clock_;
    if (clock_ != nullptr)
        clock_->AddRef();
    return S_OK;
}

// -- pins and graph ----------------------------------------------------------------------------

HRESULT FilterBase::EnumPins(IEnumPins** pins) {
    if (pins == nullptr)
        return E_POINTER;
    auto* enumerator = new (std::nothrow) PinEnumerator(*this, 0, pinListVersion());
    *pins = enumerator;
    if (enumerator == nullptr)
        return E_OUTOFMEMORY;
    enumerator->AddRef();
    return S_OK;
}

HRESULT FilterBase::FindPin(LPCWSTR id, IPin** pin) {
    if (id == nullptr || pin == nullptr)
        return E_POINTER;
    *pin = nullptr;
    PinListRead hold(*this);
    const int count = pinCount();
    for (int i = 0; i < count; ++i) {
        PinBase* candidate = pinAt(i);
        // A pin's identifier is its name.
        if (candidate != nullptr && wcscmp(candidate->name(), id) == 0) {
            candidate->AddRef();
            *pin = candidate;
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT FilterBase::QueryFilterInfo(FILTER_INFO* info) {
    if (info == nullptr)
        return E_POINTER;
    LockGuard guard(filterLock_);
    std::memcpy(info->achName, name_, sizeof(name_));
    info->pGraph = graph_;
    if (graph_ != nullptr)
        graph_->AddRef();
    return S_OK;
}

HRESULT FilterBase::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    LockGuard guard(filterLock_);
    graph_ = graph;
    eventSink_ = nullptr;
    if (graph != nullptr) {
        // The graph owns its event sink: look it up once and keep it without a reference.
        IMediaEventSink* sink = nullptr;
        if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))) &&
            sink != nullptr) {
            eventSink_ = sink;
            sink->Release();
        }
    }
    std::memset(name_, 0, sizeof(name_));
    if (name != nullptr)
        wcsncpy(name_, name, kMaxNameLength - 1);
    return S_OK;
}

HRESULT FilterBase::QueryVendorInfo(LPWSTR* info) {
    (void)info;
    return E_NOTIMPL;
}

HRESULT FilterBase::notifyEvent(long code, LONG_PTR param1, LONG_PTR param2) {
    IMediaEventSink* sink = eventSink_;
    if (sink == nullptr)
        return E_NOTIMPL;
    return sink->Notify(code, param1, param2);
}

HRESULT FilterBase::Register() { return registerFilter(true); }
HRESULT FilterBase::Unregister() { return registerFilter(false); }

} // namespace pellucer::dx
