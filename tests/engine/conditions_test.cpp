#include "engine/engine.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <string>

namespace {

struct ConditionCase {
    const wchar_t* condition;
    bool expected;
    int line;
};
#define CONDITION_CASE(c, e) {c, e, __LINE__}

const ConditionCase CONDITION_CASES[] = {
    CONDITION_CASE(L"5>3", true),
    CONDITION_CASE(L"abc>3", false),        // a text reads as 0
    CONDITION_CASE(L"-5<3", true),          // signed
    CONDITION_CASE(L"3<=3", true),
    CONDITION_CASE(L"4<=3", false),
    CONDITION_CASE(L"3>=4", false),
    CONDITION_CASE(L"7==7", true),
    CONDITION_CASE(L"7!=7", false),
    CONDITION_CASE(L"7!=8", true),
    CONDITION_CASE(L"1&&0", false),
    CONDITION_CASE(L"2&&3", true),
    CONDITION_CASE(L"0||7", true),
    CONDITION_CASE(L"0||0", false),
    CONDITION_CASE(L"6&1", false),
    CONDITION_CASE(L"6&2", true),
    CONDITION_CASE(L"6|0", true),
    CONDITION_CASE(L"0|0", false),
    CONDITION_CASE(L"Yes=yes", true),       // texts compare without regard to case
    CONDITION_CASE(L"Yes==yes", true),      // numbers 0 and 0
    CONDITION_CASE(L"a b=a b", true),       // blanks count
    CONDITION_CASE(L"a =a", false),
    CONDITION_CASE(L"abc!abd", true),
    CONDITION_CASE(L"abc!ABC", false),
    CONDITION_CASE(L"1<2>0", true),         // only the first operator counts
    CONDITION_CASE(L"!5>3", false),
    CONDITION_CASE(L"!abc=abd", true),
    CONDITION_CASE(L"x=", false),           // a missing right text is the empty text
    CONDITION_CASE(L"=", true),
    CONDITION_CASE(L"C:\\windows", true),   // existence
    CONDITION_CASE(L"!C:\\windows", false),
    CONDITION_CASE(L"C:\\no such folder", false),
    CONDITION_CASE(L"", false),             // the empty path does not exist
};

TEST(Conditions, Table)
{
    for (const auto& c : CONDITION_CASES) {
        std::wstring text = c.condition;
        EXPECT_EQ(EvaluateCondition(WholeText(text.c_str())), c.expected) << "case at line " << c.line;
    }
}

// An inline IFEX runs its command only when the condition holds, and its line passes the
// result before it through, whatever the command returned.
TEST(Conditions, LastResultInScript)
{
    const struct {
        const wchar_t* script;
        DWORD result;
        const wchar_t* variable1;
        int line;
    } cases[] = {
        {L"EVAL x=0\nIFEX %x==0,EVAL 1=ran", 0, L"ran", __LINE__},
        {L"EVAL x=3\nIFEX %x!=0,EVAL 1=ran", 3, L"ran", __LINE__},
        {L"EVAL x=3\nIFEX %x==0,EVAL 1=ran", 3, L"", __LINE__},
        {L"EVAL x=3\nIFEX %x==3,EVAL x=11", 3, L"", __LINE__},
        {L"EVAL x=3\nIFEX %x==3,EVAL x=11\nEVAL 1=%x", 0, L"3", __LINE__},
    };
    for (const auto& c : cases) {
        ScriptVariables[1][0] = 0;
        EXPECT_EQ(test::Run(c.script), c.result) << "case at line " << c.line;
        EXPECT_STREQ(ScriptVariables[1], c.variable1) << "case at line " << c.line;
    }
}

TEST(Eval, StoresReadsAndSetsResult)
{
    EXPECT_EQ(test::Run(L"EVAL 3=text"), 0u);
    EXPECT_STREQ(ScriptVariables[3], L"text");
    EXPECT_EQ(test::Run(L"EVAL 3"), 0u);                  // "text" reads as 0
    EXPECT_EQ(test::Run(L"EVAL 4= 42 \nEVAL 4"), 42u);
    EXPECT_EQ(test::Run(L"EVAL x=42"), 42u);
    EXPECT_EQ(test::Run(L"EVAL X-3"), static_cast<DWORD>(-3));
    EXPECT_EQ(test::Run(L"EVAL 5=a,b%,c"), 0u);
    EXPECT_STREQ(ScriptVariables[5], L"a\x01" L"b,c");
}

TEST(Eval, EmptyArgumentClearsVariableZeroOnly)
{
    test::Run(L"EVAL 0=zero\nEVAL 1=one\nEVAL");
    EXPECT_STREQ(ScriptVariables[0], L"");
    EXPECT_STREQ(ScriptVariables[1], L"one");
}

TEST(Eval, LongValueIsCutToFit)
{
    test::Run(L"EVAL 2=" + std::wstring(300, L'v'));
    EXPECT_EQ(std::wstring(ScriptVariables[2]), std::wstring(259, L'v'));
}

} // namespace
