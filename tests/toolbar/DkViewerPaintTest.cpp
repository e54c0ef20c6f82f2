// How views paint their viewers and how buttons, menu lines, separators and the chevron
// look, read back from a 32-bit DIB. Colours come from the system, or from the painting's
// colour source where Wine's scheme cannot tell two of them apart.
#include "DkViewerPaint.h"

#include "DkCommon.h"
#include "DkImageList.h"
#include "DkView.h"
#include "ImageTestSupport.h"
#include "ItemTestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using TPixel = std::pair<int, int>;  // x, y
using TPixels = std::set<TPixel>;

const COLORREF kSentinel = RGB(1, 2, 3);  // what a DIB holds before painting
const COLORREF kGreen = RGB(0, 160, 0);
const COLORREF kRed = RGB(200, 0, 0);
const COLORREF kBlue = RGB(0, 0, 200);
const COLORREF kMagenta = RGB(255, 0, 255);

COLORREF Sys(int index)
{
    return GetSysColor(index);
}

// A hidden top-level window that shows the view and erases in its own colour, or, when
// asked, red left of a line and blue right of it.
class TTestWindow : public TCustomControl {
public:
    TTestWindow() : TCustomControl(nullptr)
    {
        SetVisible(false);
        SetBounds(0, 0, 200, 80);
    }
    int EraseSplitX = 0;
    void WndProc(TMessage& message) override
    {
        if (message.Msg != WM_ERASEBKGND || EraseSplitX <= 0) return TCustomControl::WndProc(message);
        const HDC dc = reinterpret_cast<HDC>(message.WParam);
        const RECT client = ClientRect();
        TGdiObject red(CreateSolidBrush(kRed)), blue(CreateSolidBrush(kBlue));
        const RECT left = {0, 0, EraseSplitX, client.bottom}, right = {EraseSplitX, 0, client.right, client.bottom};
        FillRect(dc, &left, static_cast<HBRUSH>(red.Get()));
        FillRect(dc, &right, static_cast<HBRUSH>(blue.Get()));
        message.Result = 1;
    }

protected:
    void CreateParams(TCreateParams& params) override
    {
        TCustomControl::CreateParams(params);
        params.Style = WS_POPUP;
        params.Parent = nullptr;
    }
};

// Settings the views read, switched without touching the system's.
class TTestChecks : public TDkSystemChecks {
public:
    bool Flat = false;
    bool CuesAlwaysShown = true;
    bool FlatMenusInUse() override { return Flat; }
    bool KeyboardCuesAlwaysShown() override { return CuesAlwaysShown; }
};

class TChecksInPlace {
public:
    TChecksInPlace() : old_(SetDkSystem(&Checks)) {}
    ~TChecksInPlace() { SetDkSystem(old_); }
    TTestChecks Checks;

private:
    TDkSystemChecks* old_;
};

// System colours with some replaced, for the painting alone.
std::map<int, COLORREF> colorOverrides;
COLORREF OverriddenColor(int index)
{
    const auto it = colorOverrides.find(index);
    return it != colorOverrides.end() ? it->second : GetSysColor(index);
}

class TColorsInPlace {
public:
    explicit TColorsInPlace(std::map<int, COLORREF> colors) : old_(SetDkPaintSysColor(&OverriddenColor))
    {
        colorOverrides = std::move(colors);
    }
    ~TColorsInPlace()
    {
        SetDkPaintSysColor(old_);
        colorOverrides.clear();
    }

private:
    TDkSysColorFunc old_;
};

// A 16 by 16 image list with one image of one colour.
class TSolidImages {
public:
    explicit TSolidImages(COLORREF color, TCustomImageList* list = nullptr)
        : own_(list ? nullptr : new TCustomImageList(nullptr)), list_(list ? list : own_.get())
    {
        TTestDib image(16, 16, color);
        list_->AddMasked(image.Handle(), kMagenta);
    }
    TCustomImageList* List() const { return list_; }

private:
    std::unique_ptr<TCustomImageList> own_;
    TCustomImageList* list_;
};

// A view over a hidden window, painting into a DIB through a memory DC.
class TPaintRig {
public:
    TPaintRig(bool toolbar, int width, int height) : dib(width, height), toolbar_(toolbar) { window.Handle(); }
    ~TPaintRig() { view_.reset(); }
    TPaintRig(const TPaintRig&) = delete;
    TPaintRig& operator=(const TPaintRig&) = delete;

    template <class T>
    T* Add()
    {
        T* item = new T(nullptr);
        root.Add(item);
        return item;
    }
    TDkView& View()
    {
        if (!view_) {
            view_ = std::make_unique<TDkView>(nullptr, nullptr, &window, &root, nullptr, toolbar_, false, false);
            view_->IsToolbar = toolbar_;
        }
        return *view_;
    }
    TDkItemViewer* Place(TDkCustomItem* item, RECT bounds)
    {
        TDkItemViewer* viewer = View().Find(item);
        if (!viewer) throw std::runtime_error("no viewer for the item");
        viewer->BoundsRect = bounds;
        viewer->Show = true;
        return viewer;
    }
    void Draw(TDkItemViewer* viewer, bool buffered = false, COLORREF before = kSentinel)
    {
        dib.Fill(before);
        View().DrawViewer(viewer, dib.DC(), buffered);
        GdiFlush();
    }
    HDC DC() const { return dib.DC(); }

    TTestWindow window;
    TDkRootItem root{nullptr};
    TTestDib dib;

private:
    bool toolbar_;
    std::unique_ptr<TDkView> view_;
};

TPixels PixelsIn(const TTestDib& dib, const RECT& area, COLORREF color)
{
    TPixels found;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x)
            if (dib.Pixel(x, y) == color) found.insert({x, y});
    return found;
}

TPixels Shifted(const TPixels& pixels, int dx, int dy)
{
    TPixels moved;
    for (const TPixel& p : pixels) moved.insert({p.first + dx, p.second + dy});
    return moved;
}

TPixels Without(const TPixels& pixels, const TPixels& taken)
{
    TPixels rest;
    for (const TPixel& p : pixels)
        if (!taken.count(p)) rest.insert(p);
    return rest;
}

std::string Describe(const TPixels& pixels)
{
    std::string text;
    for (const TPixel& p : pixels) {
        char one[32];
        wsprintfA(one, "(%d,%d)", p.first, p.second);
        text += one;
    }
    return text.empty() ? "none" : text;
}

// The smallest rectangle that holds the pixels (empty for none).
RECT BoxOf(const TPixels& pixels)
{
    if (pixels.empty()) return {0, 0, 0, 0};
    RECT box = {pixels.begin()->first, pixels.begin()->second, pixels.begin()->first + 1,
                pixels.begin()->second + 1};
    for (const TPixel& p : pixels) {
        box.left = std::min<int>(box.left, p.first);
        box.top = std::min<int>(box.top, p.second);
        box.right = std::max<int>(box.right, p.first + 1);
        box.bottom = std::max<int>(box.bottom, p.second + 1);
    }
    return box;
}

// The set bits of glyph rows (leftmost pixel in the top bit), placed at (x, y).
TPixels GlyphPixels(const std::vector<unsigned char>& rows, int x, int y)
{
    TPixels set;
    for (size_t row = 0; row < rows.size(); ++row)
        for (int bit = 0; bit < 8; ++bit)
            if (rows[row] & (0x80 >> bit)) set.insert({x + bit, y + static_cast<int>(row)});
    return set;
}

// ----------------------------------------------------------------------------------------
// The chevron

const std::vector<unsigned char> kChevronRight = {0xCC, 0x66, 0x33, 0x66, 0xCC};
const std::vector<unsigned char> kChevronDown = {0x88, 0xD8, 0x70, 0x20, 0x88, 0xD8, 0x70, 0x20};

TEST(DkChevronPaint, DrawsTheDoubleChevronGlyph)
{
    const struct {
        const char* name;
        TDkViewOrientation orientation;
        SIZE size;
        bool enabled, pushed, selected;
        POINT glyphAt;  // where the glyph's top-left bit lands
    } cases[] = {
        {"horizontal", dkvoHorizontal, {12, 22}, true, false, false, {2, 4}},
        {"horizontal, selected", dkvoHorizontal, {12, 22}, true, false, true, {2, 4}},
        {"horizontal, pushed", dkvoHorizontal, {12, 22}, true, true, true, {3, 5}},
        {"vertical", dkvoVertical, {22, 12}, true, false, false, {13, 2}},
        {"vertical, pushed", dkvoVertical, {22, 12}, true, true, true, {14, 3}},
        {"horizontal, disabled", dkvoHorizontal, {12, 22}, false, false, false, {2, 4}},
        {"vertical, disabled and selected", dkvoVertical, {22, 12}, false, false, true, {13, 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TPaintRig rig(true, c.size.cx, c.size.cy);
        TDkChevronItem chevron(nullptr);
        chevron.SetEnabled(c.enabled);
        rig.View().Orientation = c.orientation;
        TDkChevronItemViewer viewer(&rig.View(), &chevron);
        TTestCanvas target(c.size.cx, c.size.cy);
        target.dib.Fill(kSentinel);
        viewer.Paint(target.canvas, {0, 0, c.size.cx, c.size.cy}, false, c.pushed, c.selected);

        const std::vector<unsigned char>& rows = c.orientation == dkvoVertical ? kChevronDown : kChevronRight;
        const TPixels glyph = GlyphPixels(rows, c.glyphAt.x, c.glyphAt.y);
        const RECT inside = {1, 1, c.size.cx - 1, c.size.cy - 1};
        if (c.enabled) {
            EXPECT_EQ(Describe(PixelsIn(target.dib, inside, Sys(COLOR_BTNTEXT))), Describe(glyph));
        } else {
            // Lit one pixel below, the shadow over it.
            const TPixels light = Without(Shifted(glyph, 0, 1), glyph);
            EXPECT_EQ(Describe(PixelsIn(target.dib, inside, Sys(COLOR_BTNSHADOW))), Describe(glyph));
            EXPECT_EQ(Describe(PixelsIn(target.dib, inside, Sys(COLOR_BTNHIGHLIGHT))), Describe(light));
        }
        TPixels painted = glyph;
        if (!c.enabled) painted.merge(Shifted(glyph, 0, 1));
        const size_t area = static_cast<size_t>((inside.right - inside.left) * (inside.bottom - inside.top));
        EXPECT_EQ(area - PixelsIn(target.dib, inside, kSentinel).size(), painted.size())
            << "nothing else is painted inside";

        // The frame: sunken when pushed, raised when only selected, none otherwise (or disabled).
        const COLORREF corner = target.dib.Pixel(0, 0);
        if (c.enabled && c.pushed)
            EXPECT_EQ(ColorText(corner), ColorText(Sys(COLOR_BTNSHADOW)));
        else if (c.enabled && c.selected)
            EXPECT_EQ(ColorText(corner), ColorText(Sys(COLOR_BTNHIGHLIGHT)));
        else
            EXPECT_EQ(ColorText(corner), ColorText(kSentinel));
    }
}

// ----------------------------------------------------------------------------------------
// Menu lines

// The check mark's pixels around its centre: the dark stroke and its lit edge.
const TPixels kCheckDark = {{-2, -2}, {-1, -1}, {0, 0}, {1, -1}, {2, -2}, {3, -3}, {4, -4},
                            {4, -3},  {3, -2},  {2, -1}, {1, 0}, {0, 1},  {-1, 0}, {-2, -1}};
const TPixels kCheckLight = {{-3, -2}, {-3, -1}, {-2, 0}, {-1, 1}, {0, 2}, {1, 1},
                             {2, 0},   {3, -1},  {4, -2}, {5, -3}, {5, -4}};

TEST(DkMenuPaint, ACheckedLineWithoutImageShowsTheCheckMark)
{
    const struct {
        const char* name;
        int height;
        bool selected;
        POINT centre;  // the column moved by 1, 1, then its middle less 2 across and plus 1 down
    } cases[] = {
        {"22 high", 22, false, {10, 13}},
        {"17 high", 17, false, {7, 10}},
        {"22 high, selected", 22, true, {10, 13}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TPaintRig rig(false, 100, c.height);
        TDkItem* item = rig.Add<TDkItem>();
        item->SetChecked(true);
        TDkItemViewer* viewer = rig.Place(item, {0, 0, 100, c.height});
        if (c.selected) rig.View().Select(viewer, false);
        rig.Draw(viewer);

        const RECT column = {0, 0, c.height, c.height};  // as wide as the line is high
        EXPECT_EQ(Describe(PixelsIn(rig.dib, column, Sys(COLOR_BTNTEXT))),
                  Describe(Shifted(kCheckDark, c.centre.x, c.centre.y)));
        if (c.selected) {
            // No dither behind it: the lit edge is all the highlight inside the frame.
            const RECT inside = {1, 1, c.height - 1, c.height - 1};
            EXPECT_EQ(Describe(PixelsIn(rig.dib, inside, Sys(COLOR_BTNHIGHLIGHT))),
                      Describe(Shifted(kCheckLight, c.centre.x, c.centre.y)));
        } else {
            for (const TPixel& p : Shifted(kCheckLight, c.centre.x, c.centre.y))
                EXPECT_EQ(ColorText(rig.dib.Pixel(p.first, p.second)), ColorText(Sys(COLOR_BTNHIGHLIGHT)));
        }
    }
}

TEST(DkMenuPaint, TheSelectedLineIsFilledInTheMenuHighlight)
{
    // Wine's scheme gives both highlights one colour; these tell them apart.
    const COLORREF highlight = RGB(200, 20, 20), menuHighlight = RGB(20, 20, 200);
    const int width = 120, height = 22;
    const int checkWidth = GetSystemMetrics(SM_CXMENUCHECK);
    const struct {
        const char* name;
        bool selected, flat, checked, split;
        COLORREF fill;
        int from, to;  // the filled part of a row
    } cases[] = {
        {"classic menus", true, false, false, false, highlight, 0, width},
        {"flat menus", true, true, false, false, menuHighlight, 0, width},
        {"a check shows: after the column", true, false, true, false, highlight, height + 1, width},
        {"an enabled split item: up to its arrow part", true, true, false, true, menuHighlight, 0,
         width - checkWidth},
        {"not selected", false, false, false, false, highlight, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TColorsInPlace colors({{COLOR_HIGHLIGHT, highlight}, {COLOR_MENUHILIGHT, menuHighlight}});
        TChecksInPlace checks;
        checks.Checks.Flat = c.flat;
        TPaintRig rig(false, width, height);
        TStyledItem* item = rig.Add<TStyledItem>();
        item->SetChecked(c.checked);
        if (c.split) item->AddStyle(dkisSubmenu | dkisSplitButton);
        TDkItemViewer* viewer = rig.Place(item, {0, 0, width, height});
        if (c.selected) rig.View().Select(viewer, false);
        rig.Draw(viewer);

        const TPixels filled = PixelsIn(rig.dib, {0, 2, width, 3}, c.fill);
        const RECT box = BoxOf(filled);
        EXPECT_EQ(filled.size(), static_cast<size_t>(c.to - c.from)) << Describe(filled);
        if (c.to > c.from) {
            EXPECT_EQ(box.left, c.from);
            EXPECT_EQ(box.right, c.to);
        }
    }
}

// ----------------------------------------------------------------------------------------
// Toolbar buttons

TEST(DkToolbarPaint, ACheckedButtonThatIsNotHotIsDitheredWithItsImageMoved)
{
    const struct {
        const char* name;
        bool checked, selected;
        bool dithered;
        POINT imageMove;  // against an unchecked, unselected button
    } cases[] = {
        {"checked", true, false, true, {1, 1}},
        {"checked and hot", true, true, false, {1, 1}},
        {"hot", false, true, false, {0, 0}},
    };
    TSolidImages images(kGreen);
    const RECT bounds = {0, 0, 23, 22};

    auto imageBox = [&](bool checked, bool selected, TTestDib* copy) {
        TPaintRig rig(true, 23, 22);
        TDkItem* item = rig.Add<TDkItem>();
        item->SetImages(images.List());
        item->SetImageIndex(0);
        item->SetChecked(checked);
        TDkItemViewer* viewer = rig.Place(item, bounds);
        if (selected) rig.View().Select(viewer, false);
        rig.Draw(viewer);
        if (copy)
            for (int y = 0; y < 22; ++y)
                for (int x = 0; x < 23; ++x) copy->Fill({x, y, x + 1, y + 1}, rig.dib.Pixel(x, y));
        return BoxOf(PixelsIn(rig.dib, bounds, kGreen));
    };
    const RECT plain = imageBox(false, false, nullptr);
    ASSERT_EQ(plain.right - plain.left, 16);
    ASSERT_EQ(plain.bottom - plain.top, 16);

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TTestDib shot(23, 22);
        const RECT box = imageBox(c.checked, c.selected, &shot);
        EXPECT_EQ(box.left - plain.left, c.imageMove.x);
        EXPECT_EQ(box.top - plain.top, c.imageMove.y);

        // Inside the frame and around the image: face and highlight by turns, or nothing.
        const COLORREF face = Sys(COLOR_BTNFACE), light = Sys(COLOR_BTNHIGHLIGHT);
        int ditherPixels = 0, alternations = 0, pairs = 0;
        for (int y = 1; y < 21; ++y)
            for (int x = 1; x < 22; ++x) {
                const POINT p = {x, y};
                if (PtInRect(&box, p)) continue;
                const COLORREF here = shot.Pixel(x, y);
                if (here == face || here == light) ++ditherPixels;
                if (x + 1 < 22 && !PtInRect(&box, {x + 1, y})) {
                    ++pairs;
                    if (here != shot.Pixel(x + 1, y)) ++alternations;
                }
            }
        const int around = 20 * 21 - 16 * 16;
        if (c.dithered) {
            EXPECT_EQ(ditherPixels, around);
            EXPECT_EQ(alternations, pairs);
        } else {
            EXPECT_EQ(ditherPixels, 0);
        }
    }
}

// The pixels of the filled drop-down triangle around its centre.
TPixels DownTriangle(int cx, int cy)
{
    TPixels set;
    for (int x = cx - 2; x <= cx + 2; ++x) set.insert({x, cy - 1});
    for (int x = cx - 1; x <= cx + 1; ++x) set.insert({x, cy});
    set.insert({cx, cy + 1});
    return set;
}

TPixels LeftTriangle(int cx, int cy)
{
    TPixels set = {{cx - 1, cy - 2}, {cx - 2, cy - 1}, {cx - 1, cy - 1}, {cx - 3, cy}, {cx - 2, cy},
                   {cx - 1, cy},     {cx - 2, cy + 1}, {cx - 1, cy + 1}, {cx - 1, cy + 2}};
    return set;
}

TEST(DkToolbarPaint, DrawsTheDropDownArrow)
{
    const struct {
        const char* name;
        TDkViewOrientation orientation;
        bool split, pushed;
        SIZE size;
        TPixels arrow;
    } cases[] = {
        {"beside the caption", dkvoHorizontal, false, false, {30, 22}, DownTriangle(23, 11)},
        {"pushed: moved by one", dkvoHorizontal, false, true, {30, 22}, DownTriangle(24, 12)},
        {"split part", dkvoHorizontal, true, false, {31, 22}, DownTriangle(24, 11)},
        {"split part, pushed: stays", dkvoHorizontal, true, true, {31, 22}, DownTriangle(24, 11)},
        {"vertical toolbar: below, pointing left", dkvoVertical, false, false, {22, 30}, LeftTriangle(11, 23)},
        {"vertical toolbar, pushed", dkvoVertical, false, true, {22, 30}, LeftTriangle(12, 24)},
        {"vertical toolbar, split part", dkvoVertical, true, false, {31, 22}, DownTriangle(24, 11)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TPaintRig rig(true, c.size.cx, c.size.cy);
        rig.View().Orientation = c.orientation;
        TStyledItem* item = rig.Add<TStyledItem>();
        item->AddStyle(dkisSubmenu | (c.split ? dkisSplitButton : 0));
        item->SetOptions(c.split ? 0 : DkOption(dkoDropdownArrow));
        TDkItemViewer* viewer = rig.Place(item, {0, 0, c.size.cx, c.size.cy});
        TTestCanvas target(c.size.cx, c.size.cy);
        target.dib.Fill(kSentinel);
        target.canvas.Font.SetColor(clBtnText);
        viewer->Paint(target.canvas, {0, 0, c.size.cx, c.size.cy}, false, c.pushed, c.pushed);
        EXPECT_EQ(Describe(PixelsIn(target.dib, {0, 0, c.size.cx, c.size.cy}, Sys(COLOR_BTNTEXT))),
                  Describe(c.arrow));
    }
}

// ----------------------------------------------------------------------------------------
// The disabled shadow

TEST(DkViewPaint, DisabledItemsAreShadowedWhereGrayTextWouldNotShow)
{
    const struct {
        const char* name;
        bool toolbar;
        TColor windowColor;
        bool selected;
        bool shadowed;
    } cases[] = {
        {"toolbar on white", true, clWhite, false, true},
        {"toolbar on button face", true, clBtnFace, false, true},
        {"menu on white", false, clWhite, false, false},
        {"menu on button face", false, clBtnFace, false, true},
        {"menu on the gray-text colour", false, clGrayText, false, true},
        {"selected menu line on button face", false, clBtnFace, true, false},
        {"selected menu line on the gray-text colour", false, clGrayText, true, true},
    };
    TSolidImages images(kGreen);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int width = c.toolbar ? 30 : 100, height = 22;
        TPaintRig rig(c.toolbar, width, height);
        rig.window.SetColor(c.windowColor);
        TStyledItem* item = rig.Add<TStyledItem>();
        item->AddStyle(dkisSubmenu);
        item->SetOptions(DkOption(dkoDropdownArrow));
        item->SetImages(images.List());
        item->SetImageIndex(0);
        item->SetEnabled(false);
        TDkItemViewer* viewer = rig.Place(item, {0, 0, width, height});
        if (c.selected) rig.View().Select(viewer, false);
        rig.Draw(viewer);

        // The arrow: the toolbar's triangle right of the image, the menu's at the right edge.
        const RECT arrowArea = c.toolbar ? RECT{20, 0, width, height}
                                         : RECT{width - GetSystemMetrics(SM_CXMENUCHECK), 0, width, height};
        const TPixels dark = PixelsIn(rig.dib, arrowArea, Sys(COLOR_BTNSHADOW));
        const TPixels light = PixelsIn(rig.dib, arrowArea, Sys(COLOR_BTNHIGHLIGHT));
        ASSERT_FALSE(dark.empty());
        if (c.shadowed)
            EXPECT_EQ(Describe(light), Describe(Without(Shifted(dark, 1, 1), dark)));
        else
            EXPECT_EQ(Describe(light), Describe({}));

        // The image is embossed: none of its own colour is left.
        EXPECT_TRUE(PixelsIn(rig.dib, {0, 0, width, height}, kGreen).empty());
        EXPECT_FALSE(PixelsIn(rig.dib, {0, 0, 20, height}, Sys(COLOR_BTNSHADOW)).empty());
    }
}

// ----------------------------------------------------------------------------------------
// Painting one viewer

TEST(DkViewPaint, PaintsNothingForViewersThatDoNotShow)
{
    const struct {
        const char* name;
        bool show;
        RECT bounds;
        bool control;
        bool clippedAway;
    } cases[] = {
        {"not shown", false, {0, 0, 30, 22}, false, false},
        {"empty rectangle", true, {10, 5, 10, 22}, false, false},
        {"a hosted control", true, {0, 0, 30, 22}, true, false},
        {"outside the clip", true, {0, 0, 30, 22}, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TPaintRig rig(true, 40, 30);
        TDkCustomItem* item = c.control ? static_cast<TDkCustomItem*>(rig.Add<TDkControlItem>())
                                        : static_cast<TDkCustomItem*>(rig.Add<TDkItem>());
        item->SetChecked(true);
        TDkItemViewer* viewer = rig.Place(item, c.bounds);
        viewer->Show = c.show;
        const int saved = SaveDC(rig.DC());
        if (c.clippedAway) IntersectClipRect(rig.DC(), 32, 0, 40, 30);
        for (bool buffered : {false, true}) {
            rig.Draw(viewer, buffered);
            EXPECT_EQ(PixelsIn(rig.dib, {0, 0, 40, 30}, kSentinel).size(), 40u * 30u) << "buffered " << buffered;
        }
        RestoreDC(rig.DC(), saved);
    }
}

TEST(DkViewPaint, TheRepaintThroughABufferBitIsHonouredOnce)
{
    TPaintRig rig(true, 40, 30);
    rig.window.EraseSplitX = 15;
    TDkItem* item = rig.Add<TDkItem>();  // a plain button with no caption paints nothing of its own
    TDkItemViewer* viewer = rig.Place(item, {4, 2, 27, 24});
    viewer->State |= dkvrsBufferedRepaint;

    rig.Draw(viewer);
    EXPECT_EQ(viewer->State & dkvrsBufferedRepaint, 0);
    // The window erased the buffer as if it were its own client area at the viewer's place.
    EXPECT_EQ(PixelsIn(rig.dib, {4, 2, 15, 24}, kRed).size(), 11u * 22u);
    EXPECT_EQ(PixelsIn(rig.dib, {15, 2, 27, 24}, kBlue).size(), 12u * 22u);
    EXPECT_EQ(PixelsIn(rig.dib, {0, 0, 40, 30}, kSentinel).size(), 40u * 30u - 23u * 22u);

    rig.Draw(viewer);
    EXPECT_EQ(PixelsIn(rig.dib, {0, 0, 40, 30}, kSentinel).size(), 40u * 30u) << "then straight onto the DC";
}

TEST(DkViewPaint, BufferedAndDirectPaintingLookTheSameAtOddPlaces)
{
    TSolidImages images(kGreen);
    const COLORREF background = Sys(COLOR_BTNFACE);
    for (const RECT bounds : {RECT{5, 3, 36, 25}, RECT{4, 2, 35, 24}, RECT{5, 2, 36, 24}}) {
        SCOPED_TRACE(std::to_string(bounds.left) + "," + std::to_string(bounds.top));
        TPaintRig rig(true, 44, 30);
        rig.window.SetColor(clBtnFace);
        TStyledItem* item = rig.Add<TStyledItem>();
        item->AddStyle(dkisSubmenu);
        item->SetOptions(DkOption(dkoDropdownArrow));
        item->SetImages(images.List());
        item->SetImageIndex(0);
        item->SetChecked(true);
        TDkItemViewer* viewer = rig.Place(item, bounds);

        rig.Draw(viewer, true, background);
        std::vector<COLORREF> buffered;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 44; ++x) buffered.push_back(rig.dib.Pixel(x, y));
        rig.Draw(viewer, false, background);
        int differences = 0;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 44; ++x)
                if (rig.dib.Pixel(x, y) != buffered[y * 44 + x]) ++differences;
        EXPECT_EQ(differences, 0);
        EXPECT_FALSE(PixelsIn(rig.dib, bounds, Sys(COLOR_BTNHIGHLIGHT)).empty()) << "the dither shows";
    }
}

// What painting must leave as it found it in the caller's DC.
struct TDCState {
    POINT viewport, window, brush;
    RECT clip;
    HGDIOBJ font, brushObject, pen, bitmap;
    COLORREF text, back;
    int backMode, rop2;

    static TDCState Of(HDC dc)
    {
        TDCState s{};
        GetViewportOrgEx(dc, &s.viewport);
        GetWindowOrgEx(dc, &s.window);
        GetBrushOrgEx(dc, &s.brush);
        GetClipBox(dc, &s.clip);
        s.font = GetCurrentObject(dc, OBJ_FONT);
        s.brushObject = GetCurrentObject(dc, OBJ_BRUSH);
        s.pen = GetCurrentObject(dc, OBJ_PEN);
        s.bitmap = GetCurrentObject(dc, OBJ_BITMAP);
        s.text = GetTextColor(dc);
        s.back = GetBkColor(dc);
        s.backMode = GetBkMode(dc);
        s.rop2 = GetROP2(dc);
        return s;
    }
    bool operator==(const TDCState& o) const
    {
        return viewport.x == o.viewport.x && viewport.y == o.viewport.y && window.x == o.window.x &&
               window.y == o.window.y && brush.x == o.brush.x && brush.y == o.brush.y && EqualRect(&clip, &o.clip) &&
               font == o.font && brushObject == o.brushObject && pen == o.pen && bitmap == o.bitmap &&
               text == o.text && back == o.back && backMode == o.backMode && rop2 == o.rop2;
    }
};

TEST(DkViewPaint, LeavesTheCallersDCAsItWas)
{
    TSolidImages images(kGreen);
    const struct {
        const char* name;
        bool toolbar, buffered, selected;
    } cases[] = {
        {"toolbar, direct", true, false, false},
        {"toolbar, buffered", true, true, true},
        {"menu, direct", false, false, true},
        {"menu, buffered", false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TPaintRig rig(c.toolbar, 140, 30);
        TStyledItem* item = rig.Add<TStyledItem>();
        item->AddStyle(dkisSubmenu | dkisSplitButton);
        item->SetCaption("&Open");
        item->SetShortCut(ShortCut('O', scCtrl));
        item->SetImages(images.List());
        item->SetImageIndex(0);
        item->SetChecked(true);
        item->SetEnabled(false);
        TDkItemViewer* viewer = rig.Place(item, {3, 3, 133, 27});
        if (c.selected) rig.View().Select(viewer, false);
        SetBrushOrgEx(rig.DC(), 0, 0, nullptr);
        SetTextColor(rig.DC(), RGB(9, 8, 7));
        SetBkColor(rig.DC(), RGB(7, 8, 9));
        const TDCState before = TDCState::Of(rig.DC());
        rig.Draw(viewer, c.buffered);
        EXPECT_TRUE(before == TDCState::Of(rig.DC()));
        EXPECT_LT(PixelsIn(rig.dib, {0, 0, 140, 30}, kSentinel).size(), 140u * 30u) << "it did paint";
    }
}

TEST(DkViewPaint, DrawSubitemsPaintsEveryShownViewer)
{
    TPaintRig rig(true, 80, 22);
    TDkItem* first = rig.Add<TDkItem>();
    TDkItem* hidden = rig.Add<TDkItem>();
    TDkItem* last = rig.Add<TDkItem>();
    for (TDkItem* item : {first, hidden, last}) item->SetChecked(true);
    rig.Place(first, {0, 0, 23, 22});
    rig.Place(hidden, {23, 0, 46, 22})->Show = false;
    rig.Place(last, {46, 0, 69, 22});
    rig.dib.Fill(kSentinel);
    rig.View().DrawSubitems(rig.DC());
    GdiFlush();
    const COLORREF edge = Sys(COLOR_BTNSHADOW);  // a checked button's sunken frame
    EXPECT_EQ(rig.dib.Pixel(0, 0), edge);
    EXPECT_EQ(rig.dib.Pixel(46, 0), edge);
    EXPECT_EQ(PixelsIn(rig.dib, {23, 0, 46, 22}, kSentinel).size(), 23u * 22u);
    EXPECT_EQ(PixelsIn(rig.dib, {69, 0, 80, 22}, kSentinel).size(), 11u * 22u);
}

// ----------------------------------------------------------------------------------------
// Separators

TEST(DkSeparatorPaint, DrawsAnEtchedLineAcrossTheMiddle)
{
    const struct {
        const char* name;
        bool toolbar;
        TDkViewOrientation orientation;
        bool lineBreak, blank;
        SIZE size;
        RECT shadow;  // the dark line; the lit one follows it
    } cases[] = {
        {"horizontal toolbar: upright", true, dkvoHorizontal, false, false, {6, 22}, {2, 0, 3, 22}},
        {"vertical toolbar: across", true, dkvoVertical, false, false, {22, 6}, {0, 2, 22, 3}},
        {"line break of a horizontal toolbar: along the lines", true, dkvoHorizontal, true, false, {60, 6},
         {0, 2, 60, 3}},
        {"line break of a vertical toolbar", true, dkvoVertical, true, false, {6, 60}, {2, 0, 3, 60}},
        {"menu", false, dkvoHorizontal, false, false, {80, 9}, {0, 3, 80, 4}},
        {"blank", true, dkvoHorizontal, false, true, {6, 22}, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TPaintRig rig(c.toolbar, c.size.cx, c.size.cy);
        rig.View().Orientation = c.orientation;
        TDkSeparatorItem* item = rig.Add<TDkSeparatorItem>();
        item->SetBlank(c.blank);
        TDkItemViewer* viewer = rig.Place(item, {0, 0, c.size.cx, c.size.cy});
        if (c.lineBreak) viewer->State |= dkvrsLineSeparator;
        rig.Draw(viewer);

        TPixels dark, light;
        const bool upright = c.shadow.right - c.shadow.left == 1;
        for (int y = c.shadow.top; y < c.shadow.bottom; ++y)
            for (int x = c.shadow.left; x < c.shadow.right; ++x) {
                dark.insert({x, y});
                light.insert({x + (upright ? 1 : 0), y + (upright ? 0 : 1)});
            }
        const RECT all = {0, 0, c.size.cx, c.size.cy};
        EXPECT_EQ(Describe(PixelsIn(rig.dib, all, Sys(COLOR_BTNSHADOW))), Describe(dark));
        EXPECT_EQ(Describe(PixelsIn(rig.dib, all, Sys(COLOR_BTNHIGHLIGHT))), Describe(light));
    }
}

// ----------------------------------------------------------------------------------------
// Images and captions

TEST(DkToolbarPaint, AnImageListWithCompanionsDrawsByTheButtonsState)
{
    const COLORREF hotColor = RGB(200, 200, 0), checkedColor = RGB(0, 0, 200);
    TDkImageList main(nullptr), hot(nullptr), checkedList(nullptr);
    TSolidImages mainImages(kGreen, &main), hotImages(hotColor, &hot), checkedImages(checkedColor, &checkedList);
    main.SetHotImages(&hot);
    main.SetCheckedImages(&checkedList);
    const struct {
        const char* name;
        bool selected, checked;
        COLORREF shown;
    } cases[] = {
        {"plain", false, false, kGreen},
        {"hot", true, false, hotColor},
        {"checked", false, true, checkedColor},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TPaintRig rig(true, 23, 22);
        TDkItem* item = rig.Add<TDkItem>();
        item->SetImages(&main);
        item->SetImageIndex(0);
        item->SetChecked(c.checked);
        TDkItemViewer* viewer = rig.Place(item, {0, 0, 23, 22});
        if (c.selected) rig.View().Select(viewer, false);
        rig.Draw(viewer);
        EXPECT_EQ(PixelsIn(rig.dib, {0, 0, 23, 22}, c.shown).size(), 256u);
    }
}

TEST(DkViewPaint, AMenuBarWithoutKeyboardCuesHidesTheUnderlines)
{
    const struct {
        const char* name;
        bool menuBar, cuesAlwaysShown, accelsShown;
        bool underlined;
    } cases[] = {
        {"menu bar before Alt", true, false, false, false},
        {"menu bar after Alt", true, false, true, true},
        {"cues always shown", true, true, false, true},
        {"an ordinary toolbar", false, false, false, true},
    };
    // The dark pixels of a caption drawn on a button.
    auto captionPixels = [](const char* caption, bool menuBar, bool accelsShown) {
        TPaintRig rig(true, 40, 22);
        if (menuBar) rig.View().Style |= dkvsMenuBar;
        rig.View().SetAccelsVisibility(accelsShown);
        TDkItem* item = rig.Add<TDkItem>();
        item->SetCaption(caption);
        rig.Draw(rig.Place(item, {0, 0, 40, 22}), false, RGB(255, 255, 255));
        TPixels dark;
        for (int y = 0; y < 22; ++y)
            for (int x = 0; x < 40; ++x) {
                const COLORREF p = rig.dib.Pixel(x, y);
                if (GetRValue(p) + GetGValue(p) + GetBValue(p) < 3 * 128) dark.insert({x, y});
            }
        return dark;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TChecksInPlace checks;
        checks.Checks.CuesAlwaysShown = c.cuesAlwaysShown;
        const TPixels marked = captionPixels("&W", c.menuBar, c.accelsShown);
        const TPixels plain = captionPixels("W", c.menuBar, c.accelsShown);
        ASSERT_FALSE(plain.empty());
        EXPECT_EQ(marked != plain, c.underlined) << Describe(Without(marked, plain));
    }
}

// The pixels darker than mid-grey: text in the button or menu text colour.
TPixels DarkPixels(const TTestDib& dib, const RECT& area)
{
    TPixels dark;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x) {
            const COLORREF p = dib.Pixel(x, y);
            if (GetRValue(p) + GetGValue(p) + GetBValue(p) < 3 * 128) dark.insert({x, y});
        }
    return dark;
}

TEST(DkToolbarPaint, AVerticalToolbarTurnsItsCaptions)
{
    const struct {
        const char* name;
        TDkViewOrientation orientation;
        TDkItemOptions options;
        SIZE size;
        bool turned;
    } cases[] = {
        {"horizontal", dkvoHorizontal, 0, {80, 40}, false},
        {"vertical", dkvoVertical, 0, {40, 80}, true},
        {"vertical, not rotated", dkvoVertical, DkOption(dkoNoRotation), {80, 40}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TPaintRig rig(true, c.size.cx, c.size.cy);
        rig.View().Orientation = c.orientation;
        TDkItem* item = rig.Add<TDkItem>();
        item->SetCaption("WWWW");
        item->SetOptions(c.options);
        rig.Draw(rig.Place(item, {0, 0, c.size.cx, c.size.cy}), false, RGB(255, 255, 255));
        const RECT box = BoxOf(DarkPixels(rig.dib, {0, 0, c.size.cx, c.size.cy}));
        ASSERT_FALSE(IsRectEmpty(&box));
        EXPECT_EQ(box.bottom - box.top > box.right - box.left, c.turned);
    }
}

TEST(DkMenuPaint, TheShortcutEndsOneLineHeightBeforeTheRightEdge)
{
    const int width = 160, height = 22;
    TPaintRig rig(false, width, height);
    TDkItem* item = rig.Add<TDkItem>();
    item->SetShortCut(ShortCut('O', scCtrl));
    rig.Draw(rig.Place(item, {0, 0, width, height}), false, RGB(255, 255, 255));
    const RECT box = BoxOf(DarkPixels(rig.dib, {0, 0, width, height}));
    ASSERT_FALSE(IsRectEmpty(&box));
    EXPECT_LE(box.right, width - height);
    EXPECT_GE(box.right, width - height - 3) << "right-aligned against that line";
    EXPECT_GE(box.left, height + 3) << "clear of the image column";
}

TEST(DkMenuPaint, ACheckedLineShowsItsImageInASunkenColumnMovedByOne)
{
    TSolidImages images(kGreen);
    const int width = 100, height = 22;
    const struct {
        const char* name;
        bool checked, selected;
        bool dithered;
        COLORREF corner;  // the column's top-left pixel: its frame
    } cases[] = {
        {"plain", false, false, false, kSentinel},
        {"selected: raised", false, true, false, Sys(COLOR_BTNHIGHLIGHT)},
        {"checked: sunken and dithered", true, false, true, Sys(COLOR_BTNSHADOW)},
        {"checked and selected: sunken", true, true, false, Sys(COLOR_BTNSHADOW)},
    };
    RECT plain = {0, 0, 0, 0};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TPaintRig rig(false, width, height);
        TDkItem* item = rig.Add<TDkItem>();
        item->SetImages(images.List());
        item->SetImageIndex(0);
        item->SetChecked(c.checked);
        TDkItemViewer* viewer = rig.Place(item, {0, 0, width, height});
        if (c.selected) rig.View().Select(viewer, false);
        rig.Draw(viewer);

        const RECT box = BoxOf(PixelsIn(rig.dib, {0, 0, width, height}, kGreen));
        ASSERT_EQ(box.right - box.left, 16);
        if (!c.checked && !c.selected) plain = box;
        EXPECT_EQ(box.left - plain.left, c.checked ? 1 : 0);
        EXPECT_EQ(box.top - plain.top, c.checked ? 1 : 0);
        EXPECT_EQ(box.left + box.right - (c.checked ? 2 : 0), height) << "centred in a column as wide as the line is high";
        EXPECT_EQ(ColorText(rig.dib.Pixel(0, 0)), ColorText(c.corner));
        // Beside the image, inside the frame: alternate face and highlight only when dithered.
        const COLORREF left = rig.dib.Pixel(2, 10), right = rig.dib.Pixel(3, 10);
        const bool alternating = left != right && (left == Sys(COLOR_BTNFACE) || left == Sys(COLOR_BTNHIGHLIGHT)) &&
                                 (right == Sys(COLOR_BTNFACE) || right == Sys(COLOR_BTNHIGHLIGHT));
        EXPECT_EQ(alternating, c.dithered);
    }
}

}  // namespace
