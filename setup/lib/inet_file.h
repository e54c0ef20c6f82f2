// Reading http(s) addresses with WinINet in asynchronous mode, behind a seekable, sized
// file. The caller's thread waits for each step while it dispatches its window messages;
// WinINet's threads only store results and signal events.
#pragma once

#include "handle.h"
#include "zString.h"

#include <windows.h>
#include <wininet.h>

#include <memory>
#include <vector>

namespace qv {

struct ISetupTransferEvents;

struct internet_handle_traits {
    using type = HINTERNET;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { InternetCloseHandle(h); }
};
using internet_handle = handle<internet_handle_traits>;

// The WinINet calls that open a request, in front of the real ones so that a test can make
// them refuse a flag the way some servers' stacks do.
struct wininet_calls {
    HINTERNET(WINAPI* open_url)(HINTERNET, LPCWSTR, LPCWSTR, DWORD, DWORD, DWORD_PTR) = InternetOpenUrlW;
    HINTERNET(WINAPI* open_request)(HINTERNET, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR*, DWORD, DWORD_PTR)
        = HttpOpenRequestW;
    BOOL(WINAPI* send_request)(HINTERNET, LPCWSTR, DWORD, LPVOID, DWORD) = HttpSendRequestW;
};
wininet_calls& wininet();

// Errors of the transfer classes beyond WinINet's own.
inline constexpr DWORD http_status_error_base = 0x80040000;
inline constexpr DWORD http_status_error(DWORD status) { return http_status_error_base | (status + 54208); }

// One WinINet handle with its completion event. Heap objects, counted: WinINet
// holds a reference for each handle it created for us until it announces the handle's
// closing, so a late callback never meets a freed object.
class wininet_async_handle {
public:
    explicit wininet_async_handle(DWORD timeout = 30000);
    wininet_async_handle(const wininet_async_handle&) = delete;
    wininet_async_handle& operator=(const wininet_async_handle&) = delete;

    virtual ULONG add_ref() noexcept;
    // The last release by its owners closes the handle.
    virtual ULONG release() noexcept;
    // Completes the call whose own result is `call_succeeded`: a call that failed with
    // ERROR_IO_PENDING is waited for until the time-out, window messages pumped meanwhile.
    virtual bool wait(bool call_succeeded, bool close_on_timeout = true);

protected:
    virtual ~wininet_async_handle();

public:
    virtual bool query() const { return false; }
    virtual DWORD seek(LONG distance, DWORD method);
    virtual DWORD size();
    virtual bool last_modified(FILETIME& time);
    virtual void hook() {}
    virtual DWORD error_dialog(DWORD error);
    virtual bool check_status() { return true; }
    virtual bool open_request() { return false; }

    HINTERNET get() const noexcept { return handle_; }
    DWORD last_error() const noexcept { return error_; }
    DWORD timeout() const noexcept { return timeout_; }
    void set_timeout(DWORD ms) noexcept { timeout_ = ms; }
    // The server's own text of the last extended error, empty when none came.
    const wchar_t* extended_error_text() const noexcept { return extended_ ? extended_.get() : L""; }
    DWORD extended_error() const noexcept { return extendedError_; }

    // Closes the handle. WinINet's reference keeps this object until the handle's closing
    // notice, and notices for a closed handle are no longer taken for the current call.
    void close() noexcept;
    // Takes a handle that a call gave back (WinINet may also announce it first).
    void adopt(HINTERNET h) noexcept;

    static void CALLBACK status_callback(HINTERNET h, DWORD_PTR context, DWORD status, LPVOID info, DWORD length);

protected:
    void set_error(DWORD error) noexcept;

    HINTERNET handle_ = nullptr;
    DWORD error_ = 0;
    kernel_handle complete_;
    DWORD timeout_;
    std::unique_ptr<wchar_t[]> extended_;
    DWORD extendedSize_ = 0;
    DWORD extendedError_ = 0;
    bool timedOut_ = false;  // the last wait gave up on a call that may still complete

private:
    void on_status(HINTERNET h, DWORD status, void* info, DWORD length);
    void drop_reference() noexcept;

    CRITICAL_SECTION lock_;
    LONG refs_ = 1;    // owners and WinINet together
    LONG owners_ = 1;
    std::vector<HINTERNET> closing_;  // closed, their closing notice still to come
};

// The session handle, shared by copies; the last copy closes it.
class inet_session {
public:
    inet_session() noexcept = default;
    inet_session(const inet_session& other) noexcept;
    inet_session& operator=(const inet_session& other) noexcept;
    ~inet_session();

    bool open(const wchar_t* agent, DWORD access, const wchar_t* proxy, const wchar_t* bypass, DWORD flags);
    void close() noexcept;
    HINTERNET get() const noexcept { return shared_ ? shared_->handle.get() : nullptr; }
    DWORD_PTR context() const noexcept { return shared_ ? shared_->context : 0; }

private:
    struct shared {
        internet_handle handle;
        LONG refs;
        DWORD_PTR context;
    };
    shared* shared_ = nullptr;
};

class inet_file : public wininet_async_handle {
public:
    static constexpr int default_retry_limit = 3;

    inet_file(const inet_session& session, DWORD timeout);

    bool open(const wchar_t* url, const wchar_t* headers, DWORD flags);
    // Reads up to `count` bytes; fewer only at the end of the data.
    bool read(void* buffer, DWORD count, DWORD& bytes_read);
    DWORD seek(LONG distance, DWORD method) override;
    DWORD size() override;
    bool last_modified(FILETIME& time) override;
    DWORD error_dialog(DWORD error) override;
    bool open_request() override;

    // Option 0: the retry limit (negative: no reads at all); option 1: a second limit kept
    // for callers. Any other option is refused.
    bool set_option(int option, LONG value) noexcept;
    void set_owner(HWND owner) noexcept { owner_ = owner; }
    void set_transfer_events(ISetupTransferEvents* events) noexcept { events_ = events; }
    // SECURITY_FLAG_* for every https request of this file.
    void set_security_flags(DWORD flags) noexcept { securityFlags_ = flags; }

    DWORD position() const noexcept { return position_; }
    const zString& url() const noexcept { return url_; }
    // Bytes per second over the measuring window; the size of the next read.
    DWORD rate() const noexcept { return measured_rate(windowBytes_, windowMs_); }
    DWORD chunk_size(DWORD left) const noexcept { return next_chunk(windowBytes_, windowMs_, left); }
    static DWORD measured_rate(DWORD bytes, DWORD ms) noexcept;
    static DWORD next_chunk(DWORD window_bytes, DWORD window_ms, DWORD left) noexcept;

    // FTP listing of the address's path: whether the first search found an entry.
    bool ftp_find(const wchar_t* url);
    bool ftp_last_write(const wchar_t* url, FILETIME& time);
    DWORD ftp_size(const wchar_t* url);  // -1 when nothing was found

protected:
    ~inet_file() override;

    bool send_request();
    bool read_pass(BYTE* buffer, DWORD count, DWORD& done);
    void close_request() noexcept;
    void add_time(LONGLONG start) noexcept;
    LONGLONG now() const noexcept;
    bool answerable(DWORD error) const noexcept;
    void accept_certificate(DWORD error) noexcept;

    inet_session session_;
    wininet_async_handle* connection_ = nullptr;
    zString connectedHost_;
    zString url_;
    zString headers_;
    DWORD flags_ = 0;
    DWORD start_ = 0;
    DWORD position_ = 0;
    DWORD expectedEnd_ = 0;  // where the data of the open request ends; 0 when unknown
    bool sent_ = false;
    // The measuring window and what was gathered since it began.
    DWORD windowBytes_ = 0;
    DWORD windowMs_ = 0;
    DWORD sinceBytes_ = 0;
    DWORD sinceMs_ = 0;
    LONGLONG remainder_ = 0;
    DWORD windowStart_ = 0;
    LONG retryLimit_ = default_retry_limit;
    LONG secondLimit_ = 0;
    HWND owner_ = nullptr;
    ISetupTransferEvents* events_ = nullptr;
    DWORD securityFlags_ = 0;
    bool highResolution_ = false;
    LONGLONG frequency_ = 0;
    // WinINet writes an asynchronous read's count and bytes here, never into a caller's
    // memory. A read that timed out may still complete: its block is kept until this
    // object goes, which is after WinINet let go of every handle.
    struct read_block {
        DWORD count;
        BYTE data[1];
    };
    read_block* staging();
    std::unique_ptr<BYTE[]> staging_;
    DWORD stagingSize_ = 0;
    std::vector<std::unique_ptr<BYTE[]>> abandoned_;
};

class http_file : public inet_file {
public:
    http_file(const wchar_t* agent, DWORD timeout);

    bool open(const wchar_t* url, const wchar_t* headers = nullptr, DWORD flags = 0x80400100);
    bool wait(bool call_succeeded, bool close_on_timeout = true) override;
    bool check_status() override;
    bool status() { return check_status(); }

private:
    zString agent_;
};

// Owners' references to a transfer object, released when the holder goes.
struct async_handle_releaser {
    void operator()(wininet_async_handle* p) const noexcept { p->release(); }
};
using http_file_ptr = std::unique_ptr<http_file, async_handle_releaser>;

// Compares `count` bytes of an address's body at `offset` with `expected`: 1 equal, 0
// different, 255 when the address cannot be opened or read.
int CompareUrlContent(const wchar_t* url, DWORD offset, DWORD count, const wchar_t* expected);

}  // namespace qv
