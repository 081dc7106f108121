// The launcher's table of states and its exact calls, run by the ARM
// Tarquell.exe on the emulated StrongARM: the registry is the host's of a
// scratch device folder, the control panel it starts the host's stand-in.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "launcher/launcher_device.h"
#include "launcher/launcher_calls.h"
#include "launcher/launcher_flag.h"
#include "run_arm.h"

namespace {

class LauncherStates : public LauncherDevice {
protected:
    // Runs Tarquell.exe to its end; what it and the control panel said.
    std::optional<std::string> RunLauncher()
    {
        last_ = RunArm(TARQUELL_EXE, (device_.Outside() / "trace").string());
        EXPECT_EQ(0, last_.status) << last_.output;
        return last_.output;
    }

    ArmRun last_;
};

}  // namespace

#include "launcher/launcher_states.h"

namespace {

using LauncherCalls = LauncherStates;

TEST_F(LauncherCalls, FlagOne_RegistryCallsAndTheStartExactly)
{
    SetFlag(1);
    RunLauncher();
    EXPECT_EQ(kFlagOneCalls, RegistryCalls(last_.calls));
    ASSERT_EQ(8u, last_.calls.size());
    EXPECT_EQ(kStartLine, last_.calls[5]);
}

TEST_F(LauncherCalls, NoKey_CreatesItThenWritesTheClearedFlag)
{
    RunLauncher();
    EXPECT_EQ(kNoKeyCalls, last_.calls);
}

}  // namespace
