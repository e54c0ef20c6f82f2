// FTP listings through the transfer class against tools/ftppeer.py on loopback, which every
// case runs under. The file's own session is asynchronous, as it is in the launcher.
#include "inet_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>

namespace {

std::wstring port(const char* variable)
{
    const char* value = std::getenv(variable);
    return value ? std::wstring(value, value + strlen(value)) : L"0";
}

// Names the peer's port by variable, so that each URL carries the port explicitly.
std::wstring ftp(const char* port_variable, const wchar_t* login, const wchar_t* path)
{
    return L"ftp://" + std::wstring(login) + L"127.0.0.1:" + port(port_variable) + path;
}

qv::http_file_ptr make_file()
{
    return qv::http_file_ptr(new qv::http_file(L"agent", 10000));
}

ULONGLONG filetime_value(const FILETIME& t)
{
    return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

struct listing_case {
    const char* name;
    const char* port;   // the peer's variable
    const wchar_t* login;
    const wchar_t* path;
    bool found;
    DWORD size;         // of the first entry found
};

constexpr DWORD none = INVALID_FILE_SIZE;

const listing_case listing_cases[] = {
    {"file", "TAVRIN_FTP_PORT", L"", L"/pub/readme.txt", true, 1234},
    {"file_answered_in_pieces", "TAVRIN_FTP_SLOW_PORT", L"", L"/pub/readme.txt", true, 1234},
    {"file_of_a_name_outside_ascii", "TAVRIN_FTP_PORT", L"", L"/pub/caf\u00e9.txt", true, 77},
    {"folder_gives_its_first_entry", "TAVRIN_FTP_PORT", L"", L"/pub/sub/", true, 10},
    {"folder_pattern_gives_its_first_entry", "TAVRIN_FTP_PORT", L"", L"/pub/sub/*", true, 10},
    {"user_and_password", "TAVRIN_FTP_PORT", L"tester:secret@", L"/pub/readme.txt", true, 1234},
    {"missing_file", "TAVRIN_FTP_PORT", L"", L"/pub/nope.txt", false, none},
    {"missing_folder", "TAVRIN_FTP_PORT", L"", L"/nope/readme.txt", false, none},
    {"empty_folder", "TAVRIN_FTP_PORT", L"", L"/empty/", false, none},
    {"wrong_password", "TAVRIN_FTP_PORT", L"tester:wrong@", L"/pub/readme.txt", false, none},
    {"nothing_listening", "TAVRIN_FTP_CLOSED_PORT", L"", L"/pub/readme.txt", false, none},
};

void PrintTo(const listing_case& c, std::ostream* out)
{
    *out << c.name;
}

class FtpListing : public ::testing::TestWithParam<listing_case> {};

// Each call lists anew; all three must agree on what the first search found.
TEST_P(FtpListing, AnswersWhatTheFirstSearchFound)
{
    const listing_case& c = GetParam();
    const std::wstring url = ftp(c.port, c.login, c.path);
    auto file = make_file();
    const ULONGLONG started = GetTickCount64();

    EXPECT_EQ(file->ftp_find(url.c_str()), c.found);
    EXPECT_EQ(file->ftp_size(url.c_str()), c.size);
    const FILETIME untouched = {0x1234, 0x5678};
    FILETIME written = untouched;
    EXPECT_EQ(file->ftp_last_write(url.c_str(), written), c.found);
    if (c.found) {
        SYSTEMTIME st = {};
        ASSERT_TRUE(FileTimeToSystemTime(&written, &st));
        EXPECT_EQ(st.wYear, 2015);
        EXPECT_EQ(st.wMonth, 10);
        EXPECT_EQ(st.wDay, 21);
    } else {
        EXPECT_EQ(filetime_value(written), filetime_value(untouched)) << "no entry, yet the time was written";
    }
    // Loopback answers or refuses at once, the piecewise peer within a few seconds.
    EXPECT_LT(GetTickCount64() - started, 15000u);
}

INSTANTIATE_TEST_SUITE_P(, FtpListing, ::testing::ValuesIn(listing_cases),
    [](const ::testing::TestParamInfo<listing_case>& info) { return std::string(info.param.name); });

// What WinINet itself reads from the listing line, on a synchronous session of our own.
bool platform_find(const std::wstring& path, WIN32_FIND_DATAW& data)
{
    qv::internet_handle session(InternetOpenW(L"agent", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    const INTERNET_PORT peer = static_cast<INTERNET_PORT>(std::wcstoul(port("TAVRIN_FTP_PORT").c_str(), nullptr, 10));
    qv::internet_handle connection(InternetConnectW(session.get(), L"127.0.0.1", peer, nullptr, nullptr,
        INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0));
    qv::internet_handle find(connection ? FtpFindFirstFileW(connection.get(), path.c_str(), &data, INTERNET_FLAG_RELOAD, 0)
                                        : nullptr);
    return find.valid();
}

// 5000000000 is 0x12A05F200. Wine reads a listing's size into 31 bits and gives 0x7FFFFFFF;
// either way the answer is the low half of what WinINet read, never the high one or -1.
TEST(FtpSize, BeyondThirtyTwoBitsGivesTheLowHalf)
{
    WIN32_FIND_DATAW read = {};
    ASSERT_TRUE(platform_find(L"/pub/big.bin", read));
    const ULONGLONG whole = (static_cast<ULONGLONG>(read.nFileSizeHigh) << 32) | read.nFileSizeLow;
    ASSERT_TRUE(whole == 5000000000ull || whole == 0x7FFFFFFFull) << "WinINet read " << whole;

    auto file = make_file();
    EXPECT_EQ(file->ftp_size(ftp("TAVRIN_FTP_PORT", L"", L"/pub/big.bin").c_str()), read.nFileSizeLow);
    if (whole == 5000000000ull) {
        EXPECT_EQ(read.nFileSizeLow, 0x2A05F200u);
    }
}

}  // namespace
