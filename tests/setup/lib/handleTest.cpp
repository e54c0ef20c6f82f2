#include "handle.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring temp_file(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + L"setup_handle_" + std::to_wstring(GetCurrentProcessId()) + L"_" + name;
}

HANDLE open_exclusive(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(handle, ClosesWhatItHoldsOnceAndKeepsTheLastError)
{
    const std::wstring path = temp_file(L"exclusive.bin");
    {
        qv::file_handle file(open_exclusive(path));
        ASSERT_TRUE(file);
        EXPECT_EQ(open_exclusive(path), INVALID_HANDLE_VALUE) << "the first handle is not exclusive";
        SetLastError(1234);
    }
    EXPECT_EQ(GetLastError(), 1234u);
    qv::file_handle again(open_exclusive(path));
    EXPECT_TRUE(again) << "the holder did not close its file";

    qv::file_handle moved(std::move(again));
    EXPECT_FALSE(again);
    EXPECT_TRUE(moved);
    HANDLE raw = moved.release();
    EXPECT_FALSE(moved);
    qv::file_handle adopted;
    *adopted.put() = raw;
    adopted.reset();
    EXPECT_FALSE(adopted);
    qv::file_handle last(open_exclusive(path));
    EXPECT_TRUE(last) << "reset did not close";
    last.reset();
    DeleteFileW(path.c_str());
}

TEST(handle, EachKindHasItsOwnInvalidValue)
{
    EXPECT_FALSE(qv::file_handle());
    EXPECT_EQ(qv::file_handle().get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(qv::kernel_handle().get(), nullptr);
    EXPECT_FALSE(qv::file_handle(INVALID_HANDLE_VALUE));
    qv::kernel_handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    EXPECT_TRUE(event);
    qv::registry_key key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key.put()), ERROR_SUCCESS);
    EXPECT_TRUE(key);
    qv::module_handle module(LoadLibraryW(L"version.dll"));
    EXPECT_TRUE(module);
}

}  // namespace
