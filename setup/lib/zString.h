// setup's everyday wide strings. Every constructor, operation and destructor leaves the
// thread's last error as it found it, so a message can be built between a failing call
// and its GetLastError().
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdarg>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// Reads the thread's last error on entry to a scope and sets it again on every exit,
// an exception leaving the scope included.
class last_error_keeper {
public:
    last_error_keeper() noexcept : kept_(GetLastError()) {}
    ~last_error_keeper() { SetLastError(kept_); }
    last_error_keeper(const last_error_keeper&) = delete;
    last_error_keeper& operator=(const last_error_keeper&) = delete;

private:
    DWORD kept_;
};

// Case-insensitive and exact comparison, the one difference between zString and zStringExact.
struct nocase_compare {
    static int compare(std::wstring_view a, std::wstring_view b) noexcept;
    static size_t find(std::wstring_view text, std::wstring_view needle, size_t start) noexcept;
};
struct exact_compare {
    static int compare(std::wstring_view a, std::wstring_view b) noexcept;
    static size_t find(std::wstring_view text, std::wstring_view needle, size_t start) noexcept;
};

// The decisions of the path, quoting and placeholder operations, shared by zString,
// zStringExact and zpath; none of them calls Windows.
namespace text {
constexpr size_t npos = std::wstring_view::npos;
inline bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }
bool starts_with_nocase(std::wstring_view s, std::wstring_view prefix) noexcept;
size_t find_nocase(std::wstring_view s, std::wstring_view needle, size_t start) noexcept;
size_t rfind_nocase(std::wstring_view s, std::wstring_view needle, size_t start) noexcept;
std::wstring expand_placeholders(std::wstring_view s, const wchar_t* const* args, size_t count);

std::wstring add_backslash(std::wstring_view s);
std::wstring_view remove_backslash(std::wstring_view s);
std::wstring append_path(std::wstring_view s, std::wstring_view part);
std::wstring join_path(std::wstring_view s, std::wstring_view part);
bool is_unc(std::wstring_view s);
size_t unc_root_length(std::wstring_view s);  // \\server\share, up to the share's end
std::wstring path_root(std::wstring_view s, bool trailing_backslash);
std::wstring folder_part(std::wstring_view s, bool keep_trailing, bool strip_root);
std::wstring_view file_name_part(std::wstring_view s, bool drop_extension);
std::wstring_view last_component(std::wstring_view s);
std::wstring_view extension_part(std::wstring_view s);
std::wstring replace_extension(std::wstring_view s, std::wstring_view extension);
std::wstring_view parent_folder(std::wstring_view s);
std::wstring_view root_ref(std::wstring_view s);
bool has_absolute_form(std::wstring_view s);
bool has_drive_root(std::wstring_view s);
bool drive_root_only(std::wstring_view s);
std::wstring enclosed(std::wstring_view s, wchar_t open, wchar_t close);
std::wstring_view unenclosed(std::wstring_view s, wchar_t open, wchar_t close);
bool has_http_scheme(std::wstring_view s);
bool has_https_scheme(std::wstring_view s);
bool has_ftp_scheme(std::wstring_view s);
bool has_file_url_scheme(std::wstring_view s);
std::wstring file_url_to_path(std::wstring_view s);
}  // namespace text

}  // namespace qv

// What zString and zStringExact share: the text with seven characters inline and longer
// text in a BSTR-allocated buffer, the narrow and BSTR views, and every operation whose
// only dependence on case is the comparison `Compare`.
template <class Derived, class Compare>
class zstring_base {
public:
    using size_type = size_t;
    static constexpr size_type npos = static_cast<size_type>(-1);
    static constexpr size_type inline_capacity = 7;

    zstring_base() noexcept;
    zstring_base(const wchar_t* s);
    zstring_base(const wchar_t* s, size_type count);
    zstring_base(const zstring_base& other, size_type index, size_type count = npos);
    zstring_base(size_type count, wchar_t c);
    zstring_base(const char* bytes, int length, UINT codepage);
    zstring_base(const std::wstring& s);
    zstring_base(std::wstring_view s);
    zstring_base(const zstring_base& other);
    zstring_base(zstring_base&& other) noexcept;
    ~zstring_base();

    zstring_base& operator=(const zstring_base& other);
    zstring_base& operator=(zstring_base&& other) noexcept;

    const wchar_t* c_str() const noexcept { return text(); }
    const wchar_t* data() const noexcept { return text(); }
    size_type length() const noexcept { return length_; }
    size_type size() const noexcept { return length_; }
    bool empty() const noexcept { return length_ == 0; }
    size_type capacity() const noexcept { return capacity_; }
    bool is_inline() const noexcept { return heap_ == nullptr; }
    static constexpr size_type max_size() noexcept { return 0x3FFFFFF0; }
    std::wstring_view view() const noexcept { return {text(), length_}; }
    std::wstring str() const { return std::wstring(text(), length_); }
    const wchar_t* begin() const noexcept { return text(); }
    const wchar_t* end() const noexcept { return text() + length_; }
    wchar_t operator[](size_type i) const noexcept { return text()[i]; }
    wchar_t at(size_type i) const;
    wchar_t last_char() const noexcept { return length_ ? text()[length_ - 1] : L'\0'; }

    Derived& assign(const wchar_t* s);
    Derived& assign(const wchar_t* s, size_type count);
    Derived& assign(const zstring_base& other);
    Derived& assign(size_type count, wchar_t c);
    // length in bytes, -1 up to the terminator; 1200 and 1201 are UTF-16LE and UTF-16BE.
    Derived& assign_multibyte(const char* bytes, int length, UINT codepage);
    Derived& append(const wchar_t* s);
    Derived& append(const wchar_t* s, size_type count);
    Derived& append(const zstring_base& other);
    Derived& append(size_type count, wchar_t c);
    Derived& operator=(const wchar_t* s) { return assign(s); }
    Derived& operator+=(const wchar_t* s) { return append(s); }
    Derived& operator+=(const zstring_base& s) { return append(s); }
    Derived& operator+=(wchar_t c) { return append(1, c); }
    void push_back(wchar_t c) { append(1, c); }
    Derived& insert(size_type index, const wchar_t* s);
    Derived& insert(size_type index, size_type count, wchar_t c);
    Derived& erase(size_type index = 0, size_type count = npos);
    Derived& replace(size_type index, size_type count, const wchar_t* s);
    Derived substr(size_type index = 0, size_type count = npos) const;
    void copy_substr(Derived& out, size_type index, size_type count = npos) const;
    void clear();
    void resize(size_type count, wchar_t c = L'\0');
    void reserve(size_type count);

    Derived& trim(const wchar_t* set = L" \t\r\n");
    Derived& remove_trailing(wchar_t c);
    size_type replace_all(const wchar_t* from, const wchar_t* to);
    std::vector<Derived> split(const wchar_t* delimiter, bool drop_empty = false) const;
    Derived& make_upper();

    bool to_long(long& value, int base = 10) const;
    bool to_int64(long long& value, int base = 10) const;
    bool to_ulong(unsigned long& value, int base = 10) const;

    size_type find_nocase(const wchar_t* needle, size_type start = 0) const;
    size_type rfind_nocase(const wchar_t* needle, size_type start = npos) const;
    size_type find(const wchar_t* needle, size_type start = 0) const;
    size_type find_cstr(const wchar_t* needle, size_type start = 0) const { return find(needle, start); }
    size_type rfind_cstr(const wchar_t* needle, size_type start = npos) const;
    bool ends_with(const wchar_t* suffix) const;
    bool equals(const wchar_t* other) const;
    bool equals(const zstring_base& other) const;
    int compare_nocase(const wchar_t* other) const;
    int compare(const zstring_base& other) const { return Compare::compare(view(), other.view()); }

    // A writable buffer of at least count characters (the BSTR view); release_buffer reads
    // the text back from it up to its first zero.
    wchar_t* get_buffer(size_type count);
    char* get_narrow_buffer(size_type bytes);
    void release_buffer();
    BSTR bstr() const;
    const char* narrow() const;  // in the thread's ANSI code page

    Derived& format(const wchar_t* fmt, ...);
    Derived& vformat(const wchar_t* fmt, va_list args);

    Derived add_backslash() const;
    Derived remove_backslash() const;
    Derived& append_path(const wchar_t* part);
    Derived& join_path(const wchar_t* part);
    Derived combine_path(const wchar_t* part) const;
    Derived path_root(bool trailing_backslash = false) const;
    Derived folder_part(bool keep_trailing = false, bool strip_root = false) const;
    Derived file_name_part(bool drop_extension = false) const;
    Derived last_component() const;
    Derived extension_part() const;
    Derived& replace_extension(const wchar_t* extension);
    Derived base_name() const;
    Derived parent_folder() const;
    Derived root_ref() const;
    bool has_absolute_form() const;
    bool has_drive_root() const;
    bool drive_root_only() const;
    Derived& join_list(const std::vector<Derived>& list, wchar_t separator);

    Derived quoted(bool only_with_blank = false) const;
    Derived unquoted() const;
    Derived braced() const;
    Derived unbraced() const;
    bool has_url_scheme() const;
    bool has_http_scheme() const;
    bool has_https_scheme() const;
    bool has_ftp_scheme() const;
    bool has_file_url_scheme() const;
    Derived file_url_to_path() const;

    friend bool operator==(const zstring_base& a, const zstring_base& b) { return Compare::compare(a.view(), b.view()) == 0; }
    friend bool operator==(const zstring_base& a, const wchar_t* b) { return Compare::compare(a.view(), b ? b : L"") == 0; }
    friend bool operator<(const zstring_base& a, const zstring_base& b) { return Compare::compare(a.view(), b.view()) < 0; }

protected:
    Derived& self() { return static_cast<Derived&>(*this); }
    void set_view(std::wstring_view s);

private:
    enum class lent : unsigned char { none, wide, narrow };
    wchar_t* text() noexcept { return heap_ ? heap_ : local_; }
    const wchar_t* text() const noexcept { return heap_ ? heap_ : local_; }
    void changing() noexcept;  // drops the views before the text changes
    void grow(size_type count);
    void set_length(size_type count) noexcept;
    void release_all() noexcept;

    wchar_t local_[inline_capacity + 1] = {};
    wchar_t* heap_ = nullptr;  // BSTR-allocated once the text outgrows local_
    size_type length_ = 0;
    size_type capacity_ = inline_capacity;
    mutable char* narrow_ = nullptr;
    mutable size_type narrowSize_ = 0;
    mutable BSTR bstr_ = nullptr;
    lent lent_ = lent::none;
};

class zStringExact;

// The everyday wide string: case-insensitive search and comparison.
class zString : public zstring_base<zString, qv::nocase_compare> {
public:
    using zstring_base::zstring_base;
    zString() noexcept = default;
    zString(const zString&) = default;
    zString(zString&&) noexcept = default;
    zString& operator=(const zString&) = default;
    zString& operator=(zString&&) noexcept = default;
    zString& operator=(const wchar_t* s) { return assign(s); }

    zStringExact to_exact() const;

    // The parts that _zstring is built from (setup's second string class).
    struct _last_error {
        DWORD _kept = 0;
    };
    struct _save_last_error : virtual _last_error {
        _save_last_error() noexcept { _kept = GetLastError(); }
        _save_last_error(const _save_last_error&) noexcept : _save_last_error() {}
        _save_last_error& operator=(const _save_last_error&) noexcept { return *this; }
        ~_save_last_error() { SetLastError(_kept); }
    };
    struct _restore_last_error : virtual _last_error {
        _restore_last_error() noexcept { SetLastError(_kept); }
        _restore_last_error(const _restore_last_error&) noexcept : _restore_last_error() {}
        _restore_last_error& operator=(const _restore_last_error&) noexcept { return *this; }
        ~_restore_last_error() { _kept = GetLastError(); }
    };
    struct _buffs {
        _buffs();
        _buffs(const _buffs&) : _buffs() {}
        _buffs& operator=(const _buffs&) noexcept { return *this; }
        ~_buffs();
        const char* narrow(std::wstring_view text) const;
        mutable char* _narrow = nullptr;
        mutable size_t _size = 0;
    };
};

// The same string with exact search and comparison.
class zStringExact : public zstring_base<zStringExact, qv::exact_compare> {
public:
    using zstring_base::zstring_base;
    zStringExact() noexcept = default;
    zStringExact(const zStringExact&) = default;
    zStringExact(zStringExact&&) noexcept = default;
    zStringExact& operator=(const zStringExact&) = default;
    zStringExact& operator=(zStringExact&&) noexcept = default;
    zStringExact& operator=(const wchar_t* s) { return assign(s); }
    explicit zStringExact(long value, int radix = 10);

    zString to_zstring() const;

    // %1-%9 name arguments 0-8, %A-%Z arguments 9-34; "?" stands for a missing one.
    zStringExact& replace_placeholders(const wchar_t* const* args, size_t count);
    zStringExact& replace_placeholders(std::initializer_list<const wchar_t*> args)
    {
        return replace_placeholders(args.begin(), args.size());
    }
};

zString operator+(const zString& a, const zString& b);
zString operator+(const zString& a, const wchar_t* b);
zString operator+(const wchar_t* a, const zString& b);
zStringExact operator+(const zStringExact& a, const zStringExact& b);
zStringExact operator+(const zStringExact& a, const wchar_t* b);
zStringExact operator+(const wchar_t* a, const zStringExact& b);

// wcstol of the whole text in base 16.
long parse_hex(const wchar_t* text);

extern template class zstring_base<zString, qv::nocase_compare>;
extern template class zstring_base<zStringExact, qv::exact_compare>;
