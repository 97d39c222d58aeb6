#include "base/outward_calls.h"

namespace {

// The platform's calls behind small functions of our own: the table is then filled before
// any code runs, and a delay-loaded library is still bound only on its first call.
BOOL OpenWithShell(SHELLEXECUTEINFOW* info)
{
    return ShellExecuteExW(info);
}

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type)
{
    return MessageBoxW(owner, text, caption, type);
}

BOOL ReadFromFile(HANDLE file, void* buffer, DWORD wanted, DWORD* read, OVERLAPPED* overlapped)
{
    return ReadFile(file, buffer, wanted, read, overlapped);
}

BOOL WriteToFile(HANDLE file, const void* data, DWORD count, DWORD* written, OVERLAPPED* overlapped)
{
    return WriteFile(file, data, count, written, overlapped);
}

BOOL FailNotSupported()
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL NoHardwareControl(DWORD, void*, DWORD, void*, DWORD, DWORD*)
{
    return FailNotSupported();
}

BOOL NoExit(UINT, DWORD)
{
    return FailNotSupported();
}

void NoKey(BYTE, BYTE, DWORD, ULONG_PTR) {}

LONG NoDisplayChange(const wchar_t*, DEVMODEW*, HWND, DWORD, void*)
{
    FailNotSupported();
    return DISP_CHANGE_FAILED;
}

BOOL NoSound(const wchar_t*, HMODULE, DWORD)
{
    return FailNotSupported();
}

} // namespace

constinit OutwardCalls outwardCalls = {
    OpenWithShell, ShowMessageBox, ReadFromFile, WriteToFile,
    NoHardwareControl, FailNotSupported, FailNotSupported, NoExit, NoKey, NoDisplayChange, NoSound,
};
