// The toolbar's size decisions as tables: how it gives way where it stands, the sizes it
// collects for a floating resize, the snapping of each resize step and the check of a
// floating width read back.
#include "DkToolbarSizes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace {

TEST(DkToolbarShrink, EachPlaceAndModeByTheTable)
{
    struct TRow {
        const char* Name;
        TDkShrinkFacts Facts;
        TDkViewOrientation Orientation;
        int Available;
        int Wrap;
    };
    auto docked = [](TDkShrinkMode mode, bool vertical, int given, SIZE nonClient, int dockLength, int dockNonClient,
                     int floatingWidth = 0) {
        TDkShrinkFacts f;
        f.Place = dktpDocked;
        f.Mode = mode;
        f.VerticalDock = vertical;
        f.GivenLength = given;
        f.NonClient = nonClient;
        f.DockLength = dockLength;
        f.DockNonClient = dockNonClient;
        f.FloatingWidth = floatingWidth;
        return f;
    };
    auto floating = [](TDkShrinkMode mode, int floatingWidth) {
        TDkShrinkFacts f;
        f.Place = dktpFloating;
        f.Mode = mode;
        f.FloatingWidth = floatingWidth;
        return f;
    };
    auto onForm = [](TDkShrinkMode mode, bool autoResize, bool stretched, int width, SIZE nonClient) {
        TDkShrinkFacts f;
        f.Place = dktpOnForm;
        f.Mode = mode;
        f.AutoResize = autoResize;
        f.StretchedAcross = stretched;
        f.Width = width;
        f.NonClient = nonClient;
        f.FloatingWidth = 77;  // never used off a dock unless floating
        return f;
    };
    const TRow rows[] = {
        {"top dock, chevron, a shorter length given", docked(dksmChevron, false, 200, {10, 4}, 600, 2), dkvoHorizontal,
         190, 0},
        {"top dock, chevron, its natural length", docked(dksmChevron, false, 0, {10, 4}, 600, 2), dkvoHorizontal, 0, 0},
        {"top dock, chevron, less given than the frame", docked(dksmChevron, false, 6, {10, 4}, 600, 2),
         dkvoHorizontal, 0, 0},
        {"top dock, chevron, a floating width set", docked(dksmChevron, false, 200, {10, 4}, 600, 2, 90),
         dkvoHorizontal, 190, 0},
        {"left dock, chevron, along the height", docked(dksmChevron, true, 150, {4, 10}, 500, 2), dkvoVertical, 140,
         0},
        {"top dock, wrap at the dock's width", docked(dksmWrap, false, 200, {10, 4}, 300, 2), dkvoHorizontal, 0, 288},
        {"left dock, wrap at the dock's height", docked(dksmWrap, true, 0, {4, 10}, 400, 2), dkvoVertical, 0, 388},
        {"top dock, wrap, a dock narrower than the frames", docked(dksmWrap, false, 0, {10, 4}, 8, 2),
         dkvoHorizontal, 0, 0},
        {"top dock, wrap, a floating width set", docked(dksmWrap, false, 0, {10, 4}, 300, 0, 90), dkvoHorizontal, 0,
         290},
        {"top dock, none", docked(dksmNone, false, 200, {10, 4}, 300, 2), dkvoHorizontal, 0, 0},
        {"floating, chevron, at its floating width", floating(dksmChevron, 120), dkvoFloating, 0, 120},
        {"floating, wrap, unwrapped", floating(dksmWrap, 0), dkvoFloating, 0, 0},
        {"floating, none, at its floating width", floating(dksmNone, 80), dkvoFloating, 0, 80},
        {"on a form, sizing itself", onForm(dksmChevron, true, false, 200, {4, 4}), dkvoHorizontal, 0, 0},
        {"on a form, sized by others, chevron", onForm(dksmChevron, false, false, 200, {4, 4}), dkvoHorizontal, 196,
         0},
        {"on a form, sized by others, wrap", onForm(dksmWrap, false, false, 200, {4, 4}), dkvoHorizontal, 0, 196},
        {"on a form, stretched across, chevron", onForm(dksmChevron, true, true, 300, {0, 0}), dkvoHorizontal, 300,
         0},
        {"on a form, stretched across, wrap", onForm(dksmWrap, true, true, 300, {2, 2}), dkvoHorizontal, 0, 298},
        {"on a form, sized by others, none", onForm(dksmNone, false, true, 200, {4, 4}), dkvoHorizontal, 0, 0},
        {"on a form, narrower than its frame", onForm(dksmChevron, false, false, 3, {4, 4}), dkvoHorizontal, 0, 0},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        const TDkShrinkLayout layout = DkToolbarShrink(row.Facts);
        EXPECT_EQ(layout.Orientation, row.Orientation);
        EXPECT_EQ(layout.ChevronSize, 12);
        EXPECT_EQ(layout.AvailableLength, row.Available);
        EXPECT_EQ(layout.WrapOffset, row.Wrap);
    }
}

// A row of fake items of fixed widths, 22 high, wrapped greedily. `stretched`: a wrapped
// layout is at least as wide as the wrap width, as the view's is; otherwise as wide as
// its longest line. Never smaller than 23 by 22, as the view.
struct TFakeRow {
    std::vector<int> Widths;
    bool Stretched = true;
    std::vector<int> Tried;

    POINT operator()(int wrap, int& lines)
    {
        Tried.push_back(wrap);
        lines = 1;
        int line = 0, widest = 0;
        for (int w : Widths) {
            if (wrap > 0 && line > 0 && line + w > wrap) {
                ++lines;
                line = 0;
            }
            line += w;
            widest = std::max(widest, line);
        }
        if (lines > 1 && Stretched) widest = std::max(widest, wrap);
        return {std::max(widest, 23), std::max(22 * lines, 22)};
    }
};

struct TSize {
    int Width, Height, Wrap, Lines;
};

std::vector<TSize> Plain(const std::vector<TDkFloatingSize>& sizes)
{
    std::vector<TSize> plain;
    for (const TDkFloatingSize& s : sizes)
        plain.push_back({static_cast<int>(s.Size.x), static_cast<int>(s.Size.y), s.WrapWidth, s.Lines});
    return plain;
}

bool operator==(const TSize& a, const TSize& b)
{
    return a.Width == b.Width && a.Height == b.Height && a.Wrap == b.Wrap && a.Lines == b.Lines;
}

void PrintTo(const TSize& s, std::ostream* os)
{
    *os << s.Width << "x" << s.Height << " wrap " << s.Wrap << " lines " << s.Lines;
}

TEST(DkFloatingSizes, CollectedByTheTable)
{
    const struct {
        const char* Name;
        std::vector<int> Widths;
        bool Stretched;
        int MinWidth;
        std::vector<TSize> Expected;
    } rows[] = {
        // 140 in one line; two lines down to 70 wide; four lines (40 | 30 | 50 | 20) down to
        // the widest item; one pixel less makes the widest item stick out and ends it.
        {"lines as wide as the wrap width", {40, 30, 50, 20}, true, 0,
         {{140, 22, 0, 1}, {70, 44, 70, 2}, {50, 88, 50, 4}}},
        {"lines as wide as their items: the next try jumps to them", {40, 30, 50, 20}, false, 0,
         {{140, 22, 0, 1}, {70, 44, 70, 2}, {50, 88, 50, 4}}},
        {"the side margins end the search", {40, 30, 50, 20}, true, 60, {{140, 22, 0, 1}, {70, 44, 70, 2}, {60, 88, 60, 4}}},
        {"one item wider than every wrap", {100}, true, 0, {{100, 22, 0, 1}}},
        {"an empty toolbar", {}, true, 0, {{23, 22, 0, 1}}},
        // Three to a line and two to a line both make two lines: the narrower replaces the other.
        {"equal items: two lines once, at their narrowest", {30, 30, 30, 30}, true, 0,
         {{120, 22, 0, 1}, {60, 44, 60, 2}, {30, 88, 30, 4}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        TFakeRow fake{row.Widths, row.Stretched, {}};
        const auto sizes = DkCollectFloatingSizes(std::ref(fake), row.MinWidth);
        EXPECT_EQ(Plain(sizes), row.Expected);
        // Every try is narrower than the one before: the search cannot run for ever.
        for (size_t i = 2; i < fake.Tried.size(); ++i) EXPECT_LT(fake.Tried[i], fake.Tried[i - 1]);
        EXPECT_EQ(fake.Tried.front(), 0);
    }
}

// Neighbouring sizes never have the same number of lines, however the items fall.
TEST(DkFloatingSizes, NeighboursDifferInLinesAndWidth)
{
    const std::vector<std::vector<int>> rows = {{30, 30, 30, 30}, {10, 50, 10, 50, 10}, {45, 5, 45, 5, 45, 5}};
    for (const auto& widths : rows) {
        for (const bool stretched : {true, false}) {
            TFakeRow fake{widths, stretched, {}};
            const auto sizes = DkCollectFloatingSizes(std::ref(fake), 0);
            for (size_t i = 1; i < sizes.size(); ++i) {
                EXPECT_NE(sizes[i].Lines, sizes[i - 1].Lines) << "at " << i;
                EXPECT_LT(sizes[i].Size.x, sizes[i - 1].Size.x) << "at " << i;
            }
        }
    }
}

const std::vector<TDkFloatingSize> ThreeSizes = {
    {{140, 22}, 0, 1},
    {{70, 44}, 70, 2},
    {{50, 88}, 50, 4},
};

TEST(DkFloatingSizes, SortedLargerFirstAlongTheResize)
{
    const struct {
        int Edge;
        bool ByHeight;
        std::vector<int> Widths;  // in sorted order
    } rows[] = {
        {0, false, {140, 70, 50}}, {1, false, {140, 70, 50}}, {2, true, {50, 70, 140}}, {3, false, {140, 70, 50}},
        {4, false, {140, 70, 50}}, {5, true, {50, 70, 140}}, {6, false, {140, 70, 50}}, {7, false, {140, 70, 50}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("edge " + std::to_string(row.Edge));
        EXPECT_EQ(DkSizingByHeight(row.Edge), row.ByHeight);
        std::vector<TDkFloatingSize> sizes = {ThreeSizes[1], ThreeSizes[0], ThreeSizes[2]};
        DkSortFloatingSizes(sizes, DkSizingByHeight(row.Edge));
        std::vector<int> widths;
        for (const auto& s : sizes) widths.push_back(s.Size.x);
        EXPECT_EQ(widths, row.Widths);
    }
}

TEST(DkFloatingSizes, SnappingStepsByTheTable)
{
    // Sorted by width: 0 = 140x22, 1 = 70x44, 2 = 50x88. By height: 0 = 50x88, 1 = 70x44,
    // 2 = 140x22.
    const struct {
        const char* Name;
        bool ByHeight;
        int Current;
        int Proposed;
        int Expected;
    } rows[] = {
        {"a pixel narrower stays", false, 0, 139, 0},
        {"reaching the next width takes it", false, 0, 70, 1},
        {"one short of it stays", false, 0, 71, 0},
        {"between two widths, the one reached", false, 0, 60, 1},
        {"a fast move past both takes the nearest to the cursor", false, 0, 40, 2},
        {"wider again stays until the wider size is reached", false, 1, 139, 1},
        {"reaching it takes it", false, 1, 140, 0},
        {"past the widest, the widest", false, 1, 400, 0},
        {"from the narrowest, one short of the next", false, 2, 69, 2},
        {"from the narrowest, the next", false, 2, 70, 1},
        {"unchanged stays", false, 1, 70, 1},
        {"no size yet: the nearest", false, -1, 65, 1},
        {"no size yet, far below: the narrowest", false, -1, 10, 2},
        {"by height: taller reaches two lines", true, 2, 50, 1},
        {"by height: far taller takes four lines", true, 2, 100, 0},
        {"by height: shorter from four lines stops at two", true, 0, 30, 1},
        {"by height: shorter to one line", true, 0, 22, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        std::vector<TDkFloatingSize> sizes = ThreeSizes;
        DkSortFloatingSizes(sizes, row.ByHeight);
        EXPECT_EQ(DkSnapFloatingSize(sizes, row.ByHeight, row.Current, row.Proposed), row.Expected);
    }
    EXPECT_EQ(DkSnapFloatingSize({}, false, -1, 100), -1);
}

TEST(DkFloatingSizes, TheMovingSidesGiveWay)
{
    const RECT start = {100, 100, 300, 200};
    const struct {
        int Edge;
        RECT Expected;
    } rows[] = {
        {0, {250, 100, 300, 130}}, {1, {100, 100, 150, 130}}, {2, {100, 170, 150, 200}},
        {3, {250, 170, 300, 200}}, {4, {100, 170, 150, 200}}, {5, {100, 100, 150, 130}},
        {6, {250, 100, 300, 130}}, {7, {100, 100, 150, 130}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("edge " + std::to_string(row.Edge));
        const RECT r = DkSizedRect(start, row.Edge, {50, 30});
        EXPECT_EQ(r.left, row.Expected.left);
        EXPECT_EQ(r.top, row.Expected.top);
        EXPECT_EQ(r.right, row.Expected.right);
        EXPECT_EQ(r.bottom, row.Expected.bottom);
    }
}

TEST(DkFloatingSizes, AWidthReadBackIsCheckedByTheTable)
{
    const struct {
        const char* Name;
        int Width;
        int Expected;
    } rows[] = {
        {"unwrapped", 0, 0},
        {"negative", -5, 0},
        {"the unwrapped width itself", 140, 0},
        {"wider than unwrapped", 500, 0},
        {"a collected width", 70, 70},
        {"between two: the wider that fits", 100, 70},
        {"one less than a collected width", 69, 50},
        {"the narrowest", 50, 50},
        {"narrower than any: unwrapped", 49, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(DkFitFloatingWidth(ThreeSizes, row.Width), row.Expected);
    }
    EXPECT_EQ(DkFitFloatingWidth({}, 70), 0);
}

}  // namespace
