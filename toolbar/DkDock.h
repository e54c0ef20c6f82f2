// Docks hold dockable windows (the base of every toolbar) in rows along one side of a
// form; a dockable window can be dragged between docks or out of them to float in a small
// tool window of its own.
#pragma once

#include "DkCommon.h"
#include "DkDockLayout.h"
#include "Forms.h"
#include "Handles.h"
#include "SysUtils.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class EInvalidOperation : public Exception {
public:
    using Exception::Exception;
};

enum TDkDockPosition { dpTop, dpBottom, dpLeft, dpRight };
inline bool DkVerticalPosition(TDkDockPosition p) { return p == dpLeft || p == dpRight; }

using TDkDockBoundLines = unsigned char;
const TDkDockBoundLines blTop = 1, blBottom = 2, blLeft = 4, blRight = 8;

enum TDkDockMode { dmCanFloat, dmCannotFloat, dmCannotFloatOrChangeDocks };
enum TDkDragHandleStyle { dhDouble, dhNone, dhSingle };
using TDkDockableTo = unsigned char;  // bit 1 << TDkDockPosition
const TDkDockableTo DkDockableToAll = 15;
enum TDkFloatingMode { fmOnTopOfParentForm, fmOnTopOfAllForms };
using TDkDockableWindowStyles = unsigned char;
const TDkDockableWindowStyles dkwsResizeEightCorner = 1, dkwsClipCursorWhenResizing = 2;

// The window's own hit codes: drag handle and borders, close button, floating caption.
const int DkHitHandle = 2000;
const int DkHitClose = 2001;
const int DkHitCaption = 2002;

class TDkDock;
class TDkCustomDockableWindow;
class TDkFloatingWindowParent;

// What paints a dock's background (and its toolbars', when the dock asks).
class TDkBasicBackground : public TComponent {
public:
    using TComponent::TComponent;
    ~TDkBasicBackground() override;
    virtual bool UsingBackground() const { return false; }
    // Paints `rect` of `dc`, the pattern's origin set off by `origin` so that it lines up
    // across neighbouring controls.
    virtual void PaintBackground(HDC dc, const RECT& rect, POINT origin) { (void)dc, (void)rect, (void)origin; }

protected:
    // The docks that use it paint again.
    void Changed();

private:
    friend class TDkDock;
    std::vector<TDkDock*> users_;
};

// A background of one bitmap, tiled from the origin.
class TDkBackground : public TDkBasicBackground {
public:
    using TDkBasicBackground::TDkBasicBackground;
    HBITMAP Bitmap() const { return static_cast<HBITMAP>(bitmap_.Get()); }
    // Takes the bitmap over (nullptr: none).
    void SetBitmap(HBITMAP bitmap);
    bool UsingBackground() const override;
    void PaintBackground(HDC dc, const RECT& rect, POINT origin) override;

private:
    TGdiObject bitmap_;
    SIZE size_ = {0, 0};
};

using TDkInsertRemoveEvent = std::function<void(TObject* sender, bool inserting, TDkCustomDockableWindow* bar)>;
using TDkRequestDockEvent = std::function<void(TObject* sender, TDkCustomDockableWindow* bar, bool& accept)>;

class TDkDock : public TCustomControl {
public:
    explicit TDkDock(TComponent* owner);
    ~TDkDock() override;

    TDkDockPosition Position() const { return position_; }
    void SetPosition(TDkDockPosition value);  // raises once the dock holds controls
    bool Vertical() const { return DkVerticalPosition(position_); }
    bool AllowDrag() const { return allowDrag_; }
    void SetAllowDrag(bool value);
    TDkDockBoundLines BoundLines() const { return boundLines_; }
    void SetBoundLines(TDkDockBoundLines value);
    TDkBasicBackground* Background() const { return background_; }
    void SetBackground(TDkBasicBackground* value);
    bool BackgroundOnToolbars() const { return backgroundOnToolbars_; }
    void SetBackgroundOnToolbars(bool value);
    // Set: a new position leaves the dock's align as the program set it.
    bool FixAlign() const { return fixAlign_; }
    void SetFixAlign(bool value);

    // Windows of the dock in row and position order, and those that show.
    int ToolbarCount() const { return static_cast<int>(dockList_.size()); }
    TDkCustomDockableWindow* Toolbars(int index) const { return dockList_.at(index); }
    const std::vector<TDkCustomDockableWindow*>& VisibleList() const { return visibleList_; }

    // Arranging is held off while counted up; the last EndUpdate arranges when needed.
    void BeginUpdate();
    void EndUpdate();
    void ArrangeToolbars();
    // The dock's non-client size (bound lines) across both axes.
    int NonClientWidth() const { return nonClientWidth_; }
    int NonClientHeight() const { return nonClientHeight_; }
    // Thickness of each row after the last arrangement (dock client coordinates, from 0).
    const std::vector<int>& RowThickness() const { return rowThickness_; }

    // State of a drag through this dock.
    TDkCustomDockableWindow* DraggedWindow = nullptr;  // kept in its place while drag-splitting
    bool DragCanSplit = false;      // set by an arrangement that shortened windows beside the dragged one
    bool DragSplitting = false;
    // The next arrangement stores its rows and positions (outside a drag every one does).
    bool CommitNewPositions = false;

    TDkInsertRemoveEvent OnInsertRemoveBar;
    TDkRequestDockEvent OnRequestDock;

    void SetParent(TWinControl* parent) override;  // raises inside a dockable window or dock
    void WndProc(TMessage& message) override;

    // The length windows have along the dock: its client width (height when vertical).
    int AvailableLength();

protected:
    void CreateParams(TCreateParams& params) override;
    void CreateWnd() override;
    void Notification(TComponent* component, TOperation operation) override;
    void Loaded() override;
    void Paint() override;
    void BoundsChanged() override;

private:
    friend class TDkCustomDockableWindow;
    void InsertWindow(TDkCustomDockableWindow* window);
    void RemoveWindow(TDkCustomDockableWindow* window);
    void UpdateNonClient();
    void PaintNonClient(HDC dc);
    bool HasShownWindow() const;
    void EraseThroughBackground(TMessage& message);
    void ArrangeIfLengthChanged();

    TDkDockPosition position_ = dpTop;
    bool allowDrag_ = true;
    TDkDockBoundLines boundLines_ = 0;
    TDkBasicBackground* background_ = nullptr;
    bool backgroundOnToolbars_ = true;
    bool fixAlign_ = false;
    int disableArrange_ = 0;
    bool arrangeNeeded_ = false;
    int nonClientWidth_ = 0, nonClientHeight_ = 0;
    std::vector<TDkCustomDockableWindow*> dockList_;
    std::vector<TDkCustomDockableWindow*> visibleList_;
    std::vector<int> rowThickness_;
    bool arranging_ = false;
    int lastLength_ = -1;
};

// Position data go through the caller's reader and writer; the key is the window's name.
using TDkPositionReadIntProc = std::function<int(const std::string& key, const std::string& value, int def)>;
using TDkPositionWriteIntProc = std::function<void(const std::string& key, const std::string& value, int data)>;

using TDkDockChangingEvent = std::function<void(TObject* sender, bool floating, TDkDock* dockingTo)>;

class TDkCustomDockableWindow : public TCustomControl {
public:
    explicit TDkCustomDockableWindow(TComponent* owner);
    ~TDkCustomDockableWindow() override;

    // Where it stands.
    TDkDock* CurrentDock() const { return currentDock_; }
    void SetCurrentDock(TDkDock* dock);  // nullptr floats it (when it may float)
    TDkDock* DefaultDock() const { return defaultDock_; }
    void SetDefaultDock(TDkDock* dock);
    TDkDock* LastDock() const { return lastDock_; }
    void SetLastDock(TDkDock* dock);
    int DockPos() const { return dockPos_; }
    void SetDockPos(int value);
    int DockRow() const { return dockRow_; }
    void SetDockRow(int value);
    bool Docked() const { return docked_; }
    bool Floating() const { return floating_; }
    void SetFloating(bool value);
    TDkFloatingWindowParent* FloatingParent() const { return floatingParent_; }
    // The floating window's top-left corner on the screen.
    POINT FloatingPosition() const { return floatingPosition_; }
    void SetFloatingPosition(POINT p);
    // Set by the dock's arrangement: row and position as arranged (-1 = none).
    int EffectiveDockRow = -1;
    int EffectiveDockPos = -1;
    bool InsertRowBefore = false;  // for the next arrangement only
    // The length the dock gives, when it differs from the natural one (0 = natural).
    int CurrentSize() const { return currentSize_; }

    // Properties.
    bool AutoResize() const { return autoResize_; }
    void SetAutoResize(bool value);
    bool ActivateParent = true;
    bool HideWhenInactive = true;
    bool CloseButton() const { return closeButton_; }
    void SetCloseButton(bool value);
    bool CloseButtonWhenDocked() const { return closeButtonWhenDocked_; }
    void SetCloseButtonWhenDocked(bool value);
    bool FullSize() const { return fullSize_; }
    void SetFullSize(bool value);
    bool Resizable() const { return resizable_; }
    void SetResizable(bool value);
    bool ShowCaption() const { return showCaption_; }
    void SetShowCaption(bool value);
    bool Stretch() const { return stretch_; }
    void SetStretch(bool value);
    bool UseLastDock = true;
    TFormBorderStyle BorderStyle() const { return borderStyle_; }  // bsNone or bsSingle
    void SetBorderStyle(TFormBorderStyle value);
    TDkDockMode DockMode = dmCanFloat;
    TDkDragHandleStyle DragHandleStyle() const { return dragHandleStyle_; }
    void SetDragHandleStyle(TDkDragHandleStyle value);
    TDkDockableTo DockableTo = DkDockableToAll;
    TDkFloatingMode FloatingMode() const { return floatingMode_; }
    void SetFloatingMode(TDkFloatingMode value);
    bool SmoothDrag = true;
    TDkDockableWindowStyles DockableWindowStyles = dkwsResizeEightCorner | dkwsClipCursorWhenResizing;
    // Forms whose docks also take the window.
    std::vector<TCustomForm*>& DockForms() { return dockForms_; }

    // Sizes. The non-client size along both axes in the current state (docked: borders
    // and drag handle; floating: none, the frame belongs to the floating parent).
    SIZE NonClientSize();
    // The same for the window docked in `dock` (nullptr: floating, none).
    SIZE NonClientSizeFor(TDkDock* dock) const;
    // The margins between a docked window and its row across both axes (none floating).
    SIZE Margins() const;
    // The window's size docked in `dock` (nullptr: floating, without the frame).
    virtual SIZE CalcDockedSize(TDkDock* dock);
    SIZE CalcFloatingSize() { return CalcDockedSize(nullptr); }
    // The frame's border sizes of a floating window (system metrics) and its caption height.
    SIZE FloatingBorderSize() const;
    int FloatingCaptionHeight() const;

    // Lays the window out for where it stands and takes the size that gives.
    void Arrange();
    void BeginUpdate();
    void EndUpdate();

    // The drag loop from a mouse-down on the drag handle or the floating caption (`grab` in
    // the window's, or the floating parent's, client coordinates) and the resize loop of a
    // floating window (edge 0..7, the hit code less 10).
    void BeginMoving(POINT grab);
    void BeginSizing(int edge);
    bool Moving() const { return moving_; }

    // Position data (the base stores nothing of its own).
    virtual void ReadPositionData(const TDkPositionReadIntProc& read);
    virtual void WritePositionData(const TDkPositionWriteIntProc& write);

    // The outermost form that holds the window (for a floating one, the form it floats
    // for), and that form's MDI frame when it is an MDI child. Raises when there is none.
    TCustomForm* GetFormOf();
    TCustomForm* GetTopForm();

    TNotifyEvent OnClose;
    TNotifyEvent OnDockChanged;
    TNotifyEvent OnMove;
    TNotifyEvent OnRecreated;
    TNotifyEvent OnRecreating;
    TNotifyEvent OnVisibleChanged;
    TCloseQueryEvent OnCloseQuery;
    TDkDockChangingEvent OnDockChanging;
    TDkDockChangingEvent OnDockChangingHidden;

    void SetParent(TWinControl* parent) override;
    void SetVisible(bool visible) override;
    // Bounds set by the program give a plain window its base size (its client size).
    void SetBounds(int left, int top, int width, int height) override;
    void SetText(const std::string& text) override;  // the floating caption follows
    void WndProc(TMessage& message) override;

    // Asked by the arrangement of the dock and by the loops; descendants refine them.
    // The size the window's contents want where it stands (client size, unwrapped).
    virtual POINT GetBaseSize();
    // The least length along the dock it can give way to (window size), 0 when it cannot.
    virtual int GetMinimumLength();
    virtual TDkShrinkMode GetShrinkMode() { return dksmNone; }
    // Lays the contents out for `newDock` (nullptr: floating) and answers the client size.
    virtual POINT DoArrange(bool canMoveControls, TDkDock* newDock);

    // The resize of a floating window: the least and most client size (0: none), its
    // begin (with the edge) and end, and each step's rectangle to adjust (screen).
    virtual void GetMinMaxSize(int& minWidth, int& minHeight, int& maxWidth, int& maxHeight);
    virtual void SizingBegins(int edge);
    virtual void SizingEnds(bool applied);
    virtual void AdjustSizingRect(RECT& rect, int edge);

protected:
    void CreateParams(TCreateParams& params) override;
    void CreateWnd() override;
    void Notification(TComponent* component, TOperation operation) override;
    void Loaded() override;
    void Paint() override;
    // The docked window's border, drag handle and close button (window coordinates).
    virtual void PaintNonClient(HDC dc);
    // Closes the window after OnCloseQuery allowed it (hides it).
    virtual void Close();
    // The cursor over the window: the four-way size cursor over the drag handle.
    virtual bool SetCursorFor(int hitCode);

private:
    friend class TDkDock;
    friend class TDkFloatingWindowParent;
    friend class TDkDragLoop;
    void MoveToDock(TDkDock* dock);
    void MakeFloating();
    // The drag handle's size in the current dock (0 when the dock allows no dragging).
    int HandleSize() const;
    RECT DockedCloseButtonRect();
    void TrackDockedCloseButton();
    void DrawDockedCloseButton(HDC dc);
    void RedrawNonClient();
    // The floating parent shows while the window, its form and the application do.
    void UpdateFloatingVisibility();
    // The floating parent's client took a new size.
    void FloatingClientSized(int width, int height);
    void LetGoOfFloatingParent();
    static void HookProc(TDkHookProcCode code, HWND window, WPARAM wParam, LPARAM lParam);

    bool autoResize_ = true;
    int dockPos_ = -1, dockRow_ = 0;
    bool docked_ = false, floating_ = false;
    TDkDock* currentDock_ = nullptr;
    TDkDock* defaultDock_ = nullptr;
    TDkDock* lastDock_ = nullptr;
    int currentSize_ = 0;
    bool closeButton_ = true, closeButtonWhenDocked_ = false, fullSize_ = false, resizable_ = true;
    bool showCaption_ = true, stretch_ = false;
    TFormBorderStyle borderStyle_ = bsSingle;
    TDkDragHandleStyle dragHandleStyle_ = dhSingle;
    TDkFloatingMode floatingMode_ = fmOnTopOfParentForm;
    int updateBounds_ = 0, disableArrange_ = 0;  // bounds set by the window itself; arranging held off
    bool arrangeNeeded_ = false;
    POINT floatingPosition_ = {0, 0};
    std::vector<TCustomForm*> dockForms_;
    bool moving_ = false, closeButtonDown_ = false, closeButtonHover_ = false;
    TDkFloatingWindowParent* floatingParent_ = nullptr;
    POINT baseSize_ = {0, 0};  // the client size the program gave
};

// The hit code of a point of a floating frame (window coordinates), beside the client.
struct TDkFloatingFrame {
    SIZE Window = {0, 0};   // the floating parent's size
    SIZE Border = {0, 0};   // the frame's border on each side
    int SmallCaption = 0;   // the small caption height
    bool ShowCaption = true;
    bool CloseButton = true;
    bool Resizable = true;
    bool EightCorners = true;
};
int DkFloatingHitTest(const TDkFloatingFrame& frame, POINT p);

// The small tool window a floating dockable window lives in.
class TDkFloatingWindowParent : public TCustomForm {
public:
    TDkFloatingWindowParent(TComponent* owner, TDkCustomDockableWindow* window);
    ~TDkFloatingWindowParent() override;
    TDkCustomDockableWindow* DockableWindow() const { return window_; }
    // The form the window floats for (the owner of this window).
    TCustomForm* ParentForm() const { return form_; }
    // The caption band and close button in window coordinates.
    RECT CaptionRect();
    RECT CloseButtonRect();
    // The frame around the client area as the hit test sees it.
    TDkFloatingFrame Frame();
    // Sizes the window so that its client area is `client`.
    void SetClientSizeOf(SIZE client);
    // Shown without taking the activation.
    void SetVisible(bool visible) override;
    void WndProc(TMessage& message) override;

protected:
    void CreateParams(TCreateParams& params) override;
    void CreateWnd() override;
    void Notification(TComponent* component, TOperation operation) override;

private:
    friend class TDkCustomDockableWindow;
    void PaintNonClient(HDC dc);
    HWND OwnerWindow();
    void UpdateOwner();
    void TrackCloseButton();
    void Activated(TMessage& message);
    void MouseActivated(TMessage& message);
    // Frees the object now, or once the message being handled has returned.
    void Dispose();

    TDkCustomDockableWindow* window_;
    TCustomForm* form_ = nullptr;
    int handling_ = 0;  // messages being handled (nested)
    bool disposing_ = false;
    bool closeDown_ = false, closeHover_ = false;
};

// The drag-handle size of a style (14 for every style with a close button when docked).
int DkDragHandleSize(TDkDragHandleStyle style, bool closeButtonWhenDocked);

