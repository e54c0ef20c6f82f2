#include "DkView.h"

#include "DkCommon.h"
#include "DkLayout.h"
#include "DkPopup.h"
#include "Handles.h"
#include "ImgList.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <memory>
#include <optional>

namespace {

bool Has(TDkItemOptions options, TDkItemOption option) { return (options & DkOption(option)) != 0; }

bool IsSelectableViewer(const TDkItemViewer* viewer)
{
    const TDkItemStyle style = viewer->Item()->ItemStyle();
    return viewer->Show && (style & dkisSelectable) && !(style & dkisSeparator);
}

bool SameRect(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

char UpperChar(char c)
{
    char buffer[2] = {c, 0};
    CharUpperBuffA(buffer, 1);
    return buffer[0];
}

// Restores the view's orientation when the layout pass ends, however it ends.
class TOrientationRestore {
public:
    explicit TOrientationRestore(TDkViewOrientation& orientation) : orientation_(orientation), saved_(orientation) {}
    TOrientationRestore(const TOrientationRestore&) = delete;
    TOrientationRestore& operator=(const TOrientationRestore&) = delete;
    ~TOrientationRestore() { orientation_ = saved_; }

private:
    TDkViewOrientation& orientation_;
    TDkViewOrientation saved_;
};

// A memory DC compatible with the screen: the measuring surface of the layout.
HDC CreateScreenCompatibleDC()
{
    const HDC screen = GetDC(nullptr);
    const HDC dc = CreateCompatibleDC(screen);
    if (screen) ReleaseDC(nullptr, screen);
    if (!dc) throw EOutOfResources("Out of system resources");
    return dc;
}

}  // namespace

// --- viewers ---------------------------------------------------------------------------

TDkItemViewer::TDkItemViewer(TDkView* view, TDkCustomItem* item) : view_(view), item_(item) {}

TDkItemViewer::~TDkItemViewer() = default;

TDkItemViewer* TDkItemViewer::Create(TDkView* view, TDkCustomItem* item)
{
    auto* viewer = new TDkItemViewer(view, item);
    viewer->ViewerClass = &TDkItemViewer::Create;
    return viewer;
}

TDkItemViewer* TDkSeparatorItemViewer::Create(TDkView* view, TDkCustomItem* item)
{
    auto* viewer = new TDkSeparatorItemViewer(view, item);
    viewer->ViewerClass = &TDkSeparatorItemViewer::Create;
    return viewer;
}

TDkItemViewer* TDkChevronItemViewer::Create(TDkView* view, TDkCustomItem* item)
{
    auto* viewer = new TDkChevronItemViewer(view, item);
    viewer->ViewerClass = &TDkChevronItemViewer::Create;
    return viewer;
}

bool TDkItemViewer::IsToolbarStyle() const
{
    return view_->IsToolbar || Has(item_->EffectiveOptions(), dkoToolbarStyle);
}

bool TDkItemViewer::IsRotatedCaption() const
{
    const TDkItemOptions options = item_->EffectiveOptions();
    return view_->Orientation == dkvoVertical && !Has(options, dkoNoRotation) && !Has(options, dkoImageAboveCaption);
}

bool TDkItemViewer::ShowsImage() const
{
    if (item_->ImageIndex() < 0) return false;
    switch (item_->DisplayMode()) {
    case dkdmDefault:
    case dkdmImageAndText: return true;
    case dkdmTextOnlyInMenus: return IsToolbarStyle();
    default: return false;
    }
}

bool TDkItemViewer::ShowsCaption() const
{
    // Menus always show the caption; a toolbar button shows it beside an image only when
    // asked to, and in place of an image that does not show.
    if (!IsToolbarStyle()) return true;
    switch (item_->DisplayMode()) {
    case dkdmTextOnly:
    case dkdmImageAndText: return true;
    default: return !(ShowsImage() && ImageList());
    }
}

TCustomImageList* TDkItemViewer::ImageList() const
{
    if (TCustomImageList* images = item_->Images()) return images;
    for (TDkView* v = view_; v; v = v->ParentView()) {
        TDkCustomItem* parent = v->ParentItem();
        if (parent && parent->SubMenuImages()) return parent->SubMenuImages();
    }
    return nullptr;
}

std::string TDkItemViewer::CaptionText()
{
    return item_->Caption();
}

bool TDkItemViewer::GetCursor(POINT, HCURSOR&)
{
    return false;
}

void TDkItemViewer::CalcSize(TCanvas& canvas, int& width, int& height)
{
    const HDC dc = canvas.Handle();
    const TDkItemOptions options = item_->EffectiveOptions();
    TEXTMETRICA tm = {};
    GetTextMetricsA(dc, &tm);
    const int captionWidth = ShowsCaption() ? GetTextWidth(dc, CaptionText(), true) : 0;
    TCustomImageList* images = ImageList();
    const bool image = images && ShowsImage();

    if (IsToolbarStyle()) {
        const bool rotated = IsRotatedCaption();
        width = 6;
        height = 6;
        if (ShowsCaption()) {
            if (rotated) {
                TGdiObject font(CreateRotatedFont(dc));
                std::optional<TSelected> selected;
                if (font) selected.emplace(dc, font.Get());
                width += GetTextHeight(dc);
                height += captionWidth + 6;
            } else {
                height += tm.tmHeight;
                width += captionWidth + 6;
            }
        }
        if (image) {
            if (rotated || Has(options, dkoImageAboveCaption)) {
                height += images->Height();
                width = std::max(width, images->Width() + 7);
            } else {
                width += images->Width() + 1;
                height = std::max(height, images->Height() + 6);
            }
        }
        if (HasSubmenu()) {
            if (IsSplitButton()) width += 11;
            else if (Has(options, dkoDropdownArrow)) (view_->Orientation == dkvoVertical ? height : width) += 8;
        }
        return;
    }

    height = tm.tmHeight + tm.tmExternalLeading + 4;
    if (images) height = std::max(height, images->Height() + 3);
    const int column = images ? MulDiv(images->Width() + 3, height, images->Height() + 3) : height;
    width = captionWidth + column + 6;
    const std::string shortcut = item_->GetShortCutText();
    if (!shortcut.empty()) width += GetTextWidth(dc, shortcut, false) + height - 6;
    width += height;
}

void TDkSeparatorItemViewer::CalcSize(TCanvas&, int& width, int& height)
{
    width = height = 0;
    if (!IsToolbarStyle()) height = 10;
    else if (view_->Orientation == dkvoVertical) height = 6;
    else width = 6;
}

bool TDkItemViewer::IsPtInButtonPart(int x, int)
{
    if (!IsSplitButton()) return !HasSubmenu();
    const int width = BoundsRect.right - BoundsRect.left;
    return x < width - (IsToolbarStyle() ? 11 : GetSystemMetrics(SM_CXMENUCHECK));
}

bool TDkItemViewer::UsesSameWidth()
{
    const TDkItemOptions options = item_->EffectiveOptions();
    return Has(options, dkoImageAboveCaption) && Has(options, dkoSameWidth) &&
           (view_->IsToolbar || Has(options, dkoToolbarSize));
}

void TDkItemViewer::KeyDown(WORD&, TShiftState, TDkLoopState&) {}

void TDkItemViewer::Leaving() {}

void TDkItemViewer::LosingCapture()
{
    view_->InvalidateViewer(this);
}

void TDkItemViewer::MouseDown(TShiftState, int x, int y, TDkLoopState& loop)
{
    if (!item_->Enabled()) return;
    if (HasSubmenu() && !(IsSplitButton() && IsPtInButtonPart(x, y))) {
        // A second press on a toolbar's open item closes its menu and leaves the loop.
        if (view_->OpenViewer() == this) {
            if (view_->IsToolbar) {
                view_->CloseChildPopups();
                loop.Done = true;
            }
            return;
        }
        view_->Select(this, false);
        view_->OpenChildPopup(false);
        // From now on the menus follow the mouse along the toolbar.
        if (view_->IsToolbar && view_->OpenViewer() == this) view_->State |= dkvsKeyboardMode;
        return;
    }
    if (IsToolbarStyle()) {
        view_->Select(this, false);
        view_->SetCaptureFor(true);
    }
}

void TDkItemViewer::MouseMove(int, int, TDkLoopState&) {}

void TDkItemViewer::MouseUp(int x, int y, TDkLoopState& loop)
{
    const bool captured = view_->Capture() && view_->Selected() == this;
    const int width = BoundsRect.right - BoundsRect.left, height = BoundsRect.bottom - BoundsRect.top;
    const bool over = x >= 0 && y >= 0 && x < width && y < height;
    if (captured) {
        view_->SetCaptureFor(false);
        // A press on a button ends with its release, wherever that is.
        loop.Done = true;
    }
    if (over && item_->Enabled() && IsPtInButtonPart(x, y)) Execute(loop);
}

void TDkItemViewer::MouseWheel(int delta, int, int, TDkLoopState&)
{
    if (delta > 0 && view_->ShowUpArrow) view_->Scroll(false);
    else if (delta < 0 && view_->ShowDownArrow) view_->Scroll(true);
}

void TDkItemViewer::Execute(TDkLoopState& loop)
{
    if (!item_->Enabled()) return;
    if (HasSubmenu() && !IsSplitButton()) {
        view_->Select(this, false);
        view_->OpenChildPopup(true);
        if (view_->IsToolbar && view_->OpenViewer() == this) view_->State |= dkvsKeyboardMode;
        return;
    }
    // What the chevron's popup lists the user wants on the toolbar next time.
    if (TDkView* toolbar = view_->ChevronParentView)
        if (TDkItemViewer* there = toolbar->Find(item_); there && toolbar->UsePriorityList()) {
            auto& list = toolbar->PriorityList();
            list.erase(std::remove(list.begin(), list.end(), there), list.end());
            list.push_back(there);
            toolbar->UpdatePositions();
        }
    if (loop.Result) {
        loop.Result->Kind = dklrClick;
        loop.Result->Item = item_;
        loop.Result->Window = nullptr;
        loop.Result->Char = 0;
    } else {
        item_->PostClick(true);
    }
    loop.Done = true;
}

RECT TDkItemViewer::ScreenBounds() const
{
    RECT r = BoundsRect;
    if (TWinControl* window = view_->Window(); window && window->HandleAllocated())
        MapWindowPoints(window->Handle(), nullptr, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// --- the view --------------------------------------------------------------------------

TDkView::TDkView(TComponent* owner, TDkView* parentView, TWinControl* window, TDkCustomItem* parentItem,
                 TDkCustomItem* chevronItem, bool isToolbar, bool customizing, bool usePriorityList)
    : TComponent(owner),
      IsToolbar(isToolbar),
      Customizing(customizing),
      window_(window),
      parentView_(parentView),
      parentItem_(parentItem),
      chevronItem_(chevronItem),
      usePriorityList_(usePriorityList)
{
    if (window_) window_->FreeNotification(this);
    if (parentItem_) {
        parentItem_->FreeNotification(this);
        // Registered with the item itself: the sub-items it links to tell it too.
        parentItem_->RegisterNotification(this);
    }
    if (chevronItem_) chevronItem_->FreeNotification(this);
    RecreateAllViewers();
}

TDkView::~TDkView()
{
    SetDestroying();
    CloseChildPopups();
    StopAllTimers();
    if (parentView_ && parentView_->openView_ == this) {
        // Freed by someone else than the view that opened it.
        parentView_->openView_ = nullptr;
        parentView_->openPopup_ = nullptr;
        parentView_->openViewer_ = nullptr;
    }
    if (parentItem_) {
        parentItem_->UnregisterNotification(this);
        parentItem_->RemoveFreeNotification(this);
    }
    if (chevronItem_) chevronItem_->RemoveFreeNotification(this);
    if (window_) window_->RemoveFreeNotification(this);
    FreeViewers();
}

void TDkView::Notification(TComponent* component, TOperation operation)
{
    TComponent::Notification(component, operation);
    // Only an end concerns the view: a component that just leaves its owner stays shown.
    if (operation != opRemove || !component || !component->Destroying()) return;
    if (component == window_) {
        // Past its own destructor: its timers went with its window.
        Timers = 0;
        window_ = nullptr;
    }
    if (component == parentItem_) {
        CloseChildPopups();
        parentItem_->UnregisterNotification(this);
        parentItem_ = nullptr;
        FreeViewers();
        if (chevronItem_) InsertViewer(ViewerCount(), MakeViewer(chevronItem_));
    }
    if (component == chevronItem_) {
        if (TDkItemViewer* viewer = Find(chevronItem_)) DeleteViewer(viewer);
        chevronItem_ = nullptr;
    }
}

TDkView* TDkView::RootView()
{
    TDkView* v = this;
    while (v->parentView_) v = v->parentView_;
    return v;
}

int TDkView::IndexOf(const TDkItemViewer* viewer) const
{
    const auto it = std::find(viewers_.begin(), viewers_.end(), viewer);
    return it == viewers_.end() ? -1 : static_cast<int>(it - viewers_.begin());
}

TDkItemViewer* TDkView::Find(const TDkCustomItem* item) const
{
    for (TDkItemViewer* viewer : viewers_)
        if (viewer->Item() == item) return viewer;
    return nullptr;
}

TDkItemViewer* TDkView::MakeViewer(TDkCustomItem* item)
{
    TDkItemViewerClass viewerClass = item->GetItemViewerClass(this);
    if (!viewerClass) viewerClass = &TDkItemViewer::Create;
    TDkItemViewer* viewer = viewerClass(this, item);
    viewer->ViewerClass = viewerClass;
    return viewer;
}

void TDkView::InsertViewer(int index, TDkItemViewer* viewer)
{
    index = std::clamp(index, 0, ViewerCount());
    viewers_.insert(viewers_.begin() + index, viewer);
    if (viewer->Item() != chevronItem_) priorityList_.insert(priorityList_.begin(), viewer);
}

void TDkView::DeleteViewer(TDkItemViewer* viewer)
{
    if (viewer == openViewer_) CloseChildPopups();
    if (viewer == selected_) Select(nullptr, false);
    viewers_.erase(std::remove(viewers_.begin(), viewers_.end(), viewer), viewers_.end());
    priorityList_.erase(std::remove(priorityList_.begin(), priorityList_.end(), viewer), priorityList_.end());
    delete viewer;
}

TDkItemViewer* TDkView::RecreateViewer(int index, TDkItemViewerClass viewerClass)
{
    TDkItemViewer* old = viewers_.at(index);
    TDkItemViewer* viewer = viewerClass(this, old->Item());
    viewer->ViewerClass = viewerClass;
    viewer->BoundsRect = old->BoundsRect;
    viewer->Show = old->Show;
    viewer->OffEdge = old->OffEdge;
    viewer->Clipped = old->Clipped;
    viewer->State = old->State;
    viewers_[index] = viewer;
    std::replace(priorityList_.begin(), priorityList_.end(), old, viewer);
    if (selected_ == old) selected_ = viewer;
    if (openViewer_ == old) openViewer_ = viewer;
    delete old;
    return viewer;
}

void TDkView::FreeViewers()
{
    selected_ = nullptr;
    openViewer_ = nullptr;
    mouseOverSelected_ = false;
    capture_ = false;
    priorityList_.clear();
    std::vector<TDkItemViewer*> doomed;
    doomed.swap(viewers_);
    for (TDkItemViewer* viewer : doomed) delete viewer;
}

void TDkView::RecreateAllViewers()
{
    CloseChildPopups();
    if (selected_) Select(nullptr, false);
    FreeViewers();
    if (parentItem_) {
        TDkCustomItem* owner = parentItem_->GetItemsOwner();
        for (int i = 0; i < owner->Count(); ++i) InsertViewer(ViewerCount(), MakeViewer(owner->Items(i)));
    }
    if (chevronItem_) InsertViewer(ViewerCount(), MakeViewer(chevronItem_));
}

void TDkView::SetUsePriorityList(bool value)
{
    if (value == usePriorityList_) return;
    usePriorityList_ = value;
    UpdatePositions();
}

void TDkView::ItemNotification(TDkCustomItem* ancestor, bool, TDkItemChangeAction action, int index,
                               TDkCustomItem* item)
{
    if (!parentItem_ || Destroying()) return;
    // Only the sub-items this view shows concern it.
    if (ancestor && ancestor != parentItem_->GetItemsOwner() && action != dkicSubitemsChanged) return;
    switch (action) {
    case dkicInserted: {
        if (!item) return;
        // The chevron's viewer stays last.
        const int limit = ViewerCount() - (chevronItem_ && Find(chevronItem_) ? 1 : 0);
        InsertViewer(std::clamp(index, 0, limit), MakeViewer(item));
        UpdatePositions();
        break;
    }
    case dkicDeleting:
        if (TDkItemViewer* viewer = Find(item); viewer && item != chevronItem_) {
            DeleteViewer(viewer);
            UpdatePositions();
        }
        break;
    case dkicSubitemsChanged:
        RecreateAllViewers();
        UpdatePositions();
        break;
    case dkicInvalidate:
        InvalidateViewer(Find(item));
        break;
    case dkicInvalidateAndResize:
        UpdatePositions();
        break;
    case dkicRecreateItemViewers:
        for (int i = 0; i < ViewerCount(); ++i)
            if (viewers_[i]->Item() == item) {
                TDkItemViewerClass viewerClass = item->GetItemViewerClass(this);
                RecreateViewer(i, viewerClass ? viewerClass : &TDkItemViewer::Create);
            }
        UpdatePositions();
        break;
    }
}

bool TDkView::WindowReady() const
{
    return window_ && !Destroying() && window_->HandleAllocated();
}

void TDkView::InvalidateViewer(TDkItemViewer* viewer)
{
    if (!viewer || !WindowReady() || !viewer->Show || IsRectEmpty(&viewer->BoundsRect)) return;
    InvalidateRect(window_->Handle(), &viewer->BoundsRect, TRUE);
}

void TDkView::RepaintIfAsked(TDkItemViewer* viewer, TDkItemStyle style)
{
    if (viewer && (viewer->Item()->ItemStyle() & style)) InvalidateViewer(viewer);
}

TFont& TDkView::Font()
{
    if (window_) return window_->Font();
    static TFont fallback;
    return fallback;
}

RECT TDkView::GetMargins()
{
    // Popups keep their border in the window's non-client area; toolbars have none of
    // their own here.
    return {0, 0, 0, 0};
}

bool TDkView::ShowAccels() const
{
    return showAccels_ || !(Style & dkvsMenuBar) || DkSystem().KeyboardCuesAlwaysShown();
}

void TDkView::SetAccelsVisibility(bool show)
{
    const bool before = ShowAccels();
    showAccels_ = show;
    if (ShowAccels() == before) return;
    for (TDkItemViewer* viewer : viewers_)
        if (FindAccelChar(viewer->CaptionText()) != '\0') InvalidateViewer(viewer);
}

// --- layout ----------------------------------------------------------------------------

bool TDkView::LayOutViewers(bool apply, TDkViewOrientation orientation, int& wrappedLines, POINT& totalSize,
                            POINT& baseSize, int chevronSize, int availableLength, int wrapOffset)
{
    wrappedLines = 1;
    TOrientationRestore restore(Orientation);
    Orientation = orientation;
    // The canvas lets go of the DC before the DC goes.
    TMemoryDCHandle dc(CreateScreenCompatibleDC());
    TCanvas canvas;
    canvas.Font.Assign(&Font());
    const TFontStyles plainStyle = canvas.Font.Style();
    canvas.SetHandle(dc.Get());

    const int n = ViewerCount();
    std::vector<TDkLayoutEntry> entries(n);
    for (int i = 0; i < n; ++i) {
        TDkItemViewer* viewer = viewers_[i];
        TDkCustomItem* item = viewer->Item();
        TDkLayoutEntry& e = entries[i];
        const TDkItemStyle style = item->ItemStyle();
        const TDkItemOptions options = item->EffectiveOptions();
        e.Visible = item->Visible();
        e.Separator = (style & dkisSeparator) != 0;
        e.HiddenUnlessCustomizing = (style & dkisHiddenUnlessCustomizing) != 0;
        e.KeepsLine = (style & dkisKeepsLine) != 0;
        e.RightAligned = (style & dkisRightAlign) != 0;
        e.ToolbarSize = Has(options, dkoToolbarSize);
        e.SameWidth = viewer->UsesSameWidth();
        e.IsChevron = item == chevronItem_;
        if (auto* controlItem = dynamic_cast<TDkControlItem*>(item)) {
            e.IsControl = true;
            if (TControl* control = controlItem->Control()) {
                e.ControlShown = window_ && control->Parent() == window_ && control->Visible();
                e.Rect = {0, 0, control->Width(), control->Height()};
            }
        }
        if (ChevronParentView)
            e.ParentOffEdge = i < ChevronParentView->ViewerCount() && ChevronParentView->Viewers(i)->OffEdge;
    }

    TDkLayoutParams params;
    params.Orientation = orientation == dkvoVertical   ? dkloVertical
                         : orientation == dkvoFloating ? dkloFloating
                                                       : dkloHorizontal;
    params.IsToolbar = IsToolbar;
    params.IsChevronPopup = ChevronParentView != nullptr;
    params.Customizing = Customizing;
    params.HasChevron = chevronItem_ && n > 0 && viewers_.back()->Item() == chevronItem_;
    params.Floating = orientation == dkvoFloating;
    if (usePriorityList_)
        for (TDkItemViewer* viewer : priorityList_)
            if (const int index = IndexOf(viewer); index >= 0) params.Priority.push_back(index);
    params.Margins = GetMargins();
    params.ChevronSize = chevronSize;
    params.AvailableLength = availableLength;
    params.WrapOffset = wrapOffset;
    params.MaxHeight = MaxHeight;
    params.ScrollOffset = ScrollOffset;

    const TDkMeasure measure = [&](int index) -> SIZE {
        TDkItemViewer* viewer = viewers_.at(index);
        TDkCustomItem* item = viewer->Item();
        std::unique_ptr<TDkItemViewer> temporary;
        const TDkItemViewerClass wanted = item->GetItemViewerClass(this);
        if (wanted && wanted != viewer->ViewerClass) {
            if (apply) {
                viewer = RecreateViewer(index, wanted);
            } else {
                temporary.reset(wanted(this, item));
                temporary->ViewerClass = wanted;
                viewer = temporary.get();
            }
        }
        const bool bold = Has(item->EffectiveOptions(), dkoDefault);
        canvas.Font.SetStyle(bold ? plainStyle | fsBold : plainStyle);
        int width = 0, height = 0;
        viewer->CalcSize(canvas, width, height);
        return {width, height};
    };
    const TDkLayoutResult result = DkLayOut(params, entries, measure);

    bool changed = false;
    if (apply) {
        for (int i = 0; i < n; ++i) {
            TDkItemViewer* viewer = viewers_[i];
            const TDkLayoutEntry& e = entries[i];
            if (auto* controlItem = dynamic_cast<TDkControlItem*>(viewer->Item())) {
                if (TControl* control = controlItem->Control()) {
                    if (e.Show) {
                        if (!SameRect(control->BoundsRect(), e.Rect))
                            control->SetBounds(e.Rect.left, e.Rect.top, e.Rect.right - e.Rect.left,
                                               e.Rect.bottom - e.Rect.top);
                    } else if ((e.OffEdge || e.Clipped) && window_) {
                        // Out of sight, with its size kept.
                        const RECT client = window_->ClientRect();
                        if (control->Left() != client.right || control->Top() != client.bottom)
                            control->SetBounds(client.right, client.bottom, control->Width(), control->Height());
                    }
                }
            }
            const bool lineSeparator = (viewer->State & dkvrsLineSeparator) != 0;
            if (!SameRect(viewer->BoundsRect, e.Rect) || viewer->Show != e.Show || lineSeparator != e.LineSeparator)
                changed = true;
            viewer->BoundsRect = e.Rect;
            viewer->Show = e.Show;
            viewer->OffEdge = e.OffEdge;
            viewer->Clipped = e.Clipped;
            if (e.LineSeparator) viewer->State |= dkvrsLineSeparator;
            else viewer->State &= static_cast<unsigned char>(~dkvrsLineSeparator);
        }
        if (result.ChevronNeeded && chevronItem_ && chevronItem_->Enabled() != result.ChevronEnabled) {
            chevronItem_->SetEnabled(result.ChevronEnabled);
            InvalidateViewer(Find(chevronItem_));
        }
        ScrollOffset = result.ScrollOffset;
        ShowUpArrow = result.ShowUpArrow;
        ShowDownArrow = result.ShowDownArrow;
        totalSize_ = result.TotalSize;
    }
    wrappedLines = result.WrappedLines;
    totalSize = result.TotalSize;
    baseSize = result.BaseSize;
    return changed;
}

void TDkView::UpdatePositions()
{
    if (Destroying()) return;
    POINT total = {0, 0};
    LayOutViewers(true, Orientation, WrappedLines, total, BaseSize, ChevronSize, AvailableLength, WrapOffset);
    if (WindowReady()) InvalidateRect(window_->Handle(), nullptr, TRUE);
}

// --- selection -------------------------------------------------------------------------

TDkItemViewer* TDkView::ViewerAtPoint(POINT p)
{
    for (TDkItemViewer* viewer : viewers_)
        if (viewer->Show && PtInRect(&viewer->BoundsRect, p)) return viewer;
    return nullptr;
}

void TDkView::UpdateMouseOverSelected(POINT screen)
{
    bool over = false;
    if (selected_ && WindowReady() && WindowFromPoint(screen) == window_->Handle()) {
        POINT p = screen;
        ScreenToClient(window_->Handle(), &p);
        if (ViewerAtPoint(p) == selected_) {
            over = !capture_ ||
                   selected_->IsPtInButtonPart(p.x - selected_->BoundsRect.left, p.y - selected_->BoundsRect.top);
        }
    }
    if (over == mouseOverSelected_) return;
    mouseOverSelected_ = over;
    if (capture_) RepaintIfAsked(selected_, dkisRedrawOnMouseOverChange);
}

void TDkView::Select(TDkItemViewer* viewer, bool scrollIntoView)
{
    if (viewer && IndexOf(viewer) < 0) viewer = nullptr;
    if (viewer != selected_) {
        CancelCapture();
        TDkItemViewer* old = selected_;
        selected_ = viewer;
        mouseOverSelected_ = false;
        if (old) {
            old->Leaving();
            RepaintIfAsked(old, dkisRedrawOnSelChange);
            if (TDkCustomItem* item = old->Item(); item->OnSelect) {
                const TDkSelectEvent handler = item->OnSelect;
                handler(item, old, false);
            }
        }
        // A handler may have moved the selection on.
        if (viewer && viewer == selected_) {
            RepaintIfAsked(viewer, dkisRedrawOnSelChange);
            POINT cursor;
            if (GetCursorPos(&cursor)) UpdateMouseOverSelected(cursor);
            if (TDkCustomItem* item = viewer->Item(); item->OnSelect) {
                const TDkSelectEvent handler = item->OnSelect;
                handler(item, viewer, true);
            }
        }
    }
    if (scrollIntoView && selected_) ScrollSelectedIntoView();
}

TDkItemViewer* TDkView::FirstSelectable(bool fromEnd)
{
    return NextSelectable(nullptr, !fromEnd);
}

TDkItemViewer* TDkView::NextSelectable(TDkItemViewer* from, bool forward)
{
    const int n = ViewerCount();
    const int start = from ? IndexOf(from) : -1;
    if (start < 0) {
        for (int k = 0; k < n; ++k) {
            TDkItemViewer* viewer = viewers_[forward ? k : n - 1 - k];
            if (IsSelectableViewer(viewer)) return viewer;
        }
        return nullptr;
    }
    for (int step = 1; step <= n; ++step) {
        TDkItemViewer* viewer = viewers_[((start + (forward ? step : -step)) % n + n) % n];
        if (IsSelectableViewer(viewer)) return viewer;
    }
    return nullptr;
}

TDkItemViewer* TDkView::FindAccelerator(char ch, TDkItemViewer* after, bool explicitOnly, bool& unique)
{
    unique = false;
    const int n = ViewerCount();
    if (n == 0) return nullptr;
    const char wanted = UpperChar(ch);
    const int first = after && IndexOf(after) >= 0 ? IndexOf(after) + 1 : 0;

    auto candidate = [](TDkItemViewer* viewer) {
        const TDkCustomItem* item = viewer->Item();
        return (viewer->Show || viewer->OffEdge) && (item->ItemStyle() & dkisSelectable) && item->Visible() &&
               viewer->ShowsCaption();
    };
    // round 0: explicit accelerators; round 1: first letters of captions without one.
    auto matches = [&](TDkItemViewer* viewer, int round, bool enabled) {
        if (!candidate(viewer) || viewer->Item()->Enabled() != enabled) return false;
        const std::string caption = viewer->CaptionText();
        const char accel = FindAccelChar(caption);
        if (round == 0) return accel != '\0' && UpperChar(accel) == wanted;
        if (accel != '\0' || ch == ' ') return false;
        const std::string shown = StripAccelChars(caption);
        return !shown.empty() && UpperChar(shown[0]) == wanted;
    };
    // From `from`, wrapping round, each viewer once.
    auto search = [&](int from, int count, int round, bool enabled) -> int {
        for (int k = 0; k < count; ++k) {
            const int i = (from + k) % n;
            if (matches(viewers_[i], round, enabled)) return i;
        }
        return -1;
    };

    const int rounds = explicitOnly ? 1 : 2;
    for (int round = 0; round < rounds; ++round) {
        for (const bool enabled : {true, false}) {
            const int found = search(first, n, round, enabled);
            if (found < 0) continue;
            // A disabled match cannot be pressed, so it never waits for a second key.
            unique = !enabled || search(found + 1, n - 1, round, enabled) < 0;
            return viewers_[found];
        }
    }
    return nullptr;
}

void TDkView::ScrollSelectedIntoView()
{
    if (!selected_ || !selected_->Clipped || MaxHeight <= 0) return;
    const RECT& r = selected_->BoundsRect;
    if (r.top >= DkScrollArrowHeight) ScrollOffset += r.bottom - (MaxHeight - DkScrollArrowHeight);
    else ScrollOffset += r.top - DkScrollArrowHeight;
    UpdatePositions();
}

void TDkView::Scroll(bool down)
{
    if (MaxHeight <= 0) return;
    auto eligible = [](const TDkItemViewer* v) {
        return (v->Show || v->Clipped) && !(v->Item()->ItemStyle() & dkisSeparator);
    };
    if (down) {
        for (TDkItemViewer* v : viewers_)
            if (eligible(v) && v->BoundsRect.bottom > MaxHeight - DkScrollArrowHeight) {
                ScrollOffset += v->BoundsRect.bottom - (MaxHeight - DkScrollArrowHeight);
                UpdatePositions();
                return;
            }
    } else {
        for (auto it = viewers_.rbegin(); it != viewers_.rend(); ++it)
            if (eligible(*it) && (*it)->BoundsRect.top < DkScrollArrowHeight) {
                ScrollOffset += (*it)->BoundsRect.top - DkScrollArrowHeight;
                UpdatePositions();
                return;
            }
    }
}

// --- timers ----------------------------------------------------------------------------

void TDkView::StartTimer(TDkViewTimer timer, unsigned interval)
{
    StopTimer(timer);
    auto* popup = dynamic_cast<TDkPopupWindow*>(window_);
    if (!popup || !popup->HandleAllocated() || Destroying()) return;
    if (SetTimer(popup->Handle(), DkViewTimerBase + timer, interval, nullptr)) Timers |= 1u << timer;
}

void TDkView::StopTimer(TDkViewTimer timer)
{
    if (!(Timers & (1u << timer))) return;
    Timers &= ~(1u << timer);
    if (window_ && window_->HandleAllocated()) KillTimer(window_->Handle(), DkViewTimerBase + timer);
}

void TDkView::StopAllTimers()
{
    for (TDkViewTimer timer : {dkvtOpen, dkvtClose, dkvtScrollUp, dkvtScrollDown}) StopTimer(timer);
}

void TDkView::TimerFired(TDkViewTimer timer)
{
    switch (timer) {
    case dkvtOpen:
        StopTimer(dkvtOpen);
        StopTimer(dkvtClose);
        if (selected_ == openViewer_) return;
        CloseChildPopups();
        if (selected_ && selected_->HasSubmenu()) OpenChildPopup(false);
        break;
    case dkvtClose:
        StopTimer(dkvtClose);
        // Back on the item whose menu is open: it stays.
        if (selected_ != openViewer_) CloseChildPopups();
        break;
    case dkvtScrollUp:
    case dkvtScrollDown: {
        const bool down = timer == dkvtScrollDown;
        if (!(down ? ShowDownArrow : ShowUpArrow)) {
            StopTimer(timer);
            return;
        }
        Scroll(down);
        if (!(down ? ShowDownArrow : ShowUpArrow)) StopTimer(timer);
        break;
    }
    }
}

int ParseMenuShowDelay(bool present, DWORD type, const std::string& data)
{
    if (!present) return 400;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return 0;
    std::string text = data;
    while (!text.empty() && text.back() == '\0') text.pop_back();
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    size_t i = 0;
    while (i < text.size() && blank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    const size_t digits = i;
    long long value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + (text[i++] - '0');
        if (value > INT_MAX) return 0;  // not a 32-bit number
    }
    if (i == digits) return 0;
    while (i < text.size() && blank(text[i])) ++i;
    if (i != text.size()) return 0;
    return negative ? 0 : static_cast<int>(value);
}

int GetMenuShowDelay()
{
    if (LOBYTE(LOWORD(GetVersion())) < 4) return 400;
    int delay = 0;
    if (SystemParametersInfoA(SPI_GETMENUSHOWDELAY, 0, &delay, 0)) return std::max(delay, 0);
    static const int stored = [] {
        TRegKey key;
        HKEY opened = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
            return ParseMenuShowDelay(false, REG_NONE, "");
        key.Reset(opened);
        DWORD type = REG_NONE, size = 0;
        if (RegQueryValueExA(key.Get(), "MenuShowDelay", nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            return ParseMenuShowDelay(false, REG_NONE, "");
        std::string data(size, '\0');
        if (size && RegQueryValueExA(key.Get(), "MenuShowDelay", nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                                     &size) != ERROR_SUCCESS)
            return ParseMenuShowDelay(false, REG_NONE, "");
        data.resize(std::min<size_t>(size, data.size()));
        return ParseMenuShowDelay(true, type, data);
    }();
    return stored;
}

// --- popups ----------------------------------------------------------------------------

TDkPopupWindow* TDkView::CreatePopupWindow(TDkItemViewer* viewer, bool selectFirst)
{
    // From a menu the popup goes beside the item, from a toolbar below (or beside) it.
    return DkOpenPopup(this, viewer, selectFirst, !IsToolbar);
}

void TDkView::OpenChildPopup(bool selectFirst)
{
    TDkItemViewer* viewer = selected_;
    if (!viewer || !viewer->HasSubmenu() || !viewer->Item()->Enabled() || Destroying()) return;
    StopTimer(dkvtOpen);
    StopTimer(dkvtClose);
    if (viewer == openViewer_) {
        if (selectFirst && openView_ && !openView_->Selected())
            openView_->Select(openView_->FirstSelectable(false), true);
        return;
    }
    CloseChildPopups();
    TDkCustomItem* item = viewer->Item();
    item->DoPopup(item, false);
    // OnPopup may have changed the items, the selection with them.
    if (viewer != selected_ || IndexOf(viewer) < 0) return;
    TDkPopupWindow* popup = CreatePopupWindow(viewer, selectFirst);
    if (!popup) return;
    openPopup_ = popup;
    openView_ = popup->View();
    openViewer_ = viewer;
    if (openView_) openView_->State |= dkvsOpen;
    InvalidateViewer(viewer);
}

void TDkView::CloseChildPopups()
{
    if (!openPopup_ && !openView_) return;
    StopTimer(dkvtOpen);
    StopTimer(dkvtClose);
    TDkPopupWindow* popup = openPopup_;
    TDkItemViewer* viewer = openViewer_;
    openPopup_ = nullptr;
    openView_ = nullptr;
    openViewer_ = nullptr;
    delete popup;  // its view closes the popups opened from it
    if (viewer && IndexOf(viewer) >= 0) InvalidateViewer(viewer);
}
