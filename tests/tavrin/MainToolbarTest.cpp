// tavrin's main window through its toolbar, with real input: the mouse over Send and Erase,
// Send clicked while a value is still being typed, Erase picked from the chevron's popup of
// a narrowed window, and the toolbar docked, floating and with its chevron open as the
// screen shows them. The instrument is on COM5, as for the end-to-end cases. What has to
// happen inside a menu loop is driven by steps that the loop's own events post; a watchdog
// takes the capture away should a loop never end, which ends it.
#include "MainWindowSupport.h"

#include "Barrier.h"
#include "DkCommon.h"
#include "DkPopup.h"
#include "ScreenCapture.h"
#include "UtilWindow.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <iterator>
#include <memory>
#include <string>

namespace {

const char* const EraseTranscript = "TXTHOST0\rTXTNAME00EMPTY\rPGM1000101100010000001011\r";
const char* const SendHintStart = "User defined tests are stored in memory slots within the VR7.";
const char* const EraseHintStart = "To erase a test from one of the VR7's memory slots";

RECT WindowRect(HWND window)
{
    RECT r = {};
    GetWindowRect(window, &r);
    return r;
}

// A popup still fading or sliding in cannot be clicked where it will be: popups show at once.
class TNoAnimation : public TDkSystemChecks {
public:
    bool MenuAnimation() override { return false; }
    bool MenuFade() override { return false; }
};

class Toolbar : public MainWindow {
protected:
    void SetUp() override
    {
        MainWindow::SetUp();
        checks_ = SetDkSystem(&noAnimation_);
        sound_ = SetDkSoundPlayer([](const char*) {});
        // Away from every window: a window appearing under the cursor would select an item.
        ASSERT_TRUE(ParkPointer());
        watchdog_ = std::make_unique<TLoopWatchdog>(15000);
    }

    void TearDown() override
    {
        watchdog_.reset();
        MainWindow::TearDown();
        form = nullptr;
        PumpPending();
        SetDkSoundPlayer(sound_);
        SetDkSystem(checks_);
    }

    // The window with the instrument's port open, in front and active, as a user has it.
    void StartInFront()
    {
        WriteSettings(1, 0);
        Start();
        const HWND window = form->Handle();
        SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
        SetForegroundWindow(window);
        ASSERT_TRUE(PumpUntil([&] { return GetForegroundWindow() == window && GetActiveWindow() == window; }));
        ASSERT_TRUE(form->Download->Enabled());
    }

    TDkItemViewer* ViewerOf(TDkCustomItem* item) const { return form->DkToolbar1->View()->Find(item); }
    POINT CentreOfItem(TDkCustomItem* item) const { return CentreOf(ViewerOf(item)->ScreenBounds()); }

    // Runs `step` once the message being handled (and what it started) lets the queue go on.
    void NextStep(std::function<void()> step)
    {
        steps_.Add(std::move(step));
        steps_.Post();
    }

    // What the screen shows of the windows, together, after they have painted.
    bool Picture(std::initializer_list<HWND> windows, const std::string& name)
    {
        RECT all = {};
        for (HWND w : windows) {
            RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
            const RECT r = WindowRect(w);
            UnionRect(&all, &all, &r);
        }
        GdiFlush();
        // The runs with the decimal comma keep pictures of their own.
        const std::string path = ArtifactPath((ExpectedDecimalSeparator() == ',' ? "comma-" : "") + name);
        wchar_t wide[MAX_PATH] = L"";
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
        return SaveScreenRect(all, wide);
    }

private:
    TLoopSteps steps_;
    std::unique_ptr<TLoopWatchdog> watchdog_;
    TNoAnimation noAnimation_;
    TDkSystemChecks* checks_ = nullptr;
    TDkSoundPlayer sound_ = nullptr;
};

// The mouse comes over Send or Erase with a value still in its edit: the edit is left as
// for a button taking the focus (its value encoded into the grid) and the guidance shows.
// A floating toolbar's window cannot keep the focus: the edit runs its exit step in place.
TEST_F(Toolbar, TheMouseOverSendOrEraseLeavesTheEditAndExplains)
{
    StartInFront();
    const struct {
        const char* what;
        TDkItem* TMOXLoadForm::*item;
        const char* hint;
        TNumEdit* TMOXLoadForm::*edit;
        const char* typed;
        int row;
        const char* encoded;
        bool floating;
    } cases[] = {
        {"Send", &TMOXLoadForm::DkItem4, SendHintStart, &TMOXLoadForm::NumEdit1, "0.25", 5, "0.2", false},
        {"Erase", &TMOXLoadForm::DkItem8, EraseHintStart, &TMOXLoadForm::NumEdit2, "5", 4, "5", false},
        {"Send, floating", &TMOXLoadForm::DkItem4, SendHintStart, &TMOXLoadForm::NumEdit1, "3", 5, "3", true},
        {"Erase, floating", &TMOXLoadForm::DkItem8, EraseHintStart, &TMOXLoadForm::NumEdit2, "7", 4, "7", true},
    };
    for (const auto& c : cases) {
        if (c.floating && !form->DkToolbar1->Floating()) {
            form->DkToolbar1->SetFloating(true);
            PumpPending();
            ASSERT_TRUE(form->DkToolbar1->Floating());
            ASSERT_TRUE(PumpUntil([&] { return GetActiveWindow() == form->Handle(); })) << "the window keeps the activation";
        }
        TNumEdit* edit = form->*c.edit;
        edit->SetFocus();
        PumpPending();
        edit->SetText(Local(c.typed));
        ASSERT_NE(form->ProgramStrGrd->Cells(1, c.row), Local(c.encoded)) << c.what;
        ASSERT_TRUE(MoveScreen(CentreOfItem(form->*c.item))) << c.what;
        EXPECT_TRUE(PumpUntil([&] { return form->memHints->Text().rfind(c.hint, 0) == 0; })) << c.what;
        EXPECT_EQ(form->DkToolbar1->Focused(), !c.floating) << c.what;
        EXPECT_EQ(edit->Focused(), c.floating) << c.what;
        EXPECT_EQ(form->ProgramStrGrd->Cells(1, c.row), Local(c.encoded)) << c.what;
    }
    EXPECT_TRUE(sink.Requests.empty()) << sink.Requests[0].Text;
}

// A target typed with real keys and not yet left, then Send clicked on the toolbar: the
// instrument gets the typed target in the PGM line.
TEST_F(Toolbar, SendClickedWhileATargetIsTypedSendsTheTypedTarget)
{
    StartInFront();
    SetName("TYPED");
    TNumEdit* target = form->nedt_targetval;
    ASSERT_TRUE(ClickAt(target));
    ASSERT_TRUE(PumpUntil([&] { return target->Focused(); }));
    target->SelectAll();
    ASSERT_TRUE(PressKeys({'4'}));
    ASSERT_TRUE(PressKeys({'2'}));
    ASSERT_TRUE(PumpUntil([&] { return target->Text().rfind("42", 0) == 0; })) << target->Text();
    EXPECT_EQ(form->Test().PGM(), DefaultPGM) << "typed, not yet encoded";
    TTestModel typed(0);
    typed.Encode(nfTarget, "42");
    ASSERT_NE(typed.PGM(), DefaultPGM);
    const std::string expected = "TXTHOST0\rTXTNAME00TYPED\r" + typed.PGM() + "\r";
    ASSERT_TRUE(ClickScreen(CentreOfItem(form->DkItem4), form->DkToolbar1->Handle()));
    EXPECT_TRUE(PumpUntil([&] { return Transcript() == expected; }, 10000)) << Transcript();
    EXPECT_EQ(form->memHints->Text(), "Done");
    EXPECT_FALSE(TLoopWatchdog::Fired());
    EXPECT_TRUE(sink.Requests.empty()) << sink.Requests[0].Text;
}

// The window narrowed until Erase Test goes into the chevron; the chevron opened and Erase
// Test picked in its popup, all with the mouse: the erase goes out as from the button.
TEST_F(Toolbar, EraseTestPickedFromTheChevronRunsTheErase)
{
    StartInFront();
    TDkView* view = form->DkToolbar1->View();
    int width = form->Width();
    while (!ViewerOf(form->DkItem8)->OffEdge && width > 120) {
        width -= 8;
        form->SetWidth(width);
        PumpPending();
    }
    ASSERT_TRUE(ViewerOf(form->DkItem8)->OffEdge) << "at width " << width;
    EXPECT_TRUE(ViewerOf(form->ExitItem)->OffEdge) << "the items behind it went first";
    EXPECT_FALSE(ViewerOf(form->DkItem4)->OffEdge);
    TDkItemViewer* chevron = ViewerOf(form->DkToolbar1->ChevronItem());
    ASSERT_TRUE(chevron && chevron->Show);
    EXPECT_TRUE(form->DkToolbar1->ChevronItem()->Enabled());

    bool picked = false, pictured = false;
    form->DkToolbar1->ChevronItem()->OnPopup = [&](TDkCustomItem*, bool) {
        NextStep([&] {
            TDkPopupWindow* popup = view->OpenPopup();
            ASSERT_TRUE(popup);
            TDkItemViewer* erase = popup->View()->Find(form->DkItem8);
            ASSERT_TRUE(erase && erase->Show);
            EXPECT_FALSE(popup->View()->Find(form->DkItem4)->Show) << "only what went off the edge";
            pictured = Picture({form->Handle(), popup->Handle()}, "tavrin-toolbar-chevron.bmp");
            picked = ClickScreen(CentreOf(erase->ScreenBounds()), popup->Handle());
            EXPECT_TRUE(picked);
        });
    };
    ASSERT_TRUE(ClickScreen(CentreOf(chevron->ScreenBounds()), form->DkToolbar1->Handle()));
    EXPECT_TRUE(PumpUntil([&] { return Transcript() == EraseTranscript; }, 10000)) << Transcript();
    EXPECT_TRUE(picked);
    EXPECT_TRUE(pictured);
    EXPECT_EQ(form->memHints->Text(), "Test no. 0 erased");
    EXPECT_EQ(view->OpenPopup(), nullptr);
    EXPECT_FALSE(TLoopWatchdog::Fired());
    EXPECT_TRUE(sink.Requests.empty()) << sink.Requests[0].Text;
}

// Docked: one row over the window's controls, every item shown at the window's own width.
// Floating: its own small window, with the boxes; docked again, in its row once more.
TEST_F(Toolbar, DockedAndFloatingAsTheScreenShowsThem)
{
    StartInFront();
    TDkDock* dock = form->DkDock1;
    EXPECT_EQ(form->DkToolbar1->CurrentDock(), dock);
    EXPECT_EQ(dock->Top(), 0);
    EXPECT_EQ(dock->Width(), form->ClientWidth());
    TDkCustomItem* const items[] = {form->OpenItem,     form->SaveItem,        form->ComPortLblItem,
                                    form->ComPortItem,  form->LoadCellLblItem, form->LoadCellItem,
                                    form->DkItem4,      form->DkItem8,         form->ExitItem};
    for (int i = 0; i < static_cast<int>(std::size(items)); ++i)
        EXPECT_TRUE(ViewerOf(items[i])->Show && !ViewerOf(items[i])->OffEdge) << "item " << i;
    EXPECT_FALSE(ViewerOf(form->DkToolbar1->ChevronItem())->Show);
    // Below the dock, nothing hidden by it; the grid still clear of the status bar.
    TControl* const below[] = {form->ModeGrp, form->TestTypeLbl, form->cb_testtype, form->memHints};
    for (TControl* c : below) EXPECT_GE(c->Top(), dock->Height()) << c->Name();
    EXPECT_LE(form->ProgramStrGrd->Top() + form->ProgramStrGrd->Height(), form->StatusBar1->Top());
    EXPECT_EQ(form->ClientWidth(), 664);
    EXPECT_EQ(form->ClientHeight(), 478);
    EXPECT_TRUE(Picture({form->Handle()}, "tavrin-toolbar.bmp"));

    // Floating just above the window, as a user would drag it out.
    const RECT window = WindowRect(form->Handle());
    form->DkToolbar1->SetFloatingPosition({window.left, window.top - 60});
    form->DkToolbar1->SetFloating(true);
    PumpPending();
    TDkFloatingWindowParent* floating = form->DkToolbar1->FloatingParent();
    ASSERT_TRUE(floating);
    EXPECT_TRUE(IsWindowVisible(floating->Handle()));
    EXPECT_EQ(GetAncestor(form->ComPortCb->Handle(), GA_ROOT), floating->Handle());
    EXPECT_TRUE(ViewerOf(form->DkItem8)->Show);
    // The boxes work where they are: NONE closes the port, as from the docked toolbar.
    form->ComPortCb->SetItemIndex(0);
    form->ComPortCb->OnChange(form->ComPortCb);
    EXPECT_FALSE(form->DkItem4->Enabled());
    EXPECT_TRUE(Picture({form->Handle(), floating->Handle()}, "tavrin-toolbar-floating.bmp"));

    form->DkToolbar1->SetCurrentDock(dock);
    PumpPending();
    EXPECT_FALSE(form->DkToolbar1->Floating());
    EXPECT_EQ(GetAncestor(form->ComPortCb->Handle(), GA_ROOT), form->Handle());
    EXPECT_TRUE(sink.Requests.empty()) << sink.Requests[0].Text;
}

}  // namespace
