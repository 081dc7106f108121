#include "support/scratch.h"

#include <vector>

#include "catalogue.h"
#include "registry.h"
#include "support/helpers.h"

namespace {

struct KeyPath {
    HKEY hive;
    std::wstring path;
};

// The shallowest missing key on the way to `path`, or none.
bool TopMissing(HKEY hive, const std::wstring& path, std::wstring& top)
{
    for (size_t end = path.find(L'\\');; end = path.find(L'\\', end + 1)) {
        top = path.substr(0, end);
        if (!KeyExists(hive, top.c_str()))
            return true;
        if (end == std::wstring::npos)
            return false;
    }
}

}  // namespace

struct ScratchRegistry::State {
    std::vector<KeyPath> createdTops;       // removed with everything below
    std::vector<RegistryLocation> values;   // catalogue values absent before
};

ScratchRegistry::ScratchRegistry() : state_(new State)
{
    std::vector<KeyPath> keys = {{HKEY_CURRENT_USER, kTestRoot},
                                 {HKEY_CURRENT_USER, kFlagKeyCreate}};
    for (const SettingRow& row : kCatalogue)
        for (const ButtonAction& button : row.buttons)
            for (const RegistryDwordSetting& write : button.writes) {
                keys.push_back({HiveKey(write.where.hive), write.where.subkey});
                if (!ReadValue(HiveKey(write.where.hive), write.where.subkey, write.where.valueName).present)
                    state_->values.push_back(write.where);
            }
    for (const KeyPath& key : keys) {
        std::wstring top;
        if (TopMissing(key.hive, key.path, top))
            state_->createdTops.push_back({key.hive, top});
    }
}

ScratchRegistry::~ScratchRegistry()
{
    for (const RegistryLocation& value : state_->values)
        RegDeleteKeyValueW(HiveKey(value.hive), value.subkey, value.valueName);
    for (const KeyPath& key : state_->createdTops) {
        RegDeleteTreeW(key.hive, key.path.c_str());
        RegDeleteKeyW(key.hive, key.path.c_str());
    }
    delete state_;
}

namespace {

// The entry `next` lists under the key whose name is `name` without regard
// to case; empty when there is none.
template <class Next>
std::wstring StoredName(HKEY hive, const WCHAR* path, const WCHAR* name, Next next)
{
    HKEY key;
    if (RegOpenKeyExW(hive, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return L"";
    std::wstring found;
    WCHAR buffer[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = 256;
        if (next(key, i, buffer, &size) != ERROR_SUCCESS)
            break;
        if (_wcsicmp(buffer, name) == 0)
            found = buffer;
    }
    RegCloseKey(key);
    return found;
}

}  // namespace

std::wstring StoredKeyName(HKEY hive, const WCHAR* parent, const WCHAR* name)
{
    return StoredName(hive, parent, name, [](HKEY key, DWORD i, WCHAR* buffer, DWORD* size) {
        return RegEnumKeyExW(key, i, buffer, size, NULL, NULL, NULL, NULL);
    });
}

std::wstring StoredValueName(HKEY hive, const WCHAR* path, const WCHAR* name)
{
    return StoredName(hive, path, name, [](HKEY key, DWORD i, WCHAR* buffer, DWORD* size) {
        return RegEnumValueW(key, i, buffer, size, NULL, NULL, NULL, NULL);
    });
}
