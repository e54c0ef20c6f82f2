// Owning holders for Windows handles: one template, one traits struct per handle kind.
#pragma once

#include <windows.h>

#include <utility>

template <class Traits>
class TOwnedHandle {
public:
    using Handle = typename Traits::Handle;

    TOwnedHandle() noexcept : handle_(Traits::Invalid()) {}
    explicit TOwnedHandle(Handle h) noexcept : handle_(h) {}
    TOwnedHandle(const TOwnedHandle&) = delete;
    TOwnedHandle& operator=(const TOwnedHandle&) = delete;
    TOwnedHandle(TOwnedHandle&& other) noexcept : handle_(other.Release()) {}
    TOwnedHandle& operator=(TOwnedHandle&& other) noexcept
    {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    ~TOwnedHandle() { Reset(); }

    Handle Get() const noexcept { return handle_; }
    bool Valid() const noexcept { return handle_ != Traits::Invalid(); }
    explicit operator bool() const noexcept { return Valid(); }

    Handle Release() noexcept { return std::exchange(handle_, Traits::Invalid()); }
    void Reset(Handle h = Traits::Invalid()) noexcept
    {
        if (Valid()) Traits::Close(handle_);
        handle_ = h;
    }

private:
    Handle handle_;
};

struct TKernelHandleTraits {  // events, threads, mutexes, processes: NULL when absent
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { CloseHandle(h); }
};
struct TFileHandleTraits {  // CreateFile: INVALID_HANDLE_VALUE when absent
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { CloseHandle(h); }
};
struct TRegKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { RegCloseKey(h); }
};
struct TModuleTraits {
    using Handle = HMODULE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { FreeLibrary(h); }
};
struct TWindowTraits {
    using Handle = HWND;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { DestroyWindow(h); }
};
struct TGdiObjectTraits {
    using Handle = HGDIOBJ;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { DeleteObject(h); }
};
struct TMemoryDCTraits {  // CreateCompatibleDC
    using Handle = HDC;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { DeleteDC(h); }
};
// A window's DC from GetDC or GetWindowDC, given back to its window.
struct TWindowDCTraits {
    struct Handle {
        HWND Window;
        HDC DC;
        bool operator==(const Handle&) const = default;
    };
    static Handle Invalid() { return {nullptr, nullptr}; }
    static void Close(Handle h) { ReleaseDC(h.Window, h.DC); }
};
struct TFindHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { FindClose(h); }
};

using TKernelHandle = TOwnedHandle<TKernelHandleTraits>;
using TFileHandle = TOwnedHandle<TFileHandleTraits>;
using TRegKey = TOwnedHandle<TRegKeyTraits>;
using TModule = TOwnedHandle<TModuleTraits>;
using TWindowHandle = TOwnedHandle<TWindowTraits>;
using TGdiObject = TOwnedHandle<TGdiObjectTraits>;
using TFindHandle = TOwnedHandle<TFindHandleTraits>;
using TMemoryDCHandle = TOwnedHandle<TMemoryDCTraits>;
using TWindowDCHandle = TOwnedHandle<TWindowDCTraits>;

// The whole-window DC of `window`; empty when the system gives none.
inline TWindowDCHandle WindowDCOf(HWND window)
{
    const HDC dc = GetWindowDC(window);
    return dc ? TWindowDCHandle(TWindowDCTraits::Handle{window, dc}) : TWindowDCHandle();
}

// Not a handle, but held the same way: a painter leaves a DC's state as it found it on every way out.
class TSavedDC {
public:
    explicit TSavedDC(HDC dc) : dc_(dc), saved_(SaveDC(dc)) {}
    TSavedDC(const TSavedDC&) = delete;
    TSavedDC& operator=(const TSavedDC&) = delete;
    ~TSavedDC()
    {
        if (saved_) RestoreDC(dc_, saved_);
    }

private:
    HDC dc_;
    int saved_;
};

// An object selected into a DC for a scope; what the DC had before goes back on every way out.
class TSelected {
public:
    TSelected(HDC dc, HGDIOBJ object) : dc_(dc), old_(SelectObject(dc, object)) {}
    TSelected(const TSelected&) = delete;
    TSelected& operator=(const TSelected&) = delete;
    ~TSelected()
    {
        if (old_) SelectObject(dc_, old_);
    }

private:
    HDC dc_;
    HGDIOBJ old_;
};
