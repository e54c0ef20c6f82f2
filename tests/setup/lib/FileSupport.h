// What the tests of setup's library ask of the files they make: their bytes, whether they
// are there, and the fixtures built beside the test program.
#pragma once

#include "handle.h"

#include <windows.h>

#include <string>
#include <vector>

using bytes = std::vector<unsigned char>;

// The whole file; empty when it cannot be opened.
inline bytes read_back(const std::wstring& path)
{
    const qv::file_handle h(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!h) return {};
    bytes out(GetFileSize(h.get(), nullptr));
    DWORD done = 0;
    if (!out.empty()) ReadFile(h.get(), out.data(), static_cast<DWORD>(out.size()), &done, nullptr);
    return out;
}

inline bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A file in the test program's own folder.
inline std::wstring beside_program(const wchar_t* name)
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring folder(self);
    return folder.substr(0, folder.rfind(L'\\') + 1) + name;
}
