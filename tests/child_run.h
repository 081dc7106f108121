// The tests' one child runner: a program, or a part of a test, run as its own
// process to its end, with what it said and how it ended. A time limit ends
// a child that hangs, so a hang fails its case instead of stopping the run.
#pragma once

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

struct ChildRun {
    int status = -1;     // the exit code, or minus the signal that ended it
    std::string output;  // what it wrote on the streams asked for
};

enum class Said { Out, OutAndErrors, Errors };

// Runs `body` in a child, whose result is the child's exit code. The output
// ends only when the child and whatever it started have all ended, so what
// they said is complete.
inline ChildRun RunChild(const std::function<int()>& body, Said said = Said::OutAndErrors,
                         unsigned seconds = 60)
{
    ChildRun run;
    int output[2];
    fflush(nullptr);
    if (pipe(output) != 0)
        return run;
    const pid_t child = fork();
    if (child == 0) {
        if (said != Said::Errors)
            dup2(output[1], 1);
        if (said != Said::Out)
            dup2(output[1], 2);
        close(output[0]);
        close(output[1]);
        alarm(seconds);  // kept across exec
        const int result = body();
        fflush(nullptr);
        _exit(result);
    }
    close(output[1]);
    char buffer[512];
    for (ssize_t got; child > 0 && (got = read(output[0], buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            break;
        run.output.append(buffer, size_t(got));
    }
    close(output[0]);
    int status = 0;
    while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (child > 0)
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return run;
}

// Runs the program argv[0] with `argv`; 127 when it could not start.
inline ChildRun RunToEnd(std::vector<const char*> argv, Said said = Said::OutAndErrors)
{
    argv.push_back(nullptr);
    return RunChild(
        [&] {
            execv(argv[0], const_cast<char* const*>(argv.data()));
            return 127;
        },
        said);
}
