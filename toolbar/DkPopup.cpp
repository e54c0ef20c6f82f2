#include "DkPopup.h"

#include "DkCommon.h"
#include "DkLayout.h"
#include "SysUtils.h"

#include <cstddef>
#include <memory>

namespace {

const TColor clMenu = clSystemColor | COLOR_MENU;
const int PopupBorder = 3;  // the non-client frame on every side
const UINT ShowFlags = SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW;  // 0x57
const UINT HideFlags = SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_HIDEWINDOW;  // 0x97

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
        // The size without the padded border width, which systems before Vista refuse.
        NONCLIENTMETRICSA metrics = {};
        metrics.cbSize = offsetof(NONCLIENTMETRICSA, lfMessageFont) + sizeof(LOGFONTA);
        if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) {
            const LOGFONTA& lf = metrics.lfMenuFont;
            if (lf.lfFaceName[0]) f->SetName(lf.lfFaceName);
            if (lf.lfHeight != 0) {
                const HDC screen = GetDC(nullptr);
                const int ppi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
                if (screen) ReleaseDC(nullptr, screen);
                const int pixels = lf.lfHeight < 0 ? -lf.lfHeight : lf.lfHeight;
                const int points = MulDiv(pixels, 72, ppi);
                if (points > 0) f->SetSize(points);
            }
            TFontStyles style = 0;
            if (lf.lfWeight >= FW_BOLD) style |= fsBold;
            if (lf.lfItalic) style |= fsItalic;
            f->SetStyle(style);
        }
        return f;
    }();
    return *font;
}

// A window's whole-window device context for the time of a non-client paint.
class TWindowDC {
public:
    explicit TWindowDC(HWND window) : window_(window), dc_(GetWindowDC(window)) {}
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

}  // namespace

TDkPopupWindow::TDkPopupWindow(TComponent* owner, TDkView* parentView, TDkCustomItem* item,
                               TDkViewOrientation orientation, TWinControl* sourceToolbar)
    : TCustomControl(owner)
{
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
    // The view goes while the window exists: whatever it still does to the window finds it.
    if (HandleAllocated()) view_->StopAllTimers();
    FreeAndNil(view_);
    DestroyHandle();
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

void TDkPopupWindow::SetVisible(bool visible)
{
    // The window is made hidden first: a window made visible would be activated.
    if (visible) Handle();
    TControl::SetVisible(visible);
    if (HandleAllocated()) SetWindowPos(handle_, nullptr, 0, 0, 0, 0, visible ? ShowFlags : HideFlags);
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

void TDkPopupWindow::PaintClientOn(HDC dc)
{
    TCanvas& canvas = Canvas();
    canvas.Font.Assign(&Font());
    canvas.SetHandle(dc);
    try {
        Paint();
    } catch (...) {
        canvas.SetHandle(nullptr);
        throw;
    }
    canvas.SetHandle(nullptr);
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
        HandleWMPrintClient([this](HDC dc) { PaintClientOn(dc); }, m);
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
    case WM_DESTROY:
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
