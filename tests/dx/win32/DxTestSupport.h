#pragma once

// Helpers for tests that drive the built module as COM and DirectShow would: the module loaded
// once per process, its exported entries, and a process-wide lock for tests that change the
// COM registration of the Wine prefix.

#include <windows.h>

#include <gtest/gtest.h>

namespace pellucer::dx::test {

/// The built plug-in module, loaded once per test process (null when it cannot be loaded).
inline HMODULE pellucerModule() {
    static const HMODULE module = LoadLibraryA(PELLUCER_VST_MODULE);
    return module;
}

/// An exported entry of the module, as a function pointer of type `F`; null when missing.
template <class F> F moduleProc(const char* name) {
    const HMODULE module = pellucerModule();
    if (module == nullptr)
        return nullptr;
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

/// The module's DllGetClassObject, as COM calls it.
inline HRESULT getClassObject(REFCLSID clsid, REFIID iid, void** object) {
    using GetClassObjectProc = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto proc = moduleProc<GetClassObjectProc>("DllGetClassObject");
    if (proc == nullptr) {
        ADD_FAILURE() << "DllGetClassObject not found in " << PELLUCER_VST_MODULE;
        return E_FAIL;
    }
    return proc(clsid, iid, object);
}

/// Holds a named mutex while a test changes the registration of the module's classes: the
/// test processes of one Wine prefix share its registry and its filter mapper, so such tests
/// take turns. Tests that rely on the classes being registered (or not) take it as well.
class RegistryTestLock {
public:
    RegistryTestLock() : mutex_(CreateMutexW(nullptr, FALSE, L"PellucerRegistryTests")) {
        if (mutex_ != nullptr) {
            // A test process that died holding it leaves it abandoned, which still hands it over.
            const DWORD result = WaitForSingleObject(mutex_, 240000);
            held_ = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
        }
    }
    ~RegistryTestLock() {
        if (held_)
            ReleaseMutex(mutex_);
        if (mutex_ != nullptr)
            CloseHandle(mutex_);
    }
    RegistryTestLock(const RegistryTestLock&) = delete;
    RegistryTestLock& operator=(const RegistryTestLock&) = delete;
    bool held() const { return held_; }

private:
    HANDLE mutex_;
    bool held_ = false;
};

} // namespace pellucer::dx::test
