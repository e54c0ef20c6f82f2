#include "Graphics.h"

COLORREF ColorToRGB(TColor color)
{
    if (color == clNone || color == clDefault) return GetSysColor(COLOR_WINDOW);
    if (color & clSystemColor) return GetSysColor(color & 0xFF);
    return static_cast<COLORREF>(color);
}

void TGraphicsObject::Changed()
{
    if (OnChange) OnChange(this);
}

void TGraphicsObject::Renew(TGdiObject& handle)
{
    // The old object may still be selected into a DC: free it once the owner has taken the new one.
    TGdiObject old(handle.Release());
    Changed();
}

TFont::TFont() = default;

void TFont::SetName(const std::string& name)
{
    if (name == name_) return;
    name_ = name;
    Renew(handle_);
}

void TFont::SetSize(int size)
{
    if (size == size_) return;
    size_ = size;
    Renew(handle_);
}

void TFont::SetStyle(TFontStyles style)
{
    if (style == style_) return;
    style_ = style;
    Renew(handle_);
}

void TFont::SetColor(TColor color)
{
    if (color == color_) return;
    color_ = color;
    Changed();
}

HFONT TFont::Handle()
{
    if (!handle_) {
        HDC screen = GetDC(nullptr);
        const int height = -MulDiv(size_, GetDeviceCaps(screen, LOGPIXELSY), 72);
        ReleaseDC(nullptr, screen);
        LOGFONTA lf = {};
        lf.lfHeight = height;
        lf.lfWeight = (style_ & fsBold) ? FW_BOLD : FW_NORMAL;
        lf.lfItalic = (style_ & fsItalic) != 0;
        lf.lfUnderline = (style_ & fsUnderline) != 0;
        lf.lfStrikeOut = (style_ & fsStrikeOut) != 0;
        lf.lfCharSet = DEFAULT_CHARSET;
        lf.lfQuality = DEFAULT_QUALITY;
        lstrcpynA(lf.lfFaceName, name_.c_str(), LF_FACESIZE);
        handle_.Reset(CreateFontIndirectA(&lf));
    }
    return static_cast<HFONT>(handle_.Get());
}

void TFont::Assign(TPersistent* source)
{
    auto* other = dynamic_cast<TFont*>(source);
    if (!other) return TPersistent::Assign(source);
    name_ = other->name_;
    size_ = other->size_;
    style_ = other->style_;
    color_ = other->color_;
    Renew(handle_);
}

void TBrush::SetColor(TColor color)
{
    if (color == color_) return;
    color_ = color;
    Renew(handle_);
}

HBRUSH TBrush::Handle()
{
    if (!handle_) handle_.Reset(CreateSolidBrush(ColorToRGB(color_)));
    return static_cast<HBRUSH>(handle_.Get());
}

void TBrush::Assign(TPersistent* source)
{
    auto* other = dynamic_cast<TBrush*>(source);
    if (!other) return TPersistent::Assign(source);
    SetColor(other->color_);
}

void TPen::SetColor(TColor color)
{
    if (color == color_) return;
    color_ = color;
    Renew(handle_);
}

void TPen::SetWidth(int width)
{
    if (width == width_) return;
    width_ = width;
    Renew(handle_);
}

HPEN TPen::Handle()
{
    if (!handle_) handle_.Reset(CreatePen(PS_SOLID, width_, ColorToRGB(color_)));
    return static_cast<HPEN>(handle_.Get());
}

TCanvas::TCanvas()
{
    // A changed font, brush or pen goes into the DC at once; the old object is freed after.
    Font.OnChange = Brush.OnChange = Pen.OnChange = [this](TObject*) { Select(); };
}

TCanvas::~TCanvas()
{
    SetHandle(nullptr);
}

void TCanvas::SetHandle(HDC dc)
{
    if (dc_) {
        SelectObject(dc_, oldFont_);
        SelectObject(dc_, oldBrush_);
        SelectObject(dc_, oldPen_);
        oldFont_ = oldBrush_ = oldPen_ = nullptr;
    }
    dc_ = dc;
    if (dc_) {
        oldFont_ = SelectObject(dc_, Font.Handle());
        oldBrush_ = SelectObject(dc_, Brush.Handle());
        oldPen_ = SelectObject(dc_, Pen.Handle());
    }
}

void TCanvas::Select()
{
    if (!dc_) return;
    SelectObject(dc_, Font.Handle());
    SelectObject(dc_, Brush.Handle());
    SelectObject(dc_, Pen.Handle());
}

void TCanvas::FillRect(const RECT& r)
{
    if (dc_) ::FillRect(dc_, &r, Brush.Handle());
}

void TCanvas::FrameRect(const RECT& r)
{
    if (dc_) ::FrameRect(dc_, &r, Brush.Handle());
}

void TCanvas::Rectangle(int left, int top, int right, int bottom)
{
    if (dc_) ::Rectangle(dc_, left, top, right, bottom);
}

void TCanvas::MoveTo(int x, int y)
{
    if (dc_) MoveToEx(dc_, x, y, nullptr);
}

void TCanvas::LineTo(int x, int y)
{
    if (dc_) ::LineTo(dc_, x, y);
}

void TCanvas::TextOut(int x, int y, const std::string& text)
{
    if (!dc_) return;
    SetTextColor(dc_, ColorToRGB(Font.Color()));
    SetBkMode(dc_, TRANSPARENT);
    ::TextOutA(dc_, x, y, text.c_str(), static_cast<int>(text.size()));
}

void TCanvas::TextRect(const RECT& r, int x, int y, const std::string& text)
{
    if (!dc_) return;
    SetTextColor(dc_, ColorToRGB(Font.Color()));
    SetBkMode(dc_, TRANSPARENT);
    ExtTextOutA(dc_, x, y, ETO_CLIPPED, &r, text.c_str(), static_cast<UINT>(text.size()), nullptr);
}

SIZE TCanvas::TextExtent(const std::string& text)
{
    SIZE size = {0, 0};
    if (dc_) {
        GetTextExtentPoint32A(dc_, text.c_str(), static_cast<int>(text.size()), &size);
    } else {
        HDC screen = GetDC(nullptr);
        HGDIOBJ old = SelectObject(screen, Font.Handle());
        GetTextExtentPoint32A(screen, text.c_str(), static_cast<int>(text.size()), &size);
        SelectObject(screen, old);
        ReleaseDC(nullptr, screen);
    }
    return size;
}
