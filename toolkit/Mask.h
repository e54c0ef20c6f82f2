// Masked edit boxes. An edit mask "MASK;SAVE;BLANK": MASK has one position per character
// ('9' optional digit, '0' digit, '#' digit or sign, 'L'/'l' letter, 'A'/'a' letter or
// digit, 'C'/'c' any character, '\' makes the next one literal, '!', '>' and '<' take no
// position, every other character is a literal); SAVE "1" keeps the literals in the text;
// BLANK is what an empty position shows ('_' when not given).
#pragma once

#include "StdCtrls.h"

#include <string>
#include <vector>

class TMaskLayout {
public:
    TMaskLayout() = default;
    explicit TMaskLayout(const std::string& editMask);

    bool Empty() const { return positions_.empty(); }
    int Length() const { return static_cast<int>(positions_.size()); }
    bool IsSlot(int position) const;
    bool Accepts(int position, char c) const;
    char LiteralAt(int position) const { return positions_.at(position).Literal; }
    char Blank() const { return blank_; }
    bool SaveLiterals() const { return saveLiterals_; }

    // What the box shows for `text`: its characters in the slots left to right, a
    // character equal to the next literal jumping to it, blanks where nothing goes.
    std::string Format(const std::string& text) const;
    // The text of what the box shows: blanks dropped, literals kept when saved.
    std::string Read(const std::string& shown) const;
    // The first position at or after `from` that takes a character, or Length().
    int NextSlot(int from) const;
    int PreviousSlot(int before) const;

private:
    struct TPosition {
        char Slot;     // the mask character, 0 for a literal
        char Literal;  // the literal shown
    };
    std::vector<TPosition> positions_;
    char blank_ = '_';
    bool saveLiterals_ = true;
};

class TCustomMaskEdit : public TCustomEdit {
public:
    explicit TCustomMaskEdit(TComponent* owner);

    const std::string& EditMask() const { return editMask_; }
    // Applies a new mask to what the box holds.
    void SetEditMask(const std::string& mask);
    bool IsMasked() const { return !layout_.Empty(); }
    // The text with blanks dropped (literals kept when the mask saves them).
    std::string Text() const override;
    void SetText(const std::string& text) override;
    // What the box shows, blanks included.
    std::string EditText() const { return TCustomEdit::Text(); }

    void WndProc(TMessage& message) override;

protected:
    void CreateWnd() override;

private:
    void Type(char c);
    void Backspace();
    void ClearRange(int start, int end);
    void Show(const std::string& shown, int caret);

    std::string editMask_;
    TMaskLayout layout_;
};

class TMaskEdit : public TCustomMaskEdit {
public:
    using TCustomMaskEdit::TCustomMaskEdit;
};
