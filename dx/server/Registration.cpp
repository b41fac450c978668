#include "dx/server/Registration.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include <uuids.h>

#include "dx/server/PlugInApp.h"

namespace pellucer::dx {

namespace {

// Registry form of a CLSID: 38 characters with braces, and the terminator.
constexpr int kClsidTextLength = 39;
// Registry key names are at most 255 characters.
constexpr DWORD kMaxKeyName = 256;

// The key under which DirectX hosts look for effects: one sub-key per filter CLSID.
constexpr char kPlugInKeyPrefix[] = "TessalyPlugIns\\";
constexpr WCHAR kPlugInKeyPrefixWide[] = L"TessalyPlugIns\\";

HRESULT win32Failure(DWORD error) {
    const HRESULT result = HRESULT_FROM_WIN32(error);
    return FAILED(result) ? result : E_FAIL;
}

/// "CLSID\{...}" of a class, or false when the buffer does not hold it.
bool classKeyName(const CLSID& clsid, WCHAR (&name)[64]) {
    WCHAR text[kClsidTextLength];
    if (StringFromGUID2(clsid, text, kClsidTextLength) == 0)
        return false;
    return swprintf(name, 64, L"CLSID\\%ls", text) > 0;
}

LONG setString(HKEY key, const WCHAR* valueName, const WCHAR* text) {
    const DWORD bytes = static_cast<DWORD>((wcslen(text) + 1) * sizeof(WCHAR));
    return RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
}

LONG setAnsiString(HKEY key, const char* valueName, const char* text) {
    const DWORD bytes = static_cast<DWORD>(strlen(text) + 1);
    return RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
}

/// Writes "CLSID\{..}" and its "InprocServer32" for one class.
LONG writeClassKeys(const ClassTemplate& entry, const WCHAR* modulePath) {
    WCHAR name[64];
    if (!classKeyName(*entry.clsid, name))
        return ERROR_INVALID_DATA;
    HKEY classKey = nullptr;
    LONG error = RegCreateKeyExW(HKEY_CLASSES_ROOT, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                 nullptr, &classKey, nullptr);
    if (error != ERROR_SUCCESS)
        return error;
    error = setString(classKey, nullptr, entry.name);
    if (error == ERROR_SUCCESS) {
        HKEY serverKey = nullptr;
        error = RegCreateKeyExW(classKey, L"InprocServer32", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                nullptr, &serverKey, nullptr);
        if (error == ERROR_SUCCESS) {
            error = setString(serverKey, nullptr, modulePath);
            if (error == ERROR_SUCCESS)
                error = setString(serverKey, L"ThreadingModel", L"Both");
            RegCloseKey(serverKey);
        }
    }
    RegCloseKey(classKey);
    return error;
}

/// The registry form of a CLSID in the ANSI code page, or false.
bool ansiClsidText(const CLSID& clsid, char (&text)[kClsidTextLength]) {
    WCHAR wide[kClsidTextLength];
    if (StringFromGUID2(clsid, wide, kClsidTextLength) == 0)
        return false;
    return WideCharToMultiByte(CP_ACP, 0, wide, -1, text, kClsidTextLength, nullptr, nullptr) != 0;
}

} // namespace

LONG deleteKeyTree(HKEY parent, const WCHAR* name) {
    HKEY key = nullptr;
    LONG error = RegOpenKeyExW(parent, name, 0, KEY_ALL_ACCESS, &key);
    if (error != ERROR_SUCCESS)
        return error;
    WCHAR child[kMaxKeyName];
    // Deleting sub-key 0 moves the next one into its place.
    while (RegEnumKeyW(key, 0, child, kMaxKeyName) == ERROR_SUCCESS) {
        if (deleteKeyTree(key, child) != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(key);
    return RegDeleteKeyW(parent, name);
}

HRESULT registerServer(bool registering) {
    char ansiPath[MAX_PATH];
    const DWORD pathLength = GetModuleFileNameA(moduleInstance(), ansiPath, MAX_PATH);
    if (pathLength == 0 || pathLength >= MAX_PATH)
        return win32Failure(pathLength == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER);
    WCHAR modulePath[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, ansiPath, -1, modulePath, MAX_PATH) == 0)
        return win32Failure(GetLastError());

    if (registering) {
        for (const ClassTemplate& entry : classTable()) {
            const LONG error = writeClassKeys(entry, modulePath);
            if (error != ERROR_SUCCESS)
                return win32Failure(static_cast<DWORD>(error));
        }
    }

    // A thread that already runs COM in another apartment keeps it; only our own initialisation
    // is undone.
    const HRESULT comInit = CoInitialize(nullptr);
    HRESULT result = S_OK;
    {
        FilterMapper mapper;
        result = mapper.create();
        if (SUCCEEDED(result)) {
            for (const ClassTemplate& entry : classTable()) {
                if (entry.setup == nullptr)
                    continue;
                result = mapper.registerFilter(*entry.setup, registering);
                if (FAILED(result))
                    break;
            }
        }
    }
    CoFreeUnusedLibraries();
    if (SUCCEEDED(comInit))
        CoUninitialize();

    if (!registering && SUCCEEDED(result)) {
        for (const ClassTemplate& entry : classTable()) {
            WCHAR name[64];
            if (classKeyName(*entry.clsid, name))
                deleteKeyTree(HKEY_CLASSES_ROOT, name);
        }
    }
    return result;
}

void writePlugInKeys() {
    for (const ClassTemplate& entry : classTable()) {
        if (entry.setup == nullptr)
            continue;
        char clsidText[kClsidTextLength];
        if (!ansiClsidText(*entry.clsid, clsidText))
            return;
        char keyName[64];
        snprintf(keyName, sizeof keyName, "%s%s", kPlugInKeyPrefix, clsidText);
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CLASSES_ROOT, keyName, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                            nullptr, &key, nullptr) != ERROR_SUCCESS)
            return;
        char description[MAX_PATH];
        if (WideCharToMultiByte(CP_ACP, 0, entry.name, -1, description, MAX_PATH, nullptr, nullptr) == 0) {
            RegCloseKey(key);
            return;
        }
        setAnsiString(key, "Description", description);
        setAnsiString(key, "HelpFilePath", "");
        setAnsiString(key, "HelpFileTopic", "");
        RegCloseKey(key);
    }
}

void removeSetupAndPlugInKeys() {
    for (const ClassTemplate& entry : classTable()) {
        if (entry.create != nullptr) {
            IAMovieSetup* setup = nullptr;
            if (SUCCEEDED(CoCreateInstance(*entry.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IAMovieSetup,
                                           reinterpret_cast<void**>(&setup)))) {
                setup->Unregister();
                setup->Release();
            }
        }
        WCHAR clsidText[kClsidTextLength];
        if (StringFromGUID2(*entry.clsid, clsidText, kClsidTextLength) == 0)
            return;
        WCHAR keyName[64];
        swprintf(keyName, 64, L"%ls%ls", kPlugInKeyPrefixWide, clsidText);
        deleteKeyTree(HKEY_CLASSES_ROOT, keyName);
    }
}

// -- FilterMapper --------------------------------------------------------------------------------

FilterMapper::~FilterMapper() {
    if (mapper2_ != nullptr)
        mapper2_->Release();
    if (mapper_ != nullptr)
        mapper_->Release();
}

HRESULT FilterMapper::create() {
    HRESULT result = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                      reinterpret_cast<void**>(&mapper2_));
    if (SUCCEEDED(result))
        return result;
    mapper2_ = nullptr;
    result = CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                              reinterpret_cast<void**>(&mapper_));
    if (FAILED(result))
        mapper_ = nullptr;
    return result;
}

HRESULT FilterMapper::registerFilter(const FilterSetup& setup, bool registering) const {
    HRESULT result = E_UNEXPECTED;
    if (mapper2_ != nullptr) {
        // A null category is DirectShow's default filter category.
        result = mapper2_->UnregisterFilter(nullptr, nullptr, *setup.clsid);
        if (registering) {
            REGFILTER2 record{};
            record.dwVersion = 1;
            record.dwMerit = setup.merit;
            record.cPins = setup.pinCount;
            record.rgPins = setup.pins;
            result = mapper2_->RegisterFilter(*setup.clsid, setup.name, nullptr, nullptr, nullptr, &record);
        }
    } else if (mapper_ != nullptr) {
        result = mapper_->UnregisterFilter(*setup.clsid);
        if (registering) {
            result = mapper_->RegisterFilter(*setup.clsid, setup.name, setup.merit);
            for (UINT p = 0; p < setup.pinCount && SUCCEEDED(result); ++p) {
                const REGFILTERPINS& pin = setup.pins[p];
                const CLSID connectsTo =
                    pin.clsConnectsToFilter != nullptr ? *pin.clsConnectsToFilter : CLSID_NULL;
                result = mapper_->RegisterPin(*setup.clsid, pin.strName, pin.bRendered, pin.bOutput,
                                              pin.bZero, pin.bMany, connectsTo, pin.strConnectsToPin);
                for (UINT t = 0; t < pin.nMediaTypes && SUCCEEDED(result); ++t) {
                    const REGPINTYPES& type = pin.lpMediaType[t];
                    result = mapper_->RegisterPinType(*setup.clsid, pin.strName, *type.clsMajorType,
                                                      *type.clsMinorType);
                }
            }
        }
    }
    // The mapper answers "file not found" for a filter it does not have: nothing to remove.
    if (result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))
        result = S_OK;
    return result;
}

} // namespace pellucer::dx
