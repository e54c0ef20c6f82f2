// Failed Windows calls inside setup's library, and the file and download failures among
// them. The system's message is looked up once, on first demand, and shared by every copy.
#pragma once

#include "zString.h"

#include <exception>

namespace qv {

class win32_exception : public std::exception {
public:
    win32_exception() noexcept;  // the thread's last error
    explicit win32_exception(DWORD code) noexcept;
    win32_exception(const win32_exception& other) noexcept;
    win32_exception& operator=(const win32_exception& other) noexcept;
    ~win32_exception() override;

    DWORD error() const noexcept { return code_; }
    // The system's text for the code in the user's language; empty when it has none.
    const wchar_t* message() const noexcept;
    // The same text in the ANSI code page.
    const char* what() const noexcept override;

private:
    struct shared;
    void release() noexcept;

    DWORD code_;
    shared* shared_;
};

class file_exception : public virtual win32_exception {
public:
    explicit file_exception(const zString& path);  // the thread's last error
    file_exception(DWORD code, const zString& path);
    const zString& path() const noexcept { return path_; }

private:
    zString path_;
};

class internet_exception : public virtual win32_exception {
public:
    internet_exception() noexcept = default;  // the thread's last error
    explicit internet_exception(DWORD code) noexcept : win32_exception(code) {}
};

// A failed read, seek or size of a URL opened as a file.
class internet_file_exception : public internet_exception, public file_exception {
public:
    explicit internet_file_exception(const zString& path);
    internet_file_exception(DWORD code, const zString& path);
};

}  // namespace qv
