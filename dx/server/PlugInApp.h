#pragma once

// The module as an in-process COM server: the table of its creatable classes, the class factory
// that hands them out, and the module's instance handle. The four exported entries
// (DllGetClassObject, DllCanUnloadNow, DllRegisterServer, DllUnregisterServer) live in
// PlugInApp.cpp; the registry work behind the last two is in Registration.cpp.

#include <windows.h>

#include <span>

#include "dx/filter/FilterSetup.h"
#include "dx/server/ModuleCounts.h"

namespace pellucer::dx {

/// Builds one object of a class with the given outer object (null when not aggregated). Answers
/// the object's non-delegating IUnknown with a reference count of 0, or null; `*result` starts as
/// S_OK and says why the object could not be made.
using CreateInstanceFunction = IUnknown* (*)(IUnknown* outer, HRESULT* result);
/// Per-process set-up and tear-down of a class (called with true on load, false on unload).
using ClassInitFunction = void (*)(bool loading, const CLSID* clsid);

/// One creatable class of the module.
struct ClassTemplate {
    const WCHAR* name; ///< display name, the default value of its CLSID key
    const CLSID* clsid;
    CreateInstanceFunction create;
    ClassInitFunction init;   ///< null: the class needs no per-process set-up
    const FilterSetup* setup; ///< null: not a DirectShow filter
};

/// The module's classes in their fixed order: the effect filter, then its property page.
std::span<const ClassTemplate> classTable();

/// The class of `clsid`, or null when the module does not serve it.
const ClassTemplate* findClass(REFCLSID clsid);

/// This module's instance handle (recorded when the module is loaded).
HINSTANCE moduleInstance();

/// IClassFactory for one class of the table. Its reference count starts at 0: whoever creates it
/// takes the first reference. Counted as an active object of the module while it lives.
class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(const ClassTemplate& entry) : entry_(entry) {}
    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    ~ClassFactory() = default;

    const ClassTemplate& entry_;
    // Plain integer: a factory is used from the thread that asked for it.
    ULONG references_ = 0;
    ActiveObject active_;
};

} // namespace pellucer::dx
