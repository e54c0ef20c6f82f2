#include "qvmapfilex.h"

#include "file_system.h"
#include "os_entry.h"

#include "FakeEntries.h"
#include "FileSupport.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using qv::qvmapfilex;

template <class Fn>
FARPROC as_entry(Fn fn)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(fn));
}

// Stand-ins that fail as the system does when it is out of address space.
HANDLE WINAPI failing_create_mapping(HANDLE, LPSECURITY_ATTRIBUTES, DWORD, DWORD, DWORD, LPCWSTR)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}
LPVOID WINAPI failing_map_view(HANDLE, DWORD, DWORD, DWORD, SIZE_T)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}
DWORD WINAPI failing_get_file_size(HANDLE, LPDWORD)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
}

// Whether anything of this process still holds the file: an exclusive open fails while a
// handle to the file or to a mapping of it is open.
bool held(const std::wstring& path)
{
    const qv::file_handle h(
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    return !h && GetLastError() == ERROR_SHARING_VIOLATION;
}

void expect_unmapped(const qvmapfilex& map)
{
    EXPECT_FALSE(map.mapped);
    EXPECT_EQ(map.view, nullptr);
    EXPECT_EQ(map.file, nullptr);
    EXPECT_EQ(map.mapping, nullptr);
}

bytes pattern(size_t count, unsigned char seed)
{
    bytes out(count);
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<unsigned char>(seed + i * 7);
    return out;
}

TEST(qvmapfilex, ADefaultObjectIsEmptyAndClosingItDoesNothing)
{
    qvmapfilex map;
    expect_unmapped(map);
    EXPECT_FALSE(map.writable);
    EXPECT_EQ(map.size, 0u);
    map.close();
    map.close();
    expect_unmapped(map);
}

TEST(qvmapfilex, AReadMapShowsTheWholeFileAndGivesBackItsLength)
{
    const scratch_folder folder(L"setup_mapfile");
    const bytes content = pattern(70000, 3);  // more than one page
    const std::wstring path = folder.write(L"whole.bin", content);

    DWORD length = 0;
    qvmapfilex map(path.c_str(), length, false);
    ASSERT_TRUE(map.mapped);
    EXPECT_EQ(length, content.size());
    EXPECT_EQ(map.size, content.size());
    EXPECT_FALSE(map.writable);
    ASSERT_NE(map.view, nullptr);
    EXPECT_EQ(std::memcmp(map.view, content.data(), content.size()), 0);
    EXPECT_TRUE(held(path)) << "the map opens the file exclusively";

    map.close();
    expect_unmapped(map);
    EXPECT_FALSE(held(path));
    map.close();
    EXPECT_EQ(read_back(path), content) << "a read map never cuts the file";
}

TEST(qvmapfilex, AReadMapOfAGivenSizeKeepsThatSize)
{
    const scratch_folder folder(L"setup_mapfile");
    const bytes content = pattern(100, 9);
    const std::wstring path = folder.write(L"part.bin", content);

    DWORD length = 10;
    qvmapfilex map;
    ASSERT_TRUE(map.open(path.c_str(), length, false));
    EXPECT_EQ(length, 10u);
    EXPECT_EQ(map.size, 10u);
    EXPECT_EQ(std::memcmp(map.view, content.data(), 10), 0);
}

TEST(qvmapfilex, AWritableMapReplacesTheFileAndIsCutToTheUsedSize)
{
    const scratch_folder folder(L"setup_mapfile");
    const std::wstring path = folder.write(L"out.bin", pattern(5000, 1));
    const bytes filled = pattern(600, 42);

    DWORD length = 1000;
    {
        qvmapfilex map(path.c_str(), length, true);
        ASSERT_TRUE(map.mapped);
        EXPECT_TRUE(map.writable);
        EXPECT_EQ(length, 1000u);
        EXPECT_EQ(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
        const bytes start(static_cast<unsigned char*>(map.view), static_cast<unsigned char*>(map.view) + 1000);
        EXPECT_EQ(start, bytes(1000, 0)) << "the earlier file is replaced, not reused";
        std::memcpy(map.view, filled.data(), filled.size());
        map.size = 600;
    }  // the destructor closes
    EXPECT_EQ(read_back(path), filled);
    EXPECT_FALSE(held(path));
}

TEST(qvmapfilex, AWritableMapLeftAtItsSizeKeepsTheWholeSize)
{
    const scratch_folder folder(L"setup_mapfile");
    const std::wstring path = folder.join(L"full.bin");
    DWORD length = 3000;
    qvmapfilex map(path.c_str(), length, true);
    ASSERT_TRUE(map.mapped);
    static_cast<unsigned char*>(map.view)[2999] = 0x5A;
    map.close();
    const bytes back = read_back(path);
    ASSERT_EQ(back.size(), 3000u);
    EXPECT_EQ(back[2999], 0x5A);
}

TEST(qvmapfilex, AFailedOpenRecordsTheErrorAndThePathAndHoldsNothing)
{
    struct Case {
        const char* name;
        const wchar_t* file;  // made empty when `make` is set
        bool make;
        DWORD size;
        bool writable;
        DWORD error;  // 0: any error
    };
    const Case cases[] = {
        {"missing file read", L"missing.bin", false, 0, false, ERROR_FILE_NOT_FOUND},
        {"missing folder written", L"no\\such\\out.bin", false, 100, true, ERROR_PATH_NOT_FOUND},
        // The system refuses a mapping of size 0.
        {"empty file read", L"empty.bin", true, 0, false, 0},
        {"writable of size 0", L"zero.bin", false, 0, true, 0},
        {"read beyond the end", L"empty.bin", true, 100, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const scratch_folder folder(L"setup_mapfile");
        const std::wstring path = c.make ? folder.write(c.file, {}) : folder.join(c.file);
        qv::SetLastFileOpError(0);
        qv::RecordFailedPath(L"");

        DWORD length = c.size;
        qvmapfilex map;
        EXPECT_FALSE(map.open(path.c_str(), length, c.writable));
        expect_unmapped(map);
        EXPECT_EQ(length, c.size);
        if (c.error) {
            EXPECT_EQ(qv::LastFileOpError(), c.error);
        } else {
            EXPECT_NE(qv::LastFileOpError(), 0u);
        }
        EXPECT_EQ(GetLastError(), qv::LastFileOpError());
        EXPECT_EQ(qv::LastFailedPath().str(), path);
        if (exists(path)) {
            EXPECT_FALSE(held(path));
            EXPECT_TRUE(DeleteFileW(path.c_str()));
        }
    }
}

TEST(qvmapfilex, AMappingOrViewThatFailsLeavesNoHandleOpen)
{
    struct Case {
        const char* name;
        const char* entry;
        FARPROC failing;
        bool writable;
        DWORD error;
    };
    const Case cases[] = {
        {"mapping, read", "CreateFileMappingW", as_entry(failing_create_mapping), false, ERROR_NOT_ENOUGH_MEMORY},
        {"mapping, write", "CreateFileMappingW", as_entry(failing_create_mapping), true, ERROR_NOT_ENOUGH_MEMORY},
        {"view, read", "MapViewOfFile", as_entry(failing_map_view), false, ERROR_NOT_ENOUGH_MEMORY},
        {"view, write", "MapViewOfFile", as_entry(failing_map_view), true, ERROR_NOT_ENOUGH_MEMORY},
        {"length, read", "GetFileSize", as_entry(failing_get_file_size), false, ERROR_INVALID_HANDLE},
        {"view missing", "MapViewOfFile", nullptr, false, ERROR_PROC_NOT_FOUND},
        {"mapping missing in both forms", "CreateFileMappingA", nullptr, false, ERROR_PROC_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const scratch_folder folder(L"setup_mapfile");
        const std::wstring path = folder.write(L"held.bin", pattern(4096, 5));
        DWORD length = c.writable ? 2048 : 0;
        qvmapfilex map;
        {
            fake_entries entries;
            entries.replace(c.entry, c.failing);
            if (std::strcmp(c.entry, "CreateFileMappingA") == 0) entries.hide("CreateFileMappingW");
            EXPECT_FALSE(map.open(path.c_str(), length, c.writable));
        }
        expect_unmapped(map);
        EXPECT_EQ(qv::LastFileOpError(), c.error);
        EXPECT_EQ(qv::LastFailedPath().str(), path);
        EXPECT_FALSE(held(path)) << "a handle of the failed open is still open";
        if (c.writable) {
            EXPECT_EQ(read_back(path).size(), 0u) << "a writable file made for a failed map stays empty";
        }
        EXPECT_TRUE(DeleteFileW(path.c_str()));
    }
}

// Forwarders that count their calls, to show that the narrow forms do the work.
int narrow_calls = 0;
HANDLE WINAPI counting_create_file_a(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
    DWORD disposition, DWORD flags, HANDLE template_file)
{
    ++narrow_calls;
    return CreateFileA(path, access, share, security, disposition, flags, template_file);
}
HANDLE WINAPI counting_create_mapping_a(HANDLE file, LPSECURITY_ATTRIBUTES security, DWORD protect, DWORD high,
    DWORD low, LPCSTR name)
{
    ++narrow_calls;
    return CreateFileMappingA(file, security, protect, high, low, name);
}

TEST(qvmapfilex, WithoutTheWideEntryPointsTheNarrowOnesMap)
{
    const scratch_folder folder(L"setup_mapfile");
    const bytes content = pattern(300, 11);
    const std::wstring path = folder.write(L"narrow.bin", content);
    fake_entries entries;
    entries.hide("CreateFileW");
    entries.hide("CreateFileMappingW");
    entries.replace("CreateFileA", as_entry(counting_create_file_a));
    entries.replace("CreateFileMappingA", as_entry(counting_create_mapping_a));
    narrow_calls = 0;

    DWORD length = 0;
    qvmapfilex map(path.c_str(), length, false);
    ASSERT_TRUE(map.mapped);
    EXPECT_EQ(narrow_calls, 2);
    EXPECT_EQ(length, content.size());
    EXPECT_EQ(std::memcmp(map.view, content.data(), content.size()), 0);
}

TEST(qvmapfilex, EveryEntryPointIsLookedUpWhenItIsNeeded)
{
    const scratch_folder folder(L"setup_mapfile");
    const std::wstring path = folder.join(L"asked.bin");
    fake_entries entries;
    DWORD length = 10;
    qvmapfilex map(path.c_str(), length, true);
    ASSERT_TRUE(map.mapped);
    const std::vector<std::string> opening = {"CreateFileW", "CreateFileMappingW", "MapViewOfFile"};
    EXPECT_EQ(entries.asked, opening);
    entries.asked.clear();
    map.size = 4;
    map.close();
    const std::vector<std::string> closing = {"UnmapViewOfFile", "CloseHandle", "SetFilePointer", "SetEndOfFile",
        "CloseHandle"};
    EXPECT_EQ(entries.asked, closing);
    EXPECT_EQ(read_back(path).size(), 4u);
}

TEST(qvmapfilex, AClosingStepWithoutItsEntryPointIsLeftOut)
{
    // Without the move of the pointer the end must not be set either: it would land at 0.
    for (const char* missing : {"SetEndOfFile", "SetFilePointer"}) {
        SCOPED_TRACE(missing);
        const scratch_folder folder(L"setup_mapfile");
        const std::wstring path = folder.join(L"uncut.bin");
        DWORD length = 1000;
        qvmapfilex map(path.c_str(), length, true);
        ASSERT_TRUE(map.mapped);
        map.size = 10;
        {
            fake_entries entries;
            entries.hide(missing);
            map.close();
        }
        expect_unmapped(map);
        EXPECT_FALSE(held(path));
        EXPECT_EQ(read_back(path).size(), 1000u);
    }
}

TEST(qvmapfilex, OpeningAgainClosesTheFirstMap)
{
    const scratch_folder folder(L"setup_mapfile");
    const std::wstring first = folder.join(L"first.bin");
    const std::wstring second = folder.write(L"second.bin", pattern(50, 2));
    DWORD length = 100;
    qvmapfilex map(first.c_str(), length, true);
    ASSERT_TRUE(map.mapped);
    map.size = 7;
    DWORD again = 0;
    ASSERT_TRUE(map.open(second.c_str(), again, false));
    EXPECT_FALSE(map.writable);
    EXPECT_EQ(again, 50u);
    EXPECT_FALSE(held(first));
    EXPECT_EQ(read_back(first).size(), 7u);
}

}  // namespace
