#include "base/outward_calls.h"
#include <gtest/gtest.h>

namespace {

// Until the program installs the platform's device calls, each refuses and does nothing:
// a test program that forgets a recorder cannot reset, power off or suspend its machine.
TEST(OutwardCalls, DeviceEntriesRefuseUntilInstalled)
{
    DEVMODEW mode = {};
    SetLastError(0);
    EXPECT_FALSE(outwardCalls.kernelIoControl(0x0101003C, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_FALSE(outwardCalls.setCleanRebootFlag());
    EXPECT_FALSE(outwardCalls.powerOffSystem());
    SetLastError(0);
    EXPECT_FALSE(outwardCalls.exitWindows(EWX_POWEROFF, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(outwardCalls.changeDisplaySettings(nullptr, &mode, nullptr, CDS_TEST, nullptr), DISP_CHANGE_FAILED);
    EXPECT_FALSE(outwardCalls.playSound(L"SystemStart", nullptr, 0));
}

} // namespace
