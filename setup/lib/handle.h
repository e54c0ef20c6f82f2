// setup's one holder for Windows handles: a traits struct per kind says what is invalid and
// how to close it. Closing leaves the thread's last error as it was, so a holder going out
// of scope after a failed call never hides that call's error.
#pragma once

#include <windows.h>

#include <utility>

namespace qv {

template <class Traits>
class handle {
public:
    using type = typename Traits::type;

    handle() noexcept : h_(Traits::invalid()) {}
    explicit handle(type h) noexcept : h_(h) {}
    handle(handle&& other) noexcept : h_(other.release()) {}
    handle& operator=(handle&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    handle(const handle&) = delete;
    handle& operator=(const handle&) = delete;
    ~handle() { reset(); }

    type get() const noexcept { return h_; }
    // For the holders of interfaces.
    type operator->() const noexcept { return h_; }
    bool valid() const noexcept { return h_ != Traits::invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    type release() noexcept { return std::exchange(h_, Traits::invalid()); }
    void reset(type h = Traits::invalid()) noexcept
    {
        if (h_ != Traits::invalid() && h_ != h) {
            const DWORD kept = GetLastError();
            Traits::close(h_);
            SetLastError(kept);
        }
        h_ = h;
    }
    // For an out-parameter: closes what is held and gives the place to write the new one.
    type* put() noexcept
    {
        reset();
        return &h_;
    }

private:
    type h_;
};

// Events, mutexes, processes, threads, mappings: null when there is none.
struct kernel_handle_traits {
    using type = HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { CloseHandle(h); }
};
// Files: CreateFileW fails with INVALID_HANDLE_VALUE.
struct file_handle_traits {
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type h) noexcept { CloseHandle(h); }
};
struct find_handle_traits {
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type h) noexcept { FindClose(h); }
};
struct registry_key_traits {
    using type = HKEY;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { RegCloseKey(h); }
};
struct module_traits {
    using type = HMODULE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { FreeLibrary(h); }
};
struct local_memory_traits {
    using type = HLOCAL;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { LocalFree(h); }
};
// Views of a mapping: MapViewOfFile answers null when it fails.
struct mapped_view_traits {
    using type = void*;
    static type invalid() noexcept { return nullptr; }
    static void close(type view) noexcept { UnmapViewOfFile(view); }
};

// SIDs made by AllocateAndInitializeSid.
struct allocated_sid_traits {
    using type = PSID;
    static type invalid() noexcept { return nullptr; }
    static void close(type sid) noexcept { FreeSid(sid); }
};

// GDI objects (bitmaps, palettes, brushes, fonts).
struct gdi_object_traits {
    using type = HGDIOBJ;
    static type invalid() noexcept { return nullptr; }
    static void close(type object) noexcept { DeleteObject(object); }
};

// Device contexts of our own making (CreateCompatibleDC).
struct memory_dc_traits {
    using type = HDC;
    static type invalid() noexcept { return nullptr; }
    static void close(type dc) noexcept { DeleteDC(dc); }
};

// Windows of our own making, destroyed with their holder.
struct window_traits {
    using type = HWND;
    static type invalid() noexcept { return nullptr; }
    static void close(type window) noexcept { DestroyWindow(window); }
};

// FindFirstChangeNotificationW.
struct change_notification_traits {
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type h) noexcept { FindCloseChangeNotification(h); }
};

// COM interfaces: one reference, released.
template <class T>
struct com_release_traits {
    using type = T*;
    static type invalid() noexcept { return nullptr; }
    static void close(type p) noexcept { p->Release(); }
};

using kernel_handle = handle<kernel_handle_traits>;
using file_handle = handle<file_handle_traits>;
using find_handle = handle<find_handle_traits>;
using registry_key = handle<registry_key_traits>;
using module_handle = handle<module_traits>;
using local_memory = handle<local_memory_traits>;
using mapped_view = handle<mapped_view_traits>;
using allocated_sid = handle<allocated_sid_traits>;
using gdi_object = handle<gdi_object_traits>;
using memory_dc = handle<memory_dc_traits>;
using window_handle = handle<window_traits>;
using change_notification = handle<change_notification_traits>;
template <class T>
using com_ptr = handle<com_release_traits<T>>;

}  // namespace qv
