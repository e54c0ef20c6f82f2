#include "system_info.h"

#include "critical_section.h"
#include "file_system.h"
#include "handle.h"
#include "inifilex.h"
#include "os_entry.h"
#include "registry_text.h"
#include "registry_values.h"
#include "system_folders.h"
#include "version_info.h"
#include "win32_exception.h"

#include <oleauto.h>
#include <rpc.h>

#include <algorithm>
#include <optional>
#include <utility>

namespace qv {

namespace {

constexpr DWORD any = 0xFFFFFFFF;

enum class kernel32_test { none, not_me, me };

struct os_release {
    DWORD platform;
    DWORD major;
    DWORD minor;
    kernel32_test kernel32;
    DWORD flag;
    const wchar_t* name;
};

// Windows 9x is told apart by its minor version alone.
constexpr os_release os_releases[] = {
    {VER_PLATFORM_WIN32_WINDOWS, any, 0, kernel32_test::none, os_windows_95, L"Windows 95"},
    {VER_PLATFORM_WIN32_WINDOWS, any, 10, kernel32_test::not_me, os_windows_98, L"Windows 98"},
    {VER_PLATFORM_WIN32_WINDOWS, any, 10, kernel32_test::me, os_windows_me, L"Windows Me"},
    {VER_PLATFORM_WIN32_WINDOWS, any, 90, kernel32_test::none, os_windows_me, L"Windows Me"},
    {VER_PLATFORM_WIN32_NT, 4, any, kernel32_test::none, os_windows_nt4, L"Windows NT 4.0"},
    {VER_PLATFORM_WIN32_NT, 5, 0, kernel32_test::none, os_windows_2000, L"Windows 2000"},
    {VER_PLATFORM_WIN32_NT, 5, 1, kernel32_test::none, os_windows_xp, L"Windows XP"},
    {VER_PLATFORM_WIN32_NT, 5, 2, kernel32_test::none, os_windows_2003, L"Windows Server 2003"},
    {VER_PLATFORM_WIN32_NT, 6, 0, kernel32_test::none, os_windows_vista, L"Windows Vista / Server 2008"},
    {VER_PLATFORM_WIN32_NT, 6, 1, kernel32_test::none, os_windows_7, L"Windows 7 / Server 2008 R2"},
    {VER_PLATFORM_WIN32_NT, 6, 2, kernel32_test::none, os_windows_8, L"Windows 8 / Server 2012"},
    {VER_PLATFORM_WIN32_NT, 6, 3, kernel32_test::none, os_windows_8_1, L"Windows 8.1 / Server 2012 R2"},
    {VER_PLATFORM_WIN32_NT, 10, 0, kernel32_test::none, os_windows_10, L"Windows 10 / Server 2016"},
};

bool matches(DWORD wanted, DWORD value) { return wanted == any || wanted == value; }

bool matches(kernel32_test test, bool me)
{
    return test == kernel32_test::none || (test == kernel32_test::me) == me;
}

bool os_version(OSVERSIONINFOW& info) { return folder_seams::os_version(info); }

bool kernel32_is_me()
{
    try {
        version_info kernel32;
        return kernel32.load(GetSystemFilePath(L"Kernel32.dll")) && kernel32.major() == 4 && kernel32.minor() == 90;
    } catch (const win32_exception&) {
        return false;  // no system folder: no file to tell by
    }
}

template <class Field>
DWORD version_field(Field field)
{
    OSVERSIONINFOW info{};
    return os_version(info) ? field(info) : 0;
}

using native_system_info_fn = void(WINAPI*)(LPSYSTEM_INFO);
using is_wow64_process_fn = BOOL(WINAPI*)(HANDLE, PBOOL);
using wow64_disable_fn = BOOL(WINAPI*)(PVOID*);
using wow64_revert_fn = BOOL(WINAPI*)(PVOID);
using wow64_enable_fn = BOOLEAN(WINAPI*)(BOOLEAN);

WORD processor_architecture()
{
    SYSTEM_INFO info{};
    if (const auto native = kernel32_entry<native_system_info_fn>("GetNativeSystemInfo")) native(&info);
    else GetSystemInfo(&info);
    return info.wProcessorArchitecture;
}

// A level of disabled redirection: what the disabling replaced, or that it failed and so
// replaced nothing.
struct redirection_level {
    bool disabled;
    PVOID old;
};

struct redirection_stack {
    redirection_stack() { InitializeCriticalSection(&lock); }
    ~redirection_stack() { DeleteCriticalSection(&lock); }
    CRITICAL_SECTION lock;
    std::vector<redirection_level> levels;
};

redirection_stack& redirection_levels()
{
    static redirection_stack stack;
    return stack;
}

// A language id from a registry text of hexadecimal digits; 0 when there is none.
LANGID language_from(HKEY root, const wchar_t* subkey, const wchar_t* name)
{
    registry_key key;
    if (RegOpenKeyExW(root, subkey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return 0;
    // Ten characters: an LCID's eight digits fit, which ten bytes of wide text would not.
    const auto text = read_registry_text(key.get(), name, 10);
    if (!text || text->empty()) return 0;
    return static_cast<LANGID>(parse_hex(text->c_str()));
}

// A loaded file, or the default: a reader never fails.
template <class Get>
auto read_ini(const zString& file, Get get, decltype(get(std::declval<inifilex&>())) default_value)
{
    try {
        inifilex ini;
        if (!ini.load(file, L"=", false)) return default_value;
        return get(ini);
    } catch (const file_exception&) {
        return default_value;
    }
}

template <class Set>
bool write_ini(const zString& file, Set set)
{
    const auto failed = [&](DWORD error) {
        SetLastFileOpError(error);
        RecordFailedPath(file);
        return false;
    };
    try {
        inifilex ini;
        // Saving what a failed load left would replace the user's file by a part of it.
        if (!ini.load(file, L"=", false) && ini.save_refused())
            return failed(ini.last_error() ? ini.last_error() : ERROR_INVALID_DATA);
        set(ini);
        if (!ini.save(file, 0, 0, false)) return failed(ini.last_error());
        SetLastFileOpError(ERROR_SUCCESS);
        return true;
    } catch (const file_exception& e) {
        return failed(e.error());
    }
}

// `to` in place of a leading `from` (the folder itself counts too); nothing when the path
// does not begin with it.
std::optional<std::wstring> swapped_folder(std::wstring_view path, const std::wstring& from, const std::wstring& to)
{
    if (from.empty() || to.empty()) return std::nullopt;
    if (text::starts_with_nocase(path, from)) return to + std::wstring(path.substr(from.size()));
    const std::wstring_view bare = text::remove_backslash(from);
    if (path.size() == bare.size() && text::starts_with_nocase(path, bare))
        return std::wstring(text::remove_backslash(to));
    return std::nullopt;
}

const system_folder_set& process_folders()
{
    static const system_folder_set folders = [] {
        system_folder_set set;
        set.system = GetSystemDir(0).str();
        set.wow64 = IsWow64();
        if (set.wow64) set.sysnative = GetSystemDir(1).str();
        if (IsWindows64()) set.syswow64 = GetSystemDir(2).str();
        return set;
    }();
    return folders;
}

}  // namespace

os_version_answer os_version_flag(const OSVERSIONINFOW& info, bool kernel32_is_me) noexcept
{
    for (const os_release& row : os_releases)
        if (row.platform == info.dwPlatformId && matches(row.major, info.dwMajorVersion)
            && matches(row.minor, info.dwMinorVersion) && matches(row.kernel32, kernel32_is_me))
            return {row.flag, true};
    if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) return {os_windows_me, false};
    if (info.dwPlatformId != VER_PLATFORM_WIN32_NT) return {0, false};
    // A later release of a known line is unknown; a later line is taken for the latest one.
    const DWORD major = info.dwMajorVersion;
    if (major == 5 || major == 6 || major == 10) return {0, false};
    return {os_windows_10, false};
}

const wchar_t* os_display_name(DWORD flag) noexcept
{
    for (const os_release& row : os_releases)
        if (row.flag == flag) return row.name;
    return L"";
}

bool GetOsVersionFlag(DWORD& reserved, DWORD& flag)
{
    reserved = 0;
    flag = 0;
    OSVERSIONINFOW info{};
    if (!os_version(info)) return false;
    // Only Windows 98 and Me share a version record; Kernel32.dll is read for them alone.
    const bool me = info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS && info.dwMinorVersion == 10 && kernel32_is_me();
    const os_version_answer answer = os_version_flag(info, me);
    flag = answer.flag;
    return answer.known;
}

zString GetOsDisplayName(DWORD flag)
{
    if (flag == 0) {
        DWORD reserved = 0;
        GetOsVersionFlag(reserved, flag);
    }
    return zString(os_display_name(flag));
}

DWORD GetPlatformId()
{
    return version_field([](const OSVERSIONINFOW& info) { return info.dwPlatformId; });
}

bool IsWindows9x() { return GetPlatformId() == VER_PLATFORM_WIN32_WINDOWS; }

bool IsWindowsNt() { return GetPlatformId() == VER_PLATFORM_WIN32_NT; }

bool IsNt5OrLater()
{
    OSVERSIONINFOW info{};
    return os_version(info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion > 4;
}

DWORD GetOsMajorVersion()
{
    return version_field([](const OSVERSIONINFOW& info) { return info.dwMajorVersion; });
}

DWORD GetOsMinorVersion()
{
    return version_field([](const OSVERSIONINFOW& info) { return info.dwMinorVersion; });
}

DWORD GetOsBuildNumber()
{
    return version_field([](const OSVERSIONINFOW& info) { return info.dwBuildNumber; });
}

WORD GetServicePackMajor()
{
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    return GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)) ? info.wServicePackMajor : 0;
}

bool IsIa64Processor() { return processor_architecture() == PROCESSOR_ARCHITECTURE_IA64; }

bool IsAmd64Processor() { return processor_architecture() == PROCESSOR_ARCHITECTURE_AMD64; }

bool IsWindows64() { return IsIa64Processor() || IsAmd64Processor(); }

bool IsWow64()
{
    const auto is_wow64 = kernel32_entry<is_wow64_process_fn>("IsWow64Process");
    BOOL wow64 = FALSE;
    return is_wow64 && is_wow64(GetCurrentProcess(), &wow64) && wow64;
}

bool SetFsRedirection(bool enable)
{
    if (!IsWow64()) return false;
    redirection_stack& stack = redirection_levels();
    const critical_section_lock hold(stack.lock);
    const auto disable = kernel32_entry<wow64_disable_fn>("Wow64DisableWow64FsRedirection");
    const auto revert = kernel32_entry<wow64_revert_fn>("Wow64RevertWow64FsRedirection");
    if (disable && revert) {
        if (!enable) {
            PVOID old = nullptr;
            const bool done = disable(&old) != FALSE;
            // A failed level is kept too, so that its enabling undoes nothing of the level
            // around it.
            stack.levels.push_back({done, done ? old : nullptr});
            return done;
        }
        if (!stack.levels.empty()) {
            const redirection_level level = stack.levels.back();
            stack.levels.pop_back();
            if (!level.disabled) return true;  // that disabling changed nothing
            return revert(level.old) != FALSE;
        }
    }
    const auto set = kernel32_entry<wow64_enable_fn>("Wow64EnableWow64FsRedirection");
    return set && set(enable ? TRUE : FALSE);
}

LANGID GetUiLanguage()
{
    using ui_language_fn = LANGID(WINAPI*)();
    if (const auto ui_language = kernel32_entry<ui_language_fn>("GetSystemDefaultUILanguage")) return ui_language();
    if (const LANGID id = language_from(HKEY_USERS, L".Default\\Control Panel\\desktop\\ResourceLocale", L"")) return id;
    if (const LANGID id = language_from(HKEY_USERS, L".DEFAULT\\Control Panel\\International", L"Locale")) return id;
    return 0x409;
}

zString GetIeVersion()
{
    zString version;
    return ReadRegistryString(version, HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Internet Explorer", L"Version");
}

zString GetInternalVersion(const zString& file)
{
    version_info info;
    if (!info.load(file) || info.translation_count() == 0) return zString();
    const version_info::translation first = info.translation_at(0);
    zString name;
    name.format(L"\\StringFileInfo\\%04x%04x\\QVInternalVersion", first.language, first.codepage);
    const wchar_t* value = info.value(name.c_str());
    return zString(value ? value : L"");
}

zString GetInstalledProductName(const zString& product_code)
{
    using product_info_fn = UINT(WINAPI*)(LPCWSTR, LPCWSTR, LPWSTR, LPDWORD);
    const auto product_info = os_entry<product_info_fn>(L"msi.dll", "MsiGetProductInfoW");
    if (!product_info || product_code.empty()) return zString();
    std::vector<wchar_t> buffer(MAX_PATH);
    // A name that grows between the calls is asked for again, a few times at most.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD length = static_cast<DWORD>(buffer.size());
        const UINT result = product_info(product_code.c_str(), L"InstalledProductName", buffer.data(), &length);
        if (result == ERROR_MORE_DATA) {
            buffer.assign(std::max<size_t>(length + 1, buffer.size() * 2), L'\0');
            continue;
        }
        if (result != ERROR_SUCCESS) return zString();
        buffer.back() = L'\0';
        return zString(buffer.data());
    }
    return zString();
}

zString GetComServerPath(const zString& class_id, bool in_process)
{
    const zString key = L"CLSID\\{" + class_id.unbraced() + (in_process ? L"}\\InprocServer32" : L"}\\LocalServer32");
    zString path;
    return ReadRegistryString(path, HKEY_CLASSES_ROOT, key, L"");
}

zString GetSystemFilePath(const zString& name) { return GetSystemDir(0).combine_path(name.c_str()); }

zString LcidToLocaleName(LCID lcid)
{
    using to_name_fn = int(WINAPI*)(LCID, LPWSTR, int, DWORD);
    using to_rfc1766_fn = HRESULT(WINAPI*)(LCID, LPWSTR, int);
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    if (const auto to_name = kernel32_entry<to_name_fn>("LCIDToLocaleName"))
        return to_name(lcid, name, LOCALE_NAME_MAX_LENGTH, 0) > 0 ? zString(name) : zString();
    if (const auto to_rfc1766 = os_entry<to_rfc1766_fn>(L"mlang.dll", "LcidToRfc1766W"))
        if (SUCCEEDED(to_rfc1766(lcid, name, LOCALE_NAME_MAX_LENGTH))) {
            name[LOCALE_NAME_MAX_LENGTH - 1] = L'\0';
            return zString(name);
        }
    return zString();
}

LCID LocaleNameToLcid(const zString& name)
{
    using to_lcid_fn = LCID(WINAPI*)(LPCWSTR, DWORD);
    using from_rfc1766_fn = HRESULT(WINAPI*)(LCID*, LPCWSTR);
    if (const auto to_lcid = kernel32_entry<to_lcid_fn>("LocaleNameToLCID")) return to_lcid(name.c_str(), 0);
    LCID lcid = 0;
    if (const auto from_rfc1766 = os_entry<from_rfc1766_fn>(L"mlang.dll", "Rfc1766ToLcidW"))
        if (SUCCEEDED(from_rfc1766(&lcid, name.c_str()))) return lcid;
    return 0;
}

bool ReadIniBool(const zString& file, const zString& section, const zString& key, bool default_value)
{
    return read_ini(file, [&](inifilex& ini) { return ini.get_bool(section, key, default_value); }, default_value);
}

int ReadIniInt(const zString& file, const zString& section, const zString& key, int default_value)
{
    return read_ini(file, [&](inifilex& ini) { return ini.get_int(section, key, default_value); }, default_value);
}

zString ReadIniString(const zString& file, const zString& section, const zString& key, const zString& default_value)
{
    return read_ini(file, [&](inifilex& ini) { return ini.get_string(section, key, default_value); }, default_value);
}

bool WriteIniBool(const zString& file, const zString& section, const zString& key, bool value)
{
    return write_ini(file, [&](inifilex& ini) { ini.set_bool(section, key, value); });
}

bool WriteIniInt(const zString& file, const zString& section, const zString& key, int value)
{
    return write_ini(file, [&](inifilex& ini) { ini.set_int(section, key, value); });
}

bool WriteIniString(const zString& file, const zString& section, const zString& key, const zString& value)
{
    return write_ini(file, [&](inifilex& ini) { ini.set_string(section, key, value); });
}

std::wstring native_system_path(const system_folder_set& folders, std::wstring_view path)
{
    if (folders.wow64) {
        if (auto moved = swapped_folder(path, folders.system, folders.sysnative)) return *moved;
        if (auto moved = swapped_folder(path, folders.syswow64, folders.system)) return *moved;
    }
    return std::wstring(path);
}

std::wstring wow64_system_path(const system_folder_set& folders, std::wstring_view path)
{
    if (folders.wow64) {
        if (auto moved = swapped_folder(path, folders.sysnative, folders.system)) return *moved;
        if (auto moved = swapped_folder(path, folders.system, folders.syswow64)) return *moved;
    }
    return std::wstring(path);
}

zString ToNativeSystemPath(const zString& path) { return zString(native_system_path(process_folders(), path.view())); }

zString ToWow64SystemPath(const zString& path) { return zString(wow64_system_path(process_folders(), path.view())); }

zString GetFileVersionString(const zString& path, const zString& separator)
{
    version_info info;
    if (!info.load(path)) return zString();
    const wchar_t* s = separator.c_str();
    zString text;
    return text.format(L"%d%s%d%s%d%s%d", info.major(), s, info.minor(), s, info.build(), s, info.revision());
}

bool GetTypeLibVersion(const zString& path, DWORD& version)
{
    SetLastFileOpError(ERROR_SUCCESS);
    // Loading by a relative path would register the library: it is only looked at here.
    com_ptr<ITypeLib> library;
    HRESULT result = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put());
    TLIBATTR* attributes = nullptr;
    if (SUCCEEDED(result)) result = library.get()->GetLibAttr(&attributes);
    if (FAILED(result)) {
        SetLastFileOpError(static_cast<DWORD>(result));
        return false;
    }
    version = static_cast<DWORD>(attributes->wMajorVerNum) << 16 | attributes->wMinorVerNum;
    library.get()->ReleaseTLibAttr(attributes);
    return true;
}

zString ExpandEnvironment(const zString& text)
{
    if (text.empty()) return zString();
    DWORD size = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    // A variable that grows between the calls is expanded again, a few times at most.
    for (int attempt = 0; size != 0 && attempt < 4; ++attempt) {
        std::vector<wchar_t> buffer(size);
        const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), buffer.data(), size);
        if (needed == 0) break;
        if (needed <= size) return zString(buffer.data());
        size = needed;
    }
    return zString();
}

const std::vector<zString>& GetPathFolders()
{
    static const std::vector<zString> folders = [] {
        std::vector<zString> out;
        const DWORD size = GetEnvironmentVariableW(L"Path", nullptr, 0);
        if (size == 0) return out;
        std::vector<wchar_t> value(size);
        const DWORD length = GetEnvironmentVariableW(L"Path", value.data(), size);
        if (length == 0 || length >= size) return out;
        // An empty entry names no folder.
        return ExpandEnvironment(zString(value.data())).split(L";", true);
    }();
    return folders;
}

zString FormatDateTime(const SYSTEMTIME& time)
{
    // A part that Windows cannot format stays empty rather than holding what the buffer held.
    wchar_t date[260] = {};
    wchar_t clock[260] = {};
    if (!GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, date, 260)) date[0] = L'\0';
    if (!GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &time, nullptr, clock, 260)) clock[0] = L'\0';
    if (!date[0] && !clock[0]) return zString();
    return zString(date) + L" " + clock;
}

zString GetLocalTimeText()
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return FormatDateTime(now);
}

LANGID WithDefaultSublanguage(LANGID language)
{
    return (language & ~0x3FF) == 0 ? static_cast<LANGID>(language | SUBLANG_DEFAULT << 10) : language;
}

bool HasGetProcessId() { return kernel32_entry<FARPROC>("GetProcessId") != nullptr; }

bool LooksLikeUuid(const zString& text)
{
    UUID uuid{};
    return UuidFromStringW(reinterpret_cast<RPC_WSTR>(const_cast<wchar_t*>(text.c_str())), &uuid) == RPC_S_OK;
}

}  // namespace qv
