// What the launcher, the prerequisites and the dialogs ask about the machine: the Windows
// release, the processor and WOW64, languages, versions of files and products, and one-value
// reads and writes of INI files. The answers are results; nothing here throws for a missing
// answer.
#pragma once

#include "zString.h"

#include <windows.h>

#include <vector>

namespace qv {

// One bit per known Windows release.
enum : DWORD {
    os_windows_95 = 0x10,
    os_windows_98 = 0x40,
    os_windows_me = 0x80,
    os_windows_nt4 = 0x10000,
    os_windows_2000 = 0x100000,
    os_windows_xp = 0x400000,
    os_windows_2003 = 0x800000,
    os_windows_vista = 0x1000000,
    os_windows_7 = 0x2000000,
    os_windows_8 = 0x4000000,
    os_windows_8_1 = 0x8000000,
    os_windows_10 = 0x10000000,
};

struct os_version_answer {
    DWORD flag = 0;
    bool known = false;  // the record is a release of the table
};

// The release of a version record. kernel32_is_me: Kernel32.dll's file version is 4.90, which
// tells Windows Me from Windows 98 where both report minor version 10.
os_version_answer os_version_flag(const OSVERSIONINFOW& info, bool kernel32_is_me) noexcept;
// The table's name of a flag; empty for any other value.
const wchar_t* os_display_name(DWORD flag) noexcept;

// `reserved` is always 0.
bool GetOsVersionFlag(DWORD& reserved, DWORD& flag);
// A flag of 0 stands for this machine's.
zString GetOsDisplayName(DWORD flag);

DWORD GetPlatformId();
bool IsWindows9x();
bool IsWindowsNt();
// Platform NT and a major version above 4; false when Windows gives no version.
bool IsNt5OrLater();
DWORD GetOsMajorVersion();
DWORD GetOsMinorVersion();
DWORD GetOsBuildNumber();
WORD GetServicePackMajor();

bool IsIa64Processor();
bool IsAmd64Processor();
bool IsWindows64();
bool IsWow64();
// Disabling pushes the state it replaces; enabling restores the state on top, so nested
// pairs unwind in reverse order. False at once outside WOW64.
bool SetFsRedirection(bool enable);

LANGID GetUiLanguage();
zString GetIeVersion();
// The "QVInternalVersion" string under the file's first translation.
zString GetInternalVersion(const zString& file);
zString GetInstalledProductName(const zString& product_code);
// The class id with or without its braces.
zString GetComServerPath(const zString& class_id, bool in_process);
zString GetSystemFilePath(const zString& name);

zString LcidToLocaleName(LCID lcid);
LCID LocaleNameToLcid(const zString& name);

bool ReadIniBool(const zString& file, const zString& section, const zString& key, bool default_value);
int ReadIniInt(const zString& file, const zString& section, const zString& key, int default_value);
zString ReadIniString(const zString& file, const zString& section, const zString& key, const zString& default_value);
// A missing file is created; an existing one that could not be read whole is left as it is
// and the answer is false.
bool WriteIniBool(const zString& file, const zString& section, const zString& key, bool value);
bool WriteIniInt(const zString& file, const zString& section, const zString& key, int value);
bool WriteIniString(const zString& file, const zString& section, const zString& key, const zString& value);

// The system folders of a process as seen under WOW64, each with its trailing backslash;
// sysnative and syswow64 are empty where the process has none.
struct system_folder_set {
    std::wstring system;
    std::wstring sysnative;
    std::wstring syswow64;
    bool wow64 = false;
};
// The path with its leading system folder exchanged for the one the other view names; every
// other path unchanged.
std::wstring native_system_path(const system_folder_set& folders, std::wstring_view path);
std::wstring wow64_system_path(const system_folder_set& folders, std::wstring_view path);
zString ToNativeSystemPath(const zString& path);
zString ToWow64SystemPath(const zString& path);

// "1.2.3.4" with "." as the separator; empty without a version resource.
zString GetFileVersionString(const zString& path, const zString& separator);
// major << 16 | minor of a type library; the failure's HRESULT is in LastFileOpError.
bool GetTypeLibVersion(const zString& path, DWORD& version);
zString ExpandEnvironment(const zString& text);
// The folders of "Path", read once for the process.
const std::vector<zString>& GetPathFolders();
zString FormatDateTime(const SYSTEMTIME& time);
zString GetLocalTimeText();
LANGID WithDefaultSublanguage(LANGID language);
bool HasGetProcessId();
bool LooksLikeUuid(const zString& text);

}  // namespace qv
