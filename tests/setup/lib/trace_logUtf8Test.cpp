// This program's ANSI code page is UTF-8 (its manifest says so): characters of three and
// four bytes, where a cut at a fixed byte count would leave half a character.
#include "trace_log.h"

#include "TraceTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace tracetest;

std::string utf8(const std::wstring& text)
{
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), bytes, nullptr, nullptr);
    return out;
}

std::wstring repeated(const std::wstring& piece, size_t count)
{
    std::wstring out;
    for (size_t i = 0; i < count; ++i) out += piece;
    return out;
}

TEST(TraceUtf8, ALongTextIsCutBetweenCharacters)
{
    ASSERT_EQ(GetACP(), 65001u) << "the program's manifest sets the UTF-8 code page";
    remove_trace_key();
    const scratch_folder folder(L"setup_trace");
    const std::wstring path = folder.join(L"trace.bin");
    ASSERT_TRUE(make_trace_key(&path));
    qv::InitTracing();

    const std::wstring euro = L"\u20AC", face = L"\U0001F600";  // 3 bytes; 4 bytes from two wide characters
    struct Case {
        const char* name;
        std::wstring text;
        std::wstring kept;
    };
    const Case cases[] = {
        {"one byte before", L"a" + repeated(euro, 6000), L"a" + repeated(euro, 5460)},
        {"two bytes before", L"ab" + repeated(euro, 6000), L"ab" + repeated(euro, 5460)},
        {"three bytes before fill the buffer", L"abc" + repeated(euro, 6000), L"abc" + repeated(euro, 5460)},
        {"surrogate pairs stay whole", L"a" + repeated(face, 5000), L"a" + repeated(face, 4095)},
        // Three bytes are left: room for a lone high surrogate's replacement, not for the pair.
        {"a pair is never halved", L"abcd" + repeated(face, 5000), L"abcd" + repeated(face, 4094)},
        {"closing CR LF kept", L"ab" + repeated(euro, 6000) + L"\r\n", L"ab" + repeated(euro, 5459) + L"\r\n"},
    };
    for (const Case& c : cases) qv::WriteTraceRecord(zString(c.text));
    qv::TraceRecord(L"Caf\u00E9", L"\u00FCber", L"%s", repeated(euro, 6000).c_str());

    const trace_file trace = read_trace(path);
    remove_trace_key();
    ASSERT_TRUE(trace.whole);
    ASSERT_EQ(trace.records.size(), header_records + std::size(cases) + 2);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        const std::string& got = trace.records[header_records + i];
        EXPECT_LE(got.size(), 16383u);
        EXPECT_EQ(got, utf8(cases[i].kept));
    }
    // The details are cut at 16381 characters first, then again to the buffer's bytes.
    EXPECT_EQ(trace.records[header_records + std::size(cases)], "Caf\xC3\xA9|\xC3\xBC" "ber|");
    EXPECT_EQ(trace.records.back(), utf8(repeated(euro, 5460) + L"\r\n"));
}

}  // namespace
