#include "SioExcept.h"
#include "SioStrMap.h"

#include "Classes.h"
#include "SysUtils.h"

#include <gtest/gtest.h>

#include <climits>
#include <initializer_list>
#include <set>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

unsigned Magnitude(int code)
{
    return code < 0 ? 0u - static_cast<unsigned>(code) : static_cast<unsigned>(code);
}

bool HasControlCharacter(const std::string& s)
{
    for (char c : s)
        if (static_cast<unsigned char>(c) < 32) return true;
    return false;
}

template <class E>
bool CheckerRaisesAs(int code)
{
    try {
        SioCheck(nullptr, code);
    } catch (const E&) {
        return true;
    } catch (...) {
    }
    return false;
}

struct TMappedCase {
    int code;
    const char* name;
    const std::type_info* leaf;
    bool (*caughtAsBranch)(int code);
};

// The modem-line codes as the checker's documentation lists them, in order.
std::vector<int> TapiCodes()
{
    std::vector<int> codes;
    for (int code = -13801; code >= -13886; --code)
        if (code != -13804 && code != -13849) codes.push_back(code);
    for (int code : {-13928, -13929, -13930, -13931, -13932, -13935, -13936, -13942}) codes.push_back(code);
    return codes;
}

std::vector<TMappedCase> MappedCases()
{
    std::vector<TMappedCase> cases;
#define LEAF_CASES(name, branch, ...)                        \
    for (int code : std::initializer_list<int>{__VA_ARGS__}) \
        cases.push_back({code, #name, &typeid(name), &CheckerRaisesAs<branch>});
#define BRANCH_CASES(name, ...)                              \
    for (int code : std::initializer_list<int>{__VA_ARGS__}) \
        cases.push_back({code, #name, &typeid(name), &CheckerRaisesAs<name>});
    SIO_CODE_CLASSES(LEAF_CASES, BRANCH_CASES)
#undef LEAF_CASES
#undef BRANCH_CASES

    const std::vector<int> tapi = TapiCodes();
    size_t next = 0;
#define TAPI_CASE(suffix)                                                                                         \
    cases.push_back(                                                                                              \
        {next < tapi.size() ? tapi[next] : 0, "ETapi" #suffix, &typeid(ETapi##suffix), &CheckerRaisesAs<ETapi>}); \
    ++next;
    SIO_TAPI_LEAVES(TAPI_CASE)
#undef TAPI_CASE
    EXPECT_EQ(next, tapi.size()) << "one modem-line leaf per modem-line code";
    return cases;
}

TEST(SioMessageTable, HasItsRowsStrictlyAscendingByMagnitude)
{
    int count = 0;
    const SioMessageNumberLookupRecord* table = SioMessageTable(count);
    ASSERT_EQ(count, 892);
    ASSERT_EQ(count, SioMessageCount);
    for (int i = 0; i < count; ++i) EXPECT_FALSE(table[i].message.empty()) << table[i].code;
    for (int i = 1; i < count; ++i) EXPECT_LT(Magnitude(table[i - 1].code), Magnitude(table[i].code)) << "row " << i;
}

TEST(SioMessageTable, EveryCodeHasATextOfItsOwn)
{
    int count = 0;
    const SioMessageNumberLookupRecord* table = SioMessageTable(count);
    std::set<std::string> texts;
    for (int i = 0; i < count; ++i) EXPECT_TRUE(texts.insert(table[i].message).second) << table[i].message;
}

TEST(SioMessageTable, LookupFindsEveryRowBySizeOfTheCode)
{
    int count = 0;
    const SioMessageNumberLookupRecord* table = SioMessageTable(count);
    for (int i = 0; i < count; ++i) {
        const int code = table[i].code;
        EXPECT_EQ(SioMessageText(code), table[i].message) << code;
        EXPECT_EQ(SioMessageText(-code), table[i].message) << -code;
    }
}

TEST(SioMessageTable, LookupAtTheEndsAndBetweenRows)
{
    int count = 0;
    const SioMessageNumberLookupRecord* table = SioMessageTable(count);
    EXPECT_EQ(table[0].code, 2);
    EXPECT_EQ(SioMessageText(2), "The system cannot find the file specified.");
    EXPECT_EQ(SioMessageText(table[count - 1].code), table[count - 1].message);
    const struct {
        const char* name;
        int code;
    } missing[] = {
        {"zero", 0},
        {"below the first", 1},
        {"after the system numbers", 163},
        {"timeout", 1460},
        {"between families", 1000},
        {"after the last", static_cast<int>(Magnitude(table[count - 1].code)) + 1},
        {"most negative", INT_MIN},
        {"largest", INT_MAX},
    };
    for (const auto& m : missing) EXPECT_EQ(SioMessageText(m.code), "") << m.name;
}

TEST(SioMessageTable, PacketCollectorTexts)
{
    const struct {
        int code;
        const char* message;
    } cases[] = {
        {5501, "Start string is empty"},
        {5502, "Packet size cannot be smaller than start string"},
        {5503, "CharCount packets must have an end-condition"},
        {5504, "End string is empty"},
        {5505, "Packet size cannot be zero"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SioMessageText(c.code), c.message) << c.code;
        try {
            throw EInvalidProperty(c.code);
        } catch (const EPacket& e) {
            EXPECT_EQ(typeid(e), typeid(EInvalidProperty)) << c.code;
            EXPECT_EQ(e.ErrorCode, c.code);
            EXPECT_EQ(e.Message, c.message);
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST(SioCheck, EveryMappedCodeRaisesExactlyItsClass)
{
    const std::vector<TMappedCase> cases = MappedCases();
    EXPECT_EQ(cases.size(), 74u + 92u);
    std::set<int> seen;
    for (const TMappedCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.code));
        EXPECT_TRUE(seen.insert(c.code).second) << "mapped twice";
        EXPECT_LT(c.code, 0);
        try {
            SioCheck(nullptr, c.code);
            ADD_FAILURE() << "passed";
        } catch (const ESioException& e) {
            EXPECT_EQ(typeid(e), *c.leaf) << typeid(e).name();
            EXPECT_EQ(e.ErrorCode, c.code);
            EXPECT_FALSE(e.Message.empty());
            EXPECT_EQ(e.Message, SioMessageText(c.code));
        }
        EXPECT_TRUE(c.caughtAsBranch(c.code));
        EXPECT_TRUE(CheckerRaisesAs<Exception>(c.code));
    }
}

TEST(SioCheck, SampleCodesRaiseTheirDocumentedClasses)
{
    const struct {
        int code;
        const std::type_info& type;
    } cases[] = {
        {-1002, typeid(EBadArgument)},
        {-1006, typeid(EInternal)},
        {-7003, typeid(EInternal)},
        {-7006, typeid(EInternal)},
        {-7012, typeid(EInternal)},
        {-2011, typeid(ENoPortSelected)},
        {-3007, typeid(EBufferIsEmpty)},
        {-4008, typeid(EModemStatusMismatch)},
        {-5003, typeid(EBadTriggerHandle)},
        {-6006, typeid(EProtocol)},
        {-6008, typeid(EProtocol)},
        {-6009, typeid(EProtocol)},
        {-7014, typeid(EBadFieldForIndex)},
        {-8053, typeid(EInvalidPageNumber)},
        {-8070, typeid(EFaxPageError)},
        {-13980, typeid(ERasLoadFail)},
        {-13801, typeid(ETapiAllocated)},
        {-13803, typeid(ETapiBearerModeUnavail)},
        {-13805, typeid(ETapiCallUnavail)},
        {-13848, typeid(ETapiInvalMessageID)},
        {-13850, typeid(ETapiInvalParam)},
        {-13886, typeid(ETapiNoMultipleInstance)},
        {-13928, typeid(ETapiBusy)},
        {-13932, typeid(ETapiGetAddrFail)},
        {-13935, typeid(ETapiVoiceNotSupported)},
        {-13936, typeid(ETapiWaveFail)},
        {-13942, typeid(ETapiTranslateFail)},
    };
    for (const auto& c : cases) {
        try {
            SioCheck(nullptr, c.code);
            ADD_FAILURE() << c.code << " passed";
        } catch (const ESioException& e) {
            EXPECT_EQ(typeid(e), c.type) << c.code << " raised " << typeid(e).name();
        }
    }
    EXPECT_TRUE(CheckerRaisesAs<EGeneral>(-7003)) << "EInternal stays a general error";
    EXPECT_TRUE(CheckerRaisesAs<ETapi>(-13942));
}

TEST(SioCheck, ModemLineMessagesComeFromTheTapiRows)
{
    for (int code : TapiCodes()) EXPECT_EQ(SioMessageText(code).rfind("TAPI: ", 0), 0u) << code;
}

TEST(SioCheck, CodesOfZeroAndAbovePass)
{
    for (int code : {0, 1, 5, 1002, 5501, 13801, INT_MAX}) EXPECT_EQ(SioCheck(nullptr, code), code);
}

TEST(SioCheck, EveryCodePassesWhileTheComponentIsLoading)
{
    TComponent component(nullptr);
    component.BeginLoading();
    for (int code : {-1, -5, -8, -162, -1002, -6006, -13801, -13980, INT_MIN})
        EXPECT_EQ(SioCheck(&component, code), code) << code;
    component.EndLoading();
    EXPECT_TRUE(CheckerRaisesAs<EBadArgument>(-1002));
    try {
        SioCheck(&component, -1002);
        ADD_FAILURE() << "a loaded component's code passed";
    } catch (const EBadArgument&) {
    }
}

TEST(SioCheck, SystemNumbersRaiseTheToolkitsInOutError)
{
    for (int number = 2; number <= 162; ++number) {
        if (number == 8) continue;
        try {
            SioCheck(nullptr, -number);
            ADD_FAILURE() << -number << " passed";
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.ErrorCode, number);
            EXPECT_EQ(e.Message, SioMessageText(number));
            EXPECT_FALSE(e.Message.empty()) << number;
        } catch (...) {
            ADD_FAILURE() << -number << " raised something else";
        }
    }
    try {
        SioCheck(nullptr, -5);
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode, 5);
        EXPECT_EQ(e.Message, "Access is denied.");
    }
}

TEST(SioCheck, NotEnoughMemoryRaisesTheToolkitsOutOfMemory)
{
    EXPECT_THROW(SioCheck(nullptr, -8), EOutOfMemory);
}

TEST(SioCheck, AnyOtherNegativeCodeRaisesTheGeneralLibraryException)
{
    const struct {
        const char* name;
        int code;
    } cases[] = {
        {"below the system numbers", -1},
        {"above the system numbers", -163},
        {"unmapped general", -1001},
        {"unmapped serial I/O", -3002},
        {"unmapped protocol", -6007},
        {"unmapped INI", -7009},
        {"TAPI gap", -13804},
        {"TAPI gap", -13849},
        {"TAPI wave", -13937},
        {"packet code negated", -5501},
        {"RAS state negated", -13981},
        {"most negative", INT_MIN},
    };
    for (const auto& c : cases) {
        try {
            SioCheck(nullptr, c.code);
            ADD_FAILURE() << c.name << " passed";
        } catch (const ESioException& e) {
            EXPECT_EQ(typeid(e), typeid(ESioException)) << c.name;
            EXPECT_EQ(e.Message, "Serial library exception") << c.name;
            EXPECT_EQ(e.ErrorCode, 0) << c.name;
        }
    }
}

TEST(ESioException, ByMessageHasNoCode)
{
    const ESioException e(std::string("Port went away"));
    EXPECT_EQ(e.Message, "Port went away");
    EXPECT_EQ(e.ErrorCode, 0);
}

TEST(ESioException, ByCodeTakesTheTableTextForEitherSign)
{
    for (int code : {-2011, 2011, 5, -5, 13887}) {
        const ESioException e(code);
        EXPECT_EQ(e.ErrorCode, code);
        EXPECT_EQ(e.Message, SioMessageText(code));
    }
}

TEST(ESioException, ACodeMissingFromTheTableGetsTheSystemTextOnOneLine)
{
    ASSERT_EQ(SioMessageText(1460), "");
    const std::string system = SysErrorMessage(1460);
    ASSERT_FALSE(system.empty());
    for (int code : {1460, -1460}) {
        const ESioException e(code);
        EXPECT_EQ(e.ErrorCode, code);
        EXPECT_FALSE(HasControlCharacter(e.Message)) << e.Message;
        EXPECT_EQ(e.Message.rfind(system, 0), 0u) << e.Message;
        EXPECT_EQ(Trim(e.Message).size() + 2, e.Message.size()) << "CR LF become two blanks";
    }
}

TEST(ESioException, SystemTextsBecomeOneLineOfAtMost255Characters)
{
    const std::string x255(255, 'x');
    const struct {
        const char* name;
        std::string text;
        std::string line;
    } cases[] = {
        {"empty", "", ""},
        {"line end", "Timeout.\r\n", "Timeout.  "},
        {"every control character", std::string("a\x01\tb\x1f", 5), "a  b "},
        {"others kept", "\x7f \xe9~", "\x7f \xe9~"},
        {"255 kept", x255, x255},
        {"256 cut", x255 + "y", x255},
        {"cut after a break", std::string(200, 'x') + "\r\n" + std::string(100, 'y'),
         std::string(200, 'x') + "  " + std::string(53, 'y')},
    };
    for (const auto& c : cases) EXPECT_EQ(SioSystemTextLine(c.text), c.line) << c.name;
}

TEST(ESioException, SystemTextsStayWithinTheirLimit)
{
    for (unsigned number = 163; number < 20000; ++number) {
        if (!SioMessageText(static_cast<int>(number)).empty()) continue;
        const ESioException e(static_cast<int>(number));
        ASSERT_LE(e.Message.size(), 255u) << number;
        ASSERT_FALSE(HasControlCharacter(e.Message)) << number;
    }
}

}  // namespace
