#pragma once

// One MIDI name list handed out by the name provider: a title, a count of valid numbers and the
// names of some of them. Lists are filled by the provider before it hands them out and have no
// lock of their own; the host reads them on whatever thread it likes.

#include <cstdint>
#include <map>
#include <string>

#include "dx/midi/MidiNameInterfaces.h"
#include "dx/server/ModuleCounts.h"

namespace pellucer::dx {

class MidiNameList : public IMidiNameList {
public:
    /// A new list with a reference count of 0: the creator takes the first reference. Null when
    /// memory runs out.
    static MidiNameList* create(const std::string& title, LONG capacity) noexcept;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IMidiNameList
    HRESULT STDMETHODCALLTYPE GetTitle(char* buffer, LONG size) override;
    HRESULT STDMETHODCALLTYPE GetCount(LONG* count) override;
    HRESULT STDMETHODCALLTYPE GetNameAt(LONG index, char* buffer, LONG size) override;
    HRESULT STDMETHODCALLTYPE Reserved() override;
    HRESULT STDMETHODCALLTYPE GetFirstPosition(void** position) override;
    HRESULT STDMETHODCALLTYPE GetNextName(void* position, LONG* index, char* buffer, LONG size) override;
    HRESULT STDMETHODCALLTYPE FindName(LONG index, char* buffer, LONG size) override;

    /// Names `index`, replacing a name it already has. May throw std::bad_alloc.
    void setName(int32_t index, const std::string& name);

protected:
    MidiNameList(const std::string& title, LONG capacity);
    /// Only Release ends a list.
    virtual ~MidiNameList() = default;

private:
    using Entries = std::map<int32_t, std::string>;

    volatile LONG references_ = 0;
    std::string title_;
    Entries entries_;
    LONG capacity_;
    // The enumeration position GetFirstPosition hands out; GetNextName moves it. Map iterators
    // survive insertions, so naming more numbers during an enumeration is harmless.
    Entries::const_iterator iterator_;
    ActiveObject active_;
};

} // namespace pellucer::dx
