#include "Forms.h"

#include "SysUtils.h"

#include <commctrl.h>

#include <vector>

namespace {

// The controls of a form, depth first, are offered a message until one
// answers non-zero; true when one did.
bool OfferToControls(TWinControl* parent, UINT message, WPARAM wParam, LPARAM lParam)
{
    for (int i = 0; i < parent->ControlCount(); ++i) {
        auto* control = dynamic_cast<TWinControl*>(parent->Controls(i));
        if (!control) continue;
        if (control->Perform(message, wParam, lParam) != 0) return true;
        // The handler may have taken the control away.
        if (i < parent->ControlCount() && parent->Controls(i) == control &&
            OfferToControls(control, message, wParam, lParam))
            return true;
    }
    return false;
}

// Keys for a form go through its action shortcuts, the application's main-window hooks
// and the dialog manager's Tab, arrow, Enter and Escape handling, as in a dialog box.
bool FormKeyFilter(MSG& msg)
{
    if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST || !msg.hwnd) return false;
    HWND root = GetAncestor(msg.hwnd, GA_ROOT);
    auto* form = dynamic_cast<TCustomForm*>(TWinControl::FindControl(root));
    if (!form) return false;
    if (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) {
        TShortCut shift = 0;
        const TShiftState s = KeyboardShift();
        if (s & ssShift) shift |= scShift;
        if (s & ssCtrl) shift |= scCtrl;
        if (s & ssAlt) shift |= scAlt;
        if (form->IsShortCut(ShortCut(static_cast<unsigned short>(msg.wParam), shift))) return true;
        // A key the main window's hooks take (a toolbar's menu-bar mode) goes no further.
        TMessage note{CM_APPKEYDOWN, msg.wParam, reinterpret_cast<LPARAM>(&msg), 0};
        if (Application->CallMainWindowHooks(note)) return true;
        // The menu key goes on to the system once the controls have seen it.
        if (msg.wParam == VK_MENU) OfferToControls(form, CM_DIALOGKEY, msg.wParam, msg.lParam);
    }
    // An Alt+character the first control that wants it takes.
    if (msg.message == WM_SYSCHAR && OfferToControls(form, CM_DIALOGCHAR, msg.wParam, msg.lParam)) return true;
    return IsDialogMessageA(root, &msg) != 0;
}

void InstallFormFilter()
{
    static const bool installed = [] {
        Application->AddMessageFilter(FormKeyFilter);
        return true;
    }();
    (void)installed;
}

struct TDisabledWindows {
    HWND keep;
    std::vector<HWND> windows;
};

BOOL CALLBACK DisableWindow(HWND window, LPARAM data)
{
    auto* d = reinterpret_cast<TDisabledWindows*>(data);
    if (window != d->keep && IsWindowVisible(window) && IsWindowEnabled(window)) {
        EnableWindow(window, FALSE);
        d->windows.push_back(window);
    }
    return TRUE;
}

}  // namespace

TCustomForm* ActiveForm()
{
    return dynamic_cast<TCustomForm*>(TWinControl::FindControl(GetActiveWindow()));
}

TCustomForm::TCustomForm(TComponent* owner) : TWinControl(owner)
{
    InstallFormFilter();
    visible_ = false;
    width_ = 400;
    height_ = 300;
    CreateHandle();
}

TCustomForm::~TCustomForm()
{
    SetDestroying();
    if (OnDestroy) {
        try {
            OnDestroy(this);
        } catch (...) {
            Application->HandleException(this);
        }
    }
    if (Application->MainForm == this) Application->MainForm = nullptr;
    // Controls go while the form is still a form; its timers and actions after.
    while (ControlCount() > 0) delete Controls(ControlCount() - 1);
    DestroyComponents();
    if (tooltip_) DestroyWindow(tooltip_);
}

void TCustomForm::CreateParams(TCreateParams& params)
{
    params.Parent = nullptr;
    params.ExStyle = WS_EX_CONTROLPARENT;
    switch (borderStyle_) {
    case bsNone: params.Style = WS_POPUP; break;
    case bsSingle: params.Style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX; break;
    case bsDialog:
        params.Style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
        params.ExStyle |= WS_EX_DLGMODALFRAME;
        break;
    case bsToolWindow:
        params.Style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
        params.ExStyle |= WS_EX_TOOLWINDOW;
        break;
    default: params.Style = WS_OVERLAPPEDWINDOW; break;
    }
    params.Style |= WS_CLIPCHILDREN;
}

void TCustomForm::CreateWnd()
{
    TWinControl::CreateWnd();
}

void TCustomForm::SetBorderStyle(TFormBorderStyle style)
{
    if (style == borderStyle_) return;
    borderStyle_ = style;
    RecreateWnd();
}

int TCustomForm::ClientWidth()
{
    const RECT r = ClientRect();
    return r.right - r.left;
}

int TCustomForm::ClientHeight()
{
    const RECT r = ClientRect();
    return r.bottom - r.top;
}

void TCustomForm::SetClientSize(int width, int height)
{
    RECT r = {0, 0, width, height};
    AdjustWindowRectEx(&r, GetWindowLongA(Handle(), GWL_STYLE), FALSE, GetWindowLongA(Handle(), GWL_EXSTYLE));
    SetBounds(left_, top_, r.right - r.left, r.bottom - r.top);
}

void TCustomForm::PlaceOnScreen()
{
    if (placed_) return;
    placed_ = true;
    RECT area;
    if (Position == poScreenCenter) {
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    } else if (Position == poMainFormCenter && Application->MainForm && Application->MainForm != this) {
        GetWindowRect(Application->MainForm->Handle(), &area);
    } else {
        return;
    }
    SetBounds(area.left + (area.right - area.left - width_) / 2, area.top + (area.bottom - area.top - height_) / 2,
              width_, height_);
}

void TCustomForm::Show()
{
    SetVisible(true);
    SetForegroundWindow(Handle());
}

void TCustomForm::Hide()
{
    SetVisible(false);
}

void TCustomForm::SetVisible(bool visible)
{
    if (visible) PlaceOnScreen();
    TControl::SetVisible(visible);
    if (handle_) ShowWindow(handle_, visible ? SW_SHOW : SW_HIDE);
}

TModalResult TCustomForm::ShowModal()
{
    if (visible_ || modal_) throw Exception("Cannot make a visible window modal");
    TDisabledWindows disabled{Handle(), {}};
    EnumThreadWindows(GetCurrentThreadId(), DisableWindow, reinterpret_cast<LPARAM>(&disabled));
    modal_ = true;
    modalResult_ = mrNone;
    const auto restore = [&] {
        for (HWND w : disabled.windows) EnableWindow(w, TRUE);
        Hide();
        modal_ = false;
    };
    try {
        Show();
        while (modalResult_ == mrNone) {
            Application->HandleMessage();
            if (Application->Terminated()) modalResult_ = mrCancel;
            if (modalResult_ != mrNone) CloseModal();
        }
    } catch (...) {
        restore();
        throw;
    }
    restore();
    return modalResult_;
}

void TCustomForm::CloseModal()
{
    TCloseAction action = caNone;
    if (CloseQuery()) {
        action = caHide;
        DoClose(action);
    }
    if (action == caNone) modalResult_ = mrNone;
    else if (action == caFree) Release();
}

void TCustomForm::Close()
{
    if (modal_) {
        modalResult_ = mrCancel;
        return;
    }
    if (!CloseQuery()) return;
    TCloseAction action = caHide;
    DoClose(action);
    if (action == caNone) return;
    if (Application->MainForm == this) Application->Terminate();
    else if (action == caHide) Hide();
    else if (action == caMinimize) ShowWindow(Handle(), SW_MINIMIZE);
    else Release();
}

void TCustomForm::Release()
{
    PostMessageA(Handle(), CM_RELEASE, 0, 0);
}

bool TCustomForm::CloseQuery()
{
    bool canClose = true;
    if (OnCloseQuery) OnCloseQuery(this, canClose);
    return canClose;
}

void TCustomForm::DoClose(TCloseAction& action)
{
    if (OnClose) OnClose(this, action);
}

void TCustomForm::DoCreate()
{
    if (OnCreate) OnCreate(this);
}

void TCustomForm::SetActiveControl(TWinControl* control)
{
    activeControl_ = control;
    if (control && visible_ && GetActiveWindow() == handle_) control->SetFocus();
}

bool TCustomForm::SetFocusedControl(TWinControl* control)
{
    if (control == focused_) return true;
    TWinControl* previous = focused_;
    focused_ = control;
    activeControl_ = control;
    if (previous) {
        previous->DoExit();
        if (focused_ != control) return false;
    }
    control->DoEnter();
    return focused_ == control;
}

void TCustomForm::ForgetControl(TWinControl* control)
{
    if (focused_ == control) focused_ = nullptr;
    if (activeControl_ == control) activeControl_ = nullptr;
}

void TCustomForm::Notification(TComponent* component, TOperation operation)
{
    TWinControl::Notification(component, operation);
    if (operation == opRemove) {
        if (component == focused_) focused_ = nullptr;
        if (component == activeControl_) activeControl_ = nullptr;
    }
}

void TCustomForm::UpdateHint(TWinControl* control)
{
    if (!handle_ || !control->HandleAllocated()) return;
    if (!tooltip_) {
        if (!control->ShowHint() || control->Hint().empty()) return;
        tooltip_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0,
                                   handle_, nullptr, GetModuleHandleA(nullptr), nullptr);
        if (!tooltip_) return;
    }
    TOOLINFOA tool = {};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = handle_;
    tool.uId = reinterpret_cast<UINT_PTR>(control->Handle());
    SendMessageA(tooltip_, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    if (!control->ShowHint() || control->Hint().empty()) return;
    std::string text = GetShortHint(control->Hint());
    tool.lpszText = text.data();
    SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

bool TCustomForm::IsShortCut(TShortCut shortCut)
{
    for (int i = 0; i < ComponentCount(); ++i)
        if (auto* list = dynamic_cast<TActionList*>(Components(i)); list && list->IsShortCut(shortCut)) return true;
    return false;
}

void TCustomForm::WndProc(TMessage& m)
{
    switch (m.Msg) {
    case WM_CLOSE:
        Close();
        m.Result = 0;
        return;
    case CM_RELEASE:
        delete this;
        return;
    case WM_ACTIVATE:
        if (LOWORD(m.WParam) != WA_INACTIVE) {
            if (OnActivate && !Quiet()) OnActivate(this);
            if (activeControl_ && activeControl_->CanFocus()) {
                ::SetFocus(activeControl_->Handle());
                m.Result = 0;
                return;
            }
        } else if (OnDeactivate && !Quiet()) {
            OnDeactivate(this);
        }
        break;
    case WM_SHOWWINDOW:
        if (!Quiet()) {
            if (m.WParam && OnShow) OnShow(this);
            if (!m.WParam && OnHide) OnHide(this);
        }
        break;
    case WM_ERASEBKGND:
        EraseBackground(m);
        return;
    case WM_SYSCOMMAND:
        // The application's hooks may take a keyboard-menu command.
        if ((m.WParam & 0xFFF0) == SC_KEYMENU) {
            TMessage note{CM_APPSYSCOMMAND, 0, reinterpret_cast<LPARAM>(&m), 0};
            if (Application->CallMainWindowHooks(note)) {
                m.Result = 0;
                return;
            }
        }
        break;
    }
    TWinControl::WndProc(m);
}
