// Views without a loop: the accelerator search, the menu show delay as stored, measuring,
// the split button's parts, the viewers kept in step with the items, the layout pass's
// effects, view timers on a hidden popup, and what a loop's result does afterwards.
#include "DkCommon.h"
#include "DkPopup.h"
#include "DkView.h"

#include "Application.h"
#include "ImgList.h"
#include "ItemTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// A hidden top-level window that records what it is sent.
class THiddenWindow : public TCustomControl {
public:
    THiddenWindow() : TCustomControl(nullptr)
    {
        SetVisible(false);
        SetBounds(0, 0, 200, 100);
    }
    std::vector<TMessage> SysCommands;
    void WndProc(TMessage& m) override
    {
        if (m.Msg == WM_SYSCOMMAND) {
            SysCommands.push_back(m);
            m.Result = 0;
            return;
        }
        TCustomControl::WndProc(m);
    }

protected:
    void CreateParams(TCreateParams& params) override
    {
        TCustomControl::CreateParams(params);
        params.Style = WS_POPUP;
        params.Parent = nullptr;
    }
};

// A root with its items and a view over them (a menu unless asked for a toolbar).
struct TRig {
    explicit TRig(bool toolbar = false, TWinControl* window = nullptr)
    {
        view = std::make_unique<TDkView>(nullptr, nullptr, window, &root, nullptr, toolbar, false, false);
        view->IsToolbar = toolbar;
    }
    ~TRig()
    {
        view.reset();
        root.Clear();
    }
    template <class T = TStyledItem>
    T* Add(const std::string& caption = "")
    {
        T* item = new T(nullptr);
        item->SetCaption(caption);
        root.Add(item);
        return item;
    }
    TDkItemViewer* At(int i) { return view->Viewers(i); }

    TDkRootItem root{nullptr};
    std::unique_ptr<TDkView> view;
};

// Text metrics of the view's font, as the measuring canvas has it.
struct TMeasureDC {
    explicit TMeasureDC(TDkView& view) : dc(CreateCompatibleDC(nullptr))
    {
        canvas.Font.Assign(&view.Font());
        canvas.SetHandle(dc.Get());
        GetTextMetricsA(dc.Get(), &tm);
    }
    SIZE Measure(TDkItemViewer* viewer)
    {
        int w = 0, h = 0;
        viewer->CalcSize(canvas, w, h);
        return {w, h};
    }
    TMemoryDCHandle dc;
    TCanvas canvas;
    TEXTMETRICA tm = {};
};

// --- the accelerator search ------------------------------------------------------------

// Captions with marks in front: '!' disabled, '~' invisible, '-' a separator item, '^'
// gone to the chevron (not shown, off edge).
struct TAccelCase {
    const char* Name;
    std::vector<std::string> Items;
    char Typed;
    int After;  // index of the viewer to start after, -1 = from the first
    bool ExplicitOnly;
    int Expected;  // -1 = none
    bool Unique;
};

TEST(DkViewAccelerators, FindsTheViewerByTheTable)
{
    const std::vector<TAccelCase> cases = {
        {"an explicit accelerator", {"&Open", "&Save", "Close"}, 's', -1, false, 1, true},
        {"case does not matter", {"&Open", "&save", "Close"}, 'S', -1, false, 1, true},
        {"explicit accelerators before first letters", {"Sort", "Ex&it", "Pa&ste"}, 's', -1, false, 2, true},
        {"enabled items before disabled ones", {"!&Print", "&Paste"}, 'p', -1, false, 1, true},
        {"a disabled match when no enabled one has it", {"!&Print", "Close"}, 'p', -1, false, 0, true},
        {"two disabled matches: the first, unique", {"!&Run", "!&Redo"}, 'r', -1, false, 0, true},
        {"a disabled duplicate leaves the enabled match unique", {"&Run", "!&Redo"}, 'r', -1, false, 0, true},
        {"first letter of a caption without an accelerator", {"&Open", "Close", "Copy"}, 'c', -1, false, 1, false},
        {"a caption with an accelerator has no first-letter match", {"C&ut", "Copy"}, 'c', -1, false, 1, true},
        {"first letters round for disabled items", {"!Close", "&Open"}, 'c', -1, false, 0, true},
        {"explicit only: no first letters", {"Close", "Copy"}, 'c', -1, true, -1, false},
        {"a space never matches a first letter", {" lead", "x"}, ' ', -1, false, -1, false},
        {"an explicit space accelerator matches", {"a& b", "x"}, ' ', -1, false, 0, true},
        {"duplicates are not unique", {"&Alpha", "&Again"}, 'a', -1, false, 0, false},
        {"wraps round past the end", {"&One", "&Two", "T&hree"}, 'o', 2, false, 0, true},
        {"starts after the given viewer", {"&Save", "&Send"}, 's', 0, false, 1, false},
        {"the start viewer itself comes last", {"&Save", "Open"}, 's', 0, false, 0, true},
        {"invisible items are no candidates", {"~&Hidden", "&Help"}, 'h', -1, false, 1, true},
        {"separators are no candidates", {"-&Sep", "&Stop"}, 's', -1, false, 1, true},
        {"items gone to the chevron are candidates", {"&Keep", "^&Gone"}, 'g', -1, false, 1, true},
        {"no match", {"&Open", "&Save"}, 'z', -1, false, -1, false},
    };
    for (const TAccelCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TRig rig;
        std::vector<bool> offEdge;
        for (const std::string& entry : c.Items) {
            std::string caption = entry;
            const char mark = caption[0];
            TDkCustomItem* item = nullptr;
            if (mark == '-') {
                item = rig.Add<TDkSeparatorItem>(caption.substr(1));
            } else {
                if (mark == '!' || mark == '~' || mark == '^') caption.erase(0, 1);
                item = rig.Add(caption);
                if (mark == '!') item->SetEnabled(false);
                if (mark == '~') item->SetVisible(false);
            }
            offEdge.push_back(mark == '^');
        }
        for (int i = 0; i < rig.view->ViewerCount(); ++i)
            if (offEdge[i]) {
                rig.At(i)->Show = false;
                rig.At(i)->OffEdge = true;
            }
        bool unique = !c.Unique;
        TDkItemViewer* after = c.After >= 0 ? rig.At(c.After) : nullptr;
        TDkItemViewer* found = rig.view->FindAccelerator(c.Typed, after, c.ExplicitOnly, unique);
        EXPECT_EQ(found ? rig.view->IndexOf(found) : -1, c.Expected);
        if (found) {
            EXPECT_EQ(unique, c.Unique);
        }
    }
}

// --- the menu show delay -----------------------------------------------------------------

TEST(DkViewMenuShowDelay, ReadsTheStoredValueByTheTable)
{
    const struct {
        const char* Name;
        bool Present;
        DWORD Type;
        std::string Data;
        int Expected;
    } cases[] = {
        {"missing", false, REG_NONE, "", 400},
        {"digits", true, REG_SZ, std::string("250\0", 4), 250},
        {"without the terminator", true, REG_SZ, "100", 100},
        {"zero", true, REG_SZ, "0", 0},
        {"surrounding blanks", true, REG_SZ, " 80 ", 80},
        {"an expandable string", true, REG_EXPAND_SZ, "300", 300},
        {"negative counts as 0", true, REG_SZ, "-20", 0},
        {"not a number", true, REG_SZ, "fast", 0},
        {"digits then text", true, REG_SZ, "12ms", 0},
        {"empty", true, REG_SZ, "", 0},
        {"a sign alone", true, REG_SZ, "-", 0},
        {"beyond 32 bits", true, REG_SZ, "99999999999", 0},
        {"a number stored as a DWORD", true, REG_DWORD, std::string("\x90\x01\0\0", 4), 0},
        {"binary", true, REG_BINARY, "400", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(ParseMenuShowDelay(c.Present, c.Type, c.Data), c.Expected);
    }
}

TEST(DkViewMenuShowDelay, IsNeverNegative)
{
    EXPECT_GE(GetMenuShowDelay(), 0);
    EXPECT_EQ(GetMenuShowDelay(), GetMenuShowDelay());
}

// --- measuring ---------------------------------------------------------------------------

TEST(DkViewMeasuring, ToolbarButtonsMeasureByTheTable)
{
    TCustomImageList images(nullptr);
    images.SetWidth(16);
    images.SetHeight(16);
    const struct {
        const char* Name;
        TDkViewOrientation Orientation;
        TDkItemDisplayMode Mode;
        bool Image;
        TDkItemOptions Options;
        int Width;   // 0: not compared
        int Height;  // -1: 6 + the font's height
    } cases[] = {
        {"an image alone: the classic 23 by 22", dkvoHorizontal, dkdmDefault, true, 0, 23, 22},
        {"a caption: 6 more than the font is high", dkvoHorizontal, dkdmDefault, false, 0, 0, -1},
        {"an image alone in a vertical toolbar", dkvoVertical, dkdmDefault, true, 0, 23, 22},
        {"image above caption: the image's height on top", dkvoHorizontal, dkdmImageAndText, true,
         DkOption(dkoImageAboveCaption), 0, -2},
        {"text only ignores the image", dkvoHorizontal, dkdmTextOnly, true, 0, 0, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TRig rig(true);
        TStyledItem* item = rig.Add("Go");
        item->SetDisplayMode(c.Mode);
        item->SetOptions(c.Options);
        if (c.Image) {
            item->SetImages(&images);
            item->SetImageIndex(0);
        }
        rig.view->Orientation = c.Orientation;
        TMeasureDC m(*rig.view);
        const SIZE size = m.Measure(rig.At(0));
        if (c.Width) {
            EXPECT_EQ(size.cx, c.Width);
        }
        const int height = c.Height == -1 ? 6 + m.tm.tmHeight : c.Height == -2 ? 6 + m.tm.tmHeight + 16 : c.Height;
        EXPECT_EQ(size.cy, height);
    }
}

TEST(DkViewMeasuring, ArrowsAndSplitPartsAddTheirRoom)
{
    const struct {
        const char* Name;
        TDkViewOrientation Orientation;
        TDkItemStyle Style;
        TDkItemOptions Options;
        SIZE Added;
    } cases[] = {
        {"a split button: 11 wider", dkvoHorizontal, dkisSubmenu | dkisSplitButton, 0, {11, 0}},
        {"a split button in a vertical toolbar: still 11 wider", dkvoVertical, dkisSubmenu | dkisSplitButton, 0,
         {11, 0}},
        {"a drop-down arrow: 8 along the row", dkvoHorizontal, dkisSubmenu, DkOption(dkoDropdownArrow), {8, 0}},
        {"a drop-down arrow in a vertical toolbar: 8 down the column", dkvoVertical, dkisSubmenu,
         DkOption(dkoDropdownArrow), {0, 8}},
        {"a sub-menu without the arrow option", dkvoHorizontal, dkisSubmenu, 0, {0, 0}},
        {"the arrow option without a sub-menu", dkvoHorizontal, 0, DkOption(dkoDropdownArrow), {0, 0}},
    };
    TCustomImageList images(nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TRig rig(true);
        rig.view->Orientation = c.Orientation;
        for (int i = 0; i < 2; ++i) {
            TStyledItem* item = rig.Add();
            item->SetImages(&images);
            item->SetImageIndex(0);
        }
        TStyledItem* styled = static_cast<TStyledItem*>(rig.root.Items(1));
        styled->AddStyle(c.Style);
        styled->SetOptions(c.Options);
        TMeasureDC m(*rig.view);
        const SIZE plain = m.Measure(rig.At(0)), with = m.Measure(rig.At(1));
        EXPECT_EQ(with.cx - plain.cx, c.Added.cx);
        EXPECT_EQ(with.cy - plain.cy, c.Added.cy);
    }
}

TEST(DkViewMeasuring, MenuLinesMeasureByTheTable)
{
    const struct {
        const char* Name;
        int ImageWidth, ImageHeight;  // 0: no image list
    } cases[] = {
        {"no image list: the column is as wide as the line is high", 0, 0},
        {"small images", 16, 16},
        {"wide images widen the column", 24, 16},
        {"tall images make the line higher", 16, 30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TRig rig(false);
        TCustomImageList images(nullptr);
        images.SetWidth(c.ImageWidth ? c.ImageWidth : 16);
        images.SetHeight(c.ImageHeight ? c.ImageHeight : 16);
        TStyledItem* plain = rig.Add("Open");
        TStyledItem* imaged = rig.Add("Open");
        if (c.ImageWidth) imaged->SetImages(&images);
        TMeasureDC m(*rig.view);
        const int lineHeight = m.tm.tmHeight + m.tm.tmExternalLeading + 4;
        const SIZE base = m.Measure(rig.At(0));
        const SIZE size = m.Measure(rig.At(1));
        EXPECT_EQ(base.cy, lineHeight);
        const int height = c.ImageWidth ? std::max(lineHeight, c.ImageHeight + 3) : lineHeight;
        EXPECT_EQ(size.cy, height);
        const int column = c.ImageWidth ? MulDiv(c.ImageWidth + 3, height, c.ImageHeight + 3) : height;
        // The caption and the 6 between are the same; the column and the arrow's room differ.
        EXPECT_EQ(size.cx - base.cx, (column + height) - 2 * lineHeight);
        (void)plain;
    }
}

TEST(DkViewMeasuring, SeparatorsAreSixAcrossInToolbarsAndTenHighInMenus)
{
    const struct {
        const char* Name;
        bool Toolbar;
        TDkViewOrientation Orientation;
        bool Blank;
        SIZE Expected;
    } cases[] = {
        {"horizontal toolbar", true, dkvoHorizontal, false, {6, 0}},
        {"floating toolbar", true, dkvoFloating, false, {6, 0}},
        {"vertical toolbar", true, dkvoVertical, false, {0, 6}},
        {"menu", false, dkvoHorizontal, false, {0, 10}},
        {"blank in a menu", false, dkvoHorizontal, true, {0, 10}},
        {"blank in a toolbar", true, dkvoHorizontal, true, {6, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TRig rig(c.Toolbar);
        rig.view->Orientation = c.Orientation;
        rig.Add<TDkSeparatorItem>()->SetBlank(c.Blank);
        TMeasureDC m(*rig.view);
        const SIZE size = m.Measure(rig.At(0));
        EXPECT_EQ(size.cx, c.Expected.cx);
        EXPECT_EQ(size.cy, c.Expected.cy);
    }
}

// --- the split button --------------------------------------------------------------------

TEST(DkViewSplitButton, TellsTheButtonPartByTheTable)
{
    const int check = GetSystemMetrics(SM_CXMENUCHECK);
    const struct {
        const char* Name;
        bool Toolbar;
        TDkItemStyle Style;
        int X;
        bool InButton;
    } cases[] = {
        {"toolbar split: left of the arrow part", true, dkisSubmenu | dkisSplitButton, 28, true},
        {"toolbar split: the arrow part starts 11 from the right", true, dkisSubmenu | dkisSplitButton, 29, false},
        {"toolbar split: the right edge", true, dkisSubmenu | dkisSplitButton, 39, false},
        {"menu split: left of the check-mark width", false, dkisSubmenu | dkisSplitButton, 100 - check - 1, true},
        {"menu split: within the check-mark width", false, dkisSubmenu | dkisSplitButton, 100 - check, false},
        {"a sub-menu without a split part is never the button", true, dkisSubmenu, 0, false},
        {"an item without a sub-menu is all button", true, 0, 39, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TRig rig(c.Toolbar);
        rig.Add("Split")->AddStyle(c.Style);
        TDkItemViewer* viewer = rig.At(0);
        viewer->BoundsRect = c.Toolbar ? RECT{10, 0, 50, 22} : RECT{0, 40, 100, 60};
        EXPECT_EQ(viewer->IsPtInButtonPart(c.X, 5), c.InButton);
    }
}

// --- viewers follow the items ------------------------------------------------------------

std::vector<TDkCustomItem*> ItemsOf(TDkView& view)
{
    std::vector<TDkCustomItem*> items;
    for (int i = 0; i < view.ViewerCount(); ++i) items.push_back(view.Viewers(i)->Item());
    return items;
}

TEST(DkViewViewers, FollowTheItemsWithTheChevronLast)
{
    TDkRootItem root(nullptr);
    TDkChevronItem chevron(nullptr);
    chevron.SetLinkSubitems(&root);
    auto* a = new TDkItem(nullptr);
    root.Add(a);
    TDkView view(nullptr, nullptr, nullptr, &root, &chevron, true, false, true);
    EXPECT_EQ(ItemsOf(view), (std::vector<TDkCustomItem*>{a, &chevron}));
    EXPECT_EQ(view.Viewers(1)->ViewerClass, &TDkChevronItemViewer::Create);

    auto* b = new TDkItem(nullptr);
    root.Add(b);
    auto* sep = new TDkSeparatorItem(nullptr);
    root.Insert(0, sep);
    EXPECT_EQ(ItemsOf(view), (std::vector<TDkCustomItem*>{sep, a, b, &chevron}));
    EXPECT_EQ(view.Viewers(0)->ViewerClass, &TDkSeparatorItemViewer::Create);
    // New viewers join the priority list as the least important.
    ASSERT_EQ(view.PriorityList().size(), 3u);
    EXPECT_EQ(view.PriorityList().front()->Item(), sep);

    root.Move(2, 0);
    EXPECT_EQ(ItemsOf(view), (std::vector<TDkCustomItem*>{b, sep, a, &chevron}));

    view.Select(view.Find(a), false);
    delete a;  // leaves its parent, and the view drops its viewer and the selection
    EXPECT_EQ(ItemsOf(view), (std::vector<TDkCustomItem*>{b, sep, &chevron}));
    EXPECT_EQ(view.Selected(), nullptr);
    EXPECT_EQ(view.PriorityList().size(), 2u);
    root.Clear();
}

TEST(DkViewViewers, ShowTheLinkedItemsAndForgetAFreedParent)
{
    TDkRootItem shared(nullptr);
    auto* x = new TDkItem(nullptr);
    shared.Add(x);
    auto* holder = new TDkItem(nullptr);
    auto* own = new TDkItem(nullptr);
    holder->Add(own);
    auto view = std::make_unique<TDkView>(nullptr, nullptr, nullptr, holder, nullptr, false, false, false);
    EXPECT_EQ(ItemsOf(*view), (std::vector<TDkCustomItem*>{own}));

    holder->SetLinkSubitems(&shared);
    EXPECT_EQ(ItemsOf(*view), (std::vector<TDkCustomItem*>{x}));
    // A change among the linked items reaches the view through the link.
    auto* y = new TDkItem(nullptr);
    shared.Add(y);
    EXPECT_EQ(ItemsOf(*view), (std::vector<TDkCustomItem*>{x, y}));

    delete holder;
    EXPECT_EQ(view->ParentItem(), nullptr);
    EXPECT_EQ(view->ViewerCount(), 0);
    view->UpdatePositions();  // nothing left to lay out, and nothing to crash on
    EXPECT_EQ(view->TotalSize().x, 23);
    view.reset();
    delete own;
    shared.Clear();
}

TEST(DkViewViewers, SelectionSkipsWhatCannotBeSelectedAndWraps)
{
    TRig rig;
    TStyledItem* a = rig.Add("A");
    rig.Add<TDkSeparatorItem>();
    TStyledItem* hidden = rig.Add("Hidden");
    hidden->SetVisible(false);
    TStyledItem* b = rig.Add("B");
    TDkView& v = *rig.view;
    EXPECT_EQ(v.FirstSelectable(false), v.Find(a));
    EXPECT_EQ(v.FirstSelectable(true), v.Find(b));
    EXPECT_EQ(v.NextSelectable(v.Find(a), true), v.Find(b));
    EXPECT_EQ(v.NextSelectable(v.Find(b), true), v.Find(a));
    EXPECT_EQ(v.NextSelectable(v.Find(a), false), v.Find(b));
    EXPECT_EQ(v.NextSelectable(nullptr, true), v.Find(a));

    std::vector<std::string> log;
    for (TDkCustomItem* item : {static_cast<TDkCustomItem*>(a), static_cast<TDkCustomItem*>(b)})
        item->OnSelect = [&log](TDkCustomItem* sender, TDkItemViewer*, bool selecting) {
            log.push_back((selecting ? "+" : "-") + sender->Caption());
        };
    v.Select(v.Find(a), false);
    v.Select(v.Find(b), false);
    v.Select(nullptr, false);
    EXPECT_EQ(log, (std::vector<std::string>{"+A", "-A", "+B", "-B"}));
}

// --- the layout pass's effects ------------------------------------------------------------

TEST(DkViewLayout, ApplyingCopiesThePlacesAndAskingOnlyChangesNothing)
{
    TRig rig(true);
    TCustomImageList images(nullptr);
    for (int i = 0; i < 3; ++i) {
        TStyledItem* item = rig.Add();
        item->SetImages(&images);
        item->SetImageIndex(0);
    }
    TDkView& v = *rig.view;
    int lines = 0;
    POINT total = {}, base = {};
    v.Orientation = dkvoHorizontal;
    for (int i = 0; i < 3; ++i) v.Viewers(i)->BoundsRect = {0, 0, 0, 0};
    EXPECT_FALSE(v.LayOutViewers(false, dkvoVertical, lines, total, base, 12, 0, 0));
    EXPECT_EQ(total.x, 23);
    EXPECT_EQ(total.y, 66);
    EXPECT_EQ(v.Orientation, dkvoHorizontal);  // back after the pass
    EXPECT_TRUE(IsRectEmpty(&v.Viewers(2)->BoundsRect));

    EXPECT_TRUE(v.LayOutViewers(true, dkvoHorizontal, lines, total, base, 12, 0, 0));
    EXPECT_EQ(lines, 1);
    EXPECT_EQ(total.x, 69);
    EXPECT_EQ(total.y, 22);
    const RECT third = v.Viewers(2)->BoundsRect;
    EXPECT_EQ(third.left, 46);
    EXPECT_EQ(third.right, 69);
    EXPECT_TRUE(v.Viewers(2)->Show);
    // The same again changes nothing.
    EXPECT_FALSE(v.LayOutViewers(true, dkvoHorizontal, lines, total, base, 12, 0, 0));
}

TEST(DkViewLayout, TheChevronIsEnabledOnlyWhenAnItemWentToIt)
{
    const struct {
        const char* Name;
        int Available;
        bool ChevronShown;
        bool ChevronEnabled;
        int OffEdge;  // how many buttons went to the chevron
    } cases[] = {
        {"room for all", 0, false, true, 0},
        {"room for two of four", 60, true, true, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TDkRootItem root(nullptr);
        TDkChevronItem chevron(nullptr);
        chevron.SetLinkSubitems(&root);
        chevron.SetEnabled(false);
        TCustomImageList images(nullptr);
        for (int i = 0; i < 4; ++i) {
            auto* item = new TDkItem(nullptr);
            item->SetImages(&images);
            item->SetImageIndex(0);
            root.Add(item);
        }
        {
            TDkView view(nullptr, nullptr, nullptr, &root, &chevron, true, false, false);
            view.AvailableLength = c.Available;
            view.UpdatePositions();
            TDkItemViewer* chevronViewer = view.Viewers(view.ViewerCount() - 1);
            EXPECT_EQ(chevronViewer->Item(), &chevron);
            EXPECT_EQ(chevronViewer->Show, c.ChevronShown);
            if (c.ChevronShown) {
                EXPECT_EQ(chevron.Enabled(), c.ChevronEnabled);
            }
            int off = 0;
            for (int i = 0; i < 4; ++i) off += view.Viewers(i)->OffEdge ? 1 : 0;
            EXPECT_EQ(off, c.OffEdge);
        }
        root.Clear();
    }
}

// A plain child window to host as an item's control.
class TChildControl : public TCustomControl {
public:
    TChildControl() : TCustomControl(nullptr) { SetBounds(0, 0, 40, 20); }
};

TEST(DkViewLayout, ControlsGoToTheirPlaceOrOutOfSight)
{
    const struct {
        const char* Name;
        bool Toolbar;
        bool Parented;
        int MaxHeight;
        bool Shown, Clipped;
    } cases[] = {
        {"not in the view's window: not shown", true, false, 0, false, false},
        {"in the view's window: placed after the button", true, true, 0, true, false},
        {"under a menu's scroll arrow: out of sight, its size kept", false, true, 40, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        THiddenWindow window;
        window.Handle();
        TChildControl control;
        if (c.Parented) control.SetParent(&window);
        {
            TRig rig(c.Toolbar, &window);
            rig.view->MaxHeight = c.MaxHeight;
            TCustomImageList images(nullptr);
            for (int i = 0; i < (c.Toolbar ? 1 : 4); ++i) {
                TStyledItem* button = rig.Add(c.Toolbar ? "" : "Line");
                if (c.Toolbar) {
                    button->SetImages(&images);
                    button->SetImageIndex(0);
                }
            }
            auto* host = new TDkControlItem(nullptr);
            host->DontFreeControl = true;
            host->SetControl(&control);
            rig.root.Add(host);
            rig.view->UpdatePositions();
            TDkItemViewer* viewer = rig.view->Find(host);
            EXPECT_EQ(viewer->Show, c.Shown);
            EXPECT_EQ(viewer->Clipped, c.Clipped);
            if (c.Shown) {
                EXPECT_EQ(control.Left(), 23);
                EXPECT_EQ(control.Width(), 40);
                EXPECT_EQ(control.Top(), 1);  // centred across the row of 22
                EXPECT_EQ(control.Height(), 20);
            }
            if (c.Clipped) {
                const RECT client = window.ClientRect();
                EXPECT_EQ(control.Left(), client.right);
                EXPECT_EQ(control.Top(), client.bottom);
                EXPECT_EQ(control.Width(), 40);
                EXPECT_EQ(control.Height(), 20);
            }
            rig.root.Remove(host);
            delete host;
        }
        control.SetParent(nullptr);
    }
}

// Viewers of a fixed size, and one that cannot be measured.
class TFixedViewer : public TDkItemViewer {
public:
    using TDkItemViewer::TDkItemViewer;
    void CalcSize(TCanvas&, int& width, int& height) override
    {
        width = 100;
        height = 20;
    }
    static TDkItemViewer* Create(TDkView* view, TDkCustomItem* item) { return new TFixedViewer(view, item); }
};

class TFailingViewer : public TDkItemViewer {
public:
    using TDkItemViewer::TDkItemViewer;
    void CalcSize(TCanvas&, int&, int&) override { throw std::runtime_error("cannot measure"); }
    static TDkItemViewer* Create(TDkView* view, TDkCustomItem* item) { return new TFailingViewer(view, item); }
};

// An item that asks for the viewer class it is told to.
class TChoosingItem : public TDkItem {
public:
    explicit TChoosingItem(TComponent* owner) : TDkItem(owner) {}
    TDkItemViewerClass Wanted = &TDkItemViewer::Create;
    TDkItemViewerClass GetItemViewerClass(TDkView*) const override { return Wanted; }
};

TEST(DkViewLayout, AnotherViewerClassIsMadeOnlyWhenApplying)
{
    TRig rig(false);
    auto* item = rig.Add<TChoosingItem>("Line");
    TDkItemViewer* before = rig.view->Find(item);
    EXPECT_EQ(before->ViewerClass, &TDkItemViewer::Create);
    item->Wanted = &TFixedViewer::Create;
    int lines = 0;
    POINT total = {}, base = {};
    rig.view->LayOutViewers(false, dkvoHorizontal, lines, total, base, 12, 0, 0);
    EXPECT_EQ(total.x, 100);  // measured by a viewer of the wanted class
    EXPECT_EQ(total.y, 22);   // at least 22 high
    EXPECT_EQ(rig.view->Find(item), before);
    EXPECT_EQ(before->ViewerClass, &TDkItemViewer::Create);

    rig.view->LayOutViewers(true, dkvoHorizontal, lines, total, base, 12, 0, 0);
    TDkItemViewer* after = rig.view->Find(item);
    EXPECT_EQ(after->ViewerClass, &TFixedViewer::Create);
    EXPECT_NE(dynamic_cast<TFixedViewer*>(after), nullptr);
    EXPECT_TRUE(after->Show);
}

TEST(DkViewLayout, AFailingPassRestoresTheOrientation)
{
    TRig rig(true);
    auto* item = rig.Add<TChoosingItem>("Line");
    item->Wanted = &TFailingViewer::Create;
    rig.view->Orientation = dkvoHorizontal;
    int lines = 0;
    POINT total = {}, base = {};
    for (const bool apply : {false, true}) {
        SCOPED_TRACE(apply ? "applying" : "measuring");
        EXPECT_THROW(rig.view->LayOutViewers(apply, dkvoVertical, lines, total, base, 12, 0, 0), std::runtime_error);
        EXPECT_EQ(rig.view->Orientation, dkvoHorizontal);
    }
}

// Ten lines 20 high in a menu 100 high: the arrows' bands are 19 high.
TEST(DkViewScrolling, TallMenusScrollByTheTable)
{
    const struct {
        const char* Name;
        int StartOffset;
        int Action;  // 0 scroll down, 1 scroll up, 2 select line `Line`
        int Line;
        int Offset;
        bool Up, Down;
        std::vector<int> Shown;
    } cases[] = {
        {"at the top only the down arrow shows", 0, -1, 0, 0, false, true, {0, 1, 2, 3}},
        {"down: the first hidden line ends above the down arrow", 0, 0, 0, 19, true, true, {2, 3, 4}},
        {"up: the last line under the up arrow starts below it", 19, 1, 0, 1, true, true, {1, 2, 3}},
        {"down at the end does nothing more", 100, 0, 0, 100, true, false, {6, 7, 8, 9}},
        {"selecting the last line scrolls to the end", 0, 2, 9, 100, true, false, {6, 7, 8, 9}},
        {"selecting the first line scrolls to the top", 100, 2, 0, 0, false, true, {0, 1, 2, 3}},
        {"selecting a shown line scrolls nothing", 0, 2, 1, 0, false, true, {0, 1, 2, 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TRig rig(false);
        rig.view->MaxHeight = 100;
        for (int i = 0; i < 10; ++i) rig.Add<TChoosingItem>("Line")->Wanted = &TFixedViewer::Create;
        rig.view->RecreateAllViewers();
        rig.view->ScrollOffset = c.StartOffset;
        rig.view->UpdatePositions();
        if (c.Action == 0) rig.view->Scroll(true);
        if (c.Action == 1) rig.view->Scroll(false);
        if (c.Action == 2) rig.view->Select(rig.At(c.Line), true);
        EXPECT_EQ(rig.view->ScrollOffset, c.Offset);
        EXPECT_EQ(rig.view->ShowUpArrow, c.Up);
        EXPECT_EQ(rig.view->ShowDownArrow, c.Down);
        std::vector<int> shown;
        for (int i = 0; i < 10; ++i)
            if (rig.At(i)->Show) shown.push_back(i);
        EXPECT_EQ(shown, c.Shown);
    }
}

// --- priority ------------------------------------------------------------------------

TEST(DkViewPriority, AnItemClickedInTheChevronsPopupComesBackToTheToolbar)
{
    TDkRootItem root(nullptr);
    TDkChevronItem chevron(nullptr);
    chevron.SetLinkSubitems(&root);
    TCustomImageList images(nullptr);
    std::vector<TDkItem*> items;
    for (int i = 0; i < 4; ++i) {
        items.push_back(new TDkItem(nullptr));
        items.back()->SetImages(&images);
        items.back()->SetImageIndex(0);
        root.Add(items.back());
    }
    auto offEdge = [&](TDkView& view) {
        std::vector<int> off;
        for (int i = 0; i < 4; ++i)
            if (view.Viewers(i)->OffEdge) off.push_back(i);
        return off;
    };
    {
        // Room for two buttons of 23 beside the chevron.
        TDkView toolbar(nullptr, nullptr, nullptr, &root, &chevron, true, false, true);
        toolbar.AvailableLength = 60;
        toolbar.UpdatePositions();
        EXPECT_EQ(offEdge(toolbar), (std::vector<int>{2, 3}));

        TDkView popup(nullptr, &toolbar, nullptr, &chevron, nullptr, true, false, false);
        popup.ChevronParentView = &toolbar;
        TDkLoopResult result;
        TDkLoopState loop;
        loop.Result = &result;
        popup.Find(items[3])->Execute(loop);
        EXPECT_TRUE(loop.Done);
        EXPECT_EQ(result.Kind, dklrClick);
        EXPECT_EQ(result.Item, items[3]);
        EXPECT_EQ(toolbar.PriorityList().back()->Item(), items[3]);
        EXPECT_EQ(offEdge(toolbar), (std::vector<int>{1, 2}));
    }
    root.Clear();
}

// --- view timers -----------------------------------------------------------------------

TEST(DkViewTimers, RunOnlyOnAPopupWindowWithAHandle)
{
    TRig rig;
    rig.Add("A");
    rig.view->StartTimer(dkvtClose, 10);
    EXPECT_EQ(rig.view->Timers, 0u);  // no window

    TDkItem item(nullptr);
    auto* sub = new TDkItem(nullptr);
    item.Add(sub);
    TDkPopupWindow popup(nullptr, nullptr, &item, dkvoHorizontal, nullptr);
    TDkView& view = *popup.View();
    view.StartTimer(dkvtClose, 10);
    EXPECT_EQ(view.Timers, 0u);  // no handle yet
    popup.Handle();
    view.StartTimer(dkvtClose, 10);
    view.StartTimer(dkvtScrollUp, 100000);
    EXPECT_EQ(view.Timers, (1u << dkvtClose) | (1u << dkvtScrollUp));
    // The close timer fires once, through the popup window, and stops itself.
    EXPECT_TRUE(PumpUntil([&] { return !(view.Timers & (1u << dkvtClose)); }, 5000));
    EXPECT_EQ(view.Timers, 1u << dkvtScrollUp);
    view.StopAllTimers();
    EXPECT_EQ(view.Timers, 0u);
    item.Clear();
}

// --- after the loop --------------------------------------------------------------------

TEST(DkViewLoopResult, IsCarriedOutByKind)
{
    const TDkSoundPlayer player = SetDkSoundPlayer([](const char*) {});
    // A click runs once the loop's caller lets messages through.
    TDkItem item(nullptr);
    int clicks = 0;
    item.OnClick = [&](TObject*) { ++clicks; };
    TDkLoopResult click;
    click.Kind = dklrClick;
    click.Item = &item;
    CarryOutLoopResult(click);
    EXPECT_EQ(clicks, 0);
    EXPECT_TRUE(PumpUntil([&] { return clicks == 1; }));

    // The system menu's key goes to the window with the character.
    THiddenWindow window;
    TDkLoopResult keyMenu;
    keyMenu.Kind = dklrSysKeyMenu;
    keyMenu.Window = window.Handle();
    keyMenu.Char = '-';
    CarryOutLoopResult(keyMenu);
    ASSERT_EQ(window.SysCommands.size(), 1u);
    EXPECT_EQ(window.SysCommands[0].WParam, static_cast<WPARAM>(SC_KEYMENU));
    EXPECT_EQ(window.SysCommands[0].LParam, '-');

    // Help on the item's context.
    std::vector<std::pair<UINT, ULONG_PTR>> asked;
    const std::string helpFile = Application->HelpFile;
    Application->HelpFile = "tavrin.hlp";
    const THelpSink before = Application->SetHelpSink([&](const std::string&, UINT command, ULONG_PTR data) {
        asked.emplace_back(command, data);
        return true;
    });
    item.SetHelpContext(42);
    TDkLoopResult help;
    help.Kind = dklrHelp;
    help.Item = &item;
    CarryOutLoopResult(help);
    item.SetHelpContext(0);
    CarryOutLoopResult(help);  // no context: no help
    Application->SetHelpSink(before);
    Application->HelpFile = helpFile;
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].first, static_cast<UINT>(HELP_CONTEXT));
    EXPECT_EQ(asked[0].second, 42u);
    SetDkSoundPlayer(player);
}

}  // namespace
