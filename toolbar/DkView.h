// Views show the sub-items of one item in one window through item viewers: the layout,
// the selection and its timers, and the modal loop that tracks mouse and keys while a
// toolbar or menu is in use.
#pragma once

#include "DkItem.h"
#include "Graphics.h"

#include <windows.h>

#include <string>
#include <vector>

class TDkView;
class TDkPopupWindow;

enum TDkViewOrientation { dkvoHorizontal, dkvoVertical, dkvoFloating };

// View state bits.
const unsigned char dkvsModal = 1 << 0;
const unsigned char dkvsOpen = 1 << 1;  // takes part in mouse tracking as an open menu level
const unsigned char dkvsIgnoreMouseUp = 1 << 4;
const unsigned char dkvsKeyboardMode = 1 << 6;  // sub-menus open at once on selection
const unsigned char dkvsNoAnimation = 1 << 7;   // its sub-menus open without animation

// View style bits.
const unsigned dkvsMenuBar = 1 << 0;
const unsigned dkvsShowHints = 1 << 1;  // hints show while the loop runs

enum TDkViewTimer { dkvtOpen, dkvtClose, dkvtScrollUp, dkvtScrollDown };
const UINT DkViewTimerBase = 9000;  // timer identifiers 9000 + kind on the popup window

// Viewer state bits.
const unsigned char dkvrsBufferedRepaint = 1 << 0;
const unsigned char dkvrsLineSeparator = 1 << 1;

enum TDkLoopResultKind { dklrNone = 0, dklrClick = 1, dklrSysKeyMenu = 2, dklrHelp = 3 };

// What a menu loop leaves for its caller to do once it has ended.
struct TDkLoopResult {
    TDkLoopResultKind Kind = dklrNone;
    TDkCustomItem* Item = nullptr;  // clicked, or the one to show help for
    HWND Window = nullptr;          // the window to get SC_KEYMENU
    char Char = 0;
};

// Handed to viewers' mouse and key handlers while the loop runs.
struct TDkLoopState {
    bool Done = false;
    TDkLoopResult* Result = nullptr;
};

class TDkItemViewer : public TObject {
public:
    TDkItemViewer(TDkView* view, TDkCustomItem* item);
    ~TDkItemViewer() override;

    TDkView* View() const { return view_; }
    TDkCustomItem* Item() const { return item_; }
    TDkItemViewerClass ViewerClass = nullptr;  // the class it was made as

    RECT BoundsRect = {0, 0, 0, 0};  // view client coordinates
    bool Clipped = false;            // under a scroll arrow
    bool OffEdge = false;            // went to the chevron
    bool Show = false;
    unsigned char State = 0;

    // Operations, in the order of their slots.
    virtual void CalcSize(TCanvas& canvas, int& width, int& height);
    virtual std::string CaptionText();
    virtual bool GetCursor(POINT pt, HCURSOR& cursor);
    virtual void Paint(TCanvas& canvas, const RECT& clientArea, bool isDisabledShadow, bool pushed, bool selected);
    virtual bool IsPtInButtonPart(int x, int y);
    virtual void KeyDown(WORD& key, TShiftState shift, TDkLoopState& loop);
    virtual void Leaving();
    virtual void LosingCapture();
    virtual void MouseDown(TShiftState shift, int x, int y, TDkLoopState& loop);
    virtual void MouseMove(int x, int y, TDkLoopState& loop);
    virtual void MouseUp(int x, int y, TDkLoopState& loop);
    virtual void MouseWheel(int delta, int x, int y, TDkLoopState& loop);
    virtual bool UsesSameWidth();

    // Facts of drawing and measuring.
    bool IsToolbarStyle() const;
    bool IsRotatedCaption() const;
    bool ShowsImage() const;
    bool ShowsCaption() const;
    TCustomImageList* ImageList() const;  // the item's, else the nearest sub-menu images up the views
    bool IsSplitButton() const { return (item_->ItemStyle() & dkisSplitButton) != 0; }
    bool HasSubmenu() const { return (item_->ItemStyle() & dkisSubmenu) != 0; }

    // Clicks the item (through the loop's result) or opens its sub-menu.
    void Execute(TDkLoopState& loop);
    RECT ScreenBounds() const;

    static TDkItemViewer* Create(TDkView* view, TDkCustomItem* item);

protected:
    TDkView* view_;
    TDkCustomItem* item_;
};

class TDkSeparatorItemViewer : public TDkItemViewer {
public:
    using TDkItemViewer::TDkItemViewer;
    void CalcSize(TCanvas& canvas, int& width, int& height) override;
    void Paint(TCanvas& canvas, const RECT& clientArea, bool isDisabledShadow, bool pushed, bool selected) override;
    bool UsesSameWidth() override { return false; }
    static TDkItemViewer* Create(TDkView* view, TDkCustomItem* item);
};

class TDkChevronItemViewer : public TDkItemViewer {
public:
    using TDkItemViewer::TDkItemViewer;
    void Paint(TCanvas& canvas, const RECT& clientArea, bool isDisabledShadow, bool pushed, bool selected) override;
    static TDkItemViewer* Create(TDkView* view, TDkCustomItem* item);
};

class TDkView : public TComponent, public TDkItemObserver {
public:
    // `window` shows the view; `parentItem` is the item whose sub-items it shows.
    TDkView(TComponent* owner, TDkView* parentView, TWinControl* window, TDkCustomItem* parentItem,
            TDkCustomItem* chevronItem, bool isToolbar, bool customizing, bool usePriorityList);
    ~TDkView() override;

    TWinControl* Window() const { return window_; }
    TDkView* ParentView() const { return parentView_; }
    TDkView* RootView();
    TDkCustomItem* ParentItem() const { return parentItem_; }
    TDkCustomItem* ChevronItem() const { return chevronItem_; }
    TDkView* OpenView() const { return openView_; }
    TDkItemViewer* OpenViewer() const { return openViewer_; }
    TDkView* ChevronParentView = nullptr;
    TDkPopupWindow* OpenPopup() const { return openPopup_; }

    int ViewerCount() const { return static_cast<int>(viewers_.size()); }
    TDkItemViewer* Viewers(int index) const { return viewers_.at(index); }
    int IndexOf(const TDkItemViewer* viewer) const;
    TDkItemViewer* Find(const TDkCustomItem* item) const;
    // Least important first; the chevron hides from its end.
    std::vector<TDkItemViewer*>& PriorityList() { return priorityList_; }
    bool UsePriorityList() const { return usePriorityList_; }
    void SetUsePriorityList(bool value);

    TDkItemViewer* Selected() const { return selected_; }
    bool MouseOverSelected() const { return mouseOverSelected_; }
    bool Capture() const { return capture_; }

    unsigned char State = 0;
    unsigned Style = 0;
    bool IsToolbar = false, IsPopup = false, Customizing = false;
    TDkViewOrientation Orientation = dkvoHorizontal;
    int MaxHeight = 0;
    int ScrollOffset = 0;
    bool ShowUpArrow = false, ShowDownArrow = false;
    unsigned Timers = 0;  // bit per TDkViewTimer that runs
    TColor BackgroundColor = clDefault;
    // Accelerator underlines: false hides them in a menu bar while cues are not always shown.
    bool ShowAccels() const;
    void SetAccelsVisibility(bool show);
    RECT MonitorRect = {0, 0, 0, 0};  // remembered by popups opened from here; empty = none
    bool OpenedLeftward = false;

    TFont& Font();
    virtual RECT GetMargins();

    // Lays the viewers out; true when a viewer's rectangle, show or line-separator flag
    // changed. With `apply` false only the sizes are wanted.
    bool LayOutViewers(bool apply, TDkViewOrientation orientation, int& wrappedLines, POINT& totalSize,
                       POINT& baseSize, int chevronSize, int availableLength, int wrapOffset);
    // Lays out again with the last arguments and repaints.
    virtual void UpdatePositions();
    POINT TotalSize() const { return totalSize_; }
    int ChevronSize = 12;
    int AvailableLength = 0, WrapOffset = 0;
    int WrappedLines = 1;
    POINT BaseSize = {0, 0};

    TDkItemViewer* ViewerAtPoint(POINT p);
    void Select(TDkItemViewer* viewer, bool scrollIntoView);
    TDkItemViewer* FirstSelectable(bool fromEnd);
    TDkItemViewer* NextSelectable(TDkItemViewer* from, bool forward);
    // The viewer whose caption matches a typed character, starting after `after`.
    TDkItemViewer* FindAccelerator(char ch, TDkItemViewer* after, bool explicitOnly, bool& unique);
    void ScrollSelectedIntoView();
    void Scroll(bool down);

    void StartTimer(TDkViewTimer timer, unsigned interval);
    void StopTimer(TDkViewTimer timer);
    void StopAllTimers();
    void TimerFired(TDkViewTimer timer);

    // Painting (through the window's paint).
    void DrawViewer(TDkItemViewer* viewer, HDC dc, bool forceBuffer);
    void DrawSubitems(HDC dc);
    void InvalidateViewer(TDkItemViewer* viewer);

    // Popups opened from this view.
    void OpenChildPopup(bool selectFirst);
    void CloseChildPopups();
    // Cursor tracking for the view under the cursor and its parents.
    void UpdateCursorPos(POINT screen, bool captured);
    void CancelCapture();
    void SetCaptureFor(bool capture);

    // The modal loop. Returns when a viewer ends it, the capture is lost, or a click lands
    // outside; the caller carries out `result` afterwards (CarryOutLoopResult).
    void RunMenuLoop(bool startWithMouseDown, bool keyboardMode, TDkLoopResult& result, bool trackRightButton);
    // Keys of the view after the selected viewer's own handler.
    virtual void KeyDown(WORD& key, TShiftState shift, TDkLoopState& loop);

    void RecreateAllViewers();
    void ItemNotification(TDkCustomItem* ancestor, bool relayed, TDkItemChangeAction action, int index,
                          TDkCustomItem* item) override;

protected:
    void Notification(TComponent* component, TOperation operation) override;
    virtual TDkPopupWindow* CreatePopupWindow(TDkItemViewer* viewer);

    TWinControl* window_;
    TDkView* parentView_;
    TDkCustomItem* parentItem_;
    TDkCustomItem* chevronItem_;
    TDkView* openView_ = nullptr;
    TDkItemViewer* openViewer_ = nullptr;
    TDkPopupWindow* openPopup_ = nullptr;
    std::vector<TDkItemViewer*> viewers_;
    std::vector<TDkItemViewer*> priorityList_;
    bool usePriorityList_ = false;
    TDkItemViewer* selected_ = nullptr;
    bool mouseOverSelected_ = false;
    bool capture_ = false;
    bool showAccels_ = true;
    POINT totalSize_ = {0, 0};
};

class TDkToolbarView : public TDkView {
public:
    using TDkView::TDkView;
};

class TDkPopupView : public TDkView {
public:
    using TDkView::TDkView;
};

// The system's menu show delay in ms: the parameter, else the registry text (read once).
int GetMenuShowDelay();
// "MenuShowDelay" as stored: REG_SZ digits give their value, missing gives 400, anything
// else 0; negative counts as 0.
int ParseMenuShowDelay(bool present, DWORD type, const std::string& data);

// Carries out what a loop left: clicks (deferred), SC_KEYMENU, or help.
void CarryOutLoopResult(const TDkLoopResult& result);
