#include "StartupHardening.h"

#include "os_entry.h"

#include <cstring>

namespace delay_load {

bool LeftToDefaultSearch(const char* name) noexcept
{
    static constexpr char prefix[] = "api-ms-win-core-";
    for (size_t i = 0; i + 1 < sizeof prefix; ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

bool SystemLibraryPath(const char* system_folder, const char* name, char (&path)[path_buffer_size]) noexcept
{
    path[0] = '\0';
    const size_t folder = std::strlen(system_folder);
    const size_t separator = folder > 0 && system_folder[folder - 1] == '\\' ? 0 : 1;
    const size_t file = std::strlen(name);
    if (folder + separator + file >= path_buffer_size) return false;
    std::memcpy(path, system_folder, folder);
    if (separator) path[folder] = '\\';
    std::memcpy(path + folder + separator, name, file + 1);
    return true;
}

}  // namespace delay_load

void HardenDllSearchPath() noexcept
{
    if (const auto set_dll_directory = qv::kernel32_entry<BOOL(WINAPI*)(LPCWSTR)>("SetDllDirectoryW"))
        set_dll_directory(L"");
    // BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT
    if (const auto set_search_path_mode = qv::kernel32_entry<BOOL(WINAPI*)(DWORD)>("SetSearchPathMode"))
        set_search_path_mode(0x8001);
}

namespace {

// What the delay-load helper itself raises when a library does not load, so that a filter
// written for the helper's failures sees this one too. A filter that continues without
// supplying a module gets a second, non-continuable one: returning no module would let the
// helper search for the library after all.
HMODULE fail_delayed_load(PDelayLoadInfo info, DWORD error)
{
    info->dwLastError = error;
    ULONG_PTR argument = reinterpret_cast<ULONG_PTR>(info);
    const DWORD code = VcppException(ERROR_SEVERITY_ERROR, ERROR_MOD_NOT_FOUND);
    RaiseException(code, 0, 1, &argument);
    if (info->hmodCur) return info->hmodCur;
    RaiseException(code, EXCEPTION_NONCONTINUABLE, 1, &argument);
    return nullptr;
}

// Ahead of the program's other static initialisers, which may load libraries.
struct search_path_hardening {
    search_path_hardening() noexcept { HardenDllSearchPath(); }
};
__attribute__((init_priority(101))) const search_path_hardening hardened_at_start;

}  // namespace

FARPROC WINAPI DelayLoadFromSystemDirectory(unsigned notification, PDelayLoadInfo info)
{
    HMODULE library = nullptr;
    DWORD error = ERROR_MOD_NOT_FOUND;
    try {
        if (notification != dliNotePreLoadLibrary || !info || info->cb < 16 || !info->szDll) return nullptr;
        if (delay_load::LeftToDefaultSearch(info->szDll)) return nullptr;
        char system_folder[delay_load::path_buffer_size];
        char path[delay_load::path_buffer_size];
        const UINT length = GetSystemDirectoryA(system_folder, sizeof system_folder);
        if (length == 0 || length >= sizeof system_folder)
            error = length ? ERROR_FILENAME_EXCED_RANGE : GetLastError();
        else if (!delay_load::SystemLibraryPath(system_folder, info->szDll, path))
            error = ERROR_FILENAME_EXCED_RANGE;
        else if (!(library = LoadLibraryA(path)) && GetLastError() != 0)
            error = GetLastError();
    } catch (...) {
        library = nullptr;
    }
    // Raised outside the handler above, which is not meant for it.
    if (!library) library = fail_delayed_load(info, error);
    return reinterpret_cast<FARPROC>(library);
}

PfnDliHook __pfnDliNotifyHook2 = DelayLoadFromSystemDirectory;
