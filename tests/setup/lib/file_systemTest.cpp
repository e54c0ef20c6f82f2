#include "file_system.h"
#include "os_entry.h"
#include "win32_exception.h"

#include "FakeEntries.h"
#include "FileSupport.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {


// CreateDirectoryW that makes nothing: it records the path and answers `reply`.
std::vector<std::wstring> made;
DWORD reply = 0;
BOOL WINAPI recording_create_directory(LPCWSTR path, LPSECURITY_ATTRIBUTES)
{
    made.push_back(path);
    if (reply == 0) return TRUE;
    SetLastError(reply);
    return FALSE;
}

DWORD attributes_error = 0;
DWORD WINAPI failing_attributes(LPCWSTR)
{
    SetLastError(attributes_error);
    return INVALID_FILE_ATTRIBUTES;
}

std::vector<std::wstring> sorted(const std::vector<zString>& list)
{
    std::vector<std::wstring> out;
    for (const zString& item : list) out.push_back(item.str());
    std::sort(out.begin(), out.end());
    return out;
}

TEST(CreateFolderTree, MakesEachLevelBelowTheRootThroughTheResolver)
{
    struct Case {
        const wchar_t* path;
        std::vector<std::wstring> made;
    };
    const Case cases[] = {
        {L"C:\\a\\b", {L"C:\\a\\", L"C:\\a\\b\\"}},
        {L"C:\\a\\b\\", {L"C:\\a\\", L"C:\\a\\b\\"}},
        {L"C:\\", {}},
        {L"\\\\srv\\share\\x", {L"\\\\srv\\share\\x\\"}},
        {L"\\\\srv\\share\\x\\y", {L"\\\\srv\\share\\x\\", L"\\\\srv\\share\\x\\y\\"}},
        {L"\\\\srv\\share", {}},
    };
    fake_entries entries;
    entries.replace("CreateDirectoryW", recording_create_directory);
    for (const Case& c : cases) {
        made.clear();
        reply = 0;
        EXPECT_TRUE(qv::CreateFolderTree(c.path));
        EXPECT_EQ(made, c.made) << c.path;
    }
}

TEST(CreateFolderTree, ExistingLevelsAreNoFailureAndAnotherErrorStopsAtItsLevel)
{
    fake_entries entries;
    entries.replace("CreateDirectoryW", recording_create_directory);
    made.clear();
    reply = ERROR_ALREADY_EXISTS;
    qv::SetLastFileOpError(99);
    EXPECT_TRUE(qv::CreateFolderTree(L"C:\\a\\b"));
    EXPECT_EQ(qv::LastFileOpError(), 0u);
    EXPECT_EQ(made.size(), 2u);

    made.clear();
    reply = ERROR_ACCESS_DENIED;
    qv::RecordFailedPath(L"before");
    EXPECT_FALSE(qv::CreateFolderTree(L"C:\\a\\b"));
    EXPECT_EQ(qv::LastFileOpError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(qv::LastFailedPath().str(), L"C:\\a\\");
    EXPECT_EQ(made.size(), 1u) << "the walk went on past the failing level";
}

TEST(CreateFolderTree, MakesARealTreeWideAndThroughTheNarrowFallback)
{
    const scratch_folder scratch(L"fs_tree");
    EXPECT_TRUE(qv::CreateFolderTree(scratch.join(L"one\\two\\three")));
    EXPECT_TRUE(exists(scratch.join(L"one\\two\\three")));
    EXPECT_EQ(qv::LastFileOpError(), 0u);
    EXPECT_TRUE(qv::CreateFolderForFile(scratch.join(L"one\\four\\file.txt")));
    EXPECT_TRUE(exists(scratch.join(L"one\\four")));
    EXPECT_FALSE(exists(scratch.join(L"one\\four\\file.txt")));

    fake_entries entries;
    entries.hide("CreateDirectoryW");
    EXPECT_TRUE(qv::CreateFolderTree(scratch.join(L"narrow\\path")));
    EXPECT_TRUE(exists(scratch.join(L"narrow\\path")));
    EXPECT_NE(std::find(entries.asked.begin(), entries.asked.end(), "CreateDirectoryA"), entries.asked.end());

    entries.hide("CreateDirectoryA");
    EXPECT_FALSE(qv::CreateFolderTree(scratch.join(L"neither")));
    EXPECT_EQ(qv::LastFileOpError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    // The first level below the drive is the first one it cannot make.
    const std::wstring failed = qv::LastFailedPath().str();
    EXPECT_EQ(failed, scratch.path().substr(0, scratch.path().find(L'\\', 3) + 1));
    EXPECT_FALSE(exists(scratch.join(L"neither")));
}

TEST(CreateFolderTree, AFileInTheWayFailsWithItsPathRecorded)
{
    const scratch_folder scratch(L"fs_blocked");
    scratch.write(L"blocker", {'x'});
    EXPECT_FALSE(qv::CreateFolderTree(scratch.join(L"blocker\\below")));
    EXPECT_NE(qv::LastFileOpError(), 0u);
    EXPECT_EQ(qv::LastFailedPath().str(), scratch.join(L"blocker\\below\\"));
}

TEST(PathExists, AnswersForFilesFoldersAndMissingPaths)
{
    const scratch_folder scratch(L"fs_exists");
    const std::wstring file = scratch.write(L"file.txt", {'a'});
    const std::wstring folder = scratch.path();
    struct Case {
        std::wstring path;
        BYTE flags;
        bool expected;
    };
    const Case cases[] = {
        {file, qv::path_is_file, true},
        {file, qv::path_is_folder, false},
        {file, qv::path_is_file | qv::path_is_folder, true},
        {folder, qv::path_is_file, false},
        {folder, qv::path_is_folder, true},
        {folder + L"\\", qv::path_is_folder, true},
        {scratch.join(L"missing.txt"), qv::path_is_file | qv::path_raises, false},
        {scratch.join(L"missing\\below.txt"), qv::path_is_file | qv::path_raises, false},
        {L"", qv::path_is_file | qv::path_is_folder, false},
    };
    for (const Case& c : cases) EXPECT_EQ(qv::PathExists(c.path, c.flags), c.expected) << c.path << " " << int(c.flags);
}

TEST(PathExists, AccessDeniedIsProbedByASearchAndOtherErrorsRaiseOnlyWhenAsked)
{
    const scratch_folder scratch(L"fs_denied");
    const std::wstring file = scratch.write(L"file.txt", {'a'});
    fake_entries entries;
    entries.replace("GetFileAttributesW", failing_attributes);

    attributes_error = ERROR_ACCESS_DENIED;
    EXPECT_TRUE(qv::PathExists(file, qv::path_is_file));
    EXPECT_FALSE(qv::PathExists(file, qv::path_is_folder));
    EXPECT_TRUE(qv::PathExists(scratch.path(), qv::path_is_folder));
    EXPECT_FALSE(qv::PathExists(scratch.join(L"gone.txt"), qv::path_is_file));

    attributes_error = ERROR_NOT_READY;
    EXPECT_FALSE(qv::PathExists(file, qv::path_is_file));
    try {
        qv::PathExists(file, qv::path_is_file | qv::path_raises);
        ADD_FAILURE() << "no exception";
    } catch (const qv::file_exception& e) {
        EXPECT_EQ(e.error(), static_cast<DWORD>(ERROR_NOT_READY));
        EXPECT_EQ(e.path().str(), file);
    }
}

TEST(PathExists, NoAttributesEntryPointMeansMissingNeverExisting)
{
    const scratch_folder scratch(L"fs_noentry");
    const std::wstring file = scratch.write(L"file.txt", {'a'});
    fake_entries entries;
    entries.hide("GetFileAttributesW");
    EXPECT_TRUE(qv::PathExists(file, qv::path_is_file)) << "the narrow form answers";
    entries.hide("GetFileAttributesA");
    SetLastError(0);
    EXPECT_EQ(qv::OsGetFileAttributes(file), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_FALSE(qv::PathExists(file, qv::path_is_file));
    EXPECT_FALSE(qv::PathExists(scratch.join(L"missing"), qv::path_is_file | qv::path_is_folder));
}

TEST(PathExists, AnAddressIsOpenedOnlyWhenTheFlagAsks)
{
    // Port 1 of loopback refuses at once.
    const wchar_t* const url = L"http://127.0.0.1:1/none";
    EXPECT_FALSE(qv::PathExists(url, qv::path_is_file)) << "a path by that name does not exist either";
    EXPECT_FALSE(qv::PathExists(url, qv::path_is_file | qv::path_may_be_url));
    EXPECT_THROW(qv::PathExists(url, qv::path_is_file | qv::path_may_be_url | qv::path_raises),
        qv::internet_file_exception);
    EXPECT_FALSE(qv::UrlExists(url, 0));
}

TEST(DeleteFileForce, AReadOnlyFileGoesUnlessItIsToBeKept)
{
    const scratch_folder scratch(L"fs_delete");
    const std::wstring file = scratch.write(L"locked.txt", {'a'});
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(qv::DeleteFileForce(file, true));
    EXPECT_TRUE(exists(file));
    EXPECT_TRUE(qv::DeleteFileForce(file, false));
    EXPECT_FALSE(exists(file));
    EXPECT_FALSE(qv::DeleteFileForce(file, false)) << "a missing file is no success";

    const std::wstring plain = scratch.write(L"plain.txt", {'a'});
    EXPECT_TRUE(qv::DeleteFileForce(plain, true));
    EXPECT_FALSE(exists(plain));
}

TEST(DeleteSharedFile, UnregistersADllButNeverStartsAnExe)
{
    const scratch_folder scratch(L"fs_shared");
    const std::wstring dll = scratch.join(L"server.dll");
    const std::wstring exe = scratch.join(L"server.EXE");
    ASSERT_TRUE(CopyFileW(beside_program(L"com_server_fixture.dll").c_str(), dll.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(beside_program(L"com_server_fixture.dll").c_str(), exe.c_str(), FALSE));

    // Each has its count under SharedDLLs, as an installer leaves it.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", 0,
                  nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    const qv::registry_key shared(key);
    const DWORD count = 2;
    for (const std::wstring* path : {&dll, &exe})
        RegSetValueExW(shared.get(), path->c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof count);

    EXPECT_TRUE(qv::DeleteSharedFile(dll));
    EXPECT_TRUE(exists(dll + L".unregistered"));
    EXPECT_FALSE(exists(dll));
    EXPECT_TRUE(qv::DeleteSharedFile(exe));
    EXPECT_FALSE(exists(exe + L".unregistered"));
    EXPECT_FALSE(exists(exe));
    for (const std::wstring* path : {&dll, &exe})
        EXPECT_EQ(RegQueryValueExW(shared.get(), path->c_str(), nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND)
            << *path;
}

TEST(RemoveFolderTree, RemovesEverythingBelowAndRefusesRoots)
{
    const scratch_folder scratch(L"fs_remove");
    const std::wstring top = scratch.join(L"top");
    ASSERT_TRUE(qv::CreateFolderTree(top + L"\\a\\b"));
    CreateDirectoryW((top + L"\\empty").c_str(), nullptr);
    scratch.write(L"top\\one.txt", {'1'});
    scratch.write(L"top\\a\\two.txt", {'2'});
    const std::wstring locked = scratch.write(L"top\\a\\b\\locked.txt", {'3'});
    SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_READONLY);

    EXPECT_TRUE(qv::RemoveFolderTree(top, false));
    EXPECT_FALSE(exists(top));
    EXPECT_TRUE(qv::RemoveFolderTree(top, false)) << "a missing folder is already gone";

    for (const wchar_t* root : {L"", L"C:", L"C:\\", L"\\\\srv\\share", L"\\\\srv\\share\\"})
        EXPECT_FALSE(qv::RemoveFolderTree(root, false)) << root;
}

TEST(EmptyFolder, KeepsTheFolderAndRemovesItsContent)
{
    const scratch_folder scratch(L"fs_empty");
    const std::wstring top = scratch.join(L"top");
    ASSERT_TRUE(qv::CreateFolderTree(top + L"\\sub\\deeper"));
    scratch.write(L"top\\one.txt", {'1'});
    scratch.write(L"top\\sub\\deeper\\two.txt", {'2'});
    EXPECT_TRUE(qv::EmptyFolder(top));
    EXPECT_TRUE(exists(top));
    EXPECT_FALSE(exists(top + L"\\one.txt"));
    EXPECT_FALSE(exists(top + L"\\sub"));
    EXPECT_FALSE(qv::EmptyFolder(L"C:\\"));
}

class ListFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qv::CreateFolderTree(scratch_.join(L"sub\\deep"));
        for (const wchar_t* name : {L"a.txt", L"b.ini", L"c.dat", L"sub\\d.txt", L"sub\\deep\\e.ini"})
            scratch_.write(name, {'x'});
    }
    std::vector<std::wstring> list(qv::list_request request)
    {
        std::vector<zString> out;
        request.folder = scratch_.path();
        request.out = &out;
        EXPECT_TRUE(qv::ListFolder(request));
        return sorted(out);
    }
    std::wstring at(const wchar_t* name) const { return scratch_.join(name); }
    scratch_folder scratch_{L"fs_list"};
};

TEST_F(ListFolderTest, MasksPatternsRecursionAndNames)
{
    qv::list_request files;
    files.mask = FILE_ATTRIBUTE_DIRECTORY;
    EXPECT_EQ(list(files), (std::vector<std::wstring>{at(L"a.txt"), at(L"b.ini"), at(L"c.dat")}));

    qv::list_request folders = files;
    folders.value = FILE_ATTRIBUTE_DIRECTORY;
    EXPECT_EQ(list(folders), (std::vector<std::wstring>{at(L"sub")}));

    qv::list_request everything;
    EXPECT_EQ(list(everything), (std::vector<std::wstring>{at(L"a.txt"), at(L"b.ini"), at(L"c.dat"), at(L"sub")}));

    qv::list_request patterns = files;
    patterns.patterns = L"*.txt;*.INI";
    patterns.recursive = true;
    EXPECT_EQ(list(patterns), (std::vector<std::wstring>{
                                  at(L"a.txt"), at(L"b.ini"), at(L"sub\\d.txt"), at(L"sub\\deep\\e.ini")}));

    patterns.full_paths = false;
    EXPECT_EQ(list(patterns), (std::vector<std::wstring>{L"a.txt", L"b.ini", L"d.txt", L"e.ini"}));

    qv::list_request excluded = files;
    excluded.recursive = true;
    excluded.exclude = L"?.ini";
    excluded.full_paths = false;
    EXPECT_EQ(list(excluded), (std::vector<std::wstring>{L"a.txt", L"c.dat", L"d.txt"}));
}

TEST_F(ListFolderTest, TheNarrowSearchGivesTheSameNames)
{
    fake_entries entries;
    entries.hide("FindFirstFileW");
    entries.hide("FindNextFileW");
    qv::list_request request;
    request.recursive = true;
    request.full_paths = false;
    request.mask = FILE_ATTRIBUTE_DIRECTORY;
    EXPECT_EQ(list(request), (std::vector<std::wstring>{L"a.txt", L"b.ini", L"c.dat", L"d.txt", L"e.ini"}));
}

TEST_F(ListFolderTest, AMissingFolderIsAFailedListing)
{
    std::vector<zString> out;
    qv::list_request request;
    request.folder = at(L"missing");
    request.out = &out;
    EXPECT_FALSE(qv::ListFolder(request));
    request.folder = at(L"a.txt");
    EXPECT_FALSE(qv::ListFolder(request));
    EXPECT_TRUE(out.empty());
}

TEST(MatchWildcard, StarsQuestionMarksAndCase)
{
    struct Case {
        const wchar_t* name;
        const wchar_t* pattern;
        bool match;
    };
    const Case cases[] = {
        {L"setup.exe", L"*.exe", true}, {L"SETUP.EXE", L"*.exe", true}, {L"setup.exe", L"*.ex", false},
        {L"a.b.c", L"*.c", true}, {L"abc", L"a?c", true}, {L"ac", L"a?c", false}, {L"", L"*", true},
        {L"", L"?", false}, {L"abcabd", L"*abd", true}, {L"x", L"", false}, {L"data12.cab", L"data*.cab", true},
        {L"aaa", L"a*a*a*a", false},
    };
    for (const Case& c : cases) EXPECT_EQ(qv::MatchWildcard(c.name, c.pattern), c.match) << c.name << " ~ " << c.pattern;
}

TEST(OsWrappers, NeitherFormGivesTheTablesResultAndProcNotFound)
{
    fake_entries entries;
    for (const char* name : {"CreateFileW", "CreateFileA", "DeleteFileW", "DeleteFileA", "SetFileAttributesW",
             "SetFileAttributesA", "FindFirstFileW", "FindFirstFileA", "GetDiskFreeSpaceExW"})
        entries.hide(name);
    WIN32_FIND_DATAW found;
    ULARGE_INTEGER free{};
    SetLastError(0);
    EXPECT_EQ(qv::OsCreateFile(L"C:\\x", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_FALSE(qv::OsDeleteFile(L"C:\\x"));
    EXPECT_FALSE(qv::OsSetFileAttributes(L"C:\\x", 0));
    EXPECT_EQ(qv::OsFindFirstFile(L"C:\\*", found), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(qv::OsGetDiskFreeSpaceEx(L"C:\\", &free, nullptr, nullptr));
}

TEST(OsWrappers, DiskFreeSpaceOfTheTempFolder)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    ULARGE_INTEGER free{}, total{}, total_free{};
    ASSERT_TRUE(qv::OsGetDiskFreeSpaceEx(temp, &free, &total, &total_free));
    EXPECT_GT(total.QuadPart, 0u);
    EXPECT_LE(free.QuadPart, total.QuadPart);
}

}  // namespace
