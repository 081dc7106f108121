// One suite, two registries: built for the host against its registry.reg,
// and for Windows against the real registry under Wine. Where the two
// disagree, the host is wrong.
#include <string.h>

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "catalogue.h"
#include "registry.h"
#include "scratch.h"

namespace {

using Bytes = std::vector<BYTE>;

struct Stored {
    DWORD type;
    Bytes data;
    bool operator==(const Stored& other) const { return type == other.type && data == other.data; }
};

std::ostream& operator<<(std::ostream& out, const Stored& value)
{
    out << "type " << value.type << " [";
    for (size_t i = 0; i < value.data.size(); ++i)
        out << (i ? " " : "") << std::hex << int(value.data[i]) << std::dec;
    return out << "]";
}

Bytes Dword(DWORD value)
{
    return {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)};
}

// UTF-16LE bytes of ASCII text, with its terminating NUL.
Bytes Utf16(const char* text)
{
    Bytes bytes;
    for (const char* c = text;; ++c) {
        bytes.push_back(BYTE(*c));
        bytes.push_back(0);
        if (!*c)
            return bytes;
    }
}

std::wstring Scratch(const WCHAR* subkey)
{
    return std::wstring(kTestRoot) + L"\\" + subkey;
}

LONG Create(HKEY hive, const std::wstring& path, DWORD* disposition = nullptr)
{
    HKEY key;
    DWORD ignored;
    const LONG result = RegCreateKeyExW(hive, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                                        disposition ? disposition : &ignored);
    if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    return result;
}

LONG Put(HKEY hive, const std::wstring& path, const WCHAR* name, DWORD type, const Bytes& data)
{
    HKEY key;
    LONG result =
        RegCreateKeyExW(hive, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
    if (result != ERROR_SUCCESS)
        return result;
    result = RegSetValueExW(key, name, 0, type, data.empty() ? NULL : data.data(),
                            DWORD(data.size()));
    RegCloseKey(key);
    return result;
}

std::optional<Stored> Get(HKEY hive, const std::wstring& path, const WCHAR* name)
{
    HKEY key;
    if (RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    Stored value{};
    DWORD size = 0;
    std::optional<Stored> result;
    if (RegQueryValueExW(key, name, NULL, &value.type, NULL, &size) == ERROR_SUCCESS) {
        value.data.resize(size);
        if (RegQueryValueExW(key, name, NULL, &value.type, value.data.data(), &size) ==
            ERROR_SUCCESS)
            result = value;
    }
    RegCloseKey(key);
    return result;
}

bool KeyExists(HKEY hive, const std::wstring& path)
{
    HKEY key;
    if (RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

class RegistrySuite : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Create(HKEY_CURRENT_USER, kTestRoot), ERROR_SUCCESS); }

    ScratchRegistry scratch_;
};

// ---- Registry semantics ----

TEST_F(RegistrySuite, CreateMakesTheMissingKeysAlongThePathAndTellsWhich)
{
    DWORD disposition = 0;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, Scratch(L"A\\B\\C"), &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Scratch(L"A")));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Scratch(L"A\\B")));

    disposition = 0;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, Scratch(L"a\\b\\c"), &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY));
    disposition = 0;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, Scratch(L"A\\B"), &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY));
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
    ASSERT_EQ(Put(HKEY_CURRENT_USER, Scratch(L"MixedCase"), L"SomeValue", REG_DWORD, Dword(7)),
              ERROR_SUCCESS);
    EXPECT_EQ(Get(HKEY_CURRENT_USER, Scratch(L"MIXEDCASE"), L"somevalue"),
              (Stored{REG_DWORD, Dword(7)}));

    ASSERT_EQ(Put(HKEY_CURRENT_USER, Scratch(L"mixedcase"), L"SOMEVALUE", REG_DWORD, Dword(8)),
              ERROR_SUCCESS);
    EXPECT_EQ(Get(HKEY_CURRENT_USER, Scratch(L"MixedCase"), L"SomeValue"),
              (Stored{REG_DWORD, Dword(8)}));
    EXPECT_EQ(StoredKeyName(HKEY_CURRENT_USER, kTestRoot, L"MIXEDCASE"), L"MixedCase");

    ASSERT_EQ(Put(HKEY_CURRENT_USER, Scratch(L"\u00dcber"), L"\u00e9t\u00e9", REG_DWORD, Dword(9)),
              ERROR_SUCCESS);
    EXPECT_EQ(Get(HKEY_CURRENT_USER, Scratch(L"\u00fcBER"), L"\u00c9T\u00c9"),
              (Stored{REG_DWORD, Dword(9)}));
    EXPECT_EQ(StoredValueName(HKEY_CURRENT_USER, Scratch(L"mixedCASE").c_str(), L"somevalue"),
              L"SomeValue");
}

TEST_F(RegistrySuite, AMissingKeyOrValueIsFileNotFound)
{
    HKEY key = reinterpret_cast<HKEY>(ULONG_PTR(0x1234));
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, Scratch(L"Missing").c_str(), 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, HKEY(NULL));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Scratch(L"Missing")));

    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kTestRoot, 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD type = 99, size = 16;
    BYTE data[16];
    memset(data, 0xbd, sizeof data);
    EXPECT_EQ(RegQueryValueExW(key, L"missing", NULL, &type, data, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(type, 99u);
    EXPECT_EQ(size, 16u);
    EXPECT_EQ(data[0], 0xbd);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistrySuite, QueryGivesTypeSizeAndDataOrTheSizeNeeded)
{
    const Bytes six = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(Put(HKEY_CURRENT_USER, kTestRoot, L"six", REG_BINARY, six), ERROR_SUCCESS);
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kTestRoot, 0, KEY_READ, &key), ERROR_SUCCESS);

    BYTE data[8];
    memset(data, 0xbd, sizeof data);
    DWORD type = 99, size = 8;
    EXPECT_EQ(RegQueryValueExW(key, L"six", NULL, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_BINARY));
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(Bytes(data, data + 8), (Bytes{1, 2, 3, 4, 5, 6, 0xbd, 0xbd}));

    // Too small: the size needed comes back, the buffer stays as it was.
    memset(data, 0xbd, sizeof data);
    type = 99;
    size = 4;
    EXPECT_EQ(RegQueryValueExW(key, L"six", NULL, &type, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(type, DWORD(REG_BINARY));
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(data[0], 0xbd);

    size = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"six", NULL, NULL, NULL, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(RegQueryValueExW(key, L"six", NULL, NULL, NULL, NULL), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key, L"six", NULL, &type, data, NULL), ERROR_INVALID_PARAMETER);
    DWORD reserved = 0;
    size = 8;
    EXPECT_EQ(RegQueryValueExW(key, L"six", &reserved, &type, data, &size),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistrySuite, ValuesKeepTheirTypeAndBytes)
{
    const struct {
        const WCHAR* name;
        DWORD type;
        Bytes data;
    } values[] = {
        {L"dword", REG_DWORD, Dword(0xfedcba98)},
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
        ASSERT_EQ(Put(HKEY_CURRENT_USER, kTestRoot, value.name, value.type, value.data),
                  ERROR_SUCCESS);
    for (const auto& value : values)
        EXPECT_EQ(Get(HKEY_CURRENT_USER, kTestRoot, value.name), (Stored{value.type, value.data}))
            << "value \"" << std::string(value.name, value.name + wcslen(value.name)) << "\"";
    // The default value answers to both NULL and "".
    EXPECT_EQ(Get(HKEY_CURRENT_USER, kTestRoot, NULL), (Stored{REG_SZ, Utf16("default")}));

    ASSERT_EQ(Put(HKEY_CURRENT_USER, kTestRoot, L"dword", REG_SZ, Utf16("now text")),
              ERROR_SUCCESS);
    EXPECT_EQ(Get(HKEY_CURRENT_USER, kTestRoot, L"dword"), (Stored{REG_SZ, Utf16("now text")}));
}

TEST_F(RegistrySuite, AStringSetWithoutItsNulIsReadWithOne)
{
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kTestRoot, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    // A NUL right after the counted bytes is counted in.
    const BYTE terminated[] = {'h', 0, 'i', 0, 0, 0};
    ASSERT_EQ(RegSetValueExW(key, L"counted", 0, REG_SZ, terminated, 4), ERROR_SUCCESS);
    // Otherwise the bytes are kept as given, and a read with room adds a NUL
    // that the size leaves out.
    const BYTE unterminated[] = {'h', 0, 'i', 0, 'x', 0};
    ASSERT_EQ(RegSetValueExW(key, L"bare", 0, REG_SZ, unterminated, 4), ERROR_SUCCESS);

    BYTE data[8];
    memset(data, 0xbd, sizeof data);
    DWORD size = 8;
    EXPECT_EQ(RegQueryValueExW(key, L"counted", NULL, NULL, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
    memset(data, 0xbd, sizeof data);
    size = 6;
    EXPECT_EQ(RegQueryValueExW(key, L"bare", NULL, NULL, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(Bytes(data, data + 8), (Bytes{'h', 0, 'i', 0, 0, 0, 0xbd, 0xbd}));
    memset(data, 0xbd, sizeof data);
    size = 4;
    EXPECT_EQ(RegQueryValueExW(key, L"bare", NULL, NULL, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(Bytes(data, data + 6), (Bytes{'h', 0, 'i', 0, 0xbd, 0xbd}));
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistrySuite, SetTakesNoDataOnlyWithSizeZero)
{
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kTestRoot, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, L"nothing", 0, REG_BINARY, NULL, 0), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, L"bad", 0, REG_BINARY, NULL, 4), ERROR_NOACCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(Get(HKEY_CURRENT_USER, kTestRoot, L"nothing"), (Stored{REG_BINARY, {}}));
    EXPECT_EQ(Get(HKEY_CURRENT_USER, kTestRoot, L"bad"), std::nullopt);
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
    EXPECT_EQ(Get(HKEY_CURRENT_USER, kTestRoot, L"v"), std::nullopt);

    // The other handle to the same key still works.
    EXPECT_EQ(RegSetValueExW(second, L"v", 0, REG_DWORD, data, 4), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(second), ERROR_SUCCESS);
    EXPECT_EQ(Get(HKEY_CURRENT_USER, kTestRoot, L"v"), (Stored{REG_DWORD, Dword(1)}));
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
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kTestRoot, 0, KEY_READ, NULL),
              ERROR_INVALID_PARAMETER);
    // The hives are always open; closing one is harmless.
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(key, HKEY_CURRENT_USER);
}

TEST_F(RegistrySuite, PathsTakeNoLeadingBackslashButSpareOnes)
{
    HKEY key;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (L"\\" + std::wstring(kTestRoot)).c_str(), 0,
                            KEY_READ, &key),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (L"\\" + Scratch(L"Lead")).c_str(), 0, NULL, 0,
                              KEY_ALL_ACCESS, NULL, &key, NULL),
              ERROR_BAD_PATHNAME);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Scratch(L"Lead")));

    ASSERT_EQ(Create(HKEY_CURRENT_USER, Scratch(L"Double\\\\Trailing\\")), ERROR_SUCCESS);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Scratch(L"Double\\Trailing")));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Scratch(L"Double\\Trailing\\")));
}

// ---- The core's operations ----

struct Location {
    HKEY hive;
    const WCHAR* key;
    const WCHAR* name;
};

const Location kMq120 = {HKEY_LOCAL_MACHINE, L"Drivers\\Display\\mq120", L"Rotate"};
const Location kMq1100 = {HKEY_LOCAL_MACHINE, L"Drivers\\Display\\mq1100", L"Rotate"};
const Location kFlag = {HKEY_CURRENT_USER, L"SOFTWARE\\Zelkoran", L"align"};
const Location kGlyph = {HKEY_LOCAL_MACHINE, L"SYSTEM\\GDI\\GLYPHCACHE", L"limit"};
const Location kAnimate = {HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE", L"Animate"};
const Location kShell = {HKEY_CURRENT_USER, L"SOFTWARE\\MICROSOFT\\SHELL", L"Cleartype"};
const Location kBrowser = {HKEY_LOCAL_MACHINE,
                           L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                           L"ClearTypeText"};
const Location kMenu = {HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE\\Menu", L"Anitype"};
const Location* const kAll[] = {&kMq120, &kMq1100, &kFlag,   &kGlyph,
                                &kAnimate, &kShell, &kBrowser, &kMenu};

// What a device holds before a button: a value no button writes.
constexpr DWORD kMarker = 0xbdbdbdbd;

std::optional<Stored> Get(const Location& at)
{
    return Get(at.hive, at.key, at.name);
}

Stored DwordValue(DWORD value)
{
    return {REG_DWORD, Dword(value)};
}

// Every catalogue value at the marker, except in the keys left out.
void MakeDevice(std::vector<const Location*> without = {})
{
    for (const Location* at : kAll) {
        bool left = false;
        for (const Location* out : without)
            left = left || out == at;
        if (!left) {
            ASSERT_EQ(Put(at->hive, at->key, at->name, REG_DWORD, Dword(kMarker)), ERROR_SUCCESS);
        }
    }
}

struct Write {
    const Location* at;
    DWORD value;
};

struct ButtonCase {
    WORD id;
    std::vector<Write> writes;
};

const ButtonCase kButtons[] = {
    {1027, {{&kMq120, 0}, {&kMq1100, 0}, {&kFlag, 1}}},  // reg*
    {1025, {{&kMq120, 1}, {&kMq1100, 3}, {&kFlag, 1}}},  // rotate
    {1016, {{&kGlyph, 4096}}},                           // slow (save RAM)
    {1007, {{&kGlyph, 16384}}},                          // reg*
    {1017, {{&kGlyph, 8192}}},                           // fast
    {1009, {{&kAnimate, 1}}},                            // slow
    {1008, {{&kAnimate, 0}}},                            // fast*
    {1010, {{&kShell, 0}}},                              // off*
    {1011, {{&kShell, 1}}},                              // on
    {1013, {{&kBrowser, 0}}},                            // off*
    {1014, {{&kBrowser, 1}}},                            // on
    {1023, {{&kMenu, 6}}},                               // slow*
    {1022, {{&kMenu, 0}}},                               // fast
    {1004, {}},                                          // soft reset: not a setting
    {1006, {}},                                          // close
};

// The device holds the markers but for these writes, and nothing where it
// had no key.
void ExpectDeviceAfter(const std::vector<Write>& writes, std::vector<const Location*> without = {})
{
    for (const Location* at : kAll) {
        std::optional<Stored> expected = DwordValue(kMarker);
        for (const Write& write : writes)
            if (write.at == at)
                expected = DwordValue(write.value);
        for (const Location* out : without)
            if (out == at)
                expected = std::nullopt;
        EXPECT_EQ(Get(*at), expected) << std::string(at->name, at->name + wcslen(at->name));
    }
}

TEST_F(RegistrySuite, ProbeIsTrueForAValueThatFitsInFourBytes)
{
    ASSERT_EQ(Put(HKEY_CURRENT_USER, kTestRoot, L"any", REG_DWORD, Dword(0xffffffff)), ERROR_SUCCESS);
    ASSERT_EQ(Put(HKEY_CURRENT_USER, kTestRoot, L"zero", REG_DWORD, Dword(0)), ERROR_SUCCESS);
    ASSERT_EQ(Put(HKEY_CURRENT_USER, kTestRoot, L"short", REG_BINARY, {1, 2}), ERROR_SUCCESS);
    ASSERT_EQ(Put(HKEY_CURRENT_USER, kTestRoot, L"text", REG_SZ, Utf16("on")), ERROR_SUCCESS);
    ASSERT_EQ(Put(HKEY_CURRENT_USER, kTestRoot, L"long", REG_BINARY, {1, 2, 3, 4, 5}),
              ERROR_SUCCESS);

    EXPECT_TRUE(ProbeValue(HKEY_CURRENT_USER, kTestRoot, L"any"));
    EXPECT_TRUE(ProbeValue(HKEY_CURRENT_USER, kTestRoot, L"ZERO"));
    EXPECT_TRUE(ProbeValue(HKEY_CURRENT_USER, kTestRoot, L"short"));
    EXPECT_FALSE(ProbeValue(HKEY_CURRENT_USER, kTestRoot, L"text"));  // 6 bytes
    EXPECT_FALSE(ProbeValue(HKEY_CURRENT_USER, kTestRoot, L"long"));
    EXPECT_FALSE(ProbeValue(HKEY_CURRENT_USER, kTestRoot, L"absent"));
    EXPECT_FALSE(ProbeValue(HKEY_CURRENT_USER, Scratch(L"Absent").c_str(), L"any"));
}

TEST_F(RegistrySuite, WriteDwordWritesFourBytesIntoAnExistingKeyOnly)
{
    ASSERT_EQ(Put(HKEY_CURRENT_USER, kTestRoot, L"was text", REG_SZ, Utf16("text")), ERROR_SUCCESS);
    WriteDword(HKEY_CURRENT_USER, kTestRoot, L"new", 0x12345678);
    WriteDword(HKEY_CURRENT_USER, kTestRoot, L"WAS TEXT", 5);
    EXPECT_EQ(Get(HKEY_CURRENT_USER, kTestRoot, L"new"), DwordValue(0x12345678));
    EXPECT_EQ(Get(HKEY_CURRENT_USER, kTestRoot, L"was text"), DwordValue(5));

    WriteDword(HKEY_CURRENT_USER, Scratch(L"Absent").c_str(), L"new", 1);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Scratch(L"Absent")));
}

TEST_F(RegistrySuite, EnsureFlagKeyCreatesTheKeyAndNoValue)
{
    ASSERT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Zelkoran"));
    EnsureFlagKey();
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"SOFTWARE\\ZELKORAN"));
    EXPECT_EQ(StoredKeyName(HKEY_CURRENT_USER, L"Software", L"zelkoran"), L"Zelkoran");
    EXPECT_EQ(Get(kFlag), std::nullopt);
}

TEST_F(RegistrySuite, EnsureFlagKeyLeavesAnExistingKeyAndFlagAsTheyAre)
{
    ASSERT_EQ(Create(HKEY_CURRENT_USER, L"SOFTWARE\\ZELKORAN"), ERROR_SUCCESS);
    EnsureFlagKey();
    EXPECT_EQ(StoredKeyName(HKEY_CURRENT_USER, L"Software", L"Zelkoran"), L"ZELKORAN");
    EXPECT_EQ(Get(kFlag), std::nullopt);

    ASSERT_EQ(Put(kFlag.hive, kFlag.key, kFlag.name, REG_DWORD, Dword(1)), ERROR_SUCCESS);
    EnsureFlagKey();
    EXPECT_EQ(Get(kFlag), DwordValue(1));
}

TEST_F(RegistrySuite, RowsAreAvailableWhenAProbeSucceeds)
{
    ASSERT_EQ(kCatalogue.size, 6u);
    // Nothing of the device yet: only the row without probes shows.
    for (const SettingRow& row : kCatalogue)
        EXPECT_EQ(IsRowAvailable(row), row.labelId == 1015) << "row " << row.labelId;

    MakeDevice({&kMq120});
    for (const SettingRow& row : kCatalogue)
        EXPECT_TRUE(IsRowAvailable(row)) << "row " << row.labelId;

    // A value too long for four bytes hides its row.
    ASSERT_EQ(Put(kMenu.hive, kMenu.key, kMenu.name, REG_SZ, Utf16("slow")), ERROR_SUCCESS);
    ASSERT_EQ(Put(kMq1100.hive, kMq1100.key, kMq1100.name, REG_BINARY, {1, 2, 3, 4, 5}),
              ERROR_SUCCESS);
    EXPECT_FALSE(IsRowAvailable(*FindRow(1021)));
    EXPECT_FALSE(IsRowAvailable(*FindRow(1026)));
}

TEST_F(RegistrySuite, EachButtonWritesItsValuesAndNothingElse)
{
    for (const ButtonCase& button : kButtons) {
        SCOPED_TRACE("button " + std::to_string(button.id));
        MakeDevice();
        ApplyButton(button.id);
        ExpectDeviceAfter(button.writes);
        // No state: a second press writes the same again.
        ApplyButton(button.id);
        ExpectDeviceAfter(button.writes);
    }
}

TEST_F(RegistrySuite, AnUnknownIdWritesNothing)
{
    MakeDevice();
    for (WORD id : {0, 1005, 1012, 1024, 1026, 1015, 0xFFFF})
        ApplyButton(id);
    ExpectDeviceAfter({});
}

TEST_F(RegistrySuite, AMissingKeySkipsOnlyItsOwnWrite)
{
    MakeDevice({&kMq120});
    ApplyButton(1025);
    EXPECT_FALSE(KeyExists(kMq120.hive, kMq120.key));
    ExpectDeviceAfter({{&kMq1100, 3}, {&kFlag, 1}}, {&kMq120});
}

TEST_F(RegistrySuite, TheFlagIsRaisedWithoutEitherDriver)
{
    MakeDevice({&kMq120, &kMq1100});
    EXPECT_FALSE(IsRowAvailable(*FindRow(1026)));
    ApplyButton(1027);
    EXPECT_FALSE(KeyExists(kMq120.hive, kMq120.key));
    EXPECT_FALSE(KeyExists(kMq1100.hive, kMq1100.key));
    EXPECT_EQ(Get(kFlag), DwordValue(1));
}

TEST_F(RegistrySuite, WithoutTheFlagKeyTheDriversAreStillWritten)
{
    MakeDevice({&kFlag});
    ApplyButton(1025);
    EXPECT_EQ(Get(kMq120), DwordValue(1));
    EXPECT_EQ(Get(kMq1100), DwordValue(3));
    EXPECT_FALSE(KeyExists(kFlag.hive, kFlag.key));
}

TEST_F(RegistrySuite, WithoutTheGlyphCacheKeyItsButtonsWriteNothing)
{
    MakeDevice({&kGlyph});
    EXPECT_TRUE(IsRowAvailable(*FindRow(1015)));
    for (WORD id : {1016, 1007, 1017})
        ApplyButton(id);
    EXPECT_FALSE(KeyExists(kGlyph.hive, kGlyph.key));
    ExpectDeviceAfter({}, {&kGlyph});
}

TEST_F(RegistrySuite, TheLastPressWins)
{
    MakeDevice();
    ApplyButton(1014);
    ApplyButton(1013);
    EXPECT_EQ(Get(kBrowser), DwordValue(0));
}

}  // namespace
