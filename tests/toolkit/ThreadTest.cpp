#include "TestSupport.h"
#include "Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace {

// A thread whose body the test gives.
class TLambdaThread : public TThread {
public:
    explicit TLambdaThread(std::function<void(TLambdaThread&)> body) : body_(std::move(body)) {}
    using TThread::Synchronize;
    bool* freed = nullptr;
    ~TLambdaThread() override
    {
        if (!freed) return;
        *freed = true;
        PostThreadMessageA(MainThreadID, WM_NULL, 0, 0);  // wakes a GUI thread waiting for this
    }

protected:
    void Execute() override { body_(*this); }

private:
    std::function<void(TLambdaThread&)> body_;
};

TEST(Thread, SynchronizeRunsOnTheGuiThreadWhileItWaitsForTheThread)
{
    std::vector<DWORD> ranOn;
    TLambdaThread thread([&](TLambdaThread&) {
        for (int i = 0; i < 3; ++i) TThread::Synchronize([&] { ranOn.push_back(GetCurrentThreadId()); });
    });
    EXPECT_TRUE(thread.Suspended());
    thread.Resume();
    thread.WaitFor();  // serves the three calls, or never returns
    ASSERT_EQ(ranOn.size(), 3u);
    for (DWORD id : ranOn) EXPECT_EQ(id, MainThreadID);
}

TEST(Thread, SynchronizeOnTheGuiThreadCallsAtOnce)
{
    bool called = false;
    TThread::Synchronize([&] { called = true; });
    EXPECT_TRUE(called);
}

TEST(Thread, AnExceptionInASynchronizedCallIsRaisedInTheThread)
{
    std::string caught;
    TLambdaThread thread([&](TLambdaThread&) {
        try {
            TThread::Synchronize([] { throw Exception("from the GUI thread"); });
        } catch (const Exception& e) {
            caught = e.Message;
        }
    });
    thread.Resume();
    thread.WaitFor();
    EXPECT_EQ(caught, "from the GUI thread");
    EXPECT_FALSE(thread.FatalException());
}

TEST(Thread, WhatExecuteRaisesIsKept)
{
    TLambdaThread thread([](TLambdaThread&) { throw EInOutError("disk", 5); });
    thread.Resume();
    thread.WaitFor();
    ASSERT_TRUE(thread.FatalException());
    try {
        std::rethrow_exception(thread.FatalException());
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode, 5);
    }
}

TEST(Thread, FreeingAThreadStuckInSynchronizeDoesNotDeadlock)
{
    HANDLE aboutToSync = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> calls{0};
    auto* thread = new TLambdaThread([&](TLambdaThread& self) {
        while (!self.Terminated()) {
            SetEvent(aboutToSync);
            TThread::Synchronize([&] { ++calls; });
        }
    });
    thread->Resume();
    // Wait without serving messages, so the thread is held inside its call when we free it.
    ASSERT_EQ(WaitForSingleObject(aboutToSync, 5000), WAIT_OBJECT_0);
    bool freed = false;
    thread->freed = &freed;
    delete thread;
    EXPECT_TRUE(freed);
    EXPECT_GE(calls.load(), 1);
    CloseHandle(aboutToSync);
}

TEST(Thread, ANeverStartedThreadIsFreedWithoutRunningItsBody)
{
    bool ran = false;
    auto* thread = new TLambdaThread([&](TLambdaThread&) { ran = true; });
    delete thread;
    EXPECT_FALSE(ran);
}

TEST(Thread, OnTerminateRunsOnTheGuiThreadAndFreeOnTerminateFreesIt)
{
    bool freed = false;
    DWORD terminatedOn = 0;
    auto* thread = new TLambdaThread([](TLambdaThread&) {});
    thread->freed = &freed;
    thread->FreeOnTerminate = true;
    thread->OnTerminate = [&](TObject*) { terminatedOn = GetCurrentThreadId(); };
    thread->Resume();
    EXPECT_TRUE(PumpUntil([&] { return freed; }));
    EXPECT_EQ(terminatedOn, MainThreadID);
}

TEST(Thread, PriorityReadsBackAsSet)
{
    TLambdaThread thread([](TLambdaThread& self) {
        while (!self.Terminated()) Sleep(0);
    });
    EXPECT_EQ(thread.Priority(), tpNormal);
    for (TThreadPriority p : {tpLower, tpHigher, tpIdle, tpNormal}) {
        thread.SetPriority(p);
        EXPECT_EQ(thread.Priority(), p);
    }
    thread.Resume();
    thread.Terminate();
    thread.WaitFor();
    EXPECT_TRUE(thread.Finished());
}

TEST(Thread, WaitServingSentMessagesTimesOut)
{
    HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(WaitServingSentMessages(never, 20), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(never);
}

}  // namespace
