// The session's list of registry changes: which values count as changed, how
// they read, and the row and button each belongs to.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "changes.h"
#include "support/reg_text.h"

namespace {

std::vector<std::string> Lines(const std::string& before, const std::string& after)
{
    std::vector<std::string> lines;
    for (const session::Change& change : session::Compare(ParseReg(kRegHead + before), ParseReg(kRegHead + after)))
        lines.push_back(session::Describe(change));
    return lines;
}

const char kDrivers[] =
    "[HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq120]\n\"Rotate\"=dword:00000000\n\n"
    "[HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100]\n\"Rotate\"=dword:00000000\n\n";

const std::string kRotated = "[HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq120]\n\"Rotate\"=dword:00000001\n\n"
                             "[HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100]\n\"Rotate\"=dword:00000003\n\n"
                             "[HKEY_CURRENT_USER\\Software\\Zelkoran]\n\"align\"=dword:00000001\n";

// One row a case: the registry before and after, and the changes listed.
struct Case {
    const char* name;
    std::string before, after;
    std::vector<std::string> changes;
};

const Case kCases[] = {
    {"NothingChangedIsAnEmptyList", kDrivers, kDrivers, {}},
    // A new key without values, and another layout of the same values, change no value.
    {"NoValueChangedIsAnEmptyList", kDrivers,
     "[HKEY_CURRENT_USER\\Software\\Zelkoran]\n\n"
     "[HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100]\n\"rotate\"=dword:0\n\n"
     "[HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq120]\n\"Rotate\"=dword:00000000\n",
     {}},
    {"RotationReadsAsTheButtonThatWroteIt", kDrivers, kRotated,
     {"HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq120 \"Rotate\": 0 -> 1  (Display orientation: \"rotate\")",
      "HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100 \"Rotate\": 0 -> 3  (Display orientation: \"rotate\")",
      "HKEY_CURRENT_USER\\Software\\Zelkoran \"align\": absent -> 1  (the recalibration flag)"}},
    {"RotationBackReadsAsTheDefaultButton", kRotated,
     kDrivers + std::string("[HKEY_CURRENT_USER\\Software\\Zelkoran]\n\"align\"=dword:00000000\n"),
     {"HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq120 \"Rotate\": 1 -> 0  (Display orientation: \"reg*\")",
      "HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100 \"Rotate\": 3 -> 0  (Display orientation: \"reg*\")",
      "HKEY_CURRENT_USER\\Software\\Zelkoran \"align\": 1 -> 0  (the recalibration flag)"}},
    {"EveryRowIsKnownByItsPlaceWhateverTheCase",
     "[HKEY_LOCAL_MACHINE\\SYSTEM\\GDI\\GLYPHCACHE]\n\"limit\"=dword:00004000\n\n"
     "[HKEY_LOCAL_MACHINE\\SYSTEM\\GWE]\n\"Animate\"=dword:00000000\n\n"
     "[HKEY_CURRENT_USER\\SOFTWARE\\MICROSOFT\\SHELL]\n\"Cleartype\"=dword:00000000\n\n"
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings]\n"
     "\"ClearTypeText\"=dword:00000000\n\n"
     "[HKEY_LOCAL_MACHINE\\SYSTEM\\GWE\\Menu]\n\"Anitype\"=dword:00000006\n",
     "[hkey_local_machine\\system\\gdi\\glyphcache]\n\"LIMIT\"=dword:00001000\n\n"
     "[HKEY_LOCAL_MACHINE\\SYSTEM\\GWE]\n\"Animate\"=dword:00000001\n\n"
     "[HKEY_CURRENT_USER\\Software\\Microsoft\\Shell]\n\"cleartype\"=dword:00000001\n\n"
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings]\n"
     "\"ClearTypeText\"=dword:00000001\n\n"
     "[HKEY_LOCAL_MACHINE\\SYSTEM\\GWE\\Menu]\n\"Anitype\"=dword:00000000\n",
     {"hkey_local_machine\\system\\gdi\\glyphcache \"LIMIT\": 16384 -> 4096  (Speed up display: \"slow (save RAM)\")",
      "HKEY_LOCAL_MACHINE\\SYSTEM\\GWE \"Animate\": 0 -> 1  (Animate windows: \"slow\")",
      "HKEY_CURRENT_USER\\Software\\Microsoft\\Shell \"cleartype\": 0 -> 1  (Cleartype [win]: \"on\")",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings \"ClearTypeText\": 0 -> 1  "
      "(Cleartype [ie]: \"on\")",
      "HKEY_LOCAL_MACHINE\\SYSTEM\\GWE\\Menu \"Anitype\": 6 -> 0  (Start Menu speed: \"fast\")"}},
    {"ValuesNoButtonWritesNameOnlyTheRow", "[HKEY_LOCAL_MACHINE\\SYSTEM\\GWE\\Menu]\n\"Anitype\"=dword:00000006\n",
     "[HKEY_LOCAL_MACHINE\\SYSTEM\\GWE\\Menu]\n\"Anitype\"=dword:00000002\n",
     {"HKEY_LOCAL_MACHINE\\SYSTEM\\GWE\\Menu \"Anitype\": 6 -> 2  (Start Menu speed:)"}},
    // A string where the row's DWORD belongs.
    {"AStringWhereADwordBelongsNamesOnlyTheRow", "", "[HKEY_LOCAL_MACHINE\\SYSTEM\\GWE]\n\"Animate\"=\"1\"\n",
     {"HKEY_LOCAL_MACHINE\\SYSTEM\\GWE \"Animate\": absent -> \"1\"  (Animate windows:)"}},
    {"PlacesOutsideTheCatalogueHaveNoOwner",
     "[HKEY_LOCAL_MACHINE\\SYSTEM\\GWE]\n\"Other\"=dword:00000001\n@=\"old\"\n",
     "[HKEY_LOCAL_MACHINE\\SYSTEM\\GWE]\n\"Other\"=hex:01,02\n@=\"new\"\n\"Animate\"=hex(4):01,00,00,00,00\n\n"
     "[HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100\\Sub]\n\"Rotate\"=dword:00000003\n",
     {"HKEY_LOCAL_MACHINE\\SYSTEM\\GWE \"Other\": 1 -> hex(3):01,02",
      "HKEY_LOCAL_MACHINE\\SYSTEM\\GWE @: \"old\" -> \"new\"",
      // Five bytes are no DWORD: the row, but no button.
      "HKEY_LOCAL_MACHINE\\SYSTEM\\GWE \"Animate\": absent -> hex(4):01,00,00,00,00  (Animate windows:)",
      "HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100\\Sub \"Rotate\": absent -> 3"}},
    {"ValuesGoneComeLast", std::string("[HKEY_CURRENT_USER\\Software\\Zelkoran]\n\"align\"=dword:1\n\n") + kDrivers,
     "[HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100]\n\"Rotate\"=dword:00000001\n",
     {"HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100 \"Rotate\": 0 -> 1  (Display orientation:)",
      "HKEY_CURRENT_USER\\Software\\Zelkoran \"align\": 1 -> absent  (the recalibration flag)",
      "HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq120 \"Rotate\": 0 -> absent  (Display orientation:)"}},
};

class SessionChanges : public testing::TestWithParam<Case> {};

TEST_P(SessionChanges, ListedInOrder)
{
    EXPECT_EQ(Lines(GetParam().before, GetParam().after), GetParam().changes);
}

INSTANTIATE_TEST_SUITE_P(Registry, SessionChanges, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& row) { return std::string(row.param.name); });

}  // namespace
