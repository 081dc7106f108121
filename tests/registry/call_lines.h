// The registry calls as the host's recorder and the emulated handheld's
// trace write them, built from the facts: a suite that expects exact calls
// spells them through these.
#pragma once

#include <stdio.h>

#include <initializer_list>
#include <string>
#include <vector>

#include <windows.h>

#include "facts.h"
#include "registry/helpers.h"

namespace calls {

inline std::string Hive(HKEY hive)
{
    return hive == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

inline std::string Handle(int handle)
{
    return "h" + std::to_string(handle);
}

// The key handle a successful call returned, named as the record names it.
inline std::string Outcome(LONG result, int handle)
{
    return std::to_string(result) + (result == ERROR_SUCCESS ? " -> " + Handle(handle) : "");
}

inline std::string Open(const facts::Place& at, LONG result, int handle = 0)
{
    char access[16];
    snprintf(access, sizeof access, "0x%x", unsigned(facts::kOpenAccess));
    return "RegOpenKeyExW(" + Hive(at.hive) + ", \"" + Narrow(at.key) + "\", 0, " + access + ") = " +
           Outcome(result, handle);
}

// The programs' own key, the flag's, made asking for no access.
inline std::string CreateOwnKey(LONG result, int handle = 0)
{
    return "RegCreateKeyExW(" + Hive(facts::kFlag.hive) + ", \"" + Narrow(facts::kFlagKeyCreated) +
           "\", 0, NULL, 0, 0x0, NULL, &key, &disposition) = " + Outcome(result, handle);
}

inline std::string QueryDword(int handle, const facts::Place& at, LONG result)
{
    return "RegQueryValueExW(" + Handle(handle) + ", \"" + Narrow(at.value) + "\", NULL, &type, data, 4) = " +
           std::to_string(result);
}

inline std::string SetDword(int handle, const facts::Place& at, DWORD value)
{
    char bytes[16];
    snprintf(bytes, sizeof bytes, "%02x %02x %02x %02x", value & 0xFF, value >> 8 & 0xFF, value >> 16 & 0xFF,
             value >> 24);
    return "RegSetValueExW(" + Handle(handle) + ", \"" + Narrow(at.value) + "\", 0, REG_DWORD, [" + bytes +
           "], 4) = 0";
}

inline std::string Close(int handle)
{
    return "RegCloseKey(" + Handle(handle) + ") = 0";
}

using Lines = std::vector<std::string>;

inline Lines Join(std::initializer_list<Lines> parts)
{
    Lines all;
    for (const Lines& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// ProbeValue: the open, and when it opened the query and the close.
inline Lines Probe(const facts::Place& at, LONG open, LONG query, int handle)
{
    if (open != ERROR_SUCCESS)
        return {Open(at, open)};
    return {Open(at, open, handle), QueryDword(handle, at, query), Close(handle)};
}

// WriteDword: the open, and when the key is there the set and the close.
inline Lines Write(const facts::Place& at, DWORD value, int handle, bool keyPresent = true)
{
    if (!keyPresent)
        return {Open(at, ERROR_FILE_NOT_FOUND)};
    return {Open(at, ERROR_SUCCESS, handle), SetDword(handle, at, value), Close(handle)};
}

// A button's writes as the facts give them, each through a key of its own,
// on a device that has every key.
inline Lines Writes(const facts::Button& button)
{
    Lines lines;
    int handle = 0;
    for (const facts::Write& write : button.writes) {
        const Lines one = Write(*write.at, write.value, ++handle);
        lines.insert(lines.end(), one.begin(), one.end());
    }
    return lines;
}

}  // namespace calls
