// The handheld's libraries on the desktop. File dialogs are found at run time by the
// name of the library the device keeps them in; a few of those names stand for a system
// library of another name here, and every other name is looked for next to the program
// and in the system folders only.
#pragma once
#include <windows.h>
#include <commdlg.h>

// The record of the handheld shell's extended file dialog (GetOpenFileNameEx): the
// platform's file-dialog record followed by the sort order and the extended flags.
struct OPENFILENAMEEX {
    OPENFILENAMEW base;
    DWORD dwSortOrder;
    DWORD ExFlags;
};

// device_libraries.cpp
// Loads the library that holds 'entryPoint' where the handheld keeps it in the library
// 'name' ("CoreDll", "RFileShell") or in the library file at the full path 'name'. A name
// with a desktop home of its own (CoreDll's file dialog: comdlg32) loads that system
// library; any other name loads from the program's folder or the system folders, never
// from the current folder; a path must be complete. nullptr when there is none; the
// caller frees the library.
HMODULE LoadDeviceLibrary(const wchar_t* name, const char* entryPoint);
