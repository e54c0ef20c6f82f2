// Controls over real Win32 windows: the control base with its properties and events, the
// windowed control with its window procedure, and the custom-drawn control.
#pragma once

#include "ActnList.h"
#include "Classes.h"
#include "Graphics.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TMessage {
    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    LRESULT Result;
};

enum TMouseButton { mbLeft, mbRight, mbMiddle };
enum TShiftStateFlag : unsigned { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32 };
using TShiftState = unsigned;
TShiftState KeyboardShift();
// The shift state a mouse message carries in its wParam.
TShiftState MouseShift(WPARAM keys);

using TMouseEvent = std::function<void(TObject* sender, TMouseButton button, TShiftState shift, int x, int y)>;
using TMouseMoveEvent = std::function<void(TObject* sender, TShiftState shift, int x, int y)>;
using TKeyEvent = std::function<void(TObject* sender, WORD& key, TShiftState shift)>;
using TKeyPressEvent = std::function<void(TObject* sender, char& key)>;

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

// Messages of the toolkit's own.
const UINT CM_BASE = WM_APP + 0x3B00;
const UINT CM_FOCUSBACK = CM_BASE + 1;  // a control takes the focus back after its exit check
const UINT CM_RELEASE = CM_BASE + 2;    // a form frees itself after its message has returned
// What the application's main-window hooks are told, and what a form
// offers its controls.
const UINT CM_APPKEYDOWN = CM_BASE + 3;     // a key down for a form (LParam: the MSG); Result 1 takes it
const UINT CM_APPSYSCOMMAND = CM_BASE + 4;  // a form's keyboard-menu command (LParam: its TMessage)
const UINT CM_DIALOGKEY = CM_BASE + 5;      // a key (WParam) shown to every control; Result 1 stops it
const UINT CM_DIALOGCHAR = CM_BASE + 6;     // an Alt+character (WParam) for the first control that takes it

class TControl;
class TWinControl;
class TCustomForm;

class TControlActionLink : public TActionLink {
public:
    explicit TControlActionLink(TControl* client) : client_(client) {}

    bool IsCaptionLinked() override;
    bool IsEnabledLinked() override;
    bool IsHintLinked() override;
    bool IsVisibleLinked() override;
    void SetCaption(const std::string& caption) override;
    void SetEnabled(bool enabled) override;
    void SetHint(const std::string& hint) override;
    void SetVisible(bool visible) override;

protected:
    TControl* client_;
};

class TControl : public TComponent {
public:
    explicit TControl(TComponent* owner);
    ~TControl() override;

    TWinControl* Parent() const { return parent_; }
    virtual void SetParent(TWinControl* parent);

    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    virtual void SetBounds(int left, int top, int width, int height);
    void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
    void SetTop(int v) { SetBounds(left_, v, width_, height_); }
    void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
    void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
    RECT BoundsRect() const { return {left_, top_, left_ + width_, top_ + height_}; }

    bool Visible() const { return visible_; }
    virtual void SetVisible(bool visible);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    bool Enabled() const { return enabled_; }
    virtual void SetEnabled(bool enabled);

    // Caption and Text are one property, as in the toolkit.
    virtual std::string Text() const { return text_; }
    virtual void SetText(const std::string& text);
    std::string Caption() const { return Text(); }
    void SetCaption(const std::string& caption) { SetText(caption); }

    TFont& Font() { return font_; }
    bool ParentFont() const { return parentFont_; }
    void SetParentFont(bool value);
    TColor Color() const { return color_; }
    virtual void SetColor(TColor color);

    const std::string& Hint() const { return hint_; }
    virtual void SetHint(const std::string& hint);
    bool ShowHint() const { return showHint_; }
    virtual void SetShowHint(bool show);

    TAlign Align() const { return align_; }
    void SetAlign(TAlign align);

    TBasicAction* Action() const;
    void SetAction(TBasicAction* action);

    // OnClick, or the action when there is no OnClick.
    virtual void Click();
    virtual void Invalidate() {}

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseMoveEvent OnMouseMove;

protected:
    void Notification(TComponent* component, TOperation operation) override;
    virtual void ActionChange(TBasicAction* action);
    virtual void FontChanged() {}
    virtual void BoundsChanged() {}
    // No events while the control or its form is being freed.
    bool Quiet() const;

    TWinControl* parent_ = nullptr;
    int left_ = 0, top_ = 0, width_ = 75, height_ = 25;
    bool visible_ = true, enabled_ = true;
    std::string text_;
    TFont font_;
    bool parentFont_ = true;
    TColor color_ = clBtnFace;
    std::string hint_;
    bool showHint_ = false;
    TAlign align_ = alNone;
    std::unique_ptr<TControlActionLink> actionLink_;

    friend class TWinControl;
};

// The short part of a hint "short|long".
std::string GetShortHint(const std::string& hint);
std::string GetLongHint(const std::string& hint);

class TWinControl : public TControl {
public:
    explicit TWinControl(TComponent* owner);
    ~TWinControl() override;

    // The window, made (with its parent's) when first asked for.
    HWND Handle();
    bool HandleAllocated() const { return handle_ != nullptr; }

    int ControlCount() const { return static_cast<int>(controls_.size()); }
    TControl* Controls(int index) const { return controls_.at(index); }

    void SetParent(TWinControl* parent) override;
    void SetBounds(int left, int top, int width, int height) override;
    void SetVisible(bool visible) override;
    void SetEnabled(bool enabled) override;
    std::string Text() const override;
    void SetText(const std::string& text) override;
    void SetColor(TColor color) override;
    void SetHint(const std::string& hint) override;
    void SetShowHint(bool show) override;
    void Invalidate() override;
    void Update();
    RECT ClientRect();
    POINT ClientToScreen(POINT p);
    POINT ScreenToClient(POINT p);

    bool TabStop() const { return tabStop_; }
    void SetTabStop(bool tabStop);
    bool Focused() const;
    virtual bool CanFocus() const;
    virtual void SetFocus();

    LRESULT Perform(UINT msg, WPARAM wParam, LPARAM lParam);
    // Dispatches a message; descendants handle theirs and pass the rest to the base.
    virtual void WndProc(TMessage& message);

    // Runs the exit and enter steps (OnExit, OnEnter) of a focus move.
    virtual void DoEnter();
    virtual void DoExit();

    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;
    TKeyEvent OnKeyDown;
    TKeyEvent OnKeyUp;
    TKeyPressEvent OnKeyPress;

    static TWinControl* FindControl(HWND window);

protected:
    struct TCreateParams {
        std::string ClassName;  // a system class (EDIT, BUTTON...) or empty for the toolkit's own
        DWORD Style = WS_CHILD | WS_CLIPSIBLINGS;
        DWORD ExStyle = 0;
        HWND Parent = nullptr;
        int Id = 0;  // the control's id; 0 gives it one of its own
    };
    virtual void CreateParams(TCreateParams& params);
    virtual void CreateHandle();
    // After the window exists: the properties held so far go to it.
    virtual void CreateWnd();
    void DestroyHandle();
    void RecreateWnd();
    void DefaultHandler(TMessage& message);

    // WM_COMMAND and WM_NOTIFY of this control, sent to its parent and passed back here.
    virtual void CommandNotify(WORD code) { (void)code; }
    virtual bool NotifyReflected(NMHDR* header, LRESULT& result)
    {
        (void)header;
        (void)result;
        return false;
    }
    // The brush for WM_CTLCOLOR*, or nullptr for the system's.
    virtual HBRUSH CtlColor(HDC dc);
    void FontChanged() override;
    void AlignControls();
    // Fills the client area with the control's colour (WM_ERASEBKGND).
    void EraseBackground(TMessage& message);

    // Runs the key events of a key message; true when one of them took the key.
    bool HandleKey(TMessage& message);
    // Gives the focus back to this control once the current focus move is over; while one
    // such return is pending, others are dropped, so two controls cannot fight over it.
    void PostFocusBack();

    void InsertControl(TControl* control);
    void RemoveControl(TControl* control);

    HWND handle_ = nullptr;
    WNDPROC defProc_ = nullptr;
    bool tabStop_ = false;
    TBrush brush_;

private:
    static LRESULT CALLBACK ControlWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
    void Attach(HWND window);
    void UpdateHintTool();
    bool HandleMouse(TMessage& message);

    std::vector<TControl*> controls_;
    bool aligning_ = false;

    friend class TControl;
};

// A windowed control that paints itself on its canvas.
class TCustomControl : public TWinControl {
public:
    explicit TCustomControl(TComponent* owner);
    TCanvas& Canvas() { return canvas_; }
    void WndProc(TMessage& message) override;

protected:
    virtual void Paint() {}
    // Paint, through the canvas, on a DC of the caller's (a WM_PAINT's, a print's).
    void PaintOn(HDC dc);

private:
    TCanvas canvas_;
};

TCustomForm* GetParentForm(TControl* control);

// Registers a window class as the toolkit's own: double clicks, the arrow cursor and the
// default window procedure, which a control's window replaces. False when the system
// refuses; a class already there counts as registered.
bool RegisterPlainWindowClass(const char* name);
