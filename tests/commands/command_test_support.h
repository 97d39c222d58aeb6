// Helpers of the system-command tests: the device-call recorder guard and display checks.
#pragma once
#include "platform/device_calls.h"
#include <gtest/gtest.h>
#include <string>

namespace test {

// Puts the platform's device calls back when the test ends, whatever it replaced.
struct DeviceCallsGuard {
    DeviceCalls saved = deviceCalls;
    ~DeviceCallsGuard() { deviceCalls = saved; }
};

// True when windows can be created (under Xvfb); without a display Wine cannot show them.
// Where the run promises a display (VARNOLT_REQUIRE_DISPLAY, set by make test), its
// absence fails the test instead of letting the window tests skip unseen.
inline bool HasDisplay()
{
    HWND probe = CreateWindowExW(0, L"STATIC", L"probe", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (!probe) {
        if (GetEnvironmentVariableW(L"VARNOLT_REQUIRE_DISPLAY", nullptr, 0))
            ADD_FAILURE() << "no display although VARNOLT_REQUIRE_DISPLAY is set";
        return false;
    }
    DestroyWindow(probe);
    return true;
}

// A name no other process in the session has, for window classes and program copies.
inline std::wstring UniqueName(const wchar_t* stem)
{
    return stem + std::to_wstring(GetCurrentProcessId()) + L"x" + std::to_wstring(GetTickCount());
}

} // namespace test
