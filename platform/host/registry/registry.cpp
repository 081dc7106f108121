// The registry functions over the device's registry.reg, with Windows'
// results. A handle names a key by its path (handles.h); the key is looked
// up at every call, in the file as it is then (registry_store.h), so other
// processes' changes are seen at once. Each call is told to the observer. A key or value
// past the handheld's limits (regfile.h) is refused with
// ERROR_INVALID_PARAMETER, and a change registry.reg can't hold with
// ERROR_NOT_ENOUGH_MEMORY; neither changes anything.
#include <algorithm>
#include <optional>
#include <string>

#include <windows.h>

#include "registry/handles.h"
#include "observer.h"
#include "registry/registry_store.h"
#include "text.h"

namespace host {
namespace {

std::string Utf8(LPCWSTR wide)
{
    return text::Utf8FromWide(wide ? wide : L"");
}

// A line break can't be kept in the registry editor's format.
bool Storable(const std::string& name)
{
    for (unsigned char c : name)
        if (c < 0x20)
            return false;
    return true;
}

// Joins a relative subkey path to `base`; empty parts are skipped, as
// Windows does, but a leading backslash is refused.
LONG Join(const std::string& base, LPCWSTR subkey, std::string& path)
{
    const std::string relative = Utf8(subkey);
    if (!relative.empty() && relative[0] == '\\')
        return ERROR_BAD_PATHNAME;
    if (!Storable(relative))
        return ERROR_INVALID_PARAMETER;
    path = base;
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find('\\', start);
        if (end == std::string::npos)
            end = relative.size();
        if (end > start)
            path += "\\" + relative.substr(start, end - start);
        start = end + 1;
    }
    return ERROR_SUCCESS;
}

// The key `subkey` names under `key`, as `function` was given it: its path,
// and the path of `key` in `base`.
LONG Locate(HKEY key, LPCWSTR subkey, const char* function, std::string& base, std::string& path)
{
    if (!Resolve(key, base, function))
        return ERROR_INVALID_HANDLE;
    return Join(base, subkey, path);
}

// Tells the observer of the call, if one is installed: only then is its
// record built, by `describe`, which sees the call as it ends.
template <typename Describe>
LONG Record(const Describe& describe, LONG result)
{
    if (Observer* observer = CurrentObserver()) {
        RegCall call;
        call.result = result;
        describe(call);
        observer->RegistryCalled(call);
    }
    return result;
}

// What the records of RegOpenKeyExW and RegCreateKeyExW share: the key
// opened under `key` at `subkey`, how, and the handle given back.
void DescribeOpening(RegCall& call, RegFunction function, HKEY key, LPCWSTR subkey,
                     DWORD options, REGSAM access, const HKEY* opened)
{
    call.function = function;
    call.key = key;
    call.subkeyGiven = subkey != NULL;
    call.subkey = subkey ? subkey : L"";
    call.options = options;
    call.access = access;
    call.resultGiven = opened != NULL;
    call.opened = opened && call.result == ERROR_SUCCESS ? *opened : NULL;
}

bool IsString(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

}  // namespace

}  // namespace host

using host::RegCall;
using host::RegFunction;

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                             PHKEY phkResult)
{
    const auto call = [&](RegCall& call) {
        host::DescribeOpening(call, RegFunction::OpenKeyEx, hKey, lpSubKey, ulOptions, samDesired,
                              phkResult);
    };

    if (!phkResult)
        return host::Record(call, ERROR_INVALID_PARAMETER);
    *phkResult = NULL;
    std::string base, path;
    if (LONG error = host::Locate(hKey, lpSubKey, "RegOpenKeyExW", base, path))
        return host::Record(call, error);

    const LONG result = host::ReadRegistry([&](const host::reg::Document& doc) -> LONG {
        if (!host::reg::KeyExists(doc, base))
            return ERROR_KEY_DELETED;
        if (!host::reg::KeyExists(doc, path))
            return ERROR_FILE_NOT_FOUND;
        path = host::reg::StoredPath(doc, path);
        return ERROR_SUCCESS;
    });
    if (result == ERROR_SUCCESS) {
        // Windows gives back the hive itself for an empty path under a hive.
        *phkResult = path == base && host::RootName(hKey) ? hKey : host::NewHandle(path, samDesired);
        if (!*phkResult)
            return host::Record(call, ERROR_NOT_ENOUGH_MEMORY);  // the handle table is full
    }
    return host::Record(call, result);
}

LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                               DWORD dwOptions, REGSAM samDesired,
                               LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                               LPDWORD lpdwDisposition)
{
    const auto call = [&](RegCall& call) {
        host::DescribeOpening(call, RegFunction::CreateKeyEx, hKey, lpSubKey, dwOptions,
                              samDesired, phkResult);
        call.reserved = Reserved;
        call.classGiven = lpClass != NULL;
        call.securityGiven = lpSecurityAttributes != NULL;
        call.dispositionGiven = lpdwDisposition != NULL;
    };

    if (!phkResult || Reserved)
        return host::Record(call, ERROR_INVALID_PARAMETER);
    std::string base, path;
    if (LONG error = host::Locate(hKey, lpSubKey, "RegCreateKeyExW", base, path))
        return host::Record(call, error);
    // Past the handheld's limits: too deep, or a name too long.
    if (!host::reg::KeyOverLimit(path).empty())
        return host::Record(call, ERROR_INVALID_PARAMETER);
    // A full handle table fails the call before the key is made.
    if (!host::HandleRoom())
        return host::Record(call, ERROR_NOT_ENOUGH_MEMORY);

    DWORD disposition = REG_OPENED_EXISTING_KEY;
    const LONG result = host::ChangeRegistry([&](host::reg::Document& doc, bool& changed) -> LONG {
        if (!host::reg::KeyExists(doc, base))
            return ERROR_KEY_DELETED;
        if (!host::reg::KeyExists(doc, path)) {
            host::reg::AddKey(doc, path);
            disposition = REG_CREATED_NEW_KEY;
            changed = true;
        }
        path = host::reg::StoredPath(doc, path);
        return ERROR_SUCCESS;
    });
    if (result == ERROR_SUCCESS) {
        *phkResult = host::NewHandle(path, samDesired);
        if (lpdwDisposition)
            *lpdwDisposition = disposition;
    }
    return host::Record(call, result);
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved,
                                LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    const auto call = [&, sizeBefore = lpcbData ? *lpcbData : 0](RegCall& call) {
        call.function = RegFunction::QueryValueEx;
        call.key = hKey;
        call.valueNameGiven = lpValueName != NULL;
        call.valueName = lpValueName ? lpValueName : L"";
        call.reservedGiven = lpReserved != NULL;
        call.typeGiven = lpType != NULL;
        call.dataGiven = lpData != NULL;
        call.sizeGiven = lpcbData != NULL;
        call.size = sizeBefore;
    };

    if ((lpData && !lpcbData) || lpReserved)
        return host::Record(call, ERROR_INVALID_PARAMETER);
    std::string path;
    if (!host::Resolve(hKey, path, "RegQueryValueExW"))
        return host::Record(call, ERROR_INVALID_HANDLE);

    host::reg::Value value;
    LONG result = host::ReadRegistry([&](const host::reg::Document& doc) -> LONG {
        if (!host::reg::KeyExists(doc, path))
            return ERROR_KEY_DELETED;
        std::optional<host::reg::Value> found = host::reg::FindValue(doc, path, host::Utf8(lpValueName));
        if (!found)
            return ERROR_FILE_NOT_FOUND;
        value = std::move(*found);
        return ERROR_SUCCESS;
    });
    if (result != ERROR_SUCCESS)
        return host::Record(call, result);

    const DWORD size = DWORD(value.data.size());
    if (lpData) {
        if (size > *lpcbData) {
            result = ERROR_MORE_DATA;  // the buffer is left untouched
        } else {
            std::copy(value.data.begin(), value.data.end(), lpData);
            // A string stored without its NUL gets one when there is room;
            // the size returned doesn't count it.
            if (host::IsString(value.type) && size >= 2 && size + 2 <= *lpcbData &&
                (lpData[size - 2] || lpData[size - 1])) {
                lpData[size] = 0;
                lpData[size + 1] = 0;
            }
        }
    }
    if (lpType)
        *lpType = value.type;
    if (lpcbData)
        *lpcbData = size;
    return host::Record(call, result);
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                              const BYTE* lpData, DWORD cbData)
{
    const auto call = [&, sizeGiven = cbData](RegCall& call) {
        call.function = RegFunction::SetValueEx;
        call.key = hKey;
        call.valueNameGiven = lpValueName != NULL;
        call.valueName = lpValueName ? lpValueName : L"";
        call.reserved = Reserved;
        call.type = dwType;
        call.dataGiven = lpData != NULL;
        call.size = sizeGiven;
        if (lpData)
            call.data.assign(lpData, lpData + sizeGiven);
    };

    if (!lpData && cbData)
        return host::Record(call, ERROR_NOACCESS);
    // Like Windows, count a terminating NUL that the caller left out of the
    // size of a string, when one follows.
    if (host::IsString(dwType) && cbData >= 2) {
        const size_t last = cbData / 2 - 1;
        if ((lpData[2 * last] || lpData[2 * last + 1]) && !lpData[2 * last + 2] &&
            !lpData[2 * last + 3])
            cbData = DWORD(2 * last + 4);
    }
    std::string path;
    if (!host::Resolve(hKey, path, "RegSetValueExW"))
        return host::Record(call, ERROR_INVALID_HANDLE);
    host::reg::Value value;
    value.name = host::Utf8(lpValueName);
    if (!host::Storable(value.name))
        return host::Record(call, ERROR_INVALID_PARAMETER);
    value.type = dwType;
    if (lpData)
        value.data.assign(lpData, lpData + cbData);
    // Past the handheld's limits: a name too long, or more than 4 KB of data.
    if (!host::reg::ValueOverLimit(value).empty())
        return host::Record(call, ERROR_INVALID_PARAMETER);

    return host::Record(call, host::ChangeRegistry([&](host::reg::Document& doc, bool& changed) -> LONG {
        if (!host::reg::KeyExists(doc, path))
            return ERROR_KEY_DELETED;
        changed = host::reg::SetValue(doc, path, value);
        return ERROR_SUCCESS;
    }));
}

LSTATUS WINAPI RegCloseKey(HKEY hKey)
{
    const auto call = [&](RegCall& call) {
        call.function = RegFunction::CloseKey;
        call.key = hKey;
    };
    return host::Record(call, host::CloseKeyHandle(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
}
