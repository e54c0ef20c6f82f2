// The decisions of the drag and resize loops of dockable windows: reach, the dragged
// rectangle, the floating clamp, the row under the cursor and a resize step.
#include "DkDockDrag.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Text(const RECT& r)
{
    char text[64];
    std::snprintf(text, sizeof text, "{%ld,%ld,%ld,%ld}", static_cast<long>(r.left), static_cast<long>(r.top),
                  static_cast<long>(r.right), static_cast<long>(r.bottom));
    return text;
}

bool Same(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TDkDragGrab Grab(int x, int y, int width, int height)
{
    TDkDragGrab g;
    g.Offset = {x, y};
    g.Extent = {width - 1, height - 1};
    return g;
}

TEST(DkDockDrag, GrabScaleByTheTable)
{
    const struct {
        const char* Name;
        int Length, Part, Whole, Expected;
    } cases[] = {
        {"the same length keeps the offset", 99, 40, 99, 40},
        {"twice the length doubles it", 199, 40, 99, 80},
        {"rounds to the nearest", 10, 2, 3, 7},
        {"a one-pixel window has no proportion to keep", 99, 0, 0, 0},
        {"a window of no size neither", 99, 5, -1, 0},
        {"a target of one pixel puts the grab on its only pixel", 0, 40, 99, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(DkGrabScale(c.Length, c.Part, c.Whole), c.Expected);
    }
}

TEST(DkDockDrag, DragRectKeepsTheGrabPointInProportion)
{
    const struct {
        const char* Name;
        POINT Cursor;
        TDkDragGrab Grab;
        SIZE Size;
        RECT Expected;
    } cases[] = {
        {"the same size: the window follows the cursor", {300, 200}, Grab(10, 5, 100, 20), {100, 20}, {290, 195, 390, 215}},
        {"grabbed at the far corner stays at the far corner", {300, 200}, Grab(99, 19, 100, 20), {50, 40}, {251, 161, 301, 201}},
        {"grabbed in the middle of a window twice as wide", {300, 200}, Grab(50, 10, 101, 21), {201, 41}, {200, 180, 401, 221}},
        {"a one-pixel window takes its new rectangle from the cursor", {300, 200}, Grab(0, 0, 1, 1), {60, 22}, {300, 200, 360, 222}},
        {"a target of one pixel sits under the cursor", {300, 200}, Grab(30, 10, 60, 22), {1, 1}, {300, 200, 301, 201}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const RECT r = DkDragRect(c.Cursor, c.Grab, c.Size);
        EXPECT_TRUE(Same(r, c.Expected)) << Text(r);
    }
}

TEST(DkDockDrag, ReachOfADockByTheTable)
{
    const RECT top = {0, 0, 400, 30};
    const RECT left = {0, 30, 30, 330};
    const struct {
        const char* Name;
        RECT Dock;
        bool Vertical;
        POINT Cursor;
        TDkDragGrab Grab;
        bool Expected;
    } cases[] = {
        {"inside the dock", top, false, {100, 10}, Grab(0, 0, 100, 20), true},
        {"grabbed at the top: 25 above the grown dock", top, false, {100, -28}, Grab(0, 0, 100, 40), true},
        {"and not one more", top, false, {100, -29}, Grab(0, 0, 100, 40), false},
        {"grabbed at the bottom: 25 below the grown dock, bottom excluded", top, false, {100, 57}, Grab(0, 39, 100, 40), true},
        {"and not at the bottom", top, false, {100, 58}, Grab(0, 39, 100, 40), false},
        {"grabbed at the left: 25 left of the grown dock", top, false, {-28, 10}, Grab(0, 0, 100, 20), true},
        {"and not one more to the left", top, false, {-29, 10}, Grab(0, 0, 100, 20), false},
        {"grabbed at the right end: 25 right of the grown dock, right excluded", top, false, {427, 10}, Grab(99, 0, 100, 20), true},
        {"and not at the right", top, false, {428, 10}, Grab(99, 0, 100, 20), false},
        {"a one-pixel window", top, false, {5, 5}, Grab(0, 0, 1, 1), true},
        {"a left dock wants the cursor beside it", left, true, {15, 100}, Grab(0, 0, 20, 100), true},
        {"a left dock: the cursor above it is out", left, true, {15, 20}, Grab(0, 0, 20, 100), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const SIZE size = {c.Grab.Extent.cx + 1, c.Grab.Extent.cy + 1};
        const RECT docked = DkDragRect(c.Cursor, c.Grab, size);
        EXPECT_EQ(DkDockInReach(c.Dock, c.Vertical, c.Cursor, c.Grab, docked), c.Expected);
    }
}

TEST(DkDockDrag, ReachWantsTheDockedRectangleOverTheDock)
{
    const RECT dock = {0, 0, 400, 30};
    const TDkDragGrab grab = Grab(0, 0, 100, 20);
    EXPECT_TRUE(DkDockInReach(dock, false, {100, 10}, grab, {100, 10, 200, 30}));
    EXPECT_FALSE(DkDockInReach(dock, false, {100, 10}, grab, {100, 40, 200, 60}));
    EXPECT_FALSE(DkDockInReach(dock, false, {100, 10}, grab, {100, 10, 100, 10}));
}

TEST(DkDockDrag, CursorClampedIntoTheArea)
{
    const RECT area = {0, 0, 1280, 994};
    const struct {
        POINT In, Out;
    } cases[] = {
        {{100, 100}, {100, 100}}, {{-5, 100}, {0, 100}}, {{1280, 994}, {1279, 993}}, {{2000, -3}, {1279, 0}},
    };
    for (const auto& c : cases) {
        const POINT p = DkClampToArea(c.In, area);
        EXPECT_EQ(p.x, c.Out.x);
        EXPECT_EQ(p.y, c.Out.y);
    }
}

TEST(DkDockDrag, FloatingRectangleComesBackTowardTheWorkArea)
{
    const RECT area = {0, 0, 1000, 800};
    const SIZE border = {3, 3};  // the area shrunk by 7 on each side: 7..993, 7..793
    const struct {
        const char* Name;
        RECT In, Expected;
    } cases[] = {
        {"inside stays", {100, 100, 200, 150}, {100, 100, 200, 150}},
        {"off the left edge: its right comes back to the shrunk area", {-300, 100, -200, 150}, {-93, 100, 7, 150}},
        {"partly off the left edge stays", {-50, 100, 50, 150}, {-50, 100, 50, 150}},
        {"off the right edge: its left comes back", {1100, 100, 1200, 150}, {993, 100, 1093, 150}},
        {"below the bottom: its top comes back", {100, 900, 200, 950}, {100, 793, 200, 843}},
        {"the top never rises above the work area", {100, -20, 200, 30}, {100, 0, 200, 50}},
        {"far above: the top rule puts it at the top", {100, -300, 200, -250}, {100, 0, 200, 50}},
        {"off two edges at once", {-300, 900, -200, 950}, {-93, 793, 7, 843}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const RECT r = DkClampFloatingRect(c.In, area, border);
        EXPECT_TRUE(Same(r, c.Expected)) << Text(r);
    }
}

TEST(DkDockDrag, RowUnderTheMiddleByTheTable)
{
    const std::vector<TDkDragRow> two = {{20, false}, {20, false}};
    const std::vector<TDkDragRow> fullFirst = {{20, true}, {20, false}};
    const std::vector<TDkDragRow> hiddenFirst = {{0, false}, {20, false}};
    const struct {
        const char* Name;
        std::vector<TDkDragRow> Rows;
        int Middle;
        bool FullSize;
        TDkRowHit Expected;
    } cases[] = {
        {"above the dock: a new first row", two, -5, false, {0, true}},
        {"the first quarter of a row: a new row before it", two, 4, false, {0, true}},
        {"past the first quarter: that row", two, 5, false, {0, false}},
        {"up to the last quarter: still that row", two, 14, false, {0, false}},
        {"the last quarter goes to the next row's first: a new row between", two, 15, false, {1, true}},
        {"the second row", two, 25, false, {1, false}},
        {"the last quarter of the last row: a new row after it", two, 35, false, {2, true}},
        {"below the dock: a new row after the last", two, 100, false, {2, true}},
        {"a full-size window: the first half is a new row before", two, 9, true, {0, true}},
        {"a full-size window: the second half goes on to the next row", two, 10, true, {1, true}},
        {"a full-size window never joins a row", two, 39, true, {2, true}},
        {"a full-size row: its first half is a new row before it", fullFirst, 9, false, {0, true}},
        {"a full-size row: its second half belongs to the next row", fullFirst, 12, false, {1, true}},
        {"the row after a full-size row is joined as usual", fullFirst, 30, false, {1, false}},
        {"a row of no thickness is skipped", hiddenFirst, 2, false, {1, true}},
        {"and takes no room", hiddenFirst, 10, false, {1, false}},
        {"a dock without rows: a new first row", {}, 10, false, {0, true}},
        {"rows of one pixel: no quarter", {{1, false}}, 0, false, {0, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const TDkRowHit hit = DkFindDragRow(c.Rows, c.Middle, c.FullSize);
        EXPECT_EQ(hit.Row, c.Expected.Row);
        EXPECT_EQ(hit.NewRow, c.Expected.NewRow);
    }
}

TEST(DkDockDrag, ResizeStepByTheTable)
{
    const RECT start = {100, 100, 200, 150};
    const SIZE none = {0, 0};
    const struct {
        const char* Name;
        int Edge;
        POINT Travel;
        SIZE Min, Max;
        RECT Expected;
    } cases[] = {
        {"left", 0, {-10, 20}, none, none, {90, 100, 200, 150}},
        {"right", 1, {-10, 20}, none, none, {100, 100, 190, 150}},
        {"top", 2, {-10, 20}, none, none, {100, 120, 200, 150}},
        {"top-left", 3, {-10, 20}, none, none, {90, 120, 200, 150}},
        {"top-right", 4, {-10, 20}, none, none, {100, 120, 190, 150}},
        {"bottom", 5, {-10, 20}, none, none, {100, 100, 200, 170}},
        {"bottom-left", 6, {-10, 20}, none, none, {90, 100, 200, 170}},
        {"bottom-right", 7, {-10, 20}, none, none, {100, 100, 190, 170}},
        {"the minimum width holds the left side back", 0, {95, 0}, {20, 10}, none, {180, 100, 200, 150}},
        {"the minimum height holds the bottom side back", 5, {0, -45}, {20, 10}, none, {100, 100, 200, 110}},
        {"the maximum width holds the right side back", 1, {200, 0}, none, {150, 0}, {100, 100, 250, 150}},
        {"the maximum height holds the top side back", 2, {0, -200}, none, {0, 80}, {100, 70, 200, 150}},
        {"a maximum of 0 is none", 7, {500, 500}, none, none, {100, 100, 700, 650}},
        {"the minimum wins over a smaller maximum", 1, {0, 0}, {120, 0}, {110, 0}, {100, 100, 220, 150}},
        {"without a minimum a side stops at the other", 1, {-150, 0}, none, none, {100, 100, 100, 150}},
        {"an edge that is none leaves the rectangle", 8, {30, 30}, none, none, {100, 100, 200, 150}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const RECT r = DkSizingRect(start, c.Travel, c.Edge, c.Min, c.Max);
        EXPECT_TRUE(Same(r, c.Expected)) << Text(r);
    }
}

}  // namespace
