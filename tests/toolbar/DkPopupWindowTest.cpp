// Popup windows on the desktop: where they open, their window and class styles, the
// frame around them, the scroll arrows of a menu taller than its monitor, the view timers
// they forward and the popup sound.
#include "DkPopup.h"

#include "Barrier.h"
#include "DkCommon.h"
#include "DkLayout.h"
#include "Forms.h"
#include "GuiSupport.h"
#include "ImageTestSupport.h"
#include "ItemTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

bool Empty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

// The system as the tests want it; an empty area leaves the monitors to the system.
class TFakeSystem : public TDkSystemChecks {
public:
    bool XP = true;
    bool Flat = false;
    RECT Area = {0, 0, 0, 0};

    bool IsWindowsXPOrLater() override { return XP; }
    bool FlatMenusInUse() override { return Flat; }
    bool MenuAnimation() override { return false; }  // the animations have tests of their own
    bool MenuDropAlignmentRight() override { return false; }
    RECT MonitorRectOfRect(const RECT& r, bool workArea) override
    {
        return Empty(Area) ? TDkSystemChecks::MonitorRectOfRect(r, workArea) : Area;
    }
    RECT MonitorRectOfPoint(POINT p, bool workArea) override
    {
        return Empty(Area) ? TDkSystemChecks::MonitorRectOfPoint(p, workArea) : Area;
    }
};

struct TSound {
    std::string Alias;
    bool PopupVisible;
};
std::vector<TSound> sounds;

BOOL CALLBACK FindPopupWindow(HWND window, LPARAM data)
{
    return Guarded<BOOL>(FALSE, [&] {
        char name[64] = "";
        GetClassNameA(window, name, sizeof name);
        if (std::strncmp(name, "TDkPopupWindow", 14) != 0) return TRUE;
        *reinterpret_cast<HWND*>(data) = window;
        return FALSE;
    });
}

// Records each sound with whether the popup showed when it began.
void RecordSound(const char* alias)
{
    HWND popup = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindPopupWindow, reinterpret_cast<LPARAM>(&popup));
    sounds.push_back({alias, popup && IsWindowVisible(popup)});
}

// What a window prints of itself, over mid-grey.
TTestDib Printed(HWND window, LPARAM flags)
{
    RECT r;
    GetWindowRect(window, &r);
    TTestDib dib(r.right - r.left, r.bottom - r.top, RGB(0x7F, 0x7F, 0x7F));
    SendMessageA(window, WM_PRINT, reinterpret_cast<WPARAM>(dib.DC()), flags);
    return dib;
}

const LPARAM PrintAll = PRF_NONCLIENT | PRF_CLIENT | PRF_ERASEBKGND;

class DkPopupWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        previousSystem_ = SetDkSystem(&system);
        previousPlayer_ = SetDkSoundPlayer(RecordSound);
        sounds.clear();
    }
    void TearDown() override
    {
        FreeAndNil(popup);
        SetDkSystem(previousSystem_);
        SetDkSoundPlayer(previousPlayer_);
    }

    TDkCustomItem* Menu(int count)
    {
        auto* menu = new TSubmenuItem(&items);
        for (int i = 0; i < count; ++i) {
            auto* item = new TDkItem(&items);
            item->SetCaption("Item " + std::to_string(i + 1));
            item->SetHint("Hint " + std::to_string(i + 1) + "|Long hint");
            menu->Add(item);
        }
        return menu;
    }

    TComponent items{nullptr};
    TFakeSystem system;
    TDkPopupWindow* popup = nullptr;

private:
    TDkSystemChecks* previousSystem_ = nullptr;
    TDkSoundPlayer previousPlayer_ = nullptr;
};

RECT WindowRect(HWND window)
{
    RECT r = {0, 0, 0, 0};
    GetWindowRect(window, &r);
    return r;
}

TEST_F(DkPopupWindowTest, OpensBelowAToolbarItemWithoutTakingTheActivation)
{
    auto form = std::make_unique<TForm>(nullptr);
    form->SetBorderStyle(bsNone);
    form->SetBounds(100, 120, 300, 30);
    TCustomForm* mainBefore = Application->MainForm;
    Application->MainForm = form.get();
    form->Font().SetName("Arial");
    form->Font().SetSize(11);
    auto* root = new TDkRootItem(&items);
    root->Add(Menu(3));
    {
        TDkToolbarView bar(nullptr, nullptr, form.get(), root, nullptr, true, false, false);
        bar.UpdatePositions();
        form->Show();
        SetForegroundWindow(form->Handle());
        PumpPending();

        TDkItemViewer* viewer = bar.Viewers(0);
        bar.Select(viewer, false);
        bar.OpenChildPopup(false);
        TDkPopupWindow* opened = bar.OpenPopup();
        ASSERT_NE(opened, nullptr);
        const HWND window = opened->Handle();
        const RECT item = viewer->ScreenBounds();
        const RECT r = WindowRect(window);
        EXPECT_EQ(r.left, item.left);
        EXPECT_EQ(r.top, item.bottom);
        EXPECT_EQ(r.right - r.left, opened->View()->TotalSize().x + 6);
        EXPECT_EQ(r.bottom - r.top, opened->View()->TotalSize().y + 6);
        EXPECT_EQ(opened->View()->ViewerCount(), 3);
        EXPECT_EQ(opened->AnimationDirection, 4);
        EXPECT_TRUE(IsWindowVisible(window));
        EXPECT_EQ(GetWindow(window, GW_OWNER), form->Handle());
        EXPECT_EQ(opened->Font().Name(), "Arial");
        EXPECT_EQ(opened->Font().Size(), 11);
        EXPECT_EQ(GetForegroundWindow(), form->Handle());
        EXPECT_NE(GetActiveWindow(), window);
        opened->Update();
        SaveScreenshot(window, ArtifactPath("toolbar_popup.bmp"));
        bar.CloseChildPopups();
        EXPECT_FALSE(IsWindow(window));
    }
    Application->MainForm = mainBefore;
}

TEST_F(DkPopupWindowTest, AChevronPopupShowsTheHiddenButtonsRightAlignedBelowIt)
{
    auto form = std::make_unique<TForm>(nullptr);
    form->SetBorderStyle(bsNone);
    form->SetBounds(300, 200, 120, 24);
    form->SetShowHint(false);
    auto* root = new TDkRootItem(&items);
    for (int i = 0; i < 5; ++i) {
        auto* button = new TDkItem(&items);
        button->SetCaption("Button " + std::to_string(i + 1));
        root->Add(button);
    }
    auto* chevron = new TDkChevronItem(&items);
    chevron->SetLinkSubitems(root);
    TDkToolbarView bar(nullptr, nullptr, form.get(), root, chevron, true, false, false);
    bar.Style |= dkvsShowHints;
    bar.AvailableLength = 120;
    bar.UpdatePositions();
    form->Show();
    PumpPending();
    int hidden = 0;
    for (int i = 0; i < bar.ViewerCount(); ++i)
        if (bar.Viewers(i)->OffEdge) ++hidden;
    ASSERT_GT(hidden, 0);
    TDkItemViewer* viewer = bar.Find(chevron);
    ASSERT_NE(viewer, nullptr);
    ASSERT_TRUE(viewer->Show);

    bar.Select(viewer, false);
    bar.OpenChildPopup(false);
    TDkPopupWindow* opened = bar.OpenPopup();
    ASSERT_NE(opened, nullptr);
    TDkView* view = opened->View();
    EXPECT_EQ(view->ChevronParentView, &bar);
    EXPECT_TRUE(view->IsToolbar);
    EXPECT_TRUE(view->Style & dkvsShowHints);
    EXPECT_FALSE(opened->ShowHint());
    EXPECT_EQ(opened->Color(), clBtnFace);
    int shown = 0;
    for (int i = 0; i < view->ViewerCount(); ++i)
        if (view->Viewers(i)->Show) ++shown;
    EXPECT_EQ(shown, hidden);
    const RECT monitor = DkSystem().MonitorRectOfRect(viewer->ScreenBounds(), true);
    EXPECT_EQ(view->WrapOffset, monitor.right - monitor.left - 6);
    const RECT item = viewer->ScreenBounds();
    const RECT r = WindowRect(opened->Handle());
    EXPECT_EQ(r.right, item.right);
    EXPECT_EQ(r.top, item.bottom);
    EXPECT_EQ(opened->AnimationDirection, 4);
    opened->Update();
    SaveScreenshot(opened->Handle(), ArtifactPath("chevron_popup.bmp"));
    bar.CloseChildPopups();
}

TEST_F(DkPopupWindowTest, WindowAndClassStylesFollowTheSystem)
{
    struct TCase {
        const char* Name;
        bool XP;
    };
    const TCase cases[] = {{"Windows XP or later: a drop shadow", true}, {"older systems: no shadow", false}};
    TDkCustomItem* menu = Menu(3);
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        system.XP = c.XP;
        popup = DkPopupAtPoint(menu, {200, 150}, dkpaLeft, false);
        const HWND window = popup->Handle();
        const DWORD classStyle = GetClassLongA(window, GCL_STYLE);
        EXPECT_TRUE(classStyle & CS_SAVEBITS);
        EXPECT_EQ((classStyle & CS_DROPSHADOW) != 0, c.XP);
        const LONG style = GetWindowLongA(window, GWL_STYLE);
        EXPECT_TRUE(style & WS_POPUP);
        EXPECT_FALSE(style & (WS_CHILD | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CAPTION));
        const LONG exStyle = GetWindowLongA(window, GWL_EXSTYLE);
        EXPECT_EQ(exStyle & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW), WS_EX_TOPMOST | WS_EX_TOOLWINDOW);
        const RECT r = WindowRect(window);
        EXPECT_EQ(r.left, 200);
        EXPECT_EQ(r.top, 150);
        FreeAndNil(popup);
    }
}

TEST_F(DkPopupWindowTest, KeepsAThreePixelFrameOnEverySide)
{
    popup = DkPopupAtPoint(Menu(3), {40, 60}, dkpaLeft, false);
    const HWND window = popup->Handle();
    const RECT r = WindowRect(window);
    RECT client;
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    EXPECT_EQ(origin.x - r.left, 3);
    EXPECT_EQ(origin.y - r.top, 3);
    EXPECT_EQ(r.right - (origin.x + client.right), 3);
    EXPECT_EQ(r.bottom - (origin.y + client.bottom), 3);
    EXPECT_EQ(client.right, popup->View()->TotalSize().x);
    EXPECT_EQ(client.bottom, popup->View()->TotalSize().y);
}

TEST_F(DkPopupWindowTest, APopupOfNoToolbarTakesTheMenuFont)
{
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = offsetof(NONCLIENTMETRICSA, lfMessageFont) + sizeof(LOGFONTA);
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0));
    popup = DkPopupAtPoint(Menu(3), {40, 60}, dkpaLeft, false);
    EXPECT_EQ(popup->Font().Name(), metrics.lfMenuFont.lfFaceName);
    EXPECT_EQ(popup->Font().Style() & fsBold, metrics.lfMenuFont.lfWeight >= FW_BOLD ? fsBold : 0u);
    EXPECT_EQ(popup->Color(), static_cast<TColor>(clSystemColor | COLOR_MENU));
    EXPECT_TRUE(popup->ShowHint());
    EXPECT_FALSE(GetWindow(popup->Handle(), GW_OWNER));
}

TEST_F(DkPopupWindowTest, PaintsAndPrintsItsFrameInTheColoursOfTheMenuStyle)
{
    const COLORREF own = RGB(40, 120, 200);  // the window's own colour
    struct TCase {
        const char* Name;
        bool Flat;
        COLORREF Rings[3][2];  // outside in: top and left, bottom and right
    };
    const TCase cases[] = {
        {"flat menus: a shadow line, then the window's colour",
         true,
         {{GetSysColor(COLOR_BTNSHADOW), GetSysColor(COLOR_BTNSHADOW)}, {own, own}, {own, own}}},
        {"raised menus: a raised edge, then button face",
         false,
         {{GetSysColor(COLOR_3DLIGHT), GetSysColor(COLOR_3DDKSHADOW)},
          {GetSysColor(COLOR_BTNHIGHLIGHT), GetSysColor(COLOR_BTNSHADOW)},
          {GetSysColor(COLOR_BTNFACE), GetSysColor(COLOR_BTNFACE)}}},
    };
    TDkCustomItem* menu = Menu(3);
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        system.Flat = c.Flat;
        popup = DkPopupAtPoint(menu, {300, 200}, dkpaLeft, false);
        popup->SetColor(own);
        const TTestDib printed = Printed(popup->Handle(), PrintAll);
        const int w = printed.Width(), h = printed.Height();
        ASSERT_GT(w, 12);
        for (int ring = 0; ring < 3; ++ring) {
            SCOPED_TRACE("ring " + std::to_string(ring));
            EXPECT_EQ(printed.Pixel(ring, h / 2), c.Rings[ring][0]);
            EXPECT_EQ(printed.Pixel(w / 2, ring), c.Rings[ring][0]);
            EXPECT_EQ(printed.Pixel(w - 1 - ring, h / 2), c.Rings[ring][1]);
            EXPECT_EQ(printed.Pixel(w / 2, h - 1 - ring), c.Rings[ring][1]);
        }
        // The client starts inside the frame, erased in the window's colour.
        EXPECT_EQ(printed.Pixel(w - 4, h - 4), own);

        // The same frame on the screen, painted by the window itself.
        const HWND window = popup->Handle();
        RedrawWindow(window, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        const RECT r = WindowRect(window);
        const HDC screen = GetDC(nullptr);
        for (int ring = 0; ring < 3; ++ring) {
            SCOPED_TRACE("screen ring " + std::to_string(ring));
            EXPECT_EQ(GetPixel(screen, r.left + ring, r.top + h / 2), c.Rings[ring][0]);
            EXPECT_EQ(GetPixel(screen, r.left + w / 2, r.top + ring), c.Rings[ring][0]);
            EXPECT_EQ(GetPixel(screen, r.right - 1 - ring, r.top + h / 2), c.Rings[ring][1]);
            EXPECT_EQ(GetPixel(screen, r.left + w / 2, r.bottom - 1 - ring), c.Rings[ring][1]);
        }
        ReleaseDC(nullptr, screen);
        FreeAndNil(popup);
    }
}

TEST_F(DkPopupWindowTest, AMenuTallerThanItsMonitorShowsScrollArrows)
{
    system.Area = {0, 0, 400, 200};
    popup = DkPopupAtPoint(Menu(30), {10, 10}, dkpaLeft, false);
    TDkView* view = popup->View();
    EXPECT_EQ(view->MaxHeight, 194);
    ASSERT_TRUE(view->ShowDownArrow);
    EXPECT_FALSE(view->ShowUpArrow);
    EXPECT_EQ(WindowRect(popup->Handle()).bottom - WindowRect(popup->Handle()).top, 200);

    const COLORREF text = GetSysColor(COLOR_MENUTEXT), back = GetSysColor(COLOR_MENU);
    ASSERT_NE(text, back);
    RECT client;
    GetClientRect(popup->Handle(), &client);
    const int cx = 3 + client.right / 2;  // in the printed window
    {
        SCOPED_TRACE("the down arrow");
        const TTestDib printed = Printed(popup->Handle(), PrintAll);
        const int band = 3 + client.bottom - DkScrollArrowHeight;
        const int cy = band + DkScrollArrowHeight / 2;
        for (int x = cx - 3; x <= cx + 3; ++x) EXPECT_EQ(printed.Pixel(x, cy - 1), text) << x;
        EXPECT_EQ(printed.Pixel(cx, cy), text);
        EXPECT_EQ(printed.Pixel(cx, cy + 1), text);
        EXPECT_EQ(printed.Pixel(cx - 4, cy - 1), back);
        EXPECT_EQ(printed.Pixel(cx + 4, cy - 1), back);
        EXPECT_EQ(printed.Pixel(cx - 2, cy + 1), back);
        EXPECT_EQ(printed.Pixel(cx, cy + 2), back);
    }

    view->Scroll(true);
    ASSERT_TRUE(view->ShowUpArrow);
    {
        SCOPED_TRACE("the up arrow");
        const TTestDib printed = Printed(popup->Handle(), PrintAll);
        const int cy = 3 + DkScrollArrowHeight / 2;
        for (int x = cx - 3; x <= cx + 3; ++x) EXPECT_EQ(printed.Pixel(x, cy + 1), text) << x;
        EXPECT_EQ(printed.Pixel(cx, cy), text);
        EXPECT_EQ(printed.Pixel(cx, cy - 1), text);
        EXPECT_EQ(printed.Pixel(cx - 4, cy + 1), back);
        EXPECT_EQ(printed.Pixel(cx + 4, cy + 1), back);
        EXPECT_EQ(printed.Pixel(cx + 2, cy - 1), back);
        EXPECT_EQ(printed.Pixel(cx, cy - 2), back);
    }
}

TEST_F(DkPopupWindowTest, TellsTheHintOfTheSelectedViewer)
{
    popup = DkPopupAtPoint(Menu(3), {100, 100}, dkpaLeft, true);
    TDkView* view = popup->View();
    ASSERT_NE(view->Selected(), nullptr);
    EXPECT_EQ(view->Selected(), view->Viewers(0));
    RECT rect;
    std::string hint;
    ASSERT_TRUE(popup->GetHintInfo(rect, hint));
    EXPECT_EQ(hint, "Hint 1");
    EXPECT_TRUE(EqualRect(&rect, &view->Viewers(0)->BoundsRect));

    view->Select(nullptr, false);
    EXPECT_FALSE(popup->GetHintInfo(rect, hint));
    EXPECT_EQ(hint, "");
}

// Every kind of menu line in one popup, left for a person to look at; the selected line is
// filled with the highlight colour across its caption.
TEST_F(DkPopupWindowTest, AMenuShowsEachKindOfLine)
{
    auto* menu = new TSubmenuItem(&items);
    auto add = [&](TDkCustomItem* item, const char* caption) {
        item->SetCaption(caption);
        menu->Add(item);
        return item;
    };
    add(new TDkItem(&items), "&Open")->SetShortCut(ShortCut('O', scCtrl));
    add(new TDkItem(&items), "&Checked")->SetChecked(true);
    add(new TDkItem(&items), "&Disabled")->SetEnabled(false);
    menu->Add(new TDkSeparatorItem(&items));
    add(new TSubmenuItem(&items), "&More")->Add(new TDkItem(&items));
    popup = DkPopupAtPoint(menu, {120, 120}, dkpaLeft, true);
    ASSERT_NE(popup, nullptr);
    popup->Update();
    ASSERT_TRUE(SaveScreenshot(popup->Handle(), ArtifactPath("menu_lines.bmp")));

    const TTestDib printed = Printed(popup->Handle(), PrintAll);
    const RECT line = popup->View()->Viewers(0)->BoundsRect;
    // The client starts 3 pixels in; the fill begins after the check column.
    const int y = 3 + (line.top + line.bottom) / 2;
    int filled = 0;
    for (int x = 3 + line.bottom - line.top + 1; x < 3 + line.right; ++x)
        if (printed.Pixel(x, y) == GetSysColor(COLOR_HIGHLIGHT)) ++filled;
    EXPECT_GT(filled, (line.right - line.left) / 2);
}

TEST_F(DkPopupWindowTest, RunsTheViewTimersAndStopsThemWithItsWindow)
{
    system.Area = {0, 0, 400, 200};
    popup = DkPopupAtPoint(Menu(30), {10, 10}, dkpaLeft, false);
    TDkView* view = popup->View();
    ASSERT_TRUE(view->ShowDownArrow);
    view->StartTimer(dkvtScrollDown, 10);
    ASSERT_TRUE(view->Timers & (1u << dkvtScrollDown));
    EXPECT_TRUE(PumpUntil([&] { return view->ScrollOffset > 0; }));

    // Windows takes an owned popup down with its owner, without asking the object.
    view->StartTimer(dkvtClose, 60000);
    DestroyWindow(popup->Handle());
    EXPECT_EQ(view->Timers, 0u);
    EXPECT_FALSE(popup->HandleAllocated());
    EXPECT_FALSE(popup->Visible());

    // Shown again, it makes a new window with its frame.
    popup->Show();
    ASSERT_TRUE(popup->HandleAllocated());
    EXPECT_TRUE(IsWindowVisible(popup->Handle()));
    RECT client;
    GetClientRect(popup->Handle(), &client);
    EXPECT_EQ(client.bottom, WindowRect(popup->Handle()).bottom - WindowRect(popup->Handle()).top - 6);
}

// The scheme of the popup sound, set for the test when the prefix has none.
class TPopupSoundScheme {
public:
    TPopupSoundScheme()
    {
        if (NeedToPlaySound("MenuPopup")) return;
        HKEY raw = nullptr;
        DWORD disposition = 0;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, EventKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw,
                            &disposition) != ERROR_SUCCESS)
            return;
        createdEvent_ = disposition == REG_CREATED_NEW_KEY;
        RegCloseKey(raw);
        if (RegCreateKeyExA(HKEY_CURRENT_USER, CurrentKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw,
                            &disposition) != ERROR_SUCCESS)
            return;
        TRegKey key(raw);
        createdCurrent_ = disposition == REG_CREATED_NEW_KEY;
        static const char file[] = "popup.wav";
        set_ = RegSetValueExA(key.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(file), sizeof file) ==
               ERROR_SUCCESS;
    }
    ~TPopupSoundScheme()
    {
        if (set_ && !createdCurrent_) {
            HKEY raw = nullptr;
            if (RegOpenKeyExA(HKEY_CURRENT_USER, CurrentKey, 0, KEY_SET_VALUE, &raw) == ERROR_SUCCESS) {
                TRegKey key(raw);
                RegSetValueExA(key.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
            }
        }
        if (createdCurrent_) RegDeleteKeyA(HKEY_CURRENT_USER, CurrentKey);
        if (createdEvent_) RegDeleteKeyA(HKEY_CURRENT_USER, EventKey);
    }

private:
    static constexpr const char* EventKey = "AppEvents\\Schemes\\Apps\\.Default\\MenuPopup";
    static constexpr const char* CurrentKey = "AppEvents\\Schemes\\Apps\\.Default\\MenuPopup\\.Current";
    bool createdEvent_ = false, createdCurrent_ = false, set_ = false;
};

TEST_F(DkPopupWindowTest, TheFirstPopupSoundWaitsForThePopupLaterOnesPrecedeIt)
{
    TPopupSoundScheme scheme;
    ASSERT_TRUE(NeedToPlaySound("MenuPopup"));
    TDkCustomItem* menu = Menu(3);
    for (int i = 0; i < 3; ++i) {
        popup = DkPopupAtPoint(menu, {100, 100}, dkpaLeft, false);
        EXPECT_TRUE(IsWindowVisible(popup->Handle()));
        FreeAndNil(popup);
    }
    ASSERT_EQ(sounds.size(), 3u);
    for (const TSound& s : sounds) EXPECT_EQ(s.Alias, "MenuPopup");
    EXPECT_TRUE(sounds[0].PopupVisible);
    EXPECT_FALSE(sounds[1].PopupVisible);
    EXPECT_FALSE(sounds[2].PopupVisible);
}

}  // namespace
