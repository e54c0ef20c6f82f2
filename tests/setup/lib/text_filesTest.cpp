#include "text_files.h"

#include "file_system.h"
#include "os_entry.h"

#include "FakeEntries.h"
#include "FileSupport.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

bytes utf16(const std::wstring& text, bool mark = false)
{
    bytes out;
    if (mark) out = {0xFF, 0xFE};
    for (const wchar_t c : text) {
        out.push_back(static_cast<unsigned char>(c & 0xFF));
        out.push_back(static_cast<unsigned char>((c >> 8) & 0xFF));
    }
    return out;
}

bytes narrow(const std::string& text)
{
    return bytes(text.begin(), text.end());
}

bytes operator+(bytes a, const bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string hex(const bytes& b)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : b) {
        out += digits[c >> 4];
        out += digits[c & 15];
        out += ' ';
    }
    return out;
}

// "中文" (three bytes each in UTF-8) and U+1F600 (a surrogate pair, four bytes in UTF-8): the
// UTF-8 text is longer than the UTF-16 one.
const std::wstring cjk_emoji = L"\u4E2D\u6587\xD83D\xDE00";
const std::string cjk_emoji_utf8 = "\xE4\xB8\xAD\xE6\x96\x87\xF0\x9F\x98\x80";

TEST(text_files, ReadFileBytesGivesTheWholeFile)
{
    const scratch_folder folder(L"setup_text");
    const bytes content = utf16(L"marked", true) + bytes{0, 1, 2};
    const std::wstring path = folder.write(L"whole.bin", content);
    bytes got{9};
    EXPECT_EQ(qv::ReadFileBytes(path.c_str(), got), 0u);
    EXPECT_EQ(got, content) << "the mark is part of the bytes, the closing zeros are not";

    const std::wstring empty = folder.write(L"empty.bin", {});
    EXPECT_EQ(qv::ReadFileBytes(empty.c_str(), got), 0u);
    EXPECT_TRUE(got.empty());

    EXPECT_EQ(qv::ReadFileBytes(folder.join(L"missing.bin").c_str(), got), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(got.empty());
}

TEST(text_files, WriteTextFileWritesTheCodePageAndItsMark)
{
    const wchar_t* text = L"A\u00e9\u20ac";
    const UINT keep = static_cast<UINT>(-1);
    struct Case {
        const char* name;
        UINT codePage;
        bool bom;
        bytes expected;
    };
    const Case cases[] = {
        {"UTF-16LE with mark", 1200, true, utf16(text, true)},
        {"UTF-16LE without", 1200, false, utf16(text)},
        {"UTF-16BE with mark", 1201, true, {0xFE, 0xFF, 0, 'A', 0, 0xE9, 0x20, 0xAC}},
        {"UTF-8 with mark", 65001, true, {0xEF, 0xBB, 0xBF, 'A', 0xC3, 0xA9, 0xE2, 0x82, 0xAC}},
        {"UTF-8 without", 65001, false, {'A', 0xC3, 0xA9, 0xE2, 0x82, 0xAC}},
        {"1252 has no mark", 1252, true, {'A', 0xE9, 0x80}},
    };
    const scratch_folder folder(L"setup_text");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = folder.write(L"out.txt", bytes(50, 'x'));
        EXPECT_EQ(qv::WriteTextFile(path.c_str(), text, c.codePage, c.bom), 0u);
        EXPECT_EQ(hex(read_back(path)), hex(c.expected));
    }

    SCOPED_TRACE("the file's own code page, folders made");
    const std::wstring deep = folder.join(L"a\\b\\plain.txt");
    EXPECT_EQ(qv::WriteTextFile(deep.c_str(), L"plain\r\n", keep, true), 0u);
    EXPECT_EQ(read_back(deep), narrow("plain\r\n"));

    EXPECT_EQ(qv::WriteTextFile(folder.path().c_str(), L"x", keep, false), static_cast<DWORD>(ERROR_ACCESS_DENIED))
        << "a folder cannot be written as a file";
}

TEST(text_files, ConvertsUnicodeFilesToACodePage)
{
    struct Case {
        const char* name;
        bytes source;
        UINT codePage;
        bytes expected;
    };
    const Case cases[] = {
        {"1252 with mark", utf16(L"A\u00e9\u20ac\r\n", true), 1252, {'A', 0xE9, 0x80, '\r', '\n'}},
        {"1252 without mark", utf16(L"A\u00e9\u20ac\r\n"), 1252, {'A', 0xE9, 0x80, '\r', '\n'}},
        {"1252 default character", utf16(L"a\u4E2Db", true), 1252, {'a', 0x7F, 'b'}},
        {"the ANSI code page", utf16(L"plain text\r\n", true), 0, narrow("plain text\r\n")},
        // The UTF-8 text is longer than its UTF-16 source, mark included.
        {"UTF-8 with mark", utf16(cjk_emoji, true), CP_UTF8, narrow(cjk_emoji_utf8)},
        {"UTF-8 without mark", utf16(cjk_emoji), CP_UTF8, narrow(cjk_emoji_utf8)},
        {"UTF-7", utf16(L"A\u20ac", true), CP_UTF7, narrow("A+IKw-")},
        {"OEM", utf16(L"a\r\n\t\u00a3", true), 437, {'a', '\r', '\n', '\t', 0x9C}},
        {"the mark alone", {0xFF, 0xFE}, 1252, {}},
        {"empty", {}, CP_UTF8, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const scratch_folder folder(L"setup_text");
        const std::wstring source = folder.write(L"wide.txt", c.source);
        const std::wstring target = folder.write(L"narrow.txt", bytes(100, 'x'));  // replaced
        EXPECT_TRUE(qv::ConvertUnicodeFileToMultiByte(source.c_str(), target.c_str(), c.codePage))
            << qv::LastFileOpError();
        EXPECT_EQ(hex(read_back(target)), hex(c.expected));
        EXPECT_EQ(read_back(source), c.source);
    }
}

TEST(text_files, ConvertsCodePageFilesToUnicode)
{
    struct Case {
        const char* name;
        bytes source;
        UINT codePage;
        std::wstring expected;  // after the mark
    };
    const Case cases[] = {
        {"1252", {'A', 0xE9, 0x80, '\r', '\n'}, 1252, L"Ae\u0301\u20ac\r\n"},
        // Each accented letter comes apart into two characters: more than two bytes a byte.
        {"1252 decomposed", {0xE9, 0xE8, 0xFC, 0xF1, 0xE9, 0xE8}, 1252, L"e\u0301e\u0300u\u0308n\u0303e\u0301e\u0300"},
        {"the ANSI code page", narrow("plain text\r\n"), 0, L"plain text\r\n"},
        {"UTF-8", narrow(cjk_emoji_utf8), CP_UTF8, cjk_emoji},
        {"UTF-8 with its own mark", narrow("\xEF\xBB\xBF" + cjk_emoji_utf8), CP_UTF8, cjk_emoji},
        {"UTF-7", narrow("A+IKw-"), CP_UTF7, L"A\u20ac"},
        {"empty", {}, 1252, L""},
        {"OEM line ends and tabs stay", {'a', '\r', '\n', '\t', 0x9C}, 437, L"a\r\n\t\u00a3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const scratch_folder folder(L"setup_text");
        const std::wstring source = folder.write(L"narrow.txt", c.source);
        const std::wstring target = folder.write(L"wide.txt", bytes(100, 'x'));
        EXPECT_TRUE(qv::ConvertMultiByteFileToUnicode(source.c_str(), target.c_str(), c.codePage))
            << qv::LastFileOpError();
        EXPECT_EQ(hex(read_back(target)), hex(utf16(c.expected, true)));
    }
}

TEST(text_files, AConversionThatCannotRunRecordsWhy)
{
    enum direction { to_narrow, to_wide };
    struct Case {
        const char* name;
        direction way;
        const wchar_t* source;  // made with `content` unless null
        const wchar_t* target;
        bytes content;
        UINT codePage;
        DWORD error;
        const wchar_t* atFault;
    };
    const Case cases[] = {
        {"missing source, to narrow", to_narrow, nullptr, L"out.txt", {}, 1252, ERROR_FILE_NOT_FOUND, L"in.txt"},
        {"missing source, to wide", to_wide, nullptr, L"out.txt", {}, 1252, ERROR_FILE_NOT_FOUND, L"in.txt"},
        {"target folder missing, to narrow", to_narrow, L"in.txt", L"no\\out.txt", utf16(L"text", true), 1252,
            ERROR_PATH_NOT_FOUND, L"no\\out.txt"},
        {"target folder missing, to wide", to_wide, L"in.txt", L"no\\out.txt", narrow("text"), 1252,
            ERROR_PATH_NOT_FOUND, L"no\\out.txt"},
        // The source is held exclusively, so it is never cut by its own conversion.
        {"onto itself", to_narrow, L"in.txt", L"in.txt", utf16(L"text", true), 1252, ERROR_SHARING_VIOLATION,
            L"in.txt"},
        {"not UTF-16", to_narrow, L"in.txt", L"out.txt", narrow("narrow text"), 1252, ERROR_INVALID_DATA, L"in.txt"},
        {"no such code page, to narrow", to_narrow, L"in.txt", L"out.txt", utf16(L"text", true), 12345,
            ERROR_INVALID_PARAMETER, L"out.txt"},
        {"no such code page, to wide", to_wide, L"in.txt", L"out.txt", narrow("text"), 12345, ERROR_INVALID_PARAMETER,
            L"out.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const scratch_folder folder(L"setup_text");
        const std::wstring source = c.source ? folder.write(c.source, c.content) : folder.join(L"in.txt");
        const std::wstring target = folder.join(c.target);
        qv::RecordFailedPath(L"");
        const bool done = c.way == to_narrow
                              ? qv::ConvertUnicodeFileToMultiByte(source.c_str(), target.c_str(), c.codePage)
                              : qv::ConvertMultiByteFileToUnicode(source.c_str(), target.c_str(), c.codePage);
        EXPECT_FALSE(done);
        EXPECT_EQ(qv::LastFileOpError(), c.error);
        EXPECT_EQ(qv::LastFailedPath().str(), folder.join(c.atFault));
        if (c.source) {
            EXPECT_EQ(read_back(source), c.content);
        }
        if (target != source) {
            EXPECT_FALSE(exists(target) && !read_back(target).empty()) << "a failed conversion leaves no text";
        }
    }
}

TEST(text_files, TextLooksUnicodeByTheSystemOrByTheMark)
{
    struct Case {
        const char* name;
        bytes text;
        bool withSystem;
        bool withoutSystem;  // IsTextUnicode missing: the mark alone decides
    };
    const Case cases[] = {
        {"UTF-16 with mark", utf16(L"Hello, world\r\n", true), true, true},
        {"UTF-16 without mark", utf16(L"Hello, world\r\n"), true, false},
        {"the mark and an odd byte", {0xFF, 0xFE, 'a'}, true, true},
        {"the mark alone", {0xFF, 0xFE}, true, true},
        {"narrow text", narrow("Hello, world\r\n"), false, false},
        {"one byte", {0xFF}, false, false},
        {"reversed mark", {0xFE, 0xFF, 0, 'a'}, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DWORD size = static_cast<DWORD>(c.text.size());
        EXPECT_EQ(qv::TextLooksUnicode(c.text.data(), size, nullptr), c.withSystem);
        fake_entries entries;
        entries.hide("IsTextUnicode");
        EXPECT_EQ(qv::TextLooksUnicode(c.text.data(), size, nullptr), c.withoutSystem);
    }
    EXPECT_FALSE(qv::TextLooksUnicode(nullptr, 10, nullptr));

    const bytes marked = utf16(L"text", true);
    int flags = IS_TEXT_UNICODE_SIGNATURE;
    EXPECT_TRUE(qv::TextLooksUnicode(marked.data(), static_cast<DWORD>(marked.size()), &flags));
    EXPECT_EQ(flags, IS_TEXT_UNICODE_SIGNATURE) << "the system's results come back in the flags";
}

TEST(text_files, FileLooksUnicodeAsksAboutAllOfTheFile)
{
    const scratch_folder folder(L"setup_text");
    EXPECT_TRUE(qv::FileLooksUnicode(folder.write(L"wide.txt", utf16(L"wide text\r\n")).c_str()));
    EXPECT_FALSE(qv::FileLooksUnicode(folder.write(L"narrow.txt", narrow("narrow text\r\n")).c_str()));
    EXPECT_FALSE(qv::FileLooksUnicode(folder.write(L"empty.txt", {}).c_str()));
    EXPECT_FALSE(qv::FileLooksUnicode(folder.join(L"missing.txt").c_str()));
    EXPECT_EQ(qv::LastFileOpError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(text_files, ReplacesQuotedValuesOnTheLinesOfTheKeys)
{
    struct Case {
        const char* name;
        std::wstring text;
        std::vector<zString> keys, values;
        std::wstring expected;
        unsigned changes;
    };
    const Case cases[] = {
        {"replace", L"A=1\r\nVersion=\"1.0\"\r\nB=2\r\n", {L"Version"}, {L"2.5"},
            L"A=1\r\nVersion=\"2.5\"\r\nB=2\r\n", 1},
        {"delete the line", L"A=1\r\nVersion=\"1.0\"\r\nB=2\r\n", {L"Version"}, {L""}, L"A=1\r\nB=2\r\n", 1},
        {"delete every line of the key", L"K=\"1\"\r\nK=\"2\"\r\nB=2\r\nK=\"3\"\r\n", {L"K"}, {L""}, L"B=2\r\n", 3},
        {"delete the last line without its end", L"A=1\r\nK=\"1\"", {L"K"}, {L""}, L"A=1\r\n", 1},
        {"the key in its own value", L"Path=\"C:\\old\"\r\nX=1\r\n", {L"Path"}, {L"C:\\Path\\Path"},
            L"Path=\"C:\\Path\\Path\"\r\nX=1\r\n", 1},
        {"several occurrences", L"Name=\"a\"\r\nother\r\nName=\"b\"\r\n", {L"Name"}, {L"z"},
            L"Name=\"z\"\r\nother\r\nName=\"z\"\r\n", 2},
        {"twice on one line", L"Name=\"Name\" Name\r\n", {L"Name"}, {L"v"}, L"Name=\"v\" Name\r\n", 1},
        {"first to last quote of the line", L"\"Key\" = \"old\" ; \"note\"\r\n", {L"Key"}, {L"new"},
            L"\"new\"\r\n", 1},
        {"the last line without its end", L"A=1\r\nKey=\"old\"", {L"Key"}, {L"new"}, L"A=1\r\nKey=\"new\"", 1},
        {"without case", L"VERSION=\"1\"\r\n", {L"version"}, {L"2"}, L"VERSION=\"2\"\r\n", 1},
        {"no quotes: no change", L"Version=1.0\r\nB=\"x\"\r\n", {L"Version"}, {L"2"}, L"Version=1.0\r\nB=\"x\"\r\n", 0},
        {"one quote: no change", L"Version=\"1.0\r\n", {L"Version"}, {L"2"}, L"Version=\"1.0\r\n", 0},
        {"no quotes and no line end", L"Version=1.0", {L"Version"}, {L"2"}, L"Version=1.0", 0},
        {"key missing", L"A=\"1\"\r\n", {L"Version"}, {L"2"}, L"A=\"1\"\r\n", 0},
        {"empty text", L"", {L"Version"}, {L""}, L"", 0},
        {"empty key", L"A=\"1\"\r\n", {L""}, {L"2"}, L"A=\"1\"\r\n", 0},
        {"keys in order, each with its value", L"A=\"1\"\r\nB=\"2\"\r\n", {L"A", L"B"}, {L"x", L""},
            L"A=\"x\"\r\n", 2},
        {"a key without a value", L"A=\"1\"\r\nB=\"2\"\r\n", {L"A", L"B"}, {L"x"}, L"A=\"x\"\r\nB=\"2\"\r\n", 1},
        {"a value holding a line end", L"A=\"1\"\r\nB=1\r\n", {L"A"}, {L"A\r\nA=\"9\""}, L"A=\"A\r\nA=\"9\"\"\r\nB=1\r\n",
            1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        zString text(c.text);
        EXPECT_EQ(qv::ReplaceQuotedValuesInText(text, c.keys, c.values), c.changes);
        EXPECT_EQ(text.str(), c.expected);
    }
}

FILETIME last_write(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

TEST(text_files, AFileKeepsItsEncodingWhenItsValuesAreReplaced)
{
    const std::wstring before = L"Key=\"\u00e9t\u00e9\"\r\nOther=1\r\n";
    const std::wstring after = L"Key=\"\u4E2D\"\r\nOther=1\r\n";
    struct Case {
        const char* name;
        bytes content, expected;
    };
    const Case cases[] = {
        {"UTF-16LE", utf16(before, true), utf16(after, true)},
        {"UTF-8", narrow("\xEF\xBB\xBFKey=\"\xC3\xA9t\xC3\xA9\"\r\nOther=1\r\n"),
            narrow("\xEF\xBB\xBFKey=\"\xE4\xB8\xAD\"\r\nOther=1\r\n")},
        {"ANSI", narrow("Key=\"old\"\r\nOther=1\r\n"), narrow("Key=\"\?\"\r\nOther=1\r\n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const scratch_folder folder(L"setup_text");
        const std::wstring path = folder.write(L"values.txt", c.content);
        EXPECT_EQ(qv::ReplaceQuotedValuesInFile({L"Key"}, {L"\u4E2D"}, path.c_str()), 1);
        EXPECT_EQ(hex(read_back(path)), hex(c.expected));
    }
}

TEST(text_files, AFileWithoutChangesIsNotRewritten)
{
    const scratch_folder folder(L"setup_text");
    const bytes content = narrow("Key=1\r\nOther=\"x\"\r\n");
    const std::wstring path = folder.write(L"same.txt", content);
    const qv::file_handle h(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, 0, nullptr));
    const FILETIME old = {0x10000000, 0x01C00000};
    ASSERT_TRUE(SetFileTime(h.get(), nullptr, nullptr, &old));

    EXPECT_EQ(qv::ReplaceQuotedValuesInFile({L"Key", L"Missing"}, {L"2", L""}, path.c_str()), 0);
    EXPECT_EQ(read_back(path), content);
    const FILETIME now = last_write(path);
    EXPECT_EQ(CompareFileTime(&old, &now), 0);

    qv::SetLastFileOpError(0);
    EXPECT_EQ(qv::ReplaceQuotedValuesInFile({L"Key"}, {L"2"}, folder.join(L"missing.txt").c_str()), 0);
    EXPECT_EQ(qv::LastFileOpError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(qv::LastFailedPath().str(), folder.join(L"missing.txt"));
}

TEST(text_files, TheCountOfAFileStaysInTheLow16Bits)
{
    const scratch_folder folder(L"setup_text");
    std::string many;
    for (int i = 0; i < 0x10005; ++i) many += "K=\"1\"\r\n";
    const std::wstring path = folder.write(L"many.txt", narrow(many));
    EXPECT_EQ(qv::ReplaceQuotedValuesInFile({L"K"}, {L"2"}, path.c_str()), 0xFFFF);
    const bytes back = read_back(path);
    EXPECT_EQ(back.size(), many.size());
    EXPECT_EQ(std::string(back.end() - 7, back.end()), "K=\"2\"\r\n");
}

TEST(text_files, AFolderReportsItsChangesAndItsChangedFiles)
{
    const scratch_folder folder(L"setup_text");
    folder.write(L"a.txt", narrow("K=\"1\"\r\nK=\"2\"\r\n"));
    folder.write(L"b.txt", narrow("nothing here\r\n"));
    folder.write(L"c.ini", narrow("K=\"1\"\r\n"));
    CreateDirectoryW(folder.join(L"sub").c_str(), nullptr);
    folder.write(L"sub\\d.txt", narrow("K=\"1\"\r\n"));
    struct Case {
        const char* name;
        const wchar_t* patterns;
        bool recursive;
        int expected;
    };
    const Case cases[] = {
        {"one level", L"*.txt", false, (2 << 16) | 1},
        {"two patterns", L"*.txt;*.ini", false, (3 << 16) | 2},
        {"recursive", L"*.txt", true, (3 << 16) | 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Each pass sets the values back first.
        EXPECT_GE(qv::ReplaceQuotedValuesInFolder({L"K"}, {L"1"}, folder.path().c_str(), L"*.*", true), 0);
        EXPECT_EQ(qv::ReplaceQuotedValuesInFolder({L"K"}, {L"0"}, folder.path().c_str(), c.patterns, c.recursive),
            c.expected);
    }
    EXPECT_EQ(read_back(folder.join(L"sub\\d.txt")), narrow("K=\"0\"\r\n"));
    EXPECT_EQ(qv::ReplaceQuotedValuesInFolder({L"K"}, {L"1"}, folder.join(L"missing").c_str(), L"*.*", false), -1);
}

}  // namespace
