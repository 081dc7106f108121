// The device's control panel, standing in on the host: run from the build
// for \Windows\ctlpnl.exe. It says on the terminal which page it would show
// and notes each start in \Windows\ctlpnl.log of the device, found as every
// host program finds it.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "applet.h"
#include "device.h"
#include "text.h"

namespace {

// Far more starts than a device ever sees; a log past it is left alone.
constexpr size_t kLogLimit = 1 << 20;

// Adds the command line to the log as every file of the device is written:
// the whole log made new beside it and renamed into place, so that a log
// that is a hard link to a file outside the device leaves that file as it
// was. A link or anything but a file where the log belongs is left alone.
bool Record(const std::string& commandLine, std::string& problem)
{
    const host::DeviceFolder root = host::DeviceFolder::Root(problem);
    const host::DeviceLock lock(root, problem);
    const host::DeviceFolder files = root.ok() && lock.ok() ? host::DeviceFolder::Files(problem) : host::DeviceFolder();
    const host::DeviceFolder folder = files.ok() ? files.Sub(host::kWindowsFolder, false, problem) : host::DeviceFolder();
    if (!folder.ok())
        return false;
    const std::string name = folder.Find(CTLPNL_LOG);
    struct stat info;
    if (fstatat(folder.fd(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode)) {
        problem = folder.PathOf(name) + " is a link; it is left as it is and not written";
        return false;
    }
    std::string log;
    host::FileStamp stamp;
    if (host::ReadDeviceFile(folder, name, kLogLimit, log, stamp, problem) == host::FileRead::Failed)
        return false;
    return folder.Replace(name, log + commandLine + "\n", 0644, problem);
}

}  // namespace

int main(int argc, char** argv)
{
    // The command line arrives whole, as the single argument.
    const std::string commandLine = argc > 1 ? argv[1] : "";

    std::string problem;
    const bool recorded = Record(commandLine, problem);
    if (!recorded)
        fprintf(stderr, "%s: %s; this start is not noted in %s.\n", CTLPNL_TITLE,
                host::text::Printable(problem).c_str(), CTLPNL_LOG);

    // The command line is whatever the program that started it chose.
    if (commandLine == CTLPNL_ALIGNMENT_PAGE)
        printf("%s: %s\n", CTLPNL_TITLE, CTLPNL_ALIGNMENT_NOTICE);
    else
        printf("%s: %s\"%s\".\n", CTLPNL_TITLE, CTLPNL_UNKNOWN_NOTICE,
               host::text::Printable(commandLine).c_str());
    return recorded ? 0 : 1;
}
