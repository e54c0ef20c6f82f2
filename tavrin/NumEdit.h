// The numeric edit box's rules. The exit check is a pure function, so that the test model
// applies the same clamping to values that never passed through an edit box.
#pragma once

#include "Mask.h"

#include <string>

struct TNumExitCheck {
    std::string Text;  // the text the box holds after the check
    double Value;      // the number Text reads as, for the encoder
    bool Corrected;    // the box must take the focus back, fire OnChange and maybe warn
};

// The check run when focus leaves the box: a value beyond the range by more than half the
// last decimal becomes the bound, unless it equals `defVal`; unreadable text becomes `defVal`.
// The bounds are swapped when given the wrong way round.
TNumExitCheck NumEditExitCheck(const std::string& text, double minimum, double maximum, double defVal, int decimals);

// "Invalid entry. Entry must be between %3d and %3d." with the bounds truncated.
std::string NumEditRangeMessage(double minimum, double maximum);

// A value in fixed notation with the mask's decimals and the locale's separator.
std::string NumEditFixed(double value, int decimals);

// The text a box with this edit mask holds once `text` is set into it: what fits its
// places, as TCustomMaskEdit lays it out and reads it back.
std::string NumEditShown(const std::string& editMask, const std::string& text);

// The edit box of every numeric test field: a mask, a range and a default value. Leaving
// it corrects an entry that is out of range or unreadable before the form's OnExit runs.
class TNumEdit : public TCustomMaskEdit {
public:
    explicit TNumEdit(TComponent* owner);

    const std::string& Mask() const { return EditMask(); }
    // A mask with characters outside " !#,.019;" becomes "9999999;1; "; its decimal point
    // becomes the locale's; the box shows DefVal again.
    void SetMask(const std::string& mask);
    double Maximum() const { return maximum_; }
    void SetMaximum(double value);  // at most 9999999
    double Minimum() const { return minimum_; }
    void SetMinimum(double value);  // at least -9999999
    double DefVal() const { return defVal_; }
    void SetDefVal(double value);
    bool ShowMsg = false;
    int Decimals() const { return decimals_; }

    // Places, enables, shows and focuses the box.
    virtual void ShowAt(int left, int top, int width, int height);

    void DoExit() override;
    // The last exit check corrected the entry, so the box takes the focus back: a caller
    // that moved the focus off the box to act on its value must not act.
    bool ExitCorrected() const { return exitCorrected_; }

private:
    double maximum_ = 9999999.0;
    double minimum_ = -9999999.0;
    double defVal_ = 0;
    int decimals_ = 0;
    bool exitCorrected_ = false;
};
