// The launcher's table of states and its exact calls, run by the ARM
// Tarquell.exe on the emulated StrongARM: the registry is the host's of a
// scratch device folder, the control panel it starts the host's stand-in.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "launcher/launcher_device.h"
#include "run_arm.h"

namespace {

class LauncherStates : public LauncherDevice {
protected:
    // Runs Tarquell.exe to its end; what it and the control panel said.
    std::optional<std::string> RunLauncher() { return Run().output; }

    // The same, its calls as the emulator's trace writes them.
    std::vector<std::string> Traced() { return Run().calls; }

    ArmRun Run()
    {
        ArmRun run = RunArm(TARQUELL_EXE, (device_.Outside() / "trace").string());
        EXPECT_EQ(0, run.status) << run.output;
        return run;
    }
};

using LauncherCalls = LauncherStates;

}  // namespace

#include "launcher/launcher_states.h"
#include "launcher/launcher_calls.h"
