#include "registry_script_registrar.h"

#include "FileSupport.h"
#include "ScratchFolder.h"
#include "fixtures/scratch_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

using namespace std::string_literals;
using qv::RegistryScriptRegistrar;
using key_node = RegistryScriptRegistrar::key_node;

namespace {

// Flags as "N:" and "F:", values in parentheses, children in braces: a whole tree on one line.
std::string dump(const key_node& node)
{
    std::string out;
    if (node.no_remove) out += "N:";
    if (node.force_remove) out += "F:";
    out += node.name;
    if (!node.values.empty()) {
        out += "(";
        for (size_t i = 0; i < node.values.size(); ++i)
            out += (i ? "," : "") + node.values[i].first + "=" + node.values[i].second;
        out += ")";
    }
    if (!node.children.empty()) {
        out += node.name.empty() && node.values.empty() ? "" : "{";
        for (size_t i = 0; i < node.children.size(); ++i) out += (i ? " " : "") + dump(node.children[i]);
        out += node.name.empty() && node.values.empty() ? "" : "}";
    }
    return out;
}

bytes content_of(const std::string& script)
{
    return bytes(script.begin(), script.end());
}

// A script of `levels` keys each inside the one before, and its dump.
std::string nested_script(int levels)
{
    std::string script = "HKCR\n{\n";
    for (int i = 0; i < levels; ++i) script += i + 1 < levels ? "k\n{\n" : "k\n";
    for (int i = 1; i < levels; ++i) script += "}\n";
    return script + "}\n";
}

std::string nested_dump(int levels)
{
    std::string out = "k";
    for (int i = 1; i < levels; ++i) out = "k{" + out + "}";
    return out;
}

// The case's scratch key stands in for Software\Classes; the seam notes what it was asked.
struct classes_seam {
    static inline const scratch_key* key = nullptr;
    static inline std::vector<std::pair<bool, REGSAM>> asked;
    static LONG open(bool machine, REGSAM access, HKEY* out)
    {
        asked.emplace_back(machine, access);
        return RegOpenKeyExW(HKEY_CURRENT_USER, key->path().c_str(), 0, access, out);
    }
};

// A registrar whose classes key is the scratch key, with the script loaded.
class scratch_registrar {
public:
    scratch_registrar(const scratch_key& key, const std::string& script) : folder_(L"registry_script")
    {
        classes_seam::key = &key;
        classes_seam::asked.clear();
        registrar.open_classes_key = classes_seam::open;
        loaded = registrar.load(folder_.write(L"script.rgs", content_of(script)));
    }
    ~scratch_registrar() { classes_seam::key = nullptr; }
    scratch_registrar(const scratch_registrar&) = delete;
    scratch_registrar& operator=(const scratch_registrar&) = delete;

    RegistryScriptRegistrar registrar;
    bool loaded = false;

private:
    scratch_folder folder_;
};

// Every key below `key`, as paths from it, sorted.
std::vector<std::wstring> keys_below(HKEY key, const std::wstring& prefix = L"")
{
    std::vector<std::wstring> out;
    wchar_t name[256];
    for (DWORD i = 0; RegEnumKeyW(key, i, name, 256) == ERROR_SUCCESS; ++i) {
        const std::wstring path = prefix + name;
        out.push_back(path);
        qv::registry_key child;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, child.put()) == ERROR_SUCCESS) {
            const std::vector<std::wstring> inner = keys_below(child.get(), path + L"\\");
            out.insert(out.end(), inner.begin(), inner.end());
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The value's type and its text up to the first zero; REG_NONE when it is missing.
std::pair<DWORD, std::wstring> stored_text(const scratch_key& key, const wchar_t* below, const wchar_t* name)
{
    qv::registry_key opened;
    if (RegOpenKeyExW(key.get(), below, 0, KEY_READ, opened.put()) != ERROR_SUCCESS) return {REG_NONE, L""};
    DWORD type = REG_NONE, size = 0;
    if (RegQueryValueExW(opened.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {REG_NONE, L""};
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
    RegQueryValueExW(opened.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
    return {type, text.data()};
}

TEST(RegistryScriptGrammar, ScriptsAndTheirTrees)
{
    const std::string class_tree =
        "HKCR\n"
        "{\n"
        "    NoRemove CLSID\n"
        "    {\n"
        "        ForceRemove {6D1C4A35-2E1B-4C3B-9B6E-1F0D3A2C5B76} = s 'Corvane Object'\n"
        "        {\n"
        "            InprocServer32 = s '%MODULE%'\n"
        "            {\n"
        "                val ThreadingModel = s 'Apartment'\n"
        "            }\n"
        "            ProgID = s Corvane.Object.1\n"
        "        }\n"
        "    }\n"
        "}\n";
    const std::string class_dump = "N:CLSID{F:{6D1C4A35-2E1B-4C3B-9B6E-1F0D3A2C5B76}(=Corvane Object){InprocServer32(="
                                   "%MODULE%,ThreadingModel=Apartment) ProgID(=Corvane.Object.1)}}";
    const auto with_line_ends = [&](const std::string& end) {
        std::string out;
        for (char c : class_tree) out += c == '\n' ? end : std::string(1, c);
        return out;
    };
    struct Row {
        const char* name;
        std::string script;
        bool loads;
        std::string tree;
    } rows[] = {
        {"an empty tree", "HKCR\r\n{\r\n}\r\n", true, ""},
        {"a class tree, CR LF", with_line_ends("\r\n"), true, class_dump},
        {"a class tree, LF", class_tree, true, class_dump},
        {"a class tree, CR", with_line_ends("\r"), true, class_dump},
        {"the last brace without a line end", "HKCR\r\n{\r\nk\r\n}", true, "k"},
        {"blank lines in blocks and after the tree", "HKCR\n{\n\n \t\nk\n{\n\nval a = s b\n\n}\n\n}\n\n\r\n", true,
            "k(a=b)"},
        {"blanks and tabs around tokens", "HKCR \t\r\n\t{ \r\n\t k\t=\ts\t'v' \r\n}\r\n", true, "k(=v)"},
        {"words end at '='", "HKCR\n{\nk=s v\n{\nval n=s e\n}\n}\n", true, "k(=v,n=e)"},
        {"a braced identifier is one word", "HKCR\n{\n{0000-1} = s {x}\n}\n", true, "{0000-1}(={x})"},
        {"a quoted text keeps blanks, braces and '='", "HKCR\n{\n'a { b } = c' = s ' x } '\n}\n", true,
            "a { b } = c(= x } )"},
        {"quoted keywords are texts", "HKCR\n{\n'HKCR'\n{\nval 'val' = s 's'\n}\n'NoRemove'\n}\n", true,
            "HKCR(val=s) NoRemove"},
        {"an empty value name is the default value", "HKCR\n{\nk\n{\nval '' = s e\n}\n}\n", true, "k(=e)"},
        {"keywords in another case are names", "HKCR\n{\nnoremove\nForceremove\nVAL\n}\n", true,
            "noremove Forceremove VAL"},
        {"s and d away from '=' are names", "HKCR\n{\ns\nd = s s2\n}\n", true, "s d(=s2)"},
        {"s and d after '=' quoted are data", "HKCR\n{\nk = s 'd'\n{\nval n = s 's'\n}\n}\n", true, "k(=d,n=s)"},
        {"the flags", "HKCR\n{\nNoRemove a\nForceRemove b = s x\nc\n}\n", true, "N:a F:b(=x) c"},
        {"values of the root", "HKCR\n{\nval v = s x\nk\n}\n", true, "(v=x){k}"},
        {"the text ends at its first zero", "HKCR\n{\n}\n\0junk {\n"s, true, ""},
        {"a zero after the last brace ends the text", "HKCR\n{\nk\n}\0\n}\n"s, true, "k"},
        {"as many levels as allowed", nested_script(RegistryScriptRegistrar::max_depth), true,
            nested_dump(RegistryScriptRegistrar::max_depth)},

        {"a level too many", nested_script(RegistryScriptRegistrar::max_depth + 1), false, ""},
        {"no text", "", false, ""},
        {"the root in another case", "hkcr\n{\n}\n", false, ""},
        {"a blank line before the root", "\nHKCR\n{\n}\n", false, ""},
        {"the root without its line end", "HKCR {\n}\n", false, ""},
        {"no block", "HKCR\n", false, ""},
        {"a number value", "HKCR\n{\nk\n{\nval n = d 5\n}\n}\n", false, ""},
        {"a number default", "HKCR\n{\nk = d 5\n}\n", false, ""},
        {"the type in another case", "HKCR\n{\nk = S x\n}\n", false, ""},
        {"a value without its type", "HKCR\n{\nval n = 'x'\n}\n", false, ""},
        {"s and d after '=' unquoted are types", "HKCR\n{\nk = s d\n}\n", false, ""},
        {"a value without data", "HKCR\n{\nval n = s\n}\n", false, ""},
        {"a value without a name", "HKCR\n{\nval = s x\n}\n", false, ""},
        {"a value without '='", "HKCR\n{\nval n s x\n}\n", false, ""},
        {"a zero before a line's end", "HKCR\n{\nk\0\n}\n"s, false, ""},
        {"no closing brace", "HKCR\n{\nk\n", false, ""},
        {"a brace on the key's line", "HKCR\n{\nk {\n}\n}\n", false, ""},
        {"a block without a key", "HKCR\n{\n{\n}\n}\n", false, ""},
        {"text after a closing brace", "HKCR\n{\n} x\n", false, ""},
        {"a stray closing brace", "HKCR\n{\n}\n}\n", false, ""},
        {"a second tree", "HKCR\n{\n}\nHKCR\n{\n}\n", false, ""},
        {"two names on a line", "HKCR\n{\na b\n}\n", false, ""},
        {"two flags", "HKCR\n{\nNoRemove ForceRemove k\n}\n", false, ""},
        {"a flag without a name", "HKCR\n{\nNoRemove\n}\n", false, ""},
        {"a doubled quote is no escape", "HKCR\n{\n'it''s'\n}\n", false, ""},
        {"an unterminated quote", "HKCR\n{\nk = s 'abc", false, ""},
        {"a quote across a line end", "HKCR\n{\nk = s 'a\nb'\n}\n", false, ""},
        {"a quote across a zero", "HKCR\n{\nk = s 'a\0b'\n}\n"s, false, ""},
        {"an empty key name", "HKCR\n{\n''\n}\n", false, ""},
        {"a key path for a name", "HKCR\n{\na\\b\n}\n", false, ""},
    };
    const scratch_folder folder(L"registry_script_grammar");
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RegistryScriptRegistrar registrar;
        const std::wstring path = folder.write(L"script" + std::to_wstring(++n) + L".rgs", content_of(row.script));
        EXPECT_EQ(registrar.load(path), row.loads);
        EXPECT_EQ(dump(registrar.tree()), row.tree) << "a failed load leaves no tree";
        EXPECT_EQ(registrar.parse(row.script), row.loads) << "the same text from memory";
    }
}

TEST(RegistryScriptGrammar, PlaceholderExpansion)
{
    const RegistryScriptRegistrar::placeholder_map map{{"MODULE", "C:\\x.dll"}, {"A", "1"}, {"B", "%A%"}};
    struct Row {
        const char* name;
        const char* datum;
        const char* expected;
    } rows[] = {
        {"no placeholder", "plain", "plain"},
        {"a placeholder alone", "%MODULE%", "C:\\x.dll"},
        {"text around it", "\"%MODULE%\" /s", "\"C:\\x.dll\" /s"},
        {"only the first of two", "%A%;%B%", "1;%B%"},
        {"an unknown name stays", "%MISSING%", "%MISSING%"},
        {"an unknown first leaves a known second", "%MISSING%%A%", "%MISSING%%A%"},
        {"the first two signs make the pair", "5% of %A%", "5% of %A%"},
        {"one sign", "100%", "100%"},
        {"names in their exact case", "%module%", "%module%"},
        {"an empty name", "%%", "%%"},
        {"a replacement is not expanded again", "%B%", "%A%"},
        {"empty", "", ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(RegistryScriptRegistrar::expand_placeholder(row.datum, map), row.expected) << row.name;
}

TEST(RegistryScriptLoad, FilesThatCannotBeRead)
{
    const scratch_folder folder(L"registry_script_load");
    const std::string good = "HKCR\n{\nfirst\n}\n";
    // Blank lines fill the block up to the given size.
    const auto padded = [](size_t size) {
        const std::string head = "HKCR\n{\n", tail = "k\n}\n";
        return head + std::string(size - head.size() - tail.size(), '\n') + tail;
    };
    const size_t limit = static_cast<size_t>(RegistryScriptRegistrar::max_script_bytes);
    const std::wstring at_limit = folder.write(L"at_limit.rgs", content_of(padded(limit)));
    const std::wstring over_limit = folder.write(L"over_limit.rgs", content_of(padded(limit + 1)));
    // Sparse: 4 GiB and a short script, whose size's low half is the script alone.
    const std::wstring beyond_4g = folder.write(L"beyond_4g.rgs", content_of(good));
    {
        const qv::file_handle file(CreateFileW(beyond_4g.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file);
        LARGE_INTEGER end;
        end.QuadPart = 0x100000000LL + static_cast<LONGLONG>(good.size());
        ASSERT_TRUE(SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(file.get()));
        LARGE_INTEGER size{};
        ASSERT_TRUE(GetFileSizeEx(file.get(), &size));
        ASSERT_EQ(size.QuadPart, end.QuadPart);
    }
    struct Row {
        const char* name;
        std::wstring path;
        bool loads;
        std::string tree;
    } rows[] = {
        {"a missing file", folder.join(L"missing.rgs"), false, ""},
        {"a folder", folder.path(), false, ""},
        {"a file of the largest size", at_limit, true, "k"},
        {"a byte more", over_limit, false, ""},
        {"a size beyond 32 bits", beyond_4g, false, ""},
        {"another script replaces the first tree", folder.write(L"second.rgs", content_of("HKCR\n{\nsecond\n}\n")), true,
            "second"},
    };
    const std::wstring first = folder.write(L"first.rgs", content_of(good));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RegistryScriptRegistrar registrar;
        ASSERT_TRUE(registrar.load(first));
        ASSERT_EQ(dump(registrar.tree()), "first");
        EXPECT_EQ(registrar.load(row.path), row.loads);
        EXPECT_EQ(dump(registrar.tree()), row.tree);
    }
}

TEST(RegistryScriptRegister, WritesTheTreeAndRemovesItAgain)
{
    const std::string script =
        "HKCR\n"
        "{\n"
        "    NoRemove CLSID\n"
        "    {\n"
        "        ForceRemove {6D1C4A35-2E1B-4C3B-9B6E-1F0D3A2C5B76} = s 'Corvane Object'\n"
        "        {\n"
        "            InprocServer32 = s '%MODULE%'\n"
        "            {\n"
        "                val ThreadingModel = s 'Apartment'\n"
        "            }\n"
        "        }\n"
        "    }\n"
        "    Corvane.Object.1 = s 'Corvane Object'\n"
        "    {\n"
        "        CLSID = s '{6D1C4A35-2E1B-4C3B-9B6E-1F0D3A2C5B76}'\n"
        "        val Command = s '\"%MODULE%\" /x %MODULE% %MISSING%'\n"
        "        val Missing = s '%MISSING% %MODULE%'\n"
        "    }\n"
        "}\n";
    const std::wstring clsid = L"CLSID\\{6D1C4A35-2E1B-4C3B-9B6E-1F0D3A2C5B76}";
    const std::wstring server = clsid + L"\\InprocServer32";
    struct Value {
        std::wstring below;
        const wchar_t* name;
        const wchar_t* text;
    } values[] = {
        {clsid, L"", L"Corvane Object"},
        {server, L"", L"C:\\Program Files\\Corvane\\object.dll"},
        {server, L"ThreadingModel", L"Apartment"},
        {L"Corvane.Object.1", L"", L"Corvane Object"},
        {L"Corvane.Object.1\\CLSID", L"", L"{6D1C4A35-2E1B-4C3B-9B6E-1F0D3A2C5B76}"},
        {L"Corvane.Object.1", L"Command", L"\"C:\\Program Files\\Corvane\\object.dll\" /x %MODULE% %MISSING%"},
        {L"Corvane.Object.1", L"Missing", L"%MISSING% %MODULE%"},
    };
    for (const bool machine : {false, true}) {
        SCOPED_TRACE(machine ? "the machine's classes" : "the user's classes");
        const scratch_key key(L"RegistryScript");
        scratch_registrar test(key, script);
        ASSERT_TRUE(test.loaded);
        test.registrar.placeholders["MODULE"] = "C:\\Program Files\\Corvane\\object.dll";

        ASSERT_TRUE(test.registrar.register_tree(machine, false));
        EXPECT_EQ(keys_below(key.get()), (std::vector<std::wstring>{L"CLSID", clsid, server, L"Corvane.Object.1",
                                             L"Corvane.Object.1\\CLSID"}));
        for (const Value& value : values) {
            SCOPED_TRACE(testing::Message() << "value '" << testing::PrintToString(std::wstring(value.name)) << "' of "
                                            << testing::PrintToString(value.below));
            const auto [type, text] = stored_text(key, value.below.c_str(), value.name);
            EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
            EXPECT_EQ(text, value.text);
        }
        // Registering again over the tree is no failure.
        EXPECT_TRUE(test.registrar.register_tree(machine, false));

        EXPECT_TRUE(test.registrar.unregister_tree(machine));
        EXPECT_EQ(keys_below(key.get()), std::vector<std::wstring>{L"CLSID"}) << "NoRemove keeps the key, not its children";
        const std::pair<bool, REGSAM> asked(machine, 0x2001F);
        EXPECT_EQ(classes_seam::asked, (std::vector<std::pair<bool, REGSAM>>(3, asked)));
    }
}

TEST(RegistryScriptRegister, UnregisterAnswersForWhatSurvives)
{
    const std::string overlong(300, 'x');  // longer than the registry takes for a key name
    const std::string script = "HKCR\n{\nApp\n{\nInner = s x\n}\nNoRemove Kept\n{\nInner\n}\nOther\n}\n";
    struct Row {
        const char* name;
        std::string extra_key;  // added to the script's top level
        const wchar_t* created;  // made by the test between registering and removing
        const wchar_t* deleted;  // removed by the test there
        bool answer;
        std::vector<std::wstring> left;
    } rows[] = {
        {"everything removed", "", nullptr, nullptr, true, {L"Kept"}},
        {"a foreign subkey keeps its key", "", L"App\\Foreign", nullptr, false,
            {L"App", L"App\\Foreign", L"Kept"}},
        {"a foreign subkey of a NoRemove key", "", L"Kept\\Foreign", nullptr, true, {L"Kept", L"Kept\\Foreign"}},
        {"a foreign subkey below a scripted one", "", L"App\\Inner\\Foreign", nullptr, false,
            {L"App", L"App\\Inner", L"App\\Inner\\Foreign", L"Kept"}},
        {"a key already gone", "", nullptr, L"Other", true, {L"Kept"}},
        {"a key that cannot be opened", overlong, nullptr, nullptr, false, {L"Kept"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const scratch_key key(L"RegistryScriptSurvivor");
        const std::string with_extra = row.extra_key.empty() ? script : "HKCR\n{\n" + row.extra_key + "\n" + script.substr(7);
        scratch_registrar test(key, with_extra);
        ASSERT_TRUE(test.loaded);
        EXPECT_EQ(test.registrar.register_tree(false, true), row.extra_key.empty());
        if (row.created) {
            ASSERT_TRUE(key.create(row.created));
        }
        if (row.deleted) {
            ASSERT_EQ(RegDeleteKeyW(key.get(), row.deleted), ERROR_SUCCESS);
        }
        EXPECT_EQ(test.registrar.unregister_tree(false), row.answer);
        EXPECT_EQ(keys_below(key.get()), row.left) << "all that can go is gone";
    }
}

TEST(RegistryScriptRegister, ContinueFlagPassesOverFailures)
{
    const std::string overlong_key(300, 'x');
    const std::string overlong_value(16384, 'v');  // one more than a value name may have
    struct Row {
        const char* name;
        std::string middle;  // key lines between First and Last
        bool continue_flag;
        bool answer;
        std::vector<std::wstring> keys;
    } rows[] = {
        {"nothing fails", "Middle\n", false, true, {L"First", L"Last", L"Last\\Inner", L"Middle"}},
        {"a key not made, stopping", overlong_key + "\n{\nChild\n}\n", false, false, {L"First"}},
        {"a key not made, going on", overlong_key + "\n{\nChild\n}\n", true, false,
            {L"First", L"Last", L"Last\\Inner"}},
        {"a value not written, stopping", "Middle\n{\nval " + overlong_value + " = s x\nChild\n}\n", false, false,
            {L"First", L"Middle"}},
        {"a value not written, going on", "Middle\n{\nval " + overlong_value + " = s x\nChild\n}\n", true, false,
            {L"First", L"Last", L"Last\\Inner", L"Middle", L"Middle\\Child"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const scratch_key key(L"RegistryScriptContinue");
        scratch_registrar test(key, "HKCR\n{\nFirst = s one\n" + row.middle + "Last = s two\n{\nInner\n}\n}\n");
        ASSERT_TRUE(test.loaded);
        EXPECT_EQ(test.registrar.register_tree(false, row.continue_flag), row.answer);
        EXPECT_EQ(keys_below(key.get()), row.keys);
        EXPECT_EQ(stored_text(key, L"First", L"").second, L"one");
        if (row.continue_flag) {
            EXPECT_EQ(stored_text(key, L"Last", L"").second, L"two");
        }
    }
}

TEST(RegistryScriptRegister, ClassesKeyThatCannotBeOpened)
{
    RegistryScriptRegistrar registrar;
    ASSERT_TRUE(registrar.parse("HKCR\n{\nk\n}\n"));
    registrar.open_classes_key = [](bool, REGSAM, HKEY*) -> LONG { return ERROR_ACCESS_DENIED; };
    EXPECT_FALSE(registrar.register_tree(false, true));
    EXPECT_FALSE(registrar.unregister_tree(false));
}

// Mutated scripts: loading never crashes or hangs, and a tree that loads registers and goes
// again below a key of the run's own.
TEST(RegistryScriptMutation, LoadsMutatedScriptsSafely)
{
    const std::string seeds[] = {
        "HKCR\r\n{\r\n\tNoRemove CLSID\r\n\t{\r\n\t\tForceRemove {6D1C4A35-2E1B-4C3B-9B6E-1F0D3A2C5B76} = s 'Obj'\r\n"
        "\t\t{\r\n\t\t\tInprocServer32 = s '%MODULE%'\r\n\t\t\t{\r\n\t\t\t\tval ThreadingModel = s 'Both'\r\n"
        "\t\t\t}\r\n\t\t}\r\n\t}\r\n}\r\n",
        "HKCR\n{\nCorvane.Object.1 = s 'Corvane Object'\n{\nCLSID = s '{6D1C4A35}'\nval Path = s '%MODULE% %X%'\n}\n}\n",
        "HKCR\n{\n\nval root = s r\na\n{\nb\n{\nc = s 'd e'\n}\n}\nNoRemove a\n{\nx\n}\n}\n",
        "HKCR\r{\r'q { } =' = s ''\rs\rd\r}",
    };
    const char inserts[] = {'{', '}', '\'', '=', '\r', '\n', '\0', ' ', '\t', '%', '\\', '\xFF'};
    const char* const words[] = {"HKCR", "NoRemove", "ForceRemove", "val", " = s ", " = d ", "\r\n}\r\n", "{\n"};
    constexpr int count = 3000;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);

    const scratch_folder folder(L"registry_script_mutation");
    const std::wstring input = folder.join(L"input.rgs");
    std::mt19937 random(20240617);
    const auto below = [&](size_t n) { return n ? static_cast<size_t>(random() % n) : 0; };
    int done = 0, loaded = 0, registered = 0;
    for (; done < count && std::chrono::steady_clock::now() < deadline; ++done) {
        std::string script = seeds[below(std::size(seeds))];
        for (size_t edits = 1 + below(4); edits > 0; --edits) {
            const size_t at = below(script.size() + 1);
            switch (below(9)) {
            case 0:
                if (!script.empty()) script[below(script.size())] ^= static_cast<char>(1u << below(8));
                break;
            case 1: script.insert(at, 1, inserts[below(std::size(inserts))]); break;
            case 2: script.insert(at, words[below(std::size(words))]); break;
            case 3: script.erase(at, 1 + below(6)); break;
            case 4: script.resize(at); break;
            case 5: {
                const size_t start = script.rfind('\n', at ? at - 1 : 0);
                const size_t from = start == std::string::npos ? 0 : start + 1;
                const size_t end = script.find('\n', from);
                if (end != std::string::npos) script.insert(from, script.substr(from, end - from + 1));
                break;
            }
            case 6: {
                // Around the allowed depth, on either side of it.
                const size_t levels = 40 + below(40);
                std::string deep;
                for (size_t i = 0; i < levels; ++i) deep += "k\n{\n";
                for (size_t i = 0; i < levels; ++i) deep += "}\n";
                const size_t line = script.find('\n', at);
                script.insert(line == std::string::npos ? script.size() : line + 1, deep);
                break;
            }
            case 7: script.insert(at, std::string(200 + below(20000), "wx{'"[below(4)])); break;
            default:
                if (script.size() >= 2) std::swap(script[below(script.size())], script[below(script.size())]);
                break;
            }
        }
        SCOPED_TRACE(testing::Message() << "mutation " << done);
        folder.write(L"input.rgs", content_of(script));
        RegistryScriptRegistrar registrar;
        registrar.placeholders["MODULE"] = "C:\\object.dll";
        bool ok = false;
        try {
            ok = registrar.load(input);
        } catch (const std::exception& e) {
            FAIL() << "load threw: " << e.what();
        }
        if (!ok) {
            ASSERT_EQ(dump(registrar.tree()), "");
            continue;
        }
        ++loaded;
        const scratch_key key(L"RegistryScriptMutation");
        classes_seam::key = &key;
        registrar.open_classes_key = classes_seam::open;
        try {
            if (registrar.register_tree(false, below(2) == 1)) {
                ++registered;
                // Every key of a complete registration is there.
                std::vector<std::pair<HKEY, const key_node*>> walk{{key.get(), &registrar.tree()}};
                std::vector<qv::registry_key> opened;
                while (!walk.empty()) {
                    const auto [parent, node] = walk.back();
                    walk.pop_back();
                    for (const key_node& child : node->children) {
                        qv::registry_key sub;
                        ASSERT_EQ(RegOpenKeyExW(parent, zString(child.name.c_str(), -1, CP_ACP).c_str(), 0, KEY_READ,
                                      sub.put()),
                            ERROR_SUCCESS)
                            << child.name;
                        walk.emplace_back(sub.get(), &child);
                        opened.push_back(std::move(sub));
                    }
                }
            }
            if (registrar.unregister_tree(false)) {
                // A removal that answers true leaves no key without NoRemove.
                std::vector<std::pair<HKEY, const key_node*>> walk{{key.get(), &registrar.tree()}};
                std::vector<qv::registry_key> opened;
                while (!walk.empty()) {
                    const auto [parent, node] = walk.back();
                    walk.pop_back();
                    for (const key_node& child : node->children) {
                        qv::registry_key sub;
                        const LONG result = RegOpenKeyExW(
                            parent, zString(child.name.c_str(), -1, CP_ACP).c_str(), 0, KEY_READ, sub.put());
                        if (!child.no_remove) {
                            ASSERT_EQ(result, ERROR_FILE_NOT_FOUND) << child.name;
                        }
                        if (result != ERROR_SUCCESS) continue;
                        walk.emplace_back(sub.get(), &child);
                        opened.push_back(std::move(sub));
                    }
                }
            }
        } catch (const std::exception& e) {
            FAIL() << "registering threw: " << e.what();
        }
        classes_seam::key = nullptr;
    }
    EXPECT_GT(loaded, done / 20) << "the mutations should leave many scripts loadable";
    EXPECT_GT(registered, loaded / 4);
    std::printf("%d mutations, %d loaded, %d registered\n", done, loaded, registered);
}

}  // namespace
