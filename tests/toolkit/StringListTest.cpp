#include "StringList.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

std::string TempPath(const std::string& name)
{
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + "toolkit_" + std::to_string(GetCurrentProcessId()) + "_" + name;
}

TEST(StringList, TextSplitsAtEveryKindOfLineBreak)
{
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> lines;
    } cases[] = {
        {"CR LF", "a\r\nb\r\n", {"a", "b"}},
        {"LF", "a\nb", {"a", "b"}},
        {"CR", "a\rb\r", {"a", "b"}},
        {"LF CR is two breaks", "a\n\rb", {"a", "", "b"}},
        {"empty lines kept", "a\r\n\r\nb", {"a", "", "b"}},
        {"final break adds no line", "x\r\n", {"x"}},
        {"lone break is one empty line", "\r\n", {""}},
        {"empty text", "", {}},
        {"NUL ends the text", std::string("a\nb\0c\n", 6), {"a", "b"}},
        {"no break at the end", "last", {"last"}},
    };
    for (const auto& c : cases) {
        TStringList list;
        list.SetText(c.text);
        std::vector<std::string> got;
        for (int i = 0; i < list.Count(); ++i) got.push_back(list[i]);
        EXPECT_EQ(got, c.lines) << c.name;
    }
}

TEST(StringList, TextEndsEveryLineWithCrLf)
{
    TStringList list;
    EXPECT_EQ(list.Text(), "");
    list.Add("Test index:");
    list.Add("0");
    list.Add("");
    EXPECT_EQ(list.Text(), "Test index:\r\n0\r\n\r\n");
}

TEST(StringList, EditingAndBounds)
{
    TStringList list;
    list.Add("b");
    list.Insert(0, "a");
    list.Add("c");
    list.Delete(1);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list[0], "a");
    EXPECT_EQ(list[1], "c");
    EXPECT_EQ(list.IndexOf("C"), 1);
    EXPECT_EQ(list.IndexOf("b"), -1);
    list.SetStrings(0, "z");
    EXPECT_EQ(list[0], "z");
    EXPECT_THROW(list.Strings(2), EStringListError);
    EXPECT_THROW(list.Delete(-1), EStringListError);
    EXPECT_THROW(list.Insert(3, "x"), EStringListError);

    TStringList copy;
    copy.Assign(&list);
    EXPECT_EQ(copy.Text(), list.Text());
}

TEST(StringList, FilesRoundTripAndFailuresRaise)
{
    const std::string path = TempPath("lines.txt");
    TStringList list;
    list.Add("Target Val:");
    list.Add("101.6");
    list.SaveToFile(path);

    TStringList back;
    back.Add("old");
    back.LoadFromFile(path);
    EXPECT_EQ(back.Text(), "Target Val:\r\n101.6\r\n");
    DeleteFileA(path.c_str());

    TStringList kept;
    kept.Add("kept");
    try {
        kept.LoadFromFile(TempPath("missing.txt"));
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Cannot open file \"", 0), 0u) << e.what();
    }
    EXPECT_EQ(kept.Count(), 1);  // a failed read leaves the list alone
    EXPECT_THROW(list.SaveToFile(TempPath("no_such_folder\\x.txt")), EFCreateError);
}

}  // namespace
