#include "trace_log.h"

#include "file.h"
#include "critical_section.h"
#include "file_system.h"
#include "handle.h"
#include "system_folders.h"
#include "version_info.h"
#include "win32_exception.h"

#include <shlobj.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string_view>

namespace qv {

namespace {

// Set once by InitTracing before other threads exist, read afterwards. Never freed, so a
// trace call from a late static destructor still finds it.
struct trace_state {
    bool enabled = false;
    zString path;
    CRITICAL_SECTION lock{};
    bool lockReady = false;
};

trace_state& state()
{
    static trace_state* const s = new trace_state;
    return *s;
}

constexpr size_t details_limit = 16381;  // leaves room for "\r\n" and the terminator

zString read_string_value(HKEY key, const wchar_t* name)
{
    DWORD type = 0, bytes = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return zString();
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || bytes == 0) return zString();
    std::unique_ptr<wchar_t[]> value(new wchar_t[bytes / sizeof(wchar_t) + 1]());
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.get()), &bytes) != ERROR_SUCCESS)
        return zString();
    value[bytes / sizeof(wchar_t)] = L'\0';
    return zString(value.get());
}

int narrow_length(std::wstring_view text)
{
    if (text.empty()) return 0;
    return WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
}

bool high_surrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// The longest start of `text` whose narrow form takes at most `room` bytes. Cutting on the
// wide side keeps every narrow character whole, double-byte and UTF-8 ones included.
size_t fitting_prefix(std::wstring_view text, size_t room)
{
    // Every character narrows to one byte at least.
    size_t lo = 0, hi = text.size() < room ? text.size() : room;
    while (lo < hi) {
        const size_t mid = lo + (hi - lo + 1) / 2;
        if (static_cast<size_t>(narrow_length(text.substr(0, mid))) <= room) lo = mid;
        else hi = mid - 1;
    }
    if (lo > 0 && lo < text.size() && high_surrogate(text[lo - 1])) --lo;
    return lo;
}

// The record's narrow bytes in `buffer`; their count. A text too long for the buffer is cut
// and keeps its closing "\r\n", so the reader still sees where the line ends.
DWORD fill_record(const zString& text, unsigned char* buffer)
{
    const char* narrow = text.narrow();
    size_t bytes = strlen(narrow);
    if (bytes <= trace_record_limit) {
        memcpy(buffer, narrow, bytes);
        return static_cast<DWORD>(bytes);
    }
    std::wstring_view wide = text.view();
    const bool line_end = wide.size() >= 2 && wide.substr(wide.size() - 2) == L"\r\n";
    if (line_end) wide.remove_suffix(2);
    zString cut(wide.substr(0, fitting_prefix(wide, trace_record_limit - (line_end ? 2 : 0))));
    if (line_end) cut += L"\r\n";
    narrow = cut.narrow();
    bytes = strlen(narrow);
    if (bytes > trace_record_limit) bytes = trace_record_limit;  // never past the buffer, whatever the code page does
    memcpy(buffer, narrow, bytes);
    return static_cast<DWORD>(bytes);
}

// The details as the second record of an event shows them: at most details_limit characters,
// one closing line end dropped, every other CR and LF made "_", then "\r\n".
zString details_text(const wchar_t* format, va_list args)
{
    std::unique_ptr<wchar_t[]> out(new wchar_t[details_limit + 1]());
    size_t length = 0;
    if (format) {
        // msvcrt's: %s is a wide string. A longer result fills the buffer without a terminator.
        const int written = _vsnwprintf(out.get(), details_limit, format, args);
        out[details_limit] = L'\0';
        length = written >= 0 ? static_cast<size_t>(written) : wcslen(out.get());
        if (length == details_limit && written < 0 && high_surrogate(out[length - 1])) --length;
    }
    wchar_t* const text = out.get();
    if (length && text[length - 1] == L'\n') --length;
    if (length && text[length - 1] == L'\r') --length;
    for (size_t i = 0; i < length; ++i)
        if (text[i] == L'\r' || text[i] == L'\n') text[i] = L'_';
    zString details(text, length);
    details += L"\r\n";
    return details;
}

void write_event(const wchar_t* category, const wchar_t* subcategory, const wchar_t* format, va_list args,
    const wchar_t* fallback) noexcept
{
    trace_state& s = state();
    if (!s.enabled || !s.lockReady) return;
    try {
        // The lock is recursive: held here too, another thread's records never come between
        // the two of one event.
        const critical_section_lock lock(s.lock);
        zString head;
        head.format(L"%ls|%ls|", category ? category : L"", subcategory ? subcategory : L"");
        WriteTraceRecord(head);
        WriteTraceRecord(details_text(format, args));
    } catch (...) {
        try {
            WriteTraceRecord(zString(fallback));
        } catch (...) {
            // Nothing is left to report a failed trace to.
        }
    }
}

DWORD read_fully(file& in, unsigned char* buffer, DWORD count)
{
    DWORD done = 0;
    while (done < count) {
        const DWORD got = in.read(buffer + done, count - done);
        if (got == 0) break;
        done += got;
    }
    return done;
}

void start_tracing(HINSTANCE instance)
{
    trace_state& s = state();
    registry_key key;
    s.enabled = RegOpenKeyExW(HKEY_CURRENT_USER, L"REdedov", 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS;
    if (!s.enabled) return;
    s.path = read_string_value(key.get(), L"FileNamePath");
    if (s.path.empty())
        s.path.format(L"%s%s%d.%s", GetShellFolderPath(CSIDL_DESKTOP).c_str(), L"setuptrace",
            static_cast<int>(GetCurrentProcessId()), L"bin");
    if (!s.lockReady) {
        InitializeCriticalSection(&s.lock);
        s.lockReady = true;
    }
    if (PathExists(s.path, path_is_file | path_is_folder)) return;

    WriteTraceRecord(zString(L"FormatVersion=00000112\r\n\r\n"));
    WriteTraceRecord(zString(L"Copyright (C) 2026 Corvane. All rights reserved.\r\n\r\n"));
    SYSTEMTIME now{};
    GetLocalTime(&now);
    zString line;
    line.format(L"TraceStarted: %.2ld/%.2ld/%.2ld %.2ld:%.2ld:%.2ld\r\n", static_cast<long>(now.wMonth),
        static_cast<long>(now.wDay), static_cast<long>(now.wYear), static_cast<long>(now.wHour),
        static_cast<long>(now.wMinute), static_cast<long>(now.wSecond));
    WriteTraceRecord(line);
    wchar_t program[MAX_PATH + 1] = {};
    GetModuleFileNameW(instance, program, MAX_PATH);
    line.format(L"SetupExe: %ls\r\n", program);
    WriteTraceRecord(line);
    version_info version;
    version.load(program);  // a program without a version shows 0.0.0.0
    line.format(L"SetupExeVersion: %ld.%ld.%ld.%ld\r\n", static_cast<long>(version.major()),
        static_cast<long>(version.minor()), static_cast<long>(version.build()), static_cast<long>(version.revision()));
    WriteTraceRecord(line);
    WriteTraceRecord(zString(L"\r\nTraceData:\r\n"));
    WriteTraceRecord(zString(L"Category|SubCategory|Details\r\n"));
}

}  // namespace

int ScrambleStream::scramble(unsigned char* buffer, DWORD length, unsigned char key) noexcept
{
    for (DWORD i = 0; i < length; ++i) {
        const unsigned t = (buffer[i] + (position_ + i) % 71) & 0xFF;
        buffer[i] = static_cast<unsigned char>((((t << 2) | (t >> 6)) & 0xFF) ^ key);
    }
    position_ += length;
    return 0;
}

int ScrambleStream::unscramble(unsigned char* buffer, DWORD length, unsigned char key) noexcept
{
    for (DWORD i = 0; i < length; ++i) {
        const unsigned u = buffer[i] ^ key;
        const unsigned r = ((u >> 2) | (u << 6)) & 0xFF;
        buffer[i] = static_cast<unsigned char>((r - (position_ + i) % 71) & 0xFF);
    }
    position_ += length;
    return 0;
}

void InitTracing(HINSTANCE instance) noexcept
{
    try {
        start_tracing(instance);
    } catch (...) {
        // The launcher starts tracing before anything could report a failure: a header that
        // cannot be written is dropped like any other record, and setup goes on.
    }
}

void TraceRecord(const wchar_t* category, const wchar_t* subcategory, const wchar_t* format, ...) noexcept
{
    if (!TracingEnabled()) return;
    va_list args;
    va_start(args, format);
    write_event(category, subcategory, format, args, L"QVException|QVTracingInternal_TraceEx\r\n");
    va_end(args);
}

void QVTracingInternal_Trace(const wchar_t* format, ...) noexcept
{
    if (!TracingEnabled()) return;
    va_list args;
    va_start(args, format);
    write_event(L"Comment", L"", format, args, L"QVException|QVTracingInternal_Trace\r\n");
    va_end(args);
}

void WriteTraceRecord(const zString& text)
{
    trace_state& s = state();
    if (!s.enabled || !s.lockReady) return;
    const critical_section_lock lock(s.lock);
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[trace_buffer_size]);
    const DWORD length = fill_record(text, buffer.get());
    ScrambleStream().scramble(buffer.get(), length, ScrambleStream::trace_key);
    file out;
    if (out.open(s.path, GENERIC_WRITE, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL, OPEN_ALWAYS) != 0) return;
    out.seek(0, FILE_END);
    const unsigned char field[4] = {static_cast<unsigned char>(length), static_cast<unsigned char>(length >> 8),
        static_cast<unsigned char>(length >> 16), static_cast<unsigned char>(length >> 24)};
    out.write_records<4>(field);
    if (length) out.write(buffer.get(), length);
    out.close();
}

bool TracingEnabled() noexcept
{
    return state().enabled;
}

void DeleteTraceLock() noexcept
{
    trace_state& s = state();
    if (!s.lockReady) return;
    s.lockReady = false;
    DeleteCriticalSection(&s.lock);
}

DWORD DecodeTraceFile(const zString& source, const zString& target)
{
    try {
        file in;
        if (const DWORD error = in.open(source, GENERIC_READ, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL, OPEN_EXISTING))
            return error;
        file out;
        if (const DWORD error = out.open(target, GENERIC_WRITE, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL, CREATE_ALWAYS))
            return error;
        std::unique_ptr<unsigned char[]> buffer(new unsigned char[trace_buffer_size]);
        for (;;) {
            unsigned char field[4];
            const DWORD got = read_fully(in, field, sizeof field);
            if (got == 0) break;
            if (got < sizeof field) return ERROR_INVALID_DATA;
            const DWORD length = static_cast<DWORD>(field[0]) | static_cast<DWORD>(field[1]) << 8
                | static_cast<DWORD>(field[2]) << 16 | static_cast<DWORD>(field[3]) << 24;
            if (length > trace_buffer_size) return ERROR_INVALID_DATA;
            if (read_fully(in, buffer.get(), length) != length) return ERROR_INVALID_DATA;
            ScrambleStream().unscramble(buffer.get(), length, ScrambleStream::trace_key);
            if (length) out.write(buffer.get(), length);
        }
        out.close();
        in.close();
        return 0;
    } catch (const win32_exception& e) {
        return e.error() ? e.error() : ERROR_GEN_FAILURE;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

}  // namespace qv
