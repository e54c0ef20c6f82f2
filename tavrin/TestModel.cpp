#include "TestModel.h"

#include "NumEdit.h"
#include "StrngLib.h"
#include "SysUtils.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <utility>

namespace {

// The widest value each integer field can encode in its place of the PGM line.
struct TCodeRange {
    int Minimum;
    int Maximum;
};
const TCodeRange HoldCodes{0, 4095};
const TCodeRange CycleCodes{1, 99};

std::string LocaleMask(const std::string& mask)
{
    return ReplaceFirst(mask, FindDecimalPoint(mask), std::string(1, DecimalSeparator));
}

double TargetStep(int targetType, const LoadInfoRec& cell)
{
    return targetType == 0 ? cell.LoadStep : 0.01;
}

// Steps 2-4 of the step encoders: the value snapped to the step, and its count of steps.
struct TStepped {
    std::string Text;
    int Count;
};
TStepped Snap(double value, double step)
{
    const int64_t n = Round(value / step);
    const std::string shown = FloatToStr(step * static_cast<double>(n));
    // Through text, so that a quotient that is not whole to 15 digits raises.
    const int count = StrToInt(FloatToStr(TextToFloat(shown, ' ') / step));
    return {shown, count};
}

int IntegerField(const TNumExitCheck& checked, TCodeRange range)
{
    if (checked.Value != std::trunc(checked.Value))
        throw EConvertError("'" + checked.Text + "' is not a valid integer value");
    return static_cast<int>(std::clamp(checked.Value, static_cast<double>(range.Minimum),
                                       static_cast<double>(range.Maximum)));
}

// The box shows the number the text says, perhaps with fewer decimals: the mask left out
// no sign, point or digit before its last decimal place. Both in the locale's notation.
bool ShowsTheSameNumber(std::string text, std::string shown)
{
    for (std::string* s : {&text, &shown})
        if (!s->empty() && s->back() == DecimalSeparator) s->pop_back();
    if (text.compare(0, shown.size(), shown) != 0) return false;
    const std::string rest = text.substr(shown.size());
    return rest.empty() ||
           (shown.find(DecimalSeparator) != std::string::npos && rest.find_first_not_of("0123456789") == std::string::npos);
}

}  // namespace

TTestModel::TTestModel(int loadCell)
{
    loadCell_ = std::clamp(loadCell, 0, LoadCellCount - 1);
    texts_[nfRecovery] = NumEditFixed(Range(nfRecovery).DefVal, Decimals(nfRecovery));
    ResetMaskedFields();
    EncodeAll();
}

TFieldRange TTestModel::Range(TNumField field) const
{
    const LoadInfoRec& cell = LoadCellTable[loadCell_];
    switch (field) {
    case nfTarget:
        if (targetType_ == 0) return {LocaleMask(cell.LoadMask), cell.LoadMin, cell.LoadMax, targetDefVal_};
        if (targetType_ == 2) return {LocaleMask("999.9;1;"), 0, 100.0, targetDefVal_};
        return {LocaleMask("999.9;1;"), 0.1, 101.6, 0.1};
    case nfTrigger:
        return {LocaleMask(cell.TriggerMask), cell.TriggerMin, cell.TriggerMax, 0};
    case nfSpeed:
        return {LocaleMask("99.99;1;"), 0.01, 10.0, 0.01};
    case nfCycles:
        return {"99;1;", 1, 99, 1};
    case nfHold:
        return {"9999;1", 0, 4095, 0};
    case nfRecovery:
        return {"9999;1; ", -9999999, 4095, 0};
    }
    return {};
}

int TTestModel::Decimals(TNumField field) const
{
    return MaskDecimals(Range(field).Mask);
}

void TTestModel::ResetMaskedFields()
{
    // A new mask puts its edit back to the default value; the recovery edit keeps its own.
    for (TNumField f : {nfTarget, nfTrigger, nfSpeed, nfCycles, nfHold})
        texts_[f] = NumEditFixed(Range(f).DefVal, Decimals(f));
}

void TTestModel::EncodeAll()
{
    for (int f = 0; f < NumFieldCount; ++f) Encode(static_cast<TNumField>(f), texts_[f]);
}

void TTestModel::SetLoadCell(int index)
{
    if (index < 0 || index >= LoadCellCount) return;
    loadCell_ = index;
    ResetMaskedFields();
    EncodeAll();
}

const std::string& TTestModel::Encode(TNumField field, const std::string& text)
{
    const TFieldRange range = Range(field);
    const TNumExitCheck checked =
        NumEditExitCheck(text, range.Minimum, range.Maximum, range.DefVal, MaskDecimals(range.Mask));
    std::string shown, code;
    switch (field) {
    case nfTarget: {
        const TStepped s = Snap(checked.Value, TargetStep(TargetType(), LoadCellTable[loadCell_]));
        const std::string hex = IntToHex(static_cast<int32_t>(s.Count), 4);
        shown = s.Text;
        code = hex.substr(hex.size() - 4);  // a negative load target keeps its 16-bit two's complement
        break;
    }
    case nfTrigger: {
        const TStepped s = Snap(checked.Value, LoadCellTable[loadCell_].TriggerStep);
        shown = s.Text;
        code = IntToHex(static_cast<int32_t>(s.Count), 4);
        break;
    }
    case nfSpeed: {
        const double v = checked.Value * 10;
        int speedCode;
        if (v >= 1) {
            const int64_t n = Round(v);
            shown = FloatToStr(static_cast<double>(n) / 10);
            speedCode = StrToInt(FloatToStr(static_cast<double>(n + 9)));
        } else {
            // As typed, but in the locale's notation, as the edit would hold it.
            shown = LocaleNumber(checked.Text, ' ');
            speedCode = StrToInt(FloatToStr(v * 10));
        }
        code = IntToHex(static_cast<int32_t>(speedCode), 2);
        break;
    }
    case nfHold:
    case nfRecovery: {
        const int seconds = IntegerField(checked, HoldCodes);
        shown = IntToStr(seconds);
        code = IntToHex(static_cast<int32_t>(seconds), 3);
        break;
    }
    case nfCycles: {
        const int cycles = IntegerField(checked, CycleCodes);
        shown = IntToStr(cycles);
        code = IntToHex(static_cast<int32_t>(cycles), 2);
        break;
    }
    }
    texts_[field] = shown;
    codes_[field] = code;
    return texts_[field];
}

const std::string& TTestModel::EncodeLoaded(TNumField field, const std::string& text)
{
    TextToFloat(text, ' ');  // raises for text that is no number, or too long to be one
    // In the locale's notation first: a file saved under the other separator reads alike.
    const std::string local = LocaleNumber(text, ' ');
    const std::string shown = NumEditShown(Range(field).Mask, local);
    if (!ShowsTheSameNumber(local, shown))
        throw EConvertError("'" + local + "' is not a number its box can show");
    return Encode(field, shown);
}

void TTestModel::SetTargetType(int type)
{
    if (type < 0 || type > 2) return;
    targetType_ = type;
    if (type == 1) targetDefVal_ = 0.1;  // the other types keep the default they had
    ResetMaskedFields();
    EncodeAll();
}

void TTestModel::SetReturnSpeed(int index)
{
    returnSpeed_ = std::clamp(index, 0, 1);
}

void TTestModel::SetRetrigger(bool checked)
{
    retrigger_ = checked;
}

void TTestModel::SetMode(int mode)
{
    if (mode < 0 || mode >= ModeCount) return;
    mode_ = mode;
    if (mode_ == 3) SetReturnSpeed(0);
}

void TTestModel::SetSlot(int slot)
{
    if (slot >= 0 && slot < SlotCount) slot_ = slot;
}

TNameCheck CheckName(const std::string& name)
{
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return ncControlChars;
    if (LowerCase(name).find("empty") != std::string::npos) return ncHoldsEmpty;
    if (name.find_first_not_of(' ') == std::string::npos) return ncEmpty;
    return ncValid;
}

TNameCheck TTestModel::SetName(const std::string& name)
{
    const std::string cut = name.substr(0, NameLength);
    const TNameCheck check = CheckName(cut);
    if (NameRefused(check)) name_.clear();
    else name_ = cut;
    return check;
}

std::string TTestModel::PGM() const
{
    return "PGM1" + codes_[nfTrigger] + codes_[nfSpeed] + IntToStr(TargetType()) + codes_[nfTarget] +
           codes_[nfHold] + codes_[nfRecovery] + IntToStr(returnSpeed_) + codes_[nfCycles] + (retrigger_ ? "0" : "1");
}

std::string TTestModel::GridValue(int row) const
{
    switch (row) {
    case 0: return IntToStr(TestTypeIndex());
    case 1: return IntToStr(TargetType());
    case 2: return texts_[nfTarget];
    case 3: return texts_[nfHold];
    case 4: return texts_[nfTrigger];
    case 5: return texts_[nfSpeed];
    case 6: return IntToStr(returnSpeed_);
    case 7: return texts_[nfCycles];
    case 8: return texts_[nfRecovery];
    case 9: return retrigger_ ? "0" : "1";
    case 10: return IntToStr(loadCell_);
    case 11: return ModeCode();
    case 12: return IntToStr(slot_);
    case 13: return name_;
    }
    return "";
}

std::array<std::string, GridRowCount> TTestModel::Grid() const
{
    std::array<std::string, GridRowCount> rows;
    for (int i = 0; i < GridRowCount; ++i) rows[i] = GridValue(i);
    return rows;
}

namespace {

int Choice(const std::string& text, int count, const char* what)
{
    int value = 0;
    if (!TryStrToInt(Trim(text), value) || value < 0 || value >= count)
        throw EConvertError("'" + text + "' is not a valid " + what);
    return value;
}

}  // namespace

TTestModel TTestModel::FromGrid(const std::array<std::string, GridRowCount>& rows)
{
    TTestModel test(Choice(rows[10], LoadCellCount, "load cell"));
    test.SetTargetType(1);
    const std::string& mode = rows[11];
    if (mode.size() != 2 || !std::isdigit(static_cast<unsigned char>(mode[0])) || !std::isdigit(static_cast<unsigned char>(mode[1])))
        throw EConvertError("'" + mode + "' is not a valid test mode");
    const int modeIndex = Choice(mode, ModeCount, "test mode");
    const std::pair<TNumField, int> numbers[] = {{nfTarget, 2}, {nfHold, 3}, {nfTrigger, 4},
                                                 {nfSpeed, 5},  {nfCycles, 7}, {nfRecovery, 8}};
    for (const auto& [field, row] : numbers) test.EncodeLoaded(field, rows[row]);
    test.SetReturnSpeed(Choice(rows[6], 2, "return speed"));
    const int flag = Choice(rows[9], 2, "re-trigger flag");
    test.SetRetrigger(flag == 0);
    test.SetSlot(Choice(rows[12], SlotCount, "test number"));
    if (NameRefused(test.SetName(rows[13]))) throw EConvertError("not a valid test name");
    test.SetMode(modeIndex);
    return test;
}
