#include "platform/device_calls.h"
#include <mmsystem.h>

namespace {

BOOL ReportNotSupported()
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

[[nodiscard]] bool EnableShutdownPrivilege()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return false;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    bool enabled = LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid) &&
                   AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
                   GetLastError() == ERROR_SUCCESS;
    CloseHandle(token);
    return enabled;
}

// The silent flag only means "no click" on the handheld; passed on, the desktop would
// take the key for a Unicode character, so it is dropped here.
void PressKey(BYTE key, BYTE scan, DWORD flags, ULONG_PTR extra)
{
    keybd_event(key, scan, flags & ~KEYEVENTF_SILENT, extra);
}

// The handheld reports the current orientation in answer to CDS_TEST; the desktop does
// not, so a successful test reads it from the current settings.
LONG ChangeDisplay(const wchar_t* device, DEVMODEW* mode, HWND window, DWORD flags, void* parameter)
{
    LONG result = ChangeDisplaySettingsExW(device, mode, window, flags, parameter);
    if (result == DISP_CHANGE_SUCCESSFUL && (flags & CDS_TEST)) {
        DEVMODEW current = {};
        current.dmSize = sizeof current;
        if (EnumDisplaySettingsExW(device, ENUM_CURRENT_SETTINGS, &current, 0) &&
            (current.dmFields & DM_DISPLAYORIENTATION))
            mode->dmDisplayOrientation = current.dmDisplayOrientation;
    }
    return result;
}

BOOL PlaySoundWithPlatform(const wchar_t* sound, HMODULE module, DWORD flags)
{
    return PlaySoundW(sound, module, flags);
}

} // namespace

BOOL KernelIoControl(DWORD, void*, DWORD, void*, DWORD, DWORD*)
{
    return ReportNotSupported();
}

BOOL SetCleanRebootFlag()
{
    return ReportNotSupported();
}

BOOL GwesPowerOffSystem()
{
    return ReportNotSupported();
}

BOOL ExitWindowsWithPrivilege(UINT flags, DWORD reason)
{
    if (!EnableShutdownPrivilege())
        return FALSE;
    return ExitWindowsEx(flags, reason);
}

void InstallDeviceCalls()
{
    outwardCalls.kernelIoControl = KernelIoControl;
    outwardCalls.setCleanRebootFlag = SetCleanRebootFlag;
    outwardCalls.powerOffSystem = GwesPowerOffSystem;
    outwardCalls.exitWindows = ExitWindowsWithPrivilege;
    outwardCalls.keyEvent = PressKey;
    outwardCalls.changeDisplaySettings = ChangeDisplay;
    outwardCalls.playSound = PlaySoundWithPlatform;
}
