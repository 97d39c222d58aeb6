// The script engine: start-up, the line runner, keyword dispatch, flow control, conditions,
// script loading and the default file action. It knows the command families only through
// the language tables it is given (see InstallScriptLanguage).
#pragma once
#include "base/base.h"

constexpr int MAX_RUN_DEPTH = 64;

struct ScriptContext {
    wchar_t* lineStart;
    wchar_t* cursor;
    const wchar_t* scriptPath;
    DWORD lastResult;
    DWORD elseFlag;
};

// Every keyword handler gets the line (from its keyword on), the argument text after the
// keyword and its blanks, and the run's context; each takes what it needs. Neither text is
// written to: a handler cuts its argument into pieces (TextPiece) and copies out only what
// a call needs ended.
using CommandHandler = DWORD (*)(const wchar_t* line, const wchar_t* args, ScriptContext& context);

struct KeywordEntry {
    wchar_t name[5];
    CommandHandler handler;
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
};

// Where executed lines and their results are reported, as text in the log format.
using LogSink = void (*)(const wchar_t* text);
// Where the output document of each provisioning document goes, with the document's result.
using DocumentSink = void (*)(const wchar_t* document, DWORD result);

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
[[nodiscard]] DWORD RunScript(wchar_t* text, const wchar_t* scriptPath);
DWORD RunLine(const wchar_t* line, ScriptContext& context);
// Makes 'sink' receive every executed line and its result entry (nullptr: none). Returns
// the previous sink, which a new one may pass the text on to.
LogSink SetLogSink(LogSink sink);
// Makes 'sink' receive the output document of every provisioning document (nullptr: none).
// Returns the previous sink.
DocumentSink SetDocumentSink(DocumentSink sink);
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

// conditions.cpp
// A condition is one comparison of numbers or texts, or, without an operator, the test
// whether a path exists; a leading '!' negates it. The piece ends at a separator or at the
// text's end, where every number read from it stops.
bool EvaluateCondition(TextPiece condition);
[[nodiscard]] DWORD EvaluateCommand(const wchar_t* args);

// loading.cpp
[[nodiscard]] DWORD LoadFile(const wchar_t* path);
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
