#include "inifilex.h"
#include "vector_map.h"
#include "win32_exception.h"

#include "FileSupport.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

bytes ascii(std::string_view text)
{
    return bytes(text.begin(), text.end());
}

bytes utf16(std::wstring_view text, bool big_endian)
{
    bytes out = big_endian ? bytes{0xFE, 0xFF} : bytes{0xFF, 0xFE};
    for (const wchar_t c : text) {
        const auto low = static_cast<unsigned char>(c & 0xFF), high = static_cast<unsigned char>(c >> 8);
        out.push_back(big_endian ? high : low);
        out.push_back(big_endian ? low : high);
    }
    return out;
}

// "[name]key=value;..." for every section in order: what a load read, at a glance.
std::wstring dump(const qv::inifilex& ini)
{
    std::wstring out;
    for (const auto& [name, section] : ini) {
        out += L"[" + name.str() + L"]";
        for (const auto& [key, entry] : section) out += key.str() + L"=" + entry.value.str() + L";";
    }
    return out;
}

// Every name's index entry is its position, and the index holds nothing else.
template <class Map>
::testing::AssertionResult index_matches(const Map& map)
{
    if (map.index().size() != map.size())
        return ::testing::AssertionFailure() << map.index().size() << " index entries for " << map.size() << " pairs";
    for (size_t at = 0; at < map.size(); ++at)
        if (map.position(map[at].first) != at)
            return ::testing::AssertionFailure() << "pair " << at << " is indexed at " << map.position(map[at].first);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult indexes_match(const qv::inifilex& ini)
{
    if (auto r = index_matches(ini); !r) return r << " (sections)";
    for (const auto& [name, section] : ini)
        if (auto r = index_matches(section); !r) return r << " (section " << name.narrow() << ")";
    return ::testing::AssertionSuccess();
}

std::vector<std::wstring> strings(const std::vector<zString>& list)
{
    std::vector<std::wstring> out;
    for (const zString& s : list) out.push_back(s.str());
    return out;
}

TEST(inifilex, LoadRules)
{
    struct Case {
        const char* name;
        std::string_view text;
        bool loads;
        const wchar_t* sections;
        const wchar_t* separator = L"=";
    };
    const Case cases[] = {
        {"a header repeated in another case continues its section; the first value wins; CR LF, LF and CR break",
            "[Main]\r\na=1\n[Other]\rb=2\r\n[MAIN]\na=9\rc=3", true, L"[Main]a=1;c=3;[Other]b=2;"},
        {"a key met again in another case keeps its first value", "[S]\r\nKey=1\r\nkEY=2\r\n", true, L"[S]Key=1;"},
        {"an entry before any header", "a=1\r\n[S]\r\nb=2\r\n", false, L""},
        {"an entry after comments but before any header", "; note\r\n\r\na=1\r\n", false, L""},
        {"a header without ] keeps what came before it", "[A]\r\nx=1\r\n[B\r\ny=2\r\n", false, L"[A]x=1;"},
        {"comments, empty lines and the text after ] add nothing",
            "; top\r\n\r\n[S] trailing ; text\r\n;k=v\r\n\r\nk=v\r\n\r\n", true, L"[S]k=v;"},
        {"a line without = is a key with an empty value", "[S]\r\nflag\r\n", true, L"[S]flag=;"},
        {"two = split at the first", "[S]\r\na=b=c\r\n", true, L"[S]a=b=c;"},
        {"blanks around = stay in key and value", "[S]\r\n key = v \r\n", true, L"[S] key = v ;"},
        {"a leading blank makes a header line an entry", "[S]\r\n [X]\r\n", true, L"[S] [X]=;"},
        {"a leading blank makes a comment line an entry", "[S]\r\n ;c=1\r\n", true, L"[S] ;c=1;"},
        {"; inside a value is text", "[S]\r\nk=v ; not a comment\r\n", true, L"[S]k=v ; not a comment;"},
        {"[] names the empty section", "[]\r\nk=v\r\n", true, L"[]k=v;"},
        {"the name ends at the first ]", "[a]b]\r\nk=v\r\n", true, L"[a]k=v;"},
        {"names are not trimmed", "[ S ]\r\nk=v\r\n", true, L"[ S ]k=v;"},
        {"LF then CR is two breaks", "[S]\n\rk=v\n\r", true, L"[S]k=v;"},
        {"the text after the last break is a line", "[S]\r\nk=v", true, L"[S]k=v;"},
        {"a text ending in a lone CR", "[S]\rk=v\r", true, L"[S]k=v;"},
        {"an empty key", "[S]\r\n=v\r\n", true, L"[S]=v;"},
        {"a header with no entries", "[A]\r\n[B]\r\nk=v\r\n", true, L"[A][B]k=v;"},
        {"an empty file", "", true, L""},
        {"comments only", ";a\r\n;b", true, L""},
        {"blank lines only", "\r\n\n\r", true, L""},
        {"another separator, searched without regard to case", "[S]\r\nname IS value is more\r\n", true,
            L"[S]name=value is more;", L" is "},
        {"a line without that separator", "[S]\r\nname=value\r\n", true, L"[S]name=value=;", L":"},
    };
    const scratch_folder folder(L"setup_inifilex");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = folder.write(L"rules.ini", ascii(c.text));
        qv::inifilex ini;
        ini.set_modified(true);
        EXPECT_EQ(ini.load(path.c_str(), c.separator, false), c.loads);
        EXPECT_EQ(dump(ini), c.sections);
        EXPECT_TRUE(indexes_match(ini));
        EXPECT_EQ(ini.last_error(), 0u) << "only a failed open sets the last error";
        EXPECT_EQ(ini.get_modified(), !c.loads) << "a successful load clears the modified flag, a failed one leaves it";
        EXPECT_EQ(ini.get_path(), path.c_str());
        EXPECT_EQ(ini.get_separator(), c.separator);
    }
}

TEST(inifilex, LoadReplacesWhatWasHeldAndAMissingFileIsAFailedOpen)
{
    const scratch_folder folder(L"setup_inifilex");
    qv::inifilex ini;
    ini.set_string(L"Old", L"k", L"v");
    const std::wstring missing = folder.join(L"missing.ini");
    EXPECT_FALSE(ini.load(missing.c_str(), L"=", false));
    EXPECT_EQ(ini.last_error(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(ini.empty());
    EXPECT_EQ(ini.get_path(), missing.c_str());

    const std::wstring path = folder.write(L"one.ini", ascii("[New]\r\nk=v\r\n"));
    EXPECT_TRUE(ini.load(path.c_str(), L"=", true));
    EXPECT_EQ(ini.last_error(), 0u);
    EXPECT_TRUE(ini.bare_key());
    EXPECT_EQ(dump(ini), L"[New]k=v;");
}

TEST(inifilex, CodePageOfTheLoad)
{
    const std::wstring text = L"[S]\r\nk=A\u00e9\u20ac\r\n";
    struct Case {
        const char* name;
        bytes content;
        int imposed;
        int codePage;
        bool bom;
        const wchar_t* sections;
    };
    const Case cases[] = {
        {"UTF-16LE mark", utf16(text, false), -1, 1200, true, L"[S]k=A\u00e9\u20ac;"},
        {"UTF-16BE mark", utf16(text, true), -1, 1201, true, L"[S]k=A\u00e9\u20ac;"},
        {"UTF-8 mark", ascii("\xEF\xBB\xBF[S]\r\nk=A\xC3\xA9\xE2\x82\xAC\r\n"), -1, 65001, true, L"[S]k=A\u00e9\u20ac;"},
        {"no mark reads ANSI", ascii("[S]\r\nk=A\xE9\r\n"), -1, 0, false, L"[S]k=A\u00e9;"},
        {"a code page set before the load reads an unmarked file", ascii("[S]\r\nk=A\xC3\xA9\r\n"), 65001, 65001, false,
            L"[S]k=A\u00e9;"},
        {"a marked file keeps its mark's code page", utf16(text, false), 65001, 1200, true, L"[S]k=A\u00e9\u20ac;"},
        {"a UTF-16 mark of an odd length drops the half unit", [&] {
             bytes b = utf16(L"[S]\r\nk=v", false);
             b.push_back('x');
             return b;
         }(), -1, 1200, true, L"[S]k=v;"},
    };
    const scratch_folder folder(L"setup_inifilex");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = folder.write(L"page.ini", c.content);
        qv::inifilex ini;
        EXPECT_EQ(ini.code_page(), -1);
        ini.set_code_page(c.imposed);
        ASSERT_TRUE(ini.load(path.c_str(), L"=", false));
        EXPECT_EQ(ini.code_page(), c.codePage);
        EXPECT_EQ(ini.bom(), c.bom);
        EXPECT_EQ(dump(ini), c.sections);
    }
}

TEST(inifilex, AnUnknownCodePageIsAFailedLoadNotAnEmptyFile)
{
    const scratch_folder folder(L"setup_inifilex");
    const std::wstring path = folder.write(L"page.ini", ascii("[S]\r\nk=v\r\n"));
    qv::inifilex ini;
    ini.set_code_page(12345);
    EXPECT_FALSE(ini.load(path.c_str(), L"=", false));
    EXPECT_NE(ini.last_error(), 0u);
    ini.set_string(L"S", L"k", L"w");
    EXPECT_FALSE(ini.save_as_loaded(0, 0, false));
    EXPECT_EQ(read_back(path), ascii("[S]\r\nk=v\r\n"));
}

TEST(inifilex, GetInt)
{
    struct Case {
        const wchar_t* value;  // null: no such key
        int expected;
    };
    const Case cases[] = {
        {nullptr, -7},  {L"", -7},     {L"42", 42},          {L"-42", -42},      {L"  +5", 5},
        {L"0x1F", 31},  {L"0X1f", 31}, {L"12abc", 12},       {L"abc", 0},        {L"0x", 0},
        {L"-0x10", 0},  {L" 0x10", 0}, {L"0xZ", 0},          {L"0x-5", -5},      {L"2147483647", 2147483647},
        {L"007", 7},    {L"0x7FFFFFFF", 2147483647},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.value ? zString(c.value).narrow() : "(missing)"));
        qv::inifilex ini;
        ini.add_section(L"S");
        if (c.value) ini.set_string(L"S", L"k", c.value);
        EXPECT_EQ(ini.get_int(L"s", L"K", -7), c.expected);
    }
    qv::inifilex ini;
    EXPECT_EQ(ini.get_int(L"missing", L"k", 3), 3);
}

TEST(inifilex, GetBool)
{
    struct Case {
        const wchar_t* value;
        bool whenDefaultFalse, whenDefaultTrue;
    };
    const Case cases[] = {
        {nullptr, false, true}, {L"", false, true},    {L"yes", true, true},   {L"YES", true, true},
        {L"y", true, true},     {L"Y", true, true},    {L"TRUE", true, true},  {L"true", true, true},
        {L"1", true, true},     {L"0", false, false},  {L"no", false, false},  {L"yes ", false, false},
        {L" 1", false, false},  {L"2", false, false},  {L"on", false, false},  {L"Ye", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.value ? zString(c.value).narrow() : "(missing)"));
        qv::inifilex ini;
        ini.add_section(L"S");
        if (c.value) ini.set_string(L"S", L"k", c.value);
        EXPECT_EQ(ini.get_bool(L"S", L"k", false), c.whenDefaultFalse);
        EXPECT_EQ(ini.get_bool(L"S", L"k", true), c.whenDefaultTrue);
    }
}

TEST(inifilex, SettersStoreTextCreateWhatIsMissingAndSetTheModifiedFlag)
{
    qv::inifilex ini;
    EXPECT_FALSE(ini.get_modified());
    ini.add_section(L"Empty");
    EXPECT_FALSE(ini.get_modified()) << "adding a section is no change of a value";
    ini.set_int(L"Numbers", L"minus", -12);
    ini.set_bool(L"Flags", L"on", true);
    ini.set_bool(L"flags", L"OFF", false);
    ini.set_string(L"NUMBERS", L"text", L"x");
    ini.set_int(L"numbers", L"MINUS", 5);
    EXPECT_TRUE(ini.get_modified());
    EXPECT_EQ(dump(ini), L"[Empty][Numbers]minus=5;text=x;[Flags]on=Yes;OFF=No;");
    EXPECT_EQ(ini.get_string(L"numbers", L"Text", L"d"), L"x");
    EXPECT_EQ(ini.get_string(L"numbers", L"none", L"d"), L"d");
    EXPECT_EQ(ini.get_string(L"none", L"text", L"d"), L"d");
    ini.set_string(L"Numbers", L"blank", L"");
    EXPECT_EQ(ini.get_string(L"Numbers", L"blank", L"d"), L"") << "an empty value is a value";
    EXPECT_TRUE(ini.key_exists(L"numbers", L"BLANK"));
    EXPECT_FALSE(ini.key_exists(L"nowhere", L"blank"));
    EXPECT_TRUE(ini.section_exists(L"EMPTY"));
    EXPECT_FALSE(ini.section_exists(L"Emptyx"));
    EXPECT_TRUE(indexes_match(ini));
}

// Which operations set the modified flag, each from a file that has just been loaded.
TEST(inifilex, TheModifiedFlag)
{
    struct Case {
        const char* name;
        void (*op)(qv::inifilex&);
        bool modified;
    };
    const Case cases[] = {
        {"get_string", [](qv::inifilex& i) { i.get_string(L"A", L"a", L""); }, false},
        {"add_section", [](qv::inifilex& i) { i.add_section(L"New"); }, false},
        {"clear", [](qv::inifilex& i) { i.clear(); }, false},
        {"sort_all", [](qv::inifilex& i) { i.sort_all(); }, false},
        {"sort_section_entries of a missing one", [](qv::inifilex& i) { i.sort_section_entries(L"New"); }, false},
        {"set_string", [](qv::inifilex& i) { i.set_string(L"A", L"a", L"1"); }, true},
        {"move_key of missing keys", [](qv::inifilex& i) { i.move_key(L"A", L"x", L"y"); }, true},
        {"move_key in a missing section", [](qv::inifilex& i) { i.move_key(L"X", L"a", L"b"); }, false},
        {"rename_section to itself", [](qv::inifilex& i) { i.rename_section(L"A", L"a"); }, false},
        {"rename_section onto another", [](qv::inifilex& i) { i.rename_section(L"A", L"B"); }, false},
        {"rename_section", [](qv::inifilex& i) { i.rename_section(L"A", L"C"); }, true},
        {"rename_key", [](qv::inifilex& i) { i.rename_key(L"A", L"a", L"z"); }, true},
        {"rename_key onto another", [](qv::inifilex& i) { i.rename_key(L"A", L"a", L"b"); }, false},
        {"delete_section", [](qv::inifilex& i) { i.delete_section(L"B"); }, true},
        {"delete_section of a missing one", [](qv::inifilex& i) { i.delete_section(L"X"); }, false},
        {"delete_key", [](qv::inifilex& i) { i.delete_key(L"A", L"b"); }, true},
        {"delete_key of a missing one", [](qv::inifilex& i) { i.delete_key(L"A", L"x"); }, false},
        {"clear_section", [](qv::inifilex& i) { i.clear_section(L"B"); }, true},
        {"clear_section of a missing one", [](qv::inifilex& i) { i.clear_section(L"X"); }, false},
    };
    const scratch_folder folder(L"setup_inifilex");
    const std::wstring path = folder.write(L"flag.ini", ascii("[A]\r\na=1\r\nb=2\r\n\r\n[B]\r\nc=3\r\n"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qv::inifilex ini;
        ini.set_modified(true);
        ASSERT_TRUE(ini.load(path.c_str(), L"=", false));
        c.op(ini);
        EXPECT_EQ(ini.get_modified(), c.modified);
        EXPECT_TRUE(indexes_match(ini));
    }
}

TEST(vector_map, InsertEraseRenameMoveAndSortKeepTheIndex)
{
    qv::vector_map_i<int, qv::_stringx<qv::char_traitsi>> map;
    EXPECT_FALSE(map.allow_duplicates());
    for (const wchar_t* name : {L"delta", L"Alpha", L"charlie", L"Bravo", L"echo"}) map.insert(name, 1);
    auto [existing, added] = map.insert(L"ALPHA", 99);
    EXPECT_FALSE(added);
    EXPECT_EQ(existing - map.begin(), 1);
    EXPECT_EQ(existing->first, L"Alpha");
    EXPECT_EQ(existing->second, 1) << "inserting a held name changes nothing";
    EXPECT_EQ(map.size(), 5u);
    EXPECT_TRUE(index_matches(map));

    EXPECT_TRUE(map.erase(L"ALPHA"));
    EXPECT_FALSE(map.erase(L"alpha"));
    EXPECT_EQ(map.position(L"charlie"), 1u) << "every later pair moves down by one";
    EXPECT_EQ(map.position(L"echo"), 3u);
    EXPECT_EQ(map.position(L"delta"), 0u);
    EXPECT_TRUE(index_matches(map));

    EXPECT_TRUE(map.rename(1, L"Zulu"));
    EXPECT_EQ(map[1].first, L"Zulu") << "renamed in place";
    EXPECT_FALSE(map.contains(L"charlie"));
    EXPECT_FALSE(map.rename(1, L"ECHO")) << "another pair's name";
    EXPECT_TRUE(map.rename(1, L"ZULU")) << "its own name in another case";
    EXPECT_EQ(map[1].first, L"ZULU");
    EXPECT_TRUE(index_matches(map));

    // delta ZULU Bravo echo -> ZULU Bravo delta echo -> ZULU echo Bravo delta
    map.move_after(0, 2);
    map.move_after(3, 3);
    map.move_after(3, 0);
    map.move_after(2, 2);
    std::vector<std::wstring> order;
    for (const auto& pair : map) order.push_back(pair.first.str());
    EXPECT_EQ(order, (std::vector<std::wstring>{L"ZULU", L"echo", L"Bravo", L"delta"}));
    EXPECT_TRUE(index_matches(map));

    map.sort();
    order.clear();
    for (const auto& pair : map) order.push_back(pair.first.str());
    EXPECT_EQ(order, (std::vector<std::wstring>{L"Bravo", L"delta", L"echo", L"ZULU"})) << "by name without regard to case";
    EXPECT_TRUE(index_matches(map));

    map.clear();
    EXPECT_TRUE(map.index().empty());
}

TEST(vector_map, ALargeSortRebuildsTheWholeIndex)
{
    // More pairs than the insertion-sort threshold, in an order that is neither sorted nor reversed.
    qv::vector_map_i<int, zString> map;
    for (int i = 0; i < 500; ++i) {
        zString name;
        name.format(i % 2 ? L"key%03d" : L"KEY%03d", (i * 7919) % 500);
        map.insert(name, i);
    }
    map.sort();
    for (size_t at = 1; at < map.size(); ++at) EXPECT_LT(map[at - 1].first.compare(map[at].first), 0);
    EXPECT_TRUE(index_matches(map));
}

TEST(inifilex, MoveKey)
{
    struct Case {
        const wchar_t* key;
        const wchar_t* after;
        bool moved;
        const wchar_t* order;
    };
    const Case cases[] = {
        {L"a", L"c", true, L"[S]b=2;c=3;a=1;d=4;"},
        {L"D", L"a", true, L"[S]a=1;d=4;b=2;c=3;"},
        {L"a", L"D", true, L"[S]b=2;c=3;d=4;a=1;"},
        {L"b", L"b", true, L"[S]a=1;b=2;c=3;d=4;"},
        {L"x", L"a", false, L"[S]a=1;b=2;c=3;d=4;"},
        {L"a", L"x", false, L"[S]a=1;b=2;c=3;d=4;"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(zString(c.key).narrow() + std::string(" after ") + zString(c.after).narrow());
        qv::inifilex ini;
        for (const wchar_t* key : {L"a", L"b", L"c", L"d"}) ini.set_string(L"S", key, zString().format(L"%d", key[0] - L'a' + 1));
        EXPECT_EQ(ini.move_key(L"s", c.key, c.after), c.moved);
        EXPECT_EQ(dump(ini), c.order);
        EXPECT_TRUE(indexes_match(ini));
    }
    qv::inifilex ini;
    EXPECT_FALSE(ini.move_key(L"none", L"a", L"b"));
}

TEST(inifilex, ListingPrefixesAndNumberedValues)
{
    qv::inifilex ini;
    for (const wchar_t* name : {L"Prq.One", L"Other", L"PRQ.two", L"prq", L"xPrq.three"}) ini.add_section(name);
    ini.set_string(L"Other", L"File0", L"zero");
    ini.set_string(L"Other", L"File1", L"one");
    ini.set_string(L"Other", L"file2", L"two");
    ini.set_string(L"Other", L"File4", L"four");
    ini.set_string(L"Other", L"Item1", L"first");
    ini.set_string(L"Other", L"Item2", L"second");
    ini.set_string(L"Other", L"Only", L"once");

    std::vector<zString> list{L"kept"};
    EXPECT_EQ(ini.find_sections(list, L"prq."), 3u) << "the whole list's length";
    EXPECT_EQ(strings(list), (std::vector<std::wstring>{L"kept", L"Prq.One", L"PRQ.two"}));

    struct Case {
        const wchar_t* section;
        const wchar_t* pattern;
        std::vector<std::wstring> values;
    };
    const Case cases[] = {
        {L"other", L"File%d", {L"zero", L"one", L"two"}},  // File3 ends the list before File4
        {L"Other", L"Item%d", {L"first", L"second"}},      // Item0 is missing and passed over
        {L"Other", L"None%d", {}},
        {L"Other", L"Only", {L"once"}},  // no number: one key, not an endless list
        {L"Missing", L"File%d", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(zString(c.pattern).narrow());
        std::vector<zString> values;
        ini.get_numbered_values(c.section, c.pattern, values);
        EXPECT_EQ(strings(values), c.values);
    }

    std::vector<zString> keys{L"x"};
    ini.get_keys(L"OTHER", keys);
    EXPECT_EQ(keys.size(), 8u);
    EXPECT_EQ(keys[1], L"File0");
    EXPECT_EQ(keys[7], L"Only");
    ini.get_keys(L"missing", keys);
    EXPECT_EQ(keys.size(), 8u);
    std::vector<zString> sections;
    ini.get_sections(sections);
    EXPECT_EQ(strings(sections), (std::vector<std::wstring>{L"Prq.One", L"Other", L"PRQ.two", L"prq", L"xPrq.three"}));
}

TEST(inifilex, RenamesKeepThePlaceAndRefuseTakenNames)
{
    qv::inifilex ini;
    for (const wchar_t* name : {L"A", L"B", L"C"}) ini.set_string(name, L"k", name);
    ini.set_string(L"A", L"other", L"o");
    ini.set_modified(false);
    EXPECT_TRUE(ini.rename_section(L"b", L"B")) << "the same name in another case";
    EXPECT_EQ(dump(ini), L"[A]k=A;other=o;[B]k=B;[C]k=C;") << "and nothing changed";
    EXPECT_FALSE(ini.get_modified());
    EXPECT_TRUE(ini.rename_section(L"nowhere", L"NOWHERE")) << "equal names answer true before anything is looked up";
    EXPECT_FALSE(ini.rename_section(L"A", L"c"));
    EXPECT_FALSE(ini.rename_section(L"X", L"Y"));
    EXPECT_FALSE(ini.get_modified());
    EXPECT_TRUE(ini.rename_section(L"b", L"Middle"));
    EXPECT_TRUE(ini.get_modified());
    EXPECT_EQ(dump(ini), L"[A]k=A;other=o;[Middle]k=B;[C]k=C;");
    EXPECT_FALSE(ini.section_exists(L"B"));

    EXPECT_FALSE(ini.rename_key(L"none", L"k", L"j"));
    EXPECT_FALSE(ini.rename_key(L"A", L"k", L"OTHER"));
    EXPECT_FALSE(ini.rename_key(L"A", L"missing", L"j"));
    EXPECT_TRUE(ini.rename_key(L"a", L"K", L"first"));
    EXPECT_EQ(dump(ini), L"[A]first=A;other=o;[Middle]k=B;[C]k=C;");
    EXPECT_EQ(ini.get_string(L"A", L"FIRST", L""), L"A");
    EXPECT_TRUE(indexes_match(ini));
}

TEST(inifilex, PrefixRenamesAndDeletions)
{
    qv::inifilex ini;
    for (const wchar_t* name : {L"Old.a", L"keep", L"OLD.b", L"New.b", L"xOld.c"}) ini.set_string(name, L"k", name);
    ini.rename_sections_by_prefix(L"old.", L"New.");
    EXPECT_EQ(dump(ini), L"[New.a]k=Old.a;[keep]k=keep;[OLD.b]k=OLD.b;[New.b]k=New.b;[xOld.c]k=xOld.c;")
        << "OLD.b stays: New.b is taken";
    EXPECT_TRUE(indexes_match(ini));

    ini.delete_sections_by_prefix(L"NEW.");
    EXPECT_EQ(dump(ini), L"[keep]k=keep;[OLD.b]k=OLD.b;[xOld.c]k=xOld.c;");
    EXPECT_TRUE(indexes_match(ini));
    EXPECT_TRUE(ini.clear_section(L"old.B"));
    EXPECT_TRUE(ini.delete_key(L"keep", L"K"));
    EXPECT_FALSE(ini.delete_key(L"keep", L"K"));
    EXPECT_EQ(dump(ini), L"[keep][OLD.b][xOld.c]k=xOld.c;");
    ini.clear();
    EXPECT_TRUE(ini.empty());
    EXPECT_TRUE(ini.index().empty());
}

TEST(inifilex, MergesAndSorts)
{
    qv::inifilex source;
    source.set_string(L"Beta", L"y", L"1");
    source.set_string(L"alpha", L"x", L"2");
    qv::inifilex ini;
    ini.set_string(L"pre.alpha", L"x", L"old");
    ini.set_string(L"pre.alpha", L"keep", L"k");
    ini.merge_file(source, L"pre", L"%s.%s");
    EXPECT_EQ(dump(ini), L"[pre.alpha]x=2;keep=k;[pre.Beta]y=1;");

    ini.merge_section(L"Third", *ini.value(L"pre.alpha"));  // from one of its own sections
    ini.merge_file(ini, L"again", L"%s-%s");
    EXPECT_EQ(dump(ini), L"[pre.alpha]x=2;keep=k;[pre.Beta]y=1;[Third]x=2;keep=k;[again-pre.alpha]x=2;keep=k;"
                         L"[again-pre.Beta]y=1;[again-Third]x=2;keep=k;");

    ini.set_modified(false);
    ini.sort_all();
    EXPECT_EQ(dump(ini), L"[again-pre.alpha]keep=k;x=2;[again-pre.Beta]y=1;[again-Third]keep=k;x=2;"
                         L"[pre.alpha]keep=k;x=2;[pre.Beta]y=1;[Third]keep=k;x=2;");
    EXPECT_FALSE(ini.get_modified());
    EXPECT_TRUE(indexes_match(ini));
    ini.set_string(L"Third", L"B", L"");
    ini.set_string(L"Third", L"a", L"");
    ini.sort_section_entries(L"third");
    ini.sort_section_entries(L"Fourth");
    EXPECT_EQ(strings([&] {
        std::vector<zString> keys;
        ini.get_keys(L"Third", keys);
        return keys;
    }()), (std::vector<std::wstring>{L"a", L"B", L"keep", L"x"}));
    EXPECT_TRUE(ini.section_exists(L"Fourth"));
    EXPECT_TRUE(indexes_match(ini));
}

TEST(inifilex, SavesTheLayout)
{
    struct Case {
        const char* name;
        bool bareKey;
        unsigned options;
        std::string_view expected;
    };
    const Case cases[] = {
        {"three sections", false, 0, "[Zeta]\r\na=1\r\nflag=\r\n\r\n[Alpha]\r\nb=2\r\n\r\n[Mid]\r\nc=x = y\r\n"},
        {"bare keys", true, 0, "[Zeta]\r\na=1\r\nflag\r\n\r\n[Alpha]\r\nb=2\r\n\r\n[Mid]\r\nc=x = y\r\n"},
        {"sorted", false, qv::inifilex::save_sorted,
            "[Alpha]\r\nb=2\r\n\r\n[Mid]\r\nc=x = y\r\n\r\n[Zeta]\r\na=1\r\nflag=\r\n"},
    };
    const scratch_folder folder(L"setup_inifilex");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = folder.write(L"entries.ini", ascii("[Zeta]\r\na=1\r\nflag\r\n[Alpha]\r\nb=2\r\n[Mid]\r\nc=x = y\r\n"));
        qv::inifilex ini;
        ASSERT_TRUE(ini.load(path.c_str(), L"=", c.bareKey));
        const std::wstring saved = folder.join(L"saved.ini");
        EXPECT_TRUE(ini.save(saved.c_str(), c.options, 0, false));
        EXPECT_EQ(read_back(saved), ascii(c.expected));
        EXPECT_EQ(ini.get_path(), saved.c_str());
        EXPECT_EQ(ini.last_error(), 0u);
    }
}

TEST(inifilex, SaveOptionsCodePagesAndEmptyFiles)
{
    const scratch_folder folder(L"setup_inifilex");
    qv::inifilex ini;
    const std::wstring nothing = folder.join(L"nothing.ini");
    EXPECT_TRUE(ini.save(nothing.c_str(), qv::inifilex::save_nothing_when_empty, 0, false));
    EXPECT_FALSE(exists(nothing));
    EXPECT_TRUE(ini.get_path().empty()) << "the path is not stored";
    EXPECT_TRUE(ini.save(nothing.c_str(), 0, 0, false));
    EXPECT_TRUE(exists(nothing));
    EXPECT_EQ(read_back(nothing), bytes{});

    ini.set_string(L"S", L"k", L"\u00e9\u20ac");
    EXPECT_FALSE(ini.save(L"", 0, 0, false));
    EXPECT_TRUE(ini.get_modified());

    struct Case {
        const char* name;
        int codePage;
        bool bom;
        bytes expected;
    };
    const Case cases[] = {
        {"UTF-16LE with mark", 1200, true, utf16(L"[S]\r\nk=\u00e9\u20ac\r\n", false)},
        {"UTF-16BE with mark", 1201, true, utf16(L"[S]\r\nk=\u00e9\u20ac\r\n", true)},
        {"UTF-8 with mark", 65001, true, ascii("\xEF\xBB\xBF[S]\r\nk=\xC3\xA9\xE2\x82\xAC\r\n")},
        {"UTF-8 without mark", 65001, false, ascii("[S]\r\nk=\xC3\xA9\xE2\x82\xAC\r\n")},
        {"a mark asked for in ANSI is none", -1, true, ascii("[S]\r\nk=\xE9\x80\r\n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = folder.join(L"page.ini");
        EXPECT_TRUE(ini.save(path.c_str(), qv::inifilex::save_code_page, c.codePage, c.bom));
        EXPECT_EQ(ini.code_page(), c.codePage);
        EXPECT_EQ(ini.bom(), c.bom);
        EXPECT_FALSE(ini.get_modified());
        if (GetACP() == 1252 || c.codePage != -1) {
            EXPECT_EQ(read_back(path), c.expected);
        }
        ini.set_modified(true);
    }
    // Without option 4 the arguments are ignored.
    const std::wstring path = folder.join(L"stored.ini");
    EXPECT_TRUE(ini.save(path.c_str(), 0, 1200, true));
    EXPECT_EQ(ini.code_page(), -1);
    EXPECT_FALSE(ini.set_bom(false));
    EXPECT_TRUE(ini.set_bom(true));
}

TEST(inifilex, LoadThenSaveGivesTheSameBytes)
{
    const std::wstring text = L"[Startup]\r\nProduct=Zo\u00eb \u20ac\r\nflag=\r\n\r\n[Languages]\r\n0x0409=English\r\n";
    struct Case {
        const char* name;
        bytes content;
    };
    const Case cases[] = {
        {"UTF-16LE with mark", utf16(text, false)},
        {"UTF-16BE with mark", utf16(text, true)},
        {"UTF-8 with mark", ascii("\xEF\xBB\xBF[Startup]\r\nProduct=Zo\xC3\xAB \xE2\x82\xAC\r\nflag=\r\n\r\n[Languages]\r\n"
                                  "0x0409=English\r\n")},
        {"ANSI", ascii("[Startup]\r\nProduct=Zo\xEB \x80\r\nflag=\r\n\r\n[Languages]\r\n0x0409=English\r\n")},
    };
    const scratch_folder folder(L"setup_inifilex");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = folder.write(L"setup.ini", c.content);
        qv::inifilex ini;
        ASSERT_TRUE(ini.load(path.c_str(), L"=", false));
        EXPECT_EQ(ini.get_string(L"startup", L"product", L""), L"Zo\u00eb \u20ac");
        EXPECT_TRUE(ini.save_as_loaded(0, 0, false));
        EXPECT_EQ(read_back(path), c.content);
        const std::wstring copy = folder.join(L"copy.ini");
        EXPECT_TRUE(ini.save(copy.c_str(), 0, 0, false));
        EXPECT_EQ(read_back(copy), c.content);
        EXPECT_EQ(folder.names().size(), 2u) << "no temporary file is left";
        DeleteFileW(copy.c_str());
    }
}

TEST(inifilex, SaveMakesTheMissingFolders)
{
    const scratch_folder folder(L"setup_inifilex");
    const std::wstring path = folder.join(L"one\\two\\made.ini");
    qv::inifilex ini;
    ini.set_bool(L"S", L"k", true);
    EXPECT_TRUE(ini.save(path.c_str(), 0, 0, false));
    EXPECT_EQ(read_back(path), ascii("[S]\r\nk=Yes\r\n"));
    EXPECT_EQ(folder.names(), (std::vector<std::wstring>{L"one"}));

    // A bare file name goes beside the current folder's other files, and so does its temporary one.
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.path().c_str()));
    const bool saved = ini.save(L"relative.ini", 0, 0, false);
    SetCurrentDirectoryW(current);
    EXPECT_TRUE(saved);
    EXPECT_EQ(read_back(folder.join(L"relative.ini")), ascii("[S]\r\nk=Yes\r\n"));
    EXPECT_EQ(folder.names().size(), 2u);
}

// A load that stopped short of the end of an existing file holds only a part of it: a save
// would drop the rest, so it is refused until a load succeeds or the object starts afresh.
TEST(inifilex, ASaveAfterAFailedLoadIsRefused)
{
    struct Case {
        const char* name;
        std::string_view content;
    };
    const Case cases[] = {
        {"a header without ]", "[A]\r\nk=v\r\n[B\r\nlost=1\r\n\r\n[C]\r\nlost=2\r\n"},
        {"an entry before the first header", "lost=0\r\n[A]\r\nk=v\r\n"},
    };
    const scratch_folder folder(L"setup_inifilex");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = folder.write(L"broken.ini", ascii(c.content));
        const std::wstring other = folder.join(L"other.ini");
        qv::inifilex ini;
        ASSERT_FALSE(ini.load(path.c_str(), L"=", false));
        EXPECT_TRUE(ini.save_refused());
        ini.set_string(L"A", L"k", L"changed");
        for (const std::wstring& target : {path, other}) {
            EXPECT_FALSE(ini.save(target.c_str(), 0, 0, false));
            EXPECT_EQ(ini.last_error(), static_cast<DWORD>(ERROR_INVALID_DATA));
            EXPECT_EQ(ini.last_error_path(), target.c_str());
        }
        EXPECT_FALSE(ini.save_as_loaded(qv::inifilex::save_sorted, 0, false));
        EXPECT_TRUE(ini.get_modified());
        EXPECT_EQ(read_back(path), ascii(c.content)) << "the lines the load never read are still there";
        EXPECT_FALSE(exists(other));
        EXPECT_EQ(folder.names(), (std::vector<std::wstring>{L"broken.ini"}));

        // A successful load lifts the refusal.
        const std::wstring good = folder.write(L"good.ini", ascii("[G]\r\nk=v\r\n"));
        ASSERT_TRUE(ini.load(good.c_str(), L"=", false));
        EXPECT_TRUE(ini.save(other.c_str(), 0, 0, false));
        // So does clear(): what is set afterwards is made afresh.
        ASSERT_FALSE(ini.load(path.c_str(), L"=", false));
        ini.clear();
        ini.set_string(L"Fresh", L"k", L"v");
        EXPECT_TRUE(ini.save(other.c_str(), 0, 0, false));
        EXPECT_EQ(read_back(other), ascii("[Fresh]\r\nk=v\r\n"));
        DeleteFileW(other.c_str());
        DeleteFileW(good.c_str());
    }
}

TEST(inifilex, AFileThatCouldNotBeOpenedIsNotReplacedButAMissingOneIsMade)
{
    const scratch_folder folder(L"setup_inifilex");
    // The one-value writers: load a file that is not there, set, save.
    const std::wstring made = folder.join(L"sub\\new.ini");
    qv::inifilex writer;
    EXPECT_FALSE(writer.load(made.c_str(), L"=", false));
    EXPECT_EQ(writer.last_error(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(writer.save_refused());
    writer.set_int(L"Result", L"Code", -5001);
    EXPECT_TRUE(writer.save_as_loaded(0, 0, false));
    EXPECT_EQ(read_back(made), ascii("[Result]\r\nCode=-5001\r\n"));

    // A file held open without sharing exists but cannot be read.
    const std::wstring held = folder.write(L"held.ini", ascii("[A]\r\nk=v\r\n"));
    {
        const qv::file_handle lock(CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(lock);
        qv::inifilex ini;
        EXPECT_FALSE(ini.load(held.c_str(), L"=", false));
        EXPECT_EQ(ini.last_error(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_TRUE(ini.save_refused());
        ini.set_string(L"A", L"other", L"x");
        EXPECT_FALSE(ini.save_as_loaded(0, 0, false));
        EXPECT_EQ(ini.last_error(), static_cast<DWORD>(ERROR_INVALID_DATA));
    }
    EXPECT_EQ(read_back(held), ascii("[A]\r\nk=v\r\n"));
}

// Each failure after the text was made leaves the old file whole and no new file beside it.
TEST(inifilex, AFailedSaveLeavesTheOldFile)
{
    const bytes old = ascii("[Old]\r\nk=v\r\n");
    struct Case {
        const char* name;
        DWORD error;
    };
    const scratch_folder folder(L"setup_inifilex");
    const std::wstring path = folder.write(L"target.ini", old);
    const auto check_untouched = [&](const char* name) {
        SCOPED_TRACE(name);
        EXPECT_EQ(read_back(path), old);
        EXPECT_EQ(folder.names(), (std::vector<std::wstring>{L"target.ini"})) << "no temporary file is left";
    };
    qv::inifilex ini;
    ini.set_string(L"New", L"k", L"v");

    {
        // The target is held open without delete sharing: it cannot be replaced.
        const qv::file_handle lock(
            CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(lock);
        EXPECT_FALSE(ini.save(path.c_str(), 0, 0, false));
        EXPECT_TRUE(ini.last_error() == ERROR_ACCESS_DENIED || ini.last_error() == ERROR_SHARING_VIOLATION)
            << ini.last_error();
        EXPECT_EQ(ini.last_error_path(), path.c_str());
        EXPECT_TRUE(ini.get_modified());
    }
    check_untouched("a target held open");

    // A read-only target is not replaced.
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(ini.save(path.c_str(), 0, 0, false));
    EXPECT_EQ(ini.last_error(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(ini.last_error_path(), path.c_str());
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL));
    check_untouched("a read-only target");

    // A write that fails after the open leaves by the file's exception.
    ini.set_code_page(12345);  // no such code page: the text cannot be converted
    try {
        ini.save(path.c_str(), 0, 0, false);
        ADD_FAILURE() << "the failed write did not throw";
    } catch (const qv::file_exception& e) {
        EXPECT_EQ(e.path(), path.c_str()) << "the exception names the target, not the temporary file";
        EXPECT_NE(e.error(), 0u);
        EXPECT_EQ(ini.last_error(), e.error());
    }
    ini.set_code_page(-1);
    check_untouched("a failed write");

    // A folder in the target's place: the temporary file is written, the rename fails.
    const std::wstring in_the_way = folder.join(L"folder.ini");
    ASSERT_TRUE(CreateDirectoryW(in_the_way.c_str(), nullptr));
    EXPECT_FALSE(ini.save(in_the_way.c_str(), 0, 0, false));
    EXPECT_NE(ini.last_error(), 0u);
    EXPECT_EQ(ini.last_error_path(), in_the_way.c_str());
    EXPECT_EQ(folder.names().size(), 2u) << "only the target and the folder";
    RemoveDirectoryW(in_the_way.c_str());

    // A file where its folder should be: nothing can be made.
    const std::wstring under_a_file = path + L"\\sub.ini";
    EXPECT_FALSE(ini.save(under_a_file.c_str(), 0, 0, false));
    EXPECT_NE(ini.last_error(), 0u);
    EXPECT_EQ(ini.last_error_path(), under_a_file.c_str());
    check_untouched("a file in the folder's place");

    EXPECT_TRUE(ini.save(path.c_str(), 0, 0, false)) << "the same object saves once the way is free";
    EXPECT_EQ(read_back(path), ascii("[New]\r\nk=v\r\n"));
    EXPECT_EQ(ini.last_error(), 0u);
}

// Mutated texts, seeded: a load never crashes or hangs, and whatever it read is what a save
// writes back. Everything goes into the case's own folder.
TEST(inifilex_mutation, LoadsAndRoundTripsMutatedFiles)
{
    const std::string seeds[] = {
        "[Startup]\r\nProduct=Corvane\r\nflag=\r\n\r\n[Languages]\r\n0x0409=English\r\n",
        "; comment\n[A]\nk=v\n[b]\rx=1\r[A]\nk=second\n",
        "[S]\r\n key = v \r\nbare\r\n=empty key\r\na=b=c\r\n[]\r\nz=0x1F\r\n",
        "[Prq]\r\nFile0=a.msi\r\nFile1=b.exe\r\n[Prq.1]\r\nName=x\r\n;[Not]\r\n",
        "[Only]",
    };
    const unsigned char inserts[] = {'[', ']', '=', '\r', '\n', 0, ';', ' ', 0xFF, 0xC3};
    const bytes marks[] = {{0xFF, 0xFE}, {0xFE, 0xFF}, {0xEF, 0xBB, 0xBF}, {0xFF}, {0xEF, 0xBB}};
    constexpr int count = 2500;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);

    const auto temp_leftovers = [] {
        std::set<std::wstring> names;
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        WIN32_FIND_DATAW found;
        const qv::find_handle find(FindFirstFileW((std::wstring(temp) + L"ini*.tmp").c_str(), &found));
        if (find) {
            do names.insert(found.cFileName);
            while (FindNextFileW(find.get(), &found));
        }
        return names;
    };
    const std::set<std::wstring> before = temp_leftovers();

    const scratch_folder folder(L"setup_inifilex_mutation");
    const std::wstring input = folder.join(L"input.ini"), saved = folder.join(L"saved.ini");
    std::mt19937 random(20240511);
    const auto below = [&](size_t n) { return n ? static_cast<size_t>(random() % n) : 0; };
    int done = 0, loaded = 0;
    for (; done < count && std::chrono::steady_clock::now() < deadline; ++done) {
        const std::string& seed = seeds[below(std::size(seeds))];
        bytes content;
        if (below(4) == 0) {
            content = utf16(std::wstring(seed.begin(), seed.end()), below(2) == 1);
        } else {
            content = ascii(seed);
        }
        for (size_t edits = 1 + below(4); edits > 0; --edits) {
            switch (below(6)) {
            case 0:
                if (!content.empty()) content[below(content.size())] ^= static_cast<unsigned char>(1u << below(8));
                break;
            case 1: content.insert(content.begin() + below(content.size() + 1), inserts[below(std::size(inserts))]); break;
            case 2:
                if (!content.empty()) {
                    const size_t at = below(content.size());
                    content.erase(content.begin() + at, content.begin() + std::min(content.size(), at + 1 + below(4)));
                }
                break;
            case 3: content.resize(below(content.size() + 1)); break;
            case 4: {
                const bytes& mark = marks[below(std::size(marks))];
                content.insert(content.begin(), mark.begin(), mark.end());
                break;
            }
            default:
                if (content.size() >= 2) std::swap(content[below(content.size())], content[below(content.size())]);
                break;
            }
        }
        SCOPED_TRACE(testing::Message() << "mutation " << done);
        folder.write(L"input.ini", content);
        qv::inifilex first;
        bool ok = false;
        try {
            ok = first.load(input.c_str(), L"=", false);
        } catch (const std::exception& e) {
            FAIL() << "load threw: " << e.what();
        }
        ASSERT_TRUE(indexes_match(first));
        if (!ok) {
            ASSERT_FALSE(first.save(saved.c_str(), 0, 0, false));
            continue;
        }
        ++loaded;
        ASSERT_TRUE(first.save(saved.c_str(), 0, 0, false));
        qv::inifilex second;
        ASSERT_TRUE(second.load(saved.c_str(), L"=", false));
        ASSERT_EQ(dump(second), dump(first));
        ASSERT_EQ(second.code_page(), first.code_page());
        ASSERT_EQ(second.bom(), first.bom());
        ASSERT_EQ(folder.names().size(), 2u) << "only the input and the saved file";
    }
    EXPECT_EQ(temp_leftovers(), before) << "nothing was made in the temp folder itself";
    EXPECT_GT(loaded, done / 20) << "the mutations should leave many files loadable";
    std::printf("%d mutations, %d loaded\n", done, loaded);
}

}  // namespace
