// The USB port against the stand-in driver, whose converters lead to the simulated
// instrument; each case runs under tools/vr7sim.py.
#include "GuiSupport.h"
#include "InstrumentSupport.h"
#include "Timer.h"
#include "USBComPort.h"
#include "UtilWindow.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

namespace {

class USBPort : public testing::Test {
protected:
    void SetUp() override
    {
        serial = "VR" + std::to_string(GetCurrentProcessId());
        com = 100 + GetCurrentProcessId() % 150;
        registry.Add(serial, ("COM" + std::to_string(com)).c_str());
        driver.Configure(TStandInDriver::Device(serial));
        port = std::make_unique<TUSBComPort>(nullptr);
        port->SetEndChar('\n');
        port->SetTimeOut(0);
        port->OnPacket = [this](TObject* sender, const std::string& packet) {
            EXPECT_EQ(sender, port.get());
            packets.push_back(packet);
            packetThreads.push_back(GetCurrentThreadId());
        };
    }

    void OpenPort()
    {
        port->SetComNumber(com);
        port->SetOpen(true);
    }

    // Sends a command and pumps until `count` lines have come back.
    bool SendAndWait(const std::string& command, size_t count)
    {
        port->SendData(command);
        return PumpUntil([&] { return packets.size() >= count; });
    }

    std::string ErrorOf(const std::function<void()>& action)
    {
        try {
            action();
        } catch (const EUSBPortError& e) {
            return e.what();
        }
        return "no error";
    }

    std::string serial;
    int com = 0;
    TFtdiRegistry registry;
    TStandInDriver driver;
    std::unique_ptr<TUSBComPort> port;
    std::vector<std::string> packets;
    std::vector<DWORD> packetThreads;
};

TEST_F(USBPort, RepliesAreCutIntoLinesAtEndChar)
{
    WriteScript({"reply OK\\r\\n", "reply A\\nB\\n", "split PAR|TIAL\\n"});
    OpenPort();
    ASSERT_TRUE(SendAndWait("TXTHOST1\r", 1));
    EXPECT_EQ(packets[0], "OK\r\n");
    ASSERT_TRUE(SendAndWait("X\r", 3));
    EXPECT_EQ(packets[1], "A\n");
    EXPECT_EQ(packets[2], "B\n");
    ASSERT_TRUE(SendAndWait("Y\r", 4));
    EXPECT_EQ(packets[3], "PARTIAL\n");  // the first piece waited for the second
    EXPECT_EQ(packets.size(), 4u);
    for (DWORD id : packetThreads) EXPECT_EQ(id, MainThreadID);
    EXPECT_EQ(Transcript(), "TXTHOST1\rX\rY\r");
}

TEST_F(USBPort, MoreThanTheBufferHoldsIsReadInPiecesAndArrivesWhole)
{
    driver.Configure(TStandInDriver::Device(serial, "batch 5000"));
    WriteScript({"reply " + std::string(4999, 'x') + "\\n"});
    OpenPort();
    EXPECT_EQ(port->InSize(), 4096);
    ASSERT_TRUE(SendAndWait("TXTHOST1\r", 1));
    EXPECT_EQ(packets[0], std::string(4999, 'x') + "\n");
    const std::string log = driver.Log();
    EXPECT_NE(log.find("FT_GetStatus 5000 -> 0"), std::string::npos) << log;
    EXPECT_NE(log.find("FT_Read 4096 4096 -> 0"), std::string::npos) << log;
    EXPECT_NE(log.find("FT_Read 904 904 -> 0"), std::string::npos) << log;
    EXPECT_EQ(log.find("FT_Read 5000"), std::string::npos) << "never more than the buffer";
}

// A thousand lines at once arrive whole and in order, a batch per read step, and a message
// posted after the first one is handled long before the last: the user is not locked out.
TEST_F(USBPort, ABurstIsHandedOverInBatchesAndLeavesTheGuiThreadFree)
{
    WriteScript({"lines 1000 12"});
    size_t seenAt = 0;
    TUtilWindow window([&](UINT message, WPARAM, LPARAM, LRESULT&) {
        if (message != WM_APP + 7) return false;
        seenAt = packets.size();
        return true;
    });
    const auto record = port->OnPacket;
    port->OnPacket = [&](TObject* sender, const std::string& line) {
        if (packets.empty()) PostMessageA(window.Handle(), WM_APP + 7, 0, 0);
        record(sender, line);
    };
    OpenPort();
    ASSERT_TRUE(SendAndWait("TXTHOST1\r", 1000));
    for (size_t i = 0; i < packets.size(); ++i) {
        char expected[16];
        snprintf(expected, sizeof expected, "L%07u---\n", static_cast<unsigned>(i));
        ASSERT_EQ(packets[i], expected) << i;
    }
    EXPECT_GT(seenAt, 0u);
    EXPECT_LE(seenAt, static_cast<size_t>(2 * TUSBComPort::BatchLines)) << "the posted message waited for the burst";
}

// A line that never ends is dropped once it passes MaxLength, up to its end; the next
// line comes through, and so does a line after a partial one that was cleared.
TEST_F(USBPort, AnOverlongLineIsDroppedAndAClearedPartialLineIsGone)
{
    port->MaxLength = 100;
    OpenPort();
    WriteScript({"now bytes 100000 X", "now reply \\nOK\\r\\n"});
    ASSERT_TRUE(PumpUntil([&] { return !packets.empty(); }));
    EXPECT_EQ(packets, std::vector<std::string>{"OK\r\n"});

    WriteScript({"reply XYZ", "reply READY\\r\\n"});
    port->SendData("A\r");
    // The three bytes are read, and wait for their end.
    ASSERT_TRUE(PumpUntil([&] { return driver.Log().find("FT_Read 3 3 -> 0") != std::string::npos; }));
    port->ClearPending();
    ASSERT_TRUE(SendAndWait("B\r", 2));
    EXPECT_EQ(packets[1], "READY\r\n");
}

TEST_F(USBPort, AFailingStepOfTheOpenRaisesItsTextAndLeavesNothingOpen)
{
    const struct {
        const char* failure;
        const char* message;
        bool closes;  // the handle FT_OpenEx gave is closed again
    } cases[] = {
        {"fail FT_OpenEx 2", "Error Opening USBPort:  Device Not Found", false},
        {"fail FT_SetEventNotification 1", "Error Opening USBPort:  Invalid Handle", true},
        {"fail FT_SetDataCharacteristics 6", "Error Opening USBPort:  Invalid Parameter", true},
        {"fail FT_SetBaudRate 5", "Error Opening USBPort:  Insufficient Resources", true},
        {"fail FT_SetBaudRate 3", "Error Opening USBPort:  Device Not Opened", true},
        {"fail FT_SetBaudRate 4", "Error Opening USBPort:  General IO Error", true},
        {"fail FT_OpenEx 17", "Error Opening USBPort:  Unspecified USBPort Error", false},
    };
    port->SetComNumber(com);
    for (const auto& c : cases) {
        driver.Configure(TStandInDriver::Device(serial) + c.failure + "\n");
        const size_t logBefore = driver.Log().size();
        EXPECT_EQ(ErrorOf([&] { port->SetOpen(true); }), c.message) << c.failure;
        EXPECT_FALSE(port->Open()) << c.failure;
        const std::string log = driver.Log().substr(logBefore);
        EXPECT_EQ(log.find("FT_Close") != std::string::npos, c.closes) << c.failure << "\n" << log;
    }
    // Nothing was left open: the device opens now that the driver behaves.
    driver.Configure(TStandInDriver::Device(serial));
    port->SetOpen(true);
    EXPECT_TRUE(port->Open());
}

TEST_F(USBPort, FailuresAfterTheOpenRaiseTheirTexts)
{
    OpenPort();
    driver.Configure(TStandInDriver::Device(serial) + "fail FT_Write 4\n");
    EXPECT_EQ(ErrorOf([&] { port->SendData("TXTHOST1\r"); }), "Error sending data:  General IO Error");
    EXPECT_TRUE(port->Open());

    driver.Configure(TStandInDriver::Device(serial) + "fail FT_Close 3\n");
    EXPECT_EQ(ErrorOf([&] { port->SetOpen(false); }), "Error Closing USBPort:  Device Not Opened");
    EXPECT_FALSE(port->Open());  // recorded as closed all the same

    driver.Configure(TStandInDriver::Device(serial));
    port->SetOpen(true);
    EXPECT_TRUE(port->Open());
    EXPECT_EQ(ErrorOf([&] { port->SetOpen(true); }), "no error");  // unchanged: nothing happens
}

TEST_F(USBPort, AReadFailureIsReportedOnTheGuiThreadAndTheReaderGoesOn)
{
    TRecordingSink sink;
    OpenPort();
    driver.Configure(TStandInDriver::Device(serial) + "fail FT_GetStatus 4\n");
    port->SendData("TXTHOST1\r");
    ASSERT_TRUE(PumpUntil([&] { return !sink.Requests.empty(); }));
    EXPECT_EQ(sink.Requests[0].Text, "Error receiving data:  General IO Error.");
    driver.Configure(TStandInDriver::Device(serial));
    // The first READY is still buffered in the driver; the next event takes both.
    ASSERT_TRUE(SendAndWait("TXTNAME00TEST\r", 2));
    EXPECT_EQ(packets[0], "READY\r\n");
    EXPECT_EQ(packets[1], "READY\r\n");
}

TEST_F(USBPort, TheComNumberIsLookedUpAndAnUnknownOneIsRefused)
{
    port->SetComNumber(com);
    EXPECT_EQ(port->ComNumber(), com);
    EXPECT_EQ(port->SerialNumber(), serial);

    EXPECT_EQ(ErrorOf([&] { port->SetComNumber(com + 1); }), "Error setting COM Number:  Device Not Found");
    EXPECT_EQ(port->ComNumber(), com);
    EXPECT_EQ(port->SerialNumber(), serial);

    driver.Configure(TStandInDriver::Device(serial) + "fail FT_ListDevices 4\n");
    EXPECT_EQ(ErrorOf([&] { port->SetComNumber(com + 2); }), "Error setting COM Number:  General IO Error");
    driver.Configure("");
    EXPECT_EQ(ErrorOf([&] { port->SetComNumber(com + 2); }), "Error setting COM Number:  Unspecified USBPort Error");
    EXPECT_EQ(port->ComNumber(), com);

    driver.Configure(TStandInDriver::Device(serial));
    OpenPort();
    port->SetComNumber(0);  // closes, and the number stays
    EXPECT_FALSE(port->Open());
    EXPECT_EQ(port->ComNumber(), com);
}

TEST_F(USBPort, ListFtdiComPortsReadsTheRegistryForEachConverter)
{
    std::string stem = "L";
    stem += std::to_string(GetCurrentProcessId());
    registry.Add(stem + "a", "COM7");
    registry.Add(stem + "b", nullptr);      // a key without PortName
    registry.Add(stem + "c", "COMx");       // malformed
    registry.Add(stem + "d", "COM");        // no number
    registry.Add(stem + "e", "COM300");     // beyond any COM number
    // stem + "f" has no key at all
    std::string config;
    for (const std::string s : {"a", "b", "c", "d", "e", "f"}) config.append(TStandInDriver::Device(stem + s));
    driver.Configure(config + TStandInDriver::Device(serial));
    TUSBPortArray ports = {99};
    ListFtdiComPorts(ports);
    const TUSBPortArray expected = {7, com};
    EXPECT_EQ(ports, expected);
    EXPECT_EQ(FtdiComNumber(stem + "a"), 7);
    EXPECT_EQ(FtdiComNumber(stem + "c"), 0);
    EXPECT_EQ(FtdiComNumber(stem + "f"), 0);

    driver.Configure("fail FT_ListDevices 4\n");
    ListFtdiComPorts(ports);
    EXPECT_TRUE(ports.empty());
}

TEST_F(USBPort, PropertiesReadBackAndTheLineIsSetAtOpen)
{
    TUSBComPort fresh(nullptr);
    EXPECT_EQ(fresh.ComNumber(), 0);
    EXPECT_EQ(fresh.BaudRate(), br115200);
    EXPECT_EQ(fresh.DataBits(), db8);
    EXPECT_EQ(fresh.Parity(), pNone);
    EXPECT_EQ(fresh.StopBits(), sb1);
    EXPECT_EQ(fresh.InSize(), 4096);
    EXPECT_EQ(fresh.TimeOut(), 1000);
    EXPECT_FALSE(fresh.Open());
    EXPECT_FALSE(fresh.Enabled());
    EXPECT_EQ(fresh.EndChar(), '\r');
    EXPECT_EQ(fresh.Priority(), tpNormal);

    fresh.SetBaudRate(br__9600);
    EXPECT_EQ(fresh.BaudRate(), br__9600);
    fresh.SetPriority(tpLowest);
    EXPECT_EQ(fresh.Priority(), tpNormal);
    fresh.SetPriority(tpHigher);
    EXPECT_EQ(fresh.Priority(), tpHigher);

    OpenPort();
    EXPECT_TRUE(port->Enabled());
    EXPECT_NE(driver.Log().find("FT_SetDataCharacteristics 8 0 0 -> 0"), std::string::npos);
    EXPECT_NE(driver.Log().find("FT_SetBaudRate 115200 -> 0"), std::string::npos);
    port->SetOpen(false);
    port->SetDataBits(db7);
    port->SetStopBits(sb2);
    port->SetParity(pEven);
    port->SetBaudRate(br_19200);
    port->SetOpen(true);
    EXPECT_NE(driver.Log().find("FT_SetDataCharacteristics 7 2 2 -> 0"), std::string::npos);
    EXPECT_NE(driver.Log().find("FT_SetBaudRate 19200 -> 0"), std::string::npos);
}

TEST_F(USBPort, TheReaderWaitsWhileDisabledAndTimesOutOnlyWithATimeOut)
{
    OpenPort();
    port->SetEnabled(false);
    port->SendData("TXTHOST1\r");
    // A clock of its own measures a stretch in which nothing may be read.
    TTimer clock(nullptr);
    int ticks = 0;
    clock.SetInterval(100);
    clock.OnTimer = [&](TObject*) { ++ticks; };
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 3; }));
    EXPECT_TRUE(packets.empty());
    port->SetEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return packets.size() == 1; }));

    int timeOuts = 0;
    port->OnTimeOut = [&](TObject*) { ++timeOuts; };
    port->SetTimeOut(50);
    ASSERT_TRUE(PumpUntil([&] { return timeOuts >= 2; }));
    port->SetTimeOut(0);
    const int before = timeOuts;
    ticks = 0;
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 12; }));
    EXPECT_LE(timeOuts, before + 1);  // at most the wait that was under way
}

TEST_F(USBPort, FreeingThePortWhileItsReaderIsInsideASynchronizedCallDoesNotHang)
{
    OpenPort();
    port->SendData("TXTHOST1\r");
    // Not pumping: the reader's call to the GUI thread waits until it is served.
    ASSERT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 5000, QS_SENDMESSAGE), static_cast<DWORD>(WAIT_OBJECT_0));
    port.reset();  // serves the call while it waits for the reader, then closes the device
    EXPECT_NE(driver.Log().find("FT_Close -> 0"), std::string::npos);
}

TEST(USBPortWithoutDriver, NoDriverMeansNoConvertersAndAClearMessage)
{
    SetEnvironmentVariableA("FTD2XX_STANDIN_ABSENT", "1");
    EXPECT_FALSE(FtdiDriverPresent());
    TUSBPortArray ports = {3};
    ListFtdiComPorts(ports);
    EXPECT_TRUE(ports.empty());
    TUSBComPort port(nullptr);
    try {
        port.SetComNumber(5);
        FAIL();
    } catch (const EUSBPortError& e) {
        EXPECT_STREQ(e.what(), "Error setting COM Number:  FTDI USB driver (ftd2xx.dll) not installed");
    }
    try {
        port.SetOpen(true);
        FAIL();
    } catch (const EUSBPortError& e) {
        EXPECT_STREQ(e.what(), "Error Opening USBPort:  FTDI USB driver (ftd2xx.dll) not installed");
    }
    EXPECT_FALSE(port.Open());
}

}  // namespace
