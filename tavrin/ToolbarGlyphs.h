// The main window's toolbar images: 16 by 16 glyphs drawn in code, side by side in one
// bitmap strip, on a mask colour that the image list takes as transparent.
#pragma once

#include "Graphics.h"

#include <windows.h>

// The glyphs' order in the strip, which is the actions' image indexes.
enum TToolbarGlyph { tgOpen, tgSave, tgSend, tgErase, tgExit };
const int ToolbarGlyphCount = 5;
const int ToolbarGlyphSize = 16;
const TColor ToolbarGlyphMask = 0xFF00FF;

// A new bitmap strip of ToolbarGlyphCount glyphs; the caller frees it. Null when GDI refuses.
HBITMAP DrawToolbarGlyphs();
