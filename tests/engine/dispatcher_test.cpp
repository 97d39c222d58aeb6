#include "engine/engine.h"
#include "engine_test_support.h"
#include "support/test_support.h"
#include <gtest/gtest.h>

namespace {

std::wstring Variable(int index)
{
    return ScriptVariables[index];
}

struct FlowCase {
    const wchar_t* script;
    DWORD result;
    const wchar_t* variable1;   // expected text of variable 1 afterwards
    int line;
};
#define FLOW_CASE(s, r, v) {s, r, v, __LINE__}

const FlowCase FLOW_CASES[] = {
    // keyword recognition
    FLOW_CASE(L"eval 1=a", 0, L"a"),
    FLOW_CASE(L"Eval1=b", 0, L"b"),                               // nothing has to follow the keyword
    FLOW_CASE(L"EVAL \t 1=c", 0, L"c"),                           // blanks after the keyword are skipped
    FLOW_CASE(L"BATC EVAL 1=a; EVAL 1=d", 2, L"a"),              // a piece starting with a blank has no keyword
    // inline IFEX and ELSE
    FLOW_CASE(L"IFEX 1==1,EVAL 1=yes\nELSE EVAL 1=no", 0, L"yes"),
    FLOW_CASE(L"IFEX 1==2,EVAL 1=yes\nELSE EVAL 1=no", 0, L"no"),
    FLOW_CASE(L"IFEX 1==2,EVAL 1=yes\nELSE EVAL 1=no\nELSE EVAL 1=%1+", 0, L"no+"),   // every ELSE runs
    FLOW_CASE(L"EVAL x=4\nIFEX 1==1,EVAL x=9\nEVAL 1=%x", 0, L"4"),   // IFEX passes the last result through
    FLOW_CASE(L"IFEX 1==1,GOTO end\nEVAL 1=skipped\nPROC end\nEVAL 1=%1!", 0, L"!"),
    FLOW_CASE(L"IFEX 1==1,ENDP\nEVAL 1=after", 0, L""),
    FLOW_CASE(L"IFEX 1==1, EVAL 1=x", 0, L""),                     // blank after the comma: no keyword
    // block IFEX
    FLOW_CASE(L"IFEX 1==1\nEVAL 1=in\nIFEX\nEVAL 1=%1-out", 0, L"in-out"),
    FLOW_CASE(L"IFEX 1==2\nEVAL 1=in\nIFEX\nEVAL 1=%1-out", 0, L"-out"),
    FLOW_CASE(L"IFEX 1==2\r\nEVAL 1=in\r\nIFEX\r\nEVAL 1=%1-out", 0, L"-out"),
    FLOW_CASE(L"IFEX 1==2\nEVAL 1=in\nIFEX  \nEVAL 1=out", 1, L""),   // trailing blanks: block end not found
    FLOW_CASE(L"IFEX 1==2\nEVAL 1=in\nIFEX\nELSE EVAL 1=else", 0, L"else"),
    FLOW_CASE(L"IFEX 1==2\nIFEX\nEVAL 1=a\nIFEX\r\nEVAL 1=%1b", 0, L"b"),   // "IFEX\r\n" preferred to an earlier "IFEX\n"
    // CALL, GOTO, PROC, ENDP
    FLOW_CASE(L"CALL sub\nEVAL 1=%1b\nENDP\nPROC sub\nEVAL 1=a\nENDP sub", 0, L"ab"),
    FLOW_CASE(L"CALL sub\nEVAL 1=%x\nENDP\nPROC sub\nEVAL x=5\nENDP sub", 0, L"0"),   // ENDP returns 0
    FLOW_CASE(L"CALL nowhere\nEVAL 1=%x", 0, L"1"),
    FLOW_CASE(L"CALL  two\nEVAL 1=%x\nENDP\nPROC two\nEVAL 1=one\nENDP\nPROC  two\nEVAL x=7", 0, L"7"),
    FLOW_CASE(L"CALL Set\nEVAL 1=%1!\nENDP\nPROC Setup\nEVAL 1=up\nENDP", 0, L"up!"),   // prefix of a longer name
    FLOW_CASE(L"EVAL 1=a\nPROC p\nEVAL 1=b\nENDP p\nEVAL 1=%1c", 0, L"ac"),           // skipped in sequence
    FLOW_CASE(L"EVAL 1=a\nPROC p\nEVAL 1=b", 1, L"a"),                                  // no ENDP: the run ends
    FLOW_CASE(L"GOTO later\nEVAL 1=no\nPROC later\nEVAL 1=yes\nENDP later\nEVAL 1=never", 0, L"yes"),
    FLOW_CASE(L"PROC later\nEVAL 1=x\nENDP later\nGOTO later", 1, L""),                 // labels are searched forward only
    FLOW_CASE(L"GOTO Later\nEVAL 1=a\nPROC later", 1, L"a"),                            // labels regard case
    // BATC, WAIT, BEEP
    FLOW_CASE(L"BATC EVAL 1=a;EVAL 2=b;EVAL x=3", 3, L"a"),
    FLOW_CASE(L"BATC EVAL 1=a%;b", 2, L"a"),                       // escaped semicolons split too
    FLOW_CASE(L"WAIT", 0, L""),
    FLOW_CASE(L"WAIT -5", 0, L""),                                  // a negative time does not hang
    FLOW_CASE(L"WAIT 10", 0, L""),
    FLOW_CASE(L"BEEP 0", 0, L""),
};

TEST(Dispatcher, FlowControl)
{
    for (const auto& c : FLOW_CASES) {
        for (auto& variable : ScriptVariables)
            variable[0] = 0;
        EXPECT_EQ(test::Run(c.script), c.result) << "case at line " << c.line;
        EXPECT_EQ(Variable(1), c.variable1) << "case at line " << c.line;
    }
}

TEST(Dispatcher, BatchResultIsLastPiece)
{
    EXPECT_EQ(test::Run(L"BATC EVAL x=3;EVAL 1=z"), 0u);
    EXPECT_EQ(Variable(1), L"z");
}

TEST(Dispatcher, ShortKeywordIsAFileName)
{
    EXPECT_EQ(test::Run(L"LOA"), 2u);             // no such file in the root folder
}

} // namespace

namespace {

std::wstring recorded;

DWORD Record(const wchar_t* line, const wchar_t* args, ScriptContext&)
{
    recorded += std::wstring(line, 4) + L"(" + args + L")";
    return 77;
}

DWORD RecordOther(const wchar_t*, const wchar_t* args, ScriptContext&)
{
    recorded += L"(" + std::wstring(args) + L")";
    return 77;
}

const KeywordEntry RECORDING_KEYWORDS[] = {
    {L"IFEX", CommandIfex}, {L"EVAL", Record}, {L"FILE", Record}, {L"WAIT", Record},
};
const ScriptLanguage RECORDING = {RECORDING_KEYWORDS, ARRAYSIZE(RECORDING_KEYWORDS), RecordOther, nullptr, 0, nullptr, nullptr};

TEST(Dispatcher, HandlersGetTheirArgumentsAndOtherLinesGoToTheLanguage)
{
    recorded.clear();
    enginetest::LanguageScope language(&RECORDING);
    DWORD result = test::Run(L"eval 1=x\nFILE a,b\nWAIT \t 99999999\nC:\\doc.txt\nIFEX 1==1,EVAL x=1\nTOOL");
    EXPECT_EQ(result, 77u);     // the last line's result
    EXPECT_EQ(recorded, L"eval(1=x)FILE(a\x01" L"b)WAIT(99999999)(C:\\doc.txt)EVAL(x=1)(TOOL)");
    EXPECT_EQ(test::Run(L"EVAL 1"), 77u);
    InstallScriptLanguage(nullptr);
    EXPECT_EQ(test::Run(L"EVAL 1"), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));   // no language: no keyword
    EXPECT_EQ(test::Run(L"[HKCU\\x]"), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
}

} // namespace
