#include "registry_text.h"

#include "zString.h"

#include <vector>

namespace qv {

std::optional<std::wstring> registry_text(const wchar_t* data, DWORD bytes, size_t max_chars)
{
    const size_t count = bytes / sizeof(wchar_t);  // an odd last byte is no character
    size_t length = 0;
    while (length < count && data[length] != L'\0') ++length;
    if (length > max_chars) return std::nullopt;
    return std::wstring(data, length);
}

std::optional<std::wstring> read_registry_text(HKEY key, const wchar_t* name, size_t max_chars)
{
    const last_error_keeper keep;
    // Room for max_chars and a terminator, and one character more: a value of max_chars + 1
    // characters stored without its zero fits too and is then seen to be too long.
    std::vector<wchar_t> buffer(max_chars + 2, L'\0');
    DWORD type = 0;
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes) != ERROR_SUCCESS
        || type != REG_SZ)
        return std::nullopt;
    const DWORD room = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    return registry_text(buffer.data(), bytes < room ? bytes : room, max_chars);
}

}  // namespace qv
