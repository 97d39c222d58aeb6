// The top floor: the language tables that name every family's handlers, and the console,
// which runs lines through the engine.
#pragma once
#include "engine/engine.h"

// wiring.cpp
extern const ScriptLanguage VARNOLT_LANGUAGE;

// console.cpp
[[nodiscard]] DWORD OpenConsole(wchar_t* args, const wchar_t* scriptPath);
