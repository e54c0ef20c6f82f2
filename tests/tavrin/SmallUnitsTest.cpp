// The instrument port's settings, special folders, the print-status dialog and the grid and
// file-name helpers.
#include "Grids.h"
#include "KDGlob.h"
#include "PrntStat.h"
#include "Printers.h"
#include "RUVComm.h"
#include "SioExcept.h"
#include "ShellPaths.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

TEST(RUVComm, TxDelayIsBoundedAndTheDefaultsAreTheLibrarys)
{
    TRUVComm port(nullptr);
    EXPECT_EQ(port.TxDelay(), 20);
    const struct {
        int set, stored;
    } cases[] = {{-5, 0}, {5000, 1000}, {1000, 1000}, {0, 0}, {250, 250}};
    for (const auto& c : cases) {
        port.SetTxDelay(c.set);
        EXPECT_EQ(port.TxDelay(), c.stored) << c.set;
    }
    EXPECT_EQ(port.Baud(), 19200u);
    EXPECT_FALSE(port.Open());
    port.AutoOpen = false;
    EXPECT_THROW(port.FlushBuffers(), ESioException) << "a closed port has no buffers";
}

TEST(SpecialFolders, TheShellGivesTheUsersFolders)
{
    TSpecialFolders folders(nullptr);
    EXPECT_NE(folders.Personal(), "Path not available on this system");
    EXPECT_NE(folders.AppData(), "Path not available on this system");
    EXPECT_NE(folders.Personal(), folders.AppData());
    EXPECT_EQ(GetFileAttributesA(folders.AppData().c_str()) & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(TSpecialFolders::Folder(0x7F), "Path not available on this system");
}

TEST(Helpers, FileNameStemAndClearGridRow)
{
    const struct {
        const char* path;
        const char* stem;
    } cases[] = {{"C:\\tests\\my.test.VRL", "my"},
                 {"my.test.VRL", "my"},
                 {"C:\\a.b\\plain", "plain"},
                 {"Z:/unix/x.VRL", "x"},
                 {"", ""}};
    for (const auto& c : cases) EXPECT_EQ(FileNameStem(c.path), c.stem) << c.path;

    TStringGrid grid(nullptr);
    grid.SetColCount(3);
    grid.SetRowCount(14);
    for (int col = 0; col < 3; ++col) grid.SetCells(col, 4, "x");
    ClearGridRow(4, grid);
    EXPECT_EQ(grid.Cells(0, 4), "x") << "the caption stays";
    EXPECT_EQ(grid.Cells(1, 4), "");
    EXPECT_EQ(grid.Cells(2, 4), "");
}

struct TCountingPrinter : TPrinterBackend {
    int* aborts;
    explicit TCountingPrinter(int* a) : aborts(a) {}
    HDC BeginDoc(const std::string&) override { return nullptr; }
    void NewPage() override {}
    void EndDoc() override {}
    void Abort() override { ++*aborts; }
};

TEST(PrintStatus, CancelAsksAndYesAbortsTheJobOrJustCloses)
{
    int aborts = 0;
    auto previous = Printer()->SetBackend(std::make_unique<TCountingPrinter>(&aborts));
    TPrintStatusDlg dialog(Application);
    EXPECT_EQ(dialog.Caption(), "PX-9+ Program Print Status");
    EXPECT_EQ(dialog.Label1->Caption(), "Printing:");
    TRecordingSink sink;
    sink.Answers = {IDNO, IDYES, IDYES};
    dialog.Show();
    Printer()->BeginDoc();
    dialog.CancelBbtnClick(&dialog);  // No: the job goes on
    EXPECT_TRUE(Printer()->Printing());
    EXPECT_TRUE(dialog.Visible());
    dialog.CancelBbtnClick(&dialog);  // Yes: aborted and closed
    EXPECT_FALSE(Printer()->Printing());
    EXPECT_EQ(aborts, 1);
    EXPECT_FALSE(dialog.Visible());
    dialog.Show();
    EXPECT_NO_THROW(dialog.CancelBbtnClick(&dialog));  // Yes with no job under way
    EXPECT_EQ(aborts, 1);
    ASSERT_EQ(sink.Requests.size(), 3u);
    EXPECT_EQ(sink.Requests[0].Text, "Are you sure you wish to cancel the print job?");
    EXPECT_EQ(sink.Requests[0].Flags, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    Printer()->SetBackend(std::move(previous));
}

}  // namespace
