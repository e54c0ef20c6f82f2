#include "DkCommon.h"

#include "Barrier.h"
#include "Handles.h"

#include <mmsystem.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

// Hooks

namespace {

struct THookEntry {
    TDkHookProc proc;
    unsigned count;             // registrations not yet undone
    TDkHookProcCodes codes;
    unsigned raised[3];         // per kind: registrations of this entry that raised its use count
};

struct THookKindState {
    int idHook;
    HOOKPROC proc;
    unsigned useCount;
    HHOOK hook;
};

std::unique_ptr<std::vector<THookEntry>> hookList;

LRESULT CALLBACK CallWndProcHook(int code, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK CBTHook(int code, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK GetMessageHook(int code, WPARAM wParam, LPARAM lParam);

THookKindState hookKinds[3] = {
    {WH_CALLWNDPROC, CallWndProcHook, 0, nullptr},
    {WH_CBT, CBTHook, 0, nullptr},
    {WH_GETMESSAGE, GetMessageHook, 0, nullptr},
};

constexpr TDkHookProcCodes KindCodes[3] = {
    DkHookCode(dkhpSendActivateApp) | DkHookCode(dkhpSendWindowPosChanged),
    DkHookCode(dkhpPreDestroy),
    DkHookCode(dkhpGetMessage),
};

bool KindNeeded(int kind, TDkHookProcCodes codes) { return (codes & KindCodes[kind]) != 0; }

void RaiseKind(int kind)
{
    THookKindState& k = hookKinds[kind];
    ++k.useCount;
    if (!k.hook) k.hook = SetWindowsHookExA(k.idHook, k.proc, nullptr, GetCurrentThreadId());
}

void DropKind(int kind)
{
    THookKindState& k = hookKinds[kind];
    if (k.useCount == 0) return;
    if (--k.useCount == 0 && k.hook) {
        UnhookWindowsHookEx(k.hook);
        k.hook = nullptr;
    }
}

THookEntry* FindEntry(TDkHookProc proc)
{
    if (!hookList) return nullptr;
    for (THookEntry& e : *hookList)
        if (e.proc == proc) return &e;
    return nullptr;
}

// Calls every procedure registered for the code; a procedure may register or unregister
// others (or itself) while it runs, so the list is walked over a copy and each one is
// checked to be still listed.
void CallHookProcs(TDkHookProcCode code, HWND window, WPARAM wParam, LPARAM lParam)
{
    if (!hookList) return;
    std::vector<TDkHookProc> procs;
    for (const THookEntry& e : *hookList)
        if (e.codes & DkHookCode(code)) procs.push_back(e.proc);
    for (TDkHookProc proc : procs) {
        if (!FindEntry(proc)) continue;
        try {
            proc(code, window, wParam, lParam);
        } catch (...) {
            // One failing procedure must not keep the others from their notification.
        }
    }
}

LRESULT CALLBACK CallWndProcHook(int code, WPARAM wParam, LPARAM lParam)
{
    Guarded([&] {
        if (code != HC_ACTION) return;
        const auto* cwp = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (cwp->message == WM_ACTIVATEAPP)
            CallHookProcs(dkhpSendActivateApp, cwp->hwnd, cwp->wParam, cwp->lParam);
        else if (cwp->message == WM_WINDOWPOSCHANGED)
            CallHookProcs(dkhpSendWindowPosChanged, cwp->hwnd, cwp->wParam, cwp->lParam);
    });
    return CallNextHookEx(hookKinds[dkhkCallWndProc].hook, code, wParam, lParam);
}

LRESULT CALLBACK CBTHook(int code, WPARAM wParam, LPARAM lParam)
{
    Guarded([&] {
        if (code == HCBT_DESTROYWND) CallHookProcs(dkhpPreDestroy, reinterpret_cast<HWND>(wParam), 0, 0);
    });
    return CallNextHookEx(hookKinds[dkhkCBT].hook, code, wParam, lParam);
}

LRESULT CALLBACK GetMessageHook(int code, WPARAM wParam, LPARAM lParam)
{
    Guarded([&] {
        if (code == HC_ACTION)
            CallHookProcs(dkhpGetMessage, reinterpret_cast<const MSG*>(lParam)->hwnd, wParam, lParam);
    });
    return CallNextHookEx(hookKinds[dkhkGetMessage].hook, code, wParam, lParam);
}

}  // namespace

void RegisterHookProcedure(TDkHookProc proc, TDkHookProcCodes codes, bool onlyRegister)
{
    if (!hookList) hookList = std::make_unique<std::vector<THookEntry>>();
    THookEntry* entry = FindEntry(proc);
    if (entry) {
        ++entry->count;
        entry->codes |= codes;
    } else {
        hookList->push_back(THookEntry{proc, 1, codes, {0, 0, 0}});
        entry = &hookList->back();
    }
    if (onlyRegister) return;
    for (int kind = 0; kind < 3; ++kind)
        if (KindNeeded(kind, codes)) {
            ++entry->raised[kind];
            RaiseKind(kind);
        }
}

void UnregisterHookProcedure(TDkHookProc proc)
{
    THookEntry* entry = FindEntry(proc);
    if (!entry) return;
    --entry->count;
    // The registrations left keep as many raised use counts as they can account for, so
    // that an entry registered without raising never drops counts it did not raise.
    for (int kind = 0; kind < 3; ++kind)
        if (entry->raised[kind] > entry->count) {
            --entry->raised[kind];
            DropKind(kind);
        }
    if (entry->count == 0) {
        hookList->erase(hookList->begin() + (entry - hookList->data()));
        if (hookList->empty()) hookList.reset();
    }
}

bool DkHookInstalled(TDkHookKind kind) { return hookKinds[kind].hook != nullptr; }
unsigned DkHookUseCount(TDkHookKind kind) { return hookKinds[kind].useCount; }
size_t DkHookProcedureCount() { return hookList ? hookList->size() : 0; }

// System checks and monitors

namespace {

// An entry point found by name, as the function type it has.
template <class F>
F EntryPoint(HMODULE module, const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

OSVERSIONINFOA WindowsVersion()
{
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    GetVersionExA(&info);
    return info;
}

bool SystemFlag(UINT action)
{
    BOOL value = FALSE;
    return SystemParametersInfoA(action, 0, &value, 0) && value;
}

RECT ScreenRect() { return RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}; }

RECT SystemArea(bool workArea)
{
    RECT r{};
    if (workArea && SystemParametersInfoA(SPI_GETWORKAREA, 0, &r, 0)) return r;
    return ScreenRect();
}

struct TMonitorApi {
    decltype(&MonitorFromRect) fromRect = nullptr;
    decltype(&MonitorFromPoint) fromPoint = nullptr;
    decltype(&MonitorFromWindow) fromWindow = nullptr;
    decltype(&GetMonitorInfoA) info = nullptr;
    bool Complete() const { return fromRect && fromPoint && fromWindow && info; }
};

const TMonitorApi& MonitorApi()
{
    static const TMonitorApi api = [] {
        TMonitorApi a;
        if (HMODULE user32 = GetModuleHandleA("user32.dll")) {
            a.fromRect = EntryPoint<decltype(a.fromRect)>(user32, "MonitorFromRect");
            a.fromPoint = EntryPoint<decltype(a.fromPoint)>(user32, "MonitorFromPoint");
            a.fromWindow = EntryPoint<decltype(a.fromWindow)>(user32, "MonitorFromWindow");
            a.info = EntryPoint<decltype(a.info)>(user32, "GetMonitorInfoA");
        }
        return a;
    }();
    return api;
}

bool MonitorArea(HMONITOR monitor, bool workArea, RECT& r)
{
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!monitor || !MonitorApi().info(monitor, &info)) return false;
    r = workArea ? info.rcWork : info.rcMonitor;
    return true;
}

// The area of the monitor `find` picks where the system has several and the calls to tell
// them apart; the desktop's otherwise.
template <class TFind>
RECT AreaOfMonitor(bool multipleMonitors, bool workArea, TFind find)
{
    RECT result;
    if (multipleMonitors && MonitorApi().Complete() && MonitorArea(find(MonitorApi()), workArea, result))
        return result;
    return SystemArea(workArea);
}

TDkSystemChecks systemChecks;
TDkSystemChecks* currentChecks = &systemChecks;

}  // namespace

bool TDkSystemChecks::IsWindowsXPOrLater()
{
    const OSVERSIONINFOA v = WindowsVersion();
    return v.dwPlatformId == VER_PLATFORM_WIN32_NT &&
           (v.dwMajorVersion > 5 || (v.dwMajorVersion == 5 && v.dwMinorVersion >= 1));
}

bool TDkSystemChecks::FlatMenusInUse() { return IsWindowsXPOrLater() && SystemFlag(SPI_GETFLATMENU); }

bool TDkSystemChecks::KeyboardCuesAlwaysShown()
{
    if (WindowsVersion().dwMajorVersion < 5) return true;
    return SystemFlag(SPI_GETKEYBOARDCUES);
}

bool TDkSystemChecks::MultipleMonitors() { return GetSystemMetrics(SM_CMONITORS) > 1; }
bool TDkSystemChecks::ApplicationActive() { return GetActiveWindow() != nullptr; }
bool TDkSystemChecks::MenuAnimation() { return SystemFlag(SPI_GETMENUANIMATION); }
bool TDkSystemChecks::MenuFade() { return SystemFlag(SPI_GETMENUFADE); }
bool TDkSystemChecks::MenuDropAlignmentRight() { return GetSystemMetrics(SM_MENUDROPALIGNMENT) != 0; }

RECT TDkSystemChecks::MonitorRectOfRect(const RECT& r, bool workArea)
{
    return AreaOfMonitor(MultipleMonitors(), workArea,
                         [&](const TMonitorApi& api) { return api.fromRect(&r, MONITOR_DEFAULTTONEAREST); });
}

RECT TDkSystemChecks::MonitorRectOfPoint(POINT p, bool workArea)
{
    return AreaOfMonitor(MultipleMonitors(), workArea,
                         [&](const TMonitorApi& api) { return api.fromPoint(p, MONITOR_DEFAULTTONEAREST); });
}

RECT TDkSystemChecks::MonitorRectOfWindow(HWND window, bool workArea)
{
    return AreaOfMonitor(MultipleMonitors(), workArea,
                         [&](const TMonitorApi& api) { return api.fromWindow(window, MONITOR_DEFAULTTONEAREST); });
}

TDkSystemChecks& DkSystem() { return *currentChecks; }

TDkSystemChecks* SetDkSystem(TDkSystemChecks* checks)
{
    TDkSystemChecks* before = currentChecks;
    currentChecks = checks ? checks : &systemChecks;
    return before;
}

bool ApplicationIsActive() { return DkSystem().ApplicationActive(); }

// Mouse-leave tracking

namespace {

using TTrackMouseEventProc = BOOL(WINAPI*)(LPTRACKMOUSEEVENT);

unsigned trackUsers = 0;
TTrackMouseEventProc trackProc = nullptr;
TModule comctl32;

TTrackMouseEventProc LookUpTrackMouseEvent()
{
    if (HMODULE user32 = GetModuleHandleA("user32.dll"))
        if (auto p = EntryPoint<TTrackMouseEventProc>(user32, "TrackMouseEvent")) return p;
    // Older systems have it only in comctl32; a missing DLL must not bring up a box.
    const UINT mode = SetErrorMode(SEM_FAILCRITICALERRORS);
    comctl32.Reset(LoadLibraryA("comctl32.dll"));
    SetErrorMode(mode);
    if (!comctl32) return nullptr;
    if (auto p = EntryPoint<TTrackMouseEventProc>(comctl32.Get(), "_TrackMouseEvent")) return p;
    comctl32.Reset();
    return nullptr;
}

}  // namespace

void AddTrackMouseEventUser()
{
    if (trackUsers++ == 0) trackProc = LookUpTrackMouseEvent();
}

void RemoveTrackMouseEventUser()
{
    if (trackUsers == 0) return;
    if (--trackUsers == 0) {
        trackProc = nullptr;
        comctl32.Reset();
    }
}

bool CallTrackMouseEvent(HWND window, DWORD flags)
{
    if (!trackProc) return false;
    TRACKMOUSEEVENT tme{};
    tme.cbSize = sizeof tme;
    tme.dwFlags = flags;
    tme.hwndTrack = window;
    tme.dwHoverTime = HOVER_DEFAULT;
    return trackProc(&tme) != FALSE;
}

// Accelerators

namespace {

bool LeadByte(char c) { return IsDBCSLeadByte(static_cast<BYTE>(c)) != FALSE; }

// The caption without its ampersands and the index in it of the accelerator (npos: none).
std::string StripPrefixes(const std::string& caption, size_t& accel)
{
    std::string out;
    out.reserve(caption.size());
    accel = std::string::npos;
    for (size_t i = 0; i < caption.size(); ++i) {
        const char c = caption[i];
        if (c == '&') {
            if (i + 1 >= caption.size()) break;
            if (caption[i + 1] == '&') {
                out += '&';
                ++i;
                continue;
            }
            accel = out.size();
            continue;
        }
        out += c;
        if (LeadByte(c) && i + 1 < caption.size()) out += caption[++i];
    }
    return out;
}

}  // namespace

char FindAccelChar(const std::string& caption)
{
    size_t accel;
    const std::string stripped = StripPrefixes(caption, accel);
    return accel == std::string::npos || accel >= stripped.size() ? '\0' : stripped[accel];
}

std::string StripAccelChars(const std::string& caption)
{
    size_t accel;
    return StripPrefixes(caption, accel);
}

// Sounds

namespace {

void SystemSoundPlayer(const char* alias)
{
    PlaySoundA(alias, nullptr, SND_ALIAS | SND_ASYNC | SND_NODEFAULT | SND_NOSTOP);
}

TDkSoundPlayer soundPlayer = SystemSoundPlayer;

}  // namespace

bool NeedToPlaySound(const std::string& event)
{
    const OSVERSIONINFOA v = WindowsVersion();
    if (v.dwPlatformId != VER_PLATFORM_WIN32_NT || v.dwMajorVersion < 5) return true;
    const std::string path = "AppEvents\\Schemes\\Apps\\.Default\\" + event + "\\.Current";
    HKEY raw = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS) return false;
    TRegKey key(raw);
    char buffer[8] = {};
    DWORD size = sizeof buffer;
    const LONG result = RegQueryValueExA(key.Get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    if (result == ERROR_MORE_DATA) return true;
    return result == ERROR_SUCCESS && size > 0 && buffer[0] != '\0';
}

TDkSoundPlayer SetDkSoundPlayer(TDkSoundPlayer player)
{
    TDkSoundPlayer before = soundPlayer;
    soundPlayer = player ? player : SystemSoundPlayer;
    return before;
}

void PlaySystemSound(const char* event)
{
    if (event && NeedToPlaySound(event)) soundPlayer(event);
}

UINT GetInputLocaleCodePage()
{
    const LCID locale = LOWORD(reinterpret_cast<UINT_PTR>(GetKeyboardLayout(0)));
    char buffer[16] = {};
    if (!GetLocaleInfoA(locale, LOCALE_IDEFAULTANSICODEPAGE, buffer, sizeof buffer)) return 0;
    const UINT codePage = static_cast<UINT>(std::strtoul(buffer, nullptr, 10));
    return codePage != 0 && IsValidCodePage(codePage) ? codePage : 0;
}

// Print messages and the message queue

namespace {

// A window's own visible flag: the one printed may itself be hidden (an image made
// before it shows), which IsWindowVisible would pass on to its children.
bool ShownStyle(HWND window) { return (GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) != 0; }

// Prints another window into the DC at its place relative to this window's top left.
void PrintWindowAt(HDC dc, const RECT& origin, HWND other, LPARAM flags)
{
    RECT r;
    GetWindowRect(other, &r);
    TSavedDC saved(dc);
    OffsetViewportOrgEx(dc, r.left - origin.left, r.top - origin.top, nullptr);
    SendMessageA(other, WM_PRINT, reinterpret_cast<WPARAM>(dc), flags);
}

}  // namespace

void HandleWMPrint(HWND window, TMessage& message, const TDkNCPainter& ncPaint)
{
    const HDC dc = reinterpret_cast<HDC>(message.WParam);
    const LPARAM flags = message.LParam;
    if ((flags & PRF_CHECKVISIBLE) && !IsWindowVisible(window)) {
        message.Result = 0;
        return;
    }
    RECT windowRect;
    GetWindowRect(window, &windowRect);
    if ((flags & PRF_NONCLIENT) && ncPaint) {
        TSavedDC saved(dc);
        ncPaint(window, dc);
    }
    if (flags & PRF_CLIENT) {
        TSavedDC saved(dc);
        POINT client{0, 0};
        ClientToScreen(window, &client);
        OffsetViewportOrgEx(dc, client.x - windowRect.left, client.y - windowRect.top, nullptr);
        RECT clientRect;
        GetClientRect(window, &clientRect);
        IntersectClipRect(dc, clientRect.left, clientRect.top, clientRect.right, clientRect.bottom);
        if (flags & PRF_ERASEBKGND) SendMessageA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        SendMessageA(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), flags);
    }
    if (flags & PRF_CHILDREN) {
        // Bottom of the z-order first, so that the upper children end up on top.
        for (HWND child = GetWindow(GetWindow(window, GW_CHILD), GW_HWNDLAST); child;
             child = GetWindow(child, GW_HWNDPREV))
            if (ShownStyle(child))
                PrintWindowAt(dc, windowRect, child, PRF_NONCLIENT | PRF_CLIENT | PRF_ERASEBKGND | PRF_CHILDREN);
    }
    if (flags & PRF_OWNED) {
        std::vector<HWND> owned;
        for (HWND w = GetWindow(GetDesktopWindow(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT))
            if (GetWindow(w, GW_OWNER) == window && ShownStyle(w)) owned.push_back(w);
        std::reverse(owned.begin(), owned.end());
        for (HWND w : owned) PrintWindowAt(dc, windowRect, w, flags);
    }
    message.Result = 1;
}

void HandleWMPrintClient(const std::function<void(HDC dc)>& paint, TMessage& message)
{
    const HDC dc = reinterpret_cast<HDC>(message.WParam);
    if (paint) {
        TSavedDC saved(dc);
        paint(dc);
    }
    message.Result = 0;
}

void ProcessPaintMessages()
{
    // A window that leaves its update region in place keeps producing WM_PAINT: each
    // window is painted once per call.
    std::vector<HWND> painted;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (std::find(painted.begin(), painted.end(), msg.hwnd) != painted.end()) break;
        painted.push_back(msg.hwnd);
        DispatchMessageA(&msg);
    }
}

void SelectNCUpdateRgn(HWND window, HDC dc, HRGN region)
{
    RECT r;
    GetWindowRect(window, &r);
    TGdiObject clip(CreateRectRgn(0, 0, 0, 0));
    if (!clip) return;
    const HRGN rgn = static_cast<HRGN>(clip.Get());
    const bool real = region != nullptr && region != reinterpret_cast<HRGN>(1);
    if (!real || CombineRgn(rgn, region, nullptr, RGN_COPY) == ERROR) SetRectRgn(rgn, r.left, r.top, r.right, r.bottom);
    OffsetRgn(rgn, -r.left, -r.top);
    SelectClipRgn(dc, rgn);
}

void RemoveMessages(UINT first, UINT last)
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, first, last, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
    }
}

// The drag outline

namespace {

// The frame of the given thickness inside a rectangle, in device coordinates.
HRGN FrameRegion(HDC dc, const RECT& rect, SIZE size)
{
    POINT pts[2] = {{rect.left, rect.top}, {rect.right, rect.bottom}};
    LPtoDP(dc, pts, 2);
    RECT outer{std::min(pts[0].x, pts[1].x), std::min(pts[0].y, pts[1].y), std::max(pts[0].x, pts[1].x),
               std::max(pts[0].y, pts[1].y)};
    HRGN frame = CreateRectRgnIndirect(&outer);
    RECT inner = outer;
    InflateRect(&inner, -size.cx, -size.cy);
    if (inner.right > inner.left && inner.bottom > inner.top) {
        TGdiObject hole(CreateRectRgnIndirect(&inner));
        CombineRgn(frame, frame, static_cast<HRGN>(hole.Get()), RGN_DIFF);
    }
    return frame;
}

}  // namespace

void DrawHalftoneInvertRect(HDC dc, const RECT* newRect, const RECT* oldRect, SIZE newSize, SIZE oldSize)
{
    TGdiObject region(CreateRectRgn(0, 0, 0, 0));
    const HRGN rgn = static_cast<HRGN>(region.Get());
    if (newRect) {
        TGdiObject frame(FrameRegion(dc, *newRect, newSize));
        CombineRgn(rgn, rgn, static_cast<HRGN>(frame.Get()), RGN_XOR);
    }
    if (oldRect) {
        TGdiObject frame(FrameRegion(dc, *oldRect, oldSize));
        CombineRgn(rgn, rgn, static_cast<HRGN>(frame.Get()), RGN_XOR);
    }
    RECT box;
    if (GetRgnBox(rgn, &box) == NULLREGION) return;

    static const WORD pattern[8] = {0x5555, 0xAAAA, 0x5555, 0xAAAA, 0x5555, 0xAAAA, 0x5555, 0xAAAA};
    TGdiObject bitmap(CreateBitmap(8, 8, 1, 1, pattern));
    TGdiObject brush(CreatePatternBrush(static_cast<HBITMAP>(bitmap.Get())));
    TSavedDC saved(dc);
    // Device coordinates from here on, so that the region and the blit agree.
    SetMapMode(dc, MM_TEXT);
    SetViewportOrgEx(dc, 0, 0, nullptr);
    SetWindowOrgEx(dc, 0, 0, nullptr);
    ExtSelectClipRgn(dc, rgn, RGN_AND);
    // Black and white for the pattern's bits: XOR with black keeps, with white inverts.
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkColor(dc, RGB(255, 255, 255));
    SelectObject(dc, brush.Get());
    PatBlt(dc, box.left, box.top, box.right - box.left, box.bottom - box.top, PATINVERT);
}

// Vertical captions and text

namespace {

int CALLBACK FaceFound(const LOGFONTA*, const TEXTMETRICA*, DWORD, LPARAM found)
{
    return Guarded(0, [&] {
        *reinterpret_cast<bool*>(found) = true;
        return 0;
    });
}

bool FaceExists(HDC dc, const char* face)
{
    LOGFONTA lf{};
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynA(lf.lfFaceName, face, LF_FACESIZE);
    bool found = false;
    EnumFontFamiliesExA(dc, &lf, FaceFound, reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

SIZE TextExtent(HDC dc, const std::string& text)
{
    SIZE size{0, 0};
    if (!text.empty()) GetTextExtentPoint32A(dc, text.data(), static_cast<int>(text.size()), &size);
    return size;
}

}  // namespace

HFONT CreateRotatedFont(HDC dc)
{
    LOGFONTA lf{};
    GetObjectA(GetCurrentObject(dc, OBJ_FONT), sizeof lf, &lf);
    lf.lfEscapement = 2700;
    lf.lfOrientation = 2700;
    lf.lfOutPrecision = OUT_TT_ONLY_PRECIS;
    // The bitmap faces cannot rotate.
    if (lstrcmpiA(lf.lfFaceName, "MS Sans Serif") == 0 || lstrcmpiA(lf.lfFaceName, "Microsoft Sans Serif") == 0)
        lstrcpynA(lf.lfFaceName, "Arial", LF_FACESIZE);
    const size_t length = strnlen(lf.lfFaceName, LF_FACESIZE);
    if (length > 0 && length < LF_FACESIZE - 1) {
        char vertical[LF_FACESIZE] = "@";
        lstrcpynA(vertical + 1, lf.lfFaceName, LF_FACESIZE - 1);
        if (FaceExists(dc, vertical)) lstrcpynA(lf.lfFaceName, vertical, LF_FACESIZE);
    }
    return CreateFontIndirectA(&lf);
}

void DrawRotatedText(HDC dc, const std::string& text, const RECT& rect, UINT format)
{
    size_t accel;
    const std::string stripped = StripPrefixes(text, accel);
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    const SIZE extent = TextExtent(dc, stripped);
    // The font runs downwards with the glyphs' tops to the right: the text's start point
    // is the top right corner of the box it covers.
    const int boxLeft = rect.left + (rect.right - rect.left - tm.tmHeight) / 2;
    const int boxTop = rect.top + (rect.bottom - rect.top - extent.cx) / 2;
    const int x = boxLeft + tm.tmHeight;
    const int y = boxTop;
    {
        TSavedDC saved(dc);
        SetTextAlign(dc, TA_LEFT | TA_TOP | TA_NOUPDATECP);
        ExtTextOutA(dc, x, y, ETO_CLIPPED, &rect, stripped.data(), static_cast<UINT>(stripped.size()), nullptr);
    }
    if ((format & 0x100000) || accel == std::string::npos || accel >= stripped.size()) return;
    const size_t charLength = LeadByte(stripped[accel]) && accel + 1 < stripped.size() ? 2 : 1;
    const int start = TextExtent(dc, stripped.substr(0, accel)).cx;
    const int width = TextExtent(dc, stripped.substr(accel, charLength)).cx;
    const int lineX = x - tm.tmAscent - 1;
    RECT line{lineX, y + start, lineX + 1, y + start + width};
    RECT visible;
    if (!IntersectRect(&visible, &line, &rect)) return;
    TGdiObject brush(CreateSolidBrush(GetTextColor(dc)));
    FillRect(dc, &visible, static_cast<HBRUSH>(brush.Get()));
}

int DkDrawText(HDC dc, const std::string& text, RECT& rect, UINT format)
{
    // DrawTextA would write into the caption's buffer.
    format &= ~static_cast<UINT>(DT_MODIFYSTRING);
    if ((format & DT_HIDEPREFIX) && !(format & DT_NOPREFIX)) {
        const std::string stripped = StripAccelChars(text);
        return DrawTextA(dc, stripped.c_str(), static_cast<int>(stripped.size()), &rect,
                         (format & ~static_cast<UINT>(DT_HIDEPREFIX)) | DT_NOPREFIX);
    }
    return DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &rect, format);
}

int GetTextWidth(HDC dc, const std::string& text, bool prefix)
{
    return TextExtent(dc, prefix ? StripAccelChars(text) : text).cx;
}

int GetTextHeight(HDC dc)
{
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    return tm.tmHeight;
}

bool DkNonClientMetrics(NONCLIENTMETRICSA& metrics)
{
    metrics = {};
    metrics.cbSize = offsetof(NONCLIENTMETRICSA, lfMessageFont) + sizeof(LOGFONTA);
    return SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0) != FALSE;
}

void DkAssignMenuFont(TFont& font)
{
    NONCLIENTMETRICSA metrics;
    if (!DkNonClientMetrics(metrics)) return;
    const LOGFONTA& lf = metrics.lfMenuFont;
    if (lf.lfFaceName[0]) font.SetName(lf.lfFaceName);
    if (lf.lfHeight != 0) {
        const HDC screen = GetDC(nullptr);
        const int ppi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
        if (screen) ReleaseDC(nullptr, screen);
        const int points = MulDiv(lf.lfHeight < 0 ? -lf.lfHeight : lf.lfHeight, 72, ppi);
        if (points > 0) font.SetSize(points);
    }
    TFontStyles style = 0;
    if (lf.lfWeight >= FW_BOLD) style |= fsBold;
    if (lf.lfItalic) style |= fsItalic;
    font.SetStyle(style);
}

int DivRoundUp(int dividend, int divisor)
{
    if (divisor == 0) return 0;
    const int quotient = dividend / divisor;
    if (dividend % divisor == 0) return quotient;
    return (dividend < 0) == (divisor < 0) ? quotient + 1 : quotient - 1;
}
