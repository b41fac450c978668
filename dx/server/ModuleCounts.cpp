#include "dx/server/ModuleCounts.h"

namespace pellucer::dx {

namespace {
volatile LONG gActiveObjects = 0;
// Plain integer: LockServer calls come from the host's thread that holds the factory.
LONG gServerLocks = 0;
} // namespace

LONG activeObjectCount() { return InterlockedCompareExchange(&gActiveObjects, 0, 0); }
LONG serverLockCount() { return gServerLocks; }

void lockServer(bool lock) {
    if (lock)
        ++gServerLocks;
    else
        --gServerLocks;
}

ActiveObject::ActiveObject() noexcept { InterlockedIncrement(&gActiveObjects); }
ActiveObject::ActiveObject(const ActiveObject&) noexcept { InterlockedIncrement(&gActiveObjects); }
ActiveObject::~ActiveObject() { InterlockedDecrement(&gActiveObjects); }

} // namespace pellucer::dx
