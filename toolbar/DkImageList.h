// An image list whose items draw from companion lists for the checked, disabled and hot
// states, and whose images can come from one bitmap strip.
#pragma once

#include "ImgList.h"

#include <memory>

class TDkCustomImageList : public TCustomImageList {
public:
    explicit TDkCustomImageList(TComponent* owner);
    ~TDkCustomImageList() override;

    // A list set to itself counts as none; a freed companion becomes none.
    TCustomImageList* CheckedImages() const { return checkedImages_; }
    void SetCheckedImages(TCustomImageList* value);
    TCustomImageList* DisabledImages() const { return disabledImages_; }
    void SetDisabledImages(TCustomImageList* value);
    TCustomImageList* HotImages() const { return hotImages_; }
    void SetHotImages(TCustomImageList* value);

    // The images as one strip; assigning copies it, and a non-empty strip replaces the images.
    HBITMAP ImagesBitmap() const { return static_cast<HBITMAP>(imagesBitmap_.Get()); }
    void SetImagesBitmap(HBITMAP bitmap);
    TColor ImagesBitmapMaskColor() const { return maskColor_; }
    void SetImagesBitmapMaskColor(TColor color);

    // Draws from the companion that the state picks: disabled, else checked, else hot.
    void DrawState(TCanvas& canvas, int x, int y, int index, bool enabled, bool checked, bool hot);

protected:
    void Notification(TComponent* component, TOperation operation) override;

private:
    void SetCompanion(TCustomImageList*& slot, TChangeLink& link, TCustomImageList* value);
    bool Watches(const TComponent* list) const;
    void CutImagesBitmap();

    TCustomImageList* checkedImages_ = nullptr;
    TCustomImageList* disabledImages_ = nullptr;
    TCustomImageList* hotImages_ = nullptr;
    std::unique_ptr<TChangeLink> checkedLink_, disabledLink_, hotLink_;
    TGdiObject imagesBitmap_;
    TColor maskColor_ = 0xFF00FF;
};

using TDkImageList = TDkCustomImageList;
