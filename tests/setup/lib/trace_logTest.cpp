// Each case runs as a process of its own, so each starts tracing afresh; the cases that make
// HKCU "REdedov" hold one lock (tests/setup/lib/CMakeLists.txt).
#include "trace_log.h"
#include "win32_exception.h"

#include "TraceTestSupport.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace tracetest;

std::string narrow(const std::wstring& text, UINT codepage)
{
    const int bytes = WideCharToMultiByte(codepage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(codepage, 0, text.data(), static_cast<int>(text.size()), out.data(), bytes, nullptr, nullptr);
    return out;
}

TEST(ScrambleStream, RoundTripsAndCountsThePosition)
{
    unsigned char text[] = {'a', 'b', 'c'};
    qv::ScrambleStream there, back;
    EXPECT_EQ(there.scramble(text, 3, 0x6C), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(text), 3), "\xE9\xE1\xF9");
    EXPECT_EQ(back.unscramble(text, 3, 0x6C), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(text), 3), "abc");
    EXPECT_EQ(there.position(), 3u);
    EXPECT_EQ(back.position(), 3u);
}

TEST(ScrambleStream, KnownBytes)
{
    // Worked by hand: add (position mod 71), rotate left by two, XOR the key.
    struct Case {
        const char* name;
        DWORD position;
        unsigned char byte, key, scrambled;
    };
    const Case cases[] = {
        {"a at 0", 0, 0x61, 0x6C, 0xE9},
        {"b at 1", 1, 0x62, 0x6C, 0xE1},
        {"c at 2", 2, 0x63, 0x6C, 0xF9},
        {"sum wraps past 255", 1, 0xFF, 0x6C, 0x6C},
        {"last step of the cycle", 70, 0x00, 0x6C, 0x75},
        {"cycle starts again at 71", 71, 0x00, 0x6C, 0x6C},
        {"twice round the cycle", 142, 0x41, 0x6C, 0x69},
        {"top bits come round", 0, 0xC0, 0x6C, 0x6F},
        {"key 0", 0, 0x01, 0x00, 0x04},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        unsigned char b = c.byte;
        qv::ScrambleStream there(c.position), back(c.position);
        there.scramble(&b, 1, c.key);
        EXPECT_EQ(b, c.scrambled);
        back.unscramble(&b, 1, c.key);
        EXPECT_EQ(b, c.byte);
        EXPECT_EQ(there.position(), c.position + 1);
    }
}

TEST(ScrambleStream, ByteIDependsOnIMod71AndPiecesContinueTheRun)
{
    std::vector<unsigned char> run(200, 'x');
    std::vector<unsigned char> pieces = run;
    qv::ScrambleStream whole;
    whole.scramble(run.data(), static_cast<DWORD>(run.size()), 0x6C);
    for (size_t i = 0; i + 71 < run.size(); ++i) EXPECT_EQ(run[i], run[i + 71]) << i;
    EXPECT_NE(run[0], run[1]);
    EXPECT_EQ(run[0], run[71]);

    qv::ScrambleStream stepwise;
    stepwise.scramble(pieces.data(), 50, 0x6C);
    stepwise.scramble(pieces.data() + 50, 150, 0x6C);
    EXPECT_EQ(pieces, run);
    EXPECT_EQ(stepwise.position(), 200u);
}

class Trace : public testing::Test {
protected:
    void SetUp() override
    {
        remove_trace_key();
        path_ = folder_.join(L"trace.bin");
        ASSERT_TRUE(make_trace_key(&path_));
    }
    void TearDown() override { remove_trace_key(); }

    // The records after the header that InitTracing wrote.
    std::vector<std::string> events()
    {
        const trace_file trace = read_trace(path_);
        EXPECT_TRUE(trace.whole);
        if (trace.records.size() < header_records) return {};
        return {trace.records.begin() + header_records, trace.records.end()};
    }

    scratch_folder folder_{L"setup_trace"};
    std::wstring path_;
};

TEST_F(Trace, ANewFileStartsWithTheHeaderRecords)
{
    SYSTEMTIME before;
    GetLocalTime(&before);
    qv::InitTracing();
    SYSTEMTIME after;
    GetLocalTime(&after);
    ASSERT_TRUE(qv::TracingEnabled());

    const trace_file trace = read_trace(path_);
    ASSERT_TRUE(trace.whole);
    ASSERT_EQ(trace.records.size(), header_records);
    EXPECT_EQ(trace.records[0], "FormatVersion=00000112\r\n\r\n");
    EXPECT_EQ(trace.records[1], "Copyright (C) 2026 Corvane. All rights reserved.\r\n\r\n");

    SYSTEMTIME started = {};
    char end[3] = {};
    ASSERT_EQ(sscanf(trace.records[2].c_str(), "TraceStarted: %2hu/%2hu/%4hu %2hu:%2hu:%2hu%2c", &started.wMonth,
                  &started.wDay, &started.wYear, &started.wHour, &started.wMinute, &started.wSecond, end),
        7)
        << trace.records[2];
    EXPECT_EQ(trace.records[2].size(), std::string("TraceStarted: 03/07/2026 09:05:01\r\n").size()) << trace.records[2];
    EXPECT_STREQ(end, "\r\n");
    // Month first, then day, then year; seconds are what the record keeps.
    auto seconds = [](SYSTEMTIME t) {
        t.wMilliseconds = 0;
        t.wDayOfWeek = 0;
        FILETIME f;
        SystemTimeToFileTime(&t, &f);
        return (static_cast<unsigned long long>(f.dwHighDateTime) << 32 | f.dwLowDateTime) / 10000000;
    };
    EXPECT_LE(seconds(before), seconds(started));
    EXPECT_LE(seconds(started), seconds(after));

    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    EXPECT_EQ(trace.records[3], "SetupExe: " + narrow(program, CP_ACP) + "\r\n");
    EXPECT_EQ(trace.records[4], "SetupExeVersion: 3.1.4.15\r\n");  // fixtures/trace_version.rc
    EXPECT_EQ(trace.records[5], "\r\nTraceData:\r\n");
    EXPECT_EQ(trace.records[6], "Category|SubCategory|Details\r\n");
}

TEST_F(Trace, AFileThatExistsGetsNoHeader)
{
    const std::string earlier = record("earlier run|") + record("kept\r\n");
    put_file(path_, earlier);
    qv::InitTracing();
    qv::TraceRecord(L"Next", L"Run", L"n=%d", 2);
    EXPECT_EQ(file_bytes(path_), earlier + record("Next|Run|") + record("n=2\r\n"));
}

TEST_F(Trace, TheDefaultPathIsOnTheDesktop)
{
    remove_trace_key();
    ASSERT_TRUE(make_trace_key(nullptr));
    wchar_t desktop[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_DESKTOP, nullptr, 0, desktop), S_OK);
    const std::wstring expected =
        std::wstring(desktop) + L"\\setuptrace" + std::to_wstring(GetCurrentProcessId()) + L".bin";
    DeleteFileW(expected.c_str());
    qv::InitTracing();
    qv::TraceRecord(L"Cat", L"Sub", L"x");
    const trace_file trace = read_trace(expected);
    DeleteFileW(expected.c_str());
    ASSERT_TRUE(trace.whole);
    ASSERT_EQ(trace.records.size(), header_records + 2);
    EXPECT_EQ(trace.records[header_records], "Cat|Sub|");
    EXPECT_EQ(folder_.names().size(), 0u);
}

TEST_F(Trace, DetailsBecomeOneLine)
{
    struct Case {
        const char* name;
        const wchar_t* details;
        const char* record;
    };
    const Case cases[] = {
        {"inner CR LF and a closing one", L"one\r\ntwo\r\n", "one__two\r\n"},
        {"lone CR and lone LF inside", L"a\rb\nc", "a_b_c\r\n"},
        {"empty", L"", "\r\n"},
        {"only CR LF", L"\r\n", "\r\n"},
        {"only LF", L"\n", "\r\n"},
        {"only CR", L"\r", "\r\n"},
        {"LF CR at the end: only the CR goes", L"a\n\r", "a_\r\n"},
        {"two closing CR LF: one goes", L"a\r\n\r\n", "a__\r\n"},
        {"tab-separated fields", L"File=C:\\x y\\a.txt\tSize=3", "File=C:\\x y\\a.txt\tSize=3\r\n"},
    };
    qv::InitTracing();
    for (const Case& c : cases) qv::TraceRecord(L"Cat", L"Sub", L"%s", c.details);
    const std::vector<std::string> got = events();
    ASSERT_EQ(got.size(), 2 * std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(got[2 * i], "Cat|Sub|");
        EXPECT_EQ(got[2 * i + 1], cases[i].record);
    }
}

TEST_F(Trace, FormatsTheWayWindowsDoes)
{
    qv::InitTracing();
    // %s is a wide string in the wide functions, %hs a narrow one.
    qv::TraceRecord(L"EXEProcessBegin", L"RURavurInit", L"EXE=%s\tn=%d\tx=%04X\tnarrow=%hs", L"C:\\Setup\\setup.exe", -7,
        0xBEEFu, "abc");
    qv::QVTracingInternal_Trace(L"note %s", L"one\r\n");
    qv::TraceRecord(nullptr, nullptr, nullptr);
    const std::vector<std::string> got = events();
    const std::vector<std::string> expected = {
        "EXEProcessBegin|RURavurInit|", "EXE=C:\\Setup\\setup.exe\tn=-7\tx=BEEF\tnarrow=abc\r\n",
        "Comment||", "note one\r\n",
        "||", "\r\n",
    };
    EXPECT_EQ(got, expected);
}

TEST_F(Trace, TextsTooLongForTheBufferAreCut)
{
    struct Case {
        const char* name;
        std::string text;
        std::string record;
    };
    const std::string x(20000, 'x');
    const Case cases[] = {
        {"16383 bytes fit", x.substr(0, 16383), x.substr(0, 16383)},
        {"16384 bytes are cut", x.substr(0, 16384), x.substr(0, 16383)},
        {"20000 characters", x, x.substr(0, 16383)},
        {"a cut text keeps its closing CR LF", x + "\r\n", x.substr(0, 16381) + "\r\n"},
    };
    qv::InitTracing();
    const size_t start = file_bytes(path_).size();
    size_t written = 0;
    for (const Case& c : cases) {
        qv::WriteTraceRecord(zString(std::wstring(c.text.begin(), c.text.end())));
        written += 4 + c.record.size();
    }
    qv::TraceRecord(L"Cat", L"Sub", L"%s", std::wstring(20000, L'y').c_str());
    written += 4 + 8 + 4 + 16383;

    const std::string bytes = file_bytes(path_);
    EXPECT_EQ(bytes.size(), start + written);
    const std::vector<std::string> got = events();  // also: the length fields tile the file
    ASSERT_EQ(got.size(), std::size(cases) + 2);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(got[i].size(), cases[i].record.size());
        EXPECT_EQ(got[i], cases[i].record);
    }
    EXPECT_EQ(got[std::size(cases) + 1], std::string(16381, 'y') + "\r\n");
    EXPECT_EQ(bytes.substr(bytes.size() - 16383 - 4, 4), length_field(16383));
}

TEST_F(Trace, ADoubleByteTextIsCutBetweenCharacters)
{
    qv::InitTracing();
    const LCID kept = GetThreadLocale();
    ASSERT_TRUE(SetThreadLocale(MAKELCID(0x411, SORT_DEFAULT)));  // code page 932
    const std::wstring sun(10000, L'\u65E5');
    struct Case {
        const char* name;
        std::wstring text;
        std::wstring kept;
    };
    const Case cases[] = {
        // A byte cut would leave the lead byte of a character as the record's last byte.
        {"odd start", L"ab" + sun, L"ab" + sun.substr(0, 8190)},
        {"even start fills the buffer", L"a" + sun, L"a" + sun.substr(0, 8191)},
        {"closing CR LF kept", L"ab" + sun + L"\r\n", L"ab" + sun.substr(0, 8189) + L"\r\n"},
    };
    for (const Case& c : cases) qv::WriteTraceRecord(zString(c.text));
    SetThreadLocale(kept);
    const std::vector<std::string> got = events();
    ASSERT_EQ(got.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(got[i], narrow(cases[i].kept, 932));
        EXPECT_LE(got[i].size(), 16383u);
    }
}

constexpr int each = 100;
struct Job {
    int id;
    HANDLE start;
};

DWORD WINAPI trace_job(void* p)
{
    const Job& job = *static_cast<Job*>(p);
    WaitForSingleObject(job.start, 10000);
    for (int n = 0; n < each; ++n) qv::TraceRecord(L"Thread", L"Job", L"thread=%d\tn=%d", job.id, n);
    return 0;
}

TEST_F(Trace, EventsFromManyThreadsKeepTheirPairs)
{
    qv::InitTracing();
    constexpr int threads = 8;
    // All start at once, so that they contend for the lock.
    const HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(start, nullptr);
    Job jobs[threads];
    HANDLE handles[threads];
    for (int t = 0; t < threads; ++t) {
        jobs[t] = {t, start};
        handles[t] = CreateThread(nullptr, 0, trace_job, &jobs[t], 0, nullptr);
        ASSERT_NE(handles[t], nullptr);
    }
    SetEvent(start);
    ASSERT_EQ(WaitForMultipleObjects(threads, handles, TRUE, 30000), WAIT_OBJECT_0);
    for (HANDLE h : handles) CloseHandle(h);
    CloseHandle(start);

    const std::vector<std::string> got = events();
    ASSERT_EQ(got.size(), 2u * threads * each);
    int next[threads] = {};
    for (size_t i = 0; i < got.size(); i += 2) {
        ASSERT_EQ(got[i], "Thread|Job|") << i;
        int id = -1, n = -1;
        ASSERT_EQ(sscanf(got[i + 1].c_str(), "thread=%d\tn=%d", &id, &n), 2) << got[i + 1];
        ASSERT_TRUE(id >= 0 && id < threads);
        EXPECT_EQ(n, next[id]++);
    }
}

// A mailslot opens for writing but cannot be moved in: every record's seek fails.
class TraceIntoAMailslot : public testing::Test {
protected:
    void SetUp() override
    {
        remove_trace_key();
        name_ = L"\\\\.\\mailslot\\setup_trace_" + std::to_wstring(GetCurrentProcessId());
        slot_ = CreateMailslotW(name_.c_str(), 0, 0, nullptr);
        ASSERT_NE(slot_, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(make_trace_key(&name_));
    }
    void TearDown() override
    {
        remove_trace_key();
        if (slot_ != INVALID_HANDLE_VALUE) CloseHandle(slot_);
    }

    std::wstring name_;
    HANDLE slot_ = INVALID_HANDLE_VALUE;
};

// 1 when its own write failed as it should, after an event that must not throw.
DWORD WINAPI trace_from_another_thread(void*)
{
    qv::TraceRecord(L"Other", L"Thread", L"x");
    try {
        qv::WriteTraceRecord(zString(L"y"));
    } catch (const qv::file_exception&) {
        return 1;
    } catch (...) {
        return 2;
    }
    return 0;
}

TEST_F(TraceIntoAMailslot, FailedWritesNeverEscapeAndLeaveTheLock)
{
    qv::InitTracing();  // its header records fail too; it must still return
    ASSERT_TRUE(qv::TracingEnabled());
    try {
        qv::WriteTraceRecord(zString(L"one record"));
        ADD_FAILURE() << "the write did not fail";
    } catch (const qv::file_exception& e) {
        EXPECT_EQ(e.path().str(), name_);
    }
    // Both throw inside, and so do their fallback records: an escape ends the process here.
    qv::TraceRecord(L"Cat", L"Sub", L"details");
    qv::QVTracingInternal_Trace(L"comment");

    // Another thread gets the lock: no failure above left it held.
    HANDLE other = CreateThread(nullptr, 0, trace_from_another_thread, nullptr, 0, nullptr);
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(WaitForSingleObject(other, 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(other, &code);
    CloseHandle(other);
    EXPECT_EQ(code, 1u);
}

TEST(TraceOff, TheKeyMissingWritesNothing)
{
    remove_trace_key();
    const scratch_folder folder(L"setup_trace");
    wchar_t desktop[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_DESKTOP, nullptr, 0, desktop), S_OK);
    const std::wstring fallback =
        std::wstring(desktop) + L"\\setuptrace" + std::to_wstring(GetCurrentProcessId()) + L".bin";
    qv::InitTracing();
    EXPECT_FALSE(qv::TracingEnabled());
    qv::TraceRecord(L"Cat", L"Sub", L"x");
    qv::QVTracingInternal_Trace(L"x");
    qv::WriteTraceRecord(zString(L"x"));
    qv::DeleteTraceLock();
    EXPECT_EQ(GetFileAttributesW(fallback.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(folder.names().size(), 0u);
}

TEST(TraceOff, NothingIsWrittenBeforeTracingStarts)
{
    remove_trace_key();
    const scratch_folder folder(L"setup_trace");
    const std::wstring path = folder.join(L"trace.bin");
    ASSERT_TRUE(make_trace_key(&path));
    // No InitTracing: no lock was ever made.
    EXPECT_FALSE(qv::TracingEnabled());
    qv::TraceRecord(L"Cat", L"Sub", L"x");
    qv::QVTracingInternal_Trace(L"x");
    qv::WriteTraceRecord(zString(L"x"));
    qv::DeleteTraceLock();
    remove_trace_key();
    EXPECT_EQ(folder.names().size(), 0u);
}

TEST_F(Trace, NothingIsWrittenOnceTheLockIsGone)
{
    qv::InitTracing();
    qv::TraceRecord(L"Before", L"Sub", L"x");
    qv::DeleteTraceLock();
    qv::DeleteTraceLock();
    qv::TraceRecord(L"After", L"Sub", L"x");
    qv::WriteTraceRecord(zString(L"after"));
    EXPECT_EQ(events(), (std::vector<std::string>{"Before|Sub|", "x\r\n"}));
}

TEST(DecodeTraceFile, WritesThePayloadsAndRefusesBrokenRecords)
{
    struct Case {
        const char* name;
        std::string file;
        DWORD result;
        std::string target;
    };
    const std::string full(16384, 'f');
    const Case cases[] = {
        {"good records", record("Cat|Sub|") + record("a=1\r\n") + record(""), 0, "Cat|Sub|a=1\r\n"},
        {"empty file", "", 0, ""},
        {"a record that fills the buffer", record(full), 0, full},
        {"length of 20000", record("ab") + length_field(20000) + std::string(20000, 'z'), ERROR_INVALID_DATA, "ab"},
        {"length one above the buffer", record("ab") + length_field(16385) + std::string(16385, 'z'),
            ERROR_INVALID_DATA, "ab"},
        {"record cut short", record("ab") + length_field(10) + scrambled("abcde"), ERROR_INVALID_DATA, "ab"},
        {"length field cut short", record("ab") + std::string("\x05\x00", 2), ERROR_INVALID_DATA, "ab"},
    };
    const scratch_folder folder(L"setup_trace");
    const std::wstring source = folder.join(L"source.bin"), target = folder.join(L"target.txt");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        put_file(source, c.file);
        put_file(target, "left over");
        EXPECT_EQ(qv::DecodeTraceFile(zString(source), zString(target)), c.result);
        EXPECT_EQ(file_bytes(target), c.target);
    }
    DeleteFileW(source.c_str());
    EXPECT_EQ(qv::DecodeTraceFile(zString(source), zString(target)), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    put_file(source, record("x"));
    EXPECT_EQ(qv::DecodeTraceFile(zString(source), zString(folder.join(L"no such folder\\t.txt"))),
        static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(Trace, DecodeTraceFileReadsWhatTheWriterWrote)
{
    qv::InitTracing();
    qv::TraceRecord(L"Cat", L"Sub", L"one\r\ntwo");
    qv::QVTracingInternal_Trace(L"");
    const std::wstring target = folder_.join(L"decoded.txt");
    ASSERT_EQ(qv::DecodeTraceFile(zString(path_), zString(target)), 0u);
    std::string expected;
    for (const std::string& r : read_trace(path_).records) expected += r;
    EXPECT_EQ(file_bytes(target), expected);
    EXPECT_NE(expected.find("Category|SubCategory|Details\r\nCat|Sub|one__two\r\nComment||\r\n"), std::string::npos);
}

}  // namespace
