// A grid of text cells, with fixed (caption) columns and rows drawn as buttons.
#pragma once

#include "Controls.h"

#include <string>
#include <vector>

class TStringGrid : public TCustomControl {
public:
    explicit TStringGrid(TComponent* owner);

    int ColCount() const { return colCount_; }
    void SetColCount(int count);
    int RowCount() const { return rowCount_; }
    void SetRowCount(int count);
    int FixedCols() const { return fixedCols_; }
    void SetFixedCols(int count);
    int FixedRows() const { return fixedRows_; }
    void SetFixedRows(int count);

    std::string Cells(int col, int row) const;
    void SetCells(int col, int row, const std::string& text);

    int DefaultColWidth() const { return defaultColWidth_; }
    void SetDefaultColWidth(int width);
    int DefaultRowHeight() const { return defaultRowHeight_; }
    void SetDefaultRowHeight(int height);
    int ColWidths(int col) const;
    void SetColWidths(int col, int width);
    // The cell's rectangle in the grid's client area.
    RECT CellRect(int col, int row) const;

protected:
    void Paint() override;

private:
    void Resize();

    int colCount_ = 5, rowCount_ = 5, fixedCols_ = 1, fixedRows_ = 1;
    int defaultColWidth_ = 64, defaultRowHeight_ = 24;
    std::vector<int> colWidths_;
    std::vector<std::vector<std::string>> cells_;  // [row][col]
};
