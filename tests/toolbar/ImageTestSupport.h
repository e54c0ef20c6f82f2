// Bitmaps and a canvas over a 32-bit DIB, for reading back what the tests draw.
#pragma once

#include "Graphics.h"
#include "Handles.h"

#include <windows.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// A top-down 32-bit DIB section, filled with one colour.
class TTestDib {
public:
    TTestDib(int width, int height, COLORREF fill = RGB(0, 0, 0)) : width_(width), height_(height)
    {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        bitmap_.Reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        if (!bitmap_) throw std::runtime_error("CreateDIBSection failed");
        bits_ = static_cast<uint32_t*>(bits);
        Fill(fill);
    }
    HBITMAP Handle() const { return static_cast<HBITMAP>(bitmap_.Get()); }
    int Width() const { return width_; }
    int Height() const { return height_; }

    // A memory DC with the DIB selected, made on first use: a bitmap selected into one DC
    // cannot be selected into another, as an image list does with the bitmaps it is given.
    HDC DC() const
    {
        if (!dc_) {
            dc_.Reset(CreateCompatibleDC(nullptr));
            if (!dc_ || !SelectObject(dc_.Get(), bitmap_.Get())) throw std::runtime_error("no memory DC for the DIB");
        }
        return dc_.Get();
    }

    COLORREF Pixel(int x, int y) const
    {
        GdiFlush();
        const uint32_t p = bits_[y * width_ + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    // Every pixel as 0x00RRGGBB, row by row.
    std::vector<uint32_t> Pixels() const
    {
        GdiFlush();
        std::vector<uint32_t> out(bits_, bits_ + width_ * height_);
        for (uint32_t& p : out) p &= 0xFFFFFF;
        return out;
    }
    void Fill(const RECT& r, COLORREF color)
    {
        GdiFlush();
        const uint32_t p = (GetRValue(color) << 16) | (GetGValue(color) << 8) | GetBValue(color);
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) bits_[y * width_ + x] = p;
    }
    void Fill(COLORREF color) { Fill({0, 0, width_, height_}, color); }

private:
    int width_, height_;
    TGdiObject bitmap_;
    mutable TMemoryDCHandle dc_;  // after the bitmap, so that it goes first
    uint32_t* bits_ = nullptr;
};

// A canvas drawing on its own DIB.
class TTestCanvas {
public:
    TTestCanvas(int width, int height) : dib(width, height) { canvas.SetHandle(dib.DC()); }
    ~TTestCanvas() { canvas.SetHandle(nullptr); }
    TTestCanvas(const TTestCanvas&) = delete;
    TTestCanvas& operator=(const TTestCanvas&) = delete;

    TTestDib dib;
    TCanvas canvas;
};

// Text for a colour, so that a failed comparison says what it saw.
inline std::string ColorText(COLORREF c)
{
    char text[32];
    wsprintfA(text, "RGB(%u,%u,%u)", GetRValue(c), GetGValue(c), GetBValue(c));
    return text;
}
