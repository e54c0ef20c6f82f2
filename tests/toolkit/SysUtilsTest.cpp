#include "SysUtils.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

// Runs a block with a chosen decimal separator and puts the locale's back.
class SeparatorScope {
public:
    explicit SeparatorScope(char separator) : saved_(DecimalSeparator) { DecimalSeparator = separator; }
    ~SeparatorScope() { DecimalSeparator = saved_; }

private:
    char saved_;
};

TEST(SysUtils, TheLocaleGivesTheDecimalSeparator)
{
    char buffer[8] = {};
    GetLocaleInfoA(GetThreadLocale(), LOCALE_SDECIMAL, buffer, sizeof buffer);
    EXPECT_EQ(DecimalSeparator, buffer[0]);
    if (const char expected = ExpectedDecimalSeparator()) {
        EXPECT_EQ(DecimalSeparator, expected);
    }
}

struct FloatCase {
    const char* name;
    double value;
    const char* general;  // FloatToStr, with '.' standing for the separator
};

TEST(SysUtils, FloatToStrIsTheShortestGeneralFormWith15Digits)
{
    const FloatCase cases[] = {
        {"sum with binary noise", 0.1 + 0.2, "0.3"},
        {"whole", 12, "12"},
        {"one decimal", 101.6, "101.6"},
        {"step times count", 0.01 * 10160, "101.6"},
        {"quotient near whole", 101.6 / 0.01, "10160"},
        {"zero", 0, "0"},
        {"negative zero", -0.0, "0"},
        {"negative", -2.5, "-2.5"},
        {"small fixed", 0.0001, "0.0001"},
        {"small scientific", 0.00001, "1E-5"},
        {"15 digits whole", 123456789012345.0, "123456789012345"},
        {"16 digits goes scientific", 1234567890123456.0, "1.23456789012346E15"},
        {"large", 1e20, "1E20"},
        {"rounds to 15 digits", 2.0 / 3.0, "0.666666666666667"},
        {"carry into a new digit", std::nextafter(1.0, 0.0), "1"},
    };
    for (const auto& c : cases) EXPECT_EQ(FloatToStr(c.value), Local(c.general)) << c.name;
    EXPECT_EQ(FloatToStr(std::numeric_limits<double>::quiet_NaN()), "NAN");
    EXPECT_EQ(FloatToStr(-std::numeric_limits<double>::infinity()), "-INF");
}

TEST(SysUtils, FloatToStrUsesTheSeparatorInForce)
{
    SeparatorScope comma(',');
    EXPECT_EQ(FloatToStr(0.25), "0,25");
    EXPECT_EQ(FloatToStrF(101.6, ffFixed, 15, 2), "101,60");
}

TEST(SysUtils, FixedNotationRoundsTheShownDigitHalfAwayFromZero)
{
    struct Case {
        double value;
        int digits;
        const char* text;
    } cases[] = {
        {0.1, 1, "0.1"},       {0, 2, "0.00"},          {101.6, 1, "101.6"},  {4095, 0, "4095"},
        {2.5, 0, "3"},         {0.125, 2, "0.13"},      {-0.125, 2, "-0.13"}, {-0.001, 2, "0.00"},
        {9.999, 2, "10.00"},   {-9999999, 0, "-9999999"}, {0.01, 2, "0.01"},  {1e-7, 3, "0.000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FloatToStrF(c.value, ffFixed, 15, c.digits), Local(c.text)) << c.value << " with " << c.digits;
}

TEST(SysUtils, RoundGoesHalfToEven)
{
    const double values[] = {0.5, 1.5, 2.5, 3.5, -2.5, 2.4999, 2.5001, 1e15 + 0.5};
    const int64_t expected[] = {0, 2, 2, 4, -2, 2, 3, 1000000000000000};
    for (size_t i = 0; i < std::size(values); ++i) EXPECT_EQ(Round(values[i]), expected[i]) << values[i];
    EXPECT_EQ(Trunc(-2.7), -2);
    EXPECT_EQ(Trunc(0.01), 0);
}

TEST(SysUtils, IntToHexHasAMinimumWidth)
{
    EXPECT_EQ(IntToHex(int32_t{255}, 4), "00FF");
    EXPECT_EQ(IntToHex(int32_t{0x12345}, 4), "12345");
    EXPECT_EQ(IntToHex(int32_t{0}, 3), "000");
    EXPECT_EQ(IntToHex(int32_t{-100}, 4), "FFFFFF9C");
    EXPECT_EQ(IntToHex(int32_t{-10000}, 2), "FFFFD8F0");
    EXPECT_EQ(IntToHex(int64_t{-1}, 4), "FFFFFFFFFFFFFFFF");
    EXPECT_EQ(IntToHex(int64_t{0xABC}, 2), "ABC");
}

TEST(SysUtils, StrToIntTakesDecimalAndHexAndRefusesTheRest)
{
    struct Good {
        const char* text;
        int value;
    } good[] = {{"12", 12}, {"  12", 12}, {"-7", -7}, {"+7", 7}, {"$1F", 31}, {"0x1f", 31},
                {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1}, {"$FFFFFFFF", -1}, {"0012", 12}};
    for (const auto& g : good) EXPECT_EQ(StrToInt(g.text), g.value) << g.text;

    const char* bad[] = {"", " ", "12 ", "1.5", "abc", "2147483648", "-2147483649", "$", "0x", "1e3", "--1"};
    for (const char* b : bad) {
        EXPECT_THROW(StrToInt(b), EConvertError) << '"' << b << '"';
        EXPECT_EQ(StrToIntDef(b, -5), -5) << b;
    }
    try {
        StrToInt("x9");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'x9' is not a valid integer value");
    }
}

TEST(SysUtils, StrToFloatReadsOnlyTheLocaleSeparator)
{
    for (char separator : {'.', ','}) {
        SeparatorScope scope(separator);
        const std::string s(1, separator);
        EXPECT_DOUBLE_EQ(StrToFloat("1" + s + "5"), 1.5);
        EXPECT_DOUBLE_EQ(StrToFloat(" -0" + s + "25 "), -0.25);
        EXPECT_DOUBLE_EQ(StrToFloat(s + "5"), 0.5);
        EXPECT_DOUBLE_EQ(StrToFloat("2" + s), 2.0);
        EXPECT_DOUBLE_EQ(StrToFloat("1E3"), 1000.0);
        EXPECT_DOUBLE_EQ(StrToFloat("25e-1"), 2.5);
        const std::string other(1, separator == '.' ? ',' : '.');
        const std::string bad[] = {"", s, "1" + other + "5", "1e", "abc", "0x10", "inf", "nan", "1 2", "1e999"};
        for (const auto& b : bad) EXPECT_THROW(StrToFloat(b), EConvertError) << '"' << b << "\" with " << s;
    }
    try {
        StrToFloat("1,2,3");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'1,2,3' is not a valid floating point value");
    }
}

// Any length reads in time linear in it, and still rounds as the whole text says.
TEST(SysUtils, StrToFloatOfALongTextIsQuickAndRoundsCorrectly)
{
    // Wine may start a process with the separator of another that starts at the same time.
    SeparatorScope scope('.');
    const std::string fives = "12." + std::string(200000, '5');
    const std::string farDigit = std::string(1000, '0') + "1";
    const struct {
        const char* name;
        std::string text;
        double value;
    } cases[] = {
        {"200,000 decimals", fives, 12.555555555555555},
        {"a million digits", std::string(1000000, '1') + "e-999990", 1111111111.1111112},
        {"leading zeros", std::string(500000, '0') + "2.5", 2.5},
        {"a long way to the first digit", "0." + std::string(300000, '0') + "25e300002", 25.0},
        {"the midpoint of 2^53 and 2^53+2 goes to even", "9007199254740993." + std::string(1000, '0'), 9007199254740992.0},
        {"a digit far beyond the midpoint rounds up", "9007199254740993." + farDigit, 9007199254740994.0},
        {"a huge exponent of zero", "0e999999999999999999", 0.0},
        {"a huge negative exponent underflows", "1e-999999999999999999", 0.0},
    };
    for (const auto& c : cases) {
        const DWORD start = GetTickCount();
        double value = -1;
        ASSERT_TRUE(TryStrToFloat(c.text, value)) << c.name;
        EXPECT_EQ(value, c.value) << c.name;
        EXPECT_LT(GetTickCount() - start, 1000u) << c.name;
    }
    double value = 0;
    EXPECT_FALSE(TryStrToFloat("1e999999999999999999", value));
    EXPECT_FALSE(TryStrToFloat(std::string(400, '9'), value)) << "beyond the largest double";
    EXPECT_TRUE(TryStrToFloat("-0", value));
    EXPECT_TRUE(std::signbit(value));
}

TEST(SysUtils, FormatAndTextHelpers)
{
    EXPECT_EQ(Format("between %3d and %3d.", 0, 10), "between   0 and  10.");
    EXPECT_EQ(Format("%s-%02X", "a", 10), "a-0A");
    EXPECT_EQ(Format("%s", std::string(5000, 'x').c_str()).size(), 5000u);
    EXPECT_EQ(LowerCase("EmPty"), "empty");
    EXPECT_EQ(UpperCase("ok1"), "OK1");
    EXPECT_EQ(Trim("\t a b \r\n"), "a b");
    EXPECT_EQ(SysErrorMessage(ERROR_FILE_NOT_FOUND).find_first_of("\r\n"), std::string::npos);
    EXPECT_FALSE(SysErrorMessage(ERROR_FILE_NOT_FOUND).empty());
}

}  // namespace
