// What changed in the device registry between two snapshots, told one value
// a line, with the settings row and button the value belongs to.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "registry/regfile.h"

namespace session {

// The device's registry.reg as it is now, read under the device's lock;
// nullopt (the problem already told on stderr) when it can't be read.
std::optional<host::reg::Document> Snapshot();

struct Change {
    std::string key;   // as stored, with its root: HKEY_LOCAL_MACHINE\SYSTEM\GWE
    std::string name;  // empty for the default value
    std::optional<host::reg::Value> before, after;  // nullopt: absent
};

// Values added, changed or gone, in the order of `after`, then the ones gone.
std::vector<Change> Compare(const host::reg::Document& before, const host::reg::Document& after);

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
