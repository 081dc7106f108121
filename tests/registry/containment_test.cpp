// Containment, as a property over random registries: whatever the buttons
// pressed, in whatever order, over whatever the device's registry holds, the
// catalogue's values and the flag are the only values that change, each to
// what the last press that reached it wrote; nothing is deleted; and no key
// but the program's own is created.
#include <stdint.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "catalogue.h"
#include "support/device_files.h"
#include "registry/regfile.h"
#include "registry.h"
#include "support/helpers.h"
#include "support/scratch.h"
#include "text.h"

namespace {

using host::reg::Utf8FromWide;

using host::reg::Document;
using host::reg::Value;

constexpr uint32_t kSeed = 20261209;
constexpr int kRounds = 300;
constexpr int kMostSteps = 24;

const char kOwnKey[] = "HKEY_CURRENT_USER\\Software\\Zelkoran";

// A value's place, its key path and name folded as the registry folds them,
// so that places compare as the registry compares them.
using Place = std::pair<std::string, std::string>;

Place PlaceOf(const std::string& key, const std::string& name)
{
    return {host::text::Folded(key), host::text::Folded(name)};
}

// Every place the catalogue writes, and every place it probes, once each,
// spelled as the catalogue first spells it: key path and value name.
std::vector<Place> CataloguePlaces()
{
    std::vector<Place> places;
    std::set<Place> seen;
    auto add = [&](const RegistryLocation& where) {
        const Place place = {KeyPath(HiveKey(where.hive), where.subkey), Utf8FromWide(where.valueName)};
        if (seen.insert(PlaceOf(place.first, place.second)).second)
            places.push_back(place);
    };
    for (const SettingRow& row : kCatalogue) {
        for (const RegistryLocation& probe : row.probes)
            add(probe);
        for (const ButtonAction& button : row.buttons)
            for (const RegistryDwordSetting& write : button.writes)
                add(write.where);
    }
    return places;
}

// The text as it is, in upper case, or with some of its capitals made small.
std::string RandomCase(const std::string& text, std::mt19937& random)
{
    const uint32_t how = random() % 3;
    std::string out = text;
    for (char& c : out)
        if (how == 1 && c >= 'a' && c <= 'z')
            c = char(c - 32);
        else if (how == 2 && c >= 'A' && c <= 'Z' && random() % 2)
            c = char(c + 32);
    return out;
}

// Data of any shape: DWORDs of 4 bytes and of other lengths, strings,
// binaries, nothing at all.
Value RandomValue(const std::string& name, std::mt19937& random)
{
    switch (random() % 7) {
    case 0:
    case 1:
        return {name, REG_DWORD, Dword(random() % 3 == 0 ? random() : random() % 8).data};
    case 2:
        return {name, REG_SZ, {'o', 0, 'n', 0, 0, 0}};
    case 3:
        return {name, REG_BINARY, {1, 2, 3, 4, 5, 6}};
    case 4:
        return {name, REG_BINARY, Dword(random()).data};
    case 5:
        return {name, REG_DWORD, {7, 0, 0, 0, 0, 0, 0, 0}};
    default:
        return {name, REG_NONE, {}};
    }
}

// A registry holding some of the catalogue's keys and values, in any case and
// of any type, with values, subkeys and keys around them that it never names.
Document RandomRegistry(const std::vector<Place>& places, std::mt19937& random)
{
    Document doc = host::reg::Empty();
    for (const auto& [key, name] : places) {
        const std::string storedKey = RandomCase(key, random);
        switch (random() % 4) {
        case 0:
            break;  // no key
        case 1:
            if (!host::reg::KeyExists(doc, storedKey))
                host::reg::AddKey(doc, storedKey);
            break;
        default:
            host::reg::SetValue(doc, storedKey, RandomValue(RandomCase(name, random), random));
            break;
        }
        if (random() % 3 == 0)
            host::reg::SetValue(doc, storedKey + "\\Below", RandomValue(name, random));
        if (random() % 3 == 0 && host::reg::KeyExists(doc, storedKey))
            host::reg::SetValue(doc, storedKey, RandomValue(name + "2", random));
    }
    if (random() % 2)
        host::reg::SetValue(doc, "HKEY_CURRENT_USER\\Software\\Other", {"align", REG_DWORD, Dword(1).data});
    if (random() % 2)
        host::reg::SetValue(doc, "HKEY_LOCAL_MACHINE\\Drivers\\Display",
                            {"Rotate", REG_DWORD, Dword(2).data});
    return doc;
}

// Every value of the document by its place, as the registry API gives it.
std::map<Place, Stored> ValuesOf(const Document& doc)
{
    std::map<Place, Stored> values;
    host::reg::Each(doc, [&](std::string_view key, const host::reg::Value* value) {
        if (value)
            values[PlaceOf(std::string(key), value->name)] = {true, value->type, value->data};
    });
    return values;
}

TEST(Containment, RandomPressesOverRandomRegistriesChangeOnlyTheCataloguesValues)
{
    ScratchRegistry scratch;
    const std::vector<Place> places = CataloguePlaces();

    std::vector<WORD> ids;
    for (const SettingRow& row : kCatalogue)
        for (const ButtonAction& button : row.buttons)
            ids.push_back(button.controlId);
    // Ids outside the catalogue: the dialog's other controls and strangers.
    const std::vector<WORD> others = {0, 1004, 1006, 1012, 1015, 1024, 1026, 1028, 0xFFFF};

    int presses = 0;
    for (int round = 0; round < kRounds; ++round) {
        const uint32_t seed = kSeed + uint32_t(round);
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);

        const std::string before = host::reg::Write(RandomRegistry(places, random));
        WriteRegistryFile(before);
        const Document old = ParseReg(before);

        // What each place should hold at the end, by the last write that
        // reached it: a write reaches a place whose key exists.
        std::map<Place, uint32_t> last;
        bool ownKey = host::reg::KeyExists(old, kOwnKey);
        bool ensured = false;
        const int steps = 1 + int(random() % kMostSteps);
        for (int step = 0; step < steps; ++step) {
            const uint32_t what = random() % 10;
            if (what == 0) {
                EnsureFlagKey();
                ownKey = true;
                ensured = true;
            } else if (what == 1) {
                IsRowAvailable(kCatalogue[random() % kCatalogue.size]);
            } else {
                const WORD id = what == 2 ? others[random() % others.size()]
                                          : ids[random() % ids.size()];
                ApplyButton(id);
                ++presses;
                if (const ButtonAction* button = FindButton(id))
                    for (const RegistryDwordSetting& write : button->writes) {
                        const std::string key = KeyPath(HiveKey(write.where.hive), write.where.subkey);
                        const bool own = host::reg::SameName(key, kOwnKey);
                        if (own ? ownKey : host::reg::KeyExists(old, key))
                            last[PlaceOf(key, Utf8FromWide(write.where.valueName))] = write.value;
                    }
            }
        }

        // Every value as it was but where the last press that reached it
        // wrote: nothing deleted, nothing else changed or added.
        const Document now = RegistryDocument();
        std::map<Place, Stored> expected = ValuesOf(old);
        for (const auto& [place, value] : last)
            expected[place] = Dword(value);
        EXPECT_EQ(ValuesOf(now), expected);

        for (const std::string& key : host::reg::KeysOf(old))
            EXPECT_TRUE(host::reg::KeyExists(now, key)) << "key deleted: " << key;
        size_t created = 0;
        for (const std::string& key : host::reg::KeysOf(now)) {
            if (host::reg::KeyExists(old, key))
                continue;
            ++created;
            EXPECT_TRUE(host::reg::SameName(key, kOwnKey) && ensured) << "key created: " << key;
        }
        EXPECT_LE(created, 1u);
        if (HasFailure())
            break;  // one seed at a time
    }
    EXPECT_GT(presses, kRounds * 4);
}

}  // namespace
