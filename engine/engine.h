// The script engine: start-up values, the line runner, the dispatcher, conditions,
// text and path routines and file loading.
#pragma once
#include <windows.h>
#include <strsafe.h>
#include <cstddef>

constexpr size_t MAX_PATH_CHARS = 260;
constexpr size_t LINE_BUFFER_CHARS = 4096;
constexpr size_t VARIABLE_COUNT = 10;
constexpr wchar_t ARG_SEPARATOR = 1;
constexpr int MAX_RUN_DEPTH = 64;

// Engine result codes besides the platform's own.
constexpr DWORD RESULT_NOT_FOUND = 1;       // block end, label or procedure end not found; failed beep
constexpr DWORD RESULT_NO_FILE = 2;         // nothing matched a file pattern
constexpr DWORD RESULT_UNREADABLE = 110;    // ERROR_OPEN_FAILED: a file that cannot be read

struct ScriptContext {
    wchar_t* lineStart;
    wchar_t* cursor;
    const wchar_t* scriptPath;
    DWORD lastResult;
    DWORD elseFlag;
};

// Copies 'src' into a fixed buffer; a text that does not fit is an error, never cut.
template <size_t N>
[[nodiscard]] DWORD CopyText(wchar_t (&dest)[N], const wchar_t* src)
{
    return SUCCEEDED(StringCchCopyW(dest, N, src)) ? ERROR_SUCCESS : ERROR_INSUFFICIENT_BUFFER;
}

// entry.cpp
extern HINSTANCE instanceHandle;
extern const wchar_t* applicationTitle;
void InitializeProgram(HINSTANCE instance);
wchar_t* StripQuotes(wchar_t* text, wchar_t quote);
[[nodiscard]] DWORD RunCommandLine(wchar_t* commandLine);

// runner.cpp
extern wchar_t END_OF_SCRIPT[1];
extern wchar_t ScriptVariables[VARIABLE_COUNT][MAX_PATH_CHARS];
[[nodiscard]] DWORD RunScript(wchar_t* text, const wchar_t* scriptPath);
DWORD RunLine(wchar_t* line, ScriptContext& context);
void AppendToConsoleLog(const wchar_t* text);
void FormatResultEntry(wchar_t (&entry)[MAX_PATH_CHARS], DWORD result);

// trace.cpp
bool IsTraceEnabled();
void WriteTrace(const wchar_t* text);

// dispatcher.cpp
// When set (by test harnesses), commands that act on the machine, and lines without a
// keyword (keyword ""), go to it instead of their handlers; flow control still runs.
using CommandInterceptor = DWORD (*)(const wchar_t* keyword, wchar_t* args);
extern CommandInterceptor commandInterceptor;
[[nodiscard]] DWORD DispatchCommand(wchar_t* line, ScriptContext& context);
[[nodiscard]] DWORD RunBatch(wchar_t* args, ScriptContext& context);
struct BlankDialogTemplate {
    DLGTEMPLATE header;
    WORD menu;
    WORD windowClass;
    wchar_t title[80];
};
void FillBlankDialogTemplate(BlankDialogTemplate& dialog, const wchar_t* title);

// text.cpp
bool CharEqualsNoCase(wchar_t a, wchar_t b);
size_t MatchPrefix(const wchar_t* subject, const wchar_t* other);
size_t MatchPrefixNoCase(const wchar_t* subject, const wchar_t* other);
wchar_t* CutAtSeparator(wchar_t* text);
int HexDigitValue(wchar_t digit);

// conditions.cpp
bool EvaluateCondition(wchar_t* condition);
[[nodiscard]] DWORD EvaluateCommand(wchar_t* args);

// paths.cpp
using FileVisitor = DWORD (*)(void* userData, const wchar_t* folder, const WIN32_FIND_DATAW& found);
const wchar_t* FindNoCase(const wchar_t* text, const wchar_t* needle);
bool WildcardMatch(const wchar_t* name, const wchar_t* pattern);
wchar_t* SplitLastComponent(wchar_t*& path);
[[nodiscard]] DWORD EnumerateFiles(FileVisitor visitor, void* userData, const wchar_t* folder, const wchar_t* pattern);

// files.cpp
HANDLE OpenFileForAccess(const wchar_t* path, DWORD access);
wchar_t* ReadTextFile(const wchar_t* path, DWORD* byteCount);
void* ReadFileBytes(const wchar_t* path, DWORD* byteCount, void* buffer);
DWORD WriteFileBytes(const wchar_t* path, const void* data, DWORD byteCount, bool append);
[[nodiscard]] DWORD LoadFile(wchar_t* path);
[[nodiscard]] DWORD OpenFilesByPattern(wchar_t* line);
