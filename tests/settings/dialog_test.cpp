// The settings dialog as the program runs it, on a scripted terminal over a
// scratch device: what it hides for which registry, in which order it asks,
// what every button writes, and how every way out ends.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "dialog.h"
#include "host_watch.h"
#include "registry_record.h"
#include "restart.h"
#include "resource.h"
#include "scratch_device.h"
#include "scripted_terminal.h"

namespace {

const char kGwe[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\GWE";
const char kMenu[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\GWE\\Menu";
const char kGlyph[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\GDI\\GLYPHCACHE";
const char kShell[] = "HKEY_CURRENT_USER\\SOFTWARE\\MICROSOFT\\SHELL";
const char kBrowser[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const char kMq120[] = "HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq120";
const char kMq1100[] = "HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100";
const char kOwn[] = "HKEY_CURRENT_USER\\Software\\Zelkoran";

// Every key the settings live in, but none of the probed values.
const char kNoProbedValues[] =
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\GWE]\n\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\GWE\\Menu]\n\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\GDI\\GLYPHCACHE]\n\"limit\"=dword:00004000\n\n"
    "[HKEY_CURRENT_USER\\SOFTWARE\\MICROSOFT\\SHELL]\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings]\n\n"
    "[HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq120]\n\n"
    "[HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100]\n\n";

const char kOnlyMq1100[] =
    "[HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100]\n\"Rotate\"=dword:00000000\n\n";

const char kEverything[] =
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\GWE]\n\"Animate\"=dword:00000000\n\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\GWE\\Menu]\n\"Anitype\"=dword:00000006\n\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\GDI\\GLYPHCACHE]\n\"limit\"=dword:00004000\n\n"
    "[HKEY_CURRENT_USER\\SOFTWARE\\MICROSOFT\\SHELL]\n\"Cleartype\"=dword:00000000\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings]\n"
    "\"ClearTypeText\"=dword:00000000\n\n"
    "[HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq120]\n\"Rotate\"=dword:00000000\n\n"
    "[HKEY_LOCAL_MACHINE\\Drivers\\Display\\mq1100]\n\"Rotate\"=dword:00000000\n\n"
    "[HKEY_CURRENT_USER\\Software\\Zelkoran]\n\"align\"=dword:00000000\n\n";

const std::vector<int> kAllControls = {1015, 1004, 1006, 1012, 1016, 1017, 1007, 1008,
                                       1009, 1010, 1011, 1018, 1019, 1020, 1013, 1014,
                                       1021, 1022, 1023, 1024, 1025, 1026, 1027};

// Registry and USER calls in the order they were made, as text.
class CallLog {
public:
    CallLog() { Resume(); }
    ~CallLog() { host::WatchUserCalls(nullptr); }

    const std::vector<std::string>& Lines()
    {
        Catch();
        return lines_;
    }

    void Resume()
    {
        host::WatchUserCalls([this](const std::string& call) {
            Catch();
            lines_.push_back(call);
        });
    }

private:
    void Catch()
    {
        std::vector<std::string> registry = recorder_.Lines();
        for (; seen_ < registry.size(); ++seen_)
            lines_.push_back(registry[seen_]);
    }

    host::RegistryRecorder recorder_;
    std::vector<std::string> lines_;
    size_t seen_ = 0;
};

// Runs the dialog as the program does, with `script`. Keeps the end code,
// the calls made until the first input (construction and OnInitDialog), the
// calls after it, and what was visible and focused when input began.
struct DialogRun {
    INT_PTR result = 0;
    std::vector<std::string> opening;
    std::vector<std::string> calls;
    std::vector<int> visible;
    int focus = 0;
    int flashes = 0;
};

DialogRun RunDialog(std::vector<host::InputEvent> script)
{
    DialogRun run;
    CallLog log;
    ScriptedTerminal terminal(std::move(script));
    size_t openingEnd = 0;
    terminal.beforeEach = [&](size_t index) {
        if (index != 0)
            return;
        run.opening = log.Lines();
        run.focus = GetDlgCtrlID(GetFocus());
        host::WatchUserCalls(nullptr);
        run.visible = VisibleControls(kAllControls);
        log.Resume();
        openingEnd = log.Lines().size();
    };
    {
        CVelloriaDlg dialog;
        run.result = dialog.DoModal();
    }
    const std::vector<std::string>& all = log.Lines();
    run.calls.assign(all.begin() + std::min(openingEnd, all.size()), all.end());
    run.flashes = int(terminal.flashes.size());
    return run;
}

// The tab stops in template order: every button.
const std::vector<int> kTabOrder = {1004, 1006, 1016, 1017, 1007, 1008, 1009, 1010,
                                    1011, 1013, 1014, 1022, 1023, 1025, 1027};

// Presses the button with this id by tabbing to it from the first one.
std::vector<host::InputEvent> PressByTab(int id)
{
    std::vector<host::InputEvent> keys;
    for (int stop : kTabOrder) {
        if (stop == id)
            break;
        keys.push_back(Key(host::kKeyTab));
    }
    keys.push_back(Key(host::kKeyEnter));
    return keys;
}

std::vector<std::string> Matching(const std::vector<std::string>& lines, const std::string& part)
{
    std::vector<std::string> found;
    for (const std::string& line : lines)
        if (line.find(part) != std::string::npos)
            found.push_back(line);
    return found;
}

// The dialog's opening: icon lookup, icons, centring, the own key, then
// each probe with its hides in the fixed order.
TEST(DialogOpening, NoProbedValuesHidesFiveRowsInOrder)
{
    ScratchDevice device(kNoProbedValues);
    DialogRun run = RunDialog({Key(host::kKeyEscape)});

    const std::vector<std::string> expected = {
        "LoadIconW 128",
        "SendMessageW dialog WM_SETICON 1",
        "SendMessageW dialog WM_SETICON 0",
        "SetWindowPos dialog 6 5",  // (80 - 68) / 2, 24 / 2 - 15 / 2
        R"(RegOpenKeyExW(HKEY_CURRENT_USER, "SOFTWARE\Zelkoran", 0, 0x20019) = 2)",
        R"(RegCreateKeyExW(HKEY_CURRENT_USER, "Software\Zelkoran", 0, NULL, 0, 0x0, NULL, &key, &disposition) = 0 -> h1)",
        R"(RegCloseKey(h1) = 0)",
        R"(RegOpenKeyExW(HKEY_LOCAL_MACHINE, "SYSTEM\GWE", 0, 0x20019) = 0 -> h2)",
        R"(RegQueryValueExW(h2, "Animate", NULL, &type, data, 4) = 2)",
        R"(RegCloseKey(h2) = 0)",
        "GetDlgItem 1018", "ShowWindow 1018 0",
        "GetDlgItem 1008", "ShowWindow 1008 0",
        "GetDlgItem 1009", "ShowWindow 1009 0",
        R"(RegOpenKeyExW(HKEY_CURRENT_USER, "SOFTWARE\MICROSOFT\SHELL", 0, 0x20019) = 0 -> h3)",
        R"(RegQueryValueExW(h3, "Cleartype", NULL, &type, data, 4) = 2)",
        R"(RegCloseKey(h3) = 0)",
        "GetDlgItem 1019", "ShowWindow 1019 0",
        "GetDlgItem 1010", "ShowWindow 1010 0",
        "GetDlgItem 1011", "ShowWindow 1011 0",
        R"(RegOpenKeyExW(HKEY_LOCAL_MACHINE, "SOFTWARE\Microsoft\Windows\CurrentVersion\Internet Settings", 0, 0x20019) = 0 -> h4)",
        R"(RegQueryValueExW(h4, "ClearTypeText", NULL, &type, data, 4) = 2)",
        R"(RegCloseKey(h4) = 0)",
        "GetDlgItem 1020", "ShowWindow 1020 0",
        "GetDlgItem 1013", "ShowWindow 1013 0",
        "GetDlgItem 1014", "ShowWindow 1014 0",
        R"(RegOpenKeyExW(HKEY_LOCAL_MACHINE, "SYSTEM\GWE\Menu", 0, 0x20019) = 0 -> h5)",
        R"(RegQueryValueExW(h5, "Anitype", NULL, &type, data, 4) = 2)",
        R"(RegCloseKey(h5) = 0)",
        "GetDlgItem 1021", "ShowWindow 1021 0",
        "GetDlgItem 1022", "ShowWindow 1022 0",
        "GetDlgItem 1023", "ShowWindow 1023 0",
        R"(RegOpenKeyExW(HKEY_LOCAL_MACHINE, "Drivers\Display\mq120", 0, 0x20019) = 0 -> h6)",
        R"(RegQueryValueExW(h6, "Rotate", NULL, &type, data, 4) = 2)",
        R"(RegCloseKey(h6) = 0)",
        R"(RegOpenKeyExW(HKEY_LOCAL_MACHINE, "Drivers\Display\mq1100", 0, 0x20019) = 0 -> h7)",
        R"(RegQueryValueExW(h7, "Rotate", NULL, &type, data, 4) = 2)",
        R"(RegCloseKey(h7) = 0)",
        "GetDlgItem 1026", "ShowWindow 1026 0",
        "GetDlgItem 1025", "ShowWindow 1025 0",
        "GetDlgItem 1027", "ShowWindow 1027 0",
    };
    EXPECT_EQ(run.opening, expected);
    EXPECT_EQ(run.visible, (std::vector<int>{1015, 1004, 1006, 1012, 1016, 1017, 1007, 1024}));
    EXPECT_EQ(run.focus, IDC_SOFT_RESET);
}

TEST(DialogOpening, OnlyTheMq1100DriverKeepsTheOrientationRow)
{
    ScratchDevice device(kOnlyMq1100);
    DialogRun run = RunDialog({Key(host::kKeyEscape)});

    std::vector<std::string> drivers = Matching(run.opening, "Drivers");
    ASSERT_EQ(drivers.size(), 2u);
    EXPECT_EQ(drivers[0], R"(RegOpenKeyExW(HKEY_LOCAL_MACHINE, "Drivers\Display\mq120", 0, 0x20019) = 2)");
    EXPECT_EQ(drivers[1].rfind(R"(RegOpenKeyExW(HKEY_LOCAL_MACHINE, "Drivers\Display\mq1100", 0, 0x20019) = 0 -> )", 0), 0u);
    EXPECT_EQ(Matching(run.opening, "ShowWindow"),
              (std::vector<std::string>{"ShowWindow 1018 0", "ShowWindow 1008 0", "ShowWindow 1009 0",
                                        "ShowWindow 1019 0", "ShowWindow 1010 0", "ShowWindow 1011 0",
                                        "ShowWindow 1020 0", "ShowWindow 1013 0", "ShowWindow 1014 0",
                                        "ShowWindow 1021 0", "ShowWindow 1022 0", "ShowWindow 1023 0"}));
    EXPECT_EQ(run.visible, (std::vector<int>{1015, 1004, 1006, 1012, 1016, 1017, 1007, 1024, 1025,
                                             1026, 1027}));
}

TEST(DialogOpening, EverythingPresentHidesNothingAndCreatesNothing)
{
    ScratchDevice device(kEverything);
    DialogRun run = RunDialog({Key(host::kKeyEscape)});

    EXPECT_EQ(run.visible, kAllControls);
    EXPECT_TRUE(Matching(run.opening, "ShowWindow").empty());
    EXPECT_TRUE(Matching(run.opening, "RegCreateKeyExW").empty());
    EXPECT_TRUE(Matching(run.opening, "RegSetValueExW").empty());
    // With mq120 present, mq1100 is not asked.
    EXPECT_TRUE(Matching(run.opening, "mq1100").empty());
    EXPECT_EQ(run.focus, IDC_SOFT_RESET);
}

TEST(DialogOpening, FirstOpenCreatesTheOwnKeyButNoFlag)
{
    ScratchDevice device("");
    EXPECT_FALSE(device.KeyExists(kOwn));
    DialogRun run = RunDialog({Key(host::kKeyEscape)});
    EXPECT_TRUE(device.KeyExists(kOwn));
    EXPECT_FALSE(device.HasValue(kOwn, "align"));
    // An empty registry: every row but the display speed-up row is hidden.
    EXPECT_EQ(run.visible, (std::vector<int>{1015, 1004, 1006, 1012, 1016, 1017, 1007, 1024}));

    // Opening again changes nothing: the flag stays absent.
    RunDialog({Key(host::kKeyEscape)});
    EXPECT_TRUE(device.KeyExists(kOwn));
    EXPECT_FALSE(device.HasValue(kOwn, "align"));
}

// Every value starts at 0x77 so that each write shows, and nothing else
// may change.
const char kMarked[] = R"([HKEY_LOCAL_MACHINE\SYSTEM\GWE]
"Animate"=dword:00000077

[HKEY_LOCAL_MACHINE\SYSTEM\GWE\Menu]
"Anitype"=dword:00000077

[HKEY_LOCAL_MACHINE\SYSTEM\GDI\GLYPHCACHE]
"limit"=dword:00000077

[HKEY_CURRENT_USER\SOFTWARE\MICROSOFT\SHELL]
"Cleartype"=dword:00000077

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Internet Settings]
"ClearTypeText"=dword:00000077

[HKEY_LOCAL_MACHINE\Drivers\Display\mq120]
"Rotate"=dword:00000077

[HKEY_LOCAL_MACHINE\Drivers\Display\mq1100]
"Rotate"=dword:00000077

[HKEY_CURRENT_USER\Software\Zelkoran]
"align"=dword:00000077
)";

struct Place {
    const char* key;
    const char* name;
};
const Place kPlaces[] = {
    {kGwe, "Animate"},     {kMenu, "Anitype"},          {kGlyph, "limit"},
    {kShell, "Cleartype"}, {kBrowser, "ClearTypeText"}, {kMq120, "Rotate"},
    {kMq1100, "Rotate"},   {kOwn, "align"},
};

struct ButtonWrites {
    int id;
    std::vector<std::pair<Place, DWORD>> writes;
};

const ButtonWrites kButtonWrites[] = {
    {1016, {{{kGlyph, "limit"}, 4096}}},
    {1017, {{{kGlyph, "limit"}, 8192}}},
    {1007, {{{kGlyph, "limit"}, 16384}}},
    {1008, {{{kGwe, "Animate"}, 0}}},
    {1009, {{{kGwe, "Animate"}, 1}}},
    {1010, {{{kShell, "Cleartype"}, 0}}},
    {1011, {{{kShell, "Cleartype"}, 1}}},
    {1013, {{{kBrowser, "ClearTypeText"}, 0}}},
    {1014, {{{kBrowser, "ClearTypeText"}, 1}}},
    {1022, {{{kMenu, "Anitype"}, 0}}},
    {1023, {{{kMenu, "Anitype"}, 6}}},
    {1027, {{{kMq120, "Rotate"}, 0}, {{kMq1100, "Rotate"}, 0}, {{kOwn, "align"}, 1}}},
    {1025, {{{kMq120, "Rotate"}, 1}, {{kMq1100, "Rotate"}, 3}, {{kOwn, "align"}, 1}}},
};

TEST(DialogButtons, EachButtonWritesItsValuesAndNothingElse)
{
    for (const ButtonWrites& button : kButtonWrites) {
        SCOPED_TRACE("button " + std::to_string(button.id));
        ScratchDevice device(kMarked);
        std::vector<host::InputEvent> script = PressByTab(button.id);
        script.push_back(Key(host::kKeyEscape));
        DialogRun run = RunDialog(script);
        EXPECT_EQ(run.result, IDOK);
        EXPECT_EQ(run.flashes, 1);

        for (const Place& place : kPlaces) {
            DWORD expected = 0x77;
            for (const auto& write : button.writes)
                if (write.first.key == place.key && std::string(write.first.name) == place.name)
                    expected = write.second;
            EXPECT_EQ(device.Dword(place.key, place.name), expected) << place.key << " " << place.name;
        }
        // The writes in their order, each through a key of its own.
        std::vector<std::string> sets = Matching(run.calls, "RegSetValueExW");
        ASSERT_EQ(sets.size(), button.writes.size());
        for (size_t i = 0; i < sets.size(); ++i)
            EXPECT_NE(sets[i].find("\"" + std::string(button.writes[i].first.name) + "\""),
                      std::string::npos)
                << sets[i];
        EXPECT_EQ(Matching(run.calls, "RegOpenKeyExW").size(), button.writes.size());
        EXPECT_EQ(Matching(run.calls, "RegCloseKey").size(), button.writes.size());
    }
}

TEST(DialogButtons, RotateWithOnlyMq1100SkipsMq120AndRaisesTheFlag)
{
    ScratchDevice device(kOnlyMq1100);
    // Hidden rows take no tab stops: after the two large buttons and the
    // three display speed-up buttons comes "rotate".
    DialogRun run = RunDialog({Key(host::kKeyTab), Key(host::kKeyTab), Key(host::kKeyTab),
                               Key(host::kKeyTab), Key(host::kKeyTab), Key(host::kKeyEnter),
                               Key(host::kKeyEscape)});
    EXPECT_EQ(device.Dword(kMq1100, "Rotate"), 3u);
    EXPECT_FALSE(device.KeyExists(kMq120));
    EXPECT_EQ(device.Dword(kOwn, "align"), 1u);
    EXPECT_EQ(Matching(run.calls, "RegSetValueExW").size(), 2u);
}

TEST(DialogButtons, PressingTwiceWritesTwiceAndTheLastPressWins)
{
    ScratchDevice device(kMarked);
    std::vector<host::InputEvent> script = PressByTab(IDC_CT_IE_ON);
    script.push_back(Key(host::kKeyEnter));
    script.push_back(Key(host::kKeyBackTab));
    script.push_back(Key(host::kKeyEnter));  // "off*"
    DialogRun run = RunDialog(script);
    EXPECT_EQ(Matching(run.calls, "RegSetValueExW").size(), 3u);
    EXPECT_EQ(Matching(run.calls, "EndDialog"), (std::vector<std::string>{"EndDialog 1"}));
    EXPECT_EQ(run.calls.back(), "EndDialog 1") << "open until input closed";
    EXPECT_EQ(device.Dword(kBrowser, "ClearTypeText"), 0u);
}

// Every way out ends the dialog through OnOK: end code IDOK, once.
TEST(DialogEnding, CloseCaptionOkEscapeAndClosedInputAllEndWithOk)
{
    ScratchDevice device(kEverything);
    struct Way {
        const char* name;
        std::vector<host::InputEvent> script;
    };
    // On 80 x 24 the dialog is at (6, 5), 68 x 15: its caption bar is row 5
    // with OK at its right end; the large buttons are on rows 18 and 19.
    const Way ways[] = {
        {"c", {Key('c')}},
        {"Alt+C", {Key('C', true)}},
        {"Tab, Enter", {Key(host::kKeyTab), Key(host::kKeyEnter)}},
        {"Tab, Space", {Key(host::kKeyTab), Key(host::kKeySpace)}},
        {"click on close", {Click(50, 19)}},
        {"caption OK", {Click(71, 5)}},
        {"Esc", {Key(host::kKeyEscape)}},
        {"input closed", {}},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        DialogRun run = RunDialog(way.script);
        EXPECT_EQ(run.result, IDOK);
        EXPECT_EQ(run.calls, (std::vector<std::string>{"EndDialog 1"}));
        EXPECT_FALSE(device.Has("restart-requested"));
    }
}

TEST(DialogEnding, SoftResetAsksForTheRestartFirstThenEnds)
{
    const std::vector<std::vector<host::InputEvent>> ways = {
        {Key(host::kKeyEnter)},  // the focus starts there
        {Key('r')},
        {Key('R', true)},
        {Click(15, 18)},
    };
    for (const auto& script : ways) {
        SCOPED_TRACE("way " + std::to_string(&script - ways.data()));
        ScratchDevice device(kEverything);
        bool requestedBeforeEnd = false;
        INT_PTR result;
        {
            ScriptedTerminal terminal(script);
            host::WatchUserCalls([&](const std::string& call) {
                if (call.rfind("EndDialog", 0) == 0)
                    requestedBeforeEnd = device.Has("restart-requested");
            });
            CVelloriaDlg dialog;
            result = dialog.DoModal();
            host::WatchUserCalls(nullptr);
        }
        EXPECT_EQ(result, IDOK);
        // The host takes only the exact call: the code, no buffers, no count.
        EXPECT_TRUE(requestedBeforeEnd);
        EXPECT_EQ(device.Read("restart-requested"), "warm\n");
    }
}

TEST(DialogEnding, ARefusedRestartStillEnds)
{
    ScratchDevice device(kEverything);
    std::filesystem::create_directory(device.Root() / "restart-requested");  // can't be written
    DialogRun run = RunDialog({Key('r')});
    EXPECT_EQ(run.result, IDOK);
    EXPECT_EQ(run.calls, (std::vector<std::string>{"EndDialog 1"}));
}

TEST(Restart, TheHostTakesOnlyTheRebootCallAsDocumented)
{
    ScratchDevice device("");
    DWORD count = 0;
    BYTE buffer[4];
    SetLastError(0);
    EXPECT_FALSE(KernelIoControl(IOCTL_HAL_REBOOT + 4, NULL, 0, NULL, 0, NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SUPPORTED));
    EXPECT_FALSE(KernelIoControl(IOCTL_HAL_REBOOT, buffer, sizeof buffer, NULL, 0, NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(KernelIoControl(IOCTL_HAL_REBOOT, NULL, 0, buffer, sizeof buffer, NULL));
    EXPECT_FALSE(KernelIoControl(IOCTL_HAL_REBOOT, NULL, 0, NULL, 0, &count));
    EXPECT_FALSE(device.Has("restart-requested"));

    EXPECT_TRUE(KernelIoControl(IOCTL_HAL_REBOOT, NULL, 0, NULL, 0, NULL));
    EXPECT_EQ(device.Read("restart-requested"), "warm\n");
}

}  // namespace
