#include "NumEdit.h"

#include "StrngLib.h"
#include "SysUtils.h"

#include <cmath>
#include <utility>

std::string NumEditFixed(double value, int decimals)
{
    return FloatToStrF(value, ffFixed, 15, decimals);
}

TNumExitCheck NumEditExitCheck(const std::string& text, double minimum, double maximum, double defVal, int decimals)
{
    if (maximum < minimum) std::swap(minimum, maximum);
    std::string plain = RemoveChar(' ', text);
    if (plain == std::string(1, DecimalSeparator)) plain.clear();

    double value = 0;
    bool readable = true;
    try {
        value = TextToFloat(plain, ' ');
    } catch (const EConvertError&) {
        readable = false;
    }
    const double tolerance = std::pow(10.0, -decimals) / 2;
    if (!readable) return {NumEditFixed(defVal, decimals), true};
    if (value - maximum > tolerance && value != defVal) return {NumEditFixed(maximum, decimals), true};
    if (minimum - value > tolerance && value != defVal) return {NumEditFixed(minimum, decimals), true};
    return {plain, false};
}

std::string NumEditRangeMessage(double minimum, double maximum)
{
    return Format("Invalid entry. Entry must be between %3d and %3d.", static_cast<int>(Trunc(minimum)),
                  static_cast<int>(Trunc(maximum)));
}
