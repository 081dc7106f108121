// The tests' one child runner: a program, or a part of a test, run as its own
// process to its end, with what it said and how it ended. A time limit ends
// a child that hangs, so a hang fails its case instead of stopping the run.
// Beside it, the one capture of what this process itself says on stderr.
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

// A child started and not yet waited for.
struct Child {
    pid_t pid = -1;
    int output = -1;  // the reading end of what it says
};

// Everything `fd` gives until its end.
inline std::string ReadToEnd(int fd)
{
    std::string text;
    char buffer[512];
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            break;
        text.append(buffer, size_t(got));
    }
    return text;
}

// Starts `body` in a child, whose result is the child's exit code; it runs
// beside the caller until Finish().
inline Child StartChild(const std::function<int()>& body, Said said = Said::OutAndErrors,
                        unsigned seconds = 60)
{
    Child child;
    int output[2];
    fflush(nullptr);
    if (pipe(output) != 0)
        return child;
    child.pid = fork();
    if (child.pid == 0) {
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
    child.output = output[0];
    return child;
}

// Waits for the child. The output ends only when the child and whatever it
// started have all ended, so what they said is complete.
inline ChildRun Finish(const Child& child)
{
    ChildRun run;
    if (child.pid > 0)
        run.output = ReadToEnd(child.output);
    if (child.output >= 0)
        close(child.output);
    int status = 0;
    while (child.pid > 0 && waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (child.pid > 0)
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return run;
}

inline ChildRun RunChild(const std::function<int()>& body, Said said = Said::OutAndErrors,
                         unsigned seconds = 60)
{
    return Finish(StartChild(body, said, seconds));
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

// What this process itself says on stderr until Finish(): for a call whose
// effects the test then looks at here, where a child's would be lost.
class StderrCapture {
public:
    StderrCapture() : saved_(dup(2)), file_(tmpfile())
    {
        fflush(stderr);
        dup2(fileno(file_), 2);
    }
    std::string Finish()
    {
        fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        lseek(fileno(file_), 0, SEEK_SET);
        const std::string text = ReadToEnd(fileno(file_));
        fclose(file_);
        return text;
    }

private:
    int saved_;
    FILE* file_;
};
