#include "rights.h"

#include "FakeEntries.h"
#include "FileSupport.h"
#include "ScratchFolder.h"
#include "fixtures/not_an_administrator.h"
#include "system_folders.h"
#include "SwappedSeam.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <optional>
#include <string>
#include <vector>

namespace {

template <DWORD Platform>
bool version_of_platform(OSVERSIONINFOW& info)
{
    info = {};
    info.dwOSVersionInfoSize = sizeof info;
    info.dwMajorVersion = Platform == VER_PLATFORM_WIN32_NT ? 6 : 4;
    info.dwPlatformId = Platform;
    return true;
}

std::wstring temp_path()
{
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, buffer);
    return std::wstring(buffer, length);
}

bool starts_with(std::wstring_view s, std::wstring_view prefix)
{
    return s.size() >= prefix.size() && _wcsnicmp(s.data(), prefix.data(), prefix.size()) == 0;
}

bool ends_with(std::wstring_view s, std::wstring_view suffix)
{
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// 8-4-4-4-12 upper-case hexadecimal digits.
bool is_uuid_text(std::wstring_view s)
{
    if (s.size() != 36) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const wchar_t c = s[i];
        if (dash ? c != L'-' : !((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'))) return false;
    }
    return true;
}

// "{UUID}" with `after` behind it.
bool is_braced_uuid(std::wstring_view s, std::wstring_view after = L"")
{
    if (s.size() != 38 + after.size() || s.front() != L'{' || s[37] != L'}' || s.substr(38) != after) return false;
    return is_uuid_text(s.substr(1, 36));
}

// The name's last component, the trailing backslash of a folder's name left out.
std::wstring last_part(std::wstring s)
{
    if (!s.empty() && s.back() == L'\\') s.pop_back();
    return s.substr(s.rfind(L'\\') + 1);
}

// UuidCreate answering from a list, the last answer again and again once the list is used up.
std::vector<UUID> uuid_answers;
size_t uuid_calls = 0;
RPC_STATUS RPC_ENTRY listed_uuid(UUID* out)
{
    const size_t next = uuid_calls++;
    *out = uuid_answers[next < uuid_answers.size() ? next : uuid_answers.size() - 1];
    return RPC_S_OK;
}
RPC_STATUS RPC_ENTRY no_uuid(UUID*) { return RPC_S_UUID_NO_ADDRESS; }

class listed_uuids {
public:
    explicit listed_uuids(std::vector<UUID> answers)
    {
        uuid_answers = std::move(answers);
        uuid_calls = 0;
        fake_.replace("UuidCreate", listed_uuid);
    }
    size_t asked() const { return uuid_calls; }

private:
    fake_entries fake_;
};

constexpr UUID uuid_a = {0x12345678, 0x9abc, 0xdef0, {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef}};
constexpr UUID uuid_b = {0x0fedcba9, 0x8765, 0x4321, {0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x00, 0x11}};
constexpr const wchar_t* uuid_a_text = L"12345678-9ABC-DEF0-0123-456789ABCDEF";
constexpr const wchar_t* uuid_b_text = L"0FEDCBA9-8765-4321-AABB-CCDDEEFF0011";

}  // namespace

TEST(Rights, AFilteredTokenIsNoAdministratorButAnAdministratorAnyUse)
{
    // Wine's user is an elevated administrator, read from the process token.
    ASSERT_TRUE(qv::IsAdministrator());
    {
        const not_an_administrator filtered;
        ASSERT_TRUE(filtered.active());
        EXPECT_FALSE(qv::IsAdministrator());
        EXPECT_TRUE(qv::IsAdministratorAnyUse());
        EXPECT_FALSE(qv::IsPowerUser());
        EXPECT_FALSE(qv::IsAdminOrPowerUser());
    }
    EXPECT_TRUE(qv::IsAdministrator()) << "the process token again once the thread is itself";
    EXPECT_TRUE(qv::IsAdminOrPowerUser());
}

TEST(Rights, GroupMembershipByGroupAndDenyOnlyRule)
{
    struct Row {
        const char* name;
        bool filtered;
        qv::builtin_group group;
        bool refuse_deny_only;
        bool expected;
    } rows[] = {
        {"administrators, own token", false, qv::builtin_group::administrators, true, true},
        {"administrators, own token, deny-only allowed", false, qv::builtin_group::administrators, false, true},
        {"administrators, filtered token", true, qv::builtin_group::administrators, true, false},
        {"administrators, filtered token, deny-only allowed", true, qv::builtin_group::administrators, false, true},
        // This prefix's token lists no Power Users at all.
        {"power users, not listed", false, qv::builtin_group::power_users, false, false},
        {"power users, filtered token", true, qv::builtin_group::power_users, true, false},
    };
    for (const Row& row : rows) {
        std::optional<not_an_administrator> filtered;
        if (row.filtered) {
            filtered.emplace();
            ASSERT_TRUE(filtered->active()) << row.name;
        }
        EXPECT_EQ(qv::CheckGroupMembership(row.group, row.refuse_deny_only), row.expected) << row.name;
    }
}

TEST(Rights, OnThe9xFamilyEveryUserIsAdministratorAndPowerUser)
{
    struct Row {
        const char* name;
        bool (*version)(OSVERSIONINFOW&);
        bool filtered;
        bool nine_x;
        bool administrator;
        std::optional<bool> power_user;  // none where only the token decides
    } rows[] = {
        {"Win32s", version_of_platform<VER_PLATFORM_WIN32s>, true, true, true, true},
        {"Windows 9x, filtered token", version_of_platform<VER_PLATFORM_WIN32_WINDOWS>, true, true, true, true},
        {"Windows 9x, own token", version_of_platform<VER_PLATFORM_WIN32_WINDOWS>, false, true, true, true},
        {"NT, filtered token", version_of_platform<VER_PLATFORM_WIN32_NT>, true, false, false, false},
        {"NT, own token", version_of_platform<VER_PLATFORM_WIN32_NT>, false, false, true, std::nullopt},
    };
    for (const Row& row : rows) {
        const swapped<bool (*)(OSVERSIONINFOW&)> version(qv::folder_seams::os_version, row.version);
        std::optional<not_an_administrator> filtered;
        if (row.filtered) {
            filtered.emplace();
            ASSERT_TRUE(filtered->active()) << row.name;
        }
        EXPECT_EQ(qv::IsWindows9xFamily(), row.nine_x) << row.name;
        EXPECT_EQ(qv::IsAdministrator(), row.administrator) << row.name;
        EXPECT_TRUE(qv::IsAdministratorAnyUse()) << row.name;
        if (row.power_user) {
            EXPECT_EQ(qv::IsPowerUser(), *row.power_user) << row.name;
        }
        EXPECT_EQ(qv::IsAdminOrPowerUser(), row.administrator || row.power_user.value_or(false)) << row.name;
    }
    EXPECT_FALSE(qv::IsWindows9xFamily()) << "Wine reports an NT version";
}

namespace {

// What CreateDirectoryW was given. Wine keeps a new folder's security only as Unix mode bits and
// reads back a list of its own making, so the list is taken on its way to Windows.
struct ace_seen {
    BYTE type;
    BYTE flags;
    DWORD mask;
    std::wstring sid;
};
struct folder_request {
    std::wstring path;
    bool has_security = false;
    BOOL inherit_handle = TRUE;
    bool dacl_present = false;
    bool dacl_defaulted = true;
    bool dacl_protected = false;
    bool acl_valid = false;
    std::vector<ace_seen> aces;
};
std::vector<folder_request> folder_requests;

std::wstring sid_text(PSID sid)
{
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return {};
    const qv::local_memory held(text);
    return text;
}

folder_request describe(LPCWSTR path, const SECURITY_ATTRIBUTES* security)
{
    folder_request seen;
    seen.path = path;
    if (!security || !security->lpSecurityDescriptor) return seen;
    seen.has_security = true;
    seen.inherit_handle = security->bInheritHandle;
    PSECURITY_DESCRIPTOR descriptor = security->lpSecurityDescriptor;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (GetSecurityDescriptorControl(descriptor, &control, &revision)) seen.dacl_protected = control & SE_DACL_PROTECTED;
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) || !acl) return seen;
    seen.dacl_present = present;
    seen.dacl_defaulted = defaulted;
    seen.acl_valid = IsValidAcl(acl);
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!GetAce(acl, i, reinterpret_cast<void**>(&ace))) continue;
        seen.aces.push_back({ace->Header.AceType, ace->Header.AceFlags, ace->Mask, sid_text(&ace->SidStart)});
    }
    return seen;
}

BOOL WINAPI recording_create_directory(LPCWSTR path, LPSECURITY_ATTRIBUTES security)
{
    folder_requests.push_back(describe(path, security));
    using create = BOOL(WINAPI*)(LPCWSTR, LPSECURITY_ATTRIBUTES);
    const auto real = reinterpret_cast<create>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreateDirectoryW")));
    return real(path, security);
}

BOOL WINAPI refused_create_directory(LPCWSTR path, LPSECURITY_ATTRIBUTES security)
{
    folder_requests.push_back(describe(path, security));
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

}  // namespace

TEST(SecureTempFolder, TwoFoldersDifferEachWithTheTwoEntriesOfTheList)
{
    folder_requests.clear();
    fake_entries fake;
    fake.replace("CreateDirectoryW", recording_create_directory);
    const std::wstring first = qv::CreateSecureTempFolder().str();
    const std::wstring second = qv::CreateSecureTempFolder().str();
    const auto remove = [](const std::wstring& folder) {
        if (!folder.empty()) RemoveDirectoryW(folder.c_str());
    };
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_NE(first, second);
    ASSERT_EQ(folder_requests.size(), 2u);

    struct Entry {
        const char* trustee;
        const wchar_t* sid;
        DWORD mask;
    } const table[] = {
        {"BUILTIN\\Users: read and execute", L"S-1-5-32-545", 0x1200A9},
        {"BUILTIN\\Administrators: full control", L"S-1-5-32-544", 0x1F01FF},
    };
    const std::wstring temp = temp_path();
    for (size_t i = 0; i < 2; ++i) {
        const std::wstring& folder = i == 0 ? first : second;
        const folder_request& seen = folder_requests[i];
        EXPECT_TRUE(starts_with(folder, temp)) << folder.size();
        EXPECT_TRUE(is_braced_uuid(folder.substr(temp.size()), L"\\")) << i;
        EXPECT_EQ(seen.path + L"\\", folder);
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) << i;

        ASSERT_TRUE(seen.has_security) << i;
        EXPECT_FALSE(seen.inherit_handle);
        EXPECT_TRUE(seen.dacl_present);
        EXPECT_FALSE(seen.dacl_defaulted);
        EXPECT_TRUE(seen.dacl_protected) << "the parent's entries would join the list";
        EXPECT_TRUE(seen.acl_valid);
        ASSERT_EQ(seen.aces.size(), 2u) << i;
        for (const Entry& entry : table) {
            size_t matches = 0;
            for (const ace_seen& ace : seen.aces) {
                if (ace.sid != entry.sid) continue;
                ++matches;
                EXPECT_EQ(ace.type, ACCESS_ALLOWED_ACE_TYPE) << entry.trustee;
                EXPECT_EQ(ace.mask, entry.mask) << entry.trustee;
                EXPECT_EQ(ace.flags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE) << entry.trustee;
            }
            EXPECT_EQ(matches, 1u) << entry.trustee << " in folder " << i;
        }
    }
    remove(first);
    remove(second);
}

TEST(SecureTempFolder, AFailedStepGivesAnEmptyName)
{
    const std::wstring temp = temp_path();
    struct Row {
        const char* name;
        bool refuse_folder;
        bool uuid;
        size_t folders_asked;
    } rows[] = {
        {"the folder is refused", true, true, 1},
        {"no UUID: no folder named \"{}\"", false, false, 0},
    };
    for (const Row& row : rows) {
        folder_requests.clear();
        fake_entries fake;
        if (!row.uuid) fake.replace("UuidCreate", no_uuid);
        fake.replace("CreateDirectoryW", row.refuse_folder ? refused_create_directory : recording_create_directory);
        EXPECT_TRUE(qv::CreateSecureTempFolder().empty()) << row.name;
        EXPECT_EQ(folder_requests.size(), row.folders_asked) << row.name;
        EXPECT_FALSE(exists(temp + L"{}")) << row.name;
    }
}

TEST(NewUuidString, UpperCaseWithoutBraces)
{
    const std::wstring first = qv::NewUuidString().str();
    const std::wstring second = qv::NewUuidString().str();
    EXPECT_TRUE(is_uuid_text(first)) << zString(first.c_str()).narrow();
    EXPECT_TRUE(is_uuid_text(second));
    EXPECT_NE(first, second);

    struct Row {
        const char* name;
        bool hidden;
        RPC_STATUS (RPC_ENTRY* create)(UUID*);
        std::wstring expected;
    } rows[] = {
        {"a given UUID", false, listed_uuid, uuid_a_text},
        {"UuidCreate fails", false, no_uuid, L""},
        {"no UuidCreate", true, nullptr, L""},
    };
    for (const Row& row : rows) {
        uuid_answers = {uuid_a};
        uuid_calls = 0;
        fake_entries fake;
        if (row.hidden)
            fake.hide("UuidCreate");
        else
            fake.replace("UuidCreate", row.create);
        EXPECT_EQ(qv::NewUuidString().str(), row.expected) << row.name;
    }
}

TEST(TempFileName, NamesOfWhichNothingExists)
{
    const scratch_folder scratch(L"qv_rights_names");
    const std::wstring in = scratch.path() + L"\\";
    const std::wstring deeper = scratch.join(L"made\\deeper");
    struct Row {
        const char* name;
        std::wstring folder;
        bool system_name;
        const wchar_t* extension;
        std::wstring expected_folder;  // what the name starts with
        const wchar_t* ending;
        bool folder_name;  // "{UUID}" + extension + backslash
    } rows[] = {
        {"system name", scratch.path(), true, L"", in, L".tmp", false},
        {"system name, folder with backslash", in, true, L"", in, L".tmp", false},
        {"system name, extension in place of .tmp", scratch.path(), true, L".log", in, L".log", false},
        {"system name, extension without its dot", scratch.path(), true, L"log", in, L".log", false},
        {"folder name", scratch.path(), false, L"", in, L"}\\", true},
        {"folder name with extension", scratch.path(), false, L".dir", in, L"}.dir\\", true},
        {"folder name, extension without its dot", scratch.path(), false, L"dir", in, L"}.dir\\", true},
        {"folder name in a folder made for it", deeper, false, L"", deeper + L"\\", L"}\\", true},
        {"system name in the temporary folder", L"", true, L"", temp_path(), L".tmp", false},
        {"folder name in the temporary folder", L"", false, L"", temp_path(), L"}\\", true},
    };
    for (const Row& row : rows) {
        const std::wstring name =
            qv::CreateTempFileName(zString(row.folder.c_str()), row.system_name, zString(row.extension)).str();
        ASSERT_FALSE(name.empty()) << row.name;
        EXPECT_TRUE(starts_with(name, row.expected_folder)) << row.name;
        EXPECT_TRUE(ends_with(name, row.ending)) << row.name;
        const std::wstring part = last_part(name);
        EXPECT_EQ(name.size(), row.expected_folder.size() + part.size() + (row.folder_name ? 1 : 0)) << row.name;
        if (row.folder_name) {
            const std::wstring extension = row.extension[0] && row.extension[0] != L'.' ? std::wstring(L".") + row.extension
                                                                                        : row.extension;
            EXPECT_TRUE(is_braced_uuid(part, extension)) << row.name;
        } else {
            EXPECT_TRUE(starts_with(part, L"_qv")) << row.name;
        }
        std::wstring bare = name;
        if (bare.back() == L'\\') bare.pop_back();
        EXPECT_FALSE(exists(bare)) << row.name << ": something of the name exists";
        EXPECT_TRUE(exists(row.expected_folder)) << row.name << ": the folder is made";
    }
    // Of the system names only the names stay: the files Windows made are gone again.
    EXPECT_EQ(scratch.names(), std::vector<std::wstring>{L"made"});
}

TEST(TempFileName, TakenNamesAreSkippedAndTheTriesEnd)
{
    const scratch_folder scratch(L"qv_rights_taken");
    CreateDirectoryW(scratch.join(std::wstring(L"{") + uuid_a_text + L"}").c_str(), nullptr);
    scratch.write(std::wstring(L"{") + uuid_a_text + L"}.dat", {1});
    const zString folder(scratch.path().c_str());
    struct Row {
        const char* name;
        std::vector<UUID> answers;
        const wchar_t* extension;
        std::wstring expected;
        size_t tries;
    } rows[] = {
        {"a taken folder name is skipped", {uuid_a, uuid_b}, L"", scratch.join(std::wstring(L"{") + uuid_b_text + L"}\\"),
            2},
        {"a file of the name counts as taken", {uuid_a, uuid_b}, L".dat",
            scratch.join(std::wstring(L"{") + uuid_b_text + L"}.dat\\"), 2},
        {"every name taken: the tries end empty", {uuid_a}, L"", L"", qv::temp_name_attempts},
        {"every name taken by a file", {uuid_a}, L".dat", L"", qv::temp_name_attempts},
    };
    for (const Row& row : rows) {
        const listed_uuids uuids(row.answers);
        EXPECT_EQ(qv::CreateTempFileName(folder, false, zString(row.extension)).str(), row.expected) << row.name;
        EXPECT_EQ(uuids.asked(), row.tries) << row.name;
    }
    {
        fake_entries fake;
        fake.hide("UuidCreate");
        EXPECT_TRUE(qv::CreateTempFileName(folder, false, zString()).empty()) << "no UUID at all";
    }
    // A folder that cannot be made, below a file, leaves Windows nothing to name a file in.
    const std::wstring below_a_file = scratch.join(std::wstring(L"{") + uuid_a_text + L"}.dat\\inside");
    EXPECT_TRUE(qv::CreateTempFileName(zString(below_a_file.c_str()), true, zString()).empty());
}
