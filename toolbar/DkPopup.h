// The top-level window of one popup menu level: it owns its view, paints its border and
// scroll arrows, forwards the view timers, and shows itself with the system's menu
// animation (a fade or a slide run by a short-lived thread).
#pragma once

#include "DkView.h"
#include "Forms.h"

#include <windows.h>

#include <string>

class TDkPopupWindow : public TCustomControl {
public:
    TDkPopupWindow(TComponent* owner, TDkView* parentView, TDkCustomItem* item, TDkViewOrientation orientation,
                   TWinControl* sourceToolbar);
    ~TDkPopupWindow() override;

    TDkView* View() const { return view_; }
    unsigned char AnimationDirection = 0;  // 1 from the right, 2 from the left, 4 from the top, 8 from the bottom

    // Shown and hidden without activation and without moving in the z-order; shown through
    // the animation when the system animates menus.
    void SetVisible(bool visible) override;
    // The hint of the selected viewer: its rectangle (client coordinates) and text; false,
    // with an empty text, when nothing is selected.
    bool GetHintInfo(RECT& rect, std::string& hint) const;

    void WndProc(TMessage& message) override;

protected:
    void CreateParams(TCreateParams& params) override;
    void CreateWnd() override;
    void Paint() override;

private:
    void PaintNonClient(HDC dc);
    bool AnimationWanted() const;

    TDkView* view_ = nullptr;
};

// The animation's messages to its window: a step (lParam: the sequence number of the
// animation it belongs to) and the end, sent after the last frame.
const UINT DkAnimationStepMessage = WM_USER + 0x555;   // 2389
const UINT DkAnimationEndedMessage = WM_USER + 0x556;  // 2390

// One popup animates at a time. True while an animation of `window` (of any window when
// nullptr) has not ended.
bool DkPopupAnimating(const TDkPopupWindow* window);
// Ends the animation of `window` (any when nullptr): the thread is stopped and joined and
// the whole image shows, without layered style or window region.
void DkEndPopupAnimation(const TDkPopupWindow* window);
// Where a slide puts the image of a window of `size` at `level` (0..255) for the direction
// bits (1 from the right, 2 from the left, 4 from the top, 8 from the bottom).
POINT DkSlideOffset(unsigned char direction, SIZE size, int level);

// The animation thread's clock: the performance counter, read through these (the system's
// by default). A frequency below 1000 per second, or none, makes it count in milliseconds
// with GetTickCount instead.
struct TDkAnimationClock {
    BOOL(WINAPI* Frequency)(LARGE_INTEGER* frequency) = nullptr;
    BOOL(WINAPI* Counter)(LARGE_INTEGER* count) = nullptr;
};
// Puts another clock in place for the next animations (nullptr members: the system's);
// returns the one before.
TDkAnimationClock SetDkAnimationClock(const TDkAnimationClock& clock);

enum TDkPopupAlignment { dkpaLeft, dkpaRight, dkpaCenter };

// What a popup is opened from, which decides where it goes first.
enum TDkPopupPlaceKind {
    dkppAtPoint,            // a screen point, with an alignment
    dkppBesideItem,         // a sub-menu beside its item in a menu
    dkppHorizontalToolbar,  // below an item of a horizontal toolbar
    dkppVerticalToolbar,    // beside an item of a vertical toolbar
    dkppHorizontalChevron,
    dkppVerticalChevron,
};

struct TDkPopupPlacementIn {
    TDkPopupPlaceKind Kind = dkppAtPoint;
    RECT Parent = {0, 0, 0, 0};   // the opening item in screen coordinates; at a point, the point (empty)
    SIZE Size = {0, 0};           // the popup window's size
    RECT Monitor = {0, 0, 0, 0};  // the area the popup has to stay in
    TDkPopupAlignment Alignment = dkpaLeft;  // at a point
    bool DropAlignmentRight = false;         // the system's menu drop alignment
    bool ParentLeftward = false;             // the parent menu opened to the left of its item
};

// The popup's top-left corner. `direction` gets the animation bits of the popup's side of
// its item; `leftward` tells whether a popup beside its item went to the item's left.
POINT DkPlacePopup(const TDkPopupPlacementIn& in, unsigned char& direction, bool& leftward);

// Opens the popup of `viewer`'s item beside or below it, or at a screen point. The caller
// owns the window that is returned.
TDkPopupWindow* DkOpenPopup(TDkView* parentView, TDkItemViewer* viewer, bool selectFirst, bool besideItem);
TDkPopupWindow* DkPopupAtPoint(TDkCustomItem* item, POINT point, TDkPopupAlignment alignment, bool selectFirst);
