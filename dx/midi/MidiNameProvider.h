#pragma once

// The filter's MIDI name provider: answers a sequencer host's requests for the names of MIDI
// controllers, RPNs, NRPNs, patches and notes. The effect has no MIDI-driven parameters, so the
// lists are generic: the common controller names, empty RPN/NRPN and note lists, no patches.
//
// One provider per filter, created with the product name by the filter's sequencer integration
// part, which holds one reference and forwards the host's name requests unchanged. Every method
// runs under the provider's critical section; the lists it hands out have no lock of their own.

#include <cstdint>
#include <map>
#include <string>

#include "dx/midi/MidiNameInterfaces.h"
#include "dx/midi/MidiNameList.h"
#include "dx/server/ModuleCounts.h"
#include "dx/base/Lock.h"

namespace pellucer::dx {

class MidiNameProvider : public IMidiNameProvider {
public:
    /// Numbers a controller list covers (7-bit controller numbers).
    static constexpr LONG kControllerCount = 128;
    /// Numbers an RPN or NRPN list covers.
    static constexpr LONG kParameterNumberCount = 16383;
    /// Numbers a note list covers (7-bit keys).
    static constexpr LONG kNoteCount = 128;
    /// Highest bank GetPatchNames accepts.
    static constexpr LONG kMaxPatchBank = 7;
    /// Valid banks and patches of the bank/patch notifications; -1 means "none".
    static constexpr LONG kMaxBank = 16383;
    static constexpr LONG kMaxPatch = 127;

    /// `productName` titles the lists. May throw std::bad_alloc.
    explicit MidiNameProvider(const char* productName);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IMidiNameProvider
    HRESULT STDMETHODCALLTYPE GetName(char* buffer, LONG size) override;
    HRESULT STDMETHODCALLTYPE OnPatchSelected(LONG bank, LONG patch) override;
    HRESULT STDMETHODCALLTYPE HasPatchNoteNames(LONG bank, LONG patch) override;
    HRESULT STDMETHODCALLTYPE IsPatchValid(LONG bank, LONG patch) override;
    HRESULT STDMETHODCALLTYPE GetPatchNames(LONG bank, IMidiNameList** list) override;
    HRESULT STDMETHODCALLTYPE GetNoteNames(LONG bank, LONG patch, IMidiNameList** list) override;
    HRESULT STDMETHODCALLTYPE GetControllerNames(IMidiNameList** list) override;
    HRESULT STDMETHODCALLTYPE GetRpnNames(IMidiNameList** list) override;
    HRESULT STDMETHODCALLTYPE GetNrpnNames(IMidiNameList** list) override;

    /// The key of a bank's and patch's note list: bank × 65536 + patch, the patch taken as 16 bits.
    static int32_t noteListKey(LONG bank, LONG patch);

protected:
    /// Only Release ends a provider; it releases every list it built.
    virtual ~MidiNameProvider();

    // The list builders, called under the lock when a list is first asked for. Each stores what it
    // built holding one reference, and answers E_OUTOFMEMORY when memory runs out.
    /// Patch lists: the effect has no programs a MIDI patch selects, so none is built (S_FALSE).
    virtual HRESULT buildPatchList(LONG bank);
    virtual HRESULT buildNoteList(int32_t key);
    virtual HRESULT buildControllerList();
    virtual HRESULT buildRpnList();
    virtual HRESULT buildNrpnList();

private:
    using ListMap = std::map<int32_t, MidiNameList*>;

    /// Builds `slot` with `build` if it is empty, then hands it out with a reference.
    HRESULT handOut(MidiNameList*& slot, HRESULT (MidiNameProvider::*build)(), IMidiNameList** list);
    /// A new empty list titled with the product name and `suffix`, holding one reference; null
    /// when memory runs out.
    MidiNameList* newList(const char* suffix, LONG capacity) noexcept;

    CriticalSection lock_;
    volatile LONG references_ = 0;
    std::string name_;
    MidiNameList* controllers_ = nullptr;
    MidiNameList* rpns_ = nullptr;
    MidiNameList* nrpns_ = nullptr;
    ListMap patchLists_;
    ListMap noteLists_;
    ActiveObject active_;
};

/// Creates the filter's provider with `productName` and one reference for the caller.
/// E_POINTER for a null argument, E_OUTOFMEMORY when memory runs out.
HRESULT createMidiNameProvider(const char* productName, MidiNameProvider** out);

} // namespace pellucer::dx
