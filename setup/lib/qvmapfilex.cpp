#include "qvmapfilex.h"

#include "file_system.h"
#include "os_entry.h"

namespace qv {

namespace {

using create_mapping_w_fn = HANDLE(WINAPI*)(HANDLE, LPSECURITY_ATTRIBUTES, DWORD, DWORD, DWORD, LPCWSTR);
using create_mapping_a_fn = HANDLE(WINAPI*)(HANDLE, LPSECURITY_ATTRIBUTES, DWORD, DWORD, DWORD, LPCSTR);
using map_view_fn = LPVOID(WINAPI*)(HANDLE, DWORD, DWORD, DWORD, SIZE_T);
using get_file_size_fn = DWORD(WINAPI*)(HANDLE, LPDWORD);
using unmap_view_fn = BOOL(WINAPI*)(LPCVOID);
using close_handle_fn = BOOL(WINAPI*)(HANDLE);
using set_file_pointer_fn = DWORD(WINAPI*)(HANDLE, LONG, PLONG, DWORD);
using set_end_of_file_fn = BOOL(WINAPI*)(HANDLE);

// The mapping is unnamed, so the narrow form needs no conversion.
HANDLE create_mapping(HANDLE file, DWORD protect, DWORD size)
{
    if (const auto wide = kernel32_entry<create_mapping_w_fn>("CreateFileMappingW"))
        return wide(file, nullptr, protect, 0, size, nullptr);
    if (const auto narrow = kernel32_entry<create_mapping_a_fn>("CreateFileMappingA"))
        return narrow(file, nullptr, protect, 0, size, nullptr);
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

void* map_view(HANDLE mapping, DWORD access, DWORD size)
{
    if (const auto map = kernel32_entry<map_view_fn>("MapViewOfFile")) return map(mapping, access, 0, 0, size);
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

// Without the entry point the length is unknown, which fails the open like a failed call.
DWORD file_size(HANDLE file)
{
    if (const auto size = kernel32_entry<get_file_size_fn>("GetFileSize")) return size(file, nullptr);
    SetLastError(ERROR_PROC_NOT_FOUND);
    return INVALID_FILE_SIZE;
}

void close_handle(HANDLE h) noexcept
{
    if (const auto close = kernel32_entry<close_handle_fn>("CloseHandle")) close(h);
}

}  // namespace

qvmapfilex::qvmapfilex(const zString& path, DWORD& length, bool for_writing)
{
    open(path, length, for_writing);
}

qvmapfilex::~qvmapfilex()
{
    close();
}

bool qvmapfilex::open(const zString& path, DWORD& length, bool for_writing)
{
    close();
    SetLastFileOpError(GetLastError());
    writable = for_writing;

    const HANDLE opened = OsCreateFile(path, for_writing ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ, 0, nullptr,
        for_writing ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened != INVALID_HANDLE_VALUE) {
        file = opened;
        mapping = create_mapping(file, for_writing ? PAGE_READWRITE : PAGE_READONLY, length);
    }
    if (mapping) view = map_view(mapping, for_writing ? FILE_MAP_WRITE : FILE_MAP_READ, length);
    DWORD found = length;
    if (view && length == 0) found = file_size(file);
    if (view && found != INVALID_FILE_SIZE) {
        length = found;
        size = found;
        mapped = true;
        return true;
    }

    const DWORD error = CaptureLastError();
    // Nothing of a failed open stays open; a writable file made for it is left empty.
    release(0);
    RecordFailedPath(path);
    SetLastError(error);
    return false;
}

void qvmapfilex::close() noexcept
{
    if (!mapped) return;
    release(size);
}

void qvmapfilex::release(DWORD end) noexcept
{
    const last_error_keeper keep;
    if (view)
        if (const auto unmap = kernel32_entry<unmap_view_fn>("UnmapViewOfFile")) unmap(view);
    if (mapping) close_handle(mapping);
    if (file) {
        if (writable) {
            // Cut only where the pointer got to: the end of file is set at the pointer.
            LONG high = 0;  // with a high part the low one counts as unsigned
            const auto seek = kernel32_entry<set_file_pointer_fn>("SetFilePointer");
            if (seek && seek(file, static_cast<LONG>(end), &high, FILE_BEGIN) == end && high == 0)
                if (const auto cut = kernel32_entry<set_end_of_file_fn>("SetEndOfFile")) cut(file);
        }
        close_handle(file);
    }
    view = nullptr;
    mapping = nullptr;
    file = nullptr;
    mapped = false;
}

}  // namespace qv
