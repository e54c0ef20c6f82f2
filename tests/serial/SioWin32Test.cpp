// The dispatcher's Win32 layer on a pty standing in for a COM port. Each case runs under
// tools/ptyport.py, which makes the port (TAVRIN_TEST_COM), echoes what reaches it and records
// it (TAVRIN_TEST_TRANSCRIPT); the preloaded tools/ptymodem library takes the lines the peer
// drives from PTYMODEM_DIR/ptsN.in and writes the ones the program drives to ptsN.out.
#include "SioWin32.h"
#include "ProcessSupport.h"
#include "PtyLines.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr DWORD kBoundMs = 5000;

// The Win32 dispatcher with its threads in view, and two ways to make its comm waits fail.
class TTestDispatcher : public TSioWin32Dispatcher {
public:
    TTestDispatcher() : TSioWin32Dispatcher(nullptr) {}
    // The held wait writes into this object until the device is closed.
    ~TTestDispatcher() override { CloseDevice(); }

    bool RunThreads = true;
    // Keeps a comm wait of its own pending from the open on: every later wait on the device
    // then fails at once (ERROR_INVALID_PARAMETER).
    bool HoldWait = false;
    bool HoldFailed = false;
    // A mask to use in place of the family's.
    DWORD ForceMask = 0;
    std::atomic<int> Waits{0};

    std::vector<DWORD> OwnThreadIds() const
    {
        std::vector<DWORD> ids;
        for (const TThread* t : {comThread_, dispThread_, outThread_})
            if (t) ids.push_back(t->ThreadID());
        return ids;
    }
    HANDLE ComThread() const { return comThread_ ? comThread_->Handle() : nullptr; }
    // Handles of the three threads that stay valid after the dispatcher lets go of its own.
    std::vector<TKernelHandle> ThreadHandles() const
    {
        std::vector<TKernelHandle> handles;
        for (const TThread* t : {comThread_, dispThread_, outThread_}) {
            HANDLE copy = nullptr;
            if (t && DuplicateHandle(GetCurrentProcess(), t->Handle(), GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE, 0))
                handles.emplace_back(copy);
        }
        return handles;
    }
    HANDLE HeldWaitEnd() const { return holdEvent_.Get(); }

    bool WaitCommEvent(DWORD& mask) override
    {
        ++Waits;
        return TSioWin32Dispatcher::WaitCommEvent(mask);
    }
    void StartThreads() override
    {
        if (RunThreads) TSioWin32Dispatcher::StartThreads();
    }
    int OpenDeviceHandle(const std::string& name) override
    {
        const int r = TSioWin32Dispatcher::OpenDeviceHandle(name);
        if (r < 0) return r;
        if (ForceMask) {
            eventMask_ = ForceMask;
            SetCommMask(DeviceHandle(), ForceMask);
        }
        if (HoldWait) {
            holdEvent_.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
            hold_ = {};
            hold_.hEvent = holdEvent_.Get();
            HoldFailed = ::WaitCommEvent(DeviceHandle(), &holdMask_, &hold_) || GetLastError() != ERROR_IO_PENDING;
        }
        return r;
    }
    int CloseDeviceHandle() override
    {
        const int r = TSioWin32Dispatcher::CloseDeviceHandle();
        if (holdEvent_) {
            WaitForSingleObject(holdEvent_.Get(), kBoundMs);  // closing the device ends the held wait
            holdEvent_.Reset();
        }
        return r;
    }

private:
    TKernelHandle holdEvent_;
    OVERLAPPED hold_ = {};
    DWORD holdMask_ = 0;
};

class Win32Port : public testing::Test {
protected:
    void SetUp() override
    {
        com_ = EnvText("TAVRIN_TEST_COM");
        ASSERT_FALSE(com_.empty()) << "no test port: run through tools/ptyport.py";
        d = std::make_unique<TTestDispatcher>();
    }

    std::string PortName() const { return "\\\\.\\COM" + com_; }

    int Open(TSioBaseDispatcher& port, unsigned flags = SioOpenDTR | SioOpenRTS)
    {
        port.DeviceName = "COM" + com_;
        return port.OpenDevice(PortName(), 115200, NOPARITY, 8, 1, 4096, 4096, flags);
    }

    // Records every trigger as it reaches the GUI thread and takes what a data trigger offers.
    void Listen(TSioBaseDispatcher& port)
    {
        port.AttachMethodHandler(this, [this, &port](UINT message, WPARAM first, LPARAM second) {
            calls.push_back({message, first, second, GetCurrentThreadId()});
            if (message == SioDataMessage) {
                const unsigned n = port.InputCount();
                std::string bytes(n, '\0');
                if (n && port.TakeInput(bytes.data(), n) == static_cast<int>(n)) received += bytes;
            }
            if (onCall) onCall(message);
        }, true);
    }

    // Sends `text`, which ends in CR, and serves the GUI thread until its echo is back.
    testing::AssertionResult RoundTrip(TSioBaseDispatcher& port, const std::string& text)
    {
        received.clear();
        const int queued = port.QueueOutput(text.data(), static_cast<unsigned>(text.size()));
        if (queued != 0) return testing::AssertionFailure() << "QueueOutput gave " << queued;
        if (!PumpUntil([&] { return received.size() >= text.size(); }, kBoundMs))
            return testing::AssertionFailure() << "the echo of " << text << " did not come back, only [" << received
                                               << "]";
        if (received != text) return testing::AssertionFailure() << "came back as [" << received << "]";
        return testing::AssertionSuccess();
    }

    int Calls(UINT message) const
    {
        int n = 0;
        for (const auto& c : calls) n += c.Message == message;
        return n;
    }

    struct TCall {
        UINT Message;
        WPARAM First;
        LPARAM Second;
        DWORD Thread;
    };
    std::string com_;
    std::unique_ptr<TTestDispatcher> d;
    std::vector<TCall> calls;
    std::string received;
    std::function<void(UINT)> onCall;
};

TEST_F(Win32Port, WhatIsQueuedReachesThePeerAndItsEchoComesBackThroughADataTrigger)
{
    ASSERT_EQ(Open(*d), 0);
    EXPECT_TRUE(d->ThreadsRunning());
    EXPECT_EQ(d->EventMask(), SioEventMaskNT) << "Wine reports the NT family";
    EXPECT_EQ(d->LastBaud(), 115200u);
    Listen(*d);
    const int trigger = d->NewDataTrigger("\r", false);
    ASSERT_GT(trigger, 0);

    ASSERT_TRUE(RoundTrip(*d, "TXTHOST1\r"));
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].Message, SioDataMessage);
    EXPECT_EQ(calls[0].First, static_cast<WPARAM>(trigger));
    EXPECT_EQ(calls[0].Second, static_cast<LPARAM>(1 + d->Handle() * 65536)) << "the string's length, the dispatcher";
    EXPECT_EQ(calls[0].Thread, MainThreadID) << "synchronised onto the GUI thread";
    EXPECT_EQ(d->InputCount(), 0u) << "the handler took it all";

    // The peer records before it answers.
    const std::string transcript = EnvText("TAVRIN_TEST_TRANSCRIPT");
    ASSERT_FALSE(transcript.empty());
    EXPECT_EQ(ReadWholeFile(FromUnixPath(transcript)), "TXTHOST1\r");
}

struct TLinesCase {
    const char* name;
    unsigned flags;
    int lines;
};

void PrintTo(const TLinesCase& c, std::ostream* out)
{
    *out << c.name;
}

class Win32PortLines : public Win32Port, public testing::WithParamInterface<TLinesCase> {};

TEST_P(Win32PortLines, DTRAndRTSAsTheOpenAsksShowOnTheLine)
{
    ASSERT_EQ(Open(*d, GetParam().flags), 0);
    EXPECT_EQ(ProgramLines().lines, GetParam().lines);
    EXPECT_EQ(d->DTRState(), (GetParam().lines & kLineDtr) != 0);
    EXPECT_EQ(d->RTSState(), (GetParam().lines & kLineRts) != 0);
}

// One row per test process, so each starts from a pty no open has driven yet.
INSTANTIATE_TEST_SUITE_P(Open, Win32PortLines,
                         testing::Values(TLinesCase{"Both", SioOpenDTR | SioOpenRTS, kLineDtr | kLineRts},
                                         TLinesCase{"DTROnly", SioOpenDTR, kLineDtr},
                                         TLinesCase{"RTSOnly", SioOpenRTS, kLineRts},
                                         TLinesCase{"Neither", 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Win32Port, ACTSDropFiresAModemStatusTrigger)
{
    ASSERT_NO_FATAL_FAILURE(DrivePeerLines(kLineCts | kLineDsr | kLineCd));
    ASSERT_EQ(Open(*d), 0);
    EXPECT_EQ(d->ReadModemStatus(240) & 0xF0, SioCTS | SioDSR | SioDCD);
    Listen(*d);
    const uint16_t ctsOn = (SioCTS << 8) | SioCTS;  // mask CTS, reference "on"
    const int trigger = d->NewStatusTrigger(skModem, ctsOn);
    ASSERT_GT(trigger, 0);
    ASSERT_GT(d->NewDataTrigger("\r", false), 0);
    // The pass that delivers the echo has checked the status trigger with CTS up.
    ASSERT_TRUE(RoundTrip(*d, "PING\r"));
    EXPECT_EQ(Calls(SioStatusMessage), 0) << "fired while CTS was up";

    ASSERT_NO_FATAL_FAILURE(DrivePeerLines(kLineDsr | kLineCd));
    ASSERT_TRUE(PumpUntil([&] { return Calls(SioStatusMessage) > 0; }, kBoundMs));
    for (const auto& c : calls) {
        if (c.Message != SioStatusMessage) continue;
        EXPECT_EQ(c.First, static_cast<WPARAM>(trigger));
        EXPECT_EQ(c.Second & 0xFFFF, ctsOn);
        EXPECT_EQ(c.Thread, MainThreadID);
    }
    EXPECT_EQ(Calls(SioStatusMessage), 1) << "a fired trigger is spent";
    EXPECT_EQ(d->ReadModemStatus(240) & SioCTS, 0);
}

TEST_F(Win32Port, ClosingEndsAllThreeThreads)
{
    const std::set<DWORD> before = ThreadIds();
    ASSERT_EQ(Open(*d), 0);
    const std::vector<DWORD> own = d->OwnThreadIds();
    ASSERT_EQ(own.size(), 3u);
    for (DWORD id : own) EXPECT_EQ(before.count(id), 0u);
    EXPECT_GE(ThreadIds().size(), before.size() + 3);
    Listen(*d);
    ASSERT_GT(d->NewDataTrigger("\r", false), 0);
    ASSERT_TRUE(RoundTrip(*d, "TXTHOST1\r"));

    d->CloseDevice();
    EXPECT_FALSE(d->ThreadsRunning());
    EXPECT_FALSE(d->IsOpen());
    EXPECT_EQ(d->DeviceHandle(), INVALID_HANDLE_VALUE);
    const std::set<DWORD> after = ThreadIds();
    for (DWORD id : own) EXPECT_EQ(after.count(id), 0u) << "thread " << id << " outlived the close";
    ASSERT_TRUE(NewThreadsEnd(before));
    EXPECT_EQ(ThreadIds(), before);
}

TEST_F(Win32Port, TwentyOpensAndClosesLeaveNoThreadOrHandleBehind)
{
    d.reset();
    const std::set<DWORD> threadsBefore = ThreadIds();
    const DWORD handlesBefore = HandleCount();
    ASSERT_GT(handlesBefore, 0u);
    d = std::make_unique<TTestDispatcher>();
    Listen(*d);
    DWORD handlesAfterFirst = 0;
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(Open(*d), 0) << "cycle " << i;
        ASSERT_GT(d->NewDataTrigger("\r", false), 0);
        ASSERT_TRUE(RoundTrip(*d, "CYCLE" + std::to_string(i) + "\r")) << "cycle " << i;
        d->CloseDevice();
        ASSERT_FALSE(d->ThreadsRunning()) << "cycle " << i;
        // Wine's thread for the last comm wait holds a handle or two while it ends.
        ASSERT_TRUE(NewThreadsEnd(threadsBefore)) << "cycle " << i;
        if (i == 0) handlesAfterFirst = HandleCount();
    }
    // The dispatcher keeps its own events from its first open; nothing else stays.
    EXPECT_EQ(HandleCount(), handlesAfterFirst) << "a close left handles behind";
    d.reset();
    EXPECT_EQ(ThreadIds(), threadsBefore);
    EXPECT_EQ(HandleCount(), handlesBefore);
}

TEST_F(Win32Port, AWaitThatFailsAtOnceEndsTheCommunicationsThreadAndThePollCarriesTheData)
{
    d->HoldWait = true;
    ASSERT_EQ(Open(*d), 0);
    ASSERT_FALSE(d->HoldFailed);
    ASSERT_NE(d->ComThread(), nullptr);
    EXPECT_EQ(WaitForSingleObject(d->ComThread(), kBoundMs), WAIT_OBJECT_0) << "the communications thread ends";
    EXPECT_TRUE(d->ThreadsRunning()) << "the dispatch and output threads go on";
    Listen(*d);
    ASSERT_GT(d->NewDataTrigger("\r", false), 0);
    ASSERT_TRUE(RoundTrip(*d, "TXTHOST1\r"));
    EXPECT_EQ(d->Waits, 1) << "one failed wait, no spinning";
    d->CloseDevice();
    EXPECT_FALSE(d->ThreadsRunning());
}

TEST_F(Win32Port, TheExtendedMaskFallsBackWhenTheWaitRefusesIt)
{
    // The held wait makes the first wait fail with ERROR_INVALID_PARAMETER. Before any data
    // only a mask change ends the held wait, so its end shows the fallback mask was set.
    // (Whether the retry then waits or meets the held wait still ending is Wine's timing.)
    d->ForceMask = SioEventMaskExtended;
    d->HoldWait = true;
    ASSERT_EQ(Open(*d), 0);
    ASSERT_FALSE(d->HoldFailed);
    EXPECT_EQ(WaitForSingleObject(d->HeldWaitEnd(), kBoundMs), WAIT_OBJECT_0);
    EXPECT_EQ(d->EventMask(), SioEventMaskNT);
    DWORD mask = 0;
    EXPECT_TRUE(GetCommMask(d->DeviceHandle(), &mask));
    EXPECT_EQ(mask, SioEventMaskNT);
    Listen(*d);
    ASSERT_GT(d->NewDataTrigger("\r", false), 0);
    EXPECT_TRUE(RoundTrip(*d, "TXTHOST1\r"));
}

TEST_F(Win32Port, AHandlerMayFlushAndCloseThePort)
{
    ASSERT_EQ(Open(*d), 0);
    Listen(*d);
    ASSERT_GT(d->NewDataTrigger("\r", false), 0);
    std::vector<TKernelHandle> threads = d->ThreadHandles();
    ASSERT_EQ(threads.size(), 3u);
    int flushed = 1;
    bool closed = false;
    onCall = [&](UINT message) {
        if (message != SioDataMessage || closed) return;
        // The communications thread waits for this delivery to end meanwhile.
        flushed = d->DiscardOutput();
        d->CloseDevice();
        closed = true;
    };
    ASSERT_TRUE(RoundTrip(*d, "BYE\r"));
    ASSERT_TRUE(closed);
    EXPECT_EQ(flushed, 0) << "the output thread's acknowledgement reached the flush";
    for (const auto& t : threads) EXPECT_EQ(WaitServingSentMessages(t.Get(), kBoundMs), WAIT_OBJECT_0);
    EXPECT_FALSE(d->IsOpen());
    EXPECT_FALSE(d->ThreadsRunning());
    EXPECT_EQ(d->DeviceHandle(), INVALID_HANDLE_VALUE) << "let go when the dispatch thread ended";

    onCall = nullptr;
    ASSERT_EQ(Open(*d), 0) << "and it opens again";
    ASSERT_GT(d->NewDataTrigger("\r", false), 0);
    EXPECT_TRUE(RoundTrip(*d, "AGAIN\r"));
}

// Waits, with a bound, until the driver holds at least `count` received bytes.
bool WaitForReceived(TSioWin32Dispatcher& port, unsigned count)
{
    TKernelHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    const DWORD start = GetTickCount();
    for (;;) {
        TSioCommStatus status;
        port.RefreshCommStatus(status);
        if (status.InQueue >= count) return true;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= kBoundMs) return false;
        OVERLAPPED overlapped = {};
        overlapped.hEvent = done.Get();
        ResetEvent(done.Get());
        DWORD mask = 0;
        if (!WaitCommEvent(port.DeviceHandle(), &mask, &overlapped)) {
            if (GetLastError() != ERROR_IO_PENDING) return false;
            if (WaitForSingleObject(done.Get(), kBoundMs - elapsed) != WAIT_OBJECT_0) {
                SetCommMask(port.DeviceHandle(), 0);  // ends the wait
                WaitForSingleObject(done.Get(), kBoundMs);
                return false;
            }
        }
    }
}

TEST_F(Win32Port, AnOutputFlushWithoutTheOutputThreadKeepsWhatWasReceived)
{
    d->RunThreads = false;
    ASSERT_EQ(Open(*d), 0);
    ASSERT_FALSE(d->ThreadsRunning());
    ASSERT_EQ(d->QueueOutput("ECHO\r", 5), 0);
    d->OutputStep();  // the output thread's step, run here
    EXPECT_EQ(d->OutputUsedCount(), 0u);
    ASSERT_TRUE(WaitForReceived(*d, 5));

    ASSERT_EQ(d->QueueOutput("LOST", 4), 0);
    EXPECT_EQ(d->OutputUsedCount(), 4u);
    EXPECT_EQ(d->DiscardOutput(), 0);
    EXPECT_EQ(d->OutputUsedCount(), 0u);
    EXPECT_EQ(d->OutputFreeCount(), 4096u);

    EXPECT_TRUE(d->DrainDevice());
    char echo[6] = {};
    ASSERT_EQ(d->TakeInput(echo, 5), 5) << "the receive side was not purged";
    EXPECT_STREQ(echo, "ECHO\r");
    EXPECT_EQ(ReadWholeFile(FromUnixPath(EnvText("TAVRIN_TEST_TRANSCRIPT"))), "ECHO\r") << "nothing more went out";
}

TEST_F(Win32Port, AnInputFlushEmptiesTheDriversQueue)
{
    d->RunThreads = false;
    ASSERT_EQ(Open(*d), 0);
    ASSERT_EQ(d->QueueOutput("GONE\r", 5), 0);
    d->OutputStep();
    ASSERT_TRUE(WaitForReceived(*d, 5));
    EXPECT_EQ(d->DiscardInput(), 0);
    EXPECT_FALSE(d->DrainDevice()) << "nothing left to move";
    EXPECT_EQ(d->InputCount(), 0u);
}

TEST_F(Win32Port, AFailedOpenReturnsTheSystemErrorAndLeavesNothingOpen)
{
    const DWORD handlesBefore = HandleCount();
    EXPECT_EQ(d->OpenDevice("\\\\.\\SioWin32TestNoSuchDevice", 115200, NOPARITY, 8, 1, 4096, 4096, 0),
              -static_cast<int>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(d->IsOpen());
    EXPECT_FALSE(d->ThreadsRunning());
    EXPECT_EQ(d->DeviceHandle(), INVALID_HANDLE_VALUE);
    d.reset();
    EXPECT_EQ(HandleCount(), handlesBefore);
}

TEST_F(Win32Port, TheTAPIDispatcherWorksOnTheHandleItIsGiven)
{
    const HANDLE device = CreateFileA(PortName().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE) << GetLastError();
    TSioTAPI32Dispatcher tapi(nullptr, device);
    ASSERT_EQ(Open(tapi), 0);
    EXPECT_EQ(tapi.DeviceHandle(), device);
    Listen(tapi);
    ASSERT_GT(tapi.NewDataTrigger("\r", false), 0);
    EXPECT_TRUE(RoundTrip(tapi, "TAPI\r"));
    tapi.CloseDevice();
    EXPECT_FALSE(tapi.ThreadsRunning());
    EXPECT_EQ(Open(tapi), -static_cast<int>(ERROR_INVALID_HANDLE)) << "the handle served one open";
}

}  // namespace
