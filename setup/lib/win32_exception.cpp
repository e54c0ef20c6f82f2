#include "win32_exception.h"

#include <cstdlib>
#include <new>

namespace qv {

// What every copy of one exception shares.
struct win32_exception::shared {
    volatile LONG count = 1;
    wchar_t* volatile message = nullptr;  // from FormatMessageW, freed with LocalFree
    char* volatile narrow = nullptr;
    volatile LONG formatted = 0;
};

win32_exception::win32_exception() noexcept : win32_exception(GetLastError()) {}

namespace {
template <class T>
T* allocated() noexcept
{
    const last_error_keeper keep;
    return new (std::nothrow) T;
}
}  // namespace

win32_exception::win32_exception(DWORD code) noexcept : code_(code), shared_(allocated<shared>()) {}

win32_exception::win32_exception(const win32_exception& other) noexcept
    : std::exception(other), code_(other.code_), shared_(other.shared_)
{
    if (shared_) InterlockedIncrement(&shared_->count);
}

win32_exception& win32_exception::operator=(const win32_exception& other) noexcept
{
    if (shared_ != other.shared_) {
        if (other.shared_) InterlockedIncrement(&other.shared_->count);
        release();
        shared_ = other.shared_;
    }
    code_ = other.code_;
    return *this;
}

win32_exception::~win32_exception() { release(); }

void win32_exception::release() noexcept
{
    if (!shared_ || InterlockedDecrement(&shared_->count) != 0) return;
    if (shared_->message) LocalFree(shared_->message);
    free(shared_->narrow);
    delete shared_;
    shared_ = nullptr;
}

const wchar_t* win32_exception::message() const noexcept
{
    if (!shared_) return L"";
    const last_error_keeper keep;
    if (!shared_->formatted && code_ != 0) {
        wchar_t* text = nullptr;
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
            code_, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
        // A copy on another thread may have looked it up meanwhile: the first one stays.
        if (text && InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&shared_->message), text, nullptr))
            LocalFree(text);
    }
    InterlockedExchange(&shared_->formatted, 1);
    return shared_->message ? shared_->message : L"";
}

const char* win32_exception::what() const noexcept
{
    const wchar_t* text = message();
    if (!shared_) return "";
    const last_error_keeper keep;
    if (!shared_->narrow && *text) {
        const int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
        char* narrow = bytes > 0 ? static_cast<char*>(malloc(bytes)) : nullptr;
        if (narrow && WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, bytes, nullptr, nullptr) > 0
            && !InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&shared_->narrow), narrow, nullptr))
            narrow = nullptr;
        free(narrow);
    }
    return shared_->narrow ? shared_->narrow : "";
}

file_exception::file_exception(const zString& path) : path_(path) {}

file_exception::file_exception(DWORD code, const zString& path) : win32_exception(code), path_(path) {}

internet_file_exception::internet_file_exception(const zString& path) : file_exception(path) {}

internet_file_exception::internet_file_exception(DWORD code, const zString& path)
    : win32_exception(code), internet_exception(code), file_exception(code, path)
{
}

}  // namespace qv
