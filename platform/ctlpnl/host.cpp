// The device's control panel, standing in on the host as
// <device folder>/Windows/ctlpnl.exe. It says on the terminal which page it
// would show and notes each start in ctlpnl.log beside itself.
#include <limits.h>
#include <stdio.h>
#include <string.h>
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

    if (FILE* log = fopen(LogPath().c_str(), "a")) {
        fprintf(log, "%s\n", commandLine);
        fclose(log);
    }

    if (strcmp(commandLine, CTLPNL_ALIGNMENT_PAGE) == 0)
        printf("%s: %s\n", CTLPNL_TITLE, CTLPNL_ALIGNMENT_NOTICE);
    else
        printf("%s: %s\"%s\".\n", CTLPNL_TITLE, CTLPNL_UNKNOWN_NOTICE, commandLine);
    return 0;
}
