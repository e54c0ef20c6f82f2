// Copies of one file block by block through qv::file (a disk path or an http(s) address),
// reported to one process-wide progress callback that may cancel a copy or have it repeated;
// shell file operations without any user interface; MD5 digests of files. Failures are
// results and LastFileOpError; nothing here raises except the time operations.
#pragma once

#include "file.h"
#include "zString.h"

#include <windows.h>
#include <shellapi.h>

namespace qv {

// What a copy reports, as the event argument of the callback.
enum copy_event : int {
    copy_target_opened = 0,  // before the first block; low, high = -1
    copy_finished = 1,       // low, high = bytes copied
    copy_failed = 3,         // failed or cancelled; low, high = bytes copied
    copy_block_written = 4,  // low, high = bytes copied so far
    copy_target_named = 5,   // text = the target; low, high = -1
    copy_source_named = 6,   // text = the source; low, high = -1
    copy_source_size = 7,    // only with a callback; low, high = the source's size, -1 when unknown
};

// The callback's answers; any other value continues.
enum copy_answer : int {
    copy_continue = 1,
    copy_cancel = 2,  // to copy_target_opened and copy_block_written
    copy_repeat = 4,  // to copy_finished and copy_failed: the whole copy again, from the source's open
};

// text is null for the events that carry none.
using CopyProgressFunction = int (*)(void* context, int event, const wchar_t* text, DWORD low, DWORD high);

// The process-wide pair; unguarded, as the copies run one at a time on one thread.
struct CopyProgressCallback {
    CopyProgressFunction function = nullptr;
    void* context = nullptr;
};

// A null function removes the callback.
void SetCopyProgressCallback(CopyProgressFunction function, void* context);
// The pair now installed, so that a caller can put it back after a callback of its own.
CopyProgressCallback CurrentCopyProgressCallback() noexcept;

// True when the whole source reached the target. A block size of 0 is refused
// (ERROR_INVALID_PARAMETER). With copy_times the target takes the source's times; for an
// address only the last write, and only when the server names it.
bool CopyFileWithProgress(zString source, zString target, DWORD block_size, bool copy_times);

// For an address the last write is the server's Last-Modified and the other two stay as they
// are. Raise qv::file_exception (or qv::internet_file_exception) naming the file.
void GetFileTimes(const file& f, FILETIME* last_write, FILETIME* creation, FILETIME* last_access);
// A null time stays unchanged.
void SetFileTimes(const file& f, const FILETIME* last_write, const FILETIME* creation, const FILETIME* last_access);

// 0 with the digest written, or the Windows error of the open or of a read.
DWORD FileMd5(zString path, unsigned char digest[16]);
// False when either digest cannot be made (its error in LastFileOpError, its path recorded).
bool FilesHaveEqualMd5(zString first, zString second);

// SHFileOperation on ";"-separated lists (empty items are skipped), no owner window: its
// result, 0 on success. ERROR_INVALID_PARAMETER for a list without a source (or without a
// target, except for FO_DELETE), and ERROR_PROC_NOT_FOUND when shell32 has neither form of
// the call.
int RunShellFileOperation(zString sources, zString targets, UINT operation, FILEOP_FLAGS flags);

// Silent, no confirmation, no folder question, no error box.
inline constexpr FILEOP_FLAGS shell_quiet_flags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;

// Each source goes to the target of the same index (FOF_MULTIDESTFILES); every source must
// exist and the two lists hold as many items. The folder of each target is made first.
bool ShellCopyFilesMulti(zString sources, zString targets, UINT operation);
// Every source must exist; they go into the target folder, which is made first.
bool ShellCopyFiles(zString sources, zString target_folder, UINT operation);
// As ShellCopyFiles into a target folder emptied first. Refused when the target is a root or
// holds one of the sources.
bool ShellReplaceFolder(zString sources, zString target_folder, UINT operation);

}  // namespace qv
