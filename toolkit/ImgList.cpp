#include "ImgList.h"

#include "SysUtils.h"

#include <algorithm>

namespace {

// A memory DC with one bitmap selected, put back before the DC goes.
class TMemoryDC {
public:
    TMemoryDC(HDC like, HBITMAP bitmap) : dc_(Made(CreateCompatibleDC(like))), selected_(dc_.Get(), bitmap) {}
    HDC Get() const { return dc_.Get(); }

private:
    static HDC Made(HDC dc)
    {
        if (!dc) throw EOutOfResources("Out of system resources");
        return dc;
    }

    TMemoryDCHandle dc_;
    TSelected selected_;
};

// Where the source is black the brush paints; where it is white the destination stays.
const DWORD kBrushThroughMask = 0x00B8074A;

void CheckSize(int size)
{
    if (size < 1) throw Exception("Invalid image size");
}

}  // namespace

TChangeLink::~TChangeLink()
{
    if (Sender) Sender->UnRegisterChanges(this);
}

void TChangeLink::Change()
{
    if (OnChange) OnChange(Sender);
}

TCustomImageList::TCustomImageList(TComponent* owner) : TComponent(owner) {}

TCustomImageList::~TCustomImageList()
{
    for (TChangeLink* link : links_) link->Sender = nullptr;
    links_.clear();
}

void TCustomImageList::SetWidth(int width)
{
    if (width == width_) return;
    CheckSize(width);
    width_ = width;
    Recreate();
}

void TCustomImageList::SetHeight(int height)
{
    if (height == height_) return;
    CheckSize(height);
    height_ = height;
    Recreate();
}

void TCustomImageList::Recreate()
{
    // Keeps the handle that others may hold; a new size drops every image.
    if (handle_) ImageList_SetIconSize(handle_.Get(), width_, height_);
    Change();
}

int TCustomImageList::Count() const
{
    return handle_ ? ImageList_GetImageCount(handle_.Get()) : 0;
}

HIMAGELIST TCustomImageList::Handle()
{
    if (!handle_) {
        // 24 bits: a 32-bit list would read the bitmaps' fourth byte as alpha.
        handle_.Reset(ImageList_Create(width_, height_, ILC_COLOR24 | ILC_MASK, 4, 4));
        if (!handle_) throw EOutOfResources("Unable to create an image list");
    }
    return handle_.Get();
}

int TCustomImageList::Add(HBITMAP image, HBITMAP mask)
{
    const int before = Count();
    return Added(before, ImageList_Add(Handle(), image, mask));
}

int TCustomImageList::Added(int before, int index)
{
    if (index < 0) throw EOutOfResources("Unable to insert an image");
    // comctl32 answers with the next index even for a bitmap narrower than one image.
    if (Count() == before) return -1;
    Change();
    return index;
}

int TCustomImageList::AddMasked(HBITMAP image, TColor maskColor)
{
    // comctl32 blacks out the masked pixels of the bitmap it is given: give it a copy.
    TGdiObject copy(image ? CopyImage(image, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION) : nullptr);
    const int before = Count();
    return Added(before, copy ? ImageList_AddMasked(Handle(), static_cast<HBITMAP>(copy.Get()),
                                                    ColorToRGB(maskColor))
                              : -1);
}

void TCustomImageList::Clear()
{
    if (handle_) ImageList_Remove(handle_.Get(), -1);
    Change();
}

void TCustomImageList::Draw(TCanvas& canvas, int x, int y, int index, bool enabled)
{
    if (!handle_ || !canvas.Handle() || index < 0 || index >= Count()) return;
    DoDraw(index, canvas, x, y, enabled);
}

void TCustomImageList::DoDraw(int index, TCanvas& canvas, int x, int y, bool enabled)
{
    const HDC dc = canvas.Handle();
    if (enabled) {
        ImageList_Draw(handle_.Get(), index, dc, x, y, ILD_TRANSPARENT);
        return;
    }
    // The classic embossed look: the shape lit from the top left, its own colours gone.
    TGdiObject shape(CreateBitmap(width_, height_, 1, 1, nullptr));
    if (!shape) throw EOutOfResources("Out of system resources");
    TMemoryDC mono(dc, static_cast<HBITMAP>(shape.Get()));
    PatBlt(mono.Get(), 0, 0, width_, height_, WHITENESS);
    ImageList_Draw(handle_.Get(), index, mono.Get(), 0, 0, ILD_MASK);  // the shape black, the rest white

    const COLORREF oldText = SetTextColor(dc, RGB(0, 0, 0));
    const COLORREF oldBk = SetBkColor(dc, RGB(255, 255, 255));
    const struct {
        int color, offset;
    } passes[] = {{COLOR_BTNHIGHLIGHT, 1}, {COLOR_BTNSHADOW, 0}};
    for (const auto& pass : passes) {
        TSelected brush(dc, GetSysColorBrush(pass.color));
        BitBlt(dc, x + pass.offset, y + pass.offset, width_, height_, mono.Get(), 0, 0, kBrushThroughMask);
    }
    SetBkColor(dc, oldBk);
    SetTextColor(dc, oldText);
}

void TCustomImageList::RegisterChanges(TChangeLink* link)
{
    if (!link) return;
    if (link->Sender && link->Sender != this) link->Sender->UnRegisterChanges(link);
    link->Sender = this;
    if (std::find(links_.begin(), links_.end(), link) == links_.end()) links_.push_back(link);
}

void TCustomImageList::UnRegisterChanges(TChangeLink* link)
{
    if (!link) return;
    links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
    if (link->Sender == this) link->Sender = nullptr;
}

void TCustomImageList::BeginUpdate()
{
    ++updateCount_;
}

void TCustomImageList::EndUpdate()
{
    if (updateCount_ == 0 || --updateCount_ > 0 || !changed_) return;
    changed_ = false;
    Change();
}

void TCustomImageList::Change()
{
    if (updateCount_ > 0) {
        changed_ = true;
        return;
    }
    if (reporting_) return;
    reporting_ = true;
    struct TDone {
        bool& flag;
        ~TDone() { flag = false; }
    } done{reporting_};
    // A link may unregister others (or itself) while it is told.
    const std::vector<TChangeLink*> links = links_;
    for (TChangeLink* link : links)
        if (std::find(links_.begin(), links_.end(), link) != links_.end()) link->Change();
    if (OnChange) OnChange(this);
}
