// The system colours that item viewers paint with come through one function, so that a
// colour scheme can be shown without changing the system's own, which outlives the program.
#pragma once

#include <windows.h>

using TDkSysColorFunc = COLORREF (*)(int index);
// Puts another source of colours in place (nullptr: GetSysColor); returns the one before.
TDkSysColorFunc SetDkPaintSysColor(TDkSysColorFunc func);
COLORREF DkPaintSysColor(int index);
