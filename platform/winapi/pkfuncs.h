// The handheld's kernel call that restarts the device:
//   KernelIoControl(IOCTL_HAL_REBOOT, NULL, 0, NULL, 0, NULL)
// asks for a warm restart and, on the handheld, does not come back. The call
// takes no buffers and returns nothing; any other code, or any buffer given,
// fails. The handheld's COREDLL exports it; neither desktop Windows nor Linux
// has it, so those targets stand in for it in their own restart.cpp, where a
// target that restarts later (the host's emulated device) says how. CE
// declares it in this header, which mingw-w64 lacks.
#pragma once

#include <windows.h>

// CTL_CODE(0x0101, 15, METHOD_BUFFERED, FILE_ANY_ACCESS): a warm restart.
#define IOCTL_HAL_REBOOT 0x0101003C

extern "C" BOOL WINAPI KernelIoControl(DWORD dwIoControlCode, LPVOID lpInBuf, DWORD nInBufSize,
                                       LPVOID lpOutBuf, DWORD nOutBufSize,
                                       LPDWORD lpBytesReturned);
