#include "win32_exception.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

std::wstring system_text(DWORD code)
{
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code, 0,
        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring out = text ? text : L"";
    LocalFree(text);
    return out;
}

TEST(win32_exception, TextIsTheSystemsOwn)
{
    const qv::win32_exception notFound(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(system_text(ERROR_FILE_NOT_FOUND).empty());
    EXPECT_EQ(notFound.message(), system_text(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(notFound.error(), 2u);
    EXPECT_EQ(zString(notFound.what(), -1, CP_ACP).str(), system_text(ERROR_FILE_NOT_FOUND));

    const qv::win32_exception none(0);
    EXPECT_STREQ(none.message(), L"");
    EXPECT_STREQ(none.what(), "");
    // A code the system has no text for.
    EXPECT_STREQ(qv::win32_exception(0x2badf00d).message(), L"");
}

TEST(win32_exception, CopiesShareOneLookup)
{
    const qv::win32_exception original(ERROR_ACCESS_DENIED);
    const qv::win32_exception copy = original;  // made before anyone asked
    const wchar_t* fromCopy = copy.message();
    const wchar_t* fromOriginal = original.message();
    EXPECT_EQ(fromCopy, fromOriginal) << "the text was looked up twice";
    EXPECT_EQ(copy.what(), original.what());

    qv::win32_exception assigned(ERROR_FILE_NOT_FOUND);
    assigned = original;
    EXPECT_EQ(assigned.error(), 5u);
    EXPECT_EQ(assigned.message(), fromOriginal);
}

TEST(win32_exception, CodeComesFromTheLastErrorAtConstruction)
{
    SetLastError(ERROR_PATH_NOT_FOUND);
    const qv::win32_exception fromLast;
    EXPECT_EQ(fromLast.error(), 3u);
    SetLastError(ERROR_SHARING_VIOLATION);
    const qv::file_exception file(L"C:\\locked.bin");
    EXPECT_EQ(file.error(), 32u);
    EXPECT_EQ(file.path().str(), L"C:\\locked.bin");
    SetLastError(12029);
    const qv::internet_exception internet;
    EXPECT_EQ(internet.error(), 12029u);
    // Asking for the text leaves the last error alone.
    SetLastError(7);
    (void)file.what();
    EXPECT_EQ(GetLastError(), 7u);
}

template <class Base>
void expect_caught_as(const char* name)
{
    try {
        throw qv::internet_file_exception(12002, L"http://host/setup.cab");
    } catch (const Base& e) {
        const auto& whole = dynamic_cast<const qv::internet_file_exception&>(e);
        EXPECT_EQ(whole.error(), 12002u) << name;
        EXPECT_EQ(whole.path().str(), L"http://host/setup.cab") << name;
        return;
    } catch (...) {
    }
    ADD_FAILURE() << "not caught as " << name;
}

TEST(win32_exception, InternetFileFailureIsCaughtByEachBase)
{
    expect_caught_as<qv::internet_file_exception>("internet_file_exception");
    expect_caught_as<qv::internet_exception>("internet_exception");
    expect_caught_as<qv::file_exception>("file_exception");
    expect_caught_as<qv::win32_exception>("win32_exception");
    expect_caught_as<std::exception>("std::exception");
}

TEST(win32_exception, CopiesMayEndOnOtherThreads)
{
    for (int round = 0; round < 20; ++round) {
        std::vector<std::thread> threads;
        {
            const qv::file_exception shared(ERROR_FILE_NOT_FOUND, L"x");
            for (int i = 0; i < 8; ++i)
                threads.emplace_back([copy = shared, expected = system_text(ERROR_FILE_NOT_FOUND)] {
                    EXPECT_EQ(copy.message(), expected);
                });
        }
        for (auto& t : threads) t.join();
    }
}

}  // namespace
