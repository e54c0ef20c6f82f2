// The main window against an instrument's real timing and traffic, on each kind of link:
// replies that come late, bytes left over from a step that timed out, floods of status
// lines, a stream that never ends a line.
#include "MainWindowSupport.h"

#include <psapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// These cases type nothing and click nothing: their window needs no activation.
class Traffic : public LinkWindow {
protected:
    Traffic() { ShowActive = false; }
};

const std::string NotResponding =
    "VR7 not responding.\rMake sure the VR7 is connected to the chosen portand that it is at the download screen.";

std::string Sequence(const std::string& name)
{
    return "TXTHOST0\rTXTNAME00" + name + "\r" + std::string(DefaultPGM) + "\r";
}

SIZE_T PeakPrivateBytes()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakPagefileUsage;
}

// Nobody touches the window meanwhile: the replies alone carry the sequence on.
TEST_P(Traffic, LateRepliesCarryTheSequenceThroughWithNoInput)
{
    SetName("LATE");
    for (int delay : {300, 1000, 2900}) {
        const std::string step = "delay " + std::to_string(delay) + " reply READY\\r\\n";
        WriteScript({step, step, step});
        const size_t before = Transcript().size();
        const DWORD start = GetTickCount();
        form->Download->Execute();
        const DWORD took = GetTickCount() - start;
        EXPECT_EQ(Transcript().substr(before), Sequence("LATE")) << delay;
        EXPECT_EQ(form->memHints->Text(), "Done") << delay;
        EXPECT_GE(took, 3u * delay) << delay;
        EXPECT_LT(took, 3u * delay + 700) << delay;
    }
    EXPECT_TRUE(sink.Requests.empty()) << sink.Requests[0].Text;
}

// The user types while the first step waits: the sequence sends what it started with.
TEST_P(Traffic, WhatIsTypedDuringTheSequenceWaitsForTheNextOne)
{
    SetName("FIRST");
    WriteScript({"delay 300 reply READY\\r\\n"});
    TTimer typist(nullptr);
    typist.SetInterval(100);
    typist.OnTimer = [&](TObject*) {
        typist.SetEnabled(false);
        form->Edit1->SetText("SECOND");
        form->rdoHoldToTime->SetChecked(true);
    };
    form->Download->Execute();
    EXPECT_EQ(form->Test().Name(), "SECOND");
    EXPECT_EQ(Transcript(), Sequence("FIRST"));
    EXPECT_TRUE(sink.Requests.empty()) << sink.Requests[0].Text;
}

TEST_P(Traffic, BytesLeftOverFromATimedOutStepDoNotSpoilTheNextExchange)
{
    SetName("AFTER");
    form->Protocol->Timer1->SetInterval(600);
    WriteScript({"reply XYZ"});
    form->Download->Execute();
    EXPECT_EQ(Texts(), std::vector<std::string>{NotResponding});
    const size_t before = Transcript().size();
    form->Download->Execute();
    EXPECT_EQ(Transcript().substr(before), Sequence("AFTER"));
    EXPECT_EQ(form->memHints->Text(), "Done");
    EXPECT_EQ(sink.Requests.size(), 1u);
}

// A status line that comes while "not responding" is shown (the box pumps messages as a
// modal box does) starts no second time-out over it.
TEST_P(Traffic, AStatusLineAfterATimeOutStartsNoSecondOne)
{
    SetName("GDR");
    form->Protocol->Timer1->SetInterval(500);
    WriteScript({"delay 700 reply GDR 0001 5 00\\r\\n", "delay 900 reply GDR 0001 5 00\\r\\n"});
    std::vector<std::string> shown;
    const TMessageSink recording = Application->SetMessageSink([&](const TMessageRequest& r) {
        shown.push_back(r.Text);
        // As long as a second time-out would take to come over it.
        if (shown.size() == 1) PumpUntil([&] { return shown.size() > 1; }, 1500);
        return IDOK;
    });
    form->Download->Execute();
    EXPECT_TRUE(PumpUntil([&] { return form->memHints->Text() == "Test running"; }, 1000));
    EXPECT_FALSE(form->Protocol->Timer1->Enabled());
    EXPECT_FALSE(PumpUntil([&] { return shown.size() > 1; }, 700));
    Application->SetMessageSink(recording);
    EXPECT_EQ(shown, std::vector<std::string>{NotResponding});
}

// Status lines at the instrument's full rate for 15 s: the window keeps up, a sequence
// started meanwhile is answered as fast as without them, and the window closes at once.
TEST_P(Traffic, AFloodOfStatusLinesKeepsTheWindowLive)
{
    SetName("FLOOD");
    WriteScript({"now stream 720 15 GDR 0001 5 00\\r\\n"});
    ASSERT_TRUE(PumpUntil([&] { return form->memHints->Text() == "Test running"; }, 3000));
    // The user sends near the flood's end, after 13 s of it: a window that falls behind
    // the lines has fallen far behind by then.
    PumpUntil([] { return false; }, 13000);
    const size_t before = Transcript().size();
    const DWORD start = GetTickCount();
    form->Download->Execute();
    const DWORD took = GetTickCount() - start;
    EXPECT_EQ(Transcript().substr(before), Sequence("FLOOD"));
    EXPECT_LT(took, 1500u) << "each reply within half a second of its arrival";
    EXPECT_TRUE(sink.Requests.empty()) << sink.Requests[0].Text;
    EXPECT_TRUE(PumpUntil([&] { return form->StatusBar1->Panels(2).Text() == "5"; }, 1000))
        << "the status digit the lines carry: " << form->StatusBar1->Panels(2).Text();

    // Still flooding: a close asked for now ends the window within a second. The main
    // window's close closes the port and asks the message loop to end.
    sink.Answers = {IDNO};  // the named test is not saved
    const DWORD asked = GetTickCount();
    PostMessageA(form->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    MSG quit;
    EXPECT_TRUE(PumpUntil([&] { return PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != 0; }, 1000))
        << "still open after " << GetTickCount() - asked << " ms";
    EXPECT_FALSE(form->USBPort->Open());
    EXPECT_FALSE(form->InstrumentPort->Open());
}

// A burst of lines all at once, and the answer behind it.
TEST_P(Traffic, TheAnswerBehindABurstOfLinesIsHandledAtOnce)
{
    SetName("BURST");
    WriteScript({"now stream 200000 0.01 GDR 0001 5 00\\r\\n", "delay 200 reply READY\\r\\n"});
    const size_t before = Transcript().size();
    const DWORD start = GetTickCount();
    form->Download->Execute();
    const DWORD took = GetTickCount() - start;
    EXPECT_EQ(Transcript().substr(before), Sequence("BURST"));
    EXPECT_EQ(form->memHints->Text(), "Done");
    EXPECT_LT(took, 200u + 500u + 400u);
    EXPECT_TRUE(sink.Requests.empty()) << sink.Requests[0].Text;
}

// 64 MB that never end a line: the collector drops what is too long to be a reply and
// goes on, and memory stays where it was.
TEST_P(Traffic, AStreamWithoutLineEndsKeepsMemoryFlat)
{
    SetName("LONG");
    const SIZE_T peak = PeakPrivateBytes();
    // The answer comes behind the stream, which the serial link takes 15 s to 50 s to bring.
    form->Protocol->Timer1->SetInterval(100000);
    WriteScript({"now bytes 67108864 XYZ", "now reply \\n"});
    form->Download->Execute();
    EXPECT_EQ(Transcript(), Sequence("LONG"));
    EXPECT_EQ(form->memHints->Text(), "Done");
    EXPECT_LT(PeakPrivateBytes() - peak, SIZE_T(16) << 20);
    EXPECT_TRUE(sink.Requests.empty()) << sink.Requests[0].Text;
}

INSTANTIATE_TEST_SUITE_P(Ports, Traffic, testing::Values(PortModeSerial, PortModeUSB), LinkName);

}  // namespace
