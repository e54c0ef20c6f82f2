// The toolbar on a shown form, with real input: a top dock holding a toolbar of five items.
// What has to happen inside a menu loop is driven by steps that the loop's own events post;
// a watchdog takes the capture away should a loop never end, which ends it.
#include "DkToolbar.h"

#include "Barrier.h"
#include "DkCommon.h"
#include "DkPopup.h"
#include "Forms.h"
#include "GuiSupport.h"
#include "ImageTestSupport.h"
#include "ItemTestSupport.h"
#include "StdCtrls.h"
#include "UtilWindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

// Popups show at once, and underlines show only where the library shows them itself.
class TTestChecks : public TDkSystemChecks {
public:
    bool MenuAnimation() override { return false; }
    bool MenuFade() override { return false; }
    bool KeyboardCuesAlwaysShown() override { return false; }
};

// Paints what waits to be painted now, before a screenshot; the wait that does not wait
// hands what was drawn to the screen (Wine keeps it in the window's surface until then).
void PaintNow(HWND window)
{
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
    MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, 0);
}

const char* const Captions[] = {"&Open", "&Save", "Pri&nt", "Sen&d", "&Erase"};
const char* const Hints[] = {"Open|Opens a file", "Save|Saves the file", "Print|Prints it", "Send|Sends the test",
                             "Erase|Erases the test"};

// Tells the test where a resize has got to.
class TTracedToolbar : public TDkToolbar {
public:
    using TDkToolbar::TDkToolbar;
    std::function<void(int edge)> OnSizingBegins;
    std::function<void()> OnSizingStep;
    void SizingBegins(int edge) override
    {
        TDkToolbar::SizingBegins(edge);
        if (OnSizingBegins) OnSizingBegins(edge);
    }
    void AdjustSizingRect(RECT& rect, int edge) override
    {
        TDkToolbar::AdjustSizingRect(rect, edge);
        if (OnSizingStep) OnSizingStep();
    }
};

// A viewer with a cursor of its own, as a link-like item would have.
class THandViewer : public TDkItemViewer {
public:
    using TDkItemViewer::TDkItemViewer;
    bool GetCursor(POINT, HCURSOR& cursor) override
    {
        cursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_HAND));
        return true;
    }
    static TDkItemViewer* Create(TDkView* view, TDkCustomItem* item)
    {
        auto* viewer = new THandViewer(view, item);
        viewer->ViewerClass = &THandViewer::Create;
        return viewer;
    }
};

class THandItem : public TDkItem {
public:
    using TDkItem::TDkItem;
    TDkItemViewerClass GetItemViewerClass(TDkView*) const override { return &THandViewer::Create; }
};

class ToolbarWindow : public testing::Test {
protected:
    void SetUp() override
    {
        sound_ = SetDkSoundPlayer([](const char*) {});
        checks_ = SetDkSystem(&checks);
        mainForm_ = Application->MainForm;
        form = new TForm(Application);
        form->SetCaption("Toolbar test");
        form->SetBounds(100, 100, 560, 240);
        dock = new TDkDock(form);
        dock->SetParent(form);
        toolbar = new TTracedToolbar(form);
        toolbar->SetName("MainBar");
        for (int i = 0; i < 5; ++i) {
            items[i] = new TDkItem(form);
            items[i]->SetCaption(Captions[i]);
            items[i]->SetHint(Hints[i]);
            items[i]->OnClick = [this, i](TObject*) { clicked.push_back(Captions[i]); };
            toolbar->Items()->Add(items[i]);
        }
        toolbar->SetParent(dock);
        edit = new TEdit(form);
        edit->SetParent(form);
        edit->SetBounds(10, 150, 120, 22);
        // Away from every window: a window appearing under the cursor would move the selection.
        ASSERT_TRUE(ParkPointer());
        watchdog_ = std::make_unique<TLoopWatchdog>(15000);
    }

    void TearDown() override
    {
        watchdog_.reset();
        EXPECT_FALSE(TLoopWatchdog::Fired());
        Application->MainForm = mainForm_;
        delete form;
        PumpPending();
        SetDkSoundPlayer(sound_);
        SetDkSystem(checks_);
    }

    void ShowForm()
    {
        form->Show();
        const HWND window = form->Handle();
        SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
        SetForegroundWindow(window);
        ASSERT_TRUE(PumpUntil([&] { return GetForegroundWindow() == window && GetActiveWindow() == window; }));
        PumpPending();
    }

    // The toolbar floating in its own window, shown.
    void ShowFloating()
    {
        toolbar->SetFloating(true);
        ASSERT_TRUE(PumpUntil([&] { return toolbar->Floating() && toolbar->FloatingParent() &&
                                           IsWindowVisible(toolbar->FloatingParent()->Handle()); }));
        PumpPending();
    }

    TDkView* View() const { return toolbar->View(); }
    TDkItemViewer* ViewerOf(TDkCustomItem* item) const { return View()->Find(item); }
    TDkItemViewer* Chevron() const { return View()->Find(toolbar->ChevronItem()); }
    void NextStep() { steps.Post(); }

    // The form narrowed until the chevron shows.
    void Narrow()
    {
        const int natural = toolbar->Width();
        form->SetClientSize(natural * 3 / 5, form->ClientHeight());
        ASSERT_TRUE(PumpUntil([&] { return Chevron() && Chevron()->Show; }));
        PumpPending();
    }

    std::vector<bool> OffEdge() const
    {
        std::vector<bool> flags;
        for (TDkItem* item : items) flags.push_back(ViewerOf(item)->OffEdge);
        return flags;
    }

    TTestChecks checks;
    TForm* form = nullptr;
    TDkDock* dock = nullptr;
    TTracedToolbar* toolbar = nullptr;
    TDkItem* items[5] = {};
    TEdit* edit = nullptr;
    std::vector<std::string> clicked;
    TLoopSteps steps;

private:
    std::unique_ptr<TLoopWatchdog> watchdog_;
    TDkSoundPlayer sound_ = nullptr;
    TDkSystemChecks* checks_ = nullptr;
    TCustomForm* mainForm_ = nullptr;
};

TEST_F(ToolbarWindow, ANewToolbarHasItsDefaults)
{
    TDkToolbar fresh(nullptr);
    EXPECT_EQ(fresh.Items()->ParentComponent(), &fresh);
    EXPECT_EQ(fresh.ChevronItem()->LinkSubitems(), fresh.Items());
    EXPECT_EQ(fresh.ChevronHint(), "More Buttons|");
    EXPECT_TRUE(fresh.ChevronMoveItems());
    EXPECT_TRUE(fresh.View()->UsePriorityList());
    EXPECT_TRUE(fresh.View()->IsToolbar);
    EXPECT_EQ(fresh.View()->Window(), &fresh);
    EXPECT_EQ(fresh.View()->ParentItem(), fresh.Items());
    EXPECT_EQ(fresh.View()->BackgroundColor, clBtnFace);
    EXPECT_EQ(fresh.ShrinkMode(), dksmChevron);
    EXPECT_TRUE(fresh.SystemFont());
    EXPECT_TRUE(fresh.UpdateActions);
    EXPECT_EQ(fresh.Color(), clBtnFace);
    EXPECT_EQ(fresh.DockableWindowStyles, 0);
    EXPECT_EQ(fresh.Width(), 23);
    EXPECT_EQ(fresh.Height(), 22);
    EXPECT_FALSE(fresh.MenuBar());
    EXPECT_FALSE(fresh.ProcessShortCuts());
    EXPECT_EQ(fresh.FloatingWidth(), 0);
    // Images, linked items and options are the root's.
    TDkItem linked(nullptr);
    fresh.SetLinkSubitems(&linked);
    EXPECT_EQ(fresh.Items()->LinkSubitems(), &linked);
    fresh.SetOptions(DkOption(dkoShowHint));
    EXPECT_EQ(fresh.Items()->Options(), DkOption(dkoShowHint));
    fresh.SetLinkSubitems(nullptr);
}

TEST_F(ToolbarWindow, DockedAtItsNaturalSizeEveryItemShows)
{
    ShowForm();
    ASSERT_TRUE(toolbar->Docked());
    const RECT client = toolbar->ClientRect();
    EXPECT_EQ(client.right, View()->BaseSize.x);
    EXPECT_EQ(client.bottom, View()->BaseSize.y);
    for (TDkItem* item : items) {
        SCOPED_TRACE(item->Caption());
        EXPECT_TRUE(ViewerOf(item)->Show);
        EXPECT_FALSE(ViewerOf(item)->OffEdge);
    }
    EXPECT_FALSE(Chevron()->Show);
    // Laid out left to right in order.
    for (int i = 1; i < 5; ++i) EXPECT_EQ(ViewerOf(items[i])->BoundsRect.left, ViewerOf(items[i - 1])->BoundsRect.right);
    EXPECT_GE(dock->Height(), toolbar->Height());
    PaintNow(form->Handle());
    EXPECT_TRUE(SaveScreenshot(form->Handle(), ArtifactPath("toolbar_docked.bmp")));
}

TEST_F(ToolbarWindow, ItsItemsArePaintedInTheirPlaces)
{
    ShowForm();
    const RECT client = toolbar->ClientRect();
    const COLORREF marker = RGB(1, 2, 3);
    TTestDib dib(client.right, client.bottom, marker);
    SendMessageA(toolbar->Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dib.DC()), PRF_CLIENT);
    const COLORREF text = GetSysColor(COLOR_BTNTEXT);
    for (TDkItem* item : items) {
        SCOPED_TRACE(item->Caption());
        const RECT r = ViewerOf(item)->BoundsRect;
        int textPixels = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                if (dib.Pixel(x, y) == text) ++textPixels;
        EXPECT_GT(textPixels, 0);
    }
}

TEST_F(ToolbarWindow, TheMinimumLengthIsTheItemKeptLastAndTheChevron)
{
    ShowForm();
    const SIZE nc = toolbar->NonClientSize();
    auto width = [&](TDkItem* item) { return static_cast<int>(ViewerOf(item)->BoundsRect.right - ViewerOf(item)->BoundsRect.left); };
    EXPECT_EQ(toolbar->GetMinimumLength(), width(items[0]) + nc.cx + 12);
    // The item the priority list keeps to the last.
    auto& list = View()->PriorityList();
    list.erase(std::find(list.begin(), list.end(), ViewerOf(items[3])));
    list.push_back(ViewerOf(items[3]));
    EXPECT_EQ(toolbar->GetMinimumLength(), width(items[3]) + nc.cx + 12);
    // Without the list, the first one in order.
    toolbar->SetChevronMoveItems(false);
    EXPECT_FALSE(View()->UsePriorityList());
    EXPECT_EQ(toolbar->GetMinimumLength(), width(items[0]) + nc.cx + 12);
}

TEST_F(ToolbarWindow, ANarrowFormPutsTheLastItemsIntoTheChevron)
{
    ShowForm();
    Narrow();
    const std::vector<bool> off = OffEdge();
    // The first items stay, from the first one hidden on all go.
    int firstOff = 0;
    while (firstOff < 5 && !off[firstOff]) ++firstOff;
    EXPECT_GE(firstOff, 2);
    EXPECT_LT(firstOff, 5);
    for (int i = firstOff; i < 5; ++i) {
        EXPECT_TRUE(off[i]) << i;
        EXPECT_FALSE(ViewerOf(items[i])->Show) << i;
    }
    EXPECT_TRUE(toolbar->ChevronItem()->Enabled());
    // The toolbar keeps within its dock.
    RECT dockClient;
    GetClientRect(dock->Handle(), &dockClient);
    EXPECT_LE(toolbar->Left() + toolbar->Width(), dockClient.right);
    // The chevron sits after the last item shown.
    EXPECT_GE(Chevron()->BoundsRect.left, ViewerOf(items[firstOff - 1])->BoundsRect.right);

    // Wide again, every item comes back.
    form->SetClientSize(toolbar->Width() * 3, form->ClientHeight());
    ASSERT_TRUE(PumpUntil([&] { return !Chevron()->Show; }));
    EXPECT_EQ(OffEdge(), std::vector<bool>(5, false));
}

TEST_F(ToolbarWindow, AnItemPickedInTheChevronsPopupRunsAndBecomesTheMostImportant)
{
    ShowForm();
    Narrow();
    const std::vector<bool> off = OffEdge();
    ASSERT_TRUE(off[4]);
    TDkItem* picked = items[4];
    bool listed = false;
    toolbar->ChevronItem()->OnPopup = [&](TDkCustomItem*, bool) {
        steps.Add([&] {
            TDkView* popupView = View()->OpenView();
            ASSERT_NE(popupView, nullptr);
            TDkItemViewer* there = popupView->Find(picked);
            ASSERT_NE(there, nullptr);
            listed = there->Show;
            // The hidden items are the popup's, the others not.
            for (int i = 0; i < 5; ++i) EXPECT_EQ(popupView->Find(items[i])->Show, off[i]) << i;
            RECT shot;
            GetWindowRect(form->Handle(), &shot);
            RECT popupRect;
            GetWindowRect(popupView->Window()->Handle(), &popupRect);
            UnionRect(&shot, &shot, &popupRect);
            PaintNow(form->Handle());
            PaintNow(popupView->Window()->Handle());
            EXPECT_TRUE(SaveScreenRect(shot, ArtifactFolder() + L"toolbar_chevron_popup.bmp"));
            EXPECT_TRUE(ClickScreen(CentreOf(there->ScreenBounds()), popupView->Window()->Handle()));
        });
        NextStep();
    };
    ASSERT_TRUE(ClickScreen(CentreOf(Chevron()->ScreenBounds()), toolbar->Handle()));
    ASSERT_TRUE(PumpUntil([&] { return !clicked.empty(); }));
    EXPECT_TRUE(listed);
    EXPECT_EQ(clicked, std::vector<std::string>{Captions[4]});
    EXPECT_EQ(View()->OpenPopup(), nullptr);
    EXPECT_EQ(GetCapture(), nullptr);
    // The item picked is the most important now: it shows, another one went.
    ASSERT_FALSE(View()->PriorityList().empty());
    EXPECT_EQ(View()->PriorityList().back(), ViewerOf(picked));
    EXPECT_TRUE(ViewerOf(picked)->Show);
    EXPECT_FALSE(ViewerOf(picked)->OffEdge);
    const std::vector<bool> after = OffEdge();
    EXPECT_NE(std::count(after.begin(), after.end(), true), 0);
}

TEST_F(ToolbarWindow, AClickOnAnItemRunsIt)
{
    ShowForm();
    ASSERT_TRUE(ClickScreen(CentreOf(ViewerOf(items[1])->ScreenBounds()), toolbar->Handle()));
    ASSERT_TRUE(PumpUntil([&] { return !clicked.empty(); }));
    EXPECT_EQ(clicked, std::vector<std::string>{Captions[1]});
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(View()->State & dkvsModal, 0);
}

TEST_F(ToolbarWindow, KeyboardOpeningByTheTable)
{
    auto* help = new TDkItem(form);
    help->SetCaption("Help");
    help->OnClick = [this](TObject*) { clicked.push_back("Help"); };
    toolbar->Items()->Add(help);
    auto* second = new TDkItem(form);
    second->SetCaption("&Options");  // shares O with Open
    toolbar->Items()->Add(second);
    ShowForm();
    const struct {
        const char* Name;
        bool MenuBar;
        char Key;
        bool PrimaryOnly;
        bool Disable;  // Erase disabled
        std::vector<WORD> Queued;  // keys the loop meets
        bool Result;
        std::vector<std::string> Clicked;
    } rows[] = {
        {"a unique accelerator clicks its item", false, 's', false, false, {}, true, {"&Save"}},
        {"regardless of case", false, 'S', false, false, {}, true, {"&Save"}},
        {"no match opens nothing", false, 'z', false, false, {}, false, {}},
        {"a disabled match opens nothing", false, 'e', false, true, {}, false, {}},
        {"a first letter counts when any accelerator may", false, 'h', false, false, {}, true, {"Help"}},
        {"a first letter does not when only accelerators count", false, 'h', true, false, {}, false, {}},
        {"two matches outside a menu bar open nothing", false, 'o', false, false, {}, false, {}},
        {"two matches in a menu bar select the first and wait", true, 'o', false, false, {VK_ESCAPE}, true, {}},
        {"a further key then chooses among them", true, 'o', false, false, {'O', 'O', VK_RETURN}, true, {"&Open"}},
        {"the menu key alone selects the first item", true, 0, false, false, {VK_RIGHT, VK_RETURN}, true, {"&Save"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        clicked.clear();
        toolbar->SetMenuBar(row.MenuBar);
        items[4]->SetEnabled(!row.Disable);
        for (WORD key : row.Queued) ASSERT_TRUE(PressKeys({key}));
        EXPECT_EQ(toolbar->KeyboardOpen(row.Key, row.PrimaryOnly), row.Result);
        EXPECT_TRUE(PumpUntil([&] { return clicked.size() >= row.Clicked.size(); }));
        PumpPending();
        EXPECT_EQ(clicked, row.Clicked);
        EXPECT_EQ(GetCapture(), nullptr);
        EXPECT_EQ(View()->Selected(), nullptr);
        EXPECT_EQ(View()->State & dkvsModal, 0);
    }
}

TEST_F(ToolbarWindow, KeyboardOpeningOpensASubMenuWithTheUnderlinesShown)
{
    auto* more = new TSubmenuItem(form);
    more->SetCaption("&More");
    for (const char* caption : {"Alpha", "Beta"}) {
        auto* sub = new TDkItem(form);
        sub->SetCaption(caption);
        sub->OnClick = [this, caption](TObject*) { clicked.push_back(caption); };
        more->Add(sub);
    }
    toolbar->Items()->Add(more);
    toolbar->SetMenuBar(true);
    ShowForm();
    EXPECT_FALSE(View()->ShowAccels());
    bool underlined = false;
    int popups = 0;
    more->OnPopup = [&](TDkCustomItem*, bool) {
        ++popups;
        underlined = View()->ShowAccels();
        steps.Add([] { EXPECT_TRUE(PressKeys({VK_DOWN})); EXPECT_TRUE(PressKeys({VK_RETURN})); });
        NextStep();
    };
    EXPECT_TRUE(toolbar->KeyboardOpen('m', false));
    EXPECT_EQ(popups, 1);
    EXPECT_TRUE(underlined);
    EXPECT_FALSE(View()->ShowAccels());
    ASSERT_TRUE(PumpUntil([&] { return !clicked.empty(); }));
    EXPECT_EQ(clicked, std::vector<std::string>{"Beta"});
}

// Alt and a letter with the focus in an edit: the system gives the edit the keyboard-menu
// command, its form the application's hooks, and the menu bar opens the item.
TEST_F(ToolbarWindow, AltAndALetterOpensAMenuBarsItem)
{
    toolbar->SetMenuBar(true);
    ShowForm();
    edit->SetFocus();
    ASSERT_TRUE(PumpUntil([&] { return edit->Focused(); }));
    bool underlinedAtAlt = false;
    items[1]->OnClick = [&](TObject*) { clicked.push_back(Captions[1]); };
    // The menu key alone shows the underlines before the letter comes.
    toolbar->OnShortCut = [&](TObject*, MSG& msg, bool&) {
        if (msg.wParam == 'S') underlinedAtAlt = View()->ShowAccels();
    };
    ASSERT_TRUE(PressKeys({VK_MENU, 'S'}));
    ASSERT_TRUE(PumpApplicationUntil([&] { return !clicked.empty(); }));
    PumpPending();
    EXPECT_TRUE(underlinedAtAlt);
    EXPECT_EQ(clicked, std::vector<std::string>{Captions[1]});
    EXPECT_FALSE(View()->ShowAccels());
    EXPECT_TRUE(edit->Focused());
}

// The menu key pressed and let go: the system gives the form the keyboard-menu command
// without a character, and the menu bar's loop takes the keys that follow.
TEST_F(ToolbarWindow, TheMenuKeyAloneEntersTheMenuBar)
{
    toolbar->SetMenuBar(true);
    ShowForm();
    edit->SetFocus();
    ASSERT_TRUE(PumpUntil([&] { return edit->Focused(); }));
    ASSERT_TRUE(PressKeys({VK_MENU}));
    ASSERT_TRUE(PressKeys({VK_RIGHT}));
    ASSERT_TRUE(PressKeys({VK_RETURN}));
    ASSERT_TRUE(PumpApplicationUntil([&] { return !clicked.empty(); }));
    EXPECT_EQ(clicked, std::vector<std::string>{Captions[1]});
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_FALSE(View()->ShowAccels());
}

// Not a menu bar, Alt and a letter reach the toolbar as a dialog character.
TEST_F(ToolbarWindow, AltAndALetterClicksAPlainToolbarsItem)
{
    ShowForm();
    edit->SetFocus();
    ASSERT_TRUE(PumpUntil([&] { return edit->Focused(); }));
    ASSERT_TRUE(PressKeys({VK_MENU, 'D'}));
    ASSERT_TRUE(PumpApplicationUntil([&] { return !clicked.empty(); }));
    EXPECT_EQ(clicked, std::vector<std::string>{Captions[3]});
}

// Windows that count the Alt+characters reaching them, and keep them from the system.
std::map<HWND, std::pair<WNDPROC, int>> charsSeen;

LRESULT CALLBACK CountingProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    auto& entry = charsSeen[w];
    if (m == WM_SYSCHAR) {
        ++entry.second;
        return 0;
    }
    return CallWindowProcA(entry.first, w, m, wp, lp);
}

// The main form's client window of an MDI frame: Alt and a letter typed there go to the
// menu bar before the system sees them.
TEST_F(ToolbarWindow, ACharacterForTheMainFormsClientWindowGoesToTheMenuBar)
{
    toolbar->SetMenuBar(true);
    Application->MainForm = form;
    ShowForm();
    CLIENTCREATESTRUCT create = {nullptr, 50000};
    const HWND client = CreateWindowExA(0, "MDICLIENT", nullptr, WS_CHILD | WS_VISIBLE, 200, 150, 100, 40,
                                        form->Handle(), nullptr, GetModuleHandleA(nullptr), &create);
    ASSERT_NE(client, nullptr);
    const HWND inside = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, client, nullptr,
                                        GetModuleHandleA(nullptr), nullptr);
    auto& seen = charsSeen;
    seen.clear();
    for (HWND w : {client, inside})
        seen[w].first =
            reinterpret_cast<WNDPROC>(SetWindowLongPtrA(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountingProc)));
    const struct {
        const char* Name;
        HWND Target;
        char Char;
        std::vector<std::string> Clicked;
        int CharsToTarget;
    } rows[] = {
        {"a letter for the client window", client, 's', {"&Save"}, 0},
        {"a hyphen for a window inside it", inside, '-', {}, 0},
        {"a letter for a window inside it stays there", inside, 's', {}, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        clicked.clear();
        seen[row.Target].second = 0;
        ASSERT_TRUE(PostMessageA(row.Target, WM_SYSCHAR, static_cast<unsigned char>(row.Char), 0x20000001));
        PumpPending();
        EXPECT_TRUE(PumpUntil([&] { return clicked.size() >= row.Clicked.size(); }));
        EXPECT_EQ(clicked, row.Clicked);
        EXPECT_EQ(seen[row.Target].second, row.CharsToTarget);
    }
    for (HWND w : {inside, client}) SetWindowLongPtrA(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(seen[w].first));
    DestroyWindow(client);
}

struct TShortCutTree {
    TSubmenuItem* More = nullptr;
    TDkItem* Before = nullptr;
    TDkItem* Deep = nullptr;
};

TEST_F(ToolbarWindow, TheShortCutSearchByTheTable)
{
    const TShortCut ctrlK = ShortCut('K', scCtrl);
    enum TPopupAction { paNone, paFreeSibling, paFreeTarget, paRebuild, paDisableParent, paDisableTarget };
    const struct {
        const char* Name;
        TPopupAction Action;
        bool HandledByEvent;
        std::vector<std::string> Clicked;
        int Popups;
    } rows[] = {
        {"a nested item's shortcut runs it", paNone, false, {"Deep"}, 1},
        {"an OnPopup that frees an item before it", paFreeSibling, false, {"Deep"}, 1},
        {"an OnPopup that frees the item itself", paFreeTarget, false, {}, 1},
        {"an OnPopup that makes the level anew", paRebuild, false, {"Deep"}, 1},
        {"a disabled parent stops the search", paDisableParent, false, {}, 0},
        {"a disabled item is not run", paDisableTarget, false, {}, 1},
        {"OnShortCut takes the key first", paNone, true, {}, 0},
    };
    toolbar->SetProcessShortCuts(true);
    ShowForm();
    edit->SetFocus();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        clicked.clear();
        TShortCutTree tree;
        tree.More = new TSubmenuItem(nullptr);
        tree.More->SetCaption("More");
        auto addDeep = [&] {
            tree.Before = new TDkItem(nullptr);
            tree.Before->SetCaption("Before");
            tree.More->Add(tree.Before);
            tree.Deep = new TDkItem(nullptr);
            tree.Deep->SetCaption("Deep");
            tree.Deep->SetShortCut(ctrlK);
            tree.Deep->OnClick = [this](TObject*) { clicked.push_back("Deep"); };
            tree.More->Add(tree.Deep);
        };
        addDeep();
        toolbar->Items()->Add(tree.More);
        int popups = 0;
        tree.More->OnPopup = [&](TDkCustomItem*, bool) {
            ++popups;
            switch (row.Action) {
            case paFreeSibling: FreeAndNil(tree.Before); break;
            case paFreeTarget: FreeAndNil(tree.Deep); break;
            case paRebuild:
                FreeAndNil(tree.Before);
                FreeAndNil(tree.Deep);
                addDeep();
                break;
            case paDisableTarget: tree.Deep->SetEnabled(false); break;
            default: break;
            }
        };
        if (row.Action == paDisableParent) tree.More->SetEnabled(false);
        bool sawKey = false;
        toolbar->OnShortCut = [&](TObject* sender, MSG& msg, bool& handled) {
            EXPECT_EQ(sender, toolbar);
            if (msg.wParam != 'K') return;
            sawKey = true;
            handled = row.HandledByEvent;
        };
        ASSERT_TRUE(PressKeys({VK_CONTROL, 'K'}));
        ASSERT_TRUE(PumpApplicationUntil([&] { return sawKey; }));
        PumpPending();
        EXPECT_EQ(clicked, row.Clicked);
        EXPECT_EQ(popups, row.Popups);
        toolbar->OnShortCut = nullptr;
        delete tree.Before;
        delete tree.Deep;
        delete tree.More;
    }
}

TEST_F(ToolbarWindow, TheHintFollowsTheItemUnderTheMouse)
{
    items[2]->SetOptions(DkOption(dkoLongHintInMenuOnly));
    toolbar->SetShowHint(true);
    ShowForm();
    const struct {
        int Item;
        std::string Hint;
    } rows[] = {{0, Hints[0]}, {1, Hints[1]}, {2, ""}, {3, Hints[3]}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Item);
        ASSERT_TRUE(MoveScreen(CentreOf(ViewerOf(items[row.Item])->ScreenBounds())));
        EXPECT_TRUE(PumpUntil([&] { return View()->Selected() == ViewerOf(items[row.Item]); }));
        EXPECT_EQ(toolbar->Hint(), row.Hint);
    }
    // The hint window's request: the viewer's bounds and its hint as shown.
    RECT rect;
    std::string hint;
    const RECT bounds = ViewerOf(items[1])->BoundsRect;
    EXPECT_TRUE(toolbar->GetHintInfo(CentreOf(bounds), rect, hint));
    EXPECT_TRUE(EqualRect(&rect, &bounds));
    EXPECT_EQ(hint, items[1]->GetHintText());
    EXPECT_FALSE(toolbar->GetHintInfo({-5, -5}, rect, hint));
    EXPECT_EQ(hint, "");
    // Leaving the toolbar clears the selection (the system tells of it by polling).
    ASSERT_TRUE(MoveScreen({GetSystemMetrics(SM_CXSCREEN) - 2, GetSystemMetrics(SM_CYSCREEN) - 2}));
    EXPECT_TRUE(PumpUntil([&] { return View()->Selected() == nullptr; }));
    EXPECT_EQ(toolbar->Hint(), "");
}

TEST_F(ToolbarWindow, TheSelectedViewerDecidesTheCursor)
{
    auto* link = new THandItem(form);
    link->SetCaption("Link");
    toolbar->Items()->Add(link);
    ShowForm();
    const HCURSOR hand = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_HAND));
    const struct {
        TDkCustomItem* Item;
        bool Hand;
    } rows[] = {{link, true}, {items[0], false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Item->Caption());
        ASSERT_TRUE(MoveScreen(CentreOf(ViewerOf(row.Item)->ScreenBounds())));
        ASSERT_TRUE(PumpUntil([&] { return View()->Selected() == ViewerOf(row.Item); }));
        SendMessageA(toolbar->Handle(), WM_SETCURSOR, reinterpret_cast<WPARAM>(toolbar->Handle()),
                     MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        EXPECT_EQ(GetCursor() == hand, row.Hand);
    }
}

TEST_F(ToolbarWindow, TheFloatingWidthGoesThroughThePositionData)
{
    ShowForm();
    const std::vector<TDkFloatingSize> sizes = toolbar->FloatingSizes();
    ASSERT_GE(sizes.size(), 3u);
    EXPECT_EQ(sizes[0].WrapWidth, 0);
    const int wide = sizes[1].WrapWidth, narrow = sizes[2].WrapWidth;

    std::map<std::string, int> stored;
    toolbar->SetFloatingWidth(wide);
    toolbar->WritePositionData([&](const std::string& key, const std::string& value, int data) {
        stored[key + "/" + value] = data;
    });
    EXPECT_EQ(stored["MainBar/FloatRightX"], wide);

    const struct {
        const char* Name;
        bool Present;
        int Stored;
        int Expected;
    } rows[] = {
        {"a width it can take", true, wide, wide},
        {"another one", true, narrow, narrow},
        {"between two: the narrower", true, wide - 1, narrow},
        {"wider than it ever is", true, static_cast<int>(sizes[0].Size.x) + 100, 0},
        {"narrower than it can be", true, 5, 0},
        {"negative", true, -40, 0},
        {"nothing stored", false, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        toolbar->SetFloatingWidth(77);
        toolbar->ReadPositionData([&](const std::string& key, const std::string& value, int def) {
            EXPECT_EQ(key, "MainBar");
            EXPECT_EQ(value, "FloatRightX");
            EXPECT_EQ(def, 0);
            return row.Present ? row.Stored : def;
        });
        EXPECT_EQ(toolbar->FloatingWidth(), row.Expected);
    }
}

TEST_F(ToolbarWindow, AFloatingToolbarIsResizedToItsSizes)
{
    ShowForm();
    ASSERT_NO_FATAL_FAILURE(ShowFloating());
    const std::vector<TDkFloatingSize> sizes = toolbar->FloatingSizes();
    ASSERT_GE(sizes.size(), 3u);
    const HWND frame = toolbar->FloatingParent()->Handle();
    RECT start;
    GetWindowRect(frame, &start);
    const SIZE extra = {(start.right - start.left) - toolbar->Width(), (start.bottom - start.top) - toolbar->Height()};
    EXPECT_EQ(toolbar->Width(), sizes[0].Size.x);

    int minW = 0, minH = 0, maxW = 0, maxH = 0;
    toolbar->GetMinMaxSize(minW, minH, maxW, maxH);
    EXPECT_EQ(maxW, sizes[0].Size.x);
    EXPECT_EQ(minH, sizes[0].Size.y);
    EXPECT_EQ(minW, sizes.back().Size.x);
    EXPECT_EQ(maxH, sizes.back().Size.y);

    // By the right edge: a pixel narrower stays, reaching the next width takes it.
    toolbar->SizingBegins(1);
    RECT r = start;
    r.right -= 1;
    toolbar->AdjustSizingRect(r, 1);
    EXPECT_EQ(r.right - r.left, sizes[0].Size.x + extra.cx);
    r = start;
    r.right = r.left + sizes[1].Size.x + extra.cx;
    toolbar->AdjustSizingRect(r, 1);
    EXPECT_EQ(r.left, start.left);
    EXPECT_EQ(r.right - r.left, sizes[1].Size.x + extra.cx);
    EXPECT_EQ(r.bottom - r.top, sizes[1].Size.y + extra.cy);
    toolbar->SizingEnds(true);
    EXPECT_EQ(toolbar->FloatingWidth(), sizes[1].WrapWidth);
    ASSERT_TRUE(PumpUntil([&] { return toolbar->Width() == sizes[1].Size.x; }));
    EXPECT_EQ(toolbar->Height(), sizes[1].Size.y);
    EXPECT_GT(View()->WrappedLines, 1);

    // By the bottom edge, taller: the narrowest; then given up, it goes back.
    toolbar->SizingBegins(5);
    GetWindowRect(frame, &r);
    r.bottom = r.top + sizes.back().Size.y + extra.cy + 40;
    toolbar->AdjustSizingRect(r, 5);
    EXPECT_EQ(r.bottom - r.top, sizes.back().Size.y + extra.cy);
    EXPECT_EQ(r.right - r.left, sizes.back().Size.x + extra.cx);
    toolbar->SizingEnds(false);
    EXPECT_EQ(toolbar->FloatingWidth(), sizes[1].WrapWidth);

    // By the left edge back to one line: the right side stays.
    toolbar->SizingBegins(0);
    GetWindowRect(frame, &r);
    const LONG right = r.right;
    r.left = r.right - (sizes[0].Size.x + extra.cx) - 10;
    toolbar->AdjustSizingRect(r, 0);
    EXPECT_EQ(r.right, right);
    EXPECT_EQ(r.right - r.left, sizes[0].Size.x + extra.cx);
    toolbar->SizingEnds(true);
    EXPECT_EQ(toolbar->FloatingWidth(), 0);
    ASSERT_TRUE(PumpUntil([&] { return toolbar->Width() == sizes[0].Size.x; }));
    PaintNow(frame);
    EXPECT_TRUE(SaveScreenshot(frame, ArtifactPath("toolbar_floating.bmp")));
}

// The resize loop with real input: pressed on the right border, moved a little past the
// next size, let go.
TEST_F(ToolbarWindow, AFloatingToolbarDraggedByItsBorderSnapsToASize)
{
    ShowForm();
    ASSERT_NO_FATAL_FAILURE(ShowFloating());
    const std::vector<TDkFloatingSize> sizes = toolbar->FloatingSizes();
    ASSERT_GE(sizes.size(), 2u);
    const HWND frame = toolbar->FloatingParent()->Handle();
    RECT start;
    GetWindowRect(frame, &start);
    const int extra = (start.right - start.left) - toolbar->Width();
    const POINT press = {start.right - 2, (start.top + start.bottom) / 2};
    ASSERT_EQ(SendMessageA(frame, WM_NCHITTEST, 0, MAKELPARAM(press.x, press.y)), HTRIGHT);
    const POINT target = {press.x - (sizes[0].Size.x - sizes[1].Size.x) - 3, press.y};
    int edge = -1;
    bool released = false;
    toolbar->OnSizingBegins = [&](int e) {
        edge = e;
        steps.Add([&] { EXPECT_TRUE(MoveScreen(target)); });
        NextStep();
    };
    toolbar->OnSizingStep = [&] {
        if (released) return;
        released = true;
        steps.Add([&] {
            INPUT up = MouseInputAt(target, MOUSEEVENTF_LEFTUP);
            EXPECT_EQ(SendInput(1, &up, sizeof up), 1u);
        });
        NextStep();
    };
    INPUT down[2] = {MouseInputAt(press, 0), MouseInputAt(press, MOUSEEVENTF_LEFTDOWN)};
    ASSERT_EQ(SendInput(2, down, sizeof(INPUT)), 2u);
    ASSERT_TRUE(PumpUntil([&] { return released && GetCapture() == nullptr && toolbar->FloatingWidth() != 0; }));
    PumpPending();
    EXPECT_EQ(edge, 1);
    EXPECT_EQ(toolbar->FloatingWidth(), sizes[1].WrapWidth);
    RECT now;
    GetWindowRect(frame, &now);
    EXPECT_EQ(now.left, start.left);
    EXPECT_EQ(now.right - now.left, sizes[1].Size.x + extra);
    EXPECT_EQ(toolbar->Width(), sizes[1].Size.x);
    EXPECT_EQ(toolbar->Height(), sizes[1].Size.y);
}

TEST_F(ToolbarWindow, AControlPutOnTheToolbarGetsAnItem)
{
    ShowForm();
    auto* combo = new TComboBox(form);
    combo->SetParent(toolbar);
    auto* wrapped = new TEdit(form);
    wrapped->SetParent(toolbar);
    TDkControlItem* own = toolbar->CreateWrapper(0, wrapped);
    auto hosts = [&](TControl* control) {
        int n = 0;
        for (int i = 0; i < toolbar->Items()->Count(); ++i)
            if (auto* item = dynamic_cast<TDkControlItem*>(toolbar->Items()->Items(i)); item && item->Control() == control)
                ++n;
        return n;
    };
    ASSERT_TRUE(PumpUntil([&] { return hosts(combo) == 1; }));
    PumpPending();
    EXPECT_EQ(hosts(wrapped), 1);
    EXPECT_EQ(toolbar->Items()->Items(0), own);
    EXPECT_EQ(toolbar->Items()->IndexOf(own), 0);
    auto* last = dynamic_cast<TDkControlItem*>(toolbar->Items()->Items(toolbar->Items()->Count() - 1));
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->Control(), combo);
    EXPECT_EQ(last->Owner(), form);
    // Placed in the row by the layout.
    const RECT placed = combo->BoundsRect();
    EXPECT_TRUE(EqualRect(&placed, &ViewerOf(last)->BoundsRect));
}

}  // namespace
