#include "process_launch.h"

#include "file_system.h"
#include "handle.h"
#include "os_entry.h"
#include "system_folders.h"

#include <psapi.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <set>
#include <vector>

namespace qv {

namespace {

PROCESS_INFORMATION launched{};
DWORD launch_exit_code = 0;

struct {
    WaitCallbackFn callback = nullptr;
    void* context = nullptr;
} wait_callback;

constexpr DWORD slice_ms = 1000;
constexpr DWORD idle_wait_ms = 1000;
constexpr DWORD all_access = 0x1FFFFF;
constexpr UINT terminated_exit_code = 1;

DWORD completed_flags(DWORD flags)
{
    if (flags & wait_for_descendants) flags |= wait_for_children;
    if (flags & wait_for_children) flags |= wait_for_program;
    return flags;
}

void close_launched() noexcept
{
    if (launched.hThread) CloseHandle(launched.hThread);
    if (launched.hProcess) CloseHandle(launched.hProcess);
    launched = {};
}

// Whether the chain of parents from `from`, followed through the table, reaches `ancestor`.
// Ids are reused, so the chain may loop: it is followed no further than the table is long.
bool descends_from(const process_table& table, DWORD from, DWORD ancestor)
{
    DWORD step = from;
    for (size_t hops = 0; hops <= table.size(); ++hops) {
        if (step == ancestor) return true;
        const auto found = table.find(step);
        if (found == table.end() || found->second.parent == step) return false;
        step = found->second.parent;
    }
    return false;
}

// FindChildProcess, passing over the processes in `skip`.
DWORD find_child(DWORD parent_id, HANDLE parent, bool descendants, const std::set<DWORD>& skip)
{
    process_times parent_times;
    const bool parent_known = parent ? GetProcessTimes(parent, parent_times) : GetProcessTimes(parent_id, parent_times);
    process_table table;
    if (!EnumerateProcesses(table)) return 0;
    for (const auto& [id, entry] : table) {
        if (id == parent_id || skip.count(id)) continue;
        const bool candidate = entry.parent == parent_id || (descendants && descends_from(table, entry.parent, parent_id));
        if (!candidate) continue;
        if (entry.name.find_nocase(L"PSTORES.EXE") != zString::npos) continue;
        process_times times;
        if (parent_known && GetProcessTimes(id, times) && CompareFileTime(&times.created, &parent_times.created) < 0)
            continue;
        return id;
    }
    return 0;
}

HANDLE open_for_query(DWORD id, DWORD extra)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | extra, FALSE, id);
    // Windows since Vista grants the limited right where the full one is refused.
    if (!process) process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    return process;
}

using snapshot_fn = HANDLE(WINAPI*)(DWORD flags, DWORD process);
using process_walk_fn = BOOL(WINAPI*)(HANDLE snapshot, PROCESSENTRY32W* entry);

bool through_toolhelp(process_table& table)
{
    const auto snapshot = kernel32_entry<snapshot_fn>("CreateToolhelp32Snapshot");
    const auto first = kernel32_entry<process_walk_fn>("Process32FirstW");
    const auto next = kernel32_entry<process_walk_fn>("Process32NextW");
    if (!snapshot || !first || !next) return false;
    const file_handle list(snapshot(TH32CS_SNAPPROCESS, 0));
    if (!list) return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = first(list.get(), &entry); more; more = next(list.get(), &entry)) {
        // The 9x family names the whole path.
        table[entry.th32ProcessID] = {entry.th32ParentProcessID, zString(entry.szExeFile).file_name_part()};
        entry.dwSize = sizeof entry;
    }
    return true;
}

// PROCESS_BASIC_INFORMATION, as ntdll fills it.
struct basic_information {
    LONG exit_status;
    void* environment_block;
    ULONG_PTR affinity;
    LONG base_priority;
    ULONG_PTR id;
    ULONG_PTR parent;
};
using query_process_fn = LONG(WINAPI*)(HANDLE process, ULONG what, void* out, ULONG size, ULONG* written);

process_entry entry_of(DWORD id, query_process_fn query)
{
    process_entry entry;
    const kernel_handle process(open_for_query(id, PROCESS_VM_READ));
    if (!process) return entry;
    basic_information basic{};
    ULONG written = 0;
    if (query && query(process.get(), 0, &basic, sizeof basic, &written) >= 0)
        entry.parent = static_cast<DWORD>(basic.parent);
    wchar_t name[MAX_PATH];
    if (GetModuleBaseNameW(process.get(), nullptr, name, MAX_PATH) > 0) {
        entry.name = name;
    } else if (GetProcessImageFileNameW(process.get(), name, MAX_PATH) > 0) {
        entry.name = zString(name).file_name_part();
    }
    return entry;
}

bool through_psapi(process_table& table)
{
    std::vector<DWORD> ids(256);
    DWORD bytes = 0;
    for (;;) {
        const DWORD size = static_cast<DWORD>(ids.size() * sizeof(DWORD));
        if (!EnumProcesses(ids.data(), size, &bytes)) return false;
        // A full buffer may have cut the list short.
        if (bytes < size) break;
        ids.resize(ids.size() * 2);
    }
    ids.resize(bytes / sizeof(DWORD));
    const auto query = os_entry<query_process_fn>(L"ntdll.dll", "NtQueryInformationProcess");
    for (DWORD id : ids) table[id] = entry_of(id, query);
    return true;
}

BOOL WINAPI real_exit_windows(UINT flags, DWORD reason)
{
    return ExitWindowsEx(flags, reason);
}

void enable_shutdown_privilege()
{
    kernel_handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid))
        AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
}

}  // namespace

namespace process_seams {
BOOL(WINAPI* exit_windows)(UINT flags, DWORD reason) = real_exit_windows;
}  // namespace process_seams

const PROCESS_INFORMATION& LaunchedProcess() noexcept
{
    return launched;
}

DWORD LaunchExitCode() noexcept
{
    return launch_exit_code;
}

void SetWaitCallback(WaitCallbackFn callback, void* context)
{
    wait_callback.callback = callback;
    wait_callback.context = context;
}

void CloseLaunchedProcess()
{
    close_launched();
}

DWORD GetProcessIdOf(HANDLE process)
{
    using get_id_fn = DWORD(WINAPI*)(HANDLE process);
    const auto get_id = kernel32_entry<get_id_fn>("GetProcessId");
    return get_id && process ? get_id(process) : 0;
}

bool GetProcessTimes(HANDLE process, process_times& times)
{
    return ::GetProcessTimes(process, &times.created, &times.exited, &times.kernel, &times.user) != FALSE;
}

bool GetProcessTimes(DWORD id, process_times& times)
{
    const kernel_handle process(open_for_query(id, 0));
    return process && GetProcessTimes(process.get(), times);
}

bool EnumerateProcesses(process_table& table)
{
    table.clear();
    if (through_toolhelp(table)) return true;
    table.clear();
    return through_psapi(table);
}

DWORD FindChildProcess(DWORD parent_id, HANDLE parent, bool descendants)
{
    return find_child(parent_id, parent, descendants, {});
}

DWORD WaitForProcess(HANDLE process, DWORD /*flags*/, DWORD time_out)
{
    const auto callback = wait_callback;
    DWORD result;
    if (callback.callback) {
        DWORD spent = 0;
        for (;;) {
            const DWORD slice = time_out == INFINITE ? slice_ms : std::min(slice_ms, time_out - spent);
            result = WaitForSingleObject(process, slice);
            if (result != WAIT_TIMEOUT) break;
            callback.callback(callback.context);
            if (time_out != INFINITE && (spent += slice) >= time_out) break;
        }
    } else {
        result = WaitForSingleObject(process, time_out);
    }
    if (result == WAIT_OBJECT_0) {
        DWORD code = 0;
        if (GetExitCodeProcess(process, &code)) launch_exit_code = code;
        return 0;
    }
    // A time-out sets no error of its own: the caller's record says what happened.
    if (result == WAIT_TIMEOUT) SetLastError(WAIT_TIMEOUT);
    return result;
}

DWORD WaitForProcessTree(DWORD id, HANDLE process, DWORD flags, DWORD time_out)
{
    flags = completed_flags(flags);
    if (!(flags & wait_for_program) || time_out == 0) return 0;
    if (id == 0 && (flags & wait_for_children)) id = GetProcessIdOf(process);
    const DWORD result = WaitForProcess(process, flags, time_out);
    if (result != 0 || !(flags & wait_for_children) || id == 0) return result;
    // A child waited for once is not waited for again: an ended one may stay listed while a
    // handle to it is open, and without this the loop would find it for ever.
    std::set<DWORD> waited;
    for (;;) {
        const DWORD child = find_child(id, process, (flags & wait_for_descendants) != 0, waited);
        if (child == 0) return 0;
        waited.insert(child);
        const kernel_handle opened(OpenProcess(all_access, TRUE, child));
        if (!opened) return 0;
        const DWORD child_result = WaitForProcess(opened.get(), flags, time_out);
        if (child_result != 0) return child_result;
    }
}

int LaunchProcess(LaunchRequest request)
{
    SetLastFileOpError(0);
    // The handles of the launch before would be lost once overwritten.
    close_launched();
    zString command;
    if (request.wait_flags & launch_through_shell) {
        command = request.program + L" " + request.arguments;
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = request.creation_flags | SEE_MASK_NOCLOSEPROCESS;
        info.lpVerb = request.verb.empty() ? nullptr : request.verb.c_str();
        info.lpFile = request.program.c_str();
        info.lpParameters = request.arguments.c_str();
        info.lpDirectory = request.working_folder.empty() ? nullptr : request.working_folder.c_str();
        info.nShow = request.show_command;
        const BOOL done = ShellExecuteExW(&info);
        const auto instance = reinterpret_cast<INT_PTR>(info.hInstApp);
        if (!done && instance < 32) {
            // No shell code at all leaves the Windows error, so that a failure never reads as 0.
            if (instance != 0) SetLastFileOpError(static_cast<DWORD>(instance));
            else CaptureLastError();
            RecordFailedPath(command);
            return launch_start_failed;
        }
        launched.hProcess = info.hProcess;
        launched.dwProcessId = GetProcessIdOf(info.hProcess);
    } else {
        command = request.program.empty() ? request.arguments : request.program.quoted(true) + L" " + request.arguments;
        std::vector<wchar_t> line(command.begin(), command.end());
        line.push_back(L'\0');
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = request.show_command;
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, request.creation_flags, nullptr,
                request.working_folder.empty() ? nullptr : request.working_folder.c_str(), &startup, &launched)) {
            CaptureLastError();
            RecordFailedPath(command);
            launched = {};
            return launch_start_failed;
        }
    }
    if (launched.hProcess) WaitForInputIdle(launched.hProcess, idle_wait_ms);
    const DWORD waited = WaitForProcessTree(launched.dwProcessId, launched.hProcess, request.wait_flags, request.time_out);
    const DWORD wait_error = GetLastError();
    DWORD code = 0;
    launch_exit_code = launched.hProcess && GetExitCodeProcess(launched.hProcess, &code) ? code : 0;
    if (waited == 0) return launch_done;
    SetLastFileOpError(wait_error);
    RecordFailedPath(command);
    return waited == WAIT_TIMEOUT ? launch_timed_out : launch_wait_failed;
}

bool TerminateProcessById(DWORD id)
{
    const kernel_handle process(OpenProcess(PROCESS_TERMINATE, FALSE, id));
    return process && TerminateProcess(process.get(), terminated_exit_code);
}

int TerminateProcessesByName(const zString& name)
{
    process_table table;
    if (!EnumerateProcesses(table)) return 0;
    int ended = 0;
    for (const auto& [id, entry] : table) {
        // Ending itself would stop the walk halfway.
        if (id == GetCurrentProcessId() || !(entry.name == name)) continue;
        if (TerminateProcessById(id)) ++ended;
    }
    return ended;
}

int RebootSystem()
{
    OSVERSIONINFOW version{};
    if (folder_seams::os_version(version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT) enable_shutdown_privilege();
    return process_seams::exit_windows(EWX_REBOOT, 0xFFFF) ? 0 : 1;
}

}  // namespace qv
