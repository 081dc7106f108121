#include "children.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <signal.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "terminal/give_back.h"
#include "terminal/hold.h"

namespace session {
namespace {

// Written to by the SIGCHLD handler, so that a wait can have a deadline.
int childNotes[2] = {-1, -1};

void OnChild(int)
{
    const int saved = errno;
    const char note = 'c';
    (void)!write(childNotes[1], &note, 1);
    errno = saved;
}

long long NowMs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

// A small file of /proc whole, whatever its text holds.
std::string ReadProcFile(const std::string& path)
{
    std::string text;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buffer[1024];
    ssize_t n;
    while (text.size() < 65536 && ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)))
        if (n > 0)
            text.append(buffer, size_t(n));
    close(fd);
    return text;
}

// The name of a child that has ended and is not yet reaped.
std::string NameOf(pid_t pid)
{
    // The name, then a newline that ends it.
    std::string name = ReadProcFile("/proc/" + std::to_string(pid) + "/comm");
    if (!name.empty() && name.back() == '\n')
        name.pop_back();
    return name.empty() ? "pid " + std::to_string(pid) : name;
}

constexpr int kEndSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

// The processes of the system, each with its parent, as /proc lists them;
// a plain table, filled without allocating, so that the handler of an
// ending signal can walk it.
constexpr size_t kMostProcesses = 32768;
struct Process {
    pid_t pid;
    pid_t parent;
    bool ours;  // the session's, or started by one of its
    bool ended;  // a zombie, not yet reaped
};
Process g_processes[kMostProcesses];
size_t g_processCount = 0;

pid_t Number(const char* text)
{
    pid_t number = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        number = number * 10 + (*text - '0');
    return *text == 0 ? number : 0;
}

// The parent in /proc/<pid>/stat, which reads "pid (name) state ppid ...";
// the name may hold anything, even ')', so the last ')' ends it. 0 when gone.
pid_t ParentOf(int proc, const char* pid, bool& ended)
{
    char path[64] = {};
    size_t length = 0;
    while (pid[length] && length < 32) {
        path[length] = pid[length];
        ++length;
    }
    memcpy(path + length, "/stat", 6);
    const int fd = openat(proc, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char stat[512];
    const ssize_t got = read(fd, stat, sizeof stat - 1);
    close(fd);
    if (got <= 0)
        return 0;
    stat[got] = 0;
    const char* named = nullptr;
    for (const char* at = stat; *at; ++at)
        if (*at == ')')
            named = at;
    if (!named || named[1] != ' ' || !named[2] || named[3] != ' ')
        return 0;
    ended = named[2] == 'Z';
    pid_t parent = 0;
    for (const char* at = named + 4; *at >= '0' && *at <= '9'; ++at)
        parent = parent * 10 + (*at - '0');
    return parent;
}

// Fills the table, marking the descendants of this process; the session's
// children in `skipped` are left out with what they started. Signal-safe.
void ListProcesses(const std::set<pid_t>* skipped = nullptr)
{
    g_processCount = 0;
    const int proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (proc < 0)
        return;
    struct Entry {
        uint64_t inode;
        int64_t offset;
        unsigned short length;
        unsigned char type;
        char name[1];
    };
    alignas(8) char listing[4096];
    long got;
    while ((got = syscall(SYS_getdents64, proc, listing, sizeof listing)) > 0) {
        for (long at = 0; at < got;) {
            const Entry* entry = reinterpret_cast<const Entry*>(listing + at);
            at += entry->length;
            const pid_t pid = Number(entry->name);
            bool ended = false;
            const pid_t parent = pid > 0 ? ParentOf(proc, entry->name, ended) : 0;
            if (parent > 0 && g_processCount < kMostProcesses)
                g_processes[g_processCount++] = {pid, parent, false, ended};
        }
    }
    close(proc);
    // From the session down, a generation a pass.
    const pid_t self = getpid();
    for (bool more = true; more;) {
        more = false;
        for (size_t i = 0; i < g_processCount; ++i) {
            Process& each = g_processes[i];
            if (each.ours)
                continue;
            if (each.parent == self) {
                each.ours = !skipped || !skipped->count(each.pid);
            } else {
                for (size_t j = 0; j < g_processCount && !each.ours; ++j)
                    each.ours = g_processes[j].ours && g_processes[j].pid == each.parent;
            }
            more = more || each.ours;
        }
    }
}

// Sends `signal` (0: none) to every process the session started and what
// they started; how many there are. Signal-safe.
size_t SignalOurs(int signal)
{
    ListProcesses();
    size_t ours = 0;
    for (size_t i = 0; i < g_processCount; ++i) {
        if (!g_processes[i].ours)
            continue;
        ++ours;
        if (signal != 0)
            kill(g_processes[i].pid, signal);
        if (signal != 0 && signal != SIGKILL)
            kill(g_processes[i].pid, SIGCONT);  // a stopped one, to take it
    }
    return ours;
}

void Pause10Ms()
{
    const timespec pause = {0, 10 * 1000000};
    nanosleep(&pause, nullptr);
}

void ReapEnded()
{
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
}

// As EndAll, signal-safe.
void EndOurs(int signal)
{
    if (SignalOurs(signal) == 0)
        return;
    // Two seconds to end, as the signal lets a program give the screen back;
    // then killed, and again what a killed one started meanwhile.
    for (int left = 200; left > 0; --left) {
        ReapEnded();
        if (SignalOurs(0) == 0)
            return;
        Pause10Ms();
    }
    for (int round = 0; round < 500 && SignalOurs(SIGKILL) > 0; ++round) {
        Pause10Ms();
        ReapEnded();
    }
}

// The program RunAndWait runs, while it is not reaped; the terminal's modes.
volatile sig_atomic_t running = 0;
host::TerminalGiveBack given;  // the terminal's line modes only: the session draws no screen

void OnEndSignal(int signal, siginfo_t* info, void*)
{
    if (running > 0 && (signal == SIGINT || signal == SIGQUIT) && info && info->si_code == SI_KERNEL)
        return;  // typed at the terminal: the program has it too
    // The same signal ends every program and lets each give the screen back;
    // only then is the terminal the session's to give back.
    EndOurs(signal);
    host::GiveBackAndRaise(signal, given);
}

void Drain()
{
    char buffer[64];
    while (read(childNotes[0], buffer, sizeof buffer) > 0) {
    }
}

}  // namespace

void AdoptOrphans()
{
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    if (childNotes[0] < 0 && pipe2(childNotes, O_CLOEXEC | O_NONBLOCK) == 0) {
        struct sigaction action = {};
        action.sa_handler = OnChild;
        action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
        sigemptyset(&action.sa_mask);
        sigaction(SIGCHLD, &action, nullptr);
    }
}

namespace {
std::string g_emulator;
}

void UseEmulator(const std::string& armemu)
{
    g_emulator = armemu;
}

bool Emulating()
{
    return !g_emulator.empty();
}

// Becomes the emulator running `program`.
[[noreturn]] static void ExecEmulator(const std::string& program)
{
    char* argv[] = {const_cast<char*>(g_emulator.c_str()), const_cast<char*>(program.c_str()), nullptr};
    execv(g_emulator.c_str(), argv);
    _exit(127);
}

pid_t StartEmulated(int folder, const std::string& name)
{
    // The emulator reads the file opened here, so nothing put in its place
    // meanwhile (a link out of the device, say) is what runs.
    const int fd = openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    struct stat info;
    if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        close(fd);
        errno = EACCES;
        return -1;
    }
    if (fd < 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0)
        ExecEmulator("/proc/self/fd/" + std::to_string(fd));
    const int error = errno;
    close(fd);
    errno = error;
    return pid;
}

int RunAndWait(const std::string& path, std::string& problem)
{
    int status = -1;
    host::LetGoTerminal();
    const pid_t pid = fork();
    if (pid == 0) {
        for (int each : kEndSignals)
            signal(each, SIG_DFL);
        if (Emulating())
            ExecEmulator(path);
        char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
        execv(path.c_str(), argv);
        _exit(127);
    }
    if (pid < 0) {
        problem = std::string("cannot start a process: ") + strerror(errno);
    } else {
        running = pid;
        // Ended, not yet reaped: the pid is not let go while a signal may
        // still be passed on to it.
        siginfo_t info;
        while (waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
        }
        sigset_t ends, previous;
        sigemptyset(&ends);
        for (int each : kEndSignals)
            sigaddset(&ends, each);
        sigprocmask(SIG_BLOCK, &ends, &previous);
        running = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 127 && access(path.c_str(), X_OK) != 0) {
            problem = "cannot run " + path + ": " + strerror(errno);
            status = -1;
        }
    }
    host::HoldTerminal();
    return status;
}

void EndWholeOnSignals(const termios* modes)
{
    if (modes) {
        given.fd = STDIN_FILENO;
        given.modes = *modes;
        given.haveModes = true;
    }
    struct sigaction action = {};
    action.sa_sigaction = OnEndSignal;
    action.sa_flags = SA_SIGINFO;
    sigfillset(&action.sa_mask);
    for (int each : kEndSignals)
        sigaction(each, &action, nullptr);
}

std::set<pid_t> Children()
{
    std::set<pid_t> children;
    ListProcesses();
    for (size_t i = 0; i < g_processCount; ++i)
        if (g_processes[i].parent == getpid())
            children.insert(g_processes[i].pid);
    return children;
}

void EndAll()
{
    EndOurs(SIGTERM);
}

namespace {

// The names of what runs that the session started, apart from `pid` and
// the children in `earlier` with what they started.
std::vector<std::string> StillRunning(pid_t pid, const std::set<pid_t>& earlier)
{
    std::vector<std::string> names;
    ListProcesses(&earlier);
    for (size_t i = 0; i < g_processCount; ++i)
        if (g_processes[i].ours && !g_processes[i].ended && g_processes[i].pid != pid)
            names.push_back(NameOf(g_processes[i].pid));
    return names;
}

}  // namespace

Settled WaitForAll(pid_t pid, std::set<pid_t> earlier, int limitMs)
{
    constexpr long long kLookMs = 200;
    Settled settled;
    long long looked = NowMs();
    long long deadline = looked + limitMs;
    for (;;) {
        // Reap first, then sleep until the next child ends: a child that
        // ends in between leaves a note in the pipe. Each child is looked at
        // before it is reaped, while its name lasts.
        siginfo_t info;
        int found;
        while ((found = waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT)) == 0 &&
               info.si_pid != 0) {
            const pid_t gone = info.si_pid;
            const std::string name = gone == pid ? "" : NameOf(gone);
            int status;
            while (waitpid(gone, &status, 0) < 0 && errno == EINTR) {
            }
            if (gone == pid) {
                settled.started = true;
                settled.status = status;
            } else if (!earlier.erase(gone)) {
                settled.others.push_back(name);
            }
        }
        if (found < 0 && errno == ECHILD)
            return settled;
        const std::set<pid_t> children = Children();
        if (std::includes(earlier.begin(), earlier.end(), children.begin(), children.end()))
            return settled;
        // The time a program's dialog is up is not counted: looked at a few
        // times a second.
        const long long now = NowMs();
        if (host::TerminalHeldElsewhere())
            deadline += now - looked;
        looked = now;
        const long long left = deadline - now;
        if (left <= 0) {
            settled.timedOut = true;
            settled.running = StillRunning(settled.started ? 0 : pid, earlier);
            return settled;
        }
        pollfd note = {childNotes[0], POLLIN, 0};
        if (poll(&note, 1, int(std::min(left, kLookMs))) > 0)
            Drain();
    }
}

namespace {

// "a", "a and b", "a, b and 3 more"
std::string Listed(const std::vector<std::string>& names)
{
    constexpr size_t kNamed = 3;
    std::string list;
    const size_t named = names.size() > kNamed + 1 ? kNamed : names.size();
    for (size_t i = 0; i < named; ++i)
        list += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    if (named < names.size())
        list += " and " + std::to_string(names.size() - named) + " more";
    return list;
}

}  // namespace

std::string DescribeSettled(const std::string& name, const Settled& settled, int limitMs,
                            bool stoppedAtRestart)
{
    const std::string after = " after " + std::to_string(limitMs / 1000) + " s";
    std::string outcome = name;
    if (!settled.started)
        outcome += " is still running" + after;
    else if (stoppedAtRestart)
        outcome += " stopped at its restart";
    else if (!WIFEXITED(settled.status) || WEXITSTATUS(settled.status) != 0)
        outcome += " ended with " + DescribeStatus(settled.status);
    else
        outcome += " ended";
    // What ended in the last moment is not told as running on.
    const bool lingering = settled.timedOut && (!settled.started || !settled.running.empty());
    if (!settled.others.empty())
        outcome += "; it opened " + Listed(settled.others);
    else if (!lingering)
        outcome += "; it opened nothing";
    if (!lingering)
        return outcome;
    const bool others = !settled.running.empty();
    if (others)
        outcome += (settled.started ? "; what it started (" : ", and so is what it started (") +
                   Listed(settled.running) + ")" + (settled.started ? " is still running" + after : "");
    return outcome + (!settled.started && others ? "; they go" : settled.started ? " and goes" : "; it goes") +
           " on in the background until the next restart or quit";
}

std::string DescribeStatus(int status)
{
    if (WIFEXITED(status))
        return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return std::string("signal ") + std::to_string(WTERMSIG(status)) + " (" +
               strsignal(WTERMSIG(status)) + ")";
    return "wait status " + std::to_string(status);
}

}  // namespace session
