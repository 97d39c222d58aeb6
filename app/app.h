// The top floor: the language tables that name every family's handlers, and the console,
// which runs lines through the engine.
#pragma once
#include "engine/engine.h"
#include "platform/platform.h"

// wiring.cpp
extern const ScriptLanguage VARNOLT_LANGUAGE;
// What stands behind the configuration manager's door: the registry family's processor.
extern const ConfigurationProcessor VARNOLT_CONFIGURATION_PROCESSOR;

// console.cpp
extern HWND consoleMenuBar;             // the last console's menu bar
extern const wchar_t* consoleScriptPath;    // the script path the console's lines run with
[[nodiscard]] DWORD OpenConsole(wchar_t* args, const wchar_t* scriptPath);

// switches.cpp
// Runs the program's command line: the line of script with a journal, or what the
// switches at its start ask for (/changes, /undo [/force], /trial, /nojournal, /?).
// The run's result; ERROR_INVALID_PARAMETER for switches that do not go together.
[[nodiscard]] DWORD RunProgramCommandLine(wchar_t* commandLine);
// At start, with the trace on: tells the trace of the runs that did not finish (once) and
// keeps the text for the console.
void TellUnfinishedRuns(LogSink trace);
// For the console when it opens: the runs that did not finish, handed to 'tell' once
// (nothing when there are none).
void TakeStartNotice(LogSink tell);
// The console's menu: the report of the newest run that is not running, and its undo, each
// shown in the help viewer owned by 'owner'. The report's or the undo's result.
DWORD ShowRunChanges(HWND owner);
DWORD UndoLastRun(HWND owner);
