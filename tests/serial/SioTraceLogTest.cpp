#include "SioTraceLog.h"
#include "SysUtils.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A file name of its own in the temp folder, removed before and after the test.
class TTempFile {
public:
    explicit TTempFile(const char* suffix)
    {
        static unsigned counter = 0;
        char folder[MAX_PATH] = {};
        GetTempPathA(sizeof folder, folder);
        Path = Format("%ssiotracelog-%lu-%u%s", folder, GetCurrentProcessId(), ++counter, suffix);
        DeleteFileA(Path.c_str());
    }
    ~TTempFile() { DeleteFileA(Path.c_str()); }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;

    std::string Path;
};

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string Fixture(const std::string& name)
{
    return ReadBytes("fixtures\\" + name);
}

// The log fixtures write "*" for what depends on the build and the machine.
std::string LogFixture(const std::string& name)
{
    std::string text = Fixture(name);
    const std::pair<std::string, std::string> fills[] = {
        {"Compiler : *\r\n", "Compiler : " + SioCompilerText() + "\r\n"},
        {"Operating System : *\r\n", "Operating System : " + SioOperatingSystemText() + "\r\n"},
    };
    for (const auto& [mark, value] : fills)
        for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size()))
            text.replace(at, mark.size(), value);
    return text;
}

std::string Bytes(std::initializer_list<int> values)
{
    std::string text;
    for (int v : values) text += static_cast<char>(v);
    return text;
}

const SYSTEMTIME FixedNow = {2026, 3, 6, 7, 9, 5, 1, 0};

struct TTraceCase {
    const char* name;
    bool hex, allHex;
    unsigned size;  // 0 keeps the default
    std::string kinds, bytes;
    const char* fixture;
};

TEST(SioTraceLogTrace, DumpsMatchTheirFixtures)
{
    const std::string longLine = std::string(78, 'a') + "b" + std::string(72, 'c') + "\xC8\x07" + "z";
    const std::string longKinds = std::string(longLine.size() - 1, 'R') + "T";
    const TTraceCase cases[] = {
        {"sent then received", false, false, 0, "TTRRR", "ABOK\r", "trace_sent_and_received.trc"},
        {"all bytes in hex", true, true, 0, "RRR", "A \xC8", "trace_all_hex.trc"},
        {"decimal widths 3, 4 and 5", false, false, 0, "RRRRRRRRRR", Bytes({7, 13, 200, ' ', 'A', '~', 127, 9, 10, 31}),
         "trace_decimal.trc"},
        {"hex prints the blank in brackets", true, false, 0, "RRRR", " !\x07\xFF", "trace_hex.trc"},
        {"special kinds", true, false, 0, "RxxT", "1234", "trace_special.trc"},
        {"lines break after 78 columns", false, false, 0, longKinds, longLine, "trace_line_break.trc"},
        {"a wrapped ring keeps the last entries", true, false, 4, "TTTRRR", "123456", "trace_wrapped.trc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.kinds.size(), c.bytes.size());
        TTempFile file(".trc");
        TSioTrace trace;
        trace.TraceHex = c.hex;
        trace.TraceAllHex = c.allHex;
        ASSERT_EQ(trace.Start(c.size), 0);
        for (size_t i = 0; i < c.kinds.size(); ++i) trace.Add(c.kinds[i], static_cast<unsigned char>(c.bytes[i]));
        EXPECT_EQ(trace.Dump(file.Path, false), 0);
        EXPECT_EQ(ReadBytes(file.Path), Fixture(c.fixture));
    }
}

TEST(SioTraceLogTrace, AnEmptyTraceWritesNoFile)
{
    TTempFile file(".trc");
    TSioTrace trace;
    EXPECT_EQ(trace.Dump(file.Path, false), 0);
    ASSERT_EQ(trace.Start(0), 0);
    EXPECT_EQ(trace.Dump(file.Path, false), 0);
    EXPECT_FALSE(Exists(file.Path));
    EXPECT_FALSE(trace.HasBuffer());
}

TEST(SioTraceLogTrace, DumpFreesTheBuffer)
{
    TTempFile file(".trc");
    TSioTrace trace;
    ASSERT_EQ(trace.Start(0), 0);
    trace.Add('T', 'A');
    ASSERT_EQ(trace.Dump(file.Path, false), 0);
    EXPECT_FALSE(trace.HasBuffer());
    EXPECT_FALSE(trace.Active());
    EXPECT_EQ(trace.State(), tlOff);
    trace.Add('T', 'B');
    EXPECT_EQ(trace.Count(), 0u);
}

TEST(SioTraceLogTrace, AppendAddsToTheFileAndOverwriteReplacesIt)
{
    TTempFile file(".trc");
    TSioTrace trace;
    trace.TraceHex = false;
    const auto dump = [&](const std::string& text, char kind, bool append) {
        ASSERT_EQ(trace.Start(0), 0);
        for (char c : text) trace.Add(kind, static_cast<unsigned char>(c));
        ASSERT_EQ(trace.Dump(file.Path, append), 0);
    };
    dump("AB", 'T', true);  // appending to a file that is not there creates it
    dump("OK", 'R', true);
    EXPECT_EQ(ReadBytes(file.Path), Fixture("trace_append.trc"));
    dump("AB", 'T', false);
    EXPECT_EQ(ReadBytes(file.Path), "Transmit: \r\nAB");
}

TEST(SioTraceLogTrace, AFileThatCannotBeOpenedGivesTheErrorAndFreesTheBuffer)
{
    TTempFile folder("-missing");
    TSioTrace trace;
    ASSERT_EQ(trace.Start(0), 0);
    trace.Add('R', 'A');
    EXPECT_EQ(trace.Dump(folder.Path + "\\trace.trc", false), -ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(trace.HasBuffer());
}

TEST(SioTraceLogTrace, StatesFollowTheOperations)
{
    TSioTrace trace;
    EXPECT_EQ(trace.State(), tlOff);
    trace.Resume();
    EXPECT_EQ(trace.State(), tlOff);
    EXPECT_EQ(trace.Start(4000001), -1002);
    EXPECT_EQ(trace.State(), tlOff);
    EXPECT_EQ(trace.TraceSize, 10000u);
    ASSERT_EQ(trace.Start(5), 0);
    EXPECT_EQ(trace.TraceSize, 5u);
    EXPECT_EQ(trace.State(), tlOn);
    trace.Add('R', '1');
    trace.Pause();
    EXPECT_EQ(trace.State(), tlPause);
    trace.Add('R', '2');  // the owner checks Active; a kept buffer still takes entries
    EXPECT_EQ(trace.Count(), 2u);
    trace.Resume();
    EXPECT_EQ(trace.State(), tlOn);
    trace.Clear();
    EXPECT_EQ(trace.Count(), 0u);
    trace.Add('R', '3');
    ASSERT_EQ(trace.Start(0), 0);  // an existing buffer is only cleared
    EXPECT_EQ(trace.Count(), 0u);
    trace.Stop();
    EXPECT_EQ(trace.State(), tlOff);
    EXPECT_FALSE(trace.HasBuffer());
}

void AddLog(TSioLog& log, int type, int subtype, int time, unsigned data, const std::string& extra = "")
{
    log.Add(type, subtype, time, data, extra.data(), static_cast<int>(extra.size()));
}

TEST(SioTraceLogEvents, RecordsMatchTheirFixture)
{
    TTempFile file(".log");
    TSioLog log;
    ASSERT_EQ(log.Start(0, 1024), 0);
    AddLog(log, ltDispatch, lsReadCom, 5, 3, "OK\r");
    AddLog(log, ltTrigAllc, lsStatusTrigger, 1234, 19, Bytes({3}));
    AddLog(log, ltTrigDisp, lsStatus, 1235, 21, Bytes({5}));
    AddLog(log, ltTrigDisp, lsStatusTrigger, 1236, 22, Bytes({9}));
    AddLog(log, ltDispatch, lsModemStatus, 12345678, 0xB1);
    AddLog(log, ltTrDatChg, lsTimerTrigger, 0, 8, "Deactivated");
    AddLog(log, ltTrDatChg, lsTimerTrigger, 20, 8, Bytes({18, 0, 0, 0}));
    AddLog(log, ltTrigger, lsAvail, 21, 42);
    AddLog(log, ltDispatch, lsWriteCom, 30, 40, "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcd");
    AddLog(log, ltDispatch, lsWriteCom, 31, 10, std::string(10, '\x01'));
    AddLog(log, ltTelnet, lsSentWill, 40, 1);
    AddLog(log, 25, 31, -5, 0);
    EXPECT_EQ(log.Dump(file.Path, false, "COM3", FixedNow), 0);
    EXPECT_EQ(ReadBytes(file.Path), LogFixture("log_records.log"));
    EXPECT_FALSE(log.HasBuffer());
    EXPECT_EQ(log.State(), tlOff);
}

TEST(SioTraceLogEvents, ByteSwitchesMatchTheirFixtures)
{
    const struct {
        const char* name;
        bool hex, allHex;
        const char* fixture;
    } cases[] = {
        {"hex", true, false, "log_hex.log"},
        {"all hex, user bytes as they are", true, true, "log_all_hex.log"},
        {"decimal", false, false, "log_decimal.log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TTempFile file(".log");
        TSioLog log;
        log.LogHex = c.hex;
        log.LogAllHex = c.allHex;
        ASSERT_EQ(log.Start(0, 64), 0);
        AddLog(log, ltDispatch, lsReadCom, 1, 5, "A \a\r\xC8");
        AddLog(log, ltUser, lsNone, 2, 3, "A \a");
        EXPECT_EQ(log.Dump(file.Path, false, "COM12", FixedNow), 0);
        EXPECT_EQ(ReadBytes(file.Path), LogFixture(c.fixture));
    }
}

TEST(SioTraceLogEvents, AFullRingDropsWholeOldestRecords)
{
    TTempFile file(".log");
    TSioLog log;
    // 90 bytes: the fifth record's header runs across the ring's end.
    ASSERT_EQ(log.Start(90, 64), 0);
    for (int i = 1; i <= 5; ++i)
        AddLog(log, ltDispatch, lsReadCom, i, i, std::string(4, static_cast<char>('a' + i - 1)));
    AddLog(log, ltDispatch, lsWriteCom, 6, 24, std::string(24, 'f'));
    AddLog(log, ltTrigger, lsAvail, 7, 7);
    EXPECT_EQ(log.UsedBytes(), 20u + 40u + 16u);
    EXPECT_EQ(log.Dump(file.Path, false, "COM1", FixedNow), 0);
    EXPECT_EQ(ReadBytes(file.Path), LogFixture("log_overflow.log"));
}

TEST(SioTraceLogEvents, ARecordTooLargeForTheRingIsNotWritten)
{
    const struct {
        const char* name;
        unsigned ring;
        int length;
        unsigned used;
    } cases[] = {
        {"extras as large as the ring", 64, 64, 16},
        {"header and extras fill the ring", 64, 48, 64},
        {"header and extras one byte over", 64, 49, 16},
        {"header as large as the ring", 16, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TSioLog log;
        ASSERT_EQ(log.Start(c.ring, 64), 0);
        AddLog(log, ltTrigger, lsAvail, 1, 1);
        AddLog(log, ltDispatch, lsReadCom, 2, c.length, std::string(c.length, 'x'));
        EXPECT_EQ(log.UsedBytes(), c.used);
    }
}

TEST(SioTraceLogEvents, AnEmptyLogWritesNoFile)
{
    TTempFile file(".log");
    TSioLog log;
    EXPECT_EQ(log.Dump(file.Path, false, "COM1", FixedNow), 0);
    ASSERT_EQ(log.Start(64, 64), 0);
    AddLog(log, ltDispatch, lsReadCom, 1, 64, std::string(64, 'x'));
    EXPECT_EQ(log.Dump(file.Path, false, "COM1", FixedNow), 0);
    EXPECT_FALSE(Exists(file.Path));
    EXPECT_FALSE(log.HasBuffer());
}

TEST(SioTraceLogEvents, AFileThatCannotBeOpenedKeepsTheLog)
{
    TTempFile folder("-missing");
    TSioLog log;
    ASSERT_EQ(log.Start(0, 64), 0);
    AddLog(log, ltTrigger, lsAvail, 1, 1);
    EXPECT_EQ(log.Dump(folder.Path + "\\serial.log", false, "COM1", FixedNow), -ERROR_PATH_NOT_FOUND);
    EXPECT_TRUE(log.HasBuffer());
    EXPECT_EQ(log.State(), tlOn);
    EXPECT_EQ(log.UsedBytes(), 16u);
}

TEST(SioTraceLogEvents, ADumpThatFailsKeepsTheLogForTheNextDump)
{
    TTempFile folder("-missing");
    const struct {
        const char* name;
        std::string path;
        int code;
    } cases[] = {
        {"a folder that is not there", folder.Path + "\\serial.log", -ERROR_PATH_NOT_FOUND},
        // Opens, and every write to it fails: the disk is full.
        {"a file that takes no bytes", "Z:\\dev\\full", -ERROR_DISK_FULL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool paused : {false, true}) {
            TSioLog log;
            ASSERT_EQ(log.Start(0, 64), 0);
            AddLog(log, ltTrigger, lsAvail, 5, 42);
            if (paused) log.Pause();
            EXPECT_EQ(log.Dump(c.path, false, "COM3", FixedNow), c.code);
            EXPECT_TRUE(log.HasBuffer());
            EXPECT_EQ(log.State(), paused ? tlPause : tlOn);
            TTempFile file(".log");
            ASSERT_EQ(log.Dump(file.Path, false, "COM3", FixedNow), 0);
            EXPECT_EQ(ReadBytes(file.Path), LogFixture("log_single.log")) << "the kept record";
            EXPECT_FALSE(log.HasBuffer());
        }
    }
}

TEST(SioTraceLogEvents, AppendAddsASecondDump)
{
    TTempFile file(".log");
    TSioLog log;
    for (bool append : {true, true}) {
        ASSERT_EQ(log.Start(0, 64), 0);
        AddLog(log, ltTrigger, lsAvail, 5, 42);
        ASSERT_EQ(log.Dump(file.Path, append, "COM3", FixedNow), 0);
    }
    const std::string once = LogFixture("log_single.log");
    EXPECT_EQ(ReadBytes(file.Path), once + once);
}

TEST(SioTraceLogEvents, StatesFollowTheOperations)
{
    TSioLog log;
    EXPECT_EQ(log.State(), tlOff);
    EXPECT_EQ(log.Start(16000001, 64), -1002);
    EXPECT_EQ(log.State(), tlOff);
    ASSERT_EQ(log.Start(100, 64), 0);
    EXPECT_EQ(log.LogSize, 100u);
    EXPECT_EQ(log.State(), tlOn);
    log.Pause();
    EXPECT_EQ(log.State(), tlPause);
    AddLog(log, ltTrigger, lsAvail, 1, 1);  // only an active log records
    EXPECT_EQ(log.UsedBytes(), 0u);
    log.Resume();
    AddLog(log, ltTrigger, lsAvail, 1, 1);
    EXPECT_EQ(log.UsedBytes(), 16u);
    log.Clear();
    EXPECT_EQ(log.UsedBytes(), 0u);
    EXPECT_EQ(log.State(), tlOn);
    log.Stop();
    EXPECT_EQ(log.State(), tlOff);
    log.Resume();
    EXPECT_EQ(log.State(), tlOff);
}

TEST(SioTraceLogSystemText, TextFromTheVersionInfo)
{
    const struct {
        const char* name;
        DWORD platform, major, minor, build;
        const char* service;
        const char* text;
    } cases[] = {
        {"Win32s", VER_PLATFORM_WIN32s, 3, 11, 0, "", "Win32s on Windows 3.11 "},
        {"95 with B", VER_PLATFORM_WIN32_WINDOWS, 4, 0, 950, " B ", "Win32 on Windows 95 OSR 2 4.0 "},
        {"95", VER_PLATFORM_WIN32_WINDOWS, 4, 0, 950, "", "Win32 on Windows 95 OSR 1 4.0 "},
        {"98 with A", VER_PLATFORM_WIN32_WINDOWS, 4, 10, 2222, " A ", "Win32 on Windows 98 OSR 2 4.10 "},
        {"98", VER_PLATFORM_WIN32_WINDOWS, 4, 10, 1998, "", "Win32 on Windows 98 OSR 1 4.10 "},
        {"ME", VER_PLATFORM_WIN32_WINDOWS, 4, 90, 73010104, "", "Win32 on Windows ME 4.90 "},
        {"minor 90, other build", VER_PLATFORM_WIN32_WINDOWS, 4, 90, 3000, "", "4.90 "},
        {"other 9x minor", VER_PLATFORM_WIN32_WINDOWS, 4, 3, 0, "x", "Win32 on Windows 9x4.3 "},
        {"NT 3.51", VER_PLATFORM_WIN32_NT, 3, 51, 1057, "Service Pack 5", "Windows NT 3.5 3.51 Service Pack 5"},
        {"NT 4", VER_PLATFORM_WIN32_NT, 4, 0, 1381, "Service Pack 6", "Windows NT 4 4.0 Service Pack 6"},
        {"2000", VER_PLATFORM_WIN32_NT, 5, 0, 2195, "", "Windows 2000 5.0 "},
        {"XP", VER_PLATFORM_WIN32_NT, 5, 1, 2600, "Service Pack 3", "Windows XP 5.1 Service Pack 3"},
        {"5.2", VER_PLATFORM_WIN32_NT, 5, 2, 3790, "Service Pack 2", "WinNT 5.2 Service Pack 2"},
        {"6.1", VER_PLATFORM_WIN32_NT, 6, 1, 7601, "Service Pack 1", "WinNT 6.1 Service Pack 1"},
        {"10.0", VER_PLATFORM_WIN32_NT, 10, 0, 19045, "", "WinNT 10.0 "},
        {"unknown platform", 3, 1, 2, 0, "x", "Unknown1.2 x"},
    };
    for (const auto& c : cases) {
        OSVERSIONINFOA info{};
        info.dwOSVersionInfoSize = sizeof info;
        info.dwPlatformId = c.platform;
        info.dwMajorVersion = c.major;
        info.dwMinorVersion = c.minor;
        info.dwBuildNumber = c.build;
        lstrcpynA(info.szCSDVersion, c.service, sizeof info.szCSDVersion);
        EXPECT_EQ(SioOperatingSystemText(info), c.text) << c.name;
    }
}

TEST(SioTraceLogSystemText, TheRunningSystemGoesThroughTheSameRules)
{
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExA(&info));
    // The systems the program runs on, by the names the log gives them.
    const struct {
        DWORD major, minor;
        const char* name;
    } systems[] = {
        {5, 0, "Windows 2000 "}, {5, 1, "Windows XP "}, {5, 2, "WinNT "}, {6, 0, "WinNT "}, {6, 1, "WinNT "},
        {6, 2, "WinNT "},        {6, 3, "WinNT "},      {10, 0, "WinNT "},
    };
    ASSERT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    const auto* system = std::find_if(std::begin(systems), std::end(systems), [&](const auto& s) {
        return s.major == info.dwMajorVersion && s.minor == info.dwMinorVersion;
    });
    ASSERT_NE(system, std::end(systems)) << info.dwMajorVersion << "." << info.dwMinorVersion;
    const std::string expected = std::string(system->name) + std::to_string(info.dwMajorVersion) + "." +
                                 std::to_string(info.dwMinorVersion) + " " + info.szCSDVersion;
    EXPECT_EQ(SioOperatingSystemText(), expected);
    EXPECT_EQ(SioCompilerText().rfind("GCC ", 0), 0u);
}

}  // namespace
