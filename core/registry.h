// Registry access shared by both programs, and the recalibration flag.
#pragma once

#include <windows.h>

// What an open for reading asks for, as the handheld expects. An open for
// writing asks for the target's target::kKeyWriteAccess (target.h): KEY_READ
// on the handheld, which grants writes too, more where the desktop needs it.
constexpr REGSAM kKeyAccess = KEY_READ;  // 0x20019

// The recalibration flag: the settings program raises it when the display
// orientation changes, the launcher reads and clears it after the restart.
#define FLAG_HIVE HKEY_CURRENT_USER
constexpr const WCHAR* kFlagKey = L"SOFTWARE\\Zelkoran";
constexpr const WCHAR* kFlagKeyCreate = L"Software\\Zelkoran";  // same key
constexpr const WCHAR* kFlagValue = L"align";
constexpr DWORD kFlagSet = 1;
constexpr DWORD kFlagClear = 0;

// True when the value exists and its data fits in 4 bytes.
bool ProbeValue(HKEY hive, LPCWSTR subkey, LPCWSTR valueName);

// Writes a REG_DWORD into an existing key; a missing key is skipped.
void WriteDword(HKEY hive, LPCWSTR subkey, LPCWSTR valueName, DWORD value);

// Makes sure the program's own key exists; writes no value.
void EnsureFlagKey();
