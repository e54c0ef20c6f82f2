// Image lists over comctl32's, with change links and the disabled (embossed) drawing.
#pragma once

#include "Classes.h"
#include "Graphics.h"
#include "Handles.h"

#include <commctrl.h>

#include <vector>

class TCustomImageList;

struct TImageListTraits {
    using Handle = HIMAGELIST;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ImageList_Destroy(h); }
};
using TImageListHandle = TOwnedHandle<TImageListTraits>;

// Tells its owner when the image list it watches changes. Freeing the link unregisters it;
// freeing the list sets Sender to null.
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
    void SetWidth(int width);    // clears the list; raises for a size under 1
    int Height() const { return height_; }
    void SetHeight(int height);  // clears the list; raises for a size under 1
    int Count() const;
    HIMAGELIST Handle();  // made on first use

    // Both add the images the bitmap holds side by side and return the first one's index, or
    // -1 (and report no change) for a bitmap narrower than one image; they raise when
    // comctl32 refuses. The caller's bitmaps stay as they were.
    int Add(HBITMAP image, HBITMAP mask);
    // Cuts the bitmap into images of the list's size; `maskColor` is transparent.
    int AddMasked(HBITMAP image, TColor maskColor);
    void Clear();

    // Draws image `index` at (x, y); a disabled image is drawn embossed. An index outside
    // the list draws nothing.
    void Draw(TCanvas& canvas, int x, int y, int index, bool enabled = true);

    void RegisterChanges(TChangeLink* link);
    void UnRegisterChanges(TChangeLink* link);
    void BeginUpdate();
    void EndUpdate();  // reports one change when something changed meanwhile

    TNotifyEvent OnChange;

protected:
    virtual void DoDraw(int index, TCanvas& canvas, int x, int y, bool enabled);
    // Tells the links, then OnChange. A report already running for this list is not
    // entered again, so lists that watch each other in a ring report once each.
    virtual void Change();

private:
    void Recreate();
    int Added(int before, int index);

    int width_ = 16, height_ = 16;
    TImageListHandle handle_;
    std::vector<TChangeLink*> links_;
    int updateCount_ = 0;
    bool changed_ = false;
    bool reporting_ = false;
};
