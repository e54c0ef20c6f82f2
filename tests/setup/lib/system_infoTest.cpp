#include "system_info.h"

#include "FakeEntries.h"
#include "FileSupport.h"
#include "ScratchFolder.h"
#include "file_system.h"
#include "fixtures/scratch_key.h"
#include "system_folders.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

OSVERSIONINFOW version_record(DWORD platform, DWORD major, DWORD minor, DWORD build = 0)
{
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    info.dwPlatformId = platform;
    info.dwMajorVersion = major;
    info.dwMinorVersion = minor;
    info.dwBuildNumber = build;
    return info;
}

// The library's version seam answers with a record of the case's choosing, or fails.
class shown_version {
public:
    explicit shown_version(const OSVERSIONINFOW& record, bool answers = true) : kept_(qv::folder_seams::os_version)
    {
        record_ = record;
        answers_ = answers;
        qv::folder_seams::os_version = answer;
    }
    ~shown_version() { qv::folder_seams::os_version = kept_; }
    shown_version(const shown_version&) = delete;
    shown_version& operator=(const shown_version&) = delete;

private:
    static bool answer(OSVERSIONINFOW& info)
    {
        info = record_;
        return answers_;
    }
    static inline OSVERSIONINFOW record_{};
    static inline bool answers_ = true;
    bool (*kept_)(OSVERSIONINFOW&);
};

// What Windows itself says of this process, asked without the library.
bool process_is_wow64()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

constexpr bool process_is_64bit = sizeof(void*) == 8;

constexpr DWORD nine_x = VER_PLATFORM_WIN32_WINDOWS;
constexpr DWORD nt = VER_PLATFORM_WIN32_NT;

TEST(OsVersionFlag, EveryReleaseOfTheTableAndWhatLiesBesideIt)
{
    struct Row {
        const char* name;
        DWORD platform, major, minor;
        bool kernel32_is_me;
        DWORD flag;
        bool known;
        const wchar_t* display;
    } rows[] = {
        {"Windows 95", nine_x, 4, 0, false, 0x10, true, L"Windows 95"},
        {"Windows 98", nine_x, 4, 10, false, 0x40, true, L"Windows 98"},
        {"Windows 98 with Kernel32 4.90 is Me", nine_x, 4, 10, true, 0x80, true, L"Windows Me"},
        {"Windows Me", nine_x, 4, 90, false, 0x80, true, L"Windows Me"},
        {"Kernel32 4.90 on 95 changes nothing", nine_x, 4, 0, true, 0x10, true, L"Windows 95"},
        {"9x with another minor", nine_x, 4, 3, false, 0x80, false, L"Windows Me"},
        {"NT 4.0", nt, 4, 0, false, 0x10000, true, L"Windows NT 4.0"},
        {"NT 4 with another minor", nt, 4, 2, false, 0x10000, true, L"Windows NT 4.0"},
        {"2000", nt, 5, 0, false, 0x100000, true, L"Windows 2000"},
        {"XP", nt, 5, 1, false, 0x400000, true, L"Windows XP"},
        {"Server 2003", nt, 5, 2, false, 0x800000, true, L"Windows Server 2003"},
        {"Vista", nt, 6, 0, false, 0x1000000, true, L"Windows Vista / Server 2008"},
        {"7", nt, 6, 1, false, 0x2000000, true, L"Windows 7 / Server 2008 R2"},
        {"8", nt, 6, 2, false, 0x4000000, true, L"Windows 8 / Server 2012"},
        {"8.1", nt, 6, 3, false, 0x8000000, true, L"Windows 8.1 / Server 2012 R2"},
        {"10", nt, 10, 0, false, 0x10000000, true, L"Windows 10 / Server 2016"},
        {"Kernel32 4.90 on NT changes nothing", nt, 6, 1, true, 0x2000000, true, L"Windows 7 / Server 2008 R2"},
        {"NT 5.3", nt, 5, 3, false, 0, false, L""},
        {"NT 6.4", nt, 6, 4, false, 0, false, L""},
        {"NT 10.1", nt, 10, 1, false, 0, false, L""},
        {"NT 11.0 is taken for 10", nt, 11, 0, false, 0x10000000, false, L"Windows 10 / Server 2016"},
        {"NT 3.51", nt, 3, 51, false, 0x10000000, false, L"Windows 10 / Server 2016"},
        {"Win32s", VER_PLATFORM_WIN32s, 3, 10, false, 0, false, L""},
        {"another platform", 3, 10, 0, false, 0, false, L""},
    };
    for (const Row& row : rows) {
        const qv::os_version_answer answer =
            qv::os_version_flag(version_record(row.platform, row.major, row.minor), row.kernel32_is_me);
        EXPECT_EQ(answer.flag, row.flag) << row.name;
        EXPECT_EQ(answer.known, row.known) << row.name;
        EXPECT_STREQ(qv::os_display_name(answer.flag), row.display) << row.name;
    }
}

TEST(OsVersionFlag, NamesOnlyTheFlagsOfTheTable)
{
    struct Row {
        const char* name;
        DWORD flag;
        const wchar_t* display;
    } rows[] = {
        {"Windows 98", 0x40, L"Windows 98"},
        {"Windows Me", 0x80, L"Windows Me"},
        {"Server 2003", 0x800000, L"Windows Server 2003"},
        {"a bit of no release", 0x20, L""},
        {"two releases at once", 0x400000 | 0x10, L""},
        {"every bit", 0xFFFFFFFF, L""},
    };
    for (const Row& row : rows) {
        EXPECT_STREQ(qv::os_display_name(row.flag), row.display) << row.name;
        // A flag that is not 0 never asks the machine.
        const shown_version failing(version_record(nt, 6, 4), false);
        EXPECT_EQ(qv::GetOsDisplayName(row.flag), row.display) << row.name;
    }
}

TEST(OsVersionFlag, ThisMachineThroughTheVersionSeam)
{
    struct Row {
        const char* name;
        OSVERSIONINFOW record;
        bool answers;
        DWORD flag;
        bool known;
        const wchar_t* display;
    } rows[] = {
        // Kernel32.dll of this system folder is no 4.90: minor 10 is Windows 98.
        {"Windows 98, told by the real Kernel32.dll", version_record(nine_x, 4, 10), true, 0x40, true, L"Windows 98"},
        {"XP", version_record(nt, 5, 1), true, 0x400000, true, L"Windows XP"},
        {"NT 6.4", version_record(nt, 6, 4), true, 0, false, L""},
        {"NT 11.0", version_record(nt, 11, 0), true, 0x10000000, false, L"Windows 10 / Server 2016"},
        {"no version from Windows", version_record(nt, 6, 1), false, 0, false, L""},
    };
    for (const Row& row : rows) {
        const shown_version shown(row.record, row.answers);
        DWORD reserved = 77;
        DWORD flag = 77;
        EXPECT_EQ(qv::GetOsVersionFlag(reserved, flag), row.known) << row.name;
        EXPECT_EQ(flag, row.flag) << row.name;
        EXPECT_EQ(reserved, 0u) << row.name;
        EXPECT_EQ(qv::GetOsDisplayName(0), row.display) << row.name;
    }
}

TEST(OsVersionFlag, VersionFieldsAndTheirAnswerWithoutAVersion)
{
    struct Row {
        const char* name;
        OSVERSIONINFOW record;
        bool answers;
        DWORD platform, major, minor, build;
        bool nine_x, nt, nt5;
    } rows[] = {
        {"XP", version_record(nt, 5, 1, 2600), true, nt, 5, 1, 2600, false, true, true},
        {"NT 4", version_record(nt, 4, 0, 1381), true, nt, 4, 0, 1381, false, true, false},
        {"Windows 98", version_record(nine_x, 4, 10, 1998), true, nine_x, 4, 10, 1998, true, false, false},
        {"no version from Windows", version_record(nt, 10, 0, 19041), false, 0, 0, 0, 0, false, false, false},
    };
    for (const Row& row : rows) {
        const shown_version shown(row.record, row.answers);
        EXPECT_EQ(qv::GetPlatformId(), row.platform) << row.name;
        EXPECT_EQ(qv::GetOsMajorVersion(), row.major) << row.name;
        EXPECT_EQ(qv::GetOsMinorVersion(), row.minor) << row.name;
        EXPECT_EQ(qv::GetOsBuildNumber(), row.build) << row.name;
        EXPECT_EQ(qv::IsWindows9x(), row.nine_x) << row.name;
        EXPECT_EQ(qv::IsWindowsNt(), row.nt) << row.name;
        EXPECT_EQ(qv::IsNt5OrLater(), row.nt5) << row.name;
    }
}

// The probe program copied under a name of the case's own, with Wine told to show that name
// the given Windows version; removed with its setting when the case ends.
class version_probe {
public:
    explicit version_probe(const wchar_t* wine_version) : folder_(L"osprobe")
    {
        static LONG made = 0;
        name_ = L"corvane_osprobe_" + std::to_wstring(GetCurrentProcessId()) + L"_"
                + std::to_wstring(InterlockedIncrement(&made)) + L".exe";
        exe_ = folder_.join(name_);
        copied_ = CopyFileW(beside_program(L"os_version_probe.exe").c_str(), exe_.c_str(), FALSE) != FALSE;
        if (wine_version) {
            settings_ = L"Software\\Wine\\AppDefaults\\" + name_;
            qv::registry_key key;
            RegCreateKeyExW(HKEY_CURRENT_USER, settings_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr);
            const std::wstring value(wine_version);
            RegSetValueExW(key.get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        }
    }
    ~version_probe()
    {
        if (!settings_.empty()) RegDeleteTreeW(HKEY_CURRENT_USER, settings_.c_str());
    }
    version_probe(const version_probe&) = delete;
    version_probe& operator=(const version_probe&) = delete;

    // The probe's report, or why there is none.
    std::wstring run() const
    {
        if (!copied_) return L"(no copy of the probe)";
        const std::wstring report = folder_.join(L"report.txt");
        std::wstring command = L"\"" + exe_ + L"\" \"" + report + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started{};
        if (!CreateProcessW(exe_.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
            return L"(probe not started)";
        const qv::kernel_handle process(started.hProcess);
        const qv::kernel_handle thread(started.hThread);
        if (WaitForSingleObject(process.get(), 30000) != WAIT_OBJECT_0) {
            TerminateProcess(process.get(), 1);
            return L"(probe did not end)";
        }
        DWORD code = 1;
        GetExitCodeProcess(process.get(), &code);
        if (code != 0) return L"(probe ended with " + std::to_wstring(code) + L")";
        const bytes text = read_back(report);
        return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size() / sizeof(wchar_t));
    }

private:
    scratch_folder folder_;
    std::wstring name_;
    std::wstring exe_;
    std::wstring settings_;
    bool copied_ = false;
};

TEST(OsVersionFlag, ProgramsShownAnotherWindowsByWine)
{
    struct Row {
        const char* name;
        const wchar_t* wine_version;
        const wchar_t* report;
    } rows[] = {
        {"Windows XP", L"winxp", L"400000|1|Windows XP|5.1"},
        {"Windows 10, which the probe's manifest lets through", L"win10", L"10000000|1|Windows 10 / Server 2016|10.0"},
        {"the prefix's own Windows 7", nullptr, L"2000000|1|Windows 7 / Server 2008 R2|6.1"},
    };
    for (const Row& row : rows) {
        const version_probe probe(row.wine_version);
        EXPECT_EQ(probe.run(), row.report) << row.name;
    }
}

struct native_info_fake {
    static inline WORD architecture = 0;
    static void WINAPI answer(LPSYSTEM_INFO info)
    {
        *info = {};
        info->wProcessorArchitecture = architecture;
    }
};

TEST(Processor, ArchitectureFromTheNativeEntryElseTheProcessOwn)
{
    struct Row {
        const char* name;
        bool replaced;
        WORD architecture;
        bool ia64, amd64;
    } rows[] = {
        {"IA64", true, PROCESSOR_ARCHITECTURE_IA64, true, false},
        {"AMD64", true, PROCESSOR_ARCHITECTURE_AMD64, false, true},
        {"x86", true, PROCESSOR_ARCHITECTURE_INTEL, false, false},
        // The process's own view: x86 for a 32-bit process, also on 64-bit Windows.
        {"no GetNativeSystemInfo", false, 0, false, process_is_64bit},
    };
    for (const Row& row : rows) {
        fake_entries entries;
        native_info_fake::architecture = row.architecture;
        if (row.replaced) entries.replace("GetNativeSystemInfo", native_info_fake::answer);
        else entries.hide("GetNativeSystemInfo");
        EXPECT_EQ(qv::IsIa64Processor(), row.ia64) << row.name;
        EXPECT_EQ(qv::IsAmd64Processor(), row.amd64) << row.name;
        EXPECT_EQ(qv::IsWindows64(), row.ia64 || row.amd64) << row.name;
    }
    // Wine runs on x86-64 here, whatever this process's own width.
    EXPECT_TRUE(qv::IsAmd64Processor());
    EXPECT_TRUE(qv::IsWindows64());
}

// Kernel32's WOW64 entries as a 32-bit process on 64-bit Windows sees them, each call noted.
struct wow64_fakes {
    static inline std::vector<std::string> calls;
    static inline UINT_PTR levels = 0;
    static inline int failing_disable = 0;  // the disabling (counted from 1) that fails

    static BOOL WINAPI is_wow64(HANDLE, PBOOL wow64)
    {
        *wow64 = TRUE;
        return TRUE;
    }
    static BOOL WINAPI not_wow64(HANDLE, PBOOL wow64)
    {
        *wow64 = FALSE;
        return TRUE;
    }
    static BOOL WINAPI disable(PVOID* old)
    {
        if (static_cast<int>(levels + 1) == failing_disable) {
            ++levels;
            calls.push_back("disable failed");
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        *old = reinterpret_cast<PVOID>(++levels);
        calls.push_back("disable " + std::to_string(levels));
        return TRUE;
    }
    static BOOL WINAPI revert(PVOID old)
    {
        calls.push_back("revert " + std::to_string(reinterpret_cast<UINT_PTR>(old)));
        return TRUE;
    }
    static BOOLEAN WINAPI enable(BOOLEAN on)
    {
        calls.push_back(on ? "switch on" : "switch off");
        return TRUE;
    }

    explicit wow64_fakes(fake_entries& entries)
    {
        calls.clear();
        levels = 0;
        failing_disable = 0;
        entries.replace("IsWow64Process", is_wow64);
        entries.replace("Wow64DisableWow64FsRedirection", disable);
        entries.replace("Wow64RevertWow64FsRedirection", revert);
        entries.replace("Wow64EnableWow64FsRedirection", enable);
    }
};

TEST(FsRedirection, NestedLevelsRestoreInReverseOrder)
{
    fake_entries entries;
    const wow64_fakes wow64(entries);
    EXPECT_TRUE(qv::IsWow64());
    EXPECT_TRUE(qv::SetFsRedirection(false));
    EXPECT_TRUE(qv::SetFsRedirection(false));
    EXPECT_TRUE(qv::SetFsRedirection(true));
    EXPECT_TRUE(qv::SetFsRedirection(true));
    // Nothing left to restore: the switch is used.
    EXPECT_TRUE(qv::SetFsRedirection(true));
    EXPECT_EQ(wow64_fakes::calls,
        (std::vector<std::string>{"disable 1", "disable 2", "revert 2", "revert 1", "switch on"}));
}

TEST(FsRedirection, AFailedDisablingLeavesTheLevelAroundItAlone)
{
    fake_entries entries;
    const wow64_fakes wow64(entries);
    wow64_fakes::failing_disable = 2;
    EXPECT_TRUE(qv::SetFsRedirection(false));
    EXPECT_FALSE(qv::SetFsRedirection(false));
    EXPECT_TRUE(qv::SetFsRedirection(true)) << "the failed level changed nothing to undo";
    EXPECT_TRUE(qv::SetFsRedirection(true));
    EXPECT_EQ(wow64_fakes::calls, (std::vector<std::string>{"disable 1", "disable failed", "revert 1"}));
}

TEST(FsRedirection, TheSwitchWhereDisableOrRevertIsMissing)
{
    struct Row {
        const char* name;
        const char* missing;
        bool switch_missing;
        bool answer;
        std::vector<std::string> calls;
    } rows[] = {
        {"no revert", "Wow64RevertWow64FsRedirection", false, true, {"switch off", "switch on"}},
        {"no disable", "Wow64DisableWow64FsRedirection", false, true, {"switch off", "switch on"}},
        {"nothing at all", "Wow64DisableWow64FsRedirection", true, false, {}},
    };
    for (const Row& row : rows) {
        fake_entries entries;
        const wow64_fakes wow64(entries);
        entries.hide(row.missing);
        if (row.switch_missing) entries.hide("Wow64EnableWow64FsRedirection");
        EXPECT_EQ(qv::SetFsRedirection(false), row.answer) << row.name;
        EXPECT_EQ(qv::SetFsRedirection(true), row.answer) << row.name;
        EXPECT_EQ(wow64_fakes::calls, row.calls) << row.name;
    }
}

TEST(FsRedirection, FalseOutsideWow64)
{
    struct Row {
        const char* name;
        bool hidden;  // else answering no
    } rows[] = {
        {"no IsWow64Process", true},
        {"IsWow64Process says no", false},
    };
    for (const Row& row : rows) {
        fake_entries entries;
        const wow64_fakes wow64(entries);
        if (row.hidden) entries.hide("IsWow64Process");
        else entries.replace("IsWow64Process", wow64_fakes::not_wow64);
        EXPECT_FALSE(qv::IsWow64()) << row.name;
        EXPECT_FALSE(qv::SetFsRedirection(false)) << row.name;
        EXPECT_FALSE(qv::SetFsRedirection(true)) << row.name;
        EXPECT_TRUE(wow64_fakes::calls.empty()) << row.name;
        for (const std::string& name : entries.asked)
            EXPECT_EQ(name, "IsWow64Process") << row.name << ": looked further than WOW64";
    }
    EXPECT_EQ(qv::IsWow64(), process_is_wow64()) << "this process";
}

// A file put in the 32-bit system folder shows in the system folder only while this process's
// view is redirected.
TEST(FsRedirection, NestedLevelsOfThisWow64Process)
{
    if (!process_is_wow64()) GTEST_SKIP() << "a 64-bit process sees no redirection";
    const std::wstring windows = qv::GetWindowsDirW();
    const std::wstring name = L"corvane_redirected_" + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    const std::wstring placed = windows + L"syswow64\\" + name;
    const std::wstring seen = windows + L"system32\\" + name;
    {
        const qv::file_handle file(
            CreateFileW(placed.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file.valid());
    }
    EXPECT_TRUE(exists(seen));
    EXPECT_TRUE(qv::SetFsRedirection(false));
    EXPECT_FALSE(exists(seen));
    EXPECT_TRUE(qv::SetFsRedirection(false));
    EXPECT_TRUE(qv::SetFsRedirection(true));
    EXPECT_FALSE(exists(seen)) << "the outer level is still off";
    EXPECT_TRUE(qv::SetFsRedirection(true));
    EXPECT_TRUE(exists(seen));

    // The paths that name each view whatever the redirection.
    EXPECT_EQ(qv::ToWow64SystemPath(seen.c_str()).str(), placed);
    EXPECT_TRUE(exists(qv::ToWow64SystemPath(seen.c_str()).str()));
    EXPECT_EQ(qv::ToNativeSystemPath(seen.c_str()).str(), windows + L"sysnative\\" + name);
    EXPECT_FALSE(exists(qv::ToNativeSystemPath(seen.c_str()).str()));
    EXPECT_TRUE(exists(qv::ToNativeSystemPath(qv::GetSystemFilePath(L"kernel32.dll")).str()));
    DeleteFileW(placed.c_str());
}

TEST(SystemPaths, FoldersSwappedOnlyUnderWow64)
{
    const qv::system_folder_set wow64{
        L"C:\\Windows\\system32\\", L"C:\\Windows\\sysnative\\", L"C:\\Windows\\syswow64\\", true};
    qv::system_folder_set native = wow64;
    native.wow64 = false;
    struct Row {
        const char* name;
        const qv::system_folder_set* folders;
        const wchar_t* path;
        const wchar_t* to_native;
        const wchar_t* to_wow64;
    } rows[] = {
        {"a system file", &wow64, L"C:\\Windows\\system32\\drivers\\x.sys", L"C:\\Windows\\sysnative\\drivers\\x.sys",
            L"C:\\Windows\\syswow64\\drivers\\x.sys"},
        {"another case", &wow64, L"c:\\WINDOWS\\SYSTEM32\\a.dll", L"C:\\Windows\\sysnative\\a.dll",
            L"C:\\Windows\\syswow64\\a.dll"},
        {"the folder itself", &wow64, L"C:\\Windows\\System32", L"C:\\Windows\\sysnative", L"C:\\Windows\\syswow64"},
        {"a syswow64 file", &wow64, L"C:\\Windows\\SysWOW64\\a.dll", L"C:\\Windows\\system32\\a.dll",
            L"C:\\Windows\\SysWOW64\\a.dll"},
        {"a sysnative file", &wow64, L"C:\\Windows\\Sysnative\\a.dll", L"C:\\Windows\\Sysnative\\a.dll",
            L"C:\\Windows\\system32\\a.dll"},
        {"a name that only begins alike", &wow64, L"C:\\Windows\\system32x\\a.dll", L"C:\\Windows\\system32x\\a.dll",
            L"C:\\Windows\\system32x\\a.dll"},
        {"elsewhere", &wow64, L"D:\\Tools\\a.exe", L"D:\\Tools\\a.exe", L"D:\\Tools\\a.exe"},
        {"empty", &wow64, L"", L"", L""},
        {"no WOW64", &native, L"C:\\Windows\\system32\\a.dll", L"C:\\Windows\\system32\\a.dll",
            L"C:\\Windows\\system32\\a.dll"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(qv::native_system_path(*row.folders, row.path), row.to_native) << row.name;
        EXPECT_EQ(qv::wow64_system_path(*row.folders, row.path), row.to_wow64) << row.name;
    }

    // This process's own folders: swapped only when it runs under WOW64.
    const std::wstring windows = qv::GetWindowsDirW();
    const zString file = qv::GetSystemDir(0) + L"kernel32.dll";
    const bool wow64_process = process_is_wow64();
    EXPECT_EQ(qv::ToNativeSystemPath(file).str(), wow64_process ? windows + L"sysnative\\kernel32.dll" : file.str());
    EXPECT_EQ(qv::ToWow64SystemPath(file).str(), wow64_process ? windows + L"syswow64\\kernel32.dll" : file.str());
}

TEST(UiLanguage, TheSystemAnswerElseTheDefaultUserRegistry)
{
    struct Row {
        const char* name;
        bool entry;
        const wchar_t* resource_locale;  // the unnamed value of its key; null: no key
        const wchar_t* locale;
        LANGID expected;  // 0: the system's answer
    } rows[] = {
        {"the system's answer first", true, L"0407", L"0000040C", 0},
        {"the resource locale", false, L"0407", L"0000040C", 0x407},
        {"ten digits are read", false, L"0000000407", L"0000040C", 0x407},
        {"a longer resource locale is passed over", false, L"00000000407", L"0000040C", 0x40C},
        {"a resource locale that is no number", false, L"zz", L"0000041D", 0x41D},
        {"the locale's language, without the sort", false, nullptr, L"00010407", 0x407},
        {"neither: English", false, nullptr, nullptr, 0x409},
    };
    for (const Row& row : rows) {
        const scratch_key users(L"UiLanguage");
        if (row.resource_locale) users.set_text(L".DEFAULT\\Control Panel\\desktop\\ResourceLocale", L"", row.resource_locale);
        else users.create(L".DEFAULT\\Control Panel\\desktop");
        if (row.locale) users.set_text(L".DEFAULT\\Control Panel\\International", L"Locale", row.locale);
        fake_entries entries;
        if (!row.entry) entries.hide("GetSystemDefaultUILanguage");
        LANGID answer = 0;
        {
            const overridden_root shown(HKEY_USERS, users.get());
            ASSERT_TRUE(shown.took()) << row.name;
            answer = qv::GetUiLanguage();
        }
        EXPECT_EQ(answer, row.expected ? row.expected : GetSystemDefaultUILanguage()) << row.name;
    }
}

TEST(IeVersion, TheRegisteredVersionOrNothing)
{
    struct Row {
        const char* name;
        bool key;
        const wchar_t* version;  // null: no value
        DWORD type;
        const wchar_t* expected;
        DWORD error;
    } rows[] = {
        {"registered", true, L"11.0.9600.19036", REG_SZ, L"11.0.9600.19036", 0},
        {"no value", true, nullptr, REG_SZ, L"", ERROR_FILE_NOT_FOUND},
        {"a number in its place", true, L"", REG_DWORD, L"", ERROR_UNSUPPORTED_TYPE},
        {"no key", false, nullptr, REG_SZ, L"", ERROR_FILE_NOT_FOUND},
    };
    for (const Row& row : rows) {
        const scratch_key machine(L"IeVersion");
        const wchar_t* ie = L"Software\\Microsoft\\Internet Explorer";
        if (row.key) machine.create(ie);
        if (row.version && row.type == REG_SZ) machine.set_text(ie, L"Version", row.version);
        if (row.type == REG_DWORD) {
            const DWORD number = 11;
            machine.set(ie, L"Version", REG_DWORD, &number, sizeof number);
        }
        zString version;
        {
            const overridden_root shown(HKEY_LOCAL_MACHINE, machine.get());
            ASSERT_TRUE(shown.took()) << row.name;
            version = qv::GetIeVersion();
        }
        EXPECT_EQ(version.str(), row.expected) << row.name;
        EXPECT_EQ(qv::LastFileOpError(), row.error) << row.name;
    }
}

TEST(FileVersions, InternalVersionUnderTheFirstTranslation)
{
    struct Row {
        const char* name;
        std::wstring file;
        const wchar_t* expected;
    } rows[] = {
        {"first of two translations", beside_program(L"internal_version_fixture.dll"), L"4.5.6-intern"},
        // Its internal version sits under the second translation only.
        {"not under the first", beside_program(L"version_fixture.dll"), L""},
        {"no version resource", beside_program(L"no_version_fixture.dll"), L""},
        {"no file", beside_program(L"no_such_fixture.dll"), L""},
    };
    for (const Row& row : rows) EXPECT_EQ(qv::GetInternalVersion(row.file.c_str()).str(), row.expected) << row.name;
}

TEST(FileVersions, FileVersionAsFourNumbers)
{
    struct Row {
        const char* name;
        std::wstring file;
        const wchar_t* separator;
        const wchar_t* expected;
    } rows[] = {
        {"dots", beside_program(L"version_fixture.dll"), L".", L"1.2.3.4"},
        {"a longer separator", beside_program(L"version_fixture.dll"), L", ", L"1, 2, 3, 4"},
        {"no separator", beside_program(L"version_fixture.dll"), L"", L"1234"},
        {"a word of all ones is no negative", beside_program(L"internal_version_fixture.dll"), L".", L"10.0.65535.7"},
        {"no version resource", beside_program(L"no_version_fixture.dll"), L".", L""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(qv::GetFileVersionString(row.file.c_str(), row.separator).str(), row.expected) << row.name;
}

TEST(FileVersions, TypeLibraryVersionAndTheFailureOfOthers)
{
    DWORD version = 0;
    qv::SetLastFileOpError(5);
    ASSERT_TRUE(qv::GetTypeLibVersion(beside_program(L"version_typelib.tlb").c_str(), version));
    EXPECT_EQ(version, 0x30007u);
    EXPECT_EQ(qv::LastFileOpError(), 0u);

    struct Row {
        const char* name;
        std::wstring file;
    } rows[] = {
        {"no file", beside_program(L"no_such_library.tlb")},
        {"a DLL without a type library", beside_program(L"no_version_fixture.dll")},
        {"a text file", L"fixtures\\version_typelib.idl"},
    };
    for (const Row& row : rows) {
        version = 99;
        EXPECT_FALSE(qv::GetTypeLibVersion(row.file.c_str(), version)) << row.name;
        EXPECT_EQ(version, 99u) << row.name;
        // The HRESULT itself: a failure code has its top bit set.
        EXPECT_NE(qv::LastFileOpError() & 0x80000000u, 0u) << row.name << ": " << std::hex << qv::LastFileOpError();
    }
}

TEST(FileVersions, ATypeLibraryByARelativePathIsNotRegistered)
{
    const scratch_folder folder(L"typelib");
    ASSERT_TRUE(CopyFileW(beside_program(L"version_typelib.tlb").c_str(), folder.join(L"version_typelib.tlb").c_str(), FALSE));
    wchar_t kept[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, kept);
    SetCurrentDirectoryW(folder.path().c_str());
    DWORD version = 0;
    const bool read = qv::GetTypeLibVersion(L"version_typelib.tlb", version);
    SetCurrentDirectoryW(kept);
    EXPECT_TRUE(read);
    EXPECT_EQ(version, 0x30007u);
    const wchar_t* registered = L"TypeLib\\{6D1C4A35-2E1B-4C3B-9B6E-1F0D3A2C5B71}";
    qv::registry_key key;
    const bool found = RegOpenKeyExW(HKEY_CLASSES_ROOT, registered, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
    key.reset();
    if (found) RegDeleteTreeW(HKEY_CLASSES_ROOT, registered);
    EXPECT_FALSE(found) << "looking at the library registered it";
}

struct product_fakes {
    static inline std::wstring asked_property;
    static inline int calls = 0;
    static std::wstring long_name() { return std::wstring(300, L'n') + L" end"; }

    static UINT WINAPI long_answer(LPCWSTR, LPCWSTR property, LPWSTR buffer, LPDWORD length)
    {
        ++calls;
        asked_property = property;
        const std::wstring name = long_name();
        if (*length <= name.size()) {
            *length = static_cast<DWORD>(name.size());
            return ERROR_MORE_DATA;
        }
        name.copy(buffer, name.size());
        buffer[name.size()] = L'\0';
        *length = static_cast<DWORD>(name.size());
        return ERROR_SUCCESS;
    }
};

TEST(InstalledProduct, NameOrNothing)
{
    struct Row {
        const char* name;
        const wchar_t* code;
        int entry;  // 0 the installer's own, 1 hidden, 2 one that answers a long name
        std::wstring expected;
    } rows[] = {
        {"an unknown product", L"{6D1C4A35-2E1B-4C3B-9B6E-1F0D3A2C5B72}", 0, L""},
        {"no product code", L"", 0, L""},
        {"a code of no form", L"not a code", 0, L""},
        {"no installer", L"{6D1C4A35-2E1B-4C3B-9B6E-1F0D3A2C5B72}", 1, L""},
        {"a name longer than the first buffer", L"{6D1C4A35-2E1B-4C3B-9B6E-1F0D3A2C5B72}", 2, product_fakes::long_name()},
    };
    for (const Row& row : rows) {
        fake_entries entries;
        product_fakes::calls = 0;
        if (row.entry == 1) entries.hide("MsiGetProductInfoW");
        if (row.entry == 2) entries.replace("MsiGetProductInfoW", product_fakes::long_answer);
        EXPECT_EQ(qv::GetInstalledProductName(row.code).str(), row.expected) << row.name;
        if (row.entry == 2) {
            EXPECT_EQ(product_fakes::asked_property, L"InstalledProductName");
            EXPECT_EQ(product_fakes::calls, 2);
        }
    }
}

TEST(ComServer, ThePathRegisteredForTheClass)
{
    const wchar_t* id = L"6D1C4A35-2E1B-4C3B-9B6E-1F0D3A2C5B73";
    const scratch_key classes(L"ComServer");
    classes.set_text(L"CLSID\\{6D1C4A35-2E1B-4C3B-9B6E-1F0D3A2C5B73}\\InprocServer32", L"", L"C:\\Servers\\inproc.dll");
    classes.set_text(L"CLSID\\{6D1C4A35-2E1B-4C3B-9B6E-1F0D3A2C5B73}\\LocalServer32", L"", L"\"C:\\Servers\\local.exe\" /automation");
    classes.set_text(L"CLSID\\{6D1C4A35-2E1B-4C3B-9B6E-1F0D3A2C5B74}\\LocalServer32", L"", L"C:\\Servers\\only_local.exe");
    struct Row {
        const char* name;
        std::wstring class_id;
        bool in_process;
        const wchar_t* expected;
    } rows[] = {
        {"in-process", id, true, L"C:\\Servers\\inproc.dll"},
        {"local", id, false, L"\"C:\\Servers\\local.exe\" /automation"},
        {"an id given with its braces", L"{" + std::wstring(id) + L"}", true, L"C:\\Servers\\inproc.dll"},
        {"no in-process server", L"6D1C4A35-2E1B-4C3B-9B6E-1F0D3A2C5B74", true, L""},
        {"no class", L"6D1C4A35-2E1B-4C3B-9B6E-1F0D3A2C5B75", false, L""},
    };
    for (const Row& row : rows) {
        zString path;
        {
            const overridden_root shown(HKEY_CLASSES_ROOT, classes.get());
            ASSERT_TRUE(shown.took());
            path = qv::GetComServerPath(row.class_id.c_str(), row.in_process);
        }
        EXPECT_EQ(path.str(), row.expected) << row.name;
    }
}

TEST(SystemFiles, JoinedToTheSystemFolder)
{
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring folder(system, length);
    EXPECT_EQ(qv::GetSystemFilePath(L"kernel32.dll").str(), folder + L"\\kernel32.dll");
    EXPECT_EQ(qv::GetSystemFilePath(L"\\drivers\\etc").str(), folder + L"\\drivers\\etc");
    EXPECT_TRUE(exists(qv::GetSystemFilePath(L"kernel32.dll").str()));
}

TEST(LocaleNames, KernelEntriesElseMlang)
{
    struct Row {
        const char* name;
        bool kernel32, mlang;
        LCID lcid;
        const wchar_t* locale_name;  // what the LCID gives
        const wchar_t* asked_name;
        LCID asked_lcid;  // what that name gives
    } rows[] = {
        {"kernel32: English", true, true, 0x409, L"en-US", L"en-US", 0x409},
        {"kernel32: German", true, true, 0x407, L"de-DE", L"de-de", 0x407},
        {"kernel32: unknown", true, true, 0x12345, L"", L"xx-nothing", 0},
        // mlang's own table names some languages without their country.
        {"mlang: English", false, true, 0x409, L"en-us", L"EN-US", 0x409},
        {"mlang: German", false, true, 0x407, L"de", L"de", 0x407},
        {"mlang: unknown", false, true, 0x12345, L"", L"xx-nothing", 0},
        {"neither", false, false, 0x409, L"", L"en-US", 0},
    };
    for (const Row& row : rows) {
        fake_entries entries;
        if (!row.kernel32) {
            entries.hide("LCIDToLocaleName");
            entries.hide("LocaleNameToLCID");
        }
        if (!row.mlang) {
            entries.hide("LcidToRfc1766W");
            entries.hide("Rfc1766ToLcidW");
        }
        // zString compares without regard to case: the exact text is checked.
        EXPECT_EQ(qv::LcidToLocaleName(row.lcid).str(), row.locale_name) << row.name;
        EXPECT_EQ(qv::LocaleNameToLcid(row.asked_name), row.asked_lcid) << row.name;
    }
}

TEST(IniValues, OneValueReadsAndTheirDefaults)
{
    const scratch_folder folder(L"inivalues");
    const std::string text = "[Startup]\r\nShow=yes\r\nQuiet=No\r\nCount=0x1F\r\nTitle=Hello World\r\nEmpty=\r\n";
    const std::wstring file = folder.write(L"setup.ini", bytes(text.begin(), text.end()));
    const std::string broken = "stray=1\r\n[Startup]\r\nShow=yes\r\nCount=3\r\n";
    const std::wstring broken_file = folder.write(L"broken.ini", bytes(broken.begin(), broken.end()));
    const std::wstring missing = folder.join(L"missing.ini");
    struct Row {
        const char* name;
        const std::wstring& file;
        const wchar_t* key;
        bool flag;
        int number;
        const wchar_t* text;
    } rows[] = {
        // Each row's defaults are true, -1 and "default".
        {"yes", file, L"Show", true, 0, L"yes"},
        {"no", file, L"Quiet", false, 0, L"No"},
        {"hexadecimal", file, L"Count", false, 31, L"0x1F"},
        {"text", file, L"Title", false, 0, L"Hello World"},
        {"an empty value", file, L"Empty", true, -1, L""},
        {"a missing key", file, L"Nothing", true, -1, L"default"},
        {"a missing file", missing, L"Show", true, -1, L"default"},
        {"a file that failed to load", broken_file, L"Count", true, -1, L"default"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(qv::ReadIniBool(row.file.c_str(), L"Startup", row.key, true), row.flag) << row.name;
        EXPECT_EQ(qv::ReadIniInt(row.file.c_str(), L"Startup", row.key, -1), row.number) << row.name;
        EXPECT_EQ(qv::ReadIniString(row.file.c_str(), L"Startup", row.key, L"default").str(), row.text) << row.name;
    }
    EXPECT_EQ(qv::ReadIniString(file.c_str(), L"Elsewhere", L"Title", L"default").str(), L"default");
}

TEST(IniValues, WritesKeepTheRestAndNeverReplaceAFileThatFailedToLoad)
{
    enum writer { as_text, as_flag, as_number };
    struct Row {
        const char* name;
        const char* before;  // null: no file
        writer write;
        bool answer;
        const char* after;
        DWORD error;
    } rows[] = {
        {"a missing file is made", nullptr, as_text, true, "[S]\r\nK=new\r\n", 0},
        {"a value changed, the rest kept", "[A]\r\nx=1\r\n\r\n[S]\r\nK=old\r\ny=2\r\n", as_text, true,
            "[A]\r\nx=1\r\n\r\n[S]\r\nK=new\r\ny=2\r\n", 0},
        {"a section added", "[A]\r\nx=1\r\n", as_flag, true, "[A]\r\nx=1\r\n\r\n[S]\r\nK=Yes\r\n", 0},
        {"a number", "[S]\r\nK=1\r\n", as_number, true, "[S]\r\nK=-5\r\n", 0},
        {"an entry before any header", "stray=1\r\n[S]\r\nK=old\r\n", as_text, false, "stray=1\r\n[S]\r\nK=old\r\n",
            ERROR_INVALID_DATA},
        {"a header without its bracket", "[S]\r\nK=old\r\n[Broken\r\nz=1\r\n", as_flag, false,
            "[S]\r\nK=old\r\n[Broken\r\nz=1\r\n", ERROR_INVALID_DATA},
    };
    for (const Row& row : rows) {
        const scratch_folder folder(L"iniwrite");
        std::wstring file = folder.join(L"setup.ini");
        if (row.before) file = folder.write(L"setup.ini", bytes(row.before, row.before + strlen(row.before)));
        bool answer = false;
        switch (row.write) {
        case as_text: answer = qv::WriteIniString(file.c_str(), L"S", L"K", L"new"); break;
        case as_flag: answer = qv::WriteIniBool(file.c_str(), L"S", L"K", true); break;
        case as_number: answer = qv::WriteIniInt(file.c_str(), L"S", L"K", -5); break;
        }
        EXPECT_EQ(answer, row.answer) << row.name;
        EXPECT_EQ(qv::LastFileOpError(), row.error) << row.name;
        const bytes after = read_back(file);
        EXPECT_EQ(std::string(after.begin(), after.end()), row.after) << row.name;
    }
}

TEST(IniValues, AFileHeldByAnotherIsLeftAsItWas)
{
    const scratch_folder folder(L"iniheld");
    const std::string text = "[S]\r\nK=old\r\n";
    const std::wstring file = folder.write(L"setup.ini", bytes(text.begin(), text.end()));
    {
        const qv::file_handle held(CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held.valid());
        EXPECT_FALSE(qv::WriteIniString(file.c_str(), L"S", L"K", L"new"));
        EXPECT_EQ(qv::LastFileOpError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    const bytes after = read_back(file);
    EXPECT_EQ(std::string(after.begin(), after.end()), text);

    // A folder that is not there yet is made for a new file.
    const std::wstring deeper = folder.join(L"more\\setup.ini");
    EXPECT_TRUE(qv::WriteIniInt(deeper.c_str(), L"S", L"K", 7));
    const bytes made = read_back(deeper);
    EXPECT_EQ(std::string(made.begin(), made.end()), "[S]\r\nK=7\r\n");
}

TEST(Environment, ExpandedText)
{
    const std::wstring long_value(5000, L'v');
    SetEnvironmentVariableW(L"CORVANE_TEST_SHORT", L"abc");
    SetEnvironmentVariableW(L"CORVANE_TEST_LONG", long_value.c_str());
    struct Row {
        const char* name;
        const wchar_t* text;
        std::wstring expected;
    } rows[] = {
        {"a variable", L"%CORVANE_TEST_SHORT%\\x", L"abc\\x"},
        {"past MAX_PATH", L"<%CORVANE_TEST_LONG%>", L"<" + long_value + L">"},
        {"an unknown variable stays", L"%CORVANE_TEST_NONE%", L"%CORVANE_TEST_NONE%"},
        {"plain text", L"plain", L"plain"},
        {"empty", L"", L""},
    };
    for (const Row& row : rows) EXPECT_EQ(qv::ExpandEnvironment(row.text).str(), row.expected) << row.name;
    SetEnvironmentVariableW(L"CORVANE_TEST_SHORT", nullptr);
    SetEnvironmentVariableW(L"CORVANE_TEST_LONG", nullptr);
}

TEST(Environment, PathFoldersReadOnce)
{
    const std::vector<zString>& folders = qv::GetPathFolders();
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    bool has_system = false;
    for (const zString& folder : folders) {
        EXPECT_FALSE(folder.empty());
        EXPECT_EQ(folder.find(L"%"), zString::npos) << "not expanded: " << folder.narrow();
        if (folder == system) has_system = true;
    }
    EXPECT_TRUE(has_system);

    std::vector<wchar_t> kept(32768);
    kept.resize(GetEnvironmentVariableW(L"Path", kept.data(), static_cast<DWORD>(kept.size())));
    kept.push_back(L'\0');
    SetEnvironmentVariableW(L"Path", L"C:\\corvane_elsewhere");
    const std::vector<zString>& again = qv::GetPathFolders();
    SetEnvironmentVariableW(L"Path", kept.data());
    EXPECT_EQ(&again, &folders);
    EXPECT_EQ(again.size(), folders.size());
}

TEST(DateTime, ShortDateAndTimeOfTheUser)
{
    SYSTEMTIME time{};
    time.wYear = 2021;
    time.wMonth = 3;
    time.wDay = 4;
    time.wHour = 17;
    time.wMinute = 6;
    time.wSecond = 7;
    wchar_t date[260], clock[260];
    ASSERT_GT(GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, date, 260), 0);
    ASSERT_GT(GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &time, nullptr, clock, 260), 0);
    const std::wstring text = qv::FormatDateTime(time).str();
    EXPECT_EQ(text, std::wstring(date) + L" " + clock);
    EXPECT_NE(text.find(L"2021"), std::wstring::npos);

    SYSTEMTIME no_time = time;
    no_time.wMonth = 13;
    no_time.wHour = 25;
    EXPECT_EQ(qv::FormatDateTime(no_time).str(), L"") << "a time Windows cannot format gives no text";
    EXPECT_FALSE(qv::GetLocalTimeText().empty());
}

TEST(SmallAnswers, DefaultSublanguage)
{
    struct Row {
        const char* name;
        LANGID id, expected;
    } rows[] = {
        {"German", 0x07, 0x407},
        {"English", 0x09, 0x409},
        {"the highest primary language", 0x3FF, 0x7FF},
        {"neutral", 0x00, 0x400},
        {"with a sublanguage", 0x0807, 0x0807},
        {"the default already", 0x0409, 0x0409},
    };
    for (const Row& row : rows) EXPECT_EQ(qv::WithDefaultSublanguage(row.id), row.expected) << row.name;
}

TEST(SmallAnswers, UuidTexts)
{
    struct Row {
        const char* name;
        const wchar_t* text;
        bool uuid;
    } rows[] = {
        {"upper case", L"6D1C4A35-2E1B-4C3B-9B6E-1F0D3A2C5B71", true},
        {"lower case", L"6d1c4a35-2e1b-4c3b-9b6e-1f0d3a2c5b71", true},
        {"braced", L"{6D1C4A35-2E1B-4C3B-9B6E-1F0D3A2C5B71}", false},
        {"a digit short", L"6D1C4A35-2E1B-4C3B-9B6E-1F0D3A2C5B7", false},
        {"no hexadecimal", L"6D1C4A35-2E1B-4C3B-9B6E-1F0D3A2C5BZZ", false},
        {"empty", L"", false},
    };
    for (const Row& row : rows) EXPECT_EQ(qv::LooksLikeUuid(row.text), row.uuid) << row.name;
}

TEST(SmallAnswers, GetProcessIdAsKernel32HasIt)
{
    EXPECT_TRUE(qv::HasGetProcessId());
    fake_entries entries;
    entries.hide("GetProcessId");
    EXPECT_FALSE(qv::HasGetProcessId());
}

}  // namespace
