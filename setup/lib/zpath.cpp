#include "zpath.h"

#include <new>

namespace qv {

namespace {
BSTR allocated(std::wstring_view s)
{
    if (s.empty()) return nullptr;
    BSTR p = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    if (!p) throw std::bad_alloc();
    return p;
}
}  // namespace

bstr_holder::bstr_holder(std::wstring_view s) : p_(allocated(s)) {}

bstr_holder::bstr_holder(const bstr_holder& other) : p_(allocated({other.p_ ? other.p_ : L"", other.size()})) {}

bstr_holder& bstr_holder::operator=(const bstr_holder& other)
{
    if (this != &other) assign({other.p_ ? other.p_ : L"", other.size()});
    return *this;
}

bstr_holder& bstr_holder::operator=(bstr_holder&& other) noexcept
{
    if (this != &other) {
        SysFreeString(p_);
        p_ = other.p_;
        other.p_ = nullptr;
    }
    return *this;
}

void bstr_holder::assign(std::wstring_view s)
{
    BSTR fresh = allocated(s);
    SysFreeString(p_);
    p_ = fresh;
}

}  // namespace qv

template class _zstring<ztraits<0>>;
template class _zstring<ztraits<1>>;

namespace text = qv::text;
using qv::last_error_keeper;

zpath zpath::add_backslash() const
{
    const last_error_keeper keep;
    return zpath(std::wstring_view(text::add_backslash(view())));
}

zpath zpath::remove_backslash() const
{
    const last_error_keeper keep;
    return zpath(text::remove_backslash(view()));
}

zpath& zpath::append_path(const wchar_t* part)
{
    const last_error_keeper keep;
    assign(text::append_path(view(), part ? part : L""));
    return *this;
}

zpath& zpath::join_path(const wchar_t* part)
{
    const last_error_keeper keep;
    assign(text::join_path(view(), part ? part : L""));
    return *this;
}

zpath zpath::combine_path(const wchar_t* part) const
{
    const last_error_keeper keep;
    return zpath(std::wstring_view(text::join_path(view(), part ? part : L"")));
}

zpath zpath::folder_part(bool keep_trailing, bool strip_root) const
{
    const last_error_keeper keep;
    return zpath(std::wstring_view(text::folder_part(view(), keep_trailing, strip_root)));
}

zpath zpath::file_name_part(bool drop_extension) const
{
    const last_error_keeper keep;
    return zpath(text::file_name_part(view(), drop_extension));
}

zpath zpath::last_component() const
{
    const last_error_keeper keep;
    return zpath(text::last_component(view()));
}

zpath zpath::extension_part() const
{
    const last_error_keeper keep;
    return zpath(text::extension_part(view()));
}

zpath& zpath::replace_extension(const wchar_t* extension)
{
    const last_error_keeper keep;
    assign(text::replace_extension(view(), extension ? extension : L""));
    return *this;
}

zpath zpath::base_name() const
{
    const last_error_keeper keep;
    return zpath(text::file_name_part(view(), true));
}

zpath zpath::parent_folder() const
{
    const last_error_keeper keep;
    return zpath(text::parent_folder(view()));
}

bool zpath::has_absolute_form() const
{
    const last_error_keeper keep;
    return text::has_absolute_form(view());
}

bool zpath::has_drive_root() const
{
    const last_error_keeper keep;
    return text::has_drive_root(view());
}
