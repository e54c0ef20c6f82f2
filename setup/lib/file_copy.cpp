#include "file_copy.h"

#include "file_system.h"
#include "inet_file.h"
#include "md5.h"
#include "os_entry.h"
#include "win32_exception.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace qv {

namespace {

constexpr DWORD no_value = 0xFFFFFFFF;
constexpr DWORD md5_block = 16384;

CopyProgressCallback progress;

int report(int event, const wchar_t* text, DWORD low, DWORD high)
{
    if (!progress.function) return copy_continue;
    return progress.function(progress.context, event, text, low, high);
}

int report_count(int event, ULONGLONG count)
{
    return report(event, nullptr, static_cast<DWORD>(count), static_cast<DWORD>(count >> 32));
}

// A failure never leaves 0 behind: a caller that reads the code after false must see one.
void store_failure(DWORD error, DWORD fallback)
{
    SetLastFileOpError(error ? error : fallback);
}

enum class pass_end { done, failed, source_not_opened };

// Reads, writes and reports one pass over opened files; false when it failed or was
// cancelled, with `error` set. The buffer is the pass's own and goes with it.
bool transfer(file& in, file& out, const zString& target, DWORD block_size, bool copy_times, ULONGLONG& copied,
    DWORD& error)
{
    FILETIME times[3] = {};  // last write, creation, last access
    bool have_times = false;
    const bool internet = in.is_internet();
    if (copy_times) {
        try {
            GetFileTimes(in, &times[0], &times[1], &times[2]);
            have_times = true;
        } catch (const internet_file_exception&) {
            // A server that names no Last-Modified still serves the file: the copy keeps its own time.
        }
    }
    if (progress.function) {
        DWORD high = 0, low = no_value;
        try {
            low = in.size(&high);
        } catch (const win32_exception&) {
            // An address without a length is still copied to its end.
            low = high = no_value;
        }
        report(copy_source_size, nullptr, low, high);
    }
    const DWORD opened = out.open(target, GENERIC_WRITE, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL, CREATE_ALWAYS);
    if (opened) {
        error = opened;
        RecordFailedPath(target);
        return false;
    }
    if (report(copy_target_opened, nullptr, no_value, no_value) == copy_cancel) {
        error = ERROR_CANCELLED;
        return false;
    }
    const std::unique_ptr<BYTE[]> buffer(new BYTE[block_size]);
    for (;;) {
        const DWORD got = in.read(buffer.get(), block_size);
        if (got == 0) break;
        if (out.write(buffer.get(), got) != got) {
            error = ERROR_WRITE_FAULT;
            RecordFailedPath(target);
            return false;
        }
        copied += got;
        if (report_count(copy_block_written, copied) == copy_cancel) {
            error = ERROR_CANCELLED;
            return false;
        }
    }
    if (have_times) SetFileTimes(out, &times[0], internet ? nullptr : &times[1], internet ? nullptr : &times[2]);
    return true;
}

void note_exception(const win32_exception& e, DWORD& error)
{
    error = e.error() ? e.error() : ERROR_GEN_FAILURE;
    if (const auto* failed = dynamic_cast<const file_exception*>(&e)) RecordFailedPath(failed->path());
}

pass_end copy_pass(const zString& source, const zString& target, DWORD block_size, bool copy_times,
    ULONGLONG& copied, DWORD& error)
{
    copied = 0;
    error = 0;
    file in;
    const DWORD opened = in.open(source, GENERIC_READ, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL, OPEN_EXISTING);
    if (opened) {
        error = opened;
        return pass_end::source_not_opened;
    }
    file out;
    bool ok = false;
    try {
        ok = transfer(in, out, target, block_size, copy_times, copied, error);
    } catch (const win32_exception& e) {
        note_exception(e, error);
    } catch (const std::bad_alloc&) {
        error = ERROR_NOT_ENOUGH_MEMORY;
    }
    // The target first: a target that cannot be closed may not hold what was written.
    try {
        out.close();
    } catch (const win32_exception& e) {
        if (ok) note_exception(e, error);
        ok = false;
    }
    try {
        in.close();
    } catch (const win32_exception&) {
        // Everything was read; the source's handle is gone either way.
    }
    if (!ok && !error) error = ERROR_GEN_FAILURE;
    return ok ? pass_end::done : pass_end::failed;
}

std::vector<zString> list_items(const zString& list)
{
    return list.split(L";", true);
}

// Each item ends in a zero and one more zero ends the list.
std::vector<wchar_t> wide_list(const std::vector<zString>& items)
{
    std::vector<wchar_t> out;
    for (const zString& item : items) {
        out.insert(out.end(), item.begin(), item.end());
        out.push_back(L'\0');
    }
    out.resize(out.size() + (items.empty() ? 2 : 1), L'\0');
    return out;
}

std::vector<char> narrow_list(const std::vector<zString>& items)
{
    std::vector<char> out;
    for (const zString& item : items) {
        const char* narrow = item.narrow();
        out.insert(out.end(), narrow, narrow + std::strlen(narrow));
        out.push_back('\0');
    }
    out.resize(out.size() + (items.empty() ? 2 : 1), '\0');
    return out;
}

bool has_wildcard(const zString& path)
{
    return path.view().find_first_of(L"*?") != std::wstring_view::npos;
}

// Every source is there; a pattern needs its folder. The first missing one is recorded.
bool sources_exist(const std::vector<zString>& sources)
{
    if (sources.empty()) {
        SetLastFileOpError(ERROR_INVALID_PARAMETER);
        return false;
    }
    for (const zString& source : sources) {
        const zString checked = has_wildcard(source) ? source.folder_part() : source;
        if (PathExists(checked, path_is_file | path_is_folder)) continue;
        store_failure(GetLastError(), ERROR_FILE_NOT_FOUND);
        RecordFailedPath(source);
        return false;
    }
    return true;
}

// The folder itself, not only its parent: a single file copied to a folder that is not there
// would otherwise take the folder's name.
bool make_target_folder(const zString& folder)
{
    if (folder.empty()) {
        SetLastFileOpError(ERROR_INVALID_PARAMETER);
        RecordFailedPath(folder);
        return false;
    }
    return CreateFolderForFile(folder.add_backslash());
}

bool run_recorded(const zString& sources, const zString& targets, UINT operation, FILEOP_FLAGS flags)
{
    const int result = RunShellFileOperation(sources, targets, operation, flags);
    if (result == 0) return true;
    SetLastFileOpError(static_cast<DWORD>(result));
    RecordFailedPath(sources);
    return false;
}

// Whether `path` is the folder or lies anywhere under it.
bool inside_folder(const zString& path, const zString& folder)
{
    const zString bare = folder.remove_backslash();
    const zString item = path.remove_backslash();
    if (item.equals(bare)) return true;
    const zString prefix = bare.add_backslash();
    return item.length() > prefix.length() && zString(item.c_str(), prefix.length()).equals(prefix);
}

}  // namespace

void SetCopyProgressCallback(CopyProgressFunction function, void* context)
{
    progress.function = function;
    progress.context = function ? context : nullptr;
}

CopyProgressCallback CurrentCopyProgressCallback() noexcept
{
    return progress;
}

bool CopyFileWithProgress(zString source, zString target, DWORD block_size, bool copy_times)
{
    SetLastFileOpError(0);
    // A block of 0 bytes would read nothing and call the empty target a finished copy.
    if (block_size == 0) {
        SetLastFileOpError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!CreateFolderForFile(target)) {
        store_failure(GetLastError(), ERROR_PATH_NOT_FOUND);
        RecordFailedPath(target);
        return false;
    }
    // A drive or share that is not there passes the folder walk, which never makes roots.
    const zString folder = target.folder_part();
    if (!folder.empty() && !PathExists(folder, path_is_file | path_is_folder)) {
        store_failure(GetLastError(), ERROR_PATH_NOT_FOUND);
        RecordFailedPath(target);
        return false;
    }
    report(copy_source_named, source.c_str(), no_value, no_value);
    report(copy_target_named, target.c_str(), no_value, no_value);
    for (;;) {
        ULONGLONG copied = 0;
        DWORD error = 0;
        const pass_end end = copy_pass(source, target, block_size, copy_times, copied, error);
        if (end == pass_end::source_not_opened) {
            store_failure(error, ERROR_OPEN_FAILED);
            RecordFailedPath(source);
            return false;
        }
        const bool ok = end == pass_end::done;
        if (report_count(ok ? copy_finished : copy_failed, copied) == copy_repeat) continue;
        // The pass's own reason: whatever the callback did since is no part of it.
        SetLastFileOpError(ok ? 0 : error);
        return ok;
    }
}

void GetFileTimes(const file& f, FILETIME* last_write, FILETIME* creation, FILETIME* last_access)
{
    if (http_file* const internet = f.internet_file()) {
        FILETIME modified;
        if (!internet->last_modified(modified)) throw internet_file_exception(f.path());
        if (last_write) *last_write = modified;
        return;
    }
    if (!GetFileTime(f.native_handle(), creation, last_access, last_write)) throw file_exception(f.path());
}

void SetFileTimes(const file& f, const FILETIME* last_write, const FILETIME* creation, const FILETIME* last_access)
{
    if (!SetFileTime(f.native_handle(), creation, last_access, last_write)) throw file_exception(f.path());
}

DWORD FileMd5(zString path, unsigned char digest[16])
{
    file in;
    const DWORD opened = in.open(path, GENERIC_READ, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL, OPEN_EXISTING);
    if (opened) return opened;
    Md5Context context;
    Md5Init(context);
    std::vector<unsigned char> block(md5_block);
    try {
        for (DWORD got; (got = in.read(block.data(), md5_block)) != 0;) Md5Update(context, block.data(), got);
    } catch (const win32_exception& e) {
        return e.error() ? e.error() : ERROR_READ_FAULT;
    }
    Md5Final(digest, context);
    return 0;
}

bool FilesHaveEqualMd5(zString first, zString second)
{
    SetLastFileOpError(0);
    unsigned char digests[2][16];
    const zString* const paths[2] = {&first, &second};
    for (int i = 0; i < 2; ++i) {
        const DWORD error = FileMd5(*paths[i], digests[i]);
        if (error) {
            SetLastFileOpError(error);
            RecordFailedPath(*paths[i]);
            return false;
        }
    }
    return std::memcmp(digests[0], digests[1], sizeof digests[0]) == 0;
}

int RunShellFileOperation(zString sources, zString targets, UINT operation, FILEOP_FLAGS flags)
{
    const std::vector<zString> from = list_items(sources);
    const std::vector<zString> to = list_items(targets);
    // An empty list means different things to different shells; it names nothing to work on,
    // and a copy, move or rename without a target would land wherever the current folder is.
    if (from.empty() || (to.empty() && operation != FO_DELETE)) return ERROR_INVALID_PARAMETER;
    if (const auto wide = os_entry<int(WINAPI*)(LPSHFILEOPSTRUCTW)>(L"shell32.dll", "SHFileOperationW")) {
        std::vector<wchar_t> wide_from = wide_list(from), wide_to = wide_list(to);
        SHFILEOPSTRUCTW operation_record = {};
        operation_record.wFunc = operation;
        operation_record.pFrom = wide_from.data();
        operation_record.pTo = to.empty() ? nullptr : wide_to.data();
        operation_record.fFlags = flags;
        return wide(&operation_record);
    }
    if (const auto narrow = os_entry<int(WINAPI*)(LPSHFILEOPSTRUCTA)>(L"shell32.dll", "SHFileOperationA")) {
        std::vector<char> narrow_from = narrow_list(from), narrow_to = narrow_list(to);
        SHFILEOPSTRUCTA operation_record = {};
        operation_record.wFunc = operation;
        operation_record.pFrom = narrow_from.data();
        operation_record.pTo = to.empty() ? nullptr : narrow_to.data();
        operation_record.fFlags = flags;
        return narrow(&operation_record);
    }
    // Nothing was done: never the success code.
    return ERROR_PROC_NOT_FOUND;
}

bool ShellCopyFilesMulti(zString sources, zString targets, UINT operation)
{
    SetLastFileOpError(0);
    const std::vector<zString> from = list_items(sources);
    if (!sources_exist(from)) return false;
    if (operation != FO_DELETE) {
        const std::vector<zString> to = list_items(targets);
        // Pairs by index: a list short of targets would send the rest elsewhere.
        if (to.size() != from.size()) {
            SetLastFileOpError(ERROR_INVALID_PARAMETER);
            RecordFailedPath(targets);
            return false;
        }
        for (const zString& target : to)
            if (!CreateFolderForFile(target)) return false;
    }
    return run_recorded(sources, targets, operation, shell_quiet_flags | FOF_MULTIDESTFILES);
}

bool ShellCopyFiles(zString sources, zString target_folder, UINT operation)
{
    SetLastFileOpError(0);
    if (!sources_exist(list_items(sources))) return false;
    if (operation != FO_DELETE && !make_target_folder(target_folder)) return false;
    return run_recorded(sources, target_folder, operation, shell_quiet_flags);
}

bool ShellReplaceFolder(zString sources, zString target_folder, UINT operation)
{
    SetLastFileOpError(0);
    const std::vector<zString> from = list_items(sources);
    if (!sources_exist(from)) return false;
    // Emptying the target would take such a source with it.
    for (const zString& source : from) {
        if (!target_folder.empty() && inside_folder(source, target_folder)) {
            SetLastFileOpError(ERROR_INVALID_PARAMETER);
            RecordFailedPath(source);
            return false;
        }
    }
    if (!EmptyFolder(target_folder)) {
        SetLastFileOpError(ERROR_INVALID_PARAMETER);
        RecordFailedPath(target_folder);
        return false;
    }
    if (!make_target_folder(target_folder)) return false;
    return run_recorded(sources, target_folder, operation, shell_quiet_flags);
}

}  // namespace qv
