#include "ShellPaths.h"

#include <windows.h>

#include <shlobj.h>

std::string TSpecialFolders::Folder(int csidl)
{
    char path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, csidl, nullptr, 0, path)) || !path[0])
        return "Path not available on this system";
    return path;
}
