// registry.reg for the tests: its version line, typed once, and the one
// reader the tests use, the host's own.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "regfile.h"

// What every registry.reg a test writes starts with: the version line and
// the blank line after it.
inline const std::string kRegHead = "Windows Registry Editor Version 5.00\n\n";

// `bytes` as the host reads them; a file it refuses fails the test, with
// the line and the reason.
inline host::reg::Document ParseReg(const std::string& bytes)
{
    host::reg::Document doc;
    host::reg::ParseError error;
    EXPECT_TRUE(host::reg::Parse(bytes, doc, error)) << "line " << error.line << ": " << error.message;
    return doc;
}
