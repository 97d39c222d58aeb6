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
FailureSink failureSink = nullptr;

using LineWriter = ScriptLine;

void Append(LineWriter& out, wchar_t unit)
{
    if (!AppendValue(out.units, unit))
        out.overflow = true;
}

// Checking: an escape whose text only a run knows writes nothing and is noted. A
// variable's text may hold anything, separators and ';' too.
bool IsKnownOnlyToTheRun(LineWriter& out, bool isVariable)
{
    if (!out.checking)
        return false;
    if (out.unknownFrom == NOTHING_UNKNOWN)
        out.unknownFrom = out.units.count;
    if (isVariable && out.variableFrom == NOTHING_UNKNOWN)
        out.variableFrom = out.units.count;
    return true;
}

void AppendText(LineWriter& out, const wchar_t* text)
{
    while (*text)
        Append(out, *text++);
}

// A run creates the folder when it is missing; a check only looks its path up.
void AppendSpecialFolder(LineWriter& out, int folder)
{
    wchar_t path[MAX_PATH_CHARS];
    bool found = out.checking ? SUCCEEDED(SHGetFolderPathW(nullptr, folder | CSIDL_FLAG_DONT_VERIFY, nullptr,
                                                           SHGFP_TYPE_CURRENT, path))
                              : SHGetSpecialFolderPathW(nullptr, path, folder, TRUE);
    if (found)
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
    if (IsKnownOnlyToTheRun(out, false))
        return;
    wchar_t text[DATE_TIME_CHARS];
    int written = date ? GetDateFormatW(USER_DEFAULT_LOCALE, 0, nullptr, nullptr, text, DATE_TIME_CHARS)
                       : GetTimeFormatW(USER_DEFAULT_LOCALE, 0, nullptr, nullptr, text, DATE_TIME_CHARS);
    if (written > 0)
        AppendText(out, text);
}

void AppendNumber(LineWriter& out, const wchar_t* format, DWORD value)
{
    if (IsKnownOnlyToTheRun(out, false))
        return;
    wchar_t text[16];
    wsprintfW(text, format, value);
    AppendText(out, text);
}

// Writes what the escape '%' + 'escape' stands for.
void ExpandEscape(LineWriter& out, wchar_t escape, const ScriptContext& context)
{
    if (escape >= L'0' && escape <= L'9') {
        if (!IsKnownOnlyToTheRun(out, true))
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

// Ends the line in the buffer; a line that leaves no room for its NUL overflows.
void EndLine(LineWriter& out)
{
    if (out.units.count == LINE_BUFFER_CHARS) {
        out.overflow = true;
        --out.units.count;                          // the NUL's place
    }
    out.units.items[out.units.count] = 0;
}

// Runs the line cut into the buffer. An overflowing command line is refused; a registry
// section or provisioning block still runs, as it reads the raw text anyway.
// Before each line the change observer may end the run (Stop): its answer is the result.
DWORD FinishLine(const LineWriter& out, ScriptContext& context)
{
    if (out.overflow) {
        wchar_t first = *SkipBlanks(out.units.items);
        if (first != L'[' && first != L'<')
            return context.lastResult = ERROR_BUFFER_OVERFLOW;
    }
    if (DWORD answer = ReportProgress(0); answer != ERROR_SUCCESS) {
        context.cursor = END_OF_SCRIPT;
        return context.lastResult = answer;
    }
    return RunLine(out.units.items, context);
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

FailureSink SetFailureSink(FailureSink sink)
{
    FailureSink previous = failureSink;
    failureSink = sink;
    return previous;
}

unsigned LineNumberAt(TextOrigin& origin, const wchar_t* lineStart)
{
    const wchar_t* at = origin.countedTo;
    if (!at || lineStart < at)
        return origin.linesBefore + 1;      // never behind where the count stands
    unsigned lines = origin.linesBefore;
    for (; at < lineStart; ++at)
        if (*at == L'\n' || (*at == L'\r' && at[1] != L'\n'))
            ++lines;
    origin.countedTo = lineStart;
    origin.linesBefore = lines;
    return lines + 1;
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
    if (failureSink && context.lastResult != ERROR_SUCCESS)
        failureSink(context.origin.file, LineNumberAt(context.origin, context.lineStart));
    return context.lastResult;
}

bool CutScriptLine(ScriptLine& line, ScriptContext& context)
{
    line.units.count = 0;
    line.overflow = false;
    line.unknownFrom = line.variableFrom = NOTHING_UNKNOWN;
    bool lineBreak = false;
    for (;;) {
        wchar_t unit = *context.cursor;
        if (!unit)
            break;
        ++context.cursor;
        if (unit == L'\r' || unit == L'\n') {
            lineBreak = true;
            break;
        }
        if (unit == L'%')
            ReadEscape(line, context);
        else
            Append(line, unit == L',' ? ARG_SEPARATOR : unit);
    }
    EndLine(line);
    return lineBreak;
}

// Runs 'text' line by line: escapes and commas are replaced while the line is copied
// into the run's own buffer, and each line end hands the line to RunLine. Runs nest
// (CALL, LOAD, the console); one that would go deeper than MAX_RUN_DEPTH is refused.
DWORD RunScript(wchar_t* text, const wchar_t* scriptPath, const TextOrigin* origin)
{
    if (runDepth >= MAX_RUN_DEPTH)
        return ERROR_STACK_OVERFLOW;
    ScriptContext context{text, text, scriptPath ? scriptPath : L"", 0, 0, origin ? *origin : TextOrigin{nullptr, text, 0}};
    LineWriter out{};
    if (ReserveItems(out.units, LINE_BUFFER_CHARS) != ERROR_SUCCESS)
        return ERROR_NOT_ENOUGH_MEMORY;
    ++runDepth;
    DWORD result;
    for (;;) {
        bool lineBreak = CutScriptLine(out, context);
        result = FinishLine(out, context);
        if (!lineBreak)
            break;
        context.lineStart = context.cursor;
    }
    ReleaseItems(out.units);
    --runDepth;
    return result;
}
