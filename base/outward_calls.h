// The calls that reach outside the program and that tests stand in for, in one table:
// opening a file or address through the shell, a message box, reading and writing file
// contents, and the device's power, reset, key, display and sound calls. Each entry is
// the platform's own call unless a test has put a recorder or a failure in its place
// (a test puts the whole table back when it ends). Changes to the machine that the two
// writers make are seen through base/changes.h instead.
#pragma once
#include <windows.h>
#include <shellapi.h>

struct OutwardCalls {
    BOOL (*shellExecute)(SHELLEXECUTEINFOW* info);
    int (*messageBox)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
    BOOL (*readFile)(HANDLE file, void* buffer, DWORD wanted, DWORD* read, OVERLAPPED* overlapped);
    BOOL (*writeFile)(HANDLE file, const void* data, DWORD count, DWORD* written, OVERLAPPED* overlapped);
    // The device (platform/device_calls.h). Until the program installs the platform's
    // stand-ins (InstallDeviceCalls), each fails with ERROR_NOT_SUPPORTED and does nothing,
    // as on a machine without such a device: a test that forgets to stand in for one
    // cannot reset, power off or suspend the machine it runs on.
    BOOL (*kernelIoControl)(DWORD code, void* input, DWORD inputSize, void* output, DWORD outputSize, DWORD* returned);
    BOOL (*setCleanRebootFlag)();
    BOOL (*powerOffSystem)();
    BOOL (*exitWindows)(UINT flags, DWORD reason);
    void (*keyEvent)(BYTE key, BYTE scan, DWORD flags, ULONG_PTR extra);
    LONG (*changeDisplaySettings)(const wchar_t* device, DEVMODEW* mode, HWND window, DWORD flags, void* parameter);
    BOOL (*playSound)(const wchar_t* sound, HMODULE module, DWORD flags);
};

// outward_calls.cpp
extern OutwardCalls outwardCalls;
