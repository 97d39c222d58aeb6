#include "engine/engine.h"
#include "base/changes.h"
#include "engine_test_support.h"
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <shlobj.h>
#include <algorithm>
#include <vector>

namespace {

std::wstring Variable(int index)
{
    return ScriptVariables[index];
}

struct EscapeCase {
    const wchar_t* script;   // assigned to variable 1
    const wchar_t* expected;
    int line;
};
#define ESCAPE_CASE(s, e) {s, e, __LINE__}

const EscapeCase ESCAPE_CASES[] = {
    ESCAPE_CASE(L"EVAL 1=a%%b", L"a%b"),
    ESCAPE_CASE(L"EVAL 1=a%,b", L"a,b"),
    ESCAPE_CASE(L"EVAL 1=a,b", L"a\x01" L"b"),
    ESCAPE_CASE(L"EVAL 1=%;", L";"),
    ESCAPE_CASE(L"EVAL 1=%q%Z", L"qZ"),               // letters without meaning give themselves
    ESCAPE_CASE(L"EVAL 1=%#0041%#002C", L"A,"),        // a comma from an escape is no separator
    ESCAPE_CASE(L"EVAL 1=%#00e9", L"\x00e9"),          // lower-case hex digits
    ESCAPE_CASE(L"EVAL 1=a%#zzzzb", L"a"),             // non-digits count as 0: the line ends there
    ESCAPE_CASE(L"EVAL 1=x%N%Ry", L"x\n\ry"),          // line breaks from escapes stay in the line
    ESCAPE_CASE(L"EVAL 1=%E", L"C:\\test\\script.vrs"),
    ESCAPE_CASE(L"EVAL 1=%C", L"C:\\test"),
    ESCAPE_CASE(L"EVAL 1=a%", L"a"),                   // '%' at the very end
    ESCAPE_CASE(L"EVAL 1=a%#00", L"a"),                // '%#' cut short by the end
    ESCAPE_CASE(L"EVAL 1=a%#", L"a"),
    ESCAPE_CASE(L"EVAL 1=a%\nb", L"a\nb"),             // '%' before a line feed keeps it in the line
};

TEST(Runner, Escapes)
{
    for (const auto& c : ESCAPE_CASES) {
        ScriptVariables[1][0] = 0;
        test::Run(c.script);
        EXPECT_EQ(Variable(1), c.expected) << "case at line " << c.line;
    }
}

TEST(Runner, ScriptFolderOfPathWithoutBackslashIsEmpty)
{
    test::Run(L"EVAL 1=[%C]", L"script.vrs");
    EXPECT_EQ(Variable(1), L"[]");
}

TEST(Runner, LastResultEscapes)
{
    test::Run(L"EVAL x=-2\nEVAL 1=%x\nEVAL x=255\nEVAL 2=%X");
    EXPECT_EQ(Variable(1), L"-2");
    EXPECT_EQ(Variable(2), L"0XFF");
}

TEST(Runner, SpecialFoldersAndDateExpandToSomething)
{
    const struct {
        wchar_t escape;
        int folder;
    } folders[] = {
        {L'A', CSIDL_APPDATA},  {L'F', CSIDL_PROGRAM_FILES}, {L'M', CSIDL_STARTMENU}, {L'P', CSIDL_PROGRAMS},
        {L'S', CSIDL_STARTUP},  {L'V', CSIDL_FAVORITES},     {L'W', CSIDL_WINDOWS},   {L'Y', CSIDL_PERSONAL},
    };
    for (const auto& f : folders) {
        wchar_t expected[MAX_PATH] = L"";
        ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, expected, f.folder, TRUE)) << static_cast<char>(f.escape);
        test::Run(std::wstring(L"EVAL 1=[%") + f.escape + L"]");
        EXPECT_EQ(Variable(1), L"[" + std::wstring(expected) + L"]") << static_cast<char>(f.escape);
    }
    test::Run(L"EVAL 1=%W\nEVAL 2=%D\nEVAL 3=%T");
    EXPECT_EQ(Variable(1).substr(1), L":\\windows");
    EXPECT_FALSE(Variable(2).empty());
    EXPECT_FALSE(Variable(3).empty());
}

TEST(Runner, ResultOfLastCommandLineSurvivesTrailingLines)
{
    EXPECT_EQ(test::Run(L"EVAL x=7"), 7u);                          // no terminator
    EXPECT_EQ(test::Run(L"EVAL x=7\r\n"), 7u);                      // final empty line
    EXPECT_EQ(test::Run(L"EVAL x=7\r\n; comment\r\n\r\n"), 7u);     // comments keep it
    EXPECT_EQ(test::Run(L"  \t EVAL x=8"), 8u);                     // leading blanks
    EXPECT_EQ(test::Run(L"   ;EVAL x=8"), 0u);
    EXPECT_EQ(test::Run(L""), 0u);
}

// An observer whose progress lets 'allowed' calls pass and answers Stop to every later one.
struct StopAfter {
    int allowed;
    int calls;
};

DWORD CountDown(void* context, ULONGLONG)
{
    auto& stop = *static_cast<StopAfter*>(context);
    return stop.calls++ < stop.allowed ? ERROR_SUCCESS : ERROR_CANCELLED;
}

TEST(Runner, ObserverStopsTheRunBetweenLinesAndInsideWait)
{
    struct StopCase {
        const wchar_t* script;
        int allowed;
        const wchar_t* variable;    // variable 1 after the run
        int line;
    };
    const StopCase CASES[] = {
        {L"EVAL 1=a\nEVAL 1=b\nEVAL 1=c", 2, L"b", __LINE__},      // the third line never runs
        {L"EVAL 1=a\nWAIT 60000", 4, L"a", __LINE__},               // the wait's result is the answer
        {L"CALL P\nEVAL 1=c\nPROC P\nEVAL 1=p\nEVAL 1=q\nENDP", 2, L"p", __LINE__},   // nested runs end too
    };
    for (const auto& c : CASES) {
        ScriptVariables[1][0] = 0;
        StopAfter stop{c.allowed, 0};
        ChangeObserver observer{nullptr, nullptr, CountDown, &stop};
        const ChangeObserver* previous = SetChangeObserver(&observer);
        DWORD result = test::Run(c.script);
        SetChangeObserver(previous);
        EXPECT_EQ(result, static_cast<DWORD>(ERROR_CANCELLED)) << "case at line " << c.line;
        EXPECT_EQ(Variable(1), c.variable) << "case at line " << c.line;
    }
}

TEST(Runner, CommentKeepsResultForPercentX)
{
    test::Run(L"EVAL x=5\n; note\nEVAL 1=%x");
    EXPECT_EQ(Variable(1), L"5");
}

TEST(Runner, OverlongLineIsRefusedAndRunGoesOn)
{
    std::wstring longLine = L"EVAL 1=" + std::wstring(5000, L'a');
    EXPECT_EQ(test::Run(longLine), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
    EXPECT_EQ(test::Run(longLine + L"\nEVAL x=3"), 3u);
    // Expansion can overflow too: a 250-unit variable expanded 20 times.
    test::Run(L"EVAL 2=" + std::wstring(250, L'b'));
    EXPECT_EQ(test::Run(L"EVAL 1=%2%2%2%2%2%2%2%2%2%2%2%2%2%2%2%2%2%2%2%2"), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
    // Exactly full: 4095 units fit.
    std::wstring fits = L"EVAL x=4" + std::wstring(4095 - 8, L' ');
    EXPECT_EQ(test::Run(fits), 4u);
    EXPECT_EQ(test::Run(fits + L" "), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
}

std::wstring logged;
std::wstring documents;

void RecordLine(const wchar_t* text)
{
    logged += text;
}

void RecordDocument(const wchar_t* document, DWORD result)
{
    wchar_t number[16];
    swprintf(number, 16, L"%08lX:", static_cast<unsigned long>(result));
    documents += number + std::wstring(document);
}

// The block goes to the configuration manager and its output to the document sink, never
// to the line log; the run continues after the marker's line.
TEST(Runner, ProvisioningBlockGoesToConfigurationManager)
{
    LogSink previousLog = SetLogSink(RecordLine);
    DocumentSink previousDocuments = SetDocumentSink(RecordDocument);
    logged.clear();
    documents.clear();
    enginetest::documentCalls.clear();
    std::wstring script = L"<wap-provisioningdoc>\n<x/>\n</wap-provisioningdoc><> rest\nEVAL 1=after,%X";
    test::Run(script);
    EXPECT_EQ(Variable(1), L"after\x01" L"0X80070032");          // the configuration manager's result
    EXPECT_EQ(documents, L"80070032:<echo><wap-provisioningdoc>\n<x/>\n</wap-provisioningdoc>") << test::Utf8(documents);
    EXPECT_EQ(logged.find(L"<"), std::wstring::npos) << test::Utf8(logged);
    EXPECT_EQ(test::Run(L"EVAL x=1\n<doc/>"), enginetest::DOCUMENT_RESULT);
    EXPECT_EQ(test::Run(L"<doc/>\nEVAL x=2"), enginetest::DOCUMENT_RESULT);
    EXPECT_EQ(enginetest::documentCalls, L"<wap-provisioningdoc>\n<x/>\n</wap-provisioningdoc>|<doc/>|<doc/>\nEVAL x=2|")
        << test::Utf8(enginetest::documentCalls);          // no marker: to the end
    SetLogSink(previousLog);
    SetDocumentSink(previousDocuments);
}

TEST(Runner, NestingIsCapped)
{
    // Procedures nested 80 deep: the run at depth 64 refuses to go deeper.
    std::wstring script;
    for (int i = 0; i < 80; ++i)
        script += L"CALL p" + std::to_wstring(i) + L"\nPROC p" + std::to_wstring(i) + L"\n";
    script += L"EVAL 1=deepest\n";
    ScriptVariables[1][0] = 0;
    test::Run(script);
    EXPECT_EQ(Variable(1), L"");
    script = L"CALL p0\nENDP\nPROC p0\nCALL p1\nEVAL x=%x\nENDP\nPROC p1\nEVAL x=9\nENDP\n";
    EXPECT_EQ(test::Run(script), 0u);   // a procedure that ends with ENDP returns 0
}

} // namespace

namespace {

DWORD Ignore(const wchar_t*, const wchar_t*, ScriptContext&)
{
    return 0;
}

// The engine's own keywords; every other line, and any file it could name, is ignored.
const KeywordEntry FLOW_KEYWORDS[] = {
    {L"BATC", CommandBatc}, {L"IFEX", CommandIfex}, {L"ELSE", CommandElse}, {L"CALL", CommandCall},
    {L"GOTO", CommandGoto}, {L"PROC", CommandProc}, {L"ENDP", CommandEndp}, {L"EVAL", Ignore},
};
const ScriptLanguage FLOW_ONLY = {FLOW_KEYWORDS, ARRAYSIZE(FLOW_KEYWORDS), Ignore, nullptr, 0, nullptr, nullptr};

// Random text built from pieces that steer the runner into its corners: escapes cut off at
// the end, separators, blocks without ends, labels that are missing, long runs.
std::wstring RandomScript(unsigned& seed)
{
    static const wchar_t* const PIECES[] = {
        L"%", L"%#", L"%#00", L"%#0041", L",", L"\r", L"\n", L"\r\n", L"IFEX ", L"IFEX\n", L"ELSE ",
        L"CALL ", L"GOTO ", L"PROC ", L"ENDP", L"BATC ", L";", L"EVAL ", L"1=", L"x=", L"%1", L"%x",
        L"==", L"!=", L"&&", L"||", L"!", L"<", L">", L"[", L"<>", L" ", L"\t", L"a", L"\x4e2d", L"\xffff",
    };
    std::wstring text;
    seed = seed * 1103515245 + 12345;
    int pieces = static_cast<int>(seed >> 16) % 60;
    for (int i = 0; i < pieces; ++i) {
        seed = seed * 1103515245 + 12345;
        unsigned pick = (seed >> 16) % (ARRAYSIZE(PIECES) + 1);
        if (pick == ARRAYSIZE(PIECES))
            text.append(1000, L'z');
        else
            text += PIECES[pick];
    }
    return text;
}

// Every garbage run ends with one of the results this language can give, and leaves its
// script text as it was given (a provisioning block's marker is cut only for its call).
TEST(Runner, GarbageGivesResultsNotCrashes)
{
    enginetest::LanguageScope language(&FLOW_ONLY);
    const DWORD knownResults[] = {0, RESULT_NOT_FOUND, ERROR_BUFFER_OVERFLOW, ERROR_STACK_OVERFLOW,
                                  enginetest::DOCUMENT_RESULT};
    unsigned seed = 2026;
    for (int i = 0; i < 2000; ++i) {
        std::wstring script = RandomScript(seed);
        if (script.find(L'[') != std::wstring::npos)
            continue;                   // registry sections write to the registry
        std::vector<wchar_t> text(script.begin(), script.end());
        text.push_back(0);
        DWORD result = RunScript(text.data(), L"C:\\test\\garbage.vrs");
        EXPECT_NE(std::find(std::begin(knownResults), std::end(knownResults), result), std::end(knownResults))
            << "run " << i << " gave " << result;
        EXPECT_EQ(std::wstring(text.data()), script) << "run " << i;
    }
}

} // namespace
