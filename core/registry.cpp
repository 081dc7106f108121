#include "registry.h"

#include "target.h"

bool ProbeValue(HKEY hive, LPCWSTR subkey, LPCWSTR valueName)
{
    HKEY key;
    if (RegOpenKeyExW(hive, subkey, 0, kKeyAccess, &key) != ERROR_SUCCESS)
        return false;

    DWORD type;
    BYTE data[4];
    DWORD size = sizeof data;
    LONG result = RegQueryValueExW(key, valueName, NULL, &type, data, &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

void WriteDword(HKEY hive, LPCWSTR subkey, LPCWSTR valueName, DWORD value)
{
    HKEY key;
    if (RegOpenKeyExW(hive, subkey, 0, target::kKeyWriteAccess, &key) != ERROR_SUCCESS)
        return;

    const BYTE data[4] = {
        BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24),
    };
    RegSetValueExW(key, valueName, 0, REG_DWORD, data, sizeof data);
    RegCloseKey(key);
}

void EnsureFlagKey()
{
    if (ProbeValue(FLAG_HIVE, kFlagKey, kFlagValue))
        return;

    HKEY key;
    DWORD disposition;
    if (RegCreateKeyExW(FLAG_HIVE, kFlagKeyCreate, 0, NULL, 0, 0, NULL, &key,
                        &disposition) == ERROR_SUCCESS)
        RegCloseKey(key);
}
