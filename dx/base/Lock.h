#pragma once

// The locks of the DirectX shell: a critical section that cannot be copied, and a scope guard.

#include "dx/base/DirectShow.h"

namespace pellucer::dx {

/// A Win32 critical section, initialised and deleted with its owner. Recursive, as Win32's are:
/// the thread that holds it may enter it again.
class CriticalSection {
public:
    CriticalSection() { InitializeCriticalSection(&section_); }
    ~CriticalSection() { DeleteCriticalSection(&section_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void enter() { EnterCriticalSection(&section_); }
    void leave() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

/// Holds a critical section for the lifetime of the guard.
class LockGuard {
public:
    explicit LockGuard(CriticalSection& section) : section_(section) { section_.enter(); }
    ~LockGuard() { section_.leave(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    CriticalSection& section_;
};

} // namespace pellucer::dx
