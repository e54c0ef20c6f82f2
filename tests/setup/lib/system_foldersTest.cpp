#include "system_folders.h"

#include "handle.h"
#include "os_entry.h"
#include "win32_exception.h"

#include "ScratchFolder.h"
#include "SwappedSeam.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::wstring with_backslash(std::wstring s)
{
    if (s.empty() || s.back() != L'\\') s += L'\\';
    return s;
}

std::wstring api_windows_directory()
{
    wchar_t buffer[MAX_PATH];
    const UINT length = GetWindowsDirectoryW(buffer, MAX_PATH);
    return std::wstring(buffer, length);
}

std::wstring api_system_directory()
{
    wchar_t buffer[MAX_PATH];
    const UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
    return std::wstring(buffer, length);
}

bool same_path(std::wstring_view a, std::wstring_view b)
{
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE)
           == CSTR_EQUAL;
}

bool is_folder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// TMP for GetTempPathW, put back when the case ends.
class temp_variable {
public:
    explicit temp_variable(const std::wstring& value)
    {
        wchar_t buffer[32768];
        const DWORD length = GetEnvironmentVariableW(L"TMP", buffer, 32768);
        had_ = length > 0;
        if (had_) kept_.assign(buffer, length);
        SetEnvironmentVariableW(L"TMP", value.c_str());
    }
    ~temp_variable() { SetEnvironmentVariableW(L"TMP", had_ ? kept_.c_str() : nullptr); }

private:
    bool had_;
    std::wstring kept_;
};

TEST(NormalizePath, KeepsDriveColonsAndQuotesAndCollapsesSeparators)
{
    struct Row {
        const char* name;
        const wchar_t* in;
        const wchar_t* out;
    } rows[] = {
        {"plain path", L"C:\\dir\\file.txt", L"C:\\dir\\file.txt"},
        {"drive colon kept, later colons go", L"C:\\dir:x\\a:b", L"C:\\dirx\\ab"},
        {"lower-case drive", L"d:\\x", L"d:\\x"},
        {"a colon after no letter goes", L"1:\\x", L"1\\x"},
        {"a colon at index 2 goes", L"CD:\\x", L"CD\\x"},
        {"every reserved character goes", L"C:\\a*b?c\"d<e>f|g", L"C:\\abcdefg"},
        {"quoted keeps its quotes", L"\"C:\\Program Files\\x.exe\"", L"\"C:\\Program Files\\x.exe\""},
        {"quoted drops inner quotes", L"\"C:\\a\"b\"", L"\"C:\\ab\""},
        {"quoted drive colon at index 2", L"\"D:\\x:y\"", L"\"D:\\xy\""},
        {"quoted colon at index 1 goes", L"\":C\"", L"\"C\""},
        {"a quote at one end only: unquoted, so the colon at index 2 goes", L"\"C:\\x", L"C\\x"},
        {"blanks outside the quotes make it unquoted", L" \"C:\\x\" ", L" C\\x "},
        {"doubled backslashes", L"C:\\\\dir\\\\x", L"C:\\dir\\x"},
        {"doubled slashes", L"C:\\\\dir//x", L"C:\\dir/x"},
        {"a mixed run keeps its first", L"C:\\dir/\\/x", L"C:\\dir/x"},
        {"relative path", L"dir\\\\\\sub", L"dir\\sub"},
        {"UNC prefix stays", L"\\\\server\\\\share\\x", L"\\\\server\\share\\x"},
        {"a run that starts at index 2 keeps one", L"\\\\\\\\server", L"\\\\\\server"},
        {"quoted UNC", L"\"\\\\server\\\\share\"", L"\"\\\\server\\share\""},
        {"quoted, a run before the closing quote", L"\"C:\\dir\\\\\"", L"\"C:\\dir\\\""},
        {"quoted, from index 3", L"\"C:\\\\x\"", L"\"C:\\x\""},
        {"empty", L"", L""},
        {"a lone quote", L"\"", L""},
        {"two quotes", L"\"\"", L"\"\""},
        {"three quotes", L"\"\"\"", L"\"\""},
        {"only reserved characters", L"<>|*?", L""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(qv::normalized_path(row.in), row.out) << row.name;
        zString text(row.in);
        SetLastError(1357);
        qv::NormalizePath(text);
        const DWORD error = GetLastError();
        EXPECT_EQ(text.str(), row.out) << row.name;
        EXPECT_EQ(error, 1357u) << row.name;
    }
}

TEST(SystemFolders, SystemDirKindsAndTheStandardStringForms)
{
    const std::wstring windows = api_windows_directory();
    const std::wstring system = api_system_directory();
    struct Row {
        int kind;
        std::wstring expected;
    } rows[] = {
        {0, system + L"\\"},
        {1, windows + L"\\sysnative\\"},
        {2, windows + L"\\syswow64\\"},
        {3, system + L"\\"},
        {-1, system + L"\\"},
    };
    for (const Row& row : rows) EXPECT_EQ(qv::GetSystemDir(row.kind).str(), row.expected) << "kind " << row.kind;
    EXPECT_EQ(qv::GetSystemDirW(), system + L"\\");
    EXPECT_EQ(qv::GetWindowsDirW(), windows + L"\\");
    EXPECT_EQ(qv::GetWindowsDir().str(), windows + L"\\");
    EXPECT_EQ(qv::GetWindowsFolder(false).str(), windows + L"\\");
}

const char* asked_entry = nullptr;

UINT WINAPI fake_shared_windows(LPWSTR buffer, UINT size)
{
    const wchar_t answer[] = L"Q:\\Shared";
    if (size < ARRAYSIZE(answer)) return ARRAYSIZE(answer);
    memcpy(buffer, answer, sizeof answer);
    return ARRAYSIZE(answer) - 1;
}

UINT WINAPI failing_shared_windows(LPWSTR, UINT)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
}

template <UINT(WINAPI* Entry)(LPWSTR, UINT)>
FARPROC resolving_to(const wchar_t*, const char* name)
{
    asked_entry = name;
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(Entry));
}

TEST(SystemFolders, SharedWindowsFolderComesFromTheLookedUpEntryOrTheWindowsFolder)
{
    const std::wstring windows = with_backslash(api_windows_directory());
    {
        const swapped<FARPROC (*)(const wchar_t*, const char*)> missing(
            qv::os_seams::resolve, [](const wchar_t*, const char*) -> FARPROC { return nullptr; });
        EXPECT_EQ(qv::GetWindowsFolder(true).str(), qv::GetWindowsFolder(false).str());
        EXPECT_EQ(qv::GetWindowsFolder(true).str(), windows);
    }
    {
        const swapped<FARPROC (*)(const wchar_t*, const char*)> fake(qv::os_seams::resolve, resolving_to<fake_shared_windows>);
        asked_entry = nullptr;
        EXPECT_EQ(qv::GetWindowsFolder(true).str(), L"Q:\\Shared\\");
        ASSERT_NE(asked_entry, nullptr);
        EXPECT_STREQ(asked_entry, "GetSystemWindowsDirectoryW");
        EXPECT_EQ(qv::GetWindowsFolder(false).str(), windows) << "the unshared form looked the entry up";
    }
    {
        const swapped<FARPROC (*)(const wchar_t*, const char*)> failing(
            qv::os_seams::resolve, resolving_to<failing_shared_windows>);
        EXPECT_EQ(qv::GetWindowsFolder(true).str(), windows);
    }
    // The real entry of this system.
    EXPECT_TRUE(is_folder(qv::GetWindowsFolder(true).str()));
    EXPECT_EQ(qv::GetWindowsFolder(true).last_char(), L'\\');
}

TEST(SystemFolders, ShellFoldersEndInABackslashAndExist)
{
    const int csidls[] = {CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_APPDATA, CSIDL_PERSONAL, CSIDL_FONTS,
        CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILES_COMMON, CSIDL_COMMON_APPDATA, CSIDL_APPDATA | CSIDL_FLAG_CREATE};
    for (const int csidl : csidls) {
        const zString path = qv::GetShellFolderPath(csidl);
        EXPECT_EQ(path.last_char(), L'\\') << "csidl " << csidl;
        EXPECT_NE(path.view().substr(0, path.size() - 1).back(), L'\\') << "csidl " << csidl;
        EXPECT_TRUE(is_folder(path.str())) << "csidl " << csidl;
    }
    EXPECT_TRUE(same_path(qv::GetShellFolderPath(CSIDL_WINDOWS).view(), with_backslash(api_windows_directory())));
    EXPECT_TRUE(same_path(qv::GetShellFolderPath(CSIDL_SYSTEM).view(), with_backslash(api_system_directory())));
}

HRESULT no_shell_folder(int, LPITEMIDLIST* list)
{
    *list = nullptr;
    return E_FAIL;
}

// An item list that names no file-system folder: the shell answers, with no path.
HRESULT virtual_shell_folder(int, LPITEMIDLIST* list) { return SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, list); }

unsigned major_version = 6;
bool version_of_major(OSVERSIONINFOW& info)
{
    info = {};
    info.dwOSVersionInfoSize = sizeof info;
    info.dwPlatformId = VER_PLATFORM_WIN32_NT;
    info.dwMajorVersion = major_version;
    return true;
}

TEST(SystemFolders, WithoutTheShellSpecialFoldersComeFromTheOlderFolders)
{
    const std::wstring windows = with_backslash(api_windows_directory());
    const std::wstring program_files = qv::GetProgramFilesDir(0).str();
    ASSERT_FALSE(program_files.empty());
    const swapped<bool (*)(OSVERSIONINFOW&)> version(qv::folder_seams::os_version, version_of_major);
    struct Row {
        const char* name;
        HRESULT (*shell)(int, LPITEMIDLIST*);
        int csidl;
        unsigned major;
        std::wstring expected;
    } rows[] = {
        {"fonts", no_shell_folder, CSIDL_FONTS, 6, windows + L"Fonts\\"},
        {"documents", no_shell_folder, CSIDL_PERSONAL, 5, windows + L"My Documents\\"},
        {"documents before version 5", no_shell_folder, CSIDL_PERSONAL, 4, windows + L"Personal\\"},
        {"application data", no_shell_folder, CSIDL_APPDATA, 6, windows + L"Application Data\\"},
        {"all users' application data", no_shell_folder, CSIDL_COMMON_APPDATA, 6,
            windows + L"All Users\\Application Data\\"},
        {"with the create flag", no_shell_folder, CSIDL_FONTS | CSIDL_FLAG_CREATE, 6, windows + L"Fonts\\"},
        {"program files", no_shell_folder, CSIDL_PROGRAM_FILES, 6, program_files},
        {"common files", no_shell_folder, CSIDL_PROGRAM_FILES_COMMON, 6, program_files + L"Common Files\\"},
        {"program files, empty answer", virtual_shell_folder, CSIDL_PROGRAM_FILES, 6, program_files},
        {"common files, empty answer", virtual_shell_folder, CSIDL_PROGRAM_FILES_COMMON, 6,
            program_files + L"Common Files\\"},
        {"windows", no_shell_folder, CSIDL_WINDOWS, 6, windows},
        {"system", no_shell_folder, CSIDL_SYSTEM, 6, with_backslash(api_system_directory())},
    };
    for (const Row& row : rows) {
        const swapped<HRESULT (*)(int, LPITEMIDLIST*)> shell(qv::folder_seams::special_folder_location, row.shell);
        major_version = row.major;
        EXPECT_EQ(qv::GetShellFolderPath(row.csidl).str(), row.expected) << row.name;
    }

    const swapped<HRESULT (*)(int, LPITEMIDLIST*)> shell(qv::folder_seams::special_folder_location, no_shell_folder);
    try {
        qv::GetShellFolderPath(CSIDL_DESKTOPDIRECTORY);
        ADD_FAILURE() << "a folder without an older place gave a path";
    } catch (const qv::win32_exception& e) {
        EXPECT_EQ(e.error(), static_cast<DWORD>(E_FAIL));
    }
}

TEST(SystemFolders, ProgramFilesFoldersAreTheShellsOnes)
{
    struct Row {
        int kind;
        int csidl;
    } rows[] = {{0, CSIDL_PROGRAM_FILES}, {1, CSIDL_PROGRAM_FILES_COMMON}, {5, CSIDL_PROGRAM_FILES}};
    for (const Row& row : rows) {
        wchar_t shell[MAX_PATH] = {};
        ASSERT_EQ(SHGetFolderPathW(nullptr, row.csidl, nullptr, SHGFP_TYPE_CURRENT, shell), S_OK);
        const zString folder = qv::GetProgramFilesDir(row.kind);
        EXPECT_TRUE(same_path(folder.view(), with_backslash(shell))) << "kind " << row.kind;
        EXPECT_TRUE(is_folder(folder.str())) << "kind " << row.kind;
    }
}

bool windows_9x(OSVERSIONINFOW& info)
{
    info = {};
    info.dwOSVersionInfoSize = sizeof info;
    info.dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
    info.dwMajorVersion = 4;
    info.dwMinorVersion = 10;
    return true;
}

bool windows_nt(OSVERSIONINFOW& info)
{
    info = {};
    info.dwOSVersionInfoSize = sizeof info;
    info.dwPlatformId = VER_PLATFORM_WIN32_NT;
    info.dwMajorVersion = 6;
    return true;
}

TEST(SystemFolders, TempFolderProbedOnWindows9x)
{
    const scratch_folder writable(L"qv_folders_tmp");
    const scratch_folder blocked(L"qv_folders_blocked");
    // A folder of the probe's name stands where the probe file would go.
    ASSERT_TRUE(CreateDirectoryW(blocked.join(L"123.tmp").c_str(), nullptr));
    const std::wstring missing = writable.join(L"missing");
    const std::wstring windows_temp = with_backslash(api_windows_directory()) + L"temp\\";
    struct Row {
        const char* name;
        bool (*version)(OSVERSIONINFOW&);
        std::wstring tmp;
        std::wstring expected;
    } rows[] = {
        {"9x, writable", windows_9x, writable.path(), writable.path() + L"\\"},
        {"9x, missing", windows_9x, missing, windows_temp},
        {"9x, probe name taken", windows_9x, blocked.path(), windows_temp},
        {"NT, writable", windows_nt, writable.path(), writable.path() + L"\\"},
        {"NT, missing: no probe", windows_nt, missing, missing + L"\\"},
    };
    for (const Row& row : rows) {
        const swapped<bool (*)(OSVERSIONINFOW&)> version(qv::folder_seams::os_version, row.version);
        const temp_variable tmp(row.tmp);
        EXPECT_TRUE(same_path(qv::GetTempFolder().view(), row.expected)) << row.name << ": " << qv::GetTempFolder().narrow();
        EXPECT_EQ(GetFileAttributesW(writable.join(L"123.tmp").c_str()), INVALID_FILE_ATTRIBUTES)
            << row.name << ": the probe file stayed";
    }
    EXPECT_TRUE(is_folder(qv::GetTempFolder().str()));
}

// A key below HKEY_CLASSES_ROOT's two homes, removed from both when the case ends.
class classes_key {
public:
    explicit classes_key(const wchar_t* name)
        : name_(std::wstring(L"qv_folders_") + name + L"_" + std::to_wstring(GetCurrentProcessId()))
    {
        remove();
    }
    ~classes_key() { remove(); }
    const std::wstring& name() const { return name_; }
    bool under(HKEY root) const
    {
        qv::registry_key key;
        return RegOpenKeyExW(root, (L"Software\\Classes\\" + name_).c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
    }

private:
    void remove()
    {
        RegDeleteKeyW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + name_).c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\" + name_).c_str());
    }
    std::wstring name_;
};

bool create_class_key(const std::wstring& name)
{
    qv::registry_key key;
    return RegCreateKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr)
           == ERROR_SUCCESS;
}

// Undoes a mapping that a failing case left.
struct restore_classes {
    ~restore_classes() { qv::RestoreClassesRoot(); }
};

// HKCU\Software\Classes, which Windows always has and a fresh Wine prefix lacks; removed
// again when the case made it and nothing else came to live in it.
class user_classes {
public:
    user_classes()
    {
        qv::registry_key key;
        DWORD disposition = 0;
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_READ, nullptr, key.put(), &disposition);
        made_ = disposition == REG_CREATED_NEW_KEY;
    }
    ~user_classes()
    {
        if (made_) RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Classes");
    }

private:
    bool made_ = false;
};

TEST(SystemFolders, ClassesRootRedirectedToTheUserAndBack)
{
    const user_classes user;
    const classes_key mapped(L"user");
    const classes_key machine(L"machine");
    const restore_classes restore;
    qv::RestoreClassesRoot();  // nothing mapped: nothing to undo

    ASSERT_TRUE(qv::RedirectClassesRoot());
    ASSERT_TRUE(create_class_key(mapped.name()));
    EXPECT_TRUE(mapped.under(HKEY_CURRENT_USER)) << "the class went past the user's classes";
    EXPECT_FALSE(mapped.under(HKEY_LOCAL_MACHINE));

    qv::RestoreClassesRoot();
    ASSERT_TRUE(create_class_key(machine.name()));
    EXPECT_TRUE(machine.under(HKEY_LOCAL_MACHINE)) << "the mapping stayed";
    EXPECT_FALSE(machine.under(HKEY_CURRENT_USER));
    qv::RestoreClassesRoot();
}

}  // namespace
