// The launcher's registry calls, exactly, as each target's driver records
// them: every open asks for 0x20019, as on the handheld.
#pragma once

#include <string>
#include <vector>

// The flag is 1: read, then read again, cleared and closed.
const std::vector<std::string> kFlagOneCalls = {
    "RegOpenKeyExW(HKEY_CURRENT_USER, \"SOFTWARE\\Zelkoran\", 0, 0x20019) = 0 -> h1",
    "RegQueryValueExW(h1, \"align\", NULL, &type, data, 4) = 0",
    "RegCloseKey(h1) = 0",
    "RegOpenKeyExW(HKEY_CURRENT_USER, \"SOFTWARE\\Zelkoran\", 0, 0x20019) = 0 -> h2",
    "RegQueryValueExW(h2, \"align\", NULL, &type, data, 4) = 0",
    "RegSetValueExW(h2, \"align\", 0, REG_DWORD, [00 00 00 00], 4) = 0",
    "RegCloseKey(h2) = 0",
};

// No key: it is created (asking for no access), then the cleared flag written.
const std::vector<std::string> kNoKeyCalls = {
    "RegOpenKeyExW(HKEY_CURRENT_USER, \"SOFTWARE\\Zelkoran\", 0, 0x20019) = 2",
    "RegCreateKeyExW(HKEY_CURRENT_USER, \"Software\\Zelkoran\", 0, NULL, 0, 0x0, NULL, &key, &disposition) = 0 -> h1",
    "RegCloseKey(h1) = 0",
    "RegOpenKeyExW(HKEY_CURRENT_USER, \"SOFTWARE\\Zelkoran\", 0, 0x20019) = 0 -> h2",
    "RegQueryValueExW(h2, \"align\", NULL, &type, data, 4) = 2",
    "RegSetValueExW(h2, \"align\", 0, REG_DWORD, [00 00 00 00], 4) = 0",
    "RegCloseKey(h2) = 0",
};
