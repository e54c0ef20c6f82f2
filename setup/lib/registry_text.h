// REG_SZ values read without trusting their terminator: RegQueryValueExW hands back what
// was stored, and a writer may have stored the text without its zero.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace qv {

// The text of a REG_SZ value from the `bytes` that RegQueryValueExW wrote to `data`, up to
// its first zero; nothing when it holds more than max_chars characters.
std::optional<std::wstring> registry_text(const wchar_t* data, DWORD bytes, size_t max_chars);

// A REG_SZ value of at most max_chars characters; nothing when it is missing, of another
// type or longer (a longer value is never cut). Keeps the thread's last error.
std::optional<std::wstring> read_registry_text(HKEY key, const wchar_t* name, size_t max_chars);

}  // namespace qv
