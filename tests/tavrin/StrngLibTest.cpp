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
        const char* text;  // '.' stands for the locale's separator in text and result
        double minimum, maximum, defVal;
        int decimals;
        const char* result;
        bool corrected;
    } cases[] = {
        {"over the maximum", "101.7", 0.1, 101.6, 0.1, 1, "101.6", true},
        {"at the maximum", "99", 1, 99, 1, 0, "99", false},
        {"within the tolerance", "101.64", 0.1, 101.6, 0.1, 1, "101.64", false},
        {"default below the minimum", "0", 0.1, 10, 0, 2, "0", false},
        {"below the minimum", "0.05", 0.1, 10, 0, 2, "0.10", true},
        {"separator alone", ".", 0.1, 101.6, 0.1, 1, "0.1", true},
        {"empty", "", 0, 4095, 0, 0, "0", true},
        {"blanks dropped", " 1 2 ", 0, 4095, 0, 0, "12", false},
        {"bounds swapped", "50", 99, 1, 1, 0, "50", false},
        {"swapped bounds clamp", "150", 99, 1, 1, 0, "99", true},
        {"negative allowed", "-5", -9999999, 4095, 0, 0, "-5", false},
    };
    for (const auto& c : cases) {
        const TNumExitCheck check = NumEditExitCheck(Local(c.text), c.minimum, c.maximum, c.defVal, c.decimals);
        EXPECT_EQ(check.Text, Local(c.result)) << c.name;
        EXPECT_EQ(check.Corrected, c.corrected) << c.name;
    }
}

TEST(NumEditCheck, TheRangeMessageTruncatesTheBounds)
{
    EXPECT_EQ(NumEditRangeMessage(0.01, 10), "Invalid entry. Entry must be between   0 and  10.");
    EXPECT_EQ(NumEditRangeMessage(-9999999, 4095), "Invalid entry. Entry must be between -9999999 and 4095.");
}

}  // namespace
