#include "KDGlob.h"
#include "SysUtils.h"
#include "TestModel.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

// Where each encoded field stands in the PGM line (from 1) and how wide it is.
struct TPlace {
    int from, width;
};
TPlace PlaceOf(TNumField field)
{
    switch (field) {
    case nfTrigger: return {5, 4};
    case nfSpeed: return {9, 2};
    case nfTarget: return {12, 4};
    case nfHold: return {16, 3};
    case nfRecovery: return {19, 3};
    case nfCycles: return {23, 2};
    }
    return {0, 0};
}

std::string CodeOf(const TTestModel& test, TNumField field)
{
    const TPlace p = PlaceOf(field);
    return test.PGM().substr(p.from - 1, p.width);
}

std::string Dotted(std::string text)
{
    for (char& c : text)
        if (c == DecimalSeparator) c = '.';
    return text;
}

TEST(TestModel, TheRunUsesTheLocaleItWasStartedFor)
{
    if (const char expected = ExpectedDecimalSeparator()) {
        EXPECT_EQ(DecimalSeparator, expected);
    }
}

struct EncoderCase {
    const char* name;
    int loadCell;
    int targetType;
    TNumField field;
    const char* input;  // with '.'; each case also runs with the locale's separator
    const char* shown;  // with '.' for the locale's separator
    const char* code;
};

const EncoderCase EncoderCases[] = {
    {"speed 0.25 rounds half to even", 0, 1, nfSpeed, "0.25", "0.2", "0B"},
    {"speed 0.05 below one tenth", 0, 1, nfSpeed, "0.05", "0.05", "05"},
    {"speed 0.01 slowest", 0, 1, nfSpeed, "0.01", "0.01", "01"},
    {"speed 0.1", 0, 1, nfSpeed, "0.1", "0.1", "0A"},
    {"speed 0.35 rounds half to even", 0, 1, nfSpeed, "0.35", "0.4", "0D"},
    {"speed 10 fastest", 0, 1, nfSpeed, "10", "10", "6D"},
    {"trigger 2.5 on 10000g snaps to 2", 4, 1, nfTrigger, "2.5", "2", "0002"},
    {"trigger 3.5 on 10000g snaps to 4", 4, 1, nfTrigger, "3.5", "4", "0004"},
    {"trigger 0 default below the minimum", 0, 1, nfTrigger, "0", "0", "0000"},
    {"trigger 10 top of 100g", 0, 1, nfTrigger, "10", "10", "03E8"},
    {"trigger 5000 top of 50000g", 6, 1, nfTrigger, "5000", "5000", "03E8"},
    {"trigger 0.3 on 1500g snaps to the step", 2, 1, nfTrigger, "0.3", "0.2", "0001"},
    {"target 101.6 longest distance", 0, 1, nfTarget, "101.6", "101.6", "27B0"},
    {"target 0.1 shortest distance", 0, 1, nfTarget, "0.1", "0.1", "000A"},
    {"load target -100 on 100g", 0, 0, nfTarget, "-100", "-100", "D8F0"},
    {"load target 50000 on 50000g", 6, 0, nfTarget, "50000", "50000", "2710"},
    {"hold 4095 widest", 0, 1, nfHold, "4095", "4095", "FFF"},
    {"hold 0", 0, 1, nfHold, "0", "0", "000"},
    {"recovery 300", 0, 1, nfRecovery, "300", "300", "12C"},
    {"cycles 99 most", 0, 1, nfCycles, "99", "99", "63"},
    {"cycles 1 fewest", 0, 1, nfCycles, "1", "1", "01"},
};

TEST(TestModel, EachEncoderSnapsRoundsAndWritesItsHexWidth)
{
    for (const auto& c : EncoderCases) {
        for (const std::string& input : {std::string(c.input), Local(c.input)}) {
            TTestModel test(c.loadCell);
            test.SetTargetType(c.targetType);
            const std::string shown = test.Encode(c.field, input);
            const std::string label = std::string(c.name) + " (" + input + ")";
            EXPECT_EQ(shown, Local(c.shown)) << label;
            EXPECT_EQ(test.Text(c.field), Local(c.shown)) << label;
            EXPECT_EQ(CodeOf(test, c.field), c.code) << label;
            EXPECT_EQ(test.PGM().size(), 25u) << label;
        }
    }
}

TEST(TestModel, StartUpShowsAndEncodesTheDefaults)
{
    TTestModel test;
    // The edits show their defaults and the line says the same: trigger 0, speed 0.01,
    // target 0.1 mm, hold 0, recovery 0, test speed, 1 cycle, re-trigger checked.
    EXPECT_EQ(test.PGM(), "PGM10000011000A0000000010");
    EXPECT_EQ(Dotted(test.Text(nfSpeed)), "0.01");
    EXPECT_EQ(Dotted(test.Text(nfTarget)), "0.1");
    EXPECT_EQ(test.Text(nfCycles), "1");
    EXPECT_EQ(test.Text(nfHold), "0");
    EXPECT_EQ(test.Mode(), 0);
    EXPECT_STREQ(test.ModeCode(), "00");
    EXPECT_TRUE(test.Retrigger());
}

TEST(TestModel, WholeLines)
{
    struct Step {
        TNumField field;
        const char* text;
    };
    const struct {
        const char* name;
        int loadCell;
        std::vector<Step> steps;
        int returnSpeed;
        bool retrigger;
        const char* line;
    } cases[] = {
        {"a hold test on 100g", 0, {{nfTrigger, "5"}, {nfSpeed, "2"}, {nfTarget, "50.5"}, {nfHold, "10"},
                                    {nfRecovery, "20"}, {nfCycles, "5"}}, 1, false,
         "PGM101F41D113BA00A014105" "1"},
        {"fastest and furthest on 50000g", 6, {{nfTrigger, "5000"}, {nfSpeed, "10"}, {nfTarget, "101.6"},
                                               {nfHold, "4095"}, {nfRecovery, "4095"}, {nfCycles, "99"}}, 0, true,
         "PGM103E86D127B0FFFFFF0630"},
        {"slowest on 1000g", 1, {{nfTrigger, "0.1"}, {nfSpeed, "0.01"}}, 0, true, "PGM10001011000A0000000010"},
    };
    for (const auto& c : cases) {
        TTestModel test(c.loadCell);
        for (const Step& s : c.steps) test.Encode(s.field, Local(s.text));
        test.SetReturnSpeed(c.returnSpeed);
        test.SetRetrigger(c.retrigger);
        EXPECT_EQ(test.PGM(), c.line) << c.name;
    }
}

TEST(TestModel, ValuesBeyondTheRangesAreClampedSoTheLineKeepsItsWidth)
{
    const struct {
        const char* name;
        TNumField field;
        const char* input;
        const char* shown;
        const char* code;
    } cases[] = {
        {"hold over 4095", nfHold, "5000", "4095", "FFF"},
        {"hold negative", nfHold, "-1", "0", "000"},
        {"recovery negative", nfRecovery, "-5", "0", "000"},
        {"recovery over 4095", nfRecovery, "70000", "4095", "FFF"},
        {"cycles 0", nfCycles, "0", "1", "01"},
        {"cycles 150", nfCycles, "150", "99", "63"},
        {"trigger far over 10", nfTrigger, "99999", "10", "03E8"},
        {"speed 50", nfSpeed, "50", "10", "6D"},
        {"speed 0", nfSpeed, "0", "0.01", "01"},
        {"target 500", nfTarget, "500", "101.6", "27B0"},
        {"target 0", nfTarget, "0", "0.1", "000A"},
        {"unreadable target", nfTarget, "abc", "0.1", "000A"},
    };
    for (const auto& c : cases) {
        TTestModel test(0);
        EXPECT_EQ(test.Encode(c.field, Local(c.input)), Local(c.shown)) << c.name;
        EXPECT_EQ(CodeOf(test, c.field), c.code) << c.name;
        EXPECT_EQ(test.PGM().size(), 25u) << c.name;
    }
}

TEST(TestModel, TextThatDoesNotEncodeRaisesAndChangesNothing)
{
    TTestModel test(0);
    test.Encode(nfHold, "12");
    const std::string line = test.PGM();
    EXPECT_THROW(test.Encode(nfHold, Local("12.5")), EConvertError);
    EXPECT_EQ(test.PGM(), line);
    EXPECT_EQ(test.Text(nfHold), "12");
}

TEST(TestModel, ALoadCellChangeReEncodesWhatTheEditsShow)
{
    TTestModel test(0);
    test.Encode(nfTrigger, "5");  // 500 steps of 0.01 g
    test.Encode(nfRecovery, "30");
    ASSERT_EQ(CodeOf(test, nfTrigger), "01F4");
    test.SetLoadCell(6);
    // The trigger edit went back to its default; the line must not keep 500 steps of 5 g.
    EXPECT_EQ(test.Text(nfTrigger), "0");
    EXPECT_EQ(CodeOf(test, nfTrigger), "0000");
    EXPECT_EQ(test.GridValue(4), "0");
    EXPECT_EQ(test.GridValue(10), "6");
    EXPECT_EQ(test.Text(nfRecovery), "30");  // its mask never changes
    EXPECT_EQ(CodeOf(test, nfRecovery), "01E");
    EXPECT_EQ(test.Range(nfTrigger).Maximum, 5000);
    EXPECT_EQ(Dotted(test.Range(nfTrigger).Mask), "9999;1;");

    test.Encode(nfTrigger, "2500");
    EXPECT_EQ(CodeOf(test, nfTrigger), "01F4");
    test.SetLoadCell(7);  // no such row: nothing changes
    EXPECT_EQ(test.LoadCell(), 6);
    EXPECT_EQ(CodeOf(test, nfTrigger), "01F4");
}

TEST(TestModel, RangesFollowTheLoadCellTable)
{
    for (int cell = 0; cell < LoadCellCount; ++cell) {
        TTestModel test(cell);
        const TFieldRange trigger = test.Range(nfTrigger);
        EXPECT_EQ(trigger.Minimum, LoadCellTable[cell].TriggerMin);
        EXPECT_EQ(trigger.Maximum, LoadCellTable[cell].TriggerMax);
        EXPECT_EQ(trigger.DefVal, 0);
        test.SetTargetType(0);
        const TFieldRange load = test.Range(nfTarget);
        EXPECT_EQ(load.Minimum, LoadCellTable[cell].LoadMin);
        EXPECT_EQ(load.Maximum, LoadCellTable[cell].LoadMax);
        EXPECT_EQ(Dotted(load.Mask), LoadCellTable[cell].LoadMask);
    }
    EXPECT_STREQ(LoadCellItems[3], "4500g");
    EXPECT_EQ(LoadCellTable[3].Name, "5000g");
    TTestModel test;
    EXPECT_EQ(test.Decimals(nfTarget), 1);
    EXPECT_EQ(test.Decimals(nfSpeed), 2);
    EXPECT_EQ(test.Decimals(nfHold), 0);
}

TEST(TestModel, ModesSetTheirCodeAndTestType)
{
    const struct {
        int mode;
        const char* code;
        int testType;
    } cases[] = {{0, "00", 0}, {1, "01", 1}, {2, "02", 2}, {3, "03", -1}, {4, "04", -1}};
    for (const auto& c : cases) {
        TTestModel test;
        test.SetReturnSpeed(1);
        test.SetMode(c.mode);
        EXPECT_STREQ(test.ModeCode(), c.code) << c.mode;
        EXPECT_EQ(test.TestTypeIndex(), c.testType) << c.mode;
        EXPECT_EQ(test.GridValue(11), c.code) << c.mode;
        EXPECT_EQ(test.ReturnSpeed(), c.mode == 3 ? 0 : 1) << "TPA returns at test speed";
    }
    EXPECT_STREQ(ModeTable[3].Caption, "TPA");
}

TEST(TestModel, TheNameRule)
{
    const struct {
        const char* what;
        std::string name;
        TNameCheck check;
        const char* kept;
    } cases[] = {
        {"a name", "TEST1", ncValid, "TEST1"},
        {"empty in any case", "Empty", ncHoldsEmpty, ""},
        {"empty inside", "myEMPTYx", ncHoldsEmpty, ""},
        {"cut to 8", "123456789", ncValid, "12345678"},
        {"a blank inside", "empt y", ncValid, "empt y"},
        {"nothing", "", ncEmpty, ""},
        {"blanks only", "   ", ncEmpty, "   "},
        {"a tab", "AB\tC", ncControlChars, ""},
        {"a carriage return would end the command", "AB\rPGM", ncControlChars, ""},
        {"a NUL", std::string("A\0B", 3), ncControlChars, ""},
        {"DEL", "A\x7F", ncControlChars, ""},
        {"escape", "\x1B[2J", ncControlChars, ""},
        {"ANSI letters", "\xC9t\xE9\xFF", ncValid, "\xC9t\xE9\xFF"},
        {"a control character cut off", "ABCDEFGH\x01", ncValid, "ABCDEFGH"},
    };
    for (const auto& c : cases) {
        TTestModel test;
        test.SetName("before");
        EXPECT_EQ(test.SetName(c.name), c.check) << c.what;
        EXPECT_EQ(test.Name(), c.kept) << c.what;
        EXPECT_EQ(test.GridValue(13), c.kept) << c.what;
        EXPECT_EQ(test.NameIsEmpty(), c.check != ncValid) << c.what << ": Send asks for a name";
    }
}

// The rows of a test file: the hold test of the window's test files, on 1000g.
std::array<std::string, GridRowCount> Rows(std::initializer_list<std::pair<int, std::string>> changes = {})
{
    std::array<std::string, GridRowCount> rows = {"1", "1", Local("12.5"), "30", Local("5.5"), "2", "0",
                                                   "3", "0", "1", "1", "01", "7", "BREAD"};
    for (const auto& [row, value] : changes) rows[row] = value;
    return rows;
}

// Either separator, as a file written under another locale holds it.
std::string WithSeparator(std::string text, char separator)
{
    for (char& c : text)
        if (c == '.') c = separator;
    return text;
}

// A loaded number takes the path of a typed one: what its box shows (the mask's places,
// so decimals beyond them fall away), the exit check, the encoder. A file the program
// wrote loads as it was saved.
TEST(TestModel, LoadedValuesAreWhatTheirEditShows)
{
    const struct {
        const char* name;
        int loadCell;
        TNumField field;
        int row;
        const char* value;  // with '.'
        const char* shown;  // with '.' for the locale's separator
        const char* code;
    } cases[] = {
        {"0.06 shows 0.0, below the minimum by more than half a step", 1, nfTarget, 2, "0.06", "0.1", "000A"},
        {"9.95 shows 9.9", 1, nfTarget, 2, "9.95", "9.9", "03DE"},
        {"101.64 shows 101.6", 1, nfTarget, 2, "101.64", "101.6", "27B0"},
        {"a target as saved", 1, nfTarget, 2, "12.5", "12.5", "04E2"},
        {"a trailing point", 1, nfTarget, 2, "12.", "12", "04B0"},
        {"beyond the range, clamped as if typed", 1, nfTarget, 2, "500", "101.6", "27B0"},
        {"a speed's third decimal", 1, nfSpeed, 5, "0.255", "0.2", "0B"},
        {"a slow speed's third decimal", 1, nfSpeed, 5, "0.059", "0.05", "05"},
        {"a speed as saved", 1, nfSpeed, 5, "2", "2", "1D"},
        {"a trigger's third decimal on 100g", 0, nfTrigger, 4, "5.555", "5.55", "022B"},
        {"a trigger's second decimal on 1000g", 1, nfTrigger, 4, "0.35", "0.3", "0003"},
        {"the trigger's default", 1, nfTrigger, 4, "0.05", "0", "0000"},
        {"a hold as saved", 1, nfHold, 3, "4095", "4095", "FFF"},
        {"blanks dropped", 1, nfHold, 3, " 3 0 ", "30", "01E"},
        {"cycles as saved", 1, nfCycles, 7, "3", "3", "03"},
    };
    for (const auto& c : cases) {
        for (char separator : {'.', ','}) {
            const std::string value = WithSeparator(c.value, separator);
            const std::string label = std::string(c.name) + " (" + value + ")";
            const TTestModel test = TTestModel::FromGrid(Rows({{10, std::to_string(c.loadCell)}, {c.row, value}}));
            EXPECT_EQ(test.Text(c.field), Local(c.shown)) << label;
            EXPECT_EQ(test.GridValue(c.row), Local(c.shown)) << label;
            EXPECT_EQ(CodeOf(test, c.field), c.code) << label;
            // Saved and loaded back, it stays.
            const TTestModel again = TTestModel::FromGrid(test.Grid());
            EXPECT_EQ(again.Grid(), test.Grid()) << label;
            EXPECT_EQ(again.PGM(), test.PGM()) << label;
        }
    }
    EXPECT_EQ(TTestModel::FromGrid(Rows()).Grid(), Rows());
}

// A value no box of the test can show as the number it is, or a name that would corrupt
// the wire, refuses the file: at once, however long the line.
TEST(TestModel, RowsTheTestCannotHoldAreRefusedAtOnce)
{
    const struct {
        const char* name;
        int row;
        std::string value;  // '.' stands for the locale's separator
    } cases[] = {
        {"no number", 2, "abc"},
        {"200,000 decimals", 2, "12." + std::string(200000, '5')},
        {"a line of a million digits", 3, std::string(1 << 20, '7')},
        {"longer than any field", 5, "0." + std::string(40, '0') + "1"},
        {"a fraction of a second", 3, "12.0"},
        {"a sign the box has no place for", 3, "-5"},
        {"a negative trigger", 4, "-1"},
        {"a plus sign", 5, "+1"},
        {"more whole digits than the box has", 2, "1000"},
        {"an exponent", 2, "1e1"},
        {"the largest double", 2, "1e308"},
        {"a fraction of a cycle", 7, "12.7"},
        {"hex", 3, "0x10"},
        {"not a number", 2, "nan"},
        {"infinity", 2, "inf"},
        {"minus zero", 3, "-0"},
        {"a name with a control character", 13, "BR\x01" "AD"},
        {"a name with DEL", 13, "BREAD\x7F"},
        {"a name holding empty", 13, "myEmpty"},
    };
    for (const auto& c : cases) {
        const DWORD start = GetTickCount();
        EXPECT_THROW(TTestModel::FromGrid(Rows({{c.row, Local(c.value)}})), EConvertError) << c.name;
        EXPECT_LT(GetTickCount() - start, 500u) << c.name;
    }
    // A whole-number trigger box (10000g) has no place for a fraction either.
    EXPECT_THROW(TTestModel::FromGrid(Rows({{10, "4"}, {4, Local("2.5")}})), EConvertError);
}

TEST(TestModel, ABlankNameLoadsButCountsAsNone)
{
    const TTestModel test = TTestModel::FromGrid(Rows({{13, "   "}}));
    EXPECT_EQ(test.Name(), "   ");
    EXPECT_TRUE(test.NameIsEmpty());
}

TEST(TestModel, TheGridRowsCarryTheShownValues)
{
    TTestModel test(2);
    test.SetMode(1);
    test.Encode(nfTarget, Local("25.3"));
    test.Encode(nfHold, "30");
    test.Encode(nfTrigger, Local("1.4"));
    test.Encode(nfSpeed, Local("1.5"));
    test.SetReturnSpeed(1);
    test.Encode(nfCycles, "3");
    test.Encode(nfRecovery, "12");
    test.SetRetrigger(false);
    test.SetSlot(7);
    test.SetName("BREAD");
    const std::array<std::string, GridRowCount> expected = {
        "1", "1", Local("25.3"), "30", Local("1.4"), Local("1.5"), "1", "3", "12", "1", "2", "01", "7", "BREAD"};
    EXPECT_EQ(test.Grid(), expected);
    EXPECT_STREQ(GridCaptions[0], "Test index:");
    EXPECT_STREQ(GridCaptions[13], "Test Name:");
    test.SetSlot(10);
    EXPECT_EQ(test.Slot(), 7);
}

}  // namespace
