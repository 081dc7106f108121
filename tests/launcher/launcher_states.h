// The launcher's table of states: one set of cases, run on each target. The
// file that includes this defines the fixture LauncherStates, which starts
// each test with no key and the control panel in place, and gives
//   RunLauncher()         runs the launcher to its end and waits for any
//                         control panel it started; returns what they said on
//                         the terminal, or nullopt where there is none
//   Starts()              every start of the control panel so far, one
//                         command line each
//   RemoveControlPanel()
#pragma once

#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "launcher_flag.h"

namespace {

// Nothing said, where there is a terminal to say it on.
void ExpectSaidNothing(const std::optional<std::string>& said)
{
    if (said) {
        EXPECT_EQ("", *said);
    }
}

TEST_F(LauncherStates, FlagAndKeyAbsent_CreatesKeyAndClearedFlag)
{
    ASSERT_FALSE(FlagKeyExists());
    ExpectSaidNothing(RunLauncher());
    EXPECT_TRUE(FlagKeyExists());
    ExpectFlagCleared();
    EXPECT_TRUE(Starts().empty());
}

TEST_F(LauncherStates, FlagAbsentInExistingKey_WritesClearedFlag)
{
    CreateFlagKey();
    RunLauncher();
    ExpectFlagCleared();
    EXPECT_TRUE(Starts().empty());
}

TEST_F(LauncherStates, FlagZero_StartsNothing)
{
    SetFlag(0);
    ExpectSaidNothing(RunLauncher());
    ExpectFlagCleared();
    EXPECT_TRUE(Starts().empty());
}

TEST_F(LauncherStates, FlagOne_StartsAlignmentPageOnceAndClears)
{
    SetFlag(1);
    const std::optional<std::string> said = RunLauncher();
    if (said) {
        EXPECT_NE(std::string::npos, said->find("stylus alignment page is open")) << *said;
    }
    EXPECT_EQ(kOneAlignment, Starts());
    ExpectFlagCleared();
}

TEST_F(LauncherStates, FlagLongerThanFourBytes_IsNotSetAndIsOverwritten)
{
    SetFlag(REG_BINARY, {1, 0, 0, 0, 0, 0, 0, 0});
    RunLauncher();
    EXPECT_TRUE(Starts().empty());
    ExpectFlagCleared();
}

// Only the first byte counts, whatever the type.

TEST_F(LauncherStates, FourBytesOfAnotherTypeStartingWithOne_CountAsSet)
{
    SetFlag(REG_BINARY, {1, 0x55, 0x55, 0x55});
    RunLauncher();
    EXPECT_EQ(kOneAlignment, Starts());
    ExpectFlagCleared();
}

TEST_F(LauncherStates, FlagWithoutData_IsNotSet)
{
    SetFlag(REG_BINARY, {});
    RunLauncher();
    EXPECT_TRUE(Starts().empty());
    ExpectFlagCleared();
}

TEST_F(LauncherStates, DwordWithHigherBytesOnly_IsNotSet)
{
    SetFlag(0x100);
    RunLauncher();
    EXPECT_TRUE(Starts().empty());
    ExpectFlagCleared();
}

// Across runs and failures.

TEST_F(LauncherStates, TwoRunsAfterOneChange_StartThePageOnce)
{
    SetFlag(1);
    RunLauncher();
    ExpectSaidNothing(RunLauncher());
    EXPECT_EQ(kOneAlignment, Starts());
    ExpectFlagCleared();
}

TEST_F(LauncherStates, FailedStart_StillClearsFlag)
{
    ASSERT_NO_FATAL_FAILURE(RemoveControlPanel());
    SetFlag(1);
    ExpectSaidNothing(RunLauncher());
    ExpectFlagCleared();
    EXPECT_TRUE(Starts().empty());
}

}  // namespace
