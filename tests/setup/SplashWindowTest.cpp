// The splash: where its picture is looked for, the window it shows on Wine's desktop (template
// 108 from setup's resources), and the palette it would take on a screen of 256 colours.
// The cases that show it hold the desktop.
#include "SplashWindow.h"

#include "FileSupport.h"
#include "ScratchFolder.h"
#include "ScreenCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

// A BMP file of `bits` per pixel (24, or 1/4/8 with `colors` as its table); `pixel` gives
// each pixel's colour (24) or table index.
std::vector<unsigned char> bmp_file(int width, int height, int bits, const std::vector<RGBQUAD>& colors,
    const std::function<DWORD(int x, int y)>& pixel)
{
    const int stride = ((width * bits + 31) / 32) * 4;
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = static_cast<WORD>(bits);
    info.biClrUsed = static_cast<DWORD>(colors.size());
    info.biSizeImage = static_cast<DWORD>(stride * height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = static_cast<DWORD>(sizeof file + sizeof info + colors.size() * sizeof(RGBQUAD));
    file.bfSize = file.bfOffBits + info.biSizeImage;
    std::vector<unsigned char> out(file.bfSize);
    unsigned char* at = out.data();
    std::memcpy(at, &file, sizeof file);
    std::memcpy(at + sizeof file, &info, sizeof info);
    if (!colors.empty()) std::memcpy(at + sizeof file + sizeof info, colors.data(), colors.size() * sizeof(RGBQUAD));
    for (int y = 0; y < height; ++y) {
        unsigned char* row = at + file.bfOffBits + (height - 1 - y) * stride;  // bottom-up
        for (int x = 0; x < width; ++x) {
            const DWORD value = pixel(x, y);
            if (bits == 24) {
                row[x * 3] = GetBValue(value);
                row[x * 3 + 1] = GetGValue(value);
                row[x * 3 + 2] = GetRValue(value);
            } else {
                const int bit = x * bits;
                const int shift = 8 - bits - bit % 8;
                row[bit / 8] = static_cast<unsigned char>(row[bit / 8] | (value << shift));
            }
        }
    }
    return out;
}

RGBQUAD quad(COLORREF c)
{
    return RGBQUAD{GetBValue(c), GetGValue(c), GetRValue(c), 0};
}

// Four quadrants of distinct colours.
constexpr COLORREF top_left = RGB(220, 30, 30), top_right = RGB(30, 200, 40), bottom_left = RGB(40, 60, 230),
                   bottom_right = RGB(240, 220, 20);

DWORD quadrant(int x, int y, int width, int height, DWORD a, DWORD b, DWORD c, DWORD d)
{
    return y < height / 2 ? (x < width / 2 ? a : b) : (x < width / 2 ? c : d);
}

const unsigned char two_by_two_gif[] = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x02, 0x00, 0x02, 0x00, 0xf0, 0x00, 0x00,
    0xff, 0x00, 0x00, 0x00, 0x00, 0x00, 0x21, 0xf9, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00,
    0x02, 0x00, 0x02, 0x00, 0x00, 0x02, 0x02, 0x84, 0x51, 0x00, 0x3b};

struct FindCase {
    const char* name;
    std::vector<std::wstring> files;  // under the media folder
    LANGID language;
    const wchar_t* found;  // relative; empty for none
};

TEST(FindSplashImage, TheFirstOfTheFourCandidates)
{
    const FindCase cases[] = {
        {"the language folder's bitmap first",
            {L"setupdir\\0409\\setup.bmp", L"setupdir\\0409\\setup.gif", L"setup.bmp", L"setup.gif"}, 0x409,
            L"setupdir\\0409\\setup.bmp"},
        {"the language folder's GIF wins over the pictures beside the launcher",
            {L"setupdir\\0409\\setup.gif", L"setup.bmp", L"setup.gif"}, 0x409, L"setupdir\\0409\\setup.gif"},
        {"the bitmap beside the launcher before its GIF", {L"setup.bmp", L"setup.gif"}, 0x409, L"setup.bmp"},
        {"only setup.gif is found", {L"setup.gif"}, 0x409, L"setup.gif"},
        {"another language's folder is not looked at", {L"setupdir\\0407\\setup.bmp", L"setup.gif"}, 0x409,
            L"setup.gif"},
        {"four lower-case hexadecimal digits", {L"setupdir\\0c0a\\setup.bmp", L"setup.bmp"}, 0x0c0a,
            L"setupdir\\0c0a\\setup.bmp"},
        {"nothing: empty", {L"setupdir\\0409\\other.bmp"}, 0x409, L""},
    };
    for (const FindCase& c : cases) {
        SCOPED_TRACE(c.name);
        const scratch_folder media(L"setup_splash_find");
        for (const std::wstring& file : c.files) {
            const std::wstring folder = file.substr(0, file.rfind(L'\\') == std::wstring::npos ? 0 : file.rfind(L'\\'));
            if (!folder.empty()) {
                CreateDirectoryW(media.join(L"setupdir").c_str(), nullptr);
                CreateDirectoryW(media.join(folder).c_str(), nullptr);
            }
            media.write(file, {'x'});
        }
        const std::wstring expected = *c.found ? media.join(c.found) : L"";
        EXPECT_EQ(FindSplashImage(zString(media.path()), c.language).str(), expected);
        // The media folder may come with its closing backslash.
        EXPECT_EQ(FindSplashImage(zString(media.path() + L"\\"), c.language).str(), expected);
    }
}

TEST(FindSplashImage, AFolderNamedLikeThePictureIsNoPicture)
{
    const scratch_folder media(L"setup_splash_find");
    CreateDirectoryW(media.join(L"setup.bmp").c_str(), nullptr);
    media.write(L"setup.gif", {'x'});
    EXPECT_EQ(FindSplashImage(zString(media.path()), 0x409).str(), media.join(L"setup.gif"));
}

struct PaletteCase {
    const char* name;
    int screen_bits;
    int bitmap_bits;
    size_t colors;
    splash_palette::kind choice;
    bool whole;     // the table fills all 256 entries
    size_t placed;  // else: table colours from entry 10 on
};

TEST(ChooseSplashPalette, Cases)
{
    const PaletteCase cases[] = {
        {"no palette on a true-colour screen", 24, 4, 16, splash_palette::kind::none, false, 0},
        {"no palette on a 16-bit screen either", 16, 8, 256, splash_palette::kind::none, false, 0},
        {"halftone for a true-colour bitmap", 8, 24, 0, splash_palette::kind::halftone, false, 0},
        {"halftone for a 16-bit bitmap", 8, 16, 0, splash_palette::kind::halftone, false, 0},
        {"a table of 256 is taken whole", 8, 8, 256, splash_palette::kind::entries, true, 0},
        {"a 4-bit table keeps the system colours at both ends", 8, 4, 16, splash_palette::kind::entries, false, 16},
        {"a 1-bit table", 8, 1, 2, splash_palette::kind::entries, false, 2},
        {"a short 8-bit table", 8, 8, 100, splash_palette::kind::entries, false, 100},
        {"at most 236 colours are placed", 8, 8, 240, splash_palette::kind::entries, false, 236},
    };
    std::array<PALETTEENTRY, 256> system{};
    for (size_t i = 0; i < 256; ++i)
        system[i] = PALETTEENTRY{static_cast<BYTE>(i), static_cast<BYTE>(255 - i), 7, PC_NOCOLLAPSE};
    for (const PaletteCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<RGBQUAD> colors(c.colors);
        for (size_t i = 0; i < colors.size(); ++i)
            colors[i] = RGBQUAD{static_cast<BYTE>(i), 100, static_cast<BYTE>(i / 2), 0};  // blue, green, red

        const splash_palette palette = ChooseSplashPalette(c.screen_bits, c.bitmap_bits, colors, system);

        ASSERT_EQ(palette.choice, c.choice);
        if (c.choice != splash_palette::kind::entries) {
            EXPECT_TRUE(palette.entries.empty());
            continue;
        }
        ASSERT_EQ(palette.entries.size(), 256u);
        for (size_t i = 0; i < 256; ++i) {
            SCOPED_TRACE(i);
            PALETTEENTRY expected{};  // unused entries are black
            if (c.whole)
                expected = PALETTEENTRY{colors[i].rgbRed, colors[i].rgbGreen, colors[i].rgbBlue, 0};
            else if (i < 10 || i >= 246)
                expected = PALETTEENTRY{system[i].peRed, system[i].peGreen, system[i].peBlue, 0};
            else if (i - 10 < c.placed)
                expected = PALETTEENTRY{colors[i - 10].rgbRed, colors[i - 10].rgbGreen, colors[i - 10].rgbBlue, 0};
            EXPECT_EQ(palette.entries[i].peRed, expected.peRed);
            EXPECT_EQ(palette.entries[i].peGreen, expected.peGreen);
            EXPECT_EQ(palette.entries[i].peBlue, expected.peBlue);
            EXPECT_EQ(palette.entries[i].peFlags, 0);
        }
    }
}

COLORREF screen_pixel(int x, int y)
{
    HDC screen = GetDC(nullptr);
    const COLORREF c = GetPixel(screen, x, y);
    ReleaseDC(nullptr, screen);
    return c;
}

// Handles what comes until `done` or the bound.
bool pump_until(const std::function<bool()>& done, DWORD bound = 5000)
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done()) return true;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= bound) return false;
        // The desktop shows what was drawn a moment later: wait for messages, at most a little.
        MsgWaitForMultipleObjectsEx(0, nullptr, std::min<DWORD>(bound - elapsed, 50), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

struct ShowCase {
    const char* name;
    const wchar_t* artifact;
    int width, height, bits;
};

TEST(ShowSplashBitmap, AWindowOfTheBitmapsSizeCentredOnTheDesktop)
{
    const ShowCase cases[] = {
        {"a 24-bit bitmap", L"splash_24bit.bmp", 240, 150, 24},
        {"a 4-bit bitmap", L"splash_4bit.bmp", 96, 64, 4},
    };
    for (const ShowCase& c : cases) {
        SCOPED_TRACE(c.name);
        const scratch_folder media(L"setup_splash_show");
        std::vector<RGBQUAD> colors;
        std::function<DWORD(int, int)> pixel = [&](int x, int y) {
            return quadrant(x, y, c.width, c.height, top_left, top_right, bottom_left, bottom_right);
        };
        if (c.bits == 4) {
            colors.assign(16, quad(RGB(0, 0, 0)));
            colors[3] = quad(top_left);
            colors[7] = quad(top_right);
            colors[9] = quad(bottom_left);
            colors[14] = quad(bottom_right);
            pixel = [&](int x, int y) { return quadrant(x, y, c.width, c.height, 3, 7, 9, 14); };
        }
        const std::wstring path = media.write(L"setup.bmp", bmp_file(c.width, c.height, c.bits, colors, pixel));

        CSplashWindow splash;
        ASSERT_TRUE(splash.ShowSplashBitmap(zString(path)));
        const HWND window = splash.Window();
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(IsWindowVisible(window));

        RECT desktop{}, shown{}, client{};
        GetClientRect(GetDesktopWindow(), &desktop);
        GetWindowRect(window, &shown);
        GetClientRect(window, &client);
        EXPECT_EQ(shown.right - shown.left, c.width);
        EXPECT_EQ(shown.bottom - shown.top, c.height);
        EXPECT_EQ(client.right, c.width);  // no frame
        EXPECT_EQ(client.bottom, c.height);
        EXPECT_EQ(shown.left, (desktop.right - desktop.left - c.width) / 2);
        EXPECT_EQ(shown.top, (desktop.bottom - desktop.top - c.height) / 2);

        // Each quadrant on the screen shows its colour. Above whatever another program shows
        // meanwhile: the pixels are read off the screen.
        SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        const int qx = c.width / 4, qy = c.height / 4;
        const auto shows = [&] {
            return screen_pixel(shown.left + qx, shown.top + qy) == top_left
                   && screen_pixel(shown.right - qx, shown.top + qy) == top_right
                   && screen_pixel(shown.left + qx, shown.bottom - qy) == bottom_left
                   && screen_pixel(shown.right - qx, shown.bottom - qy) == bottom_right;
        };
        EXPECT_TRUE(pump_until(shows));
        RECT around = {shown.left - 20, shown.top - 20, shown.right + 20, shown.bottom + 20};
        EXPECT_TRUE(SaveScreenRect(around, ArtifactFolder() + c.artifact));

        splash.CloseSplash(false);
        EXPECT_TRUE(IsWindow(window));
        EXPECT_FALSE(IsWindowVisible(window));
        splash.CloseSplash(true);
        EXPECT_FALSE(IsWindow(window));
        EXPECT_EQ(splash.Window(), nullptr);
    }
}

TEST(ShowSplashBitmap, NoPictureNoWindow)
{
    const scratch_folder media(L"setup_splash_show");
    const std::wstring gif = media.write(L"setup.gif",
        std::vector<unsigned char>(two_by_two_gif, two_by_two_gif + sizeof two_by_two_gif));
    const std::wstring not_a_picture = media.write(L"setup.bmp", {'B', 'M', 'x', 'y'});
    struct Case {
        const char* name;
        std::wstring path;
    };
    const Case cases[] = {
        {"a GIF, which LoadImageW cannot read", gif},
        {"a file that is no picture", not_a_picture},
        {"an absent file", media.join(L"absent.bmp")},
        {"an empty path", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CSplashWindow splash;
        EXPECT_FALSE(splash.ShowSplashBitmap(zString(c.path)));
        EXPECT_EQ(splash.Window(), nullptr);
    }
}

TEST(ShowSplashBitmap, OneSplashAtATime)
{
    const scratch_folder media(L"setup_splash_show");
    const std::wstring path = media.write(L"setup.bmp",
        bmp_file(32, 32, 24, {}, [](int, int) { return static_cast<DWORD>(top_left); }));
    CSplashWindow first, second;
    ASSERT_TRUE(first.ShowSplashBitmap(zString(path)));
    const HWND shown_first = first.Window();
    ASSERT_TRUE(second.ShowSplashBitmap(zString(path)));
    EXPECT_FALSE(IsWindow(shown_first));
    EXPECT_EQ(first.Window(), nullptr);
    EXPECT_TRUE(IsWindowVisible(second.Window()));
}

}  // namespace
