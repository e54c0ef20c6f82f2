// The shared layer of the toolbar library: a fan-out of window hooks to registered
// procedures, system settings and monitors, mouse-leave tracking, accelerators, sounds,
// print messages, the drag outline, vertical captions and small helpers.
#pragma once

#include "Controls.h"

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Hooks.
enum TDkHookProcCode : unsigned char {
    dkhpSendActivateApp,        // WM_ACTIVATEAPP sent to a window
    dkhpSendWindowPosChanged,   // WM_WINDOWPOSCHANGED sent to a window
    dkhpPreDestroy,             // a window about to be destroyed
    dkhpGetMessage,             // a message retrieved from the queue
};
using TDkHookProcCodes = unsigned char;  // bit 1 << TDkHookProcCode
constexpr TDkHookProcCodes DkHookCode(TDkHookProcCode code) { return static_cast<TDkHookProcCodes>(1u << code); }
using TDkHookProc = void (*)(TDkHookProcCode code, HWND window, WPARAM wParam, LPARAM lParam);

void RegisterHookProcedure(TDkHookProc proc, TDkHookProcCodes codes, bool onlyRegister);
void UnregisterHookProcedure(TDkHookProc proc);

// The Windows hooks behind the codes, for checks of the registry's state.
enum TDkHookKind { dkhkCallWndProc, dkhkCBT, dkhkGetMessage };
bool DkHookInstalled(TDkHookKind kind);
unsigned DkHookUseCount(TDkHookKind kind);
// The number of listed procedures (0 when the list is freed).
size_t DkHookProcedureCount();

// System settings and monitors, in one place so that tests can switch them without
// touching the system's own settings.
class TDkSystemChecks {
public:
    virtual ~TDkSystemChecks() = default;
    virtual bool IsWindowsXPOrLater();       // NT 5.1 or later
    virtual bool FlatMenusInUse();           // NT 5.1 or later and SPI_GETFLATMENU
    virtual bool KeyboardCuesAlwaysShown();  // before version 5 always
    virtual bool MultipleMonitors();
    virtual bool ApplicationActive();
    virtual bool MenuAnimation();            // SPI_GETMENUANIMATION
    virtual bool MenuFade();                 // SPI_GETMENUFADE
    virtual bool MenuDropAlignmentRight();   // SM_MENUDROPALIGNMENT
    // The nearest monitor's work area (or whole area) of a rectangle, point or window.
    virtual RECT MonitorRectOfRect(const RECT& r, bool workArea);
    virtual RECT MonitorRectOfPoint(POINT p, bool workArea);
    virtual RECT MonitorRectOfWindow(HWND window, bool workArea);
};
TDkSystemChecks& DkSystem();
// Puts other checks in place (nullptr: the system's own); returns the ones before.
TDkSystemChecks* SetDkSystem(TDkSystemChecks* checks);

// Mouse-leave tracking through TrackMouseEvent or comctl32's _TrackMouseEvent; a use is
// taken while a window wants it.
void AddTrackMouseEventUser();
void RemoveTrackMouseEventUser();
bool CallTrackMouseEvent(HWND window, DWORD flags);

// The character after the last single ampersand of a caption, 0 when there is none.
char FindAccelChar(const std::string& caption);
// The caption without its ampersands ("&&" stands for one).
std::string StripAccelChars(const std::string& caption);

// Sounds of the scheme ("MenuCommand", "MenuPopup").
bool NeedToPlaySound(const std::string& event);
// Plays by alias, asynchronously, no default sound, without stopping a playing sound.
using TDkSoundPlayer = void (*)(const char* alias);
TDkSoundPlayer SetDkSoundPlayer(TDkSoundPlayer player);  // nullptr restores the system's
void PlaySystemSound(const char* event);  // plays when NeedToPlaySound allows it

UINT GetInputLocaleCodePage();

// WM_PRINT and WM_PRINTCLIENT answered for a window.
using TDkNCPainter = std::function<void(HWND window, HDC dc)>;
void HandleWMPrint(HWND window, TMessage& message, const TDkNCPainter& ncPaint);
void HandleWMPrintClient(const std::function<void(HDC dc)>& paint, TMessage& message);
// Handles the pending WM_PAINT messages now (a WM_QUIT met is posted again).
void ProcessPaintMessages();
// Clips a window DC to a WM_NCPAINT update region in window coordinates.
void SelectNCUpdateRgn(HWND window, HDC dc, HRGN region);
// Removes pending messages first..last from the queue; a WM_QUIT met is posted again.
void RemoveMessages(UINT first, UINT last);

// The drag outline: frames drawn by XOR with a halftone brush; only the difference
// between the old and the new frame is drawn.
void DrawHalftoneInvertRect(HDC dc, const RECT* newRect, const RECT* oldRect, SIZE newSize, SIZE oldSize);

// Vertical captions.
HFONT CreateRotatedFont(HDC dc);
void DrawRotatedText(HDC dc, const std::string& text, const RECT& rect, UINT format);
// DrawText that honours DT_HIDEPREFIX itself (some systems ignore it).
int DkDrawText(HDC dc, const std::string& text, RECT& rect, UINT format);
int GetTextWidth(HDC dc, const std::string& text, bool prefix);
int GetTextHeight(HDC dc);

// The system's non-client metrics, asked in the size that systems before Vista take too
// (without the padded border width); false when the system gives none.
bool DkNonClientMetrics(NONCLIENTMETRICSA& metrics);
// Makes `font` the system's menu font; leaves it as it is when the system gives none.
void DkAssignMenuFont(TFont& font);

// Division rounded away from zero when not exact.
int DivRoundUp(int dividend, int divisor);

// Quick sort with the caller's compare and extra data (pivot at the middle).
template <class T>
void ListSortEx(std::vector<T*>& list, int (*compare)(T* a, T* b, void* extra), void* extra)
{
    if (list.size() < 2) return;
    std::function<void(int, int)> sort = [&](int l, int r) {
        while (l < r) {
            int i = l, j = r;
            T* pivot = list[(l + r) / 2];
            while (i <= j) {
                while (compare(list[i], pivot, extra) < 0) ++i;
                while (compare(list[j], pivot, extra) > 0) --j;
                if (i <= j) std::swap(list[i++], list[j--]);
            }
            if (l < j) sort(l, j);
            l = i;
        }
    };
    sort(0, static_cast<int>(list.size()) - 1);
}

bool ApplicationIsActive();
