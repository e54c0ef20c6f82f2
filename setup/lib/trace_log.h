// setup's binary trace for support staff: off unless HKCU "REdedov" exists. Each piece of
// text is narrowed to the thread's ANSI code page, scrambled and appended to the file as one
// record: a 4-byte little-endian length, then that many scrambled bytes. An event is two
// records, "Category|SubCategory|" and "Details\r\n".
#pragma once

#include "zString.h"

#include <windows.h>

namespace qv {

// The position-dependent byte scrambler of the trace records. The position is set to 0
// before each record and grows by the bytes processed.
class ScrambleStream {
public:
    static constexpr unsigned char trace_key = 0x6C;

    ScrambleStream() noexcept = default;
    explicit ScrambleStream(DWORD position) noexcept : position_(position) {}

    // In place; both return 0.
    int scramble(unsigned char* buffer, DWORD length, unsigned char key) noexcept;
    int unscramble(unsigned char* buffer, DWORD length, unsigned char key) noexcept;

    DWORD position() const noexcept { return position_; }
    void set_position(DWORD position) noexcept { position_ = position; }

private:
    DWORD position_ = 0;
};

// The record buffer, and the longest narrow text it takes: a longer text is cut to this many
// bytes on a character boundary, keeping its closing "\r\n" when it had one.
constexpr DWORD trace_buffer_size = 16384;
constexpr DWORD trace_record_limit = trace_buffer_size - 1;

// Reads the registry switch, fixes the file path, creates the writer lock (once per process)
// and writes the header records when the file is new. `instance` names the module whose path
// and version the header shows (null: the program). Never throws: a header that cannot be
// written is dropped.
void InitTracing(HINSTANCE instance = nullptr) noexcept;

// One event; printf-style with msvcrt's wide semantics (%s is a wide string). Never throws:
// a failure becomes the fallback record.
void TraceRecord(const wchar_t* category, const wchar_t* subcategory, const wchar_t* format, ...) noexcept;
// The same with category "Comment" and an empty subcategory.
void QVTracingInternal_Trace(const wchar_t* format, ...) noexcept;

// Appends one record holding `text`; does nothing while tracing is off. A file that cannot
// be opened drops the record; a failed seek, write or close throws qv::file_exception.
void WriteTraceRecord(const zString& text);

bool TracingEnabled() noexcept;
// Destroys the writer lock; records written afterwards are dropped.
void DeleteTraceLock() noexcept;

// Writes the unscrambled payloads of `source` back to back into a new `target`. 0, the error
// of a failed open or transfer, or ERROR_INVALID_DATA for a record longer than the record
// buffer or cut short (what was decoded before it stays in the target).
DWORD DecodeTraceFile(const zString& source, const zString& target);

}  // namespace qv
