// The modal loop of menus and toolbars: it holds the mouse, tracks the cursor over the open
// menu levels, runs the view timers and hands keys and clicks to the viewers.
#include "DkView.h"

#include "Application.h"
#include "Barrier.h"
#include "DkCommon.h"
#include "DkLayout.h"
#include "DkPopup.h"
#include "Forms.h"
#include "Handles.h"

#include <commctrl.h>
#include <windowsx.h>

#include <optional>

namespace {

// The caret's blink timer, which the loop has no use for.
const UINT WM_SYSTIMER = 0x0118;

// Process-wide: nested loops share one capture and one remembered cursor position.
int captureCount = 0;
POINT rememberedCursor = {0, 0};
bool cursorValid = false;

std::string applicationHint;

bool IsButtonDown(UINT message)
{
    switch (message) {
    case WM_LBUTTONDOWN: case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN: case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN: case WM_MBUTTONDBLCLK:
    case WM_XBUTTONDOWN: case WM_XBUTTONDBLCLK:
    case WM_NCLBUTTONDOWN: case WM_NCLBUTTONDBLCLK:
    case WM_NCRBUTTONDOWN: case WM_NCRBUTTONDBLCLK:
    case WM_NCMBUTTONDOWN: case WM_NCMBUTTONDBLCLK:
    case WM_NCXBUTTONDOWN: case WM_NCXBUTTONDBLCLK:
        return true;
    default:
        return false;
    }
}

bool IsLeftDown(UINT message)
{
    return message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK || message == WM_NCLBUTTONDOWN ||
           message == WM_NCLBUTTONDBLCLK;
}

bool IsRightDown(UINT message)
{
    return message == WM_RBUTTONDOWN || message == WM_RBUTTONDBLCLK || message == WM_NCRBUTTONDOWN ||
           message == WM_NCRBUTTONDBLCLK;
}

// The virtual key behind VK_PROCESSKEY, from the input method (imm32 is loaded on demand).
WORD InputMethodKey(HWND window)
{
    using TImmGetVirtualKey = UINT(WINAPI*)(HWND);
    static TModule imm(LoadLibraryA("imm32.dll"));
    static const FARPROC found = imm ? GetProcAddress(imm.Get(), "ImmGetVirtualKey") : nullptr;
    static const auto getVirtualKey = reinterpret_cast<TImmGetVirtualKey>(reinterpret_cast<void*>(found));
    return getVirtualKey ? static_cast<WORD>(getVirtualKey(window)) : static_cast<WORD>(VK_PROCESSKEY);
}

BOOL CALLBACK PopToolTip(HWND window, LPARAM)
{
    return Guarded<BOOL>(TRUE, [&] {
        char name[32] = "";
        GetClassNameA(window, name, sizeof name);
        if (lstrcmpiA(name, TOOLTIPS_CLASSA) == 0 && IsWindowVisible(window)) SendMessageA(window, TTM_POP, 0, 0);
        return TRUE;
    });
}

POINT ToClient(TDkView* view, POINT screen)
{
    if (TWinControl* window = view->Window(); window && window->HandleAllocated())
        ScreenToClient(window->Handle(), &screen);
    return screen;
}

POINT ToViewer(TDkItemViewer* viewer, POINT screen)
{
    const POINT p = ToClient(viewer->View(), screen);
    return {p.x - viewer->BoundsRect.left, p.y - viewer->BoundsRect.top};
}

}  // namespace

TDkHintEvent DkOnApplicationHint;

const std::string& DkApplicationHint()
{
    return applicationHint;
}

void DkSetApplicationHint(const std::string& hint)
{
    if (hint == applicationHint) return;
    applicationHint = hint;
    if (DkOnApplicationHint) {
        const TDkHintEvent handler = DkOnApplicationHint;
        handler(applicationHint);
    }
}

void DkCancelHint()
{
    EnumThreadWindows(GetCurrentThreadId(), PopToolTip, 0);
}

// --- cursor tracking -------------------------------------------------------------------

std::vector<TDkView*> TDkView::OpenChain()
{
    std::vector<TDkView*> chain;
    for (TDkView* v = this; v; v = v->openView_) chain.push_back(v);
    return chain;
}

TDkView* TDkView::ViewOfWindow(HWND window)
{
    if (!window) return nullptr;
    for (TDkView* v : OpenChain())
        if (v->window_ && v->window_->HandleAllocated() && v->window_->Handle() == window) return v;
    return nullptr;
}

TDkView* TDkView::DeepestView()
{
    TDkView* v = this;
    while (v->openView_) v = v->openView_;
    return v;
}

void TDkView::FindHovered(POINT screen, TDkView*& view, TDkItemViewer*& viewer)
{
    view = ViewOfWindow(WindowFromPoint(screen));
    viewer = view ? view->ViewerAtPoint(ToClient(view, screen)) : nullptr;
}

void TDkView::TrackView(POINT screen, bool hovered)
{
    const POINT p = ToClient(this, screen);
    TDkItemViewer* at = nullptr;
    if (hovered) {
        at = ViewerAtPoint(p);
        const TDkItemStyle style = at ? at->Item()->ItemStyle() : 0;
        if (at && (!(style & dkisSelectable) || (style & dkisSeparator))) at = nullptr;
    }
    // Off its items, a menu level keeps the item whose sub-menu is open.
    if (!at) at = openViewer_;

    if (at != selected_) {
        const bool subMenuOpen = openViewer_ != nullptr;
        Select(at, false);
        if (at && at == openViewer_) {
            // Back on the item whose menu is open: nothing is to open or close.
            StopTimer(dkvtOpen);
            StopTimer(dkvtClose);
        } else if ((State & dkvsOpen) && (subMenuOpen || (at && at->HasSubmenu()))) {
            if (IsToolbar) {
                if ((State & dkvsKeyboardMode) || (parentView_ && !capture_)) {
                    // Going from one menu to the next shows it at once.
                    const unsigned char before = State;
                    if (subMenuOpen) State |= dkvsNoAnimation;
                    CloseChildPopups();
                    if (at && at->HasSubmenu()) OpenChildPopup(false);
                    State = static_cast<unsigned char>((State & ~dkvsNoAnimation) | (before & dkvsNoAnimation));
                }
            } else {
                const unsigned delay = static_cast<unsigned>(GetMenuShowDelay());
                if (!(Timers & (1u << dkvtOpen))) StartTimer(dkvtClose, delay);
                StartTimer(dkvtOpen, delay);
            }
        }
    }
    UpdateMouseOverSelected(screen);

    bool up = false, down = false;
    if (hovered && MaxHeight > 0) {
        up = ShowUpArrow && p.y < DkScrollArrowHeight;
        down = !up && ShowDownArrow && p.y >= MaxHeight - DkScrollArrowHeight;
    }
    if (up && !(Timers & (1u << dkvtScrollUp))) StartTimer(dkvtScrollUp, 100);
    if (!up) StopTimer(dkvtScrollUp);
    if (down && !(Timers & (1u << dkvtScrollDown))) StartTimer(dkvtScrollDown, 100);
    if (!down) StopTimer(dkvtScrollDown);
}

void TDkView::UpdateCursorPos(POINT screen)
{
    const std::vector<TDkView*> chain = OpenChain();
    for (TDkView* v : chain)
        if (v->capture_) {
            v->UpdateMouseOverSelected(screen);
            return;
        }
    TDkView* hovered = ViewOfWindow(WindowFromPoint(screen));
    if (!hovered) {
        // Off every level the selections stay; only the cursor's own facts change.
        for (TDkView* v : chain) {
            v->UpdateMouseOverSelected(screen);
            v->StopTimer(dkvtScrollUp);
            v->StopTimer(dkvtScrollDown);
        }
        return;
    }
    hovered->TrackView(screen, true);
    for (TDkView* v = hovered; v != this && v->parentView_;) {
        v = v->parentView_;
        v->TrackView(screen, false);
    }
}

void TDkView::CancelCapture()
{
    if (!capture_) return;
    capture_ = false;
    cursorValid = false;
    if (selected_) selected_->LosingCapture();
}

void TDkView::SetCaptureFor(bool capture)
{
    if (!capture) {
        CancelCapture();
        return;
    }
    if (capture_ || !selected_) return;
    capture_ = true;
    POINT cursor;
    if (GetCursorPos(&cursor)) {
        mouseOverSelected_ = false;
        UpdateMouseOverSelected(cursor);
    }
    InvalidateViewer(selected_);
}

// --- the loop --------------------------------------------------------------------------

namespace {

// Step 1 of the loop on construction, its exit steps on destruction: they run however the
// loop ends, a throwing handler included.
class TLoopScope {
public:
    TLoopScope(TDkView* view, HWND window, bool keyboardMode) : view_(view), window_(window)
    {
        view_->State |= dkvsModal | dkvsOpen;
        if (keyboardMode) view_->State |= dkvsKeyboardMode;
        previousCapture_ = GetCapture();
        SetCapture(window_);
        if (captureCount++ == 0) {
            cursorValid = GetCursorPos(&rememberedCursor) != FALSE;
            SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW)));
        }
    }
    TLoopScope(const TLoopScope&) = delete;
    TLoopScope& operator=(const TLoopScope&) = delete;
    ~TLoopScope()
    {
        Step([&] { view_->CloseChildPopups(); });
        Step([&] { view_->CancelCapture(); });
        view_->State &= static_cast<unsigned char>(~(dkvsModal | dkvsOpen | dkvsKeyboardMode | dkvsIgnoreMouseUp));
        --captureCount;
        Step([&] {
            if (GetCapture() != window_) return;
            // An outer loop gets back the capture it had.
            if (captureCount > 0 && previousCapture_ && IsWindow(previousCapture_)) SetCapture(previousCapture_);
            else if (captureCount == 0) ReleaseCapture();
        });
        Step([] { DkSetApplicationHint(""); });
        Step([] {
            RemoveMessages(WM_CHAR, WM_DEADCHAR);
            RemoveMessages(WM_SYSCHAR, WM_SYSDEADCHAR);
        });
    }

private:
    // An exit step that fails must not stop the others, nor end the program while an
    // exception unwinds.
    template <class F>
    static void Step(F&& f) noexcept
    {
        try {
            f();
        } catch (...) {
        }
    }

    TDkView* view_;
    HWND window_;
    HWND previousCapture_ = nullptr;
};

}  // namespace

void TDkView::RunMenuLoop(bool startWithMouseDown, bool keyboardMode, TDkLoopResult& result, bool trackRightButton)
{
    result = TDkLoopResult();
    if (!window_) return;
    const HWND captureWindow = window_->Handle();
    TDkLoopState loop;
    loop.Result = &result;
    std::optional<WPARAM> quit;
    {
        TLoopScope scope(this, captureWindow, keyboardMode);

        if (startWithMouseDown && selected_) {
            POINT cursor = {0, 0};
            GetCursorPos(&cursor);
            TDkItemViewer* viewer = selected_;
            const POINT p = ToViewer(viewer, cursor);
            viewer->MouseDown(KeyboardShift() | ssLeft, p.x, p.y, loop);
        }
        if (!loop.Done && keyboardMode && selected_ && selected_->HasSubmenu()) OpenChildPopup(true);

        auto capturingViewer = [this]() -> TDkItemViewer* {
            for (TDkView* v : OpenChain())
                if (v->capture_) return v->selected_;
            return nullptr;
        };
        // A move or a press goes to the viewer holding the capture, else to the one under it.
        auto mouseViewer = [&](POINT pt) -> TDkItemViewer* {
            TDkItemViewer* viewer = capturingViewer();
            if (!viewer) {
                TDkView* view = nullptr;
                FindHovered(pt, view, viewer);
            }
            return viewer;
        };

        // Keys go to the deepest open level; its selected viewer sees them first.
        auto pressKey = [&](WORD key, const MSG* msg) {
            const TShiftState shift = KeyboardShift();
            if (TDkItemViewer* viewer = DeepestView()->selected_) viewer->KeyDown(key, shift, loop);
            if (key && !loop.Done) DeepestView()->KeyDown(key, shift, loop);
            if (key && msg) TranslateMessage(msg);
        };

        auto handle = [&](MSG& msg) {
            const UINT m = msg.message;
            if (m == WM_CONTEXTMENU || m == WM_SYSTIMER) return;
            if (m >= WM_KEYFIRST && m <= WM_KEYLAST) {
                DkCancelHint();
                const bool held = GetKeyState(VK_LBUTTON) < 0 || (trackRightButton && GetKeyState(VK_RBUTTON) < 0);
                const bool f1 = (m == WM_KEYDOWN || m == WM_SYSKEYDOWN) && msg.wParam == VK_F1;
                if (held && !f1) return;
            }
            const bool right = m == WM_RBUTTONDOWN || m == WM_RBUTTONDBLCLK || m == WM_RBUTTONUP;
            if (right && !trackRightButton) {
                DispatchMessageA(&msg);
                return;
            }
            switch (m) {
            case WM_KEYDOWN:
            case WM_SYSKEYDOWN: {
                WORD key = static_cast<WORD>(msg.wParam);
                if (key == VK_PROCESSKEY) key = InputMethodKey(msg.hwnd);
                pressKey(key, &msg);
                return;
            }
            case WM_CHAR:
            case WM_SYSCHAR: {
                const char ch = static_cast<char>(msg.wParam);
                TDkView* target = DeepestView();
                bool unique = false;
                if (TDkItemViewer* found = target->FindAccelerator(ch, target->selected_, false, unique)) {
                    target->Select(found, true);
                    if (unique && target->selected_ == found) pressKey(VK_RETURN, nullptr);
                } else if ((ch == ' ' || ch == '-') && target == this && IsToolbar && GetActiveWindow()) {
                    result.Kind = dklrSysKeyMenu;
                    result.Item = nullptr;
                    result.Window = GetActiveWindow();
                    result.Char = ch;
                    loop.Done = true;
                } else {
                    MessageBeep(0);
                }
                return;
            }
            case WM_TIMER:
                if (auto* popup = dynamic_cast<TDkPopupWindow*>(TWinControl::FindControl(msg.hwnd));
                    popup && popup->View() && msg.wParam >= DkViewTimerBase &&
                    msg.wParam <= DkViewTimerBase + dkvtScrollDown) {
                    popup->View()->TimerFired(static_cast<TDkViewTimer>(msg.wParam - DkViewTimerBase));
                    return;
                }
                DispatchMessageA(&msg);
                return;
            case WM_MOUSEMOVE: {
                const POINT pt = msg.pt;
                if (cursorValid && pt.x == rememberedCursor.x && pt.y == rememberedCursor.y) return;
                rememberedCursor = pt;
                cursorValid = true;
                UpdateCursorPos(pt);
                if (TDkItemViewer* viewer = mouseViewer(pt)) {
                    const POINT v = ToViewer(viewer, pt);
                    viewer->MouseMove(v.x, v.y, loop);
                }
                return;
            }
            case WM_LBUTTONDOWN:
            case WM_LBUTTONDBLCLK:
            case WM_RBUTTONDOWN:
            case WM_RBUTTONDBLCLK: {
                DkCancelHint();
                State &= static_cast<unsigned char>(~dkvsIgnoreMouseUp);
                const POINT pt = msg.pt;
                UpdateCursorPos(pt);
                if (TDkItemViewer* viewer = mouseViewer(pt)) {
                    const POINT v = ToViewer(viewer, pt);
                    const bool twice = m == WM_LBUTTONDBLCLK || m == WM_RBUTTONDBLCLK;
                    viewer->MouseDown(MouseShift(msg.wParam) | (twice ? dkssDouble : 0), v.x, v.y, loop);
                }
                return;
            }
            case WM_LBUTTONUP:
            case WM_RBUTTONUP: {
                const POINT pt = msg.pt;
                UpdateCursorPos(pt);
                TDkView* view = nullptr;
                TDkItemViewer* hoveredViewer = nullptr;
                FindHovered(pt, view, hoveredViewer);
                TDkItemViewer* viewer = capturingViewer();
                if (!viewer) viewer = hoveredViewer;
                if (viewer) {
                    const POINT v = ToViewer(viewer, pt);
                    viewer->MouseUp(v.x, v.y, loop);
                }
                if (!hoveredViewer && !loop.Done) {
                    if (State & dkvsIgnoreMouseUp) State &= static_cast<unsigned char>(~dkvsIgnoreMouseUp);
                    else if (!(view && view != this) && !(view == this && !IsToolbar)) loop.Done = true;
                }
                return;
            }
            case WM_MOUSEWHEEL: {
                const POINT pt = {GET_X_LPARAM(msg.lParam), GET_Y_LPARAM(msg.lParam)};
                TDkView* view = nullptr;
                TDkItemViewer* viewer = nullptr;
                FindHovered(pt, view, viewer);
                if (viewer) {
                    const POINT v = ToViewer(viewer, pt);
                    viewer->MouseWheel(GET_WHEEL_DELTA_WPARAM(msg.wParam), v.x, v.y, loop);
                }
                return;
            }
            default:
                DispatchMessageA(&msg);
                return;
            }
        };

        // Whether a button-down belongs to the loop; one that does not ends it and stays
        // queued for the window it was meant for.
        auto takesButtonDown = [&](const MSG& msg) {
            const bool left = IsLeftDown(msg.message), right = IsRightDown(msg.message);
            if (!left && !right) return false;
            const HWND target = WindowFromPoint(msg.pt);
            TDkView* view = ViewOfWindow(target);
            if (view && dynamic_cast<TDkPopupWindow*>(view->window_)) return true;
            if (view != this || IsPopup || msg.message == WM_NCLBUTTONDOWN || msg.message == WM_NCRBUTTONDOWN ||
                msg.message == WM_NCLBUTTONDBLCLK || msg.message == WM_NCRBUTTONDBLCLK)
                return false;
            const POINT p = ToClient(this, msg.pt);
            RECT client;
            GetClientRect(captureWindow, &client);
            if (!PtInRect(&client, p)) return false;
            if (right) return true;
            UpdateCursorPos(msg.pt);
            return selected_ && ViewerAtPoint(p) == selected_ &&
                   !(selected_->Item()->ItemStyle() & dkisClicksTransparent);
        };

        bool first = true;
        bool leave = false;
        while (!loop.Done && !leave && !quit && GetCapture() == captureWindow) {
            if (!first) MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            first = false;
            MSG msg;
            while (!loop.Done && GetCapture() == captureWindow && PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
                if (msg.message == WM_QUIT) {
                    PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
                    quit = msg.wParam;
                    break;
                }
                if (IsButtonDown(msg.message) && !takesButtonDown(msg)) {
                    leave = true;
                    break;
                }
                if (!PeekMessageA(&msg, nullptr, msg.message, msg.message, PM_REMOVE)) continue;
                if (msg.message == WM_QUIT) {
                    quit = msg.wParam;
                    break;
                }
                handle(msg);
                if (loop.Done) break;
                if (!cursorValid) {
                    GetCursorPos(&rememberedCursor);
                    cursorValid = true;
                    UpdateCursorPos(rememberedCursor);
                    TDkView* view = nullptr;
                    TDkItemViewer* viewer = nullptr;
                    FindHovered(rememberedCursor, view, viewer);
                    HCURSOR cursor = nullptr;
                    if (!viewer || viewer != view->selected_ ||
                        !viewer->GetCursor(ToViewer(viewer, rememberedCursor), cursor) || !cursor)
                        cursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
                    SetCursor(cursor);
                }
                TDkCustomItem* hinted = nullptr;
                for (TDkView* v : OpenChain())
                    if (v->selected_) hinted = v->selected_->Item();
                DkSetApplicationHint(hinted ? GetLongHint(hinted->Hint()) : std::string());
            }
        }
    }
    // What the loop met of a WM_QUIT is for the loop outside.
    if (quit) PostQuitMessage(static_cast<int>(*quit));
}

// --- keys ------------------------------------------------------------------------------

void TDkView::KeyDown(WORD& key, TShiftState shift, TDkLoopState& loop)
{
    TDkView* menuBar = this;
    while (menuBar && !menuBar->IsToolbar) menuBar = menuBar->parentView_;
    const bool runsLoop = (State & dkvsModal) != 0;
    const bool vertical = Orientation == dkvoVertical;

    auto moveAlongMenuBar = [&](bool forward) {
        key = 0;
        TDkView* bar = menuBar;
        const bool keyboard = (bar->State & dkvsKeyboardMode) != 0;
        TDkItemViewer* next = bar->NextSelectable(bar->selected_, forward);
        bar->CloseChildPopups();  // this view may go with it
        bar->Select(next, true);
        if (keyboard && next && next->HasSubmenu() && !(next->Item()->ItemStyle() & dkisNoAutoOpen))
            bar->OpenChildPopup(true);
    };

    switch (key) {
    case VK_TAB:
        Select(NextSelectable(selected_, !(shift & ssShift)), true);
        key = 0;
        break;
    case VK_RETURN:
        key = 0;
        if (selected_ && selected_->Item()->Enabled()) selected_->Execute(loop);
        else loop.Done = true;
        break;
    case VK_MENU:
    case VK_F10:
        key = 0;
        loop.Done = true;
        break;
    case VK_ESCAPE:
        key = 0;
        if (runsLoop || !parentView_) {
            loop.Done = true;
        } else {
            TDkView* parent = parentView_;
            if (parent->IsToolbar) parent->State &= static_cast<unsigned char>(~dkvsKeyboardMode);
            parent->CloseChildPopups();  // this view goes with it
        }
        break;
    case VK_HOME:
    case VK_END:
        Select(FirstSelectable(key == VK_END), true);
        key = 0;
        break;
    case VK_UP:
    case VK_DOWN:
        if (IsToolbar && !vertical && runsLoop) {
            OpenChildPopup(true);
            if (selected_ && openViewer_ == selected_) State |= dkvsKeyboardMode;
        } else {
            Select(NextSelectable(selected_, key == VK_DOWN), true);
        }
        key = 0;
        break;
    case VK_LEFT:
    case VK_RIGHT: {
        const bool forward = key == VK_RIGHT;
        if (vertical && runsLoop) {
            Select(NextSelectable(selected_, forward), true);
            key = 0;
            break;
        }
        // In a menu Right opens the selected item's sub-menu; a menu bar moves along.
        if (forward && !IsToolbar && selected_ && selected_->HasSubmenu() && selected_->Item()->Enabled()) {
            OpenChildPopup(true);
            key = 0;
            break;
        }
        const bool barHorizontal = menuBar && menuBar->Orientation != dkvoVertical;
        if (!forward && parentView_ && !(barHorizontal && parentView_ == menuBar)) {
            key = 0;
            parentView_->CloseChildPopups();  // this view goes with it
            break;
        }
        if (barHorizontal && (menuBar == this || parentView_ == menuBar)) moveAlongMenuBar(forward);
        break;
    }
    case VK_F1:
        key = 0;
        if (!selected_) break;
        if (loop.Result) {
            loop.Result->Kind = dklrHelp;
            loop.Result->Item = selected_->Item();
            loop.Result->Window = nullptr;
            loop.Result->Char = 0;
        }
        loop.Done = true;
        break;
    default:
        break;
    }
}

void CarryOutLoopResult(const TDkLoopResult& result)
{
    switch (result.Kind) {
    case dklrClick:
        if (result.Item) result.Item->PostClick(true);
        break;
    case dklrSysKeyMenu:
        if (result.Window && IsWindow(result.Window))
            SendMessageA(result.Window, WM_SYSCOMMAND, SC_KEYMENU, static_cast<unsigned char>(result.Char));
        break;
    case dklrHelp: {
        if (!result.Item) break;
        const int context = result.Item->HelpContext();
        TCustomForm* form = ActiveForm();
        const bool helpIcon = form && form->HandleAllocated() &&
                              (GetWindowLongA(form->Handle(), GWL_EXSTYLE) & WS_EX_CONTEXTHELP);
        if (helpIcon) Application->HelpCommand(HELP_CONTEXTPOPUP, static_cast<ULONG_PTR>(context));
        else if (context != 0) Application->HelpContext(context);
        break;
    }
    default:
        break;
    }
}
