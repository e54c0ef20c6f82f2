// The top-level window of one popup menu level: it owns its view, paints its border and
// scroll arrows and forwards the view timers.
#pragma once

#include "DkView.h"
#include "Forms.h"

class TDkPopupWindow : public TCustomControl {
public:
    TDkPopupWindow(TComponent* owner, TDkView* parentView, TDkCustomItem* item, TDkViewOrientation orientation,
                   TWinControl* sourceToolbar);
    ~TDkPopupWindow() override;

    TDkView* View() const { return view_; }
    unsigned char AnimationDirection = 0;  // 1 from the right, 2 from the left, 4 from the top, 8 from the bottom

    void WndProc(TMessage& message) override;

protected:
    void CreateParams(TCreateParams& params) override;
    void Paint() override;

private:
    TDkView* view_ = nullptr;
};

enum TDkPopupAlignment { dkpaLeft, dkpaRight, dkpaCenter };

// Opens the popup of `viewer`'s item beside or below it, or at a screen point.
TDkPopupWindow* DkOpenPopup(TDkView* parentView, TDkItemViewer* viewer, bool selectFirst, bool besideItem);
TDkPopupWindow* DkPopupAtPoint(TDkCustomItem* item, POINT point, TDkPopupAlignment alignment, bool selectFirst);
