#include "system_folders.h"

#include "handle.h"
#include "os_entry.h"
#include "registry_text.h"
#include "win32_exception.h"

namespace qv {

namespace {

bool real_os_version(OSVERSIONINFOW& info)
{
    info = {};
    info.dwOSVersionInfoSize = sizeof info;
    return GetVersionExW(&info) != FALSE;
}

HRESULT real_special_folder_location(int csidl, LPITEMIDLIST* list)
{
    return SHGetSpecialFolderLocation(nullptr, csidl, list);
}

}  // namespace

namespace folder_seams {
bool (*os_version)(OSVERSIONINFOW& info) = real_os_version;
HRESULT (*special_folder_location)(int csidl, LPITEMIDLIST* list) = real_special_folder_location;
}  // namespace folder_seams

namespace {

// A folder from a call that fills a buffer of MAX_PATH characters and answers the length.
template <class Call>
std::wstring folder_from(Call call)
{
    wchar_t buffer[MAX_PATH];
    const UINT length = call(buffer, MAX_PATH);
    if (length == 0) throw win32_exception();
    if (length >= MAX_PATH) throw win32_exception(ERROR_INSUFFICIENT_BUFFER);
    return std::wstring(buffer, length);
}

std::wstring windows_directory()
{
    return folder_from([](wchar_t* buffer, UINT size) { return GetWindowsDirectoryW(buffer, size); });
}

std::wstring system_directory()
{
    return folder_from([](wchar_t* buffer, UINT size) { return GetSystemDirectoryW(buffer, size); });
}

bool before_version_5()
{
    OSVERSIONINFOW info{};
    return folder_seams::os_version(info) && info.dwMajorVersion < 5;
}

// The item list is the shell's memory and goes back to the shell's allocator.
struct item_list_traits {
    using type = LPITEMIDLIST;
    static type invalid() noexcept { return nullptr; }
    static void close(type list) noexcept
    {
        IMalloc* allocator = nullptr;
        if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator) {
            allocator->Free(list);
            allocator->Release();
        }
    }
};
using item_list = handle<item_list_traits>;

// The shell's answer, empty when it has none (then `result` says why, when the shell said).
std::wstring shell_answer(int csidl, HRESULT& result)
{
    item_list list;
    result = folder_seams::special_folder_location(csidl, list.put());
    if (FAILED(result) || !list) return {};
    wchar_t buffer[MAX_PATH] = {};
    if (!SHGetPathFromIDListW(list.get(), buffer)) return {};
    return buffer;
}

// Where a special folder stood before the shell knew it: a base folder and the part below it.
enum class base_folder { windows, shared_windows, system, program_files };
struct shell_fallback {
    int csidl;
    base_folder base;
    const wchar_t* part;
    const wchar_t* part_before_5;  // before major version 5, where it was named otherwise
};
constexpr shell_fallback shell_fallbacks[] = {
    // csidl                    base                          below it                         before version 5
    {CSIDL_PERSONAL,             base_folder::windows,        L"My Documents",                 L"Personal"},
    {CSIDL_APPDATA,              base_folder::windows,        L"Application Data",             nullptr},
    {CSIDL_LOCAL_APPDATA,        base_folder::windows,        L"Application Data",             nullptr},
    {CSIDL_COMMON_APPDATA,       base_folder::shared_windows, L"All Users\\Application Data",  nullptr},
    {CSIDL_COMMON_DOCUMENTS,     base_folder::shared_windows, L"All Users\\Documents",         nullptr},
    {CSIDL_FONTS,                base_folder::shared_windows, L"Fonts",                        nullptr},
    {CSIDL_WINDOWS,              base_folder::windows,        L"",                             nullptr},
    {CSIDL_SYSTEM,               base_folder::system,         L"",                             nullptr},
    {CSIDL_PROGRAM_FILES,        base_folder::program_files,  L"",                             nullptr},
    {CSIDL_PROGRAM_FILES_COMMON, base_folder::program_files,  L"Common Files",                 nullptr},
};

std::wstring program_files_folder()
{
    const zString registered = GetProgramFilesDir(0);
    if (!registered.empty()) return registered.str();
    // Without the registry's answer: "Program Files" on the Windows folder's drive.
    return text::join_path(text::path_root(windows_directory(), true), L"Program Files");
}

std::wstring base_path(base_folder base)
{
    switch (base) {
    case base_folder::windows: return GetWindowsFolder(false).str();
    case base_folder::shared_windows: return GetWindowsFolder(true).str();
    case base_folder::system: return GetSystemDir(0).str();
    case base_folder::program_files: return program_files_folder();
    }
    return {};
}

bool is_letter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool classes_redirected = false;

}  // namespace

zString GetTempFolder()
{
    const std::wstring folder = folder_from([](wchar_t* buffer, UINT size) { return GetTempPathW(size, buffer); });
    OSVERSIONINFOW info{};
    if (folder_seams::os_version(info) && info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        // Windows 9x hands out a temp folder that may be missing or read-only.
        const std::wstring probe = text::join_path(folder, L"123.tmp");
        file_handle file(
            CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return zString(text::add_backslash(text::join_path(GetWindowsFolder(false).view(), L"temp")));
        file.reset();
        DeleteFileW(probe.c_str());
    }
    return zString(text::add_backslash(folder));
}

zString GetWindowsFolder(bool shared)
{
    if (shared) {
        using entry = UINT(WINAPI*)(LPWSTR, UINT);
        const auto get = kernel32_entry<entry>("GetSystemWindowsDirectoryW");
        if (get) {
            wchar_t buffer[MAX_PATH];
            const UINT length = get(buffer, MAX_PATH);
            if (length != 0 && length < MAX_PATH) return zString(text::add_backslash({buffer, length}));
        }
    }
    return zString(text::add_backslash(windows_directory()));
}

zString GetWindowsDir() { return zString(text::add_backslash(windows_directory())); }

zString GetSystemDir(int kind)
{
    switch (kind) {
    case 1: return zString(text::add_backslash(text::join_path(windows_directory(), L"sysnative")));
    case 2: return zString(text::add_backslash(text::join_path(windows_directory(), L"syswow64")));
    default: return zString(text::add_backslash(system_directory()));
    }
}

std::wstring GetSystemDirW() { return text::add_backslash(system_directory()); }

std::wstring GetWindowsDirW() { return text::add_backslash(windows_directory()); }

zString GetShellFolderPath(int csidl)
{
    // An empty answer counts as none for every folder: a lone backslash would name a drive root.
    HRESULT result = S_OK;
    const std::wstring answer = shell_answer(csidl, result);
    if (!answer.empty()) return zString(text::add_backslash(answer));
    const int folder = csidl & ~CSIDL_FLAG_MASK;
    for (const shell_fallback& row : shell_fallbacks) {
        if (row.csidl != folder) continue;
        const wchar_t* part = row.part_before_5 && before_version_5() ? row.part_before_5 : row.part;
        return zString(text::add_backslash(text::join_path(base_path(row.base), part)));
    }
    throw win32_exception(FAILED(result) ? static_cast<DWORD>(result) : ERROR_PATH_NOT_FOUND);
}

zString GetProgramFilesDir(int kind)
{
    registry_key key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ, key.put())
        != ERROR_SUCCESS)
        return zString();
    const auto value = read_registry_text(key.get(), kind == 1 ? L"CommonFilesDir" : L"ProgramFilesDir", MAX_PATH);
    if (!value || value->empty()) return zString();
    zString folder(text::add_backslash(*value));
    NormalizePath(folder);
    return folder;
}

// Only the text as it stands counts as quoted: blanks around the quotes make it unquoted, and
// then its quotes go like any other reserved character.
std::wstring normalized_path(std::wstring_view path)
{
    constexpr std::wstring_view reserved = L":*?\"<>|";
    const bool quoted = path.size() >= 2 && path.front() == L'"' && path.back() == L'"';
    const size_t lead = quoted ? 1 : 0;  // where the path inside the quotes begins
    std::wstring kept;
    kept.reserve(path.size());
    for (size_t i = 0; i < path.size(); ++i) {
        const wchar_t c = path[i];
        const bool enclosing = quoted && (i == 0 || i + 1 == path.size());
        const bool drive_colon = c == L':' && i == lead + 1 && is_letter(path[lead]);
        if (enclosing || drive_colon || reserved.find(c) == std::wstring_view::npos) kept += c;
    }
    // The path's first two characters stay as they are, so a UNC prefix keeps both backslashes.
    const size_t from = lead + 2;
    const size_t to = quoted ? kept.size() - 1 : kept.size();
    std::wstring out;
    out.reserve(kept.size());
    for (size_t i = 0; i < kept.size(); ++i) {
        out += kept[i];
        if (i >= from && i < to && text::is_separator(kept[i]))
            while (i + 1 < to && text::is_separator(kept[i + 1])) ++i;
    }
    return out;
}

void NormalizePath(zString& path)
{
    const std::wstring normal = normalized_path(path.view());
    path.assign(normal.c_str(), normal.size());
}

bool RedirectClassesRoot()
{
    registry_key classes;
    const bool took = RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_WRITE, classes.put()) == ERROR_SUCCESS
                      && RegOverridePredefKey(HKEY_CLASSES_ROOT, classes.get()) == ERROR_SUCCESS;
    // A failed second attempt leaves an earlier mapping in place, and so the flag that undoes it.
    if (took) classes_redirected = true;
    return took;
}

void RestoreClassesRoot()
{
    if (!classes_redirected) return;
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    classes_redirected = false;
}

}  // namespace qv
