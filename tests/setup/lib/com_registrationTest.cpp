#include "com_registration.h"
#include "file_system.h"

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

}  // namespace
