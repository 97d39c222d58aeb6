// System commands: files, shortcuts, processes, windows, power, messages and sounds.
#pragma once
#include <windows.h>

// directories.cpp
DWORD CreatePathDirectories(wchar_t* path);

// file_ops.cpp
[[nodiscard]] DWORD FileOperation(wchar_t* args);

// shortcut.cpp
[[nodiscard]] DWORD CreateShortcut(wchar_t* args);

// processes.cpp
[[nodiscard]] DWORD ExecuteProgram(wchar_t* args);
[[nodiscard]] DWORD KillProcesses(wchar_t* args);
[[nodiscard]] DWORD ShutDownDevice(wchar_t* args);
[[nodiscard]] DWORD SendKeys(wchar_t* args);
[[nodiscard]] DWORD PostWindowMessage(wchar_t* args);
[[nodiscard]] DWORD SetDisplayOrientation(wchar_t* args);

// messages.cpp
[[nodiscard]] DWORD ShowMessageBox(wchar_t* args);
[[nodiscard]] DWORD PlaySoundFile(wchar_t* args);
