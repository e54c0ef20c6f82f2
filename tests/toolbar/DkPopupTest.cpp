// Where popups open: below or beside the item that opens them, at a point, and how they
// are kept on a monitor 1000 by 700 pixels large.
#include "DkPopup.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const RECT Monitor = {0, 0, 1000, 700};

struct TPlacementCase {
    const char* Name;
    TDkPopupPlaceKind Kind;
    RECT Parent;
    SIZE Size;
    POINT Expected;
    unsigned char Direction;
    bool Leftward = false;
    TDkPopupAlignment Alignment = dkpaLeft;
    bool DropAlignmentRight = false;
    bool ParentLeftward = false;
    RECT Area = Monitor;
};

RECT At(int x, int y) { return {x, y, x, y}; }

TEST(DkPlacePopup, PlacesPopupsByTheTable)
{
    const std::vector<TPlacementCase> cases = {
        // Toolbars: below the item, or left of it in a vertical one.
        {"below a horizontal toolbar item", dkppHorizontalToolbar, {100, 20, 150, 42}, {200, 300}, {100, 42}, 4},
        {"right-aligned with the right menu drop alignment", dkppHorizontalToolbar, {400, 20, 450, 42},
         {200, 300}, {250, 42}, 4, false, dkpaLeft, true},
        {"below an item near the right edge ends at the edge", dkppHorizontalToolbar, {900, 20, 950, 42},
         {200, 300}, {800, 42}, 4},
        {"below an item near the bottom goes above it", dkppHorizontalToolbar, {100, 650, 150, 672},
         {200, 300}, {100, 350}, 8},
        {"from a vertical toolbar on the right: left of the item at its top", dkppVerticalToolbar,
         {950, 100, 1000, 122}, {200, 300}, {750, 100}, 1},
        {"from a vertical toolbar on the left: moved off the item to its right", dkppVerticalToolbar,
         {0, 100, 30, 122}, {200, 300}, {30, 100}, 2},
        {"from a vertical toolbar near the bottom: kept on the monitor, not flipped", dkppVerticalToolbar,
         {0, 650, 30, 672}, {200, 300}, {30, 400}, 2},
        {"from a vertical toolbar, too wide for the right side: stays over the item", dkppVerticalToolbar,
         {0, 100, 30, 122}, {990, 300}, {0, 100}, 0},
        // Chevrons.
        {"horizontal chevron: right-aligned below it", dkppHorizontalChevron, {980, 20, 992, 42}, {300, 50},
         {692, 42}, 4},
        {"horizontal chevron near the left edge", dkppHorizontalChevron, {20, 20, 32, 42}, {300, 50}, {0, 42}, 4},
        {"vertical chevron on the right: left of it", dkppVerticalChevron, {970, 600, 1000, 612}, {300, 50},
         {670, 600}, 1},
        {"vertical chevron on the left: moved off it to the right", dkppVerticalChevron, {0, 600, 30, 612},
         {300, 50}, {30, 600}, 2},
        {"vertical chevron at the bottom goes above its top", dkppVerticalChevron, {970, 660, 1000, 672},
         {300, 50}, {670, 610}, 9},
        // Sub-menus beside their item.
        {"beside an item, fitting on the right", dkppBesideItem, {100, 100, 300, 120}, {200, 300}, {297, 97}, 2},
        {"beside an item near the right edge goes left", dkppBesideItem, {700, 100, 900, 120}, {200, 300},
         {503, 97}, 1, true},
        {"a leftward parent's sub-menu keeps going left", dkppBesideItem, {400, 100, 600, 120}, {200, 300},
         {203, 97}, 1, true, dkpaLeft, false, true},
        {"a leftward parent's sub-menu without room on the left goes right", dkppBesideItem, {100, 100, 300, 120},
         {200, 300}, {297, 97}, 2, false, dkpaLeft, false, true},
        {"too wide for both sides: ends at the right edge", dkppBesideItem, {300, 100, 700, 120}, {400, 300},
         {600, 97}, 2},
        {"beside an item past the bottom goes above", dkppBesideItem, {100, 600, 300, 620}, {200, 300},
         {297, 323}, 2},
        {"beside an item, no room above either: ends at the bottom", dkppBesideItem, {100, 400, 300, 420},
         {200, 500}, {297, 200}, 2},
        {"taller than the monitor: clamped to its top", dkppBesideItem, {100, 100, 300, 120}, {200, 800},
         {297, 0}, 2},
        // At a point.
        {"at a point, left-aligned", dkppAtPoint, At(500, 300), {200, 300}, {500, 300}, 6},
        {"at a point, right-aligned", dkppAtPoint, At(500, 300), {200, 300}, {300, 300}, 5, false, dkpaRight},
        {"at a point, centred", dkppAtPoint, At(500, 300), {200, 300}, {400, 300}, 4, false, dkpaCenter},
        {"left-aligned past the right edge ends at the point", dkppAtPoint, At(900, 100), {200, 300}, {700, 100},
         5},
        {"right-aligned past the left edge starts at the point", dkppAtPoint, At(100, 100), {200, 300},
         {100, 100}, 6, false, dkpaRight},
        {"right-aligned past the right edge ends at the edge", dkppAtPoint, At(1100, 100), {200, 300},
         {800, 100}, 5, false, dkpaRight},
        {"centred past the right edge ends at the edge", dkppAtPoint, At(950, 100), {200, 300}, {800, 100}, 4,
         false, dkpaCenter},
        {"centred past the left edge starts at the edge", dkppAtPoint, At(50, 100), {200, 300}, {0, 100}, 4,
         false, dkpaCenter},
        {"at a point past the bottom goes above it", dkppAtPoint, At(500, 600), {200, 300}, {500, 300}, 10},
        {"at a point past both edges: the top left of the monitor", dkppAtPoint, At(500, 600), {1200, 800},
         {0, 0}, 0},
        {"at a point on a monitor left of the primary one", dkppAtPoint, At(-100, 100), {200, 300},
         {-300, 100}, 5, false, dkpaLeft, false, false, {-1000, 0, 0, 700}},
    };
    for (const TPlacementCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TDkPopupPlacementIn in;
        in.Kind = c.Kind;
        in.Parent = c.Parent;
        in.Size = c.Size;
        in.Monitor = c.Area;
        in.Alignment = c.Alignment;
        in.DropAlignmentRight = c.DropAlignmentRight;
        in.ParentLeftward = c.ParentLeftward;
        unsigned char direction = 0xFF;
        bool leftward = !c.Leftward;
        const POINT at = DkPlacePopup(in, direction, leftward);
        EXPECT_EQ(at.x, c.Expected.x);
        EXPECT_EQ(at.y, c.Expected.y);
        EXPECT_EQ(direction, c.Direction);
        EXPECT_EQ(leftward, c.Leftward);
    }
}

}  // namespace
