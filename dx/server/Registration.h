#pragma once

// Self-registration of the module's classes: the COM class keys under HKEY_CLASSES_ROOT\CLSID,
// the filter's entry in DirectShow's filter mapper, and the "TessalyPlugIns\{CLSID}" key through
// which DirectX hosts list the effect. DllRegisterServer and DllUnregisterServer run these steps.

#include <windows.h>

#include <strmif.h>

#include "dx/filter/FilterSetup.h"

namespace pellucer::dx {

/// The COM class keys and the filter mapper, for every class of the module in table order.
/// Registering writes "CLSID\{..}" (display name), its "InprocServer32" (module path,
/// ThreadingModel "Both") and the filter's mapper entry; unregistering removes the mapper entry
/// and then the class keys with all their sub-keys. A registry write failure answers
/// HRESULT_FROM_WIN32 of the error; a filter already absent from the mapper is no failure.
HRESULT registerServer(bool registering);

/// Writes "TessalyPlugIns\{CLSID}" with "Description" (the display name, ANSI), "HelpFilePath"
/// and "HelpFileTopic" (both empty) for every filter class. A failure ends the work early and
/// is not reported: hosts that do not find the key still have the filter.
void writePlugInKeys();

/// Lets every class that supports IAMovieSetup unregister itself (failures ignored) and removes
/// its "TessalyPlugIns\{CLSID}" key with all sub-keys; a missing key is no error.
void removeSetupAndPlugInKeys();

/// Deletes `name` under `parent` with all its sub-keys, deepest first. Answers the Win32 error
/// of the last step (ERROR_FILE_NOT_FOUND when the key is not there).
LONG deleteKeyTree(HKEY parent, const WCHAR* name);

/// The system's filter mapper: IFilterMapper2 when the system has it, the older IFilterMapper
/// otherwise. The caller has initialised COM on this thread.
class FilterMapper {
public:
    FilterMapper() = default;
    ~FilterMapper();
    FilterMapper(const FilterMapper&) = delete;
    FilterMapper& operator=(const FilterMapper&) = delete;

    /// Creates the mapper; answers the failure of the older one when neither can be made.
    HRESULT create();
    /// Removes the filter of `setup` from the mapper and, when `registering`, enters it again
    /// with its name, merit, pins and media types. A filter already absent counts as success.
    HRESULT registerFilter(const FilterSetup& setup, bool registering) const;

private:
    IFilterMapper2* mapper2_ = nullptr;
    IFilterMapper* mapper_ = nullptr;
};

} // namespace pellucer::dx
