// The host registry's file: registry.reg as the registry editor writes it,
// read, changed and written back; broken files; the default image. Saves
// that stop part-way are crash_test's, many processes at once
// concurrency_test's.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "catalogue.h"
#include "support/device_files.h"
#include "registry/regfile.h"
#include "registry.h"
#include "support/helpers.h"
#include "support/scratch.h"

namespace {

using host::reg::WideFromUtf8;

// The text (UTF-8) in UTF-16LE after a byte order mark.
std::string Utf16Text(const std::string& text)
{
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : host::reg::Utf16FromUtf8(text)) {
        bytes += char(unit & 0xFF);
        bytes += char(unit >> 8);
    }
    return bytes;
}

std::string Repeat(const std::string& text, size_t times)
{
    std::string out;
    for (size_t i = 0; i < times; ++i)
        out += text;
    return out;
}

using DeviceFile = ScratchTest;

// Written by hand, as the registry editor would export it: CRLF, mixed case,
// comments, a string, a continued hex value, a default value.
const std::string kHandWritten = kRegVersion +
    "\r\n"
    "\r\n"
    "; the test device\r\n"
    "[hkey_local_machine\\System\\gwe]\r\n"
    "\"animate\"=dword:00000000\r\n"
    "\"Title\"=\"Pocket \\\"PC\\\" in C:\\\\Windows\"\r\n"
    "\"Blob\"=hex:01,02,03,\\\r\n"
    "  04,05\r\n"
    "@=hex(2):25,00,00,00\r\n"
    "   ; a comment inside a key\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\GWE\\MENU]\r\n"
    "\"ANITYPE\"=dword:6\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100]\r\n"
    "\"Rotate\"=dword:00000000\r\n";

TEST_F(DeviceFile, AHandWrittenFileIsReadAndChangedOneLineAtATime)
{
    WriteRegistryFile(kHandWritten);
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE", L"Title"),
              Value(REG_SZ, Utf16("Pocket \"PC\" in C:\\Windows")));
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE", L"blob"), Value(REG_BINARY, {1, 2, 3, 4, 5}));
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE", NULL), Value(REG_EXPAND_SZ, {0x25, 0, 0, 0}));
    for (const SettingRow& row : kCatalogue)
        EXPECT_EQ(IsRowAvailable(row), row.labelId != 1019 && row.labelId != 1020)
            << "row " << row.labelId;

    ApplyButton(1009);  // Animate = 1
    const std::string pressed = Swapped(kHandWritten, "\"animate\"=dword:00000000", "\"animate\"=dword:00000001");
    EXPECT_EQ(ReadRegistryFile(), pressed);
    ApplyButton(1022);  // Anitype = 0
    EXPECT_EQ(ReadRegistryFile(), Swapped(pressed, "\"ANITYPE\"=dword:6", "\"ANITYPE\"=dword:00000000"));

    // A new key and value come at the end, in the file's own line endings.
    const std::string changed = ReadRegistryFile();
    EnsureFlagKey();
    ApplyButton(1025);
    EXPECT_EQ(ReadRegistryFile(), changed.substr(0, changed.size() - 10) +
                                      "00000003\r\n"
                                      "\r\n"
                                      "[HKEY_CURRENT_USER\\Software\\Zelkoran]\r\n"
                                      "\"align\"=dword:00000001\r\n"
                                      "\r\n");
}

// The file as its owner wrote it: its encoding, each line's ending, a last
// line with or without one. A press changes its own line and nothing else;
// a new key comes at the end in the ending most lines have. Every value in
// the file reads as the file says.
TEST_F(DeviceFile, ASaveKeepsTheFileAsItsOwnerWroteIt)
{
    const std::string v5 = kRegVersion;
    const std::string gwe = "[HKEY_LOCAL_MACHINE\\SYSTEM\\GWE]";
    const std::string own = "[HKEY_CURRENT_USER\\Software\\Zelkoran]";
    const std::string off = "\"Animate\"=dword:00000000", on = "\"Animate\"=dword:00000001";
    const std::string other = "\"Gr\xC3\xBC\xC3\x9F" "e\"=\"\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80\"";
    std::string many, more;  // more than a key keeps without a table of its values
    for (char c = 'a'; c < 'm'; ++c) {
        many += std::string("\"") + c + "\"=dword:00000001\n";
        more += std::string("\"") + char(c + 13) + "\"=dword:00000001\n";
    }
    const struct {
        const char* what;
        std::string before, after;
    } cases[] = {
        {"UTF-16LE with its mark, as the registry editor writes it",
         Utf16Text(v5 + "\r\n\r\n" + gwe + "\r\n" + off + "\r\n" + other + "\r\n"),
         Utf16Text(v5 + "\r\n\r\n" + gwe + "\r\n" + on + "\r\n" + other + "\r\n\r\n" + own + "\r\n\r\n")},
        {"UTF-8 with its mark", "\xEF\xBB\xBF" + v5 + "\n\n" + gwe + "\n" + off + "\n",
         "\xEF\xBB\xBF" + v5 + "\n\n" + gwe + "\n" + on + "\n\n" + own + "\n\n"},
        {"LF lines under a CRLF first line", v5 + "\r\n\n" + gwe + "\n" + off + "\n" + other + "\n",
         v5 + "\r\n\n" + gwe + "\n" + on + "\n" + other + "\n\n" + own + "\n\n"},
        {"a changed line keeps its ending", v5 + "\r\n\r\n" + gwe + "\r\n" + off + "\n" + other + "\r\n",
         v5 + "\r\n\r\n" + gwe + "\r\n" + on + "\n" + other + "\r\n\r\n" + own + "\r\n\r\n"},
        {"no line break at the end", v5 + "\n\n" + gwe + "\n" + off,
         v5 + "\n\n" + gwe + "\n" + on + "\n\n" + own},
        {"lines ended by CR alone", v5 + "\r\r" + gwe + "\r" + off + "\r" + other + "\r",
         v5 + "\r\r" + gwe + "\r" + on + "\r" + other + "\r\r" + own + "\r\r"},
        {"the older REGEDIT4 header", "REGEDIT4\n\n" + gwe + "\n" + off + "\n",
         "REGEDIT4\n\n" + gwe + "\n" + on + "\n\n" + own + "\n\n"},
        {"a stray CR stays where it was", v5 + "\n\n" + gwe + "\r\n" + off + "\n" + other + "\r",
         v5 + "\n\n" + gwe + "\r\n" + on + "\n" + other + "\r\n\n" + own},
        {"a header cut short after its CR", "REGEDIT4\r", "REGEDIT4\r\r" + own + "\r\r"},
        {"a key above others takes the case of the first below it, not of a name sorting between",
         v5 + "\n\n[HKEY_CURRENT_USER\\Software!]\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Other]\n\n" + gwe + "\n" + off + "\n",
         v5 + "\n\n[HKEY_CURRENT_USER\\Software!]\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Other]\n\n" + gwe + "\n" + on +
             "\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Zelkoran]\n\n"},
        {"a key of many values", v5 + "\n\n" + gwe + "\n" + many + off + "\n" + more,
         v5 + "\n\n" + gwe + "\n" + many + on + "\n" + more + "\n" + own + "\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteRegistryFile(c.before);
        ApplyButton(1009);  // Animate = 1
        EnsureFlagKey();
        EXPECT_EQ(ReadRegistryFile(), c.after);

        const host::reg::Document doc = ParseReg(c.after);
        EXPECT_EQ(host::reg::Write(doc), c.after);
        host::reg::Each(doc, [&](std::string_view path, const host::reg::Value* value) {
            const size_t root = path.find('\\');
            const HKEY hive = path[root - 1] == 'R' ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
            if (value) {
                EXPECT_EQ(ReadValue(hive, WideFromUtf8(path.substr(root + 1)), WideFromUtf8(value->name).c_str()),
                          Value(value->type, value->data))
                    << value->name;
            }
        });
    }
}

TEST_F(DeviceFile, WhatIsWrittenReadsBackTheSame)
{
    std::vector<host::reg::Value> values = {
        {"", 1, Utf16("default")},
        {"quote \" and \\", 1, Utf16("C:\\ \"x\"")},
        {"line break", 1, Utf16("a\nb")},
        {"no terminator", 1, {'a', 0, 'b', 0}},
        {"odd", 1, {'a', 0, 0}},
        {"lone surrogate", 1, {0x00, 0xD8, 0, 0}},
        {"short dword", 4, {1, 2}},
        {"dword", 4, {0x78, 0x56, 0x34, 0x12}},
        {"empty", 3, {}},
        {"qword", 11, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"\xC3\xA9t\xC3\xA9", 2, Utf16("%x%")},
    };
    for (const char* name : {"long", "a=b, with a name long enough to wrap at the first byte: \\\""}) {
        values.push_back({name, 3, std::vector<BYTE>(100)});
        for (size_t i = 0; i < values.back().data.size(); ++i)
            values.back().data[i] = BYTE(i * 7);
    }

    host::reg::Document doc = host::reg::Empty();
    for (const host::reg::Value& value : values)
        host::reg::SetValue(doc, "HKEY_LOCAL_MACHINE\\Test\\Values", value);
    const std::string written = host::reg::Write(doc);

    const host::reg::Document read = ParseReg(written);
    for (const host::reg::Value& value : values) {
        const std::optional<host::reg::Value> back =
            host::reg::FindValue(read, "HKEY_LOCAL_MACHINE\\Test\\Values", value.name);
        ASSERT_TRUE(back) << value.name;
        EXPECT_EQ(back->name, value.name);
        EXPECT_EQ(Value(back->type, back->data), Value(value.type, value.data)) << value.name;
    }
    EXPECT_EQ(host::reg::Write(read), written);
}

TEST_F(DeviceFile, ABrokenFileIsReportedOnceLeftAsItIsAndNothingOpens)
{
    const std::string& header = kRegHead;
    const std::string system = header + "[HKEY_LOCAL_MACHINE\\SYSTEM]\n";
    const struct {
        std::string text;
        int line;
        std::string problem;
    } cases[] = {
        {"[HKEY_LOCAL_MACHINE\\SYSTEM]\n", 1, "expected \"" + kRegVersion + "\""},
        {"", 1, "empty file"},
        {system + "\"a\"=\"open\n", 4, "unterminated string"},
        {system + "\"a\"=dword:123456789\n", 4, "1 to 8 hex digits"},
        {system + "\"a\"=hex:01,zz\n", 4, "two hex digits"},
        {system + "\"a\"=hex:01,\\\n", 4, "past the end"},
        {system + "\"a\\q\"=dword:0\n", 4, "unknown escape"},
        {system + "\"a\"=dword:0 junk\n", 4, "unexpected text"},
        {system + "\"a\"=-\n", 4, "value deletion"},
        {header + "[HKEY_CLASSES_ROOT\\x]\n", 3, "unknown root key"},
        {header + "[HKEY_LOCAL_MACHINE\\\\x]\n", 3, "empty key name"},
        {header + "[-HKEY_LOCAL_MACHINE\\x]\n", 3, "key deletion"},
        {header + "[HKEY_LOCAL_MACHINE\\x\n", 3, "must end with ']'"},
        {header + "\"a\"=dword:0\n", 3, "before the first [key]"},
        {header + "[HKEY_LOCAL_MACHINE\\x]\nhello\n", 4, "expected a [key]"},
        {header + "[HKEY_LOCAL_MACHINE\\x]\n\n[hkey_local_machine\\X]\n", 5, "appears twice (first at line 3)"},
        {header + "[HKEY_LOCAL_MACHINE\\x]\n\"a\"=dword:0\n\"A\"=dword:1\n", 5, "appears twice"},
        {header + "[HKEY_LOCAL_MACHINE\\x]\n\"a\"=\"\xff\"\n", 4, "malformed UTF-8"},
        {"\xFE\xFFx", 0, "big-endian"},
        // Cut short: in a key line, a string, a character, a UTF-16 unit.
        {header + "[HKEY_LOCAL_MA", 3, "must end with ']'"},
        {system + "\"a\"=\"ope", 4, "unterminated string"},
        {system + "\"a\"=\"caf\xC3", 4, "malformed UTF-8"},
        {Utf16Text(system) + "\x22", 0, "odd number of bytes"},
        // Not a registry file at all.
        {std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), 1, "malformed UTF-8"},
        {system + "\"a\"=dword:" + std::string(4, '\0') + "\n", 4, "malformed UTF-8"},
        {std::string("\x7f" "ELF\x02\x01\x01\0\0\0", 10), 1, "malformed UTF-8"},
        // Huge lines: the message names the line and stays short.
        {system + std::string(1 << 20, 'x') + "\n", 4, "expected a [key]"},
        {header + "[" + std::string(1 << 20, 'K') + "]\n", 3, "unknown root key \"KKKK"},
        {system + "\"a\"=hex:" + Repeat("00,", 1 << 18) + "zz\n", 4, "two hex digits"},
        // More bad hex.
        {system + "\"a\"=hex(zz):00\n", 4, "hex(N)"},
        {system + "\"a\"=hex:123\n", 4, "two hex digits"},
        {system + "\"a\"=hex(2)00\n", 4, "expected ':'"},
        {system + "\"a\"=dword:\n", 4, "1 to 8 hex digits"},
        // Other hives, other headers.
        {header + "[HKEY_USERS\\.DEFAULT]\n", 3, "unknown root key \"HKEY_USERS\""},
        {header + "[HKLM\\SYSTEM]\n", 3, "unknown root key \"HKLM\""},
        {"Windows Registry Editor Version 4.00\n\n[HKEY_LOCAL_MACHINE\\SYSTEM]\n", 1, "expected \"Windows"},
        {"\n\n; no header\n[HKEY_LOCAL_MACHINE\\SYSTEM]\n", 3, "expected \"Windows"},
        {"REGEDIT5\n\n[HKEY_LOCAL_MACHINE\\SYSTEM]\n", 1, "expected \"Windows"},
        // Mixed encodings: UTF-16 inside UTF-8, UTF-8 inside UTF-16, two marks.
        {system + Utf16Text("\"a\"=dword:1\n").substr(2), 4, "malformed UTF-8"},
        {Utf16Text(header) + "[HKEY_LOCAL_MACHINE\\SYSTEM]\n", 3, "expected a [key]"},
        {"\xEF\xBB\xBF" + Utf16Text(header), 1, "malformed UTF-8"},
        {system + "\"a\"=\"\xE9t\xE9\"\n", 4, "malformed UTF-8"},
        // Past the handheld's limits, one at a time, deep keys first: read,
        // each level of a key 16,000 deep would cost the whole path again.
        {header + "[HKEY_LOCAL_MACHINE" + Repeat("\\level", 16000) + "]\n", 3, "16000 levels deep"},
        {header + "[HKEY_LOCAL_MACHINE" + Repeat("\\k", 17) + "]\n", 3, "17 levels deep, past the 16"},
        {header + "[HKEY_LOCAL_MACHINE\\" + std::string(256, 'k') + "]\n", 3, "256 characters long, past the 255"},
        {header + "[HKEY_LOCAL_MACHINE\\" + Repeat("\xF0\x9F\x98\x80", 128) + "]\n", 3, "256 characters long"},
        {system + "\"" + std::string(256, 'v') + "\"=dword:0\n", 4, "256 characters long, past the 255"},
        {system + "\"a\"=hex:" + Repeat("00,", 4096) + "00\n", 4, "4097 bytes of data, past the 4096"},
        {system + "@=\"" + std::string(2048, 's') + "\"\n", 4, "@ holds 4098 bytes"},
    };
    for (const auto& broken : cases) {
        SCOPED_TRACE(broken.problem);
        WriteRegistryFile(broken.text);
        StderrCapture capture;
        HKEY key = HKEY(1);
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM", 0, KEY_READ, &key), ERROR_BADDB);
        EXPECT_EQ(key, HKEY(NULL));
        EXPECT_EQ(CreateKey(HKEY_CURRENT_USER, L"Software\\Zelkoran"), ERROR_BADDB);
        EXPECT_EQ(RegSetValueExW(HKEY_LOCAL_MACHINE, L"a", 0, REG_DWORD, (const BYTE*)"\1\0\0\0", 4),
                  ERROR_BADDB);
        EnsureFlagKey();
        ApplyButton(1009);
        const std::string said = capture.Finish();

        EXPECT_EQ(ReadRegistryFile(), broken.text);
        EXPECT_FALSE(std::filesystem::exists(RegistryPath() + ".tmp"));
        const std::string where = RegistryPath() + (broken.line ? ":" + std::to_string(broken.line) : "");
        EXPECT_EQ(said.find("ce-device: " + where + ": "), 0u) << said;
        EXPECT_NE(said.find(broken.problem), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_LT(said.size(), 240u) << said.substr(0, 240);
    }
}

// What the registry writes, it can read back: a change that would take
// registry.reg past what the reader takes fails, as on a handheld whose
// object store is full, and the file stays as it was.
TEST_F(DeviceFile, AChangeTheFileCouldNotHoldIsRefusedAndTheFileKept)
{
    const size_t limit = host::reg::kMostFileBytes;
    const size_t header = kFullDevice.find('\n') + 1;
    const struct {
        const char* what;
        size_t size;  // the file's, before the line "Grown"=hex:5a,5a,5a,5a and its LF
        LONG result;
        size_t lines;
    } cases[] = {
        {"to the limit", limit - 24, ERROR_SUCCESS, 0},
        {"one byte past it", limit - 23, ERROR_NOT_ENOUGH_MEMORY, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string before = kFullDevice.substr(0, header) + ";" +
                                   std::string(c.size - kFullDevice.size() - 2, 'x') + "\n" +
                                   kFullDevice.substr(header);
        WriteRegistryFile(before);
        StderrCapture capture;
        EXPECT_EQ(SetIn(HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE", L"Grown", Value(REG_BINARY, {'Z', 'Z', 'Z', 'Z'})),
                  c.result);
        const std::string said = capture.Finish();
        EXPECT_EQ(size_t(std::count(said.begin(), said.end(), '\n')), c.lines) << said;
        const std::string after = ReadRegistryFile();
        EXPECT_EQ(after.size(), c.result == ERROR_SUCCESS ? limit : before.size());
        EXPECT_TRUE(c.result == ERROR_SUCCESS || after == before) << "a refused change changed the file";
        EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE", L"Grown").present, c.result == ERROR_SUCCESS);
    }
}

TEST_F(DeviceFile, ADeviceWithoutARegistryGetsTheDefaultImage)
{
    std::filesystem::remove(RegistryPath());
    for (const SettingRow& row : kCatalogue)
        EXPECT_TRUE(IsRowAvailable(row)) << "row " << row.labelId;
    const std::string expected = FileBytes(ZK_DEFAULT_REG);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(ReadRegistryFile(), expected);

    // It holds the platform defaults: the "*" buttons change nothing.
    for (const SettingRow& row : kCatalogue)
        for (const ButtonAction& button : row.buttons) {
            const std::wstring caption = button.caption;
            if (caption.back() == L'*')
                ApplyButton(button.controlId);
        }
    EXPECT_EQ(ReadRegistryFile(), expected);
}

// In a child, whose environment is its own to change.
TEST_F(DeviceFile, TheDeviceFolderFollowsTheEnvironment)
{
    const ChildRun run = RunChild(
        [] {
            const std::string root = host::DeviceRoot();
            setenv("XDG_DATA_HOME", "/data", 1);
            printf("%s\n", host::DeviceRoot() == root ? "CE_DEVICE_ROOT" : host::DeviceRoot().c_str());
            unsetenv("CE_DEVICE_ROOT");
            printf("%s\n", host::DeviceRoot().c_str());
            unsetenv("XDG_DATA_HOME");
            setenv("HOME", "/home/someone", 1);
            printf("%s\n", host::DeviceRoot().c_str());
            return 0;
        },
        Said::Out);
    EXPECT_EQ(run.output, "CE_DEVICE_ROOT\n/data/ce-device\n/home/someone/.local/share/ce-device\n");
}

}  // namespace
