#include "Controls.h"

#include "Application.h"
#include "Barrier.h"
#include "Forms.h"
#include "SysUtils.h"
#include "UtilWindow.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>

bool RegisterPlainWindowClass(const char* name)
{
    WNDCLASSA wc = {};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.lpszClassName = name;
    return RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

namespace {

const char* const ControlProperty = "TToolkitControl";
const char* const WindowClass = "TToolkitWindow";
int nextControlId = 1000;
TWinControl* focusBackPending = nullptr;

void RegisterToolkitClass()
{
    static const bool registered = RegisterPlainWindowClass(WindowClass);
    if (!registered) throw EOutOfResources("Cannot register the toolkit's window class");
}

TMouseButton ButtonOf(UINT msg)
{
    switch (msg) {
    case WM_RBUTTONDOWN: case WM_RBUTTONUP: case WM_RBUTTONDBLCLK: return mbRight;
    case WM_MBUTTONDOWN: case WM_MBUTTONUP: case WM_MBUTTONDBLCLK: return mbMiddle;
    default: return mbLeft;
    }
}

}  // namespace

TShiftState MouseShift(WPARAM keys)
{
    TShiftState s = 0;
    if (keys & MK_SHIFT) s |= ssShift;
    if (keys & MK_CONTROL) s |= ssCtrl;
    if (keys & MK_LBUTTON) s |= ssLeft;
    if (keys & MK_RBUTTON) s |= ssRight;
    if (keys & MK_MBUTTON) s |= ssMiddle;
    if (GetKeyState(VK_MENU) < 0) s |= ssAlt;
    return s;
}

TShiftState KeyboardShift()
{
    TShiftState s = 0;
    if (GetKeyState(VK_SHIFT) < 0) s |= ssShift;
    if (GetKeyState(VK_CONTROL) < 0) s |= ssCtrl;
    if (GetKeyState(VK_MENU) < 0) s |= ssAlt;
    return s;
}

std::string GetShortHint(const std::string& hint)
{
    const size_t bar = hint.find('|');
    return bar == std::string::npos ? hint : hint.substr(0, bar);
}

std::string GetLongHint(const std::string& hint)
{
    const size_t bar = hint.find('|');
    return bar == std::string::npos ? hint : hint.substr(bar + 1);
}

bool TControlActionLink::IsCaptionLinked()
{
    return TActionLink::IsCaptionLinked() && client_->Caption() == CustomAction()->Caption();
}

bool TControlActionLink::IsEnabledLinked()
{
    return TActionLink::IsEnabledLinked() && client_->Enabled() == CustomAction()->Enabled();
}

bool TControlActionLink::IsHintLinked()
{
    return TActionLink::IsHintLinked() && client_->Hint() == CustomAction()->Hint();
}

bool TControlActionLink::IsVisibleLinked()
{
    return TActionLink::IsVisibleLinked() && client_->Visible() == CustomAction()->Visible();
}

void TControlActionLink::SetCaption(const std::string& caption)
{
    if (IsCaptionLinked()) client_->SetCaption(caption);
}

void TControlActionLink::SetEnabled(bool enabled)
{
    if (IsEnabledLinked()) client_->SetEnabled(enabled);
}

void TControlActionLink::SetHint(const std::string& hint)
{
    if (IsHintLinked()) client_->SetHint(hint);
}

void TControlActionLink::SetVisible(bool visible)
{
    if (IsVisibleLinked()) client_->SetVisible(visible);
}

TControl::TControl(TComponent* owner) : TComponent(owner)
{
    font_.OnChange = [this](TObject*) {
        parentFont_ = false;
        FontChanged();
    };
}

TControl::~TControl()
{
    SetDestroying();
    actionLink_.reset();
    if (parent_) parent_->RemoveControl(this);
}

void TControl::SetParent(TWinControl* parent)
{
    if (parent == parent_) return;
    if (parent == this) throw Exception("A control cannot be its own parent");
    if (parent_) parent_->RemoveControl(this);
    if (parent) parent->InsertControl(this);
}

void TControl::SetBounds(int left, int top, int width, int height)
{
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    BoundsChanged();
}

void TControl::SetVisible(bool visible)
{
    visible_ = visible;
}

void TControl::SetEnabled(bool enabled)
{
    enabled_ = enabled;
}

void TControl::SetText(const std::string& text)
{
    text_ = text;
}

void TControl::SetParentFont(bool value)
{
    parentFont_ = value;
    if (value && parent_) {
        font_.Assign(&parent_->Font());
        parentFont_ = true;
    }
}

void TControl::SetColor(TColor color)
{
    color_ = color;
}

void TControl::SetHint(const std::string& hint)
{
    hint_ = hint;
}

void TControl::SetShowHint(bool show)
{
    showHint_ = show;
}

void TControl::SetAlign(TAlign align)
{
    if (align == align_) return;
    align_ = align;
    if (parent_) parent_->AlignControls();
}

TBasicAction* TControl::Action() const
{
    return actionLink_ ? actionLink_->Action() : nullptr;
}

void TControl::SetAction(TBasicAction* action)
{
    if (!action) {
        actionLink_.reset();
        return;
    }
    if (!actionLink_) actionLink_ = std::make_unique<TControlActionLink>(this);
    actionLink_->SetAction(action);
    action->FreeNotification(this);
    ActionChange(action);
}

void TControl::ActionChange(TBasicAction* action)
{
    auto* a = dynamic_cast<TCustomAction*>(action);
    if (!a) return;
    SetCaption(a->Caption());
    SetEnabled(a->Enabled());
    SetHint(a->Hint());
    SetVisible(a->Visible());
}

void TControl::Click()
{
    if (Quiet()) return;
    if (OnClick) OnClick(this);
    else if (actionLink_) actionLink_->Execute(this);
}

void TControl::Notification(TComponent* component, TOperation operation)
{
    TComponent::Notification(component, operation);
    if (operation == opRemove && actionLink_ && component == actionLink_->Action()) actionLink_.reset();
}

bool TControl::Quiet() const
{
    if (Destroying()) return true;
    for (const TComponent* c = Owner(); c; c = c->Owner())
        if (c->Destroying()) return true;
    return false;
}

TCustomForm* GetParentForm(TControl* control)
{
    while (control && control->Parent()) control = control->Parent();
    return dynamic_cast<TCustomForm*>(control);
}

TWinControl::TWinControl(TComponent* owner) : TControl(owner)
{
    brush_.SetColor(color_);
}

TWinControl::~TWinControl()
{
    SetDestroying();
    if (TCustomForm* form = GetParentForm(this); form && form != this) form->ForgetControl(this);
    if (focusBackPending == this) focusBackPending = nullptr;
    // Children go first, whoever owns them; their owners hear of it.
    while (!controls_.empty()) delete controls_.back();
    DestroyHandle();
}

TWinControl* TWinControl::FindControl(HWND window)
{
    return window ? static_cast<TWinControl*>(GetPropA(window, ControlProperty)) : nullptr;
}

HWND TWinControl::Handle()
{
    if (!handle_) CreateHandle();
    return handle_;
}

void TWinControl::CreateParams(TCreateParams& params)
{
    params.Style = WS_CHILD | WS_CLIPSIBLINGS;
    if (tabStop_) params.Style |= WS_TABSTOP;
    if (parent_) params.Parent = parent_->Handle();
}

void TWinControl::CreateHandle()
{
    if (handle_) return;
    TCreateParams params;
    CreateParams(params);
    if (!params.Parent && (params.Style & WS_CHILD)) throw Exception("Control '" + Name() + "' has no parent window");
    if (visible_) params.Style |= WS_VISIBLE;
    if (!enabled_) params.Style |= WS_DISABLED;
    const bool ownClass = params.ClassName.empty();
    if (ownClass) RegisterToolkitClass();
    const int childId = params.Id ? params.Id : nextControlId++;
    const HMENU id = (params.Style & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<INT_PTR>(childId)) : nullptr;
    HWND window = CreateWindowExA(params.ExStyle, ownClass ? WindowClass : params.ClassName.c_str(), text_.c_str(),
                                  params.Style, left_, top_, width_, height_, params.Parent, id,
                                  GetModuleHandleA(nullptr), this);
    if (!window) throw EOutOfResources("Error creating window: " + SysErrorMessage(GetLastError()));
    Attach(window);
    CreateWnd();
    for (TControl* c : controls_)
        if (auto* w = dynamic_cast<TWinControl*>(c)) w->CreateHandle();
    AlignControls();
}

void TWinControl::Attach(HWND window)
{
    handle_ = window;
    SetPropA(window, ControlProperty, this);
    defProc_ = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
    if (defProc_ == DefWindowProcA || defProc_ == nullptr) defProc_ = DefWindowProcA;
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TWinControl::ControlWndProc));
}

void TWinControl::CreateWnd()
{
    SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Handle()), FALSE);
    UpdateHintTool();
}

void TWinControl::DestroyHandle()
{
    if (!handle_) return;
    HWND window = handle_;
    // Children's windows die with ours, and theirs with them (a dock's windows are
    // the form's grandchildren); the objects stay and can make new ones.
    std::function<void(TWinControl*)> detach = [&](TWinControl* parent) {
        for (TControl* c : parent->controls_)
            if (auto* w = dynamic_cast<TWinControl*>(c); w && w->handle_) {
                detach(w);
                w->text_ = w->Text();
                RemovePropA(w->handle_, ControlProperty);
                SetWindowLongPtrA(w->handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(w->defProc_));
                w->handle_ = nullptr;
            }
    };
    detach(this);
    text_ = Text();
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(defProc_));
    RemovePropA(window, ControlProperty);
    handle_ = nullptr;
    DestroyWindow(window);
}

void TWinControl::RecreateWnd()
{
    if (!handle_) return;
    DestroyHandle();
    CreateHandle();
}

LRESULT CALLBACK TWinControl::ControlWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    TWinControl* control = FindControl(window);
    if (!control) return DefWindowProcA(window, msg, wParam, lParam);
    NoteCrossThreadCall();
    return Guarded<LRESULT>(0, [&]() -> LRESULT {
        TMessage message{msg, wParam, lParam, 0};
        control->WndProc(message);
        return message.Result;
    });
}

LRESULT TWinControl::Perform(UINT msg, WPARAM wParam, LPARAM lParam)
{
    TMessage message{msg, wParam, lParam, 0};
    WndProc(message);
    return message.Result;
}

void TWinControl::DefaultHandler(TMessage& message)
{
    message.Result = CallWindowProcA(defProc_ ? defProc_ : DefWindowProcA, handle_, message.Msg, message.WParam,
                                     message.LParam);
}

bool TWinControl::HandleMouse(TMessage& m)
{
    const int x = GET_X_LPARAM(m.LParam), y = GET_Y_LPARAM(m.LParam);
    switch (m.Msg) {
    case WM_LBUTTONDOWN: case WM_RBUTTONDOWN: case WM_MBUTTONDOWN:
        if (OnMouseDown && !Quiet()) OnMouseDown(this, ButtonOf(m.Msg), MouseShift(m.WParam), x, y);
        break;
    case WM_LBUTTONUP: case WM_RBUTTONUP: case WM_MBUTTONUP:
        if (OnMouseUp && !Quiet()) OnMouseUp(this, ButtonOf(m.Msg), MouseShift(m.WParam), x, y);
        break;
    case WM_LBUTTONDBLCLK:
        if (OnDblClick && !Quiet()) OnDblClick(this);
        break;
    case WM_MOUSEMOVE:
        if (OnMouseMove && !Quiet()) OnMouseMove(this, MouseShift(m.WParam), x, y);
        break;
    default:
        return false;
    }
    return true;
}

bool TWinControl::HandleKey(TMessage& m)
{
    if (Quiet()) return false;
    switch (m.Msg) {
    case WM_KEYDOWN: case WM_SYSKEYDOWN:
        if (OnKeyDown) {
            WORD key = static_cast<WORD>(m.WParam);
            OnKeyDown(this, key, KeyboardShift());
            if (key == 0) return true;
            m.WParam = key;
        }
        break;
    case WM_KEYUP: case WM_SYSKEYUP:
        if (OnKeyUp) {
            WORD key = static_cast<WORD>(m.WParam);
            OnKeyUp(this, key, KeyboardShift());
            if (key == 0) return true;
            m.WParam = key;
        }
        break;
    case WM_CHAR:
        if (OnKeyPress) {
            char key = static_cast<char>(m.WParam);
            OnKeyPress(this, key);
            if (key == 0) return true;
            m.WParam = static_cast<unsigned char>(key);
        }
        break;
    }
    return false;
}

void TWinControl::WndProc(TMessage& m)
{
    switch (m.Msg) {
    case WM_SETFOCUS:
        if (TCustomForm* form = GetParentForm(this); form && form != this && !Quiet()) {
            if (!form->SetFocusedControl(this)) return;
        }
        break;
    case WM_COMMAND:
        if (m.LParam) {
            if (TWinControl* child = FindControl(reinterpret_cast<HWND>(m.LParam)); child && child != this) {
                child->CommandNotify(HIWORD(m.WParam));
                m.Result = 0;
                return;
            }
        }
        break;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(m.LParam);
        if (TWinControl* child = FindControl(header->hwndFrom); child && child != this) {
            LRESULT result = 0;
            if (child->NotifyReflected(header, result)) {
                m.Result = result;
                return;
            }
        }
        break;
    }
    case WM_CTLCOLOREDIT: case WM_CTLCOLORSTATIC: case WM_CTLCOLORBTN: case WM_CTLCOLORLISTBOX:
        if (TWinControl* child = FindControl(reinterpret_cast<HWND>(m.LParam)); child && child != this) {
            const HDC dc = reinterpret_cast<HDC>(m.WParam);
            if (HBRUSH brush = child->CtlColor(dc)) {
                m.Result = reinterpret_cast<LRESULT>(brush);
                return;
            }
            // Labels, check boxes and radio buttons stand on their parent's colour.
            if (m.Msg == WM_CTLCOLORSTATIC || m.Msg == WM_CTLCOLORBTN) {
                SetBkColor(dc, ColorToRGB(color_));
                m.Result = reinterpret_cast<LRESULT>(brush_.Handle());
                return;
            }
        }
        break;
    case WM_SIZE:
        DefaultHandler(m);
        AlignControls();
        return;
    case WM_WINDOWPOSCHANGED: {
        const auto* pos = reinterpret_cast<WINDOWPOS*>(m.LParam);
        if (!(pos->flags & SWP_NOMOVE)) {
            left_ = pos->x;
            top_ = pos->y;
        }
        if (!(pos->flags & SWP_NOSIZE)) {
            width_ = pos->cx;
            height_ = pos->cy;
        }
        break;
    }
    case WM_SYSCOMMAND:
        // The system gives an Alt+character to the focused child itself;
        // its form decides what opens (as for the menu key alone, which goes to the form).
        if ((m.WParam & 0xFFF0) == SC_KEYMENU && handle_ && (GetWindowLongA(handle_, GWL_STYLE) & WS_CHILD)) {
            if (TCustomForm* form = GetParentForm(this); form && form != this && form->HandleAllocated()) {
                m.Result = SendMessageA(form->Handle(), WM_SYSCOMMAND, m.WParam, m.LParam);
                return;
            }
        }
        break;
    case CM_FOCUSBACK:
        if (CanFocus()) SetFocus();
        focusBackPending = nullptr;  // after: the control that lost the focus may not take it back
        return;
    default:
        if (m.Msg >= WM_MOUSEFIRST && m.Msg <= WM_MOUSELAST) {
            HandleMouse(m);
        } else if (m.Msg >= WM_KEYFIRST && m.Msg <= WM_KEYLAST) {
            if (HandleKey(m)) return;
        }
        break;
    }
    DefaultHandler(m);
}

HBRUSH TWinControl::CtlColor(HDC dc)
{
    if (color_ == clBtnFace || color_ == clWindow || color_ == clDefault) {
        if (font_.Color() == clWindowText || font_.Color() == clBtnText) return nullptr;
    }
    SetTextColor(dc, ColorToRGB(font_.Color()));
    SetBkColor(dc, ColorToRGB(color_));
    return brush_.Handle();
}

void TWinControl::FontChanged()
{
    if (handle_) {
        SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Handle()), TRUE);
    }
    for (TControl* c : controls_)
        if (c->parentFont_) {
            c->font_.Assign(&font_);
            c->parentFont_ = true;
        }
}

void TWinControl::InsertControl(TControl* control)
{
    controls_.push_back(control);
    control->parent_ = this;
    if (control->parentFont_) {
        control->font_.Assign(&font_);
        control->parentFont_ = true;
    }
    if (auto* w = dynamic_cast<TWinControl*>(control); w && handle_) w->CreateHandle();
    AlignControls();
}

void TWinControl::RemoveControl(TControl* control)
{
    controls_.erase(std::remove(controls_.begin(), controls_.end(), control), controls_.end());
    if (auto* w = dynamic_cast<TWinControl*>(control)) w->DestroyHandle();
    control->parent_ = nullptr;
    AlignControls();
}

void TWinControl::SetParent(TWinControl* parent)
{
    if (parent == parent_) return;
    // A window that moves to a parent with a window keeps its own, and its
    // children keep their state (a combo box its items and selection).
    if (handle_ && parent && parent->handle_ && parent != this) {
        TCustomForm* oldForm = GetParentForm(this);
        if (TWinControl* old = parent_) {
            old->controls_.erase(std::remove(old->controls_.begin(), old->controls_.end(), this), old->controls_.end());
            parent_ = nullptr;
            old->AlignControls();
        }
        ::SetParent(handle_, parent->handle_);
        parent->InsertControl(this);
        if (oldForm && oldForm != GetParentForm(this)) {
            std::function<void(TWinControl*)> forget = [&](TWinControl* w) {
                oldForm->ForgetControl(w);
                for (TControl* c : w->controls_)
                    if (auto* child = dynamic_cast<TWinControl*>(c)) forget(child);
            };
            forget(this);
        }
        UpdateHintTool();
        return;
    }
    if (handle_) DestroyHandle();
    TControl::SetParent(parent);
}

void TWinControl::SetBounds(int left, int top, int width, int height)
{
    TControl::SetBounds(left, top, width, height);
    if (handle_) MoveWindow(handle_, left, top, width, height, TRUE);
    if (parent_ && align_ != alNone) parent_->AlignControls();
}

void TWinControl::AlignControls()
{
    if (!handle_ || aligning_) return;
    aligning_ = true;
    RECT r = ClientRect();
    for (TAlign pass : {alTop, alBottom, alLeft, alRight, alClient}) {
        for (TControl* c : controls_) {
            if (c->align_ != pass || !c->visible_) continue;
            switch (pass) {
            case alTop:
                c->SetBounds(r.left, r.top, r.right - r.left, c->height_);
                r.top += c->height_;
                break;
            case alBottom:
                c->SetBounds(r.left, r.bottom - c->height_, r.right - r.left, c->height_);
                r.bottom -= c->height_;
                break;
            case alLeft:
                c->SetBounds(r.left, r.top, c->width_, r.bottom - r.top);
                r.left += c->width_;
                break;
            case alRight:
                c->SetBounds(r.right - c->width_, r.top, c->width_, r.bottom - r.top);
                r.right -= c->width_;
                break;
            default:
                c->SetBounds(r.left, r.top, r.right - r.left, r.bottom - r.top);
                break;
            }
        }
    }
    aligning_ = false;
}

void TWinControl::EraseBackground(TMessage& m)
{
    RECT r = ClientRect();
    FillRect(reinterpret_cast<HDC>(m.WParam), &r, brush_.Handle());
    m.Result = 1;
}

void TWinControl::SetVisible(bool visible)
{
    TControl::SetVisible(visible);
    if (handle_) ShowWindow(handle_, visible ? SW_SHOWNA : SW_HIDE);
    if (parent_) parent_->AlignControls();
}

void TWinControl::SetEnabled(bool enabled)
{
    TControl::SetEnabled(enabled);
    if (handle_) EnableWindow(handle_, enabled);
}

std::string TWinControl::Text() const
{
    if (!handle_) return text_;
    const int length = GetWindowTextLengthA(handle_);
    std::string text(length + 1, '\0');
    const int got = GetWindowTextA(handle_, text.data(), length + 1);
    text.resize(got);
    return text;
}

void TWinControl::SetText(const std::string& text)
{
    TControl::SetText(text);
    if (handle_) SetWindowTextA(handle_, text.c_str());
}

void TWinControl::SetColor(TColor color)
{
    TControl::SetColor(color);
    brush_.SetColor(color);
    Invalidate();
}

void TWinControl::SetHint(const std::string& hint)
{
    TControl::SetHint(hint);
    UpdateHintTool();
}

void TWinControl::SetShowHint(bool show)
{
    TControl::SetShowHint(show);
    UpdateHintTool();
}

void TWinControl::UpdateHintTool()
{
    if (!handle_) return;
    if (TCustomForm* form = GetParentForm(this); form && form != this) form->UpdateHint(this);
}

void TWinControl::Invalidate()
{
    if (handle_) InvalidateRect(handle_, nullptr, TRUE);
}

void TWinControl::Update()
{
    if (handle_) UpdateWindow(handle_);
}

RECT TWinControl::ClientRect()
{
    RECT r = {0, 0, width_, height_};
    if (handle_) GetClientRect(handle_, &r);
    return r;
}

POINT TWinControl::ClientToScreen(POINT p)
{
    ::ClientToScreen(Handle(), &p);
    return p;
}

POINT TWinControl::ScreenToClient(POINT p)
{
    ::ScreenToClient(Handle(), &p);
    return p;
}

void TWinControl::SetTabStop(bool tabStop)
{
    tabStop_ = tabStop;
    if (handle_) {
        LONG style = GetWindowLongA(handle_, GWL_STYLE);
        style = tabStop ? (style | WS_TABSTOP) : (style & ~WS_TABSTOP);
        SetWindowLongA(handle_, GWL_STYLE, style);
    }
}

bool TWinControl::Focused() const
{
    return handle_ && GetFocus() == handle_;
}

bool TWinControl::CanFocus() const
{
    for (const TWinControl* c = this; c; c = c->parent_)
        if (!c->visible_ || !c->enabled_) return false;
    return true;
}

void TWinControl::SetFocus()
{
    if (TCustomForm* form = GetParentForm(this); form && form != this && !form->Visible())
        throw Exception("Cannot focus a disabled or invisible window");
    ::SetFocus(Handle());
}

void TWinControl::PostFocusBack()
{
    if (focusBackPending || !handle_) return;
    focusBackPending = this;
    PostMessageA(handle_, CM_FOCUSBACK, 0, 0);
}

void TWinControl::DoEnter()
{
    if (OnEnter && !Quiet()) OnEnter(this);
}

void TWinControl::DoExit()
{
    if (OnExit && !Quiet()) OnExit(this);
}

TCustomControl::TCustomControl(TComponent* owner) : TWinControl(owner) {}

void TCustomControl::PaintOn(HDC dc)
{
    canvas_.Font.Assign(&font_);
    canvas_.SetHandle(dc);
    try {
        Paint();
    } catch (...) {
        canvas_.SetHandle(nullptr);
        throw;
    }
    canvas_.SetHandle(nullptr);
}

void TCustomControl::WndProc(TMessage& m)
{
    switch (m.Msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(handle_, &ps);
        try {
            PaintOn(dc);
        } catch (...) {
            EndPaint(handle_, &ps);
            throw;
        }
        EndPaint(handle_, &ps);
        m.Result = 0;
        return;
    }
    case WM_ERASEBKGND:
        EraseBackground(m);
        return;
    case WM_LBUTTONUP: {
        TWinControl::WndProc(m);
        POINT p = {GET_X_LPARAM(m.LParam), GET_Y_LPARAM(m.LParam)};
        RECT r = ClientRect();
        if (PtInRect(&r, p)) Click();
        return;
    }
    }
    TWinControl::WndProc(m);
}
