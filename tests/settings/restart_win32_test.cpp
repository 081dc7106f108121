// Desktop Windows: the restart call refuses, and nothing is restarted.
#include <gtest/gtest.h>
#include <windows.h>

#include "restart.h"

TEST(Restart, RefusedWithNotSupported)
{
    SetLastError(0);
    EXPECT_FALSE(KernelIoControl(IOCTL_HAL_REBOOT, NULL, 0, NULL, 0, NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(IOCTL_HAL_REBOOT, 0x0101003C);
}
