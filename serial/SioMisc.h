// The serial library's millisecond clock, its 55 ms tick timers and a one-message pump.
#pragma once

#include <windows.h>

#include <cstdint>

// Milliseconds from the performance counter when it has a usable rate, else timeGetTime;
// 32 bits, so it wraps after about 49.7 days.
DWORD SioClock();
// Replaces the clock (tests); nullptr restores the real one. Returns the one before.
using TSioClockSource = DWORD (*)();
TSioClockSource SioSetClock(TSioClockSource clock);

const int32_t SioTickMs = 55;
const int32_t SioMaxTicks = 39045157;  // the signed 32-bit millisecond range in ticks

struct TSioTickTimer {
    int32_t StartTick;
    int32_t ExpireTick;
    DWORD StartMs;  // the clock at the start: the elapsed time is measured from it
};

// Starts a timer of `ticks` ticks (at most SioMaxTicks).
void SioStartTimer(TSioTickTimer& timer, int32_t ticks);
// True once more than the timer's ticks have passed, also across the clock's wrap.
bool SioTimerExpired(const TSioTickTimer& timer);

// Handles one window message if one waits; a WM_QUIT is posted again for the main loop.
bool SioPumpMessage();
// For a loop that waits for something to end: handles one message, or waits up to `ms` for
// one when none waits. A WM_QUIT left for the main loop counts as none, so such a loop
// sleeps rather than taking it again and again.
void SioPumpOrWait(unsigned ms = 1);

// Holds a critical section for its lifetime.
class TSioLock {
public:
    explicit TSioLock(CRITICAL_SECTION& section) : section_(section) { EnterCriticalSection(&section_); }
    ~TSioLock() { LeaveCriticalSection(&section_); }
    TSioLock(const TSioLock&) = delete;
    TSioLock& operator=(const TSioLock&) = delete;

private:
    CRITICAL_SECTION& section_;
};
