#include "StdCtrls.h"

#include "Forms.h"
#include "SysUtils.h"

#include <algorithm>

TLabel::TLabel(TComponent* owner) : TWinControl(owner)
{
    width_ = 65;
    height_ = 13;
}

void TLabel::CreateParams(TCreateParams& params)
{
    TWinControl::CreateParams(params);
    params.ClassName = "STATIC";
    params.Style |= alignment_ == taRightJustify ? SS_RIGHT : alignment_ == taCenter ? SS_CENTER : SS_LEFT;
}

void TLabel::SetText(const std::string& text)
{
    TWinControl::SetText(text);
    AdjustSize();
}

void TLabel::SetAlignment(TAlignment alignment)
{
    if (alignment == alignment_) return;
    alignment_ = alignment;
    RecreateWnd();
}

void TLabel::SetAutoSize(bool autoSize)
{
    autoSize_ = autoSize;
    AdjustSize();
}

void TLabel::FontChanged()
{
    TWinControl::FontChanged();
    AdjustSize();
}

void TLabel::AdjustSize()
{
    if (!autoSize_) return;
    TCanvas canvas;
    canvas.Font.Assign(&font_);
    const SIZE size = canvas.TextExtent(text_.empty() ? " " : text_);
    TWinControl::SetBounds(left_, top_, size.cx, size.cy);
}

TCustomEdit::TCustomEdit(TComponent* owner) : TWinControl(owner)
{
    width_ = 121;
    height_ = 21;
    tabStop_ = true;
    color_ = clWindow;
    brush_.SetColor(color_);
}

void TCustomEdit::CreateParams(TCreateParams& params)
{
    TWinControl::CreateParams(params);
    params.ClassName = "EDIT";
    params.Style |= ES_AUTOHSCROLL;
    if (readOnly_) params.Style |= ES_READONLY;
    params.ExStyle |= WS_EX_CLIENTEDGE;
}

void TCustomEdit::CreateWnd()
{
    TWinControl::CreateWnd();
    SendMessageA(handle_, EM_LIMITTEXT, maxLength_, 0);
}

void TCustomEdit::SetMaxLength(int length)
{
    maxLength_ = length;
    if (handle_) SendMessageA(handle_, EM_LIMITTEXT, length, 0);
}

void TCustomEdit::SetReadOnly(bool readOnly)
{
    readOnly_ = readOnly;
    if (handle_) SendMessageA(handle_, EM_SETREADONLY, readOnly, 0);
}

int TCustomEdit::SelStart()
{
    DWORD start = 0, end = 0;
    SendMessageA(Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return static_cast<int>(start);
}

int TCustomEdit::SelLength()
{
    DWORD start = 0, end = 0;
    SendMessageA(Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return static_cast<int>(end - start);
}

void TCustomEdit::SetSel(int start, int length)
{
    SendMessageA(Handle(), EM_SETSEL, start, length < 0 ? -1 : start + length);
}

void TCustomEdit::CommandNotify(WORD code)
{
    if (code == EN_CHANGE) Change();
}

void TCustomEdit::Change()
{
    if (OnChange && !Quiet()) OnChange(this);
}

int TMemoLines::Count() const
{
    return static_cast<int>(Split().size());
}

std::string TMemoLines::Strings(int index) const
{
    return Split().at(index);
}

std::vector<std::string> TMemoLines::Split() const
{
    std::vector<std::string> lines;
    const std::string text = memo_.Text();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        if (end < text.size() && text[end] == '\r') ++end;
        if (end < text.size() && text[end] == '\n') ++end;
        start = end;
    }
    return lines;
}

void TMemoLines::Add(const std::string& line)
{
    std::string text = memo_.Text();
    if (!text.empty() && text.back() != '\n') text += "\r\n";
    memo_.SetText(text + line + "\r\n");
}

void TMemoLines::Clear()
{
    memo_.SetText("");
}

std::string TMemoLines::Text() const
{
    std::string text;
    for (const auto& line : Split()) text += line + "\r\n";
    return text;
}

void TMemoLines::SetText(const std::string& text)
{
    memo_.SetText(text);
}

TMemo::TMemo(TComponent* owner) : TCustomEdit(owner), lines_(*this)
{
    width_ = 185;
    height_ = 89;
}

void TMemo::CreateParams(TCreateParams& params)
{
    TCustomEdit::CreateParams(params);
    params.Style |= ES_MULTILINE | ES_WANTRETURN | WS_VSCROLL;
    if (WordWrap) params.Style &= ~ES_AUTOHSCROLL;
}

int TComboItems::Add(const std::string& item)
{
    items_.push_back(item);
    if (box_.HandleAllocated()) SendMessageA(box_.Handle(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    return Count() - 1;
}

void TComboItems::Insert(int index, const std::string& item)
{
    index = std::clamp(index, 0, Count());
    items_.insert(items_.begin() + index, item);
    if (box_.HandleAllocated())
        SendMessageA(box_.Handle(), CB_INSERTSTRING, index, reinterpret_cast<LPARAM>(item.c_str()));
}

void TComboItems::Delete(int index)
{
    if (index < 0 || index >= Count()) return;
    items_.erase(items_.begin() + index);
    if (box_.HandleAllocated()) SendMessageA(box_.Handle(), CB_DELETESTRING, index, 0);
    if (box_.itemIndex_ >= Count()) box_.itemIndex_ = -1;
}

void TComboItems::Clear()
{
    items_.clear();
    box_.itemIndex_ = -1;
    if (box_.HandleAllocated()) SendMessageA(box_.Handle(), CB_RESETCONTENT, 0, 0);
}

int TComboItems::IndexOf(const std::string& item) const
{
    for (int i = 0; i < Count(); ++i)
        if (LowerCase(items_[i]) == LowerCase(item)) return i;
    return -1;
}

TComboBox::TComboBox(TComponent* owner) : TWinControl(owner), items_(*this)
{
    width_ = 145;
    height_ = 21;
    tabStop_ = true;
    color_ = clWindow;
    brush_.SetColor(color_);
}

void TComboBox::CreateParams(TCreateParams& params)
{
    TWinControl::CreateParams(params);
    params.ClassName = "COMBOBOX";
    params.Style |= WS_VSCROLL | (style_ == csDropDownList ? CBS_DROPDOWNLIST : CBS_DROPDOWN | CBS_AUTOHSCROLL);
}

void TComboBox::CreateWnd()
{
    TWinControl::CreateWnd();
    SetBounds(left_, top_, width_, height_);  // room for the opened list
    for (const auto& item : items_.items_) SendMessageA(handle_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    SendMessageA(handle_, CB_SETCURSEL, itemIndex_, 0);
}

void TComboBox::SetBounds(int left, int top, int width, int height)
{
    TControl::SetBounds(left, top, width, height);
    if (handle_) MoveWindow(handle_, left, top, width, height + 18 * DropDownCount, TRUE);
}

void TComboBox::SetStyle(TComboBoxStyle style)
{
    if (style == style_) return;
    style_ = style;
    RecreateWnd();
}

int TComboBox::ItemIndex() const
{
    if (handle_) return static_cast<int>(SendMessageA(handle_, CB_GETCURSEL, 0, 0));
    return itemIndex_;
}

void TComboBox::SetItemIndex(int index)
{
    if (index < -1 || index >= items_.Count()) index = -1;
    itemIndex_ = index;
    if (handle_) SendMessageA(handle_, CB_SETCURSEL, index, 0);
}

std::string TComboBox::Text() const
{
    if (style_ == csDropDownList) {
        const int index = ItemIndex();
        return index >= 0 && index < items_.Count() ? items_.Strings(index) : "";
    }
    return TWinControl::Text();
}

void TComboBox::CommandNotify(WORD code)
{
    if (code == CBN_SELCHANGE) {
        itemIndex_ = ItemIndex();
        if (OnChange && !Quiet()) OnChange(this);
    }
}

TButtonControl::TButtonControl(TComponent* owner) : TWinControl(owner)
{
    tabStop_ = true;
}

void TButtonControl::CreateParams(TCreateParams& params)
{
    TWinControl::CreateParams(params);
    params.ClassName = "BUTTON";
}

void TButtonControl::CreateWnd()
{
    TWinControl::CreateWnd();
    SendMessageA(handle_, BM_SETCHECK, checked_ ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool TButtonControl::StoreChecked(bool checked)
{
    if (checked == checked_) return false;
    checked_ = checked;
    if (handle_) SendMessageA(handle_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    return true;
}

TCheckBox::TCheckBox(TComponent* owner) : TButtonControl(owner)
{
    width_ = 97;
    height_ = 17;
}

void TCheckBox::CreateParams(TCreateParams& params)
{
    TButtonControl::CreateParams(params);
    params.Style |= BS_CHECKBOX;
}

void TCheckBox::SetChecked(bool checked)
{
    if (StoreChecked(checked)) Click();
}

void TCheckBox::CommandNotify(WORD code)
{
    if (code == BN_CLICKED) SetChecked(!checked_);
}

TRadioButton::TRadioButton(TComponent* owner) : TButtonControl(owner)
{
    width_ = 113;
    height_ = 17;
}

void TRadioButton::CreateParams(TCreateParams& params)
{
    TButtonControl::CreateParams(params);
    params.Style |= BS_RADIOBUTTON;
}

void TRadioButton::SetChecked(bool checked)
{
    if (!StoreChecked(checked) || !checked) return;
    if (parent_) {
        for (int i = 0; i < parent_->ControlCount(); ++i)
            if (auto* other = dynamic_cast<TRadioButton*>(parent_->Controls(i)); other && other != this)
                other->SetChecked(false);
    }
    Click();
}

void TRadioButton::CommandNotify(WORD code)
{
    if (code == BN_CLICKED) SetChecked(true);
}

TButton::TButton(TComponent* owner) : TButtonControl(owner) {}

void TButton::CreateParams(TCreateParams& params)
{
    TButtonControl::CreateParams(params);
    params.Style |= default_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
    if (cancel_) params.Id = IDCANCEL;
}

void TButton::SetDefault(bool value)
{
    default_ = value;
    if (handle_) SendMessageA(handle_, BM_SETSTYLE, value ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

void TButton::SetCancel(bool value)
{
    if (value == cancel_) return;
    cancel_ = value;
    RecreateWnd();
}

void TButton::Click()
{
    if (Quiet()) return;
    if (TCustomForm* form = GetParentForm(this); form && ModalResult != 0) form->SetModalResult(ModalResult);
    TButtonControl::Click();
}

void TButton::CommandNotify(WORD code)
{
    if (code == BN_CLICKED) Click();
}

TGroupBox::TGroupBox(TComponent* owner) : TWinControl(owner)
{
    width_ = 185;
    height_ = 105;
}

void TGroupBox::WndProc(TMessage& m)
{
    if (m.Msg == WM_ERASEBKGND) {
        EraseBackground(m);  // the button class leaves a group box's inside unpainted
        return;
    }
    TWinControl::WndProc(m);
}

void TGroupBox::CreateParams(TCreateParams& params)
{
    TWinControl::CreateParams(params);
    params.ClassName = "BUTTON";
    params.Style |= BS_GROUPBOX;
    params.ExStyle |= WS_EX_CONTROLPARENT;
}
