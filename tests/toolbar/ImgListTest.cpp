// The toolkit's image list: transparency, the embossed disabled form, change links.
#include "ImgList.h"

#include "ImageTestSupport.h"
#include "SysUtils.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

const COLORREF kMagenta = RGB(255, 0, 255);
const COLORREF kImage = RGB(0, 160, 0);
const COLORREF kBackground = RGB(30, 60, 90);
const RECT kShape = {4, 4, 12, 12};  // inside the 16 x 16 image

// A 16 x 16 image: the shape in kImage on `around`.
std::unique_ptr<TTestDib> ShapeImage(COLORREF around)
{
    auto dib = std::make_unique<TTestDib>(16, 16, around);
    dib->Fill(kShape, kImage);
    return dib;
}

// The mask of ShapeImage: set bits are transparent.
TGdiObject ShapeMask()
{
    TGdiObject mask(CreateBitmap(16, 16, 1, 1, nullptr));
    TMemoryDCHandle dc(CreateCompatibleDC(nullptr));
    const HGDIOBJ old = SelectObject(dc.Get(), mask.Get());
    PatBlt(dc.Get(), 0, 0, 16, 16, WHITENESS);
    PatBlt(dc.Get(), kShape.left, kShape.top, kShape.right - kShape.left, kShape.bottom - kShape.top, BLACKNESS);
    SelectObject(dc.Get(), old);
    return mask;
}

struct TAddCase {
    const char* name;
    COLORREF around;  // what surrounds the shape in the bitmap
    std::function<int(TCustomImageList&, HBITMAP)> add;
};

TEST(ImgList, WhatTheMaskHidesLetsTheBackgroundShow)
{
    const TAddCase cases[] = {
        {"masked by colour", kMagenta, [](TCustomImageList& l, HBITMAP b) { return l.AddMasked(b, kMagenta); }},
        // A separate mask wants the hidden pixels black, as comctl32 paints image over mask.
        {"with a mask bitmap", RGB(0, 0, 0),
         [](TCustomImageList& l, HBITMAP b) {
             TGdiObject mask = ShapeMask();
             return l.Add(b, static_cast<HBITMAP>(mask.Get()));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TCustomImageList list(nullptr);
        auto image = ShapeImage(c.around);
        EXPECT_EQ(c.add(list, image->Handle()), 0);
        EXPECT_EQ(list.Count(), 1);

        TTestCanvas target(24, 24);
        target.dib.Fill(kBackground);
        list.Draw(target.canvas, 3, 3, 0);
        EXPECT_EQ(ColorText(target.dib.Pixel(3 + 4, 3 + 4)), ColorText(kImage));
        EXPECT_EQ(ColorText(target.dib.Pixel(3 + 11, 3 + 11)), ColorText(kImage));
        EXPECT_EQ(ColorText(target.dib.Pixel(3 + 3, 3 + 3)), ColorText(kBackground));
        EXPECT_EQ(ColorText(target.dib.Pixel(3 + 12, 3 + 8)), ColorText(kBackground));
        EXPECT_EQ(ColorText(target.dib.Pixel(3, 3)), ColorText(kBackground));
    }
}

TEST(ImgList, AddingMaskedLeavesTheCallersBitmapAsItWas)
{
    TCustomImageList list(nullptr);
    auto image = ShapeImage(kMagenta);
    list.AddMasked(image->Handle(), kMagenta);
    EXPECT_EQ(ColorText(image->Pixel(0, 0)), ColorText(kMagenta));
    EXPECT_EQ(ColorText(image->Pixel(5, 5)), ColorText(kImage));
}

TEST(ImgList, ADisabledImageIsTheShapeEmbossedInButtonColours)
{
    const COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    ASSERT_NE(highlight, shadow);
    ASSERT_NE(highlight, kBackground);
    ASSERT_NE(shadow, kBackground);

    TCustomImageList list(nullptr);
    auto image = ShapeImage(kMagenta);
    list.AddMasked(image->Handle(), kMagenta);
    TTestCanvas target(24, 24);
    target.dib.Fill(kBackground);
    list.Draw(target.canvas, 2, 2, 0, false);  // the shape lands on [6, 14)

    const struct {
        const char* name;
        int x, y;
        COLORREF expected;
    } probes[] = {
        {"shape's top left", 6, 6, shadow},
        {"shape's middle", 9, 10, shadow},
        {"shape's bottom right", 13, 13, shadow},
        {"right of the shape", 14, 7, highlight},
        {"below the shape", 7, 14, highlight},
        {"below right of the shape", 14, 14, highlight},
        {"right of the shape's top row", 14, 6, kBackground},
        {"below the shape's left column", 6, 14, kBackground},
        {"above left of the shape", 5, 5, kBackground},
        {"beyond the highlight", 15, 15, kBackground},
        {"the image's own corner", 2, 2, kBackground},
    };
    for (const auto& p : probes)
        EXPECT_EQ(ColorText(target.dib.Pixel(p.x, p.y)), ColorText(p.expected)) << p.name;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x) ASSERT_NE(target.dib.Pixel(x, y), kImage) << x << "," << y;
}

TEST(ImgList, AnIndexOutsideTheListDrawsNothing)
{
    TCustomImageList list(nullptr);
    auto image = ShapeImage(kMagenta);
    TTestCanvas target(16, 16);
    target.dib.Fill(kBackground);
    list.Draw(target.canvas, 0, 0, 0);  // no images yet
    list.AddMasked(image->Handle(), kMagenta);
    for (int index : {-1, 1, 100}) {
        list.Draw(target.canvas, 0, 0, index);
        list.Draw(target.canvas, 0, 0, index, false);
    }
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) ASSERT_EQ(target.dib.Pixel(x, y), kBackground) << x << "," << y;
}

TEST(ImgList, ChangesReachLinksAndOnChange)
{
    const struct {
        const char* name;
        std::function<void(TCustomImageList&, HBITMAP)> act;
        int expected;
    } cases[] = {
        {"adding masked", [](TCustomImageList& l, HBITMAP b) { l.AddMasked(b, kMagenta); }, 1},
        {"adding with a mask", [](TCustomImageList& l, HBITMAP b) { l.Add(b, nullptr); }, 1},
        {"clearing", [](TCustomImageList& l, HBITMAP) { l.Clear(); }, 1},
        {"a new width", [](TCustomImageList& l, HBITMAP) { l.SetWidth(20); }, 1},
        {"the same width", [](TCustomImageList& l, HBITMAP) { l.SetWidth(16); }, 0},
        {"a new height", [](TCustomImageList& l, HBITMAP) { l.SetHeight(8); }, 1},
        {"the same height", [](TCustomImageList& l, HBITMAP) { l.SetHeight(16); }, 0},
        {"three changes in an update", [](TCustomImageList& l, HBITMAP b) {
             l.BeginUpdate();
             l.AddMasked(b, kMagenta);
             l.AddMasked(b, kMagenta);
             l.Clear();
             l.EndUpdate();
         }, 1},
        {"an update without changes", [](TCustomImageList& l, HBITMAP) {
             l.BeginUpdate();
             l.EndUpdate();
         }, 0},
        {"nested updates", [](TCustomImageList& l, HBITMAP b) {
             l.BeginUpdate();
             l.BeginUpdate();
             l.AddMasked(b, kMagenta);
             l.EndUpdate();
             l.EndUpdate();
         }, 1},
        {"an end without a begin", [](TCustomImageList& l, HBITMAP) { l.EndUpdate(); }, 0},
        {"a bitmap narrower than an image", [](TCustomImageList& l, HBITMAP) {
             TTestDib narrow(8, 16);
             EXPECT_EQ(l.AddMasked(narrow.Handle(), kMagenta), -1);
             EXPECT_EQ(l.Add(narrow.Handle(), nullptr), -1);
             EXPECT_EQ(l.Count(), 0);
         }, 0},
        {"a refused bitmap", [](TCustomImageList& l, HBITMAP) {
             EXPECT_THROW(l.AddMasked(nullptr, kMagenta), EOutOfResources);
         }, 0},
    };
    auto image = ShapeImage(kMagenta);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TCustomImageList list(nullptr);
        int viaLink = 0, viaEvent = 0;
        TObject* linkSender = nullptr;
        TChangeLink link;
        link.OnChange = [&](TObject* sender) {
            ++viaLink;
            linkSender = sender;
        };
        list.RegisterChanges(&link);
        EXPECT_EQ(link.Sender, &list);
        list.OnChange = [&](TObject*) { ++viaEvent; };
        c.act(list, image->Handle());
        EXPECT_EQ(viaLink, c.expected);
        EXPECT_EQ(viaEvent, c.expected);
        if (c.expected) {
            EXPECT_EQ(linkSender, &list);
        }
    }
}

TEST(ImgList, ANewSizeDropsTheImagesButKeepsTheHandle)
{
    TCustomImageList list(nullptr);
    auto image = ShapeImage(kMagenta);
    list.AddMasked(image->Handle(), kMagenta);
    const HIMAGELIST handle = list.Handle();
    list.SetWidth(20);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Handle(), handle);
    int cx = 0, cy = 0;
    ImageList_GetIconSize(handle, &cx, &cy);
    EXPECT_EQ(cx, 20);
    EXPECT_EQ(cy, 16);
    EXPECT_THROW(list.SetHeight(0), Exception);
    EXPECT_EQ(list.Height(), 16);
}

TEST(ImgList, LinksAndListsMayGoInAnyOrder)
{
    auto list = std::make_unique<TCustomImageList>(nullptr);
    int kept = 0;
    TChangeLink keep;
    keep.OnChange = [&](TObject*) { ++kept; };
    list->RegisterChanges(&keep);
    {
        TChangeLink brief;  // freed first: unregisters itself
        list->RegisterChanges(&brief);
    }
    list->Clear();
    EXPECT_EQ(kept, 1);

    // A link that another one's report frees is not told any more.
    auto doomed = std::make_unique<TChangeLink>();
    int doomedCalls = 0;
    doomed->OnChange = [&](TObject*) { ++doomedCalls; };
    TChangeLink killer;
    killer.OnChange = [&](TObject*) { doomed.reset(); };
    list->RegisterChanges(&killer);
    list->RegisterChanges(doomed.get());
    list->Clear();
    EXPECT_EQ(doomedCalls, 0);
    EXPECT_EQ(kept, 2);
    list->UnRegisterChanges(&killer);

    // A link moves to the list it is registered with last.
    TCustomImageList other(nullptr);
    other.RegisterChanges(&keep);
    EXPECT_EQ(keep.Sender, &other);
    list->Clear();
    EXPECT_EQ(kept, 2);
    other.Clear();
    EXPECT_EQ(kept, 3);

    list->RegisterChanges(&keep);
    list.reset();  // the list goes first: its links let go of it
    EXPECT_EQ(keep.Sender, nullptr);
    other.Clear();
    EXPECT_EQ(kept, 3);
}

}  // namespace
