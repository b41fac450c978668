#pragma once

// The base of the module's COM objects: a reference count, the module's active-object count,
// and a non-delegating IUnknown so that an object can be aggregated by an outer object.
//
// An object built without an outer object is its own outer object: its interfaces forward
// QueryInterface/AddRef/Release to its own non-delegating IUnknown. Built with an outer object,
// its interfaces forward to the outer one (whose QueryInterface reaches ours through the
// non-delegating IUnknown it received at creation), and only the outer object holds the count.

#include "dx/server/ModuleCounts.h"
#include "dx/base/DirectShow.h"

namespace pellucer::dx {

class ComObject {
public:
    /// `outer` aggregates the object; null makes the object its own outer object.
    explicit ComObject(IUnknown* outer);
    virtual ~ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    /// What a class factory hands out: answers every interface of the object itself.
    IUnknown* nonDelegatingUnknown() { return &inner_; }
    /// Where the interfaces' IUnknown methods go: the aggregating object, or our own inner one.
    IUnknown* outerUnknown() const { return outer_; }

    /// Answers the object's interfaces. The base answers IUnknown (the non-delegating one).
    /// Overrides answer theirs and end with their base class's answer.
    virtual HRESULT nonDelegatingQueryInterface(REFIID iid, void** object);
    ULONG nonDelegatingAddRef();
    /// Destroys the object when the count reaches 0.
    ULONG nonDelegatingRelease();

protected:
    /// Hands out `face` with a reference taken through it (so on the outer object when
    /// aggregated), as QueryInterface answers do.
    static HRESULT handOut(IUnknown* face, void** object) {
        face->AddRef();
        *object = face;
        return S_OK;
    }

private:
    // A real IUnknown vtable over the non-delegating methods.
    struct Inner final : IUnknown {
        explicit Inner(ComObject& owner) : owner_(owner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
            return owner_.nonDelegatingQueryInterface(iid, object);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return owner_.nonDelegatingAddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return owner_.nonDelegatingRelease(); }
        ComObject& owner_;
    };

    Inner inner_;
    IUnknown* outer_;
    volatile LONG references_ = 0;
    ActiveObject active_;
};

} // namespace pellucer::dx

/// The IUnknown methods of a class that derives from ComObject and from COM interfaces: every
/// interface's QueryInterface/AddRef/Release goes to the outer object.
#define PELLUCER_DELEGATING_UNKNOWN                                                                          \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {                           \
        return outerUnknown()->QueryInterface(iid, object);                                                  \
    }                                                                                                        \
    ULONG STDMETHODCALLTYPE AddRef() override { return outerUnknown()->AddRef(); }                           \
    ULONG STDMETHODCALLTYPE Release() override { return outerUnknown()->Release(); }
