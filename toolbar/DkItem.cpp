#include "DkItem.h"

#include "DkCommon.h"
#include "DkView.h"
#include "ImgList.h"
#include "SysUtils.h"
#include "UtilWindow.h"

#include <algorithm>
#include <utility>

bool DkHintShortCuts = false;

namespace {

const char* const AlreadyInserted = "Toolbar item already inserted";
const char* const IndexOutOfRange = "Toolbar item index out of range";
const char* const InsertedIntoItself = "Toolbar item cannot be inserted into itself";
const char* const NoItem = "Toolbar item not assigned";

const UINT WM_DK_CLICKITEM = WM_USER + 256;

// The click that waits for the menu loop to end, one per thread. The system's thread-local
// storage holds it: the C++ kind would make the C runtime take handles for the thread the
// first time it is used.
struct TDeferredClick {
    TUtilWindow* window = nullptr;  // made once for the thread; the system destroys it with the thread
    TDkCustomItem* item = nullptr;
    bool playSound = false;
};

DWORD DeferredClickSlot()
{
    static const DWORD slot = TlsAlloc();
    return slot;
}

TDeferredClick* DeferredClick(bool make)
{
    const DWORD slot = DeferredClickSlot();
    if (slot == TLS_OUT_OF_INDEXES) {
        if (make) throw EOutOfResources("Cannot post the click of a toolbar item");
        return nullptr;
    }
    auto* click = static_cast<TDeferredClick*>(TlsGetValue(slot));
    if (!click && make) {
        auto made = std::make_unique<TDeferredClick>();
        if (!TlsSetValue(slot, made.get()))
            throw EOutOfResources("Cannot post the click of a toolbar item: " + SysErrorMessage(GetLastError()));
        click = made.release();
    }
    return click;
}

void DeliverDeferredClick()
{
    TDeferredClick* click = DeferredClick(false);
    if (!click || !click->item) return;
    if (std::exchange(click->playSound, false)) PlaySystemSound("MenuCommand");
    // Whatever the sound did, the item may have gone since: its destructor clears it here.
    if (TDkCustomItem* item = std::exchange(click->item, nullptr)) item->Click();
}

TUtilWindow& DeferredClickWindow(TDeferredClick& click)
{
    if (!click.window)
        click.window = new TUtilWindow([](UINT message, WPARAM, LPARAM, LRESULT& result) {
            if (message != WM_DK_CLICKITEM) return false;
            DeliverDeferredClick();
            result = 0;
            return true;
        });
    return *click.window;
}

template <class T>
void EraseValue(std::vector<T*>& list, const T* value)
{
    list.erase(std::remove(list.begin(), list.end(), value), list.end());
}

}  // namespace

TDkCustomItem::TDkCustomItem(TComponent* owner)
    : TComponent(owner), itemStyle_(dkisSelectable | dkisRedrawOnSelChange | dkisRedrawOnMouseOverChange)
{
}

TDkCustomItem::~TDkCustomItem()
{
    SetDestroying();
    if (TDeferredClick* click = DeferredClick(false); click && click->item == this) {
        click->item = nullptr;
        click->playSound = false;
    }
    // Leave the parent while everything is still whole, so its views can drop our viewer.
    if (parent_) parent_->Remove(this);
    // The sub-items belong to their owner; here they only lose their parent.
    while (!items_.empty()) {
        const int last = static_cast<int>(items_.size()) - 1;
        Delete(last);
    }
    while (!linkParents_.empty()) {
        TDkCustomItem* linker = linkParents_.back();
        linker->SetLinkSubitems(nullptr);
        EraseValue(linkParents_, linker);  // a list out of step must not loop
    }
    SetLinkSubitems(nullptr);
    actionLink_.reset();
    DetachFromImages(images_, imageChangeLink_);
    DetachFromImages(subMenuImages_, subMenuImagesChangeLink_);
    notifyList_.clear();
}

void TDkCustomItem::DetachFromImages(TCustomImageList*& images, std::unique_ptr<TChangeLink>& link)
{
    TCustomImageList* list = std::exchange(images, nullptr);
    if (!list) return;
    if (link) {
        list->UnRegisterChanges(link.get());
        link->Sender = nullptr;
    }
    // The same list may serve as images and as sub-menu images: keep hearing of its end.
    if (list != images_ && list != subMenuImages_) RemoveFreeNotification(list);
}

void TDkCustomItem::CheckIndex(int index, int limit) const
{
    if (index < 0 || index > limit) throw EDkItemError(IndexOutOfRange);
}

int TDkCustomItem::Count() const
{
    return static_cast<int>(items_.size());
}

TDkCustomItem* TDkCustomItem::Items(int index) const
{
    CheckIndex(index, Count() - 1);
    return items_[index];
}

int TDkCustomItem::IndexOf(const TDkCustomItem* item) const
{
    const auto it = std::find(items_.begin(), items_.end(), item);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TDkCustomItem::Add(TDkCustomItem* item)
{
    Insert(Count(), item);
}

void TDkCustomItem::Insert(int index, TDkCustomItem* item)
{
    if (!item) throw EDkItemError(NoItem);
    if (item->parent_) throw EDkItemError(AlreadyInserted);
    CheckIndex(index, Count());
    // The tree must stay a tree: no item may become its own ancestor.
    for (const TDkCustomItem* p = this; p; p = p->parent_)
        if (p == item) throw EDkItemError(InsertedIntoItself);
    items_.insert(items_.begin() + index, item);
    item->parent_ = this;
    item->RecomputeOptions(false);
    Notify(dkicInserted, index, item);
}

void TDkCustomItem::Delete(int index)
{
    CheckIndex(index, Count() - 1);
    TDkCustomItem* item = items_[index];
    Notify(dkicDeleting, index, item);
    // A view may have changed the list while it was told; take the item where it is now.
    const int now = IndexOf(item);
    if (now < 0) return;
    items_.erase(items_.begin() + now);
    item->parent_ = nullptr;
    item->RecomputeOptions(false);
}

void TDkCustomItem::Remove(TDkCustomItem* item)
{
    const int index = IndexOf(item);
    if (index >= 0) Delete(index);
}

void TDkCustomItem::Move(int curIndex, int newIndex)
{
    CheckIndex(curIndex, Count() - 1);
    CheckIndex(newIndex, Count() - 1);
    if (curIndex == newIndex) return;
    TDkCustomItem* item = items_[curIndex];
    items_.erase(items_.begin() + curIndex);
    items_.insert(items_.begin() + newIndex, item);
    Notify(dkicSubitemsChanged, -1, nullptr);
}

void TDkCustomItem::Clear()
{
    while (!items_.empty()) delete items_.back();  // each leaves the list as it goes
}

void TDkCustomItem::SetLinkSubitems(TDkCustomItem* item)
{
    if (item == this) item = nullptr;
    if (item == linkSubitems_) return;
    if (TDkCustomItem* old = std::exchange(linkSubitems_, nullptr)) {
        EraseValue(old->linkParents_, this);
        RemoveFreeNotification(old);
    }
    if (item) {
        linkSubitems_ = item;
        item->linkParents_.push_back(this);
        item->FreeNotification(this);
    }
    Notify(dkicSubitemsChanged, -1, nullptr);
}

TDkCustomItem* TDkCustomItem::GetItemsOwner()
{
    return linkSubitems_ ? linkSubitems_ : this;
}

void TDkCustomItem::RegisterNotification(TDkItemObserver* observer)
{
    if (observer && std::find(notifyList_.begin(), notifyList_.end(), observer) == notifyList_.end())
        notifyList_.push_back(observer);
}

void TDkCustomItem::UnregisterNotification(TDkItemObserver* observer)
{
    EraseValue(notifyList_, observer);
}

void TDkCustomItem::Notify(TDkItemChangeAction action, int index, TDkCustomItem* item)
{
    RelayNotification(this, action, index, item, false);
}

void TDkCustomItem::RelayNotification(TDkCustomItem* ancestor, TDkItemChangeAction action, int index,
                                      TDkCustomItem* item, bool relayed)
{
    // A view told may unregister itself or others; each is asked only while still listed.
    const std::vector<TDkItemObserver*> observers = notifyList_;
    for (TDkItemObserver* observer : observers)
        if (std::find(notifyList_.begin(), notifyList_.end(), observer) != notifyList_.end())
            observer->ItemNotification(ancestor, relayed, action, index, item);
    // An item that links to ours shows our sub-items as its own; its linkers show its own.
    if (relayed) return;
    const std::vector<TDkCustomItem*> linkers = linkParents_;
    for (TDkCustomItem* linker : linkers)
        if (std::find(linkParents_.begin(), linkParents_.end(), linker) != linkParents_.end())
            linker->RelayNotification(ancestor, action, index, item, true);
}

void TDkCustomItem::Changed(bool sizeMayChange)
{
    if (Destroying() || !parent_) return;
    parent_->Notify(sizeMayChange ? dkicInvalidateAndResize : dkicInvalidate, parent_->IndexOf(this), this);
}

TBasicAction* TDkCustomItem::Action() const
{
    return actionLink_ ? actionLink_->Action() : nullptr;
}

void TDkCustomItem::SetAction(TBasicAction* action)
{
    TBasicAction* old = Action();
    if (action == old) return;
    if (old) RemoveFreeNotification(old);
    if (!action) {
        actionLink_.reset();
        return;
    }
    if (!actionLink_) actionLink_ = std::make_unique<TDkCustomItemActionLink>(this);
    actionLink_->SetAction(action);
    action->FreeNotification(this);
    // While being read in, the item's own values stay and only defaults take the action's.
    ActionChange(action, (ComponentState() & csLoading) != 0);
}

void TDkCustomItem::ActionChange(TBasicAction* sender, bool checkDefaults)
{
    auto* action = dynamic_cast<TCustomAction*>(sender);
    if (!action) return;
    if (!checkDefaults || !autoCheck_) SetAutoCheck(action->AutoCheck());
    if (!checkDefaults || caption_.empty()) SetCaption(action->Caption());
    if (!checkDefaults || !checked_) SetChecked(action->Checked());
    if (!checkDefaults || enabled_) SetEnabled(action->Enabled());
    if (!checkDefaults || helpContext_ == 0) SetHelpContext(action->HelpContext());
    if (!checkDefaults || hint_.empty()) SetHint(action->Hint());
    if (!checkDefaults || imageIndex_ == -1) SetImageIndex(action->ImageIndex());
    if (!checkDefaults || shortCut_ == 0) SetShortCut(action->ShortCut());
    if (!checkDefaults || visible_) SetVisible(action->Visible());
}

void TDkCustomItem::SetAutoCheck(bool value)
{
    autoCheck_ = value;
}

void TDkCustomItem::SetCaption(const std::string& value)
{
    if (value == caption_) return;
    caption_ = value;
    Changed(true);
}

void TDkCustomItem::SetChecked(bool value)
{
    if (value == checked_) return;
    checked_ = value;
    Changed(false);
    if (checked_) UncheckGroupSiblings();
}

void TDkCustomItem::UncheckGroupSiblings()
{
    if (groupIndex_ == 0 || !parent_) return;
    // By index: an unchecked sibling's handlers may change the list.
    for (int i = 0; parent_ && i < parent_->Count(); ++i) {
        TDkCustomItem* sibling = parent_->items_[i];
        if (sibling != this && sibling->groupIndex_ == groupIndex_) sibling->SetChecked(false);
    }
}

void TDkCustomItem::SetDisplayMode(TDkItemDisplayMode value)
{
    if (value == displayMode_) return;
    displayMode_ = value;
    Changed(true);
}

void TDkCustomItem::SetEnabled(bool value)
{
    if (value == enabled_) return;
    enabled_ = value;
    Changed(false);
}

void TDkCustomItem::SetGroupIndex(int value)
{
    if (value == groupIndex_) return;
    groupIndex_ = value;
    // A checked item joining a group keeps the group to one checked item.
    if (checked_) UncheckGroupSiblings();
}

void TDkCustomItem::SetImageIndex(int value)
{
    if (value == imageIndex_) return;
    // Only showing or losing the image changes the size; another image of the list is as large.
    const bool hadImage = imageIndex_ >= 0;
    imageIndex_ = value;
    Changed(hadImage != (value >= 0));
}

void TDkCustomItem::SetImages(TCustomImageList* value)
{
    if (value == images_) return;
    DetachFromImages(images_, imageChangeLink_);
    if (value) {
        if (!imageChangeLink_) {
            imageChangeLink_ = std::make_unique<TChangeLink>();
            imageChangeLink_->OnChange = [this](TObject* sender) { ImageListChanged(sender); };
        }
        images_ = value;
        value->RegisterChanges(imageChangeLink_.get());
        imageChangeLink_->Sender = value;
        value->FreeNotification(this);
        lastImageWidth_ = value->Width();
        lastImageHeight_ = value->Height();
    }
    Changed(true);
}

void TDkCustomItem::ImageListChanged(TObject*)
{
    if (!images_) return;
    const bool resized = images_->Width() != lastImageWidth_ || images_->Height() != lastImageHeight_;
    lastImageWidth_ = images_->Width();
    lastImageHeight_ = images_->Height();
    Changed(resized);
}

void TDkCustomItem::SetSubMenuImages(TCustomImageList* value)
{
    if (value == subMenuImages_) return;
    DetachFromImages(subMenuImages_, subMenuImagesChangeLink_);
    if (value) {
        if (!subMenuImagesChangeLink_) {
            subMenuImagesChangeLink_ = std::make_unique<TChangeLink>();
            subMenuImagesChangeLink_->OnChange = [this](TObject* sender) { SubMenuImagesChanged(sender); };
        }
        subMenuImages_ = value;
        value->RegisterChanges(subMenuImagesChangeLink_.get());
        subMenuImagesChangeLink_->Sender = value;
        value->FreeNotification(this);
    }
    SubMenuImagesChanged(value);
}

void TDkCustomItem::SubMenuImagesChanged(TObject*)
{
    // The sub-items draw and measure with these images: their views build them again.
    if (!Destroying()) Notify(dkicSubitemsChanged, -1, nullptr);
}

void TDkCustomItem::SetInheritOptions(bool value)
{
    if (value == inheritOptions_) return;
    inheritOptions_ = value;
    UpdateEffectiveOptions();
}

void TDkCustomItem::SetMaskOptions(TDkItemOptions value)
{
    if (value == maskOptions_) return;
    maskOptions_ = value;
    UpdateEffectiveOptions();
}

void TDkCustomItem::SetOptions(TDkItemOptions value)
{
    if (value == options_) return;
    options_ = value;
    UpdateEffectiveOptions();
}

void TDkCustomItem::UpdateEffectiveOptions()
{
    RecomputeOptions(true);
}

void TDkCustomItem::RecomputeOptions(bool tellViews)
{
    TDkItemOptions options = options_;
    if (inheritOptions_ && parent_) options |= parent_->effectiveOptions_;
    options &= ~maskOptions_;
    const bool changed = options != effectiveOptions_;
    effectiveOptions_ = options;
    if (changed && tellViews) Changed(true);
    // Unchanged here, nothing changes below either.
    if (!changed) return;
    for (int i = 0; i < Count(); ++i) items_[i]->RecomputeOptions(true);
}

void TDkCustomItem::SetShortCut(TShortCut value)
{
    if (value == shortCut_) return;
    shortCut_ = value;
    Changed(true);  // the shortcut's text widens a menu item
}

void TDkCustomItem::SetVisible(bool value)
{
    if (value == visible_) return;
    visible_ = value;
    Changed(true);
}

std::string TDkCustomItem::GetHintText() const
{
    std::string text = GetShortHint(hint_);
    const auto* action = dynamic_cast<const TCustomAction*>(Action());
    if (action && DkHintShortCuts && action->ShortCut() != 0)
        text = text + " (" + ShortCutToText(action->ShortCut()) + ")";
    return text;
}

std::string TDkCustomItem::GetShortCutText() const
{
    return shortCut_ != 0 ? ShortCutToText(shortCut_) : std::string();
}

TDkItemViewerClass TDkCustomItem::GetItemViewerClass(TDkView*) const
{
    return &TDkItemViewer::Create;
}

void TDkCustomItem::Click()
{
    if (Destroying() || !enabled_) return;
    if (autoCheck_) SetChecked(!checked_);
    // The handler may free the item: it runs from a copy, and nothing of ours is touched after.
    if (OnClick) {
        const TNotifyEvent handler = OnClick;
        handler(this);
    } else if (TBasicAction* action = Action()) {
        action->Execute();
    }
}

void TDkCustomItem::PostClick(bool playSound)
{
    if (Destroying()) return;
    TDeferredClick& click = *DeferredClick(true);
    HWND window = DeferredClickWindow(click).Handle();
    click.item = this;
    click.playSound = playSound;
    if (!PostMessageA(window, WM_DK_CLICKITEM, 0, 0)) {
        // A full queue: the click is lost, and says so rather than waiting for a message
        // that never comes.
        const DWORD error = GetLastError();
        click.item = nullptr;
        click.playSound = false;
        throw EOutOfResources("Cannot post the click of a toolbar item: " + SysErrorMessage(error));
    }
}

void TDkCustomItem::DoPopup(TDkCustomItem* sender, bool fromLink)
{
    // By index: an action's update may change the list.
    for (int i = 0; i < Count(); ++i) items_[i]->InitiateAction();
    if (OnPopup) {
        const TDkPopupEvent handler = OnPopup;
        handler(sender, fromLink);
    }
    if (!fromLink && linkSubitems_) linkSubitems_->DoPopup(sender, true);
}

void TDkCustomItem::InitiateAction()
{
    if (actionLink_) actionLink_->Update();
}

void TDkCustomItem::Notification(TComponent* component, TOperation operation)
{
    TComponent::Notification(component, operation);
    if (operation != opRemove || !component) return;
    // A component being freed is past its own destructor: only its pointer is compared. One
    // that only leaves its owner is still whole and is let go properly.
    const bool freed = component->Destroying();
    if (actionLink_ && (actionLink_->Action() == component || !actionLink_->Action())) actionLink_.reset();
    if (component == images_) {
        if (freed) {
            if (imageChangeLink_) imageChangeLink_->Sender = nullptr;
            images_ = nullptr;
        } else {
            DetachFromImages(images_, imageChangeLink_);
        }
        Changed(true);
    }
    if (component == subMenuImages_) {
        if (freed) {
            if (subMenuImagesChangeLink_) subMenuImagesChangeLink_->Sender = nullptr;
            subMenuImages_ = nullptr;
        } else {
            DetachFromImages(subMenuImages_, subMenuImagesChangeLink_);
        }
        SubMenuImagesChanged(nullptr);
    }
    // A freed item unlinks its linkers in its own destructor; what is left is an item that
    // changes owner.
    if (component == linkSubitems_) SetLinkSubitems(nullptr);
    linkParents_.erase(std::remove_if(linkParents_.begin(), linkParents_.end(),
                                      [component](TDkCustomItem* p) { return p == component; }),
                       linkParents_.end());
}

bool TDkCustomItemActionLink::IsAutoCheckLinked()
{
    const TCustomAction* action = CustomAction();
    return action && client_->AutoCheck() == action->AutoCheck();
}

bool TDkCustomItemActionLink::IsCaptionLinked()
{
    return TActionLink::IsCaptionLinked() && client_->Caption() == CustomAction()->Caption();
}

bool TDkCustomItemActionLink::IsCheckedLinked()
{
    return TActionLink::IsCheckedLinked() && client_->Checked() == CustomAction()->Checked();
}

bool TDkCustomItemActionLink::IsEnabledLinked()
{
    return TActionLink::IsEnabledLinked() && client_->Enabled() == CustomAction()->Enabled();
}

bool TDkCustomItemActionLink::IsHelpContextLinked()
{
    return TActionLink::IsHelpContextLinked() && client_->HelpContext() == CustomAction()->HelpContext();
}

bool TDkCustomItemActionLink::IsHintLinked()
{
    return TActionLink::IsHintLinked() && client_->Hint() == CustomAction()->Hint();
}

bool TDkCustomItemActionLink::IsImageIndexLinked()
{
    return TActionLink::IsImageIndexLinked() && client_->ImageIndex() == CustomAction()->ImageIndex();
}

bool TDkCustomItemActionLink::IsShortCutLinked()
{
    return TActionLink::IsShortCutLinked() && client_->ShortCut() == CustomAction()->ShortCut();
}

bool TDkCustomItemActionLink::IsVisibleLinked()
{
    return TActionLink::IsVisibleLinked() && client_->Visible() == CustomAction()->Visible();
}

bool TDkCustomItemActionLink::IsOnExecuteLinked()
{
    return action_ && !client_->OnClick;
}

void TDkCustomItemActionLink::SetAutoCheck(bool value)
{
    if (IsAutoCheckLinked()) client_->autoCheck_ = value;
}

void TDkCustomItemActionLink::SetCaption(const std::string& value)
{
    if (IsCaptionLinked()) client_->SetCaption(value);
}

void TDkCustomItemActionLink::SetChecked(bool value)
{
    if (IsCheckedLinked()) client_->SetChecked(value);
}

void TDkCustomItemActionLink::SetEnabled(bool value)
{
    if (IsEnabledLinked()) client_->SetEnabled(value);
}

void TDkCustomItemActionLink::SetHelpContext(int value)
{
    if (IsHelpContextLinked()) client_->helpContext_ = value;
}

void TDkCustomItemActionLink::SetHint(const std::string& value)
{
    if (IsHintLinked()) client_->hint_ = value;
}

void TDkCustomItemActionLink::SetImageIndex(int value)
{
    if (IsImageIndexLinked()) client_->SetImageIndex(value);
}

void TDkCustomItemActionLink::SetShortCut(TShortCut value)
{
    if (IsShortCutLinked()) client_->shortCut_ = value;
}

void TDkCustomItemActionLink::SetVisible(bool value)
{
    if (IsVisibleLinked()) client_->SetVisible(value);
}

TDkItem::TDkItem(TComponent* owner) : TDkCustomItem(owner) {}

TDkSeparatorItem::TDkSeparatorItem(TComponent* owner) : TDkCustomItem(owner)
{
    itemStyle_ = dkisSeparator;
}

TDkItemViewerClass TDkSeparatorItem::GetItemViewerClass(TDkView*) const
{
    return &TDkSeparatorItemViewer::Create;
}

void TDkSeparatorItem::SetBlank(bool value)
{
    if (value == blank_) return;
    blank_ = value;
    Changed(false);
}

TDkControlItem::TDkControlItem(TComponent* owner) : TDkCustomItem(owner)
{
    // The control takes its own mouse and keys; the views neither select nor repaint it.
    itemStyle_ = dkisClicksTransparent;
}

TDkControlItem::~TDkControlItem()
{
    TControl* control = std::exchange(control_, nullptr);
    if (!control) return;
    RemoveFreeNotification(control);
    if (!DontFreeControl && !control->Destroying()) delete control;
}

void TDkControlItem::SetControl(TControl* control)
{
    if (control == control_) return;
    if (control_) RemoveFreeNotification(control_);
    control_ = control;
    if (control_) control_->FreeNotification(this);
    Changed(true);
}

void TDkControlItem::Notification(TComponent* component, TOperation operation)
{
    TDkCustomItem::Notification(component, operation);
    if (operation == opRemove && component && component == control_) {
        control_ = nullptr;
        Changed(true);
    }
}

TDkRootItem::TDkRootItem(TComponent* owner) : TDkCustomItem(owner) {}

TDkChevronItem::TDkChevronItem(TComponent* owner) : TDkCustomItem(owner)
{
    itemStyle_ |= dkisSubmenu;
}

TDkItemViewerClass TDkChevronItem::GetItemViewerClass(TDkView*) const
{
    return &TDkChevronItemViewer::Create;
}
