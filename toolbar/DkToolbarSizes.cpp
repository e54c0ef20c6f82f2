#include "DkToolbarSizes.h"

#include <algorithm>
#include <cstdlib>

TDkShrinkLayout DkToolbarShrink(const TDkShrinkFacts& f)
{
    TDkShrinkLayout layout;
    layout.ChevronSize = 12;
    switch (f.Place) {
    case dktpDocked: {
        layout.Orientation = f.VerticalDock ? dkvoVertical : dkvoHorizontal;
        const int nonClientAlong = static_cast<int>(f.VerticalDock ? f.NonClient.cy : f.NonClient.cx);
        if (f.Mode == dksmChevron && f.GivenLength > 0)
            layout.AvailableLength = std::max(0, f.GivenLength - nonClientAlong);
        if (f.Mode == dksmWrap)
            layout.WrapOffset = std::max(0, f.DockLength - f.DockNonClient - nonClientAlong);
        break;
    }
    case dktpFloating:
        layout.Orientation = dkvoFloating;
        layout.WrapOffset = std::max(0, f.FloatingWidth);
        break;
    case dktpOnForm:
        layout.Orientation = dkvoHorizontal;
        // A toolbar whose width others set lays its items out within it.
        if (!f.AutoResize || f.StretchedAcross) {
            const int length = std::max(0, f.Width - static_cast<int>(f.NonClient.cx));
            if (f.Mode == dksmChevron) layout.AvailableLength = length;
            else if (f.Mode == dksmWrap) layout.WrapOffset = length;
        }
        break;
    }
    return layout;
}

std::vector<TDkFloatingSize> DkCollectFloatingSizes(const TDkLayOutAtWidth& layOut, int minWidth)
{
    std::vector<TDkFloatingSize> sizes;
    TDkFloatingSize unwrapped;
    unwrapped.Size = layOut(0, unwrapped.Lines);
    sizes.push_back(unwrapped);
    // Each try is narrower than the one before, so the search ends.
    for (int width = static_cast<int>(unwrapped.Size.x) - 1; width >= std::max(minWidth, 1);) {
        TDkFloatingSize next;
        next.Size = layOut(width, next.Lines);
        next.WrapWidth = width;
        if (next.Size.x > width) break;
        if (next.Size.x < width) {
            width = static_cast<int>(next.Size.x);
            continue;
        }
        if (next.Lines == sizes.back().Lines) sizes.back() = next;
        else sizes.push_back(next);
        --width;
    }
    return sizes;
}

bool DkSizingByHeight(int edge)
{
    return edge == 2 || edge == 5;
}

namespace {

int Along(const TDkFloatingSize& size, bool byHeight)
{
    return static_cast<int>(byHeight ? size.Size.y : size.Size.x);
}

}  // namespace

void DkSortFloatingSizes(std::vector<TDkFloatingSize>& sizes, bool byHeight)
{
    std::stable_sort(sizes.begin(), sizes.end(), [byHeight](const TDkFloatingSize& a, const TDkFloatingSize& b) {
        return Along(a, byHeight) > Along(b, byHeight);
    });
}

int DkSnapFloatingSize(const std::vector<TDkFloatingSize>& sizes, bool byHeight, int current, int proposed)
{
    const int n = static_cast<int>(sizes.size());
    if (n == 0) return -1;
    if (current < 0 || current >= n) {
        int best = 0;
        for (int i = 1; i < n; ++i)
            if (std::abs(Along(sizes[i], byHeight) - proposed) < std::abs(Along(sizes[best], byHeight) - proposed))
                best = i;
        return best;
    }
    const int now = Along(sizes[current], byHeight);
    int taken = current;
    for (int i = 0; i < n; ++i) {
        const int along = Along(sizes[i], byHeight);
        if (proposed < now) {
            // Shrinking: reached when the edge came to it or past it.
            if (along >= proposed && along < now && (taken == current || along < Along(sizes[taken], byHeight)))
                taken = i;
        } else if (proposed > now) {
            if (along <= proposed && along > now && (taken == current || along > Along(sizes[taken], byHeight)))
                taken = i;
        }
    }
    return taken;
}

RECT DkSizedRect(const RECT& rect, int edge, POINT size)
{
    RECT r = rect;
    const bool leftMoves = edge == 0 || edge == 3 || edge == 6;
    const bool topMoves = edge == 2 || edge == 3 || edge == 4;
    if (leftMoves) r.left = r.right - size.x;
    else r.right = r.left + size.x;
    if (topMoves) r.top = r.bottom - size.y;
    else r.bottom = r.top + size.y;
    return r;
}

int DkFitFloatingWidth(const std::vector<TDkFloatingSize>& sizes, int width)
{
    if (width <= 0) return 0;
    const TDkFloatingSize* best = nullptr;
    for (const TDkFloatingSize& size : sizes)
        if (size.Size.x <= width && (!best || size.Size.x > best->Size.x)) best = &size;
    return best ? best->WrapWidth : 0;
}
