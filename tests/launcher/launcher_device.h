// What the launcher's drivers on the host side share: a scratch device folder
// set up with its stand-in control panel, and what the panel was asked to open.
#pragma once

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "device/device.h"
#include "support/host_device.h"

class LauncherDevice : public ::testing::Test {
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

    HostDevice device_;
};
