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

} // namespace
