#include "changes.h"

#include <stdio.h>

#include "catalogue.h"
#include "registry.h"
#include "registry/registry_store.h"
#include "text.h"

namespace session {
namespace reg = host::reg;
namespace {

constexpr uint32_t kDword = 4;
constexpr uint32_t kString = 1;

std::string KeyPath(const RegistryLocation& where)
{
    return std::string(where.hive == Hive::CurrentUser ? "HKEY_CURRENT_USER\\"
                                                        : "HKEY_LOCAL_MACHINE\\") +
           reg::Utf8FromWide(where.subkey);
}

bool At(const Change& change, const RegistryLocation& where)
{
    return reg::SameName(change.key, KeyPath(where)) &&
           reg::SameName(change.name, reg::Utf8FromWide(where.valueName));
}

std::optional<uint32_t> Dword(const std::optional<reg::Value>& value)
{
    if (!value || value->type != kDword || value->data.size() != 4)
        return std::nullopt;
    const auto& d = value->data;
    return uint32_t(d[0]) | uint32_t(d[1]) << 8 | uint32_t(d[2]) << 16 | uint32_t(d[3]) << 24;
}

bool Same(const reg::Value& a, const reg::Value& b)
{
    return a.type == b.type && a.data == b.data;
}

// A parsed document holds each key and each value once.
template <typename Visit>
void EachValue(const reg::Document& doc, Visit visit)
{
    for (const reg::Section& section : doc.sections)
        for (const reg::Item& entry : section.items)
            if (entry.isValue)
                visit(section.path, entry.value);
}

}  // namespace

std::optional<reg::Document> Snapshot()
{
    std::optional<reg::Document> snapshot;
    host::ReadRegistry([&](const reg::Document& doc) {
        snapshot = doc;
        return LONG(ERROR_SUCCESS);
    });
    return snapshot;
}

std::vector<Change> Compare(const reg::Document& before, const reg::Document& after)
{
    std::vector<Change> changes;
    EachValue(after, [&](const std::string& key, const reg::Value& value) {
        const reg::Value* old = reg::FindValue(before, key, value.name);
        if (old && Same(*old, value))
            return;
        Change change{key, value.name, std::nullopt, value};
        if (old)
            change.before = *old;
        changes.push_back(change);
    });
    EachValue(before, [&](const std::string& key, const reg::Value& value) {
        if (!reg::FindValue(after, key, value.name))
            changes.push_back({key, value.name, value, std::nullopt});
    });
    return changes;
}

std::string Show(const std::optional<reg::Value>& value)
{
    if (!value)
        return "absent";
    if (const std::optional<uint32_t> number = Dword(value))
        return std::to_string(*number);
    const std::vector<uint8_t>& data = value->data;
    if (value->type == kString && data.size() >= 2 && data.size() % 2 == 0) {
        std::u16string units;
        for (size_t i = 0; i + 1 < data.size(); i += 2)
            units += char16_t(data[i] | data[i + 1] << 8);
        if (!units.empty() && units.back() == 0)
            units.pop_back();
        return "\"" + reg::Utf8FromUtf16(units) + "\"";
    }
    char text[32];
    snprintf(text, sizeof text, "hex(%x):", unsigned(value->type));
    std::string shown = text;
    for (size_t i = 0; i < data.size(); ++i) {
        snprintf(text, sizeof text, i ? ",%02x" : "%02x", data[i]);
        shown += text;
    }
    return shown;
}

std::string Owner(const Change& change)
{
    if (At(change, {Hive::CurrentUser, kFlagKey, kFlagValue}))
        return "the recalibration flag";

    const std::optional<uint32_t> value = Dword(change.after);
    for (const SettingRow& row : kCatalogue) {
        bool ours = false;
        std::string buttons;
        for (const ButtonAction& button : row.buttons) {
            for (const RegistryDwordSetting& write : button.writes) {
                if (!At(change, write.where))
                    continue;
                ours = true;
                if (value && *value == write.value) {
                    buttons += buttons.empty() ? " " : " or ";
                    buttons += "\"" + reg::Utf8FromWide(button.caption) + "\"";
                }
            }
        }
        if (ours)
            return reg::Utf8FromWide(row.labelCaption) + buttons;
    }
    return "";
}

std::string Describe(const Change& change)
{
    std::string line = change.key + " ";
    line += change.name.empty() ? "@" : "\"" + change.name + "\"";
    line += ": " + Show(change.before) + " -> " + Show(change.after);
    const std::string owner = Owner(change);
    if (!owner.empty())
        line += "  (" + owner + ")";
    // Names and data are the registry file's, whatever it holds.
    return host::text::Printable(line);
}

}  // namespace session
