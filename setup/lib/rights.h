// The rights questions the launcher asks before it picks per-machine or per-user places,
// its private temporary folder, and names for new temporary files and folders.
#pragma once

#include "zString.h"

#include <rpc.h>

namespace qv {

// The version seam's platform id below VER_PLATFORM_WIN32_NT; there every user is
// administrator and power user.
bool IsWindows9xFamily();

// The builtin groups asked about, by their relative id under BUILTIN.
enum class builtin_group : DWORD {
    administrators = DOMAIN_ALIAS_RID_ADMINS,
    power_users = DOMAIN_ALIAS_RID_POWER_USERS,
};

// Whether the thread's (else the process's) token lists the group; with refuse_deny_only a
// membership that only serves to deny access does not count. A system without tokens
// answers true.
bool CheckGroupMembership(builtin_group group, bool refuse_deny_only);
bool IsAdministrator();
bool IsAdministratorAnyUse();
bool IsPowerUser();
bool IsAdminOrPowerUser();

// A new folder in the temporary folder that only Administrators control and Users may
// read; its path with a trailing backslash, or empty.
zString CreateSecureTempFolder();

// A name of which nothing exists yet in `folder` (empty: the temporary folder), which is
// created first. With use_system_name a ".tmp" name made by Windows (its file removed again),
// the extension replacing ".tmp" when one is asked for; else a new folder's name,
// "{UUID}" plus the extension, ending in a backslash. Empty when no free name is found.
zString CreateTempFileName(const zString& folder, bool use_system_name, const zString& extension);

// A new UUID in upper case without braces; empty when Windows makes none.
zString NewUuidString();

// How many names CreateTempFileName tries before it gives up.
constexpr int temp_name_attempts = 64;

}  // namespace qv
