// The module as an in-process COM server, driven through its exports as COM does: the class
// objects handed out by DllGetClassObject, their IClassFactory, and DllCanUnloadNow.

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>

#include <ocidl.h>
#include <strmif.h>

#include "dx/server/Identifiers.h"
#include "tests/dx/win32/DxTestSupport.h"

namespace pellucer::dx::test {
namespace {

// Any well-formed CLSID that the module does not serve.
constexpr GUID kForeignClsid = {0x6bd0e4a1, 0x3f55, 0x4c2a, {0x9e, 0x61, 0x0d, 0x2b, 0x7c, 0x44, 0x90, 0x13}};

void* const kSentinel = reinterpret_cast<void*>(static_cast<uintptr_t>(0x5A5A5A5A));

/// The class object of `clsid`; fails the test when there is none.
IClassFactory* factoryOf(REFCLSID clsid) {
    void* object = nullptr;
    const HRESULT result = getClassObject(clsid, IID_IClassFactory, &object);
    EXPECT_EQ(result, S_OK);
    return static_cast<IClassFactory*>(object);
}

/// An outer object for aggregation: counts the references its inner object takes.
class CountingOuter final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown))
            return E_NOINTERFACE;
        *object = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }

    ULONG references = 1;
};

TEST(ComServer, ClassObjectAnswersOnlyForItsClassesAndFactoryInterfaces) {
    ASSERT_NE(pellucerModule(), nullptr);
    void* object = kSentinel;
    EXPECT_EQ(getClassObject(kForeignClsid, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    object = kSentinel;
    EXPECT_EQ(getClassObject(kForeignClsid, IID_IUnknown, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);

    // The interface is checked before the class: a class object is all this entry hands out.
    for (const GUID* clsid : {&kClsidEffectFilter, &kClsidPropertyPage, &kForeignClsid}) {
        object = kSentinel;
        EXPECT_EQ(getClassObject(*clsid, IID_IPersist, &object), E_NOINTERFACE);
        EXPECT_EQ(object, nullptr);
        EXPECT_EQ(getClassObject(*clsid, IID_IBaseFilter, &object), E_NOINTERFACE);
    }
    EXPECT_EQ(getClassObject(kClsidEffectFilter, IID_IClassFactory, nullptr), E_POINTER);

    // Both classes are served, through either interface.
    for (const GUID* clsid : {&kClsidEffectFilter, &kClsidPropertyPage}) {
        for (const IID* iid : {&IID_IClassFactory, &IID_IUnknown}) {
            object = nullptr;
            ASSERT_EQ(getClassObject(*clsid, *iid, &object), S_OK);
            ASSERT_NE(object, nullptr);
            EXPECT_EQ(static_cast<IUnknown*>(object)->Release(), 0u);
        }
    }
}

TEST(ComServer, FactoryCountsItsReferences) {
    ASSERT_NE(pellucerModule(), nullptr);
    IClassFactory* factory = factoryOf(kClsidEffectFilter);
    ASSERT_NE(factory, nullptr);
    // DllGetClassObject took the first reference.
    EXPECT_EQ(factory->AddRef(), 2u);

    void* asFactory = nullptr;
    ASSERT_EQ(factory->QueryInterface(IID_IClassFactory, &asFactory), S_OK);
    EXPECT_EQ(asFactory, factory);
    void* asUnknown = nullptr;
    ASSERT_EQ(factory->QueryInterface(IID_IUnknown, &asUnknown), S_OK);
    EXPECT_EQ(asUnknown, static_cast<IUnknown*>(factory));

    void* other = kSentinel;
    EXPECT_EQ(factory->QueryInterface(IID_IPersist, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(factory->QueryInterface(IID_IClassFactory, nullptr), E_POINTER);

    // Two queries answered: four references in all.
    EXPECT_EQ(factory->Release(), 3u);
    EXPECT_EQ(factory->Release(), 2u);
    EXPECT_EQ(factory->Release(), 1u);
    EXPECT_EQ(moduleCanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(moduleCanUnloadNow(), S_OK);
}

TEST(ComServer, CreateInstanceRefusesBadArguments) {
    ASSERT_NE(pellucerModule(), nullptr);
    for (const GUID* clsid : {&kClsidEffectFilter, &kClsidPropertyPage}) {
        IClassFactory* factory = factoryOf(*clsid);
        ASSERT_NE(factory, nullptr);
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);

        // An aggregated object gives its outer object only its own IUnknown.
        CountingOuter outer;
        void* object = kSentinel;
        EXPECT_EQ(factory->CreateInstance(&outer, IID_IBaseFilter, &object), E_NOINTERFACE);
        EXPECT_EQ(object, nullptr);
        object = kSentinel;
        EXPECT_EQ(factory->CreateInstance(&outer, IID_IPropertyPage, &object), E_NOINTERFACE);
        EXPECT_EQ(object, nullptr);
        EXPECT_EQ(outer.references, 1u);

        EXPECT_EQ(factory->Release(), 0u);
    }
    EXPECT_EQ(moduleCanUnloadNow(), S_OK);
}

TEST(ComServer, FactoryBuildsTheEffectFilter) {
    ASSERT_NE(pellucerModule(), nullptr);
    IClassFactory* factory = factoryOf(kClsidEffectFilter);
    ASSERT_NE(factory, nullptr);
    void* object = kSentinel;
    const HRESULT result = factory->CreateInstance(nullptr, IID_IBaseFilter, &object);
    ASSERT_EQ(result, S_OK);
    ASSERT_NE(object, nullptr);
    auto* filter = static_cast<IBaseFilter*>(object);
    CLSID clsid{};
    EXPECT_EQ(filter->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, kClsidEffectFilter));

    // The factory hands out the one reference the query took.
    EXPECT_EQ(filter->AddRef(), 2u);
    EXPECT_EQ(filter->Release(), 1u);
    EXPECT_EQ(factory->Release(), 0u);
    // The filter alone keeps the module in memory.
    EXPECT_EQ(moduleCanUnloadNow(), S_FALSE);
    EXPECT_EQ(filter->Release(), 0u);
    EXPECT_EQ(moduleCanUnloadNow(), S_OK);
}

TEST(ComServer, ObjectWhoseInterfaceIsRefusedIsDestroyed) {
    ASSERT_NE(pellucerModule(), nullptr);
    IClassFactory* factory = factoryOf(kClsidEffectFilter);
    ASSERT_NE(factory, nullptr);
    void* object = kSentinel;
    // A filter is built, asked for an interface no filter has, and ends at once.
    const HRESULT result = factory->CreateInstance(nullptr, IID_IClassFactory, &object);
    factory->Release();
    EXPECT_EQ(result, E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(moduleCanUnloadNow(), S_OK);
}

TEST(ComServer, AggregatedFilterDelegatesToItsOuterObject) {
    ASSERT_NE(pellucerModule(), nullptr);
    IClassFactory* factory = factoryOf(kClsidEffectFilter);
    ASSERT_NE(factory, nullptr);
    CountingOuter outer;
    void* object = nullptr;
    const HRESULT result = factory->CreateInstance(&outer, IID_IUnknown, &object);
    factory->Release();
    ASSERT_EQ(result, S_OK);
    auto* inner = static_cast<IUnknown*>(object);
    ASSERT_NE(inner, nullptr);

    // Interfaces of the inner object count their references on the outer object.
    void* filterObject = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IBaseFilter, &filterObject), S_OK);
    EXPECT_EQ(outer.references, 2u);
    static_cast<IBaseFilter*>(filterObject)->Release();
    EXPECT_EQ(outer.references, 1u);

    EXPECT_EQ(inner->Release(), 0u);
    EXPECT_EQ(outer.references, 1u);
    EXPECT_EQ(moduleCanUnloadNow(), S_OK);
}

TEST(ComServer, FactoryBuildsThePropertyPage) {
    ASSERT_NE(pellucerModule(), nullptr);
    IClassFactory* factory = factoryOf(kClsidPropertyPage);
    ASSERT_NE(factory, nullptr);
    void* object = kSentinel;
    const HRESULT result = factory->CreateInstance(nullptr, IID_IPropertyPage, &object);
    factory->Release();
    ASSERT_EQ(result, S_OK);
    ASSERT_NE(object, nullptr);
    auto* page = static_cast<IPropertyPage*>(object);
    EXPECT_EQ(moduleCanUnloadNow(), S_FALSE);
    EXPECT_EQ(page->Release(), 0u);
    EXPECT_EQ(moduleCanUnloadNow(), S_OK);
}

TEST(ComServer, CanUnloadOnlyWhenUnlockedAndIdle) {
    ASSERT_NE(pellucerModule(), nullptr);
    EXPECT_EQ(moduleCanUnloadNow(), S_OK);

    IClassFactory* factory = factoryOf(kClsidPropertyPage);
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(moduleCanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->Release(), 0u);
    // Two locks: the factory is gone, but the host asked to keep the module.
    EXPECT_EQ(moduleCanUnloadNow(), S_FALSE);

    factory = factoryOf(kClsidEffectFilter);
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(moduleCanUnloadNow(), S_FALSE);

    factory = factoryOf(kClsidEffectFilter);
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(moduleCanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(moduleCanUnloadNow(), S_OK);
}

} // namespace
} // namespace pellucer::dx::test
