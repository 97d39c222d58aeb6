// The user interface: console window, help viewer and the dialogs built from script lines.
#pragma once
#include <windows.h>

// console.cpp
extern HWND consoleWindow;
[[nodiscard]] DWORD OpenConsole(wchar_t* args, const wchar_t* scriptPath);

// help.cpp
[[nodiscard]] DWORD ShowHelp(HWND owner, wchar_t* args);

// script_dialog.cpp
[[nodiscard]] DWORD ShowScriptDialog(const wchar_t* title, wchar_t* items);
