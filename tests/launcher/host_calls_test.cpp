// The launcher's calls, exactly: its entry runs in this process, with the
// host registry's and process start's records on.
#include <windows.h>

#include <gtest/gtest.h>

#include "device.h"
#include "host_device.h"
#include "host_programs.h"
#include "host_watch.h"
#include "registry/expected_calls.h"

namespace {

class LauncherCalls : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A control panel that ends at once and leaves nothing behind.
        device_.Write("Windows/ctlpnl.exe", "its place");
        UseTestProgram("controlPanel", "/bin/true");
    }

    void TearDown() override { host::SetSaveHook(nullptr); }

    // Runs the launcher's entry in this process, its calls written as the
    // emulator's trace writes them.
    std::vector<std::string> Traced()
    {
        std::vector<std::string> lines;
        host::CallTrace trace([&](const std::string& line) { lines.push_back(line); });
        host::Watches::Shared().Join(&trace);
        WCHAR none[] = L"";
        EXPECT_EQ(0, wWinMain(GetModuleHandleW(NULL), NULL, none, 1));
        host::Watches::Shared().Leave(&trace);
        return lines;
    }

    HostDevice device_;
};

}  // namespace

#include "launcher_calls.h"

namespace {

// The registry can't save the new key: the launcher's open then fails, and
// it ends without reading, starting or writing anything.
TEST_F(LauncherCalls, KeyThatCannotBeCreated_EndsTheRunQuietly)
{
    host::PrepareDevice();
    const std::string before = device_.Read("registry.reg");
    host::SetSaveHook([](host::SaveStep) { return false; });
    EXPECT_EQ(Traced(), host::Lines({calls::Open(facts::kFlag, ERROR_FILE_NOT_FOUND),
                                     calls::CreateOwnKey(ERROR_REGISTRY_IO_FAILED),
                                     calls::Open(facts::kFlag, ERROR_FILE_NOT_FOUND)}));
    EXPECT_EQ(before, device_.Read("registry.reg"));
}

}  // namespace
