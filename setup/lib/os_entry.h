// Entry points that the library looks up by name at the moment of the call go through one
// resolver, so a test can take one away or put a failing one in its place.
#pragma once

#include <windows.h>

namespace qv {

namespace os_seams {
// The entry point `name` of the system library `module`; null when either is missing. Tests
// swap it; the program never does.
extern FARPROC (*resolve)(const wchar_t* module, const char* name);
}  // namespace os_seams

// The entry point as a function pointer of its own type.
template <class Fn>
Fn os_entry(const wchar_t* module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(os_seams::resolve(module, name)));
}

template <class Fn>
Fn kernel32_entry(const char* name)
{
    return os_entry<Fn>(L"kernel32.dll", name);
}

}  // namespace qv
