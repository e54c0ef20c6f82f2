// Numeric text rules shared by the numeric edit box and the main window.
#pragma once

#include <string>

// `s` with every `c` deleted.
std::string RemoveChar(char c, const std::string& s);
// "." when `s` holds a '.', else "," when it holds a ',', else "".
std::string FindDecimalPoint(const std::string& s);
// The first `oldText` replaced by `newText`; `s` as it is when `oldText` is empty or absent.
std::string ReplaceFirst(const std::string& s, const std::string& oldText, const std::string& newText);
// Removes `c`, turns the first decimal point into the locale's separator and converts;
// raises EConvertError for text that is no number.
double TextToFloat(const std::string& s, char c);
// The decimals of an edit mask: the characters between the locale's decimal separator and
// the first ';' (or the end); 0 without a separator.
int MaskDecimals(const std::string& mask);
