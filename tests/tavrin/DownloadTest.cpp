// The download and erase sequences against a scripted instrument that answers through the
// message queue, as a port's reply lines arrive.
#include "Download.h"
#include "TestSupport.h"
#include "Timer.h"
#include "UtilWindow.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace {

class Download : public testing::Test {
protected:
    void SetUp() override
    {
        p = std::make_unique<TDownloadProtocol>(nullptr);
        p->Timer1->SetInterval(60);  // the sequence's own timer, shortened for the test
        instrument = std::make_unique<TUtilWindow>([this](UINT message, WPARAM, LPARAM, LRESULT&) {
            if (message != WM_APP + 9 || pending.empty()) return false;
            const std::string line = pending.front();
            pending.pop_front();
            p->Reply(line);
            return true;
        });
        p->Send = [this](const std::string& command) {
            sent.push_back(command);
            // Each command takes the next answers of the script (none: silence).
            if (!script.empty()) {
                for (const auto& line : script.front()) {
                    pending.push_back(line);
                    PostMessageA(instrument->Handle(), WM_APP + 9, 0, 0);
                }
                script.pop_front();
            }
        };
        p->EnableSendErase = [this](bool on) { enabled.push_back(on); };
        p->ShowHint = [this](const std::string& text) { hints.push_back(text); };
        p->FlushPort = [this] { ++flushes; };
    }

    std::unique_ptr<TDownloadProtocol> p;
    std::unique_ptr<TUtilWindow> instrument;
    std::deque<std::vector<std::string>> script;
    std::deque<std::string> pending;
    std::vector<std::string> sent, hints;
    std::vector<bool> enabled;
    int flushes = 0;
    TRecordingSink sink;
};

TEST_F(Download, ThreeCommandsEachAnsweredGoOut)
{
    script = {{"READY\r\n"}, {"READY\r\n"}, {"READY\r\n"}};
    EXPECT_TRUE(p->Download(3, "01", "BREAD", "PGM10000011000A0000000010"));
    EXPECT_EQ(sent, (std::vector<std::string>{"TXTHOST3\r", "TXTNAME01BREAD\r", "PGM10000011000A0000000010\r"}));
    EXPECT_EQ(hints, (std::vector<std::string>{"Initiating download", "Programming test no. 3", "Done"}));
    EXPECT_EQ(enabled, (std::vector<bool>{false, true}));
    EXPECT_TRUE(sink.Requests.empty());
}

TEST_F(Download, AnOlderInstrumentGetsTheLineWithoutItsFifthCharacter)
{
    script = {{"TXT VR7 V1.0 0B\r\n", "READY\r\n"}, {"OK\r\n"}, {"READY\r\n"}};
    EXPECT_TRUE(p->Erase(4));
    EXPECT_EQ(p->Version, 11);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1], "TXTNAME00EMPTY\r");
    EXPECT_EQ(sent[2], "PGM100101100010000001011\r");
    EXPECT_EQ(sent[2].size(), 25u) << "24 characters and the CR";
    EXPECT_EQ(hints[1], "Erasing test no. 4");
    EXPECT_EQ(hints[2], "Test no. 4 erased");
}

TEST_F(Download, SilenceTimesOutOnceAndSkipsTheRest)
{
    EXPECT_FALSE(p->Download(0, "00", "X", "PGM10000011000A0000000010"));
    EXPECT_EQ(sent.size(), 1u);
    ASSERT_EQ(sink.Requests.size(), 1u);
    EXPECT_EQ(sink.Requests[0].Text,
              "VR7 not responding.\rMake sure the VR7 is connected to the chosen portand that it is at the download "
              "screen.");
    EXPECT_EQ(flushes, 1);
    EXPECT_EQ(enabled.back(), true);
    EXPECT_FALSE(p->Busy());
}

TEST_F(Download, InvalidParametersEndTheSequence)
{
    script = {{"READY\r\n"}, {"???\r\n"}};
    EXPECT_FALSE(p->Download(1, "00", "X", "PGM10000011000A0000000010"));
    EXPECT_EQ(sent.size(), 2u);
    EXPECT_EQ(hints.back(), "Invalid parameters");
    EXPECT_EQ(enabled, (std::vector<bool>{false, true})) << "not re-enabled inside the wait";
    EXPECT_TRUE(sink.Requests.empty());
}

TEST_F(Download, RepliesThatDoNotAnswerLeaveTheWaitToItsTimer)
{
    const struct {
        const char* name;
        std::vector<std::string> replies;
        bool answers;
    } cases[] = {
        {"test finished", {"PGM\r\n"}, false},
        {"a blank before OK", {" OK\r\n"}, false},
        {"no CR", {"READY"}, false},
        {"OK and more", {"OKAY\r\n"}, true},
        {"a short status line", {"GDR\r\n"}, false},
        {"identification without hex", {"TXT VR7 V1.0 ZZ\r\n"}, false},
        {"identification too short", {"TXT\r\n"}, false},
    };
    for (const auto& c : cases) {
        sink.Requests.clear();
        sent.clear();
        p->Version = 12;
        script = {c.replies, {"READY\r\n"}, {"READY\r\n"}};
        EXPECT_EQ(p->Download(2, "00", "X", "PGM10000011000A0000000010"), c.answers) << c.name;
        EXPECT_EQ(sink.Requests.size(), c.answers ? 0u : 1u) << c.name << ": timed out";
        EXPECT_EQ(p->Version, 12) << c.name;
    }
}

TEST_F(Download, AStatusLineRestartsTheTimerAndShowsItsDigit)
{
    std::vector<std::string> status;
    p->ShowStatus = [&](const std::string& text) { status.push_back(text); };
    script = {{"GDR000000003100\r\n", "READY\r\n"}, {"READY\r\n"}, {"READY\r\n"}};  // 3: fourth from the end
    EXPECT_TRUE(p->Download(5, "00", "X", "PGM10000011000A0000000010"));
    EXPECT_NE(std::find(status.begin(), status.end(), "3"), status.end());
    EXPECT_NE(std::find(hints.begin(), hints.end(), "Test running"), hints.end());
}

// A running test's status lines keep a step waiting; its time-out counts from the last.
TEST_F(Download, StatusLinesMoveTheTimeOutOnAndItCountsFromTheLast)
{
    p->Timer1->SetInterval(300);
    TTimer feeder(nullptr);
    feeder.SetInterval(100);
    int fed = 0;
    DWORD lastFed = 0;
    feeder.OnTimer = [&](TObject*) {
        p->Reply("GDR000000003100\r\n");
        lastFed = GetTickCount();
        if (++fed == 6) feeder.SetEnabled(false);
    };
    DWORD timedOutAt = 0;
    sink.Answers.clear();
    const auto recording = Application->SetMessageSink([&](const TMessageRequest&) {
        timedOutAt = GetTickCount();
        return IDOK;
    });
    EXPECT_FALSE(p->Download(5, "00", "X", "PGM10000011000A0000000010"));
    Application->SetMessageSink(recording);
    EXPECT_EQ(fed, 6) << "the step outlived six lines 100 ms apart under a 300 ms time-out";
    EXPECT_GE(timedOutAt - lastFed, 250u);
    EXPECT_LT(timedOutAt - lastFed, 700u);
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(p->Timer1->Interval(), 300u) << "the timer keeps its own interval";
}

TEST_F(Download, AnAbortEndsTheWaitAndASecondStartIsRefused)
{
    p->Send = [this](const std::string& command) {
        sent.push_back(command);
        EXPECT_FALSE(p->Download(1, "00", "Y", "PGM1")) << "already busy";
        p->Abort();
    };
    EXPECT_FALSE(p->Download(1, "00", "X", "PGM10000011000A0000000010"));
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_FALSE(p->Busy());
}

}  // namespace
