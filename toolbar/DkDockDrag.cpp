// The drag and resize loops of dockable windows, and the decisions they take.
#include "DkDockDrag.h"

#include "DkCommon.h"
#include "DkDock.h"

#include <algorithm>
#include <cstdlib>

// Decisions

int DkGrabScale(int length, int part, int whole)
{
    return whole > 0 ? MulDiv(length, part, whole) : 0;
}

RECT DkDragRect(POINT cursor, const TDkDragGrab& grab, SIZE size)
{
    const int left = cursor.x - DkGrabScale(size.cx - 1, grab.Offset.x, grab.Extent.cx);
    const int top = cursor.y - DkGrabScale(size.cy - 1, grab.Offset.y, grab.Extent.cy);
    return {left, top, left + size.cx, top + size.cy};
}

bool DkDockInReach(const RECT& dock, bool verticalDock, POINT cursor, const TDkDragGrab& grab, const RECT& docked)
{
    RECT grown = dock;
    InflateRect(&grown, 3, 3);
    // The reach leans the way the grab point lies in the window: grabbed at its right
    // end, the window docks with the cursor further right of the dock.
    const int gx = DkGrabScale(25, grab.Offset.x, grab.Extent.cx);
    const int gy = DkGrabScale(25, grab.Offset.y, grab.Extent.cy);
    if (cursor.x < grown.left + gx - 25 || cursor.x >= grown.right + gx) return false;
    if (cursor.y < grown.top + gy - 25 || cursor.y >= grown.bottom + gy) return false;
    if (verticalDock && (cursor.y < grown.top || cursor.y >= grown.bottom)) return false;
    RECT overlap;
    return IntersectRect(&overlap, &grown, &docked) != FALSE;
}

POINT DkClampToArea(POINT p, const RECT& area)
{
    return {std::max(area.left, std::min(p.x, area.right - 1)), std::max(area.top, std::min(p.y, area.bottom - 1))};
}

RECT DkClampFloatingRect(RECT rect, const RECT& workArea, SIZE border)
{
    RECT inner = workArea;
    InflateRect(&inner, -(border.cx + 4), -(border.cy + 4));
    int dx = 0, dy = 0;
    if (rect.bottom < inner.top)
        dy = inner.top - rect.bottom;
    else if (rect.top > inner.bottom)
        dy = inner.bottom - rect.top;
    if (rect.right < inner.left)
        dx = inner.left - rect.right;
    else if (rect.left > inner.right)
        dx = inner.right - rect.left;
    OffsetRect(&rect, dx, dy);
    if (rect.top < workArea.top) OffsetRect(&rect, 0, workArea.top - rect.top);
    return rect;
}

TDkRowHit DkFindDragRow(const std::vector<TDkDragRow>& rows, int middle, bool fullSize)
{
    int start = 0;
    for (size_t r = 0; r < rows.size(); ++r) {
        const int thickness = rows[r].Thickness;
        if (thickness <= 0) continue;
        const bool full = fullSize || rows[r].FullSize;
        const int edge = full ? thickness / 2 : thickness / 4;
        if (middle < start + edge) return {static_cast<int>(r), true};
        if (!full && middle < start + thickness - edge) return {static_cast<int>(r), false};
        start += thickness;
    }
    return {static_cast<int>(rows.size()), true};
}

bool DkEdgeChangesWidth(int edge) { return edge == 0 || edge == 1 || edge == 3 || edge == 4 || edge == 6 || edge == 7; }
bool DkEdgeChangesHeight(int edge) { return edge >= 2 && edge <= 7; }
bool DkEdgeMovesLeft(int edge) { return edge == 0 || edge == 3 || edge == 6; }
bool DkEdgeMovesTop(int edge) { return edge == 2 || edge == 3 || edge == 4; }

namespace {

// One axis of a resize step: the moving side follows the cursor, then goes back as far
// as the limits ask.
void SizeAxis(LONG& low, LONG& high, bool lowMoves, int travel, int least, int most)
{
    (lowMoves ? low : high) += travel;
    int length = high - low;
    if (most > 0 && length > most) length = most;
    length = std::max({length, least, 0});
    if (lowMoves)
        low = high - length;
    else
        high = low + length;
}

}  // namespace

RECT DkSizingRect(const RECT& start, POINT travel, int edge, SIZE minSize, SIZE maxSize)
{
    RECT r = start;
    if (DkEdgeChangesWidth(edge)) SizeAxis(r.left, r.right, DkEdgeMovesLeft(edge), travel.x, minSize.cx, maxSize.cx);
    if (DkEdgeChangesHeight(edge)) SizeAxis(r.top, r.bottom, DkEdgeMovesTop(edge), travel.y, minSize.cy, maxSize.cy);
    return r;
}

// The loops

namespace {

// Each guard gives back one thing a loop takes, on every way out, exceptions included.

class TCaptureGuard {
public:
    explicit TCaptureGuard(HWND window) : window_(window) { SetCapture(window); }
    TCaptureGuard(const TCaptureGuard&) = delete;
    TCaptureGuard& operator=(const TCaptureGuard&) = delete;
    ~TCaptureGuard() { Release(); }
    bool Held() const { return window_ && GetCapture() == window_; }
    void Release()
    {
        if (Held()) ReleaseCapture();
        window_ = nullptr;
    }

private:
    HWND window_;
};

// The desktop locked against updates, with the outline drawn on it.
class TDesktopOutline {
public:
    explicit TDesktopOutline(bool active)
    {
        if (!active) return;
        desktop_ = GetDesktopWindow();
        RECT bounds;
        GetWindowRect(desktop_, &bounds);
        origin_ = {bounds.left, bounds.top};
        locked_ = LockWindowUpdate(desktop_) != FALSE;
        dc_ = GetDCEx(desktop_, nullptr, DCX_WINDOW | DCX_CACHE | (locked_ ? DCX_LOCKWINDOWUPDATE : 0));
    }
    TDesktopOutline(const TDesktopOutline&) = delete;
    TDesktopOutline& operator=(const TDesktopOutline&) = delete;
    ~TDesktopOutline() { End(); }

    // Moves the outline to `rect` (screen; empty: none).
    void Show(RECT rect, SIZE frame)
    {
        if (!dc_) return;
        const bool show = !IsRectEmpty(&rect);
        OffsetRect(&rect, -origin_.x, -origin_.y);
        DrawHalftoneInvertRect(dc_, show ? &rect : nullptr, shown_ ? &rect_ : nullptr, frame, frame_);
        shown_ = show;
        rect_ = rect;
        frame_ = frame;
    }
    void End()
    {
        if (dc_) {
            if (shown_) DrawHalftoneInvertRect(dc_, nullptr, &rect_, frame_, frame_);
            shown_ = false;
            ReleaseDC(desktop_, dc_);
            dc_ = nullptr;
        }
        if (locked_) LockWindowUpdate(nullptr);
        locked_ = false;
    }

private:
    HWND desktop_ = nullptr;
    HDC dc_ = nullptr;
    POINT origin_ = {0, 0};
    bool locked_ = false;
    bool shown_ = false;
    RECT rect_ = {0, 0, 0, 0};
    SIZE frame_ = {0, 0};
};

TDkClipCursorProc clipCursor = ClipCursor;

class TClipCursorGuard {
public:
    TClipCursorGuard() = default;
    TClipCursorGuard(const TClipCursorGuard&) = delete;
    TClipCursorGuard& operator=(const TClipCursorGuard&) = delete;
    ~TClipCursorGuard() { Release(); }
    void Clip(const RECT& area) { clipped_ = clipCursor(&area) != FALSE; }
    void Release()
    {
        if (clipped_) clipCursor(nullptr);
        clipped_ = false;
    }

private:
    bool clipped_ = false;
};

// A WM_QUIT that ended a loop goes back into the queue for the loop outside.
struct TQuitRepost {
    bool Quit = false;
    int Code = 0;
    TQuitRepost() = default;
    TQuitRepost(const TQuitRepost&) = delete;
    TQuitRepost& operator=(const TQuitRepost&) = delete;
    ~TQuitRepost()
    {
        if (Quit) PostQuitMessage(Code);
    }
};

// The next message of a loop that holds the capture; false when the loop has to end: the
// capture went elsewhere or WM_QUIT came. Messages sent by other threads are handled
// while waiting, and a capture they take away is seen at once.
bool NextLoopMessage(const TCaptureGuard& capture, MSG& msg, TQuitRepost& quit)
{
    for (;;) {
        if (!capture.Held()) return false;
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message != WM_QUIT) return true;
            quit.Quit = true;
            quit.Code = static_cast<int>(msg.wParam);
            return false;
        }
        MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

bool IgnoredButton(UINT message)
{
    switch (message) {
    case WM_RBUTTONDOWN: case WM_RBUTTONUP: case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN: case WM_MBUTTONUP: case WM_MBUTTONDBLCLK:
    case WM_XBUTTONDOWN: case WM_XBUTTONUP: case WM_XBUTTONDBLCLK:
        return true;
    default:
        return false;
    }
}

bool KeyMessage(UINT message)
{
    return message == WM_KEYDOWN || message == WM_KEYUP || message == WM_SYSKEYDOWN || message == WM_SYSKEYUP;
}

bool KeyDown(UINT message) { return message == WM_KEYDOWN || message == WM_SYSKEYDOWN; }

bool SamePoint(POINT a, POINT b) { return a.x == b.x && a.y == b.y; }

HCURSOR SystemCursor(LPCSTR id) { return LoadCursorA(nullptr, id); }

// The docks of a control's children, depth first; dockable windows hold none.
void CollectDocks(TWinControl* parent, std::vector<TDkDock*>& docks)
{
    for (int i = 0; i < parent->ControlCount(); ++i) {
        TControl* control = parent->Controls(i);
        if (auto* dock = dynamic_cast<TDkDock*>(control)) {
            if (std::find(docks.begin(), docks.end(), dock) == docks.end()) docks.push_back(dock);
        } else if (auto* child = dynamic_cast<TWinControl*>(control)) {
            if (!dynamic_cast<TDkCustomDockableWindow*>(child)) CollectDocks(child, docks);
        }
    }
}

}  // namespace

class TDkDragLoop {
public:
    explicit TDkDragLoop(TDkCustomDockableWindow* window) : window_(window) {}
    void Move(POINT grab);
    void Size(int edge);

private:
    struct TCandidate {
        TDkDock* Dock = nullptr;
        RECT ScreenRect = {0, 0, 0, 0};  // the dock's window
        POINT Origin = {0, 0};           // its client area's top-left on the screen
        SIZE Size = {0, 0};              // the window's size docked there
        std::vector<TDkDragRow> Rows;
    };
    struct TTarget {
        int Dock = -1;  // index into docks_, -1: floating
        RECT Rect = {0, 0, 0, 0};
        TDkRowHit Row;
        bool operator==(const TTarget& o) const { return Dock == o.Dock && EqualRect(&Rect, &o.Rect) && Row == o.Row; }
    };

    // The drag's own state of a dock, cleared on every way out.
    class TDockDragState {
    public:
        TDockDragState() = default;
        TDockDragState(const TDockDragState&) = delete;
        TDockDragState& operator=(const TDockDragState&) = delete;
        ~TDockDragState() { End(); }
        void Begin(TDkDock* dock, TDkCustomDockableWindow* window)
        {
            dock_ = dock;
            dock->DraggedWindow = window;
            dock->DragCanSplit = false;
            dock->DragSplitting = false;
        }
        // True when the dock was drag-splitting.
        bool End()
        {
            if (!dock_) return false;
            const bool splitting = dock_->DragSplitting;
            dock_->DraggedWindow = nullptr;
            dock_->DragCanSplit = false;
            dock_->DragSplitting = false;
            dock_ = nullptr;
            return splitting;
        }

    private:
        TDkDock* dock_ = nullptr;
    };

    class TMovingFlag {
    public:
        explicit TMovingFlag(TDkCustomDockableWindow* window) : window_(window) { window_->moving_ = true; }
        TMovingFlag(const TMovingFlag&) = delete;
        TMovingFlag& operator=(const TMovingFlag&) = delete;
        ~TMovingFlag() { window_->moving_ = false; }

    private:
        TDkCustomDockableWindow* window_;
    };

    void CollectCandidates();
    void RecordDock(TCandidate& candidate);
    SIZE FloatingFrameSize();
    bool RequestDock(TDkDock* dock);
    void Evaluate(POINT cursor, bool atStart);
    void Place(const TTarget& target, bool commit);
    void FloatAt(POINT p);
    void PutInDock(TDkDock* dock, int row, int pos, bool newRow, bool commit);
    SIZE OutlineFrame(const TTarget& target);

    TDkCustomDockableWindow* window_;
    std::vector<TCandidate> docks_;
    SIZE floatingSize_ = {0, 0};
    TDkDragGrab grab_;
    POINT startCursor_ = {0, 0};
    HCURSOR startCursorShape_ = nullptr;
    bool doNotDock_ = false;
    bool startFloating_ = false;
    int own_ = -1;      // the candidate of the dock the drag began in
    int ownRow_ = -1;
    bool canSplit_ = false;
    bool splitting_ = false;
    bool placed_ = false;  // a smooth drag has moved the window
    TTarget target_;
    TTarget placedAt_;
    TDesktopOutline* outline_ = nullptr;
};

SIZE TDkDragLoop::FloatingFrameSize()
{
    TDkFloatingWindowParent* parent = window_->FloatingParent();
    if (window_->Floating() && parent && parent->HandleAllocated()) {
        RECT r;
        GetWindowRect(parent->Handle(), &r);
        return {r.right - r.left, r.bottom - r.top};
    }
    const SIZE client = window_->CalcFloatingSize();
    const SIZE border = window_->FloatingBorderSize();
    return {client.cx + 2 * border.cx, client.cy + 2 * border.cy + window_->FloatingCaptionHeight()};
}

void TDkDragLoop::CollectCandidates()
{
    std::vector<TDkDock*> docks;
    TDkDock* current = window_->Docked() ? window_->CurrentDock() : nullptr;
    if (current) docks.push_back(current);
    if (window_->DockMode != dmCannotFloatOrChangeDocks) {
        std::vector<TDkDock*> found;
        CollectDocks(window_->GetFormOf(), found);
        for (TCustomForm* form : window_->DockForms())
            if (form) CollectDocks(form, found);
        for (TDkDock* dock : found) {
            if (dock == current) continue;
            if (!(window_->DockableTo & (1u << dock->Position()))) continue;
            if (!dock->HandleAllocated() || !IsWindowVisible(dock->Handle())) continue;
            docks.push_back(dock);
        }
    }
    for (TDkDock* dock : docks) {
        TCandidate c;
        c.Dock = dock;
        if (dock == current) {
            c.Size = {window_->Width(), window_->Height()};
        } else {
            c.Size = window_->CalcDockedSize(dock);
        }
        docks_.push_back(c);
    }
}

// What the drag keeps of a dock: every window's place taken as its own, the dock's
// rectangle and its rows.
void TDkDragLoop::RecordDock(TCandidate& c)
{
    TDkDock* dock = c.Dock;
    for (int i = 0; i < dock->ToolbarCount(); ++i) {
        TDkCustomDockableWindow* w = dock->Toolbars(i);
        if (w->EffectiveDockRow < 0) continue;
        w->dockRow_ = w->EffectiveDockRow;
        w->dockPos_ = w->EffectiveDockPos;
    }
    const HWND handle = dock->Handle();
    GetWindowRect(handle, &c.ScreenRect);
    c.Origin = {0, 0};
    ClientToScreen(handle, &c.Origin);
    const bool vertical = dock->Vertical();
    for (TDkCustomDockableWindow* w : dock->VisibleList()) {
        const int row = w->EffectiveDockRow;
        if (row < 0) continue;
        if (static_cast<int>(c.Rows.size()) <= row) c.Rows.resize(row + 1);
        TDkDragRow& r = c.Rows[row];
        r.Thickness = std::max(r.Thickness, vertical ? w->Width() : w->Height());
        r.FullSize = w->FullSize();
    }
    // The rows as the dock lays them out: each with its margin.
    for (TDkDragRow& r : c.Rows)
        if (r.Thickness > 0) r.Thickness += 4;
}

bool TDkDragLoop::RequestDock(TDkDock* dock)
{
    bool accept = true;
    if (dock->OnRequestDock) dock->OnRequestDock(dock, window_, accept);
    return accept;
}

SIZE TDkDragLoop::OutlineFrame(const TTarget& target)
{
    if (target.Dock >= 0) return {3, 3};
    const SIZE border = window_->FloatingBorderSize();
    return {std::max<LONG>(border.cx, 1), std::max<LONG>(border.cy, 1)};
}

void TDkDragLoop::Evaluate(POINT cursor, bool atStart)
{
    TTarget t;
    if (splitting_) {
        t.Dock = own_;
        t.Rect = DkDragRect(cursor, grab_, docks_[own_].Size);
    } else if (!doNotDock_ && !(atStart && startFloating_)) {
        for (size_t i = 0; i < docks_.size(); ++i) {
            const TCandidate& c = docks_[i];
            const RECT r = DkDragRect(cursor, grab_, c.Size);
            if (!DkDockInReach(c.ScreenRect, c.Dock->Vertical(), cursor, grab_, r)) continue;
            if (!RequestDock(c.Dock)) continue;
            t.Dock = static_cast<int>(i);
            t.Rect = r;
            break;
        }
    }
    if (t.Dock < 0) {
        const RECT area = DkSystem().MonitorRectOfPoint(cursor, true);
        t.Rect = DkDragRect(DkClampToArea(cursor, area), grab_, floatingSize_);
        t.Rect = DkClampFloatingRect(t.Rect, area, window_->FloatingBorderSize());
    } else if (splitting_) {
        t.Row = {ownRow_, false};
    } else {
        const TCandidate& c = docks_[t.Dock];
        const int middle = c.Dock->Vertical() ? ((t.Rect.left - c.Origin.x) + (t.Rect.right - c.Origin.x)) / 2
                                              : ((t.Rect.top - c.Origin.y) + (t.Rect.bottom - c.Origin.y)) / 2;
        t.Row = DkFindDragRow(c.Rows, middle, window_->FullSize());
    }

    if (canSplit_ && !splitting_) {
        if (t.Dock == own_ && !t.Row.NewRow && t.Row.Row == ownRow_) {
            const bool vertical = docks_[own_].Dock->Vertical();
            const int along = vertical ? cursor.y - startCursor_.y : cursor.x - startCursor_.x;
            if (std::abs(along) > 9) {
                splitting_ = true;
                docks_[own_].Dock->DragSplitting = true;
            }
        } else {
            canSplit_ = false;
        }
    }

    if (t.Dock < 0 && window_->DockMode != dmCanFloat) {
        SetRectEmpty(&t.Rect);
        SetCursor(SystemCursor(IDC_NO));
    } else if (splitting_) {
        SetCursor(SystemCursor(docks_[own_].Dock->Vertical() ? IDC_SIZENS : IDC_SIZEWE));
    } else {
        SetCursor(startCursorShape_);
    }

    target_ = t;
    if (!window_->SmoothDrag) {
        outline_->Show(t.Rect, OutlineFrame(t));
    } else if (!IsRectEmpty(&t.Rect) && !(placed_ && placedAt_ == t)) {
        placed_ = true;
        placedAt_ = t;
        Place(t, false);
    }
}

void TDkDragLoop::PutInDock(TDkDock* dock, int row, int pos, bool newRow, bool commit)
{
    window_->dockRow_ = row;
    window_->dockPos_ = pos;
    window_->InsertRowBefore = newRow;
    dock->CommitNewPositions = commit;
    if (!window_->Docked() || window_->CurrentDock() != dock)
        window_->SetCurrentDock(dock);
    else
        dock->ArrangeToolbars();
    window_->InsertRowBefore = false;
    dock->CommitNewPositions = false;
}

// Docks or floats the window at the target.
void TDkDragLoop::Place(const TTarget& t, bool commit)
{
    if (t.Dock >= 0) {
        const TCandidate& c = docks_[t.Dock];
        const int pos = c.Dock->Vertical() ? t.Rect.top - c.Origin.y : t.Rect.left - c.Origin.x;
        PutInDock(c.Dock, t.Row.Row, pos, t.Row.NewRow, commit);
    } else {
        FloatAt({t.Rect.left, t.Rect.top});
    }
    if (window_->HandleAllocated()) window_->Update();
}

void TDkDragLoop::FloatAt(POINT p)
{
    window_->SetFloatingPosition(p);
    if (window_->Floating()) return;
    window_->SetFloating(true);
    // The frame made for it is placed once it exists.
    window_->SetFloatingPosition(p);
}

void TDkDragLoop::Move(POINT grab)
{
    TDkDock* const startDock = window_->Docked() ? window_->CurrentDock() : nullptr;
    startFloating_ = window_->Floating();
    if (!startDock && !startFloating_) return;
    const int rowBefore = window_->DockRow(), posBefore = window_->DockPos();
    const POINT floatingBefore = window_->FloatingPosition();

    TMovingFlag moving(window_);
    CollectCandidates();
    floatingSize_ = FloatingFrameSize();

    // Where the window was grabbed, against the rectangle that moves.
    TDkFloatingWindowParent* parent = window_->FloatingParent();
    const bool fromFrame = startFloating_ && parent && parent->HandleAllocated();
    RECT bounds;
    GetWindowRect(fromFrame ? parent->Handle() : window_->Handle(), &bounds);
    // From the floating caption the grab comes in the frame's client coordinates, from the
    // drag handle in the window's own (its top-left corner at 0, 0).
    startCursor_ = fromFrame ? parent->ClientToScreen(grab) : POINT{bounds.left + grab.x, bounds.top + grab.y};
    grab_.Offset = {startCursor_.x - bounds.left, startCursor_.y - bounds.top};
    grab_.Extent = {bounds.right - bounds.left - 1, bounds.bottom - bounds.top - 1};

    TDockDragState dockState;
    if (startDock) {
        dockState.Begin(startDock, window_);
        startDock->ArrangeToolbars();
        canSplit_ = startDock->DragCanSplit;
        own_ = 0;
        ownRow_ = window_->EffectiveDockRow;
    }
    for (TCandidate& c : docks_) RecordDock(c);
    const int startRow = window_->DockRow(), startPos = window_->DockPos();

    bool applied = false;
    {
        ProcessPaintMessages();
        TQuitRepost quit;
        TCaptureGuard capture(window_->Handle());
        TDesktopOutline outline(!window_->SmoothDrag);
        outline_ = &outline;
        struct TOutlineRef {
            TDesktopOutline*& ref;
            ~TOutlineRef() { ref = nullptr; }
        } outlineRef{outline_};
        startCursorShape_ = GetCursor();
        struct TCursorBack {
            HCURSOR shape;
            ~TCursorBack() { SetCursor(shape); }
        } cursorBack{startCursorShape_};

        doNotDock_ = GetKeyState(VK_CONTROL) < 0;
        POINT last = startCursor_;
        Evaluate(last, true);
        MSG msg;
        bool done = false;
        while (!done && NextLoopMessage(capture, msg, quit)) {
            if (KeyMessage(msg.message) && msg.wParam == VK_CONTROL) {
                const bool down = KeyDown(msg.message);
                if (down != doNotDock_) {
                    doNotDock_ = down;
                    Evaluate(last, false);
                }
                continue;
            }
            if (KeyDown(msg.message) && msg.wParam == VK_ESCAPE) break;
            switch (msg.message) {
            case WM_MOUSEMOVE:
                if (!SamePoint(msg.pt, last)) {
                    last = msg.pt;
                    Evaluate(last, false);
                }
                break;
            case WM_LBUTTONUP:
                // The drop is where the button went up, whatever moves came before.
                if (!SamePoint(msg.pt, last)) {
                    last = msg.pt;
                    Evaluate(last, false);
                }
                applied = true;
                done = true;
                break;
            case WM_LBUTTONDOWN:
            case WM_LBUTTONDBLCLK:
                done = true;
                break;
            default:
                if (IgnoredButton(msg.message)) break;
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
    }

    // Without a place to go (the window may not float there) the window stays where it stands.
    if (applied) {
        if (!IsRectEmpty(&target_.Rect)) Place(target_, true);
    } else if (placed_) {
        if (startFloating_) {
            FloatAt(floatingBefore);
        } else {
            PutInDock(startDock, startRow, startPos, false, true);
        }
    }
    if (dockState.End() && window_->Docked() && window_->CurrentDock() == startDock) startDock->ArrangeToolbars();

    if (window_->UseLastDock && window_->Docked() && window_->CurrentDock()) window_->SetLastDock(window_->CurrentDock());
    if (!window_->Docked()) {
        window_->dockRow_ = rowBefore;
        window_->dockPos_ = posBefore;
    }
}

void TDkDragLoop::Size(int edge)
{
    TDkFloatingWindowParent* parent = window_->FloatingParent();
    if (!window_->Floating() || !parent || edge < 0 || edge > 7) return;
    const HWND frame = parent->Handle();
    const DWORD pos = GetMessagePos();
    const POINT startCursor = {static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
    RECT start;
    GetWindowRect(frame, &start);
    const SIZE extra = {(start.right - start.left) - window_->Width(), (start.bottom - start.top) - window_->Height()};

    int minWidth = 0, minHeight = 0, maxWidth = 0, maxHeight = 0;
    window_->GetMinMaxSize(minWidth, minHeight, maxWidth, maxHeight);
    const SIZE least = {minWidth + extra.cx, minHeight + extra.cy};
    const SIZE most = {maxWidth > 0 ? maxWidth + extra.cx : 0, maxHeight > 0 ? maxHeight + extra.cy : 0};

    const bool smooth = window_->SmoothDrag;
    // The frame takes the rectangle; the window follows its client size.
    const auto apply = [&](const RECT& r) { parent->SetBounds(r.left, r.top, r.right - r.left, r.bottom - r.top); };

    window_->SizingBegins(edge);
    bool applied = false;
    try {
        RECT rect = start;
        {
            ProcessPaintMessages();
            TQuitRepost quit;
            TDesktopOutline outline(!smooth);
            const SIZE border = window_->FloatingBorderSize();
            const SIZE outlineFrame = {std::max<LONG>(border.cx, 1), std::max<LONG>(border.cy, 1)};
            outline.Show(start, outlineFrame);
            TCaptureGuard capture(frame);
            TClipCursorGuard clip;
            if ((window_->DockableWindowStyles & dkwsClipCursorWhenResizing) && !DkSystem().MultipleMonitors())
                clip.Clip(DkSystem().MonitorRectOfWindow(frame, true));

            POINT last = startCursor;
            MSG msg;
            bool done = false;
            while (!done && NextLoopMessage(capture, msg, quit)) {
                if (KeyMessage(msg.message) && msg.wParam == VK_ESCAPE) break;
                const bool up = msg.message == WM_LBUTTONUP;
                if ((msg.message == WM_MOUSEMOVE || up) && !SamePoint(msg.pt, last)) {
                    last = msg.pt;
                    rect = DkSizingRect(start, {last.x - startCursor.x, last.y - startCursor.y}, edge, least, most);
                    window_->AdjustSizingRect(rect, edge);
                    if (smooth)
                        apply(rect);
                    else
                        outline.Show(rect, outlineFrame);
                }
                switch (msg.message) {
                case WM_MOUSEMOVE:
                    break;
                case WM_LBUTTONUP:
                    applied = true;
                    done = true;
                    break;
                case WM_LBUTTONDOWN:
                case WM_LBUTTONDBLCLK:
                    done = true;
                    break;
                default:
                    if (IgnoredButton(msg.message)) break;
                    TranslateMessage(&msg);
                    DispatchMessageA(&msg);
                }
            }
        }
        if (applied && !smooth) apply(rect);
        if (!applied && smooth) apply(start);
    } catch (...) {
        try {
            window_->SizingEnds(false);
        } catch (...) {
        }
        throw;
    }
    window_->SizingEnds(applied);
}

TDkClipCursorProc SetDkClipCursor(TDkClipCursorProc proc)
{
    const TDkClipCursorProc before = clipCursor;
    clipCursor = proc ? proc : ClipCursor;
    return before;
}

void TDkCustomDockableWindow::BeginMoving(POINT grab)
{
    TDkDragLoop(this).Move(grab);
}

void TDkCustomDockableWindow::BeginSizing(int edge)
{
    TDkDragLoop(this).Size(edge);
}
