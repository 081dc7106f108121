#include "terminal/hold.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

namespace host {
namespace {

// This process's own open of the shared file: a lock belongs to an open
// file, so each process opens it anew, and not across an exec, so a
// program's children never hold its lock.
int g_own = -2;  // not looked for yet

int OpenShared()
{
    const char* named = getenv(kTerminalHoldVariable);
    char* end = nullptr;
    const long fd = named && *named ? strtol(named, &end, 10) : -1;
    if (fd < 0 || fd >= 65536 || !end || *end != 0)
        return -1;
    return open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC);
}

int Own()
{
    if (g_own == -2)
        g_own = OpenShared();
    return g_own;
}

}  // namespace

bool ShareTerminal()
{
    // Kept open across exec, so that every program started finds it.
    const int shared = memfd_create("terminal-hold", 0);
    if (shared < 0)
        return false;
    setenv(kTerminalHoldVariable, std::to_string(shared).c_str(), 1);
    if (g_own >= 0)
        close(g_own);
    g_own = OpenShared();
    return g_own >= 0;
}

void HoldTerminal()
{
    if (Own() >= 0)
        while (flock(Own(), LOCK_EX) != 0 && errno == EINTR) {
        }
}

void LetGoTerminal()
{
    if (Own() >= 0)
        flock(Own(), LOCK_UN);
}

bool TerminalHeldElsewhere()
{
    if (Own() < 0)
        return false;
    if (flock(Own(), LOCK_EX | LOCK_NB) == 0) {
        flock(Own(), LOCK_UN);
        return false;
    }
    return errno == EWOULDBLOCK;
}

}  // namespace host
