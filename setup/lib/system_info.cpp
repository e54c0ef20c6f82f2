#include "system_info.h"

#include "system_folders.h"

namespace qv {

bool IsNt5OrLater()
{
    OSVERSIONINFOW info{};
    return folder_seams::os_version(info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion > 4;
}

}  // namespace qv
