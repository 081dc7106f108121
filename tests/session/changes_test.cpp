// The session's list of registry changes: which values count as changed, how
// they read, and the row and button each belongs to.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "changes.h"
#include "registry/reg_text.h"

namespace reg = host::reg;

namespace {

reg::Document Doc(const std::string& body)
{
    return ParseReg(kRegHead + body);
}

std::vector<std::string> Lines(const std::string& before, const std::string& after)
{
    std::vector<std::string> lines;
    for (const session::Change& change : session::Compare(Doc(before), Doc(after)))
        lines.push_back(session::Describe(change));
    return lines;
}

using Lines_ = std::vector<std::string>;

const char kDrivers[] =
    "[HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq120]\n\"Rotate\"=dword:00000000\n\n"
    "[HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100]\n\"Rotate\"=dword:00000000\n\n";

TEST(SessionChanges, NothingChangedIsAnEmptyList)
{
    EXPECT_EQ(Lines(kDrivers, kDrivers), Lines_{});
    // A new key without values, and another layout of the same values, change no value.
    EXPECT_EQ(Lines(kDrivers, std::string("[HKEY_CURRENT_USER\\Software\\Zelkoran]\n\n") +
                                  "[HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100]\n"
                                  "\"rotate\"=dword:0\n\n"
                                  "[HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq120]\n"
                                  "\"Rotate\"=dword:00000000\n"),
              Lines_{});
}

TEST(SessionChanges, RotationReadsAsTheButtonThatWroteIt)
{
    const std::string after =
        "[HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq120]\n\"Rotate\"=dword:00000001\n\n"
        "[HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100]\n\"Rotate\"=dword:00000003\n\n"
        "[HKEY_CURRENT_USER\\Software\\Zelkoran]\n\"align\"=dword:00000001\n";
    EXPECT_EQ(Lines(kDrivers, after),
              (Lines_{
                  "HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq120 \"Rotate\": 0 -> 1  "
                  "(Display orientation: \"rotate\")",
                  "HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100 \"Rotate\": 0 -> 3  "
                  "(Display orientation: \"rotate\")",
                  "HKEY_CURRENT_USER\\Software\\Zelkoran \"align\": absent -> 1  "
                  "(the recalibration flag)",
              }));
    // And back: the default button.
    EXPECT_EQ(Lines(after, kDrivers + std::string("[HKEY_CURRENT_USER\\Software\\Zelkoran]\n"
                                                  "\"align\"=dword:00000000\n"))[1],
              "HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100 \"Rotate\": 3 -> 0  "
              "(Display orientation: \"reg*\")");
}

TEST(SessionChanges, EveryRowIsKnownByItsPlaceWhateverTheCase)
{
    const std::string before =
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\GDI\\GLYPHCACHE]\n\"limit\"=dword:00004000\n\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\GWE]\n\"Animate\"=dword:00000000\n\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\MICROSOFT\\SHELL]\n\"Cleartype\"=dword:00000000\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings]\n"
        "\"ClearTypeText\"=dword:00000000\n\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\GWE\\Menu]\n\"Anitype\"=dword:00000006\n";
    const std::string after =
        "[hkey_local_machine\\system\\gdi\\glyphcache]\n\"LIMIT\"=dword:00001000\n\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\GWE]\n\"Animate\"=dword:00000001\n\n"
        "[HKEY_CURRENT_USER\\Software\\Microsoft\\Shell]\n\"cleartype\"=dword:00000001\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings]\n"
        "\"ClearTypeText\"=dword:00000001\n\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\GWE\\Menu]\n\"Anitype\"=dword:00000000\n";
    EXPECT_EQ(Lines(before, after),
              (Lines_{
                  "hkey_local_machine\\system\\gdi\\glyphcache \"LIMIT\": 16384 -> 4096  "
                  "(Speed up display: \"slow (save RAM)\")",
                  "HKEY_LOCAL_MACHINE\\SYSTEM\\GWE \"Animate\": 0 -> 1  (Animate windows: \"slow\")",
                  "HKEY_CURRENT_USER\\Software\\Microsoft\\Shell \"cleartype\": 0 -> 1  "
                  "(Cleartype [win]: \"on\")",
                  "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet "
                  "Settings \"ClearTypeText\": 0 -> 1  (Cleartype [ie]: \"on\")",
                  "HKEY_LOCAL_MACHINE\\SYSTEM\\GWE\\Menu \"Anitype\": 6 -> 0  "
                  "(Start Menu speed: \"fast\")",
              }));
}

TEST(SessionChanges, ValuesNoButtonWritesNameOnlyTheRow)
{
    EXPECT_EQ(Lines("[HKEY_LOCAL_MACHINE\\SYSTEM\\GWE\\Menu]\n\"Anitype\"=dword:00000006\n",
                    "[HKEY_LOCAL_MACHINE\\SYSTEM\\GWE\\Menu]\n\"Anitype\"=dword:00000002\n"),
              Lines_{"HKEY_LOCAL_MACHINE\\SYSTEM\\GWE\\Menu \"Anitype\": 6 -> 2  (Start Menu speed:)"});
    // A string where the row's DWORD belongs.
    EXPECT_EQ(Lines("", "[HKEY_LOCAL_MACHINE\\SYSTEM\\GWE]\n\"Animate\"=\"1\"\n"),
              Lines_{"HKEY_LOCAL_MACHINE\\SYSTEM\\GWE \"Animate\": absent -> \"1\"  (Animate windows:)"});
}

TEST(SessionChanges, PlacesOutsideTheCatalogueHaveNoOwner)
{
    EXPECT_EQ(Lines("[HKEY_LOCAL_MACHINE\\SYSTEM\\GWE]\n\"Other\"=dword:00000001\n"
                    "@=\"old\"\n",
                    "[HKEY_LOCAL_MACHINE\\SYSTEM\\GWE]\n\"Other\"=hex:01,02\n"
                    "@=\"new\"\n"
                    "\"Animate\"=hex(4):01,00,00,00,00\n\n"
                    "[HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100\\Sub]\n"
                    "\"Rotate\"=dword:00000003\n"),
              (Lines_{
                  "HKEY_LOCAL_MACHINE\\SYSTEM\\GWE \"Other\": 1 -> hex(3):01,02",
                  "HKEY_LOCAL_MACHINE\\SYSTEM\\GWE @: \"old\" -> \"new\"",
                  // Five bytes are no DWORD: the row, but no button.
                  "HKEY_LOCAL_MACHINE\\SYSTEM\\GWE \"Animate\": absent -> hex(4):01,00,00,00,00  "
                  "(Animate windows:)",
                  "HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100\\Sub \"Rotate\": absent -> 3",
              }));
}

TEST(SessionChanges, ValuesGoneComeLast)
{
    EXPECT_EQ(Lines(std::string("[HKEY_CURRENT_USER\\Software\\Zelkoran]\n\"align\"=dword:1\n\n") +
                        kDrivers,
                    "[HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100]\n\"Rotate\"=dword:00000001\n"),
              (Lines_{
                  "HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100 \"Rotate\": 0 -> 1  "
                  "(Display orientation:)",
                  "HKEY_CURRENT_USER\\Software\\Zelkoran \"align\": 1 -> absent  "
                  "(the recalibration flag)",
                  "HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq120 \"Rotate\": 0 -> absent  "
                  "(Display orientation:)",
              }));
}

}  // namespace
