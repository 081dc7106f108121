// The launcher's calls, exactly: its entry runs in this process, with the
// host registry's and process start's records on.
#include <windows.h>

#include <gtest/gtest.h>

#include "device.h"
#include "host_device.h"
#include "launcher_calls.h"
#include "launcher_flag.h"
#include "host_watch.h"

namespace {

class LauncherCalls : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A control panel that ends at once and leaves nothing behind.
        device_.Write("Windows/ctlpnl.exe", "#!/bin/sh\n", 0755);
        host::RecordProcessStarts(&starts_);
    }

    void TearDown() override
    {
        host::RecordProcessStarts(nullptr);
        host::SetSaveHook(nullptr);
    }

    static int RunEntry()
    {
        WCHAR none[] = L"";
        return wWinMain(GetModuleHandleW(NULL), NULL, none, 1);
    }

    HostDevice device_;
    std::vector<host::ProcessStart> starts_;
};

TEST_F(LauncherCalls, FlagOne_StartsTheAlignmentPageWithTheseArguments)
{
    SetFlag(1);
    host::RegistryRecorder registry;
    EXPECT_EQ(0, RunEntry());

    ASSERT_EQ(1u, starts_.size());
    EXPECT_EQ(kStartLine, host::CallLines().Line(starts_[0]));
    EXPECT_EQ(kFlagOneCalls, registry.Lines());
}

TEST_F(LauncherCalls, FlagZero_StartsNothing)
{
    SetFlag(0);
    EXPECT_EQ(0, RunEntry());
    EXPECT_TRUE(starts_.empty());
}

TEST_F(LauncherCalls, NoKey_CreatesItThenWritesTheClearedFlag)
{
    host::RegistryRecorder registry;
    EXPECT_EQ(0, RunEntry());
    EXPECT_TRUE(starts_.empty());
    EXPECT_EQ(kNoKeyCalls, registry.Lines());
}

// The registry can't save the new key: the launcher's open then fails, and
// it ends without reading, starting or writing anything.
TEST_F(LauncherCalls, KeyThatCannotBeCreated_EndsTheRunQuietly)
{
    host::PrepareDevice();
    const std::string before = device_.Read("registry.reg");
    host::SetSaveHook([](host::SaveStep) { return false; });
    host::RegistryRecorder registry;
    EXPECT_EQ(0, RunEntry());

    EXPECT_TRUE(starts_.empty());
    EXPECT_EQ(registry.Lines(), host::Lines({calls::Open(facts::kFlag, ERROR_FILE_NOT_FOUND),
                                             calls::CreateOwnKey(ERROR_REGISTRY_IO_FAILED),
                                             calls::Open(facts::kFlag, ERROR_FILE_NOT_FOUND)}));
    EXPECT_EQ(before, device_.Read("registry.reg"));
}

}  // namespace
