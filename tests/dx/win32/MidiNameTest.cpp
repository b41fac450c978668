// The MIDI name provider and its name lists as a sequencer host uses them: the lists it builds
// and their texts, the return codes of every method, enumeration, object identity and lifetime,
// and the vtable slot order the host relies on.

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "dx/midi/MidiNameInterfaces.h"
#include "dx/midi/MidiNameList.h"
#include "dx/midi/MidiNameProvider.h"
#include "dx/server/ModuleCounts.h"

namespace pellucer::dx {
namespace {

/// A provider created as the filter creates it, released at the end of the test.
struct Provider {
    Provider() { EXPECT_EQ(createMidiNameProvider("Pellucer", &p), S_OK); }
    ~Provider() {
        if (p != nullptr)
            p->Release();
    }
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;
    MidiNameProvider* operator->() const { return p; }
    MidiNameProvider* p = nullptr;
};

/// A list handed out by the provider, released at the end of the test.
struct List {
    ~List() {
        if (p != nullptr)
            p->Release();
    }
    List() = default;
    List(const List&) = delete;
    List& operator=(const List&) = delete;
    IMidiNameList* operator->() const { return p; }
    IMidiNameList** out() { return &p; }
    IMidiNameList* p = nullptr;
};

/// The list's count as GetCount answers it.
LONG countOf(IMidiNameList* list) {
    LONG count = -1;
    EXPECT_EQ(list->GetCount(&count), S_OK);
    return count;
}

std::string titleOf(IMidiNameList* list) {
    char buffer[128];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(list->GetTitle(buffer, sizeof buffer), S_OK);
    return buffer;
}

/// What nameAt gives for a failed call: the result code in angle brackets.
std::string failureMarker(HRESULT result) {
    std::string marker("<");
    marker += std::to_string(static_cast<unsigned long>(result));
    marker += '>';
    return marker;
}

/// The name GetNameAt gives, or a marker with the result code when it fails.
std::string nameAt(IMidiNameList* list, LONG index, LONG size = 64) {
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    const HRESULT result = list->GetNameAt(index, buffer, size);
    if (result != S_OK)
        return failureMarker(result);
    return buffer;
}

TEST(MidiNames, ControllerListNamesTheCommonControllersAndNumbersTheRest) {
    Provider provider;
    List list;
    ASSERT_EQ(provider->GetControllerNames(list.out()), S_OK);
    ASSERT_NE(list.p, nullptr);

    EXPECT_EQ(titleOf(list.p), "Pellucer Controllers");
    EXPECT_EQ(countOf(list.p), 128);
    const std::pair<LONG, const char*> named[] = {
        {1, "Modulation Wheel"}, {2, "Breath"},          {7, "Volume"},
        {11, "Expression"},      {64, "Sustain Switch"}, {66, "Sostenuto Switch"},
        {72, "Volume Release"},  {73, "Volume Attack"},
    };
    for (const auto& [index, name] : named)
        EXPECT_EQ(nameAt(list.p, index), name) << index;
    for (const LONG index : {3, 5, 10, 65, 74, 127})
        EXPECT_EQ(nameAt(list.p, index), std::to_string(index));
    // Controller 0 has no entry: an empty text, yet a success.
    EXPECT_EQ(nameAt(list.p, 0), "");

    // Truncation keeps size - 1 characters and the terminating zero.
    EXPECT_EQ(nameAt(list.p, 64, 5), "Sust");
    EXPECT_EQ(nameAt(list.p, 64, 1), "");
}

TEST(MidiNames, NameAtChecksBufferThenRange) {
    Provider provider;
    List list;
    ASSERT_EQ(provider->GetControllerNames(list.out()), S_OK);
    char buffer[16] = "untouched";
    EXPECT_EQ(list->GetNameAt(5, nullptr, 16), E_POINTER);
    EXPECT_EQ(list->GetNameAt(5, buffer, 0), E_POINTER);
    EXPECT_EQ(list->GetNameAt(500, nullptr, 16), E_POINTER);
    EXPECT_EQ(list->GetNameAt(128, buffer, 16), E_INVALIDARG);
    EXPECT_EQ(list->GetNameAt(-1, buffer, 16), E_INVALIDARG);
    EXPECT_STREQ(buffer, "untouched");
    EXPECT_EQ(list->GetCount(nullptr), E_POINTER);
}

TEST(MidiNames, FindNameHasNoRangeCheckAndReportsMissingEntries) {
    Provider provider;
    List list;
    ASSERT_EQ(provider->GetControllerNames(list.out()), S_OK);
    char buffer[32];
    std::strcpy(buffer, "junk");
    EXPECT_EQ(list->FindName(0, buffer, sizeof buffer), S_FALSE);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(list->FindName(500, buffer, sizeof buffer), S_FALSE);
    EXPECT_EQ(list->FindName(-3, buffer, sizeof buffer), S_FALSE);
    EXPECT_EQ(list->FindName(73, buffer, sizeof buffer), S_OK);
    EXPECT_STREQ(buffer, "Volume Attack");
    EXPECT_EQ(list->FindName(73, buffer, 7), S_OK);
    EXPECT_STREQ(buffer, "Volume");
    EXPECT_EQ(list->FindName(73, nullptr, 7), E_POINTER);
}

TEST(MidiNames, TitleIsTruncatedToTheBuffer) {
    Provider provider;
    List list;
    ASSERT_EQ(provider->GetControllerNames(list.out()), S_OK);
    char buffer[8] = "abcdefg";
    ASSERT_EQ(list->GetTitle(buffer, 5), S_OK);
    EXPECT_STREQ(buffer, "Pell");
    std::strcpy(buffer, "abcdefg");
    EXPECT_EQ(list->GetTitle(buffer, 0), S_OK);
    EXPECT_STREQ(buffer, "abcdefg") << "size 0 writes nothing";
    EXPECT_EQ(list->GetTitle(buffer, -4), S_OK);
    EXPECT_STREQ(buffer, "abcdefg");
    ASSERT_EQ(list->GetTitle(buffer, 1), S_OK);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(list->GetTitle(nullptr, 5), E_POINTER);
}

TEST(MidiNames, EnumerationVisitsEveryNamedControllerInOrder) {
    Provider provider;
    List list;
    ASSERT_EQ(provider->GetControllerNames(list.out()), S_OK);

    // Twice: GetFirstPosition starts the enumeration over.
    for (int pass = 0; pass < 2; ++pass) {
        void* position = nullptr;
        ASSERT_EQ(list->GetFirstPosition(&position), S_OK);
        ASSERT_NE(position, nullptr);
        std::vector<LONG> indices;
        LONG index = -1;
        char buffer[64];
        HRESULT result;
        while ((result = list->GetNextName(position, &index, buffer, sizeof buffer)) == S_OK) {
            EXPECT_EQ(buffer, nameAt(list.p, index)) << index;
            indices.push_back(index);
            ASSERT_LE(indices.size(), 200u);
        }
        EXPECT_EQ(result, S_FALSE);
        EXPECT_EQ(list->GetNextName(position, &index, buffer, sizeof buffer), S_FALSE) << "stays at the end";
        std::vector<LONG> expected;
        for (LONG i = 1; i < 128; ++i)
            expected.push_back(i);
        EXPECT_EQ(indices, expected) << "pass " << pass;
    }

    void* position = nullptr;
    ASSERT_EQ(list->GetFirstPosition(&position), S_OK);
    LONG index = -1;
    char buffer[8];
    ASSERT_EQ(list->GetNextName(position, &index, buffer, 6), S_OK);
    EXPECT_EQ(index, 1);
    EXPECT_STREQ(buffer, "Modul");
    EXPECT_EQ(list->GetFirstPosition(nullptr), E_POINTER);
    EXPECT_EQ(list->GetNextName(nullptr, &index, buffer, 6), E_POINTER);
    EXPECT_EQ(list->GetNextName(position, nullptr, buffer, 6), E_POINTER);
    EXPECT_EQ(list->GetNextName(position, &index, nullptr, 6), E_POINTER);
    EXPECT_EQ(list->GetNextName(position, &index, buffer, 0), E_POINTER);
    LONG foreign = 0;
    EXPECT_EQ(list->GetNextName(&foreign, &index, buffer, 6), E_INVALIDARG);
    // The bad calls did not move the enumeration.
    ASSERT_EQ(list->GetNextName(position, &index, buffer, sizeof buffer), S_OK);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(list->Reserved(), E_NOTIMPL);
}

TEST(MidiNames, ParameterNumberListsCoverFourteenBitsWithoutNames) {
    Provider provider;
    List rpns, nrpns;
    ASSERT_EQ(provider->GetRpnNames(rpns.out()), S_OK);
    ASSERT_EQ(provider->GetNrpnNames(nrpns.out()), S_OK);
    EXPECT_NE(rpns.p, nrpns.p);
    EXPECT_EQ(titleOf(rpns.p), "Pellucer RPNs");
    EXPECT_EQ(titleOf(nrpns.p), "Pellucer NRPNs");
    for (IMidiNameList* list : {rpns.p, nrpns.p}) {
        EXPECT_EQ(countOf(list), 16383);
        EXPECT_EQ(nameAt(list, 0), "");
        EXPECT_EQ(nameAt(list, 16382), "");
        EXPECT_EQ(nameAt(list, 16383), failureMarker(E_INVALIDARG));
        void* position = nullptr;
        ASSERT_EQ(list->GetFirstPosition(&position), S_OK);
        LONG index = 0;
        char buffer[8];
        EXPECT_EQ(list->GetNextName(position, &index, buffer, sizeof buffer), S_FALSE);
    }
}

TEST(MidiNames, ListsAreBuiltOnceAndHandedOutWithAReference) {
    Provider provider;
    List first, second;
    ASSERT_EQ(provider->GetControllerNames(first.out()), S_OK);
    ASSERT_EQ(provider->GetControllerNames(second.out()), S_OK);
    EXPECT_EQ(first.p, second.p);
    // Provider + two hand-outs, so one AddRef gives 4.
    EXPECT_EQ(first->AddRef(), 4u);
    EXPECT_EQ(first->Release(), 3u);
}

TEST(MidiNames, PatchNamesAreNeverAvailable) {
    Provider provider;
    List list;
    EXPECT_EQ(provider->GetPatchNames(0, list.out()), E_FAIL);
    EXPECT_EQ(provider->GetPatchNames(7, list.out()), E_FAIL);
    EXPECT_EQ(provider->GetPatchNames(-1, list.out()), E_FAIL);
    EXPECT_EQ(provider->GetPatchNames(8, list.out()), E_INVALIDARG);
    EXPECT_EQ(provider->GetPatchNames(8, nullptr), E_INVALIDARG) << "the bank is checked first";
    EXPECT_EQ(provider->GetPatchNames(0, nullptr), E_POINTER);
    EXPECT_EQ(list.p, nullptr);
}

TEST(MidiNames, NoteListsAreKeyedByBankAndPatch) {
    Provider provider;
    List first, again, otherPatch, otherBank, noBank, wrapped;
    ASSERT_EQ(provider->GetNoteNames(0, 0, first.out()), S_FALSE);
    ASSERT_EQ(provider->GetNoteNames(0, 0, again.out()), S_FALSE);
    EXPECT_EQ(first.p, again.p) << "built once, then found";
    EXPECT_EQ(titleOf(first.p), "Pellucer Notes");
    EXPECT_EQ(countOf(first.p), 128);
    EXPECT_EQ(nameAt(first.p, 60), "");

    ASSERT_EQ(provider->GetNoteNames(0, 1, otherPatch.out()), S_FALSE);
    ASSERT_EQ(provider->GetNoteNames(1, 0, otherBank.out()), S_FALSE);
    ASSERT_EQ(provider->GetNoteNames(-1, 0, noBank.out()), S_FALSE);
    EXPECT_NE(otherPatch.p, first.p);
    EXPECT_NE(otherBank.p, first.p);
    EXPECT_NE(noBank.p, first.p);
    EXPECT_NE(otherBank.p, otherPatch.p);
    // Only the low 16 bits of the patch make the key.
    ASSERT_EQ(provider->GetNoteNames(1, 0x10000, wrapped.out()), S_FALSE);
    EXPECT_EQ(wrapped.p, otherBank.p);

    List refused;
    EXPECT_EQ(provider->GetNoteNames(16384, 0, refused.out()), E_INVALIDARG);
    EXPECT_EQ(provider->GetNoteNames(-2, 0, refused.out()), E_INVALIDARG);
    EXPECT_EQ(provider->GetNoteNames(16383, 0, nullptr), E_POINTER);
    EXPECT_EQ(refused.p, nullptr);
}

TEST(MidiNames, BankAndPatchNotificationsCheckTheirRanges) {
    Provider provider;
    struct Case {
        LONG bank, patch;
        bool valid;
    };
    const Case cases[] = {{-1, -1, true}, {0, 0, true},    {16383, 127, true}, {16384, 0, false},
                          {-2, 0, false}, {0, 128, false}, {0, -2, false},     {100, 64, true}};
    for (const Case& c : cases) {
        EXPECT_EQ(provider->OnPatchSelected(c.bank, c.patch), S_OK) << c.bank << "/" << c.patch;
        EXPECT_EQ(provider->HasPatchNoteNames(c.bank, c.patch), c.valid ? S_FALSE : E_INVALIDARG)
            << c.bank << "/" << c.patch;
        EXPECT_EQ(provider->IsPatchValid(c.bank, c.patch), c.valid ? S_OK : E_INVALIDARG)
            << c.bank << "/" << c.patch;
    }
}

TEST(MidiNames, NameNeedsRoomForAllOfIt) {
    Provider provider;
    char buffer[16];
    std::strcpy(buffer, "untouched");
    EXPECT_EQ(provider->GetName(buffer, 8), E_POINTER);
    EXPECT_EQ(provider->GetName(buffer, -1), E_POINTER);
    EXPECT_STREQ(buffer, "untouched");
    EXPECT_EQ(provider->GetName(nullptr, 16), E_POINTER);
    ASSERT_EQ(provider->GetName(buffer, 9), S_OK);
    EXPECT_STREQ(buffer, "Pellucer");

    // Another product name titles every list.
    MidiNameProvider* other = nullptr;
    ASSERT_EQ(createMidiNameProvider("Ab", &other), S_OK);
    List list;
    ASSERT_EQ(other->GetNrpnNames(list.out()), S_OK);
    EXPECT_EQ(titleOf(list.p), "Ab NRPNs");
    other->Release();
}

TEST(MidiNames, NullOutPointersAreRefused) {
    Provider provider;
    EXPECT_EQ(provider->GetControllerNames(nullptr), E_POINTER);
    EXPECT_EQ(provider->GetRpnNames(nullptr), E_POINTER);
    EXPECT_EQ(provider->GetNrpnNames(nullptr), E_POINTER);
    EXPECT_EQ(provider->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(createMidiNameProvider("Pellucer", nullptr), E_POINTER);
    MidiNameProvider* none = reinterpret_cast<MidiNameProvider*>(1);
    EXPECT_EQ(createMidiNameProvider(nullptr, &none), E_POINTER);
    EXPECT_EQ(none, nullptr);
}

TEST(MidiNames, QueryInterfaceAnswersOnlyTheNameInterfaces) {
    Provider provider;
    void* object = nullptr;
    ASSERT_EQ(provider->QueryInterface(kIidMidiNameProvider, &object), S_OK);
    EXPECT_EQ(object, static_cast<IMidiNameProvider*>(provider.p));
    static_cast<IUnknown*>(object)->Release();
    ASSERT_EQ(provider->QueryInterface(IID_IUnknown, &object), S_OK);
    EXPECT_EQ(object, static_cast<IUnknown*>(provider.p));
    static_cast<IUnknown*>(object)->Release();
    object = &object;
    EXPECT_EQ(provider->QueryInterface(kIidMidiNameList, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(provider->QueryInterface(IID_IClassFactory, &object), E_NOINTERFACE);

    List list;
    ASSERT_EQ(provider->GetControllerNames(list.out()), S_OK);
    for (const GUID* iid : {&kIidMidiNameList, &kIidMidiNameListAlias, &IID_IUnknown}) {
        object = nullptr;
        ASSERT_EQ(list->QueryInterface(*iid, &object), S_OK);
        EXPECT_EQ(object, list.p);
        static_cast<IUnknown*>(object)->Release();
    }
    object = &object;
    EXPECT_EQ(list->QueryInterface(kIidMidiNameProvider, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(list->QueryInterface(kIidMidiNameList, nullptr), E_POINTER);
}

TEST(MidiNames, ObjectsLiveUntilTheirLastReferenceAndCountAsActive) {
    const LONG before = activeObjectCount();
    MidiNameProvider* provider = nullptr;
    ASSERT_EQ(createMidiNameProvider("Pellucer", &provider), S_OK);
    EXPECT_EQ(activeObjectCount(), before + 1);

    IMidiNameList* controllers = nullptr;
    IMidiNameList* notes = nullptr;
    IMidiNameList* rpns = nullptr;
    ASSERT_EQ(provider->GetControllerNames(&controllers), S_OK);
    ASSERT_EQ(provider->GetNoteNames(2, 3, &notes), S_FALSE);
    ASSERT_EQ(provider->GetRpnNames(&rpns), S_OK);
    EXPECT_EQ(activeObjectCount(), before + 4);
    rpns->Release();
    EXPECT_EQ(activeObjectCount(), before + 4) << "the provider still holds the RPN list";

    // A list the host still holds outlives the provider.
    EXPECT_EQ(provider->AddRef(), 2u);
    EXPECT_EQ(provider->Release(), 1u);
    EXPECT_EQ(provider->Release(), 0u);
    EXPECT_EQ(activeObjectCount(), before + 2);
    EXPECT_EQ(nameAt(controllers, 64), "Sustain Switch");
    EXPECT_EQ(titleOf(notes), "Pellucer Notes");
    EXPECT_EQ(controllers->Release(), 0u);
    EXPECT_EQ(notes->Release(), 0u);
    EXPECT_EQ(activeObjectCount(), before);
}

// ---- slot order ---------------------------------------------------------------------------------
// A host calls through the vtable, not through our declarations: these views of the vtables name
// every slot by position, so a reordered declaration fails here.

struct ProviderSlots {
    void* unknown[3];
    HRESULT(STDMETHODCALLTYPE* getName)(void*, char*, LONG);
    HRESULT(STDMETHODCALLTYPE* onPatchSelected)(void*, LONG, LONG);
    HRESULT(STDMETHODCALLTYPE* hasPatchNoteNames)(void*, LONG, LONG);
    HRESULT(STDMETHODCALLTYPE* isPatchValid)(void*, LONG, LONG);
    HRESULT(STDMETHODCALLTYPE* getPatchNames)(void*, LONG, void**);
    HRESULT(STDMETHODCALLTYPE* getNoteNames)(void*, LONG, LONG, void**);
    HRESULT(STDMETHODCALLTYPE* getControllerNames)(void*, void**);
    HRESULT(STDMETHODCALLTYPE* getRpnNames)(void*, void**);
    HRESULT(STDMETHODCALLTYPE* getNrpnNames)(void*, void**);
};

struct ListSlots {
    void* unknown[3];
    HRESULT(STDMETHODCALLTYPE* getTitle)(void*, char*, LONG);
    HRESULT(STDMETHODCALLTYPE* getCount)(void*, LONG*);
    HRESULT(STDMETHODCALLTYPE* getNameAt)(void*, LONG, char*, LONG);
    HRESULT(STDMETHODCALLTYPE* reserved)(void*);
    HRESULT(STDMETHODCALLTYPE* getFirstPosition)(void*, void**);
    HRESULT(STDMETHODCALLTYPE* getNextName)(void*, void*, LONG*, char*, LONG);
    HRESULT(STDMETHODCALLTYPE* findName)(void*, LONG, char*, LONG);
};

template <class Slots> const Slots& slotsOf(void* object) { return **static_cast<Slots**>(object); }

std::string titleThroughSlots(void* list) {
    char buffer[64] = {};
    EXPECT_EQ(slotsOf<ListSlots>(list).getTitle(list, buffer, sizeof buffer), S_OK);
    return buffer;
}

TEST(MidiNames, ProviderSlotsAreInTheHostsOrder) {
    Provider provider;
    void* face = static_cast<IMidiNameProvider*>(provider.p);
    const ProviderSlots& slots = slotsOf<ProviderSlots>(face);

    char name[16] = {};
    EXPECT_EQ(slots.getName(face, name, sizeof name), S_OK);
    EXPECT_STREQ(name, "Pellucer");
    // Out of range: only the first notification accepts it.
    EXPECT_EQ(slots.onPatchSelected(face, 99999, 0), S_OK);
    EXPECT_EQ(slots.hasPatchNoteNames(face, 0, 0), S_FALSE);
    EXPECT_EQ(slots.isPatchValid(face, 0, 0), S_OK);
    void* list = nullptr;
    EXPECT_EQ(slots.getPatchNames(face, 0, &list), E_FAIL);
    ASSERT_EQ(slots.getNoteNames(face, 0, 0, &list), S_FALSE);
    EXPECT_EQ(titleThroughSlots(list), "Pellucer Notes");
    static_cast<IUnknown*>(list)->Release();
    for (const auto& [slot, title] :
         {std::pair{slots.getControllerNames, "Pellucer Controllers"},
          std::pair{slots.getRpnNames, "Pellucer RPNs"}, std::pair{slots.getNrpnNames, "Pellucer NRPNs"}}) {
        ASSERT_EQ(slot(face, &list), S_OK);
        EXPECT_EQ(titleThroughSlots(list), title);
        static_cast<IUnknown*>(list)->Release();
    }
}

TEST(MidiNames, ListSlotsAreInTheHostsOrder) {
    Provider provider;
    List controllers;
    ASSERT_EQ(provider->GetControllerNames(controllers.out()), S_OK);
    void* face = controllers.p;
    const ListSlots& slots = slotsOf<ListSlots>(face);

    EXPECT_EQ(titleThroughSlots(face), "Pellucer Controllers");
    LONG count = 0;
    EXPECT_EQ(slots.getCount(face, &count), S_OK);
    EXPECT_EQ(count, 128);
    char buffer[32] = {};
    EXPECT_EQ(slots.getNameAt(face, 2, buffer, sizeof buffer), S_OK);
    EXPECT_STREQ(buffer, "Breath");
    EXPECT_EQ(slots.getNameAt(face, 200, buffer, sizeof buffer), E_INVALIDARG);
    EXPECT_EQ(slots.reserved(face), E_NOTIMPL);
    void* position = nullptr;
    ASSERT_EQ(slots.getFirstPosition(face, &position), S_OK);
    LONG index = 0;
    ASSERT_EQ(slots.getNextName(face, position, &index, buffer, sizeof buffer), S_OK);
    EXPECT_EQ(index, 1);
    EXPECT_STREQ(buffer, "Modulation Wheel");
    EXPECT_EQ(slots.findName(face, 200, buffer, sizeof buffer), S_FALSE);
    EXPECT_EQ(slots.findName(face, 11, buffer, sizeof buffer), S_OK);
    EXPECT_STREQ(buffer, "Expression");
}

} // namespace
} // namespace pellucer::dx
