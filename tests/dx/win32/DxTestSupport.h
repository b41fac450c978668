#pragma once

// Helpers for tests that drive the built module as COM and DirectShow hosts do: the module loaded
// once per process and its exported entries, a COM apartment and pointer, objects made through
// the module's class factory, and a process-wide lock for tests that change the COM
// registration of the Wine prefix.

#ifndef STRSAFE_NO_DEPRECATE
#define STRSAFE_NO_DEPRECATE
#endif
#include <windows.h>

#include <dshow.h>

#include <utility>

#include <gtest/gtest.h>

#include "vst/VstAbi.h"

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

/// The module's DllCanUnloadNow.
inline HRESULT moduleCanUnloadNow() {
    using CanUnloadProc = HRESULT(STDAPICALLTYPE*)();
    const auto proc = moduleProc<CanUnloadProc>("DllCanUnloadNow");
    if (proc == nullptr) {
        ADD_FAILURE() << "DllCanUnloadNow not found in " << PELLUCER_VST_MODULE;
        return E_FAIL;
    }
    return proc();
}

/// COM for the lifetime of one test (or one worker thread).
class ComApartment {
public:
    explicit ComApartment(DWORD model = COINIT_APARTMENTTHREADED) : result_(CoInitializeEx(nullptr, model)) {}
    ~ComApartment() {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    HRESULT result() const { return result_; }

private:
    HRESULT result_;
};

/// Owns one reference to a COM object.
template <class T> class ComPtr {
public:
    ComPtr() = default;
    /// Takes over a reference the caller already holds.
    explicit ComPtr(T* object) : object_(object) {}
    ComPtr(const ComPtr& other) : object_(other.object_) {
        if (object_ != nullptr)
            object_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~ComPtr() { reset(); }

    void reset() {
        if (object_ != nullptr)
            std::exchange(object_, nullptr)->Release();
    }
    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    /// For out-arguments: releases what is held and hands out the slot.
    T** put() {
        reset();
        return &object_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    template <class U> ComPtr<U> query(REFIID iid) const {
        ComPtr<U> other;
        if (object_ != nullptr)
            object_->QueryInterface(iid, other.putVoid());
        return other;
    }

private:
    T* object_ = nullptr;
};

/// An object of the module made by its class factory, as CoCreateInstance would (no registration
/// involved). Answers what CreateInstance answered.
template <class I> HRESULT createFromModule(REFCLSID clsid, REFIID iid, ComPtr<I>& object) {
    ComPtr<IClassFactory> factory;
    const HRESULT hr = getClassObject(clsid, IID_IClassFactory, factory.putVoid());
    if (FAILED(hr))
        return hr;
    return factory->CreateInstance(nullptr, iid, object.putVoid());
}

/// The filter's effect-access interface: the four IDispatch methods, then one that hands out
/// the effect record the filter drives.
struct IEffectRecordAccess : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE effectRecord(vst::AEffect** effect) = 0;
};

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
