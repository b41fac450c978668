#include "dx/midi/MidiNameList.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace pellucer::dx {

namespace {

/// Copies `text` truncated to size - 1 characters, then a terminating zero (size >= 1).
void copyTruncated(const std::string& text, char* buffer, LONG size) {
    const size_t length = std::min(text.size(), static_cast<size_t>(size) - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}

/// A buffer a name can be written into: at least the terminating zero fits.
bool writable(const char* buffer, LONG size) { return buffer != nullptr && size >= 1; }

} // namespace

MidiNameList* MidiNameList::create(const std::string& title, LONG capacity) noexcept {
    try {
        return new MidiNameList(title, capacity);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

MidiNameList::MidiNameList(const std::string& title, LONG capacity)
    : title_(title), capacity_(capacity), iterator_(entries_.end()) {}

HRESULT STDMETHODCALLTYPE MidiNameList::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, kIidMidiNameList) ||
        IsEqualIID(iid, kIidMidiNameListAlias)) {
        *object = static_cast<IMidiNameList*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE MidiNameList::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG STDMETHODCALLTYPE MidiNameList::Release() {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE MidiNameList::GetTitle(char* buffer, LONG size) {
    if (buffer == nullptr)
        return E_POINTER;
    if (size < 1)
        return S_OK;
    copyTruncated(title_, buffer, size);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MidiNameList::GetCount(LONG* count) {
    if (count == nullptr)
        return E_POINTER;
    *count = capacity_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MidiNameList::GetNameAt(LONG index, char* buffer, LONG size) {
    if (!writable(buffer, size))
        return E_POINTER;
    if (index < 0 || index >= capacity_)
        return E_INVALIDARG;
    const auto entry = entries_.find(index);
    if (entry == entries_.end())
        buffer[0] = '\0';
    else
        copyTruncated(entry->second, buffer, size);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MidiNameList::Reserved() { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE MidiNameList::GetFirstPosition(void** position) {
    if (position == nullptr)
        return E_POINTER;
    iterator_ = entries_.begin();
    *position = &iterator_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MidiNameList::GetNextName(void* position, LONG* index, char* buffer, LONG size) {
    if (position == nullptr || index == nullptr || !writable(buffer, size))
        return E_POINTER;
    // The one position a list hands out is its own iterator.
    if (position != &iterator_)
        return E_INVALIDARG;
    if (iterator_ == entries_.end())
        return S_FALSE;
    *index = iterator_->first;
    copyTruncated(iterator_->second, buffer, size);
    ++iterator_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MidiNameList::FindName(LONG index, char* buffer, LONG size) {
    if (!writable(buffer, size))
        return E_POINTER;
    const auto entry = entries_.find(index);
    if (entry == entries_.end()) {
        buffer[0] = '\0';
        return S_FALSE;
    }
    copyTruncated(entry->second, buffer, size);
    return S_OK;
}

void MidiNameList::setName(int32_t index, const std::string& name) { entries_[index] = name; }

} // namespace pellucer::dx
