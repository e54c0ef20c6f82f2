#include "file.h"

#include "inet_file.h"
#include "os_entry.h"
#include "win32_exception.h"

#include <cstring>

namespace qv {

namespace {

constexpr DWORD internet_open_flags = 0x80400100;  // reload, keep connection, pragma no-cache
constexpr DWORD internet_timeout = 30000;

using create_file_fn = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);

// Looked up by name at the moment of the call, as the library's other kernel32 entry points.
HANDLE create_file(const wchar_t* path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
    DWORD disposition, DWORD flags, HANDLE template_file)
{
    const auto fn = kernel32_entry<create_file_fn>("CreateFileW");
    if (!fn) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return fn(path, access, share, security, disposition, flags, template_file);
}

}  // namespace

bool is_internet_path(std::wstring_view path) noexcept
{
    return text::has_http_scheme(path) || text::has_https_scheme(path);
}

file::file() noexcept
    : internet_(nullptr), handle_(INVALID_HANDLE_VALUE), shared_(new (std::nothrow) LONG(1)), events_(nullptr),
      codePage_(0), bom_(false)
{
}

file::file(const file& other) noexcept
    : internet_(nullptr), handle_(INVALID_HANDLE_VALUE), shared_(nullptr), events_(nullptr), codePage_(0), bom_(false)
{
    share(other);
}

file& file::operator=(const file& other)
{
    if (this != &other) {
        close();
        delete shared_;
        shared_ = nullptr;
        share(other);
    }
    return *this;
}

file::~file()
{
    try {
        close();
    } catch (...) {
        // A destructor reports nothing; the handle is gone either way.
    }
    delete shared_;
}

void file::share(const file& other) noexcept
{
    internet_ = other.internet_;
    handle_ = other.handle_;
    path_ = other.path_;
    events_ = other.events_;
    codePage_ = other.codePage_;
    bom_ = other.bom_;
    shared_ = other.shared_;
    if (shared_) InterlockedIncrement(shared_);
}

// Leaves this object closed with a counter of its own; the last share closes the handle.
void file::release_share() noexcept
{
    if (shared_ && InterlockedDecrement(shared_) != 0) shared_ = nullptr;
    if (!shared_) shared_ = new (std::nothrow) LONG(1);
    else *shared_ = 1;
}

void file::close()
{
    LONG* const counter = shared_;
    const bool last = !counter || InterlockedCompareExchange(counter, 0, 0) == 1;
    http_file* const internet = std::exchange(internet_, nullptr);
    const HANDLE h = std::exchange(handle_, INVALID_HANDLE_VALUE);
    codePage_ = 0;
    bom_ = false;
    release_share();
    if (!last) return;
    if (internet) internet->release();
    if (h != INVALID_HANDLE_VALUE && !CloseHandle(h)) throw file_exception(path_);
}

DWORD file::open(const zString& path, DWORD access, DWORD share, DWORD flags_and_attributes, DWORD disposition,
    LPSECURITY_ATTRIBUTES security, HANDLE template_file)
{
    close();
    path_ = path;
    if (is_internet_path(path.view())) {
        auto* internet = new http_file(L"toys::file", internet_timeout);
        internet->set_transfer_events(events_);
        if (!internet->open(path.c_str(), nullptr, internet_open_flags)) {
            const DWORD error = GetLastError();
            internet->release();
            return error ? error : ERROR_INTERNET_INTERNAL_ERROR;
        }
        internet_ = internet;
        return 0;
    }
    const HANDLE h = create_file(path.c_str(), access, share, security, disposition, flags_and_attributes, template_file);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error ? error : ERROR_OPEN_FAILED;
    }
    handle_ = h;
    detect_encoding();
    return 0;
}

void file::fail() const
{
    if (internet_) throw internet_file_exception(path_);
    throw file_exception(path_);
}

DWORD file::seek(LONG distance, DWORD method, LONG* high)
{
    if (internet_) {
        const DWORD position = internet_->seek(distance, method);
        if (position == INVALID_SET_FILE_POINTER) fail();
        if (high) *high = 0;
        return position;
    }
    SetLastError(0);
    const DWORD position = SetFilePointer(handle_, distance, high, method);
    if (position == INVALID_SET_FILE_POINTER && (!high || GetLastError() != 0)) fail();
    return position;
}

DWORD file::size(DWORD* high)
{
    if (internet_) {
        const DWORD size = internet_->size();
        if (size == INVALID_FILE_SIZE) fail();
        if (high) *high = 0;
        return size;
    }
    SetLastError(0);
    const DWORD size = GetFileSize(handle_, high);
    if (size == INVALID_FILE_SIZE && (!high || GetLastError() != 0)) fail();
    return size;
}

DWORD file::read(void* buffer, DWORD count)
{
    if (count == one) count = 1;
    DWORD done = 0;
    if (internet_) {
        if (!internet_->read(buffer, count, done)) fail();
        return done;
    }
    if (!ReadFile(handle_, buffer, count, &done, nullptr)) fail();
    return done;
}

DWORD file::write(const void* buffer, DWORD count)
{
    if (count == one) count = 1;
    DWORD done = 0;
    if (internet_) {
        SetLastError(ERROR_ACCESS_DENIED);  // an address is read only
        fail();
    }
    if (!WriteFile(handle_, buffer, count, &done, nullptr)) fail();
    return done;
}

DWORD file::record_bytes(DWORD record_size, DWORD count)
{
    if (count == one) return record_size;
    const unsigned long long bytes = static_cast<unsigned long long>(record_size) * count;
    if (bytes >= one) throw win32_exception(ERROR_ARITHMETIC_OVERFLOW);
    return static_cast<DWORD>(bytes);
}

void file::detect_encoding()
{
    codePage_ = 0;
    bom_ = false;
    unsigned char mark[3] = {};
    DWORD got = 0;
    // A handle that cannot be read or moved has no mark; the open itself stands.
    if (GetFileSize(handle_, nullptr) == INVALID_FILE_SIZE) return;
    const DWORD length = GetFileSize(handle_, nullptr);
    if (length > 1) {
        if (SetFilePointer(handle_, 0, nullptr, FILE_BEGIN) == 0 && ReadFile(handle_, mark, 2, &got, nullptr) && got == 2) {
            if (mark[0] == 0xFF && mark[1] == 0xFE) codePage_ = 1200, bom_ = true;
            else if (mark[0] == 0xFE && mark[1] == 0xFF) codePage_ = 1201, bom_ = true;
        }
        if (!bom_ && length >= 3 && SetFilePointer(handle_, 0, nullptr, FILE_BEGIN) == 0
            && ReadFile(handle_, mark, 3, &got, nullptr) && got == 3 && mark[0] == 0xEF && mark[1] == 0xBB
            && mark[2] == 0xBF)
            codePage_ = 65001, bom_ = true;
    }
    SetFilePointer(handle_, 0, nullptr, FILE_BEGIN);
}

DWORD file::write_bom()
{
    if (!bom_) return 0;
    static const unsigned char utf16le[] = {0xFF, 0xFE}, utf16be[] = {0xFE, 0xFF}, utf8[] = {0xEF, 0xBB, 0xBF};
    switch (codePage_) {
    case 1200: write(utf16le, sizeof utf16le); break;
    case 1201: write(utf16be, sizeof utf16be); break;
    case 65001: write(utf8, sizeof utf8); break;
    default: break;
    }
    return 0;
}

DWORD file::write_text(const zString& text)
{
    if (text.empty()) return 0;
    if (codePage_ == 1200) return write(text.c_str(), static_cast<DWORD>(text.length() * sizeof(wchar_t)));
    if (codePage_ == 1201) {
        std::wstring swapped(text.view());
        for (wchar_t& c : swapped) c = static_cast<wchar_t>(((c & 0xFF) << 8) | ((c >> 8) & 0xFF));
        return write(swapped.data(), static_cast<DWORD>(swapped.size() * sizeof(wchar_t)));
    }
    const UINT page = codePage_ == 0 ? CP_THREAD_ACP : codePage_;
    const int length = static_cast<int>(text.length());
    const int bytes = WideCharToMultiByte(page, 0, text.c_str(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) fail();
    std::unique_ptr<char[]> narrow(new char[bytes]);
    WideCharToMultiByte(page, 0, text.c_str(), length, narrow.get(), bytes, nullptr, nullptr);
    return write(narrow.get(), static_cast<DWORD>(bytes));
}

DWORD file::read_all(std::unique_ptr<unsigned char[]>& out)
{
    const DWORD length = size();
    if (length > 0xFFFFFFFDu) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        fail();
    }
    out.reset(new unsigned char[length + 2]);
    seek(0, FILE_BEGIN);
    DWORD done = 0;
    while (done < length) {
        const DWORD got = read(out.get() + done, length - done);
        if (got == 0) break;
        done += got;
    }
    out[done] = 0;
    out[done + 1] = 0;
    return done;
}

bool file::read_text(zString& out)
{
    std::unique_ptr<unsigned char[]> all;
    const DWORD count = read_all(all);
    const DWORD mark = !bom_ ? 0 : codePage_ == 65001 ? 3 : codePage_ == 1200 || codePage_ == 1201 ? 2 : 0;
    out.clear();
    if (count <= mark) return true;
    const auto bytes = reinterpret_cast<const char*>(all.get() + mark);
    const int length = static_cast<int>(count - mark);
    if (codePage_ == 1200 || codePage_ == 1201) {
        out.assign_multibyte(bytes, length, codePage_);
        return true;
    }
    const UINT page = codePage_ == 0 ? CP_THREAD_ACP : codePage_;
    const int units = MultiByteToWideChar(page, 0, bytes, length, nullptr, 0);
    if (units <= 0) return false;
    std::unique_ptr<wchar_t[]> wide(new wchar_t[units]);
    MultiByteToWideChar(page, 0, bytes, length, wide.get(), units);
    out.assign(wide.get(), static_cast<size_t>(units));
    return true;
}

bool file::set_code_page(UINT code_page)
{
    if (bom_ && (codePage_ == 65001 || codePage_ == 1200 || codePage_ == 1201)) return false;
    codePage_ = code_page;
    return true;
}

file_lite::~file_lite()
{
    close();
}

void file_lite::close() noexcept
{
    if (internet_) std::exchange(internet_, nullptr)->release();
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE));
}

bool file_lite::open_read(const wchar_t* path)
{
    close();
    path_ = path;
    if (is_internet_path(path_.view())) {
        internet_ = new http_file(L"toys::file_lite", internet_timeout);
        if (internet_->open(path_.c_str(), nullptr, internet_open_flags)) return true;
        close();
        return false;
    }
    handle_ = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle_ != INVALID_HANDLE_VALUE;
}

bool file_lite::open_write(const wchar_t* path, DWORD disposition)
{
    close();
    path_ = path;
    if (is_internet_path(path_.view())) return false;
    for (int attempt = 0; attempt < 4; ++attempt) {
        handle_ = CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle_ != INVALID_HANDLE_VALUE) return true;
        Sleep(500);  // another process may be about to let go of the file
    }
    return false;
}

int file_lite::read(void* buffer, DWORD count)
{
    DWORD done = 0;
    if (handle_ == INVALID_HANDLE_VALUE) {
        if (!internet_ || !internet_->read(buffer, count, done)) return -1;
        return static_cast<int>(done);
    }
    if (!ReadFile(handle_, buffer, count, &done, nullptr)) return -1;
    return static_cast<int>(done);
}

int file_lite::write(const void* buffer, DWORD count)
{
    DWORD done = 0;
    if (!WriteFile(handle_, buffer, count, &done, nullptr)) return -1;
    return static_cast<int>(done);
}

void file_lite::seek(LONG distance, DWORD method)
{
    if (handle_ == INVALID_HANDLE_VALUE) {
        if (internet_) internet_->seek(distance, method);
        return;
    }
    SetFilePointer(handle_, distance, nullptr, method);
}

}  // namespace qv
