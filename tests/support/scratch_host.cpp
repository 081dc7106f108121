#include "support/scratch.h"

#include "support/device_files.h"
#include "support/host_device.h"
#include "registry/regfile.h"

using host::reg::Utf8FromWide;
using host::reg::WideFromUtf8;

struct ScratchRegistry::State {
    HostDevice device;
};

ScratchRegistry::ScratchRegistry() : state_(new State)
{
    state_->device.Write("registry.reg", host::reg::Write(host::reg::Empty()));
}

ScratchRegistry::~ScratchRegistry()
{
    delete state_;
}

std::wstring StoredKeyName(HKEY hive, const WCHAR* parent, const WCHAR* name)
{
    const std::string path = KeyPath(hive, std::wstring(parent) + L"\\" + name);
    const host::reg::Document doc = RegistryDocument();
    if (!host::reg::KeyExists(doc, path))
        return L"";
    const std::string stored = host::reg::StoredPath(doc, path);
    return WideFromUtf8(stored.substr(stored.rfind('\\') + 1));
}

std::wstring StoredValueName(HKEY hive, const WCHAR* key, const WCHAR* name)
{
    const std::string path = KeyPath(hive, key);
    const host::reg::Document doc = RegistryDocument();
    const std::optional<host::reg::Value> value = host::reg::FindValue(doc, path, Utf8FromWide(name));
    return value ? WideFromUtf8(value->name) : L"";
}
