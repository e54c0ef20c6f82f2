// How a view paints its item viewers, and how the standard viewers paint their items: a
// toolbar button (frame, drop-down or split arrow, dither, caption, image), a menu line
// (selection, check column, caption, shortcut, sub-menu arrow), separators and the chevron.
#include "DkViewerPaint.h"

#include "DkCommon.h"
#include "DkImageList.h"
#include "DkView.h"
#include "Handles.h"
#include "SysUtils.h"

#include <string>

namespace {

TDkSysColorFunc sysColorFunc = nullptr;

// Where the monochrome source is black the brush paints; where it is white the destination
// stays.
const DWORD kBrushWhereBlack = 0x00E20746;

// The arrow of a drop-down part and the arrow of a toolbar button.
const int kDropdownWidth = 11;
const int kDropdownArrowRoom = 8;

COLORREF ToRGB(TColor color)
{
    if (color == clNone || color == clDefault) return DkPaintSysColor(COLOR_WINDOW);
    if (color & clSystemColor) return DkPaintSysColor(color & 0xFF);
    return static_cast<COLORREF>(color);
}

TColor SysTColor(int index)
{
    return static_cast<TColor>(DkPaintSysColor(index));
}

void FillSolid(HDC dc, const RECT& r, COLORREF color)
{
    TGdiObject brush(CreateSolidBrush(color));
    FillRect(dc, &r, static_cast<HBRUSH>(brush.Get()));
}

// Button face and button highlight in alternate pixels: a checked button that is not hot.
TGdiObject CreateDitherBrush()
{
    struct {
        BITMAPINFOHEADER header;
        DWORD pixels[8 * 8];
    } pattern = {};
    pattern.header.biSize = sizeof pattern.header;
    pattern.header.biWidth = 8;
    pattern.header.biHeight = 8;
    pattern.header.biPlanes = 1;
    pattern.header.biBitCount = 32;
    pattern.header.biCompression = BI_RGB;
    const COLORREF face = DkPaintSysColor(COLOR_BTNFACE), light = DkPaintSysColor(COLOR_BTNHIGHLIGHT);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const COLORREF c = ((x + y) & 1) ? face : light;
            // A DIB's pixels are blue, green, red.
            pattern.pixels[y * 8 + x] = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
        }
    TGdiObject brush(CreateDIBPatternBrushPt(&pattern, DIB_RGB_COLORS));
    if (!brush) throw EOutOfResources("Out of system resources");
    return brush;
}

void FillDither(HDC dc, const RECT& r)
{
    TGdiObject brush = CreateDitherBrush();
    FillRect(dc, &r, static_cast<HBRUSH>(brush.Get()));
}

// Paints `color` where the monochrome bitmap in `mask` is black.
void BlitMaskInColor(HDC dc, int x, int y, int width, int height, HDC mask, COLORREF color)
{
    TGdiObject brush(CreateSolidBrush(color));
    TSelected selected(dc, brush.Get());
    // Black source bits become white and so let the brush through.
    const COLORREF oldText = SetTextColor(dc, RGB(255, 255, 255));
    const COLORREF oldBk = SetBkColor(dc, RGB(0, 0, 0));
    BitBlt(dc, x, y, width, height, mask, 0, 0, kBrushWhereBlack);
    SetBkColor(dc, oldBk);
    SetTextColor(dc, oldText);
}

// An 8 by 8 glyph, one byte a row with the leftmost pixel in the top bit, drawn in `color`.
void DrawGlyph(HDC dc, int x, int y, int width, int height, const unsigned char (&rows)[8], COLORREF color)
{
    // Monochrome rows are word aligned; set glyph bits are black in the bitmap.
    WORD bits[8];
    for (int i = 0; i < 8; ++i) bits[i] = static_cast<WORD>(0xFF00 | static_cast<unsigned char>(~rows[i]));
    TGdiObject bitmap(CreateBitmap(8, 8, 1, 1, bits));
    TMemoryDCHandle mono(CreateCompatibleDC(dc));
    if (!bitmap || !mono) throw EOutOfResources("Out of system resources");
    TSelected selected(mono.Get(), bitmap.Get());
    BlitMaskInColor(dc, x, y, width, height, mono.Get(), color);
}

void DrawTriangle(HDC dc, const POINT (&corners)[3], int dx, int dy, COLORREF color)
{
    POINT p[3];
    for (int i = 0; i < 3; ++i) p[i] = {corners[i].x + dx, corners[i].y + dy};
    TGdiObject pen(CreatePen(PS_SOLID, 1, color));
    TGdiObject brush(CreateSolidBrush(color));
    TSelected selectedPen(dc, pen.Get());
    TSelected selectedBrush(dc, brush.Get());
    Polygon(dc, p, 3);
}

void DrawPolyline(HDC dc, POINT centre, const POINT* points, int count, COLORREF color)
{
    POINT p[8];
    for (int i = 0; i < count; ++i) p[i] = {centre.x + points[i].x, centre.y + points[i].y};
    TGdiObject pen(CreatePen(PS_SOLID, 1, color));
    TSelected selected(dc, pen.Get());
    Polyline(dc, p, count);
}

// Draws text once in `color`, or, for the disabled shadow, lit from the top left.
template <class Draw>
void InShadowOr(bool shadow, COLORREF color, Draw draw)
{
    if (shadow) {
        draw(DkPaintSysColor(COLOR_BTNHIGHLIGHT), 1, 1);
        draw(DkPaintSysColor(COLOR_BTNSHADOW), 0, 0);
    } else {
        draw(color, 0, 0);
    }
}

UINT HidePrefixFlag(TDkView* view)
{
    const bool hide = (view->Style & dkvsMenuBar) && !view->ShowAccels() && !DkSystem().KeyboardCuesAlwaysShown();
    return hide ? DT_HIDEPREFIX : 0;
}

void DrawCaption(HDC dc, const std::string& caption, RECT r, UINT format, bool rotated, COLORREF color)
{
    SetTextColor(dc, color);
    SetBkMode(dc, TRANSPARENT);
    if (rotated) {
        TGdiObject font(CreateRotatedFont(dc));
        TSelected selected(dc, font.Get());
        DrawRotatedText(dc, caption, r, format);
    } else {
        DkDrawText(dc, caption, r, format);
    }
}

void DrawImage(TDkItemViewer& viewer, TCanvas& canvas, TCustomImageList* images, int x, int y, bool enabled,
               bool selected)
{
    TDkCustomItem* item = viewer.Item();
    if (auto* dk = dynamic_cast<TDkCustomImageList*>(images))
        dk->DrawState(canvas, x, y, item->ImageIndex(), enabled, item->Checked(), selected);
    else
        images->Draw(canvas, x, y, item->ImageIndex(), enabled);
}

// Where an image of `images` goes when centred in `area`.
POINT CentredImage(const RECT& area, TCustomImageList* images)
{
    return {area.left + (area.right - area.left - images->Width()) / 2,
            area.top + (area.bottom - area.top - images->Height()) / 2};
}

void PaintToolbarStyle(TDkItemViewer& viewer, TCanvas& canvas, const RECT& clientArea, bool shadow, bool pushed,
                       bool selected)
{
    const HDC dc = canvas.Handle();
    TDkView* view = viewer.View();
    TDkCustomItem* item = viewer.Item();
    const TDkItemOptions options = item->EffectiveOptions();
    const bool enabled = item->Enabled() || view->Customizing;
    const bool split = viewer.HasSubmenu() && viewer.IsSplitButton();
    const bool dropdown = viewer.HasSubmenu() && (split || (options & DkOption(dkoDropdownArrow)));
    const bool vertical = view->Orientation == dkvoVertical;
    const bool checked = item->Checked();
    const bool capture = view->Capture();
    const COLORREF fontColor = ToRGB(canvas.Font.Color());

    RECT button = clientArea;
    RECT arrow = {0, 0, 0, 0};
    RECT arrowPart = {0, 0, 0, 0};
    if (split) {
        arrow = {clientArea.right - kDropdownWidth, clientArea.top, clientArea.right - 2, clientArea.bottom};
        arrowPart = {clientArea.right - kDropdownWidth, clientArea.top, clientArea.right, clientArea.bottom};
        button.right = clientArea.right - kDropdownWidth;
    } else if (dropdown && vertical) {
        arrow = {clientArea.left, clientArea.bottom - kDropdownWidth, clientArea.right, clientArea.bottom - 3};
    } else if (dropdown) {
        arrow = {clientArea.right - kDropdownWidth, clientArea.top, clientArea.right - 3, clientArea.bottom};
    }

    if ((selected && enabled) || checked) {
        const bool sunken = checked || (pushed && (!split || capture));
        DrawEdge(dc, &button, sunken ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT);
    }
    if (split && selected && enabled)
        DrawEdge(dc, &arrowPart, (pushed && !capture) ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT);

    if (dropdown) {
        int cx = (arrow.left + arrow.right) / 2, cy = (arrow.top + arrow.bottom) / 2;
        if (pushed && !split) {
            ++cx;
            ++cy;
        }
        const POINT down[3] = {{cx - 2, cy - 1}, {cx + 2, cy - 1}, {cx, cy + 1}};
        const POINT left[3] = {{cx - 1, cy + 2}, {cx - 1, cy - 2}, {cx - 3, cy}};
        const POINT(&corners)[3] = (!split && vertical) ? left : down;
        InShadowOr(shadow, fontColor, [&](COLORREF c, int dx, int dy) { DrawTriangle(dc, corners, dx, dy, c); });
    }

    RECT content = button;
    InflateRect(&content, -1, -1);
    if (checked && !(selected && enabled)) FillDither(dc, content);
    InflateRect(&content, -1, -1);
    if (checked || (pushed && (!split || capture))) OffsetRect(&content, 1, 1);
    if (dropdown && !split) {
        if (vertical)
            content.bottom -= kDropdownArrowRoom;
        else
            content.right -= kDropdownArrowRoom;
    }

    TCustomImageList* images = viewer.ImageList();
    const bool image = images && viewer.ShowsImage();
    const bool rotated = viewer.IsRotatedCaption();
    const bool imageAbove = rotated || (options & DkOption(dkoImageAboveCaption));

    if (viewer.ShowsCaption()) {
        RECT r = content;
        if (image) {
            if (imageAbove)
                r.top += images->Height() + 1;
            else
                r.left += images->Width() + 1;
        }
        const std::string caption = viewer.CaptionText();
        const UINT format = DT_CENTER | DT_VCENTER | DT_SINGLELINE | HidePrefixFlag(view);
        InShadowOr(shadow, fontColor, [&](COLORREF c, int dx, int dy) {
            RECT moved = r;
            OffsetRect(&moved, dx, dy);
            DrawCaption(dc, caption, moved, format, rotated, c);
        });
    }

    if (image) {
        RECT area = content;
        if (imageAbove)
            area.bottom = area.top + images->Height() + 2;
        else
            area.right = area.left + images->Width() + 2;
        const POINT at = CentredImage(area, images);
        DrawImage(viewer, canvas, images, at.x, at.y, enabled, selected);
    }
}

// The check mark, relative to its centre: the dark stroke, then its lit edge.
const POINT kCheckMark[] = {{-2, -2}, {0, 0}, {4, -4}, {4, -3}, {0, 1}, {-2, -1}, {-2, -2}};
const POINT kCheckMarkLight[] = {{-3, -2}, {-3, -1}, {0, 2}, {5, -3}, {5, -5}};

void PaintMenuStyle(TDkItemViewer& viewer, TCanvas& canvas, const RECT& clientArea, bool shadow, bool selected)
{
    const HDC dc = canvas.Handle();
    TDkView* view = viewer.View();
    TDkCustomItem* item = viewer.Item();
    const bool enabled = item->Enabled() || view->Customizing;
    const bool checked = item->Checked();
    const bool split = viewer.HasSubmenu() && viewer.IsSplitButton();
    const int height = clientArea.bottom - clientArea.top;
    const int checkWidth = GetSystemMetrics(SM_CXMENUCHECK);
    const int checkHeight = GetSystemMetrics(SM_CYMENUCHECK);
    const COLORREF fontColor = ToRGB(canvas.Font.Color());

    TCustomImageList* images = viewer.ImageList();
    const bool image = images && viewer.ShowsImage();
    const int columnWidth =
        images ? MulDiv(images->Width() + 3, height, images->Height() + 3) : height;

    if (selected && canvas.Brush.Color() != clNone) {
        RECT line = clientArea;
        if (image || checked) line.left = clientArea.left + columnWidth + 1;
        if (split && enabled) line.right = clientArea.right - checkWidth;
        FillRect(dc, &line, canvas.Brush.Handle());
    }

    if (image || checked) {
        RECT column = {clientArea.left, clientArea.top, clientArea.left + columnWidth, clientArea.bottom};
        if ((selected && enabled) || checked)
            DrawEdge(dc, &column, checked ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT | BF_MIDDLE);
        if (checked && !selected) {
            RECT inside = column;
            InflateRect(&inside, -1, -1);
            FillDither(dc, inside);
        }
        if (checked) OffsetRect(&column, 1, 1);
        if (image) {
            const POINT at = CentredImage(column, images);
            DrawImage(viewer, canvas, images, at.x, at.y, enabled, selected);
        } else {
            const POINT centre = {(column.left + column.right) / 2 - 2, (column.top + column.bottom) / 2 + 1};
            DrawPolyline(dc, centre, kCheckMark, 7, DkPaintSysColor(COLOR_BTNTEXT));
            DrawPolyline(dc, centre, kCheckMarkLight, 5, DkPaintSysColor(COLOR_BTNHIGHLIGHT));
        }
    }

    // Text lines up the way it was measured: the leading above, one pixel less below on
    // lines that have only the usual padding.
    TEXTMETRICA tm = {};
    GetTextMetricsA(dc, &tm);
    RECT text = {clientArea.left + columnWidth + 3, clientArea.top, clientArea.right, clientArea.bottom};
    if (height - (tm.tmHeight + tm.tmExternalLeading) == 4) --text.bottom;
    text.top += tm.tmExternalLeading;

    if (viewer.ShowsCaption()) {
        const std::string caption = viewer.CaptionText();
        const UINT format = DT_VCENTER | DT_SINGLELINE | HidePrefixFlag(view);
        InShadowOr(shadow, fontColor, [&](COLORREF c, int dx, int dy) {
            RECT moved = text;
            OffsetRect(&moved, dx, dy);
            DrawCaption(dc, caption, moved, format, false, c);
        });
    }

    const std::string shortCut = item->GetShortCutText();
    if (!shortCut.empty()) {
        const int textWidth = GetTextWidth(dc, shortCut, false);
        RECT r = {clientArea.right - height - textWidth, text.top, clientArea.right - height, text.bottom};
        InShadowOr(shadow, fontColor, [&](COLORREF c, int dx, int dy) {
            RECT moved = r;
            OffsetRect(&moved, dx, dy);
            DrawCaption(dc, shortCut, moved, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX, false, c);
        });
    }

    if (viewer.HasSubmenu()) {
        if (split) {
            RECT part = {clientArea.right - checkWidth, clientArea.top, clientArea.right, clientArea.bottom};
            if (selected && enabled) {
                DrawEdge(dc, &part, BDR_SUNKENOUTER, BF_RECT | BF_MIDDLE);
            } else {
                --part.left;
                DrawEdge(dc, &part, selected ? BDR_SUNKENOUTER : EDGE_ETCHED, BF_LEFT);
            }
        }
        // The system draws its arrow black on white into a monochrome bitmap; the colour is ours.
        TGdiObject bitmap(CreateBitmap(checkWidth, checkHeight, 1, 1, nullptr));
        TMemoryDCHandle mono(CreateCompatibleDC(dc));
        if (!bitmap || !mono) throw EOutOfResources("Out of system resources");
        TSelected selectedBitmap(mono.Get(), bitmap.Get());
        RECT glyph = {0, 0, checkWidth, checkHeight};
        DrawFrameControl(mono.Get(), &glyph, DFC_MENU, DFCS_MENUARROW);
        const int x = clientArea.right - checkWidth;
        const int y = clientArea.top + (height - checkHeight) / 2;
        InShadowOr(shadow, fontColor, [&](COLORREF c, int dx, int dy) {
            BlitMaskInColor(dc, x + dx, y + dy, checkWidth, checkHeight, mono.Get(), c);
        });
    }
}

// The colour the viewers of a view stand on.
COLORREF BackgroundOf(TDkView* view)
{
    if (TWinControl* window = view->Window()) return ToRGB(window->Color());
    if (view->BackgroundColor != clDefault) return ToRGB(view->BackgroundColor);
    return DkPaintSysColor(view->IsToolbar ? COLOR_BTNFACE : COLOR_MENU);
}

}  // namespace

TDkSysColorFunc SetDkPaintSysColor(TDkSysColorFunc func)
{
    const TDkSysColorFunc old = sysColorFunc;
    sysColorFunc = func;
    return old;
}

COLORREF DkPaintSysColor(int index)
{
    return sysColorFunc ? sysColorFunc(index) : GetSysColor(index);
}

void TDkView::DrawViewer(TDkItemViewer* viewer, HDC dc, bool forceBuffer)
{
    if (!viewer || !dc || !viewer->Show || IsRectEmpty(&viewer->BoundsRect)) return;
    TDkCustomItem* item = viewer->Item();
    if (!item || dynamic_cast<TDkControlItem*>(item)) return;
    const bool buffered = forceBuffer || (viewer->State & dkvrsBufferedRepaint);
    viewer->State &= static_cast<unsigned char>(~dkvrsBufferedRepaint);

    const RECT bounds = viewer->BoundsRect;
    const int width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
    const bool isOpen = viewer == openViewer_;
    const bool isSelected = viewer == selected_;
    const bool isPushed = isSelected && (isOpen || (mouseOverSelected_ && capture_));
    const bool toolbarStyle = viewer->IsToolbarStyle();

    TSavedDC saved(dc);
    IntersectClipRect(dc, bounds.left, bounds.top, bounds.right, bounds.bottom);
    RECT clip;
    const int clipKind = GetClipBox(dc, &clip);
    if (clipKind == NULLREGION || clipKind == ERROR) return;

    // Declared so that the canvas lets go of the buffer before the buffer's DC goes, and
    // that DC before its bitmap.
    TGdiObject bitmap;
    TMemoryDCHandle buffer;
    HDC target = dc;
    if (buffered) {
        bitmap.Reset(CreateCompatibleBitmap(dc, width, height));
        buffer.Reset(CreateCompatibleDC(dc));
        if (!bitmap || !buffer) throw EOutOfResources("Out of system resources");
        SelectObject(buffer.Get(), bitmap.Get());
        if (window_ && window_->HandleAllocated()) {
            SetWindowOrgEx(buffer.Get(), bounds.left, bounds.top, nullptr);
            SendMessageA(window_->Handle(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(buffer.Get()), 0);
            SetWindowOrgEx(buffer.Get(), 0, 0, nullptr);
        } else {
            FillSolid(buffer.Get(), {0, 0, width, height}, BackgroundOf(this));
        }
        target = buffer.Get();
    } else {
        OffsetViewportOrgEx(dc, bounds.left, bounds.top, nullptr);
        // The dither lines up with the viewer, as it does in a buffer.
        POINT origin = {0, 0};
        LPtoDP(dc, &origin, 1);
        SetBrushOrgEx(dc, origin.x & 1, origin.y & 1, nullptr);
    }

    TCanvas canvas;
    canvas.Font.Assign(&Font());
    if (item->EffectiveOptions() & DkOption(dkoDefault)) canvas.Font.SetStyle(canvas.Font.Style() | fsBold);
    if (isSelected && !toolbarStyle)
        canvas.Brush.SetColor(SysTColor(DkSystem().FlatMenusInUse() ? COLOR_MENUHILIGHT : COLOR_HIGHLIGHT));
    else
        canvas.Brush.SetColor(clNone);

    bool shadow = false;
    if (item->Enabled()) {
        canvas.Font.SetColor(SysTColor(isSelected && !toolbarStyle ? COLOR_HIGHLIGHTTEXT
                                       : toolbarStyle             ? COLOR_BTNTEXT
                                                                  : COLOR_MENUTEXT));
    } else {
        canvas.Font.SetColor(SysTColor(COLOR_GRAYTEXT));
        const COLORREF background = BackgroundOf(this);
        const COLORREF gray = DkPaintSysColor(COLOR_GRAYTEXT);
        const COLORREF face = DkPaintSysColor(COLOR_BTNFACE);
        shadow = toolbarStyle || (isSelected && gray == background) ||
                 (!isSelected && (face == background || gray == background));
    }
    canvas.SetHandle(target);

    viewer->Paint(canvas, {0, 0, width, height}, shadow, isPushed, isSelected);

    canvas.SetHandle(nullptr);
    if (buffered) BitBlt(dc, bounds.left, bounds.top, width, height, target, 0, 0, SRCCOPY);
}

void TDkView::DrawSubitems(HDC dc)
{
    for (TDkItemViewer* viewer : viewers_) DrawViewer(viewer, dc, false);
}

void TDkItemViewer::Paint(TCanvas& canvas, const RECT& clientArea, bool isDisabledShadow, bool pushed,
                          bool selected)
{
    if (!canvas.Handle()) return;
    if (IsToolbarStyle())
        PaintToolbarStyle(*this, canvas, clientArea, isDisabledShadow, pushed, selected);
    else
        PaintMenuStyle(*this, canvas, clientArea, isDisabledShadow, selected);
}

void TDkSeparatorItemViewer::Paint(TCanvas& canvas, const RECT& clientArea, bool, bool, bool)
{
    const HDC dc = canvas.Handle();
    if (!dc) return;
    if (auto* separator = dynamic_cast<TDkSeparatorItem*>(item_); separator && separator->Blank()) return;
    // Across the row of a horizontal toolbar; a break between wrapped lines runs along them.
    const bool lineBreak = (State & dkvrsLineSeparator) != 0;
    const bool vertical = view_->IsToolbar && ((view_->Orientation == dkvoVertical) == lineBreak);
    RECT line = clientArea;
    if (vertical) {
        line.left = (clientArea.left + clientArea.right) / 2 - 1;
        line.right = line.left + 2;
        DrawEdge(dc, &line, EDGE_ETCHED, BF_LEFT);
    } else {
        line.top = (clientArea.top + clientArea.bottom) / 2 - 1;
        line.bottom = line.top + 2;
        DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
    }
}

void TDkChevronItemViewer::Paint(TCanvas& canvas, const RECT& clientArea, bool, bool pushed, bool selected)
{
    const HDC dc = canvas.Handle();
    if (!dc) return;
    const bool enabled = item_->Enabled();
    if (enabled && (pushed || selected)) {
        RECT edge = clientArea;
        DrawEdge(dc, &edge, pushed ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT);
    }
    static const unsigned char kRight[8] = {0xCC, 0x66, 0x33, 0x66, 0xCC, 0, 0, 0};
    static const unsigned char kDown[8] = {0x88, 0xD8, 0x70, 0x20, 0x88, 0xD8, 0x70, 0x20};
    const bool vertical = view_->Orientation == dkvoVertical;
    int x = vertical ? clientArea.right - 9 : clientArea.left + 2;
    int y = vertical ? clientArea.top + 2 : clientArea.top + 4;
    const int width = vertical ? 5 : 8, height = vertical ? 8 : 5;
    const unsigned char(&rows)[8] = vertical ? kDown : kRight;
    if (pushed) {
        ++x;
        ++y;
    }
    if (enabled) {
        DrawGlyph(dc, x, y, width, height, rows, DkPaintSysColor(COLOR_BTNTEXT));
    } else {
        DrawGlyph(dc, x, y + 1, width, height, rows, DkPaintSysColor(COLOR_BTNHIGHLIGHT));
        DrawGlyph(dc, x, y, width, height, rows, DkPaintSysColor(COLOR_BTNSHADOW));
    }
}
