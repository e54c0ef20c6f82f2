// The menu loop with real input on a shown form: a toolbar view in a control of the test's
// own, whose paint draws the viewers and whose left button-down runs the loop. Keys are
// queued before a loop starts; what has to happen later inside a loop is driven by steps
// that the loop's own events post. A watchdog timer takes the capture away should a loop
// never end, which ends it.
#include "DkCommon.h"
#include "DkPopup.h"
#include "DkView.h"

#include "Barrier.h"
#include "Forms.h"
#include "GuiSupport.h"
#include "ItemTestSupport.h"
#include "UtilWindow.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The view's window: it paints the viewers; the fixture gives it its button-down.
class THost : public TCustomControl {
public:
    explicit THost(TComponent* owner) : TCustomControl(owner) {}
    TDkView* View = nullptr;

protected:
    void Paint() override
    {
        if (View) View->DrawSubitems(Canvas().Handle());
    }
};

// A second window of the form that counts its button-downs.
class TRecorder : public TCustomControl {
public:
    explicit TRecorder(TComponent* owner) : TCustomControl(owner) {}
    int Downs = 0;
    void WndProc(TMessage& m) override
    {
        if (m.Msg == WM_LBUTTONDOWN) ++Downs;
        TCustomControl::WndProc(m);
    }
};

// Popups show at once, whatever the system's menu animation setting is.
class TNoAnimation : public TDkSystemChecks {
public:
    bool MenuAnimation() override { return false; }
    bool MenuFade() override { return false; }
};

// Each key pressed and let go before the next, as typed.
testing::AssertionResult PressInTurn(const std::vector<WORD>& keys)
{
    for (WORD key : keys) {
        testing::AssertionResult pressed = PressKeys({key});
        if (!pressed) return pressed;
    }
    return testing::AssertionSuccess();
}

// Items A, B, C in a column; which of them a click reached.
struct TColumn {
    TDkItem* Items[3] = {};
    std::vector<std::string> Clicked;
};

class MenuLoop : public testing::Test {
protected:
    void SetUp() override
    {
        sound_ = SetDkSoundPlayer([](const char*) {});
        checks_ = SetDkSystem(&noAnimation_);
        form = new TForm(Application);
        form->SetCaption("Menu loop");
        form->SetBounds(100, 100, 420, 320);
        host = new THost(form);
        host->SetParent(form);
        host->SetBounds(10, 10, 300, 30);
        other = new TRecorder(form);
        other->SetParent(form);
        other->SetBounds(10, 200, 200, 60);
        // Away from every window: a window appearing under the cursor would move the selection.
        ASSERT_TRUE(ParkPointer());
        watchdog_ = std::make_unique<TLoopWatchdog>(15000);
    }

    void TearDown() override
    {
        watchdog_.reset();
        view.reset();
        root.Clear();
        delete form;
        PumpPending();
        SetDkSoundPlayer(sound_);
        SetDkSystem(checks_);
    }

    // Builds the view over the root's items, sizes the host to it and brings the form up.
    void ShowView(TDkViewOrientation orientation)
    {
        view = std::make_unique<TDkToolbarView>(nullptr, nullptr, host, &root, nullptr, true, false, false);
        view->Orientation = orientation;
        host->View = view.get();
        host->OnMouseDown = [this](TObject*, TMouseButton button, TShiftState, int, int) {
            if (button != mbLeft) return;
            POINT cursor;
            GetCursorPos(&cursor);
            view->UpdateCursorPos(cursor);
            if (!view->Selected()) return;
            TDkLoopResult result;
            ++loopsRun;
            view->RunMenuLoop(true, false, result, false);
            view->Select(nullptr, false);
            CarryOutLoopResult(result);
        };
        view->UpdatePositions();
        host->SetBounds(10, 10, view->TotalSize().x, view->TotalSize().y);
        form->Show();
        const HWND window = form->Handle();
        SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
        SetForegroundWindow(window);
        ASSERT_TRUE(PumpUntil([&] { return GetForegroundWindow() == window && GetActiveWindow() == window; }));
        PumpPending();
    }

    template <class T = TDkItem>
    T* Add(TDkCustomItem* parent, const std::string& caption)
    {
        T* item = new T(nullptr);
        item->SetCaption(caption);
        parent->Add(item);
        return item;
    }

    // Adds A, B and C to `parent`.
    void MakeColumn(TColumn& column, TDkCustomItem* parent)
    {
        static const char* const captions[] = {"A", "B", "C"};
        for (int i = 0; i < 3; ++i) {
            column.Items[i] = Add(parent, captions[i]);
            column.Items[i]->OnClick = [&column, i](TObject*) { column.Clicked.push_back(captions[i]); };
        }
    }

    // Runs the loop in keyboard mode from the first item, as the menu key would; the loop
    // has to end by itself, not by the watchdog.
    TDkLoopResult RunFromKeyboard()
    {
        TDkLoopResult result;
        view->Select(view->FirstSelectable(false), false);
        view->RunMenuLoop(false, true, result, false);
        EXPECT_FALSE(TLoopWatchdog::Fired());
        return result;
    }

    void NextStep() { steps.Post(); }

    TDkRootItem root{nullptr};
    std::unique_ptr<TDkView> view;
    TForm* form = nullptr;
    THost* host = nullptr;
    TRecorder* other = nullptr;
    TLoopSteps steps;
    int loopsRun = 0;

private:
    std::unique_ptr<TLoopWatchdog> watchdog_;
    TDkSoundPlayer sound_ = nullptr;
    TNoAnimation noAnimation_;
    TDkSystemChecks* checks_ = nullptr;
};

TEST_F(MenuLoop, DownDownEnterInAVerticalToolbarClicksTheThirdItem)
{
    TColumn column;
    MakeColumn(column, &root);
    ShowView(dkvoVertical);
    ASSERT_TRUE(PressInTurn({VK_DOWN, VK_DOWN, VK_RETURN}));
    const TDkLoopResult result = RunFromKeyboard();
    EXPECT_EQ(result.Kind, dklrClick);
    EXPECT_EQ(result.Item, column.Items[2]);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(view->State & dkvsModal, 0);
    CarryOutLoopResult(result);
    EXPECT_TRUE(PumpUntil([&] { return !column.Clicked.empty(); }));
    EXPECT_EQ(column.Clicked, (std::vector<std::string>{"C"}));
}

TEST_F(MenuLoop, DownDownEnterInASubMenuClicksItsThirdItem)
{
    auto* file = Add<TSubmenuItem>(&root, "&File");
    Add(&root, "&Edit");
    TColumn column;
    MakeColumn(column, file);
    int popups = 0;
    file->OnPopup = [&](TDkCustomItem*, bool) { ++popups; };
    ShowView(dkvoHorizontal);
    // The menu opens with its first item selected; Down twice reaches the third.
    ASSERT_TRUE(PressInTurn({VK_DOWN, VK_DOWN, VK_RETURN}));
    const TDkLoopResult result = RunFromKeyboard();
    EXPECT_EQ(popups, 1);
    EXPECT_EQ(result.Kind, dklrClick);
    EXPECT_EQ(result.Item, column.Items[2]);
    EXPECT_EQ(view->OpenPopup(), nullptr);  // the loop's end closed it
    EXPECT_EQ(GetCapture(), nullptr);
}

// A menu bar: File (Open, Save, a disabled Gone), Edit, Help (About). The loop starts
// from the keyboard on File, whose menu opens with Open selected.
TEST_F(MenuLoop, KeysOfTheLoopByTheTable)
{
    const struct {
        const char* Name;
        std::vector<WORD> Keys;
        TDkLoopResultKind Kind;
        const char* Item;  // caption of the result's item
        char Char = 0;
    } cases[] = {
        {"an accelerator typed in the menu presses its item", {'S'}, dklrClick, "&Save"},
        {"Tab moves on like Down", {VK_TAB, VK_RETURN}, dklrClick, "&Save"},
        {"End then Up", {VK_END, VK_UP, VK_RETURN}, dklrClick, "&Save"},
        {"Home", {VK_DOWN, VK_HOME, VK_RETURN}, dklrClick, "&Open"},
        {"Up wraps round to the last item", {VK_UP, VK_UP, VK_RETURN}, dklrClick, "&Save"},
        {"Enter on a disabled item ends the loop without a click", {VK_UP, VK_RETURN}, dklrNone, ""},
        {"Right in the menu moves to the next menu-bar item", {VK_RIGHT, VK_RETURN}, dklrClick, "&Edit"},
        {"Right again opens the next menu, in keyboard mode", {VK_RIGHT, VK_RIGHT, VK_RETURN}, dklrClick, "&About"},
        {"Left from the first menu goes round to the last", {VK_LEFT, VK_RETURN}, dklrClick, "&About"},
        {"F1 asks for help on the selected item", {VK_DOWN, VK_F1}, dklrHelp, "&Save"},
        {"Alt ends the loop", {VK_MENU}, dklrNone, ""},
        {"a space typed to the menu bar asks for the system menu", {VK_ESCAPE, VK_SPACE}, dklrSysKeyMenu, "", ' '},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        view.reset();
        root.Clear();
        auto* file = Add<TSubmenuItem>(&root, "&File");
        Add(file, "&Open");
        Add(file, "&Save");
        Add(file, "&Gone")->SetEnabled(false);
        Add(&root, "&Edit");
        auto* help = Add<TSubmenuItem>(&root, "&Help");
        Add(help, "&About");
        ShowView(dkvoHorizontal);
        ASSERT_TRUE(PressInTurn(c.Keys));
        const TDkLoopResult result = RunFromKeyboard();
        EXPECT_EQ(result.Kind, c.Kind);
        EXPECT_EQ(result.Item ? result.Item->Caption() : std::string(), c.Item);
        EXPECT_EQ(result.Char, c.Char);
        if (c.Kind == dklrSysKeyMenu) {
            EXPECT_EQ(result.Window, form->Handle());
        }
        EXPECT_EQ(view->OpenPopup(), nullptr);
        EXPECT_EQ(GetCapture(), nullptr);
        PumpPending();  // what the loop left of the keys
    }
}

TEST_F(MenuLoop, EscapeClosesOneLevelAndTheLoopGoesOn)
{
    auto* file = Add<TSubmenuItem>(&root, "&File");
    Add(file, "Open");
    Add(file, "Save");
    Add(&root, "&Edit");
    std::vector<bool> openAtPopup;  // whether a popup was still open when the next one was asked for
    file->OnPopup = [&](TDkCustomItem*, bool) { openAtPopup.push_back(view->OpenPopup() != nullptr); };
    ShowView(dkvoHorizontal);
    // Escape closes the menu; Down opens it again, so the loop was still running; Escape
    // closes it once more and the last Escape ends the loop.
    ASSERT_TRUE(PressInTurn({VK_ESCAPE, VK_DOWN, VK_ESCAPE, VK_ESCAPE}));
    const TDkLoopResult result = RunFromKeyboard();
    EXPECT_EQ(openAtPopup, (std::vector<bool>{false, false}));
    EXPECT_EQ(result.Kind, dklrNone);
    EXPECT_EQ(view->OpenPopup(), nullptr);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(view->State & (dkvsModal | dkvsKeyboardMode), 0);
}

TEST_F(MenuLoop, AClickOutsideEndsTheLoopAndReachesTheWindowClicked)
{
    auto* file = Add<TSubmenuItem>(&root, "&File");
    Add(file, "Open");
    Add(&root, "&Edit");
    ShowView(dkvoHorizontal);
    RECT r;
    GetWindowRect(other->Handle(), &r);
    // Sent once the menu is open, from inside the loop.
    file->OnPopup = [&](TDkCustomItem*, bool) {
        steps.Add([&] { EXPECT_TRUE(ClickScreen(CentreOf(r), other->Handle())); });
        NextStep();
    };
    const TDkLoopResult result = RunFromKeyboard();
    EXPECT_EQ(result.Kind, dklrNone);
    EXPECT_EQ(view->OpenPopup(), nullptr);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(other->Downs, 0);  // still queued when the loop ended
    EXPECT_TRUE(PumpUntil([&] { return other->Downs == 1; }));
}

TEST_F(MenuLoop, AClickOnAToolbarItemOpensItsMenuAndAClickInTheMenuRunsTheItem)
{
    auto* file = Add<TSubmenuItem>(&root, "&File");
    Add(file, "Open");
    TDkItem* save = Add(file, "Save");
    Add(&root, "&Edit");
    bool saved = false;
    save->OnClick = [&](TObject*) { saved = true; };
    ShowView(dkvoHorizontal);
    file->OnPopup = [&](TDkCustomItem*, bool) {
        steps.Add([&] {
            TDkView* menu = view->OpenView();
            ASSERT_NE(menu, nullptr);
            TDkItemViewer* viewer = menu->Find(save);
            ASSERT_NE(viewer, nullptr);
            EXPECT_TRUE(ClickScreen(CentreOf(viewer->ScreenBounds()), menu->Window()->Handle()));
        });
        NextStep();
    };
    ASSERT_TRUE(ClickScreen(CentreOf(view->Find(file)->ScreenBounds()), host->Handle()));
    EXPECT_TRUE(PumpUntil([&] { return saved || TLoopWatchdog::Fired(); }, 20000));
    EXPECT_TRUE(saved);
    EXPECT_FALSE(TLoopWatchdog::Fired());
    EXPECT_EQ(loopsRun, 1);
    EXPECT_EQ(view->OpenPopup(), nullptr);
    EXPECT_EQ(GetCapture(), nullptr);
}

// The hovering cases start from the keyboard: a move is not followed by the late echo of
// an earlier click's move, which would take the cursor back (see MouseInputAt).
TEST_F(MenuLoop, MovingAlongTheToolbarWhileAMenuIsOpenOpensTheNextMenu)
{
    auto* file = Add<TSubmenuItem>(&root, "&File");
    Add(file, "Open");
    auto* edit = Add<TSubmenuItem>(&root, "&Edit");
    Add(edit, "Cut");
    TDkItem* undo = Add(edit, "Undo");
    ShowView(dkvoHorizontal);
    file->OnPopup = [&](TDkCustomItem*, bool) {
        steps.Add([&] { EXPECT_TRUE(MoveScreen(CentreOf(view->Find(edit)->ScreenBounds()))); });
        NextStep();
    };
    edit->OnPopup = [&](TDkCustomItem*, bool) {
        steps.Add([&] {
            EXPECT_EQ(view->Selected(), view->Find(edit));
            TDkView* menu = view->OpenView();
            ASSERT_NE(menu, nullptr);
            EXPECT_EQ(menu->ParentItem(), edit);
            EXPECT_EQ(menu->Selected(), nullptr);  // opened by the mouse: nothing selected
            EXPECT_TRUE(ClickScreen(CentreOf(menu->Find(undo)->ScreenBounds()), menu->Window()->Handle()));
        });
        NextStep();
    };
    const TDkLoopResult result = RunFromKeyboard();
    EXPECT_EQ(result.Kind, dklrClick);
    EXPECT_EQ(result.Item, undo);
    EXPECT_EQ(view->OpenPopup(), nullptr);
}

TEST_F(MenuLoop, RestingOnASubMenuItemOpensItsMenuAfterTheShowDelay)
{
    auto* file = Add<TSubmenuItem>(&root, "&File");
    Add(file, "Open");
    auto* recent = Add<TSubmenuItem>(file, "Recent");
    TDkItem* doc = Add(recent, "Doc");
    Add(&root, "&Edit");
    ShowView(dkvoHorizontal);
    file->OnPopup = [&](TDkCustomItem*, bool) {
        steps.Add([&] {
            TDkView* menu = view->OpenView();
            ASSERT_NE(menu, nullptr);
            EXPECT_TRUE(MoveScreen(CentreOf(menu->Find(recent)->ScreenBounds())));
        });
        NextStep();
    };
    recent->OnPopup = [&](TDkCustomItem*, bool) {
        steps.Add([&] {
            TDkView* menu = view->OpenView();
            ASSERT_NE(menu, nullptr);
            TDkView* sub = menu->OpenView();
            ASSERT_NE(sub, nullptr);
            EXPECT_EQ(menu->Selected(), menu->Find(recent));
            EXPECT_TRUE(ClickScreen(CentreOf(sub->Find(doc)->ScreenBounds()), sub->Window()->Handle()));
        });
        NextStep();
    };
    const TDkLoopResult result = RunFromKeyboard();
    EXPECT_EQ(result.Kind, dklrClick);
    EXPECT_EQ(result.Item, doc);
    EXPECT_EQ(view->OpenPopup(), nullptr);
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(MenuLoop, AHandlerThatThrowsStillEndsTheLoopCleanly)
{
    const struct {
        const char* Name;
        bool SubMenu;
    } cases[] = {
        {"in the toolbar itself", false},
        {"in an open sub-menu", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        root.Clear();
        view.reset();
        TDkCustomItem* parent = &root;
        if (c.SubMenu) parent = Add<TSubmenuItem>(&root, "&File");
        Add(parent, "A");
        TDkItem* b = Add(parent, "B");
        b->OnSelect = [](TDkCustomItem*, TDkItemViewer*, bool selecting) {
            if (selecting) throw std::runtime_error("selected B");
        };
        ShowView(c.SubMenu ? dkvoHorizontal : dkvoVertical);
        ASSERT_TRUE(PressKeys({VK_DOWN}));
        EXPECT_THROW(RunFromKeyboard(), std::runtime_error);
        EXPECT_FALSE(TLoopWatchdog::Fired());
        EXPECT_EQ(GetCapture(), nullptr);
        EXPECT_EQ(view->State & dkvsModal, 0);
        EXPECT_EQ(view->OpenPopup(), nullptr);
        b->OnSelect = nullptr;
        PumpPending();
    }
}

// A loop run from inside another (a handler that opens a menu of its own) gives the outer
// loop its capture back when it ends, so the outer one goes on.
TEST_F(MenuLoop, ALoopInsideAnotherGivesTheCaptureBack)
{
    TColumn column;
    MakeColumn(column, &root);
    auto* innerHost = new THost(form);
    innerHost->SetParent(form);
    innerHost->SetBounds(250, 10, 100, 30);
    TDkRootItem innerRoot(nullptr);
    Add(&innerRoot, "X");
    TDkToolbarView inner(nullptr, nullptr, innerHost, &innerRoot, nullptr, true, false, false);
    inner.UpdatePositions();
    innerHost->View = &inner;
    bool innerRan = false;
    HWND captureInside = nullptr;
    column.Items[1]->OnSelect = [&](TDkCustomItem*, TDkItemViewer*, bool selecting) {
        if (!selecting || innerRan) return;
        innerRan = true;
        TDkLoopResult innerResult;
        inner.Select(inner.FirstSelectable(false), false);
        inner.RunMenuLoop(false, true, innerResult, false);  // ended by the Escape
        captureInside = GetCapture();
    };
    ShowView(dkvoVertical);
    ASSERT_TRUE(PressInTurn({VK_DOWN, VK_ESCAPE, VK_DOWN, VK_RETURN}));
    const TDkLoopResult result = RunFromKeyboard();
    EXPECT_TRUE(innerRan);
    EXPECT_EQ(captureInside, host->Handle());
    EXPECT_EQ(result.Kind, dklrClick);
    EXPECT_EQ(result.Item, column.Items[2]);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(inner.State & dkvsModal, 0);
    column.Items[1]->OnSelect = nullptr;
    innerRoot.Clear();
}

TEST_F(MenuLoop, AQuitPostedDuringTheLoopEndsItAndSurvivesIt)
{
    TColumn column;
    MakeColumn(column, &root);
    column.Items[1]->OnSelect = [](TDkCustomItem*, TDkItemViewer*, bool selecting) {
        if (selecting) PostQuitMessage(7);
    };
    ShowView(dkvoVertical);
    ASSERT_TRUE(PressInTurn({VK_DOWN, VK_RETURN}));
    const TDkLoopResult result = RunFromKeyboard();
    EXPECT_EQ(result.Kind, dklrNone);  // the loop ended before the Enter
    EXPECT_EQ(GetCapture(), nullptr);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 7u);
    column.Items[1]->OnSelect = nullptr;
}

}  // namespace
