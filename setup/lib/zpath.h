// setup's second string class, whose text lives in a BSTR, and the path class built on it.
// Like zString, every operation leaves the thread's last error as it found it.
#pragma once

#include "zString.h"

#include <stdexcept>

namespace qv {

// Owns one BSTR; null stands for the empty text.
class bstr_holder {
public:
    bstr_holder() noexcept = default;
    explicit bstr_holder(std::wstring_view s);
    bstr_holder(const bstr_holder& other);
    bstr_holder(bstr_holder&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    bstr_holder& operator=(const bstr_holder& other);
    bstr_holder& operator=(bstr_holder&& other) noexcept;
    ~bstr_holder() { SysFreeString(p_); }

    BSTR get() const noexcept { return p_; }
    size_t size() const noexcept { return p_ ? SysStringLen(p_) : 0; }
    void assign(std::wstring_view s);

private:
    BSTR p_ = nullptr;
};

}  // namespace qv

// No behaviour depends on the kind; the two instantiations are distinct types.
template <int N>
struct ztraits {
    static constexpr int kind = N;
};

template <class Traits>
class _zstring : public zString::_buffs,
                 public zString::_save_last_error,
                 public qv::bstr_holder,
                 public zString::_restore_last_error,
                 public virtual zString::_last_error {
public:
    static constexpr size_t npos = static_cast<size_t>(-1);

    _zstring() = default;
    _zstring(const wchar_t* s) : qv::bstr_holder(s ? std::wstring_view(s) : std::wstring_view()) {}
    _zstring(const wchar_t* s, size_t count) : qv::bstr_holder(s ? std::wstring_view(s, count) : std::wstring_view()) {}
    _zstring(std::wstring_view s) : qv::bstr_holder(s) {}
    // count -1 stands for the rest of the text.
    _zstring(const _zstring& other, size_t index, size_t count = npos) : qv::bstr_holder(other.slice(index, count)) {}
    _zstring(const _zstring& other)
        : zString::_last_error(), zString::_buffs(), zString::_save_last_error(), qv::bstr_holder(other),
          zString::_restore_last_error()
    {
    }
    _zstring(_zstring&& other) noexcept
        : zString::_last_error(), zString::_buffs(), zString::_save_last_error(), qv::bstr_holder(std::move(other)),
          zString::_restore_last_error()
    {
    }
    _zstring& operator=(const _zstring& other)
    {
        const qv::last_error_keeper keep;
        qv::bstr_holder::operator=(other);
        return *this;
    }
    _zstring& operator=(_zstring&& other) noexcept
    {
        const qv::last_error_keeper keep;
        qv::bstr_holder::operator=(std::move(other));
        return *this;
    }
    _zstring& operator=(const wchar_t* s)
    {
        const qv::last_error_keeper keep;
        assign(s ? std::wstring_view(s) : std::wstring_view());
        return *this;
    }
    virtual ~_zstring() = default;

    const wchar_t* c_str() const noexcept { return get() ? get() : L""; }
    size_t length() const noexcept { return size(); }
    bool empty() const noexcept { return size() == 0; }
    std::wstring_view view() const noexcept { return {c_str(), size()}; }
    BSTR bstr() const noexcept { return get(); }
    const char* narrow() const
    {
        const qv::last_error_keeper keep;
        return zString::_buffs::narrow(view());
    }

    _zstring& operator+=(std::wstring_view s)
    {
        const qv::last_error_keeper keep;
        std::wstring joined(view());
        joined.append(s);
        assign(joined);
        return *this;
    }

    // The first index at or after `start` where the needle compares equal without regard to
    // case in the system locale; -1 when the text is empty or nothing matches.
    size_t find_nocase(const wchar_t* needle, size_t length, size_t start = 0) const
    {
        const qv::last_error_keeper keep;
        const size_t size = this->size();
        if (!get() || !needle || length > size) return npos;
        for (size_t i = start; i + length <= size; ++i)
            if (CompareStringW(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, get() + i, static_cast<int>(length), needle,
                    static_cast<int>(length)) == CSTR_EQUAL)
                return i;
        return npos;
    }

    // \\server\share of a UNC path; of a URL, its host, with `whole` from the start of the
    // text; "X:" of a drive path; else empty.
    std::wstring path_root(bool whole = false) const
    {
        const qv::last_error_keeper keep;
        const std::wstring_view s = view();
        if (s.size() >= 2 && qv::text::is_separator(s[0]) && qv::text::is_separator(s[1]))
            return std::wstring(s.substr(0, qv::text::unc_root_length(s)));
        const size_t mark = s.find(L"://");
        if (mark != std::wstring_view::npos) {
            const size_t host = mark + 3;
            size_t end = s.find_first_of(L"\\/", host);
            if (end == std::wstring_view::npos) end = s.size();
            return whole ? std::wstring(s.substr(0, end)) : std::wstring(s.substr(host, end - host));
        }
        if (s.size() >= 2 && s[1] == L':') return std::wstring(s.substr(0, 2));
        return {};
    }

protected:
    std::wstring_view slice(size_t index, size_t count) const
    {
        const std::wstring_view s = view();
        if (index > s.size()) throw std::out_of_range("invalid string position");
        return s.substr(index, count);
    }
};

class zpath : public _zstring<ztraits<1>> {
public:
    // A piece of another string, standing for `count` characters from `start`.
    class _substr_ref : public _zstring<ztraits<1>> {
    public:
        _substr_ref(const _zstring<ztraits<1>>& source, size_t start, size_t count = npos)
            : _zstring<ztraits<1>>(source, start, count), source_(&source), start_(start), count_(size())
        {
        }
        const _zstring<ztraits<1>>& source() const noexcept { return *source_; }
        size_t start() const noexcept { return start_; }
        size_t count() const noexcept { return count_; }

    private:
        const _zstring<ztraits<1>>* source_;
        size_t start_;
        size_t count_;
    };

    zpath() = default;
    zpath(const wchar_t* s) : _zstring(s) {}
    zpath(std::wstring_view s) : _zstring(s) {}
    zpath(const zString& s) : _zstring(s.view()) {}
    zpath(const _zstring<ztraits<1>>& other, size_t index, size_t count = npos) : _zstring(other, index, count) {}
    zpath(const _substr_ref& piece) : _zstring(piece.view()) {}
    zpath(const zpath&) = default;
    zpath(zpath&&) noexcept = default;
    zpath& operator=(const zpath&) = default;
    zpath& operator=(zpath&&) noexcept = default;
    zpath& operator=(const wchar_t* s)
    {
        _zstring::operator=(s);
        return *this;
    }

    _substr_ref substr_ref(size_t start, size_t count = npos) const
    {
        const qv::last_error_keeper keep;
        return _substr_ref(*this, start, count);
    }
    zString to_zstring() const
    {
        const qv::last_error_keeper keep;
        return zString(view());
    }

    zpath add_backslash() const;
    zpath remove_backslash() const;
    zpath& append_path(const wchar_t* part);
    zpath& join_path(const wchar_t* part);
    zpath combine_path(const wchar_t* part) const;
    zpath folder_part(bool keep_trailing = false, bool strip_root = false) const;
    zpath file_name_part(bool drop_extension = false) const;
    zpath last_component() const;
    zpath extension_part() const;
    zpath& replace_extension(const wchar_t* extension);
    zpath base_name() const;
    zpath parent_folder() const;
    bool has_absolute_form() const;
    bool has_drive_root() const;
};

extern template class _zstring<ztraits<0>>;
extern template class _zstring<ztraits<1>>;
