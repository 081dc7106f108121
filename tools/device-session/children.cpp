#include "children.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <signal.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <set>

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

// The program RunAndWait runs, while it is not reaped; the terminal's modes.
volatile sig_atomic_t running = 0;
termios givenModes;
bool haveModes = false;

void OnEndSignal(int signal, siginfo_t* info, void*)
{
    const pid_t program = running;
    if (program > 0 && (signal == SIGINT || signal == SIGQUIT) && info && info->si_code == SI_KERNEL)
        return;  // typed at the terminal: the program has it too
    if (program > 0) {
        // The same signal ends it and lets it give the screen back; one that
        // doesn't end in two seconds is killed.
        kill(program, signal);
        int left = 200;
        while (waitpid(program, nullptr, WNOHANG) == 0 && --left > 0) {
            const timespec pause = {0, 10 * 1000000};
            nanosleep(&pause, nullptr);
        }
        if (left == 0) {
            kill(program, SIGKILL);
            while (waitpid(program, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
    }
    if (haveModes)
        tcsetattr(STDIN_FILENO, TCSADRAIN, &givenModes);
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    raise(signal);
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
    return status;
}

void EndWholeOnSignals(const termios* modes)
{
    if (modes) {
        givenModes = *modes;
        haveModes = true;
    }
    struct sigaction action = {};
    action.sa_sigaction = OnEndSignal;
    action.sa_flags = SA_SIGINFO;
    sigfillset(&action.sa_mask);
    for (int each : kEndSignals)
        sigaction(each, &action, nullptr);
}

// From each process's parent, in /proc.
std::set<pid_t> Children()
{
    std::set<pid_t> children;
    const pid_t self = getpid();
    DIR* processes = opendir("/proc");
    if (!processes)
        return children;
    while (dirent* entry = readdir(processes)) {
        char* end;
        const long pid = strtol(entry->d_name, &end, 10);
        if (*end != 0 || pid <= 0)
            continue;
        // pid (name) state ppid ...; the name may hold anything, even ')'
        // or a newline, so the last ')' of the whole file ends it.
        const std::string stat = ReadProcFile(std::string("/proc/") + entry->d_name + "/stat");
        const size_t close = stat.rfind(')');
        char state;
        int parent;
        if (close != std::string::npos && sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) == 2 &&
            parent == self)
            children.insert(pid_t(pid));
    }
    closedir(processes);
    return children;
}

Settled WaitForAll(pid_t pid, std::set<pid_t> earlier, int limitMs)
{
    Settled settled;
    const long long deadline = NowMs() + limitMs;
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
        const std::set<pid_t> now = Children();
        if (std::includes(earlier.begin(), earlier.end(), now.begin(), now.end()))
            return settled;
        const long long left = deadline - NowMs();
        if (left <= 0) {
            settled.timedOut = true;
            return settled;
        }
        pollfd note = {childNotes[0], POLLIN, 0};
        if (poll(&note, 1, int(left)) > 0)
            Drain();
    }
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
