#include "DkToolbar.h"

#include "Application.h"
#include "DkCommon.h"
#include "DkPopup.h"
#include "Forms.h"

#include <windowsx.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <utility>

namespace {

const char* const MoreButtonsHint = "More Buttons|";

// Posted to the toolbar when a child window appears: it may need an item.
const UINT WM_DK_WRAPCONTROLS = WM_USER + 0x600;

// An OnPopup that makes its own parent again on every popup would keep the search going.
const int MaxShortCutPopups = 64;

// Toolbars that take the application's keys (they process shortcuts or are menu bars), and
// the main-window hook they share.
std::vector<TDkCustomToolbar*>& ShortCutToolbars()
{
    static std::vector<TDkCustomToolbar*> toolbars;
    return toolbars;
}
int mainWindowHookId = 0;

bool Listed(const TDkCustomToolbar* toolbar)
{
    const auto& list = ShortCutToolbars();
    return std::find(list.begin(), list.end(), toolbar) != list.end();
}

// The shortcut of a key message: the key with the shift state of its time.
TShortCut ShortCutOfKey(const MSG& msg)
{
    TShortCut shift = 0;
    if (GetKeyState(VK_SHIFT) < 0) shift |= scShift;
    if (GetKeyState(VK_CONTROL) < 0) shift |= scCtrl;
    if (HIWORD(msg.lParam) & KF_ALTDOWN) shift |= scAlt;
    return ShortCut(static_cast<unsigned short>(msg.wParam & 0xFFFF), shift);
}

// Depth first, by index, through linked sub-items: the chain of items from below `level`
// down to the first one with the shortcut, appended to `path`.
bool FindShortCut(TDkCustomItem* level, TShortCut shortCut, std::vector<TDkCustomItem*>& path, int depth)
{
    // Items linked to each other would lead round for ever.
    if (depth > 32) return false;
    TDkCustomItem* owner = level->GetItemsOwner();
    for (int i = 0; i < owner->Count(); ++i) {
        TDkCustomItem* item = owner->Items(i);
        path.push_back(item);
        if (item->ShortCut() == shortCut || FindShortCut(item, shortCut, path, depth + 1)) return true;
        path.pop_back();
    }
    return false;
}

// The character of a keyboard-menu command in the keyboard's code page; false when it is
// not one byte there. NT gives the character as UTF-16.
bool KeyMenuChar(LPARAM lParam, char& ch)
{
    const wchar_t wide = static_cast<wchar_t>(LOWORD(lParam));
    if (GetVersion() & 0x80000000) {
        ch = static_cast<char>(lParam);
        return true;
    }
    if (wide == 0) {
        ch = 0;
        return true;
    }
    UINT codePage = GetInputLocaleCodePage();
    if (codePage == 0) codePage = CP_ACP;
    char bytes[4] = {};
    if (WideCharToMultiByte(codePage, 0, &wide, 1, bytes, sizeof bytes, nullptr, nullptr) != 1) return false;
    ch = bytes[0];
    return true;
}

// The view shows its accelerator underlines while this lives (and the toolbar does).
class TAccelsShown {
public:
    TAccelsShown(TDkView* view, std::weak_ptr<int> alive) : view_(view), alive_(std::move(alive))
    {
        view_->SetAccelsVisibility(true);
    }
    TAccelsShown(const TAccelsShown&) = delete;
    TAccelsShown& operator=(const TAccelsShown&) = delete;
    ~TAccelsShown()
    {
        if (!alive_.expired()) view_->SetAccelsVisibility(false);
    }

private:
    TDkView* view_;
    std::weak_ptr<int> alive_;
};

}  // namespace

// The toolbar's view: every layout it asks for goes through the toolbar, which knows how
// the toolbar gives way where it stands.
class TDkCustomToolbar::TOwnView : public TDkToolbarView {
public:
    explicit TOwnView(TDkCustomToolbar* toolbar)
        : TDkToolbarView(toolbar, nullptr, toolbar, toolbar->items_, toolbar->chevronItem_, true, false,
                         toolbar->chevronMoveItems_),
          toolbar_(toolbar)
    {
    }
    void UpdatePositions() override { toolbar_->ViewChanged(); }

private:
    TDkCustomToolbar* toolbar_;
};

struct TDkCustomToolbar::TResizeData {
    std::vector<TDkFloatingSize> Sizes;  // window sizes, larger first along the resize
    bool ByHeight = false;
    int Current = -1;
    int StartWidth = 0;  // FloatingWidth when the resize began
};

TDkCustomToolbar::TDkCustomToolbar(TComponent* owner) : TDkCustomDockableWindow(owner)
{
    items_ = new TDkRootItem(this);
    items_->SetParentComponent(this);
    chevronItem_ = new TDkChevronItem(this);
    chevronItem_->SetLinkSubitems(items_);
    chevronItem_->SetHint(MoreButtonsHint);
    view_ = new TOwnView(this);
    view_->BackgroundColor = clBtnFace;
    DockableWindowStyles &= static_cast<TDkDockableWindowStyles>(~(dkwsResizeEightCorner | dkwsClipCursorWhenResizing));
    SetColor(clBtnFace);
    DkAssignMenuFont(Font());
    SetBounds(Left(), Top(), 23, 22);
}

TDkCustomToolbar::~TDkCustomToolbar()
{
    SetDestroying();
    life_.reset();
    if (mainWindowHookInstalled_) UpdateMainWindowHook();
    if (menuBar_) UnregisterHookProcedure(&TDkCustomToolbar::GetMessageHook);
    resizeData_.reset();
    delete std::exchange(view_, nullptr);
    delete std::exchange(chevronItem_, nullptr);
    delete std::exchange(items_, nullptr);
}

// --- properties ------------------------------------------------------------------------

TCustomImageList* TDkCustomToolbar::Images() const { return items_->Images(); }
void TDkCustomToolbar::SetImages(TCustomImageList* images) { items_->SetImages(images); }
TDkCustomItem* TDkCustomToolbar::LinkSubitems() const { return items_->LinkSubitems(); }
void TDkCustomToolbar::SetLinkSubitems(TDkCustomItem* item) { items_->SetLinkSubitems(item); }
TDkItemOptions TDkCustomToolbar::Options() const { return items_->Options(); }
void TDkCustomToolbar::SetOptions(TDkItemOptions options) { items_->SetOptions(options); }

std::string TDkCustomToolbar::ChevronHint() const { return chevronItem_->Hint(); }
void TDkCustomToolbar::SetChevronHint(const std::string& hint) { chevronItem_->SetHint(hint); }

void TDkCustomToolbar::SetChevronMoveItems(bool value)
{
    if (value == chevronMoveItems_) return;
    chevronMoveItems_ = value;
    view_->SetUsePriorityList(value);
}

void TDkCustomToolbar::SetFloatingWidth(int value)
{
    if (value == floatingWidth_) return;
    floatingWidth_ = value;
    if (Floating()) Arrange();
}

void TDkCustomToolbar::SetShrinkMode(TDkShrinkMode value)
{
    if (value == shrinkMode_) return;
    shrinkMode_ = value;
    ViewChanged();
    if (Docked()) Arrange();
}

void TDkCustomToolbar::SetSystemFont(bool value)
{
    if (value == systemFont_) return;
    systemFont_ = value;
    if (value) DkAssignMenuFont(Font());
}

void TDkCustomToolbar::SetMenuBar(bool value)
{
    if (value == menuBar_) return;
    menuBar_ = value;
    if (value) view_->Style |= dkvsMenuBar;
    else view_->Style &= ~dkvsMenuBar;
    if (!(ComponentState() & csLoading)) {
        SetFullSize(value);
        SetShrinkMode(value ? dksmWrap : dksmChevron);
        SetCloseButton(!value);
        SetProcessShortCuts(value);
    }
    if (value) RegisterHookProcedure(&TDkCustomToolbar::GetMessageHook, DkHookCode(dkhpGetMessage), false);
    else UnregisterHookProcedure(&TDkCustomToolbar::GetMessageHook);
    UpdateMainWindowHook();
    // The underlines of a menu bar follow the system's setting.
    Invalidate();
}

void TDkCustomToolbar::SetProcessShortCuts(bool value)
{
    if (value == processShortCuts_) return;
    processShortCuts_ = value;
    UpdateMainWindowHook();
}

// --- items and controls ----------------------------------------------------------------

TDkControlItem* TDkCustomToolbar::CreateWrapper(int index, TControl* control)
{
    auto* item = new TDkControlItem(Owner() ? Owner() : this);
    item->SetControl(control);
    try {
        items_->Insert(index, item);
    } catch (...) {
        // The control stays where it was, without an item.
        item->SetControl(nullptr);
        delete item;
        throw;
    }
    return item;
}

void TDkCustomToolbar::WrapControls()
{
    if (Destroying()) return;
    for (int i = 0; i < ControlCount(); ++i) {
        TControl* control = Controls(i);
        bool hosted = false;
        for (int k = 0; k < items_->Count() && !hosted; ++k)
            if (auto* item = dynamic_cast<TDkControlItem*>(items_->Items(k)); item && item->Control() == control)
                hosted = true;
        if (!hosted) CreateWrapper(items_->Count(), control);
    }
}

void TDkCustomToolbar::Notification(TComponent* component, TOperation operation)
{
    TDkCustomDockableWindow::Notification(component, operation);
}

void TDkCustomToolbar::Loaded()
{
    TDkCustomDockableWindow::Loaded();
    WrapControls();
    ViewChanged();
}

// --- layout ----------------------------------------------------------------------------

TDkShrinkFacts TDkCustomToolbar::ShrinkFactsFor(TDkDock* dock)
{
    TDkShrinkFacts f;
    f.Mode = shrinkMode_;
    f.FloatingWidth = floatingWidth_;
    if (dock) {
        f.Place = dktpDocked;
        f.VerticalDock = dock->Vertical();
        f.GivenLength = Docked() && dock == CurrentDock() ? CurrentSize() : 0;
        f.NonClient = NonClientSizeFor(dock);
        f.DockLength = f.VerticalDock ? dock->Height() : dock->Width();
        f.DockNonClient = f.VerticalDock ? dock->NonClientHeight() : dock->NonClientWidth();
    } else if (Floating() || FloatingParent() || Docked()) {
        // Asked while docked, it is the size the toolbar would take floating.
        f.Place = dktpFloating;
    } else {
        f.Place = dktpOnForm;
        f.AutoResize = AutoResize();
        // An aligned toolbar has its width set by its parent, as anchors at both sides do.
        f.StretchedAcross = Align() == alTop || Align() == alBottom || Align() == alClient;
        f.Width = Width();
        if (HandleAllocated()) {
            RECT window, client;
            GetWindowRect(handle_, &window);
            GetClientRect(handle_, &client);
            f.NonClient = {(window.right - window.left) - client.right, (window.bottom - window.top) - client.bottom};
        }
    }
    return f;
}

POINT TDkCustomToolbar::DoArrange(bool canMoveControls, TDkDock* newDock)
{
    const TDkShrinkLayout s = DkToolbarShrink(ShrinkFactsFor(newDock));
    POINT total = {0, 0};
    if (!canMoveControls) {
        int lines = 1;
        POINT base = {0, 0};
        view_->LayOutViewers(false, s.Orientation, lines, total, base, s.ChevronSize, s.AvailableLength,
                             s.WrapOffset);
        return total;
    }
    view_->Orientation = s.Orientation;
    view_->ChevronSize = s.ChevronSize;
    view_->AvailableLength = s.AvailableLength;
    view_->WrapOffset = s.WrapOffset;
    view_->LayOutViewers(true, s.Orientation, view_->WrappedLines, total, view_->BaseSize, s.ChevronSize,
                         s.AvailableLength, s.WrapOffset);
    lastWrappedLines_ = view_->WrappedLines;
    baseSize_ = view_->BaseSize;
    Invalidate();
    return total;
}

void TDkCustomToolbar::ViewChanged()
{
    if (Destroying() || !view_ || view_->Destroying()) return;
    const TDkShrinkLayout s = DkToolbarShrink(ShrinkFactsFor(Docked() ? CurrentDock() : nullptr));
    view_->Orientation = s.Orientation;
    view_->ChevronSize = s.ChevronSize;
    view_->AvailableLength = s.AvailableLength;
    view_->WrapOffset = s.WrapOffset;
    view_->TDkView::UpdatePositions();
    lastWrappedLines_ = view_->WrappedLines;
    if (disableAlignArrange_ > 0) return;
    const POINT total = view_->TotalSize();
    const POINT base = view_->BaseSize;
    const RECT client = ClientRect();
    const bool resized = total.x != client.right - client.left || total.y != client.bottom - client.top ||
                         base.x != baseSize_.x || base.y != baseSize_.y;
    baseSize_ = base;
    if (!resized) return;
    // The arrangement lays the view out itself; what it changes is no news to it.
    ++disableAlignArrange_;
    try {
        Arrange();
    } catch (...) {
        --disableAlignArrange_;
        throw;
    }
    --disableAlignArrange_;
}

POINT TDkCustomToolbar::GetBaseSize()
{
    const TDkShrinkLayout s = DkToolbarShrink(ShrinkFactsFor(Docked() ? CurrentDock() : nullptr));
    int lines = 1;
    POINT total = {0, 0}, base = {0, 0};
    view_->LayOutViewers(false, s.Orientation, lines, total, base, s.ChevronSize, 0, 0);
    return base;
}

int TDkCustomToolbar::GetMinimumLength()
{
    auto kept = [this](TDkItemViewer* v) {
        return v->Show && v->Item() != chevronItem_ && !(v->Item()->ItemStyle() & dkisSeparator);
    };
    // The viewer the chevron hides last: the most important of the priority list (its
    // back), else the first in order.
    TDkItemViewer* found = nullptr;
    if (view_->UsePriorityList()) {
        const auto& list = view_->PriorityList();
        for (auto it = list.rbegin(); it != list.rend() && !found; ++it)
            if (kept(*it)) found = *it;
    } else {
        for (int i = 0; i < view_->ViewerCount() && !found; ++i)
            if (kept(view_->Viewers(i))) found = view_->Viewers(i);
    }
    if (!found) return 0;
    const bool vertical = Docked() && CurrentDock() && CurrentDock()->Vertical();
    const RECT& r = found->BoundsRect;
    const SIZE nc = NonClientSize();
    return (vertical ? (r.bottom - r.top) + nc.cy : (r.right - r.left) + nc.cx) + view_->ChevronSize;
}

void TDkCustomToolbar::Paint()
{
    TDkCustomDockableWindow::Paint();
    view_->DrawSubitems(Canvas().Handle());
}

void TDkCustomToolbar::FontChanged()
{
    TDkCustomDockableWindow::FontChanged();
    if (view_) ViewChanged();
}

// --- floating sizes --------------------------------------------------------------------

std::vector<TDkFloatingSize> TDkCustomToolbar::FloatingSizes()
{
    const RECT margins = view_->GetMargins();
    return DkCollectFloatingSizes(
        [this](int wrapWidth, int& lines) {
            POINT total = {0, 0}, base = {0, 0};
            view_->LayOutViewers(false, dkvoFloating, lines, total, base, view_->ChevronSize, 0, wrapWidth);
            return total;
        },
        static_cast<int>(margins.left + margins.right));
}

SIZE TDkCustomToolbar::FloatingFrameExtra()
{
    TDkFloatingWindowParent* parent = FloatingParent();
    if (parent && parent->HandleAllocated() && HandleAllocated()) {
        RECT outer, inner;
        GetWindowRect(parent->Handle(), &outer);
        GetWindowRect(handle_, &inner);
        return {(outer.right - outer.left) - (inner.right - inner.left),
                (outer.bottom - outer.top) - (inner.bottom - inner.top)};
    }
    const SIZE border = FloatingBorderSize();
    return {2 * border.cx, 2 * border.cy + FloatingCaptionHeight()};
}

void TDkCustomToolbar::GetMinMaxSize(int& minWidth, int& minHeight, int& maxWidth, int& maxHeight)
{
    TDkCustomDockableWindow::GetMinMaxSize(minWidth, minHeight, maxWidth, maxHeight);
    const std::vector<TDkFloatingSize> sizes = FloatingSizes();
    if (sizes.empty()) return;
    minWidth = maxWidth = static_cast<int>(sizes.front().Size.x);
    minHeight = maxHeight = static_cast<int>(sizes.front().Size.y);
    for (const TDkFloatingSize& s : sizes) {
        minWidth = std::min(minWidth, static_cast<int>(s.Size.x));
        maxWidth = std::max(maxWidth, static_cast<int>(s.Size.x));
        minHeight = std::min(minHeight, static_cast<int>(s.Size.y));
        maxHeight = std::max(maxHeight, static_cast<int>(s.Size.y));
    }
}

void TDkCustomToolbar::SizingBegins(int edge)
{
    auto data = std::make_unique<TResizeData>();
    data->StartWidth = floatingWidth_;
    data->ByHeight = DkSizingByHeight(edge);
    data->Sizes = FloatingSizes();
    const SIZE extra = FloatingFrameExtra();
    for (TDkFloatingSize& s : data->Sizes) {
        s.Size.x += extra.cx;
        s.Size.y += extra.cy;
    }
    DkSortFloatingSizes(data->Sizes, data->ByHeight);
    for (int i = 0; i < static_cast<int>(data->Sizes.size()); ++i)
        if (data->Sizes[i].WrapWidth == floatingWidth_) data->Current = i;
    resizeData_ = std::move(data);
}

void TDkCustomToolbar::AdjustSizingRect(RECT& rect, int edge)
{
    TResizeData* data = resizeData_.get();
    if (!data) return;
    const int proposed = data->ByHeight ? rect.bottom - rect.top : rect.right - rect.left;
    const int index = DkSnapFloatingSize(data->Sizes, data->ByHeight, data->Current, proposed);
    if (index < 0) return;
    data->Current = index;
    const TDkFloatingSize chosen = data->Sizes[index];
    rect = DkSizedRect(rect, edge, chosen.Size);
    // A resize shown as it goes shows the toolbar's lines with it.
    if (SmoothDrag) SetFloatingWidth(chosen.WrapWidth);
}

void TDkCustomToolbar::SizingEnds(bool applied)
{
    std::unique_ptr<TResizeData> data = std::move(resizeData_);
    if (!data) return;
    if (!applied) SetFloatingWidth(data->StartWidth);
    else if (data->Current >= 0) SetFloatingWidth(data->Sizes[data->Current].WrapWidth);
}

int TDkCustomToolbar::CheckedFloatingWidth(int width)
{
    if (width <= 0) return 0;
    return DkFitFloatingWidth(FloatingSizes(), width);
}

void TDkCustomToolbar::ReadPositionData(const TDkPositionReadIntProc& read)
{
    TDkCustomDockableWindow::ReadPositionData(read);
    // A width stored by another version of the toolbar, or by hand, may be one it cannot take.
    SetFloatingWidth(CheckedFloatingWidth(read(Name(), "FloatRightX", 0)));
}

void TDkCustomToolbar::WritePositionData(const TDkPositionWriteIntProc& write)
{
    TDkCustomDockableWindow::WritePositionData(write);
    write(Name(), "FloatRightX", floatingWidth_);
}

// --- hints and the cursor --------------------------------------------------------------

void TDkCustomToolbar::UpdateHint()
{
    std::string hint;
    if (TDkItemViewer* viewer = view_->Selected()) {
        TDkCustomItem* item = viewer->Item();
        if (!(item->EffectiveOptions() & DkOption(dkoLongHintInMenuOnly))) hint = item->Hint();
    }
    if (hint != Hint()) SetHint(hint);
}

bool TDkCustomToolbar::GetHintInfo(POINT point, RECT& rect, std::string& hint)
{
    rect = {0, 0, 0, 0};
    hint.clear();
    TDkItemViewer* viewer = view_->ViewerAtPoint(point);
    if (!viewer || IsRectEmpty(&viewer->BoundsRect)) return false;
    rect = viewer->BoundsRect;
    hint = viewer->Item()->GetHintText();
    return true;
}

bool TDkCustomToolbar::SetCursorFor(int hitCode)
{
    if (hitCode == HTCLIENT && HandleAllocated()) {
        if (TDkItemViewer* viewer = view_->Selected()) {
            POINT p;
            GetCursorPos(&p);
            ::ScreenToClient(handle_, &p);
            HCURSOR cursor = nullptr;
            if (viewer->GetCursor({p.x - viewer->BoundsRect.left, p.y - viewer->BoundsRect.top}, cursor) && cursor) {
                SetCursor(cursor);
                return true;
            }
        }
    }
    return TDkCustomDockableWindow::SetCursorFor(hitCode);
}

// --- the loop and the keyboard ---------------------------------------------------------

void TDkCustomToolbar::RunLoop(bool startWithMouseDown, bool keyboardMode)
{
    const std::weak_ptr<int> alive = life_;
    TDkLoopResult result;
    ignoreMouseLeave_ = true;
    try {
        view_->RunMenuLoop(startWithMouseDown, keyboardMode, result, false);
    } catch (...) {
        if (!alive.expired()) {
            ignoreMouseLeave_ = false;
            view_->SetAccelsVisibility(false);
            view_->Select(nullptr, false);
        }
        throw;
    }
    if (!alive.expired()) {
        ignoreMouseLeave_ = false;
        POINT cursor;
        if (GetCursorPos(&cursor)) view_->UpdateCursorPos(cursor);
        view_->SetAccelsVisibility(false);
        view_->Select(nullptr, false);
        UpdateHint();
        // The capture took the request of the mouse's leaving with it.
        mouseLeaveRequested_ = HandleAllocated() && CallTrackMouseEvent(handle_, TME_LEAVE);
    }
    CarryOutLoopResult(result);
}

bool TDkCustomToolbar::KeyboardOpen(char key, bool requirePrimaryAccel)
{
    if (!view_ || !HandleAllocated()) return false;
    TAccelsShown accels(view_, life_);
    if (key == 0) {
        TDkItemViewer* first = view_->FirstSelectable(false);
        if (!first) return false;
        view_->Select(first, true);
        RunLoop(false, false);
        return true;
    }
    bool unique = false;
    TDkItemViewer* viewer = view_->FindAccelerator(key, nullptr, requirePrimaryAccel, unique);
    if (!viewer || !viewer->Item()->Enabled()) return false;
    if (unique && !viewer->HasSubmenu()) {
        // After the message that asked: the handler may free the toolbar.
        viewer->Item()->PostClick(true);
        return true;
    }
    // Several items answer the key: a menu bar lets the user go on choosing; elsewhere
    // nothing opened.
    if (!unique && !menuBar_) return false;
    view_->Select(viewer, true);
    RunLoop(false, unique);
    return true;
}

bool TDkCustomToolbar::IsShortCut(MSG& msg)
{
    const TShortCut shortCut = ShortCutOfKey(msg);
    const std::weak_ptr<int> alive = life_;
    // Compared only: an item a handler freed is never touched again.
    std::vector<const TDkCustomItem*> popped;
    for (int round = 0; round <= MaxShortCutPopups; ++round) {
        if (alive.expired()) return false;
        // Searched anew after every popup: its handlers may have changed the tree.
        std::vector<TDkCustomItem*> path = {items_};
        if (!FindShortCut(items_, shortCut, path, 0)) return false;
        TDkCustomItem* level = nullptr;
        for (size_t i = 0; i + 1 < path.size() && !level; ++i) {
            if (!path[i]->Enabled()) return false;
            if (std::find(popped.begin(), popped.end(), path[i]) == popped.end()) level = path[i];
        }
        if (level) {
            popped.push_back(level);
            level->DoPopup(level, false);
            continue;
        }
        TDkCustomItem* found = path.back();
        if (!found->Enabled()) return false;
        found->Click();
        return true;
    }
    return false;
}

void TDkCustomToolbar::UpdateMainWindowHook()
{
    const bool wanted = (processShortCuts_ || menuBar_) && !Destroying();
    if (wanted == mainWindowHookInstalled_) return;
    mainWindowHookInstalled_ = wanted;
    auto& list = ShortCutToolbars();
    if (wanted) {
        list.push_back(this);
        if (list.size() == 1) mainWindowHookId = Application->HookMainWindow(&TDkCustomToolbar::MainWindowHook);
        return;
    }
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    if (list.empty() && mainWindowHookId) {
        Application->UnhookMainWindow(mainWindowHookId);
        mainWindowHookId = 0;
    }
}

TCustomForm* TDkCustomToolbar::FormOfToolbar()
{
    try {
        return GetFormOf();
    } catch (const EInvalidOperation&) {
        return nullptr;
    }
}

namespace {

// The menu bars of a form's showing controls, depth first, until one takes the command.
bool SendToMenuBars(TWinControl* parent, const TMessage& command)
{
    for (int i = 0; i < parent->ControlCount(); ++i) {
        auto* control = dynamic_cast<TWinControl*>(parent->Controls(i));
        if (!control || !control->Visible() || !control->Enabled()) continue;
        if (auto* toolbar = dynamic_cast<TDkCustomToolbar*>(control); toolbar && toolbar->MenuBar()) {
            if (SendMessageA(toolbar->Handle(), WM_SYSCOMMAND, command.WParam, command.LParam) != 0) return true;
            // The handler may have taken the control away.
            if (i >= parent->ControlCount() || parent->Controls(i) != control) return false;
        }
        if (SendToMenuBars(control, command)) return true;
    }
    return false;
}

}  // namespace

bool TDkCustomToolbar::MainWindowHook(TMessage& message)
{
    if (message.Msg == CM_APPKEYDOWN) {
        MSG& msg = *reinterpret_cast<MSG*>(message.LParam);
        TCustomForm* active = ActiveForm();
        std::vector<TCustomForm*> forms;
        if (active) forms.push_back(active);
        if (Application->MainForm && Application->MainForm != active) forms.push_back(Application->MainForm);
        for (TCustomForm* form : forms) {
            if (!form->HandleAllocated() || !IsWindowEnabled(form->Handle())) continue;
            // A copy: the handlers may free toolbars.
            const std::vector<TDkCustomToolbar*> toolbars = ShortCutToolbars();
            for (TDkCustomToolbar* toolbar : toolbars) {
                if (!Listed(toolbar) || !toolbar->processShortCuts_ || toolbar->FormOfToolbar() != form) continue;
                bool handled = false;
                if (toolbar->OnShortCut) {
                    const TDkShortCutEvent handler = toolbar->OnShortCut;
                    handler(toolbar, msg, handled);
                }
                if (!handled && Listed(toolbar)) handled = toolbar->IsShortCut(msg);
                if (handled) {
                    message.Result = 1;
                    return true;
                }
            }
        }
        return false;
    }
    if (message.Msg == CM_APPSYSCOMMAND) {
        const TMessage& command = *reinterpret_cast<const TMessage*>(message.LParam);
        TCustomForm* form = ActiveForm();
        if (form && SendToMenuBars(form, command)) {
            message.Result = 1;
            return true;
        }
    }
    return false;
}

void TDkCustomToolbar::GetMessageHook(TDkHookProcCode code, HWND, WPARAM wParam, LPARAM lParam)
{
    if (code != dkhpGetMessage || wParam != PM_REMOVE) return;
    auto* msg = reinterpret_cast<MSG*>(lParam);
    if (!msg || msg->message != WM_SYSCHAR || GetCapture()) return;
    TCustomForm* main = Application->MainForm;
    if (!main || !main->HandleAllocated()) return;
    const HWND client = FindWindowExA(main->Handle(), nullptr, "MDICLIENT", nullptr);
    if (!client) return;
    const char ch = static_cast<char>(msg->wParam);
    if (msg->hwnd != client && !(ch == '-' && IsChild(client, msg->hwnd))) return;
    // As the system gives it on NT.
    wchar_t wide = 0;
    if (MultiByteToWideChar(CP_ACP, 0, &ch, 1, &wide, 1) != 1) wide = static_cast<unsigned char>(ch);
    msg->message = WM_NULL;
    SendMessageA(main->Handle(), WM_SYSCOMMAND, SC_KEYMENU, static_cast<LPARAM>(wide));
}

void TDkCustomToolbar::WndProc(TMessage& m)
{
    switch (m.Msg) {
    case WM_SYSCOMMAND:
        if ((m.WParam & 0xFFF0) == SC_KEYMENU) {
            // Never to the system from here: the form decides what a command no menu bar
            // took does.
            m.Result = 0;
            char ch = 0;
            if (menuBar_ && Enabled() && IsWindowVisible(handle_) && !GetCapture() && KeyMenuChar(m.LParam, ch) &&
                ch != ' ') {
                if (KeyboardOpen(ch, false)) {
                    m.Result = 1;
                } else if (ch != '-') {
                    MessageBeep(0);
                    m.Result = 1;
                }
            }
            return;
        }
        break;
    case CM_DIALOGKEY:
        if (m.WParam == VK_MENU && menuBar_) view_->SetAccelsVisibility(true);
        break;
    case CM_DIALOGCHAR:
        if (!menuBar_ && Enabled() && HandleAllocated() && IsWindowVisible(handle_) &&
            KeyboardOpen(static_cast<char>(m.WParam), true)) {
            m.Result = 1;
            return;
        }
        break;
    case WM_MOUSEMOVE: {
        TDkCustomDockableWindow::WndProc(m);
        if (Destroying() || (view_->State & dkvsModal)) return;
        POINT cursor;
        if (GetCursorPos(&cursor)) view_->UpdateCursorPos(cursor);
        UpdateHint();
        if (!mouseLeaveRequested_) mouseLeaveRequested_ = CallTrackMouseEvent(handle_, TME_LEAVE);
        return;
    }
    case WM_MOUSELEAVE:
        mouseLeaveRequested_ = false;
        TDkCustomDockableWindow::WndProc(m);
        if (!ignoreMouseLeave_ && !(view_->State & dkvsModal)) {
            view_->Select(nullptr, false);
            UpdateHint();
        }
        return;
    case WM_LBUTTONDOWN: {
        const std::weak_ptr<int> alive = life_;
        TWinControl* parent = Parent();
        TDkCustomDockableWindow::WndProc(m);
        // Dragged away to another parent by the window's own handling: that was the click.
        if (alive.expired() || Parent() != parent) return;
        POINT cursor = {GET_X_LPARAM(m.LParam), GET_Y_LPARAM(m.LParam)};
        ::ClientToScreen(handle_, &cursor);
        view_->UpdateCursorPos(cursor);
        TDkItemViewer* viewer = view_->Selected();
        if (viewer && !(viewer->Item()->ItemStyle() & dkisClicksTransparent)) RunLoop(true, false);
        return;
    }
    case WM_PARENTNOTIFY:
        if (LOWORD(m.WParam) == WM_CREATE) PostMessageA(handle_, WM_DK_WRAPCONTROLS, 0, 0);
        break;
    case WM_DK_WRAPCONTROLS:
        WrapControls();
        m.Result = 0;
        return;
    default:
        break;
    }
    TDkCustomDockableWindow::WndProc(m);
}
