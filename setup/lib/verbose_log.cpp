#include "verbose_log.h"

#include "critical_section.h"
#include "handle.h"
#include "registry_text.h"

#include <vector>

namespace qv {

namespace {

constexpr wchar_t switch_key[] = L"SOFTWARE\\Corvane\\23.0\\Professional";
constexpr REGSAM switch_access = 0x20019;  // KEY_READ
constexpr size_t max_folder = 260;
constexpr wchar_t log_name[] = L"Corvane.log";

struct log_state {
    log_state() { InitializeCriticalSection(&lock); }
    // Serialises every line, and the state around it: the file is opened without write
    // sharing, so an open beside another thread's would lose its line.
    CRITICAL_SECTION lock;
    bool check_pending = true;
    bool enabled = false;
    bool with_source_place = true;
    zString forced_folder;
    bool bom_confirmed = false;
};

// Made on first use by whichever thread comes first, and never destroyed, so that a line
// written while the process ends still finds its lock.
log_state& state()
{
    static log_state* const s = new log_state;
    return *s;
}

registry_key open_switch_key()
{
    registry_key key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, switch_key, 0, switch_access, key.put()) != ERROR_SUCCESS) key.reset();
    return key;
}

bool switch_on()
{
    const registry_key key = open_switch_key();
    if (!key) return false;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    return RegQueryValueExW(key.get(), L"DoVerboseLogging", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size)
               == ERROR_SUCCESS
           && type == REG_DWORD && size == sizeof value && value == 1;
}

void read_switch(log_state& s)
{
    if (!s.enabled && switch_on()) s.enabled = true;
    s.check_pending = false;
}

std::wstring program_folder()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) {
            const std::wstring_view path(buffer.data(), length);
            const size_t last = path.rfind(L'\\');
            return std::wstring(last == std::wstring_view::npos ? std::wstring_view() : path.substr(0, last));
        }
        buffer.resize(buffer.size() * 2);
    }
}

zString log_path(const log_state& s)
{
    std::wstring folder = s.forced_folder.str();
    if (folder.empty()) {
        if (const registry_key key = open_switch_key()) folder = read_registry_text(key.get(), L"VerboseLogPath", max_folder).value_or(L"");
    }
    if (folder.empty()) folder = program_folder();
    return zString(text::join_path(folder, log_name));
}

std::wstring date_and_time_picture(bool date)
{
    wchar_t buffer[128] = {};
    if (date) GetDateFormatW(LOCALE_SYSTEM_DEFAULT, 0, nullptr, L"M-d-yyyy", buffer, 128);
    else GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, 0, nullptr, L"hh':'mm':'ss tt", buffer, 128);
    return buffer;
}

void append_line(log_state& s, const zString& path, const zString& line)
{
    file_handle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    if (!s.bom_confirmed) {
        // A file that holds something and starts without the mark stays as it is: a mark in
        // front would rewrite what others wrote, one behind it would be noise in the text.
        unsigned char mark[2] = {};
        DWORD read = 0;
        if (ReadFile(file.get(), mark, sizeof mark, &read, nullptr) && read == 0) {
            static const unsigned char bom[2] = {0xFF, 0xFE};
            DWORD written = 0;
            SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
            WriteFile(file.get(), bom, sizeof bom, &written, nullptr);
        }
        s.bom_confirmed = true;  // once per process, whatever the file held
    }
    SetFilePointer(file.get(), 0, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(file.get(), line.c_str(), static_cast<DWORD>(line.length() * sizeof(wchar_t)), &written, nullptr);
}

}  // namespace

std::wstring verbose_log_source_place(std::wstring_view source_file)
{
    std::wstring_view parts[2];  // the folder before the name, and the name
    size_t start = 0;
    while (start < source_file.size()) {
        size_t end = start;
        while (end < source_file.size() && !text::is_separator(source_file[end])) ++end;
        if (end > start) {
            parts[0] = parts[1];
            parts[1] = source_file.substr(start, end - start);
        }
        start = end + 1;
    }
    if (parts[0].empty()) return std::wstring(parts[1]);
    std::wstring place(parts[0]);
    place += L'\\';
    place.append(parts[1]);
    return place;
}

void WriteVerboseLog(const zString& message, const zString& source_file, int line) noexcept
{
    const last_error_keeper keep;
    try {
        log_state& s = state();
        const critical_section_lock hold(s.lock);
        if (s.check_pending) read_switch(s);
        if (!s.enabled) return;
        const zString path = log_path(s);
        const std::wstring date = date_and_time_picture(true);
        const std::wstring time = date_and_time_picture(false);
        zString text;
        if (s.with_source_place) {
            const std::wstring place = verbose_log_source_place(source_file.view());
            text.format(L"%s[%s]: %s  --  File: %s, Line: %d\r\n", date.c_str(), time.c_str(), message.c_str(),
                place.c_str(), line);
        } else {
            text.format(L"%s[%s]: %s\r\n", date.c_str(), time.c_str(), message.c_str());
        }
        append_line(s, path, text);
    } catch (...) {
        // Out of memory: the line is lost, as any line that cannot be written.
    }
}

void EnableVerboseLog()
{
    const last_error_keeper keep;
    log_state& s = state();
    const critical_section_lock hold(s.lock);
    s.enabled = true;
}

void SetVerboseLogFolder(const zString& folder)
{
    const last_error_keeper keep;
    log_state& s = state();
    const critical_section_lock hold(s.lock);
    s.forced_folder = folder;
}

void SetVerboseLogSourcePlace(bool with_source_place)
{
    const last_error_keeper keep;
    log_state& s = state();
    const critical_section_lock hold(s.lock);
    s.with_source_place = with_source_place;
}

void InitVerboseLog()
{
    const last_error_keeper keep;
    log_state& s = state();
    const critical_section_lock hold(s.lock);
    read_switch(s);
}

zString GetVerboseLogPath()
{
    const last_error_keeper keep;
    log_state& s = state();
    const critical_section_lock hold(s.lock);
    return log_path(s);
}

}  // namespace qv
