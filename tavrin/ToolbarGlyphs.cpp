#include "ToolbarGlyphs.h"

#include "Handles.h"

#include <vector>

namespace {

// A filled polygon with a one-pixel outline, in glyph coordinates.
struct TShape {
    COLORREF Fill;
    COLORREF Outline;
    std::vector<POINT> Points;
};

const COLORREF FolderBack = RGB(214, 170, 40), FolderFront = RGB(255, 222, 96), FolderLine = RGB(128, 84, 0);
const COLORREF DiskBody = RGB(44, 72, 160), DiskLine = RGB(20, 32, 84), Paper = RGB(250, 250, 250),
               Shutter = RGB(196, 196, 200);
const COLORREF Case = RGB(170, 172, 182), CaseLine = RGB(64, 66, 78), Screen = RGB(120, 216, 160);
const COLORREF Go = RGB(40, 168, 60), GoLine = RGB(10, 92, 24), Stop = RGB(222, 44, 40), StopLine = RGB(128, 0, 0);
const COLORREF Door = RGB(176, 112, 52), DoorLine = RGB(92, 52, 20), Doorway = RGB(48, 48, 56);

std::vector<std::vector<TShape>> Glyphs()
{
    // The VR7, a box with its display, behind the send and erase marks.
    const TShape instrumentCase{Case, CaseLine, {{8, 1}, {14, 1}, {14, 14}, {8, 14}}};
    const TShape instrumentScreen{Screen, CaseLine, {{9, 3}, {13, 3}, {13, 6}, {9, 6}}};
    return {
        // Open: a folder, its front flap opened.
        {{FolderBack, FolderLine, {{1, 2}, {6, 2}, {7, 4}, {14, 4}, {14, 13}, {1, 13}}},
         {FolderFront, FolderLine, {{4, 7}, {15, 7}, {12, 13}, {1, 13}}}},
        // Save: a diskette with its label and shutter.
        {{DiskBody, DiskLine, {{1, 1}, {12, 1}, {14, 3}, {14, 14}, {1, 14}}},
         {Paper, DiskLine, {{4, 1}, {11, 1}, {11, 6}, {4, 6}}},
         {Shutter, DiskLine, {{4, 9}, {11, 9}, {11, 14}, {4, 14}}},
         {DiskBody, DiskBody, {{8, 10}, {9, 10}, {9, 13}, {8, 13}}}},
        // Send Test: an arrow into the instrument.
        {instrumentCase, instrumentScreen,
         {Go, GoLine, {{0, 6}, {4, 6}, {4, 3}, {9, 8}, {4, 13}, {4, 10}, {0, 10}}}},
        // Erase Test: the instrument struck out.
        {{Case, CaseLine, {{4, 1}, {11, 1}, {11, 14}, {4, 14}}},
         {Screen, CaseLine, {{5, 3}, {10, 3}, {10, 6}, {5, 6}}},
         {Stop, StopLine, {{1, 4}, {3, 2}, {14, 13}, {12, 15}}},
         {Stop, StopLine, {{12, 2}, {14, 4}, {3, 15}, {1, 13}}}},
        // Exit: an open door and the way out.
        {{Doorway, DoorLine, {{2, 1}, {10, 1}, {10, 15}, {2, 15}}},
         {Door, DoorLine, {{2, 1}, {7, 3}, {7, 15}, {2, 15}}},
         {Go, GoLine, {{8, 7}, {11, 7}, {11, 4}, {15, 8}, {11, 12}, {11, 9}, {8, 9}}}},
    };
}

}  // namespace

HBITMAP DrawToolbarGlyphs()
{
    const int width = ToolbarGlyphSize * ToolbarGlyphCount, height = ToolbarGlyphSize;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    TGdiObject strip(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    TMemoryDCHandle dc(CreateCompatibleDC(nullptr));
    if (!strip || !dc) return nullptr;
    {
        TSelected bitmap(dc.Get(), strip.Get());
        TGdiObject mask(CreateSolidBrush(ToolbarGlyphMask));
        const RECT all = {0, 0, width, height};
        FillRect(dc.Get(), &all, static_cast<HBRUSH>(mask.Get()));
        const auto glyphs = Glyphs();
        for (int g = 0; g < static_cast<int>(glyphs.size()) && g < ToolbarGlyphCount; ++g) {
            for (const TShape& shape : glyphs[g]) {
                std::vector<POINT> points = shape.Points;
                for (POINT& p : points) p.x += g * ToolbarGlyphSize;
                TGdiObject brush(CreateSolidBrush(shape.Fill));
                TGdiObject pen(CreatePen(PS_SOLID, 1, shape.Outline));
                TSelected withBrush(dc.Get(), brush.Get());
                TSelected withPen(dc.Get(), pen.Get());
                Polygon(dc.Get(), points.data(), static_cast<int>(points.size()));
            }
        }
        GdiFlush();
    }
    return static_cast<HBITMAP>(strip.Release());
}
