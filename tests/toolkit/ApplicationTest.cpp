#include "Application.h"
#include "Barrier.h"
#include "TestSupport.h"
#include "Thread.h"
#include "UtilWindow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// Posts to the GUI thread after `ms`, so that a loop that missed its wake-up still ends and
// the test can tell how long it took.
class TWatchdog {
public:
    explicit TWatchdog(DWORD ms)
        : thread_([this, ms] {
              if (WaitForSingleObject(stop_, ms) == WAIT_TIMEOUT) PostThreadMessageA(MainThreadID, WM_NULL, 0, 0);
          })
    {
    }
    ~TWatchdog()
    {
        SetEvent(stop_);
        thread_.join();
        CloseHandle(stop_);
    }

private:
    HANDLE stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread thread_;
};

// A loop that handles one message at a time until a flag is set sees a flag that another
// thread's call onto the GUI thread sets while the loop sleeps, however the call comes.
TEST(Application, HandleMessageReturnsOnceACallFromAnotherThreadHasRun)
{
    std::atomic<bool> flag{false};
    TUtilWindow window([&](UINT message, WPARAM, LPARAM, LRESULT& result) {
        if (message != WM_USER + 4) return false;
        flag = true;
        result = 0;
        return true;
    });
    const struct {
        const char* how;
        std::function<void()> call;
    } cases[] = {
        {"synchronised", [&] { TThread::Synchronize([&] { flag = true; }); }},
        {"sent to a window", [&] { SendMessageA(window.Handle(), WM_USER + 4, 0, 0); }},
        {"sent with a time-out", [&] {
             DWORD_PTR r = 0;
             SendMessageTimeoutA(window.Handle(), WM_USER + 4, 0, 0, SMTO_BLOCK, 3000, &r);
         }},
    };
    for (const auto& c : cases) {
        for (DWORD delay : {0u, 300u}) {
            flag = false;
            PumpPending();
            TWatchdog watchdog(3000);
            const DWORD start = GetTickCount();
            std::thread caller([&] {
                Sleep(delay);  // the caller's own timing: the GUI thread is asleep by then
                c.call();
            });
            while (!flag) Application->HandleMessage();
            const DWORD took = GetTickCount() - start;
            caller.join();
            EXPECT_LT(took, delay + 1000) << c.how << " after " << delay << " ms";
        }
    }
}

TEST(Application, EveryMessageBoxGoesThroughTheSink)
{
    TRecordingSink sink;
    sink.Answers = {IDNO};
    EXPECT_EQ(Application->MessageBox("Overwrite?", "Tavrin", MB_YESNO | MB_ICONQUESTION), IDNO);
    EXPECT_EQ(Application->MessageBox("Next", "T", MB_OK), IDOK);
    ASSERT_EQ(sink.Requests.size(), 2u);
    EXPECT_EQ(sink.Requests[0].Text, "Overwrite?");
    EXPECT_EQ(sink.Requests[0].Caption, "Tavrin");
    EXPECT_EQ(sink.Requests[0].Flags, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
}

TEST(Application, ShowExceptionGivesASentenceItsFullStop)
{
    TRecordingSink sink;
    Application->Title = "Tavrin";
    const struct {
        const char* message;
        const char* shown;
    } cases[] = {
        {"Error Opening USBPort:  Device Not Found", "Error Opening USBPort:  Device Not Found."},
        {"Done.", "Done."},
        {"Stop!", "Stop!"},  // characters up to '.' end a sentence
        {"Why?", "Why?."},   // characters beyond '.' do not
        {"", ""},
    };
    for (const auto& c : cases) Application->ShowException(Exception(c.message));
    ASSERT_EQ(sink.Requests.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(sink.Requests[i].Text, cases[i].shown);
        EXPECT_EQ(sink.Requests[i].Caption, "Tavrin");
        EXPECT_EQ(sink.Requests[i].Flags, static_cast<UINT>(MB_OK | MB_ICONSTOP));
    }
}

TEST(Application, HandleExceptionPrefersOnException)
{
    TRecordingSink sink;
    std::string heard;
    Application->OnException = [&](TObject*, const std::exception& e) { heard = e.what(); };
    try {
        throw EConvertError("bad");
    } catch (...) {
        Application->HandleException(nullptr);
    }
    Application->OnException = nullptr;
    EXPECT_EQ(heard, "bad");
    EXPECT_TRUE(sink.Requests.empty());

    try {
        throw 42;
    } catch (...) {
        Application->HandleException(nullptr);
    }
    ASSERT_EQ(sink.Requests.size(), 1u);
    EXPECT_EQ(sink.Requests[0].Text, "Unknown exception.");
}

TEST(Application, AnExceptionInAWindowProcedureIsReportedAndTheProgramGoesOn)
{
    TRecordingSink sink;
    TUtilWindow window([](UINT message, WPARAM, LPARAM, LRESULT& result) {
        if (message != WM_USER + 1) return false;
        result = 1;
        throw Exception("boom");
    });
    EXPECT_EQ(SendMessageA(window.Handle(), WM_USER + 1, 0, 0), 0);  // the barrier's fallback
    ASSERT_EQ(sink.Requests.size(), 1u);
    EXPECT_EQ(sink.Requests[0].Text, "boom.");
    EXPECT_EQ(Guarded<int>(-1, [] () -> int { throw std::runtime_error("x"); }), -1);
}

TEST(Application, ProcessMessagesHandlesWhatWaitsAndPutsBackWM_QUIT)
{
    int handled = 0;
    TUtilWindow window([&](UINT message, WPARAM, LPARAM, LRESULT&) {
        if (message != WM_USER + 2) return false;
        ++handled;
        return true;
    });
    PostMessageA(window.Handle(), WM_USER + 2, 0, 0);
    PostMessageA(window.Handle(), WM_USER + 2, 0, 0);
    PostQuitMessage(7);
    Application->ProcessMessages();
    EXPECT_EQ(handled, 2);
    EXPECT_TRUE(Application->Terminated());
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 7u);
}

TEST(Application, OnMessageCanTakeAMessage)
{
    int reached = 0;
    TUtilWindow window([&](UINT message, WPARAM, LPARAM, LRESULT&) {
        if (message != WM_USER + 3) return false;
        ++reached;
        return true;
    });
    int seen = 0;
    Application->OnMessage = [&](MSG& msg, bool& handled) {
        if (msg.message == WM_USER + 3 && msg.wParam == 1) {
            ++seen;
            handled = true;
        }
    };
    PostMessageA(window.Handle(), WM_USER + 3, 1, 0);
    PostMessageA(window.Handle(), WM_USER + 3, 2, 0);
    Application->HandleMessage();
    Application->HandleMessage();
    Application->OnMessage = nullptr;
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(reached, 1);
}

}  // namespace
