// The emulated device restarts between sessions: a restart request leaves
// the restart request file ("warm", one line) in the device folder for the
// device session to carry out, and the call returns. Other codes, or any
// buffer given, fail with nothing written.
//
// The request is written as the device folder writes every file, new and
// renamed into place under the folder's lock: a link where it goes is
// replaced, never followed. Anything else that is no file there (a FIFO, a
// folder) is left alone, told in one line, and the call fails.
#include <pkfuncs.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <string>

#include "device/device.h"

namespace {

BOOL Refuse(const std::string& problem)
{
    host::TellDeviceProblem(problem + "; the restart is not asked for");
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

}  // namespace

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
    std::string problem;
    const host::DeviceFolder folder = host::DeviceFolder::Root(problem);
    const host::DeviceLock lock(folder, problem);
    if (!folder.ok() || !lock.ok())
        return Refuse(problem);

    struct stat info;
    if (fstatat(folder.fd(), host::kRestartRequestFile, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode))
        return Refuse(folder.PathOf(host::kRestartRequestFile) + " is " + host::KindOf(info.st_mode));
    if (!folder.Replace(host::kRestartRequestFile, "warm\n", 0644, problem))
        return Refuse(problem);
    return TRUE;
}
