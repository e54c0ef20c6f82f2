// What the Xvfb screen shows, saved as a 24-bit BMP file for a person to look at, and the
// folder such files go to. Plain Win32: tests of both programs use it.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

// Saves the screen's rectangle `r` to `path`.
inline bool SaveScreenRect(const RECT& r, const std::wstring& path)
{
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = w;
    info.biHeight = h;
    info.biPlanes = 1;
    info.biBitCount = 24;
    const int stride = (w * 3 + 3) & ~3;
    std::vector<unsigned char> pixels(static_cast<size_t>(stride) * h);
    GetDIBits(memory, bitmap, 0, h, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    const HANDLE made = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (made == INVALID_HANDLE_VALUE) return false;
    const std::unique_ptr<void, decltype(&CloseHandle)> out(made, &CloseHandle);
    DWORD done = 0;
    return WriteFile(made, &file, sizeof file, &done, nullptr) && WriteFile(made, &info, sizeof info, &done, nullptr) &&
           WriteFile(made, pixels.data(), static_cast<DWORD>(pixels.size()), &done, nullptr);
}

// Where a test leaves what a person should look at (TAVRIN_ARTIFACTS, else the temp
// folder), ending in a backslash; made when missing.
inline std::wstring ArtifactFolder()
{
    wchar_t folder[MAX_PATH] = L"";
    if (!GetEnvironmentVariableW(L"TAVRIN_ARTIFACTS", folder, MAX_PATH)) GetTempPathW(MAX_PATH, folder);
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
    CreateDirectoryW(path.c_str(), nullptr);
    return path;
}
