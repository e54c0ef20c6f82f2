// The port component with its dispatcher's real threads on a pty standing in for a COM port:
// timer and status triggers through the port's window, the packet collector's time-out, the
// trace and log dumped at the close, the flow and trace setters on an open port, and the two
// flushes in the middle of traffic. Each case runs under tools/ptyport.py, which makes the
// port (TAVRIN_TEST_COM), echoes what reaches it and records it first (TAVRIN_TEST_TRANSCRIPT);
// the preloaded tools/ptymodem library carries the modem lines the peer drives (PtyLines.h).
#include "PtyLines.h"
#include "SioExcept.h"
#include "SioPacket.h"
#include "SioPort.h"
#include "SioWin32.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

constexpr DWORD kBoundMs = 5000;

double NowMs()
{
    static const double perMs = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / perMs;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t from = 0;
    while (from < text.size()) {
        size_t end = text.find("\r\n", from);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(from, end - from));
        from = end + 2;
    }
    return lines;
}

// The Win32 dispatcher with its state in view and one seam: Wine's ClearCommError never
// reports a line error or a break (its status always says none), so the bits a driver would
// report are given here and handed over, once, by the next status refresh.
class TProbeDispatcher : public TSioWin32Dispatcher {
public:
    explicit TProbeDispatcher(TComponent* owner) : TSioWin32Dispatcher(owner)
    {
        WriteBegun.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    }

    void DriverReports(unsigned errors) { pending_ |= errors; }
    TKernelHandle WriteBegun;  // set as the output thread starts a write to the device

    const DCB& CachedState() const { return dcb_; }
    // The RTS control of every state written (by the setters, on the GUI thread), taken or not.
    std::vector<DWORD> RtsControls;
    bool RS485() const { return rs485_; }

    unsigned RefreshCommStatus(TSioCommStatus& status) override
    {
        const unsigned errors = TSioWin32Dispatcher::RefreshCommStatus(status) | pending_.exchange(0);
        status.Errors = errors;
        return errors;
    }
    int WriteDeviceState(const DCB& dcb) override
    {
        RtsControls.push_back(dcb.fRtsControl);
        return TSioWin32Dispatcher::WriteDeviceState(dcb);
    }
    int WriteDevice(const uint8_t* bytes, unsigned count) override
    {
        SetEvent(WriteBegun.Get());
        return TSioWin32Dispatcher::WriteDevice(bytes, count);
    }

private:
    std::atomic<unsigned> pending_{0};
};

class ThreadsPort : public testing::Test {
protected:
    void SetUp() override
    {
        const std::string com = EnvText("TAVRIN_TEST_COM");
        ASSERT_FALSE(com.empty()) << "no test port: run through tools/ptyport.py";
        port = std::make_unique<TSioComPort>(nullptr);
        port->SetComNumber(std::stoi(com));
        port->SetBaud(115200);
        port->SetInSize(4096);
        port->SetOutSize(4096);
        port->PromptForPort = false;
        port->AutoOpen = false;
    }
    void TearDown() override
    {
        packet.reset();
        port.reset();
        for (const auto& f : files) DeleteFileA(f.c_str());
    }

    // The dispatcher becomes the probe (else the port makes its own TSioWin32Dispatcher).
    void UseProbe()
    {
        port->DispatcherFactory = [this](TSioCustomComPort& p) {
            probe = new TProbeDispatcher(&p);
            return probe;
        };
    }

    std::string File(const std::string& name)
    {
        files.push_back(TempFileName(name));
        DeleteFileA(files.back().c_str());
        return files.back();
    }

    // Takes every echo up to its CR through a data trigger, on the GUI thread.
    void TakeEchoes()
    {
        port->OnTriggerData = [this](TObject*, unsigned) {
            TSioBaseDispatcher* d = port->CurrentDispatcher();
            const unsigned n = d->InputCount();
            std::string bytes(n, '\0');
            if (n && d->TakeInput(bytes.data(), n) == static_cast<int>(n)) received += bytes;
        };
        port->TriggerEventsChanged();
        ASSERT_GT(port->CurrentDispatcher()->NewDataTrigger("\r", false), 0);
    }

    // Sends `text`, which ends in CR, and serves the GUI thread until its echo is back.
    testing::AssertionResult RoundTrip(const std::string& text)
    {
        received.clear();
        port->SendString(text);
        if (!PumpUntil([&] { return received.size() >= text.size(); }, kBoundMs))
            return testing::AssertionFailure() << "the echo of " << text << " did not come back, only [" << received
                                               << "]";
        if (received != text) return testing::AssertionFailure() << "came back as [" << received << "]";
        return testing::AssertionSuccess();
    }

    std::string PeerReceived() const { return ReadWholeFile(FromUnixPath(EnvText("TAVRIN_TEST_TRANSCRIPT"))); }

    std::unique_ptr<TSioComPort> port;
    std::unique_ptr<TSioDataPacket> packet;
    TProbeDispatcher* probe = nullptr;
    std::string received;
    std::vector<std::string> files;
};

struct TTimerFire {
    unsigned Handle;
    DWORD Thread;
    double At;
};

TEST_F(ThreadsPort, ATimerTriggerFiresOnceOnTheGuiThreadAfterItsTicksAndOnlyAgainWhenArmedAgain)
{
    port->SetOpen(true);
    std::vector<TTimerFire> fired;
    std::vector<std::string> order;
    port->OnTrigger = [&](TObject* sender, UINT message, unsigned handle, unsigned data) {
        EXPECT_EQ(sender, port.get());
        order.push_back("trigger " + std::to_string(message) + " " + std::to_string(handle) + " " +
                        std::to_string(data));
    };
    port->OnTriggerTimer = [&](TObject* sender, unsigned handle) {
        EXPECT_EQ(sender, port.get());
        order.push_back("timer " + std::to_string(handle));
        fired.push_back({handle, GetCurrentThreadId(), NowMs()});
    };
    port->TriggerEventsChanged();
    const auto count = [&](int handle) {
        int n = 0;
        for (const auto& f : fired) n += f.Handle == static_cast<unsigned>(handle);
        return n;
    };
    const int timer = port->AddTimerTrigger();
    const int witness = port->AddTimerTrigger();  // a second clock: waits end on its firing
    ASSERT_GT(timer, 0);
    ASSERT_GT(witness, timer);

    const int ticks = 4;
    const double minimum = ticks * SioTickMs - 1;  // the library's clock counts whole milliseconds
    double armed = NowMs();
    port->SetTimerTrigger(timer, ticks, true);
    ASSERT_TRUE(PumpUntil([&] { return count(timer) > 0; }, kBoundMs)) << "the armed timer never fired";
    EXPECT_GE(fired[0].At - armed, minimum) << "fired before its ticks had passed";
    EXPECT_LT(fired[0].At - armed, ticks * SioTickMs + 2000.0);
    EXPECT_EQ(fired[0].Thread, MainThreadID) << "the port's window runs on the GUI thread";
    const std::string t = std::to_string(timer);
    EXPECT_EQ(order, (std::vector<std::string>{"trigger 32259 " + t + " 0", "timer " + t}));

    // Spent: nothing more while the witness runs twice as long.
    port->SetTimerTrigger(witness, 2 * ticks, true);
    ASSERT_TRUE(PumpUntil([&] { return count(witness) > 0; }, kBoundMs));
    EXPECT_EQ(count(timer), 1) << "a fired timer fired again without being armed";

    // Armed again with 0 ticks: the stored ticks count again.
    armed = NowMs();
    port->SetTimerTrigger(timer, 0, true);
    ASSERT_TRUE(PumpUntil([&] { return count(timer) > 1; }, kBoundMs)) << "the timer armed again never fired";
    EXPECT_GE(fired.back().At - armed, minimum) << "armed with 0 ticks it did not run its stored ticks";
    EXPECT_EQ(fired.back().Thread, MainThreadID);
}

TEST_F(ThreadsPort, ATimerTriggerDisarmedBeforeItsTimeNeverFires)
{
    port->SetOpen(true);
    std::vector<unsigned> fired;
    port->OnTriggerTimer = [&](TObject*, unsigned handle) { fired.push_back(handle); };
    port->TriggerEventsChanged();
    const auto count = [&](int handle) { return std::count(fired.begin(), fired.end(), static_cast<unsigned>(handle)); };
    const int timer = port->AddTimerTrigger();
    const int witness = port->AddTimerTrigger();

    port->SetTimerTrigger(timer, 8, true);
    port->SetTimerTrigger(witness, 2, true);
    ASSERT_TRUE(PumpUntil([&] { return count(witness) > 0; }, kBoundMs));
    ASSERT_EQ(count(timer), 0) << "fired at a quarter of its time";
    port->SetTimerTrigger(timer, 0, false);
    // Well past the disarmed timer's end.
    port->SetTimerTrigger(witness, 14, true);
    ASSERT_TRUE(PumpUntil([&] { return count(witness) > 1; }, kBoundMs));
    EXPECT_EQ(count(timer), 0) << "a disarmed timer fired";
}

TEST_F(ThreadsPort, APacketNotEndedInTimeTimesOutDropsItsPartAndTheNextComesWhole)
{
    port->SetOpen(true);
    packet = std::make_unique<TSioDataPacket>(nullptr);
    packet->SetComPort(port.get());
    packet->StartCond = scString;
    packet->StartString = "<";
    packet->SetEndCond(ecString);
    packet->SetEndString(">");
    const int ticks = 4;
    packet->TimeOut = ticks;
    std::vector<std::string> packets;
    std::vector<double> timeouts;
    std::vector<DWORD> threads;
    packet->OnStringPacket = [&](TObject*, const std::string& data) {
        packets.push_back(data);
        threads.push_back(GetCurrentThreadId());
    };
    packet->OnTimeout = [&](TObject* sender) {
        EXPECT_EQ(sender, packet.get());
        timeouts.push_back(NowMs());
        threads.push_back(GetCurrentThreadId());
        // Armed again from its own event, as an application does.
        packet->SetEnabled(false);
        packet->SetEnabled(true);
    };
    packet->SetEnabled(true);

    // Armed, waiting for its start: no time-out runs yet.
    const int witness = port->AddTimerTrigger();
    unsigned witnessFired = 0;
    // The packet's own timer reaches the port's window too.
    port->OnTriggerTimer = [&](TObject*, unsigned handle) { witnessFired += handle == static_cast<unsigned>(witness); };
    port->TriggerEventsChanged();
    port->SetTimerTrigger(witness, 2 * ticks, true);
    ASSERT_TRUE(PumpUntil([&] { return witnessFired > 0; }, kBoundMs));
    EXPECT_TRUE(timeouts.empty()) << "timed out before any packet started";

    // Started, never ended.
    const double sent = NowMs();
    port->SendString("<PART");
    ASSERT_TRUE(PumpUntil([&] { return !timeouts.empty(); }, kBoundMs)) << "the started packet never timed out";
    EXPECT_GE(timeouts[0] - sent, ticks * SioTickMs - 1) << "timed out before its ticks had passed";
    EXPECT_LT(timeouts[0] - sent, ticks * SioTickMs + 2000.0);
    EXPECT_TRUE(packets.empty());
    EXPECT_EQ(packet->Manager()->Buffered(), 0u) << "the part collected is dropped";

    // The next packet comes whole, nothing of the part before it glued to its front.
    port->SendString("<WHOLE>");
    ASSERT_TRUE(PumpUntil([&] { return !packets.empty(); }, kBoundMs)) << "the next packet never came";
    EXPECT_EQ(packets, (std::vector<std::string>{"<WHOLE>"}));

    // Ended in time: its timer does not fire.
    port->SetTimerTrigger(witness, 2 * ticks, true);
    ASSERT_TRUE(PumpUntil([&] { return witnessFired > 1; }, kBoundMs));
    EXPECT_EQ(timeouts.size(), 1u) << "a packet that ended in time timed out";
    for (DWORD id : threads) EXPECT_EQ(id, MainThreadID);
    EXPECT_EQ(PeerReceived(), "<PART<WHOLE>");
}

struct TModemCase {
    const char* name;
    int lines;     // what the peer drives next (ptymodem's bits)
    uint8_t mask;  // the lines the trigger watches
};

TEST_F(ThreadsPort, AModemStatusTriggerFiresOnceWhenThePeerChangesALineItWatches)
{
    const int allUp = kLineCts | kLineDsr | kLineCd;
    ASSERT_NO_FATAL_FAILURE(DrivePeerLines(allUp));
    port->SetOpen(true);
    std::vector<std::string> events;
    port->OnTrigger = [&](TObject*, UINT message, unsigned handle, unsigned data) {
        events.push_back("trigger " + std::to_string(message) + " " + std::to_string(handle) + " " +
                         std::to_string(data));
    };
    port->OnTriggerStatus = [&](TObject*, unsigned handle) { events.push_back("status " + std::to_string(handle)); };
    port->OnTriggerModemStatus = [&](TObject*) { events.push_back("modem"); };
    port->OnTriggerLineError = [&](TObject*, int, bool) { events.push_back("line error"); };
    port->TriggerEventsChanged();
    TSioBaseDispatcher* d = port->CurrentDispatcher();
    const auto status = [d] { return static_cast<uint8_t>(d->ReadModemStatus(240) & 0xF0); };
    ASSERT_EQ(status(), SioCTS | SioDSR | SioDCD);
    // Watches a line no case changes.
    const int dcd = d->NewStatusTrigger(skModem, static_cast<uint16_t>((SioDCD << 8) | SioDCD));

    const TModemCase cases[] = {
        {"CtsDrops", kLineDsr | kLineCd, SioCTS},
        {"DsrDrops", kLineCd, SioDSR},
        {"BothRise", allUp, SioCTS | SioDSR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        events.clear();
        const uint16_t value = static_cast<uint16_t>((c.mask << 8) | (status() & c.mask));
        const int trigger = d->NewStatusTrigger(skModem, value);
        ASSERT_GT(trigger, 0);
        ASSERT_NO_FATAL_FAILURE(DrivePeerLines(c.lines));
        ASSERT_TRUE(PumpUntil([&] { return !events.empty() && events.back() == "modem"; }, kBoundMs))
            << "the change of the watched line did not reach the port";
        const std::string h = std::to_string(trigger);
        EXPECT_EQ(events, (std::vector<std::string>{"trigger 32260 " + h + " " + std::to_string(value), "status " + h,
                                                    "modem"}));
        EXPECT_NE(status() & c.mask, value & c.mask) << "the dispatcher's status shows the new lines";
    }
    // Spent triggers stay quiet; the one watching DCD never fired. The round trip is a pass of
    // the dispatcher after the last change.
    events.clear();
    ASSERT_NO_FATAL_FAILURE(TakeEchoes());
    ASSERT_TRUE(RoundTrip("PING\r"));
    for (const auto& e : events) EXPECT_EQ(e.find("32260"), std::string::npos) << e;
    EXPECT_EQ(d->DropTrigger(dcd), 0);
}

// The line changes and the echo of a line comes right behind it: two comm events in a row,
// the second while the first is still handled. The change must not be lost to the data.
TEST_F(ThreadsPort, ACtsChangeFollowedAtOnceByDataStillFiresTheChangeTrigger)
{
    const int up = kLineCts | kLineDsr | kLineCd;
    ASSERT_NO_FATAL_FAILURE(DrivePeerLines(up));
    port->SetOpen(true);
    std::vector<unsigned> fired;
    port->OnTriggerStatus = [&](TObject*, unsigned handle) { fired.push_back(handle); };
    ASSERT_NO_FATAL_FAILURE(TakeEchoes());
    TSioBaseDispatcher* d = port->CurrentDispatcher();
    const int rounds = 10;
    for (int i = 0; i < rounds; ++i) {
        SCOPED_TRACE("round " + std::to_string(i + 1));
        // Fires on the CTS delta bit: reference 0, mask the delta.
        const int trigger = d->NewStatusTrigger(skModem, SioDeltaCTS << 8);
        ASSERT_GT(trigger, 0);
        fired.clear();
        ASSERT_NO_FATAL_FAILURE(DrivePeerLines(i % 2 ? up : up & ~kLineCts));
        ASSERT_TRUE(RoundTrip("DATA" + std::to_string(i) + "\r"));
        EXPECT_TRUE(PumpUntil([&] { return !fired.empty(); }, kBoundMs)) << "the CTS change was lost";
        if (!fired.empty()) {
            EXPECT_EQ(fired, std::vector<unsigned>{static_cast<unsigned>(trigger)});
        }
        d->DropTrigger(static_cast<unsigned>(trigger));
    }
}

// Wine reports no line errors or breaks on a pty (ClearCommError always gives none), so the
// driver's error bits come through the probe's seam; the threads, the status trigger and the
// port's window are the real ones.
TEST_F(ThreadsPort, ALineErrorTriggerGetsTheBreakReadBeforeTheErrorCode)
{
    UseProbe();
    port->SetOpen(true);
    ASSERT_NE(probe, nullptr);
    struct TCall {
        int Error;
        bool Break;
        DWORD Thread;
    };
    std::vector<TCall> calls;
    std::vector<unsigned> statuses;
    port->OnTriggerStatus = [&](TObject*, unsigned handle) { statuses.push_back(handle); };
    port->OnTriggerLineError = [&](TObject* sender, int error, bool lineBreak) {
        EXPECT_EQ(sender, port.get());
        calls.push_back({error, lineBreak, GetCurrentThreadId()});
    };
    port->TriggerEventsChanged();

    const struct {
        const char* name;
        unsigned reported;  // CE_ bits
        int error;
        bool lineBreak;
    } cases[] = {
        // Read the other way round, a lone break gives code 9 and no break.
        {"Break", CE_BREAK, 0, true},
        {"FramingWithBreak", CE_FRAME | CE_BREAK, 4, true},
        {"Overrun", CE_OVERRUN, 2, false},
        {"Parity", CE_RXPARITY, 3, false},
        {"OverflowBeforeParity", CE_RXOVER | CE_RXPARITY, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        calls.clear();
        statuses.clear();
        const int trigger = probe->NewStatusTrigger(skLineError, 0x1F);
        ASSERT_GT(trigger, 0);
        probe->DriverReports(c.reported);
        ASSERT_TRUE(PumpUntil([&] { return !calls.empty(); }, kBoundMs)) << "no line error reached the port";
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].Error, c.error);
        EXPECT_EQ(calls[0].Break, c.lineBreak);
        EXPECT_EQ(calls[0].Thread, MainThreadID);
        EXPECT_EQ(statuses, (std::vector<unsigned>{static_cast<unsigned>(trigger)}));
        EXPECT_EQ(probe->LineErrors(), 0u) << "what the handler was given is taken";
    }
}

TEST_F(ThreadsPort, ClosingWritesTheLogAndTheTraceBeforeTheDispatcherGoes)
{
    port->LogName = File("close.log");
    port->TraceName = File("close.trc");
    port->SetOpen(true);
    ASSERT_NO_FATAL_FAILURE(TakeEchoes());
    port->SetLogging(tlOn);
    port->SetTracing(tlOn);
    ASSERT_TRUE(RoundTrip("AB\r"));
    const std::string device = port->CurrentDispatcher()->DeviceName;

    // The dumps come first in the close: the clients told of its start find both files
    // written and the dispatcher still there.
    bool closingSeen = false;
    std::string logAtClosing, traceAtClosing;
    bool dispatcherAtClosing = false;
    port->RegisterNotification(this, [&](TSioCustomComPort* p, TSioNotifyKind kind) {
        if (kind != snClosing) return;
        closingSeen = true;
        logAtClosing = ReadWholeFile(port->LogName);
        traceAtClosing = ReadWholeFile(port->TraceName);
        dispatcherAtClosing = p->CurrentDispatcher() != nullptr;
    }, true);
    port->SetOpen(false);
    ASSERT_TRUE(closingSeen);
    EXPECT_TRUE(dispatcherAtClosing);
    EXPECT_EQ(port->Logging(), tlOff);
    EXPECT_EQ(port->Tracing(), tlOff);

    EXPECT_EQ(traceAtClosing, "Transmit: \r\nAB[0D]\r\n\r\nReceive: \r\nAB[0D]");
    EXPECT_EQ(ReadWholeFile(port->TraceName), traceAtClosing);

    const std::string log = ReadWholeFile(port->LogName);
    EXPECT_EQ(logAtClosing, log);
    const std::vector<std::string> lines = Lines(log);
    ASSERT_GE(lines.size(), 10u) << log;
    EXPECT_EQ(lines[0], "SIOLIB v1.00");
    EXPECT_EQ(lines[1], "Compiler : " + SioCompilerText());
    EXPECT_EQ(lines[2], "Operating System : " + SioOperatingSystemText());
    EXPECT_EQ(lines[3], "Device: " + device);
    EXPECT_EQ(device, "COM" + EnvText("TAVRIN_TEST_COM"));
    EXPECT_TRUE(std::regex_match(lines[4], std::regex(R"(Date/time: \d\d/\d\d/\d\d, \d\d:\d\d:\d\d)"))) << lines[4];
    EXPECT_EQ(lines[5], "Time      Type      SubType       Data      OtherData");
    EXPECT_EQ(lines[6], "--------  --------  ------------  --------  ---------");

    // The records: what was queued, what was read (in one piece or more), the data trigger.
    const std::regex record(R"((\d{4}\.\d{3})  (.{8})  (.{12})  ([0-9a-f]{8})  (.*))");
    double last = 0;
    std::vector<std::string> kinds;
    unsigned readCount = 0;
    std::string readBytes;
    for (size_t i = 7; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, record)) << "line " << i << ": " << lines[i];
        const double time = std::stod(m[1].str());
        EXPECT_GE(time, last) << lines[i];
        last = time;
        const std::string kind = m[2].str() + "|" + m[3].str();
        if (kind == "Dispatch|ReadCom     ") {
            readCount += static_cast<unsigned>(std::stoul(m[4].str(), nullptr, 16));
            readBytes += m[5].str();
            if (!kinds.empty() && kinds.back() == kind) continue;
        }
        kinds.push_back(kind);
        if (kind == "Dispatch|WriteCom    ") {
            EXPECT_EQ(m[4].str() + "  " + m[5].str(), "00000003  AB[0D]");
        }
    }
    EXPECT_EQ(kinds, (std::vector<std::string>{"Dispatch|WriteCom    ", "Dispatch|ReadCom     ",
                                               "Trigger |Data        "}));
    EXPECT_EQ(readCount, 3u);
    EXPECT_EQ(readBytes, "AB[0D]");
}

DCB DeviceState(TSioBaseDispatcher* d)
{
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    auto* win32 = dynamic_cast<TSioWin32Dispatcher*>(d);
    EXPECT_NE(win32, nullptr);
    if (win32) {
        EXPECT_TRUE(GetCommState(win32->DeviceHandle(), &dcb)) << GetLastError();
    }
    return dcb;
}

TEST_F(ThreadsPort, XOnXOffFlowAndItsCharactersReachTheDevice)
{
    UseProbe();
    port->SetInSize(1000);
    port->SetOpen(true);
    const struct {
        const char* name;
        TSWFlowOptions options;
        bool inX, outX;
    } cases[] = {
        {"Receive", swfReceive, true, false},
        {"Transmit", swfTransmit, false, true},
        {"Both", swfBoth, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        port->SetSWFlowOptions(c.options);
        EXPECT_EQ(port->SWFlowOptions(), c.options);
        DCB dcb = DeviceState(probe);
        EXPECT_EQ(dcb.fInX != 0, c.inX);
        EXPECT_EQ(dcb.fOutX != 0, c.outX);
        EXPECT_EQ(dcb.XonChar, 17);
        EXPECT_EQ(dcb.XoffChar, 19);
        // Wine reports fixed limits; the dispatcher keeps what it wrote.
        EXPECT_EQ(port->BufferFull(), 750u);
        EXPECT_EQ(port->BufferResume(), 250u);
        if (c.inX) {
            EXPECT_EQ(probe->CachedState().XoffLim, 1000 - 750);
            EXPECT_EQ(probe->CachedState().XonLim, 250);
        }
        port->SetSWFlowOptions(swfNone);
        dcb = DeviceState(probe);
        EXPECT_FALSE(dcb.fInX);
        EXPECT_FALSE(dcb.fOutX);
    }
    port->SetBufferFull(800);
    port->SetSWFlowOptions(swfReceive);
    EXPECT_EQ(probe->CachedState().XoffLim, 200) << "a new threshold is applied with the flow";

    port->SetXOnChar(5);
    port->SetXOffChar(6);
    EXPECT_EQ(port->XOnChar(), 5);
    EXPECT_EQ(port->XOffChar(), 6);
    const DCB dcb = DeviceState(probe);
    EXPECT_EQ(dcb.XonChar, 5);
    EXPECT_EQ(dcb.XoffChar, 6);
    EXPECT_TRUE(dcb.fInX) << "the flow stays as it was";
    port->SetSWFlowOptions(swfNone);

    ASSERT_NO_FATAL_FAILURE(TakeEchoes());
    EXPECT_TRUE(RoundTrip("STILL\r")) << "the port carries data after the changes";
}

TEST_F(ThreadsPort, RS485ModeReachesTheDispatcherAndRTSFlowTakesItBack)
{
    UseProbe();
    port->SetOpen(true);
    port->SetHWFlowOptions(hwfRequireCTS);
    EXPECT_TRUE(DeviceState(probe).fOutxCtsFlow);
    EXPECT_FALSE(probe->RS485());

    port->SetRS485Mode(true);
    EXPECT_TRUE(port->RS485Mode());
    EXPECT_TRUE(probe->RS485()) << "passed to the dispatcher";
    EXPECT_FALSE(port->RTS());
    EXPECT_EQ(port->HWFlowOptions(), 0u) << "RS-485 mode takes the RTS and CTS flow away";

    // In RS-485 mode the hardware flow toggles RTS with the output; Wine has no RTS toggle
    // and refuses the state (ERROR_NOT_SUPPORTED).
    const auto asked = [this](DWORD control) {
        return std::count(probe->RtsControls.begin(), probe->RtsControls.end(), control);
    };
    probe->RtsControls.clear();
    try {
        port->SetHWFlowOptions(hwfRequireDSR);
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode, static_cast<int>(ERROR_NOT_SUPPORTED)) << e.what();
    }
    EXPECT_EQ(asked(RTS_CONTROL_TOGGLE), 1);

    // RTS handshake ends RS-485 mode: the device is asked for the handshake, not the toggle.
    // (Wine reads RTS handshake back as RTS on with CTS flow.)
    probe->RtsControls.clear();
    EXPECT_NO_THROW(port->SetHWFlowOptions(hwfUseRTS));
    EXPECT_FALSE(port->RS485Mode());
    EXPECT_FALSE(probe->RS485()) << "the dispatcher stayed in RS-485 mode";
    EXPECT_EQ(asked(RTS_CONTROL_TOGGLE), 0);
    EXPECT_EQ(asked(RTS_CONTROL_HANDSHAKE), 1);
    EXPECT_TRUE(DeviceState(probe).fOutxCtsFlow);
}

TEST_F(ThreadsPort, TraceAndLogSizesOnAnOpenPortStartTheirRecordsAgain)
{
    port->SetOpen(true);
    TSioBaseDispatcher* d = port->CurrentDispatcher();
    const auto locked = [d](auto f) {
        decltype(f()) r{};
        d->WithGeneralLock([&] { r = f(); });
        return r;
    };
    port->SetTracing(tlOn);
    port->SetLogging(tlOn);
    port->SendString("ABC");
    EXPECT_EQ(locked([d] { return d->Trace.Count(); }), 3u);

    port->SetTraceSize(2);
    EXPECT_EQ(port->TraceSize(), 2u);
    EXPECT_EQ(port->Tracing(), tlOn);
    EXPECT_EQ(locked([d] { return d->Trace.TraceSize; }), 2u);
    EXPECT_EQ(locked([d] { return d->Trace.Count(); }), 0u) << "started again, empty";
    port->SendString("XYZ");
    EXPECT_EQ(locked([d] { return d->Trace.Count(); }), 2u) << "the new size holds the entries";

    port->SetLogSize(200);
    EXPECT_EQ(port->LogSize(), 200u);
    EXPECT_EQ(port->Logging(), tlOn);
    EXPECT_EQ(locked([d] { return d->Log.LogSize; }), 200u);
    EXPECT_EQ(locked([d] { return d->Log.UsedBytes(); }), 0u);
    for (int i = 0; i < 10; ++i) port->SendString("0123456789");  // 26 bytes a record
    const unsigned used = locked([d] { return d->Log.UsedBytes(); });
    EXPECT_GT(used, 0u);
    EXPECT_LE(used, 200u);

    // Paused, a trace and a log end up off; sizes are capped.
    port->SetTracing(tlPause);
    port->SetLogging(tlPause);
    port->SetTraceSize(5000000);
    port->SetLogSize(20000000);
    EXPECT_EQ(port->TraceSize(), 4000000u);
    EXPECT_EQ(port->LogSize(), 16000000u);
    EXPECT_EQ(port->Tracing(), tlOff);
    EXPECT_EQ(port->Logging(), tlOff);
    EXPECT_FALSE(locked([d] { return d->Trace.HasBuffer(); }));
    EXPECT_FALSE(locked([d] { return d->Log.HasBuffer(); }));
}

TEST_F(ThreadsPort, AnInputFlushDropsAHalfCollectedPacketAndTheNextComesWhole)
{
    port->SetOpen(true);
    packet = std::make_unique<TSioDataPacket>(nullptr);
    packet->SetComPort(port.get());
    packet->StartCond = scAnyData;
    packet->SetEndCond(ecString);
    packet->SetEndString("\n");
    packet->TimeOut = 0;
    std::vector<std::string> packets;
    packet->OnStringPacket = [&](TObject*, const std::string& data) { packets.push_back(data); };
    packet->SetEnabled(true);

    port->SendString("HALF");
    ASSERT_TRUE(PumpUntil([&] { return packet->Manager()->Buffered() == 4; }, kBoundMs))
        << "the half packet did not reach the collector";
    port->FlushInput();
    EXPECT_EQ(packet->Manager()->Buffered(), 0u) << "the half packet stays in the collector";
    EXPECT_TRUE(packet->Enabled());
    port->SendString("WHOLE\n");
    ASSERT_TRUE(PumpUntil([&] { return !packets.empty(); }, kBoundMs)) << "the next packet never came";
    port->SendString("NEXT\n");
    ASSERT_TRUE(PumpUntil([&] { return packets.size() > 1; }, kBoundMs));
    EXPECT_EQ(packets, (std::vector<std::string>{"WHOLE\n", "NEXT\n"}));
}

// A pty ignores CTS (with hwfRequireCTS and the peer's CTS low the bytes still go), so the
// write is held by the driver's XOFF state: SETXOFF stops the pty's output as a received
// XOFF does, SETXON starts it again.
TEST_F(ThreadsPort, AnOutputFlushWhileFlowControlHoldsAWriteDropsItAndLaterSendsGo)
{
    UseProbe();
    port->SetOpen(true);
    ASSERT_NO_FATAL_FAILURE(TakeEchoes());
    port->SetSWFlowOptions(swfTransmit);
    ASSERT_TRUE(RoundTrip("FIRST\r"));

    // The driver holds its output as if the peer had sent XOFF.
    ASSERT_EQ(probe->EscapeFunction(SETXOFF), 0);
    ResetEvent(probe->WriteBegun.Get());
    port->SendString("HELD\r");
    ASSERT_EQ(WaitForSingleObject(probe->WriteBegun.Get(), kBoundMs), WAIT_OBJECT_0);
    EXPECT_EQ(probe->OutputUsedCount(), 5u) << "the write went through in spite of the XOFF";

    const double before = NowMs();
    port->FlushOutput();
    EXPECT_LT(NowMs() - before, 2500.0) << "the flush waited for the held write";
    EXPECT_EQ(probe->OutputUsedCount(), 0u);

    // Flow resumes: nothing of the held write leaves, and what is sent now goes through.
    ASSERT_EQ(probe->EscapeFunction(SETXON), 0);
    ASSERT_TRUE(RoundTrip("AFTER\r"));
    EXPECT_EQ(PeerReceived(), "FIRST\rAFTER\r");
    port->SetSWFlowOptions(swfNone);
}

}  // namespace
