#include "pending_file_operations.h"

#include "FileSupport.h"
#include "ScratchFolder.h"
#include "file_system.h"
#include "fixtures/not_an_administrator.h"
#include "rights.h"
#include "system_folders.h"
#include "win32_exception.h"
#include "SwappedSeam.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const wchar_t* operations_key = L"Software\\CorvanePendingOperation";

// The recorded operations under one root as a case writes and reads them; gone when the case ends.
class pending_values {
public:
    explicit pending_values(HKEY root) : root_(root) { RegDeleteTreeW(root_, operations_key); }
    ~pending_values() { RegDeleteTreeW(root_, operations_key); }
    pending_values(const pending_values&) = delete;
    pending_values& operator=(const pending_values&) = delete;

    void set_count(DWORD n) const
    {
        const qv::registry_key key = create();
        RegSetValueExW(key.get(), L"Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), sizeof n);
    }
    void set_text(const std::wstring& name, const std::wstring& value) const
    {
        const qv::registry_key key = create();
        RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    // Makes the key without values.
    void make() const { create(); }

    bool present() const
    {
        qv::registry_key key;
        return RegOpenKeyExW(root_, operations_key, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
    }
    // Count as stored: REG_DWORD of 4 bytes, else none.
    std::optional<DWORD> count() const
    {
        DWORD n = 0, type = 0, size = sizeof n;
        if (RegGetValueW(root_, operations_key, L"Count", RRF_RT_ANY, &type, &n, &size) != ERROR_SUCCESS
            || type != REG_DWORD || size != sizeof n)
            return std::nullopt;
        return n;
    }
    std::optional<std::wstring> text(const std::wstring& name) const
    {
        wchar_t buffer[1024];
        DWORD size = sizeof buffer;
        if (RegGetValueW(root_, operations_key, name.c_str(), RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
            return std::nullopt;
        return std::wstring(buffer);
    }

private:
    qv::registry_key create() const
    {
        qv::registry_key key;
        RegCreateKeyExW(root_, operations_key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
        return key;
    }
    HKEY root_;
};

std::string narrow(const std::wstring& s) { return zString(s.c_str()).narrow(); }

bytes text_bytes(const std::wstring& s) { return bytes(s.begin(), s.end()); }

// A file whose bytes are its own name, so where it went can be read back.
void make_named_file(const scratch_folder& scratch, const std::wstring& name) { scratch.write(name, text_bytes(name)); }

bool holds(const std::wstring& path, const std::wstring& content)
{
    return exists(path) && read_back(path) == text_bytes(content);
}

// The "rename" lines of an INI file.
std::vector<std::wstring> rename_lines(const std::wstring& ini)
{
    std::vector<wchar_t> buffer(32768);
    const DWORD length = GetPrivateProfileSectionW(L"rename", buffer.data(), static_cast<DWORD>(buffer.size()), ini.c_str());
    std::vector<std::wstring> lines;
    for (size_t at = 0; at < length;) {
        const std::wstring line(buffer.data() + at);
        lines.push_back(line);
        at += line.size() + 1;
    }
    return lines;
}

std::wstring short_name(const std::wstring& path)
{
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
    return std::wstring(buffer, length);
}

// A file put back as it was, or removed when it was not there, when the case ends.
class kept_file {
public:
    explicit kept_file(std::wstring path) : path_(std::move(path)), had_(exists(path_)), content_(read_back(path_)) {}
    ~kept_file()
    {
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, path_.c_str());  // drops the profile cache
        if (!had_) {
            DeleteFileW(path_.c_str());
            return;
        }
        const qv::file_handle file(
            CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD done = 0;
        if (file && !content_.empty())
            WriteFile(file.get(), content_.data(), static_cast<DWORD>(content_.size()), &done, nullptr);
    }
    kept_file(const kept_file&) = delete;
    kept_file& operator=(const kept_file&) = delete;

private:
    std::wstring path_;
    bool had_;
    bytes content_;
};

bool windows_9x_version(OSVERSIONINFOW& info)
{
    info = {};
    info.dwOSVersionInfoSize = sizeof info;
    info.dwMajorVersion = 4;
    info.dwMinorVersion = 10;
    info.dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
    return true;
}

}  // namespace

TEST(PendingOperations, ReplayOfRecordedEntries)
{
    // Wine's user is an administrator: the operations live under HKLM.
    ASSERT_TRUE(qv::IsAdminOrPowerUser());
    struct Value {
        DWORD n;
        const wchar_t* dest;  // names in the case's folder; null: not written; empty: delete
        const wchar_t* source;
    };
    struct Held {
        const wchar_t* name;
        const wchar_t* content;  // the name of the file it was made as
    };
    struct Row {
        const char* name;
        std::optional<DWORD> count;
        std::vector<Value> values;
        std::vector<const wchar_t*> files;
        HRESULT result;
        std::vector<Held> present;
        std::vector<const wchar_t*> absent;
    } rows[] = {
        {"a gap in the numbering: 1 and 3 replayed", 3, {{1, L"d1", L"s1"}, {2, nullptr, L"s2"}, {3, L"d3", L"s3"}},
            {L"s1", L"s2", L"s3"}, S_OK, {{L"d1", L"s1"}, {L"s2", L"s2"}, {L"d3", L"s3"}}, {L"s1", L"s3"}},
        {"an unreadable source skips its entry", 2, {{1, L"d1", nullptr}, {2, L"d2", L"s2"}}, {L"d1", L"s2"}, S_OK,
            {{L"d1", L"d1"}, {L"d2", L"s2"}}, {L"s2"}},
        {"an empty destination deletes the source", 2, {{1, L"", L"s1"}, {2, L"d2", L"s2"}}, {L"s1", L"s2"}, S_OK,
            {{L"d2", L"s2"}}, {L"s1", L"s2"}},
        {"a missing source fails its move, the rest is replayed", 3,
            {{1, L"d1", L"gone"}, {2, L"d2", L"s2"}, {3, L"", L"s3"}}, {L"s2", L"s3"}, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
            {{L"d2", L"s2"}}, {L"d1", L"s2", L"s3"}},
        {"the last failed move is the result", 3, {{1, L"d1", L"gone"}, {2, L"missing\\d2", L"s2"}, {3, L"d3", L"s3"}},
            {L"s2", L"s3"}, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), {{L"s2", L"s2"}, {L"d3", L"s3"}}, {L"d1"}},
        {"an existing destination is replaced", 1, {{1, L"d1", L"s1"}}, {L"d1", L"s1"}, S_OK, {{L"d1", L"s1"}}, {L"s1"}},
        {"deleting a missing file is no failure", 1, {{1, L"", L"gone"}}, {}, S_OK, {}, {L"gone"}},
        {"Count 0 replays nothing", 0, {{1, L"d1", L"s1"}}, {L"s1"}, S_OK, {{L"s1", L"s1"}}, {L"d1"}},
        {"no Count replays nothing", std::nullopt, {{1, L"d1", L"s1"}}, {L"s1"}, S_OK, {{L"s1", L"s1"}}, {L"d1"}},
        {"entries beyond Count stay unreplayed", 1, {{1, L"d1", L"s1"}, {2, L"d2", L"s2"}}, {L"s1", L"s2"}, S_OK,
            {{L"d1", L"s1"}, {L"s2", L"s2"}}, {L"d2"}},
        {"a damaged Count ends with the entries", 0xFFFFFFFF, {{1, L"d1", L"s1"}, {2, L"d2", L"s2"}}, {L"s1", L"s2"}, S_OK,
            {{L"d1", L"s1"}, {L"d2", L"s2"}}, {L"s1", L"s2"}},
        {"no entries at all", std::nullopt, {}, {}, S_OK, {}, {}},
    };
    for (const Row& row : rows) {
        const scratch_folder scratch(L"qv_pending_replay");
        const auto path = [&](const wchar_t* name) { return *name ? scratch.join(name) : std::wstring(); };
        const pending_values recorded(HKEY_LOCAL_MACHINE);
        recorded.make();
        if (row.count) recorded.set_count(*row.count);
        for (const Value& value : row.values) {
            if (value.dest) recorded.set_text(L"dest" + std::to_wstring(value.n), path(value.dest));
            if (value.source) recorded.set_text(L"source" + std::to_wstring(value.n), path(value.source));
        }
        for (const wchar_t* file : row.files) make_named_file(scratch, file);

        EXPECT_EQ(qv::ProcessPendingFileOperations(), row.result) << row.name;
        EXPECT_FALSE(recorded.present()) << row.name << ": the key stays";
        const auto check = [&](const char* when) {
            for (const Held& held : row.present)
                EXPECT_TRUE(holds(path(held.name), held.content)) << row.name << ", " << when << ": " << narrow(held.name);
            for (const wchar_t* name : row.absent)
                EXPECT_FALSE(exists(path(name))) << row.name << ", " << when << ": " << narrow(name) << " is there";
        };
        check("replayed");
        // Nothing runs twice, a failed move included.
        EXPECT_EQ(qv::ProcessPendingFileOperations(), S_OK) << row.name;
        check("after a second run");
    }
}

TEST(PendingOperations, AValueTooLongIsSkippedNeverCutShort)
{
    const scratch_folder scratch(L"qv_pending_long");
    const std::wstring folder = scratch.path() + L"\\";
    // The first MAX_PATH - 1 characters of the long value name a file of their own.
    const std::wstring cut = folder + std::wstring(MAX_PATH - 1 - folder.size(), L'a');
    const std::wstring long_value = cut + std::wstring(40, L'b');
    ASSERT_EQ(cut.size(), size_t{MAX_PATH - 1});
    struct Row {
        const char* name;
        std::wstring dest;
        std::wstring source;
        std::vector<std::wstring> files;
        std::vector<std::wstring> present;
        std::vector<std::wstring> absent;
    } rows[] = {
        {"destination too long", long_value, scratch.join(L"s1"), {L"s1"}, {scratch.join(L"s1")}, {cut}},
        {"source too long", scratch.join(L"d1"), long_value, {cut.substr(folder.size())}, {cut}, {scratch.join(L"d1")}},
    };
    for (const Row& row : rows) {
        const pending_values recorded(HKEY_LOCAL_MACHINE);
        recorded.set_count(2);
        recorded.set_text(L"dest1", row.dest);
        recorded.set_text(L"source1", row.source);
        recorded.set_text(L"dest2", scratch.join(L"d2"));
        recorded.set_text(L"source2", scratch.join(L"s2"));
        for (const std::wstring& file : row.files) make_named_file(scratch, file);
        make_named_file(scratch, L"s2");

        EXPECT_EQ(qv::ProcessPendingFileOperations(), S_OK) << row.name;
        EXPECT_FALSE(recorded.present()) << row.name;
        for (const std::wstring& path : row.present) EXPECT_TRUE(exists(path)) << row.name << ": a file was moved";
        for (const std::wstring& path : row.absent) EXPECT_FALSE(exists(path)) << row.name << ": a cut path was used";
        EXPECT_TRUE(holds(scratch.join(L"d2"), L"s2")) << row.name << ": the next entry is replayed";
        for (const std::wstring& name : scratch.names()) DeleteFileW(scratch.join(name).c_str());
    }
}

TEST(PendingOperations, WithoutRightsOnlyTheUsersEntriesAreReplayed)
{
    const scratch_folder scratch(L"qv_pending_rights");
    const pending_values machine(HKEY_LOCAL_MACHINE);
    const pending_values user(HKEY_CURRENT_USER);
    machine.set_count(1);
    machine.set_text(L"dest1", scratch.join(L"machine_dest"));
    machine.set_text(L"source1", scratch.join(L"machine_source"));
    user.set_count(1);
    user.set_text(L"dest1", scratch.join(L"user_dest"));
    user.set_text(L"source1", scratch.join(L"user_source"));
    make_named_file(scratch, L"machine_source");
    make_named_file(scratch, L"user_source");
    {
        const not_an_administrator filtered;
        ASSERT_TRUE(filtered.active());
        zString found;
        EXPECT_FALSE(qv::FindPendingFileOperation(zString(scratch.join(L"machine_dest").c_str()), found));
        EXPECT_TRUE(qv::FindPendingFileOperation(zString(scratch.join(L"user_dest").c_str()), found));
        EXPECT_EQ(found.str(), scratch.join(L"user_source"));
        EXPECT_EQ(qv::ProcessPendingFileOperations(), S_OK);
    }
    EXPECT_TRUE(holds(scratch.join(L"user_dest"), L"user_source"));
    EXPECT_FALSE(exists(scratch.join(L"user_source")));
    EXPECT_FALSE(user.present());
    EXPECT_TRUE(machine.present()) << "HKLM's entries are left alone";
    EXPECT_EQ(machine.count(), std::optional<DWORD>(1));
    EXPECT_TRUE(exists(scratch.join(L"machine_source")));
    EXPECT_FALSE(exists(scratch.join(L"machine_dest")));
}

TEST(PendingOperations, AddedOperationsAreFoundThenReplayedAndCleared)
{
    const scratch_folder scratch(L"qv_pending_add");
    const pending_values recorded(HKEY_LOCAL_MACHINE);
    EXPECT_EQ(qv::ProcessPendingFileOperations(), S_OK) << "no key: nothing to do";
    make_named_file(scratch, L"s1");
    make_named_file(scratch, L"s2");
    const zString d1(scratch.join(L"d1").c_str()), s1(scratch.join(L"s1").c_str());
    const zString s2(scratch.join(L"s2").c_str());
    ASSERT_TRUE(qv::AddPendingFileOperation(d1, s1));
    ASSERT_TRUE(qv::AddPendingFileOperation(zString(), s2));
    EXPECT_EQ(recorded.count(), std::optional<DWORD>(2));
    EXPECT_EQ(recorded.text(L"dest1"), std::optional<std::wstring>(d1.str()));
    EXPECT_EQ(recorded.text(L"source1"), std::optional<std::wstring>(s1.str()));
    EXPECT_EQ(recorded.text(L"dest2"), std::optional<std::wstring>(L""));
    EXPECT_EQ(recorded.text(L"source2"), std::optional<std::wstring>(s2.str()));

    std::wstring upper = scratch.path();
    CharUpperW(upper.data());
    struct Row {
        const char* name;
        std::wstring dest;
        bool found;
    } rows[] = {
        {"as recorded", d1.str(), true},
        {"in other case", upper + L"\\D1", true},
        {"through \".\" and \"..\"", scratch.path() + L"\\.\\sub\\..\\d1", true},
        {"another file", scratch.join(L"d3"), false},
        {"a prefix of the recorded one", scratch.join(L"d"), false},
    };
    for (const Row& row : rows) {
        zString source(L"untouched");
        EXPECT_EQ(qv::FindPendingFileOperation(zString(row.dest.c_str()), source), row.found) << row.name;
        EXPECT_EQ(source.str(), row.found ? s1.str() : std::wstring(L"untouched")) << row.name;
    }

    EXPECT_EQ(qv::ProcessPendingFileOperations(), S_OK);
    EXPECT_TRUE(holds(d1.str(), L"s1"));
    EXPECT_FALSE(exists(s1.str()));
    EXPECT_FALSE(exists(s2.str()));
    EXPECT_FALSE(recorded.present());
    zString source;
    EXPECT_FALSE(qv::FindPendingFileOperation(d1, source));
}

TEST(PendingOperations, AddRefusesAPathTheReplayCouldNotRead)
{
    const pending_values recorded(HKEY_LOCAL_MACHINE);
    const std::wstring fits(MAX_PATH - 1, L'x'), too_long(MAX_PATH, L'x');
    struct Row {
        const char* name;
        const std::wstring& dest;
        const std::wstring& source;
        bool added;
    } rows[] = {
        {"destination of 259 characters", fits, fits, true},
        {"destination of 260 characters", too_long, fits, false},
        {"source of 260 characters", fits, too_long, false},
    };
    DWORD expected_count = 0;
    for (const Row& row : rows) {
        qv::SetLastFileOpError(0);
        EXPECT_EQ(qv::AddPendingFileOperation(zString(row.dest.c_str()), zString(row.source.c_str())), row.added)
            << row.name;
        if (row.added) ++expected_count;
        EXPECT_EQ(qv::LastFileOpError(), row.added ? 0u : DWORD{ERROR_FILENAME_EXCED_RANGE}) << row.name;
        EXPECT_EQ(recorded.count(), std::optional<DWORD>(expected_count)) << row.name;
    }
}

TEST(Wininit, OnThe9xFamilyLinesGoToTheRenameSection)
{
    const scratch_folder scratch(L"qv_pending_wininit");
    const std::wstring ini = qv::GetWindowsFolder(false).str() + L"WININIT.INI";
    const kept_file kept(ini);
    const swapped<bool (*)(OSVERSIONINFOW&)> version(qv::folder_seams::os_version, windows_9x_version);
    ASSERT_TRUE(WritePrivateProfileStringW(L"rename", L"C:\\OLD.TXT", L"C:\\NEW.TXT", ini.c_str()));
    make_named_file(scratch, L"source file.txt");
    make_named_file(scratch, L"doomed file.txt");
    const std::wstring dest = scratch.join(L"target.txt");

    ASSERT_TRUE(qv::QueueRenameInWininit(zString(dest.c_str()), zString(scratch.join(L"source file.txt").c_str())));
    ASSERT_TRUE(qv::QueueRenameInWininit(zString(), zString(scratch.join(L"doomed file.txt").c_str())));
    qv::SetLastFileOpError(0);
    EXPECT_FALSE(qv::QueueRenameInWininit(zString(dest.c_str()), zString(scratch.join(L"missing.txt").c_str())));
    EXPECT_EQ(qv::LastFileOpError(), DWORD{ERROR_FILE_NOT_FOUND});

    const std::wstring folder = short_name(scratch.path() + L"\\");
    const std::vector<std::wstring> expected = {
        L"C:\\OLD.TXT=C:\\NEW.TXT",
        folder + L"target.txt=" + short_name(scratch.join(L"source file.txt")),
        L"NUL=" + short_name(scratch.join(L"doomed file.txt")),
    };
    EXPECT_EQ(rename_lines(ini), expected);
    EXPECT_TRUE(exists(scratch.join(L"source file.txt"))) << "nothing moves before the reboot";
}

TEST(Wininit, OnNTTheOperationWaitsForTheReboot)
{
    const scratch_folder scratch(L"qv_pending_reboot");
    make_named_file(scratch, L"source.txt");
    const std::wstring source = scratch.join(L"source.txt"), dest = scratch.join(L"dest.txt");
    ASSERT_FALSE(qv::IsWindows9xFamily());
    ASSERT_TRUE(qv::QueueRenameInWininit(zString(dest.c_str()), zString(source.c_str())));
    ASSERT_TRUE(qv::QueueRenameInWininit(zString(), zString(source.c_str())));

    // The reboot's list: pairs of "\??\source" and "!\??\dest" (replacing) or "" (deleting).
    constexpr const wchar_t* session = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    qv::registry_key key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, session, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.put()), ERROR_SUCCESS);
    DWORD size = 0;
    ASSERT_EQ(RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, L'\0');
    ASSERT_EQ(RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, nullptr,
                  reinterpret_cast<BYTE*>(data.data()), &size),
        ERROR_SUCCESS);
    std::vector<std::wstring> strings;
    for (size_t at = 0; at < size / sizeof(wchar_t);) {
        strings.emplace_back(data.data() + at);
        at += strings.back().size() + 1;
    }
    if (!strings.empty() && strings.back().empty() && strings.size() % 2 == 1) strings.pop_back();  // the list's end

    std::vector<std::wstring> ours, kept;
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
        const bool mine = _wcsicmp(strings[i].c_str(), (L"\\??\\" + source).c_str()) == 0;
        (mine ? ours : kept).push_back(strings[i]);
        (mine ? ours : kept).push_back(strings[i + 1]);
    }
    // What the case added goes again: the next start of the prefix would replay it.
    if (kept.empty()) {
        RegDeleteValueW(key.get(), L"PendingFileRenameOperations");
    } else {
        std::wstring list;
        for (const std::wstring& s : kept) list += s + L'\0';
        list += L'\0';
        RegSetValueExW(key.get(), L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
            reinterpret_cast<const BYTE*>(list.data()), static_cast<DWORD>(list.size() * sizeof(wchar_t)));
    }
    const std::vector<std::wstring> expected = {L"\\??\\" + source, L"!\\??\\" + dest, L"\\??\\" + source, L""};
    ASSERT_EQ(ours.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(_wcsicmp(ours[i].c_str(), expected[i].c_str()), 0) << i;
    EXPECT_TRUE(exists(source)) << "nothing moves before the reboot";
}

TEST(DeleteFolderTree, FoldersWithAllInThemAndSingleFiles)
{
    struct Row {
        const char* name;
        std::vector<const wchar_t*> folders;  // made in order, below the case's folder
        std::vector<const wchar_t*> files;
        const wchar_t* target;                // what is deleted
        const wchar_t* suffix;                // put behind the target's path
        bool result;
        std::vector<const wchar_t*> left;     // still there afterwards
    } rows[] = {
        {"a tree", {L"tree", L"tree\\a", L"tree\\a\\b", L"tree\\c"},
            {L"tree\\one.txt", L"tree\\a\\two.txt", L"tree\\a\\b\\three.txt", L"tree\\.cfg"}, L"tree", L"", true, {}},
        {"a tree named with its backslash", {L"tree", L"tree\\a"}, {L"tree\\a\\x.txt"}, L"tree", L"\\", true, {}},
        {"an empty folder", {L"empty"}, {}, L"empty", L"", true, {}},
        {"a file alone", {L"beside"}, {L"file.txt", L"beside\\other.txt"}, L"file.txt", L"", true,
            {L"beside\\other.txt"}},
        {"nothing of the name", {}, {}, L"missing", L"", true, {}},
        {"only the named folder", {L"tree", L"tree2"}, {L"tree\\x.txt", L"tree2\\y.txt"}, L"tree", L"", true,
            {L"tree2\\y.txt"}},
    };
    for (const Row& row : rows) {
        const scratch_folder scratch(L"qv_pending_delete");
        for (const wchar_t* folder : row.folders) CreateDirectoryW(scratch.join(folder).c_str(), nullptr);
        for (const wchar_t* file : row.files) make_named_file(scratch, file);
        const std::wstring target = scratch.join(row.target);
        EXPECT_EQ(qv::DeleteFolderTree(zString((target + row.suffix).c_str())), row.result) << row.name;
        EXPECT_FALSE(exists(target)) << row.name;
        for (const wchar_t* name : row.left) EXPECT_TRUE(exists(scratch.join(name))) << row.name << ": " << narrow(name);
    }
}

TEST(DeleteFolderTree, ReadOnlyEntriesGoToo)
{
    const scratch_folder scratch(L"qv_pending_readonly");
    CreateDirectoryW(scratch.join(L"tree").c_str(), nullptr);
    CreateDirectoryW(scratch.join(L"tree\\sub").c_str(), nullptr);
    make_named_file(scratch, L"tree\\sub\\locked.txt");
    make_named_file(scratch, L"alone.txt");
    SetFileAttributesW(scratch.join(L"tree\\sub\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW(scratch.join(L"alone.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_FALSE(DeleteFileW(scratch.join(L"alone.txt").c_str())) << "a read-only file refuses a plain delete";
    EXPECT_TRUE(qv::DeleteFolderTree(zString(scratch.join(L"tree").c_str())));
    EXPECT_FALSE(exists(scratch.join(L"tree")));
    EXPECT_TRUE(qv::DeleteFolderTree(zString(scratch.join(L"alone.txt").c_str())));
    EXPECT_FALSE(exists(scratch.join(L"alone.txt")));
}

TEST(PendingPath, RootsFoldersNamesAndJoins)
{
    enum class op { root, folder, file_name, normalized, append };
    struct Row {
        const char* name;
        op what;
        const wchar_t* path;
        const wchar_t* part;  // for append
        const wchar_t* expected;
    } rows[] = {
        {"root of a UNC path", op::root, L"\\\\server\\share\\dir\\file.txt", nullptr, L"\\\\server\\share"},
        {"root of a bare share", op::root, L"\\\\server\\share", nullptr, L"\\\\server\\share"},
        {"root of a server alone", op::root, L"\\\\server", nullptr, L"\\\\server"},
        {"root of a drive path", op::root, L"C:\\dir\\file.txt", nullptr, L"C:"},
        {"root of a relative path", op::root, L"dir\\file.txt", nullptr, L""},
        {"root of nothing", op::root, L"", nullptr, L""},
        {"folder of a file", op::folder, L"C:\\dir\\file.txt", nullptr, L"C:\\dir\\"},
        {"folder of a file at the drive root", op::folder, L"C:\\file.txt", nullptr, L"C:\\"},
        {"folder of a drive-relative name", op::folder, L"C:file.txt", nullptr, L"C:"},
        {"folder of a UNC file", op::folder, L"\\\\server\\share\\file.txt", nullptr, L"\\\\server\\share\\"},
        {"folder of a share: its root", op::folder, L"\\\\server\\share", nullptr, L"\\\\server\\share"},
        {"folder of a folder named with its backslash", op::folder, L"C:\\dir\\", nullptr, L"C:\\dir\\"},
        {"folder of a bare name", op::folder, L"file.txt", nullptr, L""},
        {"name of a file", op::file_name, L"C:\\dir\\file.txt", nullptr, L"file.txt"},
        {"name of a drive-relative file", op::file_name, L"C:file.txt", nullptr, L"file.txt"},
        {"name of a share: none", op::file_name, L"\\\\server\\share", nullptr, L""},
        {"name of a folder with its backslash: none", op::file_name, L"C:\\dir\\", nullptr, L""},
        {"name of a bare name", op::file_name, L"file.txt", nullptr, L"file.txt"},
        {"a dotted name stays", op::normalized, L"C:\\a\\.cfg", nullptr, L"C:\\a\\.cfg"},
        {"a dotted folder stays", op::normalized, L"C:\\.git\\x", nullptr, L"C:\\.git\\x"},
        {"three dots are a name", op::normalized, L"C:\\a\\...\\b", nullptr, L"C:\\a\\...\\b"},
        {"\".\" goes", op::normalized, L"C:\\a\\.\\b", nullptr, L"C:\\a\\b"},
        {"a trailing \".\" goes", op::normalized, L"C:\\a\\.", nullptr, L"C:\\a"},
        {"\"..\" takes the component before it", op::normalized, L"C:\\a\\b\\..\\c", nullptr, L"C:\\a\\c"},
        {"two \"..\" take two", op::normalized, L"C:\\a\\b\\c\\..\\..\\d", nullptr, L"C:\\a\\d"},
        {"\"..\" after \".\"", op::normalized, L"C:\\a\\b\\.\\..\\c", nullptr, L"C:\\a\\c"},
        {"\"..\" stops at the drive root", op::normalized, L"C:\\..\\x", nullptr, L"C:\\x"},
        {"\"..\" up to the drive root", op::normalized, L"C:\\a\\..", nullptr, L"C:\\"},
        {"\"..\" never eats a UNC root", op::normalized, L"\\\\server\\share\\..\\..\\x", nullptr,
            L"\\\\server\\share\\x"},
        {"a UNC path", op::normalized, L"\\\\server\\share\\a\\.\\b\\..\\c", nullptr, L"\\\\server\\share\\a\\c"},
        {"a trailing backslash stays", op::normalized, L"C:\\a\\b\\..\\", nullptr, L"C:\\a\\"},
        {"a relative path keeps what it cannot resolve", op::normalized, L"..\\a\\..\\..\\b", nullptr,
            L"..\\..\\b"},
        {"a rooted path without a drive", op::normalized, L"\\a\\..\\..\\b", nullptr, L"\\b"},
        {"a clean path is itself", op::normalized, L"C:\\dir\\file.txt", nullptr, L"C:\\dir\\file.txt"},
        {"append to a folder", op::append, L"C:\\dir", L"file.txt", L"C:\\dir\\file.txt"},
        {"append to a folder with its backslash", op::append, L"C:\\dir\\", L"file.txt", L"C:\\dir\\file.txt"},
        {"append a part with its backslash", op::append, L"C:\\dir\\", L"\\file.txt", L"C:\\dir\\file.txt"},
        {"append to a drive", op::append, L"C:", L"file.txt", L"C:\\file.txt"},
        {"append nothing", op::append, L"C:\\dir", L"", L"C:\\dir"},
    };
    for (const Row& row : rows) {
        const zpath path(row.path);
        zpath got;
        switch (row.what) {
        case op::root: got = qv::pending_path::root(path); break;
        case op::folder: got = qv::pending_path::folder(path); break;
        case op::file_name: got = qv::pending_path::file_name(path); break;
        case op::normalized: got = qv::pending_path::normalized(path); break;
        case op::append: got = qv::pending_path::append(path, row.part); break;
        }
        EXPECT_EQ(std::wstring(got.view()), std::wstring(row.expected)) << row.name << ": " << got.narrow();
    }
}

TEST(PendingPath, SamePathAfterNormalisationWithoutRegardToCase)
{
    struct Row {
        const char* name;
        const wchar_t* a;
        const wchar_t* b;
        bool same;
    } rows[] = {
        {"identical", L"C:\\dir\\file.txt", L"C:\\dir\\file.txt", true},
        {"other case", L"C:\\Dir\\FILE.txt", L"c:\\dir\\file.TXT", true},
        {"through \".\"", L"C:\\dir\\.\\file.txt", L"C:\\dir\\file.txt", true},
        {"through \"..\"", L"C:\\dir\\sub\\..\\file.txt", L"C:\\DIR\\file.txt", true},
        {"a dotted name is no \".\"", L"C:\\dir\\.file", L"C:\\dir\\file", false},
        {"other files", L"C:\\dir\\a.txt", L"C:\\dir\\b.txt", false},
        {"a prefix", L"C:\\dir\\file", L"C:\\dir\\file.txt", false},
        {"other shares", L"\\\\server\\one\\x", L"\\\\server\\two\\x", false},
        {"a UNC root is not climbed over", L"\\\\server\\one\\..\\two\\x", L"\\\\server\\two\\x", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(qv::pending_path::same(zpath(row.a), zpath(row.b)), row.same) << row.name;
        EXPECT_EQ(qv::pending_path::same(zpath(row.b), zpath(row.a)), row.same) << row.name << ", turned round";
    }
}

TEST(Attributes, FailuresThrowWithThePathAndTheError)
{
    const scratch_folder scratch(L"qv_pending_attributes");
    const zString missing(scratch.join(L"missing.txt").c_str());
    const zString in_missing_folder(scratch.join(L"no\\such.txt").c_str());
    struct Row {
        const char* name;
        const zString& path;
        bool set;
        DWORD error;
    } rows[] = {
        {"attributes of a missing file", missing, false, ERROR_FILE_NOT_FOUND},
        {"setting them on a missing file", missing, true, ERROR_FILE_NOT_FOUND},
        {"attributes in a missing folder", in_missing_folder, false, ERROR_PATH_NOT_FOUND},
    };
    for (const Row& row : rows) {
        try {
            if (row.set)
                qv::SetAttributesOrThrow(row.path, FILE_ATTRIBUTE_NORMAL);
            else
                qv::GetAttributesOrThrow(row.path);
            ADD_FAILURE() << row.name << ": nothing thrown";
        } catch (const qv::file_exception& failure) {
            EXPECT_EQ(failure.error(), row.error) << row.name;
            EXPECT_EQ(failure.path().str(), row.path.str()) << row.name;
        }
    }

    make_named_file(scratch, L"file.txt");
    const zString file(scratch.join(L"file.txt").c_str());
    qv::SetAttributesOrThrow(file, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(qv::GetAttributesOrThrow(file) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY),
        DWORD{FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN});
    qv::SetAttributesOrThrow(file, FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(qv::GetAttributesOrThrow(zString(scratch.path().c_str())) & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(Attributes, ShortPathsOfWhatExists)
{
    const scratch_folder scratch(L"qv_pending_short");
    make_named_file(scratch, L"a rather long file name.text");
    const std::wstring file = scratch.join(L"a rather long file name.text");
    const std::wstring shortened = qv::GetShortPath(zString(file.c_str())).str();
    EXPECT_EQ(shortened, short_name(file));
    EXPECT_TRUE(holds(shortened, L"a rather long file name.text")) << "the short name names the same file";
    try {
        qv::GetShortPath(zString(scratch.join(L"missing.txt").c_str()));
        ADD_FAILURE() << "nothing thrown";
    } catch (const qv::win32_exception& failure) {
        EXPECT_EQ(failure.error(), DWORD{ERROR_FILE_NOT_FOUND});
    }
}
