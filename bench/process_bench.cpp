// Whole-process start-to-exit time of the host programs, against a program
// that does nothing, each started and waited for as a shell would. The
// programs run on a device with the default image, without a terminal:
// Tarquell finds the flag at 0 and starts nothing, Velloria says it has no
// terminal and ends. Velloria is also timed on a pseudo-terminal, from its
// start through the dialog's first screen to the close key and its exit.
#include <errno.h>
#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>

extern char** environ;

namespace {

std::string deviceRoot;

// The program's exit status, or -1 when it could not be started.
int Run(const char* path)
{
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>(path), nullptr};
    pid_t pid;
    const int error = posix_spawn(&pid, path, &files, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&files);
    if (error)
        return -1;
    int status;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Velloria on an 80 x 24 terminal: waits for the dialog's "&close" button to
// be drawn, presses C, and waits for the end. The exit status, or -1.
int RunOnTerminal(const char* path)
{
    struct winsize size = {24, 80, 0, 0};
    int master;
    const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid < 0)
        return -1;
    if (pid == 0) {
        setenv("TERM", "xterm", 1);
        execl(path, path, (char*)nullptr);
        _exit(127);
    }
    std::string seen;
    bool closed = false;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;  // EIO once the program has gone
        if (!closed) {
            seen.append(buffer, size_t(n));
            if (seen.find("lose") != std::string::npos) {
                closed = write(master, "c", 1) == 1;
                if (!closed)
                    break;
            }
        }
    }
    close(master);
    int status;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return closed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void UseDevice()
{
    if (deviceRoot.empty()) {
        std::string base = (std::filesystem::temp_directory_path() / "zk-bench-XXXXXX").string();
        if (!mkdtemp(base.data()))
            abort();
        deviceRoot = base;
        atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(deviceRoot, ignored);
        });
    }
    setenv("CE_DEVICE_ROOT", deviceRoot.c_str(), 1);
}

template <typename Runner>
void Measure(benchmark::State& state, Runner run, const char* path)
{
    UseDevice();
    // The first run prepares the device; only later runs are timed.
    if (run(path) != 0) {
        state.SkipWithError("the program failed");
        return;
    }
    for (auto _ : state) {
        if (run(path) != 0) {
            state.SkipWithError("the program failed");
            break;
        }
    }
}

void BM_ProcessStartToExit(benchmark::State& state, const char* path)
{
    Measure(state, Run, path);
}

void BM_ProcessOnTerminal(benchmark::State& state, const char* path)
{
    Measure(state, RunOnTerminal, path);
}

}  // namespace

BENCHMARK_CAPTURE(BM_ProcessStartToExit, trivial, ZK_TRIVIAL)
    ->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ProcessStartToExit, Tarquell, ZK_TARQUELL)
    ->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ProcessStartToExit, Velloria, ZK_VELLORIA)
    ->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ProcessOnTerminal, Velloria, ZK_VELLORIA)
    ->UseRealTime()->Unit(benchmark::kMicrosecond);
