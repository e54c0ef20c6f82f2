#include "NumEdit.h"
#include "StrngLib.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(StrngLib, TextHelpers)
{
    EXPECT_EQ(RemoveChar(' ', " 1 0 1.6 "), "101.6");
    EXPECT_EQ(RemoveChar('x', ""), "");
    EXPECT_EQ(FindDecimalPoint("1,5.2"), ".");
    EXPECT_EQ(FindDecimalPoint("1,5"), ",");
    EXPECT_EQ(FindDecimalPoint("15"), "");
    EXPECT_EQ(ReplaceFirst("1.2.3", ".", ","), "1,2.3");
    EXPECT_EQ(ReplaceFirst("123", ".", ","), "123");
    EXPECT_EQ(ReplaceFirst("123", "", ","), "123");
}

TEST(StrngLib, TextToFloatTakesEitherDecimalPoint)
{
    for (const char* text : {"0.25", "0,25", " 0 . 2 5 "}) EXPECT_DOUBLE_EQ(TextToFloat(text, ' '), 0.25) << text;
    EXPECT_DOUBLE_EQ(TextToFloat("101", ' '), 101.0);
    EXPECT_DOUBLE_EQ(TextToFloat("-100", ' '), -100.0);
    for (const char* text : {"", " ", "abc", "1.2.3", "1,2.3"}) EXPECT_THROW(TextToFloat(text, ' '), EConvertError) << text;
}

// No field holds more than 32 characters; the blanks the rule drops do not count.
TEST(StrngLib, TextToFloatRefusesATextLongerThanAnyFieldAtOnce)
{
    const std::string longest = "1" + std::string(30, '0') + ".";
    EXPECT_DOUBLE_EQ(TextToFloat(longest, ' '), 1e30);
    EXPECT_DOUBLE_EQ(TextToFloat(" " + longest + std::string(1000, ' '), ' '), 1e30);
    EXPECT_DOUBLE_EQ(TextToFloat("-1.23456789012345E-100", ' '), -1.23456789012345E-100) << "FloatToStr's widest";
    const std::string fives = "12." + std::string(200000, '5');
    for (const std::string& text : {longest + "0", "0." + std::string(31, '0') + "1", fives, std::string(1 << 20, '7')}) {
        const DWORD start = GetTickCount();
        EXPECT_THROW(TextToFloat(text, ' '), EConvertError) << text.size();
        EXPECT_LT(GetTickCount() - start, 500u) << text.size();
    }
    try {
        TextToFloat(fives, ' ');
    } catch (const EConvertError& e) {
        EXPECT_LT(std::string(e.what()).size(), 100u) << "the message does not carry the whole text";
    }
}

TEST(StrngLib, MaskDecimalsCountsAfterTheLocaleSeparator)
{
    const struct {
        const char* mask;  // '.' stands for the locale's separator
        int decimals;
    } cases[] = {{"999.99;1;", 2}, {"999.9;1;", 1}, {"99999;1;", 0}, {"9999;1", 0}, {"9999999;1; ", 0},
                 {"99.99", 2},     {"9.;1;", 0},    {"", 0}};
    for (const auto& c : cases) EXPECT_EQ(MaskDecimals(Local(c.mask)), c.decimals) << c.mask;
}

TEST(NumEditCheck, ExitCheckClampsOrKeepsInThePartsOrder)
{
    const struct {
        const char* name;
        std::string text;  // '.' stands for the locale's separator in text and result
        double minimum, maximum, defVal;
        int decimals;
        const char* result;
        double value;
        bool corrected;
    } cases[] = {
        {"over the maximum", "101.7", 0.1, 101.6, 0.1, 1, "101.6", 101.6, true},
        {"at the maximum", "99", 1, 99, 1, 0, "99", 99, false},
        {"within the tolerance", "101.64", 0.1, 101.6, 0.1, 1, "101.64", 101.64, false},
        {"default below the minimum", "0", 0.1, 10, 0, 2, "0", 0, false},
        {"below the minimum", "0.05", 0.1, 10, 0, 2, "0.10", 0.1, true},
        {"separator alone", ".", 0.1, 101.6, 0.1, 1, "0.1", 0.1, true},
        {"empty", "", 0, 4095, 0, 0, "0", 0, true},
        {"blanks dropped", " 1 2 ", 0, 4095, 0, 0, "12", 12, false},
        {"bounds swapped", "50", 99, 1, 1, 0, "50", 50, false},
        {"swapped bounds clamp", "150", 99, 1, 1, 0, "99", 99, true},
        {"negative allowed", "-5", -9999999, 4095, 0, 0, "-5", -5, false},
        {"a default finer than the mask", "x", 0, 10, 0.06, 1, "0.1", 0.1, true},
        {"too long to be a field's", "1" + std::string(40, '0'), 0, 10, 2, 0, "2", 2, true},
    };
    for (const auto& c : cases) {
        const TNumExitCheck check = NumEditExitCheck(Local(c.text), c.minimum, c.maximum, c.defVal, c.decimals);
        EXPECT_EQ(check.Text, Local(c.result)) << c.name;
        EXPECT_DOUBLE_EQ(check.Value, c.value) << c.name << ": the number the text shows";
        EXPECT_EQ(check.Corrected, c.corrected) << c.name;
    }
}

TEST(NumEditCheck, TheRangeMessageTruncatesTheBounds)
{
    EXPECT_EQ(NumEditRangeMessage(0.01, 10), "Invalid entry. Entry must be between   0 and  10.");
    EXPECT_EQ(NumEditRangeMessage(-9999999, 4095), "Invalid entry. Entry must be between -9999999 and 4095.");
}

}  // namespace
