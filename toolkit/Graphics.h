// Colours, fonts, brushes, pens and the canvas that draws with them.
#pragma once

#include "Classes.h"
#include "Handles.h"

#include <windows.h>

#include <cstdint>
#include <string>

// A colour: an RGB value, or a system colour index with the top byte set.
using TColor = int32_t;
const TColor clSystemColor = static_cast<TColor>(0xFF000000);
const TColor clBlack = 0x000000;
const TColor clWhite = 0xFFFFFF;
const TColor clRed = 0x0000FF;
const TColor clNavy = 0x800000;
const TColor clGray = 0x808080;
const TColor clNone = 0x1FFFFFFF;
const TColor clDefault = 0x20000000;
const TColor clBtnFace = clSystemColor | COLOR_BTNFACE;
const TColor clBtnText = clSystemColor | COLOR_BTNTEXT;
const TColor clBtnShadow = clSystemColor | COLOR_BTNSHADOW;
const TColor clBtnHighlight = clSystemColor | COLOR_BTNHIGHLIGHT;
const TColor clWindow = clSystemColor | COLOR_WINDOW;
const TColor clWindowText = clSystemColor | COLOR_WINDOWTEXT;
const TColor clHighlight = clSystemColor | COLOR_HIGHLIGHT;
const TColor clHighlightText = clSystemColor | COLOR_HIGHLIGHTTEXT;
const TColor clGrayText = clSystemColor | COLOR_GRAYTEXT;
const TColor clInfoBk = clSystemColor | COLOR_INFOBK;

COLORREF ColorToRGB(TColor color);

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = unsigned;

// Tells its owner when it changes, so that the owner can pass the new handle on.
class TGraphicsObject : public TPersistent {
public:
    TNotifyEvent OnChange;

protected:
    void Changed();
    void Renew(TGdiObject& handle);
};

class TFont : public TGraphicsObject {
public:
    TFont();
    const std::string& Name() const { return name_; }
    void SetName(const std::string& name);
    int Size() const { return size_; }  // points
    void SetSize(int size);
    TFontStyles Style() const { return style_; }
    void SetStyle(TFontStyles style);
    TColor Color() const { return color_; }
    void SetColor(TColor color);
    // The font's handle, made on first use and kept until the font changes.
    HFONT Handle();
    void Assign(TPersistent* source) override;

private:
    std::string name_ = "Tahoma";
    int size_ = 8;
    TFontStyles style_ = 0;
    TColor color_ = clWindowText;
    TGdiObject handle_;
};

class TBrush : public TGraphicsObject {
public:
    TColor Color() const { return color_; }
    void SetColor(TColor color);
    HBRUSH Handle();
    void Assign(TPersistent* source) override;

private:
    TColor color_ = clWhite;
    TGdiObject handle_;
};

class TPen : public TGraphicsObject {
public:
    TColor Color() const { return color_; }
    void SetColor(TColor color);
    int Width() const { return width_; }
    void SetWidth(int width);
    HPEN Handle();

private:
    TColor color_ = clBlack;
    int width_ = 1;
    TGdiObject handle_;
};

// Draws on a device context that somebody else owns (a paint, a memory or a printer DC).
class TCanvas : public TPersistent {
public:
    TCanvas();
    ~TCanvas() override;

    HDC Handle() const { return dc_; }
    // Takes a device context; nullptr lets go of it and puts the DC's own objects back.
    void SetHandle(HDC dc);

    TFont Font;
    TBrush Brush;
    TPen Pen;

    void FillRect(const RECT& r);
    void FrameRect(const RECT& r);
    void Rectangle(int left, int top, int right, int bottom);
    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    void TextOut(int x, int y, const std::string& text);
    // Text clipped to `r`, drawn at (x, y).
    void TextRect(const RECT& r, int x, int y, const std::string& text);
    SIZE TextExtent(const std::string& text);
    int TextWidth(const std::string& text) { return TextExtent(text).cx; }
    int TextHeight(const std::string& text) { return TextExtent(text).cy; }

private:
    void Select();

    HDC dc_ = nullptr;
    HGDIOBJ oldFont_ = nullptr, oldBrush_ = nullptr, oldPen_ = nullptr;
};
