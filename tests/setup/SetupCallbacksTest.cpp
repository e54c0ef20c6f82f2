// CSetup's answers to the transfers and the engine, without a run.
#include "Setup.h"

#include <gtest/gtest.h>

namespace {

// {01234567-89AB-4CDE-8F01-23456789ABCD}: no interface of the launcher's.
constexpr IID unknown_iid = {0x01234567, 0x89ab, 0x4cde, {0x8f, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd}};
// {E3259E39-BE60-431C-B26D-BA33F0D02760}
constexpr IID second_events_iid = {0xe3259e39, 0xbe60, 0x431c, {0xb2, 0x6d, 0xba, 0x33, 0xf0, 0xd0, 0x27, 0x60}};

struct Launcher : ::testing::Test {
    Deleter deleter;
    CSetup setup{&deleter};
    void TearDown() override { setup_state::cancel_flag = 0; }
};

TEST_F(Launcher, AnswersItsOwnInterfacesAndClearsTheOutPointerForOthers)
{
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(setup.QueryInterface(unknown_iid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    for (const IID& iid : {IID_IUnknown, qv::IID_ISetupTransferEvents, second_events_iid}) {
        out = nullptr;
        EXPECT_EQ(setup.QueryInterface(iid, &out), S_OK);
        EXPECT_EQ(out, static_cast<qv::ISetupTransferEvents*>(&setup));
    }
    EXPECT_EQ(setup.QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(setup.AddRef(), 2u);
    EXPECT_EQ(setup.Release(), 1u);
}

TEST_F(Launcher, ValueQueriesGiveTheirFixedAnswersAndRefuseANullOutPointer)
{
    LONG value = 0;
    EXPECT_EQ(setup.QueryValueA(&value), 0);
    EXPECT_EQ(value, 6);
    EXPECT_EQ(setup.QueryValueB(&value), 0);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(setup.QueryValueC(&value), 0);
    EXPECT_EQ(value, 3);
    EXPECT_EQ(setup.QueryValueD(1, 2, 3, &value), 0);
    EXPECT_EQ(value, 3);
    EXPECT_EQ(setup.QueryValueE(1, &value), 0);
    EXPECT_EQ(value, 6);
    EXPECT_EQ(setup.OnTransferError(nullptr, 12029, 0, &value), 1);
    EXPECT_EQ(value, 3);
    EXPECT_EQ(setup.QueryValueA(nullptr), E_POINTER);
    EXPECT_EQ(setup.QueryValueE(0, nullptr), E_POINTER);
    EXPECT_EQ(setup.OnFileQuery(L"x.cab", nullptr), E_POINTER);
    // Without a listener the events answer 1.
    EXPECT_EQ(setup.OnTransferBegin(L"a", L"b"), 1);
    EXPECT_EQ(setup.ForwardQuery(nullptr), 1);
}

TEST_F(Launcher, ACancelIsReportedOnceByTheNextProgress)
{
    EXPECT_EQ(setup.OnProgress(100), 0);
    setup_state::cancel_flag = 1;
    EXPECT_TRUE(setup.CancelRequested());
    EXPECT_EQ(setup.OnProgress(100), setup_cancelled);
    EXPECT_EQ(setup.OnProgress(100), 0);
    EXPECT_FALSE(setup.CancelRequested());
}

TEST_F(Launcher, TheFileQueryAnswersTheLauncherStateAndHandsTheSupportProgramOverOnlyWhenEnding)
{
    LONG value = 0;
    EXPECT_EQ(setup.OnFileQuery(L"C:\\t\\QVBEW64.exe", &value), 0);
    EXPECT_EQ(value, 3);
    EXPECT_TRUE(deleter.files.empty());
}

TEST_F(Launcher, ResumeValueStartsAtMinusOneAndIsShared)
{
    EXPECT_EQ(setup.GetResumeIndex(), -1);
    setup.SetResumeIndex(4);
    EXPECT_EQ(setup_state::resume_value, 4);
    Deleter other_deleter;
    CSetup other(&other_deleter);
    EXPECT_EQ(setup.GetResumeIndex(), -1);
}

TEST_F(Launcher, FilesAndFoldersGoToTheDeleterInOrder)
{
    setup.AddFileToDelete(L"C:\\a.txt");
    setup.AddFileToDelete(L"C:\\b.txt");
    setup.AddFolderToDelete(L"C:\\f");
    ASSERT_EQ(deleter.files.size(), 2u);
    EXPECT_EQ(deleter.files[0], L"C:\\a.txt");
    EXPECT_EQ(deleter.files[1], L"C:\\b.txt");
    ASSERT_EQ(deleter.folders.size(), 1u);
}

TEST_F(Launcher, OnlyTheFirstFailureIsKeptAndEveryFailureJumps)
{
    EXPECT_EQ(setup.RecordFailure(0, 10), 0);
    EXPECT_THROW(setup.RecordFailure(E_FAIL, 236), launcher_failure);
    EXPECT_THROW(setup.RecordFailure(E_OUTOFMEMORY, 244), launcher_failure);
    EXPECT_EQ(setup.FirstFailure(), E_FAIL);
    EXPECT_EQ(setup.FailureLine(), 236);
    EXPECT_EQ(setup.FailureSource(), L"setup");
}

TEST(ProgressPosition, StaysBetweenItsBaseAnd95AndNeverDividesByZero)
{
    const struct {
        const char* name;
        int base;
        ULONGLONG total, expected;
        int position;
    } cases[] = {
        {"start", 0, 0, 1000, 0},
        {"half from 0", 0, 500, 1000, 47},
        {"all from 0", 0, 1000, 1000, 95},
        {"more than expected", 0, 5000, 1000, 95},
        {"half from 50", 50, 500, 1000, 72},
        {"nothing expected", 30, 500, 0, 30},
        {"base above the top", 120, 10, 100, 95},
        {"large totals", 10, 0x7FFFFFFFFFFFull, 0xFFFFFFFFFFFFull, 51},
    };
    for (const auto& c : cases) EXPECT_EQ(ProgressPosition(c.base, c.total, c.expected), c.position) << c.name;
}

TEST(TransferRateText, OneDecimalInKilobytesUpToAMegabyteASecond)
{
    const struct {
        ULONG rate;
        const wchar_t* text;
    } cases[] = {
        {1024, L"1.0 KB/s"},
        {1536, L"1.5 KB/s"},
        {1048576, L"1024.0 KB/s"},
        {1048577, L"1.0 MB/s"},
        {3 * 1048576 + 524288, L"3.5 MB/s"},
        {100, L"0.0 KB/s"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TransferRateText(c.rate, L"KB", L"MB", L"/s"), c.text) << c.rate;
}

}  // namespace
