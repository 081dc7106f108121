// Setting the device folder up, and handing the build's stand-in control
// panel (named by the build) to process start: the one place that knows.
#include "device/device.h"
#include "device/device_io.h"
#include "process/programs.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <string>

extern const char kDefaultRegistry[];  // default.reg, embedded at build time

namespace host {

bool Renew(const DeviceFolder& folder, std::string_view name, const std::string& from, std::string& problem)
{
    const std::string found = folder.Find(name);
    // A folder by that name is the device's own, and no program's place.
    struct stat info;
    if (fstatat(folder.fd(), found.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode))
        return true;
    // Either unreadable (missing, too large, no file), and the copy is made.
    const size_t slash = from.rfind('/');
    std::string held, build, ignored;
    FileStamp stamp;
    const DeviceFolder builds = DeviceFolder::At(from.substr(0, slash + 1), ignored);
    const bool same =
        ReadDeviceFile(folder, found, kRenewLimit, held, stamp, ignored) == FileRead::Done && builds.ok() &&
        ReadDeviceFile(builds, from.substr(slash + 1), kRenewLimit, build, stamp, ignored) == FileRead::Done &&
        held == build;
    return same || folder.Install(from, found, problem);
}

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
    // The device's copy, renewed when it differs from the build's: the
    // build's runs in its place whatever it holds.
    ok = ok && Renew(windows, kControlPanelFile, controlPanel, problem);

    if (!ok)
        TellDeviceProblem(problem);
    return ok;
}

void PrepareDevice()
{
    UseHostPrograms({ZK_CTLPNL, "", ""});
    SetUpDevice(ZK_CTLPNL);
}

}  // namespace host
