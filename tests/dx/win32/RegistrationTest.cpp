// Self-registration of the built module in the test's Wine prefix, through its exports and
// through regsvr32: the COM class keys, the DirectShow filter mapper's entry and the
// "TessalyPlugIns" key, read back through the registry API and the mapper, and all of it removed
// again. Every test holds the registry lock and leaves the module unregistered.

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <strmif.h>
#include <uuids.h>

#include "dx/filter/FilterSetup.h"
#include "dx/server/Identifiers.h"
#include "tests/dx/win32/DxTestSupport.h"

namespace pellucer::dx::test {
namespace {

using ServerProc = HRESULT(STDAPICALLTYPE*)();

HRESULT registerModule() {
    const auto proc = moduleProc<ServerProc>("DllRegisterServer");
    return proc != nullptr ? proc() : E_FAIL;
}

HRESULT unregisterModule() {
    const auto proc = moduleProc<ServerProc>("DllUnregisterServer");
    return proc != nullptr ? proc() : E_FAIL;
}

std::wstring clsidText(REFCLSID clsid) {
    wchar_t text[40] = {};
    StringFromGUID2(clsid, text, 40);
    return text;
}

std::wstring classKey(REFCLSID clsid) { return L"CLSID\\" + clsidText(clsid); }
std::wstring plugInKey(REFCLSID clsid) { return L"TessalyPlugIns\\" + clsidText(clsid); }

bool keyExists(const std::wstring& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

/// A REG_SZ value under HKEY_CLASSES_ROOT (empty `value`: the key's default value); nothing
/// when the key or value is missing or has another type.
std::optional<std::wstring> readString(const std::wstring& keyName, const wchar_t* value) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, keyName.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    wchar_t text[1024] = {};
    DWORD bytes = sizeof(text) - sizeof(wchar_t);
    DWORD type = 0;
    const LONG error = RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes);
    RegCloseKey(key);
    if (error != ERROR_SUCCESS || type != REG_SZ)
        return std::nullopt;
    return std::wstring(text);
}

/// The module's path as Windows reports it for the loaded module.
std::wstring modulePath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(pellucerModule(), path, MAX_PATH);
    return path;
}

/// Nothing of the module's registration is in the registry.
void expectNoRegistryTraces() {
    for (const GUID* clsid : {&kClsidEffectFilter, &kClsidPropertyPage}) {
        EXPECT_FALSE(keyExists(classKey(*clsid)))
            << "left behind: " << testing::PrintToString(classKey(*clsid));
        EXPECT_FALSE(keyExists(plugInKey(*clsid)))
            << "left behind: " << testing::PrintToString(plugInKey(*clsid));
    }
}

void expectRegistryKeys() {
    const std::wstring path = modulePath();
    ASSERT_FALSE(path.empty());
    const struct {
        const GUID* clsid;
        const wchar_t* name;
    } classes[] = {{&kClsidEffectFilter, L"Pellucer"}, {&kClsidPropertyPage, L"Pellucer Properties"}};
    for (const auto& c : classes) {
        const std::wstring key = classKey(*c.clsid);
        EXPECT_EQ(readString(key, nullptr), std::optional<std::wstring>(c.name));
        EXPECT_EQ(readString(key + L"\\InprocServer32", nullptr), std::optional<std::wstring>(path));
        EXPECT_EQ(readString(key + L"\\InprocServer32", L"ThreadingModel"),
                  std::optional<std::wstring>(L"Both"));
    }
    const std::wstring plugIn = plugInKey(kClsidEffectFilter);
    EXPECT_EQ(readString(plugIn, L"Description"), std::optional<std::wstring>(L"Pellucer"));
    EXPECT_EQ(readString(plugIn, L"HelpFilePath"), std::optional<std::wstring>(L""));
    EXPECT_EQ(readString(plugIn, L"HelpFileTopic"), std::optional<std::wstring>(L""));
    // The page is no effect: hosts must not list it.
    EXPECT_FALSE(keyExists(plugInKey(kClsidPropertyPage)));
}

/// Runs `command` (a Windows command line) and answers its exit code, or -1.
long runProcess(std::wstring command) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return -1;
    DWORD exitCode = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &exitCode);
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<long>(exitCode);
}

/// What the filter mapper holds about one filter.
struct MapperEntry {
    std::wstring friendlyName;
    std::vector<uint8_t> filterData;
};

/// Every entry of the filter mapper whose CLSID is `clsid` (merit 0 lists all filters).
std::vector<MapperEntry> mapperEntries(REFCLSID clsid) {
    std::vector<MapperEntry> found;
    IFilterMapper2* mapper = nullptr;
    HRESULT result = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                      reinterpret_cast<void**>(&mapper));
    EXPECT_EQ(result, S_OK);
    if (FAILED(result))
        return found;
    IEnumMoniker* monikers = nullptr;
    result = mapper->EnumMatchingFilters(&monikers, 0, FALSE, 0, FALSE, 0, nullptr, nullptr, nullptr, FALSE,
                                         FALSE, 0, nullptr, nullptr, nullptr);
    EXPECT_EQ(result, S_OK);
    const std::wstring wanted = clsidText(clsid);
    IMoniker* moniker = nullptr;
    while (monikers != nullptr && monikers->Next(1, &moniker, nullptr) == S_OK) {
        IPropertyBag* bag = nullptr;
        if (SUCCEEDED(
                moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)))) {
            VARIANT value;
            VariantInit(&value);
            if (SUCCEEDED(bag->Read(L"CLSID", &value, nullptr)) && value.vt == VT_BSTR &&
                _wcsicmp(value.bstrVal, wanted.c_str()) == 0) {
                MapperEntry entry;
                VariantClear(&value);
                if (SUCCEEDED(bag->Read(L"FriendlyName", &value, nullptr)) && value.vt == VT_BSTR)
                    entry.friendlyName = value.bstrVal;
                VariantClear(&value);
                if (SUCCEEDED(bag->Read(L"FilterData", &value, nullptr)) && value.vt == (VT_ARRAY | VT_UI1)) {
                    void* bytes = nullptr;
                    if (SUCCEEDED(SafeArrayAccessData(value.parray, &bytes))) {
                        const ULONG size = value.parray->rgsabound[0].cElements;
                        entry.filterData.assign(static_cast<uint8_t*>(bytes),
                                                static_cast<uint8_t*>(bytes) + size);
                        SafeArrayUnaccessData(value.parray);
                    }
                }
                found.push_back(std::move(entry));
            }
            VariantClear(&value);
            bag->Release();
        }
        moniker->Release();
    }
    if (monikers != nullptr)
        monikers->Release();
    mapper->Release();
    return found;
}

uint32_t dwordAt(const std::vector<uint8_t>& data, size_t offset) {
    uint32_t value = 0;
    if (offset + 4 <= data.size())
        std::memcpy(&value, data.data() + offset, 4);
    return value;
}

bool guidAt(const std::vector<uint8_t>& data, size_t offset, const GUID& expected) {
    if (offset + sizeof(GUID) > data.size())
        return false;
    return std::memcmp(data.data() + offset, &expected, sizeof(GUID)) == 0;
}

/// Reads the mapper's binary filter record (header: version, merit, pin count, reserved; per pin:
/// signature, flags, instances, type count, medium count, category offset, then its types:
/// signature, reserved, major and minor type offsets) and checks it against the filter's pins.
void expectFilterRecord(const std::vector<uint8_t>& data) {
    ASSERT_GE(data.size(), 16u);
    EXPECT_EQ(dwordAt(data, 4), 0x200000u) << "merit";
    ASSERT_EQ(dwordAt(data, 8), 2u) << "pins";
    size_t offset = 16;
    const bool outputs[] = {false, true};
    for (bool output : outputs) {
        const uint32_t flags = dwordAt(data, offset + 4);
        EXPECT_EQ((flags & REG_PINFLAG_B_OUTPUT) != 0, output);
        EXPECT_EQ(flags & (REG_PINFLAG_B_RENDERER | REG_PINFLAG_B_ZERO | REG_PINFLAG_B_MANY), 0u);
        ASSERT_EQ(dwordAt(data, offset + 12), 1u) << "media types of pin " << output;
        EXPECT_EQ(dwordAt(data, offset + 16), 0u) << "mediums";
        offset += 24;
        EXPECT_TRUE(guidAt(data, dwordAt(data, offset + 8), MEDIATYPE_Audio));
        EXPECT_TRUE(guidAt(data, dwordAt(data, offset + 12), GUID_NULL));
        offset += 16;
    }
}

TEST(Registration, RegisterServerWritesClassAndPlugInKeysAndUnregisterRemovesThem) {
    RegistryTestLock lock;
    ASSERT_TRUE(lock.held());
    ASSERT_NE(pellucerModule(), nullptr);
    ASSERT_EQ(registerModule(), S_OK);
    expectRegistryKeys();
    // Registering again leaves the same keys.
    ASSERT_EQ(registerModule(), S_OK);
    expectRegistryKeys();

    EXPECT_EQ(unregisterModule(), S_OK);
    expectNoRegistryTraces();
    // Nothing left to remove is no failure.
    EXPECT_EQ(unregisterModule(), S_OK);
    expectNoRegistryTraces();
}

TEST(Registration, UnregisteringAModuleNeverRegisteredSucceeds) {
    RegistryTestLock lock;
    ASSERT_TRUE(lock.held());
    ASSERT_NE(pellucerModule(), nullptr);
    ComApartment com;
    // Every registry test leaves the prefix like this.
    expectNoRegistryTraces();
    EXPECT_TRUE(mapperEntries(kClsidEffectFilter).empty());

    EXPECT_EQ(unregisterModule(), S_OK);
    expectNoRegistryTraces();
}

TEST(Registration, FilterMapperListsTheFilterWithItsPins) {
    RegistryTestLock lock;
    ASSERT_TRUE(lock.held());
    ASSERT_NE(pellucerModule(), nullptr);
    ComApartment com;
    ASSERT_EQ(registerModule(), S_OK);
    // A second registration replaces the mapper's entry rather than adding one.
    ASSERT_EQ(registerModule(), S_OK);

    const std::vector<MapperEntry> entries = mapperEntries(kClsidEffectFilter);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].friendlyName, L"Pellucer");
    expectFilterRecord(entries[0].filterData);
    // Only the filter is a DirectShow filter.
    EXPECT_TRUE(mapperEntries(kClsidPropertyPage).empty());

    EXPECT_EQ(unregisterModule(), S_OK);
    EXPECT_TRUE(mapperEntries(kClsidEffectFilter).empty());
    expectNoRegistryTraces();
}

TEST(Registration, FilterSetupRecordAloneEntersAndLeavesTheMapper) {
    RegistryTestLock lock;
    ASSERT_TRUE(lock.held());
    ComApartment com;
    // The record as IAMovieSetup registers it, from this test program's own copy of the code.
    ASSERT_EQ(registerFilterSetup(kEffectFilterSetup, true), S_OK);
    const std::vector<MapperEntry> entries = mapperEntries(kClsidEffectFilter);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].friendlyName, L"Pellucer");
    expectFilterRecord(entries[0].filterData);
    // The mapper is all it touches.
    EXPECT_FALSE(keyExists(classKey(kClsidEffectFilter)));
    EXPECT_FALSE(keyExists(plugInKey(kClsidEffectFilter)));

    EXPECT_EQ(registerFilterSetup(kEffectFilterSetup, false), S_OK);
    EXPECT_TRUE(mapperEntries(kClsidEffectFilter).empty());
    // A filter the mapper does not have is no failure.
    EXPECT_EQ(registerFilterSetup(kEffectFilterSetup, false), S_OK);
}

TEST(Registration, RegisteredFilterIsCreatedThroughCom) {
    RegistryTestLock lock;
    ASSERT_TRUE(lock.held());
    ASSERT_NE(pellucerModule(), nullptr);
    ComApartment com;
    ASSERT_EQ(registerModule(), S_OK);
    IBaseFilter* filter = nullptr;
    const HRESULT result = CoCreateInstance(kClsidEffectFilter, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_IBaseFilter, reinterpret_cast<void**>(&filter));
    if (result == S_OK) {
        CLSID clsid{};
        EXPECT_EQ(filter->GetClassID(&clsid), S_OK);
        EXPECT_TRUE(IsEqualCLSID(clsid, kClsidEffectFilter));
        filter->Release();
    }
    EXPECT_EQ(unregisterModule(), S_OK);
    expectNoRegistryTraces();
    ASSERT_EQ(result, S_OK);
    // Once the keys are gone, COM no longer finds the class.
    EXPECT_EQ(CoCreateInstance(kClsidEffectFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&filter)),
              REGDB_E_CLASSNOTREG);
}

TEST(Registration, Regsvr32RegistersAndUnregistersTheModule) {
    RegistryTestLock lock;
    ASSERT_TRUE(lock.held());
    ASSERT_NE(pellucerModule(), nullptr);
    ComApartment com;
    const std::wstring path = modulePath();
    ASSERT_EQ(runProcess(L"regsvr32.exe /s \"" + path + L"\""), 0);
    expectRegistryKeys();
    const std::vector<MapperEntry> entries = mapperEntries(kClsidEffectFilter);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].friendlyName, L"Pellucer");

    EXPECT_EQ(runProcess(L"regsvr32.exe /u /s \"" + path + L"\""), 0);
    expectNoRegistryTraces();
    EXPECT_TRUE(mapperEntries(kClsidEffectFilter).empty());
}

} // namespace
} // namespace pellucer::dx::test
