// One suite, two registries: built for the host against its registry.reg,
// and for Windows against the real registry under Wine. Where the two
// disagree, the host is wrong.
#include <wctype.h>

#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "catalogue.h"
#include "registry.h"
#include "facts.h"
#include "support/helpers.h"
#include "support/scratch.h"

namespace {

using Bytes = std::vector<BYTE>;

std::wstring Scratch(const WCHAR* subkey)
{
    return std::wstring(kTestRoot) + L"\\" + subkey;
}

// One query with `room` bytes of a buffer that holds 0xbd: its result, and
// what it left in the type (99 before), the size and the buffer.
using Queried = std::tuple<LONG, DWORD, DWORD, Bytes>;

Queried Query(HKEY key, const WCHAR* name, DWORD room)
{
    DWORD type = 99, size = room;
    Bytes data(8, 0xbd);
    const LONG result = RegQueryValueExW(key, name, NULL, &type, data.data(), &size);
    return {result, type, size, data};
}

class RegistrySuite : public ScratchTest {
protected:
    void SetUp() override { CREATE_KEY(HKEY_CURRENT_USER, kTestRoot); }
};

// ---- Registry semantics ----

TEST_F(RegistrySuite, CreateMakesTheMissingKeysAlongThePathAndTellsWhich)
{
    const std::pair<const WCHAR*, DWORD> rows[] = {
        {L"A\\B\\C", REG_CREATED_NEW_KEY}, {L"a\\b\\c", REG_OPENED_EXISTING_KEY}, {L"A\\B", REG_OPENED_EXISTING_KEY}};
    for (const auto& [path, expected] : rows) {
        DWORD disposition = 0;
        ASSERT_EQ(CreateKey(HKEY_CURRENT_USER, Scratch(path), &disposition), ERROR_SUCCESS);
        EXPECT_EQ(disposition, expected) << Narrow(path);
        EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Scratch(L"A")));
        EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Scratch(L"A\\B")));
    }
}

TEST_F(RegistrySuite, CreateBelowAnOpenKeyAndWithoutADispositionPlace)
{
    HKEY parent, child;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kTestRoot, 0, KEY_ALL_ACCESS, &parent), ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExW(parent, L"Child", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &child, NULL),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Scratch(L"Child")));
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Scratch(L"X").c_str(), 1, NULL, 0, KEY_ALL_ACCESS,
                              NULL, &child, NULL),
              ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Scratch(L"X")));
}

TEST_F(RegistrySuite, NamesMatchWithoutRegardToCaseAndKeepTheirFirstCase)
{
    SET_VALUE(HKEY_CURRENT_USER, Scratch(L"MixedCase"), L"SomeValue", Dword(7));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, Scratch(L"MIXEDCASE"), L"somevalue"), Dword(7));

    SET_VALUE(HKEY_CURRENT_USER, Scratch(L"mixedcase"), L"SOMEVALUE", Dword(8));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, Scratch(L"MixedCase"), L"SomeValue"), Dword(8));
    EXPECT_EQ(StoredKeyName(HKEY_CURRENT_USER, kTestRoot, L"MIXEDCASE"), L"MixedCase");

    SET_VALUE(HKEY_CURRENT_USER, Scratch(L"\u00dcber"), L"\u00e9t\u00e9", Dword(9));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, Scratch(L"\u00fcBER"), L"\u00c9T\u00c9"), Dword(9));
    EXPECT_EQ(StoredValueName(HKEY_CURRENT_USER, Scratch(L"mixedCASE").c_str(), L"somevalue"),
              L"SomeValue");
}

// A missing value is not found and changes nothing; too small a buffer gets
// the size needed and stays as it was. A string set without its NUL is kept
// as given, and a read with room adds a NUL that the size leaves out; a NUL
// right after the counted bytes is counted in.
TEST_F(RegistrySuite, QueryGivesTypeSizeAndDataOrTheSizeNeeded)
{
    SET_VALUE(HKEY_CURRENT_USER, kTestRoot, L"six", Value(REG_BINARY, {1, 2, 3, 4, 5, 6}));
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kTestRoot, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    const BYTE terminated[] = {'h', 0, 'i', 0, 0, 0}, unterminated[] = {'h', 0, 'i', 0, 'x', 0};
    ASSERT_EQ(RegSetValueExW(key, L"counted", 0, REG_SZ, terminated, 4), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, L"bare", 0, REG_SZ, unterminated, 4), ERROR_SUCCESS);
    const BYTE x = 0xbd;
    const struct {
        const WCHAR* name;
        DWORD room;
        Queried expected;
    } rows[] = {
        {L"six", 8, {ERROR_SUCCESS, REG_BINARY, 6, {1, 2, 3, 4, 5, 6, x, x}}},
        {L"six", 4, {ERROR_MORE_DATA, REG_BINARY, 6, Bytes(8, x)}},
        {L"missing", 8, {ERROR_FILE_NOT_FOUND, 99, 8, Bytes(8, x)}},
        {L"counted", 8, {ERROR_SUCCESS, REG_SZ, 6, {'h', 0, 'i', 0, 0, 0, x, x}}},
        {L"bare", 6, {ERROR_SUCCESS, REG_SZ, 4, {'h', 0, 'i', 0, 0, 0, x, x}}},
        {L"bare", 4, {ERROR_SUCCESS, REG_SZ, 4, {'h', 0, 'i', 0, x, x, x, x}}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Query(key, row.name, row.room), row.expected) << Narrow(row.name) << ", room " << row.room;

    DWORD type, size = 0;
    BYTE data[8];
    EXPECT_EQ(RegQueryValueExW(key, L"six", NULL, NULL, NULL, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(RegQueryValueExW(key, L"six", NULL, NULL, NULL, NULL), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key, L"six", NULL, &type, data, NULL), ERROR_INVALID_PARAMETER);
    DWORD reserved = 0;
    size = 8;
    EXPECT_EQ(RegQueryValueExW(key, L"six", &reserved, &type, data, &size), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistrySuite, ValuesKeepTheirTypeAndBytes)
{
    const struct {
        const WCHAR* name;
        DWORD type;
        Bytes data;
    } values[] = {
        {L"dword", REG_DWORD, Dword(0xfedcba98).data},
        {L"short dword", REG_DWORD, {1, 2}},
        {L"empty", REG_BINARY, {}},
        {L"binary", REG_BINARY, {0, 0xff, 0x80, 0x7f, 0x0a, 0x0d}},
        {L"text", REG_SZ, Utf16("a \"quoted\" \\ path")},
        {L"expand", REG_EXPAND_SZ, Utf16("%WINDIR%")},
        {L"multi", REG_MULTI_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
        {L"odd type", 1234, {9, 8, 7}},
        {L"", REG_SZ, Utf16("default")},
    };
    for (const auto& value : values)
        SET_VALUE(HKEY_CURRENT_USER, kTestRoot, value.name, Value(value.type, value.data));
    for (const auto& value : values)
        EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kTestRoot, value.name), Value(value.type, value.data))
            << "value \"" << Narrow(value.name) << "\"";
    // The default value answers to both NULL and "".
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kTestRoot, NULL), Value(REG_SZ, Utf16("default")));

    SET_VALUE(HKEY_CURRENT_USER, kTestRoot, L"dword", Value(REG_SZ, Utf16("now text")));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kTestRoot, L"dword"), Value(REG_SZ, Utf16("now text")));
}

TEST_F(RegistrySuite, SetTakesNoDataOnlyWithSizeZero)
{
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kTestRoot, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, L"nothing", 0, REG_BINARY, NULL, 0), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, L"bad", 0, REG_BINARY, NULL, 4), ERROR_NOACCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kTestRoot, L"nothing"), Value(REG_BINARY, {}));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kTestRoot, L"bad"), Absent());
}

TEST_F(RegistrySuite, HandlesAreOpenedAndClosedOnce)
{
    RecordProperty("handle_misuse", "deliberate");
    HKEY first, second;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kTestRoot, 0, KEY_ALL_ACCESS, &first), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kTestRoot, 0, KEY_ALL_ACCESS, &second), ERROR_SUCCESS);
    EXPECT_NE(first, second);
    EXPECT_EQ(RegCloseKey(first), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(first), ERROR_INVALID_HANDLE);

    const BYTE data[4] = {1, 0, 0, 0};
    DWORD size = 4;
    BYTE out[4];
    HKEY sub;
    EXPECT_EQ(RegSetValueExW(first, L"v", 0, REG_DWORD, data, 4), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExW(first, L"v", NULL, NULL, out, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExW(first, L"", 0, KEY_READ, &sub), ERROR_INVALID_HANDLE);
    EXPECT_EQ(sub, HKEY(NULL));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kTestRoot, L"v"), Absent());

    // The other handle to the same key still works.
    EXPECT_EQ(RegSetValueExW(second, L"v", 0, REG_DWORD, data, 4), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(second), ERROR_SUCCESS);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kTestRoot, L"v"), Dword(1));
}

TEST_F(RegistrySuite, BadHandlesAndMissingPlaces)
{
    RecordProperty("handle_misuse", "deliberate");
    const HKEY bogus = reinterpret_cast<HKEY>(ULONG_PTR(0x4444));
    HKEY key = bogus;
    EXPECT_EQ(RegOpenKeyExW(bogus, L"x", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(key, HKEY(NULL));
    EXPECT_EQ(RegOpenKeyExW(NULL, L"x", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(bogus), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(NULL), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kTestRoot, 0, KEY_READ, NULL), ERROR_INVALID_PARAMETER);
    // A missing key is not found.
    key = bogus;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, Scratch(L"Missing").c_str(), 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, HKEY(NULL));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Scratch(L"Missing")));
    // The hives are always open; closing one is harmless.
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(key, HKEY_CURRENT_USER);
}

TEST_F(RegistrySuite, PathsTakeNoLeadingBackslashButSpareOnes)
{
    HKEY key;
    const std::wstring lead = L"\\" + std::wstring(kTestRoot);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, lead.c_str(), 0, KEY_READ, &key), ERROR_BAD_PATHNAME);
    EXPECT_EQ(CreateKey(HKEY_CURRENT_USER, L"\\" + Scratch(L"Lead")), ERROR_BAD_PATHNAME);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Scratch(L"Lead")));

    ASSERT_EQ(CreateKey(HKEY_CURRENT_USER, Scratch(L"Double\\\\Trailing\\")), ERROR_SUCCESS);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Scratch(L"Double\\Trailing")));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Scratch(L"Double\\Trailing\\")));
}

// ---- The core's operations ----

using facts::kButtons;
using facts::kFlag;
using facts::kPlaces;
using facts::Place;

// What a device holds before a button: a value no button writes.
constexpr DWORD kMarker = 0xbdbdbdbd;

// Whether the place's key is one of these places' keys or lies under one.
bool In(const Place* place, const std::vector<const Place*>& places)
{
    auto lower = [](std::wstring text) {
        for (WCHAR& c : text)
            c = WCHAR(towlower(c));
        return text;
    };
    const std::wstring key = lower(place->key) + L"\\";
    for (const Place* at : places)
        if (at->hive == place->hive && key.rfind(lower(at->key) + L"\\", 0) == 0)
            return true;
    return false;
}

// Every place at the marker, except in the keys left out and below them.
// Callers stop on its failure.
void MakeDevice(std::vector<const Place*> without = {})
{
    for (const Place* at : kPlaces)
        if (!In(at, without))
            SET_PLACE(*at, Dword(kMarker));
}

// The device holds the markers but for these writes, and nothing where it
// had no key.
void ExpectDeviceAfter(Here here, const std::vector<facts::Write>& writes,
                       std::vector<const Place*> without = {})
{
    for (const Place* at : kPlaces) {
        Stored expected = In(at, without) ? Absent() : Dword(kMarker);
        for (const facts::Write& write : writes)
            if (write.at == at)
                expected = Dword(write.value);
        ExpectPlace_(here, *at, expected, "");
    }
}

TEST_F(RegistrySuite, ProbeIsTrueForAValueThatFitsInFourBytes)
{
    const struct {
        const WCHAR *name, *asked;
        Stored value;
        bool probed;
    } rows[] = {
        {L"any", L"any", Dword(0xffffffff), true},
        {L"zero", L"ZERO", Dword(0), true},
        {L"short", L"short", Value(REG_BINARY, {1, 2}), true},
        {L"text", L"text", Value(REG_SZ, Utf16("on")), false},  // 6 bytes
        {L"long", L"long", Value(REG_BINARY, {1, 2, 3, 4, 5}), false},
    };
    for (const auto& row : rows)
        SET_VALUE(HKEY_CURRENT_USER, kTestRoot, row.name, row.value);
    for (const auto& row : rows)
        EXPECT_EQ(ProbeValue(HKEY_CURRENT_USER, kTestRoot, row.asked), row.probed) << Narrow(row.name);
    EXPECT_FALSE(ProbeValue(HKEY_CURRENT_USER, kTestRoot, L"absent"));
    EXPECT_FALSE(ProbeValue(HKEY_CURRENT_USER, Scratch(L"Absent").c_str(), L"any"));
}

TEST_F(RegistrySuite, WriteDwordWritesFourBytesIntoAnExistingKeyOnly)
{
    SET_VALUE(HKEY_CURRENT_USER, kTestRoot, L"was text", Value(REG_SZ, Utf16("text")));
    WriteDword(HKEY_CURRENT_USER, kTestRoot, L"new", 0x12345678);
    WriteDword(HKEY_CURRENT_USER, kTestRoot, L"WAS TEXT", 5);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kTestRoot, L"new"), Dword(0x12345678));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kTestRoot, L"was text"), Dword(5));

    WriteDword(HKEY_CURRENT_USER, Scratch(L"Absent").c_str(), L"new", 1);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Scratch(L"Absent")));
}

TEST_F(RegistrySuite, EnsureFlagKeyCreatesTheKeyAndNoValue)
{
    ASSERT_FALSE(KeyExists(kFlag));
    EnsureFlagKey();
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"SOFTWARE\\ZELKORAN"));
    const std::wstring created = facts::kFlagKeyCreated;
    EXPECT_EQ(StoredKeyName(HKEY_CURRENT_USER, L"Software", L"zelkoran"), created.substr(created.find(L'\\') + 1));
    EXPECT_EQ(ReadValue(kFlag), Absent());
}

TEST_F(RegistrySuite, EnsureFlagKeyLeavesAnExistingKeyAndFlagAsTheyAre)
{
    CREATE_KEY(HKEY_CURRENT_USER, L"SOFTWARE\\ZELKORAN");
    EnsureFlagKey();
    EXPECT_EQ(StoredKeyName(HKEY_CURRENT_USER, L"Software", L"Zelkoran"), L"ZELKORAN");
    EXPECT_EQ(ReadValue(kFlag), Absent());

    SET_PLACE(kFlag, Dword(facts::kFlagSet));
    EnsureFlagKey();
    EXPECT_EQ(ReadValue(kFlag), Dword(facts::kFlagSet));
}

TEST_F(RegistrySuite, RowsAreAvailableWhenAnyOfTheirProbesSucceeds)
{
    // Nothing of the device yet: only the rows without probes show.
    for (const SettingRow& row : kCatalogue)
        EXPECT_EQ(IsRowAvailable(row), row.probes.size == 0) << "row " << row.labelId;

    // One probe at a time holds a DWORD; the others hold values too long
    // for four bytes, which don't count.
    for (const facts::Row& fact : facts::kProbedRows)
        for (const Place* probe : fact.probes) {
            SCOPED_TRACE(probe->name);
            for (const facts::Row& other : facts::kProbedRows)
                for (const Place* at : other.probes)
                    SET_VALUE(at->hive, at->key, at->value, Value(REG_SZ, Utf16("slow")));
            SET_PLACE(*probe, Dword(kMarker));
            for (const facts::Row& other : facts::kProbedRows) {
                const SettingRow* row = FindRow(other.label);
                ASSERT_NE(row, nullptr) << "row " << other.label;
                EXPECT_EQ(IsRowAvailable(*row), &other == &fact) << "row " << other.label;
            }
        }
}

// An id that is no settings button, another control's or none, writes
// nothing.
TEST_F(RegistrySuite, EachButtonWritesItsValuesAndNothingElse)
{
    std::vector<facts::Button> presses(kButtons.begin(), kButtons.end());
    for (const facts::Control& control : facts::kControls)
        if (!facts::FindButton(WORD(control.id)))
            presses.push_back({WORD(control.id), {}});
    for (WORD id : {0, 1005, 0xFFFF})
        presses.push_back({id, {}});
    for (const facts::Button& button : presses) {
        SCOPED_TRACE("button " + std::to_string(button.id));
        STOP_ON_FAILURE(MakeDevice());
        ApplyButton(button.id);
        ExpectDeviceAfter(HERE, button.writes);
        // No state: a second press writes the same again.
        STOP_ON_FAILURE(MakeDevice());
        ApplyButton(button.id);
        ExpectDeviceAfter(HERE, button.writes);
    }
}

// Each button on a device without one of the keys it writes to: that write
// is skipped and its key never made; the others are still made.
TEST(RegistrySuiteDevices, AMissingKeySkipsOnlyItsOwnWrite)
{
    for (const facts::Button& button : kButtons)
        for (const facts::Write& missing : button.writes) {
            SCOPED_TRACE("button " + std::to_string(button.id) + " without " + missing.at->name);
            ScratchRegistry scratch;
            if (KeyExists(*missing.at))
                continue;  // a key the system itself has, as Windows has the browser's
            STOP_ON_FAILURE(MakeDevice({missing.at}));
            ApplyButton(button.id);
            EXPECT_FALSE(KeyExists(*missing.at));
            std::vector<facts::Write> made;
            for (const facts::Write& write : button.writes)
                if (write.at != missing.at)
                    made.push_back(write);
            ExpectDeviceAfter(HERE, made, {missing.at});
        }
}

TEST_F(RegistrySuite, TheFlagIsRaisedWithoutEitherDriver)
{
    STOP_ON_FAILURE(MakeDevice({&facts::kMq120, &facts::kMq1100}));
    EXPECT_FALSE(IsRowAvailable(*FindRow(facts::kProbedRows.back().label)));
    for (WORD id : {1027, 1025}) {
        ApplyButton(id);
        EXPECT_FALSE(KeyExists(facts::kMq120));
        EXPECT_FALSE(KeyExists(facts::kMq1100));
        EXPECT_EQ(ReadValue(kFlag), Dword(facts::kFlagSet));
    }
}

}  // namespace
