// What the launcher's drivers on the host side share: a scratch device folder
// set up with its stand-in control panel, what the panel was asked to open,
// and running a program to its end with what it said.
#pragma once

#include <errno.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "device.h"
#include "host_device.h"

struct ChildRun {
    int status = -1;     // the exit code, or -1 when it did not exit
    std::string output;  // its stdout, and its stderr when asked for
};

// Runs argv[0] with `argv` to its end. The output ends only when the program
// and whatever it started have all ended, so what they said is complete.
inline ChildRun RunToEnd(std::vector<const char*> argv, bool withErrors)
{
    ChildRun run;
    argv.push_back(nullptr);
    int output[2];
    EXPECT_EQ(0, pipe(output));
    const pid_t child = fork();
    if (child == 0) {
        dup2(output[1], 1);
        if (withErrors)
            dup2(output[1], 2);
        close(output[0]);
        close(output[1]);
        execv(argv[0], const_cast<char* const*>(argv.data()));
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
    return run;
}

class LauncherDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        host::PrepareDevice();
        ASSERT_EQ(0, access((device_.Root() / "Windows/ctlpnl.exe").c_str(), X_OK))
            << "the device has no control panel";
    }

    std::vector<std::string> Starts(const char* log = "Windows/ctlpnl.log") const
    {
        return device_.Lines(log);
    }

    // Set-up puts a missing control panel back; one that is there but is no
    // program stays, and fails to start.
    void RemoveControlPanel()
    {
        ASSERT_TRUE(std::filesystem::remove(device_.Root() / "Windows/ctlpnl.exe"));
        device_.Write("Windows/ctlpnl.exe", "", 0644);
    }

    HostDevice device_;
};
