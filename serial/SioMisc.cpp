#include "SioMisc.h"

#include <mmsystem.h>

namespace {

DWORD CountsPerMs()
{
    static const DWORD counts = [] {
        LARGE_INTEGER frequency;
        if (!QueryPerformanceFrequency(&frequency) || frequency.HighPart != 0 || frequency.LowPart == 0) return 0ul;
        return frequency.LowPart / 1000 + (frequency.LowPart % 1000 > 500 ? 1 : 0);
    }();
    return counts;
}

DWORD SystemClock()
{
    if (const DWORD counts = CountsPerMs()) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<DWORD>(static_cast<uint64_t>(now.QuadPart) / counts);
    }
    return timeGetTime();
}

TSioClockSource clockSource = SystemClock;

}  // namespace

DWORD SioClock()
{
    return clockSource();
}

TSioClockSource SioSetClock(TSioClockSource clock)
{
    const TSioClockSource previous = clockSource;
    clockSource = clock ? clock : SystemClock;
    return previous;
}

void SioStartTimer(TSioTickTimer& timer, int32_t ticks)
{
    if (ticks > SioMaxTicks) ticks = SioMaxTicks;
    if (ticks < 0) ticks = 0;
    timer.StartMs = SioClock();
    timer.StartTick = static_cast<int32_t>(timer.StartMs / SioTickMs);
    timer.ExpireTick = timer.StartTick + ticks;
}

bool SioTimerExpired(const TSioTickTimer& timer)
{
    // The elapsed time as an unsigned difference holds across the 32-bit clock's wrap,
    // where the ticks themselves jump back to 0.
    const DWORD elapsed = SioClock() - timer.StartMs;
    const DWORD duration = static_cast<DWORD>(timer.ExpireTick - timer.StartTick) * SioTickMs;
    return elapsed > duration;
}

void SioPumpOrWait(unsigned ms)
{
    MSG msg;
    // WM_QUIT comes out only when nothing else waits.
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE) && msg.message != WM_QUIT) {
        SioPumpMessage();
        return;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms, QS_ALLINPUT);
}

bool SioPumpMessage()
{
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
    if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
    } else {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return true;
}
