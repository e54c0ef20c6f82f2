#include "zString.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <new>
#include <stdexcept>

namespace qv {

int nocase_compare::compare(std::wstring_view a, std::wstring_view b) noexcept
{
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const wint_t x = towlower(a[i]), y = towlower(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

size_t nocase_compare::find(std::wstring_view text, std::wstring_view needle, size_t start) noexcept
{
    return text::find_nocase(text, needle, start);
}

int exact_compare::compare(std::wstring_view a, std::wstring_view b) noexcept
{
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

size_t exact_compare::find(std::wstring_view text, std::wstring_view needle, size_t start) noexcept
{
    return text.find(needle, start);
}

namespace text {

namespace {
bool same_nocase(const wchar_t* a, const wchar_t* b, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (towupper(a[i]) != towupper(b[i])) return false;
    return true;
}

bool is_ascii_letter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }
}  // namespace

bool starts_with_nocase(std::wstring_view s, std::wstring_view prefix) noexcept
{
    return s.size() >= prefix.size() && same_nocase(s.data(), prefix.data(), prefix.size());
}

size_t find_nocase(std::wstring_view s, std::wstring_view needle, size_t start) noexcept
{
    const size_t n = needle.size();
    if (n == 0) return start <= s.size() ? start : npos;
    if (start >= s.size() || s.size() - start < n) return npos;
    const wint_t first = towupper(needle[0]);
    for (size_t i = start; i + n <= s.size(); ++i)
        if (towupper(s[i]) == first && same_nocase(s.data() + i, needle.data(), n)) return i;
    return npos;
}

size_t rfind_nocase(std::wstring_view s, std::wstring_view needle, size_t start) noexcept
{
    const size_t n = needle.size();
    if (n > s.size()) return npos;
    size_t i = s.size() - n;
    if (start < i) i = start;
    for (;; --i) {
        if (same_nocase(s.data() + i, needle.data(), n)) return i;
        if (i == 0) return npos;
    }
}

namespace {
// The argument a placeholder character names, or -1 when it names none; "%0" names none,
// so it can never reach outside the list.
int placeholder_index(wchar_t c)
{
    if (c >= L'1' && c <= L'9') return c - L'1';
    if (c >= L'A' && c <= L'Z') return 9 + (c - L'A');
    return -1;
}

template <class Emit>
void walk_placeholders(std::wstring_view s, const wchar_t* const* args, size_t count, Emit emit)
{
    for (size_t i = 0; i < s.size(); ++i) {
        const int index = (s[i] == L'%' && i + 1 < s.size()) ? placeholder_index(s[i + 1]) : -1;
        if (index < 0) {
            emit(std::wstring_view(&s[i], 1));
            continue;
        }
        ++i;
        if (static_cast<size_t>(index) >= count) emit(std::wstring_view(L"?", 1));
        else if (args[index]) emit(std::wstring_view(args[index]));
    }
}
}  // namespace

std::wstring expand_placeholders(std::wstring_view s, const wchar_t* const* args, size_t count)
{
    size_t length = 0;
    walk_placeholders(s, args, count, [&](std::wstring_view piece) { length += piece.size(); });
    std::wstring out;
    out.reserve(length);
    walk_placeholders(s, args, count, [&](std::wstring_view piece) { out.append(piece); });
    return out;
}

std::wstring add_backslash(std::wstring_view s)
{
    std::wstring out(s);
    if (out.empty() || out.back() != L'\\') out += L'\\';
    return out;
}

std::wstring_view remove_backslash(std::wstring_view s)
{
    if (!s.empty() && s.back() == L'\\') s.remove_suffix(1);
    return s;
}

std::wstring append_path(std::wstring_view s, std::wstring_view part)
{
    std::wstring out(s);
    if (!out.empty() && out.back() == L'\\') {
        if (!part.empty() && part[0] == L'\\') part.remove_prefix(1);
    } else if (!part.empty() && part[0] != L'\\') {
        out += L'\\';
    }
    out.append(part);
    return out;
}

std::wstring join_path(std::wstring_view s, std::wstring_view part)
{
    if (s.empty()) return std::wstring(part);
    size_t leading = 0;
    while (leading < part.size() && is_separator(part[leading])) ++leading;
    std::wstring out(s);
    if (is_separator(out.back())) {
        part.remove_prefix(leading);
    } else if (leading == 0) {
        out += L'\\';
    } else {
        part.remove_prefix(leading - 1);
    }
    out.append(part);
    return out;
}

bool is_unc(std::wstring_view s) { return s.size() > 2 && s[0] == L'\\' && s[1] == L'\\'; }

size_t unc_root_length(std::wstring_view s)
{
    // The second separator from index 2 on ends the share name.
    int seen = 0;
    for (size_t i = 2; i < s.size(); ++i)
        if (is_separator(s[i]) && ++seen == 2) return i;
    return s.size();
}

std::wstring path_root(std::wstring_view s, bool trailing_backslash)
{
    std::wstring root;
    if (is_unc(s)) root.assign(s.substr(0, unc_root_length(s)));
    else if (s.size() >= 2 && s[1] == L':') root.assign(s.substr(0, 2));
    if (trailing_backslash && !root.empty()) root += L'\\';
    return root;
}

std::wstring folder_part(std::wstring_view s, bool keep_trailing, bool strip_root)
{
    const size_t last = s.rfind(L'\\');
    if (last == npos) return {};
    const std::wstring root = path_root(s, false);
    std::wstring folder;
    if (last < root.size()) {
        folder = root;  // the backslash inside a UNC root is no folder boundary
    } else if (!is_unc(s) && !root.empty() && last == root.size()) {
        folder.assign(s.substr(0, last + 1));  // "C:\" is a folder, "C:" is not the same one
    } else {
        folder.assign(s.substr(0, last));
        if (keep_trailing) folder += L'\\';
    }
    if (keep_trailing && folder == root) folder += L'\\';
    if (strip_root) {
        folder.erase(0, root.size());
        if (!folder.empty() && folder[0] == L'\\') folder.erase(0, 1);
    }
    return folder;
}

std::wstring_view file_name_part(std::wstring_view s, bool drop_extension)
{
    const size_t last = s.rfind(L'\\');
    std::wstring_view name = last == npos ? s : s.substr(last + 1);
    if (drop_extension) {
        const size_t dot = name.rfind(L'.');
        if (dot != npos) name = name.substr(0, dot);
    }
    return name;
}

std::wstring_view last_component(std::wstring_view s)
{
    return file_name_part(remove_backslash(s), false);
}

std::wstring_view extension_part(std::wstring_view s)
{
    const size_t dot = s.rfind(L'.');
    if (dot == npos) return {};
    const size_t last = s.rfind(L'\\');
    if (last != npos && last > dot) return {};
    return s.substr(dot);
}

std::wstring replace_extension(std::wstring_view s, std::wstring_view extension)
{
    std::wstring out(s.substr(0, s.size() - extension_part(s).size()));
    if (!extension.empty() && extension[0] != L'.') out += L'.';
    out.append(extension);
    return out;
}

std::wstring_view parent_folder(std::wstring_view s)
{
    const size_t last = s.find_last_of(L"\\/");
    return last == npos ? std::wstring_view() : s.substr(0, last + 1);
}

std::wstring_view root_ref(std::wstring_view s)
{
    if (is_unc(s)) return s.substr(0, unc_root_length(s));
    const size_t mark = s.find(L"://");
    if (mark != npos && mark > 0) {
        const size_t end = s.find_first_of(L"\\/", mark + 3);
        return s.substr(0, end == npos ? s.size() : end);
    }
    if (s.size() >= 2 && s[1] == L':') return s.substr(0, 2);
    return {};
}

bool has_absolute_form(std::wstring_view s)
{
    if (s.empty()) return false;
    if (is_unc(s)) return true;
    return s.size() >= 2 && s[1] == L':' && (s.size() == 2 || s[2] == L'\\');
}

bool has_drive_root(std::wstring_view s) { return has_absolute_form(s) && (is_unc(s) || is_ascii_letter(s[0])); }

bool drive_root_only(std::wstring_view s) { return has_drive_root(s) && !is_unc(s) && s.size() < 4; }

std::wstring enclosed(std::wstring_view s, wchar_t open, wchar_t close)
{
    const bool opens = !s.empty() && s.front() == open;
    const bool closes = s.size() >= (opens ? 2u : 1u) && s.back() == close;
    std::wstring out;
    out.reserve(s.size() + 2);
    if (!opens) out += open;
    out.append(s);
    if (!closes) out += close;
    return out;
}

std::wstring_view unenclosed(std::wstring_view s, wchar_t open, wchar_t close)
{
    if (!s.empty() && s.front() == open) s.remove_prefix(1);
    if (!s.empty() && s.back() == close) s.remove_suffix(1);
    return s;
}

namespace {
bool has_scheme(std::wstring_view s, std::wstring_view scheme)
{
    return s.size() > scheme.size() && starts_with_nocase(s, scheme);
}
}  // namespace

bool has_http_scheme(std::wstring_view s) { return has_scheme(s, L"http://"); }
bool has_https_scheme(std::wstring_view s) { return has_scheme(s, L"https://"); }
bool has_ftp_scheme(std::wstring_view s) { return has_scheme(s, L"ftp://"); }
bool has_file_url_scheme(std::wstring_view s) { return has_scheme(s, L"file://"); }

std::wstring file_url_to_path(std::wstring_view s)
{
    if (starts_with_nocase(s, L"file://")) s.remove_prefix(7);
    while (!s.empty() && s.front() == L'/') s.remove_prefix(1);
    std::wstring out;
    const bool drive = s.size() >= 2 && is_ascii_letter(s[0]) && (s[1] == L'|' || s[1] == L':');
    if (!drive) out = L"\\\\";
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == L'%' && s.substr(i, 3) == L"%20") {
            out += L' ';
            i += 2;
        } else if (s[i] == L'/') {
            out += L'\\';
        } else if (drive && i == 1) {
            out += L':';
        } else {
            out += s[i];
        }
    }
    return out;
}

}  // namespace text
}  // namespace qv

using qv::last_error_keeper;
namespace text = qv::text;

// Storage -------------------------------------------------------------------------------

template <class D, class C>
void zstring_base<D, C>::changing() noexcept
{
    if (bstr_) {
        SysFreeString(bstr_);
        bstr_ = nullptr;
    }
    lent_ = lent::none;
}

template <class D, class C>
void zstring_base<D, C>::grow(size_type count)
{
    if (count <= capacity_) return;
    if (count > max_size()) throw std::length_error("string too long");
    size_type capacity = capacity_ + capacity_ / 2;
    if (capacity < count) capacity = count;
    if (capacity > max_size()) capacity = max_size();
    BSTR fresh = SysAllocStringLen(nullptr, static_cast<UINT>(capacity));
    if (!fresh) throw std::bad_alloc();
    std::wmemcpy(fresh, text(), length_ + 1);
    if (heap_) SysFreeString(heap_);
    heap_ = fresh;
    capacity_ = capacity;
}

template <class D, class C>
void zstring_base<D, C>::set_length(size_type count) noexcept
{
    length_ = count;
    text()[count] = L'\0';
}

template <class D, class C>
void zstring_base<D, C>::release_all() noexcept
{
    changing();
    free(narrow_);
    narrow_ = nullptr;
    narrowSize_ = 0;
    if (heap_) SysFreeString(heap_);
    heap_ = nullptr;
    capacity_ = inline_capacity;
    set_length(0);
}

template <class D, class C>
void zstring_base<D, C>::set_view(std::wstring_view s)
{
    if (s.size() > max_size()) throw std::length_error("string too long");
    // The source may lie inside this string's own text.
    if (s.size() > capacity_ && s.data() >= text() && s.data() <= text() + length_) {
        const std::wstring copy(s);
        set_view(copy);
        return;
    }
    changing();
    grow(s.size());
    std::wmemmove(text(), s.data(), s.size());
    set_length(s.size());
}

// Construction --------------------------------------------------------------------------

template <class D, class C>
zstring_base<D, C>::zstring_base() noexcept = default;

template <class D, class C>
zstring_base<D, C>::zstring_base(const wchar_t* s)
{
    const last_error_keeper keep;
    if (s) set_view(s);
}

template <class D, class C>
zstring_base<D, C>::zstring_base(const wchar_t* s, size_type count)
{
    const last_error_keeper keep;
    if (s) set_view({s, count});
}

template <class D, class C>
zstring_base<D, C>::zstring_base(const zstring_base& other, size_type index, size_type count)
{
    const last_error_keeper keep;
    if (index > other.length_) throw std::out_of_range("invalid string position");
    set_view(other.view().substr(index, count));
}

template <class D, class C>
zstring_base<D, C>::zstring_base(size_type count, wchar_t c)
{
    const last_error_keeper keep;
    assign(count, c);
}

template <class D, class C>
zstring_base<D, C>::zstring_base(const char* bytes, int length, UINT codepage)
{
    const last_error_keeper keep;
    assign_multibyte(bytes, length, codepage);
}

template <class D, class C>
zstring_base<D, C>::zstring_base(const std::wstring& s)
{
    const last_error_keeper keep;
    set_view(s);
}

template <class D, class C>
zstring_base<D, C>::zstring_base(std::wstring_view s)
{
    const last_error_keeper keep;
    set_view(s);
}

template <class D, class C>
zstring_base<D, C>::zstring_base(const zstring_base& other)
{
    const last_error_keeper keep;
    set_view(other.view());
}

template <class D, class C>
zstring_base<D, C>::zstring_base(zstring_base&& other) noexcept
{
    const last_error_keeper keep;
    if (other.heap_) {
        heap_ = other.heap_;
        capacity_ = other.capacity_;
        length_ = other.length_;
        other.heap_ = nullptr;
        other.capacity_ = inline_capacity;
        other.set_length(0);
    } else {
        std::wmemcpy(local_, other.local_, other.length_ + 1);
        length_ = other.length_;
    }
    other.changing();
}

template <class D, class C>
zstring_base<D, C>::~zstring_base()
{
    const last_error_keeper keep;
    release_all();
}

template <class D, class C>
zstring_base<D, C>& zstring_base<D, C>::operator=(const zstring_base& other)
{
    const last_error_keeper keep;
    if (this != &other) set_view(other.view());
    return *this;
}

template <class D, class C>
zstring_base<D, C>& zstring_base<D, C>::operator=(zstring_base&& other) noexcept
{
    const last_error_keeper keep;
    if (this == &other) return *this;
    if (other.heap_) {
        changing();
        if (heap_) SysFreeString(heap_);
        heap_ = other.heap_;
        capacity_ = other.capacity_;
        length_ = other.length_;
        other.heap_ = nullptr;
        other.capacity_ = inline_capacity;
        other.set_length(0);
    } else {
        // Inline text fits any buffer this string already has.
        changing();
        std::wmemcpy(text(), other.local_, other.length_ + 1);
        length_ = other.length_;
    }
    other.changing();
    return *this;
}

// Text ----------------------------------------------------------------------------------

template <class D, class C>
wchar_t zstring_base<D, C>::at(size_type i) const
{
    const last_error_keeper keep;
    if (i >= length_) throw std::out_of_range("invalid string position");
    return text()[i];
}

template <class D, class C>
D& zstring_base<D, C>::assign(const wchar_t* s)
{
    const last_error_keeper keep;
    set_view(s ? std::wstring_view(s) : std::wstring_view());
    return self();
}

template <class D, class C>
D& zstring_base<D, C>::assign(const wchar_t* s, size_type count)
{
    const last_error_keeper keep;
    set_view(s ? std::wstring_view(s, count) : std::wstring_view());
    return self();
}

template <class D, class C>
D& zstring_base<D, C>::assign(const zstring_base& other)
{
    const last_error_keeper keep;
    if (this != &other) set_view(other.view());
    return self();
}

template <class D, class C>
D& zstring_base<D, C>::assign(size_type count, wchar_t c)
{
    const last_error_keeper keep;
    changing();
    grow(count);
    std::wmemset(text(), c, count);
    set_length(count);
    return self();
}

template <class D, class C>
D& zstring_base<D, C>::assign_multibyte(const char* bytes, int length, UINT codepage)
{
    const last_error_keeper keep;
    if (!bytes || length == 0) {
        clear();
        return self();
    }
    if (codepage == 1200 || codepage == 1201) {
        size_type units = 0;
        if (length < 0) {
            while (bytes[2 * units] || bytes[2 * units + 1]) ++units;
        } else {
            units = static_cast<size_type>(length) / 2;
        }
        if (units > max_size()) throw std::length_error("string too long");
        changing();
        grow(units);
        wchar_t* out = text();
        for (size_type i = 0; i < units; ++i) {
            const unsigned char a = bytes[2 * i], b = bytes[2 * i + 1];
            out[i] = static_cast<wchar_t>(codepage == 1200 ? (a | b << 8) : (b | a << 8));
        }
        set_length(units);
        return self();
    }
    int units = MultiByteToWideChar(codepage, 0, bytes, length, nullptr, 0);
    if (units <= 0) {
        clear();
        return self();
    }
    changing();
    grow(static_cast<size_type>(units));
    units = MultiByteToWideChar(codepage, 0, bytes, length, text(), units);
    // A length of -1 converts the terminator too.
    if (length < 0 && units > 0) --units;
    set_length(units > 0 ? static_cast<size_type>(units) : 0);
    return self();
}

template <class D, class C>
D& zstring_base<D, C>::append(const wchar_t* s)
{
    const last_error_keeper keep;
    return s ? append(s, std::wcslen(s)) : self();
}

template <class D, class C>
D& zstring_base<D, C>::append(const wchar_t* s, size_type count)
{
    const last_error_keeper keep;
    if (!s || count == 0) return self();
    if (count > max_size() - length_) throw std::length_error("string too long");
    if (s >= text() && s <= text() + length_ && length_ + count > capacity_) {
        const std::wstring copy(s, count);
        return append(copy.data(), copy.size());
    }
    changing();
    grow(length_ + count);
    std::wmemmove(text() + length_, s, count);
    set_length(length_ + count);
    return self();
}

template <class D, class C>
D& zstring_base<D, C>::append(const zstring_base& other)
{
    const last_error_keeper keep;
    return append(other.data(), other.length());
}

template <class D, class C>
D& zstring_base<D, C>::append(size_type count, wchar_t c)
{
    const last_error_keeper keep;
    if (count > max_size() - length_) throw std::length_error("string too long");
    changing();
    grow(length_ + count);
    std::wmemset(text() + length_, c, count);
    set_length(length_ + count);
    return self();
}

template <class D, class C>
D& zstring_base<D, C>::insert(size_type index, const wchar_t* s)
{
    const last_error_keeper keep;
    return replace(index, 0, s);
}

template <class D, class C>
D& zstring_base<D, C>::insert(size_type index, size_type count, wchar_t c)
{
    const last_error_keeper keep;
    const std::wstring piece(count, c);
    return replace(index, 0, piece.c_str());
}

template <class D, class C>
D& zstring_base<D, C>::erase(size_type index, size_type count)
{
    const last_error_keeper keep;
    if (index > length_) throw std::out_of_range("invalid string position");
    if (count > length_ - index) count = length_ - index;
    changing();
    std::wmemmove(text() + index, text() + index + count, length_ - index - count);
    set_length(length_ - count);
    return self();
}

template <class D, class C>
D& zstring_base<D, C>::replace(size_type index, size_type count, const wchar_t* s)
{
    const last_error_keeper keep;
    if (index > length_) throw std::out_of_range("invalid string position");
    if (count > length_ - index) count = length_ - index;
    std::wstring out(view().substr(0, index));
    if (s) out += s;
    out.append(view().substr(index + count));
    set_view(out);
    return self();
}

template <class D, class C>
D zstring_base<D, C>::substr(size_type index, size_type count) const
{
    const last_error_keeper keep;
    if (index > length_) throw std::out_of_range("invalid string position");
    return D(view().substr(index, count));
}

template <class D, class C>
void zstring_base<D, C>::copy_substr(D& out, size_type index, size_type count) const
{
    const last_error_keeper keep;
    if (index > length_) throw std::out_of_range("invalid string position");
    out.set_view(view().substr(index, count));
}

template <class D, class C>
void zstring_base<D, C>::clear()
{
    const last_error_keeper keep;
    changing();
    set_length(0);
}

template <class D, class C>
void zstring_base<D, C>::resize(size_type count, wchar_t c)
{
    const last_error_keeper keep;
    if (count <= length_) {
        changing();
        set_length(count);
    } else {
        append(count - length_, c);
    }
}

template <class D, class C>
void zstring_base<D, C>::reserve(size_type count)
{
    const last_error_keeper keep;
    grow(count);
}

template <class D, class C>
D& zstring_base<D, C>::trim(const wchar_t* set)
{
    const last_error_keeper keep;
    const std::wstring_view chars = set ? set : L"";
    const std::wstring_view v = view();
    const size_t first = v.find_first_not_of(chars);
    if (first == std::wstring_view::npos) {
        clear();
        return self();
    }
    const size_t last = v.find_last_not_of(chars);
    if (first > 0 || last + 1 < length_) set_view(v.substr(first, last + 1 - first));
    return self();
}

template <class D, class C>
D& zstring_base<D, C>::remove_trailing(wchar_t c)
{
    const last_error_keeper keep;
    if (length_ && text()[length_ - 1] == c) {
        changing();
        set_length(length_ - 1);
    }
    return self();
}

template <class D, class C>
typename zstring_base<D, C>::size_type zstring_base<D, C>::replace_all(const wchar_t* from, const wchar_t* to)
{
    const last_error_keeper keep;
    const std::wstring_view needle = from ? from : L"";
    if (needle.empty()) return 0;
    const std::wstring_view v = view();
    std::wstring out;
    size_type count = 0, at = 0;
    for (size_t hit; (hit = C::find(v, needle, at)) != std::wstring_view::npos; at = hit + needle.size()) {
        out.append(v.substr(at, hit - at));
        if (to) out += to;
        ++count;
    }
    if (count) {
        out.append(v.substr(at));
        set_view(out);
    }
    return count;
}

template <class D, class C>
std::vector<D> zstring_base<D, C>::split(const wchar_t* delimiter, bool drop_empty) const
{
    const last_error_keeper keep;
    std::vector<D> pieces;
    const std::wstring_view v = view();
    const std::wstring_view d = delimiter ? delimiter : L"";
    size_t at = 0;
    for (;;) {
        const size_t hit = d.empty() ? std::wstring_view::npos : C::find(v, d, at);
        const std::wstring_view piece = v.substr(at, hit == std::wstring_view::npos ? std::wstring_view::npos : hit - at);
        if (!piece.empty() || !drop_empty) pieces.emplace_back(piece);
        if (hit == std::wstring_view::npos) break;
        at = hit + d.size();
    }
    return pieces;
}

template <class D, class C>
D& zstring_base<D, C>::make_upper()
{
    const last_error_keeper keep;
    changing();
    if (length_) CharUpperBuffW(text(), static_cast<DWORD>(length_));
    return self();
}

// Numbers -------------------------------------------------------------------------------

namespace {
// A whole text read by a C conversion: false when it is empty, overflows or leaves
// characters behind.
template <class T, class Convert>
bool read_number(const wchar_t* s, size_t length, T& value, Convert convert)
{
    if (length == 0) return false;
    wchar_t* end = nullptr;
    const int saved = errno;
    errno = 0;
    const T v = convert(s, &end);
    const bool overflow = errno == ERANGE;
    errno = saved;
    if (overflow || end == s || end != s + length) return false;
    value = v;
    return true;
}
}  // namespace

template <class D, class C>
bool zstring_base<D, C>::to_long(long& value, int base) const
{
    const last_error_keeper keep;
    return read_number(text(), length_, value, [base](const wchar_t* s, wchar_t** e) { return std::wcstol(s, e, base); });
}

template <class D, class C>
bool zstring_base<D, C>::to_int64(long long& value, int base) const
{
    const last_error_keeper keep;
    return read_number(text(), length_, value, [base](const wchar_t* s, wchar_t** e) { return _wcstoi64(s, e, base); });
}

template <class D, class C>
bool zstring_base<D, C>::to_ulong(unsigned long& value, int base) const
{
    const last_error_keeper keep;
    return read_number(text(), length_, value, [base](const wchar_t* s, wchar_t** e) { return std::wcstoul(s, e, base); });
}

// Search and comparison -----------------------------------------------------------------

template <class D, class C>
typename zstring_base<D, C>::size_type zstring_base<D, C>::find_nocase(const wchar_t* needle, size_type start) const
{
    const last_error_keeper keep;
    return text::find_nocase(view(), needle ? needle : L"", start);
}

template <class D, class C>
typename zstring_base<D, C>::size_type zstring_base<D, C>::rfind_nocase(const wchar_t* needle, size_type start) const
{
    const last_error_keeper keep;
    return text::rfind_nocase(view(), needle ? needle : L"", start);
}

template <class D, class C>
typename zstring_base<D, C>::size_type zstring_base<D, C>::find(const wchar_t* needle, size_type start) const
{
    const last_error_keeper keep;
    return view().find(needle ? needle : L"", start);
}

template <class D, class C>
typename zstring_base<D, C>::size_type zstring_base<D, C>::rfind_cstr(const wchar_t* needle, size_type start) const
{
    const last_error_keeper keep;
    return view().rfind(needle ? needle : L"", start);
}

template <class D, class C>
bool zstring_base<D, C>::ends_with(const wchar_t* suffix) const
{
    const last_error_keeper keep;
    const std::wstring_view s = suffix ? suffix : L"";
    return s.size() <= length_ && qv::nocase_compare::compare(view().substr(length_ - s.size()), s) == 0;
}

template <class D, class C>
bool zstring_base<D, C>::equals(const wchar_t* other) const
{
    const last_error_keeper keep;
    // The whole of both texts, so that a prefix is never equal.
    return qv::nocase_compare::compare(view(), other ? other : L"") == 0;
}

template <class D, class C>
bool zstring_base<D, C>::equals(const zstring_base& other) const
{
    const last_error_keeper keep;
    return qv::nocase_compare::compare(view(), other.view()) == 0;
}

template <class D, class C>
int zstring_base<D, C>::compare_nocase(const wchar_t* other) const
{
    const last_error_keeper keep;
    return qv::nocase_compare::compare(view(), other ? other : L"");
}

// Buffers and views ---------------------------------------------------------------------

template <class D, class C>
wchar_t* zstring_base<D, C>::get_buffer(size_type count)
{
    const last_error_keeper keep;
    resize(count);
    changing();
    bstr_ = SysAllocStringLen(text(), static_cast<UINT>(count));
    if (!bstr_) throw std::bad_alloc();
    lent_ = lent::wide;
    return bstr_;
}

template <class D, class C>
char* zstring_base<D, C>::get_narrow_buffer(size_type bytes)
{
    const last_error_keeper keep;
    if (bytes + 1 > narrowSize_) {
        char* fresh = static_cast<char*>(realloc(narrow_, bytes + 1));
        if (!fresh) throw std::bad_alloc();
        narrow_ = fresh;
        narrowSize_ = bytes + 1;
    }
    std::memset(narrow_, 0, narrowSize_);
    changing();
    lent_ = lent::narrow;
    return narrow_;
}

template <class D, class C>
void zstring_base<D, C>::release_buffer()
{
    const last_error_keeper keep;
    if (lent_ == lent::wide && bstr_) {
        const std::wstring read(bstr_, wcsnlen(bstr_, SysStringLen(bstr_)));
        set_view(read);
    } else if (lent_ == lent::narrow && narrow_) {
        const size_t bytes = strnlen(narrow_, narrowSize_);
        const std::string read(narrow_, bytes);
        assign_multibyte(read.data(), static_cast<int>(read.size()), CP_THREAD_ACP);
    }
    lent_ = lent::none;
}

template <class D, class C>
BSTR zstring_base<D, C>::bstr() const
{
    const last_error_keeper keep;
    if (!bstr_) {
        bstr_ = SysAllocStringLen(text(), static_cast<UINT>(length_));
        if (!bstr_) throw std::bad_alloc();
    } else if (SysStringLen(bstr_) != length_) {
        if (!SysReAllocStringLen(&bstr_, text(), static_cast<UINT>(length_))) throw std::bad_alloc();
    }
    return bstr_;
}

namespace {
// The narrow buffer's size for a conversion of `bytes` bytes and its terminator, in steps
// of 64 bytes; a buffer already larger is kept.
size_t narrow_size(size_t bytes, size_t current)
{
    const size_t need = bytes + 1;
    return need < current ? current : (need / 64 + 1) * 64;
}

// The text in the thread's ANSI code page into `buffer`, grown to the size the conversion
// measures: a code page with three bytes per character cannot overrun it.
const char* convert_narrow(std::wstring_view text, char*& buffer, size_t& size)
{
    int bytes = 0;
    if (!text.empty())
        bytes = WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (bytes < 0) bytes = 0;
    const size_t wanted = narrow_size(static_cast<size_t>(bytes), size);
    if (!buffer || wanted != size) {
        char* fresh = static_cast<char*>(realloc(buffer, wanted));
        if (!fresh) throw std::bad_alloc();
        buffer = fresh;
        size = wanted;
    }
    if (bytes > 0)
        bytes = WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), buffer,
            static_cast<int>(size - 1), nullptr, nullptr);
    buffer[bytes > 0 ? bytes : 0] = '\0';
    return buffer;
}
}  // namespace

template <class D, class C>
const char* zstring_base<D, C>::narrow() const
{
    const last_error_keeper keep;
    return convert_narrow(view(), narrow_, narrowSize_);
}

// Formatting ----------------------------------------------------------------------------

template <class D, class C>
D& zstring_base<D, C>::format(const wchar_t* fmt, ...)
{
    const last_error_keeper keep;
    va_list args;
    va_start(args, fmt);
    try {
        vformat(fmt, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    return self();
}

template <class D, class C>
D& zstring_base<D, C>::vformat(const wchar_t* fmt, va_list args)
{
    const last_error_keeper keep;
    if (!fmt) {
        clear();
        return self();
    }
    // msvcrt's wide functions, where %s is a wide string as in the rest of Windows.
    va_list measure;
    va_copy(measure, args);
    const int length = _vscwprintf(fmt, measure);
    va_end(measure);
    if (length <= 0) {
        clear();
        return self();
    }
    // Written apart from the text: an argument may be this string's own text.
    std::wstring out(static_cast<size_t>(length), L'\0');
    _vsnwprintf(out.data(), out.size() + 1, fmt, args);
    set_view(out);
    return self();
}

// Paths ---------------------------------------------------------------------------------

template <class D, class C>
D zstring_base<D, C>::add_backslash() const
{
    const last_error_keeper keep;
    return D(text::add_backslash(view()));
}

template <class D, class C>
D zstring_base<D, C>::remove_backslash() const
{
    const last_error_keeper keep;
    return D(text::remove_backslash(view()));
}

template <class D, class C>
D& zstring_base<D, C>::append_path(const wchar_t* part)
{
    const last_error_keeper keep;
    set_view(text::append_path(view(), part ? part : L""));
    return self();
}

template <class D, class C>
D& zstring_base<D, C>::join_path(const wchar_t* part)
{
    const last_error_keeper keep;
    set_view(text::join_path(view(), part ? part : L""));
    return self();
}

template <class D, class C>
D zstring_base<D, C>::combine_path(const wchar_t* part) const
{
    const last_error_keeper keep;
    return D(text::join_path(view(), part ? part : L""));
}

template <class D, class C>
D zstring_base<D, C>::path_root(bool trailing_backslash) const
{
    const last_error_keeper keep;
    return D(text::path_root(view(), trailing_backslash));
}

template <class D, class C>
D zstring_base<D, C>::folder_part(bool keep_trailing, bool strip_root) const
{
    const last_error_keeper keep;
    return D(text::folder_part(view(), keep_trailing, strip_root));
}

template <class D, class C>
D zstring_base<D, C>::file_name_part(bool drop_extension) const
{
    const last_error_keeper keep;
    return D(text::file_name_part(view(), drop_extension));
}

template <class D, class C>
D zstring_base<D, C>::last_component() const
{
    const last_error_keeper keep;
    return D(text::last_component(view()));
}

template <class D, class C>
D zstring_base<D, C>::extension_part() const
{
    const last_error_keeper keep;
    return D(text::extension_part(view()));
}

template <class D, class C>
D& zstring_base<D, C>::replace_extension(const wchar_t* extension)
{
    const last_error_keeper keep;
    set_view(text::replace_extension(view(), extension ? extension : L""));
    return self();
}

template <class D, class C>
D zstring_base<D, C>::base_name() const
{
    const last_error_keeper keep;
    return D(text::file_name_part(view(), true));
}

template <class D, class C>
D zstring_base<D, C>::parent_folder() const
{
    const last_error_keeper keep;
    return D(text::parent_folder(view()));
}

template <class D, class C>
D zstring_base<D, C>::root_ref() const
{
    const last_error_keeper keep;
    return D(text::root_ref(view()));
}

template <class D, class C>
bool zstring_base<D, C>::has_absolute_form() const
{
    const last_error_keeper keep;
    return text::has_absolute_form(view());
}

template <class D, class C>
bool zstring_base<D, C>::has_drive_root() const
{
    const last_error_keeper keep;
    return text::has_drive_root(view());
}

template <class D, class C>
bool zstring_base<D, C>::drive_root_only() const
{
    const last_error_keeper keep;
    return text::drive_root_only(view());
}

template <class D, class C>
D& zstring_base<D, C>::join_list(const std::vector<D>& list, wchar_t separator)
{
    const last_error_keeper keep;
    for (const D& item : list) {
        if (length_ && last_char() != separator) append(1, separator);
        append(item);
    }
    return self();
}

// Quoting and URLs ----------------------------------------------------------------------

template <class D, class C>
D zstring_base<D, C>::quoted(bool only_with_blank) const
{
    const last_error_keeper keep;
    if (only_with_blank && view().find(L' ') == std::wstring_view::npos) return D(view());
    return D(text::enclosed(view(), L'"', L'"'));
}

template <class D, class C>
D zstring_base<D, C>::unquoted() const
{
    const last_error_keeper keep;
    return D(text::unenclosed(view(), L'"', L'"'));
}

template <class D, class C>
D zstring_base<D, C>::braced() const
{
    const last_error_keeper keep;
    return D(text::enclosed(view(), L'{', L'}'));
}

template <class D, class C>
D zstring_base<D, C>::unbraced() const
{
    const last_error_keeper keep;
    return D(text::unenclosed(view(), L'{', L'}'));
}

template <class D, class C>
bool zstring_base<D, C>::has_url_scheme() const
{
    const last_error_keeper keep;
    return has_http_scheme() || has_https_scheme() || has_ftp_scheme();
}

template <class D, class C>
bool zstring_base<D, C>::has_http_scheme() const
{
    const last_error_keeper keep;
    return text::has_http_scheme(view());
}

template <class D, class C>
bool zstring_base<D, C>::has_https_scheme() const
{
    const last_error_keeper keep;
    return text::has_https_scheme(view());
}

template <class D, class C>
bool zstring_base<D, C>::has_ftp_scheme() const
{
    const last_error_keeper keep;
    return text::has_ftp_scheme(view());
}

template <class D, class C>
bool zstring_base<D, C>::has_file_url_scheme() const
{
    const last_error_keeper keep;
    return text::has_file_url_scheme(view());
}

template <class D, class C>
D zstring_base<D, C>::file_url_to_path() const
{
    const last_error_keeper keep;
    return D(text::file_url_to_path(view()));
}

template class zstring_base<zString, qv::nocase_compare>;
template class zstring_base<zStringExact, qv::exact_compare>;

// The two classes -----------------------------------------------------------------------

zStringExact zString::to_exact() const
{
    const last_error_keeper keep;
    return zStringExact(view());
}

zString zStringExact::to_zstring() const
{
    const last_error_keeper keep;
    return zString(view());
}

zStringExact::zStringExact(long value, int radix)
{
    const last_error_keeper keep;
    wchar_t digits[72];
    if (radix < 2 || radix > 36) radix = 10;
    _ltow(value, digits, radix);
    assign(digits);
}

zStringExact& zStringExact::replace_placeholders(const wchar_t* const* args, size_t count)
{
    const last_error_keeper keep;
    set_view(qv::text::expand_placeholders(view(), args, args ? count : 0));
    return *this;
}

zString::_buffs::_buffs()
{
    _narrow = static_cast<char*>(malloc(1));
    if (!_narrow) throw std::bad_alloc();
    _narrow[0] = '\0';
    _size = 1;
}

zString::_buffs::~_buffs() { free(_narrow); }

const char* zString::_buffs::narrow(std::wstring_view text) const { return convert_narrow(text, _narrow, _size); }

namespace {
template <class S>
S concatenated(std::wstring_view a, std::wstring_view b)
{
    S out;
    out.reserve(a.size() + b.size());
    out.append(a.data(), a.size());
    out.append(b.data(), b.size());
    return out;
}
}  // namespace

zString operator+(const zString& a, const zString& b) { const last_error_keeper keep; return concatenated<zString>(a.view(), b.view()); }
zString operator+(const zString& a, const wchar_t* b) { const last_error_keeper keep; return concatenated<zString>(a.view(), b ? b : L""); }
zString operator+(const wchar_t* a, const zString& b) { const last_error_keeper keep; return concatenated<zString>(a ? a : L"", b.view()); }
zStringExact operator+(const zStringExact& a, const zStringExact& b) { const last_error_keeper keep; return concatenated<zStringExact>(a.view(), b.view()); }
zStringExact operator+(const zStringExact& a, const wchar_t* b) { const last_error_keeper keep; return concatenated<zStringExact>(a.view(), b ? b : L""); }
zStringExact operator+(const wchar_t* a, const zStringExact& b) { const last_error_keeper keep; return concatenated<zStringExact>(a ? a : L"", b.view()); }

long parse_hex(const wchar_t* text)
{
    const last_error_keeper keep;
    return text ? std::wcstol(text, nullptr, 16) : 0;
}
