// One INI file held in memory: sections in the order they were first read or added, each a
// list of keys and values in the same order; names and keys compare without regard to case.
// The file is read whole and written back whole, in the code page it was read with. Failures
// are results; only a read or write error after a successful open leaves by qv::file_exception.
#pragma once

#include "vector_map.h"
#include "zString.h"

#include <windows.h>

#include <vector>

namespace qv {

using stringi = _stringx<char_traitsi>;

class inifileentryx {
public:
    inifileentryx() = default;
    inifileentryx(const zString& value) : value(value) {}

    zString value;  // empty when the line had no separator
};

class inifilesectionx : public vector_map_i<inifileentryx, stringi> {
public:
    inifilesectionx() = default;
    inifilesectionx(const inifilesectionx&) = default;
    inifilesectionx& operator=(const inifilesectionx&) = default;
    virtual ~inifilesectionx() = default;
};

class inifilex : public vector_map_i<inifilesectionx, stringi> {
public:
    // inifilex::save's options.
    enum : unsigned {
        save_sorted = 1,            // sort the sections first
        save_nothing_when_empty = 2,  // no sections: write nothing and succeed
        save_code_page = 4,         // take the code page and mark arguments
    };

    inifilex() = default;
    virtual ~inifilex() = default;  // never writes the file

    virtual void attach(const zString& path, const zString& separator);
    virtual bool load(const zString& path, const zString& separator, bool bare_key);
    virtual bool save_as_loaded(unsigned options, int code_page, bool bom);
    virtual bool save(const zString& path, unsigned options, int code_page, bool bom);
    virtual void set_separator(const zString& separator);
    virtual zString get_separator() const;
    virtual zString get_path() const;
    virtual void merge_section(const zString& section, const inifilesectionx& source);
    // Each section of the source goes under format(format_text, prefix, its name).
    virtual void merge_file(const inifilex& source, const zString& prefix, const zString& format_text);
    virtual void add_section(const zString& section);
    virtual bool move_key(const zString& section, const zString& key, const zString& after_key);
    virtual zString get_string(const zString& section, const zString& key, const zString& default_value) const;
    virtual void set_string(const zString& section, const zString& key, const zString& value);
    virtual int get_int(const zString& section, const zString& key, int default_value) const;
    virtual void set_int(const zString& section, const zString& key, int value);
    virtual bool get_bool(const zString& section, const zString& key, bool default_value) const;
    virtual void set_bool(const zString& section, const zString& key, bool value);
    virtual bool get_modified() const;
    virtual void set_modified(bool modified);
    virtual bool section_exists(const zString& section) const;
    virtual bool key_exists(const zString& section, const zString& key) const;
    virtual void get_keys(const zString& section, std::vector<zString>& out) const;
    virtual void get_sections(std::vector<zString>& out) const;
    // The list's whole length afterwards.
    virtual size_t find_sections(std::vector<zString>& out, const zString& prefix) const;
    // pattern is printf-style with one number, as "File%d".
    virtual void get_numbered_values(const zString& section, const zString& pattern, std::vector<zString>& out) const;
    virtual bool rename_section(const zString& old_name, const zString& new_name);
    virtual bool rename_key(const zString& section, const zString& old_key, const zString& new_key);
    virtual void rename_sections_by_prefix(const zString& prefix, const zString& replacement);
    virtual bool delete_section(const zString& section);
    virtual bool delete_key(const zString& section, const zString& key);
    virtual bool clear_section(const zString& section);
    virtual void clear();
    virtual void delete_sections_by_prefix(const zString& prefix);
    virtual void sort_all();
    virtual void sort_sections();
    virtual void sort_all_entries();
    virtual void sort_entries(inifilesectionx& section);
    virtual void sort_section_entries(const zString& section);
    virtual void set_code_page(int code_page);
    virtual bool set_bom(bool bom);
    virtual DWORD last_error() const;
    virtual zString last_error_path() const;

    int code_page() const noexcept { return codePage_; }
    bool bom() const noexcept { return bom_; }
    bool bare_key() const noexcept { return bareKey_; }
    // Set by a load that did not read the whole of an existing file; saves are refused until
    // a load succeeds or clear() starts afresh, so the lines it never read are never lost.
    bool save_refused() const noexcept { return incomplete_; }

private:
    inifilesectionx& section_for(const zString& section);
    const inifileentryx* entry(const zString& section, const zString& key) const;
    bool parse(std::wstring_view text);
    zString saved_text() const;
    bool write_file(const zString& path);

    zString path_;
    bool bareKey_ = false;
    bool modified_ = false;
    zString separator_ = L"=";
    bool saving_ = false;
    int codePage_ = -1;
    bool bom_ = false;
    DWORD lastError_ = 0;
    zString lastErrorPath_;
    bool incomplete_ = false;
};

// The lines of a text: CR LF, a lone CR and a lone LF each end one; text after the last
// break is one more line.
std::vector<std::wstring_view> split_ini_lines(std::wstring_view text);

}  // namespace qv
