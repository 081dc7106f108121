// Runs a program of the wince build on the emulated StrongARM (armemu) as its
// own process, in the current device folder, and keeps its trace of COREDLL
// calls.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

struct ArmRun {
    int status = -1;          // the program's exit code, or -1
    std::string output;       // stdout and stderr of the emulator and what it started
    std::vector<std::string> calls;  // the trace, one call a line
};

// Reads everything the program and any process it started wrote; the output
// ends only when all of them have ended.
inline ArmRun RunArm(const std::string& program, const std::string& tracePath)
{
    ArmRun run;
    int output[2];
    EXPECT_EQ(0, pipe(output));
    pid_t child = fork();
    if (child == 0) {
        dup2(output[1], 1);
        dup2(output[1], 2);
        close(output[0]);
        close(output[1]);
        execl(ARMEMU, ARMEMU, "--trace", tracePath.c_str(), program.c_str(), (char*)nullptr);
        _exit(127);
    }
    close(output[1]);
    char buffer[512];
    for (ssize_t got; (got = read(output[0], buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            break;
        run.output.append(buffer, size_t(got));
    }
    close(output[0]);
    int status = 0;
    EXPECT_EQ(child, waitpid(child, &status, 0));
    if (WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    std::ifstream trace(tracePath);
    for (std::string line; std::getline(trace, line);)
        run.calls.push_back(line);
    return run;
}

// The registry calls of a trace, in order.
inline std::vector<std::string> RegistryCalls(const std::vector<std::string>& calls)
{
    std::vector<std::string> registry;
    for (const std::string& call : calls)
        if (call.rfind("Reg", 0) == 0)
            registry.push_back(call);
    return registry;
}
