#pragma once

// The two module-wide counts that decide whether the DLL may be unloaded (DllCanUnloadNow):
// every COM object the module hands out (class factory, filter, pins, enumerators, property
// page) is counted as active from its constructor to its destructor, and IClassFactory::LockServer
// holds the server lock count above 0.

#include <windows.h>

namespace pellucer::dx {

/// Live COM objects of this module; changed with interlocked operations from any thread.
LONG activeObjectCount();
/// IClassFactory::LockServer(TRUE) calls not yet matched by LockServer(FALSE).
LONG serverLockCount();

void lockServer(bool lock);

/// A member (or base) of every COM object the module hands out: counts it as active for its
/// whole life.
class ActiveObject {
public:
    ActiveObject() noexcept;
    ActiveObject(const ActiveObject&) noexcept;
    ActiveObject& operator=(const ActiveObject&) noexcept { return *this; }
    ~ActiveObject();
};

} // namespace pellucer::dx
