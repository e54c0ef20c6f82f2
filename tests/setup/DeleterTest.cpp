// The deferred deletion in folders of the cases' own, its pauses counted through the seam; the
// self-removal of a launcher stand-in (self_removal_helper.exe) copied into a folder of its own.
// Each case runs as a process of its own; they hold REdedov, the trace's switch.
#include "Deleter.h"
#include "trace_log.h"

#include "FileSupport.h"
#include "ScratchFolder.h"
#include "SwappedSeam.h"
#include "TraceTestSupport.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Counts the pauses; at `release_at` pauses it closes the file that `held` keeps open.
int pauses = 0;
int release_at = -1;
qv::file_handle* held = nullptr;

void counted_pause(DWORD milliseconds)
{
    EXPECT_EQ(milliseconds, 100u);
    if (++pauses == release_at && held) held->reset();
}

struct DeleterCase {
    const char* name;
    std::vector<std::wstring> make_folders;  // made first, in order
    std::vector<std::wstring> make_files;
    std::vector<std::wstring> files;  // the record's lists
    std::vector<std::wstring> folders;
    BYTE skip;
    const wchar_t* locked;  // held open without share-delete while the deleter runs
    int release_at;         // the pause at which the lock goes; -1: never
    std::vector<std::wstring> left;
    int pauses;
};

TEST(RunDeleter, Cases)
{
    const DeleterCase cases[] = {
        {"skip deletes nothing", {L"F"}, {L"a.txt"}, {L"a.txt"}, {L"F"}, 1, nullptr, -1, {L"F", L"a.txt"}, 0},
        {"files then folders go", {L"F"}, {L"a.txt", L"F\\b.txt"}, {L"a.txt", L"F\\b.txt"}, {L"F"}, 0, nullptr, -1, {},
            0},
        {"a nested folder added after its parent goes first", {L"A", L"A\\B"}, {}, {}, {L"A", L"A\\B"}, 0, nullptr,
            -1, {}, 0},
        // The parent is tried first: not empty, it is tried 101 times and stays.
        {"a parent added after its nested folder stays", {L"A", L"A\\B"}, {}, {}, {L"A\\B", L"A"}, 0, nullptr, -1,
            {L"A"}, 100},
        {"a locked file is tried 101 times and left", {}, {L"locked.txt"}, {L"locked.txt"}, {}, 0, L"locked.txt", -1,
            {L"locked.txt"}, 100},
        {"a file unlocked during the pauses goes at the next try", {}, {L"locked.txt"}, {L"locked.txt"}, {}, 0,
            L"locked.txt", 5, {}, 5},
        {"an absent file is skipped", {}, {}, {L"absent.txt"}, {}, 0, nullptr, -1, {}, 0},
        {"a folder in the file list is no file", {L"F"}, {}, {L"F"}, {}, 0, nullptr, -1, {L"F"}, 0},
    };
    const swapped<void (*)(DWORD)> seam(deleter_seams::wait, counted_pause);
    for (const DeleterCase& c : cases) {
        SCOPED_TRACE(c.name);
        const scratch_folder folder(L"setup_deleter");
        for (const std::wstring& name : c.make_folders) ASSERT_TRUE(CreateDirectoryW(folder.join(name).c_str(), nullptr));
        for (const std::wstring& name : c.make_files) folder.write(name, {'x'});
        Deleter deleter;
        for (const std::wstring& name : c.files) deleter.files.emplace_back(folder.join(name));
        for (const std::wstring& name : c.folders) deleter.folders.emplace_back(folder.join(name));
        deleter.skip = c.skip;
        qv::file_handle lock;
        if (c.locked) {
            lock.reset(CreateFileW(folder.join(c.locked).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(lock.valid());
        }
        pauses = 0;
        release_at = c.release_at;
        held = &lock;

        RunDeleter(deleter);

        held = nullptr;
        EXPECT_EQ(pauses, c.pauses);
        EXPECT_TRUE(deleter.files.empty());
        EXPECT_TRUE(deleter.folders.empty());
        std::vector<std::wstring> left, expected;
        for (const wchar_t* name : {L"a.txt", L"F", L"F\\b.txt", L"A", L"A\\B", L"locked.txt", L"absent.txt"}) {
            if (exists(folder.join(name))) left.push_back(name);
            if (std::find(c.left.begin(), c.left.end(), name) != c.left.end()) expected.push_back(name);
        }
        EXPECT_EQ(left, expected);
    }
}

// The folder of the running program cannot be emptied before it ends: one try, no pauses.
TEST(RunDeleter, TheRunningProgramsFolderIsTriedOnce)
{
    wchar_t module[MAX_PATH + 1] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, module, MAX_PATH), 0u);
    const std::wstring program(module);
    const std::wstring own_folder = program.substr(0, program.rfind(L'\\'));
    const swapped<void (*)(DWORD)> seam(deleter_seams::wait, counted_pause);
    pauses = 0;
    release_at = -1;
    Deleter deleter;
    deleter.folders.emplace_back(own_folder);
    deleter.folders.emplace_back(own_folder + L"\\");
    RunDeleter(deleter);
    EXPECT_EQ(pauses, 0);
    EXPECT_TRUE(exists(own_folder));
}

class DeleterTrace : public testing::Test {
protected:
    void SetUp() override
    {
        tracetest::remove_trace_key();
        path_ = folder_.join(L"trace.bin");
        ASSERT_TRUE(tracetest::make_trace_key(&path_));
        qv::InitTracing();
        ASSERT_TRUE(qv::TracingEnabled());
    }
    void TearDown() override { tracetest::remove_trace_key(); }

    std::vector<std::string> events()
    {
        const tracetest::trace_file trace = tracetest::read_trace(path_);
        EXPECT_TRUE(trace.whole);
        if (trace.records.size() < tracetest::header_records) return {};
        return {trace.records.begin() + tracetest::header_records, trace.records.end()};
    }

    static std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

    scratch_folder folder_{L"setup_deleter_trace"};
    std::wstring path_;
};

TEST_F(DeleterTrace, EachFileInOrderThenEachFolderLastFirst)
{
    const scratch_folder work(L"setup_deleter_work");
    CreateDirectoryW(work.join(L"A").c_str(), nullptr);
    CreateDirectoryW(work.join(L"A\\B").c_str(), nullptr);
    work.write(L"b.txt", {'x'});
    work.write(L"a.txt", {'x'});
    Deleter deleter;
    for (const wchar_t* name : {L"b.txt", L"absent.txt", L"a.txt"}) deleter.files.emplace_back(work.join(name));
    for (const wchar_t* name : {L"A", L"A\\B"}) deleter.folders.emplace_back(work.join(name));

    RunDeleter(deleter);

    const std::vector<std::string> expected = {
        "DeleterDeleteFile|RURavurDLLOp|", "File=" + narrow(work.join(L"b.txt")) + "\r\n",
        "DeleterDeleteFile|RURavurDLLOp|", "File=" + narrow(work.join(L"absent.txt")) + "\r\n",
        "DeleterDeleteFile|RURavurDLLOp|", "File=" + narrow(work.join(L"a.txt")) + "\r\n",
        "DeleterDeleteFolder|RURavurDLLOp|", "Folder=" + narrow(work.join(L"A\\B")) + "\r\n",
        "DeleterDeleteFolder|RURavurDLLOp|", "Folder=" + narrow(work.join(L"A")) + "\r\n",
    };
    EXPECT_EQ(events(), expected);
    EXPECT_FALSE(exists(work.join(L"A")));
}

TEST_F(DeleterTrace, SkipWritesNoRecord)
{
    const scratch_folder work(L"setup_deleter_work");
    work.write(L"a.txt", {'x'});
    Deleter deleter;
    deleter.files.emplace_back(work.join(L"a.txt"));
    deleter.folders.emplace_back(work.path());
    deleter.skip = 1;

    RunDeleter(deleter);

    EXPECT_TRUE(events().empty());
    EXPECT_TRUE(exists(work.join(L"a.txt")));
}

// Bound of every wait on the stand-in and on what it arranged: the removal tries once a second.
constexpr DWORD removal_bound_ms = 30000;

// Waits, on the changes under `watched`, until `path` is gone.
bool gone_within(const std::wstring& watched, const std::wstring& path, DWORD bound)
{
    const qv::change_notification changes(FindFirstChangeNotificationW(
        watched.c_str(), TRUE, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME));
    if (!changes) {
        ADD_FAILURE() << "no change notification for the scratch folder: " << GetLastError();
        return false;
    }
    const DWORD start = GetTickCount();
    while (exists(path)) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= bound) return false;
        // A change that Wine does not report costs a quarter second at most.
        const DWORD slice = bound - elapsed < 250 ? bound - elapsed : 250;
        if (WaitForSingleObject(changes.get(), slice) == WAIT_OBJECT_0) FindNextChangeNotification(changes.get());
    }
    return true;
}

// The processes that `parent` started and that still run.
std::vector<qv::kernel_handle> children_of(DWORD parent)
{
    std::vector<qv::kernel_handle> out;
    const qv::file_handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
        if (entry.th32ParentProcessID == parent && entry.th32ProcessID != parent)
            if (HANDLE child = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, entry.th32ProcessID))
                out.emplace_back(child);
    return out;
}

// The stand-in, copied into a folder of its own in the scratch folder and started there.
class SelfRemoval : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CreateDirectoryW(launcher_folder_.c_str(), nullptr));
        ASSERT_TRUE(CopyFileW(beside_program(L"self_removal_helper.exe").c_str(), launcher_.c_str(), TRUE));
    }
    void TearDown() override
    {
        for (qv::kernel_handle& child : children_)
            if (WaitForSingleObject(child.get(), 0) == WAIT_TIMEOUT) TerminateProcess(child.get(), 1);
    }

    // Runs the stand-in to its end; its exit code.
    DWORD run(const wchar_t* which)
    {
        std::wstring line = L"\"" + launcher_ + L"\" " + which;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(launcher_.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                launcher_folder_.c_str(), &startup, &process)) {
            ADD_FAILURE() << "the stand-in did not start: " << GetLastError();
            return 99;
        }
        const qv::kernel_handle handle(process.hProcess);
        const qv::kernel_handle thread(process.hThread);
        if (WaitForSingleObject(handle.get(), removal_bound_ms) != WAIT_OBJECT_0) {
            TerminateProcess(handle.get(), 98);
            ADD_FAILURE() << "the stand-in did not end";
            return 98;
        }
        DWORD code = 97;
        GetExitCodeProcess(handle.get(), &code);
        children_ = children_of(process.dwProcessId);
        return code;
    }

    // Every process the stand-in left has ended.
    bool children_end()
    {
        for (qv::kernel_handle& child : children_)
            if (WaitForSingleObject(child.get(), removal_bound_ms) != WAIT_OBJECT_0) return false;
        return true;
    }

    scratch_folder scratch_{L"setup_self_removal"};
    // Characters a command line would take for its own: the paths are handed over as they are.
    std::wstring launcher_folder_ = scratch_.join(L"launcher & 100% ^!;=,");
    std::wstring launcher_ = launcher_folder_ + L"\\launcher.exe";
    std::vector<qv::kernel_handle> children_;
};

TEST_F(SelfRemoval, TheExecutableAndItsFolderGoAfterTheProcessEnds)
{
    ASSERT_EQ(run(L"remove"), 0u);
    EXPECT_TRUE(gone_within(scratch_.path(), launcher_folder_, removal_bound_ms));
    EXPECT_TRUE(children_end());
    EXPECT_TRUE(scratch_.names().empty());
}

TEST_F(SelfRemoval, WithoutTheFolderFlagTheFolderStays)
{
    ASSERT_EQ(run(L"keepfolder"), 0u);
    EXPECT_TRUE(gone_within(scratch_.path(), launcher_, removal_bound_ms));
    EXPECT_TRUE(children_end());
    EXPECT_TRUE(exists(launcher_folder_));
}

TEST_F(SelfRemoval, TheDeleterArrangesItWhenAsked)
{
    ASSERT_EQ(run(L"deleter"), 0u);
    EXPECT_TRUE(gone_within(scratch_.path(), launcher_folder_, removal_bound_ms));
    EXPECT_TRUE(children_end());
}

TEST_F(SelfRemoval, SkipKeepsTheLauncherToo)
{
    ASSERT_EQ(run(L"skip"), 0u);
    EXPECT_TRUE(children_.empty());
    EXPECT_TRUE(exists(launcher_));
}

}  // namespace
