#include "dx/filter/FilterSetup.h"

#include <uuids.h>

#include "dx/server/Identifiers.h"
#include "dx/server/Registration.h"

namespace pellucer::dx {

namespace {

// DirectShow's MERIT_DO_NOT_USE: the filter is listed but never inserted by intelligent connect;
// hosts add it to their graphs themselves.
constexpr DWORD kEffectFilterMerit = 0x200000;

// The setup record names its pins through non-const pointers.
WCHAR kInputPinName[] = L"Input";
WCHAR kOutputPinName[] = L"Output";

// Any audio: the pins settle the exact format when they connect.
const REGPINTYPES kAudioType = {&MEDIATYPE_Audio, &MEDIASUBTYPE_NULL};

const REGFILTERPINS kEffectFilterPins[] = {
    // name, rendered, output, zero, many, connects to filter, connects to pin, types
    {kInputPinName, FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, L"Output", 1, &kAudioType},
    {kOutputPinName, FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, L"Input", 1, &kAudioType},
};

} // namespace

const FilterSetup kEffectFilterSetup = {
    &kClsidEffectFilter, L"Pellucer", kEffectFilterMerit, 2, kEffectFilterPins,
};

HRESULT registerFilterSetup(const FilterSetup& setup, bool registering) {
    FilterMapper mapper;
    const HRESULT result = mapper.create();
    if (FAILED(result))
        return result;
    return mapper.registerFilter(setup, registering);
}

} // namespace pellucer::dx
