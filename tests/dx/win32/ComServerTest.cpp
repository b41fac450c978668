// The module as an in-process COM server, driven through its exports as COM does: the class
// objects handed out by DllGetClassObject, their IClassFactory, and DllCanUnloadNow.

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>

#include <ocidl.h>
#include <strmif.h>

#include "dx/Identifiers.h"
#include "dx/PlugInApp.h"
#include "tests/dx/win32/DxTestSupport.h"

namespace pellucer::dx::test {
namespace {

// Any well-formed CLSID that the module does not serve.
constexpr GUID kForeignClsid = {0x6bd0e4a1, 0x3f55, 0x4c2a, {0x9e, 0x61, 0x0d, 0x2b, 0x7c, 0x44, 0x90, 0x13}};

void* const kSentinel = reinterpret_cast<void*>(static_cast<uintptr_t>(0x5A5A5A5A));

HRESULT canUnloadNow() {
    using CanUnloadProc = HRESULT(STDAPICALLTYPE*)();
    const auto proc = moduleProc<CanUnloadProc>("DllCanUnloadNow");
    if (proc == nullptr) {
        ADD_FAILURE() << "DllCanUnloadNow not found";
        return E_FAIL;
    }
    return proc();
}

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
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(canUnloadNow(), S_OK);
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
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST(ComServer, FactoryBuildsTheEffectFilter) {
    ASSERT_NE(pellucerModule(), nullptr);
    IClassFactory* factory = factoryOf(kClsidEffectFilter);
    ASSERT_NE(factory, nullptr);
    void* object = kSentinel;
    const HRESULT result = factory->CreateInstance(nullptr, IID_IBaseFilter, &object);
    if (result == E_NOTIMPL) {
        EXPECT_EQ(object, nullptr);
        factory->Release();
        GTEST_SKIP() << "the effect filter cannot be created yet";
    }
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
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    EXPECT_EQ(filter->Release(), 0u);
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST(ComServer, ObjectWhoseInterfaceIsRefusedIsDestroyed) {
    ASSERT_NE(pellucerModule(), nullptr);
    IClassFactory* factory = factoryOf(kClsidEffectFilter);
    ASSERT_NE(factory, nullptr);
    void* object = kSentinel;
    // A filter is built, asked for an interface no filter has, and ends at once.
    const HRESULT result = factory->CreateInstance(nullptr, IID_IClassFactory, &object);
    factory->Release();
    if (result == E_NOTIMPL)
        GTEST_SKIP() << "the effect filter cannot be created yet";
    EXPECT_EQ(result, E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST(ComServer, AggregatedFilterDelegatesToItsOuterObject) {
    ASSERT_NE(pellucerModule(), nullptr);
    IClassFactory* factory = factoryOf(kClsidEffectFilter);
    ASSERT_NE(factory, nullptr);
    CountingOuter outer;
    void* object = nullptr;
    const HRESULT result = factory->CreateInstance(&outer, IID_IUnknown, &object);
    factory->Release();
    if (result == E_NOTIMPL)
        GTEST_SKIP() << "the effect filter cannot be created yet";
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
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST(ComServer, FactoryBuildsThePropertyPage) {
    ASSERT_NE(pellucerModule(), nullptr);
    IClassFactory* factory = factoryOf(kClsidPropertyPage);
    ASSERT_NE(factory, nullptr);
    void* object = kSentinel;
    const HRESULT result = factory->CreateInstance(nullptr, IID_IPropertyPage, &object);
    factory->Release();
    if (result == E_NOTIMPL) {
        EXPECT_EQ(object, nullptr);
        GTEST_SKIP() << "the property page cannot be created yet";
    }
    ASSERT_EQ(result, S_OK);
    ASSERT_NE(object, nullptr);
    auto* page = static_cast<IPropertyPage*>(object);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    EXPECT_EQ(page->Release(), 0u);
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST(ComServer, CanUnloadOnlyWhenUnlockedAndIdle) {
    ASSERT_NE(pellucerModule(), nullptr);
    EXPECT_EQ(canUnloadNow(), S_OK);

    IClassFactory* factory = factoryOf(kClsidPropertyPage);
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->Release(), 0u);
    // Two locks: the factory is gone, but the host asked to keep the module.
    EXPECT_EQ(canUnloadNow(), S_FALSE);

    factory = factoryOf(kClsidEffectFilter);
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(canUnloadNow(), S_FALSE);

    factory = factoryOf(kClsidEffectFilter);
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(canUnloadNow(), S_OK);
}

// -- the factory's result rules, with creation functions of our own (in this test program) -------

/// An object as a creation function hands it out: reference count 0, and it says when it ends.
class FakeObject final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IPersist))
            return E_NOINTERFACE;
        *object = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        if (--references_ != 0)
            return references_;
        ++destroyed;
        delete this;
        return 0;
    }

    static inline int created = 0;
    static inline int destroyed = 0;

private:
    ULONG references_ = 0;
};

struct CreationPlan {
    bool makeObject;
    HRESULT code;
};
CreationPlan gPlan{true, S_OK};
IUnknown* gOuterSeen = nullptr;

IUnknown* createFake(IUnknown* outer, HRESULT* result) {
    gOuterSeen = outer;
    EXPECT_EQ(*result, S_OK);
    *result = gPlan.code;
    if (!gPlan.makeObject)
        return nullptr;
    ++FakeObject::created;
    return new FakeObject;
}

const ClassTemplate kFakeClass = {L"Fake", &kForeignClsid, &createFake, nullptr, nullptr};

/// CreateInstance through a fresh factory of the fake class.
HRESULT createThroughFactory(IUnknown* outer, REFIID iid, void** object) {
    auto* factory = new ClassFactory(kFakeClass);
    factory->AddRef();
    const HRESULT result = factory->CreateInstance(outer, iid, object);
    factory->Release();
    return result;
}

TEST(ClassFactory, CreateInstanceAnswersTheCreationResult) {
    const LONG activeBefore = activeObjectCount();
    FakeObject::created = FakeObject::destroyed = 0;
    void* object = kSentinel;

    // No object: the creation function's failure, or "out of memory" when it gave none.
    gPlan = {false, E_ACCESSDENIED};
    EXPECT_EQ(createThroughFactory(nullptr, IID_IUnknown, &object), E_ACCESSDENIED);
    EXPECT_EQ(object, nullptr);
    gPlan = {false, S_OK};
    EXPECT_EQ(createThroughFactory(nullptr, IID_IUnknown, &object), E_OUTOFMEMORY);
    EXPECT_EQ(object, nullptr);

    // An object built although the creation failed is destroyed, and the failure answered.
    gPlan = {true, E_ACCESSDENIED};
    EXPECT_EQ(createThroughFactory(nullptr, IID_IUnknown, &object), E_ACCESSDENIED);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(FakeObject::created, 1);
    EXPECT_EQ(FakeObject::destroyed, 1);

    // An object without the requested interface ends with the query.
    gPlan = {true, S_OK};
    EXPECT_EQ(createThroughFactory(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(FakeObject::created, 2);
    EXPECT_EQ(FakeObject::destroyed, 2);

    // A success code other than S_OK still hands the object out, with one reference.
    gPlan = {true, S_FALSE};
    ASSERT_EQ(createThroughFactory(nullptr, IID_IPersist, &object), S_OK);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(FakeObject::destroyed, 2);
    EXPECT_EQ(static_cast<IUnknown*>(object)->Release(), 0u);
    EXPECT_EQ(FakeObject::destroyed, 3);
    // Every factory is gone again.
    EXPECT_EQ(activeObjectCount(), activeBefore);
}

TEST(ClassFactory, AggregationPassesTheOuterObjectAndAsksOnlyForIUnknown) {
    FakeObject::created = FakeObject::destroyed = 0;
    gPlan = {true, S_OK};
    CountingOuter outer;
    void* object = kSentinel;
    gOuterSeen = nullptr;
    EXPECT_EQ(createThroughFactory(&outer, IID_IPersist, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    // Refused before anything was built.
    EXPECT_EQ(FakeObject::created, 0);
    EXPECT_EQ(gOuterSeen, nullptr);

    ASSERT_EQ(createThroughFactory(&outer, IID_IUnknown, &object), S_OK);
    EXPECT_EQ(gOuterSeen, &outer);
    ASSERT_NE(object, nullptr);
    static_cast<IUnknown*>(object)->Release();
    EXPECT_EQ(FakeObject::destroyed, 1);
}

} // namespace
} // namespace pellucer::dx::test
