#include "SetupArguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string narrow(std::wstring_view s)
{
    return std::string(s.begin(), s.end());
}

std::vector<std::wstring> split(const wchar_t* line)
{
    std::vector<std::wstring> out;
    for (const zString& piece : SplitSetupArguments(line)) out.push_back(piece.str());
    return out;
}

TEST(SplitSetupArguments, CutsAtBlanksOutsideQuotesAndKeepsTheQuotes)
{
    struct Row {
        const char* name;
        const wchar_t* line;
        std::vector<std::wstring> expected;
    } rows[] = {
        {"empty line", L"", {}},
        {"blanks only", L"    ", {}},
        {"one argument", L"-s", {L"-s"}},
        {"runs of blanks give no empty pieces", L"  -s   -auto  ", {L"-s", L"-auto"}},
        {"a quoted value with blanks is one argument, quotes kept", L"-media_path:\"C:\\My Media\\\" -s",
         {L"-media_path:\"C:\\My Media\\\"", L"-s"}},
        {"a quote inside the argument toggles too", L"a\"b c\"d e", {L"a\"b c\"d", L"e"}},
        {"two quoted stretches", L"\"a b\" \"c d\"", {L"\"a b\"", L"\"c d\""}},
        {"an open quote runs to the end", L"-f2\"C:\\a b -s", {L"-f2\"C:\\a b -s"}},
        {"only the blank cuts: tabs and line feeds stay", L"a\tb c\n", {L"a\tb", L"c\n"}},
        {"a backslash before a quote escapes nothing", L"\"C:\\x\\\" y", {L"\"C:\\x\\\"", L"y"}},
        {"an empty pair of quotes is an argument", L"a \"\" b", {L"a", L"\"\"", L"b"}},
    };
    for (const Row& row : rows) EXPECT_EQ(split(row.line), row.expected) << row.name;
}

TEST(ParseLanguageId, HexAfterZeroXElseDecimal)
{
    struct Row {
        const char* name;
        const wchar_t* text;
        bool ok;
        LANGID id;
    } rows[] = {
        {"hex", L"0x409", true, 0x409},
        {"hex with a capital X and digits", L"0X040C", true, 0x40c},
        {"decimal", L"1033", true, 1033},
        {"decimal is not read as hex", L"0409", true, 409},
        {"zero is no language", L"0", false, 0},
        {"above 16 bits", L"0x10000", false, 0},
        {"trailing text", L"1033x", false, 0},
        {"letters", L"log", false, 0},
        {"bare prefix", L"0x", false, 0},
        {"empty", L"", false, 0},
        {"a sign is no digit", L"-1", false, 0},
    };
    for (const Row& row : rows) {
        LANGID id = 0;
        EXPECT_EQ(ParseLanguageId(row.text, id), row.ok) << row.name;
        EXPECT_EQ(id, row.id) << row.name;
    }
}

TEST(ParseLanguageList, SkipsWhatIsNoIdAndRepeats)
{
    EXPECT_EQ(ParseLanguageList(L"0x0409,0x0407;1036 0x0409, junk,,0x0413"),
              (std::vector<LANGID>{0x409, 0x407, 1036, 0x413}));
    EXPECT_TRUE(ParseLanguageList(L"").empty());
}

// A lookup over a fresh list: found index, value and remainder.
struct Lookup {
    const char* name;
    const wchar_t* line;
    const wchar_t* option;
    unsigned flags;
    size_t index;
    const wchar_t* value;
    const wchar_t* remainder;
};

TEST(CSetupOptionList, FindsOptionsByTheStartOfTheirName)
{
    constexpr unsigned exact = CSetupOptionList::option_exact;
    constexpr unsigned consume = CSetupOptionList::option_consume;
    constexpr size_t none = CSetupOptionList::npos;
    const Lookup rows[] = {
        {"dash", L"-s", L"s", 0, 0, L"", L"-s"},
        {"slash", L"/s", L"s", 0, 0, L"", L"/s"},
        {"no leading character: no option", L"s", L"s", 0, none, L"", L"s"},
        {"the name without regard to case", L"/L1033", L"l", 0, 0, L"1033", L"/L1033"},
        {"the rest is the value", L"-l0x409", L"l", consume, 0, L"0x409", L""},
        {"quotes around the value are removed", L"-media_path:\"C:\\My Media\\\"", L"media_path:", consume, 0,
         L"C:\\My Media\\", L""},
        {"exact refuses a longer argument", L"-show_err_msg_invalid_identity", L"show_err_msg", exact, none, L"",
         L"-show_err_msg_invalid_identity"},
        {"exact takes the bare name", L"-x -show_err_msg", L"show_err_msg", exact | consume, 1, L"", L"-x"},
        {"without consume the argument stays", L"a -s b", L"s", exact, 1, L"", L"a -s b"},
        {"consumed leaves the remainder", L"a -s b", L"s", exact | consume, 1, L"", L"a b"},
        {"the last of a repeated option, all consumed", L"-l1031 x -l1036", L"l", consume, 2, L"1036", L"x"},
        {"a name longer than the argument", L"-s", L"show", 0, none, L"", L"-s"},
        {"a quoted argument is no option", L"\"-s\"", L"s", 0, none, L"", L"\"-s\""},
        {"remainder: single blanks, trimmed of tabs and line feeds", L"\t a   -s  b\n", L"s", exact | consume, 2, L"",
         L"a b"},
    };
    for (const Lookup& row : rows) {
        CSetupOptionList list(row.line);
        zString value;
        EXPECT_EQ(list.Find(row.option, row.flags, &value), row.index) << row.name;
        EXPECT_EQ(narrow(value.view()), narrow(row.value)) << row.name;
        EXPECT_EQ(narrow(list.Remainder().view()), narrow(row.remainder)) << row.name;
    }
}

TEST(CSetupOptionList, AValueTestPassesOverArgumentsItRefuses)
{
    CSetupOptionList list(L"-log -l1033 -lang");
    zString value;
    const auto is_number = [](std::wstring_view v) {
        LANGID id = 0;
        return ParseLanguageId(v, id);
    };
    EXPECT_EQ(list.Find(L"l", CSetupOptionList::option_consume, &value, is_number), 1u);
    EXPECT_EQ(value, L"1033");
    EXPECT_EQ(list.Remainder(), L"-log -lang");
    EXPECT_FALSE(list.IsConsumed(0));
    EXPECT_TRUE(list.IsConsumed(1));
}

}  // namespace
