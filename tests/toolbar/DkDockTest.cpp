// Docks and dockable windows on the desktop: rows and positions, the docked frame and its
// hit codes, the errors, floating and docking again (with a combo box that keeps its
// items), the floating frame, closing, the floating window following its form and the
// application, bound lines, backgrounds, and screenshots.
#include "DkDock.h"

#include "Barrier.h"
#include "DkCommon.h"
#include "Forms.h"
#include "GuiSupport.h"
#include "ImageTestSupport.h"
#include "StdCtrls.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

// A dockable window whose contents want a fixed size; it writes its name in its client area.
class TPlainWindow : public TDkCustomDockableWindow {
public:
    TPlainWindow(TComponent* owner, POINT size, const std::string& name) : TDkCustomDockableWindow(owner), size_(size)
    {
        SetName(name);
        SetCaption(name);
    }
    POINT GetBaseSize() override { return size_; }

protected:
    void Paint() override
    {
        const HDC dc = Canvas().Handle();
        RECT r;
        GetClientRect(Handle(), &r);
        SetBkMode(dc, TRANSPARENT);
        const std::string text = Caption();
        DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
    }

private:
    POINT size_;
};

BOOL CALLBACK FindFloatingWindow(HWND window, LPARAM data)
{
    return Guarded<BOOL>(FALSE, [&] {
        char name[64] = "";
        GetClassNameA(window, name, sizeof name);
        if (std::strcmp(name, "TDkFloatingWindowParent") != 0) return TRUE;
        *reinterpret_cast<HWND*>(data) = window;
        return FALSE;
    });
}

// The thread's window of the floating parent's class, or nullptr.
HWND FloatingWindow()
{
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindFloatingWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

RECT WindowRect(HWND window)
{
    RECT r = {0, 0, 0, 0};
    GetWindowRect(window, &r);
    return r;
}

RECT ClientOnScreen(HWND window)
{
    RECT r;
    GetClientRect(window, &r);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

bool SameRect(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string Describe(const RECT& r)
{
    std::string text = std::to_string(r.left);
    for (const LONG v : {r.top, r.right, r.bottom}) {
        text += ',';
        text += std::to_string(v);
    }
    return text;
}

std::string PixelName(const char* what, int x, int y)
{
    std::string name = what;
    name += " pixel ";
    name += std::to_string(x);
    name += ',';
    name += std::to_string(y);
    return name;
}

LRESULT HitTest(HWND window, POINT screen)
{
    return SendMessageA(window, WM_NCHITTEST, 0, MAKELPARAM(screen.x, screen.y));
}

// What a window prints of itself, over magenta.
TTestDib Printed(HWND window, LPARAM flags)
{
    const RECT r = WindowRect(window);
    TTestDib dib(r.right - r.left, r.bottom - r.top, RGB(0xFF, 0x00, 0xFF));
    SendMessageA(window, WM_PRINT, reinterpret_cast<WPARAM>(dib.DC()), flags);
    return dib;
}

class DkDockTest : public testing::Test {
protected:
    void SetUp() override
    {
        form = std::make_unique<TForm>(nullptr);
        form->SetCaption("Dock test");
        form->SetBounds(100, 100, 440, 320);
        dock = new TDkDock(form.get());
        dock->SetParent(form.get());
        form->Show();
        PumpPending();
    }
    void TearDown() override
    {
        // The application counts as active again for whatever follows.
        if (form->HandleAllocated()) SendMessageA(form->Handle(), WM_ACTIVATEAPP, TRUE, 0);
        form.reset();
    }

    TPlainWindow* Docked(POINT size, const std::string& name, TDkDock* into = nullptr)
    {
        auto* w = new TPlainWindow(form.get(), size, name);
        w->SetCurrentDock(into ? into : dock);
        return w;
    }

    std::unique_ptr<TForm> form;
    TDkDock* dock = nullptr;
};

TEST_F(DkDockTest, ArrangesTwoWindowsInARowAndTheDockTakesTheirHeight)
{
    TPlainWindow* a = Docked({60, 20}, "BarA");
    TPlainWindow* b = Docked({80, 30}, "BarB");
    ASSERT_TRUE(a->Docked());
    EXPECT_EQ(a->CurrentDock(), dock);
    EXPECT_EQ(dock->ToolbarCount(), 2);
    EXPECT_EQ(dock->Toolbars(0), a);
    EXPECT_EQ(dock->Toolbars(1), b);

    // Natural lengths: the base size plus 2 + 2 borders and the 6-pixel drag handle.
    EXPECT_EQ(a->EffectiveDockRow, 0);
    EXPECT_EQ(a->EffectiveDockPos, 0);
    EXPECT_EQ(b->EffectiveDockRow, 0);
    EXPECT_EQ(b->EffectiveDockPos, 70);
    EXPECT_EQ(b->DockPos(), 70);  // committed outside a drag
    EXPECT_TRUE(SameRect(a->BoundsRect(), {0, 2, 70, 26})) << Describe(a->BoundsRect());
    EXPECT_TRUE(SameRect(b->BoundsRect(), {70, 2, 160, 36})) << Describe(b->BoundsRect());
    EXPECT_EQ(dock->RowThickness(), std::vector<int>{38});
    EXPECT_EQ(dock->Height(), 38);
    EXPECT_EQ(dock->Width(), form->ClientWidth());
    const RECT onScreen = WindowRect(b->Handle());
    const POINT dockOrigin = dock->ClientToScreen({0, 0});
    EXPECT_EQ(onScreen.left - dockOrigin.x, 70);
    EXPECT_EQ(onScreen.top - dockOrigin.y, 2);

    // One that does not fit goes on in a second row; the dock grows.
    TPlainWindow* c = Docked({dock->Width() - 100, 20}, "BarC");
    EXPECT_EQ(c->EffectiveDockRow, 1);
    EXPECT_EQ(dock->RowThickness(), (std::vector<int>{38, 28}));
    EXPECT_EQ(dock->Height(), 66);
    EXPECT_EQ(c->Top(), 40);

    // Hidden, it leaves its row; the dock shrinks back.
    int visibleChanges = 0;
    c->OnVisibleChanged = [&](TObject*) { ++visibleChanges; };
    c->Hide();
    EXPECT_EQ(visibleChanges, 1);
    EXPECT_EQ(dock->Height(), 38);
    EXPECT_EQ(dock->VisibleList().size(), 2u);
    EXPECT_EQ(dock->ToolbarCount(), 3);
}

TEST_F(DkDockTest, FullSizeAndStretchWindowsTakeTheirRow)
{
    TPlainWindow* a = Docked({60, 20}, "BarA");
    a->SetFullSize(true);
    EXPECT_EQ(a->Width(), dock->Width());
    TPlainWindow* b = Docked({60, 20}, "BarB");
    EXPECT_EQ(b->EffectiveDockRow, 1);
    b->SetStretch(true);
    EXPECT_EQ(b->Left(), 0);
    EXPECT_EQ(b->Width(), dock->Width());
    EXPECT_EQ(b->CurrentSize(), dock->Width());
    b->SetStretch(false);
    EXPECT_EQ(b->Width(), 70);
    EXPECT_EQ(b->CurrentSize(), 0);
}

TEST_F(DkDockTest, TheDockedFrameDependsOnTheHandleStyleAndTheDock)
{
    auto* left = new TDkDock(form.get());
    left->SetPosition(dpLeft);
    left->SetParent(form.get());
    const struct {
        const char* Name;
        TDkDragHandleStyle Style;
        bool CloseButton;
        bool Vertical;
        bool AllowDrag;
        int LeftInset, TopInset;
    } cases[] = {
        {"single", dhSingle, false, false, true, 8, 2},
        {"double", dhDouble, false, false, true, 11, 2},
        {"none", dhNone, false, false, true, 2, 2},
        {"close button", dhSingle, true, false, true, 16, 2},
        {"single in a vertical dock", dhSingle, false, true, true, 2, 8},
        {"close button in a vertical dock", dhNone, true, true, true, 2, 16},
        {"a dock that allows no dragging", dhDouble, true, false, false, 2, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TDkDock* into = c.Vertical ? left : dock;
        into->SetAllowDrag(c.AllowDrag);
        auto* w = new TPlainWindow(form.get(), {50, 20}, "Bar");
        w->SetDragHandleStyle(c.Style);
        w->SetCloseButtonWhenDocked(c.CloseButton);
        w->SetCurrentDock(into);
        const RECT window = WindowRect(w->Handle()), client = ClientOnScreen(w->Handle());
        EXPECT_EQ(client.left - window.left, c.LeftInset);
        EXPECT_EQ(client.top - window.top, c.TopInset);
        EXPECT_EQ(window.right - client.right, 2);
        EXPECT_EQ(window.bottom - client.bottom, 2);
        EXPECT_EQ(client.right - client.left, 50);
        EXPECT_EQ(client.bottom - client.top, 20);
        const SIZE nc = w->NonClientSize();
        EXPECT_EQ(nc.cx, c.LeftInset + 2);
        EXPECT_EQ(nc.cy, c.TopInset + 2);
        const SIZE margins = w->Margins();
        const int handle = c.AllowDrag ? DkDragHandleSize(c.Style, c.CloseButton) : 0;
        EXPECT_EQ(margins.cx, 4 + (c.AllowDrag && !c.Vertical ? handle + 4 : 0));
        EXPECT_EQ(margins.cy, 4 + (c.AllowDrag && c.Vertical ? handle + 4 : 0));
        delete w;
        EXPECT_EQ(into->ToolbarCount(), 0);
    }
}

TEST_F(DkDockTest, AnswersItsOwnHitCodesOverHandleBordersAndCloseButton)
{
    auto* left = new TDkDock(form.get());
    left->SetPosition(dpLeft);
    left->SetParent(form.get());
    // Points from the window's top-left corner; a negative x counts from its right edge.
    const struct {
        const char* Name;
        bool CloseButton;
        bool Vertical;
        bool AllowDrag;
        POINT At;
        LRESULT Code;
    } cases[] = {
        {"drag handle", false, false, true, {3, 12}, DkHitHandle},
        {"right border", false, false, true, {-1, 12}, DkHitHandle},
        {"bottom border", false, false, true, {30, 23}, DkHitHandle},
        {"client area", false, false, true, {30, 12}, HTCLIENT},
        {"close button", true, false, true, {8, 7}, DkHitClose},
        {"close button's corner", true, false, true, {3, 2}, DkHitClose},
        {"handle below the close button", true, false, true, {8, 16}, DkHitHandle},
        {"close button in a vertical dock", true, true, true, {-7, 8}, DkHitClose},
        {"handle beside the close button in a vertical dock", true, true, true, {5, 8}, DkHitHandle},
        {"no close button without dragging", true, false, false, {1, 1}, DkHitHandle},
        {"no handle without dragging", true, false, false, {8, 7}, HTCLIENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TDkDock* into = c.Vertical ? left : dock;
        into->SetAllowDrag(c.AllowDrag);
        auto* w = new TPlainWindow(form.get(), {50, 20}, "Bar");
        w->SetCloseButtonWhenDocked(c.CloseButton);
        w->SetCurrentDock(into);
        const RECT r = WindowRect(w->Handle());
        const POINT at = {c.At.x < 0 ? r.right + c.At.x : r.left + c.At.x, r.top + c.At.y};
        EXPECT_EQ(HitTest(w->Handle(), at), c.Code);
        delete w;
    }
}

TEST_F(DkDockTest, ShowsTheFourWayCursorOverTheDragHandleOnly)
{
    TPlainWindow* a = Docked({60, 20}, "BarA");
    SetForegroundWindow(form->Handle());
    PumpPending();
    const RECT r = WindowRect(a->Handle());
    const HCURSOR sizeAll = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_SIZEALL));
    const HCURSOR arrow = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    const struct {
        const char* Name;
        POINT At;
        HCURSOR Cursor;
    } cases[] = {
        {"over the grip", {r.left + 4, r.top + 12}, sizeAll},
        {"at the handle's last column", {r.left + 7, r.top + 12}, sizeAll},
        {"on the right border", {r.right - 1, r.top + 12}, arrow},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ASSERT_TRUE(MoveScreen(c.At));
        ASSERT_TRUE(PumpUntil([&] {
            POINT p;
            return GetCursorPos(&p) && p.x == c.At.x && p.y == c.At.y;
        }));
        SendMessageA(a->Handle(), WM_SETCURSOR, reinterpret_cast<WPARAM>(a->Handle()),
                     MAKELPARAM(HitTest(a->Handle(), c.At), WM_MOUSEMOVE));
        EXPECT_EQ(GetCursor(), c.Cursor);
    }
}

TEST_F(DkDockTest, RaisesTheInvalidOperationsWithTheirTexts)
{
    TPlainWindow* a = Docked({60, 20}, "BarA");
    std::unique_ptr<TPlainWindow> lonely;
    const struct {
        const char* Name;
        std::function<void()> Act;
        const char* Text;
    } cases[] = {
        {"a new position for a dock that holds controls", [&] { dock->SetPosition(dpBottom); },
         "Cannot change Position of a TDkDock if it already contains controls"},
        {"a dock inside a dockable window", [&] { (new TDkDock(form.get()))->SetParent(a); },
         "A TDkDock control cannot be placed inside a tool window or another TDkDock"},
        {"a dock inside another dock", [&] { (new TDkDock(form.get()))->SetParent(dock); },
         "A TDkDock control cannot be placed inside a tool window or another TDkDock"},
        {"a dockable window without a form", [&] {
             lonely = std::make_unique<TPlainWindow>(nullptr, POINT{40, 20}, "Lonely");
             lonely->SetFloating(true);
         },
         "Control 'Lonely' has no parent window"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        try {
            c.Act();
            ADD_FAILURE() << "no exception";
        } catch (const EInvalidOperation& e) {
            EXPECT_EQ(e.Message, c.Text);
        }
    }
    EXPECT_EQ(dock->Position(), dpTop);
    EXPECT_EQ(dock->ToolbarCount(), 1);
    ASSERT_TRUE(lonely);
    EXPECT_FALSE(lonely->Floating());

    // An empty dock takes a new position and its align.
    auto* empty = new TDkDock(form.get());
    empty->SetParent(form.get());
    empty->SetPosition(dpRight);
    EXPECT_EQ(empty->Align(), alRight);
    EXPECT_TRUE(empty->Vertical());
}

TEST_F(DkDockTest, FloatsInAToolWindowAndDocksAgain)
{
    TPlainWindow* a = Docked({60, 20}, "BarA");
    TPlainWindow* b = Docked({80, 30}, "BarB");
    const HWND own = a->Handle();
    std::vector<std::string> events;
    a->OnDockChanging = [&](TObject*, bool floating, TDkDock* to) {
        events.push_back(std::string("changing ") + (floating ? "float" : to == dock ? "dock" : "other"));
    };
    a->OnDockChanged = [&](TObject*) { events.push_back("changed"); };
    dock->OnInsertRemoveBar = [&](TObject*, bool inserting, TDkCustomDockableWindow* bar) {
        events.push_back(std::string(inserting ? "inserted " : "removed ") + bar->Name());
    };

    a->SetFloatingPosition({300, 250});
    a->SetFloating(true);
    ASSERT_TRUE(a->Floating());
    EXPECT_FALSE(a->Docked());
    EXPECT_EQ(a->CurrentDock(), nullptr);
    EXPECT_EQ(a->LastDock(), dock);
    EXPECT_EQ(events, (std::vector<std::string>{"changing float", "removed BarA", "changed"}));
    EXPECT_EQ(a->Handle(), own);  // the window moved, it was not made again
    EXPECT_EQ(a->GetFormOf(), form.get());
    EXPECT_EQ(a->GetTopForm(), form.get());

    const HWND floating = FloatingWindow();
    ASSERT_NE(floating, nullptr);
    TDkFloatingWindowParent* parent = a->FloatingParent();
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(parent->Handle(), floating);
    EXPECT_EQ(parent->DockableWindow(), a);
    EXPECT_TRUE(IsWindowVisible(floating));
    EXPECT_EQ(GetParent(own), floating);
    EXPECT_EQ(GetWindow(floating, GW_OWNER), form->Handle());
    EXPECT_TRUE(GetWindowLongA(floating, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    char caption[64] = "";
    GetWindowTextA(floating, caption, sizeof caption);
    EXPECT_STREQ(caption, "BarA");
    RECT client;
    GetClientRect(floating, &client);
    EXPECT_EQ(client.right, 60);
    EXPECT_EQ(client.bottom, 20);
    EXPECT_TRUE(SameRect(a->BoundsRect(), {0, 0, 60, 20})) << Describe(a->BoundsRect());
    const RECT r = WindowRect(floating);
    EXPECT_EQ(r.left, 300);
    EXPECT_EQ(r.top, 250);
    EXPECT_TRUE(parent->ShowHint());
    const std::string name = parent->Name();
    ASSERT_EQ(name.size(), 31u) << name;
    EXPECT_EQ(name.substr(0, 23), "DkFloatingWindowParent_");
    EXPECT_EQ(name.find_first_not_of("0123456789abcdef", 23), std::string::npos) << name;

    // Moved by the program, it tells.
    int moves = 0;
    a->OnMove = [&](TObject*) { ++moves; };
    a->SetFloatingPosition({320, 260});
    EXPECT_GE(moves, 1);
    EXPECT_EQ(WindowRect(floating).left, 320);
    EXPECT_EQ(a->FloatingPosition().y, 260);
    a->OnMove = nullptr;
    a->SetFloatingPosition({300, 250});

    // The other keeps its place in the dock.
    EXPECT_EQ(dock->ToolbarCount(), 1);
    EXPECT_EQ(b->EffectiveDockPos, 70);
    EXPECT_EQ(dock->Height(), 38);

    // Back to the dock it came from; the tool window goes.
    events.clear();
    a->SetFloating(false);
    EXPECT_TRUE(a->Docked());
    EXPECT_EQ(a->CurrentDock(), dock);
    EXPECT_EQ(a->FloatingParent(), nullptr);
    EXPECT_EQ(FloatingWindow(), nullptr);
    EXPECT_EQ(a->Handle(), own);
    EXPECT_EQ(GetParent(own), dock->Handle());
    EXPECT_EQ(dock->ToolbarCount(), 2);
    EXPECT_EQ(events, (std::vector<std::string>{"changing dock", "inserted BarA", "changed"}));
    // It floats again where it was.
    a->SetCurrentDock(nullptr);
    ASSERT_NE(FloatingWindow(), nullptr);
    EXPECT_EQ(WindowRect(FloatingWindow()).left, 300);
    a->SetCurrentDock(dock);
    EXPECT_EQ(FloatingWindow(), nullptr);
    EXPECT_TRUE(a->Docked());

    // A window that may not float stays.
    a->DockMode = dmCannotFloat;
    a->SetFloating(true);
    EXPECT_TRUE(a->Docked());
    EXPECT_EQ(FloatingWindow(), nullptr);
}

TEST_F(DkDockTest, AChildComboBoxKeepsItsItemsAndSelectionThroughFloatingAndBack)
{
    TPlainWindow* a = Docked({130, 24}, "BarA");
    auto* combo = new TComboBox(form.get());
    combo->SetParent(a);
    combo->SetBounds(2, 2, 120, 100);
    for (const char* item : {"One", "Two", "Three"}) combo->Items().Add(item);
    combo->SetItemIndex(2);
    const HWND box = combo->Handle();

    const auto check = [&](HWND parent) {
        EXPECT_TRUE(combo->HandleAllocated());
        EXPECT_EQ(combo->Handle(), box);
        EXPECT_TRUE(IsChild(parent, box));
        EXPECT_EQ(SendMessageA(box, CB_GETCOUNT, 0, 0), 3);
        EXPECT_EQ(SendMessageA(box, CB_GETCURSEL, 0, 0), 2);
        EXPECT_EQ(combo->ItemIndex(), 2);
        EXPECT_EQ(combo->Text(), "Three");
    };
    a->SetFloating(true);
    ASSERT_NE(a->FloatingParent(), nullptr);
    {
        SCOPED_TRACE("floating");
        check(a->FloatingParent()->Handle());
    }
    a->SetFloating(false);
    {
        SCOPED_TRACE("docked again");
        check(dock->Handle());
    }
}

TEST_F(DkDockTest, TheFloatingFrameComesFromTheSystemMetrics)
{
    TPlainWindow* a = Docked({60, 40}, "BarA");
    a->SetFloatingPosition({300, 250});
    a->SetFloating(true);
    const HWND floating = FloatingWindow();
    ASSERT_NE(floating, nullptr);
    const int caption = GetSystemMetrics(SM_CYSMCAPTION);
    const struct {
        const char* Name;
        bool Resizable;
        bool ShowCaption;
        SIZE Border;
    } cases[] = {
        {"resizable", true, true, {GetSystemMetrics(SM_CXFRAME), GetSystemMetrics(SM_CYFRAME)}},
        {"fixed", false, true, {GetSystemMetrics(SM_CXFIXEDFRAME), GetSystemMetrics(SM_CYFIXEDFRAME)}},
        {"without caption", true, false, {GetSystemMetrics(SM_CXFRAME), GetSystemMetrics(SM_CYFRAME)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        a->SetResizable(c.Resizable);
        a->SetShowCaption(c.ShowCaption);
        const int band = c.ShowCaption ? caption : 0;
        const RECT r = WindowRect(floating), client = ClientOnScreen(floating);
        EXPECT_EQ(r.right - r.left, 60 + 2 * c.Border.cx);
        EXPECT_EQ(r.bottom - r.top, 40 + 2 * c.Border.cy + band);
        EXPECT_EQ(client.left - r.left, c.Border.cx);
        EXPECT_EQ(client.top - r.top, c.Border.cy + band);
        const int middle = (r.top + r.bottom) / 2;
        EXPECT_EQ(HitTest(floating, {client.left + 5, client.top + 5}), HTCLIENT);
        EXPECT_EQ(HitTest(floating, {r.left, middle}), c.Resizable ? HTLEFT : HTNOWHERE);
        EXPECT_EQ(HitTest(floating, {r.right - 1, middle}), c.Resizable ? HTRIGHT : HTNOWHERE);
        if (c.ShowCaption) {
            EXPECT_EQ(HitTest(floating, {client.left + 3, r.top + c.Border.cy + 2}), DkHitCaption);
            EXPECT_EQ(HitTest(floating, {client.right - 3, r.top + c.Border.cy + 2}), DkHitClose);
            const RECT button = a->FloatingParent()->CloseButtonRect();
            EXPECT_EQ(button.right - button.left, caption - 1);
            EXPECT_EQ(button.bottom - button.top, caption - 1);
        }
    }
    MINMAXINFO info = {};
    SendMessageA(floating, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, 1);
    EXPECT_EQ(info.ptMinTrackSize.y, 1);
    EXPECT_EQ(info.ptMaxTrackSize.x, 32767);
    EXPECT_EQ(info.ptMaxTrackSize.y, 32767);
}

TEST_F(DkDockTest, ClosesThroughItsCloseButtonWhenTheQueryAllows)
{
    const struct {
        const char* Name;
        bool Floating;
        bool Allow;
    } cases[] = {
        {"docked, allowed", false, true},
        {"docked, refused", false, false},
        {"floating, allowed", true, true},
        {"floating, refused", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TPlainWindow* a = Docked({60, 20}, "BarA");
        a->SetCloseButtonWhenDocked(true);
        int queries = 0, closes = 0;
        a->OnCloseQuery = [&](TObject*, bool& canClose) {
            ++queries;
            canClose = c.Allow;
        };
        a->OnClose = [&](TObject*) { ++closes; };
        HWND target = a->Handle();
        POINT at;
        if (c.Floating) {
            a->SetFloatingPosition({320, 260});
            a->SetFloating(true);
            target = FloatingWindow();
            ASSERT_NE(target, nullptr);
            const RECT r = WindowRect(target);
            const RECT button = a->FloatingParent()->CloseButtonRect();
            at = {r.left + (button.left + button.right) / 2, r.top + (button.top + button.bottom) / 2};
        } else {
            const RECT r = WindowRect(target);
            at = {r.left + 8, r.top + 7};
        }
        SetWindowPos(form->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        PumpPending();
        ASSERT_TRUE(ClickScreen(at, target));
        ASSERT_TRUE(PumpUntil([&] { return queries == 1 && GetCapture() == nullptr; }));
        EXPECT_EQ(closes, c.Allow ? 1 : 0);
        EXPECT_EQ(a->Visible(), !c.Allow);
        if (c.Floating) {
            EXPECT_EQ(IsWindowVisible(target) != FALSE, !c.Allow);
        } else {
            EXPECT_EQ(dock->Height(), c.Allow ? 0 : 28);
        }
        delete a;
        EXPECT_EQ(FloatingWindow(), nullptr);
    }
}

TEST_F(DkDockTest, AFloatingWindowFollowsItsFormAndTheApplication)
{
    TPlainWindow* a = Docked({60, 20}, "BarA");
    a->SetFloating(true);
    const HWND floating = FloatingWindow();
    ASSERT_NE(floating, nullptr);
    ASSERT_TRUE(IsWindowVisible(floating));

    form->Hide();
    EXPECT_TRUE(PumpUntil([&] { return !IsWindowVisible(floating); }));
    form->Show();
    EXPECT_TRUE(PumpUntil([&] { return IsWindowVisible(floating) != FALSE; }));

    const struct {
        const char* Name;
        bool HideWhenInactive;
        bool ShownWhileInactive;
    } cases[] = {
        {"hidden while the application is inactive", true, false},
        {"kept when it need not hide", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        a->HideWhenInactive = c.HideWhenInactive;
        SendMessageA(form->Handle(), WM_ACTIVATEAPP, FALSE, 0);
        EXPECT_EQ(IsWindowVisible(floating) != FALSE, c.ShownWhileInactive);
        SendMessageA(form->Handle(), WM_ACTIVATEAPP, TRUE, 0);
        EXPECT_TRUE(IsWindowVisible(floating));
    }

    // Hidden by the program, it stays hidden whatever the form does.
    a->Hide();
    EXPECT_FALSE(IsWindowVisible(floating));
    form->Hide();
    form->Show();
    PumpPending();
    EXPECT_FALSE(IsWindowVisible(floating));
}

TEST_F(DkDockTest, TheFloatingWindowPassesCloseToItsFormAndNeverKeepsTheActivation)
{
    TPlainWindow* a = Docked({60, 20}, "BarA");
    a->SetFloating(true);
    const HWND floating = FloatingWindow();
    ASSERT_NE(floating, nullptr);
    int asked = 0;
    form->OnCloseQuery = [&](TObject*, bool& canClose) {
        ++asked;
        canClose = false;
    };
    SendMessageA(floating, WM_CLOSE, 0, 0);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(IsWindowVisible(floating));

    EXPECT_EQ(SendMessageA(floating, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(floating),
                           MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN)),
              MA_NOACTIVATE);
    EXPECT_EQ(GetActiveWindow(), form->Handle());
}

TEST_F(DkDockTest, WindowsLiveThroughTheirFormMakingItsWindowAgain)
{
    TPlainWindow* docked = Docked({60, 20}, "Docked");
    TPlainWindow* floats = Docked({70, 20}, "Floats");
    // Whether the application stays active while its window goes is not the question here.
    floats->HideWhenInactive = false;
    floats->SetFloating(true);
    const HWND floating = FloatingWindow();
    ASSERT_NE(floating, nullptr);
    const HWND before = form->Handle();

    form->SetBorderStyle(bsSingle);
    const HWND after = form->Handle();
    ASSERT_NE(after, before);
    // The docked window has a window again, in the dock's new one.
    ASSERT_TRUE(docked->HandleAllocated());
    EXPECT_TRUE(IsWindow(docked->Handle()));
    EXPECT_EQ(GetParent(docked->Handle()), dock->Handle());
    EXPECT_TRUE(IsWindowVisible(docked->Handle()));
    // The floating one was not taken along; it is owned by the new window once that moves.
    EXPECT_EQ(FloatingWindow(), floating);
    EXPECT_EQ(floats->FloatingParent()->Handle(), floating);
    SetWindowPos(after, nullptr, form->Left() + 10, form->Top(), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(GetWindow(floating, GW_OWNER), after);
    EXPECT_TRUE(IsWindowVisible(floating));
    floats->SetFloating(false);
    EXPECT_TRUE(floats->Docked());
    EXPECT_EQ(GetParent(floats->Handle()), dock->Handle());
}

TEST_F(DkDockTest, DrawsItsBoundLinesOnlyWhileAWindowShows)
{
    dock->SetBoundLines(blTop | blBottom | blLeft | blRight);
    EXPECT_EQ(dock->NonClientWidth(), 2);
    EXPECT_EQ(dock->NonClientHeight(), 2);
    EXPECT_EQ(dock->Height(), 2);
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW), highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    TPlainWindow* a = nullptr;
    const struct {
        const char* Name;
        bool Window;
    } cases[] = {{"empty", false}, {"with a window", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        if (c.Window) a = Docked({60, 20}, "BarA");
        EXPECT_EQ(dock->Height(), c.Window ? 30 : 2);
        const TTestDib dib = Printed(dock->Handle(), PRF_NONCLIENT);
        const int w = dib.Width(), h = dib.Height();
        EXPECT_EQ(dib.Pixel(w / 2, 0), c.Window ? shadow : face);
        EXPECT_EQ(dib.Pixel(0, h / 2), c.Window ? shadow : face);
        EXPECT_EQ(dib.Pixel(w / 2, h - 1), c.Window ? highlight : face);
        EXPECT_EQ(dib.Pixel(w - 1, h / 2), c.Window ? highlight : face);
        if (h > 2) {
            EXPECT_EQ(dib.Pixel(w / 2, 1), RGB(0xFF, 0x00, 0xFF));  // the client area is not its to paint
        }
    }
    ASSERT_NE(a, nullptr);
    // The window sits inside the lines.
    const RECT r = WindowRect(a->Handle());
    const RECT d = WindowRect(dock->Handle());
    EXPECT_EQ(r.left - d.left, 1);
    EXPECT_EQ(r.top - d.top, 3);
}

// A 2 by 2 bitmap of four colours: tile[y][x].
const COLORREF Tile[2][2] = {{RGB(200, 0, 0), RGB(0, 200, 0)}, {RGB(0, 0, 200), RGB(200, 200, 0)}};

HBITMAP TileBitmap()
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 2;
    info.bmiHeader.biHeight = -2;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) return nullptr;
    auto* p = static_cast<uint32_t*>(bits);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) {
            const COLORREF c = Tile[y][x];
            p[y * 2 + x] = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
        }
    return bitmap;
}

TEST_F(DkDockTest, PaintsItsBackgroundTiledFromItsParentsOrigin)
{
    auto* bottom = new TDkDock(form.get());
    bottom->SetPosition(dpBottom);
    bottom->SetParent(form.get());
    TPlainWindow* a = Docked({61, 21}, "BarA", bottom);
    auto* background = new TDkBackground(nullptr);
    HBITMAP bitmap = TileBitmap();
    ASSERT_NE(bitmap, nullptr);
    background->SetBitmap(bitmap);
    EXPECT_TRUE(background->UsingBackground());
    bottom->SetBackground(background);
    ASSERT_EQ(bottom->Background(), background);

    // The dock's client at the dock's place in the form.
    const int top = bottom->Top();
    const TTestDib dib = Printed(bottom->Handle(), PRF_CLIENT | PRF_ERASEBKGND);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) {
            SCOPED_TRACE(PixelName("dock", x, y));
            EXPECT_EQ(dib.Pixel(x, y), Tile[(y + top) % 2][x % 2]);
        }
    // The window's client lines up with it.
    const POINT formOrigin = form->ClientToScreen({0, 0});
    const POINT clientOrigin = a->ClientToScreen({0, 0});
    const int ox = clientOrigin.x - formOrigin.x, oy = clientOrigin.y - formOrigin.y;
    const RECT r = WindowRect(a->Handle());
    const int ncx = clientOrigin.x - r.left, ncy = clientOrigin.y - r.top;
    const TTestDib bar = Printed(a->Handle(), PRF_CLIENT | PRF_ERASEBKGND);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) {
            SCOPED_TRACE(PixelName("window", x, y));
            EXPECT_EQ(bar.Pixel(ncx + x, ncy + y), Tile[(oy + y) % 2][(ox + x) % 2]);
        }
    // Without it on the windows they keep their colour.
    bottom->SetBackgroundOnToolbars(false);
    const TTestDib plain = Printed(a->Handle(), PRF_CLIENT | PRF_ERASEBKGND);
    EXPECT_EQ(plain.Pixel(ncx + 1, ncy + 1), GetSysColor(COLOR_BTNFACE));

    // A background freed leaves the dock without one.
    delete background;
    EXPECT_EQ(bottom->Background(), nullptr);
    const TTestDib erased = Printed(bottom->Handle(), PRF_CLIENT | PRF_ERASEBKGND);
    EXPECT_EQ(erased.Pixel(0, 0), GetSysColor(COLOR_BTNFACE));
}

TEST_F(DkDockTest, EachWindowTakesAUseOfTheHooks)
{
    const unsigned sent = DkHookUseCount(dkhkCallWndProc), destroy = DkHookUseCount(dkhkCBT);
    auto a = std::make_unique<TPlainWindow>(nullptr, POINT{10, 10}, "A");
    auto b = std::make_unique<TPlainWindow>(nullptr, POINT{10, 10}, "B");
    EXPECT_EQ(DkHookUseCount(dkhkCallWndProc), sent + 2);
    EXPECT_EQ(DkHookUseCount(dkhkCBT), destroy + 2);
    EXPECT_TRUE(DkHookInstalled(dkhkCallWndProc));
    EXPECT_TRUE(DkHookInstalled(dkhkCBT));
    a.reset();
    b.reset();
    EXPECT_EQ(DkHookUseCount(dkhkCallWndProc), sent);
    EXPECT_EQ(DkHookUseCount(dkhkCBT), destroy);
}

TEST_F(DkDockTest, LeavesScreenshotsOfADockAndAFloatingWindow)
{
    dock->SetBoundLines(blTop | blBottom);
    TPlainWindow* a = Docked({90, 22}, "First");
    a->SetDragHandleStyle(dhDouble);
    TPlainWindow* b = Docked({110, 22}, "Second");
    b->SetCloseButtonWhenDocked(true);
    TPlainWindow* c = Docked({120, 40}, "Floating");
    c->SetFloatingPosition({form->Left() + 120, form->Top() + 140});
    c->SetFloating(true);
    ASSERT_NE(FloatingWindow(), nullptr);
    RedrawWindow(form->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    RedrawWindow(FloatingWindow(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    PumpPending();
    EXPECT_TRUE(SaveScreenshot(dock->Handle(), ArtifactPath("dock_two_windows.bmp")));
    EXPECT_TRUE(SaveScreenshot(FloatingWindow(), ArtifactPath("dock_floating_window.bmp")));
    EXPECT_TRUE(SaveScreenshot(form->Handle(), ArtifactPath("dock_form.bmp")));
}

}  // namespace
