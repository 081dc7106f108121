// The session's children: what it waits for and how long, what it ends and
// how surely, the line that tells what became of them, and the terminal held
// between the session and a program.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "children.h"
#include "terminal/hold.h"

namespace {

// A child's life, after fork: only what a forked child of a threaded test
// may call.
[[noreturn]] void RunOn(bool deaf)
{
    if (deaf)
        signal(SIGTERM, SIG_IGN);
    for (;;)
        pause();
}

void Note(int fd, pid_t pid)
{
    (void)!write(fd, &pid, sizeof pid);
}

bool Gone(pid_t pid)
{
    return kill(pid, 0) != 0 && errno == ESRCH;
}

class SessionChildren : public testing::Test {
protected:
    void SetUp() override { session::AdoptOrphans(); }
    void TearDown() override
    {
        session::EndAll();
        EXPECT_TRUE(session::Children().empty());
    }
};

// Whatever a program does to stay (a session of its own, a terminate
// ignored, stopped, orphaned by its starter), an end leaves none of it.
TEST_F(SessionChildren, EndAllEndsEveryProgramAndWhatItStarted)
{
    int notes[2];
    ASSERT_EQ(pipe(notes), 0);
    const pid_t program = fork();
    if (program == 0) {
        close(notes[0]);
        Note(notes[1], getpid());
        if (fork() == 0) {
            setsid();
            Note(notes[1], getpid());
            RunOn(true);
        }
        if (fork() == 0) {
            if (fork() == 0) {
                Note(notes[1], getpid());
                RunOn(true);
            }
            _exit(0);
        }
        if (fork() == 0) {
            Note(notes[1], getpid());
            raise(SIGSTOP);
            RunOn(false);
        }
        RunOn(false);
    }
    close(notes[1]);
    std::vector<pid_t> started;
    pid_t pid;
    while (started.size() < 4 && read(notes[0], &pid, sizeof pid) == sizeof pid)
        started.push_back(pid);
    close(notes[0]);
    ASSERT_EQ(started.size(), 4u);
    session::EndAll();
    for (pid_t each : started)
        EXPECT_TRUE(Gone(each)) << "pid " << each << " outlived the end";
}

// What runs on past the wait is named, and only that; what an earlier
// program left running is neither waited for nor named again.
TEST_F(SessionChildren, WaitNamesWhatRunsOnAndLeavesEarlierProgramsOut)
{
    const pid_t earlier = fork();
    if (earlier == 0)
        RunOn(false);
    const std::set<pid_t> before = session::Children();
    ASSERT_EQ(before.count(earlier), 1u);

    const pid_t quick = fork();
    if (quick == 0)
        _exit(0);
    session::Settled settled = session::WaitForAll(quick, before, 5000);
    EXPECT_TRUE(settled.started);
    EXPECT_FALSE(settled.timedOut);
    EXPECT_TRUE(settled.others.empty());

    const pid_t starter = fork();
    if (starter == 0) {
        if (fork() == 0) {
            prctl(PR_SET_NAME, "lingerer");
            RunOn(false);
        }
        _exit(0);
    }
    settled = session::WaitForAll(starter, before, 300);
    EXPECT_TRUE(settled.started);
    EXPECT_TRUE(settled.timedOut);
    EXPECT_EQ(settled.running, std::vector<std::string>{"lingerer"});
    EXPECT_EQ(session::DescribeSettled("starter", settled, 10000),
              "starter ended; what it started (lingerer) is still running after 10 s and goes on in the "
              "background until the next restart or quit");

    // A program running on, with a child that ended and that it never
    // reaps: only what runs is named, and not the lingerer of before.
    const std::set<pid_t> now = session::Children();
    const pid_t keeper = fork();
    if (keeper == 0) {
        if (fork() == 0)
            _exit(0);
        if (fork() == 0) {
            prctl(PR_SET_NAME, "lingerer");
            RunOn(false);
        }
        RunOn(false);
    }
    settled = session::WaitForAll(keeper, now, 300);
    EXPECT_FALSE(settled.started);
    EXPECT_TRUE(settled.timedOut);
    EXPECT_EQ(settled.running, std::vector<std::string>{"lingerer"});
    EXPECT_FALSE(Gone(earlier));
}

TEST(SessionOutcome, EachLineSaysWhatEndedAndWhatRunsOn)
{
    const std::string background = " in the background until the next restart or quit";
    const struct {
        const char* what;
        session::Settled settled;
        std::string line;
    } table[] = {
        {"ended alone", {true, 0, {}, false, {}}, "x ended; it opened nothing"},
        {"ended with a status, two opened", {true, 3 << 8, {"a", "b"}, false, {}},
         "x ended with exit status 3; it opened a and b"},
        {"five opened", {true, 0, {"a", "b", "c", "d", "e"}, false, {}}, "x ended; it opened a, b, c and 2 more"},
        {"four opened", {true, 0, {"a", "b", "c", "d"}, false, {}}, "x ended; it opened a, b, c and d"},
        {"itself running on", {false, 0, {}, true, {}}, "x is still running after 10 s; it goes on" + background},
        {"itself running on, having opened one", {false, 0, {"a"}, true, {}},
         "x is still running after 10 s; it opened a; it goes on" + background},
        {"what it started running on", {true, 0, {}, true, {"l"}},
         "x ended; what it started (l) is still running after 10 s and goes on" + background},
        {"both running on", {false, 0, {}, true, {"l", "m"}},
         "x is still running after 10 s, and so is what it started (l and m); they go on" + background},
        {"all ended at the last moment", {true, 0, {}, true, {}}, "x ended; it opened nothing"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(session::DescribeSettled("x", row.settled, 10000), row.line);
    }
}

// Whether a process holding its own open of the shared file holds the
// terminal against the session: 0 held, 1 refused.
int ProgramTakes(bool andKeep, int notes)
{
    const pid_t program = fork();
    if (program == 0) {
        const std::string shared = std::string("/proc/self/fd/") + getenv(host::kTerminalHoldVariable);
        const int own = open(shared.c_str(), O_RDONLY | O_CLOEXEC);
        const bool took = own >= 0 && flock(own, LOCK_EX | LOCK_NB) == 0;
        if (took && andKeep) {
            Note(notes, getpid());
            RunOn(false);
        }
        _exit(took ? 0 : 1);
    }
    int status = 0;
    if (!andKeep)
        waitpid(program, &status, 0);
    return andKeep ? program : WEXITSTATUS(status);
}

TEST_F(SessionChildren, TheTerminalIsHeldByOneAtATime)
{
    ASSERT_TRUE(host::ShareTerminal());
    EXPECT_FALSE(host::TerminalHeldElsewhere());
    host::HoldTerminal();
    EXPECT_EQ(ProgramTakes(false, -1), 1) << "a program drew over the session's prompt";
    host::LetGoTerminal();
    EXPECT_EQ(ProgramTakes(false, -1), 0);

    int notes[2];
    ASSERT_EQ(pipe(notes), 0);
    const pid_t program = ProgramTakes(true, notes[1]);
    pid_t told = 0;
    ASSERT_EQ(read(notes[0], &told, sizeof told), ssize_t(sizeof told));
    EXPECT_TRUE(host::TerminalHeldElsewhere());
    kill(program, SIGKILL);
    waitpid(program, nullptr, 0);
    EXPECT_FALSE(host::TerminalHeldElsewhere()) << "a program's end left the terminal held";
    close(notes[0]);
    close(notes[1]);
}

}  // namespace
