// The packet collector on a port over the fake device: the test pushes the bytes and runs
// the dispatcher's steps itself, so no thread runs unless a case says so.
#include "FakeDevice.h"
#include "SioExcept.h"
#include "SioPacket.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

// A form with a port over the fake device and a packet, and what the packet delivered.
// Collects from `start` (any data when empty) up to and with `end`.
void Between(TSioDataPacket& p, const std::string& start, const std::string& end)
{
    if (start.empty()) p.StartCond = scAnyData;
    else p.StartString = start;
    p.SetEndCond(ecString);
    p.SetEndString(end);
}

class TRig {
public:
    explicit TRig(bool openFirst = true, bool runThreads = false) : runThreads_(runThreads)
    {
        form = std::make_unique<TComponent>(nullptr);
        port = new TSioComPort(form.get());
        port->SetComNumber(5);
        port->DispatcherFactory = [this](TSioCustomComPort& p) {
            fake = new TFakeDispatcher(&p);
            fake->RunThreads = runThreads_;
            return fake;
        };
        if (openFirst) port->SetOpen(true);
        packet = Add();
    }

    TSioDataPacket* Add()
    {
        auto* p = new TSioDataPacket(form.get());
        p->OnPacket = [this, p](TObject* sender, const char* data, int size) {
            EXPECT_EQ(sender, p);
            raw.emplace_back(data, size);
        };
        p->OnStringPacket = [this, p](TObject*, const std::string& s) {
            packets.push_back(s);
            if (onPacket) onPacket(p, s);
        };
        p->OnTimeout = [this](TObject*) { ++timeouts; };
        return p;
    }

    void Feed(const std::string& bytes)
    {
        fake->Receive(bytes);
        fake->HandleCommEvent(EV_RXCHAR);
    }

    TSioDataPacketManager* Manager() const { return SioDataPacketManagers().Find(port); }

    std::unique_ptr<TComponent> form;
    TSioComPort* port = nullptr;
    TFakeDispatcher* fake = nullptr;
    TSioDataPacket* packet = nullptr;
    std::vector<std::string> packets, raw;
    std::function<void(TSioDataPacket*, const std::string&)> onPacket;
    int timeouts = 0;

private:
    bool runThreads_;
};

void HandleWaitingMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

// Handles the messages until `done` holds, at most 5 s; it looks before it waits, for a
// message may be queued already.
bool PumpFor(const std::function<bool()>& done)
{
    const DWORD start = GetTickCount();
    for (;;) {
        HandleWaitingMessages();
        if (done()) return true;
        if (GetTickCount() - start > 5000) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
}

// A clock the test moves by hand.
class TManualClock {
public:
    TManualClock() { previous_ = SioSetClock([]() -> DWORD { return Now; }); }
    ~TManualClock() { SioSetClock(previous_); }
    static inline DWORD Now = 100000;

private:
    TSioClockSource previous_;
};

TEST(PacketPattern, DropsItsEscapesAndMarksItsWildcards)
{
    const struct {
        const char* name;
        std::string source;
        bool upper;
        std::string text, mask;
    } cases[] = {
        {"plain", "abc", false, "abc", "000"},
        {"upper-cased", "gDr", true, "GDR", "000"},
        {"a wildcard", "a?c", false, "a?c", "010"},
        {"an escaped question mark", "a\\?c", false, "a?c", "000"},
        {"an escaped escape", "x\\\\y", false, "x\\y", "000"},
        {"any escaped character", "\\ab", false, "ab", "00"},
        {"a lone escape at the end", "ab\\", false, "ab\\", "000"},
        {"only wildcards", "??", true, "??", "11"},
        {"empty", "", true, "", ""},
        {"a line end", "\r\n", true, "\r\n", "00"},
    };
    for (const auto& c : cases) {
        const TSioPacketPattern p = SioPreparePattern(c.source, c.upper);
        EXPECT_EQ(p.Text, c.text) << c.name;
        EXPECT_EQ(p.Mask, c.mask) << c.name;
    }
}

TEST(PacketDefaults, AreThoseOfTheCollectorAndThePortIsFoundOnTheOwner)
{
    TComponent form(nullptr);
    auto* panel = new TComponent(&form);
    auto* port = new TSioComPort(panel);
    TSioDataPacket p(&form);
    EXPECT_FALSE(p.Enabled());
    EXPECT_TRUE(p.AutoEnable);
    EXPECT_EQ(p.StartCond, scString);
    EXPECT_EQ(p.StartString, "");
    EXPECT_EQ(p.EndCond(), 0u);
    EXPECT_EQ(p.EndString(), "");
    EXPECT_EQ(p.PacketSize, 0);
    EXPECT_TRUE(p.IncludeStrings);
    EXPECT_TRUE(p.IgnoreCase);
    EXPECT_EQ(p.TimeOut, 2184);
    EXPECT_EQ(p.ComPort(), port);
    ASSERT_NE(p.Manager(), nullptr);
    EXPECT_EQ(p.Manager()->Port(), port);
    EXPECT_FALSE(p.Manager()->HandlerEnabled()) << "the port is not open";
    EXPECT_EQ(p.Version(), "v1.00");

    TSioDataPacket alone(nullptr);
    EXPECT_EQ(alone.ComPort(), nullptr);
    EXPECT_EQ(alone.Manager(), nullptr);
}

struct TCutCase {
    const char* name;
    std::vector<std::string> reads;
    std::vector<std::string> packets;
    TSioPacketStartCond start = scAnyData;
    std::string startString = "";
    TSioPacketEndCond end = ecString;
    std::string endString = "\n";
    int size = 0;
    bool include = true;
    bool ignoreCase = true;
    bool autoEnable = true;
    size_t maxLength = 0;
};

TEST(Packet, CutsTheStreamByItsConditions)
{
    const TCutCase cases[] = {
        {.name = "a line with its CR LF", .reads = {"OK\r\n"}, .packets = {"OK\r\n"}},
        {.name = "two lines in one read, in order", .reads = {"A\nB\n"}, .packets = {"A\n", "B\n"}},
        {.name = "a partial line completes on the next read", .reads = {"RE", "ADY\r", "\n"}, .packets = {"READY\r\n"}},
        {.name = "end ab in aab: retried one byte later", .reads = {"aab"}, .packets = {"aab"}, .endString = "ab"},
        {.name = "end ab in aab across reads", .reads = {"xa", "ab"}, .packets = {"xaab"}, .endString = "ab"},
        {.name = "end aab in aaab: retried inside the partial match", .reads = {"aaab"}, .packets = {"aaab"},
         .endString = "aab"},
        {.name = "end abab in abaabab", .reads = {"abaabab"}, .packets = {"abaabab"}, .endString = "abab"},
        {.name = "ignoring case, start gdr matches GDR", .reads = {"xxGDRyy"}, .packets = {"GDR"}, .start = scString,
         .startString = "gdr", .end = 0},
        {.name = "minding case, start gdr misses GDR", .reads = {"xxGDRyy"}, .packets = {}, .start = scString,
         .startString = "gdr", .end = 0, .ignoreCase = false},
        {.name = "minding case, start gdr matches gdr", .reads = {"GDRgdr"}, .packets = {"gdr"}, .start = scString,
         .startString = "gdr", .end = 0, .ignoreCase = false},
        {.name = "an escaped question mark matches only itself", .reads = {"abca?"}, .packets = {"a?"},
         .start = scString, .startString = "a\\?", .end = 0},
        {.name = "a question mark matches any byte", .reads = {"xab", "a?"}, .packets = {"ab", "a?"}, .start = scString,
         .startString = "a?", .end = 0},
        {.name = "a wildcard in the end string", .reads = {"v=1;v=22;"}, .packets = {"v=1;", "v=22;"},
         .endString = "?;"},
        {.name = "start backtracking: abc in ababc", .reads = {"ababc"}, .packets = {"abc"}, .start = scString,
         .startString = "abc", .end = 0},
        {.name = "start backtracking across reads", .reads = {"aba", "bc"}, .packets = {"abc"}, .start = scString,
         .startString = "abc", .end = 0},
        {.name = "the start string is the packet, each time", .reads = {"xOKyOKOK"}, .packets = {"OK", "OK", "OK"},
         .start = scString, .startString = "OK", .end = 0},
        {.name = "start and end", .reads = {"zz<da", "ta>zz<x>"}, .packets = {"<data>", "<x>"}, .start = scString,
         .startString = "<", .endString = ">"},
        {.name = "IncludeStrings false drops the start and end strings", .reads = {"zz<<data>>zz"}, .packets = {"data"},
         .start = scString, .startString = "<<", .endString = ">>", .include = false},
        {.name = "IncludeStrings false on any data drops the end string", .reads = {"OK\r\n"}, .packets = {"OK"},
         .endString = "\r\n", .include = false},
        {.name = "sizes", .reads = {"abcdefg"}, .packets = {"abc", "def"}, .end = ecPacketSize, .size = 3},
        {.name = "a size counts the start string", .reads = {"x#abcde"}, .packets = {"#abc"}, .start = scString,
         .startString = "#", .end = ecPacketSize, .size = 4},
        {.name = "a size with IncludeStrings false", .reads = {"x#abcde"}, .packets = {"abc"}, .start = scString,
         .startString = "#", .end = ecPacketSize, .size = 4, .include = false},
        {.name = "a size as large as the start string", .reads = {"x#y#"}, .packets = {"#", "#"}, .start = scString,
         .startString = "#", .end = ecPacketSize, .size = 1},
        {.name = "size or end string, whichever comes first", .reads = {"ab\nabcdef\n"},
         .packets = {"ab\n", "abcd", "ef\n"}, .end = ecString | ecPacketSize, .size = 4},
        {.name = "without AutoEnable only the first", .reads = {"A\nB\n"}, .packets = {"A\n"}, .autoEnable = false},
        {.name = "a line beyond MaxLength is dropped whole", .reads = {"0123456789AB\nOK\n"}, .packets = {"OK\n"},
         .maxLength = 8},
        {.name = "a line beyond MaxLength across reads", .reads = {"01234", "56789", "AB", "\nOK\n"},
         .packets = {"OK\n"}, .maxLength = 8},
        {.name = "a line of MaxLength is kept", .reads = {"ABC\n", "ABCD\n"}, .packets = {"ABC\n"}, .maxLength = 4},
        {.name = "a partial end survives the drop", .reads = {"abcdef\r", "\nOK\r\n"}, .packets = {"OK\r\n"},
         .endString = "\r\n", .maxLength = 4},
        {.name = "a start string and MaxLength", .reads = {"<abcdefgh>x<ok>"}, .packets = {"<ok>"}, .start = scString,
         .startString = "<", .endString = ">", .maxLength = 5},
    };
    for (const auto& c : cases) {
        TRig rig;
        TSioDataPacket& p = *rig.packet;
        p.StartCond = c.start;
        p.StartString = c.startString;
        p.SetEndCond(c.end);
        p.SetEndString(c.endString);
        p.PacketSize = c.size;
        p.IncludeStrings = c.include;
        p.IgnoreCase = c.ignoreCase;
        p.AutoEnable = c.autoEnable;
        p.MaxLength = c.maxLength;
        p.TimeOut = 0;
        p.SetEnabled(true);
        for (const auto& read : c.reads) rig.Feed(read);
        EXPECT_EQ(rig.packets, c.packets) << c.name;
        EXPECT_EQ(rig.raw, c.packets) << c.name << ": the pointer and size say the same";
        EXPECT_EQ(p.Enabled(), c.autoEnable) << c.name;
        EXPECT_EQ(rig.fake->InputCount(), 0u) << c.name << ": every byte was taken";
    }
}

TEST(Packet, ArmingChecksTheSettings)
{
    const struct {
        const char* name;
        TSioPacketStartCond start;
        std::string startString;
        TSioPacketEndCond end;
        std::string endString;
        int size;
        int code;
        const char* text;
    } cases[] = {
        {"no start string", scString, "", 0, "", 0, 5501, "Start string is empty"},
        {"a size below the start string", scString, "a\\?c", ecPacketSize, "", 2, 5502,
         "Packet size cannot be smaller than start string"},
        {"any data without an end", scAnyData, "", 0, "", 0, 5503, "CharCount packets must have an end-condition"},
        {"no end string", scAnyData, "", ecString, "", 0, 5504, "End string is empty"},
        {"no end string after a start", scString, "S", ecString, "", 0, 5504, "End string is empty"},
        {"a size of 0", scAnyData, "", ecPacketSize, "", 0, 5505, "Packet size cannot be zero"},
    };
    for (const auto& c : cases) {
        TRig rig;
        TSioDataPacket& p = *rig.packet;
        p.StartCond = c.start;
        p.StartString = c.startString;
        p.SetEndCond(c.end);
        p.SetEndString(c.endString);
        p.PacketSize = c.size;
        try {
            p.SetEnabled(true);
            ADD_FAILURE() << c.name << ": armed";
        } catch (const ESioException& e) {
            EXPECT_EQ(typeid(e), typeid(EInvalidProperty)) << c.name;
            EXPECT_EQ(e.ErrorCode, c.code) << c.name;
            EXPECT_STREQ(e.what(), c.text) << c.name;
        }
        EXPECT_FALSE(p.Enabled()) << c.name;
        rig.Feed("S?c\nabc");
        EXPECT_TRUE(rig.packets.empty()) << c.name;
    }
}

TEST(Packet, AnEndSetterOfAnEnabledPacketArmsItAgain)
{
    TRig rig;
    TSioDataPacket& p = *rig.packet;
    Between(p, "", ";");
    p.SetEnabled(true);
    rig.Feed("ab");
    p.SetEndString("\n");  // what was collected goes
    rig.Feed("c;d\n");
    EXPECT_EQ(rig.packets, (std::vector<std::string>{"c;d\n"}));
    EXPECT_THROW(p.SetEndString(""), EInvalidProperty);
    EXPECT_FALSE(p.Enabled());
}

TEST(Packet, ATimeOutFiresOnceDisarmsThePacketAndDiscardsItsData)
{
    TManualClock clock;
    TRig rig;
    TSioDataPacket& p = *rig.packet;
    Between(p, "S", "\n");
    p.TimeOut = 2;
    p.SetEnabled(true);
    rig.Feed("xxSab");  // collection starts at the S
    TManualClock::Now += 110;
    rig.fake->PollTimersAndStatus();
    EXPECT_EQ(rig.timeouts, 0) << "two ticks are 110 ms: not yet past";
    TManualClock::Now += 1;
    rig.fake->PollTimersAndStatus();
    EXPECT_EQ(rig.timeouts, 1);
    EXPECT_FALSE(p.Enabled());
    EXPECT_EQ(rig.Manager()->Buffered(), 0u);
    TManualClock::Now += 10000;
    rig.fake->PollTimersAndStatus();
    EXPECT_EQ(rig.timeouts, 1) << "once";
    rig.Feed("c\n");
    EXPECT_TRUE(rig.packets.empty()) << "disarmed";
    p.SetEnabled(true);
    rig.Feed("d\nSe\n");
    EXPECT_EQ(rig.packets, (std::vector<std::string>{"Se\n"})) << "Sab went with the time-out";
}

TEST(Packet, APacketInTimeStopsItsTimer)
{
    TManualClock clock;
    TRig rig;
    TSioDataPacket& p = *rig.packet;
    Between(p, "S", "\n");
    p.TimeOut = 2;
    p.SetEnabled(true);
    rig.Feed("Sa");
    TManualClock::Now += 100;
    rig.Feed("b\n");
    TManualClock::Now += 1000;
    rig.fake->PollTimersAndStatus();
    EXPECT_EQ(rig.packets, (std::vector<std::string>{"Sab\n"}));
    EXPECT_EQ(rig.timeouts, 0) << "the timer starts only when the next packet starts";
    EXPECT_TRUE(p.Enabled());
}

TEST(Packet, TheInstrumentPortConfigurationDeliversItsReply)
{
    TManualClock clock;
    TRig rig(false);
    rig.port->SetBaud(115200);
    rig.port->PromptForPort = false;
    rig.port->SetInSize(1024);
    rig.port->SetOutSize(1024);
    rig.port->AutoOpen = false;
    TSioDataPacket& p = *rig.packet;
    p.SetEnabled(false);
    Between(p, "", "\n");
    p.PacketSize = 0;
    p.TimeOut = 0;
    std::vector<std::string> replies;
    p.OnStringPacket = [&](TObject*, const std::string& reply) { replies.push_back(reply); };
    rig.port->SetOpen(true);
    ASSERT_TRUE(p.Manager()->HandlerEnabled()) << "enabled when the port opened";
    rig.Feed("ignored while disabled\n");
    p.SetEnabled(true);
    rig.Feed("READY\r\n");
    TManualClock::Now += 1000000;
    rig.fake->PollTimersAndStatus();
    EXPECT_EQ(replies, (std::vector<std::string>{"READY\r\n"}));
    EXPECT_EQ(rig.timeouts, 0) << "no time-out";
}

TEST(Packet, AHandlerMayDisableThePacketSendAndCloseThePort)
{
    const struct {
        const char* name;
        bool disable, send, close;
        std::vector<std::string> packets;  // after ONE TWO, then THREE, then FOUR with the packet enabled
    } cases[] = {
        {"disable, send and close", true, true, true, {"ONE\n", "FOUR\n"}},
        {"close: the rest of the read goes with the port", false, false, true, {"ONE\n", "THREE\n", "FOUR\n"}},
        {"disable: later packets wait for the enable", true, false, false, {"ONE\n", "FOUR\n"}},
        {"send", false, true, false, {"ONE\n", "TWO\n", "THREE\n", "FOUR\n"}},
    };
    for (const auto& c : cases) {
        TRig rig;
        TSioDataPacket& p = *rig.packet;
        Between(p, "", "\n");
        p.SetEnabled(true);
        std::string sent;
        rig.onPacket = [&](TSioDataPacket* packet, const std::string&) {
            if (rig.packets.size() > 1) return;
            if (c.disable) packet->SetEnabled(false);
            if (c.send) {
                rig.port->SendString("ACK\r");
                rig.fake->OutputStep();  // what the output thread does
                sent = rig.fake->Written();
            }
            if (c.close) rig.port->SetOpen(false);
        };
        rig.Feed("ONE\nTWO\n");
        EXPECT_EQ(sent, c.send ? "ACK\r" : "") << c.name;
        EXPECT_EQ(p.Enabled(), !c.disable) << c.name;
        if (c.close) {
            ASSERT_TRUE(PumpFor([&] { return rig.port->State() == psClosed; })) << c.name << ": the deferred close ends";
            EXPECT_FALSE(rig.port->Open()) << c.name;
            EXPECT_FALSE(p.Manager()->HandlerEnabled()) << c.name;
            rig.port->SetOpen(true);
            ASSERT_TRUE(p.Manager()->HandlerEnabled()) << c.name << ": registered again";
        }
        rig.Feed("THREE\n");
        p.SetEnabled(true);
        rig.Feed("FOUR\n");
        EXPECT_EQ(rig.packets, c.packets) << c.name;
    }
}

TEST(Packet, ClosingThePortDropsWhatWasCollectedAndReopeningArmsAgain)
{
    TRig rig;
    TSioDataPacket& p = *rig.packet;
    Between(p, "<", ">");
    p.SetEnabled(true);
    rig.Feed("<ab");
    rig.port->SetOpen(false);
    EXPECT_EQ(p.Manager()->Buffered(), 0u);
    EXPECT_TRUE(p.Enabled()) << "still enabled, armed again on the next open";
    rig.port->SetOpen(true);
    rig.Feed("c><d>");
    EXPECT_EQ(rig.packets, (std::vector<std::string>{"<d>"}));
}

TEST(Packet, ArmingWhileLoadingWaitsForLoaded)
{
    TRig rig;
    TSioDataPacket& p = *rig.packet;
    p.BeginLoading();
    p.SetEnabled(true);  // the form's stored value comes before the other settings
    Between(p, "", "\n");
    p.EndLoading();
    rig.Feed("L\n");
    EXPECT_EQ(rig.packets, (std::vector<std::string>{"L\n"}));

    TRecordingSink sink;
    TSioDataPacket* bad = rig.Add();
    bad->BeginLoading();
    bad->SetEnabled(true);
    bad->EndLoading();
    EXPECT_FALSE(bad->Enabled());
    ASSERT_EQ(sink.Requests.size(), 1u) << "shown by the application";
    EXPECT_EQ(sink.Requests[0].Text, "Start string is empty.");
}

TEST(Packet, EventsReachTheGuiThreadFromTheDispatchThread)
{
    TRig rig(true, true);
    ASSERT_TRUE(rig.fake->ThreadsRunning());
    TSioDataPacket& p = *rig.packet;
    Between(p, "", "\n");
    p.SetEnabled(true);
    std::vector<DWORD> threads;
    rig.onPacket = [&](TSioDataPacket*, const std::string&) {
        threads.push_back(GetCurrentThreadId());
        if (rig.packets.size() == 2) rig.port->SetOpen(false);
    };
    rig.fake->Receive("one\ntwo\nthree\n");
    rig.fake->Event(EV_RXCHAR);
    ASSERT_TRUE(PumpFor([&] { return rig.port->State() == psClosed; }));
    EXPECT_EQ(rig.packets, (std::vector<std::string>{"one\n", "two\n"}));
    EXPECT_EQ(threads, (std::vector<DWORD>{MainThreadID, MainThreadID}));
}

TEST(PacketManager, IsSharedByThePacketsOfAPortAndFreesItselfWhenTheLastLeaves)
{
    const int before = SioDataPacketManagers().Count();
    TRig rig;
    TSioDataPacket* second = rig.Add();
    TSioDataPacketManager* m = rig.Manager();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(rig.packet->Manager(), m);
    EXPECT_EQ(second->Manager(), m);
    EXPECT_EQ(m->PacketCount(), 2);
    EXPECT_EQ(SioDataPacketManagers().Count(), before + 1);
    EXPECT_TRUE(m->HandlerEnabled());

    TSioComPort other(nullptr);
    second->SetComPort(&other);
    EXPECT_NE(second->Manager(), m);
    EXPECT_EQ(SioDataPacketManagers().Count(), before + 2);
    EXPECT_EQ(m->PacketCount(), 1);
    delete second;
    delete rig.packet;
    rig.packet = nullptr;
    ASSERT_TRUE(PumpFor([&] { return SioDataPacketManagers().Count() == before; })) << "both freed by their message";
    EXPECT_EQ(SioDataPacketManagers().Find(rig.port), nullptr);
    rig.Feed("late\n");  // no handler left
    EXPECT_EQ(rig.fake->InputCount(), 5u);
}

TEST(PacketManager, APacketJoiningBeforeTheMessageKeepsTheManager)
{
    TRig rig;
    TSioDataPacketManager* m = rig.Manager();
    delete rig.packet;
    rig.packet = rig.Add();
    EXPECT_EQ(rig.packet->Manager(), m);
    HandleWaitingMessages();  // the message posted when the list was empty
    EXPECT_EQ(rig.Manager(), m);
}

TEST(PacketManager, APacketThatStartsCollectingRestartsTheOthers)
{
    TManualClock clock;
    TRig rig;
    TSioDataPacket& framed = *rig.packet;
    Between(framed, "<", ">");
    framed.TimeOut = 1;
    framed.SetEnabled(true);
    TSioDataPacket* word = rig.Add();
    word->StartString = "AB";
    word->SetEnabled(true);
    std::vector<std::string> order;
    rig.onPacket = [&](TSioDataPacket* p, const std::string& s) { order.push_back((p == word ? "word " : "framed ") + s); };
    // The A before the < is given up; the AB inside the frame is the frame's, also while the
    // frame is still open at the end of a read.
    rig.Feed("A<xAB");
    rig.Feed(">AB");
    EXPECT_EQ(order, (std::vector<std::string>{"framed <xAB>", "word AB"}));
    // Also when the frame does not complete: its A is not taken up again after the time-out.
    order.clear();
    rig.Feed("A");  // the word's partial match, kept across the reads
    rig.Feed("<x");
    TManualClock::Now += 56;
    rig.fake->PollTimersAndStatus();
    ASSERT_EQ(rig.timeouts, 1);
    rig.Feed("BAB");
    EXPECT_EQ(order, (std::vector<std::string>{"word AB"}));
    EXPECT_EQ(rig.packets.back(), "AB");
}

TEST(PacketManager, AnyDataWaitsWhileAnotherPacketCollects)
{
    TRig rig;
    TSioDataPacket& lines = *rig.packet;
    Between(lines, "", "\n");
    lines.SetEnabled(true);
    TSioDataPacket* fields = rig.Add();
    Between(*fields, "", ";");
    fields->SetEnabled(true);
    std::vector<std::string> order;
    rig.onPacket = [&](TSioDataPacket* p, const std::string& s) { order.push_back((p == fields ? "field " : "line ") + s); };
    rig.Feed("a;b\n");
    lines.SetEnabled(false);
    rig.Feed("c;d\n");
    EXPECT_EQ(order, (std::vector<std::string>{"line a;b\n", "field c;"}));
}

TEST(PacketManager, PacketsAreOfferedTheBytesInListOrder)
{
    TRig rig;
    TSioDataPacket& first = *rig.packet;
    first.StartString = "AB";
    first.SetEnabled(true);
    TSioDataPacket* second = rig.Add();
    second->StartString = "BC";
    second->SetEnabled(true);
    std::vector<std::string> order;
    rig.onPacket = [&](TSioDataPacket* p, const std::string& s) { order.push_back((p == second ? "2 " : "1 ") + s); };
    rig.Feed("ABC BC");  // the first takes the B the second would have started with
    EXPECT_EQ(order, (std::vector<std::string>{"1 AB", "2 BC"}));
}

TEST(PacketManager, ArmingFromAHandlerWaitsUntilTheEventIsOver)
{
    TRig rig;
    TSioDataPacket& framed = *rig.packet;
    Between(framed, "<", ">");
    framed.SetEnabled(true);
    TSioDataPacket* word = rig.Add();
    word->StartString = "AB";
    bool armedInside = false;
    rig.onPacket = [&](TSioDataPacket* p, const std::string&) {
        if (p != &framed) return;
        word->SetEnabled(true);
        armedInside = word->Manager()->InEvent();
        EXPECT_THROW(rig.Add()->SetEnabled(true), EInvalidProperty) << "the settings are checked at once";
    };
    rig.Feed("<1>AB");
    EXPECT_TRUE(armedInside);
    EXPECT_EQ(rig.packets, (std::vector<std::string>{"<1>", "AB"})) << "the rest offered after the event";
}

TEST(PacketManager, AHandlerExceptionGoesToTheApplication)
{
    TRig rig;
    TSioDataPacket& p = *rig.packet;
    Between(p, "", "\n");
    p.SetEnabled(true);
    std::vector<std::string> reported;
    Application->OnException = [&](TObject* sender, const std::exception& e) {
        EXPECT_EQ(sender, &p);
        reported.push_back(e.what());
    };
    rig.onPacket = [](TSioDataPacket*, const std::string& s) { throw Exception("bad " + s.substr(0, 1)); };
    rig.Feed("A\nB\n");
    Application->OnException = nullptr;
    EXPECT_EQ(rig.packets, (std::vector<std::string>{"A\n", "B\n"}));
    EXPECT_EQ(reported, (std::vector<std::string>{"bad A", "bad B"}));
}

TEST(PacketManager, TheSharedBufferGrowsInMegabyteSteps)
{
    TRig rig;
    TSioDataPacket& p = *rig.packet;
    Between(p, "<", ">");
    p.SetEnabled(true);
    const std::string part(700000, 'x');
    rig.Feed("<" + part);
    EXPECT_EQ(rig.Manager()->Capacity(), 1u << 20);
    rig.Feed(part);
    EXPECT_EQ(rig.Manager()->Capacity(), 2u << 20);
    EXPECT_EQ(rig.Manager()->Buffered(), 1400001u);
    rig.Feed(">tail");
    ASSERT_EQ(rig.raw.size(), 1u);
    EXPECT_EQ(rig.raw[0].size(), 1400002u);
    EXPECT_EQ(rig.raw[0].substr(rig.raw[0].size() - 3), "xx>");
    EXPECT_EQ(rig.Manager()->Buffered(), 0u) << "nothing is collecting";
}

// An end that never comes: with MaxLength the buffer holds no more than the bound and one
// read, however much arrives.
TEST(PacketManager, MaxLengthBoundsTheBufferOfAnEndThatNeverComes)
{
    TRig rig;
    TSioDataPacket& p = *rig.packet;
    Between(p, "", "\n");
    p.MaxLength = 1000;
    p.SetEnabled(true);
    const std::string part(700000, 'x');
    for (int i = 0; i < 8; ++i) rig.Feed(part);
    EXPECT_EQ(rig.Manager()->Capacity(), 1u << 20);
    EXPECT_LE(rig.Manager()->Buffered(), 1000u);
    rig.Feed("x\nOK\n");
    EXPECT_EQ(rig.packets, std::vector<std::string>{"OK\n"});
}

TEST(PacketManager, HearsOnlyItsOwnPortWhenAnotherHasItsEntriesByAssign)
{
    TRig rig;
    TSioDataPacket& p = *rig.packet;
    Between(p, "", "\n");
    p.SetEnabled(true);
    rig.Feed("par");
    TSioComPort copy(nullptr);
    copy.Assign(rig.port);  // the notification entries come along
    copy.SetComNumber(6);
    copy.DispatcherFactory = [](TSioCustomComPort& port) { return new TFakeDispatcher(&port); };
    copy.SetOpen(true);
    copy.SetOpen(false);
    EXPECT_TRUE(rig.Manager()->HandlerEnabled());
    rig.Feed("tial\n");
    EXPECT_EQ(rig.packets, (std::vector<std::string>{"partial\n"}));
}

TEST(PacketManager, AFreedPortLeavesItsPacketsWithoutPort)
{
    TRig rig;
    TSioDataPacket& p = *rig.packet;
    Between(p, "", "\n");
    p.TimeOut = 5;
    p.SetEnabled(true);
    TSioDataPacketManager* m = rig.Manager();
    ASSERT_NE(m, nullptr);
    delete rig.port;
    rig.port = nullptr;
    EXPECT_EQ(p.ComPort(), nullptr);
    EXPECT_EQ(p.Manager(), nullptr);
    EXPECT_TRUE(p.Enabled());
    ASSERT_TRUE(PumpFor([&] { return SioDataPacketManagers().Count() == 0; }));
}

}  // namespace
