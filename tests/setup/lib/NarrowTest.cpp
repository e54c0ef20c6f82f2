// This program's ANSI code page is UTF-8 (its manifest says so): three bytes for many
// characters, more than two bytes per character of room would hold.
#include "zpath.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string converted(const std::wstring& text, UINT codepage)
{
    const int bytes = WideCharToMultiByte(codepage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(codepage, 0, text.data(), static_cast<int>(text.size()), out.data(), bytes, nullptr, nullptr);
    return out;
}

TEST(NarrowCopy, ThreeBytesPerCharacterFitTheirBuffer)
{
    ASSERT_EQ(GetACP(), 65001u) << "the program's manifest sets the UTF-8 code page";
    zString s;
    std::wstring text;
    // Lengths on both sides of the 64-byte steps, growing and shrinking the same buffer.
    for (size_t length : {0, 1, 20, 21, 22, 63, 64, 300, 5, 1000}) {
        text.assign(length, L'\u20AC');
        s.assign(text.c_str());
        const std::string narrow = s.narrow();
        EXPECT_EQ(narrow.size(), 3 * length) << length;
        EXPECT_EQ(narrow, converted(text, CP_UTF8)) << length;
        EXPECT_STREQ(zpath(text.c_str()).narrow(), narrow.c_str()) << length;
    }
}

TEST(NarrowCopy, FollowsTheThreadsCodePage)
{
    const LCID previous = GetThreadLocale();
    ASSERT_TRUE(SetThreadLocale(MAKELCID(0x411, SORT_DEFAULT)));
    const std::wstring japanese = L"\u65E5\u672C\u8A9E setup";
    const std::string expected = converted(japanese, 932);
    EXPECT_EQ(expected, "\x93\xfa\x96\x7b\x8c\xea setup");
    EXPECT_EQ(std::string(zString(japanese).narrow()), expected);
    EXPECT_EQ(std::string(zpath(japanese.c_str()).narrow()), expected);

    zString back;
    char* buffer = back.get_narrow_buffer(expected.size());
    memcpy(buffer, expected.data(), expected.size());
    back.release_buffer();
    EXPECT_EQ(back.str(), japanese);
    SetThreadLocale(previous);
}

}  // namespace
