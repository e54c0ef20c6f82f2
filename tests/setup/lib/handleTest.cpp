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

// Counts its closes, so that a holder's contract shows without a Windows handle.
struct counted_traits {
    using type = int;
    static inline int closes = 0;
    static inline int last_closed = 0;
    static type invalid() noexcept { return 0; }
    static void close(type h) noexcept
    {
        ++closes;
        last_closed = h;
        SetLastError(ERROR_INVALID_HANDLE);
    }
};
using counted = qv::handle<counted_traits>;

TEST(handle, ClosesOnceThenIsEmptyAndAnEmptyOneClosesNothing)
{
    counted_traits::closes = 0;
    {
        counted held(7);
        held.reset();
        EXPECT_EQ(counted_traits::closes, 1);
        EXPECT_EQ(counted_traits::last_closed, 7);
        EXPECT_FALSE(held);
        held.reset();
        EXPECT_EQ(counted_traits::closes, 1) << "an empty holder closed again";
        held.reset(8);
        held.reset(8);
        EXPECT_EQ(counted_traits::closes, 1) << "taking what it holds again closed it";
        counted moved(std::move(held));
        EXPECT_FALSE(held);
        held = std::move(moved);
        EXPECT_EQ(counted_traits::closes, 1);
        counted other(9);
        *other.put() = 10;
        EXPECT_EQ(counted_traits::closes, 2);
        EXPECT_EQ(counted_traits::last_closed, 9);
        SetLastError(4321);
    }
    EXPECT_EQ(counted_traits::closes, 4) << "8 and 10 go when their holders do, and only they";
    EXPECT_EQ(GetLastError(), 4321u);
    counted_traits::closes = 0;
    { counted empty; }
    EXPECT_EQ(counted_traits::closes, 0);
}

bool mapped(const void* address)
{
    MEMORY_BASIC_INFORMATION info{};
    return VirtualQuery(address, &info, sizeof info) == sizeof info && info.State != MEM_FREE;
}

TEST(handle, AMappedViewIsUnmappedOnceAndEmptyIsNull)
{
    EXPECT_EQ(qv::mapped_view().get(), nullptr);
    EXPECT_FALSE(qv::mapped_view());
    qv::kernel_handle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, nullptr));
    ASSERT_TRUE(mapping);
    void* address = nullptr;
    {
        qv::mapped_view view(MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0));
        ASSERT_TRUE(view);
        address = view.get();
        static_cast<char*>(address)[0] = 'x';
        EXPECT_TRUE(mapped(address));
        SetLastError(2345);
    }
    EXPECT_EQ(GetLastError(), 2345u);
    EXPECT_FALSE(mapped(address)) << "the view is still mapped";

    qv::mapped_view again(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    ASSERT_TRUE(again);
    EXPECT_EQ(static_cast<const char*>(again.get())[0], 'x') << "a second view sees the mapping";
    const void* second = again.get();
    again.reset();
    EXPECT_FALSE(again);
    EXPECT_FALSE(mapped(second));
    again.reset();
}

}  // namespace
