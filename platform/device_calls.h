// Power, reset, key, display and sound calls of the handheld and their desktop bodies. The
// commands reach them through the device entries of outwardCalls, so that tests can put a
// recorder in place of calls that would reset, power off or suspend the machine, press
// keys in another program, rotate the screen or make a noise.
#pragma once
#include "base/outward_calls.h"
#include <windows.h>

// Control codes and flags of the handheld platform; the desktop headers lack them.
constexpr DWORD IOCTL_HAL_REBOOT = 0x0101003C;
constexpr BYTE VK_OFF = 0xDF;
constexpr DWORD KEYEVENTF_SILENT = 0x4;   // no key click; the desktop reads this bit as KEYEVENTF_UNICODE

// device_calls.cpp
// Sends a control code to the hardware layer. The desktop has no hardware layer to reset
// through: it returns FALSE with ERROR_NOT_SUPPORTED.
BOOL KernelIoControl(DWORD code, void* input, DWORD inputSize, void* output, DWORD outputSize, DWORD* returned);
// Marks the next restart as a clean boot (the object store is wiped). Desktop: FALSE with
// ERROR_NOT_SUPPORTED.
BOOL SetCleanRebootFlag();
// Suspends the device through the window system. Desktop: FALSE with ERROR_NOT_SUPPORTED.
BOOL GwesPowerOffSystem();
// ExitWindowsEx after enabling the shutdown privilege for this process, which the desktop
// requires for a reboot or power-off.
BOOL ExitWindowsWithPrivilege(UINT flags, DWORD reason);

// Puts these stand-ins and the desktop's power, key, display and sound calls in the
// device entries of outwardCalls (base/outward_calls.h), which the SHUT, SEND, DISP and
// PLAY commands go through; the program does this once at start.
void InstallDeviceCalls();
