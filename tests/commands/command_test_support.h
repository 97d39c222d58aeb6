// Helpers of the system-command tests: the device-call recorder guard.
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

} // namespace test
