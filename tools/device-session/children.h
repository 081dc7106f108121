// The session's children, and the programs they start: on the device a
// program started by a start-up program outlives its starter, so the session
// takes in every such orphan and can wait for it, and none outlives the
// device: a restart, or the session's end, ends them all.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <set>
#include <string>
#include <vector>

namespace session {

// From now on orphaned descendants become the session's children.
void AdoptOrphans();

// The ARM build (--arm): every program then runs on the emulated StrongARM,
// `armemu`; empty for the host build.
void UseEmulator(const std::string& armemu);

bool Emulating();

// Starts the program `name` of the open folder `folder` on the emulated
// StrongARM, never through a link; its pid, or -1 with errno.
pid_t StartEmulated(int folder, const std::string& name);

// Runs the program on this terminal and waits for it, letting go of the
// terminal while it runs and holding it again once it and any other
// program's dialog are done. Returns its wait status, or -1 with `problem`.
int RunAndWait(const std::string& path, std::string& problem);

// From now on a hangup, quit, interrupt or terminate ends the session whole:
// every program it started, and what those started, is ended first, by the
// same signal (killed after two seconds), and the terminal's modes are set
// back to `modes` (null: leave them). Only an interrupt or quit typed at the
// terminal while RunAndWait runs a program is the program's alone, as it
// gets that too.
void EndWholeOnSignals(const termios* modes);

// Ends every program the session started and whatever those started, as the
// device's restart ends them: a terminate each, and after two seconds a kill
// for what still runs.
void EndAll();

struct Settled {
    bool started = false;       // `pid` was reaped
    int status = 0;             // its wait status
    std::vector<std::string> others;  // names of the other descendants reaped meanwhile
    bool timedOut = false;      // something was still running at the deadline
    std::vector<std::string> running;  // then: the names of the others still running
};

// The session's children now.
std::set<pid_t> Children();

// Waits for `pid` and then for every other descendant, for at most
// `limitMs` in all, not counting the time another program's dialog holds the
// terminal; `earlier`, the children from before `pid` started, are not
// waited for. Called while the session lets go of the terminal.
Settled WaitForAll(pid_t pid, std::set<pid_t> earlier, int limitMs);

// "exit status 3", "signal 9"
std::string DescribeStatus(int status);

// What became of the program `name` and of what it started, waited for
// `limitMs`, as one sentence without its full stop; `stoppedAtRestart`: it
// stopped at a restart it asked for, which is no failure.
std::string DescribeSettled(const std::string& name, const Settled& settled, int limitMs,
                            bool stoppedAtRestart = false);

}  // namespace session
