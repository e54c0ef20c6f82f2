// The toolbar's decisions about its size, kept apart from its windows so that tables can
// test them: how it gives way where it stands, the sizes it can take while floating, the
// snapping of a resize to those sizes, and the check of a floating width read back.
#pragma once

#include "DkDockLayout.h"
#include "DkView.h"

#include <windows.h>

#include <functional>
#include <vector>

// Where the toolbar stands.
enum TDkToolbarPlace { dktpDocked, dktpFloating, dktpOnForm };

struct TDkShrinkFacts {
    TDkToolbarPlace Place = dktpOnForm;
    TDkShrinkMode Mode = dksmChevron;
    bool VerticalDock = false;   // docked in a left or right dock
    int GivenLength = 0;         // docked: the length the dock gives (0: its natural length)
    SIZE NonClient = {0, 0};     // the toolbar's non-client width and height
    int DockLength = 0;          // docked: the dock's width, or height in a left or right dock
    int DockNonClient = 0;       // docked: the dock's non-client size along it
    int FloatingWidth = 0;
    bool AutoResize = true;      // on a form: it takes the size of its items
    bool StretchedAcross = false;  // on a form: held at both the left and the right edge
    int Width = 0;               // on a form: its own width
};

// What the view's layout pass gets for that place.
struct TDkShrinkLayout {
    TDkViewOrientation Orientation = dkvoHorizontal;
    int ChevronSize = 12;
    int AvailableLength = 0;  // 0 = unlimited
    int WrapOffset = 0;       // 0 = no wrapping
};

TDkShrinkLayout DkToolbarShrink(const TDkShrinkFacts& facts);

// One size a floating toolbar can take: the layout's size, the wrap width that gives it
// (0 for the unwrapped layout) and its number of lines.
struct TDkFloatingSize {
    POINT Size = {0, 0};
    int WrapWidth = 0;
    int Lines = 1;
};

// Lays the toolbar out at a wrap width (0: unwrapped) and answers its size and lines.
using TDkLayOutAtWidth = std::function<POINT(int wrapWidth, int& lines)>;

// The unwrapped size first, then the narrowest size of each number of lines, trying wrap
// widths downward from the unwrapped width - 1 to `minWidth` (the view's side margins).
std::vector<TDkFloatingSize> DkCollectFloatingSizes(const TDkLayOutAtWidth& layOut, int minWidth);

// A resize by the top or bottom edge goes by heights; by any other edge or corner, widths.
bool DkSizingByHeight(int edge);
// Larger first along the axis of the resize; equal ones keep their order.
void DkSortFloatingSizes(std::vector<TDkFloatingSize>& sizes, bool byHeight);

// The size a resize step takes, as an index into `sizes`. The rectangle stays at the size
// in effect (`current`) until the cursor's edge reaches another collected size in the
// direction it travels; of those it has reached, the one nearest the cursor is taken, so a
// fast move does not stop on the way and going back needs the edge to come back as far.
// With no size in effect (-1), the nearest to the cursor.
int DkSnapFloatingSize(const std::vector<TDkFloatingSize>& sizes, bool byHeight, int current, int proposed);

// The rectangle of a resize step at `size`: the sides that the edge moves give way, the
// others stay (edges 0 left, 1 right, 2 top, 3 top-left, 4 top-right, 5 bottom,
// 6 bottom-left, 7 bottom-right).
RECT DkSizedRect(const RECT& rect, int edge, POINT size);

// A floating width read back, checked against the sizes the toolbar can take: the wrap
// width of the widest collected size that fits in it, 0 (unwrapped) when that is the
// unwrapped size or none fits.
int DkFitFloatingWidth(const std::vector<TDkFloatingSize>& sizes, int width);
