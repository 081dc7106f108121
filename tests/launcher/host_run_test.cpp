// The launcher as the host runs it: Tarquell started as its own process in a
// scratch device folder, with the stand-in control panel the device folder
// gets at its first start, the flag seeded and read back through the host
// registry.
#include <windows.h>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "device.h"
#include "host_device.h"

namespace {

class LauncherStates : public ::testing::Test {
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

    // Runs the launcher to its end and returns what it and the control panel
    // it started wrote to the terminal. The output ends only when both have
    // ended, so the panel's record is complete by then.
    std::optional<std::string> RunLauncher()
    {
        int output[2];
        EXPECT_EQ(0, pipe(output));
        pid_t launcher = fork();
        if (launcher == 0) {
            dup2(output[1], 1);
            close(output[0]);
            close(output[1]);
            execl(TARQUELL, TARQUELL, (char*)nullptr);
            _exit(127);
        }
        close(output[1]);
        std::string text;
        char buffer[512];
        for (ssize_t got; (got = read(output[0], buffer, sizeof buffer)) != 0;) {
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                break;
            text.append(buffer, size_t(got));
        }
        close(output[0]);
        int status = -1;
        EXPECT_EQ(launcher, waitpid(launcher, &status, 0));
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(0, WEXITSTATUS(status));
        return text;
    }

    HostDevice device_;
};

}  // namespace

#include "launcher_states.h"

namespace {

TEST_F(LauncherStates, ControlPanelIsFoundWhateverTheCaseOfItsPath)
{
    std::filesystem::rename(device_.Root() / "Windows", device_.Root() / "WINDOWS");
    std::filesystem::rename(device_.Root() / "WINDOWS/ctlpnl.exe", device_.Root() / "WINDOWS/CtlPnl.EXE");
    SetFlag(1);
    RunLauncher();
    EXPECT_EQ(kOneAlignment, Starts("WINDOWS/ctlpnl.log"));
    EXPECT_FALSE(std::filesystem::exists(device_.Root() / "Windows")) << "a second \\Windows was made";
}

// A registry that can't be read can't take the key either: the launcher
// reads, starts and writes nothing, and the file is left as it was.
TEST_F(LauncherStates, DamagedRegistry_IsLeftAsItWas)
{
    const std::string damaged = device_.Read("registry.reg") +
                                "[HKEY_CURRENT_USER\\Software\\Zelkoran]\n\"align\"=dword:00000001\nnot a registry line\n";
    device_.Write("registry.reg", damaged);
    RunLauncher();
    EXPECT_EQ(damaged, device_.Read("registry.reg"));
    EXPECT_TRUE(Starts().empty());
}

// The device folder's control panel.

TEST(HostDeviceSetUp, NewDeviceGetsTheControlPanelAndKeepsIt)
{
    HostDevice device;
    host::PrepareDevice();
    const std::filesystem::path panel = device.Root() / "Windows/ctlpnl.exe";
    ASSERT_EQ(0, access(panel.c_str(), X_OK));
    EXPECT_EQ(std::filesystem::file_size(CTLPNL), std::filesystem::file_size(panel));

    // One the user put there stays as it is.
    std::filesystem::remove(panel);
    device.Write("Windows/ctlpnl.exe", "#!/bin/sh\n", 0755);
    host::PrepareDevice();
    EXPECT_EQ(std::filesystem::file_size(panel), 10u);
}

}  // namespace
