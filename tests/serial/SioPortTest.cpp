// The port component over the fake device: settings, opening and its errors, the
// notifications, trace and log, trigger events and the closing path.
#include "FakeDevice.h"
#include "ProcessSupport.h"
#include "SioExcept.h"
#include "SioPort.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

std::string TempName(const std::string& name)
{
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + "sioport_" + std::to_string(GetCurrentProcessId()) + "_" + name;
}

// Its dispatch thread takes a while to end after a close from inside a delivery.
class TSlowEndDispatcher : public TFakeDispatcher {
public:
    using TFakeDispatcher::TFakeDispatcher;
    void FreeBuffers() override
    {
        if (!InMainThread()) Sleep(300);
        TFakeDispatcher::FreeBuffers();
    }
};

// Counts the times the port's window looks at a pending close (its own message or a timer).
struct TCloseLooks {
    static inline int Count = 0;
    static inline WNDPROC Previous = nullptr;
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == SioClosePendingMessage || message == WM_TIMER) ++Count;
        return CallWindowProcA(Previous, window, message, wParam, lParam);
    }
    static bool Watch()
    {
        HWND window = FindWindowExA(HWND_MESSAGE, nullptr, "awComWindow", nullptr);
        if (!window) return false;
        Count = 0;
        Previous = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TCloseLooks::Proc)));
        return Previous != nullptr;
    }
};

class Port : public testing::Test {
protected:
    void SetUp() override
    {
        port = std::make_unique<TSioComPort>(nullptr);
        port->SetComNumber(7);
        port->DispatcherFactory = [this](TSioCustomComPort& p) {
            auto* d = slowEnd ? new TSlowEndDispatcher(&p) : new TFakeDispatcher(&p);
            d->RunThreads = runThreads;
            d->FailOpen = failOpen;
            d->FailError = failError;
            fake = d;
            return d;
        };
    }

    std::unique_ptr<TSioComPort> port;
    TFakeDispatcher* fake = nullptr;
    bool failOpen = false;
    DWORD failError = ERROR_FILE_NOT_FOUND;
    bool runThreads = false;
    bool slowEnd = false;
};

TEST(PortDefaults, AreThoseOfTheLibrary)
{
    TSioComPort p(nullptr);
    EXPECT_EQ(p.ComNumber(), 0);
    EXPECT_EQ(p.Baud(), 19200u);
    EXPECT_EQ(p.Parity(), pNone);
    EXPECT_EQ(p.DataBits(), 8);
    EXPECT_EQ(p.StopBits(), 1);
    EXPECT_EQ(p.InSize(), 1u << 20);
    EXPECT_EQ(p.OutSize(), 1u << 20);
    EXPECT_EQ(p.HWFlowOptions(), 0u);
    EXPECT_EQ(p.SWFlowOptions(), swfNone);
    EXPECT_EQ(p.XOnChar(), 17);
    EXPECT_EQ(p.XOffChar(), 19);
    EXPECT_TRUE(p.DTR());
    EXPECT_TRUE(p.RTS());
    EXPECT_TRUE(p.PromptForPort);
    EXPECT_TRUE(p.AutoOpen);
    EXPECT_EQ(p.DeviceLayer(), dlWin32);
    EXPECT_EQ(p.TapiMode, tmAuto);
    EXPECT_EQ(p.Tracing(), tlOff);
    EXPECT_EQ(p.Logging(), tlOff);
    EXPECT_EQ(p.TraceSize(), 10000u);
    EXPECT_EQ(p.LogSize(), 10000u);
    EXPECT_EQ(p.TraceName, "SERIAL.TRC");
    EXPECT_EQ(p.LogName, "SERIAL.LOG");
    EXPECT_TRUE(p.TraceHex);
    EXPECT_TRUE(p.LogHex);
    EXPECT_TRUE(p.UseEventWord);
    EXPECT_EQ(p.CommNotificationLevel, 10);
    EXPECT_FALSE(p.Open());
    EXPECT_EQ(p.Version(), "v1.00");
}

TEST_F(Port, NoNumberAndNoPickListRaisesNoPortSelected)
{
    port->SetComNumber(0);
    port->PromptForPort = false;
    try {
        port->SetOpen(true);
        FAIL();
    } catch (const ENoPortSelected& e) {
        EXPECT_EQ(e.ErrorCode, -2011);
    }
    EXPECT_FALSE(port->Open());
    EXPECT_EQ(port->State(), psClosed);
}

TEST_F(Port, AFailedOpenMapsItsCodeAndLeavesThePortClosed)
{
    const struct {
        DWORD error;
        int code;
        const std::type_info& type;
    } cases[] = {
        {ERROR_FILE_NOT_FOUND, -2001, typeid(EBadId)},
        {ERROR_PATH_NOT_FOUND, -2001, typeid(EBadId)},
        {ERROR_ACCESS_DENIED, -2008, typeid(EAlreadyOpen)},
        {ERROR_GEN_FAILURE, -31, typeid(EInOutError)},
    };
    failOpen = true;
    for (const auto& c : cases) {
        failError = c.error;
        try {
            port->SetOpen(true);
            FAIL() << c.code;
        } catch (const ESioException& e) {
            EXPECT_EQ(typeid(e), c.type) << c.code;
            EXPECT_EQ(e.ErrorCode, c.code);
        } catch (const EInOutError& e) {
            EXPECT_EQ(typeid(e), c.type) << c.code;
            EXPECT_EQ(e.ErrorCode, -c.code);
        }
        EXPECT_FALSE(port->Open());
        EXPECT_EQ(port->CurrentDispatcher(), nullptr);
        EXPECT_EQ(port->State(), psClosed);
    }
}

TEST_F(Port, ClientsHearOfTheOpeningAndTheClosingLastFirst)
{
    std::vector<std::string> heard;
    const char* names[] = {"opened", "closed", "closing"};
    int a = 0, b = 0;
    port->RegisterNotification(&a, [&](TSioCustomComPort*, TSioNotifyKind k) { heard.push_back(std::string("a ") + names[k]); }, true);
    port->RegisterNotification(&b, [&](TSioCustomComPort*, TSioNotifyKind k) { heard.push_back(std::string("b ") + names[k]); }, false);
    port->OnPortOpen = [&](TObject*) { heard.push_back("OnPortOpen"); };
    port->OnPortClose = [&](TObject*) { heard.push_back("OnPortClose"); };
    port->SetOpen(true);
    EXPECT_TRUE(port->Open());
    EXPECT_EQ(fake->DeviceName, "COM7");
    port->SetOpen(false);
    const std::vector<std::string> expected = {"b opened",  "a opened", "OnPortOpen", "a closing",
                                               "b closed", "a closed", "OnPortClose"};
    EXPECT_EQ(heard, expected);
    port->DeregisterNotification(&a);
    heard.clear();
    port->SetOpen(true);
    EXPECT_EQ(heard, (std::vector<std::string>{"b opened", "OnPortOpen"}));
}

TEST_F(Port, SettersReachAnOpenPort)
{
    port->SetInSize(1000);
    port->SetHWFlowOptions(hwfUseRTS);
    EXPECT_EQ(port->BufferFull(), 900u);
    EXPECT_EQ(port->BufferResume(), 100u);
    port->SetBufferFull(2000);
    EXPECT_EQ(port->BufferFull(), 1800u);
    port->SetBufferResume(5000);
    EXPECT_EQ(port->BufferResume(), 180u);
    port->SetHWFlowOptions(0);

    port->SetOpen(true);
    port->SetBaud(115200);
    EXPECT_EQ(fake->State.BaudRate, 115200u);
    port->SetParity(pEven);
    EXPECT_EQ(fake->State.Parity, EVENPARITY);
    port->SetDTR(false);
    EXPECT_EQ(fake->Escapes.back(), CLRDTR);
    EXPECT_FALSE(port->DTR());
    port->SetHWFlowOptions(hwfUseDTR);
    EXPECT_EQ(fake->State.fDtrControl, static_cast<DWORD>(DTR_CONTROL_HANDSHAKE));
    port->SetDTR(true);  // the line is the driver's now: the value stays
    EXPECT_FALSE(port->DTR());
    port->SetXOnChar('q');
    EXPECT_EQ(fake->State.XonChar, 'q');
}

TEST_F(Port, TracingOnAClosedPortOnlyStoresAndAnOpenPortDumpsAtItsClose)
{
    port->SetTracing(tlDump);
    EXPECT_EQ(port->Tracing(), tlOff);
    port->TraceName = TempName("close.trc");
    port->TraceHex = false;
    DeleteFileA(port->TraceName.c_str());
    port->SetOpen(true);
    port->SetTracing(tlOn);
    EXPECT_EQ(port->Tracing(), tlOn);
    port->SendString("AB");
    port->SetOpen(false);
    EXPECT_EQ(port->Tracing(), tlOff);
    HANDLE f = CreateFileA(port->TraceName.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << "the trace was written when the port closed";
    char text[64] = {};
    DWORD n = 0;
    ReadFile(f, text, sizeof text - 1, &n, nullptr);
    CloseHandle(f);
    EXPECT_EQ(std::string(text, n), "Transmit: \r\nAB");
    DeleteFileA(port->TraceName.c_str());
}

TEST_F(Port, AFailingDumpStillClosesThePortAndIsReportedAfter)
{
    port->TraceName = TempName("no_such_folder\\x.trc");
    port->SetOpen(true);
    port->SetTracing(tlOn);
    port->SendString("AB");
    EXPECT_THROW(port->SetOpen(false), EInOutError);
    EXPECT_FALSE(port->Open());
    EXPECT_EQ(port->State(), psClosed);
    EXPECT_EQ(port->CurrentDispatcher(), nullptr);
    port->SetOpen(true);  // and it opens again
    EXPECT_TRUE(port->Open());
}

TEST_F(Port, TriggerEventsArriveInTheirOrderAndAHandlerMayCloseThePort)
{
    static DWORD now = 1000;
    const TSioClockSource previous = SioSetClock([]() -> DWORD { return now; });
    std::vector<std::string> events;
    port->OnTrigger = [&](TObject*, UINT message, unsigned, unsigned) { events.push_back("trigger " + std::to_string(message)); };
    port->OnTriggerTimer = [&](TObject*, unsigned) {
        events.push_back("timer");
        port->SetOpen(false);  // from inside the delivery
    };
    port->SetOpen(true);
    const int timer = port->AddTimerTrigger();
    port->SetTimerTrigger(timer, 1, true);
    now += 56;
    fake->PollTimersAndStatus();
    EXPECT_EQ(events, (std::vector<std::string>{"trigger 32259", "timer"}));
    ASSERT_TRUE(PumpUntil([&] { return port->State() == psClosed; }));
    EXPECT_FALSE(port->Open());
    SioSetClock(previous);
}

TEST_F(Port, FreedFromInsideItsOwnHandlerThePortEndsWithoutHanging)
{
    runThreads = true;
    const int threadsBefore = ThreadCount();
    port->SetOpen(true);
    TFakeDispatcher* d = fake;
    const int handle = d->Handle();
    bool freed = false;
    bool dispatcherStillThere = false;
    port->OnTriggerAvail = [&](TObject*, unsigned) {
        // The closure goes with the port: what it uses after is copied out first.
        bool& still = dispatcherStillThere;
        bool& done = freed;
        const int h = handle;
        port.reset();  // on the GUI thread, while the dispatch thread waits for this handler
        // The free cannot wait for the delivery it is called from (it would, up to the
        // delivery's time-out): the dispatcher goes later.
        still = TSioBaseDispatcher::FromHandle(h) != nullptr;
        done = true;
    };
    port->TriggerEventsChanged();
    d->SetAvailThreshold(1);
    d->Receive("x");
    d->Event(EV_RXCHAR);
    ASSERT_TRUE(PumpUntil([&] { return freed; }));
    EXPECT_TRUE(dispatcherStillThere);
    EXPECT_TRUE(PumpUntil([&] { return !TSioBaseDispatcher::FromHandle(handle); }))
        << "the dispatcher ends once its threads are over";
    EXPECT_TRUE(PumpUntil([&] { return ThreadCount() == threadsBefore; })) << "no thread left behind";
}

TEST_F(Port, AClosePendingOnItsThreadsDoesNotKeepTheGUIThreadBusy)
{
    runThreads = true;
    slowEnd = true;
    port->SetOpen(true);
    bool closed = false;
    port->OnTriggerAvail = [&](TObject*, unsigned) { port->SetOpen(false); };
    port->OnPortClose = [&](TObject*) { closed = true; };
    port->TriggerEventsChanged();
    fake->SetAvailThreshold(1);
    fake->Receive("x");
    fake->Event(EV_RXCHAR);
    ASSERT_TRUE(TCloseLooks::Watch());
    ASSERT_TRUE(PumpUntil([&] { return closed; }));  // about 300 ms, while the dispatch thread ends
    EXPECT_LT(TCloseLooks::Count, 100) << "the GUI thread waits for the threads rather than spins";
    EXPECT_EQ(port->State(), psClosed);
    port->SetOpen(true);  // and it opens again
    EXPECT_TRUE(port->Open());
}

TEST_F(Port, AnOpenRequestedWhileLoadingIsCarriedOutByLoaded)
{
    port->BeginLoading();
    port->SetOpen(true);
    EXPECT_EQ(port->CurrentDispatcher(), nullptr);
    port->EndLoading();
    EXPECT_TRUE(port->Open());

    TRecordingSink sink;
    TSioComPort failing(nullptr);
    failing.SetComNumber(3);
    failing.DispatcherFactory = [](TSioCustomComPort& p) {
        auto* d = new TFakeDispatcher(&p);
        d->FailOpen = true;
        return d;
    };
    failing.BeginLoading();
    failing.SetOpen(true);
    failing.EndLoading();
    EXPECT_FALSE(failing.Open());
    ASSERT_EQ(sink.Requests.size(), 1u) << "shown by the application";
}

TEST_F(Port, AComNumberChangeWhileOpenReopensOnTheNewPort)
{
    port->SetOpen(true);
    port->SetComNumber(12);
    EXPECT_TRUE(port->Open());
    EXPECT_EQ(fake->DeviceName, "COM12");
}

TEST_F(Port, TheDispatcherOpensThePortWhenAutoOpenIsSet)
{
    port->AutoOpen = false;
    try {
        port->Dispatcher();
        FAIL();
    } catch (const ECommNotOpen& e) {
        EXPECT_EQ(e.ErrorCode, -2007);
    }
    port->AutoOpen = true;
    EXPECT_NE(port->Dispatcher(), nullptr);
    EXPECT_TRUE(port->Open());
}

TEST_F(Port, AssignCopiesTheSettings)
{
    TSioComPort other(nullptr);
    other.SetComNumber(4);
    other.SetBaud(115200);
    other.SetInSize(1024);
    other.PromptForPort = false;
    other.TraceName = "X.TRC";
    port->Assign(&other);
    EXPECT_EQ(port->ComNumber(), 4);
    EXPECT_EQ(port->Baud(), 115200u);
    EXPECT_EQ(port->InSize(), 1024u);
    EXPECT_FALSE(port->PromptForPort);
    EXPECT_EQ(port->TraceName, "X.TRC");
    EXPECT_FALSE(port->Open());
}

TEST(PortSearch, FindsTheFirstPortAmongOwnedComponents)
{
    TComponent form(nullptr);
    auto* panel = new TComponent(&form);
    auto* inner = new TSioComPort(panel);
    new TSioComPort(&form);
    EXPECT_EQ(TSioCustomComPort::FindPort(&form), inner);
}

}  // namespace
