// What the launcher's drivers on the host side share: a scratch device folder
// set up with its stand-in control panel, and what the panel was asked to open.
#pragma once

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "device.h"
#include "host_device.h"

class LauncherDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        host::PrepareDevice();
        // The device's copy marks its place and is data on the host, never
        // runnable: the build's runs in its place.
        ASSERT_TRUE(std::filesystem::is_regular_file(device_.Files() / "Windows/ctlpnl.exe"))
            << "the device has no control panel";
        EXPECT_NE(0, access((device_.Files() / "Windows/ctlpnl.exe").c_str(), X_OK));
    }

    std::vector<std::string> Starts(const char* log = "Windows/ctlpnl.log") const
    {
        return device_.Lines(log);
    }

    // Set-up puts a missing or changed control panel back; a folder in its
    // place stays, and the start finds no program there.
    void RemoveControlPanel()
    {
        ASSERT_TRUE(std::filesystem::remove(device_.Files() / "Windows/ctlpnl.exe"));
        std::filesystem::create_directory(device_.Files() / "Windows/ctlpnl.exe");
    }

    HostDevice device_;
};
