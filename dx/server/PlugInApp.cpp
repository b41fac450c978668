#include "dx/server/PlugInApp.h"

#include <new>

#include "dx/filter/EffectFilter.h"
#include "dx/server/Identifiers.h"
#include "dx/page/PropertyPage.h"
#include "dx/server/Registration.h"

namespace pellucer::dx {

namespace {

const ClassTemplate kClasses[] = {
    {L"Pellucer", &kClsidEffectFilter, &createEffectFilter, nullptr, &kEffectFilterSetup},
    {L"Pellucer Properties", &kClsidPropertyPage, &createPropertyPage, nullptr, nullptr},
};

HINSTANCE gModuleInstance = nullptr;

} // namespace

std::span<const ClassTemplate> classTable() { return kClasses; }

const ClassTemplate* findClass(REFCLSID clsid) {
    for (const ClassTemplate& entry : kClasses) {
        if (IsEqualCLSID(*entry.clsid, clsid))
            return &entry;
    }
    return nullptr;
}

HINSTANCE moduleInstance() {
    if (gModuleInstance == nullptr) {
        // Linked into a program rather than loaded as a DLL, nobody called DllMain: ask which
        // module holds this code.
        HMODULE self = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCWSTR>(&gModuleInstance), &self);
        return self;
    }
    return gModuleInstance;
}

// -- ClassFactory -------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE ClassFactory::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE ClassFactory::AddRef() { return ++references_; }

ULONG STDMETHODCALLTYPE ClassFactory::Release() {
    if (--references_ == 0) {
        delete this;
        return 0;
    }
    return references_;
}

HRESULT STDMETHODCALLTYPE ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    // An aggregated object hands its outer object only its own (non-delegating) IUnknown.
    if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown))
        return E_NOINTERFACE;

    HRESULT result = S_OK;
    IUnknown* created = entry_.create(outer, &result);
    if (created == nullptr)
        return FAILED(result) ? result : E_OUTOFMEMORY;
    if (FAILED(result)) {
        // The new object's count is 0: one reference taken and given back ends it.
        created->AddRef();
        created->Release();
        return result;
    }
    // The reference held across the query keeps the object alive; when the query fails, the
    // Release ends it.
    created->AddRef();
    const HRESULT query = created->QueryInterface(iid, object);
    created->Release();
    return query;
}

HRESULT STDMETHODCALLTYPE ClassFactory::LockServer(BOOL lock) {
    lockServer(lock != FALSE);
    return S_OK;
}

} // namespace pellucer::dx

using namespace pellucer::dx;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        pellucer::dx::gModuleInstance = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    // Only class factories come out of this entry, whatever the class.
    if (!IsEqualIID(iid, IID_IClassFactory) && !IsEqualIID(iid, IID_IUnknown))
        return E_NOINTERFACE;
    const ClassTemplate* entry = findClass(clsid);
    if (entry == nullptr)
        return CLASS_E_CLASSNOTAVAILABLE;
    ClassFactory* factory = new (std::nothrow) ClassFactory(*entry);
    if (factory == nullptr)
        return E_OUTOFMEMORY;
    factory->AddRef();
    *object = static_cast<IClassFactory*>(factory);
    return S_OK;
}

STDAPI DllCanUnloadNow() { return serverLockCount() > 0 || activeObjectCount() != 0 ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() {
    const HRESULT result = registerServer(true);
    if (FAILED(result))
        return result;
    writePlugInKeys();
    return S_OK;
}

STDAPI DllUnregisterServer() {
    const HRESULT result = registerServer(false);
    if (FAILED(result))
        return result;
    removeSetupAndPlugInKeys();
    return S_OK;
}
