#include "SplashWindow.h"

#include "file_system.h"
#include "resource.h"

#include <cwchar>

namespace {

using qv::gdi_object;
using qv::memory_dc;

// A window's or the screen's device context, released with the window.
class window_dc {
public:
    explicit window_dc(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~window_dc()
    {
        if (dc_) ReleaseDC(window_, dc_);
    }
    window_dc(const window_dc&) = delete;
    window_dc& operator=(const window_dc&) = delete;
    HDC get() const noexcept { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// Selected into a device context for a scope.
class selected {
public:
    selected(HDC dc, HGDIOBJ object) : dc_(dc), old_(SelectObject(dc, object)) {}
    ~selected()
    {
        if (old_) SelectObject(dc_, old_);
    }
    selected(const selected&) = delete;
    selected& operator=(const selected&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// The process's one splash: its picture, its palette, and the object whose window shows it.
gdi_object splash_bitmap;
gdi_object splash_palette_handle;
CSplashWindow* splash_owner = nullptr;

HBITMAP bitmap() noexcept
{
    return static_cast<HBITMAP>(splash_bitmap.get());
}

// A section bitmap keeps the file's colour table for the palette.
HBITMAP load_picture(const zString& path)
{
    if (HANDLE loaded = LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION))
        return static_cast<HBITMAP>(loaded);
    // Pictures that LoadImageW cannot read (GIF and other formats) are read here once the
    // launcher has its own image reading; until then they show no splash.
    return nullptr;
}

std::vector<RGBQUAD> color_table(HDC screen, HBITMAP picture)
{
    std::vector<RGBQUAD> colors(256);
    const memory_dc memory(CreateCompatibleDC(screen));
    UINT count = 0;
    if (memory) {
        const selected in(memory.get(), picture);
        count = GetDIBColorTable(memory.get(), 0, 256, colors.data());
    }
    colors.resize(count);
    return colors;
}

HPALETTE make_palette(HDC screen, HBITMAP picture)
{
    const int screen_bits = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
    if (screen_bits != 8) return nullptr;
    BITMAP shape{};
    GetObjectW(picture, sizeof shape, &shape);
    const int bitmap_bits = shape.bmBitsPixel * shape.bmPlanes;
    std::array<PALETTEENTRY, 256> system{};
    GetSystemPaletteEntries(screen, 0, 256, system.data());
    const std::vector<RGBQUAD> colors = bitmap_bits <= 8 ? color_table(screen, picture) : std::vector<RGBQUAD>();
    const splash_palette choice = ChooseSplashPalette(screen_bits, bitmap_bits, colors, system);
    switch (choice.choice) {
    case splash_palette::kind::halftone: return CreateHalftonePalette(screen);
    case splash_palette::kind::entries: {
        std::vector<unsigned char> storage(sizeof(LOGPALETTE) + 255 * sizeof(PALETTEENTRY));
        auto* const logical = reinterpret_cast<LOGPALETTE*>(storage.data());
        logical->palVersion = 0x300;
        logical->palNumEntries = 256;
        for (size_t i = 0; i < 256; ++i) logical->palPalEntry[i] = choice.entries[i];
        return CreatePalette(logical);
    }
    case splash_palette::kind::none: break;
    }
    return nullptr;
}

void size_and_centre(HWND dialog)
{
    BITMAP shape{};
    if (!GetObjectW(bitmap(), sizeof shape, &shape)) return;
    RECT desktop{};
    GetClientRect(GetDesktopWindow(), &desktop);
    SetWindowPos(dialog, nullptr, (desktop.right - desktop.left - shape.bmWidth) / 2,
        (desktop.bottom - desktop.top - shape.bmHeight) / 2, shape.bmWidth, shape.bmHeight,
        SWP_NOZORDER | SWP_NOACTIVATE);
}

void paint(HDC dc)
{
    BITMAP shape{};
    if (!GetObjectW(bitmap(), sizeof shape, &shape)) return;
    const memory_dc memory(CreateCompatibleDC(dc));
    if (!memory) return;
    const auto palette = static_cast<HPALETTE>(splash_palette_handle.get());
    HPALETTE kept_window = nullptr, kept_memory = nullptr;
    if (palette) {
        kept_window = SelectPalette(dc, palette, FALSE);
        RealizePalette(dc);
        kept_memory = SelectPalette(memory.get(), palette, FALSE);
        RealizePalette(memory.get());
    }
    {
        const selected in(memory.get(), bitmap());
        BitBlt(dc, 0, 0, shape.bmWidth, shape.bmHeight, memory.get(), 0, 0, SRCCOPY);
    }
    if (palette) {
        SelectPalette(memory.get(), kept_memory, FALSE);
        SelectPalette(dc, kept_window, FALSE);
    }
}

}  // namespace

zString FindSplashImage(const zString& media_folder, LANGID language)
{
    wchar_t language_folder[8];
    std::swprintf(language_folder, 8, L"%04x", static_cast<unsigned>(language));
    const zString localized = media_folder.combine_path(L"setupdir").combine_path(language_folder);
    const zString candidates[] = {localized.combine_path(L"setup.bmp"), localized.combine_path(L"setup.gif"),
        media_folder.combine_path(L"setup.bmp"), media_folder.combine_path(L"setup.gif")};
    for (const zString& candidate : candidates)
        if (qv::PathExists(candidate, qv::path_is_file)) return candidate;
    return zString();
}

splash_palette ChooseSplashPalette(int screen_bits, int bitmap_bits, const std::vector<RGBQUAD>& colors,
    const std::array<PALETTEENTRY, 256>& system)
{
    constexpr size_t system_low = 10, system_high = 246, palette_size = 256;
    splash_palette out;
    if (screen_bits != 8) return out;
    if (bitmap_bits > 8) {
        out.choice = splash_palette::kind::halftone;
        return out;
    }
    out.choice = splash_palette::kind::entries;
    out.entries.assign(palette_size, PALETTEENTRY{});
    const auto entry = [](const RGBQUAD& c) { return PALETTEENTRY{c.rgbRed, c.rgbGreen, c.rgbBlue, 0}; };
    if (colors.size() == palette_size) {
        for (size_t i = 0; i < palette_size; ++i) out.entries[i] = entry(colors[i]);
        return out;
    }
    for (size_t i = 0; i < palette_size; ++i)
        if (i < system_low || i >= system_high)
            out.entries[i] = PALETTEENTRY{system[i].peRed, system[i].peGreen, system[i].peBlue, 0};
    const size_t placed = colors.size() < system_high - system_low ? colors.size() : system_high - system_low;
    for (size_t i = 0; i < placed; ++i) out.entries[system_low + i] = entry(colors[i]);
    return out;
}

bool CSplashWindow::ShowSplashBitmap(const zString& path)
{
    if (splash_owner) splash_owner->CloseSplash(true);
    if (path.empty() || !qv::PathExists(path, qv::path_is_file)) return false;
    HBITMAP picture = load_picture(path);
    if (!picture) return false;
    splash_bitmap.reset(picture);
    {
        const window_dc screen(nullptr);
        splash_palette_handle.reset(screen.get() ? make_palette(screen.get(), picture) : nullptr);
    }
    splash_owner = this;
    window_.reset(CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SPLASH), nullptr,
        SplashDialogProc, 0));
    if (!window_) {
        CloseSplash(true);
        return false;
    }
    ShowWindow(window_.get(), SW_SHOW);
    SetForegroundWindow(window_.get());
    UpdateWindow(window_.get());
    return true;
}

void CSplashWindow::CloseSplash(bool destroy)
{
    if (window_) ShowWindow(window_.get(), SW_HIDE);
    if (!destroy) return;
    window_.reset();
    if (splash_owner == this) {
        splash_owner = nullptr;
        splash_palette_handle.reset();
        splash_bitmap.reset();
    }
}

INT_PTR CALLBACK SplashDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    try {
        switch (message) {
        case WM_INITDIALOG:
            size_and_centre(dialog);
            return TRUE;
        case WM_ERASEBKGND:
            paint(reinterpret_cast<HDC>(wparam));
            SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 1);
            return TRUE;
        default: return FALSE;
        }
    } catch (...) {
        // Nothing to report from a splash that cannot paint: the setup goes on without it.
        return FALSE;
    }
}
