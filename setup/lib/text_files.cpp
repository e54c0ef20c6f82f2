#include "text_files.h"

#include "file.h"
#include "file_system.h"
#include "handle.h"
#include "os_entry.h"
#include "qvmapfilex.h"
#include "win32_exception.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

namespace qv {

namespace {

constexpr UINT keep_code_page = static_cast<UINT>(-1);
constexpr DWORD wide_flags = WC_COMPOSITECHECK | WC_DEFAULTCHAR;
// Without MB_USEGLYPHCHARS: in an OEM code page it turns CR, LF and TAB into pictures.
constexpr DWORD narrow_flags = MB_COMPOSITE;
constexpr char default_char = 0x7F;

// What 0, 1 and 3 stand for, so that the flag rules below see the real code page.
UINT actual_code_page(UINT code_page)
{
    switch (code_page) {
    case CP_ACP: return GetACP();
    case CP_OEMCP: return GetOEMCP();
    case CP_THREAD_ACP: {
        DWORD page = 0;
        if (GetLocaleInfoW(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                reinterpret_cast<wchar_t*>(&page), sizeof page / sizeof(wchar_t))
            && page != 0)
            return page;
        return GetACP();
    }
    default: return code_page;
    }
}

// Windows refuses any conversion flag for these code pages (ERROR_INVALID_FLAGS).
bool takes_no_flags(UINT code_page)
{
    static const UINT pages[] = {42, 50220, 50221, 50222, 50225, 50227, 50229, 54936, CP_UTF7, CP_UTF8};
    return std::find(std::begin(pages), std::end(pages), code_page) != std::end(pages)
           || (code_page >= 57002 && code_page <= 57011);
}

// UTF-7 and UTF-8 have no default character: both pointers must be null (ERROR_INVALID_PARAMETER).
bool takes_default_char(UINT code_page)
{
    return code_page != CP_UTF7 && code_page != CP_UTF8;
}

int to_narrow(UINT code_page, const wchar_t* units, int count, char* out, int room)
{
    BOOL used_default = FALSE;
    const bool with_default = takes_default_char(code_page);
    return WideCharToMultiByte(code_page, takes_no_flags(code_page) ? 0 : wide_flags, units, count, out, room,
        with_default ? &default_char : nullptr, with_default ? &used_default : nullptr);
}

int to_wide(UINT code_page, const char* bytes, int count, wchar_t* out, int room)
{
    return MultiByteToWideChar(code_page, takes_no_flags(code_page) ? 0 : narrow_flags, bytes, count, out, room);
}

bool conversion_failed(const zString& path)
{
    CaptureLastError();
    RecordFailedPath(path);
    return false;
}

// An empty file maps to nothing (the system refuses a mapping of size 0), so the conversions
// ask this when the source does not map.
bool is_empty_file(const zString& path)
{
    const last_error_keeper keep;
    file f;
    if (f.open(path, GENERIC_READ, FILE_SHARE_READ) != 0) return false;
    try {
        return f.size() == 0;
    } catch (const win32_exception&) {
        return false;
    }
}

// The empty target, opened as the writable map opens it.
bool write_empty(const zString& path)
{
    const file_handle made(
        OsCreateFile(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return made ? true : conversion_failed(path);
}

}  // namespace

DWORD ReadFileBytes(const zString& path, std::vector<unsigned char>& bytes)
{
    bytes.clear();
    file f;
    if (const DWORD error = f.open(path, GENERIC_READ, FILE_SHARE_READ)) return error;
    try {
        std::unique_ptr<unsigned char[]> all;
        const DWORD length = f.read_all(all);
        bytes.assign(all.get(), all.get() + length);
    } catch (const win32_exception& failure) {
        bytes.clear();
        return failure.error() ? failure.error() : ERROR_READ_FAULT;
    }
    return 0;
}

DWORD WriteTextFile(const zString& path, const zString& text, UINT code_page, bool bom)
{
    CreateFolderForFile(path);  // a folder that cannot be made fails the open below
    file f;
    if (const DWORD error = f.open(path, GENERIC_WRITE, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL, CREATE_ALWAYS))
        return error;
    if (code_page != keep_code_page) f.set_code_page(code_page);
    try {
        f.set_bom(bom);
        f.write_bom();
        f.write_text(text);
        f.close();
    } catch (const win32_exception& failure) {
        return failure.error() ? failure.error() : ERROR_WRITE_FAULT;
    }
    return 0;
}

namespace {

// Maps the source for reading. An empty file cannot be mapped and is no failure: it maps as
// nothing, of length 0.
bool map_source(const zString& source, qvmapfilex& in, DWORD& length)
{
    const DWORD before = LastFileOpError();
    length = 0;
    if (in.open(source, length, false)) return true;
    if (!is_empty_file(source)) return false;
    SetLastFileOpError(before);
    length = 0;
    return true;
}

}  // namespace

bool ConvertUnicodeFileToMultiByte(const zString& source, const zString& target, UINT code_page)
{
    CaptureLastError();
    code_page = actual_code_page(code_page);

    DWORD length = 0;
    qvmapfilex in;
    if (!map_source(source, in, length)) return false;
    if (length == 0) return write_empty(target);
    if (!TextLooksUnicode(in.view, length, nullptr)) {
        SetLastFileOpError(ERROR_INVALID_DATA);
        RecordFailedPath(source);
        return false;
    }
    const wchar_t* units = static_cast<const wchar_t*>(in.view);
    DWORD count = length / sizeof(wchar_t);
    if (count > 0 && units[0] == 0xFEFF) ++units, --count;
    if (count == 0) return write_empty(target);
    if (count > INT_MAX) {
        SetLastError(ERROR_ARITHMETIC_OVERFLOW);
        return conversion_failed(source);
    }

    // Measured, not guessed: one UTF-16 unit may take three bytes (CJK in UTF-8).
    const int bytes = to_narrow(code_page, units, static_cast<int>(count), nullptr, 0);
    if (bytes <= 0) return conversion_failed(target);
    DWORD room = static_cast<DWORD>(bytes);
    qvmapfilex out;
    if (!out.open(target, room, true)) return false;
    const int written = to_narrow(code_page, units, static_cast<int>(count), static_cast<char*>(out.view), bytes);
    if (written <= 0) {
        out.size = 0;
        return conversion_failed(target);
    }
    out.size = static_cast<DWORD>(written);
    out.close();
    return true;
}

bool ConvertMultiByteFileToUnicode(const zString& source, const zString& target, UINT code_page)
{
    CaptureLastError();
    code_page = actual_code_page(code_page);

    DWORD length = 0;  // an empty source gives the mark alone
    qvmapfilex in;
    if (!map_source(source, in, length)) return false;
    if (length > INT_MAX) {
        SetLastError(ERROR_ARITHMETIC_OVERFLOW);
        return conversion_failed(source);
    }
    const char* bytes = static_cast<const char*>(in.view);
    // A UTF-8 source's own mark is not text: the target gets its one mark below.
    if (code_page == CP_UTF8 && length >= 3 && std::memcmp(bytes, "\xEF\xBB\xBF", 3) == 0) bytes += 3, length -= 3;

    // Measured, not guessed: a decomposed character takes more than one unit per byte.
    int chars = 0;
    if (length > 0) {
        chars = to_wide(code_page, bytes, static_cast<int>(length), nullptr, 0);
        if (chars <= 0) return conversion_failed(target);
    }
    const unsigned long long total = sizeof(wchar_t) * (static_cast<unsigned long long>(chars) + 1);
    if (total > MAXDWORD) {
        SetLastError(ERROR_ARITHMETIC_OVERFLOW);
        return conversion_failed(target);
    }
    DWORD room = static_cast<DWORD>(total);
    qvmapfilex out;
    if (!out.open(target, room, true)) return false;
    wchar_t* units = static_cast<wchar_t*>(out.view);
    units[0] = 0xFEFF;
    int written = 0;
    if (chars > 0) {
        written = to_wide(code_page, bytes, static_cast<int>(length), units + 1, chars);
        if (written <= 0) {
            out.size = 0;
            return conversion_failed(target);
        }
    }
    out.size = static_cast<DWORD>(sizeof(wchar_t) * (written + 1));
    out.close();
    return true;
}

bool TextLooksUnicode(const void* bytes, DWORD size, int* flags)
{
    if (!bytes) return false;
    using is_text_unicode_fn = BOOL(WINAPI*)(const VOID*, int, LPINT);
    if (const auto ask = os_entry<is_text_unicode_fn>(L"advapi32.dll", "IsTextUnicode"))
        if (ask(bytes, static_cast<int>(std::min<DWORD>(size, INT_MAX)), flags)) return true;
    WORD first = 0;
    if (size > 1) std::memcpy(&first, bytes, sizeof first);
    return first == 0xFEFF;
}

bool FileLooksUnicode(const zString& path)
{
    DWORD length = 0;
    const qvmapfilex map(path, length, false);
    return map.mapped && TextLooksUnicode(map.view, length, nullptr);
}

unsigned ReplaceQuotedValuesInText(zString& text, const std::vector<zString>& keys, const std::vector<zString>& values)
{
    static constexpr std::wstring_view line_end = L"\r\n";
    std::wstring s(text.view());
    unsigned changes = 0;
    const size_t pairs = std::min(keys.size(), values.size());
    for (size_t i = 0; i < pairs; ++i) {
        const std::wstring_view key = keys[i].view();
        const std::wstring_view value = values[i].view();
        if (key.empty()) continue;
        size_t from = 0;
        size_t at;
        while ((at = text::find_nocase(s, key, from)) != text::npos) {
            const size_t before = at == 0 ? text::npos : s.rfind(line_end, at - 1);
            const size_t start = before == text::npos ? 0 : before + line_end.size();
            size_t end = s.find(line_end, at);
            // The last line ends at the end of the text.
            const size_t brk = end == text::npos ? 0 : line_end.size();
            if (end == text::npos) end = s.size();
            if (value.empty()) {
                s.erase(start, end + brk - start);
                ++changes;
                from = start;
                continue;
            }
            const size_t open = s.find(L'"', start);
            const size_t close = end == start ? text::npos : s.rfind(L'"', end - 1);
            if (open < end && close != text::npos && close > open) {
                s.replace(open + 1, close - open - 1, value);
                end = end - (close - open - 1) + value.size();
                ++changes;
            }
            // Past the whole line: a value that holds its own key is not found again.
            from = end + brk;
        }
    }
    if (changes) text = zString(s);
    return changes;
}

int ReplaceQuotedValuesInFile(const std::vector<zString>& keys, const std::vector<zString>& values, const zString& path)
{
    file f;
    zString text;
    UINT code_page = 0;
    try {
        if (const DWORD error = f.open(path, GENERIC_READ, FILE_SHARE_READ)) {
            SetLastFileOpError(error);
            RecordFailedPath(path);
            return 0;
        }
        code_page = f.code_page();
        f.read_text(text);  // text that does not decode holds nothing to replace
        f.close();
    } catch (const win32_exception& failure) {
        SetLastFileOpError(failure.error() ? failure.error() : ERROR_READ_FAULT);
        RecordFailedPath(path);
        return 0;
    }
    const unsigned changes = ReplaceQuotedValuesInText(text, keys, values);
    if (changes == 0) return 0;
    // Written back in the encoding it was read in, with its mark.
    if (const DWORD error = WriteTextFile(path, text, code_page, true)) {
        SetLastFileOpError(error);
        RecordFailedPath(path);
        return 0;
    }
    return static_cast<int>(std::min(changes, 0xFFFFu));
}

int ReplaceQuotedValuesInFolder(const std::vector<zString>& keys, const std::vector<zString>& values,
    const zString& folder, const zString& patterns, bool recursive)
{
    std::vector<zString> files;
    list_request request;
    request.folder = folder;
    if (!patterns.empty()) request.patterns = patterns;
    request.out = &files;
    request.mask = FILE_ATTRIBUTE_DIRECTORY;
    request.value = 0;
    request.full_paths = true;
    request.recursive = recursive;
    if (!ListFolder(request)) return -1;
    unsigned total = 0, changed = 0;
    for (const zString& path : files) {
        const int changes = ReplaceQuotedValuesInFile(keys, values, path);
        if (changes > 0) {
            total += static_cast<unsigned>(changes);
            ++changed;
        }
    }
    return static_cast<int>((std::min(total, 0x7FFFu) << 16) | std::min(changed, 0xFFFFu));
}

}  // namespace qv
