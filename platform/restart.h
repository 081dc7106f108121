// The handheld's kernel call that restarts the device. Neither desktop
// Windows nor Linux has it; each target has its own stand-in:
//   win32 (win32/restart.cpp): never restarts anything, fails with
//     ERROR_NOT_SUPPORTED;
//   host (host/restart.cpp): writes the file "restart-requested" (one line,
//     "warm") into the device folder (host::DeviceRoot()), for the device
//     session to carry out, and succeeds; other codes, or any buffer given,
//     fail with nothing written.
#pragma once

#include <windows.h>

// CTL_CODE(0x0101, 15, METHOD_BUFFERED, FILE_ANY_ACCESS): a warm restart.
#define IOCTL_HAL_REBOOT 0x0101003C

extern "C" BOOL WINAPI KernelIoControl(DWORD dwIoControlCode, LPVOID lpInBuf, DWORD nInBufSize,
                                       LPVOID lpOutBuf, DWORD nOutBufSize,
                                       LPDWORD lpBytesReturned);
