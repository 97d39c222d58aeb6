// The top floor: the language tables that name every family's handlers, and the console,
// which runs lines through the engine.
#pragma once
#include "engine/engine.h"
#include "platform/platform.h"

// wiring.cpp
extern const ScriptLanguage VARNOLT_LANGUAGE;
// What stands behind the configuration manager's door: the registry family's processor.
extern const ConfigurationProcessor VARNOLT_CONFIGURATION_PROCESSOR;

// check_command.cpp
// Checks the files the pattern after "/check" names (see CheckScriptFiles) and writes the
// findings to standard output, or shows them in the help viewer without one. 0 when no
// error was found.
[[nodiscard]] DWORD CheckNamedScripts(wchar_t* pattern);

// console.cpp
extern HWND consoleMenuBar;             // the last console's menu bar
extern const wchar_t* consoleScriptPath;    // the script path the console's lines run with
[[nodiscard]] DWORD OpenConsole(const wchar_t* args, const wchar_t* scriptPath);
// Execute or Stop on the menu bar, as a run goes on or not; the browse button only between runs.
void ShowRunState(HWND dialog);
// Lays the controls out for the dialog's present size.
void LayOutConsole(HWND dialog);

// console_log.cpp
// Makes the dialog's log receive every executed line and its result, until CloseConsoleLog.
void OpenConsoleLog(HWND dialog);
void CloseConsoleLog();
// Hands what was logged since the last time to the log control, now or only when it was
// last done LOG_FLUSH_MS ago.
void FlushConsoleLog();
void FlushConsoleLogWhenDue();
void ClearConsoleLog();
// Adds string 'textId' to the log as an entry of its own (not passed on to the trace).
void AppendConsoleNote(UINT textId);
// Adds 'text' (whole entries: lines, then an empty line) to the log, not to the trace.
void AppendConsoleText(const wchar_t* text);
// The result entries logged so far: the lines that ran.
size_t CountResultEntries();

// console_run.cpp
// Runs 'line' with the console's script path while the console stays answering: at most
// one run at a time (a second gives ERROR_BUSY). Stop ends it with ERROR_CANCELLED.
DWORD RunConsoleLine(HWND dialog, wchar_t* line);
bool IsConsoleRunning();
// Makes the run end before its next line or change, and with 'thenClose' the console
// close after it.
void RequestConsoleStop(bool thenClose);

// console_history.cpp
// Reads the kept lines and lets Up and Down in 'field' walk through them.
void OpenConsoleHistory(HWND field);
// Puts 'line' first among the kept lines (once: an earlier copy goes) and keeps them.
void RememberConsoleLine(const wchar_t* line);
// The next Up starts again from the newest line.
void ForgetHistoryWalk();

// console_window.cpp
// A kept place of the desktop console: "left,top,width,height,maximized (0 or 1)".
struct ConsolePlace {
    RECT rect;
    bool isMaximized;
};
bool ParseConsolePlace(const wchar_t* text, ConsolePlace& place);
// Moves 'rect' into 'area', shrinking it where it is larger.
void FitRectInto(RECT& rect, const RECT& area);
// Full screen on a handheld or a phone-sized screen; elsewhere a resizable window where it
// was last closed.
void PlaceConsole(HWND dialog);
void KeepConsolePlace(HWND dialog);
void LimitConsoleSize(MINMAXINFO& limits);

// switches.cpp
// Runs the program's command line: the line of script with a journal, or what the
// switches at its start ask for (/changes, /undo [/force], /trial, /nojournal, /check, /?).
// The run's result; ERROR_INVALID_PARAMETER for switches that do not go together.
[[nodiscard]] DWORD RunProgramCommandLine(wchar_t* commandLine);
// At start, with the trace on: tells the trace of the runs that did not finish (once) and
// keeps the text for the console.
void TellUnfinishedRuns(LogSink trace);
// For the console when it opens: the runs that did not finish, handed to 'tell' once
// (nothing when there are none).
void TakeStartNotice(LogSink tell);
// The console's menu, for the newest run that is not running: its report in the help
// viewer owned by 'owner', and its undo (a journaled run of its own) with the outcome of
// each change handed to 'tell'. The report's or the undo's result; ERROR_FILE_NOT_FOUND,
// with nothing shown or told, when no run is kept; ERROR_BUSY when the run still runs.
DWORD ShowRunChanges(HWND owner);
DWORD UndoLastRun(LogSink tell);
// Standard output, when the program was given one (a console, a pipe or a file).
bool HasStandardOutput(HANDLE& output);
// Writes the text to standard output: to a console as it is, elsewhere in UTF-8.
void WriteToOutput(HANDLE output, const wchar_t* text);
