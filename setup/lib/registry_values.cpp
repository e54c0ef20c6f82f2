#include "registry_values.h"

#include "file_system.h"
#include "handle.h"
#include "registry_text.h"

#include <oleauto.h>

#include <cwctype>

namespace qv {

namespace {

constexpr REGSAM read_access = KEY_READ;
// KEY_READ with KEY_SET_VALUE and KEY_CREATE_SUB_KEY.
constexpr REGSAM write_access = 0x2001F;

// Stores the result and answers whether it is success.
bool recorded(LONG result) noexcept
{
    SetLastFileOpError(static_cast<DWORD>(result));
    return result == ERROR_SUCCESS;
}

// An existing key; nothing is made.
bool open_key(HKEY root, const zString& subkey, REGSAM access, registry_key& key)
{
    return recorded(RegOpenKeyExW(root, subkey.c_str(), 0, access, key.put()));
}

// A string value of an open key. A value that grows between the calls is asked again, a few
// times at most.
bool query_string(HKEY key, const zString& value, zString& out)
{
    out.clear();
    std::vector<wchar_t> buffer(64);
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD type = 0;
        DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        const LONG result = RegQueryValueExW(key, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes);
        if (result == ERROR_MORE_DATA) {
            buffer.assign(bytes / sizeof(wchar_t) + 2, L'\0');
            continue;
        }
        if (!recorded(result)) return false;
        if (type != REG_SZ && type != REG_EXPAND_SZ) {
            SetLastFileOpError(ERROR_UNSUPPORTED_TYPE);
            return false;
        }
        const std::wstring text = *registry_text(buffer.data(), bytes, buffer.size());
        out.assign(text.c_str(), text.size());
        return true;
    }
    return recorded(ERROR_MORE_DATA);
}

bool set_value(HKEY root, const zString& subkey, const zString& value, DWORD type, const void* data, DWORD bytes)
{
    registry_key key;
    if (!open_key(root, subkey, write_access, key)) return false;
    return recorded(RegSetValueExW(key.get(), value.c_str(), 0, type, static_cast<const BYTE*>(data), bytes));
}

bool has_subkeys(HKEY parent, const wchar_t* name, LONG& result)
{
    registry_key key;
    result = RegOpenKeyExW(parent, name, 0, KEY_QUERY_VALUE, key.put());
    if (result != ERROR_SUCCESS) return false;
    DWORD count = 0;
    result = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr);
    return result == ERROR_SUCCESS && count > 0;
}

template <class Enum>
bool enum_names(HKEY root, const zString& subkey, std::vector<zString>& out, Enum next)
{
    registry_key key;
    if (!open_key(root, subkey, read_access, key)) return false;
    for (DWORD i = 0;; ++i) {
        zString name;
        const LONG result = next(key.get(), i, name);
        if (result != ERROR_SUCCESS) break;
        out.push_back(name);
    }
    SetLastFileOpError(ERROR_SUCCESS);
    return true;
}

bool is_flag(wchar_t c) { return c == L'-' || c == L'+' || c == L' ' || c == L'#' || c == L'0'; }

}  // namespace

bool RegistryKeyExists(HKEY root, const zString& subkey)
{
    registry_key key;
    return open_key(root, subkey, read_access, key);
}

zString& ReadRegistryString(zString& out, HKEY root, const zString& subkey, const zString& value)
{
    out.clear();
    registry_key key;
    if (open_key(root, subkey, read_access, key)) query_string(key.get(), value, out);
    return out;
}

bool ReadRegistryValue(HKEY root, const zString& subkey, const zString& value, void* buffer, DWORD& size)
{
    registry_key key;
    if (!open_key(root, subkey, read_access, key)) return false;
    return recorded(RegQueryValueExW(key.get(), value.c_str(), nullptr, nullptr, static_cast<BYTE*>(buffer), &size));
}

bool WriteRegistryString(HKEY root, const zString& subkey, const zString& value, const zString& text)
{
    return set_value(root, subkey, value, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

bool WriteRegistryDword(HKEY root, const zString& subkey, const zString& value, DWORD number)
{
    return set_value(root, subkey, value, REG_DWORD, &number, sizeof number);
}

bool WriteRegistryBytes(HKEY root, const zString& subkey, const zString& value, const void* data, DWORD length)
{
    return set_value(root, subkey, value, REG_BINARY, data, length);
}

DWORD ReadRegistryDword(HKEY root, const zString& subkey, const zString& value, DWORD default_value)
{
    registry_key key;
    if (!open_key(root, subkey, read_access, key)) return default_value;
    DWORD type = 0;
    DWORD number = 0;
    DWORD bytes = sizeof number;
    if (!recorded(RegQueryValueExW(key.get(), value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&number), &bytes)))
        return default_value;
    if (type != REG_DWORD || bytes != sizeof number) {
        SetLastFileOpError(ERROR_UNSUPPORTED_TYPE);
        return default_value;
    }
    return number;
}

DWORD GetRegistryValueSize(HKEY root, const zString& subkey, const zString& value)
{
    registry_key key;
    if (!open_key(root, subkey, read_access, key)) return 0;
    DWORD bytes = 0;
    return recorded(RegQueryValueExW(key.get(), value.c_str(), nullptr, nullptr, nullptr, &bytes)) ? bytes : 0;
}

bool CreateRegistryKey(HKEY root, const zString& subkey)
{
    registry_key key;
    return recorded(
        RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, write_access, nullptr, key.put(), nullptr));
}

bool DeleteRegistryKey(HKEY root, const zString& key, const zString& subkey, bool recursive)
{
    // An empty name would take the opened key itself, and with recursive all below it.
    if (subkey.empty()) return recorded(ERROR_INVALID_PARAMETER);
    registry_key parent;
    if (!open_key(root, key, write_access, parent)) return false;
    if (recursive) return recorded(DeleteRegistryTree(parent.get(), subkey.c_str()));
    // Windows 9x deletes a key with all its subkeys: refuse as NT does.
    LONG result = ERROR_SUCCESS;
    if (has_subkeys(parent.get(), subkey.c_str(), result)) return recorded(ERROR_ACCESS_DENIED);
    if (result != ERROR_SUCCESS) return recorded(result);
    return recorded(RegDeleteKeyW(parent.get(), subkey.c_str()));
}

LONG DeleteRegistryTree(HKEY parent, const wchar_t* name)
{
    {
        registry_key key;
        LONG result = RegOpenKeyExW(parent, name, 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, key.put());
        if (result != ERROR_SUCCESS) return result;
        std::vector<std::wstring> children;
        wchar_t child[256];
        for (DWORD i = 0; RegEnumKeyW(key.get(), i, child, 256) == ERROR_SUCCESS; ++i) children.push_back(child);
        for (const std::wstring& c : children) {
            result = DeleteRegistryTree(key.get(), c.c_str());
            if (result != ERROR_SUCCESS) return result;
        }
    }
    return RegDeleteKeyW(parent, name);
}

bool CountRegistryValues(HKEY root, const zString& subkey)
{
    std::vector<zString> names;
    return EnumRegistryValues(root, subkey, names) && !names.empty();
}

bool DeleteRegistryValue(HKEY root, const zString& subkey, const zString& value)
{
    registry_key key;
    if (!open_key(root, subkey, write_access, key)) return false;
    return recorded(RegDeleteValueW(key.get(), value.c_str()));
}

bool EnumRegistrySubkeys(HKEY root, const zString& subkey, std::vector<zString>& out)
{
    return enum_names(root, subkey, out, [](HKEY key, DWORD i, zString& name) {
        wchar_t buffer[256];  // a key name has at most 255 characters
        const LONG result = RegEnumKeyW(key, i, buffer, 256);
        if (result == ERROR_SUCCESS) name = buffer;
        return result;
    });
}

bool EnumRegistryValues(HKEY root, const zString& subkey, std::vector<zString>& out)
{
    return enum_names(root, subkey, out, [](HKEY key, DWORD i, zString& name) {
        std::vector<wchar_t> buffer(16384);  // a value name has at most 16383 characters
        DWORD length = static_cast<DWORD>(buffer.size());
        const LONG result = RegEnumValueW(key, i, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_SUCCESS) name.assign(buffer.data(), length);
        return result;
    });
}

zString NumberedValueName(const zString& format, int number, bool drop_zero)
{
    const std::wstring_view f = format.view();
    std::wstring out;
    bool used = false;
    for (size_t i = 0; i < f.size(); ++i) {
        if (f[i] != L'%' || used) {
            out += f[i];
            continue;
        }
        if (i + 1 < f.size() && f[i + 1] == L'%') {
            out += L'%';
            ++i;
            continue;
        }
        // One conversion: flags, width, precision and a length prefix, then its letter.
        size_t end = i + 1;
        while (end < f.size() && is_flag(f[end])) ++end;
        while (end < f.size() && (std::iswdigit(f[end]) || f[end] == L'.')) ++end;
        while (end < f.size() && (f[end] == L'l' || f[end] == L'h')) ++end;
        if (end >= f.size() || std::wstring_view(L"diuxXo").find(f[end]) == std::wstring_view::npos) {
            out += f[i];  // not a number's conversion: kept as text
            continue;
        }
        used = true;
        if (!(drop_zero && number == 0)) {
            zString part;
            part.format(std::wstring(f.substr(i, end - i + 1)).c_str(), number);
            out.append(part.view());
        }
        i = end;
    }
    return zString(out);
}

size_t ReadNumberedRegistryValues(HKEY root, const zString& subkey, const zString& format, int first,
    bool drop_zero, std::vector<zString>& out)
{
    registry_key key;
    if (!open_key(root, subkey, read_access, key)) return 0;
    size_t count = 0;
    for (int n = first;; ++n) {
        zString text;
        if (!query_string(key.get(), NumberedValueName(format, n, drop_zero), text) || text.empty()) break;
        out.push_back(text);
        ++count;
    }
    return count;
}

zString NextNumberedValueName(HKEY root, const zString& subkey, const zString& format, int first, bool drop_zero)
{
    std::vector<zString> values;
    const size_t count = ReadNumberedRegistryValues(root, subkey, format, first, drop_zero, values);
    return NumberedValueName(format, first + static_cast<int>(count), drop_zero);
}

namespace {

struct bstr_traits {
    using type = BSTR;
    static type invalid() noexcept { return nullptr; }
    static void close(type s) noexcept { SysFreeString(s); }
};
using bstr = handle<bstr_traits>;

struct task_memory_traits {
    using type = LPOLESTR;
    static type invalid() noexcept { return nullptr; }
    static void close(type p) noexcept { CoTaskMemFree(p); }
};
using task_string = handle<task_memory_traits>;

}  // namespace

// ">" + the folder's name + "\" + the file's name + " (line)", as the source path gives them.
HRESULT SetComErrorInfo(const CLSID& class_id, const zString& message, const zString& source_path, int line,
    const IID& interface_id, HRESULT result)
{
    com_ptr<IErrorInfo> old;
    bstr old_description;
    if (GetErrorInfo(0, old.put()) == S_OK && old) old.get()->GetDescription(old_description.put());

    zString description(old_description ? old_description.get() : L"");
    if (!message.empty()) description += L"*" + message + L"\r\n";
    // A compiler's file name may use either separator.
    const std::wstring_view path = source_path.view();
    const size_t last = path.find_last_of(L"\\/");
    const std::wstring_view file = last == std::wstring_view::npos ? path : path.substr(last + 1);
    std::wstring_view folder = last == std::wstring_view::npos ? std::wstring_view() : path.substr(0, last);
    const size_t before = folder.find_last_of(L"\\/");
    if (before != std::wstring_view::npos) folder.remove_prefix(before + 1);
    description += L">";
    if (!folder.empty()) description += zString(folder) + L"\\";
    description += zString(file);
    description += zString().format(L" (%d)\r\n", line);

    com_ptr<ICreateErrorInfo> created;
    if (SUCCEEDED(CreateErrorInfo(created.put())) && created) {
        created.get()->SetGUID(interface_id);
        task_string prog_id;
        if (SUCCEEDED(ProgIDFromCLSID(class_id, prog_id.put())) && prog_id) created.get()->SetSource(prog_id.get());
        created.get()->SetDescription(const_cast<LPOLESTR>(description.c_str()));
        com_ptr<IErrorInfo> info;
        if (SUCCEEDED(created.get()->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.put()))) && info)
            SetErrorInfo(0, info.get());
    } else {
        SetErrorInfo(0, old.get());
    }
    return result == S_OK ? DISP_E_EXCEPTION : result;
}

}  // namespace qv
