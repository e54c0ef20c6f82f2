#include "TestSupport.h"
#include "Timer.h"

#include <gtest/gtest.h>

namespace {

TEST(Timer, TicksWhileEnabledAndStopsWhenDisabled)
{
    TComponent owner(nullptr);
    auto* timer = new TTimer(&owner);
    EXPECT_TRUE(timer->Enabled());
    EXPECT_EQ(timer->Interval(), 1000u);
    int ticks = 0;
    timer->OnTimer = [&](TObject* sender) {
        EXPECT_EQ(sender, timer);
        ++ticks;
    };
    timer->SetInterval(10);
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }));
    timer->SetEnabled(false);
    const int stoppedAt = ticks;

    // Another timer measures the time in which the first one must stay quiet.
    TTimer clock(&owner);
    int clockTicks = 0;
    clock.OnTimer = [&](TObject*) { ++clockTicks; };
    clock.SetInterval(30);
    EXPECT_TRUE(PumpUntil([&] { return clockTicks >= 3; }));
    EXPECT_EQ(ticks, stoppedAt);
}

TEST(Timer, AnExceptionInOnTimerIsReported)
{
    TRecordingSink sink;
    TTimer timer(nullptr);
    timer.SetInterval(10);
    timer.OnTimer = [&](TObject*) {
        timer.SetEnabled(false);
        throw Exception("VR7 not responding");
    };
    EXPECT_TRUE(PumpUntil([&] { return !sink.Requests.empty(); }));
    EXPECT_EQ(sink.Requests[0].Text, "VR7 not responding.");
}

}  // namespace
