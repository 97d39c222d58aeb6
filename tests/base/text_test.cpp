#include "base/base.h"
#include <gtest/gtest.h>

namespace {

TEST(TextMatching, Prefixes)
{
    EXPECT_TRUE(CharEqualsNoCase(L'a', L'A'));
    EXPECT_TRUE(CharEqualsNoCase(L'Z', L'z'));
    EXPECT_FALSE(CharEqualsNoCase(L'\x00e9', L'\x00c9'));   // only ASCII folds
    EXPECT_FALSE(CharEqualsNoCase(L'[', L'{'));
    EXPECT_EQ(MatchPrefix(L"REGEDIT4\r\n", L"REGEDIT4"), 8u);
    EXPECT_EQ(MatchPrefix(L"REGEDIT", L"REGEDIT4"), 7u);
    EXPECT_EQ(MatchPrefix(L"regedit4", L"REGEDIT4"), 0u);
    EXPECT_EQ(MatchPrefixNoCase(L"loadfile", L"LOAD"), 4u);
    EXPECT_EQ(MatchPrefixNoCase(L"lo", L"LOAD"), 2u);
    EXPECT_EQ(MatchPrefixNoCase(L"", L"LOAD"), 0u);
}

struct WholeNumberCase {
    const wchar_t* text;
    bool read;
    long long number;
    int line;
};
#define WHOLE_NUMBER_CASE(t, r, n) {t, r, n, __LINE__}

// Within the signed 32-bit range, as provisioning documents take integers.
const WholeNumberCase WHOLE_NUMBER_CASES[] = {
    WHOLE_NUMBER_CASE(L"+7", true, 7),
    WHOLE_NUMBER_CASE(L"007", true, 7),
    WHOLE_NUMBER_CASE(L"-2147483648", true, -2147483648LL),
    WHOLE_NUMBER_CASE(L"2147483648", false, 0),
    WHOLE_NUMBER_CASE(L"99999999999999999999999", false, 0),          // beyond 64 bits as well
    WHOLE_NUMBER_CASE(L" 1", false, 0),
    WHOLE_NUMBER_CASE(L"1 ", false, 0),
    WHOLE_NUMBER_CASE(L"-", false, 0),
    WHOLE_NUMBER_CASE(L"", false, 0),
    WHOLE_NUMBER_CASE(L"1\x0661", false, 0),                          // a digit of another script
};

TEST(TextNumbers, ReadWholeDecimalNumber)
{
    for (const auto& c : WHOLE_NUMBER_CASES) {
        long long number = 0;
        EXPECT_EQ(ReadWholeDecimalNumber(c.text, -2147483648LL, 2147483647LL, number), c.read) << "case at line " << c.line;
        EXPECT_EQ(number, c.number) << "case at line " << c.line;
    }
}

} // namespace
