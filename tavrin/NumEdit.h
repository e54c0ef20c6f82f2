// The numeric edit box's rules. The exit check is a pure function, so that the test model
// applies the same clamping to values that never passed through an edit box.
#pragma once

#include <string>

struct TNumExitCheck {
    std::string Text;  // the text the box holds after the check
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
