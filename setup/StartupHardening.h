// setup's defences against libraries planted beside it or in its current folder: the search
// path is hardened by a static initialiser of StartupHardening.cpp, before wWinMain, and every
// delay-loaded library comes from the system folder through the process's notification hook.
// The file must be linked as an object, not from an archive: nothing else refers to it, and
// the delay-load helper takes the library's empty hook when ours is not already in.
#pragma once

#include <windows.h>

#include <delayimp.h>

// Removes the current folder from the library search and puts the process in safe search
// mode; each step is skipped when kernel32 lacks its entry point.
void HardenDllSearchPath() noexcept;

// The delay-load helper's notification hook (__pfnDliNotifyHook2). Before a library loads it
// loads the system folder's copy; a library that is not there fails its call with the helper's
// own "module not found" exception, never by falling back to the default search. Names that
// begin with "api-ms-win-core-" are left to the default search.
FARPROC WINAPI DelayLoadFromSystemDirectory(unsigned notification, PDelayLoadInfo info);

// The decisions of the hook, apart from Windows.
namespace delay_load {
// The hook's buffer: 259 characters and the zero.
constexpr size_t path_buffer_size = MAX_PATH;
bool LeftToDefaultSearch(const char* name) noexcept;
// `system_folder` + a backslash when it has none + `name`; false, with `path` empty, when
// that does not fit the buffer: a cut name would name another library.
bool SystemLibraryPath(const char* system_folder, const char* name, char (&path)[path_buffer_size]) noexcept;
}  // namespace delay_load
