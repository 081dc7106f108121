// What changed in the device registry between two snapshots, told one value
// a line, with the settings row and button the value belongs to.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "registry/regfile.h"

namespace session {

// Every value of a registry and nothing else: what the list of changes
// compares with, kept for the whole session. Names and data lie in one
// buffer, so that a value costs little more than its bytes.
class Values {
public:
    explicit Values(const host::reg::Document& doc);
    size_t size() const { return entries_.size(); }
    const std::string& KeyOf(size_t i) const { return keys_[entries_[i].key]; }
    host::reg::Value ValueOf(size_t i) const;
    // The value `name` of `key`, found without regard to case; nullopt
    // when it had none.
    std::optional<host::reg::Value> Find(std::string_view key, std::string_view name) const;

private:
    struct Entry {
        uint32_t key, type, nameAt, nameLength, dataAt, dataLength;
    };
    static size_t HashOf(size_t keyHash, std::string_view name);
    std::string_view NameOf(const Entry& entry) const;
    std::vector<std::string> keys_;  // as stored
    std::vector<Entry> entries_;     // in file order
    std::vector<std::pair<size_t, uint32_t>> sorted_;  // the hash of each's key and name, folded

    std::string bytes_;
};

// The device's registry.reg as it is now, read under the device's lock;
// nullopt (the problem already told on stderr) when it can't be read.
std::optional<Values> Snapshot();

struct Change {
    std::string key;   // as stored, with its root: HKEY_LOCAL_MACHINE\SYSTEM\GWE
    std::string name;  // empty for the default value
    std::optional<host::reg::Value> before, after;  // nullopt: absent
};

// Values added, changed or gone, in the order of `after`, then the ones gone.
std::vector<Change> Compare(const Values& before, const host::reg::Document& after);
std::vector<Change> Compare(const host::reg::Document& before, const host::reg::Document& after);

// What changed from `before` to the device's registry as it is now; nullopt
// (told on stderr) when it can't be read.
std::optional<std::vector<Change>> ChangesSince(const Values& before);

// A value as a person reads it: a DWORD in decimal, a string in quotes,
// anything else as hex(type):bytes; "absent" for none.
std::string Show(const std::optional<host::reg::Value>& value);

// What the catalogue knows of the place and the value after, e.g.
// Display orientation: "rotate"; empty when the place is none of its own.
std::string Owner(const Change& change);

// HKEY_LOCAL_MACHINE\Drivers\Display\mq1100 "Rotate": 0 -> 3  (Display orientation: "rotate"),
// printable (host::text::Printable).
std::string Describe(const Change& change);

}  // namespace session
