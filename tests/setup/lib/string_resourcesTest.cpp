#include "string_resources.h"

#include "FileSupport.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

constexpr LANGID english_us = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr LANGID german = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
constexpr LANGID german_swiss = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN_SWISS);
constexpr LANGID german_austrian = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN_AUSTRIAN);
constexpr LANGID swedish = MAKELANGID(LANG_SWEDISH, SUBLANG_DEFAULT);
constexpr LANGID japanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

// string_fixture.dll: string tables in neutral, 0x409, 0x407 and 0xC07, and the hand-made
// blocks 100 to 105.
class string_fixture {
public:
    string_fixture() : module_(LoadLibraryW(beside_program(L"string_fixture.dll").c_str())) {}
    HMODULE get() const { return module_.get(); }

    std::wstring find(UINT id, LANGID language) const
    {
        zString text(L"unchanged");
        return qv::FindStringResource(text, id, language, get()) ? text.str() : L"(not found)";
    }

    HRSRC block(WORD name) const { return FindResourceExW(get(), RT_STRING, MAKEINTRESOURCEW(name), LANG_NEUTRAL); }
    const unsigned char* data(WORD name) const
    {
        return static_cast<const unsigned char*>(LockResource(LoadResource(get(), block(name))));
    }
    DWORD size(WORD name) const { return SizeofResource(get(), block(name)); }

private:
    qv::module_handle module_;
};

std::vector<LANGID> order_of(LANGID language, LANGID user, LANGID system)
{
    const qv::string_language_order order = qv::StringLanguageOrder(language, user, system);
    return std::vector<LANGID>(order.ids, order.ids + order.count);
}

TEST(StringLanguageOrder, PrimaryLanguageWithItsDefaultSublanguageThenUserThenNeutral)
{
    struct Row {
        const char* name;
        LANGID language, user, system;
        std::vector<LANGID> expected;
    } rows[] = {
        {"Swiss German: German, never Austrian German", german_swiss, english_us, english_us,
         {german_swiss, german, english_us, 0}},
        {"the default sublanguage itself is not repeated", german, english_us, english_us, {german, english_us, 0}},
        {"the user's language is the one asked", english_us, english_us, english_us, {english_us, 0}},
        {"Austrian German for a German user", german_austrian, german, german, {german_austrian, german, 0}},
        {"a language without sublanguage", MAKELANGID(LANG_GERMAN, SUBLANG_NEUTRAL), english_us, english_us,
         {MAKELANGID(LANG_GERMAN, SUBLANG_NEUTRAL), german, english_us, 0}},
        {"the user's default asked", LANG_USER_DEFAULT, swedish, english_us, {swedish, 0}},
        {"the system's default asked", LANG_SYSTEM_DEFAULT, english_us, german, {german, english_us, 0}},
        {"neutral asked", LANG_NEUTRAL, english_us, english_us, {0, english_us}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(order_of(row.language, row.user, row.system), row.expected) << row.name;
}

TEST(FindStringResource, TheAskedLanguageAndItsFallbacks)
{
    const string_fixture fixture;
    ASSERT_NE(fixture.get(), nullptr);
    struct Row {
        const char* name;
        UINT id;
        LANGID language;
        const wchar_t* expected;
    } rows[] = {
        {"US English", 1, english_us, L"Hello"},
        {"German", 1, german, L"Hallo"},
        {"Austrian German", 1, german_austrian, L"Servus"},
        {"Swiss German takes German, not Austrian German or neutral", 1, german_swiss, L"Hallo"},
        {"German without sublanguage takes German", 1, MAKELANGID(LANG_GERMAN, SUBLANG_NEUTRAL), L"Hallo"},
        {"an empty slot in Austrian German goes on to German", 3, german_austrian, L"Drei"},
        {"only in the neutral table, asked in German", 2, german, L"Neutral only"},
        {"only in the neutral table, asked in Japanese", 2, japanese, L"Neutral only"},
        {"only in the neutral table, asked in US English", 2, english_us, L"Neutral only"},
        {"only in the neutral table, neutral asked", 2, LANG_NEUTRAL, L"Neutral only"},
        {"the last slot of a block", 15, english_us, L"Last slot"},
        {"text beyond ASCII", 6, german, L"Gr\u00fc\u00dfe"},
        {"a string of the second block", 21, english_us, L"One: %s"},
    };
    for (const Row& row : rows) EXPECT_EQ(fixture.find(row.id, row.language), row.expected) << row.name;
}

// The cases run in two prefixes, one with a US English and one with a German user.
TEST(FindStringResource, ALanguageTheModuleLacksTakesTheUsersThenNeutral)
{
    const string_fixture fixture;
    ASSERT_NE(fixture.get(), nullptr);
    const LANGID user = GetUserDefaultLangID();
    if (user != english_us && user != german) GTEST_SKIP() << "the fixture has no table for the user's language " << user;
    struct Row {
        const char* name;
        UINT id;
        LANGID language;
        const wchar_t* for_english_user;
        const wchar_t* for_german_user;
    } rows[] = {
        {"Swedish", 1, swedish, L"Hello", L"Hallo"},
        {"Swedish, a string the user's table lacks", 2, swedish, L"Neutral only", L"Neutral only"},
        {"Swedish, a string only German and neutral have", 3, swedish, L"Three (neutral)", L"Drei"},
        {"an empty slot in US English", 3, english_us, L"Three (neutral)", L"Drei"},
        {"an empty slot in German", 15, german, L"Last slot", L"Last slot (neutral)"},
        {"the user's default", 1, LANG_USER_DEFAULT, L"Hello", L"Hallo"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(fixture.find(row.id, row.language), user == german ? row.for_german_user : row.for_english_user)
            << row.name;
}

TEST(FindStringResource, MissingStringsAnswerFalseAndLeaveTheText)
{
    const string_fixture fixture;
    ASSERT_NE(fixture.get(), nullptr);
    struct Row {
        const char* name;
        UINT id;
        HMODULE module;
    } rows[] = {
        {"a slot empty in every language", 5, fixture.get()},
        {"a block no language has", 40, fixture.get()},
        {"the last block", 0xFFFF, fixture.get()},
        {"an id beyond 16 bits whose low bits would name block 1", 0x100001, fixture.get()},
        {"a module without string tables", 1, GetModuleHandleW(nullptr)},
    };
    for (const Row& row : rows) {
        for (const LANGID language : {english_us, german, german_swiss, LANGID{LANG_NEUTRAL}}) {
            zString text(L"unchanged");
            EXPECT_FALSE(qv::FindStringResource(text, row.id, language, row.module)) << row.name << ", " << language;
            EXPECT_EQ(text.str(), L"unchanged") << row.name;
        }
    }
}

TEST(LoadStringFromBlock, NeverReadsPastTheBlock)
{
    const string_fixture fixture;
    ASSERT_NE(fixture.get(), nullptr);
    // The premises: each damaged block lies right before more string data, which a walk that
    // ignored the block's size would read as its own.
    ASSERT_EQ(fixture.size(100), 32u);
    ASSERT_EQ(fixture.data(100) + 32, fixture.data(101));
    ASSERT_EQ(fixture.size(102), 6u);
    ASSERT_EQ(fixture.size(103), 3u);
    ASSERT_EQ(fixture.size(104), 1u);
    ASSERT_LT(fixture.data(102), fixture.data(105));
    ASSERT_EQ(fixture.size(106), 8u);
    ASSERT_EQ(fixture.data(106) + 8, fixture.data(107));

    struct Row {
        const char* name;
        WORD block;
        UINT slot;
        const wchar_t* expected;
    } rows[] = {
        {"a slot inside a short block", 100, 3, L"s03"},
        {"the first slot past a short block's end", 100, 4, L"(not found)"},
        {"the last slot of a short block", 100, 15, L"(not found)"},
        {"the neighbour's own first slot", 101, 0, L"nxt"},
        {"a length that runs past the end", 102, 0, L"(not found)"},
        {"a slot behind a length that runs past the end", 102, 1, L"(not found)"},
        {"a block that ends inside a character", 103, 0, L"(not found)"},
        {"a slot behind a character cut short", 103, 1, L"(not found)"},
        {"a block that ends inside a length", 104, 0, L"(not found)"},
        {"a full block's last slot", 105, 3, L"zz3"},
        {"a length that runs into the neighbour", 106, 0, L"(not found)"},
        {"a slot behind a length that runs into the neighbour", 106, 1, L"(not found)"},
        {"the neighbour's slot that an unbounded walk would take", 107, 1, L"nb1"},
    };
    for (const Row& row : rows) {
        const UINT id = (row.block - 1u) * 16u + row.slot;
        zString text(L"unchanged");
        const bool found = qv::LoadStringFromBlock(text, fixture.block(row.block), id, fixture.get());
        EXPECT_EQ(found ? text.str() : L"(not found)", row.expected) << row.name;
        if (!found) {
            EXPECT_EQ(text.str(), L"unchanged") << row.name;
        }
        // The search by id finds the block and comes to the same answer.
        EXPECT_EQ(fixture.find(id, english_us), row.expected) << row.name;
    }

    zString text(L"unchanged");
    EXPECT_FALSE(qv::LoadStringFromBlock(text, nullptr, 1, fixture.get()));
    EXPECT_EQ(text.str(), L"unchanged");
}

// The names of the C run-time's locale functions that the table holds.
const wchar_t* const table_names[] = {
    L"chinese", L"chinese-simplified", L"chinese-traditional", L"czech", L"danish", L"dutch", L"dutch-belgian",
    L"english", L"english-uk", L"american", L"australian", L"canadian", L"english-nz", L"finnish", L"french",
    L"french-belgian", L"french-swiss", L"french-canadian", L"german", L"german-austrian", L"german-swiss",
    L"greek", L"hungarian", L"icelandic", L"italian", L"italian-swiss", L"japanese", L"korean", L"norwegian",
    L"norwegian-bokmal", L"norwegian-nynorsk", L"polish", L"portuguese", L"portuguese-brazilian", L"russian",
    L"slovak", L"spanish", L"spanish-mexican", L"spanish-modern", L"swedish", L"turkish",
};

TEST(LanguageNames, EveryNameHasAnIdOfItsOwnAndBack)
{
    std::set<LANGID> ids;
    for (const wchar_t* name : table_names) {
        const LANGID id = qv::LanguageNameToId(name);
        EXPECT_NE(id, 0) << std::string(name, name + wcslen(name));
        ids.insert(id);
        EXPECT_EQ(qv::LanguageIdToName(id).str(), name);
    }
    EXPECT_EQ(ids.size(), std::size(table_names));
}

TEST(LanguageNames, UsualWindowsIdsWithoutRegardToCase)
{
    struct Row {
        const wchar_t* name;
        LANGID id;
    } rows[] = {
        {L"german", 0x0407},
        {L"german-swiss", 0x0807},
        {L"GERMAN-Austrian", 0x0C07},
        {L"American", 0x0409},
        {L"english-UK", 0x0809},
        {L"english", 0x0009},
        {L"Chinese-Simplified", 0x0804},
        {L"chinese-traditional", 0x0404},
        {L"portuguese", 0x0816},
        {L"portuguese-brazilian", 0x0416},
        {L"spanish-modern", 0x0C0A},
        {L"norwegian-nynorsk", 0x0814},
        {L"french-canadian", 0x0C0C},
        {L"Japanese", 0x0411},
        {L"TURKISH", 0x041F},
    };
    for (const Row& row : rows) {
        const std::string shown(row.name, row.name + wcslen(row.name));
        EXPECT_EQ(qv::LanguageNameToId(row.name), row.id) << shown;
        EXPECT_TRUE(qv::LanguageIdToName(row.id).equals(row.name)) << shown;
    }
}

TEST(LanguageNames, UnknownNamesAndIds)
{
    struct NameRow {
        const char* name;
        const wchar_t* text;
    } names[] = {
        {"not a language", L"klingon"},
        {"empty", L""},
        {"null", nullptr},
        {"a name cut short", L"germa"},
        {"a name with a trailing dash", L"german-"},
        {"a name with a trailing blank", L"german-swiss "},
        {"a locale name, not a table name", L"de-CH"},
    };
    for (const NameRow& row : names) EXPECT_EQ(qv::LanguageNameToId(row.text), 0) << row.name;

    struct IdRow {
        const char* name;
        LANGID id;
    } ids[] = {
        {"Thai", MAKELANGID(LANG_THAI, SUBLANG_DEFAULT)},
        {"German of Liechtenstein", MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN_LIECHTENSTEIN)},
        {"neutral", LANG_NEUTRAL},
        {"the user's default", LANG_USER_DEFAULT},
        {"all bits", 0xFFFF},
    };
    for (const IdRow& row : ids) EXPECT_TRUE(qv::LanguageIdToName(row.id).empty()) << row.name;
}

struct window_traits {
    using type = HWND;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { DestroyWindow(h); }
};
using window_handle = qv::handle<window_traits>;

// A hidden window of the case's own with one child control, item 1001.
class item_window {
public:
    static constexpr int item = 1001;

    item_window()
        : parent_(CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr))
    {
        CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 50, 20, parent_.get(),
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(item)), nullptr, nullptr);
    }
    HWND get() const { return parent_.get(); }
    bool has_item() const { return GetDlgItem(get(), item) != nullptr; }
    void set_text(const wchar_t* text) const { SetDlgItemTextW(get(), item, text); }
    std::wstring text() const
    {
        wchar_t buffer[256] = {};
        GetDlgItemTextW(get(), item, buffer, 256);
        return buffer;
    }

private:
    window_handle parent_;
};

DWORD_PTR arg(const wchar_t* text) { return reinterpret_cast<DWORD_PTR>(text); }

TEST(SetDlgItemTextFromResource, TheStringAsTextOrAsAFormatForTheArgumentsSet)
{
    const string_fixture fixture;
    ASSERT_NE(fixture.get(), nullptr);
    const item_window window;
    ASSERT_TRUE(window.has_item());
    struct Row {
        const char* name;
        int item;
        UINT id;
        LANGID language;
        DWORD_PTR first, second, third;
        bool answer;
        const wchar_t* text;
    } rows[] = {
        {"no argument: the string as it is", item_window::item, 20, english_us, 0, 0, 0, true, L"Plain %s text"},
        {"the first", item_window::item, 21, english_us, arg(L"a"), 0, 0, true, L"One: a"},
        {"the first two", item_window::item, 22, english_us, arg(L"a"), 7, 0, true, L"Two: a, 7"},
        {"all three", item_window::item, 23, english_us, arg(L"a"), arg(L"b"), arg(L"c"), true, L"Three: a b c"},
        {"the second without the first", item_window::item, 22, english_us, 0, 7, 0, true, L""},
        {"the third alone", item_window::item, 23, english_us, 0, 0, arg(L"c"), true, L""},
        {"the third without the second", item_window::item, 23, english_us, arg(L"a"), 0, arg(L"c"), true, L""},
        {"the second and third without the first", item_window::item, 23, english_us, 0, arg(L"b"), arg(L"c"),
         true, L""},
        {"a format asking for more than it is given reads nulls", item_window::item, 23, english_us, arg(L"a"), 0,
         0, true, L"Three: a (null) (null)"},
        {"the language's fallback", item_window::item, 1, german_swiss, 0, 0, 0, true, L"Hallo"},
        {"a string not found", item_window::item, 40, english_us, 0, 0, 0, false, L"before"},
        {"an item the window lacks", 1002, 20, english_us, 0, 0, 0, false, L"before"},
    };
    for (const Row& row : rows) {
        window.set_text(L"before");
        EXPECT_EQ(qv::SetDlgItemTextFromResource(window.get(), row.item, row.id, row.language, fixture.get(),
                                                 row.first, row.second, row.third),
                  row.answer)
            << row.name;
        EXPECT_EQ(window.text(), row.text) << row.name;
    }
}

}  // namespace
