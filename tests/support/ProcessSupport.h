// What a test counts of its own process: threads and handles, to show nothing is left behind.
#pragma once

#include <windows.h>

#include <tlhelp32.h>

#include <set>


// The process's open handles. Wine's GetProcessHandleCount answers 0, and its system handle
// list must not be asked: Wine 8's server crashes walking a process whose handle table is
// empty, as a test process beside this one has it now and then under ctest -j. So each
// handle value up to a bound far above what a test holds is tried instead.
inline DWORD HandleCount()
{
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return count;
    const UINT_PTR lastHandle = 0x4000;
    for (UINT_PTR value = 4; value <= lastHandle; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

inline std::set<DWORD> ThreadIds()
{
    std::set<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
    CloseHandle(snapshot);
    return ids;
}

// Wine serves each pending comm wait with a thread of its own, which ends by itself soon
// after the close, holding a handle or two meanwhile: the threads begun since `before` are
// waited for, with a bound, before anything is counted.
inline bool NewThreadsEnd(const std::set<DWORD>& before, DWORD boundMs = 5000)
{
    for (DWORD id : ThreadIds()) {
        if (before.count(id)) continue;
        HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id);
        if (!thread) continue;  // gone already
        const bool ended = WaitForSingleObject(thread, boundMs) == WAIT_OBJECT_0;
        CloseHandle(thread);
        if (!ended) return false;
    }
    return true;
}

inline int ThreadCount()
{
    return static_cast<int>(ThreadIds().size());
}
