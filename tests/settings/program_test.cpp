// The host Velloria program itself, started as a user would: without a
// terminal, and on a pseudo-terminal driven with keys and the mouse the way
// xterm sends them.
#include <gtest/gtest.h>

#include <errno.h>
#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <windows.h>

#include "support/child_run.h"
#include "support/host_device.h"
#include "support/helpers.h"
#include "support/reg_text.h"

namespace {

// A scratch device folder whose registry holds the glyph cache's limit at
// 0x77; the program's writes are read back through the host's registry.
class ScratchDevice : public HostDevice {
public:
    ScratchDevice()
    {
        Write("registry.reg",
              kRegHead + "[HKEY_LOCAL_MACHINE\\SYSTEM\\GDI\\GLYPHCACHE]\n\"limit\"=dword:00000077\n\n");
    }
};

TEST(Program, WithoutATerminalSaysSoAndExits)
{
    ScratchDevice device;
    std::string command = std::string(VELLORIA_PROGRAM) + " </dev/null 2>&1 >/dev/null";
    const ChildRun run = RunToEnd({"/bin/sh", "-c", command.c_str()}, Said::Out);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "Velloria: no terminal to show the dialog on; closing it.\n");
    EXPECT_FALSE(KeyExists(facts::kFlag)) << "the dialog never opened";
}

// Velloria on an 80 x 24 pseudo-terminal, ended with the test at the latest.
class OnTerminal {
public:
    OnTerminal()
    {
        struct winsize size = {24, 80, 0, 0};
        child_.pid = forkpty(&child_.output, nullptr, nullptr, &size);
        if (child_.pid == 0) {
            setenv("TERM", "xterm", 1);
            execl(VELLORIA_PROGRAM, VELLORIA_PROGRAM, (char*)nullptr);
            _exit(127);
        }
    }
    ~OnTerminal()
    {
        if (child_.pid > 0)
            kill(child_.pid, SIGKILL);
        Finish(child_);
    }

    bool Started() const { return child_.pid > 0; }

    // Reads the screen's output until `text` has appeared; false at its end
    // (EIO once the program has gone).
    bool WaitFor(const std::string& text)
    {
        char buffer[4096];
        while (seen_.find(text) == std::string::npos) {
            const ssize_t n = read(child_.output, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            seen_.append(buffer, size_t(n));
        }
        seen_.erase(0, seen_.find(text) + text.size());
        return true;
    }
    void Send(const std::string& bytes)
    {
        ASSERT_EQ(write(child_.output, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }

    // Waits for the program to end, reading what it still shows; its exit
    // status.
    int Exit()
    {
        const int status = Finish(child_).status;
        child_ = {};
        return status;
    }

private:
    Child child_;
    std::string seen_;
};

// A left click as xterm reports it in the mode ncurses asks for (SGR):
// press and release, column and row counted from 1.
std::string Press(int column, int row)
{
    std::string at = std::to_string(column + 1) + ";" + std::to_string(row + 1);
    return "\x1b[<0;" + at + "M\x1b[<0;" + at + "m";
}

// Each session sends its input, each part once the screen has shown a text
// ("lose": "&close" ends the first screen), then the program has ended with
// what it wrote.
TEST(Program, OnATerminalKeysAndTheMousePressButtonsAndEndIt)
{
    const struct {
        const char* what;
        std::vector<std::pair<std::string, std::string>> steps;  // the text awaited, what is sent
        DWORD limit;
        std::string restart;  // the request written, if any
    } sessions[] = {
        // Tab twice to "slow (save RAM)", press it, then close with C.
        {"keys press buttons and C closes", {{"lose", "\t\t\r"}, {"", "c"}}, 4096, ""},
        {"Alt+R asks for a restart and ends", {{"lose", "\x1br"}}, 0x77, "warm\n"},
        // Centred at (6, 5): "reg*" of the display speed-up row on row 8,
        // the caption's OK at the right end of row 5; "reg*" shows the press
        // drawn.
        {"the mouse on a button and on the caption's OK", {{"lose", Press(55, 8)}, {"reg*", Press(71, 5)}},
         16384, ""},
    };
    for (const auto& session : sessions) {
        SCOPED_TRACE(session.what);
        ScratchDevice device;
        OnTerminal terminal;
        ASSERT_TRUE(terminal.Started());
        for (const auto& [text, bytes] : session.steps) {
            ASSERT_TRUE(terminal.WaitFor(text)) << text;
            terminal.Send(bytes);
        }
        // Its end, then the glyph cache's limit, the own key and the restart
        // asked for.
        const int status = terminal.Exit();
        EXPECT_EQ(std::make_tuple(status, ReadValue(facts::kGlyph), KeyExists(facts::kFlag),
                                  device.Read("restart-requested")),
                  std::make_tuple(0, Dword(session.limit), true, session.restart));
    }
}

}  // namespace
