#include "inet_file.h"

#include "ISetupTransferEvents.h"
#include "critical_section.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <utility>

namespace qv {

namespace {

constexpr int dialog_answer_bound = 3;        // how often one request may be answered "retry"
constexpr DWORD staging_limit = 256 * 1024;
constexpr DWORD first_chunk = 1500;
constexpr DWORD window_ms = 30000;
constexpr DWORD rate_paced_after_ms = 10000;
constexpr DWORD chunk_seconds_of_rate = 15;

// Waits for one handle while dispatching this thread's window messages, until `deadline`
// (GetTickCount64): messages never move the deadline. WM_QUIT is put back afterwards.
DWORD pumping_wait(HANDLE h, ULONGLONG deadline)
{
    bool quit = false;
    WPARAM quitCode = 0;
    DWORD result = WAIT_TIMEOUT;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const DWORD remaining = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        result = MsgWaitForMultipleObjects(1, &h, FALSE, remaining, QS_ALLINPUT);
        if (result != WAIT_OBJECT_0 + 1) break;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                quitCode = msg.wParam;
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (remaining == 0) {
            // The deadline passed while messages kept coming: one last look at the handle.
            result = WaitForSingleObject(h, 0);
            break;
        }
    }
    if (quit) PostQuitMessage(static_cast<int>(quitCode));
    return result;
}

bool is_certificate_error(DWORD error)
{
    switch (error) {
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_INVALID_CERT:
        return true;
    default:
        return false;
    }
}

DWORD certificate_ignore_flags(DWORD error)
{
    switch (error) {
    case ERROR_INTERNET_INVALID_CA: return SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID: return SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
    case ERROR_INTERNET_SEC_CERT_CN_INVALID: return SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
    case ERROR_INTERNET_SEC_CERT_REV_FAILED: return SECURITY_FLAG_IGNORE_REVOCATION;
    default:
        return SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID
            | SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_WRONG_USAGE;
    }
}

// The connection broke off: what is left can be asked for again from where it stopped.
bool is_resumable(DWORD error)
{
    return error == ERROR_INTERNET_CONNECTION_ABORTED || error == ERROR_INTERNET_CONNECTION_RESET
        || error == ERROR_HTTP_INVALID_SERVER_RESPONSE;
}

// An address in its parts; `object` is the path with its extra information.
struct url_parts {
    INTERNET_SCHEME scheme = INTERNET_SCHEME_UNKNOWN;
    INTERNET_PORT port = 0;
    std::wstring host, user, password, object;
};

bool crack_url(const wchar_t* url, url_parts& out)
{
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUserNameLength = parts.dwPasswordLength = 1;
    parts.dwUrlPathLength = parts.dwExtraInfoLength = 1;
    if (!InternetCrackUrlW(url, 0, 0, &parts)) return false;
    const auto text = [](const wchar_t* p, DWORD length) { return p ? std::wstring(p, length) : std::wstring(); };
    out.scheme = parts.nScheme;
    out.port = parts.nPort;
    out.host = text(parts.lpszHostName, parts.dwHostNameLength);
    out.user = text(parts.lpszUserName, parts.dwUserNameLength);
    out.password = text(parts.lpszPassword, parts.dwPasswordLength);
    out.object = text(parts.lpszUrlPath, parts.dwUrlPathLength) + text(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    return true;
}

const wchar_t* or_null(const std::wstring& s)
{
    return s.empty() ? nullptr : s.c_str();
}

void add_security_flags(HINTERNET request, DWORD flags) noexcept
{
    DWORD current = 0, size = sizeof current;
    InternetQueryOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &current, &size);
    current |= flags;
    InternetSetOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &current, sizeof current);
}

// The system's dialog for a transfer error: cancelled, or try again.
DWORD system_error_dialog(HWND owner, HINTERNET request, DWORD error)
{
    const last_error_keeper keep;
    const DWORD answer = InternetErrorDlg(owner ? owner : GetDesktopWindow(), request, error, 7, nullptr);
    return answer == ERROR_CANCELLED ? ERROR_CANCELLED : ERROR_INTERNET_FORCE_RETRY;
}

}  // namespace

wininet_calls& wininet()
{
    static wininet_calls calls;
    return calls;
}

// --- wininet_async_handle ---

wininet_async_handle::wininet_async_handle(DWORD timeout)
    : complete_(CreateEventW(nullptr, FALSE, FALSE, nullptr)), timeout_(timeout)
{
    InitializeCriticalSection(&lock_);
}

wininet_async_handle::~wininet_async_handle()
{
    DeleteCriticalSection(&lock_);
}

ULONG wininet_async_handle::add_ref() noexcept
{
    InterlockedIncrement(&owners_);
    return static_cast<ULONG>(InterlockedIncrement(&refs_));
}

ULONG wininet_async_handle::release() noexcept
{
    const LONG owners = InterlockedDecrement(&owners_);
    if (owners == 0) close();
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

void wininet_async_handle::drop_reference() noexcept
{
    if (InterlockedDecrement(&refs_) == 0) delete this;
}

void wininet_async_handle::adopt(HINTERNET h) noexcept
{
    critical_section_lock hold(lock_);
    if (!handle_) handle_ = h;
}

void wininet_async_handle::set_error(DWORD error) noexcept
{
    error_ = error;
    SetLastError(error);
}

void wininet_async_handle::close() noexcept
{
    HINTERNET h;
    {
        critical_section_lock hold(lock_);
        h = std::exchange(handle_, nullptr);
        if (!h) return;
        closing_.push_back(h);
    }
    const last_error_keeper keep;
    InternetCloseHandle(h);
}

void CALLBACK wininet_async_handle::status_callback(HINTERNET h, DWORD_PTR context, DWORD status, LPVOID info, DWORD length)
{
    if (!context) return;
    reinterpret_cast<wininet_async_handle*>(context)->on_status(h, status, info, length);
}

void wininet_async_handle::on_status(HINTERNET h, DWORD status, void* info, DWORD length)
{
    switch (status) {
    case INTERNET_STATUS_HANDLE_CREATED: {
        InterlockedIncrement(&refs_);  // WinINet's, until the closing notice
        const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
        critical_section_lock hold(lock_);
        if (!handle_ && result && length >= sizeof(DWORD_PTR)) handle_ = reinterpret_cast<HINTERNET>(result->dwResult);
        break;
    }
    case INTERNET_STATUS_HANDLE_CLOSING: {
        {
            critical_section_lock hold(lock_);
            const auto closed = std::find(closing_.begin(), closing_.end(), h);
            if (closed != closing_.end()) closing_.erase(closed);
        }
        drop_reference();  // may be the last: nothing of this object is touched afterwards
        break;
    }
    case INTERNET_STATUS_REQUEST_COMPLETE: {
        {
            critical_section_lock hold(lock_);
            // A notice for a handle closed meanwhile belongs to no call of ours any more.
            if (handle_ && h != handle_) break;
            if (std::find(closing_.begin(), closing_.end(), h) != closing_.end()) break;
        }
        const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
        DWORD error = 0;
        if (!result) error = ERROR_INTERNET_INTERNAL_ERROR;
        else if (result->dwResult == 0) error = result->dwError ? result->dwError : ERROR_INTERNET_INTERNAL_ERROR;
        if (result && result->dwResult != 0 && result->dwResult != 1) {
            critical_section_lock hold(lock_);
            if (!handle_) handle_ = reinterpret_cast<HINTERNET>(result->dwResult);
        }
        if (error == ERROR_INTERNET_EXTENDED_ERROR) {
            if (!extended_) {
                extendedSize_ = 1024;
                extended_.reset(new (std::nothrow) wchar_t[extendedSize_]());
            }
            if (extended_) {
                DWORD size = extendedSize_;
                if (!InternetGetLastResponseInfoW(&extendedError_, extended_.get(), &size)) extended_[0] = 0;
            }
        }
        error_ = error;
        SetEvent(complete_.get());
        break;
    }
    default:
        break;
    }
}

bool wininet_async_handle::wait(bool call_succeeded, bool close_on_timeout)
{
    timedOut_ = false;
    if (call_succeeded) {
        set_error(0);
        return true;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
        set_error(error ? error : ERROR_INTERNET_INTERNAL_ERROR);
        return false;
    }
    const DWORD result = pumping_wait(complete_.get(), GetTickCount64() + timeout_);
    if (result != WAIT_OBJECT_0) {
        timedOut_ = true;
        if (close_on_timeout) close();
        set_error(result == WAIT_TIMEOUT ? ERROR_INTERNET_TIMEOUT : GetLastError());
        return false;
    }
    set_error(error_);
    return error_ == 0;
}

DWORD wininet_async_handle::seek(LONG, DWORD)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return INVALID_SET_FILE_POINTER;
}

DWORD wininet_async_handle::size()
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return INVALID_FILE_SIZE;
}

bool wininet_async_handle::last_modified(FILETIME&)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

DWORD wininet_async_handle::error_dialog(DWORD error)
{
    return system_error_dialog(nullptr, handle_, error);
}

// --- inet_session ---

inet_session::inet_session(const inet_session& other) noexcept : shared_(other.shared_)
{
    if (shared_) InterlockedIncrement(&shared_->refs);
}

inet_session& inet_session::operator=(const inet_session& other) noexcept
{
    if (shared_ != other.shared_) {
        close();
        shared_ = other.shared_;
        if (shared_) InterlockedIncrement(&shared_->refs);
    }
    return *this;
}

inet_session::~inet_session()
{
    close();
}

void inet_session::close() noexcept
{
    shared* const s = std::exchange(shared_, nullptr);
    if (s && InterlockedDecrement(&s->refs) == 0) delete s;  // the holder closes the handle
}

bool inet_session::open(const wchar_t* agent, DWORD access, const wchar_t* proxy, const wchar_t* bypass, DWORD flags)
{
    close();
    const HINTERNET h = InternetOpenW(agent, access, proxy, bypass, flags);
    if (!h) return false;
    shared_ = new shared{internet_handle(h), 1, 0};
    return true;
}

// --- inet_file ---

inet_file::inet_file(const inet_session& session, DWORD timeout) : wininet_async_handle(timeout), session_(session)
{
    LARGE_INTEGER f;
    highResolution_ = QueryPerformanceFrequency(&f) && f.QuadPart > 0;
    frequency_ = highResolution_ ? f.QuadPart : 1000;
}

inet_file::~inet_file()
{
    close();
    if (connection_) connection_->release();
}

bool inet_file::set_option(int option, LONG value) noexcept
{
    switch (option) {
    case 0: retryLimit_ = value; return true;
    case 1: secondLimit_ = value; return true;
    default: return false;
    }
}

bool inet_file::open(const wchar_t* url, const wchar_t* headers, DWORD flags)
{
    if (InternetSetStatusCallbackW(session_.get(), status_callback) == INTERNET_INVALID_STATUS_CALLBACK) return false;
    close_request();
    windowBytes_ = windowMs_ = sinceBytes_ = sinceMs_ = 0;
    remainder_ = 0;
    windowStart_ = GetTickCount();
    start_ = position_ = 0;
    if (!connection_) connection_ = new wininet_async_handle(timeout_);
    headers_ = headers ? headers : L"";
    flags_ = flags;

    DWORD length = static_cast<DWORD>(wcslen(url)) + 20;
    std::unique_ptr<wchar_t[]> canonical;
    for (;;) {
        canonical.reset(new wchar_t[length]);
        DWORD size = length;
        if (InternetCanonicalizeUrlW(url, canonical.get(), &size, ICU_DECODE | ICU_BROWSER_MODE)) break;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
        length = size > length ? size + 1 : length * 2;
    }
    url_ = canonical.get();
    // A user name such as domain/user stands before "@": its slashes become backslashes.
    const size_t at = url_.find(L"@");
    if (at != zString::npos) {
        size_t slashes = 0, third = zString::npos;
        for (size_t i = 0; i < url_.length(); ++i)
            if (url_[i] == L'/' && ++slashes == 3) {
                third = i;
                break;
            }
        if (at < third) {
            std::wstring s(url_.view());
            slashes = 0;
            for (size_t i = 0; i < at; ++i)
                if (s[i] == L'/' && ++slashes > 2) s[i] = L'\\';
            url_ = s;
        }
    }
    return send_request();
}

bool inet_file::answerable(DWORD error) const noexcept
{
    return is_certificate_error(error) || error == ERROR_INTERNET_INCORRECT_PASSWORD
        || error == ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED || error == ERROR_INTERNET_MIXED_SECURITY
        || error == ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR || error == ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR
        || error == ERROR_INTERNET_POST_IS_NON_SECURE || error == ERROR_INTERNET_CHG_POST_IS_NON_SECURE;
}

// "Retry" to a certificate question accepts the certificate for this request, as the
// system's dialog does when it may change the request's options.
void inet_file::accept_certificate(DWORD error) noexcept
{
    if (!is_certificate_error(error) || !handle_) return;
    securityFlags_ |= certificate_ignore_flags(error);
    add_security_flags(handle_, securityFlags_);
}

bool inet_file::open_request()
{
    return sent_ || send_request();
}

bool inet_file::send_request()
{
    DWORD state = 0;
    if (!InternetGetConnectedState(&state, 0) && (state & 0x41) != 0 && !InternetAutodial(INTERNET_AUTODIAL_FORCE_UNATTENDED, owner_))
        return false;

    // Range first, then the caller's headers; positions at 2 GB and above stay unsigned.
    wchar_t range[48] = {};
    if (start_ != 0)
        swprintf(range, 48, L"Range: bytes=%lu-%ls", static_cast<unsigned long>(start_), headers_.empty() ? L"" : L"\r\n");
    std::wstring all(range);
    all.append(headers_.view());
    const wchar_t* const extra = all.empty() ? nullptr : all.c_str();
    const DWORD extraLength = all.empty() ? 0 : static_cast<DWORD>(all.size());

    url_parts parts;
    if (!crack_url(url_.c_str(), parts)) return false;
    DWORD service = 0, secure = 0;
    switch (parts.scheme) {
    case INTERNET_SCHEME_FTP: service = INTERNET_SERVICE_FTP; break;
    case INTERNET_SCHEME_GOPHER: service = INTERNET_SERVICE_GOPHER; break;
    case INTERNET_SCHEME_HTTP: service = INTERNET_SERVICE_HTTP; break;
    case INTERNET_SCHEME_HTTPS: service = INTERNET_SERVICE_HTTP, secure = INTERNET_FLAG_SECURE; break;
    default: set_error(ERROR_INTERNET_UNRECOGNIZED_SCHEME); return false;
    }

    int answers = 0;
    for (;;) {
        bool ok;
        if (handle_ && sent_) {
            ResetEvent(complete_.get());
            ok = wininet().send_request(handle_, extra, extraLength, nullptr, 0);
        } else if (secure) {
            if (connection_->get() && connectedHost_.compare_nocase(parts.host.c_str()) != 0) connection_->close();
            if (!connection_->get()) {
                const HINTERNET c = InternetConnectW(session_.get(), parts.host.c_str(), parts.port,
                    or_null(parts.user), or_null(parts.password), service, 0, reinterpret_cast<DWORD_PTR>(connection_));
                if (!c) return false;
                connection_->adopt(c);
                connectedHost_ = parts.host.c_str();
            }
            // A refused open is judged below with the other failures, the flag fallback included.
            const HINTERNET r = wininet().open_request(connection_->get(), L"GET", parts.object.c_str(), nullptr,
                nullptr, nullptr, flags_ | secure, reinterpret_cast<DWORD_PTR>(static_cast<wininet_async_handle*>(this)));
            ok = false;
            if (r) {
                adopt(r);
                if (securityFlags_) add_security_flags(r, securityFlags_);
                ResetEvent(complete_.get());
                ok = wininet().send_request(r, extra, extraLength, nullptr, 0);
            }
        } else {
            ResetEvent(complete_.get());
            const HINTERNET r = wininet().open_url(session_.get(), url_.c_str(), extra, extraLength, flags_,
                reinterpret_cast<DWORD_PTR>(static_cast<wininet_async_handle*>(this)));
            if (r) adopt(r);
            ok = r != nullptr;
        }
        if (wait(ok)) break;
        const DWORD error = error_;
        // Once: the flag is gone from the second try on.
        if (error == ERROR_INVALID_PARAMETER && (flags_ & INTERNET_FLAG_PRAGMA_NOCACHE)) {
            close();
            flags_ &= ~INTERNET_FLAG_PRAGMA_NOCACHE;
            continue;
        }
        if (!answerable(error) || answers >= dialog_answer_bound || error_dialog(error) != ERROR_INTERNET_FORCE_RETRY) {
            close();
            sent_ = false;
            set_error(error);
            return false;
        }
        ++answers;
        accept_certificate(error);
        sent_ = handle_ != nullptr;  // try again on the same request
    }
    sent_ = true;
    // Where this answer's data ends, so that a connection that breaks off early is noticed.
    expectedEnd_ = 0;
    DWORD length = 0, size = sizeof length;
    if (HttpQueryInfoW(handle_, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size, nullptr))
        expectedEnd_ = start_ + length;
    set_error(0);
    return true;
}

void inet_file::close_request() noexcept
{
    close();
    sent_ = false;
}

LONGLONG inet_file::now() const noexcept
{
    if (highResolution_) {
        LARGE_INTEGER t;
        QueryPerformanceCounter(&t);
        return t.QuadPart;
    }
    return GetTickCount();
}

void inet_file::add_time(LONGLONG start) noexcept
{
    LONGLONG elapsed = now() - start;
    if (elapsed <= 0) elapsed = 5;
    const LONGLONG units = elapsed * 1000 + remainder_;
    const DWORD ms = static_cast<DWORD>(units / frequency_);
    remainder_ = units % frequency_;
    windowMs_ += ms;
    sinceMs_ += ms;
    if (GetTickCount() - windowStart_ > window_ms) {
        windowBytes_ = sinceBytes_;
        windowMs_ = sinceMs_;
        sinceBytes_ = sinceMs_ = 0;
        windowStart_ = GetTickCount();
    }
}

// In 64 bits, so no count has to be halved on the way.
DWORD inet_file::measured_rate(DWORD bytes, DWORD ms) noexcept
{
    if (ms == 0) return bytes;
    return static_cast<DWORD>(static_cast<unsigned long long>(bytes) * 1000 / ms);
}

DWORD inet_file::next_chunk(DWORD window_bytes, DWORD window_ms, DWORD left) noexcept
{
    unsigned long long chunk = first_chunk;
    if (window_ms > rate_paced_after_ms && window_bytes != 0)
        chunk = static_cast<unsigned long long>(measured_rate(window_bytes, window_ms)) * chunk_seconds_of_rate;
    if (chunk < 1) chunk = 1;
    if (chunk > left) chunk = left;
    return static_cast<DWORD>(chunk);
}

inet_file::read_block* inet_file::staging()
{
    return reinterpret_cast<read_block*>(staging_.get());
}

bool inet_file::read_pass(BYTE* buffer, DWORD count, DWORD& done)
{
    done = 0;
    while (done < count) {
        const DWORD chunk = std::min(chunk_size(count - done), staging_limit);
        if (stagingSize_ < chunk) {
            staging_.reset(new BYTE[offsetof(read_block, data) + chunk]);
            stagingSize_ = chunk;
        }
        read_block* const block = staging();
        const LONGLONG started = now();
        // No reset of the completion event per read: a read that completes at once signals
        // nothing, a pending one is waited for, and a closed request's late notice is
        // ignored; a reset is a server call that cost a third of the rate of small reads.
        block->count = 0;
        const BOOL ok = InternetReadFile(handle_, block->data, chunk, &block->count);
        if (!ok && !wait(false)) {
            if (timedOut_) {
                abandoned_.push_back(std::move(staging_));
                stagingSize_ = 0;
            }
            return false;
        }
        const DWORD got = block->count;
        if (got == 0) {
            // The data ended before the length the server announced: the connection broke.
            if (expectedEnd_ != 0 && position_ < expectedEnd_) {
                set_error(ERROR_INTERNET_CONNECTION_ABORTED);
                return false;
            }
            break;
        }
        memcpy(buffer + done, block->data, got);
        done += got;
        position_ += got;
        windowBytes_ += got;
        sinceBytes_ += got;
        add_time(started);
    }
    set_error(0);
    return true;
}

bool inet_file::read(void* buffer, DWORD count, DWORD& bytes_read)
{
    bytes_read = 0;
    if (retryLimit_ < 0) {
        SetLastError(ERROR_CANCELLED);
        return false;
    }
    auto* out = static_cast<BYTE*>(buffer);
    for (LONG attempt = 0;; ++attempt) {
        if (attempt > 0) start_ = position_;
        DWORD got = 0;
        bool ok = open_request() && read_pass(out + bytes_read, count - bytes_read, got);
        bytes_read += got;
        if (ok) return true;
        const DWORD error = GetLastError();
        if (!is_resumable(error) || attempt >= retryLimit_) {
            close_request();
            SetLastError(error);
            return false;
        }
        close_request();
    }
}

DWORD inet_file::seek(LONG distance, DWORD method)
{
    DWORD target;
    switch (method) {
    case FILE_BEGIN: target = static_cast<DWORD>(distance); break;
    case FILE_CURRENT: target = position_ + static_cast<DWORD>(distance); break;
    case FILE_END: {
        const DWORD total = size();
        if (total == INVALID_FILE_SIZE) return INVALID_SET_FILE_POINTER;
        target = total + static_cast<DWORD>(distance);
        break;
    }
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_SET_FILE_POINTER;
    }
    if (target != position_) {
        close_request();
        start_ = position_ = target;
    }
    return position_;
}

DWORD inet_file::size()
{
    if (!open_request()) return INVALID_FILE_SIZE;
    DWORD length = 0, bytes = sizeof length;
    const bool known = HttpQueryInfoW(handle_, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &bytes, nullptr);
    const DWORD error = known ? 0 : GetLastError();
    // The next read asks again from the current position.
    close_request();
    start_ = position_;
    SetLastError(error);
    return known ? start_ + length : INVALID_FILE_SIZE;
}

bool inet_file::last_modified(FILETIME& time)
{
    if (!open_request()) return false;
    SYSTEMTIME st = {};
    DWORD bytes = sizeof st;
    if (!HttpQueryInfoW(handle_, HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, &st, &bytes, nullptr)) return false;
    return SystemTimeToFileTime(&st, &time) != FALSE;
}

DWORD inet_file::error_dialog(DWORD error)
{
    const last_error_keeper keep;
    LONG answer = 0;
    if (events_ && SUCCEEDED(events_->OnTransferError(owner_, error, 7, &answer))
        && (answer == static_cast<LONG>(ERROR_INTERNET_FORCE_RETRY) || answer == static_cast<LONG>(ERROR_CANCELLED)))
        return static_cast<DWORD>(answer);
    return system_error_dialog(owner_, handle_, error);
}

// FTP listing: library surface that no step of the launcher calls.
namespace {

struct ftp_found {
    bool found = false;
    WIN32_FIND_DATAW first = {};
};

// The file's session is asynchronous, and WinINet takes an FTP search on it as pending even
// with a zero context: it would end after we returned, into our stack. A session of its own,
// synchronous, under the same agent.
internet_handle ftp_session(const inet_session& shared)
{
    std::wstring agent;
    DWORD bytes = 0;
    InternetQueryOptionW(shared.get(), INTERNET_OPTION_USER_AGENT, nullptr, &bytes);
    if (bytes != 0) {
        std::unique_ptr<wchar_t[]> buffer(new wchar_t[bytes / sizeof(wchar_t) + 1]());
        if (InternetQueryOptionW(shared.get(), INTERNET_OPTION_USER_AGENT, buffer.get(), &bytes)) agent = buffer.get();
    }
    return internet_handle(InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
}

ftp_found ftp_list(const inet_session& shared, const wchar_t* url)
{
    ftp_found result;
    url_parts parts;
    if (!crack_url(url, parts)) return result;
    std::wstring& path = parts.object;
    // Wine matches what follows the last slash as a name: a folder's own path would match nothing.
    if (!path.empty() && path.back() == L'/') path += L'*';
    const internet_handle session = ftp_session(shared);
    if (!session) return result;
    internet_handle connection(InternetConnectW(session.get(), parts.host.c_str(), parts.port, or_null(parts.user),
        or_null(parts.password), INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0));
    if (!connection) return result;
    const zString narrowSource(path.c_str());
    WIN32_FIND_DATAA first = {};
    internet_handle find(FtpFindFirstFileA(connection.get(), narrowSource.narrow(), &first, INTERNET_FLAG_RELOAD, 0));
    if (!find) return result;
    result.found = true;
    MultiByteToWideChar(CP_THREAD_ACP, 0, first.cFileName, -1, result.first.cFileName, MAX_PATH);
    result.first.ftLastWriteTime = first.ftLastWriteTime;
    result.first.nFileSizeLow = first.nFileSizeLow;
    result.first.nFileSizeHigh = first.nFileSizeHigh;
    result.first.dwFileAttributes = first.dwFileAttributes;
    WIN32_FIND_DATAW next;
    while (InternetFindNextFileW(find.get(), &next)) {
    }
    return result;
}

}  // namespace

bool inet_file::ftp_find(const wchar_t* url)
{
    return ftp_list(session_, url).found;
}

bool inet_file::ftp_last_write(const wchar_t* url, FILETIME& time)
{
    const ftp_found found = ftp_list(session_, url);
    if (found.found) time = found.first.ftLastWriteTime;
    return found.found;
}

DWORD inet_file::ftp_size(const wchar_t* url)
{
    const ftp_found found = ftp_list(session_, url);
    return found.found ? found.first.nFileSizeLow : INVALID_FILE_SIZE;
}

// --- http_file ---

namespace {

inet_session make_session(const wchar_t* agent)
{
    inet_session session;
    session.open(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC);
    return session;
}

}  // namespace

http_file::http_file(const wchar_t* agent, DWORD timeout)
    : inet_file(make_session(agent), timeout), agent_(agent ? agent : L"")
{
}

bool http_file::open(const wchar_t* url, const wchar_t* headers, DWORD flags)
{
    if (!session_.get()) return false;
    return inet_file::open(url, headers, flags);
}

bool http_file::wait(bool call_succeeded, bool close_on_timeout)
{
    return inet_file::wait(call_succeeded, close_on_timeout) && check_status();
}

bool http_file::check_status()
{
    if (!handle_) return true;
    DWORD status = 0, size = sizeof status;
    if (!HttpQueryInfoW(handle_, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)
        || (status >= 200 && status <= 299)) {
        set_error(0);
        return true;
    }
    set_error(http_status_error(status));
    return false;
}

int CompareUrlContent(const wchar_t* url, DWORD offset, DWORD count, const wchar_t* expected)
{
    http_file_ptr f(new http_file(L"rrs", 30000));
    if (!f->open(url, nullptr, 0x80400100)) return 255;
    if (f->seek(static_cast<LONG>(offset), FILE_BEGIN) == INVALID_SET_FILE_POINTER) return 255;
    std::unique_ptr<char[]> body(new char[static_cast<size_t>(count) + 1]());
    DWORD got = 0;
    if (!f->read(body.get(), count, got)) return 255;
    const zString wanted(expected ? expected : L"");
    return strcmp(body.get(), wanted.narrow()) == 0 ? 1 : 0;
}

}  // namespace qv
