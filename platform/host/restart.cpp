// The emulated device restarts between sessions: a restart request leaves
// the file "restart-requested" in the device folder, and the call returns.
// Only the call as the handheld documents it is taken: no buffers, nothing
// returned.
#include "restart.h"

#include <stdio.h>

#include <string>

#include "device.h"

extern "C" BOOL WINAPI KernelIoControl(DWORD dwIoControlCode, LPVOID lpInBuf, DWORD nInBufSize,
                                       LPVOID lpOutBuf, DWORD nOutBufSize,
                                       LPDWORD lpBytesReturned)
{
    if (dwIoControlCode != IOCTL_HAL_REBOOT) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (lpInBuf || nInBufSize || lpOutBuf || nOutBufSize || lpBytesReturned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    host::PrepareDevice();
    std::string path = host::DeviceRoot() + "/restart-requested";
    FILE* file = fopen(path.c_str(), "w");
    if (file == NULL) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    bool written = fputs("warm\n", file) >= 0;
    written = fclose(file) == 0 && written;
    if (!written) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}
