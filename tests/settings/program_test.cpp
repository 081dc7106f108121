// The host Velloria program itself, started as a user would: without a
// terminal, and on a pseudo-terminal driven with keys and the mouse the way
// xterm sends them.
#include <gtest/gtest.h>

#include <errno.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>

#include "child_run.h"
#include "host_device.h"
#include "registry/reg_text.h"

namespace {

const char kGlyph[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\GDI\\GLYPHCACHE";
const char kOwn[] = "HKEY_CURRENT_USER\\Software\\Zelkoran";

const char kRegistry[] =
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\GDI\\GLYPHCACHE]\n\"limit\"=dword:00000077\n\n";

// A scratch device folder whose registry holds kRegistry, read back through
// the host's own .reg reader.
class ScratchDevice : public HostDevice {
public:
    ScratchDevice() { Write("registry.reg", kRegHead + kRegistry); }

    bool OwnKeyExists() const { return host::reg::KeyExists(ParseReg(Read("registry.reg")), kOwn); }

    // The glyph cache's limit; nullopt when it is missing or of another type.
    std::optional<DWORD> Limit() const
    {
        host::reg::Document doc = ParseReg(Read("registry.reg"));
        const host::reg::Value* value = host::reg::FindValue(doc, kGlyph, "limit");
        if (!value || value->type != REG_DWORD || value->data.size() != 4)
            return std::nullopt;
        const auto& d = value->data;
        return DWORD(d[0]) | DWORD(d[1]) << 8 | DWORD(d[2]) << 16 | DWORD(d[3]) << 24;
    }
};

// Exit status, or -1 when it didn't exit normally.
int Wait(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Program, WithoutATerminalSaysSoAndExits)
{
    ScratchDevice device;
    std::string command = std::string(VELLORIA_PROGRAM) + " </dev/null 2>&1 >/dev/null";
    const ChildRun run = RunToEnd({"/bin/sh", "-c", command.c_str()}, Said::Out);
    EXPECT_EQ(run.status, 0);
    const std::string& said = run.output;
    EXPECT_EQ(said, "Velloria: no terminal to show the dialog on; closing it.\n");
    EXPECT_FALSE(device.OwnKeyExists()) << "the dialog never opened";
}

// Velloria on an 80 x 24 pseudo-terminal.
class OnTerminal {
public:
    OnTerminal()
    {
        struct winsize size = {24, 80, 0, 0};
        pid_ = forkpty(&master_, nullptr, nullptr, &size);
        if (pid_ == 0) {
            setenv("TERM", "xterm", 1);
            execl(VELLORIA_PROGRAM, VELLORIA_PROGRAM, (char*)nullptr);
            _exit(127);
        }
    }
    ~OnTerminal()
    {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            Wait(pid_);
        }
        if (master_ >= 0)
            close(master_);
    }

    bool Started() const { return pid_ > 0; }

    // Reads the screen's output until `text` has appeared; false at its end.
    bool WaitFor(const std::string& text)
    {
        while (seen_.find(text) == std::string::npos) {
            if (!ReadSome())
                return false;
        }
        seen_.erase(0, seen_.find(text) + text.size());
        return true;
    }
    void Send(const std::string& bytes) { ASSERT_EQ(write(master_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }

    // Waits for the program to end; its exit status.
    int Exit()
    {
        while (ReadSome()) {
        }
        exited_ = true;
        return Wait(pid_);
    }

private:
    bool ReadSome()
    {
        char buffer[4096];
        ssize_t n = read(master_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            return true;
        if (n <= 0)
            return false;  // EIO once the program has gone
        seen_.append(buffer, size_t(n));
        return true;
    }

    pid_t pid_ = -1;
    int master_ = -1;
    bool exited_ = false;
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
        EXPECT_EQ(terminal.Exit(), 0);
        EXPECT_EQ(device.Limit(), session.limit);
        EXPECT_TRUE(device.OwnKeyExists());
        EXPECT_EQ(device.Read("restart-requested"), session.restart);
    }
}

}  // namespace
