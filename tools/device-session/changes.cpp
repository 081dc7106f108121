#include "changes.h"

#include <stdio.h>

#include <algorithm>

#include "catalogue.h"
#include "le_bytes.h"
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
    return host::LeBytes(value->data.data(), 4).U32();
}

bool Same(const reg::Value& a, const reg::Value& b)
{
    return a.type == b.type && a.data == b.data;
}

// A parsed document holds each key and each value once.
template <typename Visit>
void EachValue(const reg::Document& doc, Visit visit)
{
    reg::Each(doc, [&](std::string_view key, const reg::Value* value) {
        if (value)
            visit(std::string(key), *value);
    });
}

}  // namespace

Values::Values(const reg::Document& doc)
{
    size_t bytes = 0, count = 0;
    EachValue(doc, [&](const std::string&, const reg::Value& value) {
        bytes += value.name.size() + value.data.size();
        ++count;
    });
    entries_.reserve(count);
    bytes_.reserve(bytes);
    reg::Each(doc, [&](std::string_view key, const reg::Value* value) {
        if (!value) {
            keys_.emplace_back(key);
            return;
        }
        entries_.push_back({uint32_t(keys_.size() - 1), value->type, uint32_t(bytes_.size()),
                            uint32_t(value->name.size()), uint32_t(bytes_.size() + value->name.size()),
                            uint32_t(value->data.size())});
        bytes_ += value->name;
        bytes_.append(value->data.begin(), value->data.end());
    });
    // Sorted by the hash of the key and name folded; a lookup compares the
    // names of the few with the same hash.
    std::vector<size_t> keyHashes;
    for (const std::string& key : keys_)
        keyHashes.push_back(std::hash<std::string>()(host::text::Folded(key)));
    sorted_.reserve(entries_.size());
    for (uint32_t i = 0; i < entries_.size(); ++i)
        sorted_.push_back({HashOf(keyHashes[entries_[i].key], NameOf(entries_[i])), i});
    std::sort(sorted_.begin(), sorted_.end());
}

size_t Values::HashOf(size_t keyHash, std::string_view name)
{
    return keyHash * 1000003 ^ std::hash<std::string>()(host::text::Folded(name));
}

std::string_view Values::NameOf(const Entry& entry) const
{
    return std::string_view(bytes_).substr(entry.nameAt, entry.nameLength);
}

reg::Value Values::ValueOf(size_t i) const
{
    const Entry& entry = entries_[i];
    const auto data = reinterpret_cast<const uint8_t*>(bytes_.data()) + entry.dataAt;
    return {std::string(NameOf(entry)), entry.type, std::vector<uint8_t>(data, data + entry.dataLength)};
}

std::optional<reg::Value> Values::Find(std::string_view key, std::string_view name) const
{
    const size_t hash = HashOf(std::hash<std::string>()(host::text::Folded(key)), name);
    for (auto at = std::lower_bound(sorted_.begin(), sorted_.end(), std::make_pair(hash, uint32_t(0)));
         at != sorted_.end() && at->first == hash; ++at) {
        const Entry& entry = entries_[at->second];
        if (reg::SameName(keys_[entry.key], key) && reg::SameName(NameOf(entry), name))
            return ValueOf(at->second);
    }
    return std::nullopt;
}

std::optional<Values> Snapshot()
{
    std::optional<Values> snapshot;
    host::ReadRegistry([&](const reg::Document& doc) {
        snapshot.emplace(doc);
        return LONG(ERROR_SUCCESS);
    });
    return snapshot;
}

std::vector<Change> Compare(const Values& before, const reg::Document& after)
{
    std::vector<Change> changes;
    EachValue(after, [&](const std::string& key, const reg::Value& value) {
        std::optional<reg::Value> old = before.Find(key, value.name);
        if (old && Same(*old, value))
            return;
        changes.push_back({key, value.name, std::move(old), value});
    });
    for (size_t i = 0; i < before.size(); ++i) {
        reg::Value value = before.ValueOf(i);
        if (!reg::FindValue(after, before.KeyOf(i), value.name))
            changes.push_back({before.KeyOf(i), value.name, std::move(value), std::nullopt});
    }
    return changes;
}

std::vector<Change> Compare(const reg::Document& before, const reg::Document& after)
{
    return Compare(Values(before), after);
}

std::optional<std::vector<Change>> ChangesSince(const Values& before)
{
    std::optional<std::vector<Change>> changes;
    host::ReadRegistry([&](const reg::Document& doc) {
        changes = Compare(before, doc);
        return LONG(ERROR_SUCCESS);
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
        host::LeBytes in(data.data(), data.size());
        for (size_t i = 0; i + 1 < data.size(); i += 2)
            units += char16_t(in.U16At(i));
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
