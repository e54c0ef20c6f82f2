// The version resource of a file: its fixed information, its translations and its string
// values; and dotted version texts in the same 64-bit form, so that versions from files and
// from settings compare alike.
#pragma once

#include "zString.h"

namespace qv {

class version_info {
public:
    struct translation {
        WORD language;
        WORD codepage;
    };

    version_info() noexcept;
    version_info(const version_info& other) noexcept;  // shares the loaded block
    version_info& operator=(const version_info& other) noexcept;
    virtual ~version_info();

    // True when the version block and its fixed information were read.
    bool load(const wchar_t* path);
    bool load(const zString& path) { return load(path.c_str()); }
    // A string value inside the block: the name as given (a whole "\StringFileInfo\..."
    // path works), else under each translation in turn; null when none has it.
    const wchar_t* value(const wchar_t* name) const;

    bool set_version(const wchar_t* text);  // up to four dotted numbers
    bool set_version(WORD major, WORD minor, WORD build, WORD revision);

    const VS_FIXEDFILEINFO& fixed() const noexcept { return fixed_; }
    DWORD version_ms() const noexcept { return fixed_.dwFileVersionMS; }
    DWORD version_ls() const noexcept { return fixed_.dwFileVersionLS; }
    unsigned long long version() const noexcept
    {
        return static_cast<unsigned long long>(fixed_.dwFileVersionMS) << 32 | fixed_.dwFileVersionLS;
    }
    WORD major() const noexcept { return HIWORD(fixed_.dwFileVersionMS); }
    WORD minor() const noexcept { return LOWORD(fixed_.dwFileVersionMS); }
    WORD build() const noexcept { return HIWORD(fixed_.dwFileVersionLS); }
    WORD revision() const noexcept { return LOWORD(fixed_.dwFileVersionLS); }
    size_t translation_count() const noexcept;
    translation translation_at(size_t index) const noexcept;

private:
    struct block;
    void release() noexcept;

    VS_FIXEDFILEINFO fixed_;
    block* block_ = nullptr;  // the version block and its translations, shared by copies
};

}  // namespace qv
