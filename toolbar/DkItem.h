// The item tree of toolbars and menus: items with their sub-items, kinds, action links,
// radio groups and the click that runs after a menu loop.
#pragma once

#include "ActnList.h"
#include "Classes.h"
#include "Controls.h"
#include "SysUtils.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TCustomImageList;
class TChangeLink;
class TDkCustomItem;
class TDkView;
class TDkItemViewer;

class EDkItemError : public Exception {
public:
    using Exception::Exception;
};

// Whether the application shows the shortcuts of actions in hints ("Save (Ctrl+S)"); off,
// as the application's own setting is.
extern bool DkHintShortCuts;

enum TDkItemDisplayMode { dkdmDefault, dkdmTextOnly, dkdmTextOnlyInMenus, dkdmImageAndText };

enum TDkItemOption {
    dkoDefault,
    dkoDropdownArrow,
    dkoImageAboveCaption,
    dkoLongHintInMenuOnly,
    dkoNoRotation,
    dkoSameWidth,
    dkoShowHint,
    dkoToolbarStyle,
    dkoToolbarSize,
};
using TDkItemOptions = unsigned;  // bit 1 << TDkItemOption
constexpr TDkItemOptions DkOption(TDkItemOption option) { return 1u << option; }

// Item style bits: what views read of an item.
using TDkItemStyle = unsigned short;
const TDkItemStyle dkisSubmenu = 1 << 0;
const TDkItemStyle dkisSelectable = 1 << 1;
const TDkItemStyle dkisSeparator = 1 << 2;
const TDkItemStyle dkisHiddenUnlessCustomizing = 1 << 3;
const TDkItemStyle dkisClicksTransparent = 1 << 4;  // button-downs go on to its window
const TDkItemStyle dkisSplitButton = 1 << 5;
const TDkItemStyle dkisNoAutoOpen = 1 << 6;
const TDkItemStyle dkisKeepsLine = 1 << 8;
const TDkItemStyle dkisRightAlign = 1 << 9;
const TDkItemStyle dkisRedrawOnSelChange = 1 << 11;
const TDkItemStyle dkisRedrawOnMouseOverChange = 1 << 12;

// What changed, as told to the views that show an item's sub-items.
enum TDkItemChangeAction {
    dkicInserted,            // index, item: a sub-item was inserted
    dkicDeleting,            // index, item: a sub-item is about to go
    dkicSubitemsChanged,     // the sub-items (or the linked ones) are another set now
    dkicInvalidate,          // item: repaint it
    dkicInvalidateAndResize, // item: lay out again, its size may have changed
    dkicRecreateItemViewers, // item: its viewers must be made again
};

// A view that shows an item's sub-items registers itself with the item.
class TDkItemObserver {
public:
    virtual ~TDkItemObserver() = default;
    // `ancestor` is the item whose sub-items changed; `relayed` when the change came through
    // an item that links to the ancestor's sub-items.
    virtual void ItemNotification(TDkCustomItem* ancestor, bool relayed, TDkItemChangeAction action, int index,
                                  TDkCustomItem* item) = 0;
};

// The kind of viewer an item wants in a view; views compare these to know when to make a
// viewer again.
using TDkItemViewerClass = TDkItemViewer* (*)(TDkView* view, TDkCustomItem* item);

class TDkCustomItemActionLink;

using TDkPopupEvent = std::function<void(TDkCustomItem* sender, bool fromLink)>;
using TDkSelectEvent = std::function<void(TDkCustomItem* sender, TDkItemViewer* viewer, bool selecting)>;

class TDkCustomItem : public TComponent {
public:
    explicit TDkCustomItem(TComponent* owner);
    ~TDkCustomItem() override;

    // Sub-items.
    int Count() const;
    TDkCustomItem* Items(int index) const;
    void Add(TDkCustomItem* item);
    void Insert(int index, TDkCustomItem* item);
    void Delete(int index);
    void Remove(TDkCustomItem* item);
    int IndexOf(const TDkCustomItem* item) const;
    void Move(int curIndex, int newIndex);  // both indexes must name a sub-item
    void Clear();  // frees every sub-item
    // Delete and Remove take a sub-item out of the list without freeing it: its owner
    // component frees it. A freed sub-item leaves its parent; a freed parent leaves its
    // sub-items without a parent.
    TDkCustomItem* Parent() const { return parent_; }
    TComponent* ParentComponent() const { return parentComponent_; }
    void SetParentComponent(TComponent* component) { parentComponent_ = component; }

    // The item whose sub-items this one shows as its own.
    TDkCustomItem* LinkSubitems() const { return linkSubitems_; }
    void SetLinkSubitems(TDkCustomItem* item);
    // The linked item when there is one, else this one: where the shown sub-items live.
    TDkCustomItem* GetItemsOwner();
    const std::vector<TDkCustomItem*>& LinkParents() const { return linkParents_; }

    // Views.
    void RegisterNotification(TDkItemObserver* observer);
    void UnregisterNotification(TDkItemObserver* observer);
    void Notify(TDkItemChangeAction action, int index, TDkCustomItem* item);
    void Changed(bool sizeMayChange);  // tells the views showing this item

    // Properties.
    TBasicAction* Action() const;
    void SetAction(TBasicAction* action);
    bool AutoCheck() const { return autoCheck_; }
    void SetAutoCheck(bool value);
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& value);
    bool Checked() const { return checked_; }
    void SetChecked(bool value);
    TDkItemDisplayMode DisplayMode() const { return displayMode_; }
    void SetDisplayMode(TDkItemDisplayMode value);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    int GroupIndex() const { return groupIndex_; }
    void SetGroupIndex(int value);
    int HelpContext() const { return helpContext_; }
    void SetHelpContext(int value) { helpContext_ = value; }
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& value) { hint_ = value; }
    int ImageIndex() const { return imageIndex_; }
    void SetImageIndex(int value);
    TCustomImageList* Images() const { return images_; }
    void SetImages(TCustomImageList* value);
    TCustomImageList* SubMenuImages() const { return subMenuImages_; }
    void SetSubMenuImages(TCustomImageList* value);
    bool InheritOptions() const { return inheritOptions_; }
    void SetInheritOptions(bool value);
    TDkItemOptions MaskOptions() const { return maskOptions_; }
    void SetMaskOptions(TDkItemOptions value);
    TDkItemOptions Options() const { return options_; }
    void SetOptions(TDkItemOptions value);
    TDkItemOptions EffectiveOptions() const { return effectiveOptions_; }
    TShortCut ShortCut() const { return shortCut_; }
    void SetShortCut(TShortCut value);
    bool Visible() const { return visible_; }
    void SetVisible(bool value);
    TDkItemStyle ItemStyle() const { return itemStyle_; }

    // The short hint, with the shortcut when the action asks for it ("%s (%s)").
    std::string GetHintText() const;
    // The text of ShortCut, empty when there is none.
    virtual std::string GetShortCutText() const;
    virtual TDkItemViewerClass GetItemViewerClass(TDkView* view) const;

    // Toggles Checked with AutoCheck, then runs OnClick, or the action when the item has no
    // OnClick of its own. A disabled item does nothing.
    virtual void Click();
    // Clicks the item after the current menu loop and its popups have closed, playing
    // "MenuCommand" first when asked. A later post before that replaces the item; an item
    // freed meanwhile is not clicked.
    void PostClick(bool playSound);
    // Updates the actions of the sub-items, then runs OnPopup; an item with linked
    // sub-items then pops those up too (fromLink true).
    virtual void DoPopup(TDkCustomItem* sender, bool fromLink);
    void InitiateAction();

    TNotifyEvent OnClick;
    TDkPopupEvent OnPopup;
    TDkSelectEvent OnSelect;

protected:
    void Notification(TComponent* component, TOperation operation) override;
    virtual void ActionChange(TBasicAction* sender, bool checkDefaults);
    void UpdateEffectiveOptions();

    TDkItemStyle itemStyle_;

private:
    friend class TDkCustomItemActionLink;
    void ImageListChanged(TObject* sender);
    void SubMenuImagesChanged(TObject* sender);
    void RelayNotification(TDkCustomItem* ancestor, TDkItemChangeAction action, int index, TDkCustomItem* item,
                           bool relayed);
    void CheckIndex(int index, int limit) const;
    // Recomputes the effective options of this item and its sub-items; `tellViews` false
    // leaves this item's own views untold (its insertion tells them).
    void RecomputeOptions(bool tellViews);
    void UncheckGroupSiblings();
    void DetachFromImages(TCustomImageList*& images, std::unique_ptr<TChangeLink>& link);

    std::unique_ptr<TDkCustomItemActionLink> actionLink_;
    bool autoCheck_ = false;
    std::string caption_;
    bool checked_ = false;
    TDkItemDisplayMode displayMode_ = dkdmDefault;
    bool enabled_ = true;
    TDkItemOptions effectiveOptions_ = 0;
    int groupIndex_ = 0;
    int helpContext_ = 0;
    std::string hint_;
    int imageIndex_ = -1;
    TCustomImageList* images_ = nullptr;
    std::unique_ptr<TChangeLink> imageChangeLink_;
    int lastImageWidth_ = 0, lastImageHeight_ = 0;
    std::vector<TDkCustomItem*> items_;
    std::vector<TDkCustomItem*> linkParents_;
    TDkItemOptions maskOptions_ = 0, options_ = 0;
    bool inheritOptions_ = true;
    std::vector<TDkItemObserver*> notifyList_;
    TDkCustomItem* parent_ = nullptr;
    TComponent* parentComponent_ = nullptr;
    TShortCut shortCut_ = 0;
    TCustomImageList* subMenuImages_ = nullptr;
    std::unique_ptr<TChangeLink> subMenuImagesChangeLink_;
    TDkCustomItem* linkSubitems_ = nullptr;
    bool visible_ = true;
};

// The item as an action's client.
class TDkCustomItemActionLink : public TActionLink {
public:
    explicit TDkCustomItemActionLink(TDkCustomItem* client) : client_(client) {}

    bool IsAutoCheckLinked();
    bool IsCaptionLinked() override;
    bool IsCheckedLinked() override;
    bool IsEnabledLinked() override;
    bool IsHelpContextLinked() override;
    bool IsHintLinked() override;
    bool IsImageIndexLinked() override;
    bool IsShortCutLinked() override;
    bool IsVisibleLinked() override;
    // The item's OnClick follows the action while the item has none of its own.
    bool IsOnExecuteLinked();

    void SetAutoCheck(bool value) override;
    void SetCaption(const std::string& value) override;
    void SetChecked(bool value) override;
    void SetEnabled(bool value) override;
    void SetHelpContext(int value) override;
    void SetHint(const std::string& value) override;
    void SetImageIndex(int value) override;
    void SetShortCut(TShortCut value) override;
    void SetVisible(bool value) override;

protected:
    TDkCustomItem* client_;
};

// The ordinary command item.
class TDkItem : public TDkCustomItem {
public:
    explicit TDkItem(TComponent* owner);
};

class TDkSeparatorItem : public TDkCustomItem {
public:
    explicit TDkSeparatorItem(TComponent* owner);
    TDkItemViewerClass GetItemViewerClass(TDkView* view) const override;
    bool Blank() const { return blank_; }  // drawn as empty space
    void SetBlank(bool value);

private:
    bool blank_ = false;
};

// Hosts a control among the items.
class TDkControlItem : public TDkCustomItem {
public:
    explicit TDkControlItem(TComponent* owner);
    ~TDkControlItem() override;
    TControl* Control() const { return control_; }
    void SetControl(TControl* control);
    bool DontFreeControl = false;

protected:
    void Notification(TComponent* component, TOperation operation) override;

private:
    TControl* control_ = nullptr;
};

// The invisible root of a toolbar.
class TDkRootItem : public TDkCustomItem {
public:
    explicit TDkRootItem(TComponent* owner);
};

// The chevron of a toolbar: linked to the root, its popup lists the hidden items.
class TDkChevronItem : public TDkCustomItem {
public:
    explicit TDkChevronItem(TComponent* owner);
    TDkItemViewerClass GetItemViewerClass(TDkView* view) const override;
};
