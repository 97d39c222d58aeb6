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
[[nodiscard]] DWORD OpenConsole(const wchar_t* args, const wchar_t* scriptPath);
