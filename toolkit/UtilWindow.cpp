#include "UtilWindow.h"

#include "Barrier.h"
#include "SysUtils.h"

namespace {

const char* const UtilWindowClass = "TToolkitUtilWindow";

void RegisterUtilClass()
{
    static const bool registered = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;  // replaced per window once its object is attached
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = UtilWindowClass;
        return RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    if (!registered) throw EOutOfResources("Cannot register the toolkit's window class");
}

// A slot of the system's thread-local storage: the C++ kind would make the C runtime take
// handles for the GUI thread the first time it is used.
DWORD CallCountSlot()
{
    static const DWORD slot = TlsAlloc();
    return slot;
}

}  // namespace

unsigned CrossThreadCalls()
{
    return static_cast<unsigned>(reinterpret_cast<UINT_PTR>(TlsGetValue(CallCountSlot())));
}

void NoteCrossThreadCall()
{
    if (!InSendMessage()) return;
    const DWORD error = GetLastError();  // a window procedure must not change it
    TlsSetValue(CallCountSlot(), reinterpret_cast<void*>(static_cast<UINT_PTR>(CrossThreadCalls() + 1)));
    SetLastError(error);
}

TUtilWindow::TUtilWindow(THandler handler) : handler_(std::move(handler))
{
    RegisterUtilClass();
    handle_ = CreateWindowExA(0, UtilWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr),
                              nullptr);
    if (!handle_) throw EOutOfResources("Cannot create a window: " + SysErrorMessage(GetLastError()));
    SetWindowLongPtrA(handle_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrA(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TUtilWindow::WindowProc));
}

TUtilWindow::~TUtilWindow()
{
    if (!handle_) return;
    SetWindowLongPtrA(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcA));
    SetWindowLongPtrA(handle_, GWLP_USERDATA, 0);
    DestroyWindow(handle_);
}

LRESULT CALLBACK TUtilWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<TUtilWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    NoteCrossThreadCall();
    return Guarded<LRESULT>(0, [&]() -> LRESULT {
        LRESULT result = 0;
        if (self && self->handler_ && self->handler_(message, wParam, lParam, result)) return result;
        return DefWindowProcA(window, message, wParam, lParam);
    });
}
