#include "verbose_log.h"

#include "handle.h"
#include "registry_text.h"

#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <vector>

// Each case runs as its own process: the log's state, read once per process, starts afresh.
namespace {

constexpr wchar_t switch_key[] = L"SOFTWARE\\Corvane\\23.0\\Professional";
using bytes = std::vector<unsigned char>;

// The switch key, absent when the case starts and removed when it ends (the parents only
// when nothing else lives in them).
class switch_registry {
public:
    switch_registry() { remove(); }
    ~switch_registry() { remove(); }
    void set_dword(const wchar_t* name, DWORD value) const
    {
        set(name, REG_DWORD, &value, sizeof value);
    }
    // With `terminated` false the value is stored without its zero.
    void set_string(const wchar_t* name, const std::wstring& text, bool terminated = true, DWORD type = REG_SZ) const
    {
        set(name, type, text.c_str(), static_cast<DWORD>((text.size() + (terminated ? 1 : 0)) * sizeof(wchar_t)));
    }
    void set(const wchar_t* name, DWORD type, const void* data, DWORD size) const
    {
        qv::registry_key key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, switch_key, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr),
            ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    }
    void create() const
    {
        qv::registry_key key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, switch_key, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr),
            ERROR_SUCCESS);
    }

private:
    static void remove()
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, switch_key);
        RegDeleteKeyW(HKEY_CURRENT_USER, switch_key);
        RegDeleteKeyW(HKEY_CURRENT_USER, L"SOFTWARE\\Corvane\\23.0");
        RegDeleteKeyW(HKEY_CURRENT_USER, L"SOFTWARE\\Corvane");
    }
};

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bytes read_file(const std::wstring& path)
{
    qv::file_handle file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return {};
    bytes content(GetFileSize(file.get(), nullptr));
    DWORD read = 0;
    if (!content.empty()) ReadFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &read, nullptr);
    content.resize(read);
    return content;
}

void write_file(const std::wstring& path, const bytes& content)
{
    qv::file_handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file);
    DWORD written = 0;
    if (!content.empty()) WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
}

bytes utf16(std::wstring_view text)
{
    bytes out;
    for (const wchar_t c : text) {
        out.push_back(static_cast<unsigned char>(c & 0xFF));
        out.push_back(static_cast<unsigned char>(c >> 8));
    }
    return out;
}

// The text of UTF-16LE bytes after `skip` bytes, as ASCII for the patterns; a character
// beyond ASCII becomes '?'.
std::string ascii_of(const bytes& content, size_t skip)
{
    std::string out;
    for (size_t i = skip; i + 1 < content.size(); i += 2) {
        const unsigned c = content[i] | content[i + 1] << 8;
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    if ((content.size() - skip) % 2) out += "<odd byte>";
    return out;
}

std::string now(bool date)
{
    wchar_t buffer[128] = {};
    if (date) GetDateFormatW(LOCALE_SYSTEM_DEFAULT, 0, nullptr, L"M-d-yyyy", buffer, 128);
    else GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, 0, nullptr, L"hh':'mm':'ss tt", buffer, 128);
    return ascii_of(utf16(buffer), 0);
}

std::string program_folder()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    folder.erase(folder.rfind(L'\\'));
    return ascii_of(utf16(folder), 0);
}

// The date and time of a line, matched by their pictures; the rest of it literally.
const std::string stamp = R"((\d{1,2}-\d{1,2}-\d{4})\[(\d\d:\d\d:\d\d[^\]\r\n]*)\]: )";

// Seconds since midnight of a time in the log's picture; the day half by the designator that
// the locale gives the afternoon.
int seconds_of(const std::string& time)
{
    const int hours = std::stoi(time.substr(0, 2)) % 12, minutes = std::stoi(time.substr(3, 2)),
              seconds = std::stoi(time.substr(6, 2));
    wchar_t pm[32] = {};
    GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_S2359, pm, 32);
    const std::string designator = ascii_of(utf16(pm), 0);
    const bool afternoon = !designator.empty() && time.size() > 9 && time.substr(9) == designator;
    return ((afternoon ? hours + 12 : hours) * 60 + minutes) * 60 + seconds;
}

class VerboseLog : public testing::Test {
protected:
    std::wstring log_file() const { return folder.join(L"Corvane.log"); }

    switch_registry registry;
    scratch_folder folder{L"qv_verbose_log"};
};

struct SwitchRow {
    const char* name;
    std::function<void(const switch_registry&, const std::wstring& folder)> setup;
    bool on;
};

void PrintTo(const SwitchRow& row, std::ostream* out) { *out << row.name; }

class VerboseLogSwitch : public VerboseLog, public testing::WithParamInterface<SwitchRow> {};

TEST_P(VerboseLogSwitch, OnOnlyForTheDwordOne)
{
    GetParam().setup(registry, folder.path());
    qv::WriteVerboseLog(L"first", L"x.cpp", 1);
    qv::WriteVerboseLog(L"second", L"x.cpp", 2);
    EXPECT_EQ(exists(log_file()), GetParam().on);
    if (GetParam().on) {
        const std::string text = ascii_of(read_file(log_file()), 2);
        EXPECT_TRUE(std::regex_match(text, std::regex(stamp + R"(first  --  File: x\.cpp, Line: 1\r\n)" + stamp
                                                      + R"(second  --  File: x\.cpp, Line: 2\r\n)")))
            << text;
    }
}

INSTANTIATE_TEST_SUITE_P(Registry, VerboseLogSwitch,
    testing::Values(
        SwitchRow{"dword_1",
            [](const switch_registry& r, const std::wstring& f) {
                r.set_dword(L"DoVerboseLogging", 1);
                r.set_string(L"VerboseLogPath", f);
            },
            true},
        SwitchRow{"dword_0",
            [](const switch_registry& r, const std::wstring& f) {
                r.set_dword(L"DoVerboseLogging", 0);
                r.set_string(L"VerboseLogPath", f);
            },
            false},
        SwitchRow{"dword_2",
            [](const switch_registry& r, const std::wstring& f) {
                r.set_dword(L"DoVerboseLogging", 2);
                r.set_string(L"VerboseLogPath", f);
            },
            false},
        SwitchRow{"string_1",
            [](const switch_registry& r, const std::wstring& f) {
                r.set_string(L"DoVerboseLogging", L"1");
                r.set_string(L"VerboseLogPath", f);
            },
            false},
        SwitchRow{"binary_1",
            [](const switch_registry& r, const std::wstring& f) {
                const DWORD one = 1;
                r.set(L"DoVerboseLogging", REG_BINARY, &one, sizeof one);
                r.set_string(L"VerboseLogPath", f);
            },
            false},
        SwitchRow{"missing_value",
            [](const switch_registry& r, const std::wstring& f) { r.set_string(L"VerboseLogPath", f); }, false},
        SwitchRow{"missing_key",
            [](const switch_registry&, const std::wstring& f) { qv::SetVerboseLogFolder(zString(f)); }, false},
        SwitchRow{"enabled_without_registry",
            [](const switch_registry&, const std::wstring& f) {
                qv::EnableVerboseLog();
                qv::SetVerboseLogFolder(zString(f));
            },
            true},
        SwitchRow{"forced_folder_over_registry",
            [](const switch_registry& r, const std::wstring& f) {
                r.set_dword(L"DoVerboseLogging", 1);
                r.set_string(L"VerboseLogPath", f + L"\\elsewhere");
                qv::SetVerboseLogFolder(zString(f));
            },
            true}),
    [](const testing::TestParamInfo<SwitchRow>& info) { return std::string(info.param.name); });

TEST_F(VerboseLog, TheSwitchIsReadOncePerProcess)
{
    registry.set_dword(L"DoVerboseLogging", 0);
    registry.set_string(L"VerboseLogPath", folder.path());
    qv::WriteVerboseLog(L"first", L"x.cpp", 1);
    registry.set_dword(L"DoVerboseLogging", 1);
    qv::WriteVerboseLog(L"second", L"x.cpp", 2);
    qv::WriteVerboseLog(L"third", L"x.cpp", 3);
    EXPECT_FALSE(exists(log_file())) << "the value changed during the run switched the log on";
    qv::EnableVerboseLog();
    qv::WriteVerboseLog(L"fourth", L"x.cpp", 4);
    EXPECT_TRUE(exists(log_file()));
}

TEST_F(VerboseLog, InitReadsTheSwitchNowAndOnlyThen)
{
    registry.set_dword(L"DoVerboseLogging", 1);
    registry.set_string(L"VerboseLogPath", folder.path());
    qv::InitVerboseLog();
    registry.set_dword(L"DoVerboseLogging", 0);
    qv::WriteVerboseLog(L"first", L"x.cpp", 1);
    EXPECT_TRUE(exists(log_file())) << "the switch was read again after InitVerboseLog";
}

TEST_F(VerboseLog, LinesWithAndWithoutTheSourcePlace)
{
    qv::EnableVerboseLog();
    qv::SetVerboseLogFolder(zString(folder.path()));
    const std::string date_before = now(true), time_before = now(false);
    qv::WriteVerboseLog(L"Prerequisite started", L"..\\..\\Shared\\Setup\\SetupPrereqMgr", 412);
    qv::SetVerboseLogSourcePlace(false);
    qv::WriteVerboseLog(L"No place here", L"..\\..\\Shared\\Setup\\SetupPrereqMgr", 413);
    qv::SetVerboseLogSourcePlace(true);
    qv::WriteVerboseLog(L"Zero line", L"Setup\\CSetup.cpp", 0);
    qv::WriteVerboseLog(L"Negative", L"CSetup.cpp", -5);
    const std::string date_after = now(true), time_after = now(false);

    const bytes content = read_file(log_file());
    ASSERT_GE(content.size(), 2u);
    EXPECT_EQ(content[0], 0xFF);
    EXPECT_EQ(content[1], 0xFE);
    const std::string text = ascii_of(content, 2);
    const std::regex whole(stamp + R"(Prerequisite started  --  File: Setup\\SetupPrereqMgr, Line: 412\r\n)" + stamp
                           + "No place here\r\n" + stamp + R"(Zero line  --  File: Setup\\CSetup\.cpp, Line: 0\r\n)"
                           + stamp + R"(Negative  --  File: CSetup\.cpp, Line: -5\r\n)");
    std::smatch found;
    ASSERT_TRUE(std::regex_match(text, found, whole)) << text;
    const int from = seconds_of(time_before), to = seconds_of(time_after);
    for (size_t group = 1; group < found.size(); group += 2) {
        const std::string date = found[group], time = found[group + 1];
        EXPECT_TRUE(date == date_before || date == date_after) << date;
        const int at = seconds_of(time);
        EXPECT_TRUE(from > to || (from <= at && at <= to)) << time << " not within " << time_before << " .. " << time_after;
    }
}

TEST(VerboseLogSourcePlace, LastFolderAndFileName)
{
    struct Row {
        const wchar_t* file;
        const wchar_t* place;
    } rows[] = {
        {L"..\\..\\Shared\\Setup\\SetupPrereqMgr", L"Setup\\SetupPrereqMgr"},
        {L"SetupPrereqMgr.cpp", L"SetupPrereqMgr.cpp"},
        {L"Setup\\SetupPrereqMgr.cpp", L"Setup\\SetupPrereqMgr.cpp"},
        {L"C:\\src\\setup\\lib\\verbose_log.cpp", L"lib\\verbose_log.cpp"},
        {L"../Shared/Setup/SetupPrereqMgr.cpp", L"Setup\\SetupPrereqMgr.cpp"},
        {L"..\\Shared/Setup\\\\SetupPrereqMgr.cpp", L"Setup\\SetupPrereqMgr.cpp"},
        {L"C:\\x.cpp", L"C:\\x.cpp"},
        {L"\\x.cpp", L"x.cpp"},
        {L"", L""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(qv::verbose_log_source_place(row.file), row.place) << testing::PrintToString(std::wstring(row.file));
    }
}

std::vector<std::string> split_lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));  // an unfinished line
            break;
        }
        lines.push_back(text.substr(start, end - start + 2));
        start = end + 2;
    }
    return lines;
}

struct writer {
    HANDLE start;
    int thread;
    bool failed = false;
};

DWORD WINAPI write_lines(void* parameter)
{
    writer& w = *static_cast<writer*>(parameter);
    try {
        if (WaitForSingleObject(w.start, 10000) != WAIT_OBJECT_0) {
            w.failed = true;
            return 1;
        }
        for (int i = 0; i < 200; ++i) {
            zString message;
            message.format(L"thread %d message %03d", w.thread, i);
            qv::WriteVerboseLog(message, L"..\\Shared\\Setup\\Worker.cpp", i);
        }
    } catch (...) {
        w.failed = true;
    }
    return 0;
}

TEST_F(VerboseLog, TwoThreadsWriteWholeLines)
{
    qv::EnableVerboseLog();
    qv::SetVerboseLogFolder(zString(folder.path()));
    qv::kernel_handle start(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    writer writers[2] = {{start.get(), 0}, {start.get(), 1}};
    qv::kernel_handle threads[2];
    for (int t = 0; t < 2; ++t) {
        threads[t].reset(CreateThread(nullptr, 0, write_lines, &writers[t], 0, nullptr));
        ASSERT_TRUE(threads[t]);
    }
    SetEvent(start.get());
    const HANDLE both[2] = {threads[0].get(), threads[1].get()};
    ASSERT_EQ(WaitForMultipleObjects(2, both, TRUE, 30000), WAIT_OBJECT_0);
    EXPECT_FALSE(writers[0].failed || writers[1].failed);

    const bytes content = read_file(log_file());
    ASSERT_GE(content.size(), 2u);
    EXPECT_EQ(content[0], 0xFF);
    EXPECT_EQ(content[1], 0xFE);
    const std::regex line(stamp + R"(thread ([01]) message (\d{3})  --  File: Setup\\Worker\.cpp, Line: (\d+)\r\n)");
    std::map<std::string, int> seen;
    int malformed = 0;
    for (const std::string& text : split_lines(ascii_of(content, 2))) {
        std::smatch found;
        if (!std::regex_match(text, found, line) || std::stoi(found[4]) != std::stoi(found[5])) {
            if (++malformed <= 3) ADD_FAILURE() << "malformed line: " << text;
            continue;
        }
        ++seen[found[3].str() + "-" + found[4].str()];
    }
    EXPECT_EQ(malformed, 0);
    EXPECT_EQ(seen.size(), 400u) << "lines were lost";
    for (const auto& [message, count] : seen) EXPECT_EQ(count, 1) << message;
}

TEST(RegistryText, ReadsByTheReturnedCountAndRefusesLongerText)
{
    // Past the count stand characters a reader must not take.
    const wchar_t data[] = L"abc\0zzXXXXXXXX";
    struct Row {
        const char* name;
        DWORD bytes;
        size_t max;
        bool found;
        const wchar_t* text;
    } rows[] = {
        {"without its zero", 6, 260, true, L"abc"},
        {"with its zero", 8, 260, true, L"abc"},
        {"up to its first zero", 12, 260, true, L"abc"},
        {"an odd last byte", 7, 260, true, L"abc"},
        {"shorter count", 4, 260, true, L"ab"},
        {"nothing", 0, 260, true, L""},
        {"exactly the most", 6, 3, true, L"abc"},
        {"exactly the most, zero counted", 8, 3, true, L"abc"},
        {"one longer", 6, 2, false, L""},
    };
    for (const Row& row : rows) {
        const auto text = qv::registry_text(data, row.bytes, row.max);
        ASSERT_EQ(text.has_value(), row.found) << row.name;
        if (text) {
            EXPECT_EQ(*text, row.text) << row.name;
        }
    }
}

struct PathRow {
    const char* name;
    std::function<void(const switch_registry&, const std::wstring& folder)> setup;
    std::function<std::string(const std::wstring& folder)> expected;  // the log file's folder
};

void PrintTo(const PathRow& row, std::ostream* out) { *out << row.name; }

class VerboseLogPath : public VerboseLog, public testing::WithParamInterface<PathRow> {};

std::string ascii(const std::wstring& text) { return ascii_of(utf16(text), 0); }

// A folder path of exactly `length` characters below `folder`.
std::wstring folder_of_length(const std::wstring& folder, size_t length)
{
    std::wstring path = folder + L"\\";
    path.append(length - path.size(), L'p');
    return path;
}

TEST_P(VerboseLogPath, FolderFromTheForcedFolderTheRegistryOrTheProgram)
{
    registry.set_dword(L"DoVerboseLogging", 1);
    GetParam().setup(registry, folder.path());
    const std::string expected = GetParam().expected(folder.path()) + "\\Corvane.log";
    EXPECT_EQ(ascii(qv::GetVerboseLogPath().str()), expected);
    // The program's folder is shared by every test program: only the path is checked there.
    if (expected == ascii(log_file())) {
        qv::WriteVerboseLog(L"line", L"x.cpp", 1);
        const bytes content = read_file(log_file());
        const std::string text = ascii_of(content, 2);
        EXPECT_TRUE(std::regex_match(text, std::regex(stamp + R"(line  --  File: x\.cpp, Line: 1\r\n)"))) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(Registry, VerboseLogPath,
    testing::Values(
        PathRow{"terminated",
            [](const switch_registry& r, const std::wstring& f) { r.set_string(L"VerboseLogPath", f); },
            [](const std::wstring& f) { return ascii(f); }},
        PathRow{"without_its_zero",
            [](const switch_registry& r, const std::wstring& f) { r.set_string(L"VerboseLogPath", f, false); },
            [](const std::wstring& f) { return ascii(f); }},
        PathRow{"exactly_260",
            [](const switch_registry& r, const std::wstring& f) {
                r.set_string(L"VerboseLogPath", folder_of_length(f, 260));
            },
            [](const std::wstring& f) { return ascii(folder_of_length(f, 260)); }},
        PathRow{"exactly_260_without_its_zero",
            [](const switch_registry& r, const std::wstring& f) {
                r.set_string(L"VerboseLogPath", folder_of_length(f, 260), false);
            },
            [](const std::wstring& f) { return ascii(folder_of_length(f, 260)); }},
        PathRow{"261_is_ignored",
            [](const switch_registry& r, const std::wstring& f) {
                r.set_string(L"VerboseLogPath", folder_of_length(f, 261));
            },
            [](const std::wstring&) { return program_folder(); }},
        PathRow{"261_without_its_zero_is_ignored",
            [](const switch_registry& r, const std::wstring& f) {
                r.set_string(L"VerboseLogPath", folder_of_length(f, 261), false);
            },
            [](const std::wstring&) { return program_folder(); }},
        PathRow{"much_longer_is_ignored",
            [](const switch_registry& r, const std::wstring& f) {
                r.set_string(L"VerboseLogPath", folder_of_length(f, 1000));
            },
            [](const std::wstring&) { return program_folder(); }},
        PathRow{"empty",
            [](const switch_registry& r, const std::wstring&) { r.set_string(L"VerboseLogPath", L""); },
            [](const std::wstring&) { return program_folder(); }},
        PathRow{"expandable_string_is_ignored",
            [](const switch_registry& r, const std::wstring& f) {
                r.set_string(L"VerboseLogPath", f, true, REG_EXPAND_SZ);
            },
            [](const std::wstring&) { return program_folder(); }},
        PathRow{"missing",
            [](const switch_registry&, const std::wstring&) {},
            [](const std::wstring&) { return program_folder(); }},
        PathRow{"forced_folder_with_backslash",
            [](const switch_registry& r, const std::wstring& f) {
                r.set_string(L"VerboseLogPath", L"C:\\elsewhere");
                qv::SetVerboseLogFolder(zString(f + L"\\"));
            },
            [](const std::wstring& f) { return ascii(f); }}),
    [](const testing::TestParamInfo<PathRow>& info) { return std::string(info.param.name); });

struct MarkRow {
    const char* name;
    bool existing;
    bytes before;
    bool marked;  // FF FE in front of the first line
};

void PrintTo(const MarkRow& row, std::ostream* out) { *out << row.name; }

class VerboseLogMark : public VerboseLog, public testing::WithParamInterface<MarkRow> {};

TEST_P(VerboseLogMark, ExistingContentStaysAndOnlyAnEmptyFileGetsTheMark)
{
    qv::EnableVerboseLog();
    qv::SetVerboseLogFolder(zString(folder.path()));
    if (GetParam().existing) write_file(log_file(), GetParam().before);
    qv::WriteVerboseLog(L"appended", L"x.cpp", 7);
    const bytes content = read_file(log_file());
    bytes expected_front = GetParam().before;
    if (GetParam().marked) expected_front = {0xFF, 0xFE};
    ASSERT_GE(content.size(), expected_front.size());
    EXPECT_EQ(bytes(content.begin(), content.begin() + expected_front.size()), expected_front);
    const std::string text = ascii_of(content, expected_front.size());
    EXPECT_TRUE(std::regex_match(text, std::regex(stamp + R"(appended  --  File: x\.cpp, Line: 7\r\n)"))) << text;
}

INSTANTIATE_TEST_SUITE_P(Files, VerboseLogMark,
    testing::Values(MarkRow{"new_file", false, {}, true}, MarkRow{"empty_file", true, {}, true},
        MarkRow{"marked", true, {0xFF, 0xFE, 'o', 0, 'l', 0, 'd', 0, '\r', 0, '\n', 0}, false},
        MarkRow{"unmarked_text", true, {'o', 0, 'l', 0, 'd', 0, '\r', 0, '\n', 0}, false},
        MarkRow{"narrow_text", true, {'a', 'b', 'c', '\r', '\n', 'd', 'e'}, false},
        MarkRow{"one_byte", true, {0xFF}, false},
        MarkRow{"big_endian_mark", true, {0xFE, 0xFF, 0, 'x'}, false}),
    [](const testing::TestParamInfo<MarkRow>& info) { return std::string(info.param.name); });

TEST_F(VerboseLog, TheMarkIsCheckedOncePerProcess)
{
    qv::EnableVerboseLog();
    qv::SetVerboseLogFolder(zString(folder.path()));
    qv::WriteVerboseLog(L"first", L"x.cpp", 1);
    ASSERT_EQ(read_file(log_file()).at(0), 0xFF);
    write_file(log_file(), {});
    qv::WriteVerboseLog(L"second", L"x.cpp", 2);
    const std::string text = ascii_of(read_file(log_file()), 0);
    EXPECT_TRUE(std::regex_match(text, std::regex(stamp + R"(second  --  File: x\.cpp, Line: 2\r\n)"))) << text;
}

TEST_F(VerboseLog, KeepsTheLastError)
{
    registry.set_dword(L"DoVerboseLogging", 1);
    registry.set_string(L"VerboseLogPath", folder.path());
    const std::function<void()> steps[] = {
        [] { qv::WriteVerboseLog(L"switch read, new file", L"x.cpp", 1); },
        [] { qv::WriteVerboseLog(L"existing file", L"x.cpp", 2); },
        [] { (void)qv::GetVerboseLogPath(); },
        [] { qv::InitVerboseLog(); },
        [] { qv::SetVerboseLogSourcePlace(false); },
        [] { qv::EnableVerboseLog(); },
        [&] { qv::SetVerboseLogFolder(zString(folder.join(L"missing"))); },
        [] { qv::WriteVerboseLog(L"cannot be opened", L"x.cpp", 3); },
    };
    DWORD code = 9000;
    for (const auto& step : steps) {
        SetLastError(++code);
        step();
        EXPECT_EQ(GetLastError(), code) << "step " << code - 9000;
    }
    const std::string text = ascii_of(read_file(log_file()), 2);
    EXPECT_TRUE(std::regex_match(text, std::regex(stamp + R"(switch read, new file  --  File: x\.cpp, Line: 1\r\n)"
                                                  + stamp + R"(existing file  --  File: x\.cpp, Line: 2\r\n)")))
        << text;
}

}  // namespace
