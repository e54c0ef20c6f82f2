// The placing of a view's viewers as a pure computation over the items' facts and their
// measured sizes: no windows, so it is tested by tables.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

// One viewer: what the layout reads of its item (in) and where it goes (out).
struct TDkLayoutEntry {
    // In.
    bool Visible = true;
    bool Separator = false;
    bool HiddenUnlessCustomizing = false;
    bool IsControl = false;      // a hosted control
    bool ControlShown = false;   // its control sits in the view's window and is visible
    bool IsChevron = false;      // the chevron item (always the last entry when present)
    bool KeepsLine = false;      // a separator that never breaks the line by itself
    bool RightAligned = false;
    bool ToolbarSize = false;    // laid out side by side in menus
    bool SameWidth = false;      // widened to the widest of its kind
    bool ParentOffEdge = false;  // chevron popups: the parent view's viewer here is off edge

    // Out. Rect is in view client coordinates, empty for an entry that is not placed (a
    // control brings its size in right and bottom).
    RECT Rect = {0, 0, 0, 0};
    bool Show = false;
    bool OffEdge = false;
    bool LineSeparator = false;
    bool Clipped = false;
};

enum TDkLayoutOrientation { dkloHorizontal, dkloVertical, dkloFloating };

struct TDkLayoutParams {
    TDkLayoutOrientation Orientation = dkloHorizontal;
    bool IsToolbar = true;
    bool IsChevronPopup = false;
    bool Customizing = false;
    bool HasChevron = false;   // the entries end with the chevron's
    bool Floating = false;     // the toolbar floats (last-line thickness rule; so does dkloFloating)
    // Entry indexes, least important first: the chevron hides them in this order, so the
    // first it hides is the one the list marks least important. Entries the list leaves out
    // (and every entry when it is empty) are hidden after it from the end of the entries.
    std::vector<int> Priority;
    RECT Margins = {0, 0, 0, 0};  // left, top, right, bottom
    int ChevronSize = 12;
    int AvailableLength = 0;   // 0 = unlimited
    int WrapOffset = 0;        // 0 = no wrapping; a line ends there less the right margin
    int MaxHeight = 0;         // 0 = unlimited
    int ScrollOffset = 0;
};

struct TDkLayoutResult {
    int WrappedLines = 1;
    POINT TotalSize = {0, 0};
    POINT BaseSize = {0, 0};  // the size of one unwrapped line, before the chevron hides anything
    bool ChevronNeeded = false;
    bool ChevronEnabled = false;  // a non-control item went off edge
    int ScrollOffset = 0;
    bool ShowUpArrow = false, ShowDownArrow = false;
};

// Measures a shown entry that is not a control (controls give their own size in `Rect`'s
// right and bottom before the call).
using TDkMeasure = std::function<SIZE(int index)>;

TDkLayoutResult DkLayOut(const TDkLayoutParams& params, std::vector<TDkLayoutEntry>& entries,
                         const TDkMeasure& measure);

// The height of a scroll arrow band of a tall menu.
const int DkScrollArrowHeight = 19;
