// The port component on real COM ports: ptys linked by tools/vr7sim.py, with the simulated
// instrument on their far ends and the modem-line library preloaded.
#include "GuiSupport.h"
#include "ProcessSupport.h"
#include "InstrumentSupport.h"
#include "SioExcept.h"
#include "SioPacket.h"
#include "SioPort.h"
#include "SioSelCom.h"
#include "SioWin32.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <memory>
#include <set>

namespace {

int TestCom(const char* name = "TAVRIN_TEST_COM")
{
    return std::stoi(EnvText(name));
}

// The collector as tavrin sets it: any data starts a reply, LF ends it, no time-out.
void ConfigureAsTavrin(TSioDataPacket& packet, TSioCustomComPort& port)
{
    packet.SetComPort(&port);
    packet.StartCond = scAnyData;
    packet.SetEndCond(ecString);
    packet.SetEndString("\n");
    packet.TimeOut = 0;
}

class ComPort : public testing::Test {
protected:
    // What the process holds once a port has been opened and closed: the first open makes
    // what stays (the window class, the toolkit's window).
    struct TBaseline {
        std::set<DWORD> Threads;
        DWORD Handles = 0;
    };
    TBaseline Baseline()
    {
        const std::set<DWORD> atStart = ThreadIds();
        port->SetOpen(true);
        port->SetOpen(false);
        EXPECT_TRUE(NewThreadsEnd(atStart));
        return {ThreadIds(), HandleCount()};
    }
    void ExpectBackTo(const TBaseline& baseline)
    {
        ASSERT_TRUE(NewThreadsEnd(baseline.Threads)) << "a thread of the port still runs";
        EXPECT_EQ(ThreadIds(), baseline.Threads);
        EXPECT_EQ(HandleCount(), baseline.Handles) << "the device and its events go with the port";
    }

    void SetUp() override
    {
        port = std::make_unique<TSioComPort>(nullptr);
        port->SetComNumber(TestCom());
        port->SetBaud(115200);
        port->SetInSize(1024);
        port->SetOutSize(1024);
        port->PromptForPort = false;
        port->AutoOpen = false;
    }
    std::unique_ptr<TSioComPort> port;
};

TEST_F(ComPort, ASentLineReachesTheInstrumentAndItsReplyComesIn)
{
    port->SetOpen(true);
    unsigned offered = 0;
    port->OnTriggerAvail = [&](TObject*, unsigned count) { offered = count; };
    port->TriggerEventsChanged();
    port->CurrentDispatcher()->SetAvailThreshold(7);
    port->SendString("TXTHOST1\r");
    ASSERT_TRUE(PumpUntil([&] { return offered >= 7; }));
    EXPECT_EQ(port->CurrentDispatcher()->InputCount(), 7u);
    char reply[8] = {};
    EXPECT_EQ(port->CurrentDispatcher()->TakeInput(reply, 7), 7);
    EXPECT_STREQ(reply, "READY\r\n");
    EXPECT_EQ(Transcript(), "TXTHOST1\r");
}

TEST_F(ComPort, AnUnknownPortOrNoneRaisesItsCodeAndLeavesNothingOpen)
{
    const int threads = ThreadCount();
    port->SetComNumber(251);  // nothing is linked there
    try {
        port->SetOpen(true);
        FAIL();
    } catch (const EBadId& e) {
        EXPECT_EQ(e.ErrorCode, -2001);
    }
    EXPECT_FALSE(port->Open());
    EXPECT_EQ(port->CurrentDispatcher(), nullptr);
    EXPECT_EQ(ThreadCount(), threads);

    port->SetComNumber(0);
    try {
        port->SetOpen(true);
        FAIL();
    } catch (const ENoPortSelected& e) {
        EXPECT_EQ(e.ErrorCode, -2011);
    }
}

TEST_F(ComPort, OpeningAndClosingTwentyTimesLeavesNoThreadOrHandle)
{
    const TBaseline baseline = Baseline();
    for (int i = 0; i < 20; ++i) {
        port->SetOpen(true);
        ASSERT_TRUE(port->Open());
        port->SendString("PGM1\r");
        port->SetOpen(false);
    }
    ExpectBackTo(baseline);
}

TEST_F(ComPort, ANewComNumberWhileOpenMovesToTheOtherPort)
{
    unsigned offered = 0;
    port->OnTriggerAvail = [&](TObject*, unsigned count) { offered = count; };
    port->SetOpen(true);
    const auto exchange = [&](const char* command) {
        offered = 0;
        port->CurrentDispatcher()->SetAvailThreshold(7);
        port->SendString(command);
        return PumpUntil([&] { return offered >= 7; });  // the instrument's READY
    };
    ASSERT_TRUE(exchange("A\r"));
    port->SetComNumber(TestCom("TAVRIN_TEST_COM2"));
    EXPECT_TRUE(port->Open());
    ASSERT_TRUE(exchange("B\r"));
    const std::string log = ReadWholeFile(PeerFile("log"));
    EXPECT_EQ(log, "serial A\nserial2 B\n");
}

TEST_F(ComPort, ATapiLineOpensOnTheHandleItWasGivenAndGoesWithThePort)
{
    // The modem-line service's part: the device opened overlapped and handed over.
    const std::string device = "\\\\.\\COM" + std::to_string(TestCom());
    HANDLE line = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(line, INVALID_HANDLE_VALUE);
    port->SetComNumber(251);  // nothing is linked there: the line has no device name
    port->TapiMode = tmOn;
    port->SetTapiLineHandle(line);
    port->SetOpen(true);
    ASSERT_TRUE(port->Open());
    auto* d = dynamic_cast<TSioTAPI32Dispatcher*>(port->CurrentDispatcher());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->DeviceHandle(), line);
    EXPECT_EQ(port->TapiLineHandle(), nullptr) << "taken over";

    unsigned offered = 0;
    port->OnTriggerAvail = [&](TObject*, unsigned count) { offered = count; };
    d->SetAvailThreshold(7);
    port->SendString("TXTHOST1\r");
    ASSERT_TRUE(PumpUntil([&] { return offered >= 7; }));
    char reply[8] = {};
    EXPECT_EQ(d->TakeInput(reply, 7), 7);
    EXPECT_STREQ(reply, "READY\r\n");
    port->SetOpen(false);
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(line, &flags)) << "closed with the port";

    // Without a new line the next open has nothing to open.
    EXPECT_THROW(port->SetOpen(true), EInOutError);
    EXPECT_FALSE(port->Open());
    EXPECT_EQ(port->CurrentDispatcher(), nullptr);
}

TEST_F(ComPort, ADroppedCtsReachesTheModemStatusEvent)
{
    port->SetOpen(true);
    int events = 0;
    port->OnTriggerModemStatus = [&](TObject*) { ++events; };
    port->TriggerEventsChanged();
    port->CurrentDispatcher()->NewStatusTrigger(skModem, static_cast<uint16_t>((SioCTS << 8) | SioCTS));
    const std::string lines = FromUnixPath(EnvText("PTYMODEM_DIR") + "/pts" + EnvText("TAVRIN_TEST_PTS") + ".in");
    WriteWholeFile(lines, "320\n");  // DSR and CD up, CTS down (Linux line bits)
    ASSERT_TRUE(PumpUntil([&] { return events > 0; }));
    EXPECT_EQ(port->CurrentDispatcher()->ReadModemStatus(240) & SioCTS, 0);
}

TEST_F(ComPort, ThePacketCollectorAsTavrinSetsItDeliversEachReplyOnTheGuiThread)
{
    port->SetOpen(true);
    TSioDataPacket packet(nullptr);
    ConfigureAsTavrin(packet, *port);
    std::vector<std::string> replies;
    std::vector<DWORD> threads;
    packet.OnStringPacket = [&](TObject*, const std::string& data) {
        replies.push_back(data);
        threads.push_back(GetCurrentThreadId());
    };
    packet.SetEnabled(true);
    WriteScript({"reply TXT VR7 V1.00 0C\\r\\nREADY\\r\\n", "split REA|DY\\r|\\n"});
    port->SendString("TXTHOST1\r");
    ASSERT_TRUE(PumpUntil([&] { return replies.size() >= 2; }));
    port->SendString("TXTNAME00TEST\r");
    ASSERT_TRUE(PumpUntil([&] { return replies.size() >= 3; }));
    EXPECT_EQ(replies, (std::vector<std::string>{"TXT VR7 V1.00 0C\r\n", "READY\r\n", "READY\r\n"}));
    for (DWORD id : threads) EXPECT_EQ(id, MainThreadID);
    packet.SetEnabled(false);
}

TEST_F(ComPort, APacketHandlerMayDisableTheCollectorSendAndCloseThePort)
{
    TSioDataPacket packet(nullptr);
    ConfigureAsTavrin(packet, *port);
    const TBaseline baseline = Baseline();

    // MORE comes in the same write as HELLO: it goes with the port and never reaches the
    // handler. BYE gets no answer; PONG answers PING. A few rounds, for the line sent just
    // before the close is lost only now and then when the close drops it.
    const int rounds = 8;
    std::vector<std::string> steps;
    for (int n = 0; n < rounds; ++n) steps.insert(steps.end(), {"reply HELLO\\r\\nMORE\\r\\n", "silence"});
    steps.push_back("reply PONG\\r\\n");
    WriteScript(steps);
    std::string expected, log;
    for (int n = 1; n <= rounds; ++n) {
        const std::string hello = "TXTHOST" + std::to_string(n) + "\r", bye = "BYE" + std::to_string(n) + "\r";
        port->SetOpen(true);
        std::vector<std::string> packets;
        packet.OnStringPacket = [&](TObject*, const std::string& data) {
            packets.push_back(data);
            packet.SetEnabled(false);
            port->SendString(bye);
            port->SetOpen(false);
        };
        packet.SetEnabled(true);
        port->SendString(hello);
        ASSERT_TRUE(PumpUntil([&] { return !packets.empty() && port->State() == psClosed; }))
            << "round " << n << ": the close from inside the delivery ends; the instrument read " << Transcript();
        EXPECT_EQ(packets, (std::vector<std::string>{"HELLO\r\n"})) << "round " << n;
        EXPECT_FALSE(packet.Enabled());
        EXPECT_FALSE(port->Open());
        EXPECT_EQ(port->CurrentDispatcher(), nullptr);
        EXPECT_FALSE(packet.Manager()->HandlerEnabled());
        expected += hello + bye;
        log += "serial " + hello.substr(0, hello.size() - 1) + "\nserial " + bye.substr(0, bye.size() - 1) + "\n";
    }
    ExpectBackTo(baseline);

    // The port opens again and works; PING reaches the instrument after the last BYE.
    port->SetOpen(true);
    ASSERT_TRUE(packet.Manager()->HandlerEnabled()) << "the collector is the port's handler again";
    std::vector<std::string> second;
    packet.OnStringPacket = [&](TObject*, const std::string& data) { second.push_back(data); };
    packet.SetEnabled(true);
    port->SendString("PING\r");
    ASSERT_TRUE(PumpUntil([&] { return !second.empty(); })) << "the instrument read " << Transcript();
    EXPECT_EQ(second, (std::vector<std::string>{"PONG\r\n"}));
    EXPECT_EQ(Transcript(), expected + "PING\r") << "each line sent before the close reached the instrument";
    EXPECT_EQ(ReadWholeFile(PeerFile("log")), log + "serial PING\n");
    packet.SetEnabled(false);
    port->SetOpen(false);
    ExpectBackTo(baseline);
}

}  // namespace
