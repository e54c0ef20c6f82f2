// Moves and deletions of files that were in use, recorded under "Software\CorvanePendingOperation"
// (HKLM for administrators and power users, else HKCU) and replayed after the reboot; the
// WININIT.INI form of the same for the Windows 9x family; and the path and attribute helpers
// they need.
#pragma once

#include "zString.h"
#include "zpath.h"

namespace qv {

// Replays every recorded operation and removes the key, also after failures, so nothing
// runs twice. 0, or HRESULT_FROM_WIN32 of the last failed move.
HRESULT ProcessPendingFileOperations();
// Records a move of source to dest (an empty dest deletes source) as the next entry.
bool AddPendingFileOperation(const zString& dest, const zString& source);
// The source of the first entry whose dest is the same path as `dest`.
bool FindPendingFileOperation(const zString& dest, zString& source);
// On the Windows 9x family a "rename" line of WININIT.INI (short names, "NUL" for a
// deletion), else MoveFileExW until the reboot. False when it could not be recorded; then
// LastFileOpError says why.
bool QueueRenameInWininit(const zString& dest, const zString& source);

// A folder with everything in it, or a file alone; true when nothing of the path is left.
// Linked folders inside are removed, never entered.
bool DeleteFolderTree(const zString& path);

// Paths as WININIT.INI and the recorded operations use them: backslashes only.
namespace pending_path {
// \\server\share of a UNC path, "X:" of a drive path, else empty.
zpath root(const zpath& path);
// Up to and including the last backslash after the root; the root when there is none.
zpath folder(const zpath& path);
zpath file_name(const zpath& path);
// "." components dropped, each ".." taking the component before it; ".." never climbs over
// the root, and a relative path keeps the ".." it cannot resolve.
zpath normalized(const zpath& path);
// The same path once both are normalised, without regard to case.
bool same(const zpath& a, const zpath& b);
// The part joined on with exactly one backslash between.
zpath append(const zpath& path, const wchar_t* part);
}  // namespace pending_path

// GetFileAttributesW and SetFileAttributesW; a failure throws qv::file_exception with the
// path and the error.
DWORD GetAttributesOrThrow(const zString& path);
void SetAttributesOrThrow(const zString& path, DWORD attributes);
// GetShortPathNameW; a failure throws qv::win32_exception.
zString GetShortPath(const zString& path);

}  // namespace qv
