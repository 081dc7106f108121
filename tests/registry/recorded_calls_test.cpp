// The exact registry calls of the core's operations, on the host's recording
// registry: functions, arguments and order, not only the end state.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "catalogue.h"
#include "support/device_files.h"
#include "facts.h"
#include "registry.h"
#include "registry/registry_debug.h"
#include "support/host_watch.h"
#include "registry/regfile.h"
#include "support/expected_calls.h"
#include "support/scratch.h"

namespace {

using calls::MakeFlagKey;
using calls::Join;
using calls::Probe;
using calls::Write;
using host::Lines;

// Places beside the facts' own, for what the programs never touch.
const facts::Place kAbsentValue = {HKEY_LOCAL_MACHINE, facts::kAnimate.key, L"Absent", "GWE Absent"};
const facts::Place kAbsentKey = {HKEY_LOCAL_MACHINE, L"SYSTEM\\Absent", facts::kAnimate.value, "Absent Animate"};

class RecordedCalls : public ScratchTest {
protected:
    void SetUp() override { WriteRegistryFile(kFullDevice); }
};

TEST_F(RecordedCalls, ProbeOpensForReadingAndQueriesFourBytes)
{
    host::RegistryRecorder recorder;
    EXPECT_TRUE(ProbeValue(HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE", L"Animate"));
    EXPECT_FALSE(ProbeValue(HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE", L"Absent"));
    EXPECT_FALSE(ProbeValue(HKEY_LOCAL_MACHINE, L"SYSTEM\\Absent", L"Animate"));
    EXPECT_EQ(recorder.Lines(),
              Lines(Join({Probe(facts::kAnimate, 0, 0), Probe(kAbsentValue, 0, 2), Probe(kAbsentKey, 2, 0)})));
}

TEST_F(RecordedCalls, WriteDwordOpensSetsAndClosesOrStopsAtTheOpen)
{
    host::RegistryRecorder recorder;
    WriteDword(HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE", L"Animate", 0x01020304);
    WriteDword(HKEY_LOCAL_MACHINE, L"SYSTEM\\Absent", L"Animate", 1);
    EXPECT_EQ(recorder.Lines(), Lines(Join({Write(facts::kAnimate, 0x01020304), Write(kAbsentKey, 1, false)})));
}

// With the flag's key and value, without the value, without the key.
TEST_F(RecordedCalls, EnsureFlagKeyCreatesOnlyWhenTheProbeFails)
{
    const std::pair<std::string, calls::Calls> rows[] = {
        {kFullDevice, Probe(facts::kFlag, 0, 0)},
        {kRegHead + "[HKEY_CURRENT_USER\\Software\\Zelkoran]\n",
         Join({Probe(facts::kFlag, 0, 2), MakeFlagKey()})},
        {host::reg::Write(host::reg::Empty()), Join({Probe(facts::kFlag, 2, 0), MakeFlagKey()})},
    };
    for (const auto& [file, expected] : rows) {
        WriteRegistryFile(file);
        host::RegistryRecorder recorder;
        EnsureFlagKey();
        EXPECT_EQ(recorder.Lines(), Lines(expected)) << file.substr(0, 80);
    }
}

// An id that is no settings button makes no call.
TEST_F(RecordedCalls, EachButtonMakesItsCallsInOrder)
{
    std::vector<std::pair<WORD, calls::Calls>> presses;
    for (const facts::Button& button : facts::kButtons)
        presses.push_back({button.id, calls::Writes(button)});
    for (WORD id : {facts::kSoftReset, facts::kClose, WORD(0), WORD(1026)})
        presses.push_back({id, {}});
    for (const auto& [id, expected] : presses) {
        host::RegistryRecorder recorder;
        ApplyButton(id);
        EXPECT_EQ(recorder.Lines(), Lines(expected)) << "id " << id;
    }
}

TEST_F(RecordedCalls, OrientationWithoutTheFirstDriverGoesOnToTheSecondAndTheFlag)
{
    WriteRegistryFile(
        kRegHead +
        "[HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100]\n\"Rotate\"=dword:00000000\n\n"
        "[HKEY_CURRENT_USER\\Software\\Zelkoran]\n");
    const std::vector<facts::Write>& rotate = facts::FindButton(1025)->writes;
    host::RegistryRecorder recorder;
    EXPECT_TRUE(IsRowAvailable(*FindRow(1026)));
    ApplyButton(1025);
    EXPECT_EQ(recorder.Lines(),
              Lines(Join({Probe(facts::kMq120, 2, 0), Probe(facts::kMq1100, 0, 0),
                          Write(facts::kMq120, rotate[0].value, false), Write(facts::kMq1100, rotate[1].value),
                          Write(facts::kFlag, rotate[2].value)})));
}

TEST_F(RecordedCalls, TheSecondDriverIsProbedOnlyWhenTheFirstFails)
{
    host::RegistryRecorder recorder;
    EXPECT_TRUE(IsRowAvailable(*FindRow(1026)));
    EXPECT_TRUE(IsRowAvailable(*FindRow(1015)));
    EXPECT_EQ(recorder.Lines(), Lines(Probe(facts::kMq120, 0, 0)));
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
