#include "DkPopup.h"

#include "Barrier.h"
#include "DkCommon.h"
#include "DkLayout.h"
#include "Handles.h"
#include "SysUtils.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstddef>
#include <memory>

namespace {

const TColor clMenu = clSystemColor | COLOR_MENU;
const int PopupBorder = 3;  // the non-client frame on every side
const UINT ShowFlags = SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW;  // 0x57
const UINT HideFlags = SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_HIDEWINDOW;  // 0x97
// Shown for the animation without being drawn: the animation draws it.
const UINT AnimatedShowFlags = SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE |
                               SWP_SHOWWINDOW | SWP_NOOWNERZORDER | SWP_ASYNCWINDOWPOS;  // 0x425F
const DWORD AnimationTime = 150;  // ms
const BYTE FirstAlpha = 32;
// The whole window, visible or not.
const LPARAM CaptureFlags = PRF_NONCLIENT | PRF_CLIENT | PRF_ERASEBKGND | PRF_CHILDREN;  // 30

// Popups with and without the system's drop shadow: a class style, so two classes.
const char* PopupClass(bool dropShadow)
{
    static const char* const names[2] = {"TDkPopupWindow", "TDkPopupWindowShadow"};
    static bool registered[2] = {false, false};
    const int i = dropShadow ? 1 : 0;
    if (!registered[i]) {
        WNDCLASSA wc = {};
        // Double-clicks reach the menu loop; the covered screen comes back from saved bits.
        wc.style = CS_DBLCLKS | CS_SAVEBITS | (dropShadow ? CS_DROPSHADOW : 0);
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
        wc.lpszClassName = names[i];
        if (!RegisterClassA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            throw EOutOfResources("Cannot register the popup window class");
        registered[i] = true;
    }
    return names[i];
}

// One font for every popup that no toolbar gives its own: the system's menu font.
TFont& SharedPopupFont()
{
    static TFont* const font = [] {
        auto* f = new TFont;
        DkAssignMenuFont(*f);
        return f;
    }();
    return *font;
}

bool IsEmpty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

bool Overlaps(int x, int y, int w, int h, const RECT& r)
{
    return x < r.right && r.left < x + w && y < r.bottom && r.top < y + h;
}

void DrawScrollArrow(HDC dc, const RECT& band, bool up)
{
    const int cx = (band.left + band.right) / 2, cy = (band.top + band.bottom) / 2;
    const POINT upward[3] = {{cx, cy - 1}, {cx - 3, cy + 1}, {cx + 3, cy + 1}};
    const POINT downward[3] = {{cx - 3, cy - 1}, {cx + 3, cy - 1}, {cx, cy + 1}};
    const COLORREF color = GetSysColor(COLOR_MENUTEXT);
    TGdiObject pen(CreatePen(PS_SOLID, 1, color));
    TGdiObject brush(CreateSolidBrush(color));
    if (!pen || !brush) return;
    TSelected selectedPen(dc, pen.Get());
    TSelected selectedBrush(dc, brush.Get());
    Polygon(dc, up ? upward : downward, 3);
}

// The toolbar whose font the popups opened from `view` use: the root of the chain when it
// is not itself a popup.
TWinControl* SourceToolbarOf(TDkView* view)
{
    if (!view) return nullptr;
    TDkView* root = view->RootView();
    return root && !root->IsPopup ? root->Window() : nullptr;
}

// Step 2 of opening: the monitor, the limits, the selection and the layout; the window
// takes the view's size.
SIZE PreparePopup(TDkPopupWindow* popup, const RECT& monitor, bool chevron, bool selectFirst)
{
    TDkView* view = popup->View();
    view->MonitorRect = monitor;
    if (chevron) view->WrapOffset = monitor.right - monitor.left - 2 * PopupBorder;
    else view->MaxHeight = monitor.bottom - monitor.top - 2 * PopupBorder;
    POINT total = {0, 0};
    view->LayOutViewers(true, view->Orientation, view->WrappedLines, total, view->BaseSize, view->ChevronSize,
                        view->AvailableLength, view->WrapOffset);
    // Only laid-out viewers show, and only those that show can be selected.
    if (selectFirst) view->Select(view->FirstSelectable(false), false);
    return {total.x + 2 * PopupBorder, total.y + 2 * PopupBorder};
}

bool menuPopupSoundPlayed = false;

// The first sound of the process is slow to start: that one waits until the popup shows.
void ShowPopup(TDkPopupWindow* popup)
{
    if (!NeedToPlaySound("MenuPopup")) {
        popup->Show();
        return;
    }
    if (!menuPopupSoundPlayed) {
        popup->Show();
        popup->Update();
        PlaySystemSound("MenuPopup");
        menuPopupSoundPlayed = true;
    } else {
        PlaySystemSound("MenuPopup");
        popup->Show();
    }
}


using TUpdateLayeredWindow = BOOL(WINAPI*)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF, BLENDFUNCTION*, DWORD);

TDkAnimationClock animationClock = {QueryPerformanceFrequency, QueryPerformanceCounter};

// Milliseconds since the thread began, from the performance counter when it counts at least
// a thousand times a second, else from the tick count (a slower counter would give zero
// counts per millisecond).
class TElapsed {
public:
    explicit TElapsed(const TDkAnimationClock& clock) : clock_(clock)
    {
        LARGE_INTEGER frequency = {}, count = {};
        if (clock_.Frequency(&frequency) && frequency.QuadPart >= 1000 && clock_.Counter(&count)) {
            frequency_ = frequency.QuadPart;
            start_ = count.QuadPart;
        } else {
            startTick_ = GetTickCount();
        }
    }
    LONGLONG Ms() const
    {
        if (!frequency_) return static_cast<DWORD>(GetTickCount() - startTick_);
        LARGE_INTEGER count = {};
        // A counter that stops answering ends the animation.
        if (!clock_.Counter(&count)) return LLONG_MAX;
        return (count.QuadPart - start_) * 1000 / frequency_;
    }

private:
    TDkAnimationClock clock_;
    LONGLONG frequency_ = 0, start_ = 0;
    DWORD startTick_ = 0;
};

// What the thread is given; fixed before it starts and until it is joined.
struct TAnimationRun {
    HWND Window = nullptr;
    int Total = 0;
    RECT StopArea = {0, 0, 0, 0};
    POINT Cursor = {0, 0};
    unsigned Sequence = 0;
    HANDLE StopEvent = nullptr;
    TDkAnimationClock Clock;
};

// The one animation of the process. The thread only reads its run, writes the level and the
// finished flag, and posts step messages: it never waits for the window's thread, so that
// thread may wait for it. All drawing happens on the window's thread.
class TPopupAnimation {
public:
    ~TPopupAnimation() { End(nullptr); }

    bool Start(TDkPopupWindow* window, HWND handle, bool blend, unsigned char direction);
    void Step(const TDkPopupWindow* window, unsigned sequence);
    void End(const TDkPopupWindow* window);
    bool Running(const TDkPopupWindow* window) const { return window_ && (!window || window == window_); }

private:
    static DWORD WINAPI ThreadProc(void* parameter);
    void Run();
    void ReleaseImage();

    // Shared with the thread.
    std::atomic<int> level_{0};
    std::atomic<bool> stopRequest_{false};
    std::atomic<bool> finished_{false};
    std::atomic<LONG> pending_{0};  // a step message waits in the queue
    std::atomic<unsigned> sequence_{0};
    TAnimationRun run_;

    // The window's thread alone.
    TUpdateLayeredWindow updateLayeredWindow_ = nullptr;
    bool lookedUp_ = false;
    TDkPopupWindow* window_ = nullptr;
    HWND handle_ = nullptr;
    bool blend_ = false;
    unsigned char direction_ = 0;
    SIZE size_ = {0, 0};
    TGdiObject bitmap_;
    TMemoryDCHandle memoryDC_;  // after the bitmap: it goes first
    TKernelHandle stopEvent_;
    TKernelHandle thread_;
};

bool TPopupAnimation::Start(TDkPopupWindow* window, HWND handle, bool blend, unsigned char direction)
{
    End(nullptr);
    if (!lookedUp_) {
        // Missing before Windows 2000: then the popups slide.
        if (const HMODULE user = GetModuleHandleA("user32.dll"))
            updateLayeredWindow_ =
                reinterpret_cast<TUpdateLayeredWindow>(reinterpret_cast<void*>(GetProcAddress(user, "UpdateLayeredWindow")));
        lookedUp_ = true;
    }
    level_ = 0;
    stopRequest_ = false;
    finished_ = false;
    pending_ = 0;
    blend_ = blend && updateLayeredWindow_;
    direction_ = direction;

    RECT bounds;
    if (!GetWindowRect(handle, &bounds)) return false;
    size_ = {bounds.right - bounds.left, bounds.bottom - bounds.top};
    if (size_.cx <= 0 || size_.cy <= 0) return false;
    run_ = TAnimationRun{};
    run_.Window = handle;
    run_.Total = AnimationTime;
    run_.Clock = animationClock;
    GetCursorPos(&run_.Cursor);
    GetClientRect(handle, &run_.StopArea);
    MapWindowPoints(handle, nullptr, reinterpret_cast<POINT*>(&run_.StopArea), 2);

    {
        const TWindowDCHandle dc = WindowDCOf(handle);
        if (!dc) return false;
        memoryDC_.Reset(CreateCompatibleDC(dc.Get().DC));
        bitmap_.Reset(CreateCompatibleBitmap(dc.Get().DC, size_.cx, size_.cy));
    }
    stopEvent_.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!memoryDC_ || !bitmap_ || !stopEvent_ || !SelectObject(memoryDC_.Get(), bitmap_.Get())) {
        ReleaseImage();
        stopEvent_.Reset();
        return false;
    }
    // The capture erases through the window, which ends no animation yet: none is running.
    SendMessageA(handle, WM_PRINT, reinterpret_cast<WPARAM>(memoryDC_.Get()), CaptureFlags);

    window_ = window;
    handle_ = handle;
    if (blend_) {
        SetWindowLongA(handle, GWL_EXSTYLE, GetWindowLongA(handle, GWL_EXSTYLE) | WS_EX_LAYERED);
        POINT at = {bounds.left, bounds.top}, origin = {0, 0};
        BLENDFUNCTION blendFunction = {AC_SRC_OVER, 0, FirstAlpha, 0};
        updateLayeredWindow_(handle, nullptr, &at, &size_, memoryDC_.Get(), &origin, 0, &blendFunction, ULW_ALPHA);
    } else {
        TGdiObject nothing(CreateRectRgn(0, 0, 0, 0));
        if (nothing && SetWindowRgn(handle, static_cast<HRGN>(nothing.Get()), FALSE)) nothing.Release();
    }
    SetWindowPos(handle, nullptr, 0, 0, 0, 0, AnimatedShowFlags);
    // What was still to paint is in the image already; a paint now would end the animation.
    ValidateRect(handle, nullptr);

    // The sequence is counted only for a thread that runs; its run is complete before it starts.
    run_.Sequence = sequence_ + 1;
    run_.StopEvent = stopEvent_.Get();
    DWORD id = 0;
    thread_.Reset(CreateThread(nullptr, 0, ThreadProc, this, 0, &id));
    if (!thread_) {
        End(window);
        return true;
    }
    sequence_ = run_.Sequence;
    return true;
}

DWORD WINAPI TPopupAnimation::ThreadProc(void* parameter)
{
    auto* animation = static_cast<TPopupAnimation*>(parameter);
    Guarded([&] { animation->Run(); });
    // Whatever happened, the window hears that the thread is done.
    animation->finished_ = true;
    PostMessageA(animation->run_.Window, DkAnimationStepMessage, 0, animation->run_.Sequence);
    return 0;
}

void TPopupAnimation::Run()
{
    const TAnimationRun& run = run_;
    const TElapsed elapsed(run.Clock);
    POINT last = run.Cursor;
    while (!stopRequest_) {
        const LONGLONG ms = elapsed.Ms();
        if (ms >= run.Total) break;
        const int progress = MulDiv(255, static_cast<int>(ms), run.Total);
        const int step = progress & ~15;
        if (progress < 0 || step > 254) break;
        POINT cursor;
        if (GetCursorPos(&cursor) && (cursor.x != last.x || cursor.y != last.y)) {
            // The user reached for the menu: it shows whole at once.
            if (PtInRect(&run.StopArea, cursor)) break;
            last = cursor;
        }
        if (step > level_) {
            level_ = step;
            if (pending_.exchange(1) == 0)
                PostMessageA(run.Window, DkAnimationStepMessage, 0, static_cast<LPARAM>(run.Sequence));
        } else {
            const int wait = std::max(1, MulDiv(level_ - progress + 16, run.Total, 255));
            WaitForSingleObject(run.StopEvent, static_cast<DWORD>(wait));
        }
    }
}

void TPopupAnimation::Step(const TDkPopupWindow* window, unsigned sequence)
{
    // Steps of an ended animation, or of one before, still in the queue.
    if (!window_ || window != window_ || sequence != sequence_) return;
    if (finished_) {
        End(window);
        return;
    }
    const int level = level_;
    if (blend_) {
        BLENDFUNCTION blendFunction = {AC_SRC_OVER, 0, static_cast<BYTE>(level), 0};
        updateLayeredWindow_(handle_, nullptr, nullptr, nullptr, nullptr, nullptr, 0, &blendFunction, ULW_ALPHA);
    } else {
        const POINT at = DkSlideOffset(direction_, size_, level);
        TGdiObject shown(CreateRectRgn(at.x, at.y, at.x + size_.cx, at.y + size_.cy));
        if (shown && SetWindowRgn(handle_, static_cast<HRGN>(shown.Get()), FALSE)) shown.Release();
        if (const TWindowDCHandle dc = WindowDCOf(handle_))
            BitBlt(dc.Get().DC, at.x, at.y, size_.cx, size_.cy, memoryDC_.Get(), 0, 0, SRCCOPY);
    }
    pending_ = 0;
}

void TPopupAnimation::End(const TDkPopupWindow* window)
{
    if (!Running(window)) return;
    if (thread_) {
        stopRequest_ = true;
        SetEvent(stopEvent_.Get());
        // It posts and never waits for this thread: the wait ends.
        WaitForSingleObject(thread_.Get(), INFINITE);
        thread_.Reset();
    }
    stopEvent_.Reset();
    const HWND handle = handle_;
    // Ended before anything it sends can come back here.
    window_ = nullptr;
    handle_ = nullptr;
    if (IsWindow(handle)) {
        if (blend_) SetWindowLongA(handle, GWL_EXSTYLE, GetWindowLongA(handle, GWL_EXSTYLE) & ~WS_EX_LAYERED);
        else SetWindowRgn(handle, nullptr, FALSE);
        if (const TWindowDCHandle dc = WindowDCOf(handle))
            BitBlt(dc.Get().DC, 0, 0, size_.cx, size_.cy, memoryDC_.Get(), 0, 0, SRCCOPY);
    }
    ReleaseImage();
    if (IsWindow(handle)) SendMessageA(handle, DkAnimationEndedMessage, 0, 0);
}

void TPopupAnimation::ReleaseImage()
{
    memoryDC_.Reset();
    bitmap_.Reset();
}

// The machinery lives while popup windows do; the last one to go ends what still runs.
unsigned animationUsers = 0;
TPopupAnimation* animation = nullptr;

void AddAnimationUser()
{
    if (animationUsers++ == 0) animation = new TPopupAnimation;
}

void RemoveAnimationUser()
{
    if (animationUsers == 0 || --animationUsers > 0) return;
    delete animation;  // ends a running animation
    animation = nullptr;
}

}  // namespace

bool DkPopupAnimating(const TDkPopupWindow* window) { return animation && animation->Running(window); }

void DkEndPopupAnimation(const TDkPopupWindow* window)
{
    if (animation) animation->End(window);
}

POINT DkSlideOffset(unsigned char direction, SIZE size, int level)
{
    POINT at = {0, 0};
    if (direction & 4) at.y = MulDiv(size.cy, level, 255) - size.cy;
    else if (direction & 8) at.y = size.cy - MulDiv(size.cy, level, 255);
    if (direction & 2) at.x = MulDiv(size.cx, level, 255) - size.cx;
    else if (direction & 1) at.x = size.cx - MulDiv(size.cx, level, 255);
    return at;
}

TDkAnimationClock SetDkAnimationClock(const TDkAnimationClock& clock)
{
    const TDkAnimationClock before = animationClock;
    animationClock.Frequency = clock.Frequency ? clock.Frequency : QueryPerformanceFrequency;
    animationClock.Counter = clock.Counter ? clock.Counter : QueryPerformanceCounter;
    return before;
}

TDkPopupWindow::TDkPopupWindow(TComponent* owner, TDkView* parentView, TDkCustomItem* item,
                               TDkViewOrientation orientation, TWinControl* sourceToolbar)
    : TCustomControl(owner)
{
    AddAnimationUser();
    visible_ = false;
    SetBounds(0, 0, 240, 320);
    SetShowHint(true);
    const bool chevron = parentView && dynamic_cast<TDkChevronItem*>(item) != nullptr;
    SetColor(chevron ? clBtnFace : clMenu);
    Font().Assign(sourceToolbar ? &sourceToolbar->Font() : &SharedPopupFont());
    auto view = std::make_unique<TDkPopupView>(nullptr, parentView, this, item, nullptr, chevron,
                                               parentView && parentView->Customizing, false);
    view->IsPopup = true;
    view->Orientation = orientation;
    if (chevron) {
        // The hidden buttons of the toolbar, drawn as its buttons are.
        view->ChevronParentView = parentView;
        view->Style |= parentView->Style & dkvsShowHints;
        if (TWinControl* toolbar = parentView->Window()) SetShowHint(toolbar->ShowHint());
    }
    view_ = view.release();
}

TDkPopupWindow::~TDkPopupWindow()
{
    SetDestroying();
    DkEndPopupAnimation(this);
    // The view goes while the window exists: whatever it still does to the window finds it.
    if (HandleAllocated()) view_->StopAllTimers();
    FreeAndNil(view_);
    DestroyHandle();
    RemoveAnimationUser();
}

void TDkPopupWindow::CreateParams(TCreateParams& params)
{
    TCustomControl::CreateParams(params);
    params.ClassName = PopupClass(DkSystem().IsWindowsXPOrLater());
    params.Style = (params.Style & ~(WS_CHILD | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) | WS_POPUP;
    params.ExStyle |= WS_EX_TOPMOST | WS_EX_TOOLWINDOW;
    TCustomForm* main = Application->MainForm;
    params.Parent = main && main->HandleAllocated() ? main->Handle() : GetDesktopWindow();
}

void TDkPopupWindow::CreateWnd()
{
    TCustomControl::CreateWnd();
    // The frame was measured while the window was made, before its messages came here.
    SetWindowPos(handle_, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool TDkPopupWindow::AnimationWanted() const
{
    if (IsWindowVisible(handle_) || !view_ || view_->Selected()) return false;
    for (TDkView* v = view_->ParentView(); v; v = v->ParentView())
        if (v->State & dkvsNoAnimation) return false;
    return DkSystem().MenuAnimation();
}

void TDkPopupWindow::SetVisible(bool visible)
{
    // The window is made hidden first: a window made visible would be activated.
    if (visible) Handle();
    const bool animate = visible && HandleAllocated() && AnimationWanted();
    TControl::SetVisible(visible);
    if (!HandleAllocated()) return;
    if (animate) {
        const bool fade = DkSystem().MenuFade();
        if ((fade || AnimationDirection) && animation->Start(this, handle_, fade, AnimationDirection)) return;
    }
    if (!visible) DkEndPopupAnimation(this);
    SetWindowPos(handle_, nullptr, 0, 0, 0, 0, visible ? ShowFlags : HideFlags);
}

bool TDkPopupWindow::GetHintInfo(RECT& rect, std::string& hint) const
{
    TDkItemViewer* selected = view_ ? view_->Selected() : nullptr;
    if (!selected) {
        rect = {0, 0, 0, 0};
        hint.clear();
        return false;
    }
    rect = selected->BoundsRect;
    hint = selected->Item()->GetHintText();
    return true;
}

void TDkPopupWindow::PaintNonClient(HDC dc)
{
    RECT r;
    GetWindowRect(handle_, &r);
    OffsetRect(&r, -r.left, -r.top);
    if (DkSystem().FlatMenusInUse()) {
        FrameRect(dc, &r, GetSysColorBrush(COLOR_BTNSHADOW));
        for (int i = 0; i < 2; ++i) {
            InflateRect(&r, -1, -1);
            FrameRect(dc, &r, brush_.Handle());
        }
    } else {
        DrawEdge(dc, &r, EDGE_RAISED, BF_RECT | BF_ADJUST);
        FrameRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
    }
}

void TDkPopupWindow::Paint()
{
    if (!view_) return;
    const HDC dc = Canvas().Handle();
    view_->DrawSubitems(dc);
    RECT client;
    GetClientRect(handle_, &client);
    if (view_->ShowUpArrow)
        DrawScrollArrow(dc, {client.left, client.top, client.right, client.top + DkScrollArrowHeight}, true);
    if (view_->ShowDownArrow)
        DrawScrollArrow(dc, {client.left, client.bottom - DkScrollArrowHeight, client.right, client.bottom}, false);
}

void TDkPopupWindow::WndProc(TMessage& m)
{
    switch (m.Msg) {
    case WM_NCCALCSIZE: {
        // Both forms of the message start with the proposed window rectangle.
        auto* r = reinterpret_cast<RECT*>(m.LParam);
        InflateRect(r, -PopupBorder, -PopupBorder);
        if (r->right < r->left) r->right = r->left;
        if (r->bottom < r->top) r->bottom = r->top;
        m.Result = 0;
        return;
    }
    case WM_NCPAINT: {
        const TWindowDCHandle dc = WindowDCOf(handle_);
        if (dc) {
            SelectNCUpdateRgn(handle_, dc.Get().DC, reinterpret_cast<HRGN>(m.WParam));
            PaintNonClient(dc.Get().DC);
        }
        m.Result = 0;
        return;
    }
    case WM_PRINT:
        HandleWMPrint(handle_, m, [this](HWND, HDC dc) { PaintNonClient(dc); });
        return;
    case WM_PRINTCLIENT:
        HandleWMPrintClient([this](HDC dc) { PaintOn(dc); }, m);
        return;
    case WM_TIMER:
        if (m.WParam >= DkViewTimerBase && m.WParam <= DkViewTimerBase + dkvtScrollDown) {
            if (view_) view_->TimerFired(static_cast<TDkViewTimer>(m.WParam - DkViewTimerBase));
            m.Result = 0;
            return;
        }
        break;
    case WM_MOUSEACTIVATE:
        m.Result = MA_NOACTIVATE;
        return;
    case DkAnimationStepMessage:
        if (animation) animation->Step(this, static_cast<unsigned>(m.LParam));
        m.Result = 0;
        return;
    case WM_ERASEBKGND:
    case WM_PAINT:
        if (DkPopupAnimating(this)) {
            // Painted while animating: the whole image shows first. What this paint was
            // given to cover was measured with the animation's region, so the whole
            // window is painted again, erased.
            DkEndPopupAnimation(this);
            InvalidateRect(handle_, nullptr, TRUE);
        }
        break;
    case WM_DESTROY:
        DkEndPopupAnimation(this);
        if (view_) view_->StopAllTimers();
        break;
    case WM_NCDESTROY:
        // Destroyed from outside, with its owner: the object lives on, hidden and without a
        // window, and makes a new one when it is shown again.
        TCustomControl::WndProc(m);
        handle_ = nullptr;
        visible_ = false;
        return;
    }
    TCustomControl::WndProc(m);
}

POINT DkPlacePopup(const TDkPopupPlacementIn& in, unsigned char& direction, bool& leftward)
{
    const RECT& p = in.Parent;
    const RECT& m = in.Monitor;
    const int w = in.Size.cx, h = in.Size.cy;
    const bool atPoint = in.Kind == dkppAtPoint, beside = in.Kind == dkppBesideItem;
    const bool vertical = in.Kind == dkppVerticalToolbar || in.Kind == dkppVerticalChevron;
    leftward = false;

    int x = 0, y = 0;
    switch (in.Kind) {
    case dkppAtPoint:
        x = p.left - (in.Alignment == dkpaRight ? w : in.Alignment == dkpaCenter ? w / 2 : 0);
        y = p.top;
        break;
    case dkppBesideItem:
        x = p.right - 3;
        y = p.top - 3;
        break;
    case dkppVerticalToolbar:
    case dkppVerticalChevron:
        x = p.left - w;
        y = p.top;
        break;
    case dkppHorizontalChevron:
        x = p.right - w;
        y = p.bottom;
        break;
    case dkppHorizontalToolbar:
        x = in.DropAlignmentRight ? p.right - w : p.left;
        y = p.bottom;
        break;
    }

    // A popup beside a vertical toolbar does not flip above its item, but it is kept on the
    // monitor like any other: its lower items would be out of reach.
    if (in.Kind != dkppVerticalToolbar && y + h > m.bottom) {
        const int above = (beside ? p.bottom + 3 : p.top) - h;
        if (above >= m.top) y = above;
    }
    if (y + h > m.bottom) y = m.bottom - h;
    if (y < m.top) y = m.top;

    if (beside) {
        if (in.ParentLeftward || x + w > m.right) {
            x = p.left + 3 - w;
            leftward = true;
            if (x < m.left) {
                x = p.right - 3;
                leftward = false;
                // Too wide for either side: it ends at the monitor's edge over its item.
                if (x + w > m.right) x = m.right - w;
            }
        }
        if (x < m.left) x = m.left;
    } else {
        if (atPoint && in.Alignment == dkpaRight && x < m.left) x += w;
        if (x + w > m.right) x = atPoint && in.Alignment == dkpaLeft ? p.left - w : m.right - w;
        if (x < m.left) x = m.left;
        if (!atPoint && Overlaps(x, y, w, h, p)) {
            if (vertical) {
                if (p.right + w <= m.right) x = p.right;
            } else if (p.top - h >= m.top) {
                y = p.top - h;
            }
        }
    }

    if (beside) {
        direction = 2 * x + w < p.left + p.right ? 1 : 2;
    } else {
        direction = 0;
        if (y >= p.bottom) direction |= 4;
        else if (y + h <= p.top) direction |= 8;
        if (x >= p.right) direction |= 2;
        else if (x + w <= p.left) direction |= 1;
    }
    return {x, y};
}

TDkPopupWindow* DkOpenPopup(TDkView* parentView, TDkItemViewer* viewer, bool selectFirst, bool besideItem)
{
    TDkCustomItem* item = viewer->Item();
    const bool chevron = dynamic_cast<TDkChevronItem*>(item) != nullptr;
    auto popup = std::make_unique<TDkPopupWindow>(nullptr, parentView, item, dkvoHorizontal,
                                                  SourceToolbarOf(parentView));
    TDkPopupPlacementIn in;
    in.Parent = viewer->ScreenBounds();
    const bool verticalParent = parentView->Orientation == dkvoVertical;
    if (chevron) in.Kind = verticalParent ? dkppVerticalChevron : dkppHorizontalChevron;
    else if (besideItem) in.Kind = dkppBesideItem;
    else in.Kind = verticalParent ? dkppVerticalToolbar : dkppHorizontalToolbar;
    in.Monitor = IsEmpty(parentView->MonitorRect) ? DkSystem().MonitorRectOfRect(in.Parent, true)
                                                  : parentView->MonitorRect;
    in.DropAlignmentRight = DkSystem().MenuDropAlignmentRight();
    in.ParentLeftward = parentView->OpenedLeftward;
    in.Size = PreparePopup(popup.get(), in.Monitor, chevron, selectFirst);

    bool leftward = false;
    const POINT at = DkPlacePopup(in, popup->AnimationDirection, leftward);
    popup->View()->OpenedLeftward = leftward;
    popup->SetBounds(at.x, at.y, in.Size.cx, in.Size.cy);
    ShowPopup(popup.get());
    return popup.release();
}

TDkPopupWindow* DkPopupAtPoint(TDkCustomItem* item, POINT point, TDkPopupAlignment alignment, bool selectFirst)
{
    auto popup = std::make_unique<TDkPopupWindow>(nullptr, nullptr, item, dkvoHorizontal, nullptr);
    TDkPopupPlacementIn in;
    in.Kind = dkppAtPoint;
    in.Parent = {point.x, point.y, point.x, point.y};
    in.Alignment = alignment;
    in.Monitor = DkSystem().MonitorRectOfPoint(point, true);
    in.Size = PreparePopup(popup.get(), in.Monitor, false, selectFirst);

    bool leftward = false;
    const POINT at = DkPlacePopup(in, popup->AnimationDirection, leftward);
    popup->SetBounds(at.x, at.y, in.Size.cx, in.Size.cy);
    ShowPopup(popup.get());
    return popup.release();
}
