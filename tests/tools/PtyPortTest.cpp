// A pty as a Wine COM port with modem lines. Each case runs under tools/ptyport.py, which
// makes the port (TAVRIN_TEST_COM), echoes on its far end and names the pty
// (TAVRIN_TEST_PTS); the preloaded tools/ptymodem library takes the lines the peer drives
// from PTYMODEM_DIR/ptsN.in and writes the ones the program drives to PTYMODEM_DIR/ptsN.out.
#include "PtyLines.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

constexpr DWORD kBoundMs = 5000;

class PtyPort : public ::testing::Test {
protected:
    void Open(DWORD flags)
    {
        const std::string com = EnvText("TAVRIN_TEST_COM");
        ASSERT_FALSE(com.empty()) << "no test port: run through tools/ptyport.py";
        const std::string name = "\\\\.\\COM" + com;
        port_ = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags, nullptr);
        ASSERT_NE(port_, INVALID_HANDLE_VALUE) << name << ": " << GetLastError();
    }

    void Set8N1(DWORD baud)
    {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        ASSERT_TRUE(GetCommState(port_, &dcb)) << GetLastError();
        dcb.BaudRate = baud;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fErrorChar = FALSE;
        dcb.fNull = FALSE;
        dcb.fAbortOnError = FALSE;
        ASSERT_TRUE(SetCommState(port_, &dcb)) << GetLastError();
    }

    DWORD ModemStatus()
    {
        DWORD status = 0xFFFFFFFF;
        EXPECT_TRUE(GetCommModemStatus(port_, &status)) << GetLastError();
        return status;
    }

    void TearDown() override
    {
        if (port_ == INVALID_HANDLE_VALUE) return;
        if (waitEvent_) {
            // A wait still pending would write into this fixture after it is gone.
            SetCommMask(port_, 0);
            CancelIo(port_);
            WaitForSingleObject(waitEvent_, kBoundMs);
            CloseHandle(waitEvent_);
        }
        CloseHandle(port_);
    }

    HANDLE port_ = INVALID_HANDLE_VALUE;
    HANDLE waitEvent_ = nullptr;
    OVERLAPPED wait_{};
    DWORD waitMask_ = 0;
};

TEST_F(PtyPort, EchoesEveryByteAt115200_8N1)
{
    ASSERT_NO_FATAL_FAILURE(Open(0));
    ASSERT_NO_FATAL_FAILURE(Set8N1(CBR_115200));
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(port_, &dcb));
    EXPECT_EQ(dcb.BaudRate, DWORD(CBR_115200));
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);

    COMMTIMEOUTS timeouts{};
    timeouts.ReadTotalTimeoutConstant = kBoundMs;
    timeouts.WriteTotalTimeoutConstant = kBoundMs;
    ASSERT_TRUE(SetCommTimeouts(port_, &timeouts));
    ASSERT_TRUE(PurgeComm(port_, PURGE_RXCLEAR | PURGE_TXCLEAR));

    // Every byte value, so any line-discipline translation would show.
    std::string sent = "hello, pty\r\n";
    for (int i = 0; i < 256; ++i) sent += char(i);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(port_, sent.data(), DWORD(sent.size()), &written, nullptr)) << GetLastError();
    ASSERT_EQ(written, sent.size());

    std::string received;
    while (received.size() < sent.size()) {
        char buffer[512];
        const DWORD wanted = DWORD(std::min(sizeof buffer, sent.size() - received.size()));
        DWORD n = 0;
        if (!ReadFile(port_, buffer, wanted, &n, nullptr) || n == 0) break;
        received.append(buffer, n);
    }
    EXPECT_EQ(received, sent);

    // The peer records before it answers, so its transcript is complete by now.
    const std::string transcript = EnvText("TAVRIN_TEST_TRANSCRIPT");
    if (!transcript.empty()) {
        EXPECT_EQ(ReadWholeFile(FromUnixPath(transcript)), sent);
    }
}

TEST_F(PtyPort, ModemStatusFollowsThePeersLines)
{
    ASSERT_NO_FATAL_FAILURE(Open(0));
    ASSERT_NO_FATAL_FAILURE(DrivePeerLines(kLineCts | kLineDsr | kLineCd));
    EXPECT_EQ(ModemStatus(), DWORD(MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON));
    ASSERT_NO_FATAL_FAILURE(DrivePeerLines(kLineDsr | kLineCd));
    EXPECT_EQ(ModemStatus(), DWORD(MS_DSR_ON | MS_RLSD_ON));
    ASSERT_NO_FATAL_FAILURE(DrivePeerLines(kLineCts | kLineRi));
    EXPECT_EQ(ModemStatus(), DWORD(MS_CTS_ON | MS_RING_ON));
    ASSERT_NO_FATAL_FAILURE(DrivePeerLines(0));
    EXPECT_EQ(ModemStatus(), 0u);
}

TEST_F(PtyPort, EscapesReachThePeer)
{
    ASSERT_NO_FATAL_FAILURE(Open(0));
    ASSERT_TRUE(EscapeCommFunction(port_, CLRDTR)) << GetLastError();
    EXPECT_EQ(ProgramLines().lines & kLineDtr, 0);
    ASSERT_TRUE(EscapeCommFunction(port_, SETDTR)) << GetLastError();
    EXPECT_EQ(ProgramLines().lines & kLineDtr, kLineDtr);

    ASSERT_TRUE(EscapeCommFunction(port_, CLRRTS)) << GetLastError();
    TProgramLines own = ProgramLines();
    EXPECT_EQ(own.lines, kLineDtr);
    ASSERT_TRUE(EscapeCommFunction(port_, SETRTS)) << GetLastError();
    EXPECT_EQ(ProgramLines().lines, kLineDtr | kLineRts);

    ASSERT_TRUE(SetCommBreak(port_)) << GetLastError();
    EXPECT_EQ(ProgramLines().brk, 1);
    ASSERT_TRUE(ClearCommBreak(port_)) << GetLastError();
    EXPECT_EQ(ProgramLines().brk, 0);
}

TEST_F(PtyPort, WaitCommEventSeesCtsChange)
{
    ASSERT_NO_FATAL_FAILURE(Open(FILE_FLAG_OVERLAPPED));
    ASSERT_NO_FATAL_FAILURE(DrivePeerLines(kLineCts | kLineDsr | kLineCd));
    ASSERT_EQ(ModemStatus() & MS_CTS_ON, DWORD(MS_CTS_ON));
    ASSERT_TRUE(SetCommMask(port_, EV_CTS)) << GetLastError();
    waitEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(waitEvent_, nullptr);

    for (int lines : {kLineDsr | kLineCd, kLineCts | kLineDsr | kLineCd}) {
        SCOPED_TRACE(lines & kLineCts ? "CTS on" : "CTS off");
        wait_ = OVERLAPPED{};
        wait_.hEvent = waitEvent_;
        ResetEvent(waitEvent_);
        waitMask_ = 0;
        ASSERT_FALSE(WaitCommEvent(port_, &waitMask_, &wait_)) << "ended at once with mask " << waitMask_;
        ASSERT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
        ASSERT_EQ(WaitForSingleObject(waitEvent_, 0), DWORD(WAIT_TIMEOUT)) << "ended before the line changed";

        ASSERT_NO_FATAL_FAILURE(DrivePeerLines(lines));
        ASSERT_EQ(WaitForSingleObject(waitEvent_, kBoundMs), DWORD(WAIT_OBJECT_0));
        DWORD n = 0;
        ASSERT_TRUE(GetOverlappedResult(port_, &wait_, &n, FALSE)) << GetLastError();
        EXPECT_EQ(waitMask_ & EV_CTS, DWORD(EV_CTS));
        EXPECT_EQ(ModemStatus() & MS_CTS_ON, DWORD(lines & kLineCts ? MS_CTS_ON : 0));
    }
}

}  // namespace
