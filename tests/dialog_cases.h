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
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "facts.h"
#include "registry/helpers.h"

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

// The controls shown when every probed row but `shown` is hidden.
std::vector<int> ShownWithOnly(const facts::Row* shown)
{
    std::vector<const facts::Row*> hidden;
    for (const facts::Row& row : facts::kProbedRows)
        if (&row != shown)
            hidden.push_back(&row);
    return facts::ShownWithout(hidden);
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

// Which rows the dialog shows.

TEST_F(DialogCases, EverySetting_ShowsEveryControlWithItsTextAndHidesNothing)
{
    STOP_ON_FAILURE(EverySetting());
    ASSERT_NO_FATAL_FAILURE(Open());
    EXPECT_EQ(facts::AllControls(), Visible());
    if (std::optional<std::vector<int>> hidden = Hidden()) {
        EXPECT_EQ(std::vector<int>{}, *hidden);
    }
    for (const facts::Control& control : facts::kControls)
        if (std::optional<std::wstring> text = Text(control.id)) {
            EXPECT_EQ(std::wstring(control.text), *text) << "control " << control.id;
        }
    EXPECT_EQ(facts::kFirstFocus, Focus());
}

TEST_F(DialogCases, NoProbedValue_HidesEveryProbedRowInOrderAndLeavesTheGaps)
{
    STOP_ON_FAILURE(NoSetting());
    ASSERT_NO_FATAL_FAILURE(Open());
    EXPECT_EQ(ShownWithOnly(nullptr), Visible());
    if (std::optional<std::vector<int>> hidden = Hidden()) {
        std::vector<int> inOrder;
        for (const facts::Row& row : facts::kProbedRows)
            inOrder.insert(inOrder.end(), row.hides.begin(), row.hides.end());
        EXPECT_EQ(inOrder, *hidden);
    }
    EXPECT_EQ(facts::kFirstFocus, Focus());
    std::vector<RECT> places;
    for (int id : Visible())
        places.push_back(Rect(id));
    TakeWayOut(facts::WayOut::Close);
    ASSERT_TRUE(End().ended);

    // Nothing moved up into a hidden row's place.
    STOP_ON_FAILURE(EverySetting());
    ASSERT_NO_FATAL_FAILURE(Open());
    const std::vector<int> shown = ShownWithOnly(nullptr);
    for (size_t i = 0; i < shown.size() && i < places.size(); ++i) {
        const RECT now = Rect(shown[i]);
        EXPECT_TRUE(now.left == places[i].left && now.top == places[i].top && now.right == places[i].right &&
                    now.bottom == places[i].bottom)
            << "control " << shown[i] << " moved";
    }
}

TEST_F(DialogCases, OneProbedValue_ShowsItsRowBesideTheAlwaysShown)
{
    for (const facts::Row& row : facts::kProbedRows)
        for (const Place* probe : row.probes) {
            SCOPED_TRACE(probe->name);
            FreshRegistry();
            STOP_ON_FAILURE(NoSetting());
            SET_PLACE(*probe, Dword(kUntouched));
            ASSERT_NO_FATAL_FAILURE(Open());
            EXPECT_EQ(ShownWithOnly(&row), Visible());
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
            EXPECT_EQ(facts::AllControls(), Visible()) << "after " << Pressing(button.id);
        }
}

TEST_F(DialogCases, TheLastPressWins)
{
    STOP_ON_FAILURE(EverySetting());
    ASSERT_NO_FATAL_FAILURE(Open());
    Press(1014);
    Press(1013);
    ExpectWritten(HERE, facts::FindButton(1013)->writes, "on, then off*");
}

// A device with only the mq1100 driver: its row shows; every button shown
// writes where its key exists, and a missing key is skipped, never made.
TEST_F(DialogCases, MissingKeys_AreSkippedAndNeverCreated)
{
    SET_PLACE(facts::kMq1100, Dword(kUntouched));
    ASSERT_NO_FATAL_FAILURE(Open());
    const std::vector<int> visible = Visible();
    EXPECT_EQ(ShownWithOnly(&facts::kProbedRows.back()), visible);

    std::vector<std::pair<const Place*, Stored>> now;
    for (const Place* at : facts::kPlaces)
        now.push_back({at, at == &facts::kMq1100 ? Dword(kUntouched) : Absent()});
    for (const facts::Button& button : facts::kButtons) {
        if (std::find(visible.begin(), visible.end(), button.id) == visible.end())
            continue;
        ASSERT_NO_FATAL_FAILURE(Press(button.id));
        for (const facts::Write& write : button.writes)
            for (auto& place : now)
                if (place.first == write.at && (write.at == &facts::kMq1100 || write.at == &facts::kFlag))
                    place.second = Dword(write.value);
        ExpectPlaces(HERE, [&](const Place& at) {
            for (const auto& place : now)
                if (place.first == &at)
                    return place.second;
            return Absent();
        }, Pressing(button.id));
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
// reset asks for the restart, before the end.
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
            EXPECT_FALSE(Running());
            if (ending.code) {
                EXPECT_EQ(facts::kEndCode, *ending.code);
            }
            if (ending.restartFirst) {
                EXPECT_EQ(way.way == facts::WayOut::SoftReset, *ending.restartFirst);
            }
            ExpectPlaces(HERE, [&](const Place& at) {
                return Dword(&at == &facts::kFlag ? flag : kUntouched);
            }, way.name);
        }
}

}  // namespace
