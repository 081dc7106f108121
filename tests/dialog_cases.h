// The settings dialog's cases: one list, run by every target's driver. The
// file that includes this defines the fixture DialogCases, which starts each
// test with a scratch registry holding none of the places' values and none
// of the keys of mq120, mq1100, GLYPHCACHE and the flag, and gives
//   FreshRegistry()   that registry again, for a case that needs several
//   Open()            starts the dialog on the registry as it is and returns
//                     once its rows are decided and it waits for the user
//                     (a fatal failure when it doesn't get there)
//   Visible()         the ids of the visible controls, in template order
//   Text(id)          a control's text; nullopt where the driver can't read it
//   Rect(id)          a control's place on the screen
//   Focus()           the id of the control with the focus
//   Hidden()          the controls hidden while the dialog opened, in the
//                     order hidden; nullopt where the driver can't see that
//   Press(id)         presses the button as a user does; its handler has run
//                     when this returns
//   TakeWayOut(way)   leaves the dialog that way (facts::kWaysOut)
//   End()             (a facts::Ending) waits for the dialog to end: whether it did, its end
//                     code and whether the restart was asked for before the
//                     end, each nullopt where the driver can't see it
//   Running()         whether the dialog is still up
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "facts.h"
#include "support/helpers.h"

namespace {

using facts::Place;

// A value no button writes, so that every write shows.
constexpr DWORD kUntouched = 0x55AA;

// Every place at kUntouched.
void EverySetting()
{
    for (const Place* at : facts::kPlaces)
        SET_PLACE(*at, Dword(kUntouched));
}

// None of the probed values: the window manager's, the shell's and the
// browser's keys exist without them; the drivers', the glyph cache's and the
// flag's keys are missing.
void NoSetting()
{
    for (const Place* at : {&facts::kAnimate, &facts::kShell, &facts::kBrowser})
        CREATE_KEY(at->hive, at->key);
}

// Every place as `expected` gives it, at the caller's line.
template <class Expected>
void ExpectPlaces(Here here, Expected expected, const std::string& after)
{
    for (const Place* at : facts::kPlaces)
        ExpectPlace_(here, *at, expected(*at), after);
}

// Every place at kUntouched but for these writes.
void ExpectWritten(Here here, const std::vector<facts::Write>& writes, const std::string& after)
{
    ExpectPlaces(here, [&](const Place& place) {
        Stored stored = Dword(kUntouched);
        for (const facts::Write& write : writes)
            if (write.at == &place)
                stored = Dword(write.value);
        return stored;
    }, after);
}

std::string Pressing(WORD id)
{
    return "pressing " + std::to_string(id);
}

// Which rows the dialog shows, with every setting, with none, and with each
// probed value alone: the rows whose probes all fail are hidden, in the
// order probed, and leave their gaps; every control keeps its text and its
// place; the focus starts on the first tab stop.
TEST_F(DialogCases, EachSetting_ShowsItsRowsAndHidesTheOthersInOrder)
{
    std::vector<std::pair<std::string, std::vector<const Place*>>> seedings = {
        {"every setting", {std::begin(facts::kPlaces), std::end(facts::kPlaces)}}, {"no setting", {}}};
    for (const facts::Row& row : facts::kProbedRows)
        for (const Place* probe : row.probes)
            seedings.push_back({probe->name, {probe}});
    std::map<int, RECT> places;  // where each control is with every setting
    for (const auto& [what, set] : seedings) {
        SCOPED_TRACE(what);
        FreshRegistry();
        STOP_ON_FAILURE(NoSetting());
        for (const Place* at : set)
            SET_PLACE(*at, Dword(kUntouched));
        ASSERT_NO_FATAL_FAILURE(Open());
        std::vector<const facts::Row*> hidden;
        std::vector<int> hides;
        for (const facts::Row& row : facts::kProbedRows)
            if (std::find_first_of(row.probes.begin(), row.probes.end(), set.begin(), set.end()) ==
                row.probes.end()) {
                hidden.push_back(&row);
                hides.insert(hides.end(), row.hides.begin(), row.hides.end());
            }
        EXPECT_EQ(facts::ShownWithout(hidden), Visible());
        EXPECT_EQ(hides, Hidden().value_or(hides));
        EXPECT_EQ(facts::kSoftReset, Focus());  // the first tab stop
        for (const facts::Control& control : facts::kControls)
            EXPECT_EQ(std::wstring(control.text), Text(control.id).value_or(control.text)) << "control " << control.id;
        for (int id : Visible()) {
            const RECT now = Rect(id), was = places.emplace(id, now).first->second;
            EXPECT_TRUE(now.left == was.left && now.top == was.top && now.right == was.right &&
                        now.bottom == was.bottom)
                << "control " << id << " moved";
        }
        TakeWayOut(facts::WayOut::Close);
        ASSERT_TRUE(End().ended);
    }
}

// What each press writes.

TEST_F(DialogCases, EveryButton_WritesItsValuesAtOnceEachTimeAndNothingElse)
{
    STOP_ON_FAILURE(EverySetting());
    ASSERT_NO_FATAL_FAILURE(Open());
    for (const facts::Button& button : facts::kButtons)
        for (int time = 1; time <= 2; ++time) {
            STOP_ON_FAILURE(EverySetting());
            ASSERT_NO_FATAL_FAILURE(Press(button.id));
            ExpectWritten(HERE, button.writes, Pressing(button.id) + " time " + std::to_string(time));
            EXPECT_TRUE(Running()) << "after " << Pressing(button.id);
            EXPECT_EQ(facts::ShownWithout({}), Visible()) << "after " << Pressing(button.id);
        }
}

// A device with only the mq1100 driver: its row shows; every button shown
// writes where its key exists, and a missing key is skipped, never made.
TEST_F(DialogCases, MissingKeys_AreSkippedAndNeverCreated)
{
    SET_PLACE(facts::kMq1100, Dword(kUntouched));
    ASSERT_NO_FATAL_FAILURE(Open());
    const std::vector<int> visible = Visible();
    const std::vector<facts::Row>& rows = facts::kProbedRows;  // all but the display's hidden
    EXPECT_EQ(facts::ShownWithout({&rows[0], &rows[1], &rows[2], &rows[3]}), visible);

    std::map<const Place*, Stored> now;
    for (const Place* at : facts::kPlaces)
        now[at] = at == &facts::kMq1100 ? Dword(kUntouched) : Absent();
    for (const facts::Button& button : facts::kButtons) {
        if (std::find(visible.begin(), visible.end(), button.id) == visible.end())
            continue;
        ASSERT_NO_FATAL_FAILURE(Press(button.id));
        for (const facts::Write& write : button.writes)
            if (write.at == &facts::kMq1100 || write.at == &facts::kFlag)
                now[write.at] = Dword(write.value);
        ExpectPlaces(HERE, [&](const Place& at) { return now[&at]; }, Pressing(button.id));
        EXPECT_FALSE(KeyExists(facts::kMq120)) << "after " << Pressing(button.id);
        EXPECT_FALSE(KeyExists(facts::kGlyph)) << "after " << Pressing(button.id);
    }
}

// The program's own key.

TEST_F(DialogCases, FirstOpen_CreatesTheOwnKeyButNoFlag)
{
    STOP_ON_FAILURE(NoSetting());
    ASSERT_FALSE(KeyExists(facts::kFlag));
    for (int open = 1; open <= 2; ++open) {
        ASSERT_NO_FATAL_FAILURE(Open());
        EXPECT_TRUE(KeyExists(facts::kFlag)) << "open " << open;
        EXPECT_PLACE(facts::kFlag, Absent(), "opening");
        TakeWayOut(facts::WayOut::Close);
        EXPECT_TRUE(End().ended);
        EXPECT_PLACE(facts::kFlag, Absent(), "closing");
    }
}

// Every way out ends the dialog through OnOK, writes nothing, and only soft
// reset asks for the restart, before the end; where the device restarts, the
// program stops at that call instead.
TEST_F(DialogCases, EveryWayOut_EndsTheDialogAndWritesNothing)
{
    for (const facts::Way& way : facts::kWaysOut)
        for (DWORD flag : {facts::kFlagCleared, facts::kFlagSet}) {
            SCOPED_TRACE(std::string(way.name) + ", flag " + std::to_string(flag));
            FreshRegistry();
            STOP_ON_FAILURE(EverySetting());
            SET_PLACE(facts::kFlag, Dword(flag));
            ASSERT_NO_FATAL_FAILURE(Open());
            ASSERT_NO_FATAL_FAILURE(TakeWayOut(way.way));
            const facts::Ending ending = End();
            EXPECT_TRUE(ending.ended);
            EXPECT_EQ(facts::kEndCode, ending.code.value_or(facts::kEndCode));
            const bool restart = way.way == facts::WayOut::SoftReset;
            EXPECT_EQ(restart, ending.restartFirst.value_or(restart));
            EXPECT_TRUE(restart || !ending.stoppedAtRestart);
            ExpectWritten(HERE, {{&facts::kFlag, flag}}, way.name);
        }
}

}  // namespace
