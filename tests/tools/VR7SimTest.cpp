// The simulated instrument answers as its script says, on the serial link (a pty COM port)
// and on the USB link (the TCP socket the stand-in driver uses). Runs under tools/vr7sim.py.
#include "InstrumentSupport.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// The serial link as a program sees it.
class TSerialLink {
public:
    TSerialLink()
    {
        const std::string name = "\\\\.\\COM" + EnvText("TAVRIN_TEST_COM");
        handle_ = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        DCB dcb = {};
        dcb.DCBlength = sizeof dcb;
        GetCommState(handle_, &dcb);
        dcb.BaudRate = 115200;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        SetCommState(handle_, &dcb);
        COMMTIMEOUTS t = {};
        t.ReadTotalTimeoutConstant = 3000;  // a bound, not a pause: a read returns as the bytes come
        SetCommTimeouts(handle_, &t);
    }
    ~TSerialLink() { CloseHandle(handle_); }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    void Send(const std::string& s)
    {
        DWORD n = 0;
        WriteFile(handle_, s.data(), static_cast<DWORD>(s.size()), &n, nullptr);
    }
    // Reads until `count` bytes came or the bound passed.
    std::string Receive(size_t count)
    {
        std::string got;
        char buffer[256];
        while (got.size() < count) {
            DWORD n = 0;
            if (!ReadFile(handle_, buffer, static_cast<DWORD>(std::min<size_t>(sizeof buffer, count - got.size())), &n,
                          nullptr) ||
                n == 0)
                break;
            got.append(buffer, n);
        }
        return got;
    }

private:
    HANDLE handle_;
};

TEST(VR7Sim, AnswersEveryCommandWithReadyByDefault)
{
    TSerialLink link;
    ASSERT_TRUE(link.Valid());
    link.Send("TXTHOST1\r");
    EXPECT_EQ(link.Receive(7), "READY\r\n");
    link.Send("TXTNAME00TEST\rPGM10000011000A0000000010\r");
    EXPECT_EQ(link.Receive(14), "READY\r\nREADY\r\n");
    EXPECT_EQ(Transcript(), "TXTHOST1\rTXTNAME00TEST\rPGM10000011000A0000000010\r");
    EXPECT_EQ(ReadWholeFile(PeerFile("log")),
              "serial TXTHOST1\nserial TXTNAME00TEST\nserial PGM10000011000A0000000010\n");
}

TEST(VR7Sim, FollowsItsScriptStepByStep)
{
    WriteScript({
        "# one step per command",
        "reply OK\\r\\n",
        "reply ???\\r\\n",
        "reply TXT VR7 V1.0 0B\\r\\nREADY\\r\\n",
        "reply GDR00000000310\\r\\n",
        "split REA|DY\\r|\\n",
        "silence",
        "garbage 12",
        "delay 100 reply \\x4FK\\r\\n",
        "reply A\\n && delay 50 reply B\\n",
        "default reply OK\\r\\n",
    });
    TSerialLink link;
    const struct {
        const char* name;
        size_t length;
        const char* expected;  // nullptr: any bytes but CR and LF
    } steps[] = {
        {"ok", 4, "OK\r\n"},
        {"invalid", 5, "???\r\n"},
        {"identification", 24, "TXT VR7 V1.0 0B\r\nREADY\r\n"},
        {"status", 16, "GDR00000000310\r\n"},
        {"split", 7, "READY\r\n"},
        {"silence, then the next step", 12, nullptr},
        {"delayed", 4, "OK\r\n"},
        {"two steps in one", 4, "A\nB\n"},
        {"the default", 4, "OK\r\n"},
    };
    for (const auto& s : steps) {
        link.Send("C\r");
        if (std::string(s.name).rfind("silence", 0) == 0) link.Send("C\r");
        const std::string got = link.Receive(s.length);
        ASSERT_EQ(got.size(), s.length) << s.name;
        if (s.expected) EXPECT_EQ(got, s.expected) << s.name;
        else EXPECT_EQ(got.find_first_of("\r\n"), std::string::npos) << s.name;
    }
}

// A steady flood keeps its rate and count; a stream of bytes never ends a line.
TEST(VR7Sim, StreamsAFloodAtItsRateAndBytesWithoutALineEnd)
{
    TSerialLink link;
    ASSERT_TRUE(link.Valid());
    const std::string line = "GDR0001500\r\n";
    WriteScript({"stream 200 0.5 GDR0001500\\r\\n", "bytes 100001 XYZ"});
    const DWORD start = GetTickCount();
    link.Send("C\r");
    const std::string flood = link.Receive(100 * line.size());
    const DWORD took = GetTickCount() - start;
    ASSERT_EQ(flood.size(), 100 * line.size());
    for (size_t at = 0; at < flood.size(); at += line.size()) ASSERT_EQ(flood.substr(at, line.size()), line) << at;
    EXPECT_GE(took, 400u) << "spread over half a second, not sent at once";
    EXPECT_LT(took, 3000u);

    link.Send("C\r");
    const std::string bytes = link.Receive(100001);
    ASSERT_EQ(bytes.size(), 100001u);
    EXPECT_EQ(bytes.substr(0, 6), "XYZXYZ");
    EXPECT_EQ(bytes.substr(99996), "XYZXY");
    EXPECT_EQ(bytes.find_first_of("\r\n"), std::string::npos);
}

TEST(VR7Sim, ANowStepIsSentUnaskedAndTheUsbLinkAnswersToo)
{
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    const std::string endpoint = EnvText("TAVRIN_PEER_TCP");
    const size_t colon = endpoint.rfind(':');
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(std::stoi(endpoint.substr(colon + 1))));
    address.sin_addr.s_addr = inet_addr(endpoint.substr(0, colon).c_str());
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    DWORD bound = 3000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&bound), sizeof bound);
    const auto receive = [&](size_t count) {
        std::string got;
        char buffer[256];
        while (got.size() < count) {
            const int n = recv(s, buffer, static_cast<int>(std::min<size_t>(sizeof buffer, count - got.size())), 0);
            if (n <= 0) break;
            got.append(buffer, n);
        }
        return got;
    };
    send(s, "TXTHOST3\r", 9, 0);
    EXPECT_EQ(receive(7), "READY\r\n");
    WriteScript({"now reply GDR00000000510\\r\\n"});
    EXPECT_EQ(receive(16), "GDR00000000510\r\n");
    EXPECT_EQ(ReadWholeFile(PeerFile("log")), "usb TXTHOST3\n");
    closesocket(s);
    WSACleanup();
}

}  // namespace
