// Tests on either target: keys and values seeded and read back through the
// Windows API itself.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

struct Stored {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

inline Stored Dword(DWORD value)
{
    return {true, REG_DWORD, {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)}};
}

inline bool KeyExists(HKEY hive, const WCHAR* path)
{
    HKEY key;
    if (RegOpenKeyExW(hive, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// Up to 64 bytes of data, more than any value these tests read.
inline Stored ReadValue(HKEY hive, const WCHAR* path, const WCHAR* name)
{
    Stored stored;
    HKEY key;
    if (RegOpenKeyExW(hive, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return stored;
    BYTE data[64];
    DWORD size = sizeof data;
    if (RegQueryValueExW(key, name, NULL, &stored.type, data, &size) == ERROR_SUCCESS) {
        stored.present = true;
        stored.data.assign(data, data + size);
    }
    RegCloseKey(key);
    return stored;
}

// Creates the key as needed.
inline void WriteValue(HKEY hive, const WCHAR* path, const WCHAR* name, const Stored& stored)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(hive, path, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, stored.type, stored.data.data(),
                                            DWORD(stored.data.size())));
    RegCloseKey(key);
}
