#include "version_info.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace qv {

// The block GetFileVersionInfoW filled and its translation table, owned together so that
// copies share both and the last one frees both.
struct version_info::block {
    volatile LONG count = 1;
    std::vector<unsigned char> data;
    std::vector<translation> translations;
};

version_info::version_info() noexcept : fixed_{} {}

version_info::version_info(const version_info& other) noexcept : fixed_(other.fixed_), block_(other.block_)
{
    if (block_) InterlockedIncrement(&block_->count);
}

version_info& version_info::operator=(const version_info& other) noexcept
{
    if (block_ != other.block_) {
        if (other.block_) InterlockedIncrement(&other.block_->count);
        release();
        block_ = other.block_;
    }
    fixed_ = other.fixed_;
    return *this;
}

version_info::~version_info() { release(); }

void version_info::release() noexcept
{
    if (block_ && InterlockedDecrement(&block_->count) == 0) delete block_;
    block_ = nullptr;
}

bool version_info::load(const wchar_t* path)
{
    release();
    fixed_ = VS_FIXEDFILEINFO{};
    if (!path) return false;
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &handle);
    if (size == 0) return false;
    block* loaded = new (std::nothrow) block;
    if (!loaded) return false;
    try {
        loaded->data.resize(size);
    } catch (const std::bad_alloc&) {
        delete loaded;
        return false;
    }
    void* fixed = nullptr;
    UINT fixedSize = 0;
    if (!GetFileVersionInfoW(path, 0, size, loaded->data.data())
        || !VerQueryValueW(loaded->data.data(), L"\\", &fixed, &fixedSize) || !fixed || fixedSize < sizeof fixed_) {
        delete loaded;
        return false;
    }
    std::memcpy(&fixed_, fixed, sizeof fixed_);
    void* pairs = nullptr;
    UINT pairsSize = 0;
    if (VerQueryValueW(loaded->data.data(), L"\\VarFileInfo\\Translation", &pairs, &pairsSize) && pairs) {
        const size_t count = pairsSize / sizeof(translation);
        const auto* first = static_cast<const translation*>(pairs);
        loaded->translations.assign(first, first + count);
    }
    block_ = loaded;
    return true;
}

const wchar_t* version_info::value(const wchar_t* name) const
{
    if (!block_ || !name) return nullptr;
    void* found = nullptr;
    UINT length = 0;
    if (VerQueryValueW(block_->data.data(), name, &found, &length) && found) return static_cast<const wchar_t*>(found);
    for (const translation& t : block_->translations) {
        wchar_t path[260];
        const int prefix = _snwprintf(path, 260, L"\\StringFileInfo\\%04hX%04hX\\", t.language, t.codepage);
        if (prefix < 0 || wcslen(name) >= 260u - static_cast<size_t>(prefix)) continue;
        wcscpy(path + prefix, name);
        if (VerQueryValueW(block_->data.data(), path, &found, &length) && found) return static_cast<const wchar_t*>(found);
    }
    return nullptr;
}

bool version_info::set_version(const wchar_t* text)
{
    WORD parts[4] = {};
    const std::vector<zString> pieces = zString(text).split(L".");
    for (size_t i = 0; i < pieces.size() && i < 4; ++i) parts[i] = static_cast<WORD>(_wtol(pieces[i].c_str()));
    return set_version(parts[0], parts[1], parts[2], parts[3]);
}

bool version_info::set_version(WORD major, WORD minor, WORD build, WORD revision)
{
    fixed_.dwFileVersionMS = static_cast<DWORD>(major) << 16 | minor;
    fixed_.dwFileVersionLS = static_cast<DWORD>(build) << 16 | revision;
    return true;
}

size_t version_info::translation_count() const noexcept { return block_ ? block_->translations.size() : 0; }

version_info::translation version_info::translation_at(size_t index) const noexcept
{
    return block_ && index < block_->translations.size() ? block_->translations[index] : translation{0, 0};
}

}  // namespace qv
