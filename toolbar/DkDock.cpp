#include "DkDock.h"

#include "Barrier.h"

#include <windowsx.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace {

const int DockedBorder = 2;  // the docked window's border on every side
const char* const FloatingClass = "TDkFloatingWindowParent";

// A window's whole-window device context for the time of a non-client paint.
class TWindowDC {
public:
    explicit TWindowDC(HWND window) : window_(window), dc_(window ? GetWindowDC(window) : nullptr) {}
    TWindowDC(const TWindowDC&) = delete;
    TWindowDC& operator=(const TWindowDC&) = delete;
    ~TWindowDC()
    {
        if (dc_) ReleaseDC(window_, dc_);
    }
    HDC Get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// Every dockable window of the program, for the hook procedure.
std::vector<TDkCustomDockableWindow*>& AllWindows()
{
    static std::vector<TDkCustomDockableWindow*> windows;
    return windows;
}

// Set while the application is inactive (as WM_ACTIVATEAPP last told).
bool applicationInactive = false;

const char* RegisteredFloatingClass()
{
    static const bool registered = RegisterPlainWindowClass(FloatingClass);
    if (!registered) throw EOutOfResources("Cannot register the floating window class");
    return FloatingClass;
}

// A screen point in a window's coordinates (its top-left corner at 0, 0).
POINT WindowPoint(HWND window, POINT screen)
{
    RECT r;
    GetWindowRect(window, &r);
    return {screen.x - r.left, screen.y - r.top};
}

SIZE WindowSize(HWND window)
{
    RECT r = {0, 0, 0, 0};
    GetWindowRect(window, &r);
    return {r.right - r.left, r.bottom - r.top};
}

bool Empty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

void SetFrameChanged(HWND window)
{
    SetWindowPos(window, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The form whose MDI child `form` is, or `form` itself.
TCustomForm* TopFormOf(TCustomForm* form)
{
    if (!form || !form->HandleAllocated()) return form;
    const HWND window = form->Handle();
    if (!(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_MDICHILD)) return form;
    const HWND client = GetParent(window);
    auto* frame = dynamic_cast<TCustomForm*>(TWinControl::FindControl(client ? GetParent(client) : nullptr));
    return frame ? frame : form;
}

// The press of a button drawn in a window's frame (`button` in window coordinates), shown
// down while the cursor is over it; true when released over it.
bool TrackFrameButton(HWND window, const RECT& button, const std::function<void(bool down)>& show)
{
    SetCapture(window);
    bool inside = true;
    show(true);
    bool released = false;
    while (GetCapture() == window) {
        MSG msg;
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got <= 0) {
            if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (msg.message == WM_MOUSEMOVE || msg.message == WM_LBUTTONUP) {
            POINT p = {GET_X_LPARAM(msg.lParam), GET_Y_LPARAM(msg.lParam)};
            ClientToScreen(msg.hwnd, &p);
            const POINT at = WindowPoint(window, p);
            const bool over = PtInRect(&button, at) != FALSE;
            if (msg.message == WM_LBUTTONUP) {
                released = over;
                break;
            }
            if (over != inside) {
                inside = over;
                show(inside);
            }
            continue;
        }
        if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) break;
        if (msg.message >= WM_MOUSEFIRST && msg.message <= WM_MOUSELAST) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (GetCapture() == window) ReleaseCapture();
    show(false);
    return released;
}

// A small X, pushed down by one pixel while pressed.
void DrawSmallX(HDC dc, const RECT& r, bool down)
{
    const int d = down ? 1 : 0;
    const int left = r.left + 3 + d, top = r.top + 3 + d, right = r.right - 3 + d, bottom = r.bottom - 3 + d;
    if (right <= left || bottom <= top) return;
    TGdiObject pen(CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNTEXT)));
    if (!pen) return;
    TSelected selected(dc, pen.Get());
    for (int offset = 0; offset < 2; ++offset) {
        MoveToEx(dc, left + offset, top, nullptr);
        LineTo(dc, right + offset - 1, bottom);
        MoveToEx(dc, right - 1 - offset, top, nullptr);
        LineTo(dc, left - offset, bottom);
    }
}

// Raised grip lines, 3 pixels thick each, along a band of the drag handle.
void DrawGrip(HDC dc, const RECT& band, bool vertical, int lines)
{
    const int thickness = 3 * lines;
    for (int i = 0; i < lines; ++i) {
        RECT line;
        if (!vertical) {
            const int x = band.left + (band.right - band.left - thickness) / 2 + 3 * i;
            line = {x, band.top + 1, x + 3, band.bottom - 1};
        } else {
            const int y = band.top + (band.bottom - band.top - thickness) / 2 + 3 * i;
            line = {band.left + 1, y, band.right - 1, y + 3};
        }
        if (!Empty(line)) DrawEdge(dc, &line, BDR_RAISEDINNER, BF_RECT);
    }
}

}  // namespace

// Sizes and hit tests

int DkDragHandleSize(TDkDragHandleStyle style, bool closeButtonWhenDocked)
{
    if (closeButtonWhenDocked) return 14;
    switch (style) {
    case dhDouble: return 9;
    case dhNone: return 0;
    default: return 6;
    }
}

int DkFloatingHitTest(const TDkFloatingFrame& frame, POINT p)
{
    const int w = frame.Window.cx, h = frame.Window.cy;
    const int bx = frame.Border.cx, by = frame.Border.cy;
    const int caption = frame.SmallCaption;
    if (frame.ShowCaption) {
        const RECT band = {bx, by, w - bx, by + caption - 1};
        if (PtInRect(&band, p)) {
            if (frame.CloseButton && p.x >= band.right - caption + 1) return DkHitClose;
            return DkHitCaption;
        }
    }
    if (!frame.Resizable) return HTNOWHERE;
    const bool left = p.x < bx, right = p.x >= w - bx, top = p.y < by, bottom = p.y >= h - by;
    if (frame.EightCorners) {
        const int corner = caption + bx - 1;
        if (left || right) {
            if (p.y < corner) return left ? HTTOPLEFT : HTTOPRIGHT;
            if (p.y >= h - corner) return left ? HTBOTTOMLEFT : HTBOTTOMRIGHT;
            return left ? HTLEFT : HTRIGHT;
        }
        if (top || bottom) {
            if (p.x < corner) return top ? HTTOPLEFT : HTBOTTOMLEFT;
            if (p.x >= w - corner) return top ? HTTOPRIGHT : HTBOTTOMRIGHT;
            return top ? HTTOP : HTBOTTOM;
        }
        return HTNOWHERE;
    }
    if (top) return HTTOP;
    if (bottom) return HTBOTTOM;
    if (left) return HTLEFT;
    if (right) return HTRIGHT;
    return HTNOWHERE;
}

// Backgrounds

TDkBasicBackground::~TDkBasicBackground()
{
    SetDestroying();
    // The docks drop it now, while it still is a background.
    const std::vector<TDkDock*> users = users_;
    for (TDkDock* dock : users) dock->SetBackground(nullptr);
}

void TDkBasicBackground::Changed()
{
    for (TDkDock* dock : users_)
        if (dock->HandleAllocated())
            RedrawWindow(dock->Handle(), nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN);
}

void TDkBackground::SetBitmap(HBITMAP bitmap)
{
    bitmap_.Reset(bitmap);
    size_ = {0, 0};
    BITMAP info;
    if (bitmap && GetObjectA(bitmap, sizeof info, &info)) size_ = {info.bmWidth, info.bmHeight < 0 ? -info.bmHeight : info.bmHeight};
    Changed();
}

bool TDkBackground::UsingBackground() const { return bitmap_.Valid() && size_.cx > 0 && size_.cy > 0; }

void TDkBackground::PaintBackground(HDC dc, const RECT& rect, POINT origin)
{
    if (!UsingBackground() || Empty(rect)) return;
    TMemoryDCHandle memory(CreateCompatibleDC(dc));
    if (!memory) return;
    TSelected selected(memory.Get(), bitmap_.Get());
    TSavedDC saved(dc);
    IntersectClipRect(dc, rect.left, rect.top, rect.right, rect.bottom);
    const int w = size_.cx, h = size_.cy;  // both positive (UsingBackground)
    const auto firstTile = [](int from, int start, int size) {
        int t = start + (from - start) / size * size;
        if (t > from) t -= size;
        return t;
    };
    for (int y = firstTile(rect.top, origin.y, h); y < rect.bottom; y += h)
        for (int x = firstTile(rect.left, origin.x, w); x < rect.right; x += w)
            BitBlt(dc, x, y, w, h, memory.Get(), 0, 0, SRCCOPY);
}

// The dock

TDkDock::TDkDock(TComponent* owner) : TCustomControl(owner)
{
    SetAlign(alTop);
}

TDkDock::~TDkDock()
{
    SetDestroying();
    SetBackground(nullptr);
    // The windows go while the dock still hears of it.
    while (ControlCount() > 0) delete Controls(ControlCount() - 1);
    dockList_.clear();
    visibleList_.clear();
}

void TDkDock::SetPosition(TDkDockPosition value)
{
    if (value == position_) return;
    if (ControlCount() > 0) throw EInvalidOperation("Cannot change Position of a TDkDock if it already contains controls");
    position_ = value;
    static const TAlign aligns[] = {alTop, alBottom, alLeft, alRight};
    if (!fixAlign_) SetAlign(aligns[value]);
    lastLength_ = -1;
    ArrangeToolbars();
}

void TDkDock::SetAllowDrag(bool value)
{
    if (value == allowDrag_) return;
    allowDrag_ = value;
    for (TDkCustomDockableWindow* w : dockList_)
        if (w->HandleAllocated()) SetFrameChanged(w->Handle());
    ArrangeToolbars();
}

void TDkDock::SetBoundLines(TDkDockBoundLines value)
{
    if (value == boundLines_) return;
    boundLines_ = value;
    UpdateNonClient();
    lastLength_ = -1;
    ArrangeToolbars();
}

void TDkDock::SetBackground(TDkBasicBackground* value)
{
    if (value == background_) return;
    if (background_) {
        auto& users = background_->users_;
        users.erase(std::remove(users.begin(), users.end(), this), users.end());
        background_->RemoveFreeNotification(this);
    }
    background_ = value;
    if (value) {
        value->users_.push_back(this);
        value->FreeNotification(this);
    }
    if (HandleAllocated() && !Destroying())
        RedrawWindow(handle_, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN);
}

void TDkDock::SetBackgroundOnToolbars(bool value)
{
    if (value == backgroundOnToolbars_) return;
    backgroundOnToolbars_ = value;
    if (HandleAllocated()) RedrawWindow(handle_, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void TDkDock::SetFixAlign(bool value) { fixAlign_ = value; }

void TDkDock::BeginUpdate() { ++disableArrange_; }

void TDkDock::EndUpdate()
{
    if (disableArrange_ > 0 && --disableArrange_ == 0 && arrangeNeeded_) ArrangeToolbars();
}

int TDkDock::AvailableLength()
{
    return std::max(0, Vertical() ? height_ - nonClientHeight_ : width_ - nonClientWidth_);
}

void TDkDock::SetParent(TWinControl* parent)
{
    for (TWinControl* p = parent; p; p = p->Parent())
        if (dynamic_cast<TDkCustomDockableWindow*>(p) || dynamic_cast<TDkDock*>(p) ||
            dynamic_cast<TDkFloatingWindowParent*>(p))
            throw EInvalidOperation("A TDkDock control cannot be placed inside a tool window or another TDkDock");
    TCustomControl::SetParent(parent);
}

void TDkDock::CreateParams(TCreateParams& params)
{
    TCustomControl::CreateParams(params);
    params.Style |= WS_CLIPCHILDREN;
}

void TDkDock::CreateWnd()
{
    TCustomControl::CreateWnd();
    // The frame was measured while the window was made, before its messages came here.
    SetFrameChanged(handle_);
}

void TDkDock::Notification(TComponent* component, TOperation operation)
{
    TCustomControl::Notification(component, operation);
    if (operation != opRemove) return;
    if (component == background_) background_ = nullptr;
    if (component == DraggedWindow) DraggedWindow = nullptr;
}

void TDkDock::Loaded()
{
    TCustomControl::Loaded();
    ArrangeToolbars();
}

void TDkDock::Paint() {}

void TDkDock::BoundsChanged()
{
    TCustomControl::BoundsChanged();
    ArrangeIfLengthChanged();
}

void TDkDock::ArrangeIfLengthChanged()
{
    if (AvailableLength() != lastLength_) ArrangeToolbars();
}

void TDkDock::UpdateNonClient()
{
    nonClientWidth_ = ((boundLines_ & blLeft) ? 1 : 0) + ((boundLines_ & blRight) ? 1 : 0);
    nonClientHeight_ = ((boundLines_ & blTop) ? 1 : 0) + ((boundLines_ & blBottom) ? 1 : 0);
    if (HandleAllocated()) SetFrameChanged(handle_);
}

bool TDkDock::HasShownWindow() const
{
    for (TDkCustomDockableWindow* w : dockList_)
        if (w->Visible()) return true;
    return false;
}

void TDkDock::InsertWindow(TDkCustomDockableWindow* window)
{
    if (std::find(dockList_.begin(), dockList_.end(), window) != dockList_.end()) return;
    dockList_.push_back(window);
    if (OnInsertRemoveBar && !Quiet()) OnInsertRemoveBar(this, true, window);
    ArrangeToolbars();
    if (HandleAllocated()) RedrawWindow(handle_, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
}

void TDkDock::RemoveWindow(TDkCustomDockableWindow* window)
{
    dockList_.erase(std::remove(dockList_.begin(), dockList_.end(), window), dockList_.end());
    visibleList_.erase(std::remove(visibleList_.begin(), visibleList_.end(), window), visibleList_.end());
    if (DraggedWindow == window) DraggedWindow = nullptr;
    if (Destroying()) return;
    if (OnInsertRemoveBar && !Quiet()) OnInsertRemoveBar(this, false, window);
    ArrangeToolbars();
    if (HandleAllocated()) RedrawWindow(handle_, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
}

namespace {

// A drag is under way somewhere: its own arrangements decide what is committed.
bool AnyWindowMoving()
{
    for (TDkCustomDockableWindow* w : AllWindows())
        if (w->Moving()) return true;
    return false;
}

}  // namespace

void TDkDock::ArrangeToolbars()
{
    if (disableArrange_ > 0 || (ComponentState() & csLoading) || arranging_) {
        arrangeNeeded_ = true;
        return;
    }
    if (Destroying()) return;
    arranging_ = true;
    // A window asking again while it is laid out gets one more round, not more.
    for (int round = 0; round < 2; ++round) {
        arrangeNeeded_ = false;
        const int available = AvailableLength();
        lastLength_ = available;
        const bool vertical = Vertical();

        dockList_.erase(std::remove_if(dockList_.begin(), dockList_.end(),
                                       [](TDkCustomDockableWindow* w) { return w->Destroying(); }),
                        dockList_.end());
        std::vector<TDkCustomDockableWindow*> shown;
        for (TDkCustomDockableWindow* w : dockList_)
            if (w->Visible()) shown.push_back(w);

        std::vector<TDkDockBarFacts> facts;
        for (TDkCustomDockableWindow* w : shown) {
            const POINT base = w->GetBaseSize();
            const SIZE nc = w->NonClientSizeFor(this);
            TDkDockBarFacts f;
            f.DockRow = w->dockRow_;
            f.DockPos = w->dockPos_;
            f.NaturalLength = vertical ? base.y + nc.cy : base.x + nc.cx;
            f.MinimumLength = w->GetMinimumLength();
            f.ShrinkMode = w->GetShrinkMode();
            f.FullSize = w->fullSize_;
            f.Stretch = w->stretch_;
            f.InsertRowBefore = w->InsertRowBefore;
            f.Dragged = w == DraggedWindow;
            f.Thickness = vertical ? base.x + nc.cx : base.y + nc.cy;
            facts.push_back(f);
        }
        const TDkDockArrangement arranged = DkArrangeDock(facts, available, DragSplitting);
        if (DraggedWindow) DragCanSplit = arranged.DragCanSplit;

        const bool commit = CommitNewPositions || !AnyWindowMoving();
        CommitNewPositions = false;
        visibleList_.clear();
        for (int i : arranged.Order) {
            TDkCustomDockableWindow* w = shown[i];
            visibleList_.push_back(w);
            w->EffectiveDockRow = facts[i].Row;
            w->EffectiveDockPos = facts[i].Position;
            w->InsertRowBefore = false;
            if (commit) {
                w->dockRow_ = facts[i].Row;
                w->dockPos_ = facts[i].Position;
            }
        }
        if (commit) {
            std::vector<TDkCustomDockableWindow*> list = visibleList_;
            for (TDkCustomDockableWindow* w : dockList_)
                if (std::find(list.begin(), list.end(), w) == list.end()) list.push_back(w);
            std::stable_sort(list.begin(), list.end(), [](TDkCustomDockableWindow* a, TDkCustomDockableWindow* b) {
                if (a->dockRow_ != b->dockRow_) return a->dockRow_ < b->dockRow_;
                const int pa = a->dockPos_ < 0 ? INT_MAX : a->dockPos_, pb = b->dockPos_ < 0 ? INT_MAX : b->dockPos_;
                return pa < pb;
            });
            dockList_ = list;
        }

        // The lengths given: each window lays itself out for its own, which gives its
        // thickness.
        for (size_t i = 0; i < shown.size(); ++i) {
            TDkCustomDockableWindow* w = shown[i];
            w->currentSize_ = facts[i].Length != facts[i].NaturalLength ? facts[i].Length : 0;
            const POINT client = w->DoArrange(true, this);
            const SIZE nc = w->NonClientSizeFor(this);
            facts[i].Thickness = vertical ? client.x + nc.cx : client.y + nc.cy;
        }
        rowThickness_ = DkRowThicknesses(facts, static_cast<int>(arranged.RowThickness.size()));
        std::vector<int> rowStart(rowThickness_.size(), 0);
        int total = 0;
        for (size_t r = 0; r < rowThickness_.size(); ++r) {
            rowStart[r] = total;
            total += rowThickness_[r];
        }
        for (size_t i = 0; i < shown.size(); ++i) {
            TDkCustomDockableWindow* w = shown[i];
            const TDkDockBarFacts& f = facts[i];
            const int across = f.Row >= 0 && f.Row < static_cast<int>(rowStart.size()) ? rowStart[f.Row] + 2 : 0;
            const RECT before = w->BoundsRect();
            ++w->updateBounds_;
            try {
                if (vertical) w->SetBounds(across, f.Position, f.Thickness, f.Length);
                else w->SetBounds(f.Position, across, f.Length, f.Thickness);
            } catch (...) {
                --w->updateBounds_;
                arranging_ = false;
                throw;
            }
            --w->updateBounds_;
            if ((before.left != w->Left() || before.top != w->Top()) && w->OnMove && !w->Quiet()) w->OnMove(w);
        }

        // An aligned dock is as thick as its rows.
        if (Align() != alNone) {
            if (vertical) {
                const int width = total + nonClientWidth_;
                if (width != width_) SetBounds(left_, top_, width, height_);
            } else {
                const int height = total + nonClientHeight_;
                if (height != height_) SetBounds(left_, top_, width_, height);
            }
        }
        if (!arrangeNeeded_ && AvailableLength() == lastLength_) break;
    }
    arranging_ = false;
    arrangeNeeded_ = false;
}

void TDkDock::PaintNonClient(HDC dc)
{
    if (!boundLines_) return;
    const SIZE size = WindowSize(handle_);
    const RECT whole = {0, 0, size.cx, size.cy};
    const RECT client = {(boundLines_ & blLeft) ? 1 : 0, (boundLines_ & blTop) ? 1 : 0,
                         size.cx - ((boundLines_ & blRight) ? 1 : 0), size.cy - ((boundLines_ & blBottom) ? 1 : 0)};
    TSavedDC saved(dc);
    ExcludeClipRect(dc, client.left, client.top, client.right, client.bottom);
    FillRect(dc, &whole, brush_.Handle());
    if (!HasShownWindow()) return;
    const HBRUSH shadow = GetSysColorBrush(COLOR_BTNSHADOW), highlight = GetSysColorBrush(COLOR_BTNHIGHLIGHT);
    const RECT top = {0, 0, size.cx, 1}, left = {0, 0, 1, size.cy};
    const RECT bottom = {0, size.cy - 1, size.cx, size.cy}, right = {size.cx - 1, 0, size.cx, size.cy};
    if (boundLines_ & blTop) FillRect(dc, &top, shadow);
    if (boundLines_ & blLeft) FillRect(dc, &left, shadow);
    if (boundLines_ & blBottom) FillRect(dc, &bottom, highlight);
    if (boundLines_ & blRight) FillRect(dc, &right, highlight);
}

void TDkDock::EraseThroughBackground(TMessage& m)
{
    const HDC dc = reinterpret_cast<HDC>(m.WParam);
    RECT client;
    GetClientRect(handle_, &client);
    // The pattern's origin is the parent's: neighbouring controls line up.
    POINT origin = {0, 0};
    if (parent_ && parent_->HandleAllocated()) MapWindowPoints(handle_, parent_->Handle(), &origin, 1);
    TSavedDC saved(dc);
    IntersectClipRect(dc, client.left, client.top, client.right, client.bottom);
    background_->PaintBackground(dc, client, {-origin.x, -origin.y});
    m.Result = 1;
}

void TDkDock::WndProc(TMessage& m)
{
    switch (m.Msg) {
    case WM_NCCALCSIZE: {
        auto* r = reinterpret_cast<RECT*>(m.LParam);
        if (boundLines_ & blLeft) ++r->left;
        if (boundLines_ & blTop) ++r->top;
        if (boundLines_ & blRight) --r->right;
        if (boundLines_ & blBottom) --r->bottom;
        if (r->right < r->left) r->right = r->left;
        if (r->bottom < r->top) r->bottom = r->top;
        m.Result = 0;
        return;
    }
    case WM_NCPAINT: {
        TWindowDC dc(handle_);
        if (dc.Get()) {
            SelectNCUpdateRgn(handle_, dc.Get(), reinterpret_cast<HRGN>(m.WParam));
            PaintNonClient(dc.Get());
        }
        m.Result = 0;
        return;
    }
    case WM_PRINT:
        HandleWMPrint(handle_, m, [this](HWND, HDC dc) { PaintNonClient(dc); });
        return;
    case WM_PRINTCLIENT:
        HandleWMPrintClient([](HDC) {}, m);
        return;
    case WM_ERASEBKGND:
        if (background_ && background_->UsingBackground()) {
            EraseThroughBackground(m);
            return;
        }
        break;
    case WM_SIZE:
        TCustomControl::WndProc(m);
        ArrangeIfLengthChanged();
        return;
    }
    TCustomControl::WndProc(m);
}

// The dockable window

TDkCustomDockableWindow::TDkCustomDockableWindow(TComponent* owner) : TCustomControl(owner)
{
    baseSize_ = {width_, height_};
    AllWindows().push_back(this);
    RegisterHookProcedure(HookProc,
                          DkHookCode(dkhpSendActivateApp) | DkHookCode(dkhpSendWindowPosChanged) |
                              DkHookCode(dkhpPreDestroy),
                          false);
    AddTrackMouseEventUser();
}

TDkCustomDockableWindow::~TDkCustomDockableWindow()
{
    SetDestroying();
    auto& all = AllWindows();
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
    UnregisterHookProcedure(HookProc);
    RemoveTrackMouseEventUser();
    if (TDkDock* dock = currentDock_) {
        currentDock_ = nullptr;
        docked_ = false;
        dock->RemoveWindow(this);
    }
    if (TDkFloatingWindowParent* floating = floatingParent_) {
        floatingParent_ = nullptr;
        floating_ = false;
        floating->window_ = nullptr;
        TCustomControl::SetParent(nullptr);
        floating->Dispose();
    }
}

void TDkCustomDockableWindow::HookProc(TDkHookProcCode code, HWND window, WPARAM wParam, LPARAM lParam)
{
    switch (code) {
    case dkhpSendActivateApp: {
        const bool inactive = wParam == 0;
        if (inactive == applicationInactive) return;
        applicationInactive = inactive;
        const std::vector<TDkCustomDockableWindow*> windows = AllWindows();
        for (TDkCustomDockableWindow* w : windows)
            if (w->floating_) w->UpdateFloatingVisibility();
        return;
    }
    case dkhpSendWindowPosChanged: {
        const auto* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
        if (!pos) return;
        const std::vector<TDkCustomDockableWindow*> windows = AllWindows();
        for (TDkCustomDockableWindow* w : windows) {
            TDkFloatingWindowParent* fp = w->floatingParent_;
            if (!w->floating_ || !fp || !fp->form_ || !fp->form_->HandleAllocated() || fp->form_->Handle() != window)
                continue;
            fp->UpdateOwner();
            if (pos->flags & (SWP_SHOWWINDOW | SWP_HIDEWINDOW)) w->UpdateFloatingVisibility();
        }
        return;
    }
    case dkhpPreDestroy: {
        // A window the form is about to lose would take the floating windows it owns along:
        // they let go of it, and take the form's next one as their owner.
        const std::vector<TDkCustomDockableWindow*> windows = AllWindows();
        for (TDkCustomDockableWindow* w : windows) {
            TDkFloatingWindowParent* fp = w->floatingParent_;
            if (!w->floating_ || !fp || !fp->HandleAllocated()) continue;
            if (GetWindow(fp->Handle(), GW_OWNER) == window) SetWindowLongPtrA(fp->Handle(), GWLP_HWNDPARENT, 0);
        }
        return;
    }
    default:
        return;
    }
}

void TDkCustomDockableWindow::CreateParams(TCreateParams& params)
{
    TCustomControl::CreateParams(params);
    params.Style |= WS_CLIPCHILDREN;
}

void TDkCustomDockableWindow::CreateWnd()
{
    TCustomControl::CreateWnd();
    SetFrameChanged(handle_);
}

void TDkCustomDockableWindow::Notification(TComponent* component, TOperation operation)
{
    TCustomControl::Notification(component, operation);
    if (operation != opRemove) return;
    if (component == defaultDock_) defaultDock_ = nullptr;
    if (component == lastDock_) lastDock_ = nullptr;
    dockForms_.erase(std::remove(dockForms_.begin(), dockForms_.end(), component), dockForms_.end());
}

void TDkCustomDockableWindow::Loaded()
{
    TCustomControl::Loaded();
    Arrange();
}

void TDkCustomDockableWindow::Paint() {}

// Where it stands

void TDkCustomDockableWindow::SetParent(TWinControl* parent)
{
    if (parent == parent_) return;
    TDkDock* oldDock = currentDock_;
    auto* newDock = dynamic_cast<TDkDock*>(parent);
    const bool toFloating = parent && parent == floatingParent_;
    TCustomControl::SetParent(parent);
    currentDock_ = newDock;
    docked_ = newDock != nullptr;
    floating_ = toFloating;
    if (!toFloating && floatingParent_) LetGoOfFloatingParent();
    if (oldDock && oldDock != newDock) oldDock->RemoveWindow(this);
    if (newDock) {
        newDock->FreeNotification(this);
        if (handle_) SetFrameChanged(handle_);
        newDock->InsertWindow(this);
    } else if (handle_) {
        SetFrameChanged(handle_);
    }
}

void TDkCustomDockableWindow::LetGoOfFloatingParent()
{
    TDkFloatingWindowParent* floating = floatingParent_;
    floatingParent_ = nullptr;
    floating_ = false;
    if (!floating) return;
    if (floating->HandleAllocated()) {
        RECT r;
        GetWindowRect(floating->Handle(), &r);
        floatingPosition_ = {r.left, r.top};
    }
    floating->window_ = nullptr;
    floating->Dispose();
}

void TDkCustomDockableWindow::SetCurrentDock(TDkDock* dock)
{
    if (dock) MoveToDock(dock);
    else if (DockMode == dmCanFloat) MakeFloating();
}

void TDkCustomDockableWindow::MoveToDock(TDkDock* dock)
{
    if (!dock || (docked_ && currentDock_ == dock)) return;
    if (OnDockChanging && !Quiet()) OnDockChanging(this, false, dock);
    SetParent(dock);
    if (OnDockChanged && !Quiet()) OnDockChanged(this);
}

void TDkCustomDockableWindow::MakeFloating()
{
    if (floating_) return;
    TCustomForm* form = GetFormOf();
    (void)form;
    if (OnDockChanging && !Quiet()) OnDockChanging(this, true, nullptr);
    if (currentDock_ && UseLastDock) SetLastDock(currentDock_);
    const POINT at = floatingPosition_;
    ++updateBounds_;
    try {
        auto* floating = new TDkFloatingWindowParent(nullptr, this);
        floatingParent_ = floating;
        const POINT size = DoArrange(true, nullptr);
        floating->SetText(Caption());
        floating->SetBounds(at.x, at.y, floating->Width(), floating->Height());
        floating->SetClientSizeOf({size.x, size.y});
        SetParent(floating);
        SetBounds(0, 0, size.x, size.y);
    } catch (...) {
        --updateBounds_;
        throw;
    }
    --updateBounds_;
    UpdateFloatingVisibility();
    if (OnDockChanged && !Quiet()) OnDockChanged(this);
}

void TDkCustomDockableWindow::SetFloating(bool value)
{
    if (value == floating_) return;
    if (value) {
        if (DockMode == dmCanFloat) MakeFloating();
        return;
    }
    TDkDock* target = UseLastDock && lastDock_ ? lastDock_ : defaultDock_;
    if (target) {
        MoveToDock(target);
        return;
    }
    // Back to its form, when it has no dock to go to.
    TCustomForm* form = GetFormOf();
    if (OnDockChanging && !Quiet()) OnDockChanging(this, false, nullptr);
    SetParent(form);
    if (OnDockChanged && !Quiet()) OnDockChanged(this);
}

void TDkCustomDockableWindow::SetDefaultDock(TDkDock* dock)
{
    defaultDock_ = dock;
    if (dock) dock->FreeNotification(this);
}

void TDkCustomDockableWindow::SetLastDock(TDkDock* dock)
{
    lastDock_ = dock;
    if (dock) dock->FreeNotification(this);
}

void TDkCustomDockableWindow::SetDockPos(int value)
{
    if (value == dockPos_) return;
    dockPos_ = value;
    if (docked_) currentDock_->ArrangeToolbars();
}

void TDkCustomDockableWindow::SetDockRow(int value)
{
    if (value == dockRow_) return;
    dockRow_ = value;
    if (docked_) currentDock_->ArrangeToolbars();
}

void TDkCustomDockableWindow::SetFloatingPosition(POINT p)
{
    floatingPosition_ = p;
    if (floating_ && floatingParent_)
        floatingParent_->SetBounds(p.x, p.y, floatingParent_->Width(), floatingParent_->Height());
}

TCustomForm* TDkCustomDockableWindow::GetFormOf()
{
    if (floating_ && floatingParent_ && floatingParent_->form_) return floatingParent_->form_;
    TCustomForm* found = nullptr;
    for (TControl* c = this; c; c = c->Parent())
        if (auto* form = dynamic_cast<TCustomForm*>(c); form && !dynamic_cast<TDkFloatingWindowParent*>(form))
            found = form;
    if (!found) throw EInvalidOperation("Control '" + Name() + "' has no parent window");
    return found;
}

TCustomForm* TDkCustomDockableWindow::GetTopForm() { return TopFormOf(GetFormOf()); }

void TDkCustomDockableWindow::UpdateFloatingVisibility()
{
    TDkFloatingWindowParent* floating = floatingParent_;
    if (!floating_ || !floating) return;
    bool show = Visible();
    if (TCustomForm* form = floating->form_) {
        // A form between its old window and its new one says nothing about showing: the
        // application going inactive meanwhile must not hide the floating window for good.
        if (!form->HandleAllocated()) return;
        show = show && IsWindowVisible(form->Handle());
    }
    if (applicationInactive && HideWhenInactive) show = false;
    floating->SetVisible(show);
}

void TDkCustomDockableWindow::FloatingClientSized(int width, int height)
{
    if (updateBounds_ > 0) return;  // its own sizing
    ++updateBounds_;
    SetBounds(0, 0, width, height);
    --updateBounds_;
    baseSize_ = {width, height};
}

// Properties

void TDkCustomDockableWindow::SetVisible(bool visible)
{
    const bool changed = visible != visible_;
    TCustomControl::SetVisible(visible);
    if (floating_) UpdateFloatingVisibility();
    if (changed && docked_) {
        currentDock_->ArrangeToolbars();
        if (currentDock_->HandleAllocated())
            RedrawWindow(currentDock_->Handle(), nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
    }
    if (changed && OnVisibleChanged && !Quiet()) OnVisibleChanged(this);
}

void TDkCustomDockableWindow::SetBounds(int left, int top, int width, int height)
{
    const bool program = updateBounds_ == 0;
    if (program) {
        const SIZE nc = NonClientSize();
        baseSize_ = {std::max<LONG>(0, width - nc.cx), std::max<LONG>(0, height - nc.cy)};
    }
    TCustomControl::SetBounds(left, top, width, height);
    if (program && (docked_ || floating_)) Arrange();
}

void TDkCustomDockableWindow::SetText(const std::string& text)
{
    TCustomControl::SetText(text);
    if (floatingParent_) floatingParent_->SetText(text);
}

namespace {

// A frame change: the window measures its frame again and its dock arranges.
void FrameChanged(TDkCustomDockableWindow* w)
{
    if (w->HandleAllocated()) SetFrameChanged(w->Handle());
    if (w->Docked() && w->CurrentDock()) w->CurrentDock()->ArrangeToolbars();
}

}  // namespace

void TDkCustomDockableWindow::SetAutoResize(bool value)
{
    if (value == autoResize_) return;
    autoResize_ = value;
    if (value) Arrange();
}

void TDkCustomDockableWindow::SetCloseButton(bool value)
{
    if (value == closeButton_) return;
    closeButton_ = value;
    if (floatingParent_ && floatingParent_->HandleAllocated()) SetFrameChanged(floatingParent_->Handle());
}

void TDkCustomDockableWindow::SetCloseButtonWhenDocked(bool value)
{
    if (value == closeButtonWhenDocked_) return;
    closeButtonWhenDocked_ = value;
    FrameChanged(this);
}

void TDkCustomDockableWindow::SetFullSize(bool value)
{
    if (value == fullSize_) return;
    fullSize_ = value;
    if (docked_) currentDock_->ArrangeToolbars();
}

void TDkCustomDockableWindow::SetStretch(bool value)
{
    if (value == stretch_) return;
    stretch_ = value;
    if (docked_) currentDock_->ArrangeToolbars();
}

void TDkCustomDockableWindow::SetResizable(bool value)
{
    if (value == resizable_) return;
    resizable_ = value;
    // The floating frame's border follows.
    if (floating_) Arrange();
    if (floatingParent_ && floatingParent_->HandleAllocated()) SetFrameChanged(floatingParent_->Handle());
}

void TDkCustomDockableWindow::SetShowCaption(bool value)
{
    if (value == showCaption_) return;
    showCaption_ = value;
    if (floating_) Arrange();
    if (floatingParent_ && floatingParent_->HandleAllocated()) SetFrameChanged(floatingParent_->Handle());
}

void TDkCustomDockableWindow::SetBorderStyle(TFormBorderStyle value)
{
    if (value == borderStyle_) return;
    borderStyle_ = value;
    RedrawNonClient();
}

void TDkCustomDockableWindow::SetDragHandleStyle(TDkDragHandleStyle value)
{
    if (value == dragHandleStyle_) return;
    dragHandleStyle_ = value;
    FrameChanged(this);
}

// The owner of a floating window is fixed when it is made: a new mode takes effect the
// next time the window floats.
void TDkCustomDockableWindow::SetFloatingMode(TDkFloatingMode value) { floatingMode_ = value; }

// Sizes

int TDkCustomDockableWindow::HandleSize() const
{
    if (!docked_ || !currentDock_ || !currentDock_->AllowDrag()) return 0;
    return DkDragHandleSize(dragHandleStyle_, closeButtonWhenDocked_);
}

SIZE TDkCustomDockableWindow::NonClientSizeFor(TDkDock* dock) const
{
    if (!dock) return {0, 0};
    SIZE s = {2 * DockedBorder, 2 * DockedBorder};
    if (dock->AllowDrag()) {
        const int handle = DkDragHandleSize(dragHandleStyle_, closeButtonWhenDocked_);
        if (dock->Vertical()) s.cy += handle;
        else s.cx += handle;
    }
    return s;
}

SIZE TDkCustomDockableWindow::NonClientSize() { return docked_ ? NonClientSizeFor(currentDock_) : SIZE{0, 0}; }

SIZE TDkCustomDockableWindow::Margins() const
{
    if (!docked_ || !currentDock_) return {0, 0};
    SIZE s = {4, 4};
    if (currentDock_->AllowDrag()) {
        const int along = DkDragHandleSize(dragHandleStyle_, closeButtonWhenDocked_) + 4;
        if (currentDock_->Vertical()) s.cy += along;
        else s.cx += along;
    }
    return s;
}

SIZE TDkCustomDockableWindow::CalcDockedSize(TDkDock* dock)
{
    const POINT client = DoArrange(false, dock);
    const SIZE nc = NonClientSizeFor(dock);
    return {client.x + nc.cx, client.y + nc.cy};
}

SIZE TDkCustomDockableWindow::FloatingBorderSize() const
{
    if (resizable_) return {GetSystemMetrics(SM_CXFRAME), GetSystemMetrics(SM_CYFRAME)};
    return {GetSystemMetrics(SM_CXFIXEDFRAME), GetSystemMetrics(SM_CYFIXEDFRAME)};
}

int TDkCustomDockableWindow::FloatingCaptionHeight() const
{
    return showCaption_ ? GetSystemMetrics(SM_CYSMCAPTION) : 0;
}

POINT TDkCustomDockableWindow::GetBaseSize() { return baseSize_; }

int TDkCustomDockableWindow::GetMinimumLength() { return 0; }

POINT TDkCustomDockableWindow::DoArrange(bool canMoveControls, TDkDock* newDock)
{
    (void)canMoveControls;
    (void)newDock;
    return GetBaseSize();
}

void TDkCustomDockableWindow::Arrange()
{
    if (disableArrange_ > 0) {
        arrangeNeeded_ = true;
        return;
    }
    arrangeNeeded_ = false;
    if (docked_) {
        currentDock_->ArrangeToolbars();
        return;
    }
    const bool floating = floating_ && floatingParent_;
    if (!floating && (!AutoResize() || !parent_)) return;
    const POINT size = DoArrange(true, nullptr);
    ++updateBounds_;
    try {
        if (floating) {
            floatingParent_->SetClientSizeOf({size.x, size.y});
            SetBounds(0, 0, size.x, size.y);
        } else {
            SetBounds(left_, top_, size.x, size.y);
        }
    } catch (...) {
        --updateBounds_;
        throw;
    }
    --updateBounds_;
}

void TDkCustomDockableWindow::BeginUpdate() { ++disableArrange_; }

void TDkCustomDockableWindow::EndUpdate()
{
    if (disableArrange_ > 0 && --disableArrange_ == 0 && arrangeNeeded_) Arrange();
}

void TDkCustomDockableWindow::ReadPositionData(const TDkPositionReadIntProc& read) { (void)read; }

void TDkCustomDockableWindow::WritePositionData(const TDkPositionWriteIntProc& write) { (void)write; }

void TDkCustomDockableWindow::GetMinMaxSize(int& minWidth, int& minHeight, int& maxWidth, int& maxHeight)
{
    minWidth = minHeight = 0;
    maxWidth = maxHeight = 0;
}

void TDkCustomDockableWindow::SizingBegins(int edge) { (void)edge; }

void TDkCustomDockableWindow::SizingEnds(bool applied) { (void)applied; }

void TDkCustomDockableWindow::AdjustSizingRect(RECT& rect, int edge)
{
    (void)rect;
    (void)edge;
}

// Closing

void TDkCustomDockableWindow::Close()
{
    bool canClose = true;
    if (OnCloseQuery && !Quiet()) OnCloseQuery(this, canClose);
    if (!canClose) return;
    SetVisible(false);
    if (OnClose && !Quiet()) OnClose(this);
}

// The docked frame

RECT TDkCustomDockableWindow::DockedCloseButtonRect()
{
    const int size = HandleSize() - 3;
    if (!closeButtonWhenDocked_ || size <= 0) return {0, 0, 0, 0};
    if (!currentDock_->Vertical()) return {3, 2, 3 + size, 2 + size};
    const int clientWidth = WindowSize(handle_).cx - 2 * DockedBorder;
    const int x = clientWidth - size + 2;
    return {x, 3, x + size, 3 + size};
}

void TDkCustomDockableWindow::DrawDockedCloseButton(HDC dc)
{
    RECT r = DockedCloseButtonRect();
    if (Empty(r)) return;
    FillRect(dc, &r, brush_.Handle());
    if (closeButtonDown_) DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
    else if (closeButtonHover_) DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
    DrawSmallX(dc, r, closeButtonDown_);
}

void TDkCustomDockableWindow::PaintNonClient(HDC dc)
{
    if (!docked_ || !handle_) return;
    const SIZE size = WindowSize(handle_);
    const bool vertical = currentDock_->Vertical();
    const int handle = HandleSize();
    const RECT whole = {0, 0, size.cx, size.cy};
    const RECT client = {DockedBorder + (vertical ? 0 : handle), DockedBorder + (vertical ? handle : 0),
                         size.cx - DockedBorder, size.cy - DockedBorder};
    TSavedDC saved(dc);
    ExcludeClipRect(dc, client.left, client.top, client.right, client.bottom);
    FillRect(dc, &whole, brush_.Handle());
    if (borderStyle_ == bsSingle) {
        RECT edge = whole;
        DrawEdge(dc, &edge, BDR_RAISEDINNER, BF_RECT);
    }
    if (handle <= 0) return;
    RECT band = vertical ? RECT{DockedBorder, DockedBorder, size.cx - DockedBorder, DockedBorder + handle}
                         : RECT{DockedBorder, DockedBorder, DockedBorder + handle, size.cy - DockedBorder};
    if (closeButtonWhenDocked_) {
        const RECT button = DockedCloseButtonRect();
        DrawDockedCloseButton(dc);
        if (vertical) band.right = button.left - 2;
        else band.top = button.bottom + 2;
    }
    if (dragHandleStyle_ != dhNone) DrawGrip(dc, band, vertical, dragHandleStyle_ == dhDouble ? 2 : 1);
}

void TDkCustomDockableWindow::RedrawNonClient()
{
    if (!handle_ || !docked_) return;
    TWindowDC dc(handle_);
    if (dc.Get()) PaintNonClient(dc.Get());
}

void TDkCustomDockableWindow::TrackDockedCloseButton()
{
    const RECT button = DockedCloseButtonRect();
    const bool released = TrackFrameButton(handle_, button, [this](bool down) {
        closeButtonDown_ = down;
        RedrawNonClient();
    });
    if (released) Close();
}

bool TDkCustomDockableWindow::SetCursorFor(int hitCode)
{
    if (hitCode != DkHitHandle || dragHandleStyle_ == dhNone) return false;
    const int handle = HandleSize();
    if (handle <= 0) return false;
    POINT p;
    GetCursorPos(&p);
    const POINT at = WindowPoint(handle_, p);
    const int lead = currentDock_->Vertical() ? at.y : at.x;
    if (lead >= handle + 2) return false;
    SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_SIZEALL)));
    return true;
}

void TDkCustomDockableWindow::WndProc(TMessage& m)
{
    switch (m.Msg) {
    case WM_NCCALCSIZE:
        if (docked_) {
            auto* r = reinterpret_cast<RECT*>(m.LParam);
            const int handle = HandleSize();
            const bool vertical = currentDock_->Vertical();
            r->left += DockedBorder + (vertical ? 0 : handle);
            r->top += DockedBorder + (vertical ? handle : 0);
            r->right -= DockedBorder;
            r->bottom -= DockedBorder;
            if (r->right < r->left) r->right = r->left;
            if (r->bottom < r->top) r->bottom = r->top;
            m.Result = 0;
            return;
        }
        break;
    case WM_NCPAINT:
        if (docked_) {
            TWindowDC dc(handle_);
            if (dc.Get()) {
                SelectNCUpdateRgn(handle_, dc.Get(), reinterpret_cast<HRGN>(m.WParam));
                PaintNonClient(dc.Get());
            }
            m.Result = 0;
            return;
        }
        break;
    case WM_PRINT:
        HandleWMPrint(handle_, m, [this](HWND, HDC dc) { PaintNonClient(dc); });
        return;
    case WM_PRINTCLIENT:
        HandleWMPrintClient([this](HDC dc) { PaintOn(dc); }, m);
        return;
    case WM_NCHITTEST:
        DefaultHandler(m);
        if (docked_ && m.Result != HTCLIENT) {
            const POINT at = WindowPoint(handle_, {GET_X_LPARAM(m.LParam), GET_Y_LPARAM(m.LParam)});
            const RECT button = DockedCloseButtonRect();
            const bool close = closeButtonWhenDocked_ && currentDock_->AllowDrag() && PtInRect(&button, at);
            m.Result = close ? DkHitClose : DkHitHandle;
        }
        return;
    case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(m.WParam) == handle_) {
            const int hit = static_cast<short>(LOWORD(m.LParam));
            if (SetCursorFor(hit)) {
                m.Result = 1;
                return;
            }
            if (hit == DkHitHandle || hit == DkHitClose) {
                SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW)));
                m.Result = 1;
                return;
            }
        }
        break;
    case WM_NCLBUTTONDOWN:
        if (docked_ && m.WParam == static_cast<WPARAM>(DkHitHandle)) {
            if (currentDock_->AllowDrag())
                BeginMoving(WindowPoint(handle_, {GET_X_LPARAM(m.LParam), GET_Y_LPARAM(m.LParam)}));
            m.Result = 0;
            return;
        }
        if (docked_ && m.WParam == static_cast<WPARAM>(DkHitClose)) {
            TrackDockedCloseButton();
            m.Result = 0;
            return;
        }
        break;
    case WM_NCMOUSEMOVE:
        if (docked_ && closeButtonWhenDocked_) {
            const POINT at = WindowPoint(handle_, {GET_X_LPARAM(m.LParam), GET_Y_LPARAM(m.LParam)});
            const RECT button = DockedCloseButtonRect();
            const bool hover = PtInRect(&button, at) != FALSE;
            if (hover != closeButtonHover_) {
                closeButtonHover_ = hover;
                RedrawNonClient();
            }
            if (hover) CallTrackMouseEvent(handle_, TME_LEAVE | TME_NONCLIENT);
        }
        break;
    case WM_NCMOUSELEAVE:
        if (closeButtonHover_) {
            closeButtonHover_ = false;
            RedrawNonClient();
        }
        break;
    case WM_ERASEBKGND:
        if (docked_) {
            TDkBasicBackground* background = currentDock_->Background();
            if (background && background->UsingBackground() && currentDock_->BackgroundOnToolbars()) {
                const HDC dc = reinterpret_cast<HDC>(m.WParam);
                RECT client;
                GetClientRect(handle_, &client);
                POINT origin = {0, 0};
                if (TWinControl* dockParent = currentDock_->Parent(); dockParent && dockParent->HandleAllocated())
                    MapWindowPoints(handle_, dockParent->Handle(), &origin, 1);
                TSavedDC saved(dc);
                IntersectClipRect(dc, client.left, client.top, client.right, client.bottom);
                background->PaintBackground(dc, client, {-origin.x, -origin.y});
                m.Result = 1;
                return;
            }
        }
        break;
    }
    TCustomControl::WndProc(m);
}

// The floating parent

TDkFloatingWindowParent::TDkFloatingWindowParent(TComponent* owner, TDkCustomDockableWindow* window)
    : TCustomForm(owner), window_(window)
{
    if (window) {
        form_ = window->GetFormOf();
        form_->FreeNotification(this);
    }
    char name[40];
    std::snprintf(name, sizeof name, "DkFloatingWindowParent_%.8x",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(this) & 0xFFFFFFFFu));
    SetName(name);
    SetShowHint(true);
    // The form's window was made before this class's parameters counted.
    RecreateWnd();
}

TDkFloatingWindowParent::~TDkFloatingWindowParent()
{
    SetDestroying();
    if (TDkCustomDockableWindow* w = window_) {
        window_ = nullptr;
        if (w->floatingParent_ == this) {
            w->floatingParent_ = nullptr;
            w->floating_ = false;
        }
        if (w->Parent() == this) w->SetParent(nullptr);
    }
    if (form_) form_->RemoveFreeNotification(this);
}

void TDkFloatingWindowParent::Dispose()
{
    window_ = nullptr;
    if (handling_ > 0) {
        disposing_ = true;
        if (HandleAllocated()) ShowWindow(handle_, SW_HIDE);
        return;
    }
    delete this;
}

void TDkFloatingWindowParent::Notification(TComponent* component, TOperation operation)
{
    TCustomForm::Notification(component, operation);
    if (operation == opRemove && component == form_) {
        // The form it floated for is gone, and so is the reason to show.
        form_ = nullptr;
        SetVisible(false);
    }
}

HWND TDkFloatingWindowParent::OwnerWindow()
{
    // Over its form (or over the main form, on top of all the program's forms).
    TCustomForm* owner = TopFormOf(form_);
    if (window_ && window_->FloatingMode() == fmOnTopOfAllForms && Application->MainForm) owner = Application->MainForm;
    return owner && owner != this && owner->HandleAllocated() ? owner->Handle() : nullptr;
}

void TDkFloatingWindowParent::UpdateOwner()
{
    if (!handle_) return;
    const HWND owner = OwnerWindow();
    if (owner && GetWindow(handle_, GW_OWNER) != owner)
        SetWindowLongPtrA(handle_, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
}

void TDkFloatingWindowParent::CreateParams(TCreateParams& params)
{
    TCustomForm::CreateParams(params);
    params.ClassName = RegisteredFloatingClass();
    params.Style = WS_POPUP | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    params.ExStyle = WS_EX_TOOLWINDOW | WS_EX_CONTROLPARENT;
    params.Parent = OwnerWindow();
}

void TDkFloatingWindowParent::CreateWnd()
{
    TCustomForm::CreateWnd();
    SetFrameChanged(handle_);
}

void TDkFloatingWindowParent::SetVisible(bool visible)
{
    if (visible) Handle();
    TControl::SetVisible(visible);
    if (handle_) ShowWindow(handle_, visible ? SW_SHOWNA : SW_HIDE);
}

TDkFloatingFrame TDkFloatingWindowParent::Frame()
{
    TDkFloatingFrame f;
    f.Window = handle_ ? WindowSize(handle_) : SIZE{width_, height_};
    f.SmallCaption = GetSystemMetrics(SM_CYSMCAPTION);
    if (window_) {
        f.Border = window_->FloatingBorderSize();
        f.ShowCaption = window_->ShowCaption();
        f.CloseButton = window_->CloseButton();
        f.Resizable = window_->Resizable();
        f.EightCorners = (window_->DockableWindowStyles & dkwsResizeEightCorner) != 0;
    } else {
        f.ShowCaption = f.CloseButton = f.Resizable = false;
    }
    return f;
}

RECT TDkFloatingWindowParent::CaptionRect()
{
    const TDkFloatingFrame f = Frame();
    if (!f.ShowCaption) return {0, 0, 0, 0};
    return {f.Border.cx, f.Border.cy, f.Window.cx - f.Border.cx, f.Border.cy + f.SmallCaption - 1};
}

RECT TDkFloatingWindowParent::CloseButtonRect()
{
    const TDkFloatingFrame f = Frame();
    if (!f.ShowCaption || !f.CloseButton) return {0, 0, 0, 0};
    const RECT band = CaptionRect();
    return {band.right - f.SmallCaption + 1, band.top, band.right, band.bottom};
}

void TDkFloatingWindowParent::SetClientSizeOf(SIZE client)
{
    const SIZE border = window_ ? window_->FloatingBorderSize() : SIZE{0, 0};
    const int caption = window_ ? window_->FloatingCaptionHeight() : 0;
    SetBounds(left_, top_, std::max<LONG>(0, client.cx) + 2 * border.cx,
              std::max<LONG>(0, client.cy) + 2 * border.cy + caption);
}

void TDkFloatingWindowParent::PaintNonClient(HDC dc)
{
    const TDkFloatingFrame f = Frame();
    const int caption = window_ ? window_->FloatingCaptionHeight() : 0;
    const RECT whole = {0, 0, f.Window.cx, f.Window.cy};
    const RECT client = {f.Border.cx, f.Border.cy + caption, f.Window.cx - f.Border.cx, f.Window.cy - f.Border.cy};
    TSavedDC saved(dc);
    ExcludeClipRect(dc, client.left, client.top, client.right, client.bottom);
    FillRect(dc, &whole, GetSysColorBrush(COLOR_BTNFACE));
    RECT edge = whole;
    DrawEdge(dc, &edge, EDGE_RAISED, BF_RECT);
    if (!f.ShowCaption) return;

    const RECT band = CaptionRect();
    TCustomForm* top = TopFormOf(form_);
    const HWND active = GetActiveWindow();
    const bool activeLook = active == handle_ || (top && top->HandleAllocated() && active == top->Handle());
    FillRect(dc, &band, GetSysColorBrush(activeLook ? COLOR_ACTIVECAPTION : COLOR_INACTIVECAPTION));
    const RECT button = CloseButtonRect();
    RECT text = band;
    text.left += 2;
    if (!Empty(button)) text.right = button.left - 2;
    NONCLIENTMETRICSA metrics;
    TGdiObject font;
    if (DkNonClientMetrics(metrics)) font.Reset(CreateFontIndirectA(&metrics.lfSmCaptionFont));
    {
        TSavedDC textState(dc);
        if (font) SelectObject(dc, font.Get());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(activeLook ? COLOR_CAPTIONTEXT : COLOR_INACTIVECAPTIONTEXT));
        const std::string caption = Text();
        if (text.right > text.left)
            DrawTextA(dc, caption.c_str(), static_cast<int>(caption.size()), &text,
                      DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
    }
    if (!Empty(button)) {
        // Drawn here: the system's caption glyphs need a symbol font that not every system has.
        RECT r = button;
        FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
        DrawEdge(dc, &r, closeDown_ ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
        DrawSmallX(dc, button, closeDown_);
    }
}

void TDkFloatingWindowParent::TrackCloseButton()
{
    const RECT button = CloseButtonRect();
    const bool released = TrackFrameButton(handle_, button, [this](bool down) {
        closeDown_ = down;
        if (!handle_) return;
        TWindowDC dc(handle_);
        if (dc.Get()) PaintNonClient(dc.Get());
    });
    if (released && window_) window_->Close();
}

void TDkFloatingWindowParent::MouseActivated(TMessage& m)
{
    m.Result = MA_NOACTIVATE;
    SetWindowPos(handle_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (!window_ || window_->FloatingMode() != fmOnTopOfParentForm || !window_->ActivateParent) return;
    if (GetActiveWindow() == handle_) return;
    TCustomForm* top = TopFormOf(form_);
    if (!top || !top->HandleAllocated()) return;
    SetActiveWindow(top->Handle());
    if (form_ && form_ != top && form_->HandleAllocated()) BringWindowToTop(form_->Handle());
}

void TDkFloatingWindowParent::Activated(TMessage& m)
{
    const bool active = LOWORD(m.WParam) != WA_INACTIVE;
    TCustomForm* top = TopFormOf(form_);
    const HWND topWindow = top && top->HandleAllocated() ? top->Handle() : nullptr;
    // The form's caption looks active or inactive together with this one.
    if (topWindow) SendMessageA(topWindow, WM_NCACTIVATE, active ? TRUE : FALSE, 0);
    if (active) {
        if (!IsWindowVisible(handle_)) {
            if (const HWND owner = GetWindow(handle_, GW_OWNER)) SetActiveWindow(owner);
        } else if (topWindow && topWindow != reinterpret_cast<HWND>(m.LParam)) {
            SetActiveWindow(topWindow);
        }
    }
    m.Result = 0;
}

void TDkFloatingWindowParent::WndProc(TMessage& m)
{
    ++handling_;
    try {
        switch (m.Msg) {
        case WM_NCCALCSIZE: {
            auto* r = reinterpret_cast<RECT*>(m.LParam);
            const SIZE border = window_ ? window_->FloatingBorderSize() : SIZE{0, 0};
            const int caption = window_ ? window_->FloatingCaptionHeight() : 0;
            r->left += border.cx;
            r->right -= border.cx;
            r->top += border.cy + caption;
            r->bottom -= border.cy;
            if (r->right < r->left) r->right = r->left;
            if (r->bottom < r->top) r->bottom = r->top;
            m.Result = 0;
            break;
        }
        case WM_NCPAINT: {
            TWindowDC dc(handle_);
            if (dc.Get()) {
                SelectNCUpdateRgn(handle_, dc.Get(), reinterpret_cast<HRGN>(m.WParam));
                PaintNonClient(dc.Get());
            }
            m.Result = 0;
            break;
        }
        case WM_NCACTIVATE: {
            TWindowDC dc(handle_);
            if (dc.Get()) PaintNonClient(dc.Get());
            m.Result = TRUE;
            break;
        }
        case WM_SETTEXT: {
            DefaultHandler(m);
            TWindowDC dc(handle_);
            if (dc.Get()) PaintNonClient(dc.Get());
            break;
        }
        case WM_PRINT:
            HandleWMPrint(handle_, m, [this](HWND, HDC dc) { PaintNonClient(dc); });
            break;
        case WM_NCHITTEST: {
            const POINT screen = {GET_X_LPARAM(m.LParam), GET_Y_LPARAM(m.LParam)};
            POINT client = screen;
            ::ScreenToClient(handle_, &client);
            RECT r;
            GetClientRect(handle_, &r);
            m.Result = PtInRect(&r, client) ? HTCLIENT : DkFloatingHitTest(Frame(), WindowPoint(handle_, screen));
            break;
        }
        case WM_SETCURSOR: {
            const int hit = static_cast<short>(LOWORD(m.LParam));
            if (reinterpret_cast<HWND>(m.WParam) == handle_ && (hit == DkHitClose || hit == DkHitCaption)) {
                SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW)));
                m.Result = 1;
            } else {
                TCustomForm::WndProc(m);
            }
            break;
        }
        case WM_NCLBUTTONDOWN: {
            const int hit = static_cast<int>(m.WParam);
            const POINT screen = {GET_X_LPARAM(m.LParam), GET_Y_LPARAM(m.LParam)};
            m.Result = 0;
            if (hit >= HTLEFT && hit <= HTBOTTOMRIGHT) {
                if (window_ && window_->Resizable()) window_->BeginSizing(hit - HTLEFT);
            } else if (hit == DkHitClose) {
                TrackCloseButton();
            } else if (hit == DkHitCaption) {
                POINT client = screen;
                ::ScreenToClient(handle_, &client);
                if (window_) window_->BeginMoving(client);
            } else {
                TCustomForm::WndProc(m);
            }
            break;
        }
        case WM_NCMOUSEMOVE: {
            const RECT button = CloseButtonRect();
            const bool hover = PtInRect(&button, WindowPoint(handle_, {GET_X_LPARAM(m.LParam), GET_Y_LPARAM(m.LParam)}));
            if (hover != closeHover_) closeHover_ = hover;
            if (hover) CallTrackMouseEvent(handle_, TME_LEAVE | TME_NONCLIENT);
            TCustomForm::WndProc(m);
            break;
        }
        case WM_NCMOUSELEAVE:
            closeHover_ = false;
            TCustomForm::WndProc(m);
            break;
        case WM_GETMINMAXINFO: {
            auto* info = reinterpret_cast<MINMAXINFO*>(m.LParam);
            info->ptMinTrackSize = {1, 1};
            info->ptMaxTrackSize = {32767, 32767};
            m.Result = 0;
            break;
        }
        case WM_CLOSE: {
            TCustomForm* top = TopFormOf(form_);
            if (top && top->HandleAllocated()) SendMessageA(top->Handle(), WM_CLOSE, 0, 0);
            m.Result = 0;
            break;
        }
        case WM_MOUSEACTIVATE:
            MouseActivated(m);
            break;
        case WM_ACTIVATE:
            Activated(m);
            break;
        case WM_SIZE:
            TCustomForm::WndProc(m);
            if (window_) window_->FloatingClientSized(LOWORD(m.LParam), HIWORD(m.LParam));
            break;
        case WM_MOVE:
            TCustomForm::WndProc(m);
            if (window_ && window_->floating_ && handle_) {
                RECT r;
                GetWindowRect(handle_, &r);
                window_->floatingPosition_ = {r.left, r.top};
                if (window_->OnMove && !window_->Quiet()) window_->OnMove(window_);
            }
            break;
        case WM_NCDESTROY:
            // Destroyed with its owner: the object stays, without a window, and makes a new one
            // when it shows again.
            TCustomForm::WndProc(m);
            handle_ = nullptr;
            visible_ = false;
            break;
        default:
            TCustomForm::WndProc(m);
            break;
        }
    } catch (...) {
        if (--handling_ == 0 && disposing_) delete this;
        throw;
    }
    // Let go of while it handled a message: it goes once the last one returns.
    if (--handling_ == 0 && disposing_) delete this;
}
