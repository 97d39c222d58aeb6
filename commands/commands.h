// System commands: files, shortcuts, processes, windows, power, messages and sounds.
#pragma once
#include <windows.h>

// directories.cpp
DWORD CreatePathDirectories(wchar_t* path);

// file_ops.cpp
// When set (by test harnesses), FILE and LINK split, scan and convert their arguments as
// usual but touch no file: each stops where it would act and reports success.
extern bool fileCommandsDryRun;
// What FILE hands to CopyMatchingFile through EnumerateFiles. During a recursive copy
// 'destination' points at the destination folder of the folder being searched.
struct CopyRequest {
    bool recursive;
    const wchar_t* nameFilter;
    const wchar_t* destination;
};
[[nodiscard]] DWORD FileOperation(wchar_t* args);
[[nodiscard]] DWORD CopyMatchingFile(void* request, const wchar_t* folder, const WIN32_FIND_DATAW& found);

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
using PlaySoundCall = BOOL (*)(const wchar_t* sound, HMODULE module, DWORD flags);
extern PlaySoundCall playSoundCall;     // PlaySoundW unless a test has put a recorder in
[[nodiscard]] DWORD ShowMessageBox(wchar_t* args);
[[nodiscard]] DWORD PlaySoundFile(wchar_t* args);
