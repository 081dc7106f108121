// Setting the device folder up, and where this build's stand-in control
// panel is: the one place that knows.
#include "device.h"
#include "device_io.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <string>

extern const char kDefaultRegistry[];  // default.reg, embedded at build time

namespace host {

bool SetUpDevice(const std::string& controlPanel)
{
    std::string problem;
    const DeviceFolder root = DeviceFolder::Root(problem);
    const DeviceLock lock(root, problem);
    bool ok = root.ok() && lock.ok();

    // registry.reg from the default image. A link there, even a broken one,
    // is the registry's to read and to replace with a file.
    struct stat info;
    if (ok && fstatat(root.fd(), kRegistryFile, &info, AT_SYMLINK_NOFOLLOW) != 0 &&
        errno == ENOENT)
        ok = WriteWhole(root, kRegistryFile, kDefaultRegistry, 0644, false, problem);

    // The device's files apart (an earlier layout moved), and what crashed
    // writes left in the private area gone.
    const DeviceFolder files = ok ? DeviceFolder::Files(problem) : DeviceFolder();
    ok = ok && files.ok();
    if (ok)
        RemoveLeftovers(DeviceFolder::Private(problem));

    // \Windows and the stand-in control panel in it.
    const DeviceFolder windows = ok ? files.Sub(kWindowsFolder, true, problem) : DeviceFolder();
    ok = ok && windows.ok();
    bool present = false;
    if (ok)
        windows.Find(kControlPanelFile, &present);
    if (ok && !present)
        ok = windows.Install(controlPanel, kControlPanelFile, problem);

    if (!ok)
        TellDeviceProblem(problem);
    return ok;
}

void PrepareDevice()
{
    SetUpDevice(ZK_CTLPNL);
}

}  // namespace host
