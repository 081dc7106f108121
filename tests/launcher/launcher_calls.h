// The launcher's calls, exactly, as each target's driver records them: every
// open asks for 0x20019, as on the handheld. One set of cases, run by the
// host's driver (host_calls_test.cpp) and the handheld's (tests/arm/).
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "facts.h"
#include "launcher_flag.h"
#include "support/expected_calls.h"

// The flag cleared: its key opened, the flag read (`found` or not), set and
// the key closed.
inline calls::Calls ClearFlag(LONG found)
{
    const HKEY key = calls::NewHandle();
    return {calls::Open(facts::kFlag, ERROR_SUCCESS, key), calls::QueryDword(key, facts::kFlag, found),
            calls::SetDword(key, facts::kFlag, facts::kFlagCleared), calls::Close(key)};
}

// The alignment page started: no start-up information, as on the handheld;
// the control panel's handles asked for (and kept).
inline std::string AlignmentPageStarted()
{
    static PROCESS_INFORMATION handles;
    return host::CallLines().Line(host::ProcessStart{facts::kControlPanel, facts::kAlignmentPage, NULL, NULL, FALSE,
                                                    0, NULL, std::nullopt, NULL, &handles, TRUE, 0});
}

// The flag is 1: read, then read again, the page started, the flag cleared
// and its key closed.
inline const std::vector<std::string> kFlagOneCalls = [] {
    std::vector<std::string> lines =
        host::Lines(calls::Join({calls::Probe(facts::kFlag, ERROR_SUCCESS, ERROR_SUCCESS), ClearFlag(ERROR_SUCCESS)}));
    lines.insert(lines.begin() + 5, AlignmentPageStarted());
    return lines;
}();

// No key: it is created (asking for no access), then the cleared flag written.
inline const std::vector<std::string> kNoKeyCalls = host::Lines(calls::Join(
    {calls::Probe(facts::kFlag, ERROR_FILE_NOT_FOUND, 0), calls::MakeFlagKey(), ClearFlag(ERROR_FILE_NOT_FOUND)}));

// The cases, for a driver that defines the fixture LauncherCalls, whose
// Traced() runs the launcher to its end and gives its calls as the one
// formatter writes them (call_lines.h).

namespace {

TEST_F(LauncherCalls, FlagOne_RegistryCallsAndTheStartExactly)
{
    SetFlag(1);
    EXPECT_EQ(kFlagOneCalls, Traced());
}

TEST_F(LauncherCalls, NoKey_CreatesItThenWritesTheClearedFlag)
{
    EXPECT_EQ(kNoKeyCalls, Traced());
}

}  // namespace
