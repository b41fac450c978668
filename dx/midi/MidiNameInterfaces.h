#pragma once

// The sequencer host's MIDI name interfaces, declared here with their fixed identifiers: the host
// asks the filter for a name provider and the provider hands out name lists (controllers, RPNs,
// NRPNs, patches, notes) that the host shows in its MIDI views.
//
// The host calls these through their vtables, so the order of the methods below is the binary
// interface and must never change. Texts are 8-bit; sizes count bytes including the terminating
// zero.

#include <windows.h>

#include <unknwn.h>

namespace pellucer::dx {

/// The name-provider interface.
inline constexpr GUID kIidMidiNameProvider = {
    0x43b8dfd0, 0x7f7d, 0x4733, {0xaf, 0xec, 0x75, 0xf6, 0x59, 0x25, 0x15, 0xaa}};
/// The name-list interface, and a second identifier under which hosts ask for the same interface.
inline constexpr GUID kIidMidiNameList = {
    0x3a02d62b, 0xf1ed, 0x467a, {0x8e, 0x4f, 0xf2, 0xbb, 0x8c, 0xa2, 0x22, 0x91}};
inline constexpr GUID kIidMidiNameListAlias = {
    0xacccbcc2, 0x527e, 0x40c8, {0x8f, 0xce, 0x29, 0x9e, 0xc8, 0xd8, 0x4b, 0x1c}};

/// A list of names by MIDI number (controller, parameter number, patch or note).
struct IMidiNameList : IUnknown {
    /// The list's title, truncated to size - 1 characters; nothing written when size < 1.
    virtual HRESULT STDMETHODCALLTYPE GetTitle(char* buffer, LONG size) = 0;
    /// How many numbers the list covers (valid indices are 0 .. count - 1).
    virtual HRESULT STDMETHODCALLTYPE GetCount(LONG* count) = 0;
    /// The name of `index`, empty when the number has none; E_INVALIDARG outside the count.
    virtual HRESULT STDMETHODCALLTYPE GetNameAt(LONG index, char* buffer, LONG size) = 0;
    /// Reserved by the host; answers E_NOTIMPL.
    virtual HRESULT STDMETHODCALLTYPE Reserved() = 0;
    /// Starts an enumeration of the named numbers: `position` receives the list's iterator.
    virtual HRESULT STDMETHODCALLTYPE GetFirstPosition(void** position) = 0;
    /// The next named number and its name, advancing the iterator; S_FALSE at the end.
    virtual HRESULT STDMETHODCALLTYPE GetNextName(void* position, LONG* index, char* buffer, LONG size) = 0;
    /// The name of `index` without a range check; S_FALSE (and an empty text) when it has none.
    virtual HRESULT STDMETHODCALLTYPE FindName(LONG index, char* buffer, LONG size) = 0;
};

/// The filter's source of name lists. Banks are -1 (none) .. 16383, patches -1 (none) .. 127.
struct IMidiNameProvider : IUnknown {
    /// The instrument's name; E_POINTER when the buffer cannot take all of it.
    virtual HRESULT STDMETHODCALLTYPE GetName(char* buffer, LONG size) = 0;
    /// The host selected a bank and patch on the track. Nothing to do: S_OK.
    virtual HRESULT STDMETHODCALLTYPE OnPatchSelected(LONG bank, LONG patch) = 0;
    /// Whether the patch has note names of its own: S_FALSE (none), after checking the ranges.
    virtual HRESULT STDMETHODCALLTYPE HasPatchNoteNames(LONG bank, LONG patch) = 0;
    /// Whether the bank and patch are valid for the instrument: S_OK, after checking the ranges.
    virtual HRESULT STDMETHODCALLTYPE IsPatchValid(LONG bank, LONG patch) = 0;
    /// The patch names of a bank (0..7).
    virtual HRESULT STDMETHODCALLTYPE GetPatchNames(LONG bank, IMidiNameList** list) = 0;
    /// The note names of a bank and patch.
    virtual HRESULT STDMETHODCALLTYPE GetNoteNames(LONG bank, LONG patch, IMidiNameList** list) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetControllerNames(IMidiNameList** list) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRpnNames(IMidiNameList** list) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNrpnNames(IMidiNameList** list) = 0;
};

} // namespace pellucer::dx
