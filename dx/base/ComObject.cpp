#include "dx/base/ComObject.h"

namespace pellucer::dx {

ComObject::ComObject(IUnknown* outer) : inner_(*this), outer_(outer != nullptr ? outer : &inner_) {}

HRESULT ComObject::nonDelegatingQueryInterface(REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown))
        return handOut(&inner_, object);
    return E_NOINTERFACE;
}

ULONG ComObject::nonDelegatingAddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

ULONG ComObject::nonDelegatingRelease() {
    const LONG count = InterlockedDecrement(&references_);
    if (count == 0) {
        // Guard against a release from inside the destructor (an interface handed to a helper
        // that releases it again while we tear down).
        references_ = 1;
        delete this;
        return 0;
    }
    return static_cast<ULONG>(count);
}

} // namespace pellucer::dx
