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
#include <vector>

#include <gtest/gtest.h>

#include "launcher_flag.h"

namespace {

// One state: what the device holds before the launcher runs (no key, the key
// alone, or the flag's value), how many times it runs, and whether it opens
// the alignment page (once, however many runs).
struct LauncherState {
    const char* name;
    std::optional<Stored> before;  // nullopt: no key; not present: the key alone
    bool opens = false;
    int runs = 1;
    bool panelRemoved = false;
};

const LauncherState kStates[] = {
    {"FlagAndKeyAbsent_CreatesKeyAndClearedFlag", std::nullopt},
    {"FlagAbsentInExistingKey_WritesClearedFlag", Stored{}},
    {"FlagZero_StartsNothing", Dword(0)},
    {"FlagOne_StartsAlignmentPageOnceAndClears", Dword(1), true},
    {"FlagLongerThanFourBytes_IsNotSetAndIsOverwritten", Value(REG_BINARY, {1, 0, 0, 0, 0, 0, 0, 0})},
    // Only the first byte counts, whatever the type.
    {"FourBytesOfAnotherTypeStartingWithOne_CountAsSet", Value(REG_BINARY, {1, 0x55, 0x55, 0x55}), true},
    {"FlagWithoutData_IsNotSet", Value(REG_BINARY, {})},
    {"DwordWithHigherBytesOnly_IsNotSet", Dword(0x100)},
    // Across runs and failures.
    {"TwoRunsAfterOneChange_StartThePageOnce", Dword(1), true, 2},
    {"FailedStart_StillClearsFlag", Dword(1), false, 1, true},
};

class LauncherStateRows : public LauncherStates, public testing::WithParamInterface<LauncherState> {};

TEST_P(LauncherStateRows, EndsWithTheFlagCleared)
{
    const LauncherState& state = GetParam();
    if (state.panelRemoved) {
        ASSERT_NO_FATAL_FAILURE(RemoveControlPanel());
    }
    if (!state.before) {
        ASSERT_FALSE(FlagKeyExists());
    } else if (!state.before->present) {
        CreateFlagKey();
    } else {
        SET_PLACE(facts::kFlag, *state.before);
    }
    std::optional<std::string> said;
    for (int run = 0; run < state.runs; ++run)
        said = RunLauncher();
    // Where there is a terminal, the control panel says the page is open;
    // otherwise nothing is said (nor by a second run).
    if (said) {
        const bool told = said->find("stylus alignment page is open") != std::string::npos;
        EXPECT_TRUE(state.opens && state.runs == 1 ? told : said->empty()) << *said;
    }
    EXPECT_EQ(state.opens ? kOneAlignment : std::vector<std::string>{}, Starts());
    ExpectFlagCleared();
}

INSTANTIATE_TEST_SUITE_P(Launcher, LauncherStateRows, testing::ValuesIn(kStates),
                         [](const testing::TestParamInfo<LauncherState>& row) { return std::string(row.param.name); });

}  // namespace
