// The error report's text and address.
#include "ErrorReport.h"

#include <gtest/gtest.h>

namespace {

TEST(ErrorReport, TextNamesThePlaceTheProductAndTheSystem)
{
    error_report_facts facts;
    facts.source = L"setup";
    facts.line = 236;
    facts.product = L"Sample";
    facts.company = L"Corvane";
    facts.company_url = L"http://corvane.example";
    facts.product_code = L"{1}";
    facts.internal_version = L"7.00.0001";
    facts.web = true;
    facts.package = true;
    facts.os_name = L"Windows 7";
    facts.service_pack = 1;
    facts.build = 7601;
    facts.ie_version = L"8.0";
    EXPECT_EQ(BuildErrorReport(facts),
        L">setup (236)\r\nPAPP:Sample\r\nPVENDOR:Corvane (http://corvane.example)\r\nPGUID:{1}\r\n"
        L"$7.00.0001WEBPAK\r\n@Windows 7 Service Pack 1 (7601) \r\nIE Version: 8.0");
    facts.company_url.clear();
    facts.web = facts.package = false;
    EXPECT_NE(BuildErrorReport(facts).find(L"PVENDOR:Corvane\r\nPGUID:{1}\r\n$7.00.0001\r\n@"), zString::npos);
}

TEST(ErrorReport, AddressFillsItsQueryAndEncodesTheErrorInformation)
{
    const struct {
        const char* name;
        const wchar_t* address;
        const wchar_t* info;
        const wchar_t* filled;
    } cases[] = {
        {"plain", L"http://e/r?ErrorCode=%d : 0x%x&ErrorInfo=%s", L"disk full",
            L"http://e/r?ErrorCode=-5003 : 0x80004005&ErrorInfo=disk%20full"},
        {"query characters", L"h?i=%s", L"a&b=c#d%", L"h?i=a%26b%3Dc%23d%25"},
        {"not ASCII", L"h?i=%s", L"\u00e9", L"h?i=%C3%A9"},
        // A hostile address is never a printf format: what is no placeholder stays.
        {"other conversions", L"h?%n%p%s%s%", L"x", L"h?%n%pxx%"},
        {"no placeholders", L"http://e/", L"x", L"http://e/"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorReportAddress(c.address, -5003, static_cast<HRESULT>(0x80004005), c.info).str(), c.filled) << c.name;
}

}  // namespace
