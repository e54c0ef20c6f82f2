#include "Deleter.h"

#include "file_system.h"
#include "handle.h"
#include "trace_log.h"

#include <psapi.h>

#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace deleter_seams {
void (*wait)(DWORD milliseconds) = [](DWORD milliseconds) { Sleep(milliseconds); };
}  // namespace deleter_seams

namespace {

constexpr DWORD retry_pause_ms = 100;
constexpr int retry_waits = 100;

// While the path is there as `kind`: a try, and after a failed one a pause, at most
// retry_waits pauses.
void remove_with_retries(const zString& path, BYTE kind, BOOL (*remove)(zString), int waits_allowed = retry_waits)
{
    for (int waits = 0; qv::PathExists(path, kind); ++waits) {
        if (remove(path) || waits == waits_allowed) return;
        deleter_seams::wait(retry_pause_ms);
    }
}

// A folder that holds the running launcher cannot be empty before the process ends: waiting
// for it would only add ten seconds to every run of a temporary copy.
bool holds_this_program(const zString& folder)
{
    wchar_t module[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    const zString inside = folder.add_backslash();
    return inside.length() < length && qv::text::starts_with_nocase(std::wstring_view(module, length), inside.view());
}

}  // namespace

void RunDeleter(Deleter& deleter)
{
    if (!deleter.skip) {
        for (const zString& file : deleter.files) {
            qv::TraceRecord(L"DeleterDeleteFile", L"RURavurDLLOp", L"File=%s", file.c_str());
            remove_with_retries(file, qv::path_is_file, qv::OsDeleteFile);
        }
        for (auto folder = deleter.folders.rbegin(); folder != deleter.folders.rend(); ++folder) {
            qv::TraceRecord(L"DeleterDeleteFolder", L"RURavurDLLOp", L"Folder=%s", folder->c_str());
            remove_with_retries(*folder, qv::path_is_folder, qv::OsRemoveDirectory, holds_this_program(*folder) ? 0 : retry_waits);
        }
        if (deleter.self_delete) RemoveSelfAfterExit(true);
    }
    deleter.files.clear();
    deleter.folders.clear();
}

// The self-removal. A running executable cannot be deleted (Wine refuses it too, though it
// lets it be renamed), and a helper file of our own would be left behind in its turn. So the
// removal process is a system program of our own bitness that waits without end:
// %SystemRoot%\system32\cmd.exe /q /k, without a console, reading a pipe whose write end it
// holds itself and so never sees end of file. Into it go one block of memory holding
// `removal_work` (kernel32 addresses, a duplicate of our process handle, the paths) and a
// copy of `removal_routine`'s code, and a remote thread runs that copy: it waits for this
// process to end, deletes, and ends the removal process. The routine calls only through the
// block, so its code runs wherever it is copied to; it and the marker after it stand in
// sections of their own, which the linker keeps together and in name order. When any of that
// fails the removal process is ended and the executable left to the next restart. Only a kill
// of this process between its handing over the pipe and starting the thread, a few calls,
// would leave the removal process waiting.
namespace {

struct removal_work {
    DWORD(WINAPI* wait_for)(HANDLE, DWORD);
    BOOL(WINAPI* close_handle)(HANDLE);
    BOOL(WINAPI* delete_file)(LPCWSTR);
    BOOL(WINAPI* remove_directory)(LPCWSTR);
    VOID(WINAPI* sleep)(DWORD);
    VOID(WINAPI* exit_process)(UINT);
    HANDLE launcher;            // a handle of the removal process
    const wchar_t* executable;  // null: already gone
    const wchar_t* folder;      // null: it stays
};

constexpr DWORD removal_tries = 10;
constexpr DWORD removal_pause_ms = 1000;

// No block reordering: a "cold" part of the function would land in another section.
__attribute__((section(".text$corvane_removal_1"), noinline, used, optimize("no-reorder-blocks-and-partition")))
DWORD WINAPI removal_routine(removal_work* work)
{
    work->wait_for(work->launcher, INFINITE);
    work->close_handle(work->launcher);
    if (work->executable)
        for (DWORD tries = 1; !work->delete_file(work->executable) && tries < removal_tries; ++tries)
            work->sleep(removal_pause_ms);
    if (work->folder)
        for (DWORD tries = 1; !work->remove_directory(work->folder) && tries < removal_tries; ++tries)
            work->sleep(removal_pause_ms);
    work->exit_process(0);
    return 0;
}

__attribute__((section(".text$corvane_removal_2"), noinline, used)) void removal_routine_end() {}

struct code_bytes {
    const unsigned char* start = nullptr;
    size_t size = 0;
};

// The routine's code; none when the marker does not follow it closely.
code_bytes routine_code()
{
    const auto* start = reinterpret_cast<const unsigned char*>(&removal_routine);
    const auto* end = reinterpret_cast<const unsigned char*>(&removal_routine_end);
    if (end <= start || end - start > 2048) return {};
    return {start, static_cast<size_t>(end - start)};
}

// Where `ours`, an entry point of a system library in this process, is in `process`. Those
// libraries stand at one base in every process of one bitness; the other process's module
// list, where it can be read yet, confirms that or gives its base.
void* entry_in(HANDLE process, FARPROC ours)
{
    HMODULE owner = nullptr;
    wchar_t name[MAX_PATH];
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(ours), &owner)
        || !GetModuleBaseNameW(GetCurrentProcess(), owner, name, MAX_PATH))
        return reinterpret_cast<void*>(ours);
    HMODULE modules[512];
    DWORD needed = 0;
    if (!EnumProcessModulesEx(process, modules, sizeof modules, &needed, LIST_MODULES_DEFAULT))
        return reinterpret_cast<void*>(ours);
    const DWORD count = needed / sizeof(HMODULE) < 512 ? needed / sizeof(HMODULE) : 512;
    for (DWORD i = 0; i < count; ++i) {
        wchar_t theirs[MAX_PATH];
        if (GetModuleBaseNameW(process, modules[i], theirs, MAX_PATH) && lstrcmpiW(theirs, name) == 0)
            return reinterpret_cast<unsigned char*>(modules[i])
                   + (reinterpret_cast<const unsigned char*>(ours) - reinterpret_cast<const unsigned char*>(owner));
    }
    return reinterpret_cast<void*>(ours);
}

// The waiting cmd.exe; ended when it is destroyed unless it was given its work.
class removal_process {
public:
    ~removal_process() { end(); }

    void end() noexcept
    {
        if (process_ && !working_) TerminateProcess(process_.get(), 1);
        process_.reset();
        write_end_.reset();
    }

    bool start(const zString& system_folder)
    {
        qv::kernel_handle read_end;
        if (!CreatePipe(read_end.put(), write_end_.put(), nullptr, 0)) return false;
        if (!SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) return false;

        // Only the pipe is inherited, whatever else of ours might be inheritable.
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        std::vector<unsigned char> storage(size);
        const auto attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
        if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size)) return false;
        HANDLE inherited = read_end.get();
        const bool listed = UpdateProcThreadAttribute(
            attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &inherited, sizeof inherited, nullptr, nullptr);

        STARTUPINFOEXW startup{};
        startup.StartupInfo.cb = sizeof startup;
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = read_end.get();
        startup.lpAttributeList = attributes;
        const zString program = system_folder.combine_path(L"cmd.exe");
        std::wstring line = L"\"" + program.str() + L"\" /q /k";
        PROCESS_INFORMATION created{};
        const BOOL ok = listed
                        && CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                            EXTENDED_STARTUPINFO_PRESENT | DETACHED_PROCESS | IDLE_PRIORITY_CLASS, nullptr,
                            system_folder.c_str(), &startup.StartupInfo, &created);
        DeleteProcThreadAttributeList(attributes);
        if (!ok) return false;
        process_.reset(created.hProcess);
        qv::kernel_handle thread(created.hThread);
        return true;
    }

    // The block and the routine into the process, then the thread that runs them.
    bool hand_work(const zString* executable, const zString* folder)
    {
        const code_bytes code = routine_code();
        if (!code.size) return false;
        const size_t executable_at = sizeof(removal_work);
        const size_t executable_size = executable ? (executable->length() + 1) * sizeof(wchar_t) : 0;
        const size_t folder_at = executable_at + executable_size;
        const size_t folder_size = folder ? (folder->length() + 1) * sizeof(wchar_t) : 0;
        const size_t code_at = (folder_at + folder_size + 15) & ~size_t(15);
        std::vector<unsigned char> block(code_at + code.size);

        auto* const remote = static_cast<unsigned char*>(
            VirtualAllocEx(process_.get(), nullptr, block.size(), MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
        if (!remote) return false;

        removal_work work{};
        const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
        const auto entry = [&](const char* name, auto& slot) {
            const FARPROC ours = GetProcAddress(kernel32, name);
            if (ours) slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(entry_in(process_.get(), ours));
            return ours != nullptr;
        };
        if (!entry("WaitForSingleObject", work.wait_for) || !entry("CloseHandle", work.close_handle)
            || !entry("DeleteFileW", work.delete_file) || !entry("RemoveDirectoryW", work.remove_directory)
            || !entry("Sleep", work.sleep) || !entry("ExitProcess", work.exit_process))
            return false;
        if (!DuplicateHandle(
                GetCurrentProcess(), GetCurrentProcess(), process_.get(), &work.launcher, SYNCHRONIZE, FALSE, 0))
            return false;
        if (executable) {
            work.executable = reinterpret_cast<const wchar_t*>(remote + executable_at);
            std::memcpy(block.data() + executable_at, executable->c_str(), executable_size);
        }
        if (folder) {
            work.folder = reinterpret_cast<const wchar_t*>(remote + folder_at);
            std::memcpy(block.data() + folder_at, folder->c_str(), folder_size);
        }
        std::memcpy(block.data(), &work, sizeof work);
        std::memcpy(block.data() + code_at, code.start, code.size);

        SIZE_T written = 0;
        if (!WriteProcessMemory(process_.get(), remote, block.data(), block.size(), &written)
            || written != block.size())
            return false;
        FlushInstructionCache(process_.get(), remote + code_at, code.size);
        // From here the process keeps its own pipe open: it waits on after we are gone.
        HANDLE kept = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), write_end_.get(), process_.get(), &kept, 0, FALSE,
                DUPLICATE_SAME_ACCESS))
            return false;
        const qv::kernel_handle thread(CreateRemoteThread(process_.get(), nullptr, 0,
            reinterpret_cast<LPTHREAD_START_ROUTINE>(remote + code_at), remote, 0, nullptr));
        working_ = thread.valid();
        return working_;
    }

private:
    qv::kernel_handle process_;
    qv::kernel_handle write_end_;
    bool working_ = false;
};

zString own_path()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return zString();
        if (length < path.size()) return zString(path.substr(0, length));
        if (path.size() >= 32768) return zString();
        path.resize(path.size() * 2);
    }
}

}  // namespace

bool RemoveSelfAfterExit(bool remove_folder)
{
    try {
        const zString executable = own_path();
        if (executable.empty()) return false;
        const zString folder = executable.folder_part();
        const bool executable_there = qv::PathExists(executable, qv::path_is_file);
        const bool folder_there =
            remove_folder && !folder.empty() && !folder.drive_root_only() && qv::PathExists(folder, qv::path_is_folder);
        if (!executable_there && !folder_there) return false;

        wchar_t system_folder[MAX_PATH];
        const UINT length = GetSystemDirectoryW(system_folder, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return false;
        // Our current folder would keep the launcher's folder from going.
        SetCurrentDirectoryW(system_folder);

        removal_process removal;
        if (!removal.start(zString(system_folder))) return false;
        bool handed = false;
        try {
            handed = removal.hand_work(executable_there ? &executable : nullptr, folder_there ? &folder : nullptr);
        } catch (...) {
            handed = false;
        }
        if (!handed) {
            removal.end();
            if (executable_there) MoveFileExW(executable.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        }
        return true;
    } catch (...) {
        // Out of memory on the way out of the process: the files stay.
        return false;
    }
}
