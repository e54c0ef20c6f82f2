// setup's thin layer over the file system: the kernel32 file entry points looked up by name
// (wide first, narrow as the fallback), the library's record of the last failure, and the
// existence test, folder trees, deletions and the folder lister built on them. The wrappers
// never raise; failures are results and LastFileOpError.
#pragma once

#include "zString.h"

#include <windows.h>

#include <vector>

namespace qv {

// The last failed library operation: its Windows error (or a shell launch's result) and the
// path or command at fault. Process-wide and unguarded: the launcher's file work runs on one
// thread.
DWORD LastFileOpError() noexcept;
zString LastFailedPath();
void SetLastFileOpError(DWORD code) noexcept;
DWORD CaptureLastError() noexcept;  // stores GetLastError() and answers it
void RecordFailedPath(const zString& path);

// Each answers what its entry point answers; FALSE or INVALID_HANDLE_VALUE with
// ERROR_PROC_NOT_FOUND when neither form exists.
BOOL OsCreateDirectory(zString path, LPSECURITY_ATTRIBUTES security);
HANDLE OsCreateFile(zString path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
    DWORD flags_and_attributes, HANDLE template_file);
BOOL OsDeleteFile(zString path);
BOOL OsRemoveDirectory(zString path);
// INVALID_FILE_ATTRIBUTES when neither form exists: no answer is never "it exists".
DWORD OsGetFileAttributes(zString path);
BOOL OsSetFileAttributes(zString path, DWORD attributes);
HANDLE OsFindFirstFile(zString pattern, WIN32_FIND_DATAW& found);
BOOL OsFindNextFile(HANDLE find, WIN32_FIND_DATAW& found);
BOOL OsGetDiskFreeSpaceEx(zString path, ULARGE_INTEGER* free_to_caller, ULARGE_INTEGER* total,
    ULARGE_INTEGER* total_free);

// PathExists' flags, combined.
enum : BYTE {
    path_is_file = 4,
    path_is_folder = 8,
    path_may_be_url = 0x10,  // an http, https or ftp address is opened
    path_raises = 0x20,      // a failure other than "not found" throws in place of false
};

bool PathExists(zString path, BYTE flags);
// Opens the address and reads 5 bytes; a failed open throws qv::internet_file_exception
// with path_raises, else answers false.
bool UrlExists(zString url, BYTE flags);

// Every missing folder along the path; drive roots and UNC server and share are never made.
bool CreateFolderTree(zString path);
bool CreateFolderForFile(zString path);

// With keep_read_only a read-only file stays and the answer is false; otherwise the
// attributes are reset first.
bool DeleteFileForce(zString path, bool keep_read_only);
// Unregisters a COM server (never an ".EXE"), drops its SharedDLLs value, deletes it.
bool DeleteSharedFile(zString path);
bool RemoveFolderTree(zString path, bool shared);
bool EmptyFolder(zString path);

// A listing: entries whose attributes AND mask equal value AND mask, matching one of the
// ";"-separated patterns and not matching `exclude` (when it is not empty).
struct list_request {
    zString folder;
    zString patterns = L"*.*";
    std::vector<zString>* out = nullptr;
    DWORD mask = 0;
    DWORD value = 0;
    bool full_paths = true;
    bool recursive = false;
    zString exclude;
};
// False when the folder is not there to be searched.
bool ListFolder(const list_request& request);

// "*" any run, "?" any one character, without regard to case.
bool MatchWildcard(std::wstring_view name, std::wstring_view pattern) noexcept;

}  // namespace qv
