#include "engine_test_support.h"
#include "platform/platform.h"
#include "support/test_support.h"
#include <vector>

namespace enginetest {
namespace {

template <DWORD (*Handler)(const wchar_t* args)>
DWORD Args(const wchar_t*, const wchar_t* args, ScriptContext&)
{
    return Handler(args);
}

const KeywordEntry TEST_KEYWORDS[] = {
    {L"LOAD", Args<LoadFile>},     {L"BATC", CommandBatc}, {L"IFEX", CommandIfex}, {L"ELSE", CommandElse},
    {L"CALL", CommandCall},        {L"GOTO", CommandGoto}, {L"PROC", CommandProc}, {L"ENDP", CommandEndp},
    {L"BEEP", CommandBeep},        {L"WAIT", CommandWait}, {L"EVAL", Args<EvaluateCommand>},
};

DWORD LoadAction(const wchar_t* path, const wchar_t*)
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

HRESULT RecordDocument(const wchar_t* xml, wchar_t** output)
{
    documentCalls += std::wstring(xml) + L"|";
    std::wstring echo = L"<echo>" + std::wstring(xml);
    if (output) {
        *output = new wchar_t[echo.size() + 1];
        wcscpy(*output, echo.c_str());
    }
    return static_cast<HRESULT>(DOCUMENT_RESULT);
}

// The engine's tests share one language and document recorder, installed before any test runs.
const LanguageScope installed(&TEST_LANGUAGE);
const ConfigurationProcessor previousProcessor = InstallConfigurationProcessor(RecordDocument);

} // namespace

std::wstring importerCalls;
std::wstring documentCalls;

const ScriptLanguage TEST_LANGUAGE = {
    TEST_KEYWORDS,   ARRAYSIZE(TEST_KEYWORDS), CommandOpenFiles, TEST_EXTENSIONS, ARRAYSIZE(TEST_EXTENSIONS),
    RecordSection,   RecordRegistryFile,
};

} // namespace enginetest
