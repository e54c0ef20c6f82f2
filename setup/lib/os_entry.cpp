#include "os_entry.h"

namespace qv {

namespace {

FARPROC resolve_loaded(const wchar_t* module, const char* name)
{
    HMODULE library = GetModuleHandleW(module);
    // Only system libraries are named here: load one that is not yet in from the system folder.
    if (!library) library = LoadLibraryExW(module, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return library ? GetProcAddress(library, name) : nullptr;
}

}  // namespace

namespace os_seams {
FARPROC (*resolve)(const wchar_t* module, const char* name) = resolve_loaded;
}  // namespace os_seams

}  // namespace qv
