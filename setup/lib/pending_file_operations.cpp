#include "pending_file_operations.h"

#include "file_system.h"
#include "handle.h"
#include "registry_text.h"
#include "registry_values.h"
#include "rights.h"
#include "system_folders.h"
#include "win32_exception.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace qv {

namespace {

constexpr const wchar_t* pending_key = L"CorvanePendingOperation";
constexpr REGSAM replay_access = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;  // 0x2001F

HKEY pending_root() { return IsAdminOrPowerUser() ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

std::wstring numbered(const wchar_t* stem, DWORD n) { return stem + std::to_wstring(n); }

// A REG_SZ value that fits MAX_PATH characters with its terminator. A longer one is refused,
// never cut short: the first MAX_PATH characters of a path name some other file.
bool read_path_value(HKEY key, const std::wstring& name, std::wstring& out)
{
    auto text = read_registry_text(key, name.c_str(), MAX_PATH - 1);
    if (!text) return false;
    out = std::move(*text);
    return true;
}

DWORD read_count(HKEY key)
{
    DWORD count = 0;
    DWORD type = 0;
    DWORD size = sizeof count;
    if (RegQueryValueExW(key, L"Count", nullptr, &type, reinterpret_cast<BYTE*>(&count), &size) != ERROR_SUCCESS
        || type != REG_DWORD || size != sizeof count)
        return 0;
    return count;
}

// n of a value named stem + n, written as "%d" writes it; 0 when the name is no such value.
DWORD entry_number(std::wstring_view name, std::wstring_view stem)
{
    if (name.size() <= stem.size() || !text::starts_with_nocase(name, stem)) return 0;
    const std::wstring_view digits = name.substr(stem.size());
    if (digits.front() == L'0') return 0;
    unsigned long long n = 0;
    for (const wchar_t c : digits) {
        if (c < L'0' || c > L'9') return 0;
        n = n * 10 + static_cast<unsigned>(c - L'0');
        if (n > MAXDWORD) return 0;
    }
    return static_cast<DWORD>(n);
}

// The highest entry number present: a Count beyond it names only missing values, and a
// damaged Count must not keep the replay asking for billions of them.
DWORD highest_entry(HKEY key)
{
    DWORD highest = 0;
    for (DWORD index = 0;; ++index) {
        wchar_t name[32];  // longer names are none of ours
        DWORD length = ARRAYSIZE(name);
        const LONG found = RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (found == ERROR_MORE_DATA) continue;
        if (found != ERROR_SUCCESS) break;
        const std::wstring_view view(name, length);
        const DWORD n = std::max(entry_number(view, L"dest"), entry_number(view, L"source"));
        highest = std::max(highest, n);
    }
    return highest;
}

bool set_text(HKEY key, const std::wstring& name, std::wstring_view value)
{
    const std::wstring stored(value);
    return RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(stored.c_str()),
               static_cast<DWORD>((stored.size() + 1) * sizeof(wchar_t)))
           == ERROR_SUCCESS;
}

bool is_root(std::wstring_view path)
{
    const zpath whole(path);
    const size_t root = pending_path::root(whole).length();
    if (root == 0) return path == L"\\";
    return path.size() == root || (path.size() == root + 1 && path.back() == L'\\');
}

void delete_contents(const std::wstring& folder)
{
    std::vector<WIN32_FIND_DATAW> entries;
    {
        WIN32_FIND_DATAW found;
        const find_handle find(FindFirstFileW((folder + L"\\*.*").c_str(), &found));
        if (!find) return;
        do {
            const std::wstring_view name(found.cFileName);
            if (name != L"." && name != L"..") entries.push_back(found);
        } while (FindNextFileW(find.get(), &found));
    }
    for (const WIN32_FIND_DATAW& entry : entries) {
        const std::wstring path = folder + L"\\" + entry.cFileName;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            DeleteFileW(path.c_str());
            continue;
        }
        // A linked folder goes as a link: what it points at is not ours to delete.
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) delete_contents(path);
        RemoveDirectoryW(path.c_str());
    }
}

// The "rename" section of WININIT.INI as it stands, each line ended by its zero.
std::wstring rename_section(const std::wstring& ini)
{
    std::vector<wchar_t> buffer(4096);
    for (;;) {
        const DWORD length =
            GetPrivateProfileSectionW(L"rename", buffer.data(), static_cast<DWORD>(buffer.size()), ini.c_str());
        if (length + 2 < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

HRESULT ProcessPendingFileOperations()
{
    registry_key software;
    if (RegOpenKeyExW(pending_root(), L"Software", 0, KEY_READ, software.put()) != ERROR_SUCCESS) return S_OK;
    registry_key pending;
    if (RegOpenKeyExW(software.get(), pending_key, 0, replay_access, pending.put()) != ERROR_SUCCESS) return S_OK;

    HRESULT result = S_OK;
    const DWORD count = std::min(read_count(pending.get()), highest_entry(pending.get()));
    for (DWORD n = 1; n <= count && n != 0; ++n) {
        std::wstring dest, source;
        if (!read_path_value(pending.get(), numbered(L"dest", n), dest)
            || !read_path_value(pending.get(), numbered(L"source", n), source))
            continue;
        if (dest.empty()) {
            DeleteFileW(source.c_str());
        } else if (!MoveFileExW(source.c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            result = HRESULT_FROM_WIN32(GetLastError());
        }
    }
    pending.reset();
    DeleteRegistryTree(software.get(), pending_key);
    return result;
}

bool AddPendingFileOperation(const zString& dest, const zString& source)
{
    // The replay reads at most MAX_PATH characters with the terminator: a longer path would be
    // recorded and then never replayed.
    if (dest.length() >= MAX_PATH || source.length() >= MAX_PATH) {
        SetLastFileOpError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    registry_key software;
    LONG status = RegOpenKeyExW(pending_root(), L"Software", 0, KEY_READ, software.put());
    registry_key pending;
    if (status == ERROR_SUCCESS)
        status = RegCreateKeyExW(software.get(), pending_key, 0, nullptr, 0, replay_access, nullptr, pending.put(), nullptr);
    if (status != ERROR_SUCCESS) {
        SetLastFileOpError(static_cast<DWORD>(status));
        return false;
    }
    const DWORD n = read_count(pending.get()) + 1;
    if (n == 0) {
        SetLastFileOpError(ERROR_TOO_MANY_NAMES);
        return false;
    }
    if (!set_text(pending.get(), numbered(L"dest", n), dest.view())
        || !set_text(pending.get(), numbered(L"source", n), source.view())) {
        CaptureLastError();
        return false;
    }
    status = RegSetValueExW(pending.get(), L"Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), sizeof n);
    if (status != ERROR_SUCCESS) {
        SetLastFileOpError(static_cast<DWORD>(status));
        return false;
    }
    return true;
}

bool FindPendingFileOperation(const zString& dest, zString& source)
{
    registry_key software;
    if (RegOpenKeyExW(pending_root(), L"Software", 0, KEY_READ, software.put()) != ERROR_SUCCESS) return false;
    registry_key pending;
    if (RegOpenKeyExW(software.get(), pending_key, 0, KEY_READ, pending.put()) != ERROR_SUCCESS) return false;
    const zpath wanted(dest.view());
    const DWORD count = std::min(read_count(pending.get()), highest_entry(pending.get()));
    for (DWORD n = 1; n <= count && n != 0; ++n) {
        std::wstring recorded, from;
        if (!read_path_value(pending.get(), numbered(L"dest", n), recorded)
            || !pending_path::same(zpath(std::wstring_view(recorded)), wanted))
            continue;
        if (!read_path_value(pending.get(), numbered(L"source", n), from)) continue;
        source = zString(from);
        return true;
    }
    return false;
}

bool QueueRenameInWininit(const zString& dest, const zString& source)
{
    if (!IsWindows9xFamily()) {
        const DWORD flags = MOVEFILE_DELAY_UNTIL_REBOOT | (dest.empty() ? 0 : MOVEFILE_REPLACE_EXISTING);
        if (MoveFileExW(source.c_str(), dest.empty() ? nullptr : dest.c_str(), flags)) return true;
        CaptureLastError();
        RecordFailedPath(source);
        return false;
    }
    try {
        // WININIT.INI knows short names only; the target need not exist yet, its folder must.
        std::wstring line = L"NUL";
        if (!dest.empty()) {
            const zpath target(dest.view());
            const zString folder = GetShortPath(zString(pending_path::folder(target).view()));
            line = pending_path::append(zpath(folder.view()), pending_path::file_name(target).c_str()).view();
        }
        line += L"=" + GetShortPath(source).str();
        const std::wstring ini = GetWindowsFolder(false).str() + L"WININIT.INI";
        std::wstring section = rename_section(ini);
        section += line;
        section += L'\0';
        if (!WritePrivateProfileSectionW(L"rename", section.c_str(), ini.c_str())) throw win32_exception();
        return true;
    } catch (const win32_exception& failure) {
        SetLastFileOpError(failure.error());
        RecordFailedPath(source);
        return false;
    }
}

bool DeleteFolderTree(const zString& path)
{
    const std::wstring target(text::remove_backslash(path.view()));
    // Nothing of a whole drive or share goes this way.
    if (target.empty() || is_root(path.view())) return false;
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileW(target.c_str()) != FALSE;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) delete_contents(target);
    return RemoveDirectoryW(target.c_str()) != FALSE;
}

namespace pending_path {

namespace {

std::wstring_view root_of(std::wstring_view s)
{
    if (s.size() >= 2 && s[0] == L'\\' && s[1] == L'\\') {
        const size_t first = s.find(L'\\', 2);
        const size_t second = first == std::wstring_view::npos ? first : s.find(L'\\', first + 1);
        return s.substr(0, second);
    }
    if (s.size() >= 2 && s[1] == L':') return s.substr(0, 2);
    return {};
}

std::wstring_view folder_of(std::wstring_view s)
{
    const size_t root = root_of(s).size();
    const size_t last = s.rfind(L'\\');
    if (last == std::wstring_view::npos || last < root) return s.substr(0, root);
    return s.substr(0, last + 1);
}

std::wstring normalized_text(std::wstring_view s)
{
    const std::wstring_view root = root_of(s);
    std::wstring_view rest = s.substr(root.size());
    // Below a UNC root, or after a leading backslash, ".." has nowhere above to go.
    const bool anchored = (!rest.empty() && rest.front() == L'\\') || (!root.empty() && root.front() == L'\\');
    if (!rest.empty() && rest.front() == L'\\') rest.remove_prefix(1);
    const bool trailing = !rest.empty() && rest.back() == L'\\';
    if (trailing) rest.remove_suffix(1);

    std::vector<std::wstring_view> kept;
    size_t start = 0;
    while (start <= rest.size() && !rest.empty()) {
        size_t end = rest.find(L'\\', start);
        if (end == std::wstring_view::npos) end = rest.size();
        const std::wstring_view part = rest.substr(start, end - start);
        if (part == L"..") {
            if (!kept.empty() && kept.back() != L"..")
                kept.pop_back();
            else if (!anchored)
                kept.push_back(part);  // a relative path keeps what it cannot resolve
        } else if (part != L".") {
            kept.push_back(part);
        }
        start = end + 1;
    }

    std::wstring out(root);
    if (anchored) out += L'\\';
    for (size_t i = 0; i < kept.size(); ++i) {
        if (i) out += L'\\';
        out.append(kept[i]);
    }
    if (trailing && !kept.empty()) out += L'\\';
    return out;
}

}  // namespace

zpath root(const zpath& path) { return zpath(root_of(path.view())); }

zpath folder(const zpath& path) { return zpath(folder_of(path.view())); }

zpath file_name(const zpath& path) { return zpath(path.view().substr(folder_of(path.view()).size())); }

zpath normalized(const zpath& path) { return zpath(std::wstring_view(normalized_text(path.view()))); }

bool same(const zpath& a, const zpath& b)
{
    return nocase_compare::compare(normalized_text(a.view()), normalized_text(b.view())) == 0;
}

zpath append(const zpath& path, const wchar_t* part)
{
    return zpath(std::wstring_view(text::append_path(path.view(), part ? part : L"")));
}

}  // namespace pending_path

DWORD GetAttributesOrThrow(const zString& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) throw file_exception(GetLastError(), path);
    return attributes;
}

void SetAttributesOrThrow(const zString& path, DWORD attributes)
{
    if (!SetFileAttributesW(path.c_str(), attributes)) throw file_exception(GetLastError(), path);
}

zString GetShortPath(const zString& path)
{
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
    if (length == 0) throw win32_exception();
    if (length >= MAX_PATH) throw win32_exception(ERROR_INSUFFICIENT_BUFFER);
    return zString(buffer, length);
}

}  // namespace qv
