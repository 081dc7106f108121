// registry.reg for the tests: its version line, typed once, and the one
// reader the tests use, the host's own.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "registry/regfile.h"

// What every registry.reg a test writes starts with: the version line and
// the blank line after it.
inline const std::string kRegVersion = "Windows Registry Editor Version 5.00";
inline const std::string kRegHead = kRegVersion + "\n\n";

// `bytes` as the host reads them; false, with the line and the reason in
// `problem`, when it refuses them.
inline bool ReadsAs(const std::string& bytes, host::reg::Document& doc, std::string& problem)
{
    host::reg::ParseError error;
    if (host::reg::Parse(bytes, doc, error))
        return true;
    problem = "line " + std::to_string(error.line) + ": " + error.message;
    return false;
}

// `bytes` as the host reads them; a file it refuses fails the test.
inline host::reg::Document ParseReg(const std::string& bytes)
{
    host::reg::Document doc;
    std::string problem;
    EXPECT_TRUE(ReadsAs(bytes, doc, problem)) << problem;
    return doc;
}
