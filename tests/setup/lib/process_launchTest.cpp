#include "process_launch.h"
#include "file_system.h"
#include "system_folders.h"

#include "FakeEntries.h"
#include "FileSupport.h"
#include "ScratchFolder.h"
#include "SwappedSeam.h"

#include <gtest/gtest.h>

#include <shellapi.h>
#include <tlhelp32.h>

#include <set>
#include <string>
#include <vector>

namespace {

// Bound of every wait of a test on a helper that should end at once.
constexpr DWORD helper_bound_ms = 20000;

std::wstring helper()
{
    return beside_program(L"launch_helper.exe");
}

std::wstring quoted(const std::wstring& path)
{
    return L"\"" + path + L"\"";
}

// A manual-reset event of the case's own, which the helper opens by its name.
class named_event {
public:
    named_event()
    {
        static int made = 0;
        name_ = L"CorvaneTestLaunch_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++made);
        handle_.reset(CreateEventW(nullptr, TRUE, FALSE, name_.c_str()));
    }
    const std::wstring& name() const { return name_; }
    void set() const { SetEvent(handle_.get()); }
    bool is_set() const { return WaitForSingleObject(handle_.get(), 0) == WAIT_OBJECT_0; }
    bool wait() const { return WaitForSingleObject(handle_.get(), helper_bound_ms) == WAIT_OBJECT_0; }

private:
    std::wstring name_;
    qv::kernel_handle handle_;
};

void set_event(void* event)
{
    static_cast<const named_event*>(event)->set();
}

void count_call(void* calls)
{
    ++*static_cast<int*>(calls);
}

// A helper started directly, ended when the case ends if it still runs.
class started_helper {
public:
    explicit started_helper(const std::wstring& arguments, const std::wstring& program = helper())
    {
        std::wstring line = quoted(program) + L" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
            CloseHandle(process.hThread);
            process_.reset(process.hProcess);
            id_ = process.dwProcessId;
        }
    }
    ~started_helper()
    {
        if (process_ && !ended(0)) TerminateProcess(process_.get(), 1);
    }
    started_helper(const started_helper&) = delete;
    started_helper& operator=(const started_helper&) = delete;

    bool started() const { return process_.valid(); }
    HANDLE handle() const { return process_.get(); }
    DWORD id() const { return id_; }
    bool ended(DWORD bound = helper_bound_ms) const { return WaitForSingleObject(process_.get(), bound) == WAIT_OBJECT_0; }
    DWORD exit_code() const
    {
        DWORD code = 0;
        GetExitCodeProcess(process_.get(), &code);
        return code;
    }

private:
    qv::kernel_handle process_;
    DWORD id_ = 0;
};

// Every case leaves no callback, no helper of its launches running and no handle behind.
class ProcessLaunchTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        qv::SetWaitCallback(nullptr, nullptr);
        end_launched();
    }
    static void end_launched()
    {
        const HANDLE process = qv::LaunchedProcess().hProcess;
        if (process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, helper_bound_ms);
        }
        qv::CloseLaunchedProcess();
    }
    static qv::LaunchRequest request(const std::wstring& arguments, DWORD flags, DWORD time_out = INFINITE)
    {
        qv::LaunchRequest r;
        r.program = helper();
        r.arguments = arguments;
        r.wait_flags = flags;
        r.time_out = time_out;
        return r;
    }
    scratch_folder scratch_{L"launch"};
};

TEST_F(ProcessLaunchTest, TheProgramsExitCodeComesBack)
{
    struct Case {
        const char* name;
        const wchar_t* arguments;
        DWORD flags;
        DWORD exit_code;
    };
    const Case cases[] = {
        {"waited for", L"exit 42", qv::wait_for_program, 42},
        {"a code above a byte", L"exit 70000", qv::wait_for_program, 70000},
        {"never idle, waited for anyway", L"busy exit 7", qv::wait_for_program, 7},
        {"children flag with no child", L"exit 3", qv::wait_for_children, 3},
    };
    for (const Case& c : cases) {
        qv::SetLastFileOpError(12345);
        EXPECT_EQ(qv::LaunchProcess(request(c.arguments, c.flags)), qv::launch_done) << c.name;
        EXPECT_EQ(qv::LaunchExitCode(), c.exit_code) << c.name;
        EXPECT_EQ(qv::LastFileOpError(), 0u) << c.name;
        const PROCESS_INFORMATION& started = qv::LaunchedProcess();
        ASSERT_NE(started.hProcess, nullptr) << c.name;
        EXPECT_NE(started.hThread, nullptr) << c.name;
        EXPECT_EQ(started.dwProcessId, GetProcessId(started.hProcess)) << c.name;
        EXPECT_NE(started.dwThreadId, 0u) << c.name;
    }
}

TEST_F(ProcessLaunchTest, WithoutAWaitTheLaunchAnswersWhileTheProgramRuns)
{
    struct Case {
        const char* name;
        DWORD flags;
        DWORD time_out;
    };
    const Case cases[] = {
        {"no wait flag", 0, INFINITE},
        {"a time-out of nothing", qv::wait_for_descendants, 0},
        {"shell without a wait flag", qv::launch_through_shell, INFINITE},
    };
    for (const Case& c : cases) {
        const named_event go;
        EXPECT_EQ(qv::LaunchProcess(request(L"wait " + go.name() + L" exit 3", c.flags, c.time_out)), qv::launch_done)
            << c.name;
        EXPECT_EQ(qv::LaunchExitCode(), STILL_ACTIVE) << c.name;
        const HANDLE process = qv::LaunchedProcess().hProcess;
        ASSERT_NE(process, nullptr) << c.name;
        EXPECT_EQ(WaitForSingleObject(process, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << c.name;
        go.set();
        ASSERT_EQ(WaitForSingleObject(process, helper_bound_ms), WAIT_OBJECT_0) << c.name;
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        EXPECT_EQ(code, 3u) << c.name;
    }
}

// The program starts a child that waits for its own child; that grandchild leaves a marker
// once the wait's callback lets it go.
TEST_F(ProcessLaunchTest, TheWaitCoversTheProgramsChildrenWhenAsked)
{
    struct Case {
        const char* name;
        DWORD flags;
        bool marker_on_return;
    };
    const Case cases[] = {
        {"the program only", qv::wait_for_program, false},
        {"children", qv::wait_for_children, true},
        {"descendants", qv::wait_for_descendants, true},
    };
    for (const Case& c : cases) {
        const named_event go, done;
        const std::wstring marker = scratch_.join(L"grandchild_" + std::to_wstring(c.flags));
        // Only the cases that wait for the tree release it on their own.
        if (c.marker_on_return) qv::SetWaitCallback(set_event, const_cast<named_event*>(&go));
        const int result = qv::LaunchProcess(request(
            L"spawn spawnwait wait " + go.name() + L" marker " + marker + L" signal " + done.name(), c.flags, 30000));
        qv::SetWaitCallback(nullptr, nullptr);
        EXPECT_EQ(result, qv::launch_done) << c.name;
        EXPECT_EQ(exists(marker), c.marker_on_return) << c.name;
        EXPECT_EQ(qv::LaunchExitCode(), 0u) << c.name;
        go.set();
        EXPECT_TRUE(done.wait()) << c.name;
        EXPECT_TRUE(exists(marker)) << c.name;
    }
}

TEST_F(ProcessLaunchTest, AWaitThatRunsOutOfTimeAnswersTimedOut)
{
    struct Case {
        const char* name;
        const wchar_t* arguments;
        DWORD flags;
    };
    const Case cases[] = {
        {"the program never ends", L"forever", qv::wait_for_program},
        {"its child never ends", L"spawn forever", qv::wait_for_children},
    };
    for (const Case& c : cases) {
        qv::SetLastFileOpError(0);
        EXPECT_EQ(qv::LaunchProcess(request(c.arguments, c.flags, 300)), qv::launch_timed_out) << c.name;
        EXPECT_EQ(qv::LastFileOpError(), static_cast<DWORD>(WAIT_TIMEOUT)) << c.name;
        EXPECT_EQ(qv::LastFailedPath().str(), helper() + L" " + c.arguments) << c.name;
        const PROCESS_INFORMATION started = qv::LaunchedProcess();
        if (c.flags & qv::wait_for_children) {
            const DWORD child = qv::FindChildProcess(started.dwProcessId, started.hProcess, false);
            ASSERT_NE(child, 0u) << c.name;
            EXPECT_TRUE(qv::TerminateProcessById(child)) << c.name;
        } else {
            EXPECT_EQ(qv::LaunchExitCode(), STILL_ACTIVE) << c.name;
        }
        end_launched();
    }
}

TEST_F(ProcessLaunchTest, AFailedStartRecordsTheErrorAndTheCommandLine)
{
    CreateDirectoryW(scratch_.join(L"with blank").c_str(), nullptr);
    const std::wstring missing = scratch_.join(L"missing.exe");
    const std::wstring in_blank = scratch_.join(L"with blank\\missing.exe");
    struct Case {
        const char* name;
        std::wstring program;
        std::wstring arguments;
        std::wstring command;
        std::set<DWORD> errors;
    };
    const Case cases[] = {
        {"missing file", missing, L"exit 1", missing + L" exit 1", {ERROR_FILE_NOT_FOUND}},
        {"missing folder", scratch_.join(L"nowhere\\missing.exe"), L"x", scratch_.join(L"nowhere\\missing.exe") + L" x",
            {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND}},
        {"blank in the path is quoted", in_blank, L"x", quoted(in_blank) + L" x", {ERROR_FILE_NOT_FOUND}},
        {"a quoted path is not quoted again", quoted(in_blank), L"x", quoted(in_blank) + L" x", {ERROR_FILE_NOT_FOUND}},
        {"no program: the arguments are the command", L"", missing + L" x", missing + L" x", {ERROR_FILE_NOT_FOUND}},
    };
    for (const Case& c : cases) {
        // A launch before, whose record the failed one must replace.
        ASSERT_EQ(qv::LaunchProcess(request(L"exit 0", qv::wait_for_program)), qv::launch_done) << c.name;
        qv::LaunchRequest r = request(c.arguments, qv::wait_for_program);
        r.program = c.program;
        EXPECT_EQ(qv::LaunchProcess(r), qv::launch_start_failed) << c.name;
        EXPECT_TRUE(c.errors.count(qv::LastFileOpError())) << c.name << ": " << qv::LastFileOpError();
        EXPECT_EQ(qv::LastFailedPath().str(), c.command) << c.name;
        const PROCESS_INFORMATION& started = qv::LaunchedProcess();
        EXPECT_EQ(started.hProcess, nullptr) << c.name;
        EXPECT_EQ(started.hThread, nullptr) << c.name;
        EXPECT_EQ(started.dwProcessId, 0u) << c.name;
    }
}

TEST_F(ProcessLaunchTest, AProgramInAFolderWithABlankRunsInTheGivenWorkingFolder)
{
    const std::wstring folder = scratch_.join(L"with blank");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring program = folder + L"\\launch helper.exe";
    ASSERT_TRUE(CopyFileW(helper().c_str(), program.c_str(), FALSE));
    qv::LaunchRequest r = request(L"marker here.txt exit 7", qv::wait_for_program);
    r.program = program;
    r.working_folder = scratch_.path();
    EXPECT_EQ(qv::LaunchProcess(r), qv::launch_done);
    EXPECT_EQ(qv::LaunchExitCode(), 7u);
    EXPECT_TRUE(exists(scratch_.join(L"here.txt")));
}

TEST_F(ProcessLaunchTest, TheShellStartsTheProgramWithItsVerb)
{
    qv::LaunchRequest r = request(L"exit 42", qv::launch_through_shell | qv::wait_for_program);
    r.verb = L"open";
    EXPECT_EQ(qv::LaunchProcess(r), qv::launch_done);
    EXPECT_EQ(qv::LaunchExitCode(), 42u);
    const PROCESS_INFORMATION& started = qv::LaunchedProcess();
    ASSERT_NE(started.hProcess, nullptr);
    EXPECT_EQ(started.dwProcessId, GetProcessId(started.hProcess));
    EXPECT_EQ(started.hThread, nullptr);
    EXPECT_EQ(started.dwThreadId, 0u);

    const std::wstring missing = scratch_.join(L"missing.exe");
    r.program = missing;
    r.creation_flags = SEE_MASK_FLAG_NO_UI;
    EXPECT_EQ(qv::LaunchProcess(r), qv::launch_start_failed);
    EXPECT_EQ(qv::LastFileOpError(), static_cast<DWORD>(SE_ERR_FNF));
    EXPECT_EQ(qv::LastFailedPath().str(), missing + L" exit 42");
    EXPECT_EQ(qv::LaunchedProcess().hProcess, nullptr);
}

TEST_F(ProcessLaunchTest, TheWaitCallbackRunsWhileTheWaitLasts)
{
    // The program ends only once the callback has run.
    const named_event go;
    qv::SetWaitCallback(set_event, const_cast<named_event*>(&go));
    EXPECT_EQ(qv::LaunchProcess(request(L"wait " + go.name() + L" exit 9", qv::wait_for_program)), qv::launch_done);
    EXPECT_EQ(qv::LaunchExitCode(), 9u);

    // A second and a half: a whole slice and the rest, each followed by a call, then no more.
    end_launched();
    int calls = 0;
    qv::SetWaitCallback(count_call, &calls);
    EXPECT_EQ(qv::LaunchProcess(request(L"forever", qv::wait_for_program, 1500)), qv::launch_timed_out);
    EXPECT_EQ(calls, 2);
}

// What the handles of a start lead to: ids and creation times. A closed handle's value fails,
// or names whatever took the value since; Wine hands an ended process's id and handle value
// to the next start, so only the creation time tells that one from this.
struct launched_identity {
    PROCESS_INFORMATION info{};
    FILETIME process_created{};
    FILETIME thread_created{};
};

bool creation_time(HANDLE h, bool thread, FILETIME& created)
{
    FILETIME exited, kernel, user;
    return h && (thread ? GetThreadTimes(h, &created, &exited, &kernel, &user)
                        : GetProcessTimes(h, &created, &exited, &kernel, &user));
}

launched_identity identity_of(const PROCESS_INFORMATION& info)
{
    launched_identity id;
    id.info = info;
    creation_time(info.hProcess, false, id.process_created);
    creation_time(info.hThread, true, id.thread_created);
    return id;
}

bool same_time(const FILETIME& a, const FILETIME& b)
{
    return CompareFileTime(&a, &b) == 0;
}

bool still_open(const launched_identity& earlier)
{
    FILETIME created;
    const PROCESS_INFORMATION& e = earlier.info;
    const bool process = GetProcessId(e.hProcess) == e.dwProcessId && creation_time(e.hProcess, false, created)
                         && same_time(created, earlier.process_created);
    // The shell gives no thread.
    const bool thread = e.hThread && GetThreadId(e.hThread) == e.dwThreadId && creation_time(e.hThread, true, created)
                        && same_time(created, earlier.thread_created);
    return process || thread;
}

// Counting the process's handles shows nothing here: Wine's WaitForInputIdle keeps the idle
// event it was given, a handle now and then per launch.
TEST_F(ProcessLaunchTest, ALaunchClosesTheHandlesOfTheOneBefore)
{
    ASSERT_EQ(qv::LaunchProcess(request(L"exit 0", qv::wait_for_program)), qv::launch_done);
    const std::wstring missing = scratch_.join(L"missing.exe");
    struct Case {
        const char* name;
        std::wstring program;
        DWORD flags;
        int result;
    };
    const Case cases[] = {
        {"a direct start", helper(), qv::wait_for_program, qv::launch_done},
        {"again", helper(), qv::wait_for_program, qv::launch_done},
        {"a shell start", helper(), qv::wait_for_program | qv::launch_through_shell, qv::launch_done},
        {"a direct start after the shell", helper(), qv::wait_for_program, qv::launch_done},
        {"a start that fails", missing, qv::wait_for_program, qv::launch_start_failed},
    };
    for (const Case& c : cases) {
        const launched_identity earlier = identity_of(qv::LaunchedProcess());
        ASSERT_TRUE(still_open(earlier)) << c.name;
        qv::LaunchRequest r = request(L"exit 0", c.flags);
        r.program = c.program;
        r.creation_flags = c.flags & qv::launch_through_shell ? SEE_MASK_FLAG_NO_UI : 0;
        ASSERT_EQ(qv::LaunchProcess(r), c.result) << c.name;
        EXPECT_FALSE(still_open(earlier)) << c.name;
    }

    ASSERT_EQ(qv::LaunchProcess(request(L"exit 0", qv::wait_for_program)), qv::launch_done);
    const launched_identity last = identity_of(qv::LaunchedProcess());
    qv::CloseLaunchedProcess();
    EXPECT_FALSE(still_open(last));
    const PROCESS_INFORMATION& closed = qv::LaunchedProcess();
    EXPECT_EQ(closed.hProcess, nullptr);
    EXPECT_EQ(closed.hThread, nullptr);
    EXPECT_EQ(closed.dwProcessId, 0u);
    EXPECT_EQ(closed.dwThreadId, 0u);
}

// A process list of the case's own in place of the Toolhelp snapshot.
class fake_process_list {
public:
    explicit fake_process_list(std::vector<PROCESSENTRY32W> entries)
    {
        entries_ = std::move(entries);
        snapshots = 0;
        fakes_.replace("CreateToolhelp32Snapshot", snapshot);
        fakes_.replace("Process32FirstW", first);
        fakes_.replace("Process32NextW", next);
    }
    static PROCESSENTRY32W entry(DWORD id, DWORD parent, const wchar_t* name = L"child.exe")
    {
        PROCESSENTRY32W e{};
        e.dwSize = sizeof e;
        e.th32ProcessID = id;
        e.th32ParentProcessID = parent;
        lstrcpynW(e.szExeFile, name, MAX_PATH);
        return e;
    }
    // After so many snapshots the list is empty, so a loop that would not end does.
    static constexpr int snapshot_limit = 20;
    static inline int snapshots = 0;

private:
    static HANDLE WINAPI snapshot(DWORD, DWORD)
    {
        ++snapshots;
        return CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    static BOOL WINAPI first(HANDLE, PROCESSENTRY32W* out)
    {
        at_ = 0;
        return next(nullptr, out);
    }
    static BOOL WINAPI next(HANDLE, PROCESSENTRY32W* out)
    {
        if (snapshots > snapshot_limit || at_ >= entries_.size()) return FALSE;
        *out = entries_[at_++];
        return TRUE;
    }
    static inline std::vector<PROCESSENTRY32W> entries_;
    static inline size_t at_ = 0;
    fake_entries fakes_;
};

// Ids no process of the prefix has: their times cannot be read.
constexpr DWORD ghost = 0x7FFF0000;

TEST_F(ProcessLaunchTest, FindChildProcessPicksTheFirstTrueChild)
{
    const named_event never;
    const started_helper parent(L"wait " + never.name());
    const started_helper younger(L"wait " + never.name());
    ASSERT_TRUE(parent.started() && younger.started());
    const DWORD p = parent.id();
    const DWORD older = GetCurrentProcessId();  // started before the parent
    using list = std::vector<PROCESSENTRY32W>;
    struct Case {
        const char* name;
        list entries;
        bool descendants;
        DWORD expected;
    };
    const auto e = [](DWORD id, DWORD parent, const wchar_t* name = L"child.exe") {
        return fake_process_list::entry(id, parent, name);
    };
    const Case cases[] = {
        {"a direct child", {e(ghost + 8, p)}, false, ghost + 8},
        {"the lowest id first", {e(ghost + 12, p), e(ghost + 8, p)}, false, ghost + 8},
        {"none", {e(ghost + 8, ghost + 4)}, true, 0},
        {"a grandchild is no child", {e(ghost + 8, ghost + 4), e(ghost + 4, p, L"PSTORES.EXE")}, false, 0},
        {"a grandchild is a descendant", {e(ghost + 8, ghost + 4), e(ghost + 4, p, L"pstores.exe")}, true, ghost + 8},
        {"the protected storage is passed over", {e(ghost + 4, p, L"c:\\x\\PStores.exe"), e(ghost + 8, p)}, false,
            ghost + 8},
        {"older than the parent: a reused id", {e(older, p)}, false, 0},
        {"a younger one after an older one", {e(older, p), e(younger.id(), p)}, false, younger.id()},
        {"a loop of parents", {e(ghost + 4, ghost + 8), e(ghost + 8, ghost + 4)}, true, 0},
        {"its own parent", {e(ghost + 4, ghost + 4)}, true, 0},
        {"the parent is not its own child", {e(p, p)}, true, 0},
    };
    for (const Case& c : cases) {
        const fake_process_list fake(c.entries);
        EXPECT_EQ(qv::FindChildProcess(p, parent.handle(), c.descendants), c.expected) << c.name;
    }
    // The real list: the helper this case started.
    EXPECT_EQ(qv::FindChildProcess(GetCurrentProcessId(), GetCurrentProcess(), false), std::min(p, younger.id()));
}

// An ended child that the list keeps naming is waited for once; the loop does not spin.
TEST_F(ProcessLaunchTest, TheTreeWaitTakesEachChildOnce)
{
    const started_helper parent(L"exit 0");
    ASSERT_TRUE(parent.started() && parent.ended());
    const started_helper child(L"exit 5");  // its handle, held here, keeps its id
    ASSERT_TRUE(child.started() && child.ended());
    const DWORD self = GetCurrentProcessId();
    const auto e = [](DWORD id, DWORD parent, const wchar_t* name = L"child.exe") {
        return fake_process_list::entry(id, parent, name);
    };
    struct Case {
        const char* name;
        std::vector<PROCESSENTRY32W> entries;
        DWORD flags;
    };
    const Case cases[] = {
        {"an ended child still listed", {e(parent.id(), self), e(child.id(), parent.id())}, qv::wait_for_children},
        {"an id listed twice", {e(parent.id(), self), e(child.id(), parent.id()), e(child.id(), parent.id())},
            qv::wait_for_children},
        {"an ended descendant still listed", {e(parent.id(), self), e(child.id(), parent.id())},
            qv::wait_for_descendants},
    };
    for (const Case& c : cases) {
        const fake_process_list fake(c.entries);
        EXPECT_EQ(qv::WaitForProcessTree(parent.id(), parent.handle(), c.flags, INFINITE), 0u) << c.name;
        EXPECT_EQ(qv::LaunchExitCode(), 5u) << c.name;
        // One list found the child, the next found nothing new.
        EXPECT_EQ(fake_process_list::snapshots, 2) << c.name;
    }
}

TEST_F(ProcessLaunchTest, TheProcessListNamesThisProcessAndItsParentByEitherRoute)
{
    const named_event never;
    ASSERT_EQ(qv::LaunchProcess(request(L"wait " + never.name(), 0)), qv::launch_done);
    const DWORD child = qv::LaunchedProcess().dwProcessId;
    const DWORD self = GetCurrentProcessId();
    wchar_t self_path[MAX_PATH];
    GetModuleFileNameW(nullptr, self_path, MAX_PATH);
    const zString own_name = zString(self_path).file_name_part();
    struct Case {
        const char* name;
        bool toolhelp;
    };
    const Case cases[] = {
        {"Toolhelp", true},
        {"psapi and ntdll", false},
    };
    DWORD parent = 0;
    for (const Case& c : cases) {
        fake_entries fakes;
        if (!c.toolhelp) fakes.hide("CreateToolhelp32Snapshot");
        qv::process_table table;
        ASSERT_TRUE(qv::EnumerateProcesses(table)) << c.name;
        bool asked_ntdll = false;
        for (const std::string& name : fakes.asked) asked_ntdll = asked_ntdll || name == "NtQueryInformationProcess";
        EXPECT_EQ(asked_ntdll, !c.toolhelp) << c.name;
        ASSERT_TRUE(table.count(self)) << c.name;
        ASSERT_TRUE(table.count(child)) << c.name;
        EXPECT_TRUE(table[self].name == own_name) << c.name << ": " << table[self].name.narrow();
        EXPECT_EQ(table[child].parent, self) << c.name;
        EXPECT_TRUE(table[child].name == L"LAUNCH_HELPER.EXE") << c.name << ": " << table[child].name.narrow();
        // The runner that started this case is listed too, under the same id by both routes.
        EXPECT_NE(table[self].parent, 0u) << c.name;
        EXPECT_TRUE(table.count(table[self].parent)) << c.name;
        if (parent) {
            EXPECT_EQ(table[self].parent, parent) << c.name;
        }
        parent = table[self].parent;
    }
}

TEST_F(ProcessLaunchTest, ProcessIdsAndTimesAnswerForLiveProcessesOnly)
{
    EXPECT_EQ(qv::GetProcessIdOf(GetCurrentProcess()), GetCurrentProcessId());
    EXPECT_EQ(qv::GetProcessIdOf(nullptr), 0u);
    {
        fake_entries fakes;
        fakes.hide("GetProcessId");
        EXPECT_EQ(qv::GetProcessIdOf(GetCurrentProcess()), 0u);
    }
    qv::process_times by_handle, by_id, none;
    ASSERT_TRUE(qv::GetProcessTimes(GetCurrentProcess(), by_handle));
    ASSERT_TRUE(qv::GetProcessTimes(GetCurrentProcessId(), by_id));
    EXPECT_EQ(CompareFileTime(&by_handle.created, &by_id.created), 0);
    EXPECT_FALSE(qv::GetProcessTimes(ghost, none));
}

TEST_F(ProcessLaunchTest, ProcessesEndByIdOrByName)
{
    const named_event never;
    const started_helper victim(L"wait " + never.name());
    ASSERT_TRUE(victim.started());
    EXPECT_TRUE(qv::TerminateProcessById(victim.id()));
    ASSERT_TRUE(victim.ended());
    EXPECT_FALSE(qv::TerminateProcessById(ghost));

    // A name no other case's helper has: cases run side by side.
    const std::wstring name = L"corvane_end_" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    const std::wstring copy = scratch_.join(name);
    ASSERT_TRUE(CopyFileW(helper().c_str(), copy.c_str(), FALSE));
    const started_helper first(L"forever", copy);
    const started_helper second(L"forever", copy);
    const started_helper bystander(L"forever");
    ASSERT_TRUE(first.started() && second.started() && bystander.started());
    zString upper(name.c_str());
    EXPECT_EQ(qv::TerminateProcessesByName(upper.make_upper()), 2);
    EXPECT_TRUE(first.ended());
    EXPECT_TRUE(second.ended());
    EXPECT_FALSE(bystander.ended(0));
    EXPECT_EQ(qv::TerminateProcessesByName(upper), 0);
}

// What the restart seam saw: ExitWindowsEx itself would end the session.
struct restart_call {
    int calls = 0;
    UINT flags = 0;
    DWORD reason = 0;
    bool privilege_enabled = false;
    BOOL answer = TRUE;
};
restart_call restart;

void set_shutdown_privilege(bool enable)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid);
    privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
}

bool shutdown_privilege_enabled()
{
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    LUID shutdown{};
    LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &shutdown);
    std::vector<BYTE> buffer(4096);
    DWORD size = 0;
    bool enabled = false;
    if (GetTokenInformation(token, TokenPrivileges, buffer.data(), static_cast<DWORD>(buffer.size()), &size)) {
        const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i)
            if (privileges->Privileges[i].Luid.LowPart == shutdown.LowPart
                && privileges->Privileges[i].Luid.HighPart == shutdown.HighPart)
                enabled = (privileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
    CloseHandle(token);
    return enabled;
}

BOOL WINAPI seen_restart(UINT flags, DWORD reason)
{
    ++restart.calls;
    restart.flags = flags;
    restart.reason = reason;
    restart.privilege_enabled = shutdown_privilege_enabled();
    return restart.answer;
}

bool windows_nt(OSVERSIONINFOW& info)
{
    info = {};
    info.dwPlatformId = VER_PLATFORM_WIN32_NT;
    info.dwMajorVersion = 6;
    return true;
}

bool windows_98(OSVERSIONINFOW& info)
{
    info = {};
    info.dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
    info.dwMajorVersion = 4;
    info.dwMinorVersion = 10;
    return true;
}

TEST_F(ProcessLaunchTest, RebootSystemAsksForARestartWithTheShutdownRight)
{
    struct Case {
        const char* name;
        bool (*version)(OSVERSIONINFOW&);
        BOOL accepted;
        int result;
        bool privilege_enabled;
    };
    const Case cases[] = {
        {"accepted", windows_nt, TRUE, 0, true},
        {"refused", windows_nt, FALSE, 1, true},
        {"the 9x family has no rights to take", windows_98, TRUE, 0, false},
    };
    const swapped<BOOL(WINAPI*)(UINT, DWORD)> seam(qv::process_seams::exit_windows, seen_restart);
    for (const Case& c : cases) {
        const swapped<bool (*)(OSVERSIONINFOW&)> version(qv::folder_seams::os_version, c.version);
        set_shutdown_privilege(false);
        ASSERT_FALSE(shutdown_privilege_enabled()) << c.name;
        restart = {};
        restart.answer = c.accepted;
        EXPECT_EQ(qv::RebootSystem(), c.result) << c.name;
        EXPECT_EQ(restart.calls, 1) << c.name;
        EXPECT_EQ(restart.flags, static_cast<UINT>(EWX_REBOOT)) << c.name;
        EXPECT_EQ(restart.reason, 0xFFFFu) << c.name;
        EXPECT_EQ(restart.privilege_enabled, c.privilege_enabled) << c.name;
    }
}

}  // namespace
