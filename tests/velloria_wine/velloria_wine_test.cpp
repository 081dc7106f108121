// Velloria.exe as desktop Windows runs it: started as its own process under
// Wine on an X display, its dialog found and read from outside, its buttons
// pressed, and Wine's registry read back after each press.
#include <windows.h>

#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "registry/helpers.h"
#include "wine/from_host.h"

namespace {

// Bounds on waiting for the program, so that a hung dialog fails the test
// instead of the run.
const DWORD kStartBound = 30000;
const DWORD kEndBound = 30000;

struct Place {
    HKEY hive;
    const WCHAR* key;
    const WCHAR* value;
    const char* name;
};

const Place kMq120 = {HKEY_LOCAL_MACHINE, L"Drivers\\Display\\mq120", L"Rotate", "mq120 Rotate"};
const Place kMq1100 = {HKEY_LOCAL_MACHINE, L"Drivers\\Display\\mq1100", L"Rotate", "mq1100 Rotate"};
const Place kGlyphLimit = {HKEY_LOCAL_MACHINE, L"SYSTEM\\GDI\\GLYPHCACHE", L"limit", "GLYPHCACHE limit"};
const Place kAnimate = {HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE", L"Animate", "GWE Animate"};
const Place kShellClearType = {HKEY_CURRENT_USER, L"SOFTWARE\\MICROSOFT\\SHELL", L"Cleartype",
                               "SHELL Cleartype"};
const Place kIeClearType = {HKEY_LOCAL_MACHINE,
                            L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                            L"ClearTypeText", "Internet Settings ClearTypeText"};
const Place kAnitype = {HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE\\Menu", L"Anitype", "GWE\\Menu Anitype"};
const Place kFlag = {HKEY_CURRENT_USER, L"Software\\Zelkoran", L"align", "Zelkoran align"};

// Everything the program may write. Menu comes after GWE: keys are removed
// from the end.
const Place* const kPlaces[] = {&kMq120, &kMq1100, &kGlyphLimit, &kAnimate,
                                &kShellClearType, &kIeClearType, &kAnitype, &kFlag};

// What a test may leave behind under these: removed again at its end.
const WCHAR* const kWorkKeys[] = {L"Drivers", L"SYSTEM\\GDI", L"SYSTEM\\GWE"};

using ::KeyExists;

bool KeyExists(const Place& place)
{
    return KeyExists(place.hive, place.key);
}

Stored Read(const Place& place)
{
    return ReadValue(place.hive, place.key, place.value);
}

void Write(const Place& place, const Stored& stored)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(place.hive, place.key, 0, NULL, 0, KEY_ALL_ACCESS,
                                             NULL, &key, NULL));
    if (stored.present)
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, place.value, 0, stored.type, stored.data.data(),
                                                DWORD(stored.data.size())));
    else
        RegDeleteValueW(key, place.value);
    RegCloseKey(key);
}

void SetDword(const Place& place, DWORD value)
{
    Write(place, Dword(value));
}

void RemoveValue(const Place& place)
{
    RegDeleteKeyValueW(place.hive, place.key, place.value);
}

void RemoveKey(HKEY hive, const WCHAR* path)
{
    RegDeleteTreeW(hive, path);
    RegDeleteKeyW(hive, path);
}

void RemoveKey(const Place& place)
{
    RemoveKey(place.hive, place.key);
}

std::string Describe(const Stored& stored)
{
    if (!stored.present)
        return "absent";
    std::string out = "type " + std::to_string(stored.type) + ", bytes";
    for (BYTE b : stored.data)
        out += " " + std::to_string(b);
    return out;
}

// The template's controls, in its order, with their texts.
struct Control {
    int id;
    const WCHAR* text;
};

const Control kControls[] = {
    {1015, L"Speed up display:"}, {1004, L"soft &reset"}, {1006, L"&close"},
    {1012, L"(*) system default"}, {1016, L"slow (save RAM)"}, {1017, L"fast"},
    {1007, L"reg*"}, {1008, L"fast*"}, {1009, L"slow"},
    {1010, L"off*"}, {1011, L"on"}, {1018, L"Animate windows:"},
    {1019, L"Cleartype [win]:"}, {1020, L"Cleartype [ie]:"}, {1013, L"off*"},
    {1014, L"on"}, {1021, L"Start Menu speed:"}, {1022, L"fast"},
    {1023, L"slow*"},
    {1024, L"You must click the reset button bellow for any changes to take in effect.  "
           L"Disable password protection if you rotate the display orientation."},
    {1025, L"rotate"}, {1026, L"Display orientation:"}, {1027, L"reg*"},
};

// Never hidden: the display speed-up row, the legend, the note and the two
// large buttons.
const std::set<int> kAlwaysShown = {1015, 1016, 1007, 1017, 1012, 1024, 1004, 1006};

const std::set<int> kOrientationRow = {1026, 1025, 1027};
const std::set<int> kAnimateRow = {1018, 1009, 1008};
const std::set<int> kShellClearTypeRow = {1019, 1010, 1011};
const std::set<int> kIeClearTypeRow = {1020, 1013, 1014};
const std::set<int> kMenuRow = {1021, 1023, 1022};

std::set<int> Joined(std::set<int> a, const std::set<int>& b)
{
    a.insert(b.begin(), b.end());
    return a;
}

std::set<int> AllControls()
{
    std::set<int> all;
    for (const Control& control : kControls)
        all.insert(control.id);
    return all;
}

// One run of Velloria.exe, from its start until its dialog ends or the test
// is over.
class Velloria {
public:
    Velloria()
    {
        started_ = StartFromHost(VELLORIA_EXE, process_);
        if (!started_) {
            ADD_FAILURE() << "Velloria.exe didn't start: error " << GetLastError();
            return;
        }
        WaitForInputIdle(process_.hProcess, kStartBound);
        // The dialog shows itself once OnInitDialog has returned, so a visible
        // dialog is one whose rows are already decided.
        ULONGLONG deadline = GetTickCount64() + kStartBound;
        while ((dialog_ = FindDialog()) == NULL || !IsWindowVisible(dialog_)) {
            if (WaitForSingleObject(process_.hProcess, 20) == WAIT_OBJECT_0) {
                ADD_FAILURE() << "Velloria.exe ended before its dialog showed";
                return;
            }
            if (GetTickCount64() > deadline) {
                ADD_FAILURE() << "no visible Velloria dialog after " << kStartBound << " ms";
                return;
            }
        }
    }

    ~Velloria()
    {
        if (!started_)
            return;
        if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) {
            TerminateProcess(process_.hProcess, 99);
            WaitForSingleObject(process_.hProcess, kEndBound);
        }
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }

    Velloria(const Velloria&) = delete;
    Velloria& operator=(const Velloria&) = delete;

    HWND Dialog() const { return dialog_; }
    DWORD ThreadId() const { return process_.dwThreadId; }

    HWND Item(int id) const { return GetDlgItem(dialog_, id); }

    std::set<int> Visible() const
    {
        std::set<int> visible;
        for (const Control& control : kControls)
            if (IsWindowVisible(Item(control.id)))
                visible.insert(control.id);
        return visible;
    }

    // A click on the button as the button itself takes it: its handler has
    // run when this returns.
    void Press(int id) const
    {
        HWND button = Item(id);
        ASSERT_NE(button, HWND(NULL)) << "no control " << id;
        DWORD_PTR result;
        ASSERT_TRUE(SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, kEndBound, &result))
            << "button " << id << " didn't take the click";
    }

    void Command(WORD id) const
    {
        DWORD_PTR result;
        ASSERT_TRUE(SendMessageTimeoutW(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0,
                                        SMTO_NORMAL, kEndBound, &result));
    }

    // The exit code once the process has ended; fails if it doesn't end.
    DWORD Ended() const
    {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(process_.hProcess, kEndBound) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "Velloria.exe still runs " << kEndBound << " ms after its dialog ended";
            return code;
        }
        GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

    bool Running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }

private:
    struct Search {
        DWORD processId;
        HWND found;
    };

    static BOOL CALLBACK Match(HWND window, LPARAM lParam)
    {
        Search* search = reinterpret_cast<Search*>(lParam);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != search->processId)
            return TRUE;
        WCHAR className[64];
        WCHAR title[64];
        if (GetClassNameW(window, className, 64) && lstrcmpW(className, L"#32770") == 0 &&
            GetWindowTextW(window, title, 64) && lstrcmpW(title, L"Velloria") == 0) {
            search->found = window;
            return FALSE;
        }
        return TRUE;
    }

    HWND FindDialog() const
    {
        Search search = {process_.dwProcessId, NULL};
        EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    bool started_ = false;
    PROCESS_INFORMATION process_ = {};
    HWND dialog_ = NULL;
};

// Each test starts from the registry it sets up and leaves Wine's as it found
// it: the catalogue's values and the program's key are put back.
class VelloriaUnderWine : public ::testing::Test {
protected:
    void SetUp() override
    {
        WCHAR display[256];
        ASSERT_NE(0u, GetEnvironmentVariableW(L"DISPLAY", display, 256))
            << "no X display: run the win32 tests under xvfb-run";
        for (const WCHAR* key : kWorkKeys)
            workKeyExisted_.push_back(KeyExists(HKEY_LOCAL_MACHINE, key));
        for (const Place* place : kPlaces) {
            keyExisted_.push_back(KeyExists(*place));
            saved_.push_back(Read(*place));
        }
    }

    void TearDown() override
    {
        for (size_t i = 0; i < saved_.size(); ++i) {
            const Place& place = *kPlaces[i];
            if (keyExisted_[i])
                Write(place, saved_[i]);
        }
        for (size_t i = saved_.size(); i-- > 0;)
            if (!keyExisted_[i])
                RemoveKey(*kPlaces[i]);
        for (size_t i = 0; i < workKeyExisted_.size(); ++i)
            if (!workKeyExisted_[i])
                RemoveKey(HKEY_LOCAL_MACHINE, kWorkKeys[i]);
    }

    // A device with every setting: each value holds a number no button
    // writes, so that every write shows.
    static void EverySetting()
    {
        for (const Place* place : kPlaces)
            SetDword(*place, kUntouched);
    }

    // A device with none of the probed values: some of their keys exist
    // without them, the others are missing, and so is the glyph cache's key.
    static void NoSetting()
    {
        RemoveKey(kMq120);
        RemoveKey(kMq1100);
        RemoveKey(kAnitype);
        SetDword(kAnimate, kUntouched);
        RemoveValue(kAnimate);
        SetDword(kShellClearType, kUntouched);
        RemoveValue(kShellClearType);
        SetDword(kIeClearType, kUntouched);
        RemoveValue(kIeClearType);
        RemoveKey(kGlyphLimit);
        RemoveKey(kFlag);
    }

    // Every place as `expected` says: a number for a value written, kAbsent
    // for a value that isn't there, kNoKey for a key that doesn't exist.
    static void ExpectRegistry(const std::vector<DWORD>& expected, const std::string& after)
    {
        for (size_t i = 0; i < expected.size(); ++i) {
            const Place& place = *kPlaces[i];
            Stored stored = Read(place);
            if (expected[i] == kNoKey) {
                EXPECT_FALSE(KeyExists(place)) << place.name << "'s key was created, after " << after;
            } else if (expected[i] == kAbsent) {
                EXPECT_TRUE(KeyExists(place)) << place.name << "'s key is gone, after " << after;
                EXPECT_FALSE(stored.present) << place.name << " is " << Describe(stored) << ", after " << after;
            } else {
                EXPECT_EQ(Describe(Dword(expected[i])), Describe(stored)) << place.name << ", after " << after;
            }
        }
    }

    static constexpr DWORD kUntouched = 0x55AA;
    static constexpr DWORD kAbsent = 0xFFFFFFFE;
    static constexpr DWORD kNoKey = 0xFFFFFFFF;

private:
    std::vector<bool> workKeyExisted_;
    std::vector<bool> keyExisted_;
    std::vector<Stored> saved_;
};

// Which rows the dialog shows.

TEST_F(VelloriaUnderWine, EverySetting_ShowsAllTwentyThreeControlsWithTheirTexts)
{
    EverySetting();
    Velloria velloria;
    ASSERT_NE(velloria.Dialog(), HWND(NULL));
    EXPECT_EQ(AllControls(), velloria.Visible());
    for (const Control& control : kControls) {
        WCHAR text[256] = L"";
        GetWindowTextW(velloria.Item(control.id), text, 256);
        EXPECT_EQ(std::wstring(control.text), text) << "control " << control.id;
    }
}

TEST_F(VelloriaUnderWine, NoProbedValue_ShowsOnlySpeedUpLegendNoteAndLargeButtons)
{
    NoSetting();
    Velloria velloria;
    ASSERT_NE(velloria.Dialog(), HWND(NULL));
    EXPECT_EQ(kAlwaysShown, velloria.Visible());
    // A hidden row leaves its gap: nothing moved up into it.
    RECT legend;
    ASSERT_TRUE(GetWindowRect(velloria.Item(1012), &legend));
    RECT speedUp;
    ASSERT_TRUE(GetWindowRect(velloria.Item(1017), &speedUp));
    EXPECT_GT(legend.top - speedUp.bottom, (speedUp.bottom - speedUp.top) * 3);
}

struct OneSetting {
    const Place* place;
    const std::set<int>* row;
    const char* name;
};

void PrintTo(const OneSetting& setting, std::ostream* out)
{
    *out << setting.name;
}

class OneSettingOnly : public VelloriaUnderWine,
                       public ::testing::WithParamInterface<OneSetting> {};

TEST_P(OneSettingOnly, ShowsItsRowBesideTheAlwaysShown)
{
    NoSetting();
    SetDword(*GetParam().place, kUntouched);
    Velloria velloria;
    ASSERT_NE(velloria.Dialog(), HWND(NULL));
    EXPECT_EQ(Joined(kAlwaysShown, *GetParam().row), velloria.Visible());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OneSettingOnly,
    ::testing::Values(OneSetting{&kMq120, &kOrientationRow, "mq120"},
                      OneSetting{&kMq1100, &kOrientationRow, "mq1100"},
                      OneSetting{&kAnimate, &kAnimateRow, "Animate"},
                      OneSetting{&kShellClearType, &kShellClearTypeRow, "ShellCleartype"},
                      OneSetting{&kIeClearType, &kIeClearTypeRow, "IeClearTypeText"},
                      OneSetting{&kAnitype, &kMenuRow, "Anitype"}),
    [](const ::testing::TestParamInfo<OneSetting>& info) { return std::string(info.param.name); });

// What each press writes.

struct Press {
    int id;
    // In the order of kPlaces: mq120, mq1100, limit, Animate, Cleartype,
    // ClearTypeText, Anitype, align.
    std::vector<DWORD> written;
};

const DWORD U = 0x55AA;

const Press kPresses[] = {
    {1016, {U, U, 4096, U, U, U, U, U}},
    {1007, {U, U, 16384, U, U, U, U, U}},
    {1017, {U, U, 8192, U, U, U, U, U}},
    {1009, {U, U, U, 1, U, U, U, U}},
    {1008, {U, U, U, 0, U, U, U, U}},
    {1010, {U, U, U, U, 0, U, U, U}},
    {1011, {U, U, U, U, 1, U, U, U}},
    {1013, {U, U, U, U, U, 0, U, U}},
    {1014, {U, U, U, U, U, 1, U, U}},
    {1023, {U, U, U, U, U, U, 6, U}},
    {1022, {U, U, U, U, U, U, 0, U}},
    {1027, {0, 0, U, U, U, U, U, 1}},
    {1025, {1, 3, U, U, U, U, U, 1}},
};

TEST_F(VelloriaUnderWine, EveryButton_WritesItsValuesAtOnceAndChangesNothingOnScreen)
{
    ASSERT_EQ(kUntouched, U);
    EverySetting();
    Velloria velloria;
    ASSERT_NE(velloria.Dialog(), HWND(NULL));
    for (const Press& press : kPresses) {
        EverySetting();
        velloria.Press(press.id);
        ExpectRegistry(press.written, "pressing " + std::to_string(press.id));
        EXPECT_TRUE(velloria.Running()) << "after pressing " << press.id;
        EXPECT_EQ(AllControls(), velloria.Visible()) << "after pressing " << press.id;
    }
}

TEST_F(VelloriaUnderWine, SameButtonTwice_WritesTwice)
{
    EverySetting();
    Velloria velloria;
    ASSERT_NE(velloria.Dialog(), HWND(NULL));
    velloria.Press(1025);
    ExpectRegistry({1, 3, U, U, U, U, U, 1}, "the first press");
    SetDword(kMq120, U);
    SetDword(kMq1100, U);
    SetDword(kFlag, 0);
    velloria.Press(1025);
    ExpectRegistry({1, 3, U, U, U, U, U, 1}, "the second press");
}

TEST_F(VelloriaUnderWine, LastPressWins)
{
    EverySetting();
    Velloria velloria;
    ASSERT_NE(velloria.Dialog(), HWND(NULL));
    velloria.Press(1014);
    velloria.Press(1013);
    ExpectRegistry({U, U, U, U, U, 0, U, U}, "on, then off*");
}

// With none of the probed values, every button is still pressed, the hidden
// ones as if their action ran anyway: a missing key is never created, a key
// without the value gets it, and the orientation buttons raise the flag.
TEST_F(VelloriaUnderWine, NoProbedValue_MissingKeysStayMissing)
{
    NoSetting();
    Velloria velloria;
    ASSERT_NE(velloria.Dialog(), HWND(NULL));
    const DWORD N = kNoKey;
    const DWORD A = kAbsent;
    const Press presses[] = {
        {1016, {N, N, N, A, A, A, N, A}},
        {1007, {N, N, N, A, A, A, N, A}},
        {1017, {N, N, N, A, A, A, N, A}},
        {1009, {N, N, N, 1, A, A, N, A}},
        {1008, {N, N, N, 0, A, A, N, A}},
        {1010, {N, N, N, 0, 0, A, N, A}},
        {1011, {N, N, N, 0, 1, A, N, A}},
        {1013, {N, N, N, 0, 1, 0, N, A}},
        {1014, {N, N, N, 0, 1, 1, N, A}},
        {1023, {N, N, N, 0, 1, 1, N, A}},
        {1022, {N, N, N, 0, 1, 1, N, A}},
        {1027, {N, N, N, 0, 1, 1, N, 1}},
    };
    for (const Press& press : presses) {
        velloria.Press(press.id);
        ExpectRegistry(press.written, "pressing " + std::to_string(press.id));
    }
    SetDword(kFlag, 0);
    velloria.Press(1025);
    ExpectRegistry({N, N, N, 0, 1, 1, N, 1}, "pressing 1025");
    EXPECT_EQ(kAlwaysShown, velloria.Visible());
}

TEST_F(VelloriaUnderWine, OnlyMq1100_OrientationButtonsSkipMq120)
{
    NoSetting();
    SetDword(kMq1100, U);
    Velloria velloria;
    ASSERT_NE(velloria.Dialog(), HWND(NULL));
    velloria.Press(1025);
    ExpectRegistry({kNoKey, 3, kNoKey, kAbsent, kAbsent, kAbsent, kNoKey, 1}, "pressing rotate");
    SetDword(kFlag, 0);
    velloria.Press(1027);
    ExpectRegistry({kNoKey, 0, kNoKey, kAbsent, kAbsent, kAbsent, kNoKey, 1}, "pressing reg*");
}

// The program's own key.

TEST_F(VelloriaUnderWine, FirstOpen_CreatesTheKeyWithoutTheFlag)
{
    NoSetting();
    ASSERT_FALSE(KeyExists(kFlag));
    Velloria velloria;
    ASSERT_NE(velloria.Dialog(), HWND(NULL));
    EXPECT_TRUE(KeyExists(kFlag));
    EXPECT_EQ("absent", Describe(Read(kFlag)));
    velloria.Press(1006);
    EXPECT_EQ(0u, velloria.Ended());
    EXPECT_TRUE(KeyExists(kFlag));
    EXPECT_EQ("absent", Describe(Read(kFlag)));
}

TEST_F(VelloriaUnderWine, OpeningAndClosing_LeavesAFlagAsItWas)
{
    EverySetting();
    SetDword(kFlag, 0);
    Velloria velloria;
    ASSERT_NE(velloria.Dialog(), HWND(NULL));
    velloria.Press(1006);
    EXPECT_EQ(0u, velloria.Ended());
    ExpectRegistry({U, U, U, U, U, U, U, 0}, "opening and closing");
}

// Every way out ends the program, with exit code 0, and writes nothing.

struct WayOut {
    const char* name;
    const char* after;
    void (*take)(const Velloria& velloria);
};

void PrintTo(const WayOut& way, std::ostream* out)
{
    *out << way.name;
}

const WayOut kWaysOut[] = {
    {"Close", "close", [](const Velloria& velloria) { velloria.Press(1006); }},
    {"CaptionOk", "the caption's OK", [](const Velloria& velloria) { velloria.Command(IDOK); }},
    {"Cancel", "a cancel", [](const Velloria& velloria) { velloria.Command(IDCANCEL); }},
    // The desktop's own way out: the close box of the caption.
    {"CloseBox", "the close box",
     [](const Velloria& velloria) {
         ASSERT_TRUE(PostMessageW(velloria.Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0));
     }},
    // Desktop Windows refuses the restart, so the dialog just ends.
    {"SoftReset", "soft reset", [](const Velloria& velloria) { velloria.Press(1004); }},
    // The keyboard, through the dialog's own loop: the focus starts on "soft
    // &reset", and Escape is a cancel.
    {"FocusStartsOnSoftResetAndEscape", "Escape",
     [](const Velloria& velloria) {
         GUITHREADINFO gui = {};
         gui.cbSize = sizeof gui;
         ASSERT_TRUE(GetGUIThreadInfo(velloria.ThreadId(), &gui));
         EXPECT_EQ(velloria.Item(1004), gui.hwndFocus);
         ASSERT_TRUE(PostMessageW(gui.hwndFocus, WM_KEYDOWN, VK_ESCAPE, 1));
     }},
};

class EveryWayOut : public VelloriaUnderWine, public ::testing::WithParamInterface<WayOut> {};

TEST_P(EveryWayOut, EndsTheProgram)
{
    EverySetting();
    Velloria velloria;
    ASSERT_NE(velloria.Dialog(), HWND(NULL));
    ASSERT_NO_FATAL_FAILURE(GetParam().take(velloria));
    EXPECT_EQ(0u, velloria.Ended());
    EXPECT_FALSE(IsWindow(velloria.Dialog()));
    ExpectRegistry({U, U, U, U, U, U, U, U}, GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(
    WaysOut, EveryWayOut, ::testing::ValuesIn(kWaysOut),
    [](const ::testing::TestParamInfo<WayOut>& info) { return std::string(info.param.name); });

}  // namespace
