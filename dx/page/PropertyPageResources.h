#pragma once

// Resource identifiers of the property page (dx/PropertyPage.rc).

#define PELLUCER_IDD_PROPERTY_PAGE 100
#define PELLUCER_IDS_PAGE_CAPTION 1
