// The emulated device restarts between sessions: a restart request leaves
// the restart request file ("warm", one line) in the device folder for the
// device session to carry out, and the call returns. Other codes, or any
// buffer given, fail with nothing written.
//
// The request is written new: into a temporary file created exclusively
// (never through a link), then renamed over the request, under the device
// folder's lock. A link where the request goes is replaced, never followed;
// anything else that is no file there (a FIFO, a folder) is left alone, told
// in one line, and the call fails.
#include "restart.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "device.h"

namespace {

constexpr const char* kRequest = host::kRestartRequestFile;
constexpr const char kRequestTemp[] = "restart-requested.tmp";

bool Refuse(const std::string& problem)
{
    fprintf(stderr, "ce-device: %s; the restart is not asked for\n", problem.c_str());
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
}

const char* KindOf(mode_t mode)
{
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device node";
    return "not a file";
}

bool WriteRequest(int folder, const std::string& root)
{
    const std::string path = root + "/" + kRequest;
    struct stat info;
    if (fstatat(folder, kRequest, &info, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(info.st_mode) &&
        !S_ISLNK(info.st_mode))
        return Refuse(path + " is " + KindOf(info.st_mode));

    if (unlinkat(folder, kRequestTemp, 0) != 0 && errno != ENOENT)
        return Refuse("cannot remove " + root + "/" + kRequestTemp + ": " + strerror(errno));
    const int fd = openat(folder, kRequestTemp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return Refuse("cannot create " + root + "/" + kRequestTemp + ": " + strerror(errno));
    static const char kLine[] = "warm\n";
    bool written = write(fd, kLine, sizeof kLine - 1) == ssize_t(sizeof kLine - 1);
    written = close(fd) == 0 && written;
    if (!written || renameat(folder, kRequestTemp, folder, kRequest) != 0) {
        const int error = errno;
        unlinkat(folder, kRequestTemp, 0);
        return Refuse("cannot write " + path + ": " + strerror(error));
    }
    return true;
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
    std::string unused;
    host::DeviceFolder::Root(unused);  // the folder, made when missing
    const std::string root = host::DeviceRoot();
    const int folder = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return Refuse("cannot open the device folder " + root + ": " + strerror(errno));
    // The device folder's lock, which every writer of its files holds.
    while (flock(folder, LOCK_EX) != 0 && errno == EINTR) {
    }
    const bool written = WriteRequest(folder, root);
    close(folder);
    return written;
}
