// The cases of the dialog on the host's terminal (terminal_driver.h), after
// dialog_cases.h: what only a driver that records the opening's calls and
// types on the terminal shows. Every open asks for 0x20019, on the host as
// on the handheld.
#pragma once

#include <string>
#include <vector>

#include "support/expected_calls.h"

namespace {

// The opening's calls in order: the icon, the dialog asked for, centring,
// the own key, then each row's probes, each followed by its hides when all
// its probes failed.
TEST_F(DialogCases, Terminal_TheOpeningCallsInOrder)
{
    STOP_ON_FAILURE(NoSetting());
    SET_PLACE(facts::kMq1100, Dword(kUntouched));
    std::vector<bool> keyExisted;
    for (const facts::Row& row : facts::kProbedRows)
        for (const facts::Place* probe : row.probes)
            keyExisted.push_back(KeyExists(*probe));
    ASSERT_NO_FATAL_FAILURE(Open());

    // The registry's calls go through one formatter, which names their
    // handles in order; the USER calls between them are lines of their own.
    host::CallLines format;
    std::vector<std::string> expected = {
        "LoadIconW 128",
        "DialogBoxIndirectParamW 0",
        "SendMessageW dialog WM_SETICON 1",
        "SendMessageW dialog WM_SETICON 0",
        "SetWindowPos dialog 6 5",  // centred on 80 x 24
    };
    auto expect = [&](const calls::Calls& some) {
        for (const host::RegCall& call : some)
            expected.push_back(format.Line(call));
    };
    expect(calls::Join({calls::Probe(facts::kFlag, ERROR_FILE_NOT_FOUND, 0), calls::MakeFlagKey()}));
    size_t probeIndex = 0;
    for (const facts::Row& row : facts::kProbedRows) {
        bool found = false;
        for (const facts::Place* probe : row.probes) {
            const bool keyExists = keyExisted[probeIndex++];
            found = keyExists && probe == &facts::kMq1100;
            expect(calls::Probe(*probe, keyExists ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND,
                                found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND));
            if (found)
                break;
        }
        if (!found)
            for (int id : row.hides) {
                expected.push_back("GetDlgItem " + std::to_string(id));
                expected.push_back("ShowWindow " + std::to_string(id) + " 0");
            }
    }
    EXPECT_EQ(expected, opening_);
}

// Each press's registry calls exactly, on a device that has every key: per
// write, the key opened asking 0x20019, 4 bytes set, the key closed.
TEST_F(DialogCases, Terminal_EachPressMakesItsCallsInOrder)
{
    STOP_ON_FAILURE(EverySetting());
    ASSERT_NO_FATAL_FAILURE(Open());
    for (const facts::Button& button : facts::kButtons) {
        host::RegistryRecorder recorder;
        Press(button.id);
        EXPECT_EQ(host::Lines(calls::Writes(button)), recorder.Lines()) << "after pressing " << button.id;
    }
}

// The terminal's own ways to the same ends: mnemonics, the keyboard's focus,
// and input that closes; a refused restart still ends the dialog, and where
// the device restarts the program stops at the call.
TEST_F(DialogCases, Terminal_KeysAndClosedInputEndAsTheWaysOutDo)
{
    const struct {
        const char* name;
        std::vector<host::InputEvent> keys;
        bool restart;
        bool refused = false;  // the restart's request can't be written: a folder is in its place
    } ways[] = {
        {"c", {host::InputEvent::Press('c')}, false},
        {"Alt+C", {host::InputEvent::Press('C', true)}, false},
        {"Tab, Enter", {host::InputEvent::Press(host::kKeyTab), host::InputEvent::Press(host::kKeyEnter)}, false},
        {"Tab, Space", {host::InputEvent::Press(host::kKeyTab), host::InputEvent::Press(host::kKeySpace)}, false},
        {"input closed", {host::InputEvent::Closed()}, false},
        {"Enter on the first focus", {host::InputEvent::Press(host::kKeyEnter)}, true},
        {"r", {host::InputEvent::Press('r')}, true},
        {"Alt+R", {host::InputEvent::Press('R', true)}, true},
        {"r, the restart refused", {host::InputEvent::Press('r')}, true, true},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        FreshRegistry();
        if (way.refused)
            std::filesystem::create_directories(host::DeviceRoot() + "/restart-requested");
        STOP_ON_FAILURE(EverySetting());
        ASSERT_NO_FATAL_FAILURE(Open());
        for (const host::InputEvent& key : way.keys)
            Send(key);
        const facts::Ending ending = End();
        const bool stops = way.restart && !way.refused && ResetStops();
        EXPECT_EQ(stops, ending.stoppedAtRestart);
        EXPECT_EQ(stops ? -1 : facts::kEndCode, ending.code.value_or(-1));
        EXPECT_EQ(way.restart, ending.restartFirst.value_or(!way.restart));
        ExpectWritten(HERE, {}, way.name);
    }
}

}  // namespace
