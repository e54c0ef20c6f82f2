// The port component on real COM ports: ptys linked by tools/vr7sim.py, with the simulated
// instrument on their far ends and the modem-line library preloaded.
#include "GuiSupport.h"
#include "ProcessSupport.h"
#include "InstrumentSupport.h"
#include "SioExcept.h"
#include "SioPacket.h"
#include "SioPort.h"
#include "SioSelCom.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <memory>

namespace {

int TestCom(const char* name = "TAVRIN_TEST_COM")
{
    return std::stoi(EnvText(name));
}

class ComPort : public testing::Test {
protected:
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
    port->SetOpen(true);  // the first open makes what stays: the window class, the toolkit's window
    port->SetOpen(false);
    const int threads = ThreadCount();
    const DWORD handles = HandleCount();
    for (int i = 0; i < 20; ++i) {
        port->SetOpen(true);
        ASSERT_TRUE(port->Open());
        port->SendString("PGM1\r");
        port->SetOpen(false);
    }
    EXPECT_EQ(ThreadCount(), threads);
    EXPECT_EQ(HandleCount(), handles);
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
    packet.SetComPort(port.get());
    packet.StartCond = scAnyData;
    packet.SetEndCond(ecString);
    packet.SetEndString("\n");
    packet.TimeOut = 0;
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

}  // namespace
