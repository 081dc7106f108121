// The device folder's lock: flock on the folder itself.
#include "device.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

#include "device_io.h"

namespace host {
namespace {

thread_local int locksHeld = 0;

}  // namespace

bool HoldsDeviceLock()
{
    return locksHeld > 0;
}

DeviceLock::DeviceLock(const DeviceFolder& folder, std::string& problem)
{
    if (!folder.ok())
        return;
    // The lock is the folder's own: there is no lock file to plant. The
    // folder is opened again so that the lock is this object's alone.
    fd_ = openat(folder.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (fd_ >= 0 && flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            close(fd_);
            fd_ = -1;
        }
    }
    if (fd_ < 0)
        problem = SystemProblem("cannot lock the device folder " + folder.path());
    else
        ++locksHeld;
}

DeviceLock::~DeviceLock()
{
    if (fd_ >= 0) {
        --locksHeld;
        close(fd_);  // lets go of the lock
    }
}

}  // namespace host
