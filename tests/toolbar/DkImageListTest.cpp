// The image list with companions for the checked, disabled and hot states, and images cut
// from one strip.
#include "DkImageList.h"

#include "ImageTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace {

const COLORREF kMagenta = RGB(255, 0, 255);
const COLORREF kBackground = RGB(30, 60, 90);

// Each list's image is a bar of its own colour in a column of its own, so both the colour
// and, when embossed, the place tell which list drew.
enum TWhich { wMain, wChecked, wDisabled, wHot };
const struct {
    const char* name;
    COLORREF color;
    int left;  // the bar covers [left, left + 2) x [2, 14)
} kLists[] = {
    {"main", RGB(0, 160, 0), 1},
    {"checked", RGB(200, 0, 0), 5},
    {"disabled", RGB(0, 0, 200), 9},
    {"hot", RGB(200, 200, 0), 13},
};

std::unique_ptr<TTestDib> BarImage(TWhich which)
{
    auto dib = std::make_unique<TTestDib>(16, 16, kMagenta);
    dib->Fill({kLists[which].left, 2, kLists[which].left + 2, 14}, kLists[which].color);
    return dib;
}

void AddBar(TCustomImageList& list, TWhich which)
{
    auto image = BarImage(which);
    list.AddMasked(image->Handle(), kMagenta);
}

// Counts the changes a list reports.
struct TChangeCounter {
    explicit TChangeCounter(TCustomImageList& list)
    {
        link.OnChange = [this](TObject*) { ++count; };
        list.RegisterChanges(&link);
    }
    TChangeLink link;
    int count = 0;
};

TEST(DkImageList, TheStatePicksTheListThatDraws)
{
    const struct {
        const char* name;
        bool enabled, checked, hot;
        bool hasChecked, hasDisabled, hasHot;
        TWhich drawer;
        bool embossed;
    } cases[] = {
        {"plain, no companions", true, false, false, false, false, false, wMain, false},
        {"plain, all companions", true, false, false, true, true, true, wMain, false},
        {"checked", true, true, false, true, true, true, wChecked, false},
        {"checked without a checked list", true, true, false, false, true, true, wMain, false},
        {"checked and hot", true, true, true, true, true, true, wChecked, false},
        {"checked and hot without a checked list", true, true, true, false, true, true, wHot, false},
        {"hot", true, false, true, true, true, true, wHot, false},
        {"hot without a hot list", true, false, true, true, true, false, wMain, false},
        {"disabled", false, false, false, true, true, true, wDisabled, false},
        {"disabled, checked and hot", false, true, true, true, true, true, wDisabled, false},
        {"disabled without a disabled list", false, false, false, true, false, true, wMain, true},
        {"disabled and checked without a disabled list", false, true, false, true, false, true, wChecked, true},
        {"disabled and hot without a disabled list", false, false, true, true, false, true, wHot, true},
        {"disabled, no companions", false, true, true, false, false, false, wMain, true},
    };
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TDkImageList list(nullptr);
        TCustomImageList checked(nullptr), disabled(nullptr), hot(nullptr);
        AddBar(list, wMain);
        AddBar(checked, wChecked);
        AddBar(disabled, wDisabled);
        AddBar(hot, wHot);
        if (c.hasChecked) list.SetCheckedImages(&checked);
        if (c.hasDisabled) list.SetDisabledImages(&disabled);
        if (c.hasHot) list.SetHotImages(&hot);

        TTestCanvas target(16, 16);
        target.dib.Fill(kBackground);
        list.DrawState(target.canvas, 0, 0, 0, c.enabled, c.checked, c.hot);
        for (TWhich w : {wMain, wChecked, wDisabled, wHot}) {
            const COLORREF expected = w != c.drawer ? kBackground : c.embossed ? shadow : kLists[w].color;
            EXPECT_EQ(ColorText(target.dib.Pixel(kLists[w].left, 8)), ColorText(expected)) << kLists[w].name;
        }
    }
}

struct TRole {
    const char* name;
    std::function<void(TDkImageList&, TCustomImageList*)> set;
    std::function<TCustomImageList*(TDkImageList&)> get;
};
const TRole kRoles[] = {
    {"checked", [](TDkImageList& l, TCustomImageList* v) { l.SetCheckedImages(v); },
     [](TDkImageList& l) { return l.CheckedImages(); }},
    {"disabled", [](TDkImageList& l, TCustomImageList* v) { l.SetDisabledImages(v); },
     [](TDkImageList& l) { return l.DisabledImages(); }},
    {"hot", [](TDkImageList& l, TCustomImageList* v) { l.SetHotImages(v); },
     [](TDkImageList& l) { return l.HotImages(); }},
};

TEST(DkImageList, SettingACompanionReportsOnlyRealChanges)
{
    for (const auto& role : kRoles) {
        SCOPED_TRACE(role.name);
        TDkImageList list(nullptr);
        TCustomImageList first(nullptr), second(nullptr);
        TChangeCounter changes(list);

        role.set(list, &list);  // itself counts as none
        EXPECT_EQ(role.get(list), nullptr);
        EXPECT_EQ(changes.count, 0);

        role.set(list, &first);
        EXPECT_EQ(role.get(list), &first);
        EXPECT_EQ(changes.count, 1);
        role.set(list, &first);
        EXPECT_EQ(changes.count, 1);

        first.Clear();  // the companion's change is the list's
        EXPECT_EQ(changes.count, 2);

        role.set(list, &second);
        EXPECT_EQ(changes.count, 3);
        first.Clear();  // the old one reports no more
        EXPECT_EQ(changes.count, 3);
        second.Clear();
        EXPECT_EQ(changes.count, 4);

        role.set(list, &list);  // back to none
        EXPECT_EQ(role.get(list), nullptr);
        EXPECT_EQ(changes.count, 5);
        second.Clear();
        EXPECT_EQ(changes.count, 5);

        list.BeginLoading();  // a list being read in reports nothing
        role.set(list, &first);
        EXPECT_EQ(changes.count, 5);
        list.EndLoading();
        EXPECT_EQ(role.get(list), &first);
        first.Clear();
        EXPECT_EQ(changes.count, 6);
    }
}

TEST(DkImageList, AFreedCompanionBecomesNoneAndTheListGoesOn)
{
    for (const auto& role : kRoles) {
        SCOPED_TRACE(role.name);
        TDkImageList list(nullptr);
        AddBar(list, wMain);
        auto companion = std::make_unique<TCustomImageList>(nullptr);
        AddBar(*companion, wChecked);
        role.set(list, companion.get());
        TChangeCounter changes(list);

        companion.reset();
        EXPECT_EQ(role.get(list), nullptr);
        EXPECT_EQ(changes.count, 1);

        TTestCanvas target(16, 16);
        target.dib.Fill(kBackground);
        list.DrawState(target.canvas, 0, 0, 0, true, true, true);
        EXPECT_EQ(ColorText(target.dib.Pixel(kLists[wMain].left, 8)), ColorText(kLists[wMain].color));
        list.Clear();
        EXPECT_EQ(changes.count, 2);
    }
}

TEST(DkImageList, AListInSeveralRolesIsWatchedWhileAnyKeepsIt)
{
    TDkImageList list(nullptr);
    auto companion = std::make_unique<TCustomImageList>(nullptr);
    list.SetCheckedImages(companion.get());
    list.SetHotImages(companion.get());
    list.SetCheckedImages(nullptr);  // still the hot list
    companion.reset();
    EXPECT_EQ(list.HotImages(), nullptr);
    EXPECT_EQ(list.CheckedImages(), nullptr);
}

TEST(DkImageList, ACompanionLeavingItsOwnerIsDroppedCleanly)
{
    // Siblings hear of a component leaving the owner while it still lives.
    TComponent owner(nullptr);
    auto* list = new TDkImageList(&owner);
    auto* companion = new TCustomImageList(&owner);
    list->SetCheckedImages(companion);
    owner.RemoveComponent(companion);
    EXPECT_EQ(list->CheckedImages(), nullptr);
    TChangeCounter changes(*list);
    companion->Clear();
    EXPECT_EQ(changes.count, 0);
    delete companion;
    EXPECT_EQ(list->CheckedImages(), nullptr);
}

TEST(DkImageList, AListLeavingItsOwnerStillHearsOfItsCompanionsEnd)
{
    TComponent owner(nullptr);
    auto* a = new TDkImageList(&owner);
    auto* b = new TDkImageList(&owner);
    a->SetCheckedImages(b);
    b->SetCheckedImages(a);
    owner.RemoveComponent(b);  // a drops b; b still watches a
    EXPECT_EQ(a->CheckedImages(), nullptr);
    EXPECT_EQ(b->CheckedImages(), a);
    delete a;
    EXPECT_EQ(b->CheckedImages(), nullptr);
    delete b;
}

TEST(DkImageList, FreeingTheListLeavesItsCompanionsWorking)
{
    TCustomImageList companion(nullptr);
    TChangeCounter changes(companion);
    {
        TDkImageList list(nullptr);
        list.SetCheckedImages(&companion);
        list.SetDisabledImages(&companion);
    }
    companion.Clear();
    EXPECT_EQ(changes.count, 1);
}

TEST(DkImageList, CompanionsInARingReportEachChangeOncePerList)
{
    const struct {
        const char* name;
        int lists;
        const TRole* role;
    } cases[] = {
        {"two, checked of each other", 2, &kRoles[0]},
        {"two, hot of each other", 2, &kRoles[2]},
        {"three, disabled round", 3, &kRoles[1]},
        {"four, checked round", 4, &kRoles[0]},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::unique_ptr<TDkImageList>> lists;
        for (int i = 0; i < c.lists; ++i) lists.push_back(std::make_unique<TDkImageList>(nullptr));
        for (int i = 0; i < c.lists; ++i) c.role->set(*lists[i], lists[(i + 1) % c.lists].get());
        std::vector<std::unique_ptr<TChangeCounter>> counters;
        for (auto& l : lists) counters.push_back(std::make_unique<TChangeCounter>(*l));

        lists[0]->Clear();
        for (int i = 0; i < c.lists; ++i) EXPECT_EQ(counters[i]->count, 1) << "list " << i;
        lists[c.lists - 1]->Clear();  // from another place in the ring, once more each
        for (int i = 0; i < c.lists; ++i) EXPECT_EQ(counters[i]->count, 2) << "list " << i;

        counters.clear();
        lists[0].reset();  // the ring opens where a list goes
        EXPECT_EQ(c.role->get(*lists[c.lists - 1]), nullptr);
    }
}

// Three 16 x 16 images side by side: red, green and blue squares on magenta, each with a
// white dot in its top left corner.
std::unique_ptr<TTestDib> Strip()
{
    auto strip = std::make_unique<TTestDib>(48, 16, kMagenta);
    const COLORREF colors[] = {RGB(200, 0, 0), RGB(0, 200, 0), RGB(0, 0, 200)};
    for (int i = 0; i < 3; ++i) {
        strip->Fill({i * 16 + 4, 4, i * 16 + 12, 12}, colors[i]);
        strip->Fill({i * 16 + 1, 1, i * 16 + 2, 2}, RGB(255, 255, 255));
    }
    return strip;
}

TEST(DkImageList, AStripIsCutIntoImagesAndANewMaskColourCutsAgain)
{
    TDkImageList list(nullptr);
    TChangeCounter changes(list);
    {
        auto strip = Strip();
        list.SetImagesBitmap(strip->Handle());
        EXPECT_NE(list.ImagesBitmap(), strip->Handle());  // a copy: the strip may go
    }
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(changes.count, 1);
    BITMAP info{};
    ASSERT_TRUE(GetObjectA(list.ImagesBitmap(), sizeof info, &info));
    EXPECT_EQ(info.bmWidth, 48);
    EXPECT_EQ(info.bmHeight, 16);

    const COLORREF colors[] = {RGB(200, 0, 0), RGB(0, 200, 0), RGB(0, 0, 200)};
    auto drawn = [&](int index, int x, int y) {
        TTestCanvas target(16, 16);
        target.dib.Fill(kBackground);
        list.Draw(target.canvas, 0, 0, index);
        return ColorText(target.dib.Pixel(x, y));
    };
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(drawn(i, 8, 8), ColorText(colors[i]));
        EXPECT_EQ(drawn(i, 0, 0), ColorText(kBackground));
        EXPECT_EQ(drawn(i, 1, 1), ColorText(RGB(255, 255, 255)));
    }

    list.SetImagesBitmapMaskColor(0xFF00FF);  // the same colour: nothing to do
    EXPECT_EQ(changes.count, 1);
    list.SetImagesBitmapMaskColor(clWhite);  // now the dots are the holes
    EXPECT_EQ(changes.count, 2);
    EXPECT_EQ(list.Count(), 3);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(drawn(i, 8, 8), ColorText(colors[i]));
        EXPECT_EQ(drawn(i, 0, 0), ColorText(kMagenta));
        EXPECT_EQ(drawn(i, 1, 1), ColorText(kBackground));
    }
}

TEST(DkImageList, AStripReplacesImagesAddedBeforeAndNoStripKeepsThem)
{
    TDkImageList list(nullptr);
    AddBar(list, wMain);
    AddBar(list, wHot);
    list.SetImagesBitmap(nullptr);
    EXPECT_EQ(list.ImagesBitmap(), nullptr);
    EXPECT_EQ(list.Count(), 2);
    list.SetImagesBitmapMaskColor(clWhite);  // no strip to cut
    EXPECT_EQ(list.Count(), 2);

    auto strip = Strip();
    list.SetImagesBitmap(strip->Handle());
    EXPECT_EQ(list.Count(), 3);
    list.SetImagesBitmap(list.ImagesBitmap());  // its own strip again
    EXPECT_EQ(list.Count(), 3);
    ASSERT_NE(list.ImagesBitmap(), nullptr);
    AddBar(list, wMain);
    EXPECT_EQ(list.Count(), 4);
    list.SetImagesBitmap(nullptr);  // the strip goes, the images stay
    EXPECT_EQ(list.ImagesBitmap(), nullptr);
    EXPECT_EQ(list.Count(), 4);

    TTestDib narrow(8, 16);  // not one whole image: it still replaces them all
    TChangeCounter changes(list);
    list.SetImagesBitmap(narrow.Handle());
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(changes.count, 1);
}

}  // namespace
