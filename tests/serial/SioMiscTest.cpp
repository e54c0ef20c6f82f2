#include "SioMisc.h"

#include <gtest/gtest.h>

namespace {

DWORD fakeNow = 0;
DWORD FakeClock()
{
    return fakeNow;
}

class TickTimer : public testing::Test {
protected:
    void SetUp() override { previous_ = SioSetClock(FakeClock); }
    void TearDown() override { SioSetClock(previous_); }
    TSioClockSource previous_ = nullptr;
};

TEST_F(TickTimer, ExpiresOnceItsTicksHavePassed)
{
    const struct {
        const char* name;
        DWORD start;
        int32_t ticks;
    } cases[] = {
        {"from zero", 0, 10},
        {"mid-range", 1000000, 3},
        {"just before the clock wraps", 0xFFFFFF00u, 10},
        {"across the wrap by much", 0xF0000000u, 20000000},
        {"no ticks", 12345, 0},
    };
    for (const auto& c : cases) {
        fakeNow = c.start;
        TSioTickTimer timer;
        SioStartTimer(timer, c.ticks);
        const DWORD duration = static_cast<DWORD>(c.ticks) * SioTickMs;
        fakeNow = c.start + duration;
        EXPECT_FALSE(SioTimerExpired(timer)) << c.name << ": still within its time";
        fakeNow = c.start + duration + 1;
        EXPECT_TRUE(SioTimerExpired(timer)) << c.name << ": past its time";
    }
}

TEST_F(TickTimer, TheTicksAreCapped)
{
    fakeNow = 777;
    TSioTickTimer timer;
    SioStartTimer(timer, 40000000);
    EXPECT_EQ(timer.ExpireTick - timer.StartTick, SioMaxTicks);
    fakeNow = 777 + static_cast<DWORD>(SioMaxTicks) * SioTickMs;
    EXPECT_FALSE(SioTimerExpired(timer));
    fakeNow += 1;
    EXPECT_TRUE(SioTimerExpired(timer));
}

TEST(SioPump, HandlesOneMessageAndPutsBackWM_QUIT)
{
    EXPECT_FALSE(SioPumpMessage());
    PostThreadMessageA(GetCurrentThreadId(), WM_USER, 0, 0);
    PostQuitMessage(3);
    EXPECT_TRUE(SioPumpMessage());  // WM_USER
    EXPECT_TRUE(SioPumpMessage());  // WM_QUIT, posted again
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 3u);
}

TEST(SioPump, AWaitingLoopHandlesMessagesButLeavesAPendingQuit)
{
    PostThreadMessageA(GetCurrentThreadId(), WM_USER, 0, 0);
    PostQuitMessage(4);
    SioPumpOrWait();  // takes WM_USER
    for (int i = 0; i < 3; ++i) SioPumpOrWait();
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 4u);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

}  // namespace
