// A scratch device folder for one test, with a registry.reg of the test's
// choosing; read back through the host's own .reg reader.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include <windows.h>

#include "host_device.h"
#include "registry/reg_text.h"

class ScratchDevice : public HostDevice {
public:
    // `registry`: the keys and values, after the version line.
    explicit ScratchDevice(const std::string& registry)
    {
        Write("registry.reg", kRegHead + registry);
    }

    bool Has(const std::string& file) const { return std::filesystem::exists(Root() / file); }

    bool KeyExists(const std::string& key) const { return host::reg::KeyExists(Document(), key); }

    // A REG_DWORD's number; nullopt when the value is missing or of another type.
    std::optional<DWORD> Dword(const std::string& key, const std::string& name) const
    {
        host::reg::Document doc = Document();
        const host::reg::Value* value = host::reg::FindValue(doc, key, name);
        if (!value || value->type != REG_DWORD || value->data.size() != 4)
            return std::nullopt;
        const auto& d = value->data;
        return DWORD(d[0]) | DWORD(d[1]) << 8 | DWORD(d[2]) << 16 | DWORD(d[3]) << 24;
    }

private:
    host::reg::Document Document() const { return ParseReg(Read("registry.reg")); }
};
