// What the two programs must honour, typed once for every suite and every
// target: where each setting lives, what each button writes, the dialog's
// controls and rows, the ways out of it, and the launcher's flag and page.
// A suite that needs one of these takes it from here; a case that fails
// after a change here fails on every target that runs it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace facts {

// One registry value the programs probe or write, as they spell it.
struct Place {
    HKEY hive;
    const WCHAR* key;
    const WCHAR* value;
    const char* name;  // for messages
};

inline const Place kMq120 = {HKEY_LOCAL_MACHINE, L"Drivers\\Display\\mq120", L"Rotate", "mq120 Rotate"};
inline const Place kMq1100 = {HKEY_LOCAL_MACHINE, L"Drivers\\Display\\mq1100", L"Rotate", "mq1100 Rotate"};
inline const Place kGlyph = {HKEY_LOCAL_MACHINE, L"SYSTEM\\GDI\\GLYPHCACHE", L"limit", "GLYPHCACHE limit"};
inline const Place kAnimate = {HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE", L"Animate", "GWE Animate"};
inline const Place kShell = {HKEY_CURRENT_USER, L"SOFTWARE\\MICROSOFT\\SHELL", L"Cleartype", "SHELL Cleartype"};
inline const Place kBrowser = {HKEY_LOCAL_MACHINE,
                               L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                               L"ClearTypeText", "Internet Settings ClearTypeText"};
inline const Place kMenu = {HKEY_LOCAL_MACHINE, L"SYSTEM\\GWE\\Menu", L"Anitype", "GWE\\Menu Anitype"};

// The recalibration flag: probed, opened and written as kFlag spells its
// key, created as kFlagKeyCreated spells it (the same key).
inline const Place kFlag = {HKEY_CURRENT_USER, L"SOFTWARE\\Zelkoran", L"align", "Zelkoran align"};
inline const WCHAR kFlagKeyCreated[] = L"Software\\Zelkoran";
// The maker's name: the launcher's CompanyName, the cabinet's provider.
inline const char kMaker[] = "Zelkoran";
constexpr DWORD kFlagSet = 1;
constexpr DWORD kFlagCleared = 0;

// What every open asks for, as on the handheld, which does not enforce it;
// desktop Windows alone asks for the right to set as well.
constexpr REGSAM kOpenAccess = KEY_READ;  // 0x20019

// Every place; tables of expected values follow this order.
inline const Place* const kPlaces[] = {&kMq120, &kMq1100, &kGlyph, &kAnimate,
                                       &kShell, &kBrowser, &kMenu, &kFlag};

// One registry write of a button.
struct Write {
    const Place* at;
    DWORD value;
};

struct Button {
    WORD id;                    // its caption is its control's text (kControls)
    std::vector<Write> writes;  // in the order they are made
};

// Every settings button, row by row from the top.
inline const std::vector<Button> kButtons = {
    {1027, {{&kMq120, 0}, {&kMq1100, 0}, {&kFlag, kFlagSet}}},  // reg*
    {1025, {{&kMq120, 1}, {&kMq1100, 3}, {&kFlag, kFlagSet}}},  // rotate
    {1016, {{&kGlyph, 4096}}},  // slow (save RAM)
    {1007, {{&kGlyph, 16384}}},  // reg*
    {1017, {{&kGlyph, 8192}}},  // fast
    {1009, {{&kAnimate, 1}}},  // slow
    {1008, {{&kAnimate, 0}}},  // fast*
    {1010, {{&kShell, 0}}},  // off*
    {1011, {{&kShell, 1}}},  // on
    {1013, {{&kBrowser, 0}}},  // off*
    {1014, {{&kBrowser, 1}}},  // on
    {1023, {{&kMenu, 6}}},  // slow*
    {1022, {{&kMenu, 0}}},  // fast
};

inline const Button* FindButton(WORD id)
{
    for (const Button& button : kButtons)
        if (button.id == id)
            return &button;
    return nullptr;
}

// The two large buttons.
constexpr WORD kSoftReset = 1004;
constexpr WORD kClose = 1006;

// The rows whose probes can hide them, in the order the dialog probes them,
// with the controls it hides, in the order it hides them.
struct Row {
    WORD label;
    std::vector<const Place*> probes;  // tried in order
    std::vector<int> hides;
};

inline const std::vector<Row> kProbedRows = {
    {1018, {&kAnimate}, {1018, 1008, 1009}},
    {1019, {&kShell}, {1019, 1010, 1011}},
    {1020, {&kBrowser}, {1020, 1013, 1014}},
    {1021, {&kMenu}, {1021, 1022, 1023}},
    {1026, {&kMq120, &kMq1100}, {1026, 1025, 1027}},
};

// The dialog template.
constexpr WORD kDialogId = 102;
constexpr DWORD kDialogStyle = 0x90C80240;
constexpr DWORD kDialogExStyle = 0x80040000;
constexpr short kDialogWidth = 455;
constexpr short kDialogHeight = 158;
inline const WCHAR kDialogCaption[] = L"Velloria";
constexpr WORD kDialogPoints = 8;
inline const WCHAR kDialogFace[] = L"System";
constexpr DWORD kButtonStyle = 0x50010000;
constexpr DWORD kStaticStyle = 0x50020000;

struct Control {
    int id;
    bool button;
    const WCHAR* text;
    short x, y, cx, cy;
};

// In template order, which is also the tab order.
inline const std::vector<Control> kControls = {
    {1015, false, L"Speed up display:", 2, 22, 64, 10},
    {1004, true, L"soft &reset", 2, 136, 64, 22},
    {1006, true, L"&close", 66, 136, 68, 22},
    {1012, false, L"(*) system default", 2, 98, 64, 9},
    {1016, true, L"slow (save RAM)", 66, 22, 66, 10},
    {1017, true, L"fast", 66, 43, 66, 11},
    {1007, true, L"reg*", 66, 32, 66, 11},
    {1008, true, L"fast*", 103, 54, 29, 11},
    {1009, true, L"slow", 65, 54, 29, 11},
    {1010, true, L"off*", 66, 65, 28, 11},
    {1011, true, L"on", 103, 65, 29, 11},
    {1018, false, L"Animate windows:", 2, 54, 60, 11},
    {1019, false, L"Cleartype [win]:", 2, 65, 60, 11},
    {1020, false, L"Cleartype [ie]:", 2, 76, 60, 11},
    {1013, true, L"off*", 66, 76, 28, 11},
    {1014, true, L"on", 103, 76, 29, 11},
    {1021, false, L"Start Menu speed:", 2, 87, 60, 11},
    {1022, true, L"fast", 103, 87, 29, 11},
    {1023, true, L"slow*", 66, 87, 28, 11},
    {1024, false,
     L"You must click the reset button bellow for any changes to take in effect.  "
     L"Disable password protection if you rotate the display orientation.",
     2, 105, 130, 31},
    {1025, true, L"rotate", 103, 9, 29, 13},
    {1026, false, L"Display orientation:", 2, 9, 64, 13},
    {1027, true, L"reg*", 66, 9, 28, 13},
};

// What a place holds on a device as it ships: what the button whose caption
// ends in "*" writes there; the flag cleared.
inline DWORD ShippedValue(const Place& place)
{
    if (&place == &kFlag)
        return kFlagCleared;
    for (const Control& control : kControls)
        if (control.button && std::wstring(control.text).back() == L'*')
            for (const Write& write : FindButton(WORD(control.id))->writes)
                if (write.at == &place)
                    return write.value;
    return 0;
}

// The controls shown when these rows are hidden, in template order (all of
// them when none is).
inline std::vector<int> ShownWithout(const std::vector<const Row*>& hidden)
{
    std::vector<int> shown;
    for (const Control& control : kControls) {
        bool hide = false;
        for (const Row* row : hidden)
            for (int id : row->hides)
                hide = hide || id == control.id;
        if (!hide)
            shown.push_back(control.id);
    }
    return shown;
}

// The ways out of the dialog. Each ends it through OnOK with kEndCode and
// writes nothing; soft reset asks for the restart first.
enum class WayOut { Close, CaptionOk, Cancel, SoftReset };

struct Way {
    WayOut way;
    const char* name;
};

inline const Way kWaysOut[] = {
    {WayOut::Close, "close"},
    {WayOut::CaptionOk, "the caption's OK"},
    {WayOut::Cancel, "a cancel"},
    {WayOut::SoftReset, "soft reset"},
};
constexpr INT_PTR kEndCode = IDOK;

// What a driver sees of the dialog's end; nullopt where it can't see it.
struct Ending {
    bool ended = false;
    std::optional<INT_PTR> code;
    std::optional<bool> restartFirst;
    // The program stopped at the restart call, which doesn't return where
    // the device restarts: its dialog ended with it, with no end code.
    bool stoppedAtRestart = false;
};

// The restart: the one kernel call soft reset makes.
constexpr DWORD kRebootCode = 0x0101003C;

// The launcher: the control panel's alignment page it starts when the flag
// is set, and that page as the control panel's record shows it.
inline const WCHAR kControlPanel[] = L"\\Windows\\ctlpnl.exe";
inline const WCHAR kAlignmentPage[] = L"cplmain.cpl,7";
inline const std::vector<std::string> kOneAlignment = {
    std::string(kAlignmentPage, kAlignmentPage + sizeof kAlignmentPage / sizeof *kAlignmentPage - 1)};

}  // namespace facts
