#include "inifilex.h"

#include "file.h"
#include "file_system.h"
#include "win32_exception.h"

#include <cwchar>
#include <memory>

namespace qv {

namespace {

// The folder the temporary copy is made in: the target's own, so the replacement is a rename
// within one volume.
zString folder_of(const zString& path)
{
    const std::wstring_view p = path.view();
    const size_t slash = p.find_last_of(L"\\/");
    if (slash == std::wstring_view::npos) return p.size() >= 2 && p[1] == L':' ? zString(p.substr(0, 2)) : zString(L".");
    // "C:\x.ini" and "\x.ini" keep their root separator.
    if (slash == 0 || (slash == 2 && p[1] == L':')) return zString(p.substr(0, slash + 1));
    return zString(p.substr(0, slash));
}

void discard(file& f, const wchar_t* temp) noexcept
{
    try {
        f.close();
    } catch (...) {
        // The handle is gone either way; the write's own failure is the one to pass on.
    }
    DeleteFileW(temp);
}

}  // namespace

std::vector<std::wstring_view> split_ini_lines(std::wstring_view text)
{
    std::vector<std::wstring_view> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c != L'\r' && c != L'\n') continue;
        lines.push_back(text.substr(start, i - start));
        if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

void inifilex::attach(const zString& path, const zString& separator)
{
    path_ = path;
    separator_ = separator;
}

bool inifilex::load(const zString& path, const zString& separator, bool bare_key)
{
    _vector_map::clear();
    bareKey_ = bare_key;
    separator_ = separator;
    path_ = path;
    // Until the whole file is read, what is held is not the file: a save must not replace it.
    incomplete_ = true;

    file f;
    lastError_ = f.open(path, GENERIC_READ, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL, OPEN_EXISTING);
    if (lastError_ != 0) {
        // No file to lose: a writer may create it.
        if (lastError_ == ERROR_FILE_NOT_FOUND || lastError_ == ERROR_PATH_NOT_FOUND) incomplete_ = false;
        return false;
    }
    if (codePage_ != -1) f.set_code_page(static_cast<UINT>(codePage_));  // a file with a mark keeps its own
    codePage_ = static_cast<int>(f.code_page());
    bom_ = f.has_bom();

    zString text;
    if (!f.read_text(text)) {
        lastError_ = GetLastError() ? GetLastError() : ERROR_NO_UNICODE_TRANSLATION;
        return false;
    }
    if (!parse(text.view())) return false;
    modified_ = false;
    incomplete_ = false;
    return true;
}

bool inifilex::parse(std::wstring_view text)
{
    const std::wstring_view separator = separator_.view();
    inifilesectionx* current = nullptr;
    for (const std::wstring_view line : split_ini_lines(text)) {
        if (line.empty() || line[0] == L';') continue;
        if (line[0] == L'[') {
            const size_t close = line.find(L']', 1);
            if (close == std::wstring_view::npos) return false;
            current = &insert(zString(line.substr(1, close - 1))).first->second;
            continue;
        }
        if (!current) return false;
        const size_t at = text::find_nocase(line, separator, 0);
        if (at == text::npos) current->insert(zString(line));
        else current->insert(zString(line.substr(0, at)), inifileentryx(zString(line.substr(at + separator.size()))));
    }
    return true;
}

bool inifilex::save_as_loaded(unsigned options, int code_page, bool bom)
{
    return save(path_, options, code_page, bom);
}

zString inifilex::saved_text() const
{
    std::wstring out;
    for (size_t i = 0; i < size(); ++i) {
        const auto& [name, section] = (*this)[i];
        if (i > 0) out += L"\r\n";
        out.append(L"[").append(name.view()).append(L"]\r\n");
        for (const auto& [key, entry] : section) {
            out.append(key.view());
            if (!(bareKey_ && entry.value.empty())) out.append(separator_.view()).append(entry.value.view());
            out += L"\r\n";
        }
    }
    return zString(out);
}

bool inifilex::save(const zString& path, unsigned options, int code_page, bool bom)
{
    if ((options & save_nothing_when_empty) && empty()) return true;
    if (incomplete_) {
        lastError_ = ERROR_INVALID_DATA;
        lastErrorPath_ = path;
        return false;
    }
    saving_ = true;
    struct saving_scope {
        bool& flag;
        ~saving_scope() { flag = false; }
    } const scope{saving_};
    if (options & save_code_page) {
        set_code_page(code_page);
        set_bom(bom);
    }
    if (options & save_sorted) sort_sections();
    if (path.empty()) return false;
    path_ = path;
    if (!write_file(path)) return false;
    lastError_ = 0;
    modified_ = false;
    return true;
}

// The text goes to a new file beside the target, which then takes the target's place: until
// that rename the old file stays whole, and a failure leaves no new file behind.
bool inifilex::write_file(const zString& path)
{
    const auto failed = [&](DWORD error) {
        lastError_ = error ? error : ERROR_WRITE_FAULT;
        lastErrorPath_ = path;
        return false;
    };
    // A read-only file is not to be overwritten, as an open of it for writing would refuse;
    // a rename over it would not.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)
        && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return failed(ERROR_ACCESS_DENIED);
    CreateFolderForFile(path);
    wchar_t temp[MAX_PATH + 1] = {};
    if (!GetTempFileNameW(folder_of(path).c_str(), L"ini", 0, temp)) return failed(GetLastError());
    const zString temp_path(temp);

    file f;
    const DWORD opened = f.open(temp_path, GENERIC_WRITE, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL, CREATE_ALWAYS);
    if (opened != 0) {
        DeleteFileW(temp);
        return failed(opened);
    }
    try {
        if (codePage_ != -1) f.set_code_page(static_cast<UINT>(codePage_));
        f.set_bom(bom_);
        f.write_bom();
        f.write_text(saved_text());
        f.close();
    } catch (const file_exception& e) {
        discard(f, temp);
        lastError_ = e.error();
        lastErrorPath_ = path;
        // The caller knows the file by its own name; the temporary one is gone.
        throw file_exception(e.error(), path);
    } catch (...) {
        discard(f, temp);
        throw;
    }
    if (!MoveFileExW(temp, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        DeleteFileW(temp);
        return failed(error);
    }
    return true;
}

void inifilex::set_separator(const zString& separator)
{
    separator_ = separator;
}

zString inifilex::get_separator() const
{
    return separator_;
}

zString inifilex::get_path() const
{
    return path_;
}

void inifilex::merge_section(const zString& section, const inifilesectionx& source)
{
    // A copy: the source may be one of this file's own sections, which the merge can move.
    const inifilesectionx entries(source);
    for (const auto& [key, entry] : entries) set_string(section, key, entry.value);
}

void inifilex::merge_file(const inifilex& source, const zString& prefix, const zString& format_text)
{
    const std::vector<std::pair<zString, inifilesectionx>> sections(source.begin(), source.end());
    for (const auto& [name, section] : sections) {
        zString target;
        target.format(format_text.c_str(), prefix.c_str(), name.c_str());
        merge_section(target, section);
    }
}

inifilesectionx& inifilex::section_for(const zString& section)
{
    return insert(section).first->second;
}

const inifileentryx* inifilex::entry(const zString& section, const zString& key) const
{
    const inifilesectionx* found = value(section);
    return found ? found->value(key) : nullptr;
}

void inifilex::add_section(const zString& section)
{
    section_for(section);
}

bool inifilex::move_key(const zString& section, const zString& key, const zString& after_key)
{
    inifilesectionx* found = value(section);
    if (!found) return false;
    modified_ = true;
    const auto from = found->position(key), after = found->position(after_key);
    if (from == npos || after == npos) return false;
    found->move_after(from, after);
    return true;
}

zString inifilex::get_string(const zString& section, const zString& key, const zString& default_value) const
{
    const inifileentryx* found = entry(section, key);
    return found ? found->value : default_value;
}

void inifilex::set_string(const zString& section, const zString& key, const zString& value)
{
    section_for(section).insert(key).first->second.value = value;
    modified_ = true;
}

int inifilex::get_int(const zString& section, const zString& key, int default_value) const
{
    const inifileentryx* found = entry(section, key);
    if (!found || found->value.empty()) return default_value;
    const wchar_t* text = found->value.c_str();
    if (text[0] == L'0' && (text[1] == L'x' || text[1] == L'X'))
        return static_cast<int>(std::wcstol(text + 2, nullptr, 16));
    return static_cast<int>(std::wcstol(text, nullptr, 10));
}

void inifilex::set_int(const zString& section, const zString& key, int value)
{
    zString text;
    text.format(L"%d", value);
    set_string(section, key, text);
}

bool inifilex::get_bool(const zString& section, const zString& key, bool default_value) const
{
    const inifileentryx* found = entry(section, key);
    if (!found || found->value.empty()) return default_value;
    for (const wchar_t* yes : {L"Yes", L"Y", L"1", L"True"})
        if (found->value.equals(yes)) return true;
    return false;
}

void inifilex::set_bool(const zString& section, const zString& key, bool value)
{
    set_string(section, key, value ? L"Yes" : L"No");
}

bool inifilex::get_modified() const
{
    return modified_;
}

void inifilex::set_modified(bool modified)
{
    modified_ = modified;
}

bool inifilex::section_exists(const zString& section) const
{
    return contains(section);
}

bool inifilex::key_exists(const zString& section, const zString& key) const
{
    return entry(section, key) != nullptr;
}

void inifilex::get_keys(const zString& section, std::vector<zString>& out) const
{
    if (const inifilesectionx* found = value(section))
        for (const auto& pair : *found) out.push_back(pair.first);
}

void inifilex::get_sections(std::vector<zString>& out) const
{
    for (const auto& pair : *this) out.push_back(pair.first);
}

size_t inifilex::find_sections(std::vector<zString>& out, const zString& prefix) const
{
    for (const auto& pair : *this)
        if (text::starts_with_nocase(pair.first.view(), prefix.view())) out.push_back(pair.first);
    return out.size();
}

void inifilex::get_numbered_values(const zString& section, const zString& pattern, std::vector<zString>& out) const
{
    const inifilesectionx* found = value(section);
    if (!found) return;
    zString previous;
    for (int n = 0;; ++n) {
        zString key;
        key.format(pattern.c_str(), n);
        // A pattern without a number names one key: it would never run out.
        if (n > 0 && key.equals(previous)) return;
        if (const inifileentryx* e = found->value(key)) out.push_back(e->value);
        else if (n > 0) return;
        previous = key;
    }
}

bool inifilex::rename_section(const zString& old_name, const zString& new_name)
{
    if (old_name.equals(new_name)) return true;
    if (contains(new_name) || !contains(old_name)) return false;
    rename(position(old_name), new_name);
    modified_ = true;
    return true;
}

bool inifilex::rename_key(const zString& section, const zString& old_key, const zString& new_key)
{
    inifilesectionx* found = value(section);
    if (!found) return false;
    if (!old_key.equals(new_key)) {
        if (found->contains(new_key) || !found->contains(old_key)) return false;
        found->rename(found->position(old_key), new_key);
    }
    modified_ = true;
    return true;
}

void inifilex::rename_sections_by_prefix(const zString& prefix, const zString& replacement)
{
    std::vector<zString> names;
    find_sections(names, prefix);
    for (const zString& name : names) {
        zString renamed(name);
        const size_t at = renamed.find_nocase(prefix.c_str());
        if (at == zString::npos) continue;
        renamed.erase(at, prefix.length());
        renamed.insert(at, replacement.c_str());
        rename_section(name, renamed);
    }
}

bool inifilex::delete_section(const zString& section)
{
    if (!erase(section)) return false;
    modified_ = true;
    return true;
}

bool inifilex::delete_key(const zString& section, const zString& key)
{
    inifilesectionx* found = value(section);
    if (!found || !found->erase(key)) return false;
    modified_ = true;
    return true;
}

bool inifilex::clear_section(const zString& section)
{
    inifilesectionx* found = value(section);
    if (!found) return false;
    found->clear();
    modified_ = true;
    return true;
}

void inifilex::clear()
{
    _vector_map::clear();
    incomplete_ = false;  // what follows is made afresh, not a part of some file
}

void inifilex::delete_sections_by_prefix(const zString& prefix)
{
    std::vector<zString> names;
    find_sections(names, prefix);
    for (const zString& name : names) delete_section(name);
}

void inifilex::sort_all()
{
    sort_sections();
    sort_all_entries();
}

void inifilex::sort_sections()
{
    sort();
}

void inifilex::sort_all_entries()
{
    for (auto& pair : *this) sort_entries(pair.second);
}

void inifilex::sort_entries(inifilesectionx& section)
{
    section.sort();
}

void inifilex::sort_section_entries(const zString& section)
{
    sort_entries(section_for(section));
}

void inifilex::set_code_page(int code_page)
{
    codePage_ = code_page;
}

bool inifilex::set_bom(bool bom)
{
    bom_ = bom;
    return bom_;
}

DWORD inifilex::last_error() const
{
    return lastError_;
}

zString inifilex::last_error_path() const
{
    return lastErrorPath_;
}

}  // namespace qv
