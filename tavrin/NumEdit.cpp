#include "NumEdit.h"

#include "Dialogs.h"
#include "StrngLib.h"
#include "SysUtils.h"

#include <cmath>
#include <utility>

std::string NumEditFixed(double value, int decimals)
{
    return FloatToStrF(value, ffFixed, 15, decimals);
}

std::string NumEditShown(const std::string& editMask, const std::string& text)
{
    const TMaskLayout layout(editMask);
    return layout.Read(layout.Format(text));
}

namespace {

// The box corrected to `value`, as it then shows it.
TNumExitCheck CorrectedTo(double value, int decimals)
{
    const std::string text = NumEditFixed(value, decimals);
    return {text, TextToFloat(text, ' '), true};
}

}  // namespace

TNumExitCheck NumEditExitCheck(const std::string& text, double minimum, double maximum, double defVal, int decimals)
{
    if (maximum < minimum) std::swap(minimum, maximum);
    std::string plain = RemoveChar(' ', text);
    if (plain == std::string(1, DecimalSeparator)) plain.clear();

    double value = 0;
    try {
        value = TextToFloat(plain, ' ');
    } catch (const EConvertError&) {
        return CorrectedTo(defVal, decimals);
    }
    const double tolerance = std::pow(10.0, -decimals) / 2;
    if (value - maximum > tolerance && value != defVal) return CorrectedTo(maximum, decimals);
    if (minimum - value > tolerance && value != defVal) return CorrectedTo(minimum, decimals);
    return {plain, value, false};
}

std::string NumEditRangeMessage(double minimum, double maximum)
{
    return Format("Invalid entry. Entry must be between %3d and %3d.", static_cast<int>(Trunc(minimum)),
                  static_cast<int>(Trunc(maximum)));
}

namespace {
const char* const FallbackMask = "9999999;1; ";
const double Limit = 9999999.0;
}  // namespace

TNumEdit::TNumEdit(TComponent* owner) : TCustomMaskEdit(owner)
{
    SetMask(FallbackMask);
}

void TNumEdit::SetMask(const std::string& mask)
{
    std::string m = mask.find_first_not_of(" !#,.019;") == std::string::npos ? mask : FallbackMask;
    m = ReplaceFirst(m, FindDecimalPoint(m), std::string(1, DecimalSeparator));
    decimals_ = MaskDecimals(m);
    SetEditMask(m);
    SetText(NumEditFixed(defVal_, decimals_));
}

void TNumEdit::SetMaximum(double value)
{
    maximum_ = value > Limit ? Limit : value;
}

void TNumEdit::SetMinimum(double value)
{
    minimum_ = value < -Limit ? -Limit : value;
}

void TNumEdit::SetDefVal(double value)
{
    defVal_ = value;
    SetText(NumEditFixed(value, decimals_));
}

void TNumEdit::ShowAt(int left, int top, int width, int height)
{
    SetBounds(left, top, width, height);
    SetEnabled(true);
    SetVisible(true);
    SetFocus();
}

void TNumEdit::DoExit()
{
    if (maximum_ < minimum_) std::swap(maximum_, minimum_);
    const TNumExitCheck check = NumEditExitCheck(Text(), minimum_, maximum_, defVal_, decimals_);
    exitCorrected_ = check.Corrected && !Quiet();
    if (exitCorrected_) {
        const std::string before = Text();
        SetText(check.Text);
        if (Text() == before) Change();  // the change event fires even when the text stays
        PostFocusBack();
        if (ShowMsg) MessageDlg(NumEditRangeMessage(minimum_, maximum_), mtWarning, mbOK);
    }
    TCustomMaskEdit::DoExit();
}
