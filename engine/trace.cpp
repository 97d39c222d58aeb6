#include "engine/engine.h"
#include "base/outward_calls.h"

// An opt-in copy of the console log for runs without a console: when VARNOLT_TRACE names
// a file (or "-" for standard output), every logged text is appended there as UTF-8, and
// so is the output document of every provisioning document, which the console never shows.

namespace {

constexpr size_t TRACE_PATH_CHARS = MAX_PATH_CHARS;

wchar_t tracePath[TRACE_PATH_CHARS];
LogSink documentTrace = nullptr;
LogSink failureTrace = nullptr;

void WriteUtf8(HANDLE file, const wchar_t* text)
{
    char bytes[1024];
    size_t length = wcslen(text);
    while (length > 0) {
        int chunk = static_cast<int>(length < 256 ? length : 256);
        if (chunk == 256 && IS_HIGH_SURROGATE(text[chunk - 1]))
            --chunk;
        int count = WideCharToMultiByte(CP_UTF8, 0, text, chunk, bytes, sizeof bytes, nullptr, nullptr);
        DWORD written = 0;
        outwardCalls.writeFile(file, bytes, static_cast<DWORD>(count), &written, nullptr);
        text += chunk;
        length -= chunk;
    }
}

void WriteToStandardOutput(const wchar_t* text)
{
    WriteUtf8(GetStdHandle(STD_OUTPUT_HANDLE), text);
}

void AppendToTraceFile(const wchar_t* text)
{
    HANDLE file = CreateFileW(tracePath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    WriteUtf8(file, text);
    CloseHandle(file);
}

// The document's result entry, then the document itself and an empty line.
void WriteDocumentToTrace(const wchar_t* document, DWORD result)
{
    wchar_t entry[MAX_PATH_CHARS];
    FormatResultEntry(entry, result);
    documentTrace(entry);
    documentTrace(document);
    documentTrace(L"\r\n");
}

// A line of its own after the failing line's result entry, indented less than the entry.
// A line typed on the command line or in the console has no file to point at.
void WriteFailureToTrace(const wchar_t* file, unsigned line)
{
    if (!file)
        return;
    wchar_t number[24];
    wsprintfW(number, L"(%u)\r\n", line);
    failureTrace(L"  at ");
    failureTrace(file);
    failureTrace(number);
}

} // namespace

LogSink TraceSinkFromEnvironment()
{
    DWORD length = GetEnvironmentVariableW(L"VARNOLT_TRACE", tracePath, TRACE_PATH_CHARS);
    if (length == 0 || length >= TRACE_PATH_CHARS)
        return nullptr;
    return wcscmp(tracePath, L"-") == 0 ? WriteToStandardOutput : AppendToTraceFile;
}

DocumentSink TraceDocumentSinkFromEnvironment()
{
    documentTrace = TraceSinkFromEnvironment();
    return documentTrace ? WriteDocumentToTrace : nullptr;
}

FailureSink TraceFailureSinkFromEnvironment()
{
    failureTrace = TraceSinkFromEnvironment();
    return failureTrace ? WriteFailureToTrace : nullptr;
}
