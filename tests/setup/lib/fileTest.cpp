#include "file.h"
#include "win32_exception.h"

#include "FileSupport.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(file, DetectsTheByteOrderMarkAndStartsAtTheMark)
{
    struct Case {
        const char* name;
        bytes content;
        UINT codePage;
        bool bom;
    };
    const Case cases[] = {
        {"empty", {}, 0, false},
        {"one byte FF", {0xFF}, 0, false},
        {"UTF-16LE mark alone", {0xFF, 0xFE}, 1200, true},
        {"UTF-16BE mark alone", {0xFE, 0xFF}, 1201, true},
        {"UTF-16LE text", {0xFF, 0xFE, 'a', 0}, 1200, true},
        {"UTF-16BE text", {0xFE, 0xFF, 0, 'a'}, 1201, true},
        {"two bytes of the UTF-8 mark", {0xEF, 0xBB}, 0, false},
        {"UTF-8 mark alone", {0xEF, 0xBB, 0xBF}, 65001, true},
        {"UTF-8 text", {0xEF, 0xBB, 0xBF, 'x', 'y'}, 65001, true},
        {"plain text", {'a', 'b', 'c', 'd'}, 0, false},
        {"UTF-8 mark broken", {0xEF, 0xBB, 0xBE}, 0, false},
        {"reversed halves", {0xFE, 0xFE}, 0, false},
    };
    const scratch_folder folder(L"setup_file");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = folder.write(L"mark.bin", c.content);
        qv::file f;
        ASSERT_EQ(f.open(path.c_str(), GENERIC_READ), 0u);
        EXPECT_EQ(f.code_page(), c.codePage);
        EXPECT_EQ(f.has_bom(), c.bom);
        EXPECT_EQ(f.seek(0, FILE_CURRENT), 0u);
        EXPECT_EQ(f.size(), c.content.size());
        if (!c.content.empty()) {
            unsigned char first = 0;
            EXPECT_EQ(f.read(&first, qv::file::one), 1u) << "a count of -1 reads exactly one byte";
            EXPECT_EQ(first, c.content[0]);
        }
    }
}

TEST(file, AHandleThatCannotBeReadHasNoMarkAndStillOpens)
{
    const scratch_folder folder(L"setup_file");
    const std::wstring path = folder.write(L"writeonly.txt", {0xFF, 0xFE, 'a', 0});
    qv::file f;
    ASSERT_EQ(f.open(path.c_str(), GENERIC_WRITE, 0, FILE_ATTRIBUTE_NORMAL, OPEN_EXISTING), 0u);
    EXPECT_EQ(f.code_page(), 0u);
    EXPECT_FALSE(f.has_bom());
    EXPECT_EQ(f.seek(0, FILE_CURRENT), 0u);
}

TEST(file, WritesTextInTheCodePageOfTheFile)
{
    // "Aé€" and the bytes each code page gives it, after its mark when one is wanted.
    const wchar_t* text = L"A\u00e9\u20ac";
    struct Case {
        UINT codePage;
        bool bom;
        bytes expected;
    };
    const Case cases[] = {
        {1200, true, {0xFF, 0xFE, 'A', 0, 0xE9, 0, 0xAC, 0x20}},
        {1201, true, {0xFE, 0xFF, 0, 'A', 0, 0xE9, 0x20, 0xAC}},
        {65001, true, {0xEF, 0xBB, 0xBF, 'A', 0xC3, 0xA9, 0xE2, 0x82, 0xAC}},
        {65001, false, {'A', 0xC3, 0xA9, 0xE2, 0x82, 0xAC}},
        {1252, false, {'A', 0xE9, 0x80}},
    };
    const scratch_folder folder(L"setup_file");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.codePage);
        // The mark decides the file's code page when it opens; a file without one takes any.
        bytes seed;
        if (c.bom && c.codePage == 1200) seed = {0xFF, 0xFE};
        if (c.bom && c.codePage == 1201) seed = {0xFE, 0xFF};
        if (c.bom && c.codePage == 65001) seed = {0xEF, 0xBB, 0xBF};
        const std::wstring path = folder.write(L"text.txt", seed);
        {
            qv::file f;
            ASSERT_EQ(f.open(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, FILE_ATTRIBUTE_NORMAL, OPEN_EXISTING), 0u);
            if (!c.bom) {
                EXPECT_TRUE(f.set_code_page(c.codePage));
            }
            EXPECT_EQ(f.code_page(), c.codePage);
            f.seek(0, FILE_BEGIN);
            EXPECT_EQ(f.write_bom(), 0u);
            f.write_text(text);
            f.write_text(L"");
        }
        EXPECT_EQ(read_back(path), c.expected);
    }
}

TEST(file, AMarkFixesTheCodePage)
{
    const scratch_folder folder(L"setup_file");
    const std::wstring path = folder.write(L"utf8.txt", {0xEF, 0xBB, 0xBF, 'a'});
    qv::file f;
    ASSERT_EQ(f.open(path.c_str(), GENERIC_READ), 0u);
    EXPECT_FALSE(f.set_code_page(1252));
    EXPECT_EQ(f.code_page(), 65001u);

    const std::wstring plain = folder.write(L"plain.txt", {'a'});
    ASSERT_EQ(f.open(plain.c_str(), GENERIC_READ), 0u);
    EXPECT_TRUE(f.set_code_page(1200));
    EXPECT_EQ(f.write_bom(), 0u) << "no mark is written for a file that had none";
}

TEST(file, CopiesShareOneHandleAndTheLastCloses)
{
    const scratch_folder folder(L"setup_file");
    const std::wstring path = folder.write(L"shared.bin", {1, 2, 3, 4});
    qv::file first;
    ASSERT_EQ(first.open(path.c_str(), GENERIC_READ, 0), 0u);  // no sharing: a second open fails
    qv::file second(first);
    EXPECT_EQ(second.native_handle(), first.native_handle());
    first.close();
    EXPECT_FALSE(first.is_open());
    unsigned char got[4] = {};
    EXPECT_EQ(second.read(got, 4), 4u) << "closing one copy closed the shared handle";
    EXPECT_EQ(got[3], 4);
    qv::file third;
    EXPECT_EQ(third.open(path.c_str(), GENERIC_READ, 0), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    {
        qv::file assigned;
        assigned = second;
        second.close();
        EXPECT_NE(third.open(path.c_str(), GENERIC_READ, 0), 0u) << "the assigned copy still holds the file";
    }
    EXPECT_EQ(third.open(path.c_str(), GENERIC_READ, 0), 0u) << "the last copy did not close the handle";
}

TEST(file, FailuresThrowWithThePathAndTheObjectStaysUsable)
{
    const scratch_folder folder(L"setup_file");
    const std::wstring path = folder.write(L"readonly.bin", {1, 2});
    qv::file f;
    EXPECT_EQ(f.open((path + L".missing").c_str(), GENERIC_READ), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    ASSERT_EQ(f.open(path.c_str(), GENERIC_READ), 0u);
    try {
        f.write("x", 1);
        FAIL() << "a write on a read-only handle did not throw";
    } catch (const qv::file_exception& e) {
        EXPECT_EQ(e.path(), path.c_str());
        EXPECT_EQ(e.error(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    unsigned char got[2] = {};
    EXPECT_EQ(f.read(got, 2), 2u);
    f.close();
    EXPECT_FALSE(f.is_open());
}

TEST(file, ClosingFromTheDestructorNeverThrows)
{
    const scratch_folder folder(L"setup_file");
    const std::wstring path = folder.write(L"gone.bin", {1});
    {
        qv::file f;
        ASSERT_EQ(f.open(path.c_str(), GENERIC_READ), 0u);
        CloseHandle(f.native_handle());  // the object's own close now fails
        qv::file copy(f);
        EXPECT_NO_THROW(f.close()) << "the copy still holds the handle, so this close does not reach it";
    }  // the copy's destructor meets the failing close and swallows it
    {
        qv::file f;
        ASSERT_EQ(f.open(path.c_str(), GENERIC_READ), 0u);
        CloseHandle(f.native_handle());
        EXPECT_THROW(f.close(), qv::file_exception);
    }
    {
        qv::file f;
        ASSERT_EQ(f.open(path.c_str(), GENERIC_READ), 0u);
        CloseHandle(f.native_handle());
    }  // the destructor swallows the failed close
    SUCCEED();
}

TEST(file, ReadAllAddsTwoZerosAndHandlesEmptyFiles)
{
    const scratch_folder folder(L"setup_file");
    qv::file f;
    std::unique_ptr<unsigned char[]> all;
    ASSERT_EQ(f.open(folder.write(L"empty.bin", {}).c_str(), GENERIC_READ), 0u);
    EXPECT_EQ(f.read_all(all), 0u);
    EXPECT_EQ(all[0], 0);
    EXPECT_EQ(all[1], 0);
    ASSERT_EQ(f.open(folder.write(L"abc.bin", {'a', 'b', 'c'}).c_str(), GENERIC_READ), 0u);
    unsigned char skip;
    f.read(&skip, 1);
    EXPECT_EQ(f.read_all(all), 3u) << "reads from the start, wherever the position stood";
    EXPECT_EQ(std::string(reinterpret_cast<char*>(all.get())), "abc");
    EXPECT_EQ(all[4], 0);
}

TEST(file, RecordsOfAFixedSize)
{
    const scratch_folder folder(L"setup_file");
    const std::wstring path = folder.write(L"records.bin", {});
    {
        qv::file f;
        ASSERT_EQ(f.open(path.c_str(), GENERIC_WRITE, 0, FILE_ATTRIBUTE_NORMAL, OPEN_EXISTING), 0u);
        const DWORD values[3] = {0x04030201, 0x08070605, 0x0C0B0A09};
        EXPECT_EQ(f.write_records<4>(values), 4u) << "a count of -1 is one record";
        EXPECT_EQ(f.write_records<4>(values + 1, 2), 8u);
        EXPECT_EQ(f.write_records<0>(values, 5), 0u);
    }
    EXPECT_EQ(read_back(path), (bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    qv::file f;
    ASSERT_EQ(f.open(path.c_str(), GENERIC_READ), 0u);
    unsigned char six[12] = {};
    EXPECT_EQ(f.read_records<6>(six, 2), 12u);
    EXPECT_EQ(six[11], 12);
}

TEST(file, OnlyAnAddressWithSomethingAfterItsSchemeIsReadFromTheNet)
{
    struct Case {
        const wchar_t* path;
        bool internet;
    };
    const Case cases[] = {
        {L"http://", false},
        {L"https://", false},
        {L"http://x", true},
        {L"HTTPS://host/file", true},
        {L"HtTp://host/file", true},
        {L"ftp://host/file", false},
        {L"c:\\http://x", false},
        {L"httpx://host", false},
    };
    for (const Case& c : cases) EXPECT_EQ(qv::is_internet_path(c.path), c.internet) << c.path;

    qv::file f;
    EXPECT_NE(f.open(L"http://", GENERIC_READ), 0u) << "goes to CreateFileW, which finds no such file";
    EXPECT_FALSE(f.is_internet());
}

TEST(file_lite, OpensReadsWritesAndSeeksWithoutExceptions)
{
    const scratch_folder folder(L"setup_file");
    const std::wstring path = folder.write(L"lite.bin", {});
    qv::file_lite lite;
    EXPECT_FALSE(lite.open_write(L"http://host/file", CREATE_ALWAYS)) << "an address is never written";
    ASSERT_TRUE(lite.open_write(path.c_str(), CREATE_ALWAYS));
    EXPECT_EQ(lite.write("hello", 5), 5);
    EXPECT_EQ(lite.read(nullptr, 0), -1) << "a write-only handle cannot be read";
    ASSERT_TRUE(lite.open_read(path.c_str()));
    lite.seek(1, FILE_BEGIN);
    char got[8] = {};
    EXPECT_EQ(lite.read(got, 8), 4);
    EXPECT_STREQ(got, "ello");
    lite.seek(-100, FILE_BEGIN);  // ignored
    EXPECT_FALSE(lite.open_read((path + L".missing").c_str()));
    EXPECT_FALSE(lite.is_open());
}

}  // namespace
