// Program starts through CreateProcessW or the shell, the wait for the program and the
// processes it started, the process list, and the restart of Windows. The results of the
// last launch are process-wide: launches run on the launcher's UI thread only.
#pragma once

#include "zString.h"

#include <windows.h>

#include <map>

namespace qv {

// The wait flags of a launch, combined. Descendants imply children, children the program.
enum : DWORD {
    wait_for_program = 1,
    wait_for_children = 2,
    wait_for_descendants = 4,
    launch_through_shell = 8,  // ShellExecuteExW in place of CreateProcessW
};

// LaunchProcess' answers.
enum : int {
    launch_done = 0,
    launch_start_failed = -1,
    launch_wait_failed = -2,
    launch_timed_out = -3,
};

struct LaunchRequest {
    zString program;         // quoted when it holds a blank; empty: the arguments are the command line
    zString arguments;
    zString working_folder;  // empty: the caller's
    DWORD wait_flags = 0;
    DWORD time_out = INFINITE;  // milliseconds; 0 waits for nothing
    WORD show_command = SW_SHOWNORMAL;
    DWORD creation_flags = 0;  // through the shell, SEE_MASK bits added to its own
    zString verb;              // the shell's verb; empty: the file type's default
};

// 0 when started (and, when asked, ended within the time-out); -1 when the start failed,
// -2 when the wait failed, -3 when it timed out. LastFileOpError and LastFailedPath (the
// command) tell why.
int LaunchProcess(LaunchRequest request);

// 0 when every awaited process ended, else the failing wait's result (WAIT_TIMEOUT, 258,
// after the time-out, which each awaited process gets whole).
DWORD WaitForProcessTree(DWORD id, HANDLE process, DWORD flags, DWORD time_out);
// The ended process' exit code goes to LaunchExitCode. With a WaitCallback set the wait
// runs in slices of a second and calls it after each slice that timed out.
DWORD WaitForProcess(HANDLE process, DWORD flags, DWORD time_out);
// The first process (by id) that the parent started, or with descendants that one of its
// offspring started; never one older than the parent, which only inherited a reused id.
// 0 when there is none.
DWORD FindChildProcess(DWORD parent_id, HANDLE parent, bool descendants);

struct process_times {
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
};
bool GetProcessTimes(HANDLE process, process_times& times);
bool GetProcessTimes(DWORD id, process_times& times);
// 0 when Windows lacks GetProcessId or the handle is no process.
DWORD GetProcessIdOf(HANDLE process);

struct process_entry {
    DWORD parent = 0;
    zString name;  // the executable's file name
};
using process_table = std::map<DWORD, process_entry>;
// Through the Toolhelp snapshot, or without it through psapi and ntdll.
bool EnumerateProcesses(process_table& table);

bool TerminateProcessById(DWORD id);
// Every other process whose executable's file name is `name`, without regard to case; the
// number ended.
int TerminateProcessesByName(const zString& name);

// 0 when Windows took the restart request, 1 when it refused it.
int RebootSystem();

// Closes the handles of LaunchedProcess and sets it to zeros.
void CloseLaunchedProcess();

using WaitCallbackFn = void (*)(void* context);
// Called on the waiting thread about once a second while a wait runs; null for none.
void SetWaitCallback(WaitCallbackFn callback, void* context);

// The last start: the shell fills the process handle and id only. A launch closes the
// handles of the one before.
const PROCESS_INFORMATION& LaunchedProcess() noexcept;
// The last awaited process' exit code; STILL_ACTIVE when it was not waited for to its end.
DWORD LaunchExitCode() noexcept;

// The restart ends the session; tests swap it. The program never does.
namespace process_seams {
extern BOOL(WINAPI* exit_windows)(UINT flags, DWORD reason);
}  // namespace process_seams

}  // namespace qv
