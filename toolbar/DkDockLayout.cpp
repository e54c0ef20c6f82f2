#include "DkDockLayout.h"

#include <algorithm>
#include <climits>
#include <cstddef>

namespace {

// The end of the window before `index`: the running sum of gaps and lengths.
int EndBefore(const std::vector<TDkFitWindow>& row, int index)
{
    int end = 0;
    for (int k = 0; k < index; ++k) end += row[k].Gap + row[k].Length;
    return end;
}

// Takes up to `need` out of the gaps from window `from` backwards; returns what it took.
int TakeGaps(std::vector<TDkFitWindow>& row, int from, int need)
{
    int taken = 0;
    for (int k = from; k >= 0 && need > 0; --k) {
        const int t = std::min(row[k].Gap, need);
        row[k].Gap -= t;
        need -= t;
        taken += t;
    }
    return taken;
}

}  // namespace

bool DkFitRow(std::vector<TDkFitWindow>& row, int available)
{
    const int n = static_cast<int>(row.size());
    if (n == 0) return false;
    available = std::max(0, available);
    int overflow = -available;
    for (TDkFitWindow& w : row) {
        w.Natural = std::max(0, w.Natural);
        w.Minimum = std::clamp(w.Minimum, 0, w.Natural);
        w.Length = w.Natural;
        w.Gap = w.Overlap = w.Start = 0;
        overflow += w.Natural;
    }

    // Wanted starts, gaps and overlaps.
    int shift = 0, end = 0, minimumBefore = 0;
    int dragged = -1, draggedWanted = 0;
    for (int i = 0; i < n; ++i) {
        TDkFitWindow& w = row[i];
        int wanted;
        if (w.DockPos < 0) wanted = end;
        else if (i == 0 && (w.FullSize || w.Stretch)) wanted = 0;
        else wanted = w.DockPos + shift;
        wanted = std::max(wanted, minimumBefore);
        if (wanted > end) {
            // In a row that overflows the gap goes, and those behind move up with it.
            if (overflow <= 0) w.Gap = wanted - end;
            else shift -= wanted - end;
        } else if (wanted < end) {
            w.Overlap = end - wanted;
        }
        end += w.Gap + w.Natural;
        minimumBefore += w.Minimum;
        if (w.Dragged && dragged < 0) {
            dragged = i;
            draggedWanted = wanted;
        }
    }

    // With room to spare the windows before the dragged one give up their gaps for it; the
    // window behind it takes them, so that those behind keep their places.
    if (overflow < 0 && dragged > 0) {
        const int need = EndBefore(row, dragged) - draggedWanted;
        if (need > 0) {
            const int taken = TakeGaps(row, dragged - 1, need);
            if (dragged + 1 < n) row[dragged + 1].Gap += taken;
        }
    }
    // The row ends within the dock.
    if (const int need = EndBefore(row, n) - available; need > 0) TakeGaps(row, n - 1, need);

    // Too long: windows that overlap their predecessors shorten the chevron windows before
    // them, nearest first, but never past the dragged window.
    bool canSplit = false;
    if (overflow > 0) {
        int sum = 0;
        for (int i = 0; i < n && overflow > 0; ++i) {
            sum = std::min(sum + row[i].Overlap, overflow);
            for (int j = i - 1; j >= 0 && sum > 0; --j) {
                if (row[j].Dragged) break;
                if (row[j].Shrink != dksmChevron) continue;
                const int give = std::min(row[j].Length - row[j].Minimum, sum);
                if (give <= 0) continue;
                row[j].Length -= give;
                sum -= give;
                overflow -= give;
                if (dragged >= 0 && n > 1) canSplit = true;
            }
        }
    }
    // Still too long: from the end of the row.
    for (int j = n - 1; j >= 0 && overflow > 0; --j) {
        const TDkShrinkMode mode = row[j].Shrink;
        if (mode != dksmChevron && !(mode == dksmWrap && n == 1)) continue;
        const int give = std::min(row[j].Length - row[j].Minimum, overflow);
        row[j].Length -= give;
        overflow -= give;
    }

    for (int i = 0; i < n; ++i) {
        TDkFitWindow& w = row[i];
        if (w.FullSize || w.Stretch) {
            w.Length += w.Gap;
            w.Gap = 0;
        }
        if (w.FullSize) w.Length = std::max(w.Length, available);
        if (w.Stretch && i + 1 < n) {
            w.Length += row[i + 1].Gap;
            row[i + 1].Gap = 0;
        }
    }
    int pos = 0;
    for (TDkFitWindow& w : row) {
        pos += w.Gap;
        w.Start = pos;
        pos += w.Length;
    }
    // The last window, stretching, reaches the end of the row.
    if (row.back().Stretch && pos < available) row.back().Length += available - pos;
    return canSplit;
}

namespace {

// What a window needs of its row at least: a chevron toolbar gives way down to its minimum,
// the others keep their natural length (a wrapping one shrinks only alone in its row).
int NeededLength(const TDkDockBarFacts& bar)
{
    const int natural = std::max(0, bar.NaturalLength);
    return bar.ShrinkMode == dksmChevron ? std::clamp(bar.MinimumLength, 0, natural) : natural;
}

// A window that shares its row opens a new row before it: it keeps the row number, the
// others of the row and every later row move down by one.
void OpenRowBefore(std::vector<int>& rows, size_t index)
{
    const int r = rows[index];
    bool shared = false;
    for (size_t j = 0; j < rows.size(); ++j)
        if (j != index && rows[j] == r) shared = true;
    if (!shared) return;
    for (size_t j = 0; j < rows.size(); ++j)
        if (j != index && rows[j] >= r) ++rows[j];
}

}  // namespace

TDkDockArrangement DkArrangeDock(std::vector<TDkDockBarFacts>& bars, int available, bool dragSplitting)
{
    TDkDockArrangement result;
    available = std::max(0, available);
    const size_t n = bars.size();
    if (n == 0) return result;

    // Row, then position; a window not yet placed goes to the end of its row.
    std::vector<int> order;
    int dragged = -1;
    for (size_t i = 0; i < n; ++i) {
        if (dragSplitting && bars[i].Dragged && dragged < 0) dragged = static_cast<int>(i);
        else order.push_back(static_cast<int>(i));
    }
    const auto place = [&](int i) { return bars[i].DockPos < 0 ? INT_MAX : bars[i].DockPos; };
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        if (bars[a].DockRow != bars[b].DockRow) return bars[a].DockRow < bars[b].DockRow;
        return place(a) < place(b);
    });
    if (dragged >= 0) order.insert(order.begin() + dragged, dragged);

    // Rows of their own for the windows that ask for one, then for full-size windows.
    std::vector<int> rows(n);
    for (size_t i = 0; i < n; ++i) rows[i] = std::max(0, bars[i].DockRow);
    for (int i : order)
        if (bars[i].InsertRowBefore) OpenRowBefore(rows, i);
    for (int i : order)
        if (bars[i].FullSize) OpenRowBefore(rows, i);

    // Empty rows go.
    std::vector<int> used = rows;
    std::sort(used.begin(), used.end());
    used.erase(std::unique(used.begin(), used.end()), used.end());
    std::vector<std::vector<int>> members(used.size());
    for (int i : order) {
        const size_t r = std::lower_bound(used.begin(), used.end(), rows[i]) - used.begin();
        members[r].push_back(i);
    }

    // A row whose windows cannot give way enough goes on in a new row from the window that
    // does not fit.
    for (size_t r = 0; r < members.size(); ++r) {
        int sum = 0;
        for (size_t k = 0; k < members[r].size(); ++k) {
            sum += NeededLength(bars[members[r][k]]);
            if (k >= 1 && sum > available) {
                std::vector<int> rest(members[r].begin() + static_cast<std::ptrdiff_t>(k), members[r].end());
                members[r].resize(k);
                members.insert(members.begin() + static_cast<std::ptrdiff_t>(r) + 1, rest);
                break;
            }
        }
    }

    for (size_t r = 0; r < members.size(); ++r) {
        std::vector<TDkFitWindow> row;
        for (int i : members[r]) {
            TDkFitWindow w;
            w.DockPos = bars[i].DockPos;
            w.Natural = bars[i].NaturalLength;
            w.Minimum = bars[i].MinimumLength;
            w.Shrink = bars[i].ShrinkMode;
            w.FullSize = bars[i].FullSize;
            w.Stretch = bars[i].Stretch;
            w.Dragged = bars[i].Dragged;
            row.push_back(w);
        }
        if (DkFitRow(row, available)) result.DragCanSplit = true;
        for (size_t k = 0; k < members[r].size(); ++k) {
            TDkDockBarFacts& bar = bars[members[r][k]];
            bar.Row = static_cast<int>(r);
            bar.Position = row[k].Start;
            bar.Length = row[k].Length;
            result.Order.push_back(members[r][k]);
        }
    }
    result.RowThickness = DkRowThicknesses(bars, static_cast<int>(members.size()));
    return result;
}

std::vector<int> DkRowThicknesses(const std::vector<TDkDockBarFacts>& bars, int rowCount)
{
    std::vector<int> thickness(static_cast<size_t>(std::max(0, rowCount)), 0);
    for (const TDkDockBarFacts& bar : bars)
        if (bar.Row >= 0 && bar.Row < rowCount) thickness[bar.Row] = std::max(thickness[bar.Row], bar.Thickness);
    for (int& t : thickness)
        if (t > 0) t += 4;
    return thickness;
}
