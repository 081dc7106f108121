// Tests on any target: keys and values seeded, removed and read back through
// the Windows API itself, so that the host's registry and Wine's are read the
// same way.
//
// As in Wine's own tests, the macros give their helper the caller's file and
// line, so a failure points at the test. A seeding helper that fails is fatal
// and stops the calling function there; a helper calling helpers passes that
// on, so the test itself stops.
#pragma once

#include <stdio.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "facts.h"

struct Here {
    const char* file;
    int line;
};
#define HERE (Here{__FILE__, __LINE__})

// Runs a helper; after a fatal failure in it, returns from the caller.
#define STOP_ON_FAILURE(call)                          \
    do {                                               \
        call;                                          \
        if (::testing::Test::HasFatalFailure()) return; \
    } while (0)

#define FAIL_AT(here, message) \
    GTEST_MESSAGE_AT_((here).file, (here).line, std::string(message).c_str(), \
                      ::testing::TestPartResult::kFatalFailure)

// A value as the registry holds it; absent when there is none.
struct Stored {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool operator==(const Stored& other) const
    {
        return present == other.present && (!present || (type == other.type && data == other.data));
    }
    bool operator!=(const Stored& other) const { return !(*this == other); }
};

inline void PrintTo(const Stored& stored, std::ostream* out)
{
    if (!stored.present) {
        *out << "absent";
        return;
    }
    *out << "type " << stored.type << " [";
    for (size_t i = 0; i < stored.data.size(); ++i) {
        char byte[4];
        snprintf(byte, sizeof byte, "%02x", stored.data[i]);
        *out << (i ? " " : "") << byte;
    }
    *out << "]";
}

inline Stored Dword(DWORD value)
{
    return {true, REG_DWORD, {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)}};
}

inline Stored Value(DWORD type, std::vector<BYTE> data)
{
    return {true, type, std::move(data)};
}

inline Stored Absent()
{
    return {};
}

// UTF-16LE bytes of ASCII text, with its terminating NUL.
inline std::vector<BYTE> Utf16(const char* text)
{
    std::vector<BYTE> bytes;
    for (const char* c = text;; ++c) {
        bytes.push_back(BYTE(*c));
        bytes.push_back(0);
        if (!*c)
            return bytes;
    }
}

inline std::string Narrow(const WCHAR* text)
{
    std::string narrow;
    for (; text && *text; ++text)
        narrow += *text < 0x80 ? char(*text) : '?';
    return narrow;
}

// The key, and those above it, made as needed and closed again; the result.
inline LONG CreateKey(HKEY hive, const std::wstring& path, DWORD* disposition = nullptr)
{
    HKEY key;
    DWORD ignored;
    const LONG result = RegCreateKeyExW(hive, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                                        disposition ? disposition : &ignored);
    if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    return result;
}

// The value set in a key that must exist already; the first failing call's
// result.
inline LONG SetIn(HKEY hive, const std::wstring& path, const WCHAR* name, const Stored& value)
{
    HKEY key;
    LONG result = RegOpenKeyExW(hive, path.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (result != ERROR_SUCCESS)
        return result;
    result = RegSetValueExW(key, name, 0, value.type, value.data.empty() ? NULL : value.data.data(),
                            DWORD(value.data.size()));
    RegCloseKey(key);
    return result;
}

// The key opened and closed again; the result.
inline LONG OpenKey(HKEY hive, const std::wstring& path)
{
    HKEY key;
    const LONG result = RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ, &key);
    if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    return result;
}

inline bool KeyExists(HKEY hive, const std::wstring& path)
{
    return OpenKey(hive, path) == ERROR_SUCCESS;
}

inline bool KeyExists(const facts::Place& place)
{
    return KeyExists(place.hive, place.key);
}

// The value whatever its size; absent when it or its key is missing.
inline Stored ReadValue(HKEY hive, const std::wstring& path, const WCHAR* name)
{
    Stored stored;
    HKEY key;
    if (RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return stored;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, NULL, &stored.type, NULL, &size) == ERROR_SUCCESS) {
        stored.data.resize(size);
        if (RegQueryValueExW(key, name, NULL, &stored.type, stored.data.data(), &size) == ERROR_SUCCESS) {
            stored.present = true;
            stored.data.resize(size);
        }
    }
    RegCloseKey(key);
    return stored;
}

inline Stored ReadValue(const facts::Place& place)
{
    return ReadValue(place.hive, place.key, place.value);
}

// The key, and those above it, made as needed.
inline void CreateKey_(Here here, HKEY hive, const std::wstring& path)
{
    if (const LONG result = CreateKey(hive, path))
        FAIL_AT(here, "can't create key " + Narrow(path.c_str()) + ": error " + std::to_string(result));
}
#define CREATE_KEY(hive, path) STOP_ON_FAILURE(CreateKey_(HERE, hive, path))

// The value set as given, its key made as needed.
inline void SetValue_(Here here, HKEY hive, const std::wstring& path, const WCHAR* name, const Stored& stored)
{
    LONG result = CreateKey(hive, path);
    if (result == ERROR_SUCCESS)
        result = SetIn(hive, path, name, stored);
    if (result != ERROR_SUCCESS)
        FAIL_AT(here, "can't set " + Narrow(path.c_str()) + " \"" + Narrow(name) + "\": error " +
                          std::to_string(result));
}
#define SET_VALUE(hive, path, name, stored) STOP_ON_FAILURE(SetValue_(HERE, hive, path, name, stored))
#define SET_PLACE(place, stored) \
    STOP_ON_FAILURE(SetValue_(HERE, (place).hive, (place).key, (place).value, stored))

// Checks one place against what it should hold, at the caller's line.
inline void ExpectPlace_(Here here, const facts::Place& place, const Stored& expected, const std::string& after)
{
    const Stored stored = ReadValue(place);
    if (stored != expected) {
        ::testing::Message message;
        message << place.name << " is " << ::testing::PrintToString(stored) << ", expected "
                << ::testing::PrintToString(expected) << (after.empty() ? "" : ", after ") << after;
        GTEST_MESSAGE_AT_(here.file, here.line, message.GetString().c_str(),
                          ::testing::TestPartResult::kNonFatalFailure);
    }
}
#define EXPECT_PLACE(place, expected, after) ExpectPlace_(HERE, place, expected, after)
