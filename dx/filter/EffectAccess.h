#pragma once

// The effect-access interface (kIidEffectAccess): hands out the effect record behind the filter,
// so that the property page can open and close the effect's editor. Derived from IDispatch,
// whose methods the filter does not implement (E_NOTIMPL).

#include "dx/server/Identifiers.h"
#include "dx/base/DirectShow.h"
#include "vst/VstAbi.h"

namespace pellucer::dx {

struct IEffectAccess : public IDispatch {
    /// The effect's record (owned by the filter; valid while the caller holds the filter).
    virtual HRESULT STDMETHODCALLTYPE GetEffect(vst::AEffect** effect) = 0;
};

} // namespace pellucer::dx
