#include "zpath.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(zpath, RootsOfPathsAndUrls)
{
    struct Row {
        const char* name;
        const wchar_t* path;
        const wchar_t* root;
        const wchar_t* whole;  // with the flag
    } rows[] = {
        {"UNC", L"\\\\server\\share\\dir\\file", L"\\\\server\\share", L"\\\\server\\share"},
        {"UNC with slashes", L"//server/share/dir", L"//server/share", L"//server/share"},
        {"UNC share only", L"\\\\server\\share", L"\\\\server\\share", L"\\\\server\\share"},
        {"drive", L"C:\\dir", L"C:", L"C:"},
        {"URL", L"https://host.example:8443/a/b", L"host.example:8443", L"https://host.example:8443"},
        {"URL without a path", L"http://host", L"host", L"http://host"},
        {"relative", L"dir\\file", L"", L""},
        {"empty", L"", L"", L""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(zpath(row.path).path_root(), row.root) << row.name;
        EXPECT_EQ(zpath(row.path).path_root(true), row.whole) << row.name;
    }
}

TEST(zpath, SubstringsAndTheirReferences)
{
    const zpath source(L"C:\\dir\\file.txt");
    EXPECT_EQ(zpath(source, 3, static_cast<size_t>(-1)).view(), L"dir\\file.txt");
    EXPECT_EQ(zpath(source, 3, 3).view(), L"dir");
    EXPECT_EQ(zpath(source, 15).view(), L"");
    EXPECT_THROW(zpath(source, 16), std::out_of_range);

    const zpath::_substr_ref piece = source.substr_ref(7);
    EXPECT_EQ(&piece.source(), &source);
    EXPECT_EQ(piece.start(), 7u);
    EXPECT_EQ(piece.count(), 8u);
    EXPECT_EQ(zpath(piece).view(), L"file.txt");
}

TEST(zpath, EmptyTextIsANullBstr)
{
    const zpath empty;
    EXPECT_EQ(empty.bstr(), nullptr);
    EXPECT_STREQ(empty.c_str(), L"");
    EXPECT_EQ(zpath(L"").bstr(), nullptr);
    const zpath text(L"abc");
    ASSERT_NE(text.bstr(), nullptr);
    EXPECT_EQ(SysStringLen(text.bstr()), 3u);
    EXPECT_STREQ(text.narrow(), "abc");
}

TEST(zpath, FindsWithoutRegardToCase)
{
    const zpath p(L"C:\\Program Files\\Setup\\setup.exe");
    EXPECT_EQ(p.find_nocase(L"SETUP", 5), 17u);
    EXPECT_EQ(p.find_nocase(L"SETUP", 5, 18), 23u);
    EXPECT_EQ(p.find_nocase(L"missing", 7), zpath::npos);
    EXPECT_EQ(zpath().find_nocase(L"a", 1), zpath::npos);
    EXPECT_EQ(zpath(L"ab").find_nocase(L"abc", 3), zpath::npos);
}

TEST(zpath, PathOperationsFollowTheStringRules)
{
    EXPECT_EQ(zpath(L"c:\\a\\").join_path(L"\\b").view(), L"c:\\a\\b");
    EXPECT_EQ(zpath(L"c:\\a").join_path(L"b").view(), L"c:\\a\\b");
    EXPECT_EQ(zpath().join_path(L"b").view(), L"b");
    EXPECT_EQ(zpath().append_path(L"b").view(), L"\\b");
    EXPECT_EQ(zpath(L"c:\\a").combine_path(L"b").view(), L"c:\\a\\b");
    EXPECT_EQ(zpath(L"c:\\a").add_backslash().view(), L"c:\\a\\");
    EXPECT_EQ(zpath(L"c:\\a\\").remove_backslash().view(), L"c:\\a");
    const zpath file(L"\\\\srv\\share\\dir\\setup.inx");
    EXPECT_EQ(file.folder_part().view(), L"\\\\srv\\share\\dir");
    EXPECT_EQ(file.folder_part(true).view(), L"\\\\srv\\share\\dir\\");
    EXPECT_EQ(file.file_name_part().view(), L"setup.inx");
    EXPECT_EQ(file.base_name().view(), L"setup");
    EXPECT_EQ(file.extension_part().view(), L".inx");
    EXPECT_EQ(file.parent_folder().view(), L"\\\\srv\\share\\dir\\");
    EXPECT_EQ(file.last_component().view(), L"setup.inx");
    EXPECT_EQ(zpath(file).replace_extension(L".hdr").view(), L"\\\\srv\\share\\dir\\setup.hdr");
    EXPECT_TRUE(file.has_absolute_form());
    EXPECT_TRUE(file.has_drive_root());
    EXPECT_FALSE(zpath(L"dir").has_absolute_form());
    EXPECT_EQ(file.to_zstring().str(), L"\\\\srv\\share\\dir\\setup.inx");
}

TEST(zpath, LastErrorIsLeftAsItWas)
{
    SetLastError(5);
    {
        zpath p(L"C:\\some\\longer\\path");
        zpath copy = p;
        copy.join_path(L"more");
        (void)copy.narrow();
        (void)copy.find_nocase(L"MORE", 4);
        _zstring<ztraits<0>> other(L"kind zero");
        _zstring<ztraits<0>> otherCopy(other);
        try {
            zpath bad(p, 100);
            ADD_FAILURE() << "no exception";
        } catch (const std::out_of_range&) {
            EXPECT_EQ(GetLastError(), 5u);
        }
        zpath moved(std::move(copy));
        EXPECT_EQ(GetLastError(), 5u);
    }
    EXPECT_EQ(GetLastError(), 5u);
}

}  // namespace
