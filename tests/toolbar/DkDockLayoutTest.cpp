// The arrangement of a dock's windows in rows, fitting one row, the drag-handle sizes and
// the hit test of a floating frame: pure computations, tested by tables.
#include "DkDock.h"
#include "DkDockLayout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A window of a row: its facts in, where it goes out.
struct TFitIn {
    int DockPos;
    int Natural;
    int Minimum = 0;
    TDkShrinkMode Shrink = dksmNone;
    bool FullSize = false;
    bool Stretch = false;
    bool Dragged = false;
};
struct TPlace {
    int Start;
    int Length;
};
struct TFitCase {
    const char* Name;
    int Available;
    std::vector<TFitIn> Row;
    std::vector<TPlace> Expected;
    bool CanSplit = false;
};

TDkFitWindow FitWindow(const TFitIn& in)
{
    TDkFitWindow w;
    w.DockPos = in.DockPos;
    w.Natural = in.Natural;
    w.Minimum = in.Minimum;
    w.Shrink = in.Shrink;
    w.FullSize = in.FullSize;
    w.Stretch = in.Stretch;
    w.Dragged = in.Dragged;
    return w;
}

const TFitIn Chevron(int pos, int natural, int minimum) { return {pos, natural, minimum, dksmChevron}; }

TEST(DkFitRow, PlacesEachWindowOfARow)
{
    const TFitCase cases[] = {
        {"gaps are kept while the row fits", 300, {{0, 50}, {100, 50}}, {{0, 50}, {100, 50}}},
        {"a window not placed follows the one before", 300, {{0, 50}, {-1, 60}}, {{0, 50}, {50, 60}}},
        {"a window never goes over the one before", 300, {{0, 100}, {50, 50}}, {{0, 100}, {100, 50}}},
        {"the windows before the dragged one give up their gaps, those behind keep their places", 300,
         {{0, 50}, {100, 50}, {120, 50, 0, dksmNone, false, false, true}, {250, 40}},
         {{0, 50}, {70, 50}, {120, 50}, {250, 40}}},
        {"gaps from the end go until the row ends within the dock", 200, {{0, 50}, {180, 50}}, {{0, 50}, {150, 50}}},
        {"an overlap shortens the chevron window before it", 200, {Chevron(0, 150, 40), {100, 100}},
         {{0, 100}, {100, 100}}},
        {"without overlaps the windows are shortened from the end", 200,
         {Chevron(0, 150, 40), Chevron(150, 100, 30)}, {{0, 150}, {150, 50}}},
        {"an overflowing row keeps no gaps", 200, {{0, 100}, Chevron(150, 150, 10)}, {{0, 100}, {100, 100}}},
        {"the gaps a row drops move the later wanted starts along", 300,
         {{0, 100}, Chevron(150, 100, 0), {220, 50}, Chevron(300, 100, 0)},
         {{0, 100}, {100, 70}, {170, 50}, {220, 80}}},
        {"a wrapping window alone in its row shrinks", 100, {{0, 150, 40, dksmWrap}}, {{0, 100}}},
        {"a wrapping window beside another keeps its length", 100, {{0, 80, 10, dksmWrap}, {80, 50}},
         {{0, 80}, {80, 50}}},
        {"a window that does not shrink keeps its length", 100, {{0, 150, 40}}, {{0, 150}}},
        {"a full-size window takes the whole row", 200, {{30, 50, 0, dksmNone, true}}, {{0, 200}}},
        {"a full-size window longer than the row keeps its length", 100, {{0, 150, 0, dksmNone, true}}, {{0, 150}}},
        {"a stretching window takes the space up to the next", 300, {{0, 50, 0, dksmNone, false, true}, {150, 50}},
         {{0, 150}, {150, 50}}},
        {"a stretching window takes its own gap and the rest of the row", 200,
         {{0, 50}, {80, 50, 0, dksmNone, false, true}}, {{0, 50}, {50, 150}}},
        {"a minimum of 0 lets a window shrink to nothing", 30, {Chevron(0, 100, 0)}, {{0, 30}}},
        {"a minimum above the natural length is the natural length", 50, {Chevron(0, 100, 300)}, {{0, 100}}},
        {"nothing available shortens every chevron window to its minimum", 0, {Chevron(0, 50, 10), {50, 40}},
         {{0, 10}, {10, 40}}},
        {"an overlap of the dragged window shortens its neighbour and marks the split", 200,
         {Chevron(0, 150, 20), {100, 100, 0, dksmNone, false, false, true}}, {{0, 100}, {100, 100}}, true},
        {"the dragged window ends the shortening for those behind it", 200,
         {Chevron(0, 100, 0), {100, 50, 0, dksmNone, false, false, true}, {120, 100}},
         {{0, 50}, {50, 50}, {100, 100}}},
        {"a dragged window alone in its row marks no split", 200,
         {{0, 300, 10, dksmChevron, false, false, true}}, {{0, 200}}},
        {"a shortening in a row without the dragged window marks no split", 200,
         {Chevron(0, 150, 20), {100, 100}}, {{0, 100}, {100, 100}}},
    };
    for (const TFitCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<TDkFitWindow> row;
        for (const TFitIn& in : c.Row) row.push_back(FitWindow(in));
        const bool canSplit = DkFitRow(row, c.Available);
        EXPECT_EQ(canSplit, c.CanSplit);
        ASSERT_EQ(row.size(), c.Expected.size());
        for (size_t i = 0; i < row.size(); ++i) {
            SCOPED_TRACE("window " + std::to_string(i));
            EXPECT_EQ(row[i].Start, c.Expected[i].Start);
            EXPECT_EQ(row[i].Length, c.Expected[i].Length);
        }
    }
}

TEST(DkFitRow, AnEmptyRowIsLeftAlone)
{
    std::vector<TDkFitWindow> row;
    EXPECT_FALSE(DkFitRow(row, 100));
}

// A window of a dock, and where the arrangement puts it.
struct TBarIn {
    int DockRow;
    int DockPos;
    int Natural;
    int Thickness = 22;
    TDkShrinkMode Shrink = dksmNone;
    int Minimum = 0;
    bool FullSize = false;
    bool InsertRowBefore = false;
    bool Dragged = false;
};
struct TBarOut {
    int Row;
    int Position;
    int Length;
};
struct TArrangeCase {
    const char* Name;
    int Available;
    bool DragSplitting;
    std::vector<TBarIn> Bars;
    std::vector<TBarOut> Expected;
    std::vector<int> Order;
    std::vector<int> RowThickness;
    bool CanSplit = false;
};

TEST(DkArrangeDock, PutsTheWindowsInRows)
{
    const TArrangeCase cases[] = {
        {"rows, then positions, give the order", 400, false,
         {{1, 0, 50}, {0, 50, 50}, {0, 0, 50}},
         {{1, 0, 50}, {0, 50, 50}, {0, 0, 50}}, {2, 1, 0}, {26, 26}},
        {"empty rows are removed", 400, false, {{3, 0, 50}, {7, 0, 50}}, {{0, 0, 50}, {1, 0, 50}}, {0, 1}, {26, 26}},
        {"windows not yet placed follow in list order", 400, false, {{0, -1, 50}, {0, -1, 60}},
         {{0, 0, 50}, {0, 50, 60}}, {0, 1}, {26}},
        {"insert row before opens a row of its own before its row", 400, false,
         {{0, 0, 50}, {0, 100, 50, 22, dksmNone, 0, false, true}},
         {{1, 0, 50}, {0, 100, 50}}, {1, 0}, {26, 26}},
        {"a new row moves the later rows down", 400, false,
         {{0, 0, 50}, {1, 0, 50, 22, dksmNone, 0, false, true}, {1, 60, 50}},
         {{0, 0, 50}, {1, 0, 50}, {2, 60, 50}}, {0, 1, 2}, {26, 26, 26}},
        {"insert row before alone in its row changes nothing", 400, false,
         {{0, 0, 50}, {1, 0, 50, 22, dksmNone, 0, false, true}},
         {{0, 0, 50}, {1, 0, 50}}, {0, 1}, {26, 26}},
        {"a full-size window opens a row and takes all of it", 400, false,
         {{0, 0, 50}, {0, 100, 50, 22, dksmNone, 0, true}, {0, 200, 50}},
         {{1, 0, 50}, {0, 0, 400}, {1, 200, 50}}, {1, 0, 2}, {26, 26}},
        {"minimum lengths over the available length go on in a new row", 200, false,
         {{0, 0, 150, 22, dksmChevron, 100}, {0, 150, 150, 22, dksmChevron, 120}},
         {{0, 0, 150}, {1, 50, 150}}, {0, 1}, {26, 26}},
        {"chevron windows share a row by shrinking", 200, false,
         {{0, 0, 150, 22, dksmChevron, 50}, {0, -1, 150, 22, dksmChevron, 50}},
         {{0, 0, 150}, {0, 150, 50}}, {0, 1}, {26}},
        {"windows that do not shrink need their natural length", 200, false, {{0, 0, 120}, {0, 120, 100}},
         {{0, 0, 120}, {1, 100, 100}}, {0, 1}, {26, 26}},
        {"a row wraps more than once", 100, false, {{0, 0, 80}, {0, 80, 80}, {0, 160, 80}},
         {{0, 0, 80}, {1, 20, 80}, {2, 20, 80}}, {0, 1, 2}, {26, 26, 26}},
        {"nothing available leaves every window a row of its own", 0, false, {{0, 0, 50}, {0, 50, 40}},
         {{0, 0, 50}, {1, 0, 40}}, {0, 1}, {26, 26}},
        {"a row is as thick as its thickest window plus 4", 400, false, {{0, 0, 50, 22}, {0, 60, 50, 30}, {1, 0, 50, 0}},
         {{0, 0, 50}, {0, 60, 50}, {1, 0, 50}}, {0, 1, 2}, {34, 0}},
        {"while splitting the dragged window keeps its place in the order", 400, true,
         {{0, 0, 50}, {0, 200, 50, 22, dksmNone, 0, false, false, true}, {0, 100, 50}},
         {{0, 0, 50}, {0, 200, 50}, {0, 250, 50}}, {0, 1, 2}, {26}},
        {"without splitting the dragged window is sorted with the others", 400, false,
         {{0, 0, 50}, {0, 200, 50, 22, dksmNone, 0, false, false, true}, {0, 100, 50}},
         {{0, 0, 50}, {0, 200, 50}, {0, 100, 50}}, {0, 2, 1}, {26}},
        {"a shortened neighbour of the dragged window marks the split", 200, false,
         {{0, 0, 150, 22, dksmChevron, 20}, {0, 100, 100, 22, dksmNone, 0, false, false, true}},
         {{0, 0, 100}, {0, 100, 100}}, {0, 1}, {26}, true},
    };
    for (const TArrangeCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<TDkDockBarFacts> bars;
        for (const TBarIn& in : c.Bars) {
            TDkDockBarFacts f;
            f.DockRow = in.DockRow;
            f.DockPos = in.DockPos;
            f.NaturalLength = in.Natural;
            f.Thickness = in.Thickness;
            f.ShrinkMode = in.Shrink;
            f.MinimumLength = in.Minimum;
            f.FullSize = in.FullSize;
            f.InsertRowBefore = in.InsertRowBefore;
            f.Dragged = in.Dragged;
            bars.push_back(f);
        }
        const TDkDockArrangement result = DkArrangeDock(bars, c.Available, c.DragSplitting);
        EXPECT_EQ(result.Order, c.Order);
        EXPECT_EQ(result.RowThickness, c.RowThickness);
        EXPECT_EQ(result.DragCanSplit, c.CanSplit);
        ASSERT_EQ(bars.size(), c.Expected.size());
        for (size_t i = 0; i < bars.size(); ++i) {
            SCOPED_TRACE("window " + std::to_string(i));
            EXPECT_EQ(bars[i].Row, c.Expected[i].Row);
            EXPECT_EQ(bars[i].Position, c.Expected[i].Position);
            EXPECT_EQ(bars[i].Length, c.Expected[i].Length);
        }
    }
}

TEST(DkArrangeDock, NoWindowsGiveNoRows)
{
    std::vector<TDkDockBarFacts> bars;
    const TDkDockArrangement result = DkArrangeDock(bars, 300, false);
    EXPECT_TRUE(result.Order.empty());
    EXPECT_TRUE(result.RowThickness.empty());
}

TEST(DkDragHandleSize, DependsOnTheStyleAndTheCloseButton)
{
    const struct {
        TDkDragHandleStyle Style;
        bool Close;
        int Size;
    } cases[] = {
        {dhDouble, false, 9}, {dhNone, false, 0}, {dhSingle, false, 6},
        {dhDouble, true, 14}, {dhNone, true, 14}, {dhSingle, true, 14},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.Style) + (c.Close ? " with close button" : ""));
        EXPECT_EQ(DkDragHandleSize(c.Style, c.Close), c.Size);
    }
}

// A floating frame 100 by 80 with 4-pixel borders and a 16-pixel small caption: the band
// runs from 4, 4 to 96, 19, its close button from x 81, the corners reach 19 pixels.
TDkFloatingFrame Frame(bool caption = true, bool close = true, bool resizable = true, bool eight = true)
{
    TDkFloatingFrame f;
    f.Window = {100, 80};
    f.Border = {4, 4};
    f.SmallCaption = 16;
    f.ShowCaption = caption;
    f.CloseButton = close;
    f.Resizable = resizable;
    f.EightCorners = eight;
    return f;
}

TEST(DkFloatingHitTest, AnswersForEachPartOfTheFrame)
{
    const struct {
        const char* Name;
        TDkFloatingFrame Frame;
        POINT At;
        int Code;
    } cases[] = {
        {"caption", Frame(), {20, 10}, DkHitCaption},
        {"caption's first pixel", Frame(), {4, 4}, DkHitCaption},
        {"caption just before the close button", Frame(), {80, 10}, DkHitCaption},
        {"close button", Frame(), {85, 10}, DkHitClose},
        {"close button's first column", Frame(), {81, 18}, DkHitClose},
        {"without a close button the band is caption", Frame(true, false), {85, 10}, DkHitCaption},
        {"below the band", Frame(), {50, 19}, HTNOWHERE},
        {"left border", Frame(), {1, 40}, HTLEFT},
        {"left border near the top", Frame(), {1, 18}, HTTOPLEFT},
        {"left border near the bottom", Frame(), {1, 61}, HTBOTTOMLEFT},
        {"left border above the bottom corner", Frame(), {3, 60}, HTLEFT},
        {"right border", Frame(), {96, 40}, HTRIGHT},
        {"right border near the top", Frame(), {99, 5}, HTTOPRIGHT},
        {"right border near the bottom", Frame(), {98, 75}, HTBOTTOMRIGHT},
        {"top border", Frame(), {50, 1}, HTTOP},
        {"top border near the left", Frame(), {18, 3}, HTTOPLEFT},
        {"top border near the right", Frame(), {81, 0}, HTTOPRIGHT},
        {"bottom border", Frame(), {50, 76}, HTBOTTOM},
        {"bottom border near the left", Frame(), {10, 78}, HTBOTTOMLEFT},
        {"bottom border near the right", Frame(), {90, 79}, HTBOTTOMRIGHT},
        {"four corners: the top wins at a corner", Frame(true, true, true, false), {1, 1}, HTTOP},
        {"four corners: the bottom wins at a corner", Frame(true, true, true, false), {98, 78}, HTBOTTOM},
        {"four corners: left border near the top", Frame(true, true, true, false), {1, 10}, HTLEFT},
        {"four corners: right border", Frame(true, true, true, false), {98, 40}, HTRIGHT},
        {"not resizable: borders answer nothing", Frame(true, true, false), {1, 40}, HTNOWHERE},
        {"not resizable: the caption still answers", Frame(true, true, false), {20, 10}, DkHitCaption},
        {"no caption: the band is inside", Frame(false), {20, 10}, HTNOWHERE},
        {"no caption: no close button either", Frame(false), {85, 10}, HTNOWHERE},
        {"no caption: the top border", Frame(false), {20, 2}, HTTOP},
        {"inside", Frame(), {50, 40}, HTNOWHERE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(DkFloatingHitTest(c.Frame, c.At), c.Code);
    }
}

}  // namespace
