// Copies run under tools/httppeer.py, so the address cases have their loopback server.
#include "file_copy.h"

#include "file.h"
#include "file_system.h"
#include "os_entry.h"
#include "win32_exception.h"

#include "FakeEntries.h"
#include "FileSupport.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>
#include <psapi.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr DWORD none = 0xFFFFFFFF;

bytes pattern(size_t count, unsigned seed = 0)
{
    bytes out(count);
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<unsigned char>((i + seed) % 251);
    return out;
}

std::wstring http(const wchar_t* path)
{
    const char* value = std::getenv("TAVRIN_HTTP_PORT");
    const std::string port = value ? value : "0";
    return L"http://127.0.0.1:" + std::wstring(port.begin(), port.end()) + path;
}

// One report of a copy; text only for the events that carry one.
struct event {
    int code;
    DWORD low, high;
    std::wstring text;
    bool operator==(const event& o) const { return code == o.code && low == o.low && high == o.high && text == o.text; }
};

std::ostream& operator<<(std::ostream& out, const event& e)
{
    out << e.code << "(" << static_cast<long>(e.low) << "," << static_cast<long>(e.high);
    if (!e.text.empty()) out << "," << std::string(e.text.begin(), e.text.end());
    return out << ")";
}

event at(int code, ULONGLONG count)
{
    return {code, static_cast<DWORD>(count), static_cast<DWORD>(count >> 32), {}};
}
event bare(int code)
{
    return {code, none, none, {}};
}

// Installs itself as the callback of the case and puts the earlier one back at its end. The
// answer to a report is decided from the event and how often it came.
class recorder {
public:
    using decide_fn = std::function<int(int code, int nth)>;
    explicit recorder(decide_fn decide = {}) : decide_(std::move(decide)), kept_(qv::CurrentCopyProgressCallback())
    {
        qv::SetCopyProgressCallback(callback, this);
    }
    ~recorder() { qv::SetCopyProgressCallback(kept_.function, kept_.context); }
    recorder(const recorder&) = delete;
    recorder& operator=(const recorder&) = delete;

    std::vector<event> events;

private:
    static int callback(void* context, int code, const wchar_t* text, DWORD low, DWORD high)
    {
        auto* self = static_cast<recorder*>(context);
        self->events.push_back({code, low, high, text ? text : L""});
        const int nth = ++self->seen_[code];
        return self->decide_ ? self->decide_(code, nth) : 1;
    }
    decide_fn decide_;
    qv::CopyProgressCallback kept_;
    std::map<int, int> seen_;
};

// The answer `answer` to the nth report of `code`, 1 to all others.
recorder::decide_fn answer(int code, int nth, int answer_given)
{
    return [=](int c, int n) { return c == code && n == nth ? answer_given : 1; };
}

std::vector<event> named(const std::wstring& source, const std::wstring& target, std::vector<event> rest)
{
    std::vector<event> out = {{6, none, none, source}, {5, none, none, target}};
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

TEST(CopyFileWithProgress, ReportsEachStepAndHonoursOnlyTheValidAnswers)
{
    struct Case {
        const char* name;
        size_t size;
        DWORD block;
        recorder::decide_fn decide;
        std::vector<event> after_names;
        bool result;
        size_t target_size;
        DWORD error;
    };
    const Case cases[] = {
        {"empty source", 0, 4096, {}, {at(7, 0), bare(0), at(1, 0)}, true, 0, 0},
        {"three whole blocks", 3000, 1000, {},
            {at(7, 3000), bare(0), at(4, 1000), at(4, 2000), at(4, 3000), at(1, 3000)}, true, 3000, 0},
        {"a short last block", 2500, 1000, {},
            {at(7, 2500), bare(0), at(4, 1000), at(4, 2000), at(4, 2500), at(1, 2500)}, true, 2500, 0},
        {"one block larger than the file", 700, 65536, {}, {at(7, 700), bare(0), at(4, 700), at(1, 700)}, true, 700,
            0},
        {"cancel before the first block", 3000, 1000, answer(0, 1, 2), {at(7, 3000), bare(0), at(3, 0)}, false, 0,
            ERROR_CANCELLED},
        {"cancel after the second block", 3000, 1000, answer(4, 2, 2),
            {at(7, 3000), bare(0), at(4, 1000), at(4, 2000), at(3, 2000)}, false, 2000, ERROR_CANCELLED},
        {"repeat is no answer to a block", 2000, 1000, answer(4, 1, 4),
            {at(7, 2000), bare(0), at(4, 1000), at(4, 2000), at(1, 2000)}, true, 2000, 0},
        {"cancel is no answer to the end", 1000, 1000, answer(1, 1, 2),
            {at(7, 1000), bare(0), at(4, 1000), at(1, 1000)}, true, 1000, 0},
        {"cancel is no answer to the size", 1000, 1000, answer(7, 1, 2),
            {at(7, 1000), bare(0), at(4, 1000), at(1, 1000)}, true, 1000, 0},
    };
    const scratch_folder folder(L"copy_events");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bytes content = pattern(c.size);
        const std::wstring source = folder.write(L"source.bin", content);
        const std::wstring target = folder.join(L"out\\target.bin");
        DeleteFileW(target.c_str());
        recorder rec(c.decide);
        EXPECT_EQ(qv::CopyFileWithProgress(source.c_str(), target.c_str(), c.block, false), c.result);
        EXPECT_EQ(qv::LastFileOpError(), c.error);
        EXPECT_EQ(rec.events, named(source, target, c.after_names));
        // A cancelled copy leaves what it wrote.
        EXPECT_EQ(read_back(target), bytes(content.begin(), content.begin() + c.target_size));
    }
}

TEST(CopyFileWithProgress, RepeatAfterAFailedPassOpensTheSourceAgain)
{
    const scratch_folder folder(L"copy_repeat");
    const std::wstring source = folder.write(L"source.bin", pattern(3000));
    const std::wstring target = folder.join(L"target.bin");
    const bytes second = pattern(1500, 7);
    // The first pass is cancelled after one block; while the failure is reported the source
    // changes, and the repeat must copy the new one.
    recorder rec([&](int code, int nth) {
        if (code == 4 && nth == 1) return 2;
        if (code == 3) {
            folder.write(L"source.bin", second);
            return 4;
        }
        return 1;
    });
    EXPECT_TRUE(qv::CopyFileWithProgress(source.c_str(), target.c_str(), 1000, false));
    EXPECT_EQ(qv::LastFileOpError(), 0u);
    EXPECT_EQ(rec.events, named(source, target,
                              {at(7, 3000), bare(0), at(4, 1000), at(3, 1000), at(7, 1500), bare(0), at(4, 1000),
                                  at(4, 1500), at(1, 1500)}));
    EXPECT_EQ(read_back(target), second);
}

TEST(CopyFileWithProgress, RepeatedPassesCloseTheirFilesBeforeEachReport)
{
    const scratch_folder folder(L"copy_again");
    const bytes content = pattern(5000);
    const std::wstring source = folder.write(L"source.bin", content);
    const std::wstring target = folder.join(L"target.bin");
    const int passes = 30;
    const DWORD block = 8 << 20;
    std::vector<DWORD> handles;
    std::vector<SIZE_T> committed;
    bool exclusive = true;
    recorder rec([&](int code, int nth) {
        if (code != 1) return 1;
        // Nothing of the pass is still open: both files can be had without sharing.
        for (const std::wstring* path : {&source, &target}) {
            const qv::file_handle h(CreateFileW(path->c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            exclusive = exclusive && h.valid();
        }
        DWORD count = 0;
        GetProcessHandleCount(GetCurrentProcess(), &count);
        handles.push_back(count);
        PROCESS_MEMORY_COUNTERS memory = {};
        K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
        committed.push_back(memory.PagefileUsage);
        return nth < passes ? 4 : 1;
    });
    EXPECT_TRUE(qv::CopyFileWithProgress(source.c_str(), target.c_str(), block, false));
    EXPECT_TRUE(exclusive);
    ASSERT_EQ(handles.size(), static_cast<size_t>(passes));
    EXPECT_EQ(handles.front(), handles.back()) << "handles left open by the passes";
    // A buffer kept per pass would add a block each time.
    EXPECT_LT(committed.back(), committed.front() + 4 * block) << committed.front() << " " << committed.back();
    size_t finished = 0;
    for (const event& e : rec.events) finished += e.code == 1;
    EXPECT_EQ(finished, static_cast<size_t>(passes));
    EXPECT_EQ(read_back(target), content);
}

TEST(CopyFileWithProgress, WithoutACallbackRunsToTheEnd)
{
    const scratch_folder folder(L"copy_quiet");
    const bytes content = pattern(10000);
    const std::wstring source = folder.write(L"source.bin", content);
    const std::wstring target = folder.join(L"target.bin");
    recorder rec([](int, int) { return 2; });
    qv::SetCopyProgressCallback(nullptr, &rec);  // removes it
    EXPECT_EQ(qv::CurrentCopyProgressCallback().function, nullptr);
    EXPECT_TRUE(qv::CopyFileWithProgress(source.c_str(), target.c_str(), 1024, false));
    EXPECT_TRUE(rec.events.empty());
    EXPECT_EQ(read_back(target), content);
}

TEST(CopyFileWithProgress, FailuresNameTheirReasonAndPath)
{
    const scratch_folder folder(L"copy_fail");
    const std::wstring source = folder.write(L"source.bin", pattern(100));
    folder.write(L"plain.txt", {'x'});
    const std::wstring a_folder = folder.join(L"a_folder");
    CreateDirectoryW(a_folder.c_str(), nullptr);
    // A drive letter that this prefix does not have: its root is never made, and not there.
    std::wstring missing_drive;
    for (wchar_t letter = L'Z'; letter > L'C' && missing_drive.empty(); --letter)
        if (!(GetLogicalDrives() & (1u << (letter - L'A')))) missing_drive = std::wstring(1, letter) + L":\\t.bin";
    ASSERT_FALSE(missing_drive.empty());

    struct Case {
        const char* name;
        std::wstring source, target;
        DWORD block;
        DWORD error;
        std::wstring failed;  // empty: LastFailedPath is not asked
        std::vector<event> events;
    };
    const std::wstring missing = folder.join(L"missing.bin");
    const std::wstring under_file = folder.join(L"plain.txt\\sub\\t.bin");
    const Case cases[] = {
        {"missing source", missing, folder.join(L"new\\t.bin"), 512, ERROR_FILE_NOT_FOUND, missing,
            named(missing, folder.join(L"new\\t.bin"), {})},
        {"target folder under a file", source, under_file, 512, ERROR_PATH_NOT_FOUND, under_file, {}},
        {"target on a drive that is not there", source, missing_drive, 512, ERROR_PATH_NOT_FOUND, missing_drive, {}},
        {"block of no bytes", source, folder.join(L"zero.bin"), 0, ERROR_INVALID_PARAMETER, L"", {}},
        {"target is a folder", source, a_folder, 512, ERROR_ACCESS_DENIED, a_folder,
            named(source, a_folder, {at(7, 100), at(3, 0)})},
        {"onto itself", source, source, 512, ERROR_SHARING_VIOLATION, source,
            named(source, source, {at(7, 100), at(3, 0)})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qv::RecordFailedPath(L"");
        recorder rec;
        EXPECT_FALSE(qv::CopyFileWithProgress(c.source.c_str(), c.target.c_str(), c.block, true));
        EXPECT_EQ(qv::LastFileOpError(), c.error);
        if (!c.failed.empty()) {
            EXPECT_EQ(qv::LastFailedPath().str(), c.failed);
        }
        EXPECT_EQ(rec.events, c.events);
    }
    EXPECT_FALSE(exists(folder.join(L"new\\t.bin")));
    EXPECT_FALSE(exists(folder.join(L"zero.bin")));
    EXPECT_EQ(read_back(source), pattern(100)) << "a copy onto itself must not empty the file";
}

TEST(CopyFileWithProgress, ASuccessOverAnOlderTargetLeavesNoError)
{
    const scratch_folder folder(L"copy_over");
    const std::wstring source = folder.write(L"source.bin", pattern(300));
    const std::wstring target = folder.write(L"target.bin", pattern(9000, 3));
    EXPECT_TRUE(qv::CopyFileWithProgress(source.c_str(), target.c_str(), 128, false));
    EXPECT_EQ(qv::LastFileOpError(), 0u) << "replacing a file is no failure";
    EXPECT_EQ(read_back(target), pattern(300));
}

FILETIME filetime(WORD year, WORD month, WORD day)
{
    const SYSTEMTIME st = {year, month, 0, day, 10, 20, 30, 0};
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

ULONGLONG ticks(const FILETIME& ft)
{
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

struct times {
    FILETIME write, creation, access;
};

times times_of(const std::wstring& path)
{
    times t = {};
    const qv::file_handle h(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    GetFileTime(h.get(), &t.creation, &t.access, &t.write);
    return t;
}

void set_times(const std::wstring& path, const times& t)
{
    const qv::file_handle h(
        CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    SetFileTime(h.get(), &t.creation, &t.access, &t.write);
}

TEST(CopyFileWithProgress, CarriesTheThreeTimesOfADiskFile)
{
    const scratch_folder folder(L"copy_times");
    const std::wstring source = folder.write(L"source.bin", pattern(5000));
    const times given = {filetime(2003, 3, 3), filetime(2001, 1, 1), filetime(2100, 2, 2)};
    set_times(source, given);
    // What this file system keeps of them: under Wine the creation time follows the others.
    const times seen = times_of(source);

    const std::wstring with = folder.join(L"with.bin"), without = folder.join(L"without.bin");
    ASSERT_TRUE(qv::CopyFileWithProgress(source.c_str(), with.c_str(), 1000, true));
    ASSERT_TRUE(qv::CopyFileWithProgress(source.c_str(), without.c_str(), 1000, false));
    const times copied = times_of(with);
    EXPECT_EQ(ticks(copied.write), ticks(given.write));
    EXPECT_EQ(ticks(copied.access), ticks(given.access));
    EXPECT_EQ(ticks(copied.creation), ticks(seen.creation));
    EXPECT_NE(ticks(times_of(without).write), ticks(given.write));
}

TEST(CopyFileWithProgress, AnAddressGivesTheServersLastModifiedOnly)
{
    const scratch_folder folder(L"copy_url");
    SYSTEMTIME modified_st = {2015, 10, 3, 21, 7, 28, 0, 0};  // the peer's Last-Modified
    FILETIME modified;
    SystemTimeToFileTime(&modified_st, &modified);
    FILETIME before;
    GetSystemTimeAsFileTime(&before);
    const ULONGLONG slack = 20000000;  // 2 s of file-system granularity

    const std::wstring source = http(L"/data/40000");
    const std::wstring target = folder.join(L"data.bin");
    recorder rec;
    ASSERT_TRUE(qv::CopyFileWithProgress(source.c_str(), target.c_str(), 16384, true)) << qv::LastFileOpError();
    EXPECT_EQ(read_back(target), pattern(40000));
    EXPECT_EQ(rec.events,
        named(source, target, {at(7, 40000), bare(0), at(4, 16384), at(4, 32768), at(4, 40000), at(1, 40000)}));
    const times copied = times_of(target);
    EXPECT_EQ(ticks(copied.write), ticks(modified));
    // Wine derives a file's creation time from its other times, so only the access time can
    // show that nothing but the last write was set.
    EXPECT_GE(ticks(copied.access) + slack, ticks(before)) << "the access time is the copy's own";
}

TEST(CopyFileWithProgress, AnAddressWithoutLengthOrDateIsStillCopied)
{
    const scratch_folder folder(L"copy_url_bare");
    FILETIME before;
    GetSystemTimeAsFileTime(&before);
    const std::wstring source = http(L"/nolength/3000");
    const std::wstring target = folder.join(L"bare.bin");
    recorder rec;
    ASSERT_TRUE(qv::CopyFileWithProgress(source.c_str(), target.c_str(), 1000, true)) << qv::LastFileOpError();
    EXPECT_EQ(read_back(target), pattern(3000));
    EXPECT_EQ(rec.events,
        named(source, target, {bare(7), bare(0), at(4, 1000), at(4, 2000), at(4, 3000), at(1, 3000)}));
    EXPECT_GE(ticks(times_of(target).write) + 20000000, ticks(before)) << "the copy keeps its own time";
}

TEST(CopyFileWithProgress, AnAddressThatIsNotThereFailsWithItsPath)
{
    const scratch_folder folder(L"copy_url_404");
    const std::wstring source = http(L"/status/404");
    recorder rec;
    EXPECT_FALSE(qv::CopyFileWithProgress(source.c_str(), folder.join(L"x.bin").c_str(), 1000, true));
    EXPECT_NE(qv::LastFileOpError(), 0u);
    EXPECT_EQ(qv::LastFailedPath().str(), source);
    EXPECT_FALSE(exists(folder.join(L"x.bin")));
}

TEST(CopyFileWithProgress, AReadThatFailsEndsThePassWithItsError)
{
    const scratch_folder folder(L"copy_url_cut");
    const std::wstring source = http(L"/drop/40000");
    const std::wstring target = folder.join(L"cut.bin");
    recorder rec;
    EXPECT_FALSE(qv::CopyFileWithProgress(source.c_str(), target.c_str(), 16384, false));
    EXPECT_NE(qv::LastFileOpError(), 0u);
    EXPECT_EQ(qv::LastFailedPath().str(), source);
    ASSERT_FALSE(rec.events.empty());
    const event last = rec.events.back();
    EXPECT_EQ(last.code, 3);
    const bytes got = read_back(target);
    EXPECT_EQ(last.low, got.size()) << "the failure reports what was written";
    EXPECT_EQ(got, pattern(got.size()));
}

TEST(FileTimes, NullTimesStayAndFailuresNameTheFile)
{
    const scratch_folder folder(L"file_times");
    const std::wstring path = folder.write(L"f.bin", pattern(10));
    const times given = {filetime(2003, 3, 3), filetime(2001, 1, 1), filetime(2100, 2, 2)};
    set_times(path, given);
    const times seen = times_of(path);
    {
        qv::file f;
        ASSERT_EQ(f.open(path.c_str(), GENERIC_READ | GENERIC_WRITE), 0u);
        const FILETIME later = filetime(2010, 5, 5);
        qv::SetFileTimes(f, &later, nullptr, nullptr);
        FILETIME write = {}, creation = {}, access = {};
        qv::GetFileTimes(f, &write, &creation, &access);
        EXPECT_EQ(ticks(write), ticks(later));
        EXPECT_EQ(ticks(access), ticks(seen.access));
        f.close();
        try {
            qv::GetFileTimes(f, &write, &creation, &access);
            ADD_FAILURE() << "a closed file has no times";
        } catch (const qv::file_exception& e) {
            EXPECT_EQ(e.error(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
            EXPECT_EQ(e.path().str(), path);
        }
    }
    {
        qv::file f;
        ASSERT_EQ(f.open(http(L"/status/200").c_str(), GENERIC_READ), 0u);
        FILETIME write = filetime(1999, 9, 9), creation = write, access = write;
        try {
            qv::GetFileTimes(f, &write, &creation, &access);
            ADD_FAILURE() << "the server names no Last-Modified";
        } catch (const qv::internet_file_exception& e) {
            EXPECT_EQ(e.path().str(), http(L"/status/200"));
        }
        EXPECT_THROW(qv::SetFileTimes(f, &write, nullptr, nullptr), qv::file_exception) << "an address is read only";
    }
    {
        qv::file f;
        ASSERT_EQ(f.open(http(L"/modified").c_str(), GENERIC_READ), 0u);
        const FILETIME untouched = filetime(1999, 9, 9);
        FILETIME write = {}, creation = untouched, access = untouched;
        qv::GetFileTimes(f, &write, &creation, &access);
        SYSTEMTIME st = {};
        FileTimeToSystemTime(&write, &st);
        EXPECT_EQ(st.wYear, 2015);
        EXPECT_EQ(st.wDay, 21);
        EXPECT_EQ(st.wHour, 7);
        EXPECT_EQ(st.wMinute, 28);
        EXPECT_EQ(ticks(creation), ticks(untouched));
        EXPECT_EQ(ticks(access), ticks(untouched));
    }
}

std::string hex(const unsigned char digest[16])
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < 16; ++i) out += {digits[digest[i] >> 4], digits[digest[i] & 15]};
    return out;
}

TEST(FileMd5, DigestsFilesAndAddressesOrAnswersTheError)
{
    const scratch_folder folder(L"file_md5");
    struct Case {
        const char* name;
        std::wstring path;
        DWORD error;
        const char* digest;
    };
    const Case cases[] = {
        {"abc", folder.write(L"abc.txt", {'a', 'b', 'c'}), 0, "900150983cd24fb0d6963f7d28e17f72"},
        {"empty", folder.write(L"empty.txt", {}), 0, "d41d8cd98f00b204e9800998ecf8427e"},
        {"exactly one block", folder.write(L"one.bin", pattern(16384)), 0, "e7b11e9c017496ec667c7bf8909d0e2d"},
        {"several blocks", folder.write(L"many.bin", pattern(40000)), 0, "f8538691d5889b475519b3120a8a1281"},
        {"an address", http(L"/data/40000"), 0, "f8538691d5889b475519b3120a8a1281"},
        {"missing", folder.join(L"missing.bin"), ERROR_FILE_NOT_FOUND, nullptr},
        {"missing folder", folder.join(L"nowhere\\x.bin"), ERROR_PATH_NOT_FOUND, nullptr},
        {"an address cut halfway", http(L"/drop/40000"), 1, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        unsigned char digest[16];
        std::memset(digest, 0xAA, sizeof digest);
        const DWORD error = qv::FileMd5(c.path.c_str(), digest);
        if (c.error == 1)
            EXPECT_NE(error, 0u) << "any error of the read";
        else
            EXPECT_EQ(error, c.error);
        if (c.digest)
            EXPECT_EQ(hex(digest), c.digest);
        else
            EXPECT_EQ(hex(digest), std::string(32, 'a')) << "no digest on failure";
    }
}

TEST(FilesHaveEqualMd5, ComparesDigestsAndNamesTheFileThatFailed)
{
    const scratch_folder folder(L"equal_md5");
    const std::wstring a = folder.write(L"a.bin", pattern(20000));
    const std::wstring same = folder.write(L"same.bin", pattern(20000));
    bytes changed = pattern(20000);
    changed[19999] ^= 1;
    const std::wstring other = folder.write(L"other.bin", changed);
    const std::wstring missing = folder.join(L"missing.bin");
    struct Case {
        const char* name;
        std::wstring first, second;
        bool equal;
        DWORD error;
        std::wstring failed;
    };
    const Case cases[] = {
        {"same content", a, same, true, 0, L""},
        {"last byte differs", a, other, false, 0, L""},
        {"first missing", missing, a, false, ERROR_FILE_NOT_FOUND, missing},
        {"second missing", a, missing, false, ERROR_FILE_NOT_FOUND, missing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qv::SetLastFileOpError(1234);
        qv::RecordFailedPath(L"before");
        EXPECT_EQ(qv::FilesHaveEqualMd5(c.first.c_str(), c.second.c_str()), c.equal);
        EXPECT_EQ(qv::LastFileOpError(), c.error);
        EXPECT_EQ(qv::LastFailedPath().str(), c.failed.empty() ? L"before" : c.failed);
    }
}

std::wstring list(std::initializer_list<std::wstring> items)
{
    std::wstring out;
    for (const std::wstring& item : items) out += (out.empty() ? L"" : L";") + item;
    return out;
}

TEST(RunShellFileOperation, CopiesMovesDeletesAndRenamesListsOfFiles)
{
    const scratch_folder folder(L"shell_ops");
    const std::wstring a = folder.write(L"a.txt", {'a'});
    const std::wstring b = folder.write(L"b.txt", {'b'});
    const std::wstring dest = folder.join(L"dest");
    CreateDirectoryW(dest.c_str(), nullptr);
    const FILEOP_FLAGS quiet = qv::shell_quiet_flags;

    // Empty items are skipped: they would end the list early.
    EXPECT_EQ(qv::RunShellFileOperation(list({a, L"", b, L""}).c_str(), dest.c_str(), FO_COPY, quiet), 0);
    EXPECT_EQ(read_back(dest + L"\\a.txt"), bytes{'a'});
    EXPECT_EQ(read_back(dest + L"\\b.txt"), bytes{'b'});

    EXPECT_EQ(qv::RunShellFileOperation(list({a, b}).c_str(), list({folder.join(L"a2.txt"), folder.join(L"b2.txt")}).c_str(),
                  FO_COPY, quiet | FOF_MULTIDESTFILES),
        0);
    EXPECT_EQ(read_back(folder.join(L"a2.txt")), bytes{'a'});
    EXPECT_EQ(read_back(folder.join(L"b2.txt")), bytes{'b'});

    // Wine's shell moves several files into one folder only file by file (1223 otherwise).
    const std::wstring moved = folder.join(L"moved");
    CreateDirectoryW(moved.c_str(), nullptr);
    EXPECT_EQ(qv::RunShellFileOperation(folder.join(L"a2.txt").c_str(), moved.c_str(), FO_MOVE, quiet), 0);
    EXPECT_EQ(qv::RunShellFileOperation(folder.join(L"b2.txt").c_str(), (moved + L"\\b3.txt").c_str(), FO_MOVE, quiet), 0);
    EXPECT_FALSE(exists(folder.join(L"a2.txt")));
    EXPECT_FALSE(exists(folder.join(L"b2.txt")));
    EXPECT_EQ(read_back(moved + L"\\a2.txt"), bytes{'a'});
    EXPECT_EQ(read_back(moved + L"\\b3.txt"), bytes{'b'});

    EXPECT_EQ(qv::RunShellFileOperation((moved + L"\\a2.txt").c_str(), (moved + L"\\renamed.txt").c_str(), FO_RENAME, quiet), 0);
    EXPECT_FALSE(exists(moved + L"\\a2.txt"));
    EXPECT_EQ(read_back(moved + L"\\renamed.txt"), bytes{'a'});

    EXPECT_EQ(qv::RunShellFileOperation(list({dest + L"\\a.txt", dest + L"\\b.txt"}).c_str(), L"", FO_DELETE, quiet), 0);
    EXPECT_FALSE(exists(dest + L"\\a.txt"));
    EXPECT_FALSE(exists(dest + L"\\b.txt"));

    EXPECT_NE(qv::RunShellFileOperation(folder.join(L"missing.txt").c_str(), dest.c_str(), FO_COPY, quiet), 0);
}

TEST(RunShellFileOperation, ListsThatNameNothingAreRefused)
{
    const scratch_folder folder(L"shell_empty");
    const std::wstring a = folder.write(L"a.txt", {'a'});
    struct Case {
        const char* name;
        std::wstring sources, targets;
        UINT operation;
    };
    const Case cases[] = {
        {"no source", L"", folder.path(), FO_COPY},
        {"only separators", L";;", folder.path(), FO_COPY},
        {"copy without a target", a, L"", FO_COPY},
        {"move without a target", a, L";", FO_MOVE},
        {"rename without a target", a, L"", FO_RENAME},
        {"delete of nothing", L";", L"", FO_DELETE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(qv::RunShellFileOperation(c.sources.c_str(), c.targets.c_str(), c.operation, qv::shell_quiet_flags),
            ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(read_back(a), bytes{'a'});
}

TEST(RunShellFileOperation, FallsBackToTheNarrowFormAndFailsWithoutEither)
{
    const scratch_folder folder(L"shell_entry");
    const std::wstring a = folder.write(L"a.txt", {'a'});
    const std::wstring b = folder.write(L"b.txt", {'b'});
    {
        fake_entries hide;
        hide.hide("SHFileOperationW");
        EXPECT_EQ(qv::RunShellFileOperation(list({a, b}).c_str(),
                      list({folder.join(L"na.txt"), folder.join(L"nb.txt")}).c_str(), FO_COPY,
                      qv::shell_quiet_flags | FOF_MULTIDESTFILES),
            0);
        EXPECT_EQ(hide.asked, (std::vector<std::string>{"SHFileOperationW", "SHFileOperationA"}));
    }
    EXPECT_EQ(read_back(folder.join(L"na.txt")), bytes{'a'});
    EXPECT_EQ(read_back(folder.join(L"nb.txt")), bytes{'b'});
    {
        fake_entries hide;
        hide.hide("SHFileOperationW");
        hide.hide("SHFileOperationA");
        EXPECT_EQ(qv::RunShellFileOperation(a.c_str(), folder.join(L"none.txt").c_str(), FO_COPY, qv::shell_quiet_flags),
            ERROR_PROC_NOT_FOUND);
        EXPECT_FALSE(qv::ShellCopyFiles(a.c_str(), folder.join(L"none").c_str(), FO_COPY));
        EXPECT_EQ(qv::LastFileOpError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
        EXPECT_EQ(qv::LastFailedPath().str(), a);
    }
    EXPECT_FALSE(exists(folder.join(L"none.txt")));
    EXPECT_FALSE(exists(folder.join(L"none\\a.txt")));
}

TEST(ShellCopyFiles, ChecksTheSourcesAndMakesTheTargetFolder)
{
    const scratch_folder folder(L"shell_copy");
    const std::wstring a = folder.write(L"a.txt", {'a'});
    const std::wstring b = folder.write(L"b.txt", {'b'});
    const std::wstring missing = folder.join(L"missing.txt");

    // A single file goes into the new folder, not under the folder's name.
    const std::wstring one = folder.join(L"one\\deeper");
    EXPECT_TRUE(qv::ShellCopyFiles(a.c_str(), one.c_str(), FO_COPY)) << qv::LastFileOpError();
    EXPECT_EQ(read_back(one + L"\\a.txt"), bytes{'a'});
    EXPECT_EQ(qv::LastFileOpError(), 0u);

    const std::wstring two = folder.join(L"two");
    EXPECT_TRUE(qv::ShellCopyFiles(list({a, b}).c_str(), two.c_str(), FO_COPY));
    EXPECT_EQ(read_back(two + L"\\a.txt"), bytes{'a'});
    EXPECT_EQ(read_back(two + L"\\b.txt"), bytes{'b'});
    EXPECT_TRUE(qv::ShellCopyFiles(a.c_str(), folder.join(L"moved").c_str(), FO_MOVE));
    EXPECT_FALSE(exists(a));
    EXPECT_EQ(read_back(folder.join(L"moved\\a.txt")), bytes{'a'});

    const std::wstring c = folder.write(L"c.txt", {'c'});
    EXPECT_FALSE(qv::ShellCopyFiles(list({c, missing}).c_str(), folder.join(L"three").c_str(), FO_COPY));
    EXPECT_EQ(qv::LastFileOpError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(qv::LastFailedPath().str(), missing);
    EXPECT_FALSE(exists(folder.join(L"three"))) << "nothing is done before every source is found";

    folder.write(L"plain.txt", {'x'});
    EXPECT_FALSE(qv::ShellCopyFiles(c.c_str(), folder.join(L"plain.txt\\sub").c_str(), FO_COPY));
    EXPECT_NE(qv::LastFileOpError(), 0u);

    EXPECT_FALSE(qv::ShellCopyFiles(L";", folder.join(L"four").c_str(), FO_COPY));
    EXPECT_EQ(qv::LastFileOpError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // A pattern needs only its folder.
    EXPECT_TRUE(qv::ShellCopyFiles(folder.join(L"two\\*.txt").c_str(), folder.join(L"five").c_str(), FO_COPY));
    EXPECT_EQ(read_back(folder.join(L"five\\a.txt")), bytes{'a'});
    EXPECT_EQ(read_back(folder.join(L"five\\b.txt")), bytes{'b'});
}

TEST(ShellCopyFilesMulti, PairsSourcesWithTargetsAndMakesTheirFolders)
{
    const scratch_folder folder(L"shell_multi");
    const std::wstring a = folder.write(L"a.txt", {'a'});
    const std::wstring b = folder.write(L"b.txt", {'b'});
    const std::wstring ta = folder.join(L"x\\first.txt"), tb = folder.join(L"y\\z\\second.txt");
    EXPECT_TRUE(qv::ShellCopyFilesMulti(list({a, b}).c_str(), list({ta, tb}).c_str(), FO_COPY)) << qv::LastFileOpError();
    EXPECT_EQ(read_back(ta), bytes{'a'});
    EXPECT_EQ(read_back(tb), bytes{'b'});

    EXPECT_FALSE(qv::ShellCopyFilesMulti(list({a, b}).c_str(), folder.join(L"w\\only.txt").c_str(), FO_COPY));
    EXPECT_EQ(qv::LastFileOpError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(exists(folder.join(L"w")));

    const std::wstring missing = folder.join(L"missing.txt");
    EXPECT_FALSE(qv::ShellCopyFilesMulti(list({missing, b}).c_str(), list({ta, tb}).c_str(), FO_COPY));
    EXPECT_EQ(qv::LastFileOpError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(qv::LastFailedPath().str(), missing);
}

TEST(ShellReplaceFolder, EmptiesTheTargetFirstAndKeepsTheSources)
{
    const scratch_folder folder(L"shell_replace");
    const std::wstring a = folder.write(L"a.txt", {'a'});
    const std::wstring target = folder.join(L"target");
    CreateDirectoryW(target.c_str(), nullptr);
    CreateDirectoryW((target + L"\\old_sub").c_str(), nullptr);
    folder.write(L"target\\old.txt", {'o'});
    folder.write(L"target\\old_sub\\deep.txt", {'d'});

    EXPECT_TRUE(qv::ShellReplaceFolder(a.c_str(), target.c_str(), FO_COPY)) << qv::LastFileOpError();
    EXPECT_FALSE(exists(target + L"\\old.txt"));
    EXPECT_FALSE(exists(target + L"\\old_sub"));
    EXPECT_EQ(read_back(target + L"\\a.txt"), bytes{'a'});

    // A source in the target would go with the emptying.
    const std::wstring inside = target + L"\\a.txt";
    EXPECT_FALSE(qv::ShellReplaceFolder(inside.c_str(), target.c_str(), FO_COPY));
    EXPECT_EQ(qv::LastFileOpError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(qv::LastFailedPath().str(), inside);
    EXPECT_EQ(read_back(inside), bytes{'a'});
    EXPECT_FALSE(qv::ShellReplaceFolder(target.c_str(), (target + L"\\").c_str(), FO_COPY));
    EXPECT_TRUE(exists(inside));

    EXPECT_FALSE(qv::ShellReplaceFolder(a.c_str(), L"", FO_COPY));
    EXPECT_EQ(qv::LastFileOpError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    const std::wstring missing = folder.join(L"missing.txt");
    EXPECT_FALSE(qv::ShellReplaceFolder(missing.c_str(), target.c_str(), FO_COPY));
    EXPECT_EQ(qv::LastFailedPath().str(), missing);
    EXPECT_TRUE(exists(inside)) << "a missing source leaves the target as it was";

    // A new target folder is made.
    EXPECT_TRUE(qv::ShellReplaceFolder(a.c_str(), folder.join(L"fresh").c_str(), FO_COPY));
    EXPECT_EQ(read_back(folder.join(L"fresh\\a.txt")), bytes{'a'});
}

}  // namespace
