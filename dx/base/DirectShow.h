#pragma once

// The system's DirectShow headers as the DirectX shell uses them: COM, the filter and pin
// interfaces, media types, the control interfaces (seeking, position), event codes and the
// DirectShow result codes.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef STRSAFE_NO_DEPRECATE
#define STRSAFE_NO_DEPRECATE
#endif
#include <windows.h>

#include <mmreg.h>
#include <objbase.h>
#include <ocidl.h>
#include <strmif.h>
// After strmif.h, which they need.
#include <control.h>
#include <evcode.h>
#include <uuids.h>
#include <vfwmsgs.h>
