// Image lists over comctl32's, with change links and the disabled (embossed) drawing.
#pragma once

#include "Classes.h"
#include "Graphics.h"

#include <commctrl.h>

#include <vector>

class TCustomImageList;

// Tells its owner when the image list it watches changes.
class TChangeLink : public TObject {
public:
    TChangeLink() = default;
    ~TChangeLink() override;
    TCustomImageList* Sender = nullptr;
    TNotifyEvent OnChange;
    virtual void Change();
};

class TCustomImageList : public TComponent {
public:
    explicit TCustomImageList(TComponent* owner);
    ~TCustomImageList() override;

    int Width() const { return width_; }
    void SetWidth(int width);    // clears the list
    int Height() const { return height_; }
    void SetHeight(int height);  // clears the list
    int Count() const;
    HIMAGELIST Handle();

    int Add(HBITMAP image, HBITMAP mask);
    // Cuts the bitmap into images of the list's size; `maskColor` is transparent.
    int AddMasked(HBITMAP image, TColor maskColor);
    void Clear();

    // Draws image `index` at (x, y); a disabled image is drawn embossed.
    void Draw(TCanvas& canvas, int x, int y, int index, bool enabled = true);

    void RegisterChanges(TChangeLink* link);
    void UnRegisterChanges(TChangeLink* link);
    void BeginUpdate();
    void EndUpdate();  // reports one change when something changed meanwhile

    TNotifyEvent OnChange;

protected:
    virtual void DoDraw(int index, TCanvas& canvas, int x, int y, bool enabled);
    virtual void Change();

private:
    int width_ = 16, height_ = 16;
    HIMAGELIST handle_ = nullptr;
    std::vector<TChangeLink*> links_;
    int updateCount_ = 0;
    bool changed_ = false;
};
