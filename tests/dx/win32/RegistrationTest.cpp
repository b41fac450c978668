// Self-registration of the built module in the test's Wine prefix, through its exports and regsvr32:
// the COM class keys, the "TessalyPlugIns" key and the filter mapper's entry, read back as a host
// reads them, and all of it removed again; the test leaves the module unregistered.

#include <process.h>

#include "tests/dx/win32/DxTestSupport.h"

namespace pellucer::dx::test {
namespace {

std::wstring clsidText(REFCLSID clsid) {
    wchar_t text[40] = {};
    StringFromGUID2(clsid, text, 40);
    return text;
}

/// A REG_SZ value under HKEY_CLASSES_ROOT (null `value`: the default), or "<none>".
std::wstring readString(const std::wstring& key, const wchar_t* value = nullptr) {
    wchar_t text[1024] = {};
    DWORD bytes = sizeof(text);
    const LONG found = RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), value, RRF_RT_REG_SZ, nullptr, text, &bytes);
    return found == ERROR_SUCCESS ? text : L"<none>";
}

/// The mapper's names for the filter when a host asks for `merit`, input and output pins of `major`.
std::vector<std::wstring> mapperEntries(DWORD merit, const GUID& major, BOOL render = FALSE) {
    std::vector<std::wstring> found;
    ComPtr<IFilterMapper2> mapper;
    ComPtr<IEnumMoniker> monikers;
    const GUID types[2] = {major, GUID_NULL};
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2, &mapper));
    if (!mapper || mapper->EnumMatchingFilters(&monikers, 0, FALSE, merit, TRUE, 1, types, nullptr, nullptr, render,
                                               TRUE, 1, types, nullptr, nullptr) != S_OK)
        return found;
    for (ComPtr<IMoniker> moniker; monikers->Next(1, &moniker, nullptr) == S_OK;) {
        ComPtr<IPropertyBag> bag;
        VARIANT clsid{}, name{};
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, &bag)) &&
            SUCCEEDED(bag->Read(L"CLSID", &clsid, nullptr)) && clsid.vt == VT_BSTR &&
            _wcsicmp(clsid.bstrVal, clsidText(kClsidEffectFilter).c_str()) == 0 &&
            SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR)
            found.push_back(name.bstrVal);
        VariantClear(&clsid);
        VariantClear(&name);
    }
    return found;
}

/// Everything the module registers is there, with its values (or none of it is).
void expectRegistered(bool registered) {
    const struct {
        const GUID* clsid;
        const wchar_t* name;
    } classes[] = {{&kClsidEffectFilter, L"Pellucer"}, {&kClsidPropertyPage, L"Pellucer Properties"}};
    wchar_t path[MAX_PATH] = {};
    ASSERT_NE(0u, GetModuleFileNameW(pellucerModule(), path, MAX_PATH));
    const std::wstring gone = L"<none>";
    for (const auto& c : classes) {
        const std::wstring key = L"CLSID\\" + clsidText(*c.clsid);
        EXPECT_EQ(registered ? c.name : gone, readString(key));
        EXPECT_EQ(registered ? path : gone, readString(key + L"\\InprocServer32"));
        EXPECT_EQ(registered ? L"Both" : gone, readString(key + L"\\InprocServer32", L"ThreadingModel"));
    }
    const std::wstring plugIn = L"TessalyPlugIns\\" + clsidText(kClsidEffectFilter);
    EXPECT_EQ(registered ? L"Pellucer" : gone, readString(plugIn, L"Description"));
    EXPECT_EQ(registered ? L"" : gone, readString(plugIn, L"HelpFilePath"));
    EXPECT_EQ(registered ? L"" : gone, readString(plugIn, L"HelpFileTopic"));
    // The page is no effect: hosts must not list it.
    EXPECT_EQ(gone, readString(L"TessalyPlugIns\\" + clsidText(kClsidPropertyPage), L"Description"));
    // The mapper lists the filter once, as a transform of audio at merit 0x200000, and no more.
    EXPECT_EQ(registered ? std::vector<std::wstring>{L"Pellucer"} : std::vector<std::wstring>{},
              mapperEntries(0x200000, MEDIATYPE_Audio));
    EXPECT_TRUE(mapperEntries(0x200001, MEDIATYPE_Audio).empty());
    EXPECT_TRUE(mapperEntries(0, MEDIATYPE_Video).empty());
    EXPECT_TRUE(mapperEntries(0, MEDIATYPE_Audio, TRUE).empty()) << "not a renderer";
}

// The one test that changes the prefix's registration, so it needs no lock against another.
TEST(Registration, TheExportsAndRegsvr32WriteTheKeysAndTheMapperEntryAndRemoveThem) {
    ComApartment com;
    ASSERT_TRUE(SUCCEEDED(com.result));
    ASSERT_NO_FATAL_FAILURE(expectRegistered(false)) << "the prefix starts unregistered";
    wchar_t path[MAX_PATH] = {};
    ASSERT_NE(0u, GetModuleFileNameW(pellucerModule(), path, MAX_PATH));
    // Registered twice, once by each, the keys are there once and the mapper lists the filter once.
    ASSERT_EQ(0, _wspawnlp(_P_WAIT, L"regsvr32.exe", L"regsvr32.exe", L"/s", path, nullptr));
    ASSERT_EQ(S_OK, callExport("DllRegisterServer"));
    expectRegistered(true);
    ComPtr<IBaseFilter> filter;
    CLSID clsid{};
    EXPECT_EQ(S_OK, CoCreateInstance(kClsidEffectFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, &filter));
    EXPECT_TRUE(filter && filter->GetClassID(&clsid) == S_OK && IsEqualCLSID(clsid, kClsidEffectFilter));

    EXPECT_EQ(0, _wspawnlp(_P_WAIT, L"regsvr32.exe", L"regsvr32.exe", L"/u", L"/s", path, nullptr));
    expectRegistered(false);
    // Once the keys are gone COM no longer finds the class; nothing left to remove is no failure.
    EXPECT_EQ(REGDB_E_CLASSNOTREG,
              CoCreateInstance(kClsidEffectFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, &filter));
    EXPECT_EQ(S_OK, callExport("DllUnregisterServer"));
    expectRegistered(false);
}

} // namespace
} // namespace pellucer::dx::test
