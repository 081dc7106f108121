// The device's control panel, standing in on the host as
// <device folder>/Windows/ctlpnl.exe. It says on the terminal which page it
// would show and notes each start in ctlpnl.log beside itself.
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "applet.h"

namespace {

std::string LogPath()
{
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return CTLPNL_LOG;
    std::string path(self, size_t(length));
    return path.substr(0, path.rfind('/') + 1) + CTLPNL_LOG;
}

}  // namespace

int main(int argc, char** argv)
{
    // The command line arrives whole, as the single argument.
    const char* commandLine = argc > 1 ? argv[1] : "";

    // The log is the device's file: never written through a link, and
    // never waited on (a FIFO there without a reader is passed over).
    const int log = open(LogPath().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    struct stat info;
    if (log >= 0 && fstat(log, &info) == 0 && S_ISREG(info.st_mode)) {
        const std::string line = std::string(commandLine) + "\n";
        (void)!write(log, line.data(), line.size());
    }
    if (log >= 0)
        close(log);

    if (strcmp(commandLine, CTLPNL_ALIGNMENT_PAGE) == 0)
        printf("%s: %s\n", CTLPNL_TITLE, CTLPNL_ALIGNMENT_NOTICE);
    else
        printf("%s: %s\"%s\".\n", CTLPNL_TITLE, CTLPNL_UNKNOWN_NOTICE, commandLine);
    return 0;
}
