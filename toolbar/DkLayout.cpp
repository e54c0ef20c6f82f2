#include "DkLayout.h"

#include <algorithm>

namespace {

const int LineBreakThickness = 6;
const SIZE MinimumSize = {23, 22};

int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

bool IsVertical(const TDkLayoutParams& p) { return p.Orientation == dkloVertical; }

// Along the main axis: x, except in the vertical orientation.
LONG& Main(POINT& p, bool vertical) { return vertical ? p.y : p.x; }
LONG& Cross(POINT& p, bool vertical) { return vertical ? p.x : p.y; }
int MainLength(const RECT& r, bool vertical) { return vertical ? Height(r) : Width(r); }
LONG& MainStart(RECT& r, bool vertical) { return vertical ? r.top : r.left; }
LONG& MainEnd(RECT& r, bool vertical) { return vertical ? r.bottom : r.right; }
LONG& CrossStart(RECT& r, bool vertical) { return vertical ? r.left : r.top; }
LONG& CrossEnd(RECT& r, bool vertical) { return vertical ? r.right : r.bottom; }

void MoveMain(RECT& r, bool vertical, int by)
{
    MainStart(r, vertical) += by;
    MainEnd(r, vertical) += by;
}

void MoveCrossTo(RECT& r, bool vertical, int to)
{
    const LONG size = CrossEnd(r, vertical) - CrossStart(r, vertical);
    CrossStart(r, vertical) = to;
    CrossEnd(r, vertical) = to + size;
}

bool IsChevronEntry(const TDkLayoutParams& p, const std::vector<TDkLayoutEntry>& entries, size_t i)
{
    return entries[i].IsChevron || (p.HasChevron && i + 1 == entries.size());
}

// Which entries show, before anything is measured.
void DecideVisibility(const TDkLayoutParams& p, std::vector<TDkLayoutEntry>& entries)
{
    bool prevWasSeparator = true;
    for (size_t i = 0; i < entries.size(); ++i) {
        TDkLayoutEntry& e = entries[i];
        if (IsChevronEntry(p, entries, i)) continue;
        if (e.IsControl) {
            e.Show = !p.IsChevronPopup && e.ControlShown;
            // Only what shows stands between two separators.
            if (e.Show) prevWasSeparator = false;
            continue;
        }
        if (p.IsChevronPopup && !e.ParentOffEdge && !e.Separator) continue;
        if (e.HiddenUnlessCustomizing && !p.Customizing) continue;
        e.Show = e.Visible;
        if (!e.Show) continue;
        if (e.Separator && prevWasSeparator) e.Show = false;
        prevWasSeparator = e.Separator;
    }
    for (size_t i = entries.size(); i-- > 0;) {
        TDkLayoutEntry& e = entries[i];
        if (!e.Show) continue;
        if (!e.Separator) break;
        e.Show = false;
    }
}

// Sizes in the rectangles' right and bottom; returns the total main-axis length.
int Measure(const TDkLayoutParams& p, std::vector<TDkLayoutEntry>& entries, const TDkMeasure& measure)
{
    int widest = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        TDkLayoutEntry& e = entries[i];
        if (!e.Show) {
            e.Rect = {0, 0, 0, 0};
            continue;
        }
        if (e.IsControl) {
            e.Rect = {0, 0, std::max(0L, e.Rect.right), std::max(0L, e.Rect.bottom)};
        } else {
            const SIZE size = measure ? measure(static_cast<int>(i)) : SIZE{0, 0};
            e.Rect = {0, 0, std::max(0L, size.cx), std::max(0L, size.cy)};
        }
        if (e.SameWidth) widest = std::max<int>(widest, e.Rect.right);
    }
    int total = 0;
    for (TDkLayoutEntry& e : entries) {
        if (!e.Show) continue;
        if (e.SameWidth) e.Rect.right = widest;
        total += MainLength(e.Rect, IsVertical(p));
    }
    return total;
}

int ShownNonSeparators(const std::vector<TDkLayoutEntry>& entries)
{
    return static_cast<int>(std::count_if(entries.begin(), entries.end(),
                                          [](const TDkLayoutEntry& e) { return e.Show && !e.Separator; }));
}

// Hides what does not fit before the chevron. Returns whether a non-control went off edge.
bool HideForChevron(const TDkLayoutParams& p, std::vector<TDkLayoutEntry>& entries, int available, int total)
{
    const bool vertical = IsVertical(p);
    const int n = static_cast<int>(entries.size());
    // The order of hiding: the list first, then what it leaves out from the end.
    std::vector<int> order;
    std::vector<bool> listed(n, false);
    for (int index : p.Priority) {
        if (index < 0 || index >= n || listed[index]) continue;
        listed[index] = true;
        order.push_back(index);
    }
    for (int i = n - 1; i >= 0; --i)
        if (!listed[i]) order.push_back(i);

    auto hide = [&](TDkLayoutEntry& e) {
        e.Show = false;
        total -= MainLength(e.Rect, vertical);
        e.Rect = {0, 0, 0, 0};
    };
    auto hideTrailingSeparators = [&] {
        for (int i = n - 1; i >= 0; --i) {
            if (!entries[i].Show) continue;
            if (!entries[i].Separator) break;
            hide(entries[i]);
        }
    };

    bool nonControlOffEdge = false;
    // Two shown non-separators always remain.
    while (total > available && ShownNonSeparators(entries) > 2) {
        int last = n - 1;
        while (last >= 0 && !entries[last].Show) --last;
        if (entries[last].Separator) {
            hide(entries[last]);
            continue;
        }
        for (int index : order) {
            TDkLayoutEntry& e = entries[index];
            if (!e.Show || e.Separator) continue;
            hide(e);
            e.OffEdge = true;
            if (!e.IsControl) nonControlOffEdge = true;
            break;
        }
        bool prevWasSeparator = true;
        for (TDkLayoutEntry& e : entries) {
            if (!e.Show) continue;
            if (e.Separator && prevWasSeparator) hide(e);
            else prevWasSeparator = e.Separator;
        }
    }
    hideTrailingSeparators();
    return nonControlOffEdge;
}

struct TPlaced {
    int Lines = 1;
    POINT Total = {0, 0};
};

// Places the shown entries (measured, at the origin) along lines, wrapping at `wrapOffset`
// when it is positive; margins included and the vertical orientation mirrored.
TPlaced Place(const TDkLayoutParams& p, std::vector<TDkLayoutEntry>& entries, int wrapOffset)
{
    const bool vertical = IsVertical(p);
    const bool floating = p.Floating || p.Orientation == dkloFloating;
    const RECT& m = p.Margins;
    const int n = static_cast<int>(entries.size());
    const LONG mainMargin = vertical ? m.top : m.left;
    if (wrapOffset > 0) wrapOffset = std::max<int>(1, wrapOffset - m.right);

    TPlaced placed;
    POINT& total = placed.Total;
    POINT cur = {m.left, m.top};
    LONG lineCross = Cross(cur, vertical);
    int lineStart = 0;
    bool endedByOverflow = false;
    bool prevToolbarSized = false;

    auto inLine = [&](const TDkLayoutEntry& e) { return e.Show && !e.LineSeparator; };

    // Finishes the entries [from, to) as one line; returns the line's thickness.
    auto finishLine = [&](int from, int to, bool last) {
        if (placed.Lines > 1 && !p.IsChevronPopup) Main(total, vertical) = std::max<LONG>(Main(total, vertical), wrapOffset);
        LONG thickness = 0;
        for (int i = from; i < to; ++i)
            if (inLine(entries[i])) thickness = std::max(thickness, CrossEnd(entries[i].Rect, vertical) - lineCross);
        if (p.IsToolbar) {
            if (last && placed.Lines == 1 && !floating) thickness = std::max(thickness, Cross(total, vertical) - lineCross);
            for (int i = from; i < to; ++i) {
                TDkLayoutEntry& e = entries[i];
                if (!inLine(e)) continue;
                if (e.Separator) {
                    CrossStart(e.Rect, vertical) = lineCross;
                    CrossEnd(e.Rect, vertical) = lineCross + thickness;
                } else {
                    const LONG size = CrossEnd(e.Rect, vertical) - CrossStart(e.Rect, vertical);
                    MoveCrossTo(e.Rect, vertical, lineCross + (thickness - size) / 2);
                }
            }
        } else {
            LONG lineRight = 0;
            for (int i = from; i < to; ++i)
                if (inLine(entries[i])) lineRight = std::max(lineRight, entries[i].Rect.right);
            for (int i = from; i < to; ++i)
                if (inLine(entries[i]) && !entries[i].ToolbarSize) entries[i].Rect.right = lineRight;
        }
        int firstRight = -1, lastShown = -1;
        for (int i = from; i < to; ++i) {
            if (!inLine(entries[i])) continue;
            if (firstRight < 0 && entries[i].RightAligned) firstRight = i;
            lastShown = i;
        }
        if (firstRight >= 0) {
            const LONG limit = wrapOffset > 0 ? std::min<LONG>(wrapOffset, Main(total, vertical)) : Main(total, vertical);
            const LONG by = limit - MainEnd(entries[lastShown].Rect, vertical);
            if (by > 0)
                for (int i = firstRight; i < to; ++i)
                    if (inLine(entries[i])) MoveMain(entries[i].Rect, vertical, by);
        }
        return thickness;
    };

    for (int i = 0; i < n; ++i) {
        TDkLayoutEntry& e = entries[i];
        if (!e.Show) continue;
        if (!p.IsToolbar) {
            if (!e.ToolbarSize && prevToolbarSized) cur = {m.left, total.y};
            prevToolbarSized = e.ToolbarSize;
        }
        const int length = MainLength(e.Rect, vertical);
        // Only a line that holds something can overflow: a leading margin is no item.
        if (wrapOffset > 0 && Main(cur, vertical) > mainMargin) {
            const int prospective = Main(cur, vertical) + length;
            bool lineBreak = false;
            if (e.Separator) {
                lineBreak = endedByOverflow && !e.KeepsLine;
                if (!lineBreak) {
                    int group = prospective;
                    for (int j = i + 1; j < n && !(entries[j].Show && entries[j].Separator); ++j)
                        if (entries[j].Show) group += MainLength(entries[j].Rect, vertical);
                    lineBreak = group > wrapOffset;
                }
            }
            if (lineBreak) {
                ++placed.Lines;
                const LONG at = lineCross + finishLine(lineStart, i, false);
                e.Rect = vertical ? RECT{at, 0, at + LineBreakThickness, 0} : RECT{0, at, 0, at + LineBreakThickness};
                e.LineSeparator = true;
                lineCross = at + LineBreakThickness;
                Main(cur, vertical) = mainMargin;
                Cross(cur, vertical) = lineCross;
                lineStart = i + 1;
                endedByOverflow = false;
                total.x = std::max(total.x, e.Rect.right);
                total.y = std::max(total.y, e.Rect.bottom);
                continue;
            }
            if (prospective > wrapOffset) {
                ++placed.Lines;
                lineCross += finishLine(lineStart, i, false);
                Main(cur, vertical) = mainMargin;
                Cross(cur, vertical) = lineCross;
                lineStart = i;
                endedByOverflow = true;
            }
        }
        OffsetRect(&e.Rect, std::max(0L, cur.x), std::max(0L, cur.y));
        if ((p.IsToolbar || e.ToolbarSize) && !vertical) cur.x += Width(e.Rect);
        else cur.y += Height(e.Rect);
        total.x = std::max(total.x, e.Rect.right);
        total.y = std::max(total.y, e.Rect.bottom);
    }
    finishLine(lineStart, n, true);

    total.x += m.right;
    total.y += m.bottom;
    if (vertical)
        for (TDkLayoutEntry& e : entries) {
            if (!e.Show) continue;
            const LONG left = e.Rect.left;
            e.Rect.left = total.x - e.Rect.right;
            e.Rect.right = total.x - left;
        }
    return placed;
}

POINT AtLeastMinimum(POINT size)
{
    if (size.x == 0 || size.y == 0) return {MinimumSize.cx, MinimumSize.cy};
    return {std::max(size.x, MinimumSize.cx), std::max(size.y, MinimumSize.cy)};
}

}  // namespace

TDkLayoutResult DkLayOut(const TDkLayoutParams& params, std::vector<TDkLayoutEntry>& entries,
                         const TDkMeasure& measure)
{
    const bool vertical = IsVertical(params);
    const int n = static_cast<int>(entries.size());
    const int chevron = params.HasChevron && n > 0 ? n - 1 : -1;
    TDkLayoutResult result;

    for (TDkLayoutEntry& e : entries) {
        e.Show = e.OffEdge = e.LineSeparator = e.Clipped = false;
        if (!e.IsControl) e.Rect = {0, 0, 0, 0};
    }
    DecideVisibility(params, entries);
    const int total = Measure(params, entries, measure);

    std::vector<TDkLayoutEntry> unwrapped = entries;
    result.BaseSize = AtLeastMinimum(Place(params, unwrapped, 0).Total);

    int available = params.AvailableLength;
    if (chevron >= 0 && available > 0 && available < total) {
        result.ChevronNeeded = true;
        available -= params.ChevronSize;
        result.ChevronEnabled = HideForChevron(params, entries, available, total);
    }

    const TPlaced placed = Place(params, entries, params.WrapOffset);
    result.WrappedLines = placed.Lines;
    POINT size = placed.Total;

    if (params.MaxHeight > 0 && size.y > params.MaxHeight) {
        const int range = size.y - params.MaxHeight;
        result.ScrollOffset = std::clamp(params.ScrollOffset, 0, range);
        result.ShowUpArrow = result.ScrollOffset > 0;
        result.ShowDownArrow = result.ScrollOffset < range;
        for (TDkLayoutEntry& e : entries) {
            if (!IsRectEmpty(&e.Rect)) OffsetRect(&e.Rect, 0, -result.ScrollOffset);
            if (!e.Show) continue;
            if ((result.ShowUpArrow && e.Rect.top < DkScrollArrowHeight) ||
                (result.ShowDownArrow && e.Rect.bottom > params.MaxHeight - DkScrollArrowHeight)) {
                e.Show = false;
                e.Clipped = true;
            }
        }
        size.y = params.MaxHeight;
    }

    if (params.IsToolbar)
        for (TDkLayoutEntry& e : entries) {
            if (!e.LineSeparator) continue;
            MainStart(e.Rect, vertical) = 0;
            MainEnd(e.Rect, vertical) = Main(size, vertical);
        }

    if (result.ChevronNeeded) {
        TDkLayoutEntry& e = entries[chevron];
        const LONG at = std::max<LONG>(available, Main(size, vertical));
        MainStart(e.Rect, vertical) = at;
        MainEnd(e.Rect, vertical) = at + params.ChevronSize;
        CrossStart(e.Rect, vertical) = 0;
        CrossEnd(e.Rect, vertical) = Cross(size, vertical);
        e.Show = true;
        // The chevron is a viewer of the view like the rest: the view holds it.
        Main(size, vertical) = std::max<LONG>(Main(size, vertical), at + params.ChevronSize);
    }

    result.TotalSize = AtLeastMinimum(size);
    return result;
}
