#include "file_system.h"

#include "com_registration.h"
#include "file.h"
#include "handle.h"
#include "os_entry.h"
#include "win32_exception.h"

#include <cstring>

namespace qv {

namespace {

DWORD last_file_op_error = 0;

zString& last_failed_path()
{
    static zString* const path = new zString;
    return *path;
}

// The wide entry point when kernel32 has it, else the narrow one with the path in the
// thread's ANSI code page, else `missing` with ERROR_PROC_NOT_FOUND.
template <class Wide, class Narrow, class Result, class... Args>
Result call_wide_or_narrow(const char* wide, const char* narrow, Result missing, const zString& path, Args... args)
{
    if (const auto fn = kernel32_entry<Wide>(wide)) return fn(path.c_str(), args...);
    if (const auto fn = kernel32_entry<Narrow>(narrow)) return fn(path.narrow(), args...);
    SetLastError(ERROR_PROC_NOT_FOUND);
    return missing;
}

void widen_find_data(const WIN32_FIND_DATAA& in, WIN32_FIND_DATAW& out)
{
    out = {};
    out.dwFileAttributes = in.dwFileAttributes;
    out.ftCreationTime = in.ftCreationTime;
    out.ftLastAccessTime = in.ftLastAccessTime;
    out.ftLastWriteTime = in.ftLastWriteTime;
    out.nFileSizeHigh = in.nFileSizeHigh;
    out.nFileSizeLow = in.nFileSizeLow;
    out.dwReserved0 = in.dwReserved0;
    out.dwReserved1 = in.dwReserved1;
    MultiByteToWideChar(CP_ACP, 0, in.cFileName, -1, out.cFileName, MAX_PATH);
    out.cFileName[MAX_PATH - 1] = L'\0';
    MultiByteToWideChar(CP_ACP, 0, in.cAlternateFileName, -1, out.cAlternateFileName, 14);
    out.cAlternateFileName[13] = L'\0';
}

bool satisfies(DWORD attributes, BYTE flags)
{
    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return ((flags & path_is_file) && !folder) || ((flags & path_is_folder) && folder);
}

bool is_url(const zString& path)
{
    return path.has_http_scheme() || path.has_https_scheme() || path.has_ftp_scheme();
}

// An empty path or a drive or share root is never removed or emptied.
bool removable(const zString& path)
{
    if (path.empty()) return false;
    const zString bare = path.remove_backslash();
    if (bare.drive_root_only() || bare.length() <= 2) return false;
    return !(text::is_unc(bare.view()) && text::unc_root_length(bare.view()) >= bare.length());
}

std::vector<zString> list_entries(const zString& folder, DWORD value)
{
    std::vector<zString> entries;
    list_request request;
    request.folder = folder;
    request.out = &entries;
    request.mask = FILE_ATTRIBUTE_DIRECTORY;
    request.value = value;
    ListFolder(request);
    return entries;
}

bool is_dot_entry(const wchar_t* name)
{
    return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

void list_one_folder(const list_request& request, const zString& folder, const std::vector<zString>& patterns)
{
    for (const zString& pattern : patterns) {
        WIN32_FIND_DATAW found;
        const find_handle find(OsFindFirstFile(folder.combine_path(pattern.c_str()), found));
        if (!find) continue;
        do {
            if (is_dot_entry(found.cFileName)) continue;
            if ((found.dwFileAttributes & request.mask) != (request.value & request.mask)) continue;
            if (!request.exclude.empty() && MatchWildcard(found.cFileName, request.exclude.view())) continue;
            request.out->push_back(request.full_paths ? folder.combine_path(found.cFileName) : zString(found.cFileName));
        } while (OsFindNextFile(find.get(), found));
    }
    if (!request.recursive) return;
    WIN32_FIND_DATAW found;
    const find_handle find(OsFindFirstFile(folder.combine_path(L"*"), found));
    if (!find) return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !is_dot_entry(found.cFileName))
            list_one_folder(request, folder.combine_path(found.cFileName), patterns);
    } while (OsFindNextFile(find.get(), found));
}

}  // namespace

DWORD LastFileOpError() noexcept
{
    return last_file_op_error;
}

zString LastFailedPath()
{
    return last_failed_path();
}

void SetLastFileOpError(DWORD code) noexcept
{
    last_file_op_error = code;
}

DWORD CaptureLastError() noexcept
{
    last_file_op_error = GetLastError();
    return last_file_op_error;
}

void RecordFailedPath(const zString& path)
{
    last_failed_path() = path;
}

BOOL OsCreateDirectory(zString path, LPSECURITY_ATTRIBUTES security)
{
    return call_wide_or_narrow<BOOL(WINAPI*)(LPCWSTR, LPSECURITY_ATTRIBUTES), BOOL(WINAPI*)(LPCSTR, LPSECURITY_ATTRIBUTES)>(
        "CreateDirectoryW", "CreateDirectoryA", FALSE, path, security);
}

HANDLE OsCreateFile(zString path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
    DWORD flags_and_attributes, HANDLE template_file)
{
    return call_wide_or_narrow<HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE),
        HANDLE(WINAPI*)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)>("CreateFileW", "CreateFileA",
        INVALID_HANDLE_VALUE, path, access, share, security, disposition, flags_and_attributes, template_file);
}

BOOL OsDeleteFile(zString path)
{
    return call_wide_or_narrow<BOOL(WINAPI*)(LPCWSTR), BOOL(WINAPI*)(LPCSTR)>("DeleteFileW", "DeleteFileA", FALSE, path);
}

BOOL OsRemoveDirectory(zString path)
{
    return call_wide_or_narrow<BOOL(WINAPI*)(LPCWSTR), BOOL(WINAPI*)(LPCSTR)>(
        "RemoveDirectoryW", "RemoveDirectoryA", FALSE, path);
}

DWORD OsGetFileAttributes(zString path)
{
    return call_wide_or_narrow<DWORD(WINAPI*)(LPCWSTR), DWORD(WINAPI*)(LPCSTR)>(
        "GetFileAttributesW", "GetFileAttributesA", INVALID_FILE_ATTRIBUTES, path);
}

BOOL OsSetFileAttributes(zString path, DWORD attributes)
{
    return call_wide_or_narrow<BOOL(WINAPI*)(LPCWSTR, DWORD), BOOL(WINAPI*)(LPCSTR, DWORD)>(
        "SetFileAttributesW", "SetFileAttributesA", FALSE, path, attributes);
}

HANDLE OsFindFirstFile(zString pattern, WIN32_FIND_DATAW& found)
{
    if (const auto wide = kernel32_entry<HANDLE(WINAPI*)(LPCWSTR, LPWIN32_FIND_DATAW)>("FindFirstFileW"))
        return wide(pattern.c_str(), &found);
    if (const auto narrow = kernel32_entry<HANDLE(WINAPI*)(LPCSTR, LPWIN32_FIND_DATAA)>("FindFirstFileA")) {
        WIN32_FIND_DATAA narrow_found;
        const HANDLE find = narrow(pattern.narrow(), &narrow_found);
        if (find != INVALID_HANDLE_VALUE) widen_find_data(narrow_found, found);
        return find;
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL OsFindNextFile(HANDLE find, WIN32_FIND_DATAW& found)
{
    if (const auto wide = kernel32_entry<BOOL(WINAPI*)(HANDLE, LPWIN32_FIND_DATAW)>("FindNextFileW"))
        return wide(find, &found);
    if (const auto narrow = kernel32_entry<BOOL(WINAPI*)(HANDLE, LPWIN32_FIND_DATAA)>("FindNextFileA")) {
        WIN32_FIND_DATAA narrow_found;
        const BOOL more = narrow(find, &narrow_found);
        if (more) widen_find_data(narrow_found, found);
        return more;
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
}

BOOL OsGetDiskFreeSpaceEx(zString path, ULARGE_INTEGER* free_to_caller, ULARGE_INTEGER* total,
    ULARGE_INTEGER* total_free)
{
    using fn = BOOL(WINAPI*)(LPCWSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
    if (const auto wide = kernel32_entry<fn>("GetDiskFreeSpaceExW")) return wide(path.c_str(), free_to_caller, total, total_free);
    SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
}

bool PathExists(zString path, BYTE flags)
{
    if ((flags & path_may_be_url) && is_url(path)) return UrlExists(path, flags);
    const DWORD attributes = OsGetFileAttributes(path);
    if (attributes != INVALID_FILE_ATTRIBUTES) return satisfies(attributes, flags);
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return false;
    if (error == ERROR_ACCESS_DENIED) {
        // The folder may refuse its attributes to this user and still list the entry.
        WIN32_FIND_DATAW found;
        const find_handle find(OsFindFirstFile(path, found));
        if (find) return satisfies(found.dwFileAttributes, flags);
        error = GetLastError();
    }
    if (flags & path_raises) throw file_exception(error, path);
    return false;
}

bool UrlExists(zString url, BYTE flags)
{
    file probe;
    const DWORD error = probe.open(url, GENERIC_READ, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL, OPEN_EXISTING);
    if (error != 0) {
        if (flags & path_raises) throw internet_file_exception(error, url);
        return false;
    }
    char first[5];
    try {
        return probe.read(first, sizeof first) > 0;
    } catch (const win32_exception&) {
        if (flags & path_raises) throw;
        return false;
    }
}

bool CreateFolderTree(zString path)
{
    path = path.add_backslash();
    SetLastFileOpError(0);
    const bool unc = path.length() > 2 && path[0] == L'\\' && path[1] == L'\\';
    zString made;
    size_t start = 0;
    for (int piece = 1;; ++piece) {
        const size_t slash = path.find(L"\\", start);
        if (slash == zString::npos) return true;
        made.append(path.c_str() + start, slash + 1 - start);
        start = slash + 1;
        // The drive, or "\", "\", server and share of a UNC path, is never made.
        if (piece == 1 || (unc && piece <= 4)) continue;
        if (OsCreateDirectory(made, nullptr)) continue;
        if (CaptureLastError() == ERROR_ALREADY_EXISTS) {
            SetLastFileOpError(0);
            continue;
        }
        RecordFailedPath(made);
        return false;
    }
}

bool CreateFolderForFile(zString path)
{
    return CreateFolderTree(path.folder_part());
}

bool DeleteFileForce(zString path, bool keep_read_only)
{
    if (keep_read_only) {
        const DWORD attributes = OsGetFileAttributes(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return false;
    }
    OsSetFileAttributes(path, FILE_ATTRIBUTE_NORMAL);
    return OsDeleteFile(path) != FALSE;
}

bool DeleteSharedFile(zString path)
{
    if (!path.extension_part().equals(L".EXE")) RegisterModuleByType(path, false, false);
    HKEY shared = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", 0, KEY_SET_VALUE,
            &shared) == ERROR_SUCCESS) {
        const registry_key key(shared);
        RegDeleteValueW(key.get(), path.c_str());
    }
    return DeleteFileForce(path, false);
}

bool RemoveFolderTree(zString path, bool shared)
{
    if (!removable(path)) return false;
    if (!PathExists(path, path_is_file | path_is_folder)) return true;
    for (const zString& folder : list_entries(path, FILE_ATTRIBUTE_DIRECTORY)) RemoveFolderTree(folder, shared);
    for (const zString& entry : list_entries(path, 0)) {
        if (shared)
            DeleteSharedFile(entry);
        else
            DeleteFileForce(entry, false);
    }
    return OsRemoveDirectory(path.remove_backslash()) != FALSE;
}

bool EmptyFolder(zString path)
{
    if (!removable(path)) return false;
    for (const zString& folder : list_entries(path, FILE_ATTRIBUTE_DIRECTORY)) RemoveFolderTree(folder, true);
    for (const zString& entry : list_entries(path, 0)) DeleteSharedFile(entry);
    return true;
}

bool ListFolder(const list_request& request)
{
    if (!request.out) return false;
    const DWORD attributes = OsGetFileAttributes(request.folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    const std::vector<zString> patterns = request.patterns.split(L";", true);
    list_one_folder(request, request.folder.remove_backslash(), patterns);
    return true;
}

bool MatchWildcard(std::wstring_view name, std::wstring_view pattern) noexcept
{
    // Greedy with one step back to the last "*": linear enough for file names.
    size_t n = 0, p = 0, star = std::wstring_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size()
                   && (pattern[p] == L'?' || CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(pattern[p])))
                                                 == CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(name[n]))))) {
            ++p;
            ++n;
        } else if (star != std::wstring_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') ++p;
    return p == pattern.size();
}

}  // namespace qv
