// The tests' hook into process start, linked into test builds only: a
// program of the test's own runs in place of the build's for a role
// ("controlPanel", "launcher"), never a file the device holds.
#pragma once

#include <string>

// Runs `path` for `role` until the next call; an empty path gives the role
// back to the build's program.
void UseTestProgram(const std::string& role, const std::string& path);
