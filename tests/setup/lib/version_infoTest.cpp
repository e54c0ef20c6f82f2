#include "version_info.h"

#include "FileSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring value_of(const qv::version_info& info, const wchar_t* name)
{
    const wchar_t* v = info.value(name);
    return v ? v : L"(none)";
}

TEST(version_info, ReadsTheFixedNumbersAndValuesUnderEachTranslation)
{
    qv::version_info info;
    ASSERT_TRUE(info.load(beside_program(L"version_fixture.dll").c_str()));
    EXPECT_EQ(info.major(), 1);
    EXPECT_EQ(info.minor(), 2);
    EXPECT_EQ(info.build(), 3);
    EXPECT_EQ(info.revision(), 4);
    EXPECT_EQ(info.version(), 0x0001000200030004ULL);
    EXPECT_EQ(info.fixed().dwProductVersionMS, 0x00050006u);
    ASSERT_EQ(info.translation_count(), 2u);
    EXPECT_EQ(info.translation_at(1).language, 0x407);
    EXPECT_EQ(info.translation_at(1).codepage, 1252);

    const std::wstring longName(300, L'x');
    struct Row {
        const char* name;
        const wchar_t* value;
        const wchar_t* expected;
    } rows[] = {
        {"under the first translation", L"FileDescription", L"Version fixture"},
        {"only under the second", L"QVInternalVersion", L"23.0.77"},
        {"a whole path", L"\\StringFileInfo\\040704E4\\FileDescription", L"Versionsbeispiel"},
        {"missing", L"CompanyName", L"(none)"},
        {"a name past the path's room", longName.c_str(), L"(none)"},
    };
    for (const Row& row : rows) EXPECT_EQ(value_of(info, row.value), row.expected) << row.name;
}

TEST(version_info, FilesWithoutAResource)
{
    struct Row {
        const char* name;
        std::wstring path;
    } rows[] = {
        {"a DLL without a version resource", beside_program(L"no_version_fixture.dll")},
        {"a missing file", beside_program(L"no_such_file.dll")},
        {"a text file", L"fixtures\\version_fixture.rc"},
    };
    for (const Row& row : rows) {
        qv::version_info info;
        info.set_version(9, 9, 9, 9);
        EXPECT_FALSE(info.load(row.path.c_str())) << row.name;
        EXPECT_EQ(info.version(), 0u) << row.name;
        EXPECT_EQ(info.value(L"FileDescription"), nullptr) << row.name;
        EXPECT_EQ(info.translation_count(), 0u) << row.name;
    }
}

TEST(version_info, CopiesShareTheBlockAndItsTranslations)
{
    auto* original = new qv::version_info;
    ASSERT_TRUE(original->load(beside_program(L"version_fixture.dll")));
    qv::version_info copy(*original);
    qv::version_info assigned;
    assigned = copy;
    delete original;
    // Both still read the block and the translation table of the one that is gone.
    EXPECT_EQ(value_of(copy, L"QVInternalVersion"), L"23.0.77");
    EXPECT_EQ(value_of(assigned, L"QVInternalVersion"), L"23.0.77");
    // Loading again into one copy leaves the other its own.
    EXPECT_FALSE(copy.load(beside_program(L"no_version_fixture.dll")));
    EXPECT_EQ(value_of(assigned, L"QVInternalVersion"), L"23.0.77");
    EXPECT_EQ(assigned.major(), 1);
    assigned = assigned;
    EXPECT_EQ(assigned.translation_count(), 2u);
}

TEST(version_info, DottedTexts)
{
    struct Row {
        const char* name;
        const wchar_t* text;
        WORD a, b, c, d;
    } rows[] = {
        {"two pieces", L"1.2", 1, 2, 0, 0},
        {"four pieces", L"23.0.1.517", 23, 0, 1, 517},
        {"a fifth piece is ignored", L"1.2.3.4.5", 1, 2, 3, 4},
        {"cut to 16 bits", L"70000.1", 4464, 1, 0, 0},
        {"empty", L"", 0, 0, 0, 0},
        {"not numbers", L"a.b", 0, 0, 0, 0},
        {"empty piece", L"1..3", 1, 0, 3, 0},
    };
    for (const Row& row : rows) {
        qv::version_info info;
        EXPECT_TRUE(info.set_version(row.text)) << row.name;
        EXPECT_EQ(info.major(), row.a) << row.name;
        EXPECT_EQ(info.minor(), row.b) << row.name;
        EXPECT_EQ(info.build(), row.c) << row.name;
        EXPECT_EQ(info.revision(), row.d) << row.name;
    }
    qv::version_info parts;
    parts.set_version(1, 2, 3, 4);
    EXPECT_EQ(parts.version_ms(), 0x00010002u);
    EXPECT_EQ(parts.version_ls(), 0x00030004u);
}

}  // namespace
