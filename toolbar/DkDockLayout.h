// The arrangement of a dock's windows in rows as a pure computation over the windows'
// facts: no windows, so it is tested by tables.
#pragma once

#include <vector>

// How a toolbar gives way when its row is too short.
enum TDkShrinkMode { dksmNone, dksmWrap, dksmChevron };

// One window of a row being fitted: what the fitting reads (in) and works out (out).
struct TDkFitWindow {
    // In.
    int DockPos = 0;        // the wanted start; negative: not placed, right after the previous one
    int Natural = 0;        // its length at its natural size
    int Minimum = 0;        // the least it can be shortened to (kept within 0..Natural)
    TDkShrinkMode Shrink = dksmNone;
    bool FullSize = false;
    bool Stretch = false;
    bool Dragged = false;   // the dock's dragged window

    // Out.
    int Gap = 0;            // free space between the previous window's end and its start
    int Overlap = 0;        // how far its wanted start lies before the previous one's end
    int Length = 0;
    int Start = 0;
};

// Fits one row into `available`; true when the row holds the dragged window beside others
// and windows beside it were shortened for it (the drag may then split the row).
bool DkFitRow(std::vector<TDkFitWindow>& row, int available);

// One window of a dock.
struct TDkDockBarFacts {
    // In.
    int DockRow = 0;
    int DockPos = -1;       // negative: not placed, at the end of its row
    int NaturalLength = 0;  // along the dock, with its non-client size
    int MinimumLength = 0;
    TDkShrinkMode ShrinkMode = dksmNone;
    bool FullSize = false;
    bool Stretch = false;
    bool InsertRowBefore = false;
    bool Dragged = false;
    int Thickness = 0;      // across the dock, with its non-client size

    // Out.
    int Row = -1;           // effective row
    int Position = -1;      // effective start along the dock
    int Length = 0;         // the length the dock gives it
};

struct TDkDockArrangement {
    std::vector<int> Order;         // indexes of the facts in row and position order
    std::vector<int> RowThickness;  // per row: its thickest window plus 4 (0 for none)
    bool DragCanSplit = false;
};

// Arranges the windows (given in the dock's list order) in rows within `available`; while
// drag-splitting, the dragged window keeps its place in that order.
TDkDockArrangement DkArrangeDock(std::vector<TDkDockBarFacts>& bars, int available, bool dragSplitting);

// Each row's thickness from the windows' thicknesses: the thickest plus 4, 0 for a row
// without thickness.
std::vector<int> DkRowThicknesses(const std::vector<TDkDockBarFacts>& bars, int rowCount);
