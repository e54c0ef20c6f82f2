// The package's splash picture in a borderless dialog (template 108) centred on the screen.
// One splash at a time: its bitmap and palette are the process's, its window the object's.
#pragma once

#include "handle.h"
#include "zString.h"

#include <windows.h>

#include <array>
#include <vector>

// The first existing file of: <media>\setupdir\<language as %04x>\setup.bmp, the same folder's
// setup.gif, <media>\setup.bmp, <media>\setup.gif. None: empty.
zString FindSplashImage(const zString& media_folder, LANGID language);

// The palette a bitmap is shown with.
struct splash_palette {
    enum class kind { none, halftone, entries };
    kind choice = kind::none;
    std::vector<PALETTEENTRY> entries;  // 256 when the choice is `entries`
};

// Only a screen of 8 bits per pixel (bits × planes) gets a palette: halftone for a bitmap of
// more than 8 bits per pixel, else one of 256 entries from the bitmap's colour table: a table
// of 256 taken whole; a shorter one placed from entry 10 on, at most 236 colours, with
// entries 0-9 and 246-255 from `system`, the screen's system palette.
splash_palette ChooseSplashPalette(int screen_bits, int bitmap_bits, const std::vector<RGBQUAD>& colors,
    const std::array<PALETTEENTRY, 256>& system);


class CSplashWindow {
public:
    CSplashWindow() = default;
    ~CSplashWindow() { CloseSplash(true); }
    CSplashWindow(const CSplashWindow&) = delete;
    CSplashWindow& operator=(const CSplashWindow&) = delete;

    // False for an empty or absent path, a picture that cannot be read, or a window that
    // cannot be made. A splash shown before, by this object or another, is closed first.
    bool ShowSplashBitmap(const zString& path);
    // Hides the window; with `destroy` also destroys it and frees the bitmap and palette.
    void CloseSplash(bool destroy);

    HWND Window() const noexcept { return window_.get(); }

private:
    qv::window_handle window_;
};

// The splash dialog's procedure (CreateDialogParamW, template 108).
INT_PTR CALLBACK SplashDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
