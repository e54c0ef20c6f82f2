// The folders setup works in: temporary, Windows, system (with the 64-bit views), the
// shell's special folders and Program Files; path clean-up; per-user class registration.
// The folder functions answer with a trailing backslash and throw qv::win32_exception when
// Windows gives no answer.
#pragma once

#include "zString.h"

#include <shlobj.h>

#include <string>
#include <string_view>

namespace qv {

zString GetTempFolder();
// With `shared`, the system-wide Windows folder (GetSystemWindowsDirectoryW) where there is one.
zString GetWindowsFolder(bool shared);
zString GetWindowsDir();
// Kind 1: the Windows folder's "sysnative"; kind 2: its "syswow64"; else the system folder.
zString GetSystemDir(int kind);
// The system and Windows folders as standard wide strings.
std::wstring GetSystemDirW();
std::wstring GetWindowsDirW();
zString GetShellFolderPath(int csidl);
// Kind 1: "CommonFilesDir", else "ProgramFilesDir"; empty when the registry has no answer.
zString GetProgramFilesDir(int kind);

void NormalizePath(zString& path);
// What NormalizePath makes of a text.
std::wstring normalized_path(std::wstring_view path);

// Maps HKEY_CLASSES_ROOT onto HKCU\Software\Classes for this process; true when it took.
bool RedirectClassesRoot();
void RestoreClassesRoot();

// Services that Wine cannot vary, the real ones by default. Tests swap them; the program
// never does.
namespace folder_seams {
// GetVersionExW's answer; the platform id and the major version are read from it.
extern bool (*os_version)(OSVERSIONINFOW& info);
// SHGetSpecialFolderLocation.
extern HRESULT (*special_folder_location)(int csidl, LPITEMIDLIST* list);
}  // namespace folder_seams

}  // namespace qv
