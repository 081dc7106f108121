// The launcher as the host runs it: Tarquell started as its own process in a
// scratch device folder, with the stand-in control panel the device folder
// gets at its first start, the flag seeded and read back through the host
// registry.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "child_run.h"
#include "launcher_device.h"

namespace {

class LauncherStates : public LauncherDevice {
protected:
    // Runs the launcher to its end and returns what it and the control panel
    // it started wrote to the terminal.
    std::optional<std::string> RunLauncher()
    {
        const ChildRun run = RunToEnd({TARQUELL}, Said::Out);
        EXPECT_EQ(0, run.status);
        return run.output;
    }
};

}  // namespace

#include "launcher_states.h"

namespace {

TEST_F(LauncherStates, ControlPanelIsFoundWhateverTheCaseOfItsPath)
{
    std::filesystem::rename(device_.Files() / "Windows", device_.Files() / "WINDOWS");
    std::filesystem::rename(device_.Files() / "WINDOWS/ctlpnl.exe", device_.Files() / "WINDOWS/CtlPnl.EXE");
    SetFlag(1);
    RunLauncher();
    EXPECT_EQ(kOneAlignment, Starts("WINDOWS/ctlpnl.log"));
    EXPECT_FALSE(std::filesystem::exists(device_.Files() / "Windows")) << "a second \\Windows was made";
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

// The device's control panel: the build's copy, as data; a script put in its
// place is renewed at set-up and never run.

TEST_F(LauncherStates, NewDeviceGetsTheControlPanelAndRenewsIt)
{
    const std::filesystem::path panel = device_.Files() / "Windows/ctlpnl.exe";
    EXPECT_EQ(FileBytes(CTLPNL), FileBytes(panel));

    const std::filesystem::path ran = device_.Outside() / "ran";
    device_.Write("Windows/ctlpnl.exe", "#!/bin/sh\ntouch '" + ran.string() + "'\n", 0755);
    SetFlag(1);
    RunLauncher();
    EXPECT_EQ(kOneAlignment, Starts());
    EXPECT_FALSE(std::filesystem::exists(ran)) << "the device's file was run";
    EXPECT_EQ(FileBytes(CTLPNL), FileBytes(panel));
}

}  // namespace
