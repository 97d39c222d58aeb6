#include "engine/engine.h"
#include "base/buffer.h"
#include "base/changes.h"
#include "platform/platform.h"
#include <shlobj.h>
#include <cwchar>

wchar_t END_OF_SCRIPT[1] = {};

namespace {

constexpr LCID USER_DEFAULT_LOCALE = 1024;
constexpr size_t DATE_TIME_CHARS = 80;

int runDepth = 0;
LogSink logSink = nullptr;
DocumentSink documentSink = nullptr;

// The run's line buffer, reserved whole when the run starts. A line that does not fit
// with its NUL is marked as overflowing instead of being cut; the rest of it is read and
// dropped.
struct LineWriter {
    Buffer<wchar_t, LINE_BUFFER_CHARS> line;
    bool overflow;
};

void Append(LineWriter& out, wchar_t unit)
{
    if (!AppendValue(out.line, unit))
        out.overflow = true;
}

void AppendText(LineWriter& out, const wchar_t* text)
{
    while (*text)
        Append(out, *text++);
}

void AppendSpecialFolder(LineWriter& out, int folder)
{
    wchar_t path[MAX_PATH_CHARS];
    if (SHGetSpecialFolderPathW(nullptr, path, folder, TRUE))
        AppendText(out, path);
}

void AppendScriptFolder(LineWriter& out, const wchar_t* scriptPath)
{
    const wchar_t* lastBackslash = wcsrchr(scriptPath, L'\\');
    for (const wchar_t* p = scriptPath; lastBackslash && p < lastBackslash; ++p)
        Append(out, *p);
}

void AppendDateOrTime(LineWriter& out, bool date)
{
    wchar_t text[DATE_TIME_CHARS];
    int written = date ? GetDateFormatW(USER_DEFAULT_LOCALE, 0, nullptr, nullptr, text, DATE_TIME_CHARS)
                       : GetTimeFormatW(USER_DEFAULT_LOCALE, 0, nullptr, nullptr, text, DATE_TIME_CHARS);
    if (written > 0)
        AppendText(out, text);
}

void AppendNumber(LineWriter& out, const wchar_t* format, DWORD value)
{
    wchar_t text[16];
    wsprintfW(text, format, value);
    AppendText(out, text);
}

// Writes what the escape '%' + 'escape' stands for.
void ExpandEscape(LineWriter& out, wchar_t escape, const ScriptContext& context)
{
    if (escape >= L'0' && escape <= L'9') {
        AppendText(out, ScriptVariables[escape - L'0']);
        return;
    }
    switch (escape) {
    case L'A': AppendSpecialFolder(out, CSIDL_APPDATA); break;
    case L'C': AppendScriptFolder(out, context.scriptPath); break;
    case L'D': AppendDateOrTime(out, true); break;
    case L'E': AppendText(out, context.scriptPath); break;
    case L'F': AppendSpecialFolder(out, CSIDL_PROGRAM_FILES); break;
    case L'M': AppendSpecialFolder(out, CSIDL_STARTMENU); break;
    case L'N': Append(out, L'\n'); break;
    case L'P': AppendSpecialFolder(out, CSIDL_PROGRAMS); break;
    case L'R': Append(out, L'\r'); break;
    case L'S': AppendSpecialFolder(out, CSIDL_STARTUP); break;
    case L'T': AppendDateOrTime(out, false); break;
    case L'V': AppendSpecialFolder(out, CSIDL_FAVORITES); break;
    case L'W': AppendSpecialFolder(out, CSIDL_WINDOWS); break;
    case L'X': AppendNumber(out, L"%#X", context.lastResult); break;
    case L'Y': AppendSpecialFolder(out, CSIDL_PERSONAL); break;
    case L'x': AppendNumber(out, L"%d", context.lastResult); break;
    default: Append(out, escape); break;
    }
}

// Reads the escape after a '%' at the cursor. A '%' or '%#' cut short by the end of the
// text produces nothing and leaves the cursor on the terminating NUL.
void ReadEscape(LineWriter& out, ScriptContext& context)
{
    wchar_t escape = *context.cursor;
    if (!escape)
        return;
    ++context.cursor;
    if (escape != L'#') {
        ExpandEscape(out, escape, context);
        return;
    }
    unsigned value = 0;
    for (int digit = 0; digit < 4; ++digit) {
        if (!*context.cursor)
            return;
        int digitValue = HexDigitValue(*context.cursor++);
        value = value * 16 + (digitValue < 0 ? 0 : digitValue);   // a non-digit counts as 0
    }
    Append(out, static_cast<wchar_t>(value));
}

// Ends the line in the buffer and runs it. An overflowing command line is refused; a
// registry section or provisioning block still runs, as it reads the raw text anyway.
// Before each line the change observer may end the run (Stop): its answer is the result.
DWORD FinishLine(LineWriter& out, ScriptContext& context)
{
    bool overflow = out.overflow || out.line.count == LINE_BUFFER_CHARS;
    if (out.line.count == LINE_BUFFER_CHARS)
        --out.line.count;                           // the NUL's place
    out.line.items[out.line.count] = 0;
    out.line.count = 0;
    out.overflow = false;
    if (overflow) {
        wchar_t first = *SkipBlanks(out.line.items);
        if (first != L'[' && first != L'<')
            return context.lastResult = ERROR_BUFFER_OVERFLOW;
    }
    if (DWORD answer = ReportProgress(0); answer != ERROR_SUCCESS) {
        context.cursor = END_OF_SCRIPT;
        return context.lastResult = answer;
    }
    return RunLine(out.line.items, context);
}

// Hands the block from the '<' line up to the marker "<>" to the configuration manager.
// The marker's '<' is cut to NUL for the call and put back; the run goes on after the
// marker's line (or ends, without a marker).
DWORD RunProvisioningBlock(ScriptContext& context)
{
    wchar_t* marker = context.cursor;
    while (*marker && !(marker[0] == L'<' && marker[1] == L'>'))
        ++marker;
    bool found = *marker != 0;
    if (found)
        *marker = 0;
    context.lastResult = ApplyProvisioningDocument(context.lineStart);
    wchar_t* next = marker;
    if (found) {
        *marker = L'<';
        next = marker + 2;
    }
    while (*next && *next != L'\n')
        ++next;
    context.cursor = *next ? next + 1 : next;
    return context.lastResult;
}

// The '[' section at the line: the importer reads it from the raw text and leaves the
// cursor on the first line that is not registry text.
DWORD RunRegistrySection(ScriptContext& context)
{
    auto import = CurrentScriptLanguage().importRegistryText;
    if (!import)
        return context.lastResult = ERROR_CALL_NOT_IMPLEMENTED;
    return context.lastResult = import(context.lineStart, &context.cursor);
}

// Five spaces, the result as eight hex digits, a space, the system's message for it, and
// line breaks so that an empty line follows.
void ComposeResultEntry(wchar_t (&entry)[MAX_PATH_CHARS], DWORD result)
{
    constexpr size_t SUFFIX_CHARS = 4;
    int length = wsprintfW(entry, L"     %08X ", result);
    DWORD room = static_cast<DWORD>(MAX_PATH_CHARS - length - SUFFIX_CHARS - 1);
    length += FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, result, 0,
                             entry + length, room, nullptr);
    entry[length] = 0;
    bool endsWithLineFeed = length > 0 && entry[length - 1] == L'\n';
    StringCchCatW(entry, MAX_PATH_CHARS, endsWithLineFeed ? L"\r\n" : L"\r\n\r\n");
}

} // namespace

LogSink SetLogSink(LogSink sink)
{
    LogSink previous = logSink;
    logSink = sink;
    return previous;
}

DocumentSink SetDocumentSink(DocumentSink sink)
{
    DocumentSink previous = documentSink;
    documentSink = sink;
    return previous;
}

DWORD ApplyProvisioningDocument(const wchar_t* document)
{
    wchar_t* output = nullptr;
    DWORD result = static_cast<DWORD>(DMProcessConfigXML(document, CFGFLAG_PROCESS, &output));
    if (output && documentSink)
        documentSink(output, result);
    delete[] output;
    return result;
}

void FormatResultEntry(wchar_t (&entry)[MAX_PATH_CHARS], DWORD result)
{
    // A logged run repeats a handful of results: the system's message for each is looked
    // up once, not once per line.
    struct CachedEntry {
        bool isFilled;
        DWORD result;
        wchar_t entry[MAX_PATH_CHARS];
    };
    static CachedEntry cache[8];
    static size_t nextSlot = 0;
    for (const auto& cached : cache) {
        if (cached.isFilled && cached.result == result) {
            wmemcpy(entry, cached.entry, MAX_PATH_CHARS);
            return;
        }
    }
    ComposeResultEntry(entry, result);
    CachedEntry& slot = cache[nextSlot++ % ARRAYSIZE(cache)];
    slot.isFilled = true;
    slot.result = result;
    wmemcpy(slot.entry, entry, MAX_PATH_CHARS);
}

DWORD RunLine(const wchar_t* line, ScriptContext& context)
{
    line = SkipBlanks(line);
    switch (*line) {
    case 0:
    case L';':
        return context.lastResult;
    case L'[':
        return RunRegistrySection(context);
    case L'<':
        return RunProvisioningBlock(context);
    }
    LogSink sink = logSink;     // taken once: a line's result goes where the line went
    if (sink) {
        sink(line);
        sink(L"\r\n");
    }
    context.lastResult = DispatchCommand(line, context);
    if (sink) {
        wchar_t entry[MAX_PATH_CHARS];
        FormatResultEntry(entry, context.lastResult);
        sink(entry);
    }
    return context.lastResult;
}

// Runs 'text' line by line: escapes and commas are replaced while the line is copied
// into the run's own buffer, and each line end hands the line to RunLine. Runs nest
// (CALL, LOAD, the console); one that would go deeper than MAX_RUN_DEPTH is refused.
DWORD RunScript(wchar_t* text, const wchar_t* scriptPath)
{
    if (runDepth >= MAX_RUN_DEPTH)
        return ERROR_STACK_OVERFLOW;
    ScriptContext context{text, text, scriptPath ? scriptPath : L"", 0, 0};
    LineWriter out{};
    if (ReserveItems(out.line, LINE_BUFFER_CHARS) != ERROR_SUCCESS)
        return ERROR_NOT_ENOUGH_MEMORY;
    ++runDepth;
    for (;;) {
        wchar_t unit = *context.cursor;
        if (!unit)
            break;
        ++context.cursor;
        if (unit == L'\r' || unit == L'\n') {
            FinishLine(out, context);
            context.lineStart = context.cursor;
        } else if (unit == L'%') {
            ReadEscape(out, context);
        } else {
            Append(out, unit == L',' ? ARG_SEPARATOR : unit);
        }
    }
    DWORD result = FinishLine(out, context);
    ReleaseItems(out.line);
    --runDepth;
    return result;
}
