#include "dx/midi/MidiNameProvider.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace pellucer::dx {

namespace {

struct ControllerName {
    int32_t number;
    const char* name;
};

/// The controllers a host shows by name; every other number from 3 up is shown as its number,
/// and controller 0 (bank select) is left unnamed.
constexpr ControllerName kControllerNames[] = {
    {1, "Modulation Wheel"}, {2, "Breath"},          {7, "Volume"},
    {11, "Expression"},      {64, "Sustain Switch"}, {66, "Sostenuto Switch"},
    {72, "Volume Release"},  {73, "Volume Attack"},
};
constexpr int32_t kFirstNumberedController = 3;

bool validBankAndPatch(LONG bank, LONG patch) {
    return bank >= -1 && bank <= MidiNameProvider::kMaxBank && patch >= -1 &&
           patch <= MidiNameProvider::kMaxPatch;
}

/// Hands `list` to the host with a reference of its own.
void giveOut(MidiNameList* list, IMidiNameList** out) {
    list->AddRef();
    *out = list;
}

} // namespace

MidiNameProvider::MidiNameProvider(const char* productName) : name_(productName) {}

MidiNameProvider::~MidiNameProvider() {
    for (MidiNameList* list : {controllers_, rpns_, nrpns_})
        if (list != nullptr)
            list->Release();
    for (ListMap* lists : {&patchLists_, &noteLists_})
        for (const auto& [key, list] : *lists)
            list->Release();
}

HRESULT STDMETHODCALLTYPE MidiNameProvider::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, kIidMidiNameProvider)) {
        *object = static_cast<IMidiNameProvider*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE MidiNameProvider::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG STDMETHODCALLTYPE MidiNameProvider::Release() {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE MidiNameProvider::GetName(char* buffer, LONG size) {
    LockGuard guard(lock_);
    if (buffer == nullptr || size < 0 || static_cast<size_t>(size) < name_.size() + 1)
        return E_POINTER;
    std::memcpy(buffer, name_.c_str(), name_.size() + 1);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MidiNameProvider::OnPatchSelected(LONG, LONG) {
    LockGuard guard(lock_);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MidiNameProvider::HasPatchNoteNames(LONG bank, LONG patch) {
    LockGuard guard(lock_);
    return validBankAndPatch(bank, patch) ? S_FALSE : E_INVALIDARG;
}

HRESULT STDMETHODCALLTYPE MidiNameProvider::IsPatchValid(LONG bank, LONG patch) {
    LockGuard guard(lock_);
    return validBankAndPatch(bank, patch) ? S_OK : E_INVALIDARG;
}

HRESULT STDMETHODCALLTYPE MidiNameProvider::GetPatchNames(LONG bank, IMidiNameList** list) {
    LockGuard guard(lock_);
    if (bank > kMaxPatchBank)
        return E_INVALIDARG;
    if (list == nullptr)
        return E_POINTER;
    auto found = patchLists_.find(bank);
    if (found == patchLists_.end()) {
        const HRESULT built = buildPatchList(bank);
        if (FAILED(built))
            return built;
        found = patchLists_.find(bank);
        if (found == patchLists_.end())
            return E_FAIL;
    }
    giveOut(found->second, list);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MidiNameProvider::GetNoteNames(LONG bank, LONG patch, IMidiNameList** list) {
    LockGuard guard(lock_);
    // Unsigned, so that every bank below -1 wraps above the limit: -1 .. 16383 pass.
    if (static_cast<ULONG>(bank) + 1 > static_cast<ULONG>(kMaxBank) + 1)
        return E_INVALIDARG;
    if (list == nullptr)
        return E_POINTER;
    const int32_t key = noteListKey(bank, patch);
    auto found = noteLists_.find(key);
    if (found == noteLists_.end()) {
        const HRESULT built = buildNoteList(key);
        if (FAILED(built))
            return built;
        found = noteLists_.find(key);
        if (found == noteLists_.end())
            return E_FAIL;
    }
    giveOut(found->second, list);
    return S_FALSE;
}

HRESULT STDMETHODCALLTYPE MidiNameProvider::GetControllerNames(IMidiNameList** list) {
    LockGuard guard(lock_);
    return handOut(controllers_, &MidiNameProvider::buildControllerList, list);
}

HRESULT STDMETHODCALLTYPE MidiNameProvider::GetRpnNames(IMidiNameList** list) {
    LockGuard guard(lock_);
    return handOut(rpns_, &MidiNameProvider::buildRpnList, list);
}

HRESULT STDMETHODCALLTYPE MidiNameProvider::GetNrpnNames(IMidiNameList** list) {
    LockGuard guard(lock_);
    return handOut(nrpns_, &MidiNameProvider::buildNrpnList, list);
}

int32_t MidiNameProvider::noteListKey(LONG bank, LONG patch) {
    // In 32-bit unsigned arithmetic, so that bank -1 gives -65536 + patch without overflow.
    const uint32_t key = (static_cast<uint32_t>(bank) << 16) | (static_cast<uint32_t>(patch) & 0xFFFFu);
    return static_cast<int32_t>(key);
}

HRESULT MidiNameProvider::handOut(MidiNameList*& slot, HRESULT (MidiNameProvider::*build)(),
                                  IMidiNameList** list) {
    if (list == nullptr)
        return E_POINTER;
    if (slot == nullptr) {
        const HRESULT built = (this->*build)();
        if (FAILED(built))
            return built;
        if (slot == nullptr)
            return E_OUTOFMEMORY;
    }
    giveOut(slot, list);
    return S_OK;
}

MidiNameList* MidiNameProvider::newList(const char* suffix, LONG capacity) noexcept {
    try {
        MidiNameList* list = MidiNameList::create(name_ + suffix, capacity);
        if (list != nullptr)
            list->AddRef();
        return list;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

HRESULT MidiNameProvider::buildPatchList(LONG) { return S_FALSE; }

HRESULT MidiNameProvider::buildNoteList(int32_t key) {
    MidiNameList* list = newList(" Notes", kNoteCount);
    if (list == nullptr)
        return E_OUTOFMEMORY;
    try {
        noteLists_.emplace(key, list);
    } catch (const std::bad_alloc&) {
        list->Release();
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT MidiNameProvider::buildControllerList() {
    MidiNameList* list = newList(" Controllers", kControllerCount);
    if (list == nullptr)
        return E_OUTOFMEMORY;
    try {
        char number[16];
        for (int32_t controller = kFirstNumberedController; controller < kControllerCount; ++controller) {
            std::snprintf(number, sizeof number, "%i", static_cast<int>(controller));
            list->setName(controller, number);
        }
        // The named controllers replace their numbers.
        for (const ControllerName& entry : kControllerNames)
            list->setName(entry.number, entry.name);
    } catch (const std::bad_alloc&) {
        list->Release();
        return E_OUTOFMEMORY;
    }
    controllers_ = list;
    return S_OK;
}

HRESULT MidiNameProvider::buildRpnList() {
    rpns_ = newList(" RPNs", kParameterNumberCount);
    return rpns_ != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT MidiNameProvider::buildNrpnList() {
    nrpns_ = newList(" NRPNs", kParameterNumberCount);
    return nrpns_ != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT createMidiNameProvider(const char* productName, MidiNameProvider** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (productName == nullptr)
        return E_POINTER;
    MidiNameProvider* provider = nullptr;
    try {
        provider = new MidiNameProvider(productName);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    provider->AddRef();
    *out = provider;
    return S_OK;
}

} // namespace pellucer::dx
