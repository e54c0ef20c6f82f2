// A test as the main window keeps it: the shown text of each field, the encoded fields of
// the PGM line, and the 14 grid rows. No window here; the form binds its controls to it.
#pragma once

#include "KDGlob.h"

#include <array>
#include <string>

enum TNumField { nfTarget, nfTrigger, nfSpeed, nfHold, nfRecovery, nfCycles };
const int NumFieldCount = 6;

// The name rule, for a name typed or loaded.
enum TNameCheck {
    ncValid,
    ncEmpty,         // nothing but blanks: there is no name to send
    ncHoldsEmpty,    // "empty" in any case, the instrument's word for a free slot
    ncControlChars,  // below 0x20 or 0x7F: they would cut or corrupt the TXTNAME command
};
TNameCheck CheckName(const std::string& name);
inline bool NameRefused(TNameCheck check) { return check == ncHoldsEmpty || check == ncControlChars; }

// What the field's edit box gets from UpdateMasks.
struct TFieldRange {
    std::string Mask;  // with the locale's decimal separator
    double Minimum;
    double Maximum;
    double DefVal;
};

class TTestModel {
public:
    // The start-up state: every field at its default and encoded, so that the PGM line says
    // what the edits show.
    explicit TTestModel(int loadCell = 0);

    int LoadCell() const { return loadCell_; }
    // loadcell_cbChange: the masks change and reset the fields they reach to their
    // defaults; then every field is checked against its new range and encoded again.
    void SetLoadCell(int index);

    TFieldRange Range(TNumField field) const;
    int Decimals(TNumField field) const;
    const std::string& Text(TNumField field) const { return texts_[field]; }

    // The field's encoder, given the text its edit holds; returns the text the edit shows
    // afterwards. A value outside the field's range is clamped first. Raises EConvertError
    // for text that does not encode, and then leaves the test as it was.
    const std::string& Encode(TNumField field, const std::string& text);
    // A value from a test file, encoded as its edit box would take it once set into it:
    // the box shows what fits its mask (decimals beyond its last place fall away), then
    // the exit check and the encoder run. Raises EConvertError for text that is no number
    // or longer than any field (MaxNumberLength), and for one the box would show as
    // another number (a sign, a point or more whole digits than it has places for).
    const std::string& EncodeLoaded(TNumField field, const std::string& text);

    int ReturnSpeed() const { return returnSpeed_; }
    void SetReturnSpeed(int index);
    bool Retrigger() const { return retrigger_; }
    void SetRetrigger(bool checked);

    // A row of ModeTable; TPA also sets the return speed to "Test Speed".
    int Mode() const { return mode_; }
    void SetMode(int mode);
    const char* ModeCode() const { return ModeTable[mode_].Code; }
    // The test-type box index each mode sets: the mode number, -1 beyond the box's items.
    int TestTypeIndex() const { return mode_ < 3 ? mode_ : -1; }
    // The target-type box offers "Load" (0) and "Distance" (1); the form always chooses
    // Distance. A change puts the target through the masks again.
    int TargetType() const { return targetType_; }
    void SetTargetType(int type);

    int Slot() const { return slot_; }
    void SetSlot(int slot);

    const std::string& Name() const { return name_; }
    // Edit1Change: the name cut to 8 characters and checked; one holding "empty" or a
    // control character is refused and the name cleared.
    TNameCheck SetName(const std::string& name);
    // No name to send: nothing but blanks.
    bool NameIsEmpty() const { return CheckName(name_) == ncEmpty; }

    // UpdatePGM: "PGM" and the encoded fields, 25 characters.
    std::string PGM() const;
    std::string GridValue(int row) const;
    std::array<std::string, GridRowCount> Grid() const;

    // The test a file's grid rows describe, each value taking effect as if entered in its
    // control: numbers as their box shows them (EncodeLoaded), the mode comes last (TPA
    // then resets the return speed), the name is cut to 8 characters and the target type
    // is Distance whatever the row says. Raises EConvertError for a value that cannot be
    // the test's (an unreadable number, a load cell, mode, slot, return speed or
    // re-trigger flag beyond its choices, a name holding "empty" or a control character).
    static TTestModel FromGrid(const std::array<std::string, GridRowCount>& rows);

private:
    void ResetMaskedFields();
    void EncodeAll();

    int loadCell_ = 0;
    int mode_ = 0;
    int slot_ = 0;
    int returnSpeed_ = 0;
    int targetType_ = 1;
    double targetDefVal_ = 0.1;
    bool retrigger_ = true;
    std::string name_;
    std::array<std::string, NumFieldCount> texts_;
    std::array<std::string, NumFieldCount> codes_;
};
