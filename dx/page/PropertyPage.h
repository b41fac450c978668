#pragma once

#include <windows.h>

namespace pellucer::dx {

/// The class factory's creation function for the filter's property page ("Pellucer Properties").
IUnknown* createPropertyPage(IUnknown* outer, HRESULT* result);

} // namespace pellucer::dx
