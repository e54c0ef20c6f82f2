// Views show the sub-items of one item in one window through item viewers: the layout,
// the selection and its timers, and the modal loop that tracks mouse and keys while a
// toolbar or menu is in use.
#pragma once

#include "DkItem.h"
#include "Graphics.h"

#include <windows.h>

#include <functional>
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

// The shift state of a double-click, beside the toolkit's keys and buttons.
const TShiftState dkssDouble = 64;

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

    // Operations, in the order of their slots. Mouse points are in viewer coordinates.
    virtual void CalcSize(TCanvas& canvas, int& width, int& height);
    virtual std::string CaptionText();
    // False when the viewer has no cursor of its own (the arrow then shows).
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
    // 6 across in toolbars, 10 high in menus; the layout stretches the other way.
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
    // Least important first: the chevron hides from its front. New viewers join at the
    // front; an item clicked in the chevron's popup moves to the back.
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
    // Accelerator underlines: they show when forced, outside menu bars, or when the system
    // always shows keyboard cues.
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
    // Selectable: shown, selectable and not a separator.
    TDkItemViewer* FirstSelectable(bool fromEnd);
    // The next one after `from` (from the start or end when none), wrapping round.
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

    // Opens the popup of the selected viewer's item (closing another first).
    void OpenChildPopup(bool selectFirst);
    // Closes the popup opened from here, and with it the ones opened from that.
    void CloseChildPopups();
    // Cursor tracking for the view under the cursor and its parents, from the view that
    // runs the loop (or the toolbar under the mouse).
    void UpdateCursorPos(POINT screen);
    void CancelCapture();
    // The view takes (or lets go of) the mouse for its selected viewer.
    void SetCaptureFor(bool capture);

    // The modal loop. Returns when a viewer ends it, the capture is lost, or a click lands
    // outside; the caller carries out `result` afterwards (CarryOutLoopResult). A handler
    // that throws ends the loop, and the exception goes on to the caller.
    void RunMenuLoop(bool startWithMouseDown, bool keyboardMode, TDkLoopResult& result, bool trackRightButton);
    // Keys of the view after the selected viewer's own handler.
    virtual void KeyDown(WORD& key, TShiftState shift, TDkLoopState& loop);

    void RecreateAllViewers();
    void ItemNotification(TDkCustomItem* ancestor, bool relayed, TDkItemChangeAction action, int index,
                          TDkCustomItem* item) override;

protected:
    void Notification(TComponent* component, TOperation operation) override;
    virtual TDkPopupWindow* CreatePopupWindow(TDkItemViewer* viewer, bool selectFirst);

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
    bool showAccels_ = false;
    POINT totalSize_ = {0, 0};

private:
    TDkItemViewer* MakeViewer(TDkCustomItem* item);
    void InsertViewer(int index, TDkItemViewer* viewer);
    void DeleteViewer(TDkItemViewer* viewer);
    TDkItemViewer* RecreateViewer(int index, TDkItemViewerClass viewerClass);
    void FreeViewers();
    void MovePriorityToBack(TDkItemViewer* viewer);
    void RepaintIfAsked(TDkItemViewer* viewer, TDkItemStyle style);
    bool WindowReady() const;
    void UpdateMouseOverSelected(POINT screen);
    // Cursor tracking of one view of the loop's chain; `hovered` when the cursor is over it.
    void TrackView(POINT screen, bool hovered);
    // The views of the loop's chain, this one first.
    std::vector<TDkView*> OpenChain();
    TDkView* ViewOfWindow(HWND window);
    TDkView* DeepestView();
    void FindHovered(POINT screen, TDkView*& view, TDkItemViewer*& viewer);
};

class TDkToolbarView : public TDkView {
public:
    using TDkView::TDkView;
};

class TDkPopupView : public TDkView {
public:
    using TDkView::TDkView;
};

// The system's menu show delay in ms: 400 before Windows 4, else the parameter, else the
// registry text (read once).
int GetMenuShowDelay();
// "MenuShowDelay" as stored: string digits give their value, missing gives 400, anything
// else 0; negative counts as 0.
int ParseMenuShowDelay(bool present, DWORD type, const std::string& data);

// Carries out what a loop left: clicks (deferred), SC_KEYMENU, or help.
void CarryOutLoopResult(const TDkLoopResult& result);

// The application's status hint (the toolkit's application has none): the long hint of
// the deepest selected item while a menu loop runs, empty after it.
const std::string& DkApplicationHint();
void DkSetApplicationHint(const std::string& hint);
using TDkHintEvent = std::function<void(const std::string& hint)>;
extern TDkHintEvent DkOnApplicationHint;  // called when the hint changes
// Hides any hint window of the thread that shows (keys and clicks in the loop).
void DkCancelHint();
