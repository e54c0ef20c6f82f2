// The decisions of the drag and resize loops of dockable windows, apart from the windows:
// which dock a dragged window reaches, the rectangle it takes there or floating, the row it
// goes to, and each step of a floating window's resize.
#pragma once

#include <windows.h>

#include <vector>

// Where the window was grabbed: the cursor's offset from its top-left corner (the floating
// frame's corner when floating) and its width - 1 and height - 1.
struct TDkDragGrab {
    POINT Offset = {0, 0};
    SIZE Extent = {0, 0};
};

// MulDiv(length, part, whole), 0 when the whole is 0 or less (a window one pixel wide or high).
int DkGrabScale(int length, int part, int whole);

// The rectangle of `size` that keeps the grab point in proportion under the cursor.
RECT DkDragRect(POINT cursor, const TDkDragGrab& grab, SIZE size);

// Whether a dock (screen rectangle `dock`) takes a window dragged with the cursor at
// `cursor`, the window's rectangle docked there being `docked`.
bool DkDockInReach(const RECT& dock, bool verticalDock, POINT cursor, const TDkDragGrab& grab, const RECT& docked);

// The point moved into the area (right and bottom excluded).
POINT DkClampToArea(POINT p, const RECT& area);

// A floating rectangle moved back until it overlaps the work area shrunk by the frame's
// border plus 4 on each axis; its top never rises above the work area's top, so that the
// caption stays where it can be grabbed.
RECT DkClampFloatingRect(RECT rect, const RECT& workArea, SIZE border);

// A row of a dock as a drag sees it: the thickness of its shown windows, and whether the
// last of them is full-size.
struct TDkDragRow {
    int Thickness = 0;
    bool FullSize = false;
};
// The row for the middle of the dragged rectangle across the dock (dock client
// coordinates, rows stacked from 0): a row, or a new row before that row (past the last
// row: a new row after it, whose number is the row count).
struct TDkRowHit {
    int Row = 0;
    bool NewRow = false;
    bool operator==(const TDkRowHit& other) const { return Row == other.Row && NewRow == other.NewRow; }
};
TDkRowHit DkFindDragRow(const std::vector<TDkDragRow>& rows, int middle, bool fullSize);

// The sides a resize edge moves (edges 0 left, 1 right, 2 top, 3 top-left, 4 top-right,
// 5 bottom, 6 bottom-left, 7 bottom-right).
bool DkEdgeChangesWidth(int edge);
bool DkEdgeChangesHeight(int edge);
bool DkEdgeMovesLeft(int edge);
bool DkEdgeMovesTop(int edge);

// One step of a resize: the starting rectangle with its moving sides moved by the cursor's
// travel, the width and height kept within the minimum and the maximum (0: none) by moving
// the moving side back; the minimum wins over a smaller maximum, and a moving side never
// passes the fixed one.
RECT DkSizingRect(const RECT& start, POINT travel, int edge, SIZE minSize, SIZE maxSize);

// What confines the cursor while a floating window is resized: ClipCursor, unless a test
// puts another in place (Wine accepts a clip and ignores it). nullptr restores the
// system's; returns the one before.
using TDkClipCursorProc = BOOL(WINAPI*)(const RECT* area);
TDkClipCursorProc SetDkClipCursor(TDkClipCursorProc proc);
