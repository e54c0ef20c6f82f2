// Numeric text rules shared by the numeric edit box and the main window.
#pragma once

#include <string>

// `s` with every `c` deleted.
std::string RemoveChar(char c, const std::string& s);
// "." when `s` holds a '.', else "," when it holds a ',', else "".
std::string FindDecimalPoint(const std::string& s);
// The first `oldText` replaced by `newText`; `s` as it is when `oldText` is empty or absent.
std::string ReplaceFirst(const std::string& s, const std::string& oldText, const std::string& newText);
// `s` without `c` and with its first decimal point the locale's: the text TextToFloat reads.
std::string LocaleNumber(const std::string& s, char c);
// The longest number text a field can hold. The widest edit mask has 7 places and
// FloatToStr writes at most 22 characters ("-1.23456789012345E-100"), so 32 leaves room
// for leading zeros and blanks typed or saved by hand, and refuses a line that is no field.
const size_t MaxNumberLength = 32;
// Converts LocaleNumber(s, c); raises EConvertError for text that is no number or is longer
// than MaxNumberLength.
double TextToFloat(const std::string& s, char c);
// The decimals of an edit mask: the characters between the locale's decimal separator and
// the first ';' (or the end); 0 without a separator.
int MaskDecimals(const std::string& mask);
