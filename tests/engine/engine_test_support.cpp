#include "engine_test_support.h"
#include "support/test_support.h"
#include <vector>

namespace enginetest {
namespace {

template <DWORD (*Handler)(wchar_t* args)>
DWORD Args(wchar_t*, wchar_t* args, ScriptContext&)
{
    return Handler(args);
}

const KeywordEntry TEST_KEYWORDS[] = {
    {L"LOAD", Args<LoadFile>},     {L"BATC", CommandBatc}, {L"IFEX", CommandIfex}, {L"ELSE", CommandElse},
    {L"CALL", CommandCall},        {L"GOTO", CommandGoto}, {L"PROC", CommandProc}, {L"ENDP", CommandEndp},
    {L"BEEP", CommandBeep},        {L"WAIT", CommandWait}, {L"EVAL", Args<EvaluateCommand>},
};

DWORD LoadAction(wchar_t* path, wchar_t*)
{
    return LoadFile(path);
}

const ExtensionEntry TEST_EXTENSIONS[] = {{L"vrs", LoadAction}};

// A section is recorded by its first line and skipped like the importer skips it.
DWORD RecordSection(wchar_t* text, wchar_t** cursor)
{
    const wchar_t* end = wcspbrk(text, L"\r\n");
    importerCalls += L"section:" + std::wstring(text, end ? end - text : wcslen(text)) + L";";
    *cursor = text + wcslen(text);
    return 0;
}

DWORD RecordRegistryFile(const wchar_t* path, size_t headerUnits)
{
    importerCalls += std::wstring(path) + L":" + std::to_wstring(headerUnits) + L";";
    return 0;
}

// The engine's tests share one language, installed before any test runs.
const LanguageScope installed(&TEST_LANGUAGE);

} // namespace

std::wstring importerCalls;

const ScriptLanguage TEST_LANGUAGE = {
    TEST_KEYWORDS,   ARRAYSIZE(TEST_KEYWORDS), CommandOpenFiles, TEST_EXTENSIONS, ARRAYSIZE(TEST_EXTENSIONS),
    RecordSection,   RecordRegistryFile,
};

} // namespace enginetest
