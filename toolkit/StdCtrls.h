// The standard controls: label, edit, memo, combo box, check box, radio button, push
// button and group box.
#pragma once

#include "Controls.h"

#include <string>
#include <vector>

enum TAlignment { taLeftJustify, taRightJustify, taCenter };

class TLabel : public TWinControl {
public:
    explicit TLabel(TComponent* owner);
    void SetText(const std::string& text) override;
    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment alignment);
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool autoSize);

protected:
    void CreateParams(TCreateParams& params) override;
    void FontChanged() override;

private:
    void AdjustSize();
    TAlignment alignment_ = taLeftJustify;
    bool autoSize_ = true;
};

class TCustomEdit : public TWinControl {
public:
    explicit TCustomEdit(TComponent* owner);

    int MaxLength() const { return maxLength_; }
    void SetMaxLength(int length);
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool readOnly);
    int SelStart();
    int SelLength();
    void SetSel(int start, int length);
    void SelectAll() { SetSel(0, -1); }

    TNotifyEvent OnChange;

protected:
    void CreateParams(TCreateParams& params) override;
    void CreateWnd() override;
    void CommandNotify(WORD code) override;
    virtual void Change();

    int maxLength_ = 0;
    bool readOnly_ = false;
};

class TEdit : public TCustomEdit {
public:
    using TCustomEdit::TCustomEdit;
};

class TMemo;

// The lines of a memo, read from and written to its window.
class TMemoLines {
public:
    explicit TMemoLines(TMemo& memo) : memo_(memo) {}
    int Count() const;
    std::string Strings(int index) const;
    std::string operator[](int index) const { return Strings(index); }
    void Add(const std::string& line);
    void Clear();
    std::string Text() const;
    void SetText(const std::string& text);

private:
    std::vector<std::string> Split() const;
    TMemo& memo_;
};

class TMemo : public TCustomEdit {
public:
    explicit TMemo(TComponent* owner);
    TMemoLines& Lines() { return lines_; }
    bool WordWrap = true;

protected:
    void CreateParams(TCreateParams& params) override;

private:
    TMemoLines lines_;
};

enum TComboBoxStyle { csDropDown, csDropDownList };

class TComboBox;

// The items of a combo box, kept here and in its window.
class TComboItems {
public:
    explicit TComboItems(TComboBox& box) : box_(box) {}
    int Count() const { return static_cast<int>(items_.size()); }
    const std::string& Strings(int index) const { return items_.at(index); }
    const std::string& operator[](int index) const { return Strings(index); }
    int Add(const std::string& item);
    void Insert(int index, const std::string& item);
    void Delete(int index);
    void Clear();
    int IndexOf(const std::string& item) const;

private:
    friend class TComboBox;
    TComboBox& box_;
    std::vector<std::string> items_;
};

class TComboBox : public TWinControl {
public:
    explicit TComboBox(TComponent* owner);

    TComboItems& Items() { return items_; }
    TComboBoxStyle Style() const { return style_; }
    void SetStyle(TComboBoxStyle style);
    int ItemIndex() const;
    // From code: no OnChange, as in the toolkit.
    void SetItemIndex(int index);
    std::string Text() const override;
    void SetBounds(int left, int top, int width, int height) override;
    int DropDownCount = 8;

    TNotifyEvent OnChange;

protected:
    void CreateParams(TCreateParams& params) override;
    void CreateWnd() override;
    void CommandNotify(WORD code) override;

private:
    friend class TComboItems;
    TComboItems items_;
    TComboBoxStyle style_ = csDropDownList;
    int itemIndex_ = -1;
};

class TButtonControl : public TWinControl {
public:
    explicit TButtonControl(TComponent* owner);
    bool Checked() const { return checked_; }

protected:
    void CreateParams(TCreateParams& params) override;
    void CreateWnd() override;
    // Stores the state and shows it; false when it was so already.
    bool StoreChecked(bool checked);

    bool checked_ = false;
};

class TCheckBox : public TButtonControl {
public:
    explicit TCheckBox(TComponent* owner);
    // A change fires OnClick, also from code, as in the toolkit.
    void SetChecked(bool checked);

protected:
    void CreateParams(TCreateParams& params) override;
    void CommandNotify(WORD code) override;
};

// Radio buttons with the same parent form one group: checking one unchecks the others.
class TRadioButton : public TButtonControl {
public:
    explicit TRadioButton(TComponent* owner);
    // Checking fires OnClick, also from code.
    void SetChecked(bool checked);

protected:
    void CreateParams(TCreateParams& params) override;
    void CommandNotify(WORD code) override;
};

class TButton : public TButtonControl {
public:
    explicit TButton(TComponent* owner);
    int ModalResult = 0;  // given to the form when clicked
    bool Default() const { return default_; }
    void SetDefault(bool value);
    bool Cancel() const { return cancel_; }
    void SetCancel(bool value);  // Escape clicks it
    void Click() override;

protected:
    void CreateParams(TCreateParams& params) override;
    void CommandNotify(WORD code) override;

private:
    bool default_ = false;
    bool cancel_ = false;
};

class TGroupBox : public TWinControl {
public:
    explicit TGroupBox(TComponent* owner);
    void WndProc(TMessage& message) override;

protected:
    void CreateParams(TCreateParams& params) override;
};
