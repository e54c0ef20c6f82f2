// The dispatcher's buffers, triggers and delivery, on a fake device.
#include "FakeDevice.h"
#include "ProcessSupport.h"
#include "TestSupport.h"
#include "UtilWindow.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <memory>
#include <string>
#include <vector>

namespace {

// A dispatcher opened on the fake device, with its steps run by the test itself.
class Dispatcher : public testing::Test {
protected:
    void SetUp() override
    {
        d = std::make_unique<TFakeDispatcher>();
        ASSERT_EQ(d->OpenDevice("COM9", 115200, NOPARITY, 8, 1, 4096, 16, SioOpenDTR | SioOpenRTS), 0);
        d->AttachMethodHandler(this, [this](UINT message, WPARAM first, LPARAM second) {
            calls.push_back({message, first, second});
            if (onCall) onCall(message, first, second);
        }, false);
    }

    std::string Take(unsigned count)
    {
        std::string s(count, '\0');
        const int r = d->TakeInput(s.data(), count);
        if (r >= 0) return s;
        std::string code = "<";
        code += std::to_string(r);
        return code + ">";
    }

    struct TCall {
        UINT Message;
        WPARAM First;
        LPARAM Second;
    };
    std::unique_ptr<TFakeDispatcher> d;
    std::vector<TCall> calls;
    std::function<void(UINT, WPARAM, LPARAM)> onCall;
};

TEST_F(Dispatcher, TheInputRingKeepsTheBytesInOrderAcrossItsWrap)
{
    const unsigned nearEnd = SioInputRingSize - 6;
    d->Receive(std::string(nearEnd, 'x'));
    ASSERT_TRUE(d->DrainDevice());
    EXPECT_EQ(d->InputCount(), nearEnd);
    EXPECT_EQ(Take(nearEnd), std::string(nearEnd, 'x'));
    d->Receive("ABCDEFGHIJ");  // 6 before the ring's end, 4 at its start
    d->DrainDevice();
    EXPECT_EQ(d->InputCount(), 10u);
    EXPECT_EQ(Take(4), "ABCD");
    EXPECT_EQ(Take(6), "EFGHIJ");
    EXPECT_EQ(d->InputCount(), 0u);
}

TEST_F(Dispatcher, ADrainThatFillsAnEmptyRingIsOfferedAndThePortGoesOn)
{
    std::vector<WPARAM> offers;
    std::string taken;
    d->SetAvailThreshold(1);
    onCall = [&](UINT message, WPARAM first, LPARAM) {
        if (message != SioAvailMessage) return;
        offers.push_back(first);
        taken += Take(static_cast<unsigned>(first));
    };
    d->Receive(std::string(SioInputRingSize, 'a'));
    d->HandleCommEvent(EV_RXCHAR);  // the whole ring in one drain
    d->Receive("more");
    d->HandleCommEvent(EV_RXCHAR);
    ASSERT_EQ(offers, (std::vector<WPARAM>{SioInputRingSize, 4}));
    EXPECT_EQ(taken, std::string(SioInputRingSize, 'a') + "more");
    EXPECT_FALSE(d->InputFull());
    EXPECT_EQ(d->InputCount(), 0u);
}

TEST_F(Dispatcher, DiscardedBytesAreNotScannedForTriggers)
{
    d->NewDataTrigger("\n", false);
    d->Receive("half a line\n");
    d->DrainDevice();  // in the ring, not yet scanned
    EXPECT_EQ(d->DiscardInput(), 0);
    d->Receive("OK\n");
    d->HandleCommEvent(EV_RXCHAR);
    ASSERT_EQ(calls.size(), 1u) << "one trigger, for the line that was not discarded";
    EXPECT_EQ(Take(3), "OK\n");
}

TEST_F(Dispatcher, TakingMoreThanIsThereTakesNothing)
{
    d->Receive("123456789");
    d->DrainDevice();
    EXPECT_EQ(Take(10), "<-3007>");
    EXPECT_EQ(d->InputCount(), 9u);
    EXPECT_EQ(Take(9), "123456789");
}

TEST_F(Dispatcher, AFullRingIsToldFromAnEmptyOneAndUnreadBytesAreNeverOverwritten)
{
    d->Receive(std::string(SioInputRingSize - 10, 'a'));
    d->DrainDevice();
    EXPECT_EQ(Take(100), std::string(100, 'a'));  // read position 100, write near the end
    d->Receive(std::string(10, 'b') + std::string(100, 'c') + std::string(90, 'd'));
    d->DrainDevice();  // 10 to the end, then only the 100 free bytes before the read position
    EXPECT_TRUE(d->InputFull());
    EXPECT_EQ(d->InputCount(), SioInputRingSize);
    EXPECT_EQ(d->Holding(), 90u);  // the rest waits in the device
    EXPECT_TRUE(d->DrainDevice());  // full: nothing more is read
    EXPECT_EQ(d->Holding(), 90u);
    EXPECT_EQ(Take(SioInputRingSize - 110), std::string(SioInputRingSize - 110, 'a'));
    EXPECT_FALSE(d->InputFull());
    EXPECT_EQ(Take(110), std::string(10, 'b') + std::string(100, 'c'));
    d->DrainDevice();
    EXPECT_EQ(Take(90), std::string(90, 'd'));
}

TEST_F(Dispatcher, TheOutputRingFillsWrapsAndGoesOutInOrder)
{
    EXPECT_EQ(d->OutputFreeCount(), 16u);
    EXPECT_EQ(d->QueueOutput("0123456789", 10), 0);
    d->OutputStep();
    EXPECT_EQ(d->Written(), "0123456789");
    EXPECT_EQ(d->QueueOutput("ABCDEFGHIJKLMNOP", 16), 0);  // exactly the free space, across the end
    EXPECT_TRUE(d->OutputFull());
    EXPECT_EQ(d->OutputUsedCount(), 16u);
    EXPECT_EQ(d->QueueOutput("!", 1), -3006);
    d->OutputStep();
    EXPECT_EQ(d->Written(), "0123456789ABCDEFGHIJKLMNOP");
    EXPECT_FALSE(d->OutputFull());
    EXPECT_EQ(d->QueueOutput("0123456789abcdefg", 17), -3006);  // larger than the buffer
    EXPECT_EQ(d->OutputUsedCount(), 0u);
}

struct MatchCase {
    const char* name;
    const char* pattern;
    bool ignoreCase;
    std::string input;
    std::vector<size_t> at;  // the input positions at which the trigger fires
};

TEST(Matcher, FindsItsStringWhereAttemptsOverlapAndStartsOverAfterAMatch)
{
    const MatchCase cases[] = {
        {"a partial match restarts", "aab", false, "aaab", {3}},
        {"a second attempt under way completes", "aab", false, "aaaab", {4}},
        {"a match ends the attempt overlapping it", "aa", false, "aaa", {1}},
        {"the next occurrence after a match", "aa", false, "aaaa", {1, 3}},
        {"abab once in ababab", "abab", false, "ababab", {3}},
        {"abab twice in abababab", "abab", false, "abababab", {3, 7}},
        {"a match ends the attempt begun inside it", "abac", false, "abacbac", {3}},
        {"a line end", "\r\n", false, "OK\r\nREADY\r\n", {3, 10}},
        {"ignoring case", "ok", true, "xOKyoK", {2, 5}},
        {"minding case", "ok", false, "xOKyoK", {}},
        {"one character", "\n", false, "a\nb\n", {1, 3}},
        {"one character in a row", "a", false, "aaa", {0, 1, 2}},
        {"a restart inside an attempt", "aab", false, "aabaab", {2, 5}},
        {"nothing like it", "READY", false, "REDY READ", {}},
    };
    for (const auto& c : cases) {
        TSioDataTrigger t{8, static_cast<unsigned>(std::strlen(c.pattern)), {}, false, c.ignoreCase, c.pattern};
        t.State.fill(0);
        std::vector<size_t> at;
        for (size_t i = 0; i < c.input.size(); ++i)
            if (SioMatchByte(t, static_cast<uint8_t>(c.input[i]))) at.push_back(i);
        EXPECT_EQ(at, c.at) << c.name;
    }
}

TEST_F(Dispatcher, DataTriggersFireAsTheBytesArriveAndTheHandlersTakeThem)
{
    const int handle = d->NewDataTrigger("\r\n", false);
    ASSERT_GT(handle, 0);
    std::vector<std::string> lines;
    onCall = [&](UINT message, WPARAM, LPARAM) {
        if (message != SioDataMessage) return;
        const unsigned n = d->InputCount();
        lines.push_back(Take(n));
    };
    d->Receive("REA");
    d->HandleCommEvent(EV_RXCHAR);
    EXPECT_TRUE(lines.empty());
    d->Receive("DY\r\nOK\r\n");
    d->HandleCommEvent(EV_RXCHAR);
    // The handler took all there was at the first line end.
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "READY\r\nOK\r\n");
    EXPECT_EQ(lines[1], "") << "the second line end came with nothing left to take";
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].Message, SioDataMessage);
    EXPECT_EQ(calls[0].First, static_cast<WPARAM>(handle));
    EXPECT_EQ(calls[0].Second, 2 + d->Handle() * 65536) << "the string length and the dispatcher";
    EXPECT_EQ(d->InputCount(), 0u);
}

TEST_F(Dispatcher, ADataTriggerFiresOnceForEachOccurrenceAfterTheLastMatch)
{
    const struct {
        const char* name;
        const char* pattern;
        const char* input;
        size_t fires;
    } cases[] = {
        {"aab in aaab", "aab", "aaab", 1},
        {"aa in aaa", "aa", "aaa", 1},
        {"aa in aaaa", "aa", "aaaa", 2},
        {"abab in ababab", "abab", "ababab", 1},
    };
    for (const auto& c : cases) {
        const int handle = d->NewDataTrigger(c.pattern, false);
        ASSERT_GT(handle, 0) << c.name;
        calls.clear();
        // One byte per pass: each match is its own delivery.
        for (const char* p = c.input; *p; ++p) {
            d->Receive(std::string(1, *p));
            d->HandleCommEvent(EV_RXCHAR);
        }
        size_t fires = 0;
        for (const auto& call : calls) fires += call.Message == SioDataMessage && call.First == static_cast<WPARAM>(handle);
        EXPECT_EQ(fires, c.fires) << c.name;
        EXPECT_EQ(d->DropTrigger(handle), 0);
        d->DiscardInput();
    }
}

TEST_F(Dispatcher, AnAvailTriggerOffersWhatHasCome)
{
    d->SetAvailThreshold(4);
    std::vector<WPARAM> offers;
    onCall = [&](UINT message, WPARAM first, LPARAM) {
        if (message != SioAvailMessage) return;
        offers.push_back(first);
        Take(static_cast<unsigned>(first));
    };
    d->Receive("ab");
    d->HandleCommEvent(EV_RXCHAR);
    EXPECT_TRUE(offers.empty());
    d->Receive("cdef");
    d->HandleCommEvent(EV_RXCHAR);
    ASSERT_EQ(offers.size(), 1u);
    EXPECT_EQ(offers[0], 6u);
    EXPECT_EQ(d->InputCount(), 0u);
    EXPECT_EQ(d->DropTrigger(1), 0);  // handle 1 is the avail threshold
    d->Receive("ghijkl");
    d->HandleCommEvent(EV_RXCHAR);
    EXPECT_EQ(offers.size(), 1u);
}

TEST_F(Dispatcher, TriggerHandlesGoUpInEightsThenTheLowestFreeOne)
{
    EXPECT_EQ(d->NewTimerTrigger(), 8);
    EXPECT_EQ(d->NewTimerTrigger(), 16);
    EXPECT_EQ(d->NewTimerTrigger(), 24);
    for (int i = 4; i < 4096; ++i) ASSERT_EQ(d->NewTimerTrigger(), i * 8);
    // The sequence is spent: only free handles up to 4096 are given now.
    EXPECT_EQ(d->NewTimerTrigger(), -5001);
    EXPECT_EQ(d->DropTrigger(4000), 0);
    EXPECT_EQ(d->DropTrigger(16), 0);
    EXPECT_EQ(d->NewTimerTrigger(), 16);
    EXPECT_EQ(d->NewTimerTrigger(), 4000);
    EXPECT_EQ(d->NewTimerTrigger(), -5001);
    EXPECT_EQ(d->DropTrigger(16), 0);
    EXPECT_EQ(d->DropTrigger(16), -5003);
    EXPECT_EQ(d->ArmTimerTrigger(16, 5, true), -5003);
}

TEST_F(Dispatcher, AHandlerDetachedDuringADeliveryGoesWhenItEnds)
{
    int second = 0;
    d->AttachMethodHandler(&second, [&](UINT, WPARAM, LPARAM) { ++second; }, false);
    ASSERT_EQ(d->MethodHandlerCount(), 2u);
    size_t duringDelivery = 0;
    onCall = [&](UINT, WPARAM, LPARAM) {
        d->DetachMethodHandler(&second);
        duringDelivery = d->MethodHandlerCount();
    };
    d->NewDataTrigger("x", false);
    d->Receive("x");
    d->HandleCommEvent(EV_RXCHAR);
    EXPECT_EQ(second, 0) << "marked deleted, so skipped in that delivery";
    EXPECT_EQ(duringDelivery, 2u) << "only marked while the delivery runs";
    EXPECT_EQ(d->MethodHandlerCount(), 1u) << "removed when the delivery ended";
    EXPECT_TRUE(d->ServiceNeeded()) << "the first handler still wants deliveries";

    onCall = nullptr;
    d->Receive("x");
    d->HandleCommEvent(EV_RXCHAR);
    EXPECT_EQ(second, 0) << "no longer called";
    EXPECT_EQ(calls.size(), 2u);

    // Attached again, it is called once: nothing of the old record is left to revive.
    d->AttachMethodHandler(&second, [&](UINT, WPARAM, LPARAM) { ++second; }, false);
    d->Receive("x");
    d->HandleCommEvent(EV_RXCHAR);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(d->MethodHandlerCount(), 2u);
}

TEST_F(Dispatcher, ATimerTriggerFiresAfterItsTicks)
{
    static DWORD now = 0;
    const TSioClockSource previous = SioSetClock([]() -> DWORD { return now; });
    now = 0xFFFFFFF0u;  // across the clock's wrap
    const int timer = d->NewTimerTrigger();
    ASSERT_EQ(d->ArmTimerTrigger(timer, 2, true), 0);
    now += 110;
    d->PollTimersAndStatus();
    EXPECT_TRUE(calls.empty());
    now += 1;
    d->PollTimersAndStatus();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].Message, SioTimerMessage);
    EXPECT_EQ(calls[0].First, static_cast<WPARAM>(timer));
    d->PollTimersAndStatus();
    EXPECT_EQ(calls.size(), 1u) << "fired once, then inactive";
    SioSetClock(previous);
}

TEST_F(Dispatcher, StatusTriggersWatchTheLinesTheErrorsAndTheOutput)
{
    const int modem = d->NewStatusTrigger(skModem, static_cast<uint16_t>((SioCTS << 8) | SioCTS));
    d->Lines = MS_DSR_ON;  // CTS dropped
    d->HandleCommEvent(EV_CTS);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].Message, SioStatusMessage);
    EXPECT_EQ(calls[0].First, static_cast<WPARAM>(modem));
    EXPECT_EQ(modem & 7, skModem);

    const int errors = d->NewStatusTrigger(skLineError, SioErrorFraming | SioErrorParity);
    d->Errors = SioErrorFraming;
    d->HandleCommEvent(EV_ERR);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].First, static_cast<WPARAM>(errors));
    EXPECT_EQ(calls[1].Second & 0xFFFF, SioErrorFraming);
    EXPECT_EQ(d->TakeLineError(), 4);
    EXPECT_EQ(d->TakeLineError(), 0);
}

TEST(DispatcherOutput, AFreeCountAbove65535StaysInItsHalfOfTheMessage)
{
    TFakeDispatcher d;
    ASSERT_EQ(d.OpenDevice("COM9", 115200, NOPARITY, 8, 1, 4096, 1 << 20, 0), 0);
    std::vector<LPARAM> seconds;
    d.AttachMethodHandler(&d, [&](UINT, WPARAM, LPARAM second) { seconds.push_back(second); }, false);
    d.NewStatusTrigger(skOutFree, 100);
    d.PollTimersAndStatus();
    ASSERT_EQ(seconds.size(), 1u);
    EXPECT_EQ(seconds[0] & 0xFFFF, 0xFFFF);
    EXPECT_EQ(seconds[0] >> 16, d.Handle());
}

TEST_F(Dispatcher, ModemStatusKeepsItsChangesUntilRead)
{
    d->Lines = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
    d->ReadModemStatus(240);
    d->Lines = MS_DSR_ON | MS_RING_ON;
    const uint8_t event = d->ReadModemStatus(255);  // as a modem event reads it
    EXPECT_EQ(event & 0xF0, SioDSR | SioRI);
    EXPECT_EQ(event & 0x0F, SioDeltaCTS | SioTrailingRI | SioDeltaDCD);
    EXPECT_EQ(d->ReadModemStatus(240), event) << "kept until read";
    EXPECT_EQ(d->ReadModemStatus(240) & 0x0F, 0) << "the keep mask cleared the changes";
    d->RingSeen();
    EXPECT_EQ(d->ReadModemStatus(240) & SioTrailingRI, SioTrailingRI);

    d->Errors = SioErrorBreak | SioErrorOverrun;
    d->InputCount();  // any status refresh gathers the errors
    EXPECT_TRUE(d->TakeBreak());
    EXPECT_FALSE(d->TakeBreak());
    EXPECT_EQ(d->TakeLineError(), 2);
}

TEST(LineSettings, OnlyAChangeReachesTheDevice)
{
    TFakeDispatcher d;
    ASSERT_EQ(d.OpenDevice("COM9", 9600, NOPARITY, 8, 1, 4096, 64, SioOpenDTR), 0);
    const int writes = d.StateWrites;
    EXPECT_EQ(d.ApplyLineSettings(9600, NOPARITY, 8, 1), 0);
    EXPECT_EQ(d.StateWrites, writes) << "nothing changed";

    const struct {
        const char* name;
        unsigned baud;
        int parity, dataBits, stopBits;
        DWORD baudAfter;
        BYTE parityAfter, sizeAfter, stopAfter;
    } cases[] = {
        {"a new rate", 115200, NOPARITY, 8, 1, 115200, NOPARITY, 8, ONESTOPBIT},
        {"baud 0 keeps the rate", 0, EVENPARITY, 7, 2, 115200, EVENPARITY, 7, TWOSTOPBITS},
        {"parity 5 and data bits 9 keep theirs", 19200, 5, 9, 0, 19200, EVENPARITY, 7, ONESTOPBIT},
        {"stop bits above 2 become 2", 19200, NOPARITY, 8, 7, 19200, NOPARITY, 8, TWOSTOPBITS},
        {"stop bits 3 keep the code", 19200, NOPARITY, 8, 3, 19200, NOPARITY, 8, TWOSTOPBITS},
        {"5 data bits take one and a half", 19200, NOPARITY, 5, 1, 19200, NOPARITY, 5, ONE5STOPBITS},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(d.ApplyLineSettings(c.baud, c.parity, c.dataBits, c.stopBits), 0) << c.name;
        EXPECT_EQ(d.State.BaudRate, c.baudAfter) << c.name;
        EXPECT_EQ(d.State.Parity, c.parityAfter) << c.name;
        EXPECT_EQ(d.State.ByteSize, c.sizeAfter) << c.name;
        EXPECT_EQ(d.State.StopBits, c.stopAfter) << c.name;
        EXPECT_EQ(d.LastBaud(), c.baudAfter) << c.name;
        EXPECT_TRUE(d.State.fBinary) << c.name;
        EXPECT_FALSE(d.State.fParity) << c.name;
        EXPECT_TRUE(d.State.fTXContinueOnXoff) << c.name;
        EXPECT_EQ(d.State.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE)) << c.name;
        EXPECT_EQ(d.State.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE)) << c.name;
    }
    EXPECT_EQ(d.Escapes.back(), CLRRTS);
}

TEST(LineSettings, ABaudOfZeroOnTheDeviceDoesNotDivideByZero)
{
    TFakeDispatcher d;
    d.State.BaudRate = 0;
    ASSERT_EQ(d.OpenDevice("COM9", 9600, NOPARITY, 8, 1, 4096, 64, 0), 0);
    EXPECT_EQ(d.State.BaudRate, 9600u);
}

TEST(FlowControl, ThresholdsAndOptionsBecomeTheDeviceBits)
{
    TFakeDispatcher d;
    ASSERT_EQ(d.OpenDevice("COM9", 9600, NOPARITY, 8, 1, 4096, 64, SioOpenDTR | SioOpenRTS), 0);
    EXPECT_EQ(d.ApplyHardwareFlow(100, 200, 0), -1002) << "full below resume";
    EXPECT_EQ(d.ApplyHardwareFlow(5000, 200, 0), -1002) << "full beyond the queue";
    EXPECT_EQ(d.ApplyHardwareFlow(3000, 1000, 1 | 2 | 4 | 8), 0);
    EXPECT_EQ(d.State.fDtrControl, static_cast<DWORD>(DTR_CONTROL_HANDSHAKE));
    EXPECT_EQ(d.State.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
    EXPECT_TRUE(d.State.fOutxDsrFlow);
    EXPECT_TRUE(d.State.fOutxCtsFlow);
    EXPECT_EQ(d.State.XoffLim, 1096);
    EXPECT_EQ(d.State.XonLim, 1000);
    EXPECT_EQ(d.DriveDTR(false), 1) << "under flow control the line is the driver's";

    EXPECT_EQ(d.ApplyXonXoffFlow(3000, 1000, 1 | 2), 0);
    EXPECT_TRUE(d.State.fOutX);
    EXPECT_TRUE(d.State.fInX);
    EXPECT_EQ(d.State.XonChar, 17);
    EXPECT_EQ(d.State.XoffChar, 19);
    EXPECT_EQ(d.StopXonXoffFlow(), 0);
    EXPECT_FALSE(d.State.fOutX);
    EXPECT_FALSE(d.State.fInX);
    const struct {
        unsigned options;
        bool in, out;
    } modes[] = {{3, true, true}, {2, true, false}, {1, false, true}, {3, true, true}, {1, false, true}, {2, true, false}};
    for (const auto& m : modes) {
        EXPECT_EQ(d.ApplyXonXoffFlow(3000, 1000, m.options), 0);
        EXPECT_EQ(d.State.fInX, m.in) << "after options " << m.options;
        EXPECT_EQ(d.State.fOutX, m.out) << "after options " << m.options;
    }
    EXPECT_EQ(d.ApplyFlowChars('a', 'b'), 0);
    EXPECT_EQ(d.State.XonChar, 'a');
}

TEST(DispatcherOptions, EachFlagIsSetAndClearedAlone)
{
    TFakeDispatcher d;
    EXPECT_EQ(d.OptionFlags(), 0u);
    d.SetOptionFlag(SioOptionEventWord, true);
    d.SetOptionFlag(1, true);
    EXPECT_EQ(d.OptionFlags(), SioOptionEventWord | 1);
    d.SetOptionFlag(SioOptionEventWord, false);
    EXPECT_EQ(d.OptionFlags(), 1u);
}

TEST(DispatcherThreads, TheyMoveDataAndStopWhileASynchronisedCallWaits)
{
    const int threadsBefore = ThreadCount();
    auto d = std::make_unique<TFakeDispatcher>();
    d->RunThreads = true;
    ASSERT_EQ(d->OpenDevice("COM9", 115200, NOPARITY, 8, 1, 4096, 64, 0), 0);
    EXPECT_TRUE(d->ThreadsRunning());
    std::vector<DWORD> ranOn;
    d->AttachMethodHandler(&ranOn, [&](UINT, WPARAM, LPARAM) { ranOn.push_back(GetCurrentThreadId()); }, true);
    d->NewDataTrigger("\n", false);
    d->Receive("READY\r\n");
    d->Event(EV_RXCHAR);
    ASSERT_TRUE(PumpUntil([&] { return !ranOn.empty(); }));
    EXPECT_EQ(ranOn[0], MainThreadID);
    EXPECT_EQ(d->QueueOutput("TXTHOST1\r", 9), 0);
    ASSERT_EQ(WaitForSingleObject(d->WriteSeen, 5000), WAIT_OBJECT_0);  // the output thread needs no GUI
    EXPECT_EQ(d->Written(), "TXTHOST1\r");

    // Another line comes; the GUI thread does not serve the call but closes the port.
    d->Receive("OK\r\n");
    d->Event(EV_RXCHAR);
    ASSERT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 5000, QS_SENDMESSAGE), static_cast<DWORD>(WAIT_OBJECT_0));
    d->CloseDevice();  // the delivery under way ends the threads when it returns
    ASSERT_TRUE(PumpUntil([&] { return ranOn.size() == 2; }));
    d.reset();  // waits for the threads, serving what they still ask
    EXPECT_EQ(ThreadCount(), threadsBefore) << "no thread left behind";
}

// A handler that throws: the exception reaches the application's exception display on the
// GUI thread, and the dispatcher goes on as before.
TEST_F(Dispatcher, AThrowingHandlerIsReportedAndTheDeliveryStateIsRestored)
{
    std::vector<std::string> reported;
    Application->OnException = [&](TObject*, const std::exception& e) { reported.push_back(e.what()); };
    int fails = 1;
    int later = 0;
    d->AttachMethodHandler(&later, [&](UINT, WPARAM, LPARAM) { ++later; }, false);
    onCall = [&](UINT message, WPARAM first, LPARAM) {
        if (message != SioAvailMessage) return;
        Take(static_cast<unsigned>(first) - 1);  // takes part of the offer, then fails
        if (fails-- > 0) throw Exception("handler failed");
    };
    d->SetAvailThreshold(1);
    d->Receive("abc");
    d->HandleCommEvent(EV_RXCHAR);
    Application->OnException = nullptr;
    ASSERT_EQ(reported, std::vector<std::string>{"handler failed"});
    EXPECT_FALSE(d->Delivering());
    EXPECT_EQ(later, 1) << "the handlers after it still had the trigger";
    EXPECT_EQ(d->InputCount(), 1u) << "what it took before it failed is taken";
    EXPECT_EQ(Take(1), "c") << "outside a delivery, input is taken at once again";
    d->Receive("de");
    d->HandleCommEvent(EV_RXCHAR);
    EXPECT_EQ(later, 2);
    EXPECT_EQ(d->InputCount(), 1u);
}

TEST(DispatcherThreads, AHandlerThatThrowsOnADispatchThreadIsReportedOnTheGUIThread)
{
    auto d = std::make_unique<TFakeDispatcher>();
    d->RunThreads = true;
    ASSERT_EQ(d->OpenDevice("COM9", 115200, NOPARITY, 8, 1, 4096, 64, 0), 0);
    std::vector<DWORD> reportedOn;
    std::vector<std::string> texts;
    Application->OnException = [&](TObject*, const std::exception& e) {
        reportedOn.push_back(GetCurrentThreadId());
        texts.push_back(e.what());
    };
    std::atomic<int> delivered{0};
    for (bool synchronised : {false, true})
        d->AttachMethodHandler(&texts + synchronised, [&, synchronised](UINT, WPARAM, LPARAM) {
            ++delivered;
            throw Exception(synchronised ? "on the GUI thread" : "on the dispatch thread");
        }, synchronised);
    d->NewDataTrigger("\n", false);
    d->Receive("one\n");
    d->Event(EV_RXCHAR);
    const bool both = PumpUntil([&] { return texts.size() == 2; });
    d->Receive("two\n");
    d->Event(EV_RXCHAR);
    const bool again = PumpUntil([&] { return texts.size() == 4; });
    d.reset();
    Application->OnException = nullptr;
    ASSERT_TRUE(both);
    EXPECT_TRUE(again) << "the dispatcher delivers after a handler failed";
    EXPECT_EQ(delivered, 4);
    EXPECT_EQ(texts[0], "on the dispatch thread");
    EXPECT_EQ(texts[1], "on the GUI thread");
    for (DWORD id : reportedOn) EXPECT_EQ(id, MainThreadID);
}

// The communications thread hands an event over while the dispatch thread still handles the
// last one, or just after one of its 50 ms polls: no change of the lines may be lost.
TEST(DispatcherThreads, ALineChangeFollowedAtOnceByDataStillFiresItsTrigger)
{
    auto d = std::make_unique<TFakeDispatcher>();
    d->RunThreads = true;
    d->Lines = MS_DSR_ON;
    ASSERT_EQ(d->OpenDevice("COM9", 115200, NOPARITY, 8, 1, 4096, 64, 0), 0);
    std::mutex lock;
    std::vector<unsigned> fired;
    std::string data;
    d->AttachMethodHandler(&fired, [&](UINT message, WPARAM first, LPARAM) {
        std::lock_guard<std::mutex> g(lock);
        if (message == SioStatusMessage) fired.push_back(static_cast<unsigned>(first));
        if (message == SioAvailMessage) {
            std::string s(first, '\0');
            if (d->TakeInput(s.data(), static_cast<unsigned>(first)) > 0) data += s;
        }
        // The handler runs on the dispatch thread: the GUI thread's wait looks again.
        PostThreadMessageA(MainThreadID, WM_NULL, 0, 0);
    }, false);
    d->SetAvailThreshold(1);
    const auto settled = [&](size_t triggers, size_t bytes) {
        return PumpUntil([&] {
            std::lock_guard<std::mutex> g(lock);
            return fired.size() >= triggers && data.size() >= bytes;
        });
    };
    const int rounds = 20;
    for (int i = 0; i < rounds; ++i) {
        // Fires on a change of CTS: reference 0, mask the CTS delta bit.
        const int trigger = d->NewStatusTrigger(skModem, SioDeltaCTS << 8);
        ASSERT_GT(trigger, 0);
        if (i % 2) Sleep(50);  // lands after a poll pass now and then
        d->Lines ^= MS_CTS_ON;
        d->Event(EV_CTS);
        d->Receive("x");
        d->Event(EV_RXCHAR);
        ASSERT_TRUE(settled(static_cast<size_t>(i) + 1, static_cast<size_t>(i) + 1)) << "round " << i + 1;
        std::lock_guard<std::mutex> g(lock);
        EXPECT_EQ(fired.back(), static_cast<unsigned>(trigger));
        d->DropTrigger(static_cast<unsigned>(trigger));
    }
    d.reset();
    EXPECT_EQ(fired.size(), static_cast<size_t>(rounds));
}

TEST(DispatcherOpen, AFailedOpenReturnsTheSystemErrorAndHandlesAreReused)
{
    TFakeDispatcher failing;
    failing.FailOpen = true;
    EXPECT_EQ(failing.OpenDevice("COM9", 9600, NOPARITY, 8, 1, 4096, 64, 0), -static_cast<int>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(failing.IsOpen());

    int handle;
    {
        TFakeDispatcher a;
        handle = a.Handle();
        EXPECT_EQ(TSioBaseDispatcher::FromHandle(handle), &a);
    }
    EXPECT_EQ(TSioBaseDispatcher::FromHandle(handle), nullptr);
    TFakeDispatcher b;
    EXPECT_EQ(b.Handle(), handle) << "the first empty slot of the list";
}

TEST_F(Dispatcher, TracingRecordsWhatIsTakenAndQueued)
{
    d->Trace.TraceHex = false;
    ASSERT_EQ(d->Trace.Start(100), 0);
    d->QueueOutput("AB", 2);
    d->Receive("OK\r");
    d->DrainDevice();
    Take(3);
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string path = std::string(folder) + "sio_trace_" + std::to_string(GetCurrentProcessId()) + ".trc";
    ASSERT_EQ(d->Trace.Dump(path, false), 0);
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    char text[256] = {};
    DWORD n = 0;
    ReadFile(f, text, sizeof text - 1, &n, nullptr);
    CloseHandle(f);
    DeleteFileA(path.c_str());
    const std::string dump(text, n);
    EXPECT_NE(dump.find("AB"), std::string::npos) << dump;
    EXPECT_NE(dump.find("OK[13]"), std::string::npos) << dump;
    EXPECT_LT(dump.find("Transmit: "), dump.find("Receive: "));
}

}  // namespace
