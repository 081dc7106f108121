// The launcher's flag as the tests on either target seed it and read it back.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "registry/stored_value.h"

const WCHAR kKey[] = L"Software\\Zelkoran";

inline bool FlagKeyExists()
{
    return KeyExists(HKEY_CURRENT_USER, kKey);
}

inline void CreateFlagKey()
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, NULL, 0, KEY_ALL_ACCESS,
                                             NULL, &key, NULL));
    RegCloseKey(key);
}

inline void SetFlag(DWORD type, std::vector<BYTE> data)
{
    WriteValue(HKEY_CURRENT_USER, kKey, L"align", {true, type, std::move(data)});
}

inline void SetFlag(DWORD value)
{
    WriteValue(HKEY_CURRENT_USER, kKey, L"align", Dword(value));
}

inline Stored Flag()
{
    return ReadValue(HKEY_CURRENT_USER, kKey, L"align");
}

inline void ExpectFlagCleared()
{
    Stored flag = Flag();
    ASSERT_TRUE(flag.present);
    EXPECT_EQ(DWORD(REG_DWORD), flag.type);
    EXPECT_EQ((std::vector<BYTE>{0, 0, 0, 0}), flag.data);
}

const std::vector<std::string> kOneAlignment = {"cplmain.cpl,7"};
