#include "SysUtils.h"

#include <windows.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>

char DecimalSeparator = '.';
char ThousandSeparator = ',';
char TimeSeparator = ':';
char DateSeparator = '/';

namespace {

char LocaleChar(LCTYPE type, char fallback)
{
    char buffer[8] = {};
    if (GetLocaleInfoA(GetThreadLocale(), type, buffer, sizeof buffer) > 0 && buffer[0]) return buffer[0];
    return fallback;
}

const bool formatSettingsRead = [] {
    DecimalSeparator = LocaleChar(LOCALE_SDECIMAL, '.');
    ThousandSeparator = LocaleChar(LOCALE_STHOUSAND, ',');
    TimeSeparator = LocaleChar(LOCALE_STIME, ':');
    DateSeparator = LocaleChar(LOCALE_SDATE, '/');
    return true;
}();

// A value as decimal digits: value = 0.DIGITS x 10^point. The digits are those of its
// 18-digit form, the precision the toolkit's conversions work from.
struct TDecimal {
    bool negative = false;
    std::string digits;  // no trailing zeros; empty for zero
    int point = 0;
};

TDecimal ToDecimal(double value)
{
    TDecimal d;
    d.negative = std::signbit(value);
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.17e", std::fabs(value));
    for (const char* p = buffer; *p && *p != 'e'; ++p)
        if (std::isdigit(static_cast<unsigned char>(*p))) d.digits += *p;
    const char* e = std::strchr(buffer, 'e');
    d.point = (e ? std::atoi(e + 1) : 0) + 1;
    while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
    if (d.digits.empty()) d.point = 0;
    return d;
}

// Keeps `keep` significant digits, rounding half away from zero.
void RoundDigits(TDecimal& d, int keep)
{
    if (keep >= static_cast<int>(d.digits.size())) return;
    if (keep < 0) {
        d.digits.clear();
    } else {
        const bool up = d.digits[keep] >= '5';
        d.digits.resize(keep);
        if (up) {
            int i = keep - 1;
            while (i >= 0 && d.digits[i] == '9') d.digits[i--] = '0';
            if (i >= 0) {
                ++d.digits[i];
            } else {
                d.digits.insert(d.digits.begin(), '1');
                ++d.point;
            }
        }
    }
    while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
    if (d.digits.empty()) {
        d.point = 0;
        d.negative = false;
    }
}

std::string Special(double value)
{
    if (std::isnan(value)) return "NAN";
    return value < 0 ? "-INF" : "INF";
}

std::string GeneralText(TDecimal d, int precision)
{
    RoundDigits(d, precision);
    if (d.digits.empty()) return "0";
    std::string s = d.negative ? "-" : "";
    if (d.point > precision || d.point < -3) {
        s += d.digits[0];
        if (d.digits.size() > 1) s += DecimalSeparator + d.digits.substr(1);
        const int exponent = d.point - 1;
        s += 'E';
        if (exponent < 0) s += '-';
        s += std::to_string(std::abs(exponent));
        return s;
    }
    if (d.point <= 0) return s + '0' + DecimalSeparator + std::string(-d.point, '0') + d.digits;
    if (static_cast<int>(d.digits.size()) <= d.point) return s + d.digits + std::string(d.point - d.digits.size(), '0');
    return s + d.digits.substr(0, d.point) + DecimalSeparator + d.digits.substr(d.point);
}

bool ParseInt(const std::string& s, int& value)
{
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    int base = 10;
    if (i < s.size() && s[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= s.size()) return false;
    uint64_t magnitude = 0;
    for (; i < s.size(); ++i) {
        const unsigned char c = s[i];
        int digit;
        if (std::isdigit(c)) digit = c - '0';
        else if (base == 16 && std::isxdigit(c)) digit = std::toupper(c) - 'A' + 10;
        else return false;
        magnitude = magnitude * base + digit;
        if (magnitude > 0xFFFFFFFFull) return false;
    }
    if (base == 10) {
        if (negative ? magnitude > 0x80000000ull : magnitude > 0x7FFFFFFFull) return false;
        value = negative ? static_cast<int>(-static_cast<int64_t>(magnitude)) : static_cast<int>(magnitude);
    } else {
        // Hex takes the full 32 bits, as the toolkit's reader does ("$FFFFFFFF" is -1).
        const auto bits = static_cast<uint32_t>(magnitude);
        value = static_cast<int>(negative ? 0u - bits : bits);
    }
    return true;
}

}  // namespace

int64_t Round(double value)
{
    return static_cast<int64_t>(std::nearbyint(value));
}

int64_t Trunc(double value)
{
    return static_cast<int64_t>(std::trunc(value));
}

std::string IntToStr(int64_t value)
{
    return std::to_string(value);
}

std::string IntToHex(int32_t value, int digits)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*lX", digits < 0 ? 0 : (digits > 8 ? 8 : digits),
                  static_cast<unsigned long>(static_cast<uint32_t>(value)));
    return buffer;
}

std::string IntToHex(int64_t value, int digits)
{
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%0*llX", digits < 0 ? 0 : (digits > 16 ? 16 : digits),
                  static_cast<unsigned long long>(value));
    return buffer;
}

bool TryStrToInt(const std::string& s, int& value)
{
    return ParseInt(s, value);
}

int StrToInt(const std::string& s)
{
    int value;
    if (!ParseInt(s, value)) throw EConvertError("'" + s + "' is not a valid integer value");
    return value;
}

int StrToIntDef(const std::string& s, int def)
{
    int value;
    return ParseInt(s, value) ? value : def;
}

bool TryStrToFloat(const std::string& s, double& value)
{
    // Checked and shortened here: mingw's strtod takes time quadratic in the digits it is
    // given, so it sees at most MaxDigits significant digits and a bounded exponent.
    // A non-zero digit cut off leaves a '1' after them, which keeps the rounding exact:
    // no halfway point between two doubles has more than 767 significant digits.
    const size_t MaxDigits = 800;
    const int64_t ScaleLimit = 100000;  // far beyond where a double overflows or underflows
    const int64_t ExponentLimit = 1000000000000000;  // beyond any count of digits a text can hold
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    std::string digits;    // significant digits: value = 0.digits x 10^point
    int64_t point = 0;
    bool cutNonZero = false;
    size_t mantissaDigits = 0;
    auto take = [&](bool fraction) {
        for (; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i, ++mantissaDigits) {
            const char c = s[i];
            if (digits.empty() && c == '0') {
                if (fraction) --point;
                continue;
            }
            if (!fraction) ++point;
            if (digits.size() < MaxDigits) digits += c;
            else if (c != '0') cutNonZero = true;
        }
    };
    take(false);
    if (i < s.size() && s[i] == DecimalSeparator) {
        ++i;
        take(true);
    }
    if (mantissaDigits == 0) return false;
    int64_t exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) negativeExponent = s[i++] == '-';
        size_t exponentDigits = 0;
        for (; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i, ++exponentDigits)
            exponent = std::min(exponent * 10 + (s[i] - '0'), ExponentLimit);
        if (exponentDigits == 0) return false;
        if (negativeExponent) exponent = -exponent;
    }
    while (i < s.size() && s[i] == ' ') ++i;
    if (i != s.size()) return false;
    if (digits.empty()) {
        value = negative ? -0.0 : 0.0;
        return true;
    }
    const int64_t scale = std::clamp(point + exponent, -ScaleLimit, ScaleLimit);
    const std::string plain = std::string(negative ? "-" : "") + "0." + digits + (cutNonZero ? "1" : "") + "e" +
                              std::to_string(scale);
    errno = 0;
    const double parsed = std::strtod(plain.c_str(), nullptr);
    if (errno == ERANGE && std::isinf(parsed)) return false;
    value = parsed;
    return true;
}

double StrToFloat(const std::string& s)
{
    double value;
    if (!TryStrToFloat(s, value)) throw EConvertError("'" + s + "' is not a valid floating point value");
    return value;
}

std::string FloatToStr(double value)
{
    return FloatToStrF(value, ffGeneral, 15, 0);
}

std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits)
{
    if (!std::isfinite(value)) return Special(value);
    if (precision < 1) precision = 1;
    if (precision > 18) precision = 18;
    TDecimal d = ToDecimal(value);
    if (format == ffGeneral || d.point > precision) return GeneralText(d, precision);
    if (digits < 0) digits = 0;
    if (digits > 18) digits = 18;
    RoundDigits(d, std::min(precision, d.point + digits));
    std::string s = d.negative ? "-" : "";
    if (d.point <= 0) {
        s += '0';
    } else {
        s += d.digits.substr(0, std::min<size_t>(d.point, d.digits.size()));
        if (static_cast<int>(d.digits.size()) < d.point) s += std::string(d.point - d.digits.size(), '0');
    }
    if (digits > 0) {
        std::string fraction;
        for (int i = 0; i < digits; ++i) {
            const int at = d.point + i;  // index into the digits
            fraction += (at >= 0 && at < static_cast<int>(d.digits.size())) ? d.digits[at] : '0';
        }
        s += DecimalSeparator + fraction;
    }
    return s;
}

std::string Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int size = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string s(size > 0 ? size : 0, '\0');
    if (size > 0) std::vsnprintf(s.data(), size + 1, format, args);
    va_end(args);
    return s;
}

std::string LowerCase(const std::string& s)
{
    std::string r = s;
    for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return r;
}

std::string UpperCase(const std::string& s)
{
    std::string r = s;
    for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

std::string Trim(const std::string& s)
{
    size_t begin = 0, end = s.size();
    while (begin < end && static_cast<unsigned char>(s[begin]) <= ' ') ++begin;
    while (end > begin && static_cast<unsigned char>(s[end - 1]) <= ' ') --end;
    return s.substr(begin, end - begin);
}

std::string Sentence(std::string text)
{
    // Characters up to '.' end a sentence; those beyond it do not.
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
    return text;
}

std::string SysErrorMessage(unsigned long errorCode)
{
    char buffer[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, errorCode, 0,
                                  buffer, sizeof buffer, nullptr);
    while (length > 0 && (static_cast<unsigned char>(buffer[length - 1]) <= ' ' || buffer[length - 1] == '.')) --length;
    return std::string(buffer, length);
}

std::string ExtractFilePath(const std::string& fileName)
{
    const size_t cut = fileName.find_last_of("\\/:");
    return cut == std::string::npos ? "" : fileName.substr(0, cut + 1);
}

std::string ExtractFileName(const std::string& fileName)
{
    return fileName.substr(ExtractFilePath(fileName).size());
}

bool FileExists(const std::string& fileName)
{
    const DWORD a = GetFileAttributesA(fileName.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& folder)
{
    const DWORD a = GetFileAttributesA(folder.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool ForceDirectories(const std::string& folder)
{
    std::string path = folder;
    while (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    if (path.empty() || DirectoryExists(path)) return !path.empty();
    const std::string parent = ExtractFilePath(path);
    // A drive ("C:") or a share root ends the climb.
    if (!parent.empty() && parent != path && parent.back() != ':' && !ForceDirectories(parent)) return false;
    return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}
