#pragma once

// The filter side of our DirectShow base layer: reference counting (through ComObject),
// the filter states stopped/paused/running with the reference clock, membership of a filter
// graph, pin enumeration and IAMovieSetup. A concrete filter supplies its pins.
//
// Locks: the filter lock (owned by the concrete filter, shared with its pins) guards state
// changes, connections and graph membership. The pin list has a lock of its own (a slim
// reader/writer lock): pin enumeration and FindPin take only that one, because a filter graph
// enumerates pins while a streaming thread may be inside the filter holding the filter lock and
// waiting for a downstream renderer that the graph is about to run.

#include "dx/base/ComObject.h"
#include "dx/base/Lock.h"

namespace pellucer::dx {

class PinBase;

class FilterBase : public ComObject, public IBaseFilter, public IAMovieSetup {
public:
    /// Longest filter name kept, terminator included (FILTER_INFO's buffer).
    static constexpr size_t kMaxNameLength = MAX_FILTER_NAME;

    FilterBase(IUnknown* outer, const CLSID& clsid, CriticalSection& filterLock);
    ~FilterBase() override;

    PELLUCER_DELEGATING_UNKNOWN
    /// IBaseFilter, IMediaFilter, IPersist, IAMovieSetup, IUnknown.
    HRESULT nonDelegatingQueryInterface(REFIID iid, void** object) override;

    // IPersist
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
    // IMediaFilter. Stop/Pause/Run tell the connected pins (inactive/active/run) and then change
    // the state; Run from stopped pauses first.
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD timeoutMs, FILTER_STATE* state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;
    // IBaseFilter
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
    /// The name given by JoinFilterGraph and the graph, with a reference.
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
    /// Keeps the graph and its event sink without a reference: the graph holds the filter,
    /// and a reference back would keep both alive for ever.
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override;
    // IAMovieSetup: registerFilter(true / false).
    HRESULT STDMETHODCALLTYPE Register() override;
    HRESULT STDMETHODCALLTYPE Unregister() override;

    // -- for the pins and the concrete filter ---------------------------------------------
    /// Number of pins and the pin at `index` (no reference taken; null out of range). Called
    /// with the pin-list lock held (shared or exclusive).
    virtual int pinCount() = 0;
    virtual PinBase* pinAt(int index) = 0;
    /// Changes each time the pin list changes: enumerators compare it to notice.
    LONG pinListVersion() const { return pinListVersion_; }

    FILTER_STATE state() const { return static_cast<FILTER_STATE>(state_); }
    REFERENCE_TIME startTime() const { return startTime_; }
    /// The graph the filter belongs to (no reference), or null.
    IFilterGraph* graph() const { return graph_; }
    /// Sends an event to the graph's event sink; E_NOTIMPL outside a graph that takes events.
    HRESULT notifyEvent(long code, LONG_PTR param1, LONG_PTR param2);
    CriticalSection& filterLock() { return filterLock_; }
    IBaseFilter* baseFilter() { return this; }

    /// Shared (read) and exclusive (write) holds on the pin list.
    class PinListRead {
    public:
        explicit PinListRead(FilterBase& filter) : lock_(filter.pinListLock_) {
            AcquireSRWLockShared(&lock_);
        }
        ~PinListRead() { ReleaseSRWLockShared(&lock_); }
        PinListRead(const PinListRead&) = delete;
        PinListRead& operator=(const PinListRead&) = delete;

    private:
        SRWLOCK& lock_;
    };
    class PinListWrite {
    public:
        explicit PinListWrite(FilterBase& filter) : filter_(filter) {
            AcquireSRWLockExclusive(&filter_.pinListLock_);
        }
        /// Releasing the write hold marks the list as changed.
        ~PinListWrite() {
            InterlockedIncrement(&filter_.pinListVersion_);
            ReleaseSRWLockExclusive(&filter_.pinListLock_);
        }
        PinListWrite(const PinListWrite&) = delete;
        PinListWrite& operator=(const PinListWrite&) = delete;

    private:
        FilterBase& filter_;
    };

protected:
    /// What IAMovieSetup's Register (true) and Unregister (false) do; the base has nothing to
    /// register.
    virtual HRESULT registerFilter(bool registering) {
        (void)registering;
        return E_NOTIMPL;
    }

private:
    const CLSID clsid_;
    CriticalSection& filterLock_;
    SRWLOCK pinListLock_ = SRWLOCK_INIT;
    volatile LONG pinListVersion_ = 0;
    volatile LONG state_ = State_Stopped;
    REFERENCE_TIME startTime_ = 0;
    IReferenceClock* clock_ = nullptr;
    IFilterGraph* graph_ = nullptr;
    IMediaEventSink* eventSink_ = nullptr;
    WCHAR name_[kMaxNameLength] = {};
};

} // namespace pellucer::dx
