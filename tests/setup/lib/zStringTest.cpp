#include "zString.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

std::string shown(std::wstring_view s)
{
    std::string out;
    for (wchar_t c : s) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

// Placeholders ---------------------------------------------------------------------------

TEST(zStringPlaceholders, ReplaceByTheTable)
{
    const wchar_t* two[] = {L"one", L"two"};
    const wchar_t* withNull[] = {L"one", nullptr, L"three"};
    struct Row {
        const char* name;
        const wchar_t* text;
        const wchar_t* const* args;
        size_t count;
        const wchar_t* expected;
    } rows[] = {
        {"two arguments", L"%1 and %2", two, 2, L"one and two"},
        {"one argument, the second missing", L"%1 and %2", two, 1, L"one and ?"},
        {"no arguments at all", L"[%1]", nullptr, 0, L"[?]"},
        {"doubled percent before a digit", L"%%1", two, 2, L"%one"},
        {"trailing percent", L"50%", two, 2, L"50%"},
        {"percent then another character", L"%x%-", two, 2, L"%x%-"},
        {"%0 names no argument", L"a%0b", two, 2, L"a%0b"},
        {"lower-case letters name none", L"%a", two, 2, L"%a"},
        {"a null argument inserts nothing", L"<%2>%3", withNull, 3, L"<>three"},
        {"a placeholder repeated", L"%2%2%1", two, 2, L"twotwoone"},
        {"beyond the list", L"%9%A", two, 2, L"??"},
        {"empty text", L"", two, 2, L""},
    };
    for (const Row& row : rows) {
        zStringExact s(row.text);
        s.replace_placeholders(row.args, row.count);
        EXPECT_EQ(s.str(), row.expected) << row.name;
    }
}

TEST(zStringPlaceholders, LettersNameArgumentsTenToThirtyFive)
{
    std::vector<std::wstring> values;
    std::vector<const wchar_t*> args;
    for (int i = 0; i < 35; ++i) values.push_back(L"v" + std::to_wstring(i + 1));
    for (const auto& v : values) args.push_back(v.c_str());
    zStringExact s(L"%9|%A|%Z");
    s.replace_placeholders(args.data(), args.size());
    EXPECT_EQ(s.str(), L"v9|v10|v35");

    zStringExact short_(L"%Z");
    short_.replace_placeholders(args.data(), 34);
    EXPECT_EQ(short_.str(), L"?");
}

// Storage --------------------------------------------------------------------------------

TEST(zStringStorage, SevenCharactersStayInlineTheEighthMovesToABstr)
{
    zString s(L"1234567");
    EXPECT_TRUE(s.is_inline());
    s += L"8";
    EXPECT_FALSE(s.is_inline());
    EXPECT_EQ(s.str(), L"12345678");
    // The heap text is BSTR-allocated: its length prefix holds the capacity.
    EXPECT_GE(SysStringLen(const_cast<BSTR>(s.c_str())), 8u);
    s.erase(3);
    EXPECT_EQ(s.str(), L"123");
    zString moved(std::move(s));
    EXPECT_EQ(moved.str(), L"123");
    EXPECT_TRUE(s.empty());
}

TEST(zStringStorage, ConstructionForms)
{
    const zString base(L"abcdefghij");
    EXPECT_TRUE(zString(static_cast<const wchar_t*>(nullptr)).empty());
    EXPECT_EQ(zString(L"abcdef", 3).str(), L"abc");
    EXPECT_EQ(zString(base, 2, 3).str(), L"cde");
    EXPECT_EQ(zString(base, 7).str(), L"hij");
    EXPECT_EQ(zString(4, L'x').str(), L"xxxx");
    EXPECT_EQ(zString(std::wstring(L"std")).str(), L"std");
    EXPECT_EQ(zStringExact(255, 16).str(), L"ff");
    EXPECT_EQ(zStringExact(-42).str(), L"-42");
    EXPECT_THROW(zString(base, 11), std::out_of_range);
}

TEST(zStringStorage, CodePagesIntoText)
{
    const char le[] = {'h', 0, 'i', 0, 0, 0};
    const char be[] = {0, 'h', 0, 'i', 0, 0};
    struct Row {
        const char* name;
        const char* bytes;
        int length;
        UINT codepage;
        const wchar_t* expected;
    } rows[] = {
        {"UTF-16LE up to the terminator", le, -1, 1200, L"hi"},
        {"UTF-16LE by length", le, 2, 1200, L"h"},
        {"UTF-16BE swapped", be, 4, 1201, L"hi"},
        {"UTF-8", "\xE2\x82\xAC!", -1, CP_UTF8, L"\u20AC!"},
        {"Windows-1252", "\x80", 1, 1252, L"\u20AC"},
        {"nothing", "", 0, CP_UTF8, L""},
    };
    for (const Row& row : rows) {
        zString s;
        s.assign_multibyte(row.bytes, row.length, row.codepage);
        EXPECT_EQ(s.str(), row.expected) << row.name;
        EXPECT_EQ(zString(row.bytes, row.length, row.codepage).str(), row.expected) << row.name;
    }
}

TEST(zStringStorage, TextOperations)
{
    zString s(L"  hello world  ");
    s.trim();
    EXPECT_EQ(s.str(), L"hello world");
    EXPECT_EQ(zString(L"xxabcxx").trim(L"x").str(), L"abc");
    EXPECT_EQ(zString(L"xxxx").trim(L"x").str(), L"");
    EXPECT_EQ(zString(L"a;;").remove_trailing(L';').str(), L"a;");
    EXPECT_EQ(zString(L"a").remove_trailing(L';').str(), L"a");
    EXPECT_EQ(zString(L"abc").insert(1, L"XY").str(), L"aXYbc");
    EXPECT_EQ(zString(L"abc").insert(3, 2, L'-').str(), L"abc--");
    EXPECT_EQ(zString(L"abcdef").replace(1, 3, L"_").str(), L"a_ef");
    EXPECT_EQ(zString(L"abcdef").substr(2, 2).str(), L"cd");
    EXPECT_EQ(zString(L"abc").last_char(), L'c');
    EXPECT_EQ(zString().last_char(), L'\0');
    EXPECT_EQ((L"pre" + zString(L"fix")).str(), L"prefix");
    EXPECT_EQ((zString(L"pre") + L"fix").str(), L"prefix");
    EXPECT_EQ(zString(L"abc").make_upper().str(), L"ABC");
    EXPECT_THROW(zString(L"abc").erase(4), std::out_of_range);
    EXPECT_THROW(zString(L"abc").insert(4, L"x"), std::out_of_range);
    EXPECT_THROW(zString(L"abc").at(3), std::out_of_range);

    // Appending a string's own text to itself while it grows.
    zString self(L"abcdef");
    self.append(self.c_str(), self.length());
    self.append(self.c_str() + 2, 4);
    EXPECT_EQ(self.str(), L"abcdefabcdefcdef");
    zString piece(L"old");
    self.copy_substr(piece, 6, 3);
    EXPECT_EQ(piece.str(), L"abc");
}

TEST(zStringStorage, ReplaceAllAndSplitFollowTheClassComparison)
{
    zString nocase(L"Setup SETUP setup");
    EXPECT_EQ(nocase.replace_all(L"setup", L"x"), 3u);
    EXPECT_EQ(nocase.str(), L"x x x");
    zStringExact exact(L"Setup SETUP setup");
    EXPECT_EQ(exact.replace_all(L"setup", L"x"), 1u);
    EXPECT_EQ(exact.str(), L"Setup SETUP x");

    struct Row {
        const char* name;
        const wchar_t* text;
        bool dropEmpty;
        std::vector<std::wstring> expected;
    } rows[] = {
        {"plain", L"a,b,c", false, {L"a", L"b", L"c"}},
        {"empty pieces kept", L",a,,b,", false, {L"", L"a", L"", L"b", L""}},
        {"empty pieces dropped", L",a,,b,", true, {L"a", L"b"}},
        {"no delimiter", L"abc", false, {L"abc"}},
        {"empty text", L"", false, {L""}},
        {"empty text dropped", L"", true, {}},
    };
    for (const Row& row : rows) {
        std::vector<std::wstring> got;
        for (const zString& piece : zString(row.text).split(L",", row.dropEmpty)) got.push_back(piece.str());
        EXPECT_EQ(got, row.expected) << row.name;
    }
    std::vector<std::wstring> got;
    for (const zString& piece : zString(L"aXbxc").split(L"x")) got.push_back(piece.str());
    EXPECT_EQ(got, (std::vector<std::wstring>{L"a", L"b", L"c"}));
}

// Search, comparison, numbers -------------------------------------------------------------

TEST(zStringSearch, ByTheTable)
{
    const size_t npos = zString::npos;
    struct Row {
        const char* name;
        const wchar_t* text;
        const wchar_t* needle;
        size_t start;
        size_t nocase, exact;
    } rows[] = {
        {"needle in another case", L"c:\\Setup.exe", L"SETUP", 0, 3, npos},
        {"exact case", L"c:\\Setup.exe", L"Setup", 0, 3, 3},
        {"from a start index", L"abcabc", L"ABC", 1, 3, npos},
        {"start at the needle", L"abcabc", L"abc", 3, 3, 3},
        {"needle longer than the rest", L"abcab", L"abc", 3, npos, npos},
        {"start beyond the text", L"abc", L"a", 9, npos, npos},
        {"empty needle at the start", L"abc", L"", 2, 2, 2},
        {"empty needle at the end", L"abc", L"", 3, 3, 3},
        {"empty needle beyond the end", L"abc", L"", 4, npos, npos},
        {"empty text", L"", L"a", 0, npos, npos},
        {"needle at the very end", L"xxxEND", L"end", 0, 3, npos},
        {"first letter matches, rest not", L"SEtUq setup", L"setup", 0, 6, 6},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(zString(row.text).find_nocase(row.needle, row.start), row.nocase) << row.name;
        EXPECT_EQ(zStringExact(row.text).find(row.needle, row.start), row.exact) << row.name;
    }
    EXPECT_EQ(zString(L"aXbxc").rfind_nocase(L"x"), 3u);
    EXPECT_EQ(zString(L"aXbxc").rfind_nocase(L"x", 2), 1u);
    EXPECT_EQ(zString(L"abc").rfind_nocase(L"abcd"), npos);
    EXPECT_EQ(zString(L"a\\b\\c").rfind_cstr(L"\\"), 3u);
    EXPECT_EQ(zString(L"a\\b\\c").rfind_cstr(L"\\", 2), 1u);
    EXPECT_EQ(zString(L"a\\b\\c").find_cstr(L"\\"), 1u);
}

TEST(zStringSearch, ComparisonsTakeWholeStrings)
{
    struct Row {
        const char* name;
        const wchar_t* a;
        const wchar_t* b;
        bool equalNocase, equalExact;
    } rows[] = {
        {"same", L"Setup", L"Setup", true, true},
        {"other case", L"Setup", L"SETUP", true, false},
        {"prefix is not equal", L"Set", L"Setup", false, false},
        {"longer is not equal", L"Setup.exe", L"setup", false, false},
        {"empty and empty", L"", L"", true, true},
        {"empty and text", L"", L"a", false, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(zString(row.a).equals(row.b), row.equalNocase) << row.name;
        EXPECT_EQ(zString(row.b).equals(zString(row.a)), row.equalNocase) << row.name;
        EXPECT_EQ(zString(row.a) == zString(row.b), row.equalNocase) << row.name;
        EXPECT_EQ(zStringExact(row.a) == zStringExact(row.b), row.equalExact) << row.name;
        EXPECT_EQ(zStringExact(row.a).compare_nocase(row.b) == 0, row.equalNocase) << row.name;
    }
    EXPECT_TRUE(zString(L"c:\\Setup.EXE").ends_with(L".exe"));
    EXPECT_FALSE(zString(L"exe").ends_with(L".exe"));
    EXPECT_LT(zStringExact(L"abc").compare_nocase(L"ABD"), 0);
    EXPECT_TRUE(zString(L"abc") < zString(L"ABD"));
    EXPECT_EQ(zString(L"Text").to_exact().to_zstring().str(), L"Text");
}

TEST(zStringNumbers, ByTheTable)
{
    struct Row {
        const char* name;
        const wchar_t* text;
        int base;
        bool ok;
        long long value;
    } rows[] = {
        {"decimal", L"1234", 10, true, 1234},
        {"negative", L"-17", 10, true, -17},
        {"hexadecimal", L"ff", 16, true, 255},
        {"hexadecimal with prefix", L"0x1F", 16, true, 31},
        {"base 0 reads the prefix", L"0x10", 0, true, 16},
        {"leading blanks", L"  42", 10, true, 42},
        {"empty", L"", 10, false, 0},
        {"blank only", L"  ", 10, false, 0},
        {"trailing characters", L"12ab", 10, false, 0},
        {"trailing blank", L"12 ", 10, false, 0},
        {"long overflow", L"2147483648", 10, false, 0},
        {"long underflow", L"-2147483649", 10, false, 0},
        {"the largest long", L"2147483647", 10, true, 2147483647},
    };
    for (const Row& row : rows) {
        long value = -999;
        EXPECT_EQ(zString(row.text).to_long(value, row.base), row.ok) << row.name;
        if (row.ok) EXPECT_EQ(value, row.value) << row.name;
        else EXPECT_EQ(value, -999) << row.name << ": a failure leaves the value alone";
    }

    long long big = 0;
    EXPECT_TRUE(zString(L"9223372036854775807").to_int64(big));
    EXPECT_EQ(big, 9223372036854775807LL);
    EXPECT_FALSE(zString(L"9223372036854775808").to_int64(big));
    EXPECT_FALSE(zString(L"1x").to_int64(big));
    unsigned long u = 0;
    EXPECT_TRUE(zString(L"4294967295").to_ulong(u));
    EXPECT_EQ(u, 4294967295UL);
    EXPECT_FALSE(zString(L"4294967296").to_ulong(u));
    EXPECT_FALSE(zString(L"12 ").to_ulong(u));
    EXPECT_EQ(parse_hex(L"7fff"), 0x7fff);
    EXPECT_EQ(parse_hex(L"zz"), 0);
}

// Buffers, views, formatting -------------------------------------------------------------

TEST(zStringBuffers, BufferIsTheBstrAndIsReadBackToItsFirstZero)
{
    zString s(L"abc");
    wchar_t* buffer = s.get_buffer(20);
    EXPECT_EQ(SysStringLen(buffer), 20u);
    EXPECT_EQ(std::wstring(buffer), L"abc");
    wcscpy(buffer, L"written into it");
    s.release_buffer();
    EXPECT_EQ(s.str(), L"written into it");

    zString cut(L"abcdef");
    cut.get_buffer(2);
    cut.release_buffer();
    EXPECT_EQ(cut.str(), L"ab");

    zString narrowed(L"old");
    char* bytes = narrowed.get_narrow_buffer(10);
    strcpy(bytes, "new text");
    narrowed.release_buffer();
    EXPECT_EQ(narrowed.str(), L"new text");
}

TEST(zStringBuffers, BstrViewFollowsTheText)
{
    zString s(L"first");
    BSTR b = s.bstr();
    EXPECT_EQ(SysStringLen(b), 5u);
    EXPECT_EQ(std::wstring(b), L"first");
    s += L" and more";
    b = s.bstr();
    EXPECT_EQ(SysStringLen(b), 14u);
    EXPECT_EQ(std::wstring(b), L"first and more");
    EXPECT_STREQ(zString(L"plain").narrow(), "plain");
    EXPECT_STREQ(zString().narrow(), "");
}

TEST(zStringFormat, WideStringArgumentsInLongOutput)
{
    const std::wstring a(600, L'a'), b(700, L'\u00e9');
    zString s;
    s.format(L"%s|%d|%s|%hs", a.c_str(), 42, b.c_str(), "narrow");
    EXPECT_EQ(s.length(), 600 + 1 + 2 + 1 + 700 + 1 + 6u);
    EXPECT_EQ(s.str(), a + L"|42|" + b + L"|narrow");

    // An argument may be the string's own text.
    zString self(L"grow me");
    self.format(L"%s, %s", self.c_str(), self.c_str());
    EXPECT_EQ(self.str(), L"grow me, grow me");
    EXPECT_EQ(zString().format(L"%5.2f", 3.14159).str(), L" 3.14");
    EXPECT_EQ(zString(L"x").format(L"").str(), L"");
}

// The last error -------------------------------------------------------------------------

TEST(zStringLastError, EveryOperationLeavesItAsItWas)
{
    SetLastError(5);
    {
        zString s(L"short");
        s += L" and now longer than seven";
        s.format(L"%s=%d", L"value", 7);
        // A conversion that fails inside sets an error of its own.
        s.assign_multibyte("abc", 3, 99999);
        EXPECT_EQ(GetLastError(), 5u);
        try {
            s.substr(1000);
            ADD_FAILURE() << "no exception";
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ(e.what(), "invalid string position");
            EXPECT_EQ(GetLastError(), 5u);
        }
        zString copy = s;
        zStringExact exact(L"%1 %2");
        exact.replace_placeholders({L"a"});
        copy = exact.to_zstring();
        (void)copy.narrow();
        (void)copy.bstr();
        (void)copy.find_nocase(L"A");
        copy.make_upper();
        long n;
        (void)zString(L"99999999999999").to_long(n);
        EXPECT_EQ(GetLastError(), 5u);
    }
    EXPECT_EQ(GetLastError(), 5u);
}

// Paths, quoting, URLs -------------------------------------------------------------------

TEST(zStringPaths, Joins)
{
    struct Row {
        const char* name;
        const wchar_t* left;
        const wchar_t* right;
        const wchar_t* joined;    // join_path and combine_path
        const wchar_t* appended;  // append_path
    } rows[] = {
        {"both separators", L"c:\\a\\", L"\\b", L"c:\\a\\b", L"c:\\a\\b"},
        {"neither", L"c:\\a", L"b", L"c:\\a\\b", L"c:\\a\\b"},
        {"left only", L"c:\\a\\", L"b", L"c:\\a\\b", L"c:\\a\\b"},
        {"right only", L"c:\\a", L"\\b", L"c:\\a\\b", L"c:\\a\\b"},
        {"empty left", L"", L"b", L"b", L"\\b"},
        {"forward slashes", L"http://h/a/", L"/b", L"http://h/a/b", L"http://h/a/\\/b"},
        {"slash on the right", L"c:\\a", L"/b", L"c:\\a/b", L"c:\\a\\/b"},
        {"several separators", L"c:\\a\\", L"\\\\b", L"c:\\a\\b", L"c:\\a\\\\b"},
        {"empty right", L"c:\\a", L"", L"c:\\a\\", L"c:\\a"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(zString(row.left).join_path(row.right).str(), row.joined) << row.name;
        EXPECT_EQ(zString(row.left).combine_path(row.right).str(), row.joined) << row.name;
        EXPECT_EQ(zStringExact(row.left).join_path(row.right).str(), row.joined) << row.name;
        EXPECT_EQ(zString(row.left).append_path(row.right).str(), row.appended) << row.name;
    }
    EXPECT_EQ(zString(L"c:\\a").add_backslash().str(), L"c:\\a\\");
    EXPECT_EQ(zString(L"c:\\a\\").add_backslash().str(), L"c:\\a\\");
    EXPECT_EQ(zString(L"c:\\a\\").remove_backslash().str(), L"c:\\a");
    EXPECT_EQ(zString(L"c:\\a\\\\").remove_backslash().str(), L"c:\\a\\");
    EXPECT_EQ(zString(L"c:\\a").remove_backslash().str(), L"c:\\a");
    EXPECT_EQ(zString(L"x").join_list({zString(L"a"), zString(), zString(L"b")}, L';').str(), L"x;a;b");
    EXPECT_EQ(zString().join_list({zString(L"a"), zString(L"b;"), zString(L"c")}, L';').str(), L"a;b;c");
}

TEST(zStringPaths, PartsOfAPath)
{
    struct Row {
        const char* name;
        const wchar_t* path;
        const wchar_t* root;
        const wchar_t* folder;
        const wchar_t* folderTrailing;
        const wchar_t* folderNoRoot;
        const wchar_t* file;
        const wchar_t* base;
        const wchar_t* extension;
        const wchar_t* parent;
        const wchar_t* last;
    } rows[] = {
        {"drive path", L"C:\\dir\\sub\\file.txt", L"C:", L"C:\\dir\\sub", L"C:\\dir\\sub\\", L"dir\\sub", L"file.txt", L"file",
            L".txt", L"C:\\dir\\sub\\", L"file.txt"},
        {"file at the drive root", L"C:\\file.txt", L"C:", L"C:\\", L"C:\\", L"", L"file.txt", L"file", L".txt", L"C:\\",
            L"file.txt"},
        {"UNC file", L"\\\\server\\share\\dir\\f.ini", L"\\\\server\\share", L"\\\\server\\share\\dir",
            L"\\\\server\\share\\dir\\", L"dir", L"f.ini", L"f", L".ini", L"\\\\server\\share\\dir\\", L"f.ini"},
        {"UNC share's file", L"\\\\server\\share\\f.ini", L"\\\\server\\share", L"\\\\server\\share", L"\\\\server\\share\\",
            L"", L"f.ini", L"f", L".ini", L"\\\\server\\share\\", L"f.ini"},
        {"UNC root alone", L"\\\\server\\share", L"\\\\server\\share", L"\\\\server\\share", L"\\\\server\\share\\", L"",
            L"share", L"share", L"", L"\\\\server\\", L"share"},
        {"dot in the folder", L"C:\\a.b\\file", L"C:", L"C:\\a.b", L"C:\\a.b\\", L"a.b", L"file", L"file", L"", L"C:\\a.b\\",
            L"file"},
        {"trailing backslash", L"C:\\a\\b\\", L"C:", L"C:\\a\\b", L"C:\\a\\b\\", L"a\\b", L"", L"", L"", L"C:\\a\\b\\", L"b"},
        {"bare name", L"setup.exe", L"", L"", L"", L"", L"setup.exe", L"setup", L".exe", L"", L"setup.exe"},
        {"two dots", L"a\\b.tar.gz", L"", L"a", L"a\\", L"a", L"b.tar.gz", L"b.tar", L".gz", L"a\\", L"b.tar.gz"},
        {"forward slashes", L"dir/sub/f.txt", L"", L"", L"", L"", L"dir/sub/f.txt", L"dir/sub/f", L".txt", L"dir/sub/",
            L"dir/sub/f.txt"},
        {"empty", L"", L"", L"", L"", L"", L"", L"", L"", L"", L""},
    };
    for (const Row& row : rows) {
        const zString p(row.path);
        EXPECT_EQ(p.path_root().str(), row.root) << row.name;
        EXPECT_EQ(p.folder_part().str(), row.folder) << row.name;
        EXPECT_EQ(p.folder_part(true).str(), row.folderTrailing) << row.name;
        EXPECT_EQ(p.folder_part(false, true).str(), row.folderNoRoot) << row.name;
        EXPECT_EQ(p.file_name_part().str(), row.file) << row.name;
        EXPECT_EQ(p.file_name_part(true).str(), row.base) << row.name;
        EXPECT_EQ(p.base_name().str(), row.base) << row.name;
        EXPECT_EQ(p.extension_part().str(), row.extension) << row.name;
        EXPECT_EQ(p.parent_folder().str(), row.parent) << row.name;
        EXPECT_EQ(p.last_component().str(), row.last) << row.name;
    }
    EXPECT_EQ(zString(L"C:\\dir").path_root(true).str(), L"C:\\");
    EXPECT_EQ(zString(L"\\\\srv\\sh\\x").path_root(true).str(), L"\\\\srv\\sh\\");
    EXPECT_EQ(zString(L"C:\\a\\setup.exe").replace_extension(L".ini").str(), L"C:\\a\\setup.ini");
    EXPECT_EQ(zString(L"C:\\a.b\\setup").replace_extension(L"ini").str(), L"C:\\a.b\\setup.ini");
}

TEST(zStringPaths, RootsAndAbsoluteForms)
{
    struct Row {
        const char* name;
        const wchar_t* path;
        bool absolute, driveRoot, driveRootOnly;
        const wchar_t* rootRef;
    } rows[] = {
        {"drive root", L"C:\\", true, true, true, L"C:"},
        {"drive alone", L"C:", true, true, true, L"C:"},
        {"drive folder", L"C:\\dir", true, true, false, L"C:"},
        {"drive-relative", L"C:dir", false, false, false, L"C:"},
        {"digit drive", L"1:\\x", true, false, false, L"1:"},
        {"UNC", L"\\\\server\\share\\x", true, true, false, L"\\\\server\\share"},
        {"two backslashes only", L"\\\\", false, false, false, L""},
        {"rooted, no drive", L"\\dir", false, false, false, L""},
        {"relative", L"dir\\file", false, false, false, L""},
        {"URL", L"http://host.example/dir/file", false, false, false, L"http://host.example"},
        {"URL host only", L"http://host", false, false, false, L"http://host"},
        {"empty", L"", false, false, false, L""},
    };
    for (const Row& row : rows) {
        const zString p(row.path);
        EXPECT_EQ(p.has_absolute_form(), row.absolute) << row.name;
        EXPECT_EQ(p.has_drive_root(), row.driveRoot) << row.name;
        EXPECT_EQ(p.drive_root_only(), row.driveRootOnly) << row.name;
        EXPECT_EQ(p.root_ref().str(), row.rootRef) << row.name;
    }
}

TEST(zStringQuoting, QuotesBracesAndUrls)
{
    struct Row {
        const char* name;
        const wchar_t* text;
        const wchar_t* quoted;
        const wchar_t* quotedIfBlank;
        const wchar_t* unquoted;
    } rows[] = {
        {"bare", L"a b", L"\"a b\"", L"\"a b\"", L"a b"},
        {"no blank", L"ab", L"\"ab\"", L"ab", L"ab"},
        {"already quoted", L"\"a b\"", L"\"a b\"", L"\"a b\"", L"a b"},
        {"opening quote only", L"\"ab", L"\"ab\"", L"\"ab", L"ab"},
        {"one quote character", L"\"", L"\"\"", L"\"", L""},
        {"empty", L"", L"\"\"", L"", L""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(zString(row.text).quoted().str(), row.quoted) << row.name;
        EXPECT_EQ(zString(row.text).quoted(true).str(), row.quotedIfBlank) << row.name;
        EXPECT_EQ(zString(row.text).unquoted().str(), row.unquoted) << row.name;
    }
    EXPECT_EQ(zString(L"1234-5678").braced().str(), L"{1234-5678}");
    EXPECT_EQ(zString(L"{1234-5678}").braced().str(), L"{1234-5678}");
    EXPECT_EQ(zString(L"{1234-5678}").unbraced().str(), L"1234-5678");

    struct Scheme {
        const char* name;
        const wchar_t* text;
        bool url, http, https, ftp, file;
    } schemes[] = {
        {"http", L"http://host/x", true, true, false, false, false},
        {"https in capitals", L"HTTPS://host", true, false, true, false, false},
        {"ftp", L"ftp://host", true, false, false, true, false},
        {"scheme alone", L"http://", false, false, false, false, false},
        {"file URL", L"file:///C:/x", false, false, false, false, true},
        {"file scheme alone", L"file://", false, false, false, false, false},
        {"path", L"C:\\http\\x", false, false, false, false, false},
        {"other scheme", L"gopher://host", false, false, false, false, false},
    };
    for (const Scheme& row : schemes) {
        const zString s(row.text);
        EXPECT_EQ(s.has_url_scheme(), row.url) << row.name;
        EXPECT_EQ(s.has_http_scheme(), row.http) << row.name;
        EXPECT_EQ(s.has_https_scheme(), row.https) << row.name;
        EXPECT_EQ(s.has_ftp_scheme(), row.ftp) << row.name;
        EXPECT_EQ(s.has_file_url_scheme(), row.file) << row.name;
    }
}

TEST(zStringQuoting, FileUrlsToPaths)
{
    struct Row {
        const char* name;
        const wchar_t* url;
        const wchar_t* path;
    } rows[] = {
        {"drive with colon", L"file:///C:/Program%20Files/setup.exe", L"C:\\Program Files\\setup.exe"},
        {"drive with bar", L"file:///d|/media/disk1", L"d:\\media\\disk1"},
        {"two slashes", L"file://C:/x", L"C:\\x"},
        {"server share", L"file://server/share/dir/f.cab", L"\\\\server\\share\\dir\\f.cab"},
        {"many slashes", L"file:////server/share", L"\\\\server\\share"},
        {"capital scheme", L"FILE:///c:/a", L"c:\\a"},
    };
    for (const Row& row : rows) EXPECT_EQ(shown(zString(row.url).file_url_to_path().view()), shown(row.path)) << row.name;
}

}  // namespace
