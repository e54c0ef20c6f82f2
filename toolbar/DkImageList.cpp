#include "DkImageList.h"

#include "SysUtils.h"

TDkCustomImageList::TDkCustomImageList(TComponent* owner)
    : TCustomImageList(owner),
      checkedLink_(std::make_unique<TChangeLink>()),
      disabledLink_(std::make_unique<TChangeLink>()),
      hotLink_(std::make_unique<TChangeLink>())
{
    // A companion's change is this list's change.
    for (TChangeLink* link : {checkedLink_.get(), disabledLink_.get(), hotLink_.get()})
        link->OnChange = [this](TObject*) { Change(); };
}

TDkCustomImageList::~TDkCustomImageList()
{
    SetDestroying();
    SetCheckedImages(nullptr);
    SetDisabledImages(nullptr);
    SetHotImages(nullptr);
}

void TDkCustomImageList::SetCheckedImages(TCustomImageList* value)
{
    SetCompanion(checkedImages_, *checkedLink_, value);
}

void TDkCustomImageList::SetDisabledImages(TCustomImageList* value)
{
    SetCompanion(disabledImages_, *disabledLink_, value);
}

void TDkCustomImageList::SetHotImages(TCustomImageList* value)
{
    SetCompanion(hotImages_, *hotLink_, value);
}

bool TDkCustomImageList::Watches(const TComponent* list) const
{
    return list && (list == checkedImages_ || list == disabledImages_ || list == hotImages_);
}

void TDkCustomImageList::SetCompanion(TCustomImageList*& slot, TChangeLink& link, TCustomImageList* value)
{
    if (value == this) value = nullptr;
    if (slot == value) return;
    TCustomImageList* old = slot;
    slot = value;
    if (old) {
        old->UnRegisterChanges(&link);
        // One list may serve several states, and free notices go both ways: keep the notice
        // while any state keeps the list or the list keeps this one.
        const auto* dk = dynamic_cast<const TDkCustomImageList*>(old);
        if (!Watches(old) && !(dk && dk->Watches(this))) RemoveFreeNotification(old);
    }
    if (value) {
        value->RegisterChanges(&link);
        FreeNotification(value);
    }
    if (!(ComponentState() & (csLoading | csDestroying))) Change();
}

void TDkCustomImageList::Notification(TComponent* component, TOperation operation)
{
    TCustomImageList::Notification(component, operation);
    if (operation != opRemove) return;
    if (!Watches(component)) return;
    const struct {
        TCustomImageList** slot;
        TChangeLink* link;
    } companions[] = {{&checkedImages_, checkedLink_.get()},
                      {&disabledImages_, disabledLink_.get()},
                      {&hotImages_, hotLink_.get()}};
    for (const auto& c : companions) {
        if (*c.slot != component) continue;
        // A list being freed has already let go of our link; one only leaving its owner has not.
        if (c.link->Sender == *c.slot) (*c.slot)->UnRegisterChanges(c.link);
        *c.slot = nullptr;
    }
    if (!(ComponentState() & (csLoading | csDestroying))) Change();
}

void TDkCustomImageList::SetImagesBitmap(HBITMAP bitmap)
{
    TGdiObject copy;
    if (bitmap) {
        copy.Reset(CopyImage(bitmap, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        if (!copy) throw EOutOfResources("Unable to copy the images bitmap");
    }
    imagesBitmap_ = std::move(copy);
    CutImagesBitmap();
}

void TDkCustomImageList::SetImagesBitmapMaskColor(TColor color)
{
    if (color == maskColor_) return;
    maskColor_ = color;
    CutImagesBitmap();
}

void TDkCustomImageList::CutImagesBitmap()
{
    BITMAP info{};
    if (!imagesBitmap_ || !GetObjectA(imagesBitmap_.Get(), sizeof info, &info) || info.bmWidth <= 0 ||
        info.bmHeight == 0)
        return;
    // One report for the clearing and the adding.
    BeginUpdate();
    try {
        Clear();
        AddMasked(ImagesBitmap(), maskColor_);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TDkCustomImageList::DrawState(TCanvas& canvas, int x, int y, int index, bool enabled, bool checked,
                                   bool hot)
{
    if (!enabled && disabledImages_)
        disabledImages_->Draw(canvas, x, y, index, true);
    else if (checked && checkedImages_)
        checkedImages_->Draw(canvas, x, y, index, enabled);
    else if (hot && hotImages_)
        hotImages_->Draw(canvas, x, y, index, enabled);
    else
        Draw(canvas, x, y, index, enabled);
}
