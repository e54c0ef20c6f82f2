// The common routines that need windows on the desktop: painting only happens for shown
// windows, and mouse-leave tracking needs a window the cursor can leave.
#include "DkCommon.h"

#include "Handles.h"
#include "ImageTestSupport.h"
#include "TestSupport.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

int paintsOfValidating = 0;
int paintsOfNeglecting = 0;
int mouseLeaves = 0;

constexpr COLORREF OwnerColour = RGB(0x20, 0x90, 0x20);
constexpr COLORREF OwnedColour = RGB(0xC0, 0x30, 0x10);

LRESULT CALLBACK TestWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    try {
        const LONG_PTR kind = GetWindowLongPtrA(window, GWLP_USERDATA);
        switch (msg) {
        case WM_PAINT:
            if (kind == 1) {
                // Never validates: the system keeps asking.
                ++paintsOfNeglecting;
                return 0;
            }
            ++paintsOfValidating;
            break;
        case WM_MOUSELEAVE:
            ++mouseLeaves;
            return 0;
        case WM_PRINT: {
            TMessage message{msg, wParam, lParam, 0};
            HandleWMPrint(window, message, nullptr);
            return message.Result;
        }
        case WM_PRINTCLIENT: {
            TMessage message{msg, wParam, lParam, 0};
            HandleWMPrintClient(
                [&](HDC dc) {
                    RECT r;
                    GetClientRect(window, &r);
                    TGdiObject brush(CreateSolidBrush(GetWindow(window, GW_OWNER) ? OwnedColour : OwnerColour));
                    FillRect(dc, &r, static_cast<HBRUSH>(brush.Get()));
                },
                message);
            return message.Result;
        }
        }
    } catch (...) {
        return 0;
    }
    return DefWindowProcA(window, msg, wParam, lParam);
}

const char* TestClass()
{
    static const char* name = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = TestWndProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.lpszClassName = "DkCommonDesktopTest";
        RegisterClassA(&wc);
        return wc.lpszClassName;
    }();
    return name;
}

// A window shown without taking the activation.
HWND ShownWindow(int x, int y, int w, int h, LONG_PTR kind = 0, HWND owner = nullptr)
{
    const HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, TestClass(), "", WS_POPUP, x, y, w, h, owner, nullptr,
                                        GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(window, GWLP_USERDATA, kind);
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    return window;
}

bool PaintPending()
{
    MSG msg;
    return PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_NOREMOVE) != FALSE;
}

TEST(DkPaintMessages, PendingPaintingHappensNow)
{
    TWindowHandle window(ShownWindow(200, 200, 80, 60));
    ASSERT_TRUE(window);
    ASSERT_TRUE(PumpUntil([] { return !PaintPending(); }));
    paintsOfValidating = 0;
    InvalidateRect(window.Get(), nullptr, TRUE);
    ASSERT_TRUE(PaintPending());
    ProcessPaintMessages();
    EXPECT_EQ(1, paintsOfValidating);
    EXPECT_FALSE(GetUpdateRect(window.Get(), nullptr, FALSE));
}

TEST(DkPaintMessages, WindowThatNeverValidatesDoesNotHoldTheCaller)
{
    TWindowHandle window(ShownWindow(200, 200, 80, 60, 1));
    ASSERT_TRUE(window);
    paintsOfNeglecting = 0;
    InvalidateRect(window.Get(), nullptr, TRUE);
    ASSERT_TRUE(PaintPending());
    ProcessPaintMessages();
    EXPECT_EQ(1, paintsOfNeglecting);
    ValidateRect(window.Get(), nullptr);
}

TEST(DkPrintOwned, OwnedWindowPrintedAtItsPlace)
{
    TWindowHandle owner(ShownWindow(300, 300, 100, 80));
    TWindowHandle owned(ShownWindow(330, 320, 30, 20, 0, owner.Get()));
    ASSERT_TRUE(owner && owned);
    TTestDib dib(100, 80);
    struct TCase {
        const char* name;
        LPARAM flags;
        COLORREF atOwned;
    };
    const TCase cases[] = {
        {"with owned windows", PRF_CHECKVISIBLE | PRF_CLIENT | PRF_OWNED, OwnedColour},
        {"without owned windows", PRF_CHECKVISIBLE | PRF_CLIENT, OwnerColour},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(1, SendMessageA(owner.Get(), WM_PRINT, reinterpret_cast<WPARAM>(dib.DC()), c.flags));
        EXPECT_EQ(OwnerColour, dib.Pixel(5, 5));
        EXPECT_EQ(c.atOwned, dib.Pixel(30 + 15, 20 + 10));
    }
}

TEST(DkTrackMouseEvent, LeavingIsReported)
{
    TWindowHandle window(ShownWindow(400, 400, 60, 40));
    ASSERT_TRUE(window);
    ASSERT_TRUE(SetCursorPos(430, 420));
    ASSERT_TRUE(PumpUntil([&] { return WindowFromPoint(POINT{430, 420}) == window.Get(); }));
    AddTrackMouseEventUser();
    mouseLeaves = 0;
    ASSERT_TRUE(CallTrackMouseEvent(window.Get(), TME_LEAVE));
    ASSERT_TRUE(SetCursorPos(100, 100));
    EXPECT_TRUE(PumpUntil([] { return mouseLeaves > 0; }, 10000));
    RemoveTrackMouseEventUser();
}

}  // namespace
