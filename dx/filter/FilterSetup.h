#pragma once

// The filter's DirectShow setup record: what registration tells the filter mapper about the
// filter (name, merit, pins and their media types). The layout is DirectShow's published
// setup-record layout; REGFILTERPINS and REGPINTYPES come from the system headers.

#include <windows.h>

#include <strmif.h>

namespace pellucer::dx {

struct FilterSetup {
    const CLSID* clsid;
    const WCHAR* name;
    DWORD merit;
    UINT pinCount;
    const REGFILTERPINS* pins;
};

/// The effect filter's record: "Pellucer", merit 0x200000, pins "Input" and "Output" (audio).
extern const FilterSetup kEffectFilterSetup;

/// Registers (or only unregisters, when `registering` is false) one filter with the system's
/// filter mapper: IFilterMapper2 first, the older IFilterMapper when that is missing. A filter
/// that is already absent counts as success. The caller has initialised COM.
HRESULT registerFilterSetup(const FilterSetup& setup, bool registering);

} // namespace pellucer::dx
