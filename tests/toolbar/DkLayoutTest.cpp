#include "DkLayout.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Fake entries as words: a kind, a size and flags, e.g. "B30x22r".
// Kinds: B item, S separator, C control that shows, c control that does not, X chevron.
// Flags: r right-aligned, k keeps the line, t toolbar-sized, w same width, u hidden unless
// customizing, i invisible, p the chevron's parent has it off edge.
struct TFakes {
    std::vector<TDkLayoutEntry> Entries;
    std::vector<SIZE> Sizes;
};

TFakes MakeEntries(const std::string& words)
{
    TFakes fakes;
    std::istringstream in(words);
    std::string word;
    while (in >> word) {
        TDkLayoutEntry e;
        int w = 0, h = 0, used = 0;
        std::sscanf(word.c_str() + 1, "%dx%d%n", &w, &h, &used);
        switch (word[0]) {
        case 'S': e.Separator = true; break;
        case 'C': e.IsControl = e.ControlShown = true; break;
        case 'c': e.IsControl = true; break;
        case 'X': e.IsChevron = true; break;
        }
        for (char flag : word.substr(1 + used)) {
            switch (flag) {
            case 'r': e.RightAligned = true; break;
            case 'k': e.KeepsLine = true; break;
            case 't': e.ToolbarSize = true; break;
            case 'w': e.SameWidth = true; break;
            case 'u': e.HiddenUnlessCustomizing = true; break;
            case 'i': e.Visible = false; break;
            case 'p': e.ParentOffEdge = true; break;
            }
        }
        if (e.IsControl) e.Rect = {0, 0, w, h};
        fakes.Entries.push_back(e);
        fakes.Sizes.push_back({w, h});
    }
    return fakes;
}

// What became of an entry, in the words the tables expect: "-" hidden, "off" off edge,
// "clip" under a scroll arrow, "x,y,w,h" shown there, "=x,y,w,h" a line break there.
std::string Describe(const TDkLayoutEntry& e)
{
    if (e.Clipped) return e.Show ? "clip+show" : "clip";
    if (e.OffEdge) return e.Show ? "off+show" : "off";
    if (!e.Show) return "-";
    const RECT& r = e.Rect;
    char text[64];
    std::snprintf(text, sizeof text, "%s%ld,%ld,%ld,%ld", e.LineSeparator ? "=" : "", r.left, r.top,
                  r.right - r.left, r.bottom - r.top);
    return text;
}

std::string Describe(const std::vector<TDkLayoutEntry>& entries)
{
    std::string text;
    for (const TDkLayoutEntry& e : entries) {
        if (!text.empty()) text += ' ';
        text += Describe(e);
    }
    return text;
}

struct TLayoutCase {
    const char* Name;
    TDkLayoutParams Params;
    const char* Entries;
    const char* Want;
    int Lines = 1;
    POINT Total = {0, 0};
    POINT Base = {-1, -1};  // unchecked when negative
    bool ChevronNeeded = false;
    bool ChevronEnabled = false;
    int ScrollOffset = 0;
    bool UpArrow = false, DownArrow = false;
};

TDkLayoutParams Menu(int maxHeight = 0, int scrollOffset = 0)
{
    TDkLayoutParams p;
    p.IsToolbar = false;
    p.MaxHeight = maxHeight;
    p.ScrollOffset = scrollOffset;
    return p;
}

TDkLayoutParams WithChevron(int available, std::vector<int> priority = {},
                            TDkLayoutOrientation orientation = dkloHorizontal)
{
    TDkLayoutParams p;
    p.HasChevron = true;
    p.AvailableLength = available;
    p.Priority = std::move(priority);
    p.Orientation = orientation;
    return p;
}

TDkLayoutParams Wrapping(int wrapOffset, TDkLayoutOrientation orientation = dkloHorizontal, RECT margins = {})
{
    TDkLayoutParams p;
    p.WrapOffset = wrapOffset;
    p.Orientation = orientation;
    p.Margins = margins;
    return p;
}

TDkLayoutParams Customizing()
{
    TDkLayoutParams p;
    p.Customizing = true;
    return p;
}

TDkLayoutParams ChevronPopup(int wrapOffset = 0)
{
    TDkLayoutParams p;
    p.IsChevronPopup = true;
    p.WrapOffset = wrapOffset;
    return p;
}

TDkLayoutParams Floating()
{
    TDkLayoutParams p;
    p.Orientation = dkloFloating;
    return p;
}

TDkLayoutParams Vertical(RECT margins = {})
{
    TDkLayoutParams p;
    p.Orientation = dkloVertical;
    p.Margins = margins;
    return p;
}

const char EightMenuItems[] = "B50x20 B50x20 B50x20 B50x20 B50x20 B50x20 B50x20 B50x20";

const TLayoutCase LayoutCases[] = {
    {.Name = "the empty view is 23 by 22", .Params = {}, .Entries = "", .Want = "", .Total = {23, 22}, .Base = {23, 22}},
    {.Name = "a small view grows to 23 by 22", .Params = {}, .Entries = "B10x10", .Want = "0,0,10,10", .Total = {23, 22}},
    {.Name = "a view of nothing wide is 23 by 22",
     .Params = {},
     .Entries = "B0x40",
     .Want = "0,0,0,40",
     .Total = {23, 22}},

    // Visibility.
    {.Name = "separators at the ends and doubled ones are hidden",
     .Params = {},
     .Entries = "S6x22 B30x22 S6x22 S6x22 B30x22 S6x22",
     .Want = "- 0,0,30,22 30,0,6,22 - 36,0,30,22 -",
     .Total = {66, 22}},
    {.Name = "an invisible item does not stand between two separators",
     .Params = {},
     .Entries = "B30x22 S6x22 B30x22i S6x22 B30x22",
     .Want = "0,0,30,22 30,0,6,22 - - 36,0,30,22",
     .Total = {66, 22}},
    {.Name = "a control that does not show does not stand between two separators",
     .Params = {},
     .Entries = "B30x22 S6x22 c40x20 S6x22 B30x22",
     .Want = "0,0,30,22 30,0,6,22 - - 36,0,30,22",
     .Total = {66, 22}},
    {.Name = "a shown control stands between two separators and keeps its size",
     .Params = {},
     .Entries = "B30x22 S6x22 C40x20 S6x22 B30x22",
     .Want = "0,0,30,22 30,0,6,22 36,1,40,20 76,0,6,22 82,0,30,22",
     .Total = {112, 22}},
    {.Name = "hidden unless customizing",
     .Params = {},
     .Entries = "B30x22 B30x22u B30x22",
     .Want = "0,0,30,22 - 30,0,30,22",
     .Total = {60, 22}},
    {.Name = "shown while customizing",
     .Params = Customizing(),
     .Entries = "B30x22 B30x22u B30x22",
     .Want = "0,0,30,22 30,0,30,22 60,0,30,22",
     .Total = {90, 22}},
    {.Name = "the chevron does not show while everything fits",
     .Params = WithChevron(120),
     .Entries = "B30x22 B30x22 B30x22 B30x22 X0x0",
     .Want = "0,0,30,22 30,0,30,22 60,0,30,22 90,0,30,22 -",
     .Total = {120, 22}},

    // Measuring and centring.
    {.Name = "items are centred across the line and separators stretched",
     .Params = {},
     .Entries = "B30x22 B20x15 S6x10 B20x16",
     .Want = "0,0,30,22 30,3,20,15 50,0,6,22 56,3,20,16",
     .Total = {76, 22}},
    {.Name = "same-width items take the widest shown one's width",
     .Params = {},
     .Entries = "B30x22w B40x22w B20x22 B60x22wi",
     .Want = "0,0,40,22 40,0,40,22 80,0,20,22 -",
     .Total = {100, 22}},

    // The chevron.
    {.Name = "the chevron hides from the end",
     .Params = WithChevron(100),
     .Entries = "B30x22 B30x22 B30x22 B30x22 X0x0",
     .Want = "0,0,30,22 30,0,30,22 off off 88,0,12,22",
     .Total = {100, 22},
     .Base = {120, 22},
     .ChevronNeeded = true,
     .ChevronEnabled = true},
    {.Name = "the chevron leaves two items and follows them",
     .Params = WithChevron(40),
     .Entries = "B30x22 B30x22 B30x22 B30x22 X0x0",
     .Want = "0,0,30,22 30,0,30,22 off off 60,0,12,22",
     .Total = {72, 22},
     .ChevronNeeded = true,
     .ChevronEnabled = true},
    {.Name = "the chevron hides the least important first",
     .Params = WithChevron(100, {1, 3, 0, 2}),
     .Entries = "B30x22 B30x22 B30x22 B30x22 X0x0",
     .Want = "0,0,30,22 off 30,0,30,22 off 88,0,12,22",
     .Total = {100, 22},
     .ChevronNeeded = true,
     .ChevronEnabled = true},
    {.Name = "after the priority list the chevron hides from the end",
     .Params = WithChevron(70, {7, -1, 1, 1}),
     .Entries = "B30x22 B30x22 B30x22 B30x22 X0x0",
     .Want = "0,0,30,22 off 30,0,30,22 off 60,0,12,22",
     .Total = {72, 22},
     .ChevronNeeded = true,
     .ChevronEnabled = true},
    {.Name = "the chevron is disabled when only controls went off edge",
     .Params = WithChevron(80),
     .Entries = "B30x22 B30x22 C30x22 X0x0",
     .Want = "0,0,30,22 30,0,30,22 off 68,0,12,22",
     .Total = {80, 22},
     .ChevronNeeded = true,
     .ChevronEnabled = false},
    {.Name = "a separator left at the end goes with the item after it",
     .Params = WithChevron(100),
     .Entries = "B30x22 S6x22 B30x22 S6x22 B30x22 X0x0",
     .Want = "0,0,30,22 30,0,6,22 36,0,30,22 - off 88,0,12,22",
     .Total = {100, 22},
     .ChevronNeeded = true,
     .ChevronEnabled = true},
    {.Name = "a separator left beside another goes",
     .Params = WithChevron(120, {2}),
     .Entries = "B30x22 S6x22 B30x22 S6x22 B30x22 B30x22 X0x0",
     .Want = "0,0,30,22 30,0,6,22 off - 36,0,30,22 66,0,30,22 108,0,12,22",
     .Total = {120, 22},
     .ChevronNeeded = true,
     .ChevronEnabled = true},
    {.Name = "a vertical chevron lies across the column",
     .Params = WithChevron(80, {}, dkloVertical),
     .Entries = "B22x30 B22x30 B22x30 X0x0",
     .Want = "0,0,22,30 0,30,22,30 off 0,68,22,12",
     .Total = {23, 80},
     .Base = {23, 90},
     .ChevronNeeded = true,
     .ChevronEnabled = true},

    // Wrapping.
    {.Name = "a separator whose group does not fit becomes a 6-pixel line break",
     .Params = Wrapping(100),
     .Entries = "B30x22 B30x22 S6x22 B30x22 B30x22",
     .Want = "0,0,30,22 30,0,30,22 =0,22,100,6 0,28,30,22 30,28,30,22",
     .Lines = 2,
     .Total = {100, 50},
     .Base = {126, 22}},
    {.Name = "a separator whose group fits stays in the line",
     .Params = Wrapping(130),
     .Entries = "B30x22 B30x22 S6x22 B30x22 B30x22",
     .Want = "0,0,30,22 30,0,30,22 60,0,6,22 66,0,30,22 96,0,30,22",
     .Total = {126, 22},
     .Base = {126, 22}},
    {.Name = "an item that overflows starts a new line inside its group",
     .Params = Wrapping(70),
     .Entries = "B30x22 B30x22 B30x22",
     .Want = "0,0,30,22 30,0,30,22 0,22,30,22",
     .Lines = 2,
     .Total = {70, 44}},
    {.Name = "after an overflow the next separator breaks the line",
     .Params = Wrapping(70),
     .Entries = "B30x22 B30x22 B30x22 S6x22 B10x22",
     .Want = "0,0,30,22 30,0,30,22 0,22,30,22 =0,44,70,6 0,50,10,22",
     .Lines = 3,
     .Total = {70, 72}},
    {.Name = "a keeps-line separator stays in the line after an overflow",
     .Params = Wrapping(70),
     .Entries = "B30x22 B30x22 B30x22 S6x22k B10x22",
     .Want = "0,0,30,22 30,0,30,22 0,22,30,22 30,22,6,22 36,22,10,22",
     .Lines = 2,
     .Total = {70, 44}},
    {.Name = "a keeps-line separator breaks when its group does not fit",
     .Params = Wrapping(100),
     .Entries = "B30x22 B30x22 S6x22k B30x22 B30x22",
     .Want = "0,0,30,22 30,0,30,22 =0,22,100,6 0,28,30,22 30,28,30,22",
     .Lines = 2,
     .Total = {100, 50}},
    {.Name = "the lines end at the wrap offset less the right margin",
     .Params = Wrapping(74, dkloHorizontal, {2, 3, 4, 5}),
     .Entries = "B30x22 B30x22 B30x22",
     .Want = "2,3,30,22 32,3,30,22 2,25,30,22",
     .Lines = 2,
     .Total = {74, 52},
     .Base = {96, 30}},
    {.Name = "a leading margin makes no empty line before a wide first item",
     .Params = Wrapping(20, dkloHorizontal, {3, 0, 0, 0}),
     .Entries = "B30x22 B30x22",
     .Want = "3,0,30,22 3,22,30,22",
     .Lines = 2,
     .Total = {33, 44}},
    {.Name = "a wrapped chevron popup is as wide as its lines",
     .Params = ChevronPopup(70),
     .Entries = "B30x22p B30x22p B30x22p",
     .Want = "0,0,30,22 30,0,30,22 0,22,30,22",
     .Lines = 2,
     .Total = {60, 44}},

    // Right alignment.
    {.Name = "right-aligned items move to the end of a wrapped line",
     .Params = Wrapping(100),
     .Entries = "B30x22 B20x22r B10x22 S6x22 B30x22 B30x22 B30x22",
     .Want = "0,0,30,22 70,0,20,22 90,0,10,22 =0,22,100,6 0,28,30,22 30,28,30,22 60,28,30,22",
     .Lines = 2,
     .Total = {100, 50}},
    {.Name = "a right-aligned item on the last line moves to the wrap offset",
     .Params = Wrapping(70),
     .Entries = "B30x22 B30x22 B30x22 B20x22r",
     .Want = "0,0,30,22 30,0,30,22 0,22,30,22 50,22,20,22",
     .Lines = 2,
     .Total = {70, 44}},

    // The vertical orientation.
    {.Name = "vertical items are centred across the column and mirrored in the total width",
     .Params = Vertical({2, 0, 5, 0}),
     .Entries = "B22x30 B15x20 S22x6 B20x30",
     .Want = "5,0,22,30 9,30,15,20 5,50,22,6 6,56,20,30",
     .Total = {29, 86}},
    {.Name = "vertical columns wrap and are mirrored",
     .Params = Wrapping(70, dkloVertical),
     .Entries = "B22x30 B22x30 B20x30",
     .Want = "20,0,22,30 20,30,22,30 0,0,20,30",
     .Lines = 2,
     .Total = {42, 70}},
    {.Name = "a vertical line break runs down the whole toolbar",
     .Params = Wrapping(70, dkloVertical),
     .Entries = "B22x30 B22x30 S22x6 B22x30",
     .Want = "28,0,22,30 28,30,22,30 =22,0,6,70 0,0,22,30",
     .Lines = 2,
     .Total = {50, 70}},
    {.Name = "a floating toolbar lays out along its width",
     .Params = Floating(),
     .Entries = "B30x22 B20x16",
     .Want = "0,0,30,22 30,3,20,16",
     .Total = {50, 22}},

    // Menus.
    {.Name = "menu items stack and stretch to the widest",
     .Params = Menu(),
     .Entries = "B80x20 S10x9 B60x20",
     .Want = "0,0,80,20 0,20,80,9 0,29,80,20",
     .Total = {80, 49}},
    {.Name = "toolbar-sized menu items go side by side, a normal one below",
     .Params = [] {
         TDkLayoutParams p = Menu();
         p.Margins = {3, 2, 3, 2};
         return p;
     }(),
     .Entries = "B20x20t B20x25t B30x18",
     .Want = "3,2,20,20 23,2,20,25 3,27,40,18",
     .Total = {46, 47}},

    // Scroll arrows.
    {.Name = "a tall menu at the top shows the down arrow",
     .Params = Menu(100, -5),
     .Entries = EightMenuItems,
     .Want = "0,0,50,20 0,20,50,20 0,40,50,20 0,60,50,20 clip clip clip clip",
     .Total = {50, 100},
     .Base = {50, 160},
     .DownArrow = true},
    {.Name = "a tall menu scrolled halfway shows both arrows",
     .Params = Menu(100, 30),
     .Entries = EightMenuItems,
     .Want = "clip clip clip 0,30,50,20 0,50,50,20 clip clip clip",
     .Total = {50, 100},
     .ScrollOffset = 30,
     .UpArrow = true,
     .DownArrow = true},
    {.Name = "a tall menu scrolled too far stops at its end",
     .Params = Menu(100, 1000),
     .Entries = EightMenuItems,
     .Want = "clip clip clip clip 0,20,50,20 0,40,50,20 0,60,50,20 0,80,50,20",
     .Total = {50, 100},
     .ScrollOffset = 60,
     .UpArrow = true},
    {.Name = "a menu within its maximum height does not scroll",
     .Params = Menu(200, 30),
     .Entries = EightMenuItems,
     .Want = "0,0,50,20 0,20,50,20 0,40,50,20 0,60,50,20 0,80,50,20 0,100,50,20 0,120,50,20 0,140,50,20",
     .Total = {50, 160}},

    // Chevron popups.
    {.Name = "a chevron popup shows what its parent has off edge, and separators",
     .Params = ChevronPopup(),
     .Entries = "S6x22 B30x22p B30x22 S6x22 C30x22p B30x22p S6x22 B30x22 S6x22 B30x22p S6x22",
     .Want = "- 0,0,30,22 - 30,0,6,22 - 36,0,30,22 66,0,6,22 - - 72,0,30,22 -",
     .Total = {102, 22}},
};

TEST(DkLayOut, Table)
{
    for (const TLayoutCase& c : LayoutCases) {
        SCOPED_TRACE(c.Name);
        TFakes fakes = MakeEntries(c.Entries);
        const TDkLayoutResult r =
            DkLayOut(c.Params, fakes.Entries, [&](int index) { return fakes.Sizes.at(index); });
        EXPECT_EQ(Describe(fakes.Entries), c.Want);
        EXPECT_EQ(r.WrappedLines, c.Lines);
        EXPECT_EQ(r.TotalSize.x, c.Total.x);
        EXPECT_EQ(r.TotalSize.y, c.Total.y);
        if (c.Base.x >= 0) {
            EXPECT_EQ(r.BaseSize.x, c.Base.x);
            EXPECT_EQ(r.BaseSize.y, c.Base.y);
        } else if (c.Lines == 1 && !c.ChevronNeeded && !c.UpArrow && !c.DownArrow) {
            EXPECT_EQ(r.BaseSize.x, r.TotalSize.x) << "nothing wrapped or went off edge";
            EXPECT_EQ(r.BaseSize.y, r.TotalSize.y) << "nothing wrapped or went off edge";
        }
        EXPECT_EQ(r.ChevronNeeded, c.ChevronNeeded);
        EXPECT_EQ(r.ChevronEnabled, c.ChevronEnabled);
        EXPECT_EQ(r.ScrollOffset, c.ScrollOffset);
        EXPECT_EQ(r.ShowUpArrow, c.UpArrow);
        EXPECT_EQ(r.ShowDownArrow, c.DownArrow);
    }
}

// The measuring callback makes viewers: it is asked about shown items only, controls never.
TEST(DkLayOut, MeasuresOnlyShownItemsThatAreNotControls)
{
    TFakes fakes = MakeEntries("S6x22 B30x22 C40x20 c40x20 B30x22i B30x22u S6x22 B30x22 S6x22 X0x0");
    TDkLayoutParams params;
    params.HasChevron = true;
    std::vector<int> asked;
    DkLayOut(params, fakes.Entries, [&](int index) {
        asked.push_back(index);
        return fakes.Sizes.at(index);
    });
    EXPECT_EQ(asked, (std::vector<int>{1, 6, 7}));
}

// A view lays out again and again over the same entries: nothing of the last pass stays.
TEST(DkLayOut, APassForgetsTheLastOne)
{
    TFakes fakes = MakeEntries("B30x22 B30x22 S6x22 B30x22 B30x22 X0x0");
    auto measure = [&](int index) { return fakes.Sizes.at(index); };
    TDkLayoutParams narrow = WithChevron(70);
    narrow.WrapOffset = 0;
    DkLayOut(narrow, fakes.Entries, measure);
    EXPECT_EQ(Describe(fakes.Entries), "0,0,30,22 30,0,30,22 - off off 60,0,12,22");
    const TDkLayoutResult r = DkLayOut(WithChevron(200), fakes.Entries, measure);
    EXPECT_EQ(Describe(fakes.Entries), "0,0,30,22 30,0,30,22 60,0,6,22 66,0,30,22 96,0,30,22 -");
    EXPECT_FALSE(r.ChevronNeeded);
    DkLayOut(Wrapping(100), fakes.Entries, measure);
    EXPECT_EQ(Describe(fakes.Entries), "0,0,30,22 30,0,30,22 =0,22,100,6 0,28,30,22 30,28,30,22 -");
    DkLayOut({}, fakes.Entries, measure);
    EXPECT_EQ(Describe(fakes.Entries), "0,0,30,22 30,0,30,22 60,0,6,22 66,0,30,22 96,0,30,22 -");
}

}  // namespace
