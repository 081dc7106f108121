#include "scratch.h"

#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "device.h"
#include "regfile.h"

namespace {

std::string Utf8(const WCHAR* text)
{
    std::u16string units;
    for (; *text; ++text)
        units += char16_t(*text);  // the tests' names are all in the BMP
    return host::reg::Utf8FromUtf16(units);
}

std::wstring Wide(const std::string& text)
{
    std::wstring out;
    for (char16_t unit : host::reg::Utf16FromUtf8(text))
        out += WCHAR(unit);
    return out;
}

const char* RootOf(HKEY hive)
{
    return hive == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

host::reg::Document Current()
{
    std::ifstream file(host::DeviceRoot() + "/registry.reg", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    host::reg::Document doc;
    host::reg::ParseError error;
    host::reg::Parse(bytes, doc, error);
    return doc;
}

}  // namespace

struct ScratchRegistry::State {
    std::filesystem::path folder;
};

ScratchRegistry::ScratchRegistry() : state_(new State)
{
    std::string folder = (std::filesystem::temp_directory_path() / "ce-device-XXXXXX").string();
    if (!mkdtemp(folder.data()))
        abort();
    state_->folder = folder;
    setenv("CE_DEVICE_ROOT", folder.c_str(), 1);
    std::ofstream(state_->folder / "registry.reg") << host::reg::Write(host::reg::Empty());
}

ScratchRegistry::~ScratchRegistry()
{
    unsetenv("CE_DEVICE_ROOT");
    std::error_code ignored;
    std::filesystem::remove_all(state_->folder, ignored);
    delete state_;
}

std::wstring StoredKeyName(HKEY hive, const WCHAR* parent, const WCHAR* name)
{
    const std::string path = std::string(RootOf(hive)) + "\\" + Utf8(parent) + "\\" + Utf8(name);
    const host::reg::Document doc = Current();
    if (!host::reg::KeyExists(doc, path))
        return L"";
    const std::string stored = host::reg::StoredPath(doc, path);
    return Wide(stored.substr(stored.rfind('\\') + 1));
}

std::wstring StoredValueName(HKEY hive, const WCHAR* key, const WCHAR* name)
{
    const std::string path = std::string(RootOf(hive)) + "\\" + Utf8(key);
    const host::reg::Document doc = Current();
    const host::reg::Value* value = host::reg::FindValue(doc, path, Utf8(name));
    return value ? Wide(value->name) : L"";
}
