// What the trace tests share: a fresh folder of the case's own (ScratchFolder.h), the registry
// switch made and removed by the case, and a reader of trace files written from the file format alone.
#pragma once

#include "ScratchFolder.h"

#include <windows.h>

#include <string>
#include <vector>

namespace tracetest {

// HKCU "REdedov": gone when the case leaves, whatever it left under it.
inline void remove_trace_key()
{
    RegDeleteTreeW(HKEY_CURRENT_USER, L"REdedov");
    RegDeleteKeyW(HKEY_CURRENT_USER, L"REdedov");
}

inline bool make_trace_key(const std::wstring* file_name_path)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"REdedov", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return false;
    LONG rc = ERROR_SUCCESS;
    if (file_name_path)
        rc = RegSetValueExW(key, L"FileNamePath", 0, REG_SZ, reinterpret_cast<const BYTE*>(file_name_path->c_str()),
            static_cast<DWORD>((file_name_path->size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

inline std::string file_bytes(const std::wstring& path, bool* exists = nullptr)
{
    const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, 0, nullptr);
    if (exists) *exists = h != INVALID_HANDLE_VALUE;
    if (h == INVALID_HANDLE_VALUE) return {};
    std::string out(GetFileSize(h, nullptr), '\0');
    DWORD done = 0;
    if (!out.empty()) ReadFile(h, out.data(), static_cast<DWORD>(out.size()), &done, nullptr);
    CloseHandle(h);
    out.resize(done);
    return out;
}

inline void put_file(const std::wstring& path, const std::string& bytes)
{
    const HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD done = 0;
    if (!bytes.empty()) WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
    CloseHandle(h);
}

// The scrambled form of one record's text, straight from the byte rule.
inline std::string scrambled(const std::string& text)
{
    std::string out(text);
    for (size_t i = 0; i < out.size(); ++i) {
        const unsigned t = (static_cast<unsigned char>(out[i]) + i % 71) & 0xFF;
        out[i] = static_cast<char>((((t << 2) | (t >> 6)) & 0xFF) ^ 0x6C);
    }
    return out;
}

inline std::string unscrambled(const std::string& bytes)
{
    std::string out(bytes);
    for (size_t i = 0; i < out.size(); ++i) {
        const unsigned u = static_cast<unsigned char>(out[i]) ^ 0x6C;
        out[i] = static_cast<char>(((((u >> 2) | (u << 6)) & 0xFF) - i % 71) & 0xFF);
    }
    return out;
}

inline std::string length_field(size_t length)
{
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
    return out;
}

// A whole record as it stands in the file.
inline std::string record(const std::string& text)
{
    return length_field(text.size()) + scrambled(text);
}

struct trace_file {
    bool exists = false;
    bool whole = false;  // the records tile the file exactly
    std::vector<std::string> records;
};

inline trace_file read_trace(const std::wstring& path)
{
    trace_file out;
    const std::string bytes = file_bytes(path, &out.exists);
    size_t at = 0;
    while (at + 4 <= bytes.size()) {
        size_t length = 0;
        for (int i = 3; i >= 0; --i) length = length << 8 | static_cast<unsigned char>(bytes[at + i]);
        if (bytes.size() - at - 4 < length) break;
        out.records.push_back(unscrambled(bytes.substr(at + 4, length)));
        at += 4 + length;
    }
    out.whole = out.exists && at == bytes.size();
    return out;
}

constexpr size_t header_records = 7;

}  // namespace tracetest
