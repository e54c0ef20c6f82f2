// setup's optional human-readable log "Corvane.log", UTF-16LE with a byte-order mark, off
// unless HKCU "SOFTWARE\Corvane\23.0\Professional" DoVerboseLogging is the DWORD 1. Every
// function keeps the thread's last error; a line that cannot be written is lost silently.
#pragma once

#include "zString.h"

#include <string>
#include <string_view>

namespace qv {

// One line, appended whole: lines from several threads never mix.
void WriteVerboseLog(const zString& message, const zString& source_file, int line) noexcept;
void EnableVerboseLog();
void SetVerboseLogFolder(const zString& folder);
void SetVerboseLogSourcePlace(bool with_source_place);
// Reads the registry switch now; WriteVerboseLog then no longer does.
void InitVerboseLog();
zString GetVerboseLogPath();

// The last folder and the file name of a source path, joined by a backslash.
std::wstring verbose_log_source_place(std::wstring_view source_file);

}  // namespace qv
