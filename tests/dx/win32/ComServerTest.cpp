// The module as an in-process COM server, through its exports as COM drives it: class objects,
// their factories (aggregation rules, error codes), LockServer and DllCanUnloadNow.

#include <ocidl.h>

#include "tests/dx/win32/DxTestSupport.h"

namespace pellucer::dx::test {
namespace {

// Any well-formed CLSID that the module does not serve.
constexpr GUID kForeignClsid = {0x6bd0e4a1, 0x3f55, 0x4c2a, {0x9e, 0x61, 0x0d, 0x2b, 0x7c, 0x44, 0x90, 0x13}};

/// An outer object for aggregation: counts the references its inner object takes on it.
struct CountingOuter final : IUnknown {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (IsEqualIID(iid, IID_IUnknown))
            return *object = this, AddRef(), S_OK;
        return inner->QueryInterface(iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    ULONG references = 1;
    IUnknown* inner = nullptr;
};

class ComServer : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, moduleCanUnloadNow()) << "an earlier test left objects behind"; }
    void TearDown() override { EXPECT_EQ(S_OK, moduleCanUnloadNow()) << "objects left behind"; }
    static ComPtr<IClassFactory> factoryOf(REFCLSID clsid) {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(S_OK, getClassObject(clsid, IID_IClassFactory, &factory));
        return factory;
    }
};

TEST_F(ComServer, ClassObjectsAreFactoriesOfTheModulesTwoClassesAndKeepItLoaded) {
    // The interface is checked before the class: a class object is all this entry hands out.
    const struct {
        const GUID* clsid;
        const IID* iid;
        HRESULT expected;
    } cases[] = {{&kForeignClsid, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
                 {&kForeignClsid, &IID_IUnknown, CLASS_E_CLASSNOTAVAILABLE},
                 {&kForeignClsid, &IID_IPersist, E_NOINTERFACE},
                 {&kClsidEffectFilter, &IID_IBaseFilter, E_NOINTERFACE},
                 {&kClsidPropertyPage, &IID_IPropertyPage, E_NOINTERFACE},
                 {&kClsidEffectFilter, &IID_IClassFactory, S_OK}, {&kClsidEffectFilter, &IID_IUnknown, S_OK},
                 {&kClsidPropertyPage, &IID_IClassFactory, S_OK}, {&kClsidPropertyPage, &IID_IUnknown, S_OK}};
    for (const auto& c : cases) {
        void* object = this;
        EXPECT_EQ(c.expected, getClassObject(*c.clsid, *c.iid, &object)) << "case " << (&c - cases);
        EXPECT_EQ(c.expected == S_OK, object != nullptr);
        EXPECT_TRUE(object == nullptr || static_cast<IUnknown*>(object)->Release() == 0) << "one reference handed out";
    }
    EXPECT_EQ(E_POINTER, getClassObject(kClsidEffectFilter, IID_IClassFactory, nullptr));

    // A factory counts its references and keeps the module loaded, and so do the host's locks.
    ComPtr<IClassFactory> factory = factoryOf(kClsidEffectFilter);
    ComPtr<IUnknown> asUnknown;
    void* other = this;
    ASSERT_EQ(S_OK, factory->QueryInterface(IID_IUnknown, &asUnknown));
    EXPECT_EQ(static_cast<IUnknown*>(factory.Get()), asUnknown.Get());
    EXPECT_EQ(E_NOINTERFACE, factory->QueryInterface(IID_IPersist, &other));
    EXPECT_EQ(nullptr, other);
    EXPECT_EQ(3u, factory->AddRef());
    EXPECT_EQ(2u, factory->Release());
    EXPECT_EQ(S_FALSE, moduleCanUnloadNow());
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    factory = factoryOf(kClsidPropertyPage);
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    asUnknown.Reset();
    factory.Reset();
    EXPECT_EQ(S_FALSE, moduleCanUnloadNow()) << "one lock is left";
    EXPECT_EQ(S_OK, factoryOf(kClsidEffectFilter)->LockServer(FALSE));
}

TEST_F(ComServer, FactoriesBuildTheirObjectsAndRefuseWhatAggregationForbids) {
    const struct {
        const GUID* clsid;
        const IID* iid;
    } classes[] = {{&kClsidEffectFilter, &IID_IBaseFilter}, {&kClsidPropertyPage, &IID_IPropertyPage}};
    for (const auto& c : classes) {
        ComPtr<IClassFactory> factory = factoryOf(*c.clsid);
        ASSERT_TRUE(factory);
        EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IUnknown, nullptr));
        // An aggregated object gives its outer object only its own IUnknown.
        CountingOuter outer;
        void* object = this;
        EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(&outer, *c.iid, &object));
        EXPECT_EQ(nullptr, object);
        EXPECT_EQ(1u, outer.references);
        // An object asked for an interface it lacks ends at once.
        object = this;
        EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IClassFactory, &object));
        EXPECT_EQ(nullptr, object);
        // The object comes with one reference (TearDown finds it gone), which keeps the module.
        ComPtr<IUnknown> built;
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, *c.iid, &built));
        factory.Reset();
        EXPECT_EQ(S_FALSE, moduleCanUnloadNow());
    }
}

TEST_F(ComServer, AnAggregatedFilterCountsOnItsOuterObjectAndAnswersWithItsIdentity) {
    CountingOuter outer;
    ASSERT_EQ(S_OK, factoryOf(kClsidEffectFilter)
                        ->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)));
    // Every interface a host may keep alone, the media parameters' and the sequencer's included.
    const IID* iids[] = {&IID_IBaseFilter,      &IID_IPersistStream,      &IID_IMediaParamInfo,     &kIidMediaParams,
                         &kIidParamsUICallback, &kIidParamsSetUICallback, &kIidSequencerIntegration};
    for (const IID* const& iid : iids) {
        SCOPED_TRACE(&iid - iids);
        IUnknown* face = nullptr;
        IUnknown* identity = nullptr;
        ASSERT_EQ(S_OK, outer.QueryInterface(*iid, reinterpret_cast<void**>(&face)));
        EXPECT_EQ(2u, outer.references);
        ASSERT_EQ(S_OK, face->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
        EXPECT_EQ(static_cast<IUnknown*>(&outer), identity);
        EXPECT_EQ(3u, outer.references);
        identity->Release();
        face->Release();
        EXPECT_EQ(1u, outer.references);
    }
    EXPECT_EQ(0u, outer.inner->Release());
    EXPECT_EQ(1u, outer.references);
}

} // namespace
} // namespace pellucer::dx::test
