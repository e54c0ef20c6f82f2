// setup's one file object: a file on disk, or the body of an http(s) address read through
// qv::http_file. Copies share the handle; the last copy closes it. Every failure except a
// failed open is an exception that names the file.
#pragma once

#include "zString.h"
#include "zpath.h"

#include <windows.h>

#include <memory>

namespace qv {

class http_file;
struct ISetupTransferEvents;

class file {
public:
    // One record is asked for by a count of this value.
    static constexpr DWORD one = static_cast<DWORD>(-1);

    file() noexcept;
    file(const file& other) noexcept;
    file& operator=(const file& other);
    virtual ~file();  // closes; never throws

    // 0 or the Win32 error; an http(s) address ignores the disk arguments.
    DWORD open(const zString& path, DWORD access, DWORD share = FILE_SHARE_READ,
               DWORD flags_and_attributes = FILE_ATTRIBUTE_NORMAL, DWORD disposition = OPEN_EXISTING,
               LPSECURITY_ATTRIBUTES security = nullptr, HANDLE template_file = nullptr);
    void close();

    DWORD seek(LONG distance, DWORD method, LONG* high = nullptr);
    DWORD size(DWORD* high = nullptr);
    DWORD read(void* buffer, DWORD count);
    DWORD write(const void* buffer, DWORD count);

    // Reads and writes of fixed-size records; a count of `one` is one record. Answer bytes.
    template <DWORD RecordSize>
    DWORD read_records(void* records, DWORD count = one)
    {
        return read(records, record_bytes(RecordSize, count));
    }
    template <DWORD RecordSize>
    DWORD write_records(const void* records, DWORD count = one)
    {
        return write(records, record_bytes(RecordSize, count));
    }

    DWORD write_bom();
    DWORD write_text(const zString& text);
    // The whole file from its start, followed by two zero bytes; the byte count.
    DWORD read_all(std::unique_ptr<unsigned char[]>& out);
    // The whole file as text in its code page, without its mark. False when bytes that are
    // there give no text at all (a code page Windows does not know), so that no caller
    // takes such a file for an empty one.
    bool read_text(zString& out);
    bool set_code_page(UINT code_page);
    // Whether write_bom writes a mark: a file opened for writing has found none to keep.
    void set_bom(bool bom) noexcept { bom_ = bom; }

    UINT code_page() const noexcept { return codePage_; }
    bool has_bom() const noexcept { return bom_; }
    bool is_open() const noexcept { return internet_ != nullptr || handle_ != INVALID_HANDLE_VALUE; }
    bool is_internet() const noexcept { return internet_ != nullptr; }
    HANDLE native_handle() const noexcept { return handle_; }
    const zString& path() const noexcept { return path_; }
    void set_transfer_events(ISetupTransferEvents* events) noexcept { events_ = events; }
    http_file* internet_file() const noexcept { return internet_; }

private:
    static DWORD record_bytes(DWORD record_size, DWORD count);
    void detect_encoding();
    void share(const file& other) noexcept;
    void release_share() noexcept;
    [[noreturn]] void fail() const;

    http_file* internet_;
    HANDLE handle_;
    zString path_;
    LONG* shared_;
    ISetupTransferEvents* events_;
    UINT codePage_;
    bool bom_;
};

// The small sibling: the same disk or address split, results in place of exceptions.
class file_lite {
public:
    file_lite() noexcept = default;
    file_lite(const file_lite&) = delete;
    file_lite& operator=(const file_lite&) = delete;
    ~file_lite();

    bool open_read(const wchar_t* path);
    bool open_write(const wchar_t* path, DWORD disposition);
    int read(void* buffer, DWORD count);
    int write(const void* buffer, DWORD count);
    void seek(LONG distance, DWORD method);
    void close() noexcept;
    bool is_open() const noexcept { return internet_ != nullptr || handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    http_file* internet_ = nullptr;
    _zstring<ztraits<0>> path_;
};

// Whether a path names an address that qv::file reads through the internet file.
bool is_internet_path(std::wstring_view path) noexcept;

}  // namespace qv
