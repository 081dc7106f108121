// The launcher's flag as the tests on either target seed it and read it back.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include "facts.h"
#include "support/helpers.h"

using facts::kOneAlignment;

const WCHAR* const kKey = facts::kFlagKeyCreated;

inline bool FlagKeyExists()
{
    return KeyExists(facts::kFlag);
}

#define CreateFlagKey() CREATE_KEY(HKEY_CURRENT_USER, kKey)
#define SetFlag(value) SET_PLACE(facts::kFlag, Dword(value))

#define ExpectFlagCleared() EXPECT_PLACE(facts::kFlag, Dword(facts::kFlagCleared), "")
