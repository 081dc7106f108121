// Runs a program of the wince build on the emulated StrongARM (armemu) as its
// own process, in the current device folder, and keeps its trace of COREDLL
// calls.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/child_run.h"

// The output is stdout and stderr of the emulator and what it started.
struct ArmRun : ChildRun {
    std::vector<std::string> calls;  // the trace, one call a line
};

// Reads everything the program and any process it started wrote; the output
// ends only when all of them have ended.
inline ArmRun RunArm(const std::string& program, const std::string& tracePath)
{
    ArmRun run = {RunToEnd({ARMEMU, "--trace", tracePath.c_str(), program.c_str()}), {}};
    std::ifstream trace(tracePath);
    for (std::string line; std::getline(trace, line);)
        run.calls.push_back(line);
    return run;
}
