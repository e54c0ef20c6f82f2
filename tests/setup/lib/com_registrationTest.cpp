#include "com_registration.h"
#include "file_system.h"
#include "process_launch.h"
#include "system_folders.h"

#include "FileSupport.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool key_exists(HKEY root, const wchar_t* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

class RegisterModuleByTypeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Windows always has the user's classes key; a fresh Wine prefix lacks it.
        HKEY classes = nullptr;
        DWORD disposition = 0;
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_READ, nullptr, &classes, &disposition);
        RegCloseKey(classes);
        madeUserClasses_ = disposition == REG_CREATED_NEW_KEY;
        ASSERT_TRUE(CopyFileW(beside_program(L"com_server_fixture.dll").c_str(), server_.c_str(), FALSE));
        clean_keys();
    }
    void TearDown() override
    {
        clean_keys();
        if (madeUserClasses_) RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Classes");
    }
    static void clean_keys()
    {
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Classes\\CorvaneComFixture");
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CorvaneComFixture");
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CorvaneComProbe");
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Classes\\CorvaneComProbe");
    }
    bool madeUserClasses_ = false;
    scratch_folder scratch_{L"com_register"};
    std::wstring server_ = scratch_.join(L"server.dll");
};

TEST_F(RegisterModuleByTypeTest, ADllIsRegisteredAndUnregisteredThroughItsOwnEntries)
{
    EXPECT_TRUE(qv::RegisterModuleByType(server_, true, false));
    EXPECT_TRUE(exists(server_ + L".registered"));
    EXPECT_TRUE(key_exists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CorvaneComFixture"));
    EXPECT_EQ(qv::LastFailedPath().str(), server_);
    EXPECT_EQ(qv::LastFileOpError(), 0u);
    EXPECT_TRUE(qv::RegisterModuleByType(server_, false, false));
    EXPECT_TRUE(exists(server_ + L".unregistered"));
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CorvaneComFixture"));
}

TEST_F(RegisterModuleByTypeTest, PerUserRegistrationLandsWithTheUserAndLeavesClassesRootAsItWas)
{
    EXPECT_TRUE(qv::RegisterModuleByType(server_, true, true));
    EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, L"Software\\Classes\\CorvaneComFixture"));
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CorvaneComFixture"));

    // Also after a failed registration, classes root is the machine's view again.
    EXPECT_FALSE(qv::RegisterModuleByType(beside_program(L"version_fixture.dll"), true, true));
    HKEY probe = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"CorvaneComProbe", 0, nullptr, 0, KEY_WRITE, nullptr, &probe, nullptr),
        ERROR_SUCCESS);
    RegCloseKey(probe);
    EXPECT_TRUE(key_exists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CorvaneComProbe"));
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, L"Software\\Classes\\CorvaneComProbe"));
}

TEST_F(RegisterModuleByTypeTest, FailuresLeaveTheirReason)
{
    struct Case {
        const char* name;
        std::wstring path;
        bool register_it;
        DWORD error;
    };
    const std::wstring no_entries = beside_program(L"version_fixture.dll");
    const Case cases[] = {
        {"no unregister entry", no_entries, false, ERROR_PROC_NOT_FOUND},
        {"no register entry", no_entries, true, ERROR_PROC_NOT_FOUND},
        {"missing library", scratch_.join(L"missing.dll"), true, ERROR_MOD_NOT_FOUND},
        {"another kind of file", scratch_.join(L"server.txt"), true, 0},
        {"empty path", L"", true, 0},
    };
    for (const Case& c : cases) {
        qv::SetLastFileOpError(12345);
        EXPECT_FALSE(qv::RegisterModuleByType(c.path, c.register_it, false)) << c.name;
        EXPECT_EQ(qv::LastFileOpError(), c.error) << c.name;
        EXPECT_EQ(qv::LastFailedPath().str(), c.path) << c.name;
    }
}

bool windows_version(OSVERSIONINFOW& info, DWORD platform, DWORD major, DWORD minor)
{
    info = {};
    info.dwPlatformId = platform;
    info.dwMajorVersion = major;
    info.dwMinorVersion = minor;
    return true;
}
bool windows_7(OSVERSIONINFOW& info)
{
    return windows_version(info, VER_PLATFORM_WIN32_NT, 6, 1);
}
bool windows_nt4(OSVERSIONINFOW& info)
{
    return windows_version(info, VER_PLATFORM_WIN32_NT, 4, 0);
}
bool windows_98(OSVERSIONINFOW& info)
{
    return windows_version(info, VER_PLATFORM_WIN32_WINDOWS, 4, 10);
}

TEST_F(RegisterModuleByTypeTest, PerUserRedirectionNeedsNt5OrLater)
{
    struct Case {
        const char* name;
        bool (*version)(OSVERSIONINFOW&);
        bool with_user;
    };
    const Case cases[] = {
        {"Windows 7", windows_7, true},
        {"NT 4", windows_nt4, false},
        {"Windows 98", windows_98, false},
    };
    const auto kept = qv::folder_seams::os_version;
    for (const Case& c : cases) {
        qv::folder_seams::os_version = c.version;
        const bool done = qv::RegisterModuleByType(server_, true, true);
        qv::folder_seams::os_version = kept;
        EXPECT_TRUE(done) << c.name;
        EXPECT_EQ(key_exists(HKEY_CURRENT_USER, L"Software\\Classes\\CorvaneComFixture"), c.with_user) << c.name;
        EXPECT_EQ(key_exists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CorvaneComFixture"), !c.with_user) << c.name;
        clean_keys();
    }
}

// The launch helper as an .EXE server: its switch leaves a marker beside it.
class ExeServerTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        const HANDLE server = qv::LaunchedProcess().hProcess;
        if (server && WaitForSingleObject(server, 0) == WAIT_TIMEOUT) {
            TerminateProcess(server, 1);
            WaitForSingleObject(server, 20000);
        }
        qv::CloseLaunchedProcess();
    }
    std::wstring server(const wchar_t* name) const
    {
        const std::wstring path = scratch_.join(name);
        CopyFileW(beside_program(L"launch_helper.exe").c_str(), path.c_str(), FALSE);
        return path;
    }
    static std::wstring command(const std::wstring& path, const wchar_t* argument)
    {
        const bool blank = path.find(L' ') != std::wstring::npos;
        return (blank ? L"\"" + path + L"\"" : path) + L" " + argument;
    }
    scratch_folder scratch_{L"exe_server"};
};

TEST_F(ExeServerTest, AnExeServerRunsWithItsSwitch)
{
    struct Case {
        const char* name;
        const wchar_t* file;
        bool register_it;
        bool per_user;
        const wchar_t* marker;
    };
    const Case cases[] = {
        {"register", L"server.exe", true, false, L".registered"},
        {"unregister", L"server.exe", false, false, L".unregistered"},
        {"per user, extension in another case", L"User Server.Exe", true, true, L".registered"},
    };
    for (const Case& c : cases) {
        const std::wstring path = server(c.file);
        qv::SetLastFileOpError(12345);
        EXPECT_TRUE(qv::RegisterModuleByType(path, c.register_it, c.per_user)) << c.name;
        EXPECT_TRUE(exists(path + c.marker)) << c.name;
        EXPECT_EQ(qv::LastFileOpError(), 0u) << c.name;
        EXPECT_EQ(qv::LaunchExitCode(), 0u) << c.name;
        DeleteFileW((path + c.marker).c_str());
    }
}

// Five seconds of real time: the server's whole allowance.
TEST_F(ExeServerTest, AnExeServerThatDoesNotEndIsAFailure)
{
    const std::wstring path = server(L"stuck.exe");
    scratch_.write(L"stuck.exe.hold", {});
    EXPECT_FALSE(qv::RegisterModuleByType(path, true, false));
    EXPECT_EQ(qv::LastFileOpError(), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(qv::LastFailedPath().str(), command(path, L" /REGSERVER"));
    EXPECT_TRUE(exists(path + L".registered"));
    EXPECT_EQ(qv::LaunchExitCode(), STILL_ACTIVE);
}

}  // namespace

namespace {

std::wstring registry_default(HKEY root, const wchar_t* path)
{
    wchar_t text[MAX_PATH] = {};
    DWORD size = sizeof text;
    if (RegGetValueW(root, path, nullptr, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) return L"<none>";
    return text;
}

TEST(RegisterModuleByScript, ScriptBesideTheModuleRegistersAndUnregisters)
{
    const scratch_folder folder(L"module_script");
    const std::wstring module = folder.join(L"probe.server.dll");
    const std::string script =
        "HKCR\r\n{\r\n\tCorvaneScriptProbe.1 = s 'Script probe'\r\n\t{\r\n\t\tInprocServer32 = s '%MODULEPATH%'\n\t}\r\n}\r\n";
    folder.write(L"probe.server.rgs", bytes(script.begin(), script.end()));
    const wchar_t* const key = L"Software\\Classes\\CorvaneScriptProbe.1";
    const std::wstring server = std::wstring(key) + L"\\InprocServer32";

    ASSERT_TRUE(qv::RegisterModuleByScript(module.c_str(), true));
    EXPECT_EQ(registry_default(HKEY_LOCAL_MACHINE, key), L"Script probe");
    EXPECT_EQ(registry_default(HKEY_LOCAL_MACHINE, server.c_str()), module);
    EXPECT_TRUE(qv::RegisterModuleByScript(module.c_str(), false));
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, key));

    struct Row {
        const char* name;
        const wchar_t* module;
        const char* script;  // written beside it; none when null
        DWORD error;
    } rows[] = {
        {"no script", L"other.dll", nullptr, ERROR_FILE_NOT_FOUND},
        {"a script that does not parse", L"broken.dll", "HKLM\r\n{\r\n}\r\n", ERROR_INVALID_DATA},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::wstring path = folder.join(row.module);
        std::wstring rgs = path.substr(0, path.size() - 4) + L".rgs";
        if (row.script) folder.write(rgs.substr(folder.path().size() + 1), bytes(row.script, row.script + strlen(row.script)));
        EXPECT_FALSE(qv::RegisterModuleByScript(path.c_str(), true));
        EXPECT_EQ(qv::LastFileOpError(), row.error);
        EXPECT_EQ(qv::LastFailedPath().str(), rgs);
    }
}

}  // namespace
