// The item tree: the sub-item list and its errors, change notification to views, linked
// sub-items, options, radio groups, action links, hints and the click after a menu loop.
#include "DkItem.h"

#include "DkCommon.h"
#include "DkView.h"
#include "Handles.h"
#include "ImgList.h"
#include "TestSupport.h"
#include "UtilWindow.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace {

struct TRecord {
    TDkCustomItem* Ancestor;
    bool Relayed;
    TDkItemChangeAction Action;
    int Index;
    TDkCustomItem* Item;
    bool operator==(const TRecord&) const = default;
};

void PrintTo(const TRecord& r, std::ostream* os)
{
    static const char* const names[] = {"Inserted", "Deleting", "SubitemsChanged", "Invalidate",
                                        "InvalidateAndResize", "RecreateItemViewers"};
    *os << "{" << names[r.Action] << " index " << r.Index << (r.Relayed ? " relayed" : "") << "}";
}

// Stands in for a view: remembers what it was told.
class TRecordingObserver : public TDkItemObserver {
public:
    void ItemNotification(TDkCustomItem* ancestor, bool relayed, TDkItemChangeAction action, int index,
                          TDkCustomItem* item) override
    {
        Records.push_back({ancestor, relayed, action, index, item});
    }
    std::vector<TRecord> Records;
};

// An item that says when it is freed.
class TTrackedItem : public TDkItem {
public:
    TTrackedItem(TComponent* owner, bool& freed) : TDkItem(owner), freed_(freed) { freed_ = false; }
    ~TTrackedItem() override { freed_ = true; }

private:
    bool& freed_;
};

// A form's worth of items: the owner frees them all at the end.
struct TTree {
    TComponent Owner{nullptr};
    TDkItem* Item() { return new TDkItem(&Owner); }
};

std::string ErrorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EDkItemError& e) {
        return e.Message;
    }
    return "(no error)";
}

TEST(DkItem, TreeOperationsRefuseWhatWouldBreakTheTree)
{
    const std::string alreadyInserted = "Toolbar item already inserted";
    const std::string outOfRange = "Toolbar item index out of range";
    const std::string intoItself = "Toolbar item cannot be inserted into itself";
    struct TCase {
        const char* name;
        std::function<void(TDkItem* root, TDkItem* child, TDkItem* grandchild, TDkItem* loose)> act;
        std::string error;
    };
    const TCase cases[] = {
        {"inserting an item that has a parent", [](TDkItem* root, TDkItem*, TDkItem* g, TDkItem*) { root->Add(g); },
         alreadyInserted},
        {"inserting below index 0", [](TDkItem* root, TDkItem*, TDkItem*, TDkItem* l) { root->Insert(-1, l); },
         outOfRange},
        {"inserting past the end", [](TDkItem* root, TDkItem*, TDkItem*, TDkItem* l) { root->Insert(2, l); },
         outOfRange},
        {"deleting past the end", [](TDkItem* root, TDkItem*, TDkItem*, TDkItem*) { root->Delete(1); }, outOfRange},
        {"deleting below index 0", [](TDkItem* root, TDkItem*, TDkItem*, TDkItem*) { root->Delete(-1); },
         outOfRange},
        {"reading past the end", [](TDkItem* root, TDkItem*, TDkItem*, TDkItem*) { root->Items(1); }, outOfRange},
        {"reading below index 0", [](TDkItem* root, TDkItem*, TDkItem*, TDkItem*) { root->Items(-1); },
         outOfRange},
        {"moving past the end", [](TDkItem* root, TDkItem*, TDkItem*, TDkItem*) { root->Move(0, 1); }, outOfRange},
        {"inserting an item into itself", [](TDkItem* root, TDkItem*, TDkItem*, TDkItem*) { root->Add(root); },
         intoItself},
        {"inserting an item into its descendant",
         [](TDkItem* root, TDkItem*, TDkItem* g, TDkItem*) { g->Insert(0, root); }, intoItself},
        {"inserting nothing", [](TDkItem* root, TDkItem*, TDkItem*, TDkItem*) { root->Add(nullptr); },
         "Toolbar item not assigned"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TTree tree;
        TDkItem* root = tree.Item();
        TDkItem* child = tree.Item();
        TDkItem* grandchild = tree.Item();
        TDkItem* loose = tree.Item();
        root->Add(child);
        child->Add(grandchild);
        EXPECT_EQ(ErrorOf([&] { c.act(root, child, grandchild, loose); }), c.error);
        // Nothing moved.
        EXPECT_EQ(root->Count(), 1);
        EXPECT_EQ(root->Items(0), child);
        EXPECT_EQ(child->Count(), 1);
        EXPECT_EQ(grandchild->Parent(), child);
        EXPECT_EQ(root->Parent(), nullptr);
        EXPECT_EQ(loose->Parent(), nullptr);
    }
}

TEST(DkItem, SubItemsKeepTheOrderTheyAreGiven)
{
    TTree tree;
    TDkItem* root = tree.Item();
    TDkItem* a = tree.Item();
    TDkItem* b = tree.Item();
    TDkItem* c = tree.Item();
    root->Add(a);
    root->Insert(0, b);  // b a
    root->Insert(2, c);  // b a c: inserting at the count appends
    EXPECT_EQ(root->IndexOf(b), 0);
    EXPECT_EQ(root->IndexOf(a), 1);
    EXPECT_EQ(root->IndexOf(c), 2);
    root->Move(0, 2);  // a c b
    EXPECT_EQ(root->Items(0), a);
    EXPECT_EQ(root->Items(2), b);
    root->Remove(c);  // a b; c is taken out, not freed
    EXPECT_EQ(root->Count(), 2);
    EXPECT_EQ(c->Parent(), nullptr);
    EXPECT_EQ(root->IndexOf(c), -1);
    root->Remove(c);  // not a sub-item: nothing happens
    EXPECT_EQ(root->Count(), 2);
    root->Delete(0);
    EXPECT_EQ(root->Items(0), b);
    EXPECT_EQ(a->Parent(), nullptr);
    root->Add(a);  // once out, it may go in again
    EXPECT_EQ(a->Parent(), root);
}

TEST(DkItem, FreeingAnItemUnhooksItFromTheTree)
{
    TComponent owner(nullptr);
    bool rootFreed = false, childFreed = false, ownedFreed = false, otherFreed = false;
    auto* root = new TTrackedItem(&owner, rootFreed);
    auto* child = new TTrackedItem(&owner, childFreed);
    auto* other = new TTrackedItem(&owner, otherFreed);
    auto* owned = new TTrackedItem(root, ownedFreed);  // the root owns this one
    root->Add(child);
    root->Add(other);
    child->Add(owned);  // owned by the root, shown under the child

    delete other;  // a freed sub-item leaves its parent
    EXPECT_EQ(root->Count(), 1);
    EXPECT_EQ(root->Items(0), child);

    TRecordingObserver view;
    root->RegisterNotification(&view);
    delete root;  // its sub-items stay with their owner and lose their parent
    EXPECT_TRUE(rootFreed);
    EXPECT_FALSE(childFreed);
    EXPECT_EQ(child->Parent(), nullptr);
    EXPECT_TRUE(ownedFreed);  // freed by its owner, the root; it left the child first
    EXPECT_EQ(child->Count(), 0);
    ASSERT_EQ(view.Records.size(), 1u);  // the root's own view saw the child go
    EXPECT_EQ(view.Records[0].Action, dkicDeleting);
    EXPECT_EQ(view.Records[0].Item, child);

    bool cleared = false;
    auto* clearMe = new TTrackedItem(&owner, cleared);
    child->Add(clearMe);
    child->Clear();  // Clear frees
    EXPECT_TRUE(cleared);
    EXPECT_EQ(child->Count(), 0);
}

// A root with two items; the view watches the root.
struct TWatchedTree : TTree {
    TWatchedTree()
    {
        Root = Item();
        A = Item();
        B = Item();
        Root->Add(A);
        Root->Add(B);
        Root->RegisterNotification(&View);
    }
    ~TWatchedTree() { Root->UnregisterNotification(&View); }
    TDkItem* Root;
    TDkItem* A;
    TDkItem* B;
    TDkItem* C = nullptr;
    TRecordingObserver View;
};

TEST(DkItem, ViewsHearWhatChangedAndWhetherToLayOutAgain)
{
    struct TCase {
        const char* name;
        std::function<void(TWatchedTree&)> prepare;  // done before the view listens
        std::function<void(TWatchedTree&)> act;
        std::function<std::vector<TRecord>(TWatchedTree&)> expected;
    };
    auto none = [](TWatchedTree&) {};
    auto resizeB = [](TWatchedTree& t) { return std::vector<TRecord>{{t.Root, false, dkicInvalidateAndResize, 1, t.B}}; };
    auto repaintB = [](TWatchedTree& t) { return std::vector<TRecord>{{t.Root, false, dkicInvalidate, 1, t.B}}; };
    auto nothing = [](TWatchedTree&) { return std::vector<TRecord>{}; };
    const TCase cases[] = {
        {"a new caption", none, [](TWatchedTree& t) { t.B->SetCaption("&Send"); }, resizeB},
        {"the same caption", [](TWatchedTree& t) { t.B->SetCaption("Send"); },
         [](TWatchedTree& t) { t.B->SetCaption("Send"); }, nothing},
        {"another display mode", none, [](TWatchedTree& t) { t.B->SetDisplayMode(dkdmTextOnly); }, resizeB},
        {"checked", none, [](TWatchedTree& t) { t.B->SetChecked(true); }, repaintB},
        {"checked again", [](TWatchedTree& t) { t.B->SetChecked(true); },
         [](TWatchedTree& t) { t.B->SetChecked(true); }, nothing},
        {"disabled", none, [](TWatchedTree& t) { t.B->SetEnabled(false); }, repaintB},
        {"hidden", none, [](TWatchedTree& t) { t.B->SetVisible(false); }, resizeB},
        {"an image where there was none", none, [](TWatchedTree& t) { t.B->SetImageIndex(2); }, resizeB},
        {"another image of the list", [](TWatchedTree& t) { t.B->SetImageIndex(2); },
         [](TWatchedTree& t) { t.B->SetImageIndex(3); }, repaintB},
        {"the image taken away", [](TWatchedTree& t) { t.B->SetImageIndex(2); },
         [](TWatchedTree& t) { t.B->SetImageIndex(-1); }, resizeB},
        {"an option", none, [](TWatchedTree& t) { t.B->SetOptions(DkOption(dkoDefault)); }, resizeB},
        {"an option that is masked", [](TWatchedTree& t) { t.B->SetMaskOptions(DkOption(dkoDefault)); },
         [](TWatchedTree& t) { t.B->SetOptions(DkOption(dkoDefault)); }, nothing},
        {"a shortcut", none, [](TWatchedTree& t) { t.B->SetShortCut(ShortCut('S', scCtrl)); }, resizeB},
        {"a hint", none, [](TWatchedTree& t) { t.B->SetHint("Send|Sends the test"); }, nothing},
        {"an item inserted", none,
         [](TWatchedTree& t) {
             t.C = t.Item();
             t.Root->Insert(1, t.C);
         },
         [](TWatchedTree& t) { return std::vector<TRecord>{{t.Root, false, dkicInserted, 1, t.C}}; }},
        {"an item deleted", none, [](TWatchedTree& t) { t.Root->Delete(0); },
         [](TWatchedTree& t) { return std::vector<TRecord>{{t.Root, false, dkicDeleting, 0, t.A}}; }},
        {"an item moved", none, [](TWatchedTree& t) { t.Root->Move(1, 0); },
         [](TWatchedTree& t) { return std::vector<TRecord>{{t.Root, false, dkicSubitemsChanged, -1, nullptr}}; }},
        {"a sub-item of a sub-item changed", [](TWatchedTree& t) { t.A->Add(t.Item()); },
         [](TWatchedTree& t) { t.A->Items(0)->SetCaption("deeper"); }, nothing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TWatchedTree tree;
        c.prepare(tree);
        tree.View.Records.clear();
        c.act(tree);
        EXPECT_EQ(tree.View.Records, c.expected(tree));
    }
}

TEST(DkItem, ALinkedItemShowsAndHearsOfItsTargetsSubItems)
{
    TWatchedTree tree;
    auto* chevron = new TDkChevronItem(&tree.Owner);
    TRecordingObserver chevronView;
    chevron->RegisterNotification(&chevronView);

    chevron->SetLinkSubitems(tree.Root);
    EXPECT_EQ(chevron->GetItemsOwner(), tree.Root);
    EXPECT_EQ(tree.Root->LinkParents(), std::vector<TDkCustomItem*>{chevron});
    EXPECT_EQ(chevronView.Records, (std::vector<TRecord>{{chevron, false, dkicSubitemsChanged, -1, nullptr}}));

    // A change under the target reaches the target's views and, relayed, the linker's.
    chevronView.Records.clear();
    tree.View.Records.clear();
    tree.A->SetCaption("Erase");
    EXPECT_EQ(tree.View.Records, (std::vector<TRecord>{{tree.Root, false, dkicInvalidateAndResize, 0, tree.A}}));
    EXPECT_EQ(chevronView.Records, (std::vector<TRecord>{{tree.Root, true, dkicInvalidateAndResize, 0, tree.A}}));

    // Linking to itself clears the link; the old target forgets the linker.
    chevronView.Records.clear();
    chevron->SetLinkSubitems(chevron);
    EXPECT_EQ(chevron->LinkSubitems(), nullptr);
    EXPECT_EQ(chevron->GetItemsOwner(), chevron);
    EXPECT_TRUE(tree.Root->LinkParents().empty());
    EXPECT_EQ(chevronView.Records, (std::vector<TRecord>{{chevron, false, dkicSubitemsChanged, -1, nullptr}}));
    chevronView.Records.clear();
    tree.A->SetCaption("Send");
    EXPECT_TRUE(chevronView.Records.empty());

    // The target freed: the link goes and the linker's views hear of it.
    TDkItem* target = tree.Item();
    chevron->SetLinkSubitems(target);
    chevronView.Records.clear();
    delete target;
    EXPECT_EQ(chevron->LinkSubitems(), nullptr);
    EXPECT_EQ(chevronView.Records, (std::vector<TRecord>{{chevron, false, dkicSubitemsChanged, -1, nullptr}}));

    // The linker freed: the target forgets it.
    chevron->SetLinkSubitems(tree.Root);
    chevron->UnregisterNotification(&chevronView);
    delete chevron;
    EXPECT_TRUE(tree.Root->LinkParents().empty());
    tree.A->SetCaption("Erase");  // no relay to a freed item
}

TEST(DkItem, TwoItemsLinkedToEachOtherRelayOnlyOneStep)
{
    TTree tree;
    TDkItem* a = tree.Item();
    TDkItem* b = tree.Item();
    TRecordingObserver viewA, viewB;
    a->RegisterNotification(&viewA);
    b->RegisterNotification(&viewB);
    a->SetLinkSubitems(b);
    b->SetLinkSubitems(a);
    viewA.Records.clear();
    viewB.Records.clear();
    TDkItem* child = tree.Item();
    a->Add(child);
    EXPECT_EQ(viewA.Records, (std::vector<TRecord>{{a, false, dkicInserted, 0, child}}));
    EXPECT_EQ(viewB.Records, (std::vector<TRecord>{{a, true, dkicInserted, 0, child}}));
    a->UnregisterNotification(&viewA);
    b->UnregisterNotification(&viewB);
}

TEST(DkItem, AViewThatLeavesWhileBeingToldIsNotToldAgain)
{
    TWatchedTree tree;
    struct TLeavingObserver : TDkItemObserver {
        TDkCustomItem* item = nullptr;
        TDkItemObserver* other = nullptr;
        int told = 0;
        void ItemNotification(TDkCustomItem*, bool, TDkItemChangeAction, int, TDkCustomItem*) override
        {
            ++told;
            item->UnregisterNotification(this);
            item->UnregisterNotification(other);
        }
    } leaving;
    TRecordingObserver after;
    leaving.item = tree.Root;
    leaving.other = &after;
    tree.Root->UnregisterNotification(&tree.View);
    tree.Root->RegisterNotification(&leaving);
    tree.Root->RegisterNotification(&after);
    tree.A->SetCaption("x");
    EXPECT_EQ(leaving.told, 1);
    EXPECT_TRUE(after.Records.empty());
}

TEST(DkItem, EffectiveOptionsInheritFromTheParentLessTheMask)
{
    const TDkItemOptions bold = DkOption(dkoDefault), arrow = DkOption(dkoDropdownArrow),
                         hint = DkOption(dkoShowHint);
    struct TCase {
        const char* name;
        TDkItemOptions parent, own, mask;
        bool inherit;
        TDkItemOptions expected;
    };
    const TCase cases[] = {
        {"own only", 0, arrow, 0, true, arrow},
        {"own and inherited", bold, arrow, 0, true, bold | arrow},
        {"not inherited", bold, arrow, 0, false, arrow},
        {"inherited but masked", bold | hint, arrow, bold, true, hint | arrow},
        {"own but masked", 0, arrow | hint, hint, true, arrow},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TTree tree;
        TDkItem* parent = tree.Item();
        TDkItem* item = tree.Item();
        parent->SetOptions(c.parent);
        item->SetOptions(c.own);
        item->SetMaskOptions(c.mask);
        item->SetInheritOptions(c.inherit);
        parent->Add(item);
        EXPECT_EQ(item->EffectiveOptions(), c.expected);
        parent->Remove(item);  // out of the tree, only its own are left
        EXPECT_EQ(item->EffectiveOptions(), c.own & ~c.mask);
    }
}

TEST(DkItem, AParentsNewOptionsReachTheWholeSubtreeAndItsViews)
{
    TTree tree;
    TDkItem* root = tree.Item();
    TDkItem* child = tree.Item();
    TDkItem* grandchild = tree.Item();
    root->Add(child);
    child->Add(grandchild);
    TRecordingObserver rootView, childView;
    root->RegisterNotification(&rootView);
    child->RegisterNotification(&childView);

    root->SetOptions(DkOption(dkoToolbarStyle));
    EXPECT_EQ(child->EffectiveOptions(), DkOption(dkoToolbarStyle));
    EXPECT_EQ(grandchild->EffectiveOptions(), DkOption(dkoToolbarStyle));
    EXPECT_EQ(rootView.Records, (std::vector<TRecord>{{root, false, dkicInvalidateAndResize, 0, child}}));
    EXPECT_EQ(childView.Records, (std::vector<TRecord>{{child, false, dkicInvalidateAndResize, 0, grandchild}}));

    // A child that does not inherit shields its own sub-items too.
    child->SetInheritOptions(false);
    EXPECT_EQ(grandchild->EffectiveOptions(), 0u);
    root->UnregisterNotification(&rootView);
    child->UnregisterNotification(&childView);
}

TEST(DkItem, CheckingAnItemUnchecksTheOthersOfItsGroup)
{
    struct TCase {
        const char* name;
        std::vector<int> groups;  // the siblings' group indexes
        std::vector<bool> checked;
        int check;                // the one checked now
        std::vector<bool> expected;
    };
    const TCase cases[] = {
        {"the others of the group go out", {1, 1, 1}, {true, false, false}, 2, {false, false, true}},
        {"other groups keep theirs", {1, 2, 1, 2}, {true, true, false, false}, 2, {false, true, true, false}},
        {"group 0 is no group", {0, 0}, {true, false}, 1, {true, true}},
        {"an item of group 0 leaves the groups alone", {1, 0}, {true, false}, 1, {true, true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TTree tree;
        TDkItem* parent = tree.Item();
        std::vector<TDkItem*> items;
        for (size_t i = 0; i < c.groups.size(); ++i) {
            items.push_back(tree.Item());
            items.back()->SetGroupIndex(c.groups[i]);
            items.back()->SetChecked(c.checked[i]);
            parent->Add(items.back());
        }
        items[c.check]->SetChecked(true);
        std::vector<bool> checked;
        for (TDkItem* item : items) checked.push_back(item->Checked());
        EXPECT_EQ(checked, c.expected);
    }
}

TEST(DkItem, AnItemJoiningAGroupCheckedLeavesOneCheckedAndViewsRepaintTheOther)
{
    TWatchedTree tree;
    tree.A->SetGroupIndex(3);
    tree.A->SetChecked(true);
    tree.B->SetChecked(true);
    tree.View.Records.clear();
    tree.B->SetGroupIndex(3);
    EXPECT_FALSE(tree.A->Checked());
    EXPECT_TRUE(tree.B->Checked());
    EXPECT_EQ(tree.View.Records, (std::vector<TRecord>{{tree.Root, false, dkicInvalidate, 0, tree.A}}));
}

// An action with every property away from its default.
TCustomAction* FullAction(TComponent* owner)
{
    auto* action = new TCustomAction(owner);
    action->SetCaption("&Send");
    action->SetChecked(true);
    action->SetEnabled(false);
    action->SetHelpContext(42);
    action->SetHint("Send|Sends the test");
    action->SetImageIndex(1);
    action->SetShortCut(ShortCut('S', scCtrl));
    action->SetVisible(false);
    action->SetAutoCheck(true);
    return action;
}

TEST(DkItem, AnItemTakesItsActionsValues)
{
    TTree tree;
    TDkItem* item = tree.Item();
    item->SetCaption("old");
    TCustomAction* action = FullAction(&tree.Owner);
    item->SetAction(action);
    EXPECT_EQ(item->Action(), action);
    EXPECT_EQ(item->Caption(), "&Send");
    EXPECT_TRUE(item->Checked());
    EXPECT_FALSE(item->Enabled());
    EXPECT_EQ(item->HelpContext(), 42);
    EXPECT_EQ(item->Hint(), "Send|Sends the test");
    EXPECT_EQ(item->ImageIndex(), 1);
    EXPECT_EQ(item->ShortCut(), ShortCut('S', scCtrl));
    EXPECT_FALSE(item->Visible());
    EXPECT_TRUE(item->AutoCheck());
}

TEST(DkItem, ALinkedPropertyFollowsTheActionUntilTheItemChangesIt)
{
    struct TCase {
        const char* name;
        std::function<void(TCustomAction*, int step)> setAction;  // step 1, 2: two new values
        std::function<void(TDkItem*)> setItem;                    // the item's own value
        std::function<std::string(TDkItem*)> read;
        std::string followed, kept;                               // after step 1, after step 2
    };
    const TCase cases[] = {
        {"caption", [](TCustomAction* a, int s) { a->SetCaption(s == 1 ? "one" : "two"); },
         [](TDkItem* i) { i->SetCaption("mine"); }, [](TDkItem* i) { return i->Caption(); }, "one", "mine"},
        {"checked", [](TCustomAction* a, int s) { a->SetChecked(s == 1); },
         [](TDkItem* i) { i->SetChecked(false); }, [](TDkItem* i) { return std::to_string(i->Checked()); }, "1",
         "0"},
        {"enabled", [](TCustomAction* a, int s) { a->SetEnabled(s != 1); },
         [](TDkItem* i) { i->SetEnabled(true); }, [](TDkItem* i) { return std::to_string(i->Enabled()); }, "0", "1"},
        {"image index", [](TCustomAction* a, int s) { a->SetImageIndex(s == 1 ? 5 : 6); },
         [](TDkItem* i) { i->SetImageIndex(9); }, [](TDkItem* i) { return std::to_string(i->ImageIndex()); }, "5",
         "9"},
        {"visible", [](TCustomAction* a, int s) { a->SetVisible(s != 1); },
         [](TDkItem* i) { i->SetVisible(true); }, [](TDkItem* i) { return std::to_string(i->Visible()); }, "0", "1"},
        {"hint", [](TCustomAction* a, int s) { a->SetHint(s == 1 ? "one" : "two"); },
         [](TDkItem* i) { i->SetHint("mine"); }, [](TDkItem* i) { return i->Hint(); }, "one", "mine"},
        {"shortcut", [](TCustomAction* a, int s) { a->SetShortCut(ShortCut(s == 1 ? 'A' : 'B', scCtrl)); },
         [](TDkItem* i) { i->SetShortCut(ShortCut('M', scAlt)); }, [](TDkItem* i) { return i->GetShortCutText(); },
         "Ctrl+A", "Alt+M"},
        {"help context", [](TCustomAction* a, int s) { a->SetHelpContext(s == 1 ? 7 : 8); },
         [](TDkItem* i) { i->SetHelpContext(99); }, [](TDkItem* i) { return std::to_string(i->HelpContext()); },
         "7", "99"},
        {"auto check", [](TCustomAction* a, int s) { a->SetAutoCheck(s == 1); },
         [](TDkItem* i) { i->SetAutoCheck(false); }, [](TDkItem* i) { return std::to_string(i->AutoCheck()); }, "1",
         "0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TTree tree;
        TDkItem* item = tree.Item();
        auto* action = new TCustomAction(&tree.Owner);
        item->SetAction(action);
        c.setAction(action, 1);
        EXPECT_EQ(c.read(item), c.followed);
        c.setItem(item);
        c.setAction(action, 2);
        EXPECT_EQ(c.read(item), c.kept);
    }
}

TEST(DkItem, AnActionsNewValuesReachTheViewsAsTheItemsOwnWouldExceptTheDirectOnes)
{
    struct TCase {
        const char* name;
        std::function<void(TCustomAction*)> change;
        std::vector<TDkItemChangeAction> told;
    };
    const TCase cases[] = {
        {"caption", [](TCustomAction* a) { a->SetCaption("new"); }, {dkicInvalidateAndResize}},
        {"checked", [](TCustomAction* a) { a->SetChecked(true); }, {dkicInvalidate}},
        {"hint, stored directly", [](TCustomAction* a) { a->SetHint("new"); }, {}},
        {"help context, stored directly", [](TCustomAction* a) { a->SetHelpContext(3); }, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TWatchedTree tree;
        auto* action = new TCustomAction(&tree.Owner);
        tree.A->SetAction(action);
        tree.View.Records.clear();
        c.change(action);
        std::vector<TDkItemChangeAction> told;
        for (const TRecord& r : tree.View.Records) told.push_back(r.Action);
        EXPECT_EQ(told, c.told);
    }
}

TEST(DkItem, AClickRunsTheItemsOwnHandlerOrElseTheAction)
{
    struct TCase {
        const char* name;
        bool ownHandler, enabled, autoCheck;
        std::vector<std::string> expected;
    };
    const TCase cases[] = {
        {"no handler of its own: the action runs", false, true, false, {"action"}},
        {"its own handler runs instead", true, true, false, {"own"}},
        {"auto check toggles before the handler", true, true, true, {"own checked=1"}},
        {"a disabled item does nothing", true, false, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TTree tree;
        TDkItem* item = tree.Item();
        auto* action = new TCustomAction(&tree.Owner);
        std::vector<std::string> log;
        action->OnExecute = [&](TObject*) { log.push_back("action"); };
        item->SetAction(action);
        item->SetAutoCheck(c.autoCheck);
        item->SetEnabled(c.enabled);
        if (c.ownHandler)
            item->OnClick = [&](TObject* sender) {
                log.push_back(c.autoCheck ? "own checked=" + std::to_string(item->Checked()) : "own");
                EXPECT_EQ(sender, item);
            };
        item->Click();
        EXPECT_EQ(log, c.expected);
    }
}

TEST(DkItem, AnItemWhoseActionIsFreedGoesOnWithoutIt)
{
    TWatchedTree tree;
    TCustomAction* action = FullAction(&tree.Owner);
    int executed = 0;
    action->OnExecute = [&](TObject*) { ++executed; };
    tree.A->SetAction(action);
    tree.A->SetEnabled(true);
    delete action;
    EXPECT_EQ(tree.A->Action(), nullptr);
    EXPECT_EQ(tree.A->Caption(), "&Send");  // what it took stays
    tree.A->Click();                        // no action to run any more
    EXPECT_EQ(executed, 0);
    int clicked = 0;
    tree.A->OnClick = [&](TObject*) { ++clicked; };
    tree.A->Click();
    EXPECT_EQ(clicked, 1);
    tree.View.Records.clear();
    tree.A->SetCaption("again");
    EXPECT_EQ(tree.View.Records.size(), 1u);
    tree.A->InitiateAction();
    auto* next = new TCustomAction(&tree.Owner);
    next->SetCaption("next");
    tree.A->SetAction(next);  // and may take another
    EXPECT_EQ(tree.A->Caption(), "next");
}

TEST(DkItem, APopupUpdatesTheActionsOfItsSubItemsFirst)
{
    TTree tree;
    TDkItem* menu = tree.Item();
    TDkItem* linked = tree.Item();
    std::vector<std::string> log;
    for (const char* name : {"first", "second"}) {
        TDkItem* item = tree.Item();
        auto* action = new TCustomAction(&tree.Owner);
        action->OnUpdate = [&log, name](TObject*) { log.push_back(std::string("update ") + name); };
        item->SetAction(action);
        (std::string(name) == "first" ? menu : linked)->Add(item);
    }
    menu->OnPopup = [&](TDkCustomItem* sender, bool fromLink) {
        log.push_back(std::string("popup menu") + (fromLink ? " from link" : ""));
        EXPECT_EQ(sender, menu);
    };
    linked->OnPopup = [&](TDkCustomItem* sender, bool fromLink) {
        log.push_back(std::string("popup linked") + (fromLink ? " from link" : ""));
        EXPECT_EQ(sender, menu);
    };
    menu->SetLinkSubitems(linked);
    menu->DoPopup(menu, false);
    EXPECT_EQ(log, (std::vector<std::string>{"update first", "popup menu", "update second", "popup linked from link"}));
}

TEST(DkItem, TheHintIsTheShortPartWithTheActionsShortcutWhenHintsShowThem)
{
    struct TCase {
        const char* name;
        std::string hint;
        bool showShortCuts;
        bool customAction;
        TShortCut actionShortCut;
        std::string expected;
    };
    const TShortCut ctrlS = ShortCut('S', scCtrl);
    const TCase cases[] = {
        {"short part only", "Save|Saves the file", false, true, ctrlS, "Save"},
        {"with the shortcut", "Save|Saves the file", true, true, ctrlS, "Save (Ctrl+S)"},
        {"a hint without long part", "Save", true, true, ctrlS, "Save (Ctrl+S)"},
        {"an action without shortcut", "Save|Saves", true, true, 0, "Save"},
        {"an action that is no custom action", "Save|Saves", true, false, 0, "Save"},
    };
    const bool before = DkHintShortCuts;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TTree tree;
        TDkItem* item = tree.Item();
        if (c.customAction) {
            auto* action = new TCustomAction(&tree.Owner);
            action->SetShortCut(c.actionShortCut);
            item->SetAction(action);
        } else {
            item->SetAction(new TBasicAction(&tree.Owner));
        }
        item->SetHint(c.hint);
        DkHintShortCuts = c.showShortCuts;
        EXPECT_EQ(item->GetHintText(), c.expected);
    }
    DkHintShortCuts = before;
}

TEST(DkItem, TheShortCutTextIsEmptyWithoutShortCut)
{
    TTree tree;
    TDkItem* item = tree.Item();
    EXPECT_EQ(item->GetShortCutText(), "");
    item->SetShortCut(ShortCut(VK_F2, scCtrl | scShift));
    EXPECT_EQ(item->GetShortCutText(), "Shift+Ctrl+F2");
}

TEST(DkItem, AnImageListsChangesReachTheViewsWithTheirSize)
{
    TWatchedTree tree;
    auto* images = new TCustomImageList(&tree.Owner);
    tree.A->SetImages(images);
    EXPECT_EQ(tree.A->Images(), images);
    tree.View.Records.clear();

    images->Clear();  // same size: repaint
    images->SetWidth(24);  // larger: lay out again
    EXPECT_EQ(tree.View.Records, (std::vector<TRecord>{{tree.Root, false, dkicInvalidate, 0, tree.A},
                                                        {tree.Root, false, dkicInvalidateAndResize, 0, tree.A}}));

    // Serving as sub-menu images too, a freed list leaves both references empty.
    tree.A->SetSubMenuImages(images);
    TRecordingObserver subView;
    tree.A->RegisterNotification(&subView);
    tree.View.Records.clear();
    delete images;
    EXPECT_EQ(tree.A->Images(), nullptr);
    EXPECT_EQ(tree.A->SubMenuImages(), nullptr);
    EXPECT_EQ(tree.View.Records, (std::vector<TRecord>{{tree.Root, false, dkicInvalidateAndResize, 0, tree.A}}));
    EXPECT_EQ(subView.Records, (std::vector<TRecord>{{tree.A, false, dkicSubitemsChanged, -1, nullptr}}));
    tree.A->UnregisterNotification(&subView);
}

TEST(DkItem, AnItemLetsGoOfItsImageListWhenTakingAnother)
{
    TWatchedTree tree;
    auto* first = new TCustomImageList(&tree.Owner);
    auto* second = new TCustomImageList(&tree.Owner);
    tree.A->SetImages(first);
    tree.A->SetImages(second);
    tree.View.Records.clear();
    first->Clear();  // no longer heard
    EXPECT_TRUE(tree.View.Records.empty());
    delete tree.A;  // the list outlives the item and changes again
    second->Clear();

    delete first;

    // Let go as images, still held as sub-menu images: its end is still heard, also from a
    // list of another owner.
    auto* shared = new TCustomImageList(nullptr);
    tree.B->SetImages(shared);
    tree.B->SetSubMenuImages(shared);
    tree.B->SetImages(nullptr);
    delete shared;
    EXPECT_EQ(tree.B->SubMenuImages(), nullptr);
}

TEST(DkItem, AControlItemFreesItsControlUnlessToldNotTo)
{
    struct TCase {
        const char* name;
        bool dontFree;
        bool freed;
    };
    const TCase cases[] = {{"frees it", false, true}, {"told not to", true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TComponent owner(nullptr);
        auto* control = new TControl(&owner);
        auto* item = new TDkControlItem(&owner);
        item->SetControl(control);
        item->DontFreeControl = c.dontFree;
        delete item;
        EXPECT_EQ(owner.ComponentCount(), c.freed ? 0 : 1);
    }
    TComponent owner(nullptr);
    auto* item = new TDkControlItem(&owner);
    auto* control = new TControl(&owner);
    item->SetControl(control);
    delete control;  // the item hears of it and forgets it
    EXPECT_EQ(item->Control(), nullptr);
}

TEST(DkItem, EachKindHasTheStyleItsViewsLookFor)
{
    struct TCase {
        const char* name;
        std::function<TDkCustomItem*(TComponent*)> make;
        TDkItemStyle has, hasNot;
    };
    const TCase cases[] = {
        {"an item", [](TComponent* o) { return new TDkItem(o); },
         dkisSelectable | dkisRedrawOnSelChange | dkisRedrawOnMouseOverChange, dkisSeparator | dkisSubmenu},
        {"a separator", [](TComponent* o) { return new TDkSeparatorItem(o); }, dkisSeparator, dkisSelectable},
        {"a control item", [](TComponent* o) { return new TDkControlItem(o); }, dkisClicksTransparent,
         dkisSelectable},
        {"a chevron", [](TComponent* o) { return new TDkChevronItem(o); }, dkisSubmenu | dkisSelectable, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TComponent owner(nullptr);
        TDkCustomItem* item = c.make(&owner);
        EXPECT_EQ(item->ItemStyle() & c.has, c.has);
        EXPECT_EQ(item->ItemStyle() & c.hasNot, 0);
        EXPECT_TRUE(item->Enabled());
        EXPECT_TRUE(item->Visible());
        EXPECT_TRUE(item->InheritOptions());
        EXPECT_EQ(item->ImageIndex(), -1);
    }
}

// "MenuCommand" plays while the test runs: the scheme key that allows it is made for it and
// removed again, as far as the test made it.
class TMenuCommandSound {
public:
    TMenuCommandSound()
    {
        const char* const parts[] = {"AppEvents", "Schemes", "Apps", ".Default", "MenuCommand", ".Current"};
        std::string path;
        for (const char* part : parts) {
            if (!path.empty()) path += '\\';
            path += part;
            HKEY raw = nullptr;
            if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &raw) == ERROR_SUCCESS) {
                RegCloseKey(raw);
                continue;
            }
            made_.insert(made_.begin(), path);  // deepest first
        }
        HKEY raw = nullptr;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw,
                                  nullptr),
                  ERROR_SUCCESS);
        key_.Reset(raw);
        char old[MAX_PATH] = {};
        DWORD size = sizeof old;
        hadValue_ = RegQueryValueExA(key_.Get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(old), &size) ==
                    ERROR_SUCCESS;
        oldValue_ = old;
        const char value[] = "tavrin_menu_command.wav";
        RegSetValueExA(key_.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value);
        previous_ = SetDkSoundPlayer(&Record);
        Log().clear();
    }
    ~TMenuCommandSound()
    {
        SetDkSoundPlayer(previous_);
        if (hadValue_)
            RegSetValueExA(key_.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(oldValue_.c_str()),
                           static_cast<DWORD>(oldValue_.size() + 1));
        else
            RegDeleteValueA(key_.Get(), nullptr);
        key_.Reset();
        for (const std::string& path : made_) RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
    }
    static std::vector<std::string>& Log()
    {
        static std::vector<std::string> log;
        return log;
    }

private:
    static void Record(const char* alias) { Log().push_back(std::string("sound ") + alias); }

    std::vector<std::string> made_;
    TRegKey key_;
    bool hadValue_ = false;
    std::string oldValue_;
    TDkSoundPlayer previous_ = nullptr;
};

// Pumps until a message posted after everything the test posted has come through.
void PumpPastWhatWasPosted()
{
    bool through = false;
    TUtilWindow marker([&](UINT message, WPARAM, LPARAM, LRESULT&) {
        if (message != WM_APP + 1) return false;
        through = true;
        return true;
    });
    PostMessageA(marker.Handle(), WM_APP + 1, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return through; }));
}

TEST(DkItemClick, APostedClickRunsAfterTheLoopWithItsSoundFirst)
{
    struct TCase {
        const char* name;
        std::function<void(TDkItem* first, TDkItem* second)> post;
        std::vector<std::string> expected;
    };
    const TCase cases[] = {
        {"sound, then the click", [](TDkItem* a, TDkItem*) { a->PostClick(true); },
         {"sound MenuCommand", "click first"}},
        {"no sound when not asked", [](TDkItem* a, TDkItem*) { a->PostClick(false); }, {"click first"}},
        {"the item freed before it comes",
         [](TDkItem* a, TDkItem*) {
             a->PostClick(true);
             delete a;
         },
         {}},
        {"a later post replaces the first", [](TDkItem* a, TDkItem* b) {
             a->PostClick(true);
             b->PostClick(false);
         },
         {"click second"}},
        {"the same item twice clicks once", [](TDkItem* a, TDkItem*) {
             a->PostClick(false);
             a->PostClick(false);
         },
         {"click first"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TMenuCommandSound sound;
        TComponent owner(nullptr);
        TDkItem* first = new TDkItem(&owner);
        TDkItem* second = new TDkItem(&owner);
        first->OnClick = [](TObject*) { TMenuCommandSound::Log().push_back("click first"); };
        second->OnClick = [](TObject*) { TMenuCommandSound::Log().push_back("click second"); };
        c.post(first, second);
        EXPECT_TRUE(TMenuCommandSound::Log().empty());  // nothing before the loop is left
        PumpPastWhatWasPosted();
        EXPECT_EQ(TMenuCommandSound::Log(), c.expected);
    }
}

TEST(DkItemClick, AFailingPostedClickIsReportedAndTheThreadGoesOn)
{
    TRecordingSink sink;
    TComponent owner(nullptr);
    TDkItem* item = new TDkItem(&owner);
    item->OnClick = [](TObject*) { throw EDkItemError("the click failed"); };
    item->PostClick(false);
    PumpPastWhatWasPosted();
    ASSERT_EQ(sink.Requests.size(), 1u);
    EXPECT_NE(sink.Requests[0].Text.find("the click failed"), std::string::npos);
    int clicked = 0;
    item->OnClick = [&](TObject*) { ++clicked; };
    item->PostClick(false);
    PumpPastWhatWasPosted();
    EXPECT_EQ(clicked, 1);
}

TEST(DkItem, EachKindAsksForItsViewer)
{
    TComponent owner(nullptr);
    EXPECT_EQ((new TDkItem(&owner))->GetItemViewerClass(nullptr), &TDkItemViewer::Create);
    EXPECT_EQ((new TDkRootItem(&owner))->GetItemViewerClass(nullptr), &TDkItemViewer::Create);
    EXPECT_EQ((new TDkSeparatorItem(&owner))->GetItemViewerClass(nullptr), &TDkSeparatorItemViewer::Create);
    EXPECT_EQ((new TDkChevronItem(&owner))->GetItemViewerClass(nullptr), &TDkChevronItemViewer::Create);
}

}  // namespace
