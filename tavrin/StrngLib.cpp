#include "StrngLib.h"

#include "SysUtils.h"

std::string RemoveChar(char c, const std::string& s)
{
    std::string r;
    r.reserve(s.size());
    for (char ch : s)
        if (ch != c) r += ch;
    return r;
}

std::string FindDecimalPoint(const std::string& s)
{
    if (s.find('.') != std::string::npos) return ".";
    if (s.find(',') != std::string::npos) return ",";
    return "";
}

std::string ReplaceFirst(const std::string& s, const std::string& oldText, const std::string& newText)
{
    if (oldText.empty()) return s;
    const size_t at = s.find(oldText);
    if (at == std::string::npos) return s;
    std::string r = s;
    r.replace(at, oldText.size(), newText);
    return r;
}

std::string LocaleNumber(const std::string& s, char c)
{
    const std::string text = RemoveChar(c, s);
    return ReplaceFirst(text, FindDecimalPoint(text), std::string(1, DecimalSeparator));
}

double TextToFloat(const std::string& s, char c)
{
    const std::string text = LocaleNumber(s, c);
    if (text.size() > MaxNumberLength)
        throw EConvertError("'" + text.substr(0, MaxNumberLength) + "...' is not a valid floating point value");
    return StrToFloat(text);
}

int MaskDecimals(const std::string& mask)
{
    const size_t separator = mask.find(DecimalSeparator);
    if (separator == std::string::npos) return 0;
    const size_t end = mask.find(';', separator + 1);
    return static_cast<int>((end == std::string::npos ? mask.size() : end) - separator - 1);
}
