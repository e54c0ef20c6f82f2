#include "Grids.h"

#include <algorithm>

TStringGrid::TStringGrid(TComponent* owner) : TCustomControl(owner)
{
    width_ = 320;
    height_ = 120;
    tabStop_ = true;
    color_ = clWindow;
    brush_.SetColor(color_);
    Resize();
}

void TStringGrid::Resize()
{
    colWidths_.resize(colCount_, defaultColWidth_);
    cells_.resize(rowCount_);
    for (auto& row : cells_) row.resize(colCount_);
    Invalidate();
}

void TStringGrid::SetColCount(int count)
{
    colCount_ = std::max(1, count);
    fixedCols_ = std::min(fixedCols_, colCount_ - 1);
    Resize();
}

void TStringGrid::SetRowCount(int count)
{
    rowCount_ = std::max(1, count);
    fixedRows_ = std::min(fixedRows_, rowCount_ - 1);
    Resize();
}

void TStringGrid::SetFixedCols(int count)
{
    fixedCols_ = std::clamp(count, 0, colCount_ - 1);
    Invalidate();
}

void TStringGrid::SetFixedRows(int count)
{
    fixedRows_ = std::clamp(count, 0, rowCount_ - 1);
    Invalidate();
}

std::string TStringGrid::Cells(int col, int row) const
{
    if (row < 0 || row >= rowCount_ || col < 0 || col >= colCount_) return "";
    return cells_[row][col];
}

void TStringGrid::SetCells(int col, int row, const std::string& text)
{
    if (row < 0 || col < 0) return;
    // Writing outside the grid keeps the text, as the toolkit's grid does, for a later resize.
    if (row >= static_cast<int>(cells_.size())) cells_.resize(row + 1);
    for (auto& r : cells_)
        if (static_cast<int>(r.size()) <= col) r.resize(col + 1);
    cells_[row][col] = text;
    if (handle_) {
        const RECT r = CellRect(col, row);
        InvalidateRect(handle_, &r, TRUE);
    }
}

void TStringGrid::SetDefaultColWidth(int width)
{
    defaultColWidth_ = width;
    std::fill(colWidths_.begin(), colWidths_.end(), width);
    Invalidate();
}

void TStringGrid::SetDefaultRowHeight(int height)
{
    defaultRowHeight_ = height;
    Invalidate();
}

int TStringGrid::ColWidths(int col) const
{
    return col >= 0 && col < static_cast<int>(colWidths_.size()) ? colWidths_[col] : defaultColWidth_;
}

void TStringGrid::SetColWidths(int col, int width)
{
    if (col < 0 || col >= colCount_) return;
    colWidths_[col] = width;
    Invalidate();
}

RECT TStringGrid::CellRect(int col, int row) const
{
    int x = 0;
    for (int c = 0; c < col; ++c) x += ColWidths(c) + 1;
    const int y = row * (defaultRowHeight_ + 1);
    return {x, y, x + ColWidths(col), y + defaultRowHeight_};
}

void TStringGrid::Paint()
{
    TCanvas& canvas = Canvas();
    const TColor text = enabled_ ? font_.Color() : clGrayText;
    for (int row = 0; row < rowCount_; ++row) {
        for (int col = 0; col < colCount_; ++col) {
            RECT r = CellRect(col, row);
            const bool fixed = row < fixedRows_ || col < fixedCols_;
            canvas.Brush.SetColor(fixed ? clBtnFace : color_);
            canvas.FillRect(r);
            if (fixed) {
                RECT edge = r;
                DrawEdge(canvas.Handle(), &edge, BDR_RAISEDINNER, BF_RECT);
            }
            canvas.Font.SetColor(text);
            canvas.TextRect(r, r.left + 2, r.top + 2, Cells(col, row));
            // The grid lines right and below the cell.
            canvas.Pen.SetColor(clBtnFace);
            canvas.MoveTo(r.right, r.top);
            canvas.LineTo(r.right, r.bottom + 1);
            canvas.MoveTo(r.left, r.bottom);
            canvas.LineTo(r.right + 1, r.bottom);
        }
    }
}
