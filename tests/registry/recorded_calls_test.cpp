// The exact registry calls of the core's operations, on the host's recording
// registry: functions, arguments and order, not only the end state.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "catalogue.h"
#include "device_files.h"
#include "facts.h"
#include "registry.h"
#include "registry_debug.h"
#include "host_watch.h"
#include "regfile.h"
#include "registry/helpers.h"
#include "scratch.h"

namespace {

using Lines = std::vector<std::string>;

const char* const HKLM = "HKEY_LOCAL_MACHINE";
const char* const HKCU = "HKEY_CURRENT_USER";

std::string Open(const char* hive, const std::string& key, LONG result, int handle)
{
    std::string line = "RegOpenKeyExW(" + std::string(hive) + ", \"" + key + "\", 0, 0x20019) = " +
                       std::to_string(result);
    return result == ERROR_SUCCESS ? line + " -> h" + std::to_string(handle) : line;
}

std::string Close(int handle)
{
    return "RegCloseKey(h" + std::to_string(handle) + ") = 0";
}

Lines Probe(const char* hive, const std::string& key, const std::string& name, LONG open,
            LONG query, int handle)
{
    if (open != ERROR_SUCCESS)
        return {Open(hive, key, open, handle)};
    return {Open(hive, key, open, handle),
            "RegQueryValueExW(h" + std::to_string(handle) + ", \"" + name +
                "\", NULL, &type, data, 4) = " + std::to_string(query),
            Close(handle)};
}

Lines Write(const char* hive, const std::string& key, const std::string& name, DWORD value,
            int handle, bool keyPresent = true)
{
    if (!keyPresent)
        return {Open(hive, key, ERROR_FILE_NOT_FOUND, handle)};
    char bytes[32];
    snprintf(bytes, sizeof bytes, "[%02x %02x %02x %02x]", value & 0xff, (value >> 8) & 0xff,
             (value >> 16) & 0xff, value >> 24);
    return {Open(hive, key, ERROR_SUCCESS, handle),
            "RegSetValueExW(h" + std::to_string(handle) + ", \"" + name + "\", 0, REG_DWORD, " +
                bytes + ", 4) = 0",
            Close(handle)};
}

// The flag's key created, the path as the program spells it.
Lines CreateFlagKey(int handle)
{
    return {"RegCreateKeyExW(HKEY_CURRENT_USER, \"Software\\Zelkoran\", 0, NULL, 0, 0x0, NULL, &key, "
            "&disposition) = 0 -> h" + std::to_string(handle),
            Close(handle)};
}

Lines Join(std::initializer_list<Lines> parts)
{
    Lines all;
    for (const Lines& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

const char* HiveName(HKEY hive)
{
    return hive == HKEY_CURRENT_USER ? HKCU : HKLM;
}

// A button's writes as facts give them, each through a key of its own.
Lines Writes(const facts::Button& button)
{
    Lines lines;
    int handle = 0;
    for (const facts::Write& write : button.writes) {
        const facts::Place& at = *write.at;
        const Lines one = Write(HiveName(at.hive), Narrow(at.key), Narrow(at.value), write.value, ++handle);
        lines.insert(lines.end(), one.begin(), one.end());
    }
    return lines;
}

const std::string kMq120 = Narrow(facts::kMq120.key);
const std::string kMq1100 = Narrow(facts::kMq1100.key);
const std::string kFlagKey = Narrow(facts::kFlag.key);
const std::string kGwe = Narrow(facts::kAnimate.key);

class RecordedCalls : public testing::Test {
protected:
    void SetUp() override { WriteRegistryFile(kFullDevice); }

    ScratchRegistry scratch_;
};

TEST_F(RecordedCalls, ProbeOpensForReadingAndQueriesFourBytes)
{
    host::RegistryRecorder recorder;
    EXPECT_TRUE(ProbeValue(HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE", L"Animate"));
    EXPECT_FALSE(ProbeValue(HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE", L"Absent"));
    EXPECT_FALSE(ProbeValue(HKEY_LOCAL_MACHINE, L"SYSTEM\\Absent", L"Animate"));
    EXPECT_EQ(recorder.Lines(),
              Join({Probe(HKLM, kGwe, "Animate", 0, 0, 1), Probe(HKLM, kGwe, "Absent", 0, 2, 2),
                    Probe(HKLM, "SYSTEM\\Absent", "Animate", 2, 0, 3)}));

    const host::RegCall& query = recorder.Calls()[1];
    EXPECT_FALSE(query.reservedGiven);
    EXPECT_TRUE(query.typeGiven && query.dataGiven && query.sizeGiven);
    EXPECT_EQ(query.size, 4u);
}

TEST_F(RecordedCalls, WriteDwordOpensSetsAndClosesOrStopsAtTheOpen)
{
    host::RegistryRecorder recorder;
    WriteDword(HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE", L"Animate", 0x01020304);
    WriteDword(HKEY_LOCAL_MACHINE, L"SYSTEM\\Absent", L"Animate", 1);
    EXPECT_EQ(recorder.Lines(), Join({Write(HKLM, kGwe, "Animate", 0x01020304, 1),
                                      Write(HKLM, "SYSTEM\\Absent", "Animate", 1, 2, false)}));
}

TEST_F(RecordedCalls, EnsureFlagKeyCreatesOnlyWhenTheProbeFails)
{
    host::RegistryRecorder recorder;
    EnsureFlagKey();
    EXPECT_EQ(recorder.Lines(), Probe(HKCU, kFlagKey, "align", 0, 0, 1));

    WriteRegistryFile("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Zelkoran]\n");
    recorder.Clear();
    EnsureFlagKey();
    EXPECT_EQ(recorder.Lines(),
              Join({Probe(HKCU, kFlagKey, "align", 0, 2, 1), CreateFlagKey(2)}));

    WriteRegistryFile(host::reg::Write(host::reg::Empty()));
    recorder.Clear();
    EnsureFlagKey();
    EXPECT_EQ(recorder.Lines(),
              Join({Probe(HKCU, kFlagKey, "align", 2, 0, 1), CreateFlagKey(1)}));
}

TEST_F(RecordedCalls, EachButtonMakesItsCallsInOrder)
{
    for (const facts::Button& button : facts::kButtons) {
        host::RegistryRecorder recorder;
        ApplyButton(button.id);
        EXPECT_EQ(recorder.Lines(), Writes(button)) << "button " << button.id;
    }
    for (WORD id : {facts::kSoftReset, facts::kClose, WORD(0), WORD(1026)}) {
        host::RegistryRecorder recorder;
        ApplyButton(id);
        EXPECT_EQ(recorder.Lines(), Lines{}) << "id " << id;
    }
}

TEST_F(RecordedCalls, OrientationWithoutTheFirstDriverGoesOnToTheSecondAndTheFlag)
{
    WriteRegistryFile(
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100]\n\"Rotate\"=dword:00000000\n\n"
        "[HKEY_CURRENT_USER\\Software\\Zelkoran]\n");
    const std::vector<facts::Write>& rotate = facts::FindButton(1025)->writes;
    host::RegistryRecorder recorder;
    EXPECT_TRUE(IsRowAvailable(*FindRow(1026)));
    ApplyButton(1025);
    EXPECT_EQ(recorder.Lines(),
              Join({Probe(HKLM, kMq120, "Rotate", 2, 0, 0), Probe(HKLM, kMq1100, "Rotate", 0, 0, 1),
                    Write(HKLM, kMq120, "Rotate", rotate[0].value, 0, false),
                    Write(HKLM, kMq1100, "Rotate", rotate[1].value, 2),
                    Write(HKCU, kFlagKey, "align", rotate[2].value, 3)}));
}

TEST_F(RecordedCalls, TheSecondDriverIsProbedOnlyWhenTheFirstFails)
{
    host::RegistryRecorder recorder;
    EXPECT_TRUE(IsRowAvailable(*FindRow(1026)));
    EXPECT_TRUE(IsRowAvailable(*FindRow(1015)));
    EXPECT_EQ(recorder.Lines(), Probe(HKLM, kMq120, "Rotate", 0, 0, 1));
}

TEST_F(RecordedCalls, ClosedHandlesAreNotGivenOutAgain)
{
    RecordProperty("handle_misuse", "deliberate");
    HKEY first, second;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE", 0, KEY_READ, &first), ERROR_SUCCESS);
    EXPECT_EQ(host::OpenKeyCount(), 1u);
    ASSERT_EQ(RegCloseKey(first), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE", 0, KEY_READ, &second), ERROR_SUCCESS);
    EXPECT_NE(first, second);
    EXPECT_EQ(RegCloseKey(first), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(second), ERROR_SUCCESS);
}

}  // namespace
