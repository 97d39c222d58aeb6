// The top floor: the language tables that name every family's handlers, and the console,
// which runs lines through the engine.
#pragma once
#include "engine/engine.h"

// wiring.cpp
extern const ScriptLanguage VARNOLT_LANGUAGE;

// console.cpp
extern HWND consoleMenuBar;             // the last console's menu bar
extern const wchar_t* consoleScriptPath;    // the script path the console's lines run with
[[nodiscard]] DWORD OpenConsole(wchar_t* args, const wchar_t* scriptPath);
