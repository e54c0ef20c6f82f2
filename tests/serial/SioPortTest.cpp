// The port component over the fake device: settings, opening and its errors, the
// notifications, trace and log, trigger events and the closing path.
#include "FakeDevice.h"
#include "InstrumentSupport.h"
#include "ProcessSupport.h"
#include "SioExcept.h"
#include "SioPort.h"
#include "SioWin32.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

namespace {

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
        // Other test programs on the desktop have windows of the class too.
        HWND window = nullptr;
        for (;;) {
            window = FindWindowExA(HWND_MESSAGE, window, "awComWindow", nullptr);
            DWORD process = 0;
            if (!window || (GetWindowThreadProcessId(window, &process), process == GetCurrentProcessId())) break;
        }
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
    EXPECT_TRUE(p.UseEventWord());
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
    port->TraceName = TempFileName("close.trc");
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
    port->TraceName = TempFileName("no_such_folder\\x.trc");
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
    // Each row sets a field of the source away from its default and reads it back as text.
    // The device layer is left out: this build has only dlWin32. The order of the rows is
    // the order of setting (the sizes before the thresholds, RS-485 before the flow).
    std::vector<std::string> heard;
    const auto call = [&](auto& event, auto... args) {
        heard.clear();
        if (event) event(args...);
        return heard.empty() ? std::string("unassigned") : heard.front();
    };
    const auto says = [&](const char* name) { return [&heard, name](auto&&...) { heard.push_back(name); }; };
    const struct {
        const char* name;
        std::function<void(TSioComPort&)> set;
        std::function<std::string(TSioComPort&)> read;
    } fields[] = {
        {"ComNumber", [](auto& p) { p.SetComNumber(4); }, [](auto& p) { return std::to_string(p.ComNumber()); }},
        {"Baud", [](auto& p) { p.SetBaud(115200); }, [](auto& p) { return std::to_string(p.Baud()); }},
        {"Parity", [](auto& p) { p.SetParity(pEven); }, [](auto& p) { return std::to_string(p.Parity()); }},
        {"DataBits", [](auto& p) { p.SetDataBits(7); }, [](auto& p) { return std::to_string(p.DataBits()); }},
        {"StopBits", [](auto& p) { p.SetStopBits(2); }, [](auto& p) { return std::to_string(p.StopBits()); }},
        {"InSize", [](auto& p) { p.SetInSize(2048); }, [](auto& p) { return std::to_string(p.InSize()); }},
        {"OutSize", [](auto& p) { p.SetOutSize(4096); }, [](auto& p) { return std::to_string(p.OutSize()); }},
        {"AutoOpen", [](auto& p) { p.AutoOpen = false; }, [](auto& p) { return std::to_string(p.AutoOpen); }},
        {"PromptForPort", [](auto& p) { p.PromptForPort = false; },
         [](auto& p) { return std::to_string(p.PromptForPort); }},
        {"RS485Mode", [](auto& p) { p.SetRS485Mode(true); }, [](auto& p) { return std::to_string(p.RS485Mode()); }},
        {"ThreadBoost", [](auto& p) { p.SetThreadBoost(2); }, [](auto& p) { return std::to_string(p.ThreadBoost()); }},
        {"DTR", [](auto& p) { p.SetDTR(false); }, [](auto& p) { return std::to_string(p.DTR()); }},
        {"RTS", [](auto& p) { p.SetRTS(false); }, [](auto& p) { return std::to_string(p.RTS()); }},
        {"HWFlowOptions", [](auto& p) { p.SetHWFlowOptions(hwfUseDTR | hwfRequireDSR); },
         [](auto& p) { return std::to_string(p.HWFlowOptions()); }},
        {"SWFlowOptions", [](auto& p) { p.SetSWFlowOptions(swfTransmit); },
         [](auto& p) { return std::to_string(p.SWFlowOptions()); }},
        {"BufferFull", [](auto& p) { p.SetBufferFull(1500); }, [](auto& p) { return std::to_string(p.BufferFull()); }},
        {"BufferResume", [](auto& p) { p.SetBufferResume(300); },
         [](auto& p) { return std::to_string(p.BufferResume()); }},
        {"XOnChar", [](auto& p) { p.SetXOnChar('q'); }, [](auto& p) { return std::to_string(p.XOnChar()); }},
        {"XOffChar", [](auto& p) { p.SetXOffChar('r'); }, [](auto& p) { return std::to_string(p.XOffChar()); }},
        {"Tracing", [](auto& p) { p.SetTracing(tlOn); }, [](auto& p) { return std::to_string(p.Tracing()); }},
        {"Logging", [](auto& p) { p.SetLogging(tlOn); }, [](auto& p) { return std::to_string(p.Logging()); }},
        {"TraceSize", [](auto& p) { p.SetTraceSize(500); }, [](auto& p) { return std::to_string(p.TraceSize()); }},
        {"LogSize", [](auto& p) { p.SetLogSize(600); }, [](auto& p) { return std::to_string(p.LogSize()); }},
        {"TraceName", [](auto& p) { p.TraceName = "X.TRC"; }, [](auto& p) { return p.TraceName; }},
        {"LogName", [](auto& p) { p.LogName = "X.LOG"; }, [](auto& p) { return p.LogName; }},
        {"TraceHex", [](auto& p) { p.TraceHex = false; }, [](auto& p) { return std::to_string(p.TraceHex); }},
        {"LogHex", [](auto& p) { p.LogHex = false; }, [](auto& p) { return std::to_string(p.LogHex); }},
        {"TraceAllHex", [](auto& p) { p.TraceAllHex = true; }, [](auto& p) { return std::to_string(p.TraceAllHex); }},
        {"LogAllHex", [](auto& p) { p.LogAllHex = true; }, [](auto& p) { return std::to_string(p.LogAllHex); }},
        {"AvailThreshold", [](auto& p) { p.SetAvailThreshold(5); },
         [](auto& p) { return std::to_string(p.AvailThreshold()); }},
        {"OnTrigger", [&](auto& p) { p.OnTrigger = says("OnTrigger"); },
         [&](auto& p) { return call(p.OnTrigger, &p, 0u, 0u, 0u); }},
        {"OnTriggerAvail", [&](auto& p) { p.OnTriggerAvail = says("OnTriggerAvail"); },
         [&](auto& p) { return call(p.OnTriggerAvail, &p, 0u); }},
        {"OnTriggerData", [&](auto& p) { p.OnTriggerData = says("OnTriggerData"); },
         [&](auto& p) { return call(p.OnTriggerData, &p, 0u); }},
        {"OnTriggerTimer", [&](auto& p) { p.OnTriggerTimer = says("OnTriggerTimer"); },
         [&](auto& p) { return call(p.OnTriggerTimer, &p, 0u); }},
        {"OnTriggerStatus", [&](auto& p) { p.OnTriggerStatus = says("OnTriggerStatus"); },
         [&](auto& p) { return call(p.OnTriggerStatus, &p, 0u); }},
        {"OnPortOpen", [&](auto& p) { p.OnPortOpen = says("OnPortOpen"); },
         [&](auto& p) { return call(p.OnPortOpen, &p); }},
        {"OnPortClose", [&](auto& p) { p.OnPortClose = says("OnPortClose"); },
         [&](auto& p) { return call(p.OnPortClose, &p); }},
        {"TapiMode", [](auto& p) { p.TapiMode = tmOff; }, [](auto& p) { return std::to_string(p.TapiMode); }},
    };
    TSioComPort defaults(nullptr), other(nullptr);
    for (const auto& f : fields) f.set(other);
    for (const auto& f : fields) ASSERT_NE(f.read(other), f.read(defaults)) << f.name << " is set away from its default";
    int client = 0;
    std::vector<TSioNotifyKind> clientHeard;
    other.RegisterNotification(&client, [&](TSioCustomComPort*, TSioNotifyKind k) { clientHeard.push_back(k); }, false);
    // Only the first five trigger events go over: the target keeps its own of the others.
    port->OnTriggerModemStatus = says("target's own");
    other.OnTriggerModemStatus = says("source's");

    port->Assign(&other);
    for (const auto& f : fields) EXPECT_EQ(f.read(*port), f.read(other)) << f.name;
    EXPECT_EQ(call(port->OnTriggerModemStatus, port.get()), "target's own");
    EXPECT_FALSE(port->Open());
    EXPECT_EQ(port->State(), psClosed);
    port->SetComNumber(7);
    port->SetInSize(1u << 20);  // what the fake device's thresholds fit
    port->SetOpen(true);
    EXPECT_EQ(clientHeard, std::vector<TSioNotifyKind>{snOpened}) << "the notification entries went over";
}

TEST_F(Port, AssignTakesTheTriggersOfAnOpenSourceAndLeavesTheTargetClosed)
{
    TSioComPort source(nullptr);
    source.SetComNumber(3);
    TFakeDispatcher* sourceDevice = nullptr;
    source.DispatcherFactory = [&](TSioCustomComPort& p) { return sourceDevice = new TFakeDispatcher(&p); };
    source.SetOpen(true);
    const int timer = source.AddTimerTrigger();
    ASSERT_GT(timer, 0);
    sourceDevice->SetAvailThreshold(9);

    port->SetOpen(true);
    port->Assign(&source);
    EXPECT_FALSE(port->Open()) << "Open is false after Assign";
    EXPECT_EQ(port->CurrentDispatcher(), nullptr);
    EXPECT_TRUE(source.Open()) << "the source stays as it was";

    port->SetOpen(true);
    TSioTriggerStore store;
    fake->SaveTriggers(store);
    EXPECT_EQ(store.AvailThreshold, 9u);
    ASSERT_EQ(store.Timers.size(), 1u);
    EXPECT_EQ(store.Timers[0].Handle, static_cast<unsigned>(timer));
    port->SetTimerTrigger(timer, 1, true);  // a trigger of this port now
}

// Sets or clears each trigger event of a port.
struct TEventCase {
    const char* name;
    std::function<void(TSioCustomComPort&)> assign, clear;
};
const TEventCase TriggerEvents[] = {
    {"OnTrigger", [](auto& p) { p.OnTrigger = [](TObject*, UINT, unsigned, unsigned) {}; },
     [](auto& p) { p.OnTrigger = nullptr; }},
    {"OnTriggerAvail", [](auto& p) { p.OnTriggerAvail = [](TObject*, unsigned) {}; },
     [](auto& p) { p.OnTriggerAvail = nullptr; }},
    {"OnTriggerData", [](auto& p) { p.OnTriggerData = [](TObject*, unsigned) {}; },
     [](auto& p) { p.OnTriggerData = nullptr; }},
    {"OnTriggerTimer", [](auto& p) { p.OnTriggerTimer = [](TObject*, unsigned) {}; },
     [](auto& p) { p.OnTriggerTimer = nullptr; }},
    {"OnTriggerStatus", [](auto& p) { p.OnTriggerStatus = [](TObject*, unsigned) {}; },
     [](auto& p) { p.OnTriggerStatus = nullptr; }},
    {"OnTriggerModemStatus", [](auto& p) { p.OnTriggerModemStatus = [](TObject*) {}; },
     [](auto& p) { p.OnTriggerModemStatus = nullptr; }},
    {"OnTriggerLineError", [](auto& p) { p.OnTriggerLineError = [](TObject*, int, bool) {}; },
     [](auto& p) { p.OnTriggerLineError = nullptr; }},
    {"OnTriggerOutbuffFree", [](auto& p) { p.OnTriggerOutbuffFree = [](TObject*) {}; },
     [](auto& p) { p.OnTriggerOutbuffFree = nullptr; }},
    {"OnTriggerOutbuffUsed", [](auto& p) { p.OnTriggerOutbuffUsed = [](TObject*) {}; },
     [](auto& p) { p.OnTriggerOutbuffUsed = nullptr; }},
    {"OnTriggerOutSent", [](auto& p) { p.OnTriggerOutSent = [](TObject*) {}; },
     [](auto& p) { p.OnTriggerOutSent = nullptr; }},
};

TEST_F(Port, AssigningATriggerEventInstallsThePortsHandlerAndClearingTheLastRemovesIt)
{
    for (const auto& e : TriggerEvents) e.assign(*port);  // on a closed port: stored
    for (const auto& e : TriggerEvents) e.clear(*port);
    port->SetOpen(true);
    EXPECT_FALSE(fake->PortHandler());
    for (const auto& e : TriggerEvents) {
        fake->HandlerModes.clear();
        e.assign(*port);
        EXPECT_TRUE(fake->PortHandler()) << e.name;
        EXPECT_TRUE(fake->ServiceNeeded()) << e.name;
        EXPECT_EQ(fake->HandlerModes, std::vector<int>{1}) << e.name;
        e.clear(*port);
        EXPECT_FALSE(fake->PortHandler()) << e.name;
        EXPECT_FALSE(fake->ServiceNeeded()) << e.name << ": the port's window alone needs no delivery";
        EXPECT_EQ(fake->HandlerModes, (std::vector<int>{1, 2})) << e.name;
    }
    // The handler stays while any event is left.
    for (const auto& e : TriggerEvents) e.assign(*port);
    for (size_t i = 0; i + 1 < std::size(TriggerEvents); ++i) {
        TriggerEvents[i].clear(*port);
        EXPECT_TRUE(fake->PortHandler()) << TriggerEvents[i].name << " cleared, others left";
    }
    std::end(TriggerEvents)[-1].clear(*port);
    EXPECT_FALSE(fake->PortHandler());
    port->TriggerEventsChanged();  // by hand, as before: no change
    EXPECT_FALSE(fake->PortHandler());

    // Assigned while closed: the handler is there from the open on.
    port->SetOpen(false);
    TriggerEvents[3].assign(*port);
    port->SetOpen(true);
    EXPECT_TRUE(fake->PortHandler());
}

TEST_F(Port, AnEventAssignedOnAnOpenPortIsDeliveredWithoutFurtherCalls)
{
    static DWORD now = 1000;
    const TSioClockSource previous = SioSetClock([]() -> DWORD { return now; });
    port->SetOpen(true);
    std::vector<unsigned> fired;
    port->OnTriggerTimer = [&](TObject*, unsigned handle) { fired.push_back(handle); };
    const int timer = port->AddTimerTrigger();
    port->SetTimerTrigger(timer, 1, true);
    now += 56;
    fake->PollTimersAndStatus();
    EXPECT_EQ(fired, std::vector<unsigned>{static_cast<unsigned>(timer)});
    // A handler that clears its own event while it runs.
    port->OnTriggerTimer = [&](TObject*, unsigned handle) {
        port->OnTriggerTimer = nullptr;
        fired.push_back(handle + 1);
    };
    port->SetTimerTrigger(timer, 1, true);
    now += 56;
    fake->PollTimersAndStatus();
    EXPECT_EQ(fired.size(), 2u);
    EXPECT_FALSE(port->OnTriggerTimer);
    EXPECT_FALSE(fake->PortHandler());
    SioSetClock(previous);
}

TEST_F(Port, ALineErrorEventTakesTheBreakAndTheErrorCode)
{
    port->SetOpen(true);
    std::vector<std::pair<int, bool>> heard;
    port->OnTriggerLineError = [&](TObject*, int error, bool lineBreak) { heard.push_back({error, lineBreak}); };
    fake->NewStatusTrigger(skLineError, SioErrorBreak | SioErrorParity | SioErrorFraming);
    fake->Errors = SioErrorBreak | SioErrorParity;
    fake->HandleCommEvent(EV_ERR | EV_BREAK);
    EXPECT_EQ(heard, (std::vector<std::pair<int, bool>>{{3, true}}));
    EXPECT_FALSE(port->LineBreak()) << "read and cleared";
    EXPECT_EQ(port->LineError(), 0);
}

TEST_F(Port, UseEventWordIsBitFourOfTheDispatchersOptions)
{
    port->SetOpen(true);
    EXPECT_EQ(fake->OptionFlags(), SioOptionEventWord) << "on by default, set at the open";
    port->SetUseEventWord(false);
    EXPECT_EQ(fake->OptionFlags(), 0u);
    fake->SetOptionFlag(1, true);
    port->SetUseEventWord(true);
    EXPECT_EQ(fake->OptionFlags(), SioOptionEventWord | 1u);
    port->SetUseEventWord(false);
    EXPECT_EQ(fake->OptionFlags(), 1u) << "only its own bit";
    port->SetOpen(false);
    port->SetOpen(true);
    EXPECT_FALSE(port->UseEventWord());
    EXPECT_EQ(fake->OptionFlags(), 0u);
}

TEST_F(Port, TheStoredSettingsReachTheDeviceWhenThePortOpens)
{
    port->SetInSize(4000);
    port->SetHWFlowOptions(hwfUseDTR | hwfRequireDSR);
    port->SetSWFlowOptions(swfBoth);
    port->SetBufferFull(3000);
    port->SetBufferResume(500);
    port->SetXOnChar('q');
    port->SetXOffChar('r');
    port->SetRTS(false);
    port->SetRS485Mode(true);
    port->SetThreadBoost(2);
    port->SetOpen(true);
    const DCB& dcb = fake->State;
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_HANDSHAKE));
    EXPECT_TRUE(dcb.fOutxDsrFlow);
    EXPECT_FALSE(dcb.fOutxCtsFlow);
    EXPECT_TRUE(fake->RS485());
    EXPECT_TRUE(dcb.fInX);
    EXPECT_TRUE(dcb.fOutX);
    EXPECT_EQ(dcb.XoffLim, 1000);
    EXPECT_EQ(dcb.XonLim, 500);
    EXPECT_EQ(dcb.XonChar, 'q') << "the port's characters, not the flow's usual ones";
    EXPECT_EQ(dcb.XoffChar, 'r');
    EXPECT_EQ(fake->Boost(), 2);
    EXPECT_EQ(fake->OptionFlags(), SioOptionEventWord);
    EXPECT_EQ(fake->Escapes.back(), CLRRTS) << "RTS as stored, off";
}

TEST_F(Port, AChangedFlowModeOnAnOpenPortClearsWhatItNoLongerSets)
{
    port->SetInSize(4000);
    port->SetXOnChar('q');
    port->SetOpen(true);
    const DCB& dcb = fake->State;
    const struct {
        TSWFlowOptions mode;
        bool in, out;
    } modes[] = {{swfBoth, true, true},     {swfReceive, true, false}, {swfTransmit, false, true},
                 {swfBoth, true, true},     {swfNone, false, false},   {swfTransmit, false, true},
                 {swfReceive, true, false}, {swfNone, false, false}};
    for (const auto& m : modes) {
        port->SetSWFlowOptions(m.mode);
        EXPECT_EQ(dcb.fInX, m.in) << "mode " << m.mode;
        EXPECT_EQ(dcb.fOutX, m.out) << "mode " << m.mode;
        EXPECT_EQ(dcb.XonChar, 'q') << "mode " << m.mode;
    }

    port->SetHWFlowOptions(hwfUseDTR | hwfUseRTS | hwfRequireCTS);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_HANDSHAKE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
    EXPECT_TRUE(dcb.fOutxCtsFlow);
    port->SetHWFlowOptions(0);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_FALSE(dcb.fOutxCtsFlow);
    port->SetDTR(false);
    EXPECT_FALSE(port->DTR()) << "the line is the port's again";
    EXPECT_EQ(fake->Escapes.back(), CLRDTR);
}

TEST_F(Port, FlowOnRtsOrCtsEndsRs485InTheDispatcherToo)
{
    for (THWFlowOptions options : {hwfUseRTS, hwfRequireCTS}) {
        SCOPED_TRACE(options);
        port->SetHWFlowOptions(0);
        port->SetOpen(true);
        port->SetRS485Mode(true);
        ASSERT_TRUE(fake->RS485());
        port->SetHWFlowOptions(options);
        EXPECT_FALSE(port->RS485Mode());
        EXPECT_FALSE(fake->RS485());
        EXPECT_NE(fake->State.fRtsControl, static_cast<DWORD>(RTS_CONTROL_TOGGLE)) << "RTS is no longer toggled";
        port->SetHWFlowOptions(hwfUseDTR);
        EXPECT_NE(fake->State.fRtsControl, static_cast<DWORD>(RTS_CONTROL_TOGGLE));
        port->SetOpen(false);
    }
}

// A port whose own choice of dispatcher a test can see.
class TChoosingPort : public TSioComPort {
public:
    using TSioComPort::TSioComPort;
    using TSioComPort::CreateDispatcher;
};

TEST(PortDispatcher, TapiModeOnTakesTheStoredLineAndAnyOtherModeTheWin32Layer)
{
    for (TTapiMode mode : {tmNone, tmAuto, tmOn, tmOff}) {
        SCOPED_TRACE(mode);
        TChoosingPort port(nullptr);
        port.TapiMode = mode;
        HANDLE line = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        port.SetTapiLineHandle(line);
        std::unique_ptr<TSioBaseDispatcher> d(port.CreateDispatcher());
        ASSERT_NE(dynamic_cast<TSioWin32Dispatcher*>(d.get()), nullptr);
        EXPECT_EQ(dynamic_cast<TSioTAPI32Dispatcher*>(d.get()) != nullptr, mode == tmOn);
        EXPECT_EQ(port.TapiLineHandle(), mode == tmOn ? nullptr : line) << "the dispatcher takes the line over";
        d.reset();
        DWORD flags = 0;
        EXPECT_EQ(GetHandleInformation(line, &flags) != 0, mode != tmOn) << "closed by the dispatcher that had it";
        if (mode != tmOn) CloseHandle(line);
    }
}

TEST_F(Port, ComponentOperationsNeedTheDispatcherAndWaitWhileThePortOpensOrCloses)
{
    const struct {
        const char* name;
        std::function<void(TSioCustomComPort&)> run;
        int codeWhenOpen;  // what the operation itself raises on the fresh port
    } operations[] = {
        {"StartTrace", [](auto& p) { p.StartTrace(); }, 0},
        {"DumpTrace", [](auto& p) { p.DumpTrace(); }, 0},
        {"AppendTrace", [](auto& p) { p.AppendTrace(); }, 0},
        {"ClearTrace", [](auto& p) { p.ClearTrace(); }, 0},
        {"StopTrace", [](auto& p) { p.StopTrace(); }, 0},
        {"PauseTrace", [](auto& p) { p.PauseTrace(); }, 0},
        {"ResumeTrace", [](auto& p) { p.ResumeTrace(); }, 0},
        {"StartLog", [](auto& p) { p.StartLog(); }, 0},
        {"DumpLog", [](auto& p) { p.DumpLog(); }, 0},
        {"AppendLog", [](auto& p) { p.AppendLog(); }, 0},
        {"ClearLog", [](auto& p) { p.ClearLog(); }, 0},
        {"StopLog", [](auto& p) { p.StopLog(); }, 0},
        {"PauseLog", [](auto& p) { p.PauseLog(); }, 0},
        {"ResumeLog", [](auto& p) { p.ResumeLog(); }, 0},
        {"AddTimerTrigger", [](auto& p) { p.AddTimerTrigger(); }, 0},
        {"SetTimerTrigger", [](auto& p) { p.SetTimerTrigger(7, 1, true); }, -5003},
        {"YieldDevice", [](auto& p) { p.YieldDevice(); }, 0},
        {"LineError", [](auto& p) { p.LineError(); }, 0},
        {"LineBreak", [](auto& p) { p.LineBreak(); }, 0},
    };
    const auto raised = [](const std::function<void()>& f) {
        try {
            f();
        } catch (const ESioException& e) {
            return e.ErrorCode;
        }
        return 0;
    };
    for (const auto& op : operations) {
        SCOPED_TRACE(op.name);
        port->AutoOpen = false;
        fake = nullptr;
        EXPECT_EQ(raised([&] { op.run(*port); }), -2007) << "no dispatcher, and none is opened";
        EXPECT_EQ(fake, nullptr);
        EXPECT_FALSE(port->Open());

        port->AutoOpen = true;
        EXPECT_EQ(raised([&] { op.run(*port); }), op.codeWhenOpen);
        EXPECT_TRUE(port->Open()) << "opened for it";
        ASSERT_NE(fake, nullptr);

        // While closing: nothing is done, nothing raised, and nothing is left for later.
        int key = 0;
        int closingRuns = 0, closingCode = 1, closingYields = -1;
        port->RegisterNotification(&key, [&](TSioCustomComPort* p, TSioNotifyKind kind) {
            if (kind != snClosing) return;
            ++closingRuns;
            const int before = fake->Yields;
            closingCode = raised([&] { op.run(*p); });
            closingYields = fake->Yields - before;
        }, true);
        port->SetOpen(false);
        port->DeregisterNotification(&key);
        EXPECT_EQ(closingRuns, 1);
        EXPECT_EQ(closingCode, 0);
        EXPECT_EQ(closingYields, 0);
        EXPECT_FALSE(port->Open());
        EXPECT_EQ(port->State(), psClosed);
        EXPECT_EQ(port->Tracing(), tlOff);
        EXPECT_EQ(port->Logging(), tlOff);

        // While opening: the same.
        port->DispatcherFactory = [&](TSioCustomComPort& p) {
            closingCode = raised([&] { op.run(p); });
            return fake = new TFakeDispatcher(&p);
        };
        closingCode = 1;
        port->SetOpen(true);
        EXPECT_EQ(closingCode, 0);
        EXPECT_EQ(port->Tracing(), tlOff);
        EXPECT_EQ(port->Logging(), tlOff);
        port->SetOpen(false);
        EXPECT_EQ(port->State(), psClosed) << "no open was left pending";
        port->DispatcherFactory = [this](TSioCustomComPort& p) { return fake = new TFakeDispatcher(&p); };
    }
}

TEST_F(Port, TraceAndLogOperationsOnAnOpenPort)
{
    port->AutoOpen = false;
    port->SetOpen(true);
    port->TraceHex = false;
    struct TRecord {
        const char* name;
        std::function<void()> start, dump, append, clear, stop, pause, resume;
        std::function<TTraceLogState()> state;
        std::function<TTraceLogState()> recordState;
        std::string* fileName;
        const char* holds;  // what the file holds of "AB" sent
    };
    TRecord records[] = {
        {"trace", [&] { port->StartTrace(); }, [&] { port->DumpTrace(); }, [&] { port->AppendTrace(); },
         [&] { port->ClearTrace(); }, [&] { port->StopTrace(); }, [&] { port->PauseTrace(); },
         [&] { port->ResumeTrace(); }, [&] { return port->Tracing(); }, [&] { return fake->Trace.State(); },
         &port->TraceName, "AB"},
        {"log", [&] { port->StartLog(); }, [&] { port->DumpLog(); }, [&] { port->AppendLog(); },
         [&] { port->ClearLog(); }, [&] { port->StopLog(); }, [&] { port->PauseLog(); }, [&] { port->ResumeLog(); },
         [&] { return port->Logging(); }, [&] { return fake->Log.State(); }, &port->LogName, "WriteCom"},
    };
    for (auto& r : records) {
        SCOPED_TRACE(r.name);
        *r.fileName = TempFileName(std::string(r.name) + ".txt");
        DeleteFileA(r.fileName->c_str());
        const auto file = [&] { return ReadWholeFile(*r.fileName); };
        r.resume();
        EXPECT_EQ(r.state(), tlOff) << "resuming starts nothing";
        r.start();
        EXPECT_EQ(r.state(), tlOn);
        EXPECT_EQ(r.recordState(), tlOn);
        port->SendString("AB");
        r.pause();
        EXPECT_EQ(r.state(), tlPause);
        EXPECT_EQ(r.recordState(), tlPause);
        r.resume();
        EXPECT_EQ(r.state(), tlOn);
        r.clear();
        r.dump();
        EXPECT_EQ(r.state(), tlOff);
        EXPECT_EQ(GetFileAttributesA(r.fileName->c_str()), INVALID_FILE_ATTRIBUTES) << "cleared: nothing to write";
        r.start();
        port->SendString("AB");
        r.pause();
        r.start();  // a paused record starts over
        EXPECT_EQ(r.state(), tlOn);
        port->SendString("AB");
        r.dump();
        EXPECT_EQ(r.recordState(), tlOff);
        const std::string once = file();
        const auto count = [](const std::string& text, const std::string& part) {
            size_t n = 0;
            for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
            return n;
        };
        EXPECT_EQ(count(once, r.holds), 1u) << "only what came after the second start: " << once;
        r.start();
        port->SendString("AB");
        r.append();
        EXPECT_EQ(r.state(), tlOff);
        const std::string twice = file();
        EXPECT_EQ(twice.substr(0, once.size()), once) << "appended after the first dump";
        EXPECT_NE(twice.find(r.holds, once.size()), std::string::npos) << twice;
        r.start();
        r.stop();
        EXPECT_EQ(r.state(), tlOff);
        EXPECT_EQ(r.recordState(), tlOff);
        DeleteFileA(r.fileName->c_str());
    }
    port->YieldDevice();
    EXPECT_EQ(fake->Yields, 1);
}

TEST_F(Port, ADumpThatFailsKeepsTheLogAndRestartsNoTraceThatWasFreed)
{
    port->SetOpen(true);
    port->LogName = TempFileName("no_such_folder\\x.log");
    port->TraceName = TempFileName("no_such_folder\\x.trc");
    port->SetLogging(tlOn);
    port->SetTracing(tlOn);
    port->SendString("AB");
    EXPECT_THROW(port->SetLogging(tlDump), EInOutError);
    EXPECT_EQ(port->Logging(), tlOn);
    EXPECT_TRUE(fake->Log.HasBuffer());
    EXPECT_THROW(port->SetTracing(tlDump), EInOutError);
    EXPECT_EQ(port->Tracing(), tlOff) << "the trace is freed by a failed dump";
    port->SetTracing(tlOn);
    EXPECT_EQ(fake->Trace.State(), tlOn) << "and starts again";

    port->LogName = TempFileName("kept.log");
    port->DumpLog();
    const std::string log = ReadWholeFile(port->LogName);
    EXPECT_NE(log.find("WriteCom"), std::string::npos) << log;
    DeleteFileA(port->LogName.c_str());
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
