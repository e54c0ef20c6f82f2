#include "registry_values.h"

#include "file_system.h"
#include "fixtures/scratch_key.h"

#include <gtest/gtest.h>

#include <oleauto.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

std::vector<std::wstring> texts(const std::vector<zString>& list)
{
    std::vector<std::wstring> out;
    for (const zString& s : list) out.push_back(s.str());
    return out;
}

std::vector<std::wstring> sorted(std::vector<std::wstring> list)
{
    std::sort(list.begin(), list.end());
    return list;
}

// The type and bytes of a value as Windows holds it; type REG_NONE and no bytes when missing.
struct stored_value {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

stored_value stored(const scratch_key& key, const wchar_t* below, const wchar_t* name)
{
    stored_value out;
    qv::registry_key opened;
    if (RegOpenKeyExW(key.get(), below, 0, KEY_READ, opened.put()) != ERROR_SUCCESS) return out;
    DWORD bytes = 0;
    if (RegQueryValueExW(opened.get(), name, nullptr, &out.type, nullptr, &bytes) != ERROR_SUCCESS) return {};
    out.data.resize(bytes);
    RegQueryValueExW(opened.get(), name, nullptr, &out.type, out.data.data(), &bytes);
    return out;
}

TEST(RegistryWrites, NeverMakeAKey)
{
    const scratch_key key(L"NoKeyMade");
    const std::wstring missing = key.sub(L"missing\\deeper");
    const BYTE data[3] = {1, 2, 3};
    struct Row {
        const char* name;
        std::function<bool()> call;
    } rows[] = {
        {"a string", [&] { return qv::WriteRegistryString(HKEY_CURRENT_USER, missing.c_str(), L"v", L"text"); }},
        {"a number", [&] { return qv::WriteRegistryDword(HKEY_CURRENT_USER, missing.c_str(), L"v", 5); }},
        {"bytes", [&] { return qv::WriteRegistryBytes(HKEY_CURRENT_USER, missing.c_str(), L"v", data, 3); }},
        {"a value deleted", [&] { return qv::DeleteRegistryValue(HKEY_CURRENT_USER, missing.c_str(), L"v"); }},
        {"a key deleted below it",
            [&] { return qv::DeleteRegistryKey(HKEY_CURRENT_USER, missing.c_str(), L"child", true); }},
    };
    for (const Row& row : rows) {
        qv::SetLastFileOpError(0);
        EXPECT_FALSE(row.call()) << row.name;
        EXPECT_EQ(qv::LastFileOpError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << row.name;
        EXPECT_FALSE(key.exists(L"missing")) << row.name;
        EXPECT_FALSE(qv::RegistryKeyExists(HKEY_CURRENT_USER, missing.c_str())) << row.name;
    }
}

TEST(RegistryWrites, EachKindStoredAsItsType)
{
    const scratch_key key(L"Writes");
    const std::wstring path = key.path();
    const BYTE data[5] = {0, 1, 0xFE, 0xFF, 7};

    ASSERT_TRUE(qv::WriteRegistryString(HKEY_CURRENT_USER, path.c_str(), L"text", L"abc"));
    EXPECT_EQ(qv::LastFileOpError(), 0u);
    const stored_value text = stored(key, L"", L"text");
    EXPECT_EQ(text.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(text.data, (std::vector<BYTE>{'a', 0, 'b', 0, 'c', 0, 0, 0})) << "the terminator is stored";

    ASSERT_TRUE(qv::WriteRegistryDword(HKEY_CURRENT_USER, path.c_str(), L"number", 0x01020304));
    const stored_value number = stored(key, L"", L"number");
    EXPECT_EQ(number.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(number.data, (std::vector<BYTE>{4, 3, 2, 1}));

    ASSERT_TRUE(qv::WriteRegistryBytes(HKEY_CURRENT_USER, path.c_str(), L"bytes", data, 5));
    const stored_value binary = stored(key, L"", L"bytes");
    EXPECT_EQ(binary.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(binary.data, std::vector<BYTE>(data, data + 5));

    // A value of one kind written over by another takes the new kind.
    ASSERT_TRUE(qv::WriteRegistryDword(HKEY_CURRENT_USER, path.c_str(), L"text", 9));
    EXPECT_EQ(stored(key, L"", L"text").type, static_cast<DWORD>(REG_DWORD));
    ASSERT_TRUE(qv::WriteRegistryString(HKEY_CURRENT_USER, path.c_str(), L"", L"default"));
    EXPECT_EQ(stored(key, L"", L"").type, static_cast<DWORD>(REG_SZ));
}

TEST(RegistryReads, StringValues)
{
    const scratch_key key(L"Strings");
    const std::wstring long_text(1000, L'x');
    key.set_text(L"", L"plain", L"text");
    key.set_text(L"", L"expand", L"%SystemRoot%\\x", REG_EXPAND_SZ);
    key.set(L"", L"unterminated", REG_SZ, L"abc", 3 * sizeof(wchar_t));
    key.set(L"", L"inner zero", REG_SZ, L"ab\0cd", 6 * sizeof(wchar_t));
    key.set_text(L"", L"empty", L"");
    key.set_text(L"", L"long", long_text);
    const DWORD number = 5;
    key.set(L"", L"number", REG_DWORD, &number, sizeof number);
    struct Row {
        const char* name;
        std::wstring subkey;
        const wchar_t* value;
        std::wstring expected;
        DWORD error;
    } rows[] = {
        {"plain", key.path(), L"plain", L"text", 0},
        {"expandable, not expanded", key.path(), L"expand", L"%SystemRoot%\\x", 0},
        {"stored without its zero", key.path(), L"unterminated", L"abc", 0},
        {"up to its first zero", key.path(), L"inner zero", L"ab", 0},
        {"empty", key.path(), L"empty", L"", 0},
        {"longer than a first guess", key.path(), L"long", long_text, 0},
        {"a number is no text", key.path(), L"number", L"", ERROR_UNSUPPORTED_TYPE},
        {"no value", key.path(), L"nothing", L"", ERROR_FILE_NOT_FOUND},
        {"no key", key.sub(L"missing"), L"plain", L"", ERROR_FILE_NOT_FOUND},
    };
    for (const Row& row : rows) {
        zString out(L"left from before");
        const zString& answer = qv::ReadRegistryString(out, HKEY_CURRENT_USER, row.subkey.c_str(), row.value);
        EXPECT_EQ(&answer, &out) << row.name;
        EXPECT_EQ(out.str(), row.expected) << row.name;
        EXPECT_EQ(qv::LastFileOpError(), row.error) << row.name;
    }
}

TEST(RegistryReads, NumbersAndTheirDefault)
{
    const scratch_key key(L"Numbers");
    const DWORD number = 0xDEADBEEF;
    const unsigned long long wide = 1;
    const BYTE four[4] = {1, 0, 0, 0};
    key.set(L"", L"number", REG_DWORD, &number, sizeof number);
    key.set(L"", L"wide", REG_QWORD, &wide, sizeof wide);
    key.set(L"", L"four bytes", REG_BINARY, four, 4);
    key.set_text(L"", L"text", L"5");
    struct Row {
        const char* name;
        std::wstring subkey;
        const wchar_t* value;
        DWORD expected;
        DWORD error;
    } rows[] = {
        {"a number", key.path(), L"number", 0xDEADBEEF, 0},
        {"no value", key.path(), L"nothing", 7, ERROR_FILE_NOT_FOUND},
        {"no key", key.sub(L"missing"), L"number", 7, ERROR_FILE_NOT_FOUND},
        {"text", key.path(), L"text", 7, ERROR_UNSUPPORTED_TYPE},
        {"four bytes of another type", key.path(), L"four bytes", 7, ERROR_UNSUPPORTED_TYPE},
        {"eight bytes", key.path(), L"wide", 7, ERROR_MORE_DATA},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(qv::ReadRegistryDword(HKEY_CURRENT_USER, row.subkey.c_str(), row.value, 7), row.expected) << row.name;
        EXPECT_EQ(qv::LastFileOpError(), row.error) << row.name;
    }
}

TEST(RegistryReads, SizesAndRawValues)
{
    const scratch_key key(L"Sizes");
    const BYTE five[5] = {1, 2, 3, 4, 5};
    const DWORD number = 3;
    key.set_text(L"", L"text", L"abc");
    key.set(L"", L"number", REG_DWORD, &number, sizeof number);
    key.set(L"", L"five", REG_BINARY, five, 5);
    key.set(L"", L"none", REG_BINARY, nullptr, 0);
    struct Row {
        const char* name;
        const wchar_t* value;
        DWORD size;
        DWORD error;
    } rows[] = {
        {"text with its zero", L"text", 8, 0},
        {"a number", L"number", 4, 0},
        {"bytes", L"five", 5, 0},
        {"no bytes", L"none", 0, 0},
        {"no value", L"nothing", 0, ERROR_FILE_NOT_FOUND},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(qv::GetRegistryValueSize(HKEY_CURRENT_USER, key.path().c_str(), row.value), row.size) << row.name;
        EXPECT_EQ(qv::LastFileOpError(), row.error) << row.name;
    }
    EXPECT_EQ(qv::GetRegistryValueSize(HKEY_CURRENT_USER, key.sub(L"missing").c_str(), L"text"), 0u);

    BYTE buffer[16] = {};
    DWORD size = sizeof buffer;
    ASSERT_TRUE(qv::ReadRegistryValue(HKEY_CURRENT_USER, key.path().c_str(), L"five", buffer, size));
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(std::vector<BYTE>(buffer, buffer + 5), std::vector<BYTE>(five, five + 5));
    // Too small a buffer: false, and the size it would take.
    size = 2;
    EXPECT_FALSE(qv::ReadRegistryValue(HKEY_CURRENT_USER, key.path().c_str(), L"text", buffer, size));
    EXPECT_EQ(qv::LastFileOpError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(size, 8u);
    size = sizeof buffer;
    EXPECT_FALSE(qv::ReadRegistryValue(HKEY_CURRENT_USER, key.sub(L"missing").c_str(), L"five", buffer, size));
    EXPECT_EQ(qv::LastFileOpError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(RegistryKeys, CreatedWithTheirParents)
{
    const scratch_key key(L"Create");
    const std::wstring deep = key.sub(L"a\\b\\c");
    EXPECT_FALSE(qv::RegistryKeyExists(HKEY_CURRENT_USER, deep.c_str()));
    EXPECT_EQ(qv::LastFileOpError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    ASSERT_TRUE(qv::CreateRegistryKey(HKEY_CURRENT_USER, deep.c_str()));
    EXPECT_EQ(qv::LastFileOpError(), 0u);
    EXPECT_TRUE(qv::RegistryKeyExists(HKEY_CURRENT_USER, deep.c_str()));
    EXPECT_TRUE(qv::CreateRegistryKey(HKEY_CURRENT_USER, deep.c_str())) << "one that is there is opened";
    EXPECT_TRUE(qv::WriteRegistryDword(HKEY_CURRENT_USER, deep.c_str(), L"n", 1));
}

TEST(RegistryKeys, DeletedWithOrWithoutTheirSubkeys)
{
    struct Row {
        const char* name;
        const wchar_t* under;  // the key the subkey is named below
        const wchar_t* subkey;
        bool recursive;
        bool answer;
        DWORD error;
        bool tree_left;  // "tree" and its subkeys still there
    } rows[] = {
        {"a key without subkeys", L"tree\\branch", L"leaf", false, true, 0, true},
        {"a key with subkeys, alone", L"", L"tree", false, false, ERROR_ACCESS_DENIED, true},
        {"a key with subkeys, with them", L"", L"tree", true, true, 0, false},
        {"no such subkey", L"", L"other", true, false, ERROR_FILE_NOT_FOUND, true},
        {"no such key above it", L"missing", L"tree", true, false, ERROR_FILE_NOT_FOUND, true},
        // An empty name would stand for the key above it, and with it everything below.
        {"an empty name", L"", L"", true, false, ERROR_INVALID_PARAMETER, true},
    };
    for (const Row& row : rows) {
        const scratch_key key(L"Delete");
        key.create(L"tree\\branch\\leaf");
        key.create(L"tree\\other branch");
        key.set_text(L"tree", L"value", L"kept");
        const std::wstring under = key.sub(row.under);
        EXPECT_EQ(qv::DeleteRegistryKey(HKEY_CURRENT_USER, under.c_str(), row.subkey, row.recursive), row.answer)
            << row.name;
        EXPECT_EQ(qv::LastFileOpError(), row.error) << row.name;
        EXPECT_EQ(key.exists(L"tree\\other branch"), row.tree_left) << row.name;
        EXPECT_EQ(key.exists(L"tree\\branch"), row.tree_left) << row.name;
        EXPECT_TRUE(qv::RegistryKeyExists(HKEY_CURRENT_USER, key.path().c_str())) << row.name;
    }
    const scratch_key key(L"DeleteLeaf");
    key.create(L"tree\\branch\\leaf");
    ASSERT_TRUE(qv::DeleteRegistryKey(HKEY_CURRENT_USER, key.sub(L"tree\\branch").c_str(), L"leaf", false));
    EXPECT_FALSE(key.exists(L"tree\\branch\\leaf"));
}

TEST(RegistryKeys, SubkeysAndValuesListed)
{
    const scratch_key key(L"Enumerate");
    key.create(L"full\\alpha");
    key.create(L"full\\beta\\inner");
    key.create(L"full\\gamma");
    key.set_text(L"full", L"one", L"1");
    key.set_text(L"full", L"two", L"2");
    key.set_text(L"only default", L"", L"d");
    key.create(L"only keys\\child");
    struct Row {
        const char* name;
        const wchar_t* below;
        bool opened;
        std::vector<std::wstring> subkeys, values;
        bool has_values;
    } rows[] = {
        {"subkeys and values", L"full", true, {L"alpha", L"beta", L"gamma"}, {L"one", L"two"}, true},
        {"only the unnamed value", L"only default", true, {}, {L""}, true},
        {"only subkeys", L"only keys", true, {L"child"}, {}, false},
        {"no key", L"missing", false, {}, {}, false},
    };
    for (const Row& row : rows) {
        const std::wstring path = key.sub(row.below);
        // What the list held before stays in front.
        std::vector<zString> subkeys{L"before"}, values{L"before"};
        EXPECT_EQ(qv::EnumRegistrySubkeys(HKEY_CURRENT_USER, path.c_str(), subkeys), row.opened) << row.name;
        EXPECT_EQ(qv::EnumRegistryValues(HKEY_CURRENT_USER, path.c_str(), values), row.opened) << row.name;
        ASSERT_FALSE(subkeys.empty());
        ASSERT_FALSE(values.empty());
        EXPECT_EQ(subkeys.front().str(), L"before") << row.name;
        EXPECT_EQ(values.front().str(), L"before") << row.name;
        subkeys.erase(subkeys.begin());
        values.erase(values.begin());
        EXPECT_EQ(sorted(texts(subkeys)), row.subkeys) << row.name;
        EXPECT_EQ(sorted(texts(values)), row.values) << row.name;
        EXPECT_EQ(qv::CountRegistryValues(HKEY_CURRENT_USER, path.c_str()), row.has_values) << row.name;
    }
}

TEST(RegistryValues, DeletedOneByOne)
{
    const scratch_key key(L"DeleteValue");
    key.set_text(L"", L"gone", L"1");
    key.set_text(L"", L"kept", L"2");
    EXPECT_TRUE(qv::DeleteRegistryValue(HKEY_CURRENT_USER, key.path().c_str(), L"gone"));
    EXPECT_EQ(qv::LastFileOpError(), 0u);
    EXPECT_EQ(stored(key, L"", L"gone").type, static_cast<DWORD>(REG_NONE));
    EXPECT_EQ(stored(key, L"", L"kept").type, static_cast<DWORD>(REG_SZ));
    EXPECT_FALSE(qv::DeleteRegistryValue(HKEY_CURRENT_USER, key.path().c_str(), L"gone"));
    EXPECT_EQ(qv::LastFileOpError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(NumberedValues, NamesFromTheFormat)
{
    struct Row {
        const char* name;
        const wchar_t* format;
        int number;
        bool drop_zero;
        const wchar_t* expected;
    } rows[] = {
        {"a number", L"File%d", 3, false, L"File3"},
        {"zero kept", L"File%d", 0, false, L"File0"},
        {"zero dropped", L"File%d", 0, true, L"File"},
        {"a zero of the format stays", L"Log0%d", 0, true, L"Log0"},
        {"only zero is dropped", L"File%d", 10, true, L"File10"},
        {"a width", L"Item%03d", 7, false, L"Item007"},
        {"zero with a width dropped", L"Item%03d", 0, true, L"Item"},
        {"a percent sign", L"%%d%d", 5, false, L"%d5"},
        {"a text conversion is kept as text", L"Name%s%d", 2, false, L"Name%s2"},
        {"only the first conversion takes the number", L"A%dB%d", 4, false, L"A4B%d"},
        {"no conversion", L"Plain", 4, true, L"Plain"},
        {"negative", L"N%d", -2, true, L"N-2"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(qv::NumberedValueName(row.format, row.number, row.drop_zero).str(), row.expected) << row.name;
}

TEST(NumberedValues, ReadUpToTheFirstGap)
{
    struct Value {
        const wchar_t* name;
        const wchar_t* text;  // null: a number
    };
    struct Row {
        const char* name;
        std::vector<Value> values;
        const wchar_t* format;
        int first;
        bool drop_zero;
        std::vector<std::wstring> expected;
        const wchar_t* next;
    } rows[] = {
        {"from zero", {{L"File0", L"a"}, {L"File1", L"b"}, {L"File2", L"c"}}, L"File%d", 0, false, {L"a", L"b", L"c"},
            L"File3"},
        {"a gap ends the walk", {{L"File0", L"a"}, {L"File1", L"b"}, {L"File3", L"d"}}, L"File%d", 0, false, {L"a", L"b"},
            L"File2"},
        {"an empty value ends it", {{L"File0", L"a"}, {L"File1", L""}, {L"File2", L"c"}}, L"File%d", 0, false, {L"a"},
            L"File1"},
        {"a number ends it", {{L"File0", L"a"}, {L"File1", nullptr}, {L"File2", L"c"}}, L"File%d", 0, false, {L"a"},
            L"File1"},
        {"from the first number", {{L"File0", L"z"}, {L"File1", L"a"}, {L"File2", L"b"}}, L"File%d", 1, false,
            {L"a", L"b"}, L"File3"},
        {"zero dropped", {{L"File", L"a"}, {L"File0", L"wrong"}, {L"File1", L"b"}}, L"File%d", 0, true, {L"a", L"b"},
            L"File2"},
        {"a zero of the format", {{L"Log0", L"a"}, {L"Log", L"wrong"}, {L"Log01", L"b"}}, L"Log0%d", 0, true,
            {L"a", L"b"}, L"Log02"},
        {"nothing yet", {}, L"File%d", 0, false, {}, L"File0"},
        {"nothing yet, zero dropped", {}, L"File%d", 0, true, {}, L"File"},
    };
    for (const Row& row : rows) {
        const scratch_key key(L"Numbered");
        key.create(L"");
        for (const Value& value : row.values) {
            const DWORD number = 1;
            if (value.text) key.set_text(L"", value.name, value.text);
            else key.set(L"", value.name, REG_DWORD, &number, sizeof number);
        }
        std::vector<zString> out{L"before"};
        EXPECT_EQ(qv::ReadNumberedRegistryValues(HKEY_CURRENT_USER, key.path().c_str(), row.format, row.first,
                      row.drop_zero, out),
            row.expected.size())
            << row.name;
        std::vector<std::wstring> expected{L"before"};
        expected.insert(expected.end(), row.expected.begin(), row.expected.end());
        EXPECT_EQ(texts(out), expected) << row.name;
        EXPECT_EQ(qv::NextNumberedValueName(HKEY_CURRENT_USER, key.path().c_str(), row.format, row.first, row.drop_zero)
                      .str(),
            row.next)
            << row.name;
    }

    const scratch_key key(L"NumberedMissing");
    std::vector<zString> out;
    EXPECT_EQ(qv::ReadNumberedRegistryValues(HKEY_CURRENT_USER, key.sub(L"missing").c_str(), L"File%d", 0, false, out), 0u);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(qv::LastFileOpError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(qv::NextNumberedValueName(HKEY_CURRENT_USER, key.sub(L"missing").c_str(), L"File%d", 5, false).str(),
        L"File5");
}

// The thread's error information, taken (and so cleared) for a look.
struct taken_error_info {
    std::wstring description, source;
    GUID guid{};
    bool present = false;
};

taken_error_info take_error_info()
{
    taken_error_info out;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info) return out;
    out.present = true;
    BSTR text = nullptr;
    if (SUCCEEDED(info->GetDescription(&text)) && text) out.description = text;
    SysFreeString(text);
    text = nullptr;
    if (SUCCEEDED(info->GetSource(&text)) && text) out.source = text;
    SysFreeString(text);
    info->GetGUID(&out.guid);
    info->Release();
    return out;
}

void set_earlier_error_info(const wchar_t* description)
{
    ICreateErrorInfo* created = nullptr;
    ASSERT_TRUE(SUCCEEDED(CreateErrorInfo(&created)));
    created->SetDescription(const_cast<LPOLESTR>(description));
    IErrorInfo* info = nullptr;
    created->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
    SetErrorInfo(0, info);
    info->Release();
    created->Release();
}

TEST(ComErrorInfo, DescriptionBuiltOnTheEarlierOne)
{
    CoInitialize(nullptr);
    // StdFont's class is registered with the ProgID "StdFont" by Windows itself.
    const CLSID std_font = {0x0BE35203, 0x8F91, 0x11CE, {0x9D, 0xE3, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};
    const CLSID unknown = {0x6D1C4A35, 0x2E1B, 0x4C3B, {0x9B, 0x6E, 0x1F, 0x0D, 0x3A, 0x2C, 0x5B, 0x76}};
    const IID interface_id = {0x6D1C4A35, 0x2E1B, 0x4C3B, {0x9B, 0x6E, 0x1F, 0x0D, 0x3A, 0x2C, 0x5B, 0x77}};
    struct Row {
        const char* name;
        const wchar_t* earlier;  // null: no error information before
        const CLSID* class_id;
        const wchar_t* message;
        const wchar_t* source_path;
        int line;
        HRESULT result;
        const wchar_t* description;
        const wchar_t* source;
        HRESULT answer;
    } rows[] = {
        {"on an earlier description", L"Earlier\r\n", &std_font, L"Opening failed", L"C:\\src\\setup\\lib\\registry.cpp",
            42, E_FAIL, L"Earlier\r\n*Opening failed\r\n>lib\\registry.cpp (42)\r\n", L"StdFont", E_FAIL},
        {"the first, without a message", nullptr, &std_font, L"", L"C:\\src\\setup\\lib\\registry.cpp", 7,
            E_ACCESSDENIED, L">lib\\registry.cpp (7)\r\n", L"StdFont", E_ACCESSDENIED},
        {"a compiler's forward slashes", nullptr, &std_font, L"m", L"/work/main/setup/lib/file.cpp", 1, E_FAIL,
            L"*m\r\n>lib\\file.cpp (1)\r\n", L"StdFont", E_FAIL},
        {"a file name alone", nullptr, &std_font, L"", L"file.cpp", 3, E_FAIL, L">file.cpp (3)\r\n", L"StdFont", E_FAIL},
        {"success is no answer", nullptr, &std_font, L"", L"C:\\a\\b.cpp", 9, S_OK, L">a\\b.cpp (9)\r\n", L"StdFont",
            DISP_E_EXCEPTION},
        {"a class without a ProgID", nullptr, &unknown, L"", L"C:\\a\\b.cpp", 9, E_FAIL, L">a\\b.cpp (9)\r\n", L"",
            E_FAIL},
    };
    for (const Row& row : rows) {
        take_error_info();  // none left from the row before
        if (row.earlier) set_earlier_error_info(row.earlier);
        EXPECT_EQ(qv::SetComErrorInfo(*row.class_id, row.message, row.source_path, row.line, interface_id, row.result),
            row.answer)
            << row.name;
        const taken_error_info info = take_error_info();
        ASSERT_TRUE(info.present) << row.name;
        EXPECT_EQ(info.description, row.description) << row.name;
        EXPECT_EQ(info.source, row.source) << row.name;
        EXPECT_TRUE(IsEqualGUID(info.guid, interface_id)) << row.name;
    }
    CoUninitialize();
}

}  // namespace
