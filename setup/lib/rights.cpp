#include "rights.h"

#include "file_system.h"
#include "handle.h"
#include "os_entry.h"
#include "system_folders.h"

#include <aclapi.h>

#include <vector>

namespace qv {

namespace {

allocated_sid builtin_sid(DWORD rid)
{
    SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
    allocated_sid sid;
    if (!AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID, rid, 0, 0, 0, 0, 0, 0, sid.put()))
        return allocated_sid();
    return sid;
}

// The token whose groups count: the thread's while it impersonates, else the process's.
bool open_token(kernel_handle& token)
{
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, token.put())) return true;
    if (GetLastError() != ERROR_NO_TOKEN) return false;
    return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) != FALSE;
}

// The path of the temporary folder without trying any other; empty when it does not fit.
std::wstring temp_path()
{
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH, buffer);
    if (length == 0 || length >= MAX_PATH) return {};
    return std::wstring(buffer, length);
}

// "{UUID}", empty when no UUID could be made.
std::wstring braced_uuid()
{
    const zString uuid = NewUuidString();
    if (uuid.empty()) return {};
    return L"{" + uuid.str() + L"}";
}

std::wstring dotted(std::wstring_view extension)
{
    if (extension.empty() || extension.front() == L'.') return std::wstring(extension);
    return L"." + std::wstring(extension);
}

// A name GetTempFileNameW makes in the folder, its file deleted again; empty when it makes none.
std::wstring system_temp_name(const std::wstring& folder, std::wstring_view extension)
{
    wchar_t buffer[MAX_PATH + 1] = {};
    if (!GetTempFileNameW(folder.c_str(), L"_qv", 0, buffer)) return {};
    DeleteFileW(buffer);
    if (extension.empty()) return buffer;
    return text::replace_extension(buffer, dotted(extension));
}

}  // namespace

bool IsWindows9xFamily()
{
    OSVERSIONINFOW info{};
    if (!folder_seams::os_version(info)) return (GetVersion() & 0x80000000u) != 0;
    return info.dwPlatformId < VER_PLATFORM_WIN32_NT;
}

bool CheckGroupMembership(builtin_group group, bool refuse_deny_only)
{
    kernel_handle token;
    if (!open_token(token)) return GetLastError() == ERROR_CALL_NOT_IMPLEMENTED;

    DWORD size = 0;
    if (GetTokenInformation(token.get(), TokenGroups, nullptr, 0, &size) || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return false;
    // Pointer-sized cells keep TOKEN_GROUPS aligned.
    std::vector<DWORD_PTR> buffer((size + sizeof(DWORD_PTR) - 1) / sizeof(DWORD_PTR));
    if (!GetTokenInformation(token.get(), TokenGroups, buffer.data(), size, &size)) return false;
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());

    const allocated_sid wanted = builtin_sid(static_cast<DWORD>(group));
    if (!wanted) return false;
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        const SID_AND_ATTRIBUTES& member = groups->Groups[i];
        if (!EqualSid(member.Sid, wanted.get())) continue;
        return !(refuse_deny_only && (member.Attributes & SE_GROUP_USE_FOR_DENY_ONLY));
    }
    return false;
}

bool IsAdministrator()
{
    return IsWindows9xFamily() || CheckGroupMembership(builtin_group::administrators, true);
}

bool IsAdministratorAnyUse()
{
    return IsWindows9xFamily() || CheckGroupMembership(builtin_group::administrators, false);
}

bool IsPowerUser()
{
    return IsWindows9xFamily() || CheckGroupMembership(builtin_group::power_users, true);
}

bool IsAdminOrPowerUser() { return IsAdministrator() || IsPowerUser(); }

zString CreateSecureTempFolder()
{
    const allocated_sid administrators = builtin_sid(DOMAIN_ALIAS_RID_ADMINS);
    const allocated_sid users = builtin_sid(DOMAIN_ALIAS_RID_USERS);
    if (!administrators || !users) return zString();

    struct grant {
        PSID sid;
        TRUSTEE_TYPE type;
        DWORD rights;
    };
    const grant grants[] = {
        {users.get(), TRUSTEE_IS_WELL_KNOWN_GROUP, 0x1200A9},           // read and execute
        {administrators.get(), TRUSTEE_IS_GROUP, 0x1F01FF},              // full control
    };
    EXPLICIT_ACCESSW entries[2] = {};
    for (size_t i = 0; i < 2; ++i) {
        entries[i].grfAccessPermissions = grants[i].rights;
        entries[i].grfAccessMode = GRANT_ACCESS;
        entries[i].grfInheritance = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
        entries[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
        entries[i].Trustee.TrusteeType = grants[i].type;
        entries[i].Trustee.ptstrName = static_cast<LPWSTR>(grants[i].sid);
    }
    PACL made = nullptr;
    if (SetEntriesInAclW(2, entries, nullptr, &made) != ERROR_SUCCESS) return zString();
    const local_memory acl(made);

    SECURITY_DESCRIPTOR descriptor;
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION)
        || !SetSecurityDescriptorDacl(&descriptor, TRUE, made, FALSE)
        // The parent's inheritable entries would otherwise join the two of the list.
        || !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        return zString();
    SECURITY_ATTRIBUTES security{sizeof security, &descriptor, FALSE};

    const std::wstring temp = temp_path();
    const std::wstring name = braced_uuid();
    if (temp.empty() || name.empty()) return zString();
    const std::wstring path = text::join_path(temp, name);
    if (!OsCreateDirectory(zString(path), &security)) return zString();
    return zString(text::add_backslash(path));
}

zString CreateTempFileName(const zString& folder, bool use_system_name, const zString& extension)
{
    const std::wstring base = folder.empty() ? temp_path() : folder.str();
    if (base.empty()) return zString();
    const std::wstring in = text::add_backslash(base);
    CreateFolderForFile(zString(in));
    for (int attempt = 0; attempt < temp_name_attempts; ++attempt) {
        std::wstring name;
        if (use_system_name) {
            name = system_temp_name(in, extension.view());
        } else {
            const std::wstring uuid = braced_uuid();
            if (!uuid.empty()) name = text::add_backslash(text::join_path(in, uuid + dotted(extension.view())));
        }
        if (name.empty()) return zString();  // Windows makes no names here: another try would fare no better
        // Without the trailing backslash a file of the folder's name is found too.
        if (!PathExists(zString(std::wstring(text::remove_backslash(name))), path_is_file | path_is_folder))
            return zString(name);
    }
    return zString();
}

zString NewUuidString()
{
    using uuid_create = RPC_STATUS(RPC_ENTRY*)(UUID*);
    const auto create = os_entry<uuid_create>(L"rpcrt4.dll", "UuidCreate");
    UUID uuid;
    if (!create) return zString();
    const RPC_STATUS made = create(&uuid);
    if (made != RPC_S_OK && made != RPC_S_UUID_LOCAL_ONLY) return zString();
    RPC_WSTR text = nullptr;
    if (UuidToStringW(&uuid, &text) != RPC_S_OK || !text) return zString();
    std::wstring out(reinterpret_cast<const wchar_t*>(text));
    RpcStringFreeW(&text);
    CharUpperW(out.data());
    return zString(out);
}

}  // namespace qv
