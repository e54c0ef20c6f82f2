// Holds a critical section for the life of a scope, so every way out leaves it.
#pragma once

#include <windows.h>

namespace qv {

class critical_section_lock {
public:
    explicit critical_section_lock(CRITICAL_SECTION& cs) noexcept : cs_(cs) { EnterCriticalSection(&cs_); }
    ~critical_section_lock() { LeaveCriticalSection(&cs_); }
    critical_section_lock(const critical_section_lock&) = delete;
    critical_section_lock& operator=(const critical_section_lock&) = delete;

private:
    CRITICAL_SECTION& cs_;
};

}  // namespace qv
