// The script engine: start-up, the line runner, keyword dispatch, flow control, conditions,
// script loading and the default file action. It knows the command families only through
// the language tables it is given (see InstallScriptLanguage).
#pragma once
#include "base/base.h"
#include "base/buffer.h"
#include "base/findings.h"

constexpr int MAX_RUN_DEPTH = 64;

// Where a run's text lies in its file, so that a line can be named by file and line:
// 'file' (nullptr for a command line), and the lines of the file that lie before
// 'countedTo', a place in the text at or before the run's current line. Counted on only
// when a line's number is asked for (LineNumberAt).
struct TextOrigin {
    const wchar_t* file;
    const wchar_t* countedTo;
    unsigned linesBefore;
};

struct ScriptContext {
    wchar_t* lineStart;
    wchar_t* cursor;
    const wchar_t* scriptPath;
    DWORD lastResult;
    DWORD elseFlag;
    TextOrigin origin = {};
};

// Every keyword handler gets the line (from its keyword on), the argument text after the
// keyword and its blanks, and the run's context; each takes what it needs. Neither text is
// written to: a handler cuts its argument into pieces (TextPiece) and copies out only what
// a call needs ended.
using CommandHandler = DWORD (*)(const wchar_t* line, const wchar_t* args, ScriptContext& context);
// A keyword's check for the checker: reads the argument text as the handler would, with
// its family's own reader, runs nothing, and reports (ReportFinding) what the handler
// would refuse or misread, at its place in the text.
using ArgumentCheck = void (*)(const wchar_t* args);

struct KeywordEntry {
    wchar_t name[5];
    CommandHandler handler;
    ArgumentCheck check = nullptr;      // nothing to check
};

// What a file named on a line is made to do, chosen by its extension.
using FileAction = DWORD (*)(const wchar_t* path, const wchar_t* parameters);

struct ExtensionEntry {
    const wchar_t* extension;
    FileAction action;
};

// Everything the engine runs that it does not own: the keywords (searched in order, the
// first whose four letters start the line wins), what runs a line without keyword (the
// whole line is its argument text), the file actions by extension (anything else opens
// through the shell), and the registry importer behind '[' sections and registry files.
// A missing handler or importer makes its lines give ERROR_CALL_NOT_IMPLEMENTED.
struct ScriptLanguage {
    const KeywordEntry* keywords;
    size_t keywordCount;
    CommandHandler noKeyword;
    const ExtensionEntry* extensions;
    size_t extensionCount;
    // Imports .reg text; with a cursor it stops at the first foreign line and leaves the cursor there.
    DWORD (*importRegistryText)(wchar_t* text, wchar_t** cursor);
    // Imports a registry file from 'headerUnits' decoded units on.
    DWORD (*importRegistryFile)(const wchar_t* path, size_t headerUnits);
    // Checks a provisioning document without applying it and reports its refusal
    // (ReportFinding) at the place of the fault; nullptr: documents are not checked.
    HRESULT (*checkProvisioningDocument)(const wchar_t* xml) = nullptr;
};

// Where executed lines and their results are reported, as text in the log format.
using LogSink = void (*)(const wchar_t* text);
// Where the output document of each provisioning document goes, with the document's result.
using DocumentSink = void (*)(const wchar_t* document, DWORD result);
// Where the place of each line that fails (gives a result other than 0) goes: the file it
// came from (nullptr for a command line) and its line there, counted from 1.
using FailureSink = void (*)(const wchar_t* file, unsigned line);

// dispatcher.cpp
// Makes 'language' the one that runs; it must outlive every run. Returns the previous one.
const ScriptLanguage* InstallScriptLanguage(const ScriptLanguage* language);
const ScriptLanguage& CurrentScriptLanguage();
[[nodiscard]] DWORD DispatchCommand(const wchar_t* line, ScriptContext& context);

// flow.cpp: the keywords the engine runs itself
DWORD CommandBatc(const wchar_t* line, const wchar_t* args, ScriptContext& context);
DWORD CommandIfex(const wchar_t* line, const wchar_t* args, ScriptContext& context);
DWORD CommandElse(const wchar_t* line, const wchar_t* args, ScriptContext& context);
DWORD CommandCall(const wchar_t* line, const wchar_t* args, ScriptContext& context);
DWORD CommandGoto(const wchar_t* line, const wchar_t* args, ScriptContext& context);
DWORD CommandProc(const wchar_t* line, const wchar_t* args, ScriptContext& context);
DWORD CommandEndp(const wchar_t* line, const wchar_t* args, ScriptContext& context);
DWORD CommandWait(const wchar_t* line, const wchar_t* args, ScriptContext& context);
DWORD CommandBeep(const wchar_t* line, const wchar_t* args, ScriptContext& context);
// Runs each ';'-separated piece of 'args' as a line of its own; the last piece's result is
// the result.
[[nodiscard]] DWORD RunBatch(const wchar_t* args, ScriptContext& context);

// entry.cpp
void InitializeProgram(HINSTANCE instance);
wchar_t* StripQuotes(wchar_t* text, wchar_t quote);
[[nodiscard]] DWORD RunCommandLine(wchar_t* commandLine);

// runner.cpp
extern wchar_t END_OF_SCRIPT[1];
// A line as the runner cuts it from a script text: escapes written, commas turned into
// separators, ended with NUL. A line that does not fit the line buffer with its NUL is
// marked as overflowing instead of being cut; the rest of it is read and dropped. The
// checker cuts lines the same way with 'checking' set: then nothing is created (special
// folders are looked up, not made), and the escapes whose text only a run knows (%0-%9,
// %x, %X, %D, %T) write nothing and are marked.
struct ScriptLine {
    Buffer<wchar_t, LINE_BUFFER_CHARS> units;
    bool overflow;
    bool checking;
    size_t unknownFrom;         // checking: where the first such escape stands in the line
    size_t variableFrom;        // checking: where the first %0-%9 stands; its text may even hold separators
};
constexpr size_t NOTHING_UNKNOWN = static_cast<size_t>(-1);
// Cuts the line at the context's cursor into 'line', whose buffer is reserved whole, and
// moves the cursor past the CR or LF that ends it. False when the text's end ended it.
bool CutScriptLine(ScriptLine& line, ScriptContext& context);
// The number of the line that starts at 'lineStart' (at or after where 'origin' stands),
// counted from 1 at the start of its file; 'origin' moves there. CR LF, CR and LF each end
// one line.
unsigned LineNumberAt(TextOrigin& origin, const wchar_t* lineStart);
// Runs 'text'; 'origin' says where it lies in its file (nullptr: a command line of its own).
[[nodiscard]] DWORD RunScript(wchar_t* text, const wchar_t* scriptPath, const TextOrigin* origin = nullptr);
DWORD RunLine(const wchar_t* line, ScriptContext& context);
// Makes 'sink' receive every executed line and its result entry (nullptr: none). Returns
// the previous sink, which a new one may pass the text on to.
LogSink SetLogSink(LogSink sink);
// Makes 'sink' receive the output document of every provisioning document (nullptr: none).
// Returns the previous sink.
DocumentSink SetDocumentSink(DocumentSink sink);
// Makes 'sink' receive the place of every failing line (nullptr: none). Returns the
// previous sink.
FailureSink SetFailureSink(FailureSink sink);
void FormatResultEntry(wchar_t (&entry)[MAX_PATH_CHARS], DWORD result);
// Hands a provisioning document to the configuration manager and its output document to
// the document sink; the result is the configuration manager's.
[[nodiscard]] DWORD ApplyProvisioningDocument(const wchar_t* document);

// trace.cpp
// The VARNOLT_TRACE setting: a sink writing to the named file ("-": standard output), or
// nullptr when it is not set.
LogSink TraceSinkFromEnvironment();
// The same setting for output documents: each is written after its result entry.
DocumentSink TraceDocumentSinkFromEnvironment();
// The same setting for failing lines (a result other than 0) of a file: "  at file(line)"
// after the line's result entry.
FailureSink TraceFailureSinkFromEnvironment();

// conditions.cpp
// A condition is one comparison of numbers or texts, or, without an operator, the test
// whether a path exists; a leading '!' negates it. The piece ends at a separator or at the
// text's end, where every number read from it stops.
bool EvaluateCondition(TextPiece condition);
[[nodiscard]] DWORD EvaluateCommand(const wchar_t* args);

// loading.cpp
[[nodiscard]] DWORD LoadFile(const wchar_t* path);
DWORD CommandLoad(const wchar_t* line, const wchar_t* args, ScriptContext& context);
// The units in front of the registry text when 'start', the text after LOAD's leading
// blanks, begins with a registry file's header (the text before it, the header and the
// one line break after it); 0 when it begins with neither header.
size_t CountHeaderUnits(const wchar_t* text, const wchar_t* start);
// LOAD's leading blanks: line breaks, blanks and units from 127 on (a byte order mark).
const wchar_t* SkipLoadBlanks(const wchar_t* text);
// A line without keyword, "[!]folder\pattern[,parameters]", cut into read-only pieces.
struct OpenRequest {
    bool recursive;
    TextPiece path;             // the folder and pattern, '!' included
    const wchar_t* parameters;  // after the first separator; the empty text without one
};
OpenRequest ReadOpenRequest(const wchar_t* line);
[[nodiscard]] DWORD OpenFilesByPattern(const wchar_t* line);
// The default file action as a language's handler of lines without keyword.
DWORD CommandOpenFiles(const wchar_t* line, const wchar_t* args, ScriptContext& context);

// check.cpp
// A finding's code, whether it is an error (else a warning) and its message; '%s' in
// the message stands for the detail the checker gives (a keyword, a name, a path).
struct FindingRow {
    FindingCode code;
    bool isError;
    const wchar_t* message;
};
extern const FindingRow FINDING_ROWS[];
extern const size_t FINDING_ROW_COUNT;
// Receives the checker's output, a text at a time: each finding as a line
// "path(line,column): error|warning VRnnnn: message", and the count that closes it.
struct CheckOutput {
    void (*write)(void* context, const wchar_t* text);
    void* context;
};
// Checks the files that 'pattern' ("[!]folder\pattern") names, and every script they
// LOAD that can be named without running, each file once and each as LOAD reads it; runs
// nothing and changes nothing. 0 when no error was found, 1 otherwise.
[[nodiscard]] DWORD CheckScriptFiles(const wchar_t* pattern, const CheckOutput& output);
