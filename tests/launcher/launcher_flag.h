// The launcher's flag as the tests on either target seed it and read it back.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "facts.h"
#include "registry/helpers.h"

using facts::kOneAlignment;

const WCHAR* const kKey = facts::kFlagKeyCreated;

inline bool FlagKeyExists()
{
    return KeyExists(facts::kFlag);
}

#define CreateFlagKey() CREATE_KEY(HKEY_CURRENT_USER, kKey)
#define SetFlag(...) SET_PLACE(facts::kFlag, FlagValue(__VA_ARGS__))

inline Stored FlagValue(DWORD type, std::vector<BYTE> data)
{
    return {true, type, std::move(data)};
}

inline Stored FlagValue(DWORD value)
{
    return Dword(value);
}

inline Stored Flag()
{
    return ReadValue(facts::kFlag);
}

#define ExpectFlagCleared() EXPECT_PLACE(facts::kFlag, Dword(facts::kFlagCleared), "")
